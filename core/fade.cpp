// The full-resolution layer: the fade of a random lattice of the
// accumulation grid, the texels around every particle, and the copy of the
// whole layer into texture memory.
#include <emmintrin.h>
#include <immintrin.h>

#include <cstring>

#include "core/cell_lanes.h"
#include "core/generator.h"
#include "core/layers.h"
#include "core/numeric.h"
#include "core/simd_level.h"

namespace {

// Fade factors per visit, and the further factors while a new pattern is
// settling in. The blue factor is the double one unit in the last place
// above the one nearest to 0.7976: that is the factor the scene's look was
// tuned with, and the last bit shows in the faded values.
const double fadeFactorRed = 0.764;
const double fadeFactorGreen = 0.76;
const double fadeFactorBlue = 0.7976000000000001;
const double settlingFactorRed = 0.5;
const double settlingFactorGreen = 0.5;
const double settlingFactorBlue = 0.8;
const int32_t settlingTicks = 300;
const float fadeFloor = 5.0f;  // anything dimmer goes to black

const int latticeStep = 5;

// A lattice phase, 0 to 4 (5 only for the draw 32767).
int DrawLatticePhase() { return Trunc(Single(DrawRandom() * (5.0 / 32767.0))); }

int ClampedGridWidth(const SceneState& scene)
{
    return scene.gridWidth < AccumulationGridWidth ? scene.gridWidth : AccumulationGridWidth;
}
int ClampedGridHeight(const SceneState& scene)
{
    return scene.gridHeight < AccumulationGridHeight ? scene.gridHeight : AccumulationGridHeight;
}

float CapChannel(float value) { return value > 255.0f ? 255.0f : value; }

TexelBuffer FullLayerBuffer(SceneState& scene)
{
    return TexelBuffer{scene.FullLayerTexels, AccumulationGridWidth, AccumulationGridHeight, AccumulationGridWidth * 4};
}

inline void SetLit(uint8_t* litCells, int x, int y, bool lit)
{
    const int bit = y * AccumulationGridWidth + x;
    const uint8_t mask = static_cast<uint8_t>(1u << (bit & 7));
    if (lit) {
        litCells[bit >> 3] = static_cast<uint8_t>(litCells[bit >> 3] | mask);
    } else {
        litCells[bit >> 3] = static_cast<uint8_t>(litCells[bit >> 3] & ~mask);
    }
}

// ---------------------------------------------------------------------------
// The fade

const int32_t litRowBytes = AccumulationGridWidth / 8;

// Bits j of a 64-bit word with j % 5 == phase.
constexpr uint64_t LatticeBits(int phase)
{
    uint64_t bits = 0;
    for (int j = phase; j < 64; j += latticeStep) {
        bits |= uint64_t{1} << j;
    }
    return bits;
}
const uint64_t latticeBits[latticeStep] = {LatticeBits(0), LatticeBits(1), LatticeBits(2), LatticeBits(3),
                                           LatticeBits(4)};

const __m128 fadeFloors = _mm_set1_ps(fadeFloor);

// The channels of a lattice cell that hold colour: bits 0 to 2 for blue,
// green and red. Grid channels are never negative (splats store 0..255, the
// fade scales by positive factors), so red + green + blue is above 0 exactly
// when one of them is.
inline int LitChannels(__m128 cell) { return _mm_movemask_ps(_mm_cmpgt_ps(cell, _mm_setzero_ps())) & 7; }

// PackTexel of one cell held in a register.
inline uint32_t PackCell(__m128 cell)
{
    const __m128i channels = _mm_and_si128(_mm_cvttps_epi32(cell), _mm_set1_epi32(0xFF));
    const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(channels, channels), channels);
    return static_cast<uint32_t>(_mm_cvtsi128_si32(bytes)) | 0xFF000000u;
}

// Bits 0 to 63 of the word of lit bits of row y from column 64 x word.
inline uint64_t LitWord(const uint8_t* litRow, int word)
{
    uint64_t bits;
    std::memcpy(&bits, litRow + 8 * word, sizeof(bits));
    return bits;
}

