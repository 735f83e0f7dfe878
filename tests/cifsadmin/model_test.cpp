// Filtering, sorting and paging of the administration lists, and the copies of the library's
// records.
#include "cifsadmin/model.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cifsadmin/calls.h"
#include "support/fake_monitoring.h"

namespace {

using namespace kel2cifs::admin;

// CIFSMON_STATUS_SERVER_NOT_RUNNING of failure.h.
constexpr int kServerNotRunning = 10;

OpenFileRow File(std::string volume, std::string path, unsigned connection, std::string user,
                 std::string client, uint64_t openedAt, uint32_t access, uint32_t share,
                 std::string oplock) {
    OpenFileRow row;
    row.volume = std::move(volume);
    row.path = std::move(path);
    row.connection = connection;
    row.user = std::move(user);
    row.client = std::move(client);
    row.openedAt = openedAt;
    row.access = access;
    row.shareMode = share;
    row.oplock = std::move(oplock);
    return row;
}

// Rows where every column has at least two distinct values and ties in each (the node: one row
// without one).
std::vector<OpenFileRow> Files() {
    std::vector<OpenFileRow> rows = {
        File("VOL2", "/v2/b", 3, "carol", "10.0.0.3", 300, 3, 7, "batch"),
        File("VOL1", "/v1/a", 5, "alice", "10.0.0.1", 100, 1, 3, "none"),
        File("VOL1", "/v1/a", 2, "bob", "10.0.0.2", 200, 1, 3, "none"),
        File("VOL2", "/v2/a", 4, "alice", "10.0.0.1", 100, 2, 0, "lease (RWH)"),
        File("VOL1", "/v1/c", 1, "bob", "10.0.0.2", 300, 3, 1, "level II"),
    };
    const std::uint32_t nodes[] = {1, 1, CIFSMON_NO_NODE, 0, 1};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        rows[i].node = nodes[i];
    }
    return rows;
}

std::string Key(const OpenFileRow &row) {
    return row.volume + row.path + "#" + std::to_string(row.connection);
}

TEST(SortOpenFiles, EveryColumnBothWaysWithTiesInVolumePathConnectionOrder) {
    for (std::size_t c = 0; c < std::size(kFileColumnNames); ++c) {
        const FileColumn column = FileColumnNamed(kFileColumnNames[c]);
        ASSERT_EQ(static_cast<std::size_t>(column), c);
        for (const bool ascending : {true, false}) {
            std::vector<OpenFileRow> rows = Files();
            SortOpenFiles(rows, column, ascending);
            // Checked independently: each neighbour pair is in order by the column, and equal
            // ones by volume, path, connection ascending.
            const auto value = [&](const OpenFileRow &r) -> std::string {
                switch (column) {
                    case FileColumn::kVolume:
                        return r.volume;
                    case FileColumn::kPath:
                        return r.path;
                    case FileColumn::kConnection:
                        return std::string(5 - std::to_string(r.connection).size(), '0') +
                               std::to_string(r.connection);
                    case FileColumn::kUser:
                        return r.user;
                    case FileColumn::kClient:
                        return r.client;
                    case FileColumn::kOpenedAt:
                        return std::to_string(r.openedAt);
                    case FileColumn::kAccess:
                        return AccessText(r.access);
                    case FileColumn::kShareMode:
                        return DenyText(r.shareMode);
                    case FileColumn::kOplock:
                        return r.oplock;
                    case FileColumn::kNode:
                        return std::string(10 - std::to_string(r.node).size(), '0') +
                               std::to_string(r.node);
                }
                return "";
            };
            for (std::size_t i = 1; i < rows.size(); ++i) {
                const std::string a = value(rows[i - 1]);
                const std::string b = value(rows[i]);
                SCOPED_TRACE(std::string(kFileColumnNames[c]) + (ascending ? " asc " : " desc ") +
                             Key(rows[i - 1]) + " / " + Key(rows[i]));
                if (a == b) {
                    EXPECT_LT(Key(rows[i - 1]), Key(rows[i]));
                } else {
                    EXPECT_EQ(a < b, ascending);
                }
            }
        }
    }
}

