#ifndef BENCH_ALLOCATION_COUNT_H
#define BENCH_ALLOCATION_COUNT_H

// Counts every allocation of the whole program through operator new, so that a benchmark can
// report those of its loop (its libraries' alike): read bench::g_allocations before and after.
// It replaces the global operator new and delete, so exactly one source file of a program
// includes it.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace bench {
inline std::atomic<uint64_t> g_allocations{0};
} // namespace bench

// Out of line, so that the compiler does not pair the new-expressions it inlines with free().
[[gnu::noinline]] void* operator new(std::size_t size)
{
    ++bench::g_allocations;
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
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

#endif
