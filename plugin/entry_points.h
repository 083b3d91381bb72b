// The contract with the host: the eight entry points the library exports,
// each under its undecorated name at a fixed ordinal (ChaosTrails.def mirrors
// this list), with the Windows standard calling convention and only 32-bit
// arguments and results.
//
// The host's calling order:
//   1. loads the library (DllMain records the module instance);
//   2. QueryDefaultSettings, any number of times, at any time;
//   3. SetupPlugin with its device and the screen rectangle;
//   4. UpdateScene once per simulation tick and RenderSceneOnScreen once per
//      frame, interleaved as it likes, never two calls at once;
//   5. FreePlugin once the last frame for the device has been drawn;
//   6. 3 to 5 again, for example on a new device;
//   7. ConfigPlugin at any time after load;
//   8. unloads the library.
#pragma once

#include <cstdint>

#include "render/graphics.h"

#ifndef _WIN32
#define WINAPI
typedef void* HWND;
#endif

extern "C" {

// Ordinal 1. The default of a numbered setting: keys 1 and 2 give 0, key 3
// gives 30, key 7 gives 1, every other key (compared unsigned) the default
// passed in. Reads and changes no state. Pops 8 bytes.
int32_t WINAPI QueryDefaultSettings(uint32_t key, int32_t defaultValue);

// Ordinal 2. Releases the three device resources; nothing else. Arguments
// ignored. Pops 12 bytes.
void WINAPI FreePlugin(uint32_t ignored1, uint32_t ignored2, uint32_t ignored3);

// Ordinal 3. Builds the scene on the host's device for the screen rectangle:
// grid size, aspect, device resources, camera clocks, pattern and 2000 more
// particles, seeded with the calendar time. Always returns 1. Pops 28 bytes.
int32_t WINAPI SetupPlugin(IDirect3DDevice9* device, int32_t left, int32_t top, int32_t right, int32_t bottom,
                           uint32_t ignored1, uint32_t ignored2);

// Ordinal 4. Does nothing. Pops 8 bytes.
void WINAPI NotificationProcedure(uint32_t ignored1, uint32_t ignored2);

// Ordinal 5. One simulation tick. Pops nothing.
void WINAPI UpdateScene();

// Ordinal 6. Draws one frame on the device into the screen rectangle. Always
// returns 0. Pops 44 bytes.
int32_t WINAPI RenderSceneOnScreen(uint32_t ignored, IDirect3DDevice9* device, int32_t left, int32_t top, int32_t right,
                                   int32_t bottom, uint32_t ignored1, uint32_t ignored2, uint32_t ignored3,
                                   uint32_t ignored4, uint32_t ignored5);

// Ordinal 10. Does nothing; always 0. Pops 28 bytes.
int32_t WINAPI SetupPluginPerScreen(uint32_t ignored1, uint32_t ignored2, uint32_t ignored3, uint32_t ignored4,
                                    uint32_t ignored5, uint32_t ignored6, uint32_t ignored7);

// Ordinal 11. Shows the settings dialog modally over the parent window; 1 when
// it was left with the ok button, otherwise 0. Pops 4 bytes.
int32_t WINAPI ConfigPlugin(HWND parent);

}  // extern "C"

// The set-up behind SetupPlugin with the seed given rather than taken from the
// calendar time; the tools use it to replay a scene. Nothing else differs.
int32_t SetupScene(IDirect3DDevice9* device, int32_t left, int32_t top, int32_t right, int32_t bottom, uint32_t seed);
