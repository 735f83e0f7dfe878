// The Samba backend's reading of recorded testparm and smbstatus outputs, and the state built
// from them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "common/golden.h"
#include "monitoring/admin_records.h"
#include "monitoring/admin_render.h"
#include "monitoring/records.h"
#include "monitoring/samba/samba_cluster.h"
#include "monitoring/samba/samba_config.h"
#include "monitoring/samba/samba_state.h"
#include "monitoring/samba/samba_status.h"
#include "samba_fixture.h"

namespace {

// The records are packed: a comparison must not bind a reference to one of their fields.
template <typename T>
T Value(T value) {
    return value;
}

using samba_test::FixedLookups;
using samba_test::Fixture;
using samba_test::kRecordedDay;
using samba_test::RecordedConfig;
using samba_test::RecordedStatus;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

std::vector<std::string> ShareNames(const cifsmon::SambaConfig &config) {
    std::vector<std::string> names;
    for (const cifsmon::SambaShare &share : config.shares) {
        names.push_back(share.name);
    }
    return names;
}

TEST(SambaConfig, ListsOnlyFileSharesInConfigurationOrder) {
    cifsmon::SambaConfig config = RecordedConfig();
    // Not [homes], [printers], IPC$ nor the print share Scans ("print ok" is "printable").
    EXPECT_THAT(ShareNames(config), ElementsAre("data", "Public Docs", "projects", "data-alias"));
    EXPECT_EQ(config.shares[0].path, "/srv/data/");
    EXPECT_EQ(config.shares[1].path, "/srv/public");
    EXPECT_EQ(config.netbiosName, "FILER1");
    EXPECT_EQ(config.winbindSeparator, '+');
    ASSERT_EQ(config.idmapRanges.size(), 2u);
    EXPECT_EQ(config.idmapRanges[0].low, 3000000u);
    EXPECT_EQ(config.idmapRanges[0].high, 3999999u);
    EXPECT_EQ(config.idmapRanges[1].low, 10000u);
    EXPECT_EQ(config.idmapRanges[1].high, 19999u);
}

TEST(SambaConfig, KeepsBracketsAndDefaultsOfItsOwn) {
    cifsmon::SambaConfig config;
    std::string error;
    ASSERT_TRUE(cifsmon::ParseTestparmOutput(
        "[global]\n\tworkgroup = W\n\n[a]b]\n\tpath = /x=y\n[PRINTERS]\n\tpath = /p\n"
        "[ipc$]\n[q]\n\tprintable = no\n\tpath =\n",
        &config, &error))
        << error;
    ASSERT_THAT(ShareNames(config), ElementsAre("a]b", "q"));
    EXPECT_EQ(config.shares[0].path, "/x=y");
    EXPECT_EQ(config.shares[1].path, "");
    EXPECT_EQ(config.winbindSeparator, '\\');
    EXPECT_THAT(config.idmapRanges, IsEmpty());
}

TEST(SambaConfig, RejectsOutputThatIsNotTestparms) {
    cifsmon::SambaConfig config;
    std::string error;
    EXPECT_FALSE(cifsmon::ParseTestparmOutput("", &config, &error));
    EXPECT_FALSE(cifsmon::ParseTestparmOutput("[data]\n\tpath = /srv\n", &config, &error));
    EXPECT_THAT(error, ::testing::HasSubstr("[global]"));
    EXPECT_FALSE(
        cifsmon::ParseTestparmOutput("[global]\nLoad smb config files\n", &config, &error));
    EXPECT_THAT(error, ::testing::HasSubstr("line 2"));
    EXPECT_FALSE(cifsmon::ParseTestparmOutput("path = /srv\n[global]\n", &config, &error));
    EXPECT_THAT(config.shares, IsEmpty());
}

TEST(SambaConfig, NormalizesPathsAsTheServerReportsThem) {
    EXPECT_EQ(cifsmon::NormalizeSharePath("/srv/data/"), "/srv/data");
    EXPECT_EQ(cifsmon::NormalizeSharePath("//srv///data//"), "/srv/data");
    EXPECT_EQ(cifsmon::NormalizeSharePath("/"), "/");
    EXPECT_EQ(cifsmon::NormalizeSharePath("///"), "/");
}

TEST(SambaStatus, ReadsSessionsOfEveryKind) {
    cifsmon::SambaStatus status = RecordedStatus();
    ASSERT_EQ(status.sessions.size(), 5u);
    const cifsmon::SambaSession &anna = status.sessions[0];
    EXPECT_EQ(anna.sessionId, "1001");
    EXPECT_EQ(anna.server.pid, 2001u);
    EXPECT_EQ(anna.server.vnn, cifsmon::kNonClusterVnn);
    EXPECT_EQ(anna.server.uniqueId, "111");
    EXPECT_EQ(anna.uid, 3000012u);
    EXPECT_EQ(anna.userName, "CORP+anna");
    EXPECT_EQ(anna.groupName, "CORP+domain users");
    EXPECT_EQ(anna.remoteMachine, "10.1.2.3");
    EXPECT_FALSE(anna.Authenticating());
    const cifsmon::SambaSession &pending = status.sessions[2];
    EXPECT_FALSE(pending.uid.has_value());
    EXPECT_TRUE(pending.Authenticating());
    EXPECT_EQ(status.sessions[4].uid, 0u);
    EXPECT_FALSE(status.sessions[4].Authenticating());
}

TEST(SambaStatus, ReadsTreeConnectsAndTheirTimes) {
    cifsmon::SambaStatus status = RecordedStatus();
    ASSERT_EQ(status.treeConnects.size(), 5u);
    EXPECT_EQ(status.treeConnects[0].service, "data");
    EXPECT_EQ(status.treeConnects[0].sessionId, "1001");
    // 09:30 at +02:00 is 07:30 UTC.
    EXPECT_EQ(status.treeConnects[0].connectedAt, kRecordedDay + 7 * 3600 + 30 * 60);
    EXPECT_EQ(status.treeConnects[1].connectedAt, kRecordedDay + 7 * 3600 + 10 * 60);
    EXPECT_EQ(status.treeConnects[2].connectedAt, kRecordedDay + 6 * 3600);
    EXPECT_EQ(status.treeConnects[4].service, "bob");
}

TEST(SambaStatus, ReadsOpenFilesWithSpecialCharactersAndDisconnectedHandles) {
    cifsmon::SambaStatus status = RecordedStatus();
    ASSERT_EQ(status.openFiles.size(), 5u);
    const cifsmon::SambaOpenFile &report = status.openFiles[0];
    EXPECT_EQ(report.path, "/srv/data/report.doc");
    EXPECT_EQ(report.servicePath, "/srv/data");
    ASSERT_EQ(report.opens.size(), 3u);
    EXPECT_EQ(report.opens[0].shareFileId, 7u);
    EXPECT_EQ(report.opens[2].server.pid, 2002u);
    EXPECT_EQ(report.opens[2].uid, 1001u);
    EXPECT_EQ(status.openFiles[1].path, "/srv/data/<b>&\"x\" 'y'.txt");
    const cifsmon::SambaOpen &gone = status.openFiles[4].opens.at(0);
    EXPECT_EQ(gone.server.pid, UINT64_MAX);
}

// smbstatus may print a name that is not UTF-8: that entry keeps its bytes, and the other
// entries are read as usual.
TEST(SambaStatus, ANameThatIsNotUtf8SpoilsNothing) {
    cifsmon::SambaStatus status;
    std::string error;
    ASSERT_TRUE(cifsmon::ParseSmbstatusJson(
        "{\"sessions\": {\"1\": {\"server_id\": {\"pid\": \"10\"}, \"uid\": 0, "
        "\"username\": \"r\xE9my\"}}, \"open_files\": {"
        "\"/srv/data/bad\xFF.doc\": {\"service_path\": \"/srv/data\", \"opens\": {}},"
        "\"/srv/data/ok.doc\": {\"service_path\": \"/srv/data\", \"opens\": {}}}}",
        &status, &error))
        << error;
    ASSERT_EQ(status.sessions.size(), 1u);
    EXPECT_EQ(status.sessions[0].userName, "r\xE9my");
    ASSERT_EQ(status.openFiles.size(), 2u);
    EXPECT_EQ(status.openFiles[0].path, "/srv/data/bad\xFF.doc");
    EXPECT_EQ(status.openFiles[1].path, "/srv/data/ok.doc");
}

TEST(SambaStatus, ReadsClusterNodes) {
    cifsmon::SambaStatus status = RecordedStatus("smbstatus_cluster.json");
    ASSERT_EQ(status.sessions.size(), 2u);
    EXPECT_EQ(status.sessions[0].server.vnn, 0u);
    EXPECT_EQ(status.sessions[1].server.vnn, 1u);
    EXPECT_TRUE(status.sessions[0].server.pid == status.sessions[1].server.pid);
    EXPECT_FALSE(status.sessions[0].server.SameProcess(status.sessions[1].server));
}

TEST(SambaStatus, EmptyOutputsAreAServerWithoutClients) {
    for (const char *name : {"smbstatus_never_connected.json", "smbstatus_no_clients.json"}) {
        cifsmon::SambaStatus status = RecordedStatus(name);
        EXPECT_THAT(status.sessions, IsEmpty()) << name;
        EXPECT_THAT(status.treeConnects, IsEmpty()) << name;
        EXPECT_THAT(status.openFiles, IsEmpty()) << name;
    }
    cifsmon::SambaStatus status;
    std::string error;
    EXPECT_TRUE(cifsmon::ParseSmbstatusJson(" \n\t\n", &status, &error));
}

TEST(SambaStatus, RejectsMalformedOutputWithAReason) {
    std::string malformed = Fixture("smbstatus_malformed.json");
    struct Case {
        std::string text;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {malformed, "no valid JSON"},
        {"[1, 2]", "not a JSON object"},
        {R"({"sessions": []})", "\"sessions\" is not an object"},
        {R"({"sessions": {"1": 5}})", "sessions[\"1\"] is not an object"},
        {R"({"sessions": {"1": {"server_id": {"pid": "x1"}}}})", "\"pid\" is not"},
        {R"({"sessions": {"1": {"uid": 0}}})", "no \"pid\""},
        {R"({"tcons": {"1": {"server_id": {"pid": 1}, "service": 7}}})",
         "\"service\" is not a text"},
        {R"({"open_files": {"/a": {"opens": {"1/1": {"server_id": {"pid": "1", "vnn": "4294967296"}}}}}})",
         "\"vnn\" is out of range"},
    };
    for (const Case &c : cases) {
        cifsmon::SambaStatus status;
        status.sessions.emplace_back();
        std::string error;
        EXPECT_FALSE(cifsmon::ParseSmbstatusJson(c.text, &status, &error)) << c.text;
        EXPECT_THAT(error, ::testing::HasSubstr(c.reason)) << c.text;
        EXPECT_THAT(status.sessions, IsEmpty()) << "a failed parse leaves no partial result";
    }
}

TEST(SambaStatus, ParsesIsoTimesWithTheirOffsets) {
    EXPECT_EQ(cifsmon::ParseIsoTime("2024-05-03T00:00:00Z"), kRecordedDay);
    EXPECT_EQ(cifsmon::ParseIsoTime("2024-05-03T00:00:00"), kRecordedDay);
    EXPECT_EQ(cifsmon::ParseIsoTime("2024-05-03T02:00:00.999999+02:00"), kRecordedDay);
    EXPECT_EQ(cifsmon::ParseIsoTime("2024-05-02T19:30:00-0430"), kRecordedDay);
    EXPECT_EQ(cifsmon::ParseIsoTime("1970-01-01T00:00:00+00:00"), 0u);
    EXPECT_EQ(cifsmon::ParseIsoTime("2000-02-29T12:00:00Z"), 951825600u);
    for (const char *bad :
         {"", "2024-05-03", "2024-13-03T00:00:00Z", "2024-05-03T24:00:00Z", "2024-05-03T00:00:00+2",
          "2024-05-03T00:00:00.Z", "1969-12-31T23:59:59Z", "2024-05-03T00:00:00 UTC"}) {
        EXPECT_FALSE(cifsmon::ParseIsoTime(bad).has_value()) << bad;
    }
}

// Numbers of the recorded sessions anna, bob, the one authenticating, carl, root.
const std::vector<uint16_t> kNumbers = {5, 3, 9, 1, 2};

cifsmon::State RecordedState(const std::string &adminGroup = "") {
    cifsmon::SambaLookups lookups = FixedLookups();
    lookups.adminGroup = adminGroup;
    return cifsmon::BuildSambaState(RecordedConfig(), RecordedStatus(), kNumbers, lookups);
}

const cifsmon::Connection &ConnectionNumbered(const cifsmon::State &state, uint16_t number) {
    for (const cifsmon::Connection &connection : state.connections) {
        if (connection.number == number) {
            return connection;
        }
    }
    ADD_FAILURE() << "no connection " << number;
    static const cifsmon::Connection none;
    return none;
}

TEST(SambaState, ListsConnectionsInNumberOrderWithTheirKindAndStatus) {
    cifsmon::State state = RecordedState();
    std::vector<uint16_t> numbers;
    std::vector<std::string> users;
    for (const cifsmon::Connection &connection : state.connections) {
        numbers.push_back(connection.number);
        users.push_back(connection.user);
    }
    EXPECT_THAT(numbers, ElementsAre(1, 2, 3, 5, 9));
    EXPECT_THAT(users, ElementsAre("carl", "root", "bob", "CORP+anna", "(auth in progress)"));

    const cifsmon::Connection &anna = ConnectionNumbered(state, 5);
    EXPECT_EQ(anna.type, "Active Directory");
    EXPECT_EQ(anna.loginStatus, "Logged-In");
    EXPECT_EQ(anna.privileges, "Non-Supervisor");
    EXPECT_EQ(anna.address, "10.1.2.3");
    EXPECT_THAT(anna.securityEquivalences, ElementsAre("CORP+domain users"));
    // The only session of its process: the process's start, not a tree connect.
    EXPECT_EQ(anna.loginTime, kRecordedDay + 60);

    const cifsmon::Connection &carl = ConnectionNumbered(state, 1);
    EXPECT_EQ(carl.type, "Active Directory") << "a uid of an idmap range";
    EXPECT_EQ(carl.loginTime, kRecordedDay + 60) << "no tree connect: its process's start";

    const cifsmon::Connection &root = ConnectionNumbered(state, 2);
    EXPECT_EQ(root.type, "Local");
    EXPECT_EQ(root.privileges, "Supervisor");

    const cifsmon::Connection &pending = ConnectionNumbered(state, 9);
    EXPECT_EQ(pending.loginStatus, "Logging-In");
    EXPECT_EQ(pending.type, "");
    EXPECT_EQ(pending.privileges, "Non-Supervisor");
    EXPECT_THAT(pending.securityEquivalences, IsEmpty());
    EXPECT_THAT(pending.openFiles, IsEmpty());
}

TEST(SambaState, ReportsTheTrafficOfEachSessionsClientConnection) {
    cifsmon::State state = RecordedState();
    const cifsmon::Connection &bob = ConnectionNumbered(state, 3);
    EXPECT_EQ(bob.bytesRead, 5000000000ULL);
    EXPECT_EQ(bob.bytesWritten, 42u);
    EXPECT_EQ(bob.requestCount, 350u);
    const cifsmon::Connection &anna = ConnectionNumbered(state, 5);
    EXPECT_EQ(anna.bytesRead, 0u);
    EXPECT_EQ(anna.requestCount, 0u);
}

TEST(SambaState, MakesMembersOfTheAdministratorsGroupSupervisors) {
    EXPECT_EQ(ConnectionNumbered(RecordedState(), 3).privileges, "Non-Supervisor");
    EXPECT_EQ(ConnectionNumbered(RecordedState("filer ADMINS"), 3).privileges, "Supervisor");
    EXPECT_EQ(ConnectionNumbered(RecordedState("filer"), 3).privileges, "Non-Supervisor");
    EXPECT_EQ(ConnectionNumbered(RecordedState("filer ADMINS"), 5).privileges, "Non-Supervisor");
}

TEST(SambaState, GroupsOpenFilesByTheShareTheSessionUses) {
    cifsmon::State state = RecordedState();
    ASSERT_EQ(state.volumes.size(), 4u);
    EXPECT_EQ(state.volumes[0].name, "data");

    const cifsmon::Connection &anna = ConnectionNumbered(state, 5);
    ASSERT_EQ(anna.openFiles.size(), 2u);
    EXPECT_EQ(anna.openFiles[0].volume, "data");
    // Two opens of report.doc, one path.
    EXPECT_THAT(anna.openFiles[0].paths, ElementsAre("/srv/data/report.doc"));
    EXPECT_EQ(anna.openFiles[1].volume, "projects");
    EXPECT_THAT(anna.openFiles[1].paths, ElementsAre("/srv//projects/plan.txt"));

    // bob reaches /srv/data through the alias share; his home share is no listed volume.
    const cifsmon::Connection &bob = ConnectionNumbered(state, 3);
    ASSERT_EQ(bob.openFiles.size(), 2u);
    EXPECT_EQ(bob.openFiles[0].volume, "data-alias");
    EXPECT_THAT(bob.openFiles[0].paths,
                ElementsAre("/srv/data/report.doc", "/srv/data/<b>&\"x\" 'y'.txt"));
    EXPECT_EQ(bob.openFiles[1].volume, "");
    EXPECT_THAT(bob.openFiles[1].paths, ElementsAre("/home/bob/notes.txt"));
}

TEST(SambaState, VolumeListingShowsEachConnectionsFilesAndNoDisconnectedHandle) {
    cifsmon::State state = RecordedState();
    VolFileListNode *list = nullptr;
    int count = 0;
    ASSERT_EQ(cifsmon::BuildVolumeFileList(state, "data-alias", &list, &count), 0);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(Value(list->connNumber), 3);
    EXPECT_STREQ(list->userName, "bob");
    ASSERT_EQ(Value(list->fileCount), 2);
    EXPECT_STREQ(list->fileNames[1], "/srv/data/<b>&\"x\" 'y'.txt");
    cifsmon::FreeVolumeFileList(list);

    ASSERT_EQ(cifsmon::BuildVolumeFileList(state, "data", &list, &count), 0);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(Value(list->connNumber), 5);
    for (int i = 0; i < list->fileCount; ++i) {
        EXPECT_STRNE(list->fileNames[i], "/srv/data/old.doc");
    }
    cifsmon::FreeVolumeFileList(list);

    UserInfo_s *info = nullptr;
    ASSERT_EQ(cifsmon::BuildConnectionInfo(state, 3, &info), 0);
    ASSERT_EQ(Value(info->openFileCount), 3) << "the detail holds the home share's file too";
    EXPECT_STREQ(info->openFileNames[2], "/home/bob/notes.txt");
    EXPECT_EQ(Value(info->secEquivCount), 2u);
    cifsmon::FreeConnectionInfo(info);
}

TEST(SambaState, TiesOpensToTheSessionOfTheirNode) {
    cifsmon::SambaStatus status = RecordedStatus("smbstatus_cluster.json");
    cifsmon::State state =
        cifsmon::BuildSambaState(RecordedConfig(), status, {4, 6}, FixedLookups());
    ASSERT_EQ(state.connections.size(), 2u);
    EXPECT_EQ(state.connections[0].user, "bob");
    EXPECT_EQ(state.connections[1].user, "dora");
    for (const cifsmon::Connection &connection : state.connections) {
        ASSERT_EQ(connection.openFiles.size(), 1u) << connection.user;
        EXPECT_THAT(connection.openFiles[0].paths, ElementsAre("/srv/data/shared.xls"));
    }
    cifsmon::OpenOwners owners =
        cifsmon::AttributeOpens(RecordedConfig(), status, {4, 6}, FixedLookups());
    EXPECT_EQ(owners.of[0][1], 1u);
}

TEST(SambaState, FindsTheSharesOfASessionAndThoseServingAPath) {
    cifsmon::SambaConfig config = RecordedConfig();
    cifsmon::SambaStatus status = RecordedStatus();
    cifsmon::SambaLookups lookups = FixedLookups();
    EXPECT_THAT(cifsmon::SharesOfSession(status, status.sessions[0]),
                ElementsAre("data", "projects"));
    EXPECT_THAT(cifsmon::SharesOfSession(status, status.sessions[3]), IsEmpty());
    EXPECT_THAT(
        cifsmon::SharesServingPath(config, status, status.sessions[1].server, "/srv/data", lookups),
        UnorderedElementsAre("data-alias"));
    EXPECT_THAT(
        cifsmon::SharesServingPath(config, status, status.sessions[1].server, "/home/bob", lookups),
        IsEmpty());
    // A share configured through a link serves the directory the link resolves to.
    lookups.resolvePath = [](const std::string &path) {
        return path == "/srv/public" ? std::string("/export/public") : std::string();
    };
    cifsmon::SambaStatus linked = status;
    linked.treeConnects.push_back({"Public Docs", status.sessions[4].server, "1005", std::nullopt});
    EXPECT_THAT(cifsmon::SharesServingPath(config, linked, status.sessions[4].server,
                                           "/export/public", lookups),
                ElementsAre("Public Docs"));
}

// alice and bob share process 3001 (two logons over one client connection); dora's share forces
// the user nobody. Numbers: alice 1, bob 2, dora 3.
TEST(SambaState, TiesOpensToTheirSessionUnderForceUserAndSharedProcesses) {
    cifsmon::SambaStatus status = RecordedStatus("smbstatus_shared_process.json");
    ASSERT_EQ(status.openFiles.size(), 4u);
    EXPECT_EQ(status.openFiles[0].inode, 71u);
    EXPECT_EQ(status.openFiles[0].devid, 2049u);
    EXPECT_EQ(status.sessions[0].clientEndpoint, "ipv4:10.1.2.7:50001");
    status.openFiles[3].directory = true;  // the backend finds this out with stat
    cifsmon::State state =
        cifsmon::BuildSambaState(RecordedConfig(), status, {1, 2, 3}, FixedLookups());
    const cifsmon::Connection &alice = ConnectionNumbered(state, 1);
    const cifsmon::Connection &bob = ConnectionNumbered(state, 2);
    const cifsmon::Connection &dora = ConnectionNumbered(state, 3);
    // The forced uid matches no session: the process, then the share, tell whose it is.
    ASSERT_EQ(alice.openFiles.size(), 1u);
    EXPECT_THAT(alice.openFiles[0].paths, ElementsAre("/srv/data/forced.txt"));
    ASSERT_EQ(bob.openFiles.size(), 1u);
    EXPECT_EQ(bob.openFiles[0].volume, "projects");
    EXPECT_THAT(bob.openFiles[0].paths, ElementsAre("/srv/projects/plan.txt"));
    // A directory handle is not a file.
    ASSERT_EQ(dora.openFiles.size(), 1u);
    EXPECT_EQ(dora.openFiles[0].volume, "Public Docs");
    EXPECT_THAT(dora.openFiles[0].paths, ElementsAre("/srv/public/guest.pdf"));

    // Alone in its process, dora's session logged in when the process started; alice and bob,
    // sharing one, at their first tree connects.
    EXPECT_EQ(dora.loginTime, kRecordedDay + 60);
    EXPECT_EQ(alice.loginTime, kRecordedDay + 8 * 3600);
    EXPECT_EQ(bob.loginTime, kRecordedDay + 8 * 3600 + 30 * 60);
}

TEST(SambaState, KeepsALoginTimeWhenTheClientReconnectsAShare) {
    cifsmon::SambaStatus status = RecordedStatus("smbstatus_shared_process.json");
    std::map<std::string, uint64_t> first;
    cifsmon::SambaLookups lookups = FixedLookups();
    lookups.stableLogin = [&first](const cifsmon::SambaSession &session, uint64_t seen) {
        return first.emplace(session.sessionId, seen).first->second;
    };
    cifsmon::BuildSambaState(RecordedConfig(), status, {1, 2, 3}, lookups);
    // bob reconnects projects an hour later.
    status.treeConnects[1].connectedAt = kRecordedDay + 9 * 3600 + 30 * 60;
    cifsmon::State later = cifsmon::BuildSambaState(RecordedConfig(), status, {1, 2, 3}, lookups);
    EXPECT_EQ(ConnectionNumbered(later, 2).loginTime, kRecordedDay + 8 * 3600 + 30 * 60);
}

}  // namespace

