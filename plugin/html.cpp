#include "plugin/html.h"

#include <array>
#include <cstring>

#include "kel2cifs/utf8.h"

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

void AppendEscaped(std::string &out, char c) {
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

// True when text holds an HTML special character or a byte that is not part of well-formed UTF-8.
bool NeedsNameEscaping(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            if (c == '&' || c == '<' || c == '>' || c == '"' || c == '\'') {
                return true;
            }
            ++i;
            continue;
        }
        const std::size_t length = Utf8SequenceLength(text, i);
        if (length == 0) {
            return true;
        }
        i += length;
    }
    return false;
}

}  // namespace

std::size_t Utf8SequenceLength(std::string_view text, std::size_t at) {
    return kel2cifs_utf8::SequenceLength(text, at);
}

std::string EscapeHtmlShowingBadBytes(std::string_view text) {
    static constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD in UTF-8
    std::string out;
    out.reserve(text.size() + 16);
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = Utf8SequenceLength(text, i);
        if (length == 0) {
            out += kReplacement;
            ++i;
        } else if (length == 1) {
            AppendEscaped(out, text[i]);
            ++i;
        } else {
            out.append(text, i, length);
            i += length;
        }
    }
    return out;
}

std::string EscapeHtml(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 16);
    for (char c : text) {
        AppendEscaped(out, c);
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

NameText::NameText(const char *text) {
    const std::string_view view = TextOf(text);
    if (!NeedsNameEscaping(view)) {
        plain_ = text != nullptr ? text : "";
    } else {
        escaped_ = EscapeHtmlShowingBadBytes(view);
    }
}

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
