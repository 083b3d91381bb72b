// One frame: begin, clear, layer update, camera and the two draws.
#pragma once

#include <cstdint>

#include "render/graphics.h"

// The aspect handed to the projection: the integer quotient of the rectangle's
// width by its height. A rectangle whose quotient is below 1 or undefined
// (portrait, empty or inverted) gets 1, so it is filled as a landscape one is.
float ProjectionAspect(int32_t left, int32_t top, int32_t right, int32_t bottom);

// Vertical field of view in radians for a wobble in degrees.
float FieldOfView(float fovWobbleDegrees);

// Distance of the quad from the eye for a camera clock.
float CameraDepth(int32_t cameraClockA);

// The world transform of the swaying quad: rotation, then translation.
void BuildWorldTransform(D3DXMATRIX* world, int32_t cameraClockA, float cameraYawDegrees,
                         float cameraPitchDegrees);

// Draws one frame on the host's device into the given screen rectangle. A null
// device does nothing; a failed BeginScene ends the frame at once; a frame
// without all three device resources only begins, clears and ends the scene.
void RenderFrame(IDirect3DDevice9* device, int32_t left, int32_t top, int32_t right, int32_t bottom);
