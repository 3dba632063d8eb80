// Bad spooler notifications: discarded data again and again, a deletion lost with discarded data,
// job ids the spooler does not know or gives out again, entries of other types and fields, a burst
// of 10,000 entries in one block, and a driver deletion in the same block as status entries.
#include "watcher_harness.h"

#include "JobMonitorList.h"

#include <memory>

namespace
{

using namespace rel;

constexpr oracle::Values kError = {2009, 0x1A2B, 1, 0};

// Holds the watcher's reads back (they fail) until Release, so that what is queued meanwhile
// arrives in one block.
class CHeldReads
{
public:
    CHeldReads()
    {
        m_bHeld = SimSetFault(SIM_FIND_NEXT_CHANGE, ERROR_NOT_ENOUGH_MEMORY, 0, 0, L"");
    }
    ~CHeldReads() { Release(); }
    bool Held() const { return m_bHeld != FALSE; }
    void Release()
    {
        if (m_bHeld)
            SimClearFaults();
        m_bHeld = FALSE;
    }

private:
    BOOL m_bHeld;
};

TEST_F(WatcherTest, RepeatedDiscardedDataStartsEachJobOnce)
{
    ASSERT_TRUE(StartWatcher());
    ASSERT_NE(nullptr, AddWatchedJob(1, 1));
    {
        CHeldReads held;
        ASSERT_TRUE(held.Held());
        ASSERT_TRUE(SimQueueDiscarded());
        ASSERT_TRUE(SimQueueDiscarded());
        // Dropped by the spooler while data is discarded: the refresh reports it.
        ASSERT_TRUE(SimAddJob(Printer(2).c_str(), 2, JOB_STATUS_PRINTING, nullptr));
    }
    EXPECT_TRUE(WaitPolls(2, 1));
    ASSERT_TRUE(SimQueueDiscarded());
    ASSERT_TRUE(SimAddJob(Printer(1).c_str(), 3, JOB_STATUS_PRINTING, nullptr));
    ASSERT_TRUE(SimQueueDiscarded());
    EXPECT_TRUE(WaitPolls(3, 1));
    // Every refresh reported job 1 again: still one monitor (one dialog) per job.
    const DWORD dwPolls = Polls(3);
    ASSERT_TRUE(WaitPolls(3, dwPolls + 1));
    EXPECT_EQ(3u, Dialogs().size());
}

// A deletion lost with discarded data: the refresh lists the jobs there are and does not stop the
// monitor of one that went. It keeps reading (the printer no longer knows the job, so the dialog
// keeps what it showed) until the spooler reports that id deleted, or the watch ends.
TEST_F(WatcherTest, DeletionLostWithDiscardedDataLeavesTheMonitorUntilTheIdIsReportedDeleted)
{
    ASSERT_TRUE(StartWatcher());
    const HWND hDlg = AddWatchedJob(1, 1, &kError);
    ASSERT_NE(nullptr, hDlg);
    ASSERT_TRUE(WaitShows(hDlg, kError));
    {
        CHeldReads held;
        ASSERT_TRUE(held.Held());
        ASSERT_TRUE(SimQueueDiscarded());
        ASSERT_TRUE(SimDeleteJob(1));
    }
    ASSERT_NE(nullptr, AddWatchedJob(2, 2));
    const DWORD dwPolls = Polls(1);
    ASSERT_TRUE(WaitPolls(1, dwPolls + 2));
    EXPECT_TRUE(Shows(hDlg, kError));

    ASSERT_TRUE(SimQueueEntry(JOB_NOTIFY_TYPE, JOB_NOTIFY_FIELD_STATUS, 1, JOB_STATUS_DELETED));
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(hDlg); }));
}

