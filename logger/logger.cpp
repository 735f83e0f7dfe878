// logger.cpp: the logger record, its operations and its stream handling.
//
// Every line is built whole in memory first (tag, local time, prefix, message, newline) and then
// written to the stream in one locked write followed by a flush, so that lines logged from several
// request threads at once never interleave. Short lines are built on the stack; longer ones move
// to the heap and are never cut.
//
// The stream itself is opened, swapped and closed only by the load and unload routines and by the
// text commands they issue, never while requests are being served: writers read `stream` once and
// do not guard against it being closed under them.
#include "logger/logger.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <string_view>

#include "logger/syslog_sink.h"

using namespace kel2cifs;

// The longest log path the two owned buffers hold with their terminators.
inline constexpr std::size_t kMaxLogPathLength = kLognameSize - 1;
// Permission bits of the log file: the process that writes it must be able to reopen it.
inline constexpr mode_t kLogFileMode = 0600;
// Logger_SyslogAndFile formats into a buffer of this size; longer text is cut to fit.
inline constexpr std::size_t kSyslogAndFileSize = 2048;

void kel2cifs::SyslogOpenDefault(const char *identity, int option, int facility) {
    openlog(identity, option, facility);
}
void kel2cifs::SyslogWriteDefault(int priority, const char *text) {
    syslog(priority, "%s", text);
}
void kel2cifs::SyslogCloseDefault() {
    closelog();
}

constinit SyslogSink kel2cifs::g_syslog_sink = kSyslogSinkDefault;

namespace {

// Room for a typical line without touching the heap.
constexpr std::size_t kStackLineSize = 1024;

bool IsControl(unsigned char byte) {
    return byte < 0x20 || byte == 0x7f;
}

std::size_t CountControls(const char *text, std::size_t length) {
    std::size_t count = 0;
    for (std::size_t index = 0; index < length; ++index) {
        count += IsControl(static_cast<unsigned char>(text[index])) ? 1 : 0;
    }
    return count;
}

// The control bytes of a format's own text: conversions never hold one, so every control byte a
// formatted message holds beyond these came from an argument.
std::size_t CountFormatControls(const char *format) {
    return CountControls(format, std::strlen(format));
}

// One unit of output (a line or a whole dump), always NUL-terminated. When memory for a longer
// unit cannot be had the buffer is marked failed and the unit is dropped with a note on standard
// error, never written cut.
class LineBuffer {
  public:
    LineBuffer() { stack_[0] = '\0'; }
    LineBuffer(const LineBuffer &) = delete;
    LineBuffer &operator=(const LineBuffer &) = delete;
    ~LineBuffer() { std::free(heap_); }

    void Append(const char *data, std::size_t length) {
        if (length == 0 || !Reserve(length)) {
            return;
        }
        std::memcpy(Data() + size_, data, length);
        size_ += length;
        Data()[size_] = '\0';
    }
    void Append(const char *text) { Append(text, std::strlen(text)); }

    void FormatV(const char *format, va_list args) {
        if (failed_) {
            return;
        }
        if (format == nullptr) {
            format = "";
        }
        va_list first;
        va_copy(first, args);
        int needed = std::vsnprintf(Data() + size_, capacity_ - size_, format, first);
        va_end(first);
        if (needed < 0) {
            failed_ = true;
            return;
        }
        std::size_t length = static_cast<std::size_t>(needed);
        if (length >= capacity_ - size_) {
            if (!Reserve(length)) {
                return;
            }
            std::vsnprintf(Data() + size_, capacity_ - size_, format, args);
        }
        size_ += length;
    }

    // Appends the text with every control byte written as an escape ("\\r", "\\n", "\\t", "\\e",
    // "\\xHH"), so that it stays within its line.
    void AppendEscaped(const char *data, std::size_t length) {
        static constexpr char kHex[] = "0123456789abcdef";
        std::size_t start = 0;
        for (std::size_t index = 0; index < length; ++index) {
            const auto byte = static_cast<unsigned char>(data[index]);
            if (!IsControl(byte)) {
                continue;
            }
            Append(data + start, index - start);
            start = index + 1;
            switch (byte) {
                case '\r':
                    Append("\\r", 2);
                    break;
                case '\n':
                    Append("\\n", 2);
                    break;
                case '\t':
                    Append("\\t", 2);
                    break;
                case 0x1b:
                    Append("\\e", 2);
                    break;
                default: {
                    const char escape[4] = {'\\', 'x', kHex[byte >> 4], kHex[byte & 0xf]};
                    Append(escape, sizeof(escape));
                }
            }
        }
        Append(data + start, length - start);
    }

