// demo_generator.h: made-up but realistic server data for the demo backend.
//
// Volumes, connections of Active Directory and Ravelin users (IPv4 addresses, traffic, request
// counts, logins in the week before `now`, mostly "Logged-In"), and open office files with
// server paths below each volume's directory, some with blanks, accents and HTML-special
// characters in their names; exactly one open file is named kTrapFileName. The output depends
// on the options alone: the same options give the same state, byte for byte once serialised.
// Time and memory grow linearly with the sizes.
#ifndef CIFSMONITORING_DEMO_GENERATOR_H
#define CIFSMONITORING_DEMO_GENERATOR_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "monitoring/state.h"

namespace cifsmon {

// A file name that a page writing names into HTML unescaped would run as a script.
inline constexpr char kTrapFileName[] = "<img src=x onerror=alert(1)>.doc";

struct GeneratorOptions {
    std::size_t volumes = 4;
    std::size_t connections = 36;
    std::size_t files = 300;  // open files in all, over all volumes and connections
    uint64_t seed = 1;
    uint64_t now = 0;  // seconds since 1970-01-01 UTC; login times lie in the week before it
};

// Fills *state. Connection numbers run from 1 and start again at 1 after 65535 (the
// interface's numbers are 16-bit). About one open file in 25 is a file that another connection
// holds open as well. Returns false with *error when files are asked for without a volume or a
// connection to hold them.
[[nodiscard]] bool GenerateDemoState(const GeneratorOptions &options, State *state,
                                     std::string *error);

}  // namespace cifsmon

#endif  // CIFSMONITORING_DEMO_GENERATOR_H
