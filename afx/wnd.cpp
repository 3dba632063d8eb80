// Windows: the handle map, the framework's window procedure, CWnd and CFrameWnd.
#include "afximpl.h"

#include <memory>
#include <unordered_map>

namespace
{

// Which object belongs to which window. Attached objects are shared by all threads; temporary
// objects for foreign handles belong to the thread that asked for them.
struct HandleMaps
{
    SRWLOCK lock = SRWLOCK_INIT;
    std::unordered_map<HWND, CWnd*> permanent;
    std::unordered_map<DWORD, std::unordered_map<HWND, std::unique_ptr<CWnd>>> temporary;
};

HandleMaps& Maps()
{
    static HandleMaps maps;
    return maps;
}

class SharedLock
{
public:
    explicit SharedLock(SRWLOCK& lock) : m_lock(lock) { AcquireSRWLockShared(&m_lock); }
    ~SharedLock() { ReleaseSRWLockShared(&m_lock); }
    SharedLock(const SharedLock&) = delete;
    SharedLock& operator=(const SharedLock&) = delete;

private:
    SRWLOCK& m_lock;
};

class ExclusiveLock
{
public:
    explicit ExclusiveLock(SRWLOCK& lock) : m_lock(lock) { AcquireSRWLockExclusive(&m_lock); }
    ~ExclusiveLock() { ReleaseSRWLockExclusive(&m_lock); }
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;

private:
    SRWLOCK& m_lock;
};

// The message being handled on this thread, for CWnd::Default.
thread_local MSG t_lastSentMsg{};

// Window creation in progress on this thread.
thread_local CWnd* t_pWndInit = nullptr;
thread_local HHOOK t_hHookCbt = nullptr;

bool IsImeWindow(HWND hWnd)
{
    wchar_t className[8] = {};
    return ::GetClassNameW(hWnd, className, 8) > 0 && ::lstrcmpiW(className, L"IME") == 0;
}

LRESULT CALLBACK CbtFilterHook(int nCode, WPARAM wParam, LPARAM lParam)
{
    if (nCode == HCBT_CREATEWND && t_pWndInit)
    {
        HWND hWnd = reinterpret_cast<HWND>(wParam);
        if (!IsImeWindow(hWnd))
        {
            CWnd* pWnd = t_pWndInit;
            t_pWndInit = nullptr;
            AfxWndInternals::Attach(pWnd, hWnd);
        }
    }
    return ::CallNextHookEx(t_hHookCbt, nCode, wParam, lParam);
}

WNDPROC WindowProcOf(HWND hWnd)
{
    return reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(hWnd, GWLP_WNDPROC));
}

} // namespace

/////////////////////////////////////////////////////////////////////////////
// Internals

void AfxWndInternals::HookWindowCreate(CWnd* pWnd)
{
    if (!t_hHookCbt)
        t_hHookCbt = ::SetWindowsHookExW(WH_CBT, CbtFilterHook, nullptr, ::GetCurrentThreadId());
    t_pWndInit = pWnd;
}

bool AfxWndInternals::UnhookWindowCreate()
{
    if (t_hHookCbt)
    {
        ::UnhookWindowsHookEx(t_hHookCbt);
        t_hHookCbt = nullptr;
    }
    const bool bAttached = t_pWndInit == nullptr;
    t_pWndInit = nullptr;
    return bAttached;
}

void AfxWndInternals::Attach(CWnd* pWnd, HWND hWnd)
{
    {
        HandleMaps& maps = Maps();
        ExclusiveLock lock(maps.lock);
        maps.permanent[hWnd] = pWnd;
    }
    pWnd->m_hWnd = hWnd;
    pWnd->m_bAttached = true;
    // Windows of other classes (dialogs) are subclassed so that their messages reach the object.
    WNDPROC pfnOld = WindowProcOf(hWnd);
    if (pfnOld != AfxWndProc)
    {
        pWnd->m_pfnSuper = pfnOld;
        ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&AfxWndProc));
    }
}

void AfxWndInternals::Detach(CWnd* pWnd)
{
    HWND hWnd = pWnd->m_hWnd;
    if (pWnd->m_pfnSuper && WindowProcOf(hWnd) == AfxWndProc)
        ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(pWnd->m_pfnSuper));
    {
        HandleMaps& maps = Maps();
        ExclusiveLock lock(maps.lock);
        auto it = maps.permanent.find(hWnd);
        if (it != maps.permanent.end() && it->second == pWnd)
            maps.permanent.erase(it);
    }
    pWnd->m_hWnd = nullptr;
    pWnd->m_pfnSuper = nullptr;
    pWnd->m_bAttached = false;
}

