// A PNG writer small enough to carry in the viewer: 8-bit RGB, no filtering,
// and the image data in stored (uncompressed) deflate blocks, so it needs no
// zlib or libpng on Windows. The files are large but any PNG reader takes them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// CRC-32 of the PNG chunks (the reflected polynomial 0xEDB88320), continued
// from crc (0 to start).
uint32_t PngCrc32(const uint8_t* data, size_t size, uint32_t crc = 0);

// Adler-32 of the zlib stream, continued from adler (1 to start).
uint32_t ZlibAdler32(const uint8_t* data, size_t size, uint32_t adler = 1);

// A zlib stream holding data in stored deflate blocks of at most 65535 bytes.
std::vector<uint8_t> ZlibStore(const std::vector<uint8_t>& data);

// The bytes of a PNG file of width x height RGB pixels, rows top to bottom,
// three bytes a pixel (red, green, blue), no padding between rows.
std::vector<uint8_t> EncodePngRgb(int width, int height, const std::vector<uint8_t>& rgb);

// Writes the PNG to path; false (and nothing half-written left in place of an
// older file, as far as the platform allows) when it cannot.
bool WritePngRgb(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb);
