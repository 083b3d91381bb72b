// The scene's correctly rounded sine, cosine, tangent and arc tangent.
//
// Shape (that of every correctly rounded maths library): a fast path in
// double precision with a proven error bound e around its approximation a;
// a rounding test: with lo = fl(a - e) and hi = fl(a + e), which are the
// correctly rounded doubles of the interval's ends, RN_double and single()
// are monotone, so if single(lo) and single(hi) are the same float, so is
// single(RN_double(f(x))) for the exact f(x) between them; otherwise a slow
// path in double-double with a bound about 2^-100 decides. The slow path's
// own test has never failed on any float (or any camera argument): the
// exhaustive run (tools/math-prove) tries all of them.
//
// u = 2^-53 below. The fast bounds (relative, on the approximation):
//  - sine, cosine: reduction r = x - k pi/2 within 2.01u|r| + |k| 2^-120
//    (ReduceQuadrants in core/exact_math_lanes.inc; Payne-Hanek beyond it
//    within 2.01u|r| + 2^-134); polynomials within 2^-45.58 (sine) and
//    2^-41.53 (cosine) of the functions, as the generator proves; Horner,
//    r (1 + z p) and 1 + z q round by at most 4u (the added terms are below
//    0.103 and 0.31 of the result); the reduction's relative part moves sine
//    by at most 2.01u |r / sin r| <= 2.24u and cosine by 2.01u |r tan r| <=
//    1.6u. Sine: 2^-45.58 + 6.3u < 2^-45.5; cosine: 2^-41.53 + 5.6u <
//    2^-41.52.
//  - tangent: s/c (or -c/s) adds both errors, one division and the
//    reduction's relative part times (1 + t^2)|r / t| <= 1.62:
//    2^-45.5 + 2^-41.52 + 4.3u < 2^-41.45.
//    All three use fastTrigError = 2^-41 (relative to the computed value,
//    which is within 2^-41.45 of the exact one), plus the absolute reduction
//    error times the slope (1 for sine and cosine, 1 + tan^2 for tangent).
//    The bound need not be tight: a looser one only sends more inputs to
//    the slow path (about 2^-16 of them here).
//  - arc tangent: delta one rounding from exact, the series within
//    2^-66.1 absolute and 2u of itself, the table entry within u, the sum
//    within u: at most 5u + 2^-59.2 relative (the result is at least 2^-7
//    whenever the table entry is not 0, and at least |delta| otherwise):
//    fastAtanError = 2^-49.
// The slow bounds: double-double Taylor series through r^31 (remainder
// below 2^-118), Horner in double-double within 13u^2 (every step adds a
// term at most a fifth of the constant it meets), reduction within 2^-101.8
// relative and 2^-134 absolute: slowTrigError = 2^-100 (2^-98 for the
// tangent's extra division); the arc tangent's delta within u^2, its series
// through delta^15 (remainder 2^-116), within 17u^2 in all: 2^-100.
#include "core/exact_math.h"

#include <emmintrin.h>
#include <immintrin.h>

#include <cstring>

#include "core/bits.h"
#include "core/exact_math_dd.h"
#include "core/exact_math_tables.h"

namespace {

// x + 1.5 2^52 rounds x to an integer and leaves it in the low bits of the
// sum (for |x| < 2^51), in two's complement.
const double roundingShifter = 6755399441055744.0;
const double codyWaiteErrorPerQuadrant = 0x1p-120;
const double fastTrigError = 0x1p-41;
const double fastAtanError = 0x1p-49;
const double payneHanekAbsError = 0x1p-134;
const double slowTrigError = 0x1p-100;
const double slowTanError = 0x1p-98;
const double slowAtanError = 0x1p-100;
// The camera's fast path: the series cut after r^22 for the cosine and
// r^23 for the sine (remainders below 2^-86.9 and 2^-92.4 relative), their
// first four coefficients in double-double and the
// rest in double: the double part is below z^4/10! < 2^-24.6 and rounds by
// 3u of it, 2^-76.2 relative to the cosine (2^-79.9 to the sine); with the
// double-double work (13u^2) and the reduction (6u^2 and 2^-133 absolute),
// within 2^-76.1: fastCameraError = 2^-75. The slow path: the full series.
const int fastCameraTerms = 11;
const int fastCameraExactTerms = 4;
const double fastCameraError = 0x1p-75;
const int slowTerms = 15;
const double cameraAbsError = 0x1p-133;
// Below this magnitude the Cody-Waite reduction is exact enough: |k| < 2^21.
const double codyWaiteLimit = cameraArgumentLimit;

const uint32_t floatSignBit = 0x80000000u;
const uint32_t floatExponentBits = 0x7F800000u;
const uint32_t floatQuietBit = 0x00400000u;
// What glibc's sin, cos and tan return for an infinity, as a float.
const uint32_t trigOfInfinityBits = 0xFFC00000u;

double AbsDouble(double x) { return DoubleFromBits(DoubleBits(x) & ~(uint64_t{1} << 63)); }

// 2^n for -1022 <= n <= 1023.
double PowerOfTwo(int n) { return DoubleFromBits(static_cast<uint64_t>(n + 1023) << 52); }

bool IsNonFinite(uint32_t bits) { return (bits & floatExponentBits) == floatExponentBits; }
bool IsZero(uint32_t bits) { return (bits & ~floatSignBit) == 0; }

}  // namespace

