#include "monitoring/backend_registry.h"

#include <mutex>

#include "monitoring/call_report.h"
#include "monitoring/demo/demo_backend.h"
#include "monitoring/diagnostics.h"
#include "monitoring/samba/samba_backend.h"
#include "monitoring/settings.h"
#include "monitoring/status.h"

namespace cifsmon {

namespace {

std::string UnknownBackend(const Settings &settings) {
    return std::string(kBackendVariable) + "=" + settings.backend +
           ": unknown backend (known: " + kDemoBackendName + ", " + kSambaBackendName + ")";
}

// Builds the backend the settings name; null (after reporting why) when there is none.
std::shared_ptr<Backend> MakeBackend(const Settings &settings) {
    if (settings.backend == kDemoBackendName) {
        return std::make_shared<DemoBackend>(settings.statePath);
    }
    if (settings.backend == kSambaBackendName) {
        return std::make_shared<SambaBackend>(settings.samba);
    }
    ReportOnce(UnknownBackend(settings));
    return nullptr;
}

}  // namespace

int AcquireBackend(std::shared_ptr<Backend> *backend) {
    static std::mutex mutex;
    static Settings keptSettings;
    static std::shared_ptr<Backend> kept;

    Settings settings = ReadSettings();
    std::lock_guard<std::mutex> guard(mutex);
    if (kept == nullptr || settings != keptSettings) {
        kept = MakeBackend(settings);
        keptSettings = settings;
    }
    *backend = kept;
    if (kept == nullptr) {
        SetFailureReason(UnknownBackend(settings));
        return kStatusBackendUnavailable;
    }
    return kStatusOk;
}

}  // namespace cifsmon
