// The state file's JSON layout, the bounded text copies, and the state file's atomic
// replacement and lock.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <thread>

#include "cifsmonitoring/monitoring.h"
#include "monitoring/state_file.h"
#include "monitoring/state_json.h"
#include "monitoring/status.h"
#include "monitoring/text.h"
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

TEST(StateJson, SerialisedStateParsesBackToTheSameState) {
    cifsmon::State state;
    state.volumes = {{"DATA", "/srv/DATA"}, {"Ünïcode \"vol\"", ""}};
    cifsmon::Connection c;
    c.number = 65535;
    c.address = "192.168.1.1";
    c.user = "CORP\\o'brien <&>";
    c.type = "Ravelin";
    c.bytesRead = UINT64_MAX;
    c.bytesWritten = 1;
    c.requestCount = UINT32_MAX;
    c.loginTime = 1733600000;
    c.loginStatus = "Not-Logged In";
    c.privileges = "Supervisor";
    c.securityEquivalences = {"cn=R&D,o=Example", "tab\there"};
    c.openFiles = {{"Ünïcode \"vol\"", {"/a\\b \"c\".doc", "/ctl\x01.txt"}}, {"DATA", {"/d"}}};
    cifsmon::Connection notUtf8;
    notUtf8.user =
        "bad\xFF\xC3(\xED\xA0\x80"
        "end";  // a stray byte, a cut sequence, a surrogate
    state.connections = {c, notUtf8};

    std::string text = cifsmon::SerializeState(state);
    cifsmon::State parsed;
    std::string error;
    ASSERT_TRUE(cifsmon::ParseState(text, &parsed, &error)) << error;
    ASSERT_EQ(parsed.connections.size(), 2u);
    EXPECT_EQ(parsed.connections[1].user,
              "bad\xEF\xBF\xBD\xEF\xBF\xBD(\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"
              "end");
    EXPECT_EQ(cifsmon::SerializeState(parsed), text);
    const cifsmon::Connection &p = parsed.connections[0];
    EXPECT_EQ(p.number, 65535);
    EXPECT_EQ(p.user, c.user);
    EXPECT_EQ(p.bytesRead, UINT64_MAX);
    EXPECT_EQ(p.requestCount, UINT32_MAX);
    EXPECT_EQ(p.securityEquivalences, c.securityEquivalences);
    ASSERT_EQ(p.openFiles.size(), 2u);
    EXPECT_EQ(p.openFiles[0].volume, "Ünïcode \"vol\"");
    EXPECT_THAT(p.openFiles[0].paths, ElementsAre("/a\\b \"c\".doc", "/ctl\x01.txt"));
    EXPECT_THAT(text, HasSubstr("\"format\": \"cifsmonitoring-demo-state\""));
}

TEST(StateJson, GroupsOfOneVolumeAreMergedInOrder) {
    cifsmon::State state;
    std::string error;
    ASSERT_TRUE(cifsmon::ParseState(R"({"volumes": [{"name": "A"}, {"name": "B"}],
        "connections": [{"number": 1, "user": "u", "openFiles": [
          {"volume": "A", "paths": ["/1"]}, {"volume": "B", "paths": ["/2"]},
          {"volume": "A", "paths": ["/3"]}, {"volume": "B", "paths": []}]}]})",
                                    &state, &error))
        << error;
    const auto &groups = state.connections[0].openFiles;
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_THAT(groups[0].paths, ElementsAre("/1", "/3"));
    EXPECT_THAT(groups[1].paths, ElementsAre("/2"));
}

