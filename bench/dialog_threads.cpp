// dialog_threads: many threads each create one hidden dialog (the error dialog's template: a
// caption, a default push button and a static text in "MS Shell Dlg"), all at once or in batches,
// then end; repeated. It holds none of the program's code. Under Wine 8.0 it shows that threads
// creating their first windows at the same moment can abort the process (glibc heap checks in
// Wine's own code), which limits how the benchmarks may start many jobs.
//
//   dialog_threads [ROUNDS [THREADS [BATCH]]]   defaults 5 100 100 (all at once)
//
// Prints one line per round; a round that never ends or a process that dies is the finding.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace
{

std::atomic<int> g_nCreated{0};
std::vector<WORD> g_template;

void Words(std::initializer_list<WORD> words)
{
    g_template.insert(g_template.end(), words);
}

void Text(const wchar_t* psz)
{
    do
        g_template.push_back(static_cast<WORD>(*psz));
    while (*psz++ != L'\0');
}

void AlignToDword()
{
    if (g_template.size() % 2 != 0)
        g_template.push_back(0);
}

void Item(DWORD dwStyle, WORD x, WORD y, WORD cx, WORD cy, WORD id, WORD wClass,
          const wchar_t* pszText)
{
    AlignToDword();
    Words({LOWORD(dwStyle), HIWORD(dwStyle), 0, 0, x, y, cx, cy, id, 0xFFFF, wClass});
    Text(pszText);
    Words({0});
}

void BuildTemplate()
{
    const DWORD dwStyle = WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT;
    Words({LOWORD(dwStyle), HIWORD(dwStyle), 0, 0, 2, 0, 0, 206, 104, 0, 0});
    Text(L"\xC624\xB958");
    Words({8});
    Text(L"MS Shell Dlg");
    Item(WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 75, 81, 55, 16, IDCANCEL, 0x80,
         L"\xCDE8\xC18C");
    Item(WS_CHILD | WS_VISIBLE | WS_GROUP | SS_CENTER, 9, 25, 192, 29, 200, 0x82, L"Static");
}

INT_PTR CALLBACK DialogProc(HWND, UINT uMsg, WPARAM, LPARAM)
{
    return uMsg == WM_INITDIALOG;
}

DWORD WINAPI DialogThread(LPVOID)
{
    const HWND hDlg = CreateDialogIndirectParamW(
        GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(g_template.data()),
        GetDesktopWindow(), DialogProc, 0);
    ++g_nCreated;
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0)
        DispatchMessageW(&msg);
    if (hDlg != nullptr)
        DestroyWindow(hDlg);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const int nRounds = argc > 1 ? std::atoi(argv[1]) : 5;
    const int nThreads = argc > 2 ? std::atoi(argv[2]) : 100;
    const int nBatch = argc > 3 ? std::max(1, std::atoi(argv[3])) : nThreads;
    BuildTemplate();
    for (int round = 0; round < nRounds; ++round)
    {
        g_nCreated = 0;
        std::vector<HANDLE> threads;
        std::vector<DWORD> ids(static_cast<size_t>(nThreads));
        const ULONGLONG ullStart = GetTickCount64();
        for (int i = 0; i < nThreads; ++i)
        {
            threads.push_back(CreateThread(nullptr, 0, DialogThread, nullptr, 0, &ids[i]));
            if ((i + 1) % nBatch == 0)
            {
                while (g_nCreated < i + 1)
                    Sleep(1);
            }
        }
        while (g_nCreated < nThreads)
            Sleep(1);
        const ULONGLONG ullCreated = GetTickCount64();
        for (int i = 0; i < nThreads; ++i)
        {
            while (!PostThreadMessageW(ids[i], WM_QUIT, 0, 0))
                Sleep(1);
        }
        for (HANDLE h : threads)
        {
            WaitForSingleObject(h, INFINITE);
            CloseHandle(h);
        }
        std::printf("round %d: %d dialogs on %d threads (batches of %d) in %llu ms\n", round + 1,
                    nThreads, nThreads, nBatch,
                    static_cast<unsigned long long>(ullCreated - ullStart));
        std::fflush(stdout);
    }
    return 0;
}
