#include "bodies.h"

#include <cstring>

#include "cache_sweep.h"
#include "core/numeric.h"
#include "platform/software_device.h"
#include "plugin/entry_points.h"
#include "scene_access.h"

namespace {

const int32_t screenLeft = 0;
const int32_t screenTop = 0;
const int32_t screenRight = 1920;
const int32_t screenBottom = 1200;
const int warmUpTicks = 2000;
const int ticksPerSecond = 60;
// The family the 4000- and 8000-particle ticks run (the set-up's family:
// every scene runs its first 1501 ticks with it).
const int headlineFamily = 1;
const int familyCount = 10;
// Scene runs with a held family are kept from re-drawing their pattern by
// putting the tick counter back before it reaches the re-draw.
const int32_t holdPatternBelow = 1400;
const int32_t holdPatternAt = 400;

std::unique_ptr<SoftwareDevice> device;
bool scenePrepared = false;
SceneConfig preparedConfig = {0, 0, false};

bool SameConfig(const SceneConfig& a, const SceneConfig& b)
{
    return a.setups == b.setups && a.family == b.family && a.device == b.device;
}

void NotePrepared(const SceneConfig& config)
{
    scenePrepared = true;
    preparedConfig = config;
}

// ---------------------------------------------------------------------------
// Ticks

class TickBody : public BenchBody {
public:
    TickBody(int particleCount, int family)
        : BenchBody("Tick/particles:" + std::to_string(particleCount) + "/family:" + std::to_string(family),
                    BodyUnit::Microseconds),
          config_{particleCount / ParticlesPerSetupOfTree(), family, false}
    {}
    void Prepare() override { PrepareScene(config_); }
    void Iterate() override { BenchTick(config_); }
    uint32_t ParticlesPerIteration() const override { return SceneParticleCount(); }

private:
    SceneConfig config_;
};

// The function calls of one step of family `family` at (x, y), with the
// roundings the step makes around them, one scalar call at a time; returns a
// value built from all of them.
inline float StepFunctionCalls(int family, float x, float y)
{
    const float sinA = SinSingle(Single(double{y} + AtanSingle(y)));
    const float sinX = SinSingle(x);
    const float tanB = TanSingle(Single(double{x} - sinX));
    float extra = 0.0f;
    switch (family) {
    case 0:
        break;
    case 1:
        extra = SinSingle(Single(double{y} + CosSingle(y)));
        break;
    case 2:
        extra = TanSingle(Single(double{y} + TanSingle(x))) + TanSingle(Single(double{x} - TanSingle(y)));
        break;
    case 3:
    case 4:
    case 5:
    case 6:
        extra = TanSingle(x) + TanSingle(y);
        break;
    case 8:
    case 9:
        extra = SinSingle(y);
        break;
    default:
        extra = SinSingle(y) + CosSingle(x);
        break;
    }
    return sinA + tanB + extra;
}

// Keeps a result from being optimised away, without any benchmark library:
// the compiler must assume the empty statement reads all memory through data.
inline void KeepResult(const void* data) { asm volatile("" : : "r"(data) : "memory"); }

class TickFloorBody : public BenchBody {
public:
    TickFloorBody(int family)
        : BenchBody("TickFloor/family:" + std::to_string(family), BodyUnit::Microseconds), family_(family)
    {}
    void Prepare() override
    {
        PrepareScene(SceneConfig{1, family_, false});
        const uint32_t count = SceneParticleCount();
        x_.resize(count);
        y_.resize(count);
        results_.assign(count, 0.0f);
        for (uint32_t n = 0; n < count; ++n) {
            SceneParticleMapPosition(n, x_[n], y_[n]);
        }
    }
    void Iterate() override
    {
        const size_t count = x_.size();
        for (size_t n = 0; n < count; ++n) {
            results_[n] = StepFunctionCalls(family_, x_[n], y_[n]);
        }
        KeepResult(results_.data());
    }
    uint32_t ParticlesPerIteration() const override { return static_cast<uint32_t>(x_.size()); }

private:
    int family_;
    std::vector<float> x_;
    std::vector<float> y_;
    std::vector<float> results_;
};

// ---------------------------------------------------------------------------
// Frames

class FrameBody : public BenchBody {
public:
    FrameBody(int particleCount)
        : BenchBody("Frame/particles:" + std::to_string(particleCount), BodyUnit::Microseconds),
          config_{particleCount / ParticlesPerSetupOfTree(), -1, true}
    {}
    void Prepare() override { PrepareScene(config_); }
    bool HasUntimedStep() const override { return true; }
    void UntimedStep() override { BenchTick(config_); }
    void Iterate() override { BenchFrame(); }
    uint32_t ParticlesPerIteration() const override { return SceneParticleCount(); }

private:
    SceneConfig config_;
};

size_t TextureBytes(IDirect3DTexture9* texture)
{
    const SoftwareTexture* software = device->TextureById(SoftwareDevice::IdOf(texture));
    return software == nullptr ? 0 : static_cast<size_t>(software->Width()) * software->Height() * 4;
}

// The floor's copy and clear; with evictFirst, a 128 MB sweep (untimed)
// empties the caches before each run.
class FrameFloorBody : public BenchBody {
public:
    FrameFloorBody(bool evictFirst)
        : BenchBody(evictFirst ? "FrameFloorFromMemory" : "FrameFloor", BodyUnit::Microseconds),
          evictFirst_(evictFirst)
    {}
    void Prepare() override
    {
        // The sizes of the textures a frame fills.
        PrepareScene(SceneConfig{1, -1, true});
        const size_t fullBytes = TextureBytes(SceneFullLayerTexture());
        const size_t glowBytes = TextureBytes(SceneGlowLayerTexture());
        // Touched once up front, so no first-touch page faults are timed.
        source_.assign(fullBytes, 1);
        fullLayer_.assign(fullBytes, 2);
        glowLayer_.assign(glowBytes, 3);
        sweep_.Enable(evictFirst_);
    }
    bool HasUntimedStep() const override { return evictFirst_; }
    void UntimedStep() override { KeepResult(sweep_.Run()); }
    void Iterate() override
    {
        std::memcpy(fullLayer_.data(), source_.data(), fullLayer_.size());
        std::memset(glowLayer_.data(), 0, glowLayer_.size());
        KeepResult(fullLayer_.data());
        KeepResult(glowLayer_.data());
    }

private:
    bool evictFirst_;
    std::vector<unsigned char> source_;
    std::vector<unsigned char> fullLayer_;
    std::vector<unsigned char> glowLayer_;
    CacheSweep sweep_;
};

class SimulatedSecondBody : public BenchBody {
public:
    SimulatedSecondBody()
        : BenchBody("SimulatedSecond", BodyUnit::Milliseconds), config_{1, -1, true}
    {}
    void Prepare() override { PrepareScene(config_); }
    void Iterate() override
    {
        for (int n = 0; n < ticksPerSecond; ++n) {
            BenchTick(config_);
            BenchFrame();
        }
    }

private:
    SceneConfig config_;
};

}  // namespace

