// The interface of cifsmonitoring/administration.h on the demo backend: the listings against a
// state with and without the details (golden file), their order against the three pages'
// listings, cut texts, the Free calls and argument errors, planning, the exact close, ending a
// session, and the action observer.
#include <dlfcn.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "admin_render.h"
#include "cifsmonitoring/administration.h"
#include "cifsmonitoring/failure.h"
#include "cifsmonitoring/monitoring.h"
#include "common/golden.h"
#include "monitoring/status.h"
#include "monitoring_fixture.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

class AdminTest : public monitoring_test::StateFileTest {
  protected:
    void SetUp() override {
        WriteState(testing_support::Golden("monitoring/demo/admin_state.json"));
    }

    std::string OpenFiles() {
        CifsOpenFile *list = nullptr;
        size_t count = 99;
        EXPECT_EQ(Ext_ListOpenFiles(&list, &count), 0);
        std::string text = monitoring_test::RenderOpenFiles(list, count);
        EXPECT_EQ(Ext_FreeOpenFiles(&list), 0);
        EXPECT_EQ(list, nullptr);
        return text;
    }

    std::string Sessions() {
        CifsSession *list = nullptr;
        size_t count = 99;
        EXPECT_EQ(Ext_ListSessions(&list, &count), 0);
        std::string text = monitoring_test::RenderSessions(list, count);
        EXPECT_EQ(Ext_FreeSessions(&list), 0);
        EXPECT_EQ(list, nullptr);
        return text;
    }

    std::string Plan(const std::vector<CifsOpenRef> &targets) {
        CifsOpenFile *list = nullptr;
        size_t count = 99;
        EXPECT_EQ(Ext_PlanClose(targets.data(), targets.size(), &list, &count), 0);
        std::string text = monitoring_test::RenderOpenFiles(list, count);
        Ext_FreeOpenFiles(&list);
        return text;
    }
};

TEST_F(AdminTest, ListingsGiveEveryDetailAndDefaultsWhereTheStateHasNone) {
    EXPECT_EQ(OpenFiles() + "--\n" + Sessions(),
              testing_support::Golden("monitoring/demo/admin_listing.golden"));
}

TEST_F(AdminTest, OpenFilesComeInTheOrderOfTheVolumePages) {
    // (number, path) as the volume pages list them, volume by volume.
    std::vector<std::pair<unsigned, std::string>> paged;
    int volumes = 0;
    VolumeDetailsNode *volumeList = nullptr;
    ASSERT_EQ(Ext_ListVolumeDetails(&volumes, &volumeList), 0);
    for (VolumeDetailsNode *v = volumeList; v != nullptr; v = v->next) {
        int count = 0;
        VolFileListNode *files = nullptr;
        ASSERT_EQ(Ext_ListVolFileDetails(v->volumeName, &files, &count), 0);
        for (VolFileListNode *node = files; node != nullptr; node = node->next) {
            for (uint16_t i = 0; i < node->fileCount; ++i) {
                paged.emplace_back(node->connNumber, node->fileNames[i]);
            }
        }
        FreeVolFileListNodes(&files);
    }
    FreeVolsDetailsNode(&volumeList);

    CifsOpenFile *list = nullptr;
    size_t count = 0;
    ASSERT_EQ(Ext_ListOpenFiles(&list, &count), 0);
    std::vector<std::pair<unsigned, std::string>> listed;
    for (size_t i = 0; i < count; ++i) {
        listed.emplace_back(list[i].connNumber, list[i].path);
    }
    Ext_FreeOpenFiles(&list);
    EXPECT_EQ(listed, paged);

    // Sessions in the order of the connection page.
    int connections = 0;
    ConnListNode *connList = nullptr;
    ASSERT_EQ(Ext_ListConnDetails(&connections, &connList), 0);
    std::vector<unsigned> numbers;
    for (ConnListNode *c = connList; c != nullptr; c = c->next) {
        numbers.push_back(c->connNumber);
    }
    FreeConnListNodes(&connList);
    CifsSession *sessions = nullptr;
    ASSERT_EQ(Ext_ListSessions(&sessions, &count), 0);
    std::vector<unsigned> sessionNumbers;
    for (size_t i = 0; i < count; ++i) {
        sessionNumbers.push_back(sessions[i].connNumber);
    }
    Ext_FreeSessions(&sessions);
    EXPECT_EQ(sessionNumbers, numbers);
}

