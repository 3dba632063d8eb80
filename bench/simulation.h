// The simulated spooler and printer as the benchmarks drive them, and the simulator's event log
// read as it grows.
#pragma once

#include <windows.h>

#include "quenlo_sim.h"

#include <map>
#include <string>
#include <vector>

namespace bench
{

inline constexpr WCHAR kTargetDriver[] = L"ORLUME 470 Photo Printer";
inline constexpr WCHAR kOtherDriver[] = L"Other Photo Driver";

// Attaches to `session`, empties it and installs the target driver with `printers` printers
// named "Photo 470 #1", ... Returns the printer names.
std::vector<std::wstring> PrepareSession(const std::wstring& session, int printers);

// What the log says about one job.
struct JobEvents
{
    std::vector<ULONGLONG> notifies;
    std::vector<ULONGLONG> requests;
    std::vector<ULONGLONG> clicks;
};

// Reads the events logged since the last Update and files them by job.
class CEventLog
{
public:
    // False when events were overwritten before they were read.
    bool Update();
    const JobEvents& Job(DWORD dwJobId) { return m_jobs[dwJobId]; }
    void Forget(DWORD dwJobId) { m_jobs.erase(dwJobId); }
    size_t RequestCount(DWORD dwJobId) const;
    DWORD Read() const { return m_dwNext; }

private:
    DWORD m_dwNext = 0;
    std::map<DWORD, JobEvents> m_jobs;
};

// "printer handles 3/3 ..." for a report.
std::wstring AccountingText();

} // namespace bench
