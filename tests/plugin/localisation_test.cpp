// The error and help pages under a catalogue that translates every text they localise, and also
// the texts they must not localise (error messages, the code-6 title, data).
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

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
        EXPECT_THAT(request.body, fake::TextEq(expected::ErrorBody(Pseudo, row.message)));
    }
}

TEST(Localisation, HelpPageLocalisesEveryTextButTheGivenTitle) {
    for (int topic : {18, 19, 36, 41, 42, 0}) {
        SCOPED_TRACE(topic);
        fake::Request request;
        EXPECT_EQ(generate_cifs_help_page(request.handle(), topic, "Help Title"), 200);
        expected::ExpectPageFrame(request, "Help Title");
        EXPECT_THAT(request.body, fake::TextEq(expected::HelpBody(topic, Pseudo)));
    }
}

}  // namespace
}  // namespace kel2cifs