TEST_F(AdminTest, NullArgumentsAndFailuresHandOutNothing) {
    CifsOpenFile *files = reinterpret_cast<CifsOpenFile *>(1);
    size_t count = 5;
    EXPECT_EQ(Ext_ListOpenFiles(&files, nullptr), CIFSMON_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(files, nullptr);
    EXPECT_EQ(Ext_ListOpenFiles(nullptr, &count), CIFSMON_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(count, 0u);
    CifsSession *sessions = reinterpret_cast<CifsSession *>(1);
    count = 5;
    EXPECT_EQ(Ext_ListSessions(&sessions, nullptr), CIFSMON_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(sessions, nullptr);
    EXPECT_EQ(Ext_ListSessions(nullptr, &count), CIFSMON_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(Ext_FreeOpenFiles(nullptr), CIFSMON_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(Ext_FreeSessions(nullptr), CIFSMON_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(Ext_PlanClose(nullptr, 1, &files, &count), CIFSMON_STATUS_INVALID_ARGUMENT);
    CifsOpenRef noPath{7, nullptr};
    EXPECT_EQ(Ext_PlanClose(&noPath, 1, &files, &count), CIFSMON_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(Ext_PlanClose(nullptr, 0, nullptr, &count), CIFSMON_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(Ext_CloseOpenFile(7, nullptr), CIFSMON_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(Ext_CloseOpenFile(7, ""), CIFSMON_STATUS_INVALID_ARGUMENT);

    // A state that cannot be read: the status, null and 0.
    WriteState("{\"volumes\": 3}");
    files = reinterpret_cast<CifsOpenFile *>(1);
    count = 5;
    EXPECT_EQ(Ext_ListOpenFiles(&files, &count), CIFSMON_STATUS_STATE_CORRUPT);
    EXPECT_EQ(files, nullptr);
    EXPECT_EQ(count, 0u);
    char text[256];
    EXPECT_EQ(Ext_LastFailure(text, sizeof text), CIFSMON_STATUS_STATE_CORRUPT);
    EXPECT_THAT(text, HasSubstr("volumes"));
}

TEST_F(AdminTest, AnEmptyServerListsNothing) {
    WriteState(R"({"volumes": [], "connections": []})");
    CifsOpenFile *files = reinterpret_cast<CifsOpenFile *>(1);
    size_t count = 5;
    EXPECT_EQ(Ext_ListOpenFiles(&files, &count), 0);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(Ext_FreeOpenFiles(&files), 0);
    EXPECT_EQ(files, nullptr);
}

TEST_F(AdminTest, PlanNamesTheTargetsThatAreOpenEachOnce) {
    EXPECT_EQ(Plan({{3, "/srv/DATA/shared.xls"},
                    {7, "/srv/SYS/login.txt"},
                    {3, "/srv/DATA/shared.xls"},
                    {3, "/srv/SYS/login.txt"},
                    {12, "/srv/DATA/shared.xls"}}),
              "7 node=2 opened=1700000050 access=RWD share=- oplock=exclusive volume=SYS "
              "user=CORP\\anna client=10.0.0.7 path=/srv/SYS/login.txt\n"
              "3 node=none opened=0 access=R share=RW oplock=none volume=DATA "
              "user=cn=bob,o=Example client=10.0.0.3 path=/srv/DATA/shared.xls\n");
    EXPECT_EQ(Plan({}), "");
    EXPECT_EQ(StateBytes(), testing_support::Golden("monitoring/demo/admin_state.json"))
        << "planning changes nothing";
}

TEST_F(AdminTest, ClosingOneConnectionsOpenLeavesTheOthersOfTheFile) {
    ASSERT_EQ(Ext_CloseOpenFile(7, "/srv/DATA/shared.xls"), 0);
    cifsmon::State state = ReadState();
    EXPECT_THAT(monitoring_test::OpenPaths(state, 7),
                ElementsAre("/srv/DATA/a.doc", "/srv/SYS/login.txt"));
    EXPECT_THAT(monitoring_test::OpenPaths(state, 3),
                ElementsAre("/srv/DATA/shared.xls", "/srv/DATA/b <x>.pdf"));
    // The details of what stays stay with their paths.
    ASSERT_EQ(state.connections[0].openFiles[0].details.size(), 1u);
    EXPECT_EQ(state.connections[0].openFiles[0].details[0].oplock, "batch");
    EXPECT_EQ(state.connections[0].openFiles[0].details[0].openedAt, 1700000100u);

    EXPECT_EQ(Ext_CloseOpenFile(7, "/srv/DATA/shared.xls"), CIFSMON_STATUS_NOT_FOUND);
    EXPECT_EQ(Ext_CloseOpenFile(3, "/srv/SYS/login.txt"), CIFSMON_STATUS_NOT_FOUND);
    EXPECT_EQ(Ext_CloseOpenFile(12, "/srv/DATA/a.doc"), CIFSMON_STATUS_NOT_FOUND);
    // A path cut to fit stands for the one path of that connection it begins.
    ASSERT_EQ(Ext_CloseOpenFile(3, "/srv/DATA/b" CIFSMON_CUT_MARK), 0);
    EXPECT_THAT(monitoring_test::OpenPaths(ReadState(), 3), ElementsAre("/srv/DATA/shared.xls"));
}

TEST_F(AdminTest, EndingASessionRemovesTheConnectionAndItsOpens) {
    ASSERT_EQ(Ext_EndSession(7), 0);
    cifsmon::State state = ReadState();
    ASSERT_EQ(state.connections.size(), 2u);
    EXPECT_EQ(state.connections[0].number, 3);
    EXPECT_EQ(state.connections[1].number, 9);
    EXPECT_EQ(Ext_EndSession(7), CIFSMON_STATUS_NOT_FOUND);
    EXPECT_EQ(Ext_EndSession(70000), CIFSMON_STATUS_NOT_FOUND);
    UserInfo_s *info = nullptr;
    EXPECT_EQ(Ext_GetConnInfo(7, &info), CIFSMON_STATUS_NOT_FOUND);
}

// What an observer heard.
struct Heard {
    std::mutex mutex;
    std::vector<std::string> lines;
};

void Record(const CifsActionReport *report, void *context) {
    auto *heard = static_cast<Heard *>(context);
    std::lock_guard<std::mutex> guard(heard->mutex);
    heard->lines.push_back(std::to_string(report->action) + " " +
                           std::to_string(report->connNumber) + " " +
                           (report->path ? report->path : "(none)") + " " +
                           std::to_string(report->status) + " [" + report->report + "]");
}

class ObserverTest : public AdminTest {
  protected:
    void TearDown() override { Ext_SetActionObserver(nullptr, nullptr); }
};

TEST_F(ObserverTest, HearsEveryActionOnceWithItsStatusAndReport) {
    Heard heard;
    ASSERT_EQ(Ext_SetActionObserver(Record, &heard), 0);
    Ext_CloseFileByFileName("/srv/DATA/" CIFSMON_CUT_MARK);
    Ext_CloseOpenFile(7, "/srv/DATA/a.doc");
    Ext_CloseOpenFile(7, "/srv/DATA/a.doc");
    Ext_CloseFileByFileName("/srv/DATA/shared.xls");
    Ext_CloseFileByID(9);
    Ext_EndSession(3);
    Ext_CloseFileByFileName(nullptr);
    // Listings and plans are not actions.
    CifsSession *sessions = nullptr;
    size_t count = 0;
    Ext_ListSessions(&sessions, &count);
    Ext_FreeSessions(&sessions);
    EXPECT_THAT(heard.lines,
                ElementsAre("1 0 /srv/DATA/" CIFSMON_CUT_MARK
                            " 11 [the shortened name stands for 3 open files]",
                            "3 7 /srv/DATA/a.doc 0 []",
                            "3 7 /srv/DATA/a.doc 1 [no such volume, connection or open file]",
                            "1 0 /srv/DATA/shared.xls 0 []", "2 9 (none) 0 []", "4 3 (none) 0 []",
                            "1 0 (none) 2 [a required name or out-parameter is missing]"));

    ASSERT_EQ(Ext_SetActionObserver(nullptr, nullptr), 0);
    Ext_EndSession(7);
    EXPECT_EQ(heard.lines.size(), 7u) << "a removed observer hears nothing";
}

TEST_F(ObserverTest, AnActionOfTheObserverIsToldToItToo) {
    Heard heard;
    auto observer = [](const CifsActionReport *report, void *context) {
        Record(report, context);
        if (report->action == CIFSMON_ACTION_CLOSE_CONNECTION_FILES) {
            Ext_EndSession(report->connNumber);
        }
    };
    ASSERT_EQ(Ext_SetActionObserver(observer, &heard), 0);
    ASSERT_EQ(Ext_CloseFileByID(3), 0);
    EXPECT_THAT(heard.lines, ElementsAre("2 3 (none) 0 []", "4 3 (none) 0 []"));
    ASSERT_EQ(Ext_SetActionObserver(nullptr, nullptr), 0) << "no lock is left behind";
}

TEST_F(ObserverTest, SettingAnotherWaitsForTheRunningObserver) {
    // The observer blocks until released; the thread replacing it must not return before.
    struct Blocking {
        std::atomic<bool> running{false};
        std::atomic<bool> release{false};
        std::mutex mutex;
        std::vector<std::string> order;
    } blocking;
    auto observer = [](const CifsActionReport *, void *context) {
        auto *b = static_cast<Blocking *>(context);
        b->running = true;
        while (!b->release) {
            std::this_thread::yield();
        }
        std::lock_guard<std::mutex> guard(b->mutex);
        b->order.push_back("observer done");
    };
    ASSERT_EQ(Ext_SetActionObserver(observer, &blocking), 0);
    std::thread action([] { Ext_EndSession(9); });
    while (!blocking.running) {
        std::this_thread::yield();
    }
    std::atomic<bool> setting{false};
    std::thread replace([&] {
        setting = true;
        Ext_SetActionObserver(nullptr, nullptr);
        std::lock_guard<std::mutex> guard(blocking.mutex);
        blocking.order.push_back("set returned");
    });
    while (!setting) {
        std::this_thread::yield();
    }
    blocking.release = true;
    action.join();
    replace.join();
    EXPECT_THAT(blocking.order, ElementsAre("observer done", "set returned"));
}

TEST(AdminExports, TheSharedLibraryExportsEveryCallOfTheHeader) {
    void *library = dlopen(CIFSMON_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    for (const char *name :
         {"Ext_ListOpenFiles", "Ext_FreeOpenFiles", "Ext_ListSessions", "Ext_FreeSessions",
          "Ext_PlanClose", "Ext_CloseOpenFile", "Ext_EndSession", "Ext_SetActionObserver"}) {
        EXPECT_NE(dlsym(library, name), nullptr) << name;
    }
    EXPECT_EQ(dlsym(library, "_ZN7cifsmon12NotifyActionEijPKci"), nullptr)
        << "the library's own code stays private";
    dlclose(library);
}

}  // namespace
