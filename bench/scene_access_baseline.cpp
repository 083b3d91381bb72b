// The benchmark's state access for the tree of commit 24c5995, the baseline
// of the side-by-side comparison: there the scene, the particle list and the
// device resources are separate globals (plugin/scene_state.h of that tree).
// Built only against that tree, by side-by-side.sh; the current build never
// compiles this file.
#include "scene_access.h"

#include "plugin/scene_state.h"

int ParticlesPerSetupOfTree() { return ParticlesPerSetup; }

uint32_t SceneParticleCount() { return particles.count; }

void SceneParticleMapPosition(uint32_t n, float& x, float& y)
{
    x = particles.records[n].mapX;
    y = particles.records[n].mapY;
}

int32_t SceneTicksSinceReseed() { return scene.ticksSinceReseed; }

void SetSceneTicksSinceReseed(int32_t ticks) { scene.ticksSinceReseed = ticks; }

void SetSceneEquationType(int32_t family) { scene.equationType = family; }

void ResetSceneState() { ResetSceneToLoadValues(); }

IDirect3DTexture9* SceneFullLayerTexture() { return scene.FullLayerTexture; }

IDirect3DTexture9* SceneGlowLayerTexture() { return scene.GlowLayerTexture; }

const char* SceneAccessTreeName() { return "baseline 24c5995"; }
