// What tests set to reach paths a healthy machine never takes, or to pin what
// the plug-in otherwise takes from the machine. Kept beside the scene, not in
// it: the plug-in holds one set (plugin/plugin_state.h), all zero in a library
// a host loads, and hands the core only what a hook decides (a capacity, a
// vector level, a time). Zero: not set.
#pragma once

#include <cstdint>

struct TestHooks {
    // The list's storage "runs out" at this many records.
    uint32_t particleCapacity;
    // SetupPlugin seeds with this calendar time (seconds since 1970) instead
    // of the machine's when calendarTimeFixed is not 0.
    int32_t calendarTimeFixed;
    int64_t calendarTime;
    // The passes take their SSE2 paths even where AVX would do (to compare
    // the paths; both give the same bits). Also set by `trails dump` under
    // TRAILS_FORCE_SSE2=1.
    int32_t sse2Only;
};

// The particle list's capacity the hooks allow: no limit unless one was set.
inline uint32_t ParticleCapacityOf(const TestHooks& hooks)
{
    return hooks.particleCapacity != 0 ? hooks.particleCapacity : 0xFFFFFFFFu;
}