namespace {

TEST(SambaStatus, ReadsDialectSigningEncryptionAndHowEachOpenHoldsItsFile) {
    const cifsmon::SambaStatus status = RecordedStatus("smbstatus_details.json");
    ASSERT_EQ(status.sessions.size(), 4u);
    EXPECT_EQ(status.sessions[0].dialect, "SMB3_11");
    EXPECT_EQ(status.sessions[0].signing, "AES-128-GMAC");
    EXPECT_EQ(status.sessions[0].encryption, "AES-128-GCM");
    EXPECT_EQ(status.sessions[1].signing, "partial(HMAC-MD5)");
    EXPECT_EQ(status.sessions[1].encryption, "no");
    EXPECT_EQ(status.sessions[3].signing, "") << "not printed: not known";
    ASSERT_EQ(status.openFiles.size(), 3u);
    const cifsmon::SambaOpen &batch = status.openFiles[0].opens[0];
    EXPECT_EQ(batch.accessMask, std::optional<uint32_t>(0x0013019f));
    EXPECT_EQ(batch.shareAccess, std::optional<uint32_t>(1));
    EXPECT_EQ(batch.oplock, "batch");
    EXPECT_EQ(batch.openedAt, std::optional<uint64_t>(kRecordedDay + 7 * 3600 + 35 * 60));
    EXPECT_EQ(status.openFiles[0].opens[1].oplock, "none");
    EXPECT_EQ(status.openFiles[0].opens[2].oplock, "level II");
    EXPECT_EQ(status.openFiles[0].opens[3].oplock, "lease (RH)");
    EXPECT_EQ(status.openFiles[1].opens[0].oplock, "lease (RWH)");
    // An open printed without these members (an older smbstatus) has none of them.
    const cifsmon::SambaOpen &bare = status.openFiles[2].opens[0];
    EXPECT_EQ(bare.accessMask, std::nullopt);
    EXPECT_EQ(bare.openedAt, std::nullopt);
    EXPECT_EQ(bare.oplock, "");
}

TEST(SambaStatus, NamesCryptoAndOplocksAsTheLibraryReportsThem) {
    EXPECT_EQ(cifsmon::CryptoText("AES-256-GCM", "full", true), "AES-256-GCM");
    EXPECT_EQ(cifsmon::CryptoText("AES-128-CMAC", "partial", true), "partial(AES-128-CMAC)");
    EXPECT_EQ(cifsmon::CryptoText("-", "none", true), "no");
    EXPECT_EQ(cifsmon::CryptoText("", "", true), "no");
    EXPECT_EQ(cifsmon::CryptoText("", "", false), "");
    EXPECT_EQ(cifsmon::OplockText(true, false, false, false, ""), "batch");
    EXPECT_EQ(cifsmon::OplockText(false, true, false, false, ""), "exclusive");
    EXPECT_EQ(cifsmon::OplockText(false, false, true, false, ""), "level II");
    EXPECT_EQ(cifsmon::OplockText(false, false, false, true, "RWH"), "lease (RWH)");
    EXPECT_EQ(cifsmon::OplockText(false, false, false, true, ""), "lease ()");
    EXPECT_EQ(cifsmon::OplockText(false, false, false, true, "R<x>RRRRRRRRRRRRRRRRRRRRRRRRRRRRRR"),
              "lease (R)")
        << "only lease letters, each once";
    EXPECT_EQ(cifsmon::OplockText(false, false, false, false, "RWH"), "none");
    EXPECT_EQ(cifsmon::EndpointAddress("ipv4:10.1.2.3:50944"), "10.1.2.3");
    EXPECT_EQ(cifsmon::EndpointAddress("ipv6:fd00::7:50960"), "fd00::7");
    EXPECT_EQ(cifsmon::EndpointAddress("unix:/run/x"), "");
    EXPECT_EQ(cifsmon::EndpointAddress("ipv4:10.1.2.3"), "");
    EXPECT_EQ(cifsmon::EndpointAddress(""), "");
}

TEST(SambaState, AdministrationListingsOfARecordedServer) {
    // Sessions anna, bob, erin (bob's process), dora (node 1), numbered in that order.
    const cifsmon::State state = cifsmon::BuildSambaState(
        RecordedConfig(), RecordedStatus("smbstatus_details.json"), {1, 2, 3, 4}, FixedLookups());
    CifsOpenFile *files = nullptr;
    std::size_t fileCount = 0;
    ASSERT_EQ(cifsmon::BuildOpenFileList(state, nullptr, &files, &fileCount), 0);
    CifsSession *sessions = nullptr;
    std::size_t sessionCount = 0;
    ASSERT_EQ(cifsmon::BuildSessionList(state, &sessions, &sessionCount), 0);
    EXPECT_EQ(monitoring_test::RenderOpenFiles(files, fileCount) + "--\n" +
                  monitoring_test::RenderSessions(sessions, sessionCount),
              testing_support::Golden("monitoring/samba/smbstatus_details.golden"));
    std::free(files);
    std::free(sessions);
}

}  // namespace

