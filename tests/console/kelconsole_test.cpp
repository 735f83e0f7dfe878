// Tests of the kelconsole program: it is run as a child process with a plug-in directory that
// holds the test plug-in, talked to over HTTP and stopped with SIGTERM.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/temp_dir.h"
#include "http_client.h"

extern char **environ;

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// A kelconsole child process; killed (if still running) and reaped when the object goes.
class Child {
  public:
    Child(const std::vector<std::string> &arguments, const testing_support::TempDir &dir,
          const std::string &name, const std::string &input = {}) {
        out_ = dir.str() + "/" + name + ".out";
        err_ = dir.str() + "/" + name + ".err";
        const std::string in = dir.str() + "/" + name + ".in";
        dir.Write(name + ".in", input);
        std::vector<std::string> args{KELCONSOLE_BINARY};
        args.insert(args.end(), arguments.begin(), arguments.end());
        std::vector<char *> argv;
        for (std::string &arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        std::vector<std::string> env{"KELCONSOLE_TEST_MARKER=" + dir.str() + "/marker",
                                     "KEL2CIFS_ROOT=" + dir.str() + "/root"};
        for (char **e = environ; *e != nullptr; ++e) {
            if (!std::string(*e).starts_with("KEL2CIFS_ROOT=")) {
                env.push_back(*e);
            }
        }
        std::vector<char *> envp;
        for (std::string &entry : env) {
            envp.push_back(entry.data());
        }
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Child() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            Wait();
        }
    }

