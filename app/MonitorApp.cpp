#include "MonitorApp.h"

#include "AboutDlg.h"
#include "MainFrm.h"

namespace
{
constexpr WCHAR kInstanceMutexName[] = L"Message UI Application for ORLUME 470 Photo Printer";
}

BEGIN_MESSAGE_MAP(CMonitorApp, CWinApp)
ON_COMMAND(ID_APP_ABOUT, &CMonitorApp::OnAppAbout)
END_MESSAGE_MAP()

CMonitorApp::CMonitorApp() : m_pWatcherThread(nullptr), m_watcherParams{nullptr, nullptr} {}

CMonitorApp::~CMonitorApp() = default;

BOOL CMonitorApp::InitInstance()
{
    // The mutex marks the running copy; the process end releases it.
    HANDLE hMutex = CreateMutexW(nullptr, TRUE, kInstanceMutexName);
    if (hMutex == nullptr)
        return FALSE;
    if (GetLastError() == ERROR_ALREADY_EXISTS)
        return FALSE;

    Enable3dControlsStatic();

    auto* pFrame = new CMainFrame;
    if (pFrame->m_hWnd == nullptr)
    {
        // Without its hidden window the program could never be closed in order.
        delete pFrame;
        return FALSE;
    }
    m_pMainWnd = pFrame;
    pFrame->ShowWindow(SW_HIDE);
    pFrame->UpdateWindow();

    if (StartPrinterWatcher())
        return TRUE;
    m_pMainWnd->DestroyWindow();
    return FALSE;
}

int CMonitorApp::ExitInstance()
{
    if (m_pWatcherThread != nullptr)
        StopPrinterWatcher();
    return CWinApp::ExitInstance();
}

BOOL CMonitorApp::StartPrinterWatcher()
{
    if (m_pWatcherThread != nullptr)
        return FALSE;

    HANDLE hStopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (hStopEvent == nullptr)
        return FALSE;
    m_watcherParams.hStopEvent = hStopEvent;
    m_watcherParams.hMainWnd = m_pMainWnd->m_hWnd;

    CWinThread* pThread = AfxBeginThread(PrinterWatchThreadProc, &m_watcherParams,
                                         THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED, nullptr);
    if (pThread != nullptr)
    {
        pThread->m_bAutoDelete = FALSE;
        if (ResumeThread(pThread->m_hThread) != static_cast<DWORD>(-1))
        {
            m_pWatcherThread = pThread;
            return TRUE;
        }
        delete pThread;
    }

    CloseHandle(hStopEvent);
    m_watcherParams = {nullptr, nullptr};
    return FALSE;
}

BOOL CMonitorApp::StopPrinterWatcher()
{
    if (m_pWatcherThread == nullptr)
        return TRUE;

    SetEvent(m_watcherParams.hStopEvent);
    WaitForSingleObject(m_pWatcherThread->m_hThread, INFINITE);
    delete m_pWatcherThread;
    m_pWatcherThread = nullptr;
    CloseHandle(m_watcherParams.hStopEvent);
    m_watcherParams = {nullptr, nullptr};
    return TRUE;
}

void CMonitorApp::OnAppAbout()
{
    CAboutDlg aboutDlg;
    aboutDlg.DoModal();
}
