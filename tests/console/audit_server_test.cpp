// Tests of the audit trail, the Audit Trail page and API tokens against a live console: what
// each state-changing request leaves in the trail, a restart, the page's filters and formats,
// and what a token may and may not reach. Two service methods are registered: "dataprobe" (with
// KEL_SERVICE_FLAG_DATA), which answers with what the host extension tells it and reports the
// posted names as targets, and "pageprobe" (without the flag).
#include <sqlite3.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <set>
#include <string>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "console/audit.h"
#include "console/tokens.h"
#include "kel/host.h"
#include "kel/host_ext.h"
#include "live_console.h"

namespace {

using console_test::Advance;
using console_test::Get;
using console_test::HttpRequest;
using console_test::HttpResponse;
using console_test::LiveConsole;
using console_test::Post;
using console_test::Send;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

std::atomic<int> g_dataCalls{0};

// GET: "ACCOUNT token=N query=[QUERY] access=0x..."; POST: one target per "name" field of
// "name=a&name=b..." (the first only: HttpFindNameAndValue), reported with a null request (the
// calling thread's) and, for the second target, with the request's own handle.
int DataProbe(void *request, int, int, unsigned int access) {
    ++g_dataCalls;
    char account[80];
    int viaToken = -1;
    const char *query = nullptr;
    if (KelReturnRequestAccount(request, account, sizeof(account), &viaToken) != 0 ||
        KelReturnQueryString(request, &query) != 0) {
        return 500;
    }
    int method = 0;
    HttpReturnRequestMethod(request, &method);
    if (method == KEL_METHOD_POST) {
        char *data = nullptr;
        unsigned long length = 0;
        HttpReturnPostDataBuffer(request, &data, &length);
        data[length] = '\0';
        char value[256];
        int size = sizeof(value);
        std::string name;
        if (HttpFindNameAndValue(data, "name", value, &size) == 0) {
            char decoded[256];
            name.assign(decoded, static_cast<std::size_t>(HttpUnConvertName(value, decoded, size)));
        }
        if (!name.empty()) {
            KelAuditTarget(nullptr, "close file", name.c_str(), "closed");
            KelAuditTarget(request, "close file", (name + ".bak").c_str(), "failed: busy");
        }
    }
    HttpSendSuccessfulResponse(request, "text/plain");
    HttpSendDataSprintf(request, "%s token=%d query=[%s] access=0x%08x", account, viaToken, query,
                        access);
    HttpEndDataResponse(request);
    return 200;
}

// A page that changes through a link, as the connections page closes connections: a GET whose
// close the monitoring library's observer reports for the calling thread's request.
int LinkProbe(void *request, int, int, unsigned int) {
    KelAuditTarget(nullptr, "close connection's files", "connection 5", "closed");
    HttpSendSuccessfulResponse(request, "text/plain");
    HttpSendDataSprintf(request, "closed");
    HttpEndDataResponse(request);
    return 200;
}

int PageProbe(void *request, int, int, unsigned int) {
    HttpSendSuccessfulResponse(request, "text/plain");
    HttpSendDataSprintf(request, "page");
    HttpEndDataResponse(request);
    return 200;
}

class AuditConsole : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        ServiceGroup group{};
        int status = 0;
        ASSERT_NE(
            RegisterServiceMethodEx("Data Probe", "dataprobe", 9, &group, KEL_SERVICE_FLAG_DATA,
                                    nullptr, DataProbe, nullptr, &status),
            0);
        group.word2 = 0;
        ASSERT_NE(RegisterServiceMethodEx("Page Probe", "pageprobe", 9, &group, 0, nullptr,
                                          PageProbe, nullptr, &status),
                  0);
        group.word2 = 0;
        ASSERT_NE(RegisterServiceMethodEx("Link Probe", "linkprobe", 9, &group, 0, nullptr,
                                          LinkProbe, nullptr, &status),
                  0);
    }
    static void TearDownTestSuite() {
        int status = 0;
        DeRegisterServiceMethod("Data Probe", "dataprobe", 9, DataProbe, nullptr, &status);
        DeRegisterServiceMethod("Page Probe", "pageprobe", 9, PageProbe, nullptr, &status);
        DeRegisterServiceMethod("Link Probe", "linkprobe", 9, LinkProbe, nullptr, &status);
    }

    void SetUp() override {
        // An account file of the test's own (a copy: hashing takes long), with tokens beside it.
        std::filesystem::copy_file(console_test::SharedAccountFile(), dir_.File("accounts"));
        Start();
    }

    void Start() {
        kel::console::ServerOptions options;
        options.accountFile = dir_.File("accounts");
        options.stateDirectory = dir_.File("state");
        // Room for the closed connections of clients posting at once, which the server lets go
        // a little after the client.
        options.connectionLimit = 1024;
        options.connectionsPerAddress = 1024;
        console_.reset();
        console_ = std::make_unique<LiveConsole>(options);
    }

    std::string MakeToken(const std::string &name, unsigned int access) {
        std::string token;
        std::string error;
        EXPECT_TRUE(kel::console::CreateToken(kel::console::TokenFileFor(dir_.File("accounts")),
                                              name, access, &token, &error))
            << error;
        return token;
    }

    HttpResponse WithToken(const std::string &token, const std::string &path,
                           const std::string &method = "GET", const std::string &body = {},
                           const std::string &source = {}) {
        HttpRequest request;
        request.source = source;
        request.url = console_->At(path);
        request.method = method;
        request.body = body;
        request.headers.push_back("Authorization: Bearer " + token);
        if (method == "POST") {
            request.headers.push_back("Content-Type: application/x-www-form-urlencoded");
        }
        return Send(request);
    }

    std::unique_ptr<kel::console::AuditStore> Trail() {
        std::string error;
        auto store = kel::console::AuditStore::Open(dir_.File("state"), &error);
        EXPECT_NE(store, nullptr) << error;
        return store;
    }

    std::vector<kel::console::AuditRecord> Records() {
        kel::console::AuditFilter filter;
        filter.limit = 10000;
        std::vector<kel::console::AuditRecord> items;
        std::size_t total = 0;
        EXPECT_TRUE(Trail()->Query(filter, &items, &total));
        return items;
    }

    testing_support::TempDir dir_;
    std::unique_ptr<LiveConsole> console_;
};

