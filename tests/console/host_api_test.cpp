// Tests of the host operations on a request handle, without a server: the states a response goes
// through, the calls each state refuses, the page frame's script writer, and registration.
#include <cstring>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "console/registry.h"
#include "console/request.h"
#include "kel/host.h"
#include "kel/host_ext.h"

namespace {

using kel::console::Registry;
using kel::console::Request;
using kel::console::ResponseState;
using ::testing::HasSubstr;

int g_writerCalls = 0;

int Writer(void *request) {
    ++g_writerCalls;
    // Nested frames are refused while the head is being written.
    const int nested = BuildAndSendHeader(request, "x", "x", 0, 0, 0, nullptr, nullptr, nullptr);
    return HttpSendDataSprintf(request, "<script>nested=%d</script>", nested != 0);
}

int Method(void *, int, int, unsigned int) {
    return 0;
}
int OtherMethod(void *, int, int, unsigned int) {
    return 0;
}

TEST(HostResponse, PageOpensOnceWritesUntilEndedAndNotAfter) {
    Request request;
    void *handle = request.handle();
    EXPECT_EQ(HttpSendDataSprintf(handle, "early"), -1);  // nothing open yet
    EXPECT_NE(HttpEndDataResponse(handle), 0);
    EXPECT_STREQ(HttpReturnString(KEL_STRING_HTML_CONTENT_TYPE), "text/html; charset=utf-8");
    ASSERT_EQ(HttpSendSuccessfulResponse(handle, HttpReturnString(KEL_STRING_HTML_CONTENT_TYPE)),
              0);
    EXPECT_NE(HttpSendSuccessfulResponse(handle, HttpReturnString(KEL_STRING_HTML_CONTENT_TYPE)),
              0);
    EXPECT_NE(HttpSendErrorResponse(handle, 500), 0);
    EXPECT_NE(HttpSendErrorPackageResponse(handle, 500, "x", 1), 0);
    EXPECT_NE(HttpOpenResponseHeaderTag(handle, 302), 0);
    EXPECT_EQ(HttpSendDataSprintf(handle, "%s=%d;", "a", 1), 4);
    EXPECT_EQ(HttpEndDataResponse(handle), 0);
    EXPECT_EQ(HttpSendDataSprintf(handle, "late"), -1);
    EXPECT_NE(HttpEndDataResponse(handle), 0);
    EXPECT_EQ(request.status, 200);
    EXPECT_EQ(request.state, ResponseState::kEnded);
    EXPECT_EQ(request.content.view(), "a=1;");
}

TEST(HostResponse, LongWritesGrowTheBodyWithoutLosingBytes) {
    Request request;
    ASSERT_EQ(HttpSendSuccessfulResponse(request.handle(),
                                         HttpReturnString(KEL_STRING_HTML_CONTENT_TYPE)),
              0);
    const std::string chunk(5000, 'q');
    std::string expected;
    for (int i = 0; i < 40; ++i) {
        ASSERT_EQ(HttpSendDataSprintf(request.handle(), "%d:%s|", i, chunk.c_str()),
                  static_cast<int>(std::to_string(i).size() + 2 + chunk.size()));
        expected += std::to_string(i) + ":" + chunk + "|";
    }
    EXPECT_EQ(request.content.view(), expected);
}

TEST(HostResponse, ErrorResponseAndErrorPackageCompleteTheRequest) {
    Request error;
    EXPECT_NE(HttpSendErrorResponse(error.handle(), 99), 0);  // not a status
    ASSERT_EQ(HttpSendErrorResponse(error.handle(), 500), 0);
    EXPECT_EQ(error.status, 500);
    EXPECT_THAT(std::string(error.content.view()), HasSubstr("500 Internal Server Error"));
    EXPECT_NE(
        HttpSendSuccessfulResponse(error.handle(), HttpReturnString(KEL_STRING_HTML_CONTENT_TYPE)),
        0);
    EXPECT_EQ(HttpSendDataSprintf(error.handle(), "x"), -1);

    Request package;
    ASSERT_EQ(HttpSendErrorPackageResponse(package.handle(), 400, "<b>bad</b>tail", 10), 0);
    EXPECT_EQ(package.status, 400);
    EXPECT_EQ(package.content.view(), "<b>bad</b>");
    EXPECT_NE(HttpSendErrorPackageResponse(package.handle(), 400, "again", 5), 0);
}

TEST(HostResponse, HandBuiltResponseTakesWellFormedHeaderLinesOnly) {
    Request request;
    void *handle = request.handle();
    EXPECT_NE(HttpAddResponseHeaderTags(handle, "Location: /x\r\n", 14), 0);  // not opened
    ASSERT_EQ(HttpOpenResponseHeaderTag(handle, 302), 0);
    const char *refused[] = {
        "Location /x\r\n",                    // no colon
        ": /x\r\n",                           // no name
        "Bad Name: 1\r\n",                    // blank in the name
        "X-A: 1\nX-B: 2\r\n",                 // a bare line feed
        "X-A: 1\rX-B: 2\r\n",                 // a bare carriage return
        "Content-Length: 0\r\n",              // framing is the server's
        "set-cookie: kelsession=1\r\n",       // so is the session cookie
        "Location: /ok\r\nX-Bad\x01: 1\r\n",  // a later bad line refuses the whole text
    };
    for (const char *text : refused) {
        EXPECT_NE(HttpAddResponseHeaderTags(handle, text, static_cast<int>(strlen(text))), 0)
            << text;
    }
    EXPECT_TRUE(request.headers.empty());
    const char good[] = "Location:  /cifscons  \r\nX-One: 1\r\nX-Two: 2";  // last line unended
    ASSERT_EQ(HttpAddResponseHeaderTags(handle, good, static_cast<int>(strlen(good))), 0);
    // The length bounds the text: only "X-Three: 3" of this one is read.
    ASSERT_EQ(HttpAddResponseHeaderTags(handle, "X-Three: 3\r\nX-Four: 4\r\n", 12), 0);
    ASSERT_EQ(request.headers.size(), 4u);
    EXPECT_EQ(request.headers[0].name, "Location");
    EXPECT_EQ(request.headers[0].value, "/cifscons");
    EXPECT_EQ(request.headers[2].value, "2");
    EXPECT_EQ(request.headers[3].name, "X-Three");
    EXPECT_EQ(HttpSendDataSprintf(handle, "body"), -1);  // headers not complete yet
    ASSERT_EQ(HttpSendResponseHeader(handle), 0);
    EXPECT_NE(HttpSendResponseHeader(handle), 0);
    EXPECT_NE(HttpAddResponseHeaderTags(handle, "X-Late: 1\r\n", 11), 0);
    EXPECT_EQ(HttpEndDataResponse(handle), 0);
    EXPECT_EQ(request.status, 302);
}

TEST(HostResponse, FrameCallsTheScriptWriterInsideTheHeadOnlyWithOption4) {
    Request request;
    void *handle = request.handle();
    EXPECT_NE(BuildAndSendHeader(handle, "T", "H", 0, 0, 4, Writer, nullptr, nullptr), 0);
    EXPECT_EQ(g_writerCalls, 0);  // no open page yet
    ASSERT_EQ(HttpSendSuccessfulResponse(handle, HttpReturnString(KEL_STRING_HTML_CONTENT_TYPE)),
              0);
    ASSERT_EQ(BuildAndSendHeader(handle, "T", "H", 0, 0, 4, Writer, nullptr, nullptr), 0);
    EXPECT_EQ(g_writerCalls, 1);
    const std::string html(request.content.view());
    EXPECT_LT(html.find("<script>nested=1</script>"), html.find("</head>"));

    Request without;
    ASSERT_EQ(HttpSendSuccessfulResponse(without.handle(),
                                         HttpReturnString(KEL_STRING_HTML_CONTENT_TYPE)),
              0);
    ASSERT_EQ(
        BuildAndSendHeader(without.handle(), nullptr, nullptr, 0, 0, 0, Writer, nullptr, nullptr),
        0);
    EXPECT_EQ(g_writerCalls, 1);
    ASSERT_EQ(BuildAndSendHeader(without.handle(), "T", "H", 0, 0, 4, nullptr, "<i>section</i>",
                                 "javascript:alert(1)"),
              0);
    const std::string plain(without.content.view());
    EXPECT_THAT(plain, HasSubstr("&lt;i&gt;section&lt;/i&gt;"));
    EXPECT_THAT(plain, testing::Not(HasSubstr("javascript:")));  // not a link the frame makes
}

TEST(HostResponse, RequestDataAndAForeignHandle) {
    Request request;
    request.SetPath("/cifsofm/VOL1");
    request.SetBody("a=1&b=2");
    request.methodCode = kel::console::kMethodPost;
    int code = -1;
    EXPECT_EQ(HttpReturnRequestMethod(request.handle(), &code), 1);
    EXPECT_EQ(code, 2);
    char *path = nullptr;
    ASSERT_EQ(HttpReturnPathBuffers(request.handle(), nullptr, &path, nullptr), 0);
    EXPECT_STREQ(path, "/cifsofm/VOL1");
    char *data = nullptr;
    unsigned long length = 0;
    ASSERT_EQ(HttpReturnPostDataBuffer(request.handle(), &data, &length), 0);
    EXPECT_EQ(length, 7u);
    EXPECT_EQ(data[length], '\0');

    // A handle that is no live request is refused by every call, not written through.
    alignas(Request) unsigned char foreign[sizeof(Request)] = {};
    void *stray = foreign;
    EXPECT_EQ(HttpReturnRequestMethod(stray, &code), 0);
    EXPECT_NE(HttpReturnPathBuffers(stray, nullptr, &path, nullptr), 0);
    EXPECT_NE(HttpSendSuccessfulResponse(stray, "text/html"), 0);
    EXPECT_EQ(HttpSendDataSprintf(stray, "x"), -1);
    EXPECT_NE(HttpEndDataResponse(nullptr), 0);
    for (unsigned char byte : foreign) {
        ASSERT_EQ(byte, 0);
    }
}

TEST(HostRegistration, CopiesWhatItKeepsAndRefusesDuplicatesAndBadKeywords) {
    Registry &registry = Registry::Global();
    ServiceGroup group{0, 0, "Group Title"};
    char display[] = "Display";
    char keyword[] = "regtest-extra";  // only the first 7 bytes are the keyword
    int status = -1;
    ASSERT_EQ(RegisterServiceMethodEx(display, keyword, 7, &group, 0x4000d, nullptr, Method,
                                      nullptr, &status),
              1);
    EXPECT_EQ(status, 0);
    std::strcpy(display, "Changed");
    std::strcpy(group.title, "Changed");
    auto entry = registry.Find("regtest");
    ASSERT_TRUE(entry.has_value());
    EXPECT_EQ(entry->displayName, "Display");
    EXPECT_EQ(entry->groupTitle, "Group Title");
    EXPECT_EQ(entry->flags, 0x4000du);

    EXPECT_EQ(RegisterServiceMethodEx("Again", "regtest", 7, &group, 0, nullptr, OtherMethod,
                                      nullptr, &status),
              0);
    EXPECT_EQ(status, kel::console::kRegistryDuplicate);
    for (const char *bad : {"", "a/b", "a?b", "..", "login", "console"}) {
        EXPECT_EQ(RegisterServiceMethodEx("Bad", bad, static_cast<int>(strlen(bad)), &group, 0,
                                          nullptr, Method, nullptr, &status),
                  0)
            << bad;
    }
    EXPECT_EQ(RegisterServiceMethodEx("Null", "nomethod", 8, &group, 0, nullptr, nullptr, nullptr,
                                      nullptr),
              0);

    // A title that fills its record without a terminator is read within the record only.
    ServiceGroup full{0, 0, {}};
    std::memset(full.title, 'T', sizeof(full.title));
    ASSERT_EQ(
        RegisterServiceMethodEx("Full", "regfull", 7, &full, 0, nullptr, Method, nullptr, &status),
        1);
    EXPECT_EQ(registry.Find("regfull")->groupTitle, std::string(KEL_GROUP_TITLE_SIZE, 'T'));

    EXPECT_EQ(DeRegisterServiceMethod("Display", "regtest", 7, OtherMethod, nullptr, &status), 0);
    EXPECT_EQ(status, kel::console::kRegistryNotFound);
    EXPECT_TRUE(registry.Find("regtest").has_value());
    EXPECT_EQ(DeRegisterServiceMethod("Display", "regtest", 7, Method, nullptr, &status), 1);
    EXPECT_FALSE(registry.Find("regtest").has_value());
    EXPECT_EQ(DeRegisterServiceMethod("Full", "regfull", 7, Method, nullptr, nullptr), 1);
}

TEST(HostRegistration, NavigationGroupsPagesByTitleInRegistrationOrder) {
    ServiceGroup a{0, 0, "A"};
    ServiceGroup b{0, 0, "B"};
    int status = 0;
    RegisterServiceMethodEx("A1", "nav-a1", 6, &a, 0, nullptr, Method, nullptr, &status);
    RegisterServiceMethodEx("B1", "nav-b1", 6, &b, 0, nullptr, Method, nullptr, &status);
    RegisterServiceMethodEx("A2", "nav-a2", 6, &a, 0, nullptr, Method, nullptr, &status);
    const auto groups = Registry::Global().Navigation();
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0].title, "A");
    ASSERT_EQ(groups[0].pages.size(), 2u);
    EXPECT_EQ(groups[0].pages[1].displayName, "A2");
    EXPECT_EQ(groups[1].pages[0].keyword, "nav-b1");
    for (const char *keyword : {"nav-a1", "nav-b1", "nav-a2"}) {
        DeRegisterServiceMethod(nullptr, keyword, 6, Method, nullptr, &status);
    }
    EXPECT_EQ(Registry::Global().size(), 0u);
}

