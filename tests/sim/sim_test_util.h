// Shared helpers of the simulator tests: a fresh session per test, COM references, polling.
#pragma once

#include <windows.h>
#include <winspool.h>
#include <bidispl.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "outside.h"
#include "quenlo_sim.h"
#include "wait_for.h"

namespace simtest
{

// The session of the running test: "<suite>.<test>".
inline std::wstring TestSessionName()
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : name)
        if (c == '/')
            c = '.';
    return std::wstring(name.begin(), name.end());
}

// Every test gets its own, empty session.
class SimTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_session = TestSessionName();
        ASSERT_TRUE(SimAttach(m_session.c_str()));
        SimReset();
    }
    std::wstring m_session;
};

// One owned COM reference.
template <typename T> class ComRef
{
public:
    ComRef() = default;
    ~ComRef() { Reset(); }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    T* operator->() const { return m_p; }
    T* Get() const { return m_p; }
    T** Put()
    {
        Reset();
        return &m_p;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }
    void Reset()
    {
        if (m_p != nullptr)
            m_p->Release();
        m_p = nullptr;
    }

private:
    T* m_p = nullptr;
};

using qtest::WaitFor;

using outside::ExeDir;

struct ProcessResult
{
    DWORD dwExitCode = 0xFFFFFFFF;
    std::string output; // stdout and stderr
};

// Runs a program with `args`, extra environment variables ("NAME=value") and `input` on its
// standard input, in `dir` (or ours), and collects its output.
inline ProcessResult RunProgram(const std::wstring& exe, const std::wstring& args,
                                const std::vector<std::wstring>& env = {},
                                const std::string& input = {}, const std::wstring& dir = {})
{
    ProcessResult result;
    SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
    HANDLE outRead = nullptr, outWrite = nullptr, inRead = nullptr, inWrite = nullptr;
    if (!CreatePipe(&outRead, &outWrite, &sa, 0) || !CreatePipe(&inRead, &inWrite, &sa, 0))
        return result;
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);

    // The environment: ours, with `env` replacing variables of the same name.
    std::vector<std::wstring> vars;
    if (LPWCH block = GetEnvironmentStringsW())
    {
        for (LPWCH p = block; *p != L'\0'; p += wcslen(p) + 1)
            vars.emplace_back(p);
        FreeEnvironmentStringsW(block);
    }
    for (const std::wstring& e : env)
    {
        const std::wstring name = e.substr(0, e.find(L'=') + 1);
        std::erase_if(vars,
                      [&](const std::wstring& v)
                      {
                          return CompareStringOrdinal(v.c_str(), static_cast<int>(name.size()),
                                                      name.c_str(), static_cast<int>(name.size()),
                                                      TRUE) == CSTR_EQUAL;
                      });
        vars.push_back(e);
    }
    std::wstring envBlock;
    for (const std::wstring& v : vars)
        envBlock += v + L'\0';
    envBlock += L'\0';

    std::wstring cmd = L"\"" + exe + L"\" " + args;
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = inRead;
    si.hStdOutput = outWrite;
    si.hStdError = outWrite;
    PROCESS_INFORMATION pi{};
    const BOOL started =
        CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT,
                       envBlock.data(), dir.empty() ? nullptr : dir.c_str(), &si, &pi);
    CloseHandle(outWrite);
    CloseHandle(inRead);
    if (started)
    {
        DWORD written = 0;
        if (!input.empty())
            WriteFile(inWrite, input.data(), static_cast<DWORD>(input.size()), &written, nullptr);
    }
    CloseHandle(inWrite);
    if (!started)
    {
        CloseHandle(outRead);
        return result;
    }
    char buf[4096];
    DWORD n = 0;
    while (ReadFile(outRead, buf, sizeof(buf), &n, nullptr) && n > 0)
        result.output.append(buf, n);
    WaitForSingleObject(pi.hProcess, INFINITE);
    GetExitCodeProcess(pi.hProcess, &result.dwExitCode);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    CloseHandle(outRead);
    return result;
}

// Lines of a program's output, without line ends.
inline std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size())
    {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

} // namespace simtest
