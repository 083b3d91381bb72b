#include "tools/trails/render_options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tools/trails/command_line.h"

namespace {

std::string Lowercase(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

}  // namespace

double ParseSeconds(const std::string& option, const std::string& text)
{
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(begin, &end);
    // No hexadecimal, infinities or exponents: a plain decimal number.
    const bool plain = !text.empty() && text.find_first_not_of("0123456789.") == std::string::npos;
    if (!plain || *end != '\0' || errno != 0 || !(value > 0.0) || value > 86400.0) {
        throw UsageError(option + ": expected a positive number of seconds (at most 86400), got '" + text + "'");
    }
    return value;
}

OutputKind OutputKindOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    if (name.empty() || dot == std::string::npos || dot == 0) {
        throw UsageError("--out: '" + path + "' has no extension; expected .png, .mp4 or .webm");
    }
    const std::string extension = Lowercase(name.substr(dot));
    if (extension == ".png")
        return OutputKind::Png;
    if (extension == ".mp4")
        return OutputKind::Mp4;
    if (extension == ".webm")
        return OutputKind::Webm;
    throw UsageError("--out: unknown extension '" + name.substr(dot) + "' in '" + path +
                     "'; expected .png, .mp4 or .webm");
}

const char* ExtensionOf(OutputKind kind)
{
    switch (kind) {
    case OutputKind::Png:
        return "png";
    case OutputKind::Mp4:
        return "mp4";
    case OutputKind::Webm:
        return "webm";
    }
    return "";
}

std::string DirectoryOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

void CheckOutputWritable(const std::string& path)
{
    struct stat status;
    if (stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
        throw std::runtime_error("cannot write '" + path + "': it is a directory");
    }
    const std::string directory = DirectoryOf(path);
    // Creating a file is the only reliable test: permissions alone miss
    // read-only mounts, and say nothing when running as root.
    const std::string probe = directory + "/.trails-probe.tmp" + std::to_string(static_cast<long>(getpid()));
    int descriptor = -1;
    int error = 0;
    for (int attempt = 0; attempt < 2 && descriptor < 0; ++attempt) {
        descriptor = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        error = errno;
        // A probe left by a killed run of the same process id is ours to remove.
        if (descriptor < 0 && error == EEXIST)
            unlink(probe.c_str());
    }
    if (descriptor < 0) {
        throw std::runtime_error("cannot write '" + path + "': directory '" + directory + "': " + std::strerror(error));
    }
    close(descriptor);
    unlink(probe.c_str());
}
