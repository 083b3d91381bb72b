// Hosting the plug-in on a real Direct3D 9 device, the way wallpaper hosts
// drive scene plug-ins: a device on a window, SetupPlugin with the client
// rectangle, UpdateScene on the hosts' one schedule (tools/host_schedule.h:
// 60 ticks a second, or K per frame),
// RenderSceneOnScreen and Present every frame, FreePlugin at the end. A
// resize or a lost device is answered with FreePlugin, Reset and SetupPlugin:
// the plug-in's dynamic textures live in the default pool, which Reset
// requires released. Shared by trails-viewer and the screensaver.
#pragma once

#include <windows.h>

#include <d3d9.h>

#include <cstdint>
#include <functional>
#include <string>

#include "tools/viewer/plugin_library.h"

// What a window procedure tells the loop.
struct HostWindow {
    HWND handle = nullptr;
    bool closed = false;
    int clientWidth = 0;
    int clientHeight = 0;
    bool sizeChanged = false;

    // Takes the client size from the window as it is now.
    void ReadClientSize();
    // A window procedure's WM_SIZE: a minimised window keeps its device as it
    // was; there is nothing to draw into until it comes back.
    void OnSize(WPARAM kind, LPARAM size);
};

struct Graphics {
    IDirect3D9* direct3d = nullptr;
    IDirect3DDevice9* device = nullptr;
    D3DPRESENT_PARAMETERS presentation = {};
};

// The device as typical hosts make it: HAL, hardware vertex processing with a
// software fallback, windowed with a discarded swap chain in the desktop's
// format, and an automatic depth buffer. False with the reason when there is
// no such device.
bool CreateGraphics(HWND window, int width, int height, Graphics& graphics, std::string& failure);
void ReleaseGraphics(Graphics& graphics);

// SetupPlugin and RenderSceneOnScreen with the whole back buffer as the screen.
void SetupOnBackBuffer(const PluginLibrary& plugin, const Graphics& graphics);
void RenderOnBackBuffer(const PluginLibrary& plugin, const Graphics& graphics);

struct SceneRun {
    uint64_t frames = 0;         // 0: until the window closes
    uint32_t ticksPerFrame = 0;  // 0: real time at 60 ticks a second
    std::string screenshotPath;  // written after the last frame
    long resizeAtFrame = -1;     // as a user dragging the frame would
    int resizeWidth = 0;
    int resizeHeight = 0;
    // Asked before every frame; false ends the run (a preview whose parent
    // has gone).
    std::function<bool()> keepGoing;
};

// Sets the scene up, runs it until the window closes, the frames are done or
// keepGoing says no, and frees it. Prints "frames: N in S s". Returns the
// exit status: 0, or 1 when the screenshot could not be taken.
int RunScene(const PluginLibrary& plugin, Graphics& graphics, HostWindow& window, const SceneRun& run);

// Dispatches waiting messages; false once the window has gone.
bool PumpMessages(HostWindow& window);
