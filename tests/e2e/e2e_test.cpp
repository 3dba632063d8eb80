// The shipped quenlo.exe, started as a user would start it, against the printer simulator. Each
// test drives the simulated spooler and printer of its own session and looks at the program only
// from outside: its windows, what the printer received, the simulator's accounting, its exit.
#include "outside.h"
#include "quenlo_sim.h"
#include "sim_session.h"

#include <gtest/gtest.h>

#include <winspool.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

using namespace outside;

namespace
{

constexpr WCHAR kTargetDriver[] = L"ORLUME 470 Photo Printer";
constexpr WCHAR kPrinter[] = L"Photo 470";
constexpr DWORD kFrameStyle = WS_MINIMIZE | WS_OVERLAPPEDWINDOW; // 0x20CF0000
constexpr WCHAR kPaperJamText[] = L"용지 걸림(001A2B).\n용지를 다시 정렬하십시오.";

std::string Narrow(const std::wstring& text)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string bytes(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), n,
                        nullptr, nullptr);
    return bytes;
}

using qtest::AccountingText;

// One started copy of quenlo.exe; whatever still runs when the object goes is ended.
class QuenloProcess
{
public:
    QuenloProcess() = default;
    ~QuenloProcess() { Kill(); }
    QuenloProcess(const QuenloProcess&) = delete;
    QuenloProcess& operator=(const QuenloProcess&) = delete;

    // Starts bin\quenlo.exe with QUENLO_SIM_SESSION=session and, when given, a show state.
    bool Start(const std::wstring& session, int showState = -1)
    {
        std::wstring env;
        if (LPWCH block = GetEnvironmentStringsW())
        {
            for (LPWCH p = block; *p != L'\0'; p += wcslen(p) + 1)
            {
                if (CompareStringOrdinal(p, 19, L"QUENLO_SIM_SESSION=", 19, TRUE) != CSTR_EQUAL)
                    (env += p) += L'\0';
            }
            FreeEnvironmentStringsW(block);
        }
        ((env += L"QUENLO_SIM_SESSION=") += session) += L'\0';
        env += L'\0';

        const std::wstring exe = ExeDir() + L"quenlo.exe";
        std::wstring cmd = L"\"" + exe + L"\"";
        STARTUPINFOW si{};
        si.cb = sizeof(si);
        if (showState >= 0)
        {
            si.dwFlags = STARTF_USESHOWWINDOW;
            si.wShowWindow = static_cast<WORD>(showState);
        }
        PROCESS_INFORMATION pi{};
        if (!CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE,
                            CREATE_UNICODE_ENVIRONMENT, env.data(), nullptr, &si, &pi))
            return false;
        m_process.Reset(pi.hProcess);
        CloseHandle(pi.hThread);
        m_pid = pi.dwProcessId;
        return true;
    }

    DWORD Id() const { return m_pid; }
    bool IsRunning() const
    {
        return m_process && WaitForSingleObject(m_process.Get(), 0) == WAIT_TIMEOUT;
    }
    // Waits for the process to end by itself; its exit code, or STILL_ACTIVE after `ms`.
    DWORD WaitExit(DWORD ms = 20000) const
    {
        DWORD code = STILL_ACTIVE;
        if (m_process && WaitForSingleObject(m_process.Get(), ms) == WAIT_OBJECT_0)
            GetExitCodeProcess(m_process.Get(), &code);
        return code;
    }
    void Kill()
    {
        if (IsRunning())
        {
            TerminateProcess(m_process.Get(), 1);
            WaitForSingleObject(m_process.Get(), 20000);
        }
        m_process.Reset();
    }

private:
    UniqueHandle m_process;
    DWORD m_pid = 0;
};

