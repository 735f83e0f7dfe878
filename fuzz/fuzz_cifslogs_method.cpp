// fuzz_cifslogs_method: cifsLogsMethod with a request and log directory chosen by the input.
//
// The input chooses the access word (decline bits included), the request method, host failures,
// the log level (which decides whether the debug logs are listed), the path (any bytes, or
// "/cifslogs" followed by help-like components and free text), the posted body, and the log
// directory below the scratch root: missing, a directory, or a symbolic link to one, holding each
// listed log as a missing file, a sparse file of any size up to terabytes, or a directory.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

#include "fuzz/harness.h"
#include "logs/logs.h"
#include "plugin/paths.h"
#include "plugin/request.h"

namespace kel2cifs::fuzz {
namespace {

constexpr std::size_t kMaxPath = 1400;
constexpr std::size_t kMaxComponent = 300;
constexpr std::size_t kMaxBody = 2048;
constexpr const char *kLogFiles[] = {"cifstcp.log", "libkel2cifs.log", "cifs.log"};

std::string BuildPath(FuzzedDataProvider &in) {
    const uint8_t mode = in.ConsumeIntegral<uint8_t>();
    if (mode < 32) {
        return Text(in, kMaxPath);
    }
    std::string path = "/cifslogs";
    if (mode < 64) {
        return path + Text(in, kMaxPath);
    }
    const std::size_t components = in.ConsumeIntegralInRange<std::size_t>(0, 4);
    for (std::size_t i = 0; i < components; ++i) {
        path += '/';
        path += OneOf(in, {"help", "HeLp", "h", "", "_info_"}, kMaxComponent);
    }
    if (in.ConsumeBool()) {
        path += '/';
    }
    return path;
}

// A file size of every order of magnitude the page names: bytes, KB, MB, GB, TB.
off_t FileSize(FuzzedDataProvider &in) {
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
        case 0:
            return in.ConsumeIntegralInRange<off_t>(0, 4096);
        case 1:
            return in.ConsumeIntegralInRange<off_t>(0, off_t{1} << 32);
        default:
            // Sparse: no blocks are written, so even terabytes cost nothing.
            return in.ConsumeIntegralInRange<off_t>(0, off_t{1} << 43);
    }
}

void BuildLogDirectory(FuzzedDataProvider &in) {
    namespace fs = std::filesystem;
    std::error_code ignored;
    const fs::path directory = LogDirectoryPath();
    const fs::path real = Root() + "/real-log";
    fs::remove_all(directory, ignored);
    fs::remove_all(real, ignored);
    fs::create_directories(directory.parent_path(), ignored);

    const int layout = in.ConsumeIntegralInRange<int>(0, 3);
    if (layout == 1) {
        return;  // no log directory at all
    }
    const fs::path target = layout == 2 ? real : directory;
    fs::create_directories(target, ignored);
    if (layout == 2) {
        fs::create_directory_symlink(real, directory, ignored);
    }
    for (const char *name : kLogFiles) {
        const fs::path file = target / name;
        switch (in.ConsumeIntegralInRange<int>(0, 3)) {
            case 1:
                break;  // missing
            case 2:
                fs::create_directory(file, ignored);
                break;
            default: {
                const int descriptor = open(file.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
                if (descriptor >= 0) {
                    if (ftruncate(descriptor, FileSize(in)) != 0) {
                        // The size the file system allows is listed instead; nothing to check.
                    }
                    close(descriptor);
                }
                break;
            }
        }
    }
}

}  // namespace
}  // namespace kel2cifs::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    using namespace kel2cifs::fuzz;
    Setup();
    ResetDoubles();
    FuzzedDataProvider in(data, size);
    const RequestChoice choice = ChooseRequest(in);
    ChooseLogLevel(in);
    BuildLogDirectory(in);
    const std::string path = BuildPath(in);
    const std::string body = Text(in, kMaxBody);
    {
        fake::Request request;
        Program(request, choice, path, body);
        const int status = fake::Serve(cifsLogsMethod, request, choice.access);
        Show(request, path, body, status);
        CheckServed(request, status);
        const bool declined = (choice.access & kel2cifs::kAccessDeclined) != 0;
        const int expected = declined ? 0 : choice.openSucceeds ? 200 : 500;
        Require(status == expected, "cifsLogsMethod returned " + std::to_string(status) +
                                        " instead of " + std::to_string(expected));
        if (declined) {
            Require(request.calls.empty(), "a declined request called the host");
        }
    }
    CheckMonitoring();
    ResetDoubles();
    return 0;
}
