// cli.cpp: ParseCommandLine.
#include "console/cli.h"

#include <cstdlib>

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

}  // namespace

const char *Usage() {
    return "usage: kelconsole [OPTION...]\n"
           "       kelconsole passwd [--accounts=FILE] [--role=admin|none|0xWORD] NAME\n"
           "\n"
           "Serves the console: loads every *.so of the plug-in directory, serves until SIGINT\n"
           "or SIGTERM, then unloads them. Without an account file, one is created with the\n"
           "account \"admin\" and a random password, printed once.\n"
           "\n"
           "  --listen=ADDRESS[:PORT]   listening address (default 127.0.0.1:8080; [::1]:8080;\n"
           "                            port 0 picks a free port)\n"
           "  --port=PORT               listening port only\n"
           "  --plugins=DIR             plug-in directory (default ./plugins)\n"
           "  --accounts=FILE           account file (default $KEL2CIFS_ROOT/etc/opt/zantio/\n"
           "                            kelconsole/accounts, without KEL2CIFS_ROOT below /)\n"
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
           "\n"
           "passwd reads the password from the terminal (twice), or one line from standard input.\n"
           "It refuses a weak password and says why (libpwquality, without the system's\n"
           "pwquality.conf): at least 12 characters, no 4 same characters in a row or monotonic\n"
           "sequence of 5, no palindrome, not holding the account name, not based on a word of\n"
           "cracklib's dictionary.\n"
           "A new account gets --role (default admin: access 0x0000000b; none: 0); an existing\n"
           "one keeps its access unless --role is given.\n";
}

std::string DefaultAccountFile() {
    const char *root = std::getenv(kel2cifs_locations::kRootVariable);
    std::string base = root != nullptr ? root : "";
    while (!base.empty() && base.back() == '/') {
        base.pop_back();
    }
    return base + kDefaultAccountFile;
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
    std::size_t i = 0;
    if (!arguments.empty() && arguments[0] == "passwd") {
        line->command = CommandLine::Command::kPasswd;
        i = 1;
    }
    line->server.accountFile = DefaultAccountFile();
    line->server.logDirectory = DefaultLogDirectory();
    std::vector<std::string> positional;
    for (; i < arguments.size(); ++i) {
        const std::string &argument = arguments[i];
        if (argument == "--help" || argument == "-h") {
            line->command = CommandLine::Command::kHelp;
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
        if (!hasValue) {
            if (i + 1 >= arguments.size()) {
                *error = "--" + name + " needs a value";
                return false;
            }
            value = arguments[++i];
        }
        unsigned long long number = 0;
        const bool serving = line->command == CommandLine::Command::kServe;
        if (name == "accounts") {
            line->server.accountFile = value;
        } else if (name == "role" && !serving) {
            unsigned int access = 0;
            if (!ParseAccess(value, &access)) {
                *error = "--role is admin, none or an access word such as 0x0000000b";
                return false;
            }
            line->passwdAccess = access;
        } else if (!serving) {
            *error = "passwd takes --accounts and --role only";
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
    } else if (!positional.empty()) {
        *error = "unexpected argument " + positional[0];
        return false;
    }
    return true;
}

}  // namespace kel::console
