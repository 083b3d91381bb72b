#include "render/layer_update.h"

#include <emmintrin.h>

#include <cstring>

#include "plugin/scene_state.h"
#include "simulation/generator.h"
#include "simulation/numeric.h"
#include "simulation/step.h"

namespace {

// Fade factors per visit, and the further factors while a new pattern is
// settling in. The blue factor is one unit in the last place above the
// double nearest to 0.7976, on purpose.
const double fadeFactorRed = 0.764;
const double fadeFactorGreen = 0.76;
const double fadeFactorBlue = 0.7976000000000001;
const double settlingFactorRed = 0.5;
const double settlingFactorGreen = 0.5;
const double settlingFactorBlue = 0.8;
const int32_t settlingTicks = 300;
const float fadeFloor = 5.0f;  // anything dimmer goes to black

const int latticeStep = 5;

// Glow weight per channel of the halo.
const double glowWeightRed = 170.0;
const double glowWeightGreen = 40.0;
const double glowWeightBlue = 70.0;

int DrawLatticePhase() { return Trunc(Single(DrawRandom() * (5.0 / 32767.0))); }

uint32_t* TexelRow(uint32_t* texels, int32_t pitchBytes, int y)
{
    return reinterpret_cast<uint32_t*>(reinterpret_cast<unsigned char*>(texels) +
                                       static_cast<ptrdiff_t>(y) * pitchBytes);
}

float CapChannel(float value) { return value > 255.0f ? 255.0f : value; }

// A locked rectangle we may write: memory and a pitch that holds a whole row.
uint32_t* WritableTexels(const D3DLOCKED_RECT& locked, HRESULT result, int32_t width)
{
    if (FAILED(result) || locked.pBits == nullptr || locked.Pitch < width * 4) {
        return nullptr;
    }
    return static_cast<uint32_t*>(locked.pBits);
}

int ClampedGridWidth() { return scene.gridWidth < AccumulationGridWidth ? scene.gridWidth : AccumulationGridWidth; }
int ClampedGridHeight()
{
    return scene.gridHeight < AccumulationGridHeight ? scene.gridHeight : AccumulationGridHeight;
}

// ---------------------------------------------------------------------------
// SSE2 helpers. Every lane operation is the scalar operation it stands for:
// the same IEEE operation on the same operands in the same order, so each
// lane rounds exactly as the scalar code does.

const __m128 channelCap = _mm_set1_ps(255.0f);
const __m128i lowByte = _mm_set1_epi32(0xFF);
const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xFF000000u));

// Lanes 0..2 from value, lane 3 (the extra field) from original.
inline __m128 KeepExtra(__m128 value, __m128 original)
{
    const __m128 redAndExtra = _mm_shuffle_ps(value, original, _MM_SHUFFLE(3, 3, 2, 2));
    return _mm_shuffle_ps(value, redAndExtra, _MM_SHUFFLE(2, 0, 1, 0));
}

// Four cells (blue, green, red, extra each) to four PackTexel words: each
// channel truncated, its low 8 bits kept, alpha 255.
inline __m128i PackCells(__m128 c0, __m128 c1, __m128 c2, __m128 c3)
{
    const __m128i w0 = _mm_and_si128(_mm_cvttps_epi32(c0), lowByte);
    const __m128i w1 = _mm_and_si128(_mm_cvttps_epi32(c1), lowByte);
    const __m128i w2 = _mm_and_si128(_mm_cvttps_epi32(c2), lowByte);
    const __m128i w3 = _mm_and_si128(_mm_cvttps_epi32(c3), lowByte);
    const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(w0, w1), _mm_packs_epi32(w2, w3));
    return _mm_or_si128(bytes, opaque);
}

// CapChannel on every lane: min(cap, v) keeps v unless it is above 255 (a NaN
// stays a NaN, as in the scalar comparison).
inline __m128 CapLanes(__m128 value) { return _mm_min_ps(channelCap, value); }

