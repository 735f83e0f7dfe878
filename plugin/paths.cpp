#include "plugin/paths.h"

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "logger/logger.h"

namespace kel2cifs {

// Without a root override the logger's own default and the plug-in's path are one file.
static_assert(std::string_view(kLogFilePath) == kDefaultLogFilePath);

namespace {

// Room for a root of a few hundred bytes plus the longest fixed path.
constexpr std::size_t kResolvedPathSize = 1024;

struct ResolvedPath {
    const char *fixed;
    char text[kResolvedPathSize];
    bool resolved;
};

// Constant-initialised: read by the load routine before any constructor runs.
constinit ResolvedPath g_config{kConfigFilePath, {}, false};
constinit ResolvedPath g_logfile{kLogFilePath, {}, false};
constinit ResolvedPath g_logdir{kLogDirectoryPath, {}, false};
constinit ResolvedPath g_locale{kLocaleDirectoryPath, {}, false};

void Resolve(ResolvedPath &path, std::string_view root) {
    path.resolved = true;
    std::string_view fixed = path.fixed;
    if (root.size() + fixed.size() + 1 > sizeof(path.text)) {
        path.text[0] = '\0';
        return;
    }
    std::memcpy(path.text, root.data(), root.size());
    std::memcpy(path.text + root.size(), fixed.data(), fixed.size());
    path.text[root.size() + fixed.size()] = '\0';
}

const char *Get(const ResolvedPath &path) {
    return path.resolved ? path.text : path.fixed;
}

}  // namespace

void ResolvePaths() {
    const char *value = std::getenv(kRootVariable);
    std::string_view root = value != nullptr ? value : "";
    while (!root.empty() && root.back() == '/') {
        root.remove_suffix(1);
    }
    if (value == nullptr || value[0] == '\0') {
        g_config.resolved = g_logfile.resolved = g_logdir.resolved = g_locale.resolved = false;
    } else {
        Resolve(g_config, root);
        Resolve(g_logfile, root);
        Resolve(g_logdir, root);
        Resolve(g_locale, root);
    }
    logfilename = LogFilePath();
}

const char *ConfigFilePath() {
    return Get(g_config);
}
const char *LogFilePath() {
    return Get(g_logfile);
}
const char *LogDirectoryPath() {
    return Get(g_logdir);
}
const char *LocaleDirectoryPath() {
    return Get(g_locale);
}

}  // namespace kel2cifs
