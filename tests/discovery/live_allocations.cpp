// The test program's global operator new and delete, counting the blocks that are alive, so a test
// can prove that the code under test gave back every heap buffer it obtained.
#include "discovery_test_util.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace
{

std::atomic<long> g_nLive{0};

void* Allocate(std::size_t cb) noexcept
{
    void* p = std::malloc(cb != 0 ? cb : 1);
    if (p != nullptr)
        g_nLive.fetch_add(1, std::memory_order_relaxed);
    return p;
}

void Release(void* p) noexcept
{
    if (p == nullptr)
        return;
    g_nLive.fetch_sub(1, std::memory_order_relaxed);
    std::free(p);
}

} // namespace

long disctest::LiveAllocations()
{
    return g_nLive.load(std::memory_order_relaxed);
}

void* operator new(std::size_t cb)
{
    if (void* p = Allocate(cb))
        return p;
    throw std::bad_alloc();
}

void* operator new[](std::size_t cb)
{
    if (void* p = Allocate(cb))
        return p;
    throw std::bad_alloc();
}

void* operator new(std::size_t cb, const std::nothrow_t&) noexcept
{
    return Allocate(cb);
}

void* operator new[](std::size_t cb, const std::nothrow_t&) noexcept
{
    return Allocate(cb);
}

void operator delete(void* p) noexcept
{
    Release(p);
}

void operator delete[](void* p) noexcept
{
    Release(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    Release(p);
}

void operator delete[](void* p, std::size_t) noexcept
{
    Release(p);
}

void operator delete(void* p, const std::nothrow_t&) noexcept
{
    Release(p);
}

void operator delete[](void* p, const std::nothrow_t&) noexcept
{
    Release(p);
}
