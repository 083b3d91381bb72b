#include "core/camera.h"

#include "core/numeric.h"

namespace {

const float degreesToRadians = 0.017453292f;
const double baseFieldOfViewDegrees = 45.0;
const float nearPlane = 0.1f;
const float farPlane = 100.0f;
const double cameraClockDivisor = 1000.0;
const double depthSwingDivisor = 25.0;
const float baseDepth = 2.1f;

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
    return Single(CosDouble(static_cast<double>(cameraClockA) / cameraClockDivisor) / depthSwingDivisor +
                  static_cast<double>(baseDepth));
}

void BuildWorldTransform(Matrix4x4* world, int32_t cameraClockA, float cameraYawDegrees, float cameraPitchDegrees)
{
    Matrix4x4 translation;
    Matrix4x4 rotation;
    D3DXMatrixTranslation(&translation, 0.0f, 0.0f, CameraDepth(cameraClockA));
    const float yaw = Single(static_cast<double>(cameraYawDegrees) * degreesToRadians);
    const float pitch = Single(static_cast<double>(cameraPitchDegrees) * degreesToRadians);
    D3DXMatrixRotationYawPitchRoll(&rotation, yaw, pitch, 0.0f);
    // Row vectors: the quad is rotated about its centre, then moved away.
    D3DXMatrixMultiply(world, &rotation, &translation);
}

FrameTransforms ComputeFrameTransforms(const SceneState& scene, int32_t left, int32_t top, int32_t right,
                                       int32_t bottom)
{
    FrameTransforms transforms;
    D3DXMatrixPerspectiveFovLH(&transforms.projection, FieldOfView(scene.fovWobble),
                               ProjectionAspect(left, top, right, bottom), nearPlane, farPlane);
    BuildWorldTransform(&transforms.world, scene.cameraClockA, scene.cameraYaw, scene.cameraPitch);
    return transforms;
}
