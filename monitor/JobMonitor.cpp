#include "JobMonitor.h"

#include "BidiClient.h"
#include "JobStatus.h"

#include "../ui/MsgDlg.h"
#include "../ui/MsgDlgThread.h"

#include <afxwin.h>

#include <cwchar>
#include <new>

namespace
{

// Error codes the monitor decides on itself; every other code goes to the dialog.
constexpr LONG kCodeNoError = 2000;
constexpr LONG kCodeKeepA = 2028;
constexpr LONG kCodeKeepB = 2029;

constexpr DWORD kPollPeriodMs = 1000;
constexpr DWORD kDialogWaitStepMs = 100;

bool IsSignalled(HANDLE hEvent)
{
    return WaitForSingleObject(hEvent, 0) == WAIT_OBJECT_0;
}

// The values of the last status the dialog accepted for showing.
struct ShownTriple
{
    LONG nErrorCode = kCodeNoError;
    LONG nErrorCodeDetail = kCodeNoError;
    LONG nShowButtonType = -1;

    bool Matches(const JobStatus& status) const
    {
        return status.ErrorCode == nErrorCode && status.ErrorCodeDetail == nErrorCodeDetail &&
               status.ShowButtonType == nShowButtonType;
    }
};

// Waits until the dialog thread's window exists. Null when the thread stopped running first, or
// when the monitor is asked to stop meanwhile.
HWND WaitForDialogWindow(const CMsgDlgThread& thread, HANDLE hStopEvent)
{
    for (;;)
    {
        DWORD dwExitCode = 0;
        if (!GetExitCodeThread(thread.m_hThread, &dwExitCode) || dwExitCode != STILL_ACTIVE)
            return nullptr;
        if (const CMsgDlg* pDlg = thread.GetMsgDlg())
        {
            if (pDlg->m_hWnd != nullptr)
                return pDlg->m_hWnd;
        }
        if (WaitForSingleObject(hStopEvent, kDialogWaitStepMs) == WAIT_OBJECT_0)
            return nullptr;
    }
}

// Sends the dialog what this status asks for.
void ApplyStatus(HWND hDlg, JobStatus& status, ShownTriple& lastShown)
{
    if (status.ButtonResetSW != 0)
        SendMessageW(hDlg, WM_MSGDLG_RESETCANCEL, 0, 0);

    switch (status.ErrorCode)
    {
    case kCodeKeepA:
    case kCodeKeepB:
        break;
    case kCodeNoError:
        if (IsWindowVisible(hDlg))
            SendMessageW(hDlg, WM_MSGDLG_HIDE, 0, 0);
        break;
    default:
        if (!IsWindowVisible(hDlg) || !lastShown.Matches(status))
        {
            if (SendMessageW(hDlg, WM_MSGDLG_SHOW, reinterpret_cast<WPARAM>(&status), 0) != 0)
                lastShown = {status.ErrorCode, status.ErrorCodeDetail, status.ShowButtonType};
        }
        break;
    }
}

// Polls the printer once a second until the stop event is set; passes button presses on.
void PollJob(CBidiClient& client, DWORD dwJobId, HWND hDlg, HANDLE hStopEvent, HANDLE hCancelEvent)
{
    const HANDLE waits[2] = {hStopEvent, hCancelEvent};
    JobStatus status{};
    ShownTriple lastShown;
    for (;;)
    {
        if (client.GetJobStatus(dwJobId, &status))
            ApplyStatus(hDlg, status, lastShown);

        if (WaitForMultipleObjects(2, waits, FALSE, kPollPeriodMs) == WAIT_TIMEOUT)
            continue;
        if (IsSignalled(hStopEvent))
            return;
        if (IsSignalled(hCancelEvent))
        {
            const BOOL bDelivered = client.SendCancelClick(dwJobId);
            ResetEvent(hCancelEvent);
            // A press the printer did not take is forgotten, so the dialog can ask again.
            if (!bDelivered)
                SendMessageW(hDlg, WM_MSGDLG_RESETCANCEL, 0, 0);
        }
    }
}

// Ends the dialog thread and deletes its object.
void EndDialogThread(CWinThread* pThread)
{
    if (pThread->m_hThread != nullptr)
    {
        // The quit message needs the thread's queue: until the thread has one, try again.
        while (!PostThreadMessageW(pThread->m_nThreadID, WM_QUIT, 0, 0))
        {
            if (WaitForSingleObject(pThread->m_hThread, 10) == WAIT_OBJECT_0)
                break;
        }
        WaitForSingleObject(pThread->m_hThread, INFINITE);
    }
    delete pThread;
}

} // namespace

