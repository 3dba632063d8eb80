// Threads started by AfxBeginThread: worker and user-interface forms, the program's start and
// stop pattern, exit codes and auto-delete.
#include "afx_test_util.h"

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace
{

using afxtest::kFrameClass;
using Log = std::vector<std::string>;

// A user-interface thread that records what the framework calls, across threads.
class CLogThread : public CWinThread
{
    DECLARE_DYNCREATE(CLogThread)
public:
    ~CLogThread() override { ++s_nDeleted; }

    static void Reset(BOOL bInitResult = TRUE, bool bMainFrame = false)
    {
        std::lock_guard lock(s_mutex);
        s_log.clear();
        s_nDeleted = 0;
        s_bInitResult = bInitResult;
        s_bMainFrame = bMainFrame;
    }
    static Log Snapshot()
    {
        std::lock_guard lock(s_mutex);
        return s_log;
    }
    static bool Logged(const std::string& entry)
    {
        std::lock_guard lock(s_mutex);
        for (const std::string& e : s_log)
        {
            if (e == entry)
                return true;
        }
        return false;
    }

    static inline std::atomic<int> s_nDeleted{0};
    static inline std::atomic<HWND> s_hMainWnd{nullptr};
    // When set, InitInstance waits for it after logging.
    static inline std::atomic<HANDLE> s_hInitGate{nullptr};

    BOOL InitInstance() override
    {
        Add(AfxGetThread() == this && m_nThreadID == ::GetCurrentThreadId() ? "init"
                                                                            : "init elsewhere");
        if (HANDLE hGate = s_hInitGate)
            ::WaitForSingleObject(hGate, 20000);
        if (s_bMainFrame)
        {
            m_pMainWnd = new CTrackedFrame();
            s_hMainWnd = m_pMainWnd->m_hWnd;
        }
        return s_bInitResult;
    }
    int Run() override
    {
        Add("run");
        return CWinThread::Run();
    }
    int ExitInstance() override
    {
        const int nResult = CWinThread::ExitInstance();
        Add("exit " + std::to_string(nResult));
        return nResult;
    }

protected:
    CLogThread() = default;

    class CTrackedFrame : public CFrameWnd
    {
    public:
        CTrackedFrame() { Create(kFrameClass, L"thread frame", WS_OVERLAPPEDWINDOW, RECT{}); }
        ~CTrackedFrame() override { Add("frame deleted"); }
    };

    static void Add(const std::string& entry)
    {
        std::lock_guard lock(s_mutex);
        s_log.push_back(entry);
    }

    static inline std::mutex s_mutex;
    static inline Log s_log;
    static inline BOOL s_bInitResult = TRUE;
    static inline bool s_bMainFrame = false;
};
IMPLEMENT_DYNCREATE(CLogThread, CWinThread)

// Posts a thread message, retrying until the thread takes it; false after 20 s.
bool PostToThread(DWORD nThreadID, UINT nMsg, WPARAM wParam)
{
    const ULONGLONG deadline = ::GetTickCount64() + 20000;
    while (!::PostThreadMessageW(nThreadID, nMsg, wParam, 0))
    {
        if (::GetTickCount64() > deadline)
            return false;
        ::Sleep(5);
    }
    return true;
}

template <class Pred> bool WaitUntil(Pred done)
{
    const ULONGLONG deadline = ::GetTickCount64() + 20000;
    while (!done())
    {
        if (::GetTickCount64() > deadline)
            return false;
        ::Sleep(5);
    }
    return true;
}

DWORD ExitCodeOf(HANDLE hThread)
{
    DWORD dwExitCode = 0xDEAD;
    ::GetExitCodeThread(hThread, &dwExitCode);
    return dwExitCode;
}

struct WorkerState
{
    std::atomic<bool> bStarted{false};
    UINT nResult = 0;
};

UINT __cdecl WorkerProc(LPVOID pParam)
{
    auto* pState = static_cast<WorkerState*>(pParam);
    pState->bStarted = true;
    return pState->nResult;
}

TEST(WorkerThread, StartsSuspendedWithItsPriorityAndEndsWithTheProcedureResult)
{
    struct Case
    {
        int nPriority;
        UINT nStackSize;
        UINT nResult;
    };
    const Case cases[] = {
        {THREAD_PRIORITY_NORMAL, 0, 0},
        {THREAD_PRIORITY_BELOW_NORMAL, 64 * 1024, 17},
        {THREAD_PRIORITY_ABOVE_NORMAL, 0, 0xFFFFFFFF},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.nPriority);
        WorkerState state;
        state.nResult = c.nResult;
        CWinThread* pThread =
            AfxBeginThread(WorkerProc, &state, c.nPriority, c.nStackSize, CREATE_SUSPENDED);
        ASSERT_NE(pThread, nullptr);
        EXPECT_TRUE(pThread->m_bAutoDelete);
        EXPECT_NE(pThread->m_nThreadID, 0u);
        EXPECT_EQ(::GetThreadPriority(pThread->m_hThread), c.nPriority);

        // The program's pattern: auto-delete off while suspended, resume, wait, delete.
        pThread->m_bAutoDelete = FALSE;
        EXPECT_FALSE(state.bStarted);
        EXPECT_EQ(::ResumeThread(pThread->m_hThread), 1u); // it was suspended once
        ASSERT_TRUE(afxtest::WaitSignalled(pThread->m_hThread));
        EXPECT_TRUE(state.bStarted);
        EXPECT_EQ(ExitCodeOf(pThread->m_hThread), c.nResult);
        delete pThread;
    }
}

