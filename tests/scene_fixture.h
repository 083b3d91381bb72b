// Shared set-up for tests of the plug-in's global state.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
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

// Everything the simulation carries from one call to the next, as one hash per
// part: the scene's scalars with the generator, the particles, both grids and
// the full-layer texels. Hashes rather than copies: the grids are large, and a
// run is compared many times over.
struct SimulationHashes {
    static constexpr int parts = 5;
    uint64_t part[parts] = {};

    // Empty when the two are the same, else the parts that differ.
    std::string Difference(const SimulationHashes& other) const
    {
        static const char* const names[parts] = {"scene scalars and generator", "particles", "accumulation grid",
                                                 "glow grid", "full-layer texels"};
        std::string text;
        for (int n = 0; n < parts; ++n) {
            if (part[n] != other.part[n])
                text += std::string(text.empty() ? "" : ", ") + names[n] + " differ";
        }
        return text;
    }
};

// A word-wise multiplicative hash: every bit of every word reaches the result.
inline uint64_t HashBytes(const void* bytes, size_t count, uint64_t hash = 0x9E3779B97F4A7C15ull)
{
    const unsigned char* data = static_cast<const unsigned char*>(bytes);
    hash ^= count;
    size_t n = 0;
    for (; n + 8 <= count; n += 8) {
        uint64_t word;
        std::memcpy(&word, data + n, 8);
        hash = (hash ^ word) * 0xFF51AFD7ED558CCDull;
        hash ^= hash >> 29;
    }
    for (; n < count; ++n)
        hash = (hash ^ data[n]) * 0x100000001B3ull;
    return hash;
}

inline SimulationHashes HashSimulation()
{
    SimulationHashes hashes;
    const uint32_t generator = GeneratorState();
    hashes.part[0] = HashBytes(&generator, sizeof(generator),
                               HashBytes(&scene, offsetof(SceneState, particles)) ^ scene.particles.count);
    hashes.part[1] = HashBytes(scene.particles.records, scene.particles.count * sizeof(Particle));
    hashes.part[2] = HashBytes(scene.AccumulationGrid, sizeof(scene.AccumulationGrid));
    hashes.part[3] = HashBytes(scene.GlowGrid, sizeof(scene.GlowGrid));
    hashes.part[4] = HashBytes(scene.FullLayerTexels, sizeof(scene.FullLayerTexels));
    return hashes;
}

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
