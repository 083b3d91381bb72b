#include "tools/trails/hosted_scene.h"

#include "plugin/entry_points.h"
#include "plugin/plugin_state.h"

HostedScene::HostedScene(int width, int height) { NewDevice(width, height); }

HostedScene::~HostedScene()
{
    if (setUp_) FreePlugin(0, 0, 0);
}

void HostedScene::NewDevice(int width, int height)
{
    device_.reset(new SoftwareDevice(width, height));
    device_->SetRecording(false);
    device_->SetSentinelMode(SoftwareDevice::SentinelMode::Off);
    device_->SetCostFreeMode(true);
}

ScreenRect HostedScene::WholeBackBuffer() const
{
    ScreenRect rect;
    rect.left = 0;
    rect.top = 0;
    rect.right = device_->Width();
    rect.bottom = device_->Height();
    return rect;
}

void HostedScene::Setup(uint32_t seed) { Setup(WholeBackBuffer(), seed); }

void HostedScene::Setup(const ScreenRect& rect, uint32_t seed)
{
    SetupScene(device_.get(), rect.left, rect.top, rect.right, rect.bottom, seed);
    setUp_ = true;
}

void HostedScene::Free()
{
    FreePlugin(0, 0, 0);
    setUp_ = false;
}

void HostedScene::Recreate(int width, int height, uint32_t seed)
{
    // The resources belong to the old device: released before it goes.
    if (setUp_) Free();
    NewDevice(width, height);
    Setup(seed);
}

void HostedScene::Tick() { UpdateScene(); }

void HostedScene::Frame(bool rasterize) { Frame(WholeBackBuffer(), rasterize); }

void HostedScene::Frame(const ScreenRect& rect, bool rasterize)
{
    device_->SetCostFreeMode(!rasterize);
    RenderSceneOnScreen(0, device_.get(), rect.left, rect.top, rect.right, rect.bottom, 0, 0, 0, 0, 0);
    device_->SetCostFreeMode(true);
    // Read into the spare buffer and swapped in: after the first frames no
    // copy allocates (a fresh 2.3 MB buffer a frame cost its page faults and
    // zero-fill on top of the copy).
    if (keepGlow_ && deviceResources.GlowLayerTexture != nullptr) {
        int width = 0;
        int height = 0;
        if (SoftwareDevice::ReadTexels(deviceResources.GlowLayerTexture, spareGlowTexels_, width, height) &&
            width == GlowGridWidth && height == GlowGridHeight) {
            glowTexels_.swap(spareGlowTexels_);
        }
    }
}

void HostedScene::KeepGlowTexels(bool on)
{
    keepGlow_ = on;
    if (on && glowTexels_.empty()) glowTexels_.assign(static_cast<size_t>(GlowGridWidth) * GlowGridHeight, 0u);
}

uint32_t HostedScene::ParticleCount() const { return scene.particles.count; }
