// Tests of the console host against a live server: the host operations as a service method sees
// them, routing, login and sessions, the checks on cross-site requests, the file viewer and the
// limits. A probe service method, registered under "probe", does what its path asks.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "console/registry.h"
#include "console/router.h"
#include "kel/host.h"
#include "live_console.h"

namespace {

using console_test::Advance;
using console_test::Get;
using console_test::HttpRequest;
using console_test::HttpResponse;
using console_test::LiveConsole;
using console_test::Post;
using console_test::Send;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

std::atomic<int> g_probeCalls{0};
std::atomic<unsigned> g_probeAccess{0xFFFFFFFFu};

int WriteScript(void *request) {
    return HttpSendDataSprintf(request, "<script>var probe = %d;</script>\n", 7);
}

int OpenPlain(void *request) {
    return HttpSendSuccessfulResponse(request, "text/plain");
}

int ProbeMethod(void *request, int, int, unsigned int access) {
    ++g_probeCalls;
    g_probeAccess = access;
    char *path = nullptr;
    if (HttpReturnPathBuffers(request, nullptr, &path, nullptr) != 0) {
        return 500;
    }
    const std::string what = path;
    if (what == "/probe/page") {
        if (HttpSendSuccessfulResponse(request, HttpReturnString(KEL_STRING_HTML_CONTENT_TYPE)) !=
            0) {
            return 500;
        }
        const int second =
            HttpSendSuccessfulResponse(request, HttpReturnString(KEL_STRING_HTML_CONTENT_TYPE));
        BuildAndSendHeader(request, "Probe <title>", "Probe heading", 0, 0,
                           KEL_HEADER_OPTION_SCRIPT, WriteScript, "Section & text", "/probe/help");
        HttpSendDataSprintf(request, "<p>second open=%d</p>\n", second);
        HttpSendDataSprintf(request, "</BODY></HTML>");
        HttpEndDataResponse(request);
        return 200;
    }
    if (what == "/probe/error") {
        HttpSendErrorResponse(request, 503);
        return HttpSendSuccessfulResponse(request,
                                          HttpReturnString(KEL_STRING_HTML_CONTENT_TYPE)) != 0
                   ? 503
                   : 200;
    }
    if (what == "/probe/package") {
        HttpSendErrorPackageResponse(request, 409, "<p>conflict</p>not sent", 15);
        return 409;
    }
    if (what == "/probe/redirect") {
        const char location[] = "Location: /probe/page\r\nX-Probe: yes\r\n";
        if (HttpOpenResponseHeaderTag(request, 302) != 0 ||
            HttpAddResponseHeaderTags(request, location, static_cast<int>(strlen(location))) != 0 ||
            HttpSendResponseHeader(request) != 0 || HttpEndDataResponse(request) != 0) {
            return 500;
        }
        return 302;
    }
    if (what == "/probe/inject") {
        const char cookie[] = "Location: /a\r\nSet-Cookie: kelsession=forged\r\n";
        const char bareLineFeed[] = "Location: /a\nX-Evil: 1";
        const char good[] = "Location: /ok\r\n";
        HttpOpenResponseHeaderTag(request, 302);
        const int first =
            HttpAddResponseHeaderTags(request, cookie, static_cast<int>(strlen(cookie)));
        const int second = HttpAddResponseHeaderTags(request, bareLineFeed,
                                                     static_cast<int>(strlen(bareLineFeed)));
        const int third = HttpAddResponseHeaderTags(request, good, static_cast<int>(strlen(good)));
        HttpSendResponseHeader(request);
        HttpSendDataSprintf(request, "%d %d %d", first != 0, second != 0, third);
        HttpEndDataResponse(request);
        return 302;
    }
    if (what.starts_with("/probe/path")) {
        OpenPlain(request);
        HttpSendDataSprintf(request, "[%s]", path);
        path[1] = 'P';  // the buffer is the request's own and writable
        const int count = ConvertToComponentPath(path);
        HttpSendDataSprintf(request, " count=%d first=%d", count, path[0]);
        HttpEndDataResponse(request);
        return 200;
    }
    if (what == "/probe/post") {
        int code = -1;
        const int got = HttpReturnRequestMethod(request, &code);
        char *data = nullptr;
        unsigned long length = 0;
        const int read = HttpReturnPostDataBuffer(request, &data, &length);
        data[length] = '\0';  // room for a terminator is guaranteed
        OpenPlain(request);
        HttpSendDataSprintf(request, "method=%d,%d read=%d length=%lu data=[%s]", got, code, read,
                            length, data);
        HttpEndDataResponse(request);
        return 200;
    }
    if (what == "/probe/access") {
        OpenPlain(request);
        HttpSendDataSprintf(request, "access=0x%08x", access);
        HttpEndDataResponse(request);
        return 200;
    }
    if (what == "/probe/unended") {
        OpenPlain(request);
        HttpSendDataSprintf(request, "written but not ended");
        return 200;
    }
    if (what == "/probe" || what == "/probe/") {
        OpenPlain(request);
        HttpSendDataSprintf(request, "root");
        HttpEndDataResponse(request);
        return 200;
    }
    return 0;  // everything else is declined
}

class ConsoleServer : public ::testing::Test {
  protected:
    void SetUp() override {
        ServiceGroup group{0, 0, "Probe Group"};
        int status = -1;
        ASSERT_NE(RegisterServiceMethodEx("Probe Page", "probe", 5, &group, 0x4000d, nullptr,
                                          ProbeMethod, nullptr, &status),
                  0);
        g_probeCalls = 0;
        g_probeAccess = 0xFFFFFFFFu;
    }
    void TearDown() override {
        int status = -1;
        DeRegisterServiceMethod("Probe Page", "probe", 5, ProbeMethod, nullptr, &status);
    }

