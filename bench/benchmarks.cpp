// The seven measurements of the issue, each on its own quenlo.exe and simulator session.
#include "bench.h"

#include "dialog_oracle.h"

#include <winspool.h>

#include <algorithm>
#include <map>

namespace bench
{

namespace
{

constexpr ULONGLONG kTicksPerMs = 10000;
constexpr double kPollPeriodMs = 1000.0;
// Codes whose text the dialog shows.
constexpr LONG kShowingCodes[] = {2001, 2002, 2003, 2004, 2005, 2006, 2007, 2008, 2009, 2010, 2011,
                                  2012, 2013, 2014, 2015, 2016, 2017, 2018, 2020, 2021, 2022, 2023};

ULONGLONG RandomTicks(Context& ctx, int loMs, int hiMs)
{
    std::uniform_int_distribution<int> d(loMs * 10, hiMs * 10);
    return static_cast<ULONGLONG>(d(ctx.random)) * (kTicksPerMs / 10);
}

// Closes the program with WM_CLOSE; once it has ended with exit code 0, the simulator must have got
// back everything it handed out.
double Finish(CRun& run)
{
    const double ms = run.Close();
    if (ms >= 0 && run.Process().ExitCode() == 0)
    {
        if (SimIsBalanced())
            run.Report().Line("after the end: simulator accounting balanced (%s)",
                              Narrow(AccountingText()).c_str());
        else
            run.Report().Fail("simulator accounting unbalanced after the program ended: " +
                              Narrow(AccountingText()));
    }
    return ms;
}

// The first status request of a job logged after `after`, or 0.
ULONGLONG FirstRequestAfter(const JobEvents& job, ULONGLONG after)
{
    for (ULONGLONG t : job.requests)
    {
        if (t > after)
            return t;
    }
    return 0;
}

std::vector<double> Periods(const std::vector<ULONGLONG>& times, ULONGLONG from, ULONGLONG to)
{
    std::vector<double> periods;
    for (size_t i = 1; i < times.size(); ++i)
    {
        if (times[i - 1] >= from && times[i] <= to)
            periods.push_back(TicksToMs(static_cast<LONGLONG>(times[i] - times[i - 1])));
    }
    return periods;
}

double Mb(SIZE_T cb)
{
    return static_cast<double>(cb) / (1024.0 * 1024.0);
}

struct Snapshot
{
    DWORD dwThreads = 0;
    DWORD dwHandles = 0;
    MemoryCounters memory;
};

Snapshot Take(CQuenloProcess& p)
{
    Snapshot s;
    s.dwThreads = p.ThreadCount();
    s.dwHandles = p.HandleCount();
    p.Memory(&s.memory);
    return s;
}

std::string Describe(const Snapshot& s)
{
    return Format("%lu threads, %lu handles, working set %.2f MB, PagefileUsage %.2f MB, "
                  "PrivateUsage %.2f MB",
                  s.dwThreads, s.dwHandles, Mb(s.memory.cbWorkingSet), Mb(s.memory.cbPagefile),
                  Mb(s.memory.cbPrivate));
}

} // namespace

// 1. The printer's values change to an error; the driver polls the dialog's visibility.
void BenchOnset(Context& ctx)
{
    CReport& r = ctx.report;
    const Options& o = ctx.options;
    r.Section("1. Error onset -> dialog visible");
    CRun run(r, ctx.exe);
    if (!run.Start(L"bench-onset", 1))
        return;

    struct Job
    {
        DWORD dwId;
        HWND hDlg;
        int nPhase; // 0 waiting to change, 1 waiting for the dialog, 2 waiting for it to hide
        ULONGLONG ullDue, ullBefore, ullAfter;
        oracle::Values values;
    };
    struct Sample
    {
        size_t iJob;
        ULONGLONG ullBefore, ullAfter, ullVisible;
    };
    std::vector<Job> jobs;
    for (int i = 0; i < o.nOnsetJobs; ++i)
    {
        Job j{};
        j.dwId = 101 + static_cast<DWORD>(i);
        if (!run.AddWatchedJob(j.dwId, run.Printers()[0], &j.hDlg))
            return;
        j.ullDue = Now() + RandomTicks(ctx, 0, 1000);
        jobs.push_back(j);
    }

    std::vector<Sample> samples;
    std::vector<double> loopGaps;
    int nWrongText = 0;
    std::uniform_int_distribution<size_t> pickCode(0, std::size(kShowingCodes) - 1);
    std::uniform_int_distribution<LONG> pickDetail(0, 0xFFFFFF);
    ULONGLONG ullLast = Now();
    while (static_cast<int>(samples.size()) < o.nOnsets)
    {
        const ULONGLONG now = Now();
        loopGaps.push_back(TicksToMs(static_cast<LONGLONG>(now - ullLast)));
        ullLast = now;
        for (size_t i = 0; i < jobs.size(); ++i)
        {
            Job& j = jobs[i];
            if (j.nPhase == 0 && now >= j.ullDue)
            {
                j.values = {kShowingCodes[pickCode(ctx.random)], pickDetail(ctx.random), 1, 0};
                j.ullBefore = Now();
                SimSetJobValues(j.dwId, j.values.lCode, j.values.lDetail, j.values.lButton, FALSE);
                j.ullAfter = Now();
                j.nPhase = 1;
            }
            else if (j.nPhase == 1 && IsWindowVisible(j.hDlg))
            {
                samples.push_back({i, j.ullBefore, j.ullAfter, now});
                const std::wstring text = WindowText(GetDlgItem(j.hDlg, IDC_MSGTEXT));
                if (text != oracle::ExpectedText(ctx.hCatalogue, j.values))
                {
                    ++nWrongText;
                    r.Fail(Format("job %lu, code %ld: the dialog shows \"%s\"", j.dwId,
                                  j.values.lCode, Narrow(text).c_str()));
                }
                SimSetJobValues(j.dwId, oracle::kNoError, 0, 0, FALSE);
                j.ullBefore = now;
                j.nPhase = 2;
            }
            else if (j.nPhase == 2 && !IsWindowVisible(j.hDlg))
            {
                // A random phase against the job's poll.
                j.ullDue = now + RandomTicks(ctx, 0, 1000);
                j.nPhase = 0;
            }
            else if (j.nPhase != 0 && now - j.ullBefore > 20000 * kTicksPerMs)
            {
                r.Fail(Format("job %lu: the dialog did not %s within 20 s", j.dwId,
                              j.nPhase == 1 ? "show" : "hide"));
                Finish(run);
                return;
            }
        }
        Sleep(1);
    }

    run.Log().Update();
    std::vector<double> latency, pollWait, overhead, periods;
    for (const Sample& s : samples)
    {
        const JobEvents& job = run.Log().Job(jobs[s.iJob].dwId);
        latency.push_back(TicksToMs(static_cast<LONGLONG>(s.ullVisible - s.ullBefore)));
        const ULONGLONG ullRequest = FirstRequestAfter(job, s.ullAfter);
        if (ullRequest != 0 && ullRequest <= s.ullVisible)
        {
            pollWait.push_back(TicksToMs(static_cast<LONGLONG>(ullRequest - s.ullBefore)));
            overhead.push_back(TicksToMs(static_cast<LONGLONG>(s.ullVisible - ullRequest)));
        }
    }
    for (const Job& j : jobs)
    {
        const JobEvents& job = run.Log().Job(j.dwId);
        const std::vector<double> p = Periods(job.requests, 0, ~0ull);
        periods.insert(periods.end(), p.begin(), p.end());
    }
    const Summary lat = Summarise(latency);
    const Summary per = Summarise(periods);
    const Summary gap = Summarise(loopGaps);
    const Summary over = Summarise(overhead);
    r.Line("%d jobs, %zu onsets at random phases; the driver polled every %.2f ms (mean; max "
           "%.1f ms)",
           o.nOnsetJobs, samples.size(), gap.mean, gap.max);
    r.Line("onset -> visible (ms): %s", Describe(lat).c_str());
    r.Line("onset -> the poll that read it (ms): %s", Describe(Summarise(pollWait)).c_str());
    r.Line("that poll's status request -> visible (ms): %s", Describe(over).c_str());
    r.Line("poll period of these jobs (ms): %s", Describe(per, 2).c_str());
    r.Line("mean / measured poll period = %.3f; mean / 1000 ms = %.3f; wrong texts: %d",
           lat.mean / per.mean, lat.mean / kPollPeriodMs, nWrongText);
    r.Figure("1. onset -> dialog visible, max", Format("%.0f ms", lat.max), "<= 1100 ms",
             lat.max <= 1100.0);
    r.Figure("1. onset -> dialog visible, mean / poll period",
             Format("%.3f (mean %.0f ms, p50 %.0f, p99 %.0f)", lat.mean / per.mean, lat.mean,
                    lat.p50, lat.p99),
             "~0.5", std::abs(lat.mean / per.mean - 0.5) <= 0.05);
    r.Figure("1. poll -> dialog visible (our overhead), p99",
             Format("%.1f ms (max %.1f)", over.p99, over.max), "<= 100 ms (1.1 s - the poll)",
             over.p99 <= 100.0);
    Finish(run);
}

// 2. BM_CLICK on the dialog's button; the printer logs the cancel-click.
void BenchClick(Context& ctx)
{
    CReport& r = ctx.report;
    const Options& o = ctx.options;
    r.Section("2. Button press -> cancel-click at the printer");
    CRun run(r, ctx.exe);
    if (!run.Start(L"bench-click", 1))
        return;

    struct Job
    {
        DWORD dwId;
        HWND hDlg;
        int nPhase; // 0 ready to press, 1 waiting for the click, 2 waiting for the dialog
        ULONGLONG ullDue, ullPressed;
        size_t nClicksBefore;
    };
    std::vector<Job> jobs;
    for (int i = 0; i < o.nClickJobs; ++i)
    {
        Job j{};
        j.dwId = 201 + static_cast<DWORD>(i);
        if (!run.AddWatchedJob(j.dwId, run.Printers()[0], &j.hDlg))
            return;
        // The reset flag on every poll brings the dialog back right after each press.
        SimSetJobValues(j.dwId, 2005, 0x1234, 1, TRUE);
        jobs.push_back(j);
    }
    if (!WaitUntil(
            [&]
            {
                return std::all_of(jobs.begin(), jobs.end(),
                                   [](const Job& j) { return IsWindowVisible(j.hDlg) != FALSE; });
            },
            20000))
    {
        r.Fail("the dialogs did not show within 20 s");
        Finish(run);
        return;
    }

    std::vector<double> latency, sendTimes;
    while (static_cast<int>(latency.size()) < o.nClicks)
    {
        run.Log().Update();
        const ULONGLONG now = Now();
        for (Job& j : jobs)
        {
            if (j.nPhase == 0 && now >= j.ullDue && IsWindowVisible(j.hDlg))
            {
                const HWND hButton = GetDlgItem(j.hDlg, IDCANCEL);
                j.nClicksBefore = run.Log().Job(j.dwId).clicks.size();
                DWORD_PTR result = 0;
                j.ullPressed = Now();
                if (!SendMessageTimeoutW(hButton, BM_CLICK, 0, 0, SMTO_NORMAL, 10000, &result))
                {
                    r.Fail(Format("job %lu: BM_CLICK was not handled within 10 s", j.dwId));
                    Finish(run);
                    return;
                }
                sendTimes.push_back(TicksToMs(static_cast<LONGLONG>(Now() - j.ullPressed)));
                j.nPhase = 1;
            }
            else if (j.nPhase == 1)
            {
                const JobEvents& job = run.Log().Job(j.dwId);
                if (job.clicks.size() > j.nClicksBefore)
                {
                    latency.push_back(TicksToMs(
                        static_cast<LONGLONG>(job.clicks[j.nClicksBefore] - j.ullPressed)));
                    j.nPhase = 2;
                }
                else if (now - j.ullPressed > 20000 * kTicksPerMs)
                {
                    r.Fail(
                        Format("job %lu: no cancel-click reached the printer within 20 s", j.dwId));
                    Finish(run);
                    return;
                }
            }
            else if (j.nPhase == 2 && IsWindowVisible(j.hDlg))
            {
                j.ullDue = now + RandomTicks(ctx, 20, 300);
                j.nPhase = 0;
            }
        }
        Sleep(1);
    }
    const Summary lat = Summarise(latency);
    r.Line("%d jobs, %zu presses", o.nClickJobs, latency.size());
    r.Line("BM_CLICK sent -> SendMessage returned (ms): %s",
           Describe(Summarise(sendTimes)).c_str());
    r.Line("BM_CLICK sent -> cancel-click logged by the printer (ms): %s", Describe(lat).c_str());
    r.Figure("2. button press -> cancel-click, p99", Format("%.1f ms (max %.1f)", lat.p99, lat.max),
             "<= 50 ms", lat.p99 <= 50.0);
    Finish(run);
}

// 3. A job starts printing: its notification -> its first status request.
void BenchStart(Context& ctx)
{
    CReport& r = ctx.report;
    const Options& o = ctx.options;
    r.Section("3. Job starts printing -> first status request");
    CRun run(r, ctx.exe);
    if (!run.Start(L"bench-start", 1))
        return;
    const std::wstring& printer = run.Printers()[0];

    std::vector<double> added, changed, all;
    for (int i = 0; i < o.nStarts; ++i)
    {
        const DWORD dwId = 1001 + static_cast<DWORD>(i);
        const bool bAdd = i % 2 == 0;
        const std::vector<HWND> before = run.Process().Dialogs();
        if (bAdd)
            SimAddJob(printer.c_str(), dwId, JOB_STATUS_PRINTING, nullptr);
        else
        {
            // Spooling first (no monitor), then printing.
            SimAddJob(printer.c_str(), dwId, JOB_STATUS_SPOOLING, nullptr);
            SimSetJobStatus(dwId, JOB_STATUS_PRINTING);
        }
        if (!WaitUntil(
                [&]
                {
                    run.Log().Update();
                    return run.Log().RequestCount(dwId) > 0;
                },
                20000))
        {
            r.Fail(Format("job %lu was never asked for", dwId));
            Finish(run);
            return;
        }
        const JobEvents& job = run.Log().Job(dwId);
        const size_t iPrinting = bAdd ? 0 : 1;
        if (job.notifies.size() <= iPrinting)
        {
            r.Fail(Format("job %lu: its printing notification is missing from the log", dwId));
            break;
        }
        const double ms =
            TicksToMs(static_cast<LONGLONG>(job.requests[0] - job.notifies[iPrinting]));
        (bAdd ? added : changed).push_back(ms);
        all.push_back(ms);

        HWND hDlg = nullptr;
        for (HWND h : run.Process().Dialogs())
        {
            if (std::find(before.begin(), before.end(), h) == before.end())
                hDlg = h;
        }
        if (!run.DeleteJob(dwId, hDlg))
            break;
        run.Log().Forget(dwId);
    }
    const Summary s = Summarise(all);
    r.Line("added printing (ms): %s", Describe(Summarise(added)).c_str());
    r.Line("spooling, then set printing (ms): %s", Describe(Summarise(changed)).c_str());
    r.Line("both (ms): %s", Describe(s).c_str());
    r.Figure("3. printing notification -> first status request, p99",
             Format("%.0f ms (p50 %.0f, max %.0f)", s.p99, s.p50, s.max), "<= 300 ms",
             s.p99 <= 300.0);
    Finish(run);
}

// 4. CPU time and wake-ups with no job, with jobs, and after the jobs ended.
void BenchIdle(Context& ctx)
{
    CReport& r = ctx.report;
    const Options& o = ctx.options;
    r.Section("4. Idle cost");
    CRun run(r, ctx.exe);
    if (!run.Start(L"bench-idle", 1))
        return;
    CQuenloProcess& p = run.Process();
    const DWORD dwWindowMs = static_cast<DWORD>(o.nIdleSeconds) * 1000;

    struct Window
    {
        double cpuMs = -1;     // GetProcessTimes
        double hostCpuMs = -1; // host threads' time on a CPU
        ULONGLONG ullWakeups = 0;
        DWORD dwHostThreads = 0;
        size_t nRequests = 0;
    };
    const auto measure = [&](DWORD dwMs)
    {
        Window w;
        ULONGLONG cpu0 = 0, cpu1 = 0;
        HostCounters h0, h1;
        const bool bHost0 = p.Host(&h0);
        p.CpuTime(&cpu0);
        const DWORD dwRequests0 = SimCountEvents(SIM_EV_STATUS_REQUEST, 0);
        Sleep(dwMs);
        p.CpuTime(&cpu1);
        const bool bHost1 = p.Host(&h1);
        w.nRequests = SimCountEvents(SIM_EV_STATUS_REQUEST, 0) - dwRequests0;
        w.cpuMs = TicksToMs(static_cast<LONGLONG>(cpu1 - cpu0));
        if (bHost0 && bHost1 && h0.dwThreads == h1.dwThreads)
        {
            w.hostCpuMs = static_cast<double>(h1.ullCpuNs - h0.ullCpuNs) / 1e6;
            w.ullWakeups = h1.ullVoluntarySwitches - h0.ullVoluntarySwitches;
            w.dwHostThreads = h1.dwThreads;
        }
        return w;
    };
    const auto describe = [&](const Window& w, const char* what, DWORD dwMs)
    {
        r.Line("%s, %lu s: GetProcessTimes %.0f ms (under Wine the main thread's only); host: "
               "%.3f ms on a CPU, %llu wake-ups over %lu host threads; %zu status requests",
               what, dwMs / 1000, w.cpuMs, w.hostCpuMs,
               static_cast<unsigned long long>(w.ullWakeups), w.dwHostThreads, w.nRequests);
    };

    Sleep(3000);
    const Window idle = measure(dwWindowMs);
    describe(idle, "no job", dwWindowMs);
    r.Figure("4. CPU time with no job, per 60 s",
             Format("%.1f ms host, %.0f ms GetProcessTimes, %.1f wake-ups",
                    idle.hostCpuMs * 60000.0 / dwWindowMs, idle.cpuMs * 60000.0 / dwWindowMs,
                    static_cast<double>(idle.ullWakeups) * 60000.0 / dwWindowMs),
             "~0, no periodic wake-up",
             idle.cpuMs <= 10.0 && idle.ullWakeups * 10000ull < dwWindowMs);

    std::vector<DWORD> ids;
    for (int i = 0; i < o.nIdleJobs; ++i)
    {
        const DWORD dwId = 301 + static_cast<DWORD>(i);
        if (!run.AddWatchedJob(dwId, run.Printers()[0], nullptr))
        {
            Finish(run);
            return;
        }
        ids.push_back(dwId);
    }
    Sleep(2000);
    const Window busy = measure(dwWindowMs);
    describe(busy, Format("%d jobs", o.nIdleJobs).c_str(), dwWindowMs);
    const double jobSeconds = o.nIdleJobs * dwWindowMs / 1000.0;
    const double cpuPerJobSecond = (busy.hostCpuMs >= 0 ? busy.hostCpuMs : busy.cpuMs) / jobSeconds;
    r.Line("per job-second: %.3f ms CPU (%.3f%% of a CPU), %.2f wake-ups, %.3f status requests",
           cpuPerJobSecond, cpuPerJobSecond / 10.0,
           static_cast<double>(busy.ullWakeups) / jobSeconds,
           static_cast<double>(busy.nRequests) / jobSeconds);
    r.Figure(Format("4. CPU per job-second with %d jobs", o.nIdleJobs),
             Format("%.2f ms (%.2f wake-ups)", cpuPerJobSecond,
                    static_cast<double>(busy.ullWakeups) / jobSeconds),
             "reported", true);

    for (DWORD dwId : ids)
        SimDeleteJob(dwId);
    if (!run.WaitThreads(2, 20000))
        r.Fail("the job threads did not end within 20 s of the deletions");
    Sleep(2000);
    const DWORD dwAfterMs = std::max<DWORD>(dwWindowMs / 3, 5000);
    const Window after = measure(dwAfterMs);
    describe(after, "after the jobs ended", dwAfterMs);
    r.Figure("4. CPU time after the jobs ended, per 60 s",
             Format("%.1f ms host, %.1f wake-ups", after.hostCpuMs * 60000.0 / dwAfterMs,
                    static_cast<double>(after.ullWakeups) * 60000.0 / dwAfterMs),
             "~0, no periodic wake-up", after.ullWakeups * 10000ull < dwAfterMs);

    // Every read of a notification fails and the change handle stays signalled: the watcher
    // must pause between reads, not spin.
    const DWORD dwFailingMs = std::max<DWORD>(dwWindowMs / 6, 5000);
    SimSetFault(SIM_FIND_NEXT_CHANGE, ERROR_NOT_ENOUGH_MEMORY, 0, 0, L"");
    SimQueueEntry(JOB_NOTIFY_TYPE, JOB_NOTIFY_FIELD_STATUS, 999, JOB_STATUS_SPOOLING);
    Sleep(500);
    const Window failing = measure(dwFailingMs);
    SimClearFaults();
    describe(failing, "every notification read failing", dwFailingMs);
    const double failingShare = failing.hostCpuMs * 100.0 / dwFailingMs;
    r.Figure("4. CPU while every notification read fails",
             Format("%.2f %% of a CPU, %.1f wake-ups per second", failingShare,
                    static_cast<double>(failing.ullWakeups) * 1000.0 / dwFailingMs),
             "bounded, no spinning", failing.hostCpuMs >= 0 && failingShare < 5.0);
    const double ms = Finish(run);
    r.Line("WM_CLOSE -> process gone with no job: %.1f ms", ms);
}

// 5. Many jobs at once: poll periods, threads and memory per job.
void BenchScale(Context& ctx)
{
    CReport& r = ctx.report;
    const Options& o = ctx.options;
    r.Section(Format("5. Scale: %d jobs at once", o.nScaleJobs));
    CRun run(r, ctx.exe);
    if (!run.Start(L"bench-scale", 4))
        return;
    CQuenloProcess& p = run.Process();

    // One job first, so that what a first job loads once (COM, the bidi classes, the dialog's
    // resources) is in the baseline.
    HWND hDlg = nullptr;
    if (!run.AddWatchedJob(9, run.Printers()[0], &hDlg) || !run.DeleteJob(9, hDlg) ||
        !run.WaitThreads(2, 20000))
    {
        Finish(run);
        return;
    }
    Sleep(1000);
    const Snapshot base = Take(p);
    Snapshot afterFirst, afterSecond;
    r.Line("no job (after one job came and went): %s", Describe(base).c_str());

    std::vector<DWORD> ids;
    for (int i = 0; i < o.nScaleJobs; ++i)
        ids.push_back(501 + static_cast<DWORD>(i));
    const ULONGLONG ullAdd = Now();
    if (!run.AddJobsOneByOne(ids))
    {
        Finish(run);
        return;
    }
    r.Line("%d jobs added one after another (each once the previous one's dialog existed): all "
           "watched after %.1f s",
           o.nScaleJobs, TicksToMs(static_cast<LONGLONG>(Now() - ullAdd)) / 1000.0);
    Sleep(2000);
    const Snapshot loaded = Take(p);
    r.Line("%d jobs: %s", o.nScaleJobs, Describe(loaded).c_str());

    ULONGLONG cpu0 = 0, cpu1 = 0;
    p.CpuTime(&cpu0);
    HostCounters h0, h1;
    const bool bHost0 = p.Host(&h0);
    const ULONGLONG ullFrom = Now();
    Sleep(static_cast<DWORD>(o.nScaleSeconds) * 1000);
    const ULONGLONG ullTo = Now();
    p.CpuTime(&cpu1);
    const bool bHost1 = p.Host(&h1);
    run.Log().Update();

    std::vector<double> periods, jobMeans;
    for (DWORD dwId : ids)
    {
        const std::vector<double> jp = Periods(run.Log().Job(dwId).requests, ullFrom, ullTo);
        periods.insert(periods.end(), jp.begin(), jp.end());
        jobMeans.push_back(Summarise(jp).mean);
    }
    const Summary per = Summarise(periods);
    const Summary means = Summarise(jobMeans);
    const double within = ShareWithin(periods, 950.0, 1050.0);
    r.Line("poll period over %d s (ms): %s", o.nScaleSeconds, Describe(per, 2).c_str());
    r.Line("per-job mean period (ms): %s", Describe(means, 2).c_str());
    r.Line("share of periods within 950..1050 ms: %.2f%%", within * 100.0);
    const double seconds = TicksToMs(static_cast<LONGLONG>(ullTo - ullFrom)) / 1000.0;
    const double cpuMs = bHost0 && bHost1 && h0.dwThreads == h1.dwThreads
                             ? static_cast<double>(h1.ullCpuNs - h0.ullCpuNs) / 1e6
                             : TicksToMs(static_cast<LONGLONG>(cpu1 - cpu0));
    r.Line("CPU: %.0f ms over %.1f s = %.1f%% of one CPU; %.3f ms per job-second", cpuMs, seconds,
           cpuMs / (seconds * 10.0), cpuMs / (seconds * o.nScaleJobs));
    r.Figure(Format("5. poll period with %d jobs", o.nScaleJobs),
             Format("mean %.1f ms, p1 %.1f, p99 %.1f; %.1f%% within +-5%%", per.mean, per.p1,
                    per.p99, within * 100.0),
             "1000 ms +-5%", per.p1 >= 950.0 && per.p99 <= 1050.0);

    const double jobs = o.nScaleJobs;
    const double threadsPerJob = (static_cast<double>(loaded.dwThreads) - base.dwThreads) / jobs;
    const double handlesPerJob = (static_cast<double>(loaded.dwHandles) - base.dwHandles) / jobs;
    const double wsPerJob =
        (static_cast<double>(loaded.memory.cbWorkingSet) - base.memory.cbWorkingSet) / jobs / 1024;
    const double pfPerJob =
        (static_cast<double>(loaded.memory.cbPagefile) - base.memory.cbPagefile) / jobs / 1024;
    r.Figure("5. threads per job", Format("%.2f", threadsPerJob), "2", threadsPerJob == 2.0);
    r.Figure("5. handles per job", Format("%.2f", handlesPerJob), "reported", true);
    r.Figure("5. memory per job",
             Format("working set %.0f KB, PagefileUsage %.0f KB", wsPerJob, pfPerJob), "reported",
             true);

    // Twice more: what the first round leaves behind is kept for reuse, not lost.
    for (int round = 1; round <= 3; ++round)
    {
        for (DWORD dwId : ids)
            SimDeleteJob(dwId);
        if (!run.WaitThreads(base.dwThreads, 60000))
        {
            r.Fail("the job threads did not end within 60 s of the deletions");
            break;
        }
        Sleep(1000);
        const Snapshot after = Take(p);
        r.Line("after round %d of %d jobs ended: %s", round, o.nScaleJobs, Describe(after).c_str());
        if (round == 3)
        {
            // Freed memory the process keeps for reuse is no leak: a leak grows with every round.
            const double grownMb = Mb(after.memory.cbPagefile) - Mb(afterFirst.memory.cbPagefile);
            const double jobsMb = Mb(loaded.memory.cbPagefile) - Mb(base.memory.cbPagefile);
            r.Figure("5. memory after rounds 1, 2, 3 of jobs",
                     Format("PagefileUsage %.1f, %.1f, %.1f MB (%.1f with no job before)",
                            Mb(afterFirst.memory.cbPagefile), Mb(afterSecond.memory.cbPagefile),
                            Mb(after.memory.cbPagefile), Mb(base.memory.cbPagefile)),
                     "no growth from round to round (within 5% of what the jobs took)",
                     grownMb <= 0.05 * jobsMb);
            break;
        }
        (round == 1 ? afterFirst : afterSecond) = after;
        for (DWORD& dwId : ids)
            dwId += 1000;
        if (!run.AddJobsOneByOne(ids))
            break;
    }
    Finish(run);
}

// 6. WM_CLOSE -> process gone, with 0, 10 and 100 jobs.
void BenchShutdown(Context& ctx)
{
    CReport& r = ctx.report;
    const Options& o = ctx.options;
    r.Section("6. Shut-down");
    std::map<int, std::vector<double>> times;
    std::vector<double> startups;
    for (int nJobs : {0, 10, o.nScaleJobs})
    {
        for (int rep = 0; rep < o.nShutdownReps; ++rep)
        {
            CRun run(r, ctx.exe);
            const ULONGLONG ullStart = Now();
            if (!run.Start(L"bench-shutdown", 4))
                return;
            startups.push_back(TicksToMs(static_cast<LONGLONG>(Now() - ullStart)));
            std::vector<DWORD> ids;
            for (int i = 0; i < nJobs; ++i)
                ids.push_back(701 + static_cast<DWORD>(i));
            if (!run.AddJobsOneByOne(ids) ||
                !run.WaitThreads(2 + 2 * static_cast<DWORD>(nJobs), 20000))
            {
                r.Fail(Format("%d jobs were not all watched (program running: %d)", nJobs,
                              run.Process().Running()));
                Finish(run);
                return;
            }
            // Settled: every job polled at least twice.
            run.WaitRequests(ids, 2, 20000);
            const double ms = Finish(run);
            if (ms < 0)
                return;
            times[nJobs].push_back(ms);
        }
    }
    r.Line("start -> watching the spooler (ms): %s", Describe(Summarise(startups)).c_str());
    for (const auto& [nJobs, t] : times)
        r.Line("%d jobs: WM_CLOSE -> process gone (ms): %s", nJobs, Describe(Summarise(t)).c_str());
    const Summary s0 = Summarise(times[0]);
    const Summary sMax = Summarise(times[o.nScaleJobs]);
    r.Line("cost per job at shut-down: %.2f ms", (sMax.p50 - s0.p50) / o.nScaleJobs);
    for (const auto& [nJobs, t] : times)
    {
        const Summary s = Summarise(t);
        const bool bLimit = nJobs == o.nScaleJobs;
        r.Figure(Format("6. shut-down with %d jobs", nJobs),
                 Format("p50 %.0f ms, max %.0f ms", s.p50, s.max),
                 bLimit ? "< 1000 ms" : "reported", !bLimit || s.max < 1000.0);
    }
}

// 7. Jobs started and deleted one after another; the program's resources at the end.
void BenchSoak(Context& ctx)
{
    CReport& r = ctx.report;
    const Options& o = ctx.options;
    r.Section(Format("7. Soak: %d jobs in sequence", o.nSoakJobs));
    CRun run(r, ctx.exe);
    if (!run.Start(L"bench-soak", 1))
        return;
    CQuenloProcess& p = run.Process();
    const std::wstring& printer = run.Printers()[0];
    Sleep(1000);
    const Snapshot start = Take(p);
    r.Line("start (no job yet): %s", Describe(start).c_str());

    const int nWarmup = std::min(100, o.nSoakJobs / 10);
    const int nSampleEvery = std::max(1, o.nSoakJobs / 20);
    Snapshot warm;
    std::vector<double> sampleJobs, sampleHandles, samplePagefile, sampleWorkingSet;
    std::vector<double> startLatency, cycle;
    bool bOk = true;
    const ULONGLONG ullSoakStart = Now();
    for (int i = 1; i <= o.nSoakJobs && bOk; ++i)
    {
        const DWORD dwId = static_cast<DWORD>(i);
        const ULONGLONG ullCycle = Now();
        HWND hDlg = nullptr;
        bOk = run.AddWatchedJob(dwId, printer, &hDlg) && run.DeleteJob(dwId, hDlg);
        if (!bOk)
            break;
        const JobEvents& job = run.Log().Job(dwId);
        if (!job.notifies.empty() && !job.requests.empty())
            startLatency.push_back(
                TicksToMs(static_cast<LONGLONG>(job.requests[0] - job.notifies[0])));
        cycle.push_back(TicksToMs(static_cast<LONGLONG>(Now() - ullCycle)));
        run.Log().Forget(dwId);

        if (i == nWarmup || i % nSampleEvery == 0 || i == o.nSoakJobs)
        {
            // Between jobs: the last monitor has ended once the program is back to two threads.
            if (!run.WaitThreads(start.dwThreads, 20000))
            {
                r.Fail(Format("after job %d the program kept %lu threads", i, p.ThreadCount()));
                bOk = false;
                break;
            }
            const Snapshot s = Take(p);
            if (i == nWarmup)
            {
                warm = s;
                r.Line("after %d jobs (warm-up): %s", i, Describe(s).c_str());
            }
            if (i >= nWarmup)
            {
                sampleJobs.push_back(i);
                sampleHandles.push_back(s.dwHandles);
                samplePagefile.push_back(static_cast<double>(s.memory.cbPagefile));
                sampleWorkingSet.push_back(static_cast<double>(s.memory.cbWorkingSet));
            }
            if (i % (nSampleEvery * 4) == 0)
                r.Line("after %d jobs: %s (%.1f min)", i, Describe(s).c_str(),
                       TicksToMs(static_cast<LONGLONG>(Now() - ullSoakStart)) / 60000.0);
        }
    }
    if (!bOk)
    {
        Finish(run);
        return;
    }
    Sleep(1000);
    const Snapshot end = Take(p);
    r.Line("end: %s", Describe(end).c_str());

    // While it runs the program holds its server handle and its change registration.
    SimAccounting a{};
    SimGetAccounting(&a);
    bool bOnlyWatch = true;
    for (DWORD res = 0; res < SIM_RES_COUNT; ++res)
    {
        const LONG lHeld = a.lObtained[res] - a.lReleased[res];
        const LONG lExpected =
            (res == SIM_RES_PRINTER_HANDLE || res == SIM_RES_CHANGE_HANDLE) ? 1 : 0;
        bOnlyWatch = bOnlyWatch && lHeld == lExpected;
    }
    r.Line("simulator accounting while running: %s (%s)", Narrow(AccountingText()).c_str(),
           bOnlyWatch ? "only the server handle and the registration held" : "UNEXPECTED");
    if (!bOnlyWatch)
        r.Fail("the program holds more than its server handle and registration after the soak");

    const size_t nTenth = std::max<size_t>(1, cycle.size() / 10);
    const Summary first(Summarise(std::vector<double>(cycle.begin(), cycle.begin() + nTenth)));
    const Summary last(Summarise(std::vector<double>(cycle.end() - nTenth, cycle.end())));
    const Summary lat = Summarise(startLatency);
    r.Line("cycle (start, first status request, delete, dialog gone) (ms): %s",
           Describe(Summarise(cycle)).c_str());
    r.Line("first tenth p50 %.1f ms, last tenth p50 %.1f ms (ratio %.3f)", first.p50, last.p50,
           last.p50 / first.p50);
    r.Line("printing notification -> first status request over the soak (ms): %s",
           Describe(lat).c_str());
    const double handleSlope = Slope(sampleJobs, sampleHandles) * 1000.0;
    const double pagefileSlope = Slope(sampleJobs, samplePagefile) * 1000.0 / 1024.0;
    const double wsSlope = Slope(sampleJobs, sampleWorkingSet) * 1000.0 / 1024.0;
    r.Line("trend after the warm-up, per 1000 jobs: handles %+.2f, PagefileUsage %+.1f KB, "
           "working set %+.1f KB",
           handleSlope, pagefileSlope, wsSlope);

    const long lHandleDelta = static_cast<long>(end.dwHandles) - static_cast<long>(warm.dwHandles);
    const double pfDeltaKb =
        (static_cast<double>(end.memory.cbPagefile) - warm.memory.cbPagefile) / 1024.0;
    const double wsDeltaKb =
        (static_cast<double>(end.memory.cbWorkingSet) - warm.memory.cbWorkingSet) / 1024.0;
    r.Figure("7. soak: handles end vs after warm-up",
             Format("%lu -> %lu (%+ld; %lu at start)", warm.dwHandles, end.dwHandles, lHandleDelta,
                    start.dwHandles),
             "equal", lHandleDelta == 0);
    r.Figure("7. soak: threads end vs start", Format("%lu -> %lu", start.dwThreads, end.dwThreads),
             "equal", end.dwThreads == start.dwThreads);
    r.Figure("7. soak: memory end vs after warm-up",
             Format("PagefileUsage %+.0f KB, working set %+.0f KB (%+.1f KB per 1000 jobs)",
                    pfDeltaKb, wsDeltaKb, pagefileSlope),
             "equal within noise", std::abs(pagefileSlope) < 64.0);
    r.Figure("7. soak: cycle time, last tenth / first tenth", Format("%.3f", last.p50 / first.p50),
             "~1 (no slow-down)", last.p50 / first.p50 < 1.2);
    const double ms = Finish(run);
    r.Figure("7. soak: simulator accounting after the end",
             SimIsBalanced() && ms >= 0 ? "balanced" : "UNBALANCED", "balanced",
             SimIsBalanced() && ms >= 0);
}

} // namespace bench
