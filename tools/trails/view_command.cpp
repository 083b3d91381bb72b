// trails view: the scene live, hosted the way a wallpaper host hosts it, on
// the hosts' one schedule (tools/host_schedule.h): 60 ticks a second (or a
// fixed number a frame), a frame per display refresh (--fps caps it), and
// on a new window size a new device: FreePlugin, a device of the new size,
// SetupPlugin with the new rectangle (which appends another 2000 particles,
// as it does in a host). A wallpaper (--wallpaper) keeps its one scene
// instead and only draws it for the new rectangle; under Wayland it runs in
// wallpaper_run.cpp.
//
// Nobody looking costs nothing: while the window is covered or unmapped (or
// the machine runs on battery, with --pause-on-battery) the schedule is
// paused, no tick and no frame runs, and the loop sleeps until X says the
// window can be seen again.
//
// With OpenGL the device only keeps what the frame set (it rasterizes
// nothing) and the GL presenter draws it again; otherwise the software device
// rasterizes each frame and SDL shows its back buffer.
#include <SDL.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <stdexcept>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "tools/host_schedule.h"
#include "tools/trails/command_line.h"
#include "tools/trails/hosted_scene.h"
#include "tools/trails/png_writer.h"
#include "tools/trails/view_loop.h"
#include "tools/trails/view_options.h"
#include "tools/trails/view_screen.h"
#include "tools/trails/wallpaper_run.h"

namespace {

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

void SaveShown(ViewScreen& screen, const std::string& path)
{
    FrameSize shot;
    const std::vector<uint32_t> pixels = screen.ReadPixels(shot);
    WritePng(path, shot.width, shot.height, pixels.data(), shot.width);
    std::printf("saved %s\n", path.c_str());
    std::fflush(stdout);
}

// Sleeps until `due` (seconds on the steady clock) when that is more than a
// millisecond away, so that a present that waits for the display never adds
// a sleep of its own.
void SleepUntil(double due)
{
    const double ahead = due - Now();
    if (ahead > 0.001)
        SDL_Delay(static_cast<Uint32>(ahead * 1000.0));
}

// What the user asked for between two frames.
struct ViewEvents {
    bool quit = false;
    bool togglePause = false;
    bool exposed = false;
    bool snapshot = false;
    bool sizeChanged = false;
};

// One run of the view: the scene, the screen and the schedule, and the loop
// that ties them together.
class ViewRun {
public:
    ViewRun(const ViewSettings& settings, ViewScreen& screen, const FrameSize& size, bool oneScene)
        : settings_(settings),
          screen_(screen),
          size_(size),
          oneScene_(oneScene),
          scene_(size.width, size.height),
          schedule_(ViewScheduleSettings(settings, screen.RefreshRate())),
          battery_(settings.pauseOnBattery),
          rasterize_(screen.NeedsRasterizedFrames())
    {
        seed_ = SeedNow();
        scene_.Setup(seed_);
    }

    uint32_t Seed() const { return seed_; }
    uint32_t ParticleCount() const { return scene_.ParticleCount(); }

    // Until Esc, the window closing, a stop signal or the last frame.
    // False when the window we draw into went away.
    bool Run()
    {
        started_ = Now();
        titleShown_ = started_;
        while (!StopRequested()) {
            if (TakeStatusRequest())
                PrintStatus("now");
            ViewEvents events = ReadEvents();
            if (events.quit || StopRequested())
                break;
            FrameSize wanted = size_;
            if (!WantedSize(events, wanted))
                return false;
            if (events.togglePause) {
                userPaused_ = !userPaused_;
                titleDirty_ = true;
            }
            UpdatePause(Now());
            FollowSize(wanted);
            if (schedule_.Paused() && (!needFrame_ || hidden_)) {
                ShowPaused(events);
                continue;
            }
            if (DrawFrame(events.snapshot))
                break;
        }
        return true;
    }

    // "now: ..." on SIGUSR1, "at the end: ..." when the run ends.
    void PrintStatus(const char* when) const
    {
        std::printf("trails view: %s: %s\n", when, RunSummary(schedule_, started_, Now()).c_str());
        std::fflush(stdout);
    }

