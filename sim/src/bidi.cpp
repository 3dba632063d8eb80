// The printer's bidi provider: the bidi spooler and bidi request classes, answering the printer
// status schema from the shared model.
#include <windows.h>
#include <winspool.h>
#include <bidispl.h>

#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "guids.h"
#include "model.h"
#include "shared.h"
#include "taskmem.h"

namespace quenlo::sim
{
namespace
{

// Bidi errors beyond those MinGW's headers define.
constexpr DWORD kErrorBidiSetDifferentType = 13006;
constexpr DWORD kErrorBidiSetUnknownFailure = 13009;
constexpr DWORD kErrorBidiSchemaWriteOnly = 13010;
constexpr DWORD kErrorBidiGetArgumentNotSupported = 13012;
constexpr DWORD kErrorBidiGetMissingArgument = 13013;

constexpr WCHAR kStatusSchema[] = L"\\Printer.MEJob.MEStatus";
constexpr WCHAR kClickSchema[] = L"\\Printer.MEJob:MEClickCancelButton";
constexpr LPCWSTR kValueSchemas[4] = {
    L"\\Printer.MEJob.MEStatus:MEErrorCode",
    L"\\Printer.MEJob.MEStatus:MEErrorCodeDetail",
    L"\\Printer.MEJob.MEStatus:MEShowButtonType",
    L"\\Printer.MEJob.MEStatus:MEButtonResetSW",
};
constexpr DWORD kValueTypes[4] = {BIDI_INT, BIDI_INT, BIDI_INT, BIDI_BOOL};

// Lets the bidi spooler find its own request objects behind an IBidiRequest pointer.
// {7C0B5E8E-3A54-4C8F-9D2B-6E1F0A9C4B31}
constexpr IID kIidSimRequest = {
    0x7C0B5E8E, 0x3A54, 0x4C8F, {0x9D, 0x2B, 0x6E, 0x1F, 0x0A, 0x9C, 0x4B, 0x31}};

LONG g_cObjects = 0; // live objects of this module
LONG g_cLocks = 0;   // IClassFactory::LockServer

HRESULT FromWin32(DWORD error)
{
    return HRESULT_FROM_WIN32(error);
}

// True when an injected fault makes this bidi call fail with `*hr`.
bool BidiFault(SimCall call, LPCWSTR printer, HRESULT* hr)
{
    CStateLock lock;
    DWORD error = 0;
    if (!lock || !TakeFault(*lock, call, printer, &error))
        return false;
    *hr = static_cast<HRESULT>(error);
    return true;
}

struct OutputEntry
{
    bool bNullPath = false;
    std::wstring path;
    bool bNullData = false;
    std::vector<BYTE> data;
    DWORD dwType = BIDI_NULL;
};

OutputEntry ValueEntry(LPCWSTR path, DWORD type, LONG value, DWORD cb)
{
    OutputEntry e;
    e.path = path;
    e.dwType = type;
    e.data.assign(cb, 0);
    std::memcpy(e.data.data(), &value, cb < sizeof(value) ? cb : sizeof(value));
    return e;
}

struct Answer
{
    HRESULT hr = S_OK;
    std::vector<OutputEntry> entries;
};

struct RequestData
{
    bool bHasSchema = false;
    std::wstring schema;
    bool bHasInput = false;
    DWORD dwInputType = BIDI_NULL;
    std::vector<BYTE> input;

