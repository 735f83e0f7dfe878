#include "logs/logs.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include <strings.h>

#include "kel/host.h"
#include "logger/logger.h"
#include "plugin/help.h"
#include "plugin/html.h"
#include "plugin/pages.h"
#include "plugin/paths.h"
#include "plugin/request.h"
#include "plugin/trace.h"
#include "plugin/utils.h"

using namespace kel2cifs;

namespace {

// "/" and the keyword, which the host has matched already.
constexpr std::size_t kKeywordPrefixLength = sizeof("/cifslogs") - 1;
constexpr std::size_t kTitleSize = 512;
constexpr std::size_t kFilePathSize = 4096;
constexpr uint64_t kKiB = 1024;
constexpr uint64_t kMiB = kKiB * 1024;
constexpr uint64_t kGiB = kMiB * 1024;
constexpr uint64_t kTiB = kGiB * 1024;

// The log files in row order; the last two are listed only at debug level and above.
constexpr const char *kAlwaysListed = "cifstcp.log";
constexpr const char *kDebugListed[] = {"libkel2cifs.log", "cifs.log"};

// "whole.hh unit", or "whole unit" when the hundredths are 0.
int FormatUnits(char *output, std::size_t outputSize, uint64_t whole, uint64_t hundredths,
                const char *unit) {
    int written = hundredths != 0 ? std::snprintf(output, outputSize, "%llu.%02llu %s",
                                                  static_cast<unsigned long long>(whole),
                                                  static_cast<unsigned long long>(hundredths), unit)
                                  : std::snprintf(output, outputSize, "%llu %s",
                                                  static_cast<unsigned long long>(whole), unit);
    if (written < 0) {
        return 0;
    }
    return static_cast<std::size_t>(written) < outputSize ? written
                                                          : static_cast<int>(outputSize) - 1;
}

// Whole units of `unit` bytes in `bytes`, and the truncated hundredths of the rest.
int FormatFraction(char *output, std::size_t outputSize, uint64_t bytes, uint64_t unit,
                   const char *name) {
    uint64_t whole = bytes / unit;
    // The rest times 100 fits in 64 bits for every unit below 2^57.
    uint64_t hundredths = (bytes - whole * unit) * 100 / unit;
    return FormatUnits(output, outputSize, whole, hundredths, name);
}

bool IsHelpComponent(const char *text, std::size_t length) {
    return length <= sizeof("help") - 1 && strncasecmp(text, keyword_help, length) == 0;
}

int LevelOfLogger() {
    return log != nullptr ? log->level : kLevelNothing;
}

}  // namespace

int convert_blocks_to_string(uint64_t blockSize, uint64_t blockCount, char *output,
                             std::size_t outputSize) {
    if (output == nullptr || outputSize == 0) {
        return 0;
    }
    unsigned __int128 product = static_cast<unsigned __int128>(blockSize) * blockCount;
    uint64_t bytes = product > UINT64_MAX ? UINT64_MAX : static_cast<uint64_t>(product);
    if (bytes < kMiB) {
        return FormatUnits(output, outputSize, bytes / kKiB, 0, "KB");
    }
    if (bytes < kGiB) {
        return FormatFraction(output, outputSize, bytes, kMiB, "MB");
    }
    if (bytes < kTiB) {
        return FormatFraction(output, outputSize, bytes, kGiB, "GB");
    }
    // Terabytes count whole gigabytes only.
    return FormatFraction(output, outputSize, bytes / kGiB, 1024, "TB");
}

const char *BuildLogFileTableEntry(void *request, const char *stripe, const char *fileName,
                                   const char *directory) {
    if (VerifyLinuxPath(directory) != 0) {
        return stripe;
    }
    char path[kFilePathSize];
    int length = std::snprintf(path, sizeof(path), "%s/%s", directory, fileName);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof(path)) {
        return stripe;
    }
    struct stat status {};
    if (stat(path, &status) != 0 || status.st_size <= 0) {
        return stripe;
    }
    char size[kSizeTextSize];
    if (status.st_size < static_cast<off_t>(kKiB)) {
        std::snprintf(size, sizeof(size), "%lld", static_cast<long long>(status.st_size));
    } else {
        convert_blocks_to_string(1, static_cast<uint64_t>(status.st_size), size, sizeof(size));
    }
    UrlPathText link(path);
    HtmlText name(fileName);
    HttpSendDataSprintf(request,
                        "<tr %s><td class=\"tablecol\" align=center><a href=\"%s?VIEW\">%s</a></td>"
                        "<td  class=\"tablecol\" align=right>%s</td></tr>\n",
                        stripe, link.c_str(), name.c_str(), size);
    return StripeAfter(stripe, lpzlight, lpzdark);
}