    // A log message: formatted like FormatV, but the control bytes that the arguments bring (a
    // file name holding CR LF or an ESC sequence) are escaped, while the format's own line feeds
    // stay. Messages whose arguments hold none (nearly all) are formatted once, as they are.
    void FormatMessageV(const char *format, va_list args) {
        if (failed_) {
            return;
        }
        if (format == nullptr) {
            format = "";
        }
        const std::size_t begin = size_;
        va_list first;
        va_copy(first, args);
        FormatV(format, first);
        va_end(first);
        if (failed_ ||
            CountControls(Data() + begin, size_ - begin) == CountFormatControls(format)) {
            return;
        }
        size_ = begin;
        Data()[size_] = '\0';
        FormatEscapingArguments(format, args);
    }

    KEL2CIFS_PRINTF(2, 3) void Format(const char *format, ...) {
        va_list args;
        va_start(args, format);
        FormatV(format, args);
        va_end(args);
    }

    // "[<letter> <local time>] ", the local time as "%F %T".
    void Tag(char letter) {
        char stamp[32] = "";
        std::time_t now = std::time(nullptr);
        std::tm local{};
        if (localtime_r(&now, &local) != nullptr) {
            std::strftime(stamp, sizeof(stamp), "%F %T", &local);
        }
        Format("[%c %s] ", letter, stamp);
    }

    // Bracket the message: all of the unit that the system log gets, without the tag, the prefix
    // name, the newline or a dump's markup.
    void BeginMessage() { messageBegin_ = size_; }
    void EndMessage() { messageEnd_ = size_; }
    // Ends the text right after the message and returns the message; the unit is cut for good.
    const char *CutToMessage() {
        Data()[messageEnd_] = '\0';
        return Data() + messageBegin_;
    }

    bool failed() const { return failed_; }
    const char *c_str() const { return heap_ != nullptr ? heap_ : stack_; }
    std::size_t size() const { return size_; }

  private:
    char *Data() { return heap_ != nullptr ? heap_ : stack_; }

    // Makes room for `extra` more bytes and the terminator.
    bool Reserve(std::size_t extra) {
        if (failed_) {
            return false;
        }
        if (extra < capacity_ - size_) {
            return true;
        }
        if (extra > SIZE_MAX / 2 - size_ - 1) {
            failed_ = true;
            return false;
        }
        std::size_t capacity = capacity_ * 2;
        if (capacity < size_ + extra + 1) {
            capacity = size_ + extra + 1;
        }
        char *grown = static_cast<char *>(std::realloc(heap_, capacity));
        if (grown == nullptr) {
            failed_ = true;
            return false;
        }
        if (heap_ == nullptr) {
            std::memcpy(grown, stack_, size_ + 1);
        }
        heap_ = grown;
        capacity_ = capacity;
        return true;
    }

    // One conversion of a format, written with the arguments it takes; `escape` for texts.
    template <typename T>
    void Conversion(const char *directive, int stars, int first, int second, T value, bool escape) {
        char small[256];
        int needed = stars == 0 ? std::snprintf(small, sizeof(small), directive, value)
                     : stars == 1
                         ? std::snprintf(small, sizeof(small), directive, first, value)
                         : std::snprintf(small, sizeof(small), directive, first, second, value);
        if (needed < 0) {
            failed_ = true;
            return;
        }
        const char *text = small;
        std::unique_ptr<char[]> large;
        if (static_cast<std::size_t>(needed) >= sizeof(small)) {
            const std::size_t size = static_cast<std::size_t>(needed) + 1;
            large.reset(new (std::nothrow) char[size]);
            if (large == nullptr) {
                failed_ = true;
                return;
            }
            stars == 0   ? std::snprintf(large.get(), size, directive, value)
            : stars == 1 ? std::snprintf(large.get(), size, directive, first, value)
                         : std::snprintf(large.get(), size, directive, first, second, value);
            text = large.get();
        }
        if (escape) {
            AppendEscaped(text, static_cast<std::size_t>(needed));
        } else {
            Append(text, static_cast<std::size_t>(needed));
        }
    }

