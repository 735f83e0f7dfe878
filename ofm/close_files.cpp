#include "ofm/close_files.h"

#include <cstring>

#include "cifsmonitoring/monitoring.h"
#include "plugin/html.h"
#include "plugin/monitoring_report.h"
#include "plugin/trace.h"

using namespace kel2cifs;

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// True for the single bytes a close form carries percent-encoded.
bool IsCarriedEncoded(char c) {
    return c == '%' || c == '<' || c == '\r' || c == '\n';
}

bool NeedsCloseEncoding(std::string_view name) {
    for (std::size_t i = 0; i < name.size();) {
        if (IsCarriedEncoded(name[i])) {
            return true;
        }
        const std::size_t length = Utf8SequenceLength(name, i);
        if (length == 0) {
            return true;
        }
        i += length;
    }
    return false;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

enum class Decoded { kName, kMalformed, kTooLong };

// Decodes the carried name into path (terminated). Only "%XX" is decoded: a "+" stays a "+"
// (the body's own decoding has already turned the browser's "+" into blanks).
Decoded DecodeCloseName(std::string_view carried, char (&path)[kCloseNameSize]) {
    std::size_t length = 0;
    for (std::size_t i = 0; i < carried.size(); ++length) {
        char c = carried[i];
        if (c == '%') {
            const int high = i + 1 < carried.size() ? HexValue(carried[i + 1]) : -1;
            const int low = i + 2 < carried.size() ? HexValue(carried[i + 2]) : -1;
            if (high < 0 || low < 0 || (high == 0 && low == 0)) {
                return Decoded::kMalformed;
            }
            c = static_cast<char>(high * 16 + low);
            i += 3;
        } else {
            ++i;
        }
        if (length == sizeof(path) - 1) {
            return Decoded::kTooLong;
        }
        path[length] = c;
    }
    path[length] = '\0';
    return Decoded::kName;
}

}  // namespace

std::string kel2cifs::EncodeCloseName(std::string_view name) {
    std::string out;
    out.reserve(name.size() + 16);
    for (std::size_t i = 0; i < name.size();) {
        const std::size_t length = Utf8SequenceLength(name, i);
        if (length == 0 || IsCarriedEncoded(name[i])) {
            const auto byte = static_cast<unsigned char>(name[i]);
            out += '%';
            out += kHexDigits[byte >> 4];
            out += kHexDigits[byte & 0x0f];
            ++i;
        } else {
            out.append(name, i, length);
            i += length;
        }
    }
    return out;
}

CloseNameValue::CloseNameValue(const char *name) {
    if (name == nullptr) {
        plain_ = "";
        return;
    }
    const std::string_view text(name);
    if (NeedsCloseEncoding(text)) {
        value_ = EscapeHtml(EncodeCloseName(text));
    } else if (text[std::strcspn(text.data(), "&<>\"'")] != '\0') {
        value_ = EscapeHtml(text);
    } else {
        plain_ = name;
    }
}

std::size_t kel2cifs::CutNameLength(std::string_view name) {
    constexpr std::size_t kRoom = kCloseNameSize - 1 - kCutMark.size();
    if (name.size() > kCloseNameSize) {
        name = name.substr(0, kCloseNameSize);
    }
    std::size_t kept = 0;
    while (kept < name.size()) {
        std::size_t length = Utf8SequenceLength(name, kept);
        if (length == 0) {
            length = 1;
        }
        if (kept + length > kRoom) {
            break;
        }
        kept += length;
    }
    return kept;
}

std::string kel2cifs::FittedName(std::string_view name) {
    if (IsClosableName(name)) {
        return std::string(name);
    }
    std::string fitted(name.substr(0, CutNameLength(name)));
    fitted += kCutMark;
    return fitted;
}

int closeCIFSFiles(const char *path) {
    KEL2CIFS_TRACE(debug, "file to close %s", path);
    return Ext_CloseFileByFileName(path);
}

int parseDataToCloseCIFSFiles(const char *data) {
    if (data == nullptr || data[0] == '\0') {
        return 0;
    }
    constexpr std::size_t kOpenLength = sizeof(kFileNameOpenTag) - 1;
    constexpr std::size_t kCloseLength = sizeof(kFileNameCloseTag) - 1;

    const char *position = data;
    while (*position != '\0') {
        const char *open = std::strstr(position, kFileNameOpenTag);
        if (open == nullptr) {
            break;
        }
        const char *name = open + kOpenLength;
        const char *close = std::strstr(name, kFileNameCloseTag);
        if (close == nullptr) {
            break;
        }
        position = close + kCloseLength;
        const std::string_view carried(name, static_cast<std::size_t>(close - name));
        char path[kCloseNameSize];
        switch (DecodeCloseName(carried, path)) {
            case Decoded::kName:
                break;
            case Decoded::kMalformed:
                KEL2CIFS_TRACE(debug, "Close File refused, the posted name is malformed: %.*s",
                               static_cast<int>(carried.size()), carried.data());
                continue;
            case Decoded::kTooLong:
                KEL2CIFS_TRACE(debug, "Close File refused, the name is longer than %zu bytes: %.*s",
                               sizeof(path) - 1, static_cast<int>(carried.size()), carried.data());
                continue;
        }
        KEL2CIFS_TRACE(debug, "file name is %s", path);
        const int status = closeCIFSFiles(path);
        NoteCloseResult(path, status);
        if (status != 0) {
            KEL2CIFS_TRACE(debug, "Close File Operation failed for file:%s", path);
        }
    }
    return 0;
}
