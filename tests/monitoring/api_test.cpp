// The interface of cifsmonitoring/monitoring.h on the demo backend: listings against a state
// file written by the test, record fields, cut texts, the Free calls, closes and failures.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstring>
#include <string>
#include <vector>

#include "cifsmonitoring/monitoring.h"
#include "monitoring/records.h"
#include "monitoring/status.h"
#include "monitoring_fixture.h"

namespace {

// The records are packed: gtest binds its arguments by reference, which a misaligned field may
// not be bound to. A copy is a plain value.
template <typename T>
T Copy(T value) {
    return value;
}

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr char kSmallState[] = R"({
  "volumes": [{"name": "SYS", "path": "/srv/SYS"}, {"name": "DATA"}, {"name": "EMPTY"}],
  "connections": [
    {"number": 7, "address": "10.0.0.7", "user": "CORP\\anna", "type": "Active Directory",
     "bytesRead": 5000000000, "bytesWritten": 12, "requestCount": 4000000000,
     "loginTime": 1700000000, "loginStatus": "Logged-In", "privileges": "Supervisor",
     "securityEquivalences": ["CN=Admins", "CN=Users"],
     "openFiles": [{"volume": "DATA", "paths": ["/srv/DATA/a.doc", "/srv/DATA/shared.xls"]},
                   {"volume": "SYS", "paths": ["/srv/SYS/login.txt"]}]},
    {"number": 3, "address": "10.0.0.3", "user": "cn=bob,o=Example", "type": "Ravelin",
     "bytesRead": 1, "bytesWritten": 2, "requestCount": 3, "loginTime": 4,
     "loginStatus": "Not-Logged In", "privileges": "Non-Supervisor",
     "openFiles": [{"volume": "DATA", "paths": ["/srv/DATA/shared.xls", "/srv/DATA/b <x>.pdf"]}]},
    {"number": 9, "user": "idle"}
  ]})";

// The texts of a library-made array of `count` entries, which must end in a null entry.
std::vector<std::string> Texts(char **array, std::size_t count) {
    std::vector<std::string> texts;
    EXPECT_NE(array, nullptr);
    if (array == nullptr) {
        return texts;
    }
    for (std::size_t i = 0; i < count; ++i) {
        texts.emplace_back(array[i] != nullptr ? array[i] : "<null>");
    }
    EXPECT_EQ(array[count], nullptr) << "the array does not end after its count";
    return texts;
}

// The array holds exactly `text` and zeros after it.
template <std::size_t N>
void ExpectArrayText(const char (&array)[N], const std::string &text) {
    ASSERT_LT(text.size(), N);
    EXPECT_EQ(std::string(array, text.size()), text);
    for (std::size_t i = text.size(); i < N; ++i) {
        ASSERT_EQ(array[i], '\0') << "byte " << i;
    }
}

class ApiTest : public monitoring_test::StateFileTest {
  protected:
    void SetUp() override { WriteState(kSmallState); }
};

TEST_F(ApiTest, ListVolumeDetailsListsEveryVolumeInOrder) {
    int count = -1;
    VolumeDetailsNode *list = nullptr;
    ASSERT_EQ(Ext_ListVolumeDetails(&count, &list), 0);
    ASSERT_EQ(count, 3);
    std::vector<std::string> names;
    for (VolumeDetailsNode *node = list; node != nullptr; node = node->next) {
        names.emplace_back(node->volumeName);
    }
    EXPECT_THAT(names, ElementsAre("SYS", "DATA", "EMPTY"));
    ExpectArrayText(list->volumeName, "SYS");
    EXPECT_EQ(FreeVolsDetailsNode(&list), 0);
    EXPECT_EQ(list, nullptr);
}

