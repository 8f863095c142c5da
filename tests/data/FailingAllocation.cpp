// The program's operator new, able to fail on cue: exception-safety tests let the Nth allocation of
// an operation fail. Kept apart from the tests so that no call site sees both ends inlined.

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

void operator delete(void* p) noexcept
{
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}
