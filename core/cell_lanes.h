// SSE2 helpers for grid cells held in one 128-bit register (blue, green,
// red, extra). Every lane operation is the scalar operation it stands for:
// the same IEEE operation on the same operands in the same order, so each
// lane rounds exactly as the reference code does. Used by the core's passes
// only.
#pragma once

#include <emmintrin.h>

#include "core/particle.h"

inline __m128 ChannelCapLanes() { return _mm_set1_ps(255.0f); }

// Lanes 0..2 from value, lane 3 (the extra field) from original.
inline __m128 KeepExtra(__m128 value, __m128 original)
{
    const __m128 redAndExtra = _mm_shuffle_ps(value, original, _MM_SHUFFLE(3, 3, 2, 2));
    return _mm_shuffle_ps(value, redAndExtra, _MM_SHUFFLE(2, 0, 1, 0));
}

// Four cells to four PackTexel words: each channel truncated, its low 8 bits
// kept, alpha 255.
inline __m128i PackCells(__m128 c0, __m128 c1, __m128 c2, __m128 c3)
{
    const __m128i lowByte = _mm_set1_epi32(0xFF);
    const __m128i w0 = _mm_and_si128(_mm_cvttps_epi32(c0), lowByte);
    const __m128i w1 = _mm_and_si128(_mm_cvttps_epi32(c1), lowByte);
    const __m128i w2 = _mm_and_si128(_mm_cvttps_epi32(c2), lowByte);
    const __m128i w3 = _mm_and_si128(_mm_cvttps_epi32(c3), lowByte);
    const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(w0, w1), _mm_packs_epi32(w2, w3));
    return _mm_or_si128(bytes, _mm_set1_epi32(static_cast<int>(0xFF000000u)));
}

// A value above 255 becomes 255 on every lane: min(cap, v) keeps v unless it
// is above 255, and a NaN stays a NaN, as in the scalar comparison.
inline __m128 CapLanes(__m128 value) { return _mm_min_ps(ChannelCapLanes(), value); }

// Bit 0 for c0, bit 1 for c1: red + green + blue > 0, summed in double in
// that order, as the reference sums it.
inline int SumsAboveZero(__m128 c0, __m128 c1)
{
    const __m128 blueGreen = _mm_unpacklo_ps(c0, c1);  // b0 b1 g0 g1
    const __m128 redExtra = _mm_unpackhi_ps(c0, c1);   // r0 r1 e0 e1
    const __m128d sum = _mm_add_pd(
        _mm_add_pd(_mm_cvtps_pd(redExtra), _mm_cvtps_pd(_mm_movehl_ps(blueGreen, blueGreen))), _mm_cvtps_pd(blueGreen));
    return _mm_movemask_pd(_mm_cmpgt_pd(sum, _mm_setzero_pd()));
}

// The reference's test of a cell: red + green + blue > 0, in double.
inline bool ChannelsAboveZero(const GridCell& cell)
{
    return static_cast<double>(cell.red) + cell.green + cell.blue > 0.0;
}
