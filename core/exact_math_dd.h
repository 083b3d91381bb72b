// Double-double arithmetic for the accurate paths of the scene's exact
// functions: a value is the unevaluated sum hi + lo of two doubles with
// |lo| <= ulp(hi) / 2. Only IEEE double +, -, x and / in round-to-nearest,
// no fused multiply-add (the build forbids contraction), so every build
// rounds each operation alike.
//
// Error bounds, u = 2^-53 (Joldes, Muller and Popescu, "Tight and rigorous
// error bounds for basic building blocks of double-word arithmetic", 2017):
//  - TwoSum, FastTwoSum (|a| >= |b| or a = 0) and TwoProduct are exact;
//  - AddDouble(a, b) is within 2u^2 of a + b, relative;
//  - Add(a, b) is within 3u^2 / (1 - 4u) < 3.01u^2, relative;
//  - Multiply(a, b) is within 7u^2 (we use 8u^2), relative;
//  - Divide(a, b) is within 15u^2 + 56u^3 (we use 16u^2), relative.
// None allocates; all are inline and cost a few tens of flops.
#pragma once

struct DoubleDouble {
    double hi;
    double lo;
};

// a + b = s + e exactly, for any a and b (Knuth).
inline DoubleDouble TwoSum(double a, double b)
{
    const double s = a + b;
    const double bPart = s - a;
    const double aPart = s - bPart;
    return DoubleDouble{s, (a - aPart) + (b - bPart)};
}

// a + b = s + e exactly when |a| >= |b| or a is 0 (Dekker).
inline DoubleDouble FastTwoSum(double a, double b)
{
    const double s = a + b;
    return DoubleDouble{s, b - (s - a)};
}

// a = hi + lo with hi and lo of 26 significant bits each (Veltkamp), for
// |a| < 2^996.
inline void SplitDouble(double a, double* hi, double* lo)
{
    const double scaled = 134217729.0 * a;  // 2^27 + 1
    *hi = scaled - (scaled - a);
    *lo = a - *hi;
}

// a x b = p + e exactly (Dekker), barring underflow of e.
inline DoubleDouble TwoProduct(double a, double b)
{
    const double p = a * b;
    double aHi;
    double aLo;
    double bHi;
    double bLo;
    SplitDouble(a, &aHi, &aLo);
    SplitDouble(b, &bHi, &bLo);
    return DoubleDouble{p, ((aHi * bHi - p) + aHi * bLo + aLo * bHi) + aLo * bLo};
}

inline DoubleDouble AddDouble(DoubleDouble a, double b)
{
    const DoubleDouble s = TwoSum(a.hi, b);
    return FastTwoSum(s.hi, s.lo + a.lo);
}

inline DoubleDouble Add(DoubleDouble a, DoubleDouble b)
{
    DoubleDouble s = TwoSum(a.hi, b.hi);
    const DoubleDouble t = TwoSum(a.lo, b.lo);
    s = FastTwoSum(s.hi, s.lo + t.hi);
    return FastTwoSum(s.hi, s.lo + t.lo);
}

inline DoubleDouble Negate(DoubleDouble a) { return DoubleDouble{-a.hi, -a.lo}; }

inline DoubleDouble Multiply(DoubleDouble a, DoubleDouble b)
{
    const DoubleDouble p = TwoProduct(a.hi, b.hi);
    return FastTwoSum(p.hi, p.lo + (a.hi * b.lo + a.lo * b.hi));
}

inline DoubleDouble Divide(DoubleDouble a, DoubleDouble b)
{
    const double q = a.hi / b.hi;
    // a - q b, with q b exact as a double-double product.
    const DoubleDouble qb = Multiply(b, DoubleDouble{q, 0.0});
    const DoubleDouble rest = Add(a, Negate(qb));
    return FastTwoSum(q, rest.hi / b.hi);
}
