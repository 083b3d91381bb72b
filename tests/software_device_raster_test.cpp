// The pictures the software device draws: Clear, the textured and blended
// quad, coverage, depth, culling, filtering, transforms, perspective and
// clipping, and draws it must refuse.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "tests/software_device_helpers.h"

namespace {

using namespace device_test;

// A frame of a device with the quad state set, ready to draw.
class SoftwareDeviceFrame : public ::testing::Test {
protected:
    SoftwareDeviceFrame() : device(64, 48)
    {
        PrepareDrawing(device);
        device.BeginScene();
        device.Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
    }
    SoftwareDevice device;
};

// A device 100 or 200 wide and 100 high in a scene under a 90-degree
// perspective: at distance 2 the visible half-height is 2.
class SoftwareDevicePerspective : public ::testing::Test {
protected:
    void Open(int width)
    {
        device.reset(new SoftwareDevice(width, 100));
        PrepareDrawing(*device);
        device->BeginScene();
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
        D3DMATRIX projection = PerspectiveFovLH(1.5707964f, 1.0f, 0.1f, 100.0f);
        device->SetTransform(D3DTS_PROJECTION, &projection);
    }
    std::unique_ptr<SoftwareDevice> device;
};

TEST(SoftwareDeviceClear, ClearSetsColourAndDepth)
{
    SoftwareDevice device(8, 6);
    EXPECT_EQ(device.Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF102030u, 0.25f, 0), S_OK);
    EXPECT_EQ(device.Pixel(0, 0), 0xFF102030u);
    EXPECT_EQ(device.Pixel(7, 5), 0xFF102030u);
    EXPECT_EQ(device.Depth(7, 5), 0.25f);
    EXPECT_EQ(device.Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0xFFFFFFFFu, 1.0f, 0), S_OK);
    EXPECT_EQ(device.Pixel(3, 3), 0xFF102030u);
    EXPECT_EQ(device.Depth(3, 3), 1.0f);
}

TEST_F(SoftwareDeviceFrame, TextureUpperLeftTexelAppearsUpperLeft)
{
    // 2 x 2 texels: red, green over blue, white; v = 0 is the top row.
    IDirect3DTexture9* texture = MakeTexture(device, 2, 2, {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFFFFFFFFu});
    IDirect3DVertexBuffer9* buffer = MakeBuffer(device, RectangleStrip(-1, 1, 1, -1, 0, 0xFFFFFFFFu));
    DrawQuad(device, buffer, texture);
    EXPECT_EQ(device.Pixel(10, 10), 0xFFFF0000u);
    EXPECT_EQ(device.Pixel(53, 10), 0xFF00FF00u);
    EXPECT_EQ(device.Pixel(10, 37), 0xFF0000FFu);
    EXPECT_EQ(device.Pixel(53, 37), 0xFFFFFFFFu);
    // The quad reaches the viewport's corners.
    EXPECT_EQ(device.Pixel(0, 0), 0xFFFF0000u);
    EXPECT_EQ(device.Pixel(63, 47), 0xFFFFFFFFu);
}

// One quad over the whole viewport: the texel modulated by the diffuse
// colour (the texel's alpha kept), the diffuse colour alone without a
// texture, black with lighting left on, and with the plug-in's blend the
// texel over the background by its alpha.
TEST(SoftwareDeviceShading, QuadColourComesFromTexelDiffuseLightingAndBlend)
{
    const struct {
        const char* what;
        bool textured;
        uint32_t texel, diffuse;
        bool lighting, blend;
        uint32_t background, expected;
    } cases[] = {
        {"texel", true, 0xFF40C080u, 0xFFFFFFFFu, false, false, 0xFF000000u, 0xFF40C080u},
        {"modulated", true, 0xFFFF8040u, 0x00808080u, false, false, 0xFF000000u, 0xFF804020u},
        {"untextured", false, 0, 0xFF336699u, false, false, 0xFF000000u, 0xFF336699u},
        {"lit", true, 0xFFFFFFFFu, 0xFFFFFFFFu, true, false, 0xFF808080u, 0xFF000000u},
        // 128/255 of red over 127/255 of blue.
        {"half transparent", true, 0x80FF0000u, 0x00FFFFFFu, false, true, 0xFF0000FFu, 0xFF80007Fu},
        {"transparent", true, 0x00FFFFFFu, 0x00FFFFFFu, false, true, 0xFF336699u, 0xFF336699u},
    };
    for (const auto& c : cases) {
        SoftwareDevice device(64, 48);
        PrepareDrawing(device);
        device.SetRenderState(D3DRS_LIGHTING, c.lighting ? TRUE : FALSE);
        if (c.blend)
            BlendBySourceAlpha(device);
        device.BeginScene();
        device.Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, c.background, 1.0f, 0);
        IDirect3DTexture9* texture = c.textured ? MakeSolidTexture(device, c.texel) : nullptr;
        DrawQuad(device, MakeBuffer(device, RectangleStrip(-1, 1, 1, -1, 0, c.diffuse)), texture);
        const uint32_t colourBits = c.blend ? 0x00FFFFFFu : 0xFFFFFFFFu;  // blending leaves alpha to the target
        EXPECT_EQ(c.expected & colourBits, device.Pixel(32, 24) & colourBits) << c.what << std::hex;
        EXPECT_EQ(c.expected & colourBits, device.Pixel(0, 0) & colourBits) << c.what << std::hex;
    }
}

