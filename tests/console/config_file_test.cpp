// kelconsole's configuration file: its settings, its errors with file and line, and the command
// line over it.
#include <cstdlib>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/temp_dir.h"
#include "console/cli.h"

namespace {

using namespace kel::console;
using ::testing::ElementsAre;

TEST(ConfigFile, EverySettingOfTheLongOptions) {
    const std::string text =
        "# the console\n"
        "\n"
        "  listen =  [::1]:8443  \r\n"
        "plugins=/srv/plugins\n"
        "accounts = /srv/accounts\n"
        "\t# indented comment\n"
        "tls-cert = /srv/c.pem\n"
        "tls-key = /srv/k.pem\n"
        "server-name = a.example\n"
        "server-name = b.example\n"
        "allow-insecure-remote = yes\n"
        "threads = 9\n"
        "max-connections = 70\n"
        "connections-per-address = 7\n"
        "header-timeout = 3\n"
        "idle-timeout = 30\n"
        "request-timeout = 40\n"
        "session-idle = 50\n"
        "session-lifetime = 60\n"
        "sessions-per-account = 2\n"
        "login-delay = 0\n"
        "product-name = Files # of the office\n"
        "port = 8444";  // no final line break
    CommandLine line;
    std::string error;
    ASSERT_TRUE(ParseCommandLine({}, &line, &error));
    ASSERT_TRUE(ApplyConfigText("k.conf", text, &line, &error)) << error;
    EXPECT_EQ(line.command, CommandLine::Command::kServe);
    EXPECT_EQ(line.server.address, "::1");
    EXPECT_EQ(line.server.port, 8444);
    EXPECT_EQ(line.pluginDirectory, "/srv/plugins");
    EXPECT_TRUE(line.pluginDirectoryGiven);
    EXPECT_EQ(line.server.accountFile, "/srv/accounts");
    EXPECT_EQ(line.server.certificateFile, "/srv/c.pem");
    EXPECT_EQ(line.server.keyFile, "/srv/k.pem");
    EXPECT_THAT(line.server.serverNames, ElementsAre("a.example", "b.example"));
    EXPECT_TRUE(line.server.allowInsecureRemote);
    EXPECT_EQ(line.server.threads, 9u);
    EXPECT_EQ(line.server.connectionLimit, 70u);
    EXPECT_EQ(line.server.connectionsPerAddress, 7u);
    EXPECT_EQ(line.server.headTimeout, std::chrono::seconds(3));
    EXPECT_EQ(line.server.idleTimeout, std::chrono::seconds(30));
    EXPECT_EQ(line.server.requestTimeout, std::chrono::seconds(40));
    EXPECT_EQ(line.server.sessionIdle, std::chrono::seconds(50));
    EXPECT_EQ(line.server.sessionLifetime, std::chrono::seconds(60));
    EXPECT_EQ(line.server.maxSessionsPerAccount, 2u);
    EXPECT_EQ(line.server.loginDelay, std::chrono::milliseconds(0));
    // "#" starts a comment only at the start of a line: a value keeps it.
    EXPECT_EQ(line.server.productName, "Files # of the office");

    ASSERT_TRUE(ApplyConfigText("k.conf", "allow-insecure-remote = no\n", &line, &error));
    EXPECT_FALSE(line.server.allowInsecureRemote);
}

TEST(ConfigFile, ErrorsNameTheFileAndLineAndChangeNothing) {
    const struct {
        const char *text;
        const char *error;
    } cases[] = {
        {"listen = 127.0.0.1:80\n# fine\nbogus = 1\n", "/e/k.conf:3: unknown setting \"bogus\""},
        {"threads = 0\n", "/e/k.conf:1: threads is 1 to 1024"},
        {"\n\nport = 65536\n", "/e/k.conf:3: port is 0 to 65535"},
        {"listen 127.0.0.1\n",
         "/e/k.conf:1: not a setting: NAME = VALUE, such as listen = 127.0.0.1:8080"},
        {"plugins =\n", "/e/k.conf:1: plugins needs a value"},
        {"allow-insecure-remote = true\n", "/e/k.conf:1: allow-insecure-remote is yes or no"},
        {"listen = :8080\n",
         "/e/k.conf:1: listen is ADDRESS[:PORT], such as 127.0.0.1:8080 or [::1]:8080"},
        {"session-idle = -1\n", "/e/k.conf:1: session-idle is a number of seconds, 1 or more"},
        // Command-line-only options are no settings.
        {"config = /etc/other.conf\n", "/e/k.conf:1: unknown setting \"config\""},
        {"role = admin\n", "/e/k.conf:1: unknown setting \"role\""},
        {"help = yes\n", "/e/k.conf:1: unknown setting \"help\""},
    };
    for (const auto &c : cases) {
        CommandLine line;
        std::string error;
        ASSERT_TRUE(ParseCommandLine({}, &line, &error));
        const std::uint16_t port = line.server.port;
        EXPECT_FALSE(ApplyConfigText("/e/k.conf", c.text, &line, &error)) << c.text;
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(line.server.port, port) << c.text;
    }
}

// Writes `text` as the configuration file below a private KEL2CIFS_ROOT, or at --config.
class ConfigFileOnDisk : public ::testing::Test {
  protected:
    void SetUp() override { setenv("KEL2CIFS_ROOT", dir_.str().c_str(), 1); }
    void TearDown() override { unsetenv("KEL2CIFS_ROOT"); }

