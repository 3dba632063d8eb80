// The error dialog of one print job: shows the printer's status text and one button.
#pragma once

#include <afxwin.h>

#include "monitor/JobStatus.h"
#include "resource.h"

// Private messages, sent by the job monitor with SendMessageW.
// wParam: const JobStatus*, valid during the call. Result: 1 when the dialog is visible on return.
#define WM_MSGDLG_SHOW (WM_USER + 5)
// Hides the dialog. Result 0.
#define WM_MSGDLG_HIDE (WM_USER + 6)
// Forgets an earlier press of the button. Result 0.
#define WM_MSGDLG_RESETCANCEL (WM_USER + 7)

// Modeless, created hidden at construction; lives on the heap and deletes itself when its window
// is destroyed. A press of the button hides it, remembers the press and signals the cancel event;
// while a press is remembered the dialog does not show again.
class CMsgDlg : public CDialog
{
public:
    enum
    {
        IDD = IDD_MSGDLG
    };

    // Creates the window at once; on failure the object exists without one.
    // hCancelEvent is only signalled, never closed.
    CMsgDlg(CWnd* pParent, HANDLE hCancelEvent);
    ~CMsgDlg() override;

protected:
    void PostNcDestroy() override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;

    afx_msg LRESULT OnShowStatus(WPARAM wParam, LPARAM lParam);
    afx_msg LRESULT OnHideDlg(WPARAM wParam, LPARAM lParam);
    afx_msg LRESULT OnResetCancel(WPARAM wParam, LPARAM lParam);

    DECLARE_MESSAGE_MAP()

private:
    BOOL ShowStatus(const JobStatus* pStatus);
    void SetButtonType(LONG nShowButtonType);
    void CenterOnScreen();

    LONG m_nLastErrorCode = -1;
    LONG m_nLastErrorCodeDetail = -1;
    LONG m_nLastShowButtonType = -1;
    HANDLE m_hCancelEvent;
    BOOL m_bCancelPressed = FALSE;
};
