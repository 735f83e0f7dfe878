// Closes running at the same time, from two threads and from two processes: none may lose the
// other's change, and no listing may see a torn state.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "cifsmonitoring/monitoring.h"
#include "monitoring/monitoring_fixture.h"

namespace {

using ::testing::IsEmpty;

constexpr int kClosesEach = 200;

std::string PathOf(int closer, int i) {
    char path[64];
    std::snprintf(path, sizeof path, "/srv/DATA/closer%d/file %03d.doc", closer, i);
    return path;
}

// Connection 1 holds closer 1's files, connection 2 closer 2's; connection 3 holds one file
// that nobody closes.
std::string TwoCloserState() {
    std::string json = R"({"volumes": [{"name": "DATA"}], "connections": [)";
    for (int closer = 1; closer <= 2; ++closer) {
        json += R"({"number": )" + std::to_string(closer) +
                R"(, "user": "u", "openFiles": [{"volume": "DATA", "paths": [)";
        for (int i = 0; i < kClosesEach; ++i) {
            json += (i > 0 ? ",\"" : "\"") + PathOf(closer, i) + "\"";
        }
        json += "]}]},";
    }
    json +=
        R"({"number": 3, "user": "keeper", "openFiles": [{"volume": "DATA", "paths": ["/keep"]}]}]})";
    return json;
}

// Closes closer's files one by one; returns how many closes failed.
int CloseAll(int closer) {
    int failures = 0;
    for (int i = 0; i < kClosesEach; ++i) {
        if (Ext_CloseFileByFileName(PathOf(closer, i).c_str()) != 0) {
            ++failures;
        }
    }
    return failures;
}

class ConcurrentCloses : public monitoring_test::StateFileTest {
  protected:
    void SetUp() override { WriteState(TwoCloserState()); }

    void ExpectEveryCloseKept() {
        cifsmon::State state = ReadState();
        ASSERT_EQ(state.connections.size(), 3u);
        EXPECT_THAT(monitoring_test::OpenPaths(state, 1), IsEmpty());
        EXPECT_THAT(monitoring_test::OpenPaths(state, 2), IsEmpty());
        EXPECT_THAT(monitoring_test::OpenPaths(state, 3), ::testing::ElementsAre("/keep"));
    }
};

TEST_F(ConcurrentCloses, TwoThreadsLoseNoClose) {
    std::atomic<bool> closing{true};
    std::atomic<int> tornListings{0};
    // A reader alongside: every listing must find a whole state.
    std::thread reader([&] {
        while (closing) {
            VolFileListNode *list = nullptr;
            int count = 0;
            if (Ext_ListVolFileDetails("DATA", &list, &count) != 0) {
                ++tornListings;
            }
            FreeVolFileListNodes(&list);
        }
    });
    int failures[2] = {-1, -1};
    std::thread first([&] { failures[0] = CloseAll(1); });
    std::thread second([&] { failures[1] = CloseAll(2); });
    first.join();
    second.join();
    closing = false;
    reader.join();
    EXPECT_EQ(failures[0], 0);
    EXPECT_EQ(failures[1], 0);
    EXPECT_EQ(tornListings.load(), 0);
    ExpectEveryCloseKept();
}

TEST_F(ConcurrentCloses, TwoProcessesLoseNoClose) {
    pid_t children[2];
    for (int closer = 1; closer <= 2; ++closer) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            _exit(CloseAll(closer) == 0 ? 0 : 1);
        }
        children[closer - 1] = child;
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a close failed in " << child;
    }
    ExpectEveryCloseKept();
}

TEST_F(ConcurrentCloses, ClosingByNumberAndByNameTogetherLosesNeither) {
    int failures = -1;
    int byNumber = -1;
    std::thread names([&] { failures = CloseAll(1); });
    std::thread number([&] { byNumber = Ext_CloseFileByID(2); });
    names.join();
    number.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(byNumber, 0);
    ExpectEveryCloseKept();
}

}  // namespace
