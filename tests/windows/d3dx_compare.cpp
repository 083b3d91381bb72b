// Compares our four D3DX matrix functions (core/matrices.cpp) with the ones
// of a D3DX 9 runtime (d3dx9_43.dll, e.g. Wine's) for a few thousand
// pseudo-random arguments each. Every element must lie within MaxUlps units in
// the last place of the runtime's.
//
// The runtime computes on the x87 unit, so its results depend on the thread's
// x87 precision. The comparison runs twice: at 53 bits (what a Windows thread
// starts with, and what the plug-in's entry points set) and at 64 bits (what a
// MinGW program starts with).
//
// Exit status: 0 all within tolerance, 1 some element outside it (the failing
// arguments are printed), 2 the runtime lacks a function, 77 no runtime.
#include "core/matrices.h"

#include <float.h>
#include <windows.h>

#include <cinttypes>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const int64_t MaxUlps = 2;
const int CasesPerFunction = 4000;
const int MaxReportedFailures = 20;

typedef Matrix4x4*(WINAPI* PerspectiveFovLHFunction)(Matrix4x4*, float, float, float, float);
typedef Matrix4x4*(WINAPI* TranslationFunction)(Matrix4x4*, float, float, float);
typedef Matrix4x4*(WINAPI* RotationYawPitchRollFunction)(Matrix4x4*, float, float, float);
typedef Matrix4x4*(WINAPI* MultiplyFunction)(Matrix4x4*, const Matrix4x4*, const Matrix4x4*);

struct Runtime {
    PerspectiveFovLHFunction perspectiveFovLH;
    TranslationFunction translation;
    RotationYawPitchRollFunction rotationYawPitchRoll;
    MultiplyFunction multiply;
};

// A fixed-seed generator (xorshift64*), so every run tests the same arguments.
class Arguments {
public:
    explicit Arguments(uint64_t seed) : state_(seed) {}

    // Uniform in [low, high), rounded to single precision.
    float Uniform(double low, double high)
    {
        state_ ^= state_ >> 12;
        state_ ^= state_ << 25;
        state_ ^= state_ >> 27;
        const uint64_t bits = (state_ * 0x2545F4914F6CDD1DULL) >> 11;
        return static_cast<float>(low + (high - low) * (static_cast<double>(bits) * 0x1p-53));
    }

    // Spans several binades, so small elements are tested as well as large.
    float Signed(double magnitude)
    {
        const float scale = static_cast<float>(std::pow(2.0, Uniform(-12.0, 0.0)));
        return Uniform(-magnitude, magnitude) * scale;
    }

private:
    uint64_t state_;
};

uint32_t Bits(float value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof(bits));
    return bits;
}

// Distance in representable floats between a and b: the bit patterns mapped
// onto one ordered line, so +0 and -0 coincide and a step across zero counts
// every float passed on the way.
int64_t UlpDistance(float a, float b)
{
    if (std::isnan(a) || std::isnan(b))
        return std::isnan(a) && std::isnan(b) ? 0 : INT64_MAX;
    const auto ordered = [](float value) -> int64_t {
        const uint32_t bits = Bits(value);
        const int64_t magnitude = bits & 0x7FFFFFFFu;
        return (bits >> 31) ? -magnitude : magnitude;
    };
    const int64_t distance = ordered(a) - ordered(b);
    return distance < 0 ? -distance : distance;
}

void PrintMatrix(const char* name, const Matrix4x4& m)
{
    std::printf("    %s:\n", name);
    for (int row = 0; row < 4; ++row) {
        std::printf("     ");
        for (int column = 0; column < 4; ++column)
            std::printf(" %15.9g (%08" PRIx32 ")", m.m[row][column], Bits(m.m[row][column]));
        std::printf("\n");
    }
}