    HttpResponse GetAs(const std::string &path) { return Get(console_.At(path), cookie_); }

    LiveConsole console_;
    std::string cookie_ = console_.LoginAdmin();
};

TEST_F(ConsoleServer, PageResponseCarriesTheFrameTheScriptAndTheBodyInOrder) {
    ASSERT_FALSE(cookie_.empty());
    HttpResponse page = GetAs("/probe/page");
    EXPECT_EQ(page.status, 200);
    EXPECT_EQ(page.Header("Content-Type"), "text/html; charset=utf-8");
    const std::string &html = page.body;
    EXPECT_THAT(html, StartsWith("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n"));
    // The script block is written inside the head, the frame after it, the page's body last.
    const std::size_t script = html.find("<script>var probe = 7;</script>");
    const std::size_t headEnd = html.find("</head>");
    const std::size_t heading = html.find("<h1>Probe heading</h1>");
    const std::size_t body = html.find("<p>second open=1</p>");
    ASSERT_NE(script, std::string::npos);
    EXPECT_LT(script, headEnd);
    EXPECT_LT(headEnd, heading);
    EXPECT_LT(heading, body);
    EXPECT_THAT(html, HasSubstr("<title>Probe &lt;title&gt; \xC2\xB7 Kel Console</title>"));
    EXPECT_THAT(html, HasSubstr("<p class=\"kc-section\">Section &amp; text</p>"));
    EXPECT_THAT(html, HasSubstr("<a class=\"kc-help\" href=\"/probe/help\">Help</a>"));
    EXPECT_THAT(html, HasSubstr("<span class=\"kc-user\" title=\"Logged in\">admin</span>"));
    EXPECT_THAT(html, HasSubstr("<h2>Probe Group</h2>"));
    EXPECT_THAT(html, HasSubstr("<a href=\"/probe\" aria-current=\"page\">Probe Page</a>"));
    EXPECT_THAT(html, HasSubstr("action=\"/logout\""));
    EXPECT_EQ(page.Header("Cache-Control"), "no-store");
}

TEST_F(ConsoleServer, ErrorResponsesAndHandBuiltRedirects) {
    HttpResponse error = GetAs("/probe/error");
    EXPECT_EQ(error.status, 503);
    EXPECT_THAT(error.body, HasSubstr("503 Service Unavailable"));

    HttpResponse package = GetAs("/probe/package");
    EXPECT_EQ(package.status, 409);
    EXPECT_EQ(package.body, "<p>conflict</p>");  // exactly `length` bytes

    HttpResponse redirect = GetAs("/probe/redirect");
    EXPECT_EQ(redirect.status, 302);
    EXPECT_EQ(redirect.Header("Location"), "/probe/page");
    EXPECT_EQ(redirect.Header("X-Probe"), "yes");
}

TEST_F(ConsoleServer, HandBuiltHeadersCannotSetTheSessionCookieOrSplitLines) {
    HttpResponse response = GetAs("/probe/inject");
    EXPECT_EQ(response.status, 302);
    EXPECT_EQ(response.body, "1 1 0");  // both bad header texts refused, the good one taken
    EXPECT_EQ(response.Header("Location"), "/ok");
    EXPECT_EQ(response.Header("Set-Cookie"), "");
    EXPECT_EQ(response.Header("X-Evil"), "");
}

TEST_F(ConsoleServer, MethodSeesThePercentDecodedPathWithoutQueryInAWritableBuffer) {
    HttpResponse response = GetAs("/probe/path/a%20b+c%2Fd%41?x=%42&y=1");
    EXPECT_EQ(response.status, 200);
    // %XX decoded, "+" kept, query gone; then the method rewrote its own buffer.
    EXPECT_EQ(response.body, "[/probe/path/a b+c/dA] count=4 first=5");
}

TEST_F(ConsoleServer, PostDataIsRawWithRoomForATerminator) {
    HttpResponse response =
        Post(console_.At("/probe/post"), "FILTER=%2A.doc&x=a+b", cookie_, console_.url());
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.body, "method=1,2 read=0 length=20 data=[FILTER=%2A.doc&x=a+b]");