    // Walks the format one conversion at a time (flags, width and precision, "*" included, and
    // the length modifiers), taking each argument by its type.
    void FormatEscapingArguments(const char *format, va_list args) {
        va_list rest;
        va_copy(rest, args);
        const char *text = format;
        while (*text != '\0' && !failed_) {
            const char *percent = std::strchr(text, '%');
            if (percent == nullptr) {
                Append(text);
                break;
            }
            Append(text, static_cast<std::size_t>(percent - text));
            const char *cursor = percent + 1;
            int stars = 0;
            int star[2] = {0, 0};
            cursor += std::strspn(cursor, "-+ #0'");
            if (*cursor == '*') {
                star[stars++] = va_arg(rest, int);
                ++cursor;
            } else {
                cursor += std::strspn(cursor, "0123456789");
            }
            if (*cursor == '.') {
                ++cursor;
                if (*cursor == '*') {
                    star[stars++] = va_arg(rest, int);
                    ++cursor;
                } else {
                    cursor += std::strspn(cursor, "0123456789");
                }
            }
            const char *lengthStart = cursor;
            cursor += std::strspn(cursor, "hljztL");
            const std::string_view length(lengthStart,
                                          static_cast<std::size_t>(cursor - lengthStart));
            const char conversion = *cursor;
            if (conversion == '\0' || cursor - percent + 2 > 32) {
                Append(percent);  // not a conversion: written as it stands
                break;
            }
            char directive[32];
            const std::size_t directiveLength = static_cast<std::size_t>(cursor - percent + 1);
            std::memcpy(directive, percent, directiveLength);
            directive[directiveLength] = '\0';
            text = cursor + 1;
            switch (conversion) {
                case '%':
                    Append("%", 1);
                    break;
                case 'd':
                case 'i':
                    if (length == "ll" || length == "j") {
                        Conversion(directive, stars, star[0], star[1], va_arg(rest, long long),
                                   false);
                    } else if (length == "l" || length == "z" || length == "t") {
                        Conversion(directive, stars, star[0], star[1], va_arg(rest, long), false);
                    } else {
                        Conversion(directive, stars, star[0], star[1], va_arg(rest, int), false);
                    }
                    break;
                case 'u':
                case 'o':
                case 'x':
                case 'X':
                    if (length == "ll" || length == "j") {
                        Conversion(directive, stars, star[0], star[1],
                                   va_arg(rest, unsigned long long), false);
                    } else if (length == "l" || length == "z" || length == "t") {
                        Conversion(directive, stars, star[0], star[1], va_arg(rest, unsigned long),
                                   false);
                    } else {
                        Conversion(directive, stars, star[0], star[1], va_arg(rest, unsigned),
                                   false);
                    }
                    break;
                case 'c':
                    Conversion(directive, stars, star[0], star[1], va_arg(rest, int), true);
                    break;
                case 's':
                    Conversion(directive, stars, star[0], star[1], va_arg(rest, const char *),
                               true);
                    break;
                case 'p':
                    Conversion(directive, stars, star[0], star[1], va_arg(rest, void *), false);
                    break;
                case 'f':
                case 'F':
                case 'e':
                case 'E':
                case 'g':
                case 'G':
                case 'a':
                case 'A':
                    if (length == "L") {
                        Conversion(directive, stars, star[0], star[1], va_arg(rest, long double),
                                   false);
                    } else {
                        Conversion(directive, stars, star[0], star[1], va_arg(rest, double), false);
                    }
                    break;
                case 'n':
                    (void)va_arg(rest, void *);  // writes nothing here
                    break;
                default:
                    AppendEscaped(directive, directiveLength);
                    break;
            }
        }
        va_end(rest);
    }

