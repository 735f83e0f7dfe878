#include "monitoring/settings.h"

#include <charconv>
#include <cstdlib>
#include <string_view>

#include "monitoring/diagnostics.h"

namespace cifsmon {

namespace {

std::string Variable(const char *name) {
    const char *value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

// KEL2CIFS_ROOT without trailing slashes; empty when unset or "/".
std::string Root() {
    std::string root = Variable(kRootVariable);
    while (root.size() > 1 && root.back() == '/') {
        root.pop_back();
    }
    if (root == "/") {
        root.clear();
    }
    return root;
}

// The variable as a decimal number in [minimum, maximum]; `fallback` when unset or empty, and
// also (reported once) when it is anything else.
template <typename Number>
Number NumberVariable(const char *name, Number minimum, Number maximum, Number fallback) {
    std::string text = Variable(name);
    if (text.empty()) {
        return fallback;
    }
    Number value{};
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < minimum ||
        value > maximum) {
        ReportOnce(std::string(name) + "=" + text + ": not a number from " +
                   std::to_string(minimum) + " to " + std::to_string(maximum) + "; using " +
                   std::to_string(fallback));
        return fallback;
    }
    return value;
}

std::string TextVariable(const char *name, const char *fallback) {
    std::string text = Variable(name);
    return text.empty() ? std::string(fallback) : text;
}

SambaSettings ReadSambaSettings() {
    SambaSettings samba;
    samba.configPath = TextVariable(kSambaConfVariable, kDefaultSambaConf);
    samba.toolPath = TextVariable(kSambaToolsVariable, kDefaultSambaTools);
    samba.numbersPath = Variable(kSambaNumbersVariable);
    if (samba.numbersPath.empty()) {
        samba.numbersPath = Root() + kDefaultSambaNumbersPath;
    }
    samba.adminGroup = Variable(kSambaAdminGroupVariable);
    samba.timeoutSeconds =
        NumberVariable<unsigned>(kSambaTimeoutVariable, 1, 3600, kDefaultSambaTimeoutSeconds);
    samba.outputLimit = NumberVariable<uint64_t>(kSambaOutputLimitVariable, 4096, 1ULL << 40,
                                                 kDefaultSambaOutputLimit);
    samba.intervalMs =
        NumberVariable<unsigned>(kSambaIntervalVariable, 0, 600000, kDefaultSambaIntervalMs);
    samba.rpcAuthFile = Variable(kSambaRpcAuthVariable);
    samba.rpcServer = TextVariable(kSambaRpcServerVariable, kDefaultSambaRpcServer);
    // UINT32_MAX is the number of a process outside a cluster, never a node's.
    uint32_t vnn = NumberVariable<uint32_t>(kSambaVnnVariable, 0, UINT32_MAX - 1, UINT32_MAX);
    if (vnn != UINT32_MAX) {
        samba.haveLocalVnn = true;
        samba.localVnn = vnn;
    }
    return samba;
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
        settings.statePath = Root() + kDefaultStatePath;
    }
    if (settings.backend == kSambaBackendName) {
        settings.samba = ReadSambaSettings();
    }
    return settings;
}

}  // namespace cifsmon
