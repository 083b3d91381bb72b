// The 6 x 6 splat of a particle's blob into the accumulation grid: an SSE2
// path, an AVX path and the scalar reference both are held to.
#include "core/splat.h"

#include <emmintrin.h>
#include <immintrin.h>

#include <cmath>

#include "core/cell_lanes.h"
#include "core/numeric.h"

namespace {

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

// The rounded squared distance past which a cell gets no share (see
// SplatParticleSse2). 0 x colour + a whole number adds nothing only for a
// finite colour, and only a positive falloff has a reach; otherwise every
// cell is worked out (infinity).
inline float ReachLimit(const Particle* particle, double falloffValue)
{
    const bool hasReach = falloffValue > 0.0 && std::isfinite(particle->blue) && std::isfinite(particle->green) &&
                          std::isfinite(particle->red);
    return hasReach ? static_cast<float>(1.0001 / (falloffValue * falloffValue)) : static_cast<float>(INFINITY);
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
void SplatParticleSse2(GridCell* grid, const Particle* particle, float gx, float gy, int pixelX, int pixelY)
{
    const double falloffValue = 0.8 * static_cast<double>(particle->blobSize);
    const __m128d falloff = _mm_set1_pd(falloffValue);
    const __m128d blue = _mm_set1_pd(particle->blue);
    const __m128d green = _mm_set1_pd(particle->green);
    const __m128d red = _mm_set1_pd(particle->red);
    const float beyond = ReachLimit(particle, falloffValue);

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

// The same splat with AVX: two cells in one 256-bit register (the grid's
// cells are 16 bytes, so a row's six cells are three pairs), each cell's
// channels in four double lanes for the sum. Per cell and channel it is the
// operation the SSE2 path does: the old value truncated and widened to
// double, share (a float widened) times colour (a float widened) plus it, the
// sum truncated, capped at 255 as a float; the extra field is put back as
// it was (its lane computes share x 0 + trunc(extra), which is thrown away).
// The shares are Shares' operations, eight lanes at a time.
AVX_CODE_BEGIN

// Lanes 3 and 7, the two extra fields, from the cells as they were.
inline __m256 KeepExtras(__m256 value, __m256 original) { return _mm256_blend_ps(value, original, 0x88); }

inline __m256 CapPair(__m256i whole) { return _mm256_min_ps(_mm256_cvtepi32_ps(whole), _mm256_set1_ps(255.0f)); }

// Two cells the blob does not reach: each channel becomes its whole part.
inline void TruncatePair(GridCell* cells)
{
    const __m256 old = _mm256_loadu_ps(&cells[0].blue);
    _mm256_storeu_ps(&cells[0].blue, KeepExtras(CapPair(_mm256_cvttps_epi32(old)), old));
}

// trunc(share x colour + whole) for the four channels of one cell.
inline __m128i CellSum(__m128i whole, const double* share, __m256d colour)
{
    const __m256d sum = _mm256_add_pd(_mm256_mul_pd(_mm256_broadcast_sd(share), colour), _mm256_cvtepi32_pd(whole));
    return _mm256_cvttpd_epi32(sum);
}

// Two neighbouring cells of a row, their shares at shares[0] and shares[1].
inline void AddSharesPair(GridCell* cells, const double* shares, __m256d colour)
{
    const __m256 old = _mm256_loadu_ps(&cells[0].blue);
    const __m256i whole = _mm256_cvttps_epi32(old);
    const __m128i low = CellSum(_mm256_castsi256_si128(whole), &shares[0], colour);
    const __m128i high = CellSum(_mm256_extractf128_si256(whole, 1), &shares[1], colour);
    const __m256i sums = _mm256_insertf128_si256(_mm256_castsi128_si256(low), high, 1);
    _mm256_storeu_ps(&cells[0].blue, KeepExtras(CapPair(sums), old));
}

// The shares of eight cells, as doubles for the broadcasts: Shares' operations
// on eight lanes, squaredAlong + squaredAcross per lane.
inline void SharesOfEight(__m256 squaredAlong, __m256 squaredAcross, __m256d falloff, double* out)
{
    const __m256 distance = _mm256_sqrt_ps(_mm256_add_ps(squaredAlong, squaredAcross));
    const __m128 low = _mm256_cvtpd_ps(_mm256_mul_pd(_mm256_cvtps_pd(_mm256_castps256_ps128(distance)), falloff));
    const __m128 high = _mm256_cvtpd_ps(_mm256_mul_pd(_mm256_cvtps_pd(_mm256_extractf128_ps(distance, 1)), falloff));
    const __m256 one = _mm256_set1_ps(1.0f);
    const __m256 shares = _mm256_sub_ps(one, _mm256_min_ps(one, _mm256_set_m128(high, low)));
    _mm256_storeu_pd(out, _mm256_cvtps_pd(_mm256_castps256_ps128(shares)));
    _mm256_storeu_pd(out + 4, _mm256_cvtps_pd(_mm256_extractf128_ps(shares, 1)));
}

void SplatParticleAvx(GridCell* grid, const Particle* particle, float gx, float gy, int pixelX, int pixelY)
{
    const double falloffValue = 0.8 * static_cast<double>(particle->blobSize);
    const __m256d falloff = _mm256_set1_pd(falloffValue);
    const __m256d colour = _mm256_set_pd(0.0, particle->red, particle->green, particle->blue);
    const float beyond = ReachLimit(particle, falloffValue);

    alignas(16) float dySquared[8];
    _mm_store_ps(dySquared, SquaredOffsets(gy, pixelY, _mm_set_epi32(0, -1, -2, -3)));
    _mm_store_ps(dySquared + 4, SquaredOffsets(gy, pixelY, _mm_set_epi32(2, 1, 2, 1)));

    GridCell* row = &grid[AccumulationIndex(pixelX - 3, pixelY - 3)];
    double shares[48];
    if (beyond < 4.0f) {
        // Rows 2..5 by columns 2..5, two rows to a register.
        const __m128 dxSquared = SquaredOffsets(gx, pixelX, _mm_set_epi32(2, 1, 0, -1));
        const __m256 across = _mm256_set_m128(dxSquared, dxSquared);
        for (int k = 2; k < 6; k += 2) {
            const __m256 along = _mm256_set_m128(_mm_set1_ps(dySquared[k + 1]), _mm_set1_ps(dySquared[k]));
            SharesOfEight(along, across, falloff, &shares[(k - 2) * 4]);
        }
        for (int k = 0; k < 2; ++k, row += AccumulationGridWidth) {
            TruncatePair(&row[0]);
            TruncatePair(&row[2]);
            TruncatePair(&row[4]);
        }
        for (int k = 2; k < 6; ++k, row += AccumulationGridWidth) {
            TruncatePair(&row[0]);
            AddSharesPair(&row[2], &shares[(k - 2) * 4], colour);
            AddSharesPair(&row[4], &shares[(k - 2) * 4 + 2], colour);
        }
        return;
    }
    // Columns 0..5 of a row in a register (lanes 6 and 7 repeat 4 and 5).
    const __m128 dxSquaredLow = SquaredOffsets(gx, pixelX, _mm_set_epi32(0, -1, -2, -3));
    const __m128 dxSquaredHigh = SquaredOffsets(gx, pixelX, _mm_set_epi32(2, 1, 2, 1));
    const __m256 across = _mm256_set_m128(dxSquaredHigh, dxSquaredLow);
    for (int k = 0; k < 6; ++k) {
        SharesOfEight(_mm256_set1_ps(dySquared[k]), across, falloff, &shares[k * 8]);
    }
    for (int k = 0; k < 6; ++k, row += AccumulationGridWidth) {
        AddSharesPair(&row[0], &shares[k * 8], colour);
        AddSharesPair(&row[2], &shares[k * 8 + 2], colour);
        AddSharesPair(&row[4], &shares[k * 8 + 4], colour);
    }
}

AVX_CODE_END

}  // namespace

void SplatParticle(GridCell* grid, const Particle* particle, float gx, float gy, int pixelX, int pixelY,
                   SimdLevel level)
{
    if (level == SimdLevel::Avx) {
        SplatParticleAvx(grid, particle, gx, gy, pixelX, pixelY);
    } else {
        SplatParticleSse2(grid, particle, gx, gy, pixelX, pixelY);
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
