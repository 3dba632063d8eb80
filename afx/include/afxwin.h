// The application framework: run-time classes, message maps, threads, the application object,
// windows, frames, dialogs and strings. Program code includes this header only.
#pragma once

#include <windows.h>

#include <new>
#include <string>

#include "afxres.h"

#define afx_msg

class CObject;
class CCmdTarget;
class CWinThread;
class CWinApp;
class CWnd;

/////////////////////////////////////////////////////////////////////////////
// Strings

class CString
{
public:
    CString() = default;
    CString(LPCWSTR psz); // null gives an empty string

    int GetLength() const { return static_cast<int>(m_str.size()); }
    BOOL IsEmpty() const { return m_str.empty(); }

    // Loads string resource nID of the executable; FALSE (and an empty string) when it is missing.
    BOOL LoadString(UINT nID);
    // Loads string resource nFormatID and formats it printf-style with the arguments.
    void Format(UINT nFormatID, ...);

    operator LPCWSTR() const { return m_str.c_str(); }

    friend bool operator==(const CString& a, const CString& b) { return a.m_str == b.m_str; }
    friend bool operator==(const CString& a, LPCWSTR b) { return a.m_str == (b ? b : L""); }

private:
    std::wstring m_str;
};

/////////////////////////////////////////////////////////////////////////////
// Run-time classes

struct CRuntimeClass
{
    LPCSTR m_lpszClassName;
    int m_nObjectSize;
    UINT m_wSchema;                  // 0xFFFF: not serialisable
    CObject* (*m_pfnCreateObject)(); // null unless the class supports dynamic creation
    CRuntimeClass* m_pBaseClass;

    // A new heap object of the class, or null (not dynamically creatable, or out of memory).
    CObject* CreateObject() const;
    BOOL IsDerivedFrom(const CRuntimeClass* pBaseClass) const;
};

#define RUNTIME_CLASS(class_name) (const_cast<CRuntimeClass*>(&class_name::class##class_name))

#define DECLARE_DYNAMIC(class_name)                                                                \
public:                                                                                            \
    static const CRuntimeClass class##class_name;                                                  \
    CRuntimeClass* GetRuntimeClass() const override;

#define DECLARE_DYNCREATE(class_name)                                                              \
    DECLARE_DYNAMIC(class_name)                                                                    \
    static CObject* CreateObject();

#define IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, wSchema, pfnNew)                       \
    const CRuntimeClass class_name::class##class_name = {                                          \
        #class_name, sizeof(class class_name), wSchema, pfnNew, RUNTIME_CLASS(base_class_name)};   \
    CRuntimeClass* class_name::GetRuntimeClass() const                                             \
    {                                                                                              \
        return RUNTIME_CLASS(class_name);                                                          \
    }

#define IMPLEMENT_DYNAMIC(class_name, base_class_name)                                             \
    IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, 0xFFFF, nullptr)

#define IMPLEMENT_DYNCREATE(class_name, base_class_name)                                           \
    CObject* class_name::CreateObject()                                                            \
    {                                                                                              \
        return new (std::nothrow) class_name;                                                      \
    }                                                                                              \
    IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, 0xFFFF, class_name::CreateObject)

class CObject
{
public:
    virtual CRuntimeClass* GetRuntimeClass() const;
    virtual ~CObject() = default;

    BOOL IsKindOf(const CRuntimeClass* pClass) const;

    static const CRuntimeClass classCObject;

protected:
    CObject() = default;

public:
    CObject(const CObject&) = delete;
    CObject& operator=(const CObject&) = delete;
};

/////////////////////////////////////////////////////////////////////////////
// Message maps

// Handler signatures.
enum AfxSig : UINT
{
    AfxSig_end = 0,
    AfxSig_lwl, // LRESULT (WPARAM, LPARAM)
    AfxSig_vv,  // void ()
    AfxSig_is,  // int (LPCREATESTRUCT)
    AfxSig_vb,  // void (BOOL)
};

union AfxMessageMapFunctions
{
    void (CCmdTarget::*pfn_vv)();
    LRESULT (CCmdTarget::*pfn_lwl)(WPARAM, LPARAM);
    int (CCmdTarget::*pfn_is)(LPCREATESTRUCT);
    void (CCmdTarget::*pfn_vb)(BOOL);
};

struct AFX_MSGMAP_ENTRY
{
    UINT nMessage; // window message, or WM_COMMAND for command entries
    UINT nCode;    // notification code of command entries
    UINT nID;      // first and last command id of command entries
    UINT nLastID;
    UINT nSig; // AfxSig
    AfxMessageMapFunctions pfn;
};