TEST_F(ApiTest, ListVolFileDetailsGivesOneNodePerConnectionWithItsFiles) {
    VolFileListNode *list = nullptr;
    int count = -1;
    ASSERT_EQ(Ext_ListVolFileDetails("DATA", &list, &count), 0);
    ASSERT_EQ(count, 2);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(Copy(list->connNumber), 7);
    ASSERT_EQ(Copy(list->fileCount), 2);
    ExpectArrayText(list->userName, "CORP\\anna");
    EXPECT_THAT(Texts(list->fileNames, 2), ElementsAre("/srv/DATA/a.doc", "/srv/DATA/shared.xls"));
    VolFileListNode *second = list->next;
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(Copy(second->connNumber), 3);
    ASSERT_EQ(Copy(second->fileCount), 2);
    ExpectArrayText(second->userName, "cn=bob,o=Example");
    EXPECT_THAT(Texts(second->fileNames, 2),
                ElementsAre("/srv/DATA/shared.xls", "/srv/DATA/b <x>.pdf"));
    EXPECT_EQ(Copy(second->next), nullptr);
    EXPECT_EQ(FreeVolFileListNodes(&list), 0);
    EXPECT_EQ(list, nullptr);

    ASSERT_EQ(Ext_ListVolFileDetails("SYS", &list, &count), 0);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(Copy(list->connNumber), 7);
    EXPECT_THAT(Texts(list->fileNames, list->fileCount), ElementsAre("/srv/SYS/login.txt"));
    FreeVolFileListNodes(&list);
}

TEST_F(ApiTest, AVolumeWithoutOpenFilesIsAnEmptyListAndAnUnknownOneAFailure) {
    VolFileListNode *list = reinterpret_cast<VolFileListNode *>(1);
    int count = -1;
    EXPECT_EQ(Ext_ListVolFileDetails("EMPTY", &list, &count), 0);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(count, 0);

    list = reinterpret_cast<VolFileListNode *>(1);
    count = -1;
    EXPECT_EQ(Ext_ListVolFileDetails("data", &list, &count), cifsmon::kStatusNotFound);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(Ext_ListVolFileDetails("", &list, &count), cifsmon::kStatusInvalidArgument);
    EXPECT_EQ(Ext_ListVolFileDetails(nullptr, &list, &count), cifsmon::kStatusInvalidArgument);
    EXPECT_EQ(Ext_ListVolFileDetails("DATA", nullptr, &count), cifsmon::kStatusInvalidArgument);
}

TEST_F(ApiTest, ListConnDetailsCarriesEveryFieldOfEveryConnection) {
    int count = -1;
    ConnListNode *list = nullptr;
    ASSERT_EQ(Ext_ListConnDetails(&count, &list), 0);
    ASSERT_EQ(count, 3);
    const ConnListNode *anna = list;
    EXPECT_EQ(Copy(anna->connNumber), 7);
    ExpectArrayText(anna->netAddress, "10.0.0.7");
    ExpectArrayText(anna->userName, "CORP\\anna");
    ExpectArrayText(anna->connType, "Active Directory");
    EXPECT_EQ(Copy(anna->requestCount), 4000000000u);
    EXPECT_EQ(Copy(anna->bytesRead), 5000000000u);
    EXPECT_EQ(Copy(anna->bytesWritten), 12u);
    EXPECT_EQ(Copy(anna->loginTime), 1700000000u);
    const ConnListNode *bob = anna->next;
    ASSERT_NE(bob, nullptr);
    EXPECT_EQ(Copy(bob->connNumber), 3);
    ExpectArrayText(bob->connType, "Ravelin");
    EXPECT_EQ(Copy(bob->requestCount), 3u);
    EXPECT_EQ(Copy(bob->bytesRead), 1u);
    EXPECT_EQ(Copy(bob->bytesWritten), 2u);
    EXPECT_EQ(Copy(bob->loginTime), 4u);
    const ConnListNode *idle = bob->next;
    ASSERT_NE(idle, nullptr);
    EXPECT_EQ(Copy(idle->connNumber), 9);
    ExpectArrayText(idle->netAddress, "");
    ExpectArrayText(idle->connType, "");
    EXPECT_EQ(Copy(idle->bytesRead) + Copy(idle->bytesWritten) + Copy(idle->requestCount) +
                  Copy(idle->loginTime),
              0u);
    EXPECT_EQ(Copy(idle->next), nullptr);
    EXPECT_EQ(FreeConnListNodes(&list), 0);
    EXPECT_EQ(list, nullptr);
}

