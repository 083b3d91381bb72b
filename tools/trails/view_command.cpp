// trails view: the scene live in a window, hosted the way a wallpaper host
// hosts it: 60 ticks a second, a frame per display refresh (or per 1/60 s
// when the renderer cannot wait for the refresh), and on a new window size a
// new device: FreePlugin, a device of the new size, SetupPlugin with the new
// rectangle (which appends another 2000 particles, as it does in a host).
//
// The software device draws the frame; SDL only shows its back buffer,
// through a streaming texture, with whatever renderer it has (the software
// one under Xvfb).
#include <SDL.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "tools/trails/command_line.h"
#include "tools/trails/hosted_scene.h"
#include "tools/trails/png_writer.h"
#include "tools/trails/render_options.h"

namespace {

const double ticksPerSecond = 60.0;
// A frame that took longer than this many ticks' worth of time does not make
// the scene race to catch up; it slows down instead.
const int maxTicksPerFrame = 8;

struct ViewSettings {
    FrameSize size{960, 600};
    bool seedGiven = false;
    uint32_t seed = 0;
    uint32_t frames = 0;  // 0: until the window is closed
    std::string screenshotPath;
    // For tests: after this many frames, ask for a new window size as a user
    // dragging its border would (0: never).
    uint32_t resizeAtFrame = 0;
    FrameSize resizeTo;
};

ViewSettings ParseViewOptions(int argc, char** argv)
{
    ViewSettings settings;
    OptionReader options(argc, argv, 2);
    std::string name;
    std::string value;
    while (options.Next(name, value)) {
        if (name == "--size") {
            settings.size = ParseSize(name, value);
        } else if (name == "--seed") {
            settings.seed = ParseUnsigned32(name, value);
            settings.seedGiven = true;
        } else if (name == "--frames") {
            settings.frames = ParseCount(name, value, 1, 100000000);
        } else if (name == "--screenshot") {
            if (value.empty()) throw UsageError("--screenshot: expected a file name");
            if (OutputKindOf(value) != OutputKind::Png) {
                throw UsageError("--screenshot: '" + value + "' is not a .png file");
            }
            settings.screenshotPath = value;
        } else if (name == "--resize-at") {
            const size_t colon = value.find(':');
            if (colon == std::string::npos) throw UsageError("--resize-at: expected FRAME:WxH, got '" + value + "'");
            settings.resizeAtFrame = ParseCount(name, value.substr(0, colon), 1, 100000000);
            settings.resizeTo = ParseSize(name, value.substr(colon + 1));
        } else {
            throw UsageError("unknown option '" + name + "' (try 'trails help')");
        }
    }
    return settings;
}

std::string SdlFailure(const std::string& what) { return what + ": " + SDL_GetError(); }

// The SDL side: window, renderer and the texture the back buffer goes into.
class Window {
public:
    explicit Window(const FrameSize& size)
    {
        if (SDL_Init(SDL_INIT_VIDEO) != 0) throw std::runtime_error(SdlFailure("cannot start SDL video"));
        window_ = SDL_CreateWindow("Chaos Trails", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, size.width,
                                   size.height, SDL_WINDOW_RESIZABLE);
        if (window_ == nullptr) throw std::runtime_error(SdlFailure("cannot open a window"));
        renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_ACCELERATED | SDL_RENDERER_PRESENTVSYNC);
        if (renderer_ == nullptr) {
            // No GPU (Xvfb, a remote display): SDL's own software renderer.
            renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_SOFTWARE);
        }
        if (renderer_ == nullptr) throw std::runtime_error(SdlFailure("cannot create a renderer"));
        SDL_RendererInfo info;
        if (SDL_GetRendererInfo(renderer_, &info) == 0) {
            vsync_ = (info.flags & SDL_RENDERER_PRESENTVSYNC) != 0;
            rendererName_ = info.name;
        }
    }
    ~Window()
    {
        if (texture_ != nullptr) SDL_DestroyTexture(texture_);
        if (renderer_ != nullptr) SDL_DestroyRenderer(renderer_);
        if (window_ != nullptr) SDL_DestroyWindow(window_);
        SDL_Quit();
    }
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    // Pixels the renderer draws into; with high-DPI scaling more than the
    // window's size in screen units.
    FrameSize OutputSize() const
    {
        FrameSize size;
        if (SDL_GetRendererOutputSize(renderer_, &size.width, &size.height) != 0) {
            SDL_GetWindowSize(window_, &size.width, &size.height);
        }
        return size;
    }

    void Show(const uint32_t* pixels, int width, int height)
    {
        if (texture_ == nullptr || width != textureWidth_ || height != textureHeight_) {
            if (texture_ != nullptr) SDL_DestroyTexture(texture_);
            // SDL's ARGB8888 is a 32-bit word with alpha on top: A8R8G8B8.
            texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, width,
                                         height);
            if (texture_ == nullptr) throw std::runtime_error(SdlFailure("cannot create a texture"));
            // The back buffer's alpha is blending residue, not transparency.
            SDL_SetTextureBlendMode(texture_, SDL_BLENDMODE_NONE);
            textureWidth_ = width;
            textureHeight_ = height;
        }
        SDL_UpdateTexture(texture_, nullptr, pixels, width * 4);
        Repaint();
    }

    // Draws the last frame shown again, for a window uncovered while paused.
    void Repaint()
    {
        SDL_RenderClear(renderer_);
        if (texture_ != nullptr) SDL_RenderCopy(renderer_, texture_, nullptr, nullptr);
    }

    void Present() { SDL_RenderPresent(renderer_); }

    // What the window shows, read back from the renderer (before Present).
    std::vector<uint32_t> ReadPixels(FrameSize& size) const
    {
        size = OutputSize();
        std::vector<uint32_t> pixels(static_cast<size_t>(size.width) * size.height);
        if (SDL_RenderReadPixels(renderer_, nullptr, SDL_PIXELFORMAT_ARGB8888, pixels.data(), size.width * 4) != 0) {
            throw std::runtime_error(SdlFailure("cannot read the window's pixels"));
        }
        return pixels;
    }

    void SetTitle(const std::string& title) { SDL_SetWindowTitle(window_, title.c_str()); }
    void RequestSize(const FrameSize& size) { SDL_SetWindowSize(window_, size.width, size.height); }
    bool Vsync() const { return vsync_; }
    const std::string& RendererName() const { return rendererName_; }