    void PrintReport() const
    {
        PrintStatus("at the end");
        if (settings_.frames != 0)
            std::printf("trails view: %s\n", costs_.Report().c_str());
    }

private:
    // Without --seed every set-up takes the calendar time, as SetupPlugin does.
    uint32_t SeedNow() const
    {
        return settings_.seedGiven ? settings_.seed : static_cast<uint32_t>(std::time(nullptr));
    }

    // While paused nothing moves: sleeps until something happens. While
    // hidden that is X's word that the window can be seen again (or the next
    // look at the battery); SDL's events wait until then.
    ViewEvents ReadEvents()
    {
        ViewEvents events;
        SDL_Event event;
        const bool idle = schedule_.Paused() && (!needFrame_ || hidden_);
        bool haveEvent = false;
        if (idle && hidden_) {
            const double battery = battery_.SecondsToNextCheck(Now());
            screen_.WaitWhileHidden(static_cast<int>(std::min(250.0, battery * 1000.0 + 1.0)));
            haveEvent = SDL_PollEvent(&event) != 0;
        } else {
            haveEvent = idle ? SDL_WaitEventTimeout(&event, 250) != 0 : SDL_PollEvent(&event) != 0;
        }
        while (haveEvent) {
            if (event.type == SDL_QUIT) {
                events.quit = true;
            } else if (event.type == SDL_KEYDOWN && event.key.repeat == 0) {
                const SDL_Keycode key = event.key.keysym.sym;
                events.quit |= key == SDLK_ESCAPE;
                events.togglePause ^= key == SDLK_SPACE;
                events.snapshot |= key == SDLK_s;
            } else if (event.type == SDL_WINDOWEVENT) {
                events.sizeChanged |= event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED;
                events.exposed |= event.window.event == SDL_WINDOWEVENT_EXPOSED;
            }
            haveEvent = SDL_PollEvent(&event) != 0;
        }
        return events;
    }

    // Someone else's window: its size every frame (a round trip to X), which
    // also tells, before anything is drawn into it, that it has gone.
    bool WantedSize(const ViewEvents& events, FrameSize& wanted)
    {
        if (screen_.Embedded())
            return screen_.CurrentSize(wanted);
        if (events.sizeChanged)
            screen_.CurrentSize(wanted);
        return true;
    }

    // The user's pause, the window out of sight, the battery: any of them
    // stops the scene's clock; it goes on from where it stood.
    void UpdatePause(double now)
    {
        const bool hidden = !screen_.Visible();
        if (hidden != hidden_) {
            std::printf("trails view: %s\n", hidden ? "the window cannot be seen (covered or unmapped): paused"
                                                    : "the window can be seen again: running");
            std::fflush(stdout);
            hidden_ = hidden;
            titleDirty_ = true;
        }
        const bool onBattery = battery_.OnBattery();
        if (battery_.Update(now) != onBattery)
            titleDirty_ = true;
        if (userPaused_ || hidden_ || battery_.OnBattery()) {
            schedule_.Pause(now);
        } else {
            schedule_.Resume(now);
        }
    }

    // A drag sends many sizes; only the last one gets a device. A new device
    // means a new set-up, as in a host. A wallpaper keeps its scene and only
    // draws its frames for the new rectangle.
    void FollowSize(const FrameSize& wanted)
    {
        if ((wanted.width == size_.width && wanted.height == size_.height) || wanted.width < 1 || wanted.height < 1)
            return;
        size_ = wanted;
        if (oneScene_) {
            std::printf("trails view: frames for %dx%d now, the same scene (%u particles)\n", size_.width, size_.height,
                        scene_.ParticleCount());
        } else {
            seed_ = SeedNow();
            scene_.Recreate(size_.width, size_.height, seed_);
            std::printf("trails view: new device %dx%d, seed %u, %u particles\n", size_.width, size_.height, seed_,
                        scene_.ParticleCount());
        }
        std::fflush(stdout);
        needFrame_ = true;
        titleDirty_ = true;
    }

    // The device still holds the last frame: shown again when the window
    // needs it or a snapshot was asked for.
    void ShowPaused(const ViewEvents& events)
    {
        if ((events.exposed || events.snapshot) && !hidden_) {
            screen_.Show(scene_, size_);
            if (events.snapshot)
                SaveShown(screen_, SnapshotName());
            screen_.Present();
        }
        if (titleDirty_) {
            screen_.SetTitle(userPaused_            ? "Chaos Trails - paused (Space resumes)"
                             : battery_.OnBattery() ? "Chaos Trails - paused on battery"
                                                    : "Chaos Trails - paused while hidden");
            titleDirty_ = false;
        }
    }

