// main.cpp: kelconsole, the console program.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include <pthread.h>
#include <pwd.h>
#include <termios.h>
#include <unistd.h>

#include <ctime>

#include "console/account_file.h"
#include "console/ascii.h"
#include "console/audit.h"
#include "console/buffer.h"
#include "console/cli.h"
#include "console/language.h"
#include "console/password_hash.h"
#include "console/plugin_loader.h"
#include "console/registry.h"
#include "console/server.h"
#include "console/tokens.h"

namespace {

using kel::console::CommandLine;

constexpr int kExitUsage = 2;

// Reads one line of standard input; with `hide`, and standard input a terminal, without echo.
bool ReadLine(const char *prompt, bool hide, std::string *line) {
    const bool terminal = isatty(STDIN_FILENO) == 1;
    termios saved{};
    if (terminal) {
        std::fputs(prompt, stderr);
        std::fflush(stderr);
        if (hide && tcgetattr(STDIN_FILENO, &saved) == 0) {
            termios quiet = saved;
            quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
            tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
        }
    }
    const bool ok = static_cast<bool>(std::getline(std::cin, *line));
    if (terminal && hide) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputc('\n', stderr);
    }
    if (!line->empty() && line->back() == '\r') {
        line->pop_back();
    }
    return ok;
}

int RunPasswd(const CommandLine &line) {
    std::string password;
    if (!ReadLine("New password: ", true, &password)) {
        std::fprintf(stderr, "kelconsole: no password given\n");
        return 1;
    }
    if (const std::string weakness = kel::console::PasswordWeakness(password, line.passwdName);
        !weakness.empty()) {
        std::fprintf(stderr, "kelconsole: password refused: %s; nothing changed\n",
                     weakness.c_str());
        return 1;
    }
    if (isatty(STDIN_FILENO) == 1) {
        std::string again;
        if (!ReadLine("Repeat the password: ", true, &again) || again != password) {
            std::fprintf(stderr, "kelconsole: the passwords differ; nothing changed\n");
            return 1;
        }
    }
    bool created = false;
    std::string error;
    if (!kel::console::SetPassword(line.server.accountFile, line.passwdName, password,
                                   line.passwdAccess, &created, &error)) {
        kel::console::Say(stderr, error);
        return 1;
    }
    std::printf("kelconsole: %s account \"%s\" in %s\n", created ? "created" : "updated",
                line.passwdName.c_str(), line.server.accountFile.c_str());
    return 0;
}

// The user running the command, as its audit records name it.
std::string LocalUser() {
    char buffer[4096];
    passwd entry{};
    passwd *found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer, sizeof(buffer), &found) == 0 && found != nullptr) {
        return found->pw_name;
    }
    return "uid " + std::to_string(geteuid());
}

const char *RoleName(unsigned int access) {
    switch (access) {
        case kel::console::kAdministratorAccess:
            return "admin";
        case kel::console::kReadAccess:
            return "read";
        default:
            return "other";
    }
}

int RunToken(const CommandLine &line) {
    const std::string path = kel::console::TokenFileFor(line.server.accountFile);
    std::string error;
    if (line.tokenAction == CommandLine::TokenAction::kList) {
        std::vector<kel::console::ApiToken> tokens;
        if (!kel::console::LoadTokenFile(path, &tokens, &error)) {
            kel::console::Say(stderr, error);
            return 1;
        }
        std::printf("%-24s %-6s %-20s %s\n", "NAME", "ROLE", "CREATED (UTC)", "ENDS WITH");
        for (const kel::console::ApiToken &token : tokens) {
            const std::time_t when = static_cast<std::time_t>(token.created);
            std::tm utc{};
            char created[32] = "?";
            if (gmtime_r(&when, &utc) != nullptr) {
                std::strftime(created, sizeof(created), "%Y-%m-%d %H:%M:%S", &utc);
            }
            std::printf("%-24s %-6s %-20s ...%s\n", token.name.c_str(), RoleName(token.access),
                        created, token.hint.c_str());
        }
        return 0;
    }
    // Nothing changes unrecorded: the record is written first, its outcome after.
    std::unique_ptr<kel::console::AuditStore> audit =
        kel::console::AuditStore::Open(line.server.stateDirectory, &error);
    if (audit == nullptr) {
        kel::console::Say(stderr, error + "; nothing changed");
        return 1;
    }
    const bool create = line.tokenAction == CommandLine::TokenAction::kCreate;
    const std::int64_t id =
        audit->Begin(static_cast<std::int64_t>(std::time(nullptr)), LocalUser(), false,
                     "command line", create ? "token create" : "token revoke");
    if (id == 0) {
        kel::console::Say(
            stderr, "cannot write the audit trail: " + audit->LastError() + "; nothing changed");
        return 1;
    }
    std::string token;
    const unsigned int access = line.passwdAccess.value_or(kel::console::kReadAccess);
    const bool done = create
                          ? kel::console::CreateToken(path, line.tokenName, access, &token, &error)
                          : kel::console::RevokeToken(path, line.tokenName, &error);
    const std::string result =
        done ? (create ? std::string("created, role ") + RoleName(access) : "revoked")
             : "failed: " + error;
    if (!audit->Finish(id, {{create ? "create token" : "revoke token", line.tokenName, result}},
                       done ? 200 : 400)) {
        kel::console::Say(stderr, "cannot complete the audit record: " + audit->LastError());
    }
    if (!done) {
        kel::console::Say(stderr, error);
        return 1;
    }
    if (create) {
        std::printf("%s\n", token.c_str());
        std::fflush(stdout);
        std::fprintf(stderr, "kelconsole: token \"%s\" (%s) created; it is shown only now\n",
                     line.tokenName.c_str(), RoleName(access));
    } else {
        std::printf("kelconsole: token \"%s\" revoked\n", line.tokenName.c_str());
    }
    return 0;
}

