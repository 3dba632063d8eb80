// The target driver name, the driver list, the job lookup and the initial scan against the
// simulated spooler, with every handle and buffer accounted for.
#include "discovery_test_util.h"

#include "JobMonitorList.h"
#include "SpoolerQueries.h"

#include <optional>
#include <ostream>
#include <string>
#include <vector>

using namespace disctest;

namespace
{

// ---------------------------------------------------------------------------------------------
// The driver name: an exact, case-sensitive match only.

struct NameCase
{
    const char* pszLabel;
    LPCWSTR pszName;
    BOOL bTarget;
};

void PrintTo(const NameCase& c, std::ostream* os)
{
    *os << c.pszLabel;
}

class DriverNameTest : public ::testing::TestWithParam<NameCase>
{
};

TEST_P(DriverNameTest, OnlyTheExactNameIsTheTarget)
{
    const NameCase& c = GetParam();
    EXPECT_EQ(c.bTarget, IsTargetDriverName(c.pszName) ? TRUE : FALSE);
}

const NameCase kNameCases[] = {
    {"Exact", L"ORLUME 470 Photo Printer", TRUE},
    {"Null", nullptr, FALSE},
    {"Empty", L"", FALSE},
    {"LowerCase", L"orlume 470 photo printer", FALSE},
    {"UpperCase", L"ORLUME 470 PHOTO PRINTER", FALSE},
    {"TrailingBlank", L"ORLUME 470 Photo Printer ", FALSE},
    {"LeadingBlank", L" ORLUME 470 Photo Printer", FALSE},
    {"Prefix", L"ORLUME 470 Photo", FALSE},
    {"Extension", L"ORLUME 470 Photo Printer XL", FALSE},
    {"OtherModel", L"ORLUME 480 Photo Printer", FALSE},
};

INSTANTIATE_TEST_SUITE_P(Names, DriverNameTest, ::testing::ValuesIn(kNameCases),
                         [](const auto& info) { return std::string(info.param.pszLabel); });

// ---------------------------------------------------------------------------------------------
// Whether the target driver is gone: the installed drivers in any order, and failed reads, which
// never count as gone.

struct DriverListCase
{
    const char* pszLabel;
    std::vector<LPCWSTR> drivers; // installed in this order
    DWORD dwFaultSkip;            // EnumPrinterDriversW calls that succeed before one fails
    bool bFault;
    BOOL bGone;
};

void PrintTo(const DriverListCase& c, std::ostream* os)
{
    *os << c.pszLabel;
}

class DriverGoneTest : public SimSessionTest, public ::testing::WithParamInterface<DriverListCase>
{
};

TEST_P(DriverGoneTest, AnswersFromTheInstalledDrivers)
{
    const DriverListCase& c = GetParam();
    for (LPCWSTR pszDriver : c.drivers)
        ASSERT_TRUE(SimAddDriver(pszDriver));
    if (c.bFault)
    {
        ASSERT_TRUE(
            SimSetFault(SIM_ENUM_DRIVERS, RPC_S_SERVER_UNAVAILABLE, c.dwFaultSkip, 1, nullptr));
    }

    const long nLive = LiveAllocations();
    const BOOL bGone = IsTargetDriverGone();
    EXPECT_EQ(nLive, LiveAllocations()) << "the driver buffer was not released";
    EXPECT_EQ(c.bGone, bGone ? TRUE : FALSE);
}

const DriverListCase kDriverListCases[] = {
    {"NoDrivers", {}, 0, false, TRUE},
    {"TargetAlone", {kTargetDriver}, 0, false, FALSE},
    {"TargetFirst", {kTargetDriver, L"Alpha", L"Beta"}, 0, false, FALSE},
    {"TargetInTheMiddle", {L"Alpha", kTargetDriver, L"Beta"}, 0, false, FALSE},
    {"TargetLast", {L"Alpha", L"Beta", kTargetDriver}, 0, false, FALSE},
    {"OnlyOthers", {L"Alpha", kOtherDriver}, 0, false, TRUE},
    {"OnlyNearNames",
     {L"ORLUME 470 PHOTO PRINTER", L"ORLUME 470 Photo", L"ORLUME 470 Photo Printer 2"},
     0,
     false,
     TRUE},
    // A read that fails keeps the program running, whatever is installed.
    {"SizeQueryFailsWithTarget", {kTargetDriver}, 0, true, FALSE},
    {"SizeQueryFailsWithOthers", {L"Alpha", L"Beta"}, 0, true, FALSE},
    {"SizeQueryFailsWithNoDrivers", {}, 0, true, FALSE},
    {"FillCallFailsWithOthers", {L"Alpha", L"Beta"}, 1, true, FALSE},
    {"FillCallFailsWithTarget", {L"Alpha", kTargetDriver}, 1, true, FALSE},
};

INSTANTIATE_TEST_SUITE_P(Drivers, DriverGoneTest, ::testing::ValuesIn(kDriverListCases),
                         [](const auto& info) { return std::string(info.param.pszLabel); });

// ---------------------------------------------------------------------------------------------
// The job lookup through the local print server.

constexpr WCHAR kPhotoA[] = L"Photo Studio A";
constexpr WCHAR kPhotoB[] = L"Photo Studio B";
constexpr WCHAR kPlain[] = L"Office Printer";

class QueryJobInfoTest : public SimSessionTest
{
protected:
    void SetUp() override
    {
        SimSessionTest::SetUp();
        ASSERT_TRUE(SimAddDriver(kTargetDriver));
        ASSERT_TRUE(SimAddDriver(kOtherDriver));
        ASSERT_TRUE(SimAddPrinter(kPlain, kOtherDriver));
        ASSERT_TRUE(SimAddPrinter(kPhotoA, kTargetDriver));
        // The job's own driver is recorded apart from its printer's.
        ASSERT_TRUE(SimAddJob(kPhotoA, 41, JOB_STATUS_PRINTING, kOtherDriver));
        ASSERT_TRUE(SimAddJob(kPlain, 42, JOB_STATUS_PRINTING, nullptr));
    }
};

TEST_F(QueryJobInfoTest, ReturnsTheJobsOwnPrinterAndDriver)
{
    {
        const CSpoolBuffer<JOB_INFO_2W> job = QueryJobInfo(41);
        ASSERT_TRUE(job);
        EXPECT_EQ(41u, job->JobId);
        EXPECT_STREQ(kPhotoA, job->pPrinterName);
        EXPECT_STREQ(kOtherDriver, job->pDriverName);
    }
    {
        const CSpoolBuffer<JOB_INFO_2W> job = QueryJobInfo(42);
        ASSERT_TRUE(job);
        EXPECT_STREQ(kPlain, job->pPrinterName);
        EXPECT_STREQ(kOtherDriver, job->pDriverName);
    }
    // Each lookup opens and closes its own server handle.
    EXPECT_EQ(2, Obtained(SIM_RES_PRINTER_HANDLE));
}

struct LookupFailure
{
    const char* pszLabel;
    DWORD dwJobId;
    SimCall call; // 0: no fault
    DWORD dwSkip;
};

void PrintTo(const LookupFailure& c, std::ostream* os)
{
    *os << c.pszLabel;
}

class QueryJobInfoFailureTest : public QueryJobInfoTest,
                                public ::testing::WithParamInterface<LookupFailure>
{
};

TEST_P(QueryJobInfoFailureTest, AnswersNothingAndReleasesEverything)
{
    const LookupFailure& c = GetParam();
    if (c.call != 0)
    {
        ASSERT_TRUE(SimSetFault(c.call, ERROR_ACCESS_DENIED, c.dwSkip, 1, nullptr));
    }
    EXPECT_FALSE(QueryJobInfo(c.dwJobId));
}

const LookupFailure kLookupFailures[] = {
    {"UnknownJob", 4242, SimCall(0), 0},
    {"ServerCannotBeOpened", 41, SIM_OPEN_PRINTER, 0},
    {"SizeQueryFails", 41, SIM_GET_JOB, 0},
    {"FillCallFails", 41, SIM_GET_JOB, 1},
};

INSTANTIATE_TEST_SUITE_P(Failures, QueryJobInfoFailureTest, ::testing::ValuesIn(kLookupFailures),
                         [](const auto& info) { return std::string(info.param.pszLabel); });

// ---------------------------------------------------------------------------------------------
// The initial scan. Monitors it starts are stopped before each test ends; the test program's
// thread count must come back to where it was.

class ScanTest : public SimSessionTest
{
protected:
    void SetUp() override
    {
        SimSessionTest::SetUp();
        ASSERT_TRUE(SimAddDriver(kTargetDriver));
        ASSERT_TRUE(SimAddDriver(kOtherDriver));
    }

