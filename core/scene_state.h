// Everything the entry points share, in one plain struct. The plug-in keeps
// one of these for as long as it is loaded (defined once, in plugin/); the
// core's functions take it, or the part they need, as an argument, so tests
// and tools can also work on scenes of their own.
//
// The device resources are not here: the core sees no Direct3D. They live
// with the device layer (render/device_resources.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/particle.h"

enum {
    AccumulationGridWidth = 1920,
    AccumulationGridHeight = 1200,
    GlowGridWidth = AccumulationGridWidth / 2,
    GlowGridHeight = AccumulationGridHeight / 2,
    ParticlesPerSetup = 2000,
};

// Growable contiguous array of particles in append order. Only set-up appends;
// nothing removes. Its storage lives until the library is unloaded.
struct ParticleList {
    Particle* records;
    uint32_t count;
    uint32_t capacity;
};

// Which glow cells the halos laid in the last frame, one bit per cell, bit
// GlowIndex(x, y): the next frame clears just those cells, and the glow
// texture is written from them (see core/glow.cpp).
enum { GlowCellCount = GlowGridWidth * GlowGridHeight };
struct GlowBookkeeping {
    uint8_t laid[GlowCellCount / 8];
};

struct SceneState {
    int32_t gridWidth;
    int32_t gridHeight;
    float aspectFactor;    // horizontal stretch of the pattern, from the set-up's rectangle
    int32_t equationType;  // map family the particles receive after their step
    float patternScale;
    float patternOffsetX;
    float patternOffsetY;
    int32_t ticksSinceReseed;  // ticks since the pattern was last re-drawn
    int32_t cameraClockA;      // +3 a tick: the camera's sway and depth
    int32_t cameraClockB;      // +2 a tick: the field-of-view wobble
    float cameraPitch;         // degrees; always equal to cameraYaw
    float cameraYaw;           // degrees
    float fovWobble;           // degrees added to the field of view

    ParticleList particles;

    // Row-major: cell (x, y) is element y * AccumulationGridWidth + x
    // (AccumulationIndex). No host sees the layout; it follows the frame's
    // passes, which walk the lattice, the particles' squares, the halos and
    // the glow texture row by row. Dumps write it column-major.
    GridCell AccumulationGrid[AccumulationGridWidth * AccumulationGridHeight];
    // Row-major like the accumulation grid: cell (x, y) is element
    // y * GlowGridWidth + x (GlowIndex). Rebuilt every frame.
    GridCell GlowGrid[GlowCellCount];
    // What the full-resolution layer shows: texel (x, y) at y * width + x,
    // A8R8G8B8. Kept here so that every texel stays as the update last wrote
    // it, whatever the driver hands out on a discard lock; copied whole into
    // the texture each frame.
    uint32_t FullLayerTexels[AccumulationGridWidth * AccumulationGridHeight];

    // One bit per AccumulationGrid cell, row-major: cell (x, y) is bit
    // (y * AccumulationGridWidth + x) % 8 of byte (y * AccumulationGridWidth + x) / 8.
    // Every splat sets the bits of its 6 x 6 block; the fade clears a cell's
    // bit when it leaves the cell black, so that its next visit would skip
    // it. A clear bit promises that the fade would skip the cell, and the
    // frame's fade does not read it: most of the grid is black. Only the
    // splat and the fade write the grid; any other writer of a cell must set
    // its bit.
    uint8_t litCells[AccumulationGridWidth * AccumulationGridHeight / 8];

    GlowBookkeeping glow;
};

inline ptrdiff_t AccumulationIndex(int x, int y) { return static_cast<ptrdiff_t>(y) * AccumulationGridWidth + x; }
inline ptrdiff_t GlowIndex(int x, int y) { return static_cast<ptrdiff_t>(y) * GlowGridWidth + x; }

inline GridCell& AccumulationCell(SceneState& scene, int x, int y)
{
    return scene.AccumulationGrid[AccumulationIndex(x, y)];
}
inline const GridCell& AccumulationCell(const SceneState& scene, int x, int y)
{
    return scene.AccumulationGrid[AccumulationIndex(x, y)];
}
inline GridCell& GlowCell(SceneState& scene, int x, int y) { return scene.GlowGrid[GlowIndex(x, y)]; }
inline const GridCell& GlowCell(const SceneState& scene, int x, int y) { return scene.GlowGrid[GlowIndex(x, y)]; }

// Gives a zero-filled scene its load values: everything zero but
// equationType 1 and patternScale 100. Only the scalars are written, so the
// grids of a scene in zero-filled memory stay untouched (and unpaged).
void SetLoadValues(SceneState& scene);

// Puts every variable back to its load value.
// The particle list is emptied; its storage is kept for reuse. The plug-in
// itself never resets; tests and tools that run several scenes in one
// process do.
void ResetSceneToLoadValues(SceneState& scene);

// Appends a copy of the record; false (and nothing appended) when memory ran
// out or the list holds `capacity` records (a test's limit). The records
// already there are kept.
bool AppendParticle(SceneState& scene, const Particle& record, uint32_t capacity = 0xFFFFFFFFu);

// Gives the list's storage back (at unload).
void ReleaseParticleStorage(ParticleList& list);
