// trails render, run as the program it is: command-line errors, output
// written whole or not at all, the picture a still holds and the frames of a
// video (read back with ffprobe). trails view is tested in tests/desktop,
// whose helpers for programs, scratch files and pictures this uses.
//
// The still is compared with the same host schedule run here, in process,
// through the entry points on a software device that rasterizes every frame,
// and the device is then used to project the quad and the particles' glow
// onto the screen, so that the picture's black border and glow are checked
// where they must be.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "platform/software_device.h"
#include "plugin/entry_points.h"
#include "plugin/plugin_state.h"
#include "tests/desktop/pictures.h"
#include "tests/desktop/program.h"

namespace {

std::vector<std::string> RenderArguments(std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), {TrailsProgram(), "render"});
    return arguments;
}

// The program's own leaks fail it under the sanitizer build (Program turns
// the reports off for the desktop's libraries; render uses none of them).
Outcome Render(const std::vector<std::string>& arguments, std::vector<std::string> environment = {})
{
    environment.push_back("ASAN_OPTIONS=detect_leaks=1");
    return RunProgram(RenderArguments(arguments), environment);
}

// Exit status 2 and one line on stderr, saying `complaint`.
void ExpectRefusal(const Outcome& outcome, const std::string& complaint)
{
    EXPECT_EQ(2, outcome.exitStatus) << complaint;
    EXPECT_EQ(1, Count(outcome.err, "\n")) << outcome.err;
    EXPECT_EQ(0u, outcome.err.rfind("trails render: ", 0)) << outcome.err;
    EXPECT_NE(std::string::npos, outcome.err.find(complaint)) << outcome.err;
}

// The documented schedule of trails render, here through the entry points:
// warm-up ticks with a frame after every ticksPerFrame-th, then per frame
// ticksPerFrame ticks and a frame. Rasterizing every frame shows that the
// frames nobody sees change nothing on screen; otherwise only the last one is.
struct HostRun {
    uint32_t seed;
    int width, height;
    uint32_t warmupTicks, ticksPerFrame, frames;

    std::vector<std::string> Arguments(const std::string& out) const
    {
        return {"--out",
                out,
                "--size",
                std::to_string(width) + "x" + std::to_string(height),
                "--seed",
                std::to_string(seed),
                "--warmup-ticks",
                std::to_string(warmupTicks),
                "--ticks-per-frame",
                std::to_string(ticksPerFrame),
                "--frames",
                std::to_string(frames)};
    }
};

class InProcessScene {
public:
    InProcessScene(const HostRun& run, bool rasterizeEveryFrame) : run_(run), device_(run.width, run.height)
    {
        ResetSceneToLoadValues(scene);
        device_.SetRecording(false);
        SetupScene(&device_, 0, 0, run.width, run.height, run.seed);
        device_.SkipRasterizing(!rasterizeEveryFrame);
        for (uint32_t tick = 1; tick <= run.warmupTicks; ++tick) {
            UpdateScene();
            if (tick % run.ticksPerFrame == 0)
                Frame();
        }
        for (uint32_t frame = 1; frame <= run.frames; ++frame) {
            for (uint32_t tick = 0; tick < run.ticksPerFrame; ++tick)
                UpdateScene();
            if (frame == run.frames)
                device_.SkipRasterizing(false);
            Frame();
        }
        picture_.width = run.width;
        picture_.height = run.height;
        for (int y = 0; y < run.height; ++y) {
            for (int x = 0; x < run.width; ++x)
                picture_.pixels.push_back(0xFF000000u | device_.Pixel(x, y));  // a PNG read back is opaque
        }
    }
    ~InProcessScene()
    {
        FreePlugin(0, 0, 0);
        ResetSceneToLoadValues(scene);
    }

    const Picture& Result() const { return picture_; }

    // Draws a glow-sized texture through the last frame's quad, transforms
    // and render state: which screen pixels show the texels `marked` picks.
    template <typename Marked>
    std::vector<bool> Project(Marked marked)
    {
        IDirect3DTexture9* texture = nullptr;
        device_.CreateTexture(GlowGridWidth, GlowGridHeight, 1, D3DUSAGE_DYNAMIC, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT,
                              &texture, nullptr);
        SoftwareTexture* texels = device_.TextureById(SoftwareDevice::IdOf(texture));
        for (int y = 0; y < GlowGridHeight; ++y) {
            for (int x = 0; x < GlowGridWidth; ++x)
                texels->SetTexel(x, y, marked(x, y) ? 0xFFFFFFFFu : 0u);
        }
        device_.BeginScene();
        device_.Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
        device_.SetTexture(0, texture);
        device_.DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
        device_.EndScene();
        device_.SetTexture(0, nullptr);
        texture->Release();
        std::vector<bool> mask;
        for (int y = 0; y < run_.height; ++y) {
            for (int x = 0; x < run_.width; ++x)
                mask.push_back(((device_.Pixel(x, y) >> 16) & 0xFF) >= 128);
        }
        return mask;
    }

private:
    void Frame() { RenderSceneOnScreen(0, &device_, 0, 0, run_.width, run_.height, 0, 0, 0, 0, 0); }

