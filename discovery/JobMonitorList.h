// The running job monitors of the printer watcher thread, keyed by spooler job id.
#pragma once

#include <windows.h>

#include <vector>

class CWinThread;

struct JobMonitorEntry
{
    DWORD dwJobId;
    HANDLE hStopEvent;   // manual reset; closed only after the monitor thread has ended
    CWinThread* pThread; // auto-delete off; deleted once the thread has ended
};

// Entries in the order they were added; holds pointers only and never frees an entry.
class CJobMonitorList
{
public:
    // 1 when appended; 0 when an entry with the same job id is already there.
    int Add(JobMonitorEntry* pEntry);
    // Unlinks this very entry, if present.
    void Remove(JobMonitorEntry* pEntry);
    JobMonitorEntry* FindByJobId(DWORD dwJobId) const;
    JobMonitorEntry* GetFirst() const;
    // Sets every entry's stop event without waiting.
    void SignalAll() const;
    int GetCount() const { return static_cast<int>(m_entries.size()); }

private:
    std::vector<JobMonitorEntry*> m_entries;
};

// Starts a monitor for the job and records it: 1 on success, 0 when nothing was started.
int AddJobMonitor(DWORD dwJobId, LPCWSTR pszPrinterName, CJobMonitorList& list);
// Stops the entry's monitor, waits for it, unlinks the entry and frees everything it held.
void RemoveJobMonitor(JobMonitorEntry* pEntry, CJobMonitorList& list);
