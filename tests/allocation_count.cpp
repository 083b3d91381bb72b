// Every allocation of the unit-test program is counted, so a test can tell
// that a stretch of calls allocates nothing. The replacements live apart from
// the tests so that no test body sees both halves inlined together.
#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<long> allocationCount{0};
}  // namespace

long AllocationCount() { return allocationCount.load(); }

void* operator new(std::size_t size)
{
    ++allocationCount;
    if (void* memory = std::malloc(size == 0 ? 1 : size))
        return memory;
    throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
