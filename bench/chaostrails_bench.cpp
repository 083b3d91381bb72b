// Benchmarks of the scene's two per-call costs, each against its floor, with
// the ratios that matter printed after the table.
//
//  Tick/particles:N/family:F   UpdateScene in steady state: N particles (one
//                              set-up per 2000), map family F held for the
//                              whole run (warm-up included), 2000 warm-up ticks.
//  TickFloor/family:F          only the libm calls the steps of those 2000
//                              particles make, on their current positions,
//                              each as the step does it: (float)f((double)x),
//                              atan, sin, sin, tan and the family's own (the
//                              compiler turns sin x into sincos x here as it
//                              does in the step).
//  Frame/particles:N           RenderSceneOnScreen on a software device in
//                              cost-free mode (locks hand out plain memory,
//                              clears and draws cost nothing). Between two
//                              timed frames one untimed tick keeps the grid in
//                              its steady state.
//  FrameFloor                  a memcpy of the full layer's bytes plus a
//                              memset of the glow layer's bytes: what a frame
//                              must move into the discard-locked textures.
//  SimulatedSecond             60 ticks and 60 frames with 2000 scene.particles.
//
// Two more, to show where a frame's time goes against its floor:
//  FrameFloorFromMemory        the floor with the caches emptied before each
//                              run (a 128 MB sweep, untimed): the floor itself
//                              mostly stays in the cache between runs, while a
//                              frame's data (grids, layer copy, textures: some
//                              67 MB) cannot.
//  HaloArithmetic              only the halos' arithmetic and glow texels of
//                              2000 particles whose halos lie on twenty spots,
//                              so that all their data is in the cache: the
//                              least the halo pass can cost, memory aside.
//
// Set-up n is seeded with n (1, 2, 3, 4). Frames and the simulated second run
// the seeds' own families, re-draws included.
//
// Times are CPU time of the benchmark thread, so that other work on a shared
// machine does not inflate them. Before the benchmarks, the resident memory
// of one set-up is read from /proc/self/status.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/software_device.h"
#include "plugin/entry_points.h"
#include "plugin/plugin_state.h"
#include "core/layers.h"

