// The interface of cifsmonitoring/monitoring.h on the Samba backend, with stand-in tools that
// print recorded outputs and log how they were called.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cifsmonitoring/administration.h"
#include "cifsmonitoring/failure.h"
#include "cifsmonitoring/monitoring.h"
#include "common/temp_dir.h"
#include "monitoring/samba/samba_close.h"
#include "monitoring/settings.h"
#include "monitoring/status.h"
#include "samba_fixture.h"

namespace {

// The records are packed: a comparison must not bind a reference to one of their fields.
template <typename T>
T Value(T value) {
    return value;
}

using samba_test::Fixture;
using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

constexpr const char *kVariables[] = {
    cifsmon::kBackendVariable,         cifsmon::kSambaConfVariable,
    cifsmon::kSambaToolsVariable,      cifsmon::kSambaNumbersVariable,
    cifsmon::kSambaIntervalVariable,   cifsmon::kSambaRpcAuthVariable,
    cifsmon::kSambaAdminGroupVariable, cifsmon::kSambaTimeoutVariable};

// Stand-ins for testparm, smbcontrol, smbstatus, net and python3 in a scratch directory:
// testparm and smbstatus print testparm.txt and status.json (exiting with the number in
// <tool>.rc, if any); smbcontrol answers num-children unless the file "down" (no smbd) or
// "hung" (no answer) exists; smbcontrol and net append their arguments to <tool>.log;
// smbstatus counts its runs in smbstatus.runs; net replaces status.json with net.after when
// that exists. python3 stands for the close helper: it counts its starts in python3.runs,
// refuses to start when "nomessaging" exists, and otherwise answers every request line (logged
// in python3.log) with "ok", or "error" when "undeliverable" exists, and 0.3 s later (as a
// server process takes its time) replaces status.json with closed.json when that exists.
class SambaApiTest : public ::testing::Test {
  protected:
    SambaApiTest() : dir_(scratch_.str()) {
        AddTool("testparm", "cat " + Path("testparm.txt") + "\nexit $(cat " + Path("testparm.rc") +
                                " 2>/dev/null || echo 0)\n");
        AddTool("smbstatus", "echo run >> " + Path("smbstatus.runs") + "\ncat " +
                                 Path("status.json") + " 2>/dev/null\n" + "cat " +
                                 Path("smbstatus.err") + " >&2 2>/dev/null\nexit $(cat " +
                                 Path("smbstatus.rc") + " 2>/dev/null || echo 0)\n");
        AddTool("smbcontrol",
                "case \"$*\" in\n*' smbd num-children')\n  [ -e " + Path("down") +
                    " ] && { echo \"Can't find pid for destination 'smbd'\" >&2; exit 1; }\n"
                    "  [ -e " +
                    Path("hung") +
                    " ] && { echo 'No replies received' >&2; exit 1; }\n"
                    "  echo '3 children'; exit 0;;\nesac\n"
                    "printf '%s\\n' \"$*\" >> " +
                    Path("smbcontrol.log") + "\n");
        AddTool("python3", "echo start >> " + Path("python3.runs") + "\n[ -e " +
                               Path("nomessaging") +
                               " ] && { echo 'fail No module named samba'; exit 1; }\n"
                               "echo ready\nwhile read -r line; do\n"
                               "  printf '%s\\n' \"$line\" >> " +
                               Path("python3.log") + "\n  if [ -e " + Path("undeliverable") +
                               " ]; then echo 'error gone'; continue; fi\n  [ -e " +
                               Path("closed.json") + " ] && (sleep 0.3; cp " + Path("closed.json") +
                               " " + Path("status.json") + ") &\n  echo ok\ndone\n");
        AddTool("net", "printf '%s\\n' \"$*\" >> " + Path("net.log") + "\n[ -e " +
                           Path("net.after") + " ] && cp " + Path("net.after") + " " +
                           Path("status.json") + "\nexit 0\n");
        Put("testparm.txt", Fixture("testparm.txt"));
        Put("status.json", Fixture("smbstatus.json"));
        setenv(cifsmon::kBackendVariable, "samba", 1);
        setenv(cifsmon::kSambaToolsVariable, (dir_ + "/bin").c_str(), 1);
        setenv(cifsmon::kSambaConfVariable, Path("smb.conf").c_str(), 1);
        setenv(cifsmon::kSambaNumbersVariable, Path("state/numbers.json").c_str(), 1);
        setenv(cifsmon::kSambaIntervalVariable, "0", 1);
    }
    ~SambaApiTest() override {
        for (const char *variable : kVariables) {
            unsetenv(variable);
        }
    }

    std::string Path(const std::string &name) const { return dir_ + "/" + name; }
    void Put(const std::string &name, const std::string &content) const {
        scratch_.Write(name, content);
    }
    void AddTool(const std::string &name, const std::string &body) const {
        std::filesystem::path file = scratch_.Write("bin/" + name, "#!/bin/sh\n" + body);
        chmod(file.c_str(), 0755);
    }
    std::vector<std::string> Log(const std::string &tool) const {
        std::string text = testing_support::ReadFile(Path(tool + ".log"));
        std::vector<std::string> lines;
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find('\n', start);
            lines.push_back(text.substr(start, end - start));
            start = end + 1;
        }
        return lines;
    }
    std::size_t SmbstatusRuns() const {
        std::string runs = testing_support::ReadFile(Path("smbstatus.runs"));
        return static_cast<std::size_t>(std::count(runs.begin(), runs.end(), '\n'));
    }
    std::string CloseShareLine(const std::string &destination, const std::string &share) const {
        return "-s " + Path("smb.conf") + " -- " + destination + " close-share " + share;
    }

