// quenlo-sim: drives the printer simulator of a session from the command line or a script.
#include <windows.h>
#include <winspool.h>

#include <cerrno>
#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <optional>
#include <string>
#include <vector>

#include "quenlo_sim.h"

namespace
{

using Args = std::vector<std::wstring>;

// ---------------------------------------------------------------------------------------------
// Output: UTF-8 lines on stdout, messages on stderr.

void Write(HANDLE h, const std::wstring& text)
{
    const int cb = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
    std::string bytes(cb, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), cb,
                        nullptr, nullptr);
    DWORD written = 0;
    WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void Out(const std::wstring& line)
{
    Write(GetStdHandle(STD_OUTPUT_HANDLE), line + L"\n");
}

void Err(const std::wstring& line)
{
    Write(GetStdHandle(STD_ERROR_HANDLE), L"quenlo-sim: " + line + L"\n");
}

std::wstring Num(ULONGLONG n)
{
    return std::to_wstring(n);
}

// ---------------------------------------------------------------------------------------------
// Arguments: numbers (decimal or 0x hex) and names for the usual constants.

struct Name
{
    LPCWSTR name;
    DWORD value;
};

constexpr Name kJobStatus[] = {
    {L"paused", JOB_STATUS_PAUSED},
    {L"error", JOB_STATUS_ERROR},
    {L"deleting", JOB_STATUS_DELETING},
    {L"spooling", JOB_STATUS_SPOOLING},
    {L"printing", JOB_STATUS_PRINTING},
    {L"offline", JOB_STATUS_OFFLINE},
    {L"paperout", JOB_STATUS_PAPEROUT},
    {L"printed", JOB_STATUS_PRINTED},
    {L"deleted", JOB_STATUS_DELETED},
    {L"blocked", JOB_STATUS_BLOCKED_DEVQ},
    {L"user-intervention", JOB_STATUS_USER_INTERVENTION},
    {L"restart", JOB_STATUS_RESTART},
    {L"complete", JOB_STATUS_COMPLETE},
    {L"retained", 0x2000}, // JOB_STATUS_RETAINED
};

constexpr Name kChanges[] = {
    {L"add-printer", PRINTER_CHANGE_ADD_PRINTER},
    {L"set-printer", PRINTER_CHANGE_SET_PRINTER},
    {L"delete-printer", PRINTER_CHANGE_DELETE_PRINTER},
    {L"add-job", PRINTER_CHANGE_ADD_JOB},
    {L"set-job", PRINTER_CHANGE_SET_JOB},
    {L"delete-job", PRINTER_CHANGE_DELETE_JOB},
    {L"write-job", PRINTER_CHANGE_WRITE_JOB},
    {L"add-printer-driver", PRINTER_CHANGE_ADD_PRINTER_DRIVER},
    {L"set-printer-driver", PRINTER_CHANGE_SET_PRINTER_DRIVER},
    {L"delete-printer-driver", PRINTER_CHANGE_DELETE_PRINTER_DRIVER},
    {L"timeout", PRINTER_CHANGE_TIMEOUT},
};

constexpr Name kCalls[] = {
    {L"open-printer", SIM_OPEN_PRINTER},
    {L"close-printer", SIM_CLOSE_PRINTER},
    {L"enum-printers", SIM_ENUM_PRINTERS},
    {L"enum-jobs", SIM_ENUM_JOBS},
    {L"get-job", SIM_GET_JOB},
    {L"enum-drivers", SIM_ENUM_DRIVERS},
    {L"find-first-change", SIM_FIND_FIRST_CHANGE},
    {L"find-next-change", SIM_FIND_NEXT_CHANGE},
    {L"find-close-change", SIM_FIND_CLOSE_CHANGE},
    {L"free-notify-info", SIM_FREE_NOTIFY_INFO},
    {L"create-bidi-spl", SIM_CREATE_BIDI_SPL},
    {L"create-bidi-request", SIM_CREATE_BIDI_REQUEST},
    {L"set-schema", SIM_SET_SCHEMA},
    {L"set-input-data", SIM_SET_INPUT_DATA},
    {L"bind-device", SIM_BIND_DEVICE},
    {L"send-recv", SIM_SEND_RECV},
    {L"unbind-device", SIM_UNBIND_DEVICE},
    {L"get-result", SIM_GET_RESULT},
    {L"result-value", SIM_RESULT_VALUE},
    {L"get-enum-count", SIM_GET_ENUM_COUNT},
    {L"get-output-data", SIM_GET_OUTPUT_DATA},
};

constexpr Name kKinds[] = {
    {L"status-request", SIM_EV_STATUS_REQUEST},
    {L"click", SIM_EV_CLICK},
    {L"notify", SIM_EV_NOTIFY},
};

constexpr Name kBidiTypes[] = {
    {L"null", BIDI_NULL},     {L"int", BIDI_INT},   {L"float", BIDI_FLOAT}, {L"bool", BIDI_BOOL},
    {L"string", BIDI_STRING}, {L"text", BIDI_TEXT}, {L"enum", BIDI_ENUM},   {L"blob", BIDI_BLOB},
};

constexpr Name kNotifyTypes[] = {{L"printer", PRINTER_NOTIFY_TYPE}, {L"job", JOB_NOTIFY_TYPE}};
constexpr Name kNotifyFields[] = {{L"status", JOB_NOTIFY_FIELD_STATUS}};

constexpr Name kResources[SIM_RES_COUNT] = {
    {L"printer-handle", SIM_RES_PRINTER_HANDLE},
    {L"change-handle", SIM_RES_CHANGE_HANDLE},
    {L"notify-block", SIM_RES_NOTIFY_BLOCK},
    {L"bidi-spl", SIM_RES_BIDI_SPL},
    {L"bidi-request", SIM_RES_BIDI_REQUEST},
    {L"binding", SIM_RES_BINDING},
    {L"task-mem", SIM_RES_TASK_MEM},
};

std::optional<DWORD> Number(const std::wstring& text)
{
    if (text.empty())
        return std::nullopt;
    wchar_t* end = nullptr;
    errno = 0;
    const bool negative = text[0] == L'-';
    const unsigned long long v =
        negative ? static_cast<unsigned long long>(std::wcstoll(text.c_str(), &end, 0))
                 : std::wcstoull(text.c_str(), &end, 0);
    if (errno != 0 || end == nullptr || *end != L'\0')
        return std::nullopt;
    if (!negative && v > 0xFFFFFFFFull)
        return std::nullopt;
    return static_cast<DWORD>(v);
}

// A number, a name from the table, or names joined with '|'.
template <size_t N> std::optional<DWORD> Value(const std::wstring& text, const Name (&names)[N])
{
    if (auto n = Number(text))
        return n;
    DWORD value = 0;
    size_t start = 0;
    while (start <= text.size())
    {
        size_t end = text.find(L'|', start);
        if (end == std::wstring::npos)
            end = text.size();
        const std::wstring part = text.substr(start, end - start);
        bool found = false;
        for (const Name& n : names)
        {
            if (_wcsicmp(part.c_str(), n.name) == 0)
            {
                value |= n.value;
                found = true;
            }
        }
        if (!found)
            return std::nullopt;
        start = end + 1;
    }
    return value;
}

template <size_t N> std::wstring NameOf(DWORD value, const Name (&names)[N])
{
    for (const Name& n : names)
        if (n.value == value)
            return n.name;
    return Num(value);
}

class CUsage
{
public:
    explicit CUsage(std::wstring message) : m_message(std::move(message)) {}
    const std::wstring& Message() const { return m_message; }

private:
    std::wstring m_message;
};

// Throws CUsage when the argument is missing or malformed.
template <size_t N> DWORD Arg(const Args& args, size_t i, const Name (&names)[N], LPCWSTR what)
{
    if (i >= args.size())
        throw CUsage(std::wstring(L"missing ") + what);
    auto v = Value(args[i], names);
    if (!v)
        throw CUsage(std::wstring(L"bad ") + what + L": " + args[i]);
    return *v;
}

DWORD NumArg(const Args& args, size_t i, LPCWSTR what)
{
    if (i >= args.size())
        throw CUsage(std::wstring(L"missing ") + what);
    auto v = Number(args[i]);
    if (!v)
        throw CUsage(std::wstring(L"bad ") + what + L": " + args[i]);
    return *v;
}

void NeedCount(const Args& args, size_t min, size_t max)
{
    if (args.size() < min)
        throw CUsage(L"missing arguments for " + args[0]);
    if (args.size() > max)
        throw CUsage(L"too many arguments for " + args[0]);
}

// ---------------------------------------------------------------------------------------------
// Commands. Each returns the process exit code: 0 done, 1 failed.

int Result(BOOL ok, const std::wstring& command)
{
    if (ok)
        return 0;
    Err(command + L": failed, error " + Num(GetLastError()));
    return 1;
}

// answer entries: PATH,VALUE,TYPE,SIZE; PATH "-" is a null path, VALUE "-" null data, "fN" the
// job's field N (0 error code, 1 detail, 2 button type, 3 reset flag), else a literal number.
SimAnswerEntry AnswerEntry(const std::wstring& text)
{
    std::vector<std::wstring> parts;
    size_t start = 0;
    for (;;)
    {
        const size_t comma = text.find(L',', start);
        parts.push_back(
            text.substr(start, comma == std::wstring::npos ? std::wstring::npos : comma - start));
        if (comma == std::wstring::npos)
            break;
        start = comma + 1;
    }
    if (parts.empty() || parts.size() > 4)
        throw CUsage(L"bad answer entry: " + text);
    SimAnswerEntry e{};
    e.nValue = 0;
    e.cbData = 4;
    e.dwType = BIDI_INT;
    if (parts[0] == L"-")
        e.bNullPath = TRUE;
    else if (parts[0].size() < ARRAYSIZE(e.szPath))
        wcscpy(e.szPath, parts[0].c_str());
    else
        throw CUsage(L"answer path too long: " + parts[0]);
    if (parts.size() > 1)
    {
        const std::wstring& v = parts[1];
        if (v == L"-")
            e.bNullData = TRUE;
        else if (v.size() == 2 && (v[0] == L'f' || v[0] == L'F') && v[1] >= L'0' && v[1] <= L'3')
            e.nValue = v[1] - L'0';
        else if (auto n = Number(v))
        {
            e.nValue = -1;
            e.lValue = static_cast<LONG>(*n);
        }
        else
            throw CUsage(L"bad answer value: " + v);
    }
    if (parts.size() > 2)
    {
        auto t = Value(parts[2], kBidiTypes);
        if (!t)
            throw CUsage(L"bad answer type: " + parts[2]);
        e.dwType = *t;
    }
    if (parts.size() > 3)
    {
        auto cb = Number(parts[3]);
        if (!cb)
            throw CUsage(L"bad answer size: " + parts[3]);
        e.cbData = *cb;
    }
    return e;
}

std::wstring EventLine(DWORD index, const SimEvent& e)
{
    return L"event " + Num(index) + L" " + NameOf(e.dwKind, kKinds) + L" " + Num(e.dwJobId) + L" " +
           Num(e.ullTime) + L" " + e.szPrinter;
}

int ListModel()
{
    // The model as the spooler shows it.
    DWORD needed = 0, count = 0;
    EnumPrinterDriversW(nullptr, nullptr, 1, nullptr, 0, &needed, &count);
    std::vector<BYTE> buffer(needed);
    if (needed > 0 &&
        EnumPrinterDriversW(nullptr, nullptr, 1, buffer.data(), needed, &needed, &count))
    {
        const auto* drivers = reinterpret_cast<const DRIVER_INFO_1W*>(buffer.data());
        for (DWORD i = 0; i < count; ++i)
            Out(std::wstring(L"driver ") + drivers[i].pName);
    }
    needed = count = 0;
    EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &count);
    buffer.assign(needed, 0);
    if (needed == 0 ||
        !EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, buffer.data(), needed, &needed, &count))
        return 0;
    const auto* printers = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i)
    {
        Out(std::wstring(L"printer ") + printers[i].pPrinterName + L"\t" + printers[i].pDriverName);
        HANDLE h = nullptr;
        if (!OpenPrinterW(printers[i].pPrinterName, &h, nullptr))
            continue;
        DWORD cbJobs = 0, nJobs = 0;
        EnumJobsW(h, 0, 0xFFFFFFFF, 2, nullptr, 0, &cbJobs, &nJobs);
        std::vector<BYTE> jobs(cbJobs);
        if (cbJobs > 0 && EnumJobsW(h, 0, 0xFFFFFFFF, 2, jobs.data(), cbJobs, &cbJobs, &nJobs))
        {
            const auto* j = reinterpret_cast<const JOB_INFO_2W*>(jobs.data());
            for (DWORD k = 0; k < nJobs; ++k)
                Out(L"job " + Num(j[k].JobId) + L" 0x" +
                    [&]
                    {
                        wchar_t hex[16];
                        swprintf(hex, 16, L"%lX", static_cast<unsigned long>(j[k].Status));
                        return std::wstring(hex);
                    }() +
                    L" " + j[k].pPrinterName + L"\t" + j[k].pDriverName);
        }
        ClosePrinter(h);
    }
    return 0;
}