private:
    SDL_Window* window_ = nullptr;
    SDL_Renderer* renderer_ = nullptr;
    SDL_Texture* texture_ = nullptr;
    int textureWidth_ = 0;
    int textureHeight_ = 0;
    bool vsync_ = false;
    std::string rendererName_ = "unknown";
};

bool FileExists(const std::string& path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0;
}

// chaos-trails-20260105-142233.png in the current directory, -2, -3 ... when
// several are saved in one second.
std::string SnapshotName()
{
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::tm local = {};
    localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    std::string name = std::string("chaos-trails-") + stamp + ".png";
    for (int n = 2; FileExists(name); ++n) {
        name = std::string("chaos-trails-") + stamp + "-" + std::to_string(n) + ".png";
    }
    return name;
}

double SecondsBetween(std::chrono::steady_clock::time_point from, std::chrono::steady_clock::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

}  // namespace

int RunViewCommand(int argc, char** argv)
{
    const ViewSettings settings = ParseViewOptions(argc, argv);
    if (!settings.screenshotPath.empty()) CheckOutputWritable(settings.screenshotPath);
    // Without --seed every set-up takes the calendar time, as SetupPlugin does.
    auto seedNow = [&settings]() {
        return settings.seedGiven ? settings.seed : static_cast<uint32_t>(std::time(nullptr));
    };

    Window window(settings.size);
    FrameSize size = window.OutputSize();
    HostedScene scene(size.width, size.height);
    uint32_t seed = seedNow();
    scene.Setup(seed);
    std::printf("trails view: seed %u, %dx%d, %u particles, renderer %s%s; Space pauses, S saves a PNG, Esc quits\n",
                seed, size.width, size.height, scene.ParticleCount(), window.RendererName().c_str(),
                window.Vsync() ? " with vsync" : "");
    std::fflush(stdout);

    using Clock = std::chrono::steady_clock;
    const double frameInterval = 1.0 / ticksPerSecond;
    const Clock::time_point started = Clock::now();
    uint64_t ticksRun = 0;
    Clock::time_point lastFrame = started;
    Clock::time_point titleShown = lastFrame;
    double ticksOwed = 0.0;
    double frameSecondsSum = 0.0;
    int framesSinceTitle = 0;
    uint32_t framesDrawn = 0;
    bool paused = false;
    bool needFrame = true;  // a frame is due even while paused (new device)
    bool running = true;
    bool titleDirty = true;

    while (running) {
        FrameSize wanted = size;
        bool exposed = false;
        SDL_Event event;
        // While paused nothing moves: sleep until something happens.
        bool haveEvent = paused && !needFrame ? SDL_WaitEventTimeout(&event, 250) != 0 : SDL_PollEvent(&event) != 0;
        while (haveEvent) {
            if (event.type == SDL_QUIT) {
                running = false;
            } else if (event.type == SDL_KEYDOWN && event.key.repeat == 0) {
                switch (event.key.keysym.sym) {
                case SDLK_ESCAPE: running = false; break;
                case SDLK_SPACE:
                    paused = !paused;
                    titleDirty = true;
                    break;
                case SDLK_s: {
                    const std::string name = SnapshotName();
                    try {
                        WritePng(name, scene.Width(), scene.Height(), scene.Pixels(), scene.Width());
                        std::printf("saved %s\n", name.c_str());
                    } catch (const std::exception& error) {
                        std::fprintf(stderr, "trails view: %s\n", error.what());
                    }
                    std::fflush(stdout);
                    break;
                }
                default: break;
                }
            } else if (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
                wanted = window.OutputSize();
            } else if (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_EXPOSED) {
                exposed = true;
            }
            haveEvent = SDL_PollEvent(&event) != 0;
        }
        if (!running) break;

        // A drag sends many sizes; only the last one gets a device.
        if (wanted.width != size.width || wanted.height != size.height) {
            if (wanted.width >= 1 && wanted.height >= 1) {
                size = wanted;
                seed = seedNow();
                scene.Recreate(size.width, size.height, seed);
                std::printf("trails view: new device %dx%d, seed %u, %u particles\n", size.width, size.height, seed,
                            scene.ParticleCount());
                std::fflush(stdout);
                needFrame = true;
                titleDirty = true;
            }
        }

        const Clock::time_point frameStart = Clock::now();
        if (paused && !needFrame) {
            lastFrame = frameStart;  // no ticks owed for the pause
            if (exposed) {
                window.Repaint();
                window.Present();
                exposed = false;
            }
            if (titleDirty) {
                window.SetTitle("Chaos Trails - paused (Space resumes)");
                titleDirty = false;
            }
            continue;
        }

        if (!paused) {
            ticksOwed += SecondsBetween(lastFrame, frameStart) * ticksPerSecond;
            if (framesDrawn == 0) ticksOwed = 1.0;
            if (ticksOwed > maxTicksPerFrame) ticksOwed = maxTicksPerFrame;
            while (ticksOwed >= 1.0) {
                scene.Tick();
                ticksOwed -= 1.0;
                ++ticksRun;
            }
        }
        lastFrame = frameStart;
        scene.Frame(true);
        needFrame = false;
        ++framesDrawn;
        window.Show(scene.Pixels(), scene.Width(), scene.Height());
        const bool last = settings.frames != 0 && framesDrawn >= settings.frames;
        if (last && !settings.screenshotPath.empty()) {
            FrameSize shot;
            const std::vector<uint32_t> pixels = window.ReadPixels(shot);
            WritePng(settings.screenshotPath, shot.width, shot.height, pixels.data(), shot.width);
            std::printf("saved %s\n", settings.screenshotPath.c_str());
            std::fflush(stdout);
        }
        window.Present();
        if (last) running = false;
        if (framesDrawn == settings.resizeAtFrame) window.RequestSize(settings.resizeTo);

        const Clock::time_point frameEnd = Clock::now();
        frameSecondsSum += SecondsBetween(frameStart, frameEnd);
        ++framesSinceTitle;
        if (titleDirty || SecondsBetween(titleShown, frameEnd) >= 0.5) {
            char title[160];
            const double milliseconds = framesSinceTitle > 0 ? 1000.0 * frameSecondsSum / framesSinceTitle : 0.0;
            std::snprintf(title, sizeof title, "Chaos Trails - %dx%d - %.1f ms a frame - %u particles%s", size.width,
                          size.height, milliseconds, scene.ParticleCount(), paused ? " - paused" : "");
            window.SetTitle(title);
            titleShown = frameEnd;
            frameSecondsSum = 0.0;
            framesSinceTitle = 0;
            titleDirty = false;
        }
        // Without vsync the present returns at once: hold the frame to 1/60 s.
        if (!window.Vsync()) {
            const double spent = SecondsBetween(frameStart, Clock::now());
            if (spent < frameInterval) SDL_Delay(static_cast<Uint32>((frameInterval - spent) * 1000.0));
        }
    }
    const double seconds = SecondsBetween(started, Clock::now());
    std::printf("trails view: %u frames and %llu ticks in %.1f s (%.1f frames/s)\n", framesDrawn,
                static_cast<unsigned long long>(ticksRun), seconds, seconds > 0.0 ? framesDrawn / seconds : 0.0);
    return 0;
}
