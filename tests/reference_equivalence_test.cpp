// The fast paths (SIMD lanes, skipped work, particles moved ahead of their
// splat) against the plain references, bit for bit, on random scenes.
#include <cmath>
#include <random>
#include <vector>

#include "core/cell_lanes.h"
#include "core/generator.h"
#include "core/layers.h"
#include "core/move.h"
#include "core/setup.h"
#include "core/step.h"
#include "core/tick.h"
#include "scene_copies.h"

namespace {

class Random {
public:
    explicit Random(uint32_t seed) : engine_(seed) {}
    int Int(int low, int high) { return std::uniform_int_distribution<int>(low, high)(engine_); }
    float Float(float low, float high) { return std::uniform_real_distribution<float>(low, high)(engine_); }
    bool Chance(double p) { return std::bernoulli_distribution(p)(engine_); }

    // What a grid channel holds: mostly black; a splat leaves whole numbers,
    // a fade fractions, both within 0 to 255.
    float Channel()
    {
        if (Chance(0.3))
            return 0.0f;
        return Chance(0.5) ? static_cast<float>(Int(0, 255)) : Float(0.0f, 255.0f);
    }
    GridCell Cell() { return GridCell{Channel(), Channel(), Channel(), 0.0f}; }

private:
    std::mt19937 engine_;
};

// Colours a share of the grid's cells and marks them lit, with some dark
// cells marked too (a set bit only says "maybe lit").
void PaintGrid(SceneState& scene, Random& random, double share)
{
    std::memset(scene.AccumulationGrid, 0, sizeof(scene.AccumulationGrid));
    std::memset(scene.litCells, 0, sizeof(scene.litCells));
    const int cells = static_cast<int>(share * AccumulationGridWidth * AccumulationGridHeight);
    for (int n = 0; n < cells; ++n) {
        const int x = random.Int(0, AccumulationGridWidth - 1);
        const int y = random.Int(0, AccumulationGridHeight - 1);
        AccumulationCell(scene, x, y) = random.Cell();
        const int bit = y * AccumulationGridWidth + x;
        scene.litCells[bit >> 3] = static_cast<uint8_t>(scene.litCells[bit >> 3] | 1u << (bit & 7));
    }
    for (int n = 0; n < cells / 4; ++n) {
        scene.litCells[random.Int(0, sizeof(scene.litCells) - 1)] |= static_cast<uint8_t>(random.Int(0, 255));
    }
}

// A particle as respawns make them (colour, kernel, blob and step size),
// placed at pixel (x, y).
Particle ParticleAt(Random& random, int x, int y)
{
    Particle p;
    std::memset(&p, 0, sizeof(p));
    p.gridWidth = AccumulationGridWidth;
    p.gridHeight = AccumulationGridHeight;
    p.aspectFactor = 1.0f;
    const int32_t draws[12] = {random.Int(0, 32767), random.Int(0, 32767),
                               random.Int(0, 32767), random.Chance(0.1) ? 32767 : random.Int(0, 32767),
                               random.Int(0, 32767), random.Int(0, 32767),
                               random.Int(0, 32767), random.Int(0, 32767),
                               random.Int(0, 32767), random.Int(0, 32767),
                               random.Int(0, 32767), random.Int(0, 32767)};
    ScriptDraws(draws, 12);
    RespawnParticle(&p, 0.0f, 0.0f, 100.0f);
    ScriptDraws(nullptr, 0);
    p.pixelX = x;
    p.pixelY = y;
    return p;
}

// Particles anywhere, at the edges and beyond, and in clusters whose halos
// and squares overlap.
void PlaceParticles(SceneState& scene, Random& random, int count)
{
    scene.particles.count = 0;
    for (int n = 0; n < count; ++n) {
        int x = random.Int(0, AccumulationGridWidth - 1);
        int y = random.Int(0, AccumulationGridHeight - 1);
        if (random.Chance(0.1)) {
            x = random.Chance(0.5) ? random.Int(-3, 12)
                                   : random.Int(AccumulationGridWidth - 12, AccumulationGridWidth + 3);
        }
        if (random.Chance(0.1)) {
            y = random.Chance(0.5) ? random.Int(-3, 12)
                                   : random.Int(AccumulationGridHeight - 12, AccumulationGridHeight + 3);
        }
        if (n > 0 && random.Chance(0.3)) {
            const Particle& near = scene.particles.records[random.Int(0, n - 1)];
            x = near.pixelX + random.Int(-6, 6);
            y = near.pixelY + random.Int(-6, 6);
        }
        ASSERT_TRUE(AppendParticle(scene, ParticleAt(random, x, y)));
    }
}

TexelBuffer Texels(std::vector<uint32_t>& memory, int width, int height, int pitchTexels)
{
    return TexelBuffer{memory.data(), width, height, pitchTexels * 4};
}

TEST(ReferenceEquivalence, PackCellsIsPackTexelOnEveryLane)
{
    Random random(7);
    for (int trial = 0; trial < 20000; ++trial) {
        float v[12];
        for (float& value : v) {
            value = random.Chance(0.5) ? random.Float(-300.0f, 300.0f) : random.Float(-2e9f, 2e9f);
        }
        alignas(16) uint32_t words[4];
        const __m128 c[4] = {_mm_setr_ps(v[0], v[1], v[2], 9.0f), _mm_setr_ps(v[3], v[4], v[5], -1.0f),
                             _mm_setr_ps(v[6], v[7], v[8], 300.0f), _mm_setr_ps(v[9], v[10], v[11], 0.0f)};
        _mm_store_si128(reinterpret_cast<__m128i*>(words), PackCells(c[0], c[1], c[2], c[3]));
        for (int n = 0; n < 4; ++n) {
            ASSERT_EQ(PackTexel(v[3 * n + 2], v[3 * n + 1], v[3 * n]), words[n])
                << v[3 * n + 2] << " " << v[3 * n + 1] << " " << v[3 * n];
        }
    }
}

// The fast paths on both instruction sets the machine can run: AVX where it
// has it, and SSE2.
class SimdEquivalence : public ::testing::TestWithParam<int> {
protected:
    static SimdLevel Level() { return GetParam() != 0 ? SimdLevel::Sse2 : MachineSimdLevel(); }
};

INSTANTIATE_TEST_SUITE_P(ReferenceEquivalence, SimdEquivalence, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(info.param != 0 ? "Sse2" : "MachinesBest");
                         });

