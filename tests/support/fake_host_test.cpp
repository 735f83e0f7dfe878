#include "support/fake_host.h"

#include <cstring>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/text_match.h"

namespace {

using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;

int WriteScript(void *request) {
    HttpSendDataSprintf(request, "<script>%d</script>\n", 7);
    return 3;
}

TEST(FakeHost, RecordsAPageInCallOrderWithTheScriptApart) {
    fake::Request request = fake::Get("/cifsofm");
    ASSERT_EQ(HttpSendSuccessfulResponse(request.handle(),
                                         HttpReturnString(KEL_STRING_HTML_CONTENT_TYPE)),
              0);
    BuildAndSendHeader(request.handle(), "Title", nullptr, 0, 0, KEL_HEADER_OPTION_SCRIPT,
                       WriteScript, "", "/cifsofm/help");
    EXPECT_EQ(HttpSendDataSprintf(request.handle(), "<p>%s</p>", "a\"b"), 10);
    EXPECT_EQ(HttpEndDataResponse(request.handle()), 0);

    EXPECT_THAT(request.Ops(),
                ElementsAre("HttpSendSuccessfulResponse", "BuildAndSendHeader",
                            "HttpSendDataSprintf", "HttpSendDataSprintf", "HttpEndDataResponse"));
    EXPECT_EQ(request.calls[1].args, "\"Title\", null, 0, 0, 4, writer, \"\", \"/cifsofm/help\"");
    EXPECT_EQ(request.calls[2].args, "\"<script>7</script>\\n\"");
    EXPECT_EQ(request.contentType, "text/html; charset=utf-8");
    ASSERT_NE(request.header(), nullptr);
    EXPECT_EQ(request.header()->script, "<script>7</script>\n");
    EXPECT_EQ(request.header()->scriptWriterResult, 3);
    EXPECT_EQ(request.header()->heading, std::nullopt);
    EXPECT_EQ(request.header()->sectionText, "");
    EXPECT_EQ(request.body, "<p>a\"b</p>");
    EXPECT_EQ(request.state, fake::Response::kEnded);
    EXPECT_TRUE(request.Complete());
    EXPECT_THAT(request.violations, IsEmpty());
}

TEST(FakeHost, CallsTheScriptWriterOnlyWithTheScriptOption) {
    fake::Request request;
    HttpSendSuccessfulResponse(request.handle(), fake::kHtmlContentType);
    BuildAndSendHeader(request.handle(), "T", "T", 0, 0, 0, WriteScript, nullptr, nullptr);
    EXPECT_FALSE(request.header()->scriptWriterCalled);
    EXPECT_EQ(request.header()->script, "");
    EXPECT_EQ(request.body, "");
}

TEST(FakeHost, RefusesASecondOpen) {
    fake::Request request;
    EXPECT_EQ(HttpSendSuccessfulResponse(request.handle(), fake::kHtmlContentType), 0);
    EXPECT_NE(HttpSendSuccessfulResponse(request.handle(), fake::kHtmlContentType), 0);
    EXPECT_EQ(request.state, fake::Response::kOpen);
    ASSERT_EQ(request.violations.size(), 1u);
    EXPECT_THAT(request.violations[0], HasSubstr("HttpSendSuccessfulResponse"));
}

TEST(FakeHost, RecordsWritesAfterTheEndAsViolationsAndDropsThem) {
    fake::Request request;
    HttpSendSuccessfulResponse(request.handle(), fake::kHtmlContentType);
    HttpSendDataSprintf(request.handle(), "body");
    HttpEndDataResponse(request.handle());
    EXPECT_LT(HttpSendDataSprintf(request.handle(), "late"), 0);
    EXPECT_NE(HttpEndDataResponse(request.handle()), 0);
    EXPECT_EQ(request.body, "body");
    EXPECT_EQ(request.violations.size(), 2u);
}

TEST(FakeHost, AllowsAnErrorResponseOnlyBeforeAnythingWasOpened) {
    fake::Request lost;
    lost.openSucceeds = false;
    EXPECT_NE(HttpSendSuccessfulResponse(lost.handle(), fake::kHtmlContentType), 0);
    HttpSendErrorResponse(lost.handle(), 500);
    EXPECT_THAT(lost.errorResponses, ElementsAre(500));
    EXPECT_EQ(lost.state, fake::Response::kError);
    EXPECT_THAT(lost.violations, IsEmpty());

    fake::Request opened;
    HttpSendSuccessfulResponse(opened.handle(), fake::kHtmlContentType);
    HttpSendErrorResponse(opened.handle(), 500);
    HttpSendErrorPackageResponse(opened.handle(), 400, "<p>x</p>", 8);
    EXPECT_THAT(opened.errorResponses, IsEmpty());
    EXPECT_THAT(opened.errorPackages, IsEmpty());
    EXPECT_EQ(opened.violations.size(), 2u);
}

TEST(FakeHost, ReadsAnErrorPackageNoFurtherThanItsLength) {
    fake::Request request;
    HttpSendErrorPackageResponse(request.handle(), 403, "<p>denied</p>trailing", 13);
    ASSERT_EQ(request.errorPackages.size(), 1u);
    EXPECT_EQ(request.errorPackages[0].status, 403);
    EXPECT_EQ(request.errorPackages[0].html, "<p>denied</p>");
    EXPECT_THAT(request.violations, IsEmpty());

    fake::Request overlong;
    HttpSendErrorPackageResponse(overlong.handle(), 403, "<p>", 50);
    EXPECT_EQ(overlong.errorPackages.at(0).html, "<p>");
    EXPECT_EQ(overlong.violations.size(), 1u);
}

TEST(FakeHost, BuildsARedirectByHand) {
    fake::Request request;
    const char lines[] = "Location: /cifsofm/VOL1\r\nCache-Control: no-cache\r\n";
    EXPECT_EQ(HttpOpenResponseHeaderTag(request.handle(), 302), 0);
    EXPECT_EQ(HttpAddResponseHeaderTags(request.handle(), lines, std::strlen(lines)), 0);
    EXPECT_EQ(HttpSendResponseHeader(request.handle()), 0);
    EXPECT_EQ(request.handBuiltStatus, 302);
    EXPECT_THAT(request.headerLines,
                ElementsAre("Location: /cifsofm/VOL1", "Cache-Control: no-cache"));
    EXPECT_EQ(request.state, fake::Response::kHandBuiltSent);
    EXPECT_THAT(request.violations, IsEmpty());

    fake::Request unterminated;
    HttpOpenResponseHeaderTag(unterminated.handle(), 302);
    HttpAddResponseHeaderTags(unterminated.handle(), "Location: /x", 12);
    EXPECT_EQ(unterminated.violations.size(), 1u);
    fake::Request pastTheText;
    HttpOpenResponseHeaderTag(pastTheText.handle(), 302);
    HttpAddResponseHeaderTags(pastTheText.handle(), "Location: /x\r\n", 15);
    EXPECT_EQ(pastTheText.violations.size(), 1u);
}

TEST(FakeHost, HandsOutAWritablePathAndAnUnterminatedBody) {
    fake::Request request = fake::Post("/cifsofm/VOL1", "FILTER=.txt");
    int method = -1;
    EXPECT_NE(HttpReturnRequestMethod(request.handle(), &method), 0);
    EXPECT_EQ(method, fake::kPost);

    char *path = nullptr;
    ASSERT_EQ(HttpReturnPathBuffers(request.handle(), nullptr, &path, nullptr), 0);
    EXPECT_STREQ(path, "/cifsofm/VOL1");
    EXPECT_EQ(ConvertToComponentPath(path), 2);
    EXPECT_EQ(path, request.pathBuffer.data());
    EXPECT_EQ(path[0], '\x07');

    char *data = nullptr;
    unsigned long length = 0;
    ASSERT_EQ(HttpReturnPostDataBuffer(request.handle(), &data, &length), 0);
    EXPECT_EQ(length, 11u);
    EXPECT_EQ(std::string(data, length), "FILTER=.txt");
    EXPECT_EQ(data[length], fake::kPostFiller);

    request.methodSucceeds = false;
    request.pathSucceeds = false;
    request.postDataSucceeds = false;
    EXPECT_EQ(HttpReturnRequestMethod(request.handle(), &method), 0);
    EXPECT_NE(HttpReturnPathBuffers(request.handle(), nullptr, &path, nullptr), 0);
    EXPECT_NE(HttpReturnPostDataBuffer(request.handle(), &data, &length), 0);
}

TEST(FakeHost, RefusesAHandleThatIsNoLiveRequest) {
    fake::ResetStrayCalls();
    int dummy = 0;
    EXPECT_NE(HttpSendSuccessfulResponse(&dummy, fake::kHtmlContentType), 0);
    EXPECT_LT(HttpSendDataSprintf(nullptr, "x"), 0);
    EXPECT_THAT(fake::StrayCalls(),
                ElementsAre("HttpSendSuccessfulResponse", "HttpSendDataSprintf"));
}

int MethodA(void *, int, int, unsigned int) {
    return 0;
}
int MethodB(void *, int, int, unsigned int) {
    return 0;
}

TEST(FakeHost, RecordsRegistrationsInOrderAndRefusesTheChosenOne) {
    fake::ResetRegistry();
    fake::RefuseRegistration(2, 17);
    ServiceGroup group = {0, 0, "CIFS"};
    int status = -1;
    EXPECT_NE(RegisterServiceMethodEx("Cons", "cifscons", 8, &group, 0x4000d, nullptr, MethodA,
                                      nullptr, &status),
              0);
    EXPECT_EQ(status, 0);
    std::strcpy(group.title, "changed");
    EXPECT_EQ(RegisterServiceMethodEx("Logs", "cifslogs", 8, &group, 0x4000d, nullptr, MethodB,
                                      nullptr, &status),
              0);
    EXPECT_EQ(status, 17);
    DeRegisterServiceMethod("Cons", "cifscons", 8, MethodA, nullptr, &status);
    EXPECT_EQ(status, 0);
    DeRegisterServiceMethod("Logs", "cifslogs", 8, MethodB, nullptr, &status);
    EXPECT_EQ(status, fake::kNotRegisteredStatus);

    const auto calls = fake::Registrations();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0].kind, fake::Registration::kRegister);
    EXPECT_EQ(calls[0].keyword, "cifscons");
    EXPECT_STREQ(calls[0].group->title, "CIFS");  // a copy taken during the call
    EXPECT_EQ(calls[0].flags, 0x4000du);
    EXPECT_EQ(calls[0].method, &MethodA);
    EXPECT_EQ(calls[1].result, 0);
    EXPECT_STREQ(calls[1].group->title, "changed");
    EXPECT_EQ(calls[2].kind, fake::Registration::kDeregister);
    EXPECT_EQ(calls[3].result, 0);
    EXPECT_EQ(fake::RegisteredMethod("cifscons"), nullptr);
    EXPECT_EQ(fake::RegisteredMethod("cifslogs"), nullptr);
    fake::ResetRegistry();
}

TEST(TextEq, ReportsWhereTwoPagesFirstDiffer) {
    EXPECT_EQ(fake::FirstDifference("<p>\nab</p>", "<p>\nab</p>"), "");
    const std::string difference = fake::FirstDifference("<p>\nabX</p>", "<p>\nab</p>");
    EXPECT_THAT(difference, HasSubstr("byte 6 (line 2, column 3)"));
    EXPECT_THAT(difference, HasSubstr("\"<p>\\nab</p>\""));
    EXPECT_THAT(fake::FirstDifference("<p>", "<p></p>"), HasSubstr("ends where more"));
    EXPECT_THAT("<p>x", testing::Not(fake::TextEq(std::string("<p>y"))));
}

}  // namespace
