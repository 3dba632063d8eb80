// The simulated spooler's queries against the documented contracts: handles, the two-call size
// pattern, strings packed inside the caller's buffer, levels and errors.
#include <cstddef>
#include <cstring>

#include "sim_test_util.h"

using namespace simtest;

namespace
{

constexpr WCHAR kTarget[] = L"ORLUME 470 Photo Printer";
constexpr WCHAR kOtherDriver[] = L"Office Laser";

class SpoolerTest : public SimTest
{
protected:
    // Two printers of the target driver and one of another; jobs on two of them.
    void AddModel()
    {
        ASSERT_TRUE(SimAddDriver(kOtherDriver));
        ASSERT_TRUE(SimAddDriver(kTarget));
        ASSERT_TRUE(SimAddPrinter(L"Photo A", kTarget));
        ASSERT_TRUE(SimAddPrinter(L"Office", kOtherDriver));
        ASSERT_TRUE(SimAddPrinter(L"Photo B", kTarget));
        ASSERT_TRUE(SimAddJob(L"Photo A", 11, JOB_STATUS_PRINTING, nullptr));
        ASSERT_TRUE(SimAddJob(L"Photo A", 12, JOB_STATUS_PRINTING | JOB_STATUS_PRINTED, nullptr));
        ASSERT_TRUE(SimAddJob(L"Photo A", 13, JOB_STATUS_SPOOLING, kOtherDriver));
        ASSERT_TRUE(SimAddJob(L"Office", 21, JOB_STATUS_PRINTING, nullptr));
    }
};

// The string fields of a record type, to check that they point into the caller's buffer.
template <typename T> struct StringFields;
template <> struct StringFields<PRINTER_INFO_1W>
{
    static constexpr size_t offsets[] = {offsetof(PRINTER_INFO_1W, pDescription),
                                         offsetof(PRINTER_INFO_1W, pName),
                                         offsetof(PRINTER_INFO_1W, pComment)};
};
template <> struct StringFields<PRINTER_INFO_2W>
{
    static constexpr size_t offsets[] = {
        offsetof(PRINTER_INFO_2W, pPrinterName), offsetof(PRINTER_INFO_2W, pShareName),
        offsetof(PRINTER_INFO_2W, pPortName),    offsetof(PRINTER_INFO_2W, pDriverName),
        offsetof(PRINTER_INFO_2W, pComment),     offsetof(PRINTER_INFO_2W, pLocation),
        offsetof(PRINTER_INFO_2W, pSepFile),     offsetof(PRINTER_INFO_2W, pPrintProcessor),
        offsetof(PRINTER_INFO_2W, pDatatype),    offsetof(PRINTER_INFO_2W, pParameters)};
};
template <> struct StringFields<PRINTER_INFO_4W>
{
    static constexpr size_t offsets[] = {offsetof(PRINTER_INFO_4W, pPrinterName)};
};
template <> struct StringFields<PRINTER_INFO_5W>
{
    static constexpr size_t offsets[] = {offsetof(PRINTER_INFO_5W, pPrinterName),
                                         offsetof(PRINTER_INFO_5W, pPortName)};
};
template <> struct StringFields<JOB_INFO_1W>
{
    static constexpr size_t offsets[] = {
        offsetof(JOB_INFO_1W, pPrinterName), offsetof(JOB_INFO_1W, pMachineName),
        offsetof(JOB_INFO_1W, pUserName), offsetof(JOB_INFO_1W, pDocument),
        offsetof(JOB_INFO_1W, pDatatype)};
};
template <> struct StringFields<JOB_INFO_2W>
{
    static constexpr size_t offsets[] = {
        offsetof(JOB_INFO_2W, pPrinterName),    offsetof(JOB_INFO_2W, pMachineName),
        offsetof(JOB_INFO_2W, pUserName),       offsetof(JOB_INFO_2W, pDocument),
        offsetof(JOB_INFO_2W, pNotifyName),     offsetof(JOB_INFO_2W, pDatatype),
        offsetof(JOB_INFO_2W, pPrintProcessor), offsetof(JOB_INFO_2W, pParameters),
        offsetof(JOB_INFO_2W, pDriverName)};
};
template <> struct StringFields<JOB_INFO_3>
{
    static constexpr size_t offsets[] = {0}; // no strings; the entry is skipped below
    static constexpr bool none = true;
};
template <> struct StringFields<DRIVER_INFO_1W>
{
    static constexpr size_t offsets[] = {offsetof(DRIVER_INFO_1W, pName)};
};
template <> struct StringFields<DRIVER_INFO_2W>
{
    static constexpr size_t offsets[] = {
        offsetof(DRIVER_INFO_2W, pName), offsetof(DRIVER_INFO_2W, pEnvironment),
        offsetof(DRIVER_INFO_2W, pDriverPath), offsetof(DRIVER_INFO_2W, pDataFile),
        offsetof(DRIVER_INFO_2W, pConfigFile)};
};

template <typename T> constexpr bool HasStrings()
{
    if constexpr (requires { StringFields<T>::none; })
        return false;
    else
        return true;
}

// A query in the two-call form: (buffer, size, &needed, &returned) -> BOOL.
using Query = std::function<BOOL(LPBYTE, DWORD, LPDWORD, LPDWORD)>;

// Runs the documented two-call pattern and checks its contract: the size query fails with
// ERROR_INSUFFICIENT_BUFFER and the size, one byte less is refused the same way, the exact size
// succeeds, and every string lies inside the caller's buffer and ends there. Returns the
// records (copied, with the buffer kept alive by `storage`).
template <typename T>
std::vector<T> TwoCall(const Query& query, std::vector<BYTE>& storage, DWORD expectedCount)
{
    DWORD needed = 0;
    DWORD returned = 0xDEAD;
    SetLastError(0);
    BOOL ok = query(nullptr, 0, &needed, &returned);
    if (expectedCount == 0)
    {
        EXPECT_TRUE(ok);
        EXPECT_EQ(0u, needed);
        EXPECT_EQ(0u, returned);
        storage.clear();
        return {};
    }
    EXPECT_FALSE(ok);
    EXPECT_EQ(DWORD(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    EXPECT_GE(needed, expectedCount * sizeof(T));
    EXPECT_EQ(0u, returned);

    std::vector<BYTE> small(needed - 1, 0xCC);
    DWORD needed2 = 0;
    SetLastError(0);
    EXPECT_FALSE(query(small.data(), needed - 1, &needed2, &returned));
    EXPECT_EQ(DWORD(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    EXPECT_EQ(needed, needed2);

    storage.assign(needed, 0xCC);
    EXPECT_TRUE(query(storage.data(), needed, &needed2, &returned));
    EXPECT_EQ(expectedCount, returned);
    std::vector<T> records(returned);
    std::memcpy(records.data(), storage.data(), returned * sizeof(T));
    if constexpr (HasStrings<T>())
    {
        const BYTE* begin = storage.data() + returned * sizeof(T);
        const BYTE* end = storage.data() + storage.size();
        for (const T& r : records)
        {
            for (size_t offset : StringFields<T>::offsets)
            {
                const auto* s = *reinterpret_cast<const WCHAR* const*>(
                    reinterpret_cast<const BYTE*>(&r) + offset);
                if (s == nullptr)
                    continue;
                const auto* p = reinterpret_cast<const BYTE*>(s);
                EXPECT_TRUE(p >= begin && p + (wcslen(s) + 1) * sizeof(WCHAR) <= end)
                    << "string at field offset " << offset << " lies outside the buffer";
            }
        }
    }
    return records;
}

TEST_F(SpoolerTest, HandlesOpenAndCloseAsDocumented)
{
    AddModel();
    HANDLE server = nullptr, printer = nullptr, other = nullptr;
    ASSERT_TRUE(OpenPrinterW(nullptr, &server, nullptr));
    ASSERT_TRUE(OpenPrinterW(const_cast<LPWSTR>(L"Photo A"), &printer, nullptr));
    // Names match without regard to case.
    ASSERT_TRUE(OpenPrinterW(const_cast<LPWSTR>(L"photo b"), &other, nullptr));
    EXPECT_NE(server, printer);

    HANDLE h = reinterpret_cast<HANDLE>(1);
    SetLastError(0);
    EXPECT_FALSE(OpenPrinterW(const_cast<LPWSTR>(L"Nowhere"), &h, nullptr));
    EXPECT_EQ(DWORD(ERROR_INVALID_PRINTER_NAME), GetLastError());
    EXPECT_EQ(nullptr, h);
    SetLastError(0);
    EXPECT_FALSE(OpenPrinterW(nullptr, nullptr, nullptr));
    EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), GetLastError());

    SimAccounting a{};
    SimGetAccounting(&a);
    EXPECT_EQ(3, a.lObtained[SIM_RES_PRINTER_HANDLE]);
    EXPECT_FALSE(SimIsBalanced());

    EXPECT_TRUE(ClosePrinter(server));
    EXPECT_TRUE(ClosePrinter(printer));
    EXPECT_TRUE(ClosePrinter(other));
    for (HANDLE bad : {HANDLE(nullptr), printer, reinterpret_cast<HANDLE>(0x1234)})
    {
        SetLastError(0);
        EXPECT_FALSE(ClosePrinter(bad));
        EXPECT_EQ(DWORD(ERROR_INVALID_HANDLE), GetLastError());
    }
    EXPECT_TRUE(SimIsBalanced());
}

TEST_F(SpoolerTest, EnumPrintersLevel2ReportsPrintersDriversAndJobCounts)
{
    AddModel();
    std::vector<BYTE> storage;
    const auto printers = TwoCall<PRINTER_INFO_2W>(
        [](LPBYTE b, DWORD cb, LPDWORD n, LPDWORD r)
        { return EnumPrintersW(PRINTER_ENUM_NAME, nullptr, 2, b, cb, n, r); },
        storage, 3);
    ASSERT_EQ(3u, printers.size());
    const struct
    {
        LPCWSTR name;
        LPCWSTR driver;
        DWORD jobs;
    } expected[] = {
        {L"Photo A", kTarget, 3}, {L"Office", kOtherDriver, 1}, {L"Photo B", kTarget, 0}};
    for (size_t i = 0; i < 3; ++i)
    {
        EXPECT_STREQ(expected[i].name, printers[i].pPrinterName);
        EXPECT_STREQ(expected[i].driver, printers[i].pDriverName);
        EXPECT_EQ(expected[i].jobs, printers[i].cJobs);
        EXPECT_EQ(nullptr, printers[i].pServerName);
    }
}

TEST_F(SpoolerTest, EnumPrintersLevelsFlagsAndErrors)
{
    AddModel();
    std::vector<BYTE> storage;
    const auto local = [](DWORD level)
    {
        return [level](LPBYTE b, DWORD cb, LPDWORD n, LPDWORD r)
        { return EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, level, b, cb, n, r); };
    };
    EXPECT_STREQ(L"Office", TwoCall<PRINTER_INFO_1W>(local(1), storage, 3)[1].pName);
    EXPECT_STREQ(L"Photo B", TwoCall<PRINTER_INFO_4W>(local(4), storage, 3)[2].pPrinterName);
    EXPECT_STREQ(L"USB001", TwoCall<PRINTER_INFO_5W>(local(5), storage, 3)[0].pPortName);

    // Only connections were asked for: this spooler has none.
    TwoCall<PRINTER_INFO_2W>(
        [](LPBYTE b, DWORD cb, LPDWORD n, LPDWORD r)
        { return EnumPrintersW(PRINTER_ENUM_CONNECTIONS, nullptr, 2, b, cb, n, r); },
        storage, 0);

    DWORD needed = 0, returned = 0;
    BYTE buffer[16];
    const struct
    {
        const char* name;
        DWORD flags;
        LPCWSTR server;
        DWORD level;
        LPBYTE buffer;
        DWORD cb;
        LPDWORD pNeeded;
        LPDWORD pReturned;
        DWORD error;
    } cases[] = {
        {"level 3", PRINTER_ENUM_LOCAL, nullptr, 3, nullptr, 0, &needed, &returned,
         ERROR_INVALID_LEVEL},
        {"level 0", PRINTER_ENUM_LOCAL, nullptr, 0, nullptr, 0, &needed, &returned,
         ERROR_INVALID_LEVEL},
        {"no size out", PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, nullptr, &returned,
         RPC_X_NULL_REF_POINTER},
        {"no count out", PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, nullptr,
         RPC_X_NULL_REF_POINTER},
        {"size without buffer", PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 16, &needed, &returned,
         ERROR_INVALID_USER_BUFFER},
        {"too small", PRINTER_ENUM_LOCAL, nullptr, 2, buffer, sizeof(buffer), &needed, &returned,
         ERROR_INSUFFICIENT_BUFFER},
        {"remote server", PRINTER_ENUM_NAME, L"\\\\ELSEWHERE", 2, nullptr, 0, &needed, &returned,
         ERROR_INVALID_NAME},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        SetLastError(0);
        EXPECT_FALSE(EnumPrintersW(c.flags, const_cast<LPWSTR>(c.server), c.level, c.buffer, c.cb,
                                   c.pNeeded, c.pReturned));
        EXPECT_EQ(c.error, GetLastError());
    }
}

TEST_F(SpoolerTest, NoPrintersAnswerTrueWithSizeZero)
{
    std::vector<BYTE> storage;
    TwoCall<PRINTER_INFO_2W>([](LPBYTE b, DWORD cb, LPDWORD n, LPDWORD r)
                             { return EnumPrintersW(PRINTER_ENUM_NAME, nullptr, 2, b, cb, n, r); },
                             storage, 0);
    TwoCall<DRIVER_INFO_1W>([](LPBYTE b, DWORD cb, LPDWORD n, LPDWORD r)
                            { return EnumPrinterDriversW(nullptr, nullptr, 1, b, cb, n, r); },
                            storage, 0);
}

TEST_F(SpoolerTest, EnumJobsWalksTheQueueWindow)
{
    AddModel();
    HANDLE h = nullptr;
    ASSERT_TRUE(OpenPrinterW(const_cast<LPWSTR>(L"Photo A"), &h, nullptr));
    std::vector<BYTE> storage;
    const auto window = [h](DWORD first, DWORD count, DWORD level)
    {
        return [=](LPBYTE b, DWORD cb, LPDWORD n, LPDWORD r)
        { return EnumJobsW(h, first, count, level, b, cb, n, r); };
    };
    const auto all = TwoCall<JOB_INFO_1W>(window(0, 3, 1), storage, 3);
    const DWORD ids[] = {11, 12, 13};
    const DWORD statuses[] = {JOB_STATUS_PRINTING, JOB_STATUS_PRINTING | JOB_STATUS_PRINTED,
                              JOB_STATUS_SPOOLING};
    for (DWORD i = 0; i < 3; ++i)
    {
        EXPECT_EQ(ids[i], all[i].JobId);
        EXPECT_EQ(statuses[i], all[i].Status);
        EXPECT_EQ(i + 1, all[i].Position);
        EXPECT_STREQ(L"Photo A", all[i].pPrinterName);
    }
    EXPECT_EQ(12u, TwoCall<JOB_INFO_1W>(window(1, 1, 1), storage, 1)[0].JobId);
    EXPECT_EQ(13u, TwoCall<JOB_INFO_1W>(window(2, 100, 1), storage, 1)[0].JobId);
    TwoCall<JOB_INFO_1W>(window(3, 5, 1), storage, 0);
    TwoCall<JOB_INFO_1W>(window(0, 0, 1), storage, 0);
    const auto level2 = TwoCall<JOB_INFO_2W>(window(0, 3, 2), storage, 3);
    EXPECT_STREQ(kTarget, level2[0].pDriverName);
    EXPECT_STREQ(kOtherDriver, level2[2].pDriverName);
    const auto level3 = TwoCall<JOB_INFO_3>(window(0, 3, 3), storage, 3);
    EXPECT_EQ(12u, level3[0].NextJobId);
    EXPECT_EQ(0u, level3[2].NextJobId);

    DWORD needed = 0, returned = 0;
    SetLastError(0);
    EXPECT_FALSE(EnumJobsW(h, 0, 3, 4, nullptr, 0, &needed, &returned));
    EXPECT_EQ(DWORD(ERROR_INVALID_LEVEL), GetLastError());
    SetLastError(0);
    EXPECT_FALSE(EnumJobsW(nullptr, 0, 3, 1, nullptr, 0, &needed, &returned));
    EXPECT_EQ(DWORD(ERROR_INVALID_HANDLE), GetLastError());
    // Jobs are enumerated per printer, not through the server.
    HANDLE server = nullptr;
    ASSERT_TRUE(OpenPrinterW(nullptr, &server, nullptr));
    SetLastError(0);
    EXPECT_FALSE(EnumJobsW(server, 0, 3, 1, nullptr, 0, &needed, &returned));
    EXPECT_EQ(DWORD(ERROR_INVALID_HANDLE), GetLastError());
    EXPECT_TRUE(ClosePrinter(server));

    // The printer is deleted while the handle is open.
    ASSERT_TRUE(SimRemovePrinter(L"Photo A"));
    SetLastError(0);
    EXPECT_FALSE(EnumJobsW(h, 0, 3, 1, nullptr, 0, &needed, &returned));
    EXPECT_EQ(DWORD(ERROR_INVALID_PRINTER_NAME), GetLastError());
    EXPECT_TRUE(ClosePrinter(h));
    EXPECT_TRUE(SimIsBalanced());
}

TEST_F(SpoolerTest, GetJobThroughTheServerFindsAJobOfAnyPrinter)
{
    AddModel();
    HANDLE server = nullptr, office = nullptr;
    ASSERT_TRUE(OpenPrinterW(nullptr, &server, nullptr));
    ASSERT_TRUE(OpenPrinterW(const_cast<LPWSTR>(L"Office"), &office, nullptr));
    std::vector<BYTE> storage;
    const auto get = [](HANDLE h, DWORD job, DWORD level)
    {
        return [=](LPBYTE b, DWORD cb, LPDWORD n, LPDWORD r)
        {
            *r = 0;
            const BOOL ok = GetJobW(h, job, level, b, cb, n);
            if (ok)
                *r = 1;
            return ok;
        };
    };
    const struct
    {
        DWORD job;
        LPCWSTR printer;
        LPCWSTR driver; // the driver recorded with the job
    } cases[] = {
        {11, L"Photo A", kTarget}, {13, L"Photo A", kOtherDriver}, {21, L"Office", kOtherDriver}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.job);
        const auto job = TwoCall<JOB_INFO_2W>(get(server, c.job, 2), storage, 1);
        EXPECT_EQ(c.job, job[0].JobId);
        EXPECT_STREQ(c.printer, job[0].pPrinterName);
        EXPECT_STREQ(c.driver, job[0].pDriverName);
    }
    EXPECT_EQ(21u, TwoCall<JOB_INFO_1W>(get(office, 21, 1), storage, 1)[0].JobId);

    const struct
    {
        const char* name;
        HANDLE h;
        DWORD job;
        DWORD level;
        DWORD error;
    } errors[] = {
        {"unknown job", server, 99, 2, ERROR_INVALID_PARAMETER},
        {"job of another printer", office, 11, 2, ERROR_INVALID_PARAMETER},
        {"level 4", server, 11, 4, ERROR_INVALID_LEVEL},
        {"null handle", nullptr, 11, 2, ERROR_INVALID_HANDLE},
    };
    for (const auto& e : errors)
    {
        SCOPED_TRACE(e.name);
        DWORD needed = 0xDEAD;
        SetLastError(0);
        EXPECT_FALSE(GetJobW(e.h, e.job, e.level, nullptr, 0, &needed));
        EXPECT_EQ(e.error, GetLastError());
        if (e.error != ERROR_INVALID_HANDLE)
        {
            EXPECT_EQ(0u, needed);
        }
    }
    SetLastError(0);
    EXPECT_FALSE(GetJobW(server, 11, 2, nullptr, 0, nullptr));
    EXPECT_EQ(DWORD(RPC_X_NULL_REF_POINTER), GetLastError());
    EXPECT_TRUE(ClosePrinter(server));
    EXPECT_TRUE(ClosePrinter(office));
}

TEST_F(SpoolerTest, EnumPrinterDriversByLevelAndEnvironment)
{
    AddModel();
    std::vector<BYTE> storage;
    const auto drivers = [](LPCWSTR env, DWORD level)
    {
        return [=](LPBYTE b, DWORD cb, LPDWORD n, LPDWORD r)
        { return EnumPrinterDriversW(nullptr, const_cast<LPWSTR>(env), level, b, cb, n, r); };
    };
    const auto level1 = TwoCall<DRIVER_INFO_1W>(drivers(nullptr, 1), storage, 2);
    EXPECT_STREQ(kOtherDriver, level1[0].pName);
    EXPECT_STREQ(kTarget, level1[1].pName);
    const auto level2 = TwoCall<DRIVER_INFO_2W>(drivers(L"Windows x64", 2), storage, 2);
    EXPECT_STREQ(kTarget, level2[1].pName);
    EXPECT_STREQ(L"Windows x64", level2[1].pEnvironment);
    EXPECT_EQ(3u, level2[1].cVersion);
    // Another known environment has no drivers installed here.
    TwoCall<DRIVER_INFO_1W>(drivers(L"Windows NT x86", 1), storage, 0);

    DWORD needed = 0, returned = 0;
    SetLastError(0);
    EXPECT_FALSE(EnumPrinterDriversW(nullptr, const_cast<LPWSTR>(L"Windows 3.1"), 1, nullptr, 0,
                                     &needed, &returned));
    EXPECT_EQ(DWORD(ERROR_INVALID_ENVIRONMENT), GetLastError());
    SetLastError(0);
    EXPECT_FALSE(EnumPrinterDriversW(nullptr, nullptr, 9, nullptr, 0, &needed, &returned));
    EXPECT_EQ(DWORD(ERROR_INVALID_LEVEL), GetLastError());

    // The driver list follows removal.
    ASSERT_TRUE(SimRemoveDriver(kOtherDriver));
    EXPECT_STREQ(kTarget, TwoCall<DRIVER_INFO_1W>(drivers(nullptr, 1), storage, 1)[0].pName);
}

// Each spooler call fails once, after skipping, and only for its printer.
TEST_F(SpoolerTest, FaultsFailSpoolerCallsTheDocumentedWay)
{
    AddModel();
    constexpr DWORD kError = RPC_S_SERVER_UNAVAILABLE;
    HANDLE server = nullptr;
    ASSERT_TRUE(OpenPrinterW(nullptr, &server, nullptr));
    const auto probe = [&](SimCall call) -> BOOL
    {
        DWORD needed = 0, returned = 0;
        switch (call)
        {
        case SIM_OPEN_PRINTER:
        {
            HANDLE h = nullptr;
            const BOOL ok = OpenPrinterW(const_cast<LPWSTR>(L"Photo A"), &h, nullptr);
            if (ok)
                ClosePrinter(h);
            return ok;
        }
        case SIM_ENUM_PRINTERS:
            return EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &returned) ||
                   GetLastError() == ERROR_INSUFFICIENT_BUFFER;
        case SIM_ENUM_JOBS:
        {
            HANDLE h = nullptr;
            if (!OpenPrinterW(const_cast<LPWSTR>(L"Photo A"), &h, nullptr))
                return FALSE;
            const BOOL ok = EnumJobsW(h, 0, 3, 1, nullptr, 0, &needed, &returned) ||
                            GetLastError() == ERROR_INSUFFICIENT_BUFFER;
            ClosePrinter(h);
            return ok;
        }
        case SIM_GET_JOB:
            return GetJobW(server, 11, 2, nullptr, 0, &needed) ||
                   GetLastError() == ERROR_INSUFFICIENT_BUFFER;
        case SIM_ENUM_DRIVERS:
            return EnumPrinterDriversW(nullptr, nullptr, 1, nullptr, 0, &needed, &returned) ||
                   GetLastError() == ERROR_INSUFFICIENT_BUFFER;
        default:
            return FALSE;
        }
    };
    for (SimCall call :
         {SIM_OPEN_PRINTER, SIM_ENUM_PRINTERS, SIM_ENUM_JOBS, SIM_GET_JOB, SIM_ENUM_DRIVERS})
    {
        SCOPED_TRACE(testing::Message() << "call " << call);
        ASSERT_TRUE(SimSetFault(call, kError, 1, 1, nullptr));
        EXPECT_TRUE(probe(call));
        SetLastError(0);
        EXPECT_FALSE(probe(call));
        EXPECT_EQ(kError, GetLastError());
        EXPECT_TRUE(probe(call));
    }
    // A filter on another printer leaves these calls alone; "" names the server.
    ASSERT_TRUE(SimSetFault(SIM_OPEN_PRINTER, kError, 0, 0, L"Office"));
    ASSERT_TRUE(SimSetFault(SIM_GET_JOB, kError, 0, 0, L"Office"));
    EXPECT_TRUE(probe(SIM_OPEN_PRINTER));
    EXPECT_TRUE(probe(SIM_GET_JOB));
    ASSERT_TRUE(SimSetFault(SIM_OPEN_PRINTER, kError, 0, 1, L""));
    HANDLE h = nullptr;
    EXPECT_FALSE(OpenPrinterW(nullptr, &h, nullptr));
    EXPECT_TRUE(probe(SIM_OPEN_PRINTER));
    // A failing close leaves the handle open, and the accounting shows it.
    ASSERT_TRUE(SimSetFault(SIM_CLOSE_PRINTER, kError, 0, 1, nullptr));
    EXPECT_FALSE(ClosePrinter(server));
    EXPECT_FALSE(SimIsBalanced());
    EXPECT_TRUE(ClosePrinter(server));
    EXPECT_TRUE(SimIsBalanced());