    HttpResponse get = GetAs("/probe/post");
    EXPECT_EQ(get.body, "method=1,0 read=0 length=0 data=[]");
}

TEST_F(ConsoleServer, RoutesAKeywordFollowedByTheEndASlashOrAQuery) {
    EXPECT_EQ(GetAs("/probe").body, "root");
    EXPECT_EQ(GetAs("/probe/").body, "root");
    EXPECT_EQ(GetAs("/probe?sort=1").body, "root");
    const int calls = g_probeCalls;
    EXPECT_EQ(GetAs("/probex").status, 404);  // not the keyword
    EXPECT_EQ(GetAs("/Probe").status, 404);
    EXPECT_EQ(GetAs("/nothing/here").status, 404);
    EXPECT_EQ(g_probeCalls, calls);
}

TEST_F(ConsoleServer, DecliningMethodGetsA404AndAnUnendedPageIsSentAsWritten) {
    HttpResponse declined = GetAs("/probe/unknown");
    EXPECT_EQ(declined.status, 404);
    EXPECT_THAT(declined.body, HasSubstr("404 Not Found"));
    EXPECT_EQ(g_probeCalls, 1);

    HttpResponse unended = GetAs("/probe/unended");
    EXPECT_EQ(unended.status, 200);
    EXPECT_EQ(unended.body, "written but not ended");
}

TEST_F(ConsoleServer, HomePageListsTheRegisteredGroupsAndPages) {
    HttpResponse home = GetAs("/");
    EXPECT_EQ(home.status, 200);
    EXPECT_THAT(home.body, HasSubstr("<h2>Probe Group</h2>"));
    EXPECT_THAT(home.body, HasSubstr("<li><a href=\"/probe\">Probe Page</a></li>"));
    // The error page's OK button posts to "/": that is the home page too.
    HttpResponse posted = Post(console_.At("/"), "button=OK", cookie_, console_.url());
    EXPECT_EQ(posted.status, 200);
    EXPECT_THAT(posted.body, HasSubstr("<h2>Probe Group</h2>"));
}

TEST_F(ConsoleServer, AdministratorAndAccountWithoutRightsGetTheirAccessWords) {
    EXPECT_EQ(GetAs("/probe/access").body, "access=0x0000000b");
    const std::string guest = console_.Login("guest", console_test::kGuestPassword);
    ASSERT_FALSE(guest.empty());
    EXPECT_EQ(Get(console_.At("/probe/access"), guest).body, "access=0x00000000");
}

TEST_F(ConsoleServer, SessionCookieIsHttpOnlyAndSameSiteStrict) {
    HttpResponse login = Post(console_.At("/login"),
                              std::string("name=admin&password=") + console_test::kAdminPassword +
                                  "&next=%2Fprobe%2Faccess",
                              {}, console_.url());
    EXPECT_EQ(login.status, 303);
    EXPECT_EQ(login.Header("Location"), "/probe/access");
    const std::string cookie = login.Header("Set-Cookie");
    EXPECT_THAT(cookie, testing::MatchesRegex("kelsession=[0-9a-f]{64}; Path=/; HttpOnly; "
                                              "SameSite=Strict"));
    EXPECT_THAT(cookie, Not(HasSubstr("Secure")));  // no TLS here
}

