// html.h: making untrusted data safe to write into a page.
//
// Data shown on a page (volume names, paths, user names, addresses, posted filters) comes from
// CIFS clients and the browser. It is written through HtmlText where it lands in element text or
// an attribute value, and through UrlPathText where it lands in a URL path. Text that holds no
// special character is passed through untouched and without a copy, so pages of plain data are
// exactly what they were without escaping.
#ifndef KEL2CIFS_PLUGIN_HTML_H
#define KEL2CIFS_PLUGIN_HTML_H

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

#include "plugin/text.h"

namespace kel2cifs {

// The text with & < > " ' replaced by &amp; &lt; &gt; &quot; &#39;.
std::string EscapeHtml(std::string_view text);
// The length of the well-formed UTF-8 sequence that begins at text[at] (1 for an ASCII byte), or
// 0 when none begins there: a stray continuation byte, an overlong form, a surrogate, a value
// past U+10FFFF or a sequence cut short. REQUIRES: at < text.size().
std::size_t Utf8SequenceLength(std::string_view text, std::size_t at);
// The text escaped as by EscapeHtml, with every byte that is not part of well-formed UTF-8
// replaced by U+FFFD (one each).
std::string EscapeHtmlShowingBadBytes(std::string_view text);
// The text with every byte but unreserved characters (A-Z a-z 0-9 - . _ ~) and the path
// characters / : @ ! $ ( ) * + , ; = percent-encoded as %XX (upper-case hex).
std::string PercentEncodePath(std::string_view text);

// A text ready to be written into element text or an attribute value, as a NUL-terminated
// c_str() for a "%s" conversion. Refers to the original when nothing needs escaping.
class HtmlText {
  public:
    explicit HtmlText(const char *text);
    explicit HtmlText(std::string_view text);
    HtmlText(const HtmlText &) = delete;
    HtmlText &operator=(const HtmlText &) = delete;

    const char *c_str() const { return plain_ != nullptr ? plain_ : escaped_.c_str(); }

  private:
    const char *plain_ = nullptr;
    std::string escaped_;
};

// A file name ready to be written into element text: as HtmlText, and every byte that is not
// part of well-formed UTF-8 shown as U+FFFD, so that the page is UTF-8 whatever the name holds.
// For display only: a name to be acted on is carried in its own encoding (see
// ofm/close_files.h). Refers to the original when nothing needs changing.
class NameText {
  public:
    explicit NameText(const char *text);
    NameText(const NameText &) = delete;
    NameText &operator=(const NameText &) = delete;

    const char *c_str() const { return plain_ != nullptr ? plain_ : escaped_.c_str(); }

  private:
    const char *plain_ = nullptr;
    std::string escaped_;
};

// A text ready to be written into a URL path ("%s" in an href or action), percent-encoded where
// needed; refers to the original when nothing needs encoding.
class UrlPathText {
  public:
    explicit UrlPathText(const char *text);
    explicit UrlPathText(std::string_view text);
    UrlPathText(const UrlPathText &) = delete;
    UrlPathText &operator=(const UrlPathText &) = delete;

    const char *c_str() const { return plain_ != nullptr ? plain_ : encoded_.c_str(); }

  private:
    const char *plain_ = nullptr;
    std::string encoded_;
};

}  // namespace kel2cifs

#endif  // KEL2CIFS_PLUGIN_HTML_H
