// The one schedule every host of the scene runs: ticks owed to real time or
// a fixed count, the catch-up cap, pausing, the last frame, the frame cap.
#include "tools/host_schedule.h"

#include <gtest/gtest.h>

namespace {

const double tick = 1.0 / 60.0;

HostSchedule RealTime(double framesPerSecond = 0.0)
{
    HostScheduleSettings settings;
    settings.framesPerSecond = framesPerSecond;
    return HostSchedule(settings);
}

TEST(HostSchedule, FixedCountRunsTheSameTicksBeforeEveryFrameWhateverTheTime)
{
    HostScheduleSettings settings;
    settings.ticksPerFrame = 7;
    HostSchedule schedule(settings);
    EXPECT_EQ(schedule.TicksBeforeFrame(100.0), 7u);
    EXPECT_EQ(schedule.TicksBeforeFrame(100.0), 7u);
    EXPECT_EQ(schedule.TicksBeforeFrame(500.0), 7u);
    EXPECT_EQ(schedule.TicksRun(), 21u);
}

TEST(HostSchedule, RealTimeGivesTheFirstFrameOneTickThenSixtyASecond)
{
    HostSchedule schedule = RealTime();
    EXPECT_EQ(schedule.TicksBeforeFrame(10.0), 1u);
    uint64_t ticks = 0;
    // 120 frames a second for 2 s: one tick every other frame.
    for (int frame = 1; frame <= 240; ++frame) {
        ticks += schedule.TicksBeforeFrame(10.0 + frame / 120.0);
    }
    EXPECT_GE(ticks, 119u);
    EXPECT_LE(ticks, 120u);
}

TEST(HostSchedule, ALateFrameCatchesUpAtMostTheCapAndDropsTheRest)
{
    HostSchedule schedule = RealTime();
    schedule.TicksBeforeFrame(0.0);
    EXPECT_EQ(schedule.TicksBeforeFrame(tick), 1u);
    // Two seconds late: 120 ticks owed, the cap is paid and the rest dropped.
    EXPECT_EQ(schedule.TicksBeforeFrame(2.0 + tick), HostSchedule::maxTicksPerFrame);
    EXPECT_EQ(schedule.TicksBeforeFrame(2.0 + 2.0 * tick + 1e-9), 1u);
}

TEST(HostSchedule, PausedTimeIsNeverOwedAndTheSceneGoesOnWhereItStood)
{
    HostSchedule schedule = RealTime();
    schedule.TicksBeforeFrame(0.0);
    schedule.TicksBeforeFrame(tick);
    schedule.Pause(1.5 * tick);  // half a tick of scene time before the pause
    EXPECT_TRUE(schedule.Paused());
    EXPECT_EQ(schedule.TicksBeforeFrame(30.0), 0u);
    schedule.Resume(60.0);
    // Half a tick before the pause and half a tick since the resume: one.
    EXPECT_EQ(schedule.TicksBeforeFrame(60.0 + 0.5 * tick + 1e-9), 1u);
    EXPECT_EQ(schedule.TicksRun(), 3u);
}

TEST(HostSchedule, PauseAndResumeTwiceCountOnce)
{
    HostSchedule schedule = RealTime();
    schedule.TicksBeforeFrame(0.0);
    schedule.Pause(10.0);
    schedule.Pause(20.0);
    EXPECT_DOUBLE_EQ(schedule.PausedSeconds(30.0), 20.0);
    schedule.Resume(30.0);
    schedule.Resume(35.0);
    EXPECT_FALSE(schedule.Paused());
    EXPECT_DOUBLE_EQ(schedule.PausedSeconds(40.0), 20.0);
    EXPECT_DOUBLE_EQ(schedule.PausedShare(40.0), 0.5);
}

TEST(HostSchedule, AFixedCountStandsStillWhilePaused)
{
    HostScheduleSettings settings;
    settings.ticksPerFrame = 3;
    HostSchedule schedule(settings);
    schedule.Pause(0.0);
    EXPECT_EQ(schedule.TicksBeforeFrame(1.0), 0u);
    schedule.Resume(2.0);
    EXPECT_EQ(schedule.TicksBeforeFrame(3.0), 3u);
}

TEST(HostSchedule, TheRunEndsWithItsLastFrame)
{
    HostScheduleSettings settings;
    settings.frames = 3;
    HostSchedule schedule(settings);
    EXPECT_FALSE(schedule.FrameDrawn());
    EXPECT_FALSE(schedule.FrameDrawn());
    EXPECT_FALSE(schedule.Finished());
    EXPECT_TRUE(schedule.FrameDrawn());
    EXPECT_TRUE(schedule.Finished());

    HostSchedule endless = RealTime();
    for (int frame = 0; frame < 1000; ++frame) {
        EXPECT_FALSE(endless.FrameDrawn());
    }
}

TEST(HostSchedule, TheFrameCapKeepsACadenceAndRestartsItAfterALateFrame)
{
    HostSchedule uncapped = RealTime();
    EXPECT_DOUBLE_EQ(uncapped.NextFrameDue(5.0), 5.0);

    HostSchedule capped = RealTime(30.0);
    const double interval = 1.0 / 30.0;
    EXPECT_DOUBLE_EQ(capped.NextFrameDue(0.0), interval);
    // A frame that started a little early or late keeps the cadence.
    EXPECT_DOUBLE_EQ(capped.NextFrameDue(interval + 0.001), 2.0 * interval);
    // One more than an interval late: the cadence starts again from it.
    EXPECT_DOUBLE_EQ(capped.NextFrameDue(10.0), 10.0 + interval);
}

}  // namespace
