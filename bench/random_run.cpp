// The randomized run: the real program under a seeded mix of jobs, printer answers (good and
// bad), injected failures, raw and discarded notifications, a burst of 10,000 entries, button
// presses and the removal of the driver. Checked all along (every visible dialog shows a text that
// some reported status asks for; the program keeps running) and at checkpoints, where the mix
// pauses, every job gets a distinct status, and each job that must be watched has to show its
// own text.
#include "bench.h"

#include "dialog_oracle.h"

#include <winspool.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>

namespace bench
{

namespace
{

constexpr int kTargetPrinters = 3;
constexpr int kMaxLiveJobs = 12;
constexpr ULONGLONG kTicksPerMs = 10000;
// Codes whose text holds the detail: checkpoints give each job its own text with them.
constexpr LONG kDetailCodes[] = {2009, 2012, 2013, 2014, 2021, 2022};

constexpr bool IsPrinting(DWORD dwStatus)
{
    return (dwStatus & JOB_STATUS_PRINTING) != 0 &&
           (dwStatus & (JOB_STATUS_PRINTED | JOB_STATUS_DELETED)) == 0;
}

struct FaultChoice
{
    SimCall call;
    LONG lError;        // a Win32 error, or an HRESULT for the bidi calls
    bool bLasting;      // may leave a job unwatched until it prints again (or for good)
    bool bKillsMonitor; // the monitor of a job starting now ends for good
};

// Calls that may fail during the run, each with an error its API documents. The release calls
// (ClosePrinter, FindClosePrinterChangeNotification, FreePrinterNotifyInfo) are left to the
// reliability tests: a failed release leaves the simulator's accounting open by design.
const FaultChoice kFaults[] = {
    {SIM_OPEN_PRINTER, RPC_S_SERVER_UNAVAILABLE, true, false},
    {SIM_OPEN_PRINTER, ERROR_INVALID_PRINTER_NAME, true, false},
    {SIM_ENUM_PRINTERS, ERROR_ACCESS_DENIED, true, false},
    {SIM_ENUM_JOBS, ERROR_INVALID_HANDLE, true, false},
    {SIM_GET_JOB, ERROR_INVALID_PARAMETER, true, false},
    {SIM_GET_JOB, RPC_S_SERVER_UNAVAILABLE, true, false},
    {SIM_ENUM_DRIVERS, ERROR_ACCESS_DENIED, false, false},
    {SIM_FIND_NEXT_CHANGE, ERROR_INVALID_HANDLE, false, false},
    {SIM_CREATE_BIDI_SPL, REGDB_E_CLASSNOTREG, true, true},
    {SIM_CREATE_BIDI_REQUEST, E_OUTOFMEMORY, false, false},
    {SIM_SET_SCHEMA, E_INVALIDARG, false, false},
    {SIM_SET_INPUT_DATA, E_OUTOFMEMORY, false, false},
    {SIM_BIND_DEVICE, E_HANDLE, false, false},
    {SIM_SEND_RECV, HRESULT_FROM_WIN32(ERROR_BIDI_DEVICE_OFFLINE), false, false},
    {SIM_UNBIND_DEVICE, E_HANDLE, false, false},
    {SIM_GET_RESULT, E_POINTER, false, false},
    {SIM_RESULT_VALUE, HRESULT_FROM_WIN32(ERROR_BIDI_SERVER_OFFLINE), false, false},
    {SIM_GET_ENUM_COUNT, E_HANDLE, false, false},
    {SIM_GET_OUTPUT_DATA, E_OUTOFMEMORY, false, false},
};

const char* CallName(SimCall call)
{
    switch (call)
    {
    case SIM_OPEN_PRINTER:
        return "OpenPrinter";
    case SIM_ENUM_PRINTERS:
        return "EnumPrinters";
    case SIM_ENUM_JOBS:
        return "EnumJobs";
    case SIM_GET_JOB:
        return "GetJob";
    case SIM_ENUM_DRIVERS:
        return "EnumPrinterDrivers";
    case SIM_FIND_NEXT_CHANGE:
        return "FindNextPrinterChangeNotification";
    case SIM_CREATE_BIDI_SPL:
        return "create IBidiSpl";
    case SIM_CREATE_BIDI_REQUEST:
        return "create IBidiRequest";
    case SIM_SET_SCHEMA:
        return "SetSchema";
    case SIM_SET_INPUT_DATA:
        return "SetInputData";
    case SIM_BIND_DEVICE:
        return "BindDevice";
    case SIM_SEND_RECV:
        return "SendRecv";
    case SIM_UNBIND_DEVICE:
        return "UnbindDevice";
    case SIM_GET_RESULT:
        return "GetResult";
    case SIM_RESULT_VALUE:
        return "result value";
    case SIM_GET_ENUM_COUNT:
        return "GetEnumCount";
    case SIM_GET_OUTPUT_DATA:
        return "GetOutputData";
    default:
        return "?";
    }
}

const LPCWSTR kShapePaths[] = {
    oracle::kValuePaths[0],
    oracle::kValuePaths[1],
    oracle::kValuePaths[2],
    oracle::kValuePaths[3],
    L"\\PRINTER.MEJOB.MESTATUS:MEERRORCODE",
    L"\\printer.mejob.mestatus:meerrorcodedetail",
    L"\\Printer.MEJob.MEStatus:MEShowButtonTYPE",
    L"\\Printer.MEJob.MEStatus:MEUnknownValue",
    L"\\Printer.MEJob.MEStatus",
    nullptr,
};

struct RJob
{
    DWORD dwId = 0;
    int nPrinter = 0; // kTargetPrinters: the printer of the other driver
    DWORD dwStatus = 0;
    oracle::Values values;
    bool bPresent = true;
    bool bShouldWatch = false; // the program was told it prints and was not told it left
    bool bMaybeMissed = false; // that notice came while a lasting failure was armed
    bool bMaybeDead = false;   // its monitor may have ended for good
    bool bMayBeStale = false;  // its deletion may have been lost with discarded data
    ULONGLONG ullPrintingNotice = 0;
    ULONGLONG ullLeft = 0;
};

class CRandomRun
{
public:
    explicit CRandomRun(Context& ctx) : m_ctx(ctx), m_r(ctx.report) {}
    void Run();

private:
    bool Chance(double p) { return std::uniform_real_distribution<double>(0, 1)(m_ctx.random) < p; }
    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_ctx.random); }
    LONG RandomLong()
    {
        return static_cast<LONG>(std::uniform_int_distribution<std::uint32_t>()(m_ctx.random));
    }

