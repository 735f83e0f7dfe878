// samba_server.h: a private smbd on loopback for the tests that run against a real server, with
// its own configuration and state directories, smbclient sessions that hold files open, and the
// process helpers both need.
//
// The server takes the first free loopback port from 4450 to 4469 and has three shares: `data`
// (root, with its password), `docs` (guests too, who run as nobody) and `forced` (whoever
// connects works as nobody: `force user`). Every wait is bounded;
// the server, its helpers and the clients are stopped when their objects are destroyed.
#ifndef KEL2CIFS_TESTS_MONITORING_SAMBA_SERVER_H
#define KEL2CIFS_TESTS_MONITORING_SAMBA_SERVER_H

#include <sys/types.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common/temp_dir.h"

namespace samba_test {

// Polls `done` every 100 ms for at most `seconds`; true once it holds.
bool WaitUntil(const std::function<bool()> &done, int seconds);

// Waits for a child for at most `seconds`, then kills it (or its process group) and reaps it.
void StopChild(pid_t pid, bool group, int seconds);

// Starts argv[0] (a full path) with stdin from `input` (or /dev/null when < 0) and both output
// streams appended to `logPath`; it gets SIGTERM when this process dies. In a new session when
// `leader`, so that its process group can be stopped whole.
pid_t Spawn(const std::vector<std::string> &argv, int input, const std::string &logPath,
            bool leader);

// Runs a program to its end (at most 30 s) with `input` on its standard input; its exit status,
// or -1.
int RunWithInput(const std::vector<std::string> &argv, const std::string &input,
                 const std::string &logPath);

// What sets one test's server apart from another's.
struct ServerSettings {
    std::string netbiosName;
    // root's password on the server.
    std::string password;
    // Files created in the shares, relative to the server's directory ("data/..." or "docs/...");
    // each holds "content of <its relative path>\n".
    std::vector<std::string> files;
};

// The private server: its directory, configuration and process group, stopped with every helper
// it started when destroyed.
class PrivateServer {
  public:
    explicit PrivateServer(ServerSettings settings);
    ~PrivateServer();
    PrivateServer(const PrivateServer &) = delete;
    PrivateServer &operator=(const PrivateServer &) = delete;

    // Empty when it runs; else why not.
    std::string Start();

    std::string Path(const std::string &relative) const { return dir_.str() + "/" + relative; }
    std::string Conf() const { return Path("smb.conf"); }
    std::string Tool(const std::string &name) { return tools_[name]; }
    const std::string &password() const { return settings_.password; }
    int port() const { return port_; }
    std::string Log() const { return Path("log/log.smbd"); }
    // The main smbd process (from its pid file), which answers the library's liveness check.
    pid_t MainPid() const;
    // Stops smbd and every process of its group (the clients' server processes).
    void Stop();

  private:
    ServerSettings settings_;
    testing_support::TempDir dir_;
    std::map<std::string, std::string> tools_;
    int port_ = 0;
    pid_t smbd_ = -1;
};

// An smbclient session driven through a pipe: it lives, and keeps what it opened open, until
// its input ends. As root (with the server's password) or as a guest; its output goes to
// log/client-<name>.out in the server's directory. `options` go to smbclient besides
// ("--client-protection=encrypt").
class Client {
  public:
    Client(PrivateServer &server, const std::string &share, bool guest, const std::string &name,
           const std::vector<std::string> &options = {});
    ~Client();
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;

    // Sends one command line; a failed write fails the test.
    void Send(const std::string &command);
    // Ends its input and returns what it printed (it prints on exit).
    std::string Finish();

  private:
    std::string log_;
    pid_t pid_ = -1;
    int input_ = -1;
};

}  // namespace samba_test

#endif  // KEL2CIFS_TESTS_MONITORING_SAMBA_SERVER_H
