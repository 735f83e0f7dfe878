// browser_form.h: what a browser makes of a form field written into a page and posts back, for
// tests that take a page's close forms and submit them as a user would.
#ifndef KEL2CIFS_TESTS_COMMON_BROWSER_FORM_H
#define KEL2CIFS_TESTS_COMMON_BROWSER_FORM_H

#include <cctype>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace testing_support {

// An attribute value as the document holds it: the character references undone, a byte that is
// not part of a UTF-8 sequence decoded as U+FFFD (the page is read as UTF-8), and every line
// break (CR LF, CR, LF) read as LF.
inline std::string ParsedAttribute(std::string_view html) {
    const std::vector<std::pair<std::string_view, std::string_view>> references = {
        {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"}, {"&amp;", "&"}};
    std::string out;
    for (std::size_t i = 0; i < html.size();) {
        bool replaced = false;
        for (const auto &[reference, character] : references) {
            if (html.substr(i, reference.size()) == reference) {
                out += character;
                i += reference.size();
                replaced = true;
                break;
            }
        }
        if (replaced) {
            continue;
        }
        const auto lead = static_cast<unsigned char>(html[i]);
        std::size_t length = lead < 0x80                    ? 1
                             : lead >= 0xC2 && lead <= 0xDF ? 2
                             : lead >= 0xE0 && lead <= 0xEF ? 3
                             : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                            : 0;
        for (std::size_t k = 1; k < length; ++k) {
            if (i + k >= html.size() || (static_cast<unsigned char>(html[i + k]) & 0xC0) != 0x80) {
                length = 0;
            }
        }
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else if (html[i] == '\r') {
            out += '\n';
            i += html.substr(i, 2) == "\r\n" ? 2 : 1;
        } else {
            out.append(html, i, length);
            i += length;
        }
    }
    return out;
}

// A field value as a form posts it (application/x-www-form-urlencoded): line breaks as CR LF,
// then every byte but letters, digits and * - . _ as %XX, blanks as +.
inline std::string FormEncode(std::string_view value) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const auto c = static_cast<unsigned char>(value[i]);
        if (c == '\n') {
            out += "%0D%0A";
        } else if (std::isalnum(c) != 0 || c == '*' || c == '-' || c == '.' || c == '_') {
            out += static_cast<char>(c);
        } else if (c == ' ') {
            out += '+';
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0f];
        }
    }
    return out;
}

// The VALUE attributes (raw, as written) following every occurrence of marker, which ends with
// the attribute's opening quote: for example "NAME=\"FILENAME\" VALUE=\"".
inline std::vector<std::string> AttributeValues(const std::string &page, std::string_view marker) {
    std::vector<std::string> values;
    for (std::size_t at = page.find(marker); at != std::string::npos;
         at = page.find(marker, at + 1)) {
        const std::size_t from = at + marker.size();
        values.push_back(page.substr(from, page.find('"', from) - from));
    }
    return values;
}

// The body a browser posts for the named fields with these raw attribute values.
inline std::string PostedBody(std::string_view name, const std::vector<std::string> &rawValues) {
    std::string body;
    for (const std::string &raw : rawValues) {
        if (!body.empty()) {
            body += '&';
        }
        body += std::string(name) + "=" + FormEncode(ParsedAttribute(raw));
    }
    return body;
}

}  // namespace testing_support

#endif  // KEL2CIFS_TESTS_COMMON_BROWSER_FORM_H
