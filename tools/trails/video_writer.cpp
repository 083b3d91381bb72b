#include "tools/trails/video_writer.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string TemporaryNameFor(const std::string& path, const char* extension)
{
    // out/clip.mp4 -> out/clip.tmp1234.mp4: the pid keeps two runs apart and
    // the extension is the target's.
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    const std::string stem =
        (dot == std::string::npos || (slash != std::string::npos && dot < slash)) ? path : path.substr(0, dot);
    return stem + ".tmp" + std::to_string(static_cast<long>(getpid())) + "." + extension;
}

bool LittleEndian()
{
    const uint32_t word = 1;
    uint8_t first = 0;
    std::memcpy(&first, &word, 1);
    return first == 1;
}

}  // namespace

std::string VideoWriter::FindFfmpeg()
{
    const char* path = std::getenv("PATH");
    if (path == nullptr)
        return std::string();
    const std::string directories = path;
    size_t start = 0;
    for (;;) {
        const size_t colon = directories.find(':', start);
        const size_t length = colon == std::string::npos ? std::string::npos : colon - start;
        std::string directory = directories.substr(start, length);
        if (directory.empty())
            directory = ".";
        const std::string candidate = directory + "/ffmpeg";
        struct stat status;
        if (stat(candidate.c_str(), &status) == 0 && S_ISREG(status.st_mode) && access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        if (colon == std::string::npos)
            break;
        start = colon + 1;
    }
    return std::string();
}

VideoWriter::VideoWriter(const std::string& ffmpeg, const std::string& path, VideoFormat format, int width, int height,
                         int framesPerSecond)
    : path_(path),
      temporaryPath_(TemporaryNameFor(path, format == VideoFormat::Mp4 ? "mp4" : "webm")),
      frameBytes_(static_cast<size_t>(width) * height * 4)
{
    // A8R8G8B8 words in memory order: B, G, R, A on a little-endian machine.
    const char* pixelFormat = LittleEndian() ? "bgra" : "argb";
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    const std::string rate = std::to_string(framesPerSecond);
    std::vector<std::string> arguments = {
        ffmpeg,      "-hide_banner", "-loglevel", "error",      "-nostats", "-f", "rawvideo", "-pix_fmt",
        pixelFormat, "-video_size",  size,        "-framerate", rate,       "-i", "pipe:0",   "-an"};
    if (format == VideoFormat::Mp4) {
        arguments.insert(arguments.end(), {"-c:v", "libx264", "-preset", "fast", "-crf", "20", "-pix_fmt", "yuv420p",
                                           "-movflags", "+faststart", "-f", "mp4"});
    } else {
        arguments.insert(arguments.end(), {"-c:v", "libvpx-vp9", "-crf", "31", "-b:v", "0", "-row-mt", "1", "-deadline",
                                           "good", "-cpu-used", "4", "-pix_fmt", "yuv420p", "-f", "webm"});
    }
    arguments.insert(arguments.end(), {"-y", temporaryPath_});

    log_ = std::tmpfile();
    if (log_ == nullptr) {
        throw std::runtime_error(std::string("cannot create a temporary file: ") + std::strerror(errno));
    }
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        std::fclose(log_);
        throw std::runtime_error(std::string("cannot create a pipe to ffmpeg: ") + std::strerror(errno));
    }

    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    const int logDescriptor = fileno(log_);

    child_ = fork();
    if (child_ == 0) {
        // Only async-signal-safe calls from here to exec.
        dup2(ends[0], STDIN_FILENO);
        const int devNull = open("/dev/null", O_WRONLY);
        if (devNull >= 0)
            dup2(devNull, STDOUT_FILENO);
        dup2(logDescriptor, STDERR_FILENO);
        // The render ignores SIGPIPE; ffmpeg gets the default back. In a
        // process group of its own, a Ctrl-C reaches only the render, which
        // then stops ffmpeg itself and removes what it wrote.
        signal(SIGPIPE, SIG_DFL);
        setpgid(0, 0);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(ends[0]);
    if (child_ < 0) {
        close(ends[1]);
        std::fclose(log_);
        throw std::runtime_error(std::string("cannot start ffmpeg: ") + std::strerror(errno));
    }
    pipe_ = ends[1];
}

VideoWriter::~VideoWriter()
{
    if (!finished_) {
        Stop();
        unlink(temporaryPath_.c_str());
    }
    if (log_ != nullptr)
        std::fclose(log_);
}

void VideoWriter::Stop()
{
    if (pipe_ >= 0) {
        close(pipe_);
        pipe_ = -1;
    }
    if (child_ > 0) {
        kill(child_, SIGTERM);
        Reap();
    }
}

std::string VideoWriter::Failure(const std::string& what)
{
    // ffmpeg's last line says why (unknown encoder, disk full, ...).
    std::string said;
    if (log_ != nullptr) {
        std::fflush(log_);
        std::rewind(log_);
        char line[512];
        while (std::fgets(line, sizeof line, log_) != nullptr) {
            std::string text = line;
            while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
                text.pop_back();
            if (!text.empty())
                said = text;
        }
    }
    return said.empty() ? what : what + ": " + said;
}

int VideoWriter::Reap()
{
    int status = 0;
    while (waitpid(child_, &status, 0) < 0) {
        if (errno != EINTR) {
            status = -1;
            break;
        }
    }
    child_ = -1;
    return status;
}

std::string VideoWriter::DescribeExit(int status)
{
    if (status == -1)
        return Failure("lost track of ffmpeg");
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127)
        return "cannot run ffmpeg";
    if (WIFEXITED(status))
        return Failure("ffmpeg failed (exit status " + std::to_string(WEXITSTATUS(status)) + ")");
    return Failure("ffmpeg failed (signal " + std::to_string(WTERMSIG(status)) + ")");
}

void VideoWriter::WriteFrame(const uint32_t* pixels)
{
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(pixels);
    size_t left = frameBytes_;
    while (left > 0) {
        const ssize_t written = write(pipe_, bytes, left);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            // EPIPE: ffmpeg has exited; its status and output say why.
            close(pipe_);
            pipe_ = -1;
            const int status = Reap();
            throw std::runtime_error(WIFEXITED(status) && WEXITSTATUS(status) == 0
                                         ? Failure("ffmpeg stopped taking frames")
                                         : DescribeExit(status));
        }
        bytes += written;
        left -= static_cast<size_t>(written);
    }
}

void VideoWriter::Finish()
{
    close(pipe_);
    pipe_ = -1;
    const int status = Reap();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error(DescribeExit(status));
    }
    struct stat written;
    if (stat(temporaryPath_.c_str(), &written) != 0 || written.st_size == 0) {
        throw std::runtime_error(Failure("ffmpeg wrote nothing to '" + temporaryPath_ + "'"));
    }
    if (std::rename(temporaryPath_.c_str(), path_.c_str()) != 0) {
        throw std::runtime_error("cannot write '" + path_ + "': " + std::strerror(errno));
    }
    finished_ = true;
}
