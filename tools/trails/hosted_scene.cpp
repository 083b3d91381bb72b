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
    // A host's device keeps no log, and what a discard lock hands out is
    // rewritten by the layer update anyway: both only cost time here.
    device_->SetRecording(false);
    device_->SetSentinelMode(SoftwareDevice::SentinelMode::Off);
}

void HostedScene::Setup(uint32_t seed)
{
    SetupScene(device_.get(), 0, 0, device_->Width(), device_->Height(), seed);
    setUp_ = true;
}

void HostedScene::Recreate(int width, int height, uint32_t seed)
{
    // The resources belong to the old device: released before it goes.
    if (setUp_) FreePlugin(0, 0, 0);
    setUp_ = false;
    NewDevice(width, height);
    Setup(seed);
}

void HostedScene::Tick() { UpdateScene(); }

void HostedScene::Frame(bool rasterize)
{
    device_->SetCostFreeMode(!rasterize);
    RenderSceneOnScreen(0, device_.get(), 0, 0, device_->Width(), device_->Height(), 0, 0, 0, 0, 0);
}

uint32_t HostedScene::ParticleCount() const { return scene.particles.count; }
