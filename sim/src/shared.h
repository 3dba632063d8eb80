// The simulator's state: one fixed-size record in a named section shared by every process of a
// session, guarded by a named mutex.
#pragma once

#include <windows.h>
#include <winspool.h>

#include <cstddef>

#include "quenlo_sim.h"

namespace quenlo::sim
{

inline constexpr DWORD kNameChars = 128; // printer and driver names, with the terminating null
inline constexpr DWORD kMaxDrivers = 32;
inline constexpr DWORD kMaxPrinters = 32;
inline constexpr DWORD kMaxJobs = 512;
inline constexpr DWORD kMaxRegistrations = 16;
inline constexpr DWORD kQueueCapacity = 16384; // notification entries per registration
inline constexpr DWORD kMaxNotifyFields = 32;  // (type, field) pairs a registration asks for
inline constexpr DWORD kEventCapacity = 65536;
inline constexpr DWORD kMaxFaults = 32;
inline constexpr DWORD kMaxAnswerEntries = 8;

struct DriverRec
{
    WCHAR szName[kNameChars];
};

struct PrinterRec
{
    WCHAR szName[kNameChars];
    WCHAR szDriver[kNameChars];
};

struct JobRec
{
    DWORD dwJobId;
    DWORD dwStatus;
    WCHAR szPrinter[kNameChars];
    WCHAR szDriver[kNameChars];
    FILETIME ftSubmitted;
    LONG lValues[4]; // error code, detail, button type, reset flag as the printer reports them
};

struct NotifyEntry
{
    WORD wType;
    WORD wField;
    DWORD dwId;
    DWORD dwData;
};

struct NotifyField
{
    WORD wType;
    WORD wField;
};

// Identifies a process across pid reuse.
struct OwnerId
{
    DWORD dwPid;
    FILETIME ftCreated;
};

struct Registration
{
    BOOL bUsed;
    DWORD dwGen; // names the change event
    OwnerId owner;
    ULONGLONG ullEvent; // the change event's handle value in the owner process
    BOOL bServer;       // registered on the server handle: every printer's jobs
    WCHAR szPrinter[kNameChars];
    DWORD dwFilter;
    BOOL bHasOptions;
    DWORD cFields;
    NotifyField aFields[kMaxNotifyFields];
    DWORD dwPendingChange;
    BOOL bDiscardPending; // the next block reports PRINTER_NOTIFY_INFO_DISCARDED
    BOOL bAwaitRefresh;   // discarded was reported; nothing is queued until the refresh call
    DWORD dwHead;
    DWORD dwCount;
    NotifyEntry aQueue[kQueueCapacity];
};

struct FaultRec
{
    BOOL bUsed;
    DWORD dwCall;
    DWORD dwError;
    DWORD dwSkip;
    DWORD dwCount;     // 0: every matching call
    DWORD dwRemaining; // failures left when dwCount is non-zero
    BOOL bAnyPrinter;  // no printer filter
    WCHAR szPrinter[kNameChars];
};

inline constexpr DWORD kMagic = 0x514E5349; // "QNSI"
inline constexpr DWORD kLayoutVersion = 1;

struct SharedState
{
    DWORD dwMagic;
    DWORD dwVersion;
    DWORD cbSize;
    DWORD dwNextGen;

    DWORD cDrivers;
    DriverRec aDrivers[kMaxDrivers];
    DWORD cPrinters;
    PrinterRec aPrinters[kMaxPrinters];
    DWORD cJobs;
    JobRec aJobs[kMaxJobs];

    FaultRec aFaults[kMaxFaults];

    BOOL bAnswerSet;
    DWORD cAnswer;
    SimAnswerEntry aAnswer[kMaxAnswerEntries];

    // Updated with interlocked operations, without the mutex.
    LONG lObtained[SIM_RES_COUNT];
    LONG lReleased[SIM_RES_COUNT];
    LONG lDroppedBindings;

    DWORD dwEventTotal;
    DWORD adwKindTotals[4];
    SimEvent aEvents[kEventCapacity];

    Registration aRegs[kMaxRegistrations];
};

// Holds the session mutex for one operation. Fails (false) when no session can be attached.
class CStateLock
{
public:
    CStateLock();
    ~CStateLock();
    CStateLock(const CStateLock&) = delete;
    CStateLock& operator=(const CStateLock&) = delete;

    explicit operator bool() const { return m_pState != nullptr; }
    SharedState* operator->() const { return m_pState; }
    SharedState& operator*() const { return *m_pState; }
    // Kernel-object name prefix of the session, e.g. "Local\\QuenloSim.default".
    LPCWSTR Prefix() const { return m_pszPrefix; }

private:
    SharedState* m_pState = nullptr;
    HANDLE m_hMutex = nullptr;
    LPCWSTR m_pszPrefix = nullptr;
};

// Attaches the process to a session (creating it when new). Empty or over-long names fail.
bool AttachSession(LPCWSTR session);

// Accounting with interlocked counters; callable with or without the lock (and from inside the
// task-memory spy).
void CountObtained(SimResource resource);
void CountReleased(SimResource resource);
void CountDroppedBinding();

OwnerId CurrentOwner();
bool SameOwner(const OwnerId& a, const OwnerId& b);
ULONGLONG Now();

// Sets the thread's last error and returns FALSE, as a failing Win32 call does.
inline BOOL Fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

} // namespace quenlo::sim