TEST(SortOpenFiles, TiesAreDeterministicWhateverTheInputOrder) {
    std::vector<OpenFileRow> first = Files();
    std::vector<OpenFileRow> second = Files();
    std::reverse(second.begin(), second.end());
    SortOpenFiles(first, FileColumn::kUser, false);
    SortOpenFiles(second, FileColumn::kUser, false);
    std::vector<std::string> a;
    std::vector<std::string> b;
    for (const auto &row : first)
        a.push_back(Key(row));
    for (const auto &row : second)
        b.push_back(Key(row));
    EXPECT_EQ(a, b);
    // The same path on two connections: connection ascending breaks the tie.
    EXPECT_EQ(a, (std::vector<std::string>{"VOL2/v2/b#3", "VOL1/v1/a#2", "VOL1/v1/c#1",
                                           "VOL1/v1/a#5", "VOL2/v2/a#4"}));
}

std::vector<std::string> Keys(const std::vector<OpenFileRow> &rows) {
    std::vector<std::string> keys;
    for (const OpenFileRow &row : rows) {
        keys.push_back(Key(row));
    }
    return keys;
}

// A row without a node is the largest; equal nodes keep volume, path, connection ascending in
// both directions.
TEST(SortOpenFiles, ByNodeWithRowsWithoutOneAndTies) {
    std::vector<OpenFileRow> rows = Files();
    SortOpenFiles(rows, FileColumn::kNode, true);
    EXPECT_EQ(Keys(rows), (std::vector<std::string>{"VOL2/v2/a#4", "VOL1/v1/a#5", "VOL1/v1/c#1",
                                                    "VOL2/v2/b#3", "VOL1/v1/a#2"}));
    std::reverse(rows.begin(), rows.end());
    SortOpenFiles(rows, FileColumn::kNode, false);
    EXPECT_EQ(Keys(rows), (std::vector<std::string>{"VOL1/v1/a#2", "VOL1/v1/a#5", "VOL1/v1/c#1",
                                                    "VOL2/v2/b#3", "VOL2/v2/a#4"}));
}

TEST(SortSessions, EveryColumnBothWaysTiesByConnection) {
    std::vector<SessionRow> rows(4);
    for (unsigned i = 0; i < 4; ++i) {
        rows[i].connection = 10 - i;
        rows[i].user = i % 2 == 0 ? "zed" : "amy";
        rows[i].client = "10.0.0." + std::to_string(i % 2);
        rows[i].machine = i < 2 ? "PC1" : "PC2";
        rows[i].dialect = i < 2 ? "SMB3_11" : "SMB2_10";
        rows[i].signing = i % 2 == 0 ? "no" : "AES-128-GMAC";
        rows[i].encryption = i % 2 == 0 ? "no" : "AES-128-GCM";
        rows[i].openFiles = i % 2;
        rows[i].connectedSince = 100 + i % 2;
        rows[i].idleSeconds = i < 2 ? UINT64_MAX : 5;
        rows[i].bytesIn = 1000 * (i % 2);
        rows[i].bytesOut = 1000 * (i / 2);
    }
    // Connections 10, 9, 8, 7: node 1, none, 1, 0.
    rows[0].node = 1;
    rows[2].node = 1;
    rows[3].node = 0;
    for (std::size_t c = 0; c < std::size(kSessionColumnNames); ++c) {
        const SessionColumn column = SessionColumnNamed(kSessionColumnNames[c]);
        ASSERT_EQ(static_cast<std::size_t>(column), c);
        for (const bool ascending : {true, false}) {
            std::vector<SessionRow> sorted = rows;
            SortSessions(sorted, column, ascending);
            SortSessions(sorted, column, ascending);  // sorting again changes nothing
            std::vector<SessionRow> reversed(rows.rbegin(), rows.rend());
            SortSessions(reversed, column, ascending);
            for (std::size_t i = 0; i < sorted.size(); ++i) {
                EXPECT_EQ(sorted[i].connection, reversed[i].connection)
                    << kSessionColumnNames[c] << (ascending ? " asc" : " desc");
            }
        }
    }
    std::vector<SessionRow> byUser = rows;
    SortSessions(byUser, SessionColumn::kUser, true);
    EXPECT_EQ(byUser[0].connection, 7u);  // amy, connections 7 and 9 ascending
    EXPECT_EQ(byUser[1].connection, 9u);
    EXPECT_EQ(byUser[2].connection, 8u);
    SortSessions(byUser, SessionColumn::kIdle, false);  // unknown idle (largest) first
    EXPECT_EQ(byUser[0].connection, 9u);
    EXPECT_EQ(byUser[1].connection, 10u);

    // By node: no node is the largest; node 1's two sessions by connection either way.
    const auto connections = [](const std::vector<SessionRow> &list) {
        std::vector<unsigned> out;
        for (const SessionRow &row : list) {
            out.push_back(row.connection);
        }
        return out;
    };
    std::vector<SessionRow> byNode = rows;
    SortSessions(byNode, SessionColumn::kNode, true);
    EXPECT_EQ(connections(byNode), (std::vector<unsigned>{7, 8, 10, 9}));
    SortSessions(byNode, SessionColumn::kNode, false);
    EXPECT_EQ(connections(byNode), (std::vector<unsigned>{9, 8, 10, 7}));
}

