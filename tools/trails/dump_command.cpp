// trails dump: runs a schedule of entry-point calls and writes the whole
// simulation state, so it can be checked cell by cell against a reference and
// compared byte for byte across builds.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "plugin/fpu_mode.h"
#include "plugin/scene_state.h"
#include "simulation/generator.h"
#include "tools/trails/atomic_file.h"
#include "tools/trails/command_line.h"
#include "tools/trails/hosted_scene.h"

static_assert(sizeof(Particle) == 1672, "a particle's record is dumped as it is held");
static_assert(sizeof(GridCell) == 16, "a cell is four floats");

namespace {

void WriteScalars(AtomicFile& out)
{
    const uint32_t generatorState = GeneratorState();
    const void* fields[] = {&scene.gridWidth,      &scene.gridHeight,     &scene.aspectFactor,
                            &scene.equationType,   &scene.patternScale,   &scene.patternOffsetX,
                            &scene.patternOffsetY, &scene.ticksSinceReseed, &scene.cameraClockA,
                            &scene.cameraClockB,   &scene.cameraPitch,    &scene.cameraYaw,
                            &scene.fovWobble,      &generatorState};
    for (const void* field : fields) {
        out.Write(field, 4);
    }
}

void WriteDump(const std::string& path, const HostedScene& runner)
{
    AtomicFile out(path);
    out.Write("CTDUMP01", 8);
    WriteScalars(out);
    const uint32_t count = particles.count;
    out.Write(&count, 4);
    out.Write(particles.records, static_cast<size_t>(count) * sizeof(Particle));
    out.Write(AccumulationGrid, sizeof(AccumulationGrid));
    out.Write(GlowGrid, sizeof(GlowGrid));
    out.Write(FullLayerTexels, sizeof(FullLayerTexels));
    out.Write(runner.GlowTexels().data(), runner.GlowTexels().size() * sizeof(uint32_t));
    out.Commit();
}

// A host that created its device without preserving the FPU state leaves the
// x87 unit at 24-bit precision; the Windows build's checks recreate that with
// TRAILS_HOST_X87_CONTROL_WORD (hex) before the first call.
void ApplyHostFloatingPointMode()
{
    const char* controlWord = std::getenv("TRAILS_HOST_X87_CONTROL_WORD");
    if (controlWord != nullptr && *controlWord != '\0') {
        WriteX87ControlWord(static_cast<uint16_t>(std::strtoul(controlWord, nullptr, 16)));
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
    if (!seedGiven) throw UsageError("dump: --seed S is required");
    if (!scheduleGiven) throw UsageError("dump: --schedule is required");
    if (outPath.empty()) throw UsageError("dump: --out FILE is required");

    ApplyHostFloatingPointMode();
    // A device as large as the grid; no frame of a dump is rasterized.
    HostedScene runner(AccumulationGridWidth, AccumulationGridHeight);
    runner.KeepGlowTexels(true);
    for (const ScheduleStep& step : schedule) {
        switch (step.kind) {
        case 's': runner.Setup(rect, seed); break;
        case 'x': runner.Free(); break;
        case 't':
            for (uint64_t n = 0; n < step.count; ++n) runner.Tick();
            break;
        case 'f':
            for (uint64_t n = 0; n < step.count; ++n) runner.Frame(rect, false);
            break;
        }
    }
    WriteDump(outPath, runner);
    return 0;
}
