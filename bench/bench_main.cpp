// quenlo_bench: measures the shipped quenlo.exe under Wine against the printer simulator.
//
//   quenlo_bench [--only NAME[,NAME...]] [--quick] [--soak N] [--random-seconds S] [--seed N]
//                [--out FILE] [--onsets N] [--clicks N] [--starts N] [--idle-seconds S]
//                [--scale-jobs N] [--scale-seconds S] [--shutdown-reps N] [--onset-jobs N]
//                [--click-jobs N]
//
// NAME: onset, click, start, idle, scale, shutdown, soak, random. Exit code 0 when every
// measurement ran without a fault of the program (targets missed do not fail the run).
#include "bench.h"
#include "outside.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace bench
{

std::string Format(const char* format, ...)
{
    char buffer[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    return buffer;
}

std::string Narrow(const std::wstring& text)
{
    const int cb = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(cb), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), cb,
                        nullptr, nullptr);
    return out;
}

std::wstring WindowText(HWND hWnd)
{
    WCHAR szText[1024] = {};
    GetWindowTextW(hWnd, szText, ARRAYSIZE(szText));
    return szText;
}

void CReport::Section(const std::string& title)
{
    std::printf("\n== %s ==\n", title.c_str());
    std::fflush(stdout);
    m_details += "\n### " + title + "\n\n";
}

void CReport::Line(const char* format, ...)
{
    char buffer[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    std::printf("  %s\n", buffer);
    std::fflush(stdout);
    m_details += std::string("    ") + buffer + "\n";
}

void CReport::Figure(const std::string& name, const std::string& measured,
                     const std::string& target, bool bMet)
{
    m_rows.push_back({name, measured, target, bMet});
    std::printf("  -> %s: %s (target %s) %s\n", name.c_str(), measured.c_str(), target.c_str(),
                bMet ? "met" : "MISSED");
    std::fflush(stdout);
}

void CReport::Fail(const std::string& what)
{
    ++m_nFailures;
    std::printf("  FAULT: %s\n", what.c_str());
    std::fflush(stdout);
    m_details += "    FAULT: " + what + "\n";
}

void CReport::PrintSummary() const
{
    std::printf("\n== Summary ==\n");
    for (const Row& r : m_rows)
        std::printf("  %-48s %-44s %-22s %s\n", r.name.c_str(), r.measured.c_str(),
                    r.target.c_str(), r.bMet ? "met" : "MISSED");
    std::printf("  faults seen: %d\n", m_nFailures);
}

bool CReport::Write(const std::wstring& path, const std::string& header) const
{
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (f == nullptr)
        return false;
    std::fprintf(f, "%s\n| Figure | Measured | Target | |\n|---|---|---|---|\n", header.c_str());
    for (const Row& r : m_rows)
        std::fprintf(f, "| %s | %s | %s | %s |\n", r.name.c_str(), r.measured.c_str(),
                     r.target.c_str(), r.bMet ? "met" : "missed");
    std::fprintf(f, "\nFaults seen: %d\n\n## Details\n%s", m_nFailures, m_details.c_str());
    std::fclose(f);
    return true;
}

bool CRun::Start(const std::wstring& session, int printers)
{
    m_log = CEventLog();
    m_printers = PrepareSession(session, printers);
    if (m_printers.empty())
    {
        m_report.Fail("the simulator session " + Narrow(session) + " could not be prepared");
        return false;
    }
    if (!m_process.Start(m_exe, session))
    {
        m_report.Fail(Format("quenlo.exe did not start (error %lu)", GetLastError()));
        return false;
    }
    if (!m_process.WaitWatching(60000))
    {
        m_report.Fail(Format("quenlo.exe did not come to watch the spooler (exit code %lu)",
                             m_process.ExitCode()));
        return false;
    }
    return true;
}

bool CRun::AddWatchedJob(DWORD dwJobId, const std::wstring& printer, HWND* pDialog)
{
    const std::vector<HWND> before = m_process.Dialogs();
    if (!SimAddJob(printer.c_str(), dwJobId, JOB_STATUS_PRINTING, nullptr))
    {
        m_report.Fail(Format("SimAddJob %lu failed (%lu)", dwJobId, GetLastError()));
        return false;
    }
    if (!WaitUntil(
            [&]
            {
                m_log.Update();
                return m_log.RequestCount(dwJobId) > 0;
            },
            20000))
    {
        m_report.Fail(Format("job %lu was never asked for (no status request in 20 s)", dwJobId));
        return false;
    }
    if (pDialog != nullptr)
    {
        *pDialog = nullptr;
        for (HWND h : m_process.Dialogs())
        {
            if (std::find(before.begin(), before.end(), h) == before.end())
                *pDialog = h;
        }
        if (*pDialog == nullptr)
        {
            m_report.Fail(Format("job %lu is polled but has no dialog window", dwJobId));
            return false;
        }
    }
    return true;
}

bool CRun::AddJobsOneByOne(const std::vector<DWORD>& ids)
{
    size_t nDialogs = m_process.Dialogs().size();
    for (size_t i = 0; i < ids.size(); ++i)
    {
        const std::wstring& printer = m_printers[i % m_printers.size()];
        if (!SimAddJob(printer.c_str(), ids[i], JOB_STATUS_PRINTING, nullptr))
        {
            m_report.Fail(Format("SimAddJob %lu failed (%lu)", ids[i], GetLastError()));
            return false;
        }
        ++nDialogs;
        if (!WaitUntil([&] { return m_process.Dialogs().size() >= nDialogs; }, 20000))
        {
            m_report.Fail(Format("job %lu got no dialog within 20 s (program running: %d)", ids[i],
                                 m_process.Running()));
            return false;
        }
    }
    if (!WaitRequests(ids, 1, 60000))
    {
        m_report.Fail("not every job was asked for within 60 s");
        return false;
    }
    return true;
}

bool CRun::DeleteJob(DWORD dwJobId, HWND hDialog)
{
    if (!SimDeleteJob(dwJobId))
    {
        m_report.Fail(Format("SimDeleteJob %lu failed (%lu)", dwJobId, GetLastError()));
        return false;
    }
    if (hDialog != nullptr && !WaitUntil([&] { return !IsWindow(hDialog); }, 20000))
    {
        m_report.Fail(Format("the dialog of deleted job %lu stayed for 20 s", dwJobId));
        return false;
    }
    return true;
}

bool CRun::WaitThreads(DWORD dwThreads, DWORD dwTimeoutMs)
{
    const ULONGLONG ullEnd = GetTickCount64() + dwTimeoutMs;
    for (;;)
    {
        if (m_process.ThreadCount() == dwThreads)
            return true;
        if (GetTickCount64() > ullEnd)
            return false;
        Sleep(10);
    }
}

bool CRun::WaitRequests(const std::vector<DWORD>& ids, size_t n, DWORD dwTimeoutMs)
{
    return WaitUntil(
        [&]
        {
            m_log.Update();
            for (DWORD id : ids)
            {
                if (m_log.RequestCount(id) < n)
                    return false;
            }
            return true;
        },
        dwTimeoutMs);
}

double CRun::Close()
{
    if (!m_process.Running())
    {
        m_report.Fail(
            Format("quenlo.exe had ended by itself with exit code 0x%lX", m_process.ExitCode()));
        return -1.0;
    }
    const double ms = m_process.Close(120000);
    if (ms < 0)
    {
        m_report.Fail("quenlo.exe did not end within 120 s of WM_CLOSE");
        m_process.Kill();
        return ms;
    }
    if (m_process.ExitCode() != 0)
        m_report.Fail(Format("quenlo.exe ended with exit code 0x%lX", m_process.ExitCode()));
    return ms;
}

} // namespace bench