namespace {

const int32_t screenLeft = 0;
const int32_t screenTop = 0;
const int32_t screenRight = 1920;
const int32_t screenBottom = 1200;
const int warmUpTicks = 2000;
const int ticksPerSecond = 60;
// The family the headline tick ratios are given for (the set-up's family:
// every scene runs its first 1501 ticks with it).
const int headlineFamily = 1;
const int familyCount = 10;
// Scene runs with a held family are kept from re-drawing their pattern by
// putting the tick counter back before it reaches the re-draw.
const int32_t holdPatternBelow = 1400;
const int32_t holdPatternAt = 400;

// ---------------------------------------------------------------------------
// The scene under test, prepared once per configuration and reused by every
// benchmark (and every run of a benchmark) that asks for the same one.

struct SceneConfig {
    int setups;
    int family;   // -1: as the seeds give it, re-draws included
    bool device;  // set up on the software device (needed for frames)
    bool operator==(const SceneConfig& other) const
    {
        return setups == other.setups && family == other.family && device == other.device;
    }
};

std::unique_ptr<SoftwareDevice> device;
bool scenePrepared = false;
SceneConfig preparedConfig = {0, 0, false};

void HoldPattern(const SceneConfig& config)
{
    if (config.family >= 0 && scene.ticksSinceReseed > holdPatternBelow) {
        scene.ticksSinceReseed = holdPatternAt;
    }
}

void Tick(const SceneConfig& config)
{
    HoldPattern(config);
    UpdateScene();
}

void Frame()
{
    RenderSceneOnScreen(0, device.get(), screenLeft, screenTop, screenRight, screenBottom, 0, 0, 0, 0, 0);
}

SoftwareDevice* BenchDevice()
{
    if (!device) {
        // The back buffer is the host's, and cost-free draws never touch it.
        device.reset(new SoftwareDevice(64, 64));
        device->SetCostFreeMode(true);
    }
    return device.get();
}

void PrepareScene(const SceneConfig& config)
{
    if (scenePrepared && preparedConfig == config) {
        return;
    }
    FreePlugin(0, 0, 0);
    ResetSceneToLoadValues(scene);
    if (config.family >= 0) {
        // Particles take the scene's family at creation and after every step.
        scene.equationType = config.family;
    }
    for (int n = 0; n < config.setups; ++n) {
        SetupScene(config.device ? BenchDevice() : nullptr, screenLeft, screenTop, screenRight, screenBottom,
                   static_cast<uint32_t>(n + 1));
    }
    for (int t = 0; t < warmUpTicks; ++t) {
        Tick(config);
        if (config.device) {
            Frame();
        }
    }
    scenePrepared = true;
    preparedConfig = config;
}

// ---------------------------------------------------------------------------
// Ticks

void BM_Tick(benchmark::State& state)
{
    const SceneConfig config = {static_cast<int>(state.range(0) / ParticlesPerSetup),
                                static_cast<int>(state.range(1)), false};
    PrepareScene(config);
    for (auto _ : state) {
        Tick(config);
    }
    state.counters["time/particle"] = benchmark::Counter(static_cast<double>(scene.particles.count),
                                                       benchmark::Counter::kIsIterationInvariantRate |
                                                           benchmark::Counter::kInvert);
}

// The libm calls of one step of family `family` at (x, y), with the roundings
// the step makes around them; returns a value built from all of them.
inline float StepLibmCalls(int family, float x, float y)
{
    const float atanY = static_cast<float>(std::atan(static_cast<double>(y)));
    const float sinA = static_cast<float>(std::sin(static_cast<double>(static_cast<float>(double{y} + atanY))));
    const float sinX = static_cast<float>(std::sin(static_cast<double>(x)));
    const float tanB = static_cast<float>(std::tan(static_cast<double>(static_cast<float>(double{x} - sinX))));
    float extra = 0.0f;
    switch (family) {
    case 0:
        break;
    case 1: {
        const float cosY = static_cast<float>(std::cos(static_cast<double>(y)));
        extra = static_cast<float>(std::sin(static_cast<double>(static_cast<float>(double{y} + cosY))));
        break;
    }
    case 2: {
        const float tanX = static_cast<float>(std::tan(static_cast<double>(x)));
        const float tanY = static_cast<float>(std::tan(static_cast<double>(y)));
        extra = static_cast<float>(std::tan(static_cast<double>(static_cast<float>(double{y} + tanX)))) +
                static_cast<float>(std::tan(static_cast<double>(static_cast<float>(double{x} - tanY))));
        break;
    }
    case 3:
    case 4:
    case 5:
    case 6:
        extra = static_cast<float>(std::tan(static_cast<double>(x))) +
                static_cast<float>(std::tan(static_cast<double>(y)));
        break;
    case 8:
    case 9:
        extra = static_cast<float>(std::sin(static_cast<double>(y)));
        break;
    default:
        extra = static_cast<float>(std::sin(static_cast<double>(y))) +
                static_cast<float>(std::cos(static_cast<double>(x)));
        break;
    }
    return sinA + tanB + extra;
}

std::vector<float> floorResults;

void BM_TickFloor(benchmark::State& state)
{
    const int family = static_cast<int>(state.range(0));
    PrepareScene(SceneConfig{1, family, false});
    floorResults.assign(scene.particles.count, 0.0f);
    for (auto _ : state) {
        for (uint32_t n = 0; n < scene.particles.count; ++n) {
            floorResults[n] = StepLibmCalls(family, scene.particles.records[n].mapX, scene.particles.records[n].mapY);
        }
        benchmark::DoNotOptimize(floorResults.data());
        benchmark::ClobberMemory();
    }
}

// ---------------------------------------------------------------------------
// Frames

void BM_Frame(benchmark::State& state)
{
    const SceneConfig config = {static_cast<int>(state.range(0) / ParticlesPerSetup), -1, true};
    PrepareScene(config);
    for (auto _ : state) {
        state.PauseTiming();
        Tick(config);
        state.ResumeTiming();
        Frame();
    }
}

const size_t fullLayerBytes = size_t{AccumulationGridWidth} * AccumulationGridHeight * 4;
const size_t glowLayerBytes = size_t{GlowGridWidth} * GlowGridHeight * 4;

// The floor's copy and clear; with evictFirst, a 128 MB sweep (untimed)
// empties the caches before each run.
void RunFrameFloor(benchmark::State& state, bool evictFirst)
{
    // Touched once up front, so no first-touch page faults are timed.
    std::vector<unsigned char> source(fullLayerBytes, 1);
    std::vector<unsigned char> fullLayer(fullLayerBytes, 2);
    std::vector<unsigned char> glowLayer(glowLayerBytes, 3);
    std::vector<unsigned char> sweep(evictFirst ? size_t{128} << 20 : 0, 4);
    for (auto _ : state) {
        if (evictFirst) {
            state.PauseTiming();
            for (size_t n = 0; n < sweep.size(); n += 64) {
                sweep[n] = static_cast<unsigned char>(sweep[n] + 1);
            }
            benchmark::DoNotOptimize(sweep.data());
            state.ResumeTiming();
        }
        std::memcpy(fullLayer.data(), source.data(), fullLayerBytes);
        std::memset(glowLayer.data(), 0, glowLayerBytes);
        benchmark::DoNotOptimize(fullLayer.data());
        benchmark::DoNotOptimize(glowLayer.data());
        benchmark::ClobberMemory();
    }
}

void BM_FrameFloor(benchmark::State& state) { RunFrameFloor(state, false); }

void BM_FrameFloorFromMemory(benchmark::State& state) { RunFrameFloor(state, true); }

void BM_HaloArithmetic(benchmark::State& state)
{
    const SceneConfig config = {1, -1, true};
    PrepareScene(config);
    // The particles' own places come back afterwards: other benchmarks share
    // the scene.
    std::vector<int32_t> places;
    const int spots = 20;
    for (uint32_t n = 0; n < scene.particles.count; ++n) {
        places.push_back(scene.particles.records[n].pixelX);
        places.push_back(scene.particles.records[n].pixelY);
        // Spots apart by odd amounts, so that no two share cache sets.
        scene.particles.records[n].pixelX = 100 + 83 * static_cast<int32_t>(n % spots);
        scene.particles.records[n].pixelY = 200 + 37 * static_cast<int32_t>(n % spots);
    }
    std::vector<uint32_t> glowTexels(size_t{GlowGridWidth} * GlowGridHeight);
    for (auto _ : state) {
        UpdateGlowTexels(scene, TexelBuffer{glowTexels.data(), GlowGridWidth, GlowGridHeight, GlowGridWidth * 4});
        benchmark::DoNotOptimize(glowTexels.data());
        benchmark::ClobberMemory();
    }
    for (uint32_t n = 0; n < scene.particles.count; ++n) {
        scene.particles.records[n].pixelX = places[2 * n];
        scene.particles.records[n].pixelY = places[2 * n + 1];
    }
}

void BM_SimulatedSecond(benchmark::State& state)
{
    const SceneConfig config = {1, -1, true};
    PrepareScene(config);
    for (auto _ : state) {
        for (int n = 0; n < ticksPerSecond; ++n) {
            Tick(config);
            Frame();
        }
    }
}

// ---------------------------------------------------------------------------
// Memory

long ResidentKilobytes()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, 6, "VmRSS:") == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return -1;
}

