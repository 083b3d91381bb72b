// Writes core/exact_math_tables.h: every number the scene's own sine,
// cosine, tangent and arc tangent use, derived here with MPFR at 400 bits.
// Built natively only; the scene never links MPFR.
//
//   exact_math_gen > core/exact_math_tables.h
//
// The fast polynomials are Taylor series economized with Chebyshev
// polynomials: starting from a long Taylor series whose remainder is bounded
// by its first omitted term (the series alternate and their terms shrink on
// the interval), each economization step subtracts c * T(z) with |T| <= 1 on
// the interval, which moves the polynomial by at most |c| everywhere. The
// bound printed beside each polynomial is the sum of those, plus what
// rounding the coefficients to double moves it: no sampling anywhere.
#include <mpfr.h>

#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

const mpfr_prec_t precision = 400;

struct Big {
    mpfr_t v;
    Big()
    {
        mpfr_init2(v, precision);
        mpfr_set_ui(v, 0, MPFR_RNDN);
    }
    Big(const Big& o)
    {
        mpfr_init2(v, precision);
        mpfr_set(v, o.v, MPFR_RNDN);
    }
    Big& operator=(const Big& o)
    {
        mpfr_set(v, o.v, MPFR_RNDN);
        return *this;
    }
    ~Big() { mpfr_clear(v); }
};

double ToDouble(const Big& b) { return mpfr_get_d(b.v, MPFR_RNDN); }

// value = hi + lo with hi = RN(value), lo = RN(value - hi).
void Split2(const Big& value, double* hi, double* lo)
{
    Big rest;
    *hi = ToDouble(value);
    mpfr_sub_d(rest.v, value.v, *hi, MPFR_RNDN);
    *lo = ToDouble(rest);
}

double Log2Abs(const Big& b)
{
    if (mpfr_zero_p(b.v))
        return -9999;
    Big a;
    mpfr_abs(a.v, b.v, MPFR_RNDN);
    mpfr_log2(a.v, a.v, MPFR_RNDN);
    return ToDouble(a);
}

void PrintDoubles(const char* name, const std::vector<double>& values, const char* comment)
{
    std::printf("// %s\nconst double %s[%zu] = {\n", comment, name, values.size());
    for (double v : values)
        std::printf("    %a,\n", v);
    std::printf("};\n\n");
}

// Coefficients (in z) of a series f(r) = r^p * sum a_n z^n, z = r^2, with
// a_n = sign * 1/(2n+p)! (sine p = 1 starting at n = 1 of sin(r)/r - 1, etc.)
// Economizes P(z) = sum_{n<terms} a_n z^n to `keep` coefficients on
// [0, zMax]; returns the coefficients and adds to *bound the largest change.
std::vector<Big> Economize(std::vector<Big> c, size_t keep, const Big& zMax, Big* bound)
{
    // Shifted Chebyshev polynomial T*_m(z) = T_m(2 z / zMax - 1), as
    // coefficients in z, built by the recurrence T_{m+1} = 2 t T_m - T_{m-1}.
    while (c.size() > keep) {
        const size_t m = c.size() - 1;
        std::vector<std::vector<Big>> t(m + 1);
        t[0].assign(1, Big());
        mpfr_set_ui(t[0][0].v, 1, MPFR_RNDN);
        Big twoOverZ;
        mpfr_ui_div(twoOverZ.v, 2, zMax.v, MPFR_RNDN);
        if (m >= 1) {
            t[1].assign(2, Big());
            mpfr_set_si(t[1][0].v, -1, MPFR_RNDN);
            mpfr_set(t[1][1].v, twoOverZ.v, MPFR_RNDN);
        }
        for (size_t j = 1; j < m; ++j) {
            t[j + 1].assign(j + 2, Big());
            for (size_t i = 0; i <= j; ++i) {
                Big term;
                // 2 (2z/zMax - 1) T_j
                mpfr_mul(term.v, t[j][i].v, twoOverZ.v, MPFR_RNDN);
                mpfr_mul_ui(term.v, term.v, 2, MPFR_RNDN);
                mpfr_add(t[j + 1][i + 1].v, t[j + 1][i + 1].v, term.v, MPFR_RNDN);
                mpfr_mul_ui(term.v, t[j][i].v, 2, MPFR_RNDN);
                mpfr_sub(t[j + 1][i].v, t[j + 1][i].v, term.v, MPFR_RNDN);
            }
            for (size_t i = 0; i < t[j - 1].size(); ++i) {
                mpfr_sub(t[j + 1][i].v, t[j + 1][i].v, t[j - 1][i].v, MPFR_RNDN);
            }
        }
        Big factor;
        mpfr_div(factor.v, c[m].v, t[m][m].v, MPFR_RNDN);
        for (size_t i = 0; i <= m; ++i) {
            Big term;
            mpfr_mul(term.v, factor.v, t[m][i].v, MPFR_RNDN);
            mpfr_sub(c[i].v, c[i].v, term.v, MPFR_RNDN);
        }
        c.pop_back();
        Big change;
        mpfr_abs(change.v, factor.v, MPFR_RNDU);
        mpfr_add(bound->v, bound->v, change.v, MPFR_RNDU);
    }
    return c;
}

