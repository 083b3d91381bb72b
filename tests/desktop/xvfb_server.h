// A virtual X server of the test's own, on a display number Xvfb picks
// itself (-displayfd), so that tests running side by side never share one.
#pragma once

#include <string>

#include <sys/types.h>

class XvfbServer {
public:
    // Starts Xvfb with one screen of width x height x 24 and waits until it
    // accepts clients; Ok() tells whether that worked. Without glx, the
    // server offers no OpenGL, as some remote displays do not.
    XvfbServer(int width, int height, bool glx = true);
    ~XvfbServer();  // ends the server
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    bool Ok() const { return !display_.empty(); }
    // ":42"; also set as DISPLAY for the test process and its children.
    const std::string& Display() const { return display_; }
    const std::string& Failure() const { return failure_; }

private:
    pid_t pid_ = -1;
    std::string display_;
    std::string failure_;
};