TEST_F(WatcherTest, UnknownAndReusedJobIds)
{
    ASSERT_TRUE(SimAddDriver(kOtherDriver));
    ASSERT_TRUE(SimAddPrinter(L"Other", kOtherDriver));
    ASSERT_TRUE(StartWatcher());
    // Ids the spooler does not know, printing and deleted; and a job of another driver.
    for (const DWORD id : {4242u, 0u, 0xFFFFFFFFu})
    {
        ASSERT_TRUE(
            SimQueueEntry(JOB_NOTIFY_TYPE, JOB_NOTIFY_FIELD_STATUS, id, JOB_STATUS_PRINTING));
        ASSERT_TRUE(
            SimQueueEntry(JOB_NOTIFY_TYPE, JOB_NOTIFY_FIELD_STATUS, id, JOB_STATUS_DELETED));
    }
    ASSERT_TRUE(SimAddJob(L"Other", 7, JOB_STATUS_PRINTING, nullptr));
    const HWND hFirst = AddWatchedJob(5, 1, &kError);
    ASSERT_NE(nullptr, hFirst);
    ASSERT_TRUE(WaitPolls(5, 2));
    // (Id 0 cannot be told apart in the log: only the one job was asked for.)
    EXPECT_EQ(Polls(0), Polls(5));
    EXPECT_EQ(0u, Polls(4242) + Polls(0xFFFFFFFF) + Polls(7));
    EXPECT_EQ(1u, Dialogs().size());

    // Printing again and again while watched: no second monitor.
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(SimSetJobStatus(5, JOB_STATUS_PRINTING));
    // The id given out again after the job left: a new monitor, on the new job's printer.
    ASSERT_TRUE(SimDeleteJob(5));
    ASSERT_TRUE(WaitFor([&] { return !IsWindow(hFirst); }));
    const HWND hSecond = AddWatchedJob(5, 2, &kError);
    ASSERT_NE(nullptr, hSecond);
    EXPECT_TRUE(WaitShows(hSecond, kError));
    const DWORD total = SimGetEventCount();
    std::wstring printer;
    for (DWORD i = total; i-- > 0;)
    {
        SimEvent e{};
        if (SimGetEvent(i, &e) && e.dwKind == SIM_EV_STATUS_REQUEST && e.dwJobId == 5)
        {
            printer = e.szPrinter;
            break;
        }
    }
    EXPECT_EQ(Printer(2), printer);
    EXPECT_EQ(1u, Dialogs().size());
}

// Entries of other types and fields, and statuses that are neither printing nor deleted, in one
// block handed to the watcher's dispatch on this thread.
TEST_F(WatcherTest, EntriesOfOtherTypesAndFieldsAreSkipped)
{
    struct Row
    {
        WORD wType;
        WORD wField;
        DWORD dwId;
        DWORD dwStatus;
    };
    const Row rows[] = {
        {JOB_NOTIFY_TYPE, JOB_NOTIFY_FIELD_PAGES_PRINTED, 1, JOB_STATUS_PRINTING},
        {JOB_NOTIFY_TYPE, JOB_NOTIFY_FIELD_STATUS_STRING, 1, JOB_STATUS_PRINTING},
        {PRINTER_NOTIFY_TYPE, PRINTER_NOTIFY_FIELD_STATUS, 1, JOB_STATUS_PRINTING},
        {0x7777, JOB_NOTIFY_FIELD_STATUS, 1, JOB_STATUS_PRINTING},
        {JOB_NOTIFY_TYPE, 0xFFFF, 1, JOB_STATUS_PRINTING},
        {JOB_NOTIFY_TYPE, JOB_NOTIFY_FIELD_STATUS, 1, JOB_STATUS_PRINTING | JOB_STATUS_PRINTED},
        {JOB_NOTIFY_TYPE, JOB_NOTIFY_FIELD_STATUS, 1, JOB_STATUS_SPOOLING},
        {JOB_NOTIFY_TYPE, JOB_NOTIFY_FIELD_STATUS, 2, JOB_STATUS_PRINTING | JOB_STATUS_DELETED},
        {JOB_NOTIFY_TYPE, JOB_NOTIFY_FIELD_STATUS, 3, JOB_STATUS_PRINTING},
        {JOB_NOTIFY_TYPE, JOB_NOTIFY_FIELD_STATUS, 3, JOB_STATUS_PRINTING},
        {JOB_NOTIFY_TYPE, JOB_NOTIFY_FIELD_STATUS, 4, JOB_STATUS_PRINTING},
        {JOB_NOTIFY_TYPE, JOB_NOTIFY_FIELD_STATUS, 4, JOB_STATUS_DELETED},
    };
    for (DWORD id = 1; id <= 4; ++id)
        ASSERT_TRUE(SimAddJob(Printer(1).c_str(), id, JOB_STATUS_SPOOLING, nullptr));
    const size_t cb =
        sizeof(PRINTER_NOTIFY_INFO) + (std::size(rows) - 1) * sizeof(PRINTER_NOTIFY_INFO_DATA);
    std::vector<BYTE> buffer(cb);
    auto* pInfo = reinterpret_cast<PRINTER_NOTIFY_INFO*>(buffer.data());
    pInfo->Version = 2;
    pInfo->Count = static_cast<DWORD>(std::size(rows));
    for (size_t i = 0; i < std::size(rows); ++i)
    {
        PRINTER_NOTIFY_INFO_DATA& d = pInfo->aData[i];
        d.Type = rows[i].wType;
        d.Field = rows[i].wField;
        d.Id = rows[i].dwId;
        d.NotifyData.adwData[0] = rows[i].dwStatus;
    }
    CJobMonitorList list;
    DispatchStatusEntries(*pInfo, list);
    EXPECT_EQ(1, list.GetCount());
    EXPECT_NE(nullptr, list.FindByJobId(3));
    EXPECT_TRUE(WaitPolls(3, 1));
    EXPECT_EQ(0u, Polls(1) + Polls(2));
    while (JobMonitorEntry* pEntry = list.GetFirst())
        RemoveJobMonitor(pEntry, list);
}

