#include "monitoring/text.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace cifsmon {

namespace {

bool IsContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

char LowerChar(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

char UpperChar(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

std::string_view CutToFit(std::string_view text, std::size_t size) {
    if (text.size() < size) {
        return text;
    }
    // text[cut] is the first byte left out; while it continues a sequence, the sequence began
    // inside the kept part and goes too. A sequence has at most three continuation bytes: past
    // that the text is not UTF-8 and is cut at the size alone.
    const std::size_t length = size - 1;
    for (std::size_t cut = length; cut > 0 && length - cut < 4; --cut) {
        if (!IsContinuationByte(text[cut])) {
            return text.substr(0, cut);
        }
    }
    return text.substr(0, length);
}

void CopyText(char *destination, std::size_t size, std::string_view text) {
    std::string_view kept = CutToFit(text, size);
    std::memcpy(destination, kept.data(), kept.size());
    std::memset(destination + kept.size(), 0, size - kept.size());
}

std::size_t Utf8SequenceLength(std::string_view text, std::size_t at) {
    auto byte = [&](std::size_t k) -> unsigned {
        return at + k < text.size() ? static_cast<unsigned char>(text[at + k]) : 0u;
    };
    auto continuation = [&](std::size_t k) { return (byte(k) & 0xC0u) == 0x80u; };
    const unsigned lead = byte(0);
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        return continuation(1) ? 2 : 0;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        const unsigned low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
        const unsigned high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
        return byte(1) >= low && byte(1) <= high && continuation(2) ? 3 : 0;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        const unsigned low = lead == 0xF0 ? 0x90 : 0x80;
        const unsigned high = lead == 0xF4 ? 0x8F : 0xBF;  // nothing past U+10FFFF
        return byte(1) >= low && byte(1) <= high && continuation(2) && continuation(3) ? 4 : 0;
    }
    return 0;
}

char *DuplicateText(std::string_view text) {
    char *copy = static_cast<char *>(std::malloc(text.size() + 1));
    if (copy != nullptr) {
        std::memcpy(copy, text.data(), text.size());
        copy[text.size()] = '\0';
    }
    return copy;
}

std::string LowerAscii(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), LowerChar);
    return lower;
}

std::string UpperAscii(std::string_view text) {
    std::string upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(), UpperChar);
    return upper;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return LowerChar(x) == LowerChar(y); });
}

}  // namespace cifsmon
