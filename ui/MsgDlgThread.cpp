#include "MsgDlgThread.h"

#include "MsgDlg.h"

#include <atomic>

IMPLEMENT_DYNCREATE(CMsgDlgThread, CWinThread)

BEGIN_MESSAGE_MAP(CMsgDlgThread, CWinThread)
END_MESSAGE_MAP()

CMsgDlgThread::CMsgDlgThread() = default;

CMsgDlgThread::~CMsgDlgThread() = default;

BOOL CMsgDlgThread::InitInstance()
{
    // The desktop as parent: the dialog stands on its own, apart from the hidden main window.
    CMsgDlg* pDlg =
        new (std::nothrow) CMsgDlg(CWnd::FromHandle(::GetDesktopWindow()), m_hCancelEvent);
    if (!pDlg)
        return FALSE;
    if (!pDlg->m_hWnd)
    {
        // No window, so nothing would ever end this thread: end it now.
        delete pDlg;
        return FALSE;
    }
    m_pMainWnd = pDlg;
    // The job monitor polls the pointer from its own thread; it sees null or the finished dialog.
    std::atomic_ref<CMsgDlg*>(m_pMsgDlg).store(pDlg, std::memory_order_release);
    return TRUE;
}

int CMsgDlgThread::ExitInstance()
{
    if (CMsgDlg* pDlg = m_pMsgDlg)
    {
        // Unpublished first; the dialog deletes itself once its window is gone.
        std::atomic_ref<CMsgDlg*>(m_pMsgDlg).store(nullptr, std::memory_order_release);
        m_pMainWnd = nullptr;
        pDlg->DestroyWindow();
    }
    return CWinThread::ExitInstance();
}

CMsgDlg* CMsgDlgThread::GetMsgDlg() const
{
    return std::atomic_ref<CMsgDlg*>(const_cast<CMsgDlg*&>(m_pMsgDlg))
        .load(std::memory_order_acquire);
}
