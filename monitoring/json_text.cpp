#include "monitoring/json_text.h"

#include <cstring>

#include "monitoring/text.h"

namespace cifsmon {

namespace {

constexpr char kNulEscape[] = "\\u0000";
constexpr std::size_t kNulEscapeLength = sizeof(kNulEscape) - 1;

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

// True when the document holds a byte that is not part of well-formed UTF-8, or a \u0000 escape
// (looked for loosely: a "\\u0000" text inside a literal only costs a needless marking).
bool NeedsMarking(std::string_view document) {
    if (document.find(kNulEscape) != std::string_view::npos) {
        return true;
    }
    for (std::size_t i = 0; i < document.size();) {
        if (static_cast<unsigned char>(document[i]) < 0x80) {
            ++i;
            continue;
        }
        const std::size_t length = Utf8SequenceLength(document, i);
        if (length == 0) {
            return true;
        }
        i += length;
    }
    return false;
}

}  // namespace

bool MarkForeignBytes(std::string_view document, std::string *marked) {
    if (!NeedsMarking(document)) {
        return false;
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(document.size() + 64);
    bool inString = false;
    for (std::size_t i = 0; i < document.size();) {
        const char c = document[i];
        if (!inString) {
            inString = c == '"';
            out += c;
            ++i;
        } else if (c == '"') {
            inString = false;
            out += c;
            ++i;
        } else if (c == '\\') {
            if (document.compare(i, kNulEscapeLength, kNulEscape) == 0) {
                out += kNulEscape;
                out += kNulEscape;
                i += kNulEscapeLength;
            } else {
                // Any other escape is two characters as far as the literal's end is concerned.
                out.append(document, i, i + 1 < document.size() ? 2 : 1);
                i += 2;
            }
        } else if (static_cast<unsigned char>(c) < 0x80) {
            out += c;
            ++i;
        } else if (const std::size_t length = Utf8SequenceLength(document, i); length != 0) {
            out.append(document, i, length);
            i += length;
        } else {
            const auto byte = static_cast<unsigned char>(c);
            out += kNulEscape;
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0f];
            ++i;
        }
    }
    *marked = std::move(out);
    return true;
}

void UnmarkForeignBytes(std::string *text) {
    std::size_t at = text->find('\0');
    if (at == std::string::npos) {
        return;
    }
    std::size_t out = at;
    while (at < text->size()) {
        const char c = (*text)[at];
        if (c != '\0') {
            (*text)[out++] = c;
            ++at;
            continue;
        }
        if (at + 1 < text->size() && (*text)[at + 1] == '\0') {
            (*text)[out++] = '\0';
            at += 2;
            continue;
        }
        const int high = at + 1 < text->size() ? HexValue((*text)[at + 1]) : -1;
        const int low = at + 2 < text->size() ? HexValue((*text)[at + 2]) : -1;
        if (high < 0 || low < 0) {
            // Not written by the marking: kept, so that the reader's own checks see it.
            (*text)[out++] = c;
            ++at;
            continue;
        }
        (*text)[out++] = static_cast<char>(high * 16 + low);
        at += 3;
    }
    text->resize(out);
}

}  // namespace cifsmon
