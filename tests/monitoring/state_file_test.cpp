// The state file's atomic replacement and lock, and the stamp that tells its versions apart.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <thread>

#include "cifsmonitoring/monitoring.h"
#include "monitoring/state_file.h"
#include "monitoring/status.h"
#include "monitoring_fixture.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

std::vector<std::string> DirectoryEntries(const std::filesystem::path &directory) {
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class AtomicWrite : public monitoring_test::StateFileTest {
  protected:
    ~AtomicWrite() override { cifsmon::SetBeforeRenameHookForTesting(nullptr); }

    static inline std::string seenTemporaryContent;
    static bool CrashBeforeRename(const std::string &temporaryPath) {
        seenTemporaryContent = testing_support::ReadFile(temporaryPath);
        return true;
    }
};

TEST_F(AtomicWrite, AWriteThatNeverReachesTheRenameLeavesTheOldFileWhole) {
    WriteState("old state");
    std::string error;
    cifsmon::SetBeforeRenameHookForTesting(CrashBeforeRename);
    EXPECT_EQ(cifsmon::WriteFileAtomically(statePath_, "new state", &error),
              cifsmon::kStatusIoError);
    EXPECT_THAT(error, HasSubstr("abandoned before the rename"));
    EXPECT_EQ(seenTemporaryContent, "new state") << "the new file was complete before the rename";
    EXPECT_EQ(StateBytes(), "old state");
    EXPECT_THAT(DirectoryEntries(dir_.path()), ElementsAre("state.json"));

    cifsmon::SetBeforeRenameHookForTesting(nullptr);
    ASSERT_EQ(cifsmon::WriteFileAtomically(statePath_, "new state", &error), 0) << error;
    EXPECT_EQ(StateBytes(), "new state");
    EXPECT_THAT(DirectoryEntries(dir_.path()), ElementsAre("state.json"));
}

TEST_F(AtomicWrite, ACloseThatNeverReachesTheRenameChangesNothing) {
    WriteState(R"({"volumes": [{"name": "V"}],
        "connections": [{"number": 1, "user": "u", "openFiles": [{"volume": "V", "paths": ["/a"]}]}]})");
    const std::string before = StateBytes();
    cifsmon::SetBeforeRenameHookForTesting(CrashBeforeRename);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(Ext_CloseFileByFileName("/a"), cifsmon::kStatusIoError);
    EXPECT_EQ(Ext_CloseFileByID(1), cifsmon::kStatusIoError);
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(StateBytes(), before);
    EXPECT_THAT(seenTemporaryContent, Not(HasSubstr("\"/a\"")));
    // The listing still shows the file that was not closed.
    UserInfo_s *info = nullptr;
    ASSERT_EQ(Ext_GetConnInfo(1, &info), 0);
    EXPECT_EQ(info->openFileCount, 1);
    FreeUserDetailsNode(&info);

    cifsmon::SetBeforeRenameHookForTesting(nullptr);
    EXPECT_EQ(Ext_CloseFileByFileName("/a"), 0);
    EXPECT_TRUE(ReadState().connections[0].openFiles.empty());
}

TEST_F(AtomicWrite, ALeftoverTemporaryFileOfACrashDisturbsNothing) {
    WriteState(R"({"volumes": [{"name": "V"}],
        "connections": [{"number": 1, "user": "u", "openFiles": [{"volume": "V", "paths": ["/a", "/b"]}]}]})");
    dir_.Write("state.json.tmp.Ab12Cd", "{\"volumes\": [{\"na");
    ASSERT_EQ(Ext_CloseFileByFileName("/a"), 0);
    EXPECT_THAT(monitoring_test::OpenPaths(ReadState(), 1), ElementsAre("/b"));
}

