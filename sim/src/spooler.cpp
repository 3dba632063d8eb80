// The spooler functions, answered from the shared model with the documented contracts: the
// two-call size pattern, strings packed inside the caller's buffer, change notifications.
#include <windows.h>
#include <winspool.h>

#include <cstring>
#include <cwchar>
#include <new>
#include <unordered_set>

#include "model.h"
#include "shared.h"

using namespace quenlo::sim;

namespace
{

// ---------------------------------------------------------------------------------------------
// Printer handles belong to the process that opened them.

struct PrinterHandle
{
    bool bServer;
    WCHAR szPrinter[kNameChars]; // empty for the server
};

SRWLOCK g_handleLock = SRWLOCK_INIT;
std::unordered_set<PrinterHandle*>* g_pHandles = nullptr;
std::unordered_set<void*>* g_pBlocks = nullptr; // notification blocks handed out

// Copies the handle's target; false for a handle this process did not get from OpenPrinterW.
bool LookupHandle(HANDLE h, PrinterHandle& out)
{
    AcquireSRWLockShared(&g_handleLock);
    auto* p = static_cast<PrinterHandle*>(h);
    const bool found = h != nullptr && g_pHandles != nullptr && g_pHandles->count(p) > 0;
    if (found)
        out = *p;
    ReleaseSRWLockShared(&g_handleLock);
    return found;
}

template <typename T> bool Track(std::unordered_set<T>*& set, T item)
{
    AcquireSRWLockExclusive(&g_handleLock);
    bool ok = true;
    try
    {
        if (set == nullptr)
            set = new std::unordered_set<T>();
        set->insert(item);
    }
    catch (...)
    {
        ok = false;
    }
    ReleaseSRWLockExclusive(&g_handleLock);
    return ok;
}

template <typename T> bool Untrack(std::unordered_set<T>* set, T item)
{
    AcquireSRWLockExclusive(&g_handleLock);
    const bool found = set != nullptr && set->erase(item) > 0;
    ReleaseSRWLockExclusive(&g_handleLock);
    return found;
}

// The printer a call on this handle is about, for fault filters.
LPCWSTR FilterName(bool valid, const PrinterHandle& handle)
{
    if (!valid)
        return nullptr;
    return handle.bServer ? L"" : handle.szPrinter;
}

// ---------------------------------------------------------------------------------------------
// Names the records carry.

const WCHAR* ComputerName()
{
    static const auto name = []
    {
        struct Name
        {
            WCHAR sz[MAX_COMPUTERNAME_LENGTH + 3];
        } n{};
        DWORD cch = MAX_COMPUTERNAME_LENGTH + 1;
        wcscpy(n.sz, L"\\\\");
        if (!GetComputerNameW(n.sz + 2, &cch))
            wcscpy(n.sz + 2, L"LOCALHOST");
        return n;
    }();
    return name.sz;
}

const WCHAR* UserName()
{
    static const auto name = []
    {
        struct Name
        {
            WCHAR sz[64];
        } n{};
        const DWORD cch = GetEnvironmentVariableW(L"USERNAME", n.sz, ARRAYSIZE(n.sz));
        if (cch == 0 || cch >= ARRAYSIZE(n.sz))
            wcscpy(n.sz, L"user");
        return n;
    }();
    return name.sz;
}

// "\\COMPUTER" names the local server; "\\COMPUTER\printer" a local printer.
bool IsLocalServerName(LPCWSTR name)
{
    return name == nullptr || name[0] == L'\0' || SameName(name, ComputerName());
}

LPCWSTR StripLocalServer(LPCWSTR name)
{
    const WCHAR* server = ComputerName();
    const size_t n = wcslen(server);
    if (wcslen(name) > n && name[n] == L'\\' &&
        CompareStringOrdinal(name, static_cast<int>(n), server, static_cast<int>(n), TRUE) ==
            CSTR_EQUAL)
        return name + n + 1;
    return name;
}

constexpr WCHAR kEnvironment[] = L"Windows x64";
constexpr WCHAR kDriverDir[] = L"C:\\Windows\\System32\\spool\\DRIVERS\\x64\\3\\";

// ---------------------------------------------------------------------------------------------
// Packing records into the caller's buffer: records from the start, strings from the end.

class CStringArea
{
public:
    // Measuring pass.
    CStringArea() = default;
    // Filling pass into a buffer of cb bytes.
    CStringArea(BYTE* buffer, DWORD cb) : m_pBuffer(buffer), m_cbEnd(cb & ~1u) {}

