#include "process.h"

#include "outside.h"

#include "quenlo_sim.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

namespace bench
{

namespace
{

constexpr WCHAR kSessionVariable[] = L"QUENLO_SIM_SESSION=";

// Our environment with QUENLO_SIM_SESSION replaced.
std::wstring EnvironmentFor(const std::wstring& session)
{
    std::wstring block;
    const size_t cchName = std::wcslen(kSessionVariable);
    if (LPWCH pEnv = GetEnvironmentStringsW())
    {
        for (LPWCH p = pEnv; *p != L'\0'; p += std::wcslen(p) + 1)
        {
            if (CompareStringOrdinal(p, static_cast<int>(cchName), kSessionVariable,
                                     static_cast<int>(cchName), TRUE) == CSTR_EQUAL)
                continue;
            block += p;
            block += L'\0';
        }
        FreeEnvironmentStringsW(pEnv);
    }
    block += kSessionVariable + session;
    block += L'\0';
    block += L'\0';
    return block;
}

// NtQuerySystemInformation(SystemHandleInformation): one entry per open handle of the system.
constexpr ULONG kSystemHandleInformation = 16;
constexpr LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);
struct SystemHandleEntry
{
    ULONG OwnerPid;
    BYTE ObjectType;
    BYTE HandleFlags;
    USHORT HandleValue;
    PVOID ObjectPointer;
    ULONG AccessMask;
};
struct SystemHandleTable
{
    ULONG Count;
    SystemHandleEntry Handles[1];
};
using NtQuerySystemInformationFn = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);

DWORD CountHandlesInSystemTable(DWORD dwPid)
{
    const FARPROC pProc =
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation");
    if (pProc == nullptr)
        return 0;
    const auto pQuery =
        reinterpret_cast<NtQuerySystemInformationFn>(reinterpret_cast<void*>(pProc));
    std::vector<BYTE> buffer(1 << 18);
    LONG status = 0;
    for (;;)
    {
        ULONG cbNeeded = 0;
        status = pQuery(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()),
                        &cbNeeded);
        if (status != kStatusInfoLengthMismatch || buffer.size() >= (1u << 28))
            break;
        buffer.resize(buffer.size() * 2);
    }
    if (status != 0)
        return 0;
    const auto* pTable = reinterpret_cast<const SystemHandleTable*>(buffer.data());
    DWORD n = 0;
    for (ULONG i = 0; i < pTable->Count; ++i)
    {
        if (pTable->Handles[i].OwnerPid == dwPid)
            ++n;
    }
    return n;
}

// A whole small file (from /proc), or empty.
std::string ReadSmallFile(const std::wstring& path)
{
    HANDLE hFile = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return {};
    std::string text;
    char buffer[4096];
    DWORD cbRead = 0;
    while (ReadFile(hFile, buffer, sizeof(buffer), &cbRead, nullptr) && cbRead > 0)
        text.append(buffer, cbRead);
    CloseHandle(hFile);
    return text;
}

ULONGLONG StatusField(const std::string& status, const char* pszName)
{
    const size_t pos = status.find(pszName);
    if (pos == std::string::npos)
        return 0;
    return std::strtoull(status.c_str() + pos + std::strlen(pszName), nullptr, 10);
}

} // namespace

ULONGLONG Now()
{
    FILETIME ft;
    GetSystemTimePreciseAsFileTime(&ft);
    return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

CQuenloProcess::~CQuenloProcess()
{
    Kill();
}

bool CQuenloProcess::Start(const std::wstring& exe, const std::wstring& session)
{
    Kill();
    m_exe = exe;
    m_dwHostPid = 0;
    std::wstring env = EnvironmentFor(session);
    std::wstring cmd = L"\"" + exe + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    if (!CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE,
                        CREATE_UNICODE_ENVIRONMENT, env.data(), nullptr, &si, &m_pi))
    {
        m_pi = PROCESS_INFORMATION{};
        return false;
    }
    return true;
}

bool CQuenloProcess::WaitWatching(DWORD dwTimeoutMs) const
{
    const ULONGLONG ullEnd = GetTickCount64() + dwTimeoutMs;
    while (GetTickCount64() < ullEnd)
    {
        if (!Running())
            return false;
        if (SimCountRegistrations() == 1)
            return true;
        Sleep(5);
    }
    return false;
}

bool CQuenloProcess::Running() const
{
    return m_pi.hProcess != nullptr && WaitForSingleObject(m_pi.hProcess, 0) == WAIT_TIMEOUT;
}

HWND CQuenloProcess::MainWindow() const
{
    const std::vector<HWND> windows =
        outside::TopWindows(m_pi.dwProcessId, outside::kFrameClass, nullptr);
    return windows.empty() ? nullptr : windows.front();
}

double CQuenloProcess::Close(DWORD dwTimeoutMs)
{
    const HWND hMain = MainWindow();
    if (hMain == nullptr)
        return -1.0;
    const ULONGLONG ullPosted = Now();
    if (!PostMessageW(hMain, WM_CLOSE, 0, 0))
        return -1.0;
    if (WaitForSingleObject(m_pi.hProcess, dwTimeoutMs) != WAIT_OBJECT_0)
        return -1.0;
    const ULONGLONG ullGone = Now();
    // The process end time is more exact than our wake-up.
    FILETIME ftCreate, ftExit, ftKernel, ftUser;
    if (GetProcessTimes(m_pi.hProcess, &ftCreate, &ftExit, &ftKernel, &ftUser))
    {
        const ULONGLONG ullExit =
            (static_cast<ULONGLONG>(ftExit.dwHighDateTime) << 32) | ftExit.dwLowDateTime;
        if (ullExit >= ullPosted && ullExit <= ullGone)
            return TicksToMs(static_cast<LONGLONG>(ullExit - ullPosted));
    }
    return TicksToMs(static_cast<LONGLONG>(ullGone - ullPosted));
}

