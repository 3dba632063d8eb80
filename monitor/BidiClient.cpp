#include "BidiClient.h"

#include <objbase.h>
#include <oleauto.h>
#include <winspool.h>
#include <bidispl.h>

#include <cstring>
#include <memory>

namespace
{

constexpr WCHAR kStatusSchema[] = L"\\Printer.MEJob.MEStatus";
constexpr WCHAR kCancelClickSchema[] = L"\\Printer.MEJob:MEClickCancelButton";
constexpr WCHAR kGetAll[] = L"GetAll";
constexpr WCHAR kSet[] = L"Set";
constexpr DWORD kStatusEntryCount = 4;

// The value paths of the status answer, in JobStatus order.
constexpr LPCWSTR kStatusValuePaths[kStatusEntryCount] = {
    L"\\Printer.MEJob.MEStatus:MEErrorCode",
    L"\\Printer.MEJob.MEStatus:MEErrorCodeDetail",
    L"\\Printer.MEJob.MEStatus:MEShowButtonType",
    L"\\Printer.MEJob.MEStatus:MEButtonResetSW",
};

struct ReleaseDeleter
{
    void operator()(IUnknown* p) const noexcept { p->Release(); }
};
using BidiRequestPtr = std::unique_ptr<IBidiRequest, ReleaseDeleter>;

struct CoTaskMemDeleter
{
    void operator()(void* p) const noexcept { CoTaskMemFree(p); }
};
using CoTaskMemPtr = std::unique_ptr<void, CoTaskMemDeleter>;

struct UnbindDeleter
{
    void operator()(IBidiSpl* p) const noexcept { p->UnbindDevice(); }
};
// A printer bound by a successful BindDevice, unbound when it goes out of scope.
using DeviceBinding = std::unique_ptr<IBidiSpl, UnbindDeleter>;

// A request for `pszSchema` with the job id as its input, or null.
BidiRequestPtr CreateJobRequest(LPCWSTR pszSchema, const DWORD& dwJobId)
{
    IBidiRequest* pRequest = nullptr;
    if (FAILED(CoCreateInstance(CLSID_BidiRequest, nullptr, CLSCTX_INPROC_SERVER, IID_IBidiRequest,
                                reinterpret_cast<void**>(&pRequest))) ||
        pRequest == nullptr)
        return nullptr;
    BidiRequestPtr request(pRequest);
    if (FAILED(request->SetSchema(pszSchema)))
        return nullptr;
    if (FAILED(request->SetInputData(BIDI_INT, reinterpret_cast<const BYTE*>(&dwJobId),
                                     sizeof(dwJobId))))
        return nullptr;
    return request;
}

DeviceBinding BindPrinter(IBidiSpl* pBidiSpl, BSTR bstrPrinterName)
{
    if (FAILED(pBidiSpl->BindDevice(bstrPrinterName, BIDI_ACCESS_USER)))
        return nullptr;
    return DeviceBinding(pBidiSpl);
}

// Sends the request; TRUE when the call and the result it delivers both succeed.
BOOL SendRequest(IBidiSpl* pBidiSpl, LPCWSTR pszAction, IBidiRequest* pRequest)
{
    if (FAILED(pBidiSpl->SendRecv(pszAction, pRequest)))
        return FALSE;
    HRESULT hrResult = S_OK;
    return SUCCEEDED(pRequest->GetResult(&hrResult)) && SUCCEEDED(hrResult);
}

// Index into JobStatus order of the value that `pszPath` names, or -1.
int StatusValueIndex(LPCWSTR pszPath)
{
    for (int i = 0; i < static_cast<int>(kStatusEntryCount); ++i)
    {
        if (CompareStringOrdinal(pszPath, -1, kStatusValuePaths[i], -1, TRUE) == CSTR_EQUAL)
            return i;
    }
    return -1;
}

} // namespace

CBidiClient::CBidiClient() : m_bOpen(FALSE), m_pBidiSpl(nullptr), m_bstrPrinterName(nullptr) {}