    // The ticks the schedule owes, one frame, shown and presented. True when
    // it was the last frame of the run.
    bool DrawFrame(bool snapshot)
    {
        const double frameStart = Now();
        const uint32_t ticks = schedule_.TicksBeforeFrame(frameStart);
        for (uint32_t tick = 0; tick < ticks; ++tick)
            scene_.Tick();
        costs_.tickCount += ticks;
        const double ticked = Now();
        const ScreenRect rect{0, 0, size_.width, size_.height};
        scene_.Frame(rect, rasterize_);
        const double framed = Now();
        needFrame_ = false;
        const bool last = schedule_.FrameDrawn();
        screen_.Show(scene_, size_);
        if (snapshot)
            SaveShown(screen_, SnapshotName());
        if (last && !settings_.screenshotPath.empty())
            SaveShown(screen_, settings_.screenshotPath);
        const double shown = Now();
        screen_.Present();
        const double frameEnd = Now();
        costs_.ticks += ticked - frameStart;
        costs_.frame += framed - ticked;
        costs_.Add(screen_.LastShowTimes());
        costs_.present += frameEnd - shown;
        ++costs_.frames;
        if (schedule_.FramesDrawn() == settings_.resizeAtFrame)
            screen_.RequestSize(settings_.resizeTo);
        ++framesSinceTitle_;
        UpdateTitle(frameEnd);
        if (!last)
            SleepUntil(schedule_.NextFrameDue(frameStart));
        return last;
    }

    void UpdateTitle(double now)
    {
        const double sinceTitle = now - titleShown_;
        if (!titleDirty_ && sinceTitle < 0.5)
            return;
        char title[200];
        std::snprintf(title, sizeof title,
                      "Chaos Trails - %dx%d - %.1f frames/s - %u particles - paused %.0f%% of the time", size_.width,
                      size_.height, sinceTitle > 0.0 ? framesSinceTitle_ / sinceTitle : 0.0, scene_.ParticleCount(),
                      100.0 * schedule_.PausedShare(now));
        screen_.SetTitle(title);
        titleShown_ = now;
        framesSinceTitle_ = 0;
        titleDirty_ = false;
    }

    const ViewSettings& settings_;
    ViewScreen& screen_;
    FrameSize size_;
    const bool oneScene_;
    HostedScene scene_;
    HostSchedule schedule_;
    BatteryWatch battery_;
    const bool rasterize_;
    uint32_t seed_ = 0;
    FrameCosts costs_;
    double started_ = 0.0;
    double titleShown_ = 0.0;
    int framesSinceTitle_ = 0;
    bool needFrame_ = true;  // a frame is due even while paused (new device)
    bool titleDirty_ = true;
    bool userPaused_ = false;  // Space
    bool hidden_ = false;      // covered or unmapped
};

}  // namespace

int RunViewCommand(int argc, char** argv)
{
    const ViewSettings settings = ParseViewOptions(argc, argv);
    if (!settings.screenshotPath.empty())
        CheckOutputWritable(settings.screenshotPath);
    const ViewTarget target = ChooseViewTarget(settings, std::getenv("XSCREENSAVER_WINDOW"),
                                               std::getenv("WAYLAND_DISPLAY"), std::getenv("DISPLAY"));
    if (target.kind == ViewTarget::Kind::WaylandWallpaper)
        return RunWaylandWallpaper(settings);

    CatchViewSignals();
    ViewScreen screen(settings.size, target, settings.renderer);
    FrameSize size;
    if (!screen.CurrentSize(size))
        throw std::runtime_error("the window went away");
    ViewRun run(settings, screen, size, target.oneScene);
    std::printf("trails view: seed %u, %dx%d, %u particles, renderer %s; Space pauses, S saves a PNG, Esc quits\n",
                run.Seed(), size.width, size.height, run.ParticleCount(), screen.Description().c_str());
    std::fflush(stdout);
    if (!run.Run())
        std::printf("trails view: the window went away\n");
    run.PrintReport();
    return 0;
}
