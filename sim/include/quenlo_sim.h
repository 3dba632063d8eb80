// Control interface of the printer simulator.
//
// The simulator is one DLL, built as `winspool.drv`. It exports the spooler functions the program
// calls, serves the bidi spooler and bidi request COM classes, and exports the control functions
// below. All state (printers, drivers, jobs, the printer's answers, queued notifications, recorded
// clicks, injected faults, accounting) lives in one named shared-memory session, so a test process
// and the `quenlo-sim` controller can drive the same model that a running program uses.
//
// A process attaches to the session named by the environment variable QUENLO_SIM_SESSION
// ("default" when unset) on first use; SimAttach switches to another session.
#pragma once

#include <windows.h>

#ifdef QUENLO_SIM_BUILD
#define SIMAPI extern "C" __declspec(dllexport)
#else
#define SIMAPI extern "C" __declspec(dllimport)
#endif

// Calls that can be made to fail (SimSetFault).
enum SimCall : DWORD
{
    // spooler
    SIM_OPEN_PRINTER = 1,  // OpenPrinterW (printer filter: the printer name, "" = the server)
    SIM_CLOSE_PRINTER,     // ClosePrinter
    SIM_ENUM_PRINTERS,     // EnumPrintersW
    SIM_ENUM_JOBS,         // EnumJobsW
    SIM_GET_JOB,           // GetJobW
    SIM_ENUM_DRIVERS,      // EnumPrinterDriversW
    SIM_FIND_FIRST_CHANGE, // FindFirstPrinterChangeNotification
    SIM_FIND_NEXT_CHANGE,  // FindNextPrinterChangeNotification
    SIM_FIND_CLOSE_CHANGE, // FindClosePrinterChangeNotification
    SIM_FREE_NOTIFY_INFO,  // FreePrinterNotifyInfo
    // bidi (error = the HRESULT to return)
    SIM_CREATE_BIDI_SPL = 100, // CoCreateInstance(CLSID_BidiSpl): the class factory fails
    SIM_CREATE_BIDI_REQUEST,   // CoCreateInstance(CLSID_BidiRequest)
    SIM_SET_SCHEMA,            // IBidiRequest::SetSchema
    SIM_SET_INPUT_DATA,        // IBidiRequest::SetInputData
    SIM_BIND_DEVICE,           // IBidiSpl::BindDevice
    SIM_SEND_RECV,             // IBidiSpl::SendRecv
    SIM_UNBIND_DEVICE,         // IBidiSpl::UnbindDevice
    SIM_GET_RESULT,            // IBidiRequest::GetResult: the call itself fails
    SIM_RESULT_VALUE,          // IBidiRequest::GetResult succeeds and delivers the error as result
    SIM_GET_ENUM_COUNT,        // IBidiRequest::GetEnumCount
    SIM_GET_OUTPUT_DATA,       // IBidiRequest::GetOutputData
};

// Fault: after `skip` matching calls that succeed, the next `count` matching calls fail with
// `error` (count 0: every one). Spooler calls fail the documented way for their kind (FALSE or
// INVALID_HANDLE_VALUE with SetLastError(error)); bidi calls return `error` as HRESULT.
// `printer` (may be null) restricts the fault to calls about that printer name.
SIMAPI BOOL WINAPI SimSetFault(SimCall call, DWORD error, DWORD skip, DWORD count, LPCWSTR printer);
SIMAPI void WINAPI SimClearFaults();

// Session
SIMAPI BOOL WINAPI SimAttach(LPCWSTR session); // creates the session when new
SIMAPI void WINAPI SimReset();                 // empty model, no faults, counters and records zero

// Model. Every job change queues the job-status notification a real spooler would send.
SIMAPI BOOL WINAPI SimAddDriver(LPCWSTR driver);
SIMAPI BOOL WINAPI SimRemoveDriver(LPCWSTR driver); // queues PRINTER_CHANGE_DELETE_PRINTER_DRIVER
SIMAPI BOOL WINAPI SimAddPrinter(LPCWSTR printer, LPCWSTR driver);
SIMAPI BOOL WINAPI SimRemovePrinter(LPCWSTR printer);
// Adds a job; `driver` null records the printer's driver with the job.
SIMAPI BOOL WINAPI SimAddJob(LPCWSTR printer, DWORD jobId, DWORD status, LPCWSTR driver);
SIMAPI BOOL WINAPI SimSetJobStatus(DWORD jobId, DWORD status);
// Notifies status | JOB_STATUS_DELETED, then forgets the job.
SIMAPI BOOL WINAPI SimDeleteJob(DWORD jobId);