TEST(WorkerThread, NullProcedureStartsNothing)
{
    EXPECT_EQ(AfxBeginThread(static_cast<AFX_THREADPROC>(nullptr), nullptr), nullptr);
}

TEST(UiThread, RunsInitInstanceTheLoopAndExitInstanceWhoseResultIsTheExitCode)
{
    CLogThread::Reset();
    CWinThread* pThread = AfxBeginThread(RUNTIME_CLASS(CLogThread), THREAD_PRIORITY_NORMAL, 0,
                                         CREATE_SUSPENDED, nullptr);
    ASSERT_NE(pThread, nullptr);
    EXPECT_EQ(pThread->GetRuntimeClass(), RUNTIME_CLASS(CLogThread));
    pThread->m_bAutoDelete = FALSE;
    EXPECT_EQ(CLogThread::Snapshot(), Log{});
    EXPECT_EQ(::ResumeThread(pThread->m_hThread), 1u);

    ASSERT_TRUE(WaitUntil([] { return CLogThread::Logged("run"); }));
    ASSERT_TRUE(PostToThread(pThread->m_nThreadID, WM_QUIT, 5));
    ASSERT_TRUE(afxtest::WaitSignalled(pThread->m_hThread));
    EXPECT_EQ(ExitCodeOf(pThread->m_hThread), 5u);
    EXPECT_EQ(CLogThread::Snapshot(), (Log{"init", "run", "exit 5"}));

    // Auto-delete off: the object outlives its thread until its owner deletes it.
    EXPECT_EQ(CLogThread::s_nDeleted.load(), 0);
    delete pThread;
    EXPECT_EQ(CLogThread::s_nDeleted.load(), 1);
}

TEST(UiThread, QuitPostedBeforeTheLoopRunsIsKept)
{
    // The thread is held inside InitInstance, before it ever asks for a message: a quit posted
    // then must already find its message queue.
    CLogThread::Reset();
    HANDLE hGate = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(hGate, nullptr);
    CLogThread::s_hInitGate = hGate;
    CWinThread* pThread = AfxBeginThread(RUNTIME_CLASS(CLogThread), THREAD_PRIORITY_NORMAL, 0,
                                         CREATE_SUSPENDED, nullptr);
    ASSERT_NE(pThread, nullptr);
    pThread->m_bAutoDelete = FALSE;
    ::ResumeThread(pThread->m_hThread);
    EXPECT_TRUE(WaitUntil([] { return CLogThread::Logged("init"); }));
    EXPECT_TRUE(::PostThreadMessageW(pThread->m_nThreadID, WM_QUIT, 3, 0));
    ::SetEvent(hGate);

    EXPECT_TRUE(afxtest::WaitSignalled(pThread->m_hThread));
    EXPECT_EQ(ExitCodeOf(pThread->m_hThread), 3u);
    EXPECT_EQ(CLogThread::Snapshot(), (Log{"init", "run", "exit 3"}));
    delete pThread;
    CLogThread::s_hInitGate = nullptr;
    ::CloseHandle(hGate);
}

