// The plug-in's global state: everything the entry points share, allocated
// statically for as long as the library is loaded. Declared here, defined
// once in scene_state.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

#include "render/graphics.h"
#include "simulation/particle.h"

enum {
    AccumulationGridWidth = 1920,
    AccumulationGridHeight = 1200,
    GlowGridWidth = AccumulationGridWidth / 2,
    GlowGridHeight = AccumulationGridHeight / 2,
    ParticlesPerSetup = 2000,
};

// Growable contiguous array of particles in append order. Only set-up appends;
// nothing removes. Storage lives until the library is unloaded.
struct ParticleList {
    Particle* records;
    uint32_t count;
    uint32_t capacity;
};

struct SceneState {
    int32_t gridWidth;
    int32_t gridHeight;
    float aspectFactor;
    int32_t equationType;
    float patternScale;
    float patternOffsetX;
    float patternOffsetY;
    int32_t ticksSinceReseed;
    int32_t cameraClockA;
    int32_t cameraClockB;
    float cameraPitch;
    float cameraYaw;
    float fovWobble;
    IDirect3DTexture9* FullLayerTexture;
    IDirect3DTexture9* GlowLayerTexture;
    IDirect3DVertexBuffer9* QuadVertexBuffer;
    void* moduleInstance;  // HINSTANCE of the DLL, recorded at process attach
};

extern SceneState scene;
extern ParticleList particles;

// Column-major: cell (x, y) is element x * AccumulationGridHeight + y.
extern GridCell AccumulationGrid[AccumulationGridWidth * AccumulationGridHeight];
// Column-major: cell (x, y) is element x * GlowGridHeight + y. Rebuilt every frame.
extern GridCell GlowGrid[GlowGridWidth * GlowGridHeight];
// What the full-resolution layer shows: texel (x, y) at y * width + x, A8R8G8B8.
// Kept here so that every texel stays as the update last wrote it, whatever the
// driver hands out on a discard lock; copied whole into the texture each frame.
extern uint32_t FullLayerTexels[AccumulationGridWidth * AccumulationGridHeight];

// Appends a copy of the record; false (and nothing appended) when memory ran out.
bool AppendParticle(const Particle& record);

// Puts every variable back to its load value and empties the particle list.
// Only for tests and tools that run several scenes in one process; the plug-in
// itself never resets.
void ResetSceneToLoadValues();
