// libFuzzer target: drives the plug-in through its entry points in any order
// and with any argument values a host could pass, on two software devices
// that refuse calls on the fuzzer's say-so.
//
// Input encoding: a sequence of operations, each an opcode byte followed by
// its operands; a value that runs past the end of the input reads as 0.
// Coordinates take one byte: below 0xF0 it picks a value from a table of
// interesting coordinates, otherwise the next four bytes are taken as they
// are. Devices take one byte: A, B or null.
//
//   op % 13  operation                         operands
//   0        SetupScene (SetupPlugin's body    device, 4 coordinates, seed (4)
//            with the seed given)
//   1        FreePlugin                        3 x 4 bytes
//   2        UpdateScene, 1..4 times           count byte
//   3        RenderSceneOnScreen               first (4), device, 4 coordinates,
//                                              5 x 4 bytes
//   4        QueryDefaultSettings              key (4), default (4)
//   5        SetupPluginPerScreen and          7 x 4 + 2 x 4 bytes
//            NotificationProcedure
//   6        ConfigPlugin                      window (4)
//   7        fail one call of a device         device, kind byte, offset byte
//   8        fail every call of one kind       device, kind byte
//   9        every call of a device fails      device, on/off byte
//   10       clear the failures of a device    device
//   11       FreePlugin, then the device is    device, width byte, height byte
//            replaced by a new one (the host
//            changes its device)
//   12       the particle list's storage runs  limit byte
//            out at count + 16 x limit
//
// Per input at most 3 set-ups, 16 ticks and 4 frames, so that an input stays
// well under a second. Between inputs everything is freed and the scene goes
// back to its load values.
//
// Besides the sanitizers, the target checks what must hold after every input:
// every device reference the plug-in took is released exactly once and none
// is used after release; the particle list grew by exactly what the set-ups
// appended; every particle and scene value is in its range. A violation
// aborts, which libFuzzer reports as a crash.
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/software_device.h"
#include "plugin/entry_points.h"
#include "plugin/plugin_state.h"
#include "core/generator.h"

namespace {

const int maxSetupsPerInput = 3;
const int maxTicksPerInput = 16;
const int maxFramesPerInput = 4;

const int32_t interestingCoordinates[] = {
    0,   1,  -1,    2,     1920,    1200,    1080,        3840,        2160,    1280,       1024,  768,
    100, 50, -1920, -1200, INT_MIN, INT_MAX, INT_MIN + 1, INT_MAX - 1, 1 << 30, -(1 << 30), 65535, -65536,
};
const int coordinateCount = sizeof(interestingCoordinates) / sizeof(interestingCoordinates[0]);

class InputReader {
public:
    InputReader(const uint8_t* data, size_t size) : data_(data), left_(size) {}

    bool Done() const { return left_ == 0; }

    uint8_t Byte()
    {
        if (left_ == 0)
            return 0;
        --left_;
        return *data_++;
    }

    uint32_t Word()
    {
        uint32_t value = 0;
        for (int n = 0; n < 4; ++n)
            value |= static_cast<uint32_t>(Byte()) << (8 * n);
        return value;
    }

    int32_t Coordinate()
    {
        const uint8_t choice = Byte();
        if (choice < 0xF0)
            return interestingCoordinates[choice % coordinateCount];
        return static_cast<int32_t>(Word());
    }

private:
    const uint8_t* data_;
    size_t left_;
};

void Violation(const char* what)
{
    std::fprintf(stderr, "entry_points_fuzzer: %s\n", what);
    std::abort();
}

struct Devices {
    std::unique_ptr<SoftwareDevice> a;
    std::unique_ptr<SoftwareDevice> b;
    // Reference errors of devices already replaced.
    int retiredLive = 0;
    int retiredOverReleases = 0;
    int retiredUsesAfterRelease = 0;

    SoftwareDevice* Pick(uint8_t choice)
    {
        switch (choice % 3) {
        case 0:
            return a.get();
        case 1:
            return b.get();
        default:
            return nullptr;
        }
    }

