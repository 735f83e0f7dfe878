#include "differential/texts.h"

#include <cctype>

namespace differential {

const std::vector<std::string> &HostileTexts() {
    static const std::vector<std::string> texts = {
        "",
        " ",
        "<script>alert(1)</script>",
        "\"'><img src=x onerror=alert(1)>",
        "</textarea></SCRIPT><!--",
        "javascript:alert('x')",
        "a&b",
        "&amp;&lt;&#39;",
        "%s%n%x%d%%",
        "%25%2F%3C%00",
        "100%",
        "a+b=c&d=e",
        "back\\slash\\",
        "tab\there",
        "line\nfeed",
        "cr\rlf\r\n",
        "\x01\x02\x1b[0m\x1f\x7f",
        "\u00dcn\u00efc\u00f8d\u00e9",
        "\u65e5\u672c\u8a9e",
        "\xff\xfe\xc3",  // no UTF-8
        "\U0001f600.doc",
        "trailing ",
        ".",
        "..",
        "a.b.c.doc",
        "noextension",
        "dot.",
        ".doc",
        "<filename>x</filename>",
        "</filename>",
        "<closeallfiles>7</closeallfiles>",
        "<closeconn>1</closeconn>",
        "help",
        "_info_",
        "CIFSCloseFiles",
        "UserName",
        "/",
        "//x//",
        "?q=1#frag",
        "'single'",
        "`tick`${x}",
        "FILTER=*.doc",
    };
    return texts;
}

std::string Repeat(const std::string &pattern, std::size_t length) {
    if (pattern.empty()) {
        return std::string(length, 'x');
    }
    std::string text;
    text.reserve(length);
    while (text.size() < length) {
        text += pattern;
    }
    text.resize(length);
    return text;
}

std::string FieldText(Rng &rng, const std::vector<std::string> &usual,
                      std::initializer_list<std::size_t> edges) {
    const uint64_t roll = rng.Below(100);
    if (roll < 70) {
        return rng.Pick(usual);
    }
    if (roll < 82) {
        return rng.Pick(HostileTexts());
    }
    if (roll < 90) {
        std::string text = rng.Pick(usual);
        text.insert(rng.Index(text.size() + 1), rng.Pick(HostileTexts()));
        return text;
    }
    const std::size_t edge = edges.begin()[rng.Index(edges.size())];
    const std::size_t length = edge - 1 + rng.Index(3);
    return Repeat(rng.Pick(usual) + rng.Pick<std::string>({"", "_", "<&>", "\u00e9"}), length);
}

std::string MangleCase(Rng &rng, const std::string &text) {
    std::string out = text;
    switch (rng.Below(5)) {
        case 0:
            for (char &c : out) {
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            }
            break;
        case 1:
            for (char &c : out) {
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            }
            break;
        case 2:
            for (char &c : out) {
                if (rng.Percent(50)) {
                    c = static_cast<char>(std::isupper(static_cast<unsigned char>(c))
                                              ? std::tolower(static_cast<unsigned char>(c))
                                              : std::toupper(static_cast<unsigned char>(c)));
                }
            }
            break;
        default:
            break;
    }
    return out;
}

std::string RandomBytes(Rng &rng, std::size_t length) {
    std::string text(length, ' ');
    for (char &c : text) {
        c = static_cast<char>(1 + rng.Below(255));
    }
    return text;
}

}  // namespace differential