TEST_F(AuditConsole, EveryChangeIsRecordedWithItsTargetsAndSurvivesARestart) {
    EXPECT_TRUE(console_->Login("admin", "wrong-password-1").empty());
    // A login held back by the throttle checks nothing and leaves no record.
    EXPECT_EQ(Post(console_->At("/login"), "name=admin&password=x", {}, console_->url()).status,
              429);
    Advance(std::chrono::seconds(120));
    const std::string cookie = console_->LoginAdmin();
    ASSERT_FALSE(cookie.empty());
    const int before = g_dataCalls.load();
    HttpResponse closed =
        Post(console_->At("/dataprobe/close"), "name=a%22b.txt", cookie, console_->url());
    EXPECT_EQ(closed.status, 200);
    EXPECT_EQ(closed.body, "admin token=0 query=[] access=0x0000000b");
    EXPECT_EQ(Post(console_->At("/pageprobe/x"), "", cookie, console_->url()).status, 200);
    EXPECT_EQ(Get(console_->At("/dataprobe/list?x=1"), cookie).body,
              "admin token=0 query=[x=1] access=0x0000000b");
    // A cookie POST from elsewhere is refused before anything runs.
    EXPECT_EQ(Post(console_->At("/dataprobe/close"), "name=z", cookie, {}).status, 403);
    EXPECT_EQ(
        Post(console_->At("/dataprobe/close"), "name=z", cookie, "http://evil.example").status,
        403);
    EXPECT_EQ(g_dataCalls.load(), before + 2);
    EXPECT_EQ(Post(console_->At("/logout"), "", cookie, console_->url()).status, 303);

    Start();  // a new server on the same state directory
    const std::vector<kel::console::AuditRecord> records = Records();
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records[0].action, "logout");
    EXPECT_EQ(records[0].account, "admin");
    EXPECT_EQ(records[0].status, 303);
    EXPECT_EQ(records[1].action, "/pageprobe/x");
    EXPECT_EQ(records[1].status, 200);
    EXPECT_TRUE(records[1].targets.empty());
    EXPECT_EQ(records[2].action, "/dataprobe/close");
    EXPECT_EQ(records[2].client, "127.0.0.1");
    EXPECT_FALSE(records[2].viaToken);
    ASSERT_EQ(records[2].targets.size(), 2u);
    EXPECT_EQ(records[2].targets[0].target, "a\"b.txt");
    EXPECT_EQ(records[2].targets[1].target, "a\"b.txt.bak");
    EXPECT_EQ(records[2].targets[1].result, "failed: busy");
    EXPECT_EQ(records[3].action, "login");
    EXPECT_EQ(records[3].status, 303);
    EXPECT_EQ(records[4].action, "login");
    EXPECT_EQ(records[4].account, "admin");
    EXPECT_EQ(records[4].status, 401);
}

