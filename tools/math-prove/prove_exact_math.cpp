// The exhaustive proof of the scene's exact functions (`make prove-math`,
// not part of `make check`: about half an hour on two cores).
//
// For each float function, every one of the 2^32 inputs, NaNs and
// infinities included; for the camera functions, every 32-bit k of
// sin(k/1000), cos(k/1000) and sin(k/1500). Each result is compared with
// glibc's (single(glibc(double(x))) for the float functions) bit for bit,
// and every disagreement, and every input whose fast path left the rounding
// undecided, is checked against MPFR: the exact value rounded to double by
// MPFR's own correct rounding (then to single), and at 256 bits for the
// margin, the distance from the exact value to the nearest point where the
// rounded result would change, in units of the last place of a double.
// The batch functions (SSE2, and AVX where the machine has it) run over the
// same inputs and must give the scalar function's bits.
// Prints, per function, the inputs run, the disagreements with glibc and who
// is right (counts, and the first few), the slow-path inputs, and the
// smallest margin; writes the disagreements (for the camera functions, where
// there are millions, an even sample of them) and the hardest cases to the
// data file the bounded test reads (tests/data/exact_math_cases.txt).
//
//   prove_exact_math [--stride N] [--cases FILE] [FUNCTION...]
#include <mpfr.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/bits.h"
#include "core/exact_math.h"

