// The splat: a particle's soft blob added into the 6 x 6 cells of the
// accumulation grid around its position.
#pragma once

#include "core/particle.h"
#include "core/scene_state.h"
#include "core/simd_level.h"

// Adds the particle's blob at (gx, gy) to the cells pixelX - 3 .. pixelX + 2
// by pixelY - 3 .. pixelY + 2, which the inside test has kept within the
// grid: per cell and channel n = trunc(share x colour + trunc(old)), capped
// at 255, the extra field untouched. SSE2, or AVX where level says so; both
// give the reference's bits. Touches 36 cells; allocates nothing.
void SplatParticle(GridCell* grid, const Particle* particle, float gx, float gy, int pixelX, int pixelY,
                   SimdLevel level);

// The splat written plainly, one cell and one channel at a time: what the
// lane paths must give, bit for bit.
void SplatParticleReference(GridCell* grid, const Particle* particle, float gx, float gy);
