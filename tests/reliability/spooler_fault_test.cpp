// Every spooler call of the printer watcher made to fail in turn, at each place it is made, with
// errors the spooler API documents: the watcher must neither crash nor hang, must come to the
// outcome its design names for that failure, and must give back what it obtained.
#include "watcher_harness.h"

#include <ostream>

namespace
{

using namespace rel;

// ---------------------------------------------------------------------------------------------
// At start: without the print server or its change notification the watcher asks the program to
// close, scans nothing, and ends by itself.

struct StartFailure
{
    const char* name;
    SimCall call;
    DWORD dwError;
};

void PrintTo(const StartFailure& f, std::ostream* os)
{
    *os << f.name;
}

class StartFailureTest : public WatcherTest, public ::testing::WithParamInterface<StartFailure>
{
};

TEST_P(StartFailureTest, AsksToCloseAndEnds)
{
    const StartFailure& f = GetParam();
    ASSERT_TRUE(SimAddJob(Printer(1).c_str(), 1, JOB_STATUS_PRINTING, nullptr));
    ASSERT_TRUE(SimSetFault(f.call, f.dwError, 0, 0, L""));

    m_watcher = std::make_unique<CWatcher>(m_main->Hwnd());
    ASSERT_TRUE(m_watcher->WaitEnded()) << "the watcher did not end by itself";
    EXPECT_TRUE(WaitFor([&] { return m_main->Closes() == 1; }));
    EXPECT_EQ(0u, SimCountRegistrations());
    EXPECT_EQ(0u, Polls(1)) << "a job was watched although the spooler could not be";
    EXPECT_TRUE(Dialogs().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Spooler, StartFailureTest,
    ::testing::Values(
        StartFailure{"ServerOpenSpoolerNotRunning", SIM_OPEN_PRINTER, RPC_S_SERVER_UNAVAILABLE},
        StartFailure{"ServerOpenAccessDenied", SIM_OPEN_PRINTER, ERROR_ACCESS_DENIED},
        StartFailure{"RegistrationInvalidHandle", SIM_FIND_FIRST_CHANGE, ERROR_INVALID_HANDLE},
        StartFailure{"RegistrationNotSupported", SIM_FIND_FIRST_CHANGE, ERROR_NOT_SUPPORTED},
        StartFailure{"RegistrationOutOfMemory", SIM_FIND_FIRST_CHANGE, ERROR_NOT_ENOUGH_MEMORY}),
    [](const auto& info) { return info.param.name; });

// ---------------------------------------------------------------------------------------------
// The initial scan: a printer it cannot read is passed over (its printing job goes unwatched until
// the job's next printing notice), the other printers are still scanned. Each row has a printer
// of its own with one printing job; all rows run in one scan.

enum class ScanOutcome
{
    Watched,
    Missed,
};

struct ScanRow
{
    SimCall call; // 0: no failure
    DWORD dwError;
    DWORD dwSkip; // 0: the first call of the printer (the size query), 1: the second
    ScanOutcome outcome;
    LONG lPrinterHandlesKept; // handles the failure leaves with the simulator
};

const ScanRow kScanRows[] = {
    {static_cast<SimCall>(0), 0, 0, ScanOutcome::Watched, 0},
    {SIM_OPEN_PRINTER, ERROR_INVALID_PRINTER_NAME, 0, ScanOutcome::Missed, 0},
    {SIM_OPEN_PRINTER, ERROR_ACCESS_DENIED, 0, ScanOutcome::Missed, 0},
    {SIM_ENUM_JOBS, ERROR_INVALID_HANDLE, 0, ScanOutcome::Missed, 0},
    {SIM_ENUM_JOBS, RPC_S_SERVER_UNAVAILABLE, 0, ScanOutcome::Missed, 0},
    {SIM_ENUM_JOBS, ERROR_NOT_ENOUGH_MEMORY, 1, ScanOutcome::Missed, 0},
    {SIM_CLOSE_PRINTER, ERROR_INVALID_HANDLE, 0, ScanOutcome::Watched, 1},
};
constexpr int kScanRowCount = static_cast<int>(std::size(kScanRows));

class ScanFailureTest : public WatcherTest
{
protected:
    int Printers() const override { return kScanRowCount + 1; }
};

TEST_F(ScanFailureTest, PassesOverThePrinterItCannotRead)
{
    LONG lHandlesKept = 0;
    for (int i = 0; i < kScanRowCount; ++i)
    {
        const ScanRow& row = kScanRows[i];
        const DWORD dwJob = static_cast<DWORD>(i + 1);
        ASSERT_TRUE(SimAddJob(Printer(i + 1).c_str(), dwJob, JOB_STATUS_PRINTING, nullptr));
        if (row.call != 0)
        {
            ASSERT_TRUE(SimSetFault(row.call, row.dwError, row.dwSkip, 1, Printer(i + 1).c_str()));
        }
        lHandlesKept += row.lPrinterHandlesKept;
    }
    ASSERT_TRUE(StartWatcher());

    // A job that starts printing now is handled after the scan: once it was asked for twice, any
    // monitor the scan started has long asked for its own job.
    const DWORD dwMarker = 100;
    ASSERT_TRUE(
        SimAddJob(Printer(kScanRowCount + 1).c_str(), dwMarker, JOB_STATUS_PRINTING, nullptr));
    ASSERT_TRUE(WaitPolls(dwMarker, 2));
    for (int i = 0; i < kScanRowCount; ++i)
    {
        const DWORD dwJob = static_cast<DWORD>(i + 1);
        if (kScanRows[i].outcome == ScanOutcome::Watched)
        {
            EXPECT_GT(Polls(dwJob), 0u) << "row " << i;
        }
        else
        {
            EXPECT_EQ(0u, Polls(dwJob)) << "row " << i;
        }
    }

    // The next printing notice of a passed-over job starts its monitor.
    for (int i = 0; i < kScanRowCount; ++i)
    {
        if (kScanRows[i].outcome == ScanOutcome::Missed)
            SimSetJobStatus(static_cast<DWORD>(i + 1), JOB_STATUS_PRINTING);
    }
    for (int i = 0; i < kScanRowCount; ++i)
        EXPECT_TRUE(WaitPolls(static_cast<DWORD>(i + 1), 1)) << "row " << i;
    EXPECT_EQ(static_cast<size_t>(kScanRowCount + 1), Dialogs().size());

    ASSERT_TRUE(m_watcher->Stop());
    std::vector<LONG> expected(SIM_RES_COUNT, 0);
    expected[SIM_RES_PRINTER_HANDLE] = lHandlesKept;
    EXPECT_EQ(expected, Held()) << AccountingText();
    m_bExpectBalanced = false;
}

// The printer list itself cannot be read: nothing is scanned, the watch goes on.
class PrinterListFailureTest : public WatcherTest, public ::testing::WithParamInterface<DWORD>
{
};

TEST_P(PrinterListFailureTest, ScansNothingAndWatches)
{
    ASSERT_TRUE(SimAddJob(Printer(1).c_str(), 1, JOB_STATUS_PRINTING, nullptr));
    ASSERT_TRUE(SimSetFault(SIM_ENUM_PRINTERS, ERROR_ACCESS_DENIED, GetParam(), 1, nullptr));
    ASSERT_TRUE(StartWatcher());
    ASSERT_TRUE(SimAddJob(Printer(2).c_str(), 2, JOB_STATUS_PRINTING, nullptr));
    ASSERT_TRUE(WaitPolls(2, 2));
    EXPECT_EQ(0u, Polls(1));
    SimSetJobStatus(1, JOB_STATUS_PRINTING);
    EXPECT_TRUE(WaitPolls(1, 1));
    EXPECT_EQ(0, m_main->Closes());
}

// 0: the size query fails; 1: the fill call.
INSTANTIATE_TEST_SUITE_P(Spooler, PrinterListFailureTest, ::testing::Values(0u, 1u),
                         [](const auto& info)
                         { return info.param == 0 ? "SizeQuery" : "FillCall"; });

// ---------------------------------------------------------------------------------------------
// A job starts printing: the notification read and the job lookup fail. A lookup that fails
// leaves the job unwatched until its next printing notice; a read that fails loses nothing the
// spooler still holds; a monitor whose bidi spooler object cannot be made ends, and its job stays
// unwatched until it leaves the spooler.

enum class StartOutcome
{
    Watched, // the job is watched all the same
    Missed,  // not watched now; watched at its next printing notice
    Dead,    // its monitor ends; a new job of the same id is watched again
};

// Which calls a failure is about.
enum class About
{
    Any,
    Server, // calls about the print server
    P1,     // calls about the job's printer
};

struct NotifyFailure
{
    const char* name;
    SimCall call;
    DWORD dwError;
    DWORD dwSkip;
    DWORD dwCount;
    About about;
    bool bDiscardFirst; // the job comes with the refresh after discarded data
    StartOutcome outcome;
    SimResource kept; // a resource the failure leaves with the simulator (SIM_RES_COUNT: none)
};

void PrintTo(const NotifyFailure& f, std::ostream* os)
{
    *os << f.name;
}

class NotifyFailureTest : public WatcherTest, public ::testing::WithParamInterface<NotifyFailure>
{
};

TEST_P(NotifyFailureTest, ComesToItsOutcome)
{
    const NotifyFailure& f = GetParam();
    const std::wstring p1 = Printer(1);
    const LPCWSTR about = f.about == About::Any      ? nullptr
                          : f.about == About::Server ? L""
                                                     : p1.c_str();
    ASSERT_TRUE(StartWatcher());
    if (f.bDiscardFirst)
    {
        // Reads fail while the data is discarded and the job starts: it comes with the refresh.
        ASSERT_TRUE(SimSetFault(SIM_FIND_NEXT_CHANGE, ERROR_NOT_ENOUGH_MEMORY, 0, 0, L""));
        ASSERT_TRUE(SimQueueDiscarded());
        ASSERT_TRUE(SimAddJob(p1.c_str(), 1, JOB_STATUS_PRINTING, nullptr));
        ASSERT_TRUE(SimSetFault(f.call, f.dwError, f.dwSkip, f.dwCount, about));
    }
    else
    {
        ASSERT_TRUE(SimSetFault(f.call, f.dwError, f.dwSkip, f.dwCount, about));
        ASSERT_TRUE(SimAddJob(p1.c_str(), 1, JOB_STATUS_PRINTING, nullptr));
    }

    if (f.outcome == StartOutcome::Dead)
    {
        // Its dialog comes and goes with the monitor.
        ASSERT_TRUE(WaitFor([] { return !Dialogs().empty(); }));
        ASSERT_TRUE(WaitFor([] { return Dialogs().empty(); }));
    }
    // A later job is handled after this one.
    ASSERT_TRUE(SimAddJob(Printer(2).c_str(), 2, JOB_STATUS_PRINTING, nullptr));
    ASSERT_TRUE(WaitPolls(2, 2));

    switch (f.outcome)
    {
    case StartOutcome::Watched:
        EXPECT_TRUE(WaitPolls(1, 1));
        break;
    case StartOutcome::Missed:
        EXPECT_EQ(0u, Polls(1));
        SimSetJobStatus(1, JOB_STATUS_PRINTING);
        EXPECT_TRUE(WaitPolls(1, 1)) << "the next printing notice did not start a monitor";
        break;
    case StartOutcome::Dead:
    {
        EXPECT_EQ(0u, Polls(1));
        // The job keeps its place in the list: printing again starts nothing.
        SimSetJobStatus(1, JOB_STATUS_PRINTING);
        const DWORD dwMarkerPolls = Polls(2);
        ASSERT_TRUE(WaitPolls(2, dwMarkerPolls + 2));
        EXPECT_EQ(0u, Polls(1));
        // Once it left, a job of the same id is a new job.
        ASSERT_TRUE(SimDeleteJob(1));
        ASSERT_TRUE(SimAddJob(Printer(1).c_str(), 1, JOB_STATUS_PRINTING, nullptr));
        EXPECT_TRUE(WaitPolls(1, 1));
        break;
    }
    }
    EXPECT_EQ(0, m_main->Closes());

    ASSERT_TRUE(m_watcher->Stop());
    std::vector<LONG> expected(SIM_RES_COUNT, 0);
    if (f.kept != SIM_RES_COUNT)
        expected[f.kept] = 1;
    EXPECT_EQ(expected, Held()) << AccountingText();
    m_bExpectBalanced = false;
}

constexpr SimResource kNone = SIM_RES_COUNT;

INSTANTIATE_TEST_SUITE_P(
    Spooler, NotifyFailureTest,
    ::testing::Values(
        NotifyFailure{"ReadFailsOnce", SIM_FIND_NEXT_CHANGE, ERROR_INVALID_HANDLE, 0, 1,
                      About::Server, false, StartOutcome::Watched, kNone},
        NotifyFailure{"ReadFailsThreeTimes", SIM_FIND_NEXT_CHANGE, ERROR_NOT_ENOUGH_MEMORY, 0, 3,
                      About::Server, false, StartOutcome::Watched, kNone},
        // The discarded block is read, the refresh call fails.
        NotifyFailure{"RefreshCallFails", SIM_FIND_NEXT_CHANGE, ERROR_NOT_ENOUGH_MEMORY, 1, 1,
                      About::Server, true, StartOutcome::Watched, kNone},
        // The refresh keeps failing for a while: it is made again until it succeeds.
        NotifyFailure{"RefreshCallFailsThreeTimes", SIM_FIND_NEXT_CHANGE, ERROR_NOT_ENOUGH_MEMORY,
                      1, 3, About::Server, true, StartOutcome::Watched, kNone},
        NotifyFailure{"LookupServerOpenFails", SIM_OPEN_PRINTER, RPC_S_SERVER_UNAVAILABLE, 0, 1,
                      About::Server, false, StartOutcome::Missed, kNone},
        NotifyFailure{"LookupSizeQueryFails", SIM_GET_JOB, ERROR_INVALID_PARAMETER, 0, 1, About::P1,
                      false, StartOutcome::Missed, kNone},
        NotifyFailure{"LookupFillCallFails", SIM_GET_JOB, ERROR_NOT_ENOUGH_MEMORY, 1, 1, About::P1,
                      false, StartOutcome::Missed, kNone},
        NotifyFailure{"LookupCloseFails", SIM_CLOSE_PRINTER, ERROR_INVALID_HANDLE, 0, 1,
                      About::Server, false, StartOutcome::Watched, SIM_RES_PRINTER_HANDLE},
        NotifyFailure{"BlockReleaseFails", SIM_FREE_NOTIFY_INFO, ERROR_INVALID_PARAMETER, 0, 1,
                      About::Any, false, StartOutcome::Watched, SIM_RES_NOTIFY_BLOCK},
        NotifyFailure{"BidiSpoolerNotRegistered", SIM_CREATE_BIDI_SPL,
                      static_cast<DWORD>(REGDB_E_CLASSNOTREG), 0, 1, About::Any, false,
                      StartOutcome::Dead, kNone},
        NotifyFailure{"BidiSpoolerOutOfMemory", SIM_CREATE_BIDI_SPL,
                      static_cast<DWORD>(E_OUTOFMEMORY), 0, 1, About::Any, false,
                      StartOutcome::Dead, kNone}),
    [](const auto& info) { return info.param.name; });

// ---------------------------------------------------------------------------------------------
// A driver is deleted: the driver list cannot be read. That never counts as the target driver
// being gone; the next deletion that finds it gone closes the program.

class DriverListFailureTest : public WatcherTest,
                              public ::testing::WithParamInterface<std::pair<DWORD, DWORD>>
{
};

TEST_P(DriverListFailureTest, NeverCountsAsTheDriverGone)
{
    const auto [dwSkip, dwError] = GetParam();
    ASSERT_TRUE(SimAddDriver(kOtherDriver));
    ASSERT_TRUE(StartWatcher());
    const HWND hDlg = AddWatchedJob(1, 1);
    ASSERT_NE(nullptr, hDlg);

    ASSERT_TRUE(SimSetFault(SIM_ENUM_DRIVERS, dwError, dwSkip, 1, nullptr));
    ASSERT_TRUE(SimRemoveDriver(kTargetDriver));
    // Handled: a job that starts printing afterwards is watched.
    ASSERT_TRUE(SimAddJob(Printer(2).c_str(), 2, JOB_STATUS_PRINTING, nullptr));
    ASSERT_TRUE(WaitPolls(2, 1));
    EXPECT_EQ(0, m_main->Closes());
    EXPECT_FALSE(m_watcher->Ended());

    // The next deletion reads the list: the target driver is gone.
    ASSERT_TRUE(SimRemoveDriver(kOtherDriver));
    ASSERT_TRUE(m_watcher->WaitEnded());
    EXPECT_EQ(1, m_main->Closes());
    EXPECT_TRUE(Dialogs().empty()) << "monitors left running";
}

INSTANTIATE_TEST_SUITE_P(Spooler, DriverListFailureTest,
                         ::testing::Values(std::pair<DWORD, DWORD>{0, ERROR_ACCESS_DENIED},
                                           std::pair<DWORD, DWORD>{0, RPC_S_SERVER_UNAVAILABLE},
                                           std::pair<DWORD, DWORD>{1, ERROR_INSUFFICIENT_BUFFER},
                                           std::pair<DWORD, DWORD>{1, ERROR_NOT_ENOUGH_MEMORY}),
                         [](const auto& info)
                         {
                             return std::string(info.param.first == 0 ? "SizeQuery" : "FillCall") +
                                    "Error" + std::to_string(info.param.second);
                         });

// ---------------------------------------------------------------------------------------------
// Releases at the end fail: the watcher still ends at once; what could not be released stays
// with the spooler, everything else comes back.

struct EndFailure
{
    const char* name;
    SimCall call;
    SimResource kept;
};

class EndFailureTest : public WatcherTest, public ::testing::WithParamInterface<EndFailure>
{
};

TEST_P(EndFailureTest, EndsAndReleasesTheRest)
{
    ASSERT_TRUE(StartWatcher());
    ASSERT_NE(nullptr, AddWatchedJob(1, 1));
    ASSERT_TRUE(SimSetFault(GetParam().call, ERROR_INVALID_HANDLE, 0, 1, L""));
    ASSERT_TRUE(m_watcher->Stop());
    std::vector<LONG> expected(SIM_RES_COUNT, 0);
    expected[GetParam().kept] = 1;
    EXPECT_EQ(expected, Held()) << AccountingText();
    m_bExpectBalanced = false;
}

INSTANTIATE_TEST_SUITE_P(
    Spooler, EndFailureTest,
    ::testing::Values(EndFailure{"CloseNotification", SIM_FIND_CLOSE_CHANGE, SIM_RES_CHANGE_HANDLE},
                      EndFailure{"CloseServer", SIM_CLOSE_PRINTER, SIM_RES_PRINTER_HANDLE}),
    [](const auto& info) { return info.param.name; });

// Every read of the notifications fails for a while: nothing is learnt meanwhile, a stop request
// is still obeyed at once, and once reads work the jobs are there.
TEST_F(WatcherTest, ReadsThatKeepFailingNeitherHangNorLoseJobs)
{
    ASSERT_TRUE(StartWatcher());
    ASSERT_TRUE(SimSetFault(SIM_FIND_NEXT_CHANGE, ERROR_INVALID_HANDLE, 0, 0, L""));
    ASSERT_TRUE(SimAddJob(Printer(1).c_str(), 1, JOB_STATUS_PRINTING, nullptr));
    Sleep(300);
    EXPECT_EQ(0u, Polls(1));
    SimClearFaults();
    EXPECT_TRUE(WaitPolls(1, 1));

    ASSERT_TRUE(SimSetFault(SIM_FIND_NEXT_CHANGE, ERROR_INVALID_HANDLE, 0, 0, L""));
    ASSERT_TRUE(SimAddJob(Printer(2).c_str(), 2, JOB_STATUS_PRINTING, nullptr));
    EXPECT_TRUE(m_watcher->Stop()) << "the stop request was not obeyed while reads fail";
}

} // namespace
