// The bounded text copies into the records' arrays.
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

}  // namespace
