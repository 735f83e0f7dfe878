#include "console/http_text.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using namespace std::string_literals;

// A writable copy of `text` inside a larger buffer whose remaining bytes are a canary, so that a
// write past the terminator shows.
struct Buffer {
    explicit Buffer(const std::string &text, std::size_t spare = 16)
        : bytes(text.size() + 1 + spare, '#') {
        std::copy(text.begin(), text.end(), bytes.begin());
        bytes[text.size()] = '\0';
    }
    char *data() { return bytes.data(); }
    std::string Prefix(std::size_t n) const { return std::string(bytes.data(), n); }
    bool TailIntact(std::size_t from) const {
        for (std::size_t i = from; i < bytes.size(); ++i) {
            if (bytes[i] != '#') {
                return false;
            }
        }
        return true;
    }
    std::vector<char> bytes;
};

TEST(ConvertToComponentPath, ReplacesEverySlashByTheLengthOfTheNextComponent) {
    Buffer path("/cifsofm/UserName/VOL1");
    EXPECT_EQ(ConvertToComponentPath(path.data()), 3);
    EXPECT_EQ(path.Prefix(23), "\x07"s + "cifsofm" + "\x08" + "UserName" + "\x04" + "VOL1" + '\0');
    EXPECT_TRUE(path.TailIntact(23));
}

TEST(ConvertToComponentPath, CountsEmptyComponentsWithLengthZero) {
    Buffer root("/");
    EXPECT_EQ(ConvertToComponentPath(root.data()), 1);
    EXPECT_EQ(root.Prefix(2), "\0\0"s);

    Buffer path("/a//b/");
    EXPECT_EQ(ConvertToComponentPath(path.data()), 4);
    EXPECT_EQ(path.Prefix(7),
              "\x01"
              "a"
              "\x00"
              "\x01"
              "b"
              "\x00"
              "\x00"s);
    EXPECT_TRUE(path.TailIntact(7));
}

TEST(ConvertToComponentPath, AcceptsA255ByteComponent) {
    const std::string longest(255, 'x');
    Buffer path("/cifsofm/" + longest);
    EXPECT_EQ(ConvertToComponentPath(path.data()), 2);
    EXPECT_EQ(static_cast<unsigned char>(path.bytes[8]), 255u);
    EXPECT_EQ(std::string(path.data() + 9), longest);
}

TEST(ConvertToComponentPath, RefusesA256ByteComponentAndChangesNothing) {
    for (const std::string &text :
         {"/" + std::string(256, 'x'), "/cifsofm/" + std::string(256, 'x') + "/VOL1",
          "/a/b/" + std::string(300, 'y')}) {
        Buffer path(text);
        const std::vector<char> before = path.bytes;
        EXPECT_EQ(ConvertToComponentPath(path.data()), -1) << text.size();
        EXPECT_EQ(path.bytes, before);
    }
}

TEST(ConvertToComponentPath, RefusesAPathThatDoesNotStartWithASlash) {
    EXPECT_EQ(ConvertToComponentPath(nullptr), -1);
    for (const char *text : {"", "cifsofm/VOL1", " /a"}) {
        Buffer path(text);
        const std::vector<char> before = path.bytes;
        EXPECT_EQ(ConvertToComponentPath(path.data()), -1) << text;
        EXPECT_EQ(path.bytes, before);
    }
}

TEST(ConvertToComponentPath, StopsAtTheTerminatorAndStartsAtTheGivenSlash) {
    // "xx" before the path and "/b" after its terminator belong to the caller.
    std::vector<char> bytes = {'x', 'x', '/', 'a', '\0', '/', 'b', '\0'};
    EXPECT_EQ(ConvertToComponentPath(bytes.data() + 2), 1);
    EXPECT_EQ(bytes, (std::vector<char>{'x', 'x', '\x01', 'a', '\0', '/', 'b', '\0'}));
}

// Looks `name` up with a value buffer of `capacity` bytes inside a canary-filled buffer.
struct Lookup {
    Lookup(const char *form, const char *name, int capacity) : value(std::string(), 64) {
        value.bytes[0] = 'Z';
        length = capacity;
        result = HttpFindNameAndValue(form, name, value.data(), &length);
    }
    std::string Text() const { return std::string(value.bytes.data()); }
    Buffer value;
    int length = 0;
    int result = 0;
};

