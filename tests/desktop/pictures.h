// Pictures the desktop tests read back (PNG files, X windows) and what they
// look for in them.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

// Pixels as 0xAARRGGBB words, rows from the top; the alpha means nothing.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
    uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// An 8-bit PNG; an empty picture (and a test failure) when it cannot be read.
Picture ReadPng(const std::string& path);

// A rectangle of a window as the X server has it (TrueColor visuals).
struct _XDisplay;
Picture GrabWindow(_XDisplay* display, unsigned long window, int x, int y, int width, int height);

// How much of a region (x0 <= x < x1, y0 <= y < y1) looks like the scene.
struct SceneLook {
    int pixels = 0;
    double lit = 0.0;           // share of pixels with a channel of 32 or more
    double redStrongest = 0.0;  // share of the lit pixels whose red is the strongest channel
    double white = 0.0;         // share of pixels that are pure white
};
SceneLook Look(const Picture& picture, int x0, int y0, int x1, int y1);
std::ostream& operator<<(std::ostream& out, const SceneLook& look);
// The scene's own look: red trails over black (a lit share of 1% to 90%,
// red strongest in 80% of them), little white (only the brightest glow
// saturates: up to 4% of a small preview; a white window or desktop
// behind is all white).
bool LooksLikeTheScene(const SceneLook& look);

// Mean absolute difference per channel (red, green, blue) of two pictures of
// one size, and the share of pixels with a channel off by more than the
// tolerance.
struct Difference {
    double meanAbsolute = 0.0;
    double shareBeyond = 0.0;
};
Difference Compare(const std::vector<uint32_t>& a, const uint32_t* b, int tolerance);

// The same frame drawn by OpenGL and by the software device "agrees". From
// measurements at 480 x 300 after 200 ticks (seed 33): a faithful presenter
// is off by 0.13 levels on average and no pixel by more than 8 (llvmpipe's
// filter weights and rounding differ slightly from the device's); the least
// visible of the faults tested, the two layers swapped, is off by 6.5 on
// average with 14% of the pixels beyond 8. The limits sit well between.
constexpr int agreementTolerance = 8;
constexpr double maxMeanAbsolute = 1.0;
constexpr double maxShareBeyond = 0.005;
inline bool Agrees(const Difference& difference)
{
    return difference.meanAbsolute <= maxMeanAbsolute && difference.shareBeyond <= maxShareBeyond;
}