TEST_F(ApiTest, GetConnInfoCarriesTheDetailAndTheFilesOfEveryVolume) {
    UserInfo_s *info = nullptr;
    ASSERT_EQ(Ext_GetConnInfo(7, &info), 0);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(Copy(info->connNumber), 7);
    ExpectArrayText(info->netAddress, "10.0.0.7");
    ExpectArrayText(info->privileges, "Supervisor");
    ExpectArrayText(info->loginStatus, "Logged-In");
    ExpectArrayText(info->userName, "CORP\\anna");
    ExpectArrayText(info->connType, "Active Directory");
    EXPECT_EQ(Copy(info->loginTime), 1700000000u);
    ASSERT_EQ(Copy(info->openFileCount), 3);
    EXPECT_THAT(Texts(info->openFileNames, 3),
                ElementsAre("/srv/DATA/a.doc", "/srv/DATA/shared.xls", "/srv/SYS/login.txt"));
    ASSERT_EQ(Copy(info->secEquivCount), 2u);
    EXPECT_THAT(Texts(info->sevDNs, 2), ElementsAre("CN=Admins", "CN=Users"));
    EXPECT_EQ(FreeUserDetailsNode(&info), 0);
    EXPECT_EQ(info, nullptr);

    ASSERT_EQ(Ext_GetConnInfo(9, &info), 0);
    EXPECT_EQ(Copy(info->openFileCount), 0);
    EXPECT_EQ(Copy(info->openFileNames), nullptr);
    EXPECT_EQ(Copy(info->secEquivCount), 0u);
    EXPECT_EQ(Copy(info->sevDNs), nullptr);
    FreeUserDetailsNode(&info);
}

TEST_F(ApiTest, GetConnInfoOfAnUnknownNumberHandsOutNothing) {
    for (unsigned number : {4242u, 0u, 65536u + 7u}) {
        UserInfo_s *info = reinterpret_cast<UserInfo_s *>(1);
        EXPECT_EQ(Ext_GetConnInfo(number, &info), cifsmon::kStatusNotFound) << number;
        EXPECT_EQ(info, nullptr);
    }
    EXPECT_EQ(Ext_GetConnInfo(7, nullptr), cifsmon::kStatusInvalidArgument);
}

TEST_F(ApiTest, TextsTooLongForTheirArraysAreCutAndTerminated) {
    const std::string longUser(300, 'u');
    const std::string volume(300, 'v');
    // 254 bytes and a two-byte character: the character does not fit whole and is left out.
    const std::string accented = std::string(254, 'a') + "\xC3\xA9";
    WriteState(R"({"volumes": [{"name": ")" + volume + R"("}],
      "connections": [
        {"number": 1, "user": ")" +
               longUser + R"(", "address": "2001:db8:85a3::8a2e:370:7334",
         "type": "Active Directory Forest", "privileges": ")" +
               std::string(40, 'p') + R"(",
         "loginStatus": ")" +
               std::string(40, 's') + R"(",
         "openFiles": [{"volume": ")" +
               volume + R"(", "paths": ["/f"]}]},
        {"number": 2, "user": ")" +
               accented + R"("}]})");

    int count = 0;
    VolumeDetailsNode *volumes = nullptr;
    ASSERT_EQ(Ext_ListVolumeDetails(&count, &volumes), 0);
    ExpectArrayText(volumes->volumeName, std::string(255, 'v'));
    // The cut name is what a caller has: it still names the volume.
    VolFileListNode *files = nullptr;
    ASSERT_EQ(Ext_ListVolFileDetails(volumes->volumeName, &files, &count), 0);
    ASSERT_EQ(count, 1);
    ExpectArrayText(files->userName, std::string(255, 'u'));
    FreeVolFileListNodes(&files);
    FreeVolsDetailsNode(&volumes);

    ConnListNode *connections = nullptr;
    ASSERT_EQ(Ext_ListConnDetails(&count, &connections), 0);
    ExpectArrayText(connections->netAddress, "2001:db8:85a3::");
    ExpectArrayText(connections->connType, "Active Directory Fo");
    ExpectArrayText(connections->next->userName, std::string(254, 'a'));
    FreeConnListNodes(&connections);

    UserInfo_s *info = nullptr;
    ASSERT_EQ(Ext_GetConnInfo(1, &info), 0);
    ExpectArrayText(info->privileges, std::string(31, 'p'));
    ExpectArrayText(info->loginStatus, std::string(31, 's'));
    ExpectArrayText(info->userName, std::string(255, 'u'));
    FreeUserDetailsNode(&info);
}

