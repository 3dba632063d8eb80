#include "model.h"

#include <cstring>
#include <cwchar>

namespace quenlo::sim
{

bool SameName(LPCWSTR a, LPCWSTR b)
{
    return a != nullptr && b != nullptr && CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

bool CopyName(WCHAR (&dst)[kNameChars], LPCWSTR src)
{
    if (src == nullptr || src[0] == L'\0' || wcslen(src) >= kNameChars)
        return false;
    wcscpy(dst, src);
    return true;
}

DriverRec* FindDriver(SharedState& s, LPCWSTR name)
{
    for (DWORD i = 0; i < s.cDrivers; ++i)
        if (SameName(s.aDrivers[i].szName, name))
            return &s.aDrivers[i];
    return nullptr;
}

PrinterRec* FindPrinter(SharedState& s, LPCWSTR name)
{
    for (DWORD i = 0; i < s.cPrinters; ++i)
        if (SameName(s.aPrinters[i].szName, name))
            return &s.aPrinters[i];
    return nullptr;
}

JobRec* FindJob(SharedState& s, DWORD jobId)
{
    for (DWORD i = 0; i < s.cJobs; ++i)
        if (s.aJobs[i].dwJobId == jobId)
            return &s.aJobs[i];
    return nullptr;
}

DWORD CountJobs(const SharedState& s, LPCWSTR printer)
{
    DWORD n = 0;
    for (DWORD i = 0; i < s.cJobs; ++i)
        if (SameName(s.aJobs[i].szPrinter, printer))
            ++n;
    return n;
}

void LogEvent(SharedState& s, DWORD kind, DWORD jobId, LPCWSTR printer)
{
    SimEvent& e = s.aEvents[s.dwEventTotal % kEventCapacity];
    e.dwKind = kind;
    e.dwJobId = jobId;
    e.ullTime = Now();
    e.szPrinter[0] = L'\0';
    if (printer != nullptr)
    {
        wcsncpy(e.szPrinter, printer, ARRAYSIZE(e.szPrinter) - 1);
        e.szPrinter[ARRAYSIZE(e.szPrinter) - 1] = L'\0';
    }
    ++s.dwEventTotal;
    if (kind < ARRAYSIZE(s.adwKindTotals))
        ++s.adwKindTotals[kind];
}

bool TakeFault(SharedState& s, SimCall call, LPCWSTR printer, DWORD* error)
{
    for (FaultRec& f : s.aFaults)
    {
        if (!f.bUsed || f.dwCall != static_cast<DWORD>(call))
            continue;
        if (!f.bAnyPrinter && (printer == nullptr || CompareStringOrdinal(f.szPrinter, -1, printer,
                                                                          -1, TRUE) != CSTR_EQUAL))
            continue;
        if (f.dwSkip > 0)
        {
            --f.dwSkip;
            return false;
        }
        *error = f.dwError;
        if (f.dwCount != 0 && --f.dwRemaining == 0)
            f.bUsed = FALSE;
        return true;
    }
    return false;
}

void RegistrationEventName(CStateLock& lock, DWORD gen, WCHAR* buffer, size_t cch)
{
    swprintf(buffer, cch, L"%ls.Change.%lu", lock.Prefix(), static_cast<unsigned long>(gen));
}

bool RegistrationAlive(CStateLock& lock, const Registration& reg)
{
    if (SameOwner(reg.owner, CurrentOwner()))
        return true;
    WCHAR name[400];
    RegistrationEventName(lock, reg.dwGen, name, ARRAYSIZE(name));
    HANDLE h = OpenEventW(SYNCHRONIZE, FALSE, name);
    if (h == nullptr)
        return false;
    CloseHandle(h);
    return true;
}

bool WantsField(const Registration& reg, WORD type, WORD field)
{
    if (!reg.bHasOptions)
        return false;
    for (DWORD i = 0; i < reg.cFields; ++i)
        if (reg.aFields[i].wType == type && reg.aFields[i].wField == field)
            return true;
    return false;
}

namespace
{

// Sets the registration's change event, in this process or another; forgets the registration
// when its owner has gone.
void Signal(CStateLock& lock, Registration& reg)
{
    if (SameOwner(reg.owner, CurrentOwner()))
    {
        SetEvent(reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(reg.ullEvent)));
        return;
    }
    WCHAR name[400];
    RegistrationEventName(lock, reg.dwGen, name, ARRAYSIZE(name));
    HANDLE h = OpenEventW(EVENT_MODIFY_STATE, FALSE, name);
    if (h == nullptr)
    {
        reg.bUsed = FALSE;
        return;
    }
    SetEvent(h);
    CloseHandle(h);
}

// Queues an entry; a full queue turns into discarded data, as a spooler's overflow does.
// Returns whether the registration has news.
bool Enqueue(Registration& reg, const NotifyEntry& entry)
{
    if (reg.bDiscardPending || reg.bAwaitRefresh)
        return false;
    if (reg.dwCount == kQueueCapacity)
    {
        reg.bDiscardPending = TRUE;
        reg.dwCount = 0;
        reg.dwHead = 0;
        return true;
    }
    reg.aQueue[(reg.dwHead + reg.dwCount) % kQueueCapacity] = entry;
    ++reg.dwCount;
    return true;
}

bool Covers(const Registration& reg, LPCWSTR printer)
{
    return reg.bServer || printer == nullptr || SameName(reg.szPrinter, printer);
}

} // namespace

void NotifyJobStatus(CStateLock& lock, const JobRec& job, DWORD status, DWORD changeBit)
{
    SharedState& s = *lock;
    LogEvent(s, SIM_EV_NOTIFY, job.dwJobId, job.szPrinter);
    const NotifyEntry entry{JOB_NOTIFY_TYPE, JOB_NOTIFY_FIELD_STATUS, job.dwJobId, status};
    for (Registration& reg : s.aRegs)
    {
        if (!reg.bUsed || !Covers(reg, job.szPrinter))
            continue;
        bool news = false;
        if ((reg.dwFilter & changeBit) != 0)
        {
            reg.dwPendingChange |= changeBit;
            news = true;
        }
        if (WantsField(reg, JOB_NOTIFY_TYPE, JOB_NOTIFY_FIELD_STATUS) && Enqueue(reg, entry))
            news = true;
        if (news)
            Signal(lock, reg);
    }
}

void NotifyChange(CStateLock& lock, DWORD change, LPCWSTR printer)
{
    for (Registration& reg : lock->aRegs)
    {
        if (!reg.bUsed || !Covers(reg, printer) || (reg.dwFilter & change) == 0)
            continue;
        reg.dwPendingChange |= reg.dwFilter & change;
        Signal(lock, reg);
    }
}

void QueueRawEntry(CStateLock& lock, WORD type, WORD field, DWORD id, DWORD data)
{
    SharedState& s = *lock;
    if (type == JOB_NOTIFY_TYPE && field == JOB_NOTIFY_FIELD_STATUS)
    {
        const JobRec* job = FindJob(s, id);
        LogEvent(s, SIM_EV_NOTIFY, id, job != nullptr ? job->szPrinter : L"");
    }
    const NotifyEntry entry{type, field, id, data};
    for (Registration& reg : s.aRegs)
        if (reg.bUsed && WantsField(reg, type, field) && Enqueue(reg, entry))
            Signal(lock, reg);
}

void QueueDiscarded(CStateLock& lock)
{
    for (Registration& reg : lock->aRegs)
    {
        if (!reg.bUsed || !reg.bHasOptions || reg.bAwaitRefresh)
            continue;
        reg.bDiscardPending = TRUE;
        reg.dwCount = 0;
        reg.dwHead = 0;
        Signal(lock, reg);
    }
}

void ResetState(CStateLock& lock)
{
    SharedState& s = *lock;
    s.cDrivers = 0;
    s.cPrinters = 0;
    s.cJobs = 0;
    std::memset(s.aFaults, 0, sizeof(s.aFaults));
    s.bAnswerSet = FALSE;
    s.cAnswer = 0;
    for (DWORD r = 0; r < SIM_RES_COUNT; ++r)
    {
        InterlockedExchange(&s.lObtained[r], 0);
        InterlockedExchange(&s.lReleased[r], 0);
    }
    InterlockedExchange(&s.lDroppedBindings, 0);
    s.dwEventTotal = 0;
    std::memset(s.adwKindTotals, 0, sizeof(s.adwKindTotals));
    for (Registration& reg : s.aRegs)
    {
        if (!reg.bUsed)
            continue;
        if (!RegistrationAlive(lock, reg))
        {
            reg.bUsed = FALSE;
            continue;
        }
        reg.dwPendingChange = 0;
        reg.bDiscardPending = FALSE;
        reg.bAwaitRefresh = FALSE;
        reg.dwHead = 0;
        reg.dwCount = 0;
    }
}

} // namespace quenlo::sim
