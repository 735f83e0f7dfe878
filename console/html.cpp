// html.cpp: escaping, the page frame and the console's own pages.
#include "console/html.h"

#include <libintl.h>

#include <cstdio>

#include "console/language.h"
#include "console/registry.h"

namespace kel::console {
namespace {

std::string Text(const char *text) {
    return text != nullptr ? std::string(text) : std::string();
}

// A plug-in's display name or group title in the request's language, from its text domain.
std::string InDomain(const std::string &domain, const std::string &text) {
    if (domain.empty() || text.empty()) {
        return text;
    }
    return dgettext(domain.c_str(), text.c_str());
}

std::string ProductName(const Request &request) {
    return request.frame.productName.empty() ? std::string(Translate("Console"))
                                             : request.frame.productName;
}

void AppendHead(std::string &out, const Request &request, std::string_view title) {
    const std::string product = ProductName(request);
    out += "<!DOCTYPE html>\n<html lang=\"";
    out += EscapeHtml(request.frame.language);
    out +=
        "\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>";
    if (!title.empty()) {
        out += EscapeHtml(title);
        out += " \xC2\xB7 ";  // a middle dot
    }
    out += EscapeHtml(product);
    out += "</title>\n<link rel=\"icon\" type=\"image/png\" href=\"";
    out += kIconUrl;
    out += "\">\n<link rel=\"stylesheet\" href=\"";
    out += kStylesheetUrl;
    out += "\">\n";
}

void AppendBar(std::string &out, const Request &request) {
    out += "<header class=\"kc-bar\">\n<a class=\"kc-product\" href=\"/\"><img src=\"";
    out += kIconUrl;
    out += "\" alt=\"\" width=\"20\" height=\"20\">";
    out += EscapeHtml(ProductName(request));
    out += "</a>\n";
    if (!request.frame.account.empty()) {
        out += "<div class=\"kc-account\"><span class=\"kc-user\" title=\"";
        out += EscapeHtml(Translate("Logged in"));
        out += "\">";
        out += EscapeHtml(request.frame.account);
        out += "</span><form method=\"post\" action=\"";
        out += kLogoutUrl;
        out += "\"><button type=\"submit\" class=\"kc-logout\">";
        out += EscapeHtml(Translate("Log out"));
        out += "</button></form></div>\n";
    }
    out += "</header>\n";
}

void AppendNavigation(std::string &out, const Request &request) {
    out += "<nav class=\"kc-nav\" aria-label=\"";
    out += EscapeHtml(Translate("Console"));
    out += "\">\n<a class=\"kc-home\" href=\"/\"";
    if (request.frame.currentKeyword.empty()) {
        out += " aria-current=\"page\"";
    }
    out += ">";
    out += EscapeHtml(Translate("Home"));
    out += "</a>\n";
    if (request.frame.registry != nullptr) {
        for (const NavigationGroup &group : request.frame.registry->Navigation()) {
            out += "<section>\n";
            if (!group.title.empty()) {
                out += "<h2>" + EscapeHtml(InDomain(group.textDomain, group.title)) + "</h2>\n";
            }
            out += "<ul>\n";
            for (const ServiceEntry &page : group.pages) {
                out += "<li><a href=\"/" + EscapeHtml(page.keyword) + "\"";
                if (page.keyword == request.frame.currentKeyword) {
                    out += " aria-current=\"page\"";
                }
                // Appended piece by piece: GCC 12 at -O3 misreads ">" + std::string&& as an
                // overlapping copy (-Wrestrict).
                out += ">";
                out += EscapeHtml(InDomain(page.textDomain, page.displayName));
                out += "</a></li>\n";
            }
            out += "</ul>\n</section>\n";
        }
    }
    if (request.frame.auditPage) {
        out += "<section>\n<h2>";
        out += EscapeHtml(Translate("Console"));
        out += "</h2>\n<ul>\n<li><a href=\"";
        out += kAuditPageUrl;
        out += "\"";
        if (request.frame.currentKeyword == "audit") {
            out += " aria-current=\"page\"";
        }
        out += ">";
        out += EscapeHtml(Translate("Audit trail"));
        out += "</a></li>\n</ul>\n</section>\n";
    }
    out += "</nav>\n";
}

void AppendTitle(std::string &out, std::string_view heading, std::string_view helpUrl) {
    out += "<div class=\"kc-title\">\n<h1>" + EscapeHtml(heading) + "</h1>\n";
    if (!helpUrl.empty() && IsLinkableUrl(helpUrl)) {
        out += "<a class=\"kc-help\" href=\"" + EscapeHtml(helpUrl) + "\">";
        out += EscapeHtml(Translate("Help"));
        out += "</a>\n";
    }
    out += "</div>\n";
}

// A whole framed page around `inner` (already HTML).
void CompleteFramed(Request &request, int status, std::string_view title, std::string_view inner) {
    std::string out;
    AppendHead(out, request, title);
    out += "</head>\n<body>\n";
    AppendBar(out, request);
    AppendNavigation(out, request);
    AppendTitle(out, title, {});
    out += inner;
    out += "</body>\n</html>\n";
    request.Complete(status, kHtmlContentType, out);
}

}  // namespace

std::string EscapeHtml(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

bool IsLinkableUrl(std::string_view url) {
    for (char c : url) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            return false;
        }
    }
    if (url.size() >= 1 && url[0] == '/') {
        return url.size() == 1 || (url[1] != '/' && url[1] != '\\');
    }
    return url.starts_with("https://") || url.starts_with("http://");
}

