// plugin_loader.cpp: PluginSet.
#include "console/plugin_loader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <dlfcn.h>

#include "console/ascii.h"
#include "console/language.h"
#include "console/registry.h"

namespace kel::console {

bool PluginSet::LoadDirectory(const std::string &directory, std::FILE *messages,
                              std::string *error) {
    std::error_code failure;
    std::vector<std::string> paths;
    for (std::filesystem::directory_iterator it(directory, failure), end; !failure && it != end;
         it.increment(failure)) {
        const std::filesystem::path &path = it->path();
        std::error_code ignored;
        if (path.extension() == ".so" && std::filesystem::is_regular_file(path, ignored)) {
            paths.push_back(path.string());
        }
    }
    if (failure) {
        *error = "cannot read plug-in directory " + directory + ": " + failure.message();
        return false;
    }
    std::sort(paths.begin(), paths.end());
    // A plug-in registers its pages while it loads, with names in English: they are the msgids
    // of its text domain, which the pages translate per request.
    const ScopedLanguage english(kEnglish);
    for (const std::string &path : paths) {
        Registry::Global().SetLoadingDomain(std::filesystem::path(path).stem().string());
        void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        Registry::Global().SetLoadingDomain({});
        if (handle == nullptr) {
            const char *reason = dlerror();
            Say(messages,
                "cannot load " + path + ": " + (reason != nullptr ? reason : "unknown error"));
            continue;
        }
        Say(messages, "loaded " + path);
        handles_.emplace_back(path, handle);
    }
    return true;
}

void PluginSet::UnloadAll(std::FILE *messages) {
    while (!handles_.empty()) {
        auto [path, handle] = handles_.back();
        handles_.pop_back();
        if (dlclose(handle) != 0 && messages != nullptr) {
            const char *reason = dlerror();
            Say(messages,
                "cannot unload " + path + ": " + (reason != nullptr ? reason : "unknown error"));
        } else if (messages != nullptr) {
            Say(messages, "unloaded " + path);
        }
    }
}

}  // namespace kel::console
