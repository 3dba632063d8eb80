// Change notifications of the simulated spooler: the waitable handle, the change word, the
// PRINTER_NOTIFY_INFO blocks, discarded data and the refresh call.
#include "sim_test_util.h"

using namespace simtest;

namespace
{

constexpr WCHAR kTarget[] = L"ORLUME 470 Photo Printer";

struct Note
{
    WORD type;
    WORD field;
    DWORD id;
    DWORD data;
    bool operator==(const Note&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Note& n)
{
    return os << "{" << n.type << "," << n.field << "," << n.id << ",0x" << std::hex << n.data
              << std::dec << "}";
}

struct Delivery
{
    BOOL ok = FALSE;
    DWORD change = 0xDEAD;
    bool block = false;
    DWORD flags = 0;
    std::vector<Note> notes;
};

// Registers as the program's watcher does: job status entries through the options, driver
// deletion through the change word.
class Watch
{
public:
    explicit Watch(LPCWSTR printer = nullptr, DWORD filter = PRINTER_CHANGE_DELETE_PRINTER_DRIVER,
                   bool withOptions = true)
    {
        m_type.Type = JOB_NOTIFY_TYPE;
        m_type.Count = 1;
        m_type.pFields = &m_field;
        m_options.Version = 2;
        m_options.Count = 1;
        m_options.pTypes = &m_type;
        EXPECT_TRUE(OpenPrinterW(const_cast<LPWSTR>(printer), &m_hPrinter, nullptr));
        m_hChange = FindFirstPrinterChangeNotification(m_hPrinter, filter, 0,
                                                       withOptions ? &m_options : nullptr);
        EXPECT_NE(INVALID_HANDLE_VALUE, m_hChange);
    }
    ~Watch()
    {
        if (m_hChange != INVALID_HANDLE_VALUE)
        {
            EXPECT_TRUE(FindClosePrinterChangeNotification(m_hChange));
        }
        if (m_hPrinter != nullptr)
        {
            EXPECT_TRUE(ClosePrinter(m_hPrinter));
        }
    }
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;

    HANDLE Handle() const { return m_hChange; }
    bool Signalled() const { return WaitForSingleObject(m_hChange, 0) == WAIT_OBJECT_0; }

