// The scene as a host shows it: set up on a software device whose back buffer
// is the screen rectangle (0, 0, width, height), ticked and drawn through the
// real entry points. `trails render` and `trails view` both drive it.
//
// A frame that nobody will look at is still drawn through RenderSceneOnScreen
// (the layer update fades the grid and takes random draws, so skipping it
// would change the scene), but the device skips the rasterizing.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/software_device.h"

class HostedScene {
public:
    HostedScene(int width, int height);
    ~HostedScene();  // FreePlugin, then the device goes
    HostedScene(const HostedScene&) = delete;
    HostedScene& operator=(const HostedScene&) = delete;

    // SetupPlugin with the seed given instead of the calendar time. Each call
    // appends another 2000 particles, as it does in a host.
    void Setup(uint32_t seed);
    // What a host does on a new device: FreePlugin, a new device of the new
    // size, SetupPlugin with the new rectangle.
    void Recreate(int width, int height, uint32_t seed);

    void Tick();
    // One RenderSceneOnScreen; `rasterize` false leaves the back buffer as it was.
    void Frame(bool rasterize);

    int Width() const { return device_->Width(); }
    int Height() const { return device_->Height(); }
    // The last rasterized frame, A8R8G8B8, Width() words a row.
    const uint32_t* Pixels() const { return device_->BackBuffer(); }
    uint32_t ParticleCount() const;
    SoftwareDevice& Device() { return *device_; }

private:
    void NewDevice(int width, int height);

    std::unique_ptr<SoftwareDevice> device_;
    bool setUp_ = false;
};
