// What the loops of `trails view` share, whatever they draw into (SDL's
// window, an existing X window, the Wayland background): the clock, the
// signals that end the run or ask where it stands, where a frame's time
// went, the battery, and the report at the end.
#pragma once

#include <cstdint>
#include <string>

#include "tools/host_schedule.h"
#include "tools/trails/view_options.h"
#include "tools/trails/gl_presenter.h"

// Seconds on the steady clock, as the schedule takes them.
double Now();

// SIGTERM (XScreenSaver ends a hack with it, a session its wallpaper) and
// SIGINT end the loop, which then frees the scene and exits with 0; SIGUSR1
// asks for a line on where the run stands. Installed before SDL starts, so
// SDL leaves them alone, and without SA_RESTART, so that a wait in poll()
// returns to the loop at once.
void CatchViewSignals();
bool StopRequested();
// True once for every SIGUSR1 since the last call.
bool TakeStatusRequest();

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
    std::string Report() const;
};

// The view's options as the schedule takes them: --ticks-per-frame, --frames,
// and --fps, else the display's rate (displayRate, 0 when unknown), else 60.
HostScheduleSettings ViewScheduleSettings(const ViewSettings& settings, double displayRate);

// "N frames and M ticks in S s (F frames/s), paused P% of the time".
std::string RunSummary(const HostSchedule& schedule, double started, double now);

// --pause-on-battery: looks at the power supplies every few seconds (a
// change of supply needs no quicker answer) and says when it changes.
class BatteryWatch {
public:
    static constexpr double checkInterval = 2.0;

    explicit BatteryWatch(bool enabled) : enabled_(enabled) {}
    // Reads the supplies when a check is due; true when on battery.
    bool Update(double now);
    bool OnBattery() const { return onBattery_; }
    // Seconds until the next check is due (a long time when disabled).
    double SecondsToNextCheck(double now) const;

private:
    bool enabled_;
    bool checked_ = false;
    bool onBattery_ = false;
    double nextCheck_ = 0.0;
};