CBidiClient::~CBidiClient()
{
    Close();
    if (m_bstrPrinterName != nullptr)
        SysFreeString(m_bstrPrinterName);
}

BOOL CBidiClient::Open()
{
    if (m_bOpen)
        return FALSE;
    // S_FALSE (already initialised on this thread) counts too; Close balances it all the same.
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
        return FALSE;
    IBidiSpl* pBidiSpl = nullptr;
    if (FAILED(CoCreateInstance(CLSID_BidiSpl, nullptr, CLSCTX_INPROC_SERVER, IID_IBidiSpl,
                                reinterpret_cast<void**>(&pBidiSpl))) ||
        pBidiSpl == nullptr)
    {
        CoUninitialize();
        return FALSE;
    }
    m_pBidiSpl = pBidiSpl;
    m_bOpen = TRUE;
    return TRUE;
}

void CBidiClient::Close()
{
    if (!m_bOpen)
        return;
    if (m_pBidiSpl != nullptr)
    {
        m_pBidiSpl->Release();
        m_pBidiSpl = nullptr;
    }
    CoUninitialize();
    m_bOpen = FALSE;
}

BOOL CBidiClient::SetPrinterName(LPCWSTR pszPrinterName)
{
    if (m_bstrPrinterName != nullptr)
    {
        SysFreeString(m_bstrPrinterName);
        m_bstrPrinterName = nullptr;
    }
    if (pszPrinterName == nullptr || pszPrinterName[0] == L'\0')
        return FALSE;
    m_bstrPrinterName = SysAllocString(pszPrinterName);
    return m_bstrPrinterName != nullptr;
}

BOOL CBidiClient::GetJobStatus(DWORD dwJobId, JobStatus* pStatus)
{
    if (m_pBidiSpl == nullptr || pStatus == nullptr)
        return FALSE;
    BidiRequestPtr request = CreateJobRequest(kStatusSchema, dwJobId);
    if (!request)
        return FALSE;
    DeviceBinding binding = BindPrinter(m_pBidiSpl, m_bstrPrinterName);
    if (!binding)
        return FALSE;
    if (!SendRequest(m_pBidiSpl, kGetAll, request.get()))
        return FALSE;

    DWORD dwCount = 0;
    if (FAILED(request->GetEnumCount(&dwCount)) || dwCount != kStatusEntryCount)
        return FALSE;

    LONG values[kStatusEntryCount] = {};
    for (DWORD dwIndex = 0; dwIndex < dwCount; ++dwIndex)
    {
        LPWSTR pszPath = nullptr;
        DWORD dwType = BIDI_NULL;
        BYTE* pData = nullptr;
        ULONG cbData = 0;
        const HRESULT hr = request->GetOutputData(dwIndex, &pszPath, &dwType, &pData, &cbData);
        // Whatever was handed out is ours to free, even from a failed call.
        const CoTaskMemPtr path(pszPath);
        const CoTaskMemPtr data(pData);
        if (FAILED(hr))
            return FALSE;
        // The reported type is not looked at; a value needs four bytes of data.
        if (pszPath == nullptr || pData == nullptr || cbData < sizeof(LONG))
            continue;
        const int nSlot = StatusValueIndex(pszPath);
        if (nSlot >= 0)
            std::memcpy(&values[nSlot], pData, sizeof(LONG));
    }

    *pStatus = JobStatus{values[0], values[1], values[2], values[3]};
    return TRUE;
}

BOOL CBidiClient::SendCancelClick(DWORD dwJobId)
{
    if (m_pBidiSpl == nullptr)
        return FALSE;
    BidiRequestPtr request = CreateJobRequest(kCancelClickSchema, dwJobId);
    if (!request)
        return FALSE;
    DeviceBinding binding = BindPrinter(m_pBidiSpl, m_bstrPrinterName);
    if (!binding)
        return FALSE;
    return SendRequest(m_pBidiSpl, kSet, request.get());
}
