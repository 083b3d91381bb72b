// What the tests of the software device share: vertices in the quad's
// format, buffers and textures filled through locks, the drawing state of the
// plug-in, and matrices.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/matrices.h"
#include "platform/software_device.h"

namespace device_test {

struct Vertex {
    float x, y, z;
    uint32_t diffuse;
    float u, v;
};
static_assert(sizeof(Vertex) == 24, "the 0x142 vertex is 24 bytes");

constexpr DWORD quadFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1;

inline int Red(uint32_t c) { return static_cast<int>((c >> 16) & 0xFF); }
inline int Green(uint32_t c) { return static_cast<int>((c >> 8) & 0xFF); }
inline int Blue(uint32_t c) { return static_cast<int>(c & 0xFF); }
inline int Alpha(uint32_t c) { return static_cast<int>(c >> 24); }

inline D3DMATRIX Translation(float x, float y, float z)
{
    D3DMATRIX m = {};
    m._11 = m._22 = m._33 = m._44 = 1.0f;
    m._41 = x;
    m._42 = y;
    m._43 = z;
    return m;
}

// The left-handed perspective the plug-in's frames set.
inline D3DMATRIX PerspectiveFovLH(float fovy, float aspect, float zn, float zf)
{
    Matrix4x4 perspective;
    D3DXMatrixPerspectiveFovLH(&perspective, fovy, aspect, zn, zf);
    D3DMATRIX m;
    std::memcpy(&m, &perspective, sizeof(m));
    return m;
}

// A rectangle as a four-vertex strip in the plug-in's order: upper left,
// upper right, lower left, lower right.
inline std::vector<Vertex> RectangleStrip(float left, float top, float right, float bottom, float z, uint32_t diffuse,
                                          float u0 = 0.0f, float v0 = 0.0f, float u1 = 1.0f, float v1 = 1.0f)
{
    return {{left, top, z, diffuse, u0, v0},
            {right, top, z, diffuse, u1, v0},
            {left, bottom, z, diffuse, u0, v1},
            {right, bottom, z, diffuse, u1, v1}};
}

inline IDirect3DVertexBuffer9* MakeBuffer(SoftwareDevice& device, const std::vector<Vertex>& vertices)
{
    IDirect3DVertexBuffer9* buffer = nullptr;
    UINT bytes = static_cast<UINT>(vertices.size() * sizeof(Vertex));
    EXPECT_EQ(device.CreateVertexBuffer(bytes, 0, quadFvf, D3DPOOL_DEFAULT, &buffer, nullptr), S_OK);
    void* data = nullptr;
    EXPECT_EQ(buffer->Lock(0, bytes, &data, 0), S_OK);
    std::memcpy(data, vertices.data(), bytes);
    EXPECT_EQ(buffer->Unlock(), S_OK);
    return buffer;
}

inline IDirect3DTexture9* MakeTexture(SoftwareDevice& device, int width, int height,
                                      const std::vector<uint32_t>& texels)
{
    IDirect3DTexture9* texture = nullptr;
    EXPECT_EQ(
        device.CreateTexture(width, height, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &texture, nullptr),
        S_OK);
    D3DLOCKED_RECT locked = {};
    EXPECT_EQ(texture->LockRect(0, &locked, nullptr, 0), S_OK);
    for (int y = 0; y < height; ++y)
        std::memcpy(static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch, &texels[y * width], width * 4);
    EXPECT_EQ(texture->UnlockRect(0), S_OK);
    return texture;
}

inline IDirect3DTexture9* MakeSolidTexture(SoftwareDevice& device, uint32_t texel)
{
    return MakeTexture(device, 4, 4, std::vector<uint32_t>(16, texel));
}

// The state the plug-in's drawing relies on, minus blending.
inline void PrepareDrawing(SoftwareDevice& device)
{
    device.SetFVF(quadFvf);
    device.SetRenderState(D3DRS_LIGHTING, FALSE);
    device.SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
}

// The plug-in's blend: the source over the back buffer by its alpha.
inline void BlendBySourceAlpha(SoftwareDevice& device)
{
    device.SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device.SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device.SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
}

inline void DrawQuad(SoftwareDevice& device, IDirect3DVertexBuffer9* buffer, IDirect3DTexture9* texture)
{
    device.SetStreamSource(0, buffer, 0, sizeof(Vertex));
    device.SetTexture(0, texture);
    ASSERT_EQ(device.DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), S_OK) << device.DescribeCalls();
}

}  // namespace device_test
