#include "tools/trails/command_line.h"

#include <cerrno>
#include <cstdlib>
#include <utility>

namespace {

bool AllDigits(const std::string& text)
{
    if (text.empty())
        return false;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

int32_t ParseSigned32(const std::string& text, const std::string& what)
{
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(begin, &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || value < INT32_MIN || value > INT32_MAX) {
        throw UsageError(what + ": not a 32-bit integer: '" + text + "'");
    }
    return static_cast<int32_t>(value);
}

}  // namespace

uint32_t ParseUnsigned32(const std::string& option, const std::string& text)
{
    if (!AllDigits(text) || text.size() > 10 || std::strtoull(text.c_str(), nullptr, 10) > 0xFFFFFFFFull) {
        throw UsageError(option + ": not an unsigned 32-bit number: '" + text + "'");
    }
    return static_cast<uint32_t>(std::strtoull(text.c_str(), nullptr, 10));
}

ScreenRect ParseRect(const std::string& text)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        parts.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    if (parts.size() != 4) {
        throw UsageError("--rect: expected L,T,R,B (four integers), got '" + text + "'");
    }
    ScreenRect rect;
    rect.left = ParseSigned32(parts[0], "--rect");
    rect.top = ParseSigned32(parts[1], "--rect");
    rect.right = ParseSigned32(parts[2], "--rect");
    rect.bottom = ParseSigned32(parts[3], "--rect");
    return rect;
}

std::vector<ScheduleStep> ParseSchedule(const std::string& text)
{
    std::vector<ScheduleStep> steps;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        const std::string token = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        const char kind = token.empty() ? '\0' : token[0];
        const std::string count = token.size() > 1 ? token.substr(1) : std::string();
        bool valid = false;
        ScheduleStep step{kind, 1};
        if ((kind == 's' || kind == 'x') && token.size() == 1) {
            valid = true;
        } else if (kind == 't' || kind == 'f') {
            if (count.empty()) {
                valid = true;
            } else if (AllDigits(count) && count.size() <= 12) {
                step.count = std::strtoull(count.c_str(), nullptr, 10);
                valid = true;
            }
        }
        if (!valid) {
            throw UsageError("--schedule: unknown token '" + token + "' (expected s, x, t, tN, f or fN)");
        }
        steps.push_back(step);
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return steps;
}

OptionReader::OptionReader(int argc, char** argv, int first, std::vector<std::string> flags, bool singleDash)
    : flags_(std::move(flags)), singleDash_(singleDash)
{
    for (int i = first; i < argc; ++i)
        arguments_.emplace_back(argv[i]);
}

bool OptionReader::Next(std::string& name, std::string& value)
{
    if (position_ >= arguments_.size())
        return false;
    name = arguments_[position_++];
    if (singleDash_ && name.size() >= 2 && name[0] == '-' && name[1] != '-')
        name.insert(0, "-");
    if (name.size() < 3 || name.compare(0, 2, "--") != 0) {
        throw UsageError("unexpected argument '" + name + "'");
    }
    const size_t equals = name.find('=');
    if (equals != std::string::npos) {
        value = name.substr(equals + 1);
        name = name.substr(0, equals);
        return true;
    }
    for (const std::string& flag : flags_) {
        if (name == flag) {
            value.clear();
            return true;
        }
    }
    if (position_ >= arguments_.size()) {
        throw UsageError(name + ": missing value");
    }
    value = arguments_[position_++];
    return true;
}

bool WantsHelp(int argc, char** argv, int first)
{
    for (int i = first; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--help" || argument == "-h" || argument == "-help")
            return true;
    }
    return false;
}

FrameSize ParseSize(const std::string& option, const std::string& text)
{
    const size_t cross = text.find_first_of("xX*");
    const std::string width = cross == std::string::npos ? text : text.substr(0, cross);
    const std::string height = cross == std::string::npos ? std::string() : text.substr(cross + 1);
    if (!AllDigits(width) || !AllDigits(height) || width.size() > 6 || height.size() > 6) {
        throw UsageError(option + ": expected WIDTHxHEIGHT such as 1920x1200, got '" + text + "'");
    }
    FrameSize size;
    size.width = std::atoi(width.c_str());
    size.height = std::atoi(height.c_str());
    if (size.width < minFrameSide || size.height < minFrameSide || size.width > maxFrameSide ||
        size.height > maxFrameSide) {
        throw UsageError(option + ": each side must be " + std::to_string(minFrameSide) + " to " +
                         std::to_string(maxFrameSide) + " pixels, got '" + text + "'");
    }
    return size;
}

uint32_t ParseCount(const std::string& option, const std::string& text, uint32_t minimum, uint32_t maximum)
{
    if (!AllDigits(text) || text.size() > 10 || std::strtoull(text.c_str(), nullptr, 10) < minimum ||
        std::strtoull(text.c_str(), nullptr, 10) > maximum) {
        throw UsageError(option + ": expected a whole number from " + std::to_string(minimum) + " to " +
                         std::to_string(maximum) + ", got '" + text + "'");
    }
    return static_cast<uint32_t>(std::strtoull(text.c_str(), nullptr, 10));
}
