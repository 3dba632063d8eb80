// quenlo-look: what a running quenlo.exe shows, seen from outside, and a finger for its button.
//
//   quenlo-look state               the program's main frame and error dialogs, as below
//   quenlo-look wait STATE MS       waits up to MS for STATE, then prints the state
//                                   STATE: running (main frame exists), hidden (an error dialog
//                                   exists, hidden), shown (an error dialog is visible), gone (no
//                                   error dialog), ended (no main frame)
//   quenlo-look press               presses the button of the visible error dialog
//
// Output (UTF-8), one line each:
//   frame PID hidden|visible        or "frame none"
//   dialog shown|hidden X Y W H     per error dialog, then its two controls:
//     text TEXT                     (line feeds written as \n)
//     button CAPTION shown|hidden enabled|disabled
// Exit codes: 0 done, 1 not reached or nothing to press, 2 usage.
#include "outside.h"

#include <string>

using namespace outside;

namespace
{

void Write(const std::wstring& text)
{
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD written = 0;
    DWORD mode = 0;
    if (GetConsoleMode(out, &mode))
    {
        WriteConsoleW(out, text.c_str(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string bytes(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), n,
                        nullptr, nullptr);
    WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::wstring OneLine(std::wstring text)
{
    for (size_t at = text.find(L'\n'); at != std::wstring::npos; at = text.find(L'\n', at + 2))
        text.replace(at, 1, L"\\n");
    std::erase(text, L'\r');
    return text;
}

// The error dialogs of the running copy (of any process once there is no main frame).
std::vector<HWND> Dialogs()
{
    return ErrorDialogs(FindQuenloProcess());
}

void PrintState()
{
    std::wstring text;
    const DWORD pid = FindQuenloProcess();
    if (HWND frame = FindFrame(pid); pid != 0 && frame != nullptr)
        text += L"frame " + std::to_wstring(pid) +
                (IsWindowVisible(frame) ? L" visible\n" : L" hidden\n");
    else
        text += L"frame none\n";
    for (HWND dialog : Dialogs())
    {
        RECT r{};
        GetWindowRect(dialog, &r);
        text += std::wstring(L"dialog ") + (IsWindowVisible(dialog) ? L"shown " : L"hidden ") +
                std::to_wstring(r.left) + L" " + std::to_wstring(r.top) + L" " +
                std::to_wstring(r.right - r.left) + L" " + std::to_wstring(r.bottom - r.top) +
                L"\n";
        text += L"  text " + OneLine(TextOf(GetDlgItem(dialog, kMessageTextId))) + L"\n";
        HWND button = GetDlgItem(dialog, IDCANCEL);
        text += L"  button " + OneLine(TextOf(button)) +
                (IsWindowVisible(button) ? L" shown" : L" hidden") +
                (IsWindowEnabled(button) ? L" enabled\n" : L" disabled\n");
    }
    Write(text);
}

bool Reached(const std::wstring& state)
{
    if (state == L"running")
        return FindQuenloProcess() != 0;
    if (state == L"ended")
        return FindQuenloProcess() == 0;
    const std::vector<HWND> dialogs = Dialogs();
    if (state == L"gone")
        return dialogs.empty();
    const bool wantShown = state == L"shown";
    for (HWND dialog : dialogs)
        if ((IsWindowVisible(dialog) != FALSE) == wantShown)
            return true;
    return false;
}

int Usage()
{
    Write(L"usage: quenlo-look state | wait running|hidden|shown|gone|ended MS | press\n");
    return 2;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"state" && argc == 2)
    {
        PrintState();
        return 0;
    }
    if (command == L"wait" && argc == 4)
    {
        const std::wstring state = argv[2];
        if (state != L"running" && state != L"hidden" && state != L"shown" && state != L"gone" &&
            state != L"ended")
            return Usage();
        const bool reached =
            WaitFor([&] { return Reached(state); }, static_cast<DWORD>(_wtoi(argv[3])));
        PrintState();
        return reached ? 0 : 1;
    }
    if (command == L"press" && argc == 2)
    {
        for (HWND dialog : Dialogs())
        {
            if (IsWindowVisible(dialog) && Click(GetDlgItem(dialog, IDCANCEL)))
            {
                Write(L"pressed\n");
                return 0;
            }
        }
        Write(L"no visible error dialog\n");
        return 1;
    }
    return Usage();
}
