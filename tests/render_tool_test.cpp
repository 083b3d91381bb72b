// trails render, run as the program it is: command-line errors, output
// written whole or not at all, the picture a still holds and the frames of a
// video (read back with ffprobe). trails view is tested in tests/desktop.
//
// The still is compared with the same host schedule run here, in process,
// through the entry points on a software device that rasterizes every frame,
// and the device is then used to project the quad and the particles' glow
// onto the screen, so that the picture's black border and glow are checked
// where they must be.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/software_device.h"
#include "plugin/entry_points.h"
#include "plugin/plugin_state.h"

namespace {

const char* const trailsProgram = TRAILS_PROGRAM;

// ---------------------------------------------------------------------------
// Running programs

struct Outcome {
    int exitStatus = -1;  // -1 when the program did not exit normally
    std::string out;
    std::string err;
};

std::string ReadWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteWholeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

std::vector<std::string> Entries(const std::string& directory)
{
    std::vector<std::string> names;
    if (DIR* dir = opendir(directory.c_str())) {
        while (dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string OnPath(const std::string& program)
{
    const char* path = std::getenv("PATH");
    std::stringstream directories(path != nullptr ? path : "");
    std::string directory;
    while (std::getline(directories, directory, ':')) {
        const std::string candidate = (directory.empty() ? "." : directory) + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return std::string();
}

// A scratch directory per test: logs in it, outputs in its "out" folder.
class Scratch {
public:
    Scratch()
    {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/trails-test-XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (mkdtemp(buffer.data()) == nullptr)
            std::abort();
        root_ = buffer.data();
        mkdir(Out().c_str(), 0755);
    }
    ~Scratch() { RemoveTree(root_); }
    const std::string& Root() const { return root_; }
    std::string Out() const { return root_ + "/out"; }
    std::string OutFile(const std::string& name) const { return Out() + "/" + name; }

private:
    static void RemoveTree(const std::string& path)
    {
        struct stat status;
        if (lstat(path.c_str(), &status) != 0)
            return;
        if (S_ISDIR(status.st_mode)) {
            chmod(path.c_str(), 0755);
            for (const std::string& name : Entries(path))
                RemoveTree(path + "/" + name);
            rmdir(path.c_str());
        } else {
            unlink(path.c_str());
        }
    }
    std::string root_;
};

pid_t Start(const Scratch& scratch, const std::vector<std::string>& arguments,
            const std::vector<std::string>& environment)
{
    std::vector<std::string> copies = arguments;
    std::vector<char*> argv;
    for (std::string& argument : copies)
        argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    const std::string outPath = scratch.Root() + "/stdout.txt";
    const std::string errPath = scratch.Root() + "/stderr.txt";
    const pid_t child = fork();
    if (child == 0) {
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int in = open("/dev/null", O_RDONLY);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        dup2(in, STDIN_FILENO);
        for (const std::string& setting : environment)
            putenv(const_cast<char*>(setting.c_str()));
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return child;
}

Outcome Finish(const Scratch& scratch, pid_t child)
{
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    Outcome outcome;
    outcome.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    outcome.out = ReadWholeFile(scratch.Root() + "/stdout.txt");
    outcome.err = ReadWholeFile(scratch.Root() + "/stderr.txt");
    return outcome;
}

Outcome Trails(const Scratch& scratch, std::vector<std::string> arguments,
               const std::vector<std::string>& environment = {})
{
    arguments.insert(arguments.begin(), trailsProgram);
    return Finish(scratch, Start(scratch, arguments, environment));
}

int LineCount(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

// ---------------------------------------------------------------------------
// Pictures

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
    const uint8_t* At(int x, int y) const { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
};

Picture ReadPng(const std::string& path)
{
    Picture picture;
    png_image image = {};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        ADD_FAILURE() << "cannot read " << path << ": " << image.message;
        return picture;
    }
    image.format = PNG_FORMAT_RGB;
    picture.width = static_cast<int>(image.width);
    picture.height = static_cast<int>(image.height);
    picture.rgb.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, picture.rgb.data(), 0, nullptr)) {
        ADD_FAILURE() << "cannot decode " << path << ": " << image.message;
    }
    return picture;
}

bool IsBlack(const uint8_t* pixel) { return pixel[0] == 0 && pixel[1] == 0 && pixel[2] == 0; }

// The documented schedule of trails render, here through the entry points:
// warm-up ticks with a frame after every ticksPerFrame-th, then per frame
// ticksPerFrame ticks and a frame. Rasterizing every frame shows that the
// frames nobody sees change nothing on screen; otherwise only the last one is.
struct HostRun {
    uint32_t seed;
    int width, height;
    uint32_t warmupTicks, ticksPerFrame, frames;
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
            for (int x = 0; x < run.width; ++x) {
                const uint32_t word = device_.Pixel(x, y);
                picture_.rgb.push_back(static_cast<uint8_t>(word >> 16));
                picture_.rgb.push_back(static_cast<uint8_t>(word >> 8));
                picture_.rgb.push_back(static_cast<uint8_t>(word));
            }
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
        std::vector<bool> mask(static_cast<size_t>(run_.width) * run_.height);
        for (int y = 0; y < run_.height; ++y) {
            for (int x = 0; x < run_.width; ++x) {
                mask[static_cast<size_t>(y) * run_.width + x] = ((device_.Pixel(x, y) >> 16) & 0xFF) >= 128;
            }
        }
        return mask;
    }

private:
    void Frame() { RenderSceneOnScreen(0, &device_, 0, 0, run_.width, run_.height, 0, 0, 0, 0, 0); }

    HostRun run_;
    SoftwareDevice device_;
    Picture picture_;
};

std::vector<std::string> RenderArguments(const HostRun& run, const std::string& out)
{
    return {"render",
            "--out",
            out,
            "--size",
            std::to_string(run.width) + "x" + std::to_string(run.height),
            "--seed",
            std::to_string(run.seed),
            "--warmup-ticks",
            std::to_string(run.warmupTicks),
            "--ticks-per-frame",
            std::to_string(run.ticksPerFrame),
            "--frames",
            std::to_string(run.frames)};
}

// ---------------------------------------------------------------------------
// Command-line errors

struct BadCommandLine {
    std::vector<std::string> arguments;
    const char* complaint;
};

TEST(RenderCommandLine, BadOptionsExitWithStatus2AndOneLineNamingTheProblem)
{
    const BadCommandLine cases[] = {
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
    for (const BadCommandLine& bad : cases) {
        Scratch scratch;
        std::vector<std::string> arguments = {"render"};
        for (std::string argument : bad.arguments) {
            if (argument.compare(0, 4, "OUT/") == 0)
                argument = scratch.OutFile(argument.substr(4));
            arguments.push_back(argument);
        }
        const Outcome outcome = Trails(scratch, arguments);
        SCOPED_TRACE(bad.complaint);
        EXPECT_EQ(2, outcome.exitStatus);
        EXPECT_EQ(1, LineCount(outcome.err)) << outcome.err;
        EXPECT_EQ(0u, outcome.err.rfind("trails render: ", 0)) << outcome.err;
        EXPECT_NE(std::string::npos, outcome.err.find(bad.complaint)) << outcome.err;
        EXPECT_TRUE(Entries(scratch.Out()).empty());
    }
}

TEST(RenderCommandLine, ViewRejectsBadOptionsWithStatus2)
{
    Scratch scratch;
    const Outcome size = Trails(scratch, {"view", "--size", "320by200"});
    EXPECT_EQ(2, size.exitStatus);
    EXPECT_NE(std::string::npos, size.err.find("trails view: --size: expected WIDTHxHEIGHT")) << size.err;
    const Outcome shot = Trails(scratch, {"view", "--screenshot", scratch.OutFile("shot.jpg")});
    EXPECT_EQ(2, shot.exitStatus);
    EXPECT_NE(std::string::npos, shot.err.find("unknown extension '.jpg'")) << shot.err;
    EXPECT_TRUE(Entries(scratch.Out()).empty());
}

// ---------------------------------------------------------------------------
// Output written whole or not at all

// A warm-up that would take days: these runs must fail before it starts.
const char* const endlessWarmup = "100000000";

TEST(RenderOutput, UnwritablePathFailsBeforeRenderingAndLeavesNothing)
{
    Scratch scratch;
    WriteWholeFile(scratch.OutFile("plain-file"), "x");
    mkdir(scratch.OutFile("folder.png").c_str(), 0755);
    const struct {
        std::string out;
        const char* complaint;
    } cases[] = {
        {scratch.OutFile("missing/a.png"), "No such file or directory"},
        {scratch.OutFile("plain-file/a.mp4"), "Not a directory"},
        {scratch.OutFile("folder.png"), "is a directory"},
    };
    for (const auto& bad : cases) {
        const Outcome outcome =
            Trails(scratch, {"render", "--out", bad.out, "--size", "64x40", "--warmup-ticks", endlessWarmup});
        EXPECT_EQ(2, outcome.exitStatus) << bad.out;
        EXPECT_EQ(1, LineCount(outcome.err)) << outcome.err;
        EXPECT_NE(std::string::npos, outcome.err.find("cannot write '" + bad.out + "'")) << outcome.err;
        EXPECT_NE(std::string::npos, outcome.err.find(bad.complaint)) << outcome.err;
    }
    EXPECT_EQ((std::vector<std::string>{"folder.png", "plain-file"}), Entries(scratch.Out()));
}

TEST(RenderOutput, MissingFfmpegIsReportedBeforeRendering)
{
    Scratch scratch;
    const std::string out = scratch.OutFile("clip.webm");
    const Outcome outcome =
        Trails(scratch, {"render", "--out", out, "--size", "64x40", "--warmup-ticks", endlessWarmup},
               {"PATH=" + scratch.Root() + "/no-programs-here"});
    EXPECT_EQ(2, outcome.exitStatus);
    EXPECT_EQ(1, LineCount(outcome.err)) << outcome.err;
    EXPECT_NE(std::string::npos, outcome.err.find("ffmpeg not found on PATH")) << outcome.err;
    EXPECT_TRUE(Entries(scratch.Out()).empty());
}

// An ffmpeg that takes some frames and then fails as a real one would on a
// full disk: the old file stays as it was and no temporary file is left.
TEST(RenderOutput, FailingEncoderKeepsTheOldFileAndLeavesNoTemporary)
{
    Scratch scratch;
    const std::string bin = scratch.Root() + "/bin";
    mkdir(bin.c_str(), 0755);
    WriteWholeFile(bin + "/ffmpeg",
                   "#!/bin/sh\n"
                   "for last; do :; done\n"
                   "head -c 20000 > \"$last\"\n"
                   "echo 'Error: No space left on device' >&2\n"
                   "exit 1\n");
    chmod((bin + "/ffmpeg").c_str(), 0755);
    const std::string out = scratch.OutFile("clip.mp4");
    WriteWholeFile(out, "the old clip");
    const Outcome outcome =
        Trails(scratch, {"render", "--out", out, "--size", "64x40", "--warmup-ticks", "0", "--frames", "3"},
               {"PATH=" + bin + ":/usr/bin:/bin"});
    EXPECT_EQ(2, outcome.exitStatus);
    EXPECT_EQ(1, LineCount(outcome.err)) << outcome.err;
    EXPECT_NE(std::string::npos, outcome.err.find("ffmpeg failed (exit status 1): Error: No space left on device"))
        << outcome.err;
    EXPECT_EQ("the old clip", ReadWholeFile(out));
    EXPECT_EQ(std::vector<std::string>{"clip.mp4"}, Entries(scratch.Out()));
}

TEST(RenderOutput, StoppedVideoRenderRemovesItsTemporaryFile)
{
    if (OnPath("ffmpeg").empty())
        GTEST_SKIP() << "ffmpeg is not installed";
    Scratch scratch;
    const std::string out = scratch.OutFile("clip.mp4");
    const pid_t child = Start(
        scratch,
        {trailsProgram, "render", "--out", out, "--size", "64x40", "--warmup-ticks", "0", "--frames", "1000000"}, {});
    // ffmpeg writes into the temporary file beside the target once frames flow.
    bool temporarySeen = false;
    for (int wait = 0; wait < 600 && !temporarySeen; ++wait) {
        for (const std::string& name : Entries(scratch.Out())) {
            temporarySeen = temporarySeen || name.find(".tmp") != std::string::npos;
        }
        if (!temporarySeen)
            usleep(100000);
    }
    kill(child, SIGTERM);
    const Outcome outcome = Finish(scratch, child);
    EXPECT_TRUE(temporarySeen);
    EXPECT_EQ(128 + SIGTERM, outcome.exitStatus);
    EXPECT_NE(std::string::npos, outcome.err.find("interrupted")) << outcome.err;
    EXPECT_TRUE(Entries(scratch.Out()).empty());
}

// ---------------------------------------------------------------------------
// Stills

TEST(RenderedStill, IsTheLastFrameOfTheHostScheduleAtTheRequestedSize)
{
    Scratch scratch;
    const HostRun run = {20260101u, 96, 64, 45, 2, 3};
    const std::string out = scratch.OutFile("still.png");
    const Outcome outcome = Trails(scratch, RenderArguments(run, out));
    ASSERT_EQ(0, outcome.exitStatus) << outcome.err;
    EXPECT_EQ(1, LineCount(outcome.err)) << outcome.err;
    EXPECT_NE(std::string::npos, outcome.err.find("seed 20260101")) << outcome.err;

    const Picture picture = ReadPng(out);
    EXPECT_EQ(96, picture.width);
    EXPECT_EQ(64, picture.height);
    InProcessScene reference(run, true);
    EXPECT_TRUE(picture.rgb == reference.Result().rgb);
    EXPECT_EQ(std::vector<std::string>{"still.png"}, Entries(scratch.Out()));
}

TEST(RenderedStill, ShowsRedTrailsAndGlowOverBlack)
{
    Scratch scratch;
    // Seed 33 ends with the field of view wide, leaving a border round the quad
    // (with other seeds the field of view can narrow until the quad fills the
    // screen).
    const HostRun run = {33u, 640, 400, 150, 1, 1};
    const std::string out = scratch.OutFile("still.png");
    const Outcome outcome = Trails(scratch, RenderArguments(run, out));
    ASSERT_EQ(0, outcome.exitStatus) << outcome.err;
    const Picture picture = ReadPng(out);
    ASSERT_EQ(640, picture.width);
    ASSERT_EQ(400, picture.height);

    InProcessScene reference(run, false);
    ASSERT_TRUE(picture.rgb == reference.Result().rgb);
    const std::vector<bool> quad = reference.Project([](int, int) { return true; });
    // The glow cell of every particle (its last splat cell halved) and the
    // ring around it.
    std::vector<bool> glowCells(static_cast<size_t>(GlowGridWidth) * GlowGridHeight);
    for (uint32_t n = 0; n < scene.particles.count; ++n) {
        const int hx = scene.particles.records[n].pixelX >> 1;
        const int hy = scene.particles.records[n].pixelY >> 1;
        for (int y = hy - 1; y <= hy + 1; ++y) {
            for (int x = hx - 1; x <= hx + 1; ++x) {
                if (x >= 0 && y >= 0 && x < GlowGridWidth && y < GlowGridHeight) {
                    glowCells[x * GlowGridHeight + y] = true;
                }
            }
        }
    }
    const std::vector<bool> nearParticles =
        reference.Project([&glowCells](int x, int y) { return glowCells[x * GlowGridHeight + y]; });

    int outside = 0, outsideLit = 0, lit = 0, redDominant = 0;
    double nearSum = 0.0, farSum = 0.0;
    int nearCount = 0, farCount = 0;
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            const uint8_t* pixel = picture.At(x, y);
            const size_t index = static_cast<size_t>(y) * picture.width + x;
            if (!quad[index]) {
                ++outside;
                outsideLit += IsBlack(pixel) ? 0 : 1;
                continue;
            }
            if (IsBlack(pixel))
                continue;
            ++lit;
            redDominant += pixel[0] >= pixel[1] && pixel[0] >= pixel[2] ? 1 : 0;
            const double brightness = pixel[0] + pixel[1] + pixel[2];
            if (nearParticles[index]) {
                nearSum += brightness;
                ++nearCount;
            } else {
                farSum += brightness;
                ++farCount;
            }
        }
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

TEST(RenderedStill, SameSeedGivesTheSameBytesAndAnotherSeedAnotherPicture)
{
    Scratch scratch;
    const std::vector<std::string> common = {"--size", "80x50", "--warmup-ticks", "30", "--frames", "2"};
    auto render = [&](const std::string& name, const std::string& seed) {
        std::vector<std::string> arguments = {"render", "--out", scratch.OutFile(name), "--seed", seed};
        arguments.insert(arguments.end(), common.begin(), common.end());
        EXPECT_EQ(0, Trails(scratch, arguments).exitStatus);
        return ReadWholeFile(scratch.OutFile(name));
    };
    const std::string first = render("first.png", "99");
    const std::string again = render("again.png", "99");
    const std::string other = render("other.png", "100");
    EXPECT_FALSE(first.empty());
    EXPECT_TRUE(first == again);
    EXPECT_FALSE(first == other);
}

// ---------------------------------------------------------------------------
// Videos

struct VideoStream {
    std::string codec, pixelFormat, frameRate;
    int width = 0, height = 0, frames = 0;
};

VideoStream Probe(const Scratch& scratch, const std::string& path)
{
    const pid_t child = Start(scratch,
                              {"ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                               "stream=codec_name,pix_fmt,width,height,r_frame_rate,nb_read_frames", "-of",
                               "default=noprint_wrappers=1", path},
                              {});
    const Outcome outcome = Finish(scratch, child);
    EXPECT_EQ(0, outcome.exitStatus) << outcome.err;
    VideoStream stream;
    std::istringstream lines(outcome.out);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        const std::string key = line.substr(0, equals);
        const std::string value = line.substr(equals + 1);
        if (key == "codec_name")
            stream.codec = value;
        if (key == "pix_fmt")
            stream.pixelFormat = value;
        if (key == "r_frame_rate")
            stream.frameRate = value;
        if (key == "width")
            stream.width = std::atoi(value.c_str());
        if (key == "height")
            stream.height = std::atoi(value.c_str());
        if (key == "nb_read_frames")
            stream.frames = std::atoi(value.c_str());
    }
    return stream;
}

TEST(RenderedVideo, Mp4HoldsEveryFrameAtTheRequestedSize)
{
    if (OnPath("ffmpeg").empty() || OnPath("ffprobe").empty())
        GTEST_SKIP() << "ffmpeg is not installed";
    Scratch scratch;
    const std::string out = scratch.OutFile("clip.mp4");
    const Outcome outcome =
        Trails(scratch, {"render", "--out", out, "--size", "160x100", "--frames", "13", "--warmup-ticks", "20"});
    ASSERT_EQ(0, outcome.exitStatus) << outcome.err;
    const VideoStream stream = Probe(scratch, out);
    EXPECT_EQ("h264", stream.codec);
    EXPECT_EQ("yuv420p", stream.pixelFormat);
    EXPECT_EQ("60/1", stream.frameRate);
    EXPECT_EQ(160, stream.width);
    EXPECT_EQ(100, stream.height);
    EXPECT_EQ(13, stream.frames);
    EXPECT_EQ(std::vector<std::string>{"clip.mp4"}, Entries(scratch.Out()));
}

TEST(RenderedVideo, WebmLengthComesFromSecondsTimesFps)
{
    if (OnPath("ffmpeg").empty() || OnPath("ffprobe").empty())
        GTEST_SKIP() << "ffmpeg is not installed";
    Scratch scratch;
    const std::string out = scratch.OutFile("clip.webm");
    const Outcome outcome = Trails(scratch, {"render", "--out", out, "--size", "96x64", "--seconds", "0.5", "--fps",
                                             "24", "--warmup-ticks", "10", "--ticks-per-frame", "3"});
    ASSERT_EQ(0, outcome.exitStatus) << outcome.err;
    EXPECT_NE(std::string::npos, outcome.err.find("12 frames, 96x64, 24 fps")) << outcome.err;
    const VideoStream stream = Probe(scratch, out);
    EXPECT_EQ("vp9", stream.codec);
    EXPECT_EQ("24/1", stream.frameRate);
    EXPECT_EQ(96, stream.width);
    EXPECT_EQ(64, stream.height);
    EXPECT_EQ(12, stream.frames);
}

}  // namespace
