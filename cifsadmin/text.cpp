#include "cifsadmin/text.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

namespace kel2cifs::admin {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";

// The code point of the well-formed UTF-8 sequence at text[at] and its length, or 0 when none
// begins there.
std::size_t DecodeUtf8(std::string_view text, std::size_t at, char32_t *code) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char first = byte(at);
    if (first < 0x80) {
        *code = first;
        return 1;
    }
    std::size_t length = 0;
    char32_t value = 0;
    char32_t minimum = 0;
    if (first >= 0xC2 && first <= 0xDF) {
        length = 2;
        value = first & 0x1Fu;
        minimum = 0x80;
    } else if (first >= 0xE0 && first <= 0xEF) {
        length = 3;
        value = first & 0x0Fu;
        minimum = 0x800;
    } else if (first >= 0xF0 && first <= 0xF4) {
        length = 4;
        value = first & 0x07u;
        minimum = 0x10000;
    } else {
        return 0;
    }
    if (at + length > text.size()) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const unsigned char next = byte(at + i);
        if ((next & 0xC0u) != 0x80u) {
            return 0;
        }
        value = (value << 6) | (next & 0x3Fu);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return 0;
    }
    *code = value;
    return length;
}

// Walks the text's characters: `each(code, sequence)` for every well-formed one, `bad(byte)`
// for every byte that is not part of one.
template <typename Each, typename Bad>
void ForEachCharacter(std::string_view text, Each each, Bad bad) {
    std::size_t at = 0;
    while (at < text.size()) {
        char32_t code = 0;
        const std::size_t length = DecodeUtf8(text, at, &code);
        if (length == 0) {
            bad(static_cast<unsigned char>(text[at]));
            ++at;
        } else {
            each(code, text.substr(at, length));
            at += length;
        }
    }
}

char32_t FoldCode(char32_t c) {
    if (c < 0x80) {
        return c >= 'A' && c <= 'Z' ? c + 0x20 : c;
    }
    if ((c >= 0xC0 && c <= 0xDE && c != 0xD7)) {
        return c + 0x20;
    }
    if (c >= 0x100 && c <= 0x17F) {
        if (c == 0x178) {
            return 0xFF;
        }
        if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) {
            return c == 0x130 ? U'i' : c;
        }
        const bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        if (oddUpper) {
            return (c % 2 == 1) ? c + 1 : c;
        }
        return (c % 2 == 0) ? c + 1 : c;
    }
    if (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) {
        return c + 0x20;
    }
    if (c >= 0x410 && c <= 0x42F) {
        return c + 0x20;
    }
    if (c >= 0x400 && c <= 0x40F) {
        return c + 0x50;
    }
    if (c >= 0x388 && c <= 0x38A) {  // Έ Ή Ί
        return c + 0x25;
    }
    if (c == 0x386) {
        return 0x3AC;
    }
    if (c == 0x38C) {
        return 0x3CC;
    }
    if (c == 0x38E || c == 0x38F) {
        return c + 0x3F;
    }
    if (c == 0x3C2) {  // final sigma
        return 0x3C3;
    }
    if (c >= 0x460 && c <= 0x4FF && c != 0x482 && !(c >= 0x483 && c <= 0x489)) {
        // Cyrillic pairs: upper even, lower odd (from U+04C1 on: upper odd, lower even).
        if (c >= 0x4C1 && c <= 0x4CE) {
            return c % 2 == 1 ? c + 1 : c;
        }
        if (c == 0x4C0) {
            return 0x4CF;
        }
        return c % 2 == 0 ? c + 1 : c;
    }
    if (c == 0x1E9E) {  // capital sharp s
        return 0xDF;
    }
    if (c >= 0x531 && c <= 0x556) {  // Armenian
        return c + 0x30;
    }
    if (c >= 0x1E00 && c <= 0x1EFF && !(c >= 0x1E96 && c <= 0x1E9F)) {  // Latin Extended Additional
        return c % 2 == 0 ? c + 1 : c;
    }
    if (c >= 0xFF21 && c <= 0xFF3A) {  // full-width A to Z
        return c + 0x20;
    }
    return c;
}

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

