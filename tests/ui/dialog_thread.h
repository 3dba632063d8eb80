// Test fixtures for the error dialog: a dialog thread started and driven the way the job monitor
// does it, and a count of the messages that reach the dialog's windows.
#pragma once

#include "MsgDlg.h"
#include "MsgDlgThread.h"

#include <windows.h>

#include "wait_for.h"

#include <atomic>
#include <string>

using qtest::WaitFor;

inline std::wstring WindowText(HWND hWnd)
{
    wchar_t buf[512] = {};
    GetWindowTextW(hWnd, buf, 512);
    return buf;
}

inline bool ThreadRunning(HANDLE hThread)
{
    DWORD code = 0;
    return GetExitCodeThread(hThread, &code) && code == STILL_ACTIVE;
}

// One CMsgDlgThread with its cancel event, started suspended, prepared and resumed as the job
// monitor does; the destructor ends it with WM_QUIT and closes the event after the thread ended.
class DialogThread
{
public:
    DialogThread()
    {
        m_hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        m_pThread = static_cast<CMsgDlgThread*>(AfxBeginThread(
            RUNTIME_CLASS(CMsgDlgThread), THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED, nullptr));
        if (!m_hEvent || !m_pThread)
            return;
        m_pThread->m_bAutoDelete = FALSE;
        m_pThread->m_hCancelEvent = m_hEvent;
        if (ResumeThread(m_pThread->m_hThread) == static_cast<DWORD>(-1))
            return;
        WaitFor(
            [this]
            {
                CMsgDlg* pDlg = m_pThread->GetMsgDlg();
                if (pDlg && pDlg->m_hWnd)
                {
                    m_hDlg = pDlg->m_hWnd;
                    return true;
                }
                return !ThreadRunning(m_pThread->m_hThread);
            });
    }

    ~DialogThread()
    {
        if (m_pThread && Quit())
            delete m_pThread; // otherwise left: the thread may still use it
        if (m_hEvent)
            CloseHandle(m_hEvent);
    }

    DialogThread(const DialogThread&) = delete;
    DialogThread& operator=(const DialogThread&) = delete;

    // Ends the thread as the job monitor does; false when it did not end within the deadline.
    bool Quit()
    {
        if (m_bQuit)
            return true;
        if (!m_pThread->m_hThread)
            return true;
        PostThreadMessageW(m_pThread->m_nThreadID, WM_QUIT, 0, 0);
        m_bQuit = WaitForSingleObject(m_pThread->m_hThread, 20000) == WAIT_OBJECT_0;
        return m_bQuit;
    }

    DWORD ExitCode() const
    {
        DWORD code = 0;
        GetExitCodeThread(m_pThread->m_hThread, &code);
        return code;
    }

    LRESULT Show(LONG code, LONG detail, LONG buttonType, LONG resetSW = 0) const
    {
        JobStatus status{code, detail, buttonType, resetSW};
        return SendMessageW(m_hDlg, WM_MSGDLG_SHOW, reinterpret_cast<WPARAM>(&status), 0);
    }
    LRESULT Hide() const { return SendMessageW(m_hDlg, WM_MSGDLG_HIDE, 0, 0); }
    LRESULT ResetCancel() const { return SendMessageW(m_hDlg, WM_MSGDLG_RESETCANCEL, 0, 0); }

    HWND Dlg() const { return m_hDlg; }
    HWND Button() const { return GetDlgItem(m_hDlg, IDCANCEL); }
    HWND Text() const { return GetDlgItem(m_hDlg, IDC_MSGTEXT); }
    std::wstring MessageText() const { return WindowText(Text()); }
    bool Visible() const { return IsWindowVisible(m_hDlg) != FALSE; }
    bool EventSet() const { return WaitForSingleObject(m_hEvent, 0) == WAIT_OBJECT_0; }
    HANDLE Event() const { return m_hEvent; }
    CMsgDlgThread* Thread() const { return m_pThread; }

private:
    HANDLE m_hEvent = nullptr;
    CMsgDlgThread* m_pThread = nullptr;
    HWND m_hDlg = nullptr;
    bool m_bQuit = false;
};

