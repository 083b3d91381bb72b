// The tick's pass over the particle list: every particle stepped in list order
// and handed the scene's pattern right after its own step.
#pragma once

#include <cstdint>

#include "plugin/scene_state.h"
#include "simulation/particle.h"

// The pattern values a particle receives after its step.
struct PatternHandOver {
    int32_t equationType;
    float offsetX;
    float offsetY;
    float scale;
};

// Steps particles first[0] to first[count - 1] in that order, each exactly as
// StepParticle would, and hands each the pattern right after its own step (so
// a particle that respawns in this step is placed with its old offsets and
// scale). Runs every tick; allocates nothing.
void StepParticlesAndHandOver(Particle* first, uint32_t count, const PatternHandOver& pattern);

// One bit per AccumulationGrid cell, row-major: cell (x, y) is bit
// (y * AccumulationGridWidth + x) % 8 of byte (y * AccumulationGridWidth + x) / 8.
// Every splat sets the bits of its 6 x 6 block; the fade clears a cell's bit
// when it leaves the cell so that its next visit would skip it (red + green +
// blue not above 0). A clear bit therefore promises that the fade would skip
// the cell, and the frame's fade does not read it: most of the grid is black.
// Only the splat and the fade write the grid; any other writer of a cell
// (nothing in the plug-in) must set its bit.
extern uint8_t LitCells[AccumulationGridWidth * AccumulationGridHeight / 8];
