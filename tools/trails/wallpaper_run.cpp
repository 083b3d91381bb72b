// The Wayland wallpaper's loop on the hosts' one schedule: one scene for the
// whole run, ticked and drawn once per frame (RenderSceneOnScreen fades the
// grid and takes random draws, so a second call per frame would change the
// scene), then shown on every output that asked for a frame. Outputs coming,
// going or changing size only change the rectangle the frames are made for:
// SetupPlugin runs once, and the particles stay 2000.
//
// Nothing is drawn for an output nobody can see; when no output can be seen
// (or the machine runs on battery with --pause-on-battery) the schedule is
// paused, no tick runs, and the process sleeps in poll() until the
// compositor asks for a frame again.
#include "tools/trails/wallpaper_run.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "tools/host_schedule.h"
#include "tools/trails/frame_capture.h"
#include "tools/trails/hosted_scene.h"
#include "tools/trails/view_loop.h"
#include "tools/trails/wayland_wallpaper.h"

namespace {

// A surface that has not been asked for a frame this long after its last
// one is taken as hidden. Displays refresh at 24 Hz or more, so a visible
// surface is asked within about 42 ms; the margin keeps a compositor that is
// busy for a moment (its first frames, a slow software renderer) from
// pausing the scene.
const double hiddenAfter = 0.5;
// The scene's first rectangle when no output has a size yet.
const FrameSize fallbackSize{1920, 1080};

class WallpaperRun {
public:
    WallpaperRun(const ViewSettings& settings, WaylandWallpaper& wallpaper, const FrameSize& size)
        : settings_(settings),
          wallpaper_(wallpaper),
          rect_(size),
          scene_(size.width, size.height),
          schedule_(ViewScheduleSettings(settings, wallpaper.RefreshRate())),
          battery_(settings.pauseOnBattery)
    {
        seed_ = settings.seedGiven ? settings.seed : static_cast<uint32_t>(std::time(nullptr));
        scene_.Setup(seed_);
    }

    uint32_t Seed() const { return seed_; }
    uint32_t ParticleCount() const { return scene_.ParticleCount(); }

    // Until a stop signal, the last of --frames, or the compositor leaving
    // (then false).
    bool Run()
    {
        started_ = Now();
        double nextDue = started_;
        while (!StopRequested()) {
            if (TakeStatusRequest())
                PrintStatus("now");
            const double now = Now();
            wallpaper_.NoticeHidden(now, hiddenAfter);
            battery_.Update(now);
            FollowSize();
            UpdatePause(now);
            if (!schedule_.Paused() && wallpaper_.AnyReady() && now >= nextDue) {
                if (DrawFrame(now))
                    return true;
                nextDue = schedule_.NextFrameDue(now);
                continue;
            }
            if (!wallpaper_.Dispatch(WaitSeconds(now, nextDue)))
                return false;
        }
        return true;
    }

    void PrintStatus(const char* when) const
    {
        std::printf("trails view: %s: %s; %s\n", when, RunSummary(schedule_, started_, Now()).c_str(),
                    wallpaper_.OutputReport().c_str());
        std::fflush(stdout);
    }

    void PrintReport() const
    {
        PrintStatus("at the end");
        if (settings_.frames != 0)
            std::printf("trails view: %s\n", costs_.Report().c_str());
    }

private:
    // The frames are made for the largest output that can be seen; a new
    // size keeps the scene.
    void FollowSize()
    {
        const FrameSize largest = wallpaper_.LargestVisible();
        if (largest.width < 1 || largest.height < 1 || (largest.width == rect_.width && largest.height == rect_.height))
            return;
        rect_ = largest;
        rectGiven_.left = rectGiven_.top = 0;
        rectGiven_.right = rect_.width;
        rectGiven_.bottom = rect_.height;
        std::printf("trails view: frames for %dx%d now, the same scene (%u particles)\n", rect_.width, rect_.height,
                    scene_.ParticleCount());
        std::fflush(stdout);
    }

    void UpdatePause(double now)
    {
        if (wallpaper_.AnyVisible() && !battery_.OnBattery()) {
            schedule_.Resume(now);
        } else {
            schedule_.Pause(now);
        }
    }

    // Until the next frame is due, an output would count as hidden, or the
    // battery is looked at again; at most half a second, so that a stop
    // signal that came just before poll() is seen soon all the same.
    double WaitSeconds(double now, double nextDue) const
    {
        double wait = 0.5;
        if (!schedule_.Paused() && wallpaper_.AnyReady())
            wait = std::min(wait, nextDue - now);
        wait = std::min(wait, wallpaper_.SecondsToNextHidden(now, hiddenAfter));
        return std::min(wait, battery_.SecondsToNextCheck(now));
    }

    // The ticks owed, one frame, shown on every output that wants one. True
    // when it was the last frame of the run.
    bool DrawFrame(double frameStart)
    {
        const uint32_t ticks = schedule_.TicksBeforeFrame(frameStart);
        for (uint32_t tick = 0; tick < ticks; ++tick)
            scene_.Tick();
        costs_.tickCount += ticks;
        const double ticked = Now();
        scene_.Frame(rectGiven_, false);
        const double framed = Now();
        CaptureFrame(scene_.Device(), frame_);
        ShowTimes shown;
        shown.capture = Now() - framed;
        double swap = 0.0;
        const ShowTimes drawn =
            wallpaper_.Present(frame_, static_cast<double>(rect_.width) / rect_.height, frameStart, swap);
        shown.upload = drawn.upload;
        shown.draw = drawn.draw;
        costs_.ticks += ticked - frameStart;
        costs_.frame += framed - ticked;
        costs_.Add(shown);
        costs_.present += swap;
        ++costs_.frames;
        return schedule_.FrameDrawn();
    }

    const ViewSettings& settings_;
    WaylandWallpaper& wallpaper_;
    FrameSize rect_;
    ScreenRect rectGiven_{0, 0, rect_.width, rect_.height};
    HostedScene scene_;
    HostSchedule schedule_;
    BatteryWatch battery_;
    CapturedFrame frame_;
    uint32_t seed_ = 0;
    FrameCosts costs_;
    double started_ = 0.0;
};

}  // namespace

int RunWaylandWallpaper(const ViewSettings& settings)
{
    if (!settings.screenshotPath.empty())
        throw UsageError("--screenshot: not on a Wayland wallpaper (a screenshot tool such as grim takes one)");
    CatchViewSignals();
    WaylandWallpaper wallpaper(settings.outputName);
    FrameSize size = wallpaper.LargestVisible();
    if (size.width < 1 || size.height < 1)
        size = fallbackSize;
    WallpaperRun run(settings, wallpaper, size);
    std::printf("trails view: seed %u, %dx%d, %u particles, renderer %s\n", run.Seed(), size.width, size.height,
                run.ParticleCount(), wallpaper.Description().c_str());
    std::fflush(stdout);
    const bool ended = run.Run();
    if (!ended)
        std::printf("trails view: the Wayland compositor went away\n");
    run.PrintReport();
    return ended ? 0 : 1;
}