    Delivery Next(bool refresh = false)
    {
        Delivery d;
        m_options.Flags = refresh ? PRINTER_NOTIFY_OPTIONS_REFRESH : 0;
        void* info = reinterpret_cast<void*>(1);
        d.ok = FindNextPrinterChangeNotification(m_hChange, &d.change, &m_options, &info);
        m_options.Flags = 0;
        if (!d.ok)
            return d;
        if (info != nullptr)
        {
            const auto* block = static_cast<const PRINTER_NOTIFY_INFO*>(info);
            d.block = true;
            d.flags = block->Flags;
            EXPECT_EQ(2u, block->Version);
            for (DWORD i = 0; i < block->Count; ++i)
            {
                const PRINTER_NOTIFY_INFO_DATA& e = block->aData[i];
                d.notes.push_back({e.Type, e.Field, e.Id, e.NotifyData.adwData[0]});
            }
            EXPECT_TRUE(FreePrinterNotifyInfo(static_cast<PPRINTER_NOTIFY_INFO>(info)));
        }
        return d;
    }

private:
    HANDLE m_hPrinter = nullptr;
    HANDLE m_hChange = INVALID_HANDLE_VALUE;
    WORD m_field = JOB_NOTIFY_FIELD_STATUS;
    PRINTER_NOTIFY_OPTIONS_TYPE m_type{};
    PRINTER_NOTIFY_OPTIONS m_options{};
};

Note Status(DWORD job, DWORD status)
{
    return {JOB_NOTIFY_TYPE, JOB_NOTIFY_FIELD_STATUS, job, status};
}

class NotifyTest : public SimTest
{
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        ASSERT_TRUE(SimAddDriver(kTarget));
        ASSERT_TRUE(SimAddPrinter(L"Photo A", kTarget));
        ASSERT_TRUE(SimAddPrinter(L"Photo B", kTarget));
    }
};

TEST_F(NotifyTest, AJobChangeSignalsTheHandleAndDeliversItsStatus)
{
    {
        Watch watch;
        EXPECT_FALSE(watch.Signalled());
        ASSERT_TRUE(SimAddJob(L"Photo A", 5, JOB_STATUS_SPOOLING, nullptr));
        ASSERT_TRUE(SimSetJobStatus(5, JOB_STATUS_PRINTING));
        EXPECT_TRUE(watch.Signalled());
        EXPECT_TRUE(watch.Signalled()); // waiting does not reset it

        const Delivery d = watch.Next();
        ASSERT_TRUE(d.ok);
        EXPECT_EQ(0u, d.change); // job changes are not in the filter
        ASSERT_TRUE(d.block);
        EXPECT_EQ(0u, d.flags);
        EXPECT_EQ(
            (std::vector<Note>{Status(5, JOB_STATUS_SPOOLING), Status(5, JOB_STATUS_PRINTING)}),
            d.notes);
        EXPECT_FALSE(watch.Signalled()); // FindNext reset it

        // Nothing new: no block.
        const Delivery none = watch.Next();
        EXPECT_TRUE(none.ok);
        EXPECT_FALSE(none.block);
        EXPECT_EQ(0u, none.change);

        ASSERT_TRUE(SimDeleteJob(5));
        EXPECT_TRUE(watch.Signalled());
        EXPECT_EQ(std::vector<Note>{Status(5, JOB_STATUS_PRINTING | JOB_STATUS_DELETED)},
                  watch.Next().notes);
    }
    EXPECT_EQ(3u, SimCountEvents(SIM_EV_NOTIFY, 5));
    EXPECT_TRUE(SimIsBalanced());
}

TEST_F(NotifyTest, RegistrationsAreCounted)
{
    EXPECT_EQ(0u, SimCountRegistrations());
    {
        Watch a;
        Watch b(L"Photo A");
        EXPECT_EQ(2u, SimCountRegistrations());
    }
    EXPECT_EQ(0u, SimCountRegistrations());
}

TEST_F(NotifyTest, TheChangeWordCarriesOnlyTheFilteredBits)
{
    Watch watch;
    ASSERT_TRUE(SimQueueChange(PRINTER_CHANGE_ADD_JOB | PRINTER_CHANGE_SET_PRINTER));
    EXPECT_FALSE(watch.Signalled());
    ASSERT_TRUE(SimQueueChange(PRINTER_CHANGE_ADD_JOB | PRINTER_CHANGE_DELETE_PRINTER_DRIVER));
    EXPECT_TRUE(watch.Signalled());
    Delivery d = watch.Next();
    EXPECT_EQ(DWORD(PRINTER_CHANGE_DELETE_PRINTER_DRIVER), d.change);
    EXPECT_FALSE(d.block);

    // Removing a driver reports its deletion together with pending job entries.
    ASSERT_TRUE(SimAddJob(L"Photo B", 9, JOB_STATUS_PRINTING, nullptr));
    ASSERT_TRUE(SimRemoveDriver(kTarget));
    d = watch.Next();
    EXPECT_EQ(DWORD(PRINTER_CHANGE_DELETE_PRINTER_DRIVER), d.change);
    EXPECT_EQ(std::vector<Note>{Status(9, JOB_STATUS_PRINTING)}, d.notes);
    EXPECT_EQ(0u, watch.Next().change);

    // A registration for job changes gets those bits too.
    Watch jobs(nullptr, PRINTER_CHANGE_JOB, false);
    ASSERT_TRUE(SimSetJobStatus(9, JOB_STATUS_PRINTED));
    ASSERT_TRUE(SimAddJob(L"Photo A", 10, 0, nullptr));
    d = jobs.Next();
    EXPECT_EQ(DWORD(PRINTER_CHANGE_SET_JOB | PRINTER_CHANGE_ADD_JOB), d.change);
    EXPECT_FALSE(d.block); // no options, no entries
}

TEST_F(NotifyTest, DiscardedDataStopsDeliveryUntilTheRefreshCall)
{
    ASSERT_TRUE(SimAddJob(L"Photo A", 1, JOB_STATUS_PRINTING, nullptr));
    ASSERT_TRUE(SimAddJob(L"Photo B", 2, JOB_STATUS_SPOOLING, nullptr));
    Watch watch;
    ASSERT_TRUE(SimSetJobStatus(1, JOB_STATUS_PRINTING | JOB_STATUS_PAUSED));
    ASSERT_TRUE(SimQueueDiscarded());
    EXPECT_TRUE(watch.Signalled());
    Delivery d = watch.Next();
    ASSERT_TRUE(d.block);
    EXPECT_EQ(DWORD(PRINTER_NOTIFY_INFO_DISCARDED), d.flags);
    EXPECT_TRUE(d.notes.empty());

    // Nothing is delivered until the refresh call.
    ASSERT_TRUE(SimSetJobStatus(2, JOB_STATUS_PRINTING));
    EXPECT_FALSE(watch.Signalled());
    d = watch.Next();
    EXPECT_EQ(DWORD(PRINTER_NOTIFY_INFO_DISCARDED), d.flags);
    EXPECT_TRUE(d.notes.empty());

    // The refresh block holds the current status of every job.
    d = watch.Next(true);
    ASSERT_TRUE(d.ok);
    ASSERT_TRUE(d.block);
    EXPECT_EQ(0u, d.flags);
    EXPECT_EQ((std::vector<Note>{Status(1, JOB_STATUS_PRINTING | JOB_STATUS_PAUSED),
                                 Status(2, JOB_STATUS_PRINTING)}),
              d.notes);

    // Delivery goes on as before.
    ASSERT_TRUE(SimDeleteJob(2));
    EXPECT_TRUE(watch.Signalled());
    EXPECT_EQ(std::vector<Note>{Status(2, JOB_STATUS_PRINTING | JOB_STATUS_DELETED)},
              watch.Next().notes);
}

TEST_F(NotifyTest, ABurstIsDeliveredWholeAndAnOverflowIsDiscarded)
{
    ASSERT_TRUE(SimAddJob(L"Photo A", 1, 0, nullptr));
    Watch watch;
    constexpr DWORD kBurst = 10000;
    for (DWORD i = 0; i < kBurst; ++i)
        ASSERT_TRUE(SimSetJobStatus(1, i));
    Delivery d = watch.Next();
    ASSERT_EQ(kBurst, d.notes.size());
    for (DWORD i = 0; i < kBurst; ++i)
        ASSERT_EQ(Status(1, i), d.notes[i]);

    // Beyond what the queue holds, the data is discarded.
    for (DWORD i = 0; i < 20000; ++i)
        ASSERT_TRUE(SimSetJobStatus(1, JOB_STATUS_PRINTING));
    d = watch.Next();
    EXPECT_EQ(DWORD(PRINTER_NOTIFY_INFO_DISCARDED), d.flags);
    EXPECT_TRUE(d.notes.empty());
    d = watch.Next(true);
    EXPECT_EQ(std::vector<Note>{Status(1, JOB_STATUS_PRINTING)}, d.notes);
}

TEST_F(NotifyTest, RegistrationsSeeWhatTheirHandleAndOptionsCover)
{
    Watch server;
    Watch printerB(L"Photo B");
    Watch changesOnly(nullptr, PRINTER_CHANGE_DELETE_PRINTER_DRIVER, false);
    ASSERT_TRUE(SimAddJob(L"Photo A", 1, JOB_STATUS_PRINTING, nullptr));
    ASSERT_TRUE(SimAddJob(L"Photo B", 2, JOB_STATUS_PRINTING, nullptr));
    // An entry of another type and one of another field.
    ASSERT_TRUE(SimQueueEntry(PRINTER_NOTIFY_TYPE, PRINTER_NOTIFY_FIELD_STATUS, 0, 1));
    ASSERT_TRUE(SimQueueEntry(JOB_NOTIFY_TYPE, JOB_NOTIFY_FIELD_PAGES_PRINTED, 2, 3));
    ASSERT_TRUE(SimQueueEntry(JOB_NOTIFY_TYPE, JOB_NOTIFY_FIELD_STATUS, 77, JOB_STATUS_PRINTING));

    EXPECT_EQ((std::vector<Note>{Status(1, JOB_STATUS_PRINTING), Status(2, JOB_STATUS_PRINTING),
                                 Status(77, JOB_STATUS_PRINTING)}),
              server.Next().notes);
    EXPECT_EQ((std::vector<Note>{Status(2, JOB_STATUS_PRINTING), Status(77, JOB_STATUS_PRINTING)}),
              printerB.Next().notes);
    EXPECT_FALSE(changesOnly.Signalled());
    EXPECT_FALSE(changesOnly.Next().block);
}

TEST_F(NotifyTest, EntriesOfOtherTypesReachRegistrationsThatAskForThem)
{
    WORD fields[] = {PRINTER_NOTIFY_FIELD_STATUS};
    PRINTER_NOTIFY_OPTIONS_TYPE type{PRINTER_NOTIFY_TYPE, 0, 0, 0, 1, fields};
    PRINTER_NOTIFY_OPTIONS options{2, 0, 1, &type};
    HANDLE server = nullptr;
    ASSERT_TRUE(OpenPrinterW(nullptr, &server, nullptr));
    HANDLE change = FindFirstPrinterChangeNotification(server, 0, 0, &options);
    ASSERT_NE(INVALID_HANDLE_VALUE, change);
    ASSERT_TRUE(SimAddJob(L"Photo A", 1, JOB_STATUS_PRINTING, nullptr));
    EXPECT_NE(WAIT_OBJECT_0, WaitForSingleObject(change, 0));
    ASSERT_TRUE(SimQueueEntry(PRINTER_NOTIFY_TYPE, PRINTER_NOTIFY_FIELD_STATUS, 4, 0x80));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(change, 0));
    DWORD word = 0;
    void* info = nullptr;
    ASSERT_TRUE(FindNextPrinterChangeNotification(change, &word, nullptr, &info));
    ASSERT_NE(nullptr, info);
    const auto* block = static_cast<PRINTER_NOTIFY_INFO*>(info);
    ASSERT_EQ(1u, block->Count);
    EXPECT_EQ(PRINTER_NOTIFY_TYPE, block->aData[0].Type);
    EXPECT_EQ(4u, block->aData[0].Id);
    EXPECT_EQ(0x80u, block->aData[0].NotifyData.adwData[0]);
    EXPECT_TRUE(FreePrinterNotifyInfo(static_cast<PPRINTER_NOTIFY_INFO>(info)));
    EXPECT_TRUE(FindClosePrinterChangeNotification(change));
    EXPECT_TRUE(ClosePrinter(server));
}

