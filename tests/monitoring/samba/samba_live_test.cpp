// The Samba backend against a real smbd: a private server on loopback with its own
// configuration and state directories, clients that hold files open, and the interface of
// cifsmonitoring/monitoring.h listing and closing them.
//
// Skips (with the reason) unless run as root with samba and smbclient installed, or when the
// server does not start. The server, its helpers and the clients are stopped on every path;
// each wait is bounded.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cifsmonitoring/administration.h"
#include "cifsmonitoring/failure.h"
#include "cifsmonitoring/monitoring.h"
#include "monitoring/samba/samba_server.h"
#include "monitoring/settings.h"
#include "monitoring/status.h"

namespace {

// The records are packed: a comparison must not bind a reference to one of their fields.
template <typename T>
T Value(T value) {
    return value;
}

using samba_test::Client;
using samba_test::PrivateServer;
using samba_test::WaitUntil;
using ::testing::HasSubstr;
using ::testing::UnorderedElementsAre;

// A name with blanks, HTML-special characters and an accent (SMB refuses < > " in names).
constexpr char kSpecialName[] = "b & 'c' #1 \xC3\xA9.txt";

// Path components long enough that two files below them have paths of more than 600 bytes
// whose first 508 bytes are the same.
const std::string kLongDirectory = std::string(200, 'd') + "/" + std::string(200, 'e');
const std::string kLongName = std::string(200, 'f');

// The server of these cases, with no account for closing files: none is needed.
samba_test::ServerSettings LiveSettings() {
    samba_test::ServerSettings settings;
    settings.netbiosName = "KELLIVE";
    settings.password = "Kel2cifs-live-1";
    settings.files = {"data/a.txt",
                      "data/" + std::string(kSpecialName),
                      "docs/c.txt",
                      "forced/f.txt",
                      "data/" + kLongDirectory + "/" + kLongName + "1.txt",
                      "data/" + kLongDirectory + "/" + kLongName + "2.txt"};
    return settings;
}

struct Listed {
    std::map<std::string, std::vector<std::string>> files;  // "volume/user" -> paths
    std::map<std::string, unsigned> numbers;                // user -> connection number
    std::map<std::string, ConnListNode> connections;        // user -> record
};

std::vector<std::string> VolumeNames() {
    std::vector<std::string> names;
    int count = 0;
    VolumeDetailsNode *list = nullptr;
    EXPECT_EQ(Ext_ListVolumeDetails(&count, &list), 0);
    for (VolumeDetailsNode *node = list; node != nullptr; node = node->next) {
        names.emplace_back(node->volumeName);
    }
    FreeVolsDetailsNode(&list);
    return names;
}

Listed List() {
    Listed listed;
    for (const std::string &volume : VolumeNames()) {
        int count = 0;
        VolFileListNode *list = nullptr;
        if (Ext_ListVolFileDetails(volume.c_str(), &list, &count) != 0) {
            continue;
        }
        for (VolFileListNode *node = list; node != nullptr; node = node->next) {
            std::vector<std::string> &paths = listed.files[volume + "/" + node->userName];
            for (int i = 0; i < node->fileCount; ++i) {
                paths.emplace_back(node->fileNames[i]);
            }
        }
        FreeVolFileListNodes(&list);
    }
    int count = 0;
    ConnListNode *list = nullptr;
    if (Ext_ListConnDetails(&count, &list) == 0) {
        for (ConnListNode *node = list; node != nullptr; node = node->next) {
            listed.numbers[node->userName] = node->connNumber;
            listed.connections[node->userName] = *node;
        }
    }
    FreeConnListNodes(&list);
    return listed;
}

std::size_t FileCount(const Listed &listed, const std::string &key) {
    auto found = listed.files.find(key);
    return found == listed.files.end() ? 0 : found->second.size();
}

class SambaLiveTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (geteuid() != 0) {
            skipReason_ = new std::string("needs root: smbd and smbcontrol run as root");
            return;
        }
        server_ = new PrivateServer(LiveSettings());
        std::string reason = server_->Start();
        if (!reason.empty()) {
            skipReason_ = new std::string(reason);
            delete server_;
            server_ = nullptr;
        }
    }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
        delete skipReason_;
        skipReason_ = nullptr;
    }

    void SetUp() override {
        if (server_ == nullptr) {
            GTEST_SKIP() << (skipReason_ != nullptr ? *skipReason_ : "no server");
        }
        started_ = static_cast<uint64_t>(time(nullptr));
        setenv(cifsmon::kBackendVariable, "samba", 1);
        setenv(cifsmon::kSambaConfVariable, server_->Conf().c_str(), 1);
        setenv(cifsmon::kSambaNumbersVariable, server_->Path("state/numbers.json").c_str(), 1);
        setenv(cifsmon::kSambaIntervalVariable, "0", 1);
        unsetenv(cifsmon::kSambaRpcAuthVariable);
        unsetenv(cifsmon::kSambaTimeoutVariable);
    }
    void TearDown() override {
        for (const char *variable :
             {cifsmon::kBackendVariable, cifsmon::kSambaConfVariable,
              cifsmon::kSambaNumbersVariable, cifsmon::kSambaIntervalVariable,
              cifsmon::kSambaRpcAuthVariable, cifsmon::kSambaTimeoutVariable}) {
            unsetenv(variable);
        }
    }

    // Opens `name` in the client and waits until the library lists `count` files of `key`.
    void Open(Client &client, const std::string &name, const std::string &key, std::size_t count) {
        client.Send("open \"" + name + "\"");
        ASSERT_TRUE(WaitUntil([&] { return FileCount(List(), key) == count; }, 20))
            << "the open of " << name << " never showed under " << key;
    }

    std::string Data(const std::string &name) const { return server_->Path("data/" + name); }
    std::string Docs(const std::string &name) const { return server_->Path("docs/" + name); }

    static PrivateServer *server_;
    static std::string *skipReason_;
    uint64_t started_ = 0;
};