TEST_F(AtomicWrite, TheReplacedFileKeepsItsMode) {
    WriteState("x");
    ASSERT_EQ(chmod(statePath_.c_str(), 0600), 0);
    std::string error;
    ASSERT_EQ(cifsmon::WriteFileAtomically(statePath_, "y", &error), 0) << error;
    struct stat status;
    ASSERT_EQ(stat(statePath_.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
}

TEST_F(AtomicWrite, ACloseWaitsForTheStateFileLock) {
    WriteState(R"({"volumes": [{"name": "V"}],
        "connections": [{"number": 1, "user": "u", "openFiles": [{"volume": "V", "paths": ["/a"]}]}]})");
    const std::string before = StateBytes();
    auto lock = std::make_unique<cifsmon::StateFileLock>();
    std::string error;
    ASSERT_EQ(lock->Acquire(statePath_, &error), 0) << error;
    std::atomic<bool> closed{false};
    std::thread closer([&] {
        EXPECT_EQ(Ext_CloseFileByFileName("/a"), 0);
        closed = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(closed.load()) << "the close went ahead while another writer held the lock";
    EXPECT_EQ(StateBytes(), before);
    lock.reset();
    closer.join();
    EXPECT_TRUE(ReadState().connections[0].openFiles.empty());
}

// The demo backend does not read a state file again while its stamp is the one it had, once its
// times have settled (two seconds); any change to the file in place shows in its change time.
TEST_F(AtomicWrite, ASettledFileChangedInPlaceWithTheSameSizeIsReadAgain) {
    WriteState(R"({"volumes": [], "connections": [{"number": 1, "user": "aaa"}]})");
    std::this_thread::sleep_for(std::chrono::milliseconds(2200));
    int count = 0;
    ConnListNode *list = nullptr;
    ASSERT_EQ(Ext_ListConnDetails(&count, &list), 0);
    ASSERT_EQ(count, 1);
    EXPECT_STREQ(list->userName, "aaa");
    FreeConnListNodes(&list);

    struct stat before;
    ASSERT_EQ(stat(statePath_.c_str(), &before), 0);
    WriteState(R"({"volumes": [], "connections": [{"number": 1, "user": "bbb"}]})");
    struct stat after;
    ASSERT_EQ(stat(statePath_.c_str(), &after), 0);
    ASSERT_EQ(before.st_ino, after.st_ino) << "the file was to be rewritten in place";
    ASSERT_EQ(before.st_size, after.st_size);
    ASSERT_EQ(Ext_ListConnDetails(&count, &list), 0);
    ASSERT_EQ(count, 1);
    EXPECT_STREQ(list->userName, "bbb");
    FreeConnListNodes(&list);
}

TEST_F(AtomicWrite, TheStampOfAFileChangesWithItsReplacementOnly) {
    WriteState("one");
    cifsmon::FileStamp first;
    cifsmon::FileStamp again;
    std::string error;
    std::string content;
    {
        cifsmon::StateFileReader reader;
        ASSERT_EQ(reader.Open(statePath_, &error), 0) << error;
        first = reader.stamp();
        ASSERT_EQ(reader.Read(&content, &error), 0) << error;
        EXPECT_EQ(content, "one");
    }
    {
        cifsmon::StateFileReader reader;
        ASSERT_EQ(reader.Open(statePath_, &error), 0) << error;
        again = reader.stamp();
    }
    EXPECT_EQ(first, again);
    EXPECT_EQ(first.size, 3);
    ASSERT_EQ(cifsmon::WriteFileAtomically(statePath_, "two", &error), 0) << error;
    cifsmon::StateFileReader reader;
    ASSERT_EQ(reader.Open(statePath_, &error), 0) << error;
    EXPECT_NE(reader.stamp().inode, first.inode);
    EXPECT_NE(reader.stamp(), first);
    ASSERT_EQ(reader.Read(&content, &error), 0) << error;
    EXPECT_EQ(content, "two");

    cifsmon::StateFileReader missing;
    EXPECT_EQ(missing.Open(statePath_ + ".none", &error), cifsmon::kStatusStateMissing);
}

}  // namespace
