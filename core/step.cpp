// One step of a particle along its chaotic map, and its splat into the
// accumulation grid.
//
// A step has two halves. The move runs the map: arithmetic on the particle's
// own record, nearly all of it libm calls. The finish makes the inside test
// and then either splats into the shared grid or respawns, which draws from
// the generator. A tick moves each particle a few places before it finishes
// it, and finishes them in list order. Nothing a finish writes is read by
// another particle's move, so every grid cell and every draw comes out as if
// each particle were stepped whole before the next; meanwhile the grid block
// a particle will splat is fetched from memory, and the libm calls of one
// particle overlap the splat of another.
#include "core/step.h"

#include <emmintrin.h>

#include <cmath>
#include <cstring>

#include "core/cell_lanes.h"
#include "core/numeric.h"

namespace {

struct GridPosition {
    float gx;
    float gy;
};

// The move: the map of the particle's family, the life counter, the new map
// position and the grid position it lands on.
inline GridPosition MoveParticle(Particle* particle)
{
    const float x = particle->mapX;
    const float y = particle->mapY;
    const double h = particle->stepSize;

    // Base step, common to every family. A and B stay in double precision.
    const double baseA = h * SinSingle(Single(static_cast<double>(y) + AtanSingle(y)));
    const float sinX = SinSingle(x);
    const double baseB = h * TanSingle(Single(static_cast<double>(x) - sinX));
    const float x1 = Single(static_cast<double>(x) + baseA);
    const float y1 = Single(static_cast<double>(y) - baseB);

    float x2;
    float y2;
    switch (particle->equationType) {
    case 0:
        x2 = Single(static_cast<double>(x1) + baseA);
        y2 = Single(static_cast<double>(y1) - baseB);
        particle->spawnAxis = 0;
        break;
    case 1:
        x2 = Single(static_cast<double>(x1) + h * SinSingle(Single(static_cast<double>(y) + CosSingle(y))));
        y2 = Single(static_cast<double>(y1) - baseB);
        particle->spawnAxis = 0;
        break;
    case 2: {
        // The inner tangents are rounded before they are added.
        const double factor = 0.1 * h;
        x2 = Single(static_cast<double>(x1) + factor * TanSingle(Single(static_cast<double>(y) + TanSingle(x))));
        y2 = Single(static_cast<double>(y1) - factor * TanSingle(Single(static_cast<double>(x) - TanSingle(y))));
        particle->spawnAxis = 1;
        break;
    }
    case 3: {
        const double factor = 2.1 * h;
        x2 = Single(static_cast<double>(x1) + factor * TanSingle(x));
        y2 = Single(static_cast<double>(y1) - factor * TanSingle(y));
        particle->spawnAxis = 0;
        break;
    }
    case 4:
    case 5:
    case 6:
        // Same move; only the restart place differs.
        x2 = Single(static_cast<double>(x1) + (0.001 * h) * TanSingle(x));
        y2 = Single(static_cast<double>(y1) - (0.01 * h) * TanSingle(y));
        particle->spawnAxis = particle->equationType - 4;
        break;
    case 7:
        x2 = Single(static_cast<double>(x1) + h * SinSingle(y));
        y2 = Single(static_cast<double>(y1) - h * CosSingle(x));
        particle->spawnAxis = 1;
        break;
    case 8:
    case 9:
        // sin x is the rounded value the base step already used.
        x2 = Single(static_cast<double>(x1) + h * SinSingle(y));
        y2 = Single(static_cast<double>(y1) - h * sinX);
        particle->spawnAxis = particle->equationType == 8 ? 2 : 0;
        break;
    default:
        // Any other family moves as 7 and keeps the previous restart place.
        x2 = Single(static_cast<double>(x1) + h * SinSingle(y));
        y2 = Single(static_cast<double>(y1) - h * CosSingle(x));
        break;
    }

    particle->lifeTicks -= 1;
    particle->mapX = x2;
    particle->mapY = y2;

    GridPosition position;
    position.gx = Single(static_cast<double>(Single(static_cast<double>(x2) + particle->offsetX)) *
                         (static_cast<double>(particle->aspectFactor) * particle->scale));
    position.gy = Single(static_cast<double>(Single(static_cast<double>(y2) + particle->offsetY)) *
                         static_cast<double>(particle->scale));
    return position;
}

// Strict bounds; a position that is not a number fails every comparison.
inline bool IsInside(const Particle* particle, GridPosition position)
{
    return position.gx < static_cast<float>(particle->gridWidth - 10) && position.gx > 10.0f && position.gy > 10.0f &&
           position.gy < static_cast<float>(particle->gridHeight - 10) && particle->lifeTicks >= 1;
}

// The splat, four lanes at a time with SSE2. Each lane operation is the
// scalar operation it replaces, with the same rounding:
//  - the offsets, squares, sum and square root of the distance are single
//    precision operations on single-precision operands; the reference forms
//    each in double and rounds it once, which gives the same floats (double
//    has more than twice float's precision, so the double rounding is
//    harmless for +, -, x and sqrt);
//  - the weight (distance times 0.8 blobSize, a double) and the channel sums
//    (share times colour plus the old value truncated) are done in double
//    lanes, product then sum, as in the reference;
//  - truncations are cvttps2dq/cvttpd2dq, the same conversions the compiler
//    uses for the scalar casts (out-of-range values become 0x80000000 in
//    both);
//  - min(float(n), 255) equals float(min(n, 255)) for an integer n.
// A cell that the blob does not reach (share 0) gets n = trunc(old value):
// 0 times a finite colour plus a whole number adds nothing, so such cells
// skip the double arithmetic. The extra field of every cell is put back as
// it was.

const __m128 laneOne = _mm_set1_ps(1.0f);
const __m128 channelCap = ChannelCapLanes();

// A cell the blob does not reach: each channel becomes its whole part.
inline void TruncateCell(GridCell* cell)
{
    const __m128 old = _mm_loadu_ps(&cell->blue);
    const __m128 whole = _mm_min_ps(_mm_cvtepi32_ps(_mm_cvttps_epi32(old)), channelCap);
    _mm_storeu_ps(&cell->blue, KeepExtra(whole, old));
}

// Two neighbouring cells of a row: n = trunc(share x colour + trunc(old)),
// capped at 255, per channel.
inline void AddShares(GridCell* cells, __m128d shares, __m128d blue, __m128d green, __m128d red)
{
    const __m128 old0 = _mm_loadu_ps(&cells[0].blue);
    const __m128 old1 = _mm_loadu_ps(&cells[1].blue);
    const __m128i whole0 = _mm_cvttps_epi32(old0);
    const __m128i whole1 = _mm_cvttps_epi32(old1);
    const __m128i blueGreen = _mm_unpacklo_epi32(whole0, whole1);  // b0 b1 g0 g1
    const __m128i redExtra = _mm_unpackhi_epi32(whole0, whole1);   // r0 r1 e0 e1

    const __m128d oldBlue = _mm_cvtepi32_pd(blueGreen);
    const __m128d oldGreen = _mm_cvtepi32_pd(_mm_shuffle_epi32(blueGreen, _MM_SHUFFLE(3, 2, 3, 2)));
    const __m128d oldRed = _mm_cvtepi32_pd(redExtra);
    const __m128i newBlue = _mm_cvttpd_epi32(_mm_add_pd(_mm_mul_pd(shares, blue), oldBlue));
    const __m128i newGreen = _mm_cvttpd_epi32(_mm_add_pd(_mm_mul_pd(shares, green), oldGreen));
    const __m128i newRed = _mm_cvttpd_epi32(_mm_add_pd(_mm_mul_pd(shares, red), oldRed));

    const __m128 blueGreenOut = _mm_min_ps(_mm_cvtepi32_ps(_mm_unpacklo_epi64(newBlue, newGreen)), channelCap);
    const __m128 redOut = _mm_min_ps(_mm_cvtepi32_ps(newRed), channelCap);
    // r0 r1 e0 e1, the extra fields as they were.
    const __m128 redExtraOut = _mm_shuffle_ps(redOut, _mm_unpackhi_ps(old0, old1), _MM_SHUFFLE(3, 2, 1, 0));
    const __m128 blueRed = _mm_unpacklo_ps(blueGreenOut, redExtraOut);     // b0 r0 b1 r1
    const __m128 greenExtra = _mm_unpackhi_ps(blueGreenOut, redExtraOut);  // g0 e0 g1 e1
    _mm_storeu_ps(&cells[0].blue, _mm_unpacklo_ps(blueRed, greenExtra));
    _mm_storeu_ps(&cells[1].blue, _mm_unpackhi_ps(blueRed, greenExtra));
}

// w = single(d x falloff) in double lanes, for the four lanes of d.
inline __m128 ScaledDistance(__m128 distance, __m128d falloff)
{
    const __m128d low = _mm_mul_pd(_mm_cvtps_pd(distance), falloff);
    const __m128d high = _mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(distance, distance)), falloff);
    return _mm_movelh_ps(_mm_cvtpd_ps(low), _mm_cvtpd_ps(high));
}

