// The job monitor with a real dialog thread against the simulated printer: what it sends the
// dialog for each status, how a press of the dialog's button reaches the printer, and how the
// monitor ends.
//
// The messages are watched from inside this process only: the dialog class's window procedure is
// replaced by one that, on the dialog thread and while the dialog is being created, puts a
// recording procedure in front of the framework's own. Each recorded message carries the number
// of status requests the printer had seen for the job when it arrived, which is the poll it
// belongs to. Polls are driven through the simulator: a change of the printer's values is made
// while the status reads fail, so every message recorded after the change comes from a poll that
// read the new values.
#include "JobMonitor.h"
#include "MsgDlg.h"
#include "quenlo_sim.h"
#include "wait_for.h"

#include <gtest/gtest.h>

#include <afxwin.h>
#include <winspool.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

bool operator==(const JobStatus& a, const JobStatus& b)
{
    return a.ErrorCode == b.ErrorCode && a.ErrorCodeDetail == b.ErrorCodeDetail &&
           a.ShowButtonType == b.ShowButtonType && a.ButtonResetSW == b.ButtonResetSW;
}

void PrintTo(const JobStatus& s, std::ostream* os)
{
    *os << "{" << s.ErrorCode << ", " << s.ErrorCodeDetail << ", " << s.ShowButtonType << ", "
        << s.ButtonResetSW << "}";
}

namespace
{

constexpr WCHAR kDriver[] = L"ORLUME 470 Photo Printer";
using qtest::kDeadlineMs;

using qtest::WaitFor;

// --- Watching the dialog ---------------------------------------------------------------------

// One private message as the dialog handled it.
struct SentMessage
{
    UINT nMsg;
    JobStatus status; // WM_MSGDLG_SHOW: the record it carried
    LRESULT lResult;
    DWORD dwPoll; // status requests for the job when the message arrived
};

// "show:1", "hide", "reset": one message the way the expectations below write it.
std::string Token(const SentMessage& m)
{
    switch (m.nMsg)
    {
    case WM_MSGDLG_SHOW:
        return "show:" + std::to_string(m.lResult);
    case WM_MSGDLG_HIDE:
        return "hide";
    case WM_MSGDLG_RESETCANCEL:
        return "reset";
    default:
        return "?";
    }
}

// Records the private messages that every dialog created in this process receives.
class DialogSpy
{
public:
    // Replaces the dialog class's window procedure; dialogs created afterwards are watched.
    static bool Install()
    {
        static const bool s_bInstalled = []
        {
            HWND hWnd = CreateWindowExW(0, L"#32770", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                        GetModuleHandleW(nullptr), nullptr);
            if (!hWnd)
                return false;
            s_pfnClassPrev = reinterpret_cast<WNDPROC>(
                SetClassLongPtrW(hWnd, GCLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ClassProc)));
            DestroyWindow(hWnd);
            return s_pfnClassPrev != nullptr;
        }();
        return s_bInstalled;
    }

    // Starts a new record for the job's dialogs.
    static void Begin(DWORD dwJobId)
    {
        std::lock_guard lock(s_mutex);
        s_log.clear();
        s_dialogs.clear();
        s_afterShow = nullptr;
        s_dwJobId = dwJobId;
        s_hHoldRelease = nullptr;
        s_hHeld = nullptr;
        s_bQuitWhileHeld = false;
        s_bFailCreation = false;
    }

    static size_t Size()
    {
        std::lock_guard lock(s_mutex);
        return s_log.size();
    }

    static std::vector<SentMessage> Since(size_t mark)
    {
        std::lock_guard lock(s_mutex);
        return {s_log.begin() + static_cast<std::ptrdiff_t>(std::min(mark, s_log.size())),
                s_log.end()};
    }

    static std::vector<HWND> Dialogs()
    {
        std::lock_guard lock(s_mutex);
        return s_dialogs;
    }

    // Runs once on the dialog thread, right after the dialog accepted a status.
    static void AfterFirstAcceptedShow(std::function<void(HWND)> action)
    {
        std::lock_guard lock(s_mutex);
        s_afterShow = std::move(action);
    }

