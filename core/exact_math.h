// The scene's own sine, cosine, tangent and arc tangent, correctly rounded,
// so that every build (native, -O0, the 32-bit DLL with or without AVX, any
// C runtime, any processor) computes the same bits by construction.
//
// The float functions return single(RN_double(f(x))) for every float x:
// the exact value rounded to the nearest double, then to the nearest float,
// which is what the scene's formulas ask for and what a correctly rounded
// libm gives. A NaN argument comes back quieted with its payload and sign;
// sine, cosine and tangent of an infinity give the NaN 0xFFC00000, and the
// arc tangent of +-infinity gives +-single(pi/2): the bit patterns the
// native glibc build gave, which the golden dumps hold.
//
// The double functions serve the camera: x = RN(k / 1000) or RN(k / 1500)
// for any 32-bit k, so |x| <= 2147483.648; they return RN_double(f(x)) for
// every finite |x| < cameraArgumentLimit (beyond it, a quiet NaN).
//
// Each function runs a fast path whose error is bounded (see
// core/exact_math.cpp), tests whether the bound decides the rounding, and
// otherwise runs a much more accurate double-double path. Performance
// contract: the float functions cost a few tens of nanoseconds on the
// scene's arguments, a few hundred for one in a million; nothing allocates,
// nothing throws, nothing reads the C runtime's maths library.
#pragma once

#include <cstdint>

#include "core/simd_level.h"

float SinSingle(float x);
float CosSingle(float x);
float TanSingle(float x);
float AtanSingle(float x);

// |x| below this: the camera functions' whole domain (2^21 quadrants).
const double cameraArgumentLimit = 3145728.0;

double SinDouble(double x);
double CosDouble(double x);

// result[n] = SinSingle(x[n]) for n < count, bit for bit, two values at a
// time with SSE2 or four with AVX (level == SimdLevel::Avx, only where
// MachineSimdLevel() allows it). x and result may be the same array, not
// otherwise overlapping. Costs a fraction of count scalar calls.
void SinSingleBatch(const float* x, float* result, uint32_t count, SimdLevel level);
void CosSingleBatch(const float* x, float* result, uint32_t count, SimdLevel level);
void TanSingleBatch(const float* x, float* result, uint32_t count, SimdLevel level);
void AtanSingleBatch(const float* x, float* result, uint32_t count, SimdLevel level);

// The same functions telling which path gave the result, for the
// exhaustive proof: a special case (zero, infinity, NaN, a camera argument
// out of range), the fast path, the slow path, or neither (the slow path's
// bound did not decide either; no argument of the domain does that, and the
// result is then the slow path's nearest guess).
enum class ExactPath { Special, Fast, Slow, Undecided };
float SinSingleTraced(float x, ExactPath* path);
float CosSingleTraced(float x, ExactPath* path);
float TanSingleTraced(float x, ExactPath* path);
float AtanSingleTraced(float x, ExactPath* path);
double SinDoubleTraced(double x, ExactPath* path);
double CosDoubleTraced(double x, ExactPath* path);

// The two paths one at a time, for the tests: each returns true and sets
// *result when its error bound decides the rounding, false otherwise (and
// for a zero, an infinity or a NaN); undecided, *result holds its nearest
// guess. The full functions above are: special case, else fast, else slow.
bool SinSingleFast(float x, float* result);
bool CosSingleFast(float x, float* result);
bool TanSingleFast(float x, float* result);
bool AtanSingleFast(float x, float* result);
bool SinSingleSlow(float x, float* result);
bool CosSingleSlow(float x, float* result);
bool TanSingleSlow(float x, float* result);
bool AtanSingleSlow(float x, float* result);
bool SinDoubleFast(double x, double* result);
bool CosDoubleFast(double x, double* result);
bool SinDoubleSlow(double x, double* result);
bool CosDoubleSlow(double x, double* result);
