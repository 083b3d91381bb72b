#include "tools/viewer/screensaver_arguments.h"

#include <cstdlib>

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// A window handle: decimal digits, not 0, no larger than a pointer.
bool ParseWindow(const std::string& text, uintptr_t& window)
{
    if (text.empty() || text.size() > 20 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
    if (value == 0 || value > UINTPTR_MAX)
        return false;
    window = static_cast<uintptr_t>(value);
    return true;
}

}  // namespace

ScreensaverArguments ParseScreensaverArguments(const std::string& commandLine)
{
    ScreensaverArguments arguments;
    size_t at = 0;
    while (at < commandLine.size() && IsSpace(commandLine[at]))
        ++at;
    if (at == commandLine.size())
        return arguments;  // no argument: the settings
    if (commandLine[at] != '/' && commandLine[at] != '-') {
        arguments.mode = ScreensaverArguments::Mode::Invalid;
        arguments.problem = "unknown argument '" + commandLine.substr(at) + "'";
        return arguments;
    }
    const size_t start = at;
    const char letter = at + 1 < commandLine.size() ? commandLine[at + 1] : '\0';
    at = at + 2 < commandLine.size() ? at + 2 : commandLine.size();
    // The rest: an optional ':' or spaces, then the window, then nothing.
    if (at < commandLine.size() && commandLine[at] == ':')
        ++at;
    while (at < commandLine.size() && IsSpace(commandLine[at]))
        ++at;
    size_t end = commandLine.size();
    while (end > at && IsSpace(commandLine[end - 1]))
        --end;
    const std::string number = commandLine.substr(at, end - at);

    switch (letter) {
    case 's':
    case 'S':
        arguments.mode = ScreensaverArguments::Mode::Fullscreen;
        return arguments;
    case 'p':
    case 'P':
        arguments.mode = ScreensaverArguments::Mode::Preview;
        if (!ParseWindow(number, arguments.window)) {
            arguments.mode = ScreensaverArguments::Mode::Invalid;
            arguments.problem = "/p needs the decimal handle of the window to preview in, got '" + number + "'";
        }
        return arguments;
    case 'c':
    case 'C':
        arguments.mode = ScreensaverArguments::Mode::Settings;
        if (!number.empty() && !ParseWindow(number, arguments.window)) {
            arguments.mode = ScreensaverArguments::Mode::Invalid;
            arguments.problem = "/c takes the decimal handle of the settings' owner, got '" + number + "'";
        }
        return arguments;
    default:
        arguments.mode = ScreensaverArguments::Mode::Invalid;
        arguments.problem = "unknown argument '" + commandLine.substr(start, end - start) + "'";
        return arguments;
    }
}
