#include "tools/trails/wayland_wallpaper.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <wayland-client.h>
#include <wayland-egl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include <poll.h>

// The generated header is C and names an argument `namespace`.
#define namespace layerNamespace
#include "wlr-layer-shell-unstable-v1-client-protocol.h"
#undef namespace

// One output, and the background surface the view keeps on it.
struct WallpaperOutput {
    WaylandWallpaper* owner = nullptr;
    uint32_t globalName = 0;
    wl_output* output = nullptr;
    std::string name;
    int scale = 1;
    int modeWidth = 0;
    int modeHeight = 0;
    int refreshMilliHertz = 0;
    bool described = false;  // the first "done" came: name, mode and scale known
    bool closed = false;     // the compositor closed its surface

    wl_surface* surface = nullptr;
    zwlr_layer_surface_v1* layer = nullptr;
    wl_egl_window* eglWindow = nullptr;
    EGLSurface eglSurface = EGL_NO_SURFACE;
    int width = 0;  // surface-local, as configured
    int height = 0;
    int bufferScale = 1;
    wl_callback* callback = nullptr;  // the next frame's, while awaited
    bool hidden = false;
    double lastFrame = 0.0;
    uint64_t frames = 0;

    int PixelWidth() const { return width * bufferScale; }
    int PixelHeight() const { return height * bufferScale; }
    bool Drawable() const { return eglSurface != EGL_NO_SURFACE && width > 0 && height > 0; }
};

namespace {

constexpr uint32_t compositorVersion = 4;  // wl_surface.set_buffer_scale needs 3
constexpr uint32_t outputVersion = 4;      // 4 names the output (DP-1)

// The listeners: C callbacks that hand the news to the wallpaper.
void OnGlobal(void* data, wl_registry*, uint32_t name, const char* interface, uint32_t version)
{
    static_cast<WaylandWallpaper*>(data)->AddGlobal(name, interface, version);
}
void OnGlobalRemove(void* data, wl_registry*, uint32_t name)
{
    static_cast<WaylandWallpaper*>(data)->RemoveGlobal(name);
}
const wl_registry_listener registryListener = {OnGlobal, OnGlobalRemove};

void OnGeometry(void*, wl_output*, int32_t, int32_t, int32_t, int32_t, int32_t, const char*, const char*, int32_t) {}
void OnMode(void* data, wl_output*, uint32_t flags, int32_t width, int32_t height, int32_t refresh)
{
    if ((flags & WL_OUTPUT_MODE_CURRENT) == 0)
        return;
    WallpaperOutput& output = *static_cast<WallpaperOutput*>(data);
    output.modeWidth = width;
    output.modeHeight = height;
    output.refreshMilliHertz = refresh;
}
void OnOutputDone(void* data, wl_output*)
{
    WallpaperOutput& output = *static_cast<WallpaperOutput*>(data);
    output.owner->OutputDescribed(output);
}
void OnScale(void* data, wl_output*, int32_t factor) { static_cast<WallpaperOutput*>(data)->scale = factor; }
void OnName(void* data, wl_output*, const char* name) { static_cast<WallpaperOutput*>(data)->name = name; }
void OnDescription(void*, wl_output*, const char*) {}
const wl_output_listener outputListener = {OnGeometry, OnMode, OnOutputDone, OnScale, OnName, OnDescription};

void OnConfigure(void* data, zwlr_layer_surface_v1*, uint32_t serial, uint32_t width, uint32_t height)
{
    WallpaperOutput& output = *static_cast<WallpaperOutput*>(data);
    output.owner->SurfaceConfigured(output, serial, static_cast<int>(width), static_cast<int>(height));
}
void OnClosed(void* data, zwlr_layer_surface_v1*)
{
    WallpaperOutput& output = *static_cast<WallpaperOutput*>(data);
    output.owner->SurfaceClosed(output);
}
const zwlr_layer_surface_v1_listener layerListener = {OnConfigure, OnClosed};

void OnFrameDone(void* data, wl_callback*, uint32_t)
{
    WallpaperOutput& output = *static_cast<WallpaperOutput*>(data);
    output.owner->FrameDone(output);
}
const wl_callback_listener frameListener = {OnFrameDone};

// wl_output.release (version 3) tells the compositor; older ones only forget.
void ReleaseOutput(wl_output* output)
{
    if (wl_output_get_version(output) >= WL_OUTPUT_RELEASE_SINCE_VERSION) {
        wl_output_release(output);
    } else {
        wl_output_destroy(output);
    }
}

std::string SizeText(int width, int height) { return std::to_string(width) + "x" + std::to_string(height); }

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// An opaque configuration without alpha where there is one: a wallpaper's
// alpha would be taken as transparency, and the scene's is blending residue.
EGLConfig ChooseConfig(EGLDisplay display)
{
    const EGLint wanted[] = {EGL_SURFACE_TYPE,
                             EGL_WINDOW_BIT,
                             EGL_RENDERABLE_TYPE,
                             EGL_OPENGL_BIT,
                             EGL_RED_SIZE,
                             8,
                             EGL_GREEN_SIZE,
                             8,
                             EGL_BLUE_SIZE,
                             8,
                             EGL_DEPTH_SIZE,
                             24,
                             EGL_NONE};
    EGLConfig configs[64];
    EGLint count = 0;
    if (!eglChooseConfig(display, wanted, configs, 64, &count) || count < 1)
        return nullptr;
    for (EGLint n = 0; n < count; ++n) {
        EGLint alpha = 0;
        eglGetConfigAttrib(display, configs[n], EGL_ALPHA_SIZE, &alpha);
        if (alpha == 0)
            return configs[n];
    }
    return configs[0];
}

}  // namespace

