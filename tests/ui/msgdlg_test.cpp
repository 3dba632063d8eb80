// The error dialog on its own thread, driven with SendMessageW from this thread as the job monitor
// drives it.
#include "catalogue_table.h"
#include "dialog_thread.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

const std::wstring kCancel = L"취소";
const std::wstring kYes = L"예";

struct ButtonState
{
    bool visible;
    bool enabled;
    std::wstring caption;

    bool operator==(const ButtonState&) const = default;
};

std::ostream& operator<<(std::ostream& os, const ButtonState& b)
{
    os << (b.visible ? "visible" : "hidden") << ", " << (b.enabled ? "enabled" : "disabled")
       << ", caption of " << b.caption.size() << " characters";
    return os;
}

// Visible is the button's own WS_VISIBLE: a hidden dialog hides its controls with it.
ButtonState StateOf(HWND button)
{
    return {(GetWindowLongW(button, GWL_STYLE) & WS_VISIBLE) != 0, IsWindowEnabled(button) != FALSE,
            WindowText(button)};
}

bool IsTopmost(HWND hWnd)
{
    return (GetWindowLongW(hWnd, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
}

// True when a comes before b in the z-order of top-level windows.
bool IsAbove(HWND a, HWND b)
{
    for (HWND w = GetWindow(a, GW_HWNDNEXT); w; w = GetWindow(w, GW_HWNDNEXT))
    {
        if (w == b)
            return true;
    }
    return false;
}

// A plain visible top-level window of this thread, laid over the dialog, to watch the z-order.
class OtherWindow
{
public:
    explicit OtherWindow(HWND over)
    {
        RECT rc{};
        GetWindowRect(over, &rc);
        m_hWnd = CreateWindowExW(0, L"STATIC", L"other", WS_POPUP | WS_VISIBLE | WS_BORDER,
                                 rc.left + 20, rc.top + 20, 200, 100, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    }
    ~OtherWindow()
    {
        if (m_hWnd)
            DestroyWindow(m_hWnd);
    }
    OtherWindow(const OtherWindow&) = delete;
    OtherWindow& operator=(const OtherWindow&) = delete;

    HWND Get() const { return m_hWnd; }
    void ToTop() const { SetWindowPos(m_hWnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE); }

private:
    HWND m_hWnd = nullptr;
};

class MsgDlgTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_NE(dialog.Dlg(), nullptr) << "the dialog thread did not create its dialog";
    }

    DialogThread dialog;
};

// --- The thread and the hidden dialog it creates ----------------------------------------------

TEST_F(MsgDlgTest, ThreadCreatesTheHiddenDialogFromItsTemplate)
{
    HWND dlg = dialog.Dlg();
    EXPECT_TRUE(ThreadRunning(dialog.Thread()->m_hThread));
    EXPECT_EQ(dialog.Thread()->m_pMainWnd, dialog.Thread()->GetMsgDlg());
    EXPECT_EQ(GetWindowThreadProcessId(dlg, nullptr), dialog.Thread()->m_nThreadID);
    EXPECT_FALSE(dialog.Visible());
    EXPECT_EQ(WindowText(dlg), L"오류");
    // A top-level window of its own, not owned by any other window.
    EXPECT_EQ(GetParent(dlg), nullptr);
    EXPECT_EQ(GetWindow(dlg, GW_OWNER), nullptr);
    EXPECT_EQ(GetWindowLongW(dlg, GWL_STYLE) & WS_SYSMENU, 0);
    EXPECT_FALSE(IsTopmost(dlg));

    EXPECT_EQ(dialog.MessageText(), L"Static");
    EXPECT_EQ(StateOf(dialog.Button()), (ButtonState{true, true, kCancel}));
    HWND ok = GetDlgItem(dlg, IDOK);
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(GetWindowLongW(ok, GWL_STYLE) & WS_VISIBLE, 0);
    EXPECT_FALSE(IsWindowEnabled(ok));
    EXPECT_FALSE(dialog.EventSet());

    // Icon 130, the one handle as big and small icon.
    auto big = reinterpret_cast<HICON>(SendMessageW(dlg, WM_GETICON, ICON_BIG, 0));
    auto small = reinterpret_cast<HICON>(SendMessageW(dlg, WM_GETICON, ICON_SMALL, 0));
    EXPECT_NE(big, nullptr);
    EXPECT_EQ(big, small);
    EXPECT_EQ(big, LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_MSGDLG)));
}