namespace {

const int threadCount = 2;
// Per function: the hardest slow-path inputs kept for the bounded test, the
// disagreements printed, and (glibc's double sine misses by an ulp about
// once in 700 camera arguments) at most this many kept, evenly spread.
const size_t hardestKept = 40;
const size_t disagreementsPrinted = 12;
const uint64_t disagreementsKept = 200;

// glibc's functions through volatile pointers, so that nothing is folded or
// merged into sincos.
double (*volatile glibcSin)(double) = std::sin;
double (*volatile glibcCos)(double) = std::cos;
double (*volatile glibcTan)(double) = std::tan;
double (*volatile glibcAtan)(double) = std::atan;

struct FloatFunction {
    const char* name;
    float (*ours)(float, ExactPath*);
    void (*batch)(const float*, float*, uint32_t, SimdLevel);
    double (*volatile* glibc)(double);
    int (*exact)(mpfr_ptr, mpfr_srcptr, mpfr_rnd_t);
};

struct CameraFunction {
    const char* name;
    double (*ours)(double, ExactPath*);
    double (*volatile* glibc)(double);
    int (*exact)(mpfr_ptr, mpfr_srcptr, mpfr_rnd_t);
    double divisor;
};

const FloatFunction floatFunctions[] = {
    {"sin", SinSingleTraced, SinSingleBatch, &glibcSin, mpfr_sin},
    {"cos", CosSingleTraced, CosSingleBatch, &glibcCos, mpfr_cos},
    {"tan", TanSingleTraced, TanSingleBatch, &glibcTan, mpfr_tan},
    {"atan", AtanSingleTraced, AtanSingleBatch, &glibcAtan, mpfr_atan},
};

const CameraFunction cameraFunctions[] = {
    {"sin_k_1000", SinDoubleTraced, &glibcSin, mpfr_sin, 1000.0},
    {"cos_k_1000", CosDoubleTraced, &glibcCos, mpfr_cos, 1000.0},
    {"sin_k_1500", SinDoubleTraced, &glibcSin, mpfr_sin, 1500.0},
};

// One input worth a closer look: the raw input (float bits, or k), ours,
// glibc's, and whether the slow path decided it.
struct Finding {
    uint32_t input;
    uint64_t ours;
    uint64_t glibc;
    bool slowPath;
    bool slowUndecided;
    bool fastMismatch;  // a special case taken for an ordinary input, or the other way
};

struct Tally {
    uint64_t inputs = 0;
    uint64_t slowPath = 0;
    uint64_t batchInputs = 0;
    uint64_t batchApart = 0;
    std::vector<Finding> findings;
};

// The exact f(x) rounded to double by MPFR (correct rounding at 53 bits,
// subnormals emulated), and at 256 bits.
double ExactDouble(int (*f)(mpfr_ptr, mpfr_srcptr, mpfr_rnd_t), double x, mpfr_t wide)
{
    mpfr_t in;
    mpfr_t out;
    mpfr_init2(in, 53);
    mpfr_init2(out, 53);
    mpfr_set_d(in, x, MPFR_RNDN);
    const mpfr_exp_t emin = mpfr_get_emin();
    const mpfr_exp_t emax = mpfr_get_emax();
    mpfr_set_emin(-1073);
    mpfr_set_emax(1024);
    const int inexact = f(out, in, MPFR_RNDN);
    mpfr_subnormalize(out, inexact, MPFR_RNDN);
    const double result = mpfr_get_d(out, MPFR_RNDN);
    mpfr_set_emin(emin);
    mpfr_set_emax(emax);
    f(wide, in, MPFR_RNDN);
    mpfr_clear(in);
    mpfr_clear(out);
    return result;
}

// Distance from the exact value to the nearest point where the rounded
// result changes, in ulps of a double, as log2. For a float result the
// points are m +- ulp_double / 2 around each midpoint m between floats; for
// a double result, the midpoints between doubles.
double MarginLog2(mpfr_t exact, bool singleResult)
{
    if (mpfr_zero_p(exact) || !mpfr_number_p(exact)) {
        return 0.0;
    }
    mpfr_t a, scaled, t;
    mpfr_inits2(300, a, scaled, t, static_cast<mpfr_ptr>(nullptr));
    mpfr_abs(a, exact, MPFR_RNDN);
    const long e = mpfr_get_exp(a);  // a in [2^(e-1), 2^e)
    const long doubleUlp = std::max(e - 53, -1074L);
    double margin;
    if (singleResult) {
        const long floatUlp = std::max(e - 24, -149L);
        // position within the float ulp, in double ulps: distance to the
        // float midpoint then to midpoint +- half a double ulp.
        mpfr_mul_2si(scaled, a, -floatUlp, MPFR_RNDN);
        mpfr_floor(t, scaled);
        mpfr_sub(scaled, scaled, t, MPFR_RNDN);      // [0, 1)
        mpfr_sub_d(scaled, scaled, 0.5, MPFR_RNDN);  // from the midpoint
        mpfr_abs(scaled, scaled, MPFR_RNDN);
        mpfr_mul_2si(scaled, scaled, floatUlp - doubleUlp, MPFR_RNDN);  // in double ulps
        mpfr_sub_d(scaled, scaled, 0.5, MPFR_RNDN);
        mpfr_abs(scaled, scaled, MPFR_RNDN);
        margin = mpfr_get_d(scaled, MPFR_RNDN);
    } else {
        mpfr_mul_2si(scaled, a, -doubleUlp, MPFR_RNDN);
        mpfr_floor(t, scaled);
        mpfr_sub(scaled, scaled, t, MPFR_RNDN);
        mpfr_sub_d(scaled, scaled, 0.5, MPFR_RNDN);
        mpfr_abs(scaled, scaled, MPFR_RNDN);
        margin = mpfr_get_d(scaled, MPFR_RNDN);
    }
    mpfr_clears(a, scaled, t, static_cast<mpfr_ptr>(nullptr));
    return margin > 0 ? std::log2(margin) : -2000.0;
}

// Inputs go in blocks of blockSize consecutive ones; thread t takes blocks
// t, t + 2, ...; with a stride, only every stride-th block runs.
const uint64_t blockSize = 4096;
const uint64_t blockCount = (uint64_t{1} << 32) / blockSize;

void RunFloatSlice(const FloatFunction& function, uint64_t first, uint64_t stride, Tally* tally)
{
    double (*glibc)(double) = *function.glibc;
    std::vector<float> x(blockSize);
    std::vector<float> sse2(blockSize);
    std::vector<float> avx(blockSize);
    const bool haveAvx = MachineSimdLevel() == SimdLevel::Avx;
    for (uint64_t block = first * stride; block < blockCount; block += stride * threadCount) {
        for (uint64_t j = 0; j < blockSize; ++j) {
            x[j] = FloatFromBits(static_cast<uint32_t>(block * blockSize + j));
        }
        function.batch(x.data(), sse2.data(), blockSize, SimdLevel::Sse2);
        if (haveAvx) {
            function.batch(x.data(), avx.data(), blockSize, SimdLevel::Avx);
        }
        for (uint64_t j = 0; j < blockSize; ++j) {
            const uint32_t bits = static_cast<uint32_t>(block * blockSize + j);
            ExactPath path;
            const float ours = function.ours(x[j], &path);
            const float theirs = static_cast<float>(glibc(static_cast<double>(x[j])));
            const bool slowPath = path == ExactPath::Slow || path == ExactPath::Undecided;
            const bool slowUndecided = path == ExactPath::Undecided;
            // Only zeros, infinities and NaNs are special.
            const bool special = (bits & 0x7F800000u) == 0x7F800000u || (bits & 0x7FFFFFFFu) == 0;
            const bool fastMismatch = (path == ExactPath::Special) != special;
            ++tally->inputs;
            tally->slowPath += slowPath;
            tally->batchInputs += haveAvx ? 2 : 1;
            tally->batchApart += FloatBits(sse2[j]) != FloatBits(ours);
            tally->batchApart += haveAvx && FloatBits(avx[j]) != FloatBits(ours);
            if (slowPath || FloatBits(ours) != FloatBits(theirs) || fastMismatch) {
                tally->findings.push_back(
                    Finding{bits, FloatBits(ours), FloatBits(theirs), slowPath, slowUndecided, fastMismatch});
            }
        }
    }
}

void RunCameraSlice(const CameraFunction& function, uint64_t first, uint64_t stride, Tally* tally)
{
    double (*glibc)(double) = *function.glibc;
    for (uint64_t block = first * stride; block < blockCount; block += stride * threadCount) {
        for (uint64_t n = block * blockSize; n < (block + 1) * blockSize; ++n) {
            const int32_t k = static_cast<int32_t>(static_cast<uint32_t>(n));
            const double x = static_cast<double>(k) / function.divisor;
            ExactPath path;
            const double ours = function.ours(x, &path);
            const double theirs = glibc(x);
            const bool slowPath = path == ExactPath::Slow || path == ExactPath::Undecided;
            const bool slowUndecided = path == ExactPath::Undecided;
            // Only k = 0 is special: every other clock is in the domain.
            const bool fastMismatch = (path == ExactPath::Special) != (k == 0);
            ++tally->inputs;
            tally->slowPath += slowPath;
            if (slowPath || DoubleBits(ours) != DoubleBits(theirs) || fastMismatch) {
                tally->findings.push_back(Finding{static_cast<uint32_t>(n), DoubleBits(ours), DoubleBits(theirs),
                                                  slowPath, slowUndecided, fastMismatch});
            }
        }
    }
}

template <class Function, class Slice>
Tally RunInThreads(const Function& function, uint64_t stride, Slice slice)
{
    Tally tallies[threadCount];
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back(slice, std::cref(function), static_cast<uint64_t>(t), stride, &tallies[t]);
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    Tally all;
    for (Tally& tally : tallies) {
        all.inputs += tally.inputs;
        all.slowPath += tally.slowPath;
        all.batchInputs += tally.batchInputs;
        all.batchApart += tally.batchApart;
        all.findings.insert(all.findings.end(), tally.findings.begin(), tally.findings.end());
    }
    std::sort(all.findings.begin(), all.findings.end(),
              [](const Finding& a, const Finding& b) { return a.input < b.input; });
    return all;
}

struct Hard {
    double margin;
    uint32_t input;
    uint64_t expected;
};

// The input as the data file writes it: float bits, or k.
std::string InputText(bool singleResult, uint32_t input)
{
    char text[32];
    if (singleResult) {
        std::snprintf(text, sizeof(text), "0x%08x", input);
    } else {
        std::snprintf(text, sizeof(text), "%d", static_cast<int32_t>(input));
    }
    return text;
}

// One disagreement with glibc, as the report prints it.
std::string DescribeDisagreement(bool singleResult, const Finding& finding, double x, mpfr_t wide, uint64_t expected,
                                 const char* verdict)
{
    char line[320];
    if (singleResult) {
        std::snprintf(line, sizeof(line),
                      "  x = 0x%08x (%.9g): ours 0x%08x, glibc 0x%08x; MPFR %.17g rounds to 0x%08x: %s right\n",
                      finding.input, x, static_cast<uint32_t>(finding.ours), static_cast<uint32_t>(finding.glibc),
                      mpfr_get_d(wide, MPFR_RNDN), static_cast<uint32_t>(expected), verdict);
    } else {
        std::snprintf(line, sizeof(line), "  k = %d (x = %a): ours %a, glibc %a; MPFR rounds to %a: %s right\n",
                      static_cast<int32_t>(finding.input), x, DoubleFromBits(finding.ours),
                      DoubleFromBits(finding.glibc), DoubleFromBits(expected), verdict);
    }
    return line;
}

// What MPFR said of a function's findings.
struct Verdicts {
    uint64_t slowChecked;
    uint64_t oursWrong;
    uint64_t slowUndecided;
    uint64_t fastMismatches;
    uint64_t disagreements;
    uint64_t oursRight;
    uint64_t glibcRight;
};

// The report's lines for one function, its verdict line aside.
void PrintFindings(const char* name, bool singleResult, const Tally& tally, const Verdicts& v,
                   const std::vector<Hard>& hardest, const std::vector<std::string>& lines)
{
    std::printf(
        "%s: %llu inputs run; fast path (or special case) decided %llu, slow path %llu; all %llu slow-path inputs "
        "checked "
        "with MPFR: %llu wrong, %llu undecided; inputs taken for special cases wrongly: %llu\n",
        name, static_cast<unsigned long long>(tally.inputs),
        static_cast<unsigned long long>(tally.inputs - tally.slowPath), static_cast<unsigned long long>(tally.slowPath),
        static_cast<unsigned long long>(v.slowChecked), static_cast<unsigned long long>(v.oursWrong),
        static_cast<unsigned long long>(v.slowUndecided), static_cast<unsigned long long>(v.fastMismatches));
    if (tally.batchInputs != 0) {
        std::printf("  batch results (SSE2%s) compared with the function: %llu, apart: %llu\n",
                    MachineSimdLevel() == SimdLevel::Avx ? " and AVX" : "",
                    static_cast<unsigned long long>(tally.batchInputs),
                    static_cast<unsigned long long>(tally.batchApart));
    }
    if (!hardest.empty()) {
        std::printf("  smallest margin among slow-path inputs: 2^%.1f ulp of a double (%s %s)\n", hardest[0].margin,
                    singleResult ? "x =" : "k =", InputText(singleResult, hardest[0].input).c_str());
    }
    std::printf("  disagreements with glibc: %llu; MPFR says ours right in %llu, glibc right in %llu\n",
                static_cast<unsigned long long>(v.disagreements), static_cast<unsigned long long>(v.oursRight),
                static_cast<unsigned long long>(v.glibcRight));
    for (const std::string& line : lines) {
        std::fputs(line.c_str(), stdout);
    }
    if (v.disagreements > lines.size()) {
        std::printf("  ... and %llu more, every one of them checked with MPFR as above\n",
                    static_cast<unsigned long long>(v.disagreements - lines.size()));
    }
}

// Checks the findings with MPFR; prints the report; appends data lines.
// Returns the number of failures (ours wrong, or a path that misbehaved).
int Report(const char* name, bool singleResult, double divisor, int (*exact)(mpfr_ptr, mpfr_srcptr, mpfr_rnd_t),
           const Tally& tally, FILE* cases)
{
    uint64_t oursWrong = 0;
    uint64_t disagreements = 0;
    uint64_t oursRight = 0;
    uint64_t glibcRight = 0;
    uint64_t slowChecked = 0;
    uint64_t slowUndecided = 0;
    uint64_t fastMismatches = 0;
    std::vector<Hard> hardest;
    std::vector<std::string> lines;
    uint64_t disagreementCount = 0;
    for (const Finding& finding : tally.findings) {
        disagreementCount += finding.ours != finding.glibc;
    }
    const uint64_t keepEvery = disagreementCount / disagreementsKept + 1;
    mpfr_t wide;
    mpfr_init2(wide, 256);
    for (const Finding& finding : tally.findings) {
        const double x = singleResult ? static_cast<double>(FloatFromBits(finding.input))
                                      : static_cast<double>(static_cast<int32_t>(finding.input)) / divisor;
        const bool special = !std::isfinite(x);
        uint64_t expected = finding.glibc;
        double margin = 0.0;
        if (!special) {
            const double exactDouble = ExactDouble(exact, x, wide);
            expected = singleResult ? FloatBits(static_cast<float>(exactDouble)) : DoubleBits(exactDouble);
            margin = MarginLog2(wide, singleResult);
        }
        // NaN and infinity results must be glibc's bit patterns.
        const bool oursOk = finding.ours == expected;
        oursWrong += !oursOk;
        slowUndecided += finding.slowUndecided;
        fastMismatches += finding.fastMismatch;
        if (finding.slowPath) {
            ++slowChecked;
            hardest.push_back(Hard{margin, finding.input, expected});
        }
        if (finding.ours != finding.glibc) {
            ++disagreements;
            const bool glibcOk = finding.glibc == expected;
            oursRight += oursOk;
            glibcRight += glibcOk;
            const char* verdict = oursOk ? "ours" : (glibcOk ? "GLIBC" : "NEITHER");
            const std::string line = DescribeDisagreement(singleResult, finding, x, wide, expected, verdict);
            if (lines.size() < disagreementsPrinted) {
                lines.push_back(line);
            }
            if (!special && (disagreements - 1) % keepEvery == 0) {
                std::fprintf(cases, "%s %s 0x%llx disagreement\n", name, InputText(singleResult, finding.input).c_str(),
                             static_cast<unsigned long long>(expected));
            }
        }
    }
    mpfr_clear(wide);
    std::sort(hardest.begin(), hardest.end(), [](const Hard& a, const Hard& b) { return a.margin < b.margin; });
    const uint64_t failures = oursWrong + slowUndecided + fastMismatches + tally.batchApart;
    const Verdicts verdicts = {slowChecked,   oursWrong, slowUndecided, fastMismatches,
                               disagreements, oursRight, glibcRight};
    PrintFindings(name, singleResult, tally, verdicts, hardest, lines);
    for (size_t n = 0; n < hardest.size() && n < hardestKept; ++n) {
        std::fprintf(cases, "%s %s 0x%llx hard %.1f\n", name, InputText(singleResult, hardest[n].input).c_str(),
                     static_cast<unsigned long long>(hardest[n].expected), hardest[n].margin);
    }
    std::printf("  result: %s\n", failures == 0 ? "proven" : "FAILED");
    std::fflush(stdout);
    return static_cast<int>(failures);
}

bool Wanted(const std::vector<std::string>& names, const char* name)
{
    return names.empty() || std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

int main(int argc, char** argv)
{
    uint64_t stride = 1;
    const char* casesPath = nullptr;
    std::vector<std::string> names;
    for (int n = 1; n < argc; ++n) {
        const std::string argument = argv[n];
        if (argument == "--stride" && n + 1 < argc) {
            stride = std::strtoull(argv[++n], nullptr, 0);
        } else if (argument == "--cases" && n + 1 < argc) {
            casesPath = argv[++n];
        } else {
            names.push_back(argument);
        }
    }
    FILE* cases = casesPath != nullptr ? std::fopen(casesPath, "w") : std::fopen("/dev/null", "w");
    if (cases == nullptr || stride == 0) {
        std::fprintf(stderr, "usage: prove_exact_math [--stride N] [--cases FILE] [FUNCTION...]\n");
        return 2;
    }
    std::fprintf(cases,
                 "# Written by prove_exact_math (the exhaustive run): function, input (float bits, or k of k/1000 or "
                 "k/1500),\n# the correctly rounded result's bits (MPFR), and why the input is here: a disagreement "
                 "with glibc,\n# or one of the hardest slow-path inputs (log2 of its margin in double ulps).\n");
    std::printf("%s, %d threads\n", stride == 1 ? "every input" : "a strided sample of the inputs", threadCount);
    int failures = 0;
    for (const FloatFunction& function : floatFunctions) {
        if (Wanted(names, function.name)) {
            const Tally tally = RunInThreads(function, stride, RunFloatSlice);
            failures += Report(function.name, true, 0.0, function.exact, tally, cases);
        }
    }
    for (const CameraFunction& function : cameraFunctions) {
        if (Wanted(names, function.name)) {
            const Tally tally = RunInThreads(function, stride, RunCameraSlice);
            failures += Report(function.name, false, function.divisor, function.exact, tally, cases);
        }
    }
    std::fclose(cases);
    std::printf("%s\n", failures == 0 ? "all proven" : "FAILURES");
    return failures == 0 ? 0 : 1;
}
