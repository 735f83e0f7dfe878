// cli.h: kelconsole's command line.
//
//   kelconsole [OPTION...]                 serve the console
//   kelconsole passwd [OPTION...] NAME     set the password of account NAME (created if missing)
//
// Options take their value after "=" or as the next argument; see Usage() for the list.
#ifndef KEL_CONSOLE_CLI_H
#define KEL_CONSOLE_CLI_H

#include <optional>
#include <string>
#include <vector>

#include "console/server.h"

namespace kel::console {

inline constexpr char kDefaultPluginDirectory[] = "plugins";
// Below $KEL2CIFS_ROOT when it is set.
inline constexpr char kDefaultAccountFile[] = "/etc/opt/zantio/kelconsole/accounts";

struct CommandLine {
    enum class Command { kServe, kPasswd, kHelp } command = Command::kServe;
    ServerOptions server;
    std::string pluginDirectory = kDefaultPluginDirectory;
    bool pluginDirectoryGiven = false;
    std::string passwdName;                    // kPasswd
    std::optional<unsigned int> passwdAccess;  // kPasswd: --role
};

// The account file used when none is given.
std::string DefaultAccountFile();

// Parses argv; false with *error on a usage error.
bool ParseCommandLine(const std::vector<std::string> &arguments, CommandLine *line,
                      std::string *error);
// Splits "ADDRESS[:PORT]" ("[v6]:PORT" for IPv6; a bare IPv6 address has no port).
bool ParseListen(const std::string &text, std::string *address, std::uint16_t *port);

const char *Usage();

}  // namespace kel::console

#endif  // KEL_CONSOLE_CLI_H
