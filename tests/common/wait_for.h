// Waiting in tests: a condition looked at until it holds or a generous deadline passes.
#pragma once

#include <windows.h>

namespace qtest
{

// A bound for anything that should happen at once; reached only when something hangs.
inline constexpr DWORD kDeadlineMs = 20000;

// Looks at `condition` every 10 ms until it holds or `ms` have passed; the last look decides.
template <class Condition> bool WaitFor(Condition condition, DWORD ms = kDeadlineMs)
{
    const ULONGLONG end = GetTickCount64() + ms;
    for (;;)
    {
        if (condition())
            return true;
        if (GetTickCount64() > end)
            return condition();
        Sleep(10);
    }
}

} // namespace qtest
