// chaostrails_harness: a small timing harness of our own over the
// entry-point-level bodies of bodies.h, for the Windows build (Debian has no
// Google Benchmark for mingw); it builds natively too. For every body it
// prints the CPU time per iteration, the least of the repetitions, and after
// the table the targets it can check alone.
//
//   chaostrails_harness [--all] [--filter TEXT[,TEXT...]] [--repetitions N]
//                       [--min-time SECONDS] [--out FILE] [--list]
//
// Without --all or --filter it runs the headline bodies: ticks and frames of
// 2000 and 8000 particles, one simulated second, the tick floor of family 1
// and the frame floor. --out writes the results as tab-separated lines for
// side-by-side.sh.
//
// How a repetition is timed: the first one runs until its timed calls took
// --min-time of wall time, the others run as many iterations. A body with no
// untimed step is timed as a whole batch; one with an untimed step (a frame,
// with its tick before it) call by call. Where the CPU clock is too coarse to
// time one call (Windows' thread times), such a body's CPU time is the wall
// time of its timed calls scaled by the repetition's CPU time over its wall
// time; the report says so.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bodies.h"
#include "harness_clock.h"
#include "scene_access.h"

namespace {

#ifdef _WIN32
const char* const residentMemoryName = "working set";
#else
const char* const residentMemoryName = "VmRSS";
#endif

struct Options {
    bool all = false;
    bool list = false;
    std::vector<std::string> filters;
    int repetitions = 5;
    double minTime = 0.5;
    std::string outPath;
};

struct Result {
    std::string name;
    double cpuSeconds = -1.0;   // per iteration, least of the repetitions
    double wallSeconds = -1.0;  // per iteration, least of the repetitions
    long iterations = 0;
    bool scaled = false;  // CPU time from wall time (coarse clock)
};

[[noreturn]] void Usage(const char* message)
{
    std::fprintf(stderr,
                 "chaostrails_harness: %s\nusage: chaostrails_harness [--all] [--filter TEXT[,TEXT...]] "
                 "[--repetitions N] [--min-time SECONDS] [--out FILE] [--list]\n",
                 message);
    std::exit(2);
}

Options ParseOptions(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool hasValue = i + 1 < argc;
        if (argument == "--all") {
            options.all = true;
        } else if (argument == "--list") {
            options.list = true;
        } else if (argument == "--filter" && hasValue) {
            const std::string value = argv[++i];
            size_t start = 0;
            for (;;) {
                const size_t comma = value.find(',', start);
                options.filters.push_back(value.substr(start, comma == std::string::npos ? comma : comma - start));
                if (comma == std::string::npos)
                    break;
                start = comma + 1;
            }
        } else if (argument == "--repetitions" && hasValue) {
            options.repetitions = std::atoi(argv[++i]);
            if (options.repetitions < 1)
                Usage("--repetitions needs a positive count");
        } else if (argument == "--min-time" && hasValue) {
            options.minTime = std::atof(argv[++i]);
            if (!(options.minTime > 0.0))
                Usage("--min-time needs a positive number of seconds");
        } else if (argument == "--out" && hasValue) {
            options.outPath = argv[++i];
        } else {
            Usage(("unknown or incomplete argument '" + argument + "'").c_str());
        }
    }
    return options;
}

bool Selected(const BenchBody& body, const Options& options)
{
    if (options.filters.empty()) {
        return options.all || body.Headline();
    }
    for (const std::string& filter : options.filters) {
        if (body.Name().find(filter) != std::string::npos) {
            return true;
        }
    }
    return false;
}

// One repetition of `iterations` iterations, or with iterations 0 as many as
// fill minTime (the count is returned through iterations).
void RunRepetition(BenchBody& body, long& iterations, double minTime, Result& result)
{
    const bool untimedStep = body.HasUntimedStep();
    const bool untilTime = iterations == 0;
    double timedCpu = 0.0;
    double timedWall = 0.0;
    long done = 0;
    const double cpuStart = ThreadCpuSeconds();
    const double wallStart = WallSeconds();
    while (untilTime ? timedWall < minTime : done < iterations) {
        if (untimedStep) {
            body.UntimedStep();
            const double cpu0 = ThreadCpuSeconds();
            const double wall0 = WallSeconds();
            body.Iterate();
            timedWall += WallSeconds() - wall0;
            timedCpu += ThreadCpuSeconds() - cpu0;
        } else {
            body.Iterate();
            timedWall = WallSeconds() - wallStart;
        }
        ++done;
    }
    const double cpuAll = ThreadCpuSeconds() - cpuStart;
    const double wallAll = WallSeconds() - wallStart;
    iterations = done;
    if (!untimedStep) {
        timedWall = wallAll;
    }

    double cpu = untimedStep ? timedCpu : cpuAll;
    result.scaled = untimedStep && CpuClockIsCoarse();
    if (result.scaled) {
        cpu = wallAll > 0.0 ? timedWall * (cpuAll / wallAll) : timedWall;
    }
    const double cpuPerIteration = cpu / static_cast<double>(done);
    const double wallPerIteration = timedWall / static_cast<double>(done);
    if (result.cpuSeconds < 0.0 || cpuPerIteration < result.cpuSeconds) {
        result.cpuSeconds = cpuPerIteration;
    }
    if (result.wallSeconds < 0.0 || wallPerIteration < result.wallSeconds) {
        result.wallSeconds = wallPerIteration;
    }
}

std::string Time(double seconds, BodyUnit unit)
{
    char text[32];
    if (unit == BodyUnit::Milliseconds) {
        std::snprintf(text, sizeof(text), "%11.3f ms", seconds * 1e3);
    } else {
        std::snprintf(text, sizeof(text), "%11.1f us", seconds * 1e6);
    }
    return text;
}

