#include "SpoolerQueries.h"

#include "JobMonitorList.h"

#include <cwchar>

namespace
{

// Closes a spooler handle when it goes out of scope.
class CPrinterHandle
{
public:
    CPrinterHandle() = default;
    CPrinterHandle(const CPrinterHandle&) = delete;
    CPrinterHandle& operator=(const CPrinterHandle&) = delete;
    ~CPrinterHandle()
    {
        if (m_hPrinter != nullptr)
            ClosePrinter(m_hPrinter);
    }

    // A null name opens the local print server.
    BOOL Open(LPCWSTR pszName)
    {
        HANDLE hPrinter = nullptr;
        if (!OpenPrinterW(const_cast<LPWSTR>(pszName), &hPrinter, nullptr))
            return FALSE;
        m_hPrinter = hPrinter;
        return TRUE;
    }
    HANDLE Get() const { return m_hPrinter; }

private:
    HANDLE m_hPrinter = nullptr;
};

enum class SpoolFill
{
    Empty,    // the size query succeeded: there is nothing to return
    NoBuffer, // the buffer could not be obtained
    Failed,   // the size query reported no size and failed, or the fill call failed
    Filled,
};

// The spooler's two-call pattern: a size query without a buffer, then the fill call with a buffer
// of exactly the size it reported. `call(buffer, cbBuf, pcbNeeded, pcReturned)` makes one call.
template <class T, class Call>
SpoolFill FillFromSpooler(CSpoolBuffer<T>& buffer, DWORD& cReturned, Call call)
{
    DWORD cbNeeded = 0;
    cReturned = 0;
    // With something to return the size query fails for want of a buffer; an empty answer
    // succeeds, so a failure without a size is a failed read, not an empty list.
    const BOOL bSized = call(nullptr, 0, &cbNeeded, &cReturned);
    if (cbNeeded == 0)
        return bSized ? SpoolFill::Empty : SpoolFill::Failed;
    if (!buffer.Allocate(cbNeeded))
        return SpoolFill::NoBuffer;
    cReturned = 0;
    if (!call(buffer.GetBytes(), cbNeeded, &cbNeeded, &cReturned))
    {
        buffer.Free();
        return SpoolFill::Failed;
    }
    return SpoolFill::Filled;
}

void StartMonitorsForPrinter(const PRINTER_INFO_2W& printer, CJobMonitorList& list)
{
    CPrinterHandle hPrinter;
    if (!hPrinter.Open(printer.pPrinterName))
        return;

    CSpoolBuffer<JOB_INFO_1W> jobs;
    DWORD cJobs = 0;
    const SpoolFill fill =
        FillFromSpooler(jobs, cJobs,
                        [&](BYTE* pBuf, DWORD cbBuf, DWORD* pcbNeeded, DWORD* pcReturned) {
                            return EnumJobsW(hPrinter.Get(), 0, printer.cJobs, 1, pBuf, cbBuf,
                                             pcbNeeded, pcReturned);
                        });
    if (fill != SpoolFill::Filled)
        return;

    const JOB_INFO_1W* pJobs = jobs.Get();
    for (DWORD i = 0; i < cJobs; ++i)
    {
        if (IsPrintingStatus(pJobs[i].Status))
            AddJobMonitor(pJobs[i].JobId, printer.pPrinterName, list);
    }
}

} // namespace

BOOL IsTargetDriverName(LPCWSTR pszDriverName)
{
    return pszDriverName != nullptr && std::wcscmp(pszDriverName, TARGET_DRIVER_NAME) == 0;
}

BOOL IsTargetDriverGone()
{
    CSpoolBuffer<DRIVER_INFO_1W> drivers;
    DWORD cDrivers = 0;
    const SpoolFill fill = FillFromSpooler(
        drivers, cDrivers,
        [](BYTE* pBuf, DWORD cbBuf, DWORD* pcbNeeded, DWORD* pcReturned)
        { return EnumPrinterDriversW(nullptr, nullptr, 1, pBuf, cbBuf, pcbNeeded, pcReturned); });
    switch (fill)
    {
    case SpoolFill::Empty:
        return TRUE; // no driver installed at all
    case SpoolFill::NoBuffer:
    case SpoolFill::Failed:
        return FALSE; // a list that can't be read never counts as the driver being gone
    case SpoolFill::Filled:
        break;
    }

    const DRIVER_INFO_1W* pDrivers = drivers.Get();
    for (DWORD i = 0; i < cDrivers; ++i)
    {
        if (IsTargetDriverName(pDrivers[i].pName))
            return FALSE;
    }
    return TRUE;
}

CSpoolBuffer<JOB_INFO_2W> QueryJobInfo(DWORD dwJobId)
{
    CSpoolBuffer<JOB_INFO_2W> job;
    CPrinterHandle hServer;
    if (!hServer.Open(nullptr))
        return job;

    DWORD cUnused = 0;
    FillFromSpooler(job, cUnused,
                    [&](BYTE* pBuf, DWORD cbBuf, DWORD* pcbNeeded, DWORD*)
                    { return GetJobW(hServer.Get(), dwJobId, 2, pBuf, cbBuf, pcbNeeded); });
    return job;
}

void ScanPrintingJobs(CJobMonitorList& list)
{
    CSpoolBuffer<PRINTER_INFO_2W> printers;
    DWORD cPrinters = 0;
    const SpoolFill fill = FillFromSpooler(
        printers, cPrinters,
        [](BYTE* pBuf, DWORD cbBuf, DWORD* pcbNeeded, DWORD* pcReturned) {
            return EnumPrintersW(PRINTER_ENUM_NAME, nullptr, 2, pBuf, cbBuf, pcbNeeded, pcReturned);
        });
    if (fill != SpoolFill::Filled)
        return;

    const PRINTER_INFO_2W* pPrinters = printers.Get();
    for (DWORD i = 0; i < cPrinters; ++i)
    {
        if (IsTargetDriverName(pPrinters[i].pDriverName) && pPrinters[i].cJobs != 0)
            StartMonitorsForPrinter(pPrinters[i], list);
    }
}
