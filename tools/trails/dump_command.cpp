// trails dump: runs a schedule of entry-point calls and writes the whole
// simulation state, so it can be checked cell by cell against a reference and
// compared byte for byte across builds.
#include <xmmintrin.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/generator.h"
#include "core/simd_level.h"
#include "plugin/fpu_mode.h"
#include "plugin/plugin_state.h"
#include "tools/trails/atomic_file.h"
#include "tools/trails/command_line.h"
#include "tools/trails/hosted_scene.h"

static_assert(sizeof(Particle) == 1672, "a particle's record is dumped as it is held");
static_assert(sizeof(GridCell) == 16, "a cell is four floats");

namespace {

void WriteScalars(AtomicFile& out)
{
    const uint32_t generatorState = GeneratorState();
    const void* fields[] = {&scene.gridWidth,    &scene.gridHeight,     &scene.aspectFactor,   &scene.equationType,
                            &scene.patternScale, &scene.patternOffsetX, &scene.patternOffsetY, &scene.ticksSinceReseed,
                            &scene.cameraClockA, &scene.cameraClockB,   &scene.cameraPitch,    &scene.cameraYaw,
                            &scene.fovWobble,    &generatorState};
    for (const void* field : fields) {
        out.Write(field, 4);
    }
}

// TRAILS_FORCE_SSE2=1 makes the frame's passes take their SSE2 paths where
// the machine would take AVX, so that the two can be compared dump for dump;
// TRAILS_REPORT_SIMD=1 says on stderr which one runs.
void ApplySimdChoice()
{
    const char* force = std::getenv("TRAILS_FORCE_SSE2");
    testHooks.sse2Only = force != nullptr && std::strcmp(force, "1") == 0 ? 1 : 0;
    const char* report = std::getenv("TRAILS_REPORT_SIMD");
    if (report != nullptr && std::strcmp(report, "1") == 0) {
        std::fprintf(stderr, "dump: frame passes use %s (machine: %s)\n",
                     HookedSimdLevel(testHooks) == SimdLevel::Avx ? "AVX" : "SSE2",
                     MachineSimdLevel() == SimdLevel::Avx ? "AVX" : "SSE2");
    }
}

// The dump keeps the grids column-major (cell (x, y) at x * height + y),
// whatever their layout in memory (row-major: cell (x, y) at y * width + x).
void WriteColumnMajor(AtomicFile& out, const GridCell* grid, int width, int height)
{
    std::vector<GridCell> column(static_cast<size_t>(height));
    for (int x = 0; x < width; ++x) {
        for (int y = 0; y < height; ++y) {
            column[static_cast<size_t>(y)] = grid[static_cast<size_t>(y) * width + x];
        }
        out.Write(column.data(), column.size() * sizeof(GridCell));
    }
}

void WriteDump(const std::string& path, const HostedScene& runner)
{
    AtomicFile out(path);
    out.Write("CTDUMP01", 8);
    WriteScalars(out);
    const uint32_t count = scene.particles.count;
    out.Write(&count, 4);
    out.Write(scene.particles.records, static_cast<size_t>(count) * sizeof(Particle));
    WriteColumnMajor(out, scene.AccumulationGrid, AccumulationGridWidth, AccumulationGridHeight);
    WriteColumnMajor(out, scene.GlowGrid, GlowGridWidth, GlowGridHeight);
    out.Write(scene.FullLayerTexels, sizeof(scene.FullLayerTexels));
    out.Write(runner.GlowTexels().data(), runner.GlowTexels().size() * sizeof(uint32_t));
    out.Commit();
}

// The floating-point mode the dump runs its calls under, as a host would
// leave it: a host that created its Direct3D device without preserving the
// FPU state leaves the x87 unit at 24-bit precision, others change the
// rounding. TRAILS_HOST_X87_CONTROL_WORD and TRAILS_HOST_MXCSR (hex) set it
// before the first call; every call must leave it as it was (the MXCSR's
// exception flags excepted: they are volatile across calls).
struct HostMode {
    uint16_t x87ControlWord;
    uint32_t mxcsrControl;
};

const uint32_t mxcsrFlags = 0x3F;

HostMode CurrentHostMode() { return HostMode{ReadX87ControlWord(), _mm_getcsr() & ~mxcsrFlags}; }

HostMode ApplyHostFloatingPointMode()
{
    const char* controlWord = std::getenv("TRAILS_HOST_X87_CONTROL_WORD");
    if (controlWord != nullptr && *controlWord != '\0') {
        WriteX87ControlWord(static_cast<uint16_t>(std::strtoul(controlWord, nullptr, 16)));
    }
    const char* mxcsr = std::getenv("TRAILS_HOST_MXCSR");
    if (mxcsr != nullptr && *mxcsr != '\0') {
        _mm_setcsr(static_cast<uint32_t>(std::strtoul(mxcsr, nullptr, 16)));
    }
    return CurrentHostMode();
}

// Ends the dump (status 3, no file) when a call changed the host's mode.
void CheckHostModeKept(const HostMode& host, char call)
{
    const HostMode now = CurrentHostMode();
    if (now.x87ControlWord != host.x87ControlWord || now.mxcsrControl != host.mxcsrControl) {
        std::fprintf(stderr,
                     "dump: schedule step '%c' changed the host's floating-point mode "
                     "(x87 control word %04x -> %04x, MXCSR %08x -> %08x)\n",
                     call, host.x87ControlWord, now.x87ControlWord, host.mxcsrControl, now.mxcsrControl);
        std::exit(3);
    }
}

}  // namespace

int RunDumpCommand(int argc, char** argv)
{
    bool seedGiven = false;
    uint32_t seed = 0;
    ScreenRect rect;
    std::vector<ScheduleStep> schedule;
    bool scheduleGiven = false;
    std::string outPath;

    OptionReader options(argc, argv, 2);
    std::string name;
    std::string value;
    while (options.Next(name, value)) {
        if (name == "--seed") {
            seed = ParseUnsigned32(name, value);
            seedGiven = true;
        } else if (name == "--rect") {
            rect = ParseRect(value);
        } else if (name == "--schedule") {
            schedule = ParseSchedule(value);
            scheduleGiven = true;
        } else if (name == "--out") {
            outPath = value;
        } else {
            throw UsageError("dump: unknown option '" + name + "'");
        }
    }
    if (!seedGiven)
        throw UsageError("dump: --seed S is required");
    if (!scheduleGiven)
        throw UsageError("dump: --schedule is required");
    if (outPath.empty())
        throw UsageError("dump: --out FILE is required");

    ApplySimdChoice();
    const HostMode host = ApplyHostFloatingPointMode();
    // A device as large as the grid; no frame of a dump is rasterized.
    HostedScene runner(AccumulationGridWidth, AccumulationGridHeight);
    runner.KeepGlowTexels(true);
    for (const ScheduleStep& step : schedule) {
        switch (step.kind) {
        case 's':
            runner.Setup(rect, seed);
            break;
        case 'x':
            runner.Free();
            break;
        case 't':
            for (uint64_t n = 0; n < step.count; ++n)
                runner.Tick();
            break;
        case 'f':
            for (uint64_t n = 0; n < step.count; ++n)
                runner.Frame(rect, false);
            break;
        }
        CheckHostModeKept(host, step.kind);
    }

    WriteDump(outPath, runner);
    return 0;
}
