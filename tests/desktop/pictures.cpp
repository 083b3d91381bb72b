#include "tests/desktop/pictures.h"

// gtest first: Xlib defines None, a name gtest uses.
#include <gtest/gtest.h>
#include <png.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdlib>

Picture ReadPng(const std::string& path)
{
    Picture picture;
    png_image image = {};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        ADD_FAILURE() << "cannot read " << path << ": " << image.message;
        return picture;
    }
    image.format = PNG_FORMAT_BGRA;  // 0xAARRGGBB words on a little-endian machine
    std::vector<uint32_t> pixels(static_cast<size_t>(image.width) * image.height);
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
        ADD_FAILURE() << "cannot decode " << path << ": " << image.message;
        return picture;
    }
    picture.width = static_cast<int>(image.width);
    picture.height = static_cast<int>(image.height);
    picture.pixels.swap(pixels);
    return picture;
}

namespace {

uint32_t Channel(unsigned long pixel, unsigned long mask)
{
    if (mask == 0)
        return 0;
    int shift = 0;
    while (((mask >> shift) & 1) == 0)
        ++shift;
    const unsigned long value = (pixel & mask) >> shift;
    const unsigned long maximum = mask >> shift;
    return static_cast<uint32_t>(value * 255 / maximum);
}

}  // namespace

Picture GrabWindow(_XDisplay* display, unsigned long window, int x, int y, int width, int height)
{
    Picture picture;
    XImage* image = XGetImage(display, window, x, y, static_cast<unsigned>(width), static_cast<unsigned>(height),
                              AllPlanes, ZPixmap);
    if (image == nullptr) {
        ADD_FAILURE() << "cannot read the pixels of window " << window;
        return picture;
    }
    picture.width = width;
    picture.height = height;
    picture.pixels.resize(static_cast<size_t>(width) * height);
    for (int row = 0; row < height; ++row) {
        for (int column = 0; column < width; ++column) {
            const unsigned long pixel = XGetPixel(image, column, row);
            picture.pixels[static_cast<size_t>(row) * width + column] = Channel(pixel, image->red_mask) << 16 |
                                                                        Channel(pixel, image->green_mask) << 8 |
                                                                        Channel(pixel, image->blue_mask);
        }
    }
    XDestroyImage(image);
    return picture;
}

SceneLook Look(const Picture& picture, int x0, int y0, int x1, int y1)
{
    SceneLook look;
    int lit = 0;
    int red = 0;
    int white = 0;
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            const uint32_t pixel = picture.At(x, y);
            const int r = (pixel >> 16) & 0xFF;
            const int g = (pixel >> 8) & 0xFF;
            const int b = pixel & 0xFF;
            ++look.pixels;
            white += r == 255 && g == 255 && b == 255 ? 1 : 0;
            if (r < 32 && g < 32 && b < 32)
                continue;
            ++lit;
            red += r >= g && r >= b ? 1 : 0;
        }
    }
    if (look.pixels > 0) {
        look.lit = static_cast<double>(lit) / look.pixels;
        look.white = static_cast<double>(white) / look.pixels;
    }
    look.redStrongest = lit > 0 ? static_cast<double>(red) / lit : 0.0;
    return look;
}

std::ostream& operator<<(std::ostream& out, const SceneLook& look)
{
    return out << "lit " << look.lit << ", red strongest " << look.redStrongest << ", white " << look.white;
}

bool LooksLikeTheScene(const SceneLook& look)
{
    return look.lit >= 0.01 && look.lit <= 0.90 && look.redStrongest >= 0.80 && look.white < 0.10;
}

Difference Compare(const std::vector<uint32_t>& a, const uint32_t* b, int tolerance)
{
    Difference difference;
    uint64_t sum = 0;
    uint64_t beyond = 0;
    for (size_t n = 0; n < a.size(); ++n) {
        int worst = 0;
        for (int shift = 0; shift <= 16; shift += 8) {
            const int d = std::abs(static_cast<int>((a[n] >> shift) & 0xFF) - static_cast<int>((b[n] >> shift) & 0xFF));
            sum += static_cast<uint64_t>(d);
            worst = d > worst ? d : worst;
        }
        beyond += worst > tolerance ? 1 : 0;
    }
    if (!a.empty()) {
        difference.meanAbsolute = static_cast<double>(sum) / (3.0 * static_cast<double>(a.size()));
        difference.shareBeyond = static_cast<double>(beyond) / static_cast<double>(a.size());
    }
    return difference;
}
