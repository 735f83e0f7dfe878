// Logger record, stream handling, line forms, dumps and the system-log mode.
#include <dirent.h>
#include <printf.h>
#include <syslog.h>

#include <map>
#include <sstream>
#include <thread>

#include "logger_fixture.h"

namespace kel2cifs::testing {
namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

int OpenDescriptors() {
    int count = 0;
    if (DIR *fds = opendir("/proc/self/fd")) {
        while (readdir(fds) != nullptr) {
            ++count;
        }
        closedir(fds);
    }
    return count;
}

TEST_F(LoggerTest, InitFillsTheRecordAndOpensTheFile) {
    Logger *logger = Start(kLevelDebug);
    ASSERT_EQ(logger, &_my_local_instance);
    EXPECT_EQ(logger, Logger_getInstance());
    EXPECT_EQ(logger->level, 4);
    EXPECT_EQ(logger->maxFileSize, 16777216);
    EXPECT_EQ(logger->initialized, 255u);
    EXPECT_EQ(logger->flags, 2u);
    EXPECT_EQ(logger->mode, 0u);
    EXPECT_EQ(logger->resetCount, 0u);
    EXPECT_EQ(logger->syslogActive, 0u);
    EXPECT_EQ(logger->streamOpen, 1u);
    EXPECT_STREQ(logger->f_output_filename, path_.c_str());
    EXPECT_EQ(logger->logname, path_.substr(0, path_.find('.')));
    EXPECT_EQ(logger->reserved(), 0);
    EXPECT_TRUE(Exists(path_));
    EXPECT_STREQ(logfilename, "/var/opt/zantio/log/libkel2cifs.log");
}

TEST_F(LoggerTest, SecondInitReturnsTheFirstInstanceUnchanged) {
    Logger *first = Start(kLevelDebug);
    std::string other = dir_.File("other.log");
    Logger *second = Logger_init(other.c_str(), kLevelError);
    EXPECT_EQ(second, first);
    EXPECT_EQ(second->level, kLevelDebug);
    EXPECT_STREQ(second->f_output_filename, path_.c_str());
    EXPECT_FALSE(Exists(other));
}

TEST_F(LoggerTest, LognameOfAPathWithoutDotIsTheWholePath) {
    path_ = dir_.File("logfile");
    if (path_.find('.') != std::string::npos) {
        GTEST_SKIP() << "temporary directory name holds a '.'";
    }
    Logger *logger = Start();
    EXPECT_STREQ(logger->logname, path_.c_str());
}

TEST_F(LoggerTest, LogFileIsReadableAndWritableByItsOwnerOnly) {
    { std::ofstream(path_) << "old\n"; }
    chmod(path_.c_str(), 0644);
    Logger *logger = Start();
    EXPECT_EQ(PermissionBits(path_), 0600u);
    chmod(path_.c_str(), 0644);
    logger->setMode(0);  // reopens the file
    EXPECT_EQ(PermissionBits(path_), 0600u);
    logger->debug("after reopen");
    EXPECT_EQ(Contents(), "old\n[D T] after reopen\n");
}

TEST_F(LoggerTest, OpenstreamFailuresAreReportedOnStandardError) {
    CaptureStderr();
    EXPECT_EQ(Logger_openstream(path_.c_str()), 12);
    EXPECT_EQ(GetCapturedStderr(), "*f_output_filename == NULL\n");

    Logger *logger = Logger_init(nullptr, kLevelDebug);
    EXPECT_EQ(logger->stream, nullptr);
    CaptureStderr();
    EXPECT_EQ(logger->openstream(nullptr), 22);
    EXPECT_EQ(GetCapturedStderr(), "filename == NULL\n");

    std::string missing = dir_.File("no/such/dir.log");
    CaptureStderr();
    EXPECT_EQ(logger->openstream(missing.c_str()), 2);
    EXPECT_EQ(GetCapturedStderr(), "f_open(" + missing + ") == NULL\n");
    EXPECT_EQ(logger->stream, nullptr);
    EXPECT_STREQ(logger->f_output_filename, "");
}

TEST_F(LoggerTest, OpenstreamRefusesAPathLongerThan254Characters) {
    Logger *logger = Start();
    std::string prefix = dir_.path() + "/";
    ASSERT_LT(prefix.size(), 200u);
    std::string longest = prefix + std::string(254 - prefix.size(), 'a');
    std::string tooLong = prefix + std::string(255 - prefix.size(), 'b');

    CaptureStderr();
    EXPECT_EQ(logger->openstream(tooLong.c_str()), 22);
    EXPECT_FALSE(GetCapturedStderr().empty());
    EXPECT_FALSE(Exists(tooLong));
    EXPECT_STREQ(logger->f_output_filename, path_.c_str());
    EXPECT_EQ(logger->logname, path_.substr(0, path_.find('.')));
    logger->debug("still here");
    EXPECT_EQ(Contents(), "[D T] still here\n");

    EXPECT_EQ(logger->openstream(longest.c_str()), 0);
    EXPECT_STREQ(logger->f_output_filename, longest.c_str());
    logger->debug("moved");
    EXPECT_EQ(WithoutTimes(ReadFile(longest)), "[D T] moved\n");
}

TEST_F(LoggerTest, OpenstreamReplacesTheStreamWithoutLeakingIt) {
    Logger *logger = Start();
    int before = OpenDescriptors();
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(logger->openstream(i % 2 == 0 ? nullptr : path_.c_str()), 0);
    }
    EXPECT_EQ(OpenDescriptors(), before);
    logger->info("one");
    EXPECT_EQ(Contents(), "[i T] one\n");
}

