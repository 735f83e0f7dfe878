#include "plugin/help.h"

#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/golden.h"
#include "plugin/expected_pages.h"
#include "plugin/pages.h"
#include "support/fake_host.h"
#include "support/text_match.h"

namespace kel2cifs {
namespace {

using expected::ExpectPageFrame;
using expected::HelpBody;

TEST(HelpPage, EveryTopicWritesItsWholeText) {
    for (int topic : expected::kHelpTopics) {
        SCOPED_TRACE(topic);
        fake::Request request;
        EXPECT_EQ(generate_cifs_help_page(request.handle(), topic, "Help Title"), 200);
        ExpectPageFrame(request, "Help Title");
        EXPECT_THAT(request.body, fake::TextEq(HelpBody(topic)));
    }
}

TEST(HelpPage, UnknownTopicShowsOnlyTheNotAvailableHeading) {
    const std::string unavailable = testing_support::Golden("plugin/golden/help_unavailable.html");
    for (int topic : {0, 17, 20, 40, 43, -1}) {
        SCOPED_TRACE(topic);
        fake::Request request;
        EXPECT_EQ(generate_cifs_help_page(request.handle(), topic, "T"), 200);
        ExpectPageFrame(request, "T");
        EXPECT_THAT(request.body, fake::TextEq(unavailable));
    }
}

TEST(HelpPage, TitleIsCutToItsBuffer) {
    const std::string fits(kPageTitleSize - 1, 't');
    fake::Request exact;
    generate_cifs_help_page(exact.handle(), kHelpShowLogs, fits.c_str());
    ExpectPageFrame(exact, fits);

    const std::string over(kPageTitleSize + 100, 'o');
    fake::Request cut;
    generate_cifs_help_page(cut.handle(), kHelpShowLogs, over.c_str());
    ExpectPageFrame(cut, over.substr(0, kPageTitleSize - 1));

    fake::Request none;
    EXPECT_EQ(generate_cifs_help_page(none.handle(), kHelpShowLogs, nullptr), 200);
    ExpectPageFrame(none, "");
}

TEST(HelpPage, RefusedResponseWritesNothingElse) {
    fake::Request request;
    request.openSucceeds = false;
    EXPECT_EQ(generate_cifs_help_page(request.handle(), kHelpOpenFiles, "Help Title"), 500);
    expected::ExpectRefusedPage(request);
}

}  // namespace
}  // namespace kel2cifs
