// trails view's command line and where it draws: --wallpaper under Wayland
// and under X11, the choices that win over it, and its own options.
#include "tools/trails/view_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/trails/command_line.h"

namespace {

ViewSettings Parse(std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), {"trails", "view"});
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(&argument[0]);
    return ParseViewOptions(static_cast<int>(argv.size()), argv.data());
}

TEST(ViewOptions, WallpaperOptionsAreRead)
{
    const ViewSettings settings = Parse({"--wallpaper", "--output", "DP-2", "--fps", "24", "--pause-on-battery"});
    EXPECT_TRUE(settings.wallpaper);
    EXPECT_EQ("DP-2", settings.outputName);
    EXPECT_EQ(24u, settings.fps);
    EXPECT_TRUE(settings.pauseOnBattery);
    // Off unless asked for: the display's rate, battery or not.
    const ViewSettings plain = Parse({});
    EXPECT_EQ(0u, plain.fps);
    EXPECT_FALSE(plain.pauseOnBattery);
    EXPECT_FALSE(plain.wallpaper);
}

TEST(ViewOptions, SingleDashWallpaperAsXScreenSaverWritesIt) { EXPECT_TRUE(Parse({"-wallpaper"}).wallpaper); }

TEST(ViewTargets, WallpaperUnderWaylandIsTheBackgroundOfItsOutputs)
{
    const ViewSettings settings = Parse({"--wallpaper"});
    const ViewTarget target = ChooseViewTarget(settings, nullptr, "wayland-1", ":0");
    EXPECT_EQ(ViewTarget::Kind::WaylandWallpaper, target.kind);
    EXPECT_TRUE(target.oneScene);
    // No X display either: Wayland's default socket is the one to try.
    EXPECT_EQ(ViewTarget::Kind::WaylandWallpaper, ChooseViewTarget(settings, nullptr, nullptr, nullptr).kind);
}

TEST(ViewTargets, WallpaperUnderX11IsTheRootWindowWithOneScene)
{
    const ViewSettings settings = Parse({"--wallpaper"});
    for (const char* wayland : {static_cast<const char*>(nullptr), ""}) {
        const ViewTarget target = ChooseViewTarget(settings, nullptr, wayland, ":0");
        EXPECT_EQ(ViewTarget::Kind::Root, target.kind);
        EXPECT_EQ("--wallpaper", target.origin);
        EXPECT_TRUE(target.oneScene);
    }
    // --root itself stays the host it was: a new device on a new size.
    EXPECT_FALSE(ChooseViewTarget(Parse({"--root"}), nullptr, nullptr, ":0").oneScene);
}

// XScreenSaver's window wins over any wallpaper: the hack draws where it is told.
TEST(ViewTargets, XScreenSaversWindowWinsOverTheWallpaper)
{
    const ViewTarget target = ChooseViewTarget(Parse({"--wallpaper"}), "0x1200007", "wayland-0", ":0");
    EXPECT_EQ(ViewTarget::Kind::WindowId, target.kind);
    EXPECT_EQ(0x1200007ul, target.windowId);
}

TEST(ViewOptions, ConflictingWallpaperOptionsAreRefused)
{
    EXPECT_THROW(Parse({"--wallpaper", "--window-id", "7"}), UsageError);
    EXPECT_THROW(Parse({"--wallpaper", "--root"}), UsageError);
    EXPECT_THROW(Parse({"--wallpaper", "--size", "640x480"}), UsageError);
    EXPECT_THROW(Parse({"--output", "HDMI-A-1"}), UsageError);
    EXPECT_THROW(Parse({"--fps", "0"}), UsageError);
    EXPECT_THROW(Parse({"--fps", "1001"}), UsageError);
}

}  // namespace