    // Only ever called after FreePlugin: the host lets go of a device only
    // once the plug-in has released what it took from it.
    void Replace(uint8_t choice, int width, int height)
    {
        std::unique_ptr<SoftwareDevice>& slot = choice % 2 == 0 ? a : b;
        retiredLive += slot->LiveObjectCount();
        retiredOverReleases += slot->OverReleaseCount();
        retiredUsesAfterRelease += slot->UseAfterReleaseCount();
        slot.reset(new SoftwareDevice(width, height));
        slot->SetSentinelMode(SoftwareDevice::SentinelMode::Off);
    }
};

bool InRange(float value, float low, float high) { return std::isfinite(value) && value >= low && value <= high; }

void CheckScene(uint32_t expectedParticles)
{
    if (scene.particles.count != expectedParticles)
        Violation("particle count differs from what the set-ups appended");
    if (scene.ticksSinceReseed < 0 || scene.ticksSinceReseed > 1500)
        Violation("ticksSinceReseed out of range");
    if (scene.equationType < 0 || scene.equationType > 10)
        Violation("equationType out of range");
    if (!InRange(scene.patternScale, 50.0f, 200.0f))
        Violation("patternScale out of range");
    if (!InRange(scene.patternOffsetX, -5.0f, 5.0f) || !InRange(scene.patternOffsetY, -5.0f, 5.0f)) {
        Violation("pattern offsets out of range");
    }
    if (!InRange(scene.cameraYaw, -3.0f, 3.0f) || !InRange(scene.cameraPitch, -3.0f, 3.0f) ||
        !InRange(scene.fovWobble, -4.0f, 4.0f)) {
        Violation("camera angles out of range");
    }
    if (!std::isfinite(scene.aspectFactor) || (scene.particles.count > 0 && !(scene.aspectFactor > 0.0f))) {
        Violation("aspectFactor not a positive number");
    }
    for (uint32_t n = 0; n < scene.particles.count; ++n) {
        const Particle& p = scene.particles.records[n];
        // 500 to 3000 from a respawn; a life that runs out restarts at once.
        if (p.lifeTicks < 1 || p.lifeTicks > 3000)
            Violation("lifeTicks out of range");
        if (p.pixelX < 0 || p.pixelX >= AccumulationGridWidth || p.pixelY < 0 || p.pixelY >= AccumulationGridHeight) {
            Violation("particle cell outside the grid");
        }
        if (!InRange(p.red, 0.0f, 255.0f) || !InRange(p.green, 0.0f, 255.0f) || !InRange(p.blue, 0.0f, 255.0f)) {
            Violation("particle colour out of range");
        }
        // The cells a particle splatted into last, and the glow around it.
        for (int x = p.pixelX - 3; x <= p.pixelX + 2; ++x) {
            for (int y = p.pixelY - 3; y <= p.pixelY + 2; ++y) {
                if (x < 0 || y < 0 || x >= AccumulationGridWidth || y >= AccumulationGridHeight)
                    continue;
                const GridCell& cell = AccumulationCell(scene, x, y);
                if (!InRange(cell.red, 0.0f, 255.0f) || !InRange(cell.green, 0.0f, 255.0f) ||
                    !InRange(cell.blue, 0.0f, 255.0f)) {
                    Violation("accumulation cell out of range");
                }
                const GridCell& glow = GlowCell(scene, x >> 1, y >> 1);
                if (!InRange(glow.red, 0.0f, 255.0f) || !InRange(glow.green, 0.0f, 255.0f) ||
                    !InRange(glow.blue, 0.0f, 255.0f)) {
                    Violation("glow cell out of range");
                }
                const uint32_t texel = scene.FullLayerTexels[y * AccumulationGridWidth + x];
                if (texel != 0 && (texel >> 24) != 0xFFu)
                    Violation("full-layer texel not opaque");
            }
        }
    }
}

bool IsObjectCall(CallKind kind)
{
    return kind == CallKind::LockRect || kind == CallKind::UnlockRect || kind == CallKind::Lock ||
           kind == CallKind::Unlock || kind == CallKind::AddRef || kind == CallKind::Release;
}

// A frame makes its device calls on the device it is given and on no other
// (a host that draws on another device than it set up on still gets the
// textures of that set-up locked, through the textures themselves); it begins
// one scene and, unless the device refused it, ends that scene last.
void CheckFrameCalls(const SoftwareDevice* device, size_t callsBefore, bool framed)
{
    const std::vector<DeviceCall>& calls = device->Calls();
    if (!framed) {
        for (size_t n = callsBefore; n < calls.size(); ++n) {
            if (!IsObjectCall(calls[n].kind))
                Violation("a frame called a device it was not given");
        }
        return;
    }
    if (calls.size() <= callsBefore || calls[callsBefore].kind != CallKind::BeginScene) {
        Violation("a frame did not begin with BeginScene");
    }
    if (calls[callsBefore].failed) {
        if (calls.size() != callsBefore + 1)
            Violation("a frame went on after a refused BeginScene");
        return;
    }
    int endScenes = 0;
    for (size_t n = callsBefore; n < calls.size(); ++n) {
        if (n > callsBefore && calls[n].kind == CallKind::BeginScene)
            Violation("a frame began two scenes");
        endScenes += calls[n].kind == CallKind::EndScene ? 1 : 0;
    }
    if (endScenes != 1 || calls.back().kind != CallKind::EndScene)
        Violation("a frame did not end its scene last");
}

void RunInput(const uint8_t* data, size_t size)
{
    InputReader input(data, size);
    Devices devices;
    devices.a.reset(new SoftwareDevice(32, 20));
    devices.b.reset(new SoftwareDevice(48, 16));
    devices.a->SetSentinelMode(SoftwareDevice::SentinelMode::Off);
    devices.b->SetSentinelMode(SoftwareDevice::SentinelMode::Off);
    int setups = 0;
    int ticks = 0;
    int frames = 0;
    uint32_t expectedParticles = 0;

    while (!input.Done()) {
        switch (input.Byte() % 13) {
        case 0: {
            SoftwareDevice* device = devices.Pick(input.Byte());
            const int32_t left = input.Coordinate();
            const int32_t top = input.Coordinate();
            const int32_t right = input.Coordinate();
            const int32_t bottom = input.Coordinate();
            const uint32_t seed = input.Word();
            if (setups >= maxSetupsPerInput)
                break;
            ++setups;
            const uint32_t limit = ParticleCapacityOf(testHooks);
            const uint32_t room = limit - expectedParticles;
            if (SetupScene(device, left, top, right, bottom, seed) != 1)
                Violation("set-up did not return 1");
            expectedParticles += room < 2000u ? room : 2000u;
            break;
        }
        case 1: {
            const uint32_t first = input.Word();
            const uint32_t second = input.Word();
            const uint32_t third = input.Word();
            FreePlugin(first, second, third);
            if (deviceResources.FullLayerTexture != nullptr || deviceResources.GlowLayerTexture != nullptr ||
                deviceResources.QuadVertexBuffer != nullptr) {
                Violation("FreePlugin kept a reference");
            }
            break;
        }
        case 2: {
            const int count = 1 + input.Byte() % 4;
            for (int n = 0; n < count && ticks < maxTicksPerInput; ++n, ++ticks)
                UpdateScene();
            break;
        }
        case 3: {
            const uint32_t first = input.Word();
            SoftwareDevice* device = devices.Pick(input.Byte());
            const int32_t left = input.Coordinate();
            const int32_t top = input.Coordinate();
            const int32_t right = input.Coordinate();
            const int32_t bottom = input.Coordinate();
            uint32_t rest[5];
            for (uint32_t& value : rest)
                value = input.Word();
            if (frames >= maxFramesPerInput)
                break;
            ++frames;
            const size_t callsBeforeA = devices.a->Calls().size();
            const size_t callsBeforeB = devices.b->Calls().size();
            if (RenderSceneOnScreen(first, device, left, top, right, bottom, rest[0], rest[1], rest[2], rest[3],
                                    rest[4]) != 0) {
                Violation("RenderSceneOnScreen did not return 0");
            }
            CheckFrameCalls(devices.a.get(), callsBeforeA, device == devices.a.get());
            CheckFrameCalls(devices.b.get(), callsBeforeB, device == devices.b.get());
            break;
        }
        case 4: {
            const uint32_t key = input.Word();
            const int32_t defaultValue = static_cast<int32_t>(input.Word());
            const int32_t expected = key == 1 || key == 2 ? 0 : key == 3 ? 30 : key == 7 ? 1 : defaultValue;
            if (QueryDefaultSettings(key, defaultValue) != expected)
                Violation("wrong default setting");
            break;
        }
        case 5: {
            uint32_t values[9];
            for (uint32_t& value : values)
                value = input.Word();
            if (SetupPluginPerScreen(values[0], values[1], values[2], values[3], values[4], values[5], values[6]) !=
                0) {
                Violation("SetupPluginPerScreen did not return 0");
            }
            NotificationProcedure(values[7], values[8]);
            break;
        }
        case 6: {
            // Off Windows there is no dialog; the window value is never used.
            const uintptr_t window = input.Word();
            if (ConfigPlugin(reinterpret_cast<HWND>(window)) != 0)
                Violation("ConfigPlugin confirmed");
            break;
        }
        case 7: {
            SoftwareDevice* device = devices.Pick(input.Byte());
            const CallKind kind = static_cast<CallKind>(input.Byte() % static_cast<int>(CallKind::Count_));
            const int offset = input.Byte() % 24;
            if (device != nullptr)
                device->FailCall(kind, device->CallCount(kind) + offset);
            break;
        }
        case 8: {
            SoftwareDevice* device = devices.Pick(input.Byte());
            const CallKind kind = static_cast<CallKind>(input.Byte() % static_cast<int>(CallKind::Count_));
            if (device != nullptr)
                device->FailCall(kind, -1);
            break;
        }
        case 9: {
            SoftwareDevice* device = devices.Pick(input.Byte());
            const bool on = (input.Byte() & 1) != 0;
            if (device != nullptr)
                device->FailAllCalls(on);
            break;
        }
        case 10: {
            SoftwareDevice* device = devices.Pick(input.Byte());
            if (device != nullptr)
                device->ClearFailures();
            break;
        }
        case 11: {
            const uint8_t choice = input.Byte();
            const int width = 1 + input.Byte() % 64;
            const int height = 1 + input.Byte() % 64;
            FreePlugin(0, 0, 0);
            devices.Replace(choice, width, height);
            break;
        }
        case 12: {
            testHooks.particleCapacity = scene.particles.count + 16u * input.Byte();
            break;
        }
        }
    }

    CheckScene(expectedParticles);

    FreePlugin(0, 0, 0);
    for (SoftwareDevice* device : {devices.a.get(), devices.b.get()}) {
        if (device->LiveObjectCount() != 0)
            Violation("a device reference was never released");
        if (device->OverReleaseCount() != 0)
            Violation("a device reference was released twice");
        if (device->UseAfterReleaseCount() != 0)
            Violation("a released device object was used");
    }
    if (devices.retiredLive != 0 || devices.retiredOverReleases != 0 || devices.retiredUsesAfterRelease != 0) {
        Violation("references of a replaced device unbalanced");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Each input starts from a freshly loaded library on a fresh thread state.
    ResetSceneToLoadValues(scene);
    SeedGenerator(1);
    testHooks.particleCapacity = 0xFFFFFFFFu;
    RunInput(data, size);
    testHooks.particleCapacity = 0xFFFFFFFFu;
    return 0;
}
