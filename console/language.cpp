// language.cpp: Accept-Language negotiation, the per-thread message locale and the console's
// own catalogue.
#include "console/language.h"

#include <libintl.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "kel2cifs/locations.h"

namespace kel::console {
namespace {

// The languages offered besides English, in the order "*" takes them, each with the locales
// tried for it: the first that exists on the machine is used. gettext looks the catalogue up by
// the locale's name and then by its language alone, so any of them finds "<lang>/LC_MESSAGES".
struct Offered {
    const char *tag;
    std::array<const char *, 4> locales;
};
constexpr Offered kOffered[] = {
    {"de", {"de_DE.UTF-8", "de_AT.UTF-8", "de_CH.UTF-8", "de_DE.utf8"}},
    {"fr", {"fr_FR.UTF-8", "fr_BE.UTF-8", "fr_CH.UTF-8", "fr_FR.utf8"}},
};
constexpr std::size_t kOfferedCount = sizeof(kOffered) / sizeof(kOffered[0]);

// One locale object per language, made once and kept for the process's life: uselocale needs
// it for as long as any thread may use it. English is the C locale: gettext answers the texts
// as written in it and ignores LANGUAGE there.
struct Locales {
    locale_t english = nullptr;
    std::array<locale_t, kOfferedCount> offered{};
};

const Locales &MessageLocales() {
    static const Locales locales = [] {
        Locales made;
        made.english = newlocale(LC_MESSAGES_MASK, "C", static_cast<locale_t>(nullptr));
        for (std::size_t i = 0; i < kOfferedCount; ++i) {
            for (const char *name : kOffered[i].locales) {
                // Dates too ("%c" of the login times); numbers stay those of the C locale.
                made.offered[i] = newlocale(LC_MESSAGES_MASK | LC_TIME_MASK, name,
                                            static_cast<locale_t>(nullptr));
                if (made.offered[i] != nullptr) {
                    break;
                }
            }
            if (made.offered[i] == nullptr) {
                std::fprintf(stderr,
                             "kelconsole: no locale data for %s (%s); its pages are English "
                             "(install the package locales-all)\n",
                             kOffered[i].tag, kOffered[i].locales[0]);
            }
        }
        return made;
    }();
    return locales;
}

locale_t LocaleOf(std::string_view tag) {
    const Locales &locales = MessageLocales();
    for (std::size_t i = 0; i < kOfferedCount; ++i) {
        if (tag == kOffered[i].tag) {
            return locales.offered[i];
        }
    }
    return locales.english;
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t';
}
bool IsAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsSpace(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsSpace(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// A language range: "*" or 1-8 letters, then subtags of 1-8 letters or digits after '-'.
bool IsLanguageRange(std::string_view range) {
    if (range == "*") {
        return true;
    }
    std::size_t subtagLength = 0;
    bool first = true;
    for (char c : range) {
        if (c == '-') {
            if (subtagLength == 0) {
                return false;
            }
            subtagLength = 0;
            first = false;
            continue;
        }
        if (!(IsAlpha(c) || (!first && IsDigit(c))) || ++subtagLength > 8) {
            return false;
        }
    }
    return subtagLength > 0;
}

// A quality value in thousandths: "0", "1", or either with up to three decimals (1 only with
// zeros). -1 when malformed.
int ParseQuality(std::string_view text) {
    if (text.empty() || (text[0] != '0' && text[0] != '1')) {
        return -1;
    }
    int value = (text[0] - '0') * 1000;
    if (text.size() == 1) {
        return value;
    }
    if (text[1] != '.' || text.size() > 5) {
        return -1;
    }
    int scale = 100;
    for (char c : text.substr(2)) {
        if (!IsDigit(c)) {
            return -1;
        }
        value += (c - '0') * scale;
        scale /= 10;
    }
    return value <= 1000 ? value : -1;
}

struct Range {
    std::string tag;  // lower case
    std::string primary;
    int quality = 1000;
};

// One element of the header; false when it is to be skipped.
bool ParseRange(std::string_view element, Range *range) {
    element = Trim(element);
    const std::size_t semicolon = element.find(';');
    const std::string_view tag = Trim(element.substr(0, semicolon));
    if (!IsLanguageRange(tag)) {
        return false;
    }
    range->tag.clear();
    for (char c : tag) {
        range->tag += Lower(c);
    }
    range->primary = range->tag.substr(0, range->tag.find('-'));
    range->quality = 1000;
    if (semicolon == std::string_view::npos) {
        return true;
    }
    // Parameters: only q counts; a malformed one drops the range.
    std::string_view parameters = element.substr(semicolon + 1);
    while (true) {
        const std::size_t next = parameters.find(';');
        const std::string_view parameter = Trim(parameters.substr(0, next));
        const std::size_t equals = parameter.find('=');
        if (equals == std::string_view::npos) {
            return false;
        }
        const std::string_view name = Trim(parameter.substr(0, equals));
        if (name == "q" || name == "Q") {
            range->quality = ParseQuality(Trim(parameter.substr(equals + 1)));
            if (range->quality < 0) {
                return false;
            }
        }
        if (next == std::string_view::npos) {
            return true;
        }
        parameters.remove_prefix(next + 1);
    }
}

bool OfferAll(std::string_view /*tag*/) {
    return true;
}

}  // namespace

const char *NegotiateLanguage(std::string_view acceptLanguage,
                              bool (*offered)(std::string_view tag)) {
    if (offered == nullptr) {
        offered = OfferAll;
    }
    acceptLanguage = acceptLanguage.substr(0, kMaxAcceptLanguageLength);
    std::vector<Range> ranges;
    int count = 0;
    while (count < kMaxLanguageRanges) {
        const std::size_t comma = acceptLanguage.find(',');
        Range range;
        if (ParseRange(acceptLanguage.substr(0, comma), &range)) {
            ranges.push_back(std::move(range));
        }
        ++count;
        if (comma == std::string_view::npos) {
            break;
        }
        acceptLanguage.remove_prefix(comma + 1);
    }
    std::stable_sort(ranges.begin(), ranges.end(),
                     [](const Range &a, const Range &b) { return a.quality > b.quality; });
    // Languages the header refuses by name.
    auto excluded = [&ranges](std::string_view tag) {
        return std::any_of(ranges.begin(), ranges.end(), [tag](const Range &range) {
            return range.quality == 0 && range.tag == tag;
        });
    };
    auto acceptable = [&](std::string_view tag) {
        if (excluded(tag)) {
            return false;
        }
        return tag == kEnglish || offered(tag);
    };
    for (const Range &range : ranges) {
        if (range.quality == 0) {
            break;
        }
        if (range.tag == "*") {
            if (acceptable(kEnglish)) {
                return kEnglish;
            }
            for (const Offered &language : kOffered) {
                if (acceptable(language.tag)) {
                    return language.tag;
                }
            }
            continue;
        }
        if (range.primary == kEnglish && !excluded(range.tag)) {
            return kEnglish;
        }
        for (const Offered &language : kOffered) {
            if (range.primary == language.tag && !excluded(range.tag) && acceptable(language.tag)) {
                return language.tag;
            }
        }
    }
    return kEnglish;
}

bool LanguageAvailable(std::string_view tag) {
    return tag == kEnglish || LocaleOf(tag) != nullptr;
}

void SetUpProcessLocale() {
    if (setlocale(LC_ALL, "") == nullptr) {
        setlocale(LC_ALL, "C.UTF-8");
    }
    setlocale(LC_NUMERIC, "C");
    unsetenv("LANGUAGE");
}

ScopedLanguage::ScopedLanguage(std::string_view tag) {
    const locale_t locale = LocaleOf(tag);
    if (locale != nullptr) {
        previous_ = uselocale(locale);
        set_ = previous_ != nullptr;
    }
}

ScopedLanguage::~ScopedLanguage() {
    if (set_) {
        uselocale(previous_);
    }
}

namespace {

bool BindConsoleDomain() {
    static const bool bound = [] {
        const char *root = std::getenv(kel2cifs_locations::kRootVariable);
        std::string directory = root != nullptr ? root : "";
        while (!directory.empty() && directory.back() == '/') {
            directory.pop_back();
        }
        directory += kConsoleLocaleDirectory;
        if (bindtextdomain(kConsoleTextDomain, directory.c_str()) == nullptr) {
            return false;
        }
        bind_textdomain_codeset(kConsoleTextDomain, "UTF-8");
        return true;
    }();
    return bound;
}

}  // namespace

const char *Translate(const char *text) {
    if (text == nullptr || text[0] == '\0') {
        return "";
    }
    return BindConsoleDomain() ? dgettext(kConsoleTextDomain, text) : text;
}

const char *TranslatePlural(const char *singular, const char *plural, unsigned long count) {
    if (BindConsoleDomain()) {
        return dngettext(kConsoleTextDomain, singular, plural, count);
    }
    return count == 1 ? singular : plural;
}

}  // namespace kel::console