    bool StartProgram();
    RJob* RandomJob(bool bPresentOnly = true);
    std::vector<RJob*> PresentJobs();
    bool IsTarget(const RJob& j) const { return j.nPrinter < kTargetPrinters; }
    void NotePrinting(RJob& j);
    void NoteLeft(RJob& j);
    void AddLegit(const RJob& j);
    void AddLegitAll();

    void AddJob();
    void SetStatus();
    void DeleteJob();
    void SetValues();
    void Click();
    void Shape();
    void Fault();
    void RawEntry();
    void Discard();
    void Burst();
    void RemoveDriver();
    void ClearAll();

    void CheckDialogs();
    bool CheckRunning(const char* pszAfter);
    void Checkpoint();
    void Finish();

    Context& m_ctx;
    CReport& m_r;
    std::unique_ptr<CRun> m_run;
    std::vector<std::wstring> m_printers;
    std::map<DWORD, RJob> m_jobs;
    DWORD m_dwNextId = 1;
    std::vector<SimAnswerEntry> m_shape;
    bool m_bShape = false;
    bool m_bLastingArmed = false;
    bool m_bKillerArmed = false;
    ULONGLONG m_ullDiscarded = 0;
    std::set<std::wstring> m_legitTexts;
    std::set<std::wstring> m_legitCaptions;
    std::set<std::wstring> m_reportedTexts;
    std::map<std::string, int> m_counts;
    int m_nCheckpoints = 0;
    int m_nCheckedJobs = 0;
    int m_nRestarts = 0;
};

bool CRandomRun::StartProgram()
{
    m_run = std::make_unique<CRun>(m_r, m_ctx.exe);
    CQuenloProcess& p = m_run->Process();
    if (!p.Start(m_ctx.exe, L"bench-random") || !p.WaitWatching(60000))
    {
        m_r.Fail("the program did not come to watch the spooler");
        return false;
    }
    // The initial scan: jobs printing on target printers get monitors.
    for (auto& [id, j] : m_jobs)
    {
        j.bShouldWatch = j.bPresent && IsTarget(j) && IsPrinting(j.dwStatus);
        j.bMaybeMissed = j.bMaybeDead = j.bMayBeStale = false;
        j.ullPrintingNotice = Now();
    }
    return true;
}