    // user -> number of every listed connection.
    std::map<std::string, unsigned> Numbers() const {
        std::map<std::string, unsigned> numbers;
        int count = 0;
        ConnListNode *list = nullptr;
        EXPECT_EQ(Ext_ListConnDetails(&count, &list), 0);
        for (ConnListNode *node = list; node != nullptr; node = node->next) {
            numbers[node->userName] = node->connNumber;
        }
        FreeConnListNodes(&list);
        return numbers;
    }

    testing_support::TempDir scratch_;
    const std::string dir_;
};

TEST_F(SambaApiTest, ListsTheFileSharesAsVolumes) {
    int count = 0;
    VolumeDetailsNode *list = nullptr;
    ASSERT_EQ(Ext_ListVolumeDetails(&count, &list), 0);
    std::vector<std::string> names;
    for (VolumeDetailsNode *node = list; node != nullptr; node = node->next) {
        names.emplace_back(node->volumeName);
    }
    EXPECT_EQ(count, 4);
    EXPECT_THAT(names, ElementsAre("data", "Public Docs", "projects", "data-alias"));
    FreeVolsDetailsNode(&list);
}

TEST_F(SambaApiTest, ListsOpenFilesAndConnectionsUnderOneNumber) {
    std::map<std::string, unsigned> numbers = Numbers();
    ASSERT_EQ(numbers.size(), 5u);
    int count = 0;
    VolFileListNode *files = nullptr;
    ASSERT_EQ(Ext_ListVolFileDetails("data-alias", &files, &count), 0);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(Value(files->connNumber), numbers.at("bob"));
    EXPECT_STREQ(files->userName, "bob");
    ASSERT_EQ(Value(files->fileCount), 2);
    EXPECT_STREQ(files->fileNames[0], "/srv/data/report.doc");
    EXPECT_STREQ(files->fileNames[1], "/srv/data/<b>&\"x\" 'y'.txt");
    FreeVolFileListNodes(&files);

    ASSERT_EQ(Ext_ListVolFileDetails("Public Docs", &files, &count), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(files, nullptr);
    EXPECT_EQ(Ext_ListVolFileDetails("homes", &files, &count), cifsmon::kStatusNotFound);

    ConnListNode *list = nullptr;
    ASSERT_EQ(Ext_ListConnDetails(&count, &list), 0);
    ASSERT_EQ(count, 5);
    for (ConnListNode *node = list; node != nullptr; node = node->next) {
        if (std::string(node->userName) == "carl") {
            // An IPv6 address longer than the field is cut to fit.
            EXPECT_STREQ(node->netAddress, "fe80::1234:5678");
            EXPECT_STREQ(node->connType, "Active Directory");
        }
    }
    FreeConnListNodes(&list);
}

TEST_F(SambaApiTest, NumbersStayAcrossRestartsAndEndedSessionsAreNotReusedAtOnce) {
    std::map<std::string, unsigned> first = Numbers();
    ASSERT_EQ(first.size(), 5u);
    std::set<unsigned> distinct;
    for (const auto &[user, number] : first) {
        EXPECT_GE(number, 1u);
        distinct.insert(number);
    }
    EXPECT_EQ(distinct.size(), 5u);
    EXPECT_EQ(Numbers(), first);

    // Another setting makes another backend object, as a restarted console would have.
    setenv(cifsmon::kSambaTimeoutVariable, "11", 1);
    EXPECT_EQ(Numbers(), first);

    // bob's session ends and he logs on again: a new session, a number not yet used.
    std::string status = Fixture("smbstatus.json");
    Put("status.json",
        status.substr(0, status.find("\"1002\":")) + status.substr(status.find("\"1003\":")));
    std::map<std::string, unsigned> without = Numbers();
    EXPECT_EQ(without.count("bob"), 0u);
    EXPECT_EQ(without.at("carl"), first.at("carl"));
    std::string again = status;
    const std::string old = R"("1002": {"session_id": "1002")";
    again.replace(again.find(old), old.size(), R"("1102": {"session_id": "1102")");
    Put("status.json", again);
    std::map<std::string, unsigned> back = Numbers();
    EXPECT_EQ(back.at("bob"), 6u);
    EXPECT_EQ(back.at("CORP+anna"), first.at("CORP+anna"));
}

TEST_F(SambaApiTest, DetailOfAConnection) {
    std::map<std::string, unsigned> numbers = Numbers();
    UserInfo_s *info = nullptr;
    ASSERT_EQ(Ext_GetConnInfo(numbers.at("root"), &info), 0);
    ASSERT_NE(info, nullptr);
    EXPECT_STREQ(info->userName, "root");
    EXPECT_STREQ(info->privileges, "Supervisor");
    EXPECT_STREQ(info->loginStatus, "Logged-In");
    EXPECT_STREQ(info->connType, "Local");
    EXPECT_STREQ(info->netAddress, "127.0.0.1");
    EXPECT_EQ(Value(info->openFileCount), 0);
    ASSERT_GE(Value(info->secEquivCount), 1u);
    EXPECT_STREQ(info->sevDNs[0], "root");
    FreeUserDetailsNode(&info);

    ASSERT_EQ(Ext_GetConnInfo(numbers.at("CORP+anna"), &info), 0);
    EXPECT_GT(Value(info->loginTime), 0u);
    ASSERT_EQ(Value(info->openFileCount), 2);
    EXPECT_STREQ(info->openFileNames[1], "/srv//projects/plan.txt");
    FreeUserDetailsNode(&info);

    ASSERT_EQ(Ext_GetConnInfo(numbers.at("(auth in progress)"), &info), 0);
    EXPECT_STREQ(info->loginStatus, "Logging-In");
    EXPECT_EQ(Value(info->sevDNs), nullptr);
    FreeUserDetailsNode(&info);

    EXPECT_EQ(Ext_GetConnInfo(4000, &info), cifsmon::kStatusNotFound);
    EXPECT_EQ(info, nullptr);
}

TEST_F(SambaApiTest, ClosingAConnectionsFilesSendsTheCloseMessageForEachOfItsOpens) {
    unsigned anna = Numbers().at("CORP+anna");
    ASSERT_EQ(Ext_CloseFileByID(anna), 0);
    // Her two opens of report.doc and plan.txt, not bob's open of report.doc in another process.
    EXPECT_THAT(Log("python3"),
                ElementsAre("close 2001 4294967295 65024 10 0 7",
                            "close 2001 4294967295 65024 10 0 9", "close 2001 4294967295 0 0 0 8"));
    EXPECT_THAT(Log("smbcontrol"), IsEmpty()) << "no share closed, the session keeps them";

    unsigned carl = Numbers().at("carl");
    EXPECT_EQ(Ext_CloseFileByID(carl), 0) << "nothing open: nothing to close";
    EXPECT_EQ(Ext_CloseFileByID(4000), cifsmon::kStatusNotFound);
    EXPECT_EQ(Ext_CloseFileByID(0), cifsmon::kStatusNotFound);
    EXPECT_EQ(Ext_CloseFileByID(70000), cifsmon::kStatusNotFound);
    EXPECT_EQ(Log("python3").size(), 3u);
}

TEST_F(SambaApiTest, ClosingOneFileClosesEveryOpenOfItAndNothingElse) {
    ASSERT_EQ(Ext_CloseFileByFileName("/srv/data/report.doc"), 0);
    EXPECT_THAT(Log("python3"), ElementsAre("close 2001 4294967295 65024 10 0 7",
                                            "close 2001 4294967295 65024 10 0 9",
                                            "close 2002 4294967295 65024 10 0 3"));
    EXPECT_THAT(Log("smbcontrol"), IsEmpty());
    EXPECT_THAT(Log("net"), IsEmpty());
    char text[256];
    EXPECT_EQ(Ext_LastFailure(text, sizeof text), 0);
    EXPECT_STREQ(text, "") << "an exact close takes nothing else with it";
}

TEST_F(SambaApiTest, ClosingManyFilesTakesOneSnapshotAndStartsTheHelperOnce) {
    setenv(cifsmon::kSambaIntervalVariable, "60000", 1);
    Numbers();
    const std::size_t before = SmbstatusRuns();
    for (const char *path :
         {"/srv/data/report.doc", "/srv/data/<b>&\"x\" 'y'.txt", "/srv//projects/plan.txt"}) {
        ASSERT_EQ(Ext_CloseFileByFileName(path), 0) << path;
    }
    EXPECT_EQ(SmbstatusRuns(), before) << "the closes used the snapshot of the interval";
    EXPECT_EQ(Log("python3").size(), 5u);
    EXPECT_EQ(testing_support::ReadFile(Path("python3.runs")), "start\n");
    // The listing after the closes looks again, and sees them gone.
    std::string status = Fixture("smbstatus.json");
    Put("status.json", status.substr(0, status.find("\"open_files\"")) + "\"x\": {}}");
    Numbers();
    EXPECT_EQ(SmbstatusRuns(), before + 1);
}

TEST_F(SambaApiTest, AListingWaitsBrieflyForAClosedFileToGo) {
    std::string status = Fixture("smbstatus.json");
    std::size_t from = status.find("\"/srv//projects/plan.txt\"");
    std::size_t to = status.find("\"/home/bob/notes.txt\"");
    Put("closed.json", status.substr(0, from) + status.substr(to));
    ASSERT_EQ(Ext_CloseFileByFileName("/srv//projects/plan.txt"), 0);
    int count = 0;
    VolFileListNode *files = nullptr;
    ASSERT_EQ(Ext_ListVolFileDetails("projects", &files, &count), 0);
    EXPECT_EQ(count, 0);
    FreeVolFileListNodes(&files);
}

TEST_F(SambaApiTest, AShortenedNameClosesTheOneFileItStandsFor) {
    ASSERT_EQ(Ext_CloseFileByFileName("/srv//projects/pl" CIFSMON_CUT_MARK), 0);
    EXPECT_THAT(Log("python3"), ElementsAre("close 2001 4294967295 0 0 0 8"));
    EXPECT_EQ(Ext_CloseFileByFileName("/srv/data/" CIFSMON_CUT_MARK), cifsmon::kStatusAmbiguous);
    char text[256];
    EXPECT_EQ(Ext_LastFailure(text, sizeof text), cifsmon::kStatusAmbiguous);
    EXPECT_THAT(text, HasSubstr("stands for 2 open files"));
    EXPECT_EQ(Ext_CloseFileByFileName("/srv/none" CIFSMON_CUT_MARK), cifsmon::kStatusNotFound);
    EXPECT_EQ(Ext_CloseFileByFileName(CIFSMON_CUT_MARK), cifsmon::kStatusNotFound);
    EXPECT_EQ(Log("python3").size(), 1u);
}

TEST_F(SambaApiTest, WithoutTheCloseMessageTheShareIsClosedAndTheCallerToldWhatElseWent) {
    Put("nomessaging", "");
    testing::internal::CaptureStderr();
    int status = Ext_CloseFileByFileName("/srv/data/report.doc");
    char text[1024];
    const int reported = Ext_LastFailure(text, sizeof text);
    std::string messages = testing::internal::GetCapturedStderr();
    ASSERT_EQ(status, 0);
    EXPECT_EQ(reported, 0);
    EXPECT_THAT(Log("smbcontrol"),
                ElementsAre(CloseShareLine("2001", "data"), CloseShareLine("2002", "data-alias")));
    EXPECT_THAT(messages, HasSubstr("No module named samba"));
    EXPECT_THAT(messages, HasSubstr("closed share data-alias in connection "));
    EXPECT_THAT(messages, HasSubstr("(user bob, process 2002) to close /srv/data/report.doc; this "
                                    "also closed its other files on that share: /srv/data/<b>&"));
    EXPECT_THAT(text, HasSubstr("(user bob, process 2002) also closed /srv/data/<b>&"));
    EXPECT_THAT(Log("net"), IsEmpty());
}

TEST_F(SambaApiTest, FilesThatCannotBeClosed) {
    Put("nomessaging", "");
    // On bob's home share, which the configuration does not list.
    EXPECT_EQ(Ext_CloseFileByFileName("/home/bob/notes.txt"), cifsmon::kStatusToolFailed);
    char text[512];
    EXPECT_EQ(Ext_LastFailure(text, sizeof text), cifsmon::kStatusToolFailed);
    EXPECT_THAT(text, HasSubstr("connected to no configured share serving /home/bob"));
    // Held only by a disconnected durable handle, or by nobody.
    EXPECT_EQ(Ext_CloseFileByFileName("/srv/data/old.doc"), cifsmon::kStatusNotFound);
    EXPECT_EQ(Ext_CloseFileByFileName("/srv/data/none.doc"), cifsmon::kStatusNotFound);
    EXPECT_THAT(Log("smbcontrol"), IsEmpty());
}

TEST_F(SambaApiTest, WithoutTheCloseMessageAnRpcAccountClosesTheFileAlone) {
    Put("undeliverable", "");
    setenv(cifsmon::kSambaRpcAuthVariable, Path("auth").c_str(), 1);
    std::string status = Fixture("smbstatus.json");
    std::size_t from = status.find("\"/srv/data/report.doc\"");
    std::size_t to = status.find("\"/srv/data/<b>");
    Put("net.after", status.substr(0, from) + status.substr(to));

    ASSERT_EQ(Ext_CloseFileByFileName("/srv/data/report.doc"), 0);
    auto line = [this](uint64_t pid, uint64_t open) {
        uint32_t id = cifsmon::RpcFileId(cifsmon::ServerId{pid, cifsmon::kNonClusterVnn, ""}, open);
        return "-s " + Path("smb.conf") + " -S 127.0.0.1 -A " + Path("auth") +
               " -- rpc file close " + std::to_string(id);
    };
    EXPECT_EQ(Log("python3").size(), 3u);
    EXPECT_THAT(Log("net"), ElementsAre(line(2001, 7), line(2001, 9), line(2002, 3)));
    EXPECT_THAT(Log("smbcontrol"), IsEmpty());
}

TEST_F(SambaApiTest, AnOpenNoOtherWayClosedIsClosedByItsShare) {
    Put("undeliverable", "");
    setenv(cifsmon::kSambaRpcAuthVariable, Path("auth").c_str(), 1);
    ASSERT_EQ(Ext_CloseFileByFileName("/srv//projects/plan.txt"), 0);
    EXPECT_EQ(Log("net").size(), 1u);
    EXPECT_THAT(Log("smbcontrol"), ElementsAre(CloseShareLine("2001", "projects")));
}

TEST_F(SambaApiTest, ClosesReachTheNodeOfTheProcess) {
    Put("status.json", Fixture("smbstatus_cluster.json"));
    std::map<std::string, unsigned> numbers = Numbers();
    ASSERT_EQ(Ext_CloseFileByID(numbers.at("dora")), 0);
    EXPECT_THAT(Log("smbcontrol"), ElementsAre(CloseShareLine("1:4100", "data")));
    ASSERT_EQ(Ext_CloseFileByFileName("/srv/data/shared.xls"), 0);
    EXPECT_THAT(Log("smbcontrol"),
                ElementsAre(CloseShareLine("1:4100", "data"), CloseShareLine("0:4100", "data"),
                            CloseShareLine("1:4100", "data")));
}

TEST_F(SambaApiTest, AServerWithoutClientsIsEmpty) {
    for (const char *name : {"smbstatus_never_connected.json", "smbstatus_no_clients.json"}) {
        Put("status.json", Fixture(name));
        int count = -1;
        ConnListNode *list = nullptr;
        EXPECT_EQ(Ext_ListConnDetails(&count, &list), 0) << name;
        EXPECT_EQ(count, 0);
        EXPECT_EQ(list, nullptr);
    }
    // smbstatus failing because its lock database was never written.
    Put("status.json", "");
    Put("smbstatus.rc", "1");
    Put("smbstatus.err", "/var/lib/samba/lock/locking.tdb not initialised\n");
    int count = -1;
    VolFileListNode *files = nullptr;
    EXPECT_EQ(Ext_ListVolFileDetails("data", &files, &count), 0);
    EXPECT_EQ(count, 0);
}

TEST_F(SambaApiTest, FailuresGiveTheirStatusAndNoList) {
    struct Case {
        std::string what;
        std::function<void()> breakIt;
        int status;
    };
    const std::vector<Case> cases = {
        {"smbd down", [this] { Put("down", ""); }, cifsmon::kStatusServerNotRunning},
        {"smbd hung", [this] { Put("hung", ""); }, cifsmon::kStatusServerNotRunning},
        {"testparm fails", [this] { Put("testparm.rc", "1"); }, cifsmon::kStatusToolFailed},
        {"testparm missing", [this] { std::filesystem::remove(Path("bin/testparm")); },
         cifsmon::kStatusToolFailed},
        {"testparm output", [this] { Put("testparm.txt", "garbage\n"); },
         cifsmon::kStatusToolOutputInvalid},
        {"smbstatus fails", [this] { Put("smbstatus.rc", "2"); }, cifsmon::kStatusToolFailed},
        {"malformed JSON", [this] { Put("status.json", Fixture("smbstatus_malformed.json")); },
         cifsmon::kStatusToolOutputInvalid},
        {"numbers", [this] { std::filesystem::create_directories(Path("state/numbers.json")); },
         cifsmon::kStatusIoError},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Put("testparm.txt", Fixture("testparm.txt"));
        Put("status.json", Fixture("smbstatus.json"));
        for (const char *file : {"down", "hung", "testparm.rc", "smbstatus.rc"}) {
            std::filesystem::remove(Path(file));
        }
        std::filesystem::remove(Path("state/numbers.json"));
        AddTool("testparm", "cat " + Path("testparm.txt") + "\nexit $(cat " + Path("testparm.rc") +
                                " 2>/dev/null || echo 0)\n");
        c.breakIt();
        testing::internal::CaptureStderr();
        int count = -1;
        VolumeDetailsNode *volumes = nullptr;
        EXPECT_EQ(Ext_ListVolumeDetails(&count, &volumes), c.status);
        EXPECT_EQ(volumes, nullptr);
        EXPECT_EQ(count, 0);
        ConnListNode *list = nullptr;
        EXPECT_EQ(Ext_ListConnDetails(&count, &list), c.status);
        EXPECT_EQ(list, nullptr);
        UserInfo_s *info = nullptr;
        EXPECT_EQ(Ext_GetConnInfo(1, &info), c.status);
        EXPECT_EQ(info, nullptr);
        EXPECT_EQ(Ext_CloseFileByID(1), c.status);
        EXPECT_EQ(Ext_CloseFileByFileName("/srv/data/report.doc"), c.status);
        std::string messages = testing::internal::GetCapturedStderr();
        EXPECT_THAT(messages, HasSubstr("cifsmonitoring: "));
        char text[1024];
        EXPECT_EQ(Ext_LastFailure(text, sizeof text), c.status);
        EXPECT_GT(std::strlen(text), 10u) << "a reason to show: " << text;
    }
    EXPECT_THAT(Log("smbcontrol"), IsEmpty());
    EXPECT_THAT(Log("python3"), IsEmpty());
}

TEST_F(SambaApiTest, AFailureIsReportedOnceUntilItChanges) {
    Put("down", "");
    testing::internal::CaptureStderr();
    int count = 0;
    ConnListNode *list = nullptr;
    Ext_ListConnDetails(&count, &list);
    Ext_ListConnDetails(&count, &list);
    std::filesystem::remove(Path("down"));
    EXPECT_EQ(Ext_ListConnDetails(&count, &list), 0);
    FreeConnListNodes(&list);
    Put("down", "");
    Ext_ListConnDetails(&count, &list);
    std::string messages = testing::internal::GetCapturedStderr();
    const std::string message = "cifsmonitoring: smbd is not running.";
    std::size_t first = messages.find(message);
    ASSERT_NE(first, std::string::npos) << messages;
    std::size_t second = messages.find(message, first + 1);
    ASSERT_NE(second, std::string::npos) << "reported again after it had recovered";
    EXPECT_EQ(messages.find(message, second + 1), std::string::npos) << messages;
    EXPECT_THAT(messages, HasSubstr("Can't find pid for destination"));
}

TEST_F(SambaApiTest, ConcurrentListingsShareOneSnapshot) {
    setenv(cifsmon::kSambaIntervalVariable, "600000", 1);
    std::vector<std::thread> threads;
    std::vector<int> counts(8, -1);
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&counts, t] {
            for (int i = 0; i < 5; ++i) {
                int count = 0;
                ConnListNode *list = nullptr;
                if (Ext_ListConnDetails(&count, &list) == 0) {
                    counts[t] = count;
                }
                FreeConnListNodes(&list);
            }
        });
    }
    for (std::thread &thread : threads) {
        thread.join();
    }
    EXPECT_THAT(counts, ::testing::Each(5));
    EXPECT_EQ(SmbstatusRuns(), 1u);
    // A close uses the snapshot of the interval; the next listing after it looks again.
    ASSERT_EQ(Ext_CloseFileByID(Numbers().at("CORP+anna")), 0);
    EXPECT_EQ(SmbstatusRuns(), 1u);
    std::string status = Fixture("smbstatus.json");
    Put("status.json", status.substr(0, status.find("\"open_files\"")) + "\"x\": {}}");
    Numbers();
    EXPECT_EQ(SmbstatusRuns(), 2u);
    Numbers();
    EXPECT_EQ(SmbstatusRuns(), 2u);
}

