// replay_main.cpp: runs a fuzz harness on saved inputs, without libFuzzer.
//
//   <target>_replay PATH...
//
// Each PATH is a file, or a directory whose regular files are replayed in name order; a PATH
// that does not exist is skipped (a target may have no regressions yet). Each input is copied
// into a heap block of exactly its size, as libFuzzer hands it over, and passed to
// LLVMFuzzerTestOneInput. A harness that finds a fault aborts; otherwise the exit status is 0
// when at least one input ran, 1 when none did or a file could not be read.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size);

namespace {

namespace fs = std::filesystem;

bool Replay(const fs::path &file) {
    std::ifstream stream(file, std::ios::binary);
    if (!stream) {
        std::fprintf(stderr, "cannot read %s\n", file.c_str());
        return false;
    }
    const std::string bytes((std::istreambuf_iterator<char>(stream)),
                            std::istreambuf_iterator<char>());
    std::fprintf(stderr, "replaying %s (%zu bytes)\n", file.c_str(), bytes.size());
    std::unique_ptr<uint8_t[]> block(new uint8_t[bytes.size() == 0 ? 1 : bytes.size()]);
    std::memcpy(block.get(), bytes.data(), bytes.size());
    LLVMFuzzerTestOneInput(block.get(), bytes.size());
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    std::size_t replayed = 0;
    bool readable = true;
    for (int i = 1; i < argc; ++i) {
        const fs::path path = argv[i];
        std::error_code error;
        if (fs::is_regular_file(path, error)) {
            readable = Replay(path) && readable;
            ++replayed;
            continue;
        }
        if (!fs::is_directory(path, error)) {
            continue;
        }
        std::vector<fs::path> files;
        for (const fs::directory_entry &entry : fs::directory_iterator(path, error)) {
            // Notes kept beside the inputs (README.md) are not inputs.
            if (entry.is_regular_file() && entry.path().extension() != ".md") {
                files.push_back(entry.path());
            }
        }
        std::sort(files.begin(), files.end());
        for (const fs::path &file : files) {
            readable = Replay(file) && readable;
            ++replayed;
        }
    }
    std::fprintf(stderr, "%zu inputs replayed\n", replayed);
    return readable && replayed > 0 ? 0 : 1;
}
