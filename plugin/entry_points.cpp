// The exported entry points and the set-up sequence.
//
// No exception ever leaves an entry point: the host is someone else's process
// and has no way to handle ours.
#include "plugin/entry_points.h"

#include <cstdint>
#include <ctime>

#include "core/setup.h"
#include "core/tick.h"
#include "plugin/default_settings.h"
#include "plugin/fpu_mode.h"
#include "plugin/plugin_state.h"
#include "render/frame.h"

namespace {

// Seconds since 1970-01-01 UTC, or the time a test fixed.
int64_t CalendarTime()
{
    if (testHooks.calendarTimeFixed != 0) {
        return testHooks.calendarTime;
    }
    return static_cast<int64_t>(std::time(nullptr));
}

}  // namespace

int32_t SetupScene(IDirect3DDevice9* device, int32_t left, int32_t top, int32_t right, int32_t bottom, uint32_t seed)
{
    const FloatingPointMode hostMode = EnterSceneFloatingPointMode();
    try {
        ReleaseParticlesAtUnload();
        // The grids are fixed; the rectangle only shapes the pattern's aspect.
        FixGridAndAspect(scene, left, top, right, bottom);
        if (device != nullptr) {
            CreateDeviceResources(deviceResources, device, scene.gridWidth, scene.gridHeight);
        }
        PopulateScene(scene, seed, ParticleCapacityOf(testHooks));
    } catch (...) {
    }
    LeaveSceneFloatingPointMode(hostMode);
    return 1;
}

extern "C" {

int32_t WINAPI QueryDefaultSettings(uint32_t key, int32_t defaultValue)
{
    for (const DefaultSetting& setting : defaultSettings) {
        if (setting.key == key) {
            return setting.value;
        }
    }
    return defaultValue;
}

void WINAPI FreePlugin(uint32_t, uint32_t, uint32_t)
{
    try {
        ReleaseDeviceResources(deviceResources);
    } catch (...) {
    }
}

int32_t WINAPI SetupPlugin(IDirect3DDevice9* device, int32_t left, int32_t top, int32_t right, int32_t bottom, uint32_t,
                           uint32_t)
{
    // Seeded with the low 32 bits of the calendar time in whole seconds.
    const uint32_t seed = static_cast<uint32_t>(static_cast<uint64_t>(CalendarTime()));
    return SetupScene(device, left, top, right, bottom, seed);
}

void WINAPI NotificationProcedure(uint32_t, uint32_t) {}

void WINAPI UpdateScene()
{
    const FloatingPointMode hostMode = EnterSceneFloatingPointMode();
    try {
        TickScene(scene, HookedSimdLevel(testHooks));
    } catch (...) {
    }
    LeaveSceneFloatingPointMode(hostMode);
}

int32_t WINAPI RenderSceneOnScreen(uint32_t, IDirect3DDevice9* device, int32_t left, int32_t top, int32_t right,
                                   int32_t bottom, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t)
{
    const FloatingPointMode hostMode = EnterSceneFloatingPointMode();
    try {
        RenderFrame(scene, deviceResources, device, left, top, right, bottom, HookedSimdLevel(testHooks));
    } catch (...) {
    }
    LeaveSceneFloatingPointMode(hostMode);
    return 0;
}

int32_t WINAPI SetupPluginPerScreen(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) { return 0; }

#if !defined(CHAOSTRAILS_REAL_D3D9)
// Off Windows there is no dialog to show; the answer is "not confirmed".
int32_t WINAPI ConfigPlugin(HWND) { return 0; }
#endif

}  // extern "C"