// Asks for the lit lattice cells of one word of 64 columns of a row, and
// their texels. Only a hint: nothing is read or written but the lit bits. The
// fade reads only the lit cells, one cache line each (a lattice cell in five
// columns, 80 bytes apart), and which of them are lit follows the picture:
// the hardware's prefetcher sees no stride in them, and without this the
// fade waits on memory for most of its cells.
__attribute__((always_inline)) inline void PrefetchLitLattice(const GridCell* cells, const uint32_t* row,
                                                              const uint8_t* litRow, int word, int phase)
{
    for (uint64_t bits = LitWord(litRow, word) & latticeBits[phase]; bits != 0; bits &= bits - 1) {
        const int x = 64 * word + __builtin_ctzll(bits);
        _mm_prefetch(reinterpret_cast<const char*>(&cells[x]), _MM_HINT_T1);
        _mm_prefetch(reinterpret_cast<const char*>(&row[x]), _MM_HINT_T1);
    }
}

// How many words of 64 columns ahead the fade asks for its cells: some 5 lit
// cells a word, each a few nanoseconds of work once its line is there.
// Measured against 2 and 8, which did as well or worse.
const int fadePrefetchWords = 4;

}  // namespace

// The fade with SSE2 lanes: two double lanes for blue and green, one for red.
namespace fade_sse2 {
namespace {

const __m128d fadeFactorsBlueGreen = _mm_set_pd(fadeFactorGreen, fadeFactorBlue);
const __m128d fadeFactorsRed = _mm_set_pd(1.0, fadeFactorRed);
const __m128d settlingFactorsBlueGreen = _mm_set_pd(settlingFactorGreen, settlingFactorBlue);
const __m128d settlingFactorsRed = _mm_set_pd(1.0, settlingFactorRed);

// single(channel x factor) for blue, green (low) and red (high) at once.
inline __m128 ScaleChannels(__m128 cell, __m128d blueGreen, __m128d red)
{
    const __m128d low = _mm_mul_pd(_mm_cvtps_pd(cell), blueGreen);
    const __m128d high = _mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(cell, cell)), red);
    return _mm_movelh_ps(_mm_cvtpd_ps(low), _mm_cvtpd_ps(high));
}

inline __m128 FadeChannels(__m128 cell, bool settling)
{
    const __m128 faded = ScaleChannels(cell, fadeFactorsBlueGreen, fadeFactorsRed);
    return settling ? ScaleChannels(faded, settlingFactorsBlueGreen, settlingFactorsRed) : faded;
}

#include "core/fade_lattice.inc"

}  // namespace
}  // namespace fade_sse2

// The fade with AVX: a cell's channels in four double lanes, one conversion
// and one product each way. Built for AVX from here to AVX_CODE_END; it runs
// only where the machine has it (core/simd_level.h).
AVX_CODE_BEGIN
namespace fade_avx {
namespace {

inline __m128 FadeChannels(__m128 cell, bool settling)
{
    const __m256d fadeFactors = _mm256_setr_pd(fadeFactorBlue, fadeFactorGreen, fadeFactorRed, 1.0);
    const __m256d settlingFactors = _mm256_setr_pd(settlingFactorBlue, settlingFactorGreen, settlingFactorRed, 1.0);
    const __m128 faded = _mm256_cvtpd_ps(_mm256_mul_pd(_mm256_cvtps_pd(cell), fadeFactors));
    return settling ? _mm256_cvtpd_ps(_mm256_mul_pd(_mm256_cvtps_pd(faded), settlingFactors)) : faded;
}

#include "core/fade_lattice.inc"

}  // namespace
}  // namespace fade_avx
AVX_CODE_END

// The same draws, rows and cells as the reference, but a cell whose lit bit
// is clear is not read, as the reference would skip it anyway. The lit
// lattice cells of a row are found 64 at a time in the bitmap and visited in
// the grid's memory order.
void FadeLattice(SceneState& scene, const TexelBuffer& texels, SimdLevel level)
{
    if (level == SimdLevel::Avx) {
        fade_avx::FadeLitLattice(scene, texels);
    } else {
        fade_sse2::FadeLitLattice(scene, texels);
    }
}

// ---------------------------------------------------------------------------
// Particle texels

