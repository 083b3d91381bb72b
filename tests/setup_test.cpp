#include <climits>
#include <cmath>
#include <ctime>
#include <vector>

#include "core/setup.h"
#include "plugin/default_settings.h"
#include "plugin/entry_points.h"
#include "scene_fixture.h"

namespace {

using SetupTest = SceneTest;

// The keys of the table get their values whatever default the host offers;
// every other key gets the host's default back.
TEST(QueryDefaultSettings, AnswersItsTableAndPassesOtherKeysThrough)
{
    for (const DefaultSetting& setting : defaultSettings) {
        for (int32_t offered : {setting.value + 17, -5})
            EXPECT_EQ(setting.value, QueryDefaultSettings(setting.key, offered)) << setting.key;
    }
    EXPECT_EQ(12, QueryDefaultSettings(4, 12));
    EXPECT_EQ(-3, QueryDefaultSettings(0, -3));
    EXPECT_EQ(8, QueryDefaultSettings(static_cast<uint32_t>(-1), 8));
    EXPECT_EQ(44, QueryDefaultSettings(8, 44));
}

TEST_F(SetupTest, FirstSetupBuildsTwoThousandParticlesOfTheScene)
{
    EXPECT_EQ(1, SetupScene(nullptr, 0, 0, 1920, 1200, 1));
    EXPECT_EQ(1920, scene.gridWidth);
    EXPECT_EQ(1200, scene.gridHeight);
    EXPECT_FLOAT_BITS(1.0f, scene.aspectFactor);
    // From seed 1 the first two draws are 41 and 18467.
    EXPECT_EQ(41, scene.cameraClockA);
    EXPECT_EQ(18467, scene.cameraClockB);
    ASSERT_EQ(2000u, scene.particles.count);
    for (uint32_t n = 0; n < scene.particles.count; ++n) {
        const Particle& p = scene.particles.records[n];
        ASSERT_EQ(1, p.equationType);
        ASSERT_EQ(1920, p.gridWidth);
        ASSERT_EQ(1200, p.gridHeight);
        ASSERT_FLOAT_EQ(1.0f, p.aspectFactor);
        ASSERT_EQ(0, p.spawnAxis);
        ASSERT_EQ(0, p.pixelX);
        ASSERT_EQ(0, p.pixelY);
        ASSERT_EQ(scene.patternScale, p.scale);
        ASSERT_GE(p.lifeTicks, 500);
        ASSERT_LE(p.lifeTicks, 3000);
    }
    // Set-up leaves the grid alone.
    EXPECT_EQ(0.0f, Cell(960, 600).red);
}

TEST_F(SetupTest, SecondSetupAppendsAndKeepsTheFirstRecords)
{
    SetupScene(nullptr, 0, 0, 1920, 1200, 5);
    std::vector<Particle> firstParticles(scene.particles.records, scene.particles.records + scene.particles.count);
    SetupScene(nullptr, 0, 0, 1920, 1080, 6);
    ASSERT_EQ(4000u, scene.particles.count);
    EXPECT_EQ(0, std::memcmp(firstParticles.data(), scene.particles.records, 2000 * sizeof(Particle)));
    // The new particles take the aspect of the new rectangle.
    EXPECT_FLOAT_BITS(0.9f, scene.particles.records[2000].aspectFactor);
    EXPECT_FLOAT_BITS(1.0f, scene.particles.records[1999].aspectFactor);
}

// Width over height against 16:10, whatever the offset; empty and inverted
// rectangles get 1, and extreme but valid coordinates do not overflow.
TEST_F(SetupTest, AspectFactorFollowsTheRectangle)
{
    const struct {
        int left, top, right, bottom;
        float factor;
    } rectangles[] = {
        {0, 0, 1920, 1200, 1.0f},    {0, 0, 1920, 1080, 0.9f},
        {0, 0, 1280, 1024, 1.28f},   {0, 0, 1024, 768, 1.2f},
        {100, 50, 2020, 1250, 1.0f}, {0, 0, 0, 1200, 1.0f},
        {0, 0, 1920, 0, 1.0f},       {100, 0, 0, 1200, 1.0f},
        {0, 100, 1920, 0, 1.0f},     {INT_MAX, INT_MAX, INT_MIN, INT_MIN, 1.0f},
    };
    for (const auto& r : rectangles) {
        EXPECT_FLOAT_BITS(r.factor, AspectFactorFor(r.left, r.top, r.right, r.bottom))
            << r.left << "," << r.top << "," << r.right << "," << r.bottom;
    }
    const float wide = AspectFactorFor(INT_MIN, 0, INT_MAX, 1);
    EXPECT_TRUE(std::isfinite(wide));
    EXPECT_GT(wide, 0.0f);
}

TEST_F(SetupTest, ScreenRectangleDoesNotChangeTheGridSize)
{
    SetupScene(nullptr, 0, 0, 3840, 2160, 3);
    EXPECT_EQ(1920, scene.gridWidth);
    EXPECT_EQ(1200, scene.gridHeight);
    EXPECT_FLOAT_BITS(0.9f, scene.aspectFactor);
}

TEST_F(SetupTest, SetupDoesNotTouchTickCounterOrEquationType)
{
    scene.ticksSinceReseed = 1234;
    scene.equationType = 6;
    SetupScene(nullptr, 0, 0, 1920, 1200, 3);
    EXPECT_EQ(1234, scene.ticksSinceReseed);
    EXPECT_EQ(6, scene.equationType);
    EXPECT_EQ(6, scene.particles.records[0].equationType);
}

TEST_F(SetupTest, RunningOutOfMemoryKeepsTheRecordsAndStillReturnsOne)
{
    testHooks.particleCapacity = 3000;
    EXPECT_EQ(1, SetupScene(nullptr, 0, 0, 1920, 1200, 1));
    std::vector<Particle> firstParticles(scene.particles.records, scene.particles.records + scene.particles.count);
    EXPECT_EQ(1, SetupScene(nullptr, 0, 0, 1920, 1200, 2));
    ASSERT_EQ(3000u, scene.particles.count);
    EXPECT_EQ(0, std::memcmp(firstParticles.data(), scene.particles.records, 2000 * sizeof(Particle)));
    EXPECT_EQ(1, SetupScene(nullptr, 0, 0, 1920, 1200, 3));
    EXPECT_EQ(3000u, scene.particles.count);
}

// The particles and camera values a set-up makes, to compare set-ups.
std::vector<uint32_t> SetupOutcome()
{
    std::vector<uint32_t> words = {static_cast<uint32_t>(scene.cameraClockA), static_cast<uint32_t>(scene.cameraClockB),
                                   FloatBits(scene.patternScale), FloatBits(scene.patternOffsetX),
                                   FloatBits(scene.patternOffsetY)};
    const uint32_t* record = reinterpret_cast<const uint32_t*>(scene.particles.records);
    words.insert(words.end(), record, record + scene.particles.count * sizeof(Particle) / 4);
    return words;
}

TEST_F(SetupTest, SetupPluginSeedsWithTheLowBitsOfTheCalendarTime)
{
    testHooks.calendarTimeFixed = 1;
    testHooks.calendarTime = 0x123456789LL;
    EXPECT_EQ(1, SetupPlugin(nullptr, 0, 0, 1920, 1200, 0, 0));
    const std::vector<uint32_t> fromClock = SetupOutcome();

    Reset();
    SetupScene(nullptr, 0, 0, 1920, 1200, 0x23456789u);
    EXPECT_TRUE(fromClock == SetupOutcome());

    // A second later, another scene.
    Reset();
    testHooks.calendarTimeFixed = 1;
    testHooks.calendarTime = 0x12345678ALL;
    SetupPlugin(nullptr, 0, 0, 1920, 1200, 0, 0);
    EXPECT_FALSE(fromClock == SetupOutcome());
}

TEST_F(SetupTest, SetupPluginReadsTheMachinesClockAndAlwaysReturnsOne)
{
    const uint32_t before = static_cast<uint32_t>(std::time(nullptr));
    EXPECT_EQ(1, SetupPlugin(nullptr, 0, 0, 1920, 1200, 0, 0));
    const uint32_t after = static_cast<uint32_t>(std::time(nullptr));
    const std::vector<uint32_t> fromClock = SetupOutcome();
    bool matched = false;
    for (uint32_t seconds = before; seconds - before <= after - before && !matched; ++seconds) {
        Reset();
        SetupScene(nullptr, 0, 0, 1920, 1200, seconds);
        matched = fromClock == SetupOutcome();
    }
    EXPECT_TRUE(matched) << "no second from " << before << " to " << after << " gives this scene";
    EXPECT_EQ(1, SetupPlugin(nullptr, 0, 0, 0, 0, 0xFFFFFFFFu, 7));
}

// Before any set-up the scene holds its load values, and the entry points
// without effect leave them so.
TEST_F(SetupTest, EntryPointsWithoutEffectIgnoreTheirArguments)
{
    EXPECT_EQ(0, SetupPluginPerScreen(1, 2, 3, 4, 5, 6, 7));
    EXPECT_EQ(0, SetupPluginPerScreen(0, 0, 0, 0, 0, 0, 0));
    NotificationProcedure(1, 2);
    FreePlugin(1, 2, 3);
    EXPECT_EQ(0, RenderSceneOnScreen(1, nullptr, 0, 0, 1920, 1200, 1, 2, 3, 4, 5));
    EXPECT_EQ(0u, scene.particles.count);
    EXPECT_EQ(1, scene.equationType);
    EXPECT_FLOAT_BITS(100.0f, scene.patternScale);
    EXPECT_EQ(0, scene.gridWidth);
}

}  // namespace