// What MessageCounter counted.
struct DialogMessageCounts
{
    std::atomic<int> paint{0};         // WM_PAINT sent to the dialog or a control
    std::atomic<int> posChanging{0};   // WM_WINDOWPOSCHANGING of the dialog
    std::atomic<int> textSetText{0};   // WM_SETTEXT to the message text
    std::atomic<int> buttonSetText{0}; // WM_SETTEXT to the button
};

// Counts what the dialog's thread does to the dialog and its controls while it handles one of
// the private messages: messages sent to them from inside the handler (WM_PAINT sent by
// UpdateWindow, WM_WINDOWPOSCHANGING from SetWindowPos, WM_SETTEXT from text and caption
// changes). Queued messages (a WM_PAINT after some other window uncovered the dialog) are not
// counted, so the counts are exact whatever the display does meanwhile.
class MessageCounter
{
public:
    explicit MessageCounter(const DialogThread& dialog)
    {
        s_hDlg = dialog.Dlg();
        s_hText = dialog.Text();
        s_hButton = dialog.Button();
        Reset();
        const DWORD tid = dialog.Thread()->m_nThreadID;
        m_hCallHook = SetWindowsHookExW(WH_CALLWNDPROC, CallProc, nullptr, tid);
        m_hRetHook = SetWindowsHookExW(WH_CALLWNDPROCRET, RetProc, nullptr, tid);
    }
    ~MessageCounter()
    {
        if (m_hCallHook)
            UnhookWindowsHookEx(m_hCallHook);
        if (m_hRetHook)
            UnhookWindowsHookEx(m_hRetHook);
    }
    MessageCounter(const MessageCounter&) = delete;
    MessageCounter& operator=(const MessageCounter&) = delete;

    bool Installed() const { return m_hCallHook && m_hRetHook; }

    static void Reset()
    {
        s_counts.paint = 0;
        s_counts.posChanging = 0;
        s_counts.textSetText = 0;
        s_counts.buttonSetText = 0;
        s_handled = 0;
    }
    static const DialogMessageCounts& Get() { return s_counts; }
    // Private messages handled since the last Reset.
    static int Handled() { return s_handled; }

private:
    static bool IsPrivate(UINT msg)
    {
        return msg >= WM_MSGDLG_SHOW && msg <= WM_MSGDLG_RESETCANCEL;
    }

    static LRESULT CALLBACK CallProc(int code, WPARAM wParam, LPARAM lParam)
    {
        if (code == HC_ACTION)
        {
            auto* cwp = reinterpret_cast<const CWPSTRUCT*>(lParam);
            const HWND hWnd = cwp->hwnd;
            if (IsPrivate(cwp->message) && hWnd == s_hDlg)
                ++t_depth;
            else if (t_depth > 0)
            {
                if (cwp->message == WM_PAINT &&
                    (hWnd == s_hDlg || hWnd == s_hText || hWnd == s_hButton))
                    ++s_counts.paint;
                else if (cwp->message == WM_WINDOWPOSCHANGING && hWnd == s_hDlg)
                    ++s_counts.posChanging;
                else if (cwp->message == WM_SETTEXT && hWnd == s_hText)
                    ++s_counts.textSetText;
                else if (cwp->message == WM_SETTEXT && hWnd == s_hButton)
                    ++s_counts.buttonSetText;
            }
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    static LRESULT CALLBACK RetProc(int code, WPARAM wParam, LPARAM lParam)
    {
        if (code == HC_ACTION)
        {
            auto* ret = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
            if (IsPrivate(ret->message) && ret->hwnd == s_hDlg && t_depth > 0)
            {
                --t_depth;
                ++s_handled;
            }
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }

    HHOOK m_hCallHook = nullptr;
    HHOOK m_hRetHook = nullptr;
    static inline DialogMessageCounts s_counts;
    static inline std::atomic<int> s_handled{0};
    static inline std::atomic<HWND> s_hDlg{nullptr};
    static inline std::atomic<HWND> s_hText{nullptr};
    static inline std::atomic<HWND> s_hButton{nullptr};
    static inline thread_local int t_depth = 0;
};
