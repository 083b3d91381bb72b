#include "tools/trails/view_options.h"

#include <cstdlib>

#include "tools/trails/command_line.h"

ViewSettings ParseViewOptions(int argc, char** argv)
{
    ViewSettings settings;
    OptionReader options(argc, argv, 2, {"--root", "--wallpaper", "--pause-on-battery"}, true);
    std::string name;
    std::string value;
    while (options.Next(name, value)) {
        if (name == "--size") {
            settings.size = ParseSize(name, value);
            settings.sizeGiven = true;
        } else if (name == "--seed") {
            settings.seed = ParseUnsigned32(name, value);
            settings.seedGiven = true;
        } else if (name == "--frames") {
            settings.frames = ParseCount(name, value, 1, 100000000);
        } else if (name == "--ticks-per-frame") {
            settings.ticksPerFrame = ParseCount(name, value, 1, 10000);
        } else if (name == "--screenshot") {
            if (value.empty())
                throw UsageError("--screenshot: expected a file name");
            if (OutputKindOf(value) != OutputKind::Png) {
                throw UsageError("--screenshot: '" + value + "' is not a .png file");
            }
            settings.screenshotPath = value;
        } else if (name == "--renderer") {
            if (value == "gl") {
                settings.renderer = ViewRenderer::Gl;
            } else if (value == "software") {
                settings.renderer = ViewRenderer::Software;
            } else {
                throw UsageError("--renderer: expected gl or software, got '" + value + "'");
            }
        } else if (name == "--window-id") {
            settings.windowId = ParseWindowId(name, value);
            settings.windowIdGiven = true;
        } else if (name == "--root") {
            settings.root = true;
        } else if (name == "--wallpaper") {
            settings.wallpaper = true;
        } else if (name == "--output") {
            if (value.empty())
                throw UsageError("--output: expected an output name (such as DP-1)");
            settings.outputName = value;
        } else if (name == "--fps") {
            settings.fps = ParseCount(name, value, 1, 1000);
        } else if (name == "--pause-on-battery") {
            settings.pauseOnBattery = true;
        } else if (name == "--resize-at") {
            const size_t colon = value.find(':');
            if (colon == std::string::npos)
                throw UsageError("--resize-at: expected FRAME:WxH, got '" + value + "'");
            settings.resizeAtFrame = ParseCount(name, value.substr(0, colon), 1, 100000000);
            settings.resizeTo = ParseSize(name, value.substr(colon + 1));
        } else {
            throw UsageError("unknown option '" + name + "' (try 'trails view --help')");
        }
    }
    if (int(settings.windowIdGiven) + int(settings.root) + int(settings.wallpaper) > 1)
        throw UsageError("give one of --window-id, --root and --wallpaper");
    if ((settings.windowIdGiven || settings.root || settings.wallpaper) &&
        (settings.sizeGiven || settings.resizeAtFrame != 0)) {
        throw UsageError("an existing window keeps its own size: --size and --resize-at need a window of our own");
    }
    if (!settings.outputName.empty() && !settings.wallpaper)
        throw UsageError("--output names the Wayland output of a --wallpaper");
    return settings;
}

unsigned long ParseWindowId(const std::string& what, const std::string& text)
{
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    const char* allowed = hex ? "0123456789abcdefABCDEF" : "0123456789";
    const unsigned long long value = std::strtoull(digits.c_str(), nullptr, hex ? 16 : 10);
    if (digits.empty() || digits.size() > 10 || digits.find_first_not_of(allowed) != std::string::npos || value == 0 ||
        value > 0xFFFFFFFFull) {
        throw UsageError(what + ": expected an X window id (decimal or 0x-hex), got '" + text + "'");
    }
    return static_cast<unsigned long>(value);
}

ViewTarget ChooseViewTarget(const ViewSettings& settings, const char* screensaverWindow, const char* waylandDisplay,
                            const char* xDisplay)
{
    const auto set = [](const char* variable) { return variable != nullptr && *variable != '\0'; };
    ViewTarget target;
    if (settings.windowIdGiven) {
        target.kind = ViewTarget::Kind::WindowId;
        target.windowId = settings.windowId;
        target.origin = "--window-id";
    } else if (set(screensaverWindow)) {
        target.kind = ViewTarget::Kind::WindowId;
        target.windowId = ParseWindowId("XSCREENSAVER_WINDOW", screensaverWindow);
        target.origin = "XSCREENSAVER_WINDOW";
    } else if (settings.root) {
        target.kind = ViewTarget::Kind::Root;
        target.origin = "--root";
    } else if (settings.wallpaper) {
        const bool wayland = set(waylandDisplay) || !set(xDisplay);
        target.kind = wayland ? ViewTarget::Kind::WaylandWallpaper : ViewTarget::Kind::Root;
        target.origin = "--wallpaper";
        target.oneScene = true;
    }
    return target;
}
