// The command line Windows gives a screensaver:
//   /s           run fullscreen
//   /p HWND      a preview inside that window (the settings' little screen)
//   /c, /c:HWND  the settings, modal to that window or the foreground one
//   (nothing)    the settings too (the "Configure" of the file's menu)
// Letters in either case, '-' for '/', ':' or spaces before the number.
// Windows itself passes the window as a decimal number.
#pragma once

#include <cstdint>
#include <string>

struct ScreensaverArguments {
    enum class Mode { Fullscreen, Preview, Settings, Invalid };
    Mode mode = Mode::Settings;
    uintptr_t window = 0;  // Preview: the parent; Settings: the owner, 0 for the foreground window
    std::string problem;   // Invalid: what is wrong, for a message box
};

// `commandLine` is what follows the program's name.
ScreensaverArguments ParseScreensaverArguments(const std::string& commandLine);
