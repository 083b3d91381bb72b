// The frame's glow work alone, to split a frame's time between arithmetic
// and memory. It calls the core's UpdateGlowTexels directly.
//
//  GlowInCache     exactly the glow work of a frame: UpdateGlowTexels(scene,
//                  TexelBuffer) into the locked glow texture, as
//                  render/frame.cpp calls it, on the particles of two
//                  consecutive ticks of the steady-state scene taken in
//                  turn. Each call therefore clears the glow texels, lays the
//                  halos of 2000 particles at their real places over real
//                  grid values, and zeroes the cells the other tick's halos
//                  left, just as a frame after a tick does. Nothing runs
//                  between the calls, so their data (the two lists' halo
//                  cells, the grid cells under them, the records, the glow
//                  texture: some 24 MB) stays in the caches as far as the
//                  last-level cache holds it.
//  GlowFromMemory  the same with the caches emptied before each call (a
//                  128 MB sweep, untimed), as a frame finds them after a tick
//                  and the full layer's update.

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "bodies.h"
#include "cache_sweep.h"
#include "core/layers.h"
#include "platform/software_device.h"
#include "plugin/plugin_state.h"

namespace {

const SceneConfig glowScene = {1, -1, true};

void RunGlow(benchmark::State& state, bool evictFirst)
{
    PrepareScene(glowScene);
    // The particles as the last frame drew them, and after one more tick.
    const uint32_t count = scene.particles.count;
    std::vector<Particle> before(scene.particles.records, scene.particles.records + count);
    BenchTick(glowScene);
    std::vector<Particle> after(scene.particles.records, scene.particles.records + count);
    Particle* const ownRecords = scene.particles.records;
    Particle* const lists[2] = {after.data(), before.data()};

    IDirect3DTexture9* texture = deviceResources.GlowLayerTexture;
    D3DLOCKED_RECT locked;
    std::memset(&locked, 0, sizeof(locked));
    if (FAILED(texture->LockRect(0, &locked, nullptr, D3DLOCK_DISCARD)) || locked.pBits == nullptr) {
        state.SkipWithError("the glow texture cannot be locked");
        return;
    }
    const TexelBuffer texels = {static_cast<uint32_t*>(locked.pBits), scene.gridWidth >> 1, scene.gridHeight >> 1,
                                locked.Pitch};

    CacheSweep sweep(evictFirst);
    int turn = 0;
    for (auto _ : state) {
        if (evictFirst) {
            state.PauseTiming();
            benchmark::DoNotOptimize(sweep.Run());
            state.ResumeTiming();
        }
        scene.particles.records = lists[turn];
        turn ^= 1;
        UpdateGlowTexels(scene, texels);
        benchmark::ClobberMemory();
    }
    texture->UnlockRect(0);

    // The scene goes on from the tick taken above; its glow bookkeeping stays
    // true (it marks the cells that hold glow, wherever they came from).
    scene.particles.records = ownRecords;
}

void BM_GlowInCache(benchmark::State& state) { RunGlow(state, false); }

void BM_GlowFromMemory(benchmark::State& state) { RunGlow(state, true); }

}  // namespace

BENCHMARK(BM_GlowInCache)->Name("GlowInCache")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GlowFromMemory)->Name("GlowFromMemory")->Unit(benchmark::kMicrosecond);