    // The next dialog stops in WM_INITDIALOG (its object not yet handed out): hHeld is set, and
    // the dialog thread stays there until hRelease is set.
    static void HoldNextDialog(HANDLE hHeld, HANDLE hRelease)
    {
        std::lock_guard lock(s_mutex);
        s_hHeld = hHeld;
        s_hHoldRelease = hRelease;
    }

    // The next dialog's window cannot be created: its WM_NCCREATE fails.
    static void FailNextDialog() { s_bFailCreation = true; }

    // While held, a quit message was posted to the dialog thread.
    static bool QuitSeenWhileHeld() { return s_bQuitWhileHeld; }

private:
    static constexpr WCHAR kNextProcProp[] = L"JobMonitorTest.NextProc";

    // The dialog class's procedure: reached through the framework's default handling, first
    // while the window is being created, on the dialog's own thread.
    static LRESULT CALLBACK ClassProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam)
    {
        if (!GetPropW(hWnd, kNextProcProp))
        {
            const auto pfnCurrent = GetWindowLongPtrW(hWnd, GWLP_WNDPROC);
            if (pfnCurrent != reinterpret_cast<LONG_PTR>(&RecordingProc) &&
                SetPropW(hWnd, kNextProcProp, reinterpret_cast<HANDLE>(pfnCurrent)))
            {
                SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&RecordingProc));
                std::lock_guard lock(s_mutex);
                s_dialogs.push_back(hWnd);
            }
        }
        if (nMsg == WM_NCCREATE && s_bFailCreation.exchange(false))
            return FALSE;
        if (nMsg == WM_INITDIALOG)
            HoldIfAsked();
        return CallWindowProcW(s_pfnClassPrev, hWnd, nMsg, wParam, lParam);
    }

    static void HoldIfAsked()
    {
        HANDLE hHeld = nullptr;
        HANDLE hRelease = nullptr;
        {
            std::lock_guard lock(s_mutex);
            std::swap(hHeld, s_hHeld);
            std::swap(hRelease, s_hHoldRelease);
        }
        if (!hRelease)
            return;
        SetEvent(hHeld);
        while (WaitForSingleObject(hRelease, 10) == WAIT_TIMEOUT)
        {
            MSG msg;
            if (PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE))
                s_bQuitWhileHeld = true;
        }
    }

    // In front of the framework's procedure for the whole life of the dialog.
    static LRESULT CALLBACK RecordingProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam)
    {
        const auto pfnNext =
            reinterpret_cast<WNDPROC>(reinterpret_cast<LONG_PTR>(GetPropW(hWnd, kNextProcProp)));
        if (!pfnNext)
            return DefDlgProcW(hWnd, nMsg, wParam, lParam);
        JobStatus status{};
        if (nMsg == WM_MSGDLG_SHOW && wParam != 0)
            status = *reinterpret_cast<const JobStatus*>(wParam);

        const LRESULT lResult = CallWindowProcW(pfnNext, hWnd, nMsg, wParam, lParam);

        if (nMsg >= WM_MSGDLG_SHOW && nMsg <= WM_MSGDLG_RESETCANCEL)
        {
            std::function<void(HWND)> action;
            {
                std::lock_guard lock(s_mutex);
                s_log.push_back(
                    {nMsg, status, lResult, SimCountEvents(SIM_EV_STATUS_REQUEST, s_dwJobId)});
                if (nMsg == WM_MSGDLG_SHOW && lResult != 0)
                    std::swap(action, s_afterShow);
            }
            if (action)
                action(hWnd);
        }
        if (nMsg == WM_NCDESTROY)
            RemovePropW(hWnd, kNextProcProp);
        return lResult;
    }

    static inline WNDPROC s_pfnClassPrev = nullptr;
    static inline std::mutex s_mutex;
    static inline std::vector<SentMessage> s_log;
    static inline std::vector<HWND> s_dialogs;
    static inline std::function<void(HWND)> s_afterShow;
    static inline DWORD s_dwJobId = 0;
    static inline HANDLE s_hHeld = nullptr;
    static inline HANDLE s_hHoldRelease = nullptr;
    static inline std::atomic<bool> s_bQuitWhileHeld{false};
    static inline std::atomic<bool> s_bFailCreation{false};
};

// --- The fixture -----------------------------------------------------------------------------

