// Long runs: the host keeps the plug-in loaded for days, ticking and drawing
// without end and setting it up again whenever its device changes. These
// tests run the scene far beyond the short cases elsewhere and check that
// nothing drifts out of its range: no channel escapes 0..255 or turns into
// a non-number, no particle leaves the grid or outlives its life, no texel is
// written half transparent, and no device reference is lost or given twice.
//
// A tick of the full scene (2000 particles, each with its map step and its
// 36-cell splat) costs about a millisecond and a frame about ten, so a hundred
// thousand ticks of the full scene would take minutes. The long run therefore
// keeps the first 100 particles of its set-up (particles are stepped
// independently; only the shared random sequence ties them together) and
// draws a frame every 100th tick; the full 2000 particles then run a stretch
// of a thousand ticks with a frame on every tick. Built with sanitizers the
// runs are shortened; they still cross several re-draws of the pattern.
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "platform/software_device.h"
#include "plugin/entry_points.h"
#include "scene_fixture.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CHAOSTRAILS_SANITIZED_BUILD 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(CHAOSTRAILS_SANITIZE)
#define CHAOSTRAILS_SANITIZED_BUILD 1
#endif

namespace {

#if defined(CHAOSTRAILS_SANITIZED_BUILD)
const int longRunTicks = 40000;
const int ticksPerFrameInLongRun = 200;
const int ticksWithFrameEveryTick = 300;
#else
const int longRunTicks = 100000;
const int ticksPerFrameInLongRun = 100;
const int ticksWithFrameEveryTick = 1000;
#endif
const uint32_t particlesInLongRun = 100;
const int setupCycles = 100;
const int ticksBetweenGridChecks = 5000;
const int ticksBetweenRedraws = 1501;

class LongRunTest : public SceneTest {
protected:
    // The device fills every discard lock with a sentinel word, which costs a
    // quarter of a frame; the runs switch it on only for the frames whose
    // glow texels are checked, where a texel the update forgot would show it.
    LongRunTest() : device_(64, 40) { device_.SetSentinelMode(SoftwareDevice::SentinelMode::Off); }

    void CheckedFrame()
    {
        device_.SetSentinelMode(SoftwareDevice::SentinelMode::OnDiscard);
        Frame();
        device_.SetSentinelMode(SoftwareDevice::SentinelMode::Off);
    }

    void TearDown() override
    {
        FreePlugin(0, 0, 0);
        SceneTest::TearDown();
    }

    void Frame() { EXPECT_EQ(0, RenderSceneOnScreen(0, &device_, 0, 0, 1920, 1200, 0, 0, 0, 0, 0)); }