// Formats the arguments of a case.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...)
{
    char text[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    return text;
}

// Counts one function's cases, their worst element and the failures.
class Comparison {
public:
    explicit Comparison(const char* function) : function_(function) {}

    // Compares all 16 elements of a case with the arguments given.
    void Check(const Matrix4x4& ours, const Matrix4x4& theirs, const std::string& arguments)
    {
        ++cases_;
        int64_t caseWorst = 0;
        int worstElement = 0;
        for (int element = 0; element < 16; ++element) {
            const int64_t distance = UlpDistance(ours.m[element / 4][element % 4], theirs.m[element / 4][element % 4]);
            if (distance > caseWorst) {
                caseWorst = distance;
                worstElement = element;
            }
        }
        worst_ = caseWorst > worst_ ? caseWorst : worst_;
        inexact_ += caseWorst > 0 ? 1 : 0;
        if (caseWorst > MaxUlps && ++failures_ <= MaxReportedFailures) {
            std::printf("  FAIL %s(%s): %" PRId64 " ulp at _%d%d\n", function_, arguments.c_str(), caseWorst,
                        worstElement / 4 + 1, worstElement % 4 + 1);
            PrintMatrix("ours", ours);
            PrintMatrix("runtime", theirs);
        }
    }

    bool Report() const
    {
        std::printf("  %-30s %5d cases, %5d not bit-identical, %d beyond %" PRId64 " ulp; worst %" PRId64 " ulp\n",
                    function_, cases_, inexact_, failures_, MaxUlps, worst_);
        return failures_ == 0;
    }

private:
    const char* function_;
    int cases_ = 0;
    int inexact_ = 0;
    int failures_ = 0;
    int64_t worst_ = 0;
};

bool ComparePerspective(const Runtime& runtime, Arguments& random)
{
    Comparison comparison("D3DXMatrixPerspectiveFovLH");
    // The scene's own calls first: 45 degrees with a small wobble, integer
    // aspects, planes 0.1 and 100.
    for (int i = 0; i < CasesPerFunction; ++i) {
        float fovy, aspect, zn, zf;
        if (i < 300) {
            fovy = static_cast<float>((random.Uniform(-5.0, 5.0) + 45.0) * static_cast<double>(0.017453292f));
            aspect = static_cast<float>(1 + i % 3);
            zn = 0.1f;
            zf = 100.0f;
        } else {
            fovy = random.Uniform(0.1, 3.0);
            aspect = random.Uniform(0.2, 4.0);
            zn = random.Uniform(0.01, 10.0);
            zf = zn + random.Uniform(0.1, 1000.0);
        }
        Matrix4x4 ours, theirs;
        std::memset(&theirs, 0xCD, sizeof(theirs));
        D3DXMatrixPerspectiveFovLH(&ours, fovy, aspect, zn, zf);
        runtime.perspectiveFovLH(&theirs, fovy, aspect, zn, zf);
        comparison.Check(ours, theirs, Format("fovy %.9g, aspect %.9g, zn %.9g, zf %.9g", fovy, aspect, zn, zf));
    }
    return comparison.Report();
}

bool CompareTranslation(const Runtime& runtime, Arguments& random)
{
    Comparison comparison("D3DXMatrixTranslation");
    for (int i = 0; i < CasesPerFunction; ++i) {
        const float x = random.Signed(1000.0), y = random.Signed(1000.0), z = random.Signed(1000.0);
        Matrix4x4 ours, theirs;
        std::memset(&theirs, 0xCD, sizeof(theirs));
        D3DXMatrixTranslation(&ours, x, y, z);
        runtime.translation(&theirs, x, y, z);
        comparison.Check(ours, theirs, Format("x %.9g, y %.9g, z %.9g", x, y, z));
    }
    return comparison.Report();
}

bool CompareRotation(const Runtime& runtime, Arguments& random)
{
    Comparison comparison("D3DXMatrixRotationYawPitchRoll");
    const float special[] = {0.0f, -0.0f, 1.5707964f, -1.5707964f, 3.1415927f, -3.1415927f, 6.2831855f};
    const int specialCount = sizeof(special) / sizeof(special[0]);
    for (int i = 0; i < CasesPerFunction; ++i) {
        float yaw, pitch, roll;
        if (i < specialCount * specialCount * specialCount) {
            yaw = special[i % specialCount];
            pitch = special[i / specialCount % specialCount];
            roll = special[i / (specialCount * specialCount)];
        } else {
            yaw = random.Uniform(-7.0, 7.0);
            pitch = random.Uniform(-7.0, 7.0);
            roll = (i % 4 == 0) ? 0.0f : random.Uniform(-7.0, 7.0);
        }
        Matrix4x4 ours, theirs;
        std::memset(&theirs, 0xCD, sizeof(theirs));
        D3DXMatrixRotationYawPitchRoll(&ours, yaw, pitch, roll);
        runtime.rotationYawPitchRoll(&theirs, yaw, pitch, roll);
        comparison.Check(ours, theirs, Format("yaw %.9g, pitch %.9g, roll %.9g", yaw, pitch, roll));
    }
    return comparison.Report();
}

bool CompareMultiply(const Runtime& runtime, Arguments& random)
{
    Comparison comparison("D3DXMatrixMultiply");
    for (int i = 0; i < CasesPerFunction; ++i) {
        Matrix4x4 m1, m2;
        for (int element = 0; element < 16; ++element) {
            m1.m[element / 4][element % 4] = random.Signed(10.0);
            m2.m[element / 4][element % 4] = random.Signed(10.0);
        }
        std::string describe = "m1 =";
        for (int element = 0; element < 32; ++element) {
            const Matrix4x4& m = element < 16 ? m1 : m2;
            describe +=
                Format("%s %08" PRIx32, element == 16 ? ", m2 =" : "", Bits(m.m[element % 16 / 4][element % 4]));
        }
        Matrix4x4 ours, theirs;
        std::memset(&theirs, 0xCD, sizeof(theirs));
        D3DXMatrixMultiply(&ours, &m1, &m2);
        runtime.multiply(&theirs, &m1, &m2);
        comparison.Check(ours, theirs, describe);

        // Both with the output in place of one input, as the runtime allows.
        Matrix4x4 oursInPlace = (i % 2) ? m1 : m2, theirsInPlace = oursInPlace;
        if (i % 2) {
            D3DXMatrixMultiply(&oursInPlace, &oursInPlace, &m2);
            runtime.multiply(&theirsInPlace, &theirsInPlace, &m2);
        } else {
            D3DXMatrixMultiply(&oursInPlace, &m1, &oursInPlace);
            runtime.multiply(&theirsInPlace, &m1, &theirsInPlace);
        }
        comparison.Check(oursInPlace, theirsInPlace, describe);
    }
    return comparison.Report();
}

// GetProcAddress gives a generic function pointer; the detour through
// void (*)() is the sanctioned way to give it its real type.
template <typename Function>
void Lookup(HMODULE library, const char* name, Function& function)
{
    function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}

// Sets the x87 precision control (the SSE unit, which our code uses, has none).
void SetX87Precision(unsigned int precision)
{
    unsigned int current;
    _controlfp_s(&current, precision, _MCW_PC);
}

}  // namespace

