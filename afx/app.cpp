// The application object and the process start.
#include "afximpl.h"

#include <atomic>

namespace
{

std::atomic<CWinApp*> g_pApp{nullptr};

// The executable's file name without folder and extension.
CString ExeBaseName()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD nLength = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (nLength == 0 || nLength >= MAX_PATH)
        return CString();
    std::wstring name(path, nLength);
    const size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos)
        name.erase(0, slash + 1);
    const size_t dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos && dot > 0)
        name.erase(dot);
    return CString(name.c_str());
}

} // namespace

void AfxSetApp(CWinApp* pApp)
{
    g_pApp = pApp;
}

CWinApp* AfxGetApp()
{
    return g_pApp;
}

HINSTANCE AfxGetInstanceHandle()
{
    return ::GetModuleHandleW(nullptr);
}

HINSTANCE AfxGetResourceHandle()
{
    return ::GetModuleHandleW(nullptr);
}

IMPLEMENT_DYNAMIC(CWinApp, CWinThread)

BEGIN_MESSAGE_MAP(CWinApp, CWinThread)
END_MESSAGE_MAP()

CWinApp::CWinApp(LPCWSTR lpszAppName)
{
    AfxSetApp(this);
    AfxSetThread(this);
    m_nThreadID = ::GetCurrentThreadId();
    if (lpszAppName)
        m_strAppName = lpszAppName;
    else if (!m_strAppName.LoadString(AFX_IDS_APP_TITLE))
        m_strAppName = ExeBaseName();
    m_pszAppName = m_strAppName;
}

CWinApp::~CWinApp()
{
    CWinApp* pThis = this;
    g_pApp.compare_exchange_strong(pThis, nullptr);
    if (AfxGetThread() == this)
        AfxSetThread(nullptr);
}

BOOL CWinApp::InitInstance()
{
    return TRUE;
}

int CWinApp::Run()
{
    // Nothing could ever end a loop without a main window.
    if (!m_pMainWnd || !m_pMainWnd->m_hWnd)
        ::PostQuitMessage(0);
    return CWinThread::Run();
}

int CWinApp::ExitInstance()
{
    return CWinThread::ExitInstance();
}

BOOL CWinApp::Enable3dControlsStatic()
{
    return TRUE;
}

int AfxWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    CWinApp* pApp = AfxGetApp();
    if (!pApp)
        return -1;
    AfxSetThread(pApp);
    pApp->m_nThreadID = ::GetCurrentThreadId();

    if (!pApp->InitInstance())
    {
        if (pApp->m_pMainWnd)
            pApp->m_pMainWnd->DestroyWindow();
        return pApp->ExitInstance();
    }
    return pApp->Run();
}
