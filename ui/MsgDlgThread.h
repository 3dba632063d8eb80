// The user-interface thread that owns one error dialog.
#pragma once

#include <afxwin.h>

class CMsgDlg;

// Started suspended with AfxBeginThread(RUNTIME_CLASS(CMsgDlgThread), ...). While it is suspended
// the starter turns auto-delete off and stores the cancel event; it then resumes the thread, waits
// until m_pMsgDlg and its window exist (or the thread has ended), and ends the thread by posting
// WM_QUIT to m_nThreadID and waiting for m_hThread.
class CMsgDlgThread : public CWinThread
{
    DECLARE_DYNCREATE(CMsgDlgThread)

protected:
    CMsgDlgThread();

public:
    ~CMsgDlgThread() override;

    BOOL InitInstance() override;
    int ExitInstance() override;

    // The thread's dialog, set once its window exists; read it with GetMsgDlg from other threads.
    CMsgDlg* m_pMsgDlg = nullptr;
    // The job's cancel event, handed to the dialog; this thread never closes it.
    HANDLE m_hCancelEvent = nullptr;

    // m_pMsgDlg as published by the thread: null, or the dialog with its window.
    CMsgDlg* GetMsgDlg() const;

protected:
    DECLARE_MESSAGE_MAP()
};