TEST_F(ConsoleServer, WrongPasswordIsRefusedAndDelaysTheNextAttempt) {
    const std::string url = console_.At("/login");
    HttpResponse wrong = Post(url, "name=admin&password=nope", {}, console_.url());
    EXPECT_EQ(wrong.status, 401);
    EXPECT_THAT(wrong.body, HasSubstr("Wrong name or password."));
    EXPECT_EQ(wrong.Header("Set-Cookie"), "");
    const std::string good = std::string("name=admin&password=") + console_test::kAdminPassword;
    // Right after a failure even the right password is not checked.
    HttpResponse early = Post(url, good, {}, console_.url());
    EXPECT_EQ(early.status, 429);
    EXPECT_EQ(early.Header("Retry-After"), "1");
    Advance(std::chrono::milliseconds(1000));
    // A second failure in a row doubles the wait.
    EXPECT_EQ(Post(url, "name=admin&password=nope", {}, console_.url()).status, 401);
    Advance(std::chrono::milliseconds(1500));
    EXPECT_EQ(Post(url, good, {}, console_.url()).status, 429);
    Advance(std::chrono::milliseconds(500));
    EXPECT_EQ(Post(url, good, {}, console_.url()).status, 303);
    // Success clears the record: a single new failure waits one second again.
    EXPECT_EQ(Post(url, "name=nobody&password=nope", {}, console_.url()).status, 401);
    Advance(std::chrono::milliseconds(1000));
    EXPECT_EQ(Post(url, good, {}, console_.url()).status, 303);
}

TEST_F(ConsoleServer, WithoutASessionPagesLeadToTheLoginPage) {
    HttpResponse anonymous = Get(console_.At("/probe/access?x=1"));
    EXPECT_EQ(anonymous.status, 303);
    EXPECT_EQ(anonymous.Header("Location"), "/login?next=/probe/access%3Fx%3D1");
    HttpResponse form = Get(console_.At("/login?next=/probe/access%3Fx%3D1"));
    EXPECT_THAT(form.body, HasSubstr("name=\"next\" value=\"/probe/access?x=1\""));
    // A next address off the console is dropped.
    EXPECT_THAT(Get(console_.At("/login?next=//evil.example/")).body, Not(HasSubstr("evil")));
    EXPECT_EQ(Get(console_.At("/probe/access"), "kelsession=" + std::string(64, 'a')).status, 303);
    EXPECT_EQ(g_probeCalls, 0);
}

TEST_F(ConsoleServer, IdleSessionExpiresAndUseKeepsItAlive) {
    Advance(std::chrono::minutes(29));
    EXPECT_EQ(GetAs("/probe/access").status, 200);
    Advance(std::chrono::minutes(29));
    EXPECT_EQ(GetAs("/probe/access").status, 200);  // 58 minutes after login, but used
    Advance(std::chrono::minutes(30));
    EXPECT_EQ(GetAs("/probe/access").status, 303);
    EXPECT_EQ(GetAs("/probe/access").status, 303);  // gone for good
}

TEST_F(ConsoleServer, LogoutEndsTheSessionAndClearsTheCookie) {
    HttpResponse out = Post(console_.At("/logout"), "", cookie_, console_.url());
    EXPECT_EQ(out.status, 303);
    EXPECT_EQ(out.Header("Location"), "/login");
    EXPECT_THAT(out.Header("Set-Cookie"), StartsWith("kelsession=; Path=/; Max-Age=0"));
    EXPECT_EQ(GetAs("/probe/access").status, 303);
}

TEST_F(ConsoleServer, OnlyAPostLogsOutNotALinkOrAnImage) {
    HttpResponse out = GetAs("/logout");
    EXPECT_EQ(out.status, 405);
    EXPECT_EQ(out.Header("Allow"), "POST");
    EXPECT_TRUE(out.Header("Set-Cookie").empty());
    EXPECT_EQ(GetAs("/probe/access").status, 200);
    // A post of another site is refused before the logout, too.
    EXPECT_EQ(Post(console_.At("/logout"), "", cookie_, "http://evil.example").status, 403);
    EXPECT_EQ(GetAs("/probe/access").status, 200);
}