// ---------------------------------------------------------------------------
// The lane types.

namespace scalar_lanes {

using Lanes = double;
using Mask = bool;

inline Lanes Splat(double value) { return value; }
inline Mask Less(Lanes a, Lanes b) { return a < b; }
// Without a branch: the quadrant's parity is as good as random, and a
// mispredicted branch costs more than the whole polynomial.
inline Lanes Select(Mask mask, Lanes ifTrue, Lanes ifFalse)
{
    const double pair[2] = {ifFalse, ifTrue};
    return pair[mask];
}
inline Lanes PolynomialCoefficient(Mask cosine, int n)
{
    static const double coefficients[2][5] = {
        {exact_math_tables::sinFast[0], exact_math_tables::sinFast[1], exact_math_tables::sinFast[2],
         exact_math_tables::sinFast[3], exact_math_tables::sinFast[4]},
        {exact_math_tables::cosFast[0], exact_math_tables::cosFast[1], exact_math_tables::cosFast[2],
         exact_math_tables::cosFast[3], exact_math_tables::cosFast[4]}};
    return coefficients[cosine][n];
}
inline Lanes Abs(Lanes value) { return AbsDouble(value); }
inline Lanes XorSign(Lanes value, Lanes signSource)
{
    return DoubleFromBits(DoubleBits(value) ^ (DoubleBits(signSource) & (uint64_t{1} << 63)));
}
inline Mask OddQuadrant(Lanes shifted) { return (DoubleBits(shifted) & 1) != 0; }
inline Lanes FlipSignInUpperQuadrants(Lanes value, Lanes shifted)
{
    return DoubleFromBits(DoubleBits(value) ^ ((DoubleBits(shifted) & 2) << 62));
}
inline Lanes TableLookup(const double* table, Lanes shifted) { return table[DoubleBits(shifted) & 0xFF]; }

#include "core/exact_math_lanes.inc"

}  // namespace scalar_lanes

namespace sse2_lanes {

using Lanes = __m128d;
using Mask = __m128d;

inline Lanes Splat(double value) { return _mm_set1_pd(value); }
inline Mask Less(Lanes a, Lanes b) { return _mm_cmplt_pd(a, b); }
inline Lanes Select(Mask mask, Lanes ifTrue, Lanes ifFalse)
{
    return _mm_or_pd(_mm_and_pd(mask, ifTrue), _mm_andnot_pd(mask, ifFalse));
}
inline Lanes PolynomialCoefficient(Mask cosine, int n)
{
    return Select(cosine, Splat(exact_math_tables::cosFast[n]), Splat(exact_math_tables::sinFast[n]));
}
inline Lanes SignBits() { return _mm_set1_pd(-0.0); }
inline Lanes Abs(Lanes value) { return _mm_andnot_pd(SignBits(), value); }
inline Lanes XorSign(Lanes value, Lanes signSource) { return _mm_xor_pd(value, _mm_and_pd(signSource, SignBits())); }
// Bit 0 of each lane's k, spread over the whole lane.
inline Mask OddQuadrant(Lanes shifted)
{
    const __m128i atSign = _mm_slli_epi64(_mm_castpd_si128(shifted), 63);
    return _mm_castsi128_pd(_mm_shuffle_epi32(_mm_srai_epi32(atSign, 31), _MM_SHUFFLE(3, 3, 1, 1)));
}
inline Lanes FlipSignInUpperQuadrants(Lanes value, Lanes shifted)
{
    const __m128i bitOne = _mm_and_si128(_mm_slli_epi64(_mm_castpd_si128(shifted), 62), _mm_castpd_si128(SignBits()));
    return _mm_xor_pd(value, _mm_castsi128_pd(bitOne));
}
inline Lanes TableLookup(const double* table, Lanes shifted)
{
    const __m128i bits = _mm_castpd_si128(shifted);
    const int low = _mm_cvtsi128_si32(bits) & 0xFF;
    const int high = _mm_cvtsi128_si32(_mm_shuffle_epi32(bits, _MM_SHUFFLE(3, 2, 3, 2))) & 0xFF;
    return _mm_set_pd(table[high], table[low]);
}

#include "core/exact_math_lanes.inc"

const int width = 2;

inline Lanes LoadFloats(const float* x)
{
    return _mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(x))));
}

// 1/|x| rounded to float, for the arc tangent's table index (the unused two
// lanes divide 1 by 0, harmlessly).
inline Lanes LoadInverseFloats(const float* x)
{
    const __m128 magnitude =
        _mm_andnot_ps(_mm_set1_ps(-0.0f), _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(x))));
    return _mm_cvtps_pd(_mm_div_ps(_mm_set1_ps(1.0f), magnitude));
}