std::vector<RJob*> CRandomRun::PresentJobs()
{
    std::vector<RJob*> jobs;
    for (auto& [id, j] : m_jobs)
    {
        if (j.bPresent)
            jobs.push_back(&j);
    }
    return jobs;
}

RJob* CRandomRun::RandomJob(bool bPresentOnly)
{
    std::vector<RJob*> jobs;
    for (auto& [id, j] : m_jobs)
    {
        if (j.bPresent || !bPresentOnly)
            jobs.push_back(&j);
    }
    return jobs.empty() ? nullptr : jobs[static_cast<size_t>(Pick(static_cast<int>(jobs.size())))];
}

void CRandomRun::NotePrinting(RJob& j)
{
    if (!IsTarget(j) || !j.bPresent)
        return;
    j.bShouldWatch = true;
    j.ullPrintingNotice = Now();
    j.bMaybeMissed = m_bLastingArmed;
    j.bMaybeDead = j.bMaybeDead || m_bKillerArmed;
}

void CRandomRun::NoteLeft(RJob& j)
{
    j.bShouldWatch = false;
    j.bMaybeMissed = false;
    j.bMaybeDead = false;
}

// Both readings of the job's values count: the answer's shape can change at any poll.
void CRandomRun::AddLegit(const RJob& j)
{
    if (oracle::EffectOf(j.values.lCode) == oracle::Effect::Show)
        m_legitTexts.insert(oracle::ExpectedText(m_ctx.hCatalogue, j.values));
    if (!m_bShape)
        return;
    const std::optional<oracle::Values> v = oracle::StatusFromAnswer(m_shape, j.values);
    if (v && oracle::EffectOf(v->lCode) == oracle::Effect::Show)
        m_legitTexts.insert(oracle::ExpectedText(m_ctx.hCatalogue, *v));
}

void CRandomRun::AddLegitAll()
{
    for (auto& [id, j] : m_jobs)
        AddLegit(j);
}

void CRandomRun::AddJob()
{
    if (PresentJobs().size() >= kMaxLiveJobs)
        return;
    RJob j;
    // Now and then an id that an earlier job had.
    std::vector<DWORD> gone;
    for (auto& [id, old] : m_jobs)
    {
        if (!old.bPresent && !old.bMayBeStale)
            gone.push_back(id);
    }
    j.dwId = !gone.empty() && Chance(0.2)
                 ? gone[static_cast<size_t>(Pick(static_cast<int>(gone.size())))]
                 : m_dwNextId++;
    j.nPrinter = Chance(0.15) ? kTargetPrinters : Pick(kTargetPrinters);
    j.dwStatus = Chance(0.7) ? JOB_STATUS_PRINTING : JOB_STATUS_SPOOLING;
    if (!SimAddJob(m_printers[static_cast<size_t>(j.nPrinter)].c_str(), j.dwId, j.dwStatus,
                   nullptr))
    {
        m_r.Fail(Format("SimAddJob %lu failed (%lu)", j.dwId, GetLastError()));
        return;
    }
    m_jobs[j.dwId] = j;
    RJob& added = m_jobs[j.dwId];
    if (IsPrinting(added.dwStatus))
        NotePrinting(added);
    AddLegit(added);
    ++m_counts["add job"];
}

void CRandomRun::SetStatus()
{
    RJob* j = RandomJob();
    if (j == nullptr)
        return;
    static const DWORD kStatuses[] = {JOB_STATUS_PRINTING,
                                      JOB_STATUS_PRINTING,
                                      JOB_STATUS_SPOOLING,
                                      JOB_STATUS_PRINTING | JOB_STATUS_PAUSED,
                                      JOB_STATUS_PRINTING | JOB_STATUS_PRINTED,
                                      JOB_STATUS_PRINTING | JOB_STATUS_DELETED,
                                      JOB_STATUS_ERROR | JOB_STATUS_PRINTING};
    j->dwStatus = kStatuses[Pick(static_cast<int>(std::size(kStatuses)))];
    SimSetJobStatus(j->dwId, j->dwStatus);
    if (j->dwStatus & JOB_STATUS_DELETED)
        NoteLeft(*j);
    else if (IsPrinting(j->dwStatus))
        NotePrinting(*j);
    ++m_counts["set status"];
}