    HostRun run_;
    SoftwareDevice device_;
    Picture picture_;
};

// ---------------------------------------------------------------------------
// Command-line errors

TEST(RenderCommandLine, BadOptionsExitWithStatus2AndOneLineNamingTheProblem)
{
    const struct {
        std::vector<std::string> arguments;  // OUT/ stands for the scratch directory
        const char* complaint;
    } cases[] = {
        {{"--size", "64x40"}, "--out FILE is required"},
        {{"--out", "OUT/a.gif"}, "unknown extension '.gif'"},
        {{"--out", "OUT/picture"}, "has no extension"},
        {{"--out", "OUT/a.png", "--size", "64"}, "--size: expected WIDTHxHEIGHT"},
        {{"--out", "OUT/a.png", "--size", "64x4"}, "--size: each side must be 16 to 8192"},
        {{"--out", "OUT/a.png", "--size", "9000x400"}, "--size: each side must be 16 to 8192"},
        {{"--out", "OUT/a.mp4", "--size", "65x40"}, "even width and height"},
        {{"--out", "OUT/a.png", "--frames", "0"}, "--frames: expected a whole number from 1"},
        {{"--out", "OUT/a.png", "--frames", "2", "--seconds", "1"}, "--frames or --seconds, not both"},
        {{"--out", "OUT/a.png", "--seconds", "-2"}, "--seconds: expected a positive number"},
        {{"--out", "OUT/a.mp4", "--seconds", "0.001"}, "shorter than one frame"},
        {{"--out", "OUT/a.png", "--fps", "0"}, "--fps: expected a whole number from 1 to 240"},
        {{"--out", "OUT/a.png", "--ticks-per-frame", "x"}, "--ticks-per-frame: expected a whole number"},
        {{"--out", "OUT/a.png", "--warmup-ticks", "-1"}, "--warmup-ticks: expected a whole number"},
        {{"--out", "OUT/a.png", "--seed", "4294967296"}, "--seed: not an unsigned 32-bit number"},
        {{"--out", "OUT/a.png", "--colour", "red"}, "unknown option '--colour'"},
        {{"--out", "OUT/a.png", "--frames"}, "--frames: missing value"},
    };
    for (const auto& bad : cases) {
        ScratchDirectory scratch;
        std::vector<std::string> arguments;
        for (const std::string& argument : bad.arguments)
            arguments.push_back(argument.compare(0, 4, "OUT/") == 0 ? scratch.At(argument.substr(4)) : argument);
        ExpectRefusal(Render(arguments), bad.complaint);
        EXPECT_TRUE(scratch.Entries().empty()) << bad.complaint;
    }
}

// ---------------------------------------------------------------------------
// Output written whole or not at all

// A warm-up that would take days: these runs must fail before it starts.
const char* const endlessWarmup = "100000000";

TEST(RenderOutput, UnwritablePathOrNoFfmpegFailsBeforeRenderingAndLeavesNothing)
{
    ScratchDirectory scratch;
    WriteWholeFile(scratch.At("plain-file"), "x");
    mkdir(scratch.At("folder.png").c_str(), 0755);
    const struct {
        std::string out;
        std::string complaint;
    } cases[] = {
        {"missing/a.png", "No such file or directory"},
        {"plain-file/a.mp4", "Not a directory"},
        {"folder.png", "is a directory"},
        {"clip.webm", "ffmpeg not found on PATH"},  // with a PATH that holds no ffmpeg
    };
    for (const auto& bad : cases) {
        const std::string out = scratch.At(bad.out);
        const bool video = bad.out == "clip.webm";
        const Outcome outcome = Render(
            {"--out", out, "--size", "64x40", "--warmup-ticks", endlessWarmup},
            video ? std::vector<std::string>{"PATH=" + scratch.At("no-programs-here")} : std::vector<std::string>{});
        ExpectRefusal(outcome, bad.complaint);
        EXPECT_TRUE(video || outcome.err.find("cannot write '" + out + "'") != std::string::npos) << outcome.err;
    }
    EXPECT_EQ((std::vector<std::string>{"folder.png", "plain-file"}), scratch.Entries());
}