TEST_F(LoggerTest, EveryLineFormIsWrittenExactly) {
    Logger *logger = Start();
    logger->debug("d=%d", 4);
    logger->info("i=%s", "three");
    logger->warning("w");
    logger->error("e %c", '!');
    logger->debugPrefixed("Fn", "x=%d", 1);
    logger->infoPrefixed("Fn", "y");
    logger->warningPrefixed("Fn", "z");
    logger->errorPrefixed("Fn", "q");
    logger->writeAlways("always %d", 7);
    Logger_errormessage("plain % text");
    logger->syslogAndFile("both %s", "ways");
    EXPECT_EQ(Contents(),
              "[D T] d=4\n[i T] i=three\n[W T] w\n[! T] e !\n"
              "[D T] Fn: x=1\n[i T] Fn: y\n[W T] Fn: z\n[! T] Fn: q\n"
              "[- T] always 7\n[L T] plain % text\n[- T] both ways\n");
    ASSERT_EQ(Sent().size(), 1u);
    EXPECT_EQ(Sent()[0], std::make_pair(LOG_INFO, std::string("[Info]both ways")));
    EXPECT_EQ(logger->getStreamSize(), static_cast<int64_t>(ReadFile(path_).size()));
    EXPECT_EQ(logger->flushstream(), 0);
}

TEST_F(LoggerTest, WritesAreGatedByTheLevel) {
    const unsigned char bytes[2] = {0xab, 0x01};
    for (int level = kLevelNothing; level <= kLevelEverything; ++level) {
        SCOPED_TRACE(level);
        Logger_deinit();
        std::remove(path_.c_str());
        Logger *logger = Start(level);
        logger->error("e");
        logger->errorPrefixed("n", "e");
        logger->warning("w");
        logger->warningPrefixed("n", "w");
        logger->info("i");
        logger->infoPrefixed("n", "i");
        logger->debug("d");
        logger->debugPrefixed("n", "d");
        logger->dump("x");
        logger->ldump("y", 1);
        logger->bdump(bytes, 2);
        logger->writeAlways("a");
        Logger_errormessage("m");
        logger->syslogAndFile("s");

        std::string expected;
        if (level >= kLevelError)
            expected += "[! T] e\n[! T] n: e\n";
        if (level >= kLevelWarning)
            expected += "[W T] w\n[W T] n: w\n";
        if (level >= kLevelInfo)
            expected += "[i T] i\n[i T] n: i\n";
        if (level >= kLevelDebug)
            expected += "[D T] d\n[D T] n: d\n";
        if (level >= kLevelDump) {
            expected += "[* T] <dump>\nx\n</dump>\n[* T] <ldump len=\"1\">\ny\n</ldump>\n";
            expected += "[* T] \n<bdump len=\"2\">\n[00000000]  ab 01 \n</bdump>\n";
        }
        expected += "[- T] a\n[L T] m\n[- T] s\n";
        EXPECT_EQ(Contents(), expected);
    }
}

