#include <cmath>

#include "scene_fixture.h"

namespace {

class RespawnTest : public SceneTest {
protected:
    // Respawns with the given draws (missing ones are 0) and returns how many
    // draws the respawn consumed.
    uint32_t RespawnWith(Particle* p, std::vector<int32_t> draws, float offsetX = 1.5f, float offsetY = -2.0f,
                         float scale = 100.0f)
    {
        draws.resize(16, 0);
        script_ = draws;
        ScriptDraws(script_.data(), static_cast<uint32_t>(script_.size()));
        RespawnParticle(p, offsetX, offsetY, scale);
        const uint32_t used = static_cast<uint32_t>(script_.size()) - ScriptedDrawsLeft();
        ScriptDraws(nullptr, 0);
        return used;
    }

    static int NonZeroKernelCells(const Particle& p)
    {
        int count = 0;
        for (const auto& column : p.kernel.cells) {
            for (const GridCell& cell : column) {
                if (cell.red != 0.0f || cell.green != 0.0f || cell.blue != 0.0f)
                    ++count;
            }
        }
        return count;
    }

    std::vector<int32_t> script_;
};

TEST_F(RespawnTest, AllZeroDrawsGiveTheLowestValuesAndTakeTenDraws)
{
    Particle p = PlainParticle();
    EXPECT_EQ(10u, RespawnWith(&p, {}));
    EXPECT_FLOAT_BITS(100.0f, p.red);
    EXPECT_FLOAT_BITS(50.0f, p.green);
    EXPECT_FLOAT_BITS(0.0f, p.blue);
    EXPECT_FLOAT_BITS(-1.5f, p.mapX);
    EXPECT_FLOAT_BITS(2.0f, p.mapY);
    EXPECT_EQ(500, p.lifeTicks);
    EXPECT_FLOAT_BITS(0.3f, p.blobSize);
    EXPECT_FLOAT_BITS(0.01f, p.stepSize);
    EXPECT_FLOAT_BITS(1.5f, p.offsetX);
    EXPECT_FLOAT_BITS(-2.0f, p.offsetY);
    EXPECT_FLOAT_BITS(100.0f, p.scale);
}

TEST_F(RespawnTest, WhiteStartsAtTheFourthDraw32112)
{
    Particle notWhite = PlainParticle();
    EXPECT_EQ(10u, RespawnWith(&notWhite, {32767, 0, 32767, 32111}));
    EXPECT_FLOAT_BITS(255.0f, notWhite.red);
    EXPECT_FLOAT_BITS(127.5f, notWhite.green);
    EXPECT_FLOAT_BITS(65.0f, notWhite.blue);

    Particle white = PlainParticle();
    EXPECT_EQ(12u, RespawnWith(&white, {0, 0, 0, 32112, 32767, 0}));
    EXPECT_FLOAT_BITS(255.0f, white.red);
    EXPECT_FLOAT_BITS(255.0f, white.green);
    EXPECT_FLOAT_BITS(235.0f, white.blue);
    // The draws after the white pair are shifted by two: life is the tenth.
    Particle shifted = PlainParticle();
    RespawnWith(&shifted, {0, 0, 0, 32767, 0, 0, 0, 0, 0, 32767});
    EXPECT_EQ(3000, shifted.lifeTicks);
}

TEST_F(RespawnTest, LifeIs2999For32766And3000For32767)
{
    Particle p = PlainParticle();
    RespawnWith(&p, {0, 0, 0, 0, 0, 0, 0, 32766});
    EXPECT_EQ(2999, p.lifeTicks);
    RespawnWith(&p, {0, 0, 0, 0, 0, 0, 0, 32767});
    EXPECT_EQ(3000, p.lifeTicks);
}

// The sixth and seventh draws place the start uniformly over the grid
// (32767: its far corner), less the pattern's offset; spawn axis 1 starts on
// the middle row and axis 2 on the middle column instead, the draws taken all
// the same. Other axis values keep the uniform start.
TEST_F(RespawnTest, SpawnAxisPicksTheStartLine)
{
    const struct {
        int32_t axis;
        float offsetX, offsetY, mapX, mapY;
    } starts[] = {
        {0, 0.0f, 0.0f, 19.2f, 12.0f},
        {7, 0.0f, 0.0f, 19.2f, 12.0f},
        {1, 0.0f, -2.0f, 19.2f, 8.0f},
        {2, 1.5f, 0.0f, 8.1f, 12.0f},
    };
    for (const auto& start : starts) {
        Particle p = PlainParticle();
        p.spawnAxis = start.axis;
        EXPECT_EQ(10u, RespawnWith(&p, {0, 0, 0, 0, 0, 32767, 32767}, start.offsetX, start.offsetY, 100.0f));
        EXPECT_FLOAT_BITS(start.mapX, p.mapX);
        EXPECT_FLOAT_BITS(start.mapY, p.mapY);
    }
}

TEST_F(RespawnTest, SmallestBlobKernelHas95NonZeroCells)
{
    Particle p = PlainParticle();
    RespawnWith(&p, {});  // blobSize 0.3, stepSize 0.01
    EXPECT_EQ(95, NonZeroKernelCells(p));
    const int zeroCells[][2] = {{0, 0}, {0, 1}, {1, 0}, {0, 9}, {9, 0}};
    for (const auto& ij : zeroCells) {
        const GridCell& cell = p.kernel.cells[ij[0]][ij[1]];
        EXPECT_EQ(0.0f, cell.red + cell.green + cell.blue) << ij[0] << "," << ij[1];
    }
    const GridCell& centre = p.kernel.cells[5][5];
    EXPECT_FLOAT_BITS(1.0000781f, centre.blue);
    EXPECT_FLOAT_BITS(1.0000781f, centre.green);
    EXPECT_FLOAT_BITS(1.0000391f, centre.red);
    EXPECT_NEAR(0.0862, p.kernel.cells[9][9].blue, 0.0001);
    // Red is slightly smaller than blue and green wherever the cell is lit.
    EXPECT_LT(p.kernel.cells[9][9].red, p.kernel.cells[9][9].blue);
}

TEST_F(RespawnTest, LargestBlobKernelIsExactlyTheThreeByThreeBlock)
{
    Particle p = PlainParticle();
    RespawnWith(&p, {0, 0, 0, 0, 0, 0, 0, 0, 32767});  // blobSize 1.3
    EXPECT_FLOAT_BITS(1.3f, p.blobSize);
    EXPECT_EQ(9, NonZeroKernelCells(p));
    for (int i = 4; i <= 6; ++i) {
        for (int j = 4; j <= 6; ++j) {
            EXPECT_GT(p.kernel.cells[i][j].red, 0.0f) << i << "," << j;
        }
    }
    EXPECT_NEAR(0.30, p.kernel.cells[4][5].green, 0.005);
    EXPECT_NEAR(0.30, p.kernel.cells[5][6].green, 0.005);
    EXPECT_NEAR(0.01, p.kernel.cells[4][4].green, 0.005);
    EXPECT_NEAR(0.01, p.kernel.cells[6][6].green, 0.005);
}

TEST_F(RespawnTest, KernelWeightsNeverExceedOnePlusAStepShare)
{
    Particle p = PlainParticle();
    RespawnWith(&p, {0, 0, 0, 0, 0, 0, 0, 0, 0, 32767});  // stepSize 0.192
    EXPECT_NEAR(0.192, p.stepSize, 1e-6);
    for (const auto& column : p.kernel.cells) {
        for (const GridCell& cell : column) {
            EXPECT_LE(cell.blue, 1.0015f);
            EXPECT_LE(cell.red, cell.blue);
            EXPECT_EQ(cell.blue, cell.green);
        }
    }
}

TEST_F(RespawnTest, RespawnLeavesPixelAndEquationTypeAlone)
{
    Particle p = PlainParticle();
    p.pixelX = 321;
    p.pixelY = 654;
    p.equationType = 7;
    RespawnWith(&p, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    EXPECT_EQ(321, p.pixelX);
    EXPECT_EQ(654, p.pixelY);
    EXPECT_EQ(7, p.equationType);
}

}  // namespace
