// chaostrails_bench: the entry-point-level bodies of bodies.h under Google
// Benchmark, with the figures this build gives on its own printed after the
// table. `make bench` runs it for this tree; `make bench-compare BASE=COMMIT`
// (bench/compare.sh) builds the same sources against an older tree too and
// puts the two side by side.
//
// Times are CPU time of the benchmark thread, so that other work on a shared
// machine does not inflate them. Before the benchmarks, the resident memory
// of one set-up is read (MeasureResidentMemory); it is also written into the
// JSON output's context, for compare.sh.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "benchmark_body.h"
#include "bodies.h"
#include "scene_access.h"

namespace {

// What the scene must stay within, measured by one build alone.
const double simulatedSecondShareTarget = 20.0;  // percent of one core, 64-bit native build
const double eightThousandTarget = 4.2;          // x the 2000-particle cost
const int headlineFamily = 1;

std::string TickName(int particleCount, int family)
{
    return "Tick/particles:" + std::to_string(particleCount) + "/family:" + std::to_string(family);
}

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

void PrintTarget(const char* what, double numerator, double denominator, double target)
{
    if (numerator < 0.0 || denominator <= 0.0) {
        std::printf("  %-46s not measured\n", what);
        return;
    }
    const double ratio = numerator / denominator;
    std::printf("  %-46s %6.3f   (target <= %.1f: %s)\n", what, ratio, target, ratio <= target ? "met" : "MISSED");
}

void PrintInformation(const char* what, double numerator, double denominator)
{
    if (numerator >= 0.0 && denominator > 0.0) {
        std::printf("  %-46s %6.3f\n", what, numerator / denominator);
    }
}

void PrintSummary(const LeastTimeReporter& results, const MemoryReading& memory)
{
    std::printf("\nMachine: %ld cores online, %s\n", sysconf(_SC_NPROCESSORS_ONLN), CpuModel().c_str());
    std::printf("Targets this build checks alone (CPU time, least of the repetitions):\n");
    const double second = results.Seconds("SimulatedSecond");
    if (second >= 0.0) {
        const double percent = second * 100.0;
        std::printf("  %-46s %5.2f %% (target <= %.0f %% natively: %s)\n", "one simulated second, share of one core",
                    percent, simulatedSecondShareTarget, percent <= simulatedSecondShareTarget ? "met" : "MISSED");
    }
    char label[96];
    std::snprintf(label, sizeof(label), "tick(8000) / tick(2000), family %d", headlineFamily);
    PrintTarget(label, results.Seconds(TickName(8000, headlineFamily)), results.Seconds(TickName(2000, headlineFamily)),
                eightThousandTarget);
    PrintTarget("frame(8000) / frame(2000)", results.Seconds("Frame/particles:8000"),
                results.Seconds("Frame/particles:2000"), eightThousandTarget);
    std::printf("  Ratios to an older commit need both builds in one run: `make bench-compare BASE=COMMIT`.\n");

    std::printf("Against the floors (no target):\n");
    PrintInformation("frame(2000) / frame floor", results.Seconds("Frame/particles:2000"),
                     results.Seconds("FrameFloor"));
    PrintInformation("frame(2000) / frame floor from memory", results.Seconds("Frame/particles:2000"),
                     results.Seconds("FrameFloorFromMemory"));
    PrintInformation("glow in cache / frame(2000)", results.Seconds("GlowInCache"),
                     results.Seconds("Frame/particles:2000"));
    PrintInformation("glow from memory / frame(2000)", results.Seconds("GlowFromMemory"),
                     results.Seconds("Frame/particles:2000"));
    for (int family = 0; family < 10; ++family) {
        const double tick = results.Seconds(TickName(2000, family));
        const double floor = results.Seconds("TickFloor/family:" + std::to_string(family));
        if (tick >= 0.0 && floor > 0.0) {
            std::printf("  family %d: tick %8.1f us, floor %8.1f us, ratio %.3f\n", family, tick * 1e6, floor * 1e6,
                        tick / floor);
        }
    }

    if (memory.afterRunningKb < 0) {
        return;
    }
    std::printf(
        "Resident memory (VmRSS): %.1f MB before set-up, %.1f MB after one set-up, %.1f MB after it ran "
        "2000 ticks and frames;\n  of the last, %.1f MB is the stand-in device's texture memory and %.1f MB "
        "the process before set-up, leaving %.1f MB to the scene\n",
        memory.beforeSetupKb / 1024.0, memory.afterSetupKb / 1024.0, memory.afterRunningKb / 1024.0,
        memory.deviceTextureKb / 1024.0, memory.beforeSetupKb / 1024.0,
        (memory.afterRunningKb - memory.deviceTextureKb - memory.beforeSetupKb) / 1024.0);
}

// Takes our own flag out of the arguments before Google Benchmark sees them.
bool TakeFlag(int& argc, char** argv, const char* flag)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], flag) == 0) {
            for (int j = i; j + 1 < argc; ++j) {
                argv[j] = argv[j + 1];
            }
            --argc;
            return true;
        }
    }
    return false;
}

}  // namespace

// --skip_memory leaves the resident memory out: compare.sh runs the
// benchmarks in several short processes and reads the memory in only one
// of them.
int main(int argc, char** argv)
{
    MemoryReading memory = {-1, -1, -1, -1};
    if (!TakeFlag(argc, argv, "--skip_memory")) {
        // First, while the process has touched nothing of the scene.
        memory = MeasureResidentMemory();
        benchmark::AddCustomContext("resident_kb_before_setup", std::to_string(memory.beforeSetupKb));
        benchmark::AddCustomContext("resident_kb_after_setup", std::to_string(memory.afterSetupKb));
        benchmark::AddCustomContext("resident_kb_after_running", std::to_string(memory.afterRunningKb));
        benchmark::AddCustomContext("device_texture_kb", std::to_string(memory.deviceTextureKb));
    }

    std::vector<std::unique_ptr<BenchBody>> bodies = MakeEntryPointBodies();
    for (const std::unique_ptr<BenchBody>& body : bodies) {
        RegisterBody(body.get());
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    LeastTimeReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    PrintSummary(reporter, memory);
    return 0;
}
