// What the GL presenter reads of a frame (CaptureFrame) and the one place
// where Direct3D's clip space becomes OpenGL's. No OpenGL context needed.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "platform/software_device.h"
#include "plugin/entry_points.h"
#include "plugin/plugin_state.h"
#include "core/matrices.h"
#include "render/device_resources.h"
#include "tools/trails/frame_capture.h"
#include "tools/trails/gl_presenter.h"

namespace {

// A row vector times a row-vector matrix.
void Transform(const double in[4], const D3DMATRIX& m, double out[4])
{
    for (int column = 0; column < 4; ++column) {
        out[column] = 0.0;
        for (int k = 0; k < 4; ++k)
            out[column] += in[k] * m.m[k][column];
    }
}

// Where a Direct3D clip-space point lands: Direct3D 9 draws it at screen
// position ((x/w + 1) W/2, (1 - y/w) H/2) with y down, a pixel's sample at its
// integer position, depth z/w. After the conversion OpenGL must put it at the
// same place measured its way: window x' = x + 0.5 and y' = H - y - 0.5 (y up,
// samples at pixel centres), depth (z'/w' + 1) / 2 the same.
TEST(GlClipConversion, PutsEveryPointWhereDirect3DDrawsIt)
{
    const int width = 640;
    const int height = 400;
    const D3DMATRIX clip = GlClipFromDirect3D(width, height);
    const double points[][4] = {
        {-1.0, 1.0, 0.0, 1.0}, {1.0, -1.0, 1.0, 1.0}, {0.25, -0.5, 0.5, 1.0},
        {-3.0, 2.0, 1.5, 4.0}, {0.7, 0.1, 0.02, 0.3},
    };
    for (const auto& point : points) {
        const double w = point[3];
        const double d3dX = (point[0] / w + 1.0) * width / 2.0;
        const double d3dY = (1.0 - point[1] / w) * height / 2.0;
        const double d3dDepth = point[2] / w;
        double gl[4];
        Transform(point, clip, gl);
        EXPECT_NEAR(w, gl[3], 1e-9);
        const double glX = (gl[0] / gl[3] + 1.0) * width / 2.0;
        const double glY = (gl[1] / gl[3] + 1.0) * height / 2.0;
        const double glDepth = (gl[2] / gl[3] + 1.0) / 2.0;
        EXPECT_NEAR(d3dX + 0.5, glX, 1e-4);
        EXPECT_NEAR(height - d3dY - 0.5, glY, 1e-4);
        EXPECT_NEAR(d3dDepth, glDepth, 1e-6);
    }
}

// A frame made for one screen drawn on an output of another aspect (the
// wallpaper draws one frame on every output): the aspect scale turns the
// projection made for the first into the one made for the second.
TEST(GlClipConversion, TheAspectScaleRefitsAProjectionToAnotherScreen)
{
    const float fieldOfView = 0.9f;
    const struct {
        double made, shown;
    } screens[] = {{1.6, 1.0}, {16.0 / 9.0, 4.0 / 3.0}, {1.25, 21.0 / 9.0}};
    for (const auto& screen : screens) {
        Matrix4x4 made;
        Matrix4x4 wanted;
        D3DXMatrixPerspectiveFovLH(&made, fieldOfView, static_cast<float>(screen.made), 1.0f, 100.0f);
        D3DXMatrixPerspectiveFovLH(&wanted, fieldOfView, static_cast<float>(screen.shown), 1.0f, 100.0f);
        D3DMATRIX madeD3d;
        D3DMATRIX wantedD3d;
        std::memcpy(&madeD3d, &made, sizeof made);
        std::memcpy(&wantedD3d, &wanted, sizeof wanted);
        const D3DMATRIX refitted = MultiplyMatrices(madeD3d, GlClipFromDirect3D(800, 600, screen.made / screen.shown));
        const D3DMATRIX direct = MultiplyMatrices(wantedD3d, GlClipFromDirect3D(800, 600));
        for (int row = 0; row < 4; ++row) {
            for (int column = 0; column < 4; ++column)
                EXPECT_NEAR(direct.m[row][column], refitted.m[row][column], 1e-6) << row << "," << column;
        }
        // Without the scale the picture would be stretched.
        EXPECT_GT(std::abs(MultiplyMatrices(madeD3d, GlClipFromDirect3D(800, 600)).m[0][0] - direct.m[0][0]), 0.05);
    }
}

class CapturedPluginFrame : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetSceneToLoadValues(scene);
        device_.SkipRasterizing(true);
        SetupScene(&device_, 0, 0, 320, 200, 9);
        UpdateScene();
        RenderSceneOnScreen(0, &device_, 0, 0, 320, 200, 0, 0, 0, 0, 0);
    }
    void TearDown() override
    {
        FreePlugin(0, 0, 0);
        ResetSceneToLoadValues(scene);
    }
    SoftwareDevice device_{320, 200};
};