// Where a change of the printer's values begins: every message recorded after `mark` comes from
// a poll that read the new values, and every poll after `dwHeld` did.
struct ChangePoint
{
    size_t mark;
    DWORD dwHeld;
};

// What the monitor sends in one poll, as tokens joined by commas ("" for nothing).
std::string Joined(const std::vector<SentMessage>& messages)
{
    std::string text;
    for (const SentMessage& m : messages)
    {
        if (!text.empty())
            text += ',';
        text += Token(m);
    }
    return text;
}

// Every test has its own simulator session, printer, job id and stop event, and one job monitor
// started by StartJobMonitor. Afterwards the monitor has ended, its dialog is gone and everything
// the printer handed out came back.
class JobMonitorTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(DialogSpy::Install());
        static int s_nTest = 0;
        const int n = ++s_nTest;
        const std::wstring session = L"job-monitor-" + std::to_wstring(n);
        m_printer = L"Photo Printer " + std::to_wstring(n);
        m_dwJobId = 7300 + static_cast<DWORD>(n) * 10;
        ASSERT_TRUE(SimAttach(session.c_str()));
        SimReset();
        ASSERT_TRUE(SimAddDriver(kDriver));
        ASSERT_TRUE(SimAddPrinter(m_printer.c_str(), kDriver));
        ASSERT_TRUE(SimAddJob(m_printer.c_str(), m_dwJobId, JOB_STATUS_PRINTING, nullptr));
        ASSERT_TRUE(SimSetJobValues(m_dwJobId, 2000, 0, 0, FALSE));
        DialogSpy::Begin(m_dwJobId);
        m_hStopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        ASSERT_NE(m_hStopEvent, nullptr);
    }

    void TearDown() override
    {
        if (m_hRelease)
            SetEvent(m_hRelease);
        if (m_pMonitor)
        {
            SetEvent(m_hStopEvent);
            if (WaitForSingleObject(m_pMonitor->m_hThread, kDeadlineMs) == WAIT_OBJECT_0)
                delete m_pMonitor;
            else
                ADD_FAILURE() << "the job monitor did not end"; // its object stays: still in use
            m_pMonitor = nullptr;
        }
        for (HWND hDlg : DialogSpy::Dialogs())
            EXPECT_FALSE(IsWindow(hDlg)) << "a dialog window was left behind";
        DialogSpy::Begin(0);
        if (m_hStopEvent)
            CloseHandle(m_hStopEvent);
        for (HANDLE h : {m_hHeld, m_hRelease})
        {
            if (h)
                CloseHandle(h);
        }
        SimClearFaults();
        SimAccounting a{};
        SimGetAccounting(&a);
        EXPECT_TRUE(SimIsBalanced()) << AccountingText(a);
    }

    static std::string AccountingText(const SimAccounting& a)
    {
        std::string text;
        for (DWORD res = 0; res < SIM_RES_COUNT; ++res)
        {
            text += std::to_string(res) + ": " + std::to_string(a.lObtained[res]) + "/" +
                    std::to_string(a.lReleased[res]) + "  ";
        }
        return text;
    }

    // Starts the monitor and waits until its dialog is being created.
    void Start()
    {
        m_pMonitor = StartJobMonitor(m_dwJobId, m_printer.c_str(), m_hStopEvent);
        ASSERT_NE(m_pMonitor, nullptr);
        ASSERT_TRUE(WaitFor([] { return !DialogSpy::Dialogs().empty(); }));
    }

    // Waits until the monitor thread has ended by itself.
    bool MonitorEnds() const
    {
        return WaitForSingleObject(m_pMonitor->m_hThread, kDeadlineMs) == WAIT_OBJECT_0;
    }

    DWORD Requests() const { return SimCountEvents(SIM_EV_STATUS_REQUEST, m_dwJobId); }
    DWORD Clicks(DWORD dwJobId) const { return SimCountEvents(SIM_EV_CLICK, dwJobId); }
    bool WaitRequests(DWORD dwCount) const
    {
        return WaitFor([&] { return Requests() >= dwCount; });
    }

    HWND Dialog() const
    {
        const std::vector<HWND> dialogs = DialogSpy::Dialogs();
        return dialogs.empty() ? nullptr : dialogs.back();
    }
    bool Visible() const { return IsWindowVisible(Dialog()) != FALSE; }

    // The user presses the dialog's button.
    void Press() const { SendMessageW(GetDlgItem(Dialog(), IDCANCEL), BM_CLICK, 0, 0); }

    bool SetValues(const JobStatus& s) const
    {
        return SimSetJobValues(m_dwJobId, s.ErrorCode, s.ErrorCodeDetail, s.ShowButtonType,
                               s.ButtonResetSW);
    }

    // The printer's values before the monitor starts: its first poll reads them.
    [[nodiscard]] bool SetFirstValues(const JobStatus& s, ChangePoint* pAt) const
    {
        *pAt = {DialogSpy::Size(), Requests()};
        return SetValues(s);
    }

    // Changes the printer's values while the monitor polls. Status reads fail while the values
    // change, so no poll reads a mix of old and new.
    [[nodiscard]] bool ChangeValues(const JobStatus& s, ChangePoint* pAt) const
    {
        if (!SimSetFault(SIM_GET_RESULT, static_cast<DWORD>(E_FAIL), 0, 0, m_printer.c_str()))
            return false;
        // A poll that began after the fault fails; everything sent before it is recorded.
        if (!WaitRequests(Requests() + 1))
            return false;
        if (!SetValues(s))
            return false;
        const size_t mark = DialogSpy::Size();
        SimClearFaults();
        *pAt = {mark, Requests()};
        return true;
    }

    // Waits for two whole polls after the change and checks what they sent: `first` in the first
    // poll that read the new values, `then` in each poll after it. SHOW carries the values.
    void ExpectPolls(const ChangePoint& at, const JobStatus& s, const std::string& first,
                     const std::string& then) const
    {
        const DWORD dwLast = at.dwHeld + 2;
        ASSERT_TRUE(WaitRequests(dwLast + 1)) << "the monitor stopped polling";
        std::map<DWORD, std::vector<SentMessage>> polls;
        for (const SentMessage& m : DialogSpy::Since(at.mark))
        {
            if (m.nMsg == WM_MSGDLG_SHOW)
            {
                EXPECT_EQ(m.status, s) << "poll " << m.dwPoll;
            }
            if (m.dwPoll <= dwLast)
                polls[m.dwPoll].push_back(m);
        }
        if (first.empty())
        {
            ASSERT_TRUE(then.empty()) << "a poll that sends nothing changes nothing";
            for (const auto& [dwPoll, messages] : polls)
                ADD_FAILURE() << "poll " << dwPoll << " sent " << Joined(messages);
            return;
        }
        ASSERT_FALSE(polls.empty()) << "nothing sent; expected " << first;
        const DWORD dwFirst = polls.begin()->first;
        EXPECT_LE(dwFirst, at.dwHeld + 1) << "a poll that read the new values sent nothing";
        EXPECT_EQ(Joined(polls.begin()->second), first) << "first poll " << dwFirst;
        for (DWORD dwPoll = dwFirst + 1; dwPoll <= dwLast; ++dwPoll)
        {
            const auto it = polls.find(dwPoll);
            EXPECT_EQ(it == polls.end() ? "" : Joined(it->second), then) << "poll " << dwPoll;
        }
    }

    std::wstring m_printer;
    DWORD m_dwJobId = 0;
    HANDLE m_hStopEvent = nullptr;
    CWinThread* m_pMonitor = nullptr;
    HANDLE m_hHeld = nullptr;
    HANDLE m_hRelease = nullptr;
    std::atomic<bool> m_bPressedInShow{false};
};

