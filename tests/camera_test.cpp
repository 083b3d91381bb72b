// The camera maths of a frame: the projection's aspect and field of view, the
// quad's distance and its world transform.
#include "core/camera.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "scene_fixture.h"

namespace {

// The integer quotient of width by height; portrait, empty and inverted
// rectangles get 1, and the widest rectangle does not overflow.
TEST(Camera, ProjectionAspectIsTheIntegerQuotientAndAtLeastOne)
{
    const struct {
        int32_t left, top, right, bottom;
        float aspect;
    } rectangles[] = {
        {0, 0, 1920, 1200, 1.0f},
        {0, 0, 1280, 1024, 1.0f},
        {0, 0, 1600, 1200, 1.0f},
        {0, 0, 2560, 1080, 2.0f},
        {0, 0, 3840, 1080, 3.0f},
        {100, 50, 2020, 1250, 1.0f},
        {0, 0, 1080, 1920, 1.0f},
        {0, 0, 1920, 0, 1.0f},
        {0, 100, 1920, 0, 1.0f},
        {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, 1.0f},
        {INT32_MIN, 0, INT32_MAX, 1, 4294967295.0f},
    };
    for (const auto& r : rectangles) {
        EXPECT_EQ(r.aspect, ProjectionAspect(r.left, r.top, r.right, r.bottom))
            << r.left << "," << r.top << "," << r.right << "," << r.bottom;
    }
}

TEST(Camera, RestingFieldOfViewIsFortyFiveDegrees)
{
    EXPECT_FLOAT_BITS(0.7853982f, FieldOfView(0.0f));
    EXPECT_NEAR(49.0 * 0.017453292, FieldOfView(4.0f), 1e-7);
}

TEST(Camera, DepthSwingsAroundTwoPointOne)
{
    EXPECT_NEAR(2.14, CameraDepth(0), 1e-6);
    EXPECT_NEAR(2.06, CameraDepth(3142), 1e-5);  // clock near 1000 pi
    for (int32_t clock : {INT32_MIN, -12345, 777, INT32_MAX}) {
        EXPECT_GE(CameraDepth(clock), 2.06f - 1e-6f);
        EXPECT_LE(CameraDepth(clock), 2.14f + 1e-6f);
    }
}

TEST(Camera, WorldRotatesAboutTheCentreThenMovesAway)
{
    Matrix4x4 world;
    BuildWorldTransform(&world, 0, 0.0f, 0.0f);
    EXPECT_EQ(1.0f, world.m[0][0]);
    EXPECT_EQ(1.0f, world.m[1][1]);
    EXPECT_EQ(0.0f, world.m[3][0]);
    EXPECT_NEAR(2.14, world.m[3][2], 1e-6);
    BuildWorldTransform(&world, 0, 3.0f, 3.0f);
    // The quad's centre stays on the view axis whatever the rotation.
    EXPECT_EQ(0.0f, world.m[3][0]);
    EXPECT_EQ(0.0f, world.m[3][1]);
    EXPECT_NEAR(2.14, world.m[3][2], 1e-6);
    EXPECT_LT(world.m[0][0], 1.0f);
}

}  // namespace