void CRandomRun::DeleteJob()
{
    RJob* j = RandomJob();
    if (j == nullptr)
        return;
    SimDeleteJob(j->dwId);
    j->bPresent = false;
    j->ullLeft = Now();
    // A deletion that the spooler reports while discarded data waits for its refresh is lost.
    j->bMayBeStale = m_ullDiscarded != 0 && Now() - m_ullDiscarded < 3000 * kTicksPerMs;
    NoteLeft(*j);
    ++m_counts["delete job"];
}

void CRandomRun::SetValues()
{
    RJob* j = RandomJob();
    if (j == nullptr)
        return;
    static const LONG kOddCodes[] = {2000, 2019, 2024, 2025, 2026,   2028,     2029,
                                     1999, 2027, 0,    -5,   100000, LONG_MIN, LONG_MAX};
    static const LONG kDetails[] = {0, static_cast<LONG>(0xFFFFFFFF), 0x1A2B, 0x7FFFFFFF};
    oracle::Values v;
    v.lCode = Chance(0.35)  ? oracle::kNoError
              : Chance(0.6) ? 2001 + Pick(23)
                            : kOddCodes[Pick(static_cast<int>(std::size(kOddCodes)))];
    v.lDetail = Chance(0.5) ? kDetails[Pick(4)] : RandomLong();
    v.lButton = Chance(0.8) ? 1 + Pick(2) : (Chance(0.5) ? 0 : (Chance(0.5) ? 3 : -1));
    v.lReset = Chance(0.15) ? 1 : 0;
    j->values = v;
    SimSetJobValues(j->dwId, v.lCode, v.lDetail, v.lButton, v.lReset);
    AddLegit(*j);
    ++m_counts["set values"];
}

void CRandomRun::Click()
{
    for (HWND h : m_run->Process().Dialogs())
    {
        const HWND hButton = GetDlgItem(h, IDCANCEL);
        if (IsWindowVisible(h) && hButton != nullptr && IsWindowVisible(hButton))
        {
            DWORD_PTR result = 0;
            if (!SendMessageTimeoutW(hButton, BM_CLICK, 0, 0, SMTO_NORMAL, 10000, &result))
                m_r.Fail("a dialog did not handle BM_CLICK within 10 s");
            ++m_counts["press button"];
            return;
        }
    }
}

void CRandomRun::Shape()
{
    if (m_bShape && Chance(0.5))
    {
        SimClearAnswer();
        m_bShape = false;
        ++m_counts["answer: normal"];
        return;
    }
    static const int kSizes[] = {-1, 0, 1, 2, 3, 4, 4, 4, 8};
    const int count = Chance(0.6) ? 4 : Pick(9);
    m_shape.clear();
    for (int i = 0; i < count; ++i)
    {
        const LPCWSTR path = kShapePaths[Pick(static_cast<int>(std::size(kShapePaths)))];
        const int field = Chance(0.7) ? Pick(4) : -1;
        m_shape.push_back(oracle::Entry(path, field, RandomLong(),
                                        kSizes[Pick(static_cast<int>(std::size(kSizes)))],
                                        Chance(0.5) ? BIDI_INT : BIDI_STRING));
    }
    if (!SimSetAnswer(static_cast<DWORD>(m_shape.size()), m_shape.data()))
    {
        m_r.Fail(Format("SimSetAnswer failed (%lu)", GetLastError()));
        return;
    }
    m_bShape = true;
    AddLegitAll();
    ++m_counts[Format("answer: %d entries", count)];
}

void CRandomRun::Fault()
{
    const FaultChoice& f = kFaults[Pick(static_cast<int>(std::size(kFaults)))];
    const int filter = Pick(kTargetPrinters + 2);
    const LPCWSTR printer = filter == kTargetPrinters ? nullptr
                            : filter == kTargetPrinters + 1
                                ? L""
                                : m_printers[static_cast<size_t>(filter)].c_str();
    const DWORD dwSkip = static_cast<DWORD>(Pick(4));
    const DWORD dwCount = 1 + static_cast<DWORD>(Pick(3));
    if (!SimSetFault(f.call, static_cast<DWORD>(f.lError), dwSkip, dwCount, printer))
    {
        m_r.Fail(Format("SimSetFault %d failed (%lu)", static_cast<int>(f.call), GetLastError()));
        return;
    }
    if (f.bLasting)
    {
        m_bLastingArmed = true;
        m_bKillerArmed = m_bKillerArmed || f.bKillsMonitor;
        // A notice of the last moments may still wait for the watcher.
        const ULONGLONG now = Now();
        for (auto& [id, j] : m_jobs)
        {
            if (j.bShouldWatch && now - j.ullPrintingNotice < 3000 * kTicksPerMs)
            {
                j.bMaybeMissed = true;
                j.bMaybeDead = j.bMaybeDead || f.bKillsMonitor;
            }
        }
    }
    ++m_counts[Format("failure of %s", CallName(f.call))];
}

