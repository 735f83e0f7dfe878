#include "plugin/html.h"

#include <string>
#include <string_view>

#include <gtest/gtest.h>

namespace kel2cifs {
namespace {

using namespace std::string_literals;

TEST(EscapeHtml, ReplacesTheFiveSpecialCharacters) {
    EXPECT_EQ(EscapeHtml("&<>\"'"), "&amp;&lt;&gt;&quot;&#39;");
    EXPECT_EQ(EscapeHtml("a<b>c&&d"), "a&lt;b&gt;c&amp;&amp;d");
    EXPECT_EQ(EscapeHtml("&amp;"), "&amp;amp;");
}

TEST(EscapeHtml, KeepsEveryOtherByte) {
    EXPECT_EQ(EscapeHtml(""), "");
    EXPECT_EQ(EscapeHtml("VOL1/dir name/file.doc%20+;=#"), "VOL1/dir name/file.doc%20+;=#");
    EXPECT_EQ(EscapeHtml("\xc3\xa9t\xc3\xa9\t\n"), "\xc3\xa9t\xc3\xa9\t\n");
    // A view is escaped over its length, embedded NULs included, and not past it.
    EXPECT_EQ(EscapeHtml(std::string_view("a\0<", 3)), "a\0&lt;"s);
    EXPECT_EQ(EscapeHtml(std::string_view("ab<", 2)), "ab");
}

TEST(PercentEncodePath, KeepsUnreservedAndPathCharacters) {
    const std::string plain = "ABCXYZabcxyz0189-._~/:@!$()*+,;=";
    EXPECT_EQ(PercentEncodePath(plain), plain);
    EXPECT_EQ(PercentEncodePath("/cifscons/UserName/VOL1"), "/cifscons/UserName/VOL1");
}

TEST(PercentEncodePath, EncodesEverythingElseInUpperCaseHex) {
    EXPECT_EQ(PercentEncodePath("a b"), "a%20b");
    EXPECT_EQ(PercentEncodePath("%?#&\"'<>\\"), "%25%3F%23%26%22%27%3C%3E%5C");
    EXPECT_EQ(PercentEncodePath("\xc3\xa9\xff\x01"), "%C3%A9%FF%01");
    EXPECT_EQ(PercentEncodePath(std::string_view("\0", 1)), "%00");
}

TEST(HtmlText, PlainTextIsTheOriginalWithoutACopy) {
    const char *plain = "VOL1/file.doc";
    HtmlText text(plain);
    EXPECT_EQ(text.c_str(), plain);
}

TEST(HtmlText, SpecialTextIsEscapedAndNullIsEmpty) {
    HtmlText special("<a href='x'>");
    EXPECT_STREQ(special.c_str(), "&lt;a href=&#39;x&#39;&gt;");
    HtmlText none(static_cast<const char *>(nullptr));
    EXPECT_STREQ(none.c_str(), "");
    // A view is copied (it need not be terminated where it ends) and escaped over its length.
    HtmlText view(std::string_view("a&bc", 3));
    EXPECT_STREQ(view.c_str(), "a&amp;b");
}

TEST(UrlPathText, PlainPathIsTheOriginalOtherwiseEncoded) {
    const char *plain = "/cifsofm/VOL1";
    UrlPathText same(plain);
    EXPECT_EQ(same.c_str(), plain);
    UrlPathText encoded("/cifsofm/my vol?x");
    EXPECT_STREQ(encoded.c_str(), "/cifsofm/my%20vol%3Fx");
    UrlPathText none(static_cast<const char *>(nullptr));
    EXPECT_STREQ(none.c_str(), "");
    UrlPathText view(std::string_view("a b/c", 3));
    EXPECT_STREQ(view.c_str(), "a%20b");
}

TEST(FieldText, StopsAtTheTerminatorOrTheArrayEnd) {
    const char terminated[8] = "abc";
    EXPECT_EQ(FieldText(terminated), "abc");
    const char full[4] = {'w', 'x', 'y', 'z'};
    EXPECT_EQ(FieldText(full), "wxyz");
    EXPECT_EQ(TextOf(nullptr), "");
    EXPECT_EQ(TextOf("t"), "t");
}

}  // namespace
}  // namespace kel2cifs