struct MemoryReading {
    long beforeSetupKb;
    long afterSetupKb;
    long afterRunningKb;
    long deviceTextureKb;  // texel memory of the stand-in device's two textures
};

long TextureKilobytes(IDirect3DTexture9* texture)
{
    const SoftwareTexture* software = device->TextureById(SoftwareDevice::IdOf(texture));
    return software == nullptr ? 0 : static_cast<long>(software->Pitch()) * software->Height() / 1024;
}

// One set-up on the software device in a process that has not run the scene
// yet: right after it, and after 2000 ticks and frames (by then every page of
// the grids and of the layer copy has been touched).
MemoryReading MeasureResidentMemory()
{
    MemoryReading reading;
    reading.beforeSetupKb = ResidentKilobytes();
    const SceneConfig config = {1, -1, true};
    SetupScene(BenchDevice(), screenLeft, screenTop, screenRight, screenBottom, 1);
    reading.afterSetupKb = ResidentKilobytes();
    for (int t = 0; t < warmUpTicks; ++t) {
        Tick(config);
        Frame();
    }
    reading.afterRunningKb = ResidentKilobytes();
    reading.deviceTextureKb = TextureKilobytes(deviceResources.FullLayerTexture) + TextureKilobytes(deviceResources.GlowLayerTexture);
    scenePrepared = true;
    preparedConfig = config;
    return reading;
}

