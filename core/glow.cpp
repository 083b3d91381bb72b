// The glow layer: every frame the glow grid is cleared and every particle
// lays a 9 x 9 halo into it, computed from its kernel and the faded
// accumulation grid beneath, and into the glow texels.
//
// The grid's clear is folded into the halos. Every nonzero glow cell is
// marked in the current bookkeeping map: only the halos write nonzero
// values, and they mark what they write. A frame starts a fresh map and lays
// its halos over last frame's glow as if it had been cleared (a cell not yet
// marked in the fresh map counts as 0, all four fields), then zeroes the
// cells marked last frame that no halo wrote this frame. The grid ends up as
// a clear followed by the halos leaves it, without writing most of its cells
// twice.
#include <emmintrin.h>

#include <cstring>

#include "core/cell_lanes.h"
#include "core/layers.h"
#include "core/numeric.h"

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

void ClearGlowTexels(const TexelBuffer& texels)
{
    if (texels.texels == nullptr) {
        return;
    }
    for (int y = 0; y < GlowGridHeight; ++y) {
        std::memset(TexelRow(texels, y), 0, static_cast<size_t>(GlowGridWidth) * 4);
    }
}

// The map bits of cells x, y .. y + 8 before marking them.
inline int MarkGlowColumn(GlowBookkeeping& glow, int x, int y)
{
    const int bit = x * GlowGridHeight + y;
    uint8_t* const bytes = &glow.maps[glow.now][bit >> 3];
    uint16_t word;
    std::memcpy(&word, bytes, sizeof(word));
    const int marked = word >> (bit & 7) & 0x1FF;
    word = static_cast<uint16_t>(word | 0x1FFu << (bit & 7));
    std::memcpy(bytes, &word, sizeof(word));
    return marked;
}

inline bool MarkGlowCell(GlowBookkeeping& glow, int x, int y)
{
    const int bit = x * GlowGridHeight + y;
    uint8_t& byte = glow.maps[glow.now][bit >> 3];
    const bool marked = (byte >> (bit & 7) & 1) != 0;
    byte = static_cast<uint8_t>(byte | 1u << (bit & 7));
    return marked;
}

// Zeroes the cells marked in map `previous` but not in the current one.
void ZeroGlowLeftOver(SceneState& scene, int previous)
{
    const GlowBookkeeping& glow = scene.glow;
    for (int32_t word = 0; word < GlowCellCount / 64; ++word) {
        uint64_t before;
        uint64_t now;
        std::memcpy(&before, &glow.maps[previous][8 * word], sizeof(before));
        std::memcpy(&now, &glow.maps[glow.now][8 * word], sizeof(now));
        for (uint64_t bits = before & ~now; bits != 0; bits &= bits - 1) {
            _mm_storeu_ps(&scene.GlowGrid[64 * word + __builtin_ctzll(bits)].blue, _mm_setzero_ps());
        }
    }
}

const __m128 laneOne = _mm_set1_ps(1.0f);
const __m128d glowWeightsBlueGreen = _mm_set_pd(glowWeightGreen, glowWeightBlue);
const __m128d glowWeightsRed = _mm_set_pd(0.0, glowWeightRed);

// All four fields of a cell as they are when keep is 1, or +0 (a cleared
// cell) when it is 0.
inline __m128 LoadGlow(const GridCell& glow, int keep)
{
    return _mm_and_ps(_mm_loadu_ps(&glow.blue), _mm_castsi128_ps(_mm_set1_epi32(-keep)));
}

// One cell of a halo, all three channels at once:
// single(single(single(k + 1) x F + weight x k) + G), capped at 255; the
// products and their sum are double lanes, as in the reference. Stores the
// new G (its extra field as in old) and returns it.
inline __m128 LayHaloValue(__m128 k, const GridCell& full, __m128 old, GridCell& glow)
{
    const __m128 kPlusOne = _mm_add_ps(k, laneOne);
    const __m128 f = _mm_loadu_ps(&full.blue);
    const __m128d low = _mm_add_pd(_mm_mul_pd(_mm_cvtps_pd(kPlusOne), _mm_cvtps_pd(f)),
                                   _mm_mul_pd(glowWeightsBlueGreen, _mm_cvtps_pd(k)));
    const __m128d high = _mm_add_pd(_mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(kPlusOne, kPlusOne)),
                                               _mm_cvtps_pd(_mm_movehl_ps(f, f))),
                                    _mm_mul_pd(glowWeightsRed, _mm_cvtps_pd(_mm_movehl_ps(k, k))));
    const __m128 term = _mm_movelh_ps(_mm_cvtpd_ps(low), _mm_cvtpd_ps(high));
    const __m128 value = CapLanes(_mm_add_ps(term, old));
    _mm_storeu_ps(&glow.blue, KeepExtra(value, old));
    return value;
}

