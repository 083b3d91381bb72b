#include "tools/trails/hosted_scene.h"

#include "plugin/entry_points.h"
#include "plugin/plugin_state.h"

HostedScene::HostedScene(int width, int height) { NewDevice(width, height); }

HostedScene::~HostedScene()
{
    if (setUp_)
        FreePlugin(0, 0, 0);
}

void HostedScene::NewDevice(int width, int height)
{
    device_.reset(new SoftwareDevice(width, height));
    device_->SetRecording(false);
    device_->SetSentinelMode(SoftwareDevice::SentinelMode::Off);
    device_->SkipRasterizing(true);
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
    TakeGlowCopy();  // a set-up may give the scene new textures
    SetupScene(device_.get(), rect.left, rect.top, rect.right, rect.bottom, seed);
    setUp_ = true;
}

void HostedScene::Free()
{
    TakeGlowCopy();
    FreePlugin(0, 0, 0);
    setUp_ = false;
}

void HostedScene::Recreate(int width, int height, uint32_t seed)
{
    // The resources belong to the old device: released before it goes.
    if (setUp_)
        Free();
    NewDevice(width, height);
    Setup(seed);
}

void HostedScene::Tick() { UpdateScene(); }

void HostedScene::Frame(bool rasterize) { Frame(WholeBackBuffer(), rasterize); }

void HostedScene::Frame(const ScreenRect& rect, bool rasterize)
{
    device_->SkipRasterizing(!rasterize);
    RenderSceneOnScreen(0, device_.get(), rect.left, rect.top, rect.right, rect.bottom, 0, 0, 0, 0, 0);
    device_->SkipRasterizing(true);
    // The copy is taken when it is asked for, or before the texture can go:
    // only ticks and frames run in between, and ticks leave the texture
    // alone, so it then holds what this frame left in it.
    glowCopyDue_ = keepGlow_ && deviceResources.GlowLayerTexture != nullptr;
}

// Read into the spare buffer and swapped in, so that no copy allocates after
// the first ones. A texture of another size (or none) keeps the last copy.
void HostedScene::TakeGlowCopy() const
{
    if (!glowCopyDue_)
        return;
    glowCopyDue_ = false;
    int width = 0;
    int height = 0;
    if (deviceResources.GlowLayerTexture != nullptr &&
        SoftwareDevice::ReadTexels(deviceResources.GlowLayerTexture, spareGlowTexels_, width, height) &&
        width == GlowGridWidth && height == GlowGridHeight) {
        glowTexels_.swap(spareGlowTexels_);
    }
}

const std::vector<uint32_t>& HostedScene::GlowTexels() const
{
    TakeGlowCopy();
    return glowTexels_;
}

void HostedScene::KeepGlowTexels(bool on)
{
    keepGlow_ = on;
    if (on && glowTexels_.empty())
        glowTexels_.assign(static_cast<size_t>(GlowGridWidth) * GlowGridHeight, 0u);
}

uint32_t HostedScene::ParticleCount() const { return scene.particles.count; }
