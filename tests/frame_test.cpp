// The device side: creation and release of the resources, and whole frames on
// the software device.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>

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

TEST_F(FrameTest, CreationSequenceIsSixteenCallsInOrder)
{
    SetupScene(&device_, 0, 0, 1920, 1200, 1);
    const std::vector<DeviceCall>& calls = device_.Calls();
    // Sixteen steps, the fourteenth being the quad's Lock and Unlock.
    ASSERT_EQ(17u, calls.size()) << device_.DescribeCalls();
    EXPECT_EQ(CallKind::CreateVertexBuffer, calls[0].kind);
    EXPECT_EQ(576u, calls[0].length);
    EXPECT_EQ(0u, calls[0].usage);
    EXPECT_EQ(0x142u, calls[0].fvf);
    EXPECT_EQ(D3DPOOL_DEFAULT, calls[0].pool);
    EXPECT_FALSE(calls[0].sharedHandleGiven);
    for (int n : {1, 2}) {
        EXPECT_EQ(CallKind::CreateTexture, calls[n].kind);
        EXPECT_EQ(n == 1 ? 1920u : 960u, calls[n].width);
        EXPECT_EQ(n == 1 ? 1200u : 600u, calls[n].height);
        EXPECT_EQ(1u, calls[n].levels);
        EXPECT_EQ(static_cast<DWORD>(D3DUSAGE_DYNAMIC), calls[n].usage);
        EXPECT_EQ(D3DFMT_A8R8G8B8, calls[n].format);
        EXPECT_EQ(D3DPOOL_DEFAULT, calls[n].pool);
        EXPECT_FALSE(calls[n].sharedHandleGiven);
    }
    EXPECT_EQ(CallKind::SetFVF, calls[3].kind);
    EXPECT_EQ(0x142u, calls[3].fvf);
    const struct {
        CallKind kind;
        DWORD state;
        DWORD value;
    } states[] = {
        {CallKind::SetRenderState, D3DRS_ZENABLE, 1},          {CallKind::SetRenderState, D3DRS_LIGHTING, 0},
        {CallKind::SetRenderState, D3DRS_CULLMODE, 1},         {CallKind::SetSamplerState, D3DSAMP_MINFILTER, 3},
        {CallKind::SetSamplerState, D3DSAMP_MAGFILTER, 3},     {CallKind::SetSamplerState, D3DSAMP_MAXANISOTROPY, 8},
        {CallKind::SetRenderState, D3DRS_ALPHABLENDENABLE, 1}, {CallKind::SetRenderState, D3DRS_SRCBLEND, 5},
        {CallKind::SetRenderState, D3DRS_DESTBLEND, 6},
    };
    for (int n = 0; n < 9; ++n) {
        const DeviceCall& call = calls[4 + n];
        EXPECT_EQ(states[n].kind, call.kind) << call.Describe();
        EXPECT_EQ(states[n].state, call.stateType) << call.Describe();
        EXPECT_EQ(states[n].value, call.value) << call.Describe();
        EXPECT_EQ(0u, call.stage) << call.Describe();
    }
    EXPECT_EQ(CallKind::Lock, calls[13].kind);
    EXPECT_EQ(0u, calls[13].offset);
    EXPECT_EQ(96u, calls[13].size);
    EXPECT_EQ(0u, calls[13].flags);
    EXPECT_EQ(CallKind::Unlock, calls[14].kind);
    EXPECT_EQ(CallKind::SetTexture, calls[15].kind);
    EXPECT_EQ(calls[1].objectId, calls[15].objectId);
    EXPECT_EQ(CallKind::SetTexture, calls[16].kind);
    EXPECT_EQ(calls[2].objectId, calls[16].objectId);
}

TEST_F(FrameTest, QuadBufferHoldsExactlyTheFourVertices)
{
    SetupScene(&device_, 0, 0, 1920, 1200, 1);
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(SoftwareDevice::ReadVertexBytes(deviceResources.QuadVertexBuffer, bytes));
    ASSERT_EQ(576u, bytes.size());
    const float expected[4][6] = {{-0.828f, 0.828f, 0.0f, 0, 0.005f, 0.005f},
                                  {0.828f, 0.828f, 0.0f, 0, 0.995f, 0.005f},
                                  {-0.828f, -0.828f, 0.0f, 0, 0.005f, 0.995f},
                                  {0.828f, -0.828f, 0.0f, 0, 0.995f, 0.995f}};
    for (int v = 0; v < 4; ++v) {
        float fields[6];
        std::memcpy(fields, &bytes[v * 24], 24);
        uint32_t diffuse;
        std::memcpy(&diffuse, &bytes[v * 24 + 12], 4);
        EXPECT_EQ(0x00FFFFFFu, diffuse);
        for (int f : {0, 1, 2, 4, 5})
            EXPECT_FLOAT_BITS(expected[v][f], fields[f]);
    }
    std::vector<uint8_t> fresh(576 - 96, 0);
    std::vector<uint8_t> rest(bytes.begin() + 96, bytes.end());
    // Nothing past the fourth vertex is written (the device hands out zeros).
    EXPECT_EQ(fresh, rest);
}