// Writes lane n of words to row n (n = 0..count-1) where bit n of written is set.
inline void StoreHaloTexels(__m128i words, int written, int count, const TexelBuffer& texels, int x, int y)
{
    alignas(16) uint32_t lanes[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), words);
    for (int n = 0; n < count; ++n) {
        if (written >> n & 1) {
            TexelRow(texels, y + n)[x] = lanes[n];
        }
    }
}

// Nine cells of one halo column: kernel entries and glow cells in a row in
// memory, grid cells two apart, texels one row apart. Cell j counts as
// cleared unless bit j of kept is set. The texel of a cell is written when
// its kernel entry or its new colour sums above 0: a zero-weight cell that is
// still black is left transparent.
inline void LayHaloColumn(const GridCell* kernel, const GridCell* full, GridCell* glow, int kept,
                          const TexelBuffer& texels, int x, int y)
{
    __m128 k[9];
    __m128 value[9];
    for (int j = 0; j < 9; ++j) {
        k[j] = _mm_loadu_ps(&kernel[j].blue);
        value[j] = LayHaloValue(k[j], full[2 * j], LoadGlow(glow[j], kept >> j & 1), glow[j]);
    }
    if (texels.texels == nullptr) {
        return;
    }
    int written = 0;
    for (int j = 0; j < 8; j += 2) {
        written |= (SumsAboveZero(k[j], k[j + 1]) | SumsAboveZero(value[j], value[j + 1])) << j;
    }
    written |= ((SumsAboveZero(k[8], k[8]) | SumsAboveZero(value[8], value[8])) & 1) << 8;
    StoreHaloTexels(PackCells(value[0], value[1], value[2], value[3]), written, 4, texels, x, y);
    StoreHaloTexels(PackCells(value[4], value[5], value[6], value[7]), written >> 4, 4, texels, x, y + 4);
    StoreHaloTexels(PackCells(value[8], value[8], value[8], value[8]), written >> 8, 1, texels, x, y + 8);
}

// The halo of a particle whose 9 x 9 cells all lie within columns and rows 1
// and up and inside the glow grid: columns outer, so that the kernel's and
// the glow grid's cells are read in memory order (the order of the cells
// within one particle's halo does not matter: each is laid once).
void LayWholeHalo(SceneState& scene, const Particle* particle, int hx, int hy, const TexelBuffer& texels)
{
    for (int i = 1; i < BlobKernelSize; ++i) {
        const int x = hx + i - 5;
        const int marked = MarkGlowColumn(scene.glow, x, hy - 4);
        LayHaloColumn(&particle->kernel.cells[i][1], &AccumulationCell(scene, 2 * x, 2 * (hy - 4)),
                      &GlowCell(scene, x, hy - 4), marked, texels, x, hy - 4);
    }
}

// The same for a particle whose halo reaches an edge: every cell tested.
void LayClippedHalo(SceneState& scene, const Particle* particle, int hx, int hy, GlowArea area,
                    const TexelBuffer& texels)
{
    for (int j = 1; j < BlobKernelSize; ++j) {
        const int64_t y = static_cast<int64_t>(hy) + j - 5;
        if (y < 1 || y >= area.halfHeight) continue;
        for (int i = 1; i < BlobKernelSize; ++i) {
            const int64_t x = static_cast<int64_t>(hx) + i - 5;
            if (x < 1 || x >= area.halfWidth) continue;
            GridCell& glow = GlowCell(scene, static_cast<int>(x), static_cast<int>(y));
            const bool marked = MarkGlowCell(scene.glow, static_cast<int>(x), static_cast<int>(y));
            const __m128 k = _mm_loadu_ps(&particle->kernel.cells[i][j].blue);
            const __m128 value = LayHaloValue(k, AccumulationCell(scene, 2 * static_cast<int>(x), 2 * static_cast<int>(y)),
                                              LoadGlow(glow, marked ? 1 : 0), glow);
            if (texels.texels != nullptr && ((SumsAboveZero(k, k) | SumsAboveZero(value, value)) & 1) != 0) {
                TexelRow(texels, static_cast<int>(y))[x] =
                    static_cast<uint32_t>(_mm_cvtsi128_si32(PackCells(value, value, value, value)));
            }
        }
    }
}

