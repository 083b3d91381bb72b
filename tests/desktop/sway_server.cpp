#include "tests/desktop/sway_server.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Sway refuses root; the test's Sway runs as this user then.
const uid_t swayUser = 65534;

bool Exists(const std::string& path)
{
    struct stat status;
    return stat(path.c_str(), &status) == 0;
}

}  // namespace

SwayServer::SwayServer(const std::vector<std::string>& configuration, const SwayServer* parent)
{
    if (!OnPath("sway")) {
        failure_ = "sway is not installed";
        return;
    }
    if (parent != nullptr) {
        runtimeDirectory_ = parent->runtimeDirectory_;
    } else if (!MakeRuntimeDirectory()) {
        return;
    }
    configPath_ = runtimeDirectory_ + "/config-" + std::to_string(getpid()) + "-" + std::to_string(rand());
    {
        std::ofstream config(configPath_);
        config << "xwayland disable\n";
        for (const std::string& line : configuration)
            config << line << "\n";
    }
    chmod(configPath_.c_str(), 0644);
    std::vector<std::string> arguments = {"sway", "--verbose", "--config", configPath_};
    if (geteuid() == 0) {
        arguments.insert(arguments.begin(), {"setpriv", "--reuid=" + std::to_string(swayUser),
                                             "--regid=" + std::to_string(swayUser), "--clear-groups"});
    }
    std::vector<std::string> environment = {"XDG_RUNTIME_DIR=" + runtimeDirectory_, "WLR_LIBINPUT_NO_DEVICES=1",
                                            "WLR_RENDERER=pixman", "HOME=" + runtimeDirectory_};
    if (parent != nullptr) {
        environment.push_back("WLR_BACKENDS=wayland");
        environment.push_back("WAYLAND_DISPLAY=" + parent->display_);
    } else {
        environment.push_back("WLR_BACKENDS=headless");
    }
    sway_.reset(new Program(arguments, environment));
    WaitUntilReady();
}

// A directory only Sway's user may enter, as XDG_RUNTIME_DIR must be.
bool SwayServer::MakeRuntimeDirectory()
{
    std::string pattern = "/tmp/trails-sway-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) {
        failure_ = "cannot make a runtime directory";
        return false;
    }
    runtimeDirectory_ = pattern;
    ownsDirectory_ = true;
    if (geteuid() == 0 && chown(runtimeDirectory_.c_str(), swayUser, swayUser) != 0) {
        failure_ = "cannot give the runtime directory to uid 65534";
        return false;
    }
    chmod(runtimeDirectory_.c_str(), 0700);
    return true;
}

// Sway logs (--verbose) the display it serves once it takes clients; its IPC socket is
// named after its process, which setpriv became.
bool SwayServer::WaitUntilReady()
{
    const std::string marker = "Running compositor on wayland display '";
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < end) {
        const std::string log = sway_->Err();
        const size_t at = log.find(marker);
        if (at != std::string::npos) {
            const size_t start = at + marker.size();
            display_ = log.substr(start, log.find('\'', start) - start);
            const uid_t user = geteuid() == 0 ? swayUser : geteuid();
            ipcSocket_ =
                runtimeDirectory_ + "/sway-ipc." + std::to_string(user) + "." + std::to_string(sway_->Pid()) + ".sock";
            for (int n = 0; n < 200 && !Exists(ipcSocket_); ++n)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (Exists(ipcSocket_))
                return true;
            break;
        }
        if (sway_->WaitForExit(0.0))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const std::string log = sway_->Err();
    failure_ = "sway did not start: " + log.substr(log.size() > 600 ? log.size() - 600 : 0);
    return false;
}

SwayServer::~SwayServer()
{
    if (sway_ != nullptr) {
        sway_->Signal(SIGTERM);
        sway_->WaitForExit(10.0);
        sway_.reset();
    }
    if (!configPath_.empty())
        unlink(configPath_.c_str());
    if (ownsDirectory_)
        std::system(("rm -rf '" + runtimeDirectory_ + "'").c_str());
}

std::vector<std::string> SwayServer::ClientEnvironment() const
{
    return {"XDG_RUNTIME_DIR=" + runtimeDirectory_, "WAYLAND_DISPLAY=" + display_};
}

bool SwayServer::Message(const std::vector<std::string>& arguments, std::string* reply) const
{
    std::vector<std::string> command = {"swaymsg", "--socket", ipcSocket_};
    command.insert(command.end(), arguments.begin(), arguments.end());
    const Outcome outcome = RunProgram(command, {}, 30.0);
    if (reply != nullptr)
        *reply = outcome.out;
    return outcome.exitStatus == 0;
}

bool SwayServer::Screenshot(const std::string& output, const std::string& path) const
{
    const Outcome outcome = RunProgram({"grim", "-o", output, path}, ClientEnvironment(), 30.0);
    return outcome.exitStatus == 0;
}
