// cli.cpp: the command line and the configuration file under it.
#include "console/cli.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "console/account_file.h"
#include "console/file_viewer.h"
#include "kel2cifs/locations.h"

namespace kel::console {
namespace {

bool ParseUnsigned(const std::string &text, unsigned long long maximum, unsigned long long *out) {
    if (text.empty() || text.size() > 19) {
        return false;
    }
    unsigned long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > maximum) {
        return false;
    }
    *out = value;
    return true;
}

// `path` below $KEL2CIFS_ROOT when it is set.
std::string BelowRoot(const char *path) {
    const char *root = std::getenv(kel2cifs_locations::kRootVariable);
    std::string base = root != nullptr ? root : "";
    while (!base.empty() && base.back() == '/') {
        base.pop_back();
    }
    return base + path;
}

// The settings of the configuration file: the long options that take a value (but --config and
// passwd's --role), and allow-insecure-remote.
constexpr std::string_view kSettingNames[] = {"listen",
                                              "port",
                                              "plugins",
                                              "accounts",
                                              "state-dir",
                                              "tls-cert",
                                              "tls-key",
                                              "server-name",
                                              "threads",
                                              "max-connections",
                                              "connections-per-address",
                                              "header-timeout",
                                              "idle-timeout",
                                              "request-timeout",
                                              "session-idle",
                                              "session-lifetime",
                                              "sessions-per-account",
                                              "login-delay",
                                              "product-name",
                                              "allow-insecure-remote"};

bool IsSetting(std::string_view name) {
    for (std::string_view candidate : kSettingNames) {
        if (candidate == name) {
            return true;
        }
    }
    return false;
}

void SetDefaults(CommandLine *line) {
    line->server.accountFile = DefaultAccountFile();
    line->server.stateDirectory = DefaultStateDirectory();
    line->server.logDirectory = DefaultLogDirectory();
}

// One setting that takes a value, from the command line or the configuration file.
bool ApplyOption(const std::string &name, const std::string &value, CommandLine *line,
                 std::string *error) {
    unsigned long long number = 0;
    const bool serving = line->command == CommandLine::Command::kServe;
    const bool token = line->command == CommandLine::Command::kToken;
    if (name == "accounts") {
        line->server.accountFile = value;
    } else if (name == "state-dir" && (serving || token)) {
        if (value.empty()) {
            *error = "--state-dir needs a directory";
            return false;
        }
        line->server.stateDirectory = value;
    } else if (name == "role" && token) {
        if (value != "admin" && value != "read") {
            *error = "a token's --role is admin or read";
            return false;
        }
        line->passwdAccess = value == "admin" ? kAdministratorAccess : kReadAccess;
    } else if (name == "role" && !serving) {
        unsigned int access = 0;
        if (!ParseAccess(value, &access)) {
            *error = "--role is admin, read, none or an access word such as 0x0000000b";
            return false;
        }
        line->passwdAccess = access;
    } else if (token) {
        *error = "token takes --config, --accounts, --state-dir and --role only";
        return false;
    } else if (!serving) {
        *error = "passwd takes --config, --accounts and --role only";
        return false;
    } else if (name == "listen") {
        if (!ParseListen(value, &line->server.address, &line->server.port)) {
            *error = "--listen is ADDRESS[:PORT], such as 127.0.0.1:8080 or [::1]:8080";
            return false;
        }
    } else if (name == "port") {
        if (!ParseUnsigned(value, 65535, &number)) {
            *error = "--port is 0 to 65535";
            return false;
        }
        line->server.port = static_cast<std::uint16_t>(number);
    } else if (name == "plugins") {
        line->pluginDirectory = value;
        line->pluginDirectoryGiven = true;
    } else if (name == "tls-cert") {
        line->server.certificateFile = value;
    } else if (name == "tls-key") {
        line->server.keyFile = value;
    } else if (name == "server-name") {
        line->server.serverNames.push_back(value);
    } else if (name == "product-name") {
        line->server.productName = value;
    } else if (name == "threads" || name == "max-connections" ||
               name == "connections-per-address") {
        if (!ParseUnsigned(value, 1024, &number) || number == 0) {
            *error = "--" + name + " is 1 to 1024";
            return false;
        }
        (name == "threads"           ? line->server.threads
         : name == "max-connections" ? line->server.connectionLimit
                                     : line->server.connectionsPerAddress) =
            static_cast<unsigned>(number);
    } else if (name == "idle-timeout" || name == "request-timeout" || name == "session-idle" ||
               name == "header-timeout" || name == "session-lifetime") {
        if (!ParseUnsigned(value, 7 * 24 * 3600, &number) || number == 0) {
            *error = "--" + name + " is a number of seconds, 1 or more";
            return false;
        }
        std::chrono::seconds seconds(static_cast<long long>(number));
        if (name == "idle-timeout") {
            line->server.idleTimeout = seconds;
        } else if (name == "request-timeout") {
            line->server.requestTimeout = seconds;
        } else if (name == "header-timeout") {
            line->server.headTimeout = seconds;
        } else if (name == "session-idle") {
            line->server.sessionIdle = seconds;
        } else {
            line->server.sessionLifetime = seconds;
        }
    } else if (name == "sessions-per-account") {
        if (!ParseUnsigned(value, 1000, &number) || number == 0) {
            *error = "--sessions-per-account is 1 to 1000";
            return false;
        }
        line->server.maxSessionsPerAccount = static_cast<std::size_t>(number);
    } else if (name == "login-delay") {
        if (!ParseUnsigned(value, 60000, &number)) {
            *error = "--login-delay is 0 to 60000 milliseconds";
            return false;
        }
        line->server.loginDelay = std::chrono::milliseconds(static_cast<long long>(number));
    } else {
        *error = "unknown option --" + name;
        return false;
    }
    return true;
}

// The options of `arguments` over what *line holds.
bool ApplyArguments(const std::vector<std::string> &arguments, CommandLine *line,
                    std::string *error) {
    std::size_t i = 0;
    if (!arguments.empty() && arguments[0] == "passwd") {
        line->command = CommandLine::Command::kPasswd;
        i = 1;
    } else if (!arguments.empty() && arguments[0] == "token") {
        line->command = CommandLine::Command::kToken;
        const std::string action = arguments.size() > 1 ? arguments[1] : "";
        if (action == "create") {
            line->tokenAction = CommandLine::TokenAction::kCreate;
        } else if (action == "list") {
            line->tokenAction = CommandLine::TokenAction::kList;
        } else if (action == "revoke") {
            line->tokenAction = CommandLine::TokenAction::kRevoke;
        } else {
            *error = "token needs create, list or revoke";
            return false;
        }
        i = 2;
    }
    std::vector<std::string> positional;
    for (; i < arguments.size(); ++i) {
        const std::string &argument = arguments[i];
        if (argument == "--help" || argument == "-h") {
            line->command = CommandLine::Command::kHelp;
            return true;
        }
        if (argument == "--version") {
            line->command = CommandLine::Command::kVersion;
            return true;
        }
        if (!argument.starts_with("--")) {
            positional.push_back(argument);
            continue;
        }
        std::string name = argument.substr(2);
        std::string value;
        bool hasValue = false;
        if (const std::size_t equals = name.find('='); equals != std::string::npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
            hasValue = true;
        }
        if (name == "allow-insecure-remote") {
            line->server.allowInsecureRemote = true;
            continue;
        }
        if (!IsSetting(name) && name != "config" && name != "role") {
            *error = "unknown option --" + name;
            return false;
        }
        if (!hasValue) {
            if (i + 1 >= arguments.size()) {
                *error = "--" + name + " needs a value";
                return false;
            }
            value = arguments[++i];
        }
        if (name == "config") {
            if (value.empty()) {
                *error = "--config needs a file";
                return false;
            }
            line->configFile = value;
        } else if (!ApplyOption(name, value, line, error)) {
            return false;
        }
    }
    if (line->command == CommandLine::Command::kPasswd) {
        if (positional.size() != 1) {
            *error = "passwd needs one account NAME";
            return false;
        }
        line->passwdName = positional[0];
        if (!IsValidAccountName(line->passwdName)) {
            *error = "an account name is 1 to 64 letters, digits, '.', '_' or '-'";
            return false;
        }
    } else if (line->command == CommandLine::Command::kToken &&
               line->tokenAction != CommandLine::TokenAction::kList) {
        if (positional.size() != 1) {
            *error = "token create and token revoke need one token NAME";
            return false;
        }
        line->tokenName = positional[0];
        if (!IsValidAccountName(line->tokenName)) {
            *error = "a token name is 1 to 64 letters, digits, '.', '_' or '-'";
            return false;
        }
    } else if (!positional.empty()) {
        *error = "unexpected argument " + positional[0];
        return false;
    }
    return true;
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

// Reads a file of at most kMaxConfigFileSize bytes; false with *error (errno in *code).
bool ReadSmallFile(const std::string &path, std::string *text, int *code, std::string *error) {
    if (ReadWholeFile(path, kMaxConfigFileSize, text, code)) {
        return true;
    }
    *error = *code == EFBIG
                 ? path + ": longer than " + std::to_string(kMaxConfigFileSize) + " bytes"
                 : "cannot read " + path + ": " + std::strerror(*code);
    return false;
}

}  // namespace

const char *Usage() {
    return "usage: kelconsole [--config=FILE] [OPTION...]\n"
           "       kelconsole passwd [--config=FILE] [--accounts=FILE]\n"
           "                         [--role=admin|read|none|0xWORD] NAME\n"
           "       kelconsole token create [--role=admin|read] NAME\n"
           "       kelconsole token list\n"
           "       kelconsole token revoke NAME\n"
           "       kelconsole --version\n"
           "\n"
           "Serves the console: loads every *.so of the plug-in directory, serves until SIGINT\n"
           "or SIGTERM, then unloads them. Without an account file, one is created with the\n"
           "account \"admin\" and a random password, printed once.\n"
           "\n"
           "  --config=FILE             configuration file: the long options below as\n"
           "                            \"NAME = VALUE\" lines (allow-insecure-remote = yes),\n"
           "                            \"#\" comments; the command line wins over it (default\n"
           "                            $KEL2CIFS_ROOT/etc/opt/zantio/kelconsole/kelconsole.conf\n"
           "                            when it exists)\n"
           "  --listen=ADDRESS[:PORT]   listening address (default 127.0.0.1:8080; [::1]:8080;\n"
           "                            port 0 picks a free port)\n"
           "  --port=PORT               listening port only\n"
           "  --plugins=DIR             plug-in directory (default\n"
           "                            " KELCONSOLE_PLUGIN_DIRECTORY
           ")\n"
           "  --accounts=FILE           account file (default $KEL2CIFS_ROOT/etc/opt/zantio/\n"
           "                            kelconsole/accounts, without KEL2CIFS_ROOT below /)\n"
           "  --state-dir=DIR           the console's state: the audit trail, audit.db (default\n"
           "                            $KEL2CIFS_ROOT/var/opt/zantio/kelconsole)\n"
           "  --tls-cert=FILE           TLS certificate (PEM); needs --tls-key\n"
           "  --tls-key=FILE            TLS private key (PEM)\n"
           "  --allow-insecure-remote   listen on a non-loopback address without TLS\n"
           "  --server-name=NAME        another host name the console answers to (repeatable);\n"
           "                            a wildcard --listen address (0.0.0.0, ::) needs one,\n"
           "                            or a TLS certificate naming the host\n"
           "  --threads=N               request threads (default 4)\n"
           "  --max-connections=N       connections at once (default 64)\n"
           "  --connections-per-address=N\n"
           "                            connections at once from one client address (default\n"
           "                            16)\n"
           "  --header-timeout=SECONDS  close a connection whose request head has not arrived\n"
           "                            this long after it opened or its last answer (default\n"
           "                            10)\n"
           "  --idle-timeout=SECONDS    close a connection idle this long (default 60)\n"
           "  --request-timeout=SECONDS longest time to receive one request (default 120)\n"
           "  --session-idle=SECONDS    end a session unused this long (default 1800)\n"
           "  --session-lifetime=SECONDS\n"
           "                            end a session this long after its login, however\n"
           "                            much it is used (default 43200, 12 hours)\n"
           "  --sessions-per-account=N  sessions one account holds at once (default 8, at most\n"
           "                            1000); a further login ends the least recently used\n"
           "                            of them\n"
           "  --login-delay=MS          wait after a failed login, doubled per failure (default\n"
           "                            1000, at most 60000), for the address and for the\n"
           "                            account name; a name that failed takes one attempt per\n"
           "                            3 * MS from addresses that have not failed\n"
           "  --product-name=TEXT       name shown in the page header (default Kel Console)\n"
           "  --help                    this text\n"
           "  --version                 the version\n"
           "\n"
           "passwd reads the password from the terminal (twice), or one line from standard input.\n"
           "It refuses a weak password and says why (libpwquality, without the system's\n"
           "pwquality.conf): at least 12 characters, no 4 same characters in a row or monotonic\n"
           "sequence of 5, no palindrome, not holding the account name, not based on a word of\n"
           "cracklib's dictionary.\n"
           "A new account gets --role (default admin: access 0x0000000b; read: 0x00000009, may\n"
           "look but not change; none: 0); an existing one keeps its access unless --role is\n"
           "given.\n"
           "\n"
           "token create prints a new API token (\"kel_\" and 64 hexadecimal digits) once and\n"
           "keeps only its SHA-256, in the file \"tokens\" beside the account file; --role is\n"
           "read (default) or admin. token list shows the tokens (name, role, when made, last\n"
           "four characters); token revoke NAME removes one, at once for a running console.\n"
           "Scripts send it as \"Authorization: Bearer TOKEN\" and reach the data pages and the\n"
           "audit trail with format=json or format=csv. create and revoke are recorded in the\n"
           "audit trail of --state-dir.\n";
}

const char *VersionLine() {
    return "kelconsole " KEL2CIFS_VERSION;
}

std::string DefaultAccountFile() {
    return BelowRoot(kDefaultAccountFile);
}

std::string DefaultConfigFile() {
    return BelowRoot(kDefaultConfigFile);
}

std::string DefaultStateDirectory() {
    return BelowRoot(kDefaultStateDirectory);
}

bool ParseListen(const std::string &text, std::string *address, std::uint16_t *port) {
    std::string host = text;
    std::string portText;
    bool hasPort = false;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string::npos) {
            return false;
        }
        host = text.substr(1, close - 1);
        const std::string rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') {
                return false;
            }
            portText = rest.substr(1);
            hasPort = true;
        }
    } else if (const std::size_t colon = text.find(':');
               colon != std::string::npos && text.find(':', colon + 1) == std::string::npos) {
        host = text.substr(0, colon);  // one colon: ADDRESS:PORT; more: a bare IPv6 address
        portText = text.substr(colon + 1);
        hasPort = true;
    }
    unsigned long long value = 0;
    if (host.empty() || (hasPort && !ParseUnsigned(portText, 65535, &value))) {
        return false;
    }
    *address = host;
    if (hasPort) {
        *port = static_cast<std::uint16_t>(value);
    }
    return true;
}