// Change registrations (FindFirstPrinterChangeNotification) open in running processes of the
// session; lets a test wait until a program watches the spooler.
SIMAPI DWORD WINAPI SimCountRegistrations();

// Raw notifications, delivered to every registration whose options ask for them.
SIMAPI BOOL WINAPI SimQueueEntry(WORD type, WORD field, DWORD id, DWORD data);
SIMAPI BOOL WINAPI SimQueueChange(DWORD change); // change-word bits (filtered by registration)
// The next block is flagged PRINTER_NOTIFY_INFO_DISCARDED.
SIMAPI BOOL WINAPI SimQueueDiscarded();

// The printer's answer for one job ("GetAll" on \Printer.MEJob.MEStatus).
SIMAPI BOOL WINAPI SimSetJobValues(DWORD jobId, LONG errorCode, LONG detail, LONG buttonType,
                                   BOOL resetSW);

// Answer shape override, for bad-provider tests: instead of the four normal entries the provider
// answers `count` entries built from `entries` (count 0..8). SimClearAnswer restores the
// normal one.
struct SimAnswerEntry
{
    WCHAR szPath[80]; // the entry's path; used when bNullPath is FALSE
    BOOL bNullPath;   // GetOutputData hands out a null path
    BOOL bNullData;   // ... a null data pointer
    DWORD cbData;     // size of the data handed out (0..4 meaningful; the value's low bytes)
    int nValue;       // -1: a literal (lValue); 0..3: that field of the job's values
    LONG lValue;      // the literal
    DWORD dwType;     // BIDI_TYPE reported
};
SIMAPI BOOL WINAPI SimSetAnswer(DWORD count, const SimAnswerEntry* entries);
SIMAPI void WINAPI SimClearAnswer();

// Event log: what the printer and spooler saw, time-stamped (GetSystemTimePreciseAsFileTime).
enum SimEventKind : DWORD
{
    SIM_EV_STATUS_REQUEST = 1, // a "GetAll" reached the printer for a job (answered or not)
    SIM_EV_CLICK,              // a "Set" MEClickCancelButton reached the printer and succeeded
    SIM_EV_NOTIFY,             // a job-status entry was queued to the spooler's registrations
};
struct SimEvent
{
    DWORD dwKind;
    DWORD dwJobId;
    ULONGLONG ullTime; // FILETIME ticks
    WCHAR szPrinter[64];
};
SIMAPI DWORD WINAPI SimGetEventCount(); // total logged since reset
// FALSE when out of range or overwritten.
SIMAPI BOOL WINAPI SimGetEvent(DWORD index, SimEvent* event);
SIMAPI DWORD WINAPI SimCountEvents(DWORD kind, DWORD jobId); // jobId 0: any job

// Accounting: what the simulator handed out and what came back.
enum SimResource : DWORD
{
    SIM_RES_PRINTER_HANDLE = 0, // OpenPrinterW / ClosePrinter
    SIM_RES_CHANGE_HANDLE,      // FindFirstPrinterChangeNotification / FindClose...
    SIM_RES_NOTIFY_BLOCK,       // PRINTER_NOTIFY_INFO handed out / FreePrinterNotifyInfo
    SIM_RES_BIDI_SPL,           // IBidiSpl objects created / destroyed
    SIM_RES_BIDI_REQUEST,       // IBidiRequest objects created / destroyed
    SIM_RES_BINDING,            // BindDevice / UnbindDevice (and bindings dropped at Release)
    SIM_RES_TASK_MEM,           // CoTaskMemAlloc'd strings handed out / freed by the caller
    SIM_RES_COUNT
};
struct SimAccounting
{
    LONG lObtained[SIM_RES_COUNT];
    LONG lReleased[SIM_RES_COUNT];
};
SIMAPI void WINAPI SimGetAccounting(SimAccounting* accounting);
SIMAPI BOOL WINAPI SimIsBalanced(); // every obtained resource was released
// Bindings that ended without UnbindDevice (the IBidiSpl was released while bound, or bound
// again); they are counted as released above as well.
SIMAPI DWORD WINAPI SimGetDroppedBindings();
