#include <climits>
#include <cmath>

#include "plugin/entry_points.h"
#include "scene_fixture.h"
#include "core/step.h"
#include "core/tick.h"
#include "scene_copies.h"

namespace {

class TickTest : public SceneTest {};

TEST_F(TickTest, PatternIsRedrawnOnTick1501AndEvery1501After)
{
    // Without particles the only draws are the re-draws'.
    for (int tick = 1; tick <= 1500; ++tick) {
        const uint32_t before = GeneratorState();
        UpdateScene();
        ASSERT_EQ(before, GeneratorState()) << "tick " << tick;
        ASSERT_EQ(tick, scene.ticksSinceReseed);
    }
    const uint32_t before = GeneratorState();
    UpdateScene();
    EXPECT_NE(before, GeneratorState());
    EXPECT_EQ(0, scene.ticksSinceReseed);
    UpdateScene();
    EXPECT_EQ(1, scene.ticksSinceReseed);
    for (int tick = 1503; tick < 3002; ++tick)
        UpdateScene();
    EXPECT_EQ(1500, scene.ticksSinceReseed);
    UpdateScene();  // tick 3002
    EXPECT_EQ(0, scene.ticksSinceReseed);
}

TEST_F(TickTest, RedrawTakesFourDrawsInOrder)
{
    scene.ticksSinceReseed = 1500;
    const int32_t draws[] = {32767, 0, 32767, 16383};
    ScriptDraws(draws, 4);
    TickScene(scene);
    EXPECT_EQ(0u, ScriptedDrawsLeft());
    EXPECT_EQ(10, scene.equationType);  // only the draw 32767 gives 10
    EXPECT_FLOAT_BITS(50.0f, scene.patternScale);
    EXPECT_FLOAT_BITS(5.0f, scene.patternOffsetX);
    EXPECT_NEAR(0.0, scene.patternOffsetY, 0.0002);

    scene.ticksSinceReseed = 1500;
    const int32_t lowest[] = {32766, 32767, 0, 0};
    ScriptDraws(lowest, 4);
    TickScene(scene);
    EXPECT_EQ(9, scene.equationType);
    EXPECT_FLOAT_BITS(200.0f, scene.patternScale);
    EXPECT_FLOAT_BITS(-5.0f, scene.patternOffsetX);
    EXPECT_FLOAT_BITS(-5.0f, scene.patternOffsetY);
}

TEST_F(TickTest, RedrawnValuesReachParticlesOnlyAfterTheirStep)
{
    Particle p = PlainParticle();
    p.mapX = 0.3f;
    p.mapY = 0.2f;
    p.offsetX = 5.0f;
    p.offsetY = 4.0f;
    p.scale = 100.0f;
    p.equationType = 7;
    ASSERT_TRUE(AppendParticle(scene, p));
    Particle alone = p;
    StepParticle(scene, &alone);  // the step with the old values
    std::memset(scene.AccumulationGrid, 0, sizeof(scene.AccumulationGrid));

    scene.ticksSinceReseed = 1500;
    const int32_t draws[] = {3 * 3277, 100, 200, 300};
    ScriptDraws(draws, 4);
    TickScene(scene);
    const Particle& stepped = scene.particles.records[0];
    EXPECT_FLOAT_BITS(alone.mapX, stepped.mapX);
    EXPECT_FLOAT_BITS(alone.mapY, stepped.mapY);
    EXPECT_EQ(alone.spawnAxis, stepped.spawnAxis);
    EXPECT_EQ(3, scene.equationType);
    EXPECT_EQ(scene.equationType, stepped.equationType);
    EXPECT_FLOAT_BITS(scene.patternOffsetX, stepped.offsetX);
    EXPECT_FLOAT_BITS(scene.patternOffsetY, stepped.offsetY);
    EXPECT_FLOAT_BITS(scene.patternScale, stepped.scale);
}

TEST_F(TickTest, TickBeforeSetupCountsAndMovesTheCamera)
{
    UpdateScene();
    EXPECT_EQ(1, scene.ticksSinceReseed);
    EXPECT_EQ(3, scene.cameraClockA);
    EXPECT_EQ(2, scene.cameraClockB);
    EXPECT_FLOAT_BITS(static_cast<float>(3.0 * std::sin(0.003)), scene.cameraYaw);
    EXPECT_NEAR(0.0089999865, scene.cameraYaw, 1e-9);
    EXPECT_FLOAT_BITS(scene.cameraYaw, scene.cameraPitch);
    EXPECT_FLOAT_BITS(static_cast<float>(4.0 * std::sin(2.0 / 1500.0)), scene.fovWobble);
}

TEST_F(TickTest, CameraClocksWrapAroundAsThirtyTwoBitIntegers)
{
    scene.cameraClockA = INT_MAX - 1;
    scene.cameraClockB = INT_MAX;
    UpdateScene();
    EXPECT_EQ(INT_MIN + 1, scene.cameraClockA);
    EXPECT_EQ(INT_MIN + 1, scene.cameraClockB);
    EXPECT_FLOAT_BITS(static_cast<float>(3.0 * std::sin((INT_MIN + 1) / 1000.0)), scene.cameraYaw);
}

// Particles that respawn draw from the generator in turn, and splats that
// overlap truncate and cap in turn: only stepping in list order gives the
// reference's particles and grid.
TEST_F(TickTest, EveryParticleIsSteppedInListOrder)
{
    SetupScene(nullptr, 0, 0, 1920, 1200, 77);
    for (int tick = 0; tick < 50; ++tick)
        UpdateScene();
    for (uint32_t n : {3u, 700u, 1999u})
        scene.particles.records[n].lifeTicks = 1;
    // Neighbours splatting into each other's blocks.
    for (uint32_t n = 100; n < 140; ++n) {
        scene.particles.records[n] = scene.particles.records[100];
        scene.particles.records[n].mapX += 0.001f * static_cast<float>(n - 100);
    }
    ScenePtr reference = NewScene();
    CopyScene(*reference, scene);
    const uint32_t draws = GeneratorState();
    UpdateScene();
    const uint32_t afterTick = GeneratorState();
    SeedGenerator(draws);
    TickSceneReference(*reference);
    EXPECT_EQ(GeneratorState(), afterTick);
    ExpectSameSimulation(*reference, scene, "one tick");
}

}  // namespace