    char stack_[kStackLineSize];
    char *heap_ = nullptr;
    std::size_t capacity_ = kStackLineSize;
    std::size_t size_ = 0;
    std::size_t messageBegin_ = 0;
    std::size_t messageEnd_ = 0;
    bool failed_ = false;
};

void ReportDropped() {
    std::fputs("Logger: not enough memory for a log line; the line was dropped\n", stderr);
}

// Writes the unit as one piece and flushes it, holding the stream's lock throughout.
void WriteUnit(FILE *stream, const LineBuffer &unit) {
    if (unit.failed()) {
        ReportDropped();
        return;
    }
    flockfile(stream);
    std::fwrite(unit.c_str(), 1, unit.size(), stream);
    std::fflush(stream);
    funlockfile(stream);
}

void SendToSyslog(int priority, const LineBuffer &text) {
    if (text.failed()) {
        ReportDropped();
        return;
    }
    g_syslog_sink.write(priority, text.c_str());
}

// False while output goes nowhere (not to the system log, and no stream): writers then skip
// building their unit.
bool HasOutput() {
    const Logger *self = Logger_getInstance();
    return self->syslogActive != 0 || self->stream != nullptr;
}

// Sends a built unit to the logger's output: in system-log mode only its message, at priority;
// otherwise the whole unit to the stream, if there is one. The unit is cut in the first case.
void Emit(LineBuffer &unit, int priority) {
    Logger *self = Logger_getInstance();
    if (self->syslogActive != 0) {
        if (unit.failed()) {
            ReportDropped();
            return;
        }
        g_syslog_sink.write(priority, unit.CutToMessage());
    } else if (FILE *stream = self->stream; stream != nullptr) {
        WriteUnit(stream, unit);
    }
}

int32_t ClampPosition(off_t position) {
    if (position < 0) {
        return 0;
    }
    return position > INT32_MAX ? INT32_MAX : static_cast<int32_t>(position);
}

// Copies at most size - 1 bytes of text (stopping at `stop` when it is not NUL) and terminates.
void CopyBounded(char *target, std::size_t size, const char *text, char stop = '\0') {
    std::size_t length = 0;
    while (length + 1 < size && text[length] != '\0' && text[length] != stop) {
        ++length;
    }
    std::memmove(target, text, length);
    target[length] = '\0';
}

// Narrows an existing log file that was wider to the log file's permission bits (a new one already
// has them); a failure is reported and ignored.
void ProtectLogFile(FILE *stream, const char *path, const char *caller) {
    if (fchmod(fileno(stream), kLogFileMode) != 0) {
        int error = errno;
        std::fprintf(stderr, "%s: chmod failed for %s.Error Code: %d(%s)\n", caller, path, error,
                     std::strerror(error));
    }
}

// The leveled writes, levels 1 to 4. In system-log mode the message goes out at LOG_DEBUG
// whatever the level, without the prefix name.
void LeveledWrite(int level, char letter, const char *name, const char *format, va_list args) {
    if (Logger_getInstance()->level < level || !HasOutput()) {
        return;
    }
    LineBuffer line;
    line.Tag(letter);
    if (name != nullptr) {
        line.Format("%s: ", name);
    }
    line.BeginMessage();
    line.FormatMessageV(format, args);
    line.EndMessage();
    line.Append("\n", 1);
    Emit(line, LOG_DEBUG);
}

template <int kLevel, char kLetter>
void LeveledOperation(const char *format, ...) {
    va_list args;
    va_start(args, format);
    LeveledWrite(kLevel, kLetter, nullptr, format, args);
    va_end(args);
}

template <int kLevel, char kLetter>
void PrefixedOperation(const char *name, const char *format, ...) {
    va_list args;
    va_start(args, format);
    LeveledWrite(kLevel, kLetter, name != nullptr ? name : "", format, args);
    va_end(args);
}

void SetLevelOperation(int level) {
    Logger_getInstance()->level = level;
}

void RaiseLevelOperation() {
    Logger *self = Logger_getInstance();
    if (self->level <= kLevelDump) {
        ++self->level;
    }
}

void LowerLevelOperation() {
    Logger *self = Logger_getInstance();
    if (self->level > kLevelNothing) {
        --self->level;
    }
}

void DumpOperation(const char *format, ...) {
    if (Logger_getInstance()->level < kLevelDump || !HasOutput()) {
        return;
    }
    LineBuffer unit;
    unit.Tag('*');
    unit.Append("<dump>\n");
    unit.BeginMessage();
    va_list args;
    va_start(args, format);
    unit.FormatMessageV(format, args);
    va_end(args);
    unit.EndMessage();
    unit.Append("\n</dump>\n");
    Emit(unit, LOG_DEBUG);
}

void LdumpOperation(const char *bytes, int length) {
    if (Logger_getInstance()->level < kLevelDump || length < 0 ||
        (bytes == nullptr && length > 0) || !HasOutput()) {
        return;
    }
    LineBuffer unit;
    unit.Tag('*');
    unit.Format("<ldump len=\"%d\">\n", length);
    unit.BeginMessage();
    // The system log takes the message as text: it sees the bytes up to the first NUL among them.
    unit.Append(bytes, static_cast<std::size_t>(length));
    unit.EndMessage();
    unit.Append("\n</ldump>\n");
    Emit(unit, LOG_DEBUG);
}

void BdumpOperation(const unsigned char *bytes, int length) {
    static constexpr char kHex[] = "0123456789abcdef";
    Logger *self = Logger_getInstance();
    if (self->level < kLevelDump || bytes == nullptr || length <= 0 || self->syslogActive != 0) {
        return;
    }
    FILE *stream = self->stream;
    if (stream == nullptr) {
        return;
    }
    LineBuffer unit;
    unit.Tag('*');
    unit.Format("\n<bdump len=\"%d\">\n", length);
    unit.Format("[%08d]  ", 0);
    for (int index = 0; index < length; ++index) {
        const char pair[3] = {kHex[bytes[index] >> 4], kHex[bytes[index] & 0xf], ' '};
        unit.Append(pair, sizeof(pair));
        if ((index + 1) % 16 == 0) {
            unit.Format("\n[%08d]  ", index + 1);
        }
    }
    unit.Append("\n</bdump>\n");
    WriteUnit(stream, unit);
}

void WriteAlwaysOperation(const char *format, ...) {
    va_list args;
    va_start(args, format);
    Logger_writeAlways(format, args);
    va_end(args);
}

void SyslogAndFileOperation(const char *format, ...) {
    va_list args;
    va_start(args, format);
    Logger_SyslogAndFile(format, args);
    va_end(args);
}

int ReservedOperation() {
    return 0;
}

// The inert logger's operations.
void InertWrite(const char *, ...) {}
void InertPrefixed(const char *, const char *, ...) {}
void InertSetLevel(int) {}
void InertNoArguments() {}
int InertOpen(const char *) {
    return -1;
}
int InertFlush() {
    return 0;
}
int64_t InertSize() {
    return 0;
}
void InertLdump(const char *, int) {}
void InertBdump(const unsigned char *, int) {}
int InertSetMode(int) {
    return -1;
}
int InertReserved() {
    return -1;
}

}  // namespace

