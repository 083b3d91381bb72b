// x-scene-check X Y WIDTH HEIGHT: whether that rectangle of the X screen
// (the root window, with every window on it) shows the scene, or whether any
// X window of exactly WIDTH x HEIGHT does (its own contents, also when a
// compositing client keeps them off the screen, as Wine does with OpenGL in
// a child of another program's window). Prints what it saw; exits 0 when it
// looks like the scene, 1 when not, 2 on bad usage. With --verdict FILE it
// also writes "scene" or "no scene" there: a Windows program that starts it
// under Wine does not get its exit status.
//
// For programs that cannot read what OpenGL draws into X windows themselves:
// the Windows end-to-end tests run it under Wine, which runs Unix programs as
// they are, to look at ChaosTrails.scr's preview.
#include "tests/desktop/pictures.h"

#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Xlib's default would end the program over a window that went away while
// it was being read.
int IgnoreXError(Display*, XErrorEvent*) { return 0; }

void WindowsOfSize(Display* display, Window window, int width, int height, std::vector<Window>& found)
{
    XWindowAttributes attributes;
    if (XGetWindowAttributes(display, window, &attributes) != 0 && attributes.width == width &&
        attributes.height == height && attributes.map_state == IsViewable && attributes.c_class == InputOutput) {
        found.push_back(window);
    }
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(display, window, &root, &parent, &children, &count) == 0)
        return;
    for (unsigned int n = 0; n < count; ++n)
        WindowsOfSize(display, children[n], width, height, found);
    if (children != nullptr)
        XFree(children);
}

}  // namespace

int main(int argc, char** argv)
{
    const char* verdict = nullptr;
    if (argc == 7 && std::string(argv[1]) == "--verdict") {
        verdict = argv[2];
        argv += 2;
        argc -= 2;
    }
    if (argc != 5) {
        std::fprintf(stderr, "usage: x-scene-check [--verdict FILE] X Y WIDTH HEIGHT\n");
        return 2;
    }
    const int x = std::atoi(argv[1]), y = std::atoi(argv[2]);
    const int width = std::atoi(argv[3]), height = std::atoi(argv[4]);
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr || width <= 0 || height <= 0) {
        std::fprintf(stderr, "x-scene-check: no display, or an empty rectangle\n");
        return 2;
    }
    XSetErrorHandler(IgnoreXError);
    std::vector<Window> windows;
    WindowsOfSize(display, DefaultRootWindow(display), width, height, windows);
    bool seen = false;
    for (size_t n = 0; n <= windows.size() && !seen; ++n) {
        const bool onScreen = n == 0;
        const Picture picture = onScreen ? GrabWindow(display, DefaultRootWindow(display), x, y, width, height)
                                         : GrabWindow(display, windows[n - 1], 0, 0, width, height);
        if (picture.pixels.empty())
            continue;
        const SceneLook look = Look(picture, 0, 0, width, height);
        if (onScreen) {
            std::printf("%dx%d at (%d, %d)", width, height, x, y);
        } else {
            std::printf("window 0x%lx", windows[n - 1]);
        }
        std::printf(": %.3f lit, %.3f of it red, %.3f white\n", look.lit, look.redStrongest, look.white);
        seen = LooksLikeTheScene(look);
    }
    XCloseDisplay(display);
    if (verdict != nullptr) {
        std::FILE* file = std::fopen(verdict, "w");
        if (file != nullptr) {
            std::fputs(seen ? "scene\n" : "no scene\n", file);
            std::fclose(file);
        }
    }
    return seen ? 0 : 1;
}
