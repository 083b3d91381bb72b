// The scene as a host runs it: set up on a software device, ticked and drawn
// through the real entry points, on one thread. Every subcommand drives it:
// `trails dump` with its own screen rectangle and schedule, `trails render`
// and `trails view` with the whole back buffer as the screen.
//
// A frame that nobody will look at is still drawn through RenderSceneOnScreen
// (the layer update fades the grid and takes random draws, so skipping it
// would change the scene), but the device skips the rasterizing: it runs in
// its mode that skips rasterizing, and leaves that mode only for a frame asked to be
// rasterized. The device keeps no call log and fills no sentinels; a host's
// device does neither, and both only cost time here.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/software_device.h"
#include "tools/trails/command_line.h"

class HostedScene {
public:
    // A device whose back buffer is width x height.
    HostedScene(int width, int height);
    ~HostedScene();  // FreePlugin when set up, then the device goes
    HostedScene(const HostedScene&) = delete;
    HostedScene& operator=(const HostedScene&) = delete;

    // SetupPlugin with the seed given instead of the calendar time, for the
    // whole back buffer or the rectangle given. Each call appends another 2000
    // particles, as it does in a host.
    void Setup(uint32_t seed);
    void Setup(const ScreenRect& rect, uint32_t seed);
    void Free();  // FreePlugin
    // What a host does on a new device: FreePlugin, a new device of the new
    // size, SetupPlugin with the new rectangle.
    void Recreate(int width, int height, uint32_t seed);

    void Tick();
    // One RenderSceneOnScreen on the whole back buffer or the rectangle given;
    // `rasterize` false leaves the back buffer as it was.
    void Frame(bool rasterize);
    void Frame(const ScreenRect& rect, bool rasterize);

    // Keep a copy of the glow layer's texels as the last frame left them
    // (what `trails dump` writes): a frame that cannot update it, or a free,
    // keeps the last copy. The copy is made when asked for or before a free
    // or set-up, not after every frame.
    void KeepGlowTexels(bool on);
    const std::vector<uint32_t>& GlowTexels() const;

    int Width() const { return device_->Width(); }
    int Height() const { return device_->Height(); }
    // The last rasterized frame, A8R8G8B8, Width() words a row.
    const uint32_t* Pixels() const { return device_->BackBuffer(); }
    uint32_t ParticleCount() const;
    SoftwareDevice& Device() { return *device_; }
    const SoftwareDevice& Device() const { return *device_; }

private:
    void NewDevice(int width, int height);
    void TakeGlowCopy() const;
    ScreenRect WholeBackBuffer() const;

    std::unique_ptr<SoftwareDevice> device_;
    bool setUp_ = false;
    bool keepGlow_ = false;
    mutable std::vector<uint32_t> glowTexels_;
    // Taken lazily (GlowTexels() is const to its callers).
    mutable bool glowCopyDue_ = false;
    mutable std::vector<uint32_t> spareGlowTexels_;
};