// ---------------------------------------------------------------------------
// Results and ratios

// Collects each benchmark's CPU time per iteration (the least over
// repetitions) while the console reporter prints the table.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred || run.run_type != Run::RT_Iteration) {
                continue;
            }
            const double seconds = run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            const std::string name = run.run_name.str();
            auto found = seconds_.find(name);
            if (found == seconds_.end() || seconds < found->second) {
                seconds_[name] = seconds;
            }
        }
    }

    // Seconds per iteration, or a negative value when the benchmark did not run.
    double Seconds(const std::string& name) const
    {
        auto found = seconds_.find(name);
        return found == seconds_.end() ? -1.0 : found->second;
    }

private:
    std::map<std::string, double> seconds_;
};

std::string TickName(int particleCount, int family)
{
    return "Tick/particles:" + std::to_string(particleCount) + "/family:" + std::to_string(family);
}

std::string TickFloorName(int family) { return "TickFloor/family:" + std::to_string(family); }

std::string CpuModel()
{
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line)) {
        if (line.compare(0, 10, "model name") == 0) {
            const size_t colon = line.find(':');
            return colon == std::string::npos ? line : line.substr(colon + 2);
        }
    }
    return "unknown";
}

void PrintRatio(const char* what, double numerator, double denominator, double target)
{
    if (numerator < 0.0 || denominator <= 0.0) {
        std::printf("  %-44s not measured\n", what);
        return;
    }
    const double ratio = numerator / denominator;
    std::printf("  %-44s %6.3f   (target <= %.1f: %s)\n", what, ratio, target, ratio <= target ? "met" : "MISSED");
}

