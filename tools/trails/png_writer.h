// Pictures of the back buffer as PNG files: 8-bit RGB, no alpha (the back
// buffer's alpha is whatever blending left there and means nothing on screen),
// no time stamp, so the same pixels always give the same bytes.
#pragma once

#include <cstdint>
#include <string>

// Writes width x height A8R8G8B8 words, row by row from the top, rows
// `pitch` words apart, to `path` whole or not at all (a temporary file beside
// it is renamed over it at the end). Throws std::runtime_error naming the path.
void WritePng(const std::string& path, int width, int height, const uint32_t* pixels, int pitch);
