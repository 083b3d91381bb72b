// Which vector instructions the frame's passes may use on this machine,
// decided once at run time: the same build runs on every x86 processor with
// SSE2, and takes the AVX paths where the processor has AVX and the operating
// system saves the AVX registers on a thread switch.
//
// Every path gives the same bits: each lane does the IEEE operations of the
// scalar reference in its order, with no fused multiply-add.
#pragma once

#include "core/scene_state.h"

enum class SimdLevel {
    Sse2,
    Avx,
};

// What the processor and the operating system allow (CPUID and XGETBV).
SimdLevel MachineSimdLevel();

// The level the passes use for this scene: the machine's, or SSE2 when a
// test (or a tool comparing the paths) asked for it.
SimdLevel SceneSimdLevel(const SceneState& scene);
