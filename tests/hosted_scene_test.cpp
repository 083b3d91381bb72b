// HostedScene, the host every trails command runs the scene in: frames the
// device rasterizes only when asked, the glow copy `trails dump` writes, and
// a new device on a new size.
#include "tools/trails/hosted_scene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "plugin/plugin_state.h"

namespace {

class HostedSceneTest : public ::testing::Test {
protected:
    void SetUp() override { ResetSceneToLoadValues(scene); }
    void TearDown() override { ResetSceneToLoadValues(scene); }
};

bool AnyNonZero(const uint32_t* words, size_t count)
{
    return std::any_of(words, words + count, [](uint32_t word) { return word != 0; });
}

TEST_F(HostedSceneTest, OnlyFramesAskedForAreRasterized)
{
    HostedScene host(160, 100);
    host.Setup(3);
    for (int n = 0; n < 40; ++n)
        host.Tick();
    host.Frame(false);
    EXPECT_FALSE(AnyNonZero(host.Pixels(), 160 * 100));
    EXPECT_EQ(2, host.Device().SceneDrawCount());  // drawn all the same, for a presenter
    host.Frame(true);
    EXPECT_TRUE(AnyNonZero(host.Pixels(), 160 * 100));
    // And back to costing nothing for the frames after.
    EXPECT_TRUE(host.Device().SkipsRasterizing());
}

// What `trails dump` writes of the glow layer: its texels after the last
// frame that drew, also when a free and a new set-up (with a fresh, empty
// layer) came after it.
TEST_F(HostedSceneTest, TheGlowCopyIsThatOfTheLastFrame)
{
    HostedScene host(1920, 1200);
    host.KeepGlowTexels(true);
    ScreenRect rect;
    host.Setup(rect, 11);
    ASSERT_EQ(static_cast<size_t>(GlowGridWidth) * GlowGridHeight, host.GlowTexels().size());
    EXPECT_FALSE(AnyNonZero(host.GlowTexels().data(), host.GlowTexels().size()));
    for (int n = 0; n < 20; ++n)
        host.Tick();
    host.Frame(rect, false);
    std::vector<uint32_t> layer;
    int width = 0, height = 0;
    ASSERT_TRUE(SoftwareDevice::ReadTexels(deviceResources.GlowLayerTexture, layer, width, height));
    EXPECT_TRUE(layer == host.GlowTexels());
    EXPECT_TRUE(AnyNonZero(layer.data(), layer.size()));
    // Frame after frame (the copies take turns in two buffers).
    for (int frame = 0; frame < 3; ++frame) {
        const std::vector<uint32_t> before = layer;
        for (int n = 0; n < 5; ++n)
            host.Tick();
        host.Frame(rect, false);
        ASSERT_TRUE(SoftwareDevice::ReadTexels(deviceResources.GlowLayerTexture, layer, width, height));
        EXPECT_TRUE(layer != before) << frame;
        EXPECT_TRUE(layer == host.GlowTexels()) << frame;
    }

    host.Free();
    host.Setup(rect, 12);
    EXPECT_TRUE(layer == host.GlowTexels());
}

TEST_F(HostedSceneTest, RecreateIsANewDeviceAndAnotherSetUp)
{
    HostedScene host(320, 200);
    host.Setup(5);
    EXPECT_EQ(2000u, host.ParticleCount());
    host.Recreate(400, 250, 6);
    EXPECT_EQ(400, host.Width());
    EXPECT_EQ(250, host.Height());
    EXPECT_EQ(4000u, host.ParticleCount());
    // The new device holds the three resources of this set-up, and the
    // scene's references are to them.
    EXPECT_EQ(3, host.Device().LiveObjectCount());
    EXPECT_NE(0, SoftwareDevice::IdOf(deviceResources.FullLayerTexture));
    EXPECT_TRUE(host.Device().TextureById(SoftwareDevice::IdOf(deviceResources.FullLayerTexture)) ==
                static_cast<SoftwareTexture*>(deviceResources.FullLayerTexture));
}

}  // namespace
