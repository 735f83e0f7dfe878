// cifsmon-demo-gen: writes demo data for the demo monitoring backend (generator_flags.h).
//
// The file is replaced atomically under the state file's lock, so a console that is running
// against it sees the old data or the new, never a mix.
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <system_error>

#include "kel2cifs/build_config.h"
#include "monitoring/demo/demo_generator.h"
#include "monitoring/demo/generator_flags.h"
#include "monitoring/demo/state_json.h"
#include "monitoring/settings.h"
#include "monitoring/state_file.h"
#include "monitoring/status.h"

namespace {

int Fail(const std::string &message) {
    std::fprintf(stderr, "cifsmon-demo-gen: %s\n", message.c_str());
    return 1;
}

}  // namespace

int main(int argc, char **argv) {
    cifsmon::GeneratorFlags flags;
    std::string error;
    if (!cifsmon::ParseGeneratorFlags(argc, argv, &flags, &error)) {
        std::fprintf(stderr, "cifsmon-demo-gen: %s\n%s", error.c_str(), cifsmon::kGeneratorUsage);
        return 2;
    }
    if (flags.help) {
        std::fputs(cifsmon::kGeneratorUsage, stdout);
        return 0;
    }
    if (flags.version) {
        std::puts("cifsmon-demo-gen " KEL2CIFS_VERSION);
        return 0;
    }
    if (!flags.nowGiven) {
        flags.options.now = static_cast<uint64_t>(std::time(nullptr));
    }
    std::string output = flags.output.empty() ? cifsmon::ReadSettings().statePath : flags.output;
    if (flags.options.connections > UINT16_MAX) {
        std::fprintf(stderr,
                     "cifsmon-demo-gen: note: more than 65535 connections; connection numbers "
                     "start again at 1\n");
    }

    cifsmon::State state;
    if (!cifsmon::GenerateDemoState(flags.options, &state, &error)) {
        return Fail(error);
    }
    std::string content = cifsmon::SerializeState(state);

    std::filesystem::path parent = std::filesystem::path(output).parent_path();
    if (!parent.empty()) {
        std::error_code failure;
        std::filesystem::create_directories(parent, failure);
        if (failure) {
            return Fail("cannot create " + parent.string() + ": " + failure.message());
        }
    }
    cifsmon::StateFileLock lock;
    if (lock.Acquire(output, &error) != cifsmon::kStatusOk ||
        cifsmon::WriteFileAtomically(output, content, &error) != cifsmon::kStatusOk) {
        return Fail(error);
    }
    std::size_t opens = 0;
    for (const cifsmon::Connection &connection : state.connections) {
        for (const cifsmon::OpenFileGroup &group : connection.openFiles) {
            opens += group.paths.size();
        }
    }
    std::printf("cifsmon-demo-gen: wrote %zu volumes, %zu connections and %zu open files to %s\n",
                state.volumes.size(), state.connections.size(), opens, output.c_str());
    return 0;
}