TEST(Records, MoreFilesThanASixteenBitCountAreSplitOverRecordsAndCappedInTheDetail) {
    cifsmon::State state;
    state.volumes = {{"V", ""}};
    cifsmon::Connection connection;
    connection.number = 4;
    connection.user = "many";
    connection.openFiles = {{"V", {}}};
    for (int i = 0; i < 65535 + 2; ++i) {
        connection.openFiles[0].paths.push_back("/f" + std::to_string(i));
    }
    state.connections = {connection};

    VolFileListNode *list = nullptr;
    int count = 0;
    ASSERT_EQ(cifsmon::BuildVolumeFileList(state, "V", &list, &count), 0);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(Copy(list->fileCount), 65535);
    ASSERT_NE(Copy(list->next), nullptr);
    EXPECT_EQ(Copy(list->next)->connNumber, 4);
    ExpectArrayText(list->next->userName, "many");
    EXPECT_THAT(Texts(list->next->fileNames, list->next->fileCount),
                ElementsAre("/f65535", "/f65536"));
    FreeVolFileListNodes(&list);

    UserInfo_s *info = nullptr;
    ASSERT_EQ(cifsmon::BuildConnectionInfo(state, 4, &info), 0);
    EXPECT_EQ(Copy(info->openFileCount), 65535);
    EXPECT_STREQ(info->openFileNames[65534], "/f65534");
    EXPECT_EQ(Copy(info->openFileNames)[65535], nullptr);
    FreeUserDetailsNode(&info);
}

TEST_F(ApiTest, FreeCallsReleaseEverythingAListingAllocated) {
    auto listEverything = [] {
        int count = 0;
        VolumeDetailsNode *volumes = nullptr;
        VolFileListNode *files = nullptr;
        ConnListNode *connections = nullptr;
        UserInfo_s *info = nullptr;
        ASSERT_EQ(Ext_ListVolumeDetails(&count, &volumes), 0);
        ASSERT_EQ(Ext_ListVolFileDetails("DATA", &files, &count), 0);
        ASSERT_EQ(Ext_ListConnDetails(&count, &connections), 0);
        ASSERT_EQ(Ext_GetConnInfo(7, &info), 0);
        FreeVolsDetailsNode(&volumes);
        FreeVolFileListNodes(&files);
        FreeConnListNodes(&connections);
        FreeUserDetailsNode(&info);
    };
    // The backend and its parsed state stay allocated after the first round; the allocator's
    // per-thread caches (counted as in use) settle after a few more.
    for (int i = 0; i < 10; ++i) {
        listEverything();
    }
    std::size_t before = mallinfo2().uordblks;
    for (int i = 0; i < 20; ++i) {
        listEverything();
    }
    EXPECT_EQ(mallinfo2().uordblks, before) << "bytes still allocated after the Free calls";
}

TEST_F(ApiTest, FreeCallsAcceptAnEmptyListAndRefuseNoPointer) {
    VolumeDetailsNode *volumes = nullptr;
    VolFileListNode *files = nullptr;
    ConnListNode *connections = nullptr;
    UserInfo_s *info = nullptr;
    EXPECT_EQ(FreeVolsDetailsNode(&volumes), 0);
    EXPECT_EQ(FreeVolFileListNodes(&files), 0);
    EXPECT_EQ(FreeConnListNodes(&connections), 0);
    EXPECT_EQ(FreeUserDetailsNode(&info), 0);
    EXPECT_NE(FreeVolsDetailsNode(nullptr), 0);
    EXPECT_NE(FreeVolFileListNodes(nullptr), 0);
    EXPECT_NE(FreeConnListNodes(nullptr), 0);
    EXPECT_NE(FreeUserDetailsNode(nullptr), 0);
}

