// cli.h: kelconsole's command line.
//
//   kelconsole [OPTION...]                 serve the console
//   kelconsole passwd [OPTION...] NAME     set the password of account NAME (created if missing)
//   kelconsole token create|list|revoke [OPTION...] [NAME]   the API tokens (tokens.h)
//   kelconsole --version                   print the version
//
// Options take their value after "=" or as the next argument; see Usage() for the list. The
// configuration file (kDefaultConfigFile, or --config=FILE) holds the same settings as the long
// options, one "NAME = VALUE" a line; options given on the command line win over it.
#ifndef KEL_CONSOLE_CLI_H
#define KEL_CONSOLE_CLI_H

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "console/server.h"
#include "kel2cifs/build_config.h"

namespace kel::console {

// The installed plug-in directory, chosen when the console is built.
inline constexpr char kDefaultPluginDirectory[] = KELCONSOLE_PLUGIN_DIRECTORY;
// Both below $KEL2CIFS_ROOT when it is set.
inline constexpr char kDefaultAccountFile[] = "/etc/opt/zantio/kelconsole/accounts";
inline constexpr char kDefaultConfigFile[] = "/etc/opt/zantio/kelconsole/kelconsole.conf";
// The console's state (the audit trail), below $KEL2CIFS_ROOT when it is set.
inline constexpr char kDefaultStateDirectory[] = "/var/opt/zantio/kelconsole";
// The configuration file is read whole; a longer one is refused.
inline constexpr std::size_t kMaxConfigFileSize = 1 << 20;

struct CommandLine {
    enum class Command { kServe, kPasswd, kToken, kHelp, kVersion } command = Command::kServe;
    enum class TokenAction { kCreate, kList, kRevoke } tokenAction = TokenAction::kList;
    ServerOptions server;
    std::string pluginDirectory = kDefaultPluginDirectory;
    bool pluginDirectoryGiven = false;
    std::string passwdName;                    // kPasswd
    std::optional<unsigned int> passwdAccess;  // kPasswd and kToken: --role
    std::string tokenName;                     // kToken: create and revoke
    std::string configFile;                    // --config, or empty
};

// The account file, the configuration file and the state directory used when none is given.
std::string DefaultAccountFile();
std::string DefaultConfigFile();
std::string DefaultStateDirectory();

// Parses argv alone; false with *error on a usage error.
bool ParseCommandLine(const std::vector<std::string> &arguments, CommandLine *line,
                      std::string *error);
// Applies the configuration file's settings `text` (read from `path`) to *line; false with
// *error ("PATH:LINE: what") for a line that is not "NAME = VALUE", an unknown name or a bad
// value. Lines that are empty or start with "#" (after blanks) are skipped.
bool ApplyConfigText(const std::string &path, std::string_view text, CommandLine *line,
                     std::string *error);
// The whole command line: the configuration file (--config=FILE, which must exist, or
// DefaultConfigFile() when it exists) under the options of `arguments`, which ParseCommandLine
// has accepted into *line already. passwd takes the account file only from the configuration,
// token the account file and the state directory.
// False with *error when the file cannot be read or holds an error.
bool ApplyConfigFile(const std::vector<std::string> &arguments, CommandLine *line,
                     std::string *error);
// Splits "ADDRESS[:PORT]" ("[v6]:PORT" for IPv6; a bare IPv6 address has no port).
bool ParseListen(const std::string &text, std::string *address, std::uint16_t *port);

const char *Usage();
// "kelconsole VERSION", the version of the project that built it.
const char *VersionLine();

}  // namespace kel::console

#endif  // KEL_CONSOLE_CLI_H
