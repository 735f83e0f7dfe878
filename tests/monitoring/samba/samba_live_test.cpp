// The Samba backend against a real smbd: a private server on loopback with its own
// configuration and state directories, clients that hold files open, and the interface of
// cifsmonitoring/monitoring.h listing and closing them.
//
// Skips (with the reason) unless run as root with samba and smbclient installed, or when the
// server does not start. The server, its helpers and the clients are stopped on every path;
// each wait is bounded.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "cifsmonitoring/monitoring.h"
#include "monitoring/samba/samba_server.h"
#include "monitoring/settings.h"

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

// The server of these cases, with the RPC account for the single-file close over RPC (checked
// when port 445 is free on loopback).
samba_test::ServerSettings LiveSettings() {
    samba_test::ServerSettings settings;
    settings.netbiosName = "KELLIVE";
    settings.password = "Kel2cifs-live-1";
    settings.files = {"data/a.txt", "data/" + std::string(kSpecialName), "docs/c.txt"};
    settings.rpcAccount = true;
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

    EXPECT_THAT(VolumeNames(), ::testing::ElementsAre("data", "docs"));
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

TEST_F(SambaLiveTest, ClosingAConnectionsFilesKeepsItsSession) {
    Client root(*server_, "data", false, "byid-root");
    Client guest(*server_, "docs", true, "byid-guest");
    Open(root, "a.txt", "data/root", 1);
    Open(guest, "c.txt", "docs/nobody", 1);
    const Listed before = List();
    const unsigned guestNumber = before.numbers.at("nobody");

    ASSERT_EQ(Ext_CloseFileByID(guestNumber), 0);
    ASSERT_TRUE(WaitUntil([] { return FileCount(List(), "docs/nobody") == 0; }, 20));
    Listed after = List();
    EXPECT_EQ(after.numbers, before.numbers) << "both sessions stay, under their numbers";
    EXPECT_EQ(FileCount(after, "data/root"), 1u) << "the other connection keeps its file";
    UserInfo_s *info = nullptr;
    ASSERT_EQ(Ext_GetConnInfo(guestNumber, &info), 0);
    EXPECT_EQ(Value(info->openFileCount), 0);
    FreeUserDetailsNode(&info);

    // The client's tree connect is gone, its session is not.
    guest.Send("ls");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_THAT(guest.Finish(), HasSubstr("NT_STATUS_NETWORK_NAME_DELETED"));
}

TEST_F(SambaLiveTest, ClosingOneFileWithoutRpcClosesItsShareInTheProcess) {
    Client root(*server_, "data", false, "byname-share");
    Open(root, "a.txt", "data/root", 1);
    Open(root, kSpecialName, "data/root", 2);
    const unsigned number = List().numbers.at("root");

    testing::internal::CaptureStderr();
    int status = Ext_CloseFileByFileName(Data("a.txt").c_str());
    std::string messages = testing::internal::GetCapturedStderr();
    ASSERT_EQ(status, 0) << messages;
    EXPECT_THAT(messages, HasSubstr("closed share data in connection " + std::to_string(number) +
                                    " (user root, process "));
    EXPECT_THAT(messages,
                HasSubstr("also closed its other files on that share: " + Data(kSpecialName)));
    ASSERT_TRUE(WaitUntil([] { return FileCount(List(), "data/root") == 0; }, 20));
    EXPECT_EQ(List().numbers.at("root"), number);
    root.Send("ls");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_THAT(root.Finish(), HasSubstr("NT_STATUS_NETWORK_NAME_DELETED"));
}

TEST_F(SambaLiveTest, ClosingOneFileOverRpcClosesThatFileAlone) {
    if (!server_->rpc()) {
        GTEST_SKIP() << "port 445 on loopback is taken or the RPC account could not be set up";
    }
    setenv(cifsmon::kSambaRpcAuthVariable, server_->RpcAuth().c_str(), 1);
    Client root(*server_, "data", false, "byname-rpc");
    Open(root, "a.txt", "data/root", 1);
    Open(root, kSpecialName, "data/root", 2);

    testing::internal::CaptureStderr();
    int status = Ext_CloseFileByFileName(Data("a.txt").c_str());
    std::string messages = testing::internal::GetCapturedStderr();
    ASSERT_EQ(status, 0) << messages;
    EXPECT_THAT(messages, HasSubstr("through the server service"));
    EXPECT_THAT(messages, ::testing::Not(HasSubstr("closed share")));
    Listed after = List();
    EXPECT_THAT(after.files["data/root"], ::testing::ElementsAre(Data(kSpecialName)));

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
    EXPECT_THAT(output, HasSubstr("a.txt  "));  // a line of the listing
    EXPECT_THAT(output, ::testing::Not(HasSubstr("NT_STATUS_NETWORK_NAME_DELETED")));
}

}  // namespace
