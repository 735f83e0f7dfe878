// live_console.h: a console server on a free loopback port, for the tests that talk HTTP to it.
//
// The server runs on its own threads, with the accounts "admin" (administrator) and "guest" (no
// rights), a log directory of its own, a clock the test moves by hand and its access log in a
// file. It is stopped (and its threads joined) when the LiveConsole goes out of scope.
#ifndef KEL_TESTS_CONSOLE_LIVE_CONSOLE_H
#define KEL_TESTS_CONSOLE_LIVE_CONSOLE_H

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>

#include "common/temp_dir.h"
#include "console/account_file.h"
#include "console/server.h"
#include "http_client.h"

namespace console_test {

inline constexpr char kAdminPassword[] = "admin-secret-1";
inline constexpr char kGuestPassword[] = "guest-secret-1";

// Milliseconds on the test clock; tests move it forward.
inline std::atomic<long long> g_clockMs{1'000'000'000};

inline std::chrono::steady_clock::time_point TestNow() {
    return std::chrono::steady_clock::time_point(std::chrono::milliseconds(g_clockMs.load()));
}

inline void Advance(std::chrono::milliseconds by) {
    g_clockMs += by.count();
}

// The account file with admin and guest; made once, as hashing takes a while.
inline const std::string &SharedAccountFile() {
    static testing_support::TempDir dir;
    static const std::string file = [] {
        const std::string path = dir.str() + "/accounts";
        bool created = false;
        std::string error;
        if (!kel::console::SetPassword(path, "admin", kAdminPassword,
                                       kel::console::kAdministratorAccess, &created, &error) ||
            !kel::console::SetPassword(path, "guest", kGuestPassword, kel::console::kNoAccess,
                                       &created, &error)) {
            throw std::runtime_error(error);
        }
        return path;
    }();
    return file;
}

class LiveConsole {
  public:
    explicit LiveConsole(kel::console::ServerOptions options = {}) {
        options.address = "127.0.0.1";
        options.port = 0;
        if (options.accountFile.empty()) {
            options.accountFile = SharedAccountFile();
        }
        logDirectory_ = dir_.MakeDir("log").string();
        if (options.logDirectory.empty()) {
            options.logDirectory = logDirectory_;
        }
        options.clock = &TestNow;
        options.threads = 2;
        accessLog_ = dir_.str() + "/access.log";
        options.accessLogFd =
            open(accessLog_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        accessLogFd_ = options.accessLogFd;
        std::string error;
        server_ = kel::console::Server::Start(options, &error);
        if (server_ == nullptr) {
            throw std::runtime_error("console did not start: " + error);
        }
        url_ = server_->url();
    }
    ~LiveConsole() {
        server_.reset();
        close(accessLogFd_);
    }

    const std::string &url() const { return url_; }  // also the console's origin
    std::string At(const std::string &path) const { return url_ + path; }
    const testing_support::TempDir &dir() const { return dir_; }
    const std::string &logDirectory() const { return logDirectory_; }
    std::string AccessLog() const { return testing_support::ReadFile(accessLog_); }

    // Logs in (from `source`, when given); returns the Cookie header value ("kelsession=..."),
    // empty when refused.
    std::string Login(const std::string &name, const std::string &password,
                      const std::string &source = {}) const {
        HttpResponse response =
            Post(At("/login"), "name=" + name + "&password=" + password, {}, url_, source);
        const std::string cookie = response.Header("Set-Cookie");
        if (response.status != 303 || cookie.empty()) {
            return {};
        }
        return cookie.substr(0, cookie.find(';'));
    }
    std::string LoginAdmin() const { return Login("admin", kAdminPassword); }

  private:
    testing_support::TempDir dir_;
    std::string logDirectory_;
    std::string accessLog_;
    int accessLogFd_ = -1;
    std::unique_ptr<kel::console::Server> server_;
    std::string url_;
};

}  // namespace console_test

#endif  // KEL_TESTS_CONSOLE_LIVE_CONSOLE_H
