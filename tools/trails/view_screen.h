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

// Seconds of the last Show, split up, for the closing report.
struct ShowTimes {
    double capture = 0.0;  // reading the device state
    double upload = 0.0;   // both layers' texels into OpenGL textures
    double draw = 0.0;     // the rest of the presenter's calls
};

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

    // Draws the scene's last frame into the back buffer.
    void Show(const HostedScene& scene);
    void Present();
    // What the back buffer holds (after Show, before Present), A8R8G8B8 rows
    // from the top.
    std::vector<uint32_t> ReadPixels(FrameSize& size);

    void SetTitle(const std::string& title);  // not on someone else's window
    void RequestSize(const FrameSize& size);
    const ShowTimes& LastShowTimes() const { return times_; }

private:
    void Close();
    void OpenWindow(const FrameSize& size, bool gl);
    bool StartGl(std::string& failure);
    void StartSdlRenderer();

    std::unique_ptr<ForeignWindow> foreign_;
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
