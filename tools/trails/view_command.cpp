// trails view: the scene live, hosted the way a wallpaper host hosts it: 60
// ticks a second (or a fixed number a frame), a frame per display refresh
// (at most 60 a second), and on a new window size a new device: FreePlugin, a
// device of the new size, SetupPlugin with the new rectangle (which appends
// another 2000 particles, as it does in a host).
//
// With OpenGL the device only keeps what the frame set (it rasterizes
// nothing) and the GL presenter draws it again; otherwise the software device
// rasterizes each frame and SDL shows its back buffer.
#include <SDL.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <stdexcept>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "tools/trails/command_line.h"
#include "tools/trails/hosted_scene.h"
#include "tools/trails/png_writer.h"
#include "tools/trails/view_options.h"
#include "tools/trails/view_screen.h"

namespace {

using Clock = std::chrono::steady_clock;

const double ticksPerSecond = 60.0;
const double frameInterval = 1.0 / 60.0;
// A frame that took longer than this many ticks' worth of time does not make
// the scene race to catch up; it slows down instead.
const int maxTicksPerFrame = 8;

volatile std::sig_atomic_t stopSignal = 0;
void OnStopSignal(int signal) { stopSignal = signal; }

// XScreenSaver ends a hack with SIGTERM, Ctrl-C sends SIGINT: both end the
// loop, which then frees the scene and exits with 0. Installed before SDL
// starts, so SDL leaves them alone.
void CatchStopSignals()
{
    struct sigaction action = {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

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

double SecondsBetween(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

void SaveShown(ViewScreen& screen, const std::string& path)
{
    FrameSize shot;
    const std::vector<uint32_t> pixels = screen.ReadPixels(shot);
    WritePng(path, shot.width, shot.height, pixels.data(), shot.width);
    std::printf("saved %s\n", path.c_str());
    std::fflush(stdout);
}

// Where a frame's time went, summed over the run, for the closing report.
struct FrameCosts {
    double ticks = 0.0;  // UpdateScene
    uint64_t tickCount = 0;
    double frame = 0.0;    // RenderSceneOnScreen
    double capture = 0.0;  // the presenter reading the device
    double upload = 0.0;   // the layers' texels into textures
    double draw = 0.0;     // the presenter's other calls
    double present = 0.0;  // the swap (where OpenGL's own drawing is finished)
    uint64_t frames = 0;

    void Add(const ShowTimes& shown)
    {
        capture += shown.capture;
        upload += shown.upload;
        draw += shown.draw;
    }
    std::string Report() const
    {
        const double n = frames > 0 ? 1000.0 / static_cast<double>(frames) : 0.0;
        const double tick = tickCount > 0 ? 1000.0 * ticks / static_cast<double>(tickCount) : 0.0;
        char text[256];
        std::snprintf(text, sizeof text,
                      "per frame: ticks %.2f ms (%.1f of %.2f ms), plug-in frame %.2f ms, presenter %.2f ms "
                      "(reading %.2f, uploads %.2f, draws %.2f), present %.2f ms",
                      ticks * n, static_cast<double>(tickCount) * n / 1000.0, tick, frame * n,
                      (capture + upload + draw) * n, capture * n, upload * n, draw * n, present * n);
        return text;
    }
};

// Holds frames to 1/60 s where the present does not wait for the display.
// Sleeps only when ahead of the schedule by more than a millisecond, so that a
// present that does wait for a 60 Hz refresh never adds a sleep of its own.
class FramePacer {
public:
    // After the frame that began at frameStart: sleeps until the next is due.
    void Wait(Clock::time_point frameStart)
    {
        const Clock::duration interval =
            std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(frameInterval));
        // The first frame, or one more than a frame late: the schedule starts
        // again from it rather than rushing to catch up.
        if (!started_ || frameStart - due_ > interval)
            due_ = frameStart;
        started_ = true;
        due_ += interval;
        const double ahead = SecondsBetween(Clock::now(), due_);
        if (ahead > 0.001)
            SDL_Delay(static_cast<Uint32>(ahead * 1000.0));
    }

private:
    bool started_ = false;
    Clock::time_point due_;
};

}  // namespace

int RunViewCommand(int argc, char** argv)
{
    const ViewSettings settings = ParseViewOptions(argc, argv);
    if (!settings.screenshotPath.empty())
        CheckOutputWritable(settings.screenshotPath);
    const ViewTarget target = ChooseViewTarget(settings, std::getenv("XSCREENSAVER_WINDOW"));
    // Without --seed every set-up takes the calendar time, as SetupPlugin does.
    auto seedNow = [&settings]() {
        return settings.seedGiven ? settings.seed : static_cast<uint32_t>(std::time(nullptr));
    };

    stopSignal = 0;
    CatchStopSignals();
    ViewScreen screen(settings.size, target, settings.renderer);
    FrameSize size;
    if (!screen.CurrentSize(size))
        throw std::runtime_error("the window went away");
    HostedScene scene(size.width, size.height);
    uint32_t seed = seedNow();
    scene.Setup(seed);
    const bool rasterize = screen.NeedsRasterizedFrames();
    std::printf("trails view: seed %u, %dx%d, %u particles, renderer %s; Space pauses, S saves a PNG, Esc quits\n",
                seed, size.width, size.height, scene.ParticleCount(), screen.Description().c_str());
    std::fflush(stdout);

    const Clock::time_point started = Clock::now();
    uint64_t ticksRun = 0;
    Clock::time_point lastFrame = started;
    Clock::time_point titleShown = started;
    double ticksOwed = 0.0;
    int framesSinceTitle = 0;
    uint32_t framesDrawn = 0;  // RenderSceneOnScreen calls
    FrameCosts costs;
    FramePacer pacer;
    bool paused = false;
    bool needFrame = true;  // a frame is due even while paused (new device)
    bool running = true;
    bool titleDirty = true;
    bool windowGone = false;

    while (running && stopSignal == 0) {
        FrameSize wanted = size;
        bool exposed = false;
        bool snapshot = false;
        SDL_Event event;
        // While paused nothing moves: sleep until something happens.
        bool haveEvent = paused && !needFrame ? SDL_WaitEventTimeout(&event, 250) != 0 : SDL_PollEvent(&event) != 0;
        while (haveEvent) {
            if (event.type == SDL_QUIT) {
                running = false;
            } else if (event.type == SDL_KEYDOWN && event.key.repeat == 0) {
                switch (event.key.keysym.sym) {
                case SDLK_ESCAPE:
                    running = false;
                    break;
                case SDLK_SPACE:
                    paused = !paused;
                    titleDirty = true;
                    break;
                case SDLK_s:
                    snapshot = true;
                    break;
                default:
                    break;
                }
            } else if (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
                screen.CurrentSize(wanted);
            } else if (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_EXPOSED) {
                exposed = true;
            }
            haveEvent = SDL_PollEvent(&event) != 0;
        }
        if (!running || stopSignal != 0)
            break;
        // Someone else's window: its size every frame (a round trip to X),
        // which also tells, before anything is drawn into it, that it has gone.
        if (screen.Embedded()) {
            if (!screen.CurrentSize(wanted)) {
                windowGone = true;
                break;
            }
        }

        // A drag sends many sizes; only the last one gets a device.
        if ((wanted.width != size.width || wanted.height != size.height) && wanted.width >= 1 && wanted.height >= 1) {
            size = wanted;
            seed = seedNow();
            scene.Recreate(size.width, size.height, seed);
            std::printf("trails view: new device %dx%d, seed %u, %u particles\n", size.width, size.height, seed,
                        scene.ParticleCount());
            std::fflush(stdout);
            needFrame = true;
            titleDirty = true;
        }

        const Clock::time_point frameStart = Clock::now();
        if (paused && !needFrame) {
            lastFrame = frameStart;  // no ticks owed for the pause
            if (exposed || snapshot) {
                // The device still holds the last frame: show it again.
                screen.Show(scene);
                if (snapshot)
                    SaveShown(screen, SnapshotName());
                screen.Present();
            }
            if (titleDirty) {
                screen.SetTitle("Chaos Trails - paused (Space resumes)");
                titleDirty = false;
            }
            continue;
        }

        if (!paused) {
            uint32_t ticksNow = settings.ticksPerFrame;
            if (ticksNow == 0) {
                ticksOwed += SecondsBetween(lastFrame, frameStart) * ticksPerSecond;
                if (framesDrawn == 0)
                    ticksOwed = 1.0;
                if (ticksOwed > maxTicksPerFrame)
                    ticksOwed = maxTicksPerFrame;
                ticksNow = static_cast<uint32_t>(ticksOwed);
                ticksOwed -= ticksNow;
            }
            for (uint32_t tick = 0; tick < ticksNow; ++tick)
                scene.Tick();
            ticksRun += ticksNow;
            costs.tickCount += ticksNow;
        }
        lastFrame = frameStart;
        const Clock::time_point ticked = Clock::now();
        scene.Frame(rasterize);
        const Clock::time_point framed = Clock::now();
        needFrame = false;
        ++framesDrawn;
        screen.Show(scene);
        const bool last = settings.frames != 0 && framesDrawn >= settings.frames;
        if (snapshot)
            SaveShown(screen, SnapshotName());
        if (last && !settings.screenshotPath.empty())
            SaveShown(screen, settings.screenshotPath);
        const Clock::time_point shown = Clock::now();
        screen.Present();
        const Clock::time_point frameEnd = Clock::now();
        costs.ticks += SecondsBetween(frameStart, ticked);
        costs.frame += SecondsBetween(ticked, framed);
        costs.Add(screen.LastShowTimes());
        costs.present += SecondsBetween(shown, frameEnd);
        ++costs.frames;
        if (last)
            running = false;
        if (framesDrawn == settings.resizeAtFrame)
            screen.RequestSize(settings.resizeTo);

        ++framesSinceTitle;
        const double sinceTitle = SecondsBetween(titleShown, frameEnd);
        if (titleDirty || sinceTitle >= 0.5) {
            char title[160];
            std::snprintf(title, sizeof title, "Chaos Trails - %dx%d - %.1f frames/s - %u particles%s", size.width,
                          size.height, sinceTitle > 0.0 ? framesSinceTitle / sinceTitle : 0.0, scene.ParticleCount(),
                          paused ? " - paused" : "");
            screen.SetTitle(title);
            titleShown = frameEnd;
            framesSinceTitle = 0;
            titleDirty = false;
        }
        pacer.Wait(frameStart);
    }
    const double seconds = SecondsBetween(started, Clock::now());
    if (windowGone)
        std::printf("trails view: the window went away\n");
    std::printf("trails view: %u frames and %llu ticks in %.2f s (%.1f frames/s)\n", framesDrawn,
                static_cast<unsigned long long>(ticksRun), seconds, seconds > 0.0 ? framesDrawn / seconds : 0.0);
    if (settings.frames != 0)
        std::printf("trails view: %s\n", costs.Report().c_str());
    return 0;
}