namespace
{

using namespace bench;

// The first line of a host file that starts with `key`, after the colon.
std::string HostValue(const wchar_t* path, const char* key)
{
    FILE* f = _wfopen(path, L"rb");
    if (f == nullptr)
        return "?";
    char line[512];
    std::string value = "?";
    while (std::fgets(line, sizeof(line), f))
    {
        if (std::strncmp(line, key, std::strlen(key)) == 0)
        {
            const char* p = std::strchr(line, ':');
            value = p != nullptr ? p + 1 : line;
            break;
        }
    }
    std::fclose(f);
    while (!value.empty() && (value.back() == '\n' || value.back() == '\r'))
        value.pop_back();
    while (!value.empty() && value.front() == ' ')
        value.erase(value.begin());
    return value;
}

std::string Machine()
{
    SYSTEM_INFO si{};
    GetNativeSystemInfo(&si);
    using WineVersionFn = const char*(__cdecl*)();
    std::string wine = "not Wine";
    if (const FARPROC p = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version"))
        wine = std::string("Wine ") + reinterpret_cast<WineVersionFn>(reinterpret_cast<void*>(p))();
    std::string model = HostValue(L"Z:\\proc\\cpuinfo", "model name");
    const std::string load = HostValue(L"Z:\\proc\\loadavg", "");
    const std::time_t now = std::time(nullptr);
    char date[64];
    std::strftime(date, sizeof(date), "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
    return Format("%s; %lu processors (%s); %s; host load average %s", date,
                  si.dwNumberOfProcessors, model.c_str(), wine.c_str(), load.c_str());
}

int ToInt(const wchar_t* s)
{
    return static_cast<int>(std::wcstol(s, nullptr, 0));
}

bool Parse(int argc, wchar_t** argv, Options& o)
{
    bool bSeed = false;
    for (int i = 1; i < argc; ++i)
    {
        const std::wstring a = argv[i];
        const bool bHasValue = i + 1 < argc;
        if (a == L"--quick")
        {
            o.nOnsets = 100;
            o.nClicks = 100;
            o.nStarts = 100;
            o.nIdleSeconds = 10;
            o.nScaleSeconds = 10;
            o.nShutdownReps = 2;
            o.nSoakJobs = 300;
            o.nRandomSeconds = 30;
        }
        else if (a == L"--only" && bHasValue)
        {
            std::string list = Narrow(argv[++i]);
            size_t start = 0;
            while (start <= list.size())
            {
                const size_t end = std::min(list.find(',', start), list.size());
                if (end > start)
                    o.only.insert(list.substr(start, end - start));
                start = end + 1;
            }
        }
        else if (a == L"--onsets" && bHasValue)
            o.nOnsets = ToInt(argv[++i]);
        else if (a == L"--onset-jobs" && bHasValue)
            o.nOnsetJobs = ToInt(argv[++i]);
        else if (a == L"--click-jobs" && bHasValue)
            o.nClickJobs = ToInt(argv[++i]);
        else if (a == L"--clicks" && bHasValue)
            o.nClicks = ToInt(argv[++i]);
        else if (a == L"--starts" && bHasValue)
            o.nStarts = ToInt(argv[++i]);
        else if (a == L"--idle-seconds" && bHasValue)
            o.nIdleSeconds = ToInt(argv[++i]);
        else if (a == L"--scale-jobs" && bHasValue)
            o.nScaleJobs = ToInt(argv[++i]);
        else if (a == L"--scale-seconds" && bHasValue)
            o.nScaleSeconds = ToInt(argv[++i]);
        else if (a == L"--shutdown-reps" && bHasValue)
            o.nShutdownReps = ToInt(argv[++i]);
        else if (a == L"--soak" && bHasValue)
            o.nSoakJobs = ToInt(argv[++i]);
        else if (a == L"--random-seconds" && bHasValue)
            o.nRandomSeconds = ToInt(argv[++i]);
        else if (a == L"--seed" && bHasValue)
        {
            o.ullSeed = std::wcstoull(argv[++i], nullptr, 0);
            bSeed = true;
        }
        else if (a == L"--out" && bHasValue)
        {
            std::wstring path = argv[++i];
            // A host path: drive Z: is the host's root.
            if (!path.empty() && path[0] == L'/')
                path = L"Z:" + path;
            o.outPath = path;
        }
        else
        {
            std::fprintf(stderr, "unknown or incomplete option: %s\n", Narrow(a).c_str());
            return false;
        }
    }
    for (const std::string& name : o.only)
    {
        static const std::set<std::string> kNames = {"onset", "click",    "start", "idle",
                                                     "scale", "shutdown", "soak",  "random"};
        if (kNames.count(name) == 0)
        {
            std::fprintf(stderr, "unknown benchmark: %s\n", name.c_str());
            return false;
        }
    }
    if (!bSeed)
        o.ullSeed = static_cast<std::uint64_t>(Now());
    return true;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    Context ctx;
    if (!Parse(argc, argv, ctx.options))
        return 2;
    setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
    ctx.exe = outside::ExeDir() + L"quenlo.exe";
    ctx.hCatalogue = LoadLibraryExW(ctx.exe.c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (ctx.hCatalogue == nullptr)
    {
        std::fprintf(stderr, "cannot read the resources of %s\n", Narrow(ctx.exe).c_str());
        return 2;
    }
    ctx.random.seed(ctx.options.ullSeed);

    const std::string machine = Machine();
    std::printf("quenlo_bench: %s\n  seed %llu\n", machine.c_str(),
                static_cast<unsigned long long>(ctx.options.ullSeed));
    std::fflush(stdout);
    const ULONGLONG ullStart = GetTickCount64();

    const struct
    {
        const char* name;
        void (*run)(Context&);
    } kBenchmarks[] = {
        {"onset", BenchOnset}, {"click", BenchClick}, {"start", BenchStart},
        {"idle", BenchIdle},   {"scale", BenchScale}, {"shutdown", BenchShutdown},
        {"soak", BenchSoak},   {"random", RandomRun},
    };
    for (const auto& b : kBenchmarks)
    {
        if (ctx.options.Runs(b.name))
            b.run(ctx);
    }

    const double minutes = static_cast<double>(GetTickCount64() - ullStart) / 60000.0;
    ctx.report.PrintSummary();
    std::printf("  total time %.1f min\n", minutes);
    if (!ctx.options.outPath.empty())
    {
        const std::string header =
            Format("Measured %s; seed %llu; %.1f min.\n", machine.c_str(),
                   static_cast<unsigned long long>(ctx.options.ullSeed), minutes);
        if (ctx.report.Write(ctx.options.outPath, header))
            std::printf("  results written to %s\n", Narrow(ctx.options.outPath).c_str());
    }
    std::fflush(stdout);
    FreeLibrary(ctx.hCatalogue);
    return ctx.report.Failures() == 0 ? 0 : 1;
}
