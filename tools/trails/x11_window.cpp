#include "tools/trails/x11_window.h"

#include <X11/Xlib.h>

#include <cstdio>
#include <stdexcept>

#include <poll.h>
#include <unistd.h>

namespace {

// Xlib reports errors through one handler per process. Ours takes the errors
// about the watched window. On our own connection they mean the window has
// gone, which the view then notices and ends. On another connection they
// mean SDL or OpenGL was drawing into it as it went: Mesa's software
// rasterizer then goes on with a drawable of no size and corrupts its memory,
// so the process ends here, at once and with status 0, as a hack whose window
// is taken away should. Everything else goes on to the handler before ours.
XErrorHandler previousHandler = nullptr;
unsigned long watchedWindow = 0;
Display* watchingDisplay = nullptr;
volatile bool watchedWindowGone = false;

int OnXError(Display* display, XErrorEvent* error)
{
    if (display == watchingDisplay) {
        watchedWindowGone = true;
        return 0;
    }
    if (watchedWindow != 0 && error->resourceid == watchedWindow) {
        std::printf("trails view: the window went away while being drawn\n");
        std::fflush(stdout);
        _exit(0);
    }
    return previousHandler != nullptr ? previousHandler(display, error) : 0;
}

std::string Hex(unsigned long value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%lx", value);
    return text;
}

}  // namespace

ForeignWindow::ForeignWindow(const ViewTarget& target)
{
    display_ = XOpenDisplay(nullptr);
    if (display_ == nullptr)
        throw std::runtime_error("cannot open the X display (is DISPLAY set?)");
    window_ = target.kind == ViewTarget::Kind::Root ? DefaultRootWindow(display_) : target.windowId;
    description_ = (target.kind == ViewTarget::Kind::Root ? "the root window " : "window ") + Hex(window_) + " (" +
                   target.origin + ")";
    watchingDisplay = display_;
    watchedWindow = window_;
    watchedWindowGone = false;
    previousHandler = XSetErrorHandler(OnXError);
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display_, window_, &attributes) == 0 || watchedWindowGone) {
        XSetErrorHandler(previousHandler);
        watchedWindow = 0;
        watchingDisplay = nullptr;
        XCloseDisplay(display_);
        throw std::runtime_error("there is no " + description_ + " on this display");
    }
}

ForeignWindow::~ForeignWindow()
{
    XSetErrorHandler(previousHandler);
    watchedWindow = 0;
    watchingDisplay = nullptr;
    XCloseDisplay(display_);
}

bool ForeignWindow::CurrentSize(FrameSize& size)
{
    if (watchedWindowGone)
        return false;
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display_, window_, &attributes) == 0 || watchedWindowGone) {
        watchedWindowGone = true;
        return false;
    }
    size.width = attributes.width;
    size.height = attributes.height;
    return true;
}

bool ForeignWindow::Gone() const { return watchedWindowGone; }

XVisibilityWatch::XVisibilityWatch(unsigned long window) : window_(window)
{
    display_ = XOpenDisplay(nullptr);
    if (display_ == nullptr)
        return;
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display_, window_, &attributes) == 0) {
        XCloseDisplay(display_);
        display_ = nullptr;
        return;
    }
    mapped_ = attributes.map_state != IsUnmapped;
    // Other clients' selections on the window stay as they are: X keeps one
    // event mask per client.
    XSelectInput(display_, window_, VisibilityChangeMask | StructureNotifyMask);
    XSync(display_, False);
}

XVisibilityWatch::~XVisibilityWatch()
{
    if (display_ != nullptr)
        XCloseDisplay(display_);
}

bool XVisibilityWatch::Visible()
{
    if (display_ == nullptr)
        return true;
    while (XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        if (event.xany.window != window_)
            continue;
        if (event.type == VisibilityNotify) {
            obscured_ = event.xvisibility.state == VisibilityFullyObscured;
        } else if (event.type == MapNotify) {
            mapped_ = true;
        } else if (event.type == UnmapNotify) {
            mapped_ = false;
        }
    }
    return mapped_ && !obscured_;
}

void XVisibilityWatch::Wait(int milliseconds)
{
    if (display_ == nullptr || XPending(display_) > 0)
        return;
    pollfd waiting = {ConnectionNumber(display_), POLLIN, 0};
    poll(&waiting, 1, milliseconds);
}
