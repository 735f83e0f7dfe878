// expected_pages.h: the error and help pages as the console must receive them.
//
// Every localised text is placed through a Translate, so that one description gives both the
// English page (English) and the page under the test catalogue (Pseudo, "[[text]]"). Both check
// that the text is listed as localised in localised_texts.def, from which the catalogue is made,
// so the list cannot miss a text the pages localise.
#ifndef KEL2CIFS_TESTS_PLUGIN_EXPECTED_PAGES_H
#define KEL2CIFS_TESTS_PLUGIN_EXPECTED_PAGES_H

#include <cstddef>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

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

using Translate = std::function<std::string(const std::string &)>;

inline void ExpectListed(const std::string &text) {
    if (LocalisedTexts().count(text) == 0) {
        ADD_FAILURE() << "\"" << text << "\" is localised but missing from localised_texts.def";
    }
}

inline std::string English(const std::string &text) {
    ExpectListed(text);
    return text;
}

inline std::string Pseudo(const std::string &text) {
    ExpectListed(text);
    return "[[" + text + "]]";
}

// The body of an error page showing message.
inline std::string ErrorBody(const Translate &t, const std::string &message) {
    return "<table width=100% border=0 cellspacing=0 cellpadding=0>\n"
           "<tr bgcolor=#efeee9><td>\n"
           "<IMG src=\"/opt/zantio/kel/GRPstatus_critical.png\" align=absMiddle border=0>"
           "&nbsp;<b>" +
           t("Error") + " :</b>  " + message +
           "</td></tr></table>\n"
           "<p><form method=POST action=\"/\">\n"
           "<br>&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;<input type=\"submit\" NAME=\"button\" "
           "value=\"OK\">\n"
           "</form></p>\n"
           "</BODY></HTML>";
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

// The body of the help page of topic (any topic the page does not know included).
inline std::string HelpBody(int topic, const Translate &t) {
    std::string body;
    switch (topic) {
        case 18:
            body = "<p>" +
                   t("The CIFS Connections page displays the following information about each "
                     "current connection:") +
                   "</p>"
                   "<dd><b>" +
                   t("Connection: ") + "</b>" +
                   t("Shows the connection number for each connection.") +
                   "</dd><br> \n"
                   "<dd><b>" +
                   t("Name: ") + "</b>" +
                   t("Shows the name of the user and links to specific information about that "
                     "user connection such as the connection number, login status, login time, "
                     "privileges, network address, files in use, and security equivalence.") +
                   "</dd><br>\n"
                   "<dd><b>" +
                   t("Reads & Writes: ") + "</b>" +
                   t("Shows the number of reads and writes (in bytes) made by each "
                     "connection.") +
                   "</dd><br>\n"
                   "<dd><b>" +
                   t("CIFS Requests: ") + "</b>" +
                   t("Shows the number of CIFS requests made by each connection.") +
                   "</dd><br>\n"
                   "<dd><b>" +
                   t("Login Time: ") + "</b>" +
                   t("Shows the login day, date, and time for the connection.") +
                   "</dd><br>\n"
                   "<dd><b>" +
                   t("Connection Type: ") + "</b>" +
                   t("Shows that the connection is for an Active Directory or Ravelin user.") +
                   "</dd><br>\n"
                   "<p>" +
                   t("Click ") + "<i>" + t("Refresh ") + "</i>" +
                   t("to view the latest statistics of the connections.") +
                   "</p>"
                   "<h4>" +
                   t("View connection information") +
                   "</h4>\n"
                   "<dd>" +
                   t("Click the name of the user to view detailed information for a specific "
                     "connection.") +
                   "</dd>\n";
            break;
        case 19:
            body = "<p>" +
                   t("Use this page to view details of a specific CIFS connection. The details "
                     "include:") +
                   "</p>\n"
                   "<dd><b>" +
                   t("Connection: ") + "</b>" + t("Shows the connection ID.") +
                   "</dd><br>\n"
                   "<dd><b>" +
                   t("Login Status: ") + "</b>" +
                   t("Shows various connection states, such as Logged-In, Logging-In, "
                     "Not-Logged In, and New.") +
                   "</dd><br>\n"
                   "<dd><b>" +
                   t("Login Time ") + "</b>" +
                   t("Shows the login day, date, and time for the connection.") +
                   "</dd><br>\n"
                   "<dd><b>" +
                   t("Privileges: ") + "</b>" +
                   t("Shows whether the connection has privileges, such as Supervisor or "
                     "Non-Supervisor.") +
                   "</dd><br>\n"
                   "<dd><b>" +
                   t("Connection Type: ") + "</b>" +
                   t("Shows that the connection is for an Active Directory or Ravelin user.") +
                   "</dd><br>\n"
                   "<dd><b>" +
                   t("Network Address: ") + "</b>" +
                   t("Shows the IP address where the connection originates") +
                   "</dd><br>\n"
                   "<dd><b>" +
                   t("Security Equivalence: ") + "</b>" +
                   t("Shows Security Equivalence Vector of the connection.") +
                   "</dd><br>\n"
                   "<dd><b>" +
                   t("Open Files: ") + "</b>" + t("Shows the files open for the connection.") +
                   "</dd><br>\n"
                   "<p>" +
                   t("1. Click  ") + "<i>" + t("Back to Connections ") + "</i>" +
                   t("to go to CIFS Connections page.") +
                   "</p>\n"
                   "<dd>" +
                   t("(or)") +
                   "</dd>\n"
                   "<p>" +
                   t("Click  ") + "<i>" + t("Back to Open File Management ") + "</i>" +
                   t("to go to CIFS Open File Management page.") +
                   "</p>\n"
                   "<p>" +
                   t("2. Click  ") + "<i>" + t("Close All Files ") + "</i>" +
                   t("to close all files opened by the current connection. Closing files does "
                     "not close the connection; rather, the connection remains open.") +
                   "</p>\n"
                   "<p>" +
                   t("3. Click  ") + "<i>" + t("Close File ") + "</i>" +
                   t("to close a specific file.The file is closed for all connections that "
                     "have opened the file.") +
                   "</p>\n";
            break;
        case 36:
            body = "<p>" +
                   t("Use this page to view messages logged by the CIFS server and CIFS KEL "
                     "Plug-in.") +
                   "</p>\n"
                   "<dd><b>" +
                   t("1.") + " libkel2cifs.log: </b>" +
                   t("This log file is associated with CIFS KEL Plug-in logs.") +
                   "</dd>\n"
                   "<dd><b>" +
                   t("2.") + " cifs.log: </b>" +
                   t("This file is associated with CIFS server logs.") + "</dd><br>\n";
            break;
        case 41:
            body = "<p>" +
                   t("Use this page to view open file information for the selected volume. You "
                     "can also filter files by the extension.") +
                   "</p>"
                   "<dd><b>" +
                   t("CIFS Volume: ") + "</b>" +
                   t("Lists the mounted CIFS volumes. To view all open files on a specific "
                     "volume, select the volume from the CIFS Volume drop-down list box.") +
                   "</dd><br> \n"
                   "<dd><b>" +
                   t("Filter: ") + "</b>" +
                   t("Text box to specify your filter criteria. To filter for a specifc file "
                     "type on the selected volume, type the extension of the file, for example, "
                     "*.doc, then click Apply or press the ENTER key on your keyboard.") +
                   "</dd><br>\n"
                   "<dd>" +
                   t("All open files that match the filter criteria is displayed and the Filter "
                     "field is cleared automatically.") +
                   "</dd><br>\n"
                   "<dd><b>" +
                   t("NOTE: ") + "</b>" +
                   t("You can only filter by file extension and the format must be "
                     "*.file_extension. You cannot use regular expressions to filter files.") +
                   "</dd><br>\n"
                   "<dd><b>" +
                   t("Connection: ") + "</b>" + t("Shows the connection numbers.") +
                   "</dd><br>\n"
                   "<dd><b>" +
                   t("User name: ") + "</b>" + t("Shows the name of the logged in users.") +
                   "</dd><br>\n"
                   "<dd><b>" +
                   t("File Path: ") + "</b>" + t("Shows the path of open files.") +
                   "</dd>\n"
                   "<p>" +
                   t("Click ") + "<i>" + t("Refresh ") + "</i>" +
                   t("to view the latest list of open files for the selected volume and the "
                     "filter criteria set ") +
                   "</p>\n"
                   "<h4>" +
                   t("Close Files") +
                   "</h4>"
                   "<p>" +
                   t("Select the files you want to close, then click ") + "<i>" +
                   t("Close Files.") +
                   "</i></p>\n"
                   "<dd>" +
                   t("Note: The files are closed on the server,so the file will not be "
                     "available for any file operations for all users who have opened the file. "
                     "User(s) might lose unsaved data when a file is closed.") +
                   "</dd>\n"
                   "<h4>" +
                   t("View connection information") +
                   "</h4>"
                   "<p>" +
                   t("Click the name of the user to view detailed information for a specific "
                     "connection. ") +
                   "</p>\n";
            break;
        case 42:
            body = "<h3>" + t("Open File Information") + "</h3>\n";
            for (const char *text : {
                     "Shows information about and lets you perform specific tasks on a file.",
                     "File Information:",
                     "Shows the file owner, creation date and time, effective rights, Inherited "
                     "Rights Filter, and logical file size information. Clicking the Inherited "
                     "Rights Filter link opens a page that lets you change the inherited rights "
                     "for the file.",
                     "Trustee Information:",
                     "Shows any trustees that have been assigned specifically to the file and "
                     "lets you assign new trustees.",
                     "Global Lock Information:",
                     "Shows the current lock state for the file.",
                     "File Lock Information by Connection:",
                     "Shows which connections have the file open and what mode they are using.",
                     "Record Lock Information",
                     "Shows any record locks that are currently in use on the file as well as "
                     "who owns the lock and what part of the file is locked.",
                     "Close button:",
                     "Closed the file.",
                 }) {
                body += "<p>" + t(text) + "</p>\n";
            }
            break;
        default:
            body =
                "<h3>" + t("CIFS Open File Manager Help information is not available.") + "</h3>\n";
            break;
    }
    return body + "</BODY></HTML>";
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
