// The printer watcher thread, run for real on a thread of the test against the simulated spooler,
// with a window of the test standing in for the hidden main frame.
#include "discovery_test_util.h"

#include "JobMonitorList.h"
#include "PrinterWatcher.h"

#include <afxwin.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

using namespace disctest;

namespace
{

constexpr WCHAR kPhoto[] = L"Photo Studio A";
constexpr WCHAR kPlain[] = L"Office Printer";
constexpr WCHAR kMainWndClass[] = L"DiscoveryTestMainWnd";
// A job that waits in the target printer's queue from the start: the scan opens that printer in
// every test, and its closing tells the test that the scan is over.
constexpr DWORD kQueuedJob = 99;

// Counts the WM_CLOSE messages it receives and stays open.
LRESULT CALLBACK MainWndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_CLOSE)
    {
        SetWindowLongPtrW(hWnd, GWLP_USERDATA, GetWindowLongPtrW(hWnd, GWLP_USERDATA) + 1);
        return 0;
    }
    return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

class WatcherTest : public SimSessionTest
{
protected:
    void SetUp() override
    {
        SimSessionTest::SetUp();
        WNDCLASSW wc{};
        wc.lpfnWndProc = MainWndProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = kMainWndClass;
        RegisterClassW(&wc); // fails harmlessly once registered
        m_hMainWnd = CreateWindowExW(0, kMainWndClass, L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                                     nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(nullptr, m_hMainWnd);
        m_hStopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        ASSERT_NE(nullptr, m_hStopEvent);
        ASSERT_TRUE(SimAddDriver(kTargetDriver));
        ASSERT_TRUE(SimAddDriver(kOtherDriver));
        ASSERT_TRUE(SimAddPrinter(kPhoto, kTargetDriver));
        ASSERT_TRUE(SimAddPrinter(kPlain, kOtherDriver));
        ASSERT_TRUE(SimAddJob(kPhoto, kQueuedJob, JOB_STATUS_SPOOLING, nullptr));
    }

    void TearDown() override
    {
        if (m_hThread != nullptr)
        {
            if (!HasEnded(m_hThread))
            {
                SimClearFaults();
                SetEvent(m_hStopEvent);
            }
            const bool bEnded = WaitFor([&] { return HasEnded(m_hThread); }, 60000);
            EXPECT_TRUE(bEnded) << "the watcher did not end";
            if (!bEnded)
                std::abort(); // its monitors and this fixture's handles are still in use
            DWORD dwExitCode = STILL_ACTIVE;
            GetExitCodeThread(m_hThread, &dwExitCode);
            EXPECT_EQ(0u, dwExitCode);
            CloseHandle(m_hThread);
        }
        if (m_hStopEvent != nullptr)
            CloseHandle(m_hStopEvent);
        if (m_hMainWnd != nullptr)
            DestroyWindow(m_hMainWnd);
        EXPECT_EQ(0, SimCountRegistrations());
        SimSessionTest::TearDown();
    }

    static DWORD WINAPI WatcherThread(LPVOID pParam) { return PrinterWatchThreadProc(pParam); }

    // Starts the watcher and waits until it has registered with the spooler and scanned the one
    // target printer that has jobs.
    bool StartWatcher()
    {
        m_params = {m_hStopEvent, m_hMainWnd};
        m_hThread = CreateThread(nullptr, 0, WatcherThread, &m_params, 0, nullptr);
        return m_hThread != nullptr && WaitFor([] { return SimCountRegistrations() == 1; }) &&
               WaitFor([] { return Released(SIM_RES_PRINTER_HANDLE) >= 1; });
    }

    bool StopWatcher()
    {
        SetEvent(m_hStopEvent);
        return WaitEnded();
    }

    bool WaitEnded()
    {
        return WaitFor([&] { return HasEnded(m_hThread); });
    }

    // WM_CLOSE messages that reached the main window so far.
    LONG_PTR Closes()
    {
        PumpMessages();
        return GetWindowLongPtrW(m_hMainWnd, GWLP_USERDATA);
    }

    // Lets every following notification wait in the spooler until ReleaseNotifications: the
    // watcher's reads fail and leave the change handle signalled.
    static BOOL HoldNotifications()
    {
        return SimSetFault(SIM_FIND_NEXT_CHANGE, ERROR_NOT_ENOUGH_MEMORY, 0, 0, nullptr);
    }
    static void ReleaseNotifications() { SimClearFaults(); }

    HWND m_hMainWnd = nullptr;
    HANDLE m_hStopEvent = nullptr;
    HANDLE m_hThread = nullptr;
    WatcherParams m_params{};
};

// ---------------------------------------------------------------------------------------------
// Starting and stopping.

TEST_F(WatcherTest, StopEndsTheWatchAndEveryMonitorWithoutClosing)
{
    ASSERT_TRUE(SimAddJob(kPhoto, 1, JOB_STATUS_PRINTING, nullptr));
    ASSERT_TRUE(SimAddJob(kPhoto, 2, JOB_STATUS_PRINTING, nullptr));
    ASSERT_TRUE(StartWatcher());
    ASSERT_TRUE(WaitPolled(1));
    ASSERT_TRUE(WaitPolled(2));
    EXPECT_EQ(kPhoto, PolledPrinter(1));
    EXPECT_EQ(2, CountDialogs());

    ASSERT_TRUE(StopWatcher());
    EXPECT_EQ(0, Closes());
    EXPECT_EQ(2, Released(SIM_RES_BIDI_SPL)) << "both monitors ended";
}

TEST_F(WatcherTest, StopWinsOverAPendingNotification)
{
    ASSERT_TRUE(StartWatcher());
    ASSERT_TRUE(HoldNotifications());
    ASSERT_TRUE(SimAddJob(kPhoto, 1, JOB_STATUS_PRINTING, nullptr));

    ASSERT_TRUE(StopWatcher()) << "a pending notification kept the watcher from stopping";
    ReleaseNotifications();
    EXPECT_EQ(0, Closes());
    EXPECT_EQ(2, Obtained(SIM_RES_PRINTER_HANDLE)) << "the job was looked up";
    EXPECT_EQ(0u, Polls(1));
}

// The spooler cannot be watched: the program is asked to close at once and nothing is scanned.
struct StartFailure
{
    const char* pszLabel;
    SimCall call;
    LONG nServerOpens;
};

void PrintTo(const StartFailure& c, std::ostream* os)
{
    *os << c.pszLabel;
}

class WatcherStartFailureTest : public WatcherTest,
                                public ::testing::WithParamInterface<StartFailure>
{
};

TEST_P(WatcherStartFailureTest, PostsCloseAndEnds)
{
    ASSERT_TRUE(SimAddJob(kPhoto, 1, JOB_STATUS_PRINTING, nullptr));
    ASSERT_TRUE(SimSetFault(GetParam().call, RPC_S_SERVER_UNAVAILABLE, 0, 0, L""));
    m_params = {m_hStopEvent, m_hMainWnd};
    m_hThread = CreateThread(nullptr, 0, WatcherThread, &m_params, 0, nullptr);
    ASSERT_NE(nullptr, m_hThread);

    ASSERT_TRUE(WaitEnded());
    EXPECT_TRUE(WaitFor([&] { return Closes() == 1; }));
    EXPECT_EQ(GetParam().nServerOpens, Obtained(SIM_RES_PRINTER_HANDLE)) << "a printer was scanned";
    EXPECT_EQ(0u, Polls(1));
    EXPECT_EQ(0, Obtained(SIM_RES_BIDI_SPL));
}

const StartFailure kStartFailures[] = {
    {"ServerCannotBeOpened", SIM_OPEN_PRINTER, 0},
    {"RegistrationFails", SIM_FIND_FIRST_CHANGE, 1},
};

INSTANTIATE_TEST_SUITE_P(Spooler, WatcherStartFailureTest, ::testing::ValuesIn(kStartFailures),
                         [](const auto& info) { return std::string(info.param.pszLabel); });

// ---------------------------------------------------------------------------------------------
// Status entries. Job 7 meets one status entry, monitored or not; job 8 starts printing after it,
// and once its monitor polls, job 7's entry has been handled.

struct EntryCase
{
    const char* pszLabel;
    bool bMonitored; // job 7 is printing when the watch begins
    DWORD dwStatus;  // the status entry job 7 meets
    bool bLookup;    // the watcher looks job 7 up
    bool bRunning;   // job 7 has a monitor afterwards
};

void PrintTo(const EntryCase& c, std::ostream* os)
{
    *os << c.pszLabel;
}

class WatcherEntryTest : public WatcherTest, public ::testing::WithParamInterface<EntryCase>
{
};

TEST_P(WatcherEntryTest, HandlesTheEntryByItsStatus)
{
    const EntryCase& c = GetParam();
    ASSERT_TRUE(
        SimAddJob(kPhoto, 7, c.bMonitored ? JOB_STATUS_PRINTING : JOB_STATUS_SPOOLING, nullptr));
    ASSERT_TRUE(StartWatcher());
    if (c.bMonitored)
    {
        ASSERT_TRUE(WaitPolled(7));
    }

    ASSERT_TRUE(SimSetJobStatus(7, c.dwStatus));
    ASSERT_TRUE(SimAddJob(kPhoto, 8, JOB_STATUS_PRINTING, nullptr));
    ASSERT_TRUE(WaitPolled(8));
    if (c.bRunning)
    {
        ASSERT_TRUE(WaitPolled(7));
    }

    // The server handle, the scan of the printer, the lookup of job 8 and perhaps job 7's.
    EXPECT_EQ(3 + (c.bLookup ? 1 : 0), Obtained(SIM_RES_PRINTER_HANDLE));
    // A stopped monitor has ended before the next entry is handled.
    const bool bStopped = c.bMonitored && !c.bRunning;
    EXPECT_EQ(bStopped ? 1 : 0, Released(SIM_RES_BIDI_SPL));
    EXPECT_EQ((c.bRunning ? 1 : 0) + 1, CountDialogs());
    if (!c.bRunning && !c.bMonitored)
    {
        EXPECT_EQ(0u, Polls(7));
    }
    if (c.bRunning)
    {
        const DWORD nPolls = Polls(7);
        EXPECT_TRUE(WaitFor([&] { return Polls(7) > nPolls; })) << "job 7 is no longer polled";
    }

    ASSERT_TRUE(StopWatcher());
    EXPECT_EQ(0, Closes());
}

const EntryCase kEntryCases[] = {
    {"PrintingStartsAMonitor", false, JOB_STATUS_PRINTING, true, true},
    {"PrintedIsIgnored", false, JOB_STATUS_PRINTING | JOB_STATUS_PRINTED, false, false},
    {"NotPrintingIsIgnored", false, JOB_STATUS_PAUSED, false, false},
    {"DeletedWithoutMonitorDoesNothing", false, JOB_STATUS_PRINTING | JOB_STATUS_DELETED, false,
     false},
    {"RepeatedPrintingStartsNoSecondMonitor", true, JOB_STATUS_PRINTING, false, true},
    {"PrintedLeavesTheMonitorRunning", true, JOB_STATUS_PRINTING | JOB_STATUS_PRINTED, false, true},
    {"DeletedStopsTheMonitor", true, JOB_STATUS_DELETED, false, false},
    {"DeletionWinsOverPrinting", true, JOB_STATUS_PRINTING | JOB_STATUS_DELETED, false, false},
};

INSTANTIATE_TEST_SUITE_P(Entries, WatcherEntryTest, ::testing::ValuesIn(kEntryCases),
                         [](const auto& info) { return std::string(info.param.pszLabel); });

// The driver recorded with the job decides, and a rejected job is looked up again at its next
// printing entry: nothing about it is remembered.
TEST_F(WatcherTest, JobsOfOtherDriversStartNothingAndAreAskedAgain)
{
    ASSERT_TRUE(StartWatcher());
    ASSERT_TRUE(SimAddJob(kPlain, 9, JOB_STATUS_PRINTING, nullptr));
    ASSERT_TRUE(SimAddJob(kPhoto, 10, JOB_STATUS_PRINTING, kOtherDriver));
    ASSERT_TRUE(WaitFor([] { return Obtained(SIM_RES_PRINTER_HANDLE) == 4; }));
    ASSERT_TRUE(SimSetJobStatus(9, JOB_STATUS_PRINTING));
    ASSERT_TRUE(SimSetJobStatus(10, JOB_STATUS_PRINTING));
    ASSERT_TRUE(WaitFor([] { return Obtained(SIM_RES_PRINTER_HANDLE) == 6; }));
    // A job of the target driver on a printer of another driver is monitored there.
    ASSERT_TRUE(SimAddJob(kPlain, 11, JOB_STATUS_PRINTING, kTargetDriver));
    ASSERT_TRUE(WaitPolled(11));

    EXPECT_EQ(kPlain, PolledPrinter(11));
    EXPECT_EQ(7, Obtained(SIM_RES_PRINTER_HANDLE));
    EXPECT_EQ(6, Released(SIM_RES_PRINTER_HANDLE)) << "every lookup closes its handle";
    EXPECT_EQ(0u, Polls(9));
    EXPECT_EQ(0u, Polls(10));
    EXPECT_EQ(1, CountDialogs());
    ASSERT_TRUE(StopWatcher());
}

// ---------------------------------------------------------------------------------------------
// A driver deletion that arrives in one notification with a status entry.

struct DriverDeletionCase
{
    const char* pszLabel;
    LPCWSTR pszRemoved;
    bool bTargetGone;
};

void PrintTo(const DriverDeletionCase& c, std::ostream* os)
{
    *os << c.pszLabel;
}

class WatcherDriverDeletionTest : public WatcherTest,
                                  public ::testing::WithParamInterface<DriverDeletionCase>
{
};

TEST_P(WatcherDriverDeletionTest, ClosesOnlyWhenTheTargetIsGone)
{
    const DriverDeletionCase& c = GetParam();
    ASSERT_TRUE(SimAddJob(kPhoto, 7, JOB_STATUS_PRINTING, nullptr));
    ASSERT_TRUE(StartWatcher());
    ASSERT_TRUE(WaitPolled(7));

    ASSERT_TRUE(HoldNotifications());
    ASSERT_TRUE(SimAddJob(kPhoto, 8, JOB_STATUS_PRINTING, nullptr));
    ASSERT_TRUE(SimRemoveDriver(c.pszRemoved));
    ReleaseNotifications();

    if (c.bTargetGone)
    {
        // The watcher ends by itself, stopping job 7's monitor; job 8's entry is never handled.
        ASSERT_TRUE(WaitEnded());
        EXPECT_TRUE(WaitFor([&] { return Closes() == 1; }));
        EXPECT_EQ(2, Obtained(SIM_RES_PRINTER_HANDLE)) << "job 8 was looked up";
        EXPECT_EQ(0u, Polls(8));
        EXPECT_EQ(1, Released(SIM_RES_BIDI_SPL));
    }
    else
    {
        ASSERT_TRUE(WaitPolled(8));
        EXPECT_FALSE(HasEnded(m_hThread));
        EXPECT_EQ(0, Closes());
        ASSERT_TRUE(StopWatcher());
        EXPECT_EQ(0, Closes());
    }
    EXPECT_EQ(1, Obtained(SIM_RES_NOTIFY_BLOCK)) << "the entry and the deletion came apart";
}

const DriverDeletionCase kDriverDeletionCases[] = {
    {"TargetRemoved", kTargetDriver, true},
    {"OtherRemoved", kOtherDriver, false},
};

INSTANTIATE_TEST_SUITE_P(Drivers, WatcherDriverDeletionTest,
                         ::testing::ValuesIn(kDriverDeletionCases),
                         [](const auto& info) { return std::string(info.param.pszLabel); });

// ---------------------------------------------------------------------------------------------
// Discarded notification data: one refresh brings the current status of every job.

TEST_F(WatcherTest, DiscardedDataIsRefreshedOnceAndItsJobsGetMonitors)
{
    ASSERT_TRUE(SimAddJob(kPhoto, 7, JOB_STATUS_PRINTING, nullptr));
    ASSERT_TRUE(SimAddJob(kPhoto, 12, JOB_STATUS_PRINTING | JOB_STATUS_PRINTED, nullptr));
    ASSERT_TRUE(StartWatcher());
    ASSERT_TRUE(WaitPolled(7));

    ASSERT_TRUE(HoldNotifications());
    ASSERT_TRUE(SimAddJob(kPhoto, 8, JOB_STATUS_PRINTING, nullptr));
    ASSERT_TRUE(SimAddJob(kPhoto, 9, JOB_STATUS_PRINTING, nullptr));
    ASSERT_TRUE(SimAddJob(kPlain, 10, JOB_STATUS_PRINTING, nullptr));
    ASSERT_TRUE(SimQueueDiscarded());
    ReleaseNotifications();

    ASSERT_TRUE(WaitPolled(8));
    ASSERT_TRUE(WaitPolled(9));
    // Server, scan, and lookups of jobs 8, 9 and 10; job 7 is monitored already, job 12 printed.
    EXPECT_EQ(5, Obtained(SIM_RES_PRINTER_HANDLE));
    EXPECT_EQ(3, CountDialogs());
    EXPECT_EQ(0u, Polls(10));
    ASSERT_TRUE(StopWatcher());
    // The discarded block and the one refresh block.
    EXPECT_EQ(2, Obtained(SIM_RES_NOTIFY_BLOCK));
}

// ---------------------------------------------------------------------------------------------
// Entries of another type or field are skipped. The spooler delivers only what the watcher asked
// for, so this hands the dispatch a block of its own.

class DispatchTest : public SimSessionTest
{
};

TEST_F(DispatchTest, SkipsEntriesOfOtherTypesAndFields)
{
    ASSERT_TRUE(SimAddDriver(kTargetDriver));
    ASSERT_TRUE(SimAddPrinter(kPhoto, kTargetDriver));
    ASSERT_TRUE(SimAddJob(kPhoto, 7, JOB_STATUS_PRINTING, nullptr));

    constexpr DWORD kEntries = 3;
    std::vector<std::byte> block(offsetof(PRINTER_NOTIFY_INFO, aData) +
                                 kEntries * sizeof(PRINTER_NOTIFY_INFO_DATA));
    auto* pInfo = reinterpret_cast<PRINTER_NOTIFY_INFO*>(block.data());
    pInfo->Version = 2;
    pInfo->Count = kEntries;
    const struct
    {
        WORD wType;
        WORD wField;
    } entries[kEntries] = {
        {PRINTER_NOTIFY_TYPE, JOB_NOTIFY_FIELD_STATUS},
        {JOB_NOTIFY_TYPE, JOB_NOTIFY_FIELD_PRIORITY},
        {JOB_NOTIFY_TYPE, JOB_NOTIFY_FIELD_STATUS_STRING},
    };
    for (DWORD i = 0; i < kEntries; ++i)
    {
        pInfo->aData[i].Type = entries[i].wType;
        pInfo->aData[i].Field = entries[i].wField;
        pInfo->aData[i].Id = 7;
        pInfo->aData[i].NotifyData.adwData[0] = JOB_STATUS_PRINTING;
    }

    CJobMonitorList list;
    DispatchStatusEntries(*pInfo, list);
    EXPECT_EQ(0, list.GetCount());
    EXPECT_EQ(0, Obtained(SIM_RES_PRINTER_HANDLE)) << "an entry was looked up";

    // The same block with one status entry added at its end: that one is handled.
    std::vector<std::byte> longer(block.size() + sizeof(PRINTER_NOTIFY_INFO_DATA));
    std::copy(block.begin(), block.end(), longer.begin());
    auto* pLonger = reinterpret_cast<PRINTER_NOTIFY_INFO*>(longer.data());
    pLonger->Count = kEntries + 1;
    pLonger->aData[kEntries].Type = JOB_NOTIFY_TYPE;
    pLonger->aData[kEntries].Field = JOB_NOTIFY_FIELD_STATUS;
    pLonger->aData[kEntries].Id = 7;
    pLonger->aData[kEntries].NotifyData.adwData[0] = JOB_STATUS_PRINTING;
    DispatchStatusEntries(*pLonger, list);
    EXPECT_EQ(1, list.GetCount());
    EXPECT_EQ(1, Obtained(SIM_RES_PRINTER_HANDLE));

    while (JobMonitorEntry* pEntry = list.GetFirst())
        RemoveJobMonitor(pEntry, list);
}

} // namespace
