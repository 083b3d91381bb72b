// Google Benchmark glue of chaostrails_bench: running
// one of the bodies of bodies.h as a benchmark (its untimed step, if any,
// with the timing paused before every timed iteration), and a reporter that
// keeps each benchmark's least CPU time.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

#include "bodies.h"

inline void RunBodyAsBenchmark(benchmark::State& state, BenchBody* body)
{
    body->Prepare();
    const bool untimedStep = body->HasUntimedStep();
    for (auto _ : state) {
        if (untimedStep) {
            state.PauseTiming();
            body->UntimedStep();
            state.ResumeTiming();
        }
        body->Iterate();
    }
    const uint32_t particles = body->ParticlesPerIteration();
    if (particles > 0) {
        state.counters["time/particle"] =
            benchmark::Counter(static_cast<double>(particles),
                               benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    }
}

// Registers the body under its own name and unit.
inline benchmark::internal::Benchmark* RegisterBody(BenchBody* body)
{
    return benchmark::RegisterBenchmark(body->Name().c_str(),
                                        [body](benchmark::State& state) { RunBodyAsBenchmark(state, body); })
        ->Unit(body->Unit() == BodyUnit::Milliseconds ? benchmark::kMillisecond : benchmark::kMicrosecond);
}

// Collects each benchmark's CPU time per iteration (the least over
// repetitions) while the console reporter prints the table.
class LeastTimeReporter : public benchmark::ConsoleReporter {
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
