#include "core/layers.h"
#include "scene_fixture.h"

namespace {

// The passes as the frame runs them and as their references define them,
// every test on both: the layer textures locked with some padding per row.
class LayerUpdateTest : public SceneTest, public ::testing::WithParamInterface<bool> {
protected:
    static constexpr int pitchTexels = AccumulationGridWidth + 16;
    static constexpr uint32_t untouched = 0x12345678u;

    void SetUp() override
    {
        SceneTest::SetUp();
        scene.gridWidth = AccumulationGridWidth;
        scene.gridHeight = AccumulationGridHeight;
        scene.ticksSinceReseed = 1000;
        texels_.assign(static_cast<size_t>(pitchTexels) * AccumulationGridHeight, untouched);
        glowTexels_.assign(static_cast<size_t>(pitchTexels) * GlowGridHeight, untouched);
    }

    static bool Reference() { return GetParam(); }

    TexelBuffer FullTexels()
    {
        return TexelBuffer{texels_.data(), AccumulationGridWidth, AccumulationGridHeight, pitchTexels * 4};
    }
    TexelBuffer GlowTexels() { return TexelBuffer{glowTexels_.data(), GlowGridWidth, GlowGridHeight, pitchTexels * 4}; }

    uint32_t Texel(int x, int y) const { return texels_[static_cast<size_t>(y) * pitchTexels + x]; }
    uint32_t GlowTexel(int x, int y) const { return glowTexels_[static_cast<size_t>(y) * pitchTexels + x]; }

    // Fades with scripted lattice draws: the row phase's, then one column
    // phase's per row. Returns the number of draws taken. The tests write
    // grid cells directly, so every cell counts as lit.
    uint32_t FadeWith(int32_t rowDraw, int32_t columnDraw)
    {
        std::memset(scene.litCells, 0xFF, sizeof(scene.litCells));
        script_.assign(1 + 240, columnDraw);
        script_[0] = rowDraw;
        ScriptDraws(script_.data(), static_cast<uint32_t>(script_.size()));
        if (Reference()) {
            FadePassReference(scene, FullTexels());
        } else {
            FadeLattice(scene, FullTexels());
        }
        const uint32_t used = static_cast<uint32_t>(script_.size()) - ScriptedDrawsLeft();
        ScriptDraws(nullptr, 0);
        return used;
    }

    void RefreshTexels()
    {
        if (Reference()) {
            ParticleTexelPassReference(scene, FullTexels());
        } else {
            RefreshParticleTexels(scene, FullTexels());
        }
    }

    void RunGlowPasses(bool withTexels = true)
    {
        const TexelBuffer texels = withTexels ? GlowTexels() : TexelBuffer{nullptr, GlowGridWidth, GlowGridHeight, 0};
        if (Reference()) {
            GlowPassReference(scene, texels);
        } else {
            UpdateGlowTexels(scene, texels);
        }
    }

    static void AddParticleAt(int pixelX, int pixelY, float kernelWeight)
    {
        Particle p = PlainParticle();
        p.pixelX = pixelX;
        p.pixelY = pixelY;
        for (auto& column : p.kernel.cells) {
            for (GridCell& cell : column)
                cell = GridCell{kernelWeight, kernelWeight, kernelWeight, 0.0f};
        }
        ASSERT_TRUE(AppendParticle(scene, p));
    }

    std::vector<uint32_t> texels_;
    std::vector<uint32_t> glowTexels_;
    std::vector<int32_t> script_;
};

INSTANTIATE_TEST_SUITE_P(FrameAndReference, LayerUpdateTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "Reference" : "Frame");
                         });

TEST(PackTexel, OpaqueWithTruncatedChannelsInTheirBytes)
{
    EXPECT_EQ(0xFF000000u, PackTexel(0.0f, 0.0f, 0.0f));
    EXPECT_EQ(0xFFFF8001u, PackTexel(255.9f, 128.5f, 1.99f));
    EXPECT_EQ(0xFF05984Cu, PackTexel(5.348f, 152.8f, 76.4f));
}