void CRandomRun::ClearAll()
{
    SimClearFaults();
    m_bLastingArmed = false;
    m_bKillerArmed = false;
}

void CRandomRun::RawEntry()
{
    RJob* j = RandomJob(false);
    const DWORD dwKnown = j != nullptr ? j->dwId : 1;
    switch (Pick(6))
    {
    case 0: // a job the spooler does not know
        SimQueueEntry(JOB_NOTIFY_TYPE, JOB_NOTIFY_FIELD_STATUS,
                      800000 + static_cast<DWORD>(Pick(1000)), JOB_STATUS_PRINTING);
        ++m_counts["raw: unknown job printing"];
        break;
    case 1: // another field of a known job
        SimQueueEntry(JOB_NOTIFY_TYPE, JOB_NOTIFY_FIELD_PAGES_PRINTED, dwKnown,
                      JOB_STATUS_PRINTING);
        ++m_counts["raw: other field"];
        break;
    case 2: // an entry of the printer type
        SimQueueEntry(PRINTER_NOTIFY_TYPE, PRINTER_NOTIFY_FIELD_STATUS, dwKnown,
                      JOB_STATUS_DELETED);
        ++m_counts["raw: printer type"];
        break;
    case 3: // printing, for a known job
        SimQueueEntry(JOB_NOTIFY_TYPE, JOB_NOTIFY_FIELD_STATUS, dwKnown, JOB_STATUS_PRINTING);
        if (j != nullptr && j->bPresent)
            NotePrinting(*j);
        ++m_counts["raw: printing"];
        break;
    case 4: // deleted, for a known job that may still be in the spooler
        SimQueueEntry(JOB_NOTIFY_TYPE, JOB_NOTIFY_FIELD_STATUS, dwKnown,
                      JOB_STATUS_PRINTING | JOB_STATUS_DELETED);
        if (j != nullptr)
            NoteLeft(*j);
        ++m_counts["raw: deleted"];
        break;
    default: // a driver deletion while the driver is installed
        SimQueueChange(PRINTER_CHANGE_DELETE_PRINTER_DRIVER);
        ++m_counts["raw: driver deletion, driver installed"];
        break;
    }
}

void CRandomRun::Discard()
{
    SimQueueDiscarded();
    if (Chance(0.3))
        SimQueueDiscarded(); // a repeated one
    m_ullDiscarded = Now();
    // The refresh reports every job as it is now.
    for (RJob* j : PresentJobs())
    {
        if (j->dwStatus & JOB_STATUS_DELETED)
            NoteLeft(*j);
        else if (IsPrinting(j->dwStatus))
            NotePrinting(*j);
    }
    ++m_counts["discarded block"];
}