// An ffmpeg that takes some frames and then fails as a real one would on a
// full disk: the old file stays as it was and no temporary file is left.
TEST(RenderOutput, FailingEncoderKeepsTheOldFileAndLeavesNoTemporary)
{
    ScratchDirectory scratch, bin;
    WriteWholeFile(bin.At("ffmpeg"),
                   "#!/bin/sh\n"
                   "for last; do :; done\n"
                   "head -c 20000 > \"$last\"\n"
                   "echo 'Error: No space left on device' >&2\n"
                   "exit 1\n");
    chmod(bin.At("ffmpeg").c_str(), 0755);
    const std::string out = scratch.At("clip.mp4");
    WriteWholeFile(out, "the old clip");
    const Outcome outcome = Render({"--out", out, "--size", "64x40", "--warmup-ticks", "0", "--frames", "3"},
                                   {"PATH=" + bin.Path() + ":/usr/bin:/bin"});
    ExpectRefusal(outcome, "ffmpeg failed (exit status 1): Error: No space left on device");
    EXPECT_EQ("the old clip", ReadWholeFile(out));
    EXPECT_EQ(std::vector<std::string>{"clip.mp4"}, scratch.Entries());
}

TEST(RenderOutput, StoppedVideoRenderRemovesItsTemporaryFile)
{
    if (!OnPath("ffmpeg"))
        GTEST_SKIP() << "ffmpeg is not installed";
    ScratchDirectory scratch;
    Program render(RenderArguments({"--out", scratch.At("clip.mp4"), "--size", "64x40", "--warmup-ticks", "0",
                                    "--frames", "1000000"}),
                   {"ASAN_OPTIONS=detect_leaks=1"});
    // ffmpeg writes into the temporary file beside the target once frames flow.
    bool temporarySeen = false;
    for (int wait = 0; wait < 600 && !temporarySeen; ++wait) {
        for (const std::string& name : scratch.Entries())
            temporarySeen = temporarySeen || name.find(".tmp") != std::string::npos;
        if (!temporarySeen)
            usleep(100000);
    }
    render.Signal(SIGTERM);
    ASSERT_TRUE(render.WaitForExit(60.0));
    EXPECT_TRUE(temporarySeen);
    EXPECT_EQ(128 + SIGTERM, render.ExitStatus());
    EXPECT_NE(std::string::npos, render.Err().find("interrupted")) << render.Err();
    EXPECT_TRUE(scratch.Entries().empty());
}

// ---------------------------------------------------------------------------
// Stills

