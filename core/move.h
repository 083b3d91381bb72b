// The move half of a particle's step: its chaotic map, its life counter, and
// the grid position it lands on. The other half (the inside test, then the
// splat or the respawn) is core/step.cpp's.
//
// A move reads and writes only its own particle, so the moves of many
// particles may run before any of them is finished: the tick moves a block
// of particles at once, their sines, cosines, tangents and arc tangents in
// vector lanes, and finishes them in list order.
#pragma once

#include <cstdint>

#include "core/particle.h"
#include "core/simd_level.h"

struct GridPosition {
    float gx;
    float gy;
};

// The function values one move takes, each a correctly rounded float:
//  sinA = sin(single(y + atan y)), sinX = sin x, tanB = tan(single(x - sin x)),
// and the family's own two (unused ones are 0):
//  family 1:        first = sin(single(y + cos y))
//  family 2:        first = tan(single(y + tan x)), second = tan(single(x - tan y))
//  families 3 to 6: first = tan x, second = tan y
//  families 8, 9:   first = sin y
//  family 7, other: first = sin y, second = cos x
struct MapValues {
    float sinA;
    float sinX;
    float tanB;
    float first;
    float second;
};

// The values of one particle's next move, one scalar call at a time: the
// definition the lanes below are held to.
MapValues MapValuesOf(const Particle& particle);

// The move itself, given its function values: the family's new map
// position, spawnAxis, the life counter, and the grid position.
GridPosition ApplyMove(Particle* particle, const MapValues& values);

// MapValuesOf, then ApplyMove.
GridPosition MoveParticle(Particle* particle);

// Particles moved at once by MoveParticles.
const uint32_t moveBlockSize = 16;

// Moves particles[0..count) (count <= moveBlockSize) exactly as MoveParticle
// would, one after another, and writes where each lands. The function values
// of the block come from the batch functions (two or four lanes), a block of
// one map family at a time; a block of mixed families takes each particle's
// own scalar values. Runs every tick; allocates nothing.
void MoveParticles(Particle* particles, uint32_t count, GridPosition* positions, SimdLevel level);
