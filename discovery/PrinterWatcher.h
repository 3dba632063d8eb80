// The printer watcher thread: job-status and driver-deletion notifications of the local spooler.
#pragma once

#include <windows.h>

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

void OnJobPrinting(DWORD dwJobId, CJobMonitorList& list);
void OnJobDeleted(DWORD dwJobId, CJobMonitorList& list);
