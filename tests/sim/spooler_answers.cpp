// spooler_answers: asks whatever spooler is loaded (the simulator, or Wine's own) a fixed list
// of questions about an empty spooler and prints one line per answer, so that the two can be
// compared. Links MinGW's winspool import library only.
#include <windows.h>
#include <winspool.h>

#include <cstdio>

namespace
{

void Answer(const char* question, BOOL ok, DWORD needed = 0, DWORD returned = 0)
{
    const DWORD error = ok ? 0 : GetLastError();
    std::printf("%s ok=%d error=%lu needed=%lu returned=%lu\n", question, ok ? 1 : 0,
                static_cast<unsigned long>(error), static_cast<unsigned long>(needed),
                static_cast<unsigned long>(returned));
}

void AskPrinters(const char* question, DWORD flags, DWORD level)
{
    DWORD needed = 0, returned = 0;
    SetLastError(0);
    const BOOL ok = EnumPrintersW(flags, nullptr, level, nullptr, 0, &needed, &returned);
    Answer(question, ok, needed, returned);
}

void AskDrivers(const char* question, LPCWSTR environment, DWORD level)
{
    DWORD needed = 0, returned = 0;
    SetLastError(0);
    const BOOL ok = EnumPrinterDriversW(nullptr, const_cast<LPWSTR>(environment), level, nullptr, 0,
                                        &needed, &returned);
    Answer(question, ok, needed, returned);
}

} // namespace

int main()
{
    HANDLE server = nullptr;
    SetLastError(0);
    const BOOL opened = OpenPrinterW(nullptr, &server, nullptr);
    Answer("open-server", opened);
    std::printf("server-handle-null %d\n", server == nullptr ? 1 : 0);

    HANDLE printer = nullptr;
    SetLastError(0);
    Answer("open-unknown-printer",
           OpenPrinterW(const_cast<LPWSTR>(L"No Such Printer"), &printer, nullptr));

    AskDrivers("enum-drivers-level1", nullptr, 1);
    AskDrivers("enum-drivers-level2", nullptr, 2);
    AskDrivers("enum-drivers-x64", L"Windows x64", 1);
    AskDrivers("enum-drivers-bad-environment", L"Windows 3.1", 1);

    AskPrinters("enum-printers-local-level1", PRINTER_ENUM_LOCAL, 1);
    AskPrinters("enum-printers-local-level2", PRINTER_ENUM_LOCAL, 2);
    AskPrinters("enum-printers-name-level2", PRINTER_ENUM_NAME, 2);
    AskPrinters("enum-printers-local-level4", PRINTER_ENUM_LOCAL, 4);
    AskPrinters("enum-printers-local-level5", PRINTER_ENUM_LOCAL, 5);
    AskPrinters("enum-printers-local-level3", PRINTER_ENUM_LOCAL, 3);

    {
        DWORD needed = 0, returned = 0;
        SetLastError(0);
        Answer("enum-printers-no-size-out",
               EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, nullptr, &returned));
        SetLastError(0);
        Answer("enum-printers-size-without-buffer",
               EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 64, &needed, &returned),
               needed, returned);
        SetLastError(0);
        Answer("enum-drivers-no-count-out",
               EnumPrinterDriversW(nullptr, nullptr, 1, nullptr, 0, &needed, nullptr));
        SetLastError(0);
        Answer("open-no-handle-out", OpenPrinterW(nullptr, nullptr, nullptr));
        SetLastError(0);
        Answer("enum-jobs-null-handle",
               EnumJobsW(nullptr, 0, 10, 1, nullptr, 0, &needed, &returned), needed, returned);
        needed = 0;
        SetLastError(0);
        Answer("get-job-null-handle", GetJobW(nullptr, 1, 2, nullptr, 0, &needed), needed);
    }
    if (opened)
    {
        DWORD needed = 0, returned = 0;
        SetLastError(0);
        Answer("enum-jobs-server", EnumJobsW(server, 0, 10, 1, nullptr, 0, &needed, &returned),
               needed, returned);
        needed = 0;
        SetLastError(0);
        const BOOL ok = GetJobW(server, 4711, 2, nullptr, 0, &needed);
        Answer("get-job-unknown", ok, needed);
        HANDLE change = FindFirstPrinterChangeNotification(server, PRINTER_CHANGE_JOB, 0, nullptr);
        std::printf("change-notification %d\n", change != INVALID_HANDLE_VALUE ? 1 : 0);
        if (change != INVALID_HANDLE_VALUE)
            FindClosePrinterChangeNotification(change);
        SetLastError(0);
        Answer("close-server", ClosePrinter(server));
    }
    SetLastError(0);
    Answer("close-null", ClosePrinter(nullptr));
    return 0;
}