// --- What each status sends ------------------------------------------------------------------

// One printer status, what the first poll that reads it sends, what each later poll sends, and
// whether the dialog is visible afterwards.
struct Step
{
    JobStatus status;
    const char* first;
    const char* then;
    bool visible;
};

struct DecisionCase
{
    const char* name;
    std::vector<Step> steps;
};

const std::vector<DecisionCase>& DecisionCases()
{
    static const std::vector<DecisionCase> cases = {
        {"UnchangedStatusShowsOnce", {{{2005, 0x10, 1, 0}, "show:1", "", true}}},
        {"DetailAloneShowsAgain",
         {{{2005, 0x10, 1, 0}, "show:1", "", true}, {{2005, 0x11, 1, 0}, "show:1", "", true}}},
        {"ButtonTypeAloneShowsAgain",
         {{{2005, 0x10, 1, 0}, "show:1", "", true}, {{2005, 0x10, 2, 0}, "show:1", "", true}}},
        {"ResetFlagAloneIsNoChange",
         {{{2005, 0x10, 1, 0}, "show:1", "", true}, {{2005, 0x10, 1, 1}, "reset", "reset", true}}},
        {"NoErrorHidesOnlyAVisibleDialog",
         {{{2000, 0, 0, 0}, "", "", false},
          {{2005, 0x10, 1, 0}, "show:1", "", true},
          {{2000, 0x10, 1, 0}, "hide", "", false}}},
        {"ErrorAfterNoErrorShowsAgain",
         {{{2005, 0x10, 1, 0}, "show:1", "", true},
          {{2000, 0, 0, 0}, "hide", "", false},
          {{2005, 0x10, 1, 0}, "show:1", "", true}}},
        {"KeptCodesLeaveAHiddenDialog",
         {{{2028, 0x10, 1, 0}, "", "", false}, {{2029, 0x10, 1, 0}, "", "", false}}},
        {"KeptCodesLeaveAVisibleDialog",
         {{{2005, 0x10, 1, 0}, "show:1", "", true},
          {{2028, 0x20, 2, 0}, "", "", true},
          {{2029, 0x30, 0, 0}, "", "", true}}},
        {"DeclinedShowGoesOutEveryPoll", {{{2019, 0x10, 1, 0}, "show:0", "show:0", false}}},
        {"CodeZeroGoesToTheDialog", {{{0, 0, 1, 0}, "show:1", "", true}}},
        {"ResetComesBeforeTheCode",
         {{{2005, 0x10, 1, 1}, "reset,show:1", "reset", true},
          {{2000, 0x10, 1, 1}, "reset,hide", "reset", false}}},
    };
    return cases;
}