TEST_F(SambaApiTest, WithoutTheCloseMessageThePlanNamesWhatTheShareTakesAlong) {
    const unsigned bob = Numbers().at("bob");
    const std::string report = "/srv/data/report.doc";
    CifsOpenRef target{static_cast<uint16_t>(bob), report.c_str()};
    auto plan = [&] {
        CifsOpenFile *list = nullptr;
        size_t count = 0;
        EXPECT_EQ(Ext_PlanClose(&target, 1, &list, &count), 0);
        std::vector<std::string> paths;
        for (size_t i = 0; i < count; ++i) {
            paths.emplace_back(list[i].path);
        }
        Ext_FreeOpenFiles(&list);
        return paths;
    };
    EXPECT_THAT(plan(), ElementsAre(report)) << "the close message closes the open alone";

    // Without Samba's messaging bob's process drops the share, and his other file there with
    // it (not his home share's).
    Put("nomessaging", "");
    setenv(cifsmon::kSambaTimeoutVariable, "9", 1);  // a new backend: a new helper is tried
    EXPECT_THAT(plan(), ElementsAre(report, "/srv/data/<b>&\"x\" 'y'.txt"));
    ASSERT_EQ(Ext_CloseOpenFile(bob, report.c_str()), 0);
    EXPECT_THAT(Log("smbcontrol"), ElementsAre(CloseShareLine("2002", "data-alias")));
    char text[512];
    Ext_LastFailure(text, sizeof text);
    EXPECT_THAT(text, HasSubstr("also closed /srv/data/<b>&\"x\" 'y'.txt"));
}

