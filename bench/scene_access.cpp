// The benchmark's state access: one SceneState and the device resources
// beside it (core/scene_state.h, plugin/plugin_state.h).
#include "scene_access.h"

#include "plugin/plugin_state.h"

int ParticlesPerSetupOfTree() { return ParticlesPerSetup; }

uint32_t SceneParticleCount() { return scene.particles.count; }

void SceneParticleMapPosition(uint32_t n, float& x, float& y)
{
    x = scene.particles.records[n].mapX;
    y = scene.particles.records[n].mapY;
}

int32_t SceneTicksSinceReseed() { return scene.ticksSinceReseed; }

void SetSceneTicksSinceReseed(int32_t ticks) { scene.ticksSinceReseed = ticks; }

void SetSceneEquationType(int32_t family) { scene.equationType = family; }

void ResetSceneState() { ResetSceneToLoadValues(scene); }

IDirect3DTexture9* SceneFullLayerTexture() { return deviceResources.FullLayerTexture; }

IDirect3DTexture9* SceneGlowLayerTexture() { return deviceResources.GlowLayerTexture; }