CJobMonitorParam::CJobMonitorParam(DWORD dwJobId, LPCWSTR pszPrinterName, HANDLE hStopEvent)
    : m_dwJobId(dwJobId), m_pszPrinterName(nullptr), m_hStopEvent(hStopEvent), m_bValid(FALSE)
{
    if (pszPrinterName != nullptr && pszPrinterName[0] != L'\0')
    {
        const size_t cch = std::wcslen(pszPrinterName) + 1;
        m_pszPrinterName = new (std::nothrow) WCHAR[cch];
        if (m_pszPrinterName != nullptr)
        {
            std::wmemcpy(m_pszPrinterName, pszPrinterName, cch);
            m_bValid = TRUE;
        }
    }
}

CJobMonitorParam::~CJobMonitorParam()
{
    delete[] m_pszPrinterName;
}

CWinThread* StartJobMonitor(DWORD dwJobId, LPCWSTR pszPrinterName, HANDLE hStopEvent)
{
    auto* pParam = new (std::nothrow) CJobMonitorParam(dwJobId, pszPrinterName, hStopEvent);
    if (pParam == nullptr)
        return nullptr;
    if (!pParam->m_bValid)
    {
        delete pParam;
        return nullptr;
    }

    CWinThread* pThread = AfxBeginThread(JobMonitorThreadProc, pParam, THREAD_PRIORITY_NORMAL, 0,
                                         CREATE_SUSPENDED, nullptr);
    if (pThread == nullptr)
    {
        delete pParam;
        return nullptr;
    }
    pThread->m_bAutoDelete = FALSE;
    if (ResumeThread(pThread->m_hThread) == static_cast<DWORD>(-1))
    {
        delete pThread;
        delete pParam;
        return nullptr;
    }
    return pThread;
}

UINT __cdecl JobMonitorThreadProc(LPVOID pParam)
{
    auto* pMonitorParam = static_cast<CJobMonitorParam*>(pParam);
    const DWORD dwJobId = pMonitorParam->m_dwJobId;
    const LPCWSTR pszPrinterName = pMonitorParam->m_pszPrinterName;
    const HANDLE hStopEvent = pMonitorParam->m_hStopEvent;
    CBidiClient client;

    if (HANDLE hCancelEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr))
    {
        CWinThread* pThread = AfxBeginThread(RUNTIME_CLASS(CMsgDlgThread), THREAD_PRIORITY_NORMAL,
                                             0, CREATE_SUSPENDED, nullptr);
        if (pThread != nullptr)
        {
            auto* pDlgThread = static_cast<CMsgDlgThread*>(pThread);
            pDlgThread->m_bAutoDelete = FALSE;
            pDlgThread->m_hCancelEvent = hCancelEvent;
            if (ResumeThread(pDlgThread->m_hThread) == static_cast<DWORD>(-1))
            {
                delete pDlgThread;
            }
            else
            {
                const HWND hDlg = WaitForDialogWindow(*pDlgThread, hStopEvent);
                if (hDlg != nullptr && client.Open() && client.SetPrinterName(pszPrinterName))
                    PollJob(client, dwJobId, hDlg, hStopEvent, hCancelEvent);
                EndDialogThread(pDlgThread);
            }
        }
        CloseHandle(hCancelEvent);
    }

    delete pMonitorParam;
    client.Close();
    return 0;
}