bool ParseCommandLine(const std::vector<std::string> &arguments, CommandLine *line,
                      std::string *error) {
    SetDefaults(line);
    return ApplyArguments(arguments, line, error);
}

bool ApplyConfigText(const std::string &path, std::string_view text, CommandLine *line,
                     std::string *error) {
    CommandLine settings = *line;
    settings.command = CommandLine::Command::kServe;
    std::size_t number = 0;
    while (!text.empty()) {
        ++number;
        const std::size_t end = text.find('\n');
        const std::string_view raw = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        const std::string where = path + ":" + std::to_string(number) + ": ";
        const std::string_view content = TrimBlanks(raw);
        if (content.empty() || content.front() == '#') {
            continue;
        }
        const std::size_t equals = content.find('=');
        if (equals == std::string_view::npos) {
            *error = where + "not a setting: NAME = VALUE, such as listen = 127.0.0.1:8080";
            return false;
        }
        const std::string name(TrimBlanks(content.substr(0, equals)));
        const std::string value(TrimBlanks(content.substr(equals + 1)));
        if (!IsSetting(name)) {
            *error = where + "unknown setting \"" + name + "\"";
            return false;
        }
        if (value.empty()) {
            *error = where + name + " needs a value";
            return false;
        }
        if (name == "allow-insecure-remote") {
            if (value != "yes" && value != "no") {
                *error = where + "allow-insecure-remote is yes or no";
                return false;
            }
            settings.server.allowInsecureRemote = value == "yes";
            continue;
        }
        std::string problem;
        if (!ApplyOption(name, value, &settings, &problem)) {
            // The option's own message, with the setting's name as the file spells it.
            *error = where + (problem.starts_with("--") ? problem.substr(2) : problem);
            return false;
        }
    }
    settings.command = line->command;
    *line = std::move(settings);
    return true;
}