DWORD CQuenloProcess::ExitCode() const
{
    DWORD dwCode = STILL_ACTIVE;
    if (m_pi.hProcess != nullptr)
        GetExitCodeProcess(m_pi.hProcess, &dwCode);
    return dwCode;
}

void CQuenloProcess::Kill()
{
    if (m_pi.hProcess == nullptr)
        return;
    if (Running())
    {
        TerminateProcess(m_pi.hProcess, 0xDEAD);
        WaitForSingleObject(m_pi.hProcess, 10000);
    }
    CloseHandle(m_pi.hThread);
    CloseHandle(m_pi.hProcess);
    m_pi = PROCESS_INFORMATION{};
}

bool CQuenloProcess::CpuTime(ULONGLONG* pTicks) const
{
    FILETIME ftCreate, ftExit, ftKernel, ftUser;
    if (!GetProcessTimes(m_pi.hProcess, &ftCreate, &ftExit, &ftKernel, &ftUser))
        return false;
    const auto ticks = [](const FILETIME& ft)
    { return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime; };
    *pTicks = ticks(ftKernel) + ticks(ftUser);
    return true;
}

DWORD CQuenloProcess::ThreadCount() const
{
    HANDLE hSnap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (hSnap == INVALID_HANDLE_VALUE)
        return 0;
    DWORD n = 0;
    THREADENTRY32 te{};
    te.dwSize = sizeof(te);
    for (BOOL b = Thread32First(hSnap, &te); b; b = Thread32Next(hSnap, &te))
    {
        if (te.th32OwnerProcessID == m_pi.dwProcessId)
            ++n;
    }
    CloseHandle(hSnap);
    return n;
}

DWORD CQuenloProcess::HandleCount(bool* pFromSystemTable) const
{
    DWORD n = 0;
    if (pFromSystemTable != nullptr)
        *pFromSystemTable = false;
    if (GetProcessHandleCount(m_pi.hProcess, &n) && n != 0)
        return n;
    // A running process always holds handles; Wine answers 0 for every process.
    if (pFromSystemTable != nullptr)
        *pFromSystemTable = true;
    return CountHandlesInSystemTable(m_pi.dwProcessId);
}

bool CQuenloProcess::Memory(MemoryCounters* pCounters) const
{
    PROCESS_MEMORY_COUNTERS_EX pmc{};
    pmc.cb = sizeof(pmc);
    if (!GetProcessMemoryInfo(m_pi.hProcess, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc),
                              sizeof(pmc)))
        return false;
    pCounters->cbWorkingSet = pmc.WorkingSetSize;
    pCounters->cbPagefile = pmc.PagefileUsage;
    pCounters->cbPrivate = pmc.PrivateUsage;
    return true;
}

std::vector<HWND> CQuenloProcess::Dialogs() const
{
    return outside::TopWindows(m_pi.dwProcessId, outside::kDialogClass, nullptr);
}

DWORD CQuenloProcess::HostPid() const
{
    if (m_dwHostPid != 0 || !Running())
        return m_dwHostPid;
    // Only one copy of the program runs in a Wine session; its command line starts with its path.
    WIN32_FIND_DATAW fd;
    HANDLE hFind = FindFirstFileW(L"Z:\\proc\\*", &fd);
    if (hFind == INVALID_HANDLE_VALUE)
        return 0;
    do
    {
        if (fd.cFileName[0] < L'0' || fd.cFileName[0] > L'9')
            continue;
        const std::string cmdline =
            ReadSmallFile(std::wstring(L"Z:\\proc\\") + fd.cFileName + L"\\cmdline");
        const std::wstring first(cmdline.c_str(), cmdline.c_str() + std::strlen(cmdline.c_str()));
        if (!first.empty() &&
            CompareStringOrdinal(first.c_str(), -1, m_exe.c_str(), -1, TRUE) == CSTR_EQUAL)
        {
            m_dwHostPid = static_cast<DWORD>(std::wcstoul(fd.cFileName, nullptr, 10));
            break;
        }
    } while (FindNextFileW(hFind, &fd));
    FindClose(hFind);
    return m_dwHostPid;
}

bool CQuenloProcess::Host(HostCounters* pCounters) const
{
    *pCounters = HostCounters{};
    const DWORD dwHostPid = HostPid();
    if (dwHostPid == 0)
        return false;
    const std::wstring taskDir = L"Z:\\proc\\" + std::to_wstring(dwHostPid) + L"\\task\\";
    WIN32_FIND_DATAW fd;
    HANDLE hFind = FindFirstFileW((taskDir + L"*").c_str(), &fd);
    if (hFind == INVALID_HANDLE_VALUE)
        return false;
    do
    {
        if (fd.cFileName[0] < L'0' || fd.cFileName[0] > L'9')
            continue;
        const std::string schedstat = ReadSmallFile(taskDir + fd.cFileName + L"\\schedstat");
        const std::string status = ReadSmallFile(taskDir + fd.cFileName + L"\\status");
        if (schedstat.empty() || status.empty())
            continue; // ended meanwhile
        pCounters->ullCpuNs += std::strtoull(schedstat.c_str(), nullptr, 10);
        pCounters->ullVoluntarySwitches += StatusField(status, "\nvoluntary_ctxt_switches:");
        pCounters->ullInvoluntarySwitches += StatusField(status, "nonvoluntary_ctxt_switches:");
        ++pCounters->dwThreads;
    } while (FindNextFileW(hFind, &fd));
    FindClose(hFind);
    return pCounters->dwThreads > 0;
}

} // namespace bench