// The last frame of the host schedule, at the requested size: red trails
// and glow over black. The seed ends with the field of view wide, leaving a
// border round the quad (with others it can narrow until the quad fills the
// screen).
TEST(RenderedStill, IsTheLastFrameOfTheHostScheduleWithRedTrailsAndGlowOverBlack)
{
    ScratchDirectory scratch;
    const HostRun run = {20260101u, 640, 400, 150, 2, 3};
    const Outcome outcome = Render(run.Arguments(scratch.At("still.png")));
    ASSERT_EQ(0, outcome.exitStatus) << outcome.err;
    EXPECT_EQ(1, Count(outcome.err, "\n")) << outcome.err;
    EXPECT_NE(std::string::npos, outcome.err.find("seed 20260101")) << outcome.err;
    EXPECT_EQ(std::vector<std::string>{"still.png"}, scratch.Entries());
    const Picture picture = ReadPng(scratch.At("still.png"));
    ASSERT_EQ(640, picture.width);
    ASSERT_EQ(400, picture.height);

    InProcessScene reference(run, true);
    ASSERT_TRUE(picture.pixels == reference.Result().pixels);
    const std::vector<bool> quad = reference.Project([](int, int) { return true; });
    // The glow cell of every particle (its last splat cell halved) and the
    // ring around it.
    std::vector<bool> glowCells(static_cast<size_t>(GlowGridWidth) * GlowGridHeight);
    for (uint32_t n = 0; n < scene.particles.count; ++n) {
        const int hx = scene.particles.records[n].pixelX >> 1;
        const int hy = scene.particles.records[n].pixelY >> 1;
        for (int y = hy - 1; y <= hy + 1; ++y) {
            for (int x = hx - 1; x <= hx + 1; ++x) {
                if (x >= 0 && y >= 0 && x < GlowGridWidth && y < GlowGridHeight)
                    glowCells[x * GlowGridHeight + y] = true;
            }
        }
    }
    const std::vector<bool> nearParticles =
        reference.Project([&glowCells](int x, int y) { return glowCells[x * GlowGridHeight + y]; });

    int outside = 0, outsideLit = 0, lit = 0, redDominant = 0;
    double nearSum = 0.0, farSum = 0.0;
    int nearCount = 0, farCount = 0;
    for (size_t index = 0; index < picture.pixels.size(); ++index) {
        const int r = (picture.pixels[index] >> 16) & 0xFF, g = (picture.pixels[index] >> 8) & 0xFF,
                  b = picture.pixels[index] & 0xFF;
        const bool black = r == 0 && g == 0 && b == 0;
        if (!quad[index]) {
            ++outside;
            outsideLit += black ? 0 : 1;
            continue;
        }
        if (black)
            continue;
        ++lit;
        redDominant += r >= g && r >= b ? 1 : 0;
        (nearParticles[index] ? nearSum : farSum) += r + g + b;
        ++(nearParticles[index] ? nearCount : farCount);
    }
    const int quadPixels = picture.width * picture.height - outside;
    EXPECT_GT(outside, picture.width * picture.height / 10);
    EXPECT_EQ(0, outsideLit);
    EXPECT_GT(lit, quadPixels / 20);
    EXPECT_LT(lit, quadPixels);
    EXPECT_GT(redDominant, lit * 8 / 10);
    ASSERT_GT(nearCount, 100);
    ASSERT_GT(farCount, 100);
    EXPECT_GT(nearSum / nearCount, 2.0 * (farSum / farCount));
}

// ---------------------------------------------------------------------------
// Videos

// The stream's fields as ffprobe names them (codec_name, width, ...).
std::map<std::string, std::string> Probe(const std::string& path)
{
    const Outcome outcome =
        RunProgram({"ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                    "stream=codec_name,pix_fmt,width,height,r_frame_rate,nb_read_frames", "-of",
                    "default=noprint_wrappers=1", path});
    EXPECT_EQ(0, outcome.exitStatus) << outcome.err;
    std::map<std::string, std::string> stream;
    std::istringstream lines(outcome.out);
    for (std::string line; std::getline(lines, line);) {
        const size_t equals = line.find('=');
        if (equals != std::string::npos)
            stream[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return stream;
}

TEST(RenderedVideo, HoldsEveryFrameAtTheRequestedSizeAndRate)
{
    if (!OnPath("ffmpeg") || !OnPath("ffprobe"))
        GTEST_SKIP() << "ffmpeg is not installed";
    const struct {
        const char* name;
        std::vector<std::string> options;
        const char* summary;
        std::map<std::string, std::string> stream;
    } videos[] = {
        {"clip.mp4",
         {"--size", "160x100", "--frames", "13", "--warmup-ticks", "20"},
         "13 frames, 160x100, 60 fps",
         {{"codec_name", "h264"},
          {"pix_fmt", "yuv420p"},
          {"r_frame_rate", "60/1"},
          {"width", "160"},
          {"height", "100"},
          {"nb_read_frames", "13"}}},
        // The length from --seconds times --fps.
        {"clip.webm",
         {"--size", "96x64", "--seconds", "0.5", "--fps", "24", "--warmup-ticks", "10", "--ticks-per-frame", "3"},
         "12 frames, 96x64, 24 fps",
         {{"codec_name", "vp9"},
          {"r_frame_rate", "24/1"},
          {"width", "96"},
          {"height", "64"},
          {"nb_read_frames", "12"}}},
    };
    for (const auto& video : videos) {
        ScratchDirectory scratch;
        std::vector<std::string> arguments = {"--out", scratch.At(video.name)};
        arguments.insert(arguments.end(), video.options.begin(), video.options.end());
        const Outcome outcome = Render(arguments);
        ASSERT_EQ(0, outcome.exitStatus) << outcome.err;
        EXPECT_NE(std::string::npos, outcome.err.find(video.summary)) << outcome.err;
        std::map<std::string, std::string> stream = Probe(scratch.At(video.name));
        for (const auto& field : video.stream)
            EXPECT_EQ(field.second, stream[field.first]) << video.name << " " << field.first;
        EXPECT_EQ(std::vector<std::string>{video.name}, scratch.Entries());
    }
}

}  // namespace