TEST_F(ConsoleServer, APlantedSessionCookieDoesNotShadowTheLiveOne) {
    const std::string planted = "kelsession=" + std::string(64, '0');
    // As a browser sends a path-scoped cookie planted by another port: first.
    EXPECT_EQ(Get(console_.At("/probe/access"), planted + "; " + cookie_).status, 200);
    EXPECT_EQ(Get(console_.At("/probe/access"), cookie_ + "; " + planted).status, 200);
    EXPECT_EQ(Get(console_.At("/probe/access"), planted).status, 303);
}

TEST_F(ConsoleServer, CrossSitePostIsRefusedBeforeTheMethod) {
    HttpResponse evil = Post(console_.At("/probe/post"), "a=1", cookie_, "http://evil.example");
    EXPECT_EQ(evil.status, 403);
    HttpResponse otherPort = Post(console_.At("/probe/post"), "a=1", cookie_, "http://127.0.0.1:1");
    EXPECT_EQ(otherPort.status, 403);
    EXPECT_EQ(Post(console_.At("/probe/post"), "a=1", cookie_, "null").status, 403);
    EXPECT_EQ(Post(console_.At("/probe/post"), "a=1", cookie_, {}).status, 403);  // no origin
    // A cross-site login is refused as well.
    EXPECT_EQ(Post(console_.At("/login"),
                   std::string("name=admin&password=") + console_test::kAdminPassword, {},
                   "http://evil.example")
                  .status,
              403);
    EXPECT_EQ(g_probeCalls, 0);

    // Without an Origin, a Referer from the console itself will do.
    HttpRequest referred;
    referred.method = "POST";
    referred.url = console_.At("/probe/post");
    referred.body = "a=1";
    referred.cookie = cookie_;
    referred.headers = {"Referer: " + console_.At("/probe/page")};
    EXPECT_EQ(Send(referred).status, 200);
    referred.headers = {"Referer: http://evil.example/probe/page"};
    EXPECT_EQ(Send(referred).status, 403);
}

TEST_F(ConsoleServer, CrossSiteRequestCarriesNoSession) {
    // The detail page closes files with a plain GET link. A browser leaves a SameSite=Strict
    // cookie off a request another site starts, so that request arrives without a session; one
    // marked cross-site or same-site (another port of this host) is taken as such even with it.
    HttpRequest request;
    request.url = console_.At("/probe/access");
    EXPECT_EQ(Send(request).status, 303);
    request.cookie = cookie_;
    for (const char *site : {"cross-site", "same-site"}) {
        request.headers = {std::string("Sec-Fetch-Site: ") + site};
        EXPECT_EQ(Send(request).status, 303) << site;
    }
    EXPECT_EQ(g_probeCalls, 0);
    request.headers = {"Sec-Fetch-Site: same-origin"};
    EXPECT_EQ(Send(request).status, 200);
}

TEST_F(ConsoleServer, RequestForAnotherHostNameIsRefused) {
    HttpRequest request;
    request.url = console_.At("/probe/access");
    request.cookie = cookie_;
    request.headers = {"Host: rebound.example:8080"};
    EXPECT_EQ(Send(request).status, 421);
    request.headers = {"Host: localhost"};
    EXPECT_EQ(Send(request).status, 200);
    EXPECT_EQ(g_probeCalls, 1);
}