// Stores single(lo) and returns a bit per lane where single(lo) and
// single(hi) are the same float and the lane was valid.
inline int StoreDecided(float* result, Lanes lo, Lanes hi, Mask valid)
{
    const __m128 low = _mm_cvtpd_ps(lo);
    const __m128 high = _mm_cvtpd_ps(hi);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(result), _mm_castps_si128(low));
    const __m128i same = _mm_cmpeq_epi32(_mm_castps_si128(low), _mm_castps_si128(high));
    return _mm_movemask_ps(_mm_castsi128_ps(same)) & _mm_movemask_pd(valid);
}

}  // namespace sse2_lanes

AVX_CODE_BEGIN
namespace avx_lanes {

using Lanes = __m256d;
using Mask = __m256d;

inline Lanes Splat(double value) { return _mm256_set1_pd(value); }
inline Mask Less(Lanes a, Lanes b) { return _mm256_cmp_pd(a, b, _CMP_LT_OQ); }
// Not blendv: GCC 12 rewrites it as a comparison of the mask with zero,
// which AVX (no 256-bit integer compare) can only do lane by lane in scalar
// code.
inline Lanes Select(Mask mask, Lanes ifTrue, Lanes ifFalse)
{
    return _mm256_or_pd(_mm256_and_pd(mask, ifTrue), _mm256_andnot_pd(mask, ifFalse));
}
inline Lanes PolynomialCoefficient(Mask cosine, int n)
{
    return Select(cosine, Splat(exact_math_tables::cosFast[n]), Splat(exact_math_tables::sinFast[n]));
}
inline Lanes SignBits() { return _mm256_set1_pd(-0.0); }
inline Lanes Abs(Lanes value) { return _mm256_andnot_pd(SignBits(), value); }
inline Lanes XorSign(Lanes value, Lanes signSource)
{
    return _mm256_xor_pd(value, _mm256_and_pd(signSource, SignBits()));
}
// AVX has no 256-bit integer shifts: each half goes through the 128-bit ones
// (VEX-encoded here).
inline Lanes JoinHalves(__m128d low, __m128d high)
{
    return _mm256_insertf128_pd(_mm256_castpd128_pd256(low), high, 1);
}
inline __m128d BitAtSign(__m128d shifted, int bit)
{
    const __m128i moved = _mm_sll_epi64(_mm_castpd_si128(shifted), _mm_cvtsi32_si128(63 - bit));
    return _mm_castsi128_pd(_mm_and_si128(moved, _mm_set1_epi64x(static_cast<long long>(uint64_t{1} << 63))));
}
// A whole-lane mask from a compare: GCC turns a blend on a bare sign-bit
// mask into scalar code.
inline Mask OddQuadrant(Lanes shifted)
{
    const Lanes signedOne = _mm256_or_pd(
        JoinHalves(BitAtSign(_mm256_castpd256_pd128(shifted), 0), BitAtSign(_mm256_extractf128_pd(shifted, 1), 0)),
        Splat(1.0));
    return _mm256_cmp_pd(signedOne, _mm256_setzero_pd(), _CMP_LT_OQ);
}
inline Lanes FlipSignInUpperQuadrants(Lanes value, Lanes shifted)
{
    const Lanes bitOne =
        JoinHalves(BitAtSign(_mm256_castpd256_pd128(shifted), 1), BitAtSign(_mm256_extractf128_pd(shifted, 1), 1));
    return _mm256_xor_pd(value, bitOne);
}
inline Lanes TableLookup(const double* table, Lanes shifted)
{
    alignas(32) uint64_t bits[4];
    _mm256_store_pd(reinterpret_cast<double*>(bits), shifted);
    return _mm256_set_pd(table[bits[3] & 0xFF], table[bits[2] & 0xFF], table[bits[1] & 0xFF], table[bits[0] & 0xFF]);
}

#include "core/exact_math_lanes.inc"

const int width = 4;

inline Lanes LoadFloats(const float* x) { return _mm256_cvtps_pd(_mm_loadu_ps(x)); }

inline Lanes LoadInverseFloats(const float* x)
{
    const __m128 magnitude = _mm_andnot_ps(_mm_set1_ps(-0.0f), _mm_loadu_ps(x));
    return _mm256_cvtps_pd(_mm_div_ps(_mm_set1_ps(1.0f), magnitude));
}

inline int StoreDecided(float* result, Lanes lo, Lanes hi, Mask valid)
{
    const __m128 low = _mm256_cvtpd_ps(lo);
    const __m128 high = _mm256_cvtpd_ps(hi);
    _mm_storeu_ps(result, low);
    const __m128i same = _mm_cmpeq_epi32(_mm_castps_si128(low), _mm_castps_si128(high));
    return _mm_movemask_ps(_mm_castsi128_ps(same)) & _mm256_movemask_pd(valid);
}

}  // namespace avx_lanes
AVX_CODE_END

