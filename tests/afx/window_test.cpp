// Windows: message-map dispatch and chaining, creation, destruction and the handle map.
#include "afx_test_util.h"

#include <atomic>
#include <string>
#include <vector>

namespace
{

using afxtest::kFrameClass;
using Log = std::vector<std::string>;

constexpr UINT WM_TEST_BASE = WM_APP + 1;     // mapped by the base frame only
constexpr UINT WM_TEST_BOTH = WM_APP + 2;     // mapped by both frames
constexpr UINT WM_TEST_UNMAPPED = WM_APP + 3; // mapped by neither

class CBaseFrame : public CFrameWnd
{
public:
    CBaseFrame(Log& log, bool* pDeleted = nullptr) : m_log(log), m_pDeleted(pDeleted) {}
    ~CBaseFrame() override
    {
        if (m_pDeleted)
            *m_pDeleted = true;
    }

    BOOL CreateHidden(DWORD dwExStyle = 0)
    {
        return Create(kFrameClass, L"test frame", WS_OVERLAPPEDWINDOW, RECT{0, 0, 100, 100},
                      nullptr, nullptr, dwExStyle);
    }

    int m_nCreateResult = 0;

protected:
    LRESULT OnNcCreate(WPARAM, LPARAM)
    {
        m_log.push_back(FromHandlePermanent(m_hWnd) == this ? "nccreate attached" : "nccreate");
        return Default();
    }
    afx_msg int OnCreate(LPCREATESTRUCT lpCreateStruct)
    {
        m_log.push_back("create");
        const int nResult = CFrameWnd::OnCreate(lpCreateStruct);
        return m_nCreateResult == 0 ? nResult : m_nCreateResult;
    }
    LRESULT OnTestBase(WPARAM wParam, LPARAM lParam)
    {
        m_log.push_back("base");
        return static_cast<LRESULT>(wParam + lParam);
    }
    LRESULT OnTestBoth(WPARAM, LPARAM)
    {
        m_log.push_back("base both");
        return 1;
    }