void AfxWndInternals::NcDestroy(CWnd* pWnd)
{
    // The main window of this thread is gone: end its message loop.
    CWinThread* pThread = AfxGetThread();
    if (pThread && pThread->m_pMainWnd == pWnd)
    {
        ::PostQuitMessage(0);
        pThread->m_pMainWnd = nullptr;
    }
    pWnd->Default();
    Detach(pWnd);
    // A window that failed during its creation leaves the object to its creator.
    if (!pWnd->m_bInCreate)
        pWnd->PostNcDestroy();
}

LRESULT AfxWndInternals::CallWndProc(CWnd* pWnd, HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam)
{
    const MSG saved = t_lastSentMsg;
    t_lastSentMsg.hwnd = hWnd;
    t_lastSentMsg.message = nMsg;
    t_lastSentMsg.wParam = wParam;
    t_lastSentMsg.lParam = lParam;
    const LRESULT lResult = pWnd->WindowProc(nMsg, wParam, lParam);
    t_lastSentMsg = saved;
    return lResult;
}

HWND AfxWndInternals::CreateDialogFor(CWnd* pWnd, LPCDLGTEMPLATEW lpTemplate, HWND hWndParent)
{
    pWnd->m_bInCreate = true;
    HookWindowCreate(pWnd);
    HWND hWnd =
        ::CreateDialogIndirectParamW(AfxGetResourceHandle(), lpTemplate, hWndParent, AfxDlgProc, 0);
    const bool bAttached = UnhookWindowCreate();
    pWnd->m_bInCreate = false;
    if (hWnd && (!bAttached || pWnd->m_hWnd != hWnd))
    {
        ::DestroyWindow(hWnd);
        return nullptr;
    }
    return hWnd;
}

INT_PTR AfxWndInternals::RunModalDialogFor(CWnd* pWnd, LPCDLGTEMPLATEW lpTemplate, HWND hWndOwner)
{
    HookWindowCreate(pWnd);
    const INT_PTR nResult =
        ::DialogBoxIndirectParamW(AfxGetResourceHandle(), lpTemplate, hWndOwner, AfxDlgProc, 0);
    UnhookWindowCreate();
    return nResult;
}

void AfxWndInternals::ReleaseThreadTemporaries()
{
    std::unordered_map<HWND, std::unique_ptr<CWnd>> temporaries;
    {
        HandleMaps& maps = Maps();
        ExclusiveLock lock(maps.lock);
        auto it = maps.temporary.find(::GetCurrentThreadId());
        if (it == maps.temporary.end())
            return;
        temporaries = std::move(it->second);
        maps.temporary.erase(it);
    }
}

/////////////////////////////////////////////////////////////////////////////
// The framework's window procedure

LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam)
{
    CWnd* pWnd = CWnd::FromHandlePermanent(hWnd);
    if (!pWnd)
        return ::DefWindowProcW(hWnd, nMsg, wParam, lParam);
    return AfxWndInternals::CallWndProc(pWnd, hWnd, nMsg, wParam, lParam);
}

WNDPROC AfxGetAfxWndProc()
{
    return &AfxWndProc;
}

BOOL AfxRegisterClass(WNDCLASS* lpWndClass)
{
    if (!lpWndClass)
        return FALSE;
    WNDCLASSW existing{};
    if (::GetClassInfoW(lpWndClass->hInstance, lpWndClass->lpszClassName, &existing))
        return TRUE;
    return ::RegisterClassW(lpWndClass) != 0;
}

/////////////////////////////////////////////////////////////////////////////
// CWnd

IMPLEMENT_DYNAMIC(CWnd, CCmdTarget)

BEGIN_MESSAGE_MAP(CWnd, CCmdTarget)
END_MESSAGE_MAP()

const CWnd CWnd::wndTopMost(HWND_TOPMOST);
const CWnd CWnd::wndNoTopMost(HWND_NOTOPMOST);

CWnd::CWnd() = default;

CWnd::CWnd(HWND hWndSpecial) : m_hWnd(hWndSpecial) {}

CWnd::~CWnd()
{
    if (!m_bAttached)
        return;
    // Only the owning thread can destroy the window; elsewhere the object just lets go of it.
    if (::GetWindowThreadProcessId(m_hWnd, nullptr) == ::GetCurrentThreadId())
        ::DestroyWindow(m_hWnd);
    if (m_bAttached)
        AfxWndInternals::Detach(this);
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd)
{
    if (!hWnd)
        return nullptr;
    HandleMaps& maps = Maps();
    SharedLock lock(maps.lock);
    auto it = maps.permanent.find(hWnd);
    return it == maps.permanent.end() ? nullptr : it->second;
}

