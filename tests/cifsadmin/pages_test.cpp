// The administration pages served against the recording host and the programmable monitoring
// library: whole pages against golden files, the data outputs with hostile names, the close and
// end flows, refusals, a library without the administration calls, and the action observer.
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cifsadmin/calls.h"
#include "cifsadmin/methods.h"
#include "cifsadmin/registration.h"
#include "cifsadmin/results.h"
#include "cifsadmin/text.h"
#include "common/golden.h"
#include "support/fake_host.h"
#include "support/fake_monitoring.h"

namespace {

using namespace kel2cifs::admin;
using testing_support::Golden;

constexpr unsigned kAdmin = 0x0000000Bu;
constexpr unsigned kReader = 0x00000009u;
// 2026-12-09 05:06:07 UTC.
constexpr std::time_t kNow = 1796792767;

// The clock of the pages and the kept results.
std::time_t g_now = kNow;
std::time_t FixedClock(std::time_t *out) {
    if (out != nullptr) {
        *out = g_now;
    }
    return g_now;
}

// The stand-in for Ext_LastFailure. As the library's, it reports on the thread's latest call
// other than a Free call: after a listing that succeeded, g_notice (a node that did not answer,
// or nothing); after anything else, g_report. The test sets both.
std::string g_report;
std::string g_notice;
thread_local bool t_listed = false;
int Report(char *text, size_t size) {
    if (text != nullptr && size > 0) {
        std::snprintf(text, size, "%s", (t_listed ? g_notice : g_report).c_str());
    }
    return 0;
}

// The library's calls the pages make, each noting whether it is a listing that succeeded.
int ListingFiles(CifsOpenFile **list, size_t *count) {
    const int status = Ext_ListOpenFiles(list, count);
    t_listed = status == CIFSMON_STATUS_OK;
    return status;
}
int ListingSessions(CifsSession **list, size_t *count) {
    const int status = Ext_ListSessions(list, count);
    t_listed = status == CIFSMON_STATUS_OK;
    return status;
}
int Planning(const CifsOpenRef *targets, size_t targetCount, CifsOpenFile **list, size_t *count) {
    t_listed = false;
    return Ext_PlanClose(targets, targetCount, list, count);
}
int Closing(unsigned int connNumber, const char *path) {
    t_listed = false;
    return Ext_CloseOpenFile(connNumber, path);
}
int Ending(unsigned int connNumber) {
    t_listed = false;
    return Ext_EndSession(connNumber);
}

// A library that fills the whole buffer and does not terminate it.
int Flood(char *text, size_t size) {
    std::memset(text, 'n', size);
    return 0;
}

// Compares with a golden file; KEL2CIFS_UPDATE_GOLDEN=1 writes it instead.
void ExpectGolden(const std::string &name, const std::string &actual) {
    const std::string relative = "cifsadmin/golden/" + name;
    if (std::getenv("KEL2CIFS_UPDATE_GOLDEN") != nullptr) {
        std::ofstream(std::string(KEL2CIFS_TESTS_SOURCE_DIR) + "/" + relative, std::ios::binary)
            << actual;
        return;
    }
    EXPECT_EQ(actual, Golden(relative)) << name;
}

std::string HeaderValue(const fake::Request &request, const std::string &name) {
    for (const std::string &line : request.headerLines) {
        if (line.rfind(name + ": ", 0) == 0) {
            return line.substr(name.size() + 2);
        }
    }
    return std::string();
}

// The query of a Location.
std::string QueryOfLocation(const std::string &location) {
    const std::size_t mark = location.find('?');
    return mark == std::string::npos ? std::string() : location.substr(mark + 1);
}

fake::OpenFile File(uint16_t conn, std::string volume, std::string path, std::string user,
                    std::string client, uint64_t openedAt) {
    fake::OpenFile file;
    file.connNumber = conn;
    file.volume = std::move(volume);
    file.path = std::move(path);
    file.user = std::move(user);
    file.client = std::move(client);
    file.openedAt = openedAt;
    return file;
}

std::vector<fake::OpenFile> Files() {
    std::vector<fake::OpenFile> files;
    files.push_back(File(3, "VOL1", "/vol1/docs/ÄRGER.txt", "jörg", "192.0.2.7", kNow - 3600));
    files.back().access = CIFSMON_ACCESS_READ | CIFSMON_ACCESS_WRITE;
    files.back().shareMode = CIFSMON_SHARE_READ;
    files.back().oplock = "batch";
    files.push_back(
        File(5, "VOL2", "/vol2/=cmd|' /C calc'!A0,\"x\".csv", "=evil", "2001:db8::5", kNow - 60));
    files.push_back(
        File(5, "VOL2", "/vol2/line\nbreak<script>alert(1)</script>.doc", "bob", "192.0.2.9", 0));
    files.back().node = 2;
    files.back().oplock = "lease (RWH)";
    files.push_back(File(7, "VOL1", "/vol1/plain.txt", "alice", "192.0.2.1", kNow - 7200));
    return files;
}

// The rows of a server that is not part of a cluster.
template <typename Row>
std::vector<Row> WithoutNodes(std::vector<Row> rows) {
    for (Row &row : rows) {
        row.node = CIFSMON_NO_NODE;
    }
    return rows;
}

// Every open file of a cluster of three nodes: node 1 holds /vol1/a.txt twice, the tie that
// connection breaks.
std::vector<fake::OpenFile> ClusterFiles() {
    std::vector<fake::OpenFile> files;
    const auto add = [&](uint16_t conn, const char *volume, const char *path, const char *user,
                         uint32_t node) {
        files.push_back(
            File(conn, volume, path, user, "10.0.0." + std::to_string(conn), kNow - 60 * conn));
        files.back().node = node;
    };
    add(16, "VOL1", "/vol1/a.txt", "frank", 1);
    add(12, "VOL1", "/vol1/b.txt", "bob", 0);
    add(13, "VOL2", "/vol2/a.txt", "carol", 1);
    add(11, "VOL1", "/vol1/b.txt", "alice", 1);
    add(14, "VOL1", "/vol1/a.txt", "dave", 0);
    add(15, "VOL2", "/vol2/c.txt", "erin", 2);
    add(11, "VOL1", "/vol1/a.txt", "alice", 1);
    return files;
}

// What the library says after a listing in which a node did not answer.
constexpr char kNotice[] =
    "node 3 (10.213.0.4) did not answer (STOPPED): its sessions & <open> files are not listed";

// The items of a JSON list in order, each "path#connection" (open files) or "connection".
std::vector<std::string> Items(const std::string &json) {
    std::vector<std::string> items;
    std::size_t at = 0;
    while ((at = json.find("\n{", at)) != std::string::npos) {
        const std::size_t end = json.find('\n', at + 1);
        const std::string item = json.substr(at + 1, end - at - 1);
        const std::size_t conn = item.find("\"connection\": ") + 14;
        std::string key = item.substr(conn, item.find(',', conn) - conn);
        const std::size_t path = item.find("\"path\": \"");
        if (path != std::string::npos) {
            key = item.substr(path + 9, item.find('"', path + 9) - path - 9) + "#" + key;
        }
        items.push_back(key);
        at = end;
    }
    return items;
}

class AdminPages : public ::testing::Test {
  protected:
    void SetUp() override {
        fake::Reset();
        ForgetResults();
        g_report.clear();
        g_notice.clear();
        t_listed = false;
        g_now = kNow;
        Calls calls = Use();
        calls.now = FixedClock;
        calls.lastFailure = Report;
        calls.listOpenFiles = ListingFiles;
        calls.listSessions = ListingSessions;
        calls.planClose = Planning;
        calls.closeOpenFile = Closing;
        calls.endSession = Ending;
        saved_ = ReplaceCalls(calls);
        fake::SetOpenFiles(Files());
    }
    void TearDown() override {
        ReplaceCalls(saved_);
        EXPECT_EQ(fake::Outstanding(), 0u) << ::testing::PrintToString(fake::OutstandingBlocks());
        EXPECT_TRUE(fake::Errors().empty()) << ::testing::PrintToString(fake::Errors());
        fake::Reset();
    }

