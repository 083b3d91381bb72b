// The per-frame update of the two layer textures from the simulation.
//
// The passes write into plain texel buffers given as pointer and pitch, so
// they are tested without any device; UpdateFullLayer and UpdateGlowLayer are
// the thin part that locks and unlocks the textures.
#pragma once

#include <cstdint>

// An opaque A8R8G8B8 texel; each channel is truncated and its low 8 bits kept.
uint32_t PackTexel(float red, float green, float blue);

// Fades one random lattice of the accumulation grid (one cell in 25, a row
// phase then a column phase per visited row, all drawn from the generator) and
// writes the faded cells into texels. Reads every lattice cell, about 92,160,
// and brings each one's lit bit (simulation/step.h) up to date; the frame
// itself uses UpdateFullLayer's fade, which skips the cells known to be dark.
// Allocates nothing.
void FadePass(uint32_t* texels, int32_t pitchBytes);

// Refreshes the 6 x 6 texels around every particle's last splat cell from the
// grid. At most 36 texels per particle.
void ParticleTexelPass(uint32_t* texels, int32_t pitchBytes);

// Clears the whole glow grid (and forgets which cells the halos wrote), and
// the glow texels when given (null: the texture could not be locked, only the
// grid is rebuilt).
void GlowClearPass(uint32_t* texels, int32_t pitchBytes);

// Lays every particle's 9 x 9 halo into the glow grid, and into the glow
// texels when given, and notes the cells written. At most 81 cells per
// particle.
void HaloPass(uint32_t* texels, int32_t pitchBytes);

// Fade and particle passes into the persistent full-layer texels, then the
// whole layer copied into the discard-locked FullLayerTexture. Its fade reads
// only the lattice cells whose lit bit is set; draws, cells and results are
// those of FadePass.
void UpdateFullLayer();

// Glow clear and halo pass, written straight into the locked GlowLayerTexture.
// The texels are all cleared; the glow grid ends as GlowClearPass and
// HaloPass leave it, but only the cells the halos wrote this frame or last
// frame are touched (only the halos write nonzero glow).
void UpdateGlowLayer();