extern "C" {
constinit Logger _my_local_instance{};
constinit Logger _dummy_logger_instance{
    .level = 0,
    .maxFileSize = 0,
    .fileSize = 0,
    .initialized = 0,
    .mode = 0,
    .flags = 0,
    .resetCount = 0,
    .syslogActive = 0,
    .streamOpen = 0,
    .stream = nullptr,
    .debug = InertWrite,
    .debugPrefixed = InertPrefixed,
    .info = InertWrite,
    .infoPrefixed = InertPrefixed,
    .warning = InertWrite,
    .warningPrefixed = InertPrefixed,
    .error = InertWrite,
    .errorPrefixed = InertPrefixed,
    .setLevel = InertSetLevel,
    .raiseLevel = InertNoArguments,
    .lowerLevel = InertNoArguments,
    .openstream = InertOpen,
    .closestream = InertNoArguments,
    .flushstream = InertFlush,
    .getStreamSize = InertSize,
    .deinit = InertNoArguments,
    .dump = InertWrite,
    .ldump = InertLdump,
    .bdump = InertBdump,
    .writeAlways = InertWrite,
    .syslogAndFile = InertWrite,
    .setMode = InertSetMode,
    .reserved = InertReserved,
    .f_output_filename = nullptr,
    .logname = nullptr,
};
constinit const char *logfilename = kDefaultLogFilePath;
}

