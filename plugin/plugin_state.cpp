// The one definition of the plug-in's globals.
#include "plugin/plugin_state.h"

#include <cstdint>
#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>
#endif

// All zero at load (so the 56 MB of grids cost nothing until they are
// touched); the few nonzero load values are set while the library loads.
SceneState scene;
DeviceResources deviceResources = {nullptr, nullptr, nullptr};
TestHooks testHooks = {0, 0, 0, 0};
void* moduleInstance = nullptr;
int32_t dialogConfirmed = 0;

namespace {

// Every tick splats each particle into six rows of the accumulation grid,
// 30 b apart: with 4 b pages, six pages a particle, scattered over 37 MB,
// far more than the processor's address translation caches hold, and under a
// hypervisor each miss walks two sets of page tables. Where the system hands
// out 2 MB pages to those who ask (Linux's transparent huge pages, in their
// default madvise mode), the scene asks for them before any of it is
// touched. Only a hint: the pages hold the same bytes either way. Windows
// gives large pages only to processes with a privilege hosts do not have.
void AskForHugePages(void* start, size_t bytes)
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    const uintptr_t hugePage = uintptr_t{2} << 20;
    const uintptr_t first = (reinterpret_cast<uintptr_t>(start) + hugePage - 1) & ~(hugePage - 1);
    const uintptr_t last = (reinterpret_cast<uintptr_t>(start) + bytes) & ~(hugePage - 1);
    if (last > first) {
        madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
    }
#else
    (void)start;
    (void)bytes;
#endif
}

const bool hugePagesAsked = (AskForHugePages(&scene, sizeof scene), true);

// Runs while the library loads, before any entry point can be called. An
// initialiser of the whole object would put its 56 MB into the file.
const bool loadValuesSet = (SetLoadValues(scene), true);

void ReleaseParticleList() { ReleaseParticleStorage(scene.particles); }

}  // namespace

void ReleaseParticlesAtUnload()
{
    static bool registered = false;
    if (!registered) {
        registered = std::atexit(ReleaseParticleList) == 0;
    }
}