TEST_F(CapturedPluginFrame, HoldsBothLayersInPlaceAndTheQuadTwice)
{
    CapturedFrame frame;
    CaptureFrame(device_, frame);
    EXPECT_EQ(320, frame.width);
    EXPECT_EQ(200, frame.height);
    EXPECT_EQ(static_cast<DWORD>(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER), frame.clearFlags);
    EXPECT_EQ(0xFF000000u, frame.clearColor);
    EXPECT_EQ(0, frame.skippedDraws);

    ASSERT_EQ(2u, frame.textures.size());
    const SoftwareTexture* full = device_.TextureById(SoftwareDevice::IdOf(deviceResources.FullLayerTexture));
    const SoftwareTexture* glow = device_.TextureById(SoftwareDevice::IdOf(deviceResources.GlowLayerTexture));
    // Not copies: the memory the layer update wrote.
    EXPECT_EQ(full->Bits(), frame.textures[0].bits);
    EXPECT_EQ(glow->Bits(), frame.textures[1].bits);
    EXPECT_EQ(1920, frame.textures[0].width);
    EXPECT_EQ(1200, frame.textures[0].height);
    EXPECT_EQ(full->Pitch(), frame.textures[0].pitch);
    EXPECT_EQ(960, frame.textures[1].width);
    EXPECT_FALSE(frame.textures[0].opaque);

    ASSERT_EQ(2u, frame.draws.size());
    EXPECT_EQ(0, frame.draws[0].texture);
    EXPECT_EQ(1, frame.draws[1].texture);
    ASSERT_EQ(8u, frame.vertices.size());
    for (int n = 0; n < 2; ++n) {
        const FrameDraw& draw = frame.draws[n];
        EXPECT_EQ(D3DPT_TRIANGLESTRIP, draw.type);
        EXPECT_EQ(4, draw.vertexCount);
        for (int k = 0; k < 4; ++k) {
            const FrameVertex& vertex = frame.vertices[draw.firstVertex + k];
            EXPECT_EQ(QuadVertices[k].x, vertex.x);
            EXPECT_EQ(QuadVertices[k].y, vertex.y);
            EXPECT_EQ(QuadVertices[k].u, vertex.u);
            EXPECT_EQ(QuadVertices[k].v, vertex.v);
            // White with alpha 0, lighting being off.
            EXPECT_EQ(255, vertex.rgba[0]);
            EXPECT_EQ(255, vertex.rgba[2]);
            EXPECT_EQ(0, vertex.rgba[3]);
        }
    }
}

TEST_F(CapturedPluginFrame, LightingOnLeavesOnlyTheVertexAlpha)
{
    device_.SetRenderState(D3DRS_LIGHTING, TRUE);
    CapturedFrame frame;
    CaptureFrame(device_, frame);
    ASSERT_FALSE(frame.vertices.empty());
    for (const FrameVertex& vertex : frame.vertices) {
        EXPECT_EQ(0, vertex.rgba[0] | vertex.rgba[1] | vertex.rgba[2]);
        EXPECT_EQ(0, vertex.rgba[3]);  // the quad's own alpha
    }
}

TEST_F(CapturedPluginFrame, FreedLayersAreNotReadAndDrawsItCannotReplayAreLeftOut)
{
    // After FreePlugin the full layer's memory is gone; the glow layer stays
    // bound, and so alive.
    FreePlugin(0, 0, 0);
    CapturedFrame frame;
    CaptureFrame(device_, frame);
    ASSERT_EQ(2u, frame.draws.size());
    EXPECT_EQ(-1, frame.draws[0].texture);
    EXPECT_EQ(1u, frame.textures.size());

    // Unbound, the released quad buffer goes too: neither draw can be
    // replayed.
    device_.SetStreamSource(0, nullptr, 0, 0);
    CaptureFrame(device_, frame);
    EXPECT_EQ(0u, frame.draws.size());
    EXPECT_EQ(2, frame.skippedDraws);
}

}  // namespace