TEST_P(SimdEquivalence, StepAndSplatMatchTheReference)
{
    ScenePtr fast = NewScene();
    ScenePtr reference = NewScene();
    Random random(11);
    int splats = 0;
    for (int trial = 0; trial < 20000; ++trial) {
        Particle p = ParticleAt(random, 0, 0);
        p.equationType = random.Int(-1, 11);
        p.spawnAxis = random.Int(0, 2);
        p.mapX = random.Float(-3.0f, 3.0f);
        p.mapY = random.Float(-3.0f, 3.0f);
        p.scale = 1.0f;
        p.offsetX = random.Float(5.0f, 1915.0f) - p.mapX;
        p.offsetY = random.Float(5.0f, 1195.0f) - p.mapY;
        p.lifeTicks = random.Int(1, 4);
        if (random.Chance(0.05))
            p.blobSize = random.Chance(0.5) ? 0.0f : random.Float(0.0f, 0.05f);
        // The block the particle may splat, coloured the same in both scenes.
        const int x0 = static_cast<int>(p.mapX + p.offsetX) - 5;
        const int y0 = static_cast<int>(p.mapY + p.offsetY) - 5;
        for (int x = x0; x < x0 + 10; ++x) {
            for (int y = y0; y < y0 + 10; ++y) {
                if (x < 0 || y < 0 || x >= AccumulationGridWidth || y >= AccumulationGridHeight)
                    continue;
                GridCell cell = random.Cell();
                // The extra field is no channel: whatever it holds stays.
                cell.extra = random.Chance(0.1) ? std::nanf("") : random.Float(-1e30f, 1e30f);
                AccumulationCell(*fast, x, y) = AccumulationCell(*reference, x, y) = cell;
            }
        }
        Particle q = p;
        const uint32_t seed = static_cast<uint32_t>(random.Int(1, 1 << 30));
        SeedGenerator(seed);
        StepParticle(*fast, &p, Level());
        const uint32_t fastDraws = GeneratorState();
        SeedGenerator(seed);
        StepParticleReference(*reference, &q);
        ASSERT_EQ(GeneratorState(), fastDraws) << trial;
        ASSERT_EQ(0, std::memcmp(&p, &q, sizeof(p))) << trial;
        for (int x = x0; x < x0 + 10; ++x) {
            for (int y = y0; y < y0 + 10; ++y) {
                if (x < 0 || y < 0 || x >= AccumulationGridWidth || y >= AccumulationGridHeight)
                    continue;
                ASSERT_EQ(0, std::memcmp(&AccumulationCell(*fast, x, y), &AccumulationCell(*reference, x, y),
                                         sizeof(GridCell)))
                    << trial << " cell " << x << "," << y;
            }
        }
        splats += GeneratorState() == seed;
    }
    EXPECT_GT(splats, 10000);  // most trials splat rather than respawn
}

