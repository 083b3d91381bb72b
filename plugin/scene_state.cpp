// The one definition of the plug-in's global state.
#include "plugin/scene_state.h"

#include <cstdlib>
#include <cstring>

SceneState scene = {
    0,       // gridWidth
    0,       // gridHeight
    0.0f,    // aspectFactor
    1,       // equationType
    100.0f,  // patternScale
    0.0f,    // patternOffsetX
    0.0f,    // patternOffsetY
    0,       // ticksSinceReseed
    0,       // cameraClockA
    0,       // cameraClockB
    0.0f,    // cameraPitch
    0.0f,    // cameraYaw
    0.0f,    // fovWobble
    nullptr, // FullLayerTexture
    nullptr, // GlowLayerTexture
    nullptr, // QuadVertexBuffer
    nullptr, // moduleInstance
};

ParticleList particles = {nullptr, 0, 0};

GridCell AccumulationGrid[AccumulationGridWidth * AccumulationGridHeight];
GridCell GlowGrid[GlowGridWidth * GlowGridHeight];
uint32_t FullLayerTexels[AccumulationGridWidth * AccumulationGridHeight];

// Lets tests make the list's storage run out at a chosen size.
uint32_t particleCapacityLimit = 0xFFFFFFFFu;

namespace {

void ReleaseParticleStorage()
{
    std::free(particles.records);
    particles.records = nullptr;
    particles.count = 0;
    particles.capacity = 0;
}

bool GrowParticleList()
{
    static bool releaseRegistered = false;
    uint32_t capacity = particles.capacity < uint32_t{ParticlesPerSetup} ? uint32_t{ParticlesPerSetup} : particles.capacity * 2;
    if (capacity > particleCapacityLimit) {
        capacity = particleCapacityLimit;
    }
    if (capacity <= particles.capacity || capacity > 0xFFFFFFFFu / sizeof(Particle)) {
        return false;
    }
    void* grown = std::realloc(particles.records, static_cast<size_t>(capacity) * sizeof(Particle));
    if (grown == nullptr) {
        return false;  // the records already there stay where they are
    }
    particles.records = static_cast<Particle*>(grown);
    particles.capacity = capacity;
    if (!releaseRegistered) {
        // Runs when the library is unloaded (or the tool exits).
        releaseRegistered = std::atexit(ReleaseParticleStorage) == 0;
    }
    return true;
}

}  // namespace

bool AppendParticle(const Particle& record)
{
    if (particles.count >= particleCapacityLimit) {
        return false;
    }
    if (particles.count == particles.capacity && !GrowParticleList()) {
        return false;
    }
    std::memcpy(&particles.records[particles.count], &record, sizeof(Particle));
    particles.count += 1;
    return true;
}

void ResetSceneToLoadValues()
{
    void* instance = scene.moduleInstance;
    std::memset(&scene, 0, sizeof(scene));
    scene.equationType = 1;
    scene.patternScale = 100.0f;
    scene.moduleInstance = instance;
    particles.count = 0;
    std::memset(AccumulationGrid, 0, sizeof(AccumulationGrid));
    std::memset(GlowGrid, 0, sizeof(GlowGrid));
    std::memset(FullLayerTexels, 0, sizeof(FullLayerTexels));
}
