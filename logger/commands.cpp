// commands.cpp: the logger's text commands and its setMode operation.
//
// A command is one word, matched without regard to case. Level and mode words may be abbreviated
// to any prefix; the table is tried in order and the first match decides, so "L" is
// "LEVELNOTHING" and "DE" is "DEBUG" although "DEFAULT" also begins that way. Option commands
// (LIMIT, TIMESTAMP, RESET) only need to begin with their keyword. ProcessLogLevel reports a
// change with Logger_errormessage before making it, so that a switch of output mode is reported
// on the output being left.
#include <strings.h>
#include <syslog.h>

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "logger/logger.h"
#include "logger/syslog_sink.h"

using namespace kel2cifs;

namespace {

// The smallest size limit a LIMIT command accepts.
constexpr long long kMinimumFileSize = 4095;
// Keyword lengths skipped by a size command that has no '=': "LOG_MAXIMUM_FILE_SIZE", "LIMIT".
constexpr std::size_t kLongSizeKeywordLength = 21;
constexpr std::size_t kShortSizeKeywordLength = 5;
// The "MODE=" commands need more than "MODE=" itself.
constexpr std::size_t kModeCommandMinimum = 6;
// Buffer of the size report line.
constexpr std::size_t kSizeLineSize = 256;
// The setMode requests the commands make.
constexpr int kRequestFile = 0;
constexpr int kRequestBackup = 1;
constexpr int kRequestTruncate = 2;
constexpr int kRequestSyslog = 3;
constexpr int kRequestReset = 8;

// The system-log identity; openlog keeps the pointer, so the text lives for the process.
constinit char g_syslog_identity[kOutputFilenameSize] = "";

enum class Match {
    kWord,      // the command is an abbreviation of the keyword
    kStart,     // the command begins with the whole keyword
    kModeWord,  // kWord, for commands of more than five characters only
};

enum class Action { kLevel, kMode, kSizeLimit, kTimestamp };

struct Command {
    Match match;
    const char *keywords[4];
    Action action;
    int value;             // the level for kLevel, the setMode request for kMode
    const char *reported;  // ProcessLogLevel's line, or null
};

constexpr Command kCommands[] = {
    {Match::kWord,
     {"NOTHING", "LEVELNOTHING"},
     Action::kLevel,
     kLevelNothing,
     "ProcessLogLevel changed to \"nothing\""},
    {Match::kWord,
     {"ERROR", "LEVELERROR"},
     Action::kLevel,
     kLevelError,
     "ProcessLogLevel changed to \"error\""},
    {Match::kWord,
     {"WARNING", "LEVELWARNING"},
     Action::kLevel,
     kLevelWarning,
     "ProcessLogLevel changed to \"warning\""},
    {Match::kWord,
     {"INFO", "LEVELINFO"},
     Action::kLevel,
     kLevelInfo,
     "ProcessLogLevel changed to \"info\""},
    {Match::kWord,
     {"DEBUG", "LEVELDEBUG"},
     Action::kLevel,
     kLevelDebug,
     "ProcessLogLevel changed to \"debug\""},
    {Match::kWord,
     {"DUMP", "LEVELDUMP"},
     Action::kLevel,
     kLevelDump,
     "ProcessLogLevel changed to \"dump\""},
    {Match::kWord,
     {"ALL", "LEVELALL", "EVERYTHING", "LEVELEVERYTHING"},
     Action::kLevel,
     kLevelEverything,
     "ProcessLogLevel changed to \"everything\""},
    {Match::kWord,
     {"DEFAULT"},
     Action::kMode,
     kRequestFile,
     "ProcessLogLevel switch to default mode"},
    {Match::kWord,
     {"SYSLOG"},
     Action::kMode,
     kRequestSyslog,
     "ProcessLogLevel switch to syslog mode"},
    {Match::kStart, {"LIMIT", "LOG_MAXIMUM_FILE_SIZE"}, Action::kSizeLimit, 0, nullptr},
    {Match::kStart, {"TIMESTAMP", "LOG_TIMESTAMPS"}, Action::kTimestamp, 0, nullptr},
    {Match::kStart, {"RESET"}, Action::kMode, kRequestReset, nullptr},
    {Match::kModeWord,
     {"MODE=TRUNCATE"},
     Action::kMode,
     kRequestTruncate,
     "ProcessLogLevel process mode change to truncate mode"},
    {Match::kModeWord,
     {"MODE=BACKUP"},
     Action::kMode,
     kRequestBackup,
     "ProcessLogLevel process mode change to backup mode"},
};

bool Matches(Match match, std::string_view command, const char *keyword) {
    std::size_t keywordLength = std::strlen(keyword);
    switch (match) {
        case Match::kModeWord:
            if (command.size() < kModeCommandMinimum) {
                return false;
            }
            [[fallthrough]];
        case Match::kWord:
            return command.size() <= keywordLength &&
                   strncasecmp(command.data(), keyword, command.size()) == 0;
        case Match::kStart:
            return command.size() >= keywordLength &&
                   strncasecmp(command.data(), keyword, keywordLength) == 0;
    }
    return false;
}

void Report(bool reporting, const char *line) {
    if (reporting && line != nullptr) {
        Logger_errormessage(line);
    }
}

// "LIMIT=n", "LIMIT n", "LOG_MAXIMUM_FILE_SIZE = n" and the like. A missing, non-numeric or too
// small value is ignored; a value beyond the field's range is taken as its largest value.
void ApplySizeLimit(std::string_view command, bool reporting) {
    std::size_t start = command.find('=');
    if (start != std::string_view::npos) {
        ++start;
    } else {
        start = command[3] == '_' ? kLongSizeKeywordLength : kShortSizeKeywordLength;
    }
    if (start > command.size()) {
        return;
    }
    const char *text = command.data() + start;
    while (std::isspace(static_cast<unsigned char>(*text))) {
        ++text;
    }
    if (*text == '\0') {
        return;
    }
    long long value = std::strtoll(text, nullptr, 10);
    if (value < kMinimumFileSize) {
        return;
    }
    if (value > INT32_MAX) {
        value = INT32_MAX;
    }
    if (reporting) {
        char line[kSizeLineSize];
        std::snprintf(line, sizeof(line), "ProcessLogLevel set file size = %d",
                      static_cast<int>(value));
        Logger_errormessage(line);
    }
    Logger_getInstance()->maxFileSize = static_cast<int32_t>(value);
}

int Apply(const Command &command, std::string_view text, bool reporting) {
    Report(reporting, command.reported);
    switch (command.action) {
        case Action::kLevel:
            Logger_getInstance()->level = command.value;
            break;
        case Action::kMode:
            setMode(command.value);
            break;
        case Action::kSizeLimit:
            ApplySizeLimit(text, reporting);
            break;
        case Action::kTimestamp:
            // Lines always carry their time.
            break;
    }
    return 0;
}

int ProcessCommand(const char *command, bool reporting) {
    if (command == nullptr) {
        return 1;
    }
    while (std::isspace(static_cast<unsigned char>(*command))) {
        ++command;
    }
    std::string_view text = command;
    if (text.empty()) {
        return 1;
    }
    for (const Command &candidate : kCommands) {
        for (const char *keyword : candidate.keywords) {
            if (keyword != nullptr && Matches(candidate.match, text, keyword)) {
                return Apply(candidate, text, reporting);
            }
        }
    }
    return 22;
}

}  // namespace

