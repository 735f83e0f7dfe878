// language.h: the language of each request's pages.
//
// The console offers English (the texts as written), German and French. Each request's language
// is taken from its Accept-Language header and set as the LC_MESSAGES and LC_TIME categories of
// the request thread's own locale (uselocale) while the console and the plug-in write the page,
// so that gettext answers every text in it, the plug-in's domain and the console's own
// ("kelconsole") alike, and dates name their days and months in it; another request on another
// thread keeps its own language. Languages whose locale data
// is missing on the machine (glibc's newlocale needs the compiled de_DE.UTF-8 and fr_FR.UTF-8,
// which Debian's locales-all package holds) are not offered: their requests get English.
#ifndef KEL_CONSOLE_LANGUAGE_H
#define KEL_CONSOLE_LANGUAGE_H

#include <locale.h>

#include <string>
#include <string_view>

namespace kel::console {

// The gettext domain of the console's own texts and where its catalogues lie
// (<dir>/<lang>/LC_MESSAGES/kelconsole.mo), below $KEL2CIFS_ROOT when that is set.
inline constexpr char kConsoleTextDomain[] = "kelconsole";
inline constexpr char kConsoleLocaleDirectory[] = "/opt/zantio/kelconsole/locale";

// The language a request's pages are written in: its tag as the page's lang attribute shows it.
inline constexpr char kEnglish[] = "en";

// Longest Accept-Language header read, and most language ranges looked at in it; the rest of a
// longer header is ignored.
inline constexpr std::size_t kMaxAcceptLanguageLength = 1024;
inline constexpr int kMaxLanguageRanges = 32;

// The language of the console's offer that the Accept-Language value prefers: ranges are taken
// by their quality (q=0 excludes one; equal qualities keep the header's order), a range with a
// region ("de-CH") or other subtags falls back to its primary language, "*" stands for the first
// language offered that the header does not exclude. Malformed ranges and parameters are
// skipped. English when nothing matches. `offered` tells whether a tag ("de", "fr") may be
// chosen; null offers every language of the console.
const char *NegotiateLanguage(std::string_view acceptLanguage,
                              bool (*offered)(std::string_view tag) = nullptr);

// True when the console can write pages in `tag`: English always, another language when its
// locale data is on this machine. The first call looks for the locales and says on standard
// error which are missing.
bool LanguageAvailable(std::string_view tag);

// Process start: the locale of the environment (or C.UTF-8 when it names none that exists),
// numbers written the C way whatever it says, and LANGUAGE removed, as it would override the
// language chosen per request. Call before any thread starts.
void SetUpProcessLocale();

// Sets the calling thread's message language to `tag` (a tag NegotiateLanguage returned) for
// its lifetime, and restores the thread's previous locale when it ends.
class ScopedLanguage {
  public:
    explicit ScopedLanguage(std::string_view tag);
    ~ScopedLanguage();
    ScopedLanguage(const ScopedLanguage &) = delete;
    ScopedLanguage &operator=(const ScopedLanguage &) = delete;

  private:
    locale_t previous_ = nullptr;
    bool set_ = false;
};

// A text of the console's own pages in the calling thread's language. The console's sources
// mark each such text with Translate("...") (xgettext keyword Translate), or with
// TranslateLater("...") where the text is only stored and translated when used, and texts with a
// count with TranslatePlural.
const char *Translate(const char *text) __attribute__((format_arg(1)));
// The form of a text with a count that `count` takes in the calling thread's language (keyword
// TranslatePlural:1,2).
const char *TranslatePlural(const char *singular, const char *plural, unsigned long count)
    __attribute__((format_arg(1))) __attribute__((format_arg(2)));
constexpr const char *TranslateLater(const char *text) {
    return text;
}

}  // namespace kel::console

#endif  // KEL_CONSOLE_LANGUAGE_H
