#include "monitoring/settings.h"

#include <cstdlib>

namespace cifsmon {

namespace {

std::string Variable(const char *name) {
    const char *value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

}  // namespace

Settings ReadSettings() {
    Settings settings;
    settings.backend = Variable(kBackendVariable);
    if (settings.backend.empty()) {
        settings.backend = kDemoBackendName;
    }
    settings.statePath = Variable(kStateVariable);
    if (settings.statePath.empty()) {
        std::string root = Variable(kRootVariable);
        while (root.size() > 1 && root.back() == '/') {
            root.pop_back();
        }
        if (root == "/") {
            root.clear();
        }
        settings.statePath = root + kDefaultStatePath;
    }
    return settings;
}

}  // namespace cifsmon