// Counts the conversions of "%W" done by the printf family.
int g_conversions = 0;
int PrintCounted(FILE *stream, const printf_info *, const void *const *) {
    ++g_conversions;
    return std::fprintf(stream, "W");
}
int CountedArgument(const printf_info *, size_t count, int *types, int *sizes) {
    if (count > 0) {
        types[0] = PA_INT;
        sizes[0] = sizeof(int);
    }
    return 1;
}

TEST_F(LoggerTest, WritesBelowTheLevelFormatNothing) {
    ASSERT_EQ(register_printf_specifier('W', PrintCounted, CountedArgument), 0);
    const char *format = "%W";  // a variable: the custom conversion is unknown to the compiler
    Logger *logger = Start(kLevelInfo);
    g_conversions = 0;
    logger->debug(format, 1);
    logger->debugPrefixed("n", format, 1);
    logger->dump(format, 1);
    EXPECT_EQ(g_conversions, 0);
    logger->info(format, 1);
    EXPECT_EQ(g_conversions, 1);
    EXPECT_EQ(Contents(), "[i T] W\n");
}

TEST_F(LoggerTest, WritesWithoutAnyOutputFormatNothing) {
    ASSERT_EQ(register_printf_specifier('W', PrintCounted, CountedArgument), 0);
    const char *format = "%W";
    Logger *logger = Start();
    logger->closestream();
    g_conversions = 0;
    logger->debug(format, 1);
    logger->errorPrefixed("n", format, 1);
    logger->dump(format, 1);
    logger->writeAlways(format, 1);
    EXPECT_EQ(g_conversions, 0);
    logger->setMode(3);
    logger->writeAlways(format, 1);
    EXPECT_EQ(g_conversions, 1);
}

TEST_F(LoggerTest, LongLinesAreWrittenWhole) {
    Logger *logger = Start();
    std::string name(300, 'n');
    std::string message(10000, 'm');
    logger->debugPrefixed(name.c_str(), "%s|%d", message.c_str(), 42);
    logger->ldump(message.data(), static_cast<int>(message.size()));
    EXPECT_EQ(Contents(), "[D T] " + name + ": " + message + "|42\n[* T] <ldump len=\"10000\">\n" +
                              message + "\n</ldump>\n");
}

TEST_F(LoggerTest, LongMessagesGoWholeToTheSystemLog) {
    Logger *logger = Start();
    ASSERT_EQ(ProcessLogLevelWOLogging("SYSLOG"), 0);
    std::string name(300, 'n');
    std::string message(10000, 'm');
    logger->debugPrefixed(name.c_str(), "%s|%d", message.c_str(), 42);
    std::string bytes = message;
    bytes[6000] = '\0';
    logger->ldump(bytes.data(), static_cast<int>(bytes.size()));
    logger->dump("%s", message.c_str());
    Logger_errormessage(message.c_str());
    const std::vector<std::pair<int, std::string>> expected = {{LOG_DEBUG, message + "|42"},
                                                               {LOG_DEBUG, message.substr(0, 6000)},
                                                               {LOG_DEBUG, message},
                                                               {LOG_DEBUG, message}};
    EXPECT_EQ(Sent(), expected);
}