void PrintSummary(const RatioReporter& results, const MemoryReading& memory)
{
    std::printf("\nMachine: %ld cores online, %s\n", sysconf(_SC_NPROCESSORS_ONLN), CpuModel().c_str());
    std::printf("Ratios (CPU time, least of the repetitions):\n");
    PrintRatio("frame(2000) / frame floor", results.Seconds("Frame/particles:2000"), results.Seconds("FrameFloor"),
               1.3);
    char label[96];
    std::snprintf(label, sizeof(label), "tick(2000) / tick floor, family %d", headlineFamily);
    PrintRatio(label, results.Seconds(TickName(2000, headlineFamily)), results.Seconds(TickFloorName(headlineFamily)),
               1.5);
    std::snprintf(label, sizeof(label), "tick(8000) / tick(2000), family %d", headlineFamily);
    PrintRatio(label, results.Seconds(TickName(8000, headlineFamily)), results.Seconds(TickName(2000, headlineFamily)),
               4.2);
    const double second = results.Seconds("SimulatedSecond");
    if (second >= 0.0) {
        const double percent = second * 100.0;
        std::printf("  %-44s %5.2f %% (target <= 10 %%: %s)\n", "one simulated second, share of one core", percent,
                    percent <= 10.0 ? "met" : "MISSED");
    }
    PrintRatio("frame(8000) / frame(2000)", results.Seconds("Frame/particles:8000"),
               results.Seconds("Frame/particles:2000"), 4.2);

    const double frameFloor = results.Seconds("FrameFloor");
    const double floorFromMemory = results.Seconds("FrameFloorFromMemory");
    const double haloArithmetic = results.Seconds("HaloArithmetic");
    if (frameFloor > 0.0 && floorFromMemory > 0.0 && haloArithmetic > 0.0) {
        std::printf("Against the frame floor (%.1f us; a frame may spend %.1f us above it):\n", frameFloor * 1e6,
                    0.3 * frameFloor * 1e6);
        std::printf("  the floor with its bytes coming from memory  %8.1f us, %.3f x floor\n",
                    floorFromMemory * 1e6, floorFromMemory / frameFloor);
        std::printf("  the halos' arithmetic alone, data in cache   %8.1f us, %.3f x floor\n", haloArithmetic * 1e6,
                    haloArithmetic / frameFloor);
    }

    std::printf("Tick against its floor per family (2000 particles, the family held for the whole run):\n");
    for (int family = 0; family < familyCount; ++family) {
        const double tick = results.Seconds(TickName(2000, family));
        const double floor = results.Seconds(TickFloorName(family));
        if (tick < 0.0 || floor <= 0.0) {
            continue;
        }
        std::printf("  family %d: tick %8.1f us, floor %8.1f us, ratio %.3f\n", family, tick * 1e6, floor * 1e6,
                    tick / floor);
    }

    std::printf("Resident memory (VmRSS, target <= 70 MB): %.1f MB before set-up, %.1f MB after one set-up, "
                "%.1f MB after it ran 2000 ticks and frames;\n  of the last, %.1f MB is the stand-in device's "
                "texture memory and %.1f MB the process before set-up, leaving %.1f MB to the scene\n",
                memory.beforeSetupKb / 1024.0, memory.afterSetupKb / 1024.0, memory.afterRunningKb / 1024.0,
                memory.deviceTextureKb / 1024.0, memory.beforeSetupKb / 1024.0,
                (memory.afterRunningKb - memory.deviceTextureKb - memory.beforeSetupKb) / 1024.0);
}

void RegisterBenchmarks()
{
    for (int family = 0; family < familyCount; ++family) {
        benchmark::RegisterBenchmark("Tick", BM_Tick)
            ->Args({2000, family})
            ->ArgNames({"particles", "family"})
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark("TickFloor", BM_TickFloor)
            ->Arg(family)
            ->ArgNames({"family"})
            ->Unit(benchmark::kMicrosecond);
    }
    benchmark::RegisterBenchmark("Tick", BM_Tick)
        ->Args({4000, headlineFamily})
        ->Args({8000, headlineFamily})
        ->ArgNames({"particles", "family"})
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("FrameFloor", BM_FrameFloor)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("Frame", BM_Frame)
        ->Arg(2000)
        ->Arg(8000)
        ->ArgNames({"particles"})
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("FrameFloorFromMemory", BM_FrameFloorFromMemory)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("HaloArithmetic", BM_HaloArithmetic)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("SimulatedSecond", BM_SimulatedSecond)->Unit(benchmark::kMillisecond);
}

}  // namespace

int main(int argc, char** argv)
{
    // First, while the process has touched nothing of the scene.
    const MemoryReading memory = MeasureResidentMemory();

    RegisterBenchmarks();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    PrintSummary(reporter, memory);
    return 0;
}