// Each test: a session of its own with the target driver and one printer that uses it.
class EndToEnd : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        // Test names are unique here without their suite, and short enough for a session name.
        std::string name = std::string("e2e.") + info->name();
        for (char& c : name)
            if (c == '/')
                c = '.';
        m_session.assign(name.begin(), name.end());
        ASSERT_TRUE(SimAttach(m_session.c_str()));
        SimReset();
        ASSERT_TRUE(SimAddDriver(kTargetDriver));
        ASSERT_TRUE(SimAddPrinter(kPrinter, kTargetDriver));
        // A copy left from elsewhere would make every start here a second copy.
        ASSERT_TRUE(WaitFor([] { return !InstanceMarkerExists(); }))
            << "another quenlo.exe is running in this Wine session";
    }

    void TearDown() override { m_app.Kill(); }

    // Starts the program and waits until it watches the spooler.
    void StartWatching(int showState = -1)
    {
        ASSERT_TRUE(m_app.Start(m_session, showState)) << "cannot start quenlo.exe";
        ASSERT_TRUE(WaitFor([&] { return SimCountRegistrations() == 1 && Frame() != nullptr; }))
            << "quenlo.exe does not watch the spooler";
    }

    HWND Frame() const { return FindFrame(m_app.Id()); }
    std::vector<HWND> Dialogs() const { return ErrorDialogs(m_app.Id()); }
    std::vector<HWND> VisibleDialogs() const
    {
        std::vector<HWND> visible = Dialogs();
        std::erase_if(visible, [](HWND hWnd) { return !IsWindowVisible(hWnd); });
        return visible;
    }
    DWORD Polls(DWORD job) const { return SimCountEvents(SIM_EV_STATUS_REQUEST, job); }

    // Waits until the job's monitor has made two more polls, so that the first of them, which
    // read the printer's values as they are now, has been acted on.
    bool WaitTwoPolls(DWORD job) const
    {
        const DWORD start = Polls(job);
        return WaitFor([&] { return Polls(job) >= start + 2; });
    }

    // A job that starts printing while the printer reports an error; its dialog once it shows,
    // or null.
    HWND PrintFailingJob(DWORD job, LONG error)
    {
        const std::vector<HWND> before = Dialogs();
        EXPECT_TRUE(SimAddJob(kPrinter, job, JOB_STATUS_SPOOLING, nullptr));
        EXPECT_TRUE(SimSetJobValues(job, error, 0, 1, FALSE));
        EXPECT_TRUE(SimSetJobStatus(job, JOB_STATUS_PRINTING));
        HWND dialog = nullptr;
        WaitFor(
            [&]
            {
                for (HWND hWnd : Dialogs())
                    if (IsWindowVisible(hWnd) &&
                        std::find(before.begin(), before.end(), hWnd) == before.end())
                        dialog = hWnd;
                return dialog != nullptr;
            });
        return dialog;
    }

    // Ends the program with WM_CLOSE and checks that it ended in order.
    void CloseAndCheck()
    {
        HWND frame = Frame();
        ASSERT_NE(nullptr, frame);
        ASSERT_TRUE(PostMessageW(frame, WM_CLOSE, 0, 0));
        ExpectEndedInOrder();
    }

    void ExpectEndedInOrder()
    {
        EXPECT_EQ(0u, m_app.WaitExit()) << "quenlo.exe did not end, or ended with a failure";
        EXPECT_EQ(0u, SimCountRegistrations());
        EXPECT_TRUE(SimIsBalanced()) << AccountingText();
        EXPECT_EQ(0u, SimGetDroppedBindings());
    }

    std::wstring m_session;
    QuenloProcess m_app;
};

