#include <cmath>
#include <limits>

#include "core/step.h"
#include "scene_fixture.h"

namespace {

class StepTest : public SceneTest {
protected:
    // A particle at map (x, y) whose grid position is (offsetX, offsetY) when
    // the map does not move (scale and aspect 1).
    static Particle ParticleAt(float x, float y, float offsetX, float offsetY, int equationType)
    {
        Particle p = PlainParticle();
        p.mapX = x;
        p.mapY = y;
        p.offsetX = offsetX;
        p.offsetY = offsetY;
        p.equationType = equationType;
        return p;
    }

    // True when the step respawned the particle: a respawn draws from the
    // generator, a splat never does.
    static bool StepRespawns(Particle* p)
    {
        const uint32_t before = GeneratorState();
        StepParticle(scene, p);
        return GeneratorState() != before;
    }

    static bool GridUntouched()
    {
        for (const GridCell& cell : scene.AccumulationGrid) {
            if (cell.red != 0.0f || cell.green != 0.0f || cell.blue != 0.0f)
                return false;
        }
        return true;
    }
};

// Families that share a map move alike and differ in the spawn axis they
// store (-1: they keep the one they had); families outside the table move as
// seven does.
TEST_F(StepTest, FamiliesSharingAMapMoveAlikeAndStoreTheirAxis)
{
    const struct {
        int family, movesAs, axis;
    } families[] = {
        {4, 4, 0}, {5, 4, 1},   {6, 4, 2},   {8, 8, 2},   {9, 8, 0},
        {7, 7, 1}, {10, 7, -1}, {-1, 7, -1}, {11, 7, -1}, {1000000, 7, -1},
    };
    for (const auto& f : families) {
        Particle p = ParticleAt(0.3f, -0.2f, 500.0f, 500.0f, f.family);
        p.spawnAxis = 9;
        StepParticle(scene, &p);
        Particle alike = ParticleAt(0.3f, -0.2f, 500.0f, 500.0f, f.movesAs);
        StepParticle(scene, &alike);
        EXPECT_EQ(f.axis < 0 ? 9 : f.axis, p.spawnAxis) << f.family;
        EXPECT_FLOAT_BITS(alike.mapX, p.mapX);
        EXPECT_FLOAT_BITS(alike.mapY, p.mapY);
    }
    // Seven's map is not four's or eight's.
    Particle four = ParticleAt(0.3f, -0.2f, 500.0f, 500.0f, 4);
    Particle seven = ParticleAt(0.3f, -0.2f, 500.0f, 500.0f, 7);
    StepParticle(scene, &four);
    StepParticle(scene, &seven);
    EXPECT_NE(FloatBits(four.mapX), FloatBits(seven.mapX));
}

TEST_F(StepTest, OriginIsAFixedPointOfMostFamilies)
{
    for (int family : {0, 2, 3, 4, 5, 6, 8, 9}) {
        Particle p = ParticleAt(0.0f, 0.0f, 500.0f, 500.0f, family);
        ASSERT_FALSE(StepRespawns(&p)) << family;
        EXPECT_EQ(0.0f, p.mapX) << family;
        EXPECT_EQ(0.0f, p.mapY) << family;
    }
}

TEST_F(StepTest, FamilyOneMovesTheOriginBySineOfOne)
{
    Particle p = ParticleAt(0.0f, 0.0f, 500.0f, 500.0f, 1);
    StepParticle(scene, &p);
    EXPECT_FLOAT_BITS(static_cast<float>(0.05f * static_cast<double>(static_cast<float>(std::sin(1.0)))), p.mapX);
    EXPECT_NEAR(0.05 * 0.8414709848, p.mapX, 1e-7);
    EXPECT_EQ(0.0f, p.mapY);
}

TEST_F(StepTest, FamilySevenMovesTheOriginDownByOneStep)
{
    Particle p = ParticleAt(0.0f, 0.0f, 500.0f, 500.0f, 7);
    StepParticle(scene, &p);
    EXPECT_EQ(0.0f, p.mapX);
    EXPECT_FLOAT_BITS(-0.05f, p.mapY);
}

TEST_F(StepTest, FamilyZeroAppliesTheBaseStepTwice)
{
    Particle p = ParticleAt(0.4f, 0.7f, 500.0f, 500.0f, 0);
    StepParticle(scene, &p);
    // A = h sin(single(y + single(atan y))), added twice, each sum rounded.
    const double h = 0.05f;
    const float atanY = static_cast<float>(std::atan(static_cast<double>(0.7f)));
    const float argument = static_cast<float>(static_cast<double>(0.7f) + atanY);
    const double a = h * static_cast<float>(std::sin(static_cast<double>(argument)));
    const float x1 = static_cast<float>(static_cast<double>(0.4f) + a);
    EXPECT_FLOAT_BITS(static_cast<float>(static_cast<double>(x1) + a), p.mapX);
}

TEST_F(StepTest, EveryStepTakesOneLife)
{
    Particle p = ParticleAt(0.0f, 0.0f, 500.0f, 500.0f, 0);
    p.lifeTicks = 2;
    EXPECT_FALSE(StepRespawns(&p));
    EXPECT_EQ(1, p.lifeTicks);
    EXPECT_EQ(500, p.pixelX);
}

TEST_F(StepTest, LastLifeRespawnsInMidGridWithoutSplatting)
{
    Particle p = ParticleAt(0.0f, 0.0f, 500.0f, 500.0f, 0);
    p.lifeTicks = 1;
    p.pixelX = 77;
    p.pixelY = 88;
    EXPECT_TRUE(StepRespawns(&p));
    EXPECT_GE(p.lifeTicks, 500);
    EXPECT_EQ(77, p.pixelX);
    EXPECT_EQ(88, p.pixelY);
    EXPECT_TRUE(GridUntouched());
}

// A particle respawns instead of splatting when its grid position is not
// strictly inside 10 .. width - 10 by 10 .. height - 10, or not a number; a
// respawn touches no cell.
TEST_F(StepTest, PositionsOnOrOutsideTheBoundsOrNotANumberRespawn)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct {
        float mapX, x, y;
        bool respawns;
    } positions[] = {
        {0.0f, 10.0f, 600.0f, true},    {0.0f, 1910.0f, 600.0f, true},  {0.0f, 960.0f, 10.0f, true},
        {0.0f, 960.0f, 1190.0f, true},  {nan, 500.0f, 500.0f, true},    {0.0f, 500.0f, nan, true},
        {0.0f, 10.5f, 600.0f, false},   {0.0f, 1909.5f, 600.0f, false}, {0.0f, 960.0f, 10.5f, false},
        {0.0f, 960.0f, 1189.5f, false},
    };
    for (const auto& position : positions) {
        Particle p = ParticleAt(position.mapX, 0.0f, position.x, position.y, 0);
        EXPECT_EQ(position.respawns, StepRespawns(&p)) << position.mapX << " " << position.x << "," << position.y;
        EXPECT_FALSE(std::isnan(p.mapX));
        if (position.respawns)
            EXPECT_TRUE(GridUntouched());
    }
}

