// The plug-in's globals: the one scene the entry points share, its device
// resources, and the dialog's state. Defined once, in plugin_state.cpp, and
// alive for as long as the library is loaded.
#pragma once

#include <cstdint>

#include "core/scene_state.h"
#include "core/test_hooks.h"
#include "render/device_resources.h"

extern SceneState scene;
extern DeviceResources deviceResources;
// All zero in a library a host loads; set by tests and by `trails dump`.
extern TestHooks testHooks;

// The library's module instance (HINSTANCE), recorded by DllMain at process
// attach; the dialog is loaded from its resources.
extern void* moduleInstance;

// Set to 0 when the settings dialog opens and to 1 by its ok button;
// ConfigPlugin returns it.
extern int32_t dialogConfirmed;

// Makes sure the particle list's storage is given back when the library is
// unloaded (or the program using it exits). Called by every set-up; only the
// first call does anything.
void ReleaseParticlesAtUnload();