    bool JobIdInput(DWORD* jobId) const
    {
        if (!bHasInput || dwInputType != BIDI_INT || input.size() != sizeof(DWORD))
            return false;
        std::memcpy(jobId, input.data(), sizeof(DWORD));
        return true;
    }
};

// The status values of a job, normally or as shaped by SimSetAnswer.
void AnswerStatus(const SharedState& s, const JobRec& job, int leaf, Answer& answer)
{
    if (leaf >= 0)
    {
        answer.entries.push_back(
            ValueEntry(kValueSchemas[leaf], kValueTypes[leaf], job.lValues[leaf], 4));
        return;
    }
    if (!s.bAnswerSet)
    {
        for (int i = 0; i < 4; ++i)
            answer.entries.push_back(
                ValueEntry(kValueSchemas[i], kValueTypes[i], job.lValues[i], 4));
        return;
    }
    for (DWORD i = 0; i < s.cAnswer; ++i)
    {
        const SimAnswerEntry& shape = s.aAnswer[i];
        const LONG value =
            (shape.nValue >= 0 && shape.nValue < 4) ? job.lValues[shape.nValue] : shape.lValue;
        OutputEntry e = ValueEntry(shape.szPath, shape.dwType, value, shape.cbData);
        e.bNullPath = shape.bNullPath != FALSE;
        e.bNullData = shape.bNullData != FALSE;
        answer.entries.push_back(std::move(e));
    }
}

int LeafIndex(const std::wstring& schema)
{
    for (int i = 0; i < 4; ++i)
        if (schema == kValueSchemas[i])
            return i;
    return -1;
}

// What the printer answers to one request. `printer` is null for a binding to the server.
Answer Provide(LPCWSTR printer, LPCWSTR action, const RequestData& request)
{
    Answer answer;
    CStateLock lock;
    if (!lock)
    {
        answer.hr = FromWin32(ERROR_BIDI_SERVER_OFFLINE);
        return answer;
    }
    SharedState& s = *lock;
    const std::wstring& schema = request.schema;
    const int leaf = LeafIndex(schema);
    const bool status = schema == kStatusSchema || leaf >= 0;
    const bool click = schema == kClickSchema;
    if (printer == nullptr || (!status && !click))
    {
        answer.hr = FromWin32(ERROR_BIDI_SCHEMA_NOT_SUPPORTED);
        return answer;
    }

    const bool get = CompareStringOrdinal(action, -1, BIDI_ACTION_GET, -1, TRUE) == CSTR_EQUAL;
    const bool getAll =
        CompareStringOrdinal(action, -1, BIDI_ACTION_GET_ALL, -1, TRUE) == CSTR_EQUAL;
    const bool set = CompareStringOrdinal(action, -1, BIDI_ACTION_SET, -1, TRUE) == CSTR_EQUAL;
    if (click && !set)
    {
        answer.hr = FromWin32(kErrorBidiSchemaWriteOnly);
        return answer;
    }
    if (status && set)
    {
        answer.hr = FromWin32(ERROR_BIDI_SCHEMA_READ_ONLY);
        return answer;
    }
    if (!get && !getAll && !set)
    {
        answer.hr = FromWin32(ERROR_NOT_SUPPORTED);
        return answer;
    }
    if (get && leaf < 0)
    {
        // "Get" reads a value, not the container.
        answer.hr = FromWin32(ERROR_BIDI_SCHEMA_NOT_SUPPORTED);
        return answer;
    }

    DWORD jobId = 0;
    if (!request.JobIdInput(&jobId))
    {
        if (set)
            answer.hr = FromWin32(kErrorBidiSetDifferentType);
        else if (!request.bHasInput || request.dwInputType == BIDI_NULL)
            answer.hr = FromWin32(kErrorBidiGetMissingArgument);
        else
            answer.hr = FromWin32(kErrorBidiGetArgumentNotSupported);
        return answer;
    }

    const JobRec* job = FindJob(s, jobId);
    const bool known = job != nullptr && SameName(job->szPrinter, printer);
    if (click)
    {
        if (!known)
        {
            answer.hr = FromWin32(kErrorBidiSetUnknownFailure);
            return answer;
        }
        LogEvent(s, SIM_EV_CLICK, jobId, printer);
        return answer;
    }
    LogEvent(s, SIM_EV_STATUS_REQUEST, jobId, printer);
    if (!known)
    {
        answer.hr = FromWin32(kErrorBidiGetArgumentNotSupported);
        return answer;
    }
    AnswerStatus(s, *job, getAll && leaf < 0 ? -1 : leaf, answer);
    return answer;
}

class CSimBidiRequest final : public IBidiRequest
{
public:
    CSimBidiRequest()
    {
        InterlockedIncrement(&g_cObjects);
        CountObtained(SIM_RES_BIDI_REQUEST);
    }
    ~CSimBidiRequest()
    {
        CountReleased(SIM_RES_BIDI_REQUEST);
        InterlockedDecrement(&g_cObjects);
    }
    CSimBidiRequest(const CSimBidiRequest&) = delete;
    CSimBidiRequest& operator=(const CSimBidiRequest&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv == nullptr)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, kIidBidiRequest) ||
            IsEqualIID(riid, kIidSimRequest))
        {
            *ppv = static_cast<IBidiRequest*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_cRef); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG n = InterlockedDecrement(&m_cRef);
        if (n == 0)
            delete this;
        return n;
    }

    STDMETHODIMP SetSchema(const LPCWSTR pszSchema) override
    {
        if (HRESULT hr = S_OK; BidiFault(SIM_SET_SCHEMA, nullptr, &hr))
            return hr;
        if (pszSchema == nullptr)
            return E_POINTER;
        try
        {
            std::wstring schema(pszSchema);
            AcquireSRWLockExclusive(&m_lock);
            m_data.schema = std::move(schema);
            m_data.bHasSchema = true;
            ForgetAnswer();
            ReleaseSRWLockExclusive(&m_lock);
        }
        catch (...)
        {
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }

    STDMETHODIMP SetInputData(const DWORD dwType, const BYTE* pData, const UINT uSize) override
    {
        if (HRESULT hr = S_OK; BidiFault(SIM_SET_INPUT_DATA, nullptr, &hr))
            return hr;
        if (pData == nullptr && uSize != 0)
            return E_POINTER;
        bool consistent = false;
        switch (dwType)
        {
        case BIDI_NULL:
            consistent = uSize == 0;
            break;
        case BIDI_INT:
        case BIDI_FLOAT:
        case BIDI_BOOL:
            consistent = uSize == 4;
            break;
        case BIDI_STRING:
        case BIDI_TEXT:
        case BIDI_ENUM:
            consistent = uSize % sizeof(WCHAR) == 0;
            break;
        case BIDI_BLOB:
            consistent = true;
            break;
        default:
            break;
        }
        if (!consistent)
            return E_INVALIDARG;
        try
        {
            std::vector<BYTE> input(pData, pData + uSize);
            AcquireSRWLockExclusive(&m_lock);
            m_data.input = std::move(input);
            m_data.dwInputType = dwType;
            m_data.bHasInput = true;
            ForgetAnswer();
            ReleaseSRWLockExclusive(&m_lock);
        }
        catch (...)
        {
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }

    STDMETHODIMP GetResult(HRESULT* phr) override
    {
        std::wstring printer;
        const LPCWSTR filter = Answerer(printer);
        if (HRESULT hr = S_OK; BidiFault(SIM_GET_RESULT, filter, &hr))
            return hr;
        if (phr == nullptr)
            return E_POINTER;
        if (HRESULT hr = S_OK; BidiFault(SIM_RESULT_VALUE, filter, &hr))
        {
            *phr = hr;
            return S_OK;
        }
        AcquireSRWLockShared(&m_lock);
        // A request that was never sent has no result yet.
        *phr = m_bSent ? m_answer.hr : E_PENDING;
        ReleaseSRWLockShared(&m_lock);
        return S_OK;
    }

    STDMETHODIMP GetOutputData(const DWORD dwIndex, LPWSTR* ppszSchema, DWORD* pdwType,
                               BYTE** ppData, ULONG* uSize) override
    {
        std::wstring printer;
        if (HRESULT hr = S_OK; BidiFault(SIM_GET_OUTPUT_DATA, Answerer(printer), &hr))
            return hr;
        if (ppszSchema == nullptr || pdwType == nullptr || ppData == nullptr || uSize == nullptr)
            return E_POINTER;
        *ppszSchema = nullptr;
        *ppData = nullptr;
        *pdwType = BIDI_NULL;
        *uSize = 0;
        OutputEntry entry;
        AcquireSRWLockShared(&m_lock);
        const bool inRange = m_bSent && dwIndex < m_answer.entries.size();
        bool copied = false;
        if (inRange)
        {
            try
            {
                entry = m_answer.entries[dwIndex];
                copied = true;
            }
            catch (...)
            {
            }
        }
        ReleaseSRWLockShared(&m_lock);
        if (!inRange)
            return E_INVALIDARG;
        if (!copied)
            return E_OUTOFMEMORY;

        LPWSTR path = nullptr;
        if (!entry.bNullPath)
        {
            const SIZE_T cb = (entry.path.size() + 1) * sizeof(WCHAR);
            path = static_cast<LPWSTR>(AllocTracked(cb));
            if (path == nullptr)
                return E_OUTOFMEMORY;
            std::memcpy(path, entry.path.c_str(), cb);
        }
        BYTE* data = nullptr;
        if (!entry.bNullData)
        {
            data = static_cast<BYTE*>(AllocTracked(entry.data.empty() ? 1 : entry.data.size()));
            if (data == nullptr)
            {
                CoTaskMemFree(path);
                return E_OUTOFMEMORY;
            }
            if (!entry.data.empty())
                std::memcpy(data, entry.data.data(), entry.data.size());
        }
        *ppszSchema = path;
        *pdwType = entry.dwType;
        *ppData = data;
        *uSize = data != nullptr ? static_cast<ULONG>(entry.data.size()) : 0;
        return S_OK;
    }

    STDMETHODIMP GetEnumCount(DWORD* pdwTotal) override
    {
        std::wstring printer;
        if (HRESULT hr = S_OK; BidiFault(SIM_GET_ENUM_COUNT, Answerer(printer), &hr))
            return hr;
        if (pdwTotal == nullptr)
            return E_POINTER;
        AcquireSRWLockShared(&m_lock);
        *pdwTotal = m_bSent ? static_cast<DWORD>(m_answer.entries.size()) : 0;
        ReleaseSRWLockShared(&m_lock);
        return S_OK;
    }

    // For the bidi spooler.
    bool Snapshot(RequestData& data)
    {
        AcquireSRWLockShared(&m_lock);
        bool ok = true;
        try
        {
            data = m_data;
        }
        catch (...)
        {
            ok = false;
        }
        ReleaseSRWLockShared(&m_lock);
        return ok;
    }
    bool Complete(LPCWSTR printer, Answer&& answer)
    {
        try
        {
            std::wstring name(printer != nullptr ? printer : L"");
            AcquireSRWLockExclusive(&m_lock);
            m_printer = std::move(name);
            m_answer = std::move(answer);
            m_bSent = true;
            ReleaseSRWLockExclusive(&m_lock);
        }
        catch (...)
        {
            return false;
        }
        return true;
    }

private:
    void ForgetAnswer()
    {
        m_bSent = false;
        m_answer = Answer{};
    }
    // The printer that answered the request (for fault filters), or null before it was sent.
    LPCWSTR Answerer(std::wstring& printer)
    {
        AcquireSRWLockShared(&m_lock);
        bool sent = m_bSent;
        try
        {
            printer = m_printer;
        }
        catch (...)
        {
            sent = false;
        }
        ReleaseSRWLockShared(&m_lock);
        return sent ? printer.c_str() : nullptr;
    }

    LONG m_cRef = 1;
    SRWLOCK m_lock = SRWLOCK_INIT;
    RequestData m_data;
    bool m_bSent = false;
    std::wstring m_printer; // the printer that answered
    Answer m_answer;
};

class CSimBidiSpl final : public IBidiSpl
{
public:
    CSimBidiSpl()
    {
        InterlockedIncrement(&g_cObjects);
        CountObtained(SIM_RES_BIDI_SPL);
    }
    ~CSimBidiSpl()
    {
        if (m_bBound)
        {
            // Released while bound: the binding goes with the object.
            CountReleased(SIM_RES_BINDING);
            CountDroppedBinding();
        }
        CountReleased(SIM_RES_BIDI_SPL);
        InterlockedDecrement(&g_cObjects);
    }
    CSimBidiSpl(const CSimBidiSpl&) = delete;
    CSimBidiSpl& operator=(const CSimBidiSpl&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv == nullptr)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, kIidBidiSpl))
        {
            *ppv = static_cast<IBidiSpl*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_cRef); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG n = InterlockedDecrement(&m_cRef);
        if (n == 0)
            delete this;
        return n;
    }

    STDMETHODIMP BindDevice(const LPCWSTR pszDeviceName, const DWORD dwAccess) override
    {
        if (HRESULT hr = S_OK;
            BidiFault(SIM_BIND_DEVICE, pszDeviceName != nullptr ? pszDeviceName : L"", &hr))
            return hr;
        if (dwAccess != BIDI_ACCESS_ADMINISTRATOR && dwAccess != BIDI_ACCESS_USER)
            return E_INVALIDARG;
        std::wstring name;
        if (pszDeviceName != nullptr && pszDeviceName[0] != L'\0')
        {
            CStateLock lock;
            if (!lock)
                return FromWin32(RPC_S_SERVER_UNAVAILABLE);
            const PrinterRec* printer = FindPrinter(*lock, pszDeviceName);
            if (printer == nullptr)
                return FromWin32(ERROR_INVALID_PRINTER_NAME);
            try
            {
                name = printer->szName;
            }
            catch (...)
            {
                return E_OUTOFMEMORY;
            }
        }
        AcquireSRWLockExclusive(&m_lock);
        const bool wasBound = m_bBound;
        m_bBound = true;
        m_bServer = name.empty();
        m_printer.swap(name);
        ReleaseSRWLockExclusive(&m_lock);
        if (wasBound)
        {
            // Binding again drops the earlier binding.
            CountReleased(SIM_RES_BINDING);
            CountDroppedBinding();
        }
        CountObtained(SIM_RES_BINDING);
        return S_OK;
    }

    STDMETHODIMP UnbindDevice() override
    {
        std::wstring printer;
        bool bound = Bound(printer);
        if (HRESULT hr = S_OK; BidiFault(SIM_UNBIND_DEVICE, bound ? printer.c_str() : nullptr, &hr))
            return hr;
        AcquireSRWLockExclusive(&m_lock);
        bound = m_bBound;
        m_bBound = false;
        m_printer.clear();
        ReleaseSRWLockExclusive(&m_lock);
        if (!bound)
            return E_HANDLE;
        CountReleased(SIM_RES_BINDING);
        return S_OK;
    }

    STDMETHODIMP SendRecv(const LPCWSTR pszAction, IBidiRequest* pRequest) override
    {
        std::wstring printer;
        const bool bound = Bound(printer);
        if (HRESULT hr = S_OK; BidiFault(SIM_SEND_RECV, bound ? printer.c_str() : nullptr, &hr))
            return hr;
        if (pszAction == nullptr || pRequest == nullptr)
            return E_POINTER;
        if (!bound)
            return E_HANDLE;
        return Send(pszAction, pRequest, printer);
    }

    STDMETHODIMP MultiSendRecv(const LPCWSTR pszAction,
                               IBidiRequestContainer* pRequestContainer) override
    {
        std::wstring printer;
        const bool bound = Bound(printer);
        if (HRESULT hr = S_OK; BidiFault(SIM_SEND_RECV, bound ? printer.c_str() : nullptr, &hr))
            return hr;
        if (pszAction == nullptr || pRequestContainer == nullptr)
            return E_POINTER;
        if (!bound)
            return E_HANDLE;
        IEnumUnknown* pEnum = nullptr;
        HRESULT hr = pRequestContainer->GetEnumObject(&pEnum);
        if (FAILED(hr))
            return hr;
        if (pEnum == nullptr)
            return E_POINTER;
        HRESULT result = S_OK;
        for (;;)
        {
            IUnknown* pUnk = nullptr;
            ULONG fetched = 0;
            if (pEnum->Next(1, &pUnk, &fetched) != S_OK || pUnk == nullptr)
                break;
            IBidiRequest* pRequest = nullptr;
            hr = pUnk->QueryInterface(kIidBidiRequest, reinterpret_cast<void**>(&pRequest));
            pUnk->Release();
            if (SUCCEEDED(hr))
            {
                hr = Send(pszAction, pRequest, printer);
                pRequest->Release();
            }
            if (FAILED(hr) && SUCCEEDED(result))
                result = hr;
        }
        pEnum->Release();
        return result;
    }

