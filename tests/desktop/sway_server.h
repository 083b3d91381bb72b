// A Sway of the test's own: headless (outputs without a screen, drawn by
// pixman), or nested in another one (each of its outputs a window there, so
// that closing the window unplugs the output). Sway will not run as root:
// under root it runs as nobody (uid 65534) in a runtime directory that user
// owns; root's clients (the view, grim, swaymsg) reach its sockets all the
// same.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tests/desktop/program.h"

class SwayServer {
public:
    // Starts Sway with these configuration lines and waits until it takes
    // clients; Ok() says whether it did, Failure() why not. With `parent`,
    // Sway runs nested in it, in the parent's runtime directory.
    explicit SwayServer(const std::vector<std::string>& configuration, const SwayServer* parent = nullptr);
    ~SwayServer();  // ends Sway and removes its runtime directory
    SwayServer(const SwayServer&) = delete;
    SwayServer& operator=(const SwayServer&) = delete;

    bool Ok() const { return failure_.empty(); }
    const std::string& Failure() const { return failure_; }
    // XDG_RUNTIME_DIR and WAYLAND_DISPLAY for a client of this Sway.
    std::vector<std::string> ClientEnvironment() const;
    // swaymsg with these arguments; true when Sway says it succeeded.
    bool Message(const std::vector<std::string>& arguments, std::string* reply = nullptr) const;
    // What the output shows, through grim, as a PNG file.
    bool Screenshot(const std::string& output, const std::string& path) const;

private:
    bool MakeRuntimeDirectory();
    bool WaitUntilReady();

    std::unique_ptr<Program> sway_;
    std::string runtimeDirectory_;
    bool ownsDirectory_ = false;
    std::string configPath_;
    std::string display_;  // "wayland-1"
    std::string ipcSocket_;
    std::string failure_;
};
