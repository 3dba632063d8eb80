// The job monitor list on its own, and the two routines that tie its entries to running monitors.
#include "discovery_test_util.h"

#include "JobMonitorList.h"

#include <afxwin.h>

#include <optional>
#include <vector>

using namespace disctest;

namespace
{

// ---------------------------------------------------------------------------------------------
// The list holds pointers in the order they were added, one per job id.

class JobMonitorListTest : public ::testing::Test
{
protected:
    std::vector<DWORD> Jobs(CJobMonitorList list) const
    {
        std::vector<DWORD> ids;
        while (JobMonitorEntry* pEntry = list.GetFirst())
        {
            ids.push_back(pEntry->dwJobId);
            list.Remove(pEntry);
        }
        return ids;
    }

    JobMonitorEntry m_a{1, nullptr, nullptr};
    JobMonitorEntry m_b{2, nullptr, nullptr};
    JobMonitorEntry m_c{3, nullptr, nullptr};
    CJobMonitorList m_list;
};

TEST_F(JobMonitorListTest, AddRefusesASecondEntryForTheSameJob)
{
    ASSERT_EQ(1, m_list.Add(&m_a));
    ASSERT_EQ(1, m_list.Add(&m_b));
    JobMonitorEntry sameJob{1, nullptr, nullptr};

    EXPECT_EQ(0, m_list.Add(&sameJob));
    EXPECT_EQ(0, m_list.Add(&m_a));
    EXPECT_EQ(2, m_list.GetCount());
    EXPECT_EQ((std::vector<DWORD>{1, 2}), Jobs(m_list));
    EXPECT_EQ(&m_a, m_list.FindByJobId(1));
}

TEST_F(JobMonitorListTest, RemoveTakesOutThatVeryEntry)
{
    m_list.Add(&m_a);
    m_list.Add(&m_b);
    JobMonitorEntry sameJob{1, nullptr, nullptr};

    m_list.Remove(&sameJob);
    m_list.Remove(&m_c);
    EXPECT_EQ(2, m_list.GetCount());
    EXPECT_EQ(&m_a, m_list.FindByJobId(1));

    m_list.Remove(&m_a);
    EXPECT_EQ(1, m_list.GetCount());
    EXPECT_EQ(nullptr, m_list.FindByJobId(1));
    EXPECT_EQ(&m_b, m_list.GetFirst());

    m_list.Remove(&m_a);
    EXPECT_EQ(1, m_list.GetCount());
}

TEST_F(JobMonitorListTest, FindByJobIdAnswersOnlyRecordedJobs)
{
    EXPECT_EQ(nullptr, m_list.FindByJobId(1));
    m_list.Add(&m_a);
    m_list.Add(&m_c);
    EXPECT_EQ(&m_a, m_list.FindByJobId(1));
    EXPECT_EQ(&m_c, m_list.FindByJobId(3));
    EXPECT_EQ(nullptr, m_list.FindByJobId(2));
    EXPECT_EQ(nullptr, m_list.FindByJobId(0));
}

TEST_F(JobMonitorListTest, GetFirstYieldsTheOldestEntry)
{
    EXPECT_EQ(nullptr, m_list.GetFirst());
    m_list.Add(&m_a);
    m_list.Add(&m_b);
    m_list.Add(&m_c);
    EXPECT_EQ(&m_a, m_list.GetFirst());
    m_list.Remove(&m_a);
    EXPECT_EQ(&m_b, m_list.GetFirst());
    m_list.Remove(&m_c);
    EXPECT_EQ(&m_b, m_list.GetFirst());
    m_list.Remove(&m_b);
    EXPECT_EQ(nullptr, m_list.GetFirst());
    EXPECT_EQ(0, m_list.GetCount());
}

// ---------------------------------------------------------------------------------------------
// AddJobMonitor and RemoveJobMonitor with real monitors on the simulated printer.

constexpr WCHAR kPrinter[] = L"Photo Studio A";

class JobMonitorTest : public SimSessionTest
{
protected:
    void SetUp() override
    {
        SimSessionTest::SetUp();
        ASSERT_TRUE(SimAddDriver(kTargetDriver));
        ASSERT_TRUE(SimAddPrinter(kPrinter, kTargetDriver));
        ASSERT_TRUE(SimAddJob(kPrinter, 61, JOB_STATUS_PRINTING, nullptr));
        ASSERT_TRUE(SimAddJob(kPrinter, 62, JOB_STATUS_PRINTING, nullptr));
    }

