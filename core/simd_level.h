// Which vector instructions the frame's passes may use on this machine,
// decided once at run time: the same build runs on every x86 processor with
// SSE2, and takes the AVX paths where the processor has AVX and the operating
// system saves the AVX registers on a thread switch.
//
// Every path gives the same bits: each lane does the IEEE operations of the
// scalar reference in its order, with no fused multiply-add.
#pragma once

#include "core/test_hooks.h"

enum class SimdLevel {
    Sse2,
    Avx,
};

// What the processor and the operating system allow (CPUID and XGETBV).
SimdLevel MachineSimdLevel();

// The level the plug-in's passes use: the machine's, or SSE2 when a test (or
// a tool comparing the paths) asked for it.
SimdLevel HookedSimdLevel(const TestHooks& hooks);

// Everything between AVX_CODE_BEGIN and AVX_CODE_END is built for AVX (GCC's
// target pragma; clang's attribute pragma does the same for every function
// in between). Such code runs only where MachineSimdLevel() says Avx.
#if defined(__clang__)
#define AVX_CODE_BEGIN _Pragma("clang attribute push(__attribute__((target(\"avx\"))), apply_to = function)")
#define AVX_CODE_END _Pragma("clang attribute pop")
#else
#define AVX_CODE_BEGIN _Pragma("GCC push_options") _Pragma("GCC target(\"avx\")")
#define AVX_CODE_END _Pragma("GCC pop_options")
#endif