    Log& m_log;
    bool* m_pDeleted;

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CBaseFrame, CFrameWnd)
ON_MESSAGE(WM_NCCREATE, &CBaseFrame::OnNcCreate)
ON_WM_CREATE()
ON_MESSAGE(WM_TEST_BASE, &CBaseFrame::OnTestBase)
ON_MESSAGE(WM_TEST_BOTH, &CBaseFrame::OnTestBoth)
END_MESSAGE_MAP()

class CDerivedFrame : public CBaseFrame
{
public:
    using CBaseFrame::CBaseFrame;

protected:
    LRESULT OnTestBoth(WPARAM, LPARAM)
    {
        m_log.push_back("derived both");
        return 2;
    }
    afx_msg void OnClose()
    {
        m_log.push_back("close");
        CFrameWnd::OnClose();
    }
    afx_msg void OnEndSession(BOOL bEnding)
    {
        m_log.push_back(bEnding ? "endsession 1" : "endsession 0");
    }

    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CDerivedFrame, CBaseFrame)
ON_MESSAGE(WM_TEST_BOTH, &CDerivedFrame::OnTestBoth)
ON_WM_CLOSE()
ON_WM_ENDSESSION()
END_MESSAGE_MAP()

using WindowTest = afxtest::AfxTest;

TEST_F(WindowTest, MessagesReachTheNearestHandlerAlongTheMapChain)
{
    Log log;
    bool bDeleted = false;
    auto* pFrame = new CDerivedFrame(log, &bDeleted);
    ASSERT_TRUE(pFrame->CreateHidden());
    HWND hWnd = pFrame->m_hWnd;
    log.clear();

    struct Case
    {
        UINT nMsg;
        WPARAM wParam;
        LPARAM lParam;
        LRESULT result;
        Log log;
    };
    const Case cases[] = {
        {WM_TEST_BASE, 40, 2, 42, {"base"}},            // base map, reached through the chain
        {WM_TEST_BOTH, 0, 0, 2, {"derived both"}},      // the derived entry hides the base one
        {WM_TEST_UNMAPPED, 0, 0, 0, {}},                // default processing
        {WM_GETTEXTLENGTH, 0, 0, 10, {}},               // default processing: "test frame"
        {WM_ENDSESSION, FALSE, 0, 0, {"endsession 0"}}, // void (BOOL) handler
        {WM_ENDSESSION, TRUE, 0, 0, {"endsession 1"}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.nMsg);
        log.clear();
        EXPECT_EQ(::SendMessageW(hWnd, c.nMsg, c.wParam, c.lParam), c.result);
        EXPECT_EQ(log, c.log);
    }

    // void () handler; the frame's closing destroys and deletes it.
    log.clear();
    ::SendMessageW(hWnd, WM_CLOSE, 0, 0);
    EXPECT_EQ(log, Log{"close"});
    EXPECT_TRUE(bDeleted);
    EXPECT_FALSE(::IsWindow(hWnd));
}

TEST_F(WindowTest, TheObjectIsAttachedBeforeTheFirstCreationMessage)
{
    Log log;
    auto* pFrame = new CBaseFrame(log);
    ASSERT_TRUE(pFrame->CreateHidden());
    EXPECT_EQ(log, (Log{"nccreate attached", "create"}));
    EXPECT_EQ(CWnd::FromHandlePermanent(pFrame->m_hWnd), pFrame);
    EXPECT_FALSE(::IsWindowVisible(pFrame->m_hWnd));
    EXPECT_TRUE(pFrame->DestroyWindow());
}

TEST_F(WindowTest, FrameCreationAddsTheClientEdge)
{
    Log log;
    auto* pFrame = new CBaseFrame(log);
    ASSERT_TRUE(pFrame->CreateHidden(WS_EX_TOOLWINDOW));
    const LONG exStyle = ::GetWindowLongW(pFrame->m_hWnd, GWL_EXSTYLE);
    EXPECT_TRUE(exStyle & WS_EX_CLIENTEDGE);
    EXPECT_TRUE(exStyle & WS_EX_TOOLWINDOW);
    EXPECT_TRUE(pFrame->DestroyWindow());
}

TEST_F(WindowTest, FailedCreationLeavesTheObjectToItsCreator)
{
    Log log;
    bool bDeleted = false;
    auto* pFrame = new CBaseFrame(log, &bDeleted);
    pFrame->m_nCreateResult = -1;
    EXPECT_FALSE(pFrame->CreateHidden());
    EXPECT_EQ(pFrame->m_hWnd, nullptr);
    EXPECT_FALSE(bDeleted);
    EXPECT_FALSE(pFrame->DestroyWindow());
    delete pFrame;
    EXPECT_TRUE(bDeleted);

    CBaseFrame frame(log);
    EXPECT_FALSE(frame.Create(L"NoSuchWindowClass", L"x", WS_OVERLAPPEDWINDOW, RECT{0, 0, 9, 9}));
    EXPECT_EQ(frame.m_hWnd, nullptr);
}

TEST_F(WindowTest, RegisteringAnExistingClassSucceedsAndKeepsIt)
{
    WNDCLASS wc{};
    wc.style = CS_BYTEALIGNWINDOW;
    wc.lpfnWndProc = AfxGetAfxWndProc();
    wc.hInstance = AfxGetInstanceHandle();
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_SCROLLBAR + 1);
    wc.lpszClassName = L"AfxTestRegistered";
    ASSERT_TRUE(AfxRegisterClass(&wc));
    WNDCLASS other = wc;
    other.style = CS_HREDRAW;
    EXPECT_TRUE(AfxRegisterClass(&other));

    WNDCLASSW registered{};
    ASSERT_TRUE(::GetClassInfoW(wc.hInstance, wc.lpszClassName, &registered));
    EXPECT_EQ(registered.style, static_cast<UINT>(CS_BYTEALIGNWINDOW));
    EXPECT_EQ(registered.lpfnWndProc, &AfxWndProc);
    EXPECT_TRUE(::UnregisterClassW(wc.lpszClassName, wc.hInstance));
}