// 1 - min(1, w) for four cells of a row: squaredAcross holds their squared
// column offsets, squaredAlong the row's squared offset. (dy^2 + dx^2 is
// dx^2 + dy^2: one float addition, commutative.)
inline __m128 Shares(float squaredAlong, __m128 squaredAcross, __m128d falloff)
{
    const __m128 distance = _mm_sqrt_ps(_mm_add_ps(_mm_set1_ps(squaredAlong), squaredAcross));
    // w above 1 becomes 1 (min keeps w where it is not above 1, NaN included).
    return _mm_sub_ps(laneOne, _mm_min_ps(laneOne, ScaledDistance(distance, falloff)));
}

// position - (pixel + offset) for four offsets, squared: the cells' offsets
// from the particle along one axis.
inline __m128 SquaredOffsets(float position, int pixel, __m128i offsets)
{
    const __m128 d = _mm_sub_ps(_mm_set1_ps(position), _mm_cvtepi32_ps(_mm_add_epi32(_mm_set1_epi32(pixel), offsets)));
    return _mm_mul_ps(d, d);
}

// Adds the particle's soft blob to the 6 x 6 cells pixelX - 3 .. pixelX + 2 by
// pixelY - 3 .. pixelY + 2 (the columns trunc(gx - 3) up to trunc(gx + 3),
// likewise the rows, as gx and gy are positive here). The inside test has kept
// the block within the grid, so nothing is clipped. Distances are measured to
// each cell's integer corner, not its centre.
//
// Only the cells near (gx, gy) can get a share; the others only truncate. A
// cell whose rounded squared distance exceeds beyond = 1.0001 / falloff^2 (a
// float, compared strictly) has w above 1 whatever the roundings of the root
// and the product, so its share is 0. When beyond is below 4, no cell two or
// more columns or rows up or left of the particle's own is reached: columns
// 0 and 1 and rows 0 and 1 of the block only truncate, and the shares are
// worked out for the 4 x 4 cells left. That is the common case, and it is
// decided once per particle, so the processor meets no branch it cannot
// predict inside the block.
void SplatParticle(GridCell* grid, const Particle* particle, float gx, float gy, int pixelX, int pixelY)
{
    const double falloffValue = 0.8 * static_cast<double>(particle->blobSize);
    const __m128d falloff = _mm_set1_pd(falloffValue);
    const __m128d blue = _mm_set1_pd(particle->blue);
    const __m128d green = _mm_set1_pd(particle->green);
    const __m128d red = _mm_set1_pd(particle->red);
    // 0 x colour + a whole number adds nothing only for a finite colour, and
    // only a positive falloff has a reach; otherwise every cell is worked out.
    const bool hasReach = falloffValue > 0.0 && std::isfinite(particle->blue) && std::isfinite(particle->green) &&
                          std::isfinite(particle->red);
    const float beyond =
        hasReach ? static_cast<float>(1.0001 / (falloffValue * falloffValue)) : static_cast<float>(INFINITY);

    // Squared row offsets of the block's rows 0..3 and 4, 5.
    alignas(16) float dySquared[8];
    _mm_store_ps(dySquared, SquaredOffsets(gy, pixelY, _mm_set_epi32(0, -1, -2, -3)));
    _mm_store_ps(dySquared + 4, SquaredOffsets(gy, pixelY, _mm_set_epi32(2, 1, 2, 1)));

    GridCell* row = &grid[AccumulationIndex(pixelX - 3, pixelY - 3)];
    if (beyond < 4.0f) {
        for (int k = 0; k < 2; ++k, row += AccumulationGridWidth) {
            for (int column = 0; column < 6; ++column) {
                TruncateCell(&row[column]);
            }
        }
        const __m128 dxSquared = SquaredOffsets(gx, pixelX, _mm_set_epi32(2, 1, 0, -1));  // columns 2..5
        for (int k = 2; k < 6; ++k, row += AccumulationGridWidth) {
            TruncateCell(&row[0]);
            TruncateCell(&row[1]);
            const __m128 shares = Shares(dySquared[k], dxSquared, falloff);
            AddShares(&row[2], _mm_cvtps_pd(shares), blue, green, red);
            AddShares(&row[4], _mm_cvtps_pd(_mm_movehl_ps(shares, shares)), blue, green, red);
        }
        return;
    }
    const __m128 dxSquaredLow = SquaredOffsets(gx, pixelX, _mm_set_epi32(0, -1, -2, -3));  // columns 0..3
    const __m128 dxSquaredHigh = SquaredOffsets(gx, pixelX, _mm_set_epi32(2, 1, 2, 1));    // columns 4, 5
    for (int k = 0; k < 6; ++k, row += AccumulationGridWidth) {
        const __m128 sharesLow = Shares(dySquared[k], dxSquaredLow, falloff);
        const __m128 sharesHigh = Shares(dySquared[k], dxSquaredHigh, falloff);
        AddShares(&row[0], _mm_cvtps_pd(sharesLow), blue, green, red);
        AddShares(&row[2], _mm_cvtps_pd(_mm_movehl_ps(sharesLow, sharesLow)), blue, green, red);
        AddShares(&row[4], _mm_cvtps_pd(sharesHigh), blue, green, red);
    }
}

