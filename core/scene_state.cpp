#include "core/scene_state.h"

#include <cstdlib>
#include <cstring>

namespace {

// Doubles the storage (at least room for one set-up's particles), within the
// test limit. The records keep their order; on failure they stay where they
// are.
bool GrowParticleList(ParticleList& list, uint32_t limit)
{
    uint32_t capacity = list.capacity < uint32_t{ParticlesPerSetup} ? uint32_t{ParticlesPerSetup} : list.capacity * 2;
    if (capacity > limit) {
        capacity = limit;
    }
    if (capacity <= list.capacity || capacity > 0xFFFFFFFFu / sizeof(Particle)) {
        return false;
    }
    void* grown = std::realloc(list.records, static_cast<size_t>(capacity) * sizeof(Particle));
    if (grown == nullptr) {
        return false;
    }
    list.records = static_cast<Particle*>(grown);
    list.capacity = capacity;
    return true;
}

}  // namespace

void SetLoadValues(SceneState& scene)
{
    scene.equationType = 1;
    scene.patternScale = 100.0f;
}

void ResetSceneToLoadValues(SceneState& scene)
{
    const ParticleList storage = scene.particles;
    std::memset(&scene, 0, sizeof(scene));
    SetLoadValues(scene);
    scene.particles.records = storage.records;
    scene.particles.capacity = storage.capacity;
}

bool AppendParticle(SceneState& scene, const Particle& record, uint32_t capacity)
{
    ParticleList& list = scene.particles;
    if (list.count >= capacity) {
        return false;
    }
    if (list.count == list.capacity && !GrowParticleList(list, capacity)) {
        return false;
    }
    std::memcpy(&list.records[list.count], &record, sizeof(Particle));
    list.count += 1;
    return true;
}

void ReleaseParticleStorage(ParticleList& list)
{
    std::free(list.records);
    list.records = nullptr;
    list.count = 0;
    list.capacity = 0;
}