PrivateServer *SambaLiveTest::server_ = nullptr;
std::string *SambaLiveTest::skipReason_ = nullptr;

TEST_F(SambaLiveTest, ListsSharesOpenFilesAndConnections) {
    Client root(*server_, "data", false, "list-root");
    Client guest(*server_, "docs", true, "list-guest");
    Open(root, "a.txt", "data/root", 1);
    Open(root, kSpecialName, "data/root", 2);
    Open(guest, "c.txt", "docs/nobody", 1);

    EXPECT_THAT(VolumeNames(), ::testing::ElementsAre("data", "docs", "forced"));
    Listed listed = List();
    EXPECT_THAT(listed.files["data/root"], UnorderedElementsAre(Data("a.txt"), Data(kSpecialName)));
    EXPECT_THAT(listed.files["docs/nobody"], ::testing::ElementsAre(Docs("c.txt")));
    EXPECT_EQ(listed.files.size(), 2u);

    ASSERT_EQ(listed.numbers.size(), 2u);
    const unsigned rootNumber = listed.numbers.at("root");
    const unsigned guestNumber = listed.numbers.at("nobody");
    EXPECT_NE(rootNumber, guestNumber);
    for (const auto &[user, node] : listed.connections) {
        SCOPED_TRACE(user);
        EXPECT_STREQ(node.netAddress, "127.0.0.1");
        EXPECT_STREQ(node.connType, "Local");
        EXPECT_GE(Value(node.connNumber), 1u);
        // The server process has read the client's requests and the files.
        EXPECT_GT(Value(node.bytesRead), 0u);
        EXPECT_GT(Value(node.requestCount), 0u);
        EXPECT_GE(node.loginTime + 5, started_);
        EXPECT_LE(Value(node.loginTime), static_cast<uint64_t>(time(nullptr)) + 5);
    }

    // Stable across requests, and across a new backend as a console restart makes.
    EXPECT_EQ(List().numbers, listed.numbers);
    setenv(cifsmon::kSambaTimeoutVariable, "11", 1);
    EXPECT_EQ(List().numbers, listed.numbers);

    UserInfo_s *info = nullptr;
    ASSERT_EQ(Ext_GetConnInfo(rootNumber, &info), 0);
    ASSERT_NE(info, nullptr);
    EXPECT_STREQ(info->userName, "root");
    EXPECT_STREQ(info->privileges, "Supervisor");
    EXPECT_STREQ(info->loginStatus, "Logged-In");
    EXPECT_STREQ(info->connType, "Local");
    ASSERT_EQ(Value(info->openFileCount), 2);
    EXPECT_THAT((std::vector<std::string>{info->openFileNames[0], info->openFileNames[1]}),
                UnorderedElementsAre(Data("a.txt"), Data(kSpecialName)));
    ASSERT_GE(Value(info->secEquivCount), 1u);
    EXPECT_STREQ(info->sevDNs[0], "root");
    FreeUserDetailsNode(&info);

    ASSERT_EQ(Ext_GetConnInfo(guestNumber, &info), 0);
    EXPECT_STREQ(info->userName, "nobody");
    EXPECT_STREQ(info->privileges, "Non-Supervisor");
    EXPECT_EQ(Value(info->openFileCount), 1);
    FreeUserDetailsNode(&info);
}

