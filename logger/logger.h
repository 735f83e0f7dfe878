// logger.h: the process-wide leveled diagnostic logger and its exported functions.
//
// One record, _my_local_instance, holds the logger's state and its table of operations; all code
// logs through the global pointer `log`, for example log->debug("x=%d", x). Every operation acts
// on _my_local_instance whichever record it was reached through. Lines go either to the log file
// (one "[<letter> <local time>] message" line per call, flushed at once) or to the system log.
//
// Everything here is constant-initialised: the loader's load and unload routines run before the
// library's constructors and after its destructors, and they use the logger.
#ifndef KEL2CIFS_LOGGER_LOGGER_H
#define KEL2CIFS_LOGGER_LOGGER_H

#include <cstdarg>
#include <cstdint>
#include <cstdio>

#define KEL2CIFS_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))

namespace kel2cifs {

// Levels: an operation written at level L is emitted only while `level` is at least L.
enum LogLevel : int {
    kLevelNothing = 0,
    kLevelError = 1,
    kLevelWarning = 2,
    kLevelInfo = 3,
    kLevelDebug = 4,
    kLevelDump = 5,
    kLevelEverything = 6,
};

// Output modes recorded in Logger::mode.
inline constexpr uint32_t kModeFile = 0;
inline constexpr uint32_t kModeSyslog = 3;

inline constexpr uint32_t kLoggerInitialized = 255;
inline constexpr int32_t kDefaultMaxFileSize = 16777216;
inline constexpr uint32_t kDefaultFlags = 2;
// Sizes of the two owned path buffers: the log file path as last opened, and that path cut
// before its first '.', which names the logger in the system log.
inline constexpr int kOutputFilenameSize = 271;
inline constexpr int kLognameSize = 255;

// What `logfilename` holds until the plug-in hands the logger the path below its root override.
inline constexpr char kDefaultLogFilePath[] = "/var/opt/zantio/log/libkel2cifs.log";

// Opens path with open(2) as flags | O_CREAT | O_CLOEXEC and wraps the descriptor in a stream of
// stdioMode. A file it creates has the permission bits `mode` (less the umask) from its first
// moment, unlike fopen's 0666. Returns the stream, or null with errno set.
FILE *OpenCreatingWithMode(const char *path, int flags, unsigned mode, const char *stdioMode);

}  // namespace kel2cifs

struct Logger {
    int32_t level;          // 0 to 6
    int32_t maxFileSize;    // kept, handed to the stream opener; no write consults it
    int32_t fileSize;       // stream position when the stream was opened; 0 after a reset
    uint32_t initialized;   // 255 while initialised, else 0
    uint32_t mode;          // last output mode request (0 file, 3 system log)
    uint32_t flags;         // option bits; setMode(4) and setMode(5) clear and set bit 0
    uint32_t resetCount;    // truncations done
    uint32_t syslogActive;  // 1 while output goes to the system log
    uint32_t streamOpen;    // 1 while `stream` was opened by the logger
    FILE *stream;           // the log file, or null

    void (*debug)(const char *format, ...) KEL2CIFS_PRINTF(1, 2);
    void (*debugPrefixed)(const char *name, const char *format, ...) KEL2CIFS_PRINTF(2, 3);
    void (*info)(const char *format, ...) KEL2CIFS_PRINTF(1, 2);
    void (*infoPrefixed)(const char *name, const char *format, ...) KEL2CIFS_PRINTF(2, 3);
    void (*warning)(const char *format, ...) KEL2CIFS_PRINTF(1, 2);
    void (*warningPrefixed)(const char *name, const char *format, ...) KEL2CIFS_PRINTF(2, 3);
    void (*error)(const char *format, ...) KEL2CIFS_PRINTF(1, 2);
    void (*errorPrefixed)(const char *name, const char *format, ...) KEL2CIFS_PRINTF(2, 3);
    void (*setLevel)(int level);
    void (*raiseLevel)();
    void (*lowerLevel)();
    int (*openstream)(const char *path);
    void (*closestream)();
    int (*flushstream)();
    int64_t (*getStreamSize)();
    void (*deinit)();
    void (*dump)(const char *format, ...) KEL2CIFS_PRINTF(1, 2);
    void (*ldump)(const char *bytes, int length);
    void (*bdump)(const unsigned char *bytes, int length);
    void (*writeAlways)(const char *format, ...) KEL2CIFS_PRINTF(1, 2);
    void (*syslogAndFile)(const char *format, ...) KEL2CIFS_PRINTF(1, 2);
    int (*setMode)(int request);
    int (*reserved)();