int RunScript(const std::wstring& file, int depth);

int Run(const Args& args, int depth)
{
    const std::wstring& cmd = args[0];
    if (cmd == L"reset")
    {
        NeedCount(args, 1, 1);
        SimReset();
        return 0;
    }
    if (cmd == L"add-driver")
    {
        NeedCount(args, 2, 2);
        return Result(SimAddDriver(args[1].c_str()), cmd);
    }
    if (cmd == L"remove-driver")
    {
        NeedCount(args, 2, 2);
        return Result(SimRemoveDriver(args[1].c_str()), cmd);
    }
    if (cmd == L"add-printer")
    {
        NeedCount(args, 3, 3);
        return Result(SimAddPrinter(args[1].c_str(), args[2].c_str()), cmd);
    }
    if (cmd == L"remove-printer")
    {
        NeedCount(args, 2, 2);
        return Result(SimRemovePrinter(args[1].c_str()), cmd);
    }
    if (cmd == L"add-job")
    {
        NeedCount(args, 4, 5);
        return Result(SimAddJob(args[1].c_str(), NumArg(args, 2, L"job id"),
                                Arg(args, 3, kJobStatus, L"status"),
                                args.size() > 4 ? args[4].c_str() : nullptr),
                      cmd);
    }
    if (cmd == L"set-status")
    {
        NeedCount(args, 3, 3);
        return Result(
            SimSetJobStatus(NumArg(args, 1, L"job id"), Arg(args, 2, kJobStatus, L"status")), cmd);
    }
    if (cmd == L"delete-job")
    {
        NeedCount(args, 2, 2);
        return Result(SimDeleteJob(NumArg(args, 1, L"job id")), cmd);
    }
    if (cmd == L"set-values")
    {
        NeedCount(args, 6, 6);
        return Result(SimSetJobValues(NumArg(args, 1, L"job id"),
                                      static_cast<LONG>(NumArg(args, 2, L"error code")),
                                      static_cast<LONG>(NumArg(args, 3, L"detail")),
                                      static_cast<LONG>(NumArg(args, 4, L"button type")),
                                      static_cast<BOOL>(NumArg(args, 5, L"reset flag"))),
                      cmd);
    }
    if (cmd == L"queue-entry")
    {
        NeedCount(args, 5, 5);
        return Result(SimQueueEntry(static_cast<WORD>(Arg(args, 1, kNotifyTypes, L"type")),
                                    static_cast<WORD>(Arg(args, 2, kNotifyFields, L"field")),
                                    NumArg(args, 3, L"id"), Arg(args, 4, kJobStatus, L"data")),
                      cmd);
    }
    if (cmd == L"queue-change")
    {
        NeedCount(args, 2, 2);
        return Result(SimQueueChange(Arg(args, 1, kChanges, L"change bits")), cmd);
    }
    if (cmd == L"queue-discarded")
    {
        NeedCount(args, 1, 1);
        return Result(SimQueueDiscarded(), cmd);
    }
    if (cmd == L"answer")
    {
        NeedCount(args, 1, 9);
        std::vector<SimAnswerEntry> entries;
        for (size_t i = 1; i < args.size(); ++i)
            entries.push_back(AnswerEntry(args[i]));
        return Result(SimSetAnswer(static_cast<DWORD>(entries.size()), entries.data()), cmd);
    }
    if (cmd == L"clear-answer")
    {
        NeedCount(args, 1, 1);
        SimClearAnswer();
        return 0;
    }
    if (cmd == L"fault")
    {
        NeedCount(args, 3, 6);
        const DWORD skip = args.size() > 3 ? NumArg(args, 3, L"skip") : 0;
        const DWORD count = args.size() > 4 ? NumArg(args, 4, L"count") : 0;
        return Result(SimSetFault(static_cast<SimCall>(Arg(args, 1, kCalls, L"call")),
                                  NumArg(args, 2, L"error"), skip, count,
                                  args.size() > 5 ? args[5].c_str() : nullptr),
                      cmd);
    }
    if (cmd == L"clear-faults")
    {
        NeedCount(args, 1, 1);
        SimClearFaults();
        return 0;
    }
    if (cmd == L"list")
    {
        NeedCount(args, 1, 1);
        return ListModel();
    }
    if (cmd == L"events" || cmd == L"clicks")
    {
        NeedCount(args, 1, 2);
        const bool clicks = cmd == L"clicks";
        const std::optional<DWORD> kind =
            clicks ? std::optional<DWORD>(SIM_EV_CLICK)
                   : (args.size() > 1 ? std::optional<DWORD>(Arg(args, 1, kKinds, L"kind"))
                                      : std::nullopt);
        const std::optional<DWORD> job = clicks && args.size() > 1
                                             ? std::optional<DWORD>(NumArg(args, 1, L"job id"))
                                             : std::nullopt;
        const DWORD total = SimGetEventCount();
        for (DWORD i = 0; i < total; ++i)
        {
            SimEvent e{};
            if (!SimGetEvent(i, &e) || (kind && e.dwKind != *kind) || (job && e.dwJobId != *job))
                continue;
            Out(clicks ? L"click " + Num(e.dwJobId) + L" " + Num(e.ullTime) + L" " + e.szPrinter
                       : EventLine(i, e));
        }
        return 0;
    }
    if (cmd == L"count")
    {
        NeedCount(args, 2, 3);
        Out(Num(SimCountEvents(Arg(args, 1, kKinds, L"kind"),
                               args.size() > 2 ? NumArg(args, 2, L"job id") : 0)));
        return 0;
    }
    if (cmd == L"accounting")
    {
        NeedCount(args, 1, 1);
        SimAccounting a{};
        SimGetAccounting(&a);
        for (DWORD r = 0; r < SIM_RES_COUNT; ++r)
            Out(std::wstring(kResources[r].name) + L" " + Num(a.lObtained[r]) + L" " +
                Num(a.lReleased[r]));
        Out(L"dropped-bindings " + Num(SimGetDroppedBindings()));
        const bool balanced = SimIsBalanced() != FALSE;
        Out(balanced ? L"balanced yes" : L"balanced no");
        return balanced ? 0 : 1;
    }
    if (cmd == L"wait-event")
    {
        NeedCount(args, 5, 5);
        const DWORD kind = Arg(args, 1, kKinds, L"kind");
        const DWORD job = NumArg(args, 2, L"job id");
        const DWORD n = NumArg(args, 3, L"count");
        const DWORD timeout = NumArg(args, 4, L"timeout");
        const ULONGLONG end = GetTickCount64() + timeout;
        for (;;)
        {
            const DWORD count = SimCountEvents(kind, job);
            if (count >= n)
            {
                Out(L"reached " + Num(count));
                return 0;
            }
            if (GetTickCount64() >= end)
            {
                Out(L"timeout " + Num(count));
                return 1;
            }
            Sleep(20);
        }
    }
    if (cmd == L"registrations")
    {
        NeedCount(args, 1, 1);
        Out(Num(SimCountRegistrations()));
        return 0;
    }
    if (cmd == L"wait-registrations")
    {
        NeedCount(args, 3, 3);
        const DWORD n = NumArg(args, 1, L"count");
        const ULONGLONG end = GetTickCount64() + NumArg(args, 2, L"timeout");
        for (;;)
        {
            const DWORD count = SimCountRegistrations();
            if (count >= n)
            {
                Out(L"reached " + Num(count));
                return 0;
            }
            if (GetTickCount64() >= end)
            {
                Out(L"timeout " + Num(count));
                return 1;
            }
            Sleep(20);
        }
    }
    if (cmd == L"sleep")
    {
        NeedCount(args, 2, 2);
        Sleep(NumArg(args, 1, L"milliseconds"));
        return 0;
    }
    if (cmd == L"script")
    {
        NeedCount(args, 2, 2);
        return RunScript(args[1], depth + 1);
    }
    throw CUsage(L"unknown command: " + cmd);
}

