// The Samba backend's units that touch the system: running tools, the connection number file,
// /proc, the account databases, and the close commands.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/temp_dir.h"
#include "monitoring/samba/samba_close.h"
#include "monitoring/samba/samba_identity.h"
#include "monitoring/samba/samba_numbers.h"
#include "monitoring/samba/samba_proc.h"
#include "monitoring/samba/samba_tool.h"
#include "monitoring/status.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

// A directory of executable scripts.
class ToolDir {
  public:
    void Add(const std::string &name, const std::string &body) const {
        std::filesystem::path file = dir_.Write(name, "#!/bin/sh\n" + body);
        chmod(file.c_str(), 0755);
    }
    cifsmon::ToolOptions Options() const {
        cifsmon::ToolOptions options;
        options.searchPath = "/nonexistent::" + dir_.str();
        options.timeoutMs = 20000;
        options.outputLimit = 1 << 20;
        return options;
    }
    std::string str() const { return dir_.str(); }

  private:
    testing_support::TempDir dir_;
};

TEST(SambaTool, PassesArgumentsAsDataAndCollectsBothStreams) {
    ToolDir tools;
    tools.Add("echoargs",
              "for a in \"$@\"; do printf '<%s>\\n' \"$a\"; done\necho oops >&2\nexit 3\n");
    const std::string marker = tools.str() + "/touched";
    const std::vector<std::string> arguments = {
        "a b", "$(touch " + marker + ")", "; touch " + marker, "'\"", "", "-x"};
    cifsmon::ToolResult result;
    std::string error;
    ASSERT_EQ(cifsmon::RunTool(tools.Options(), "echoargs", arguments, &result, &error),
              cifsmon::kStatusOk)
        << error;
    EXPECT_EQ(result.exitStatus, 3);
    EXPECT_EQ(result.output,
              "<a b>\n<$(touch " + marker + ")>\n<; touch " + marker + ">\n<'\">\n<>\n<-x>\n");
    EXPECT_EQ(result.errors, "oops\n");
    EXPECT_EQ(result.path, tools.str() + "/echoargs");
    EXPECT_FALSE(std::filesystem::exists(marker)) << "an argument reached a shell";
}

TEST(SambaTool, GivesTheToolNoDescriptorAndTheCLocale) {
    ToolDir tools;
    tools.Add("inspect", "ls -l /proc/self/fd/\necho \"$LC_ALL|$LANG\"\n");
    testing_support::TempDir scratch;
    std::filesystem::path marker = scratch.Write("leak-marker", "");
    int leaked = open(marker.c_str(), O_RDONLY);  // not close-on-exec
    ASSERT_GE(leaked, 0);
    setenv("LANG", "de_DE.UTF-8", 1);
    cifsmon::ToolResult result;
    std::string error;
    int status = cifsmon::RunTool(tools.Options(), "inspect", {}, &result, &error);
    unsetenv("LANG");
    close(leaked);
    ASSERT_EQ(status, cifsmon::kStatusOk) << error;
    EXPECT_THAT(result.output, HasSubstr("/dev/null")) << "standard input";
    EXPECT_THAT(result.output, Not(HasSubstr("leak-marker")));
    EXPECT_THAT(result.output, HasSubstr("\nC|\n"));
}

TEST(SambaTool, FailsForMissingHungAndTalkativeTools) {
    ToolDir tools;
    tools.Add("hang", "exec sleep 30\n");
    tools.Add("talk", "while :; do echo xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx; done\n");
    tools.Add("crash", "kill -SEGV $$\n");
    std::filesystem::path plain = std::filesystem::path(tools.str()) / "plain";
    testing_support::TempDir scratch;
    std::filesystem::copy_file(scratch.Write("plain", "#!/bin/sh\n"), plain);  // not executable
    cifsmon::ToolOptions options = tools.Options();
    cifsmon::ToolResult result;
    std::string error;

    EXPECT_EQ(cifsmon::RunTool(options, "smbstatus", {}, &result, &error),
              cifsmon::kStatusToolFailed);
    EXPECT_THAT(error, HasSubstr("smbstatus not found in /nonexistent::"));
    EXPECT_EQ(cifsmon::RunTool(options, "plain", {}, &result, &error), cifsmon::kStatusToolFailed);
    EXPECT_EQ(cifsmon::RunTool(options, "../bin/sh", {}, &result, &error),
              cifsmon::kStatusToolFailed);

    options.timeoutMs = 300;
    EXPECT_EQ(cifsmon::RunTool(options, "hang", {"x"}, &result, &error),
              cifsmon::kStatusToolFailed);
    EXPECT_THAT(error, HasSubstr("hang x did not finish within 300 ms"));

    options.timeoutMs = 20000;
    options.outputLimit = 100000;
    EXPECT_EQ(cifsmon::RunTool(options, "talk", {}, &result, &error), cifsmon::kStatusToolFailed);
    EXPECT_THAT(error, HasSubstr("printed more than 100000 bytes"));
    EXPECT_LE(result.output.size(), 100000u);

    EXPECT_EQ(cifsmon::RunTool(options, "crash", {}, &result, &error), cifsmon::kStatusToolFailed);
    EXPECT_THAT(error, HasSubstr("killed by signal 11"));
}

