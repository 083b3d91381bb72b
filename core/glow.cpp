// The glow layer: every frame the glow grid is cleared and every particle
// lays a 9 x 9 halo into it, computed from its kernel and the faded
// accumulation grid beneath; the glow texture shows the result.
//
// The grid's clear touches only the cells the last frame's halos laid (only
// halos write glow; they mark what they lay): most of the grid stays 0.
//
// The texture is written once, in order, after the halos. In the reference a
// halo writes a cell's texel as it lays the cell, when the kernel entry or
// the cell's new colour sums above 0, and the texture keeps the last texel
// written. Here the texel of a cell is PackTexel of its final colour when
// that sums above 0, else transparent black. The two agree because a cell's
// colour never falls within a frame and never holds a NaN:
//  - every term adds a non-negative amount: k >= 0 (kernel weights lie in
//    0..1.0015), F >= 0 (the accumulation grid holds 0..255: splats store
//    whole numbers 0..255, the fade scales them down by positive factors and
//    drops what falls below 5) and G >= 0, and rounding to single precision
//    and the cap at 255 keep sums of non-negative values non-negative and in
//    order. So no NaN arises, and each term leaves every channel at least
//    where it was.
//  - a term with a kernel entry above 0 leaves the colour above 0: its
//    channel gets at least 40 x k (one ulp of the smallest weight, about
//    6e-8, times 40 is far above the smallest float), and later terms keep
//    it there.
//  - so once a term writes the texel, every later term of the frame writes
//    it too (its colour sums above 0), and the last writer writes the final
//    colour; and if the final colour sums to 0, no term had a kernel entry
//    above 0 and every colour along the way was 0: nothing was written and
//    the texel stays as the clear left it.
// A cell's sum above 0 is then simply one channel above 0 (they are never
// negative), and untouched cells hold 0 after the clear.
#include <emmintrin.h>
#include <immintrin.h>

#include <cstring>

#include "core/cell_lanes.h"
#include "core/layers.h"
#include "core/numeric.h"
#include "core/simd_level.h"

