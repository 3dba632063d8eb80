// The benchmark driver: options, the report, and one run of the program with its own session.
#pragma once

#include <windows.h>

#include "process.h"
#include "simulation.h"
#include "stats.h"

#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace bench
{

struct Options
{
    std::set<std::string> only; // benchmark names; empty: all
    int nOnsets = 120;
    int nOnsetJobs = 4;
    int nClicks = 200;
    int nClickJobs = 4;
    int nStarts = 200;
    int nIdleSeconds = 60;
    int nIdleJobs = 10;
    int nScaleJobs = 100;
    int nScaleSeconds = 30;
    int nShutdownReps = 4;
    int nSoakJobs = 10000;
    int nRandomSeconds = 150;
    std::uint64_t ullSeed = 0;
    std::wstring outPath;

    bool Runs(const char* name) const { return only.empty() || only.count(name) > 0; }
};

// Printed as it goes; the summary table and the notes also go to the output file.
class CReport
{
public:
    void Section(const std::string& title);
    void Line(const char* format, ...);
    // One figure of the summary: what was measured, the target, and whether it is met.
    void Figure(const std::string& name, const std::string& measured, const std::string& target,
                bool bMet);
    void Fail(const std::string& what); // a fault seen while measuring
    int Failures() const { return m_nFailures; }
    bool Write(const std::wstring& path, const std::string& header) const;
    void PrintSummary() const;

private:
    struct Row
    {
        std::string name, measured, target;
        bool bMet;
    };
    std::vector<Row> m_rows;
    std::string m_details;
    int m_nFailures = 0;
};

std::string Format(const char* format, ...);
std::string Narrow(const std::wstring& text);

// One quenlo.exe with its own, fresh simulator session.
class CRun
{
public:
    CRun(CReport& report, const std::wstring& exe) : m_report(report), m_exe(exe) {}

    // Prepares `session` with `printers` target printers and starts the program; false (with a
    // report failure) when it does not come to watch the spooler.
    bool Start(const std::wstring& session, int printers);
    // Adds a printing job and waits for its first status request; `pDialog` gets its dialog (the
    // one new dialog window). False on a time-out.
    bool AddWatchedJob(DWORD dwJobId, const std::wstring& printer, HWND* pDialog);
    // Adds printing jobs one after another, each once the previous one's dialog window exists
    // (Wine 8.0 can abort a process whose threads create their first windows all at once), then
    // waits until each was asked for. `ids[i]` goes to printer i % printers.
    bool AddJobsOneByOne(const std::vector<DWORD>& ids);
    // Deletes a job and waits until its dialog window is gone.
    bool DeleteJob(DWORD dwJobId, HWND hDialog);
    // Waits until the program runs `threads` threads.
    bool WaitThreads(DWORD dwThreads, DWORD dwTimeoutMs);
    // Waits until every job in `ids` had `n` status requests.
    bool WaitRequests(const std::vector<DWORD>& ids, size_t n, DWORD dwTimeoutMs);
    // WM_CLOSE; the time to the end of the process in ms (negative: did not end).
    double Close();

    CQuenloProcess& Process() { return m_process; }
    CEventLog& Log() { return m_log; }
    const std::vector<std::wstring>& Printers() const { return m_printers; }
    CReport& Report() { return m_report; }

private:
    CReport& m_report;
    std::wstring m_exe;
    CQuenloProcess m_process;
    CEventLog m_log;
    std::vector<std::wstring> m_printers;
};

// Polls `cond` about every millisecond until it holds or the time runs out.
template <class Cond> bool WaitUntil(Cond cond, DWORD dwTimeoutMs)
{
    const ULONGLONG ullEnd = GetTickCount64() + dwTimeoutMs;
    for (;;)
    {
        if (cond())
            return true;
        if (GetTickCount64() > ullEnd)
            return false;
        Sleep(1);
    }
}

// Text of a window of any process.
std::wstring WindowText(HWND hWnd);

struct Context
{
    Options options;
    CReport report;
    std::wstring exe;   // quenlo.exe
    HMODULE hCatalogue; // quenlo.exe's resources
    std::mt19937_64 random;
};

void BenchOnset(Context& ctx);
void BenchClick(Context& ctx);
void BenchStart(Context& ctx);
void BenchIdle(Context& ctx);
void BenchScale(Context& ctx);
void BenchShutdown(Context& ctx);
void BenchSoak(Context& ctx);
void RandomRun(Context& ctx);

} // namespace bench