struct AFX_MSGMAP
{
    const AFX_MSGMAP* (*pfnGetBaseMap)(); // null for the root
    const AFX_MSGMAP_ENTRY* lpEntries;
};

// Notification code of a command from a menu, an accelerator or a button click.
#define CN_COMMAND 0

// Map entries for each handler signature.
constexpr AFX_MSGMAP_ENTRY AfxMessageEntry(UINT nMessage,
                                           LRESULT (CCmdTarget::*pfn)(WPARAM, LPARAM))
{
    return {nMessage, 0, 0, 0, AfxSig_lwl, {.pfn_lwl = pfn}};
}
constexpr AFX_MSGMAP_ENTRY AfxMessageEntry(UINT nMessage, void (CCmdTarget::*pfn)())
{
    return {nMessage, 0, 0, 0, AfxSig_vv, {.pfn_vv = pfn}};
}
constexpr AFX_MSGMAP_ENTRY AfxMessageEntry(UINT nMessage, int (CCmdTarget::*pfn)(LPCREATESTRUCT))
{
    return {nMessage, 0, 0, 0, AfxSig_is, {.pfn_is = pfn}};
}
constexpr AFX_MSGMAP_ENTRY AfxMessageEntry(UINT nMessage, void (CCmdTarget::*pfn)(BOOL))
{
    return {nMessage, 0, 0, 0, AfxSig_vb, {.pfn_vb = pfn}};
}
constexpr AFX_MSGMAP_ENTRY AfxCommandEntry(UINT nID, void (CCmdTarget::*pfn)())
{
    return {WM_COMMAND, CN_COMMAND, nID, nID, AfxSig_vv, {.pfn_vv = pfn}};
}
constexpr AFX_MSGMAP_ENTRY AfxEndMessageEntry()
{
    return {0, 0, 0, 0, AfxSig_end, {}};
}

#define DECLARE_MESSAGE_MAP()                                                                      \
protected:                                                                                         \
    static const AFX_MSGMAP* GetThisMessageMap();                                                  \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                                     \
    const AFX_MSGMAP* theClass::GetMessageMap() const                                              \
    {                                                                                              \
        return GetThisMessageMap();                                                                \
    }                                                                                              \
    const AFX_MSGMAP* theClass::GetThisMessageMap()                                                \
    {                                                                                              \
        using ThisClass [[maybe_unused]] = theClass;                                               \
        using TheBaseClass = baseClass;                                                            \
        static const AFX_MSGMAP_ENTRY _messageEntries[] = {

// clang-format off
#define END_MESSAGE_MAP()                                                                          \
        AfxEndMessageEntry()};                                                                     \
        static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap,                    \
                                              &_messageEntries[0]};                                \
        return &messageMap;                                                                        \
    }
// clang-format on

// ON_MESSAGE(WM_x, &CClass::OnX) with LRESULT OnX(WPARAM, LPARAM)
#define ON_MESSAGE(message, memberFxn)                                                             \
    AfxMessageEntry(message, static_cast<LRESULT (CCmdTarget::*)(WPARAM, LPARAM)>(memberFxn)),

// ON_COMMAND(ID_x, &CClass::OnX) with void OnX()
#define ON_COMMAND(id, memberFxn)                                                                  \
    AfxCommandEntry(id, static_cast<void (CCmdTarget::*)()>(memberFxn)),

// int OnCreate(LPCREATESTRUCT)
#define ON_WM_CREATE()                                                                             \
    AfxMessageEntry(WM_CREATE,                                                                     \
                    static_cast<int (CCmdTarget::*)(LPCREATESTRUCT)>(&ThisClass::OnCreate)),

// void OnClose()
#define ON_WM_CLOSE()                                                                              \
    AfxMessageEntry(WM_CLOSE, static_cast<void (CCmdTarget::*)()>(&ThisClass::OnClose)),

// void OnEndSession(BOOL bEnding)
#define ON_WM_ENDSESSION()                                                                         \
    AfxMessageEntry(WM_ENDSESSION,                                                                 \
                    static_cast<void (CCmdTarget::*)(BOOL)>(&ThisClass::OnEndSession)),

class CCmdTarget : public CObject
{
    DECLARE_DYNAMIC(CCmdTarget)
public:
    CCmdTarget() = default;

    // Runs the WM_COMMAND handler for nID and nCode from this object's message map chain.
    // TRUE when a handler ran.
    virtual BOOL OnCmdMsg(UINT nID, int nCode);

protected:
    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;

