// The error, help and View Logs pages under a catalogue that translates every text they localise,
// and also the texts they must not localise (error messages, the code-6 title, data).
#include <climits>
#include <cstdlib>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/error_page.h"
#include "common/temp_dir.h"
#include "logger/logger.h"
#include "logs/expected_logs.h"
#include "logs/logs.h"
#include "plugin/expected_pages.h"
#include "plugin/help.h"
#include "plugin/pages.h"
#include "plugin/pseudo_catalogue.h"
#include "support/fake_host.h"
#include "support/text_match.h"

namespace kel2cifs {
namespace {

using expected::Pseudo;

class PseudoCatalogue : public ::testing::Environment {
  public:
    void SetUp() override { expected::UsePseudoCatalogue(); }
};

[[maybe_unused]] ::testing::Environment *const kPseudoCatalogue =
    ::testing::AddGlobalTestEnvironment(new PseudoCatalogue);

TEST(Localisation, CatalogueTranslatesEveryListedText) {
    for (const std::string &text : expected::LocalisedTexts()) {
        EXPECT_EQ(lnxMSG(text.c_str()), "[[" + text + "]]");
    }
    for (const std::string &text : expected::NotLocalisedTexts()) {
        EXPECT_EQ(lnxMSG(text.c_str()), "[[" + text + "]]");
    }
}

TEST(Localisation, UnknownAndEmptyTextsComeBackAsThemselves) {
    const char *unknown = "A text no catalogue holds";
    EXPECT_EQ(lnxMSG(unknown), unknown);
    // Not the catalogue's header, which is filed under the empty text.
    EXPECT_STREQ(lnxMSG(""), "");
}

TEST(Localisation, ErrorPageLocalisesItsTitleAndLabelOnly) {
    for (const expected::ErrorCase &row : expected::ErrorCases()) {
        SCOPED_TRACE("code " + std::string(row.name));
        fake::Request request;
        EXPECT_EQ(row.render(request.handle()), 200);
        expected::ExpectPageFrame(request, row.titleLocalised ? Pseudo(row.title) : row.title);
        EXPECT_THAT(request.body, fake::TextEq(testing_support::ErrorPageBody(row.message, "xx")));
    }
}

TEST(Localisation, HelpPageLocalisesEveryTextButTheGivenTitle) {
    for (int topic : {18, 19, 36, 41, 42, 0}) {
        SCOPED_TRACE(topic);
        fake::Request request;
        EXPECT_EQ(generate_cifs_help_page(request.handle(), topic, "Help Title"), 200);
        expected::ExpectPageFrame(request, "Help Title");
        EXPECT_THAT(request.body, fake::TextEq(expected::HelpBody(topic, "xx")));
    }
}

// The View Logs page localises its title, its two heading rows and its help title; the help URL,
// the file names, the directory and the size texts are written as they are.
TEST(Localisation, ViewLogsPageLocalisesItsTitleAndHeadingsOnly) {
    Logger *previous = log;
    log = Logger_init(nullptr, kLevelDebug);

    fake::Request list = fake::Get("/cifslogs");
    EXPECT_EQ(fake::Serve(cifsLogsMethod, list, fake::kAdministratorAccess), 200);
    ASSERT_NE(list.header(), nullptr);
    EXPECT_EQ(list.header()->title, Pseudo("CIFS System Logs"));
    EXPECT_EQ(list.header()->heading, Pseudo("CIFS System Logs"));
    EXPECT_EQ(list.header()->helpUrl, "/cifslogs/help");
    EXPECT_THAT(list.body, fake::TextEq(expected_logs::ListPage("", "xx")));

    fake::Request help;
    EXPECT_EQ(generate_showlogs_help(help.handle(), 0, "", 0), 200);
    expected::ExpectPageFrame(help, Pseudo("CIFS System Logs "));
    EXPECT_THAT(help.body, fake::TextEq(expected::HelpBody(36, "xx")));

    testing_support::TempDir dir;
    dir.Write("cifstcp.log", std::string(2048, 'x'));
    fake::Request row;
    ASSERT_TRUE(OpenPage(row.handle()));
    EXPECT_EQ(BuildLogFileTableEntry(row.handle(), lpzdark, "cifstcp.log", dir.str().c_str()),
              lpzlight);
    EXPECT_THAT(row.body,
                fake::TextEq(expected_logs::Row(expected_logs::kDark, dir.File("cifstcp.log"),
                                                "cifstcp.log", "2 KB")));

    Logger_deinit();
    log = previous;
}

}  // namespace
}  // namespace kel2cifs