// 10,000 entries in one block: unknown jobs printing and deleted, a watched job printing again,
// a printed one; at its end a job leaves and another starts.
TEST_F(WatcherTest, BurstOfTenThousandEntriesInOneBlock)
{
    ASSERT_TRUE(StartWatcher());
    const HWND hKept = AddWatchedJob(1, 1);
    const HWND hLeaving = AddWatchedJob(3, 2);
    ASSERT_NE(nullptr, hKept);
    ASSERT_NE(nullptr, hLeaving);
    ASSERT_TRUE(SimAddJob(Printer(2).c_str(), 2, JOB_STATUS_SPOOLING, nullptr));
    {
        CHeldReads held;
        ASSERT_TRUE(held.Held());
        for (DWORD i = 0; i < 9998; ++i)
        {
            static const DWORD kStatus[] = {JOB_STATUS_PRINTING, JOB_STATUS_DELETED,
                                            JOB_STATUS_PRINTING,
                                            JOB_STATUS_PRINTING | JOB_STATUS_PRINTED};
            const DWORD id = i % 4 < 2 ? 100000 + i : (i % 4 == 2 ? 1 : 3);
            ASSERT_TRUE(
                SimQueueEntry(JOB_NOTIFY_TYPE, JOB_NOTIFY_FIELD_STATUS, id, kStatus[i % 4]));
        }
        ASSERT_TRUE(SimQueueEntry(JOB_NOTIFY_TYPE, JOB_NOTIFY_FIELD_STATUS, 3, JOB_STATUS_DELETED));
        ASSERT_TRUE(
            SimQueueEntry(JOB_NOTIFY_TYPE, JOB_NOTIFY_FIELD_STATUS, 2, JOB_STATUS_PRINTING));
    }
    EXPECT_TRUE(WaitPolls(2, 1, 60000));
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(hLeaving); }));
    EXPECT_TRUE(IsWindow(hKept));
    EXPECT_EQ(2u, Dialogs().size());
    const DWORD dwPolls = Polls(1);
    EXPECT_TRUE(WaitPolls(1, dwPolls + 1));
}

// A driver deletion and status entries in one block: with the target driver gone no entry is
// handled, the program is asked to close and every monitor stops; with it still installed the
// entries are handled as usual.
class DriverDeletionBlockTest : public WatcherTest, public ::testing::WithParamInterface<bool>
{
};

TEST_P(DriverDeletionBlockTest, EntriesAreHandledOnlyWhileTheDriverIsThere)
{
    const bool bTargetGone = GetParam();
    ASSERT_TRUE(SimAddDriver(kOtherDriver));
    ASSERT_TRUE(StartWatcher());
    const HWND hDlg = AddWatchedJob(1, 1);
    ASSERT_NE(nullptr, hDlg);
    ASSERT_TRUE(SimAddJob(Printer(2).c_str(), 2, JOB_STATUS_SPOOLING, nullptr));
    {
        CHeldReads held;
        ASSERT_TRUE(held.Held());
        ASSERT_TRUE(SimSetJobStatus(2, JOB_STATUS_PRINTING));
        ASSERT_TRUE(SimQueueEntry(JOB_NOTIFY_TYPE, JOB_NOTIFY_FIELD_STATUS, 1,
                                  JOB_STATUS_PRINTING | JOB_STATUS_DELETED));
        ASSERT_TRUE(SimRemoveDriver(bTargetGone ? kTargetDriver : kOtherDriver));
    }
    if (bTargetGone)
    {
        ASSERT_TRUE(m_watcher->WaitEnded());
        EXPECT_EQ(1, m_main->Closes());
        EXPECT_FALSE(IsWindow(hDlg));
        EXPECT_EQ(0u, Polls(2));
    }
    else
    {
        EXPECT_TRUE(WaitPolls(2, 1));
        EXPECT_TRUE(WaitFor([&] { return !IsWindow(hDlg); }));
        EXPECT_EQ(0, m_main->Closes());
        EXPECT_FALSE(m_watcher->Ended());
    }
}

INSTANTIATE_TEST_SUITE_P(Spooler, DriverDeletionBlockTest, ::testing::Bool(),
                         [](const auto& info)
                         { return info.param ? "TargetDriverGone" : "OtherDriverGone"; });

} // namespace