private:
    bool Bound(std::wstring& printer)
    {
        AcquireSRWLockShared(&m_lock);
        const bool bound = m_bBound;
        bool copied = true;
        try
        {
            printer = m_printer;
        }
        catch (...)
        {
            copied = false;
        }
        ReleaseSRWLockShared(&m_lock);
        return bound && copied;
    }

    HRESULT Send(LPCWSTR action, IBidiRequest* pRequest, const std::wstring& printer)
    {
        CSimBidiRequest* request = nullptr;
        if (FAILED(pRequest->QueryInterface(kIidSimRequest, reinterpret_cast<void**>(&request))))
            return E_INVALIDARG; // not a request of this provider
        HRESULT hr = S_OK;
        RequestData data;
        static constexpr LPCWSTR kActions[] = {BIDI_ACTION_ENUM_SCHEMA, BIDI_ACTION_GET,
                                               BIDI_ACTION_SET, BIDI_ACTION_GET_ALL,
                                               L"GetWithArgument"};
        bool knownAction = false;
        for (LPCWSTR a : kActions)
            knownAction =
                knownAction || CompareStringOrdinal(action, -1, a, -1, TRUE) == CSTR_EQUAL;
        if (!knownAction)
            hr = E_INVALIDARG;
        else if (!request->Snapshot(data))
            hr = E_OUTOFMEMORY;
        else if (!data.bHasSchema)
            hr = E_INVALIDARG; // a request needs a schema
        else
        {
            if (!m_bServer)
            {
                CStateLock lock;
                if (lock && FindPrinter(*lock, printer.c_str()) == nullptr)
                    hr = FromWin32(ERROR_INVALID_PRINTER_NAME); // removed since the binding
            }
            if (SUCCEEDED(hr) &&
                !request->Complete(printer.c_str(),
                                   Provide(m_bServer ? nullptr : printer.c_str(), action, data)))
                hr = E_OUTOFMEMORY;
        }
        request->Release();
        return hr;
    }

    LONG m_cRef = 1;
    SRWLOCK m_lock = SRWLOCK_INIT;
    bool m_bBound = false;
    bool m_bServer = false;
    std::wstring m_printer;
};