TEST_F(SoftwareDeviceFrame, TrianglesSharingAnEdgeCoverEveryPixelExactlyOnce)
{
    // Half-transparent white over black: 0x80 where drawn once, 0xC0 where
    // drawn twice.
    BlendBySourceAlpha(device);
    // A skewed quad, so that its diagonal crosses many pixel centres.
    std::vector<Vertex> quad = {{-0.9f, 0.7f, 0, 0x80FFFFFFu, 0, 0},
                                {0.8f, 0.9f, 0, 0x80FFFFFFu, 0, 0},
                                {-0.7f, -0.8f, 0, 0x80FFFFFFu, 0, 0},
                                {0.6f, -0.6f, 0, 0x80FFFFFFu, 0, 0}};
    IDirect3DVertexBuffer9* buffer = MakeBuffer(device, quad);
    DrawQuad(device, buffer, nullptr);
    int covered = 0;
    for (int y = 0; y < device.Height(); ++y)
        for (int x = 0; x < device.Width(); ++x) {
            uint32_t pixel = device.Pixel(x, y) & 0x00FFFFFFu;
            ASSERT_TRUE(pixel == 0u || pixel == 0x00808080u) << x << "," << y << ": " << std::hex << pixel;
            covered += pixel != 0u;
        }
    EXPECT_GT(covered, 1000);
}

TEST_F(SoftwareDeviceFrame, EqualDepthPassesAndFartherDoesNot)
{
    IDirect3DVertexBuffer9* red = MakeBuffer(device, RectangleStrip(-1, 1, 1, -1, 0.5f, 0xFFFF0000u));
    IDirect3DVertexBuffer9* green = MakeBuffer(device, RectangleStrip(-1, 1, 1, -1, 0.5f, 0xFF00FF00u));
    IDirect3DVertexBuffer9* blueBehind = MakeBuffer(device, RectangleStrip(-1, 1, 1, -1, 0.75f, 0xFF0000FFu));
    DrawQuad(device, red, nullptr);
    EXPECT_EQ(device.Depth(32, 24), 0.5f);
    DrawQuad(device, green, nullptr);
    EXPECT_EQ(device.Pixel(32, 24), 0xFF00FF00u);
    DrawQuad(device, blueBehind, nullptr);
    EXPECT_EQ(device.Pixel(32, 24), 0xFF00FF00u);
    EXPECT_EQ(device.Depth(32, 24), 0.5f);
}

TEST_F(SoftwareDeviceFrame, DefaultCullModeDropsCounterClockwiseTriangles)
{
    device.SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
    // Upper right, upper left, lower right, lower left: counter-clockwise.
    std::vector<Vertex> mirrored = {{1, 1, 0, 0xFFFFFFFFu, 0, 0},
                                    {-1, 1, 0, 0xFFFFFFFFu, 0, 0},
                                    {1, -1, 0, 0xFFFFFFFFu, 0, 0},
                                    {-1, -1, 0, 0xFFFFFFFFu, 0, 0}};
    IDirect3DVertexBuffer9* backFacing = MakeBuffer(device, mirrored);
    DrawQuad(device, backFacing, nullptr);
    EXPECT_EQ(device.Pixel(10, 10), 0xFF000000u);
    EXPECT_EQ(device.Pixel(53, 37), 0xFF000000u);
    // Both triangles of the clockwise strip are front faces: the second runs
    // the other way round, as every second one of a strip does.
    IDirect3DVertexBuffer9* frontFacing = MakeBuffer(device, RectangleStrip(-1, 1, 1, -1, 0, 0xFFFFFFFFu));
    DrawQuad(device, frontFacing, nullptr);
    EXPECT_EQ(device.Pixel(10, 10), 0xFFFFFFFFu);
    EXPECT_EQ(device.Pixel(53, 37), 0xFFFFFFFFu);
}

