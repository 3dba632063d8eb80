// Operations on the shared model. Every function here expects the caller to hold a CStateLock.
#pragma once

#include "shared.h"

namespace quenlo::sim
{

// Printer and driver names compare without regard to case, as the spooler's do.
bool SameName(LPCWSTR a, LPCWSTR b);
// Copies a name that fits kNameChars; false for null, empty or over-long names.
bool CopyName(WCHAR (&dst)[kNameChars], LPCWSTR src);

DriverRec* FindDriver(SharedState& s, LPCWSTR name);
PrinterRec* FindPrinter(SharedState& s, LPCWSTR name);
JobRec* FindJob(SharedState& s, DWORD jobId);
DWORD CountJobs(const SharedState& s, LPCWSTR printer);

void LogEvent(SharedState& s, DWORD kind, DWORD jobId, LPCWSTR printer);

// True when an injected fault applies to this call; consumes it and yields the error. `printer`
// is the printer the call is about ("" for the server, null when it is about none).
bool TakeFault(SharedState& s, SimCall call, LPCWSTR printer, DWORD* error);

// Notifications to the registrations of the spooler.
void NotifyJobStatus(CStateLock& lock, const JobRec& job, DWORD status, DWORD changeBit);
void NotifyChange(CStateLock& lock, DWORD change, LPCWSTR printer);
void QueueRawEntry(CStateLock& lock, WORD type, WORD field, DWORD id, DWORD data);
void QueueDiscarded(CStateLock& lock);

// Registrations: the change event's name, whether its owner still runs, and signalling it.
void RegistrationEventName(CStateLock& lock, DWORD gen, WCHAR* buffer, size_t cch);
bool RegistrationAlive(CStateLock& lock, const Registration& reg);
bool WantsField(const Registration& reg, WORD type, WORD field);

// Empties the model, faults, answer, records and counters; keeps the registrations of running
// processes (with empty queues) and forgets those whose owner has gone.
void ResetState(CStateLock& lock);

} // namespace quenlo::sim