TEST_F(LoggerTest, SyslogAndFileCutsItsTextTo2047Characters) {
    Logger *logger = Start(kLevelNothing);
    std::string message(3000, 'x');
    logger->syslogAndFile("%s", message.c_str());
    ASSERT_EQ(Sent().size(), 1u);
    EXPECT_EQ(Sent()[0].second, "[Info]" + message.substr(0, 2047));
    EXPECT_EQ(Contents(), "[- T] " + message.substr(0, 2047) + "\n");
}

TEST_F(LoggerTest, DumpFormats) {
    Logger *logger = Start(kLevelDump);
    unsigned char sixteen[16];
    for (int i = 0; i < 16; ++i) {
        sixteen[i] = static_cast<unsigned char>(i);
    }
    logger->bdump(sixteen, 16);
    static constexpr char kLdump[] = "[* T] <ldump len=\"3\">\na\0b\n</ldump>\n";
    const unsigned char seventeen[17] = {0xde, 0xad, 0xbe, 0xef, 0, 0, 0, 0,   0,
                                         0,    0,    0,    0,    0, 0, 0, 0xff};
    logger->bdump(seventeen, 17);
    logger->ldump("a\0b", 3);
    logger->dump("n=%d", 5);
    logger->bdump(nullptr, 4);
    logger->bdump(sixteen, 0);
    logger->ldump("z", -1);
    EXPECT_EQ(Contents(),
              "[* T] \n<bdump len=\"16\">\n"
              "[00000000]  00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f \n"
              "[00000016]  \n</bdump>\n"
              "[* T] \n<bdump len=\"17\">\n"
              "[00000000]  de ad be ef 00 00 00 00 00 00 00 00 00 00 00 00 \n"
              "[00000016]  ff \n</bdump>\n" +
                  std::string(kLdump, sizeof(kLdump) - 1) + "[* T] <dump>\nn=5\n</dump>\n");
}

TEST_F(LoggerTest, SyslogModeSendsEverythingAtDebugPriority) {
    std::filesystem::create_directories(dir_.File("var/opt/zantio/log"));
    path_ = dir_.File("var/opt/zantio/log/libkel2cifs.log");
    Logger *logger = Start(kLevelEverything);
    ASSERT_EQ(ProcessLogLevel("SYSLOG"), 0);
    const SyslogCapture &capture = SyslogCapture::Get();
    EXPECT_EQ(capture.identity, "[" + path_.substr(0, path_.find('.')) + "]");
    EXPECT_EQ(capture.option, LOG_PID);
    EXPECT_EQ(capture.facility, LOG_USER);
    EXPECT_EQ(logger->syslogActive, 1u);
    EXPECT_EQ(logger->mode, 3u);
    EXPECT_EQ(logger->stream, nullptr);
    EXPECT_EQ(logger->streamOpen, 0u);

    const unsigned char bytes[4] = {1, 2, 3, 4};
    logger->error("e%d", 1);
    logger->warningPrefixed("Name", "w");
    logger->info("i");
    logger->debugPrefixed("Name", "d");
    logger->dump("x=%d", 2);
    logger->ldump("ab\0cd", 5);
    logger->bdump(bytes, 4);
    logger->writeAlways("a");
    Logger_errormessage("m");
    logger->syslogAndFile("s");
    ProcessLogLevel("RESET");
    EXPECT_EQ(logger->resetCount, 0u);
    const std::vector<std::pair<int, std::string>> expected = {
        {LOG_DEBUG, "e1"}, {LOG_DEBUG, "w"},   {LOG_DEBUG, "i"},
        {LOG_DEBUG, "d"},  {LOG_DEBUG, "x=2"}, {LOG_DEBUG, "ab"},
        {LOG_DEBUG, "a"},  {LOG_DEBUG, "m"},   {LOG_INFO, "[Info]s"}};
    EXPECT_EQ(Sent(), expected);
    EXPECT_EQ(Contents(), "[L T] ProcessLogLevel switch to syslog mode\n");

    Sent().clear();
    ASSERT_EQ(ProcessLogLevel("DEFAULT"), 0);
    EXPECT_EQ(Sent(), (std::vector<std::pair<int, std::string>>{
                          {LOG_DEBUG, "ProcessLogLevel switch to default mode"}}));
    EXPECT_EQ(capture.closes, 1);
    EXPECT_EQ(logger->syslogActive, 0u);
    EXPECT_EQ(logger->mode, 0u);
    logger->debug("back");
    EXPECT_EQ(Contents(), "[L T] ProcessLogLevel switch to syslog mode\n[D T] back\n");
    EXPECT_EQ(Sent().size(), 1u);
}