// The splat written plainly, one cell and one channel at a time: what the
// SIMD splat above must give, bit for bit.
void SplatParticleReference(GridCell* grid, const Particle* particle, float gx, float gy)
{
    const double falloff = 0.8 * static_cast<double>(particle->blobSize);
    const float colours[3] = {particle->blue, particle->green, particle->red};
    // In double, gx + 3 is exact: the block is always pixelX - 3 .. pixelX + 2.
    for (int cx = Trunc(static_cast<double>(gx) - 3.0); cx < Trunc(static_cast<double>(gx) + 3.0); ++cx) {
        for (int cy = Trunc(static_cast<double>(gy) - 3.0); cy < Trunc(static_cast<double>(gy) + 3.0); ++cy) {
            const float dx = Single(static_cast<double>(gx) - cx);
            const float dy = Single(static_cast<double>(gy) - cy);
            const float squared = Single(static_cast<double>(Single(static_cast<double>(dx) * dx)) +
                                         Single(static_cast<double>(dy) * dy));
            float weight = Single(static_cast<double>(SqrtSingle(squared)) * falloff);
            if (weight > 1.0f) {
                weight = 1.0f;
            }
            const float share = Single(1.0 - static_cast<double>(weight));
            GridCell& cell = grid[AccumulationIndex(cx, cy)];
            float* const channels[3] = {&cell.blue, &cell.green, &cell.red};
            for (int c = 0; c < 3; ++c) {
                int n = Trunc(static_cast<double>(share) * colours[c] + static_cast<double>(Trunc(*channels[c])));
                if (n > 255) {
                    n = 255;
                }
                *channels[c] = static_cast<float>(n);
            }
        }
    }
}

