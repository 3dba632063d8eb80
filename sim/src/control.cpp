// The control functions: the model, the printer's answers, faults, records and accounting.
#include <windows.h>
#include <winspool.h>

#include <cstring>
#include <cwchar>

#include "model.h"
#include "shared.h"

using namespace quenlo::sim;

namespace
{

bool KnownCall(DWORD call)
{
    return (call >= SIM_OPEN_PRINTER && call <= SIM_FREE_NOTIFY_INFO) ||
           (call >= SIM_CREATE_BIDI_SPL && call <= SIM_GET_OUTPUT_DATA);
}

template <typename T> void RemoveAt(T* items, DWORD& count, DWORD index)
{
    std::memmove(&items[index], &items[index + 1], (count - index - 1) * sizeof(T));
    --count;
}

// Removes the job at `index` and reports it deleted.
void DeleteJobAt(CStateLock& lock, DWORD index)
{
    SharedState& s = *lock;
    const JobRec job = s.aJobs[index];
    RemoveAt(s.aJobs, s.cJobs, index);
    NotifyJobStatus(lock, job, job.dwStatus | JOB_STATUS_DELETED, PRINTER_CHANGE_DELETE_JOB);
}

} // namespace

SIMAPI BOOL WINAPI SimSetFault(SimCall call, DWORD error, DWORD skip, DWORD count, LPCWSTR printer)
{
    if (!KnownCall(call) || error == 0 || (printer != nullptr && wcslen(printer) >= kNameChars))
        return Fail(ERROR_INVALID_PARAMETER);
    CStateLock lock;
    if (!lock)
        return FALSE;
    // A fault for the same call and printer filter replaces the earlier one.
    const auto sameFilter = [&](const FaultRec& f)
    {
        return printer == nullptr ? f.bAnyPrinter != FALSE
                                  : !f.bAnyPrinter && SameName(f.szPrinter, printer);
    };
    FaultRec* slot = nullptr;
    for (FaultRec& f : lock->aFaults)
        if (f.bUsed && f.dwCall == static_cast<DWORD>(call) && sameFilter(f))
            slot = &f;
    for (FaultRec& f : lock->aFaults)
        if (slot == nullptr && !f.bUsed)
            slot = &f;
    if (slot == nullptr)
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    FaultRec f{};
    f.bUsed = TRUE;
    f.dwCall = call;
    f.dwError = error;
    f.dwSkip = skip;
    f.dwCount = count;
    f.dwRemaining = count;
    f.bAnyPrinter = printer == nullptr;
    if (printer != nullptr)
        wcscpy(f.szPrinter, printer);
    *slot = f;
    return TRUE;
}

SIMAPI void WINAPI SimClearFaults()
{
    CStateLock lock;
    if (lock)
        std::memset(lock->aFaults, 0, sizeof(lock->aFaults));
}

SIMAPI BOOL WINAPI SimAttach(LPCWSTR session)
{
    return AttachSession(session) ? TRUE : FALSE;
}

SIMAPI void WINAPI SimReset()
{
    CStateLock lock;
    if (lock)
        ResetState(lock);
}

SIMAPI BOOL WINAPI SimAddDriver(LPCWSTR driver)
{
    DriverRec rec{};
    if (!CopyName(rec.szName, driver))
        return Fail(ERROR_INVALID_PARAMETER);
    CStateLock lock;
    if (!lock)
        return FALSE;
    SharedState& s = *lock;
    if (FindDriver(s, driver) != nullptr)
        return Fail(ERROR_PRINTER_DRIVER_ALREADY_INSTALLED);
    if (s.cDrivers == kMaxDrivers)
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    s.aDrivers[s.cDrivers++] = rec;
    NotifyChange(lock, PRINTER_CHANGE_ADD_PRINTER_DRIVER, nullptr);
    return TRUE;
}

SIMAPI BOOL WINAPI SimRemoveDriver(LPCWSTR driver)
{
    CStateLock lock;
    if (!lock)
        return FALSE;
    SharedState& s = *lock;
    const DriverRec* rec = FindDriver(s, driver);
    if (rec == nullptr)
        return Fail(ERROR_UNKNOWN_PRINTER_DRIVER);
    RemoveAt(s.aDrivers, s.cDrivers, static_cast<DWORD>(rec - s.aDrivers));
    NotifyChange(lock, PRINTER_CHANGE_DELETE_PRINTER_DRIVER, nullptr);
    return TRUE;
}

