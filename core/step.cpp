// One step of a particle along its chaotic map, and its splat into the
// accumulation grid.
//
// A step has two halves. The move (core/move.cpp) runs the map: arithmetic
// on the particle's own record, most of it sines, tangents and arc tangents.
// The finish makes the inside test and then either splats into the shared
// grid or respawns, which draws from the generator. A tick moves a block of
// particles at once, their functions in vector lanes, and finishes them in
// list order. Nothing a finish writes is read by another particle's move, so
// every grid cell and every draw comes out as if each particle were stepped
// whole before the next; meanwhile the grid blocks the particles will splat
// are fetched from memory.
#include "core/step.h"

#include <emmintrin.h>

#include <cmath>
#include <cstring>

#include "core/move.h"
#include "core/numeric.h"
#include "core/simd_level.h"
#include "core/splat.h"

namespace {

// Strict bounds; a position that is not a number fails every comparison.
inline bool IsInside(const Particle* particle, GridPosition position)
{
    return position.gx < static_cast<float>(particle->gridWidth - 10) && position.gx > 10.0f && position.gy > 10.0f &&
           position.gy < static_cast<float>(particle->gridHeight - 10) && particle->lifeTicks >= 1;
}

// Sets the lit bits of the 6 x 6 block whose first column and row are x, y:
// six bits of each of six rows, within one 16-bit word of the row. A grid row
// is a whole number of bytes, so the six words sit a row's bytes apart, all
// at the same shift.
inline void MarkLit(uint8_t* litCells, int x, int y)
{
    static_assert(AccumulationGridWidth % 8 == 0, "a row of lit bits is whole bytes");
    const int bit = y * AccumulationGridWidth + x;
    uint8_t* bytes = &litCells[bit >> 3];
    const uint16_t mask = static_cast<uint16_t>(0x3Fu << (bit & 7));
    for (int row = 0; row < 6; ++row, bytes += AccumulationGridWidth / 8) {
        uint16_t word;
        std::memcpy(&word, bytes, sizeof(word));
        word = static_cast<uint16_t>(word | mask);
        std::memcpy(bytes, &word, sizeof(word));
    }
}

// The finish: the inside test, then the splat or the respawn.
inline void FinishStep(SceneState& scene, Particle* particle, GridPosition position, SimdLevel level)
{
    if (!IsInside(particle, position)) {
        RespawnParticle(particle, particle->offsetX, particle->offsetY, particle->scale);
        return;
    }
    particle->pixelX = Trunc(position.gx);
    particle->pixelY = Trunc(position.gy);
    SplatParticle(scene.AccumulationGrid, particle, position.gx, position.gy, particle->pixelX, particle->pixelY,
                  level);
    MarkLit(scene.litCells, particle->pixelX - 3, particle->pixelY - 3);
}

// Asks for the cache lines of the block a particle at this position will
// splat: 96 bytes per row, so three addresses no more than 48 bytes apart
// reach every line. Only a hint: nothing is read or written. Into the second
// level, not the first: a block of particles asks for some 250 lines at once,
// more than the first level can have in flight, and the lines are used a
// block later, when a second-level hit costs little. Forced inline: GCC sees
// no effect in a function that only prefetches and drops its calls.
__attribute__((always_inline)) inline void PrefetchSplatBlock(const GridCell* grid, GridPosition position)
{
    if (!(position.gx > 10.0f && position.gx < static_cast<float>(AccumulationGridWidth - 10) && position.gy > 10.0f &&
          position.gy < static_cast<float>(AccumulationGridHeight - 10))) {
        return;
    }
    const char* row =
        reinterpret_cast<const char*>(&grid[AccumulationIndex(Trunc(position.gx) - 3, Trunc(position.gy) - 3)]);
    for (int k = 0; k < 6; ++k, row += AccumulationGridWidth * sizeof(GridCell)) {
        _mm_prefetch(row, _MM_HINT_T1);
        _mm_prefetch(row + 48, _MM_HINT_T1);
        _mm_prefetch(row + 6 * sizeof(GridCell) - 1, _MM_HINT_T1);
    }
}

}  // namespace

void StepParticle(SceneState& scene, Particle* particle, SimdLevel level)
{
    FinishStep(scene, particle, MoveParticle(particle), level);
}

void StepParticleReference(SceneState& scene, Particle* particle)
{
    const GridPosition position = MoveParticle(particle);
    if (!IsInside(particle, position)) {
        RespawnParticle(particle, particle->offsetX, particle->offsetY, particle->scale);
        return;
    }
    particle->pixelX = Trunc(position.gx);
    particle->pixelY = Trunc(position.gy);
    SplatParticleReference(scene.AccumulationGrid, particle, position.gx, position.gy);
}

void StepParticlesAndHandOver(SceneState& scene, const PatternHandOver& pattern, SimdLevel level)
{
    Particle* const first = scene.particles.records;
    const uint32_t count = scene.particles.count;
    // Block b + 1 is moved before block b is finished, and the grid block of
    // its particle n is asked for as block b's particle n is finished: a
    // steady stream of requests (a burst of them would wait for the memory's
    // free fill buffers). Moving ahead is safe: a move reads and writes only
    // its own particle, and no finish touches another particle.
    GridPosition positions[2][moveBlockSize];
    uint32_t sizes[2] = {0, 0};
    for (uint32_t start = 0, block = 0; start < count + moveBlockSize; start += moveBlockSize, block ^= 1) {
        sizes[block] = start < count ? (count - start < moveBlockSize ? count - start : moveBlockSize) : 0;
        if (sizes[block] > 0) {
            MoveParticles(&first[start], sizes[block], positions[block], level);
        }
        if (start == 0) {
            for (uint32_t n = 0; n < sizes[block]; ++n) {
                PrefetchSplatBlock(scene.AccumulationGrid, positions[block][n]);
            }
            continue;
        }
        const uint32_t done = start - moveBlockSize;
        const uint32_t finished = block ^ 1;
        for (uint32_t n = 0; n < sizes[finished]; ++n) {
            Particle* const particle = &first[done + n];
            FinishStep(scene, particle, positions[finished][n], level);
            HandOverPattern(particle, pattern);
            if (n < sizes[block]) {
                PrefetchSplatBlock(scene.AccumulationGrid, positions[block][n]);
            }
        }
    }
}
