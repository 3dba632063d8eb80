#include "PrinterWatcher.h"

#include "JobMonitorList.h"
#include "SpoolerQueries.h"

#include <winspool.h>

namespace
{

bool IsSignalled(HANDLE hObject)
{
    return WaitForSingleObject(hObject, 0) == WAIT_OBJECT_0;
}

// A refresh call that failed is made again after this long, even without a new notification:
// a spooler that discarded data may hold back everything else until it is refreshed.
constexpr DWORD kRefreshRetryMs = 500;
// After a failed read: the change handle may stay signalled while reads fail.
constexpr DWORD kFailedReadPauseMs = 100;

// One FindNextPrinterChangeNotification, plain or as the refresh call. pInfo receives the block,
// if any.
bool ReadNotification(HANDLE hChange, bool bRefresh, PRINTER_NOTIFY_OPTIONS& options,
                      DWORD& dwChange, PPRINTER_NOTIFY_INFO& pInfo)
{
    pInfo = nullptr;
    options.Flags = bRefresh ? PRINTER_NOTIFY_OPTIONS_REFRESH : 0;
    const BOOL bRead = FindNextPrinterChangeNotification(hChange, &dwChange, &options,
                                                         reinterpret_cast<LPVOID*>(&pInfo));
    options.Flags = 0;
    return bRead != FALSE;
}

// Handles notifications until the stop event is set (returns false) or the target driver is gone
// (posts WM_CLOSE and returns true). A refresh call that failed stays pending and is made again
// on its own.
bool WatchNotifications(HANDLE hStopEvent, HANDLE hChange, HWND hMainWnd,
                        PRINTER_NOTIFY_OPTIONS& options, CJobMonitorList& list)
{
    const HANDLE waits[2] = {hStopEvent, hChange};
    bool bRefreshPending = false;
    for (;;)
    {
        const DWORD dwWait =
            WaitForMultipleObjects(2, waits, FALSE, bRefreshPending ? kRefreshRetryMs : INFINITE);
        if (IsSignalled(hStopEvent))
            return false;
        const bool bRetry = bRefreshPending && dwWait == WAIT_TIMEOUT;
        if (!bRetry && !IsSignalled(hChange))
            continue;

        DWORD dwChange = 0;
        PPRINTER_NOTIFY_INFO pInfo = nullptr;
        if (!ReadNotification(hChange, bRetry, options, dwChange, pInfo))
        {
            if (WaitForSingleObject(hStopEvent, kFailedReadPauseMs) == WAIT_OBJECT_0)
                return false;
            continue;
        }
        if (bRetry)
            bRefreshPending = false;

        if ((dwChange & PRINTER_CHANGE_DELETE_PRINTER_DRIVER) && IsTargetDriverGone())
        {
            if (pInfo != nullptr)
                FreePrinterNotifyInfo(pInfo);
            PostMessageW(hMainWnd, WM_CLOSE, 0, 0);
            return true;
        }
        if (pInfo == nullptr)
            continue;

        if (!bRetry && (pInfo->Flags & PRINTER_NOTIFY_INFO_DISCARDED))
        {
            FreePrinterNotifyInfo(pInfo);
            DWORD dwRefreshChange = 0;
            bRefreshPending = !ReadNotification(hChange, true, options, dwRefreshChange, pInfo);
            if (pInfo == nullptr)
                continue;
        }

        DispatchStatusEntries(*pInfo, list);
        FreePrinterNotifyInfo(pInfo);
    }
}

} // namespace

void DispatchStatusEntries(const PRINTER_NOTIFY_INFO& info, CJobMonitorList& list)
{
    const PRINTER_NOTIFY_INFO_DATA* pData = info.aData;
    for (DWORD i = 0; i < info.Count; ++i)
    {
        const PRINTER_NOTIFY_INFO_DATA& entry = pData[i];
        if (entry.Type != JOB_NOTIFY_TYPE || entry.Field != JOB_NOTIFY_FIELD_STATUS)
            continue;
        const DWORD dwStatus = entry.NotifyData.adwData[0];
        if (dwStatus & JOB_STATUS_DELETED)
            OnJobDeleted(entry.Id, list);
        else if (IsPrintingStatus(dwStatus))
            OnJobPrinting(entry.Id, list);
    }
}

void OnJobPrinting(DWORD dwJobId, CJobMonitorList& list)
{
    if (list.FindByJobId(dwJobId) != nullptr)
        return;
    const CSpoolBuffer<JOB_INFO_2W> job = QueryJobInfo(dwJobId);
    if (job && IsTargetDriverName(job->pDriverName))
        AddJobMonitor(dwJobId, job->pPrinterName, list);
}

void OnJobDeleted(DWORD dwJobId, CJobMonitorList& list)
{
    if (JobMonitorEntry* pEntry = list.FindByJobId(dwJobId))
        RemoveJobMonitor(pEntry, list);
}

UINT __cdecl PrinterWatchThreadProc(LPVOID pParam)
{
    const auto* pParams = static_cast<const WatcherParams*>(pParam);
    const HANDLE hStopEvent = pParams->hStopEvent;
    const HWND hMainWnd = pParams->hMainWnd;

    WORD wFields[1] = {JOB_NOTIFY_FIELD_STATUS};
    PRINTER_NOTIFY_OPTIONS_TYPE type{};
    type.Type = JOB_NOTIFY_TYPE;
    type.Count = 1;
    type.pFields = wFields;
    PRINTER_NOTIFY_OPTIONS options{};
    options.Version = 2;
    options.Flags = 0;
    options.Count = 1;
    options.pTypes = &type;

    CJobMonitorList list;

    HANDLE hServer = nullptr;
    if (!OpenPrinterW(nullptr, &hServer, nullptr))
    {
        hServer = nullptr;
        PostMessageW(hMainWnd, WM_CLOSE, 0, 0);
    }
    else
    {
        const HANDLE hChange = FindFirstPrinterChangeNotification(
            hServer, PRINTER_CHANGE_DELETE_PRINTER_DRIVER, 0, &options);
        if (hChange == INVALID_HANDLE_VALUE)
        {
            PostMessageW(hMainWnd, WM_CLOSE, 0, 0);
        }
        else
        {
            ScanPrintingJobs(list);
            WatchNotifications(hStopEvent, hChange, hMainWnd, options, list);
            FindClosePrinterChangeNotification(hChange);
        }
    }

    if (hServer != nullptr)
        ClosePrinter(hServer);
    // Every monitor is asked first, so they end together; then each is waited for, oldest first.
    list.SignalAll();
    while (JobMonitorEntry* pEntry = list.GetFirst())
        RemoveJobMonitor(pEntry, list);
    return 0;
}