// The recorded server with details: anna (process 0:2001), bob and erin (one process 0:2002),
// dora (1:4100, on another node); this is node 0.
class SambaAdminTest : public SambaApiTest {
  protected:
    void SetUp() override {
        Put("status.json", Fixture("smbstatus_details.json"));
        setenv(cifsmon::kSambaVnnVariable, "0", 1);
        numbers_ = Numbers();
        ASSERT_EQ(numbers_.size(), 4u);
    }
    void TearDown() override { unsetenv(cifsmon::kSambaVnnVariable); }

    // (user, path) of each open file the plan names.
    std::vector<std::string> Plan(const std::string &user, const char *path) {
        CifsOpenRef target{static_cast<uint16_t>(numbers_.at(user)), path};
        CifsOpenFile *list = nullptr;
        size_t count = 0;
        EXPECT_EQ(Ext_PlanClose(&target, 1, &list, &count), 0);
        std::vector<std::string> planned;
        for (size_t i = 0; i < count; ++i) {
            planned.push_back(std::string(list[i].user) + " " + list[i].path);
        }
        Ext_FreeOpenFiles(&list);
        return planned;
    }

    std::string LastFailure() const {
        char text[1024];
        Ext_LastFailure(text, sizeof text);
        return text;
    }

    std::map<std::string, unsigned> numbers_;
};

