// html.h: the console's HTML: escaping, the page frame around every page, and the console's own
// pages (home, login, status pages).
//
// Every text that comes from a plug-in, an account or a request is escaped where it is written;
// the only markup in a page is the console's own and, after the frame, what the page writes.
#ifndef KEL_CONSOLE_HTML_H
#define KEL_CONSOLE_HTML_H

#include <string>
#include <string_view>

#include "console/request.h"

namespace kel::console {

// URLs of the console's own resources.
inline constexpr char kStylesheetUrl[] = "/console/console.css";
inline constexpr char kIconUrl[] = "/console/icon.png";
inline constexpr char kLoginUrl[] = "/login";
inline constexpr char kLogoutUrl[] = "/logout";
inline constexpr char kAuditPageUrl[] = "/audit";

// `text` with & < > " and ' replaced by character references.
std::string EscapeHtml(std::string_view text);

// True for a URL the frame may link to: a path on this console ("/..." but not "//...") or an
// absolute http or https URL, with no control characters.
bool IsLinkableUrl(std::string_view url);

// The page frame, in two halves around the page's script block. The head half writes the doctype
// and the document head up to the point where a script block belongs; the body half closes the
// head and writes the console's header (product, account, logout), its navigation, the page
// heading with its help link and the section text. The page's own body follows, and the page
// closes the document itself. Null texts are left out (a null heading repeats the title).
void WriteFrameHead(Request &request, const char *title);
void WriteFrameBody(Request &request, const char *heading, const char *sectionText,
                    const char *helpUrl);

// The home page: the registered groups and pages. Completes the request with 200.
void WriteHomePage(Request &request);

// The login form, completing the request with `status`. `message` (may be empty) is shown above
// the form; `name` is filled in; `next` is where a successful login leads.
void WriteLoginPage(Request &request, int status, std::string_view message, std::string_view name,
                    std::string_view next);

// A page for a status the console answers itself (404, 403, 413, ...), framed when the request
// has an account. Completes the request with `status`.
void WriteStatusPage(Request &request, int status, std::string_view message);

// The small body of HttpSendErrorResponse: the status and its reason, in `language`.
std::string MinimalStatusBody(int status, std::string_view language = "en");

}  // namespace kel::console

#endif  // KEL_CONSOLE_HTML_H
