#include "core/setup.h"

#include <cstring>

#include "core/generator.h"
#include "core/numeric.h"
#include "core/tick.h"

namespace {

const uint32_t cameraClockStartRange = 20000;

// Prepares a new record from the scene's values and appends it. False when
// memory ran out: the records already there are kept.
bool AppendNewParticle(SceneState& scene, uint32_t capacity)
{
    Particle record;
    std::memset(&record, 0, sizeof(record));
    record.gridWidth = scene.gridWidth;
    record.gridHeight = scene.gridHeight;
    record.aspectFactor = scene.aspectFactor;
    record.equationType = scene.equationType;
    // spawnAxis is still 0: the first position is drawn on both axes.
    RespawnParticle(&record, scene.patternOffsetX, scene.patternOffsetY, scene.patternScale);
    return AppendParticle(scene, record, capacity);
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

void FixGridAndAspect(SceneState& scene, int32_t left, int32_t top, int32_t right, int32_t bottom)
{
    scene.gridWidth = AccumulationGridWidth;
    scene.gridHeight = AccumulationGridHeight;
    scene.aspectFactor = AspectFactorFor(left, top, right, bottom);
}

void PopulateScene(SceneState& scene, uint32_t seed, uint32_t capacity)
{
    SeedGenerator(seed);
    scene.cameraClockA = static_cast<int32_t>(static_cast<uint32_t>(DrawRandom()) % cameraClockStartRange);
    scene.cameraClockB = static_cast<int32_t>(static_cast<uint32_t>(DrawRandom()) % cameraClockStartRange);
    DrawPatternValues(scene);
    for (int n = 0; n < ParticlesPerSetup; ++n) {
        if (!AppendNewParticle(scene, capacity)) {
            break;  // out of memory: keep what is there, stop appending
        }
    }
}
