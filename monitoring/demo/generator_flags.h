// generator_flags.h: the command line of cifsmon-demo-gen.
#ifndef CIFSMONITORING_GENERATOR_FLAGS_H
#define CIFSMONITORING_GENERATOR_FLAGS_H

#include <string>

#include "monitoring/demo/demo_generator.h"

namespace cifsmon {

inline constexpr char kGeneratorUsage[] =
    "usage: cifsmon-demo-gen [--output PATH] [--volumes N] [--connections N] [--files N]\n"
    "                        [--seed N] [--now SECONDS]\n"
    "       cifsmon-demo-gen --help | --version\n"
    "Writes made-up CIFS server data for the demo monitoring backend into a state file.\n"
    "  --output PATH      the state file (default: the one the library reads, from\n"
    "                     CIFSMONITORING_STATE or below KEL2CIFS_ROOT)\n"
    "  --volumes N        volumes (default 4)\n"
    "  --connections N    connections (default 36)\n"
    "  --files N          open files over all volumes and connections (default 300)\n"
    "  --seed N           the random seed (default 1)\n"
    "  --now SECONDS      login times lie in the week before this time, in seconds since\n"
    "                     1970-01-01 UTC (default: the current time)\n"
    "  --help             this text\n"
    "  --version          the version\n"
    "The same flags give the same file, byte for byte.\n";

struct GeneratorFlags {
    GeneratorOptions options;
    std::string output;     // empty: the library's state file
    bool nowGiven = false;  // false: options.now is to be set to the current time
    bool help = false;
    bool version = false;
};

// Parses argv[1..argc) ("--name VALUE" or "--name=VALUE"; numbers are decimal without a sign).
// Returns false with *error for an unknown flag, a missing value or a value that is not a
// number in range.
[[nodiscard]] bool ParseGeneratorFlags(int argc, const char *const *argv, GeneratorFlags *flags,
                                       std::string *error);

}  // namespace cifsmon

#endif  // CIFSMONITORING_GENERATOR_FLAGS_H
