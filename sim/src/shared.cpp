#include "shared.h"

#include <atomic>
#include <cstring>
#include <new>
#include <cwchar>

namespace quenlo::sim
{
namespace
{

constexpr size_t kMaxSessionChars = 64;
constexpr size_t kPrefixChars = 320;

// One attached session. Attachments are never unmapped: a lock taken on one stays valid while
// another thread switches the process to a different session.
struct Attachment
{
    HANDLE hFile = INVALID_HANDLE_VALUE;
    HANDLE hMapping = nullptr;
    HANDLE hMutex = nullptr;
    SharedState* pState = nullptr;
    WCHAR szPrefix[kPrefixChars] = {};
    Attachment* pNext = nullptr;
};

SRWLOCK g_attachLock = SRWLOCK_INIT;          // taken exclusively, never nested
Attachment* g_pAttachments = nullptr;         // every session this process attached
std::atomic<Attachment*> g_current = nullptr; // the one in use
bool g_bTriedDefault = false;

void Close(Attachment& a)
{
    if (a.pState != nullptr)
        UnmapViewOfFile(a.pState);
    if (a.hMapping != nullptr)
        CloseHandle(a.hMapping);
    if (a.hFile != INVALID_HANDLE_VALUE)
        CloseHandle(a.hFile);
    if (a.hMutex != nullptr)
        CloseHandle(a.hMutex);
    a = Attachment{};
}

// Session names become part of object and file names: keep [A-Za-z0-9._-], escape the rest.
bool EncodeSession(LPCWSTR session, WCHAR* out, size_t cch)
{
    if (session == nullptr || session[0] == L'\0' || wcslen(session) > kMaxSessionChars)
        return false;
    size_t n = 0;
    for (const WCHAR* p = session; *p != L'\0'; ++p)
    {
        const WCHAR c = *p;
        const bool plain = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') ||
                           (c >= L'0' && c <= L'9') || c == L'.' || c == L'_' || c == L'-';
        if (n + 6 >= cch)
            return false;
        if (plain)
            out[n++] = c;
        else
            n += swprintf(out + n, cch - n, L"%%%04X", static_cast<unsigned>(c));
    }
    out[n] = L'\0';
    return true;
}

void Initialise(SharedState& state)
{
    std::memset(&state, 0, offsetof(SharedState, aEvents));
    for (Registration& reg : state.aRegs)
        reg.bUsed = FALSE;
    state.dwMagic = kMagic;
    state.dwVersion = kLayoutVersion;
    state.cbSize = sizeof(SharedState);
    state.dwNextGen = 1;
}

// Opens (or creates) the session's section. The state is file-backed in the prefix's temporary
// folder, so a session outlives the processes that use it, like a spooler's printers do.
bool Open(LPCWSTR session, Attachment& out)
{
    WCHAR encoded[kMaxSessionChars * 5 + 1];
    if (!EncodeSession(session, encoded, ARRAYSIZE(encoded)))
    {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    Attachment a;
    swprintf(a.szPrefix, kPrefixChars, L"Local\\QuenloSim.%ls", encoded);

    WCHAR name[kPrefixChars + 16];
    swprintf(name, ARRAYSIZE(name), L"%ls.Lock", a.szPrefix);
    a.hMutex = CreateMutexW(nullptr, FALSE, name);
    if (a.hMutex == nullptr)
        return false;
    const DWORD wait = WaitForSingleObject(a.hMutex, INFINITE);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED)
    {
        Close(a);
        return false;
    }

    bool ok = false;
    WCHAR path[MAX_PATH + 1];
    const DWORD cchTemp = GetTempPathW(MAX_PATH, path);
    if (cchTemp > 0 && cchTemp + wcslen(encoded) + 20 < MAX_PATH)
    {
        wcscat(path, L"QuenloSim.");
        wcscat(path, encoded);
        wcscat(path, L".bin");
        a.hFile = CreateFileW(path, GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    if (a.hFile != INVALID_HANDLE_VALUE)
    {
        swprintf(name, ARRAYSIZE(name), L"%ls.State", a.szPrefix);
        const ULONGLONG cb = sizeof(SharedState);
        a.hMapping = CreateFileMappingW(a.hFile, nullptr, PAGE_READWRITE,
                                        static_cast<DWORD>(cb >> 32), static_cast<DWORD>(cb), name);
        if (a.hMapping != nullptr)
            a.pState = static_cast<SharedState*>(
                MapViewOfFile(a.hMapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, cb));
        if (a.pState != nullptr)
        {
            if (a.pState->dwMagic != kMagic || a.pState->dwVersion != kLayoutVersion ||
                a.pState->cbSize != sizeof(SharedState))
                Initialise(*a.pState);
            ok = true;
        }
    }
    const DWORD error = GetLastError();
    ReleaseMutex(a.hMutex);
    if (!ok)
    {
        Close(a);
        SetLastError(error != ERROR_SUCCESS ? error : ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    out = a;
    return true;
}

// Finds or opens the attachment of a session. Call with g_attachLock held.
Attachment* Find(LPCWSTR session)
{
    Attachment opened;
    if (!Open(session, opened))
        return nullptr;
    for (Attachment* p = g_pAttachments; p != nullptr; p = p->pNext)
    {
        if (wcscmp(p->szPrefix, opened.szPrefix) == 0)
        {
            Close(opened);
            return p;
        }
    }
    Attachment* p = new (std::nothrow) Attachment(opened);
    if (p == nullptr)
    {
        Close(opened);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    p->pNext = g_pAttachments;
    g_pAttachments = p;
    return p;
}

// The attachment in use; on first use, the session named by QUENLO_SIM_SESSION.
Attachment* Current()
{
    Attachment* a = g_current.load();
    if (a != nullptr)
        return a;
    AcquireSRWLockExclusive(&g_attachLock);
    if (!g_bTriedDefault && g_current.load() == nullptr)
    {
        g_bTriedDefault = true;
        WCHAR session[kMaxSessionChars + 2];
        const DWORD n = GetEnvironmentVariableW(L"QUENLO_SIM_SESSION", session, ARRAYSIZE(session));
        g_current = Find((n > 0 && n < ARRAYSIZE(session)) ? session : L"default");
    }
    a = g_current.load();
    ReleaseSRWLockExclusive(&g_attachLock);
    return a;
}

// Runs `f` on the attached state without the session mutex (for interlocked counters).
template <typename F> void WithState(F f)
{
    if (Attachment* a = Current())
        f(*a->pState);
}

} // namespace

CStateLock::CStateLock()
{
    Attachment* a = Current();
    if (a == nullptr)
    {
        SetLastError(RPC_S_SERVER_UNAVAILABLE);
        return;
    }
    const DWORD wait = WaitForSingleObject(a->hMutex, INFINITE);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED)
    {
        SetLastError(RPC_S_SERVER_UNAVAILABLE);
        return;
    }
    m_hMutex = a->hMutex;
    m_pState = a->pState;
    m_pszPrefix = a->szPrefix;
}

CStateLock::~CStateLock()
{
    if (m_pState != nullptr)
        ReleaseMutex(m_hMutex);
}

bool AttachSession(LPCWSTR session)
{
    AcquireSRWLockExclusive(&g_attachLock);
    Attachment* a = Find(session);
    if (a != nullptr)
    {
        g_current = a;
        g_bTriedDefault = true;
    }
    ReleaseSRWLockExclusive(&g_attachLock);
    return a != nullptr;
}

void CountObtained(SimResource resource)
{
    WithState(
        [&](SharedState& s)
        {
            if (resource < SIM_RES_COUNT)
                InterlockedIncrement(&s.lObtained[resource]);
        });
}

void CountReleased(SimResource resource)
{
    WithState(
        [&](SharedState& s)
        {
            if (resource < SIM_RES_COUNT)
                InterlockedIncrement(&s.lReleased[resource]);
        });
}

void CountDroppedBinding()
{
    WithState([](SharedState& s) { InterlockedIncrement(&s.lDroppedBindings); });
}

OwnerId CurrentOwner()
{
    static const OwnerId owner = []
    {
        OwnerId id{GetCurrentProcessId(), {}};
        FILETIME exitTime, kernelTime, userTime;
        GetProcessTimes(GetCurrentProcess(), &id.ftCreated, &exitTime, &kernelTime, &userTime);
        return id;
    }();
    return owner;
}

bool SameOwner(const OwnerId& a, const OwnerId& b)
{
    return a.dwPid == b.dwPid && a.ftCreated.dwLowDateTime == b.ftCreated.dwLowDateTime &&
           a.ftCreated.dwHighDateTime == b.ftCreated.dwHighDateTime;
}

ULONGLONG Now()
{
    FILETIME ft;
    GetSystemTimePreciseAsFileTime(&ft);
    return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

} // namespace quenlo::sim
