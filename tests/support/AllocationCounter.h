// Counts the program's heap allocations by replacing the global operator
// new. Include it from exactly one source file of a test or benchmark
// program. Counting is on from the start; pause it around set-up or
// tear-down that should not count.
#pragma once

#include <atomic>
#include <cstdlib>
#include <new>

namespace allocations {
inline std::atomic<long long> count{0};
inline std::atomic<bool> counting{true};
} // namespace allocations

// Kept out of line so that the compiler does not pair free() with a new
// expression it has inlined.
[[gnu::noinline]] void* operator new(std::size_t size)
{
    if (allocations::counting.load(std::memory_order_relaxed))
        allocations::count.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept
{
    std::free(p);
}
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}
