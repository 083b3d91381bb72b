#include "tools/viewer/png_encoder.h"

#include <cstdio>

namespace {

const size_t storedBlockLimit = 65535;

void AppendBigEndian32(std::vector<uint8_t>& out, uint32_t value)
{
    out.push_back(static_cast<uint8_t>(value >> 24));
    out.push_back(static_cast<uint8_t>(value >> 16));
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

// length, type, data, and the CRC over type and data
void AppendChunk(std::vector<uint8_t>& out, const char type[4], const std::vector<uint8_t>& data)
{
    AppendBigEndian32(out, static_cast<uint32_t>(data.size()));
    const size_t typeStart = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    AppendBigEndian32(out, PngCrc32(out.data() + typeStart, out.size() - typeStart));
}

}  // namespace

uint32_t PngCrc32(const uint8_t* data, size_t size, uint32_t crc)
{
    struct Table {
        uint32_t entries[256];
        Table()
        {
            for (uint32_t n = 0; n < 256; ++n) {
                uint32_t c = n;
                for (int bit = 0; bit < 8; ++bit) {
                    c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
                }
                entries[n] = c;
            }
        }
    };
    static const Table table;
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) {
        crc = table.entries[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    }
    return ~crc;
}

uint32_t ZlibAdler32(const uint8_t* data, size_t size, uint32_t adler)
{
    uint32_t a = adler & 0xFFFF;
    uint32_t b = adler >> 16;
    for (size_t i = 0; i < size; ++i) {
        a = (a + data[i]) % 65521;
        b = (b + a) % 65521;
    }
    return (b << 16) | a;
}

std::vector<uint8_t> ZlibStore(const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> out;
    out.reserve(data.size() + data.size() / storedBlockLimit * 5 + 16);
    // CMF 0x78: deflate with a 32 KiB window; FLG 0x01 makes CMF*256+FLG a
    // multiple of 31 with no dictionary and the "fastest" level.
    out.push_back(0x78);
    out.push_back(0x01);
    size_t offset = 0;
    do {
        const size_t length = data.size() - offset < storedBlockLimit ? data.size() - offset : storedBlockLimit;
        const bool last = offset + length == data.size();
        out.push_back(last ? 1 : 0);  // BFINAL, BTYPE 00 (stored)
        out.push_back(static_cast<uint8_t>(length));
        out.push_back(static_cast<uint8_t>(length >> 8));
        out.push_back(static_cast<uint8_t>(~length));
        out.push_back(static_cast<uint8_t>(~length >> 8));
        out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(offset),
                   data.begin() + static_cast<std::ptrdiff_t>(offset + length));
        offset += length;
    } while (offset < data.size());
    AppendBigEndian32(out, ZlibAdler32(data.data(), data.size()));
    return out;
}

std::vector<uint8_t> EncodePngRgb(int width, int height, const std::vector<uint8_t>& rgb)
{
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    std::vector<uint8_t> filtered;
    filtered.reserve((rowBytes + 1) * static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) {
        filtered.push_back(0);  // filter type None
        const uint8_t* row = rgb.data() + rowBytes * static_cast<size_t>(y);
        filtered.insert(filtered.end(), row, row + rowBytes);
    }

    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    AppendBigEndian32(header, static_cast<uint32_t>(width));
    AppendBigEndian32(header, static_cast<uint32_t>(height));
    header.push_back(8);  // bit depth
    header.push_back(2);  // colour type: RGB
    header.push_back(0);  // compression: deflate
    header.push_back(0);  // filter method 0
    header.push_back(0);  // no interlace
    AppendChunk(png, "IHDR", header);
    AppendChunk(png, "IDAT", ZlibStore(filtered));
    AppendChunk(png, "IEND", {});
    return png;
}

bool WritePngRgb(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb)
{
    if (width <= 0 || height <= 0 || rgb.size() != static_cast<size_t>(width) * static_cast<size_t>(height) * 3) {
        return false;
    }
    const std::vector<uint8_t> png = EncodePngRgb(width, height, rgb);
    // Written beside the target and renamed over it, so a reader never sees a
    // half-written picture.
    const std::string partial = path + ".partial";
    std::FILE* file = std::fopen(partial.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fwrite(png.data(), 1, png.size(), file) == png.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        std::remove(partial.c_str());
        return false;
    }
    std::remove(path.c_str());
    if (std::rename(partial.c_str(), path.c_str()) != 0) {
        std::remove(partial.c_str());
        return false;
    }
    return true;
}
