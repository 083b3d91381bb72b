// The few reads and writes of the plug-in's state that the entry-point-level
// benchmark bodies need beyond the exported entry points. Everything else
// those bodies do goes through SetupScene, UpdateScene, RenderSceneOnScreen,
// FreePlugin and the software device; kept in one place (scene_access.cpp) so
// that a change of the scene's layout touches one file of the benchmarks.
#pragma once

#include <cstdint>

#include "render/graphics.h"

// Particles one set-up adds.
int ParticlesPerSetupOfTree();

uint32_t SceneParticleCount();

// Where particle n stands in its map (map units), as its next step reads it.
void SceneParticleMapPosition(uint32_t n, float& x, float& y);

// The tick counter towards the next re-draw of the pattern; the bodies that
// hold one map family put it back before it reaches the re-draw.
int32_t SceneTicksSinceReseed();
void SetSceneTicksSinceReseed(int32_t ticks);

// The map family particles take at creation and after every step.
void SetSceneEquationType(int32_t family);

// Every variable back to its load value, the particle list emptied.
void ResetSceneState();

// The two layer textures of the last set-up (null when there are none).
IDirect3DTexture9* SceneFullLayerTexture();
IDirect3DTexture9* SceneGlowLayerTexture();