constinit Logger *kel2cifs::log = nullptr;

Logger *Logger_getInstance() {
    return &_my_local_instance;
}

Logger *Logger_init(const char *fileName, int level) {
    Logger *self = Logger_getInstance();
    if (self->initialized != 0) {
        return self;
    }
    *self = Logger{
        .level = level,
        .maxFileSize = kDefaultMaxFileSize,
        .fileSize = 0,
        .initialized = kLoggerInitialized,
        .mode = kModeFile,
        .flags = kDefaultFlags,
        .resetCount = 0,
        .syslogActive = 0,
        .streamOpen = 0,
        .stream = nullptr,
        .debug = LeveledOperation<kLevelDebug, 'D'>,
        .debugPrefixed = PrefixedOperation<kLevelDebug, 'D'>,
        .info = LeveledOperation<kLevelInfo, 'i'>,
        .infoPrefixed = PrefixedOperation<kLevelInfo, 'i'>,
        .warning = LeveledOperation<kLevelWarning, 'W'>,
        .warningPrefixed = PrefixedOperation<kLevelWarning, 'W'>,
        .error = LeveledOperation<kLevelError, '!'>,
        .errorPrefixed = PrefixedOperation<kLevelError, '!'>,
        .setLevel = SetLevelOperation,
        .raiseLevel = RaiseLevelOperation,
        .lowerLevel = LowerLevelOperation,
        .openstream = Logger_openstream,
        .closestream = Logger_closestream,
        .flushstream = Logger_flushstream,
        .getStreamSize = Logger_getStreamSize,
        .deinit = Logger_deinit,
        .dump = DumpOperation,
        .ldump = LdumpOperation,
        .bdump = BdumpOperation,
        .writeAlways = WriteAlwaysOperation,
        .syslogAndFile = SyslogAndFileOperation,
        .setMode = ::setMode,
        .reserved = ReservedOperation,
        .f_output_filename = nullptr,
        .logname = nullptr,
    };

    self->logname = static_cast<char *>(std::calloc(kLognameSize, 1));
    if (self->logname == nullptr) {
        std::fputs("logname == NULL", stderr);
    }
    self->f_output_filename = static_cast<char *>(std::calloc(kOutputFilenameSize, 1));
    if (self->f_output_filename == nullptr) {
        std::fputs("f_output_filename == NULL", stderr);
        return self;
    }
    if (fileName != nullptr) {
        self->openstream(fileName);
    }
    return self;
}

int Logger_openstream(const char *path) {
    Logger *self = Logger_getInstance();
    if (self->f_output_filename == nullptr) {
        std::fputs("*f_output_filename == NULL\n", stderr);
        return 12;
    }
    if (path == nullptr) {
        if (self->f_output_filename[0] == '\0') {
            std::fputs("filename == NULL\n", stderr);
            return 22;
        }
        path = self->f_output_filename;
    }
    // A longer path would not fit the owned buffers: refused before anything is touched.
    if (strnlen(path, kMaxLogPathLength + 1) > kMaxLogPathLength) {
        std::fprintf(stderr,
                     "Logger_openstream: log file path longer than %zu characters refused\n",
                     kMaxLogPathLength);
        return 22;
    }
    FILE *stream = OpenFileStream(path, self->maxFileSize);
    if (stream == nullptr) {
        std::fprintf(stderr, "f_open(%s) == NULL\n", path);
        return 2;
    }
    ProtectLogFile(stream, path, "Logger_openstream");
    // The record holds one stream: one it opened before is closed, not leaked.
    if (self->streamOpen != 0 && self->stream != nullptr) {
        std::fclose(self->stream);
    }
    self->stream = stream;
    if (path != self->f_output_filename) {
        CopyBounded(self->f_output_filename, kOutputFilenameSize, path);
    }
    if (self->logname != nullptr) {
        CopyBounded(self->logname, kLognameSize, path, '.');
    }
    self->streamOpen = 1;
    self->fileSize = ClampPosition(ftello(stream));
    return 0;
}

