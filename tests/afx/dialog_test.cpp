// Dialogs: modeless creation from a template, commands, keyboard handling through a
// user-interface thread's pre-translation, and modal runs.
#include "afx_test_util.h"

#include "afx_test_res.h"

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace
{

using afxtest::kFrameClass;
using Log = std::vector<std::string>;

// A modeless dialog like the program's error dialog: OK and Cancel only record, and the object
// deletes itself with its window when asked to.
class CTestDlg : public CDialog
{
public:
    CTestDlg(Log& log, bool bDeleteWithWindow = false, bool* pDeleted = nullptr)
        : CDialog(IDD_TEST_CANCELDEF), m_log(log), m_bDeleteWithWindow(bDeleteWithWindow),
          m_pDeleted(pDeleted)
    {
    }
    ~CTestDlg() override
    {
        if (m_pDeleted)
            *m_pDeleted = true;
    }

    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
        m_log.push_back(FromHandlePermanent(m_hWnd) == this ? "init attached" : "init");
        return TRUE;
    }

protected:
    void OnOK() override { m_log.push_back("ok"); }
    void OnCancel() override { m_log.push_back("cancel"); }
    void PostNcDestroy() override
    {
        if (m_bDeleteWithWindow)
            delete this;
    }
    LRESULT OnPing(WPARAM wParam, LPARAM) { return static_cast<LRESULT>(wParam * 2); }

    Log& m_log;
    bool m_bDeleteWithWindow;
    bool* m_pDeleted;

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CTestDlg, CDialog)
ON_MESSAGE(WM_APP + 5, &CTestDlg::OnPing)
END_MESSAGE_MAP()

std::wstring TextOf(HWND hWnd)
{
    wchar_t text[128] = {};
    ::GetWindowTextW(hWnd, text, 128);
    return text;
}

using DialogTest = afxtest::AfxTest;

TEST_F(DialogTest, ModelessDialogIsCreatedHiddenFromTheTemplate)
{
    Log log;
    CTestDlg dlg(log);
    ASSERT_TRUE(dlg.Create(IDD_TEST_CANCELDEF, CWnd::FromHandle(::GetDesktopWindow())));
    ASSERT_NE(dlg.m_hWnd, nullptr);
    EXPECT_EQ(log, Log{"init attached"});
    EXPECT_FALSE(dlg.IsWindowVisible());
    EXPECT_EQ(TextOf(dlg.m_hWnd), L"오류");
    EXPECT_EQ(::GetWindow(dlg.m_hWnd, GW_OWNER), nullptr);

    // Controls through the wrappers; a missing control has no object.
    CWnd* pButton = dlg.GetDlgItem(IDCANCEL);
    ASSERT_NE(pButton, nullptr);
    EXPECT_EQ(TextOf(pButton->m_hWnd), L"취소");
    EXPECT_EQ(dlg.GetDlgItem(999), nullptr);
    dlg.SetDlgItemText(IDC_TEST_TEXT, L"용지 걸림(001A2B).");
    EXPECT_EQ(TextOf(::GetDlgItem(dlg.m_hWnd, IDC_TEST_TEXT)), L"용지 걸림(001A2B).");

    // Private messages through the map, commands to the overrides.
    EXPECT_EQ(::SendMessageW(dlg.m_hWnd, WM_APP + 5, 21, 0), 42);
    log.clear();
    ::SendMessageW(dlg.m_hWnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dlg.m_hWnd, IDOK)));
    ::SendMessageW(dlg.m_hWnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                   reinterpret_cast<LPARAM>(pButton->m_hWnd));
    EXPECT_EQ(log, (Log{"ok", "cancel"}));
    EXPECT_TRUE(::IsWindow(dlg.m_hWnd)); // the overrides neither end nor destroy it

    EXPECT_TRUE(dlg.DestroyWindow());
    EXPECT_EQ(dlg.m_hWnd, nullptr);
}

TEST_F(DialogTest, MissingTemplateFailsWithoutAWindow)
{
    Log log;
    CTestDlg dlg(log);
    EXPECT_FALSE(dlg.Create(4242, nullptr));
    EXPECT_EQ(dlg.m_hWnd, nullptr);
    EXPECT_EQ(log, Log{});
}

