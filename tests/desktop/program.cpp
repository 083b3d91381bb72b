#include "tests/desktop/program.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string TemporaryDirectory(const char* prefix)
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/" + prefix + "-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr)
        std::abort();
    return pattern;
}

}  // namespace

std::string ReadWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteWholeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

int Count(const std::string& text, const std::string& what)
{
    int count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

bool OnPath(const std::string& program)
{
    const char* path = std::getenv("PATH");
    std::istringstream directories(path != nullptr ? path : "/usr/bin:/bin");
    std::string directory;
    while (std::getline(directories, directory, ':')) {
        if (!directory.empty() && access((directory + "/" + program).c_str(), X_OK) == 0)
            return true;
    }
    return false;
}

ScratchDirectory::ScratchDirectory() : path_(TemporaryDirectory("trails-test")) {}
ScratchDirectory::~ScratchDirectory() { std::system(("rm -rf '" + path_ + "'").c_str()); }

std::vector<std::string> ScratchDirectory::Entries() const
{
    std::vector<std::string> names;
    if (DIR* directory = opendir(path_.c_str())) {
        while (const dirent* entry = readdir(directory)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        closedir(directory);
    }
    std::sort(names.begin(), names.end());
    return names;
}

Program::Program(const std::vector<std::string>& arguments, const std::vector<std::string>& environment)
    : directory_(TemporaryDirectory("trails-program"))
{
    std::vector<std::string> copies = arguments;
    std::vector<char*> argv;
    for (std::string& argument : copies)
        argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    const std::string outPath = directory_ + "/stdout";
    const std::string errPath = directory_ + "/stderr";
    pid_ = fork();
    if (pid_ == 0) {
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int in = open("/dev/null", O_RDONLY);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        dup2(in, STDIN_FILENO);
        // Under the sanitizer build: SDL and the X and GL libraries keep some
        // allocations until exit by design; LeakChecked turns the reports on.
        setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
        for (const std::string& setting : environment)
            putenv(const_cast<char*>(setting.c_str()));
        execvp(argv[0], argv.data());
        _exit(127);
    }
}

Program::~Program()
{
    if (pid_ > 0 && !exited_) {
        kill(pid_, SIGKILL);
        WaitForExit(10.0);
    }
    unlink((directory_ + "/stdout").c_str());
    unlink((directory_ + "/stderr").c_str());
    rmdir(directory_.c_str());
}

bool Program::WaitForOutput(const std::string& text, double seconds, int times)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (Count(Out(), text) < times) {
        if (std::chrono::steady_clock::now() >= end || (WaitForExit(0.0) && Count(Out(), text) < times)) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

bool Program::WaitForExit(double seconds)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!exited_) {
        int status = 0;
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            exited_ = true;
            exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            break;
        }
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void Program::Signal(int signal)
{
    if (!exited_)
        kill(pid_, signal);
}

std::string Program::Out() const { return ReadWholeFile(directory_ + "/stdout"); }
std::string Program::Err() const { return ReadWholeFile(directory_ + "/stderr"); }

Outcome RunProgram(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
                   double seconds)
{
    Program program(arguments, environment);
    Outcome outcome;
    if (!program.WaitForExit(seconds))
        return outcome;
    outcome.exitStatus = program.ExitStatus();
    outcome.out = program.Out();
    outcome.err = program.Err();
    return outcome;
}

std::vector<std::string> LeakChecked(std::vector<std::string> environment)
{
    environment.push_back("ASAN_OPTIONS=detect_leaks=1");
    environment.push_back("LSAN_OPTIONS=suppressions=" LSAN_SUPPRESSIONS ":print_suppressions=0:exitcode=0");
    return environment;
}

std::string LeaksInOurCode(const std::string& err)
{
    std::string found;
    const std::string marker = "leak of ";
    for (size_t at = err.find(marker); at != std::string::npos;) {
        const size_t next = err.find(marker, at + 1);
        const std::string report = err.substr(at, next == std::string::npos ? std::string::npos : next - at);
        for (const char* ours : {"/tools/", "/core/", "/render/", "/plugin/", "/platform/"}) {
            if (report.find(std::string(CHAOSTRAILS_SOURCE_DIR) + ours) != std::string::npos) {
                found += report;
                break;
            }
        }
        at = next;
    }
    return found;
}

std::string TrailsProgram() { return TRAILS_PROGRAM; }
std::string ScreenHackProgram()
{
    const std::string trails = TRAILS_PROGRAM;
    return trails.substr(0, trails.find_last_of('/') + 1) + "chaos-trails";
}

long long ViewStatus::FramesOn(const std::string& output) const
{
    // Listed after the summary ("; NAME N frames") or another output (", ").
    for (const char* before : {"; ", ", "}) {
        const size_t at = line.find(before + output + " ");
        if (at != std::string::npos)
            return std::atoll(line.c_str() + at + 2 + output.size() + 1);
    }
    return -1;
}

ViewStatus AskViewStatus(Program& view)
{
    const std::string marker = "trails view: now: ";
    const int before = Count(view.Out(), marker);
    view.Signal(SIGUSR1);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (Count(view.Out(), marker) <= before && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ViewStatus status;
    const std::string out = view.Out();
    if (Count(out, marker) <= before)
        return status;
    const size_t at = out.rfind(marker);
    status.line = out.substr(at, out.find('\n', at) - at);
    status.frames = std::atoll(status.line.c_str() + marker.size());
    const size_t ticks = status.line.find(" frames and ");
    if (ticks != std::string::npos)
        status.ticks = std::atoll(status.line.c_str() + ticks + 12);
    return status;
}

double CpuSeconds(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t end = text.rfind(')');
    if (end == std::string::npos)
        return 0.0;
    std::istringstream fields(text.substr(end + 2));
    std::string field;
    double ticks = 0.0;
    // From the third field on: utime is the 14th, stime the 15th.
    for (int n = 3; n <= 15 && fields >> field; ++n) {
        if (n == 14 || n == 15)
            ticks += std::atof(field.c_str());
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

void ExpectCleanEndOnSigterm(Program& view)
{
    const auto sent = std::chrono::steady_clock::now();
    view.Signal(SIGTERM);
    ASSERT_TRUE(view.WaitForExit(5.0)) << "still running 5 s after SIGTERM";
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count(), 1.0);
    EXPECT_EQ(0, view.ExitStatus()) << view.Err();
    EXPECT_NE(std::string::npos, view.Out().find("trails view: at the end: ")) << view.Out();
    EXPECT_EQ("", LeaksInOurCode(view.Err()));
}
