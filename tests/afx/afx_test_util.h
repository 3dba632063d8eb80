// Helpers shared by the framework tests.
#pragma once

#include <afxwin.h>

#include <gtest/gtest.h>

namespace afxtest
{

inline constexpr wchar_t kFrameClass[] = L"AfxTestFrame";

// The test frames' window class, served by the framework's window procedure.
inline void RegisterFrameClass()
{
    WNDCLASS wc{};
    wc.lpfnWndProc = AfxGetAfxWndProc();
    wc.hInstance = AfxGetInstanceHandle();
    wc.lpszClassName = kFrameClass;
    ASSERT_TRUE(AfxRegisterClass(&wc));
}

inline void DrainMessages()
{
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
    {
    }
}

// Dispatches this thread's messages until done() holds; false after 20 s.
template <class Pred> bool PumpUntil(Pred done)
{
    const ULONGLONG deadline = ::GetTickCount64() + 20000;
    while (!done())
    {
        if (::GetTickCount64() > deadline)
            return false;
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        ::Sleep(5);
    }
    return true;
}

// Waits for a handle without a message loop; false after 20 s.
inline bool WaitSignalled(HANDLE h)
{
    return ::WaitForSingleObject(h, 20000) == WAIT_OBJECT_0;
}

// Ends the calling thread's message loop with kLoopTimedOut if it still runs after 20 s, so a
// loop that never ends fails the test instead of hanging it.
inline constexpr int kLoopTimedOut = 0x7E57;

class LoopDeadline
{
public:
    LoopDeadline() : m_nTimer(::SetTimer(nullptr, 0, 20000, &LoopDeadline::OnTimer)) {}
    ~LoopDeadline() { ::KillTimer(nullptr, m_nTimer); }
    LoopDeadline(const LoopDeadline&) = delete;
    LoopDeadline& operator=(const LoopDeadline&) = delete;

private:
    static void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD) { ::PostQuitMessage(kLoopTimedOut); }

    UINT_PTR m_nTimer;
};

// Each test starts and ends with an empty message queue: a destroyed main window leaves WM_QUIT.
class AfxTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RegisterFrameClass();
        DrainMessages();
    }
    void TearDown() override
    {
        DrainMessages();
        EXPECT_EQ(AfxGetApp(), nullptr);
    }
};

} // namespace afxtest