TEST_F(ApiTest, CloseFileByFileNameClosesThePathOnEveryConnectionHoldingIt) {
    ASSERT_EQ(Ext_CloseFileByFileName("/srv/DATA/shared.xls"), 0);
    cifsmon::State state = ReadState();
    EXPECT_THAT(monitoring_test::OpenPaths(state, 7),
                ElementsAre("/srv/DATA/a.doc", "/srv/SYS/login.txt"));
    EXPECT_THAT(monitoring_test::OpenPaths(state, 3), ElementsAre("/srv/DATA/b <x>.pdf"));

    const std::string before = StateBytes();
    EXPECT_EQ(Ext_CloseFileByFileName("/srv/DATA/shared.xls"), cifsmon::kStatusNotFound);
    EXPECT_EQ(Ext_CloseFileByFileName("/srv/DATA/A.DOC"), cifsmon::kStatusNotFound);
    EXPECT_EQ(Ext_CloseFileByFileName(""), cifsmon::kStatusInvalidArgument);
    EXPECT_EQ(Ext_CloseFileByFileName(nullptr), cifsmon::kStatusInvalidArgument);
    EXPECT_EQ(StateBytes(), before);

    // The last file of a volume goes with its group; the listing follows the file.
    ASSERT_EQ(Ext_CloseFileByFileName("/srv/SYS/login.txt"), 0);
    EXPECT_EQ(ReadState().connections[0].openFiles.size(), 1u);
    VolFileListNode *list = nullptr;
    int count = -1;
    ASSERT_EQ(Ext_ListVolFileDetails("SYS", &list, &count), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(list, nullptr);
}

// One file name that is not UTF-8 spoils neither the listing nor the other names: every file
// is listed with its own bytes, and a close keeps the other such names as they are.
TEST_F(ApiTest, ANameThatIsNotUtf8SpoilsNothing) {
    WriteState(
        "{\"volumes\": [{\"name\": \"DATA\"}], \"connections\": ["
        "{\"number\": 1, \"user\": \"u\", \"openFiles\": [{\"volume\": \"DATA\", "
        "\"paths\": [\"/srv/DATA/a.doc\", \"/srv/DATA/bad\xFF.doc\"]}]},"
        "{\"number\": 2, \"user\": \"v\", \"openFiles\": [{\"volume\": \"DATA\", "
        "\"paths\": [\"/srv/DATA/also\xC3(bad\", \"/srv/DATA/b.doc\"]}]}]}");
    VolFileListNode *list = nullptr;
    int count = 0;
    ASSERT_EQ(Ext_ListVolFileDetails("DATA", &list, &count), 0);
    ASSERT_EQ(count, 2);
    EXPECT_THAT(Texts(list->fileNames, list->fileCount),
                ElementsAre("/srv/DATA/a.doc", "/srv/DATA/bad\xFF.doc"));
    EXPECT_THAT(Texts(list->next->fileNames, list->next->fileCount),
                ElementsAre("/srv/DATA/also\xC3(bad", "/srv/DATA/b.doc"));
    FreeVolFileListNodes(&list);

    ASSERT_EQ(Ext_CloseFileByFileName("/srv/DATA/bad\xFF.doc"), 0);
    ASSERT_EQ(Ext_CloseFileByFileName("/srv/DATA/b.doc"), 0);
    cifsmon::State state = ReadState();
    EXPECT_THAT(monitoring_test::OpenPaths(state, 1), ElementsAre("/srv/DATA/a.doc"));
    EXPECT_THAT(monitoring_test::OpenPaths(state, 2), ElementsAre("/srv/DATA/also\xC3(bad"));
    ASSERT_EQ(Ext_CloseFileByFileName("/srv/DATA/also\xC3(bad"), 0);
    EXPECT_THAT(monitoring_test::OpenPaths(ReadState(), 2), IsEmpty());
}

TEST_F(ApiTest, CloseFileByIDClosesEveryFileOfTheConnectionAndKeepsIt) {
    ASSERT_EQ(Ext_CloseFileByID(7), 0);
    cifsmon::State state = ReadState();
    ASSERT_EQ(state.connections.size(), 3u);
    EXPECT_THAT(monitoring_test::OpenPaths(state, 7), IsEmpty());
    EXPECT_THAT(monitoring_test::OpenPaths(state, 3),
                ElementsAre("/srv/DATA/shared.xls", "/srv/DATA/b <x>.pdf"));
    EXPECT_EQ(state.connections[0].user, "CORP\\anna");

    const std::string before = StateBytes();
    EXPECT_EQ(Ext_CloseFileByID(7), 0) << "a connection without open files closes nothing";
    EXPECT_EQ(Ext_CloseFileByID(4242), cifsmon::kStatusNotFound);
    EXPECT_EQ(Ext_CloseFileByID(65536 + 3), cifsmon::kStatusNotFound);
    EXPECT_EQ(StateBytes(), before);
}

TEST_F(ApiTest, ARepeatedNumberShowsTheFirstConnectionAndClosesThemAll) {
    WriteState(R"({"volumes": [{"name": "V"}], "connections": [
        {"number": 5, "user": "first", "openFiles": [{"volume": "V", "paths": ["/a"]}]},
        {"number": 5, "user": "second", "openFiles": [{"volume": "V", "paths": ["/b"]}]}]})");
    UserInfo_s *info = nullptr;
    ASSERT_EQ(Ext_GetConnInfo(5, &info), 0);
    ExpectArrayText(info->userName, "first");
    FreeUserDetailsNode(&info);
    ASSERT_EQ(Ext_CloseFileByID(5), 0);
    cifsmon::State state = ReadState();
    EXPECT_TRUE(state.connections[0].openFiles.empty());
    EXPECT_TRUE(state.connections[1].openFiles.empty());
}