TEST_F(ConsoleServer, FileViewerShowsOnlyRegularFilesInsideTheLogDirectory) {
    const auto &dir = console_.dir();
    const std::string log = console_.logDirectory();
    dir.Write("log/libkel2cifs.log", "line one\n<b>two</b>\n");
    dir.Write("log/sub/inner.log", "inner\n");
    dir.Write("secret.txt", "secret\n");
    dir.Write("log-other/x.log", "other\n");
    std::filesystem::create_symlink(dir.path() / "secret.txt", dir.path() / "log/out.log");
    std::filesystem::create_symlink(log + "/libkel2cifs.log", dir.path() / "log/alias.log");

    HttpResponse shown = GetAs(log + "/libkel2cifs.log?VIEW");
    EXPECT_EQ(shown.status, 200);
    EXPECT_EQ(shown.Header("Content-Type"), "text/plain; charset=utf-8");
    EXPECT_EQ(shown.Header("X-Content-Type-Options"), "nosniff");
    EXPECT_EQ(shown.body, "line one\n<b>two</b>\n");
    EXPECT_EQ(GetAs(log + "/sub/inner.log?VIEW").body, "inner\n");
    EXPECT_EQ(GetAs(log + "/alias.log?VIEW").status, 200);  // a link that stays inside

    for (const std::string &refused :
         {log + "/out.log?VIEW",                 // a link out of it
          log + "/../secret.txt?VIEW",           // ".."
          log + "/sub/../libkel2cifs.log?VIEW",  // ".." even when it stays inside
          log + "/%2E%2E/secret.txt?VIEW",       // encoded ".."
          log + "/sub?VIEW", log + "?VIEW",      // directories
          log + "-other/x.log?VIEW",             // a directory beside it
          log + "/missing.log?VIEW", std::string("/etc/passwd?VIEW")}) {
        EXPECT_EQ(GetAs(refused).status, 404) << refused;
    }
    EXPECT_EQ(GetAs(log + "/libkel2cifs.log?view").status, 404);             // only "?VIEW"
    EXPECT_EQ(Get(console_.At(log + "/libkel2cifs.log?VIEW")).status, 303);  // needs a login
    const std::string guest = console_.Login("guest", console_test::kGuestPassword);
    EXPECT_EQ(Get(console_.At(log + "/libkel2cifs.log?VIEW"), guest).status, 403);
}

TEST_F(ConsoleServer, LimitsAreAnsweredBeforeAnyMethod) {
    EXPECT_EQ(GetAs("/probe/" + std::string(256, 'x')).status, 414);
    EXPECT_EQ(GetAs("/probe/" + std::string(255, 'x')).status, 404);  // declined by the method
    // Components are measured decoded: 199 + 56 and 200 + 56 bytes.
    std::string escapes;
    for (int i = 0; i < 56; ++i) {
        escapes += "%41";
    }
    EXPECT_EQ(GetAs("/probe/" + std::string(199, 'x') + escapes).status, 404);
    EXPECT_EQ(GetAs("/probe/" + std::string(200, 'x') + escapes).status, 414);
    EXPECT_EQ(GetAs("/probe/a%00b").status, 400);
    const int before = g_probeCalls;

    const std::string big(kel::console::kMaxBodySize + 1, 'x');
    EXPECT_EQ(Post(console_.At("/probe/post"), big, cookie_, console_.url()).status, 413);
    HttpRequest chunked;
    chunked.method = "POST";
    chunked.url = console_.At("/probe/post");
    chunked.body = big;
    chunked.chunked = true;
    chunked.cookie = cookie_;
    chunked.headers = {"Origin: " + console_.url()};
    EXPECT_EQ(Send(chunked).status, 413);
    EXPECT_EQ(g_probeCalls, before);

    const std::string fits(kel::console::kMaxBodySize, 'y');
    chunked.body = fits;
    HttpResponse accepted = Send(chunked);
    EXPECT_EQ(accepted.status, 200);
    EXPECT_THAT(accepted.body, HasSubstr("length=1048576"));
}

TEST_F(ConsoleServer, TooLargePageStatesTheConfiguredLimit) {
    const struct {
        std::size_t limit;
        const char *stated;
    } cases[] = {
        {kel::console::kMaxBodySize, "The request body is larger than 1 MiB."},
        {64 * 1024, "The request body is larger than 64 KiB."},
        {3 * 1024 * 1024, "The request body is larger than 3 MiB."},
        {1536 * 1024, "The request body is larger than 1536 KiB."},
        {1000, "The request body is larger than 1000 bytes."},
        {1, "The request body is larger than 1 byte."},
    };
    for (const auto &c : cases) {
        kel::console::ServerOptions options;
        options.maxBodySize = c.limit;
        LiveConsole limited(options);  // the limit is checked before the session
        const std::string big(c.limit + 1, 'x');
        HttpResponse declared = Post(limited.At("/probe/post"), big, {}, limited.url());
        EXPECT_EQ(declared.status, 413) << c.limit;
        EXPECT_THAT(declared.body, HasSubstr(c.stated)) << c.limit;

        HttpRequest chunked;
        chunked.method = "POST";
        chunked.url = limited.At("/probe/post");
        chunked.body = big;
        chunked.chunked = true;
        chunked.headers = {"Origin: " + limited.url()};
        HttpResponse streamed = Send(chunked);
        EXPECT_EQ(streamed.status, 413) << c.limit;
        EXPECT_THAT(streamed.body, HasSubstr(c.stated)) << c.limit;
    }
    EXPECT_EQ(g_probeCalls, 0);
}