// Rounds coefficients to double; adds sum |c - RN(c)| zMax^n to *bound.
std::vector<double> RoundCoefficients(const std::vector<Big>& c, const Big& zMax, Big* bound)
{
    std::vector<double> out;
    Big power;
    mpfr_set_ui(power.v, 1, MPFR_RNDN);
    for (const Big& value : c) {
        const double d = ToDouble(value);
        Big diff;
        mpfr_sub_d(diff.v, value.v, d, MPFR_RNDN);
        mpfr_abs(diff.v, diff.v, MPFR_RNDU);
        mpfr_mul(diff.v, diff.v, power.v, MPFR_RNDU);
        mpfr_add(bound->v, bound->v, diff.v, MPFR_RNDU);
        mpfr_mul(power.v, power.v, zMax.v, MPFR_RNDU);
        out.push_back(d);
    }
    return out;
}

// 1/n! with the given sign pattern: entry n of the result is
// (-1)^n / (2n + first)!.
std::vector<Big> AlternatingFactorials(size_t count, unsigned first)
{
    std::vector<Big> c(count);
    for (size_t n = 0; n < count; ++n) {
        mpfr_fac_ui(c[n].v, 2 * n + first, MPFR_RNDN);
        mpfr_ui_div(c[n].v, 1, c[n].v, MPFR_RNDN);
        if (n % 2 == 1)
            mpfr_neg(c[n].v, c[n].v, MPFR_RNDN);
    }
    return c;
}

void PrintTwoOverPiWords(const Big& twoOverPi)
{
    // Bits of 2/pi after the binary point, 32 to a word, most significant
    // first: enough for the largest float (2^128) and 192 bits beyond.
    Big frac;
    mpfr_set(frac.v, twoOverPi.v, MPFR_RNDN);
    std::printf("// 2/pi = 0.w[0] w[1] ... in binary, 32 bits a word.\nconst uint32_t twoOverPiWords[12] = {\n");
    for (int n = 0; n < 12; ++n) {
        mpfr_mul_2ui(frac.v, frac.v, 32, MPFR_RNDN);
        Big whole;
        mpfr_floor(whole.v, frac.v);
        std::printf("    0x%08lxu,\n", mpfr_get_ui(whole.v, MPFR_RNDN));
        mpfr_sub(frac.v, frac.v, whole.v, MPFR_RNDN);
    }
    std::printf("};\n\n");
}

