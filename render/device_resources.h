// The plug-in's three device resources and the fixed render state. They are
// created together by every set-up and released together by FreePlugin, so a
// host can free them before it resets or replaces its device and set up again
// after.
#pragma once

#include <cstdint>

#include "render/graphics.h"

// One vertex of the drawn quad, as the vertex format 0x142 lays it out.
struct QuadVertex {
    float x;
    float y;
    float z;
    D3DCOLOR diffuse;
    float u;
    float v;
};

enum : DWORD {
    QuadVertexFormat = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1,
    QuadVertexBufferBytes = 576,  // room for 24 vertices; only 4 are used
};

extern const QuadVertex QuadVertices[4];

// One reference to each, held from set-up to FreePlugin; null before the
// first set-up, after FreePlugin and where a creation failed.
struct DeviceResources {
    IDirect3DTexture9* FullLayerTexture;  // gridWidth x gridHeight
    IDirect3DTexture9* GlowLayerTexture;  // half that
    IDirect3DVertexBuffer9* QuadVertexBuffer;
};

// Creates the quad buffer and the two layer textures (for a grid of the given
// size) on the host's device, sets the fixed render and sampler state and
// fills the quad. References left from an earlier set-up are released first.
void CreateDeviceResources(DeviceResources& resources, IDirect3DDevice9* device, int32_t gridWidth, int32_t gridHeight);

// Releases the glow texture, the full texture and the quad buffer, in that
// order, skipping any that is null. The whole work of FreePlugin.
void ReleaseDeviceResources(DeviceResources& resources);

// True when all three resources exist (a frame needs every one of them).
bool DeviceResourcesReady(const DeviceResources& resources);