CWnd* CWnd::FromHandle(HWND hWnd)
{
    if (!hWnd)
        return nullptr;
    if (CWnd* pWnd = FromHandlePermanent(hWnd))
        return pWnd;
    HandleMaps& maps = Maps();
    ExclusiveLock lock(maps.lock);
    auto permanent = maps.permanent.find(hWnd);
    if (permanent != maps.permanent.end())
        return permanent->second;
    std::unique_ptr<CWnd>& pTemp = maps.temporary[::GetCurrentThreadId()][hWnd];
    if (!pTemp)
        pTemp.reset(new CWnd(hWnd));
    // A temporary object that destroyed its window gave up the handle; it wraps it again.
    pTemp->m_hWnd = hWnd;
    return pTemp.get();
}

BOOL CWnd::CreateEx(DWORD dwExStyle, LPCWSTR lpszClassName, LPCWSTR lpszWindowName, DWORD dwStyle,
                    int x, int y, int nWidth, int nHeight, HWND hWndParent, HMENU nIDorHMenu,
                    LPVOID lpParam)
{
    if (m_hWnd)
        return FALSE;
    CREATESTRUCTW cs{};
    cs.dwExStyle = dwExStyle;
    cs.lpszClass = lpszClassName;
    cs.lpszName = lpszWindowName;
    cs.style = static_cast<LONG>(dwStyle);
    cs.x = x;
    cs.y = y;
    cs.cx = nWidth;
    cs.cy = nHeight;
    cs.hwndParent = hWndParent;
    cs.hMenu = nIDorHMenu;
    cs.hInstance = AfxGetInstanceHandle();
    cs.lpCreateParams = lpParam;
    if (!PreCreateWindow(cs))
        return FALSE;

    m_bInCreate = true;
    AfxWndInternals::HookWindowCreate(this);
    HWND hWnd = ::CreateWindowExW(cs.dwExStyle, cs.lpszClass, cs.lpszName,
                                  static_cast<DWORD>(cs.style), cs.x, cs.y, cs.cx, cs.cy,
                                  cs.hwndParent, cs.hMenu, cs.hInstance, cs.lpCreateParams);
    const bool bAttached = AfxWndInternals::UnhookWindowCreate();
    m_bInCreate = false;
    if (hWnd && (!bAttached || m_hWnd != hWnd))
    {
        // A window that never reached the object is of no use.
        ::DestroyWindow(hWnd);
        return FALSE;
    }
    return hWnd != nullptr;
}

BOOL CWnd::DestroyWindow()
{
    if (!m_hWnd)
        return FALSE;
    if (!m_bAttached)
    {
        const BOOL bResult = ::DestroyWindow(m_hWnd);
        if (bResult)
            m_hWnd = nullptr;
        return bResult;
    }
    // WM_NCDESTROY detaches the object, and PostNcDestroy may delete it: no member access after.
    return ::DestroyWindow(m_hWnd);
}

BOOL CWnd::ShowWindow(int nCmdShow)
{
    return ::ShowWindow(m_hWnd, nCmdShow);
}

void CWnd::UpdateWindow()
{
    ::UpdateWindow(m_hWnd);
}

BOOL CWnd::IsWindowVisible() const
{
    return ::IsWindowVisible(m_hWnd);
}

BOOL CWnd::EnableWindow(BOOL bEnable)
{
    return ::EnableWindow(m_hWnd, bEnable);
}

BOOL CWnd::SetWindowPos(const CWnd* pWndInsertAfter, int x, int y, int cx, int cy, UINT nFlags)
{
    return ::SetWindowPos(m_hWnd, pWndInsertAfter ? pWndInsertAfter->m_hWnd : nullptr, x, y, cx, cy,
                          nFlags);
}

void CWnd::MoveWindow(int x, int y, int nWidth, int nHeight, BOOL bRepaint)
{
    ::MoveWindow(m_hWnd, x, y, nWidth, nHeight, bRepaint);
}

CWnd* CWnd::GetDlgItem(int nID) const
{
    return FromHandle(::GetDlgItem(m_hWnd, nID));
}

void CWnd::SetDlgItemText(int nID, LPCWSTR lpszString)
{
    ::SetDlgItemTextW(m_hWnd, nID, lpszString);
}

BOOL CWnd::PreCreateWindow(CREATESTRUCT&)
{
    return TRUE;
}

