// http_text.cpp: ConvertToComponentPath, HttpFindNameAndValue and HttpUnConvertName.
#include "console/http_text.h"

#include <climits>
#include <cstddef>
#include <cstring>

#include "console/ascii.h"

namespace {

using kel::console::HexValue;

// End of the component that starts at `p`: the next "/" or the terminator.
char *ComponentEnd(char *p) {
    while (*p != '\0' && *p != '/') {
        ++p;
    }
    return p;
}

}  // namespace

extern "C" int ConvertToComponentPath(char *path) {
    if (path == nullptr || path[0] != '/') {
        return -1;
    }
    // Every component is checked before the first byte is changed, so that a refused path is
    // handed back exactly as it came.
    int count = 0;
    for (char *slash = path; *slash == '/';) {
        char *end = ComponentEnd(slash + 1);
        if (end - slash - 1 > kel::kMaxComponentLength || count == INT_MAX) {
            return -1;
        }
        ++count;
        slash = end;
    }
    for (char *slash = path; *slash == '/';) {
        char *end = ComponentEnd(slash + 1);
        *slash = static_cast<char>(static_cast<unsigned char>(end - slash - 1));
        slash = end;
    }
    return count;
}

extern "C" int HttpFindNameAndValue(const char *formData, const char *name, char *value,
                                    int *length) {
    if (value == nullptr || length == nullptr || *length < 1) {
        return kel::kFieldValueTooLong;  // not even a terminator fits
    }
    value[0] = '\0';
    if (formData == nullptr || name == nullptr) {
        return kel::kFieldMissing;
    }
    const std::size_t capacity = static_cast<std::size_t>(*length);
    const std::size_t nameLength = std::strlen(name);
    for (const char *field = formData;;) {
        const char *end = std::strchr(field, '&');
        if (end == nullptr) {
            end = field + std::strlen(field);
        }
        const std::size_t fieldLength = static_cast<std::size_t>(end - field);
        if (fieldLength > 0) {
            const char *equals = static_cast<const char *>(std::memchr(field, '=', fieldLength));
            const char *nameEnd = equals != nullptr ? equals : end;
            if (static_cast<std::size_t>(nameEnd - field) == nameLength &&
                std::memcmp(field, name, nameLength) == 0) {
                const char *text = equals != nullptr ? equals + 1 : end;
                const std::size_t textLength = static_cast<std::size_t>(end - text);
                if (textLength >= capacity) {
                    return kel::kFieldValueTooLong;
                }
                std::memcpy(value, text, textLength);
                value[textLength] = '\0';
                *length = static_cast<int>(textLength);
                return 0;
            }
        }
        if (*end == '\0') {
            return kel::kFieldMissing;
        }
        field = end + 1;
    }
}

extern "C" int HttpUnConvertName(const char *encoded, char *output, int length) {
    if (output == nullptr) {
        return 0;
    }
    if (encoded == nullptr || length < 1) {
        output[0] = '\0';
        return 0;
    }
    const std::size_t end = strnlen(encoded, static_cast<std::size_t>(length));
    std::size_t written = 0;
    for (std::size_t i = 0; i < end;) {
        const char c = encoded[i];
        if (c == '+') {
            output[written++] = ' ';
            ++i;
            continue;
        }
        if (c == '%' && i + 2 < end) {
            const int high = HexValue(encoded[i + 1]);
            const int low = HexValue(encoded[i + 2]);
            if (high >= 0 && low >= 0) {
                output[written++] = static_cast<char>(high * 16 + low);
                i += 3;
                continue;
            }
        }
        output[written++] = c;
        ++i;
    }
    output[written] = '\0';
    return static_cast<int>(written);
}