SIMAPI BOOL WINAPI SimAddPrinter(LPCWSTR printer, LPCWSTR driver)
{
    PrinterRec rec{};
    if (!CopyName(rec.szName, printer))
        return Fail(ERROR_INVALID_PRINTER_NAME);
    if (!CopyName(rec.szDriver, driver))
        return Fail(ERROR_UNKNOWN_PRINTER_DRIVER);
    CStateLock lock;
    if (!lock)
        return FALSE;
    SharedState& s = *lock;
    if (FindPrinter(s, printer) != nullptr)
        return Fail(ERROR_PRINTER_ALREADY_EXISTS);
    if (s.cPrinters == kMaxPrinters)
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    s.aPrinters[s.cPrinters++] = rec;
    NotifyChange(lock, PRINTER_CHANGE_ADD_PRINTER, rec.szName);
    return TRUE;
}

SIMAPI BOOL WINAPI SimRemovePrinter(LPCWSTR printer)
{
    CStateLock lock;
    if (!lock)
        return FALSE;
    SharedState& s = *lock;
    const PrinterRec* rec = FindPrinter(s, printer);
    if (rec == nullptr)
        return Fail(ERROR_INVALID_PRINTER_NAME);
    const PrinterRec gone = *rec;
    // The printer's jobs are deleted with it.
    for (DWORD i = 0; i < s.cJobs;)
    {
        if (SameName(s.aJobs[i].szPrinter, gone.szName))
            DeleteJobAt(lock, i);
        else
            ++i;
    }
    RemoveAt(s.aPrinters, s.cPrinters,
             static_cast<DWORD>(FindPrinter(s, gone.szName) - s.aPrinters));
    NotifyChange(lock, PRINTER_CHANGE_DELETE_PRINTER, gone.szName);
    return TRUE;
}

SIMAPI BOOL WINAPI SimAddJob(LPCWSTR printer, DWORD jobId, DWORD status, LPCWSTR driver)
{
    if (jobId == 0)
        return Fail(ERROR_INVALID_PARAMETER);
    JobRec job{};
    job.dwJobId = jobId;
    job.dwStatus = status;
    job.lValues[0] = 2000;
    if (driver != nullptr && !CopyName(job.szDriver, driver))
        return Fail(ERROR_INVALID_PARAMETER);
    GetSystemTimeAsFileTime(&job.ftSubmitted);
    CStateLock lock;
    if (!lock)
        return FALSE;
    SharedState& s = *lock;
    const PrinterRec* rec = FindPrinter(s, printer);
    if (rec == nullptr)
        return Fail(ERROR_INVALID_PRINTER_NAME);
    if (FindJob(s, jobId) != nullptr)
        return Fail(ERROR_ALREADY_EXISTS);
    if (s.cJobs == kMaxJobs)
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    wcscpy(job.szPrinter, rec->szName);
    if (driver == nullptr)
        wcscpy(job.szDriver, rec->szDriver);
    s.aJobs[s.cJobs++] = job;
    NotifyJobStatus(lock, job, status, PRINTER_CHANGE_ADD_JOB);
    return TRUE;
}

