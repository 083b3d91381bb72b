#include "tools/trails/usage.h"

#define DUMP_USAGE                                                                   \
    "  dump --seed S [--rect L,T,R,B] --schedule SCHEDULE --out FILE\n"              \
    "        run a schedule of set-ups (s), frees (x), ticks (tN) and frames (fN)\n" \
    "        and write the whole scene state to FILE\n"

#define RENDER_USAGE                                                               \
    "  render --out FILE [--size WxH] [--seconds S | --frames N] [--fps F]\n"      \
    "         [--ticks-per-frame K] [--warmup-ticks N] [--seed S]\n"               \
    "        run the scene on the software device and write a still of the last\n" \
    "        frame (.png) or a video of every frame (.mp4, .webm; needs ffmpeg)\n" \
    "        defaults: 60 fps, 1 tick a frame, seed from the clock; a still is\n"  \
    "        1920x1200, 1 frame after 1200 warm-up ticks; a video is 1280x800,\n"  \
    "        10 s after 300 warm-up ticks; warm-up ticks draw a frame every K\n"   \
    "        ticks, unseen\n"

#define VIEW_USAGE                                                                    \
    "  view [--size WxH] [--seed S] [--frames N] [--ticks-per-frame K] [--fps N]\n"   \
    "       [--screenshot FILE] [--renderer gl|software] [--pause-on-battery]\n"      \
    "       [--wallpaper [--output NAME] | --window-id ID | --root]\n"                \
    "        show the scene live: in a resizable window of its own (default\n"        \
    "        960x600), as the wallpaper (--wallpaper: the background of every\n"      \
    "        Wayland output, or the one --output names, through the compositor's\n"   \
    "        layer shell; under X11 the root window), in the existing X window ID\n"  \
    "        (decimal or 0x-hex), on the root window (--root), or in the window\n"    \
    "        XScreenSaver hands over in XSCREENSAVER_WINDOW, following its size\n"    \
    "        nothing is drawn and the scene stands still while nobody can see it\n"   \
    "        (covered, unmapped, an output showing a fullscreen window), and with\n"  \
    "        --pause-on-battery while the machine runs on battery\n"                  \
    "        --fps N draws at most N frames a second (default: the display's\n"       \
    "        rate); the scene runs at 60 ticks a second whatever the frame rate\n"    \
    "        --renderer gl (the default) draws the plug-in's frame through OpenGL,\n" \
    "        software with the software device (also when OpenGL is missing)\n"       \
    "        Space pauses, S saves a PNG, Esc quits; SIGTERM ends it quietly,\n"      \
    "        SIGUSR1 prints where it stands\n"                                        \
    "        --frames N quits after N frames and prints the frame rate;\n"            \
    "        --ticks-per-frame K (1 to 10000) runs K ticks before each frame\n"       \
    "        instead of 60 a second (a late frame catches up at most 8 ticks,\n"      \
    "        paused time is never made up); --screenshot saves what the window\n"     \
    "        showed last as a PNG\n"                                                 \
    "        options also take one dash (-root, -window-id ID), as XScreenSaver's\n"  \
    "        hacks do; run as chaos-trails, the program is `trails view`\n"

const char dumpUsage[] = "usage: trails dump [options]\n" DUMP_USAGE;
const char renderUsage[] = "usage: trails render [options]\n" RENDER_USAGE;
const char viewUsage[] = "usage: trails view [options]\n" VIEW_USAGE;
const char trailsUsage[] =
    "usage: trails COMMAND [options]\n"
    "\n"
    "commands:\n" DUMP_USAGE RENDER_USAGE VIEW_USAGE "  help  show this text; COMMAND --help shows the command's own\n";