// A visited cell keeps about three quarters of each channel once the pattern
// has settled (300 ticks), less before (red 0.382, blue 0.638); what falls
// below 5 goes to 0. The texel packs the truncated channels; the extra field
// stays.
TEST_P(LayerUpdateTest, FadeScalesEachChannelAndDropsDimValues)
{
    const struct {
        int32_t ticks;
        GridCell before, after;
        uint32_t texel;
    } fades[] = {
        {300, {200.0f, 7.0f, 6.0f, 3.0f}, {159.52f, 5.32f, 0.0f, 3.0f}, 0xFF00059Fu},
        {300, {0.0f, 0.0f, 200.0f, 0.0f}, {0.0f, 0.0f, 152.8f, 0.0f}, 0xFF980000u},
        {300, {0.0f, 0.0f, 7.0f, 0.0f}, {0.0f, 0.0f, 5.348f, 0.0f}, 0xFF050000u},
        {299, {200.0f, 0.0f, 200.0f, 0.0f}, {127.616f, 0.0f, 76.4f, 0.0f}, 0xFF4C007Fu},
    };
    for (const auto& fade : fades) {
        Cell(10, 10) = fade.before;
        scene.ticksSinceReseed = fade.ticks;
        FadeWith(0, 0);
        const GridCell& after = Cell(10, 10);
        EXPECT_NEAR(fade.after.blue, after.blue, 1e-4) << fade.before.blue;
        EXPECT_NEAR(fade.after.green, after.green, 1e-5) << fade.before.green;
        EXPECT_NEAR(fade.after.red, after.red, 1e-4) << fade.before.red;
        EXPECT_EQ(fade.after.extra, after.extra);
        EXPECT_EQ(fade.texel, Texel(10, 10));
    }
}

TEST_P(LayerUpdateTest, EmptyCellIsSkippedAndItsTexelKept)
{
    FadeWith(0, 0);
    EXPECT_EQ(untouched, Texel(0, 0));
    EXPECT_EQ(untouched, Texel(5, 5));
}

TEST_P(LayerUpdateTest, LatticeVisitsOneCellInTwentyFive)
{
    for (GridCell& cell : scene.AccumulationGrid)
        cell.red = 100.0f;
    // Draws 13107 and 19661 give phases 2 and 3.
    EXPECT_EQ(241u, FadeWith(13107, 19661));
    int visited = 0;
    for (int y = 0; y < AccumulationGridHeight; ++y) {
        for (int x = 0; x < AccumulationGridWidth; ++x) {
            const bool onLattice = y % 5 == 2 && x % 5 == 3;
            ASSERT_EQ(onLattice, Texel(x, y) != untouched) << x << "," << y;
            visited += onLattice;
        }
    }
    EXPECT_EQ(240 * 384, visited);
}

TEST_P(LayerUpdateTest, HighestPhaseStartsAtFiveAndSkipsARow)
{
    for (GridCell& cell : scene.AccumulationGrid)
        cell.red = 100.0f;
    // Row phase 5: rows 5 to 1195, 239 rows, so 240 draws in all.
    EXPECT_EQ(240u, FadeWith(32767, 32767));
    EXPECT_EQ(untouched, Texel(0, 0));
    EXPECT_EQ(untouched, Texel(5, 0));
    EXPECT_NE(untouched, Texel(5, 5));
    EXPECT_NE(untouched, Texel(1915, 1195));
    EXPECT_EQ(untouched, Texel(0, 5));
}

TEST_P(LayerUpdateTest, ParticleAtTheOriginRefreshesOnlyFourTexels)
{
    for (GridCell& cell : scene.AccumulationGrid)
        cell = GridCell{1.0f, 2.0f, 300.0f, 0.0f};
    AddParticleAt(0, 0, 0.0f);
    RefreshTexels();
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 5; ++x) {
            const bool refreshed = x >= 1 && x <= 2 && y >= 1 && y <= 2;
            // The texel is capped at 255; the grid is not written.
            EXPECT_EQ(refreshed ? 0xFFFF0201u : untouched, Texel(x, y)) << x << "," << y;
        }
    }
    EXPECT_EQ(300.0f, Cell(1, 1).red);
}

TEST_P(LayerUpdateTest, ParticleSquareNearTheRightEdge)
{
    for (GridCell& cell : scene.AccumulationGrid)
        cell.green = 9.0f;
    AddParticleAt(1909, 600, 0.0f);
    RefreshTexels();
    for (int x = 1900; x < 1920; ++x) {
        const bool refreshed = x >= 1906 && x <= 1911;
        EXPECT_EQ(refreshed, Texel(x, 600) != untouched) << x;
    }
    EXPECT_NE(untouched, Texel(1906, 597));
    EXPECT_NE(untouched, Texel(1906, 602));
    EXPECT_EQ(untouched, Texel(1906, 596));
    EXPECT_EQ(untouched, Texel(1906, 603));
}

// A particle's halo covers the 9 x 9 glow cells about half its pixel (the
// floor of an odd one), cut at the glow grid's edges and never in its first
// row or column; the glow is transparent black elsewhere and the rows'
// padding is left alone.
TEST_P(LayerUpdateTest, HaloCoversTheCellsAboutHalfTheParticlesPixel)
{
    const struct {
        int pixelX, pixelY, left, right, top, bottom;
    } halos[] = {
        {1000, 600, 496, 504, 296, 304},
        {1909, 600, 950, 958, 296, 304},
        {0, 0, 1, 4, 1, 4},
        {3, 41, 1, 5, 16, 24},
    };
    for (const auto& halo : halos) {
        SCOPED_TRACE(testing::Message() << "particle at " << halo.pixelX << "," << halo.pixelY);
        scene.particles.count = 0;
        AddParticleAt(halo.pixelX, halo.pixelY, 0.5f);
        RunGlowPasses();
        int wrong = 0;
        for (int y = 0; y < GlowGridHeight; ++y) {
            for (int x = 0; x < GlowGridWidth; ++x) {
                const bool inside = x >= halo.left && x <= halo.right && y >= halo.top && y <= halo.bottom;
                if (inside != (GlowTexel(x, y) != 0u) && wrong++ < 5)
                    ADD_FAILURE() << "glow texel " << x << "," << y << " = " << std::hex << GlowTexel(x, y);
            }
        }
        EXPECT_EQ(0, wrong);
        EXPECT_EQ(untouched, GlowTexel(GlowGridWidth, 0));
    }
}