TEST_F(SoftwareDeviceFrame, TextureCoordinatesWrap)
{
    IDirect3DTexture9* texture = MakeTexture(device, 2, 1, {0xFFFF0000u, 0xFF0000FFu});
    // u from -1 to 1: negative coordinates wrap too (texel -2 is texel 0).
    IDirect3DVertexBuffer9* buffer =
        MakeBuffer(device, RectangleStrip(-1, 1, 1, -1, 0, 0xFFFFFFFFu, -1.0f, 0.0f, 1.0f, 1.0f));
    DrawQuad(device, buffer, texture);
    EXPECT_EQ(device.Pixel(4, 24), 0xFFFF0000u);
    EXPECT_EQ(device.Pixel(20, 24), 0xFF0000FFu);
    EXPECT_EQ(device.Pixel(36, 24), 0xFFFF0000u);
    EXPECT_EQ(device.Pixel(52, 24), 0xFF0000FFu);
}

TEST_F(SoftwareDeviceFrame, AnisotropicFilteringBlendsNeighbouringTexels)
{
    IDirect3DTexture9* texture = MakeTexture(device, 2, 1, {0xFF000000u, 0xFFFFFFFFu});
    // u from 0.25 to 0.75 runs from the centre of texel 0 to that of texel 1.
    IDirect3DVertexBuffer9* buffer =
        MakeBuffer(device, RectangleStrip(-1, 1, 1, -1, 0, 0xFFFFFFFFu, 0.25f, 0.0f, 0.75f, 1.0f));
    DrawQuad(device, buffer, texture);
    EXPECT_EQ(device.Pixel(16, 24), 0xFF000000u);  // point sampling by default
    device.SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_ANISOTROPIC);
    DrawQuad(device, buffer, texture);
    // Pixel 32 samples u = 0.5: halfway between the two texel centres.
    EXPECT_NEAR(Red(device.Pixel(32, 24)), 128, 1);
    EXPECT_NEAR(Red(device.Pixel(16, 24)), 64, 1);
}

TEST_F(SoftwareDeviceFrame, DepthOutsideZeroToOneIsClipped)
{
    // Without a projection depth is z itself; the quad leaves the 0..1 range
    // halfway across, at x = 0 (pixel 32).
    std::vector<Vertex> throughNear = {{-1, 1, -0.5f, 0xFFFFFFFFu, 0, 0},
                                       {1, 1, 0.5f, 0xFFFFFFFFu, 0, 0},
                                       {-1, -1, -0.5f, 0xFFFFFFFFu, 0, 0},
                                       {1, -1, 0.5f, 0xFFFFFFFFu, 0, 0}};
    std::vector<Vertex> throughFar = throughNear;
    for (Vertex& vertex : throughFar)
        vertex.z += 1.0f;
    DrawQuad(device, MakeBuffer(device, throughNear), nullptr);
    EXPECT_EQ(device.Pixel(16, 24), 0xFF000000u);
    EXPECT_EQ(device.Pixel(48, 24), 0xFFFFFFFFu);
    device.Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
    DrawQuad(device, MakeBuffer(device, throughFar), nullptr);
    EXPECT_EQ(device.Pixel(16, 24), 0xFFFFFFFFu);
    EXPECT_EQ(device.Pixel(48, 24), 0xFF000000u);
}

TEST_F(SoftwareDeviceFrame, WorldThenViewThenProjectionAreAppliedInThatOrder)
{
    D3DMATRIX world = Translation(0.5f, 0.0f, 0.0f);
    D3DMATRIX view = Translation(0.0f, 0.0f, 0.0f);
    view._11 = 0.5f;
    view._22 = 0.5f;
    device.SetTransform(D3DTS_WORLD, &world);
    device.SetTransform(D3DTS_VIEW, &view);
    IDirect3DVertexBuffer9* buffer = MakeBuffer(device, RectangleStrip(-0.1f, 0.1f, 0.1f, -0.1f, 0, 0xFFFFFFFFu));
    DrawQuad(device, buffer, nullptr);
    // v.W.V puts the quad at x 0.2 to 0.3 (pixels 38.4 to 41.6); v.V.W would
    // put it at 0.45 to 0.55 (pixels 46.4 to 49.6).
    EXPECT_EQ(device.Pixel(40, 24), 0xFFFFFFFFu);
    EXPECT_EQ(device.Pixel(48, 24), 0xFF000000u);
}

TEST_F(SoftwareDevicePerspective, ProjectionPlacesTheQuadWhereExpected)
{
    Open(100);
    // A quad of half-size 1 at distance 2 covers the middle half.
    D3DMATRIX world = Translation(0.0f, 0.0f, 2.0f);
    device->SetTransform(D3DTS_WORLD, &world);
    IDirect3DVertexBuffer9* buffer = MakeBuffer(*device, RectangleStrip(-1, 1, 1, -1, 0, 0xFFFFFFFFu));
    DrawQuad(*device, buffer, nullptr);
    EXPECT_EQ(device->Pixel(23, 50), 0xFF000000u);
    EXPECT_EQ(device->Pixel(27, 50), 0xFFFFFFFFu);
    EXPECT_EQ(device->Pixel(72, 50), 0xFFFFFFFFu);
    EXPECT_EQ(device->Pixel(77, 50), 0xFF000000u);
    EXPECT_EQ(device->Pixel(50, 23), 0xFF000000u);
    EXPECT_EQ(device->Pixel(50, 27), 0xFFFFFFFFu);
    EXPECT_EQ(device->Pixel(50, 77), 0xFF000000u);
    // Depth after the divide: zf / (zf - zn) - zn zf / ((zf - zn) z) at z = 2.
    double expectedDepth = 100.0 / 99.9 - 0.1 * 100.0 / (99.9 * 2.0);
    EXPECT_NEAR(device->Depth(50, 50), expectedDepth, 1e-5);
}