std::string FormDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%' && i + 2 < text.size() + 0 && HexValue(text[i + 1]) >= 0 &&
                   HexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

// Matches one bracket set starting at pattern[at] ('[' already passed); sets *end past its ']'.
// A set without its ']' is no set: false with *end == 0.
bool MatchSet(std::u32string_view pattern, std::size_t at, char32_t c, std::size_t *end) {
    bool negate = false;
    if (at < pattern.size() && (pattern[at] == U'!' || pattern[at] == U'^')) {
        negate = true;
        ++at;
    }
    bool matched = false;
    bool first = true;
    while (at < pattern.size() && (first || pattern[at] != U']')) {
        first = false;
        char32_t low = pattern[at];
        char32_t high = low;
        if (at + 2 < pattern.size() && pattern[at + 1] == U'-' && pattern[at + 2] != U']') {
            high = pattern[at + 2];
            at += 3;
        } else {
            ++at;
        }
        if (c >= low && c <= high) {
            matched = true;
        }
    }
    if (at >= pattern.size()) {
        *end = 0;
        return false;
    }
    *end = at + 1;
    return matched != negate;
}

}  // namespace

std::string Html(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    ForEachCharacter(
        text,
        [&](char32_t code, std::string_view sequence) {
            switch (code) {
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
                case '\0':
                    // The host formats what a page writes as a C string: a NUL would end it there.
                    out += "\xEF\xBF\xBD";
                    break;
                default:
                    out += sequence;
            }
        },
        [&](unsigned char) { out += "\xEF\xBF\xBD"; });
    return out;
}

std::string UrlComponent(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~') {
            out += c;
        } else {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
        }
    }
    return out;
}

std::string Json(std::string_view text) {
    std::string out = "\"";
    ForEachCharacter(
        text,
        [&](char32_t code, std::string_view sequence) {
            if (code == '"' || code == '\\') {
                out += '\\';
                out += static_cast<char>(code);
            } else if (code == '\n') {
                out += "\\n";
            } else if (code == '\r') {
                out += "\\r";
            } else if (code == '\t') {
                out += "\\t";
            } else if (code < 0x20 || code == 0x7F || code == '<' || code == '>' || code == '&' ||
                       code == 0x2028 || code == 0x2029) {
                char escaped[12];  // room for any 32-bit value
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(code));
                out += escaped;
            } else {
                out += sequence;
            }
        },
        [&](unsigned char) { out += "\\ufffd"; });
    out += '"';
    return out;
}

std::string CsvCell(std::string_view text) {
    std::string cell;
    if (!text.empty() && (text[0] == '=' || text[0] == '+' || text[0] == '-' || text[0] == '@' ||
                          text[0] == '\t' || text[0] == '\r')) {
        cell += '\'';
    }
    cell += text;
    if (cell.find_first_of(",\"\r\n") == std::string::npos) {
        return cell;
    }
    std::string quoted = "\"";
    for (const char c : cell) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + "\"";
}

Fields ParseForm(std::string_view encoded) {
    Fields fields;
    while (!encoded.empty()) {
        const std::size_t amp = encoded.find('&');
        const std::string_view pair = encoded.substr(0, amp);
        encoded = amp == std::string_view::npos ? std::string_view() : encoded.substr(amp + 1);
        if (pair.empty()) {
            continue;
        }
        const std::size_t equals = pair.find('=');
        if (equals == std::string_view::npos) {
            fields.emplace_back(FormDecode(pair), std::string());
        } else {
            fields.emplace_back(FormDecode(pair.substr(0, equals)),
                                FormDecode(pair.substr(equals + 1)));
        }
    }
    return fields;
}