// 10,000 entries in one block: the watcher's reads fail while they are queued.
void CRandomRun::Burst()
{
    ClearAll();
    std::vector<RJob*> present = PresentJobs();
    SimSetFault(SIM_FIND_NEXT_CHANGE, ERROR_NOT_ENOUGH_MEMORY, 0, 0, L"");
    const ULONGLONG ullStart = Now();
    for (DWORD i = 0; i < 10000; ++i)
    {
        switch (i % 5)
        {
        case 0:
            SimQueueEntry(JOB_NOTIFY_TYPE, JOB_NOTIFY_FIELD_STATUS, 900000 + i,
                          JOB_STATUS_PRINTING);
            break;
        case 1:
            SimQueueEntry(JOB_NOTIFY_TYPE, JOB_NOTIFY_FIELD_PAGES_PRINTED, 900000 + i,
                          JOB_STATUS_PRINTING);
            break;
        case 2:
            SimQueueEntry(PRINTER_NOTIFY_TYPE, PRINTER_NOTIFY_FIELD_STATUS, 0, 0);
            break;
        case 3:
            SimQueueEntry(JOB_NOTIFY_TYPE, JOB_NOTIFY_FIELD_STATUS, 900000 + i, JOB_STATUS_DELETED);
            break;
        default:
            // Printing again, for a job that is there (no second monitor).
            if (!present.empty())
                SimQueueEntry(JOB_NOTIFY_TYPE, JOB_NOTIFY_FIELD_STATUS,
                              present[i % present.size()]->dwId,
                              present[i % present.size()]->dwStatus);
            break;
        }
    }
    // Last in the block: a new job on a target printer, told as printing only here.
    RJob j;
    j.dwId = m_dwNextId++;
    j.nPrinter = 0;
    j.dwStatus = JOB_STATUS_SPOOLING;
    SimAddJob(m_printers[0].c_str(), j.dwId, j.dwStatus, nullptr);
    SimQueueEntry(JOB_NOTIFY_TYPE, JOB_NOTIFY_FIELD_STATUS, j.dwId, JOB_STATUS_PRINTING);
    const ULONGLONG ullQueued = Now();
    m_jobs[j.dwId] = j;
    for (RJob* p : present)
    {
        if (IsPrinting(p->dwStatus))
            NotePrinting(*p);
        else if (p->dwStatus & JOB_STATUS_DELETED)
            NoteLeft(*p);
    }
    SimClearFaults();
    NotePrinting(m_jobs[j.dwId]);
    const DWORD dwId = j.dwId;
    const bool bSeen = WaitUntil(
        [&]
        {
            m_run->Log().Update();
            return m_run->Log().RequestCount(dwId) > 0;
        },
        60000);
    if (bSeen)
        m_r.Line("burst: 10,000 entries queued in %.0f ms; the job at its end was asked for %.0f "
                 "ms after the watcher could read again",
                 TicksToMs(static_cast<LONGLONG>(ullQueued - ullStart)),
                 TicksToMs(static_cast<LONGLONG>(m_run->Log().Job(dwId).requests[0] - ullQueued)));
    else
        m_r.Fail("burst: the job at the end of a 10,000-entry block was not watched within 60 s");
    ++m_counts["burst of 10,000 entries"];
}

void CRandomRun::RemoveDriver()
{
    ClearAll();
    SimClearAnswer();
    m_bShape = false;
    // Another driver goes: the program stays.
    SimRemoveDriver(kOtherDriver);
    Sleep(1000);
    if (!CheckRunning("the removal of another driver"))
        return;
    SimAddDriver(kOtherDriver);

    const ULONGLONG ullRemoved = Now();
    SimRemoveDriver(kTargetDriver);
    CQuenloProcess& p = m_run->Process();
    if (WaitForSingleObject(p.Handle(), 60000) != WAIT_OBJECT_0)
    {
        m_r.Fail("the program did not end within 60 s of the removal of its driver");
        p.Kill();
    }
    else
    {
        m_r.Line("target driver removed: the program ended %.0f ms later with exit code %lu",
                 TicksToMs(static_cast<LONGLONG>(Now() - ullRemoved)), p.ExitCode());
        if (p.ExitCode() != 0)
            m_r.Fail(Format("the program ended with exit code 0x%lX", p.ExitCode()));
        if (!SimIsBalanced())
            m_r.Fail("accounting unbalanced after the program ended: " + Narrow(AccountingText()));
    }
    SimAddDriver(kTargetDriver);
    ++m_nRestarts;
    StartProgram();
    ++m_counts["driver removed, program restarted"];
}

bool CRandomRun::CheckRunning(const char* pszAfter)
{
    if (m_run->Process().Running())
        return true;
    m_r.Fail(Format("the program ended by itself (exit code 0x%lX) after %s",
                    m_run->Process().ExitCode(), pszAfter));
    if (SimIsBalanced())
        m_r.Line("(its resources were all given back)");
    // Go on with a new copy, so that the rest of the mix still runs.
    ClearAll();
    ++m_nRestarts;
    StartProgram();
    return false;
}

void CRandomRun::CheckDialogs()
{
    for (HWND h : m_run->Process().Dialogs())
    {
        if (!IsWindowVisible(h))
            continue;
        const std::wstring text = WindowText(GetDlgItem(h, IDC_MSGTEXT));
        if (m_legitTexts.count(text) == 0 && m_reportedTexts.insert(text).second)
            m_r.Fail("a dialog shows a text no status asked for: \"" + Narrow(text) + "\"");
        const HWND hButton = GetDlgItem(h, IDCANCEL);
        if (hButton != nullptr && IsWindowVisible(hButton))
        {
            const std::wstring caption = WindowText(hButton);
            if (m_legitCaptions.count(caption) == 0 && m_reportedTexts.insert(caption).second)
                m_r.Fail("a dialog's button shows \"" + Narrow(caption) + "\"");
        }
    }
}

