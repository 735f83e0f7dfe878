// The first lookups of the process, made on eight threads at once, bind the message domain once,
// and none of them looks up before the binding is complete. Alone in its test binary: the
// binding happens once per process.
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/log_capture.h"
#include "plugin/pages.h"
#include "plugin/pseudo_catalogue.h"

namespace kel2cifs {
namespace {

TEST(LnxMsg, EightFirstCallsAtOnceBindTheDomainOnce) {
    expected::UsePseudoCatalogue();
    constexpr int kThreads = 8;
    std::vector<std::string> results(kThreads);
    std::vector<std::string> lines;
    {
        testing_support::DebugCapture capture;
        std::latch start(kThreads);
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
        lines = capture.Lines();
    }

    EXPECT_EQ(lines, std::vector<std::string>{
                         std::string("setup localization filename=libkel2cifs path=") +
                         expected::kPseudoLocaleDirectory});
    for (const std::string &result : results) {
        EXPECT_EQ(result, "[[HTTP Failure]]");
    }
}

}  // namespace
}  // namespace kel2cifs
