#include "core/tick.h"

#include "core/generator.h"
#include "core/numeric.h"
#include "core/step.h"

namespace {

const int32_t ticksBetweenRedraws = 1500;

// The clocks wrap as 32-bit integers: add in unsigned arithmetic, where
// overflow is defined, and read the result back as signed.
int32_t AdvanceClock(int32_t clock, uint32_t step) { return static_cast<int32_t>(static_cast<uint32_t>(clock) + step); }

}  // namespace

void DrawPatternValues(SceneState& scene)
{
    scene.patternScale = Single(static_cast<double>(Single(DrawRandom() * (150.0 / 32767.0))) + 50.0);
    scene.patternOffsetX = Single(static_cast<double>(Single(DrawRandom() * (10.0 / 32767.0))) - 5.0);
    scene.patternOffsetY = Single(static_cast<double>(Single(DrawRandom() * (10.0 / 32767.0))) - 5.0);
}

namespace {

// The tick, with the particles stepped by the fast pass or, for the
// reference, one by one with the reference step.
void Tick(SceneState& scene, bool reference, SimdLevel level)
{
    // Raised before the test and reset to 0, so the re-draw falls on the
    // 1501st tick, not the 1500th.
    scene.ticksSinceReseed += 1;
    if (scene.ticksSinceReseed > ticksBetweenRedraws) {
        scene.equationType = Trunc(Single(DrawRandom() * (10.0 / 32767.0)));
        scene.ticksSinceReseed = 0;
        DrawPatternValues(scene);
    }

    // Each particle steps with the values it was handed last tick; the new
    // ones reach it only after its step.
    const PatternHandOver pattern = {scene.equationType, scene.patternOffsetX, scene.patternOffsetY,
                                     scene.patternScale};
    if (reference) {
        for (uint32_t n = 0; n < scene.particles.count; ++n) {
            Particle* const particle = &scene.particles.records[n];
            StepParticleReference(scene, particle);
            HandOverPattern(particle, pattern);
        }
    } else {
        StepParticlesAndHandOver(scene, pattern, level);
    }

    scene.cameraClockA = AdvanceClock(scene.cameraClockA, 3);
    scene.cameraClockB = AdvanceClock(scene.cameraClockB, 2);
    const float swing = Single(3.0 * SinDouble(static_cast<double>(scene.cameraClockA) / 1000.0));
    scene.cameraYaw = swing;
    scene.cameraPitch = swing;
    scene.fovWobble = Single(4.0 * SinDouble(static_cast<double>(scene.cameraClockB) / 1500.0));
}

}  // namespace

void TickScene(SceneState& scene, SimdLevel level) { Tick(scene, false, level); }

void TickSceneReference(SceneState& scene) { Tick(scene, true, SimdLevel::Sse2); }