    EXPECT_FALSE(SimSetFault(static_cast<SimCall>(99), kError, 0, 0, nullptr));
    EXPECT_FALSE(SimSetFault(SIM_GET_JOB, 0, 0, 0, nullptr));
}

TEST_F(SpoolerTest, ModelChangesAreChecked)
{
    const struct
    {
        const char* name;
        std::function<BOOL()> change;
        DWORD error;
    } cases[] = {
        {"driver twice", [] { return SimAddDriver(kTarget); },
         ERROR_PRINTER_DRIVER_ALREADY_INSTALLED},
        {"unknown driver removed", [] { return SimRemoveDriver(L"None"); },
         ERROR_UNKNOWN_PRINTER_DRIVER},
        {"printer twice", [] { return SimAddPrinter(L"PHOTO A", kTarget); },
         ERROR_PRINTER_ALREADY_EXISTS},
        {"printer without name", [] { return SimAddPrinter(L"", kTarget); },
         ERROR_INVALID_PRINTER_NAME},
        {"unknown printer removed", [] { return SimRemovePrinter(L"None"); },
         ERROR_INVALID_PRINTER_NAME},
        {"job on unknown printer", [] { return SimAddJob(L"None", 5, 0, nullptr); },
         ERROR_INVALID_PRINTER_NAME},
        {"job id 0", [] { return SimAddJob(L"Photo A", 0, 0, nullptr); }, ERROR_INVALID_PARAMETER},
        {"job id twice", [] { return SimAddJob(L"Office", 11, 0, nullptr); }, ERROR_ALREADY_EXISTS},
        {"status of unknown job", [] { return SimSetJobStatus(99, 0); }, ERROR_INVALID_PARAMETER},
        {"unknown job deleted", [] { return SimDeleteJob(99); }, ERROR_INVALID_PARAMETER},
        {"values of unknown job", [] { return SimSetJobValues(99, 2001, 0, 0, FALSE); },
         ERROR_INVALID_PARAMETER},
    };
    AddModel();
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        SetLastError(0);
        EXPECT_FALSE(c.change());
        EXPECT_EQ(c.error, GetLastError());
    }
    // Removing a printer removes its jobs.
    ASSERT_TRUE(SimRemovePrinter(L"Photo A"));
    HANDLE server = nullptr;
    ASSERT_TRUE(OpenPrinterW(nullptr, &server, nullptr));
    DWORD needed = 0;
    EXPECT_FALSE(GetJobW(server, 11, 2, nullptr, 0, &needed));
    EXPECT_EQ(DWORD(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_TRUE(ClosePrinter(server));
}

TEST_F(SpoolerTest, SessionsAreSeparate)
{
    AddModel();
    ASSERT_TRUE(SimAttach((m_session + L".other").c_str()));
    SimReset();
    DWORD needed = 0, returned = 0;
    EXPECT_TRUE(EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &returned));
    EXPECT_EQ(0u, needed);
    ASSERT_TRUE(SimAttach(m_session.c_str()));
    EXPECT_FALSE(EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &returned));
    EXPECT_NE(0u, needed);
    EXPECT_FALSE(SimAttach(L""));
    EXPECT_FALSE(SimAttach(nullptr));
    EXPECT_FALSE(SimAttach(std::wstring(65, L'x').c_str()));
}

