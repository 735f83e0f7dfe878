#include "plugin/utils.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>

#include "logger/logger.h"
#include "plugin/trace.h"

using namespace kel2cifs;

namespace {

// Formatted numbers (a 64-bit value and a short label) fit here; longer texts use the heap.
constexpr std::size_t kLocalFormatSize = 128;
// realpath writes up to PATH_MAX bytes into the buffer it is given.
constexpr std::size_t kResolvedPathSize = PATH_MAX;
// Mode of the folders CreateLinuxPath and MakeLinuxFolder make.
constexpr mode_t kLinuxFolderMode = 0744;

const char *Printable(const char *text) {
    return text != nullptr ? text : "(null)";
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Copies text[0, length) into output, cut to outputSize - 1 characters and terminated, with a
// comma inserted before every digit that has a multiple of three digits of its run after it.
void CopyWithCommas(const char *text, std::size_t length, char *output, std::size_t outputSize) {
    const std::size_t limit = outputSize - 1;
    std::size_t written = 0;
    std::size_t i = 0;
    while (i < length && written < limit) {
        if (!IsDigit(text[i])) {
            output[written++] = text[i++];
            continue;
        }
        std::size_t end = i;
        while (end < length && IsDigit(text[end])) {
            ++end;
        }
        for (std::size_t k = i; k < end && written < limit; ++k) {
            if (k > i && (end - k) % 3 == 0) {
                output[written++] = ',';
                if (written == limit) {
                    break;
                }
            }
            output[written++] = text[k];
        }
        i = end;
    }
    output[written] = '\0';
}

// The grouping needs the whole formatted text (a run is grouped from its right end), so it is
// formatted apart from output and only the grouped result is cut to fit.
template <typename Value>
void FormatWithCommas(Value value, char *output, std::size_t outputSize, const char *format) {
    if (output == nullptr || outputSize == 0) {
        return;
    }
    output[0] = '\0';
    if (format == nullptr) {
        return;
    }
    char local[kLocalFormatSize];
    if constexpr (std::is_same_v<Value, uint64_t>) {
        // The pages' own format, converted without the printf machinery (a list formats two
        // numbers per row); the digits are those snprintf writes.
        if (std::strcmp(format, "%" PRIu64) == 0 || std::strcmp(format, "%llu") == 0) {
            const std::to_chars_result digits = std::to_chars(local, local + sizeof(local), value);
            CopyWithCommas(local, static_cast<std::size_t>(digits.ptr - local), output, outputSize);
            return;
        }
    }
    const int length = std::snprintf(local, sizeof(local), format, value);
    if (length < 0) {
        return;
    }
    const std::size_t size = static_cast<std::size_t>(length) + 1;
    if (size <= sizeof(local)) {
        CopyWithCommas(local, static_cast<std::size_t>(length), output, outputSize);
        return;
    }
    std::unique_ptr<char[]> text(new (std::nothrow) char[size]);
    if (text == nullptr) {
        return;
    }
    const int again = std::snprintf(text.get(), size, format, value);
    if (again < 0) {
        return;
    }
    CopyWithCommas(text.get(), std::min(static_cast<std::size_t>(again), size - 1), output,
                   outputSize);
}

}  // namespace

void CreateStringWithCommas(uint32_t value, char *output, std::size_t outputSize,
                            const char *format) {
    FormatWithCommas(value, output, outputSize, format);
}

void CreateLargeNumberStringWithCommas(uint64_t value, char *output, std::size_t outputSize,
                                       const char *format) {
    FormatWithCommas(value, output, outputSize, format);
}

time_t ConvertOrvantaDataAndTimeToLinux(uint16_t packedDate, uint16_t packedTime,
                                        struct tm *record) {
    struct tm own {};
    struct tm *target = record != nullptr ? record : &own;
    target->tm_sec = (packedTime & 0x1F) * 2;
    target->tm_min = (packedTime >> 5) & 0x3F;
    target->tm_hour = packedTime >> 11;
    target->tm_mday = packedDate & 0x1F;
    target->tm_mon = ((packedDate >> 5) & 0x0F) - 1;
    target->tm_year = (packedDate >> 9) + 80;
    target->tm_isdst = -1;
    return std::mktime(target);
}

char *OrvantaDataAndTimeToTimeBuffer(uint32_t value, char *output) {
    if (output == nullptr) {
        return nullptr;
    }
    struct tm record {};
    ConvertOrvantaDataAndTimeToLinux(static_cast<uint16_t>(value >> 16),
                                     static_cast<uint16_t>(value & 0xFFFF), &record);
    // asctime_r refuses (returns null) a text that would not fit its 26 bytes.
    char text[kTimeBufferSize];
    if (asctime_r(&record, text) == nullptr) {
        output[0] = '\0';
        return output;
    }
    std::snprintf(output, kTimeBufferSize, "%s", text);
    return output;
}

int VerifyLinuxPath(const char *path) {
    constexpr char kFunction[] = "VerifyLinuxPath";
    KEL2CIFS_TRACE(debug, "[%s] lnxpath=%s", kFunction, Printable(path));
    if (path == nullptr) {
        return EINVAL;
    }
    struct stat status;
    if (stat(path, &status) != 0) {
        const int rc = errno;
        KEL2CIFS_TRACE(debug, "[%s] stat lnxpath=%s rc=%d", kFunction, path, rc);
        return rc;
    }
    char resolved[kResolvedPathSize];
    if (realpath(path, resolved) == nullptr) {
        const int rc = errno;
        KEL2CIFS_TRACE(debug, "[%s] realpath lnxpath=%s rc=%d", kFunction, path, rc);
        return rc;
    }
    if (std::strcmp(resolved, path) != 0) {
        KEL2CIFS_TRACE(debug, "[%s] strcmp lnxpath=%s rc=%d", kFunction, path, ELOOP);
        return ELOOP;
    }
    return 0;
}

int pkg_dir_build(const char *path, unsigned mode) {
    // make_path keeps the same contract: return values, errno values and mode 0 meaning 0777.
    return make_path(path, mode);
}

int CreateLinuxPath(const char *path) {
    constexpr char kFunction[] = "CreateLinuxPath";
    KEL2CIFS_TRACE(debug, "[%s] lnxpath=%s", kFunction, Printable(path));
    if (pkg_dir_build(path, kLinuxFolderMode) != 0) {
        const int rc = errno;
        KEL2CIFS_TRACE(debug, "[%s] lnxpath=%s rc=%d", kFunction, Printable(path), rc);
        return rc;
    }
    return 0;
}

int MakeLinuxFolder(const char *path) {
    if (path == nullptr) {
        errno = EINVAL;
        return -1;
    }
    return mkdir(path, kLinuxFolderMode);
}

void MakeParentPath(const char *path, char *output, std::size_t outputSize) {
    if (output == nullptr || outputSize == 0) {
        return;
    }
    std::size_t length = 0;
    if (path != nullptr) {
        const char *slash = std::strrchr(path, '/');
        if (slash != nullptr) {
            length = std::min(static_cast<std::size_t>(slash - path), outputSize - 1);
        }
    }
    // path may be output itself.
    if (length > 0) {
        std::memmove(output, path, length);
    }
    output[length] = '\0';
}

int _strupr(char *text) {
    if (text == nullptr) {
        return 0;
    }
    for (char *c = text; *c != '\0'; ++c) {
        const unsigned char byte = static_cast<unsigned char>(*c);
        if (std::isalpha(byte)) {
            *c = static_cast<char>(std::toupper(byte));
        }
    }
    return 0;
}
