// The plug-in's three device resources and the fixed render state.
#pragma once

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

// Creates the quad buffer and the two layer textures on the host's device,
// sets the fixed render and sampler state and fills the quad. Called by every
// set-up; references left from an earlier set-up are released first.
void CreateDeviceResources(IDirect3DDevice9* device);

// Releases the glow texture, the full texture and the quad buffer, in that
// order, skipping any that is null. The whole work of FreePlugin.
void ReleaseDeviceResources();

// True when all three resources exist (a frame needs every one of them).
bool DeviceResourcesReady();
