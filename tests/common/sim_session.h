// A simulator session per test and what the simulator's accounting says, for failure messages.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "quenlo_sim.h"

namespace qtest
{

// "<prefix>." and a hash of the running test's full name, which may be longer than a session
// name can be.
inline std::wstring HashedSessionName(LPCWSTR prefix)
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string name = std::string(info->test_suite_name()) + "." + info->name();
    unsigned long long hash = 14695981039346656037ull;
    for (const char c : name)
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    WCHAR szName[64];
    swprintf(szName, ARRAYSIZE(szName), L"%ls.%016llx", prefix, hash);
    return szName;
}

inline std::string AccountingText()
{
    static const char* const names[SIM_RES_COUNT] = {
        "printer handles", "change handles", "notify blocks", "IBidiSpl",
        "IBidiRequest",    "bindings",       "task memory"};
    SimAccounting a{};
    SimGetAccounting(&a);
    std::string text = "obtained/released:";
    for (DWORD r = 0; r < SIM_RES_COUNT; ++r)
        text += std::string(" ") + names[r] + " " + std::to_string(a.lObtained[r]) + "/" +
                std::to_string(a.lReleased[r]);
    return text;
}

} // namespace qtest
