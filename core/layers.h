// The frame's update of the two layers from the simulation: the fade of a
// random lattice of the accumulation grid, the texels around every particle,
// and the glow rebuilt from every particle's halo.
//
// The passes write into plain texel buffers, so they are tested without any
// device; the device layer (render/frame.cpp) only locks a texture, hands its
// memory over as a TexelBuffer and unlocks it.
//
// Each pass has two versions: the one the frame runs (SIMD, skipping work
// whose result is known) and a reference written plainly, one scalar
// operation at a time, which defines the result. Tests hold the two to the
// same bits on random scenes.
#pragma once

#include <cstdint>

#include "core/scene_state.h"
#include "core/simd_level.h"

// Texels in A8R8G8B8 words: texel (x, y) is the word at byte offset
// y * pitchBytes + 4 * x from texels. A null texels pointer means there is no
// memory to write (a lock failed): the passes still do their work on the
// grids.
struct TexelBuffer {
    uint32_t* texels;
    int32_t width;
    int32_t height;
    int32_t pitchBytes;
};

inline uint32_t* TexelRow(const TexelBuffer& buffer, int y)
{
    return reinterpret_cast<uint32_t*>(reinterpret_cast<unsigned char*>(buffer.texels) +
                                       static_cast<ptrdiff_t>(y) * buffer.pitchBytes);
}

// An opaque texel: each channel truncated toward zero, its low 8 bits kept.
uint32_t PackTexel(float red, float green, float blue);

// --- The frame's passes -----------------------------------------------------

// The fade of one random lattice (one cell in 25: a row phase, then a column
// phase per visited row, all drawn from the generator), writing the faded
// cells' texels. It reads only the lattice cells whose lit bit is set
// (scene_state.h); draws, cells and results are those of FadePassReference.
// Runs every frame; touches at most 92,160 lattice cells; allocates nothing.
void FadeLattice(SceneState& scene, const TexelBuffer& texels, SimdLevel level = MachineSimdLevel());

// Refreshes the 6 x 6 texels around every particle's last splat cell from
// the grid, capped at 255 (column 0 and row 0 are never refreshed). At most
// 36 texels per particle.
void RefreshParticleTexels(SceneState& scene, const TexelBuffer& texels);

// The full layer's update: FadeLattice, then RefreshParticleTexels, into
// scene.FullLayerTexels.
void UpdateFullLayerTexels(SceneState& scene, SimdLevel level = MachineSimdLevel());

// Copies scene.FullLayerTexels whole into texture memory of at least the
// grid's size, row by row with streaming stores (texture memory is written,
// never read back).
void CopyFullLayer(const SceneState& scene, const TexelBuffer& destination);

// The glow: clears the glow grid and the glow texels, then lays every
// particle's 9 x 9 halo into both, in list order. Only the cells the halos
// wrote this frame or last frame are touched in the grid (only the halos
// write nonzero glow). Runs every frame; at most 81 cells per particle;
// allocates nothing.
void UpdateGlowTexels(SceneState& scene, const TexelBuffer& texels, SimdLevel level = MachineSimdLevel());

// --- The references ---------------------------------------------------------

// The fade of one random lattice, every lattice cell read. It also brings the
// lit bit of every cell it visits up to date, so a frame's fade may follow it.
void FadePassReference(SceneState& scene, const TexelBuffer& texels);

// The 6 x 6 texels around every particle, the grid's values capped at 255.
void ParticleTexelPassReference(SceneState& scene, const TexelBuffer& texels);

// The glow clear (grid and texels) and every halo, cell by cell and channel
// by channel. It leaves the glow bookkeeping as UpdateGlowTexels would, so a
// frame may follow it.
void GlowPassReference(SceneState& scene, const TexelBuffer& texels);