    char *f_output_filename;  // owned, kOutputFilenameSize bytes
    char *logname;            // owned, kLognameSize bytes
};

extern "C" {
// The logger the plug-in uses; statically zero, filled by Logger_init.
extern Logger _my_local_instance;
// An inert logger: every field 0, both buffers null; openstream, setMode and reserved return -1,
// getStreamSize returns 0, every other operation does nothing.
extern Logger _dummy_logger_instance;
// The log file the plug-in starts the logger on: kDefaultLogFilePath, or the path below the root
// override once the plug-in has resolved its paths (ResolvePaths sets it).
extern const char *logfilename;
}

namespace kel2cifs {

// The logger in use: null until the plug-in starts and again after it stops. Its exported symbol
// is plain "log"; declared inside this namespace so that it does not collide with the C math
// function of the same name in files that include <cmath>.
extern Logger *log __asm__("log");

}  // namespace kel2cifs

// Returns _my_local_instance.
Logger *Logger_getInstance();
// Initialises _my_local_instance once and opens fileName (when not null) as its stream; a second
// call returns the instance untouched.
Logger *Logger_init(const char *fileName, int level);
int Logger_openstream(const char *path);
void Logger_reopenstream();
void Logger_closestream();
int Logger_flushstream();
int64_t Logger_getStreamSize();
void Logger_deinit();
// "[L <time>] text" whatever the level (or the text alone to the system log).
void Logger_errormessage(const char *text);
void Logger_writeAlways(const char *format, va_list args);
void Logger_SyslogAndFile(const char *format, va_list args);

// Opens path with stdio mode "a+"; sizeLimit is not used. A missing file is created with mode 0600
// (less the umask); an existing one keeps its mode. Returns the stream or null.
FILE *OpenFileStream(const char *path, int64_t sizeLimit);
// Truncates the stream's file to 0 bytes: 0, or the errno value.
int TruncateFileStream(FILE *stream);

// Text commands (level words, modes, LIMIT=, TIMESTAMP=, RESET, MODE=...): 0 when recognised,
// 1 for an empty command, 22 when no keyword matches. ProcessLogLevel reports the change in the
// log; ProcessLogLevelWOLogging is silent.
int ProcessLogLevel(const char *command);
int ProcessLogLevelWOLogging(const char *command);
// The current level as "NOTHING", "ERROR", "WARN", "INFO", "DEBUG", "DUMP", "EVERYTHING" or
// "unknown".
const char *ConvertLogLevelToString();
// The setMode operation: output mode, reset and rotation requests. Always 0.
int setMode(int request);

// Creates path and every missing parent with mode (0 means 0777), before the process's umask;
// existing directories (or links to them) are accepted. 0, or -1 with errno set: EEXIST when the
// last component exists and is not a directory, ENOTDIR when an earlier one is not, ENOMEM when
// the path cannot be copied, EINVAL for a null path, or the error of mkdir or stat. pkg_dir_build
// is this function.
int make_path(const char *path, unsigned mode);
// make_path with mode 0744: 0, or the errno value.
int MakeLinuxPath(const char *path);
// Writes controlPath with content once (mode 0644) and links linkPath to it once: 0 or errno.
int SetupLogRotateControlFile(const char *directory, const char *controlPath, const char *linkPath,
                              const char *content);

#endif  // KEL2CIFS_LOGGER_LOGGER_H
