#include "render/device_resources.h"

#include <cstring>

// Upper left, upper right, lower left, lower right: a square of side 1.656
// centred on the origin; the texture coordinates stop 0.005 short of every
// edge. White with alpha 0: the texel alone decides the drawn alpha.
const QuadVertex QuadVertices[4] = {
    {-0.828f, 0.828f, 0.0f, 0x00FFFFFF, 0.005f, 0.005f},
    {0.828f, 0.828f, 0.0f, 0x00FFFFFF, 0.995f, 0.005f},
    {-0.828f, -0.828f, 0.0f, 0x00FFFFFF, 0.005f, 0.995f},
    {0.828f, -0.828f, 0.0f, 0x00FFFFFF, 0.995f, 0.995f},
};

namespace {

template <typename Resource>
void ReleaseReference(Resource*& reference)
{
    if (reference != nullptr) {
        reference->Release();
        reference = nullptr;
    }
}

}  // namespace

void CreateDeviceResources(DeviceResources& resources, IDirect3DDevice9* device, int32_t gridWidth, int32_t gridHeight)
{
    // A host that sets up twice without freeing would otherwise leak the
    // earlier textures (about 11.5 MB of video memory per call).
    ReleaseDeviceResources(resources);

    // Results are not examined: a failed creation leaves its reference null,
    // and a frame without all three resources draws nothing of the scene.
    device->CreateVertexBuffer(QuadVertexBufferBytes, 0, QuadVertexFormat, D3DPOOL_DEFAULT, &resources.QuadVertexBuffer,
                               nullptr);
    device->CreateTexture(gridWidth, gridHeight, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT,
                          &resources.FullLayerTexture, nullptr);
    device->CreateTexture(gridWidth / 2, gridHeight / 2, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT,
                          &resources.GlowLayerTexture, nullptr);

    device->SetFVF(QuadVertexFormat);
    device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_ANISOTROPIC);
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_ANISOTROPIC);
    device->SetSamplerState(0, D3DSAMP_MAXANISOTROPY, 8);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);

    if (resources.QuadVertexBuffer != nullptr) {
        void* vertexBytes = nullptr;
        const HRESULT locked = resources.QuadVertexBuffer->Lock(0, sizeof(QuadVertices), &vertexBytes, 0);
        // A failed lock leaves the quad unwritten rather than writing through
        // whatever the pointer holds.
        if (SUCCEEDED(locked) && vertexBytes != nullptr) {
            std::memcpy(vertexBytes, QuadVertices, sizeof(QuadVertices));
        }
        resources.QuadVertexBuffer->Unlock();
    }

    device->SetTexture(0, resources.FullLayerTexture);
    device->SetTexture(0, resources.GlowLayerTexture);
}

void ReleaseDeviceResources(DeviceResources& resources)
{
    ReleaseReference(resources.GlowLayerTexture);
    ReleaseReference(resources.FullLayerTexture);
    ReleaseReference(resources.QuadVertexBuffer);
}

bool DeviceResourcesReady(const DeviceResources& resources)
{
    return resources.FullLayerTexture != nullptr && resources.GlowLayerTexture != nullptr &&
           resources.QuadVertexBuffer != nullptr;
}