TEST_P(SimdEquivalence, BlockTickMatchesSteppingOneByOne)
{
    ScenePtr fast = NewScene();
    ScenePtr reference = NewScene();
    Random random(17);
    for (uint32_t seed : {5u, 90210u}) {
        ResetSceneToLoadValues(*fast);
        ResetSceneToLoadValues(*reference);
        // Two set-ups: 4000 particles, the first 2000 on another aspect.
        FixGridAndAspect(*fast, 0, 0, 1280, 1024);
        PopulateScene(*fast, seed);
        FixGridAndAspect(*fast, 0, 0, 1920, 1200);
        PopulateScene(*fast, seed + 1);
        // The first tick's blocks mix families (after it every particle holds
        // the scene's), and a few particles stand where the functions take
        // their rare paths: huge, infinite or not a number.
        for (uint32_t n = 0; n < fast->particles.count; ++n) {
            Particle& p = fast->particles.records[n];
            p.equationType = random.Chance(0.9) ? 1 : random.Int(-1, 11);
            if (random.Chance(0.02)) {
                const float odd[] = {1e30f, -3e6f, INFINITY, std::nanf(""), 102.101761f};
                p.mapX = odd[random.Int(0, 4)];
            }
        }
        CopyScene(*reference, *fast);
        // A re-draw after 50 ticks, and its settling ticks.
        fast->ticksSinceReseed = reference->ticksSinceReseed = 1450;
        uint32_t fastDraws = GeneratorState();
        uint32_t referenceDraws = fastDraws;
        for (int tick = 1; tick <= 250; ++tick) {
            SeedGenerator(fastDraws);
            TickScene(*fast, Level());
            fastDraws = GeneratorState();
            SeedGenerator(referenceDraws);
            TickSceneReference(*reference);
            referenceDraws = GeneratorState();
            if (tick % 125 == 0) {
                ASSERT_EQ(referenceDraws, fastDraws) << tick;
                ExpectSameSimulation(*reference, *fast, "tick");
                ASSERT_FALSE(HasFailure()) << "seed " << seed << ", tick " << tick;
            }
        }
    }
}

TEST_P(SimdEquivalence, BlockMovesMatchMovingOneByOne)
{
    Random random(19);
    const SimdLevel level = Level();
    for (int trial = 0; trial < 3000; ++trial) {
        Particle block[moveBlockSize];
        Particle one[moveBlockSize];
        const uint32_t count = static_cast<uint32_t>(random.Int(1, moveBlockSize));
        const int32_t family = random.Int(-1, 11);
        for (uint32_t n = 0; n < count; ++n) {
            Particle p = ParticleAt(random, 0, 0);
            p.equationType = random.Chance(0.9) ? family : random.Int(-1, 11);
            p.spawnAxis = random.Int(0, 2);
            const float spread = random.Chance(0.9) ? 20.0f : 2e6f;
            p.mapX = random.Float(-spread, spread);
            p.mapY = random.Float(-spread, spread);
            if (random.Chance(0.03))
                p.mapY = random.Chance(0.5) ? INFINITY : std::nanf("");
            p.offsetX = random.Float(-5.0f, 5.0f);
            p.offsetY = random.Float(-5.0f, 5.0f);
            p.scale = random.Float(50.0f, 200.0f);
            block[n] = one[n] = p;
        }
        GridPosition blockAt[moveBlockSize];
        MoveParticles(block, count, blockAt, level);
        for (uint32_t n = 0; n < count; ++n) {
            const GridPosition oneAt = MoveParticle(&one[n]);
            ASSERT_EQ(0, std::memcmp(&block[n], &one[n], sizeof(Particle))) << trial << " particle " << n;
            ASSERT_EQ(0, std::memcmp(&blockAt[n], &oneAt, sizeof(GridPosition))) << trial << " particle " << n;
        }
    }
}