TEST(SambaTool, DescribesCommandsWithQuotes) {
    EXPECT_EQ(cifsmon::DescribeCommand("smbcontrol", {"-s", "/etc/smb.conf", "it's", "a b", ""}),
              "smbcontrol -s /etc/smb.conf 'it'\\''s' 'a b' ''");
}

TEST(SambaNumbers, KeepsNumbersDropsEndedSessionsAndNumbersNewOnes) {
    cifsmon::NumberTable table;
    std::vector<uint16_t> numbers;
    EXPECT_TRUE(cifsmon::UpdateNumberTable(&table, {"a", "b", "c"}, &numbers));
    EXPECT_THAT(numbers, ElementsAre(1, 2, 3));
    EXPECT_FALSE(cifsmon::UpdateNumberTable(&table, {"c", "a", "b"}, &numbers));
    EXPECT_THAT(numbers, ElementsAre(3, 1, 2));
    // b ended; d is new and does not get b's number back while numbers after it are free.
    EXPECT_TRUE(cifsmon::UpdateNumberTable(&table, {"a", "c", "d", "d"}, &numbers));
    EXPECT_THAT(numbers, ElementsAre(1, 3, 4, 4));
    EXPECT_EQ(table.numbers.size(), 3u);
    EXPECT_EQ(table.next, 5u);
}

TEST(SambaNumbers, WrapsAroundSkippingNumbersInUse) {
    cifsmon::NumberTable table;
    table.next = 65535;
    table.numbers = {{"old1", 1}, {"old3", 3}};
    std::vector<uint16_t> numbers;
    EXPECT_TRUE(cifsmon::UpdateNumberTable(&table, {"old1", "old3", "x", "y", "z"}, &numbers));
    EXPECT_THAT(numbers, ElementsAre(1, 3, 65535, 2, 4));
    EXPECT_EQ(table.next, 5u);
}

TEST(SambaNumbers, RepeatsNumbersOnlyPastTheirRange) {
    std::vector<std::string> keys;
    for (int i = 0; i < 65537; ++i) {
        keys.push_back("s" + std::to_string(i));
    }
    cifsmon::NumberTable table;
    std::vector<uint16_t> numbers;
    cifsmon::UpdateNumberTable(&table, keys, &numbers);
    std::set<uint16_t> distinct(numbers.begin(), numbers.begin() + 65535);
    EXPECT_EQ(distinct.size(), 65535u);
    EXPECT_EQ(distinct.count(0), 0u);
    EXPECT_EQ(numbers[65535], 1);
    EXPECT_EQ(numbers[65536], 2);
    EXPECT_EQ(table.numbers.size(), 65535u);
}

TEST(SambaNumbers, FileRoundTripsAndRejectsBrokenTables) {
    cifsmon::NumberTable table;
    table.next = 17;
    table.numbers = {{"4294967295:2001:111:1001", 5}, {"0:7:x:y", 16}};
    cifsmon::NumberTable parsed;
    std::string error;
    ASSERT_TRUE(cifsmon::ParseNumberTable(cifsmon::SerializeNumberTable(table), &parsed, &error))
        << error;
    EXPECT_EQ(parsed, table);
    const std::string head = R"({"format": "cifsmonitoring-samba-connections", "version": 1, )";
    for (const std::string &bad :
         {std::string("{}"), std::string("nonsense"), head + R"("next": 0, "sessions": {}})",
          head + R"("next": 1, "sessions": {"a": 0}})",
          head + R"("next": 1, "sessions": {"a": 65536}})",
          head + R"("next": 1, "sessions": {"a": 2, "b": 2}})",
          head + R"("next": 1, "sessions": {"a": "2"}})"}) {
        EXPECT_FALSE(cifsmon::ParseNumberTable(bad, &parsed, &error)) << bad;
    }
}

