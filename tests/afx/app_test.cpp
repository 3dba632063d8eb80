// The application object: title, start, message loop, command routing and the end of the
// main window.
#include "afx_test_util.h"

#include <string>
#include <vector>

namespace
{

using afxtest::kFrameClass;
using Log = std::vector<std::string>;

constexpr UINT ID_TEST_FRAME_ONLY = 0x8001;
constexpr UINT ID_TEST_BOTH = 0x8002;
constexpr UINT ID_TEST_NOBODY = 0x8003;

// A frame like the program's main frame, with a command of its own.
class CTestFrame : public CFrameWnd
{
public:
    explicit CTestFrame(Log& log, bool* pDeleted = nullptr) : m_log(log), m_pDeleted(pDeleted)
    {
        Create(kFrameClass, L"main", WS_OVERLAPPEDWINDOW, RECT{0, 0, 100, 100});
    }
    ~CTestFrame() override
    {
        m_log.push_back("frame deleted");
        if (m_pDeleted)
            *m_pDeleted = true;
    }

protected:
    void OnFrameOnly() { m_log.push_back("frame only"); }
    void OnBoth() { m_log.push_back("frame both"); }
    LRESULT OnShowWindow(WPARAM wParam, LPARAM)
    {
        m_log.push_back(wParam ? "shown" : "hidden");
        return Default();
    }
    LRESULT OnDestroy(WPARAM, LPARAM)
    {
        m_log.push_back("destroy");
        return Default();
    }

    Log& m_log;
    bool* m_pDeleted;

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CTestFrame, CFrameWnd)
ON_COMMAND(ID_TEST_FRAME_ONLY, &CTestFrame::OnFrameOnly)
ON_COMMAND(ID_TEST_BOTH, &CTestFrame::OnBoth)
ON_MESSAGE(WM_SHOWWINDOW, &CTestFrame::OnShowWindow)
ON_MESSAGE(WM_DESTROY, &CTestFrame::OnDestroy)
ON_WM_ENDSESSION()
END_MESSAGE_MAP()

// An application object that records what the framework calls.
class CTestApp : public CWinApp
{
public:
    explicit CTestApp(Log& log) : m_log(log) {}

    BOOL m_bInitResult = TRUE;
    bool m_bCreateFrame = false;
    bool m_bCloseFrameAtStart = false;
    int m_nExitOffset = 0;
    bool m_bFrameDeleted = false;

    BOOL InitInstance() override
    {
        m_log.push_back("init");
        m_log.push_back(Enable3dControlsStatic() ? "3d TRUE" : "3d FALSE");
        if (m_bCreateFrame)
        {
            m_pMainWnd = new CTestFrame(m_log, &m_bFrameDeleted);
            if (m_bCloseFrameAtStart)
                ::PostMessageW(m_pMainWnd->m_hWnd, WM_CLOSE, 0, 0);
        }
        return m_bInitResult;
    }
    int Run() override
    {
        m_log.push_back("run");
        return CWinApp::Run();
    }
    int ExitInstance() override
    {
        m_log.push_back("exit");
        return CWinApp::ExitInstance() + m_nExitOffset;
    }

protected:
    void OnAppAbout() { m_log.push_back("app about"); }
    void OnBoth() { m_log.push_back("app both"); }