int generate_main_showlogs_page(void *request) {
    if (!OpenPage(request)) {
        return 500;
    }
    WriteFrame(request, {.title = lnxMSG("CIFS System Logs"),
                         .titleSize = kTitleSize,
                         .helpKeyword = keyword_cifsdlogs});

    HttpSendDataSprintf(request, "<p><dl><dd><table border=0>\n");
    HttpSendDataSprintf(request,
                        "<tr class=\"tablehead\"><td colspan=2 align=center>%s</td></tr>\n",
                        lnxMSG("Logs"));
    HttpSendDataSprintf(
        request,
        "<tr class=\"tablesubhead\"><th align=center>%s</th><th align=center>%s</th></tr>\n",
        lnxMSG("Name"), lnxMSG("Size"));

    const char *directory = LogDirectoryPath();
    const char *stripe = BuildLogFileTableEntry(request, lpzdark, kAlwaysListed, directory);
    if (LevelOfLogger() > kLevelInfo) {
        for (const char *file : kDebugListed) {
            stripe = BuildLogFileTableEntry(request, stripe, file, directory);
        }
    }

    HttpSendDataSprintf(request, "</table></dd></dl></p>\n");
    return ClosePage(request);
}

int generate_showlogs_help(void *request, int, const char *, int) {
    return generate_cifs_help_page(request, kHelpShowLogs, lnxMSG("CIFS System Logs "));
}

int cifsLogsMethod(void *request, int, int, unsigned int access) {
    if ((access & kAccessDeclined) != 0) {
        return 0;
    }
    if ((access & kAccessRead) == 0 || (access & kAccessConsole) == 0) {
        return generate_error_page(request, kErrorAccessDenied);
    }

    int method = -1;
    if (HttpReturnRequestMethod(request, &method) != 1) {
        return generate_error_page(request, kErrorMissingData);
    }
    if (method != kMethodGet && method != kMethodPost) {
        return generate_error_page(request, kErrorBadRequest);
    }

    char *path = nullptr;
    if (HttpReturnPathBuffers(request, nullptr, &path, nullptr) != 0 || path == nullptr ||
        path[0] == '\0') {
        return generate_error_page(request, kErrorBadRequest);
    }

    char empty[1] = "";
    char *data = empty;
    if (method == kMethodPost) {
        unsigned long length = 0;
        if (HttpReturnPostDataBuffer(request, &data, &length) != 0 || data == nullptr) {
            data = empty;
        } else {
            data[length] = '\0';
        }
    }

    KEL2CIFS_TRACE(debug, "URL = %s", path);
    if (method == kMethodPost) {
        KEL2CIFS_TRACE(dump, "%s", data);
    }

    // The host routed "/cifslogs..." here; a shorter path has nothing after the keyword.
    char *rest = path + strnlen(path, kKeywordPrefixLength);
    if (rest[0] != '/') {
        return generate_main_showlogs_page(request);
    }
    int count = ConvertToComponentPath(rest);
    if (count < 1) {
        return generate_error_page(request, kErrorBadRequest);
    }
    std::size_t firstLength = static_cast<unsigned char>(rest[0]);
    const char *first = rest + 1;
    if (!IsHelpComponent(first, firstLength)) {
        return generate_error_page(request, kErrorBadRequest);
    }
    const char *next = first + firstLength;  // the next length byte, or the terminator
    int nextLength = 0;
    if (count > 1) {
        nextLength = static_cast<unsigned char>(next[0]);
        ++next;
    }
    return generate_showlogs_help(request, count - 1, next, nextLength);
}