TEST(StateJson, InvalidDocumentsNameTheirFirstFault) {
    const std::pair<const char *, const char *> cases[] = {
        {"", "not JSON"},
        {"[]", "document: must be an object"},
        {R"({"connections": []})", "document.volumes: is missing"},
        {R"({"volumes": {}, "connections": []})", "document.volumes: must be an array"},
        {R"({"version": 2, "volumes": [], "connections": []})", "version: must be 1"},
        {R"({"volumes": [{"path": "/x"}], "connections": []})", "volumes[0].name: is missing"},
        {R"({"volumes": [{"name": ""}], "connections": []})", "volumes[0].name: must not be empty"},
        {R"({"volumes": [{"name": "A"}, {"name": "A"}], "connections": []})",
         "volumes[1].name: repeats the volume \"A\""},
        {R"({"volumes": [], "connections": [{"user": "u"}]})", "connections[0].number: is missing"},
        {R"({"volumes": [], "connections": [{"number": -1, "user": "u"}]})",
         "connections[0].number: must be an integer from 0 to 65535"},
        {R"({"volumes": [], "connections": [{"number": 1.5, "user": "u"}]})",
         "connections[0].number: must be an integer"},
        {R"({"volumes": [], "connections": [{"number": 1}]})", "connections[0].user: is missing"},
        {R"({"volumes": [], "connections": [{"number": 1, "user": 5}]})",
         "connections[0].user: must be a text"},
        {R"({"volumes": [], "connections": [{"number": 1, "user": "a\u0000b"}]})",
         "connections[0].user: must not hold a NUL character"},
        {R"({"volumes": [], "connections": [{"number": 1, "user": "u", "requestCount": 4294967296}]})",
         "connections[0].requestCount: must be an integer from 0 to 4294967295"},
        {R"({"volumes": [], "connections": [{"number": 1, "user": "u",
             "openFiles": [{"volume": "X", "paths": ["/a"]}]}]})",
         "connections[0].openFiles[0].volume: names no listed volume (\"X\")"},
        {R"({"volumes": [{"name": "X"}], "connections": [{"number": 1, "user": "u",
             "openFiles": [{"volume": "X", "paths": ["/a", ""]}]}]})",
         "connections[0].openFiles[0].paths[1]: must not be empty"},
        {R"({"volumes": [{"name": "X"}], "connections": [{"number": 1, "user": "u",
             "securityEquivalences": "cn=x"}]})",
         "connections[0].securityEquivalences: must be an array of texts"},
        {"{\"volumes\": [{\"name\": \"\xC3\"}], \"connections\": []}", "not JSON"},
    };
    for (const auto &[document, expected] : cases) {
        cifsmon::State state;
        std::string error;
        EXPECT_FALSE(cifsmon::ParseState(document, &state, &error)) << document;
        EXPECT_THAT(error, HasSubstr(expected)) << document;
    }
}

TEST(Text, CutToFitNeverSplitsAUtf8Character) {
    EXPECT_EQ(cifsmon::CutToFit("abc", 4), "abc");
    EXPECT_EQ(cifsmon::CutToFit("abcd", 4), "abc");
    EXPECT_EQ(cifsmon::CutToFit("ab\xC3\xA9", 4), "ab");         // é
    EXPECT_EQ(cifsmon::CutToFit("a\xC3\xA9z", 4), "a\xC3\xA9");  // é fits whole
    EXPECT_EQ(cifsmon::CutToFit("ab\xE2\x80\x93", 4), "ab");     // en dash
    EXPECT_EQ(cifsmon::CutToFit("a\xF0\x9F\x98\x80", 4), "a");   // emoji
    EXPECT_EQ(cifsmon::CutToFit("\x80\x80\x80\x80\x80\x80", 5), "\x80\x80\x80\x80");  // not UTF-8
    EXPECT_EQ(cifsmon::CutToFit("abc", 1), "");

    char array[6];
    std::memset(array, 'X', sizeof array);
    cifsmon::CopyText(array, sizeof array, "abcdefgh");
    EXPECT_EQ(std::string(array, sizeof array), std::string("abcde\0", 6));
    std::memset(array, 'X', sizeof array);
    cifsmon::CopyText(array, sizeof array, "ab");
    EXPECT_EQ(std::string(array, sizeof array), std::string("ab\0\0\0\0", 6));
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