TEST_F(MsgDlgTest, DialogSitsTenPixelsLeftOfAndAboveTheScreenCentre)
{
    RECT rc{};
    ASSERT_TRUE(GetWindowRect(dialog.Dlg(), &rc));
    const int w = rc.right - rc.left;
    const int h = rc.bottom - rc.top;
    EXPECT_EQ(rc.left, (GetSystemMetrics(SM_CXSCREEN) - w) / 2 - 10);
    EXPECT_EQ(rc.top, (GetSystemMetrics(SM_CYSCREEN) - h) / 2 - 10);
    // Showing never moves it.
    ASSERT_EQ(dialog.Show(2009, 6699, 1), 1);
    RECT shown{};
    GetWindowRect(dialog.Dlg(), &shown);
    EXPECT_TRUE(EqualRect(&rc, &shown));
}

TEST_F(MsgDlgTest, QuitBeforeAnyStatusDestroysTheHiddenDialog)
{
    HWND dlg = dialog.Dlg();
    ASSERT_TRUE(dialog.Quit());
    EXPECT_EQ(dialog.ExitCode(), 0u);
    EXPECT_FALSE(IsWindow(dlg));
    EXPECT_EQ(dialog.Thread()->m_pMsgDlg, nullptr);
    EXPECT_EQ(WaitForSingleObject(dialog.Event(), 0), DWORD(WAIT_TIMEOUT)); // open, untouched
}

TEST_F(MsgDlgTest, QuitWhileVisibleDestroysTheDialogAndLeavesTheEventOpen)
{
    HWND dlg = dialog.Dlg();
    ASSERT_EQ(dialog.Show(2003, 0, 1), 1);
    ASSERT_TRUE(dialog.Visible());
    ASSERT_TRUE(dialog.Quit());
    EXPECT_EQ(dialog.ExitCode(), 0u);
    EXPECT_FALSE(IsWindow(dlg));
    EXPECT_EQ(dialog.Thread()->m_pMsgDlg, nullptr);
    // The event is the job monitor's: still open, and as it was.
    EXPECT_EQ(WaitForSingleObject(dialog.Event(), 0), DWORD(WAIT_TIMEOUT));
    EXPECT_TRUE(SetEvent(dialog.Event()));
}

TEST_F(MsgDlgTest, QuitAfterAPressLeavesTheEventSetAndOpen)
{
    HWND dlg = dialog.Dlg();
    ASSERT_EQ(dialog.Show(2003, 0, 1), 1);
    SendMessageW(dialog.Button(), BM_CLICK, 0, 0);
    ASSERT_TRUE(dialog.EventSet());
    ASSERT_TRUE(dialog.Quit());
    EXPECT_EQ(dialog.ExitCode(), 0u);
    EXPECT_FALSE(IsWindow(dlg));
    EXPECT_EQ(WaitForSingleObject(dialog.Event(), 0), DWORD(WAIT_OBJECT_0));
}

// --- Texts -----------------------------------------------------------------------------------

TEST_F(MsgDlgTest, FirstStatusShowsTheFormattedTextAndTheButton)
{
    ASSERT_EQ(dialog.Show(2009, 6699, 2), 1);
    EXPECT_TRUE(dialog.Visible());
    EXPECT_EQ(dialog.MessageText(), L"용지 걸림(001A2B).\n용지를 다시 정렬하십시오.");
    EXPECT_EQ(StateOf(dialog.Button()), (ButtonState{true, true, kYes}));
    EXPECT_FALSE(IsTopmost(dialog.Dlg()));
}

TEST_F(MsgDlgTest, EveryDisplayedCodeShowsItsCatalogueText)
{
    for (LONG code = 2001; code <= 2023; ++code)
    {
        if (!IsDisplayedCode(code))
            continue;
        SCOPED_TRACE(code);
        ASSERT_EQ(dialog.Show(code, 6699, 1), 1);
        EXPECT_TRUE(dialog.Visible());
        const std::wstring text = dialog.MessageText();
        EXPECT_FALSE(text.empty());
        EXPECT_EQ(text, CatalogueTextWith(code, L"001A2B"));
    }
}