std::string FieldValue(const Fields &fields, std::string_view name, std::string_view fallback) {
    for (const auto &[key, value] : fields) {
        if (key == name) {
            return value;
        }
    }
    return std::string(fallback);
}

std::vector<std::string> FieldValues(const Fields &fields, std::string_view name) {
    std::vector<std::string> values;
    for (const auto &[key, value] : fields) {
        if (key == name) {
            values.push_back(value);
        }
    }
    return values;
}

long FieldNumber(const Fields &fields, std::string_view name, long fallback, long low, long high) {
    const std::string text = FieldValue(fields, name);
    if (text.empty() || text.size() > 12 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return fallback;
    }
    const long value = std::strtol(text.c_str(), nullptr, 10);
    return value < low ? low : (value > high ? high : value);
}

std::u32string Fold(std::string_view text) {
    std::u32string out;
    out.reserve(text.size());
    ForEachCharacter(
        text, [&](char32_t code, std::string_view) { out += FoldCode(code); },
        [&](unsigned char byte) { out += static_cast<char32_t>(0xDC80u + byte); });
    return out;
}

bool GlobMatch(std::u32string_view pattern, std::u32string_view text) {
    std::size_t p = 0;
    std::size_t t = 0;
    std::size_t starP = std::u32string_view::npos;
    std::size_t starT = 0;
    while (t < text.size()) {
        bool advanced = false;
        if (p < pattern.size()) {
            const char32_t c = pattern[p];
            if (c == U'*') {
                starP = p++;
                starT = t;
                continue;
            }
            if (c == U'?') {
                ++p;
                ++t;
                advanced = true;
            } else if (c == U'[') {
                std::size_t end = 0;
                const bool matched = MatchSet(pattern, p + 1, text[t], &end);
                if (end == 0) {
                    // An unclosed '[' is an ordinary character.
                    if (text[t] == U'[') {
                        ++p;
                        ++t;
                        advanced = true;
                    }
                } else if (matched) {
                    p = end;
                    ++t;
                    advanced = true;
                }
            } else if (c == text[t]) {
                ++p;
                ++t;
                advanced = true;
            }
        }
        if (!advanced) {
            if (starP == std::u32string_view::npos) {
                return false;
            }
            p = starP + 1;
            t = ++starT;
        }
    }
    while (p < pattern.size() && pattern[p] == U'*') {
        ++p;
    }
    return p == pattern.size();
}

bool ContainsFolded(std::u32string_view needle, std::string_view text) {
    if (needle.empty()) {
        return true;
    }
    const std::u32string folded = Fold(text);
    return std::u32string_view(folded).find(needle) != std::u32string_view::npos;
}

NameSearch::NameSearch(std::string_view pattern)
    : pattern_(Fold(pattern)), glob_(pattern.find_first_of("*?[") != std::string_view::npos) {}

bool NameSearch::Matches(std::string_view path) const {
    if (pattern_.empty()) {
        return true;
    }
    const std::u32string folded = Fold(path);
    if (!glob_) {
        return folded.find(pattern_) != std::u32string::npos;
    }
    if (GlobMatch(pattern_, folded)) {
        return true;
    }
    const std::size_t slash = folded.find_last_of(U'/');
    return slash != std::u32string::npos &&
           GlobMatch(pattern_, std::u32string_view(folded).substr(slash + 1));
}

std::string MakeRef(unsigned connection, std::string_view path) {
    std::string ref = std::to_string(connection) + ":";
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F || c == '%' || c == '"' || c == '\'' || c == '<' ||
            c == '>' || c == '&' || c == '+') {
            ref += '%';
            ref += kHex[byte >> 4];
            ref += kHex[byte & 0xF];
        } else {
            ref += c;
        }
    }
    return ref;
}