TEST_F(FrameTest, FreeReleasesGlowThenFullThenQuadOnce)
{
    SetupScene(&device_, 0, 0, 1920, 1200, 1);
    const int fullId = SoftwareDevice::IdOf(deviceResources.FullLayerTexture);
    const int glowId = SoftwareDevice::IdOf(deviceResources.GlowLayerTexture);
    const int quadId = SoftwareDevice::IdOf(deviceResources.QuadVertexBuffer);
    device_.ClearCallLog();
    FreePlugin(0, 0, 0);
    ASSERT_EQ(3u, device_.Calls().size()) << device_.DescribeCalls();
    EXPECT_EQ(glowId, device_.Calls()[0].objectId);
    EXPECT_EQ(fullId, device_.Calls()[1].objectId);
    EXPECT_EQ(quadId, device_.Calls()[2].objectId);
    for (const DeviceCall& call : device_.Calls())
        EXPECT_EQ(CallKind::Release, call.kind);
    EXPECT_EQ(nullptr, deviceResources.FullLayerTexture);
    EXPECT_EQ(nullptr, deviceResources.GlowLayerTexture);
    EXPECT_EQ(nullptr, deviceResources.QuadVertexBuffer);
    device_.ClearCallLog();
    FreePlugin(0, 0, 0);
    EXPECT_TRUE(device_.Calls().empty());
    EXPECT_EQ(0, device_.OverReleaseCount());
}

TEST_F(FrameTest, FreeBeforeSetupReleasesNothing)
{
    FreePlugin(1, 2, 3);
    EXPECT_TRUE(device_.Calls().empty());
}

TEST_F(FrameTest, SecondSetupWithoutFreeReleasesTheEarlierResources)
{
    SetupScene(&device_, 0, 0, 1920, 1200, 1);
    SetupScene(&device_, 0, 0, 1920, 1200, 2);
    EXPECT_EQ(3, device_.LiveObjectCount());
    FreePlugin(0, 0, 0);
    EXPECT_EQ(0, device_.LiveObjectCount());
    EXPECT_EQ(0, device_.OverReleaseCount());
}

TEST_F(FrameTest, FrameMakesItsCallsInOrder)
{
    SetupScene(&device_, 0, 0, 1920, 1200, 1);
    device_.ClearCallLog();
    Frame();
    const std::vector<CallKind> expected = {CallKind::BeginScene,   CallKind::Clear,           CallKind::LockRect,
                                            CallKind::UnlockRect,   CallKind::LockRect,        CallKind::UnlockRect,
                                            CallKind::SetTransform, CallKind::SetStreamSource, CallKind::SetTransform,
                                            CallKind::SetTexture,   CallKind::DrawPrimitive,   CallKind::SetTransform,
                                            CallKind::SetTexture,   CallKind::DrawPrimitive,   CallKind::EndScene};
    ASSERT_EQ(expected, Kinds()) << device_.DescribeCalls();
    const std::vector<DeviceCall>& calls = device_.Calls();
    EXPECT_EQ(0u, calls[1].rectCount);
    EXPECT_FALSE(calls[1].rectsGiven);
    EXPECT_EQ(3u, calls[1].flags);
    EXPECT_EQ(0xFF000000u, calls[1].color);
    EXPECT_EQ(1.0f, calls[1].z);
    EXPECT_EQ(0u, calls[1].stencil);
    EXPECT_EQ(SoftwareDevice::IdOf(deviceResources.FullLayerTexture), calls[2].objectId);
    EXPECT_EQ(SoftwareDevice::IdOf(deviceResources.GlowLayerTexture), calls[4].objectId);
    for (int n : {2, 4}) {
        EXPECT_EQ(0u, calls[n].level);
        EXPECT_FALSE(calls[n].rectGiven);
        EXPECT_EQ(static_cast<DWORD>(D3DLOCK_DISCARD), calls[n].flags);
        EXPECT_EQ(0u, calls[n + 1].level);
    }
    EXPECT_EQ(static_cast<DWORD>(D3DTS_PROJECTION), calls[6].stateType);
    EXPECT_EQ(0u, calls[7].stage);
    EXPECT_EQ(SoftwareDevice::IdOf(deviceResources.QuadVertexBuffer), calls[7].objectId);
    EXPECT_EQ(0u, calls[7].offset);
    EXPECT_EQ(24u, calls[7].stride);
    EXPECT_EQ(static_cast<DWORD>(D3DTS_WORLD), calls[8].stateType);
    EXPECT_EQ(static_cast<DWORD>(D3DTS_WORLD), calls[11].stateType);
    EXPECT_EQ(0, std::memcmp(&calls[8].matrix, &calls[11].matrix, sizeof(D3DMATRIX)));
    EXPECT_EQ(SoftwareDevice::IdOf(deviceResources.FullLayerTexture), calls[9].objectId);
    EXPECT_EQ(SoftwareDevice::IdOf(deviceResources.GlowLayerTexture), calls[12].objectId);
    EXPECT_EQ(0u, calls[9].stage);
    EXPECT_EQ(0u, calls[12].stage);
    for (int n : {10, 13}) {
        EXPECT_EQ(D3DPT_TRIANGLESTRIP, calls[n].primitiveType);
        EXPECT_EQ(0u, calls[n].startVertex);
        EXPECT_EQ(2u, calls[n].primitiveCount);
    }
}