TEST_F(MsgDlgTest, DetailPrintsAsUpperCaseHexOfAtLeastSixDigits)
{
    struct Case
    {
        LONG detail;
        const wchar_t* digits;
    };
    const Case cases[] = {
        {0, L"000000"},          {6699, L"001A2B"}, {0xABCDEF, L"ABCDEF"},
        {0x1234567, L"1234567"}, {-1, L"FFFFFFFF"}, // 4294967295 as the printer sends it
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.detail);
        ASSERT_EQ(dialog.Show(2014, c.detail, 1), 1);
        EXPECT_EQ(dialog.MessageText(), CatalogueTextWith(2014, c.digits));
    }
}

TEST_F(MsgDlgTest, CodesOutsideTheKnownRangeShowTheGeneralPrinterError)
{
    MessageCounter counter(dialog);
    ASSERT_TRUE(counter.Installed());
    for (LONG code : {1999, 2027, 100000, -5})
    {
        SCOPED_TRACE(code);
        ASSERT_EQ(dialog.Show(2001, 7, 1), 1); // some other text first
        ASSERT_EQ(dialog.Show(code, 7, 1), 1);
        EXPECT_TRUE(dialog.Visible());
        EXPECT_EQ(dialog.MessageText(), CatalogueText(2023));

        // 2023 itself with the same detail is the same status: nothing is set again.
        MessageCounter::Reset();
        EXPECT_EQ(dialog.Show(2023, 7, 1), 1);
        EXPECT_EQ(MessageCounter::Handled(), 1);
        EXPECT_EQ(MessageCounter::Get().textSetText, 0);
        EXPECT_EQ(MessageCounter::Get().posChanging, 0);
    }
}

// --- Hiding and showing again ----------------------------------------------------------------

TEST_F(MsgDlgTest, HidingCodesHideTheDialogAndAnswerZero)
{
    MessageCounter counter(dialog);
    ASSERT_TRUE(counter.Installed());
    for (LONG code : {2000, 2019, 2024, 2025, 2026})
    {
        SCOPED_TRACE(code);
        ASSERT_EQ(dialog.Show(2017, 1, 1), 1);
        ASSERT_TRUE(dialog.Visible());
        EXPECT_EQ(dialog.Show(code, 1, 1), 0);
        EXPECT_FALSE(dialog.Visible());
        // Its text stays: 2019 has a catalogue text, but is never shown.
        EXPECT_EQ(dialog.MessageText(), CatalogueText(2017));
        // Hidden already: stays hidden.
        EXPECT_EQ(dialog.Show(code, 1, 1), 0);
        EXPECT_FALSE(dialog.Visible());

        // The last status was kept: showing it again sets neither text nor button.
        MessageCounter::Reset();
        EXPECT_EQ(dialog.Show(2017, 1, 1), 1);
        EXPECT_TRUE(dialog.Visible());
        EXPECT_EQ(MessageCounter::Get().textSetText, 0);
        EXPECT_EQ(MessageCounter::Get().buttonSetText, 0);
    }
}

TEST_F(MsgDlgTest, UnchangedStatusWhileVisibleAnswersOneWithoutRedrawOrRestacking)
{
    MessageCounter counter(dialog);
    ASSERT_TRUE(counter.Installed());
    ASSERT_EQ(dialog.Show(2005, 42, 1), 1);
    OtherWindow other(dialog.Dlg());
    ASSERT_NE(other.Get(), nullptr);
    other.ToTop();
    ASSERT_TRUE(IsAbove(other.Get(), dialog.Dlg()));

    // Something to paint, so that an UpdateWindow would show.
    InvalidateRect(dialog.Dlg(), nullptr, TRUE);
    MessageCounter::Reset();
    EXPECT_EQ(dialog.Show(2005, 42, 1), 1);
    EXPECT_EQ(MessageCounter::Handled(), 1);
    EXPECT_EQ(MessageCounter::Get().paint, 0);
    EXPECT_EQ(MessageCounter::Get().posChanging, 0);
    EXPECT_EQ(MessageCounter::Get().textSetText, 0);
    EXPECT_EQ(MessageCounter::Get().buttonSetText, 0);
    EXPECT_TRUE(IsAbove(other.Get(), dialog.Dlg()));
    EXPECT_TRUE(dialog.Visible());
}

