#include "taskmem.h"

#include <objbase.h>

#include <unordered_set>

#include "shared.h"

namespace quenlo::sim
{
namespace
{

SRWLOCK g_liveLock = SRWLOCK_INIT;
std::unordered_set<void*>* g_pLive = nullptr; // blocks handed out and not yet freed

// Sees every CoTaskMemFree and CoTaskMemRealloc of the process and counts the blocks that the
// simulator handed out as they come back. Passes every request through unchanged.
class CTaskMemSpy final : public IMallocSpy
{
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv == nullptr)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMallocSpy))
        {
            *ppv = static_cast<IMallocSpy*>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    // A static object: COM's references do not own it.
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    STDMETHODIMP_(SIZE_T) PreAlloc(SIZE_T cbRequest) override { return cbRequest; }
    STDMETHODIMP_(void*) PostAlloc(void* pActual) override { return pActual; }
    STDMETHODIMP_(void*) PreFree(void* pRequest, BOOL) override
    {
        Returned(pRequest);
        return pRequest;
    }
    STDMETHODIMP_(void) PostFree(BOOL) override {}
    STDMETHODIMP_(SIZE_T)
    PreRealloc(void* pRequest, SIZE_T cbRequest, void** ppNewRequest, BOOL) override
    {
        // A reallocated block is the caller's own from now on: it counts as given back.
        Returned(pRequest);
        *ppNewRequest = pRequest;
        return cbRequest;
    }
    STDMETHODIMP_(void*) PostRealloc(void* pActual, BOOL) override { return pActual; }
    STDMETHODIMP_(void*) PreGetSize(void* pRequest, BOOL) override { return pRequest; }
    STDMETHODIMP_(SIZE_T) PostGetSize(SIZE_T cbActual, BOOL) override { return cbActual; }
    STDMETHODIMP_(void*) PreDidAlloc(void* pRequest, BOOL) override { return pRequest; }
    STDMETHODIMP_(int) PostDidAlloc(void*, BOOL, int fActual) override { return fActual; }
    STDMETHODIMP_(void) PreHeapMinimize() override {}
    STDMETHODIMP_(void) PostHeapMinimize() override {}

private:
    static void Returned(void* p)
    {
        if (p == nullptr)
            return;
        AcquireSRWLockExclusive(&g_liveLock);
        const bool ours = g_pLive != nullptr && g_pLive->erase(p) > 0;
        ReleaseSRWLockExclusive(&g_liveLock);
        if (ours)
            CountReleased(SIM_RES_TASK_MEM);
    }
};

CTaskMemSpy g_spy;

bool RegisterSpy()
{
    AcquireSRWLockExclusive(&g_liveLock);
    g_pLive = new (std::nothrow) std::unordered_set<void*>();
    ReleaseSRWLockExclusive(&g_liveLock);
    if (g_pLive == nullptr || FAILED(CoRegisterMallocSpy(&g_spy)))
        return false;
    // The spy stays registered for the life of the process, so this module must stay loaded.
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&g_spy), &self);
    return true;
}

} // namespace

bool TaskMemSpyActive()
{
    static const bool active = RegisterSpy();
    return active;
}

void* AllocTracked(SIZE_T cb)
{
    if (!TaskMemSpyActive())
        return nullptr;
    void* p = CoTaskMemAlloc(cb);
    if (p == nullptr)
        return nullptr;
    AcquireSRWLockExclusive(&g_liveLock);
    bool recorded = true;
    try
    {
        g_pLive->insert(p);
    }
    catch (...)
    {
        recorded = false;
    }
    ReleaseSRWLockExclusive(&g_liveLock);
    if (!recorded)
    {
        CoTaskMemFree(p);
        return nullptr;
    }
    CountObtained(SIM_RES_TASK_MEM);
    return p;
}

} // namespace quenlo::sim
