// The scene as the wallpaper of a Wayland desktop: one surface on the
// background layer of every output (wlr-layer-shell, which Sway, Hyprland,
// KDE Plasma, niri, labwc, Wayfire and COSMIC offer), or of the one output
// named, drawn with the GL presenter through EGL. One EGL context serves all
// of them: the frame's textures are uploaded once and the quad is drawn into
// each output's surface with that output's size.
//
// A surface is drawn only when the compositor has asked for its next frame
// (its frame callback came). A compositor sends none to a surface nobody can
// see (Sway: the background of an output showing a fullscreen window), so an
// output whose callback stays away is hidden, and when every output is, the
// view has nothing to draw and sleeps.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/trails/frame_capture.h"
#include "tools/trails/gl_presenter.h"
#include "tools/trails/render_options.h"

struct wl_display;
struct wl_registry;
struct wl_compositor;
struct wl_output;
struct zwlr_layer_shell_v1;
struct WallpaperOutput;

// The compositor offers no layer shell (GNOME's does not): the wallpaper
// cannot be drawn there, and the view says so in one line.
struct NoLayerShell : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class WaylandWallpaper {
public:
    // Connects to the compositor (WAYLAND_DISPLAY), finds its outputs and
    // starts EGL. Throws NoLayerShell, or std::runtime_error saying what else
    // is missing. `outputName` empty: every output.
    explicit WaylandWallpaper(const std::string& outputName);
    ~WaylandWallpaper();
    WaylandWallpaper(const WaylandWallpaper&) = delete;
    WaylandWallpaper& operator=(const WaylandWallpaper&) = delete;

    // "opengl (llvmpipe ..., linear filter) on the Wayland background of
    // HEADLESS-1 1280x720, HEADLESS-2 800x600".
    std::string Description() const;

    // Reads and handles what the compositor sent, waiting at most `seconds`
    // for it. False once the connection is lost.
    bool Dispatch(double seconds);
    // Outputs whose frame callback has not come `after` seconds after their
    // last frame are hidden (said once on stdout); a callback shows them.
    void NoticeHidden(double now, double after);
    // When the next output waiting for its callback would count as hidden;
    // a long time ahead when none waits.
    double SecondsToNextHidden(double now, double after) const;

    bool AnyReady() const;    // some output wants its next frame now
    bool AnyVisible() const;  // some output has a surface and is not hidden
    // The largest visible output, in pixels (0 x 0 when none): the
    // rectangle the scene's frames are made for.
    FrameSize LargestVisible() const;
    // The highest refresh rate among the outputs, in Hz; 0 when none says.
    double RefreshRate() const;

    // Uploads the frame once and draws it into every ready output, each
    // asking for its next callback. `sceneAspect`: the aspect the frame's
    // projection was made for.
    ShowTimes Present(const CapturedFrame& frame, double sceneAspect, double now, double& swapSeconds);
    // "HEADLESS-1 300 frames, HEADLESS-2 120 frames (hidden)".
    std::string OutputReport() const;

    // For the listeners: the registry's news, and an output's own.
    void AddGlobal(uint32_t name, const char* interface, uint32_t version);
    void RemoveGlobal(uint32_t name);
    void OutputDescribed(WallpaperOutput& output);
    void SurfaceConfigured(WallpaperOutput& output, uint32_t serial, int width, int height);
    void SurfaceClosed(WallpaperOutput& output);
    void FrameDone(WallpaperOutput& output);

private:
    void StartEgl();
    void CreateSurface(WallpaperOutput& output);
    void ResizeSurface(WallpaperOutput& output);
    void DestroySurface(WallpaperOutput& output);
    void Close();
    void Say(const std::string& line) const;

    std::string outputName_;
    wl_display* display_ = nullptr;
    wl_registry* registry_ = nullptr;
    wl_compositor* compositor_ = nullptr;
    zwlr_layer_shell_v1* layerShell_ = nullptr;
    std::vector<std::unique_ptr<WallpaperOutput>> outputs_;
    void* eglDisplay_ = nullptr;
    void* eglConfig_ = nullptr;
    void* eglContext_ = nullptr;
    std::string glName_;
    std::unique_ptr<GlPresenter> presenter_;
};