TEST(SambaNumbers, StayTheSameAcrossProcessesAndStartAnewFromABrokenFile) {
    testing_support::TempDir dir;
    const std::string path = dir.str() + "/numbers/samba.json";  // its directory is created
    std::vector<uint16_t> numbers;
    std::string warning;
    std::string error;
    ASSERT_EQ(cifsmon::AssignConnectionNumbers(path, {"a", "b"}, &numbers, &warning, &error), 0)
        << error;
    EXPECT_THAT(numbers, ElementsAre(1, 2));
    ASSERT_EQ(cifsmon::AssignConnectionNumbers(path, {"c", "b"}, &numbers, &warning, &error), 0);
    EXPECT_THAT(numbers, ElementsAre(3, 2));

    // What another process finds in the file.
    cifsmon::NumberTable table;
    ASSERT_TRUE(cifsmon::ParseNumberTable(testing_support::ReadFile(path), &table, &error));
    EXPECT_EQ(table.numbers.at("b"), 2);
    EXPECT_EQ(table.numbers.count("a"), 0u);

    dir.Write("numbers/samba.json", "{ broken");
    ASSERT_EQ(cifsmon::AssignConnectionNumbers(path, {"c"}, &numbers, &warning, &error), 0);
    EXPECT_THAT(warning, HasSubstr("is invalid"));
    EXPECT_THAT(numbers, ElementsAre(1));
    ASSERT_TRUE(cifsmon::ParseNumberTable(testing_support::ReadFile(path), &table, &error));

    dir.Write("dir-not-file/x", "");
    EXPECT_EQ(cifsmon::AssignConnectionNumbers(dir.str() + "/dir-not-file", {"c"}, &numbers,
                                               &warning, &error),
              cifsmon::kStatusIoError);
}

TEST(SambaNumbers, ConcurrentListingsAgreeOnEveryNumber) {
    testing_support::TempDir dir;
    const std::string path = dir.str() + "/samba.json";
    constexpr int kThreads = 8;
    std::vector<std::vector<uint16_t>> seen(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            // Every thread sees the same sessions in its own order.
            std::vector<std::string> keys;
            for (int i = 0; i < 40; ++i) {
                keys.push_back("s" + std::to_string((i + t * 5) % 40));
            }
            std::vector<uint16_t> numbers;
            std::string warning;
            std::string error;
            if (cifsmon::AssignConnectionNumbers(path, keys, &numbers, &warning, &error) != 0) {
                return;
            }
            seen[t].assign(40, 0);
            for (int i = 0; i < 40; ++i) {
                seen[t][(i + t * 5) % 40] = numbers[i];
            }
        });
    }
    for (std::thread &thread : threads) {
        thread.join();
    }
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(seen[t], seen[0]) << "thread " << t;
    }
    EXPECT_EQ(std::set<uint16_t>(seen[0].begin(), seen[0].end()).size(), 40u);
}

TEST(SambaProc, ReadsTheStartOfAProcess) {
    testing_support::TempDir proc;
    // The command name holds blanks and a parenthesis.
    std::string stat = "77 (smbd (x) y) S 1 77 77 0 -1 4194624 1 0 0 0 0 0 0 0 20 0 1 0 ";
    long tick = sysconf(_SC_CLK_TCK);
    stat += std::to_string(1000 * tick) + " 81044 5000 18446744073709551615\n";
    proc.Write("77/stat", stat);
    proc.Write("stat", "cpu  1 2 3\nintr 5\nbtime 1700000000\nprocesses 9\n");

    EXPECT_EQ(cifsmon::ReadProcessStartTime(proc.str(), 77), 1700001000u);

    EXPECT_FALSE(cifsmon::ReadProcessStartTime(proc.str(), 78).has_value());
    EXPECT_FALSE(cifsmon::ParseStartTicks("77 (smbd) S 1 2").has_value());
    EXPECT_FALSE(cifsmon::ParseBootTime("btimex 5\n").has_value());
}

TEST(SambaProc, ReadsThisProcess) {
    std::optional<uint64_t> start =
        cifsmon::ReadProcessStartTime(cifsmon::kProcRoot, static_cast<uint64_t>(getpid()));
    ASSERT_TRUE(start.has_value());
    EXPECT_LE(*start, static_cast<uint64_t>(time(nullptr)));
    EXPECT_GT(*start, 1500000000u);
}

