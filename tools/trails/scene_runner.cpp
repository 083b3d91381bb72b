#include "tools/trails/scene_runner.h"

#include "plugin/entry_points.h"
#include "plugin/plugin_state.h"

SceneRunner::SceneRunner(int backBufferWidth, int backBufferHeight, bool rasterize)
    : device_(new SoftwareDevice(backBufferWidth, backBufferHeight)),
      glowTexels_(static_cast<size_t>(GlowGridWidth) * GlowGridHeight, 0u)
{
    // Without rasterizing, the device only keeps texture memory: no call log,
    // no sentinel fills, draws that cost nothing.
    device_->SetCostFreeMode(!rasterize);
}

void SceneRunner::Setup(const ScreenRect& rect, uint32_t seed)
{
    SetupScene(device_.get(), rect.left, rect.top, rect.right, rect.bottom, seed);
}

void SceneRunner::Free() { FreePlugin(0, 0, 0); }

void SceneRunner::Tick() { UpdateScene(); }

void SceneRunner::Frame(const ScreenRect& rect)
{
    RenderSceneOnScreen(0, device_.get(), rect.left, rect.top, rect.right, rect.bottom, 0, 0, 0, 0, 0);
    if (deviceResources.GlowLayerTexture != nullptr) {
        std::vector<uint32_t> texels;
        int width = 0;
        int height = 0;
        if (SoftwareDevice::ReadTexels(deviceResources.GlowLayerTexture, texels, width, height) && width == GlowGridWidth &&
            height == GlowGridHeight) {
            glowTexels_.swap(texels);
        }
    }
}