// A GET that closes something (a link of the connections page, told by the observer) leaves a
// record too; a GET that reports nothing leaves none.
TEST_F(AuditConsole, AChangeMadeThroughALinkIsRecordedAfterItRan) {
    const std::string cookie = console_->LoginAdmin();
    ASSERT_FALSE(cookie.empty());
    EXPECT_EQ(Get(console_->At("/dataprobe/list"), cookie).status, 200);
    EXPECT_EQ(Get(console_->At("/linkprobe/CIFSCloseConnections/x"), cookie).status, 200);
    const std::vector<kel::console::AuditRecord> records = Records();
    ASSERT_EQ(records.size(), 2u);  // and the login
    EXPECT_EQ(records[0].account, "admin");
    EXPECT_EQ(records[0].action, "/linkprobe/CIFSCloseConnections/x");
    EXPECT_EQ(records[0].status, 200);
    ASSERT_EQ(records[0].targets.size(), 1u);
    EXPECT_EQ(records[0].targets[0].action, "close connection's files");
    EXPECT_EQ(records[0].targets[0].target, "connection 5");
    EXPECT_EQ(records[1].action, "login");
}

TEST_F(AuditConsole, ARequestWhoseRecordCannotBeWrittenIsRefusedBeforeItRuns) {
    const std::string cookie = console_->LoginAdmin();
    ASSERT_FALSE(cookie.empty());
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open(dir_.File("state/audit.db").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "CREATE TRIGGER refuse BEFORE INSERT ON records "
                           "BEGIN SELECT RAISE(ABORT, 'full'); END",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    const int before = g_dataCalls.load();
    const HttpResponse refused =
        Post(console_->At("/dataprobe/close"), "name=a", cookie, console_->url());
    EXPECT_EQ(refused.status, 503);
    EXPECT_EQ(g_dataCalls.load(), before);
    EXPECT_EQ(Post(console_->At("/logout"), "", cookie, console_->url()).status, 503);
    EXPECT_EQ(Get(console_->At("/"), cookie).status, 200);  // the session did not end
}

TEST_F(AuditConsole, ThePageShowsFiltersAndPagesTheRecords) {
    const std::string admin = console_->LoginAdmin();
    const std::string guest = console_->Login("guest", console_test::kGuestPassword);
    ASSERT_FALSE(admin.empty());
    ASSERT_FALSE(guest.empty());
    for (int i = 0; i < 3; ++i) {
        Post(console_->At("/dataprobe/close"), "name=%3Cb%3Ex" + std::to_string(i), admin,
             console_->url());
    }
    EXPECT_EQ(Get(console_->At("/audit"), guest).status, 403);  // no access, no trail
    EXPECT_THAT(Get(console_->At("/"), guest).body, Not(HasSubstr("href=\"/audit\"")));

    const HttpResponse home = Get(console_->At("/"), admin);
    EXPECT_THAT(home.body, HasSubstr("<li><a href=\"/audit\">Audit trail</a></li>"));
    const HttpResponse page = Get(console_->At("/audit"), admin);
    ASSERT_EQ(page.status, 200);
    EXPECT_THAT(page.body, HasSubstr("<li><a href=\"/audit\" aria-current=\"page\">Audit "
                                     "trail</a></li>"));
    EXPECT_THAT(page.body, HasSubstr("role=\"search\""));
    EXPECT_THAT(page.body, HasSubstr("<label for=\"kc-from\">From</label><input id=\"kc-from\" "
                                     "name=\"from\" type=\"date\""));
    EXPECT_THAT(page.body, HasSubstr("5 records"));  // two logins, three closes
    EXPECT_THAT(page.body, HasSubstr("close file: &lt;b&gt;x2 \xE2\x80\x94 closed"));
    EXPECT_THAT(page.body, Not(HasSubstr("<b>x")));
    EXPECT_LT(page.body.find("&lt;b&gt;x2"), page.body.find("&lt;b&gt;x0"));  // newest first

    const HttpResponse guests = Get(console_->At("/audit?account=guest&format=json"), admin);
    EXPECT_EQ(guests.Header("Content-Type"), "application/json");
    EXPECT_THAT(guests.body, StartsWith("{\"total\": 1, \"items\": [\n{\"time\": \""));
    EXPECT_THAT(guests.body, HasSubstr("\"account\": \"guest\", \"viaToken\": false, \"client\": "
                                       "\"127.0.0.1\", \"action\": \"login\", \"status\": 303"));
    const HttpResponse paged = Get(console_->At("/audit?size=2&page=2"), admin);
    EXPECT_THAT(paged.body, HasSubstr("Page 2 of 3"));
    EXPECT_THAT(paged.body, HasSubstr("href=\"/audit?size=2&amp;page=3\""));
    EXPECT_THAT(paged.body, HasSubstr("href=\"/audit?size=2\""));
    EXPECT_THAT(Get(console_->At("/audit?action=login&from=2999-01-01&format=json"), admin).body,
                StartsWith("{\"total\": 0,"));
    const HttpResponse bad = Get(console_->At("/audit?from=soon"), admin);
    EXPECT_EQ(bad.status, 400);
    EXPECT_THAT(bad.body, HasSubstr("role=\"alert\""));

    const HttpResponse csv =
        Get(console_->At("/audit?action=%2Fdataprobe%2Fclose&format=csv"), admin);
    EXPECT_EQ(csv.Header("Content-Disposition"), "attachment; filename=\"audit.csv\"");
    EXPECT_THAT(csv.body, StartsWith("time,account,via_token,client,action,status,target_action,"
                                     "target,result\r\n"));
    EXPECT_EQ(std::count(csv.body.begin(), csv.body.end(), '\n'), 7);  // 3 records, 2 targets
    EXPECT_EQ(Post(console_->At("/audit"), "", admin, console_->url()).status, 405);
}

TEST_F(AuditConsole, TokensReachOnlyDataInJsonOrCsvAndAReaderPostsNothing) {
    const std::string reader = MakeToken("monitor", kel::console::kReadAccess);
    const std::string admin = MakeToken("deploy", kel::console::kAdministratorAccess);

    HttpResponse read = WithToken(reader, "/dataprobe/list?format=json");
    EXPECT_EQ(read.status, 200);
    EXPECT_EQ(read.body, "monitor token=1 query=[format=json] access=0x00000009");
    HttpResponse noFormat = WithToken(reader, "/dataprobe/list");
    EXPECT_EQ(noFormat.status, 406);
    EXPECT_EQ(noFormat.Header("Content-Type"), "text/plain; charset=utf-8");
    EXPECT_EQ(WithToken(reader, "/dataprobe/list?format=html").status, 406);
    EXPECT_EQ(WithToken(reader, "/pageprobe?format=json").status, 403);
    EXPECT_EQ(WithToken(reader, "/?format=json").status, 404);
    EXPECT_EQ(WithToken(reader, "/audit?format=csv").status, 200);

    const int before = g_dataCalls.load();
    EXPECT_EQ(WithToken(reader, "/dataprobe/close?format=json", "POST", "name=a").status, 403);
    EXPECT_EQ(g_dataCalls.load(), before);
    // No Origin needed with a token.
    const HttpResponse posted = WithToken(admin, "/dataprobe/close?format=json", "POST", "name=b");
    EXPECT_EQ(posted.status, 200);
    EXPECT_EQ(g_dataCalls.load(), before + 1);

    const std::vector<kel::console::AuditRecord> records = Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].account, "deploy");
    EXPECT_TRUE(records[0].viaToken);
    EXPECT_EQ(records[0].status, 200);
    ASSERT_EQ(records[0].targets.size(), 2u);
    EXPECT_EQ(records[1].account, "monitor");
    EXPECT_EQ(records[1].status, 403);
    EXPECT_TRUE(records[1].targets.empty());

    const HttpResponse json = WithToken(reader, "/audit?format=json");
    EXPECT_THAT(json.body, HasSubstr("\"account\": \"deploy\", \"viaToken\": true"));
    EXPECT_THAT(json.body, HasSubstr("{\"action\": \"close file\", \"target\": \"b.bak\", "
                                     "\"result\": \"failed: busy\"}"));

    std::string error;
    ASSERT_TRUE(kel::console::RevokeToken(kel::console::TokenFileFor(dir_.File("accounts")),
                                          "monitor", &error));
    const HttpResponse revoked = WithToken(reader, "/dataprobe/list?format=json");
    EXPECT_EQ(revoked.status, 401);
    EXPECT_EQ(revoked.Header("WWW-Authenticate"), "Bearer");
    Advance(std::chrono::seconds(120));  // the failure holds the address back a while
    EXPECT_EQ(WithToken(admin, "/dataprobe/list?format=json").status, 200);
}

