// sim_probe: a small client of the spooler and the printer's bidi provider, built like the
// program (MinGW's winspool, ole32 and oleaut32; no simulator library). It registers for job
// status changes as a watcher does, waits for a job that starts printing, reads that job's status
// from the printer and sends it a cancel click. Each step prints one line; the exit code is 0
// when every step succeeded.
//
//   sim_probe [TIMEOUT_MS]
#include <windows.h>
#include <winspool.h>
#include <bidispl.h>
#include <objbase.h>
#include <oleauto.h>

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <cwctype>

namespace
{

constexpr CLSID kClsidBidiSpl = {
    0x2A614240, 0xA4C5, 0x4C33, {0xBD, 0x87, 0x1B, 0xC7, 0x09, 0x33, 0x16, 0x39}};
constexpr IID kIidBidiSpl = {
    0xD580DC0E, 0xDE39, 0x4649, {0xBA, 0xA8, 0xBF, 0x0B, 0x85, 0xA0, 0x3A, 0x97}};
constexpr CLSID kClsidBidiRequest = {
    0xB9162A23, 0x45F9, 0x47CC, {0x80, 0xF5, 0xFE, 0x0F, 0xE9, 0xB9, 0xE1, 0xA2}};
constexpr IID kIidBidiRequest = {
    0x8F348BD7, 0x4B47, 0x4755, {0x8A, 0x9D, 0x0F, 0x42, 0x2D, 0xF3, 0xDC, 0x89}};

void Line(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::printf("\n");
    std::fflush(stdout);
}

int Fail(const char* step, unsigned long code)
{
    Line("fail %s 0x%lx", step, code);
    return 1;
}

// Reads the four status values of a job, or sends the cancel click when `click` is set.
HRESULT Ask(IBidiSpl* spl, BSTR printer, DWORD jobId, bool click, LONG values[4])
{
    static const wchar_t* const paths[4] = {
        L"\\Printer.MEJob.MEStatus:MEErrorCode", L"\\Printer.MEJob.MEStatus:MEErrorCodeDetail",
        L"\\Printer.MEJob.MEStatus:MEShowButtonType", L"\\Printer.MEJob.MEStatus:MEButtonResetSW"};
    IBidiRequest* request = nullptr;
    HRESULT hr = CoCreateInstance(kClsidBidiRequest, nullptr, CLSCTX_INPROC_SERVER, kIidBidiRequest,
                                  reinterpret_cast<void**>(&request));
    if (FAILED(hr))
        return hr;
    if (SUCCEEDED(hr = request->SetSchema(click ? L"\\Printer.MEJob:MEClickCancelButton"
                                                : L"\\Printer.MEJob.MEStatus")) &&
        SUCCEEDED(hr = request->SetInputData(BIDI_INT, reinterpret_cast<const BYTE*>(&jobId),
                                             sizeof(jobId))) &&
        SUCCEEDED(hr = spl->BindDevice(printer, BIDI_ACCESS_USER)))
    {
        HRESULT result = S_OK;
        DWORD count = 0;
        if (SUCCEEDED(hr = spl->SendRecv(click ? L"Set" : L"GetAll", request)) &&
            SUCCEEDED(hr = request->GetResult(&result)) && SUCCEEDED(hr = result) && !click &&
            SUCCEEDED(hr = request->GetEnumCount(&count)))
        {
            if (count != 4)
                hr = E_UNEXPECTED;
            for (DWORD i = 0; SUCCEEDED(hr) && i < count; ++i)
            {
                LPWSTR path = nullptr;
                BYTE* data = nullptr;
                DWORD type = 0;
                ULONG size = 0;
                if (FAILED(hr = request->GetOutputData(i, &path, &type, &data, &size)))
                    break;
                for (int k = 0; k < 4 && path != nullptr && data != nullptr && size >= 4; ++k)
                    if (_wcsicmp(path, paths[k]) == 0)
                        values[k] = *reinterpret_cast<const LONG*>(data);
                CoTaskMemFree(path);
                CoTaskMemFree(data);
            }
        }
        spl->UnbindDevice();
    }
    request->Release();
    return hr;
}

// Waits for a job status entry that reports printing; returns its job id or 0.
DWORD WaitForPrintingJob(HANDLE change, PRINTER_NOTIFY_OPTIONS& options, DWORD timeout)
{
    const ULONGLONG end = GetTickCount64() + timeout;
    for (;;)
    {
        const ULONGLONG now = GetTickCount64();
        if (now >= end ||
            WaitForSingleObject(change, static_cast<DWORD>(end - now)) != WAIT_OBJECT_0)
            return 0;
        DWORD word = 0;
        void* info = nullptr;
        options.Flags = 0;
        if (!FindNextPrinterChangeNotification(change, &word, &options, &info))
            continue;
        if (info == nullptr)
            continue;
        const auto* block = static_cast<const PRINTER_NOTIFY_INFO*>(info);
        DWORD job = 0;
        for (DWORD i = 0; i < block->Count && job == 0; ++i)
        {
            const PRINTER_NOTIFY_INFO_DATA& d = block->aData[i];
            const DWORD status = d.NotifyData.adwData[0];
            if (d.Type == JOB_NOTIFY_TYPE && d.Field == JOB_NOTIFY_FIELD_STATUS &&
                (status & JOB_STATUS_PRINTING) &&
                !(status & (JOB_STATUS_PRINTED | JOB_STATUS_DELETED)))
            {
                job = d.Id;
                Line("notified %lu 0x%lx", static_cast<unsigned long>(job),
                     static_cast<unsigned long>(status));
            }
        }
        FreePrinterNotifyInfo(static_cast<PPRINTER_NOTIFY_INFO>(info));
        if (job != 0)
            return job;
    }
}

int Probe(DWORD timeout)
{
    HANDLE server = nullptr;
    if (!OpenPrinterW(nullptr, &server, nullptr))
        return Fail("open-server", GetLastError());
    WORD field = JOB_NOTIFY_FIELD_STATUS;
    PRINTER_NOTIFY_OPTIONS_TYPE type{JOB_NOTIFY_TYPE, 0, 0, 0, 1, &field};
    PRINTER_NOTIFY_OPTIONS options{2, 0, 1, &type};
    HANDLE change = FindFirstPrinterChangeNotification(server, PRINTER_CHANGE_DELETE_PRINTER_DRIVER,
                                                       0, &options);
    if (change == INVALID_HANDLE_VALUE)
    {
        const DWORD error = GetLastError();
        ClosePrinter(server);
        return Fail("register", error);
    }
    Line("ready");

    int rc = 0;
    const DWORD job = WaitForPrintingJob(change, options, timeout);
    FindClosePrinterChangeNotification(change);
    if (job == 0)
        rc = Fail("notification", WAIT_TIMEOUT);

    // The job's printer, through the print server.
    WCHAR printer[256] = {};
    if (rc == 0)
    {
        DWORD needed = 0;
        GetJobW(server, job, 2, nullptr, 0, &needed);
        BYTE* buffer =
            needed > 0 ? static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, needed)) : nullptr;
        if (buffer == nullptr || !GetJobW(server, job, 2, buffer, needed, &needed))
            rc = Fail("get-job", GetLastError());
        else
        {
            const auto* info = reinterpret_cast<const JOB_INFO_2W*>(buffer);
            wcsncpy(printer, info->pPrinterName, ARRAYSIZE(printer) - 1);
            Line("job %lu %ls %ls", static_cast<unsigned long>(job), info->pPrinterName,
                 info->pDriverName);
        }
        if (buffer != nullptr)
            HeapFree(GetProcessHeap(), 0, buffer);
    }
    ClosePrinter(server);
    if (rc != 0)
        return rc;

    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(hr))
        return Fail("com", static_cast<unsigned long>(hr));
    IBidiSpl* spl = nullptr;
    BSTR name = SysAllocString(printer);
    hr = name == nullptr ? E_OUTOFMEMORY
                         : CoCreateInstance(kClsidBidiSpl, nullptr, CLSCTX_INPROC_SERVER,
                                            kIidBidiSpl, reinterpret_cast<void**>(&spl));
    LONG values[4] = {};
    if (FAILED(hr))
        rc = Fail("bidi-spl", static_cast<unsigned long>(hr));
    else if (FAILED(hr = Ask(spl, name, job, false, values)))
        rc = Fail("status", static_cast<unsigned long>(hr));
    else
    {
        Line("status %ld %ld %ld %ld", values[0], values[1], values[2], values[3]);
        if (FAILED(hr = Ask(spl, name, job, true, values)))
            rc = Fail("click", static_cast<unsigned long>(hr));
        else
            Line("click ok");
    }
    if (spl != nullptr)
        spl->Release();
    SysFreeString(name);
    CoUninitialize();
    return rc;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const DWORD timeout = argc > 1 ? static_cast<DWORD>(std::wcstoul(argv[1], nullptr, 10)) : 20000;
    return Probe(timeout);
}