    // The first entry for nMessage (and for WM_COMMAND: nCode, nID) along the map chain, or null.
    const AFX_MSGMAP_ENTRY* FindMessageEntry(UINT nMessage, UINT nCode, UINT nID) const;
};

/////////////////////////////////////////////////////////////////////////////
// Threads

typedef UINT(__cdecl* AFX_THREADPROC)(LPVOID);

class CWinThread : public CCmdTarget
{
    DECLARE_DYNAMIC(CWinThread)
public:
    CWinThread(); // user-interface thread: InitInstance, Run, ExitInstance
    CWinThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam); // worker thread
    // Closes the thread handle.
    ~CWinThread() override;

    CWnd* m_pMainWnd = nullptr; // the thread's main window
    BOOL m_bAutoDelete = TRUE;  // delete the object when the thread ends
    HANDLE m_hThread = nullptr; // owned by the object
    DWORD m_nThreadID = 0;
    AFX_THREADPROC m_pfnThreadProc = nullptr;
    LPVOID m_pThreadParams = nullptr;

    virtual BOOL InitInstance(); // FALSE: the thread ends after ExitInstance
    // The message loop: until WM_QUIT, then returns ExitInstance().
    virtual int Run();
    // Gives the windows from the message's window up to the main window a chance to
    // handle it first (a dialog's keyboard navigation); TRUE when handled.
    virtual BOOL PreTranslateMessage(MSG* pMsg);
    // Returns the wParam of the WM_QUIT that ended the loop (0 when none).
    virtual int ExitInstance();
    virtual CWnd* GetMainWnd();

protected:
    MSG m_msgCur{}; // the message being processed by Run

    DECLARE_MESSAGE_MAP()
};

CWinThread* AfxBeginThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam,
                           int nPriority = THREAD_PRIORITY_NORMAL, UINT nStackSize = 0,
                           DWORD dwCreateFlags = 0,
                           LPSECURITY_ATTRIBUTES lpSecurityAttrs = nullptr);
CWinThread* AfxBeginThread(CRuntimeClass* pThreadClass, int nPriority = THREAD_PRIORITY_NORMAL,
                           UINT nStackSize = 0, DWORD dwCreateFlags = 0,
                           LPSECURITY_ATTRIBUTES lpSecurityAttrs = nullptr);

// The CWinThread object of the calling thread (the application object on its thread), or null.
CWinThread* AfxGetThread();

/////////////////////////////////////////////////////////////////////////////
// The application

class CWinApp : public CWinThread
{
    DECLARE_DYNAMIC(CWinApp)
public:
    // Registers the one application object. Without a name the title is string AFX_IDS_APP_TITLE.
    explicit CWinApp(LPCWSTR lpszAppName = nullptr);
    ~CWinApp() override;

    LPCWSTR m_pszAppName; // the application's title

    BOOL InitInstance() override;
    // Ends at once when there is no main window; otherwise the thread's message loop.
    int Run() override;
    int ExitInstance() override;

protected:
    BOOL Enable3dControlsStatic(); // does nothing, returns TRUE

    DECLARE_MESSAGE_MAP()

private:
    CString m_strAppName;
};

CWinApp* AfxGetApp();
// The calling thread's main window, or null.
CWnd* AfxGetMainWnd();
HINSTANCE AfxGetInstanceHandle();
// The module holding dialog templates, strings and icons: the executable.
HINSTANCE AfxGetResourceHandle();

// The process start: InitInstance, Run, ExitInstance of the application object.
int AfxWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPWSTR lpCmdLine, int nCmdShow);

/////////////////////////////////////////////////////////////////////////////
// Windows

LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam);
WNDPROC AfxGetAfxWndProc();
// Registers the class; TRUE also when a class of that name already exists for its instance.
BOOL AfxRegisterClass(WNDCLASS* lpWndClass);

class CWnd : public CCmdTarget
{
    DECLARE_DYNAMIC(CWnd)
public:
    CWnd();
    // Destroys a window still attached.
    ~CWnd() override;

    HWND m_hWnd = nullptr;

    static const CWnd wndTopMost;   // insert-after HWND_TOPMOST
    static const CWnd wndNoTopMost; // insert-after HWND_NOTOPMOST

    HWND GetSafeHwnd() const { return m_hWnd; }

    // The object attached to hWnd, or a temporary object that lives as long as the calling thread;
    // null for a null handle.
    static CWnd* FromHandle(HWND hWnd);
    // The object attached to hWnd, or null.
    static CWnd* FromHandlePermanent(HWND hWnd);

