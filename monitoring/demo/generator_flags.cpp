#include "monitoring/demo/generator_flags.h"

#include <charconv>
#include <cstdint>
#include <string_view>

namespace cifsmon {

namespace {

// Sizes are capped so far above any use that no product of them overflows anything.
constexpr uint64_t kMaxSize = 100'000'000;

bool ParseNumber(std::string_view text, uint64_t max, uint64_t *number) {
    if (text.empty() || text.front() < '0' || text.front() > '9') {
        return false;
    }
    auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), *number);
    return failure == std::errc() && end == text.data() + text.size() && *number <= max;
}

}  // namespace

bool ParseGeneratorFlags(int argc, const char *const *argv, GeneratorFlags *flags,
                         std::string *error) {
    GeneratorOptions &options = flags->options;
    uint64_t volumes = options.volumes;
    uint64_t connections = options.connections;
    uint64_t files = options.files;
    struct Numeric {
        std::string_view name;
        uint64_t max;
        uint64_t *target;
    };
    const Numeric numerics[] = {{"--volumes", kMaxSize, &volumes},
                                {"--connections", kMaxSize, &connections},
                                {"--files", kMaxSize, &files},
                                {"--seed", UINT64_MAX, &options.seed},
                                {"--now", UINT64_MAX, &options.now}};
    for (int i = 1; i < argc; ++i) {
        std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            flags->help = true;
            continue;
        }
        if (argument == "--version") {
            flags->version = true;
            continue;
        }
        std::string_view name = argument;
        std::string_view value;
        bool hasValue = false;
        if (auto equals = argument.find('='); equals != std::string_view::npos) {
            name = argument.substr(0, equals);
            value = argument.substr(equals + 1);
            hasValue = true;
        }
        const Numeric *numeric = nullptr;
        for (const Numeric &candidate : numerics) {
            if (name == candidate.name) {
                numeric = &candidate;
            }
        }
        if (numeric == nullptr && name != "--output") {
            *error = "unknown flag " + std::string(argument);
            return false;
        }
        if (!hasValue) {
            if (i + 1 >= argc) {
                *error = std::string(name) + " needs a value";
                return false;
            }
            value = argv[++i];
        }
        if (numeric == nullptr) {
            if (value.empty()) {
                *error = "--output needs a path";
                return false;
            }
            flags->output = std::string(value);
        } else if (!ParseNumber(value, numeric->max, numeric->target)) {
            *error = std::string(name) + " needs a number from 0 to " +
                     std::to_string(numeric->max) + ", not \"" + std::string(value) + "\"";
            return false;
        } else if (numeric->target == &options.now) {
            flags->nowGiven = true;
        }
    }
    options.volumes = static_cast<std::size_t>(volumes);
    options.connections = static_cast<std::size_t>(connections);
    options.files = static_cast<std::size_t>(files);
    return true;
}

}  // namespace cifsmon