// A window object that stays alive after its window: records what PostNcDestroy sees.
class CPlainWnd : public CWnd
{
public:
    HWND m_hWndAtPostNcDestroy = reinterpret_cast<HWND>(1);
    CWnd* m_pMappedAtPostNcDestroy = reinterpret_cast<CWnd*>(1);
    HWND m_hWndCreated = nullptr;
    int m_nPostNcDestroy = 0;

    BOOL CreateHidden()
    {
        const BOOL bCreated =
            CreateEx(0, kFrameClass, L"plain", WS_OVERLAPPEDWINDOW, 0, 0, 50, 50, nullptr, nullptr);
        m_hWndCreated = m_hWnd;
        return bCreated;
    }

protected:
    void PostNcDestroy() override
    {
        ++m_nPostNcDestroy;
        m_hWndAtPostNcDestroy = m_hWnd;
        m_pMappedAtPostNcDestroy = FromHandlePermanent(m_hWndCreated);
    }
};

TEST_F(WindowTest, PostNcDestroyComesAfterTheHandleIsDetached)
{
    CPlainWnd wnd;
    ASSERT_TRUE(wnd.CreateHidden());
    EXPECT_TRUE(wnd.DestroyWindow());
    EXPECT_EQ(wnd.m_nPostNcDestroy, 1);
    EXPECT_EQ(wnd.m_hWndAtPostNcDestroy, nullptr);
    EXPECT_EQ(wnd.m_pMappedAtPostNcDestroy, nullptr);
    EXPECT_EQ(wnd.m_hWnd, nullptr);
    EXPECT_FALSE(wnd.DestroyWindow());
}

TEST_F(WindowTest, FrameDeletesItselfWhenItsWindowIsDestroyed)
{
    Log log;
    bool bDeleted = false;
    auto* pFrame = new CBaseFrame(log, &bDeleted);
    ASSERT_TRUE(pFrame->CreateHidden());
    HWND hWnd = pFrame->m_hWnd;
    EXPECT_TRUE(::DestroyWindow(hWnd)); // from outside the object, too
    EXPECT_TRUE(bDeleted);
    EXPECT_EQ(CWnd::FromHandlePermanent(hWnd), nullptr);
}

TEST_F(WindowTest, DestroyingTheObjectDestroysItsWindow)
{
    HWND hWnd = nullptr;
    {
        CPlainWnd wnd;
        ASSERT_TRUE(wnd.CreateHidden());
        hWnd = wnd.m_hWnd;
    }
    EXPECT_FALSE(::IsWindow(hWnd));
    EXPECT_EQ(CWnd::FromHandlePermanent(hWnd), nullptr);
}