SIMAPI BOOL WINAPI SimSetJobStatus(DWORD jobId, DWORD status)
{
    CStateLock lock;
    if (!lock)
        return FALSE;
    JobRec* job = FindJob(*lock, jobId);
    if (job == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    job->dwStatus = status;
    NotifyJobStatus(lock, *job, status, PRINTER_CHANGE_SET_JOB);
    return TRUE;
}

SIMAPI BOOL WINAPI SimDeleteJob(DWORD jobId)
{
    CStateLock lock;
    if (!lock)
        return FALSE;
    SharedState& s = *lock;
    const JobRec* rec = FindJob(s, jobId);
    if (rec == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    DeleteJobAt(lock, static_cast<DWORD>(rec - s.aJobs));
    return TRUE;
}

SIMAPI DWORD WINAPI SimCountRegistrations()
{
    CStateLock lock;
    if (!lock)
        return 0;
    DWORD n = 0;
    for (Registration& reg : lock->aRegs)
    {
        if (reg.bUsed && !RegistrationAlive(lock, reg))
            reg.bUsed = FALSE; // its process has gone
        if (reg.bUsed)
            ++n;
    }
    return n;
}

SIMAPI BOOL WINAPI SimQueueEntry(WORD type, WORD field, DWORD id, DWORD data)
{
    CStateLock lock;
    if (!lock)
        return FALSE;
    QueueRawEntry(lock, type, field, id, data);
    return TRUE;
}

SIMAPI BOOL WINAPI SimQueueChange(DWORD change)
{
    CStateLock lock;
    if (!lock)
        return FALSE;
    NotifyChange(lock, change, nullptr);
    return TRUE;
}

SIMAPI BOOL WINAPI SimQueueDiscarded()
{
    CStateLock lock;
    if (!lock)
        return FALSE;
    QueueDiscarded(lock);
    return TRUE;
}

SIMAPI BOOL WINAPI SimSetJobValues(DWORD jobId, LONG errorCode, LONG detail, LONG buttonType,
                                   BOOL resetSW)
{
    CStateLock lock;
    if (!lock)
        return FALSE;
    JobRec* job = FindJob(*lock, jobId);
    if (job == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    job->lValues[0] = errorCode;
    job->lValues[1] = detail;
    job->lValues[2] = buttonType;
    job->lValues[3] = resetSW;
    return TRUE;
}

SIMAPI BOOL WINAPI SimSetAnswer(DWORD count, const SimAnswerEntry* entries)
{
    if (count > kMaxAnswerEntries || (count > 0 && entries == nullptr))
        return Fail(ERROR_INVALID_PARAMETER);
    for (DWORD i = 0; i < count; ++i)
    {
        const SimAnswerEntry& e = entries[i];
        const bool terminated =
            wmemchr(e.szPath, L'\0', ARRAYSIZE(e.szPath)) != nullptr || e.bNullPath;
        if (!terminated || e.cbData > 16 || e.nValue < -1 || e.nValue > 3)
            return Fail(ERROR_INVALID_PARAMETER);
    }
    CStateLock lock;
    if (!lock)
        return FALSE;
    SharedState& s = *lock;
    for (DWORD i = 0; i < count; ++i)
    {
        s.aAnswer[i] = entries[i];
        if (s.aAnswer[i].bNullPath)
            s.aAnswer[i].szPath[0] = L'\0';
    }
    s.cAnswer = count;
    s.bAnswerSet = TRUE;
    return TRUE;
}

SIMAPI void WINAPI SimClearAnswer()
{
    CStateLock lock;
    if (!lock)
        return;
    lock->bAnswerSet = FALSE;
    lock->cAnswer = 0;
}

SIMAPI DWORD WINAPI SimGetEventCount()
{
    CStateLock lock;
    return lock ? lock->dwEventTotal : 0;
}

SIMAPI BOOL WINAPI SimGetEvent(DWORD index, SimEvent* event)
{
    if (event == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    CStateLock lock;
    if (!lock)
        return FALSE;
    const SharedState& s = *lock;
    if (index >= s.dwEventTotal || s.dwEventTotal - index > kEventCapacity)
        return Fail(ERROR_NO_MORE_ITEMS);
    *event = s.aEvents[index % kEventCapacity];
    return TRUE;
}

SIMAPI DWORD WINAPI SimCountEvents(DWORD kind, DWORD jobId)
{
    CStateLock lock;
    if (!lock)
        return 0;
    const SharedState& s = *lock;
    if (jobId == 0)
        return kind < ARRAYSIZE(s.adwKindTotals) ? s.adwKindTotals[kind] : 0;
    const DWORD first = s.dwEventTotal > kEventCapacity ? s.dwEventTotal - kEventCapacity : 0;
    DWORD n = 0;
    for (DWORD i = first; i < s.dwEventTotal; ++i)
    {
        const SimEvent& e = s.aEvents[i % kEventCapacity];
        if (e.dwKind == kind && e.dwJobId == jobId)
            ++n;
    }
    return n;
}

SIMAPI void WINAPI SimGetAccounting(SimAccounting* accounting)
{
    if (accounting == nullptr)
        return;
    *accounting = SimAccounting{};
    CStateLock lock;
    if (!lock)
        return;
    for (DWORD r = 0; r < SIM_RES_COUNT; ++r)
    {
        accounting->lObtained[r] = InterlockedCompareExchange(&lock->lObtained[r], 0, 0);
        accounting->lReleased[r] = InterlockedCompareExchange(&lock->lReleased[r], 0, 0);
    }
}

SIMAPI BOOL WINAPI SimIsBalanced()
{
    SimAccounting a;
    SimGetAccounting(&a);
    for (DWORD r = 0; r < SIM_RES_COUNT; ++r)
        if (a.lObtained[r] != a.lReleased[r])
            return FALSE;
    return TRUE;
}

SIMAPI DWORD WINAPI SimGetDroppedBindings()
{
    CStateLock lock;
    return lock ? static_cast<DWORD>(InterlockedCompareExchange(&lock->lDroppedBindings, 0, 0)) : 0;
}