// Bit 0 for c0, bit 1 for c1: red + green + blue > 0, summed in double in
// that order, as the scalar comparisons write it.
inline int SumsAboveZero(__m128 c0, __m128 c1)
{
    const __m128 blueGreen = _mm_unpacklo_ps(c0, c1);  // b0 b1 g0 g1
    const __m128 redExtra = _mm_unpackhi_ps(c0, c1);   // r0 r1 e0 e1
    const __m128d sum = _mm_add_pd(_mm_add_pd(_mm_cvtps_pd(redExtra), _mm_cvtps_pd(_mm_movehl_ps(blueGreen, blueGreen))),
                                   _mm_cvtps_pd(blueGreen));
    return _mm_movemask_pd(_mm_cmpgt_pd(sum, _mm_setzero_pd()));
}

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

// ---------------------------------------------------------------------------
// Fade

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

inline void SetLit(int x, int y, bool lit)
{
    const int bit = y * AccumulationGridWidth + x;
    const uint8_t mask = static_cast<uint8_t>(1u << (bit & 7));
    if (lit) {
        LitCells[bit >> 3] = static_cast<uint8_t>(LitCells[bit >> 3] | mask);
    } else {
        LitCells[bit >> 3] = static_cast<uint8_t>(LitCells[bit >> 3] & ~mask);
    }
}

const __m128d fadeFactorsBlueGreen = _mm_set_pd(fadeFactorGreen, fadeFactorBlue);
const __m128d fadeFactorsRed = _mm_set_pd(1.0, fadeFactorRed);
const __m128d settlingFactorsBlueGreen = _mm_set_pd(settlingFactorGreen, settlingFactorBlue);
const __m128d settlingFactorsRed = _mm_set_pd(1.0, settlingFactorRed);
const __m128 fadeFloors = _mm_set1_ps(fadeFloor);

// single(channel x factor) for blue, green (low) and red (high) at once.
inline __m128 ScaleChannels(__m128 cell, __m128d blueGreen, __m128d red)
{
    const __m128d low = _mm_mul_pd(_mm_cvtps_pd(cell), blueGreen);
    const __m128d high = _mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(cell, cell)), red);
    return _mm_movelh_ps(_mm_cvtpd_ps(low), _mm_cvtpd_ps(high));
}

// Fades one lattice cell and writes its texel. Returns true when the next
// visit would skip the cell (its red + green + blue is not above 0).
inline bool FadeCell(GridCell& cell, uint32_t& texel, bool settling)
{
    const __m128 old = _mm_loadu_ps(&cell.blue);
    if ((SumsAboveZero(old, old) & 1) == 0) {
        return true;  // an empty cell and its texel stay untouched
    }
    __m128 faded = ScaleChannels(old, fadeFactorsBlueGreen, fadeFactorsRed);
    if (settling) {
        faded = ScaleChannels(faded, settlingFactorsBlueGreen, settlingFactorsRed);
    }
    // Below 5 becomes 0 (a NaN is not below 5 and stays).
    faded = _mm_andnot_ps(_mm_cmplt_ps(faded, fadeFloors), faded);
    _mm_storeu_ps(&cell.blue, KeepExtra(faded, old));
    texel = static_cast<uint32_t>(_mm_cvtsi128_si32(PackCells(faded, faded, faded, faded)));
    return (SumsAboveZero(faded, faded) & 1) == 0;
}

// How many lattice cells of a row ahead the grid's cache line is asked for.
const int fadePrefetchDistance = 16;

