// One frame as the plug-in left it on the software device, in the terms a
// presenter needs to draw it again elsewhere: the clear, the draws in order
// with their vertices decoded, the textures they sampled (in place, not
// copied), the transforms, and the render and sampler states. Only reads the
// device.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/software_device.h"

struct FrameTexture {
    int id = 0;  // the device's object id
    const uint8_t* bits = nullptr;
    int width = 0;
    int height = 0;
    int pitch = 0;        // bytes between rows
    bool opaque = false;  // X8R8G8B8: the top byte of a texel means nothing
};

// A vertex after the fixed-function colour rules: position in model space,
// colour as red, green, blue, alpha bytes.
struct FrameVertex {
    float x, y, z;
    uint8_t rgba[4];
    float u, v;
};

struct FrameDraw {
    D3DPRIMITIVETYPE type = D3DPT_TRIANGLESTRIP;  // list, strip or fan
    int firstVertex = 0;                          // into CapturedFrame::vertices
    int vertexCount = 0;
    int texture = -1;  // into CapturedFrame::textures; -1 for none
    D3DMATRIX world, view, projection;
};

// The states the draws ran under, with Direct3D 9's values.
struct FrameStates {
    bool depthTest = true;
    bool depthWrite = true;
    DWORD depthFunction = D3DCMP_LESSEQUAL;
    DWORD cullMode = D3DCULL_CCW;
    bool blend = false;
    DWORD sourceBlend = D3DBLEND_ONE;
    DWORD destinationBlend = D3DBLEND_ZERO;
    DWORD blendOperation = 1;  // D3DBLENDOP_ADD
    DWORD colorWriteMask = 0xF;
    bool alphaTest = false;
    DWORD alphaFunction = D3DCMP_ALWAYS;
    DWORD alphaReference = 0;
    // Sampler 0, the only one the fixed-function quad uses.
    DWORD addressU = 1;  // D3DTADDRESS_WRAP
    DWORD addressV = 1;
    D3DCOLOR borderColor = 0;
    DWORD magFilter = D3DTEXF_POINT;
    DWORD minFilter = D3DTEXF_POINT;
    DWORD maxAnisotropy = 1;
};

struct CapturedFrame {
    int width = 0;  // the device's back buffer
    int height = 0;
    DWORD clearFlags = 0;  // 0: the scene did not clear
    D3DCOLOR clearColor = 0;
    float clearZ = 1.0f;
    std::vector<FrameTexture> textures;
    std::vector<FrameVertex> vertices;
    std::vector<FrameDraw> draws;
    FrameStates states;
    // Draws that cannot be replayed (pre-transformed vertices, points and
    // lines, a stream too short) and were left out.
    int skippedDraws = 0;
};

// Fills `frame` from the device's last scene. Reuses the vectors' storage, so
// a frame of the same shape as the last one allocates nothing.
void CaptureFrame(const SoftwareDevice& device, CapturedFrame& frame);
