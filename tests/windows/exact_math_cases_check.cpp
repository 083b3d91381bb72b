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
#include <vector>

#include "core/bits.h"
#include "core/exact_math.h"
#include "tests/exact_math_cases.h"

namespace {

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
    int wrong = 0;
    const std::vector<RecordedCase> cases = ReadRecordedCases(argv[1]);
    for (const RecordedCase& recorded : cases) {
        uint64_t bits = 0;
        if (!OurBits(recorded, &bits)) {
            std::printf("unknown function %s\n", recorded.function.c_str());
            ++wrong;
        } else if (bits != recorded.expected) {
            std::printf("%s %s: got 0x%llx, recorded 0x%llx\n", recorded.function.c_str(), recorded.input.c_str(),
                        static_cast<unsigned long long>(bits), static_cast<unsigned long long>(recorded.expected));
            ++wrong;
        }
    }
    if (cases.empty()) {
        std::printf("no cases read from %s\n", argv[1]);
        return 2;
    }
    int apart = CheckBatches(SimdLevel::Sse2);
    if (MachineSimdLevel() == SimdLevel::Avx) {
        apart += CheckBatches(SimdLevel::Avx);
    }
    std::printf("%d recorded cases, %d wrong; batches apart from the scalar functions: %d\n",
                static_cast<int>(cases.size()), wrong, apart);
    return wrong == 0 && apart == 0 ? 0 : 1;
}