SoftwareDevice* BenchDevice()
{
    if (!device) {
        // The back buffer is the host's, and draws that skip rasterizing never touch it.
        device.reset(new SoftwareDevice(64, 64));
        device->SkipRasterizing(true);
    }
    return device.get();
}

void BenchTick(const SceneConfig& config)
{
    if (config.family >= 0 && SceneTicksSinceReseed() > holdPatternBelow) {
        SetSceneTicksSinceReseed(holdPatternAt);
    }
    UpdateScene();
}

void BenchFrame()
{
    RenderSceneOnScreen(0, BenchDevice(), screenLeft, screenTop, screenRight, screenBottom, 0, 0, 0, 0, 0);
}

void PrepareScene(const SceneConfig& config)
{
    if (scenePrepared && SameConfig(preparedConfig, config)) {
        return;
    }
    FreePlugin(0, 0, 0);
    ResetSceneState();
    if (config.family >= 0) {
        // Particles take the scene's family at creation and after every step.
        SetSceneEquationType(config.family);
    }
    for (int n = 0; n < config.setups; ++n) {
        SetupScene(config.device ? BenchDevice() : nullptr, screenLeft, screenTop, screenRight, screenBottom,
                   static_cast<uint32_t>(n + 1));
    }
    for (int t = 0; t < warmUpTicks; ++t) {
        BenchTick(config);
        if (config.device) {
            BenchFrame();
        }
    }
    NotePrepared(config);
}

std::vector<std::unique_ptr<BenchBody>> MakeEntryPointBodies()
{
    std::vector<std::unique_ptr<BenchBody>> bodies;
    for (int family = 0; family < familyCount; ++family) {
        bodies.emplace_back(new TickBody(2000, family));
        bodies.emplace_back(new TickFloorBody(family));
    }
    bodies.emplace_back(new TickBody(4000, headlineFamily));
    bodies.emplace_back(new TickBody(8000, headlineFamily));
    bodies.emplace_back(new FrameFloorBody(false));
    bodies.emplace_back(new FrameBody(2000));
    bodies.emplace_back(new SimulatedSecondBody());
    bodies.emplace_back(new FrameFloorBody(true));
    bodies.emplace_back(new FrameBody(8000));
    return bodies;
}

MemoryReading MeasureResidentMemory()
{
    MemoryReading reading;
    reading.beforeSetupKb = ResidentKilobytes();
    const SceneConfig config = {1, -1, true};
    SetupScene(BenchDevice(), screenLeft, screenTop, screenRight, screenBottom, 1);
    reading.afterSetupKb = ResidentKilobytes();
    for (int t = 0; t < warmUpTicks; ++t) {
        BenchTick(config);
        BenchFrame();
    }
    reading.afterRunningKb = ResidentKilobytes();
    const SoftwareTexture* textures[] = {device->TextureById(SoftwareDevice::IdOf(SceneFullLayerTexture())),
                                         device->TextureById(SoftwareDevice::IdOf(SceneGlowLayerTexture()))};
    reading.deviceTextureKb = 0;
    for (const SoftwareTexture* texture : textures) {
        if (texture != nullptr) {
            reading.deviceTextureKb += static_cast<long>(texture->Pitch()) * texture->Height() / 1024;
        }
    }
    // Set up with seed 1 and run as a prepared frame scene would be: the
    // bodies that ask for that scene go on from here.
    NotePrepared(config);
    return reading;
}