namespace {

// Glow weight per channel of the halo.
const double glowWeightRed = 170.0;
const double glowWeightGreen = 40.0;
const double glowWeightBlue = 70.0;

struct GlowArea {
    int halfWidth;
    int halfHeight;
};

// Half the scene's grid, within the glow grid's storage.
GlowArea GlowAreaOf(const SceneState& scene)
{
    const int gridHalfWidth = scene.gridWidth >> 1;
    const int gridHalfHeight = scene.gridHeight >> 1;
    return GlowArea{gridHalfWidth < GlowGridWidth ? gridHalfWidth : GlowGridWidth,
                    gridHalfHeight < GlowGridHeight ? gridHalfHeight : GlowGridHeight};
}

// ---------------------------------------------------------------------------
// Bookkeeping

// Marks cells x .. x + 8 of row y as laid.
inline void MarkGlowRun(GlowBookkeeping& glow, int x, int y)
{
    const ptrdiff_t bit = GlowIndex(x, y);
    uint8_t* const bytes = &glow.laid[bit >> 3];
    uint16_t word;
    std::memcpy(&word, bytes, sizeof(word));
    word = static_cast<uint16_t>(word | 0x1FFu << (bit & 7));
    std::memcpy(bytes, &word, sizeof(word));
}

inline void MarkGlowCell(GlowBookkeeping& glow, int x, int y)
{
    const ptrdiff_t bit = GlowIndex(x, y);
    glow.laid[bit >> 3] = static_cast<uint8_t>(glow.laid[bit >> 3] | 1u << (bit & 7));
}

inline uint64_t LaidWord(const GlowBookkeeping& glow, int32_t word)
{
    uint64_t bits;
    std::memcpy(&bits, &glow.laid[8 * word], sizeof(bits));
    return bits;
}

// Bit 4g of the result is set when one of cells 4g .. 4g + 3 of the word is
// laid.
inline uint64_t LaidGroups(uint64_t laid) { return (laid | laid >> 1 | laid >> 2 | laid >> 3) & 0x1111111111111111ull; }

// The glow clear: zeroes the cells the last frame laid, in memory order, four
// at a time (a group of four is one cache line; its cells not laid are 0
// already), and forgets them.
void ClearLaidGlow(SceneState& scene)
{
    const __m128 zero = _mm_setzero_ps();
    for (int32_t word = 0; word < GlowCellCount / 64; ++word) {
        for (uint64_t groups = LaidGroups(LaidWord(scene.glow, word)); groups != 0; groups &= groups - 1) {
            GridCell* const cells = &scene.GlowGrid[64 * word + __builtin_ctzll(groups)];
            _mm_storeu_ps(&cells[0].blue, zero);
            _mm_storeu_ps(&cells[1].blue, zero);
            _mm_storeu_ps(&cells[2].blue, zero);
            _mm_storeu_ps(&cells[3].blue, zero);
        }
    }
    std::memset(scene.glow.laid, 0, sizeof(scene.glow.laid));
}

// ---------------------------------------------------------------------------
// One cell of a halo: single(single(single(k + 1) x F + weight x k) + G),
// capped at 255, all three channels at once. The products and their sum are
// double lanes as in the reference. The extra lane comes out 0, as a cleared
// cell's extra field is and stays.

inline __m128 ChannelsOnly() { return _mm_castsi128_ps(_mm_setr_epi32(-1, -1, -1, 0)); }

// Asks for the grid and glow lines of a particle's halo (nine rows of
// each), into the second cache level (see PrefetchSplatBlock in step.cpp:
// more lines in flight than the first level holds). Only a hint: nothing is
// read or written.
__attribute__((always_inline)) inline void PrefetchHalo(SceneState& scene, const Particle* particle, GlowArea area)
{
    const int hx = particle->pixelX >> 1;
    const int hy = particle->pixelY >> 1;
    if (hx - 4 < 1 || hx + 4 >= area.halfWidth || hy - 4 < 1 || hy + 4 >= area.halfHeight) {
        return;
    }
    for (int y = hy - 4; y <= hy + 4; ++y) {
        const char* full = reinterpret_cast<const char*>(&AccumulationCell(scene, 2 * (hx - 4), 2 * y));
        _mm_prefetch(full, _MM_HINT_T1);
        _mm_prefetch(full + 64, _MM_HINT_T1);
        _mm_prefetch(full + 128, _MM_HINT_T1);
        _mm_prefetch(full + 192, _MM_HINT_T1);
        _mm_prefetch(full + 16 * 16, _MM_HINT_T1);
        const char* glow = reinterpret_cast<const char*>(&GlowCell(scene, hx - 4, y));
        _mm_prefetch(glow, _MM_HINT_T1);
        _mm_prefetch(glow + 64, _MM_HINT_T1);
        _mm_prefetch(glow + 9 * 16 - 1, _MM_HINT_T1);
    }
}

// How many particles ahead the halo's lines are asked for.
const uint32_t haloPrefetchDistance = 2;

const __m128d glowWeightsBlueGreen = _mm_set_pd(glowWeightGreen, glowWeightBlue);
const __m128d glowWeightsRed = _mm_set_pd(0.0, glowWeightRed);

// The halos with SSE2 lanes: two double lanes for blue and green, one for
// red (its partner lane's weight is 0).
namespace glow_sse2 {

inline __m128 HaloCell(__m128 k, __m128 f, __m128 old)
{
    const __m128 kPlusOne = _mm_add_ps(k, _mm_set1_ps(1.0f));
    const __m128d low = _mm_add_pd(_mm_mul_pd(_mm_cvtps_pd(kPlusOne), _mm_cvtps_pd(f)),
                                   _mm_mul_pd(glowWeightsBlueGreen, _mm_cvtps_pd(k)));
    const __m128d high =
        _mm_add_pd(_mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(kPlusOne, kPlusOne)), _mm_cvtps_pd(_mm_movehl_ps(f, f))),
                   _mm_mul_pd(glowWeightsRed, _mm_cvtps_pd(_mm_movehl_ps(k, k))));
    const __m128 term = _mm_movelh_ps(_mm_cvtpd_ps(low), _mm_cvtpd_ps(high));
    return _mm_and_ps(CapLanes(_mm_add_ps(term, old)), ChannelsOnly());
}

#include "core/glow_halos.inc"

}  // namespace glow_sse2

