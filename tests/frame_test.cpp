// The device side: creation and release of the resources, and whole frames on
// the software device.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <thread>
#include <utility>

#include "core/camera.h"
#include "core/layers.h"
#include "platform/software_device.h"
#include "plugin/entry_points.h"
#include "scene_fixture.h"

namespace {

class FrameTest : public SceneTest {
protected:
    FrameTest() : device_(1920, 1200) {}

    void TearDown() override
    {
        FreePlugin(0, 0, 0);
        SceneTest::TearDown();
    }

    std::vector<std::string> Calls() const { return device_.CallDescriptions(); }

    void Frame(uint32_t first = 0, int32_t right = 1920, int32_t bottom = 1200)
    {
        EXPECT_EQ(0, RenderSceneOnScreen(first, &device_, 0, 0, right, bottom, 0, 0, 0, 0, 0));
    }

    std::vector<CallKind> Kinds() const
    {
        std::vector<CallKind> kinds;
        for (const DeviceCall& call : device_.Calls())
            kinds.push_back(call.kind);
        return kinds;
    }

    SoftwareDevice device_;
};

// What set-up leaves on the device for the frames: each render and sampler
// state at the value the frames draw with, whatever order it came in, and
// the quad's vertex format.
TEST_F(FrameTest, SetupSetsTheStateItsFramesDrawWith)
{
    SetupScene(&device_, 0, 0, 1920, 1200, 1);
    std::map<std::pair<CallKind, DWORD>, DWORD> states;
    for (const DeviceCall& call : device_.Calls()) {
        EXPECT_FALSE(call.failed) << call.Describe();
        if (call.kind == CallKind::SetRenderState || call.kind == CallKind::SetSamplerState)
            states[{call.kind, call.stateType}] = call.value;
    }
    const std::map<std::pair<CallKind, DWORD>, DWORD> expected = {
        {{CallKind::SetRenderState, D3DRS_ZENABLE}, D3DZB_TRUE},
        {{CallKind::SetRenderState, D3DRS_LIGHTING}, FALSE},
        {{CallKind::SetRenderState, D3DRS_CULLMODE}, D3DCULL_NONE},
        {{CallKind::SetRenderState, D3DRS_ALPHABLENDENABLE}, TRUE},
        {{CallKind::SetRenderState, D3DRS_SRCBLEND}, D3DBLEND_SRCALPHA},
        {{CallKind::SetRenderState, D3DRS_DESTBLEND}, D3DBLEND_INVSRCALPHA},
        {{CallKind::SetSamplerState, D3DSAMP_MINFILTER}, D3DTEXF_ANISOTROPIC},
        {{CallKind::SetSamplerState, D3DSAMP_MAGFILTER}, D3DTEXF_ANISOTROPIC},
        {{CallKind::SetSamplerState, D3DSAMP_MAXANISOTROPY}, 8},
    };
    EXPECT_EQ(expected, states) << device_.DescribeCalls();
    EXPECT_EQ(static_cast<DWORD>(D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1), device_.Fvf());
}

// The quad: a square of side 1.656 about the origin, white with alpha 0, its
// texture coordinates 0.005 short of every edge. The rest of the buffer stays
// as the device handed it out (zeros).
TEST_F(FrameTest, QuadBufferHoldsExactlyTheFourVertices)
{
    SetupScene(&device_, 0, 0, 1920, 1200, 1);
    const QuadVertex quad[4] = {{-0.828f, 0.828f, 0.0f, 0x00FFFFFF, 0.005f, 0.005f},
                                {0.828f, 0.828f, 0.0f, 0x00FFFFFF, 0.995f, 0.005f},
                                {-0.828f, -0.828f, 0.0f, 0x00FFFFFF, 0.005f, 0.995f},
                                {0.828f, -0.828f, 0.0f, 0x00FFFFFF, 0.995f, 0.995f}};
    std::vector<uint8_t> expected(576, 0);
    std::memcpy(expected.data(), quad, sizeof(quad));
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(SoftwareDevice::ReadVertexBytes(deviceResources.QuadVertexBuffer, bytes));
    EXPECT_EQ(expected, bytes);
}

// Each resource is released exactly once: FreePlugin before any set-up
// releases nothing, a set-up releases what an earlier one left, FreePlugin
// lets go of every reference, and FreePlugin again releases nothing more.
TEST_F(FrameTest, EachResourceIsReleasedExactlyOnce)
{
    FreePlugin(1, 2, 3);
    EXPECT_TRUE(device_.Calls().empty());
    SetupScene(&device_, 0, 0, 1920, 1200, 1);
    SetupScene(&device_, 0, 0, 1920, 1200, 2);
    EXPECT_EQ(3, device_.LiveObjectCount());
    FreePlugin(0, 0, 0);
    EXPECT_EQ(0, device_.LiveObjectCount());
    EXPECT_EQ(nullptr, deviceResources.FullLayerTexture);
    EXPECT_EQ(nullptr, deviceResources.GlowLayerTexture);
    EXPECT_EQ(nullptr, deviceResources.QuadVertexBuffer);
    device_.ClearCallLog();
    FreePlugin(0, 0, 0);
    EXPECT_TRUE(device_.Calls().empty()) << device_.DescribeCalls();
    EXPECT_EQ(0, device_.OverReleaseCount());
}

// A frame locks, writes and unlocks both layers before it draws anything, then
// draws the quad twice, the full layer and the glow over it, under one world
// transform from the camera's clock and angles and a projection from the
// frame's own rectangle (here aspect 2, where the set-up's gave 1) and the
// current field of view.
TEST_F(FrameTest, FrameDrawsBothLayersUnderTheCameraOfItsRectangle)
{
    SetupScene(&device_, 0, 0, 1920, 1200, 1);
    for (int n = 0; n < 777; ++n)
        UpdateScene();
    device_.ClearCallLog();
    Frame(0, 2560, 1080);
    const std::vector<CallKind> expected = {CallKind::BeginScene,   CallKind::Clear,           CallKind::LockRect,
                                            CallKind::UnlockRect,   CallKind::LockRect,        CallKind::UnlockRect,
                                            CallKind::SetTransform, CallKind::SetStreamSource, CallKind::SetTransform,
                                            CallKind::SetTexture,   CallKind::DrawPrimitive,   CallKind::SetTransform,
                                            CallKind::SetTexture,   CallKind::DrawPrimitive,   CallKind::EndScene};
    ASSERT_EQ(expected, Kinds()) << device_.DescribeCalls();
    const std::vector<DeviceCall>& calls = device_.Calls();
    EXPECT_EQ("Clear(0, null, 0x3, 0xff000000, 1, 0)", calls[1].Describe());
    const int full = SoftwareDevice::IdOf(deviceResources.FullLayerTexture);
    const int glow = SoftwareDevice::IdOf(deviceResources.GlowLayerTexture);
    EXPECT_EQ(full, calls[2].objectId);
    EXPECT_EQ(glow, calls[4].objectId);
    EXPECT_EQ(full, calls[9].objectId);
    EXPECT_EQ(glow, calls[12].objectId);
    EXPECT_EQ(SoftwareDevice::IdOf(deviceResources.QuadVertexBuffer), calls[7].objectId);
    EXPECT_EQ(24u, calls[7].stride);
    for (int n : {10, 13})
        EXPECT_EQ("DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2)", calls[n].Describe());

    Matrix4x4 projection;
    D3DXMatrixPerspectiveFovLH(&projection, FieldOfView(scene.fovWobble), 2.0f, 0.1f, 100.0f);
    Matrix4x4 world;
    BuildWorldTransform(&world, scene.cameraClockA, scene.cameraYaw, scene.cameraPitch);
    EXPECT_EQ(static_cast<DWORD>(D3DTS_PROJECTION), calls[6].stateType);
    EXPECT_EQ(0, std::memcmp(&projection, &calls[6].matrix, sizeof(projection)));
    for (int n : {8, 11}) {
        EXPECT_EQ(static_cast<DWORD>(D3DTS_WORLD), calls[n].stateType);
        EXPECT_EQ(0, std::memcmp(&world, &calls[n].matrix, sizeof(world)));
    }
    // Aspect 2: the horizontal scale is half the vertical one.
    EXPECT_NEAR(calls[6].matrix.m[1][1] / 2.0f, calls[6].matrix.m[0][0], 1e-6f);
    // The sway of the current clock: the rotation is not the identity.
    EXPECT_NE(1.0f, calls[8].matrix.m[0][0]);
}

// The generator keeps its state per thread: a frame drawn on a thread that
// never seeded takes its lattice draws from that thread's sequence (which
// starts from 1), and leaves the set-up thread's alone.
TEST_F(FrameTest, FrameOnAnotherThreadDrawsFromThatThreadsSequence)
{
    SetupScene(&device_, 0, 0, 1920, 1200, 99);
    for (int n = 0; n < 20; ++n)
        UpdateScene();
    const uint32_t mainBefore = GeneratorState();
    uint32_t threadBefore = 0;
    uint32_t threadAfter = 0;
    std::thread([&] {
        threadBefore = GeneratorState();
        Frame();
        threadAfter = GeneratorState();
    }).join();
    EXPECT_EQ(mainBefore, GeneratorState());
    EXPECT_EQ(1u, threadBefore);

    // From state 1: one row phase, then one column phase per visited row.
    SeedGenerator(1);
    const int firstRow = static_cast<int>(static_cast<float>(DrawRandom() * (5.0 / 32767.0)));
    for (int y = firstRow; y < 1200; y += 5)
        DrawRandom();
    EXPECT_EQ(GeneratorState(), threadAfter);
}

TEST_F(FrameTest, FirstArgumentMakesNoDifference)
{
    SetupScene(&device_, 0, 0, 1920, 1200, 1);
    SeedGenerator(99);
    device_.ClearCallLog();
    Frame(0);
    const std::vector<std::string> withZero = Calls();
    SeedGenerator(99);
    device_.ClearCallLog();
    Frame(1);
    EXPECT_EQ(withZero, Calls());
}

TEST_F(FrameTest, FrameBeforeSetupOnlyBeginsClearsAndEnds)
{
    Cell(500, 500).red = 100.0f;
    Frame();
    EXPECT_EQ((std::vector<CallKind>{CallKind::BeginScene, CallKind::Clear, CallKind::EndScene}), Kinds());
    EXPECT_EQ(1u, GeneratorState());
    EXPECT_EQ(100.0f, Cell(500, 500).red);
}

TEST_F(FrameTest, NullDeviceFrameDoesNothing)
{
    SetupScene(&device_, 0, 0, 1920, 1200, 1);
    device_.ClearCallLog();
    const uint32_t generatorBefore = GeneratorState();
    EXPECT_EQ(0, RenderSceneOnScreen(0, nullptr, 0, 0, 1920, 1200, 0, 0, 0, 0, 0));
    EXPECT_TRUE(device_.Calls().empty());
    EXPECT_EQ(generatorBefore, GeneratorState());
}

TEST_F(FrameTest, NullDeviceSetupSkipsOnlyTheDeviceSteps)
{
    SetupScene(nullptr, 0, 0, 1920, 1200, 1);
    EXPECT_EQ(2000u, scene.particles.count);
    EXPECT_FALSE(DeviceResourcesReady(deviceResources));
}

TEST_F(FrameTest, TextureShowsEveryTexelAsTheUpdateLastWroteIt)
{
    SetupScene(&device_, 0, 0, 1920, 1200, 1);
    for (int n = 0; n < 30; ++n) {
        UpdateScene();
        Frame();
    }
    std::vector<uint32_t> texels;
    int width = 0;
    int height = 0;
    ASSERT_TRUE(SoftwareDevice::ReadTexels(deviceResources.FullLayerTexture, texels, width, height));
    ASSERT_EQ(1920, width);
    ASSERT_EQ(1200, height);
    EXPECT_EQ(0, std::memcmp(texels.data(), scene.FullLayerTexels, sizeof(scene.FullLayerTexels)));
    EXPECT_GT(device_.SentinelFillCount(), 0u);
}

// The frame's own update skips cells it knows to be dark and clears only the
// glow it wrote; it must come out exactly as the references over everything.
TEST_F(FrameTest, FrameUpdateEqualsTheReferencePasses)
{
    const size_t cells = static_cast<size_t>(AccumulationGridWidth) * AccumulationGridHeight;
    const size_t glowCells = static_cast<size_t>(GlowGridWidth) * GlowGridHeight;
    SetupScene(&device_, 0, 0, 1920, 1200, 2718);
    device_.SetRecording(false);
    for (int round = 0; round < 4; ++round) {
        // Across the re-draw on tick 1501 and its settling ticks.
        const int ticks = round == 0 ? 1450 : 40;
        for (int n = 0; n < ticks; ++n) {
            UpdateScene();
            if (n % 97 == 0)
                Frame();
        }
        const std::vector<GridCell> gridBefore(scene.AccumulationGrid, scene.AccumulationGrid + cells);
        const std::vector<uint32_t> layerBefore(scene.FullLayerTexels, scene.FullLayerTexels + cells);
        const uint32_t generatorBefore = GeneratorState();

        Frame();
        const std::vector<GridCell> frameGrid(scene.AccumulationGrid, scene.AccumulationGrid + cells);
        const std::vector<GridCell> frameGlow(scene.GlowGrid, scene.GlowGrid + glowCells);
        const std::vector<uint32_t> frameLayer(scene.FullLayerTexels, scene.FullLayerTexels + cells);
        std::vector<uint32_t> frameGlowTexels;
        int width = 0;
        int height = 0;
        ASSERT_TRUE(SoftwareDevice::ReadTexels(deviceResources.GlowLayerTexture, frameGlowTexels, width, height));

        std::copy(gridBefore.begin(), gridBefore.end(), scene.AccumulationGrid);
        std::copy(layerBefore.begin(), layerBefore.end(), scene.FullLayerTexels);
        SeedGenerator(generatorBefore);
        const TexelBuffer layer = {scene.FullLayerTexels, AccumulationGridWidth, AccumulationGridHeight,
                                   AccumulationGridWidth * 4};
        FadePassReference(scene, layer);
        ParticleTexelPassReference(scene, layer);
        std::vector<uint32_t> glowTexels(glowCells, 0xDEADBEEFu);
        GlowPassReference(scene, TexelBuffer{glowTexels.data(), GlowGridWidth, GlowGridHeight, GlowGridWidth * 4});

        ASSERT_EQ(0, std::memcmp(frameGrid.data(), scene.AccumulationGrid, cells * sizeof(GridCell))) << round;
        ASSERT_EQ(0, std::memcmp(frameGlow.data(), scene.GlowGrid, glowCells * sizeof(GridCell))) << round;
        ASSERT_EQ(0, std::memcmp(frameLayer.data(), scene.FullLayerTexels, cells * 4)) << round;
        ASSERT_EQ(glowTexels, frameGlowTexels) << round;
    }
}

}  // namespace