TEST(HttpFindNameAndValue, MatchesWholeNamesOnly) {
    Lookup suffixed("FILTERX=1&FILTER=2", "FILTER", 63);
    EXPECT_EQ(suffixed.result, 0);
    EXPECT_EQ(suffixed.Text(), "2");
    EXPECT_EQ(suffixed.length, 1);

    Lookup prefixed("XFILTER=1&FILTER=22", "FILTER", 63);
    EXPECT_EQ(prefixed.result, 0);
    EXPECT_EQ(prefixed.Text(), "22");

    Lookup longer("FILTER=1&FILTERX=2", "FILTERX", 63);
    EXPECT_EQ(longer.result, 0);
    EXPECT_EQ(longer.Text(), "2");

    Lookup shorter("FILTER=1", "FILTE", 63);
    EXPECT_EQ(shorter.result, kel::kFieldMissing);
    EXPECT_EQ(shorter.Text(), "");
    EXPECT_EQ(shorter.length, 63);

    Lookup otherCase("filter=1", "FILTER", 63);
    EXPECT_EQ(otherCase.result, kel::kFieldMissing);
}

TEST(HttpFindNameAndValue, TakesTheFirstFieldAndItsValueAsItStands) {
    Lookup first("a=1&a=2", "a", 63);
    EXPECT_EQ(first.Text(), "1");

    Lookup encoded("x=0&a=b%20c+d%2", "a", 63);
    EXPECT_EQ(encoded.result, 0);
    EXPECT_EQ(encoded.Text(), "b%20c+d%2");
    EXPECT_EQ(encoded.length, 9);

    Lookup equals("a=b=c&d=e", "a", 63);
    EXPECT_EQ(equals.Text(), "b=c");
}

TEST(HttpFindNameAndValue, FindsEmptyValuesAndSkipsEmptyFields) {
    Lookup empty("a=&b=2", "a", 63);
    EXPECT_EQ(empty.result, 0);
    EXPECT_EQ(empty.Text(), "");
    EXPECT_EQ(empty.length, 0);

    Lookup bare("flag&b=2", "flag", 63);
    EXPECT_EQ(bare.result, 0);
    EXPECT_EQ(bare.length, 0);

    Lookup gaps("&&b=2&", "b", 63);
    EXPECT_EQ(gaps.result, 0);
    EXPECT_EQ(gaps.Text(), "2");

    EXPECT_EQ(Lookup("", "b", 63).result, kel::kFieldMissing);
    EXPECT_EQ(Lookup("&&", "", 63).result, kel::kFieldMissing);
    EXPECT_EQ(Lookup("=v", "", 63).Text(), "v");
}

TEST(HttpFindNameAndValue, CopiesAValueThatExactlyFits) {
    Lookup fits("a=abc", "a", 4);
    EXPECT_EQ(fits.result, 0);
    EXPECT_EQ(fits.length, 3);
    EXPECT_EQ(fits.value.Prefix(4), "abc\0"s);
    EXPECT_TRUE(fits.value.TailIntact(4));
}

TEST(HttpFindNameAndValue, LeavesTheValueEmptyWhenItIsOneTooLong) {
    Lookup tooLong("a=abcd&b=1", "a", 4);
    EXPECT_EQ(tooLong.result, kel::kFieldValueTooLong);
    EXPECT_EQ(tooLong.value.bytes[0], '\0');
    EXPECT_TRUE(tooLong.value.TailIntact(4));  // nothing written past the capacity
    EXPECT_EQ(tooLong.length, 4);

    // A later field of the same name does not stand in for a first one that does not fit.
    Lookup duplicate("a=toolong&a=1", "a", 2);
    EXPECT_EQ(duplicate.result, kel::kFieldValueTooLong);
    EXPECT_EQ(duplicate.Text(), "");
}

TEST(HttpFindNameAndValue, RefusesMissingArgumentsWithoutWriting) {
    Lookup noForm(nullptr, "a", 8);
    EXPECT_EQ(noForm.result, kel::kFieldMissing);
    EXPECT_EQ(noForm.Text(), "");
    EXPECT_NE(Lookup("a=1", nullptr, 8).result, 0);

    Lookup noRoom("a=", "a", 0);
    EXPECT_NE(noRoom.result, 0);
    EXPECT_EQ(noRoom.value.bytes[0], 'Z');
    EXPECT_NE(Lookup("a=", "a", -5).result, 0);

    char value[4];
    EXPECT_NE(HttpFindNameAndValue("a=1", "a", value, nullptr), 0);
    int length = 4;
    EXPECT_NE(HttpFindNameAndValue("a=1", "a", nullptr, &length), 0);
    EXPECT_EQ(length, 4);
}

