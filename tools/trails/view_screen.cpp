#include "tools/trails/view_screen.h"

#include <SDL_syswm.h>

#include <GL/gl.h>
#include <GL/glext.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace {

std::string SdlFailure(const std::string& what) { return what + ": " + SDL_GetError(); }

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

ViewScreen::ViewScreen(const FrameSize& size, const ViewTarget& target, ViewRenderer renderer)
{
    if (SDL_Init(SDL_INIT_VIDEO) != 0)
        throw std::runtime_error(SdlFailure("cannot start SDL video"));
    try {
        if (target.kind != ViewTarget::Kind::OwnWindow)
            foreign_.reset(new ForeignWindow(target));
        std::string failure;
        if (renderer == ViewRenderer::Gl) {
            OpenWindow(size, true);
            if (window_ == nullptr) {
                failure = SDL_GetError();
            } else if (!StartGl(failure)) {
                SDL_DestroyWindow(window_);
                window_ = nullptr;
            }
            if (window_ == nullptr) {
                std::fprintf(stderr, "trails view: no OpenGL context (%s); the software device draws instead\n",
                             failure.c_str());
            }
        }
        if (window_ == nullptr) {
            OpenWindow(size, false);
            if (window_ == nullptr)
                throw std::runtime_error(SdlFailure("cannot open a window"));
            StartSdlRenderer();
        }
        WatchVisibility();
    } catch (...) {
        Close();
        throw;
    }
}

ViewScreen::~ViewScreen() { Close(); }

// On X11 only: SDL tells when its window is unmapped, but not when other
// windows cover it, and nothing about someone else's window.
void ViewScreen::WatchVisibility()
{
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    unsigned long window = 0;
    if (foreign_ != nullptr) {
        window = foreign_->Id();
    } else if (SDL_GetWindowWMInfo(window_, &info) && info.subsystem == SDL_SYSWM_X11) {
        window = info.info.x11.window;
    }
    if (window == 0)
        return;
    visibility_.reset(new XVisibilityWatch(window));
    if (!visibility_->Ok())
        visibility_.reset();
}

bool ViewScreen::Visible() { return visibility_ == nullptr || visibility_->Visible(); }

void ViewScreen::WaitWhileHidden(int milliseconds)
{
    if (visibility_ != nullptr) {
        visibility_->Wait(milliseconds);
    } else {
        SDL_Delay(static_cast<Uint32>(milliseconds));
    }
}

double ViewScreen::RefreshRate() const
{
    SDL_DisplayMode mode;
    const int display = window_ != nullptr ? SDL_GetWindowDisplayIndex(window_) : 0;
    if (SDL_GetCurrentDisplayMode(display < 0 ? 0 : display, &mode) != 0)
        return 0.0;
    return mode.refresh_rate > 0 ? mode.refresh_rate : 0.0;
}

void ViewScreen::Close()
{
    visibility_.reset();
    if (foreign_ != nullptr && foreign_->Gone()) {
        // Taking the context or SDL's hold on the window down would have
        // Mesa flush into a drawable that no longer exists, which corrupts
        // its memory; the process ends next and takes them along.
        foreign_.reset();
        return;
    }
    if (glContext_ != nullptr) {
        presenter_.reset();  // its textures go while their context is current
        SDL_GL_DeleteContext(glContext_);
        glContext_ = nullptr;
    }
    if (texture_ != nullptr)
        SDL_DestroyTexture(texture_);
    texture_ = nullptr;
    if (renderer_ != nullptr)
        SDL_DestroyRenderer(renderer_);
    renderer_ = nullptr;
    // Someone else's window stays; SDL only lets go of it.
    if (window_ != nullptr)
        SDL_DestroyWindow(window_);
    window_ = nullptr;
    foreign_.reset();
    SDL_Quit();
}

void ViewScreen::OpenWindow(const FrameSize& size, bool gl)
{
    if (foreign_ != nullptr) {
        // Without this hint SDL will not put an OpenGL context on a window it
        // did not create.
        SDL_SetHint(SDL_HINT_VIDEO_FOREIGN_WINDOW_OPENGL, gl ? "1" : "0");
        window_ = SDL_CreateWindowFrom(reinterpret_cast<const void*>(static_cast<uintptr_t>(foreign_->Id())));
        return;
    }
    if (gl) {
        SDL_GL_ResetAttributes();
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 1);
        SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
        SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
    }
    window_ = SDL_CreateWindow("Chaos Trails", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, size.width,
                               size.height, SDL_WINDOW_RESIZABLE | (gl ? SDL_WINDOW_OPENGL : 0));
}

bool ViewScreen::StartGl(std::string& failure)
{
    glContext_ = SDL_GL_CreateContext(window_);
    if (glContext_ == nullptr) {
        failure = SDL_GetError();
        return false;
    }
    const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    if (!GlVersionAtLeast21(version)) {
        failure = std::string("OpenGL ") + (version != nullptr ? version : "of unknown version") + " is older than 2.1";
        SDL_GL_DeleteContext(glContext_);
        glContext_ = nullptr;
        return false;
    }
    const char* name = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    glName_ = name != nullptr ? name : "unknown";
    // A real display waits for its refresh here; the view paces itself to 60
    // frames a second where the swap returns at once (Xvfb).
    vsync_ = SDL_GL_SetSwapInterval(1) == 0;
    presenter_.reset(new GlPresenter());
    presenter_->UseAnisotropy(!RasterizesOnTheProcessor(glName_));
    return true;
}