TEST_F(StepTest, RespawnKeepsOffsetsAndScaleOfTheParticle)
{
    Particle p = ParticleAt(0.0f, 0.0f, 5.0f, 600.0f, 0);
    p.scale = 1.0f;
    ASSERT_TRUE(StepRespawns(&p));
    EXPECT_FLOAT_BITS(5.0f, p.offsetX);
    EXPECT_FLOAT_BITS(600.0f, p.offsetY);
    EXPECT_FLOAT_BITS(1.0f, p.scale);
}

TEST_F(StepTest, SplatCoversTheSixBySixBlockUpAndLeftOfThePosition)
{
    // Mark a wide area with fractions: the splat truncates exactly its block.
    for (int x = 90; x < 110; ++x) {
        for (int y = 190; y < 210; ++y) {
            Cell(x, y) = GridCell{0.5f, 0.5f, 0.5f, 0.25f};
        }
    }
    Particle p = ParticleAt(0.0f, 0.0f, 100.5f, 200.25f, 0);
    ASSERT_FALSE(StepRespawns(&p));
    EXPECT_EQ(100, p.pixelX);
    EXPECT_EQ(200, p.pixelY);
    for (int x = 90; x < 110; ++x) {
        for (int y = 190; y < 210; ++y) {
            const bool inBlock = x >= 97 && x <= 102 && y >= 197 && y <= 202;
            const GridCell& cell = Cell(x, y);
            EXPECT_EQ(inBlock, cell.blue != 0.5f) << x << "," << y;
            EXPECT_EQ(inBlock, cell.red == std::trunc(cell.red)) << x << "," << y;
            EXPECT_EQ(0.25f, cell.extra);  // never touched
        }
    }
}