namespace {

// Texels x - 3 .. x + 2 of rows y - 3 .. y + 2 from the grid, for a square
// that lies wholly within columns and rows 1 and up and inside the grid: six
// cells of a grid row to six texels of a texture row.
inline void CopyParticleSquare(SceneState& scene, const TexelBuffer& texels, int x, int y)
{
    const GridCell* row = &AccumulationCell(scene, x - 3, y - 3);
    for (int r = 0; r < 6; ++r, row += AccumulationGridWidth) {
        const __m128 c0 = CapLanes(_mm_loadu_ps(&row[0].blue));
        const __m128 c1 = CapLanes(_mm_loadu_ps(&row[1].blue));
        const __m128 c2 = CapLanes(_mm_loadu_ps(&row[2].blue));
        const __m128 c3 = CapLanes(_mm_loadu_ps(&row[3].blue));
        const __m128 c4 = CapLanes(_mm_loadu_ps(&row[4].blue));
        const __m128 c5 = CapLanes(_mm_loadu_ps(&row[5].blue));
        uint32_t* texel = TexelRow(texels, y - 3 + r) + (x - 3);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(texel), PackCells(c0, c1, c2, c3));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(texel + 4), PackCells(c4, c5, c4, c5));
    }
}

// One texel of a particle's square, plainly.
inline void CopyParticleTexel(SceneState& scene, const TexelBuffer& texels, int x, int y)
{
    const GridCell& cell = AccumulationCell(scene, x, y);
    // Capped for the texel only; the grid keeps its value.
    TexelRow(texels, y)[x] = PackTexel(CapChannel(cell.red), CapChannel(cell.green), CapChannel(cell.blue));
}

// The square of a particle near an edge: every texel tested. Column 0 and
// row 0 are never refreshed.
void CopyClippedSquare(SceneState& scene, const TexelBuffer& texels, const Particle* particle, int gridWidth,
                       int gridHeight)
{
    for (int64_t y = int64_t{particle->pixelY} - 3; y <= particle->pixelY + int64_t{2}; ++y) {
        if (y < 1 || y >= gridHeight)
            continue;
        for (int64_t x = int64_t{particle->pixelX} - 3; x <= particle->pixelX + int64_t{2}; ++x) {
            if (x < 1 || x >= gridWidth)
                continue;
            CopyParticleTexel(scene, texels, static_cast<int>(x), static_cast<int>(y));
        }
    }
}

// Asks for the lines of a particle's square: six grid rows (96 bytes each)
// and six texel rows. Only a hint: nothing is read or written. Forced inline,
// like the other prefetching helpers: GCC sees no effect in a function that
// only prefetches and drops its calls.
__attribute__((always_inline)) inline void PrefetchParticleSquare(SceneState& scene, const Particle* particle,
                                                                  const TexelBuffer& texels, int gridWidth,
                                                                  int gridHeight)
{
    const int64_t x = particle->pixelX;
    const int64_t y = particle->pixelY;
    if (x - 3 < 1 || x + 3 > gridWidth || y - 3 < 1 || y + 3 > gridHeight) {
        return;
    }
    const char* row =
        reinterpret_cast<const char*>(&AccumulationCell(scene, static_cast<int>(x) - 3, static_cast<int>(y) - 3));
    for (int k = 0; k < 6; ++k, row += AccumulationGridWidth * sizeof(GridCell)) {
        _mm_prefetch(row, _MM_HINT_T1);
        _mm_prefetch(row + 6 * sizeof(GridCell) - 1, _MM_HINT_T1);
    }
    for (int r = 0; r < 6; ++r) {
        _mm_prefetch(reinterpret_cast<const char*>(TexelRow(texels, static_cast<int>(y) - 3 + r) + (x - 3)),
                     _MM_HINT_T1);
    }
}

// How many particles ahead the squares' lines are asked for.
const uint32_t squarePrefetchDistance = 4;

}  // namespace

void RefreshParticleTexels(SceneState& scene, const TexelBuffer& texels)
{
    const int gridWidth = ClampedGridWidth(scene);
    const int gridHeight = ClampedGridHeight(scene);
    const ParticleList& particles = scene.particles;
    for (uint32_t n = 0; n < particles.count; ++n) {
        if (n + squarePrefetchDistance < particles.count) {
            PrefetchParticleSquare(scene, &particles.records[n + squarePrefetchDistance], texels, gridWidth,
                                   gridHeight);
        }
        const Particle* particle = &particles.records[n];
        const int64_t firstX = static_cast<int64_t>(particle->pixelX) - 3;
        const int64_t firstY = static_cast<int64_t>(particle->pixelY) - 3;
        if (firstX >= 1 && firstX + 6 <= gridWidth && firstY >= 1 && firstY + 6 <= gridHeight) {
            CopyParticleSquare(scene, texels, particle->pixelX, particle->pixelY);
        } else {
            CopyClippedSquare(scene, texels, particle, gridWidth, gridHeight);
        }
    }
}