void PrintTo(const DecisionCase& c, std::ostream* os)
{
    *os << c.name;
}

class JobMonitorDecisionTest : public JobMonitorTest,
                               public ::testing::WithParamInterface<DecisionCase>
{
};

TEST_P(JobMonitorDecisionTest, SendsOnlyWhatCanChangeTheDialog)
{
    const std::vector<Step>& steps = GetParam().steps;
    ChangePoint at{};
    ASSERT_TRUE(SetFirstValues(steps[0].status, &at));
    Start();
    for (size_t i = 0; i < steps.size(); ++i)
    {
        SCOPED_TRACE("step " + std::to_string(i));
        const Step& step = steps[i];
        if (i > 0)
        {
            ASSERT_TRUE(ChangeValues(step.status, &at));
        }
        ExpectPolls(at, step.status, step.first, step.then);
        EXPECT_EQ(Visible(), step.visible);
    }
    EXPECT_EQ(Clicks(0), 0u);
}

INSTANTIATE_TEST_SUITE_P(Cases, JobMonitorDecisionTest, ::testing::ValuesIn(DecisionCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// --- The dialog's button ---------------------------------------------------------------------

TEST_F(JobMonitorTest, PressReachesThePrinterAndHoldsTheDialogUntilTheResetFlag)
{
    const DWORD dwOtherJob = m_dwJobId + 1;
    ASSERT_TRUE(SimAddJob(m_printer.c_str(), dwOtherJob, JOB_STATUS_PRINTING, nullptr));
    const JobStatus error = {2005, 0x10, 1, 0};
    ChangePoint at{};
    ASSERT_TRUE(SetFirstValues(error, &at));
    Start();
    ExpectPolls(at, error, "show:1", "");
    ASSERT_TRUE(Visible());

    at.mark = DialogSpy::Size();
    Press();
    EXPECT_FALSE(Visible());
    ASSERT_TRUE(WaitFor([&] { return Clicks(m_dwJobId) > 0; }));
    at.dwHeld = Requests();
    // Every poll while the error lasts asks again, and the dialog declines.
    ExpectPolls(at, error, "show:0", "show:0");
    EXPECT_FALSE(Visible());

    const JobStatus reset = {2005, 0x10, 1, 1};
    ASSERT_TRUE(ChangeValues(reset, &at));
    ExpectPolls(at, reset, "reset,show:1", "reset");
    EXPECT_TRUE(Visible());

    // One notice, for this job and printer, never sent again by itself.
    EXPECT_EQ(Clicks(m_dwJobId), 1u);
    EXPECT_EQ(Clicks(dwOtherJob), 0u);
    EXPECT_EQ(Clicks(0), 1u);
    for (DWORD i = 0, count = SimGetEventCount(); i < count; ++i)
    {
        SimEvent ev{};
        if (SimGetEvent(i, &ev) && ev.dwKind == SIM_EV_CLICK)
        {
            EXPECT_EQ(std::wstring(ev.szPrinter), m_printer);
        }
    }
}

TEST_F(JobMonitorTest, PressThePrinterRefusesBringsTheDialogBack)
{
    const JobStatus error = {2005, 0x10, 1, 0};
    ChangePoint at{};
    ASSERT_TRUE(SetFirstValues(error, &at));
    Start();
    ExpectPolls(at, error, "show:1", "");

    // Nothing reaches the printer now: status reads fail as well, so they send nothing.
    ASSERT_TRUE(SimSetFault(SIM_SEND_RECV, static_cast<DWORD>(E_FAIL), 0, 0, m_printer.c_str()));
    const size_t mark = DialogSpy::Size();
    Press();
    ASSERT_TRUE(WaitFor([&] { return !DialogSpy::Since(mark).empty(); }));
    EXPECT_EQ(Joined(DialogSpy::Since(mark)), "reset");
    EXPECT_FALSE(Visible());
    EXPECT_EQ(Clicks(0), 0u);

    at = {DialogSpy::Size(), Requests()};
    SimClearFaults();
    ExpectPolls(at, error, "show:1", "");
    EXPECT_TRUE(Visible());
    EXPECT_EQ(Clicks(0), 0u) << "the refused notice was sent again";

    // The user can press again.
    Press();
    EXPECT_TRUE(WaitFor([&] { return Clicks(m_dwJobId) == 1; }));
}

TEST_F(JobMonitorTest, StopWithAPressEndsTheMonitorWithoutANotice)
{
    const JobStatus error = {2005, 0x10, 1, 0};
    ChangePoint at{};
    ASSERT_TRUE(SetFirstValues(error, &at));
    const HANDLE hStop = m_hStopEvent;
    // While the monitor waits for the first show to return, both events get set.
    DialogSpy::AfterFirstAcceptedShow(
        [this, hStop](HWND hDlg)
        {
            SetEvent(hStop);
            SendMessageW(GetDlgItem(hDlg, IDCANCEL), BM_CLICK, 0, 0);
            m_bPressedInShow = !IsWindowVisible(hDlg);
        });
    Start();

    ASSERT_TRUE(MonitorEnds());
    EXPECT_TRUE(m_bPressedInShow) << "the press did not happen";
    EXPECT_EQ(Clicks(0), 0u);
    EXPECT_EQ(Requests(), 1u) << "the monitor polled after the stop";
    EXPECT_EQ(Joined(DialogSpy::Since(0)), "show:1");
}

// --- Failures --------------------------------------------------------------------------------

TEST_F(JobMonitorTest, FailedStatusReadSendsNothing)
{
    // The reset flag makes every good poll send something.
    const JobStatus error = {2005, 0x10, 1, 1};
    ChangePoint at{};
    ASSERT_TRUE(SetFirstValues(error, &at));
    Start();
    ExpectPolls(at, error, "reset,show:1", "reset");

    ASSERT_TRUE(SimSetFault(SIM_RESULT_VALUE, static_cast<DWORD>(E_FAIL), 0, 0, m_printer.c_str()));
    ASSERT_TRUE(WaitRequests(Requests() + 1));
    const size_t mark = DialogSpy::Size();
    const JobStatus noError = {2000, 0, 0, 0};
    ASSERT_TRUE(SetValues(noError));
    ASSERT_TRUE(WaitRequests(Requests() + 3));
    EXPECT_EQ(Joined(DialogSpy::Since(mark)), "");
    EXPECT_TRUE(Visible());

    // Reads work again: the monitor kept polling.
    at = {DialogSpy::Size(), Requests()};
    SimClearFaults();
    ExpectPolls(at, noError, "hide", "");
    EXPECT_FALSE(Visible());
}

TEST_F(JobMonitorTest, EndsByItselfWhenTheClientCannotOpen)
{
    ASSERT_TRUE(SetValues({2005, 0x10, 1, 0}));
    ASSERT_TRUE(SimSetFault(SIM_CREATE_BIDI_SPL, static_cast<DWORD>(E_OUTOFMEMORY), 0, 0, nullptr));
    Start();

    ASSERT_TRUE(MonitorEnds());
    EXPECT_EQ(Requests(), 0u);
    EXPECT_EQ(Joined(DialogSpy::Since(0)), "");
}

TEST_F(JobMonitorTest, EndsByItselfWhenTheDialogThreadEndsWithoutAWindow)
{
    ASSERT_TRUE(SetValues({2005, 0x10, 1, 0}));
    DialogSpy::FailNextDialog();
    Start();

    ASSERT_TRUE(MonitorEnds());
    EXPECT_EQ(Requests(), 0u);
    SimAccounting a{};
    SimGetAccounting(&a);
    EXPECT_EQ(a.lObtained[SIM_RES_BIDI_SPL], 0) << "the client was opened";
}

// --- Starting and stopping -------------------------------------------------------------------

TEST_F(JobMonitorTest, StopWhileWaitingForTheDialogEndsTheMonitor)
{
    m_hHeld = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_hRelease = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(m_hHeld && m_hRelease);
    DialogSpy::HoldNextDialog(m_hHeld, m_hRelease);
    Start();
    ASSERT_EQ(WaitForSingleObject(m_hHeld, kDeadlineMs), WAIT_OBJECT_0);

    SetEvent(m_hStopEvent);
    // The monitor gives up waiting and tells the dialog thread to end.
    ASSERT_TRUE(WaitFor([] { return DialogSpy::QuitSeenWhileHeld(); }));
    SetEvent(m_hRelease);

    ASSERT_TRUE(MonitorEnds());
    EXPECT_EQ(Requests(), 0u);
    SimAccounting a{};
    SimGetAccounting(&a);
    EXPECT_EQ(a.lObtained[SIM_RES_BIDI_SPL], 0) << "the client was opened";
    EXPECT_EQ(Joined(DialogSpy::Since(0)), "");
}

TEST_F(JobMonitorTest, StartWithoutAPrinterNameStartsNothing)
{
    for (LPCWSTR pszName : {static_cast<LPCWSTR>(nullptr), L""})
    {
        SCOPED_TRACE(pszName ? "empty name" : "null name");
        EXPECT_EQ(StartJobMonitor(m_dwJobId, pszName, m_hStopEvent), nullptr);
    }
    EXPECT_TRUE(DialogSpy::Dialogs().empty());
    EXPECT_EQ(Requests(), 0u);
}

struct ParamCase
{
    const char* name;
    LPCWSTR pszName;
    BOOL bValid;
};

const ParamCase kParamCases[] = {
    {"NullName", nullptr, FALSE},
    {"EmptyName", L"", FALSE},
    {"OneCharacter", L"P", TRUE},
    {"Korean", L"포토 프린터", TRUE},
};

TEST(JobMonitorParamTest, KeepsItsOwnCopyOfANonEmptyName)
{
    const HANDLE hEvent = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x1234));
    for (const ParamCase& c : kParamCases)
    {
        SCOPED_TRACE(c.name);
        std::wstring name = c.pszName ? c.pszName : L"";
        CJobMonitorParam param(42, c.pszName ? name.c_str() : nullptr, hEvent);
        EXPECT_EQ(param.m_dwJobId, 42u);
        EXPECT_EQ(param.m_hStopEvent, hEvent);
        EXPECT_EQ(param.m_bValid, c.bValid);
        if (!c.bValid)
        {
            EXPECT_EQ(param.m_pszPrinterName, nullptr);
            continue;
        }
        ASSERT_NE(param.m_pszPrinterName, nullptr);
        EXPECT_NE(param.m_pszPrinterName, name.c_str());
        const std::wstring expected = name;
        name.assign(name.size(), L'x');
        EXPECT_EQ(std::wstring(param.m_pszPrinterName), expected);
    }
}

} // namespace
