// A tiny plug-in for the kelconsole tests. Its load routine registers one page, "tplugin"; its
// unload routine deregisters it and writes the result to the file named by the environment
// variable KELCONSOLE_TEST_MARKER, so that a test can see that the console unloaded it.
#include <cstdio>
#include <cstdlib>

#include "kel/host.h"

namespace {

constexpr char kKeyword[] = "tplugin";
constexpr char kDisplayName[] = "Test Plug-in Page";

int TestPage(void *request, int, int, unsigned int access) {
    if (HttpSendSuccessfulResponse(request, HttpReturnString(KEL_STRING_HTML_CONTENT_TYPE)) != 0) {
        HttpSendErrorResponse(request, 500);
        return 500;
    }
    BuildAndSendHeader(request, kDisplayName, kDisplayName, 0, 0, 0, nullptr, nullptr, nullptr);
    HttpSendDataSprintf(request, "<p>test plug-in page access=0x%08x</p>\n</BODY></HTML>", access);
    HttpEndDataResponse(request);
    return 200;
}

__attribute__((constructor)) void Load() {
    ServiceGroup group{0, 0, "Test Plug-ins"};
    int status = 0;
    RegisterServiceMethodEx(kDisplayName, kKeyword, sizeof(kKeyword) - 1, &group, 0x4000d, nullptr,
                            TestPage, nullptr, &status);
}

__attribute__((destructor)) void Unload() {
    int status = -1;
    const int result = DeRegisterServiceMethod(kDisplayName, kKeyword, sizeof(kKeyword) - 1,
                                               TestPage, nullptr, &status);
    if (const char *marker = std::getenv("KELCONSOLE_TEST_MARKER"); marker != nullptr) {
        if (std::FILE *file = std::fopen(marker, "w"); file != nullptr) {
            std::fprintf(file, "deregistered=%d status=%d\n", result, status);
            std::fclose(file);
        }
    }
}

}  // namespace
