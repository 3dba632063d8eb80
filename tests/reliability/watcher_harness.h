// The printer watcher and everything it starts, run inside the test program against the printer
// simulator, with a stand-in for the hidden main window.
#pragma once

#include <afxwin.h>

#include "PrinterWatcher.h"
#include "reliability_util.h"

#include <atomic>
#include <memory>
#include <thread>

namespace rel
{

// The hidden main window's stand-in: a window on a thread of its own that counts the WM_CLOSE
// requests it gets and otherwise does nothing.
class CMainWindowStub
{
public:
    CMainWindowStub()
    {
        std::atomic<bool> bReady = false;
        m_thread = std::thread(
            [this, &bReady]
            {
                WNDCLASSW wc{};
                wc.lpfnWndProc = Proc;
                wc.hInstance = GetModuleHandleW(nullptr);
                wc.lpszClassName = L"ReliabilityMainWindow";
                RegisterClassW(&wc);
                m_hWnd = CreateWindowExW(0, wc.lpszClassName, L"", WS_OVERLAPPED, 0, 0, 10, 10,
                                         nullptr, nullptr, wc.hInstance, nullptr);
                SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
                m_dwThreadId = GetCurrentThreadId();
                bReady = true;
                MSG msg;
                while (GetMessageW(&msg, nullptr, 0, 0) > 0)
                    DispatchMessageW(&msg);
                DestroyWindow(m_hWnd);
            });
        while (!bReady)
            Sleep(1);
    }
    ~CMainWindowStub()
    {
        PostThreadMessageW(m_dwThreadId, WM_QUIT, 0, 0);
        m_thread.join();
    }
    CMainWindowStub(const CMainWindowStub&) = delete;
    CMainWindowStub& operator=(const CMainWindowStub&) = delete;

    HWND Hwnd() const { return m_hWnd; }
    int Closes() const { return m_nCloses; }

private:
    static LRESULT CALLBACK Proc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
    {
        if (uMsg == WM_CLOSE)
        {
            if (auto* p =
                    reinterpret_cast<CMainWindowStub*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA)))
                ++p->m_nCloses;
            return 0;
        }
        return DefWindowProcW(hWnd, uMsg, wParam, lParam);
    }

    std::thread m_thread;
    HWND m_hWnd = nullptr;
    DWORD m_dwThreadId = 0;
    std::atomic<int> m_nCloses = 0;
};

// PrinterWatchThreadProc on a thread of its own, started and stopped as the application does it.
class CWatcher
{
public:
    explicit CWatcher(HWND hMainWnd)
    {
        m_params.hStopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        m_params.hMainWnd = hMainWnd;
        m_pThread = AfxBeginThread(PrinterWatchThreadProc, &m_params, THREAD_PRIORITY_NORMAL, 0,
                                   CREATE_SUSPENDED, nullptr);
        if (m_pThread != nullptr)
        {
            m_pThread->m_bAutoDelete = FALSE;
            ResumeThread(m_pThread->m_hThread);
        }
    }
    ~CWatcher() { Stop(); }
    CWatcher(const CWatcher&) = delete;
    CWatcher& operator=(const CWatcher&) = delete;

    bool Started() const { return m_pThread != nullptr; }
    bool Ended() const
    {
        return m_pThread == nullptr ||
               WaitForSingleObject(m_pThread->m_hThread, 0) == WAIT_OBJECT_0;
    }
    // Waits for the thread to end by itself.
    bool WaitEnded(DWORD ms = kDeadlineMs) const
    {
        return m_pThread == nullptr ||
               WaitForSingleObject(m_pThread->m_hThread, ms) == WAIT_OBJECT_0;
    }
    // Sets the stop event and waits for the thread. False when it did not end: it hangs (its
    // objects are then left alone).
    bool Stop(DWORD ms = kDeadlineMs)
    {
        if (m_pThread == nullptr)
            return true;
        SetEvent(m_params.hStopEvent);
        if (WaitForSingleObject(m_pThread->m_hThread, ms) != WAIT_OBJECT_0)
            return false;
        delete m_pThread;
        m_pThread = nullptr;
        CloseHandle(m_params.hStopEvent);
        m_params.hStopEvent = nullptr;
        return true;
    }

private:
    WatcherParams m_params{};
    CWinThread* m_pThread = nullptr;
};

// Every test: its own empty session with the target driver and `Printers()` printers named
// "P1", "P2", ...; the watcher is started by the test, and stopped at its end if still running.
// Afterwards no dialog may be left, and, unless the test said otherwise, everything the simulator
// handed out must have come back.
class WatcherTest : public ::testing::Test
{
protected:
    virtual int Printers() const { return 2; }

    void SetUp() override
    {
        ASSERT_TRUE(SimAttach(TestSessionName().c_str()));
        SimReset();
        ASSERT_TRUE(SimAddDriver(kTargetDriver));
        for (int i = 1; i <= Printers(); ++i)
            ASSERT_TRUE(SimAddPrinter(Printer(i).c_str(), kTargetDriver));
        m_main = std::make_unique<CMainWindowStub>();
    }

    void TearDown() override
    {
        if (m_watcher)
        {
            EXPECT_TRUE(m_watcher->Stop()) << "the watcher did not end after its stop request";
        }
        SimClearFaults();
        EXPECT_TRUE(WaitFor([] { return Dialogs().empty(); })) << "dialogs left";
        if (m_bExpectBalanced)
        {
            EXPECT_TRUE(SimIsBalanced()) << AccountingText();
        }
        m_watcher.reset();
        m_main.reset();
    }

    static std::wstring Printer(int i) { return L"P" + std::to_wstring(i); }

    // Starts the watcher; true once it watches the spooler (its change registration is open).
    bool StartWatcher()
    {
        m_watcher = std::make_unique<CWatcher>(m_main->Hwnd());
        return m_watcher->Started() &&
               WaitFor([&] { return SimCountRegistrations() == 1 || m_watcher->Ended(); }) &&
               SimCountRegistrations() == 1;
    }

    // Adds a printing job and returns its dialog once the printer was first asked about it (null
    // if that did not happen). Jobs are added one at a time, so the one new dialog is the job's.
    HWND AddWatchedJob(DWORD dwJobId, int nPrinter, const oracle::Values* pValues = nullptr)
    {
        const std::vector<HWND> before = Dialogs();
        const DWORD dwPolls = Polls(dwJobId); // an earlier job may have had the id
        if (!SimAddJob(Printer(nPrinter).c_str(), dwJobId, JOB_STATUS_PRINTING, nullptr))
            return nullptr;
        if (pValues != nullptr)
            SetValues(dwJobId, *pValues);
        if (!WaitPolls(dwJobId, dwPolls + 1))
            return nullptr;
        for (HWND h : Dialogs())
        {
            if (std::find(before.begin(), before.end(), h) == before.end())
                return h;
        }
        return nullptr;
    }

    std::unique_ptr<CMainWindowStub> m_main;
    std::unique_ptr<CWatcher> m_watcher;
    bool m_bExpectBalanced = true;
};

} // namespace rel
