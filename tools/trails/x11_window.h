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