TEST_F(ConsoleServer, UnservedMethodsAreRefused) {
    HttpRequest request;
    request.method = "DELETE";
    request.url = console_.At("/probe/access");
    request.cookie = cookie_;
    HttpResponse refused = Send(request);
    EXPECT_EQ(refused.status, 405);
    EXPECT_EQ(refused.Header("Allow"), "GET, HEAD, POST");
    EXPECT_EQ(g_probeCalls, 0);
}

TEST_F(ConsoleServer, ImagesAndStylesheetNeedNoLogin) {
    for (const char *name :
         {"sorted.png", "sortdown.png", "GRPstatus_critical.png", "network.png"}) {
        HttpResponse image = Get(console_.At(std::string("/opt/zantio/kel/") + name));
        EXPECT_EQ(image.status, 200) << name;
        EXPECT_EQ(image.Header("Content-Type"), "image/png") << name;
        EXPECT_THAT(image.body, StartsWith("\x89PNG\r\n\x1a\n")) << name;
    }
    HttpResponse css = Get(console_.At("/console/console.css"));
    EXPECT_EQ(css.status, 200);
    EXPECT_THAT(css.body, AllOf(HasSubstr("tr.tablehead"), HasSubstr("tr.tablesubhead"),
                                HasSubstr(".tablecol"), HasSubstr("tr.stripe-light"),
                                HasSubstr("tr.stripe-dark")));
    EXPECT_EQ(Get(console_.At("/opt/zantio/kel/other.png")).status, 303);  // not an asset
}

TEST_F(ConsoleServer, AccessLogHasALinePerRequest) {
    GetAs("/probe/access?secret=1");
    Get(console_.At("/probe/a%00b"));
    // The line is written when the request is done, which may follow the response by a moment.
    std::string log;
    for (int i = 0; i < 200 && log.find("/probe/a%00b") == std::string::npos; ++i) {
        usleep(10 * 1000);
        log = console_.AccessLog();
    }
    EXPECT_THAT(log,
                testing::ContainsRegex("127\\.0\\.0\\.1 POST /login 303 [0-9]+ [0-9]+ms admin\n"));
    EXPECT_THAT(
        log, testing::ContainsRegex("127\\.0\\.0\\.1 GET /probe/access 200 17 [0-9]+ms admin\n"));
    EXPECT_THAT(log, testing::ContainsRegex("GET /probe/a%00b 400 [0-9]+ [0-9]+ms -\n"));
    EXPECT_THAT(log, Not(HasSubstr("secret")));
}

TEST(ConsoleServerStart, RefusesARemoteAddressWithoutTls) {
    kel::console::ServerOptions options;
    options.accountFile = console_test::SharedAccountFile();
    options.port = 0;
    std::string error;
    for (const char *address : {"0.0.0.0", "192.0.2.1", "::"}) {
        options.address = address;
        EXPECT_EQ(kel::console::Server::Start(options, &error), nullptr) << address;
        EXPECT_THAT(error, HasSubstr("without TLS")) << address;
    }
    options.address = "127.0.0.1";
    options.certificateFile = "/nonexistent/cert.pem";
    EXPECT_EQ(kel::console::Server::Start(options, &error), nullptr);
    EXPECT_THAT(error, HasSubstr("both a certificate and a key"));
    options.certificateFile.clear();
    options.accountFile = "/nonexistent/accounts";
    EXPECT_EQ(kel::console::Server::Start(options, &error), nullptr);
}