void PrintHalfPiPieces(const Big& halfPi, const Big& twoOverPi)
{
    // pi/2 in pieces of 32 significant bits (pieces 0 to 3, truncated), and
    // the rest rounded to a double (piece 4): k times a 32-bit piece is exact
    // for |k| < 2^21.
    Big rest;
    mpfr_set(rest.v, halfPi.v, MPFR_RNDN);
    std::vector<double> pieces;
    for (int n = 0; n < 4; ++n) {
        Big piece;
        mpfr_prec_round(piece.v, 32, MPFR_RNDN);
        mpfr_set(piece.v, rest.v, MPFR_RNDZ);
        mpfr_prec_round(piece.v, precision, MPFR_RNDN);
        pieces.push_back(ToDouble(piece));
        mpfr_sub(rest.v, rest.v, piece.v, MPFR_RNDN);
    }
    pieces.push_back(ToDouble(rest));
    mpfr_sub_d(rest.v, rest.v, pieces.back(), MPFR_RNDN);
    // The fast reduction's third constant: RN(pi/2 - piece 0 - piece 1).
    Big tail;
    mpfr_sub_d(tail.v, halfPi.v, pieces[0], MPFR_RNDN);
    mpfr_sub_d(tail.v, tail.v, pieces[1], MPFR_RNDN);
    const double tailDouble = ToDouble(tail);
    mpfr_sub_d(tail.v, tail.v, tailDouble, MPFR_RNDN);
    std::printf("// |pi/2 - piece 0 - piece 1 - halfPiFastTail| = 2^%.1f\n", Log2Abs(tail));
    PrintDoubles("halfPiFastTail", {tailDouble}, "RN(pi/2 - piece 0 - piece 1), |it| < 2^-65.");
    std::printf("// |pi/2 - (sum of the five pieces)| = 2^%.1f\n", Log2Abs(rest));
    PrintDoubles("halfPiPieces", pieces, "pi/2 = sum of these; the first four have 32 significant bits (truncations).");
    double hi, lo;
    Split2(halfPi, &hi, &lo);
    Big third;
    mpfr_sub_d(third.v, halfPi.v, hi, MPFR_RNDN);
    mpfr_sub_d(third.v, third.v, lo, MPFR_RNDN);
    PrintDoubles("halfPiTriple", {hi, lo, ToDouble(third)}, "pi/2 as an unevaluated sum of three doubles.");
    PrintDoubles("twoOverPi", {ToDouble(twoOverPi)}, "2/pi rounded to double.");
}

// Fast sine and cosine on |r| <= rho, rho a little above pi/4 (the quadrant
// k comes from x * 2/pi rounded, which can put r past pi/4 by a hair).
const double rho = 0.7854;  // > pi/4 + 2^-20

void PrintSinePolynomial(const Big& zMax)
{
    // sin r = r (1 + z P(z)): P's coefficients are (-1)^(n+1)/(2n+3)!.
    // Taylor through z^12 inside P: remainder below rho^26/27!.
    std::vector<Big> c = AlternatingFactorials(13, 3);
    for (Big& v : c)
        mpfr_neg(v.v, v.v, MPFR_RNDN);
    Big bound;
    mpfr_fac_ui(bound.v, 27, MPFR_RNDD);
    mpfr_ui_div(bound.v, 1, bound.v, MPFR_RNDU);
    c = Economize(c, 5, zMax, &bound);
    std::vector<double> d = RoundCoefficients(c, zMax, &bound);
    // Relative to sin r: |r z e| / |sin r| <= zMax e (rho / sin rho).
    Big relative;
    mpfr_mul(relative.v, bound.v, zMax.v, MPFR_RNDU);
    mpfr_mul_d(relative.v, relative.v, 1.1108, MPFR_RNDU);  // rho / sin(rho) < 1.1108
    std::printf(
        "// sin r = r (1 + z P(z)), z = r^2, |r| <= %.4f: |P - exact| <= 2^%.2f,\n"
        "// so sin is approximated within 2^%.2f relative.\n",
        rho, Log2Abs(bound), Log2Abs(relative));
    PrintDoubles("sinFast", d, "P(z) coefficients, constant term first.");
}

void PrintCosinePolynomial(const Big& zMax)
{
    // cos r = 1 + z Q(z): Q's coefficients (-1)^(n+1)/(2n+2)!.
    std::vector<Big> c = AlternatingFactorials(13, 2);
    for (Big& v : c)
        mpfr_neg(v.v, v.v, MPFR_RNDN);
    Big bound;
    mpfr_fac_ui(bound.v, 28, MPFR_RNDD);
    mpfr_ui_div(bound.v, 1, bound.v, MPFR_RNDU);
    c = Economize(c, 5, zMax, &bound);
    std::vector<double> d = RoundCoefficients(c, zMax, &bound);
    // Relative to cos r >= cos(rho) > 0.7071: z e / 0.7071.
    Big relative;
    mpfr_mul(relative.v, bound.v, zMax.v, MPFR_RNDU);
    mpfr_div_d(relative.v, relative.v, 0.7071, MPFR_RNDU);
    std::printf(
        "// cos r = 1 + z Q(z), |r| <= %.4f: |Q - exact| <= 2^%.2f, so cos is approximated\n"
        "// within 2^%.2f relative.\n",
        rho, Log2Abs(bound), Log2Abs(relative));
    PrintDoubles("cosFast", d, "Q(z) coefficients, constant term first (-1/2 ...).");
}