TEST_F(SoftwareDevicePerspective, TextureCoordinatesArePerspectiveCorrect)
{
    Open(200);
    // Left edge at depth 1, right edge at depth 3: u = 0.5 lies at (0, 2),
    // straight ahead, while an affine interpolation would put it a third of
    // the viewport to the left.
    std::vector<Vertex> slanted = {{-1, 0.5f, 1, 0xFFFFFFFFu, 0, 0},
                                   {1, 0.5f, 3, 0xFFFFFFFFu, 1, 0},
                                   {-1, -0.5f, 1, 0xFFFFFFFFu, 0, 1},
                                   {1, -0.5f, 3, 0xFFFFFFFFu, 1, 1}};
    IDirect3DTexture9* texture = MakeTexture(*device, 2, 1, {0xFFFF0000u, 0xFF0000FFu});
    IDirect3DVertexBuffer9* buffer = MakeBuffer(*device, slanted);
    DrawQuad(*device, buffer, texture);
    EXPECT_EQ(device->Pixel(90, 50), 0xFFFF0000u);   // x = -0.1
    EXPECT_EQ(device->Pixel(110, 50), 0xFF0000FFu);  // x = +0.1
}

TEST_F(SoftwareDevicePerspective, GeometryBehindTheEyeIsClippedAway)
{
    Open(200);
    // The left edge is behind the eye (z = -1). Projected without clipping it
    // would land on the right of the viewport.
    std::vector<Vertex> straddling = {{-1, 0.5f, -1, 0xFFFFFFFFu, 0, 0},
                                      {1, 0.5f, 3, 0xFFFFFFFFu, 1, 0},
                                      {-1, -0.5f, -1, 0xFFFFFFFFu, 0, 1},
                                      {1, -0.5f, 3, 0xFFFFFFFFu, 1, 1}};
    IDirect3DVertexBuffer9* buffer = MakeBuffer(*device, straddling);
    DrawQuad(*device, buffer, nullptr);
    EXPECT_EQ(device->Pixel(50, 50), 0xFFFFFFFFu);   // x = -0.5, depth 0.5
    EXPECT_EQ(device->Pixel(160, 50), 0xFF000000u);  // x = 0.6, right of the far edge
    IDirect3DVertexBuffer9* behind = MakeBuffer(*device, RectangleStrip(-1, 1, 1, -1, -2.0f, 0xFFFF0000u));
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
    DrawQuad(*device, behind, nullptr);
    for (int x = 0; x < 200; x += 7)
        EXPECT_EQ(device->Pixel(x, 50), 0xFF000000u) << x;
}

TEST(SoftwareDeviceDrawCalls, InvalidDrawsFailAndDrawNothing)
{
    SoftwareDevice device(16, 16);
    IDirect3DVertexBuffer9* buffer = MakeBuffer(device, RectangleStrip(-1, 1, 1, -1, 0, 0xFFFFFFFFu));
    device.SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device.SetRenderState(D3DRS_LIGHTING, FALSE);
    device.SetStreamSource(0, buffer, 0, sizeof(Vertex));
    device.BeginScene();
    EXPECT_EQ(device.DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3DERR_INVALIDCALL);  // no vertex format
    device.SetFVF(quadFvf);
    device.EndScene();
    EXPECT_EQ(device.DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3DERR_INVALIDCALL);  // outside a scene
    device.BeginScene();
    EXPECT_EQ(device.DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 3), D3DERR_INVALIDCALL);  // five vertices, four stored
    EXPECT_EQ(device.DrawPrimitive(D3DPT_TRIANGLESTRIP, 1, 2), D3DERR_INVALIDCALL);
    device.SetStreamSource(0, buffer, 24, sizeof(Vertex));
    EXPECT_EQ(device.DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3DERR_INVALIDCALL);  // offset past the first
    device.SetStreamSource(0, nullptr, 0, 0);
    EXPECT_EQ(device.DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3DERR_INVALIDCALL);
    EXPECT_EQ(device.Pixel(8, 8), 0u);
    EXPECT_EQ(device.SceneDrawCount(), 0);
}

}  // namespace
