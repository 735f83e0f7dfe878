// png.h: a minimal PNG encoder for the console's icons.
//
// The image is written as 8-bit RGBA without filtering, and its data stream as stored (not
// compressed) deflate blocks: the icons are a few hundred pixels, and no compression library is
// needed. The result is a complete, valid PNG file.
#ifndef KEL_CONSOLE_PNG_H
#define KEL_CONSOLE_PNG_H

#include <cstdint>
#include <string>
#include <vector>

namespace kel::console {

// One pixel: red, green, blue and alpha, 8 bits each.
struct Rgba {
    std::uint8_t r = 0, g = 0, b = 0, a = 0;
};

// REQUIRES: pixels.size() == width * height, rows top to bottom. Returns the PNG file.
std::string EncodePng(unsigned width, unsigned height, const std::vector<Rgba> &pixels);

// The CRC-32 of PNG chunks and the Adler-32 of zlib streams, exposed for tests.
std::uint32_t Crc32(const void *data, std::size_t size);
std::uint32_t Adler32(const void *data, std::size_t size);

}  // namespace kel::console

#endif  // KEL_CONSOLE_PNG_H
