// When a host of the scene ticks it and draws it: one schedule for every
// program that shows the scene (trails view in a window, embedded in another
// X window or as a Wayland wallpaper, trails-viewer.exe, ChaosTrails.scr).
//
// The scene runs at 60 ticks a second of real time, whatever the frame rate,
// or a fixed number of ticks before every frame (for pictures that must not
// depend on the machine's speed). A frame that comes late owes at most
// maxTicksPerFrame ticks: past that, the scene slows down instead of racing
// to catch up. While paused (by the user, or because nobody can see the
// scene), nothing is owed: the scene stands still and goes on from where it
// stood, it is never fast-forwarded.
//
// Time is passed in as seconds on any monotonic clock, so the schedule reads
// no clock and includes no OS header: it is the same code on Linux and in
// the Windows hosts, and tests drive it with made-up times.
#pragma once

#include <cstdint>

struct HostScheduleSettings {
    // 0: 60 ticks a second of real time. N: exactly N ticks before each frame.
    uint32_t ticksPerFrame = 0;
    // 0: until the host stops. N: the run ends with frame N.
    uint64_t frames = 0;
    // The most frames a second the host draws; 0: no cap (the display paces).
    double framesPerSecond = 0.0;
};

class HostSchedule {
public:
    static constexpr double ticksPerSecond = 60.0;
    static constexpr uint32_t maxTicksPerFrame = 8;

    explicit HostSchedule(const HostScheduleSettings& settings);

    // The ticks to run before the frame that starts at `now`. The first frame
    // of a real-time run gets one tick, so that it shows a moving scene.
    // While paused: none.
    uint32_t TicksBeforeFrame(double now);
    // Call after each frame drawn (paused or not). True when it was the last
    // frame of the run: the host takes its screenshot and stops.
    bool FrameDrawn();
    bool Finished() const;

    // Pausing stops the scene's clock; resuming starts it again from where it
    // stood. Both are idempotent.
    void Pause(double now);
    void Resume(double now);
    bool Paused() const { return paused_; }

    // After the frame that started at `frameStart`: when the next one is due
    // under the frame-rate cap (frameStart itself when there is no cap). A
    // frame more than one interval late starts the cadence again from itself
    // instead of bunching the frames that follow.
    double NextFrameDue(double frameStart);

    uint64_t TicksRun() const { return ticksRun_; }
    uint64_t FramesDrawn() const { return framesDrawn_; }
    // Seconds spent paused since `start` (the time the first frame asked).
    double PausedSeconds(double now) const;
    // The share of the run, 0 to 1, that the scene spent paused.
    double PausedShare(double now) const;

private:
    HostScheduleSettings settings_;
    bool started_ = false;
    double start_ = 0.0;
    double lastFrame_ = 0.0;
    double ticksOwed_ = 0.0;
    bool paused_ = false;
    double pausedSince_ = 0.0;
    double pausedTotal_ = 0.0;
    double nextFrameDue_ = 0.0;
    bool cadenceStarted_ = false;
    uint64_t ticksRun_ = 0;
    uint64_t framesDrawn_ = 0;
};