// Sets the lit bits of the 6 x 6 block whose first column and row are x, y:
// six bits of each of six rows, within one 16-bit word of the row.
inline void MarkLit(uint8_t* litCells, int x, int y)
{
    for (int row = 0; row < 6; ++row) {
        const int bit = (y + row) * AccumulationGridWidth + x;
        uint8_t* const bytes = &litCells[bit >> 3];
        uint16_t word;
        std::memcpy(&word, bytes, sizeof(word));
        word = static_cast<uint16_t>(word | 0x3Fu << (bit & 7));
        std::memcpy(bytes, &word, sizeof(word));
    }
}

// The finish: the inside test, then the splat or the respawn.
inline void FinishStep(SceneState& scene, Particle* particle, GridPosition position)
{
    if (!IsInside(particle, position)) {
        RespawnParticle(particle, particle->offsetX, particle->offsetY, particle->scale);
        return;
    }
    particle->pixelX = Trunc(position.gx);
    particle->pixelY = Trunc(position.gy);
    SplatParticle(scene.AccumulationGrid, particle, position.gx, position.gy, particle->pixelX, particle->pixelY);
    MarkLit(scene.litCells, particle->pixelX - 3, particle->pixelY - 3);
}

// Asks for the cache lines of the block a particle at this position will
// splat: 96 bytes per row, so three addresses no more than 48 bytes apart
// reach every line. Only a hint: nothing is read or written. Forced inline:
// GCC sees no effect in a function that only prefetches and drops its calls.
__attribute__((always_inline)) inline void PrefetchSplatBlock(const GridCell* grid, GridPosition position)
{
    if (!(position.gx > 10.0f && position.gx < static_cast<float>(AccumulationGridWidth - 10) && position.gy > 10.0f &&
          position.gy < static_cast<float>(AccumulationGridHeight - 10))) {
        return;
    }
    const char* row =
        reinterpret_cast<const char*>(&grid[AccumulationIndex(Trunc(position.gx) - 3, Trunc(position.gy) - 3)]);
    for (int k = 0; k < 6; ++k, row += AccumulationGridWidth * sizeof(GridCell)) {
        _mm_prefetch(row, _MM_HINT_T0);
        _mm_prefetch(row + 48, _MM_HINT_T0);
        _mm_prefetch(row + 6 * sizeof(GridCell) - 1, _MM_HINT_T0);
    }
}

// A particle is moved this many places ahead of the one being finished: the
// grid block it will splat is on its way meanwhile, and the libm calls of the
// move overlap the splat in the processor.
const uint32_t moveLead = 8;

}  // namespace

void StepParticle(SceneState& scene, Particle* particle) { FinishStep(scene, particle, MoveParticle(particle)); }

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

void StepParticlesAndHandOver(SceneState& scene, const PatternHandOver& pattern)
{
    Particle* const first = scene.particles.records;
    const uint32_t count = scene.particles.count;
    // Moving ahead is safe: a move reads and writes only its own particle,
    // and no finish touches another particle.
    GridPosition ahead[moveLead];
    for (uint32_t n = 0; n < count + moveLead; ++n) {
        const uint32_t slot = n % moveLead;
        if (n >= moveLead) {
            Particle* const particle = &first[n - moveLead];
            FinishStep(scene, particle, ahead[slot]);
            HandOverPattern(particle, pattern);
        }
        if (n < count) {
            ahead[slot] = MoveParticle(&first[n]);
            PrefetchSplatBlock(scene.AccumulationGrid, ahead[slot]);
        }
    }
}
