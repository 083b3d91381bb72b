// One step of a particle along its chaotic map and its splat into the
// accumulation grid, and the tick's pass over the whole particle list.
#pragma once

#include <cstdint>

#include "core/particle.h"
#include "core/scene_state.h"
#include "core/simd_level.h"

// Advances the particle one step along its map and splats it into the
// scene's accumulation grid (marking the block lit), or respawns it when it
// left the inner area or its life ran out. Touches at most 36 grid cells;
// allocates nothing.
void StepParticle(SceneState& scene, Particle* particle, SimdLevel level = MachineSimdLevel());

// The pattern values a particle receives after its step.
struct PatternHandOver {
    int32_t equationType;
    float offsetX;
    float offsetY;
    float scale;
};

inline void HandOverPattern(Particle* particle, const PatternHandOver& pattern)
{
    particle->equationType = pattern.equationType;
    particle->offsetX = pattern.offsetX;
    particle->offsetY = pattern.offsetY;
    particle->scale = pattern.scale;
}

// Steps every particle of the scene's list in list order, each exactly as
// StepParticle would, and hands each the pattern right after its own step (so
// a particle that respawns in this step is placed with its old offsets and
// scale). Particles are moved a few places ahead of their splat; see
// step.cpp for why that gives the same grid and draws. Runs every tick;
// allocates nothing.
void StepParticlesAndHandOver(SceneState& scene, const PatternHandOver& pattern, SimdLevel level);

// The definition of a step, written plainly: the same move, the inside test
// and the 36-cell splat one scalar operation at a time. It does not keep the
// lit-cell map. The fast paths above are tested against it.
void StepParticleReference(SceneState& scene, Particle* particle);