void ViewScreen::StartSdlRenderer()
{
    if (foreign_ == nullptr) {
        renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_ACCELERATED | SDL_RENDERER_PRESENTVSYNC);
    }
    // No GPU (Xvfb, a remote display), or someone else's window, which SDL's
    // own software renderer draws into through X directly.
    if (renderer_ == nullptr)
        renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_SOFTWARE);
    if (renderer_ == nullptr)
        throw std::runtime_error(SdlFailure("cannot create a renderer"));
    SDL_RendererInfo info;
    if (SDL_GetRendererInfo(renderer_, &info) == 0) {
        vsync_ = (info.flags & SDL_RENDERER_PRESENTVSYNC) != 0;
        rendererName_ = info.name;
    }
}

std::string ViewScreen::Description() const
{
    std::string text =
        glContext_ != nullptr
            ? "opengl (" + glName_ + (presenter_->Anisotropic() ? ", anisotropic" : ", linear") + " filter)"
            : "software (shown by SDL's " + rendererName_ + " renderer)";
    if (vsync_)
        text += " with vsync";
    if (foreign_ != nullptr)
        text += " into " + foreign_->Description();
    return text;
}

bool ViewScreen::CurrentSize(FrameSize& size)
{
    if (foreign_ == nullptr) {
        if (glContext_ != nullptr) {
            SDL_GL_GetDrawableSize(window_, &size.width, &size.height);
        } else if (SDL_GetRendererOutputSize(renderer_, &size.width, &size.height) != 0) {
            SDL_GetWindowSize(window_, &size.width, &size.height);
        }
        return true;
    }
    if (!foreign_->CurrentSize(size))
        return false;
    int known = 0;
    int knownHeight = 0;
    SDL_GetWindowSize(window_, &known, &knownHeight);
    if (glContext_ == nullptr && (known != size.width || knownHeight != size.height)) {
        // SDL learns nothing of a size change of a window it did not create,
        // and its renderer draws at the size it knows: wrap the window anew.
        if (texture_ != nullptr)
            SDL_DestroyTexture(texture_);
        texture_ = nullptr;
        textureWidth_ = textureHeight_ = 0;
        SDL_DestroyRenderer(renderer_);
        renderer_ = nullptr;
        SDL_DestroyWindow(window_);
        OpenWindow(size, false);
        if (window_ == nullptr)
            throw std::runtime_error(SdlFailure("cannot take the window over again"));
        StartSdlRenderer();
    }
    return true;
}

void ViewScreen::Show(const HostedScene& scene, const FrameSize& target, double sceneAspect)
{
    shown_ = target;
    if (glContext_ != nullptr) {
        const auto start = std::chrono::steady_clock::now();
        CaptureFrame(scene.Device(), frame_);
        times_.capture = SecondsSince(start);
        const auto drawStart = std::chrono::steady_clock::now();
        presenter_->Upload(frame_);
        presenter_->Draw(frame_, target.width, target.height, sceneAspect);
        times_.upload = presenter_->LastUploadSeconds();
        times_.draw = SecondsSince(drawStart) - times_.upload;
        return;
    }
    const int width = scene.Width();
    const int height = scene.Height();
    if (texture_ == nullptr || width != textureWidth_ || height != textureHeight_) {
        if (texture_ != nullptr)
            SDL_DestroyTexture(texture_);
        // SDL's ARGB8888 is a 32-bit word with alpha on top: A8R8G8B8.
        texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, width, height);
        if (texture_ == nullptr)
            throw std::runtime_error(SdlFailure("cannot create a texture"));
        // The back buffer's alpha is blending residue, not transparency.
        SDL_SetTextureBlendMode(texture_, SDL_BLENDMODE_NONE);
        textureWidth_ = width;
        textureHeight_ = height;
    }
    const auto start = std::chrono::steady_clock::now();
    SDL_UpdateTexture(texture_, nullptr, scene.Pixels(), width * 4);
    times_.upload = SecondsSince(start);
    SDL_RenderClear(renderer_);
    SDL_RenderCopy(renderer_, texture_, nullptr, nullptr);
}

void ViewScreen::Present()
{
    if (glContext_ != nullptr) {
        SDL_GL_SwapWindow(window_);
    } else {
        SDL_RenderPresent(renderer_);
    }
}

std::vector<uint32_t> ViewScreen::ReadPixels(FrameSize& size)
{
    std::vector<uint32_t> pixels;
    if (glContext_ != nullptr) {
        size = shown_;
        pixels.resize(static_cast<size_t>(size.width) * size.height);
        std::vector<uint32_t> rows(pixels.size());
        glPixelStorei(GL_PACK_ALIGNMENT, 4);
        glReadPixels(0, 0, size.width, size.height, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, rows.data());
        // OpenGL's rows run from the bottom.
        for (int y = 0; y < size.height; ++y) {
            std::memcpy(&pixels[static_cast<size_t>(y) * size.width],
                        &rows[static_cast<size_t>(size.height - 1 - y) * size.width],
                        static_cast<size_t>(size.width) * 4);
        }
        return pixels;
    }
    if (SDL_GetRendererOutputSize(renderer_, &size.width, &size.height) != 0) {
        throw std::runtime_error(SdlFailure("cannot read the window's size"));
    }
    pixels.resize(static_cast<size_t>(size.width) * size.height);
    if (SDL_RenderReadPixels(renderer_, nullptr, SDL_PIXELFORMAT_ARGB8888, pixels.data(), size.width * 4) != 0) {
        throw std::runtime_error(SdlFailure("cannot read the window's pixels"));
    }
    return pixels;
}

void ViewScreen::SetTitle(const std::string& title)
{
    if (foreign_ == nullptr)
        SDL_SetWindowTitle(window_, title.c_str());
}

void ViewScreen::RequestSize(const FrameSize& size)
{
    if (foreign_ == nullptr)
        SDL_SetWindowSize(window_, size.width, size.height);
}