TEST(UiThread, FailedInitInstanceGoesStraightToExitInstance)
{
    CLogThread::Reset(FALSE);
    CWinThread* pThread = AfxBeginThread(RUNTIME_CLASS(CLogThread), THREAD_PRIORITY_NORMAL, 0,
                                         CREATE_SUSPENDED, nullptr);
    ASSERT_NE(pThread, nullptr);
    pThread->m_bAutoDelete = FALSE;
    ::ResumeThread(pThread->m_hThread);
    ASSERT_TRUE(afxtest::WaitSignalled(pThread->m_hThread));
    EXPECT_EQ(ExitCodeOf(pThread->m_hThread), 0u);
    EXPECT_EQ(CLogThread::Snapshot(), (Log{"init", "exit 0"}));
    delete pThread;
}

TEST(UiThread, AutoDeleteOnDeletesTheObjectWhenTheThreadEnds)
{
    CLogThread::Reset();
    CWinThread* pThread = AfxBeginThread(RUNTIME_CLASS(CLogThread), THREAD_PRIORITY_NORMAL, 0,
                                         CREATE_SUSPENDED, nullptr);
    ASSERT_NE(pThread, nullptr);
    ASSERT_TRUE(pThread->m_bAutoDelete);
    HANDLE hThread = nullptr;
    ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), pThread->m_hThread, ::GetCurrentProcess(),
                                  &hThread, 0, FALSE, DUPLICATE_SAME_ACCESS));
    const DWORD nThreadID = pThread->m_nThreadID;
    ::ResumeThread(hThread);
    pThread = nullptr; // the thread owns it now

    ASSERT_TRUE(PostToThread(nThreadID, WM_QUIT, 9));
    ASSERT_TRUE(afxtest::WaitSignalled(hThread));
    EXPECT_EQ(ExitCodeOf(hThread), 9u);
    EXPECT_EQ(CLogThread::s_nDeleted.load(), 1);
    ::CloseHandle(hThread);
}

TEST(UiThread, DestroyingTheThreadsMainWindowEndsItsLoop)
{
    CLogThread::Reset(TRUE, true);
    CLogThread::s_hMainWnd = nullptr;
    CWinThread* pThread = AfxBeginThread(RUNTIME_CLASS(CLogThread), THREAD_PRIORITY_NORMAL, 0,
                                         CREATE_SUSPENDED, nullptr);
    ASSERT_NE(pThread, nullptr);
    pThread->m_bAutoDelete = FALSE;
    ::ResumeThread(pThread->m_hThread);
    ASSERT_TRUE(WaitUntil([] { return CLogThread::s_hMainWnd.load() != nullptr; }));

    ::PostMessageW(CLogThread::s_hMainWnd, WM_CLOSE, 0, 0);
    ASSERT_TRUE(afxtest::WaitSignalled(pThread->m_hThread));
    EXPECT_EQ(ExitCodeOf(pThread->m_hThread), 0u);
    EXPECT_EQ(CLogThread::Snapshot(), (Log{"init", "run", "frame deleted", "exit 0"}));
    EXPECT_EQ(pThread->m_pMainWnd, nullptr);
    delete pThread;
}

TEST(UiThread, ClassesNotDerivedFromCWinThreadStartNothing)
{
    EXPECT_EQ(AfxBeginThread(RUNTIME_CLASS(CWnd)), nullptr);
    EXPECT_EQ(AfxBeginThread(static_cast<CRuntimeClass*>(nullptr)), nullptr);
    // A thread class without dynamic creation.
    EXPECT_EQ(AfxBeginThread(RUNTIME_CLASS(CWinThread)), nullptr);
}

} // namespace
