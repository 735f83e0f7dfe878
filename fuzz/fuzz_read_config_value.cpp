// fuzz_read_config_value: ReadConfigFileValue on any file contents.
//
// The contents are written to one file in the scratch root (created once per run). The input
// also chooses the key (the three the load routine asks for, or any text), the capacity (small,
// or any int including 0 and negative values), and the default (none, a usual one, or any text).
// The value buffer is a heap block of exactly the capacity, filled with a guard byte. Checked: a
// value is copied only when it fits, terminated within the capacity, and is the default or a
// word of the file that follows the key; when it does not fit the buffer is untouched and the
// capacity asked for is larger; no value at all only without a default.
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz/harness.h"
#include "plugin/config.h"

namespace kel2cifs::fuzz {
namespace {

constexpr std::size_t kMaxKey = 40;
constexpr std::size_t kMaxDefault = 120;
// The largest block handed over: a value is at most one line, and a line at most 511 bytes.
constexpr int kLargestBlock = 1024;
constexpr char kGuard = 'Z';

void WriteFile(const std::string &path, const std::string &contents) {
    FILE *file = std::fopen(path.c_str(), "wb");
    Require(file != nullptr, "cannot write " + path);
    Require(std::fwrite(contents.data(), 1, contents.size(), file) == contents.size(),
            "cannot write " + path);
    std::fclose(file);
}

bool HasBlank(const char *text) {
    for (; *text != '\0'; ++text) {
        if (std::isspace(static_cast<unsigned char>(*text))) {
            return true;
        }
    }
    return false;
}

}  // namespace
}  // namespace kel2cifs::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    using namespace kel2cifs;
    using namespace kel2cifs::fuzz;
    Setup();
    static const std::string path = Root() + "/libkel2cifs.conf";

    FuzzedDataProvider in(data, size);
    const std::string key =
        OneOf(in, {kKeyLogLevel, kKeyLogMaximumFileSize, kKeyLogTimestamps}, kMaxKey);
    int limit = in.ConsumeIntegral<uint8_t>() < 200 ? in.ConsumeIntegralInRange<int>(1, 80)
                                                    : in.ConsumeIntegral<int>();
    const bool hasDefault = in.ConsumeBool();
    const std::string defaultValue =
        hasDefault
            ? OneOf(in, {kDefaultLogLevel, kDefaultLogMaximumFileSize, kDefaultLogTimestamps},
                    kMaxDefault)
            : std::string();
    const std::string contents = in.ConsumeRemainingBytesAsString();
    WriteFile(path, contents);

    const int capacity = std::clamp(limit, 0, kLargestBlock);
    std::unique_ptr<char[]> value(new char[capacity == 0 ? 1 : capacity]);
    std::memset(value.get(), kGuard, capacity == 0 ? 1 : capacity);
    std::unique_ptr<char[]> keyBlock(new char[key.size() + 1]);
    std::memcpy(keyBlock.get(), key.c_str(), key.size() + 1);
    std::unique_ptr<char[]> defaultBlock(new char[defaultValue.size() + 1]);
    std::memcpy(defaultBlock.get(), defaultValue.c_str(), defaultValue.size() + 1);

    const int asked = limit;
    const int result = ReadConfigFileValue(path.c_str(), keyBlock.get(), value.get(), &limit,
                                           hasDefault ? defaultBlock.get() : nullptr);
    const std::string what = " for key \"" + key + "\" and capacity " + std::to_string(asked);
    switch (result) {
        case kConfigOk: {
            Require(asked > 0, "a value was copied into a capacity of " + std::to_string(asked));
            const std::size_t length = strnlen(value.get(), static_cast<std::size_t>(capacity));
            Require(length < static_cast<std::size_t>(capacity),
                    "the value is not terminated within its capacity" + what);
            const std::string copied(value.get(), length);
            if (!(hasDefault && copied == defaultBlock.get())) {
                Require(!copied.empty() && !HasBlank(copied.c_str()),
                        "the value \"" + copied + "\" is no word" + what);
                // The key as the function reads it: up to its first NUL.
                Require(contents.find(keyBlock.get()) != std::string::npos &&
                            contents.find(copied) != std::string::npos,
                        "the value \"" + copied + "\" is not in the file" + what);
            }
            Require(limit == asked, "the capacity was changed although the value fit" + what);
            break;
        }
        case kConfigNoValue:
            Require(!hasDefault, "no value although there is a default" + what);
            break;
        case kConfigTooLong:
            Require(limit > asked, "a value that does not fit asks for " + std::to_string(limit) +
                                       " bytes" + what);
            Require(std::all_of(value.get(), value.get() + capacity,
                                [](char c) { return c == kGuard; }),
                    "the buffer was written although the value does not fit" + what);
            break;
        default:
            Fail("ReadConfigFileValue returned " + std::to_string(result) + what);
    }
    return 0;
}