TEST_F(WindowTest, FromHandleGivesTheAttachedObjectOrAThreadTemporary)
{
    EXPECT_EQ(CWnd::FromHandle(nullptr), nullptr);
    EXPECT_EQ(CWnd::FromHandlePermanent(nullptr), nullptr);

    CPlainWnd wnd;
    ASSERT_TRUE(wnd.CreateHidden());
    EXPECT_EQ(CWnd::FromHandle(wnd.m_hWnd), &wnd);

    HWND hDesktop = ::GetDesktopWindow();
    EXPECT_EQ(CWnd::FromHandlePermanent(hDesktop), nullptr);
    CWnd* pDesktop = CWnd::FromHandle(hDesktop);
    ASSERT_NE(pDesktop, nullptr);
    EXPECT_EQ(pDesktop->m_hWnd, hDesktop);
    EXPECT_EQ(pDesktop->GetSafeHwnd(), hDesktop);
    EXPECT_EQ(CWnd::FromHandle(hDesktop), pDesktop);

    // Another thread gets its own temporary, which goes when that thread ends.
    struct Other
    {
        HWND hDesktop;
        CWnd* pTemp;
        CWnd* pPermanent;
        HWND hPermanent;
    } other{hDesktop, nullptr, nullptr, wnd.m_hWnd};
    CWinThread* pThread = AfxBeginThread(
        [](LPVOID pv) -> UINT
        {
            auto* p = static_cast<Other*>(pv);
            p->pTemp = CWnd::FromHandle(p->hDesktop);
            p->pPermanent = CWnd::FromHandle(p->hPermanent);
            return p->pTemp && p->pTemp->m_hWnd == p->hDesktop ? 0 : 1;
        },
        &other, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
    ASSERT_NE(pThread, nullptr);
    pThread->m_bAutoDelete = FALSE;
    ::ResumeThread(pThread->m_hThread);
    ASSERT_TRUE(afxtest::WaitSignalled(pThread->m_hThread));
    DWORD dwExitCode = 99;
    ::GetExitCodeThread(pThread->m_hThread, &dwExitCode);
    delete pThread;
    EXPECT_EQ(dwExitCode, 0u);
    EXPECT_NE(other.pTemp, pDesktop);
    EXPECT_EQ(other.pPermanent, &wnd);

    // A control that does not exist has no object.
    EXPECT_EQ(wnd.GetDlgItem(1234), nullptr);
}

TEST_F(WindowTest, HandleMapServesManyThreadsAtOnce)
{
    struct Shared
    {
        std::atomic<int> failures{0};
    } shared;
    auto worker = [](LPVOID pv) -> UINT
    {
        auto* p = static_cast<Shared*>(pv);
        HWND hDesktop = ::GetDesktopWindow();
        CWnd* pDesktop = CWnd::FromHandle(hDesktop);
        for (int i = 0; i < 100; ++i)
        {
            Log log;
            bool bDeleted = false;
            auto* pFrame = new CBaseFrame(log, &bDeleted);
            if (!pFrame->CreateHidden())
            {
                ++p->failures;
                delete pFrame;
                continue;
            }
            HWND hWnd = pFrame->m_hWnd;
            if (CWnd::FromHandle(hWnd) != pFrame || CWnd::FromHandle(hDesktop) != pDesktop ||
                ::SendMessageW(hWnd, WM_TEST_BASE, 1, 2) != 3)
                ++p->failures;
            pFrame->DestroyWindow();
            if (!bDeleted || CWnd::FromHandlePermanent(hWnd) != nullptr)
                ++p->failures;
        }
        return 0;
    };
    std::vector<CWinThread*> threads;
    for (int i = 0; i < 4; ++i)
    {
        CWinThread* pThread =
            AfxBeginThread(worker, &shared, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
        ASSERT_NE(pThread, nullptr);
        pThread->m_bAutoDelete = FALSE;
        threads.push_back(pThread);
    }
    for (CWinThread* pThread : threads)
        ::ResumeThread(pThread->m_hThread);
    for (CWinThread* pThread : threads)
    {
        EXPECT_TRUE(afxtest::WaitSignalled(pThread->m_hThread));
        delete pThread;
    }
    EXPECT_EQ(shared.failures.load(), 0);
}

TEST_F(WindowTest, TopMostInsertAfterWindowsMoveTheWindowInAndOutOfTheTopmostBand)
{
    EXPECT_EQ(CWnd::wndTopMost.m_hWnd, HWND_TOPMOST);
    EXPECT_EQ(CWnd::wndNoTopMost.m_hWnd, HWND_NOTOPMOST);

    CPlainWnd wnd;
    ASSERT_TRUE(wnd.CreateHidden());
    ASSERT_TRUE(wnd.SetWindowPos(&CWnd::wndTopMost, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE));
    EXPECT_TRUE(::GetWindowLongW(wnd.m_hWnd, GWL_EXSTYLE) & WS_EX_TOPMOST);
    ASSERT_TRUE(wnd.SetWindowPos(&CWnd::wndNoTopMost, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE));
    EXPECT_FALSE(::GetWindowLongW(wnd.m_hWnd, GWL_EXSTYLE) & WS_EX_TOPMOST);
}

} // namespace
