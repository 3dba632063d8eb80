// Threads: worker and user-interface threads started by AfxBeginThread.
#include "afximpl.h"

#include <process.h>

namespace
{

thread_local CWinThread* t_pCurrentThread = nullptr;

unsigned __stdcall ThreadEntry(void* pvThread)
{
    CWinThread* pThread = static_cast<CWinThread*>(pvThread);
    AfxSetThread(pThread);

    UINT nResult = 0;
    if (pThread->m_pfnThreadProc)
    {
        nResult = pThread->m_pfnThreadProc(pThread->m_pThreadParams);
    }
    else
    {
        // The thread has a message queue from the start, so thread messages posted to it early
        // (a quit) are kept.
        MSG msg;
        ::PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
        if (!pThread->InitInstance())
            nResult = static_cast<UINT>(pThread->ExitInstance());
        else
            nResult = static_cast<UINT>(pThread->Run());
    }

    AfxWndInternals::ReleaseThreadTemporaries();
    AfxSetThread(nullptr);
    if (pThread->m_bAutoDelete)
        delete pThread;
    return nResult;
}

// Starts pThread's thread; false when it could not be started (nothing of it remains).
bool StartThread(CWinThread* pThread, int nPriority, UINT nStackSize, DWORD dwCreateFlags,
                 LPSECURITY_ATTRIBUTES lpSecurityAttrs)
{
    unsigned nThreadID = 0;
    const uintptr_t hThread = _beginthreadex(lpSecurityAttrs, nStackSize, ThreadEntry, pThread,
                                             dwCreateFlags | CREATE_SUSPENDED, &nThreadID);
    if (!hThread)
        return false;
    pThread->m_hThread = reinterpret_cast<HANDLE>(hThread);
    pThread->m_nThreadID = nThreadID;
    ::SetThreadPriority(pThread->m_hThread, nPriority);
    if (dwCreateFlags & CREATE_SUSPENDED)
        return true;

    HANDLE hHandle = pThread->m_hThread;
    if (::ResumeThread(hHandle) != static_cast<DWORD>(-1))
        return true; // with auto-delete on, pThread may already be gone
    // The thread never ran a line of its own: end it before its object goes.
    ::TerminateThread(hHandle, 0);
    ::WaitForSingleObject(hHandle, INFINITE);
    ::CloseHandle(hHandle);
    pThread->m_hThread = nullptr;
    pThread->m_nThreadID = 0;
    return false;
}

} // namespace

void AfxSetThread(CWinThread* pThread)
{
    t_pCurrentThread = pThread;
}

CWinThread* AfxGetThread()
{
    return t_pCurrentThread;
}

CWnd* AfxGetMainWnd()
{
    CWinThread* pThread = AfxGetThread();
    return pThread ? pThread->GetMainWnd() : nullptr;
}

IMPLEMENT_DYNAMIC(CWinThread, CCmdTarget)

BEGIN_MESSAGE_MAP(CWinThread, CCmdTarget)
END_MESSAGE_MAP()

CWinThread::CWinThread() = default;

CWinThread::CWinThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam)
    : m_pfnThreadProc(pfnThreadProc), m_pThreadParams(pParam)
{
}

CWinThread::~CWinThread()
{
    if (m_hThread)
        ::CloseHandle(m_hThread);
}

BOOL CWinThread::InitInstance()
{
    return FALSE;
}

int CWinThread::Run()
{
    for (;;)
    {
        const BOOL bResult = ::GetMessageW(&m_msgCur, nullptr, 0, 0);
        if (bResult == 0)
            break;
        if (bResult == -1)
        {
            m_msgCur = MSG{};
            break;
        }
        if (!PreTranslateMessage(&m_msgCur))
        {
            ::TranslateMessage(&m_msgCur);
            ::DispatchMessageW(&m_msgCur);
        }
    }
    return ExitInstance();
}

BOOL CWinThread::PreTranslateMessage(MSG* pMsg)
{
    if (!pMsg->hwnd)
        return FALSE;
    CWnd* pMainWnd = GetMainWnd();
    HWND hWndStop = pMainWnd ? pMainWnd->m_hWnd : nullptr;
    const DWORD nThreadID = ::GetCurrentThreadId();
    for (HWND hWnd = pMsg->hwnd; hWnd && ::GetWindowThreadProcessId(hWnd, nullptr) == nThreadID;
         hWnd = ::GetParent(hWnd))
    {
        CWnd* pWnd = CWnd::FromHandlePermanent(hWnd);
        if (pWnd && pWnd->PreTranslateMessage(pMsg))
            return TRUE;
        if (hWnd == hWndStop)
            break;
    }
    return FALSE;
}

int CWinThread::ExitInstance()
{
    return m_msgCur.message == WM_QUIT ? static_cast<int>(m_msgCur.wParam) : 0;
}

CWnd* CWinThread::GetMainWnd()
{
    return m_pMainWnd;
}

CWinThread* AfxBeginThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam, int nPriority,
                           UINT nStackSize, DWORD dwCreateFlags,
                           LPSECURITY_ATTRIBUTES lpSecurityAttrs)
{
    if (!pfnThreadProc)
        return nullptr;
    CWinThread* pThread = new (std::nothrow) CWinThread(pfnThreadProc, pParam);
    if (!pThread)
        return nullptr;
    if (!StartThread(pThread, nPriority, nStackSize, dwCreateFlags, lpSecurityAttrs))
    {
        delete pThread;
        return nullptr;
    }
    return pThread;
}

CWinThread* AfxBeginThread(CRuntimeClass* pThreadClass, int nPriority, UINT nStackSize,
                           DWORD dwCreateFlags, LPSECURITY_ATTRIBUTES lpSecurityAttrs)
{
    if (!pThreadClass || !pThreadClass->IsDerivedFrom(RUNTIME_CLASS(CWinThread)))
        return nullptr;
    CWinThread* pThread = static_cast<CWinThread*>(pThreadClass->CreateObject());
    if (!pThread)
        return nullptr;
    if (!StartThread(pThread, nPriority, nStackSize, dwCreateFlags, lpSecurityAttrs))
    {
        delete pThread;
        return nullptr;
    }
    return pThread;
}
