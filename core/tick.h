// The scene tick behind UpdateScene.
#pragma once

#include "core/scene_state.h"
#include "core/simd_level.h"

// Counts the tick and re-draws the pattern on every 1501st, steps every
// particle in list order and hands it the current pattern, then advances the
// camera clocks, angles and field-of-view wobble, with the vector
// instructions `level` allows. Allocates nothing.
void TickScene(SceneState& scene, SimdLevel level = MachineSimdLevel());

// The same tick with every particle stepped one after the other by
// StepParticleReference: what TickScene must give, bit for bit, but the
// lit-cell map (which the reference step does not keep).
void TickSceneReference(SceneState& scene);

// Draws a new pattern scale and offsets: the draw times 150 / 32767 (or
// 10 / 32767) rounded to single, then 50 added (or 5 taken).
void DrawPatternValues(SceneState& scene);
