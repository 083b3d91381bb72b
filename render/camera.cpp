#include "render/camera.h"

#include <cmath>

#include "plugin/scene_state.h"
#include "render/device_resources.h"
#include "render/layer_update.h"
#include "simulation/numeric.h"

namespace {

const float degreesToRadians = 0.017453292f;
const double baseFieldOfViewDegrees = 45.0;
const float nearPlane = 0.1f;
const float farPlane = 100.0f;
const double cameraClockDivisor = 1000.0;
const double depthSwingDivisor = 25.0;
const float baseDepth = 2.1f;
const UINT quadVertexStride = sizeof(QuadVertex);
const D3DCOLOR clearColour = 0xFF000000;  // opaque black

}  // namespace

float ProjectionAspect(int32_t left, int32_t top, int32_t right, int32_t bottom)
{
    // In 64 bits, so extreme coordinates cannot overflow the differences.
    const int64_t width = static_cast<int64_t>(right) - left;
    const int64_t height = static_cast<int64_t>(bottom) - top;
    if (height <= 0) {
        return 1.0f;
    }
    const int64_t quotient = width / height;
    return quotient < 1 ? 1.0f : static_cast<float>(quotient);
}

float FieldOfView(float fovWobbleDegrees)
{
    return Single((static_cast<double>(fovWobbleDegrees) + baseFieldOfViewDegrees) * degreesToRadians);
}

float CameraDepth(int32_t cameraClockA)
{
    return Single(std::cos(static_cast<double>(cameraClockA) / cameraClockDivisor) / depthSwingDivisor +
                  static_cast<double>(baseDepth));
}

void BuildWorldTransform(D3DXMATRIX* world, int32_t cameraClockA, float cameraYawDegrees,
                         float cameraPitchDegrees)
{
    D3DXMATRIX translation;
    D3DXMATRIX rotation;
    D3DXMatrixTranslation(&translation, 0.0f, 0.0f, CameraDepth(cameraClockA));
    const float yaw = Single(static_cast<double>(cameraYawDegrees) * degreesToRadians);
    const float pitch = Single(static_cast<double>(cameraPitchDegrees) * degreesToRadians);
    D3DXMatrixRotationYawPitchRoll(&rotation, yaw, pitch, 0.0f);
    // Row vectors: the quad is rotated about its centre, then moved away.
    D3DXMatrixMultiply(world, &rotation, &translation);
}

void RenderFrame(IDirect3DDevice9* device, int32_t left, int32_t top, int32_t right, int32_t bottom)
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
    if (!DeviceResourcesReady()) {
        device->EndScene();
        return;
    }

    UpdateFullLayer();
    UpdateGlowLayer();

    D3DXMATRIX projection;
    D3DXMatrixPerspectiveFovLH(&projection, FieldOfView(scene.fovWobble),
                               ProjectionAspect(left, top, right, bottom), nearPlane, farPlane);
    device->SetTransform(D3DTS_PROJECTION, &projection);

    D3DXMATRIX world;
    BuildWorldTransform(&world, scene.cameraClockA, scene.cameraYaw, scene.cameraPitch);
    device->SetStreamSource(0, scene.QuadVertexBuffer, 0, quadVertexStride);

    // The full layer first, then the glow over it with the same quad.
    device->SetTransform(D3DTS_WORLD, &world);
    device->SetTexture(0, scene.FullLayerTexture);
    device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
    device->SetTransform(D3DTS_WORLD, &world);
    device->SetTexture(0, scene.GlowLayerTexture);
    device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);

    device->EndScene();
}
