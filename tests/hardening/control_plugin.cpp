// control_plugin.cpp: a plug-in with planted faults, the controls of the race and leak checks.
// Its page "racy" reads a counter, waits a little and writes it back, unguarded, so that two
// requests served at once race on it; its page "leaky" allocates kLeakSize bytes and drops them.
// Each check first serves this plug-in under its sanitizer and requires the report: a check
// that could not see these faults would prove nothing about the real plug-in.
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "kel/host.h"

namespace {

constexpr char kRacyKeyword[] = "racy";
constexpr char kLeakyKeyword[] = "leaky";
constexpr char kRacyName[] = "Planted Race";
constexpr char kLeakyName[] = "Planted Leak";
// Long enough for the requests of several client threads to overlap.
constexpr useconds_t kWindowMicroseconds = 20000;
// A size the leak check looks for in the report.
constexpr std::size_t kLeakSize = 4242;

int g_hits = 0;  // the unguarded shared state

int Answer(void *request, const char *text) {
    if (HttpSendSuccessfulResponse(request, HttpReturnString(KEL_STRING_HTML_CONTENT_TYPE)) != 0) {
        HttpSendErrorResponse(request, 500);
        return 500;
    }
    HttpSendDataSprintf(request, "<p>%s</p>\n", text);
    HttpEndDataResponse(request);
    return 200;
}

int RacyPage(void *request, int, int, unsigned int) {
    const int seen = g_hits;
    usleep(kWindowMicroseconds);
    g_hits = seen + 1;
    return Answer(request, "racy");
}

int LeakyPage(void *request, int, int, unsigned int) {
    void *lost = std::malloc(kLeakSize);
    if (lost != nullptr) {
        std::memset(lost, 1, kLeakSize);
    }
    return Answer(request, lost != nullptr ? "leaky" : "no memory");
}

__attribute__((constructor)) void Load() {
    ServiceGroup group{0, 0, "Controls"};
    int status = 0;
    RegisterServiceMethodEx(kRacyName, kRacyKeyword, sizeof(kRacyKeyword) - 1, &group, 0, nullptr,
                            RacyPage, nullptr, &status);
    group.word2 = 0;
    RegisterServiceMethodEx(kLeakyName, kLeakyKeyword, sizeof(kLeakyKeyword) - 1, &group, 0,
                            nullptr, LeakyPage, nullptr, &status);
}

__attribute__((destructor)) void Unload() {
    int status = 0;
    DeRegisterServiceMethod(kRacyName, kRacyKeyword, sizeof(kRacyKeyword) - 1, RacyPage, nullptr,
                            &status);
    DeRegisterServiceMethod(kLeakyName, kLeakyKeyword, sizeof(kLeakyKeyword) - 1, LeakyPage,
                            nullptr, &status);
}

}  // namespace
