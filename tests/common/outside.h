// Looking at a running quenlo.exe from outside: its process, its windows and their texts. Shared by
// the tests, the benchmarks and the demo's quenlo-look tool; nothing here belongs to the program.
#pragma once

#include <windows.h>

#include "wait_for.h"

#include <functional>
#include <string>
#include <vector>

namespace outside
{

inline constexpr WCHAR kFrameClass[] = L"QuenloWClass";
inline constexpr WCHAR kFrameTitle[] = L"QuenloWClass";
inline constexpr WCHAR kDialogClass[] = L"#32770";
inline constexpr WCHAR kErrorCaption[] = L"오류";
inline constexpr WCHAR kAboutCaption[] = L"정보 Quenlo";
inline constexpr int kMessageTextId = 200;
inline constexpr UINT kAppAboutCommand = 0xE140;
inline constexpr WCHAR kInstanceMutex[] = L"Message UI Application for ORLUME 470 Photo Printer";
// Every message to the program's windows gives up after this long rather than hang a test.
inline constexpr UINT kSendTimeoutMs = 30000;

// One owned kernel handle.
class UniqueHandle
{
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE h) : m_h(h) {}
    ~UniqueHandle() { Reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : m_h(other.m_h) { other.m_h = nullptr; }
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        if (this != &other)
        {
            Reset();
            m_h = other.m_h;
            other.m_h = nullptr;
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    HANDLE Get() const { return m_h; }
    explicit operator bool() const { return m_h != nullptr; }
    void Reset(HANDLE h = nullptr)
    {
        if (m_h != nullptr)
            CloseHandle(m_h);
        m_h = h;
    }

private:
    HANDLE m_h = nullptr;
};

using qtest::WaitFor;

// The folder of the running executable, with its trailing backslash.
inline std::wstring ExeDir()
{
    WCHAR path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, n < MAX_PATH ? n : 0);
    return dir.substr(0, dir.find_last_of(L'\\') + 1);
}

// The top-level windows of process `pid` (0: any process) with this class and caption (null:
// any), in z-order, visible or not.
inline std::vector<HWND> TopWindows(DWORD pid, LPCWSTR className, LPCWSTR caption)
{
    struct Query
    {
        DWORD pid;
        LPCWSTR className;
        LPCWSTR caption;
        std::vector<HWND> found;
    } query{pid, className, caption, {}};
    EnumWindows(
        [](HWND hWnd, LPARAM lParam) -> BOOL
        {
            auto& q = *reinterpret_cast<Query*>(lParam);
            DWORD owner = 0;
            GetWindowThreadProcessId(hWnd, &owner);
            if (q.pid != 0 && owner != q.pid)
                return TRUE;
            WCHAR text[256] = {};
            if (q.className != nullptr &&
                (GetClassNameW(hWnd, text, 256) == 0 || lstrcmpW(text, q.className) != 0))
                return TRUE;
            if (q.caption != nullptr)
            {
                text[0] = L'\0';
                GetWindowTextW(hWnd, text, 256);
                if (lstrcmpW(text, q.caption) != 0)
                    return TRUE;
            }
            q.found.push_back(hWnd);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&query));
    return query.found;
}

// The hidden main frame of process `pid` (0: of any process), or null.
inline HWND FindFrame(DWORD pid)
{
    const std::vector<HWND> frames = TopWindows(pid, kFrameClass, kFrameTitle);
    return frames.empty() ? nullptr : frames.front();
}

// The process of the first main frame found, or 0.
inline DWORD FindQuenloProcess()
{
    DWORD pid = 0;
    if (HWND frame = FindFrame(0))
        GetWindowThreadProcessId(frame, &pid);
    return pid;
}

inline std::vector<HWND> ErrorDialogs(DWORD pid)
{
    return TopWindows(pid, kDialogClass, kErrorCaption);
}

inline HWND FindAboutBox(DWORD pid)
{
    const std::vector<HWND> boxes = TopWindows(pid, kDialogClass, kAboutCaption);
    return boxes.empty() ? nullptr : boxes.front();
}

// The window's text through WM_GETTEXT, as the window itself answers it.
inline std::wstring TextOf(HWND hWnd)
{
    DWORD_PTR length = 0;
    if (hWnd == nullptr || !SendMessageTimeoutW(hWnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG,
                                                kSendTimeoutMs, &length))
        return L"<no answer>";
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(hWnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                             SMTO_ABORTIFHUNG, kSendTimeoutMs, &copied))
        return L"<no answer>";
    text.resize(copied);
    return text;
}

// Presses a push button as a mouse click would (BM_CLICK); true when the button's thread took it.
inline bool Click(HWND button)
{
    DWORD_PTR result = 0;
    return button != nullptr && SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG,
                                                    kSendTimeoutMs, &result) != 0;
}

// True while a copy of the program holds its single-instance marker.
inline bool InstanceMarkerExists()
{
    UniqueHandle mutex(OpenMutexW(SYNCHRONIZE, FALSE, kInstanceMutex));
    return static_cast<bool>(mutex);
}

} // namespace outside