TEST(HostStripes, AreClassAttributesTheStylesheetKnows) {
    EXPECT_STREQ(pzSTRIPE_LIGHT, "class=\"stripe-light\"");
    EXPECT_STREQ(pzSTRIPE_DARK, "class=\"stripe-dark\"");
}

TEST(HostExtension, AccountQueryAndAuditTargetsRefuseWhatDoesNotFit) {
    Request request;
    request.frame.account = "operator";
    request.viaToken = true;
    request.query = "format=json&x=%41";
    char name[9];
    int viaToken = -1;
    ASSERT_EQ(KelReturnRequestAccount(request.handle(), name, sizeof(name), &viaToken), 0);
    EXPECT_STREQ(name, "operator");
    EXPECT_EQ(viaToken, 1);
    char small[8] = "xxxxxxx";
    EXPECT_NE(KelReturnRequestAccount(request.handle(), small, sizeof(small), nullptr), 0);
    EXPECT_STREQ(small, "");
    alignas(Request) unsigned char stale[sizeof(Request)] = {};  // no live request
    EXPECT_NE(KelReturnRequestAccount(stale, name, sizeof(name), nullptr), 0);
    const char *query = nullptr;
    ASSERT_EQ(KelReturnQueryString(request.handle(), &query), 0);
    EXPECT_STREQ(query, "format=json&x=%41");

    // Targets are taken only while a state-changing request's method runs.
    EXPECT_NE(KelAuditTarget(request.handle(), "close file", "a", "closed"), 0);
    request.auditing = true;
    EXPECT_NE(KelAuditTarget(nullptr, "close file", "a", "closed"), 0);  // no request served
    {
        const kel::console::ServingScope serving(request);
        EXPECT_EQ(KelAuditTarget(nullptr, "close file", "a", "closed"), 0);
        EXPECT_EQ(KelAuditTarget(request.handle(), "close file", "b", "failed"), 0);
        EXPECT_NE(KelAuditTarget(request.handle(), "close file", nullptr, "closed"), 0);
        EXPECT_NE(KelAuditTarget(stale, "close file", "c", "closed"), 0);
    }
    EXPECT_NE(KelAuditTarget(nullptr, "close file", "d", "closed"), 0);
    ASSERT_EQ(request.auditTargets.size(), 2u);
    EXPECT_EQ(request.auditTargets[0].target, "a");
    EXPECT_EQ(request.auditTargets[1].result, "failed");
    // The Audit Trail's address is the console's own.
    ServiceGroup group{};
    int status = 0;
    EXPECT_EQ(RegisterServiceMethodEx("Fake trail", "audit", 5, &group, KEL_SERVICE_FLAG_DATA,
                                      nullptr, Method, nullptr, &status),
              0);
    EXPECT_EQ(status, kel::console::kRegistryReserved);
}

}  // namespace