void PrintInverseFactorials()
{
    // Double-double Taylor coefficients 1/n! for the accurate paths.
    std::vector<double> hi, lo;
    for (unsigned n = 0; n <= 40; ++n) {
        Big f;
        mpfr_fac_ui(f.v, n, MPFR_RNDN);
        mpfr_ui_div(f.v, 1, f.v, MPFR_RNDN);
        double h, l;
        Split2(f, &h, &l);
        hi.push_back(h);
        lo.push_back(l);
    }
    PrintDoubles("inverseFactorialHi", hi,
                 "1/n! = inverseFactorialHi[n] + inverseFactorialLo[n] (within 2^-106 relative).");
    PrintDoubles("inverseFactorialLo", lo, "Low parts of 1/n!.");
}

void PrintArcTangentTables(const Big& halfPi)
{
    // Arc tangent: atan(i/64) and pi/2 - atan(i/64), i = 0..64, as
    // double-doubles; and 1/(2n+1) for its series.
    std::vector<double> hi, lo, chi, clo;
    for (int i = 0; i <= 64; ++i) {
        Big a, c;
        mpfr_set_ui(a.v, i, MPFR_RNDN);
        mpfr_div_ui(a.v, a.v, 64, MPFR_RNDN);
        mpfr_atan(a.v, a.v, MPFR_RNDN);
        mpfr_sub(c.v, halfPi.v, a.v, MPFR_RNDN);
        double h, l;
        Split2(a, &h, &l);
        hi.push_back(h);
        lo.push_back(l);
        Split2(c, &h, &l);
        chi.push_back(h);
        clo.push_back(l);
    }
    PrintDoubles("atanTableHi", hi, "atan(i/64) = atanTableHi[i] + atanTableLo[i].");
    PrintDoubles("atanTableLo", lo, "Low parts of atan(i/64).");
    PrintDoubles("atanComplementHi", chi, "pi/2 - atan(i/64) = atanComplementHi[i] + atanComplementLo[i].");
    PrintDoubles("atanComplementLo", clo, "Low parts of pi/2 - atan(i/64).");
    std::vector<double> oh, ol;
    for (unsigned n = 0; n <= 20; ++n) {
        Big f;
        mpfr_set_ui(f.v, 1, MPFR_RNDN);
        mpfr_div_ui(f.v, f.v, 2 * n + 1, MPFR_RNDN);
        double h, l;
        Split2(f, &h, &l);
        oh.push_back(h);
        ol.push_back(l);
    }
    PrintDoubles("inverseOddHi", oh, "1/(2n+1) = inverseOddHi[n] + inverseOddLo[n].");
    PrintDoubles("inverseOddLo", ol, "Low parts of 1/(2n+1).");
}

}  // namespace

int main()
{
    Big pi, halfPi, twoOverPi;
    mpfr_const_pi(pi.v, MPFR_RNDN);
    mpfr_div_ui(halfPi.v, pi.v, 2, MPFR_RNDN);
    mpfr_ui_div(twoOverPi.v, 2, pi.v, MPFR_RNDN);

    std::printf(
        "// Generated by tools/math-gen/exact_math_gen.cpp (MPFR, 400 bits); do not edit.\n"
        "// Regenerate: build/native/tools/math-gen/exact_math_gen > core/exact_math_tables.h\n"
        "#pragma once\n\n#include <cstdint>\n\nnamespace exact_math_tables {\n\n");

    PrintTwoOverPiWords(twoOverPi);
    PrintHalfPiPieces(halfPi, twoOverPi);
    Big zMax;  // rho^2, rounded up
    mpfr_set_d(zMax.v, rho, MPFR_RNDU);
    mpfr_mul(zMax.v, zMax.v, zMax.v, MPFR_RNDU);
    PrintSinePolynomial(zMax);
    PrintCosinePolynomial(zMax);
    PrintInverseFactorials();
    PrintArcTangentTables(halfPi);
    std::printf("}  // namespace exact_math_tables\n");
    return 0;
}
