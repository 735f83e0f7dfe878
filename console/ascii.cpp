// ascii.cpp: HexValue, LowerAscii, EqualsIgnoringCase.
#include "console/ascii.h"

#include <algorithm>

namespace kel::console {
namespace {

char LowerChar(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::string LowerAscii(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), LowerChar);
    return lower;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return LowerChar(x) == LowerChar(y); });
}

std::string Printable(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string printable;
    printable.reserve(text.size());
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7f) {
            printable += c;
            continue;
        }
        printable += '\\';
        switch (byte) {
            case '\r':
                printable += 'r';
                break;
            case '\n':
                printable += 'n';
                break;
            case '\t':
                printable += 't';
                break;
            case 0x1b:
                printable += 'e';
                break;
            default:
                printable += 'x';
                printable += kHex[byte >> 4];
                printable += kHex[byte & 0xf];
        }
    }
    return printable;
}

void Say(std::FILE *stream, std::string_view text) {
    const std::string line = "kelconsole: " + Printable(text) + "\n";
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fflush(stream);
}

}  // namespace kel::console