int RunServer(const CommandLine &line) {
    // The request threads, and any thread a plug-in starts, inherit this mask: the signals that
    // end the console are taken by sigwait below only.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    kel::console::TuneAllocatorForPages();

    std::string error;
    if (std::vector<std::string> names;
        !kel::console::ResolveServerNames(line.server, &names, &error)) {
        kel::console::Say(stderr, error);
        return kExitUsage;
    }
    std::string password;
    switch (kel::console::EnsureAccountFile(line.server.accountFile, &password, &error)) {
        case kel::console::AccountFileState::kFailed:
            kel::console::Say(stderr, error);
            return 1;
        case kel::console::AccountFileState::kCreated:
            std::printf("kelconsole: created %s with the account \"%s\"\n",
                        line.server.accountFile.c_str(), kel::console::kInitialAccountName);
            std::printf("kelconsole: its password (shown only now): %s\n", password.c_str());
            std::fflush(stdout);
            break;
        case kel::console::AccountFileState::kExisting:
            break;
    }

    // Whether German and French pages can be served is told now, not at the first request.
    kel::console::LanguageAvailable("de");

    kel::console::PluginSet plugins;
    if (!plugins.LoadDirectory(line.pluginDirectory, stderr, &error)) {
        if (line.pluginDirectoryGiven) {
            kel::console::Say(stderr, error);
            return 1;
        }
        kel::console::Say(stderr, error + "; serving without plug-ins");
    }

    std::unique_ptr<kel::console::Server> server = kel::console::Server::Start(line.server, &error);
    if (server == nullptr) {
        kel::console::Say(stderr, error);
        plugins.UnloadAll(stderr);
        return 1;
    }
    std::printf("kelconsole: serving %s/ (%zu plug-in%s, %zu page%s)\n", server->url().c_str(),
                plugins.size(), plugins.size() == 1 ? "" : "s",
                kel::console::Registry::Global().size(),
                kel::console::Registry::Global().size() == 1 ? "" : "s");
    std::fflush(stdout);

    int signal = 0;
    while (sigwait(&stop, &signal) != 0) {
    }
    std::fprintf(stderr, "kelconsole: %s received, stopping\n", strsignal(signal));
    server->Stop();
    server.reset();
    plugins.UnloadAll(stderr);
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    kel::console::SetUpProcessLocale();
    std::vector<std::string> arguments(argv + 1, argv + argc);
    CommandLine line;
    std::string error;
    if (!kel::console::ParseCommandLine(arguments, &line, &error)) {
        kel::console::Say(stderr, error);
        std::fputs(kel::console::Usage(), stderr);
        return kExitUsage;
    }
    if (!kel::console::ApplyConfigFile(arguments, &line, &error)) {
        kel::console::Say(stderr, error);
        return kExitUsage;
    }
    switch (line.command) {
        case CommandLine::Command::kHelp:
            std::fputs(kel::console::Usage(), stdout);
            return 0;
        case CommandLine::Command::kVersion:
            std::puts(kel::console::VersionLine());
            return 0;
        case CommandLine::Command::kPasswd:
            return RunPasswd(line);
        case CommandLine::Command::kToken:
            return RunToken(line);
        case CommandLine::Command::kServe:
            break;
    }
    return RunServer(line);
}
