// text_match.h: compares a whole page (or any long text) and reports the first difference.
//
//   EXPECT_THAT(request.body, fake::TextEq(expected));
//   EXPECT_EQ(fake::FirstDifference(request.body, expected), "");
//
// The message gives the byte offset, line and column of the first difference, and the text
// around it on both sides with C escapes, so that a one-byte change in a long page is readable.
#ifndef KEL2CIFS_TESTS_SUPPORT_TEXT_MATCH_H
#define KEL2CIFS_TESTS_SUPPORT_TEXT_MATCH_H

#include <cstdio>
#include <string>
#include <string_view>

#include <gmock/gmock.h>

namespace fake {

// Bytes of context shown before and after the first difference.
inline constexpr std::size_t kDifferenceContext = 40;

inline std::string EscapedExcerpt(std::string_view text, std::size_t from, std::size_t to) {
    std::string out = from > 0 ? "..." : "";
    out += '"';
    for (std::size_t i = from; i < to && i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(c));
            out += hex;
        } else {
            out += c;
        }
    }
    out += '"';
    if (to < text.size()) {
        out += "...";
    }
    return out;
}

// Empty when the texts are equal; otherwise where and how they first differ.
inline std::string FirstDifference(std::string_view actual, std::string_view expected) {
    if (actual == expected) {
        return "";
    }
    std::size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) {
        ++at;
    }
    std::size_t line = 1;
    std::size_t column = 1;
    for (std::size_t i = 0; i < at; ++i) {
        if (actual[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    const std::size_t from = at > kDifferenceContext ? at - kDifferenceContext : 0;
    const std::size_t to = at + kDifferenceContext;
    std::string message = "first difference at byte " + std::to_string(at) + " (line " +
                          std::to_string(line) + ", column " + std::to_string(column) + ")";
    if (at == actual.size()) {
        message += ": the text ends where more is expected";
    } else if (at == expected.size()) {
        message += ": the text goes on where it should end";
    }
    message += "\n  expected: " + EscapedExcerpt(expected, from, to);
    message += "\n  actual:   " + EscapedExcerpt(actual, from, to);
    message += "\n  lengths: expected " + std::to_string(expected.size()) + ", actual " +
               std::to_string(actual.size());
    return message;
}

MATCHER_P(TextEq, expected, "is the expected text") {
    const std::string difference = FirstDifference(arg, expected);
    if (difference.empty()) {
        return true;
    }
    *result_listener << difference;
    return false;
}

}  // namespace fake

#endif  // KEL2CIFS_TESTS_SUPPORT_TEXT_MATCH_H