    // Creates the window with this object attached from the first message on.
    virtual BOOL CreateEx(DWORD dwExStyle, LPCWSTR lpszClassName, LPCWSTR lpszWindowName,
                          DWORD dwStyle, int x, int y, int nWidth, int nHeight, HWND hWndParent,
                          HMENU nIDorHMenu, LPVOID lpParam = nullptr);
    virtual BOOL DestroyWindow();

    BOOL ShowWindow(int nCmdShow);
    void UpdateWindow();
    BOOL IsWindowVisible() const;
    BOOL EnableWindow(BOOL bEnable = TRUE);
    BOOL SetWindowPos(const CWnd* pWndInsertAfter, int x, int y, int cx, int cy, UINT nFlags);
    void MoveWindow(int x, int y, int nWidth, int nHeight, BOOL bRepaint = TRUE);
    // The child control nID, or null when it does not exist.
    CWnd* GetDlgItem(int nID) const;
    void SetDlgItemText(int nID, LPCWSTR lpszString);

    virtual BOOL PreCreateWindow(CREATESTRUCT& cs);
    virtual BOOL PreTranslateMessage(MSG* pMsg);

protected:
    // Message map first, then DefWindowProc.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Default processing of the message being handled.
    LRESULT Default();
    // Called after WM_NCDESTROY, once the handle is detached.
    virtual void PostNcDestroy();

    afx_msg int OnCreate(LPCREATESTRUCT lpCreateStruct);
    afx_msg void OnClose();
    // Ending the session as the application's main window: runs the application's ExitInstance.
    afx_msg void OnEndSession(BOOL bEnding);

    WNDPROC m_pfnSuper = nullptr; // the window's own procedure when it was subclassed

    DECLARE_MESSAGE_MAP()

private:
    explicit CWnd(HWND hWndSpecial);

    bool m_bAttached = false; // in the handle map
    bool m_bInCreate = false; // inside CreateEx or CDialog::Create

    friend struct AfxWndInternals;
};

/////////////////////////////////////////////////////////////////////////////
// Frame windows

class CFrameWnd : public CWnd
{
    DECLARE_DYNAMIC(CFrameWnd)
public:
    CFrameWnd() = default;

    BOOL Create(LPCWSTR lpszClassName, LPCWSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
                CWnd* pParentWnd = nullptr, LPCWSTR lpszMenuName = nullptr, DWORD dwExStyle = 0,
                void* pContext = nullptr);

    // Adds WS_EX_CLIENTEDGE.
    BOOL PreCreateWindow(CREATESTRUCT& cs) override;
    // The frame's own map first, then the application object's.
    BOOL OnCmdMsg(UINT nID, int nCode) override;

protected:
    afx_msg int OnCreate(LPCREATESTRUCT lpCreateStruct);
    // The application's main window is hidden before it is destroyed.
    afx_msg void OnClose();
    // Deletes the object.
    void PostNcDestroy() override;

    DECLARE_MESSAGE_MAP()
};

/////////////////////////////////////////////////////////////////////////////
// Dialogs

class CDataExchange
{
public:
    CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate)
        : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd)
    {
    }

    BOOL m_bSaveAndValidate; // TRUE: controls to members
    CWnd* m_pDlgWnd;
};

class CDialog : public CWnd
{
    DECLARE_DYNAMIC(CDialog)
public:
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);

    // Modeless: creates the dialog from template nIDTemplate of the executable, owned by
    // pParentWnd (null: the thread's main window). FALSE when it could not be created; the object
    // then has no window.
    virtual BOOL Create(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    // Modal: runs the dialog of the constructor's template, owned by the parent given there or
    // else the thread's main window. Returns the EndDialog result, or -1 when it failed.
    virtual INT_PTR DoModal();
    void EndDialog(int nResult);
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

    // Runs data exchange into the controls; TRUE lets the system set the focus.
    virtual BOOL OnInitDialog();
    // IsDialogMessage for keyboard messages to the dialog and its controls.
    BOOL PreTranslateMessage(MSG* pMsg) override;

protected:
    virtual void DoDataExchange(CDataExchange* pDX);
    virtual void OnOK();     // data exchange, then EndDialog(IDOK)
    virtual void OnCancel(); // EndDialog(IDCANCEL)

    LPCWSTR m_lpszTemplateName;
    CWnd* m_pParentWnd;

    DECLARE_MESSAGE_MAP()
};
