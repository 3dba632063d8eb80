// One printing job watched from start to end: its status read once a second, its error dialog
// driven from it, and a press of the dialog's button passed on to the printer.
#pragma once

#include <windows.h>

class CWinThread;

// What StartJobMonitor hands to the new thread; the thread destroys it before it ends.
class CJobMonitorParam
{
public:
    CJobMonitorParam(DWORD dwJobId, LPCWSTR pszPrinterName, HANDLE hStopEvent);
    CJobMonitorParam(const CJobMonitorParam&) = delete;
    CJobMonitorParam& operator=(const CJobMonitorParam&) = delete;
    virtual ~CJobMonitorParam();

    DWORD m_dwJobId;
    LPWSTR m_pszPrinterName; // owned copy; null when none was made
    HANDLE m_hStopEvent;     // not owned
    BOOL m_bValid;           // TRUE only when a non-empty name was copied
};

// Starts the monitor thread (running, auto-delete off), or returns null when nothing was started.
// The caller sets hStopEvent to end it, waits on m_hThread, then deletes the object.
CWinThread* StartJobMonitor(DWORD dwJobId, LPCWSTR pszPrinterName, HANDLE hStopEvent);

UINT __cdecl JobMonitorThreadProc(LPVOID pParam);
