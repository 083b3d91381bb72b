#include "core/simd_level.h"

#include <cpuid.h>

#include <cstdint>

namespace {

// XCR0, the register in which the operating system says which register
// states it saves; xgetbv is written out so that the file needs no target
// attribute.
uint64_t ReadXcr0()
{
    uint32_t low;
    uint32_t high;
    __asm__ __volatile__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (static_cast<uint64_t>(high) << 32) | low;
}

SimdLevel DetectSimdLevel()
{
    unsigned int eax;
    unsigned int ebx;
    unsigned int ecx;
    unsigned int edx;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) {
        return SimdLevel::Sse2;
    }
    const bool avx = (ecx & bit_AVX) != 0;
    const bool osSavesState = (ecx & bit_OSXSAVE) != 0;
    // Bits 1 and 2 of XCR0: the SSE and AVX register states.
    if (avx && osSavesState && (ReadXcr0() & 0x6) == 0x6) {
        return SimdLevel::Avx;
    }
    return SimdLevel::Sse2;
}

}  // namespace

SimdLevel MachineSimdLevel()
{
    static const SimdLevel level = DetectSimdLevel();
    return level;
}

SimdLevel HookedSimdLevel(const TestHooks& hooks) { return hooks.sse2Only != 0 ? SimdLevel::Sse2 : MachineSimdLevel(); }
