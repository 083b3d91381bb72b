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
//
// x-scene-check --png FILE WIDTH HEIGHT: whether trails-viewer's screenshot
// (tests/e2e/viewer-screenshot-test.sh, a few hundred ticks and two frames on
// a real device) is of that size and shows the scene: a black background
// (the clear colour, and most of the grid still dark), red trails, and glow.
// Each particle's 9 x 9 halo on the half-resolution layer is opaque and
// bright and shows as solid blobs a few pixels wide: about one lit pixel in
// four centres a lit 3 x 3 square with the glow, one in a thousand without.
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

int CheckScreenshot(const char* path, int width, int height)
{
    const Picture picture = ReadPng(path);
    if (picture.width != width || picture.height != height) {
        std::printf("FAILED: %s is %dx%d, want %dx%d\n", path, picture.width, picture.height, width, height);
        return 1;
    }
    const auto lit = [&picture](int x, int y) {
        const uint32_t pixel = picture.At(x, y);
        return ((pixel >> 16) & 0xFF) >= 32 || ((pixel >> 8) & 0xFF) >= 32 || (pixel & 0xFF) >= 32;
    };
    int black = 0, litCount = 0, cores = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            black += (picture.At(x, y) & 0xFFFFFF) == 0 ? 1 : 0;
            litCount += lit(x, y) ? 1 : 0;
            bool core = x > 0 && y > 0 && x < width - 1 && y < height - 1;
            for (int n = 0; n < 9 && core; ++n)
                core = lit(x - 1 + n % 3, y - 1 + n / 3);
            cores += core ? 1 : 0;
        }
    }
    const SceneLook look = Look(picture, 0, 0, width, height);
    const double blackShare = static_cast<double>(black) / look.pixels;
    const double coreShare = static_cast<double>(cores) / (litCount > 0 ? litCount : 1);
    std::printf("%s: %dx%d, black %.3f, lit %.3f, red strongest in %.3f of lit, 3x3 lit blobs %.3f of lit\n", path,
                width, height, blackShare, look.lit, look.redStrongest, coreShare);
    const bool scene = blackShare >= 0.30 && look.lit >= 0.02 && look.lit <= 0.90 && look.redStrongest >= 0.80;
    if (!scene || coreShare < 0.05)
        std::printf("FAILED: %s\n", scene ? "no glow" : "no black background or red trails");
    return scene && coreShare >= 0.05 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::string(argv[1]) == "--png")
        return CheckScreenshot(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
    const char* verdict = nullptr;
    if (argc == 7 && std::string(argv[1]) == "--verdict") {
        verdict = argv[2];
        argv += 2;
        argc -= 2;
    }
    if (argc != 5) {
        std::fprintf(stderr, "usage: x-scene-check [--verdict FILE] X Y WIDTH HEIGHT | --png FILE WIDTH HEIGHT\n");
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