namespace {

// ---------------------------------------------------------------------------
// Argument reduction beyond the Cody-Waite range, for any finite float with
// |x| > pi/4 (Payne and Hanek): x = m 2^e with m < 2^24, and x 2/pi mod 4 is
// m times the bits of 2/pi from about 2^-e on, as an integer product; the
// bits before them add multiples of 4, those after them less than 2^-135.
// Returns k mod 4 and r = x - k pi/2, |r| <= pi/4, within 2^-101.8 relative
// (the fraction kept to 160 bits, summed within 10u^2, times pi/2 within
// 8u^2) and 2^-134 absolute (the 2/pi bits left out).
int ReduceByPayneHanek(float x, DoubleDouble* r)
{
    const uint32_t bits = FloatBits(x);
    const uint32_t mantissa = (bits & 0x7FFFFFu) | 0x800000u;
    const int exponent = static_cast<int>((bits >> 23) & 0xFF) - 150;
    // Words before firstWord weigh 2^(exponent - 32 (n + 1)) >= 4 or more.
    const int firstWord = exponent >= 2 ? (exponent - 2) / 32 : 0;
    const int shift = exponent - 32 * firstWord;  // -24 .. 33

    // product = mantissa x words firstWord .. firstWord + 5, little-endian
    // 32-bit limbs; x 2/pi = product 2^(shift - 192) mod 4.
    uint32_t product[7];
    uint64_t carry = 0;
    for (int limb = 0; limb < 6; ++limb) {
        const uint64_t partial =
            static_cast<uint64_t>(mantissa) * exact_math_tables::twoOverPiWords[firstWord + 5 - limb] + carry;
        product[limb] = static_cast<uint32_t>(partial);
        carry = partial >> 32;
    }
    product[6] = static_cast<uint32_t>(carry);

    // Shifted left by shift + 32 (8 .. 65 bits), the binary point falls
    // between limbs 6 and 7: limb 7 holds k mod 4, limbs 0 to 6 the fraction.
    uint32_t fixed[10] = {};
    const int amount = shift + 32;
    const int wordShift = amount / 32;
    const int bitShift = amount % 32;
    for (int limb = 0; limb < 7; ++limb) {
        const uint64_t wide = static_cast<uint64_t>(product[limb]) << bitShift;
        fixed[limb + wordShift] |= static_cast<uint32_t>(wide);
        fixed[limb + wordShift + 1] |= static_cast<uint32_t>(wide >> 32);
    }
    int quadrant = static_cast<int>(fixed[7] & 3);
    bool negative = false;
    if ((fixed[6] & 0x80000000u) != 0) {
        // Fraction 1/2 or more: the nearer quadrant is the next one, and
        // r = (fraction - 1) pi/2; take 2^224 - fraction in two's complement.
        quadrant = (quadrant + 1) & 3;
        negative = true;
        uint64_t increment = 1;
        for (int limb = 0; limb < 7; ++limb) {
            const uint64_t sum = static_cast<uint64_t>(~fixed[limb]) + increment;
            fixed[limb] = static_cast<uint32_t>(sum);
            increment = sum >> 32;
        }
    }
    int top = 6;
    while (top > 0 && fixed[top] == 0) {
        --top;
    }
    // Five limbs from the leading one: 160 bits, 128 beyond the first.
    DoubleDouble fraction = {0.0, 0.0};
    for (int limb = top >= 4 ? top - 4 : 0; limb <= top; ++limb) {
        fraction = AddDouble(fraction, static_cast<double>(fixed[limb]) * PowerOfTwo(32 * limb - 224));
    }
    const DoubleDouble halfPi = {exact_math_tables::halfPiTriple[0], exact_math_tables::halfPiTriple[1]};
    *r = Multiply(fraction, halfPi);
    // A negative x: -x = k pi/2 + r, so x = -k pi/2 - r.
    if ((bits & floatSignBit) != 0) {
        negative = !negative;
        quadrant = (4 - quadrant) & 3;
    }
    if (negative) {
        *r = Negate(*r);
    }
    return quadrant;
}

// x = k pi/2 + r for a double |x| < cameraArgumentLimit (|k| < 2^21), with
// pi/2 in five pieces, the first four of 32 bits: k times each of those is
// exact, x - k P0 is exact (Sterbenz), the next two subtractions are exact
// two-sums, and what is left (below 2^-47.6 before the rounding of its three
// additions) is summed in double: r within 6u^2|r| + 2^-133.
int ReduceCameraArgument(double x, DoubleDouble* r)
{
    using exact_math_tables::halfPiPieces;
    const double k = (x * exact_math_tables::twoOverPi[0] + roundingShifter) - roundingShifter;
    const double head = x - k * halfPiPieces[0];
    const DoubleDouble first = TwoSum(head, -(k * halfPiPieces[1]));
    const DoubleDouble second = TwoSum(first.hi, -(k * halfPiPieces[2]));
    const double rest = ((second.lo + first.lo) - k * halfPiPieces[3]) - k * halfPiPieces[4];
    *r = TwoSum(second.hi, rest);
    return static_cast<int>(k) & 3;
}

// sin r (or cos r) in double-double from the Taylor series through
// r^(2 terms + 1) (or r^(2 terms)), by Horner in z = r^2 with coefficients
// (-1)^n / (2n+1)! (or (-1)^n / (2n)!) from the generator. The first
// exactTerms coefficients are double-doubles; the ones after them, whose sum
// is below z^exactTerms / (2 exactTerms + 1)!, go through plain double
// Horner (within 3u of that sum).
DoubleDouble SeriesOfReduced(DoubleDouble r, bool cosine, int terms, int exactTerms)
{
    using exact_math_tables::inverseFactorialHi;
    using exact_math_tables::inverseFactorialLo;
    const int offset = cosine ? 0 : 1;
    const DoubleDouble z = Multiply(r, r);
    double tail = 0.0;
    for (int n = terms; n > exactTerms; --n) {
        const double sign = (n % 2 == 0) ? 1.0 : -1.0;
        tail = tail * z.hi + sign * inverseFactorialHi[2 * n + offset];
    }
    DoubleDouble series = {tail, 0.0};
    for (int n = exactTerms; n >= 1; --n) {
        const double sign = (n % 2 == 0) ? 1.0 : -1.0;
        const DoubleDouble term = {sign * inverseFactorialHi[2 * n + offset],
                                   sign * inverseFactorialLo[2 * n + offset]};
        series = Add(Multiply(series, z), term);
    }
    const DoubleDouble sum = AddDouble(Multiply(z, series), 1.0);
    // r (1 + z S) keeps the sign of a zero r.
    return cosine ? sum : Multiply(r, sum);
}

// The rounding tests. a is within e of the exact value; for a double-double
// a = hi + lo, fl(lo -+ 2e) is beyond lo -+ e as long as e >= 2^-105 |hi|
// (every slow bound is), so hi + fl(lo -+ 2e) brackets the exact value and
// their roundings bracket its rounding.
// Undecided, they still leave the nearest guess in *result.
bool DecideFastSingle(double a, double e, float* result)
{
    const float low = static_cast<float>(a - e);
    const float high = static_cast<float>(a + e);
    if (FloatBits(low) != FloatBits(high)) {
        *result = static_cast<float>(a);
        return false;
    }
    *result = low;
    return true;
}

bool DecideSingle(DoubleDouble a, double e, float* result)
{
    const float low = static_cast<float>(a.hi + (a.lo - 2.0 * e));
    const float high = static_cast<float>(a.hi + (a.lo + 2.0 * e));
    if (FloatBits(low) != FloatBits(high)) {
        *result = static_cast<float>(a.hi);
        return false;
    }
    *result = low;
    return true;
}

bool DecideDouble(DoubleDouble a, double e, double* result)
{
    const double low = a.hi + (a.lo - 2.0 * e);
    const double high = a.hi + (a.lo + 2.0 * e);
    if (DoubleBits(low) != DoubleBits(high)) {
        *result = a.hi;
        return false;
    }
    *result = low;
    return true;
}

// ---------------------------------------------------------------------------
// Sine, cosine and tangent of a float.

enum class Trig { Sine, Cosine, Tangent };

bool TrigFast(float x, Trig which, float* result)
{
    const uint32_t bits = FloatBits(x);
    if (IsNonFinite(bits) || IsZero(bits)) {
        return false;
    }
    const double value = x;
    double shifted;
    double absError;
    double r;
    if (AbsDouble(value) < codyWaiteLimit) {
        r = scalar_lanes::ReduceQuadrants(value, &shifted, &absError);
    } else {
        DoubleDouble reduced;
        shifted = roundingShifter + ReduceByPayneHanek(x, &reduced);
        r = reduced.hi + reduced.lo;
        absError = payneHanekAbsError;
    }
    double e;
    double a;
    if (which == Trig::Tangent) {
        a = scalar_lanes::TangentOfQuadrant(r, shifted, absError, &e);
    } else {
        a = scalar_lanes::SineOfQuadrant(r, which == Trig::Cosine ? shifted + 1.0 : shifted, absError, &e);
    }
    return DecideFastSingle(a, e, result);
}

bool TrigSlow(float x, Trig which, float* result)
{
    const uint32_t bits = FloatBits(x);
    if (IsNonFinite(bits) || IsZero(bits)) {
        return false;
    }
    DoubleDouble r = {static_cast<double>(x), 0.0};
    int quadrant = 0;
    double absError = 0.0;
    if (AbsDouble(r.hi) > 0.78539816) {
        quadrant = ReduceByPayneHanek(x, &r);
        absError = payneHanekAbsError;
    }
    if (which == Trig::Tangent) {
        const DoubleDouble sine = SeriesOfReduced(r, false, slowTerms, slowTerms);
        const DoubleDouble cosine = SeriesOfReduced(r, true, slowTerms, slowTerms);
        const DoubleDouble t = (quadrant & 1) != 0 ? Negate(Divide(cosine, sine)) : Divide(sine, cosine);
        // The slope 1 + t^2, taken a little high.
        const double slope = 1.0 + t.hi * t.hi * (1.0 + 0x1p-40);
        return DecideSingle(t, slowTanError * AbsDouble(t.hi) + absError * slope, result);
    }
    if (which == Trig::Cosine) {
        quadrant = (quadrant + 1) & 3;
    }
    DoubleDouble v = SeriesOfReduced(r, (quadrant & 1) != 0, slowTerms, slowTerms);
    if ((quadrant & 2) != 0) {
        v = Negate(v);
    }
    return DecideSingle(v, slowTrigError * AbsDouble(v.hi) + absError, result);
}

// The NaN and infinity results glibc gives natively: a NaN comes back
// quieted; sine, cosine and tangent of an infinity are the default NaN.
float TrigOfNonFinite(uint32_t bits)
{
    if ((bits & 0x007FFFFFu) != 0) {
        return FloatFromBits(bits | floatQuietBit);
    }
    return FloatFromBits(trigOfInfinityBits);
}

// The whole function: special cases, else the fast path, else the slow one;
// *path says which gave the result.
float TrigSingle(float x, Trig which, ExactPath* path)
{
    const uint32_t bits = FloatBits(x);
    *path = ExactPath::Special;
    if (IsNonFinite(bits)) {
        return TrigOfNonFinite(bits);
    }
    if (IsZero(bits)) {
        return which == Trig::Cosine ? 1.0f : x;
    }
    float result;
    *path = ExactPath::Fast;
    if (TrigFast(x, which, &result)) {
        return result;
    }
    *path = TrigSlow(x, which, &result) ? ExactPath::Slow : ExactPath::Undecided;
    return result;
}

// ---------------------------------------------------------------------------
// Arc tangent of a float.

bool AtanFast(float x, float* result)
{
    const uint32_t bits = FloatBits(x);
    if (IsNonFinite(bits) || IsZero(bits)) {
        return false;
    }
    double e;
    const float inverse = 1.0f / FloatFromBits(bits & ~floatSignBit);
    const double a = scalar_lanes::ArcTangent(x, inverse, &e);
    return DecideFastSingle(a, e, result);
}

// The fast path's reduction in double-double: c = i/64 near |x| or 1/|x|,
// numerator and denominator exact (see ArcTangent), delta = n/d within u^2
// (the division's remainder n - q d is exact: n - hi(q d) by Sterbenz, and
// the remainder is a double), and the series through delta^15.
bool AtanSlow(float x, float* result)
{
    using exact_math_tables::inverseOddHi;
    using exact_math_tables::inverseOddLo;
    const uint32_t bits = FloatBits(x);
    if (IsNonFinite(bits) || IsZero(bits)) {
        return false;
    }
    const double ax = AbsDouble(x);
    const bool big = ax > 1.0;
    const double t = big ? 1.0 / ax : ax;
    const int index = static_cast<int>(t * 64.0 + 0.5);
    const double c = index * (1.0 / 64.0);
    const double numerator = big ? 1.0 - c * ax : ax - c;
    const double denominator = big ? ax + c : 1.0 + c * ax;
    const double quotient = numerator / denominator;
    const DoubleDouble product = TwoProduct(quotient, denominator);
    const double remainder = (numerator - product.hi) - product.lo;
    const DoubleDouble delta = FastTwoSum(quotient, remainder / denominator);

    const DoubleDouble z = Multiply(delta, delta);
    DoubleDouble series = {0.0, 0.0};
    for (int n = 7; n >= 1; --n) {
        const double sign = (n % 2 == 0) ? 1.0 : -1.0;
        series = Add(Multiply(series, z), DoubleDouble{sign * inverseOddHi[n], sign * inverseOddLo[n]});
    }
    const DoubleDouble atanDelta = Multiply(delta, AddDouble(Multiply(z, series), 1.0));
    const DoubleDouble base =
        big ? DoubleDouble{exact_math_tables::atanComplementHi[index], exact_math_tables::atanComplementLo[index]}
            : DoubleDouble{exact_math_tables::atanTableHi[index], exact_math_tables::atanTableLo[index]};
    DoubleDouble v = big ? Add(base, Negate(atanDelta)) : Add(base, atanDelta);
    if (x < 0.0f) {
        v = Negate(v);
    }
    return DecideSingle(v, slowAtanError * AbsDouble(v.hi), result);
}

// ---------------------------------------------------------------------------
// Sine and cosine of a camera argument.

bool CameraSineOfQuadrant(double x, int quadrantOffset, int terms, int exactTerms, double relativeError, double* result)
{
    if (!(AbsDouble(x) < cameraArgumentLimit) || x == 0.0) {
        return false;
    }
    DoubleDouble r;
    const int quadrant = (ReduceCameraArgument(x, &r) + quadrantOffset) & 3;
    DoubleDouble v = SeriesOfReduced(r, (quadrant & 1) != 0, terms, exactTerms);
    if ((quadrant & 2) != 0) {
        v = Negate(v);
    }
    return DecideDouble(v, relativeError * AbsDouble(v.hi) + cameraAbsError, result);
}

double CameraSine(double x, int quadrantOffset, ExactPath* path)
{
    *path = ExactPath::Special;
    const uint64_t bits = DoubleBits(x);
    if ((bits & 0x7FF0000000000000u) == 0x7FF0000000000000u) {
        // NaN quieted; an infinity gives the default NaN, as glibc does.
        return (bits & 0x000FFFFFFFFFFFFFu) != 0 ? DoubleFromBits(bits | 0x0008000000000000u)
                                                 : DoubleFromBits(0xFFF8000000000000u);
    }
    if (x == 0.0) {
        return quadrantOffset == 0 ? x : 1.0;
    }
    if (!(AbsDouble(x) < cameraArgumentLimit)) {
        return DoubleFromBits(0x7FF8000000000000u);
    }
    double result;
    *path = ExactPath::Fast;
    if (CameraSineOfQuadrant(x, quadrantOffset, fastCameraTerms, fastCameraExactTerms, fastCameraError, &result)) {
        return result;
    }
    *path = CameraSineOfQuadrant(x, quadrantOffset, slowTerms, slowTerms, slowTrigError, &result)
                ? ExactPath::Slow
                : ExactPath::Undecided;
    return result;
}

// ---------------------------------------------------------------------------
// Batches: the fast path in lanes; lanes it leaves undecided (and zeros,
// huge or non-finite arguments) go through the scalar function, which gives
// the same correctly rounded float. Valid lanes are those the Cody-Waite
// reduction covers (a NaN compares false), or finite ones for the arc
// tangent. Each batch function handles whole groups of lanes and returns how
// many values it did.

}  // namespace