TEST(SambaCluster, ReadsTheNodesByTheHeadersColumns) {
    // An older ctdb without the Unknown column; this node stopped, node 2 banned.
    std::vector<cifsmon::ClusterNode> nodes;
    std::string error;
    ASSERT_TRUE(cifsmon::ParseCtdbStatus(
        "|Node|IP|Disconnected|Banned|Disabled|Unhealthy|Stopped|Inactive|PartiallyOnline|"
        "ThisNode|\n|0|10.0.0.1|0|0|0|0|1|1|0|Y|\r\n|1|fd00::2|0|0|1|1|0|0|0|N|\n"
        "|2|10.0.0.3|0|1|0|0|0|1|0|N|\n",
        &nodes, &error))
        << error;
    ASSERT_EQ(nodes.size(), 3u);
    EXPECT_TRUE(nodes[0].thisNode && nodes[0].stopped && nodes[0].Absent());
    EXPECT_EQ(cifsmon::ThisNode(nodes), 0u);
    EXPECT_FALSE(nodes[1].Absent()) << "a disabled, unhealthy node still serves its clients";
    EXPECT_EQ(nodes[1].address, "fd00::2");
    EXPECT_EQ(nodes[2].State(), "banned");
    EXPECT_EQ(cifsmon::AbsentNodesNotice(nodes),
              "node 0 (10.0.0.1) did not answer (stopped): its sessions and open files are not "
              "listed; node 2 (10.0.0.3) did not answer (banned): its sessions and open files are "
              "not listed");

    for (const char *bad :
         {"", "Number of nodes:3\n", "|Node|IP|ThisNode|\n|0|10.0.0.1|\n",
          "|Node|IP|Stopped|\n|x|10.0.0.1|0|\n", "|Node|IP|Stopped|\n|4294967295|10.0.0.1|0|\n",
          "|Node|IP|Stopped|\n|0|10.0.0.1|yes|\n"}) {
        EXPECT_FALSE(cifsmon::ParseCtdbStatus(bad, &nodes, &error)) << bad;
        EXPECT_FALSE(error.empty());
    }
}

TEST(SambaConfig, ReadsWhetherTheServerIsAClusterNode) {
    cifsmon::SambaConfig config;
    std::string error;
    ASSERT_TRUE(cifsmon::ParseTestparmOutput(
        "[global]\n\tclustering = Yes\n\tctdbd socket = /run/ctdb/ctdbd.socket\n", &config,
        &error));
    EXPECT_TRUE(config.clustering);
    EXPECT_EQ(config.ctdbdSocket, "/run/ctdb/ctdbd.socket");
    ASSERT_TRUE(cifsmon::ParseTestparmOutput("[global]\n\tnetbios name = x\n", &config, &error));
    EXPECT_FALSE(config.clustering);
}
