// The logger's text commands, the level names and the setMode requests.
#include <syslog.h>

#include <tuple>
#include <vector>

#include "logger_fixture.h"

namespace kel2cifs::testing {
namespace {

// Abbreviations and the order of the table: the first keyword that the text abbreviates wins.
const std::pair<int, std::vector<const char *>> kLevelCases[] = {
    {0, {"L", "LE", "LEVEL", "LEVELN", "nothing", "N"}},
    {1, {"E", "error", "LEVELE", "levelerror"}},
    {2, {"W", "Warning", "LEVELW"}},
    {3, {"I", "info", "LEVELINFO"}},
    {4, {"D", "DE", "dEbUg", "  \tdebug", "LEVELD"}},
    {5, {"DU", "dump", "LEVELDU"}},
    {6, {"A", "all", "LEVELA", "EV", "everything", "LEVELEV", "LEVELEVERYTHING"}}};

TEST_F(LoggerTest, LevelWordsAndTheirAbbreviationsSetTheLevel) {
    Logger *logger = Start();
    for (const auto &[level, commands] : kLevelCases) {
        for (const char *command : commands) {
            SCOPED_TRACE(command);
            logger->setLevel(-1);
            EXPECT_EQ(ProcessLogLevelWOLogging(command), 0);
            EXPECT_EQ(logger->level, level);
            logger->setLevel(-1);
            EXPECT_EQ(ProcessLogLevel(command), 0);
            EXPECT_EQ(logger->level, level);
        }
    }
}

TEST_F(LoggerTest, ProcessLogLevelReportsEachChangeWhateverTheLevel) {
    Start(kLevelNothing);
    for (const char *word : {"nothing", "error", "warning", "info", "debug", "dump", "all",
                             "MODE=T", "mode=backup", "LIMIT=8192"}) {
        ProcessLogLevel(word);
        ProcessLogLevel("nothing");
    }
    std::string expected;
    const char *reported[] = {"\"nothing\"", "\"error\"", "\"warning\"",   "\"info\"",
                              "\"debug\"",   "\"dump\"",  "\"everything\""};
    for (const char *name : reported) {
        expected += std::string("[L T] ProcessLogLevel changed to ") + name + "\n";
        expected += "[L T] ProcessLogLevel changed to \"nothing\"\n";
    }
    expected += "[L T] ProcessLogLevel process mode change to truncate mode\n";
    expected += "[L T] ProcessLogLevel changed to \"nothing\"\n";
    expected += "[L T] ProcessLogLevel process mode change to backup mode\n";
    expected += "[L T] ProcessLogLevel changed to \"nothing\"\n";
    expected += "[L T] ProcessLogLevel set file size = 8192\n";
    expected += "[L T] ProcessLogLevel changed to \"nothing\"\n";
    EXPECT_EQ(Contents(), expected);
}

TEST_F(LoggerTest, SilentCommandsWriteNothing) {
    Start(kLevelEverything);
    for (const char *command : {"debug", "LIMIT=8192", "MODE=TRUNCATE", "MODE=BACKUP",
                                "TIMESTAMP=NO", "RESET", "DEFAULT", "nonsense"}) {
        ProcessLogLevelWOLogging(command);
    }
    EXPECT_EQ(Contents(), "");
    EXPECT_EQ(Logger_getInstance()->maxFileSize, 8192);
}

TEST_F(LoggerTest, UnknownAndEmptyCommandsChangeNothing) {
    Logger *logger = Start(kLevelInfo);
    for (const char *command : {"debug ", "DEBUGX", "MODE", "MODE=", "R", "RES", "MODE=TRUNCATEX",
                                "MODE=BACKUPS", "LIMI", "x"}) {
        SCOPED_TRACE(command);
        EXPECT_EQ(ProcessLogLevel(command), 22);
        EXPECT_EQ(ProcessLogLevelWOLogging(command), 22);
    }
    EXPECT_EQ(ProcessLogLevel(""), 1);
    EXPECT_EQ(ProcessLogLevel(" \t\n"), 1);
    EXPECT_EQ(ProcessLogLevel(nullptr), 1);
    EXPECT_EQ(logger->level, kLevelInfo);
    EXPECT_EQ(logger->maxFileSize, 16777216);
    EXPECT_EQ(logger->mode, 0u);
    EXPECT_EQ(Contents(), "");
}

TEST_F(LoggerTest, ModeWordsSwitchOutput) {
    Logger *logger = Start(kLevelDebug);
    logger->setMode(9);
    EXPECT_EQ(logger->mode, 9u);
    EXPECT_EQ(ProcessLogLevel("DEF"), 0);
    EXPECT_EQ(logger->mode, 0u);
    EXPECT_NE(logger->stream, nullptr);
    EXPECT_EQ(ProcessLogLevel("s"), 0);
    EXPECT_EQ(logger->syslogActive, 1u);
    EXPECT_EQ(SyslogCapture::Get().opens, 1);
    EXPECT_EQ(ProcessLogLevel("default"), 0);
    EXPECT_EQ(logger->syslogActive, 0u);
    EXPECT_EQ(Contents(),
              "[L T] ProcessLogLevel switch to default mode\n"
              "[L T] ProcessLogLevel switch to syslog mode\n");
}

TEST_F(LoggerTest, RotationModesAndTimestampOptionsChangeNothing) {
    Logger *logger = Start(kLevelDebug);
    const Logger before = *logger;
    for (const char *command : {"MODE=T", "MODE=TRUNCATE", "mode=b", "MODE=BACKUP", "TIMESTAMP=NO",
                                "timestamp=yes", "LOG_TIMESTAMPS NO"}) {
        SCOPED_TRACE(command);
        EXPECT_EQ(ProcessLogLevelWOLogging(command), 0);
        EXPECT_EQ(std::tie(logger->level, logger->maxFileSize, logger->mode, logger->flags,
                           logger->resetCount, logger->syslogActive, logger->stream),
                  std::tie(before.level, before.maxFileSize, before.mode, before.flags,
                           before.resetCount, before.syslogActive, before.stream));
    }
}

TEST_F(LoggerTest, ResetTruncatesTheFileAndCounts) {
    Logger *logger = Start(kLevelDebug);
    logger->debug("one");
    logger->debug("two");
    EXPECT_EQ(ProcessLogLevel("RESET anything"), 0);
    EXPECT_EQ(ReadFile(path_), "");
    EXPECT_EQ(logger->resetCount, 1u);
    EXPECT_EQ(logger->fileSize, 0);
    logger->debug("three");
    EXPECT_EQ(Contents(), "[D T] three\n");
    EXPECT_EQ(logger->getStreamSize(), static_cast<int64_t>(ReadFile(path_).size()));
    EXPECT_EQ(ProcessLogLevelWOLogging("reset"), 0);
    EXPECT_EQ(logger->resetCount, 2u);
    logger->closestream();
    EXPECT_EQ(ProcessLogLevel("RESET"), 0);
    EXPECT_EQ(logger->resetCount, 2u);
}

struct LimitCase {
    const char *command;
    int32_t expected;
};

constexpr int32_t kUnchanged = 16777216;
constexpr LimitCase kLimitCases[] = {
    {"LIMIT=8192", 8192},
    {"LIMIT = 8192", 8192},
    {"LIMIT 8192", 8192},
    {"limit=8192 bytes", 8192},
    {"LOG_MAXIMUM_FILE_SIZE=8192", 8192},
    {"LOG_MAXIMUM_FILE_SIZE 8192", 8192},
    {"  Log_Maximum_File_Size\t8192", 8192},
    {"LIMIT=4095", 4095},
    {"LIMIT=99999999999", 2147483647},
    {"LIMIT=4094", kUnchanged},
    {"LIMITED", kUnchanged},
    {"LIMIT", kUnchanged},
    {"LIMIT=", kUnchanged},
    {"LIMIT=   ", kUnchanged},
    {"LIMIT=-8192", kUnchanged},
    {"LOG_MAXIMUM_FILE_SIZE", kUnchanged},
};

TEST_F(LoggerTest, SizeLimitForms) {
    Logger *logger = Start(kLevelDebug);
    for (const LimitCase &c : kLimitCases) {
        SCOPED_TRACE(c.command);
        logger->maxFileSize = kUnchanged;
        EXPECT_EQ(ProcessLogLevel(c.command), 0);
        EXPECT_EQ(logger->maxFileSize, c.expected);
    }
    EXPECT_EQ(Contents(),
              "[L T] ProcessLogLevel set file size = 8192\n"
              "[L T] ProcessLogLevel set file size = 8192\n"
              "[L T] ProcessLogLevel set file size = 8192\n"
              "[L T] ProcessLogLevel set file size = 8192\n"
              "[L T] ProcessLogLevel set file size = 8192\n"
              "[L T] ProcessLogLevel set file size = 8192\n"
              "[L T] ProcessLogLevel set file size = 8192\n"
              "[L T] ProcessLogLevel set file size = 4095\n"
              "[L T] ProcessLogLevel set file size = 2147483647\n");
}

TEST_F(LoggerTest, LevelNames) {
    Logger *logger = Start();
    const std::pair<int, const char *> names[] = {
        {-1, "unknown"}, {0, "NOTHING"}, {1, "ERROR"},      {2, "WARN"},   {3, "INFO"},
        {4, "DEBUG"},    {5, "DUMP"},    {6, "EVERYTHING"}, {7, "unknown"}};
    for (const auto &[level, name] : names) {
        logger->setLevel(level);
        EXPECT_STREQ(ConvertLogLevelToString(), name) << level;
    }
}

TEST_F(LoggerTest, SetModeRequests) {
    Logger *logger = Start(kLevelDebug);
    for (int request : {1, 2, 6, 7}) {
        const Logger before = *logger;
        EXPECT_EQ(logger->setMode(request), 0);
        EXPECT_EQ(std::tie(logger->mode, logger->flags, logger->stream, logger->syslogActive),
                  std::tie(before.mode, before.flags, before.stream, before.syslogActive))
            << request;
    }
    EXPECT_EQ(logger->setMode(5), 0);
    EXPECT_EQ(logger->flags, 3u);
    EXPECT_EQ(logger->setMode(4), 0);
    EXPECT_EQ(logger->flags, 2u);
    EXPECT_EQ(logger->setMode(-3), 0);
    EXPECT_EQ(logger->mode, static_cast<uint32_t>(-3));
    EXPECT_EQ(logger->streamOpen, 1u);
    logger->debug("after");
    EXPECT_EQ(Contents(), "[D T] after\n");
    EXPECT_EQ(logger->setMode(3), 0);
    EXPECT_EQ(logger->setMode(8), 0);  // nothing to truncate in system-log mode
    EXPECT_EQ(logger->resetCount, 0u);
    EXPECT_EQ(logger->setMode(12), 0);
    EXPECT_EQ(logger->mode, 12u);
    EXPECT_EQ(SyslogCapture::Get().closes, 1);
    EXPECT_EQ(logger->syslogActive, 0u);
}

}  // namespace
}  // namespace kel2cifs::testing