    static fake::Request &Prepare(fake::Request &request, std::string query) {
        request.query = std::move(query);
        return request;
    }

    Calls saved_{};
};

// --- Find Open Files ------------------------------------------------------------------------

TEST_F(AdminPages, FindListIsTheGoldenPage) {
    fake::SetOpenFiles(WithoutNodes(Files()));
    fake::Request request = fake::Get("/cifsfind");
    request.query = "sort=user&order=desc&refresh=30&sel=7%3A%2Fvol1%2Fplain.txt";
    EXPECT_EQ(fake::Serve(FindMethod, request, kAdmin), 200);
    EXPECT_TRUE(request.violations.empty()) << ::testing::PrintToString(request.violations);
    EXPECT_EQ(request.state, fake::Response::kEnded);
    ASSERT_NE(request.header(), nullptr);
    ExpectGolden("find_list.html", request.body);
    ExpectGolden("head.html", request.header()->script);
}

TEST_F(AdminPages, FindSearchesIgnoringCaseAcrossVolumes) {
    fake::Request request = fake::Get("/cifsfind");
    request.query = "q=%C3%A4rger&format=json";
    EXPECT_EQ(fake::Serve(FindMethod, request, kAdmin), 200);
    EXPECT_NE(request.body.find("\"total\": 1,"), std::string::npos) << request.body;
    EXPECT_NE(request.body.find("\"path\": \"/vol1/docs/ÄRGER.txt\""), std::string::npos);

    fake::Request none = fake::Get("/cifsfind");
    none.query = "q=nowhere&format=json";
    EXPECT_EQ(fake::Serve(FindMethod, none, kAdmin), 200);
    EXPECT_EQ(none.body,
              "{\"total\": 0, \"page\": 1, \"pages\": 1, \"size\": 100, \"items\": []}\n");

    fake::Request glob = fake::Get("/cifsfind");
    glob.query = "q=*.TXT&volume=vol1&format=csv";
    EXPECT_EQ(fake::Serve(FindMethod, glob, kAdmin), 200);
    EXPECT_EQ(std::count(glob.body.begin(), glob.body.end(), '\n'), 3) << glob.body;
}

TEST_F(AdminPages, JsonAndCsvCarryHostileNamesSafely) {
    fake::Request json = fake::Get("/cifsfind");
    json.query = "format=json&sort=connection";
    EXPECT_EQ(fake::Serve(FindMethod, json, kReader), 200);
    EXPECT_EQ(HeaderValue(json, "Content-Type"), "application/json");
    ExpectGolden("find.json", json.body);

    fake::SetOpenFiles(WithoutNodes(Files()));
    fake::Request csv = fake::Get("/cifsfind");
    csv.query = "format=csv&sort=connection";
    EXPECT_EQ(fake::Serve(FindMethod, csv, kReader), 200);
    EXPECT_EQ(HeaderValue(csv, "Content-Type"), "text/csv; charset=utf-8");
    ExpectGolden("find.csv", csv.body);
}

TEST_F(AdminPages, PagingBySizeAndPagePastTheEnd) {
    fake::Request request = fake::Get("/cifsfind");
    request.query = "format=json&size=3&page=9";
    EXPECT_EQ(fake::Serve(FindMethod, request, kAdmin), 200);
    EXPECT_EQ(request.body.rfind("{\"total\": 4, \"page\": 2, \"pages\": 2, \"size\": 3,", 0), 0u)
        << request.body;
    EXPECT_EQ(std::count(request.body.begin(), request.body.end(), '\n'), 3);  // one item

    fake::Request huge = fake::Get("/cifsfind");
    huge.query = "format=json&size=100000";
    EXPECT_EQ(fake::Serve(FindMethod, huge, kAdmin), 200);
    EXPECT_NE(huge.body.find("\"size\": 1000,"), std::string::npos);
}

TEST_F(AdminPages, FilterTextIsEscapedInEveryPlaceItLands) {
    fake::Request request = fake::Get("/cifsfind");
    request.query = "user=%22%3E%3Cscript%3Ex%3C%2Fscript%3E&q=%27";
    EXPECT_EQ(fake::Serve(FindMethod, request, kAdmin), 200);
    EXPECT_EQ(request.body.find("<script>x"), std::string::npos);
    EXPECT_EQ(request.body.find("\"><script"), std::string::npos);
    EXPECT_NE(request.body.find("value=\"&quot;&gt;&lt;script&gt;x&lt;/script&gt;\""),
              std::string::npos);
    EXPECT_NE(request.body.find("user=%22%3E%3Cscript%3Ex%3C%2Fscript%3E"), std::string::npos);
}

TEST_F(AdminPages, PreviewThenConfirmThenRedirectThenBanner) {
    // The server can close /vol1/plain.txt only with conn 3's file.
    fake::SetPlanAlong({Files()[0]});
    const std::string form =
        "q=&user=&client=&volume=&sort=path&order=desc&page=1&size=50&refresh=0"
        "&close=7%3A%2Fvol1%2Fplain.txt&close=9%3A%2Fgone.txt";
    fake::Request preview = fake::Post("/cifsfind", form);
    EXPECT_EQ(fake::Serve(FindMethod, preview, kAdmin), 200);
    EXPECT_TRUE(preview.violations.empty());
    EXPECT_TRUE(fake::CloseCalls().empty());
    EXPECT_TRUE(preview.audit.empty());
    ExpectGolden("find_preview.html", preview.body);

    // Confirmed: each target closed once and recorded with its result.
    fake::SetCloseHandler([](const fake::CloseCall &call) {
        if (call.connNumber == 7) {
            g_report = "also closed /vol1/docs/ÄRGER.txt of connection 3";
            return 0;
        }
        g_report = "no such open file";
        return 1;
    });
    fake::Request confirm = fake::Post("/cifsfind", form + "&step=confirm");
    confirm.account = "admin";
    EXPECT_EQ(fake::Serve(FindMethod, confirm, kAdmin), 303);
    EXPECT_TRUE(confirm.violations.empty());
    ASSERT_EQ(fake::CloseCalls().size(), 2u);
    EXPECT_EQ(fake::CloseCalls()[0].kind, fake::CloseCall::kOpenFile);
    EXPECT_EQ(fake::CloseCalls()[0].connNumber, 7u);
    EXPECT_EQ(fake::CloseCalls()[0].path, "/vol1/plain.txt");
    ASSERT_EQ(confirm.audit.size(), 2u);
    EXPECT_EQ(confirm.audit[0].action, "close file");
    EXPECT_EQ(confirm.audit[0].target, "connection 7: /vol1/plain.txt");
    EXPECT_EQ(confirm.audit[0].result, "closed; also closed /vol1/docs/ÄRGER.txt of connection 3");
    EXPECT_EQ(confirm.audit[1].target, "connection 9: /gone.txt");
    EXPECT_EQ(confirm.audit[1].result, "failed: no such open file");
    const std::string location = HeaderValue(confirm, "Location");
    ASSERT_EQ(location.rfind("/cifsfind?size=50&sort=path&order=desc&result=", 0), 0u) << location;

    // The page sent back shows what happened, to the same account only.
    fake::SetCloseHandler(nullptr);
    fake::Request back = fake::Get("/cifsfind");
    back.query = QueryOfLocation(location);
    back.account = "admin";
    EXPECT_EQ(fake::Serve(FindMethod, back, kAdmin), 200);
    const std::size_t banner = back.body.find("<div class=\"adm-banner\" role=\"status\">");
    ASSERT_NE(banner, std::string::npos);
    EXPECT_NE(back.body.find("<li>Closed: connection 7: /vol1/plain.txt</li>"), std::string::npos);
    EXPECT_NE(back.body.find("<li>Closed along with connection 7: /vol1/plain.txt: also closed "
                             "/vol1/docs/ÄRGER.txt of connection 3</li>"),
              std::string::npos);
    EXPECT_NE(back.body.find("<li class=\"adm-failed\">Not closed: connection 9: /gone.txt (no "
                             "such open file)</li>"),
              std::string::npos);
    // A reload closes nothing.
    fake::Request reload = fake::Get("/cifsfind");
    reload.query = back.query;
    EXPECT_EQ(fake::Serve(FindMethod, reload, kAdmin), 200);
    EXPECT_EQ(fake::CloseCalls().size(), 2u);
    EXPECT_TRUE(reload.audit.empty());

    fake::Request other = fake::Get("/cifsfind");
    other.query = back.query;
    other.account = "someone-else";
    EXPECT_EQ(fake::Serve(FindMethod, other, kAdmin), 200);
    EXPECT_EQ(other.body.find("adm-banner"), std::string::npos);
}

TEST_F(AdminPages, ReadOnlyAccountsCloseNothing) {
    const std::string form = "close=7%3A%2Fvol1%2Fplain.txt&step=confirm";
    fake::Request html = fake::Post("/cifsfind", form);
    EXPECT_EQ(fake::Serve(FindMethod, html, kReader), 403);
    EXPECT_EQ(html.errorResponses, std::vector<int>{403});

    fake::Request json = fake::Post("/cifsfind", form);
    json.query = "format=json";
    json.viaToken = true;
    EXPECT_EQ(fake::Serve(FindMethod, json, kReader), 403);
    EXPECT_EQ(json.handBuiltStatus, 403);
    EXPECT_EQ(json.body, "{\"error\": \"this account may not do that\"}\n");

    fake::Request end = fake::Post("/cifssessions", "end=7&step=confirm");
    EXPECT_EQ(fake::Serve(SessionsMethod, end, kReader), 403);

    EXPECT_TRUE(fake::CloseCalls().empty());
    EXPECT_TRUE(html.audit.empty());
    EXPECT_TRUE(json.audit.empty());

    // Without the console bit nothing is shown; a declined word is not served at all.
    fake::Request get = fake::Get("/cifsfind");
    EXPECT_EQ(fake::Serve(FindMethod, get, 0x3u), 403);
    fake::Request declined = fake::Get("/cifsfind");
    EXPECT_EQ(fake::Serve(FindMethod, declined, kAdmin | 0x80000000u), 0);
    EXPECT_TRUE(declined.calls.empty());
}

TEST_F(AdminPages, JsonPostClosesAtOnce) {
    fake::SetCloseResults({0, 1});
    fake::Request request =
        fake::Post("/cifsfind", "close=7%3A%2Fvol1%2Fplain.txt&close=3%3A%2Fnone%2525.txt");
    request.query = "format=json";
    g_report = "";
    EXPECT_EQ(fake::Serve(FindMethod, request, kAdmin), 200);
    EXPECT_EQ(request.body,
              "{\"results\": [\n"
              "{\"connection\": 7, \"path\": \"/vol1/plain.txt\", \"status\": \"closed\", "
              "\"report\": \"\"},\n"
              "{\"connection\": 3, \"path\": \"/none%.txt\", \"status\": \"failed\", "
              "\"report\": \"status 1\"}\n]}\n");
    ASSERT_EQ(fake::CloseCalls().size(), 2u);
    // '%' of a path travels as %25 inside the field's value.
    EXPECT_EQ(fake::CloseCalls()[1].path, "/none%.txt");
    EXPECT_EQ(request.audit.size(), 2u);

    fake::Request empty = fake::Post("/cifsfind", "close=nonsense");
    empty.query = "format=json";
    EXPECT_EQ(fake::Serve(FindMethod, empty, kAdmin), 400);
    EXPECT_EQ(fake::CloseCalls().size(), 2u);
}

TEST_F(AdminPages, ListingFailureIsReported) {
    fake::SetOpenFiles({}, 10);
    g_report = "smbd is not running";
    fake::Request html = fake::Get("/cifsfind");
    EXPECT_EQ(fake::Serve(FindMethod, html, kAdmin), 200);
    EXPECT_NE(html.body.find("The open files could not be listed: smbd is not running"),
              std::string::npos);
    fake::Request json = fake::Get("/cifsfind");
    json.query = "format=json";
    EXPECT_EQ(fake::Serve(FindMethod, json, kAdmin), 502);
    EXPECT_EQ(json.body, "{\"error\": \"smbd is not running\"}\n");
}

TEST_F(AdminPages, WithoutTheAdministrationCallsThePagesSaySo) {
    Calls calls = Use();
    calls.listOpenFiles = nullptr;
    calls.listSessions = nullptr;
    ReplaceCalls(calls);
    fake::Request find = fake::Get("/cifsfind");
    EXPECT_EQ(fake::Serve(FindMethod, find, kAdmin), 200);
    EXPECT_NE(find.body.find("This feature is not available"), std::string::npos);
    fake::Request sessions = fake::Get("/cifssessions");
    sessions.query = "format=json";
    EXPECT_EQ(fake::Serve(SessionsMethod, sessions, kAdmin), 501);
    fake::Request post = fake::Post("/cifsfind", "close=7%3A%2Fa&step=confirm");
    EXPECT_EQ(fake::Serve(FindMethod, post, kAdmin), 200);
    EXPECT_TRUE(fake::CloseCalls().empty());
    EXPECT_TRUE(fake::Calls().empty());
}

TEST_F(AdminPages, ResultsAreKeptBoundedInNumberAndTimeForTheirAccount) {
    ActionResult result;
    result.account = "admin";
    result.lines.push_back({ResultLine::kClosed, "x", "", ""});
    const std::string first = KeepResult(result);
    EXPECT_EQ(first.size(), 16u);
    EXPECT_TRUE(FindResult(first, "admin").has_value());
    EXPECT_FALSE(FindResult(first, "reader").has_value());
    g_now = kNow + kResultLifetime + 1;
    EXPECT_FALSE(FindResult(first, "admin").has_value());

    const std::string oldest = KeepResult(result);
    std::string newest;
    for (std::size_t i = 0; i < kKeptResults; ++i) {
        newest = KeepResult(result);
        EXPECT_NE(newest, oldest);
    }
    EXPECT_FALSE(FindResult(oldest, "admin").has_value());
    EXPECT_TRUE(FindResult(newest, "admin").has_value());
    EXPECT_FALSE(FindResult("", "admin").has_value());
}

std::vector<fake::Session> Sessions();

TEST_F(AdminPages, AnyQueryOrFormGetsOneCompleteResponse) {
    fake::SetSessions(Sessions());
    std::vector<std::string> inputs = {
        "page=-1&size=abc&sort=%3Cscript%3E&order=sideways&refresh=999",
        "q=[&q=[!&user=%&client=%ZZ&volume=%00",
        "q=****************************************a&sort=openedAt&order=desc",
        "sel=&sel=%25&sel=7:&close=:&close=99999:/a&end=&end=-1&end=65536&step=confirm",
        "format=xml&result=%00&result=zzzz",
        "&&&==&=&a",
    };
    std::uint32_t state = 12345;  // a fixed sequence of arbitrary bytes
    for (int n = 0; n < 40; ++n) {
        std::string text;
        for (int i = 0; i < 60; ++i) {
            state = state * 1103515245u + 12345u;
            text += static_cast<char>((state >> 16) & 0xFF);
        }
        inputs.push_back("q=" + text + "&close=" + text.substr(0, 20) + "&filter=" + text);
    }
    for (const std::string &input : inputs) {
        for (const ServiceMethod method :
             {ServiceMethod{FindMethod}, ServiceMethod{SessionsMethod}}) {
            fake::Request get = fake::Get("/x");
            get.query = input;
            fake::Serve(method, get, kAdmin);
            EXPECT_TRUE(get.Complete()) << input;
            EXPECT_TRUE(get.violations.empty()) << input;
            fake::Request post = fake::Post("/x", input);
            fake::Serve(method, post, kAdmin);
            EXPECT_TRUE(post.Complete()) << input;
            EXPECT_TRUE(post.violations.empty()) << input;
        }
    }
}

// A NUL in a filter (%00) lands in the page as U+FFFD: the host writes what it is given as a C
// string, so the NUL itself would cut the page short there.
TEST_F(AdminPages, ANulInTheQueryDoesNotCutThePageShort) {
    fake::SetSessions(Sessions());
    fake::Request find = fake::Get("/cifsfind");
    find.query = "user=a%00b";
    EXPECT_EQ(fake::Serve(FindMethod, find, kAdmin), 200);
    EXPECT_NE(find.body.find("name=\"user\" type=\"search\" value=\"a\xEF\xBF\xBD"
                             "b\">"),
              std::string::npos);
    EXPECT_NE(find.body.find("name=\"volume\""), std::string::npos);
    EXPECT_NE(find.body.find("class=\"adm-data\""), std::string::npos);
    fake::Request sessions = fake::Get("/cifssessions");
    sessions.query = "filter=%00";
    EXPECT_EQ(fake::Serve(SessionsMethod, sessions, kAdmin), 200);
    EXPECT_NE(sessions.body.find("value=\"\xEF\xBF\xBD\"></label>"), std::string::npos);
    EXPECT_NE(sessions.body.find("class=\"adm-data\""), std::string::npos);
    EXPECT_EQ(Html(std::string("x\0y", 3)), "x\xEF\xBF\xBDy");
}

// --- Sessions -------------------------------------------------------------------------------

std::vector<fake::Session> Sessions() {
    fake::Session a;
    a.connNumber = 7;
    a.user = "alice";
    a.client = "192.0.2.1";
    a.machine = "PC-<7>";
    a.dialect = "SMB3_11";
    a.signing = "AES-128-GMAC";
    a.encryption = "AES-128-GCM";
    a.openFileCount = 2;
    a.connectedSince = kNow - 86400;
    a.idleSeconds = 125;
    a.bytesIn = 1536;
    a.bytesOut = 3ull * 1024 * 1024 * 1024;
    fake::Session b;
    b.connNumber = 3;
    b.user = "Jörg";
    b.client = "2001:db8::5";
    b.idleSeconds = UINT64_MAX;
    b.bytesIn = 900;
    b.node = 1;
    return {a, b};
}

TEST_F(AdminPages, SessionsListAndDataAreGolden) {
    fake::SetSessions(WithoutNodes(Sessions()));
    fake::Request html = fake::Get("/cifssessions");
    html.query = "sort=bytesOut&order=desc";
    EXPECT_EQ(fake::Serve(SessionsMethod, html, kReader), 200);
    EXPECT_TRUE(html.violations.empty());
    ExpectGolden("sessions_list.html", html.body);

    fake::SetSessions(Sessions());
    fake::Request json = fake::Get("/cifssessions");
    json.query = "format=json&filter=J%C3%96RG";
    EXPECT_EQ(fake::Serve(SessionsMethod, json, kReader), 200);
    ExpectGolden("sessions.json", json.body);

    fake::SetSessions(WithoutNodes(Sessions()));
    fake::Request csv = fake::Get("/cifssessions");
    csv.query = "format=csv";
    EXPECT_EQ(fake::Serve(SessionsMethod, csv, kReader), 200);
    ExpectGolden("sessions.csv", csv.body);
}

TEST_F(AdminPages, EndSessionThroughConfirmation) {
    fake::SetSessions(Sessions());
    fake::Request ask = fake::Post("/cifssessions",
                                   "filter=&sort=user&order=asc&page=1&size=100"
                                   "&refresh=10&end=7");
    EXPECT_EQ(fake::Serve(SessionsMethod, ask, kAdmin), 200);
    EXPECT_TRUE(fake::CloseCalls().empty());
    ExpectGolden("sessions_confirm.html", ask.body);

    fake::Request confirm = fake::Post("/cifssessions", "sort=user&order=asc&end=7&step=confirm");
    EXPECT_EQ(fake::Serve(SessionsMethod, confirm, kAdmin), 303);
    ASSERT_EQ(fake::CloseCalls().size(), 1u);
    EXPECT_EQ(fake::CloseCalls()[0].kind, fake::CloseCall::kEndSession);
    EXPECT_EQ(fake::CloseCalls()[0].connNumber, 7u);
    ASSERT_EQ(confirm.audit.size(), 1u);
    EXPECT_EQ(confirm.audit[0].action, "end session");
    EXPECT_EQ(confirm.audit[0].target, "connection 7 (alice)");
    EXPECT_EQ(confirm.audit[0].result, "ended");
    const std::string location = HeaderValue(confirm, "Location");
    ASSERT_EQ(location.rfind("/cifssessions?sort=user&order=asc&result=", 0), 0u) << location;

    fake::Request back = fake::Get("/cifssessions");
    back.query = QueryOfLocation(location);
    EXPECT_EQ(fake::Serve(SessionsMethod, back, kAdmin), 200);
    EXPECT_NE(back.body.find("<li>Session 7 of alice ended</li>"), std::string::npos);

    fake::SetCloseResults({0, 1});
    g_report = "no such connection";
    fake::Request failed = fake::Post("/cifssessions", "end=3&step=confirm");
    EXPECT_EQ(fake::Serve(SessionsMethod, failed, kAdmin), 303);
    fake::Request shown = fake::Get("/cifssessions");
    shown.query = QueryOfLocation(HeaderValue(failed, "Location"));
    EXPECT_EQ(fake::Serve(SessionsMethod, shown, kAdmin), 200);
    EXPECT_NE(shown.body.find("Session 3 of Jörg not ended: no such connection"),
              std::string::npos);
}

TEST_F(AdminPages, JsonPostEndsAtOnce) {
    fake::SetSessions(Sessions());
    fake::Request request = fake::Post("/cifssessions", "end=3&end=3&end=x");
    request.query = "format=json";
    EXPECT_EQ(fake::Serve(SessionsMethod, request, kAdmin), 200);
    EXPECT_EQ(request.body,
              "{\"results\": [\n{\"connection\": 3, \"user\": \"Jörg\", "
              "\"status\": \"ended\", \"report\": \"\"}\n]}\n");
    EXPECT_EQ(fake::CloseCalls().size(), 1u);
}

// A form may name at most a page's rows: one with more is refused before anything closes or
// ends, so a body of thousands of fields neither runs thousands of actions nor fills the audit
// record.
TEST_F(AdminPages, FormsWithMoreTargetsThanAPageHoldsAreRefused) {
    fake::SetSessions(Sessions());
    std::string closes;
    std::string ends;
    for (std::size_t i = 0; i <= kMaxTargets; ++i) {
        closes += "close=" + std::to_string(i % 60000) + "%3A%2Fvol1%2Ff" + std::to_string(i) + "&";
        ends += "end=" + std::to_string(i) + "&";
    }
    for (const std::string query : {"format=json", ""}) {
        fake::Request find = fake::Post("/cifsfind", closes + "step=confirm");
        find.query = query;
        EXPECT_EQ(fake::Serve(FindMethod, find, kAdmin), 400) << query;
        fake::Request end = fake::Post("/cifssessions", ends + "step=confirm");
        end.query = query;
        EXPECT_EQ(fake::Serve(SessionsMethod, end, kAdmin), 400) << query;
        EXPECT_TRUE(find.audit.empty() && end.audit.empty()) << query;
    }
    EXPECT_TRUE(fake::CloseCalls().empty());

    // A full page's worth is served.
    std::string full;
    for (std::size_t i = 0; i < kMaxTargets; ++i) {
        full += "end=3&";
    }
    fake::Request page = fake::Post("/cifssessions", full);
    page.query = "format=json";
    EXPECT_EQ(fake::Serve(SessionsMethod, page, kAdmin), 200);
    EXPECT_EQ(fake::CloseCalls().size(), 1u);
}

// --- On a cluster ---------------------------------------------------------------------------

// Sessions of a cluster: nodes 0 and 2 serve two each.
std::vector<fake::Session> ClusterSessions() {
    std::vector<fake::Session> sessions;
    const auto add = [&](uint16_t conn, const char *user, uint32_t node) {
        fake::Session session;
        session.connNumber = conn;
        session.user = user;
        session.client = "10.0.0." + std::to_string(conn);
        session.machine = std::string("PC") + std::to_string(conn);
        session.dialect = "SMB3_11";
        session.signing = "AES-128-GMAC";
        session.encryption = "no";
        session.openFileCount = conn % 3;
        session.connectedSince = kNow - 3600;
        session.idleSeconds = conn;
        session.bytesIn = 1000u * conn;
        session.bytesOut = 2000u * conn;
        session.node = node;
        sessions.push_back(session);
    };
    add(25, "erin", 0);
    add(23, "carol", 2);
    add(21, "alice", 2);
    add(24, "dave", 1);
    add(22, "bob", 0);
    return sessions;
}

// A page of the list sorted by node, descending, with the notice of a node that did not answer.
TEST_F(AdminPages, FindOnAClusterIsGolden) {
    fake::SetOpenFiles(ClusterFiles());
    g_notice = kNotice;
    fake::Request html = fake::Get("/cifsfind");
    html.query = "sort=node&order=desc&size=4";
    EXPECT_EQ(fake::Serve(FindMethod, html, kAdmin), 200);
    EXPECT_TRUE(html.violations.empty()) << ::testing::PrintToString(html.violations);
    ExpectGolden("find_cluster.html", html.body);
    EXPECT_NE(html.body.find("<p class=\"adm-banner\" role=\"status\">node 3 (10.213.0.4) did not "
                             "answer (STOPPED): its sessions &amp; &lt;open&gt; files are not "
                             "listed</p>"),
              std::string::npos);

    fake::Request json = fake::Get("/cifsfind");
    json.query = "format=json&sort=node";
    EXPECT_EQ(fake::Serve(FindMethod, json, kReader), 200);
    ExpectGolden("find_cluster.json", json.body);

    fake::Request csv = fake::Get("/cifsfind");
    csv.query = "format=csv&sort=node&order=desc";
    EXPECT_EQ(fake::Serve(FindMethod, csv, kReader), 200);
    ExpectGolden("find_cluster.csv", csv.body);
    EXPECT_EQ(csv.body.find("did not answer"), std::string::npos);
}

TEST_F(AdminPages, SessionsOnAClusterAreGolden) {
    fake::SetSessions(ClusterSessions());
    g_notice = kNotice;
    fake::Request html = fake::Get("/cifssessions");
    html.query = "sort=node";
    EXPECT_EQ(fake::Serve(SessionsMethod, html, kReader), 200);
    EXPECT_TRUE(html.violations.empty()) << ::testing::PrintToString(html.violations);
    ExpectGolden("sessions_cluster.html", html.body);

    fake::Request json = fake::Get("/cifssessions");
    json.query = "format=json&sort=node&order=desc&size=2&page=2";
    EXPECT_EQ(fake::Serve(SessionsMethod, json, kReader), 200);
    ExpectGolden("sessions_cluster.json", json.body);

    fake::Request csv = fake::Get("/cifssessions");
    csv.query = "format=csv&sort=node";
    EXPECT_EQ(fake::Serve(SessionsMethod, csv, kReader), 200);
    ExpectGolden("sessions_cluster.csv", csv.body);
    EXPECT_EQ(csv.body.find("did not answer"), std::string::npos);
}

// Equal nodes keep the order the other columns' ties have: volume, path, connection (sessions:
// connection), ascending in both directions.
TEST_F(AdminPages, SortByNodeBothWaysWithTies) {
    fake::SetOpenFiles(ClusterFiles());
    fake::SetSessions(ClusterSessions());
    const auto serve = [](ServiceMethod method, const std::string &query) {
        fake::Request request = fake::Get("/x");
        request.query = "format=json&" + query;
        EXPECT_EQ(fake::Serve(method, request, kReader), 200) << query;
        return Items(request.body);
    };
    EXPECT_EQ(serve(FindMethod, "sort=node&order=asc"),
              (std::vector<std::string>{"/vol1/a.txt#14", "/vol1/b.txt#12", "/vol1/a.txt#11",
                                        "/vol1/a.txt#16", "/vol1/b.txt#11", "/vol2/a.txt#13",
                                        "/vol2/c.txt#15"}));
    EXPECT_EQ(serve(FindMethod, "sort=node&order=desc"),
              (std::vector<std::string>{"/vol2/c.txt#15", "/vol1/a.txt#11", "/vol1/a.txt#16",
                                        "/vol1/b.txt#11", "/vol2/a.txt#13", "/vol1/a.txt#14",
                                        "/vol1/b.txt#12"}));
    EXPECT_EQ(serve(SessionsMethod, "sort=node"),
              (std::vector<std::string>{"22", "25", "24", "21", "23"}));
    EXPECT_EQ(serve(SessionsMethod, "sort=node&order=desc"),
              (std::vector<std::string>{"21", "23", "24", "22", "25"}));
    // Rows without a node come after every node, and first in descending order.
    fake::SetSessions(Sessions());
    EXPECT_EQ(serve(SessionsMethod, "sort=node"), (std::vector<std::string>{"3", "7"}));
    EXPECT_EQ(serve(SessionsMethod, "sort=node&order=desc"), (std::vector<std::string>{"7", "3"}));

    // The Node heading sorts ascending first, and the other way when it is the sort.
    fake::Request page = fake::Get("/cifssessions");
    page.query = "sort=node&order=asc";
    EXPECT_EQ(fake::Serve(SessionsMethod, page, kReader), 200);
    EXPECT_NE(page.body.find("<th scope=\"col\" aria-sort=\"ascending\"><a "
                             "href=\"/cifssessions?sort=node&amp;order=desc\">Node<span"),
              std::string::npos)
        << page.body;
    EXPECT_NE(page.body.find("<th scope=\"col\"><a href=\"/cifssessions?sort=connection&amp;"
                             "order=asc\">Connection</a></th>"),
              std::string::npos);
}

// Whether the node column is shown is decided by the whole listing: a page or a filter whose
// rows have no node still shows it (empty cells), and a listing without nodes never does.
TEST_F(AdminPages, NodeColumnFollowsTheWholeListingNotThePage) {
    // Files(): only /vol2/line... (connection 5) has a node; sorted by path it is last.
    fake::Request first = fake::Get("/cifsfind");
    first.query = "sort=path&size=1";
    EXPECT_EQ(fake::Serve(FindMethod, first, kReader), 200);
    EXPECT_NE(first.body.find(">Node</a></th>"), std::string::npos);
    EXPECT_NE(first.body.find("<td>192.0.2.7</td><td></td><td>2026-12-09 04:06:07 UTC</td>"),
              std::string::npos)
        << first.body;
    fake::Request last = fake::Get("/cifsfind");
    last.query = "sort=path&size=1&page=4";
    EXPECT_EQ(fake::Serve(FindMethod, last, kReader), 200);
    EXPECT_NE(last.body.find("<td>192.0.2.9</td><td>2</td><td></td>"), std::string::npos)
        << last.body;
    fake::Request filtered = fake::Get("/cifsfind");
    filtered.query = "q=plain";
    EXPECT_EQ(fake::Serve(FindMethod, filtered, kReader), 200);
    EXPECT_NE(filtered.body.find(">Node</a></th>"), std::string::npos);

    fake::Request csv = fake::Get("/cifsfind");
    csv.query = "format=csv&sort=path&size=1";
    EXPECT_EQ(fake::Serve(FindMethod, csv, kReader), 200);
    EXPECT_EQ(csv.body,
              "volume,path,connection,user,client,openedAt,access,shareMode,oplock,node\r\n"
              "VOL1,/vol1/docs/ÄRGER.txt,3,jörg,192.0.2.7,2026-12-09T04:06:07Z,read/write,"
              "deny write/delete,batch,\r\n");

    fake::SetSessions(Sessions());
    fake::Request sessions = fake::Get("/cifssessions");
    sessions.query = "sort=connection&order=desc&size=1";
    EXPECT_EQ(fake::Serve(SessionsMethod, sessions, kReader), 200);
    EXPECT_NE(sessions.body.find("<td>192.0.2.1</td><td></td><td>PC-&lt;7&gt;</td>"),
              std::string::npos)
        << sessions.body;
    fake::Request sessionsCsv = fake::Get("/cifssessions");
    sessionsCsv.query = "format=csv&sort=connection&order=desc&size=1&page=2";
    EXPECT_EQ(fake::Serve(SessionsMethod, sessionsCsv, kReader), 200);
    EXPECT_EQ(sessionsCsv.body,
              "connection,user,client,machine,dialect,signing,encryption,openFiles,connectedSince,"
              "idleSeconds,bytesIn,bytesOut,node\r\n3,Jörg,2001:db8::5,,,,,0,,,900,0,1\r\n");

    // Without nodes no node column, in HTML or CSV, even when sorted by node.
    fake::SetOpenFiles(WithoutNodes(Files()));
    fake::SetSessions(WithoutNodes(Sessions()));
    for (const ServiceMethod method : {ServiceMethod{FindMethod}, ServiceMethod{SessionsMethod}}) {
        fake::Request plain = fake::Get("/x");
        plain.query = "sort=node";
        EXPECT_EQ(fake::Serve(method, plain, kReader), 200);
        EXPECT_EQ(plain.body.find(">Node<"), std::string::npos);
        EXPECT_EQ(plain.body.find("<td></td><td></td>"), std::string::npos);
        fake::Request data = fake::Get("/x");
        data.query = "sort=node&format=csv";
        EXPECT_EQ(fake::Serve(method, data, kReader), 200);
        EXPECT_EQ(data.body.find("node"), std::string::npos) << data.body;
    }
}

// The notice belongs to the listing that succeeded: a failed listing shows its failure alone,
// and without a notice nothing is added.
TEST_F(AdminPages, NoticeOnlyAfterAListingThatSucceeded) {
    fake::SetSessions(ClusterSessions());
    fake::Request quiet = fake::Get("/cifssessions");
    quiet.query = "format=json";
    EXPECT_EQ(fake::Serve(SessionsMethod, quiet, kReader), 200);
    EXPECT_EQ(quiet.body.rfind("{\"total\": 5, \"page\": 1, \"pages\": 1, \"size\": 100, "
                               "\"items\": [\n",
                               0),
              0u)
        << quiet.body;
    fake::Request quietPage = fake::Get("/cifssessions");
    EXPECT_EQ(fake::Serve(SessionsMethod, quietPage, kReader), 200);
    EXPECT_EQ(quietPage.body.find("adm-banner"), std::string::npos);

    fake::SetOpenFiles({}, CIFSMON_STATUS_SERVER_NOT_RUNNING);
    g_report = "smbd is not running";
    g_notice = kNotice;
    fake::Request failed = fake::Get("/cifsfind");
    EXPECT_EQ(fake::Serve(FindMethod, failed, kAdmin), 200);
    EXPECT_NE(failed.body.find("<p class=\"adm-banner adm-failed\" role=\"status\">The open files "
                               "could not be listed: smbd is not running</p>"),
              std::string::npos);
    EXPECT_EQ(failed.body.find("did not answer"), std::string::npos);
    fake::Request failedJson = fake::Get("/cifsfind");
    failedJson.query = "format=json";
    EXPECT_EQ(fake::Serve(FindMethod, failedJson, kAdmin), 502);
    EXPECT_EQ(failedJson.body, "{\"error\": \"smbd is not running\"}\n");

    // The sessions listed before an end lend it no report: the end's is its own.
    g_report = "";
    fake::Request end = fake::Post("/cifssessions", "end=21");
    end.query = "format=json";
    EXPECT_EQ(fake::Serve(SessionsMethod, end, kAdmin), 200);
    EXPECT_EQ(end.body,
              "{\"results\": [\n{\"connection\": 21, \"user\": \"alice\", \"status\": "
              "\"ended\", \"report\": \"\"}\n]}\n");
}

// A library that fills the report's buffer without ending it: the notice stops at the buffer.
TEST_F(AdminPages, AnUnterminatedNoticeIsCutAtTheBuffer) {
    Calls calls = Use();
    calls.lastFailure = Flood;
    ReplaceCalls(calls);
    fake::SetSessions(ClusterSessions());
    fake::Request json = fake::Get("/cifssessions");
    json.query = "format=json";
    EXPECT_EQ(fake::Serve(SessionsMethod, json, kReader), 200);
    EXPECT_NE(json.body.find(", \"notice\": \"" + std::string(1023, 'n') + "\", \"items\": ["),
              std::string::npos)
        << json.body.substr(0, 200);
    fake::Request html = fake::Get("/cifsfind");
    EXPECT_EQ(fake::Serve(FindMethod, html, kReader), 200);
    EXPECT_NE(html.body.find("role=\"status\">" + std::string(1023, 'n') + "</p>"),
              std::string::npos);
}

// --- The action observer --------------------------------------------------------------------

// A service method of "the first plug-in": closes through the library as its pages do.
int ForeignCloser(void *, int, int, unsigned) {
    Ext_CloseFileByFileName("/vol1/plain.txt");
    Ext_CloseFileByID(3);
    return 200;
}

TEST_F(AdminPages, ObserverRecordsEveryOtherCloseOnceAndIsClearedAtUnload) {
    SetObserver();
    ASSERT_NE(fake::CurrentObserver(), nullptr);
    fake::SetCloseResults({0, 12});
    g_report = "";
    fake::Request foreign = fake::Post("/cifsofm", "x");
    EXPECT_EQ(fake::Serve(ForeignCloser, foreign, kAdmin), 200);
    ASSERT_EQ(foreign.audit.size(), 2u);
    EXPECT_EQ(foreign.audit[0].action, "close file");
    EXPECT_EQ(foreign.audit[0].target, "/vol1/plain.txt");
    EXPECT_EQ(foreign.audit[0].result, "closed");
    EXPECT_EQ(foreign.audit[1].action, "close connection's files");
    EXPECT_EQ(foreign.audit[1].target, "connection 3");
    EXPECT_EQ(foreign.audit[1].result, "failed: status 12");

    // The plug-in's own closes are recorded once, by the page.
    fake::SetCloseResults({});
    fake::Request own = fake::Post("/cifsfind", "close=7%3A%2Fvol1%2Fplain.txt&step=confirm");
    EXPECT_EQ(fake::Serve(FindMethod, own, kAdmin), 303);
    EXPECT_EQ(own.audit.size(), 1u);

    ClearObserver();
    EXPECT_EQ(fake::CurrentObserver(), nullptr);
    EXPECT_EQ(fake::Calls().back(), "Ext_SetActionObserver(null)");
}

}  // namespace
