// fuzz_process_log_level: sequences of logger text commands, each any text.
//
// Every input starts a fresh logger (the system log is captured, not written) on a file in the
// scratch root, or on one in a directory that does not exist, and runs up to eight commands
// through ProcessLogLevel and then the same command through ProcessLogLevelWOLogging. After
// each: both gave the same result, 1 exactly for a blank command, else 0 or 22; the level is one
// of 0 to 6; the size limit is the default or at least 4095; output goes to the system log or to
// the log file (open exactly when it can be opened), never to both; and a line can still be
// logged.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz/harness.h"
#include "logger/logger.h"
#include "logger/syslog_sink.h"

namespace kel2cifs::fuzz {
namespace {

constexpr std::size_t kMaxCommands = 8;
constexpr std::size_t kMaxCommand = 96;
constexpr int32_t kMinimumLimit = 4095;

void CaptureOpen(const char *identity, int, int) {
    Require(identity != nullptr, "the system log was opened without an identity");
}
void CaptureWrite(int, const char *text) {
    Require(text != nullptr, "a null text was sent to the system log");
    Require(std::strlen(text) < (std::size_t{1} << 20),
            "an endless text was sent to the system log");
}
void CaptureClose() {}

bool Blank(const char *text) {
    while (std::isspace(static_cast<unsigned char>(*text))) {
        ++text;
    }
    return *text == '\0';
}

void CheckLogger(const std::string &command, int result, bool openable) {
    const Logger *self = Logger_getInstance();
    const std::string what = " after \"" + command + "\"";
    Require(self->level >= kLevelNothing && self->level <= kLevelEverything,
            "level " + std::to_string(self->level) + what);
    Require(self->maxFileSize == kDefaultMaxFileSize || self->maxFileSize >= kMinimumLimit,
            "size limit " + std::to_string(self->maxFileSize) + what);
    if (self->syslogActive != 0) {
        Require(self->stream == nullptr, "output goes to the system log and to a file" + what);
    } else {
        Require((self->stream != nullptr) == openable,
                std::string(openable ? "no log file" : "a log file that cannot be opened") + what);
    }
    Require(self->syslogActive == 0 || self->mode == kModeSyslog,
            "the system log is active in mode " + std::to_string(self->mode) + what);
    Require(Blank(command.c_str()) == (result == 1),
            "result " + std::to_string(result) + " for a command that is " +
                (Blank(command.c_str()) ? "blank" : "not blank") + what);
    Require(result == 0 || result == 1 || result == 22, "result " + std::to_string(result) + what);
}

}  // namespace
}  // namespace kel2cifs::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    using namespace kel2cifs;
    using namespace kel2cifs::fuzz;
    Setup();
    static const std::string kOpenable = Root() + "/libkel2cifs.log";
    static const std::string kUnopenable = Root() + "/missing/libkel2cifs.log";
    FuzzedDataProvider in(data, size);
    const bool openable = in.ConsumeIntegral<uint8_t>() < 224;
    const std::string &file = openable ? kOpenable : kUnopenable;
    g_syslog_sink = SyslogSink{CaptureOpen, CaptureWrite, CaptureClose};
    Logger_deinit();
    std::remove(file.c_str());
    log = Logger_init(file.c_str(), kLevelEverything);
    Require((log->stream != nullptr) == openable, "the log file was opened: " + file);

    for (std::size_t i = 0; i < kMaxCommands && in.remaining_bytes() != 0; ++i) {
        const std::string command = Text(in, kMaxCommand);
        // A block of exactly the command's size: a read past its terminator is a heap overflow.
        std::unique_ptr<char[]> block(new char[command.size() + 1]);
        std::memcpy(block.get(), command.c_str(), command.size() + 1);
        const std::string text = block.get();

        const int result = ProcessLogLevel(block.get());
        CheckLogger(text, result, openable);
        const int silent = ProcessLogLevelWOLogging(block.get());
        Require(silent == result, "ProcessLogLevel gave " + std::to_string(result) +
                                      " but ProcessLogLevelWOLogging " + std::to_string(silent) +
                                      " for \"" + text + "\"");
        CheckLogger(text, silent, openable);
        log->error("after command %s", block.get());
    }

    Logger_deinit();
    std::remove(file.c_str());
    g_syslog_sink = kSyslogSinkDefault;
    return 0;
}