TEST_F(EndToEnd, OnePrintJobFromStartToEnd)
{
    StartWatching();
    EXPECT_FALSE(IsWindowVisible(Frame()));

    // The job starts printing; its monitor polls the printer behind a hidden dialog.
    ASSERT_TRUE(SimAddJob(kPrinter, 7, JOB_STATUS_SPOOLING, nullptr));
    ASSERT_TRUE(SimSetJobStatus(7, JOB_STATUS_PRINTING));
    ASSERT_TRUE(WaitFor([&] { return Polls(7) >= 1; })) << "the printer is never asked";
    std::vector<HWND> dialogs = Dialogs();
    ASSERT_EQ(1u, dialogs.size());
    HWND dialog = dialogs.front();
    EXPECT_FALSE(IsWindowVisible(dialog));

    // The printer reports a paper jam with a cancel button: the dialog shows it.
    ASSERT_TRUE(SimSetJobValues(7, 2009, 6699, 1, FALSE));
    ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(dialog); })) << "the error is not shown";
    EXPECT_EQ(Narrow(kPaperJamText), Narrow(TextOf(GetDlgItem(dialog, kMessageTextId))));
    HWND button = GetDlgItem(dialog, IDCANCEL);
    EXPECT_EQ(Narrow(L"취소"), Narrow(TextOf(button)));
    EXPECT_TRUE(IsWindowVisible(button));
    EXPECT_TRUE(IsWindowEnabled(button));
    EXPECT_FALSE(IsWindowVisible(Frame()));

    // The user presses the button: the dialog hides and the press reaches the printer.
    ASSERT_TRUE(Click(button));
    EXPECT_FALSE(IsWindowVisible(dialog));
    ASSERT_TRUE(WaitFor([] { return SimCountEvents(SIM_EV_CLICK, 7) == 1; }))
        << "the press never reached the printer";
    for (DWORD i = 0; i < SimGetEventCount(); ++i)
    {
        SimEvent event{};
        if (SimGetEvent(i, &event) && event.dwKind == SIM_EV_CLICK)
        {
            EXPECT_EQ(7u, event.dwJobId);
            EXPECT_STREQ(kPrinter, event.szPrinter);
        }
    }
    // The error lasts, but the printer has not reset its button: the dialog stays hidden.
    ASSERT_TRUE(WaitTwoPolls(7));
    EXPECT_FALSE(IsWindowVisible(dialog));
    EXPECT_EQ(1u, SimCountEvents(SIM_EV_CLICK, 7));

    // The printer resets its button and the error clears: nothing to show.
    ASSERT_TRUE(SimSetJobValues(7, 2000, 0, 0, TRUE));
    ASSERT_TRUE(WaitTwoPolls(7));
    EXPECT_FALSE(IsWindowVisible(dialog));
    // The press is forgotten: a new error shows again, and its end hides the dialog.
    ASSERT_TRUE(SimSetJobValues(7, 2009, 6699, 1, FALSE));
    ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(dialog); })) << "the press was not forgotten";
    ASSERT_TRUE(SimSetJobValues(7, 2000, 0, 0, FALSE));
    ASSERT_TRUE(WaitFor([&] { return !IsWindowVisible(dialog); }));

    // The job leaves the spooler: its monitor and dialog go; the program watches on.
    ASSERT_TRUE(SimDeleteJob(7));
    ASSERT_TRUE(WaitFor([&] { return Dialogs().empty(); })) << "the dialog outlives its job";
    const DWORD polls = Polls(7);
    EXPECT_TRUE(m_app.IsRunning());
    EXPECT_EQ(1u, SimCountRegistrations());
    CloseAndCheck();
    EXPECT_EQ(polls, Polls(7));
}

TEST_F(EndToEnd, ASecondCopyEndsAtOnceWhileTheFirstKeepsWatching)
{
    StartWatching();
    QuenloProcess second;
    ASSERT_TRUE(second.Start(m_session));
    EXPECT_EQ(0u, second.WaitExit()) << "the second copy does not end by itself";
    EXPECT_EQ(1u, TopWindows(0, kFrameClass, kFrameTitle).size());
    EXPECT_EQ(1u, SimCountRegistrations());

    // The first copy still sees new jobs.
    EXPECT_NE(nullptr, PrintFailingJob(8, 2005)) << "the first copy stopped watching";
    CloseAndCheck();
}

// How the program is asked to end from outside, and whether its About box is open meanwhile.
struct EndingCase
{
    const char* name;
    UINT message;
    WPARAM wParam;
    bool aboutOpen;
};

class EndingFromOutside : public EndToEnd, public ::testing::WithParamInterface<EndingCase>
{
};

