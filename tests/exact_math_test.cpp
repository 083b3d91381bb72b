// The scene's exact functions (core/exact_math.h): special values with
// glibc's bit patterns, random arguments over every binade against MPFR,
// the exhaustive run's disagreements and hardest cases, the camera's
// arguments over the whole clock range, each path on its own, and the
// batch functions bit for bit against the scalar ones.
#include <gtest/gtest.h>
#include <mpfr.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "core/bits.h"
#include "core/exact_math.h"
#include "core/numeric.h"
#include "tests/exact_math_cases.h"

namespace {

using MpfrFunction = int (*)(mpfr_ptr, mpfr_srcptr, mpfr_rnd_t);

// f(x) correctly rounded to double by MPFR (53 bits, round to nearest).
double Exact(MpfrFunction f, double x)
{
    mpfr_t in;
    mpfr_t out;
    mpfr_init2(in, 53);
    mpfr_init2(out, 53);
    mpfr_set_d(in, x, MPFR_RNDN);
    f(out, in, MPFR_RNDN);
    const double result = mpfr_get_d(out, MPFR_RNDN);
    mpfr_clear(in);
    mpfr_clear(out);
    return result;
}

// The scene's definition: the exact value to the nearest double, then to
// the nearest float.
float ExactSingle(MpfrFunction f, float x) { return static_cast<float>(Exact(f, x)); }

struct FloatFunction {
    const char* name;
    float (*ours)(float);
    void (*batch)(const float*, float*, uint32_t, SimdLevel);
    bool (*fast)(float, float*);
    bool (*slow)(float, float*);
    MpfrFunction exact;
};

const FloatFunction sine = {"sin", SinSingle, SinSingleBatch, SinSingleFast, SinSingleSlow, mpfr_sin};
const FloatFunction cosine = {"cos", CosSingle, CosSingleBatch, CosSingleFast, CosSingleSlow, mpfr_cos};
const FloatFunction tangent = {"tan", TanSingle, TanSingleBatch, TanSingleFast, TanSingleSlow, mpfr_tan};
const FloatFunction arcTangent = {"atan", AtanSingle, AtanSingleBatch, AtanSingleFast, AtanSingleSlow, mpfr_atan};
const FloatFunction* const floatFunctions[] = {&sine, &cosine, &tangent, &arcTangent};

const FloatFunction& FunctionNamed(const std::string& name)
{
    for (const FloatFunction* function : floatFunctions) {
        if (name == function->name) {
            return *function;
        }
    }
    ADD_FAILURE() << "no function " << name;
    return sine;
}

// Random floats with every exponent (normal and subnormal) equally likely,
// both signs, any mantissa.
std::vector<float> EveryBinade(uint32_t seed, int perBinade)
{
    std::mt19937 random(seed);
    std::vector<float> values;
    for (uint32_t exponent = 0; exponent < 255; ++exponent) {
        for (int n = 0; n < perBinade; ++n) {
            const uint32_t bits = (random() & 0x807FFFFFu) | (exponent << 23);
            values.push_back(FloatFromBits(bits));
        }
    }
    return values;
}

// Counts the inputs where the function is not the correctly rounded value,
// reporting the first few.
int CountWrong(const FloatFunction& function, const std::vector<float>& values)
{
    int wrong = 0;
    for (float x : values) {
        const float expected = ExactSingle(function.exact, x);
        const float actual = function.ours(x);
        if (Bits(expected) != Bits(actual)) {
            if (++wrong <= 5) {
                ADD_FAILURE() << function.name << "(" << std::hexfloat << x << ") gave " << actual << ", exact "
                              << expected;
            }
        }
    }
    return wrong;
}

const uint32_t quietNaNBit = 0x00400000u;

// Sine, cosine and tangent of infinities and NaNs, and signed zeros: what
// glibc gave (the golden dumps hold such values).
TEST(ExactMathSpecialValues, NaNsComeBackQuietedWithPayloadAndSign)
{
    const uint32_t nans[] = {0x7FC00000u, 0xFFC00000u, 0x7FC12345u, 0xFFC12345u, 0x7F812345u, 0xFF800001u};
    for (const FloatFunction* function : floatFunctions) {
        for (uint32_t bits : nans) {
            EXPECT_EQ(bits | quietNaNBit, Bits(function->ours(FloatFromBits(bits))))
                << function->name << " of " << std::hex << bits;
        }
    }
}

TEST(ExactMathSpecialValues, TrigOfInfinityIsTheDefaultNaN)
{
    for (const FloatFunction* function : {&sine, &cosine, &tangent}) {
        EXPECT_EQ(0xFFC00000u, Bits(function->ours(std::numeric_limits<float>::infinity()))) << function->name;
        EXPECT_EQ(0xFFC00000u, Bits(function->ours(-std::numeric_limits<float>::infinity()))) << function->name;
    }
}

TEST(ExactMathSpecialValues, ArcTangentOfInfinityIsHalfPi)
{
    EXPECT_EQ(0x3FC90FDBu, Bits(AtanSingle(std::numeric_limits<float>::infinity())));
    EXPECT_EQ(0xBFC90FDBu, Bits(AtanSingle(-std::numeric_limits<float>::infinity())));
}

TEST(ExactMathSpecialValues, ZerosKeepTheirSignAndCosineOfZeroIsOne)
{
    for (const FloatFunction* function : {&sine, &tangent, &arcTangent}) {
        EXPECT_EQ(0x00000000u, Bits(function->ours(0.0f))) << function->name;
        EXPECT_EQ(0x80000000u, Bits(function->ours(-0.0f))) << function->name;
    }
    EXPECT_EQ(Bits(1.0f), Bits(CosSingle(0.0f)));
    EXPECT_EQ(Bits(1.0f), Bits(CosSingle(-0.0f)));
    EXPECT_EQ(Bits(-0.0), Bits(SinDouble(-0.0)));
    EXPECT_EQ(Bits(1.0), Bits(CosDouble(0.0)));
}

TEST(ExactMathSpecialValues, SubnormalArgumentsComeBackUnchangedFromSineTangentAndArcTangent)
{
    const uint32_t subnormals[] = {0x00000001u, 0x80000001u, 0x007FFFFFu, 0x00400000u, 0x80012345u};
    for (const FloatFunction* function : {&sine, &tangent, &arcTangent}) {
        for (uint32_t bits : subnormals) {
            EXPECT_EQ(bits, Bits(function->ours(FloatFromBits(bits)))) << function->name << std::hex << bits;
        }
    }
}

TEST(ExactMathSpecialValues, CameraFunctionsRefuseArgumentsOutsideTheirRange)
{
    EXPECT_TRUE(std::isnan(SinDouble(cameraArgumentLimit)));
    EXPECT_TRUE(std::isnan(CosDouble(-1e300)));
    EXPECT_EQ(0xFFF8000000000000u, Bits(SinDouble(std::numeric_limits<double>::infinity())));
    double signallingNaN;
    const uint64_t nanBits = 0x7FF0000000000123u;
    std::memcpy(&signallingNaN, &nanBits, sizeof(signallingNaN));
    EXPECT_EQ(0x7FF8000000000123u, Bits(CosDouble(signallingNaN)));
}

// Random floats over all 254 binades and the subnormals, against MPFR.
TEST(ExactMathAgainstMpfr, SineIsCorrectlyRoundedInEveryBinade)
{
    EXPECT_EQ(0, CountWrong(sine, EveryBinade(1, 4096)));
}

TEST(ExactMathAgainstMpfr, CosineIsCorrectlyRoundedInEveryBinade)
{
    EXPECT_EQ(0, CountWrong(cosine, EveryBinade(2, 4096)));
}

TEST(ExactMathAgainstMpfr, TangentIsCorrectlyRoundedInEveryBinade)
{
    EXPECT_EQ(0, CountWrong(tangent, EveryBinade(3, 4096)));
}

TEST(ExactMathAgainstMpfr, ArcTangentIsCorrectlyRoundedInEveryBinade)
{
    EXPECT_EQ(0, CountWrong(arcTangent, EveryBinade(4, 4096)));
}

// The ranges the scene feeds them, densely.
TEST(ExactMathAgainstMpfr, SceneRangesAreCorrectlyRounded)
{
    std::mt19937 random(5);
    std::uniform_real_distribution<float> near(-26.0f, 26.0f);
    std::uniform_real_distribution<float> far(-1.3e6f, 1.3e6f);
    std::vector<float> values;
    for (int n = 0; n < 100000; ++n) {
        values.push_back(near(random));
        values.push_back(far(random));
    }
    for (const FloatFunction* function : floatFunctions) {
        EXPECT_EQ(0, CountWrong(*function, values)) << function->name;
    }
}

TEST(ExactMathAgainstMpfr, SquareRootIsTheCorrectlyRoundedOne)
{
    std::mt19937 random(6);
    for (int n = 0; n < 100000; ++n) {
        const float x = FloatFromBits(random() & 0x7FFFFFFFu);
        if (std::isnan(x)) {
            continue;
        }
        const float expected = static_cast<float>(Exact(mpfr_sqrt, x));
        ASSERT_EQ(Bits(expected), Bits(SqrtSingle(x))) << std::hexfloat << x;
    }
    EXPECT_EQ(0xFFC00000u, Bits(SqrtSingle(-1.0f)));
    EXPECT_EQ(Bits(3.0f), Bits(SqrtSingle(9.0f)));
}

// Camera arguments k/1000 and k/1500 over the whole 32-bit clock range.
TEST(ExactMathCamera, SinAndCosOfClockArgumentsAreCorrectlyRounded)
{
    std::mt19937 random(7);
    int wrong = 0;
    for (int n = 0; n < 300000; ++n) {
        const int32_t k = static_cast<int32_t>(random());
        const double x1000 = static_cast<double>(k) / 1000.0;
        const double x1500 = static_cast<double>(k) / 1500.0;
        wrong += Bits(Exact(mpfr_sin, x1000)) != Bits(SinDouble(x1000));
        wrong += Bits(Exact(mpfr_cos, x1000)) != Bits(CosDouble(x1000));
        wrong += Bits(Exact(mpfr_sin, x1500)) != Bits(SinDouble(x1500));
    }
    EXPECT_EQ(0, wrong);
}

TEST(ExactMathCamera, ExtremeClocksAreCorrectlyRounded)
{
    const int32_t clocks[] = {INT32_MIN, INT32_MIN + 1, -1, 1, 3, 2, INT32_MAX, INT32_MAX - 2, 1570796, 3141593};
    for (int32_t k : clocks) {
        for (double divisor : {1000.0, 1500.0}) {
            const double x = static_cast<double>(k) / divisor;
            EXPECT_EQ(Bits(Exact(mpfr_sin, x)), Bits(SinDouble(x))) << k << "/" << divisor;
            EXPECT_EQ(Bits(Exact(mpfr_cos, x)), Bits(CosDouble(x))) << k << "/" << divisor;
        }
    }
}

// The cases the exhaustive run (tools/math-prove) wrote: every float where
// glibc disagreed with us, a spread of the camera's, and the inputs nearest
// a rounding boundary that it found.
std::vector<RecordedCase> RecordedCases() { return ReadRecordedCases(EXACT_MATH_CASES); }

TEST(ExactMathRecordedCases, EveryRecordedCaseGivesTheCorrectlyRoundedValue)
{
    const std::vector<RecordedCase> cases = RecordedCases();
    ASSERT_GT(cases.size(), 100u);
    for (const RecordedCase& recorded : cases) {
        if (IsCameraCase(recorded)) {
            const double x = CameraArgument(recorded);
            const double ours = recorded.function[0] == 's' ? SinDouble(x) : CosDouble(x);
            EXPECT_EQ(recorded.expected, Bits(ours))
                << recorded.function << " k = " << recorded.input << " (" << recorded.why << ")";
            EXPECT_EQ(recorded.expected, Bits(recorded.function[0] == 's' ? Exact(mpfr_sin, x) : Exact(mpfr_cos, x)));
        } else {
            const FloatFunction& function = FunctionNamed(recorded.function);
            const float x = FloatArgument(recorded);
            EXPECT_EQ(recorded.expected, Bits(function.ours(x)))
                << recorded.function << "(" << recorded.input << ") (" << recorded.why << ")";
            EXPECT_EQ(recorded.expected, Bits(ExactSingle(function.exact, x))) << recorded.function << recorded.input;
        }
    }
}

// The fast paths' bound must be honest: on the inputs nearest a rounding
// boundary the fast path must give up, and the slow path decide correctly.
TEST(ExactMathRecordedCases, FastPathsLeaveTheHardestCasesToTheSlowPath)
{
    int hard = 0;
    for (const RecordedCase& recorded : RecordedCases()) {
        if (recorded.why != "hard" || IsCameraCase(recorded)) {
            continue;
        }
        const FloatFunction& function = FunctionNamed(recorded.function);
        const float x = FloatArgument(recorded);
        float fast;
        EXPECT_FALSE(function.fast(x, &fast)) << recorded.function << "(" << recorded.input << ")";
        float slow = 0.0f;
        EXPECT_TRUE(function.slow(x, &slow)) << recorded.function << "(" << recorded.input << ")";
        EXPECT_EQ(recorded.expected, Bits(slow)) << recorded.function << "(" << recorded.input << ")";
        ++hard;
    }
    EXPECT_GT(hard, 0);
}

// Each path on its own: wherever a path decides, it is right; the slow path
// decides every input the fast path leaves, and many it need not.
TEST(ExactMathPaths, EachPathIsRightWheneverItDecides)
{
    const std::vector<float> values = EveryBinade(8, 64);
    for (const FloatFunction* function : floatFunctions) {
        int slowUndecided = 0;
        for (float x : values) {
            const uint32_t expected = Bits(ExactSingle(function->exact, x));
            float result;
            if (function->fast(x, &result)) {
                ASSERT_EQ(expected, Bits(result)) << function->name << " fast " << std::hexfloat << x;
            }
            if (function->slow(x, &result)) {
                ASSERT_EQ(expected, Bits(result)) << function->name << " slow " << std::hexfloat << x;
            } else {
                slowUndecided += !std::isnan(x) && !std::isinf(x) && x != 0.0f;
            }
        }
        EXPECT_EQ(0, slowUndecided) << function->name;
    }
}

TEST(ExactMathPaths, TracedFunctionsNameThePathThatDecided)
{
    ExactPath path;
    EXPECT_EQ(Bits(SinSingle(0.5f)), Bits(SinSingleTraced(0.5f, &path)));
    EXPECT_EQ(ExactPath::Fast, path);
    EXPECT_EQ(Bits(1.0f), Bits(CosSingleTraced(0.0f, &path)));
    EXPECT_EQ(ExactPath::Special, path);
    AtanSingleTraced(std::numeric_limits<float>::quiet_NaN(), &path);
    EXPECT_EQ(ExactPath::Special, path);
    // cos(2^-12) = 1 - 2^-25 + 2^-50/24: just above the midpoint between the
    // floats 1 - 2^-24 and 1, closer than the fast bound can tell apart.
    const float x = 0x1p-12f;
    EXPECT_EQ(Bits(ExactSingle(mpfr_cos, x)), Bits(CosSingleTraced(x, &path)));
    EXPECT_EQ(ExactPath::Slow, path);
    EXPECT_EQ(Bits(Exact(mpfr_sin, 0.003)), Bits(SinDoubleTraced(0.003, &path)));
    EXPECT_EQ(ExactPath::Fast, path);
}

TEST(ExactMathPaths, CameraPathsAreRightWheneverTheyDecide)
{
    std::mt19937 random(9);
    for (int n = 0; n < 20000; ++n) {
        const double x = static_cast<double>(static_cast<int32_t>(random())) / 1000.0;
        const uint64_t expected = Bits(Exact(mpfr_sin, x));
        double result;
        if (SinDoubleFast(x, &result)) {
            ASSERT_EQ(expected, Bits(result)) << std::hexfloat << x;
        }
        ASSERT_TRUE(SinDoubleSlow(x, &result)) << std::hexfloat << x;
        ASSERT_EQ(expected, Bits(result)) << std::hexfloat << x;
        ASSERT_TRUE(CosDoubleSlow(x, &result)) << std::hexfloat << x;
        ASSERT_EQ(Bits(Exact(mpfr_cos, x)), Bits(result)) << std::hexfloat << x;
    }
}

// The batch functions against the scalar reference, bit for bit: random
// bits (every binade, NaNs, infinities), the scene's ranges, zeros of both
// signs, counts that leave a remainder, and a batch done in place.
std::vector<float> BatchArguments()
{
    std::mt19937 random(10);
    std::uniform_real_distribution<float> near(-26.0f, 26.0f);
    std::vector<float> values;
    for (int n = 0; n < 40000; ++n) {
        values.push_back(FloatFromBits(random()));
        values.push_back(near(random));
    }
    const float specials[] = {0.0f,   -0.0f,      std::numeric_limits<float>::infinity(),  3145728.0f, -3145727.75f,
                              1e-45f, 1.5707964f, std::numeric_limits<float>::quiet_NaN(), 3.4e38f};
    for (float special : specials) {
        values.insert(values.begin() + static_cast<long>(values.size() / 3), special);
    }
    return values;
}

void ExpectBatchMatchesScalar(SimdLevel level)
{
    const std::vector<float> values = BatchArguments();
    for (const FloatFunction* function : floatFunctions) {
        for (uint32_t count : {static_cast<uint32_t>(values.size()), 1u, 2u, 3u, 5u, 7u}) {
            std::vector<float> result(count, 12345.0f);
            function->batch(values.data(), result.data(), count, level);
            for (uint32_t n = 0; n < count; ++n) {
                ASSERT_EQ(Bits(function->ours(values[n])), Bits(result[n]))
                    << function->name << " lane " << n << " of " << count << ", x = " << std::hexfloat << values[n];
            }
        }
        std::vector<float> inPlace = values;
        function->batch(inPlace.data(), inPlace.data(), static_cast<uint32_t>(inPlace.size()), level);
        for (size_t n = 0; n < values.size(); ++n) {
            ASSERT_EQ(Bits(function->ours(values[n])), Bits(inPlace[n])) << function->name << " in place, lane " << n;
        }
    }
}

TEST(ExactMathBatch, Sse2BatchesMatchTheScalarFunctionsBitForBit) { ExpectBatchMatchesScalar(SimdLevel::Sse2); }

TEST(ExactMathBatch, AvxBatchesMatchTheScalarFunctionsBitForBit)
{
    if (MachineSimdLevel() != SimdLevel::Avx) {
        GTEST_SKIP() << "no AVX on this machine";
    }
    ExpectBatchMatchesScalar(SimdLevel::Avx);
}

TEST(ExactMathBatch, EmptyBatchWritesNothing)
{
    float result = 7.0f;
    const float x = 1.0f;
    SinSingleBatch(&x, &result, 0, SimdLevel::Sse2);
    AtanSingleBatch(&x, &result, 0, MachineSimdLevel());
    EXPECT_EQ(Bits(7.0f), Bits(result));
}

}  // namespace
