// expected_pages.h: the error and help pages as the console must receive them.
//
// The bodies are golden files, in English and under the test catalogue ("xx", "[[text]]"): a text
// the pages localise but localised_texts.def, from which the catalogue is made, does not list
// comes out untranslated and differs from the "xx" file. Titles are placed through Pseudo, which
// checks the same for each title.
#ifndef KEL2CIFS_TESTS_PLUGIN_EXPECTED_PAGES_H
#define KEL2CIFS_TESTS_PLUGIN_EXPECTED_PAGES_H

#include <cstddef>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "common/golden.h"
#include "plugin/pages.h"
#include "support/fake_host.h"

namespace kel2cifs::expected {

inline const std::set<std::string> &LocalisedTexts() {
    static const std::set<std::string> texts = {
#define LOCALISED(text) text,
#define NOT_LOCALISED(text)
#include "localised_texts.def"
#undef LOCALISED
#undef NOT_LOCALISED
    };
    return texts;
}

// Texts the catalogue translates that the pages must write as they are.
inline const std::set<std::string> &NotLocalisedTexts() {
    static const std::set<std::string> texts = {
#define LOCALISED(text)
#define NOT_LOCALISED(text) text,
#include "localised_texts.def"
#undef LOCALISED
#undef NOT_LOCALISED
    };
    return texts;
}

inline void ExpectListed(const std::string &text) {
    if (LocalisedTexts().count(text) == 0) {
        ADD_FAILURE() << "\"" << text << "\" is localised but missing from localised_texts.def";
    }
}

inline std::string Pseudo(const std::string &text) {
    ExpectListed(text);
    return "[[" + text + "]]";
}

// One row of the error page's table with the arguments a caller gives.
struct ErrorCase {
    const char *name;
    std::function<int(void *)> render;
    std::string title;
    bool titleLocalised;
    std::string message;
};

inline std::vector<ErrorCase> ErrorCases() {
    using R = void *;
    return {
        {"0", [](R r) { return generate_error_page(r, 0); }, "HTTP Failure", true,
         "Unauthorized access denied"},
        {"1", [](R r) { return generate_error_page(r, 1); }, "HTTP Failure", true,
         "Bad Http method"},
        {"2", [](R r) { return generate_error_page(r, 2); }, "HTTP Failure", true,
         "Http request missing data"},
        {"3", [](R r) { return generate_error_page(r, 3); }, "HTTP Failure", true,
         "Bad Http request"},
        {"4", [](R r) { return generate_error_page(r, 4); }, "HTTP Failure", true,
         "Internal Resource failure"},
        {"5", [](R r) { return generate_error_page(r, 5, "VOL1"); }, "Missing information", false,
         "VOL1 is not mounted or does not exist"},
        {"6", [](R r) { return generate_error_page(r, 6); }, "Wizard Failure", false,
         "Share name is missing"},
        {"7", [](R r) { return generate_error_page(r, 7); }, "Wizard Failure", true,
         "Share path is missing or does not exist"},
        {"8", [](R r) { return generate_error_page(r, 8); }, "Wizard Failure", true,
         "Share name already exists"},
        {"9", [](R r) { return generate_error_page(r, 9, -5, "VOL1", "/media/vol1"); },
         "Create share (volume) failed", false,
         "The error code -5 was returned when trying to create \"VOL1\" at location "
         "\"/media/vol1\""},
        {"10", [](R r) { return generate_error_page(r, 10, 16, "VOL1"); },
         "Remove share (volume) failed", false,
         "The error code 16 was returned when trying to remove \"VOL1\""},
        {"11", [](R r) { return generate_error_page(r, 11); }, "HTTP Failure", true,
         "Bad Http request"},
        {"22", [](R r) { return generate_error_page(r, 22, 1, "VOL1"); },
         "Remove share (volume) cannot remove Tarvo backed volumes", false,
         "The error code 1 was returned when trying to remove \"VOL1\""},
        {"28", [](R r) { return generate_error_page(r, 28); }, "HTTP Failure", true,
         "Unable to change selected server parameter"},
        {"31", [](R r) { return generate_error_page(r, 31); }, "HTTP Failure", true,
         "Shadow volume already exists"},
        {"32", [](R r) { return generate_error_page(r, 32); }, "HTTP Failure", true,
         "Unable to create shadow volume"},
        {"34", [](R r) { return generate_error_page(r, 34, "VOL1", "/media/vol1"); },
         "Missing information", false, "VOL1 Path does not exist \"/media/vol1\""},
        {"37", [](R r) { return generate_error_page(r, 37); }, "HTTP Failure", true,
         "Shadow volume path is invalid or is contained within volume mount path"},
        {"38", [](R r) { return generate_error_page(r, 38); }, "HTTP Failure", true,
         "Volume path is invalid or could not be created"},
        {"39", [](R r) { return generate_error_page(r, 39); }, "HTTP Failure", true,
         "Bad Http request"},
        {"400", [](R r) { return generate_error_page(r, 400); }, "HTTP Failure", true,
         "Bad Http request"},
        {"-1", [](R r) { return generate_error_page(r, -1); }, "HTTP Failure", true,
         "Bad Http request"},
    };
}

// The body of the help page of topic (any topic the page does not know included); language ""
// is English, "xx" the pseudo-translation catalogue.
inline std::string HelpBody(int topic, std::string_view language = "") {
    std::string folder = "plugin";
    std::string name = "help_unavailable.html";
    switch (topic) {
        case 18:
            folder = "connections";
            name = "help.html";
            break;
        case 19:
            folder = "connections";
            name = "help_info.html";
            break;
        case 36:
            folder = "logs";
            name = "help.html";
            break;
        case 41:
            folder = "ofm";
            name = "help.html";
            break;
        case 42:
            folder = "ofm";
            name = "help_info.html";
            break;
        default:
            break;
    }
    const std::string subfolder = language.empty() ? "" : std::string(language) + "/";
    return testing_support::Golden(folder + "/golden/" + subfolder + name);
}

// Checks the frame of a page written whole: opened as HTML, one head with title as title and
// heading and nothing else, the body written after it, the response ended, nothing refused.
inline void ExpectPageFrame(const fake::Request &request, const std::string &title) {
    EXPECT_EQ(request.contentType, fake::kHtmlContentType);
    EXPECT_EQ(request.state, fake::Response::kEnded);
    EXPECT_TRUE(request.errorResponses.empty());
    EXPECT_TRUE(request.violations.empty()) << ::testing::PrintToString(request.violations);
    ASSERT_EQ(request.headers.size(), 1u);
    const fake::Header &head = request.headers.front();
    EXPECT_EQ(head.title, title);
    EXPECT_EQ(head.heading, title);
    EXPECT_EQ(head.reserved1, 0);
    EXPECT_EQ(head.reserved2, 0);
    EXPECT_EQ(head.options, 0u);
    EXPECT_FALSE(head.hasScriptWriter);
    EXPECT_EQ(head.sectionText, std::nullopt);
    EXPECT_EQ(head.helpUrl, std::nullopt);
    EXPECT_EQ(head.bodyBefore, 0u);
    const std::vector<std::string> ops = request.Ops();
    ASSERT_GE(ops.size(), 4u);
    EXPECT_EQ(ops[0], "HttpSendSuccessfulResponse");
    EXPECT_EQ(ops[1], "BuildAndSendHeader");
    EXPECT_EQ(ops.back(), "HttpEndDataResponse");
    for (std::size_t i = 2; i + 1 < ops.size(); ++i) {
        EXPECT_EQ(ops[i], "HttpSendDataSprintf") << "call " << i;
    }
}

// Checks that a page whose response could not be opened wrote nothing but the 500 response.
inline void ExpectRefusedPage(const fake::Request &request) {
    EXPECT_EQ(request.Ops(),
              (std::vector<std::string>{"HttpSendSuccessfulResponse", "HttpSendErrorResponse"}));
    EXPECT_EQ(request.errorResponses, std::vector<int>{500});
    EXPECT_TRUE(request.headers.empty());
    EXPECT_EQ(request.body, "");
    EXPECT_TRUE(request.violations.empty()) << ::testing::PrintToString(request.violations);
}

// The topics the help page knows.
inline constexpr int kHelpTopics[] = {18, 19, 36, 41, 42};

}  // namespace kel2cifs::expected

#endif  // KEL2CIFS_TESTS_PLUGIN_EXPECTED_PAGES_H