TEST_F(SambaLiveTest, TrafficIsTheConnectionsOwnBytes) {
    constexpr uint64_t kSize = 50'000'000;
    const std::string big(kSize, 'x');
    const std::string download = server_->Path("data/big.bin");
    const std::string upload = server_->Path("log/upload.bin");
    for (const std::string &path : {download, upload}) {
        std::ofstream(path, std::ios::binary) << big;
        chmod(path.c_str(), 0666);
    }
    Client root(*server_, "data", false, "traffic");
    Client other(*server_, "data", false, "traffic-other");
    Open(root, "a.txt", "data/root", 1);
    auto counters = [] {
        std::map<uint64_t, ConnListNode> byNumber;
        int count = 0;
        ConnListNode *list = nullptr;
        EXPECT_EQ(Ext_ListConnDetails(&count, &list), 0);
        for (ConnListNode *node = list; node != nullptr; node = node->next) {
            byNumber[node->connNumber] = *node;
        }
        FreeConnListNodes(&list);
        return byNumber;
    };
    const auto before = counters();
    ASSERT_EQ(before.size(), 2u);
    root.Send("get big.bin /dev/null");
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (const auto &[number, node] : counters()) {
                if (Value(node.bytesRead) >= before.at(number).bytesRead + kSize) {
                    return true;
                }
            }
            return false;
        },
        30));
    root.Send("put " + upload + " uploaded.bin");
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (const auto &[number, node] : counters()) {
                if (Value(node.bytesWritten) >= before.at(number).bytesWritten + kSize) {
                    return true;
                }
            }
            return false;
        },
        30));
    // About 50 MB each way on the client's own connection, and nothing on the other's.
    int moved = 0;
    for (const auto &[number, node] : counters()) {
        const ConnListNode &was = before.at(number);
        const uint64_t read = Value(node.bytesRead) - Value(was.bytesRead);
        const uint64_t written = Value(node.bytesWritten) - Value(was.bytesWritten);
        if (read < kSize) {
            EXPECT_LT(read, 100'000u) << "a connection that moved no file";
            EXPECT_LT(written, 100'000u);
            continue;
        }
        ++moved;
        EXPECT_LT(read, kSize + kSize / 20);
        EXPECT_GE(written, kSize);
        EXPECT_LT(written, kSize + kSize / 20);
        EXPECT_GT(Value(node.requestCount), Value(was.requestCount));
    }
    EXPECT_EQ(moved, 1);
    std::filesystem::remove(download);
    std::filesystem::remove(server_->Path("data/uploaded.bin"));
    std::filesystem::remove(upload);
}

TEST_F(SambaLiveTest, OpensOnAForceUserShareShowUnderTheirConnection) {
    Client root(*server_, "forced", false, "forced-root");
    // The open carries nobody's uid; it is still root's connection's file, on its volume.
    Open(root, "f.txt", "forced/root", 1);
    Listed listed = List();
    EXPECT_THAT(listed.files["forced/root"], ::testing::ElementsAre(server_->Path("forced/f.txt")));
    UserInfo_s *info = nullptr;
    ASSERT_EQ(Ext_GetConnInfo(listed.numbers.at("root"), &info), 0);
    EXPECT_EQ(Value(info->openFileCount), 1);
    FreeUserDetailsNode(&info);
}

TEST_F(SambaLiveTest, ClosingAConnectionsFilesKeepsItsSessionAndShares) {
    Client root(*server_, "data", false, "byid-root");
    Client guest(*server_, "docs", true, "byid-guest");
    Open(root, "a.txt", "data/root", 1);
    Open(guest, "c.txt", "docs/nobody", 1);
    const Listed before = List();
    const unsigned guestNumber = before.numbers.at("nobody");

    ASSERT_EQ(Ext_CloseFileByID(guestNumber), 0);
    Listed after = List();
    EXPECT_EQ(FileCount(after, "docs/nobody"), 0u) << "the listing after a close sees it done";
    EXPECT_EQ(after.numbers, before.numbers) << "both sessions stay, under their numbers";
    EXPECT_EQ(FileCount(after, "data/root"), 1u) << "the other connection keeps its file";
    UserInfo_s *info = nullptr;
    ASSERT_EQ(Ext_GetConnInfo(guestNumber, &info), 0);
    EXPECT_EQ(Value(info->openFileCount), 0);
    FreeUserDetailsNode(&info);

    // Its handle is gone; its tree connect and session work on.
    guest.Send("close 1");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    guest.Send("ls");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    std::string output = guest.Finish();
    EXPECT_THAT(output, HasSubstr("NT_STATUS_FILE_CLOSED"));
    EXPECT_THAT(output, HasSubstr("c.txt  "));
    EXPECT_THAT(output, ::testing::Not(HasSubstr("NT_STATUS_NETWORK_NAME_DELETED")));
}

TEST_F(SambaLiveTest, ClosingOneFileClosesThatOpenAloneWithoutAnAccount) {
    Client root(*server_, "data", false, "byname");
    Open(root, "a.txt", "data/root", 1);
    Open(root, kSpecialName, "data/root", 2);
    const unsigned number = List().numbers.at("root");

    testing::internal::CaptureStderr();
    int status = Ext_CloseFileByFileName(Data("a.txt").c_str());
    std::string messages = testing::internal::GetCapturedStderr();
    ASSERT_EQ(status, 0) << messages;
    EXPECT_THAT(messages, HasSubstr("closed " + Data("a.txt") + " of connection " +
                                    std::to_string(number) + " (user root, process "));
    EXPECT_THAT(messages, ::testing::Not(HasSubstr("closed share")));
    Listed after = List();
    EXPECT_THAT(after.files["data/root"], ::testing::ElementsAre(Data(kSpecialName)));
    EXPECT_EQ(after.numbers.at("root"), number);

    // The client's handle of a.txt (fnum 1) is gone; that of the other file (fnum 2) and the
    // tree connect still work.
    root.Send("close 1");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    root.Send("close 2");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    root.Send("ls");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    std::string output = root.Finish();
    EXPECT_THAT(output, HasSubstr("close 1: NT_STATUS_FILE_CLOSED"));
    EXPECT_THAT(output, ::testing::Not(HasSubstr("close 2:")));
    EXPECT_THAT(output, HasSubstr("a.txt  "));
    EXPECT_THAT(output, ::testing::Not(HasSubstr("NT_STATUS_NETWORK_NAME_DELETED")));
}

TEST_F(SambaLiveTest, APathTooLongForThePagesClosesByItsShortenedName) {
    Client root(*server_, "data", false, "long");
    std::string windows = kLongDirectory;
    std::replace(windows.begin(), windows.end(), '/', '\\');
    Open(root, windows + "\\" + kLongName + "1.txt", "data/root", 1);
    Open(root, windows + "\\" + kLongName + "2.txt", "data/root", 2);
    const std::string first = Data(kLongDirectory + "/" + kLongName + "1.txt");
    ASSERT_GT(first.size(), 600u);
    EXPECT_THAT(List().files["data/root"],
                UnorderedElementsAre(first, Data(kLongDirectory + "/" + kLongName + "2.txt")));

    // The first 508 bytes and the mark, as a page shows a path cut to 511 bytes.
    const std::string shortened = first.substr(0, 508) + CIFSMON_CUT_MARK;
    EXPECT_EQ(Ext_CloseFileByFileName(shortened.c_str()), cifsmon::kStatusAmbiguous);
    char text[256];
    EXPECT_EQ(Ext_LastFailure(text, sizeof text), cifsmon::kStatusAmbiguous);
    EXPECT_THAT(text, HasSubstr("2 open files"));
    EXPECT_EQ(FileCount(List(), "data/root"), 2u);
    // Once the other is closed, the shortened name stands for one file alone.
    ASSERT_EQ(Ext_CloseFileByFileName(Data(kLongDirectory + "/" + kLongName + "2.txt").c_str()), 0);
    ASSERT_EQ(Ext_CloseFileByFileName(shortened.c_str()), 0);
    EXPECT_EQ(FileCount(List(), "data/root"), 0u);
}

TEST_F(SambaLiveTest, AShareReconnectKeepsTheLoginTime) {
    Client root(*server_, "data", false, "reconnect");
    Open(root, "a.txt", "data/root", 1);
    const uint64_t login = List().connections.at("root").loginTime;
    std::this_thread::sleep_for(std::chrono::seconds(2));
    root.Send("close 1");
    root.Send("tdis");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    root.Send("tcon data");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_EQ(Value(List().connections.at("root").loginTime), login);
    EXPECT_THAT(root.Finish(), ::testing::Not(HasSubstr("NT_STATUS")));
}

TEST_F(SambaLiveTest, ListingsLeaveTheServerLogAlone) {
    Client root(*server_, "data", false, "quiet");
    Open(root, "a.txt", "data/root", 1);
    const std::string before = testing_support::ReadFile(server_->Log());
    for (int i = 0; i < 5; ++i) {
        List();
    }
    EXPECT_EQ(testing_support::ReadFile(server_->Log()), before);
}

TEST_F(SambaLiveTest, ASessionStaysTwoMinutesAfterClosingAllItsFiles) {
    Client root(*server_, "data", false, "idle");
    Open(root, "a.txt", "data/root", 1);
    const unsigned number = List().numbers.at("root");
    ASSERT_EQ(Ext_CloseFileByID(number), 0);
    EXPECT_EQ(FileCount(List(), "data/root"), 0u);
    std::this_thread::sleep_for(std::chrono::minutes(2));
    Listed later = List();
    ASSERT_EQ(later.numbers.count("root"), 1u) << "the idle session was dropped";
    EXPECT_EQ(later.numbers.at("root"), number);
    root.Send("ls");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    std::string output = root.Finish();
    EXPECT_THAT(output, HasSubstr("a.txt  "));
    EXPECT_THAT(output, ::testing::Not(HasSubstr("NT_STATUS")));
}

// Every open file as "<user> <path>" (Ext_ListOpenFiles).
std::vector<std::string> OpenFiles() {
    std::vector<std::string> files;
    CifsOpenFile *list = nullptr;
    size_t count = 0;
    EXPECT_EQ(Ext_ListOpenFiles(&list, &count), 0);
    for (size_t i = 0; i < count; ++i) {
        files.push_back(std::string(list[i].user) + " " + list[i].path);
    }
    Ext_FreeOpenFiles(&list);
    return files;
}

TEST_F(SambaLiveTest, ClosingOneConnectionsOpenLeavesAnotherConnectionsOpenOfTheFile) {
    Client root(*server_, "docs", false, "exact-root");
    Client guest(*server_, "docs", true, "exact-guest");
    Open(root, "c.txt", "docs/root", 1);
    Open(guest, "c.txt", "docs/nobody", 1);
    const Listed before = List();
    ASSERT_THAT(OpenFiles(),
                UnorderedElementsAre("root " + Docs("c.txt"), "nobody " + Docs("c.txt")));

    CifsOpenRef target{static_cast<uint16_t>(before.numbers.at("nobody")), nullptr};
    const std::string path = Docs("c.txt");
    target.path = path.c_str();
    CifsOpenFile *plan = nullptr;
    size_t planned = 0;
    ASSERT_EQ(Ext_PlanClose(&target, 1, &plan, &planned), 0);
    ASSERT_EQ(planned, 1u) << "the close message closes the guest's handle alone";
    EXPECT_STREQ(plan[0].user, "nobody");
    Ext_FreeOpenFiles(&plan);

    ASSERT_EQ(Ext_CloseOpenFile(target.connNumber, target.path), 0);
    char text[512];
    EXPECT_EQ(Ext_LastFailure(text, sizeof text), 0);
    EXPECT_STREQ(text, "") << "nothing else went";
    EXPECT_THAT(OpenFiles(), ::testing::ElementsAre("root " + Docs("c.txt")));
    EXPECT_EQ(List().numbers, before.numbers) << "both sessions stay";
    EXPECT_EQ(Ext_CloseOpenFile(target.connNumber, target.path), cifsmon::kStatusNotFound);

    // The guest's handle is gone; root's still works.
    guest.Send("close 1");
    root.Send("close 1");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_THAT(guest.Finish(), HasSubstr("close 1: NT_STATUS_FILE_CLOSED"));
    EXPECT_THAT(root.Finish(), ::testing::Not(HasSubstr("NT_STATUS")));
}

TEST_F(SambaLiveTest, EndingASessionDisconnectsThatClientAlone) {
    Client root(*server_, "data", false, "end-root");
    Client guest(*server_, "docs", true, "end-guest");
    Open(root, "a.txt", "data/root", 1);
    Open(guest, "c.txt", "docs/nobody", 1);
    const Listed before = List();
    const unsigned guestNumber = before.numbers.at("nobody");

    ASSERT_EQ(Ext_EndSession(guestNumber), 0);
    char text[512];
    EXPECT_EQ(Ext_LastFailure(text, sizeof text), 0);
    EXPECT_STREQ(text, "") << "its server process served no other session";
    const Listed after = List();
    EXPECT_EQ(after.numbers.count("nobody"), 0u) << "the session is gone";
    EXPECT_EQ(after.numbers.at("root"), before.numbers.at("root"));
    EXPECT_EQ(FileCount(after, "docs/nobody"), 0u);
    EXPECT_EQ(FileCount(after, "data/root"), 1u);
    EXPECT_EQ(Ext_EndSession(guestNumber), cifsmon::kStatusNotFound);

    // The guest's connection is dropped; root works on.
    guest.Send("ls");
    root.Send("ls");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_THAT(guest.Finish(), HasSubstr("NT_STATUS_CONNECTION_DISCONNECTED"));
    const std::string output = root.Finish();
    EXPECT_THAT(output, HasSubstr("a.txt  "));
    EXPECT_THAT(output, ::testing::Not(HasSubstr("NT_STATUS")));
}

TEST_F(SambaLiveTest, SessionsAndOpensCarryTheServersDetails) {
    Client sealed(*server_, "data", false, "details-sealed", {"--client-protection=encrypt"});
    Client guest(*server_, "docs", true, "details-guest");
    Open(sealed, "a.txt", "data/root", 1);
    Open(guest, "c.txt", "docs/nobody", 1);

    CifsSession *sessions = nullptr;
    size_t count = 0;
    ASSERT_EQ(Ext_ListSessions(&sessions, &count), 0);
    ASSERT_EQ(count, 2u);
    const uint64_t now = static_cast<uint64_t>(time(nullptr));
    for (size_t i = 0; i < count; ++i) {
        const CifsSession &s = sessions[i];
        const std::string user = s.user;
        SCOPED_TRACE(user);
        EXPECT_STREQ(s.dialect, "SMB3_11");
        EXPECT_STREQ(s.client, "127.0.0.1");
        EXPECT_STREQ(s.machine, "") << "an SMB2 client names no machine";
        EXPECT_EQ(Value(s.node), CIFSMON_NO_NODE);
        EXPECT_EQ(Value(s.openFileCount), 1u);
        EXPECT_LE(Value(s.idleSeconds), now - started_ + 5) << "known, and since the test began";
        EXPECT_GT(Value(s.bytesIn), 0u);
        if (user == "root") {
            // The client seals its tree connects, which the server reports as the session's
            // partial encryption.
            EXPECT_THAT(s.encryption, HasSubstr("AES-"));
            EXPECT_THAT(s.signing, HasSubstr("AES-"));
        } else {
            EXPECT_STREQ(s.encryption, "no");
        }
    }
    Ext_FreeSessions(&sessions);

    CifsOpenFile *files = nullptr;
    ASSERT_EQ(Ext_ListOpenFiles(&files, &count), 0);
    ASSERT_EQ(count, 2u);
    for (size_t i = 0; i < count; ++i) {
        const CifsOpenFile &f = files[i];
        SCOPED_TRACE(f.path);
        EXPECT_GE(Value(f.openedAt) + 5, started_);
        EXPECT_LE(Value(f.openedAt), now + 5);
        // smbclient's open asks for reading and writing and lets others read and write.
        EXPECT_EQ(Value(f.access), CIFSMON_ACCESS_READ | CIFSMON_ACCESS_WRITE);
        EXPECT_EQ(Value(f.shareMode), CIFSMON_SHARE_READ | CIFSMON_SHARE_WRITE);
        EXPECT_STREQ(f.oplock, "none");
        EXPECT_EQ(Value(f.node), CIFSMON_NO_NODE);
    }
    EXPECT_STREQ(files[0].volume, "data");
    EXPECT_EQ(std::string(files[0].path), Data("a.txt"));
    EXPECT_STREQ(files[1].volume, "docs");
    Ext_FreeOpenFiles(&files);
}

// A server of its own, since these cases stop it.
class SambaLiveFailureTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (geteuid() != 0) {
            GTEST_SKIP() << "needs root: smbd and smbcontrol run as root";
        }
        samba_test::ServerSettings settings = LiveSettings();
        settings.netbiosName = "KELDOWN";
        server_ = std::make_unique<PrivateServer>(settings);
        std::string reason = server_->Start();
        if (!reason.empty()) {
            GTEST_SKIP() << reason;
        }
        setenv(cifsmon::kBackendVariable, "samba", 1);
        setenv(cifsmon::kSambaConfVariable, server_->Conf().c_str(), 1);
        setenv(cifsmon::kSambaNumbersVariable, server_->Path("state/numbers.json").c_str(), 1);
        setenv(cifsmon::kSambaIntervalVariable, "0", 1);
        setenv(cifsmon::kSambaTimeoutVariable, "4", 1);
    }
    void TearDown() override {
        if (server_ != nullptr && server_->MainPid() > 0) {
            kill(server_->MainPid(), SIGCONT);
        }
        for (const char *variable :
             {cifsmon::kBackendVariable, cifsmon::kSambaConfVariable,
              cifsmon::kSambaNumbersVariable, cifsmon::kSambaIntervalVariable,
              cifsmon::kSambaTimeoutVariable}) {
            unsetenv(variable);
        }
    }

    // The status of a connection listing and the reason the library gives.
    static std::pair<int, std::string> ListConnections() {
        int count = 0;
        ConnListNode *list = nullptr;
        int status = Ext_ListConnDetails(&count, &list);
        char text[512];
        Ext_LastFailure(text, sizeof text);
        FreeConnListNodes(&list);
        return {status, text};
    }

    std::unique_ptr<PrivateServer> server_;
};

TEST_F(SambaLiveFailureTest, AHungOrStoppedServerIsSaidToBeSo) {
    ASSERT_EQ(ListConnections().first, 0);
    const pid_t main = server_->MainPid();
    ASSERT_GT(main, 0);
    ASSERT_EQ(kill(main, SIGSTOP), 0);
    // Said before the tool's time limit (4 s) kills anything: not a tool that timed out.
    auto [hung, hungReason] = ListConnections();
    EXPECT_EQ(hung, cifsmon::kStatusServerNotRunning);
    EXPECT_THAT(hungReason, HasSubstr("smbd does not answer"));
    ASSERT_EQ(kill(main, SIGCONT), 0);
    EXPECT_EQ(ListConnections().first, 0);

    server_->Stop();
    auto [down, downReason] = ListConnections();
    EXPECT_EQ(down, cifsmon::kStatusServerNotRunning);
    EXPECT_EQ(downReason, "smbd is not running.");
}

}  // namespace
