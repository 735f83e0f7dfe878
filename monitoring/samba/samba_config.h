// samba_config.h: what the backend takes from the server's configuration, as `testparm -s`
// prints it.
//
// testparm prints each section as "[name]" followed by "\tparameter = value" lines, with only
// the parameters that differ from their defaults, and canonical parameter names. Its
// diagnostics ("Load smb config files from ...") go to standard error and are not parsed.
#ifndef CIFSMONITORING_SAMBA_CONFIG_H
#define CIFSMONITORING_SAMBA_CONFIG_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cifsmon {

struct SambaShare {
    std::string name;
    std::string path;  // as configured; may hold substitutions such as %U
};

struct IdRange {
    uint64_t low = 0;
    uint64_t high = 0;
};

struct SambaConfig {
    // The file shares, in configuration order: every section but [global], [homes] (a template
    // whose shares are named after their users), [printers], IPC$ and the print shares.
    std::vector<SambaShare> shares;
    std::string netbiosName;       // "netbios name", upper-cased; empty when not set
    char winbindSeparator = '\\';  // "winbind separator"
    // Unix ids that idmap hands out to domain accounts: every "idmap config <domain> : range"
    // and the older "idmap uid" range.
    std::vector<IdRange> idmapRanges;
    // "clustering": smbd is a node of a CTDB cluster; "ctdbd socket": where its ctdbd listens
    // (empty: the ctdb tool's default).
    bool clustering = false;
    std::string ctdbdSocket;
};

// Parses testparm's output. False (and *error) when it holds no [global] section, which
// testparm always prints, or a line that is neither a section, a parameter, a comment nor
// blank.
[[nodiscard]] bool ParseTestparmOutput(std::string_view text, SambaConfig *config,
                                       std::string *error);

// The path without repeated or trailing slashes ("/" stays "/"), the form in which the server
// reports the directory it serves.
std::string NormalizeSharePath(std::string_view path);

}  // namespace cifsmon

#endif  // CIFSMONITORING_SAMBA_CONFIG_H
