// The command line of `trails view`, and where it draws.
#pragma once

#include <cstdint>
#include <string>

#include "tools/trails/render_options.h"

enum class ViewRenderer { Gl, Software };

// Where the scene goes: a window of the view's own, an existing X window
// (given by id, the root window, or the one XScreenSaver hands over), or the
// background of every output of a Wayland compositor.
struct ViewTarget {
    enum class Kind { OwnWindow, WindowId, Root, WaylandWallpaper };
    Kind kind = Kind::OwnWindow;
    // A wallpaper (--wallpaper, on either system) keeps one scene for its
    // whole run: a new size only changes the rectangle the frames are drawn
    // for. Elsewhere a new size gets a new device and a new set-up, as a
    // host does it.
    bool oneScene = false;
    unsigned long windowId = 0;  // Kind::WindowId
    std::string origin;          // how it was chosen, for messages
};

struct ViewSettings {
    FrameSize size{960, 600};
    bool sizeGiven = false;
    bool seedGiven = false;
    uint32_t seed = 0;
    uint32_t frames = 0;         // 0: until the window is closed
    uint32_t ticksPerFrame = 0;  // 0: 60 ticks a second of real time
    std::string screenshotPath;
    ViewRenderer renderer = ViewRenderer::Gl;
    bool windowIdGiven = false;
    unsigned long windowId = 0;
    bool root = false;
    bool wallpaper = false;
    std::string outputName;  // --output: one Wayland output; empty: every one
    uint32_t fps = 0;        // 0: the display's rate (60 where unknown)
    bool pauseOnBattery = false;
    // For tests: after this many frames, ask for a new window size as a user
    // dragging its border would (0: never).
    uint32_t resizeAtFrame = 0;
    FrameSize resizeTo;
};

// Throws UsageError for a bad command line.
ViewSettings ParseViewOptions(int argc, char** argv);

// An X window id as XScreenSaver and xwinwrap write it: decimal or 0x-hex,
// not 0, at most 32 bits. Throws UsageError naming `what`.
unsigned long ParseWindowId(const std::string& what, const std::string& text);

// --window-id first; then XSCREENSAVER_WINDOW (`screensaverWindow`, null when
// unset), which XScreenSaver sets for its hacks, -root or not; then --root;
// then --wallpaper: the Wayland background under a Wayland compositor
// (`waylandDisplay` set, or no X display either), else the X root window;
// otherwise a window of the view's own.
ViewTarget ChooseViewTarget(const ViewSettings& settings, const char* screensaverWindow, const char* waylandDisplay,
                            const char* xDisplay);
