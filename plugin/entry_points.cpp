// The exported entry points and the set-up sequence.
//
// No exception ever leaves an entry point: the host is someone else's process
// and has no way to handle ours.
#include "plugin/entry_points.h"

#include <cstring>
#include <ctime>

#include "plugin/fpu_mode.h"
#include "plugin/scene_state.h"
#include "render/camera.h"
#include "render/device_resources.h"
#include "simulation/generator.h"
#include "simulation/numeric.h"
#include "simulation/tick.h"

namespace {

// The answers to the host's questions about its numbered settings.
struct DefaultSetting {
    uint32_t key;
    int32_t value;
};
const DefaultSetting defaultSettings[] = {
    {1, 0},
    {2, 0},
    {3, 30},
    {7, 1},
};

const uint32_t cameraClockStartRange = 20000;

// Prepares a new record from the scene's values and appends it. False when
// memory ran out: the records already there are kept.
bool AppendNewParticle()
{
    Particle record;
    std::memset(&record, 0, sizeof(record));
    record.gridWidth = scene.gridWidth;
    record.gridHeight = scene.gridHeight;
    record.aspectFactor = scene.aspectFactor;
    record.equationType = scene.equationType;
    // spawnAxis is still 0: the first position is drawn on both axes.
    RespawnParticle(&record, scene.patternOffsetX, scene.patternOffsetY, scene.patternScale);
    return AppendParticle(record);
}

}  // namespace

float AspectFactorFor(int32_t left, int32_t top, int32_t right, int32_t bottom)
{
    // In 64 bits, so extreme coordinates cannot overflow. An empty or inverted
    // rectangle would make the factor infinite or not a number, and then every
    // particle would respawn on every step and nothing would ever be drawn.
    const int64_t width = static_cast<int64_t>(right) - left;
    const int64_t height = static_cast<int64_t>(bottom) - top;
    if (width <= 0 || height <= 0) {
        return 1.0f;
    }
    return Single(1.6 / (static_cast<double>(width) / static_cast<double>(height)));
}

int32_t SetupScene(IDirect3DDevice9* device, int32_t left, int32_t top, int32_t right, int32_t bottom,
                   uint32_t seed)
{
    const FloatingPointMode hostMode = EnterSceneFloatingPointMode();
    try {
        // The grids are fixed; the rectangle only shapes the pattern's aspect.
        scene.gridWidth = AccumulationGridWidth;
        scene.gridHeight = AccumulationGridHeight;
        scene.aspectFactor = AspectFactorFor(left, top, right, bottom);

        if (device != nullptr) {
            CreateDeviceResources(device);
        }

        SeedGenerator(seed);
        scene.cameraClockA = static_cast<int32_t>(static_cast<uint32_t>(DrawRandom()) % cameraClockStartRange);
        scene.cameraClockB = static_cast<int32_t>(static_cast<uint32_t>(DrawRandom()) % cameraClockStartRange);
        DrawPatternValues();

        for (int n = 0; n < ParticlesPerSetup; ++n) {
            if (!AppendNewParticle()) {
                break;  // out of memory: keep what is there, stop appending
            }
        }
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
        ReleaseDeviceResources();
    } catch (...) {
    }
}

int32_t WINAPI SetupPlugin(IDirect3DDevice9* device, int32_t left, int32_t top, int32_t right, int32_t bottom,
                           uint32_t, uint32_t)
{
    // Seeded with the low 32 bits of the calendar time in whole seconds.
    const uint32_t seed = static_cast<uint32_t>(static_cast<uint64_t>(std::time(nullptr)));
    return SetupScene(device, left, top, right, bottom, seed);
}

void WINAPI NotificationProcedure(uint32_t, uint32_t) {}

void WINAPI UpdateScene()
{
    const FloatingPointMode hostMode = EnterSceneFloatingPointMode();
    try {
        TickScene();
    } catch (...) {
    }
    LeaveSceneFloatingPointMode(hostMode);
}

int32_t WINAPI RenderSceneOnScreen(uint32_t, IDirect3DDevice9* device, int32_t left, int32_t top, int32_t right,
                                   int32_t bottom, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t)
{
    const FloatingPointMode hostMode = EnterSceneFloatingPointMode();
    try {
        RenderFrame(device, left, top, right, bottom);
    } catch (...) {
    }
    LeaveSceneFloatingPointMode(hostMode);
    return 0;
}

int32_t WINAPI SetupPluginPerScreen(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t)
{
    return 0;
}

#if !defined(CHAOSTRAILS_REAL_D3D9)
// Off Windows there is no dialog to show; the answer is "not confirmed".
int32_t WINAPI ConfigPlugin(HWND) { return 0; }
#endif

}  // extern "C"