// Splits a script line into words; "double quotes" group words with blanks.
Args Tokenize(const std::wstring& line)
{
    Args words;
    size_t i = 0;
    while (i < line.size())
    {
        while (i < line.size() && std::iswspace(line[i]))
            ++i;
        if (i >= line.size() || line[i] == L'#')
            break;
        std::wstring word;
        bool quoted = false;
        while (i < line.size() && (quoted || !std::iswspace(line[i])))
        {
            if (line[i] == L'"')
                quoted = !quoted;
            else
                word += line[i];
            ++i;
        }
        if (quoted)
            throw CUsage(L"unbalanced quotes");
        words.push_back(word);
    }
    return words;
}

std::optional<std::string> ReadAll(const std::wstring& file)
{
    HANDLE h = file == L"-" ? GetStdHandle(STD_INPUT_HANDLE)
                            : CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE || h == nullptr)
        return std::nullopt;
    std::string text;
    char buf[4096];
    DWORD n = 0;
    while (ReadFile(h, buf, sizeof(buf), &n, nullptr) && n > 0)
        text.append(buf, n);
    if (file != L"-")
        CloseHandle(h);
    return text;
}

int RunScript(const std::wstring& file, int depth)
{
    if (depth > 4)
        throw CUsage(L"scripts nested too deeply");
    const auto bytes = ReadAll(file);
    if (!bytes)
    {
        Err(L"cannot read " + file + L", error " + Num(GetLastError()));
        return 1;
    }
    size_t start = bytes->compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    const int cch = MultiByteToWideChar(CP_UTF8, 0, bytes->data() + start,
                                        static_cast<int>(bytes->size() - start), nullptr, 0);
    std::wstring text(cch, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes->data() + start, static_cast<int>(bytes->size() - start),
                        text.data(), cch);
    size_t pos = 0;
    for (unsigned lineNo = 1; pos <= text.size(); ++lineNo)
    {
        size_t end = text.find(L'\n', pos);
        if (end == std::wstring::npos)
            end = text.size();
        const std::wstring line = text.substr(pos, end - pos);
        pos = end + 1;
        try
        {
            const Args words = Tokenize(line);
            if (words.empty())
                continue;
            if (const int rc = Run(words, depth); rc != 0)
            {
                Err(file + L":" + Num(lineNo) + L": " + words[0] + L" failed");
                return rc;
            }
        }
        catch (const CUsage& usage)
        {
            Err(file + L":" + Num(lineNo) + L": " + usage.Message());
            return 2;
        }
    }
    return 0;
}

