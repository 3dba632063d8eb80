#include "JobMonitorList.h"

#include "../monitor/JobMonitor.h"

#include <afxwin.h>

#include <algorithm>
#include <new>

int CJobMonitorList::Add(JobMonitorEntry* pEntry)
{
    if (FindByJobId(pEntry->dwJobId) != nullptr)
        return 0;
    m_entries.push_back(pEntry);
    return 1;
}

void CJobMonitorList::Remove(JobMonitorEntry* pEntry)
{
    const auto it = std::find(m_entries.begin(), m_entries.end(), pEntry);
    if (it != m_entries.end())
        m_entries.erase(it);
}

JobMonitorEntry* CJobMonitorList::FindByJobId(DWORD dwJobId) const
{
    const auto it =
        std::find_if(m_entries.begin(), m_entries.end(),
                     [dwJobId](const JobMonitorEntry* p) { return p->dwJobId == dwJobId; });
    return it != m_entries.end() ? *it : nullptr;
}

JobMonitorEntry* CJobMonitorList::GetFirst() const
{
    return m_entries.empty() ? nullptr : m_entries.front();
}

void CJobMonitorList::SignalAll() const
{
    for (const JobMonitorEntry* pEntry : m_entries)
        SetEvent(pEntry->hStopEvent);
}

int AddJobMonitor(DWORD dwJobId, LPCWSTR pszPrinterName, CJobMonitorList& list)
{
    HANDLE hStopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (hStopEvent == nullptr)
        return 0;

    auto* pEntry = new (std::nothrow) JobMonitorEntry{};
    if (pEntry == nullptr)
    {
        CloseHandle(hStopEvent);
        return 0;
    }

    CWinThread* pThread = StartJobMonitor(dwJobId, pszPrinterName, hStopEvent);
    if (pThread == nullptr)
    {
        CloseHandle(hStopEvent);
        delete pEntry;
        return 0;
    }

    pEntry->dwJobId = dwJobId;
    pEntry->hStopEvent = hStopEvent;
    pEntry->pThread = pThread;
    if (!list.Add(pEntry))
    {
        // Never orphan a running monitor: a second entry for the job is stopped at once.
        RemoveJobMonitor(pEntry, list);
        return 0;
    }
    return 1;
}

void RemoveJobMonitor(JobMonitorEntry* pEntry, CJobMonitorList& list)
{
    SetEvent(pEntry->hStopEvent);
    list.Remove(pEntry);
    if (WaitForSingleObject(pEntry->pThread->m_hThread, INFINITE) == WAIT_OBJECT_0)
        delete pEntry->pThread;
    CloseHandle(pEntry->hStopEvent);
    delete pEntry;
}