TEST_F(SambaAdminTest, ClosingOneConnectionsOpenClosesItsHandlesAndNoOthers) {
    EXPECT_THAT(Plan("CORP+anna", "/srv/data/report.doc"),
                ElementsAre("CORP+anna /srv/data/report.doc"));
    ASSERT_EQ(Ext_CloseOpenFile(numbers_.at("CORP+anna"), "/srv/data/report.doc"), 0);
    // Her two handles; bob's and dora's opens of the file stay. Her process on this node (0) is
    // named as a process of this machine: Samba's messaging drops what names a node number.
    EXPECT_THAT(Log("python3"), ElementsAre("close 2001 4294967295 65024 10 0 7",
                                            "close 2001 4294967295 65024 10 0 9"));
    EXPECT_THAT(Log("smbcontrol"), IsEmpty());
    EXPECT_EQ(LastFailure(), "");

    EXPECT_EQ(Ext_CloseOpenFile(numbers_.at("erin"), "/srv/data/report.doc"),
              cifsmon::kStatusNotFound);
    EXPECT_EQ(Ext_CloseOpenFile(numbers_.at("bob"), "/srv//projects/todo.txt"),
              cifsmon::kStatusNotFound)
        << "erin's open in bob's process is not bob's";
    EXPECT_EQ(Ext_CloseOpenFile(4000, "/srv/data/report.doc"), cifsmon::kStatusNotFound);
    EXPECT_EQ(Log("python3").size(), 2u);
}

