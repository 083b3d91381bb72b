// tick_instructions FAMILY TICKS: the instructions of TICKS ticks of the
// benchmarks' 2000-particle scene holding map family FAMILY, after their
// warm-up. Run under `valgrind --tool=callgrind --instr-atstart=no`: the
// instrumentation is on only around the counted ticks, so callgrind's total
// is theirs alone. Instruction counts do not depend on the machine's load,
// which makes them the figure to compare builds by on a shared machine, and
// the only one for code that runs under emulation.
#include <valgrind/callgrind.h>

#include <cstdio>
#include <cstdlib>

#include "bodies.h"

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: tick_instructions FAMILY TICKS\n");
        return 2;
    }
    const int family = std::atoi(argv[1]);
    const int ticks = std::atoi(argv[2]);
    const SceneConfig config = {1, family, false};
    PrepareScene(config);
    CALLGRIND_START_INSTRUMENTATION;
    for (int tick = 0; tick < ticks; ++tick) {
        BenchTick(config);
    }
    CALLGRIND_STOP_INSTRUMENTATION;
    std::printf("%d ticks of family %d\n", ticks, family);
    return 0;
}
