#include "fuzz/input.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace kel2cifs::fuzz {
namespace {

// The byte the monitoring double fills a freed record with, and what input texts carry instead.
constexpr char kPoison = static_cast<char>(0xdd);
constexpr char kPoisonStandIn = static_cast<char>(0xde);

}  // namespace

void Fail(const std::string &what) {
    std::fprintf(stderr, "\n*** invariant broken: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

std::string Text(FuzzedDataProvider &in, std::size_t maxLength) {
    std::string text = in.ConsumeRandomLengthString(maxLength);
    for (char &c : text) {
        if (c == kPoison) {
            c = kPoisonStandIn;
        }
    }
    return text;
}

std::string FieldText(FuzzedDataProvider &in, std::size_t arraySize) {
    return PathText(in, arraySize + 8);
}

std::string PathText(FuzzedDataProvider &in, std::size_t maxLength) {
    if (in.ConsumeIntegral<uint8_t>() < 160) {
        return Text(in, maxLength);
    }
    const std::size_t length = in.ConsumeIntegralInRange<std::size_t>(0, maxLength);
    std::string piece = Text(in, 16);
    if (piece.empty()) {
        piece.push_back('x');  // (not = "x": a false -Wrestrict of GCC 12)
    }
    std::string text;
    text.reserve(length);
    while (text.size() < length) {
        text.append(piece.data(), std::min(piece.size(), length - text.size()));
    }
    return text;
}

std::string OneOf(FuzzedDataProvider &in, const std::vector<std::string_view> &choices,
                  std::size_t maxLength) {
    const std::size_t pick = in.ConsumeIntegralInRange<std::size_t>(0, choices.size());
    if (pick == choices.size()) {
        return Text(in, maxLength);
    }
    return std::string(choices[pick]);
}

std::string PercentEncodeAll(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(text.size() * 3);
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        encoded += '%';
        encoded += kHex[byte >> 4];
        encoded += kHex[byte & 0xf];
    }
    return encoded;
}

}  // namespace kel2cifs::fuzz
