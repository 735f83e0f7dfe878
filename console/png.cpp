// png.cpp: EncodePng.
#include "console/png.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace kel::console {
namespace {

// The largest payload of one stored deflate block.
constexpr std::size_t kStoredBlockMax = 65535;

std::array<std::uint32_t, 256> MakeCrcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        }
        table[n] = c;
    }
    return table;
}

void PutBigEndian(std::string &out, std::uint32_t value) {
    out += static_cast<char>(value >> 24);
    out += static_cast<char>(value >> 16);
    out += static_cast<char>(value >> 8);
    out += static_cast<char>(value);
}

void PutChunk(std::string &out, const char type[4], const std::string &data) {
    PutBigEndian(out, static_cast<std::uint32_t>(data.size()));
    std::string typed(type, 4);
    typed += data;
    out += typed;
    PutBigEndian(out, Crc32(typed.data(), typed.size()));
}

}  // namespace

std::uint32_t Crc32(const void *data, std::size_t size) {
    static const std::array<std::uint32_t, 256> table = MakeCrcTable();
    const auto *bytes = static_cast<const unsigned char *>(data);
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) {
        c = table[(c ^ bytes[i]) & 0xFF] ^ (c >> 8);
    }
    return c ^ 0xFFFFFFFFu;
}

std::uint32_t Adler32(const void *data, std::size_t size) {
    const auto *bytes = static_cast<const unsigned char *>(data);
    std::uint32_t a = 1, b = 0;
    for (std::size_t i = 0; i < size; ++i) {
        a = (a + bytes[i]) % 65521;
        b = (b + a) % 65521;
    }
    return (b << 16) | a;
}

std::string EncodePng(unsigned width, unsigned height, const std::vector<Rgba> &pixels) {
    // Scanlines: a filter byte (0, none) and the row's RGBA bytes.
    std::string raw;
    raw.reserve(static_cast<std::size_t>(height) * (1 + 4 * width));
    for (unsigned y = 0; y < height; ++y) {
        raw += '\0';
        for (unsigned x = 0; x < width; ++x) {
            const Rgba &p = pixels[static_cast<std::size_t>(y) * width + x];
            raw += static_cast<char>(p.r);
            raw += static_cast<char>(p.g);
            raw += static_cast<char>(p.b);
            raw += static_cast<char>(p.a);
        }
    }

    // zlib stream: header (deflate, 32K window, no dictionary), stored blocks, Adler-32.
    std::string zlib = "\x78\x01";
    std::size_t offset = 0;
    do {
        const std::size_t length = std::min(kStoredBlockMax, raw.size() - offset);
        const bool last = offset + length == raw.size();
        zlib += static_cast<char>(last ? 1 : 0);
        zlib += static_cast<char>(length & 0xFF);
        zlib += static_cast<char>(length >> 8);
        zlib += static_cast<char>(~length & 0xFF);
        zlib += static_cast<char>((~length >> 8) & 0xFF);
        zlib.append(raw, offset, length);
        offset += length;
    } while (offset < raw.size());
    PutBigEndian(zlib, Adler32(raw.data(), raw.size()));

    std::string header;
    PutBigEndian(header, width);
    PutBigEndian(header, height);
    header += '\x08';  // bit depth
    header += '\x06';  // colour type: RGBA
    header += '\0';    // compression
    header += '\0';    // filter method
    header += '\0';    // no interlace

    std::string png = "\x89PNG\r\n\x1a\n";
    PutChunk(png, "IHDR", header);
    PutChunk(png, "IDAT", zlib);
    PutChunk(png, "IEND", {});
    return png;
}

}  // namespace kel::console
