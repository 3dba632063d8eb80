#include "MsgDlg.h"

namespace
{

// Status codes the dialog knows; others show the general printer error.
constexpr LONG kFirstCode = 2000;
constexpr LONG kLastCode = 2026;
constexpr LONG kGeneralPrinterError = 2023;

constexpr bool IsHidingCode(LONG nCode)
{
    return nCode == 2000 || nCode == 2019 || nCode == 2024 || nCode == 2025 || nCode == 2026;
}

} // namespace

BEGIN_MESSAGE_MAP(CMsgDlg, CDialog)
ON_MESSAGE(WM_MSGDLG_SHOW, &CMsgDlg::OnShowStatus)
ON_MESSAGE(WM_MSGDLG_HIDE, &CMsgDlg::OnHideDlg)
ON_MESSAGE(WM_MSGDLG_RESETCANCEL, &CMsgDlg::OnResetCancel)
END_MESSAGE_MAP()

CMsgDlg::CMsgDlg(CWnd* pParent, HANDLE hCancelEvent)
    : CDialog(IDD, pParent), m_hCancelEvent(hCancelEvent)
{
    Create(IDD, pParent);
}

CMsgDlg::~CMsgDlg() = default;

void CMsgDlg::PostNcDestroy()
{
    delete this;
}

BOOL CMsgDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    // A shared icon: the system keeps it, nothing to free.
    HICON hIcon = ::LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDI_MSGDLG));
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(hIcon));
    ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(hIcon));
    CenterOnScreen();
    return TRUE; // the system focuses the first tab stop, the button
}

void CMsgDlg::OnOK()
{
    ShowWindow(SW_HIDE);
}

void CMsgDlg::OnCancel()
{
    ShowWindow(SW_HIDE);
    m_bCancelPressed = TRUE;
    ::SetEvent(m_hCancelEvent);
}

LRESULT CMsgDlg::OnShowStatus(WPARAM wParam, LPARAM)
{
    return ShowStatus(reinterpret_cast<const JobStatus*>(wParam));
}

LRESULT CMsgDlg::OnHideDlg(WPARAM, LPARAM)
{
    OnOK();
    return 0;
}

LRESULT CMsgDlg::OnResetCancel(WPARAM, LPARAM)
{
    m_bCancelPressed = FALSE;
    return 0;
}

BOOL CMsgDlg::ShowStatus(const JobStatus* pStatus)
{
    if (!m_hWnd || !pStatus)
        return FALSE;
    // The record lives in the sender's memory: take what is needed first.
    LONG nCode = pStatus->ErrorCode;
    const LONG nDetail = pStatus->ErrorCodeDetail;
    const LONG nButtonType = pStatus->ShowButtonType;

    if (m_bCancelPressed)
        return FALSE;
    if (nCode < kFirstCode || nCode > kLastCode)
        nCode = kGeneralPrinterError;
    if (IsHidingCode(nCode))
    {
        ShowWindow(SW_HIDE);
        return FALSE;
    }

    bool bChanged = false;
    if (nCode != m_nLastErrorCode || nDetail != m_nLastErrorCodeDetail)
    {
        CString strText;
        strText.Format(static_cast<UINT>(nCode), static_cast<unsigned int>(nDetail));
        SetDlgItemText(IDC_MSGTEXT, strText);
        m_nLastErrorCode = nCode;
        m_nLastErrorCodeDetail = nDetail;
        bChanged = true;
    }
    if (nButtonType != m_nLastShowButtonType)
    {
        SetButtonType(nButtonType);
        m_nLastShowButtonType = nButtonType;
        bChanged = true;
    }

    if (!IsWindowVisible())
        ShowWindow(SW_SHOW);
    else if (!bChanged)
        return TRUE;

    // To the front, above other windows, without staying topmost.
    UpdateWindow();
    SetWindowPos(&wndTopMost, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetWindowPos(&wndNoTopMost, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    return TRUE;
}

void CMsgDlg::SetButtonType(LONG nShowButtonType)
{
    CWnd* pButton = GetDlgItem(IDCANCEL);
    if (nShowButtonType == 0)
    {
        if (pButton)
        {
            pButton->EnableWindow(FALSE);
            pButton->ShowWindow(SW_HIDE);
        }
        return;
    }

    // The captions' ids run the other way from the type numbers.
    CString strCaption;
    if (nShowButtonType == 2)
        strCaption.LoadString(IDS_BUTTON_YES);
    else if (nShowButtonType == 1)
        strCaption.LoadString(IDS_BUTTON_CANCEL);
    SetDlgItemText(IDCANCEL, strCaption);

    if (pButton)
    {
        pButton->EnableWindow(TRUE);
        pButton->ShowWindow(SW_SHOW);
        ::SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(pButton->m_hWnd), TRUE);
    }
}

void CMsgDlg::CenterOnScreen()
{
    const int cxScreen = ::GetSystemMetrics(SM_CXSCREEN);
    const int cyScreen = ::GetSystemMetrics(SM_CYSCREEN);
    RECT rc{};
    ::GetWindowRect(m_hWnd, &rc);
    const int cx = rc.right - rc.left;
    const int cy = rc.bottom - rc.top;
    // 10 pixels left of and above the centre of the primary screen; may be negative.
    MoveWindow((cxScreen - cx) / 2 - 10, (cyScreen - cy) / 2 - 10, cx, cy, TRUE);
}