TEST_F(MsgDlgTest, ChangedStatusBringsTheDialogToTheFrontWithoutStayingTopmost)
{
    ASSERT_EQ(dialog.Show(2005, 42, 1), 1);
    OtherWindow other(dialog.Dlg());
    ASSERT_NE(other.Get(), nullptr);

    MessageCounter counter(dialog);
    ASSERT_TRUE(counter.Installed());
    struct Change
    {
        const char* what;
        LONG code, detail, button;
        int textSets;
    };
    const Change changes[] = {
        {"code", 2006, 42, 1, 1},
        {"detail alone, text without placeholder", 2006, 43, 1, 1},
        {"button type alone", 2006, 43, 2, 0},
    };
    for (const auto& c : changes)
    {
        SCOPED_TRACE(c.what);
        other.ToTop();
        ASSERT_TRUE(IsAbove(other.Get(), dialog.Dlg()));
        MessageCounter::Reset();
        EXPECT_EQ(dialog.Show(c.code, c.detail, c.button), 1);
        EXPECT_EQ(MessageCounter::Get().textSetText, c.textSets);
        EXPECT_GE(MessageCounter::Get().posChanging, 2); // topmost, then not topmost
        EXPECT_TRUE(IsAbove(dialog.Dlg(), other.Get()));
        EXPECT_FALSE(IsTopmost(dialog.Dlg()));
        EXPECT_EQ(dialog.MessageText(), CatalogueText(2006));
    }
}

TEST_F(MsgDlgTest, SameStatusAfterAHideShowsAgainWithoutSettingTextOrButton)
{
    struct Hider
    {
        const char* what;
        void (*hide)(const DialogThread&);
    };
    const Hider hiders[] = {
        {"WM_MSGDLG_HIDE", [](const DialogThread& d) { EXPECT_EQ(d.Hide(), 0); }},
        {"IDOK", [](const DialogThread& d) { SendMessageW(d.Dlg(), WM_COMMAND, IDOK, 0); }},
    };
    ASSERT_EQ(dialog.Show(2009, 6699, 2), 1);
    OtherWindow other(dialog.Dlg());
    ASSERT_NE(other.Get(), nullptr);
    MessageCounter counter(dialog);
    ASSERT_TRUE(counter.Installed());
    for (const auto& h : hiders)
    {
        SCOPED_TRACE(h.what);
        h.hide(dialog);
        EXPECT_FALSE(dialog.Visible());
        EXPECT_FALSE(dialog.EventSet()); // not a press
        other.ToTop();

        MessageCounter::Reset();
        EXPECT_EQ(dialog.Show(2009, 6699, 2), 1);
        EXPECT_TRUE(dialog.Visible());
        EXPECT_EQ(MessageCounter::Get().textSetText, 0);
        EXPECT_EQ(MessageCounter::Get().buttonSetText, 0);
        EXPECT_GE(MessageCounter::Get().paint, 1); // UpdateWindow
        EXPECT_GE(MessageCounter::Get().posChanging, 2);
        EXPECT_TRUE(IsAbove(dialog.Dlg(), other.Get()));
        EXPECT_FALSE(IsTopmost(dialog.Dlg()));
        EXPECT_EQ(dialog.MessageText(), CatalogueTextWith(2009, L"001A2B"));
        EXPECT_EQ(StateOf(dialog.Button()), (ButtonState{true, true, kYes}));
    }
}

// --- The button --------------------------------------------------------------------------------

TEST_F(MsgDlgTest, ButtonTypesChooseVisibilityAndCaption)
{
    struct Step
    {
        LONG type;
        ButtonState expected;
    };
    // In order on one dialog: type 0 leaves the caption of the step before.
    const Step steps[] = {
        {1, {true, true, kCancel}}, {2, {true, true, kYes}},    {0, {false, false, kYes}},
        {3, {true, true, L""}},     {1, {true, true, kCancel}}, {0, {false, false, kCancel}},
        {-1, {true, true, L""}},    {2, {true, true, kYes}},
    };
    for (const auto& s : steps)
    {
        SCOPED_TRACE(s.type);
        ASSERT_EQ(dialog.Show(2010, 0, s.type), 1);
        EXPECT_EQ(StateOf(dialog.Button()), s.expected);
        if (s.expected.visible)
        {
            // The button is the dialog's focused control.
            GUITHREADINFO info{};
            info.cbSize = sizeof info;
            ASSERT_TRUE(GetGUIThreadInfo(dialog.Thread()->m_nThreadID, &info));
            EXPECT_EQ(info.hwndFocus, dialog.Button());
        }
    }
}