TEST(Filter, NameUserClientAndVolumeTogether) {
    FileFilter filter;
    filter.user = "ALI";
    EXPECT_EQ(FilterOpenFiles(Files(), filter).size(), 2u);
    filter.volume = "vol2";
    ASSERT_EQ(FilterOpenFiles(Files(), filter).size(), 1u);
    EXPECT_EQ(FilterOpenFiles(Files(), filter)[0].path, "/v2/a");
    filter = FileFilter{};
    filter.name = "/V1/*";
    filter.client = ".2";
    EXPECT_EQ(FilterOpenFiles(Files(), filter).size(), 2u);
    filter.name = "nothing-like-this";
    EXPECT_TRUE(FilterOpenFiles(Files(), filter).empty());

    std::vector<SessionRow> sessions(2);
    sessions[0].user = "Jörg";
    sessions[1].machine = "WORKSTATION-7";
    EXPECT_EQ(FilterSessions(sessions, "JÖRG").size(), 1u);
    EXPECT_EQ(FilterSessions(sessions, "station").size(), 1u);
    EXPECT_EQ(FilterSessions(sessions, "").size(), 2u);
}

TEST(Paging, LastPartialPageAndPagesPastTheEnd) {
    PageWindow w = WindowOf(250, 3, 100);
    EXPECT_EQ(w.page, 3u);
    EXPECT_EQ(w.pages, 3u);
    EXPECT_EQ(w.first, 200u);
    EXPECT_EQ(w.end, 250u);
    w = WindowOf(250, 99, 100);  // past the end: the last page
    EXPECT_EQ(w.page, 3u);
    EXPECT_EQ(w.first, 200u);
    w = WindowOf(200, 2, 100);  // a full last page
    EXPECT_EQ(w.first, 100u);
    EXPECT_EQ(w.end, 200u);
    EXPECT_EQ(w.pages, 2u);
    w = WindowOf(0, 5, 100);
    EXPECT_EQ(w.page, 1u);
    EXPECT_EQ(w.pages, 1u);
    EXPECT_EQ(w.first, 0u);
    EXPECT_EQ(w.end, 0u);
    w = WindowOf(5, 0, 0);  // sizes and pages below 1 count as 1
    EXPECT_EQ(w.page, 1u);
    EXPECT_EQ(w.end, 1u);
}

TEST(Listing, CopiesBoundedFieldsAndGivesTheBlockBack) {
    fake::Reset();
    fake::OpenFile file;
    file.connNumber = 9;
    file.volume = fake::Unterminated(CIFSMON_NAME_SIZE, 'v');
    file.user = "u";
    file.path = "/p";
    fake::SetOpenFiles({file});
    std::vector<OpenFileRow> rows;
    EXPECT_EQ(ListOpenFiles(&rows), 0);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].volume.size(), static_cast<std::size_t>(CIFSMON_NAME_SIZE));
    EXPECT_EQ(rows[0].path, "/p");
    EXPECT_EQ(fake::Outstanding(), 0u) << ::testing::PrintToString(fake::OutstandingBlocks());
    EXPECT_TRUE(fake::Errors().empty());

    fake::SetSessions({fake::Session{}}, 0);
    std::vector<SessionRow> sessions;
    EXPECT_EQ(ListSessions(&sessions), 0);
    EXPECT_EQ(sessions.size(), 1u);
    fake::SetSessions({}, kServerNotRunning);
    sessions.clear();
    EXPECT_EQ(ListSessions(&sessions), kServerNotRunning);
    EXPECT_TRUE(sessions.empty());
    EXPECT_EQ(fake::Outstanding(), 0u);
    fake::Reset();
}

