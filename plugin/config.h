// config.h: the plug-in's configuration file, read once by the load routine.
//
// One setting per line: the first two whitespace-separated words are the key and its value; a
// line whose first word begins with '#' or ';' is a comment; the first line whose key equals the
// asked key (case included) wins. Words after the value are ignored.
#ifndef KEL2CIFS_PLUGIN_CONFIG_H
#define KEL2CIFS_PLUGIN_CONFIG_H

namespace kel2cifs {

// Keys of the configuration file and their defaults.
inline constexpr char kKeyLogLevel[] = "LOG_LEVEL";
inline constexpr char kKeyLogMaximumFileSize[] = "LOG_MAXIMUM_FILE_SIZE";
inline constexpr char kKeyLogTimestamps[] = "LOG_TIMESTAMPS";
inline constexpr char kDefaultLogLevel[] = "WARNING";
inline constexpr char kDefaultLogMaximumFileSize[] = "4194304";
inline constexpr char kDefaultLogTimestamps[] = "YES";

// Capacity the load routine gives every value, terminator included.
inline constexpr int kConfigValueLimit = 64;
// Lines are read in pieces of this many bytes; a longer line is read as several lines.
inline constexpr int kConfigLineSize = 512;

// Result codes (the system's error numbers).
inline constexpr int kConfigOk = 0;
inline constexpr int kConfigNoFile = 2;        // ENOENT
inline constexpr int kConfigBadArgument = 22;  // EINVAL
inline constexpr int kConfigNoValue = 61;      // ENODATA
inline constexpr int kConfigTooLong = 90;      // EMSGSIZE

}  // namespace kel2cifs

extern "C" {
// 1 from load on; nothing in the plug-in changes it.
extern int AllowClearConn;
}

// Sets *exists to 0, then opens path for reading and writing without creating it: on success
// sets *exists to 1 and returns 0, else returns 2. A file the process may not write counts as
// missing.
int ConfigFileExists(const char *path, int *exists);

// Copies the value of the first line whose key is `key` into `value`, or `defaultValue` when no
// line has the key. *limit is the capacity of `value`, terminator included.
// Returns 0 when a value or the default was copied; 2 when the file cannot be opened; 22 when
// key (or value or limit) is null; 61 when no line matches and there is no default; 90 when the
// value does not fit: then *limit is set to the size it needs and `value` is left untouched.
// The file is opened for appending and reading, so a missing file is created empty.
int ReadConfigFileValue(const char *path, const char *key, char *value, int *limit,
                        const char *defaultValue);

#endif  // KEL2CIFS_PLUGIN_CONFIG_H