TEST_P(EndingFromOutside, EndsEverythingInOrder)
{
    const EndingCase& c = GetParam();
    StartWatching();
    HWND shown = PrintFailingJob(11, 2003);
    ASSERT_NE(nullptr, shown);
    ASSERT_TRUE(SimAddJob(kPrinter, 12, JOB_STATUS_PRINTING, nullptr));
    ASSERT_TRUE(WaitFor([&] { return Polls(12) >= 1 && Dialogs().size() == 2; }));
    HWND frame = Frame();
    if (c.aboutOpen)
    {
        ASSERT_TRUE(PostMessageW(frame, WM_COMMAND, kAppAboutCommand, 0));
        ASSERT_TRUE(WaitFor([&] { return FindAboutBox(m_app.Id()) != nullptr; }));
    }

    if (c.message == WM_ENDSESSION)
    {
        // Everything has stopped before the handler returns.
        DWORD_PTR result = 0;
        ASSERT_TRUE(SendMessageTimeoutW(frame, WM_ENDSESSION, c.wParam, 0, SMTO_NORMAL,
                                        kSendTimeoutMs, &result));
        EXPECT_TRUE(Dialogs().empty());
        EXPECT_EQ(0u, SimCountRegistrations());
    }
    else
    {
        ASSERT_TRUE(PostMessageW(frame, c.message, c.wParam, 0));
    }
    ExpectEndedInOrder();
}

INSTANTIATE_TEST_SUITE_P(, EndingFromOutside,
                         ::testing::Values(EndingCase{"Close", WM_CLOSE, 0, false},
                                           EndingCase{"CloseWithAboutBoxOpen", WM_CLOSE, 0, true},
                                           EndingCase{"EndSession", WM_ENDSESSION, TRUE, false},
                                           EndingCase{"EndSessionWithAboutBoxOpen", WM_ENDSESSION,
                                                      TRUE, true}),
                         [](const ::testing::TestParamInfo<EndingCase>& info)
                         { return std::string(info.param.name); });

TEST_F(EndToEnd, EndSessionNotEndingChangesNothing)
{
    StartWatching();
    HWND dialog = PrintFailingJob(21, 2003);
    ASSERT_NE(nullptr, dialog);
    HWND frame = Frame();

    DWORD_PTR result = 0;
    ASSERT_TRUE(
        SendMessageTimeoutW(frame, WM_ENDSESSION, FALSE, 0, SMTO_NORMAL, kSendTimeoutMs, &result));
    ASSERT_TRUE(WaitTwoPolls(21)) << "the job's monitor stopped";
    EXPECT_TRUE(m_app.IsRunning());
    EXPECT_EQ(frame, Frame());
    EXPECT_FALSE(IsWindowVisible(frame));
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_EQ(1u, SimCountRegistrations());
    // ... and new jobs are still watched.
    EXPECT_NE(nullptr, PrintFailingJob(22, 2004));
    EXPECT_EQ(2u, VisibleDialogs().size());
    CloseAndCheck();
}

TEST_F(EndToEnd, TheAboutBoxShowsOnTheAboutCommandAndCloses)
{
    StartWatching();
    HWND frame = Frame();
    const struct
    {
        const char* how;
        std::function<void(HWND about)> close;
    } closings[] = {
        {"its button", [](HWND about) { Click(GetDlgItem(about, IDOK)); }},
        {"Escape", [](HWND about) { PostMessageW(about, WM_KEYDOWN, VK_ESCAPE, 0x00010001); }},
        {"IDCANCEL", [](HWND about) { PostMessageW(about, WM_COMMAND, IDCANCEL, 0); }},
        {"the close box", [](HWND about) { PostMessageW(about, WM_SYSCOMMAND, SC_CLOSE, 0); }},
    };
    for (const auto& closing : closings)
    {
        SCOPED_TRACE(closing.how);
        ASSERT_TRUE(PostMessageW(frame, WM_COMMAND, kAppAboutCommand, 0));
        HWND about = nullptr;
        ASSERT_TRUE(WaitFor(
            [&]
            {
                about = FindAboutBox(m_app.Id());
                return about != nullptr && IsWindowVisible(about);
            }))
            << "no About box";
        EXPECT_EQ(frame, GetWindow(about, GW_OWNER));
        EXPECT_EQ(Narrow(L"예"), Narrow(TextOf(GetDlgItem(about, IDOK))));
        EXPECT_FALSE(IsWindowVisible(frame));

        closing.close(about);
        EXPECT_TRUE(WaitFor([&] { return !IsWindow(about); })) << "the About box stays open";
        EXPECT_TRUE(m_app.IsRunning());
        EXPECT_EQ(frame, Frame());
        EXPECT_FALSE(IsWindowVisible(frame));
        EXPECT_EQ(1u, SimCountRegistrations());
    }
    CloseAndCheck();
}

