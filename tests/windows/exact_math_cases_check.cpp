// The exhaustive run's recorded cases (tests/data/exact_math_cases.txt) in
// the 32-bit Windows build, under Wine: every disagreement with glibc it
// kept and every hardest case must give the recorded bits here too, where
// the double-double slow path runs in 32-bit SSE2 code with the results
// passing through the x87 return register. Also the batch functions against
// the scalar ones over a spread of floats, at SSE2 and, where the processor
// has it, AVX.
//
//   exact_math_cases_check.exe CASES-FILE
// Exit status: 0 all match, 1 a mismatch (printed), 2 no cases read.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/exact_math.h"

namespace {

uint32_t Bits(float x)
{
    uint32_t bits;
    std::memcpy(&bits, &x, sizeof(bits));
    return bits;
}

uint64_t Bits(double x)
{
    uint64_t bits;
    std::memcpy(&bits, &x, sizeof(bits));
    return bits;
}

float FloatFromBits(uint32_t bits)
{
    float x;
    std::memcpy(&x, &bits, sizeof(x));
    return x;
}

// The result of one recorded line's function, as bits.
bool Compute(const std::string& function, const std::string& input, uint64_t* bits)
{
    if (function == "sin_k_1000" || function == "cos_k_1000" || function == "sin_k_1500") {
        const int32_t k = static_cast<int32_t>(std::strtol(input.c_str(), nullptr, 10));
        const double x = static_cast<double>(k) / (function == "sin_k_1500" ? 1500.0 : 1000.0);
        *bits = Bits(function[0] == 's' ? SinDouble(x) : CosDouble(x));
        return true;
    }
    const float x = FloatFromBits(static_cast<uint32_t>(std::strtoul(input.c_str(), nullptr, 16)));
    if (function == "sin") {
        *bits = Bits(SinSingle(x));
    } else if (function == "cos") {
        *bits = Bits(CosSingle(x));
    } else if (function == "tan") {
        *bits = Bits(TanSingle(x));
    } else if (function == "atan") {
        *bits = Bits(AtanSingle(x));
    } else {
        return false;
    }
    return true;
}

int CheckBatches(SimdLevel level)
{
    float (*const scalars[])(float) = {SinSingle, CosSingle, TanSingle, AtanSingle};
    void (*const batches[])(const float*, float*, uint32_t, SimdLevel) = {SinSingleBatch, CosSingleBatch,
                                                                          TanSingleBatch, AtanSingleBatch};
    std::vector<float> x;
    for (uint64_t bits = 0; bits < (uint64_t{1} << 32); bits += 65521) {
        x.push_back(FloatFromBits(static_cast<uint32_t>(bits)));
    }
    std::vector<float> result(x.size());
    int apart = 0;
    for (int f = 0; f < 4; ++f) {
        batches[f](x.data(), result.data(), static_cast<uint32_t>(x.size()), level);
        for (size_t n = 0; n < x.size(); ++n) {
            if (Bits(result[n]) != Bits(scalars[f](x[n])) && ++apart <= 10) {
                std::printf("batch %d of function %d apart at 0x%08x\n", static_cast<int>(level), f, Bits(x[n]));
            }
        }
    }
    return apart;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: exact_math_cases_check CASES-FILE\n");
        return 2;
    }
    FILE* file = std::fopen(argv[1], "r");
    if (file == nullptr) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 2;
    }
    char line[512];
    int cases = 0;
    int wrong = 0;
    while (std::fgets(line, sizeof(line), file) != nullptr) {
        if (line[0] == '#' || line[0] == '\n') {
            continue;
        }
        char function[32];
        char input[32];
        char expected[32];
        if (std::sscanf(line, "%31s %31s %31s", function, input, expected) != 3) {
            continue;
        }
        uint64_t bits = 0;
        if (!Compute(function, input, &bits)) {
            std::printf("unknown function in: %s", line);
            ++wrong;
            continue;
        }
        ++cases;
        if (bits != std::strtoull(expected, nullptr, 16)) {
            std::printf("%s %s: got 0x%llx, recorded %s\n", function, input, static_cast<unsigned long long>(bits),
                        expected);
            ++wrong;
        }
    }
    std::fclose(file);
    if (cases == 0) {
        std::printf("no cases read from %s\n", argv[1]);
        return 2;
    }
    int apart = CheckBatches(SimdLevel::Sse2);
    if (MachineSimdLevel() == SimdLevel::Avx) {
        apart += CheckBatches(SimdLevel::Avx);
    }
    std::printf("%d recorded cases, %d wrong; batches apart from the scalar functions: %d\n", cases, wrong, apart);
    return wrong == 0 && apart == 0 ? 0 : 1;
}
