#pragma once
// The largest single allocation made while a piece of code runs: a damaged length must be
// refused without asking for the memory it names. Include this header in one source file
// of a test program only: it replaces the program's global operator new and delete.
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace largest_allocation {
inline std::atomic<bool> tracking{false};
inline std::atomic<std::size_t> largest{0};
}  // namespace largest_allocation

// The array forms and the sized delete[] end up here too.
void* operator new(std::size_t size)
{
    if (largest_allocation::tracking.load(std::memory_order_relaxed)) {
        std::size_t seen = largest_allocation::largest.load(std::memory_order_relaxed);
        while (size > seen && !largest_allocation::largest.compare_exchange_weak(seen, size)) {
        }
    }
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
// The pair matches (operator new takes from malloc); GCC only sees free() meet a pointer
// that an inlined new-expression got from operator new.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

// Runs `f` and returns the largest single allocation made meanwhile; only the calling
// thread should allocate while it runs.
template <typename F>
std::size_t LargestAllocationOf(F&& f)
{
    struct Off {
        ~Off() { largest_allocation::tracking = false; }
    } off;
    largest_allocation::largest = 0;
    largest_allocation::tracking = true;
    f();
    return largest_allocation::largest.load();
}
