// The first lookups of the process, made on eight threads at once, bind the message domain once,
// and none of them looks up before the binding is complete. Alone in its test binary: the
// binding happens once per process.
#include <cstdarg>
#include <cstdio>
#include <latch>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "logger/logger.h"
#include "plugin/pages.h"
#include "plugin/pseudo_catalogue.h"

namespace kel2cifs {
namespace {

std::mutex g_linesLock;
std::vector<std::string> g_lines;

KEL2CIFS_PRINTF(1, 2) void CaptureDebug(const char *format, ...) {
    char line[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    std::lock_guard<std::mutex> hold(g_linesLock);
    g_lines.emplace_back(line);
}

TEST(LnxMsg, EightFirstCallsAtOnceBindTheDomainOnce) {
    expected::UsePseudoCatalogue();
    Logger capture{};
    capture.debug = &CaptureDebug;
    Logger *previous = log;
    log = &capture;

    constexpr int kThreads = 8;
    std::latch start(kThreads);
    std::vector<std::string> results(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            start.arrive_and_wait();
            results[i] = lnxMSG("HTTP Failure");
        });
    }
    for (std::thread &thread : threads) {
        thread.join();
    }
    log = previous;

    EXPECT_EQ(g_lines, std::vector<std::string>{
                           std::string("setup localization filename=libkel2cifs path=") +
                           expected::kPseudoLocaleDirectory});
    for (const std::string &result : results) {
        EXPECT_EQ(result, "[[HTTP Failure]]");
    }
}

}  // namespace
}  // namespace kel2cifs