TEST_F(SambaAdminTest, AFallbackCloseIsPlannedWithWhatItTakesAlong) {
    // dora's process is on node 1, beyond the close message's reach, and no RPC account is set:
    // closing the share in her process takes her other file there along.
    EXPECT_THAT(Plan("dora", "/srv/data/report.doc"),
                ElementsAre("dora /srv/data/report.doc", "dora /srv/data/Grüße/plan.xlsx"));
    ASSERT_EQ(Ext_CloseOpenFile(numbers_.at("dora"), "/srv/data/report.doc"), 0);
    EXPECT_THAT(Log("smbcontrol"), ElementsAre(CloseShareLine("1:4100", "data")));
    EXPECT_THAT(LastFailure(), HasSubstr("also closed /srv/data/Grüße/plan.xlsx"));
    EXPECT_THAT(Log("python3"), IsEmpty());

    // With an RPC account the server service closes the open alone.
    setenv(cifsmon::kSambaRpcAuthVariable, Path("auth").c_str(), 1);
    EXPECT_THAT(Plan("dora", "/srv/data/report.doc"), ElementsAre("dora /srv/data/report.doc"));
}

TEST_F(SambaAdminTest, EndingASessionShutsItsServerProcessDownAndNamesWhoElseItServed) {
    ASSERT_EQ(Ext_EndSession(numbers_.at("bob")), 0);
    EXPECT_THAT(Log("smbcontrol"), ElementsAre("-s " + Path("smb.conf") + " -- 0:2002 shutdown"));
    EXPECT_THAT(LastFailure(), HasSubstr("also served connection " +
                                         std::to_string(numbers_.at("erin")) + " (user erin)"));
    ASSERT_EQ(Ext_EndSession(numbers_.at("dora")), 0);
    EXPECT_EQ(Log("smbcontrol").back(), "-s " + Path("smb.conf") + " -- 1:4100 shutdown");
    EXPECT_EQ(LastFailure(), "");
    EXPECT_EQ(Ext_EndSession(4000), cifsmon::kStatusNotFound);
    EXPECT_EQ(Ext_EndSession(0), cifsmon::kStatusNotFound);
    EXPECT_EQ(Log("smbcontrol").size(), 2u);

    // smbcontrol failing: the call fails with its reason.
    AddTool("smbcontrol",
            "case \"$*\" in *num-children) echo '3 children'; exit 0;; esac\n"
            "echo 'cannot send' >&2; exit 1\n");
    EXPECT_EQ(Ext_EndSession(numbers_.at("CORP+anna")), cifsmon::kStatusToolFailed);
    EXPECT_THAT(LastFailure(), HasSubstr("cannot send"));
}