    Log& m_log;

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CTestApp, CWinApp)
ON_COMMAND(ID_APP_ABOUT, &CTestApp::OnAppAbout)
ON_COMMAND(ID_TEST_BOTH, &CTestApp::OnBoth)
END_MESSAGE_MAP()

using AppTest = afxtest::AfxTest;

TEST_F(AppTest, UnnamedApplicationTakesItsTitleFromTheStringTable)
{
    {
        CWinApp app;
        EXPECT_EQ(AfxGetApp(), &app);
        EXPECT_EQ(AfxGetThread(), &app);
        EXPECT_STREQ(app.m_pszAppName, L"Quenlo 시험");
        EXPECT_EQ(app.m_pMainWnd, nullptr);
    }
    EXPECT_EQ(AfxGetApp(), nullptr);
    EXPECT_EQ(AfxGetThread(), nullptr);

    CWinApp named(L"Named");
    EXPECT_STREQ(named.m_pszAppName, L"Named");
}

TEST_F(AppTest, CommandsSentToTheFrameFallBackToTheApplication)
{
    Log log;
    CTestApp app(log);
    app.m_pMainWnd = new CTestFrame(log);
    HWND hFrame = app.m_pMainWnd->m_hWnd;
    ASSERT_NE(hFrame, nullptr);

    struct Case
    {
        UINT nID;
        WPARAM wHigh; // notification code: 0 menu, 1 accelerator
        Log log;
    };
    const Case cases[] = {
        {ID_APP_ABOUT, 0, {"app about"}},
        {ID_APP_ABOUT, 1, {"app about"}},
        {ID_TEST_FRAME_ONLY, 0, {"frame only"}},
        {ID_TEST_BOTH, 0, {"frame both"}}, // the frame first
        {ID_TEST_NOBODY, 0, {}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.nID);
        log.clear();
        EXPECT_EQ(::SendMessageW(hFrame, WM_COMMAND, MAKEWPARAM(c.nID, c.wHigh), 0), 0);
        EXPECT_EQ(log, c.log);
    }
    // A control notification other than a click is no command.
    log.clear();
    ::SendMessageW(hFrame, WM_COMMAND, MAKEWPARAM(ID_APP_ABOUT, BN_DOUBLECLICKED),
                   reinterpret_cast<LPARAM>(hFrame));
    EXPECT_EQ(log, Log{});

    log.clear();
    ::DestroyWindow(hFrame);
    EXPECT_EQ(log, (Log{"destroy", "frame deleted"}));
}

TEST_F(AppTest, CommandsWithoutAnApplicationStayWithTheFrame)
{
    Log log;
    auto* pFrame = new CTestFrame(log);
    ::SendMessageW(pFrame->m_hWnd, WM_COMMAND, ID_APP_ABOUT, 0);
    ::SendMessageW(pFrame->m_hWnd, WM_COMMAND, ID_TEST_BOTH, 0);
    EXPECT_EQ(log, Log{"frame both"});
    pFrame->DestroyWindow();
}

TEST_F(AppTest, ClosingTheMainWindowEndsTheMessageLoop)
{
    Log log;
    CTestApp app(log);
    bool bDeleted = false;
    app.m_pMainWnd = new CTestFrame(log, &bDeleted);
    app.m_pMainWnd->ShowWindow(SW_SHOWNOACTIVATE);
    ::PostMessageW(app.m_pMainWnd->m_hWnd, WM_CLOSE, 0, 0);
    log.clear();

    afxtest::LoopDeadline deadline;
    EXPECT_EQ(app.Run(), 0);
    // Hidden, destroyed, deleted; the loop then ends with ExitInstance.
    EXPECT_EQ(log, (Log{"run", "hidden", "destroy", "frame deleted", "exit"}));
    EXPECT_TRUE(bDeleted);
    EXPECT_EQ(app.m_pMainWnd, nullptr);
}

TEST_F(AppTest, ExitInstanceReturnsTheQuitCode)
{
    Log log;
    CTestApp app(log);
    bool bDeleted = false;
    app.m_pMainWnd = new CTestFrame(log, &bDeleted);
    ::PostQuitMessage(7);
    afxtest::LoopDeadline deadline;
    EXPECT_EQ(app.Run(), 7);
    EXPECT_FALSE(bDeleted); // the loop ended, the window lives on
    app.m_pMainWnd->DestroyWindow();
    EXPECT_TRUE(bDeleted);
    EXPECT_EQ(app.m_pMainWnd, nullptr);
}

TEST_F(AppTest, RunWithoutAMainWindowEndsAtOnce)
{
    Log log;
    CTestApp app(log);
    afxtest::LoopDeadline deadline;
    EXPECT_EQ(app.Run(), 0);
    EXPECT_EQ(log, (Log{"run", "exit"}));
}

TEST_F(AppTest, EndOfSessionRunsExitInstanceForTheMainWindowOnly)
{
    struct Case
    {
        bool bMainWindow;
        BOOL bEnding;
        Log log;
    };
    const Case cases[] = {
        {true, TRUE, {"exit"}},
        {true, FALSE, {}},
        {false, TRUE, {}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.bMainWindow << " " << c.bEnding);
        Log log;
        CTestApp app(log);
        auto* pFrame = new CTestFrame(log);
        if (c.bMainWindow)
            app.m_pMainWnd = pFrame;
        log.clear();
        ::SendMessageW(pFrame->m_hWnd, WM_ENDSESSION, c.bEnding, 0);
        EXPECT_EQ(log, c.log); // inside the message
        pFrame->DestroyWindow();
    }
}

TEST_F(AppTest, StartRunsInitInstanceTheLoopAndExitInstance)
{
    Log log;
    CTestApp app(log);
    app.m_bCreateFrame = true;
    app.m_bCloseFrameAtStart = true;
    afxtest::LoopDeadline deadline;
    EXPECT_EQ(AfxWinMain(AfxGetInstanceHandle(), nullptr, nullptr, SW_SHOWNORMAL), 0);
    EXPECT_EQ(log, (Log{"init", "3d TRUE", "run", "destroy", "frame deleted", "exit"}));
    EXPECT_EQ(app.m_pMainWnd, nullptr);
}

TEST_F(AppTest, FailedInitInstanceDestroysTheMainWindowAndExits)
{
    Log log;
    CTestApp app(log);
    app.m_bCreateFrame = true;
    app.m_bInitResult = FALSE;
    app.m_nExitOffset = 3;
    EXPECT_EQ(AfxWinMain(AfxGetInstanceHandle(), nullptr, nullptr, SW_SHOWNORMAL), 3);
    EXPECT_EQ(log, (Log{"init", "3d TRUE", "destroy", "frame deleted", "exit"}));
    EXPECT_TRUE(app.m_bFrameDeleted);
    EXPECT_EQ(app.m_pMainWnd, nullptr);
}

TEST_F(AppTest, StartWithoutAnApplicationObjectFails)
{
    EXPECT_EQ(AfxWinMain(AfxGetInstanceHandle(), nullptr, nullptr, SW_SHOWNORMAL), -1);
}

} // namespace
