// The scene's random numbers: one 32-bit linear congruential generator per
// thread, our own (never the C runtime's rand), so that every build and every
// platform draws the same sequence from the same seed.
//
// Per thread, not part of the scene state: a set-up seeds the thread that
// calls it, and a thread that never seeded starts from 1. A host that ticks
// and draws on the thread it set up on gets the frame's lattice draws from
// the same sequence as the simulation's; one that draws on another thread
// gets that thread's own sequence. Hosts see the scene that behaviour gives,
// so the state stays with the thread.
#pragma once

#include <cstdint>

// Sets the calling thread's state. A thread that never seeds starts from 1.
void SeedGenerator(uint32_t seed);

// One draw, 0 to 32767: state = state * 214013 + 2531011 (mod 2^32), result
// (state >> 16) & 32767.
int32_t DrawRandom();

// The calling thread's current state (for dumps and tests).
uint32_t GeneratorState();

// Tests only: the next draws on this thread return these values instead of
// the generator's (the state does not advance while they last). The array
// must outlive the draws.
void ScriptDraws(const int32_t* draws, uint32_t count);
uint32_t ScriptedDrawsLeft();