    bool Load(const std::vector<std::string> &arguments, CommandLine *line, std::string *error) {
        return ParseCommandLine(arguments, line, error) && ApplyConfigFile(arguments, line, error);
    }

    testing_support::TempDir dir_;
};

TEST_F(ConfigFileOnDisk, TheCommandLineWinsOverTheDefaultFile) {
    dir_.Write("etc/opt/zantio/kelconsole/kelconsole.conf",
               "listen = 127.0.0.1:9000\nthreads = 8\nserver-name = file.example\n"
               "accounts = /srv/accounts\n");
    EXPECT_EQ(DefaultConfigFile(), dir_.str() + "/etc/opt/zantio/kelconsole/kelconsole.conf");
    CommandLine line;
    std::string error;
    ASSERT_TRUE(Load({"--port=7000", "--server-name", "cli.example"}, &line, &error)) << error;
    EXPECT_EQ(line.server.address, "127.0.0.1");
    EXPECT_EQ(line.server.port, 7000);
    EXPECT_EQ(line.server.threads, 8u);
    EXPECT_EQ(line.server.accountFile, "/srv/accounts");
    EXPECT_THAT(line.server.serverNames, ElementsAre("cli.example"));

    // Without names on the command line the file's stay.
    CommandLine plain;
    ASSERT_TRUE(Load({}, &plain, &error)) << error;
    EXPECT_EQ(plain.server.port, 9000);
    EXPECT_THAT(plain.server.serverNames, ElementsAre("file.example"));

    // passwd takes the account file from it, and --accounts wins over that.
    CommandLine passwd;
    ASSERT_TRUE(Load({"passwd", "admin"}, &passwd, &error)) << error;
    EXPECT_EQ(passwd.command, CommandLine::Command::kPasswd);
    EXPECT_EQ(passwd.server.accountFile, "/srv/accounts");
    EXPECT_EQ(passwd.passwdName, "admin");
    ASSERT_TRUE(Load({"passwd", "--accounts=/x", "admin"}, &passwd, &error)) << error;
    EXPECT_EQ(passwd.server.accountFile, "/x");
}

TEST_F(ConfigFileOnDisk, AGivenFileMustExistTheDefaultNeedNot) {
    CommandLine line;
    std::string error;
    ASSERT_TRUE(Load({"--port=7000"}, &line, &error)) << error;
    EXPECT_EQ(line.server.port, 7000);
    EXPECT_EQ(line.server.accountFile, dir_.str() + "/etc/opt/zantio/kelconsole/accounts");

    const std::string missing = dir_.File("none.conf");
    CommandLine given;
    EXPECT_FALSE(Load({"--config=" + missing}, &given, &error));
    EXPECT_EQ(error, "cannot read " + missing + ": No such file or directory");

    // A directory, and a file too long to be a configuration.
    EXPECT_FALSE(Load({"--config", dir_.str()}, &given, &error));
    EXPECT_EQ(error, "cannot read " + dir_.str() + ": Is a directory");
    dir_.Write("big.conf", std::string(kMaxConfigFileSize + 1, '#'));
    EXPECT_FALSE(Load({"--config", dir_.File("big.conf")}, &given, &error));
    EXPECT_EQ(error, dir_.File("big.conf") + ": longer than 1048576 bytes");

    // A broken default file is an error too, and --config chooses another.
    dir_.Write("etc/opt/zantio/kelconsole/kelconsole.conf", "threads = many\n");
    CommandLine broken;
    EXPECT_FALSE(Load({}, &broken, &error));
    EXPECT_EQ(error, DefaultConfigFile() + ":1: threads is 1 to 1024");
    dir_.Write("other.conf", "threads = 3\n");
    CommandLine other;
    ASSERT_TRUE(Load({"--config=" + dir_.File("other.conf")}, &other, &error)) << error;
    EXPECT_EQ(other.server.threads, 3u);
    EXPECT_EQ(other.configFile, dir_.File("other.conf"));
}

TEST(CommandLine, VersionAndUnknownOptions) {
    CommandLine line;
    std::string error;
    ASSERT_TRUE(ParseCommandLine({"--port=1", "--version"}, &line, &error));
    EXPECT_EQ(line.command, CommandLine::Command::kVersion);
    EXPECT_EQ(std::string(VersionLine()), std::string("kelconsole ") + KEL2CIFS_VERSION);
    // An unknown option is named as such, not taken for one that lacks its value.
    CommandLine bad;
    EXPECT_FALSE(ParseCommandLine({"--bogus"}, &bad, &error));
    EXPECT_EQ(error, "unknown option --bogus");
    EXPECT_FALSE(ParseCommandLine({"--bogus", "x"}, &bad, &error));
    EXPECT_EQ(error, "unknown option --bogus");
    EXPECT_FALSE(ParseCommandLine({"--config"}, &bad, &error));
    EXPECT_EQ(error, "--config needs a value");
}

}  // namespace