TEST_F(LoggerTest, ClosedStreamDropsOutputAndDeinitReleasesTheBuffers) {
    Logger *logger = Start();
    logger->debug("kept");
    logger->closestream();
    EXPECT_EQ(logger->stream, nullptr);
    EXPECT_EQ(logger->streamOpen, 0u);
    logger->closestream();
    logger->debug("lost");
    logger->writeAlways("lost");
    EXPECT_EQ(logger->getStreamSize(), 0);
    EXPECT_EQ(logger->flushstream(), 0);
    EXPECT_EQ(Contents(), "[D T] kept\n");

    logger->deinit();
    EXPECT_EQ(logger->initialized, 0u);
    EXPECT_EQ(logger->f_output_filename, nullptr);
    EXPECT_EQ(logger->logname, nullptr);
    logger->setMode(3);  // no logname left: an empty identity, no crash
    EXPECT_EQ(SyslogCapture::Get().identity, "[]");
    logger->setMode(0);  // nothing saved to reopen
    EXPECT_EQ(logger->stream, nullptr);

    Start(kLevelInfo);
    logger->info("again");
    EXPECT_EQ(Contents(), "[D T] kept\n[i T] again\n");
}

TEST_F(LoggerTest, LevelStepsStayWithinRange) {
    Logger *logger = Start(kLevelDump);
    logger->raiseLevel();
    EXPECT_EQ(logger->level, 6);
    logger->raiseLevel();
    EXPECT_EQ(logger->level, 6);
    logger->setLevel(1);
    logger->lowerLevel();
    EXPECT_EQ(logger->level, 0);
    logger->lowerLevel();
    EXPECT_EQ(logger->level, 0);
    logger->setLevel(42);  // unchecked
    EXPECT_EQ(logger->level, 42);
}

TEST_F(LoggerTest, OperationsActOnTheSharedInstance) {
    Start(kLevelDebug);
    Logger copy = _my_local_instance;
    copy.setLevel(kLevelError);
    EXPECT_EQ(_my_local_instance.level, kLevelError);
    EXPECT_EQ(copy.level, kLevelDebug);
}

TEST_F(LoggerTest, DummyLoggerIsInert) {
    Logger *logger = Start(kLevelDebug);
    Logger &dummy = _dummy_logger_instance;
    EXPECT_EQ(dummy.initialized, 0u);
    EXPECT_EQ(dummy.stream, nullptr);
    EXPECT_EQ(dummy.f_output_filename, nullptr);
    EXPECT_EQ(dummy.logname, nullptr);
    std::string other = dir_.File("dummy.log");
    EXPECT_EQ(dummy.openstream(other.c_str()), -1);
    EXPECT_EQ(dummy.setMode(3), -1);
    EXPECT_EQ(dummy.reserved(), -1);
    EXPECT_EQ(dummy.getStreamSize(), 0);
    dummy.setLevel(kLevelError);
    dummy.debug("no");
    dummy.errorPrefixed("n", "no");
    dummy.writeAlways("no");
    dummy.bdump(reinterpret_cast<const unsigned char *>("ab"), 2);
    dummy.closestream();
    dummy.deinit();
    EXPECT_FALSE(Exists(other));
    EXPECT_EQ(logger->level, kLevelDebug);
    EXPECT_EQ(logger->syslogActive, 0u);
    EXPECT_NE(logger->stream, nullptr);
    EXPECT_EQ(Contents(), "");
}

