// trails view in a window of its own under an Xvfb of the test's own: the
// OpenGL picture against the software device's, the software renderer, the
// way back to it when there is no OpenGL, and the command line.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>

#include "tests/desktop/pictures.h"
#include "tests/desktop/program.h"
#include "tests/desktop/xvfb_server.h"

namespace {

class ViewWindow : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server_.Ok()) << server_.Failure(); }
    XvfbServer server_{1024, 768};
};

// What `trails view` shows through OpenGL is the frame `trails render` has the
// software device rasterize, given the same seed and ticks.
TEST_F(ViewWindow, OpenGLShowsWhatTheSoftwareDeviceDraws)
{
    ScratchDirectory scratch;
    const Outcome view = RunProgram({TrailsProgram(), "view", "--size", "480x300", "--seed", "33", "--ticks-per-frame",
                                     "40", "--frames", "5", "--screenshot", scratch.At("gl.png")});
    ASSERT_EQ(0, view.exitStatus) << view.out << view.err;
    EXPECT_NE(std::string::npos, view.out.find("renderer opengl (llvmpipe")) << view.out;
    EXPECT_NE(std::string::npos, view.out.find("5 frames and 200 ticks")) << view.out;
    const Outcome render =
        RunProgram({TrailsProgram(), "render", "--size", "480x300", "--seed", "33", "--warmup-ticks", "0",
                    "--ticks-per-frame", "40", "--frames", "5", "--out", scratch.At("render.png")});
    ASSERT_EQ(0, render.exitStatus) << render.err;

    const Picture gl = ReadPng(scratch.At("gl.png"));
    const Picture software = ReadPng(scratch.At("render.png"));
    ASSERT_EQ(480, gl.width);
    ASSERT_EQ(300, gl.height);
    ASSERT_EQ(gl.pixels.size(), software.pixels.size());
    const Difference difference = Compare(gl.pixels, software.pixels.data(), agreementTolerance);
    EXPECT_TRUE(Agrees(difference)) << "mean " << difference.meanAbsolute << ", share beyond " << agreementTolerance
                                    << ": " << difference.shareBeyond;
    EXPECT_TRUE(LooksLikeTheScene(Look(gl, 0, 0, gl.width, gl.height)));
}

// The software renderer, and a resize: a new device of the new size on which
// SetupPlugin appends another 2000 particles.
TEST_F(ViewWindow, SoftwareRendererSetsTheSceneUpAgainOnANewSize)
{
    ScratchDirectory scratch;
    const Outcome outcome =
        RunProgram({TrailsProgram(), "view", "--renderer", "software", "--size", "256x160", "--seed", "12", "--frames",
                    "12", "--resize-at", "3:300x180", "--screenshot", scratch.At("software.png")});
    ASSERT_EQ(0, outcome.exitStatus) << outcome.out << outcome.err;
    EXPECT_NE(std::string::npos, outcome.out.find("renderer software")) << outcome.out;
    EXPECT_NE(std::string::npos, outcome.out.find("new device 300x180, seed 12, 4000 particles")) << outcome.out;
    const Picture picture = ReadPng(scratch.At("software.png"));
    ASSERT_EQ(300, picture.width);
    ASSERT_EQ(180, picture.height);
    EXPECT_TRUE(LooksLikeTheScene(Look(picture, 0, 0, picture.width, picture.height)));
}

// --pause-on-battery against a power-supply tree of the test's own: paused
// while the laptop is unplugged, going on once it is plugged in.
TEST_F(ViewWindow, PauseOnBatteryStopsTheSceneUntilMainsPowerIsBack)
{
    ScratchDirectory supplies;
    mkdir(supplies.At("AC").c_str(), 0755);
    mkdir(supplies.At("BAT0").c_str(), 0755);
    WriteWholeFile(supplies.At("AC/type"), "Mains\n");
    WriteWholeFile(supplies.At("AC/online"), "0\n");
    WriteWholeFile(supplies.At("BAT0/type"), "Battery\n");
    WriteWholeFile(supplies.At("BAT0/status"), "Discharging\n");
    Program view({TrailsProgram(), "view", "--size", "200x120", "--pause-on-battery", "--seed", "3"},
                 {"TRAILS_POWER_SUPPLY_DIR=" + supplies.Path()});
    ASSERT_TRUE(view.WaitForOutput("on battery: paused", 30.0)) << view.Out() << view.Err();
    const ViewStatus onBattery = AskViewStatus(view);
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    const ViewStatus later = AskViewStatus(view);
    EXPECT_EQ(onBattery.ticks, later.ticks) << later.line;
    EXPECT_EQ(onBattery.frames, later.frames) << later.line;

    WriteWholeFile(supplies.At("AC/online"), "1\n");
    WriteWholeFile(supplies.At("BAT0/status"), "Charging\n");
    ASSERT_TRUE(view.WaitForOutput("on mains power: running", 10.0)) << view.Out();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_GT(AskViewStatus(view).ticks, later.ticks);
    ExpectCleanEndOnSigterm(view);
}