// The glow grid is laid the same whether or not there are texels to write.
TEST_P(LayerUpdateTest, HaloColourFollowsTheKernelAndTheGridBeneath)
{
    Cell(1000, 600) = GridCell{10.0f, 20.0f, 30.0f, 0.0f};
    AddParticleAt(1000, 600, 0.5f);
    for (bool withTexels : {false, true}) {
        RunGlowPasses(withTexels);
        // ((k + 1) F + weight k): red 1.5 * 30 + 85, green 1.5 * 20 + 20, blue 1.5 * 10 + 35.
        const GridCell& centre = Glow(500, 300);
        EXPECT_EQ(130.0f, centre.red) << withTexels;
        EXPECT_EQ(50.0f, centre.green) << withTexels;
        EXPECT_EQ(50.0f, centre.blue) << withTexels;
    }
    EXPECT_EQ(0xFF823232u, GlowTexel(500, 300));
}

TEST_P(LayerUpdateTest, HalosAddUpAndAreCappedAt255)
{
    Cell(1000, 600) = GridCell{100.0f, 100.0f, 100.0f, 0.0f};
    AddParticleAt(1000, 600, 0.5f);
    AddParticleAt(1001, 601, 0.5f);
    RunGlowPasses();
    // Each term: red 1.5 * 100 + 85 = 235; two of them exceed 255.
    EXPECT_EQ(255.0f, Glow(500, 300).red);
    // Green: 1.5 * 100 + 20 = 170 each, capped at 255.
    EXPECT_EQ(255.0f, Glow(500, 300).green);
    EXPECT_EQ(0xFFFFFFFFu, GlowTexel(500, 300));
}

TEST_P(LayerUpdateTest, ZeroWeightCellIsWrittenOnlyWhenItHoldsColour)
{
    Cell(1002, 600) = GridCell{0.0f, 0.0f, 3.0f, 0.0f};  // under glow cell (501, 300)
    AddParticleAt(1000, 600, 0.0f);
    RunGlowPasses();
    EXPECT_EQ(0u, GlowTexel(500, 300));           // black and zero weight: not written
    EXPECT_EQ(0xFF030000u, GlowTexel(501, 300));  // the grid's colour passes through
}

TEST_P(LayerUpdateTest, NonZeroWeightWritesOpaqueEvenWhenBlack)
{
    AddParticleAt(1000, 600, 0.001f);
    RunGlowPasses();
    EXPECT_EQ(0xFF000000u, GlowTexel(500, 300));
}

TEST_P(LayerUpdateTest, GlowGridIsRebuiltFromNothingEveryFrame)
{
    Cell(1000, 600) = GridCell{10.0f, 20.0f, 30.0f, 0.0f};
    AddParticleAt(1000, 600, 0.5f);
    RunGlowPasses();
    ASSERT_EQ(130.0f, Glow(500, 300).red);
    // The particle moves away: its old halo is gone from grid and texels,
    // every field of every cell, and the new one is laid from nothing.
    scene.particles.records[0].pixelX = 1200;
    RunGlowPasses();
    for (int y = 296; y <= 304; ++y) {
        for (int x = 496; x <= 504; ++x) {
            const GridCell& cell = Glow(x, y);
            EXPECT_TRUE(cell.blue == 0.0f && cell.green == 0.0f && cell.red == 0.0f && cell.extra == 0.0f)
                << x << "," << y;
            EXPECT_EQ(0u, GlowTexel(x, y)) << x << "," << y;
        }
    }
    EXPECT_EQ(85.0f, Glow(600, 300).red);  // 1.5 x 0 + 170 x 0.5
}

// The frame's glow clears only what its halos wrote (only the halos write
// glow); the reference clears every cell.
TEST_F(SceneTest, ReferenceGlowClearsEveryCell)
{
    Glow(123, 45).red = 99.0f;
    Glow(123, 45).extra = 7.0f;
    GlowPassReference(scene, TexelBuffer{nullptr, GlowGridWidth, GlowGridHeight, 0});
    EXPECT_EQ(0.0f, Glow(123, 45).red);
    EXPECT_EQ(0.0f, Glow(123, 45).extra);
}

}  // namespace