TEST_F(LoggerTest, ConcurrentLinesStayWholeAndNoneIsLost) {
    constexpr int kThreads = 8;
    constexpr int kLines = 3000;
    Logger *logger = Start(kLevelDebug);
    // Every 50th line is longer than the on-stack line buffer.
    auto payload = [](int line) {
        return std::string(line % 50 == 0 ? 1500 : 20, static_cast<char>('a' + line % 26));
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kLines; ++i) {
                logger->debugPrefixed("worker", "%d %d %s", t, i, payload(i).c_str());
            }
        });
    }
    for (std::thread &thread : threads) {
        thread.join();
    }

    // Parsed without WithoutTimes: "[D " + 19 characters of time + "] " + message.
    std::istringstream in(ReadFile(path_));
    std::map<int, int> next;  // per thread, the line number expected next
    std::string line;
    int total = 0;
    while (std::getline(in, line)) {
        ASSERT_GT(line.size(), 24u);
        ASSERT_EQ(line.substr(0, 3), "[D ");
        ASSERT_EQ(line.substr(22, 2), "] ");
        int t = -1;
        int i = -1;
        ASSERT_EQ(std::sscanf(line.c_str() + 24, "worker: %d %d ", &t, &i), 2)
            << line.substr(0, 80);
        const std::string expected =
            "worker: " + std::to_string(t) + " " + std::to_string(i) + " " + payload(i);
        ASSERT_TRUE(line.compare(24, std::string::npos, expected) == 0) << line.substr(0, 120);
        ASSERT_EQ(i, next[t]) << "thread " << t;
        ++next[t];
        ++total;
    }
    EXPECT_EQ(total, kThreads * kLines);
    EXPECT_EQ(next.size(), static_cast<std::size_t>(kThreads));
}

}  // namespace
// A file name is untrusted text: CR LF in it must not start a second, forged line, and an ESC
// sequence must not reach the file (or the terminal reading it) raw. The format's own line feeds,
// widths and other conversions keep their meaning.
TEST_F(LoggerTest, ControlBytesFromArgumentsAreEscapedAndTheFormatsOwnAreKept) {
    Logger *logger = Start(kLevelEverything);
    const char *forged = "trap.doc\r\n[! forged] all files deleted\x1b[2J\x7f\x01";
    logger->debug("file name = %s", forged);
    logger->debug("les = %d , left = %s\n , right = %s\n", 1, "a\nb", "c");
    logger->infoPrefixed("Fn", "%-5s|%.3s|%*d|%c|%lld|%zu|%%|%5.1f", "\t", "x\ny", 3, 7, '\n',
                         static_cast<long long>(-9), static_cast<std::size_t>(12), 2.5);
    logger->dump("d=%s", "\r");
    logger->syslogAndFile("s=%s", "\x1b");
    EXPECT_EQ(Contents(),
              "[D T] file name = trap.doc\\r\\n[! forged] all files "
              "deleted\\e[2J\\x7f\\x01\n"
              "[D T] les = 1 , left = a\\nb\n , right = c\n\n"
              "[i T] Fn: \\t    |x\\ny|  7|\\n|-9|12|%|  2.5\n"
              "[* T] <dump>\nd=\\r\n</dump>\n"
              "[- T] s=\\e\n");
    ASSERT_EQ(Sent().size(), 1u);
    EXPECT_EQ(Sent()[0].second, "[Info]s=\\e");
}

TEST_F(LoggerTest, ControlBytesAreEscapedOnTheWayToTheSystemLogToo) {
    std::filesystem::create_directories(dir_.File("var/opt/zantio/log"));
    path_ = dir_.File("var/opt/zantio/log/libkel2cifs.log");
    Logger *logger = Start(kLevelEverything);
    ASSERT_EQ(ProcessLogLevel("SYSLOG"), 0);
    Sent().clear();
    logger->error("name=%s", "a\r\nb");
    EXPECT_EQ(Sent(), (std::vector<std::pair<int, std::string>>{{LOG_DEBUG, "name=a\\r\\nb"}}));
    ASSERT_EQ(ProcessLogLevel("DEFAULT"), 0);
}

}  // namespace kel2cifs::testing