// The projection comes from the frame's own rectangle (here aspect 2, where
// the set-up's gave 1) and the current field of view; the world transform
// from the camera's current clock and angles.
TEST_F(FrameTest, TransformsFollowTheCameraAndTheFrameRectangle)
{
    SetupScene(&device_, 0, 0, 1920, 1200, 1);
    for (int n = 0; n < 777; ++n)
        UpdateScene();
    device_.ClearCallLog();
    Frame(0, 2560, 1080);
    const std::vector<DeviceCall>& calls = device_.Calls();
    ASSERT_EQ(15u, calls.size()) << device_.DescribeCalls();

    Matrix4x4 projection;
    D3DXMatrixPerspectiveFovLH(&projection, FieldOfView(scene.fovWobble), 2.0f, 0.1f, 100.0f);
    Matrix4x4 world;
    BuildWorldTransform(&world, scene.cameraClockA, scene.cameraYaw, scene.cameraPitch);
    EXPECT_EQ(0, std::memcmp(&projection, &calls[6].matrix, sizeof(projection)));
    EXPECT_EQ(0, std::memcmp(&world, &calls[8].matrix, sizeof(world)));
    EXPECT_EQ(0, std::memcmp(&world, &calls[11].matrix, sizeof(world)));
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

TEST_F(FrameTest, FailedBeginSceneEndsTheFrameAtOnce)
{
    SetupScene(&device_, 0, 0, 1920, 1200, 1);
    device_.ClearCallLog();
    device_.FailNextCall(CallKind::BeginScene);
    const uint32_t generatorBefore = GeneratorState();
    Frame();
    ASSERT_EQ(1u, device_.Calls().size()) << device_.DescribeCalls();
    EXPECT_EQ(CallKind::BeginScene, device_.Calls()[0].kind);
    EXPECT_EQ(generatorBefore, GeneratorState());
}

TEST_F(FrameTest, FrameWithoutResourcesOnlyBeginsClearsAndEnds)
{
    Cell(500, 500).red = 100.0f;
    Frame();
    EXPECT_EQ((std::vector<CallKind>{CallKind::BeginScene, CallKind::Clear, CallKind::EndScene}), Kinds());
    EXPECT_EQ(1u, GeneratorState());
    EXPECT_EQ(100.0f, Cell(500, 500).red);

    device_.FailNextCall(CallKind::CreateTexture);
    SetupScene(&device_, 0, 0, 1920, 1200, 1);
    EXPECT_EQ(nullptr, deviceResources.FullLayerTexture);
    device_.ClearCallLog();
    const uint32_t generatorBefore = GeneratorState();
    Frame();
    EXPECT_EQ((std::vector<CallKind>{CallKind::BeginScene, CallKind::Clear, CallKind::EndScene}), Kinds());
    EXPECT_EQ(generatorBefore, GeneratorState());
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

TEST_F(FrameTest, FailedLocksNeverStopTheSimulation)
{
    SoftwareDevice healthy(64, 64);
    SetupScene(&device_, 0, 0, 1920, 1200, 5);
    for (int n = 0; n < 20; ++n) {
        UpdateScene();
        device_.FailNextCall(CallKind::LockRect);
        Frame();
    }
    const std::vector<GridCell> failedGrid(scene.AccumulationGrid, scene.AccumulationGrid + 1920 * 1200);
    const std::vector<GridCell> failedGlow(scene.GlowGrid, scene.GlowGrid + 960 * 600);
    const std::vector<uint32_t> failedLayer(scene.FullLayerTexels, scene.FullLayerTexels + 1920 * 1200);
    FreePlugin(0, 0, 0);
    Reset();
    SetupScene(&healthy, 0, 0, 1920, 1200, 5);
    for (int n = 0; n < 20; ++n) {
        UpdateScene();
        RenderSceneOnScreen(0, &healthy, 0, 0, 1920, 1200, 0, 0, 0, 0, 0);
    }
    EXPECT_EQ(0, std::memcmp(failedGrid.data(), scene.AccumulationGrid, sizeof(scene.AccumulationGrid)));
    EXPECT_EQ(0, std::memcmp(failedGlow.data(), scene.GlowGrid, sizeof(scene.GlowGrid)));
    EXPECT_EQ(0, std::memcmp(failedLayer.data(), scene.FullLayerTexels, sizeof(scene.FullLayerTexels)));
    FreePlugin(0, 0, 0);
}

TEST_F(FrameTest, FailedVertexBufferLockLeavesTheQuadUnwritten)
{
    device_.FailNextCall(CallKind::Lock);
    SetupScene(&device_, 0, 0, 1920, 1200, 1);
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(SoftwareDevice::ReadVertexBytes(deviceResources.QuadVertexBuffer, bytes));
    EXPECT_EQ(std::vector<uint8_t>(576, 0), bytes);
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

TEST(Camera, ProjectionAspectIsTheIntegerQuotient)
{
    EXPECT_EQ(1.0f, ProjectionAspect(0, 0, 1920, 1200));
    EXPECT_EQ(1.0f, ProjectionAspect(0, 0, 1280, 1024));
    EXPECT_EQ(1.0f, ProjectionAspect(0, 0, 1600, 1200));
    EXPECT_EQ(2.0f, ProjectionAspect(0, 0, 2560, 1080));
    EXPECT_EQ(3.0f, ProjectionAspect(0, 0, 3840, 1080));
    EXPECT_EQ(1.0f, ProjectionAspect(100, 50, 2020, 1250));
}

TEST(Camera, PortraitAndEmptyRectanglesGetAspectOne)
{
    EXPECT_EQ(1.0f, ProjectionAspect(0, 0, 1080, 1920));
    EXPECT_EQ(1.0f, ProjectionAspect(0, 0, 1920, 0));
    EXPECT_EQ(1.0f, ProjectionAspect(0, 100, 1920, 0));
    EXPECT_EQ(1.0f, ProjectionAspect(INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX));
    EXPECT_EQ(4294967295.0f, ProjectionAspect(INT32_MIN, 0, INT32_MAX, 1));
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

TEST_F(FrameTest, RenderedSceneShowsTrailsAndGlowOnBlack)
{
    // A 600 x 240 screen has aspect 2: the square quad covers the middle half
    // of its width, whatever the camera's sway, and black shows either side.
    SoftwareDevice screen(600, 240);
    screen.SetSentinelMode(SoftwareDevice::SentinelMode::Off);
    SetupScene(&screen, 0, 0, 600, 240, 314159);
    for (int n = 0; n < 400; ++n) {
        UpdateScene();
        if (n % 4 == 0)
            RenderSceneOnScreen(0, &screen, 0, 0, 600, 240, 0, 0, 0, 0, 0);
    }
    RenderSceneOnScreen(0, &screen, 0, 0, 600, 240, 0, 0, 0, 0, 0);
    for (int y = 0; y < 240; y += 7) {
        for (int x : {0, 60, 539, 599}) {
            ASSERT_EQ(0u, screen.Pixel(x, y) & 0x00FFFFFFu) << x << "," << y;
        }
    }
    int lit = 0;
    int redDominant = 0;
    for (int y = 0; y < 240; ++y) {
        for (int x = 150; x < 450; ++x) {
            const uint32_t pixel = screen.Pixel(x, y);
            const int r = (pixel >> 16) & 0xFF;
            const int g = (pixel >> 8) & 0xFF;
            const int b = pixel & 0xFF;
            if (r + g + b > 30) {
                ++lit;
                if (r >= g && r >= b)
                    ++redDominant;
            }
        }
    }
    EXPECT_GT(lit, 2000);
    EXPECT_GT(redDominant * 2, lit);
    FreePlugin(0, 0, 0);
}

}  // namespace
