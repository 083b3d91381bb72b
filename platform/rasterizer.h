// The software device's fixed-function pipeline, for what the scene draws:
// triangle strips of untransformed vertices with a diffuse colour and one 2D
// texture coordinate, under the default texture-stage state (colour = texel
// x diffuse, alpha = texel alpha; the diffuse colour alone when no texture is
// bound), with the depth test and optional source-alpha blending.
//
// Pixel convention: Direct3D 9's. Clip (-1, 1) maps to screen position (0, 0)
// and pixel (x, y) is sampled at the integer screen position (x, y), not at
// (x + 0.5, y + 0.5); a texture drawn 1:1 over the viewport therefore shows the
// familiar half-texel blur of a real Direct3D 9 device. Coverage follows the
// top-left fill rule on 8-bit sub-pixel positions, so two triangles that share
// an edge never both cover a pixel on it.
//
// Choices where a real device is free, or where this one is simpler:
//  - The anisotropic filter is approximated by bilinear filtering; point
//    filtering samples the nearest texel; no mipmaps. Per triangle, the
//    minification or magnification filter is chosen by comparing the
//    triangle's area in texels with its area in pixels. Filter weights have 8
//    fractional bits, and modulation and blending round to 8 bits per
//    channel, as fixed-function hardware does.
//  - Texture coordinates wrap (D3DTADDRESS_WRAP, the default address mode).
//  - With lighting on and no lights or material (the device has neither),
//    vertices come out black with their own alpha, exactly what a real device
//    draws under those defaults.
//  - Depth is tested LESSEQUAL and written; the back buffer keeps the alpha
//    that Clear or blending wrote.
#pragma once

#include <cstdint>

#include "platform/d3d9_standin.h"

// The vertex layout drawn: D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1.
constexpr DWORD stripVertexFormat = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1;
constexpr UINT stripVertexBytes = 24;  // x, y, z, diffuse, u, v

struct RasterTarget {
    uint32_t* color;  // A8R8G8B8, width words a row
    float* depth;     // as many, 0 near to 1 far
    int width, height;
};

// An A8R8G8B8 texture in place.
struct RasterTexture {
    const uint8_t* bits;
    int width, height;
    int pitch;  // bytes between rows
};

// The device state a draw reads.
struct RasterState {
    D3DMATRIX world, view, projection;
    bool lighting;
    bool cullCounterClockwise;  // D3DCULL_CCW; otherwise nothing is culled
    bool blend;                 // D3DRS_ALPHABLENDENABLE
    bool sourceAlpha;           // D3DRS_SRCBLEND is SRCALPHA, otherwise ONE
    bool inverseSourceAlpha;    // D3DRS_DESTBLEND is INVSRCALPHA, otherwise ZERO
    bool minifyLinear;          // D3DSAMP_MINFILTER is not POINT
    bool magnifyLinear;         // D3DSAMP_MAGFILTER is not POINT
};

// Draws `triangles` triangles of a strip whose vertices lie `stride` bytes
// apart from `vertices`; `texture` null draws the diffuse colour alone. The
// caller has checked that every vertex lies within its buffer.
void DrawTriangleStrip(const RasterTarget& target, const RasterState& state, const RasterTexture* texture,
                       const uint8_t* vertices, UINT stride, UINT triangles);