WaylandWallpaper::WaylandWallpaper(const std::string& outputName) : outputName_(outputName)
{
    display_ = wl_display_connect(nullptr);
    if (display_ == nullptr)
        throw std::runtime_error("cannot connect to a Wayland compositor (is WAYLAND_DISPLAY set?)");
    registry_ = wl_display_get_registry(display_);
    wl_registry_add_listener(registry_, &registryListener, this);
    wl_display_roundtrip(display_);
    if (layerShell_ == nullptr) {
        Close();
        throw NoLayerShell(
            "this Wayland compositor offers no layer shell (zwlr_layer_shell_v1; GNOME's does not), so the scene "
            "cannot be its wallpaper; what works instead: a window (trails view), or --root under X11");
    }
    if (compositor_ == nullptr) {
        Close();
        throw std::runtime_error("the Wayland compositor offers no wl_compositor");
    }
    try {
        StartEgl();
    } catch (...) {
        Close();
        throw;
    }
    // The outputs' names, modes and scales; then their surfaces' first sizes.
    wl_display_roundtrip(display_);
    wl_display_roundtrip(display_);
    if (!outputName_.empty() && outputs_.end() == std::find_if(outputs_.begin(), outputs_.end(),
                                                               [&](const auto& o) { return o->name == outputName_; })) {
        std::string names;
        for (const auto& output : outputs_)
            names += (names.empty() ? "" : ", ") + output->name;
        Say("no output " + outputName_ + " yet (there are: " + (names.empty() ? "none" : names) + "); waiting for it");
    }
}

WaylandWallpaper::~WaylandWallpaper() { Close(); }

// One context for every output, current without a surface until the first
// frame (EGL_KHR_surfaceless_context, which Mesa and the GPU vendors' drivers
// offer), so that the presenter and the OpenGL version are known at start.
void WaylandWallpaper::StartEgl()
{
    eglDisplay_ = eglGetPlatformDisplay(EGL_PLATFORM_WAYLAND_KHR, display_, nullptr);
    EGLint major = 0;
    EGLint minor = 0;
    if (eglDisplay_ == EGL_NO_DISPLAY || !eglInitialize(eglDisplay_, &major, &minor))
        throw std::runtime_error("cannot start EGL on the Wayland display");
    if (!eglBindAPI(EGL_OPENGL_API))
        throw std::runtime_error("EGL offers no desktop OpenGL here");
    eglConfig_ = ChooseConfig(eglDisplay_);
    if (eglConfig_ == nullptr)
        throw std::runtime_error("EGL offers no configuration for an OpenGL window");
    const EGLint attributes[] = {EGL_CONTEXT_MAJOR_VERSION, 2, EGL_CONTEXT_MINOR_VERSION, 1, EGL_NONE};
    eglContext_ = eglCreateContext(eglDisplay_, eglConfig_, EGL_NO_CONTEXT, attributes);
    if (eglContext_ == EGL_NO_CONTEXT)
        throw std::runtime_error("cannot create an OpenGL 2.1 context through EGL");
    if (!eglMakeCurrent(eglDisplay_, EGL_NO_SURFACE, EGL_NO_SURFACE, eglContext_))
        throw std::runtime_error("cannot make the OpenGL context current without a surface");
    const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    if (!GlVersionAtLeast21(version)) {
        throw std::runtime_error(std::string("OpenGL ") + (version != nullptr ? version : "of unknown version") +
                                 " is older than 2.1");
    }
    const char* name = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    glName_ = name != nullptr ? name : "unknown";
    presenter_.reset(new GlPresenter());
    presenter_->UseAnisotropy(!RasterizesOnTheProcessor(glName_));
}