TEST_F(EndToEnd, RemovingTheTargetDriverEndsTheProgram)
{
    ASSERT_TRUE(SimAddDriver(L"Other Photo Printer"));
    StartWatching();
    ASSERT_NE(nullptr, PrintFailingJob(31, 2003));

    // Another driver goes: the program watches on (a later job still gets its dialog).
    ASSERT_TRUE(SimRemoveDriver(L"Other Photo Printer"));
    ASSERT_NE(nullptr, PrintFailingJob(32, 2004));
    EXPECT_TRUE(m_app.IsRunning());

    ASSERT_TRUE(SimRemoveDriver(kTargetDriver));
    ExpectEndedInOrder();
}

// The spooler can't be watched: the program ends at start, without looking at any job.
struct UnwatchableCase
{
    const char* name;
    SimCall call;
    DWORD error;
    LPCWSTR printer;
};

class UnwatchableSpooler : public EndToEnd, public ::testing::WithParamInterface<UnwatchableCase>
{
};

TEST_P(UnwatchableSpooler, EndsTheProgramAtStart)
{
    const UnwatchableCase& c = GetParam();
    ASSERT_TRUE(SimAddJob(kPrinter, 41, JOB_STATUS_PRINTING, nullptr));
    ASSERT_TRUE(SimSetJobValues(41, 2003, 0, 1, FALSE));
    ASSERT_TRUE(SimSetFault(c.call, c.error, 0, 0, c.printer));
    ASSERT_TRUE(m_app.Start(m_session));
    ExpectEndedInOrder();
    EXPECT_EQ(0u, SimCountEvents(SIM_EV_STATUS_REQUEST, 0));
}

INSTANTIATE_TEST_SUITE_P(, UnwatchableSpooler,
                         ::testing::Values(UnwatchableCase{"ServerCannotBeOpened", SIM_OPEN_PRINTER,
                                                           ERROR_ACCESS_DENIED, L""},
                                           UnwatchableCase{"NotificationCannotBeRegistered",
                                                           SIM_FIND_FIRST_CHANGE,
                                                           RPC_S_SERVER_UNAVAILABLE, nullptr}),
                         [](const ::testing::TestParamInfo<UnwatchableCase>& info)
                         { return std::string(info.param.name); });

// Whatever show state it is started with, the program shows nothing; its frame is as made.
class ShowState : public EndToEnd, public ::testing::WithParamInterface<int>
{
};

TEST_P(ShowState, NothingIsShown)
{
    StartWatching(GetParam());
    HWND frame = Frame();
    EXPECT_FALSE(IsWindowVisible(frame));
    // The system adds WS_CLIPSIBLINGS to every overlapped window.
    EXPECT_EQ(kFrameStyle,
              static_cast<DWORD>(GetWindowLongPtrW(frame, GWL_STYLE)) & ~DWORD(WS_CLIPSIBLINGS));
    EXPECT_EQ(DWORD(WS_EX_CLIENTEDGE),
              static_cast<DWORD>(GetWindowLongPtrW(frame, GWL_EXSTYLE)) & WS_EX_CLIENTEDGE);
    EXPECT_EQ(DWORD(CS_BYTEALIGNWINDOW), static_cast<DWORD>(GetClassLongPtrW(frame, GCL_STYLE)));
    EXPECT_EQ(nullptr, GetWindow(frame, GW_OWNER));
    std::vector<HWND> windows = TopWindows(m_app.Id(), nullptr, nullptr);
    std::erase_if(windows, [](HWND hWnd) { return !IsWindowVisible(hWnd); });
    EXPECT_TRUE(windows.empty());
    CloseAndCheck();
}

INSTANTIATE_TEST_SUITE_P(, ShowState,
                         ::testing::Values(SW_SHOWNORMAL, SW_SHOWMINIMIZED, SW_SHOWMAXIMIZED));

} // namespace