void CRandomRun::Checkpoint()
{
    ClearAll();
    SimClearAnswer();
    m_bShape = false;
    // Let what is in flight settle, then give every job its own text.
    Sleep(1500);
    if (!CheckRunning("the last actions before a checkpoint"))
        return;
    // Jobs whose printing notice may have been lost to a failure, or that were reported deleted
    // while still printing, are told as printing again: now they must be watched.
    for (RJob* j : PresentJobs())
    {
        if (IsTarget(*j) && IsPrinting(j->dwStatus) && !j->bMaybeDead &&
            (j->bMaybeMissed || !j->bShouldWatch))
        {
            SimSetJobStatus(j->dwId, j->dwStatus);
            NotePrinting(*j);
        }
    }
    Sleep(500);
    const ULONGLONG ullSet = Now();
    std::vector<RJob*> expected;
    std::multiset<std::wstring> expectedTexts;
    for (auto& [id, j] : m_jobs)
    {
        if (!j.bPresent)
            continue;
        j.values = {kDetailCodes[id % std::size(kDetailCodes)], static_cast<LONG>(id), 1, 1};
        SimSetJobValues(id, j.values.lCode, j.values.lDetail, 1, TRUE);
        AddLegit(j);
        if (j.bShouldWatch && !j.bMaybeMissed && !j.bMaybeDead)
        {
            expected.push_back(&j);
            expectedTexts.insert(oracle::ExpectedText(m_ctx.hCatalogue, j.values));
        }
    }
    CEventLog& log = m_run->Log();
    const auto polledSince = [&](DWORD dwId, ULONGLONG since)
    {
        size_t n = 0;
        for (ULONGLONG t : log.Job(dwId).requests)
            n += t > since ? 1 : 0;
        return n;
    };
    const bool bSettled = WaitUntil(
        [&]
        {
            log.Update();
            return std::all_of(expected.begin(), expected.end(),
                               [&](const RJob* j) { return polledSince(j->dwId, ullSet) >= 2; });
        },
        20000);
    ++m_nCheckpoints;
    if (!bSettled)
    {
        for (const RJob* j : expected)
        {
            if (polledSince(j->dwId, ullSet) < 2)
                m_r.Fail(Format("checkpoint %d: job %lu (printer %d, status 0x%lX) should be "
                                "watched but was asked for %zu times in 20 s",
                                m_nCheckpoints, j->dwId, j->nPrinter, j->dwStatus,
                                polledSince(j->dwId, ullSet)));
        }
    }
    // Each watched job shows its own text; more visible dialogs only for jobs whose fate the
    // mix left open.
    std::multiset<std::wstring> shown;
    for (HWND h : m_run->Process().Dialogs())
    {
        if (IsWindowVisible(h))
            shown.insert(WindowText(GetDlgItem(h, IDC_MSGTEXT)));
    }
    int nOpen = 0;
    for (auto& [id, j] : m_jobs)
        nOpen += (j.bMaybeMissed || j.bMaybeDead || j.bMayBeStale) ? 1 : 0;
    for (const std::wstring& text : expectedTexts)
    {
        const auto it = shown.find(text);
        if (it == shown.end())
            m_r.Fail(Format("checkpoint %d: no dialog shows \"%s\"", m_nCheckpoints,
                            Narrow(text).c_str()));
        else
            shown.erase(it);
    }
    if (static_cast<int>(shown.size()) > nOpen)
        m_r.Fail(Format("checkpoint %d: %zu more dialogs visible than jobs that may show one",
                        m_nCheckpoints, shown.size()));
    // No printer was asked about a job the program must not watch.
    const ULONGLONG ullQuiet = ullSet + 1000 * kTicksPerMs;
    for (auto& [id, j] : m_jobs)
    {
        const bool bOther = !IsTarget(j);
        const bool bGone = !j.bPresent && !j.bMayBeStale && j.ullLeft + 2000 * kTicksPerMs < ullSet;
        const bool bDropped =
            j.bPresent && !j.bShouldWatch && !j.bMaybeMissed && !j.bMaybeDead && !j.bMayBeStale;
        if ((bOther || bGone || bDropped) && polledSince(id, ullQuiet) > 0)
            m_r.Fail(Format("checkpoint %d: job %lu (%s) was asked for", m_nCheckpoints, id,
                            bOther  ? "on the other driver's printer"
                            : bGone ? "deleted"
                                    : "reported deleted"));
    }
    m_nCheckedJobs += static_cast<int>(expected.size());
    // Deleted jobs are forgotten once checked; what may still be open stays.
    for (auto it = m_jobs.begin(); it != m_jobs.end();)
    {
        if (!it->second.bPresent && !it->second.bMayBeStale)
        {
            log.Forget(it->first);
            it = m_jobs.erase(it);
        }
        else
            ++it;
    }
}

