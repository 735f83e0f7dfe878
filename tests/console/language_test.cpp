// The language of a request: Accept-Language negotiation, and the per-thread message language
// that the console's own texts follow, with the built catalogues below a root of the test's own.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/temp_dir.h"
#include "console/language.h"

namespace kel::console {
namespace {

TEST(NegotiateLanguage, TakesTheBestOfferedLanguageOfTheHeader) {
    const struct {
        const char *header;
        const char *language;
    } cases[] = {
        {"", "en"},
        {"de", "de"},
        {"fr", "fr"},
        {"en", "en"},
        {"DE", "de"},                        // case-insensitive
        {"de-CH", "de"},                     // a region falls back to its language
        {"fr-ca, en;q=0.5", "fr"},           //
        {"zh-Hant-TW", "en"},                // nothing offered matches
        {"es, it;q=0.9", "en"},              //
        {"es, fr;q=0.2", "fr"},              // an unmatched range is passed over
        {"en;q=0.3, de;q=0.8", "de"},        // quality, not order, decides
        {"fr;q=0.8, de;q=0.8", "fr"},        // equal quality: the header's order
        {"de;q=0, fr;q=0.1", "fr"},          // q=0 excludes
        {"de;q=0.000", "en"},                //
        {"*", "en"},                         // any: English first
        {"en;q=0, *", "de"},                 // any but English
        {"en;q=0, de;q=0, *;q=0.5", "fr"},   //
        {"de;q=1.0", "de"},                  //
        {"de;q=1.001, fr", "fr"},            // a quality above 1 is malformed
        {"de;q=0.5x, fr;q=0.1", "fr"},       // so is one with junk
        {"de;q=, fr;q=0.1", "fr"},           //
        {"de;level=1;q=0.9", "de"},          // other parameters are ignored
        {"  de  ;  q=0.9  ", "de"},          // spaces around the parts
        {",,, ,de", "de"},                   // empty elements
        {"d e, fr", "fr"},                   // a range with a space is malformed
        {"de-, fr", "fr"},                   // so is an empty subtag
        {"toolongtag, de", "de"},            // and a subtag over 8 characters
        {"1de, fr", "fr"},                   // and a primary tag with a digit
        {"de-1996, en", "de"},               // later subtags may have digits
        {"\xC3\xA4, fr", "fr"},              // bytes outside ASCII
        {"de;q=0.9;q=0.1, fr;q=0.5", "fr"},  // the last q of a range counts
        {"*;q=0, de", "de"},                 //
        {"*;q=0", "en"},                     // nothing acceptable: English all the same
    };
    for (const auto &c : cases) {
        EXPECT_STREQ(NegotiateLanguage(c.header), c.language) << '"' << c.header << '"';
    }
}

TEST(NegotiateLanguage, OffersOnlyLanguagesThatAreAvailable) {
    auto onlyFrench = [](std::string_view tag) { return tag == "fr"; };
    EXPECT_STREQ(NegotiateLanguage("de, fr;q=0.5", onlyFrench), "fr");
    EXPECT_STREQ(NegotiateLanguage("de", onlyFrench), "en");
    EXPECT_STREQ(NegotiateLanguage("en;q=0, *", onlyFrench), "fr");
}

TEST(NegotiateLanguage, ReadsABoundedPartOfAnOverlongHeader) {
    // Ranges past the first kMaxLanguageRanges, or past kMaxAcceptLanguageLength bytes, are not
    // looked at.
    std::string ranges;
    for (int i = 0; i < kMaxLanguageRanges; ++i) {
        ranges += "xx;q=0.9, ";
    }
    EXPECT_STREQ(NegotiateLanguage(ranges + "de"), "en");
    EXPECT_STREQ(NegotiateLanguage(std::string(kMaxAcceptLanguageLength, ' ') + ", de"), "en");
    EXPECT_STREQ(NegotiateLanguage(std::string(kMaxAcceptLanguageLength - 4, ' ') + ", de"), "de");
    // A long run of one malformed range is read without trouble.
    EXPECT_STREQ(NegotiateLanguage(std::string(100000, ';') + "de"), "en");
}

// The console's catalogues of this build, below a root of the test's own.
class ConsoleCatalogues : public ::testing::Environment {
  public:
    void SetUp() override {
        std::filesystem::copy(KEL2CIFS_LOCALE_ROOT, root_.path(),
                              std::filesystem::copy_options::recursive);
        setenv("KEL2CIFS_ROOT", root_.str().c_str(), 1);
    }

  private:
    testing_support::TempDir root_;
};
const auto *const g_catalogues = ::testing::AddGlobalTestEnvironment(new ConsoleCatalogues);

TEST(ScopedLanguage, GivesEachThreadItsOwnLanguageAndRestoresTheLast) {
    ASSERT_TRUE(LanguageAvailable("de")) << "no de_DE.UTF-8 locale (package locales-all)";
    ASSERT_TRUE(LanguageAvailable("fr")) << "no fr_FR.UTF-8 locale (package locales-all)";
    EXPECT_STREQ(Translate("Log out"), "Log out");
    {
        const ScopedLanguage german("de");
        EXPECT_STREQ(Translate("Log out"), "Abmelden");
        EXPECT_STREQ(TranslatePlural("%zu byte", "%zu bytes", 2), "%zu Byte");
        {
            const ScopedLanguage french("fr");
            EXPECT_STREQ(Translate("Log out"),
                         "Se d\xC3\xA9"
                         "connecter");
            EXPECT_STREQ(TranslatePlural("%zu byte", "%zu bytes", 1), "%zu octet");
            EXPECT_STREQ(TranslatePlural("%zu byte", "%zu bytes", 2), "%zu octets");
        }
        EXPECT_STREQ(Translate("Log out"), "Abmelden");
        const ScopedLanguage english("en");
        EXPECT_STREQ(Translate("Log out"), "Log out");
        EXPECT_STREQ(Translate("Not a text of the catalogue"), "Not a text of the catalogue");
    }
    EXPECT_STREQ(Translate("Log out"), "Log out");

    // Threads in different languages at once: each sees only its own.
    std::vector<std::thread> threads;
    std::vector<int> wrong(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &wrong] {
            const char *tag = t % 2 == 0 ? "de" : "fr";
            const char *expected = t % 2 == 0 ? "Startseite" : "Accueil";
            const ScopedLanguage language(tag);
            for (int i = 0; i < 2000; ++i) {
                if (std::string(Translate("Home")) != expected) {
                    ++wrong[t];
                }
            }
        });
    }
    for (std::thread &thread : threads) {
        thread.join();
    }
    EXPECT_EQ(wrong, std::vector<int>(4, 0));
    EXPECT_STREQ(Translate("Home"), "Home");
}

}  // namespace
}  // namespace kel::console
