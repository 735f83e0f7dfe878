#include "monitoring/samba/samba_config.h"

#include <charconv>
#include <optional>

#include "monitoring/text.h"

namespace cifsmon {

namespace {

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

// The server's boolean spellings.
bool IsTrue(std::string_view value) {
    for (std::string_view yes : {"yes", "true", "on", "1"}) {
        if (EqualsIgnoringCase(value, yes)) {
            return true;
        }
    }
    return false;
}

// "low-high" or "low - high".
std::optional<IdRange> ParseRange(std::string_view text) {
    std::size_t dash = text.find('-');
    if (dash == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view lowText = Trim(text.substr(0, dash));
    std::string_view highText = Trim(text.substr(dash + 1));
    IdRange range;
    auto low = std::from_chars(lowText.data(), lowText.data() + lowText.size(), range.low);
    auto high = std::from_chars(highText.data(), highText.data() + highText.size(), range.high);
    if (lowText.empty() || highText.empty() || low.ec != std::errc() ||
        low.ptr != lowText.data() + lowText.size() || high.ec != std::errc() ||
        high.ptr != highText.data() + highText.size() || range.low > range.high) {
        return std::nullopt;
    }
    return range;
}

// "idmap config <domain> : range", the parameter a domain's id range is set with.
bool IsIdmapRangeParameter(std::string_view name) {
    if (!name.starts_with("idmap config ")) {
        return false;
    }
    std::size_t colon = name.rfind(':');
    return colon != std::string_view::npos && Trim(name.substr(colon + 1)) == "range";
}

struct Section {
    std::string name;
    std::string path;
    bool printable = false;
};

bool IsFileShare(const Section &section) {
    for (std::string_view special : {"global", "homes", "printers", "ipc$"}) {
        if (EqualsIgnoringCase(section.name, special)) {
            return false;
        }
    }
    return !section.printable;
}

}  // namespace

std::string NormalizeSharePath(std::string_view path) {
    std::string normalized;
    normalized.reserve(path.size());
    for (char c : path) {
        if (c == '/' && !normalized.empty() && normalized.back() == '/') {
            continue;
        }
        normalized += c;
    }
    if (normalized.size() > 1 && normalized.back() == '/') {
        normalized.pop_back();
    }
    return normalized;
}

bool ParseTestparmOutput(std::string_view text, SambaConfig *config, std::string *error) {
    *config = SambaConfig();
    std::vector<Section> sections;
    bool sawGlobal = false;
    std::size_t lineNumber = 0;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = Trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++lineNumber;
        if (line.empty() || line.front() == '#' || line.front() == ';') {
            continue;
        }
        if (line.front() == '[') {
            // A share name may itself hold ']': the section name runs to the last one.
            if (line.back() != ']' || line.size() < 3) {
                *error = "testparm output, line " + std::to_string(lineNumber) +
                         ": not a section header: " + std::string(line);
                return false;
            }
            Section section;
            section.name = std::string(line.substr(1, line.size() - 2));
            sawGlobal = sawGlobal || EqualsIgnoringCase(section.name, "global");
            sections.push_back(std::move(section));
            continue;
        }
        std::size_t equals = line.find('=');
        if (equals == std::string_view::npos || sections.empty()) {
            *error = "testparm output, line " + std::to_string(lineNumber) +
                     ": not a parameter: " + std::string(line);
            return false;
        }
        const std::string name = LowerAscii(Trim(line.substr(0, equals)));
        std::string_view value = Trim(line.substr(equals + 1));
        Section &section = sections.back();
        if (EqualsIgnoringCase(section.name, "global")) {
            if (name == "netbios name") {
                config->netbiosName = UpperAscii(value);
            } else if (name == "clustering") {
                config->clustering = IsTrue(value);
            } else if (name == "ctdbd socket") {
                config->ctdbdSocket = std::string(value);
            } else if (name == "winbind separator" && !value.empty()) {
                config->winbindSeparator = value.front();
            } else if (name == "idmap uid" || IsIdmapRangeParameter(name)) {
                if (std::optional<IdRange> range = ParseRange(value)) {
                    config->idmapRanges.push_back(*range);
                }
            }
        } else if (name == "path") {
            section.path = std::string(value);
        } else if (name == "printable" || name == "print ok") {
            section.printable = IsTrue(value);
        }
    }
    if (!sawGlobal) {
        *error = "testparm printed no [global] section";
        return false;
    }
    for (Section &section : sections) {
        if (IsFileShare(section)) {
            config->shares.push_back(SambaShare{std::move(section.name), std::move(section.path)});
        }
    }
    return true;
}

}  // namespace cifsmon
