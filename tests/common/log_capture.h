// log_capture.h: what the plug-in's logger writes, captured in two ways: the real logger writing
// to a file of a scratch directory (LogCapture), or a stand-in logger that keeps the lines of its
// debug operation (DebugCapture).
#ifndef KEL2CIFS_TESTS_COMMON_LOG_CAPTURE_H
#define KEL2CIFS_TESTS_COMMON_LOG_CAPTURE_H

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "common/temp_dir.h"
#include "logger/logger.h"

namespace testing_support {

// The process-wide logger started at level on a file of its own, deinitialised on destruction.
class LogCapture {
  public:
    explicit LogCapture(int level) : file_(directory_.File("libkel2cifs.log")) {
        kel2cifs::log = Logger_init(nullptr, level);
        // An already initialised logger keeps its level: set it all the same.
        kel2cifs::log->setLevel(level);
        if (kel2cifs::log->openstream(file_.c_str()) != 0) {
            ADD_FAILURE() << "cannot log to " << file_;
        }
    }
    ~LogCapture() {
        Logger_deinit();
        kel2cifs::log = nullptr;
    }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    // Everything written so far, as written.
    std::string Text() const { return ReadFile(file_); }
    std::size_t Size() const { return Text().size(); }

    // The text written after the first offset bytes, each tag "[D 2024-01-31 12:00:00] " reduced
    // to its level letter: "[D] ".
    std::string Since(std::size_t offset) const {
        std::string text = Text();
        text = offset <= text.size() ? text.substr(offset) : std::string();
        std::string reduced;
        for (std::size_t at = 0; at < text.size();) {
            const std::size_t length = TimeTagLength(text, at);
            if (length != 0) {
                reduced += text.substr(at, 2) + "] ";
                at += length;
            } else {
                reduced += text[at++];
            }
        }
        return reduced;
    }

  private:
    // The length of a tag at `at` (any level letter), else 0.
    static std::size_t TimeTagLength(const std::string &text, std::size_t at) {
        static constexpr std::string_view kShape = "[L 0000-00-00 00:00:00] ";
        if (text.compare(at, 1, "[") != 0 || at + kShape.size() > text.size() ||
            std::string_view("!WiD*").find(text[at + 1]) == std::string_view::npos) {
            return 0;
        }
        for (std::size_t i = 2; i < kShape.size(); ++i) {
            const char expected = kShape[i];
            const char c = text[at + i];
            if (expected == '0' ? (c < '0' || c > '9') : c != expected) {
                return 0;
            }
        }
        return kShape.size();
    }

    TempDir directory_;
    std::string file_;
};

// While alive, kel2cifs::log is a stand-in whose debug operation keeps each line it is given
// (from any thread); the logger before it is restored on destruction.
class DebugCapture {
  public:
    DebugCapture() : previous_(kel2cifs::log) {
        std::lock_guard<std::mutex> hold(Lock());
        Kept().clear();
        stand_in_.debug = &Keep;
        kel2cifs::log = &stand_in_;
    }
    ~DebugCapture() { kel2cifs::log = previous_; }
    DebugCapture(const DebugCapture &) = delete;
    DebugCapture &operator=(const DebugCapture &) = delete;

    std::vector<std::string> Lines() const {
        std::lock_guard<std::mutex> hold(Lock());
        return Kept();
    }

  private:
    static std::mutex &Lock() {
        static std::mutex lock;
        return lock;
    }
    static std::vector<std::string> &Kept() {
        static std::vector<std::string> lines;
        return lines;
    }
    KEL2CIFS_PRINTF(1, 2) static void Keep(const char *format, ...) {
        char line[1024];
        va_list args;
        va_start(args, format);
        std::vsnprintf(line, sizeof(line), format, args);
        va_end(args);
        std::lock_guard<std::mutex> hold(Lock());
        Kept().emplace_back(line);
    }

    Logger stand_in_{};
    Logger *previous_;
};

}  // namespace testing_support

#endif  // KEL2CIFS_TESTS_COMMON_LOG_CAPTURE_H