    // The exit status, or -1 when the child did not exit normally.
    int Wait() {
        int status = 0;
        if (pid_ <= 0 || waitpid(pid_, &status, 0) != pid_) {
            return -1;
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    void Signal(int number) const { kill(pid_, number); }
    std::string Out() const { return testing_support::ReadFile(out_); }
    std::string Err() const { return testing_support::ReadFile(err_); }

    // Waits (at most 30 s) for the "serving URL/" line and returns the URL, or empty.
    std::string WaitForUrl() const {
        const std::regex serving("serving (http://[0-9.]+:[0-9]+)/");
        for (int i = 0; i < 3000; ++i) {
            std::smatch match;
            const std::string out = Out();
            if (std::regex_search(out, match, serving)) {
                return match[1];
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return {};
    }

  private:
    pid_t pid_ = -1;
    std::string out_;
    std::string err_;
};

std::string Login(const std::string &url, const std::string &name, const std::string &password) {
    auto response =
        console_test::Post(url + "/login", "name=" + name + "&password=" + password, {}, url);
    const std::string cookie = response.Header("Set-Cookie");
    return cookie.substr(0, cookie.find(';'));
}

class Kelconsole : public ::testing::Test {
  protected:
    void SetUp() override {
        plugins_ = dir_.MakeDir("plugins").string();
        std::filesystem::copy_file(KELCONSOLE_TEST_PLUGIN, plugins_ + "/test_plugin.so");
        dir_.Write("plugins/broken.so", "not a shared object");
        dir_.Write("plugins/README", "ignored: not a .so");
        accounts_ = dir_.str() + "/accounts";
    }
    std::vector<std::string> ServeArguments() const {
        return {"--plugins=" + plugins_, "--accounts=" + accounts_, "--listen=127.0.0.1:0"};
    }

    testing_support::TempDir dir_;
    std::string plugins_;
    std::string accounts_;
};

TEST_F(Kelconsole, LoadsPluginsServesTheirPagesAndUnloadsThemOnSigterm) {
    Child console(ServeArguments(), dir_, "serve");
    const std::string url = console.WaitForUrl();
    ASSERT_FALSE(url.empty()) << console.Err();
    std::smatch match;
    const std::string out = console.Out();
    ASSERT_TRUE(std::regex_search(out, match, std::regex("password \\(shown only now\\): (\\S+)")))
        << out;
    const std::string password = match[1];
    EXPECT_THAT(testing_support::ReadFile(accounts_), Not(HasSubstr(password)));

    const std::string cookie = Login(url, "admin", password);
    ASSERT_FALSE(cookie.empty());
    auto page = console_test::Get(url + "/tplugin", cookie);
    EXPECT_EQ(page.status, 200);
    EXPECT_THAT(page.body, HasSubstr("test plug-in page access=0x0000000b"));
    EXPECT_THAT(console_test::Get(url + "/", cookie).body,
                HasSubstr("<a href=\"/tplugin\">Test Plug-in Page</a>"));

    console.Signal(SIGTERM);
    EXPECT_EQ(console.Wait(), 0);
    EXPECT_EQ(testing_support::ReadFile(dir_.path() / "marker"), "deregistered=1 status=0\n");
    const std::string err = console.Err();
    EXPECT_THAT(err, HasSubstr("cannot load " + plugins_ + "/broken.so"));
    EXPECT_THAT(err, HasSubstr("unloaded " + plugins_ + "/test_plugin.so"));
    EXPECT_THAT(err, Not(HasSubstr("README")));
    EXPECT_THAT(err, testing::ContainsRegex("GET /tplugin 200 [0-9]+ [0-9]+ms admin"));
}

TEST_F(Kelconsole, PasswdCreatesAnAccountThatTheConsoleAccepts) {
    Child passwd({"passwd", "--accounts=" + accounts_, "--role=none", "viewer"}, dir_, "passwd",
                 "Harbor-lantern-57\n");
    EXPECT_EQ(passwd.Wait(), 0) << passwd.Err();
    EXPECT_THAT(passwd.Out(), HasSubstr("created account \"viewer\""));
    EXPECT_THAT(testing_support::ReadFile(accounts_), HasSubstr("viewer:$y$"));

    Child console(ServeArguments(), dir_, "serve");
    const std::string url = console.WaitForUrl();
    ASSERT_FALSE(url.empty()) << console.Err();
    EXPECT_THAT(console.Out(), Not(HasSubstr("password")));  // the file existed: no admin made
    const std::string cookie = Login(url, "viewer", "Harbor-lantern-57");
    ASSERT_FALSE(cookie.empty());
    EXPECT_THAT(console_test::Get(url + "/tplugin", cookie).body,
                HasSubstr("test plug-in page access=0x00000000"));
    console.Signal(SIGINT);
    EXPECT_EQ(console.Wait(), 0);
}

TEST_F(Kelconsole, TokenCommandsAreRecordedAndTheRunningConsoleHonoursThemAtOnce) {
    Child console(ServeArguments(), dir_, "serve");
    const std::string url = console.WaitForUrl();
    ASSERT_FALSE(url.empty()) << console.Err();
    const auto fetch = [&url](const std::string &token, const std::string &path) {
        console_test::HttpRequest request;
        request.url = url + path;
        request.headers.push_back("Authorization: Bearer " + token);
        return console_test::Send(request);
    };

    Child create({"token", "create", "--accounts=" + accounts_, "--role=read", "monitor"}, dir_,
                 "create");
    ASSERT_EQ(create.Wait(), 0) << create.Err();
    const std::string out = create.Out();
    ASSERT_TRUE(std::regex_match(out, std::regex("kel_[0-9a-f]{64}\n"))) << out;
    const std::string token = out.substr(0, out.size() - 1);
    Child again({"token", "create", "--accounts=" + accounts_, "monitor"}, dir_, "again");
    EXPECT_EQ(again.Wait(), 1);
    EXPECT_EQ(again.Out(), "");

    const std::string file = dir_.str() + "/tokens";
    struct stat st {};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_THAT(testing_support::ReadFile(file), Not(HasSubstr(token.substr(4))));
    Child list({"token", "list", "--accounts=" + accounts_}, dir_, "list");
    ASSERT_EQ(list.Wait(), 0) << list.Err();
    EXPECT_TRUE(
        std::regex_search(list.Out(), std::regex("\nmonitor +read +[0-9-]+ [0-9:]+ +[.]{3}" +
                                                 token.substr(token.size() - 4) + "\n")))
        << list.Out();
    EXPECT_THAT(list.Out(), Not(HasSubstr(token.substr(4, 20))));

    const auto json = fetch(token, "/audit?format=json&action=token+create");
    ASSERT_EQ(json.status, 200) << json.body;
    EXPECT_THAT(json.body, HasSubstr("\"total\": 2,"));  // the second one failed
    EXPECT_THAT(json.body, HasSubstr("\"client\": \"command line\", \"action\": \"token "
                                     "create\", \"status\": 200, \"targets\": [{\"action\": "
                                     "\"create token\", \"target\": \"monitor\", \"result\": "
                                     "\"created, role read\"}]"));
    EXPECT_EQ(fetch(token, "/audit").status, 406);

    Child revoke({"token", "revoke", "--accounts=" + accounts_, "monitor"}, dir_, "revoke");
    ASSERT_EQ(revoke.Wait(), 0) << revoke.Err();
    const auto refused = fetch(token, "/audit?format=json");
    EXPECT_EQ(refused.status, 401);
    EXPECT_EQ(refused.Header("WWW-Authenticate"), "Bearer");
    console.Signal(SIGTERM);
    EXPECT_EQ(console.Wait(), 0) << console.Err();
}

TEST_F(Kelconsole, PasswdRefusesAWeakPasswordAndSaysWhy) {
    const struct {
        const char *password;
        const char *reason;
    } cases[] = {
        {"password", "shorter than 12 characters"},
        {"aaaaaaaaaaaa", "palindrome"},
        {"viewer-Harbor-57", "user name"},
    };
    int n = 0;
    for (const auto &c : cases) {
        Child passwd({"passwd", "--accounts=" + accounts_, "viewer"}, dir_,
                     "weak" + std::to_string(n++), std::string(c.password) + "\n");
        EXPECT_EQ(passwd.Wait(), 1) << c.password;
        EXPECT_THAT(passwd.Err(), HasSubstr("kelconsole: password refused: ")) << c.password;
        EXPECT_THAT(passwd.Err(), HasSubstr(c.reason)) << c.password;
        EXPECT_THAT(passwd.Err(), HasSubstr("nothing changed")) << c.password;
        EXPECT_EQ(passwd.Out(), "");
    }
    EXPECT_FALSE(std::filesystem::exists(accounts_));
}

TEST_F(Kelconsole, RefusesARemoteAddressWithoutTlsAndBadOptions) {
    std::vector<std::string> remote = ServeArguments();
    remote.back() = "--listen=192.0.2.1:0";
    Child refused(remote, dir_, "remote");
    EXPECT_EQ(refused.Wait(), 1);
    EXPECT_THAT(refused.Err(), HasSubstr("without TLS"));
    EXPECT_EQ(testing_support::ReadFile(dir_.path() / "marker"), "deregistered=1 status=0\n");

    Child usage({"--no-such-option"}, dir_, "usage");
    EXPECT_EQ(usage.Wait(), 2);
    EXPECT_THAT(usage.Err(), HasSubstr("usage: kelconsole"));

    // A wildcard address would answer any Host name, and so a page rebound to the console.
    std::vector<std::string> wildcard = ServeArguments();
    wildcard.back() = "--listen=0.0.0.0:0";
    wildcard.push_back("--allow-insecure-remote");
    Child unnamed(wildcard, dir_, "unnamed");
    EXPECT_EQ(unnamed.Wait(), 2);
    EXPECT_THAT(unnamed.Err(), HasSubstr("kelconsole: listening on the wildcard address 0.0.0.0 "
                                         "needs the host names to answer to: give "
                                         "--server-name=NAME\n"));
    EXPECT_EQ(unnamed.Out(), "");

    Child missing({"--plugins=" + dir_.str() + "/none", "--accounts=" + accounts_}, dir_,
                  "missing");
    EXPECT_EQ(missing.Wait(), 1);
    EXPECT_THAT(missing.Err(), HasSubstr("cannot read plug-in directory"));
}

// Texts that reach standard error (a plug-in's file name, an option) can come from someone other
// than the administrator: no control byte of theirs reaches his terminal raw.
TEST_F(Kelconsole, StandardErrorEscapesControlBytes) {
    dir_.Write("plugins/x\x1b]0;owned\x07\r\nkelconsole: loaded trusted.so.so", "not an object");
    Child console(ServeArguments(), dir_, "serve");
    ASSERT_FALSE(console.WaitForUrl().empty()) << console.Err();
    console.Signal(SIGTERM);
    EXPECT_EQ(console.Wait(), 0);
    EXPECT_THAT(console.Err(),
                HasSubstr("cannot load " + plugins_ +
                          "/x\\e]0;owned\\x07\\r\\nkelconsole: loaded trusted.so.so"));
    EXPECT_THAT(console.Err(), Not(HasSubstr("\x1b")));
    EXPECT_THAT(console.Err(), Not(HasSubstr("\nkelconsole: loaded trusted")));

    Child usage({"--bo\x1b[2Jgus=1"}, dir_, "usage");
    EXPECT_EQ(usage.Wait(), 2);
    EXPECT_THAT(usage.Err(), HasSubstr("\\e[2J"));
    EXPECT_THAT(usage.Err(), Not(HasSubstr("\x1b")));
}

// The console with the real plug-in, the demo backend and this build's catalogues below its root.
class KelconsoleInLanguages : public Kelconsole {
  protected:
    void SetUp() override {
        Kelconsole::SetUp();
        std::filesystem::remove(plugins_ + "/test_plugin.so");
        std::filesystem::remove(plugins_ + "/broken.so");
        std::filesystem::copy_file(KEL2CIFS_PLUGIN_PATH, plugins_ + "/libkel2cifs.so");
        const std::string root = dir_.str() + "/root";
        std::filesystem::create_directories(root + "/var/opt/zantio/log");
        std::filesystem::copy(KEL2CIFS_LOCALE_ROOT, root, std::filesystem::copy_options::recursive);
        const std::string state = dir_.str() + "/demo-state.json";
        const std::string generate = std::string(CIFSMON_DEMO_GEN) + " --output " + state +
                                     " --seed 7 --now 1733400000 > /dev/null";
        ASSERT_EQ(std::system(generate.c_str()), 0);
        setenv("CIFSMONITORING_BACKEND", "demo", 1);
        setenv("CIFSMONITORING_STATE", state.c_str(), 1);
        // The administrator's own settings: LANGUAGE would override every request's language,
        // so the console must drop it.
        setenv("LANGUAGE", "fr", 1);
        console_ = std::make_unique<Child>(ServeArguments(), dir_, "serve");
        url_ = console_->WaitForUrl();
        ASSERT_FALSE(url_.empty()) << console_->Err();
        std::smatch match;
        const std::string out = console_->Out();
        ASSERT_TRUE(
            std::regex_search(out, match, std::regex("password \\(shown only now\\): (\\S+)")));
        cookie_ = Login(url_, "admin", match[1]);
        ASSERT_FALSE(cookie_.empty());
    }
    void TearDown() override {
        unsetenv("LANGUAGE");
        if (console_ != nullptr) {
            console_->Signal(SIGTERM);
            EXPECT_EQ(console_->Wait(), 0) << console_->Err();
        }
    }
    console_test::HttpResponse Fetch(const std::string &path, const std::string &language) const {
        console_test::HttpRequest request;
        request.url = url_ + path;
        request.cookie = cookie_;
        if (!language.empty()) {
            request.headers.push_back("Accept-Language: " + language);
        }
        return console_test::Send(request);
    }

    std::unique_ptr<Child> console_;
    std::string url_;
    std::string cookie_;
};

// Each text of a catalogue (msgid and msgstr, as --no-wrap writes them on one line each), with
// its C escapes undone.
std::vector<std::pair<std::string, std::string>> ReadCatalogue(const std::string &file) {
    auto unquote = [](std::string_view line, std::string_view keyword) {
        std::string text;
        line.remove_prefix(keyword.size() + 2);
        line.remove_suffix(1);
        for (std::size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '\\' && i + 1 < line.size()) {
                ++i;
                text += line[i] == 'n' ? '\n' : line[i];
            } else {
                text += line[i];
            }
        }
        return text;
    };
    std::vector<std::pair<std::string, std::string>> texts;
    std::istringstream in(testing_support::ReadFile(file));
    std::string line;
    std::string msgid;
    while (std::getline(in, line)) {
        if (line.starts_with("msgid \"")) {
            msgid = unquote(line, "msgid");
        } else if (line.starts_with("msgstr \"") && !msgid.empty()) {
            texts.emplace_back(msgid, unquote(line, "msgstr"));
        } else if (line.starts_with("msgstr[0] \"") && !msgid.empty()) {
            texts.emplace_back(msgid, unquote(line, "msgstr[0]"));
        }
    }
    return texts;
}

TEST_F(KelconsoleInLanguages, PagesFollowTheBrowsersLanguage) {
    const struct {
        const char *header;
        const char *lang;
        const char *title;
        const char *navigation;
        const char *logout;
    } cases[] = {
        {"", "en", "CIFS Open File Management", "Manage Open Files", "Log out"},
        {"de-DE,de;q=0.9,en;q=0.8", "de",
         "CIFS: Ge\xC3\xB6"
         "ffnete Dateien verwalten",
         "Ge\xC3\xB6"
         "ffnete Dateien verwalten",
         "Abmelden"},
        {"fr-CH, fr;q=0.9, en;q=0.8", "fr", "G\xC3\xA9rer les fichiers ouverts CIFS",
         "G\xC3\xA9rer les fichiers ouverts",
         "Se d\xC3\xA9"
         "connecter"},
        {"es, de;q=0, en;q=0.1", "en", "CIFS Open File Management", "Manage Open Files", "Log out"},
    };
    for (const auto &c : cases) {
        const auto page = Fetch("/cifsofm", c.header);
        EXPECT_EQ(page.status, 200) << c.header;
        EXPECT_THAT(page.body, HasSubstr(std::string("<html lang=\"") + c.lang + "\">"));
        EXPECT_THAT(page.body, HasSubstr(std::string("<title>") + c.title)) << c.header;
        EXPECT_THAT(page.body, HasSubstr(std::string(">") + c.navigation + "</a>")) << c.header;
        EXPECT_THAT(page.body, HasSubstr(std::string(">") + c.logout + "</button>")) << c.header;
    }
    // The console's own pages too: an unknown address and the login page.
    EXPECT_THAT(Fetch("/nothing-here", "de").body,
                HasSubstr("Unter dieser Adresse gibt es keine Seite."));
    console_test::HttpRequest login;
    login.url = url_ + "/login";
    login.headers.push_back("Accept-Language: fr");
    EXPECT_THAT(console_test::Send(login).body, HasSubstr(">Mot de passe</label>"));
}

TEST_F(KelconsoleInLanguages, AGermanPageShowsNoEnglishTextOfOurs) {
    const std::string po = std::string(KEL2CIFS_TESTS_SOURCE_DIR) + "/../po/";
    std::vector<std::pair<std::string, std::string>> texts =
        ReadCatalogue(po + "libkel2cifs/de.po");
    for (auto &text : ReadCatalogue(po + "kelconsole/de.po")) {
        texts.push_back(std::move(text));
    }
    ASSERT_GT(texts.size(), 200u);
    for (const char *path : {"/", "/cifsofm", "/cifscons", "/cifslogs", "/audit"}) {
        const std::string body = Fetch(path, "de").body;
        ASSERT_THAT(body, HasSubstr("<html lang=\"de\">")) << path;
        for (const auto &[english, german] : texts) {
            std::string shown = english;
            while (!shown.empty() && shown.back() == ' ') {
                shown.pop_back();
            }
            if (english == german || shown.size() < 3) {
                continue;
            }
            // A text of ours stands between tags or in a script's string.
            EXPECT_THAT(body, Not(HasSubstr(">" + shown + "<"))) << path;
            EXPECT_THAT(body, Not(HasSubstr("'" + english + "'"))) << path;
        }
    }
    // The login times name their day and month in German ("Mi 09 Dez 2026 ..."), not in English.
    const std::string list = Fetch("/cifscons", "de").body;
    EXPECT_TRUE(std::regex_search(list, std::regex(">(Mo|Di|Mi|Do|Fr|Sa|So) [0-9]{2} [A-Z]")))
        << list;
    EXPECT_FALSE(std::regex_search(list, std::regex(">(Mon|Tue|Wed|Thu|Fri|Sat|Sun) ")));
}

TEST_F(KelconsoleInLanguages, ConcurrentRequestsEachGetTheirOwnLanguage) {
    // Two clients at once, one German, one French, many times over: the console's request
    // threads switch language per request, and no page takes the other's.
    const std::string german =
        "<title>CIFS: Ge\xC3\xB6"
        "ffnete Dateien verwalten";
    const std::string french = "<title>G\xC3\xA9rer les fichiers ouverts CIFS";
    std::vector<int> wrong(4, 0);
    std::vector<std::thread> clients;
    for (int t = 0; t < 4; ++t) {
        clients.emplace_back([&, t] {
            const bool isGerman = t % 2 == 0;
            for (int i = 0; i < 40; ++i) {
                const auto page =
                    Fetch(i % 3 == 0 ? "/cifsofm?x" : "/cifsofm", isGerman ? "de" : "fr");
                const std::string &own = isGerman ? german : french;
                const std::string &other = isGerman ? french : german;
                if (page.status != 200 || page.body.find(own) == std::string::npos ||
                    page.body.find(other) != std::string::npos ||
                    page.body.find("Manage Open Files") != std::string::npos) {
                    ++wrong[t];
                }
            }
        });
    }
    for (std::thread &client : clients) {
        client.join();
    }
    EXPECT_EQ(wrong, std::vector<int>(4, 0));
    // And a request without the header in between is English.
    EXPECT_THAT(Fetch("/cifsofm", "").body, HasSubstr("<title>CIFS Open File Management"));
}

}  // namespace

namespace {

// The configuration file below the console's root is read without options; its errors stop the
// console with status 2 and the file's name and line, without the usage text.
TEST_F(Kelconsole, ReadsItsConfigurationFileAndTellsItsVersion) {
    const std::string config = dir_.str() + "/root/etc/opt/zantio/kelconsole/kelconsole.conf";
    dir_.Write("root/etc/opt/zantio/kelconsole/kelconsole.conf",
               "# the test's console\nplugins = " + plugins_ + "\naccounts = " + accounts_ +
                   "\nlisten = 127.0.0.1:0\n");
    Child console({}, dir_, "configured");
    ASSERT_FALSE(console.WaitForUrl().empty()) << console.Err();
    console.Signal(SIGTERM);
    EXPECT_EQ(console.Wait(), 0);
    EXPECT_THAT(console.Err(), HasSubstr("unloaded " + plugins_ + "/test_plugin.so"));
    EXPECT_THAT(console.Out(), HasSubstr("created " + accounts_));

    dir_.Write("root/etc/opt/zantio/kelconsole/kelconsole.conf",
               "listen = 127.0.0.1:0\ncolour = blue\n");
    Child broken({}, dir_, "broken");
    EXPECT_EQ(broken.Wait(), 2);
    EXPECT_EQ(broken.Err(), "kelconsole: " + config + ":2: unknown setting \"colour\"\n");
    // The command line does not mend the file.
    Child still({"--listen=127.0.0.1:0"}, dir_, "still");
    EXPECT_EQ(still.Wait(), 2);

    Child version({"--version"}, dir_, "version");
    EXPECT_EQ(version.Wait(), 0);
    EXPECT_EQ(version.Out(), "kelconsole " KELCONSOLE_EXPECTED_VERSION "\n");
    EXPECT_EQ(version.Err(), "");
}

}  // namespace