TEST_F(NotifyTest, BadHandlesAndArgumentsAreRefused)
{
    HANDLE server = nullptr;
    ASSERT_TRUE(OpenPrinterW(nullptr, &server, nullptr));
    WORD field = JOB_NOTIFY_FIELD_STATUS;
    PRINTER_NOTIFY_OPTIONS_TYPE type{JOB_NOTIFY_TYPE, 0, 0, 0, 1, &field};
    PRINTER_NOTIFY_OPTIONS badVersion{1, 0, 1, &type};
    PRINTER_NOTIFY_OPTIONS noTypes{2, 0, 1, nullptr};
    const struct
    {
        const char* name;
        HANDLE printer;
        DWORD filter;
        void* options;
        DWORD error;
    } firsts[] = {
        {"null handle", nullptr, PRINTER_CHANGE_JOB, nullptr, ERROR_INVALID_HANDLE},
        {"unknown handle", reinterpret_cast<HANDLE>(0x4321), PRINTER_CHANGE_JOB, nullptr,
         ERROR_INVALID_HANDLE},
        {"nothing asked", server, 0, nullptr, ERROR_INVALID_PARAMETER},
        {"options version 1", server, 0, &badVersion, ERROR_INVALID_PARAMETER},
        {"options without types", server, 0, &noTypes, ERROR_INVALID_PARAMETER},
    };
    for (const auto& f : firsts)
    {
        SCOPED_TRACE(f.name);
        SetLastError(0);
        EXPECT_EQ(INVALID_HANDLE_VALUE,
                  FindFirstPrinterChangeNotification(f.printer, f.filter, 0, f.options));
        EXPECT_EQ(f.error, GetLastError());
    }
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr); // waitable, but not a registration
    for (HANDLE bad : {HANDLE(nullptr), INVALID_HANDLE_VALUE, event})
    {
        DWORD change = 0;
        void* info = nullptr;
        SetLastError(0);
        EXPECT_FALSE(FindNextPrinterChangeNotification(bad, &change, nullptr, &info));
        EXPECT_EQ(DWORD(ERROR_INVALID_HANDLE), GetLastError());
        SetLastError(0);
        EXPECT_FALSE(FindClosePrinterChangeNotification(bad));
        EXPECT_EQ(DWORD(ERROR_INVALID_HANDLE), GetLastError());
    }
    CloseHandle(event);
    PRINTER_NOTIFY_INFO notOurs{};
    for (PPRINTER_NOTIFY_INFO bad : {PPRINTER_NOTIFY_INFO(nullptr), &notOurs})
    {
        SetLastError(0);
        EXPECT_FALSE(FreePrinterNotifyInfo(bad));
        EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), GetLastError());
    }
    // A closed registration is gone.
    HANDLE change = FindFirstPrinterChangeNotification(server, PRINTER_CHANGE_JOB, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, change);
    EXPECT_TRUE(FindClosePrinterChangeNotification(change));
    EXPECT_FALSE(FindClosePrinterChangeNotification(change));
    EXPECT_TRUE(ClosePrinter(server));
    EXPECT_TRUE(SimIsBalanced());
}

