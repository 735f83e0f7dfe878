// main.cpp: kelconsole, the console program.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include <pthread.h>
#include <termios.h>
#include <unistd.h>

#include "console/account_file.h"
#include "console/ascii.h"
#include "console/buffer.h"
#include "console/cli.h"
#include "console/language.h"
#include "console/password_hash.h"
#include "console/plugin_loader.h"
#include "console/registry.h"
#include "console/server.h"

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
        case CommandLine::Command::kServe:
            break;
    }
    return RunServer(line);
}