// The halos with AVX: four double lanes hold a cell's three channels (and
// the extra), one conversion, product and sum each instead of two. Every
// function from here to AVX_CODE_END is built for AVX; it runs only where
// the machine has it (core/simd_level.h).
AVX_CODE_BEGIN
namespace glow_avx {

inline __m128 HaloCell(__m128 k, __m128 f, __m128 old)
{
    const __m256d weights = _mm256_setr_pd(glowWeightBlue, glowWeightGreen, glowWeightRed, 0.0);
    const __m128 kPlusOne = _mm_add_ps(k, _mm_set1_ps(1.0f));
    const __m256d sum = _mm256_add_pd(_mm256_mul_pd(_mm256_cvtps_pd(kPlusOne), _mm256_cvtps_pd(f)),
                                      _mm256_mul_pd(weights, _mm256_cvtps_pd(k)));
    return _mm_and_ps(CapLanes(_mm_add_ps(_mm256_cvtpd_ps(sum), old)), ChannelsOnly());
}

#include "core/glow_halos.inc"

}  // namespace glow_avx
AVX_CODE_END

// ---------------------------------------------------------------------------
// The texture

// Four glow cells to four texels: PackTexel of the colour where it is above
// 0, transparent black where it is 0 (see the top of the file). The channels
// are never negative, so a colour is above 0 exactly when one channel is.
inline __m128i GlowTexels(const GridCell* cells)
{
    const __m128 c0 = _mm_loadu_ps(&cells[0].blue);
    const __m128 c1 = _mm_loadu_ps(&cells[1].blue);
    const __m128 c2 = _mm_loadu_ps(&cells[2].blue);
    const __m128 c3 = _mm_loadu_ps(&cells[3].blue);
    const __m128 zero = _mm_setzero_ps();
    // Byte c of lane n: channel c of cell n above 0 (the extra is 0).
    const __m128i above = _mm_packs_epi16(
        _mm_packs_epi32(_mm_castps_si128(_mm_cmpgt_ps(c0, zero)), _mm_castps_si128(_mm_cmpgt_ps(c1, zero))),
        _mm_packs_epi32(_mm_castps_si128(_mm_cmpgt_ps(c2, zero)), _mm_castps_si128(_mm_cmpgt_ps(c3, zero))));
    const __m128i black = _mm_cmpeq_epi32(above, _mm_setzero_si128());
    return _mm_andnot_si128(black, PackCells(c0, c1, c2, c3));
}

inline void StoreTexels(uint32_t* texel, __m128i words, bool aligned)
{
    if (aligned) {
        _mm_stream_si128(reinterpret_cast<__m128i*>(texel), words);
    } else {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(texel), words);
    }
}

// Asks for the laid groups of one word of the laid-cell map (64 cells). Only
// a hint. The groups a frame laid lie scattered, a few dozen a row, where the
// hardware's prefetcher does not follow.
__attribute__((always_inline)) inline void PrefetchLaidGroups(const SceneState& scene, int32_t word)
{
    for (uint64_t groups = LaidGroups(LaidWord(scene.glow, word)); groups != 0; groups &= groups - 1) {
        _mm_prefetch(reinterpret_cast<const char*>(&scene.GlowGrid[64 * word + __builtin_ctzll(groups)]), _MM_HINT_T1);
    }
}

// How many words of the laid-cell map ahead the texture's pass asks for its
// cells: one glow row. Measured against 4 and 30, which did as well or worse.
const int32_t laidPrefetchWords = GlowGridWidth / 64;