const Result* Find(const std::vector<Result>& results, const std::string& name)
{
    for (const Result& result : results) {
        if (result.name == name)
            return &result;
    }
    return nullptr;
}

void PrintRatioTarget(const std::vector<Result>& results, const char* what, const char* numerator,
                      const char* denominator, double target)
{
    const Result* top = Find(results, numerator);
    const Result* bottom = Find(results, denominator);
    if (top == nullptr || bottom == nullptr || bottom->cpuSeconds <= 0.0) {
        return;
    }
    const double ratio = top->cpuSeconds / bottom->cpuSeconds;
    std::printf("  %-44s %6.3f   (target <= %.1f: %s)\n", what, ratio, target, ratio <= target ? "met" : "MISSED");
}

void PrintTargets(const std::vector<Result>& results)
{
    const bool thirtyTwoBit = sizeof(void*) == 4;
    const double shareTarget = thirtyTwoBit ? 25.0 : 20.0;
    std::printf("Targets this build checks alone (CPU time, least of the repetitions):\n");
    if (const Result* second = Find(results, "SimulatedSecond")) {
        const double percent = second->cpuSeconds * 100.0;
        std::printf("  %-44s %5.2f %% (target <= %.0f %% in the %s build: %s)\n",
                    "one simulated second, share of one core", percent, shareTarget, thirtyTwoBit ? "32-bit" : "native",
                    percent <= shareTarget ? "met" : "MISSED");
    }
    PrintRatioTarget(results, "tick(8000) / tick(2000), family 1", "Tick/particles:8000/family:1",
                     "Tick/particles:2000/family:1", 4.2);
    PrintRatioTarget(results, "frame(8000) / frame(2000)", "Frame/particles:8000", "Frame/particles:2000", 4.2);
    std::printf("  The ratios to the baseline need both builds in one run: bench/side-by-side.sh%s.\n",
                thirtyTwoBit ? " --windows" : "");
}

}  // namespace

int main(int argc, char** argv)
{
    const Options options = ParseOptions(argc, argv);
    std::vector<std::unique_ptr<BenchBody>> bodies = MakeEntryPointBodies();
    if (options.list) {
        for (const std::unique_ptr<BenchBody>& body : bodies) {
            std::printf("%s%s\n", body->Name().c_str(), body->Headline() ? "  (headline)" : "");
        }
        return 0;
    }

    // First, while the process has touched nothing of the scene.
    const MemoryReading memory = MeasureResidentMemory();
    InitHarnessClocks();

    std::printf("Chaos Trails timing harness: tree %s, %d-bit build, CPU clock %s (steps of %.3g ms)\n",
                SceneAccessTreeName(), static_cast<int>(8 * sizeof(void*)), CpuClockName(), CpuClockResolution() * 1e3);
    if (RunningUnderWine()) {
        std::printf(
            "Running under Wine: where the machine cannot run 32-bit code itself (Wine under QEMU user\n"
            "emulation), these times measure the emulator, not the scene.\n");
    }
    std::printf("%-34s %14s %14s  %s\n", "body", "cpu/iteration", "wall/iteration", "iterations x repetitions");
    std::fflush(stdout);

    std::vector<Result> results;
    for (const std::unique_ptr<BenchBody>& body : bodies) {
        if (!Selected(*body, options)) {
            continue;
        }
        body->Prepare();
        Result result;
        result.name = body->Name();
        long iterations = 0;
        for (int repetition = 0; repetition < options.repetitions; ++repetition) {
            RunRepetition(*body, iterations, options.minTime, result);
        }
        result.iterations = iterations;
        std::printf("%-34s %s %s  %ld x %d%s\n", result.name.c_str(), Time(result.cpuSeconds, body->Unit()).c_str(),
                    Time(result.wallSeconds, body->Unit()).c_str(), iterations, options.repetitions,
                    result.scaled ? "  (cpu scaled from wall)" : "");
        std::fflush(stdout);
        results.push_back(result);
    }

    std::printf("\n");
    PrintTargets(results);
    std::printf(
        "Resident memory (%s): %.1f MB before set-up, %.1f MB after one set-up, %.1f MB after it ran "
        "2000 ticks and frames (%.1f MB of it the stand-in device's textures)\n",
        residentMemoryName, memory.beforeSetupKb / 1024.0, memory.afterSetupKb / 1024.0, memory.afterRunningKb / 1024.0,
        memory.deviceTextureKb / 1024.0);

    if (!options.outPath.empty()) {
        FILE* out = std::fopen(options.outPath.c_str(), "w");
        if (out == nullptr) {
            std::fprintf(stderr, "chaostrails_harness: cannot write %s\n", options.outPath.c_str());
            return 1;
        }
        std::fprintf(out, "context\ttree\t%s\n", SceneAccessTreeName());
        std::fprintf(out, "context\tresident_kb_before_setup\t%ld\n", memory.beforeSetupKb);
        std::fprintf(out, "context\tresident_kb_after_setup\t%ld\n", memory.afterSetupKb);
        std::fprintf(out, "context\tresident_kb_after_running\t%ld\n", memory.afterRunningKb);
        std::fprintf(out, "context\tdevice_texture_kb\t%ld\n", memory.deviceTextureKb);
        for (const Result& result : results) {
            std::fprintf(out, "result\t%s\t%.9g\t%.9g\t%ld\n", result.name.c_str(), result.cpuSeconds,
                         result.wallSeconds, result.iterations);
        }
        std::fclose(out);
    }
    return 0;
}