TEST_F(SpoolerTest, TheEventLogKeepsTheLatestEvents)
{
    ASSERT_TRUE(SimAddPrinter(L"P", kTarget));
    ASSERT_TRUE(SimAddJob(L"P", 1, JOB_STATUS_PRINTING, nullptr));
    constexpr DWORD kTotal = 65536 + 10;
    for (DWORD i = 1; i < kTotal; ++i)
        ASSERT_TRUE(SimQueueEntry(JOB_NOTIFY_TYPE, JOB_NOTIFY_FIELD_STATUS, 1 + i % 2, 0));
    EXPECT_EQ(kTotal, SimGetEventCount());
    EXPECT_EQ(kTotal, SimCountEvents(SIM_EV_NOTIFY, 0));
    EXPECT_EQ(65536u / 2, SimCountEvents(SIM_EV_NOTIFY, 2)); // of the events still held
    SimEvent e{};
    EXPECT_FALSE(SimGetEvent(9, &e)); // overwritten
    EXPECT_TRUE(SimGetEvent(10, &e)); // the oldest still held
    EXPECT_TRUE(SimGetEvent(kTotal - 1, &e));
    EXPECT_FALSE(SimGetEvent(kTotal, &e));
    EXPECT_FALSE(SimGetEvent(0, nullptr));
    SimReset();
    EXPECT_EQ(0u, SimGetEventCount());
    EXPECT_FALSE(SimGetEvent(0, &e));
}

} // namespace