// Writes the whole glow texture row by row, 64 texels at a time: black where
// no halo laid a cell, else four texels at a time from the groups of four
// cells the halos laid, gathered in a block that is then streamed out.
// Streaming stores where the row is 16-byte aligned: texture memory is
// written, never read back.
void WriteGlowTexels(const SceneState& scene, const TexelBuffer& texels)
{
    const __m128i black = _mm_setzero_si128();
    alignas(16) uint32_t block[64];
    for (int y = 0; y < GlowGridHeight; ++y) {
        uint32_t* row = TexelRow(texels, y);
        const bool aligned = (reinterpret_cast<uintptr_t>(row) & 15) == 0;
        const GridCell* cells = &scene.GlowGrid[GlowIndex(0, y)];
        for (int word = 0; word < GlowGridWidth / 64; ++word) {
            const int32_t index = static_cast<int32_t>(GlowIndex(64 * word, y) / 64);
            if (index + laidPrefetchWords < GlowCellCount / 64) {
                PrefetchLaidGroups(scene, index + laidPrefetchWords);
            }
            uint64_t groups = LaidGroups(LaidWord(scene.glow, index));
            uint32_t* texel = row + 64 * word;
            if (groups == 0) {
                for (int n = 0; n < 64; n += 4) {
                    StoreTexels(texel + n, black, aligned);
                }
                continue;
            }
            for (int n = 0; n < 64; n += 4) {
                _mm_store_si128(reinterpret_cast<__m128i*>(block + n), black);
            }
            for (; groups != 0; groups &= groups - 1) {
                const int first = __builtin_ctzll(groups);  // 4 x the group
                _mm_store_si128(reinterpret_cast<__m128i*>(block + first), GlowTexels(&cells[64 * word + first]));
            }
            for (int n = 0; n < 64; n += 4) {
                StoreTexels(texel + n, _mm_load_si128(reinterpret_cast<const __m128i*>(block + n)), aligned);
            }
        }
    }
    _mm_sfence();
}

void ClearGlowTexels(const TexelBuffer& texels)
{
    if (texels.texels == nullptr) {
        return;
    }
    for (int y = 0; y < GlowGridHeight; ++y) {
        std::memset(TexelRow(texels, y), 0, static_cast<size_t>(GlowGridWidth) * 4);
    }
}

float CapGlow(float value) { return value > 255.0f ? 255.0f : value; }

}  // namespace

static_assert(GlowGridWidth % 64 == 0, "every row of the laid-cell map starts a 64-bit word");

void UpdateGlowTexels(SceneState& scene, const TexelBuffer& texels, SimdLevel level)
{
    ClearLaidGlow(scene);
    if (level == SimdLevel::Avx) {
        glow_avx::LayHalos(scene);
    } else {
        glow_sse2::LayHalos(scene);
    }
    if (texels.texels != nullptr) {
        WriteGlowTexels(scene, texels);
    }
}

void GlowPassReference(SceneState& scene, const TexelBuffer& texels)
{
    std::memset(scene.GlowGrid, 0, sizeof(scene.GlowGrid));
    ClearGlowTexels(texels);
    // Every cell is clear now: a following frame need clear only what the
    // halos below lay.
    std::memset(scene.glow.laid, 0, sizeof(scene.glow.laid));

    const GlowArea area = GlowAreaOf(scene);
    const double weights[3] = {glowWeightBlue, glowWeightGreen, glowWeightRed};
    for (uint32_t n = 0; n < scene.particles.count; ++n) {
        const Particle& particle = scene.particles.records[n];
        const int hx = particle.pixelX >> 1;
        const int hy = particle.pixelY >> 1;
        for (int64_t y = int64_t{hy} - 5; y <= hy + 4; ++y) {
            for (int64_t x = int64_t{hx} - 5; x <= hx + 4; ++x) {
                const int64_t i = x - hx + 5;
                const int64_t j = y - hy + 5;
                if (x < 1 || x >= area.halfWidth || y < 1 || y >= area.halfHeight || i < 1 || j < 1)
                    continue;
                const GridCell& k = particle.kernel.cells[i][j];
                const GridCell& full = AccumulationCell(scene, 2 * static_cast<int>(x), 2 * static_cast<int>(y));
                GridCell& glow = GlowCell(scene, static_cast<int>(x), static_cast<int>(y));
                const float kernel[3] = {k.blue, k.green, k.red};
                const float under[3] = {full.blue, full.green, full.red};
                float* const channels[3] = {&glow.blue, &glow.green, &glow.red};
                for (int c = 0; c < 3; ++c) {
                    const float kPlusOne = Single(static_cast<double>(kernel[c]) + 1.0);
                    const float term = Single(static_cast<double>(kPlusOne) * under[c] + weights[c] * kernel[c]);
                    *channels[c] = CapGlow(Single(static_cast<double>(term) + *channels[c]));
                }
                MarkGlowCell(scene.glow, static_cast<int>(x), static_cast<int>(y));
                if (texels.texels != nullptr && (ChannelsAboveZero(k) || ChannelsAboveZero(glow))) {
                    TexelRow(texels, static_cast<int>(y))[x] = PackTexel(glow.red, glow.green, glow.blue);
                }
            }
        }
    }
}