TEST(SambaIdentity, TellsDomainAccountsFromLocalOnes) {
    cifsmon::SambaConfig config;
    config.winbindSeparator = '\\';
    config.idmapRanges = {{3000000, 3999999}};
    auto type = [&config](const std::string &user, std::optional<uint32_t> uid) {
        cifsmon::SambaSession session;
        session.userName = user;
        session.uid = uid;
        return cifsmon::ConnectionType(session, config, "FILER1");
    };
    EXPECT_EQ(type("CORP\\anna", 3000012), "Active Directory");
    EXPECT_EQ(type("CORP\\anna", 1000), "Active Directory");
    EXPECT_EQ(type("filer1\\bob", 1001), "Local") << "the server's own domain";
    EXPECT_EQ(type("bob", 1001), "Local");
    EXPECT_EQ(type("carl", 3000020), "Active Directory");
    EXPECT_EQ(type("(auth in progress)", std::nullopt), "");
    config.netbiosName = "NAS";
    EXPECT_EQ(type("nas\\bob", 1001), "Local");
    EXPECT_EQ(type("FILER1\\bob", 1001), "Active Directory");
}

TEST(SambaIdentity, SupervisorsAreRootAndTheAdministratorsGroup) {
    EXPECT_STREQ(cifsmon::Privileges(0u, {}, ""), "Supervisor");
    EXPECT_STREQ(cifsmon::Privileges(1000u, {"users", "CORP\\Domain Admins"}, ""),
                 "Non-Supervisor");
    EXPECT_STREQ(
        cifsmon::Privileges(1000u, {"users", "CORP\\Domain Admins"}, "corp\\domain admins"),
        "Supervisor");
    EXPECT_STREQ(cifsmon::Privileges(std::nullopt, {"admins"}, "admins"), "Supervisor");
    EXPECT_STREQ(cifsmon::Privileges(std::nullopt, {}, "admins"), "Non-Supervisor");
}

TEST(SambaIdentity, GroupsComeFromTheAccountDatabases) {
    std::vector<std::string> groups = cifsmon::UserGroups(0, "ignored");
    ASSERT_FALSE(groups.empty());
    EXPECT_EQ(groups[0], "root");
    EXPECT_THAT(cifsmon::UserGroups(3999999999u, "CORP\\domain users"),
                ElementsAre("CORP\\domain users"));
    EXPECT_TRUE(cifsmon::UserGroups(3999999999u, "").empty());
}

TEST(SambaClose, AddressesProcessesOnTheirNode) {
    cifsmon::ServerId local{2001, cifsmon::kNonClusterVnn, "1"};
    cifsmon::ServerId remote{2001, 3, "1"};
    EXPECT_EQ(cifsmon::ProcessDestination(local), "2001");
    EXPECT_EQ(cifsmon::ProcessDestination(remote), "3:2001");
    EXPECT_THAT(cifsmon::CloseShareArguments("/etc/smb.conf", remote, "-d10"),
                ElementsAre("-s", "/etc/smb.conf", "--", "3:2001", "close-share", "-d10"));
    // As a real server listed an open of share_file_id 3 in process 9322.
    EXPECT_EQ(cifsmon::RpcFileId(cifsmon::ServerId{9322, cifsmon::kNonClusterVnn, ""}, 3),
              610926595u);
    EXPECT_THAT(cifsmon::RpcCloseArguments("/c", "127.0.0.1", "/auth", 610926595u),
                ElementsAre("-s", "/c", "-S", "127.0.0.1", "-A", "/auth", "--", "rpc", "file",
                            "close", "610926595"));
}

TEST(SambaClose, RefusesTheShareThatMeansEveryShare) {
    ToolDir tools;
    tools.Add("smbcontrol", "echo called > \"$(dirname \"$0\")/called\"\n");
    std::string error;
    EXPECT_EQ(cifsmon::CloseShare(tools.Options(), "/c", cifsmon::ServerId{5, 0, ""}, "*", &error),
              cifsmon::kStatusToolFailed);
    EXPECT_THAT(error, HasSubstr("every share"));
    EXPECT_FALSE(std::filesystem::exists(tools.str() + "/called"));
    EXPECT_EQ(
        cifsmon::CloseShare(tools.Options(), "/c", cifsmon::ServerId{5, 0, ""}, "data", &error),
        cifsmon::kStatusOk)
        << error;
    EXPECT_TRUE(std::filesystem::exists(tools.str() + "/called"));
}

}  // namespace
