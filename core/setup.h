// The scene's part of a set-up; the device's part lies between the two
// halves (see plugin/entry_points.cpp for the whole sequence).
#pragma once

#include <cstdint>

#include "core/scene_state.h"

// The horizontal stretch of the pattern for a screen rectangle: 1.6 divided by
// width / height, so 16:10 gives 1. An empty or inverted rectangle gets 1.
float AspectFactorFor(int32_t left, int32_t top, int32_t right, int32_t bottom);

// First half: the grid size (fixed at 1920 x 1200, whatever the rectangle)
// and the aspect factor.
void FixGridAndAspect(SceneState& scene, int32_t left, int32_t top, int32_t right, int32_t bottom);

// Second half: seeds the calling thread's generator, draws the camera clocks
// and the pattern values, and appends another 2000 particles, each prepared
// from the scene's values and respawned. When memory runs out (or the list
// holds `capacity` records, a test's limit) the records already there are
// kept and appending stops.
void PopulateScene(SceneState& scene, uint32_t seed, uint32_t capacity = 0xFFFFFFFFu);