bool ApplyConfigFile(const std::vector<std::string> &arguments, CommandLine *line,
                     std::string *error) {
    if (line->command == CommandLine::Command::kHelp ||
        line->command == CommandLine::Command::kVersion) {
        return true;
    }
    const bool given = !line->configFile.empty();
    const std::string path = given ? line->configFile : DefaultConfigFile();
    std::string text;
    int code = 0;
    if (!ReadSmallFile(path, &text, &code, error)) {
        if (!given && code == ENOENT) {
            error->clear();
            return true;  // the default file is optional
        }
        return false;
    }
    CommandLine fromFile;
    SetDefaults(&fromFile);
    if (!ApplyConfigText(path, text, &fromFile, error)) {
        return false;
    }
    CommandLine merged;
    if (line->command == CommandLine::Command::kServe) {
        merged = fromFile;
        // Host names given on the command line replace the file's rather than add to them.
        if (!line->server.serverNames.empty()) {
            merged.server.serverNames.clear();
        }
    } else {
        SetDefaults(&merged);
        merged.server.accountFile = fromFile.server.accountFile;
        merged.server.stateDirectory = fromFile.server.stateDirectory;
    }
    // The arguments were accepted once already, so they are accepted again.
    if (!ApplyArguments(arguments, &merged, error)) {
        return false;
    }
    merged.configFile = path;
    *line = std::move(merged);
    return true;
}

}  // namespace kel::console
