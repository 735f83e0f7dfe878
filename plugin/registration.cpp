#include "plugin/registration.h"

#include <cstdio>
#include <cstring>

#include "connections/dispatch.h"
#include "kel/host.h"
#include "kel2cifs/text_marker.h"
#include "logger/logger.h"
#include "logs/logs.h"
#include "ofm/dispatch.h"
#include "plugin/pages.h"

using namespace kel2cifs;

namespace {

struct ServiceEntry {
    const char *displayName;  // English; localised when passed to the host
    const char *const *keyword;
    int keywordLength;
    ServiceMethod method;
    const char *shortName;  // names the method in a failure line
};

// Registration order. The keyword globals are read through their addresses, so this table is
// constant-initialised like everything else the load routine touches.
constexpr ServiceEntry kConnections{TextToTranslate("Manage Connections"), &keyword_cifsdcons, 8,
                                    cifsconsMethod, "Connections"};
constexpr ServiceEntry kLogs{TextToTranslate("View Logs"), &keyword_cifsdlogs, 8, cifsLogsMethod,
                             "Logs"};
constexpr ServiceEntry kOpenFiles{TextToTranslate("Manage Open Files"), &keyword_cifsofm, 7,
                                  cifsofmMethod, "OpenFiles"};

constexpr const ServiceEntry *kRegistrationOrder[] = {&kConnections, &kLogs, &kOpenFiles};
constexpr const ServiceEntry *kDeregistrationOrder[] = {&kConnections, &kOpenFiles, &kLogs};

}  // namespace

bool kel2cifs::RegisterServiceMethods() {
    log->error("Going to initialize cifs plugin");
    ServiceGroup group{};
    group.word1 = 0;
    std::snprintf(group.title, sizeof(group.title), "%s", lnxMSG("Manage CIFS Services"));
    for (const ServiceEntry *entry : kRegistrationOrder) {
        group.word2 = 0;
        int status = 0;
        int registered = RegisterServiceMethodEx(lnxMSG(entry->displayName), *entry->keyword,
                                                 entry->keywordLength, &group, kRegistrationFlags,
                                                 nullptr, entry->method, nullptr, &status);
        if (registered == 0) {
            log->error("RegisterServiceMethodEx(%s) failed rc=%d", entry->shortName, status);
            log->error("Failed to initalize cifs plugin");
            return false;
        }
    }
    return true;
}

void kel2cifs::DeregisterServiceMethods() {
    for (const ServiceEntry *entry : kDeregistrationOrder) {
        int status = 0;
        DeRegisterServiceMethod(lnxMSG(entry->displayName), *entry->keyword, entry->keywordLength,
                                entry->method, nullptr, &status);
    }
}