    SoftwareDevice device_;
};

bool InChannelRange(float value) { return std::isfinite(value) && value >= 0.0f && value <= 255.0f; }

bool InRange(float value, float low, float high) { return std::isfinite(value) && value >= low && value <= high; }

// The first value of the scene's scalars out of its range, or empty.
std::string ScalarViolation()
{
    std::ostringstream text;
    if (scene.ticksSinceReseed < 0 || scene.ticksSinceReseed > 1500) {
        text << "ticksSinceReseed " << scene.ticksSinceReseed;
    }
    // The re-draw gives 0..9, and 10 only for the draw 32767.
    if (scene.equationType < 0 || scene.equationType > 10)
        text << "equationType " << scene.equationType;
    if (!InRange(scene.patternScale, 50.0f, 200.0f))
        text << "patternScale " << scene.patternScale;
    if (!InRange(scene.patternOffsetX, -5.0f, 5.0f))
        text << "patternOffsetX " << scene.patternOffsetX;
    if (!InRange(scene.patternOffsetY, -5.0f, 5.0f))
        text << "patternOffsetY " << scene.patternOffsetY;
    if (!InRange(scene.cameraYaw, -3.0f, 3.0f))
        text << "cameraYaw " << scene.cameraYaw;
    if (!InRange(scene.cameraPitch, -3.0f, 3.0f))
        text << "cameraPitch " << scene.cameraPitch;
    if (!InRange(scene.fovWobble, -4.0f, 4.0f))
        text << "fovWobble " << scene.fovWobble;
    return text.str();
}

// The first particle with a field out of its range, or empty.
std::string ParticleViolation()
{
    for (uint32_t n = 0; n < scene.particles.count; ++n) {
        const Particle& p = scene.particles.records[n];
        std::ostringstream text;
        // A life that runs out restarts within the same step, so after a tick
        // no particle is left at 0.
        if (p.lifeTicks < 1 || p.lifeTicks > 3000)
            text << " lifeTicks " << p.lifeTicks;
        if (p.pixelX < 0 || p.pixelX >= AccumulationGridWidth)
            text << " pixelX " << p.pixelX;
        if (p.pixelY < 0 || p.pixelY >= AccumulationGridHeight)
            text << " pixelY " << p.pixelY;
        if (!InChannelRange(p.red) || !InChannelRange(p.green) || !InChannelRange(p.blue)) {
            text << " colour " << p.red << " " << p.green << " " << p.blue;
        }
        if (!InRange(p.blobSize, 0.3f, 1.3f))
            text << " blobSize " << p.blobSize;
        if (!InRange(p.stepSize, 0.01f, 0.192f))
            text << " stepSize " << p.stepSize;
        if (!std::isfinite(p.mapX) || !std::isfinite(p.mapY))
            text << " map " << p.mapX << " " << p.mapY;
        if (!text.str().empty())
            return "particle " + std::to_string(n) + ":" + text.str();
    }
    return std::string();
}

std::string GridViolation(const GridCell* cells, int width, int height, const char* name)
{
    for (int x = 0; x < width; ++x) {
        for (int y = 0; y < height; ++y) {
            const GridCell& cell = cells[x * height + y];
            if (!InChannelRange(cell.red) || !InChannelRange(cell.green) || !InChannelRange(cell.blue)) {
                std::ostringstream text;
                text << name << " cell (" << x << ", " << y << "): " << cell.red << " " << cell.green << " "
                     << cell.blue;
                return text.str();
            }
        }
    }
    return std::string();
}

// Full-layer texels are packed opaque whenever written; 0 means never written.
std::string FullLayerViolation()
{
    for (int n = 0; n < AccumulationGridWidth * AccumulationGridHeight; ++n) {
        const uint32_t texel = scene.FullLayerTexels[n];
        if (texel != 0 && (texel >> 24) != 0xFFu) {
            std::ostringstream text;
            text << "full-layer texel (" << n % AccumulationGridWidth << ", " << n / AccumulationGridWidth << ") = 0x"
                 << std::hex << texel;
            return text.str();
        }
    }
    return std::string();
}

// Glow texels are transparent black outside the halos and opaque inside.
std::string GlowTexelViolation(int& opaque)
{
    std::vector<uint32_t> texels;
    int width = 0;
    int height = 0;
    if (!SoftwareDevice::ReadTexels(deviceResources.GlowLayerTexture, texels, width, height))
        return "glow texture unreadable";
    opaque = 0;
    for (size_t n = 0; n < texels.size(); ++n) {
        if (texels[n] != 0 && (texels[n] >> 24) != 0xFFu) {
            std::ostringstream text;
            text << "glow texel (" << n % width << ", " << n / width << ") = 0x" << std::hex << texels[n];
            return text.str();
        }
        opaque += texels[n] != 0 ? 1 : 0;
    }
    return std::string();
}

void CheckEverything(int tick)
{
    SCOPED_TRACE("after tick " + std::to_string(tick));
    EXPECT_EQ("", GridViolation(scene.AccumulationGrid, AccumulationGridWidth, AccumulationGridHeight, "accumulation"));
    EXPECT_EQ("", GridViolation(scene.GlowGrid, GlowGridWidth, GlowGridHeight, "glow"));
    EXPECT_EQ("", FullLayerViolation());
}

TEST_F(LongRunTest, LongRunKeepsEveryValueInItsRange)
{
    SetupScene(&device_, 0, 0, 1920, 1200, 20240229);
    scene.particles.count = particlesInLongRun;
    int redraws = 0;
    int equationTypesSeen = 0;
    for (int tick = 1; tick <= longRunTicks; ++tick) {
        const int32_t before = scene.ticksSinceReseed;
        UpdateScene();
        if (scene.ticksSinceReseed < before) {
            ++redraws;
            equationTypesSeen |= 1 << scene.equationType;
        }
        ASSERT_EQ("", ScalarViolation()) << "tick " << tick;
        ASSERT_EQ("", ParticleViolation()) << "tick " << tick;
        if (tick % ticksPerFrameInLongRun == 0 && tick % ticksBetweenGridChecks != 0)
            Frame();
        if (tick % ticksBetweenGridChecks == 0) {
            CheckedFrame();
            CheckEverything(tick);
            int opaque = 0;
            EXPECT_EQ("", GlowTexelViolation(opaque));
            if (HasFailure())
                return;
        }
    }
    CheckEverything(longRunTicks);
    EXPECT_EQ(longRunTicks / ticksBetweenRedraws, redraws);
    // Over many re-draws the scene must have gone through several families.
    EXPECT_GE(__builtin_popcount(equationTypesSeen), 3);
    EXPECT_EQ(particlesInLongRun, scene.particles.count);
}

TEST_F(LongRunTest, FrameOnEveryTickKeepsEveryTexelOpaqueOrUntouched)
{
    // A host may tick before it sets up; here that brings the next re-draw
    // and the settling time after it (300 ticks) into the framed stretch.
    const int ticksBeforeSetup = ticksBetweenRedraws - ticksWithFrameEveryTick / 2;
    for (int tick = 0; tick < ticksBeforeSetup; ++tick)
        UpdateScene();
    SetupScene(&device_, 0, 0, 1920, 1200, 4711);
    int opaqueGlow = 0;
    int emptyFullTexels = 0;
    bool settledAfterRedraw = false;
    for (int tick = 1; tick <= ticksWithFrameEveryTick; ++tick) {
        UpdateScene();
        if (tick % 100 == 0 || tick == ticksWithFrameEveryTick) {
            CheckedFrame();
        } else {
            Frame();
        }
        ASSERT_EQ("", ScalarViolation()) << "tick " << tick;
        ASSERT_EQ("", ParticleViolation()) << "tick " << tick;
        if (tick % 100 == 0) {
            ASSERT_EQ("", GlowTexelViolation(opaqueGlow)) << "tick " << tick;
        }
        if (tick > ticksWithFrameEveryTick / 2 && scene.ticksSinceReseed >= 300)
            settledAfterRedraw = true;
    }
    // The shortened stretch ends before the settling time after the re-draw.
    if (ticksWithFrameEveryTick / 2 + 300 < ticksWithFrameEveryTick) {
        EXPECT_TRUE(settledAfterRedraw);
    }
    CheckEverything(ticksWithFrameEveryTick);
    ASSERT_EQ("", GlowTexelViolation(opaqueGlow));
    for (uint32_t texel : scene.FullLayerTexels)
        emptyFullTexels += texel == 0 ? 1 : 0;
    // Halos are drawn (81 cells per particle at most, overlapping), and not
    // every texel of the full layer has been reached yet.
    EXPECT_GT(opaqueGlow, 2000);
    EXPECT_LE(opaqueGlow, 2000 * 81);
    EXPECT_GT(emptyFullTexels, 0);
    EXPECT_LT(emptyFullTexels, AccumulationGridWidth * AccumulationGridHeight);
}

TEST_F(LongRunTest, HundredSetupFreeCyclesBalanceReferencesAndGrowTheListByTwoThousand)
{
    // The records of the previous set-up and the very first ones, to see that
    // a set-up appends without moving or changing what is there.
    std::vector<Particle> firstRecords;
    std::vector<Particle> previousRecords;
    for (int cycle = 1; cycle <= setupCycles; ++cycle) {
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        const uint32_t countBefore = scene.particles.count;
        if (countBefore > 0) {
            previousRecords.assign(scene.particles.records + countBefore - 2000, scene.particles.records + countBefore);
        }
        ASSERT_EQ(1, SetupPlugin(&device_, 0, 0, 1920, 1200, 0, 0));
        ASSERT_EQ(static_cast<uint32_t>(2000 * cycle), scene.particles.count);
        if (cycle == 1)
            firstRecords.assign(scene.particles.records, scene.particles.records + 2000);
        ASSERT_EQ(0, std::memcmp(firstRecords.data(), scene.particles.records, 2000 * sizeof(Particle)));
        if (countBefore > 0) {
            ASSERT_EQ(0, std::memcmp(previousRecords.data(), scene.particles.records + countBefore - 2000,
                                     2000 * sizeof(Particle)));
        }
        ASSERT_EQ(3, device_.LiveObjectCount());
        FreePlugin(0, 0, 0);
        ASSERT_EQ(0, device_.LiveObjectCount());
        ASSERT_EQ(0, device_.OverReleaseCount());
        ASSERT_EQ(0, device_.UseAfterReleaseCount());
        ASSERT_EQ(3 * cycle, device_.ObjectCount());
    }
    // The grown list is still stepped and drawn whole.
    ASSERT_EQ(1, SetupPlugin(&device_, 0, 0, 1920, 1200, 0, 0));
    UpdateScene();
    Frame();
    EXPECT_EQ("", ParticleViolation());
    FreePlugin(0, 0, 0);
    EXPECT_EQ(0, device_.LiveObjectCount());
    EXPECT_EQ(0, device_.OverReleaseCount());
}

}  // namespace
