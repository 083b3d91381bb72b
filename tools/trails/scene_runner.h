// Drives the scene through the real entry points on the software device, as a
// host on one thread would.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/software_device.h"
#include "tools/trails/command_line.h"

class SceneRunner {
public:
    // backBufferWidth/Height: the software device's render target.
    SceneRunner(int backBufferWidth, int backBufferHeight, bool rasterize);

    void Setup(const ScreenRect& rect, uint32_t seed);
    void Free();
    void Tick();
    void Frame(const ScreenRect& rect);

    SoftwareDevice& Device() { return *device_; }
    // What the glow layer held after the last frame that updated it.
    const std::vector<uint32_t>& GlowTexels() const { return glowTexels_; }

private:
    std::unique_ptr<SoftwareDevice> device_;
    std::vector<uint32_t> glowTexels_;
};