TEST_F(DialogTest, SelfDeletingDialogGoesWithItsWindow)
{
    Log log;
    bool bDeleted = false;
    auto* pDlg = new CTestDlg(log, true, &bDeleted);
    ASSERT_TRUE(pDlg->Create(IDD_TEST_CANCELDEF, nullptr));
    HWND hWnd = pDlg->m_hWnd;
    EXPECT_TRUE(pDlg->DestroyWindow());
    EXPECT_TRUE(bDeleted);
    EXPECT_FALSE(::IsWindow(hWnd));
}

// A user-interface thread whose main window is a modeless dialog, like the error dialog's.
class CDialogThread : public CWinThread
{
    DECLARE_DYNCREATE(CDialogThread)
public:
    static inline UINT s_nTemplate = IDD_TEST_CANCELDEF;
    static inline std::atomic<HWND> s_hDlg{nullptr};
    static inline std::atomic<bool> s_bDeleted{false};

    static Log Snapshot()
    {
        std::lock_guard lock(s_mutex);
        return s_log;
    }
    static void Reset(UINT nTemplate)
    {
        std::lock_guard lock(s_mutex);
        s_log.clear();
        s_nTemplate = nTemplate;
        s_hDlg = nullptr;
        s_bDeleted = false;
    }

    BOOL InitInstance() override
    {
        m_pDlg = new CKeyDlg();
        if (!m_pDlg->Create(s_nTemplate, CWnd::FromHandle(::GetDesktopWindow())))
            return FALSE;
        m_pMainWnd = m_pDlg;
        s_hDlg = m_pDlg->m_hWnd;
        return TRUE;
    }
    int ExitInstance() override
    {
        if (m_pDlg)
        {
            if (!m_pDlg->DestroyWindow())
                delete m_pDlg;
            m_pDlg = nullptr;
        }
        return CWinThread::ExitInstance();
    }

protected:
    CDialogThread() = default;

    class CKeyDlg : public CDialog
    {
    public:
        CKeyDlg() : CDialog(s_nTemplate) {}
        ~CKeyDlg() override { s_bDeleted = true; }

    protected:
        void OnOK() override { Add("ok"); }
        void OnCancel() override { Add("cancel"); }
        void PostNcDestroy() override { delete this; }
    };

    static void Add(const std::string& entry)
    {
        std::lock_guard lock(s_mutex);
        s_log.push_back(entry);
    }

    CKeyDlg* m_pDlg = nullptr;

    static inline std::mutex s_mutex;
    static inline Log s_log;
};
IMPLEMENT_DYNCREATE(CDialogThread, CWinThread)

TEST(DialogKeyboard, EscapeAndEnterReachTheModelessDialogThroughPreTranslation)
{
    struct Case
    {
        UINT nTemplate;
        WPARAM vk;
        int nTargetID; // 0: the dialog itself, else the control that has the key
        const char* expected;
    };
    const Case cases[] = {
        {IDD_TEST_CANCELDEF, VK_ESCAPE, 0, "cancel"},
        {IDD_TEST_CANCELDEF, VK_RETURN, 0, "cancel"}, // Cancel is the default button
        {IDD_TEST_CANCELDEF, VK_RETURN, IDCANCEL, "cancel"},
        {IDD_TEST_OKDEF, VK_ESCAPE, 0, "cancel"},
        {IDD_TEST_OKDEF, VK_RETURN, 0, "ok"},
        {IDD_TEST_OKDEF, VK_ESCAPE, IDOK, "cancel"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.nTemplate << " " << c.vk << " " << c.nTargetID);
        CDialogThread::Reset(c.nTemplate);
        CWinThread* pThread = AfxBeginThread(RUNTIME_CLASS(CDialogThread), THREAD_PRIORITY_NORMAL,
                                             0, CREATE_SUSPENDED, nullptr);
        ASSERT_NE(pThread, nullptr);
        pThread->m_bAutoDelete = FALSE;
        ::ResumeThread(pThread->m_hThread);

        const ULONGLONG deadline = ::GetTickCount64() + 20000;
        while (!CDialogThread::s_hDlg && ::GetTickCount64() < deadline)
            ::Sleep(5);
        HWND hDlg = CDialogThread::s_hDlg;
        ASSERT_NE(hDlg, nullptr);
        HWND hTarget = c.nTargetID ? ::GetDlgItem(hDlg, c.nTargetID) : hDlg;
        ASSERT_NE(hTarget, nullptr);

        ::PostMessageW(hTarget, WM_KEYDOWN, c.vk, 1);
        ::PostMessageW(hTarget, WM_KEYUP, c.vk, 0xC0000001);
        while (CDialogThread::Snapshot().empty() && ::GetTickCount64() < deadline)
            ::Sleep(5);
        EXPECT_EQ(CDialogThread::Snapshot(), Log{c.expected});

        ::PostThreadMessageW(pThread->m_nThreadID, WM_QUIT, 0, 0);
        ASSERT_TRUE(afxtest::WaitSignalled(pThread->m_hThread));
        EXPECT_TRUE(CDialogThread::s_bDeleted);
        EXPECT_FALSE(::IsWindow(hDlg));
        delete pThread;
    }
}