template <typename T, SimCall kCreateCall> class CClassFactory final : public IClassFactory
{
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv == nullptr)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory))
        {
            *ppv = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    // Static objects: references do not own them.
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    STDMETHODIMP CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override
    {
        if (ppv == nullptr)
            return E_POINTER;
        *ppv = nullptr;
        if (pUnkOuter != nullptr)
            return CLASS_E_NOAGGREGATION;
        if (HRESULT hr = S_OK; BidiFault(kCreateCall, nullptr, &hr))
            return hr;
        T* object = new (std::nothrow) T();
        if (object == nullptr)
            return E_OUTOFMEMORY;
        const HRESULT hr = object->QueryInterface(riid, ppv);
        object->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL fLock) override
    {
        if (fLock)
            InterlockedIncrement(&g_cLocks);
        else
            InterlockedDecrement(&g_cLocks);
        return S_OK;
    }
};

CClassFactory<CSimBidiSpl, SIM_CREATE_BIDI_SPL> g_splFactory;
CClassFactory<CSimBidiRequest, SIM_CREATE_BIDI_REQUEST> g_requestFactory;

} // namespace
} // namespace quenlo::sim

using namespace quenlo::sim;

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    if (IsEqualCLSID(rclsid, kClsidBidiSpl))
        return g_splFactory.QueryInterface(riid, ppv);
    if (IsEqualCLSID(rclsid, kClsidBidiRequest))
        return g_requestFactory.QueryInterface(riid, ppv);
    return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT WINAPI DllCanUnloadNow()
{
    // Once the task-memory spy is registered the module is pinned, so unloading is moot then.
    return (g_cObjects == 0 && g_cLocks == 0) ? S_OK : S_FALSE;
}
