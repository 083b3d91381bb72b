// Where and how `trails view` shows a frame: SDL's window (one of its own, or
// an existing X window wrapped), and either an OpenGL context on it into
// which the GL presenter replays the plug-in's draws, or SDL's renderer
// showing the back buffer the software device rasterized.
#pragma once

#include <SDL.h>

#include <memory>
#include <string>
#include <vector>

#include "tools/trails/frame_capture.h"
#include "tools/trails/gl_presenter.h"
#include "tools/trails/hosted_scene.h"
#include "tools/trails/render_options.h"
#include "tools/trails/view_options.h"
#include "tools/trails/x11_window.h"

class ViewScreen {
public:
    // Starts SDL's video and opens the window, or wraps the existing one.
    // With ViewRenderer::Gl and no OpenGL context to be had, says so in one
    // line on stderr and shows the software device's frames instead. Throws
    // std::runtime_error when there is nowhere to draw.
    ViewScreen(const FrameSize& size, const ViewTarget& target, ViewRenderer renderer);
    ~ViewScreen();
    ViewScreen(const ViewScreen&) = delete;
    ViewScreen& operator=(const ViewScreen&) = delete;

    // The frames the software device has to rasterize for this screen (none
    // for OpenGL, which draws them itself).
    bool NeedsRasterizedFrames() const { return glContext_ == nullptr; }
    bool Embedded() const { return foreign_ != nullptr; }
    // "opengl (llvmpipe ...)" or "software (SDL's opengl renderer)", and
    // where: "window 0x... (--window-id)".
    std::string Description() const;
    bool Vsync() const { return vsync_; }

    // Pixels to draw into now; for an existing window, its size as X has it.
    // False once an existing window has gone.
    bool CurrentSize(FrameSize& size);

    // Draws the scene's last frame into the back buffer, `target` pixels
    // large (the device's own size, or the window's when it keeps one scene
    // through size changes); `sceneAspect` is the aspect the frame's
    // projection was made for (0: the target's).
    void Show(const HostedScene& scene, const FrameSize& target, double sceneAspect = 0.0);
    void Present();
    // What the back buffer holds (after Show, before Present), A8R8G8B8 rows
    // from the top.
    std::vector<uint32_t> ReadPixels(FrameSize& size);

    // Whether anyone can see the window (X11: mapped and not fully covered).
    // Always true where that cannot be told (another video driver).
    bool Visible();
    // Sleeps until the window's visibility may have changed, or
    // `milliseconds`; SDL's own events wait until the view looks again.
    void WaitWhileHidden(int milliseconds);
    // The display's refresh rate in Hz; 0 when it does not say.
    double RefreshRate() const;

    void SetTitle(const std::string& title);  // not on someone else's window
    void RequestSize(const FrameSize& size);
    const ShowTimes& LastShowTimes() const { return times_; }

private:
    void Close();
    void OpenWindow(const FrameSize& size, bool gl);
    bool StartGl(std::string& failure);
    void StartSdlRenderer();
    void WatchVisibility();

    std::unique_ptr<ForeignWindow> foreign_;
    std::unique_ptr<XVisibilityWatch> visibility_;
    FrameSize shown_;  // what the last Show drew
    SDL_Window* window_ = nullptr;
    SDL_GLContext glContext_ = nullptr;
    std::unique_ptr<GlPresenter> presenter_;
    CapturedFrame frame_;
    std::string glName_;
    SDL_Renderer* renderer_ = nullptr;
    SDL_Texture* texture_ = nullptr;
    int textureWidth_ = 0;
    int textureHeight_ = 0;
    std::string rendererName_;
    bool vsync_ = false;
    ShowTimes times_;
};
