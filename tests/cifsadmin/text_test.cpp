// The administration pages' texts: the file-name search, the escaping of every output, the
// selection keys and the size and time texts.
#include "cifsadmin/text.h"

#include <gtest/gtest.h>

namespace {

using namespace kel2cifs::admin;

TEST(NameSearch, SubstringIgnoresCaseOfEveryLetter) {
    EXPECT_TRUE(NameSearch("report").Matches("/vol/Finance/REPORT-2026.xlsx"));
    EXPECT_TRUE(NameSearch("ärger").Matches("/vol/home/ÄRGER.txt"));
    EXPECT_TRUE(NameSearch("ÄRGER").Matches("/vol/home/ärger.txt"));
    EXPECT_TRUE(NameSearch("ŁÓDŹ").Matches("/vol/łódź/plan.doc"));
    EXPECT_TRUE(NameSearch("привет").Matches("/vol/ПРИВЕТ.txt"));
    EXPECT_TRUE(NameSearch("ΣΟΦΙΑ").Matches("/vol/σοφια.odt"));
    EXPECT_TRUE(NameSearch("ΆΈ").Matches("/vol/άέ"));
    EXPECT_TRUE(NameSearch("STRAẞE").Matches("/vol/straße"));
    EXPECT_FALSE(NameSearch("strasse").Matches("/vol/straße"));  // simple folding only
    EXPECT_TRUE(NameSearch("ỆÖ").Matches("/vol/ệö"));
    EXPECT_TRUE(NameSearch("ＡＢ").Matches("/vol/ａｂ"));
    EXPECT_FALSE(NameSearch("ärger").Matches("/vol/home/arger.txt"));
    EXPECT_FALSE(NameSearch("budget").Matches("/vol/Finance/REPORT-2026.xlsx"));
    EXPECT_FALSE(NameSearch("report").IsGlob());
    // The empty search lets everything through.
    EXPECT_TRUE(NameSearch("").Matches("/anything"));
}

TEST(NameSearch, GlobMatchesWholePathOrLastComponent) {
    const NameSearch docx("*.DOCX");
    EXPECT_TRUE(docx.IsGlob());
    EXPECT_TRUE(docx.Matches("/vol/a/letter.docx"));
    EXPECT_FALSE(docx.Matches("/vol/a/letter.docx.bak"));
    EXPECT_TRUE(NameSearch("report?.txt").Matches("/vol/dir/Report1.txt"));
    EXPECT_FALSE(NameSearch("report?.txt").Matches("/vol/dir/Report12.txt"));
    EXPECT_TRUE(NameSearch("/vol/*/plan.*").Matches("/vol/x/y/plan.odt"));
    EXPECT_TRUE(NameSearch("[a-c]*.log").Matches("/l/B.log"));
    EXPECT_FALSE(NameSearch("[a-c]*.log").Matches("/l/d.log"));
    EXPECT_TRUE(NameSearch("[!a-c]*.log").Matches("/l/d.log"));
    EXPECT_TRUE(NameSearch("ärger*").Matches("/v/ÄRGER.txt"));
    // An unclosed bracket is an ordinary character.
    EXPECT_TRUE(NameSearch("a[b").Matches("/v/A[B"));
    EXPECT_FALSE(NameSearch("a[b").Matches("/v/ab"));
}

TEST(NameSearch, BytesThatAreNotUtf8MatchOnlyThemselves) {
    EXPECT_TRUE(NameSearch("bad\xff").Matches("/v/BAD\xff.txt"));
    EXPECT_FALSE(NameSearch("bad\xfe").Matches("/v/BAD\xff.txt"));
    // A cut sequence is one unit of its own.
    EXPECT_TRUE(NameSearch("bad?").Matches("/v/bad\xc3"));
    EXPECT_FALSE(NameSearch("bad??").Matches("/v/bad\xc3"));
    EXPECT_TRUE(NameSearch("bad?.txt").Matches("/v/bad\xc3.txt"));
}

TEST(Escaping, HtmlEscapesMarkupAndShowsBadBytes) {
    EXPECT_EQ(Html("<a href=\"x\">'&'</a>"),
              "&lt;a href=&quot;x&quot;&gt;&#39;&amp;&#39;&lt;/a&gt;");
    EXPECT_EQ(Html("ok\xff!"), "ok\xEF\xBF\xBD!");
    EXPECT_EQ(Html("Ärger"), "Ärger");
}

TEST(Escaping, JsonIsValidAndInert) {
    EXPECT_EQ(Json("a\"b\\c\nd\r\t\x01"), "\"a\\\"b\\\\c\\nd\\r\\t\\u0001\"");
    EXPECT_EQ(Json("</script><b>&"), "\"\\u003c/script\\u003e\\u003cb\\u003e\\u0026\"");
    EXPECT_EQ(Json("x\xff"
                   "y"),
              "\"x\\ufffdy\"");
    EXPECT_EQ(Json("Ärger"), "\"Ärger\"");
}

TEST(Escaping, CsvQuotesAndGuardsFormulas) {
    EXPECT_EQ(CsvCell("plain"), "plain");
    EXPECT_EQ(CsvCell("a,b"), "\"a,b\"");
    EXPECT_EQ(CsvCell("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(CsvCell("two\nlines"), "\"two\nlines\"");
    EXPECT_EQ(CsvCell("=HYPERLINK(\"x\")"), "\"'=HYPERLINK(\"\"x\"\")\"");
    EXPECT_EQ(CsvCell("+1"), "'+1");
    EXPECT_EQ(CsvCell("-1"), "'-1");
    EXPECT_EQ(CsvCell("@SUM(A1)"), "'@SUM(A1)");
    EXPECT_EQ(CsvCell(""), "");
}

TEST(Escaping, UrlComponentEncodesAllButUnreserved) {
    EXPECT_EQ(UrlComponent("a b&c=d/é%"), "a%20b%26c%3Dd%2F%C3%A9%25");
    EXPECT_EQ(UrlComponent("A-z_0.9~"), "A-z_0.9~");
}

TEST(Form, DecodesRepeatedFieldsAndKeepsMalformedEscapes) {
    const Fields fields = ParseForm("q=a+b%26c&close=1&close=2&bad=%zz%4&empty&=x");
    EXPECT_EQ(FieldValue(fields, "q"), "a b&c");
    EXPECT_EQ(FieldValues(fields, "close"), (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(FieldValue(fields, "bad"), "%zz%4");
    EXPECT_EQ(FieldValue(fields, "empty", "default"), "");
    EXPECT_EQ(FieldValue(fields, "missing", "default"), "default");
    EXPECT_EQ(FieldNumber(ParseForm("size=5000"), "size", 100, 1, 1000), 1000);
    EXPECT_EQ(FieldNumber(ParseForm("size=0"), "size", 100, 1, 1000), 1);
    EXPECT_EQ(FieldNumber(ParseForm("size=-5"), "size", 100, 1, 1000), 100);
    EXPECT_EQ(FieldNumber(ParseForm("size=99999999999999999999"), "size", 100, 1, 1000), 100);
}

TEST(Refs, RoundTripAnyPathAndRefuseMalformed) {
    const std::string path = "/vol/a b/50%\"<x>&+\xff\n/Ärger";
    const std::string ref = MakeRef(7, path);
    EXPECT_EQ(ref.find_first_of(" \"<>&+\n\xff"), std::string::npos) << ref;
    unsigned connection = 0;
    std::string back;
    ASSERT_TRUE(ParseRef(ref, &connection, &back));
    EXPECT_EQ(connection, 7u);
    EXPECT_EQ(back, path);
    // A script's plain path needs no escaping.
    ASSERT_TRUE(ParseRef("12:/vol/plain name.txt", &connection, &back));
    EXPECT_EQ(back, "/vol/plain name.txt");
    for (const char *bad :
         {"", ":/x", "7", "x:/a", "70000:/a", "7:", "7:%4", "7:%zz", "7:a%00b", "123456:/a"}) {
        EXPECT_FALSE(ParseRef(bad, &connection, &back)) << bad;
    }
}

TEST(Numbers, HumanBytesInBinaryUnitsWithTheLanguagesMark) {
    EXPECT_EQ(HumanBytes(0, "%s.%s %s"), "0 B");
    EXPECT_EQ(HumanBytes(1023, "%s.%s %s"), "1023 B");
    EXPECT_EQ(HumanBytes(1024, "%s.%s %s"), "1.0 KiB");
    EXPECT_EQ(HumanBytes(1536, "%s,%s %s"), "1,5 KiB");
    EXPECT_EQ(HumanBytes(5ull * 1024 * 1024 * 1024 / 2, "%s.%s %s"), "2.5 GiB");
    EXPECT_EQ(HumanBytes(1024ull * 1024 - 1, "%s.%s %s"), "1.0 MiB");
    EXPECT_EQ(HumanBytes(UINT64_MAX, "%s.%s %s"), "16.0 EiB");
}

TEST(Numbers, TimesAreUtc) {
    EXPECT_EQ(IsoTime(0), "");
    EXPECT_EQ(IsoTime(1765256767), "2025-12-09T05:06:07Z");
    EXPECT_EQ(PageTime(1765256767), "2025-12-09 05:06:07 UTC");
    EXPECT_EQ(HumanDuration(59), "59 s");
    EXPECT_EQ(HumanDuration(725), "12 min 05 s");
    EXPECT_EQ(HumanDuration(3 * 3600 + 4 * 60), "3 h 04 min");
    EXPECT_EQ(HumanDuration(2 * 86400 + 3 * 3600), "2 d 03 h");
}

}  // namespace