    void TearDown() override
    {
        while (JobMonitorEntry* pEntry = m_list->GetFirst())
            RemoveJobMonitor(pEntry, *m_list);
        m_list.reset(); // gives back the list's own storage
        SimSessionTest::TearDown();
    }

    std::optional<CJobMonitorList> m_list{std::in_place};
};

TEST_F(JobMonitorTest, TwoJobsOnOnePrinterRunAndStopApart)
{
    ASSERT_EQ(1, AddJobMonitor(61, kPrinter, *m_list));
    ASSERT_EQ(1, AddJobMonitor(62, kPrinter, *m_list));
    ASSERT_EQ(2, m_list->GetCount());
    JobMonitorEntry* pFirst = m_list->GetFirst();
    ASSERT_EQ(61u, pFirst->dwJobId);
    const JobMonitorEntry* pSecond = m_list->FindByJobId(62);
    ASSERT_NE(nullptr, pSecond);
    EXPECT_NE(pFirst->hStopEvent, pSecond->hStopEvent);
    EXPECT_NE(pFirst->pThread, pSecond->pThread);
    ASSERT_TRUE(WaitPolled(61));
    ASSERT_TRUE(WaitPolled(62));
    EXPECT_EQ(kPrinter, PolledPrinter(61));

    // Stopping the first leaves the second running.
    RemoveJobMonitor(pFirst, *m_list);
    EXPECT_EQ(1, m_list->GetCount());
    EXPECT_EQ(pSecond, m_list->GetFirst());
    EXPECT_EQ(1, Released(SIM_RES_BIDI_SPL)) << "the first monitor has ended";
    EXPECT_EQ(1, CountDialogs());
    const DWORD nPolls = Polls(62);
    EXPECT_TRUE(WaitFor([&] { return Polls(62) > nPolls; }));
}

TEST_F(JobMonitorTest, RemovingAMonitorThatEndedByItselfReleasesItsEntry)
{
    // Without a bidi spooler object the monitor gives up and its thread ends.
    ASSERT_TRUE(SimSetFault(SIM_CREATE_BIDI_SPL, E_FAIL, 0, 0, nullptr));
    ASSERT_EQ(1, AddJobMonitor(61, kPrinter, *m_list));
    JobMonitorEntry* pEntry = m_list->GetFirst();
    ASSERT_NE(nullptr, pEntry);
    ASSERT_TRUE(WaitFor([&] { return HasEnded(pEntry->pThread->m_hThread); }));

    RemoveJobMonitor(pEntry, *m_list);
    EXPECT_EQ(0, m_list->GetCount());
    EXPECT_EQ(nullptr, m_list->GetFirst());
    EXPECT_EQ(0u, Polls(61));
}

class JobMonitorNameTest : public JobMonitorTest, public ::testing::WithParamInterface<LPCWSTR>
{
};

TEST_P(JobMonitorNameTest, WithoutAPrinterNameNothingIsStarted)
{
    const int nThreads = CountThreads();
    const long nLive = LiveAllocations();
    const int nResult = AddJobMonitor(61, GetParam(), *m_list);
    EXPECT_EQ(nLive, LiveAllocations()) << "the entry was not freed";
    EXPECT_EQ(nThreads, CountThreads());
    EXPECT_EQ(0, nResult);
    EXPECT_EQ(0, m_list->GetCount());
    EXPECT_EQ(nullptr, m_list->FindByJobId(61));
}

INSTANTIATE_TEST_SUITE_P(Names, JobMonitorNameTest, ::testing::Values(L"", nullptr),
                         [](const auto& info) { return info.param ? "Empty" : "Null"; });

} // namespace