TEST_F(SambaAdminTest, SessionsCarryTheDetailsOfTheRecordedServer) {
    CifsSession *list = nullptr;
    size_t count = 0;
    ASSERT_EQ(Ext_ListSessions(&list, &count), 0);
    ASSERT_EQ(count, 4u);
    std::map<std::string, std::string> seen;
    for (size_t i = 0; i < count; ++i) {
        seen[list[i].user] = std::string(list[i].dialect) + " " + list[i].signing + " " +
                             list[i].encryption + " " + std::to_string(list[i].node);
    }
    Ext_FreeSessions(&list);
    EXPECT_EQ(seen.at("CORP+anna"), "SMB3_11 AES-128-GMAC AES-128-GCM 0");
    EXPECT_EQ(seen.at("dora"), "SMB2_10   1");
}

}  // namespace

// The recorded server as a node of a CTDB cluster: testparm says "clustering", and a stand-in
// ctdb prints ctdb.txt (the cluster's nodes) and logs its socket and arguments. No vnn is
// configured: this node's number comes from ctdb.
class SambaClusterTest : public SambaAdminTest {
  protected:
    void SetUp() override {
        std::string testparm = Fixture("testparm.txt");
        const std::string global = "[global]\n";
        testparm.insert(testparm.find(global) + global.size(),
                        "\tclustering = Yes\n\tctdbd socket = " + Path("ctdbd.socket") + "\n");
        Put("testparm.txt", testparm);
        AddTool("ctdb", "printf '%s %s\\n' \"$CTDB_SOCKET\" \"$*\" >> " + Path("ctdb.log") +
                            "\ncat " + Path("ctdb.txt") + "\n");
        Nodes("0", "0");
        SambaAdminTest::SetUp();
        unsetenv(cifsmon::kSambaVnnVariable);
    }
    // ctdb's answer: nodes 0 (this one) and 1 with their Stopped and Disconnected flags.
    void Nodes(const char *stopped0, const char *stopped1, const char *disconnected1 = "0") {
        Put("ctdb.txt",
            "|Node|IP|Disconnected|Unknown|Banned|Disabled|Unhealthy|Stopped|Inactive|"
            "PartiallyOnline|ThisNode|\n|0|10.0.0.1|0|0|0|0|0|" +
                std::string(stopped0) + "|" + stopped0 + "|0|Y|\n|1|10.0.0.2|" + disconnected1 +
                "|0|0|0|0|" + stopped1 + "|" + stopped1 + "|0|N|\n");
    }
    std::set<std::string> Users() {
        CifsSession *list = nullptr;
        size_t count = 0;
        std::set<std::string> users;
        if (Ext_ListSessions(&list, &count) == 0) {
            for (size_t i = 0; i < count; ++i) {
                users.insert(list[i].user);
            }
        }
        Ext_FreeSessions(&list);
        return users;
    }
};

