// One frame on the host's device: begin, clear, the two layers, the camera
// and the two draws.
#pragma once

#include <cstdint>

#include "core/scene_state.h"
#include "core/simd_level.h"
#include "render/device_resources.h"
#include "render/graphics.h"

// Draws one frame of the scene on the host's device into the given screen
// rectangle. A null device does nothing; a failed BeginScene ends the frame
// at once; a frame without all three device resources only begins, clears
// and ends the scene (no lock, no random draw, no grid change). A failed
// lock skips only the writing into that texture: the layers' passes still
// run on the grids, so the simulation never depends on the device.
// The passes use the vector instructions `level` allows.
void RenderFrame(SceneState& scene, const DeviceResources& resources, IDirect3DDevice9* device, int32_t left,
                 int32_t top, int32_t right, int32_t bottom, SimdLevel level = MachineSimdLevel());
