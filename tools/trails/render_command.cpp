// trails render: runs the scene through the entry points on the software
// device, as a host would, and writes a still of the last frame (.png) or a
// video of every frame (.mp4, .webm, encoded by ffmpeg).
//
// The schedule, the same for stills and videos so that a seed always means
// the same scene:
//   SetupPlugin (SetupScene with the seed) on a device of --size, with the
//   screen rectangle (0, 0, width, height);
//   warm-up: --warmup-ticks ticks, with a frame drawn after every
//   --ticks-per-frame-th of them, as a host drawing at the video's rate would
//   (the frames fade the trails and take random draws, so they are part of
//   the scene; only the rasterizing is skipped, since nobody sees them);
//   then each kept frame: --ticks-per-frame ticks and one frame.
// A still keeps the last of its frames (one unless --frames or --seconds says
// otherwise); a video keeps them all.
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <stdexcept>
#include <string>

#include "tools/trails/command_line.h"
#include "tools/trails/hosted_scene.h"
#include "tools/trails/png_writer.h"
#include "tools/trails/progress.h"
#include "tools/trails/render_options.h"
#include "tools/trails/video_writer.h"

namespace {

const uint32_t stillWarmupTicks = 1200;
const uint32_t videoWarmupTicks = 300;
const double videoSeconds = 10.0;
const FrameSize stillSize{1920, 1200};
// A video's default is smaller than a still's: at 1920x1200 the software
// rasterizer and the H.264 encoder each spend over 100 ms of CPU on a frame,
// so ten seconds took minutes on two cores. 1280x800 keeps the 16:10 shape,
// and with it the pattern's aspect, at well under half the cost.
const FrameSize videoSize{1280, 800};

struct RenderSettings {
    std::string outPath;
    OutputKind kind = OutputKind::Png;
    FrameSize size;
    uint32_t frames = 1;
    uint32_t framesPerSecond = 60;
    uint32_t ticksPerFrame = 1;
    uint32_t warmupTicks = 0;
    uint32_t seed = 0;
};

// Ctrl-C or a kill during a render: the loops stop at the next tick or frame
// and the destructors remove what was half-written.
volatile std::sig_atomic_t stopSignal = 0;

extern "C" void OnStopSignal(int number) { stopSignal = number; }

struct Interrupted {};

class StopSignalGuard {
public:
    StopSignalGuard()
    {
        struct sigaction action = {};
        action.sa_handler = OnStopSignal;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &oldInterrupt_);
        sigaction(SIGTERM, &action, &oldTerminate_);
        // A dead ffmpeg shows as a failed write, with its own message.
        struct sigaction ignore = {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGPIPE, &ignore, &oldPipe_);
    }
    ~StopSignalGuard()
    {
        sigaction(SIGINT, &oldInterrupt_, nullptr);
        sigaction(SIGTERM, &oldTerminate_, nullptr);
        sigaction(SIGPIPE, &oldPipe_, nullptr);
    }

private:
    struct sigaction oldInterrupt_, oldTerminate_, oldPipe_;
};

void CheckStop()
{
    if (stopSignal != 0)
        throw Interrupted();
}

RenderSettings ParseRenderOptions(int argc, char** argv)
{
    RenderSettings settings;
    bool framesGiven = false;
    bool secondsGiven = false;
    bool warmupGiven = false;
    bool seedGiven = false;
    bool sizeGiven = false;
    double seconds = 0.0;

    OptionReader options(argc, argv, 2);
    std::string name;
    std::string value;
    while (options.Next(name, value)) {
        if (name == "--out") {
            settings.outPath = value;
        } else if (name == "--size") {
            settings.size = ParseSize(name, value);
            sizeGiven = true;
        } else if (name == "--frames") {
            settings.frames = ParseCount(name, value, 1, 1000000);
            framesGiven = true;
        } else if (name == "--seconds") {
            seconds = ParseSeconds(name, value);
            secondsGiven = true;
        } else if (name == "--fps") {
            settings.framesPerSecond = ParseCount(name, value, 1, 240);
        } else if (name == "--ticks-per-frame") {
            settings.ticksPerFrame = ParseCount(name, value, 1, 10000);
        } else if (name == "--warmup-ticks") {
            settings.warmupTicks = ParseCount(name, value, 0, 100000000);
            warmupGiven = true;
        } else if (name == "--seed") {
            settings.seed = ParseUnsigned32(name, value);
            seedGiven = true;
        } else {
            throw UsageError("unknown option '" + name + "' (try 'trails render --help')");
        }
    }
    if (settings.outPath.empty())
        throw UsageError("--out FILE is required (.png, .mp4 or .webm)");
    settings.kind = OutputKindOf(settings.outPath);
    if (framesGiven && secondsGiven)
        throw UsageError("give --frames or --seconds, not both");
    const bool video = settings.kind != OutputKind::Png;
    if (!sizeGiven)
        settings.size = video ? videoSize : stillSize;
    if (secondsGiven || (video && !framesGiven)) {
        const long long wanted = std::llround((secondsGiven ? seconds : videoSeconds) * settings.framesPerSecond);
        if (wanted < 1) {
            throw UsageError("--seconds: shorter than one frame at " + std::to_string(settings.framesPerSecond) +
                             " frames a second");
        }
        if (wanted > 1000000)
            throw UsageError("--seconds: more than 1000000 frames");
        settings.frames = static_cast<uint32_t>(wanted);
    }
    if (video && (settings.size.width % 2 != 0 || settings.size.height % 2 != 0)) {
        throw UsageError("--size: a video needs an even width and height, got " + std::to_string(settings.size.width) +
                         "x" + std::to_string(settings.size.height));
    }
    if (!warmupGiven)
        settings.warmupTicks = video ? videoWarmupTicks : stillWarmupTicks;
    settings.seed = seedGiven ? settings.seed : static_cast<uint32_t>(std::time(nullptr));
    return settings;
}

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string Describe(const RenderSettings& settings)
{
    char text[256];
    std::snprintf(text, sizeof text, "%u frame%s, %dx%d, %u fps, seed %u, %u warm-up ticks, %u tick%s a frame",
                  settings.frames, settings.frames == 1 ? "" : "s", settings.size.width, settings.size.height,
                  settings.framesPerSecond, settings.seed, settings.warmupTicks, settings.ticksPerFrame,
                  settings.ticksPerFrame == 1 ? "" : "s");
    return text;
}