void CRandomRun::Finish()
{
    for (RJob* j : PresentJobs())
    {
        SimDeleteJob(j->dwId);
        j->bPresent = false;
    }
    const double ms = m_run->Close();
    if (ms >= 0 && m_run->Process().ExitCode() == 0)
    {
        if (SimIsBalanced())
            m_r.Line("end: the program closed in %.0f ms; simulator accounting balanced (%s)", ms,
                     Narrow(AccountingText()).c_str());
        else
            m_r.Fail("accounting unbalanced after the end: " + Narrow(AccountingText()));
    }
}

void CRandomRun::Run()
{
    const Options& o = m_ctx.options;
    m_r.Section(Format("Randomized run: %d s, seed %llu", o.nRandomSeconds,
                       static_cast<unsigned long long>(o.ullSeed)));
    m_legitCaptions = {oracle::ButtonCaption(m_ctx.hCatalogue, 1),
                       oracle::ButtonCaption(m_ctx.hCatalogue, 2), L""};
    m_printers = PrepareSession(L"bench-random", kTargetPrinters);
    if (m_printers.empty() || !SimAddDriver(kOtherDriver) ||
        !SimAddPrinter(L"Other Printer", kOtherDriver))
    {
        m_r.Fail("the session of the randomized run could not be prepared");
        return;
    }
    m_printers.push_back(L"Other Printer");
    if (!StartProgram())
        return;

    const ULONGLONG ullStart = GetTickCount64();
    const ULONGLONG ullEnd = ullStart + static_cast<ULONGLONG>(o.nRandomSeconds) * 1000;
    const ULONGLONG ullBurstAt = ullStart + (ullEnd - ullStart) * 3 / 10;
    const ULONGLONG ullRemoveAt = ullStart + (ullEnd - ullStart) * 6 / 10;
    ULONGLONG ullNextCheckpoint = ullStart + 20000;
    bool bBurst = false, bRemoved = false;
    while (GetTickCount64() < ullEnd)
    {
        const int n = Pick(100);
        if (n < 14)
            AddJob();
        else if (n < 24)
            SetStatus();
        else if (n < 32)
            DeleteJob();
        else if (n < 56)
            SetValues();
        else if (n < 64)
            Click();
        else if (n < 70)
            Shape();
        else if (n < 78)
            Fault();
        else if (n < 84)
            ClearAll();
        else if (n < 94)
            RawEntry();
        else
            Discard();
        Sleep(static_cast<DWORD>(20 + Pick(130)));
        CheckRunning("the last action");
        CheckDialogs();

        const ULONGLONG now = GetTickCount64();
        if (!bBurst && now >= ullBurstAt)
        {
            bBurst = true;
            Burst();
        }
        if (!bRemoved && now >= ullRemoveAt)
        {
            bRemoved = true;
            RemoveDriver();
        }
        if (now >= ullNextCheckpoint)
        {
            Checkpoint();
            ullNextCheckpoint = GetTickCount64() + 20000;
        }
    }
    Checkpoint();
    Finish();

    std::string mix;
    for (const auto& [what, count] : m_counts)
        mix += Format("%s%s %d", mix.empty() ? "" : ", ", what.c_str(), count);
    m_r.Line("mix: %s", mix.c_str());
    m_r.Line("%d checkpoints, %d watched jobs checked there; %d restarts of the program",
             m_nCheckpoints, m_nCheckedJobs, m_nRestarts);
    m_r.Figure("R. randomized run",
               Format("seed %llu, %d s, %d checkpoints", static_cast<unsigned long long>(o.ullSeed),
                      o.nRandomSeconds, m_nCheckpoints),
               "no fault", m_r.Failures() == 0);
}

} // namespace

void RandomRun(Context& ctx)
{
    CRandomRun run(ctx);
    run.Run();
}

} // namespace bench