TEST_F(SambaClusterTest, ANodeThatDidNotAnswerIsLeftOutAndNamedUntilItIsBack) {
    EXPECT_THAT(Users(), ElementsAre("CORP+anna", "bob", "dora", "erin"));
    EXPECT_EQ(LastFailure(), "");
    EXPECT_THAT(Log("ctdb"), Not(IsEmpty()));
    EXPECT_EQ(Log("ctdb").front(), Path("ctdbd.socket") + " -X status");

    Nodes("0", "1");
    EXPECT_THAT(Users(), ElementsAre("CORP+anna", "bob", "erin"));
    EXPECT_EQ(LastFailure(),
              "node 1 (10.0.0.2) did not answer (stopped): its sessions and open files are not "
              "listed");
    // dora's opens went with her node; the first plug-in's listings carry the same note.
    CifsOpenFile *files = nullptr;
    size_t count = 0;
    ASSERT_EQ(Ext_ListOpenFiles(&files, &count), 0);
    for (size_t i = 0; i < count; ++i) {
        EXPECT_NE(std::string(files[i].user), "dora");
    }
    Ext_FreeOpenFiles(&files);
    EXPECT_EQ(Ext_CloseOpenFile(numbers_.at("dora"), "/srv/data/report.doc"),
              cifsmon::kStatusNotFound);

    Nodes("0", "0", "1");
    EXPECT_THAT(Users(), Not(testing::Contains("dora")));
    EXPECT_THAT(LastFailure(), HasSubstr("node 1 (10.0.0.2) did not answer (disconnected)"));

    Nodes("0", "0");
    EXPECT_THAT(Users(), ElementsAre("CORP+anna", "bob", "dora", "erin"));
    EXPECT_EQ(LastFailure(), "");
}

TEST_F(SambaClusterTest, ThisNodeOutOfTheClusterFailsTheListingAndSaysSo) {
    Nodes("1", "0");
    const std::size_t runs = SmbstatusRuns();
    CifsSession *list = nullptr;
    size_t count = 0;
    EXPECT_EQ(Ext_ListSessions(&list, &count), cifsmon::kStatusServerNotRunning);
    EXPECT_THAT(LastFailure(), HasSubstr("this cluster node (0, 10.0.0.1) is stopped"));
    EXPECT_EQ(SmbstatusRuns(), runs) << "smbstatus would wait on frozen databases";
}

TEST_F(SambaClusterTest, OnlyThisNodesProcessesGetTheCloseMessage) {
    // anna's process is on node 0, which ctdb says is this one: the message, addressed so that
    // Samba's messaging delivers it.
    ASSERT_EQ(Ext_CloseOpenFile(numbers_.at("CORP+anna"), "/srv/data/report.doc"), 0);
    EXPECT_THAT(Log("python3"), ElementsAre("close 2001 4294967295 65024 10 0 7",
                                            "close 2001 4294967295 65024 10 0 9"));
    // dora's on node 1 never gets it: her process's share is closed through ctdb.
    ASSERT_EQ(Ext_CloseOpenFile(numbers_.at("dora"), "/srv/data/report.doc"), 0);
    EXPECT_EQ(Log("python3").size(), 2u);
    EXPECT_THAT(Log("smbcontrol"), ElementsAre(CloseShareLine("1:4100", "data")));

    // Without ctdb's answer no process is known to be this node's: none gets the message.
    Put("ctdb.txt", "");
    setenv(cifsmon::kSambaTimeoutVariable, "9", 1);  // a new backend
    ASSERT_EQ(Ext_CloseOpenFile(numbers_.at("bob"), "/srv/data/report.doc"), 0);
    EXPECT_EQ(Log("python3").size(), 2u);
    EXPECT_EQ(Log("smbcontrol").back(), CloseShareLine("0:2002", "data"));
}

TEST_F(SambaClusterTest, AnRpcIdThatAlsoNamesAnotherNodesOpenIsNotUsed) {
    // dora's process on node 1 has the pid of anna's on node 0, and her open of report.doc the
    // number of one of anna's: the server service would close both, as its ids carry no node.
    std::string status = Fixture("smbstatus_details.json");
    for (std::size_t at; (at = status.find("\"pid\": \"4100\"")) != std::string::npos;) {
        status.replace(at, 13, "\"pid\": \"2001\"");
    }
    const std::string first = "\"uid\": 1002, \"share_file_id\": \"1\"";
    ASSERT_NE(status.find(first), std::string::npos);
    status.replace(status.find(first), first.size(), "\"uid\": 1002, \"share_file_id\": \"7\"");
    Put("status.json", status);
    numbers_ = Numbers();
    setenv(cifsmon::kSambaRpcAuthVariable, Path("auth").c_str(), 1);
    ASSERT_EQ(Ext_CloseOpenFile(numbers_.at("dora"), "/srv/data/report.doc"), 0);
    EXPECT_THAT(Log("net"), IsEmpty());
    EXPECT_THAT(Log("smbcontrol"), ElementsAre(CloseShareLine("1:2001", "data")));
}
