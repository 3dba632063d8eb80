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

// Handles notifications until the stop event is set (returns false) or the target driver is gone
// (posts WM_CLOSE and returns true).
bool WatchNotifications(HANDLE hStopEvent, HANDLE hChange, HWND hMainWnd,
                        PRINTER_NOTIFY_OPTIONS& options, CJobMonitorList& list)
{
    const HANDLE waits[2] = {hStopEvent, hChange};
    for (;;)
    {
        WaitForMultipleObjects(2, waits, FALSE, INFINITE);
        if (IsSignalled(hStopEvent))
            return false;
        if (!IsSignalled(hChange))
            continue;

        PPRINTER_NOTIFY_INFO pInfo = nullptr;
        DWORD dwChange = 0;
        options.Flags = 0;
        if (!FindNextPrinterChangeNotification(hChange, &dwChange, &options,
                                               reinterpret_cast<LPVOID*>(&pInfo)))
            continue;

        if ((dwChange & PRINTER_CHANGE_DELETE_PRINTER_DRIVER) && IsTargetDriverGone())
        {
            if (pInfo != nullptr)
                FreePrinterNotifyInfo(pInfo);
            PostMessageW(hMainWnd, WM_CLOSE, 0, 0);
            return true;
        }
        if (pInfo == nullptr)
            continue;

        if (pInfo->Flags & PRINTER_NOTIFY_INFO_DISCARDED)
        {
            FreePrinterNotifyInfo(pInfo);
            pInfo = nullptr;
            options.Flags = PRINTER_NOTIFY_OPTIONS_REFRESH;
            DWORD dwRefreshChange = 0;
            const BOOL bRefreshed = FindNextPrinterChangeNotification(
                hChange, &dwRefreshChange, &options, reinterpret_cast<LPVOID*>(&pInfo));
            options.Flags = 0;
            if (!bRefreshed || pInfo == nullptr)
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
    while (JobMonitorEntry* pEntry = list.GetFirst())
        RemoveJobMonitor(pEntry, list);
    return 0;
}
