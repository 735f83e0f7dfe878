// console_client.h: an administrator's browser of a running console, for the hardening checks.
//
// A Browser keeps one libcurl handle, so its requests reuse one kept-alive connection the way a
// browser's do, and carries the session cookie of its login. It is used by one thread at a time;
// every thread of a check has a Browser of its own. Targets are sent exactly as given (already
// percent-encoded, never normalised), redirects are not followed.
#ifndef KEL2CIFS_TESTS_HARDENING_CONSOLE_CLIENT_H
#define KEL2CIFS_TESTS_HARDENING_CONSOLE_CLIENT_H

#include <curl/curl.h>

#include <string>
#include <string_view>
#include <vector>

namespace hardening {

struct Response {
    long status = 0;  // 0: no answer (refused, reset, timed out)
    std::string body;
    std::string contentType;
    std::string location;
    std::string setCookie;  // the first Set-Cookie header, whole
    std::string error;      // libcurl's message when status is 0

    bool Has(std::string_view text) const { return body.find(text) != std::string::npos; }
};

class Browser {
  public:
    // base: "http://127.0.0.1:PORT", without a trailing "/".
    explicit Browser(std::string base);
    ~Browser();
    Browser(const Browser &) = delete;
    Browser &operator=(const Browser &) = delete;

    Response Get(std::string_view target);
    // A form post from the console's own page (its Origin header is the console).
    Response Post(std::string_view target, std::string_view body);
    // Any method with an optional body and extra "Name: value" header lines.
    Response Send(std::string_view method, std::string_view target, std::string_view body,
                  const std::vector<std::string> &headers);

    // Logs in; true when the console answered 303 with a session cookie, now carried.
    bool Login(std::string_view name, std::string_view password, Response *answer = nullptr);
    const std::string &cookie() const { return cookie_; }
    void set_cookie(std::string cookie) { cookie_ = std::move(cookie); }
    const std::string &base() const { return base_; }

  private:
    CURL *curl_;
    std::string base_;
    std::string cookie_;  // "name=value", or empty
};

// application/x-www-form-urlencoded: unreserved bytes stay, a blank is "+", the rest "%XX".
std::string FormEncode(std::string_view text);
// Percent-encodes every byte of a path but unreserved ones and "/".
std::string PathEncode(std::string_view text);
// Undoes the five entities the pages write for special characters ("&amp;", "&lt;", "&gt;",
// "&quot;", "&#39;"); anything else is kept as it is.
std::string HtmlUnescape(std::string_view text);
// Every text that stands between `open` and the next `close` after it, in page order.
std::vector<std::string> Between(std::string_view page, std::string_view open,
                                 std::string_view close);

// What the pages of the plug-in offer to act on.
std::vector<std::string> VolumesOf(std::string_view page);    // the volume selector's values
std::vector<std::string> OpenFilesOf(std::string_view page);  // checkbox paths, unescaped
// Connection numbers of the links to detail pages (".../ConnectionNumber/0000001A"), in page
// order, duplicates kept.
std::vector<unsigned> ConnectionsOf(std::string_view page);

}  // namespace hardening

#endif  // KEL2CIFS_TESTS_HARDENING_CONSOLE_CLIENT_H