TEST_F(StepTest, WholeNumberPositionGetsTheFullColour)
{
    Cell(300, 400) = GridCell{10.9f, 20.5f, 30.2f, 0.0f};
    Particle p = ParticleAt(0.0f, 0.0f, 300.0f, 400.0f, 0);
    StepParticle(scene, &p);
    EXPECT_EQ(60.0f, Cell(300, 400).blue);
    EXPECT_EQ(120.0f, Cell(300, 400).green);
    EXPECT_EQ(230.0f, Cell(300, 400).red);
}

TEST_F(StepTest, ChannelsAreCappedAt255)
{
    Cell(300, 400) = GridCell{250.0f, 250.0f, 250.0f, 0.0f};
    Particle p = ParticleAt(0.0f, 0.0f, 300.0f, 400.0f, 0);
    p.blue = 10.0f;
    p.green = 5.0f;
    StepParticle(scene, &p);
    EXPECT_EQ(255.0f, Cell(300, 400).blue);   // 250 + 10
    EXPECT_EQ(255.0f, Cell(300, 400).green);  // 250 + 5
    EXPECT_EQ(255.0f, Cell(300, 400).red);
}

TEST_F(StepTest, CellBeyondTheBlobStillLosesItsFraction)
{
    // With the largest blob only cells within about 0.96 get a share; the
    // corner of the block is 3 cells away and gets none.
    Cell(297, 397) = GridCell{254.7f, 254.7f, 254.7f, 0.0f};
    Particle p = ParticleAt(0.0f, 0.0f, 300.0f, 400.0f, 0);
    p.blobSize = 1.3f;
    StepParticle(scene, &p);
    EXPECT_EQ(254.0f, Cell(297, 397).red);
    EXPECT_EQ(254.0f, Cell(297, 397).blue);
    EXPECT_EQ(0.0f, Cell(299, 400).red);  // beyond the reach, and empty before
}

TEST_F(StepTest, SplatShareFallsOffWithDistance)
{
    Particle p = ParticleAt(0.0f, 0.0f, 300.0f, 400.0f, 0);
    p.blobSize = 0.3f;
    StepParticle(scene, &p);
    // Distance 1: the weight rounds up to 0.24000001, the share down to
    // 0.75999999, and 200 times it truncates to 151, not 152.
    EXPECT_EQ(151.0f, Cell(301, 400).red);
    EXPECT_EQ(151.0f, Cell(300, 401).red);
    EXPECT_EQ(151.0f, Cell(299, 400).red);
    // Distance 2: share 0.51999998, so 103.
    EXPECT_EQ(103.0f, Cell(298, 400).red);
}

TEST_F(StepTest, SplatsNeverLeaveTheInnerGrid)
{
    SeedGenerator(4242);
    Particle p = PlainParticle();
    p.scale = 100.0f;
    p.offsetX = 0.0f;
    p.offsetY = 0.0f;
    p.equationType = 3;
    for (int n = 0; n < 20000; ++n) {
        p.equationType = n / 2000;
        StepParticle(scene, &p);
    }
    for (int x = 0; x < AccumulationGridWidth; ++x) {
        for (int y = 0; y < AccumulationGridHeight; ++y) {
            const bool border = x < 7 || x > 1911 || y < 7 || y > 1191;
            if (border) {
                ASSERT_EQ(0.0f, Cell(x, y).red) << x << "," << y;
            }
        }
    }
}

}  // namespace
