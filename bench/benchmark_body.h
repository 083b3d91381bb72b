// Runs one of the bodies of bodies.h as a Google Benchmark: its untimed step
// (if any) with the timing paused before every timed iteration.
#pragma once

#include <benchmark/benchmark.h>

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
        state.counters["time/particle"] = benchmark::Counter(
            static_cast<double>(particles), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    }
}

// Registers the body under its own name and unit.
inline benchmark::internal::Benchmark* RegisterBody(BenchBody* body)
{
    return benchmark::RegisterBenchmark(body->Name().c_str(),
                                        [body](benchmark::State& state) { RunBodyAsBenchmark(state, body); })
        ->Unit(body->Unit() == BodyUnit::Milliseconds ? benchmark::kMillisecond : benchmark::kMicrosecond);
}