void WaylandWallpaper::Close()
{
    for (auto& output : outputs_) {
        DestroySurface(*output);
        ReleaseOutput(output->output);
    }
    outputs_.clear();
    if (eglDisplay_ != nullptr) {
        if (presenter_ != nullptr) {
            // Its textures go while their context is current.
            eglMakeCurrent(eglDisplay_, EGL_NO_SURFACE, EGL_NO_SURFACE, eglContext_);
            presenter_.reset();
        }
        eglMakeCurrent(eglDisplay_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        if (eglContext_ != nullptr)
            eglDestroyContext(eglDisplay_, eglContext_);
        eglTerminate(eglDisplay_);
        eglReleaseThread();
        eglDisplay_ = nullptr;
        eglContext_ = nullptr;
    }
    if (layerShell_ != nullptr)
        zwlr_layer_shell_v1_destroy(layerShell_);
    layerShell_ = nullptr;
    if (compositor_ != nullptr)
        wl_compositor_destroy(compositor_);
    compositor_ = nullptr;
    if (registry_ != nullptr)
        wl_registry_destroy(registry_);
    registry_ = nullptr;
    if (display_ != nullptr)
        wl_display_disconnect(display_);
    display_ = nullptr;
}

void WaylandWallpaper::Say(const std::string& line) const
{
    std::printf("trails view: %s\n", line.c_str());
    std::fflush(stdout);
}

void WaylandWallpaper::AddGlobal(uint32_t name, const char* interface, uint32_t version)
{
    if (std::strcmp(interface, wl_compositor_interface.name) == 0) {
        compositor_ = static_cast<wl_compositor*>(
            wl_registry_bind(registry_, name, &wl_compositor_interface, std::min(version, compositorVersion)));
    } else if (std::strcmp(interface, zwlr_layer_shell_v1_interface.name) == 0) {
        layerShell_ =
            static_cast<zwlr_layer_shell_v1*>(wl_registry_bind(registry_, name, &zwlr_layer_shell_v1_interface, 1));
    } else if (std::strcmp(interface, wl_output_interface.name) == 0) {
        std::unique_ptr<WallpaperOutput> output(new WallpaperOutput());
        output->owner = this;
        output->globalName = name;
        output->name = "output-" + std::to_string(name);  // until a version 4 output names itself
        output->output = static_cast<wl_output*>(
            wl_registry_bind(registry_, name, &wl_output_interface, std::min(version, outputVersion)));
        wl_output_add_listener(output->output, &outputListener, output.get());
        outputs_.push_back(std::move(output));
    }
}

// An output unplugged or turned off: its surface goes with it.
void WaylandWallpaper::RemoveGlobal(uint32_t name)
{
    for (auto at = outputs_.begin(); at != outputs_.end(); ++at) {
        WallpaperOutput& output = **at;
        if (output.globalName != name)
            continue;
        if (output.surface != nullptr)
            Say(output.name + " went away");
        DestroySurface(output);
        ReleaseOutput(output.output);
        outputs_.erase(at);
        return;
    }
}

// The output's name, mode and scale are known (first time, or changed).
void WaylandWallpaper::OutputDescribed(WallpaperOutput& output)
{
    output.described = true;
    if (!outputName_.empty() && output.name != outputName_)
        return;
    if (output.surface == nullptr && layerShell_ != nullptr) {
        CreateSurface(output);
    } else if (output.surface != nullptr && output.scale != output.bufferScale) {
        ResizeSurface(output);
    }
}

// Below every window, over the whole output, above nothing: anchored to all
// four edges with the size left to the compositor, exclusive zone -1 so that
// panels do not push it aside, no keyboard, and no input at all (an empty
// input region: clicks reach the desktop as they would without it).
void WaylandWallpaper::CreateSurface(WallpaperOutput& output)
{
    output.closed = false;
    output.hidden = false;
    output.surface = wl_compositor_create_surface(compositor_);
    output.bufferScale = output.scale > 0 ? output.scale : 1;
    wl_surface_set_buffer_scale(output.surface, output.bufferScale);
    wl_region* nothing = wl_compositor_create_region(compositor_);
    wl_surface_set_input_region(output.surface, nothing);
    wl_region_destroy(nothing);
    output.layer = zwlr_layer_shell_v1_get_layer_surface(layerShell_, output.surface, output.output,
                                                         ZWLR_LAYER_SHELL_V1_LAYER_BACKGROUND, "wallpaper");
    zwlr_layer_surface_v1_set_size(output.layer, 0, 0);
    zwlr_layer_surface_v1_set_anchor(output.layer,
                                     ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
                                         ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT | ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT);
    zwlr_layer_surface_v1_set_exclusive_zone(output.layer, -1);
    zwlr_layer_surface_v1_set_keyboard_interactivity(output.layer, 0);
    zwlr_layer_surface_v1_add_listener(output.layer, &layerListener, &output);
    wl_surface_commit(output.surface);
}

void WaylandWallpaper::SurfaceConfigured(WallpaperOutput& output, uint32_t serial, int width, int height)
{
    zwlr_layer_surface_v1_ack_configure(output.layer, serial);
    const bool first = output.width == 0;
    output.width = width;
    output.height = height;
    ResizeSurface(output);
    if (first)
        Say(output.name + " " + SizeText(output.PixelWidth(), output.PixelHeight()) + ": the scene is its wallpaper");
}

// The EGL window follows the surface's size times the output's scale; an
// opaque region lets the compositor skip whatever lies below.
void WaylandWallpaper::ResizeSurface(WallpaperOutput& output)
{
    if (output.surface == nullptr || output.width <= 0 || output.height <= 0)
        return;
    output.bufferScale = output.scale > 0 ? output.scale : 1;
    wl_surface_set_buffer_scale(output.surface, output.bufferScale);
    wl_region* opaque = wl_compositor_create_region(compositor_);
    wl_region_add(opaque, 0, 0, output.width, output.height);
    wl_surface_set_opaque_region(output.surface, opaque);
    wl_region_destroy(opaque);
    if (output.eglWindow != nullptr) {
        wl_egl_window_resize(output.eglWindow, output.PixelWidth(), output.PixelHeight(), 0, 0);
        return;
    }
    output.eglWindow = wl_egl_window_create(output.surface, output.PixelWidth(), output.PixelHeight());
    output.eglSurface = eglCreateWindowSurface(eglDisplay_, eglConfig_,
                                               reinterpret_cast<EGLNativeWindowType>(output.eglWindow), nullptr);
    if (output.eglSurface == EGL_NO_SURFACE) {
        Say("cannot draw on " + output.name + ": EGL gives no surface for it");
        return;
    }
    // The view waits for the frame callback itself: a swap that waited for
    // it would block for good on a surface nobody sees.
    eglMakeCurrent(eglDisplay_, output.eglSurface, output.eglSurface, eglContext_);
    eglSwapInterval(eglDisplay_, 0);
}

void WaylandWallpaper::SurfaceClosed(WallpaperOutput& output)
{
    Say(output.name + ": the compositor took the wallpaper's surface away");
    DestroySurface(output);
    output.closed = true;
}

void WaylandWallpaper::DestroySurface(WallpaperOutput& output)
{
    if (output.eglSurface != EGL_NO_SURFACE) {
        eglMakeCurrent(eglDisplay_, EGL_NO_SURFACE, EGL_NO_SURFACE, eglContext_);
        eglDestroySurface(eglDisplay_, output.eglSurface);
    }
    output.eglSurface = EGL_NO_SURFACE;
    if (output.eglWindow != nullptr)
        wl_egl_window_destroy(output.eglWindow);
    output.eglWindow = nullptr;
    if (output.callback != nullptr)
        wl_callback_destroy(output.callback);
    output.callback = nullptr;
    if (output.layer != nullptr)
        zwlr_layer_surface_v1_destroy(output.layer);
    output.layer = nullptr;
    if (output.surface != nullptr)
        wl_surface_destroy(output.surface);
    output.surface = nullptr;
    output.width = output.height = 0;
}

void WaylandWallpaper::FrameDone(WallpaperOutput& output)
{
    wl_callback_destroy(output.callback);
    output.callback = nullptr;
    if (output.hidden)
        Say(output.name + " shown again: its frames go on");
    output.hidden = false;
}

// The usual way to wait on a Wayland connection among other things: events
// already queued are handled first, then poll() on its socket.
bool WaylandWallpaper::Dispatch(double seconds)
{
    while (wl_display_prepare_read(display_) != 0) {
        if (wl_display_dispatch_pending(display_) < 0)
            return false;
    }
    if (wl_display_flush(display_) < 0 && errno != EAGAIN) {
        wl_display_cancel_read(display_);
        return false;
    }
    pollfd waiting = {wl_display_get_fd(display_), POLLIN, 0};
    const int milliseconds = seconds <= 0.0 ? 0 : static_cast<int>(seconds * 1000.0) + 1;
    const int ready = poll(&waiting, 1, milliseconds);
    if (ready > 0 && (waiting.revents & POLLIN) != 0) {
        if (wl_display_read_events(display_) < 0)
            return false;
    } else {
        wl_display_cancel_read(display_);
        if (ready > 0 && (waiting.revents & (POLLHUP | POLLERR)) != 0)
            return false;
    }
    return wl_display_dispatch_pending(display_) >= 0;
}

void WaylandWallpaper::NoticeHidden(double now, double after)
{
    for (auto& output : outputs_) {
        if (output->callback == nullptr || output->hidden || now - output->lastFrame < after)
            continue;
        output->hidden = true;
        Say(output->name + " hidden (no frame asked for): its frames stop");
    }
}

double WaylandWallpaper::SecondsToNextHidden(double now, double after) const
{
    double soonest = 3600.0;
    for (const auto& output : outputs_) {
        if (output->callback != nullptr && !output->hidden)
            soonest = std::min(soonest, std::max(0.0, output->lastFrame + after - now));
    }
    return soonest;
}

bool WaylandWallpaper::AnyReady() const
{
    for (const auto& output : outputs_) {
        if (output->Drawable() && output->callback == nullptr)
            return true;
    }
    return false;
}

bool WaylandWallpaper::AnyVisible() const
{
    for (const auto& output : outputs_) {
        if (output->Drawable() && !output->hidden)
            return true;
    }
    return false;
}

FrameSize WaylandWallpaper::LargestVisible() const
{
    FrameSize largest{0, 0};
    for (const auto& output : outputs_) {
        const int64_t area = int64_t(output->PixelWidth()) * output->PixelHeight();
        if (output->Drawable() && !output->hidden && area > int64_t(largest.width) * largest.height)
            largest = FrameSize{output->PixelWidth(), output->PixelHeight()};
    }
    return largest;
}

double WaylandWallpaper::RefreshRate() const
{
    int highest = 0;
    for (const auto& output : outputs_)
        highest = std::max(highest, output->refreshMilliHertz);
    return highest / 1000.0;
}

ShowTimes WaylandWallpaper::Present(const CapturedFrame& frame, double sceneAspect, double now, double& swapSeconds)
{
    const auto frameStart = std::chrono::steady_clock::now();
    ShowTimes times;
    swapSeconds = 0.0;
    bool uploaded = false;
    for (auto& output : outputs_) {
        if (!output->Drawable() || output->callback != nullptr)
            continue;
        const auto start = std::chrono::steady_clock::now();
        eglMakeCurrent(eglDisplay_, output->eglSurface, output->eglSurface, eglContext_);
        if (!uploaded) {
            presenter_->Upload(frame);
            times.upload = presenter_->LastUploadSeconds();
            uploaded = true;
        }
        presenter_->Draw(frame, output->PixelWidth(), output->PixelHeight(), sceneAspect);
        // Asked for before the swap, which commits the surface.
        output->callback = wl_surface_frame(output->surface);
        wl_callback_add_listener(output->callback, &frameListener, output.get());
        times.draw += SecondsSince(start);
        const auto swapStart = std::chrono::steady_clock::now();
        eglSwapBuffers(eglDisplay_, output->eglSurface);
        swapSeconds += SecondsSince(swapStart);
        // The wait for the callback counts from the frame's commit.
        output->lastFrame = now + SecondsSince(frameStart);
        ++output->frames;
    }
    times.draw -= times.upload;
    return times;
}

std::string WaylandWallpaper::Description() const
{
    std::string text = "opengl (" + glName_ + (presenter_->Anisotropic() ? ", anisotropic" : ", linear") +
                       " filter) on the Wayland background of";
    bool first = true;
    for (const auto& output : outputs_) {
        if (output->surface == nullptr)
            continue;
        text += std::string(first ? " " : ", ") + output->name + " " +
                SizeText(output->PixelWidth(), output->PixelHeight());
        first = false;
    }
    return first ? text + " no output yet" : text;
}

std::string WaylandWallpaper::OutputReport() const
{
    std::string text;
    for (const auto& output : outputs_) {
        if (!outputName_.empty() && output->name != outputName_)
            continue;
        text += (text.empty() ? "" : ", ") + output->name + " " + std::to_string(output->frames) + " frames" +
                (output->surface == nullptr ? " (no surface)"
                 : output->hidden           ? " (hidden)"
                                            : "");
    }
    return text.empty() ? "no output" : text;
}