BOOL CWnd::PreTranslateMessage(MSG*)
{
    return FALSE;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT lResult = 0;
    if (!OnWndMsg(message, wParam, lParam, &lResult))
        lResult = DefWindowProc(message, wParam, lParam);
    return lResult;
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    *pResult = 0;
    if (message == WM_COMMAND)
        return OnCommand(wParam, lParam);
    if (message == WM_NCDESTROY)
    {
        AfxWndInternals::NcDestroy(this);
        return TRUE;
    }

    const AFX_MSGMAP_ENTRY* pEntry = FindMessageEntry(message, 0, 0);
    if (!pEntry)
        return FALSE;
    switch (pEntry->nSig)
    {
    case AfxSig_lwl:
        *pResult = (this->*pEntry->pfn.pfn_lwl)(wParam, lParam);
        return TRUE;
    case AfxSig_vv:
        (this->*pEntry->pfn.pfn_vv)();
        return TRUE;
    case AfxSig_is:
        *pResult = (this->*pEntry->pfn.pfn_is)(reinterpret_cast<LPCREATESTRUCT>(lParam));
        return TRUE;
    case AfxSig_vb:
        (this->*pEntry->pfn.pfn_vb)(static_cast<BOOL>(wParam));
        return TRUE;
    default:
        return FALSE;
    }
}

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM lParam)
{
    const UINT nID = LOWORD(wParam);
    if (nID == 0)
        return FALSE;
    // Menus and accelerators (no control window) issue plain commands.
    const int nCode = lParam == 0 ? CN_COMMAND : HIWORD(wParam);
    return OnCmdMsg(nID, nCode);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (m_pfnSuper)
        return ::CallWindowProcW(m_pfnSuper, m_hWnd, message, wParam, lParam);
    return ::DefWindowProcW(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::Default()
{
    return DefWindowProc(t_lastSentMsg.message, t_lastSentMsg.wParam, t_lastSentMsg.lParam);
}

void CWnd::PostNcDestroy() {}

int CWnd::OnCreate(LPCREATESTRUCT)
{
    return static_cast<int>(Default());
}

void CWnd::OnClose()
{
    Default();
}

void CWnd::OnEndSession(BOOL bEnding)
{
    if (!bEnding)
        return;
    CWinApp* pApp = AfxGetApp();
    if (pApp && pApp->m_pMainWnd == this)
        pApp->ExitInstance();
}

/////////////////////////////////////////////////////////////////////////////
// CFrameWnd

IMPLEMENT_DYNAMIC(CFrameWnd, CWnd)

BEGIN_MESSAGE_MAP(CFrameWnd, CWnd)
ON_WM_CREATE()
ON_WM_CLOSE()
END_MESSAGE_MAP()

BOOL CFrameWnd::Create(LPCWSTR lpszClassName, LPCWSTR lpszWindowName, DWORD dwStyle,
                       const RECT& rect, CWnd* pParentWnd, LPCWSTR lpszMenuName, DWORD dwExStyle,
                       void* pContext)
{
    HMENU hMenu = nullptr;
    if (lpszMenuName)
    {
        hMenu = ::LoadMenuW(AfxGetResourceHandle(), lpszMenuName);
        if (!hMenu)
            return FALSE;
    }
    const BOOL bCreated = CreateEx(dwExStyle, lpszClassName, lpszWindowName, dwStyle, rect.left,
                                   rect.top, rect.right - rect.left, rect.bottom - rect.top,
                                   pParentWnd ? pParentWnd->m_hWnd : nullptr, hMenu, pContext);
    // A window that was made takes its menu with it when it goes.
    if (!bCreated && hMenu && ::IsMenu(hMenu))
        ::DestroyMenu(hMenu);
    return bCreated;
}

BOOL CFrameWnd::PreCreateWindow(CREATESTRUCT& cs)
{
    cs.dwExStyle |= WS_EX_CLIENTEDGE;
    return TRUE;
}

BOOL CFrameWnd::OnCmdMsg(UINT nID, int nCode)
{
    if (CWnd::OnCmdMsg(nID, nCode))
        return TRUE;
    CWinApp* pApp = AfxGetApp();
    return pApp && pApp->OnCmdMsg(nID, nCode);
}

int CFrameWnd::OnCreate(LPCREATESTRUCT lpCreateStruct)
{
    return CWnd::OnCreate(lpCreateStruct) == -1 ? -1 : 0;
}

void CFrameWnd::OnClose()
{
    CWinApp* pApp = AfxGetApp();
    if (pApp && pApp->m_pMainWnd == this)
    {
        // Hide the application before its main window goes (it has no documents to close).
        ::ShowOwnedPopups(m_hWnd, FALSE);
        ShowWindow(SW_HIDE);
    }
    DestroyWindow();
}

void CFrameWnd::PostNcDestroy()
{
    delete this;
}