// The frame's fade: the same draws, rows and cells as FadePass, but a cell
// whose lit bit is clear is not read, as FadePass would skip it anyway. The
// lit lattice cells of a row are found 64 at a time in the bitmap, then
// visited with their cache lines fetched a few cells ahead (each is a
// separate line of the column-major grid).
void FadeLitLattice(uint32_t* texels, int32_t pitchBytes)
{
    const int gridWidth = ClampedGridWidth();
    const int gridHeight = ClampedGridHeight();
    const bool settling = scene.ticksSinceReseed < settlingTicks;
    const int words = (gridWidth + 63) / 64;
    int columns[AccumulationGridWidth / latticeStep + 1];

    for (int y = DrawLatticePhase(); y < gridHeight; y += latticeStep) {
        const int x0 = DrawLatticePhase();
        uint32_t* row = TexelRow(texels, pitchBytes, y);
        const uint8_t* litRow = &LitCells[y * litRowBytes];
        int count = 0;
        for (int word = 0; word < words; ++word) {
            uint64_t bits;
            std::memcpy(&bits, litRow + 8 * word, sizeof(bits));
            bits &= latticeBits[((x0 - 64 * word) % latticeStep + latticeStep) % latticeStep];
            if (word == 0) {
                bits &= ~uint64_t{0} << x0;  // a phase of 5 leaves column 0 out
            }
            if (64 * word + 64 > gridWidth) {
                bits &= (uint64_t{1} << (gridWidth - 64 * word)) - 1;
            }
            while (bits != 0) {
                columns[count++] = 64 * word + __builtin_ctzll(bits);
                bits &= bits - 1;
            }
        }
        for (int n = 0; n < count; ++n) {
            if (n + fadePrefetchDistance < count) {
                _mm_prefetch(reinterpret_cast<const char*>(
                                 &AccumulationGrid[columns[n + fadePrefetchDistance] * AccumulationGridHeight + y]),
                             _MM_HINT_T0);
            }
            const int x = columns[n];
            if (FadeCell(AccumulationGrid[x * AccumulationGridHeight + y], row[x], settling)) {
                SetLit(x, y, false);
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Particle texels

// Texels x - 3 .. x + 2 of rows y - 3 .. y + 2 from the grid, for a square
// that lies wholly within columns and rows 1 and up and inside the grid.
inline void CopyParticleSquare(uint32_t* texels, int32_t pitchBytes, int x, int y)
{
    const GridCell* column0 = &AccumulationGrid[(x - 3) * AccumulationGridHeight + (y - 3)];
    for (int r = 0; r < 6; ++r) {
        const GridCell* cell = column0 + r;
        const __m128 c0 = CapLanes(_mm_loadu_ps(&cell[0 * AccumulationGridHeight].blue));
        const __m128 c1 = CapLanes(_mm_loadu_ps(&cell[1 * AccumulationGridHeight].blue));
        const __m128 c2 = CapLanes(_mm_loadu_ps(&cell[2 * AccumulationGridHeight].blue));
        const __m128 c3 = CapLanes(_mm_loadu_ps(&cell[3 * AccumulationGridHeight].blue));
        const __m128 c4 = CapLanes(_mm_loadu_ps(&cell[4 * AccumulationGridHeight].blue));
        const __m128 c5 = CapLanes(_mm_loadu_ps(&cell[5 * AccumulationGridHeight].blue));
        uint32_t* texel = TexelRow(texels, pitchBytes, y - 3 + r) + (x - 3);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(texel), PackCells(c0, c1, c2, c3));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(texel + 4), PackCells(c4, c5, c4, c5));
    }
}

// Asks for the lines of a particle's square: six grid columns (96 bytes each)
// and six texel rows. Only a hint: nothing is read or written. Forced inline,
// like the other prefetching helpers: GCC sees no effect in a function that
// only prefetches and drops its calls.
__attribute__((always_inline)) inline void PrefetchParticleSquare(const Particle* particle, uint32_t* texels,
                                                                   int32_t pitchBytes, int gridWidth, int gridHeight)
{
    const int64_t x = particle->pixelX;
    const int64_t y = particle->pixelY;
    if (x - 3 < 1 || x + 3 > gridWidth || y - 3 < 1 || y + 3 > gridHeight) {
        return;
    }
    const char* column = reinterpret_cast<const char*>(&AccumulationGrid[(x - 3) * AccumulationGridHeight + (y - 3)]);
    for (int k = 0; k < 6; ++k, column += AccumulationGridHeight * sizeof(GridCell)) {
        _mm_prefetch(column, _MM_HINT_T0);
        _mm_prefetch(column + 6 * sizeof(GridCell) - 1, _MM_HINT_T0);
    }
    for (int r = 0; r < 6; ++r) {
        _mm_prefetch(reinterpret_cast<const char*>(TexelRow(texels, pitchBytes, static_cast<int>(y) - 3 + r) + (x - 3)),
                     _MM_HINT_T0);
    }
}

// How many particles ahead the squares' lines are asked for.
const uint32_t squarePrefetchDistance = 4;

// ---------------------------------------------------------------------------
// Glow
//
// Two maps of the glow grid, one bit per cell, column-major like the grid
// (cell (x, y) is bit x * GlowGridHeight + y). Every nonzero glow cell is
// marked in the current map: only the halos write nonzero values, and they
// mark what they write. A frame starts a fresh map and lays its halos over
// last frame's glow as if it had been cleared (a cell not yet marked in the
// fresh map counts as 0, all four fields), then zeroes the cells marked last
// frame that no halo wrote this frame. The grid ends up as a clear followed
// by the halos leaves it, without writing most of its cells twice.

const int32_t glowBits = GlowGridWidth * GlowGridHeight;
uint8_t glowMaps[2][glowBits / 8];
int glowMapNow = 0;

void ClearGlowTexels(uint32_t* texels, int32_t pitchBytes)
{
    if (texels == nullptr) {
        return;
    }
    for (int y = 0; y < GlowGridHeight; ++y) {
        std::memset(TexelRow(texels, pitchBytes, y), 0, static_cast<size_t>(GlowGridWidth) * 4);
    }
}

// The map bits of cells x, y .. y + 8 before marking them.
inline int MarkGlowColumn(int x, int y)
{
    const int bit = x * GlowGridHeight + y;
    uint8_t* const bytes = &glowMaps[glowMapNow][bit >> 3];
    uint16_t word;
    std::memcpy(&word, bytes, sizeof(word));
    const int marked = word >> (bit & 7) & 0x1FF;
    word = static_cast<uint16_t>(word | 0x1FFu << (bit & 7));
    std::memcpy(bytes, &word, sizeof(word));
    return marked;
}

inline bool MarkGlowCell(int x, int y)
{
    const int bit = x * GlowGridHeight + y;
    uint8_t& byte = glowMaps[glowMapNow][bit >> 3];
    const bool marked = (byte >> (bit & 7) & 1) != 0;
    byte = static_cast<uint8_t>(byte | 1u << (bit & 7));
    return marked;
}

// Zeroes the cells marked in map `previous` but not in the current one.
void ZeroGlowLeftOver(int previous)
{
    for (int32_t word = 0; word < glowBits / 64; ++word) {
        uint64_t before;
        uint64_t now;
        std::memcpy(&before, &glowMaps[previous][8 * word], sizeof(before));
        std::memcpy(&now, &glowMaps[glowMapNow][8 * word], sizeof(now));
        for (uint64_t bits = before & ~now; bits != 0; bits &= bits - 1) {
            _mm_storeu_ps(&GlowGrid[64 * word + __builtin_ctzll(bits)].blue, _mm_setzero_ps());
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
// products and their sum are double lanes, as in the scalar formula. Stores
// the new G (its extra field as in old) and returns it.
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

// Writes lane n of texels to row n (n = 0..count-1) where bit n of written is set.
inline void StoreHaloTexels(__m128i texels, int written, int count, uint32_t* texel, int32_t pitchBytes)
{
    alignas(16) uint32_t words[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(words), texels);
    for (int n = 0; n < count; ++n) {
        if (written >> n & 1) {
            *TexelRow(texel, pitchBytes, n) = words[n];
        }
    }
}

// Nine cells of one halo column: kernel entries and glow cells in a row in
// memory, grid cells two apart, texels one row apart. Cell j counts as
// cleared unless bit j of kept is set. The texel of a cell is written when
// its kernel entry or its new colour sums above 0: a zero-weight cell that is
// still black is left transparent.
inline void LayHaloColumn(const GridCell* kernel, const GridCell* full, GridCell* glow, int kept, uint32_t* texel,
                          int32_t pitchBytes)
{
    __m128 k[9];
    __m128 value[9];
    for (int j = 0; j < 9; ++j) {
        k[j] = _mm_loadu_ps(&kernel[j].blue);
        value[j] = LayHaloValue(k[j], full[2 * j], LoadGlow(glow[j], kept >> j & 1), glow[j]);
    }
    if (texel == nullptr) {
        return;
    }
    int written = 0;
    for (int j = 0; j < 8; j += 2) {
        written |= (SumsAboveZero(k[j], k[j + 1]) | SumsAboveZero(value[j], value[j + 1])) << j;
    }
    written |= ((SumsAboveZero(k[8], k[8]) | SumsAboveZero(value[8], value[8])) & 1) << 8;
    StoreHaloTexels(PackCells(value[0], value[1], value[2], value[3]), written, 4, texel, pitchBytes);
    StoreHaloTexels(PackCells(value[4], value[5], value[6], value[7]), written >> 4, 4,
                    TexelRow(texel, pitchBytes, 4), pitchBytes);
    StoreHaloTexels(PackCells(value[8], value[8], value[8], value[8]), written >> 8, 1,
                    TexelRow(texel, pitchBytes, 8), pitchBytes);
}

// The halo of a particle whose 9 x 9 cells all lie within columns and rows 1
// and up and inside the glow grid: columns outer, so that the kernel's and
// the glow grid's cells are read in memory order (the order of the cells
// within one particle's halo does not matter: each is laid once).
void LayWholeHalo(const Particle* particle, int hx, int hy, bool fresh, uint32_t* texels, int32_t pitchBytes)
{
    uint32_t* texel = texels == nullptr ? nullptr : TexelRow(texels, pitchBytes, hy - 4) + (hx - 4);
    for (int i = 1; i < BlobKernelSize; ++i) {
        const int x = hx + i - 5;
        const int marked = MarkGlowColumn(x, hy - 4);
        LayHaloColumn(&particle->kernel.cells[i][1],
                      &AccumulationGrid[(2 * x) * AccumulationGridHeight + 2 * (hy - 4)],
                      &GlowGrid[x * GlowGridHeight + (hy - 4)], fresh ? marked : 0x1FF,
                      texel == nullptr ? nullptr : texel + (i - 1), pitchBytes);
    }
}

// The same for a particle whose halo reaches an edge: every cell tested.
void LayClippedHalo(const Particle* particle, int hx, int hy, int halfWidth, int halfHeight, bool fresh,
                    uint32_t* texels, int32_t pitchBytes)
{
    for (int j = 1; j < BlobKernelSize; ++j) {
        const int64_t y = static_cast<int64_t>(hy) + j - 5;
        if (y < 1 || y >= halfHeight) continue;
        for (int i = 1; i < BlobKernelSize; ++i) {
            const int64_t x = static_cast<int64_t>(hx) + i - 5;
            if (x < 1 || x >= halfWidth) continue;
            GridCell& glow = GlowGrid[x * GlowGridHeight + y];
            const bool marked = MarkGlowCell(static_cast<int>(x), static_cast<int>(y));
            const __m128 k = _mm_loadu_ps(&particle->kernel.cells[i][j].blue);
            const __m128 value = LayHaloValue(k, AccumulationGrid[(2 * x) * AccumulationGridHeight + 2 * y],
                                              LoadGlow(glow, fresh && !marked ? 0 : 1), glow);
            if (texels != nullptr && ((SumsAboveZero(k, k) | SumsAboveZero(value, value)) & 1) != 0) {
                TexelRow(texels, pitchBytes, static_cast<int>(y))[x] =
                    static_cast<uint32_t>(_mm_cvtsi128_si32(PackCells(value, value, value, value)));
            }
        }
    }
}

// Asks for the grid and glow lines of a particle's halo (nine columns of
// each). Only a hint: nothing is read or written.
__attribute__((always_inline)) inline void PrefetchHalo(const Particle* particle, int halfWidth, int halfHeight)
{
    const int hx = particle->pixelX >> 1;
    const int hy = particle->pixelY >> 1;
    if (hx - 4 < 1 || hx + 4 >= halfWidth || hy - 4 < 1 || hy + 4 >= halfHeight) {
        return;
    }
    for (int x = hx - 4; x <= hx + 4; ++x) {
        const char* full =
            reinterpret_cast<const char*>(&AccumulationGrid[(2 * x) * AccumulationGridHeight + 2 * (hy - 4)]);
        _mm_prefetch(full, _MM_HINT_T0);
        _mm_prefetch(full + 64, _MM_HINT_T0);
        _mm_prefetch(full + 128, _MM_HINT_T0);
        _mm_prefetch(full + 192, _MM_HINT_T0);
        _mm_prefetch(full + 16 * 16, _MM_HINT_T0);
        const char* glow = reinterpret_cast<const char*>(&GlowGrid[x * GlowGridHeight + (hy - 4)]);
        _mm_prefetch(glow, _MM_HINT_T0);
        _mm_prefetch(glow + 64, _MM_HINT_T0);
        _mm_prefetch(glow + 9 * 16 - 1, _MM_HINT_T0);
    }
}

// How many particles ahead the halo's lines are asked for.
const uint32_t haloPrefetchDistance = 2;

// Lays every particle's halo; with fresh, over last frame's glow as if it had
// been cleared (see above).
void LayHalos(uint32_t* texels, int32_t pitchBytes, bool fresh)
{
    const int gridHalfWidth = scene.gridWidth >> 1;
    const int gridHalfHeight = scene.gridHeight >> 1;
    const int halfWidth = gridHalfWidth < GlowGridWidth ? gridHalfWidth : GlowGridWidth;
    const int halfHeight = gridHalfHeight < GlowGridHeight ? gridHalfHeight : GlowGridHeight;
    const uint32_t count = particles.count;
    for (uint32_t n = 0; n < count; ++n) {
        if (n + haloPrefetchDistance < count) {
            PrefetchHalo(&particles.records[n + haloPrefetchDistance], halfWidth, halfHeight);
        }
        const Particle* particle = &particles.records[n];
        const int hx = particle->pixelX >> 1;
        const int hy = particle->pixelY >> 1;
        // Kernel indices 1..9 only: the halo is the 9 x 9 cells hx-4..hx+4.
        if (hx - 4 >= 1 && hx + 4 < halfWidth && hy - 4 >= 1 && hy + 4 < halfHeight) {
            LayWholeHalo(particle, hx, hy, fresh, texels, pitchBytes);
        } else {
            LayClippedHalo(particle, hx, hy, halfWidth, halfHeight, fresh, texels, pitchBytes);
        }
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

void FadePass(uint32_t* texels, int32_t pitchBytes)
{
    const int gridWidth = ClampedGridWidth();
    const int gridHeight = ClampedGridHeight();
    const bool settling = scene.ticksSinceReseed < settlingTicks;

    for (int y = DrawLatticePhase(); y < gridHeight; y += latticeStep) {
        uint32_t* row = TexelRow(texels, pitchBytes, y);
        for (int x = DrawLatticePhase(); x < gridWidth; x += latticeStep) {
            // Every cell is read here, so its lit bit is brought up to date
            // whoever wrote the cell.
            SetLit(x, y, !FadeCell(AccumulationGrid[x * AccumulationGridHeight + y], row[x], settling));
        }
    }
}

void ParticleTexelPass(uint32_t* texels, int32_t pitchBytes)
{
    const int gridWidth = ClampedGridWidth();
    const int gridHeight = ClampedGridHeight();
    const uint32_t count = particles.count;
    for (uint32_t n = 0; n < count; ++n) {
        if (n + squarePrefetchDistance < count) {
            PrefetchParticleSquare(&particles.records[n + squarePrefetchDistance], texels, pitchBytes, gridWidth,
                                   gridHeight);
        }
        const Particle* particle = &particles.records[n];
        const int64_t firstX = static_cast<int64_t>(particle->pixelX) - 3;
        const int64_t firstY = static_cast<int64_t>(particle->pixelY) - 3;
        if (firstX >= 1 && firstX + 6 <= gridWidth && firstY >= 1 && firstY + 6 <= gridHeight) {
            CopyParticleSquare(texels, pitchBytes, particle->pixelX, particle->pixelY);
            continue;
        }
        // Column 0 and row 0 are never refreshed here.
        for (int64_t y = firstY; y <= particle->pixelY + int64_t{2}; ++y) {
            if (y < 1 || y >= gridHeight) continue;
            uint32_t* row = TexelRow(texels, pitchBytes, static_cast<int>(y));
            for (int64_t x = firstX; x <= particle->pixelX + int64_t{2}; ++x) {
                if (x < 1 || x >= gridWidth) continue;
                const GridCell& cell = AccumulationGrid[x * AccumulationGridHeight + y];
                // Capped for the texel only; the grid keeps its value.
                row[x] = PackTexel(CapChannel(cell.red), CapChannel(cell.green), CapChannel(cell.blue));
            }
        }
    }
}

void GlowClearPass(uint32_t* texels, int32_t pitchBytes)
{
    std::memset(GlowGrid, 0, sizeof(GlowGrid));
    std::memset(glowMaps, 0, sizeof(glowMaps));
    ClearGlowTexels(texels, pitchBytes);
}

void HaloPass(uint32_t* texels, int32_t pitchBytes) { LayHalos(texels, pitchBytes, false); }

void UpdateFullLayer()
{
    IDirect3DTexture9* texture = scene.FullLayerTexture;
    D3DLOCKED_RECT locked;
    std::memset(&locked, 0, sizeof(locked));
    const HRESULT result = texture->LockRect(0, &locked, nullptr, D3DLOCK_DISCARD);

    // The passes write the persistent copy whatever the lock gave, so the
    // simulation never depends on whether a device call succeeded.
    const int32_t layerPitch = AccumulationGridWidth * 4;
    FadeLitLattice(FullLayerTexels, layerPitch);
    ParticleTexelPass(FullLayerTexels, layerPitch);

    // A discard lock hands over undefined memory: copy the whole layer.
    const int width = ClampedGridWidth();
    const int height = ClampedGridHeight();
    uint32_t* destination = WritableTexels(locked, result, width);
    if (destination != nullptr) {
        for (int y = 0; y < height; ++y) {
            StreamRow(TexelRow(destination, locked.Pitch, y), &FullLayerTexels[y * AccumulationGridWidth], width);
        }
        _mm_sfence();
    }
    texture->UnlockRect(0);
}

void UpdateGlowLayer()
{
    IDirect3DTexture9* texture = scene.GlowLayerTexture;
    D3DLOCKED_RECT locked;
    std::memset(&locked, 0, sizeof(locked));
    const HRESULT result = texture->LockRect(0, &locked, nullptr, D3DLOCK_DISCARD);
    uint32_t* texels = WritableTexels(locked, result, GlowGridWidth);
    ClearGlowTexels(texels, locked.Pitch);
    // The glow grid's clear, folded into the halos (see the maps above).
    const int previous = glowMapNow;
    glowMapNow ^= 1;
    std::memset(glowMaps[glowMapNow], 0, sizeof(glowMaps[glowMapNow]));
    LayHalos(texels, locked.Pitch, true);
    ZeroGlowLeftOver(previous);
    texture->UnlockRect(0);
}