int ProcessLogLevel(const char *command) {
    return ProcessCommand(command, true);
}

int ProcessLogLevelWOLogging(const char *command) {
    return ProcessCommand(command, false);
}

const char *ConvertLogLevelToString() {
    switch (Logger_getInstance()->level) {
        case kLevelNothing:
            return "NOTHING";
        case kLevelError:
            return "ERROR";
        case kLevelWarning:
            return "WARN";
        case kLevelInfo:
            return "INFO";
        case kLevelDebug:
            return "DEBUG";
        case kLevelDump:
            return "DUMP";
        case kLevelEverything:
            return "EVERYTHING";
        default:
            return "unknown";
    }
}

// Requests: 3 system log; 4 and 5 clear and set flag bit 0; 8 truncates the log file; 1, 2, 6
// and 7 (the rotation modes among them) change nothing; 0 and every other value go back to the
// log file, reopening it.
int setMode(int request) {
    Logger *self = Logger_getInstance();
    switch (request) {
        case 1:
        case 2:
        case 6:
        case 7:
            break;
        case 3:
            if (self->streamOpen != 0) {
                Logger_closestream();
            }
            std::snprintf(g_syslog_identity, sizeof(g_syslog_identity), "[%s]",
                          self->logname != nullptr ? self->logname : "");
            g_syslog_sink.open(g_syslog_identity, LOG_PID, LOG_USER);
            self->syslogActive = 1;
            self->mode = kModeSyslog;
            break;
        case 4:
            self->flags &= ~1u;
            break;
        case 5:
            self->flags |= 1u;
            break;
        case 8:
            // Counted only when the file really was emptied.
            if (self->syslogActive == 0 && self->stream != nullptr &&
                TruncateFileStream(self->stream) == 0) {
                self->fileSize = 0;
                ++self->resetCount;
            }
            break;
        default:
            self->mode = static_cast<uint32_t>(request);
            if (self->syslogActive != 0) {
                g_syslog_sink.close();
                self->syslogActive = 0;
            }
            Logger_reopenstream();
            break;
    }
    return 0;
}