void WriteFrameHead(Request &request, const char *title) {
    std::string out;
    AppendHead(out, request, Text(title));
    request.content.AppendBytes(out);
}

void WriteFrameBody(Request &request, const char *heading, const char *sectionText,
                    const char *helpUrl) {
    std::string out = "</head>\n<body>\n";
    AppendBar(out, request);
    AppendNavigation(out, request);
    AppendTitle(out, Text(heading), Text(helpUrl));
    if (sectionText != nullptr && *sectionText != '\0') {
        out += "<p class=\"kc-section\">" + EscapeHtml(sectionText) + "</p>\n";
    }
    request.content.AppendBytes(out);
}

void WriteHomePage(Request &request) {
    std::string inner = "<p class=\"kc-section\">";
    inner += EscapeHtml(Translate("Choose a page to manage this server."));
    inner += "</p>\n";
    std::size_t pages = 0;
    if (request.frame.registry != nullptr) {
        for (const NavigationGroup &group : request.frame.registry->Navigation()) {
            inner += "<section class=\"kc-card\">\n<h2>" +
                     EscapeHtml(group.title.empty() ? Translate("Pages")
                                                    : InDomain(group.textDomain, group.title)) +
                     "</h2>\n<ul>\n";
            for (const ServiceEntry &page : group.pages) {
                inner += "<li><a href=\"/" + EscapeHtml(page.keyword) + "\">" +
                         EscapeHtml(InDomain(page.textDomain, page.displayName)) + "</a></li>\n";
                ++pages;
            }
            inner += "</ul>\n</section>\n";
        }
    }
    if (pages == 0) {
        inner += "<p class=\"kc-empty\">";
        inner += EscapeHtml(Translate("No plug-in has registered a page."));
        inner += "</p>\n";
    }
    if (request.frame.auditPage) {
        inner += "<section class=\"kc-card\">\n<h2>";
        inner += EscapeHtml(Translate("Console"));
        inner += "</h2>\n<ul>\n<li><a href=\"";
        inner += kAuditPageUrl;
        inner += "\">";
        inner += EscapeHtml(Translate("Audit trail"));
        inner += "</a></li>\n</ul>\n</section>\n";
    }
    CompleteFramed(request, 200, Translate("Home"), inner);
}

void WriteLoginPage(Request &request, int status, std::string_view message, std::string_view name,
                    std::string_view next) {
    std::string out;
    AppendHead(out, request, Translate("Log in"));
    out += "</head>\n<body class=\"kc-login-page\">\n<main class=\"kc-login\">\n<h1><img src=\"";
    out += kIconUrl;
    out += "\" alt=\"\" width=\"28\" height=\"28\">" + EscapeHtml(ProductName(request)) +
           "</h1>\n<p>" + EscapeHtml(Translate("Log in to manage this server.")) + "</p>\n";
    if (!message.empty()) {
        out += "<p class=\"kc-error\" role=\"alert\">" + EscapeHtml(message) + "</p>\n";
    }
    out += "<form method=\"post\" action=\"";
    out += kLoginUrl;
    out += "\">\n<label for=\"kc-name\">" + EscapeHtml(Translate("Name")) +
           "</label>\n<input id=\"kc-name\" name=\"name\" autocomplete=\"username\" required";
    out += name.empty() ? " autofocus" : "";
    out += " value=\"" + EscapeHtml(name) + "\">\n";
    out += "<label for=\"kc-password\">" + EscapeHtml(Translate("Password")) +
           "</label>\n<input id=\"kc-password\" name=\"password\" type=\"password\" "
           "autocomplete=\"current-password\" required";
    out += name.empty() ? "" : " autofocus";
    out += ">\n";
    if (!next.empty()) {
        out += "<input type=\"hidden\" name=\"next\" value=\"" + EscapeHtml(next) + "\">\n";
    }
    out += "<button type=\"submit\">" + EscapeHtml(Translate("Log in")) +
           "</button>\n</form>\n</main>\n</body>\n</html>\n";
    request.Complete(status, kHtmlContentType, out);
}

void WriteStatusPage(Request &request, int status, std::string_view message) {
    const std::string title = std::to_string(status) + " " + Translate(StatusReason(status));
    std::string inner = "<p class=\"kc-status\">" + EscapeHtml(message) + "</p>\n";
    if (!request.frame.account.empty()) {
        inner +=
            "<p><a href=\"/\">" + EscapeHtml(Translate("Back to the home page")) + "</a></p>\n";
        CompleteFramed(request, status, title, inner);
        return;
    }
    std::string out;
    AppendHead(out, request, title);
    out += "</head>\n<body class=\"kc-login-page\">\n<main class=\"kc-login\">\n<h1>";
    out += EscapeHtml(title);
    out += "</h1>\n" + inner + "<p><a href=\"/\">" + EscapeHtml(ProductName(request)) +
           "</a></p>\n</main>\n</body>\n</html>\n";
    request.Complete(status, kHtmlContentType, out);
}

std::string MinimalStatusBody(int status, std::string_view language) {
    const std::string reason = EscapeHtml(Translate(StatusReason(status)));
    const std::string line = std::to_string(status) + " " + reason;
    return "<!DOCTYPE html>\n<html lang=\"" + EscapeHtml(language) +
           "\"><head><meta charset=\"utf-8\"><title>" + line + "</title></head><body><h1>" + line +
           "</h1></body></html>\n";
}

}  // namespace kel::console
