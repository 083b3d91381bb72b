// Rounding helpers for the simulation's exact arithmetic.
//
// The scene's results are fixed to the bit: every stored value is rounded to
// single precision at a chosen place, and everything between two roundings
// is done in double precision; hosts and dumps compared across builds rely
// on every one of those places. These helpers make each rounding an
// explicit call. The libm wrappers take a single-precision argument and round
// the double result to single precision, as every step of the maps requires.
#pragma once

#include <cmath>

// Rounds to single precision. A plain cast is enough because the core is
// built with -fno-tree-slp-vectorize (GCC 12's SLP vectorizer drops the
// rounding of paired libm results); the -O0 / release dump comparison in the
// test suite guards it.
inline float Single(double value) { return static_cast<float>(value); }

inline float SinSingle(float x) { return static_cast<float>(std::sin(static_cast<double>(x))); }
inline float CosSingle(float x) { return static_cast<float>(std::cos(static_cast<double>(x))); }
inline float TanSingle(float x) { return static_cast<float>(std::tan(static_cast<double>(x))); }
inline float AtanSingle(float x) { return static_cast<float>(std::atan(static_cast<double>(x))); }
inline float SqrtSingle(float x) { return static_cast<float>(std::sqrt(static_cast<double>(x))); }

// Conversion toward zero to a 32-bit integer.
inline int Trunc(double value) { return static_cast<int>(value); }
