// The plug-in's load and unload routines. The dynamic loader runs _init when it maps the library
// (before any C++ constructor of it) and _fini when it unmaps it (after its destructors), so
// everything both touch is constant-initialised.
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <strings.h>

#include "logger/logger.h"
#include "plugin/config.h"
#include "plugin/paths.h"
#include "plugin/registration.h"

namespace kel2cifs {
namespace {

// 1 from the start of _init until _fini (or a failed start) clears it.
constinit int g_started = 0;

// Room for every command the configuration produces ("LIMIT=" and a number, or a value).
constexpr std::size_t kCommandSize = 128;
// asctime's text: 25 characters, a newline and the terminator, with room to spare.
constexpr std::size_t kAsctimeSize = 64;

// Reads key into command (which keeps what it held when the value is refused).
void ReadSetting(const char *path, const char *key, const char *defaultValue,
                 char (&command)[kCommandSize]) {
    int limit = kConfigValueLimit;
    ReadConfigFileValue(path, key, command, &limit, defaultValue);
}

// Applies the configuration file's settings through the logger's commands.
void ApplyConfiguration(const char *path, const std::tm &started) {
    char command[kCommandSize] = "";

    ReadSetting(path, kKeyLogLevel, kDefaultLogLevel, command);
    if (command[0] != '\0') {
        ProcessLogLevel(command);
    } else {
        log->setLevel(kLevelWarning);
    }

    char startedText[kAsctimeSize] = "";
    if (asctime_r(&started, startedText) == nullptr) {
        startedText[0] = '\0';
    }
    // The date text ends in its own line feed, which the line keeps; an argument's line feeds
    // would be escaped in the log, so it goes into the format.
    const std::size_t dateLength = std::strcspn(startedText, "\n");
    const bool endsInLineFeed = startedText[dateLength] == '\n';
    startedText[dateLength] = '\0';
    if (endsInLineFeed) {
        log->info("... libkel2cifs plugin started %s\n", startedText);
    } else {
        log->info("... libkel2cifs plugin started %s", startedText);
    }
    log->info("... log level = %d", log->level);

    ReadSetting(path, kKeyLogMaximumFileSize, kDefaultLogMaximumFileSize, command);
    if (command[0] != '\0') {
        // The limit is a 32-bit byte count: larger values are capped, not wrapped.
        long long size = std::strtoll(command, nullptr, 10);
        if (size > 4095) {
            if (size > 0x7fffffffLL) {
                size = 0x7fffffffLL;
            }
            std::snprintf(command, sizeof(command), "LIMIT=%d", static_cast<int>(size));
            ProcessLogLevel(command);
        }
    }

    ReadSetting(path, kKeyLogTimestamps, kDefaultLogTimestamps, command);
    if (command[0] != '\0') {
        if (strcasecmp(command, "NO") == 0) {
            ProcessLogLevel("TIMESTAMP=NO");
        } else if (strcasecmp(command, "YES") == 0) {
            ProcessLogLevel("TIMESTAMP=YES");
        }
    }
}

}  // namespace
}  // namespace kel2cifs

extern "C" {

void _fini();

// Load routine: starts the logger on the default log file at debug level, applies the
// configuration file when it exists and is writable, then registers the service methods. A
// refused registration stops the plug-in again.
void _init() {
    using namespace kel2cifs;
    std::time_t now = std::time(nullptr);
    if (g_started != 0) {
        return;
    }
    g_started = 1;

    std::tm started{};
    localtime_r(&now, &started);

    ResolvePaths();
    kel2cifs::log = Logger_init(logfilename, kLevelDebug);

    int exists = 0;
    if (ConfigFileExists(ConfigFilePath(), &exists) == kConfigOk) {
        ApplyConfiguration(ConfigFilePath(), started);
    }

    if (!RegisterServiceMethods()) {
        _fini();
    }
}

// Unload routine: deregisters the service methods, closes the log stream and releases the
// logger's buffers. Releasing them (Logger_deinit) keeps an unload from leaking them, and lets a
// later _init in the same mapping start the logger afresh on its stream.
void _fini() {
    using namespace kel2cifs;
    if (g_started == 0) {
        return;
    }
    g_started = 0;

    DeregisterServiceMethods();
    if (kel2cifs::log != nullptr) {
        kel2cifs::log->closestream();
        Logger_deinit();
    }
    kel2cifs::log = nullptr;
}

}  // extern "C"
