// Framework internals shared by its source files.
#pragma once

#include <afxwin.h>

struct AfxWndInternals
{
    // Attaches pWnd to the next window this thread creates, before its first message.
    static void HookWindowCreate(CWnd* pWnd);
    // Ends the hook; true when the window was attached.
    static bool UnhookWindowCreate();

    // Creates a modeless dialog for pWnd; null when it failed (pWnd then has no window).
    static HWND CreateDialogFor(CWnd* pWnd, LPCDLGTEMPLATEW lpTemplate, HWND hWndParent);
    // Runs a modal dialog for pWnd; the EndDialog result or -1.
    static INT_PTR RunModalDialogFor(CWnd* pWnd, LPCDLGTEMPLATEW lpTemplate, HWND hWndOwner);

    static LRESULT CallWndProc(CWnd* pWnd, HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);
    static void Attach(CWnd* pWnd, HWND hWnd);
    static void Detach(CWnd* pWnd);
    static void NcDestroy(CWnd* pWnd);

    // Deletes the temporary window objects that FromHandle made for the calling thread.
    static void ReleaseThreadTemporaries();
};

// The dialog procedure of framework dialogs: WM_INITDIALOG runs CDialog::OnInitDialog.
INT_PTR CALLBACK AfxDlgProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);

// Makes pThread the calling thread's CWinThread object.
void AfxSetThread(CWinThread* pThread);
// Registers or clears the application object.
void AfxSetApp(CWinApp* pApp);
