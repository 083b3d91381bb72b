// The benchmark bodies at the level of the entry points: what a host's calls
// cost (ticks, frames, one simulated second), the floors they are held
// against, and the resident memory of a set-up. They reach the scene only
// through the entry points, the software device and scene_access.h, so the
// same sources also build against an older commit's tree (bench/compare.sh).
//
//  Tick/particles:N/family:F   UpdateScene in steady state: N particles (one
//                              set-up per 2000), map family F held for the
//                              whole run (warm-up included), 2000 warm-up ticks.
//  TickFloor/family:F          only the function calls the steps of those
//                              2000 particles make, on their current
//                              positions, one scalar call at a time as the
//                              step's reference makes them: atan, sin, sin,
//                              tan and the family's own.
//  Frame/particles:N           RenderSceneOnScreen on a software device in
//                              mode that skips rasterizing (locks hand out plain memory,
//                              clears and draws cost nothing). Before every
//                              timed frame one untimed tick keeps the grid in
//                              its steady state.
//  FrameFloor                  a copy of the full layer's bytes plus a clear
//                              of the glow layer's bytes, both the size of the
//                              device's textures: what a frame must move into
//                              its discard-locked textures.
//  FrameFloorFromMemory        the same with the caches emptied before each
//                              run (a 128 MB sweep, untimed): the floor itself
//                              mostly stays in the cache between runs, while a
//                              frame's data (grids, layer copy, textures) cannot.
//  SimulatedSecond             60 ticks and 60 frames with 2000 particles: its
//                              time in seconds is the share of one core the
//                              scene takes at 60 ticks and frames a second.
//
// Set-up n is seeded with n (1, 2, 3, 4). Frames and the simulated second run
// the seeds' own families, re-draws included.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class SoftwareDevice;

enum class BodyUnit { Microseconds, Milliseconds };

class BenchBody {
public:
    BenchBody(std::string name, BodyUnit unit) : name_(std::move(name)), unit_(unit) {}
    virtual ~BenchBody() = default;
    BenchBody(const BenchBody&) = delete;
    BenchBody& operator=(const BenchBody&) = delete;

    const std::string& Name() const { return name_; }
    BodyUnit Unit() const { return unit_; }

    // Untimed, once before the iterations of a run.
    virtual void Prepare() {}
    // Untimed work due before every timed iteration, if any.
    virtual bool HasUntimedStep() const { return false; }
    virtual void UntimedStep() {}
    // One timed iteration.
    virtual void Iterate() = 0;
    // Particles one iteration handles (for a time per particle); 0 for none.
    virtual uint32_t ParticlesPerIteration() const { return 0; }

private:
    std::string name_;
    BodyUnit unit_;
};

// Every entry-point-level body, in an order that lets consecutive bodies
// share a prepared scene.
std::vector<std::unique_ptr<BenchBody>> MakeEntryPointBodies();

// --- The scene under test -----------------------------------------------------

struct SceneConfig {
    int setups;
    int family;   // -1: as the seeds give it, re-draws included
    bool device;  // set up on the software device (needed for frames)
};

// Makes the scene the one asked for, after 2000 warm-up ticks (and frames,
// with the device); does nothing when it already is.
void PrepareScene(const SceneConfig& config);
// One UpdateScene, the pattern held when the configuration holds a family.
void BenchTick(const SceneConfig& config);
// One RenderSceneOnScreen on the bench's device over the whole grid.
void BenchFrame();
// The software device the bench's scenes are set up on (mode that skips rasterizing).
SoftwareDevice* BenchDevice();

// --- Resident memory --------------------------------------------------------------

struct MemoryReading {
    long beforeSetupKb;
    long afterSetupKb;     // after one set-up on the software device
    long afterRunningKb;   // after that scene ran 2000 ticks and frames
    long deviceTextureKb;  // texel memory of the stand-in device's two textures
};

// The process's resident memory in kilobytes (VmRSS); -1 when it cannot be
// read.
long ResidentKilobytes();

// Must come before anything else runs the scene in this process, so that the
// readings see the set-up's pages being touched for the first time.
MemoryReading MeasureResidentMemory();
