#include "render/frame.h"

#include <cstring>

#include "core/camera.h"
#include "core/layers.h"

namespace {

const UINT quadVertexStride = sizeof(QuadVertex);
const D3DCOLOR clearColour = 0xFF000000;  // opaque black

static_assert(sizeof(D3DMATRIX) == sizeof(Matrix4x4), "our matrices have Direct3D's layout");

// A whole-level discard lock of a layer texture, handed to the core as a
// texel buffer: null texels when the lock failed or its memory cannot hold
// width x height texels, so that nothing is written through it.
struct LockedLayer {
    IDirect3DTexture9* texture;
    TexelBuffer texels;
};

LockedLayer LockLayer(IDirect3DTexture9* texture, int32_t width, int32_t height)
{
    D3DLOCKED_RECT locked;
    std::memset(&locked, 0, sizeof(locked));
    const HRESULT result = texture->LockRect(0, &locked, nullptr, D3DLOCK_DISCARD);
    LockedLayer layer = {texture, TexelBuffer{nullptr, width, height, locked.Pitch}};
    if (SUCCEEDED(result) && locked.pBits != nullptr && locked.Pitch >= width * 4) {
        layer.texels.texels = static_cast<uint32_t*>(locked.pBits);
    }
    return layer;
}

void UnlockLayer(const LockedLayer& layer) { layer.texture->UnlockRect(0); }

// The fade and the particle texels into the scene's own copy of the layer,
// then the whole layer copied into the discard-locked texture (a discard
// lock hands over memory of undefined content).
void UpdateFullLayer(SceneState& scene, IDirect3DTexture9* texture, SimdLevel level)
{
    const LockedLayer layer = LockLayer(texture, scene.gridWidth, scene.gridHeight);
    UpdateFullLayerTexels(scene, level);
    if (layer.texels.texels != nullptr) {
        CopyFullLayer(scene, layer.texels);
    }
    UnlockLayer(layer);
}

// The glow clear and the halos, written straight into the locked texture.
void UpdateGlowLayer(SceneState& scene, IDirect3DTexture9* texture, SimdLevel level)
{
    const LockedLayer layer = LockLayer(texture, scene.gridWidth >> 1, scene.gridHeight >> 1);
    UpdateGlowTexels(scene, layer.texels, level);
    UnlockLayer(layer);
}

void SetTransform(IDirect3DDevice9* device, D3DTRANSFORMSTATETYPE state, const Matrix4x4& matrix)
{
    D3DMATRIX value;
    std::memcpy(&value, &matrix, sizeof(value));
    device->SetTransform(state, &value);
}

}  // namespace

void RenderFrame(SceneState& scene, const DeviceResources& resources, IDirect3DDevice9* device, int32_t left,
                 int32_t top, int32_t right, int32_t bottom, SimdLevel level)
{
    if (device == nullptr) {
        return;
    }
    if (FAILED(device->BeginScene())) {
        return;  // nothing may be drawn this frame, and EndScene is not due
    }
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, clearColour, 1.0f, 0);

    // Before set-up, after FreePlugin or after a failed creation there is
    // nothing to update or draw: no lock, no random draw, no grid change.
    if (!DeviceResourcesReady(resources)) {
        device->EndScene();
        return;
    }

    UpdateFullLayer(scene, resources.FullLayerTexture, level);
    UpdateGlowLayer(scene, resources.GlowLayerTexture, level);

    const FrameTransforms transforms = ComputeFrameTransforms(scene, left, top, right, bottom);
    SetTransform(device, D3DTS_PROJECTION, transforms.projection);
    device->SetStreamSource(0, resources.QuadVertexBuffer, 0, quadVertexStride);

    // The full layer first, then the glow over it with the same quad.
    SetTransform(device, D3DTS_WORLD, transforms.world);
    device->SetTexture(0, resources.FullLayerTexture);
    device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
    SetTransform(device, D3DTS_WORLD, transforms.world);
    device->SetTexture(0, resources.GlowLayerTexture);
    device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);

    device->EndScene();
}