// What the stand-in for Ext_LastFailure says, and which calls of the library had been made when
// it was asked.
std::string g_said;
std::vector<std::vector<std::string>> g_asked;
int Say(char *text, size_t size) {
    g_asked.push_back(fake::Calls());
    std::snprintf(text, size, "%s", g_said.c_str());
    return 0;
}

// The notice is read at once after the listing, before its block is given back, and only when
// the listing succeeded: after a failure the report says why, which is no notice.
TEST(Listing, NoticeIsTheReportOfTheListingThatSucceeded) {
    fake::Reset();
    Calls calls = Use();
    calls.lastFailure = Say;
    const Calls saved = ReplaceCalls(calls);
    g_asked.clear();
    g_said =
        "node 2 (10.0.0.3) did not answer (STOPPED): its sessions and open files are not "
        "listed";
    fake::OpenFile file;
    file.connNumber = 4;
    file.node = 0;
    file.path = "/p";
    fake::SetOpenFiles({file});
    std::vector<OpenFileRow> rows;
    std::string notice = "stale";
    EXPECT_EQ(ListOpenFiles(&rows, &notice), 0);
    EXPECT_EQ(notice, g_said);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].node, 0u);
    ASSERT_EQ(g_asked.size(), 1u);
    EXPECT_EQ(g_asked[0], std::vector<std::string>{"Ext_ListOpenFiles()"});

    fake::Session session;
    session.node = 3;
    fake::SetSessions({session});
    std::vector<SessionRow> sessions;
    EXPECT_EQ(ListSessions(&sessions, &notice), 0);
    EXPECT_EQ(notice, g_said);
    ASSERT_EQ(g_asked.size(), 2u);
    EXPECT_EQ(g_asked[1].back(), "Ext_ListSessions()");
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_EQ(sessions[0].node, 3u);

    g_said = "smbd is not running";
    fake::SetSessions({}, kServerNotRunning);
    notice = "stale";
    EXPECT_EQ(ListSessions(&sessions, &notice), kServerNotRunning);
    EXPECT_EQ(notice, "");
    fake::SetOpenFiles({}, kServerNotRunning);
    notice = "stale";
    EXPECT_EQ(ListOpenFiles(&rows, &notice), kServerNotRunning);
    EXPECT_EQ(notice, "");

    // Without Ext_LastFailure there is no notice.
    calls.lastFailure = nullptr;
    ReplaceCalls(calls);
    fake::SetOpenFiles({file});
    notice = "stale";
    EXPECT_EQ(ListOpenFiles(&rows, &notice), 0);
    EXPECT_EQ(notice, "");
    ReplaceCalls(saved);
    EXPECT_EQ(fake::Outstanding(), 0u);
    fake::Reset();
}

TEST(Texts, AccessAndDenied) {
    EXPECT_EQ(AccessText(CIFSMON_ACCESS_READ | CIFSMON_ACCESS_WRITE), "read/write");
    EXPECT_EQ(AccessText(CIFSMON_ACCESS_WRITE | CIFSMON_ACCESS_DELETE), "write/delete");
    EXPECT_EQ(AccessText(0), "-");
    EXPECT_EQ(DenyText(CIFSMON_SHARE_READ | CIFSMON_SHARE_WRITE | CIFSMON_SHARE_DELETE), "none");
    EXPECT_EQ(DenyText(CIFSMON_SHARE_READ), "write/delete");
    EXPECT_EQ(DenyText(0), "read/write/delete");
}

}  // namespace
