// The one definition of the plug-in's globals.
#include "plugin/plugin_state.h"

#include <cstdlib>

// All zero at load (so the 56 MB of grids cost nothing until they are
// touched); the few nonzero load values are set while the library loads.
SceneState scene;
DeviceResources deviceResources = {nullptr, nullptr, nullptr};
void* moduleInstance = nullptr;
int32_t dialogConfirmed = 0;

namespace {

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
