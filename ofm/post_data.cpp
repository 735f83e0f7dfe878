#include "ofm/post_data.h"

#include <charconv>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "plugin/trace.h"

using namespace kel2cifs;

namespace {

// The value of a hexadecimal digit (either case), or -1.
int HexDigit(char c) {
    const char digit[2] = {c, '\0'};
    int value = 0;
    const std::from_chars_result read = std::from_chars(digit, digit + 1, value, 16);
    return read.ec == std::errc() && read.ptr == digit + 1 ? value : -1;
}

}  // namespace

int decodePostDataString(const char *data, unsigned long length, char **decoded) {
    if (data == nullptr) {
        data = "";
        length = 0;
    }
    // Sized by what can be decoded, the bytes before the first NUL: a length past the data's end
    // (allowed when a NUL ends it) must not size the text, and length + 1 wraps at its largest.
    const unsigned long available = strnlen(data, length);
    auto *out = static_cast<char *>(std::calloc(available + 1, 1));
    *decoded = out;
    if (out == nullptr) {
        KEL2CIFS_TRACE(debug, "memory alloc failed in fun decodePostDataString");
        return kDecodeOutOfMemory;
    }

    // One output byte per step, so the output never outgrows the input; every read stays within
    // the first `length` bytes and before the first NUL.
    unsigned long in = 0;
    unsigned long written = 0;
    while (in < length && data[in] != '\0') {
        char c = data[in];
        if (c == '%') {
            // Up to two digits; reading stops at the first other character, and an escape cut
            // short by the end of the data takes only what is there.
            unsigned value = 0;
            unsigned long step = 1;
            while (step < 3 && in + step < length) {
                int digit = HexDigit(data[in + step]);
                if (digit < 0) {
                    break;
                }
                value = value * 16 + static_cast<unsigned>(digit);
                ++step;
            }
            out[written++] = static_cast<char>(value & 0xff);
            // The escape spans three characters unless the data ends sooner.
            unsigned long advance = 3;
            for (unsigned long k = 1; k < 3; ++k) {
                if (in + k >= length || data[in + k] == '\0') {
                    advance = k;
                    break;
                }
            }
            in += advance;
        } else if (c == '+') {
            out[written++] = ' ';
            ++in;
        } else {
            out[written++] = c;
            ++in;
        }
    }

    const int shown = in < static_cast<unsigned long>(INT_MAX) ? static_cast<int>(in) : INT_MAX;
    KEL2CIFS_TRACE(debug, "postdata before decode: [%.*s] \n", shown, data);
    KEL2CIFS_TRACE(debug, "postdata after decode: [%s] \n", out);
    return 0;
}