TEST_P(SimdEquivalence, FadeMatchesTheReference)
{
    ScenePtr fast = NewScene();
    ScenePtr reference = NewScene();
    Random random(13);
    const int pitch = AccumulationGridWidth + 8;
    for (int frame = 0; frame < 12; ++frame) {
        PaintGrid(*fast, random, random.Chance(0.5) ? 0.02 : 0.3);
        fast->gridWidth = AccumulationGridWidth;
        fast->gridHeight = AccumulationGridHeight;
        fast->ticksSinceReseed = random.Chance(0.5) ? random.Int(0, 299) : random.Int(300, 1500);
        CopyScene(*reference, *fast);
        std::vector<uint32_t> fastTexels(static_cast<size_t>(pitch) * AccumulationGridHeight, 0xABCDEF01u);
        std::vector<uint32_t> referenceTexels = fastTexels;
        const uint32_t seed = static_cast<uint32_t>(random.Int(0, 1 << 30));
        SeedGenerator(seed);
        FadeLattice(*fast, Texels(fastTexels, AccumulationGridWidth, AccumulationGridHeight, pitch), Level());
        const uint32_t fastDraws = GeneratorState();
        SeedGenerator(seed);
        FadePassReference(*reference, Texels(referenceTexels, AccumulationGridWidth, AccumulationGridHeight, pitch));
        ASSERT_EQ(GeneratorState(), fastDraws) << frame;
        ExpectSameSimulation(*reference, *fast, "fade");
        ASSERT_TRUE(fastTexels == referenceTexels) << frame;
        // A clear lit bit still promises a dark cell.
        for (int y = 0; y < AccumulationGridHeight; ++y) {
            for (int x = 0; x < AccumulationGridWidth; ++x) {
                const int bit = y * AccumulationGridWidth + x;
                if ((fast->litCells[bit >> 3] >> (bit & 7) & 1) == 0) {
                    ASSERT_FALSE(ChannelsAboveZero(AccumulationCell(*fast, x, y))) << x << "," << y;
                }
            }
        }
    }
}

TEST(ReferenceEquivalence, ParticleTexelsMatchTheReference)
{
    ScenePtr scene = NewScene();
    Random random(17);
    const int pitch = AccumulationGridWidth + 3;
    for (int round = 0; round < 4; ++round) {
        PaintGrid(*scene, random, 0.5);
        // A few cells above 255: the texel is capped, the grid is not.
        for (int n = 0; n < 1000; ++n) {
            AccumulationCell(*scene, random.Int(0, 1919), random.Int(0, 1199)).red = random.Float(255.0f, 400.0f);
        }
        scene->gridWidth = AccumulationGridWidth;
        scene->gridHeight = AccumulationGridHeight;
        PlaceParticles(*scene, random, 3000);
        std::vector<uint32_t> fast(static_cast<size_t>(pitch) * AccumulationGridHeight, 0x5A5A5A5Au);
        std::vector<uint32_t> reference = fast;
        RefreshParticleTexels(*scene, Texels(fast, AccumulationGridWidth, AccumulationGridHeight, pitch));
        ParticleTexelPassReference(*scene, Texels(reference, AccumulationGridWidth, AccumulationGridHeight, pitch));
        ASSERT_TRUE(fast == reference) << round;
    }
}

TEST_P(SimdEquivalence, GlowMatchesTheReferenceFrameAfterFrame)
{
    ScenePtr fast = NewScene();
    ScenePtr reference = NewScene();
    Random random(19);
    const int pitch = GlowGridWidth + 5;
    PlaceParticles(*fast, random, 2500);
    for (int frame = 0; frame < 6; ++frame) {
        PaintGrid(*fast, random, 0.3);
        fast->gridWidth = AccumulationGridWidth;
        fast->gridHeight = AccumulationGridHeight;
        // Some particles move between frames: last frame's glow must go.
        for (uint32_t n = 0; n < fast->particles.count; ++n) {
            if (random.Chance(0.3)) {
                fast->particles.records[n].pixelX += random.Int(-40, 40);
                fast->particles.records[n].pixelY += random.Int(-40, 40);
            }
        }
        // The reference clears every cell, so it may start from the fast
        // scene's glow of last frame.
        CopyScene(*reference, *fast);
        const bool withTexels = frame != 3;
        std::vector<uint32_t> fastTexels(static_cast<size_t>(pitch) * GlowGridHeight, 0x77777777u);
        std::vector<uint32_t> referenceTexels = fastTexels;
        const TexelBuffer none = {nullptr, GlowGridWidth, GlowGridHeight, 0};
        UpdateGlowTexels(*fast, withTexels ? Texels(fastTexels, GlowGridWidth, GlowGridHeight, pitch) : none, Level());
        GlowPassReference(*reference,
                          withTexels ? Texels(referenceTexels, GlowGridWidth, GlowGridHeight, pitch) : none);
        ExpectSameSimulation(*reference, *fast, "glow");
        ASSERT_TRUE(fastTexels == referenceTexels) << frame;
        ASSERT_FALSE(HasFailure()) << frame;
    }
}

}  // namespace