    LPWSTR Put(LPCWSTR s)
    {
        if (s == nullptr)
            return nullptr;
        const DWORD cb = static_cast<DWORD>((wcslen(s) + 1) * sizeof(WCHAR));
        m_cbStrings += cb;
        if (m_pBuffer == nullptr)
            return nullptr;
        auto* p = reinterpret_cast<LPWSTR>(m_pBuffer + m_cbEnd - m_cbStrings);
        std::memcpy(p, s, cb);
        return p;
    }
    DWORD Size() const { return m_cbStrings; }

private:
    BYTE* m_pBuffer = nullptr;
    DWORD m_cbEnd = 0;
    DWORD m_cbStrings = 0;
};

// Runs the two-call contract for `count` records of type T, each filled by fill(index, record,
// strings). `pcReturned` may be null (GetJobW).
template <typename T, typename Fill>
BOOL Pack(DWORD count, Fill fill, LPBYTE buffer, DWORD cbBuf, LPDWORD pcbNeeded, LPDWORD pcReturned)
{
    CStringArea measure;
    for (DWORD i = 0; i < count; ++i)
    {
        T record{};
        fill(i, record, measure);
    }
    const DWORD needed = count * static_cast<DWORD>(sizeof(T)) + measure.Size();
    *pcbNeeded = needed;
    if (pcReturned != nullptr)
        *pcReturned = 0;
    if (needed == 0)
        return TRUE;
    if (buffer == nullptr || cbBuf < needed)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    CStringArea strings(buffer, cbBuf);
    for (DWORD i = 0; i < count; ++i)
    {
        T record{};
        fill(i, record, strings);
        std::memcpy(buffer + i * sizeof(T), &record, sizeof(T));
    }
    if (pcReturned != nullptr)
        *pcReturned = count;
    return TRUE;
}

// Common checks of the enumeration calls; false (with the error set) when they fail.
bool CheckOutPointers(LPBYTE buffer, DWORD cbBuf, LPDWORD pcbNeeded, LPDWORD pcReturned,
                      bool needReturned)
{
    if (pcbNeeded == nullptr || (needReturned && pcReturned == nullptr))
    {
        SetLastError(RPC_X_NULL_REF_POINTER);
        return false;
    }
    if (buffer == nullptr && cbBuf != 0)
    {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return false;
    }
    return true;
}

void ZeroOut(LPDWORD pcbNeeded, LPDWORD pcReturned)
{
    if (pcbNeeded != nullptr)
        *pcbNeeded = 0;
    if (pcReturned != nullptr)
        *pcReturned = 0;
}

SYSTEMTIME ToSystemTime(const FILETIME& ft)
{
    SYSTEMTIME st{};
    FileTimeToSystemTime(&ft, &st);
    return st;
}

// The jobs of one printer, in queue order.
DWORD PrinterJobs(SharedState& s, LPCWSTR printer, const JobRec** jobs)
{
    DWORD n = 0;
    for (DWORD i = 0; i < s.cJobs; ++i)
        if (SameName(s.aJobs[i].szPrinter, printer))
            jobs[n++] = &s.aJobs[i];
    return n;
}

DWORD QueuePosition(SharedState& s, const JobRec& job)
{
    DWORD position = 0;
    for (DWORD i = 0; i < s.cJobs; ++i)
    {
        if (SameName(s.aJobs[i].szPrinter, job.szPrinter))
            ++position;
        if (&s.aJobs[i] == &job)
            break;
    }
    return position;
}

void DocumentName(const JobRec& job, WCHAR (&out)[32])
{
    swprintf(out, ARRAYSIZE(out), L"Document %lu", static_cast<unsigned long>(job.dwJobId));
}

void FillJob(SharedState& s, const JobRec& job, JOB_INFO_1W& r, CStringArea& a)
{
    WCHAR document[32];
    DocumentName(job, document);
    r.JobId = job.dwJobId;
    r.pPrinterName = a.Put(job.szPrinter);
    r.pMachineName = a.Put(ComputerName());
    r.pUserName = a.Put(UserName());
    r.pDocument = a.Put(document);
    r.pDatatype = a.Put(L"RAW");
    r.Status = job.dwStatus;
    r.Priority = DEF_PRIORITY;
    r.Position = QueuePosition(s, job);
    r.TotalPages = 1;
    r.Submitted = ToSystemTime(job.ftSubmitted);
}

void FillJob(SharedState& s, const JobRec& job, JOB_INFO_2W& r, CStringArea& a)
{
    WCHAR document[32];
    DocumentName(job, document);
    r.JobId = job.dwJobId;
    r.pPrinterName = a.Put(job.szPrinter);
    r.pMachineName = a.Put(ComputerName());
    r.pUserName = a.Put(UserName());
    r.pDocument = a.Put(document);
    r.pNotifyName = a.Put(UserName());
    r.pDatatype = a.Put(L"RAW");
    r.pPrintProcessor = a.Put(L"winprint");
    r.pParameters = a.Put(L"");
    r.pDriverName = a.Put(job.szDriver);
    r.Status = job.dwStatus;
    r.Priority = DEF_PRIORITY;
    r.Position = QueuePosition(s, job);
    r.TotalPages = 1;
    r.Size = 4096;
    r.Submitted = ToSystemTime(job.ftSubmitted);
}

void FillJob(SharedState& s, const JobRec& job, JOB_INFO_3& r, CStringArea&)
{
    r.JobId = job.dwJobId;
    r.NextJobId = 0;
    bool seen = false;
    for (DWORD i = 0; i < s.cJobs && r.NextJobId == 0; ++i)
    {
        if (seen && SameName(s.aJobs[i].szPrinter, job.szPrinter))
            r.NextJobId = s.aJobs[i].dwJobId;
        seen = seen || &s.aJobs[i] == &job;
    }
}

template <typename T>
BOOL PackJobs(SharedState& s, const JobRec* const* jobs, DWORD count, LPBYTE buffer, DWORD cbBuf,
              LPDWORD pcbNeeded, LPDWORD pcReturned)
{
    return Pack<T>(
        count, [&](DWORD i, T& r, CStringArea& a) { FillJob(s, *jobs[i], r, a); }, buffer, cbBuf,
        pcbNeeded, pcReturned);
}

constexpr DWORD kPrinterAttributes = PRINTER_ATTRIBUTE_LOCAL | PRINTER_ATTRIBUTE_ENABLE_BIDI;

void PortName(DWORD index, WCHAR (&out)[16])
{
    swprintf(out, ARRAYSIZE(out), L"USB%03lu", static_cast<unsigned long>(index + 1));
}

BOOL PackPrinters(SharedState& s, DWORD level, LPBYTE buffer, DWORD cbBuf, LPDWORD pcbNeeded,
                  LPDWORD pcReturned)
{
    const DWORD n = s.cPrinters;
    switch (level)
    {
    case 1:
        return Pack<PRINTER_INFO_1W>(
            n,
            [&](DWORD i, PRINTER_INFO_1W& r, CStringArea& a)
            {
                const PrinterRec& p = s.aPrinters[i];
                WCHAR description[kNameChars * 2 + 4];
                swprintf(description, ARRAYSIZE(description), L"%ls,%ls,", p.szName, p.szDriver);
                r.Flags = PRINTER_ENUM_ICON8;
                r.pDescription = a.Put(description);
                r.pName = a.Put(p.szName);
                r.pComment = a.Put(L"");
            },
            buffer, cbBuf, pcbNeeded, pcReturned);
    case 2:
        return Pack<PRINTER_INFO_2W>(
            n,
            [&](DWORD i, PRINTER_INFO_2W& r, CStringArea& a)
            {
                const PrinterRec& p = s.aPrinters[i];
                WCHAR port[16];
                PortName(i, port);
                r.pPrinterName = a.Put(p.szName);
                r.pShareName = a.Put(L"");
                r.pPortName = a.Put(port);
                r.pDriverName = a.Put(p.szDriver);
                r.pComment = a.Put(L"");
                r.pLocation = a.Put(L"");
                r.pSepFile = a.Put(L"");
                r.pPrintProcessor = a.Put(L"winprint");
                r.pDatatype = a.Put(L"RAW");
                r.pParameters = a.Put(L"");
                r.Attributes = kPrinterAttributes;
                r.Priority = DEF_PRIORITY;
                r.cJobs = CountJobs(s, p.szName);
            },
            buffer, cbBuf, pcbNeeded, pcReturned);
    case 4:
        return Pack<PRINTER_INFO_4W>(
            n,
            [&](DWORD i, PRINTER_INFO_4W& r, CStringArea& a)
            {
                r.pPrinterName = a.Put(s.aPrinters[i].szName);
                r.Attributes = kPrinterAttributes;
            },
            buffer, cbBuf, pcbNeeded, pcReturned);
    case 5:
        return Pack<PRINTER_INFO_5W>(
            n,
            [&](DWORD i, PRINTER_INFO_5W& r, CStringArea& a)
            {
                WCHAR port[16];
                PortName(i, port);
                r.pPrinterName = a.Put(s.aPrinters[i].szName);
                r.pPortName = a.Put(port);
                r.Attributes = kPrinterAttributes;
                r.DeviceNotSelectedTimeout = 15000;
                r.TransmissionRetryTimeout = 45000;
            },
            buffer, cbBuf, pcbNeeded, pcReturned);
    default:
        ZeroOut(pcbNeeded, pcReturned);
        return Fail(ERROR_INVALID_LEVEL);
    }
}

// ---------------------------------------------------------------------------------------------
// Change notifications.

Registration* FindRegistration(SharedState& s, HANDLE hChange)
{
    if (hChange == nullptr || hChange == INVALID_HANDLE_VALUE)
        return nullptr;
    const OwnerId self = CurrentOwner();
    for (Registration& reg : s.aRegs)
        if (reg.bUsed && SameOwner(reg.owner, self) &&
            reg.ullEvent == static_cast<ULONGLONG>(reinterpret_cast<ULONG_PTR>(hChange)))
            return &reg;
    return nullptr;
}

// A PRINTER_NOTIFY_INFO block of `count` entries, owned by the caller until
// FreePrinterNotifyInfo; null when out of memory.
PRINTER_NOTIFY_INFO* NewBlock(DWORD flags, DWORD count)
{
    const SIZE_T cb = offsetof(PRINTER_NOTIFY_INFO, aData) +
                      (count > 0 ? count : 1) * sizeof(PRINTER_NOTIFY_INFO_DATA);
    auto* block =
        static_cast<PRINTER_NOTIFY_INFO*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, cb));
    if (block == nullptr)
        return nullptr;
    if (!Track<void*>(g_pBlocks, block))
    {
        HeapFree(GetProcessHeap(), 0, block);
        return nullptr;
    }
    block->Version = 2;
    block->Flags = flags;
    block->Count = count;
    CountObtained(SIM_RES_NOTIFY_BLOCK);
    return block;
}