TEST_F(NotifyTest, AccountingCatchesBlocksAndHandlesKept)
{
    HANDLE server = nullptr;
    ASSERT_TRUE(OpenPrinterW(nullptr, &server, nullptr));
    WORD field = JOB_NOTIFY_FIELD_STATUS;
    PRINTER_NOTIFY_OPTIONS_TYPE type{JOB_NOTIFY_TYPE, 0, 0, 0, 1, &field};
    PRINTER_NOTIFY_OPTIONS options{2, 0, 1, &type};
    HANDLE change = FindFirstPrinterChangeNotification(server, 0, 0, &options);
    ASSERT_NE(INVALID_HANDLE_VALUE, change);
    ASSERT_TRUE(SimAddJob(L"Photo A", 3, JOB_STATUS_PRINTING, nullptr));
    void* info = nullptr;
    DWORD word = 0;
    ASSERT_TRUE(FindNextPrinterChangeNotification(change, &word, &options, &info));
    ASSERT_NE(nullptr, info);
    SimAccounting a{};
    SimGetAccounting(&a);
    EXPECT_EQ(1, a.lObtained[SIM_RES_NOTIFY_BLOCK]);
    EXPECT_EQ(0, a.lReleased[SIM_RES_NOTIFY_BLOCK]);
    EXPECT_EQ(1, a.lObtained[SIM_RES_CHANGE_HANDLE]);
    EXPECT_FALSE(SimIsBalanced());
    EXPECT_TRUE(FreePrinterNotifyInfo(static_cast<PPRINTER_NOTIFY_INFO>(info)));
    EXPECT_FALSE(SimIsBalanced());
    EXPECT_TRUE(FindClosePrinterChangeNotification(change));
    EXPECT_FALSE(SimIsBalanced());
    EXPECT_TRUE(ClosePrinter(server));
    EXPECT_TRUE(SimIsBalanced());
}