// A page may read the query's names decoded (as the administration plug-in does) or as they are
// (as HttpFindNameAndValue and the Audit Trail do): a token request whose format one of them
// would read otherwise than the console checked reaches no page at all.
TEST_F(AuditConsole, ATokenReachesNoPageWhoseFormatItCouldReadOtherwise) {
    const std::string reader = MakeToken("monitor", kel::console::kReadAccess);
    const int before = g_dataCalls.load();
    for (const char *query :
         {"form%61t=html&format=json", "format=json&form%61t=html", "format=json&format=html",
          "form%61t=json", "%66ormat=csv&format=csv", "format=json&format"}) {
        EXPECT_EQ(WithToken(reader, std::string("/dataprobe/list?") + query).status, 406) << query;
        EXPECT_EQ(WithToken(reader, std::string("/audit?") + query).status, 406) << query;
    }
    EXPECT_EQ(g_dataCalls.load(), before);
    // The same format twice, or a value written with escapes, is still that format.
    EXPECT_EQ(WithToken(reader, "/dataprobe/list?format=json&x=1&format=json").status, 200);
    EXPECT_EQ(WithToken(reader, "/dataprobe/list?format=%6Ason").status, 200);
    EXPECT_EQ(WithToken(reader, "/audit?format=%63sv").status, 200);
}