#define EXACT_MATH_LANE_BATCHES                                                              \
    struct SineKernel {                                                                      \
        static Lanes Run(const float* input, Mask* valid, Lanes* e)                          \
        {                                                                                    \
            const Lanes x = LoadFloats(input);                                               \
            *valid = Less(Abs(x), Splat(codyWaiteLimit));                                    \
            Lanes shifted;                                                                   \
            Lanes absError;                                                                  \
            const Lanes r = ReduceQuadrants(x, &shifted, &absError);                         \
            return SineOfQuadrant(r, shifted, absError, e);                                  \
        }                                                                                    \
    };                                                                                       \
    struct CosineKernel {                                                                    \
        static Lanes Run(const float* input, Mask* valid, Lanes* e)                          \
        {                                                                                    \
            const Lanes x = LoadFloats(input);                                               \
            *valid = Less(Abs(x), Splat(codyWaiteLimit));                                    \
            Lanes shifted;                                                                   \
            Lanes absError;                                                                  \
            const Lanes r = ReduceQuadrants(x, &shifted, &absError);                         \
            return SineOfQuadrant(r, shifted + Splat(1.0), absError, e);                     \
        }                                                                                    \
    };                                                                                       \
    struct TangentKernel {                                                                   \
        static Lanes Run(const float* input, Mask* valid, Lanes* e)                          \
        {                                                                                    \
            const Lanes x = LoadFloats(input);                                               \
            *valid = Less(Abs(x), Splat(codyWaiteLimit));                                    \
            Lanes shifted;                                                                   \
            Lanes absError;                                                                  \
            const Lanes r = ReduceQuadrants(x, &shifted, &absError);                         \
            return TangentOfQuadrant(r, shifted, absError, e);                               \
        }                                                                                    \
    };                                                                                       \
    struct ArcTangentKernel {                                                                \
        static Lanes Run(const float* input, Mask* valid, Lanes* e)                          \
        {                                                                                    \
            const Lanes x = LoadFloats(input);                                               \
            *valid = Less(Abs(x), Splat(3.5e38));                                            \
            return ArcTangent(x, LoadInverseFloats(input), e);                               \
        }                                                                                    \
    };                                                                                       \
    template <class Kernel>                                                                  \
    uint32_t RunBatch(const float* x, float* result, uint32_t count, float (*scalar)(float)) \
    {                                                                                        \
        uint32_t n = 0;                                                                      \
        for (; n + width <= count; n += width) {                                             \
            /* A copy: result may be x. */                                                   \
            float input[width];                                                              \
            std::memcpy(input, x + n, sizeof(input));                                        \
            Mask valid;                                                                      \
            Lanes e;                                                                         \
            const Lanes a = Kernel::Run(input, &valid, &e);                                  \
            const int decided = StoreDecided(result + n, a - e, a + e, valid);               \
            if (decided != (1 << width) - 1) {                                               \
                for (int lane = 0; lane < width; ++lane) {                                   \
                    if ((decided & (1 << lane)) == 0) {                                      \
                        result[n + lane] = scalar(input[lane]);                              \
                    }                                                                        \
                }                                                                            \
            }                                                                                \
        }                                                                                    \
        return n;                                                                            \
    }                                                                                        \
    uint32_t SineBatch(const float* x, float* result, uint32_t count)                        \
    {                                                                                        \
        return RunBatch<SineKernel>(x, result, count, SinSingle);                            \
    }                                                                                        \
    uint32_t CosineBatch(const float* x, float* result, uint32_t count)                      \
    {                                                                                        \
        return RunBatch<CosineKernel>(x, result, count, CosSingle);                          \
    }                                                                                        \
    uint32_t TangentBatch(const float* x, float* result, uint32_t count)                     \
    {                                                                                        \
        return RunBatch<TangentKernel>(x, result, count, TanSingle);                         \
    }                                                                                        \
    uint32_t ArcTangentBatch(const float* x, float* result, uint32_t count)                  \
    {                                                                                        \
        return RunBatch<ArcTangentKernel>(x, result, count, AtanSingle);                     \
    }