// Decodes `length` bytes of `encoded` into a canary-filled buffer of length + 1 + spare bytes.
struct Decoded {
    Decoded(const std::string &encoded, int length)
        : output(std::string(), static_cast<std::size_t>(length > 0 ? length : 0) + 8) {
        output.bytes[0] = 'Z';
        result = HttpUnConvertName(encoded.c_str(), output.data(), length);
    }
    std::string Text() const { return std::string(output.bytes.data(), result > 0 ? result : 0); }
    Buffer output;
    int result = 0;
};

Decoded Decode(const std::string &encoded) {
    return Decoded(encoded, static_cast<int>(encoded.size()));
}

TEST(HttpUnConvertName, DecodesPlusAndPercentEscapes) {
    EXPECT_EQ(Decode("a+b").Text(), "a b");
    EXPECT_EQ(Decode("%2A").Text(), "*");
    EXPECT_EQ(Decode("%2a%7E").Text(), "*~");
    EXPECT_EQ(Decode("%2B+%25").Text(), "+ %");
    EXPECT_EQ(Decode("%%41").Text(), "%A");
    EXPECT_EQ(Decode("/vol/a%20b.txt").Text(), "/vol/a b.txt");

    Decoded nul = Decode("a%00b");
    EXPECT_EQ(nul.result, 3);
    EXPECT_EQ(nul.Text(), "a\0b"s);
}

TEST(HttpUnConvertName, CopiesAPercentWithoutTwoHexDigits) {
    EXPECT_EQ(Decode("%").Text(), "%");
    EXPECT_EQ(Decode("50%").Text(), "50%");
    EXPECT_EQ(Decode("x%4").Text(), "x%4");
    EXPECT_EQ(Decode("%G1").Text(), "%G1");
    EXPECT_EQ(Decode("%1G").Text(), "%1G");
    EXPECT_EQ(Decode("% 41").Text(), "% 41");
}

TEST(HttpUnConvertName, TerminatesAndReturnsTheDecodedLength) {
    Decoded decoded = Decode("a%41+");
    EXPECT_EQ(decoded.result, 3);
    EXPECT_EQ(decoded.output.Prefix(4), "aA \0"s);
    EXPECT_TRUE(decoded.output.TailIntact(4));
}

TEST(HttpUnConvertName, DecodesOnlyTheGivenLength) {
    Decoded head("abc%41def", 3);
    EXPECT_EQ(head.result, 3);
    EXPECT_EQ(head.output.Prefix(4), "abc\0"s);
    EXPECT_TRUE(head.output.TailIntact(4));

    // The escape's digits lie past the given length: the bytes are copied, not decoded.
    Decoded cut("%41", 2);
    EXPECT_EQ(cut.Text(), "%4");
    Decoded cutAfterOne("%41", 1);
    EXPECT_EQ(cutAfterOne.Text(), "%");
    EXPECT_TRUE(cutAfterOne.output.TailIntact(2));
}

TEST(HttpUnConvertName, StopsAtATerminatorInsideTheLength) {
    const std::string encoded = "ab\0cd"s;
    Decoded decoded(encoded, 5);
    EXPECT_EQ(decoded.result, 2);
    EXPECT_EQ(decoded.output.Prefix(3), "ab\0"s);
}

TEST(HttpUnConvertName, GivesAnEmptyOutputForNoInput) {
    Decoded zero("abc", 0);
    EXPECT_EQ(zero.result, 0);
    EXPECT_EQ(zero.output.bytes[0], '\0');
    EXPECT_EQ(Decoded("abc", -3).output.bytes[0], '\0');

    char output[4] = {'Z', 'Z', 'Z', 'Z'};
    EXPECT_EQ(HttpUnConvertName(nullptr, output, 3), 0);
    EXPECT_EQ(output[0], '\0');
    EXPECT_EQ(HttpUnConvertName("abc", nullptr, 3), 0);
}

}  // namespace
