// The target printer driver and the spooler queries of the printer watcher thread.
#pragma once

#include <windows.h>
#include <winspool.h>

#include <memory>
#include <new>

class CJobMonitorList;

// The one identification of the supported printer model.
inline constexpr WCHAR TARGET_DRIVER_NAME[] = L"ORLUME 470 Photo Printer";

// A job is printing while JOB_STATUS_PRINTING is set and it is neither printed nor deleted.
constexpr bool IsPrintingStatus(DWORD dwStatus)
{
    return (dwStatus & JOB_STATUS_PRINTING) != 0 &&
           (dwStatus & (JOB_STATUS_PRINTED | JOB_STATUS_DELETED)) == 0;
}

// A heap buffer filled by the spooler, holding records of type T and the strings they point to.
template <class T> class CSpoolBuffer
{
public:
    CSpoolBuffer() = default;

    BOOL Allocate(DWORD cb)
    {
        m_pData.reset(new (std::nothrow) BYTE[cb]);
        return m_pData != nullptr;
    }
    void Free() { m_pData.reset(); }

    BYTE* GetBytes() const { return m_pData.get(); }
    T* Get() const { return reinterpret_cast<T*>(m_pData.get()); }
    T* operator->() const { return Get(); }
    explicit operator bool() const { return m_pData != nullptr; }

private:
    std::unique_ptr<BYTE[]> m_pData;
};

BOOL IsTargetDriverName(LPCWSTR pszDriverName);
BOOL IsTargetDriverGone();
// The job's JOB_INFO_2W, read through the local print server; empty when it can't be read.
CSpoolBuffer<JOB_INFO_2W> QueryJobInfo(DWORD dwJobId);
void ScanPrintingJobs(CJobMonitorList& list);