TEST_F(ApiTest, EveryListingReadsTheStateAsItIsNow) {
    int count = 0;
    ConnListNode *list = nullptr;
    ASSERT_EQ(Ext_ListConnDetails(&count, &list), 0);
    EXPECT_EQ(count, 3);
    FreeConnListNodes(&list);
    WriteState(R"({"volumes": [], "connections": [{"number": 1, "user": "new"}]})");
    ASSERT_EQ(Ext_ListConnDetails(&count, &list), 0);
    ASSERT_EQ(count, 1);
    ExpectArrayText(list->userName, "new");
    FreeConnListNodes(&list);
}

TEST_F(ApiTest, ACorruptStateFileFailsEveryCallAndIsReportedOnce) {
    WriteState("{\"volumes\": [], \"connections\": [");
    ::testing::internal::CaptureStderr();
    int count = -1;
    VolumeDetailsNode *volumes = nullptr;
    ConnListNode *connections = nullptr;
    VolFileListNode *files = nullptr;
    UserInfo_s *info = nullptr;
    EXPECT_EQ(Ext_ListVolumeDetails(&count, &volumes), cifsmon::kStatusStateCorrupt);
    EXPECT_EQ(volumes, nullptr);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(Ext_ListConnDetails(&count, &connections), cifsmon::kStatusStateCorrupt);
    EXPECT_EQ(connections, nullptr);
    EXPECT_EQ(Ext_ListVolFileDetails("DATA", &files, &count), cifsmon::kStatusStateCorrupt);
    EXPECT_EQ(files, nullptr);
    EXPECT_EQ(Ext_GetConnInfo(7, &info), cifsmon::kStatusStateCorrupt);
    EXPECT_EQ(info, nullptr);
    EXPECT_EQ(Ext_CloseFileByID(7), cifsmon::kStatusStateCorrupt);
    EXPECT_EQ(Ext_CloseFileByFileName("/srv/DATA/a.doc"), cifsmon::kStatusStateCorrupt);
    std::string messages = ::testing::internal::GetCapturedStderr();
    EXPECT_THAT(messages, HasSubstr("cifsmonitoring: the demo state file " + statePath_ +
                                    " is invalid: not JSON"));
    EXPECT_EQ(messages.find("cifsmonitoring:"), messages.rfind("cifsmonitoring:")) << messages;
    EXPECT_EQ(StateBytes(), "{\"volumes\": [], \"connections\": [");

    // A repaired file is read again.
    WriteState(kSmallState);
    EXPECT_EQ(Ext_ListVolumeDetails(&count, &volumes), 0);
    EXPECT_EQ(count, 3);
    FreeVolsDetailsNode(&volumes);
}

