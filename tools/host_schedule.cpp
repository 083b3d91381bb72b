#include "tools/host_schedule.h"

HostSchedule::HostSchedule(const HostScheduleSettings& settings) : settings_(settings) {}

uint32_t HostSchedule::TicksBeforeFrame(double now)
{
    if (!started_) {
        started_ = true;
        start_ = now;
        lastFrame_ = now;
    }
    if (paused_) {
        return 0;
    }
    uint32_t ticks = settings_.ticksPerFrame;
    if (ticks == 0) {
        ticksOwed_ += (now - lastFrame_) * ticksPerSecond;
        if (ticksRun_ == 0) {
            ticksOwed_ = 1.0;
        }
        if (ticksOwed_ > maxTicksPerFrame) {
            ticksOwed_ = maxTicksPerFrame;
        }
        ticks = ticksOwed_ > 0.0 ? static_cast<uint32_t>(ticksOwed_) : 0;
        ticksOwed_ -= ticks;
    }
    lastFrame_ = now;
    ticksRun_ += ticks;
    return ticks;
}

bool HostSchedule::FrameDrawn()
{
    ++framesDrawn_;
    return Finished();
}

bool HostSchedule::Finished() const { return settings_.frames != 0 && framesDrawn_ >= settings_.frames; }

void HostSchedule::Pause(double now)
{
    if (paused_) {
        return;
    }
    if (!started_) {
        started_ = true;
        start_ = now;
        lastFrame_ = now;
    }
    // The time since the last frame was real scene time: it is still owed.
    if (settings_.ticksPerFrame == 0 && ticksRun_ > 0) {
        ticksOwed_ += (now - lastFrame_) * ticksPerSecond;
    }
    paused_ = true;
    pausedSince_ = now;
}

void HostSchedule::Resume(double now)
{
    if (!paused_) {
        return;
    }
    paused_ = false;
    pausedTotal_ += now - pausedSince_;
    lastFrame_ = now;
}

double HostSchedule::NextFrameDue(double frameStart)
{
    if (settings_.framesPerSecond <= 0.0) {
        return frameStart;
    }
    const double interval = 1.0 / settings_.framesPerSecond;
    if (!cadenceStarted_ || frameStart - nextFrameDue_ > interval) {
        nextFrameDue_ = frameStart;
    }
    cadenceStarted_ = true;
    nextFrameDue_ += interval;
    return nextFrameDue_;
}

double HostSchedule::PausedSeconds(double now) const { return pausedTotal_ + (paused_ ? now - pausedSince_ : 0.0); }

double HostSchedule::PausedShare(double now) const
{
    const double run = now - start_;
    return started_ && run > 0.0 ? PausedSeconds(now) / run : 0.0;
}