TEST(ConsoleSessions, FullStoreRefusesALoginRatherThanEndAnotherAccountsSession) {
    kel::console::ServerOptions options;
    options.maxSessions = 2;
    options.maxSessionsPerAccount = 2;
    LiveConsole console(options);
    const std::string first = console.Login("guest", console_test::kGuestPassword);
    Advance(std::chrono::seconds(1));
    const std::string second = console.Login("guest", console_test::kGuestPassword);
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    Advance(std::chrono::seconds(1));

    const std::string admin = std::string("name=admin&password=") + console_test::kAdminPassword;
    HttpResponse refused = Post(console.At("/login"), admin, {}, console.url());
    EXPECT_EQ(refused.status, 503);
    EXPECT_THAT(refused.body, HasSubstr("as many sessions as it can hold"));
    EXPECT_THAT(refused.body, HasSubstr("name=\"password\""));  // the form, to try again
    EXPECT_EQ(refused.Header("Set-Cookie"), "");
    EXPECT_EQ(Get(console.At("/"), second).status, 200);
    Advance(std::chrono::seconds(1));
    EXPECT_EQ(Get(console.At("/"), first).status, 200);  // now `second` is the older one
    Advance(std::chrono::seconds(1));

    const std::string third = console.Login("guest", console_test::kGuestPassword);
    ASSERT_FALSE(third.empty());
    EXPECT_EQ(Get(console.At("/"), second).status, 303);
    EXPECT_EQ(Get(console.At("/"), first).status, 200);

    EXPECT_EQ(Post(console.At("/logout"), "", first, console.url()).status, 303);
    EXPECT_EQ(Post(console.At("/login"), admin, {}, console.url()).status, 303);
    EXPECT_EQ(Get(console.At("/"), third).status, 200);
}

TEST(ConsoleRouter, UnderTlsTheCookieIsSecureAndHostPrefixed) {
    using namespace kel::console;
    RouterSettings settings;
    settings.secure = true;
    settings.hostNames = {"127.0.0.1"};
    AccountStore accounts(console_test::SharedAccountFile());
    std::string error;
    ASSERT_TRUE(accounts.Load(&error)) << error;
    SessionStore sessions(std::chrono::seconds(60), 10, nullptr);
    LoginThrottle throttle(std::chrono::milliseconds(1000), std::chrono::milliseconds(1000),
                           nullptr);
    std::unique_ptr<AuditStore> audit = AuditStore::Open({}, &error);
    ASSERT_NE(audit, nullptr) << error;
    TokenStore tokens(TokenFileFor(console_test::SharedAccountFile()));
    Router router(settings, Registry::Global(), accounts, sessions, throttle, *audit, tokens);

    Incoming login;
    login.method = "POST";
    ASSERT_TRUE(SplitTarget("/login", &login.target));
    login.host = "127.0.0.1:8443";
    login.origin = "http://127.0.0.1:8443";  // plain http is another origin than the console
    login.body = std::string("name=admin&password=") + console_test::kAdminPassword;
    Request refused;
    ASSERT_EQ(router.Preflight(login, refused), 0);
    Outcome outcome;
    router.Handle(login, refused, outcome);
    EXPECT_EQ(refused.status, 403);

    login.origin = "https://127.0.0.1:8443";
    Request request;
    router.Handle(login, request, outcome);
    EXPECT_EQ(request.status, 303);
    std::string cookie;
    for (const HeaderField &field : request.headers) {
        if (field.name == "Set-Cookie") {
            cookie = field.value;
        }
    }
    EXPECT_THAT(cookie, testing::MatchesRegex("__Host-kelsession=[0-9a-f]{64}; Path=/; HttpOnly; "
                                              "SameSite=Strict; Secure"));
    EXPECT_EQ(outcome.account, "admin");
}

TEST(ConsoleServerStart, LoopbackAddresses) {
    EXPECT_TRUE(kel::console::IsLoopbackAddress("127.0.0.1"));
    EXPECT_TRUE(kel::console::IsLoopbackAddress("127.255.0.9"));
    EXPECT_TRUE(kel::console::IsLoopbackAddress("::1"));
    EXPECT_TRUE(kel::console::IsLoopbackAddress("[::1]"));
    EXPECT_TRUE(kel::console::IsLoopbackAddress("::ffff:127.0.0.1"));
    EXPECT_FALSE(kel::console::IsLoopbackAddress("128.0.0.1"));
    EXPECT_FALSE(kel::console::IsLoopbackAddress("0.0.0.0"));
    EXPECT_FALSE(kel::console::IsLoopbackAddress("::"));
    EXPECT_FALSE(kel::console::IsLoopbackAddress("localhost"));
}

}  // namespace