// --fps caps the frames; the ticks stay at 60 a second whatever the rate.
TEST_F(ViewWindow, FpsCapsTheFramesAndLeavesTheTicksAtSixtyASecond)
{
    Program view({TrailsProgram(), "view", "--size", "160x100", "--fps", "10", "--seed", "3"});
    ASSERT_TRUE(view.WaitForOutput("renderer", 30.0)) << view.Out() << view.Err();
    const ViewStatus first = AskViewStatus(view);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const ViewStatus second = AskViewStatus(view);
    const long long frames = second.frames - first.frames;
    const long long ticks = second.ticks - first.ticks;
    EXPECT_GE(frames, 15) << second.line;
    EXPECT_LE(frames, 23) << second.line;
    // Two seconds of scene time; 8 ticks at most a frame keep a slow
    // machine from counting as a fault here.
    EXPECT_GE(ticks, 100) << second.line;
    EXPECT_LE(ticks, 140) << second.line;
    ExpectCleanEndOnSigterm(view);
}

// A display without the GLX extension, as some remote ones are.
TEST(ViewWithoutOpenGL, OneLineSaysSoAndTheSoftwareDeviceDraws)
{
    XvfbServer server(640, 480, false);
    ASSERT_TRUE(server.Ok()) << server.Failure();
    ScratchDirectory scratch;
    const Outcome outcome = RunProgram({TrailsProgram(), "view", "--size", "320x200", "--seed", "4", "--frames", "4",
                                        "--ticks-per-frame", "30", "--screenshot", scratch.At("fallback.png")});
    ASSERT_EQ(0, outcome.exitStatus) << outcome.out << outcome.err;
    EXPECT_EQ(1, Count(outcome.err, "\n")) << outcome.err;
    EXPECT_NE(std::string::npos, outcome.err.find("no OpenGL context")) << outcome.err;
    EXPECT_NE(std::string::npos, outcome.out.find("renderer software")) << outcome.out;
    const SceneLook look = Look(ReadPng(scratch.At("fallback.png")), 0, 0, 320, 200);
    EXPECT_TRUE(LooksLikeTheScene(look)) << look;
}

TEST(ViewCommandLine, EveryCommandAnswersHelpWithItsUsage)
{
    for (const char* command : {"dump", "render", "view"}) {
        const Outcome outcome = RunProgram({TrailsProgram(), command, "--help"});
        EXPECT_EQ(0, outcome.exitStatus) << command;
        EXPECT_EQ(0u, outcome.out.find(std::string("usage: trails ") + command)) << outcome.out;
        EXPECT_TRUE(outcome.err.empty()) << outcome.err;
    }
    // Help wins over whatever else is on the line; -h says the same.
    const Outcome mixed = RunProgram({TrailsProgram(), "render", "--bogus", "-h"});
    EXPECT_EQ(0, mixed.exitStatus);
    EXPECT_EQ(0u, mixed.out.find("usage: trails render")) << mixed.out;
    // Under the screen hack's name the program is `trails view`.
    const Outcome hack = RunProgram({ScreenHackProgram(), "-help"});
    EXPECT_EQ(0, hack.exitStatus);
    EXPECT_EQ(0u, hack.out.find("usage: trails view")) << hack.out;
}

TEST(ViewCommandLine, BadOptionsExitWithStatus2)
{
    const struct {
        std::vector<std::string> arguments;
        const char* complaint;
    } cases[] = {
        {{"--size", "320by200"}, "trails view: --size: expected WIDTHxHEIGHT"},
        {{"--screenshot", "/nonexistent/shot.jpg"}, "unknown extension '.jpg'"},
        {{"--renderer", "vulkan"}, "--renderer: expected gl or software"},
        {{"--window-id", "0"}, "--window-id: expected an X window id"},
        {{"--window-id", "0x"}, "--window-id: expected an X window id"},
        {{"-window-id", "12ab"}, "--window-id: expected an X window id"},
        {{"--window-id", "0x100000000"}, "--window-id: expected an X window id"},
        {{"--root", "--window-id", "7"}, "give one of --window-id, --root and --wallpaper"},
        {{"--wallpaper", "-root"}, "give one of --window-id, --root and --wallpaper"},
        {{"-root", "--size", "320x200"}, "keeps its own size"},
        {{"--wallpaper", "--resize-at", "3:300x180"}, "keeps its own size"},
        {{"--output", "DP-1"}, "--output names the Wayland output of a --wallpaper"},
        {{"--wallpaper", "--output", ""}, "--output: expected an output name"},
        {{"--fps", "0"}, "--fps: expected a whole number from 1"},
        {{"--ticks-per-frame", "0"}, "--ticks-per-frame: expected a whole number from 1"},
    };
    for (const auto& bad : cases) {
        std::vector<std::string> arguments = {TrailsProgram(), "view"};
        arguments.insert(arguments.end(), bad.arguments.begin(), bad.arguments.end());
        const Outcome outcome = RunProgram(arguments, {"DISPLAY=:9999"});
        EXPECT_EQ(2, outcome.exitStatus) << bad.complaint;
        EXPECT_NE(std::string::npos, outcome.err.find(bad.complaint)) << outcome.err;
    }
    // A window id that names no window on the display.
    XvfbServer server(320, 200);
    ASSERT_TRUE(server.Ok()) << server.Failure();
    const Outcome missing = RunProgram({TrailsProgram(), "view", "--window-id", "0x7654321"});
    EXPECT_EQ(2, missing.exitStatus);
    EXPECT_NE(std::string::npos, missing.err.find("there is no window 0x7654321")) << missing.err;
}

}  // namespace
