// Shared set-up for tests of the plug-in's global state.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "plugin/plugin_state.h"
#include "render/device_resources.h"
#include "core/generator.h"

inline uint32_t FloatBits(float value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof(bits));
    return bits;
}

// Compares two floats bit for bit, printing both values on failure.
#define EXPECT_FLOAT_BITS(expected, actual) \
    EXPECT_EQ(FloatBits(expected), FloatBits(actual)) << "expected " << (expected) << ", got " << (actual)

// Every test starts from the library's load values, as if freshly loaded.
class SceneTest : public ::testing::Test {
protected:
    void SetUp() override { Reset(); }
    void TearDown() override { Reset(); }

    static void Reset()
    {
        deviceResources.FullLayerTexture = nullptr;
        deviceResources.GlowLayerTexture = nullptr;
        deviceResources.QuadVertexBuffer = nullptr;
        ResetSceneToLoadValues(scene);
        testHooks = TestHooks{};
        ScriptDraws(nullptr, 0);
        SeedGenerator(1);
    }

    // A particle as set-up prepares it, without drawing anything.
    static Particle PlainParticle()
    {
        Particle p;
        std::memset(&p, 0, sizeof(p));
        p.gridWidth = 1920;
        p.gridHeight = 1200;
        p.aspectFactor = 1.0f;
        p.scale = 1.0f;
        p.lifeTicks = 1000;
        p.stepSize = 0.05f;
        p.blobSize = 0.3f;
        p.red = 200.0f;
        p.green = 100.0f;
        p.blue = 50.0f;
        return p;
    }

    static GridCell& Cell(int x, int y) { return AccumulationCell(scene, x, y); }
    static GridCell& Glow(int x, int y) { return GlowCell(scene, x, y); }
};
