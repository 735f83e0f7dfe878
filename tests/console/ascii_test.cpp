// Tests of the console's ASCII helpers: only A to Z change case, only 0-9, a-f and A-F are digits.
#include <string>

#include <gtest/gtest.h>

#include "console/ascii.h"

namespace {

using kel::console::EqualsIgnoringCase;
using kel::console::HexValue;
using kel::console::LowerAscii;
using kel::console::Printable;

TEST(Ascii, HexValueKnowsTheSixteenDigitsInEitherCaseAndNothingElse) {
    const std::string digits = "0123456789abcdef";
    for (int byte = 0; byte < 256; ++byte) {
        const char c = static_cast<char>(byte);
        std::size_t expected = digits.find(c);
        if (c >= 'A' && c <= 'F') {
            expected = digits.find(static_cast<char>(c - 'A' + 'a'));
        }
        const int want = expected == std::string::npos ? -1 : static_cast<int>(expected);
        EXPECT_EQ(HexValue(c), want) << "byte " << byte;
    }
}

TEST(Ascii, LowerAsciiChangesOnlyCapitalLetters) {
    EXPECT_EQ(LowerAscii("Cache-Control: MAX"), "cache-control: max");
    // The neighbours of A and Z, and the bytes of UTF-8 and Latin-1 letters, stay as they are.
    EXPECT_EQ(LowerAscii("@[`{"), "@[`{");
    EXPECT_EQ(LowerAscii("\xC3\x84\xC4\xDE"), "\xC3\x84\xC4\xDE");
    EXPECT_EQ(LowerAscii(std::string("A\0B", 3)), std::string("a\0b", 3));
    EXPECT_EQ(LowerAscii(""), "");
}

TEST(Ascii, EqualsIgnoringCaseComparesLengthAndEveryByte) {
    EXPECT_TRUE(EqualsIgnoringCase("Content-Type", "content-TYPE"));
    EXPECT_TRUE(EqualsIgnoringCase("", ""));
    EXPECT_FALSE(EqualsIgnoringCase("Content-Type", "Content-Typ"));
    EXPECT_FALSE(EqualsIgnoringCase("Content-Typ", "Content-Type"));
    EXPECT_FALSE(EqualsIgnoringCase("Content-Type", "Content_Type"));
    // Bytes 0x20 apart that are not letters, and Latin-1 capitals and small letters, differ.
    EXPECT_FALSE(EqualsIgnoringCase("@", "`"));
    EXPECT_FALSE(EqualsIgnoringCase("[", "{"));
    EXPECT_FALSE(EqualsIgnoringCase("\xC4", "\xE4"));
    EXPECT_FALSE(EqualsIgnoringCase(std::string("a\0", 2), std::string("a\x20", 2)));
}

TEST(Ascii, PrintableEscapesEveryControlByteAndNothingElse) {
    EXPECT_EQ(Printable(std::string_view("a\r\nb\t\x1b[1m\x7f\0\x01\xc3\xa9 ~", 16)),
              "a\\r\\nb\\t\\e[1m\\x7f\\x00\\x01\xc3\xa9 ~");
    EXPECT_EQ(Printable("plain path/with spaces"), "plain path/with spaces");
}

}  // namespace
