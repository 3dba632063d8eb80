// The printer watcher thread: job-status and driver-deletion notifications of the local spooler.
#pragma once

#include <windows.h>
#include <winspool.h>

class CJobMonitorList;

// Filled by the application before the watcher thread runs.
struct WatcherParams
{
    HANDLE hStopEvent; // manual reset; set to end the watch
    HWND hMainWnd;     // receives WM_CLOSE when the target driver is gone or the spooler can't be
                       // watched
};

// Worker-thread procedure; the argument is the WatcherParams. Always returns 0.
UINT __cdecl PrinterWatchThreadProc(LPVOID pParam);

// Passes each job-status entry of a notification block to OnJobDeleted or OnJobPrinting; entries
// of any other type or field are skipped.
void DispatchStatusEntries(const PRINTER_NOTIFY_INFO& info, CJobMonitorList& list);
void OnJobPrinting(DWORD dwJobId, CJobMonitorList& list);
void OnJobDeleted(DWORD dwJobId, CJobMonitorList& list);