TEST_F(AuditConsole, WrongTokensCountAgainstTheAddressLikeFailedLogins) {
    const std::string token = MakeToken("monitor", kel::console::kReadAccess);
    std::string wrong = token;
    wrong[10] = wrong[10] == 'a' ? 'b' : 'a';
    EXPECT_EQ(WithToken(wrong, "/audit?format=json").status, 401);
    // The address now waits: even the right token, and a password, are held back.
    EXPECT_EQ(WithToken(token, "/audit?format=json").status, 429);
    EXPECT_EQ(Post(console_->At("/login"),
                   std::string("name=admin&password=") + console_test::kAdminPassword, {},
                   console_->url())
                  .status,
              429);
    Advance(std::chrono::seconds(120));
    EXPECT_EQ(WithToken(token, "/audit?format=json").status, 200);
    EXPECT_EQ(WithToken("", "/audit?format=json").status, 401);
    // Another address's wrong tokens hold back only that address.
    Advance(std::chrono::seconds(120));
    for (int i = 0; i < 3; ++i) {
        WithToken(wrong, "/audit?format=json", "GET", {}, "127.0.0.2");
    }
    EXPECT_EQ(WithToken(token, "/audit?format=json", "GET", {}, "127.0.0.2").status, 429);
    EXPECT_EQ(WithToken(token, "/audit?format=json").status, 200);
}

TEST_F(AuditConsole, EightClientsPostingAtOnceLeaveOneRecordEachWithItsOwnTargets) {
    const std::string cookie = console_->LoginAdmin();
    ASSERT_FALSE(cookie.empty());
    constexpr int kClients = 8;
    constexpr int kEach = 12;
    std::vector<std::thread> clients;
    std::atomic<int> answered{0};
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c] {
            for (int i = 0; i < kEach; ++i) {
                const std::string name = "c" + std::to_string(c) + "f" + std::to_string(i);
                // Each client from an address of its own.
                const HttpResponse response =
                    Post(console_->At("/dataprobe/close"), "name=" + name, cookie, console_->url(),
                         "127.0.0." + std::to_string(10 + c));
                if (response.status == 200) {
                    ++answered;
                } else {
                    ADD_FAILURE() << response.status << " " << response.body;
                }
            }
        });
    }
    for (std::thread &client : clients) {
        client.join();
    }
    EXPECT_EQ(answered.load(), kClients * kEach);
    const std::vector<kel::console::AuditRecord> records = Records();
    ASSERT_EQ(records.size(), static_cast<std::size_t>(kClients * kEach + 1));  // and the login
    std::set<std::string> names;
    for (const kel::console::AuditRecord &record : records) {
        if (record.action == "login") {
            continue;
        }
        EXPECT_EQ(record.status, 200);
        ASSERT_EQ(record.targets.size(), 2u);
        // The client of the record is the one that posted its target.
        EXPECT_EQ(record.client,
                  "127.0.0." + std::to_string(10 + (record.targets[0].target[1] - '0')));
        EXPECT_EQ(record.targets[1].target, record.targets[0].target + ".bak");
        names.insert(record.targets[0].target);
    }
    EXPECT_EQ(names.size(), static_cast<std::size_t>(kClients * kEach));
}

}  // namespace