TEST_F(ApiTest, AStateFileOfTheWrongLayoutNamesTheOffendingElement) {
    WriteState(R"({"volumes": [], "connections": [{"number": 70000, "user": "x"}]})");
    ::testing::internal::CaptureStderr();
    int count = 0;
    ConnListNode *list = nullptr;
    EXPECT_EQ(Ext_ListConnDetails(&count, &list), cifsmon::kStatusStateCorrupt);
    EXPECT_THAT(::testing::internal::GetCapturedStderr(),
                HasSubstr("connections[0].number: must be an integer from 0 to 65535"));
}

TEST_F(ApiTest, AMissingStateFileFailsAndSaysHowToCreateIt) {
    std::filesystem::remove(statePath_);
    ::testing::internal::CaptureStderr();
    int count = -1;
    VolumeDetailsNode *list = nullptr;
    EXPECT_EQ(Ext_ListVolumeDetails(&count, &list), cifsmon::kStatusStateMissing);
    EXPECT_EQ(Ext_CloseFileByID(7), cifsmon::kStatusStateMissing);
    std::string messages = ::testing::internal::GetCapturedStderr();
    EXPECT_THAT(messages, HasSubstr("does not exist; create it with: cifsmon-demo-gen --output " +
                                    statePath_ + "\n"));
    EXPECT_EQ(messages.find("cifsmonitoring:"), messages.rfind("cifsmonitoring:")) << messages;
    EXPECT_FALSE(std::filesystem::exists(statePath_)) << "a close must not create the state";
}

TEST_F(ApiTest, TheBackendSettingChoosesTheBackend) {
    int count = 0;
    VolumeDetailsNode *list = nullptr;
    setenv(cifsmon::kBackendVariable, "demo", 1);
    EXPECT_EQ(Ext_ListVolumeDetails(&count, &list), 0);
    FreeVolsDetailsNode(&list);

    ::testing::internal::CaptureStderr();
    // The Samba backend, with no tools where it is told to look for them.
    setenv(cifsmon::kBackendVariable, "samba", 1);
    setenv(cifsmon::kSambaToolsVariable, dir_.MakeDir("no-tools").c_str(), 1);
    EXPECT_EQ(Ext_ListVolumeDetails(&count, &list), cifsmon::kStatusToolFailed);
    EXPECT_EQ(Ext_CloseFileByID(7), cifsmon::kStatusToolFailed);
    unsetenv(cifsmon::kSambaToolsVariable);
    setenv(cifsmon::kBackendVariable, "Demo", 1);
    EXPECT_EQ(Ext_ListVolumeDetails(&count, &list), cifsmon::kStatusBackendUnavailable);
    EXPECT_EQ(list, nullptr);
    std::string messages = ::testing::internal::GetCapturedStderr();
    EXPECT_THAT(messages, HasSubstr("cifsmonitoring: testparm not found in " + dir_.str()));
    EXPECT_THAT(messages, HasSubstr("CIFSMONITORING_BACKEND=Demo: unknown backend"));

    unsetenv(cifsmon::kBackendVariable);
    EXPECT_EQ(Ext_ListVolumeDetails(&count, &list), 0);
    FreeVolsDetailsNode(&list);
}

TEST_F(ApiTest, WithoutAStatePathTheStateLiesBelowTheRoot) {
    unsetenv(cifsmon::kStateVariable);
    setenv(cifsmon::kRootVariable, (dir_.str() + "/root/").c_str(), 1);
    dir_.Write("root/var/opt/zantio/cifsmonitoring/demo-state.json",
               R"({"volumes": [{"name": "ROOTED"}], "connections": []})");
    EXPECT_EQ(cifsmon::ReadSettings().statePath,
              dir_.str() + "/root/var/opt/zantio/cifsmonitoring/demo-state.json");
    int count = 0;
    VolumeDetailsNode *list = nullptr;
    ASSERT_EQ(Ext_ListVolumeDetails(&count, &list), 0);
    ExpectArrayText(list->volumeName, "ROOTED");
    FreeVolsDetailsNode(&list);
    unsetenv(cifsmon::kRootVariable);
    EXPECT_EQ(cifsmon::ReadSettings().statePath, cifsmon::kDefaultStatePath);
}

}  // namespace
