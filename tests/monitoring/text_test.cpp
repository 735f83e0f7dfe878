// The bounded text copies into the records' arrays, and ASCII case.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "monitoring/text.h"

namespace {

TEST(Text, CutToFitNeverSplitsAUtf8Character) {
    EXPECT_EQ(cifsmon::CutToFit("abc", 4), "abc");
    EXPECT_EQ(cifsmon::CutToFit("abcd", 4), "abc");
    EXPECT_EQ(cifsmon::CutToFit("ab\xC3\xA9", 4), "ab");         // é
    EXPECT_EQ(cifsmon::CutToFit("a\xC3\xA9z", 4), "a\xC3\xA9");  // é fits whole
    EXPECT_EQ(cifsmon::CutToFit("ab\xE2\x80\x93", 4), "ab");     // en dash
    EXPECT_EQ(cifsmon::CutToFit("a\xF0\x9F\x98\x80", 4), "a");   // emoji
    EXPECT_EQ(cifsmon::CutToFit("\x80\x80\x80\x80\x80\x80", 5), "\x80\x80\x80\x80");  // not UTF-8
    EXPECT_EQ(cifsmon::CutToFit("abc", 1), "");

    char array[6];
    std::memset(array, 'X', sizeof array);
    cifsmon::CopyText(array, sizeof array, "abcdefgh");
    EXPECT_EQ(std::string(array, sizeof array), std::string("abcde\0", 6));
    std::memset(array, 'X', sizeof array);
    cifsmon::CopyText(array, sizeof array, "ab");
    EXPECT_EQ(std::string(array, sizeof array), std::string("ab\0\0\0\0", 6));
}

TEST(Text, CaseChangesTouchOnlyAsciiLetters) {
    EXPECT_EQ(cifsmon::LowerAscii("Netbios NAME = X"), "netbios name = x");
    EXPECT_EQ(cifsmon::UpperAscii("corp-dc1.example"), "CORP-DC1.EXAMPLE");
    // The neighbours of the letters, and UTF-8 and Latin-1 letters, stay as they are.
    EXPECT_EQ(cifsmon::LowerAscii("@[`{\xC3\x84\xC4"), "@[`{\xC3\x84\xC4");
    EXPECT_EQ(cifsmon::UpperAscii("@[`{\xC3\xA4\xE4"), "@[`{\xC3\xA4\xE4");
    EXPECT_EQ(cifsmon::UpperAscii(std::string("a\0b", 3)), std::string("A\0B", 3));
}

TEST(Text, EqualsIgnoringCaseComparesLengthAndEveryByte) {
    EXPECT_TRUE(cifsmon::EqualsIgnoringCase("IPC$", "ipc$"));
    EXPECT_TRUE(cifsmon::EqualsIgnoringCase("CORP\\Domain Admins", "corp\\domain admins"));
    EXPECT_TRUE(cifsmon::EqualsIgnoringCase("", ""));
    EXPECT_FALSE(cifsmon::EqualsIgnoringCase("global", "globa"));
    EXPECT_FALSE(cifsmon::EqualsIgnoringCase("globa", "global"));
    EXPECT_FALSE(cifsmon::EqualsIgnoringCase("data", "date"));
    // Bytes 0x20 apart that are not ASCII letters differ.
    EXPECT_FALSE(cifsmon::EqualsIgnoringCase("@", "`"));
    EXPECT_FALSE(cifsmon::EqualsIgnoringCase("\xC4", "\xE4"));
    EXPECT_FALSE(cifsmon::EqualsIgnoringCase(std::string("a\0", 2), std::string("a ", 2)));
}

}  // namespace