void SetEntry(PRINTER_NOTIFY_INFO_DATA& d, const NotifyEntry& e)
{
    d.Type = e.wType;
    d.Field = e.wField;
    d.Id = e.dwId;
    d.NotifyData.adwData[0] = e.dwData;
    d.NotifyData.adwData[1] = 0;
}

} // namespace

// ---------------------------------------------------------------------------------------------

extern "C" BOOL WINAPI OpenPrinterW(LPWSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSW)
{
    if (phPrinter != nullptr)
        *phPrinter = nullptr;
    const bool server = IsLocalServerName(pPrinterName);
    LPCWSTR name = server ? L"" : StripLocalServer(pPrinterName);
    CStateLock lock;
    if (!lock)
        return FALSE;
    if (DWORD error = 0; TakeFault(*lock, SIM_OPEN_PRINTER, name, &error))
        return Fail(error);
    if (phPrinter == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    auto* handle = new (std::nothrow) PrinterHandle{server, {}};
    if (handle == nullptr)
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    if (!server)
    {
        const PrinterRec* printer = FindPrinter(*lock, name);
        if (printer == nullptr)
        {
            delete handle;
            return Fail(ERROR_INVALID_PRINTER_NAME);
        }
        wcscpy(handle->szPrinter, printer->szName);
    }
    if (!Track(g_pHandles, handle))
    {
        delete handle;
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    }
    CountObtained(SIM_RES_PRINTER_HANDLE);
    *phPrinter = handle;
    return TRUE;
}

extern "C" BOOL WINAPI ClosePrinter(HANDLE hPrinter)
{
    PrinterHandle handle{};
    const bool valid = LookupHandle(hPrinter, handle);
    {
        CStateLock lock;
        if (!lock)
            return FALSE;
        if (DWORD error = 0; TakeFault(*lock, SIM_CLOSE_PRINTER, FilterName(valid, handle), &error))
            return Fail(error);
    }
    auto* p = static_cast<PrinterHandle*>(hPrinter);
    if (!valid || !Untrack(g_pHandles, p))
        return Fail(ERROR_INVALID_HANDLE);
    delete p;
    CountReleased(SIM_RES_PRINTER_HANDLE);
    return TRUE;
}

extern "C" BOOL WINAPI EnumPrintersW(DWORD Flags, LPWSTR Name, DWORD Level, LPBYTE pPrinterEnum,
                                     DWORD cbBuf, LPDWORD pcbNeeded, LPDWORD pcReturned)
{
    CStateLock lock;
    if (!lock)
        return FALSE;
    if (DWORD error = 0; TakeFault(*lock, SIM_ENUM_PRINTERS, L"", &error))
    {
        ZeroOut(pcbNeeded, pcReturned);
        return Fail(error);
    }
    if (!CheckOutPointers(pPrinterEnum, cbBuf, pcbNeeded, pcReturned, true))
        return FALSE;
    const bool local = (Flags & PRINTER_ENUM_LOCAL) != 0 ||
                       ((Flags & PRINTER_ENUM_NAME) != 0 && IsLocalServerName(Name));
    if ((Flags & PRINTER_ENUM_NAME) != 0 && !IsLocalServerName(Name))
    {
        ZeroOut(pcbNeeded, pcReturned);
        return Fail(ERROR_INVALID_NAME);
    }
    if (!local)
    {
        // Connections and remote printers: this spooler has none.
        if (Level != 1 && Level != 2 && Level != 4 && Level != 5)
        {
            ZeroOut(pcbNeeded, pcReturned);
            return Fail(ERROR_INVALID_LEVEL);
        }
        ZeroOut(pcbNeeded, pcReturned);
        return TRUE;
    }
    return PackPrinters(*lock, Level, pPrinterEnum, cbBuf, pcbNeeded, pcReturned);
}

extern "C" BOOL WINAPI EnumJobsW(HANDLE hPrinter, DWORD FirstJob, DWORD NoJobs, DWORD Level,
                                 LPBYTE pJob, DWORD cbBuf, LPDWORD pcbNeeded, LPDWORD pcReturned)
{
    PrinterHandle handle{};
    const bool valid = LookupHandle(hPrinter, handle);
    CStateLock lock;
    if (!lock)
        return FALSE;
    if (DWORD error = 0; TakeFault(*lock, SIM_ENUM_JOBS, FilterName(valid, handle), &error))
    {
        ZeroOut(pcbNeeded, pcReturned);
        return Fail(error);
    }
    if (!valid)
        return Fail(ERROR_INVALID_HANDLE);
    if (!CheckOutPointers(pJob, cbBuf, pcbNeeded, pcReturned, true))
        return FALSE;
    if (Level < 1 || Level > 3)
    {
        ZeroOut(pcbNeeded, pcReturned);
        return Fail(ERROR_INVALID_LEVEL);
    }
    SharedState& s = *lock;
    if (handle.bServer)
    {
        // Jobs belong to printers; the server has no queue.
        ZeroOut(pcbNeeded, pcReturned);
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (FindPrinter(s, handle.szPrinter) == nullptr)
    {
        ZeroOut(pcbNeeded, pcReturned);
        return Fail(ERROR_INVALID_PRINTER_NAME); // deleted since it was opened
    }
    const JobRec* jobs[kMaxJobs];
    const DWORD count = PrinterJobs(s, handle.szPrinter, jobs);
    // The requested window of the queue.
    const DWORD first = FirstJob < count ? FirstJob : count;
    const DWORD n = (count - first) < NoJobs ? count - first : NoJobs;
    switch (Level)
    {
    case 1:
        return PackJobs<JOB_INFO_1W>(s, jobs + first, n, pJob, cbBuf, pcbNeeded, pcReturned);
    case 2:
        return PackJobs<JOB_INFO_2W>(s, jobs + first, n, pJob, cbBuf, pcbNeeded, pcReturned);
    default:
        return PackJobs<JOB_INFO_3>(s, jobs + first, n, pJob, cbBuf, pcbNeeded, pcReturned);
    }
}

extern "C" BOOL WINAPI GetJobW(HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE pJob, DWORD cbBuf,
                               LPDWORD pcbNeeded)
{
    PrinterHandle handle{};
    const bool valid = LookupHandle(hPrinter, handle);
    CStateLock lock;
    if (!lock)
        return FALSE;
    SharedState& s = *lock;
    const JobRec* job = FindJob(s, JobId);
    // A lookup through the server is about the job's printer.
    LPCWSTR about = FilterName(valid, handle);
    if (valid && handle.bServer && job != nullptr)
        about = job->szPrinter;
    if (DWORD error = 0; TakeFault(s, SIM_GET_JOB, about, &error))
    {
        ZeroOut(pcbNeeded, nullptr);
        return Fail(error);
    }
    if (!valid)
        return Fail(ERROR_INVALID_HANDLE);
    if (!CheckOutPointers(pJob, cbBuf, pcbNeeded, nullptr, false))
        return FALSE;
    *pcbNeeded = 0;
    if (Level < 1 || Level > 3)
        return Fail(ERROR_INVALID_LEVEL);
    if (job == nullptr || (!handle.bServer && !SameName(job->szPrinter, handle.szPrinter)))
        return Fail(ERROR_INVALID_PARAMETER);
    switch (Level)
    {
    case 1:
        return PackJobs<JOB_INFO_1W>(s, &job, 1, pJob, cbBuf, pcbNeeded, nullptr);
    case 2:
        return PackJobs<JOB_INFO_2W>(s, &job, 1, pJob, cbBuf, pcbNeeded, nullptr);
    default:
        return PackJobs<JOB_INFO_3>(s, &job, 1, pJob, cbBuf, pcbNeeded, nullptr);
    }
}

extern "C" BOOL WINAPI EnumPrinterDriversW(LPWSTR pName, LPWSTR pEnvironment, DWORD Level,
                                           LPBYTE pDriverInfo, DWORD cbBuf, LPDWORD pcbNeeded,
                                           LPDWORD pcReturned)
{
    CStateLock lock;
    if (!lock)
        return FALSE;
    if (DWORD error = 0; TakeFault(*lock, SIM_ENUM_DRIVERS, L"", &error))
    {
        ZeroOut(pcbNeeded, pcReturned);
        return Fail(error);
    }
    if (!CheckOutPointers(pDriverInfo, cbBuf, pcbNeeded, pcReturned, true))
        return FALSE;
    ZeroOut(pcbNeeded, pcReturned);
    if (!IsLocalServerName(pName))
        return Fail(ERROR_INVALID_NAME);
    // Drivers are installed for this machine's environment only.
    bool ours = true;
    if (pEnvironment != nullptr && pEnvironment[0] != L'\0' &&
        !SameName(pEnvironment, kEnvironment) && !SameName(pEnvironment, L"all"))
    {
        if (!SameName(pEnvironment, L"Windows NT x86") && !SameName(pEnvironment, L"Windows 4.0") &&
            !SameName(pEnvironment, L"Windows IA64"))
            return Fail(ERROR_INVALID_ENVIRONMENT);
        ours = false;
    }
    SharedState& s = *lock;
    const DWORD n = ours ? s.cDrivers : 0;
    switch (Level)
    {
    case 1:
        return Pack<DRIVER_INFO_1W>(
            n,
            [&](DWORD i, DRIVER_INFO_1W& r, CStringArea& a)
            { r.pName = a.Put(s.aDrivers[i].szName); },
            pDriverInfo, cbBuf, pcbNeeded, pcReturned);
    case 2:
        return Pack<DRIVER_INFO_2W>(
            n,
            [&](DWORD i, DRIVER_INFO_2W& r, CStringArea& a)
            {
                WCHAR path[MAX_PATH];
                r.cVersion = 3;
                r.pName = a.Put(s.aDrivers[i].szName);
                r.pEnvironment = a.Put(kEnvironment);
                swprintf(path, MAX_PATH, L"%lsunidrv.dll", kDriverDir);
                r.pDriverPath = a.Put(path);
                swprintf(path, MAX_PATH, L"%lsqsimprn.gpd", kDriverDir);
                r.pDataFile = a.Put(path);
                swprintf(path, MAX_PATH, L"%lsunidrvui.dll", kDriverDir);
                r.pConfigFile = a.Put(path);
            },
            pDriverInfo, cbBuf, pcbNeeded, pcReturned);
    default:
        return Fail(ERROR_INVALID_LEVEL);
    }
}

extern "C" HANDLE WINAPI FindFirstPrinterChangeNotification(HANDLE hPrinter, DWORD fdwFlags, DWORD,
                                                            LPVOID pPrinterNotifyOptions)
{
    PrinterHandle handle{};
    const bool valid = LookupHandle(hPrinter, handle);
    CStateLock lock;
    if (!lock)
        return INVALID_HANDLE_VALUE;
    SharedState& s = *lock;
    if (DWORD error = 0; TakeFault(s, SIM_FIND_FIRST_CHANGE, FilterName(valid, handle), &error))
    {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    if (!valid)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_HANDLE_VALUE;
    }
    const auto* options = static_cast<const PRINTER_NOTIFY_OPTIONS*>(pPrinterNotifyOptions);
    if (fdwFlags == 0 && options == nullptr)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    NotifyField fields[kMaxNotifyFields];
    DWORD cFields = 0;
    if (options != nullptr)
    {
        if (options->Version != 2 || (options->Count > 0 && options->pTypes == nullptr))
        {
            SetLastError(ERROR_INVALID_PARAMETER);
            return INVALID_HANDLE_VALUE;
        }
        for (DWORD t = 0; t < options->Count; ++t)
        {
            const PRINTER_NOTIFY_OPTIONS_TYPE& type = options->pTypes[t];
            if ((type.Count > 0 && type.pFields == nullptr) ||
                type.Count > kMaxNotifyFields - cFields)
            {
                SetLastError(ERROR_INVALID_PARAMETER);
                return INVALID_HANDLE_VALUE;
            }
            for (DWORD f = 0; f < type.Count; ++f)
                fields[cFields++] = {type.Type, type.pFields[f]};
        }
    }
    Registration* reg = nullptr;
    for (Registration& r : s.aRegs)
    {
        if (r.bUsed && !RegistrationAlive(lock, r))
            r.bUsed = FALSE; // its process has gone
        if (!r.bUsed && reg == nullptr)
            reg = &r;
    }
    if (reg == nullptr)
    {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    const DWORD gen = s.dwNextGen++;
    WCHAR name[400];
    RegistrationEventName(lock, gen, name, ARRAYSIZE(name));
    // Manual reset: the handle stays signalled until FindNextPrinterChangeNotification.
    HANDLE hEvent = CreateEventW(nullptr, TRUE, FALSE, name);
    if (hEvent == nullptr)
        return INVALID_HANDLE_VALUE;
    reg->dwGen = gen;
    reg->owner = CurrentOwner();
    reg->ullEvent = static_cast<ULONGLONG>(reinterpret_cast<ULONG_PTR>(hEvent));
    reg->bServer = handle.bServer;
    wcscpy(reg->szPrinter, handle.szPrinter);
    reg->dwFilter = fdwFlags;
    reg->bHasOptions = options != nullptr;
    reg->cFields = cFields;
    std::memcpy(reg->aFields, fields, cFields * sizeof(NotifyField));
    reg->dwPendingChange = 0;
    reg->bDiscardPending = FALSE;
    reg->bAwaitRefresh = FALSE;
    reg->dwHead = 0;
    reg->dwCount = 0;
    reg->bUsed = TRUE;
    CountObtained(SIM_RES_CHANGE_HANDLE);
    return hEvent;
}

extern "C" BOOL WINAPI FindNextPrinterChangeNotification(HANDLE hChange, PDWORD pdwChange,
                                                         LPVOID pPrinterNotifyOptions,
                                                         LPVOID* ppPrinterNotifyInfo)
{
    if (ppPrinterNotifyInfo != nullptr)
        *ppPrinterNotifyInfo = nullptr;
    CStateLock lock;
    if (!lock)
        return FALSE;
    Registration* reg = FindRegistration(*lock, hChange);
    const LPCWSTR about = reg == nullptr ? nullptr : reg->bServer ? L"" : reg->szPrinter;
    if (DWORD error = 0; TakeFault(*lock, SIM_FIND_NEXT_CHANGE, about, &error))
        return Fail(error);
    if (reg == nullptr)
        return Fail(ERROR_INVALID_HANDLE);
    const auto* options = static_cast<const PRINTER_NOTIFY_OPTIONS*>(pPrinterNotifyOptions);
    const bool refresh = options != nullptr && (options->Flags & PRINTER_NOTIFY_OPTIONS_REFRESH);

    ResetEvent(hChange);
    if (pdwChange != nullptr)
        *pdwChange = reg->dwPendingChange & reg->dwFilter;
    reg->dwPendingChange = 0;

    PRINTER_NOTIFY_INFO* block = nullptr;
    bool outOfMemory = false;
    if (ppPrinterNotifyInfo != nullptr && reg->bHasOptions)
    {
        SharedState& s = *lock;
        if (refresh)
        {
            // The current value of every requested field that the model holds: job status.
            const JobRec* jobs[kMaxJobs];
            DWORD n = 0;
            if (WantsField(*reg, JOB_NOTIFY_TYPE, JOB_NOTIFY_FIELD_STATUS))
                for (DWORD i = 0; i < s.cJobs; ++i)
                    if (reg->bServer || SameName(s.aJobs[i].szPrinter, reg->szPrinter))
                        jobs[n++] = &s.aJobs[i];
            block = NewBlock(0, n);
            for (DWORD i = 0; block != nullptr && i < n; ++i)
                SetEntry(block->aData[i], {JOB_NOTIFY_TYPE, JOB_NOTIFY_FIELD_STATUS,
                                           jobs[i]->dwJobId, jobs[i]->dwStatus});
            outOfMemory = block == nullptr;
        }
        else if (reg->bDiscardPending || reg->bAwaitRefresh)
        {
            block = NewBlock(PRINTER_NOTIFY_INFO_DISCARDED, 0);
            outOfMemory = block == nullptr;
        }
        else if (reg->dwCount > 0)
        {
            block = NewBlock(0, reg->dwCount);
            for (DWORD i = 0; block != nullptr && i < reg->dwCount; ++i)
                SetEntry(block->aData[i], reg->aQueue[(reg->dwHead + i) % kQueueCapacity]);
            outOfMemory = block == nullptr;
        }
        if (outOfMemory)
            return Fail(ERROR_NOT_ENOUGH_MEMORY); // the entries stay queued
    }
    if (refresh)
    {
        reg->bDiscardPending = FALSE;
        reg->bAwaitRefresh = FALSE;
    }
    else if (reg->bDiscardPending)
    {
        reg->bDiscardPending = FALSE;
        reg->bAwaitRefresh = TRUE;
    }
    reg->dwHead = 0;
    reg->dwCount = 0;
    if (ppPrinterNotifyInfo != nullptr)
        *ppPrinterNotifyInfo = block;
    return TRUE;
}

extern "C" BOOL WINAPI FreePrinterNotifyInfo(PPRINTER_NOTIFY_INFO pPrinterNotifyInfo)
{
    {
        CStateLock lock;
        if (!lock)
            return FALSE;
        if (DWORD error = 0; TakeFault(*lock, SIM_FREE_NOTIFY_INFO, nullptr, &error))
            return Fail(error);
    }
    if (pPrinterNotifyInfo == nullptr || !Untrack<void*>(g_pBlocks, pPrinterNotifyInfo))
        return Fail(ERROR_INVALID_PARAMETER);
    HeapFree(GetProcessHeap(), 0, pPrinterNotifyInfo);
    CountReleased(SIM_RES_NOTIFY_BLOCK);
    return TRUE;
}

extern "C" BOOL WINAPI FindClosePrinterChangeNotification(HANDLE hChange)
{
    CStateLock lock;
    if (!lock)
        return FALSE;
    Registration* reg = FindRegistration(*lock, hChange);
    const LPCWSTR about = reg == nullptr ? nullptr : reg->bServer ? L"" : reg->szPrinter;
    if (DWORD error = 0; TakeFault(*lock, SIM_FIND_CLOSE_CHANGE, about, &error))
        return Fail(error);
    if (reg == nullptr)
        return Fail(ERROR_INVALID_HANDLE);
    reg->bUsed = FALSE;
    CloseHandle(hChange);
    CountReleased(SIM_RES_CHANGE_HANDLE);
    return TRUE;
}