TEST_F(NotifyTest, FaultsFailNotificationCalls)
{
    constexpr DWORD kError = ERROR_NOT_ENOUGH_MEMORY;
    HANDLE server = nullptr;
    ASSERT_TRUE(OpenPrinterW(nullptr, &server, nullptr));
    ASSERT_TRUE(SimSetFault(SIM_FIND_FIRST_CHANGE, kError, 0, 1, nullptr));
    SetLastError(0);
    EXPECT_EQ(INVALID_HANDLE_VALUE,
              FindFirstPrinterChangeNotification(server, PRINTER_CHANGE_JOB, 0, nullptr));
    EXPECT_EQ(kError, GetLastError());
    {
        Watch watch;
        ASSERT_TRUE(SimAddJob(L"Photo A", 1, JOB_STATUS_PRINTING, nullptr));
        ASSERT_TRUE(SimSetFault(SIM_FIND_NEXT_CHANGE, kError, 0, 1, nullptr));
        SetLastError(0);
        EXPECT_FALSE(watch.Next().ok);
        EXPECT_EQ(kError, GetLastError());
        EXPECT_TRUE(watch.Signalled()); // a failed call resets nothing
        EXPECT_EQ(std::vector<Note>{Status(1, JOB_STATUS_PRINTING)}, watch.Next().notes);

        // A failing FreePrinterNotifyInfo keeps the block, and the accounting shows it.
        ASSERT_TRUE(SimSetJobStatus(1, JOB_STATUS_PRINTED));
        void* info = nullptr;
        DWORD word = 0;
        ASSERT_TRUE(FindNextPrinterChangeNotification(watch.Handle(), &word, nullptr, &info));
        ASSERT_TRUE(SimSetFault(SIM_FREE_NOTIFY_INFO, kError, 0, 1, nullptr));
        EXPECT_FALSE(FreePrinterNotifyInfo(static_cast<PPRINTER_NOTIFY_INFO>(info)));
        EXPECT_FALSE(SimIsBalanced());
        EXPECT_TRUE(FreePrinterNotifyInfo(static_cast<PPRINTER_NOTIFY_INFO>(info)));

        ASSERT_TRUE(SimSetFault(SIM_FIND_CLOSE_CHANGE, kError, 0, 1, nullptr));
        EXPECT_FALSE(FindClosePrinterChangeNotification(watch.Handle()));
    }
    EXPECT_TRUE(ClosePrinter(server));
    EXPECT_TRUE(SimIsBalanced());
}

// The change handle is a real waitable object: another thread wakes on a change.
TEST_F(NotifyTest, AWaitingThreadWakes)
{
    Watch watch;
    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    struct Ctx
    {
        HANDLE handles[2];
        DWORD result;
    } ctx{{stop, watch.Handle()}, 0};
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](void* p) -> DWORD
        {
            auto* c = static_cast<Ctx*>(p);
            c->result = WaitForMultipleObjects(2, c->handles, FALSE, 20000);
            return 0;
        },
        &ctx, 0, nullptr);
    ASSERT_TRUE(SimAddJob(L"Photo B", 4, JOB_STATUS_PRINTING, nullptr));
    WaitForSingleObject(thread, INFINITE);
    EXPECT_EQ(WAIT_OBJECT_0 + 1, ctx.result);
    CloseHandle(thread);
    CloseHandle(stop);
}

} // namespace
