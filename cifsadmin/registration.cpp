#include "cifsadmin/registration.h"

#include <cstdio>
#include <cstring>

#include "cifsadmin/calls.h"
#include "cifsadmin/methods.h"
#include "cifsadmin/page.h"
#include "kel/host.h"
#include "kel2cifs/text_marker.h"

namespace kel2cifs::admin {
namespace {

struct Page {
    const char *displayName;  // English; localised when passed to the host
    const char *keyword;
    ServiceMethod method;
};

constexpr Page kPages[] = {
    {TextToTranslate("Find Open Files"), kFindKeyword, FindMethod},
    {TextToTranslate("Sessions"), kSessionsKeyword, SessionsMethod},
};

// 1 while the observer is set.
constinit int g_observing = 0;

}  // namespace

bool RegisterPages() {
    ServiceGroup group{};
    group.word1 = 0;
    std::snprintf(group.title, sizeof group.title, "%s", Tr("Find and Sessions"));
    for (const Page &page : kPages) {
        group.word2 = 0;
        int status = 0;
        if (RegisterServiceMethodEx(
                Tr(page.displayName), page.keyword, static_cast<int>(std::strlen(page.keyword)),
                &group, kRegistrationFlags, nullptr, page.method, nullptr, &status) == 0) {
            DeregisterPages();
            return false;
        }
    }
    return true;
}

void DeregisterPages() {
    for (const Page &page : kPages) {
        int status = 0;
        DeRegisterServiceMethod(Tr(page.displayName), page.keyword,
                                static_cast<int>(std::strlen(page.keyword)), page.method, nullptr,
                                &status);
    }
}

void SetObserver() {
    const Calls &calls = Use();
    if (calls.setActionObserver != nullptr &&
        calls.setActionObserver(ObserveAction, nullptr) == CIFSMON_STATUS_OK) {
        g_observing = 1;
    }
}

void ClearObserver() {
    const Calls &calls = Use();
    if (g_observing != 0 && calls.setActionObserver != nullptr) {
        calls.setActionObserver(nullptr, nullptr);
    }
    g_observing = 0;
}

}  // namespace kel2cifs::admin
