// Rounding helpers for the simulation's exact arithmetic.
//
// The scene's results are fixed to the bit: every stored value is rounded to
// single precision at a chosen place, and everything between two roundings
// is done in double precision; hosts and dumps compared across builds rely
// on every one of those places. These helpers make each rounding an
// explicit call. The sine, cosine, tangent and arc tangent of a float are the
// scene's own, correctly rounded (core/exact_math.h): the exact value rounded
// to double, then to single, as every step of the maps requires, in every
// build and on every machine.
#pragma once

#include <emmintrin.h>

#include "core/exact_math.h"

// Rounds to single precision. A plain cast is enough because the core is
// built with -fno-tree-slp-vectorize (GCC 12's SLP vectorizer drops the
// rounding of paired libm results); the -O0 / release dump comparison in the
// test suite guards it.
inline float Single(double value) { return static_cast<float>(value); }

// The IEEE square root instruction: correctly rounded by definition, and no
// library call (std::sqrt may call the C runtime to set errno).
inline float SqrtSingle(float x)
{
    const __m128d value = _mm_set_sd(static_cast<double>(x));
    return static_cast<float>(_mm_cvtsd_f64(_mm_sqrt_sd(value, value)));
}

// Conversion toward zero to a 32-bit integer.
inline int Trunc(double value) { return static_cast<int>(value); }
