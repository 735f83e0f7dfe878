// url.cpp: SplitTarget, DecodePath, PercentEncode, IsLocalTarget.
#include "console/url.h"

#include "console/ascii.h"
#include "console/http_text.h"

namespace kel::console {

bool SplitTarget(std::string_view target, Target *out) {
    if (target.empty() || target[0] != '/') {
        return false;
    }
    const std::size_t question = target.find('?');
    out->path = target.substr(0, question);
    out->hasQuery = question != std::string_view::npos;
    out->query = out->hasQuery ? target.substr(question + 1) : std::string_view();
    return true;
}

int DecodePath(std::string_view rawPath, std::string *decoded) {
    decoded->clear();
    decoded->reserve(rawPath.size());
    std::size_t component = 0;  // decoded bytes since the last "/"
    for (std::size_t i = 0; i < rawPath.size(); ++i) {
        char c = rawPath[i];
        if (c == '%' && i + 2 < rawPath.size() && HexValue(rawPath[i + 1]) >= 0 &&
            HexValue(rawPath[i + 2]) >= 0) {
            c = static_cast<char>(HexValue(rawPath[i + 1]) * 16 + HexValue(rawPath[i + 2]));
            i += 2;
            if (c == '\0') {
                return kDecodedNul;
            }
        } else if (c == '\0') {
            return kDecodedNul;
        }
        decoded->push_back(c);
        if (c == '/') {
            component = 0;
        } else if (++component > static_cast<std::size_t>(kel::kMaxComponentLength)) {
            return kComponentTooLong;
        }
    }
    return 0;
}

std::string PercentEncode(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : text) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~' ||
                           c == '/';
        if (plain) {
            out += c;
        } else {
            const auto byte = static_cast<unsigned char>(c);
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
        }
    }
    return out;
}

bool IsLocalTarget(std::string_view target) {
    if (target.empty() || target[0] != '/') {
        return false;
    }
    if (target.size() > 1 && (target[1] == '/' || target[1] == '\\')) {
        return false;
    }
    for (char c : target) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7f || c == '\\') {
            return false;
        }
    }
    return true;
}

}  // namespace kel::console
