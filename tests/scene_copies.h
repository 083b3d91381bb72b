// Scenes of a test's own, apart from the plug-in's global one: to run a fast
// path on one copy and its reference on another and compare them.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <memory>

#include "core/scene_state.h"

struct SceneDeleter {
    void operator()(SceneState* scene) const
    {
        ReleaseParticleStorage(scene->particles);
        delete scene;
    }
};
using ScenePtr = std::unique_ptr<SceneState, SceneDeleter>;

// A scene with the load values (56 MB, zero but for a few scalars).
inline ScenePtr NewScene()
{
    ScenePtr scene(new SceneState());
    ResetSceneToLoadValues(*scene);
    return scene;
}

// Makes `to` a copy of `from`, its particles in its own storage.
inline void CopyScene(SceneState& to, const SceneState& from)
{
    const ParticleList storage = to.particles;
    std::memcpy(static_cast<void*>(&to), &from, sizeof(SceneState));
    to.particles = storage;
    to.particles.count = 0;
    for (uint32_t n = 0; n < from.particles.count; ++n) {
        ASSERT_TRUE(AppendParticle(to, from.particles.records[n]));
    }
}

// Everything the simulation computes is the same, byte for byte: scalars,
// particles, both grids, the full layer. The lit-cell map and the glow
// bookkeeping are left out: they record what the fast paths may skip.
inline void ExpectSameSimulation(const SceneState& expected, const SceneState& actual, const char* what)
{
    EXPECT_EQ(0, std::memcmp(&expected, &actual, offsetof(SceneState, particles))) << what << ": scalars";
    ASSERT_EQ(expected.particles.count, actual.particles.count) << what;
    if (expected.particles.count > 0) {  // an empty list may have no storage at all
        EXPECT_EQ(0, std::memcmp(expected.particles.records, actual.particles.records,
                                 expected.particles.count * sizeof(Particle)))
            << what << ": particles";
    }
    EXPECT_EQ(0, std::memcmp(expected.AccumulationGrid, actual.AccumulationGrid, sizeof(expected.AccumulationGrid)))
        << what << ": accumulation grid";
    EXPECT_EQ(0, std::memcmp(expected.GlowGrid, actual.GlowGrid, sizeof(expected.GlowGrid))) << what << ": glow grid";
    EXPECT_EQ(0, std::memcmp(expected.FullLayerTexels, actual.FullLayerTexels, sizeof(expected.FullLayerTexels)))
        << what << ": full layer";
}
