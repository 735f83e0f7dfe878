#include "monitoring/samba/samba_proc.h"

#include <unistd.h>

#include <charconv>
#include <fstream>
#include <iterator>

namespace cifsmon {

namespace {

std::optional<std::string> ReadSmallFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        return std::nullopt;
    }
    return text;
}

std::optional<uint64_t> Decimal(std::string_view text) {
    uint64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// The value of "<name>:" or "<name> " lines ("rchar: 123", "btime 1700000000").
std::optional<uint64_t> Field(std::string_view text, std::string_view name) {
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.starts_with(name) || line.size() == name.size()) {
            continue;
        }
        std::string_view rest = line.substr(name.size());
        if (rest.front() != ':' && rest.front() != ' ') {
            continue;
        }
        rest.remove_prefix(1);
        while (!rest.empty() && rest.front() == ' ') {
            rest.remove_prefix(1);
        }
        return Decimal(rest);
    }
    return std::nullopt;
}

}  // namespace

std::optional<uint64_t> ParseStartTicks(std::string_view statText) {
    std::size_t close = statText.rfind(')');
    if (close == std::string_view::npos) {
        return std::nullopt;
    }
    // After the command name: state (field 3), ppid, ... starttime is field 22.
    std::string_view rest = statText.substr(close + 1);
    int field = 2;
    while (!rest.empty()) {
        while (!rest.empty() && rest.front() == ' ') {
            rest.remove_prefix(1);
        }
        std::size_t end = rest.find_first_of(" \n");
        std::string_view value = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
        if (value.empty()) {
            break;
        }
        if (++field == 22) {
            return Decimal(value);
        }
    }
    return std::nullopt;
}

std::optional<uint64_t> ParseBootTime(std::string_view statText) {
    return Field(statText, "btime");
}

std::optional<uint64_t> ReadProcessStartTime(const std::string &procRoot, uint64_t pid) {
    std::optional<std::string> processStat =
        ReadSmallFile(procRoot + "/" + std::to_string(pid) + "/stat");
    std::optional<std::string> systemStat = ReadSmallFile(procRoot + "/stat");
    if (!processStat || !systemStat) {
        return std::nullopt;
    }
    std::optional<uint64_t> ticks = ParseStartTicks(*processStat);
    std::optional<uint64_t> boot = ParseBootTime(*systemStat);
    long ticksPerSecond = sysconf(_SC_CLK_TCK);
    if (!ticks || !boot || ticksPerSecond <= 0) {
        return std::nullopt;
    }
    return *boot + *ticks / static_cast<uint64_t>(ticksPerSecond);
}

}  // namespace cifsmon
