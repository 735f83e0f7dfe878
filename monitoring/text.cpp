#include "monitoring/text.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "kel2cifs/utf8.h"

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
    return kel2cifs_utf8::SequenceLength(text, at);
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