namespace sse2_lanes {
EXACT_MATH_LANE_BATCHES
}  // namespace sse2_lanes

AVX_CODE_BEGIN
namespace avx_lanes {
EXACT_MATH_LANE_BATCHES
}  // namespace avx_lanes
AVX_CODE_END

namespace {

// AVX groups of four where allowed, SSE2 pairs, then the scalar function
// for a last odd value.
void RunBatches(const float* x, float* result, uint32_t count, SimdLevel level,
                uint32_t (*avxBatch)(const float*, float*, uint32_t),
                uint32_t (*sse2Batch)(const float*, float*, uint32_t), float (*scalar)(float))
{
    uint32_t done = 0;
    if (level == SimdLevel::Avx) {
        done = avxBatch(x, result, count);
    }
    done += sse2Batch(x + done, result + done, count - done);
    for (; done < count; ++done) {
        result[done] = scalar(x[done]);
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// The public functions.

float SinSingleTraced(float x, ExactPath* path) { return TrigSingle(x, Trig::Sine, path); }
float CosSingleTraced(float x, ExactPath* path) { return TrigSingle(x, Trig::Cosine, path); }
float TanSingleTraced(float x, ExactPath* path) { return TrigSingle(x, Trig::Tangent, path); }

float AtanSingleTraced(float x, ExactPath* path)
{
    const uint32_t bits = FloatBits(x);
    *path = ExactPath::Special;
    if (IsNonFinite(bits)) {
        if ((bits & 0x007FFFFFu) != 0) {
            return FloatFromBits(bits | floatQuietBit);
        }
        // +-single(RN(pi/2)).
        return FloatFromBits((bits & floatSignBit) | 0x3FC90FDBu);
    }
    if (IsZero(bits)) {
        return x;
    }
    float result;
    *path = ExactPath::Fast;
    if (AtanFast(x, &result)) {
        return result;
    }
    *path = AtanSlow(x, &result) ? ExactPath::Slow : ExactPath::Undecided;
    return result;
}

double SinDoubleTraced(double x, ExactPath* path) { return CameraSine(x, 0, path); }
double CosDoubleTraced(double x, ExactPath* path) { return CameraSine(x, 1, path); }

// The functions the scene calls: the traced ones with the path dropped (the
// compiler drops its stores).
float SinSingle(float x)
{
    ExactPath path;
    return SinSingleTraced(x, &path);
}

float CosSingle(float x)
{
    ExactPath path;
    return CosSingleTraced(x, &path);
}

float TanSingle(float x)
{
    ExactPath path;
    return TanSingleTraced(x, &path);
}

float AtanSingle(float x)
{
    ExactPath path;
    return AtanSingleTraced(x, &path);
}

double SinDouble(double x)
{
    ExactPath path;
    return SinDoubleTraced(x, &path);
}

double CosDouble(double x)
{
    ExactPath path;
    return CosDoubleTraced(x, &path);
}

bool SinSingleFast(float x, float* result) { return TrigFast(x, Trig::Sine, result); }
bool CosSingleFast(float x, float* result) { return TrigFast(x, Trig::Cosine, result); }
bool TanSingleFast(float x, float* result) { return TrigFast(x, Trig::Tangent, result); }
bool AtanSingleFast(float x, float* result) { return AtanFast(x, result); }
bool SinSingleSlow(float x, float* result) { return TrigSlow(x, Trig::Sine, result); }
bool CosSingleSlow(float x, float* result) { return TrigSlow(x, Trig::Cosine, result); }
bool TanSingleSlow(float x, float* result) { return TrigSlow(x, Trig::Tangent, result); }
bool AtanSingleSlow(float x, float* result) { return AtanSlow(x, result); }
bool SinDoubleFast(double x, double* result)
{
    return CameraSineOfQuadrant(x, 0, fastCameraTerms, fastCameraExactTerms, fastCameraError, result);
}
bool CosDoubleFast(double x, double* result)
{
    return CameraSineOfQuadrant(x, 1, fastCameraTerms, fastCameraExactTerms, fastCameraError, result);
}
bool SinDoubleSlow(double x, double* result)
{
    return CameraSineOfQuadrant(x, 0, slowTerms, slowTerms, slowTrigError, result);
}
bool CosDoubleSlow(double x, double* result)
{
    return CameraSineOfQuadrant(x, 1, slowTerms, slowTerms, slowTrigError, result);
}

void SinSingleBatch(const float* x, float* result, uint32_t count, SimdLevel level)
{
    RunBatches(x, result, count, level, avx_lanes::SineBatch, sse2_lanes::SineBatch, SinSingle);
}

void CosSingleBatch(const float* x, float* result, uint32_t count, SimdLevel level)
{
    RunBatches(x, result, count, level, avx_lanes::CosineBatch, sse2_lanes::CosineBatch, CosSingle);
}

void TanSingleBatch(const float* x, float* result, uint32_t count, SimdLevel level)
{
    RunBatches(x, result, count, level, avx_lanes::TangentBatch, sse2_lanes::TangentBatch, TanSingle);
}

void AtanSingleBatch(const float* x, float* result, uint32_t count, SimdLevel level)
{
    RunBatches(x, result, count, level, avx_lanes::ArcTangentBatch, sse2_lanes::ArcTangentBatch, AtanSingle);
}
