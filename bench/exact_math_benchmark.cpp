// The scene's exact functions against glibc, per value, on the arguments the
// scene feeds them (measured over a 3,000-tick run): sine and cosine below
// 26 in magnitude; tangent mostly below 20, one in a hundred up to 1.3e6 and
// one in a thousand not finite; arc tangent below 15.
//
//  Glibc    single(glibc(double(x))), what the native build called before
//  Scalar   SinSingle and friends, one call per value
//  Sse2     the batch function, two lanes
//  Avx      the batch function, four lanes (skipped without AVX)
// Each runs over the same 4096 arguments; items/s is values per second.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "core/exact_math.h"

namespace {

const size_t argumentCount = 4096;

enum class Function { Sine, Cosine, Tangent, ArcTangent };

std::vector<float> SceneArguments(Function function)
{
    std::mt19937 random(20261210u);
    std::uniform_real_distribution<float> sineRange(-26.0f, 26.0f);
    std::uniform_real_distribution<float> tangentRange(-20.0f, 20.0f);
    std::uniform_real_distribution<float> tangentFar(-1.3e6f, 1.3e6f);
    std::uniform_real_distribution<float> atanRange(-15.0f, 15.0f);
    std::vector<float> values(argumentCount);
    for (size_t n = 0; n < argumentCount; ++n) {
        switch (function) {
        case Function::Sine:
        case Function::Cosine:
            values[n] = sineRange(random);
            break;
        case Function::Tangent:
            if (n % 1000 == 999) {
                values[n] =
                    n % 2000 == 999 ? std::numeric_limits<float>::infinity() : std::numeric_limits<float>::quiet_NaN();
            } else if (n % 100 == 50) {
                values[n] = tangentFar(random);
            } else {
                values[n] = tangentRange(random);
            }
            break;
        case Function::ArcTangent:
            values[n] = atanRange(random);
            break;
        }
    }
    return values;
}

double (*volatile glibcFunctions[])(double) = {std::sin, std::cos, std::tan, std::atan};
float (*const scalarFunctions[])(float) = {SinSingle, CosSingle, TanSingle, AtanSingle};
void (*const batchFunctions[])(const float*, float*, uint32_t, SimdLevel) = {SinSingleBatch, CosSingleBatch,
                                                                             TanSingleBatch, AtanSingleBatch};

void Glibc(benchmark::State& state, Function function)
{
    const std::vector<float> x = SceneArguments(function);
    std::vector<float> result(argumentCount);
    double (*const glibc)(double) = glibcFunctions[static_cast<int>(function)];
    for (auto _ : state) {
        for (size_t n = 0; n < argumentCount; ++n) {
            result[n] = static_cast<float>(glibc(static_cast<double>(x[n])));
        }
        benchmark::DoNotOptimize(result.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * argumentCount));
}

void Scalar(benchmark::State& state, Function function)
{
    const std::vector<float> x = SceneArguments(function);
    std::vector<float> result(argumentCount);
    float (*const scalar)(float) = scalarFunctions[static_cast<int>(function)];
    for (auto _ : state) {
        for (size_t n = 0; n < argumentCount; ++n) {
            result[n] = scalar(x[n]);
        }
        benchmark::DoNotOptimize(result.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * argumentCount));
}

void Batch(benchmark::State& state, Function function, SimdLevel level)
{
    if (level == SimdLevel::Avx && MachineSimdLevel() != SimdLevel::Avx) {
        state.SkipWithError("no AVX on this machine");
        return;
    }
    const std::vector<float> x = SceneArguments(function);
    std::vector<float> result(argumentCount);
    auto* const batch = batchFunctions[static_cast<int>(function)];
    for (auto _ : state) {
        batch(x.data(), result.data(), argumentCount, level);
        benchmark::DoNotOptimize(result.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * argumentCount));
}

}  // namespace

BENCHMARK_CAPTURE(Glibc, Sin, Function::Sine);
BENCHMARK_CAPTURE(Scalar, Sin, Function::Sine);
BENCHMARK_CAPTURE(Batch, SinSse2, Function::Sine, SimdLevel::Sse2);
BENCHMARK_CAPTURE(Batch, SinAvx, Function::Sine, SimdLevel::Avx);
BENCHMARK_CAPTURE(Glibc, Cos, Function::Cosine);
BENCHMARK_CAPTURE(Scalar, Cos, Function::Cosine);
BENCHMARK_CAPTURE(Batch, CosSse2, Function::Cosine, SimdLevel::Sse2);
BENCHMARK_CAPTURE(Batch, CosAvx, Function::Cosine, SimdLevel::Avx);
BENCHMARK_CAPTURE(Glibc, Tan, Function::Tangent);
BENCHMARK_CAPTURE(Scalar, Tan, Function::Tangent);
BENCHMARK_CAPTURE(Batch, TanSse2, Function::Tangent, SimdLevel::Sse2);
BENCHMARK_CAPTURE(Batch, TanAvx, Function::Tangent, SimdLevel::Avx);
BENCHMARK_CAPTURE(Glibc, Atan, Function::ArcTangent);
BENCHMARK_CAPTURE(Scalar, Atan, Function::ArcTangent);
BENCHMARK_CAPTURE(Batch, AtanSse2, Function::ArcTangent, SimdLevel::Sse2);
BENCHMARK_CAPTURE(Batch, AtanAvx, Function::ArcTangent, SimdLevel::Avx);