void Logger_reopenstream() {
    Logger *self = Logger_getInstance();
    if (self->f_output_filename == nullptr || self->f_output_filename[0] == '\0') {
        return;
    }
    Logger_closestream();
    FILE *stream = OpenFileStream(self->f_output_filename, self->maxFileSize);
    if (stream == nullptr) {
        return;
    }
    ProtectLogFile(stream, self->f_output_filename, "Logger_reopenstream");
    self->stream = stream;
    self->streamOpen = 1;
    self->fileSize = ClampPosition(ftello(stream));
}

void Logger_closestream() {
    Logger *self = Logger_getInstance();
    if (self->streamOpen == 0) {
        return;
    }
    if (self->stream != nullptr) {
        std::fflush(self->stream);
        std::fclose(self->stream);
    }
    self->stream = nullptr;
    self->streamOpen = 0;
}

int Logger_flushstream() {
    Logger *self = Logger_getInstance();
    return self->stream != nullptr ? std::fflush(self->stream) : 0;
}

int64_t Logger_getStreamSize() {
    Logger *self = Logger_getInstance();
    return self->stream != nullptr ? static_cast<int64_t>(ftello(self->stream)) : 0;
}

void Logger_deinit() {
    Logger *self = Logger_getInstance();
    Logger_flushstream();
    Logger_closestream();
    self->stream = nullptr;
    std::free(self->f_output_filename);
    self->f_output_filename = nullptr;
    std::free(self->logname);
    self->logname = nullptr;
    self->syslogActive = 0;
    self->streamOpen = 0;
    self->initialized = 0;
}

void Logger_errormessage(const char *text) {
    if (text == nullptr || !HasOutput()) {
        return;
    }
    LineBuffer line;
    line.Tag('L');
    line.BeginMessage();
    line.AppendEscaped(text, std::strlen(text));
    line.EndMessage();
    line.Append("\n", 1);
    Emit(line, LOG_DEBUG);
}

void Logger_writeAlways(const char *format, va_list args) {
    if (!HasOutput()) {
        return;
    }
    LineBuffer line;
    line.Tag('-');
    line.BeginMessage();
    line.FormatMessageV(format, args);
    line.EndMessage();
    line.Append("\n", 1);
    Emit(line, LOG_DEBUG);
}

void Logger_SyslogAndFile(const char *format, va_list args) {
    Logger *self = Logger_getInstance();
    char text[kSyslogAndFileSize];
    LineBuffer formatted;
    formatted.FormatMessageV(format, args);
    CopyBounded(text, sizeof(text), formatted.failed() ? "" : formatted.c_str());
    LineBuffer message;
    message.Append("[Info]");
    message.Append(text);
    SendToSyslog(LOG_INFO, message);
    FILE *stream = self->stream;
    if (stream == nullptr) {
        return;
    }
    LineBuffer line;
    line.Tag('-');
    line.Append(text);
    line.Append("\n", 1);
    WriteUnit(stream, line);
}

FILE *kel2cifs::OpenCreatingWithMode(const char *path, int flags, unsigned mode,
                                     const char *stdioMode) {
    int descriptor = open(path, flags | O_CREAT | O_CLOEXEC, static_cast<mode_t>(mode));
    if (descriptor < 0) {
        return nullptr;
    }
    FILE *stream = fdopen(descriptor, stdioMode);
    if (stream == nullptr) {
        int error = errno;
        close(descriptor);
        errno = error;
    }
    return stream;
}

FILE *OpenFileStream(const char *path, int64_t sizeLimit) {
    (void)sizeLimit;
    if (path == nullptr) {
        return nullptr;
    }
    // fopen's "a+", but a new file is never readable by others, not even for a moment.
    return OpenCreatingWithMode(path, O_RDWR | O_APPEND, kLogFileMode, "a+");
}

int TruncateFileStream(FILE *stream) {
    if (stream == nullptr) {
        return EINVAL;
    }
    int result = 0;
    flockfile(stream);
    std::fflush(stream);
    int descriptor = fileno(stream);
    if (descriptor < 0) {
        result = errno;
    } else if (ftruncate(descriptor, 0) != 0) {
        result = errno;
    } else {
        // Keeps the stream's idea of its position in step with the now empty file.
        fseeko(stream, 0, SEEK_SET);
    }
    funlockfile(stream);
    return result;
}
