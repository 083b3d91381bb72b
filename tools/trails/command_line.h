// Parsing helpers shared by the trails subcommands.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// A bad command line: the message names the problem; the tool exits with 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct ScreenRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 1920;
    int32_t bottom = 1200;
};

// One step of a schedule: 's' set-up, 'x' free, 't' ticks, 'f' frames.
struct ScheduleStep {
    char kind;
    uint64_t count;
};

// Sizes and counts, shared with trails-viewer.exe.
struct FrameSize {
    int width = 0;
    int height = 0;
};

// The largest back buffer either command accepts on a side; 8192 x 8192 is
// already half a gigabyte of colour and depth.
constexpr int maxFrameSide = 8192;
constexpr int minFrameSide = 16;

// "WxH" (also "W*H" or with a capital X); each side minFrameSide..maxFrameSide.
FrameSize ParseSize(const std::string& option, const std::string& text);
// A whole number from minimum to maximum.
uint32_t ParseCount(const std::string& option, const std::string& text, uint32_t minimum, uint32_t maximum);
uint32_t ParseUnsigned32(const std::string& option, const std::string& text);
ScreenRect ParseRect(const std::string& text);
std::vector<ScheduleStep> ParseSchedule(const std::string& text);

// Walks "--name value" pairs; the value of an option given twice is the last.
// `flags` name the options that take no value (their value reads as empty).
// With `singleDash`, "-name" is read as "--name", as XScreenSaver's hacks
// take their options.
class OptionReader {
public:
    OptionReader(int argc, char** argv, int first, std::vector<std::string> flags = {}, bool singleDash = false);
    bool Next(std::string& name, std::string& value);

private:
    std::vector<std::string> arguments_;
    std::vector<std::string> flags_;
    bool singleDash_;
    size_t position_ = 0;
};

// Whether the arguments from `first` on ask for help (--help or -h): every
// subcommand then prints its usage and exits with 0, whatever else is there.
bool WantsHelp(int argc, char** argv, int first);
