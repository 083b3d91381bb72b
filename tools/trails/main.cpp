// trails: the Chaos Trails command-line tool.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "tools/trails/command_line.h"

int RunDumpCommand(int argc, char** argv);
#ifndef _WIN32
int RunRenderCommand(int argc, char** argv);
int RunViewCommand(int argc, char** argv);
#endif

namespace {

const char usage[] =
    "usage: trails COMMAND [options]\n"
    "\n"
    "commands:\n"
    "  dump --seed S [--rect L,T,R,B] --schedule SCHEDULE --out FILE\n"
    "        run a schedule of set-ups (s), frees (x), ticks (tN) and frames (fN)\n"
    "        and write the whole scene state to FILE\n"
    "  render --out FILE [--size WxH] [--seconds S | --frames N] [--fps F]\n"
    "         [--ticks-per-frame K] [--warmup-ticks N] [--seed S]\n"
    "        run the scene on the software device and write a still of the last\n"
    "        frame (.png) or a video of every frame (.mp4, .webm; needs ffmpeg)\n"
    "        defaults: 60 fps, 1 tick a frame, seed from the clock; a still is\n"
    "        1920x1200, 1 frame after 1200 warm-up ticks; a video is 1280x800,\n"
    "        10 s after 300 warm-up ticks; warm-up ticks draw a frame every K\n"
    "        ticks, unseen\n"
    "  view [--size WxH] [--seed S] [--frames N] [--screenshot FILE]\n"
    "        show the scene live in a resizable window (default 960x600);\n"
    "        Space pauses, S saves a PNG, Esc quits; --frames N quits after N\n"
    "        frames, --screenshot saves what the window showed last as a PNG\n"
    "  help  show this text\n";

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || std::strcmp(argv[1], "help") == 0 || std::strcmp(argv[1], "--help") == 0 ||
        std::strcmp(argv[1], "-h") == 0) {
        std::fputs(usage, argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    const std::string command = argv[1];
    try {
        if (command == "dump") return RunDumpCommand(argc, argv);
#ifdef _WIN32
        if (command == "render" || command == "view") {
            // They need libpng, ffmpeg and SDL2, which the Windows tool does
            // not carry; the plug-in itself shows the scene there.
            std::fprintf(stderr, "trails %s: not available in the Windows build; use the Linux build\n",
                         command.c_str());
            return 2;
        }
#else
        if (command == "render") return RunRenderCommand(argc, argv);
        if (command == "view") return RunViewCommand(argc, argv);
#endif
        std::fprintf(stderr, "trails: unknown command '%s' (try 'trails help')\n", command.c_str());
        return 2;
    } catch (const UsageError& error) {
        std::fprintf(stderr, "trails %s: %s\n", command.c_str(), error.what());
        return 2;
    } catch (const std::exception& error) {
        // Unwritable output and the like: nothing half-written is left behind.
        std::fprintf(stderr, "trails %s: %s\n", command.c_str(), error.what());
        return 2;
    }
}
