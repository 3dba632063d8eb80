// Shared helpers of the discovery tests: a fresh simulator session per test, waits that keep the
// test thread's messages flowing, and the outward signs of running job monitors.
#pragma once

#include <windows.h>
#include <winspool.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "quenlo_sim.h"
#include "sim_session.h"
#include "wait_for.h"

namespace disctest
{

inline constexpr WCHAR kTargetDriver[] = L"ORLUME 470 Photo Printer";
inline constexpr WCHAR kOtherDriver[] = L"Generic Text Only";

// Heap blocks obtained with operator new and not yet deleted, in the whole test program.
long LiveAllocations();

// Dispatches whatever is queued for the calling thread.
inline void PumpMessages()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
    {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Polls `condition` until it holds or `ms` have passed, dispatching the thread's messages
// meanwhile.
template <class Condition> bool WaitFor(Condition condition, DWORD ms = qtest::kDeadlineMs)
{
    return qtest::WaitFor(
        [&]
        {
            PumpMessages();
            return condition();
        },
        ms);
}

inline bool HasEnded(HANDLE hThread)
{
    return WaitForSingleObject(hThread, 0) == WAIT_OBJECT_0;
}

inline LONG Obtained(SimResource resource)
{
    SimAccounting a;
    SimGetAccounting(&a);
    return a.lObtained[resource];
}

inline LONG Released(SimResource resource)
{
    SimAccounting a;
    SimGetAccounting(&a);
    return a.lReleased[resource];
}

using qtest::AccountingText;

// Status requests that reached the printer for the job: a running monitor polls its job.
inline DWORD Polls(DWORD dwJobId)
{
    return SimCountEvents(SIM_EV_STATUS_REQUEST, dwJobId);
}

inline bool WaitPolled(DWORD dwJobId)
{
    return WaitFor([=] { return Polls(dwJobId) > 0; });
}

// The printer named by the first status request of the job; empty when there was none.
inline std::wstring PolledPrinter(DWORD dwJobId)
{
    const DWORD total = SimGetEventCount();
    for (DWORD i = 0; i < total; ++i)
    {
        SimEvent e{};
        if (SimGetEvent(i, &e) && e.dwKind == SIM_EV_STATUS_REQUEST && e.dwJobId == dwJobId)
            return e.szPrinter;
    }
    return {};
}

// Dialog windows of this process: every job monitor keeps one until it ends.
inline int CountDialogs()
{
    struct Count
    {
        DWORD dwPid;
        int n;
    } count{GetCurrentProcessId(), 0};
    EnumWindows(
        [](HWND hWnd, LPARAM lParam) -> BOOL
        {
            auto* c = reinterpret_cast<Count*>(lParam);
            DWORD dwPid = 0;
            GetWindowThreadProcessId(hWnd, &dwPid);
            WCHAR szClass[16] = {};
            GetClassNameW(hWnd, szClass, ARRAYSIZE(szClass));
            if (dwPid == c->dwPid && wcscmp(szClass, L"#32770") == 0)
                ++c->n;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&count));
    return count.n;
}

// Threads of this process.
inline int CountThreads()
{
    HANDLE hSnap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (hSnap == INVALID_HANDLE_VALUE)
        return -1;
    int n = 0;
    THREADENTRY32 te{};
    te.dwSize = sizeof(te);
    for (BOOL ok = Thread32First(hSnap, &te); ok; ok = Thread32Next(hSnap, &te))
    {
        if (te.th32OwnerProcessID == GetCurrentProcessId())
            ++n;
    }
    CloseHandle(hSnap);
    return n;
}

// A session name of its own for every test.
inline std::wstring TestSessionName()
{
    return qtest::HashedSessionName(L"disc");
}

// Every test gets its own empty simulator. Afterwards, once the fixture has stopped what it
// started, everything the simulator handed out must have come back, and no job monitor, thread
// or heap block of the test may be left.
class SimSessionTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SimAttach(TestSessionName().c_str()));
        SimReset();
        m_nThreads = CountThreads();
        m_nLive = LiveAllocations();
    }

    void TearDown() override
    {
        EXPECT_TRUE(SimIsBalanced()) << AccountingText();
        EXPECT_EQ(0, CountDialogs());
        // Reporting a failure costs the program a console thread and heap blocks of its own, so
        // these counts only tell something while the test passes.
        if (!HasFailure())
        {
            EXPECT_TRUE(WaitFor([&] { return CountThreads() <= m_nThreads; }))
                << "threads left: " << CountThreads() - m_nThreads;
            EXPECT_EQ(m_nLive, LiveAllocations()) << "heap blocks left";
        }
    }

    int m_nThreads = 0;
    long m_nLive = 0;
};

} // namespace disctest
