#include "plugin/html.h"

#include <array>
#include <cstring>

namespace kel2cifs {
namespace {

constexpr std::array<bool, 256> MakePathSafeTable() {
    std::array<bool, 256> table{};
    for (int c = 'A'; c <= 'Z'; ++c)
        table[c] = true;
    for (int c = 'a'; c <= 'z'; ++c)
        table[c] = true;
    for (int c = '0'; c <= '9'; ++c)
        table[c] = true;
    for (char c : std::string_view("-._~/:@!$()*+,;="))
        table[static_cast<unsigned char>(c)] = true;
    return table;
}
constexpr std::array<bool, 256> kPathSafe = MakePathSafeTable();

bool IsPathSafe(char c) {
    return kPathSafe[static_cast<unsigned char>(c)];
}

bool NeedsPercentEncoding(std::string_view text) {
    for (char c : text) {
        if (!IsPathSafe(c)) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::string EscapeHtml(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 16);
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
                break;
        }
    }
    return out;
}

std::string PercentEncodePath(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() + 16);
    for (char c : text) {
        if (IsPathSafe(c)) {
            out += c;
        } else {
            auto byte = static_cast<unsigned char>(c);
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0f];
        }
    }
    return out;
}

HtmlText::HtmlText(const char *text) {
    if (text == nullptr) {
        plain_ = "";
        return;
    }
    // One pass finds the first special character or the end (strcspn is vectorised).
    if (text[std::strcspn(text, "&<>\"'")] == '\0') {
        plain_ = text;
    } else {
        escaped_ = EscapeHtml(text);
    }
}

// A view is not known to be terminated where it ends, so it is always copied.
HtmlText::HtmlText(std::string_view text) : escaped_(EscapeHtml(text)) {}

UrlPathText::UrlPathText(const char *text) {
    std::string_view view = TextOf(text);
    if (!NeedsPercentEncoding(view)) {
        plain_ = text != nullptr ? text : "";
    } else {
        encoded_ = PercentEncodePath(view);
    }
}

UrlPathText::UrlPathText(std::string_view text) : encoded_(PercentEncodePath(text)) {}

}  // namespace kel2cifs
