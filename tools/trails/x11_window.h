// An existing X window that `trails view` draws into (by id, the root window,
// or XScreenSaver's): found and watched on a connection of our own, so that
// the view can follow its size and stop when it is destroyed. SDL draws into
// it through its own connection; SDL selects no events on a window it did
// not create, so the size is polled here.
#pragma once

#include <string>

#include "tools/trails/render_options.h"
#include "tools/trails/view_options.h"

struct _XDisplay;

class ForeignWindow {
public:
    // Opens the display and checks that the window exists; throws
    // std::runtime_error saying what is wrong.
    explicit ForeignWindow(const ViewTarget& target);
    ~ForeignWindow();
    ForeignWindow(const ForeignWindow&) = delete;
    ForeignWindow& operator=(const ForeignWindow&) = delete;

    unsigned long Id() const { return window_; }
    // "window 0x1200007 (--window-id)", "the root window 0x1d7 (--root)".
    const std::string& Description() const { return description_; }
    // The window's size now; false once the window has gone (destroyed by
    // its owner, or any X error about it on any connection).
    bool CurrentSize(FrameSize& size);
    bool Gone() const;

private:
    _XDisplay* display_ = nullptr;
    unsigned long window_ = 0;
    std::string description_;
};

// Whether anyone can see a window: X tells its clients when a window is
// fully covered by others (VisibilityFullyObscured) and when it is unmapped
// (minimised, on another virtual desktop, its embedding tool hidden). Read
// on a connection of our own, which selects only those events, so that it
// works the same for SDL's window and for someone else's.
class XVisibilityWatch {
public:
    // False from Ok() when the display or the window cannot be had; the view
    // then always draws, as before.
    explicit XVisibilityWatch(unsigned long window);
    ~XVisibilityWatch();
    XVisibilityWatch(const XVisibilityWatch&) = delete;
    XVisibilityWatch& operator=(const XVisibilityWatch&) = delete;

    bool Ok() const { return display_ != nullptr; }
    // Reads what X sent since; true while the window is mapped and not
    // fully covered.
    bool Visible();
    // Sleeps until X sends something about the window, or `milliseconds`.
    void Wait(int milliseconds);

private:
    _XDisplay* display_ = nullptr;
    unsigned long window_ = 0;
    bool mapped_ = true;
    bool obscured_ = false;
};