    void TearDown() override
    {
        while (JobMonitorEntry* pEntry = m_list->GetFirst())
            RemoveJobMonitor(pEntry, *m_list);
        EXPECT_EQ(0, m_list->GetCount());
        m_list.reset(); // gives back the list's own storage
        SimSessionTest::TearDown();
    }

    // The job ids in the list, oldest first.
    std::vector<DWORD> ListedJobs()
    {
        std::vector<DWORD> ids;
        CJobMonitorList copy = *m_list;
        while (JobMonitorEntry* pEntry = copy.GetFirst())
        {
            ids.push_back(pEntry->dwJobId);
            copy.Remove(pEntry);
        }
        return ids;
    }

    std::optional<CJobMonitorList> m_list{std::in_place};
};

TEST_F(ScanTest, OpensOnlyTargetPrintersThatHaveJobs)
{
    ASSERT_TRUE(SimAddPrinter(kPlain, kOtherDriver));
    ASSERT_TRUE(SimAddJob(kPlain, 1, JOB_STATUS_PRINTING, nullptr));
    ASSERT_TRUE(SimAddPrinter(L"Photo Idle", kTargetDriver));
    ASSERT_TRUE(SimAddPrinter(L"Photo Near", L"ORLUME 470 PHOTO PRINTER"));
    ASSERT_TRUE(SimAddJob(L"Photo Near", 3, JOB_STATUS_PRINTING, nullptr));
    ASSERT_TRUE(SimAddPrinter(kPhotoA, kTargetDriver));
    ASSERT_TRUE(SimAddJob(kPhotoA, 2, JOB_STATUS_PRINTING, nullptr));

    ScanPrintingJobs(*m_list);

    EXPECT_EQ(std::vector<DWORD>{2}, ListedJobs());
    EXPECT_EQ(1, Obtained(SIM_RES_PRINTER_HANDLE)) << "only the one target printer with jobs";
    EXPECT_EQ(1, Released(SIM_RES_PRINTER_HANDLE));
    ASSERT_TRUE(WaitPolled(2));
    EXPECT_EQ(0u, Polls(1));
    EXPECT_EQ(0u, Polls(3));
}

TEST_F(ScanTest, MonitorsEachJobThatIsPrinting)
{
    ASSERT_TRUE(SimAddPrinter(kPhotoA, kTargetDriver));
    const struct
    {
        DWORD dwJobId;
        DWORD dwStatus;
    } jobs[] = {
        {104, JOB_STATUS_PRINTING}, {231, JOB_STATUS_PRINTING | JOB_STATUS_PRINTED},
        {317, JOB_STATUS_PRINTING}, {452, JOB_STATUS_PRINTING | JOB_STATUS_DELETED},
        {518, JOB_STATUS_SPOOLING}, {666, 0},
        {777, JOB_STATUS_PRINTED},
    };
    for (const auto& job : jobs)
        ASSERT_TRUE(SimAddJob(kPhotoA, job.dwJobId, job.dwStatus, nullptr));

    ScanPrintingJobs(*m_list);

    EXPECT_EQ((std::vector<DWORD>{104, 317}), ListedJobs());
    const JobMonitorEntry* pFirst = m_list->FindByJobId(104);
    const JobMonitorEntry* pSecond = m_list->FindByJobId(317);
    ASSERT_NE(nullptr, pFirst);
    ASSERT_NE(nullptr, pSecond);
    // Each job has a stop event and a thread of its own.
    EXPECT_NE(pFirst->hStopEvent, pSecond->hStopEvent);
    EXPECT_NE(pFirst->pThread, pSecond->pThread);
    ASSERT_TRUE(WaitPolled(104));
    ASSERT_TRUE(WaitPolled(317));
    EXPECT_EQ(kPhotoA, PolledPrinter(104));
    EXPECT_EQ(kPhotoA, PolledPrinter(317));
    EXPECT_EQ(2, CountDialogs());
    EXPECT_EQ(Obtained(SIM_RES_PRINTER_HANDLE), Released(SIM_RES_PRINTER_HANDLE));
}

TEST_F(ScanTest, MonitorsTwoTargetPrintersEachUnderItsOwnName)
{
    ASSERT_TRUE(SimAddPrinter(kPhotoA, kTargetDriver));
    ASSERT_TRUE(SimAddPrinter(kPhotoB, kTargetDriver));
    ASSERT_TRUE(SimAddJob(kPhotoA, 21, JOB_STATUS_PRINTING, nullptr));
    ASSERT_TRUE(SimAddJob(kPhotoB, 22, JOB_STATUS_PRINTING, nullptr));

    ScanPrintingJobs(*m_list);

    EXPECT_EQ((std::vector<DWORD>{21, 22}), ListedJobs());
    ASSERT_TRUE(WaitPolled(21));
    ASSERT_TRUE(WaitPolled(22));
    EXPECT_EQ(kPhotoA, PolledPrinter(21));
    EXPECT_EQ(kPhotoB, PolledPrinter(22));
}

// A printer that cannot be read is passed over; the next one is still scanned.
struct PrinterFailure
{
    const char* pszLabel;
    SimCall call;
    DWORD dwSkip;
};

void PrintTo(const PrinterFailure& c, std::ostream* os)
{
    *os << c.pszLabel;
}

class ScanPrinterFailureTest : public ScanTest, public ::testing::WithParamInterface<PrinterFailure>
{
};

TEST_P(ScanPrinterFailureTest, PassesThePrinterOver)
{
    const PrinterFailure& c = GetParam();
    ASSERT_TRUE(SimAddPrinter(kPhotoA, kTargetDriver));
    ASSERT_TRUE(SimAddPrinter(kPhotoB, kTargetDriver));
    ASSERT_TRUE(SimAddJob(kPhotoA, 31, JOB_STATUS_PRINTING, nullptr));
    ASSERT_TRUE(SimAddJob(kPhotoB, 32, JOB_STATUS_PRINTING, nullptr));
    ASSERT_TRUE(SimSetFault(c.call, ERROR_ACCESS_DENIED, c.dwSkip, 0, kPhotoA));

    ScanPrintingJobs(*m_list);

    EXPECT_EQ(std::vector<DWORD>{32}, ListedJobs());
    EXPECT_EQ(Obtained(SIM_RES_PRINTER_HANDLE), Released(SIM_RES_PRINTER_HANDLE));
    ASSERT_TRUE(WaitPolled(32));
    EXPECT_EQ(kPhotoB, PolledPrinter(32));
}

const PrinterFailure kPrinterFailures[] = {
    {"CannotBeOpened", SIM_OPEN_PRINTER, 0},
    {"JobSizeQueryFails", SIM_ENUM_JOBS, 0},
    {"JobFillCallFails", SIM_ENUM_JOBS, 1},
};

INSTANTIATE_TEST_SUITE_P(Printers, ScanPrinterFailureTest, ::testing::ValuesIn(kPrinterFailures),
                         [](const auto& info) { return std::string(info.param.pszLabel); });

// No printer list, no monitors.
struct PrinterListCase
{
    const char* pszLabel;
    bool bPrinters;
    bool bFault;
    DWORD dwSkip;
};

void PrintTo(const PrinterListCase& c, std::ostream* os)
{
    *os << c.pszLabel;
}

class ScanPrinterListTest : public ScanTest, public ::testing::WithParamInterface<PrinterListCase>
{
};

TEST_P(ScanPrinterListTest, StartsNothing)
{
    const PrinterListCase& c = GetParam();
    if (c.bPrinters)
    {
        ASSERT_TRUE(SimAddPrinter(kPhotoA, kTargetDriver));
        ASSERT_TRUE(SimAddJob(kPhotoA, 51, JOB_STATUS_PRINTING, nullptr));
    }
    if (c.bFault)
    {
        ASSERT_TRUE(SimSetFault(SIM_ENUM_PRINTERS, ERROR_ACCESS_DENIED, c.dwSkip, 1, nullptr));
    }

    ScanPrintingJobs(*m_list);

    EXPECT_EQ(0, m_list->GetCount());
    EXPECT_EQ(0, Obtained(SIM_RES_PRINTER_HANDLE));
}

const PrinterListCase kPrinterListCases[] = {
    {"NoPrinters", false, false, 0},
    {"SizeQueryFails", true, true, 0},
    {"FillCallFails", true, true, 1},
};

INSTANTIATE_TEST_SUITE_P(PrinterList, ScanPrinterListTest, ::testing::ValuesIn(kPrinterListCases),
                         [](const auto& info) { return std::string(info.param.pszLabel); });

} // namespace
