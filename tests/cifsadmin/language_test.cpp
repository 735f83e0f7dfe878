// The administration pages in the request's language: German and French texts from the built
// catalogues, and sizes with the language's decimal mark; data is never translated.
#include <clocale>
#include <cstdlib>
#include <string>

#include <locale.h>

#include <gtest/gtest.h>

#include "cifsadmin/calls.h"
#include "cifsadmin/methods.h"
#include "cifsadmin/page.h"
#include "support/fake_host.h"
#include "support/fake_monitoring.h"

namespace {

using namespace kel2cifs::admin;

// A thread locale whose LC_MESSAGES is the language, as the console sets one per request.
class Language {
  public:
    explicit Language(const char *name)
        : locale_(newlocale(LC_MESSAGES_MASK, name, newlocale(LC_ALL_MASK, "C", nullptr))),
          previous_(uselocale(locale_)) {}
    ~Language() {
        uselocale(previous_);
        freelocale(locale_);
    }
    bool ok() const { return locale_ != static_cast<locale_t>(0); }

  private:
    locale_t locale_;
    locale_t previous_;
};

class Environment : public ::testing::Environment {
  public:
    void SetUp() override { setenv("KEL2CIFS_ROOT", KEL2CIFS_TEST_LOCALE_ROOT, 1); }
};
[[maybe_unused]] ::testing::Environment *const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new Environment);

std::string SessionsPage(uint32_t node = CIFSMON_NO_NODE) {
    fake::Reset();
    fake::Session session;
    session.node = node;
    session.connNumber = 7;
    session.user = "Unknown";  // data: never looked up
    session.bytesIn = 1536;
    session.bytesOut = 5ull * 1024 * 1024 / 2;
    session.idleSeconds = UINT64_MAX;
    fake::SetSessions({session});
    fake::Request request = fake::Get("/cifssessions");
    EXPECT_EQ(fake::Serve(SessionsMethod, request, KEL_ACCESS_ADMIN), 200);
    EXPECT_EQ(fake::Outstanding(), 0u);
    fake::Reset();
    return request.body;
}

std::string FindPage() {
    fake::Reset();
    fake::OpenFile file;
    file.connNumber = 2;
    file.volume = "VOL1";
    file.path = "/vol1/read";  // data: never looked up
    file.access = CIFSMON_ACCESS_READ | CIFSMON_ACCESS_WRITE;
    file.shareMode = CIFSMON_SHARE_READ | CIFSMON_SHARE_WRITE | CIFSMON_SHARE_DELETE;
    fake::SetOpenFiles({file});
    fake::Request request = fake::Get("/cifsfind");
    EXPECT_EQ(fake::Serve(FindMethod, request, KEL_ACCESS_ADMIN), 200);
    fake::Reset();
    return request.body;
}

TEST(AdminLanguages, GermanAndFrenchTextsAndDecimalMarks) {
    {
        Language german("de_DE.UTF-8");
        ASSERT_TRUE(german.ok());
        const std::string page = SessionsPage();
        EXPECT_NE(page.find("<td>1,5 KiB</td><td>2,5 MiB</td>"), std::string::npos) << page;
        EXPECT_NE(page.find(">Verbindung<span"), std::string::npos);
        EXPECT_NE(page.find("<td>Unknown</td>"), std::string::npos);
        EXPECT_NE(page.find("<td>unbekannt</td>"), std::string::npos);
        EXPECT_STREQ(Tr("Find and Sessions"), "Suche und Sitzungen");
        EXPECT_NE(SessionsPage(4).find(">Knoten</a></th>"), std::string::npos);
        const std::string find = FindPage();
        EXPECT_NE(find.find("<td>lesen/schreiben</td><td>nichts</td>"), std::string::npos) << find;
        EXPECT_NE(find.find("<td class=\"adm-path\">/vol1/read</td>"), std::string::npos);
    }
    {
        Language french("fr_FR.UTF-8");
        ASSERT_TRUE(french.ok());
        const std::string page = SessionsPage();
        EXPECT_NE(page.find("<td>1,5 KiB</td><td>2,5 MiB</td>"), std::string::npos) << page;
        EXPECT_NE(page.find(">Connexion<span"), std::string::npos);
        EXPECT_EQ(page.find("Alle 10 Sekunden"), std::string::npos);
        EXPECT_NE(page.find("Toutes les 10 secondes"), std::string::npos);
        EXPECT_NE(SessionsPage(4).find(">N\xC5\x93ud</a></th>"), std::string::npos);
        EXPECT_NE(FindPage().find("<td>lecture/écriture</td><td>rien</td>"), std::string::npos);
    }
    // English: the texts as written.
    const std::string page = SessionsPage();
    EXPECT_NE(page.find("<td>1.5 KiB</td><td>2.5 MiB</td>"), std::string::npos) << page;
}

}  // namespace
