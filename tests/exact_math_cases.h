// The exhaustive run's recorded cases (tests/data/exact_math_cases.txt), read
// the same way by the native test and by the Windows build's check. A line:
//   FUNCTION INPUT EXPECTED WHY
// where FUNCTION is sin, cos, tan or atan of the float whose bits are the
// hexadecimal INPUT, or sin_k_1000, cos_k_1000, sin_k_1500: the camera's
// sine or cosine of k / 1000 or k / 1500 for the decimal k; EXPECTED is the
// correctly rounded result's bits (float or double) in hexadecimal; WHY says
// why the case was kept ("hard", a disagreement with glibc, ...).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/bits.h"
#include "core/exact_math.h"

struct RecordedCase {
    std::string function;
    std::string input;
    uint64_t expected = 0;
    std::string why;
};

// Every case in the file; an unreadable file gives none.
inline std::vector<RecordedCase> ReadRecordedCases(const char* path)
{
    std::ifstream file(path);
    std::vector<RecordedCase> cases;
    std::string line;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::istringstream fields(line);
        RecordedCase recorded;
        std::string expected;
        if (fields >> recorded.function >> recorded.input >> expected) {
            fields >> recorded.why;
            recorded.expected = std::strtoull(expected.c_str(), nullptr, 16);
            cases.push_back(recorded);
        }
    }
    return cases;
}

// The camera's functions take a double made from the clock value k.
inline bool IsCameraCase(const RecordedCase& recorded) { return recorded.function.find("_k_") != std::string::npos; }

inline double CameraArgument(const RecordedCase& recorded)
{
    const int32_t k = static_cast<int32_t>(std::strtol(recorded.input.c_str(), nullptr, 10));
    return static_cast<double>(k) / (recorded.function == "sin_k_1500" ? 1500.0 : 1000.0);
}

inline float FloatArgument(const RecordedCase& recorded)
{
    return FloatFromBits(static_cast<uint32_t>(std::strtoull(recorded.input.c_str(), nullptr, 16)));
}

// Our result's bits for the case; false for a function the file should not name.
inline bool OurBits(const RecordedCase& recorded, uint64_t* bits)
{
    if (IsCameraCase(recorded)) {
        const double x = CameraArgument(recorded);
        *bits = DoubleBits(recorded.function[0] == 's' ? SinDouble(x) : CosDouble(x));
        return recorded.function == "sin_k_1000" || recorded.function == "cos_k_1000" ||
               recorded.function == "sin_k_1500";
    }
    float (*const functions[])(float) = {SinSingle, CosSingle, TanSingle, AtanSingle};
    const char* const names[] = {"sin", "cos", "tan", "atan"};
    for (int f = 0; f < 4; ++f) {
        if (recorded.function == names[f]) {
            *bits = FloatBits(functions[f](FloatArgument(recorded)));
            return true;
        }
    }
    return false;
}
