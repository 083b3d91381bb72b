#include "tools/trails/png_writer.h"

#include <png.h>

#include <stdexcept>
#include <vector>

#include "tools/trails/atomic_file.h"

void WritePng(const std::string& path, int width, int height, const uint32_t* pixels, int pitch)
{
    if (width <= 0 || height <= 0) {
        throw std::runtime_error("cannot write '" + path + "': empty picture");
    }
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    uint8_t* out = rgb.data();
    for (int y = 0; y < height; ++y) {
        const uint32_t* row = pixels + static_cast<size_t>(y) * pitch;
        for (int x = 0; x < width; ++x) {
            const uint32_t word = row[x];
            *out++ = static_cast<uint8_t>(word >> 16);
            *out++ = static_cast<uint8_t>(word >> 8);
            *out++ = static_cast<uint8_t>(word);
        }
    }

    AtomicFile file(path);
    // The simplified interface reports failures through the image record
    // instead of longjmp, which would skip the destructors here.
    png_image image = {};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGB;
    if (!png_image_write_to_stdio(&image, file.Handle(), 0, rgb.data(), width * 3, nullptr)) {
        const std::string reason = image.message;
        png_image_free(&image);
        throw std::runtime_error("cannot write '" + path + "': " + reason);
    }
    file.Commit();
}
