// The bit patterns of floats and doubles, and back: memcpy, the one way C++17
// allows, which every compiler turns into a register move.
#pragma once

#include <cstdint>
#include <cstring>

inline uint32_t FloatBits(float x)
{
    uint32_t bits;
    std::memcpy(&bits, &x, sizeof(bits));
    return bits;
}

inline float FloatFromBits(uint32_t bits)
{
    float x;
    std::memcpy(&x, &bits, sizeof(x));
    return x;
}

inline uint64_t DoubleBits(double x)
{
    uint64_t bits;
    std::memcpy(&bits, &x, sizeof(bits));
    return bits;
}

inline double DoubleFromBits(uint64_t bits)
{
    double x;
    std::memcpy(&x, &bits, sizeof(x));
    return x;
}

// Either width, for code that compares results of both.
inline uint32_t Bits(float x) { return FloatBits(x); }
inline uint64_t Bits(double x) { return DoubleBits(x); }
