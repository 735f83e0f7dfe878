#include "plugin/pages.h"

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/error_page.h"
#include "common/log_capture.h"
#include "logger/logger.h"
#include "plugin/expected_pages.h"
#include "support/fake_host.h"
#include "support/text_match.h"

namespace kel2cifs {
namespace {

using expected::ExpectPageFrame;
using expected::ExpectRefusedPage;
using testing_support::ErrorPageBody;

// Renders an error page and checks its frame under title; returns the body.
template <typename... Args>
std::string RenderedErrorBody(const std::string &title, int code, Args... args) {
    fake::Request request;
    EXPECT_EQ(generate_error_page(request.handle(), code, args...), 200);
    ExpectPageFrame(request, title);
    return request.body;
}

TEST(PageGlobals, HoldTheirTexts) {
    EXPECT_STREQ(icon_folder, "/opt/zantio/kel");
    EXPECT_EQ(sizeof(icon_folder), 512u);
    EXPECT_STREQ(lpzdark, "bgcolor=#efeee9");
    EXPECT_STREQ(lpzlight, "bgcolor=#ffffff");
    EXPECT_STRNE(lpzheader, lpzdark);
    EXPECT_STRNE(lpzheader, lpzlight);
    EXPECT_STREQ(estr_page_access_denied, "Unauthorized access denied");
    EXPECT_STREQ(estr_page_bad_method, "Bad Http method");
    EXPECT_STREQ(estr_page_missing_http_data, "Http request missing data");
    EXPECT_STREQ(estr_bad_http_request, "Bad Http request");
    EXPECT_STREQ(estr_out_of_resources, "Internal Resource failure");
    EXPECT_STREQ(estr_modify_server_parameter_failed, "Unable to change selected server parameter");
    EXPECT_STREQ(keyword_cifsofm, "cifsofm");
    EXPECT_STREQ(keyword_cifsdlogs, "cifslogs");
    EXPECT_STREQ(keyword_cifsdcons, "cifscons");
    EXPECT_STREQ(keyword_help, "help");
    EXPECT_STREQ(keyword_info, "_info_");
}

TEST(PageFrame, OpensAndClosesAnHtmlPage) {
    fake::Request request;
    ASSERT_TRUE(OpenPage(request.handle()));
    EXPECT_EQ(request.state, fake::Response::kOpen);
    EXPECT_EQ(request.contentType, fake::kHtmlContentType);
    EXPECT_EQ(ClosePage(request.handle()), 200);
    EXPECT_EQ(request.body, "</BODY></HTML>");
    EXPECT_EQ(request.state, fake::Response::kEnded);
    EXPECT_TRUE(request.violations.empty()) << ::testing::PrintToString(request.violations);
}

TEST(PageFrame, RefusedOpenSendsOnly500) {
    fake::Request request;
    request.openSucceeds = false;
    EXPECT_FALSE(OpenPage(request.handle()));
    ExpectRefusedPage(request);
}

TEST(ErrorPage, EveryCodeWritesItsTitleAndMessage) {
    for (const expected::ErrorCase &row : expected::ErrorCases()) {
        SCOPED_TRACE("code " + std::string(row.name));
        fake::Request request;
        EXPECT_EQ(row.render(request.handle()), 200);
        ExpectPageFrame(request, row.title);
        EXPECT_THAT(request.body, fake::TextEq(ErrorPageBody(row.message)));
    }
}

TEST(ErrorPage, UnlistedCodesShowBadHttpRequest) {
    for (int code : {3, 39, 400}) {
        SCOPED_TRACE(code);
        EXPECT_THAT(RenderedErrorBody("HTTP Failure", code),
                    fake::TextEq(ErrorPageBody("Bad Http request")));
    }
}

TEST(ErrorPage, RefusedResponseWritesNothingElse) {
    fake::Request request;
    request.openSucceeds = false;
    EXPECT_EQ(generate_error_page(request.handle(), 9, 1, "VOL1", "/media/vol1"), 500);
    ExpectRefusedPage(request);
}

TEST(ErrorPage, EscapesCallerTexts) {
    EXPECT_THAT(
        RenderedErrorBody("Missing information", 5, "<b>V&1</b>"),
        fake::TextEq(ErrorPageBody("&lt;b&gt;V&amp;1&lt;/b&gt; is not mounted or does not exist")));
    EXPECT_THAT(RenderedErrorBody("Create share (volume) failed", 9, 2, "a\"b", "c'd"),
                fake::TextEq(ErrorPageBody("The error code 2 was returned when trying to create "
                                           "\"a&quot;b\" at location \"c&#39;d\"")));
}

TEST(ErrorPage, NullCallerTextsReadAsEmpty) {
    const char *none = nullptr;
    EXPECT_THAT(RenderedErrorBody("Missing information", 5, none),
                fake::TextEq(ErrorPageBody(" is not mounted or does not exist")));
    EXPECT_THAT(RenderedErrorBody("Create share (volume) failed", 9, 3, none, none),
                fake::TextEq(ErrorPageBody("The error code 3 was returned when trying to create "
                                           "\"\" at location \"\"")));
    EXPECT_THAT(
        RenderedErrorBody("Remove share (volume) failed", 10, 4, none),
        fake::TextEq(ErrorPageBody("The error code 4 was returned when trying to remove \"\"")));
    EXPECT_THAT(RenderedErrorBody("Missing information", 34, none, none),
                fake::TextEq(ErrorPageBody(" Path does not exist \"\"")));
}

// A caller text in a heap block of exactly its size, so that a read past it is caught by the
// address sanitizer.
std::unique_ptr<char[]> HeapText(std::size_t length, char fill) {
    auto text = std::make_unique<char[]>(length + 1);
    std::memset(text.get(), fill, length);
    text[length] = '\0';
    return text;
}

TEST(ErrorPage, MessagesOfCallerTextsAreCutToTheirBuffer) {
    const std::size_t kMessage = kPageTitleSize - 1;
    const std::string suffix = " is not mounted or does not exist";

    // Exactly fitting, then one byte over: the last byte is cut.
    auto fits = HeapText(kMessage - suffix.size(), 'x');
    EXPECT_THAT(RenderedErrorBody("Missing information", 5, fits.get()),
                fake::TextEq(ErrorPageBody(std::string(fits.get()) + suffix)));
    auto over = HeapText(kMessage - suffix.size() + 1, 'x');
    EXPECT_THAT(
        RenderedErrorBody("Missing information", 5, over.get()),
        fake::TextEq(ErrorPageBody(std::string(over.get()) + suffix.substr(0, suffix.size() - 1))));

    auto longText = HeapText(5000, 'y');
    const std::string share(longText.get());
    const auto cut = [&](const std::string &message) { return message.substr(0, kMessage); };
    EXPECT_THAT(
        RenderedErrorBody("Create share (volume) failed", 9, 7, longText.get(), longText.get()),
        fake::TextEq(ErrorPageBody(cut("The error code 7 was returned when trying to "
                                       "create \"" +
                                       share))));
    EXPECT_THAT(RenderedErrorBody("Create share (volume) failed", 9, 7, "VOL1", longText.get()),
                fake::TextEq(ErrorPageBody(cut("The error code 7 was returned when trying "
                                               "to create \"VOL1\" at location \"" +
                                               share))));
    EXPECT_THAT(RenderedErrorBody("Remove share (volume) failed", 10, 8, longText.get()),
                fake::TextEq(ErrorPageBody(
                    cut("The error code 8 was returned when trying to remove \"" + share))));
    EXPECT_THAT(RenderedErrorBody("Remove share (volume) cannot remove Tarvo backed volumes", 22, 8,
                                  longText.get()),
                fake::TextEq(ErrorPageBody(
                    cut("The error code 8 was returned when trying to remove \"" + share))));
    EXPECT_THAT(RenderedErrorBody("Missing information", 34, longText.get(), "/media/vol1"),
                fake::TextEq(ErrorPageBody(cut(share))));
    EXPECT_THAT(RenderedErrorBody("Missing information", 34, "VOL1", longText.get()),
                fake::TextEq(ErrorPageBody(cut("VOL1 Path does not exist \"" + share))));
}

TEST(ErrorPage, CutNeverLeavesAPartialCharacterReference) {
    // 410 references fill 2050 of the 2051 bytes; the '&' of the 411th must not stay alone.
    auto ampersands = HeapText(1000, '&');
    std::string message;
    for (int i = 0; i < 410; ++i) {
        message += "&amp;";
    }
    EXPECT_THAT(RenderedErrorBody("Missing information", 5, ampersands.get()),
                fake::TextEq(ErrorPageBody(message)));
}

// Form data of the readers' tests, as HttpReturnPostDataBuffer hands it: still encoded.
constexpr char kForm[] =
    "FILTERX=wrong&FILTER=*.doc&name=a+b%41%2&empty=&n=42abc&neg=-7&word=abc&big=99999999999"
    "&box=ON&radio=On&off=oFF&yes=yes";

TEST(PostGetString, DecodesAFoundValue) {
    char output[64] = "stale";
    EXPECT_EQ(POST_GET_STRING(kForm, "FILTER", output, sizeof(output)), 5);
    EXPECT_STREQ(output, "*.doc");
    EXPECT_EQ(POST_GET_STRING(kForm, "name", output, sizeof(output)), 6);
    EXPECT_STREQ(output, "a bA%2");
}

TEST(PostGetString, MissingOrEmptyGivesEmptyOutput) {
    char output[16] = "stale";
    EXPECT_EQ(POST_GET_STRING(kForm, "absent", output, sizeof(output)), 0);
    EXPECT_STREQ(output, "");
    std::strcpy(output, "stale");
    EXPECT_EQ(POST_GET_STRING(kForm, "empty", output, sizeof(output)), 0);
    EXPECT_STREQ(output, "");
    std::strcpy(output, "stale");
    EXPECT_EQ(POST_GET_STRING(nullptr, "FILTER", output, sizeof(output)), 0);
    EXPECT_STREQ(output, "");
    EXPECT_EQ(POST_GET_STRING(kForm, "FILTER", nullptr, 16), 0);
}

TEST(PostGetString, NeverWritesPastTheCapacity) {
    const std::string form = "v=" + std::string(9, 'z');
    // Exactly fitting: 9 characters and the terminator in 10 bytes of a heap block of 10.
    auto exact = std::make_unique<char[]>(10);
    EXPECT_EQ(POST_GET_STRING(form.c_str(), "v", exact.get(), 10), 9);
    EXPECT_EQ(std::string(exact.get()), std::string(9, 'z'));
    // One byte short: not read at all.
    char guarded[16];
    std::memset(guarded, '#', sizeof(guarded));
    EXPECT_EQ(POST_GET_STRING(form.c_str(), "v", guarded, 9), 0);
    EXPECT_STREQ(guarded, "");
    EXPECT_EQ(std::string(guarded + 1, 15), std::string(15, '#'));
    // A capacity of 1 holds only the terminator; 0 holds nothing and nothing is written.
    char one[1] = {'#'};
    EXPECT_EQ(POST_GET_STRING(form.c_str(), "v", one, 1), 0);
    EXPECT_EQ(one[0], '\0');
    char zero[1] = {'#'};
    EXPECT_EQ(POST_GET_STRING(form.c_str(), "v", zero, 0), 0);
    EXPECT_EQ(zero[0], '#');
}

TEST(PostGetString, CapacityAboveTheScratchIsBoundedByIt) {
    // The scratch holds 4095 characters: a longer value is not found whatever the capacity.
    const std::string fits = "v=" + std::string(kFormScratchSize - 1, 'a');
    const std::string over = "v=" + std::string(kFormScratchSize, 'a');
    std::vector<char> output(3 * kFormScratchSize, '#');
    const int capacity = static_cast<int>(output.size());
    EXPECT_EQ(POST_GET_STRING(fits.c_str(), "v", output.data(), capacity), kFormScratchSize - 1);
    EXPECT_EQ(POST_GET_STRING(over.c_str(), "v", output.data(), capacity), 0);
    EXPECT_STREQ(output.data(), "");
}

TEST(PostGetUrl, ReadsUpTo4094Characters) {
    auto output = std::make_unique<char[]>(kFormUrlCapacity);
    const std::string fits = "url=" + std::string(kFormUrlCapacity - 1, 'u');
    EXPECT_EQ(POST_GET_URL(fits.c_str(), "url", output.get()), kFormUrlCapacity - 1);
    EXPECT_EQ(std::strlen(output.get()), static_cast<std::size_t>(kFormUrlCapacity - 1));
    const std::string over = "url=" + std::string(kFormUrlCapacity, 'u');
    EXPECT_EQ(POST_GET_URL(over.c_str(), "url", output.get()), 0);
    EXPECT_STREQ(output.get(), "");
}

TEST(PostGetInt, ReadsALeadingNumberOrKeepsTheDefault) {
    struct Case {
        const char *name;
        int expected;
    };
    for (const Case &c : {Case{"n", 42}, Case{"neg", -7}, Case{"word", 0}, Case{"big", INT_MAX},
                          Case{"empty", 17}, Case{"absent", 17}}) {
        SCOPED_TRACE(c.name);
        int value = -99;
        EXPECT_EQ(POST_GET_INT(kForm, c.name, &value, 17), 0);
        EXPECT_EQ(value, c.expected);
    }
}

TEST(PostGetInt, ValueLongerThanTheFieldCapacityKeepsTheDefault) {
    const std::string fits = "n=" + std::string(kFormFieldCapacity - 2, '0') + "5";
    const std::string over = "n=" + std::string(kFormFieldCapacity - 1, '0') + "5";
    int value = 0;
    POST_GET_INT(fits.c_str(), "n", &value, 3);
    EXPECT_EQ(value, 5);
    POST_GET_INT(over.c_str(), "n", &value, 3);
    EXPECT_EQ(value, 3);
}

TEST(PostCheckbox, ComparesIgnoringCaseAndLogsItsEntry) {
    testing_support::DebugCapture captured;
    int checked = -1;
    EXPECT_EQ(POST_CHECKBOX(kForm, "box", "on", &checked, 5), 0);
    EXPECT_EQ(checked, 1);
    EXPECT_EQ(POST_CHECKBOX(kForm, "word", "on", &checked, 5), 0);
    EXPECT_EQ(checked, 0);
    EXPECT_EQ(POST_CHECKBOX(kForm, "empty", "on", &checked, 5), 0);
    EXPECT_EQ(checked, 5);
    EXPECT_EQ(POST_CHECKBOX(kForm, "absent", "on", &checked, 6), 0);
    EXPECT_EQ(checked, 6);
    EXPECT_EQ(POST_CHECKBOX(kForm, "box", nullptr, &checked, 6), 0);
    EXPECT_EQ(checked, 0);
    ASSERT_EQ(captured.Lines().size(), 5u);
    EXPECT_EQ(captured.Lines()[0], "[POST_CHECKBOX] enter kw=box chkstr=on");
}

TEST(PostRadioButton, OnAndOffInAnyCaseElseTwo) {
    testing_support::DebugCapture captured;
    struct Case {
        const char *name;
        int result;
        int on;
    };
    for (const Case &c : {Case{"radio", 0, 1}, Case{"box", 0, 1}, Case{"off", 0, 0},
                          Case{"yes", 2, 1}, Case{"empty", 2, 1}, Case{"absent", 2, 1}}) {
        SCOPED_TRACE(c.name);
        int on = 9;
        EXPECT_EQ(POST_RADIOBUTTON(kForm, c.name, &on), c.result);
        EXPECT_EQ(on, c.on);
    }
    ASSERT_FALSE(captured.Lines().empty());
    EXPECT_EQ(captured.Lines()[0], "[POST_RADIOBUTTON] enter button=radio");
}

TEST(FormReaders, NullLoggerIsNotUsed) {
    Logger *previous = log;
    log = nullptr;
    int value = 0;
    EXPECT_EQ(POST_CHECKBOX(kForm, "box", "on", &value, 0), 0);
    EXPECT_EQ(value, 1);
    EXPECT_EQ(POST_RADIOBUTTON(kForm, "off", &value), 0);
    EXPECT_EQ(value, 0);
    log = previous;
}

// compressURI into a heap block of exactly strlen(input) + 1 bytes.
std::string Compressed(const std::string &input) {
    auto output = std::make_unique<char[]>(input.size() + 1);
    EXPECT_EQ(compressURI(output.get(), input.c_str()), 0);
    return output.get();
}

TEST(CompressUri, ReducesEveryRunOfSlashesToOne) {
    EXPECT_EQ(Compressed("/cifsofm//help///x"), "/cifsofm/help/x");
    EXPECT_EQ(Compressed("/a"), "/a");
    EXPECT_EQ(Compressed("///"), "/");
    EXPECT_EQ(Compressed("a//b/"), "a/b/");
    EXPECT_EQ(Compressed("no slash"), "no slash");
    EXPECT_EQ(Compressed(""), "");
}

TEST(CompressUri, WorksInPlaceAndOnNull) {
    char text[] = "//x//y";
    EXPECT_EQ(compressURI(text, text), 0);
    EXPECT_STREQ(text, "/x/y");
    char output[4] = "abc";
    EXPECT_EQ(compressURI(output, nullptr), 0);
    EXPECT_STREQ(output, "");
}

TEST(LnxMsg, WithoutACatalogueGivesTheTextItself) {
    const char *text = "Some English text";
    EXPECT_STREQ(lnxMSG(text), text);
    EXPECT_STREQ(lnxMSG(""), "");
    EXPECT_STREQ(lnxMSG(nullptr), "");
}

}  // namespace
}  // namespace kel2cifs