bool ParseRef(std::string_view ref, unsigned *connection, std::string *path) {
    const std::size_t colon = ref.find(':');
    if (colon == 0 || colon == std::string_view::npos || colon > 5) {
        return false;
    }
    unsigned value = 0;
    for (const char c : ref.substr(0, colon)) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > 0xFFFF) {
        return false;
    }
    std::string decoded;
    for (std::size_t i = colon + 1; i < ref.size(); ++i) {
        if (ref[i] == '%') {
            if (i + 2 >= ref.size() + 0 || HexValue(ref[i + 1]) < 0 || HexValue(ref[i + 2]) < 0) {
                return false;
            }
            decoded += static_cast<char>(HexValue(ref[i + 1]) * 16 + HexValue(ref[i + 2]));
            i += 2;
        } else {
            decoded += ref[i];
        }
    }
    if (decoded.empty() || decoded.find('\0') != std::string::npos) {
        return false;
    }
    *connection = value;
    *path = std::move(decoded);
    return true;
}

namespace {
std::string FormatTime(std::uint64_t seconds, const char *format) {
    if (seconds == 0) {
        return std::string();
    }
    const auto value = static_cast<std::time_t>(seconds);
    std::tm parts{};
    if (gmtime_r(&value, &parts) == nullptr) {
        return std::string();
    }
    char text[64];
    const std::size_t length = std::strftime(text, sizeof text, format, &parts);
    return std::string(text, length);
}
}  // namespace

std::string IsoTime(std::uint64_t seconds) {
    return FormatTime(seconds, "%Y-%m-%dT%H:%M:%SZ");
}

std::string PageTime(std::uint64_t seconds) {
    return FormatTime(seconds, "%Y-%m-%d %H:%M:%S UTC");
}

std::string ClockTime(std::time_t seconds) {
    return FormatTime(static_cast<std::uint64_t>(seconds), "%H:%M:%S");
}

std::string HumanBytes(std::uint64_t bytes, const char *decimalFormat) {
    static constexpr const char *kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    if (bytes < 1024) {
        return std::to_string(bytes) + " B";
    }
    std::size_t unit = 0;
    std::uint64_t scale = 1024;
    while (unit + 1 < std::size(kUnits) && bytes / scale >= 1024) {
        scale *= 1024;
        ++unit;
    }
    // Tenths, rounded half up, without floating point.
    const std::uint64_t whole = bytes / scale;
    const std::uint64_t rest = bytes % scale;
    std::uint64_t tenths = whole * 10 + (rest * 10 + scale / 2) / scale;
    if (tenths >= 10240 && unit + 1 < std::size(kUnits)) {
        tenths = 10;
        ++unit;
    }
    const std::string integer = std::to_string(tenths / 10);
    const std::string fraction = std::to_string(tenths % 10);
    char text[64];
    const int length = std::snprintf(text, sizeof text, decimalFormat, integer.c_str(),
                                     fraction.c_str(), kUnits[unit]);
    if (length < 0) {
        return integer + "." + fraction + " " + kUnits[unit];
    }
    return std::string(text,
                       std::min<std::size_t>(static_cast<std::size_t>(length), sizeof text - 1));
}

std::string HumanDuration(std::uint64_t seconds) {
    char text[64];
    if (seconds < 60) {
        std::snprintf(text, sizeof text, "%" PRIu64 " s", seconds);
    } else if (seconds < 3600) {
        std::snprintf(text, sizeof text, "%" PRIu64 " min %02" PRIu64 " s", seconds / 60,
                      seconds % 60);
    } else if (seconds < 86400) {
        std::snprintf(text, sizeof text, "%" PRIu64 " h %02" PRIu64 " min", seconds / 3600,
                      seconds % 3600 / 60);
    } else {
        std::snprintf(text, sizeof text, "%" PRIu64 " d %02" PRIu64 " h", seconds / 86400,
                      seconds % 86400 / 3600);
    }
    return text;
}

}  // namespace kel2cifs::admin
