// utf8.h: the one reading of UTF-8 that the plug-in and the monitoring library share, so that a
// name the library keeps as it is and the page the plug-in shows agree on which bytes are bad.
#ifndef KEL2CIFS_UTF8_H
#define KEL2CIFS_UTF8_H

#include <cstddef>
#include <string_view>

namespace kel2cifs_utf8 {

// The length of the well-formed UTF-8 sequence that begins at text[at] (1 for an ASCII byte), or
// 0 when none begins there: a stray continuation byte, an overlong form, a surrogate, a value
// past U+10FFFF or a sequence cut short. REQUIRES: at < text.size().
inline std::size_t SequenceLength(std::string_view text, std::size_t at) {
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

}  // namespace kel2cifs_utf8

#endif  // KEL2CIFS_UTF8_H
