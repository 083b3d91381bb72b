// The camera of a frame as plain numbers: the projection for the screen
// rectangle and the world transform of the swaying quad.
#pragma once

#include <cstdint>

#include "core/matrices.h"
#include "core/scene_state.h"

// The aspect handed to the projection: the integer quotient of the rectangle's
// width by its height. A rectangle whose quotient is below 1 or undefined
// (portrait, empty or inverted) gets 1, so it is filled as a landscape one is.
float ProjectionAspect(int32_t left, int32_t top, int32_t right, int32_t bottom);

// Vertical field of view in radians for a wobble in degrees.
float FieldOfView(float fovWobbleDegrees);

// Distance of the quad from the eye for a camera clock.
float CameraDepth(int32_t cameraClockA);

// The world transform of the swaying quad: rotation, then translation.
void BuildWorldTransform(Matrix4x4* world, int32_t cameraClockA, float cameraYawDegrees, float cameraPitchDegrees);

// What a frame sets on the device: the projection for the rectangle and the
// world transform from the scene's camera values.
struct FrameTransforms {
    Matrix4x4 projection;
    Matrix4x4 world;
};
FrameTransforms ComputeFrameTransforms(const SceneState& scene, int32_t left, int32_t top, int32_t right,
                                       int32_t bottom);
