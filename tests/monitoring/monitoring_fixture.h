// monitoring_fixture.h: a scratch directory holding the demo backend's state file, with the
// library's settings pointed at it for the length of one test.
#ifndef KEL2CIFS_TESTS_MONITORING_MONITORING_FIXTURE_H
#define KEL2CIFS_TESTS_MONITORING_MONITORING_FIXTURE_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "common/temp_dir.h"
#include "monitoring/demo/state_json.h"
#include "monitoring/settings.h"
#include "monitoring/state.h"

namespace monitoring_test {

class StateFileTest : public ::testing::Test {
  protected:
    StateFileTest() : statePath_(dir_.str() + "/state.json") {
        setenv(cifsmon::kStateVariable, statePath_.c_str(), 1);
        unsetenv(cifsmon::kBackendVariable);
    }
    ~StateFileTest() override {
        unsetenv(cifsmon::kStateVariable);
        unsetenv(cifsmon::kBackendVariable);
    }

    void WriteState(const std::string &json) { dir_.Write("state.json", json); }
    std::string StateBytes() const { return testing_support::ReadFile(statePath_); }

    // The state file as it is now; fails the test when it does not parse.
    cifsmon::State ReadState() const {
        cifsmon::State state;
        std::string error;
        EXPECT_TRUE(cifsmon::ParseState(StateBytes(), &state, &error)) << error;
        return state;
    }

    testing_support::TempDir dir_;
    const std::string statePath_;
};

// Every open path of the connection with this number, over all volumes, in order.
inline std::vector<std::string> OpenPaths(const cifsmon::State &state, unsigned number) {
    std::vector<std::string> paths;
    for (const cifsmon::Connection &connection : state.connections) {
        if (connection.number != number) {
            continue;
        }
        for (const cifsmon::OpenFileGroup &group : connection.openFiles) {
            paths.insert(paths.end(), group.paths.begin(), group.paths.end());
        }
    }
    return paths;
}

}  // namespace monitoring_test

#endif  // KEL2CIFS_TESTS_MONITORING_MONITORING_FIXTURE_H