// A modal dialog that ends itself from OnInitDialog in one of several ways.
class CModalDlg : public CDialog
{
public:
    enum class Ending
    {
        OkCommand,
        EscapeKey,
        CloseMessage
    };

    CModalDlg(Ending ending, CWnd* pParent = nullptr)
        : CDialog(IDD_TEST_OKDEF, pParent), m_ending(ending)
    {
    }

    Log m_log;
    HWND m_hOwner = reinterpret_cast<HWND>(1);

    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
        m_hOwner = ::GetWindow(m_hWnd, GW_OWNER);
        // A dialog that fails to end fails the test instead of hanging it.
        ::SetTimer(m_hWnd, 1, 20000, nullptr);
        switch (m_ending)
        {
        case Ending::OkCommand:
            ::PostMessageW(m_hWnd, WM_COMMAND, IDOK, 0);
            break;
        case Ending::EscapeKey:
            ::PostMessageW(m_hWnd, WM_KEYDOWN, VK_ESCAPE, 1);
            break;
        case Ending::CloseMessage:
            ::PostMessageW(m_hWnd, WM_CLOSE, 0, 0);
            break;
        }
        return TRUE;
    }

protected:
    LRESULT OnTimer(WPARAM, LPARAM)
    {
        EndDialog(afxtest::kLoopTimedOut);
        return 0;
    }
    void DoDataExchange(CDataExchange* pDX) override
    {
        m_log.push_back(pDX->m_bSaveAndValidate ? "save" : "load");
        EXPECT_EQ(pDX->m_pDlgWnd, this);
    }

    Ending m_ending;

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CModalDlg, CDialog)
ON_MESSAGE(WM_TIMER, &CModalDlg::OnTimer)
END_MESSAGE_MAP()

class CMainFrameStub : public CFrameWnd
{
public:
    CMainFrameStub() { Create(kFrameClass, L"owner", WS_OVERLAPPEDWINDOW, RECT{0, 0, 50, 50}); }
};

TEST_F(DialogTest, ModalDialogIsOwnedByTheMainWindowAndReturnsTheEndResult)
{
    struct Case
    {
        CModalDlg::Ending ending;
        INT_PTR result;
        Log log;
    };
    const Case cases[] = {
        {CModalDlg::Ending::OkCommand, IDOK, {"load", "save"}},
        {CModalDlg::Ending::EscapeKey, IDCANCEL, {"load"}},
        {CModalDlg::Ending::CloseMessage, IDCANCEL, {"load"}},
    };
    CWinApp app(L"modal");
    app.m_pMainWnd = new CMainFrameStub();
    HWND hMain = app.m_pMainWnd->m_hWnd;
    ASSERT_NE(hMain, nullptr);
    for (const Case& c : cases)
    {
        SCOPED_TRACE(static_cast<int>(c.ending));
        CModalDlg dlg(c.ending);
        EXPECT_EQ(dlg.DoModal(), c.result);
        EXPECT_EQ(dlg.m_log, c.log);
        EXPECT_EQ(dlg.m_hOwner, hMain);
        EXPECT_EQ(dlg.m_hWnd, nullptr);
        EXPECT_TRUE(::IsWindowEnabled(hMain));
    }
    app.m_pMainWnd->DestroyWindow();
}

TEST_F(DialogTest, ModalDialogWithoutAnApplicationHasNoOwner)
{
    CModalDlg dlg(CModalDlg::Ending::OkCommand);
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(dlg.m_hOwner, nullptr);
}

TEST_F(DialogTest, ModalDialogWithoutATemplateFails)
{
    class CNoTemplateDlg : public CDialog
    {
    public:
        CNoTemplateDlg() : CDialog(4343) {}
    } dlg;
    EXPECT_EQ(dlg.DoModal(), -1);
}

} // namespace
