// The command lines Windows starts a screensaver with, as ChaosTrails.scr
// reads them.
#include "tools/viewer/screensaver_arguments.h"

#include <gtest/gtest.h>

namespace {

using Mode = ScreensaverArguments::Mode;

TEST(ScreensaverArguments, TheFormsWindowsUses)
{
    const struct {
        const char* line;
        Mode mode;
        uintptr_t window;
    } cases[] = {
        {"/s", Mode::Fullscreen, 0},
        {"/S", Mode::Fullscreen, 0},
        {"-s", Mode::Fullscreen, 0},
        {"  /s  ", Mode::Fullscreen, 0},
        {"/p 1234", Mode::Preview, 1234},
        {"/P:4097", Mode::Preview, 4097},
        {"/p   65536 ", Mode::Preview, 65536},
        {"/c:330", Mode::Settings, 330},
        {"/c 330", Mode::Settings, 330},
        {"/c", Mode::Settings, 0},
        {"-C", Mode::Settings, 0},
        {"", Mode::Settings, 0},
        {"   ", Mode::Settings, 0},
    };
    for (const auto& expected : cases) {
        const ScreensaverArguments arguments = ParseScreensaverArguments(expected.line);
        EXPECT_EQ(expected.mode, arguments.mode) << "'" << expected.line << "': " << arguments.problem;
        EXPECT_EQ(expected.window, arguments.window) << "'" << expected.line << "'";
    }
}

TEST(ScreensaverArguments, AnythingElseIsRefusedWithTheReason)
{
    const struct {
        const char* line;
        const char* problem;
    } cases[] = {
        {"/p", "/p needs the decimal handle"},
        {"/p 0", "/p needs the decimal handle"},
        {"/p 0x1F", "got '0x1F'"},
        {"/p -5", "got '-5'"},
        {"/p 99999999999999999999999", "/p needs the decimal handle"},
        {"/c:abc", "/c takes the decimal handle"},
        {"/a", "unknown argument '/a'"},
        {"/x 12", "unknown argument '/x 12'"},
        {"/", "unknown argument '/'"},
        {"settings", "unknown argument 'settings'"},
    };
    for (const auto& bad : cases) {
        const ScreensaverArguments arguments = ParseScreensaverArguments(bad.line);
        EXPECT_EQ(Mode::Invalid, arguments.mode) << "'" << bad.line << "'";
        EXPECT_NE(std::string::npos, arguments.problem.find(bad.problem))
            << "'" << bad.line << "': " << arguments.problem;
    }
}

}  // namespace
