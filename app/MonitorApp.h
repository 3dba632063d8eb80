// The application object: single instance, hidden main frame, the printer watcher's start and stop.
#pragma once

#include <afxwin.h>

#include "../discovery/PrinterWatcher.h"

class CMonitorApp : public CWinApp
{
public:
    CMonitorApp();
    ~CMonitorApp() override;

    BOOL InitInstance() override;
    int ExitInstance() override;

    // TRUE when a new watcher runs; FALSE when it failed or one already runs.
    BOOL StartPrinterWatcher();
    // Stops the watcher (and through it every job monitor) and waits for it. Always TRUE.
    BOOL StopPrinterWatcher();

protected:
    void OnAppAbout();
    DECLARE_MESSAGE_MAP()

private:
    CWinThread* m_pWatcherThread;
    WatcherParams m_watcherParams;
};