namespace {

// Copies count texels with streaming stores, which write the texture memory
// without first reading it into the cache (nothing reads it back): the copy
// moves two thirds of the bytes an ordinary one does and leaves the cache to
// the grid. Unaligned ends go through ordinary stores.
void StreamRow(uint32_t* destination, const uint32_t* source, int count)
{
    int n = 0;
    while (n < count && (reinterpret_cast<uintptr_t>(destination + n) & 15) != 0) {
        destination[n] = source[n];
        ++n;
    }
    for (; n + 16 <= count; n += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + n));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + n + 4));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + n + 8));
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + n + 12));
        _mm_stream_si128(reinterpret_cast<__m128i*>(destination + n), a);
        _mm_stream_si128(reinterpret_cast<__m128i*>(destination + n + 4), b);
        _mm_stream_si128(reinterpret_cast<__m128i*>(destination + n + 8), c);
        _mm_stream_si128(reinterpret_cast<__m128i*>(destination + n + 12), d);
    }
    for (; n < count; ++n) {
        destination[n] = source[n];
    }
}

}  // namespace

uint32_t PackTexel(float red, float green, float blue)
{
    const uint32_t r = static_cast<uint32_t>(Trunc(red)) & 0xFFu;
    const uint32_t g = static_cast<uint32_t>(Trunc(green)) & 0xFFu;
    const uint32_t b = static_cast<uint32_t>(Trunc(blue)) & 0xFFu;
    return 0xFF000000u | r << 16 | g << 8 | b;
}

void UpdateFullLayerTexels(SceneState& scene, SimdLevel level)
{
    const TexelBuffer layer = FullLayerBuffer(scene);
    FadeLattice(scene, layer, level);
    RefreshParticleTexels(scene, layer);
}

void CopyFullLayer(const SceneState& scene, const TexelBuffer& destination)
{
    const int width = ClampedGridWidth(scene);
    const int height = ClampedGridHeight(scene);
    for (int y = 0; y < height; ++y) {
        StreamRow(TexelRow(destination, y), &scene.FullLayerTexels[y * AccumulationGridWidth], width);
    }
    _mm_sfence();
}

// ---------------------------------------------------------------------------
// References

void FadePassReference(SceneState& scene, const TexelBuffer& texels)
{
    const int gridWidth = ClampedGridWidth(scene);
    const int gridHeight = ClampedGridHeight(scene);
    const bool settling = scene.ticksSinceReseed < settlingTicks;
    for (int y = DrawLatticePhase(); y < gridHeight; y += latticeStep) {
        for (int x = DrawLatticePhase(); x < gridWidth; x += latticeStep) {
            GridCell& cell = AccumulationCell(scene, x, y);
            if (!ChannelsAboveZero(cell)) {
                SetLit(scene.litCells, x, y, false);
                continue;  // neither the cell nor its texel changes
            }
            float red = Single(static_cast<double>(cell.red) * fadeFactorRed);
            float green = Single(static_cast<double>(cell.green) * fadeFactorGreen);
            float blue = Single(static_cast<double>(cell.blue) * fadeFactorBlue);
            if (settling) {
                red = Single(static_cast<double>(red) * settlingFactorRed);
                green = Single(static_cast<double>(green) * settlingFactorGreen);
                blue = Single(static_cast<double>(blue) * settlingFactorBlue);
            }
            cell.red = red < fadeFloor ? 0.0f : red;
            cell.green = green < fadeFloor ? 0.0f : green;
            cell.blue = blue < fadeFloor ? 0.0f : blue;
            TexelRow(texels, y)[x] = PackTexel(cell.red, cell.green, cell.blue);
            SetLit(scene.litCells, x, y, ChannelsAboveZero(cell));
        }
    }
}

void ParticleTexelPassReference(SceneState& scene, const TexelBuffer& texels)
{
    const int gridWidth = ClampedGridWidth(scene);
    const int gridHeight = ClampedGridHeight(scene);
    for (uint32_t n = 0; n < scene.particles.count; ++n) {
        CopyClippedSquare(scene, texels, &scene.particles.records[n], gridWidth, gridHeight);
    }
}