int main()
{
    HMODULE library = LoadLibraryA("d3dx9_43.dll");
    if (!library) {
        std::printf("skipped: d3dx9_43.dll cannot be loaded (error %lu)\n", GetLastError());
        return 77;
    }
    Runtime runtime;
    Lookup(library, "D3DXMatrixPerspectiveFovLH", runtime.perspectiveFovLH);
    Lookup(library, "D3DXMatrixTranslation", runtime.translation);
    Lookup(library, "D3DXMatrixRotationYawPitchRoll", runtime.rotationYawPitchRoll);
    Lookup(library, "D3DXMatrixMultiply", runtime.multiply);
    if (!runtime.perspectiveFovLH || !runtime.translation || !runtime.rotationYawPitchRoll || !runtime.multiply) {
        std::printf("d3dx9_43.dll lacks one of the four matrix functions\n");
        return 2;
    }

    const struct {
        const char* name;
        unsigned int precision;
    } modes[] = {{"x87 at 53 bits", _PC_53}, {"x87 at 64 bits", _PC_64}};

    bool allWithin = true;
    for (const auto& mode : modes) {
        std::printf("%s:\n", mode.name);
        SetX87Precision(mode.precision);
        Arguments random(0x5EED2024u);
        allWithin &= ComparePerspective(runtime, random);
        allWithin &= CompareTranslation(runtime, random);
        allWithin &= CompareRotation(runtime, random);
        allWithin &= CompareMultiply(runtime, random);
    }
    SetX87Precision(_PC_53);
    std::printf(allWithin ? "all elements within %" PRId64 " ulp\n" : "FAILED: elements beyond %" PRId64 " ulp\n",
                MaxUlps);
    return allWithin ? 0 : 1;
}
