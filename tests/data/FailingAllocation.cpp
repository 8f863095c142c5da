// The program's operator new, able to fail on cue: exception-safety tests let the Nth allocation of
// an operation fail. Every form but the over-aligned ones (which nothing here uses) is replaced, so
// that what one form allocates another frees alike, with or without a sanitizer. Kept apart from the
// tests so that no call site sees both ends inlined.

#include <cstdlib>
#include <new>

#include "TestSupport.h"

thread_local long ostreltest::g_nAllocationsLeft = -1;

void* operator new(std::size_t nBytes)
{
    if (ostreltest::g_nAllocationsLeft == 0)
        throw std::bad_alloc();
    if (ostreltest::g_nAllocationsLeft > 0)
        --ostreltest::g_nAllocationsLeft;
    if (void* p = std::malloc(nBytes == 0 ? 1 : nBytes))
        return p;
    throw std::bad_alloc();
}

void* operator new[](std::size_t nBytes)
{
    return operator new(nBytes);
}

void* operator new(std::size_t nBytes, const std::nothrow_t&) noexcept
{
    try {
        return operator new(nBytes);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void* operator new[](std::size_t nBytes, const std::nothrow_t& nothrow) noexcept
{
    return operator new(nBytes, nothrow);
}

void operator delete(void* p) noexcept
{
    std::free(p);
}

void operator delete[](void* p) noexcept
{
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

void operator delete[](void* p, std::size_t) noexcept
{
    std::free(p);
}

void operator delete(void* p, const std::nothrow_t&) noexcept
{
    std::free(p);
}

void operator delete[](void* p, const std::nothrow_t&) noexcept
{
    std::free(p);
}