constexpr wchar_t kUsage[] =
    L"usage: quenlo-sim [--session NAME] COMMAND [ARG...]\n"
    L"  reset | list | help\n"
    L"  add-driver NAME | remove-driver NAME\n"
    L"  add-printer PRINTER DRIVER | remove-printer PRINTER\n"
    L"  add-job PRINTER JOB STATUS [DRIVER] | set-status JOB STATUS | delete-job JOB\n"
    L"  set-values JOB ERROR DETAIL BUTTON RESET\n"
    L"  queue-entry TYPE FIELD ID DATA | queue-change BITS | queue-discarded\n"
    L"  answer [PATH,VALUE,TYPE,SIZE ...] | clear-answer\n"
    L"  fault CALL ERROR [SKIP [COUNT [PRINTER]]] | clear-faults\n"
    L"  events [KIND] | clicks [JOB] | count KIND [JOB] | accounting\n"
    L"  registrations | wait-registrations N TIMEOUT_MS\n"
    L"  wait-event KIND JOB N TIMEOUT_MS | sleep MS | script FILE|-\n";

} // namespace

int wmain(int argc, wchar_t** argv)
{
    Args args(argv + 1, argv + argc);
    if (args.size() >= 2 && args[0] == L"--session")
    {
        if (!SimAttach(args[1].c_str()))
        {
            Err(L"cannot attach to session " + args[1] + L", error " + Num(GetLastError()));
            return 1;
        }
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.empty() || args[0] == L"help" || args[0] == L"--help")
    {
        Write(GetStdHandle(args.empty() ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE), kUsage);
        return args.empty() ? 2 : 0;
    }
    try
    {
        return Run(args, 0);
    }
    catch (const CUsage& usage)
    {
        Err(usage.Message());
        Write(GetStdHandle(STD_ERROR_HANDLE), kUsage);
        return 2;
    }
}
