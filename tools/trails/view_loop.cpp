#include "tools/trails/view_loop.h"

#include <chrono>
#include <csignal>
#include <cstdio>

#include "tools/trails/power_supply.h"

namespace {

volatile std::sig_atomic_t stopSignal = 0;
volatile std::sig_atomic_t statusSignal = 0;
void OnStopSignal(int signal) { stopSignal = signal; }
void OnStatusSignal(int) { statusSignal = 1; }

void Catch(int signal, void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
}

}  // namespace

double Now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

void CatchViewSignals()
{
    stopSignal = 0;
    statusSignal = 0;
    Catch(SIGINT, OnStopSignal);
    Catch(SIGTERM, OnStopSignal);
    Catch(SIGUSR1, OnStatusSignal);
}

bool StopRequested() { return stopSignal != 0; }

bool TakeStatusRequest()
{
    if (statusSignal == 0)
        return false;
    statusSignal = 0;
    return true;
}

std::string FrameCosts::Report() const
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

HostScheduleSettings ViewScheduleSettings(const ViewSettings& settings, double displayRate)
{
    HostScheduleSettings schedule;
    schedule.ticksPerFrame = settings.ticksPerFrame;
    schedule.frames = settings.frames;
    schedule.framesPerSecond = settings.fps != 0 ? settings.fps : displayRate > 0.0 ? displayRate : 60.0;
    return schedule;
}

std::string RunSummary(const HostSchedule& schedule, double started, double now)
{
    const double seconds = now - started;
    char text[200];
    std::snprintf(text, sizeof text, "%llu frames and %llu ticks in %.2f s (%.1f frames/s), paused %.0f%% of the time",
                  static_cast<unsigned long long>(schedule.FramesDrawn()),
                  static_cast<unsigned long long>(schedule.TicksRun()), seconds,
                  seconds > 0.0 ? static_cast<double>(schedule.FramesDrawn()) / seconds : 0.0,
                  100.0 * schedule.PausedShare(now));
    return text;
}

bool BatteryWatch::Update(double now)
{
    if (!enabled_ || (checked_ && now < nextCheck_))
        return onBattery_;
    const bool onBattery = RunsOnBattery(PowerSupplyDirectory());
    if (onBattery != onBattery_ || !checked_) {
        std::printf("trails view: %s\n",
                    onBattery ? "on battery: paused until the machine is plugged in again" : "on mains power: running");
        std::fflush(stdout);
    }
    onBattery_ = onBattery;
    checked_ = true;
    nextCheck_ = now + checkInterval;
    return onBattery_;
}

double BatteryWatch::SecondsToNextCheck(double now) const
{
    if (!enabled_)
        return 3600.0;
    return nextCheck_ > now ? nextCheck_ - now : 0.0;
}
