// The program under measurement, started as a separate process, and what the system reports
// about it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace bench
{

// Precise wall-clock time in FILETIME ticks (100 ns), the clock of the simulator's event log.
ULONGLONG Now();
inline double TicksToMs(LONGLONG ticks)
{
    return static_cast<double>(ticks) / 10000.0;
}

struct MemoryCounters
{
    SIZE_T cbWorkingSet = 0; // WorkingSetSize
    SIZE_T cbPagefile = 0;   // PagefileUsage
    SIZE_T cbPrivate = 0;    // PrivateUsage
};

// What the host kernel reports for the process under Wine: its threads' time on a CPU (ns) and
// their context switches (each voluntary one is a wake-up after a wait), over the threads alive.
struct HostCounters
{
    ULONGLONG ullCpuNs = 0;
    ULONGLONG ullVoluntarySwitches = 0;
    ULONGLONG ullInvoluntarySwitches = 0;
    DWORD dwThreads = 0;
};

// One quenlo.exe, started with its own simulator session; ended on destruction.
class CQuenloProcess
{
public:
    CQuenloProcess() = default;
    ~CQuenloProcess();
    CQuenloProcess(const CQuenloProcess&) = delete;
    CQuenloProcess& operator=(const CQuenloProcess&) = delete;

    // Starts the program with QUENLO_SIM_SESSION=session.
    bool Start(const std::wstring& exe, const std::wstring& session);
    // Waits until the program watches the spooler (one change registration in the session).
    bool WaitWatching(DWORD dwTimeoutMs) const;
    bool Running() const;
    // Posts WM_CLOSE to the hidden main window and waits for the process to end. Returns the time
    // from the post to the end in ms, or a negative value when it did not end in time.
    double Close(DWORD dwTimeoutMs);
    DWORD ExitCode() const;
    void Kill();

    DWORD Pid() const { return m_pi.dwProcessId; }
    HANDLE Handle() const { return m_pi.hProcess; }
    HWND MainWindow() const;

    // Kernel + user CPU time in ticks.
    bool CpuTime(ULONGLONG* pTicks) const;
    // Threads of the process in a Toolhelp snapshot (0 on failure).
    DWORD ThreadCount() const;
    // Open handles: GetProcessHandleCount, or where that reports none (Wine), the owner's entries
    // in the system handle table. 0 on failure.
    DWORD HandleCount(bool* pFromSystemTable = nullptr) const;
    bool Memory(MemoryCounters* pCounters) const;
    // The program's dialog windows (class #32770), visible or not.
    std::vector<HWND> Dialogs() const;
    // Host figures, read from the host's /proc through drive Z: (false outside Wine).
    bool Host(HostCounters* pCounters) const;

private:
    DWORD HostPid() const;

    PROCESS_INFORMATION m_pi{};
    std::wstring m_exe;
    mutable DWORD m_dwHostPid = 0;
};

} // namespace bench
