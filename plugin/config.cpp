#include "plugin/config.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string_view>

using namespace kel2cifs;

constinit int AllowClearConn = 1;

namespace {

bool IsBlank(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// The first two whitespace-separated words of line; false when it has fewer than two.
bool SplitKeyValue(std::string_view line, std::string_view &key, std::string_view &value) {
    std::string_view words[2];
    std::size_t pos = 0;
    for (auto &word : words) {
        while (pos < line.size() && IsBlank(line[pos])) {
            ++pos;
        }
        std::size_t start = pos;
        while (pos < line.size() && !IsBlank(line[pos])) {
            ++pos;
        }
        if (pos == start) {
            return false;
        }
        word = line.substr(start, pos - start);
    }
    key = words[0];
    value = words[1];
    return true;
}

// Copies text into value when it fits in *limit bytes; else reports the size it needs.
int CopyValue(std::string_view text, char *value, int *limit) {
    if (*limit <= 0 || text.size() >= static_cast<std::size_t>(*limit)) {
        *limit = static_cast<int>(text.size() + 1);
        return kConfigTooLong;
    }
    std::memcpy(value, text.data(), text.size());
    value[text.size()] = '\0';
    return kConfigOk;
}

}  // namespace

int ConfigFileExists(const char *path, int *exists) {
    *exists = 0;
    FILE *file = path != nullptr ? std::fopen(path, "r+") : nullptr;
    if (file == nullptr) {
        return kConfigNoFile;
    }
    std::fclose(file);
    *exists = 1;
    return kConfigOk;
}

int ReadConfigFileValue(const char *path, const char *key, char *value, int *limit,
                        const char *defaultValue) {
    if (key == nullptr || value == nullptr || limit == nullptr) {
        return kConfigBadArgument;
    }
    FILE *file = path != nullptr ? std::fopen(path, "a+") : nullptr;
    if (file == nullptr) {
        return kConfigNoFile;
    }
    std::rewind(file);
    char line[kConfigLineSize];
    int result = -1;
    while (result < 0 && std::fgets(line, sizeof(line), file) != nullptr) {
        std::string_view word;
        std::string_view text;
        if (!SplitKeyValue(line, word, text) || word.front() == '#' || word.front() == ';' ||
            word != key) {
            continue;
        }
        result = CopyValue(text, value, limit);
    }
    std::fclose(file);
    if (result >= 0) {
        return result;
    }
    if (defaultValue == nullptr) {
        return kConfigNoValue;
    }
    return CopyValue(defaultValue, value, limit);
}