// Draws a frame after every ticksPerFrame-th tick, none of them rasterized.
void WarmUp(HostedScene& scene, const RenderSettings& settings, ProgressBar& progress)
{
    progress.Begin("warm-up", settings.warmupTicks, "ticks");
    uint32_t sinceFrame = 0;
    for (uint32_t tick = 1; tick <= settings.warmupTicks; ++tick) {
        CheckStop();
        scene.Tick();
        if (++sinceFrame == settings.ticksPerFrame) {
            scene.Frame(false);
            sinceFrame = 0;
        }
        progress.Update(tick);
    }
}

void RenderFrames(HostedScene& scene, const RenderSettings& settings, ProgressBar& progress, VideoWriter* video)
{
    progress.Begin("frames", settings.frames, "frames");
    for (uint32_t frame = 1; frame <= settings.frames; ++frame) {
        for (uint32_t tick = 0; tick < settings.ticksPerFrame; ++tick) {
            CheckStop();
            scene.Tick();
        }
        // A still needs only its last frame on the screen.
        const bool kept = video != nullptr || frame == settings.frames;
        scene.Frame(kept);
        if (video != nullptr)
            video->WriteFrame(scene.Pixels());
        progress.Update(frame);
    }
}

}  // namespace

int RunRenderCommand(int argc, char** argv)
{
    const RenderSettings settings = ParseRenderOptions(argc, argv);
    const bool video = settings.kind != OutputKind::Png;
    std::string ffmpeg;
    if (video) {
        ffmpeg = VideoWriter::FindFfmpeg();
        if (ffmpeg.empty()) {
            throw std::runtime_error("ffmpeg not found on PATH; it encodes ." +
                                     std::string(ExtensionOf(settings.kind)) + " output (install it, or write a .png)");
        }
    }
    CheckOutputWritable(settings.outPath);

    stopSignal = 0;
    StopSignalGuard signals;
    const auto start = std::chrono::steady_clock::now();
    double framesSeconds = 0.0;
    try {
        ProgressBar progress(ProgressBar::StderrIsTerminal());
        if (progress.Enabled()) {
            std::fprintf(stderr, "trails render: %s -> %s\n", Describe(settings).c_str(), settings.outPath.c_str());
        }
        HostedScene scene(settings.size.width, settings.size.height);
        scene.Setup(settings.seed);
        WarmUp(scene, settings, progress);

        const auto framesStart = std::chrono::steady_clock::now();
        if (video) {
            VideoWriter writer(ffmpeg, settings.outPath,
                               settings.kind == OutputKind::Mp4 ? VideoFormat::Mp4 : VideoFormat::Webm,
                               settings.size.width, settings.size.height, static_cast<int>(settings.framesPerSecond));
            RenderFrames(scene, settings, progress, &writer);
            CheckStop();
            progress.Clear();
            writer.Finish();
        } else {
            RenderFrames(scene, settings, progress, nullptr);
            CheckStop();
            WritePng(settings.outPath, scene.Width(), scene.Height(), scene.Pixels(), scene.Width());
        }
        framesSeconds = SecondsSince(framesStart);
    } catch (const Interrupted&) {
        std::fprintf(stderr, "trails render: interrupted (seed %u); '%s' not written\n", settings.seed,
                     settings.outPath.c_str());
        return 128 + stopSignal;
    } catch (const std::exception&) {
        // ffmpeg saw the Ctrl-C too and may have failed first.
        if (stopSignal != 0) {
            std::fprintf(stderr, "trails render: interrupted (seed %u); '%s' not written\n", settings.seed,
                         settings.outPath.c_str());
            return 128 + stopSignal;
        }
        throw;
    }

    char rate[48] = "";
    if (video && framesSeconds > 0.0) {
        std::snprintf(rate, sizeof rate, ", %.2f frames/s", settings.frames / framesSeconds);
    }
    std::fprintf(stderr, "trails render: wrote %s (%s) in %s%s\n", settings.outPath.c_str(), Describe(settings).c_str(),
                 FormatDuration(SecondsSince(start)).c_str(), rate);
    return 0;
}