// Asks for the grid and glow lines of a particle's halo (nine columns of
// each). Only a hint: nothing is read or written.
__attribute__((always_inline)) inline void PrefetchHalo(SceneState& scene, const Particle* particle, GlowArea area)
{
    const int hx = particle->pixelX >> 1;
    const int hy = particle->pixelY >> 1;
    if (hx - 4 < 1 || hx + 4 >= area.halfWidth || hy - 4 < 1 || hy + 4 >= area.halfHeight) {
        return;
    }
    for (int x = hx - 4; x <= hx + 4; ++x) {
        const char* full = reinterpret_cast<const char*>(&AccumulationCell(scene, 2 * x, 2 * (hy - 4)));
        _mm_prefetch(full, _MM_HINT_T0);
        _mm_prefetch(full + 64, _MM_HINT_T0);
        _mm_prefetch(full + 128, _MM_HINT_T0);
        _mm_prefetch(full + 192, _MM_HINT_T0);
        _mm_prefetch(full + 16 * 16, _MM_HINT_T0);
        const char* glow = reinterpret_cast<const char*>(&GlowCell(scene, x, hy - 4));
        _mm_prefetch(glow, _MM_HINT_T0);
        _mm_prefetch(glow + 64, _MM_HINT_T0);
        _mm_prefetch(glow + 9 * 16 - 1, _MM_HINT_T0);
    }
}

// How many particles ahead the halo's lines are asked for.
const uint32_t haloPrefetchDistance = 2;

// Lays every particle's halo over last frame's glow as if it had been cleared.
void LayHalos(SceneState& scene, const TexelBuffer& texels)
{
    const GlowArea area = GlowAreaOf(scene);
    const ParticleList& particles = scene.particles;
    for (uint32_t n = 0; n < particles.count; ++n) {
        if (n + haloPrefetchDistance < particles.count) {
            PrefetchHalo(scene, &particles.records[n + haloPrefetchDistance], area);
        }
        const Particle* particle = &particles.records[n];
        const int hx = particle->pixelX >> 1;
        const int hy = particle->pixelY >> 1;
        // Kernel indices 1..9 only: the halo is the 9 x 9 cells hx-4..hx+4.
        if (hx - 4 >= 1 && hx + 4 < area.halfWidth && hy - 4 >= 1 && hy + 4 < area.halfHeight) {
            LayWholeHalo(scene, particle, hx, hy, texels);
        } else {
            LayClippedHalo(scene, particle, hx, hy, area, texels);
        }
    }
}

float CapGlow(float value) { return value > 255.0f ? 255.0f : value; }

}  // namespace

void UpdateGlowTexels(SceneState& scene, const TexelBuffer& texels)
{
    ClearGlowTexels(texels);
    const int previous = scene.glow.now;
    scene.glow.now ^= 1;
    std::memset(scene.glow.maps[scene.glow.now], 0, sizeof(scene.glow.maps[scene.glow.now]));
    LayHalos(scene, texels);
    ZeroGlowLeftOver(scene, previous);
}

void GlowPassReference(SceneState& scene, const TexelBuffer& texels)
{
    std::memset(scene.GlowGrid, 0, sizeof(scene.GlowGrid));
    ClearGlowTexels(texels);
    // Every cell is clear now: a following frame need zero nothing the
    // halos below do not mark.
    std::memset(scene.glow.maps, 0, sizeof(scene.glow.maps));

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
                if (x < 1 || x >= area.halfWidth || y < 1 || y >= area.halfHeight || i < 1 || j < 1) continue;
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
