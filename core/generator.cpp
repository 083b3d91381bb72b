#include "core/generator.h"

namespace {
thread_local uint32_t generatorState = 1;
thread_local const int32_t* scriptedDraws = nullptr;
thread_local uint32_t scriptedDrawsLeft = 0;
}  // namespace

void SeedGenerator(uint32_t seed) { generatorState = seed; }

int32_t DrawRandom()
{
    if (scriptedDrawsLeft != 0) {
        --scriptedDrawsLeft;
        return *scriptedDraws++;
    }
    generatorState = generatorState * 214013u + 2531011u;
    return static_cast<int32_t>((generatorState >> 16) & 32767u);
}

uint32_t GeneratorState() { return generatorState; }

void ScriptDraws(const int32_t* draws, uint32_t count)
{
    scriptedDraws = draws;
    scriptedDrawsLeft = count;
}

uint32_t ScriptedDrawsLeft() { return scriptedDrawsLeft; }
