// text.h: the texts of the administration pages: escaping for HTML, URLs, JSON and CSV, form
// decoding, the file-name search (case-folded substring or glob), and number, size and time
// texts.
#ifndef KEL2CIFS_CIFSADMIN_TEXT_H
#define KEL2CIFS_CIFSADMIN_TEXT_H

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kel2cifs::admin {

// Element text or attribute value: & < > " ' escaped, NUL and bytes that are not UTF-8 shown as
// U+FFFD.
std::string Html(std::string_view text);
// One component of a URL query: everything but A-Z a-z 0-9 - . _ ~ as %XX.
std::string UrlComponent(std::string_view text);
// A JSON string literal with its quotes; bytes that are not UTF-8 become U+FFFD, and < > & are
// escaped too so that the text is safe wherever it lands.
std::string Json(std::string_view text);
// One CSV cell (RFC 4180): quoted when it holds a comma, quote, CR or LF; a cell that starts
// with = + - @, a tab or a CR gets a leading ' so that spreadsheets do not read a formula.
std::string CsvCell(std::string_view text);

// "name=value&..." form-decoded ('+' is a blank, %XX a byte; a malformed escape stays as it
// is). Fields without '=' have an empty value.
using Fields = std::vector<std::pair<std::string, std::string>>;
Fields ParseForm(std::string_view encoded);
// The first value of `name`, or `fallback`.
std::string FieldValue(const Fields &fields, std::string_view name, std::string_view fallback = {});
// Every value of `name`, in order.
std::vector<std::string> FieldValues(const Fields &fields, std::string_view name);
// The decimal value of `name` within [low, high], or `fallback` when missing or not a number.
long FieldNumber(const Fields &fields, std::string_view name, long fallback, long low, long high);

// The code points of UTF-8 text with their case folded (the letters of ASCII, Latin-1, Latin
// Extended-A and Extended Additional, Greek, Cyrillic, Armenian and full-width Latin; the same
// in every locale); a byte that is not UTF-8 stays one unit
// of its own (0xDC80 + byte) so that it matches only itself.
std::u32string Fold(std::string_view text);

// The file-name search of the open-file page. A pattern with * ? or [ is a glob (* any run,
// ? one character, [abc] [a-z] [!a] one of a set), matched against the whole path and against
// its last component; any other pattern is a substring of the path. Both ignore case. The empty
// pattern matches everything.
class NameSearch {
  public:
    explicit NameSearch(std::string_view pattern);
    bool Matches(std::string_view path) const;
    bool IsGlob() const { return glob_; }

  private:
    std::u32string pattern_;
    bool glob_ = false;
};
// Glob matching of folded texts (exposed for the tests).
bool GlobMatch(std::u32string_view pattern, std::u32string_view text);
// Whether `needle` (folded) occurs in `text` ignoring case.
bool ContainsFolded(std::u32string_view needle, std::string_view text);

// A selection key "connection:path" with '%', control bytes, blanks and bytes >= 0x80 of the
// path as %XX, so that it travels in forms and URLs unchanged; ParseRef reads it back (false for
// a malformed one).
std::string MakeRef(unsigned connection, std::string_view path);
bool ParseRef(std::string_view ref, unsigned *connection, std::string *path);

// 2026-12-09T05:06:07Z; "" for 0.
std::string IsoTime(std::uint64_t seconds);
// 2026-12-09 05:06:07 UTC; "" for 0.
std::string PageTime(std::uint64_t seconds);
// 05:06:07 (UTC).
std::string ClockTime(std::time_t seconds);
// 123 B, 1.5 KiB, 20.0 MiB, 3.2 GiB, 1.0 TiB; the decimal mark is `decimalFormat` ("%s.%s %s"
// or a translation of it).
std::string HumanBytes(std::uint64_t bytes, const char *decimalFormat);
// 45 s, 12 min 05 s, 3 h 04 min, 2 d 03 h.
std::string HumanDuration(std::uint64_t seconds);

}  // namespace kel2cifs::admin

#endif  // KEL2CIFS_CIFSADMIN_TEXT_H