TEST_F(MsgDlgTest, FirstStatusWithButtonTypeMinusOneKeepsTheTemplateButton)
{
    ASSERT_EQ(dialog.Show(2010, 0, -1), 1);
    EXPECT_EQ(StateOf(dialog.Button()), (ButtonState{true, true, kCancel}));
}

// --- A press of the button -------------------------------------------------------------------

TEST_F(MsgDlgTest, APressIsRememberedUntilReset)
{
    ASSERT_EQ(dialog.Show(2009, 6699, 3), 1); // empty caption: still the cancel button
    SendMessageW(dialog.Button(), BM_CLICK, 0, 0);
    EXPECT_FALSE(dialog.Visible());
    EXPECT_TRUE(dialog.EventSet());

    // Refused, whatever the status, and the dialog stays hidden.
    EXPECT_EQ(dialog.Show(2009, 6699, 3), 0);
    EXPECT_EQ(dialog.Show(2012, 1, 1), 0);
    EXPECT_EQ(dialog.Show(-5, 1, 1), 0);
    EXPECT_FALSE(dialog.Visible());
    EXPECT_EQ(dialog.MessageText(), CatalogueTextWith(2009, L"001A2B"));

    // A hide does not forget the press.
    EXPECT_EQ(dialog.Hide(), 0);
    EXPECT_EQ(dialog.Show(2012, 1, 1), 0);
    EXPECT_FALSE(dialog.Visible());

    // The reset alone shows nothing; the next showing status does.
    EXPECT_EQ(dialog.ResetCancel(), 0);
    EXPECT_FALSE(dialog.Visible());
    EXPECT_EQ(dialog.Show(2012, 1, 1), 1);
    EXPECT_TRUE(dialog.Visible());
    EXPECT_EQ(dialog.MessageText(), CatalogueTextWith(2012, L"000001"));

    // The dialog never resets the event: that is the job monitor's.
    EXPECT_TRUE(dialog.EventSet());
}

TEST_F(MsgDlgTest, EscapeAndEnterPressTheButton)
{
    for (WPARAM key : {VK_ESCAPE, VK_RETURN})
    {
        SCOPED_TRACE(key);
        ResetEvent(dialog.Event());
        dialog.ResetCancel();
        ASSERT_EQ(dialog.Show(2003, 0, 2), 1);
        // Keys go through the thread's message loop and the dialog's keyboard handling.
        PostMessageW(dialog.Button(), WM_KEYDOWN, key, 1);
        PostMessageW(dialog.Button(), WM_KEYUP, key, 0xC0000001);
        EXPECT_EQ(WaitForSingleObject(dialog.Event(), 20000), DWORD(WAIT_OBJECT_0));
        EXPECT_FALSE(dialog.Visible());
        EXPECT_EQ(dialog.Show(2003, 0, 2), 0); // remembered as a press
        EXPECT_TRUE(IsWindow(dialog.Dlg()));   // never ended by a command
    }
}

TEST_F(MsgDlgTest, OkCommandOnlyHides)
{
    ASSERT_EQ(dialog.Show(2003, 0, 1), 1);
    SendMessageW(dialog.Dlg(), WM_COMMAND, IDOK, 0);
    EXPECT_FALSE(dialog.Visible());
    EXPECT_FALSE(dialog.EventSet());
    EXPECT_TRUE(IsWindow(dialog.Dlg()));
    EXPECT_EQ(dialog.Show(2003, 0, 1), 1);
}

TEST_F(MsgDlgTest, NullStatusPointerIsRefused)
{
    EXPECT_EQ(SendMessageW(dialog.Dlg(), WM_MSGDLG_SHOW, 0, 0), 0);
    EXPECT_FALSE(dialog.Visible());
    EXPECT_EQ(dialog.MessageText(), L"Static");
}

} // namespace
