// Dialogs from the executable's templates, modal and modeless.
#include "afximpl.h"

namespace
{

LPCDLGTEMPLATEW LoadDialogTemplate(LPCWSTR lpszTemplateName)
{
    HINSTANCE hInstance = AfxGetResourceHandle();
    HRSRC hResource = ::FindResourceW(hInstance, lpszTemplateName, RT_DIALOG);
    if (!hResource)
        return nullptr;
    HGLOBAL hTemplate = ::LoadResource(hInstance, hResource);
    return hTemplate ? static_cast<LPCDLGTEMPLATEW>(::LockResource(hTemplate)) : nullptr;
}

} // namespace

INT_PTR CALLBACK AfxDlgProc(HWND hWnd, UINT nMsg, WPARAM, LPARAM)
{
    if (nMsg != WM_INITDIALOG)
        return FALSE;
    CWnd* pWnd = CWnd::FromHandlePermanent(hWnd);
    if (pWnd && pWnd->IsKindOf(RUNTIME_CLASS(CDialog)))
        return static_cast<CDialog*>(pWnd)->OnInitDialog();
    return TRUE;
}

IMPLEMENT_DYNAMIC(CDialog, CWnd)

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_COMMAND(IDOK, &CDialog::OnOK)
ON_COMMAND(IDCANCEL, &CDialog::OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_lpszTemplateName(MAKEINTRESOURCEW(nIDTemplate)), m_pParentWnd(pParentWnd)
{
}

BOOL CDialog::Create(UINT nIDTemplate, CWnd* pParentWnd)
{
    if (m_hWnd)
        return FALSE;
    m_lpszTemplateName = MAKEINTRESOURCEW(nIDTemplate);
    LPCDLGTEMPLATEW lpTemplate = LoadDialogTemplate(m_lpszTemplateName);
    if (!lpTemplate)
        return FALSE;
    CWnd* pParent = pParentWnd ? pParentWnd : AfxGetMainWnd();
    return AfxWndInternals::CreateDialogFor(this, lpTemplate,
                                            pParent ? pParent->m_hWnd : nullptr) != nullptr;
}

INT_PTR CDialog::DoModal()
{
    if (m_hWnd)
        return -1;
    LPCDLGTEMPLATEW lpTemplate = LoadDialogTemplate(m_lpszTemplateName);
    if (!lpTemplate)
        return -1;
    CWnd* pOwner = m_pParentWnd ? m_pParentWnd : AfxGetMainWnd();
    return AfxWndInternals::RunModalDialogFor(this, lpTemplate, pOwner ? pOwner->m_hWnd : nullptr);
}

void CDialog::EndDialog(int nResult)
{
    ::EndDialog(m_hWnd, nResult);
}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate)
{
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

BOOL CDialog::OnInitDialog()
{
    UpdateData(FALSE);
    return TRUE;
}

BOOL CDialog::PreTranslateMessage(MSG* pMsg)
{
    if (pMsg->message < WM_KEYFIRST || pMsg->message > WM_KEYLAST || !m_hWnd)
        return FALSE;
    if (pMsg->hwnd != m_hWnd && !::IsChild(m_hWnd, pMsg->hwnd))
        return FALSE;
    return ::IsDialogMessageW(m_hWnd, pMsg);
}

void CDialog::DoDataExchange(CDataExchange*) {}

void CDialog::OnOK()
{
    if (!UpdateData(TRUE))
        return;
    EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}
