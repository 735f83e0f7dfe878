// console_client.cpp: Browser and the page readers.
#include "hardening/console_client.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace hardening {
namespace {

// Long enough for the slowest page of a sanitizer build under load.
constexpr long kRequestTimeoutSeconds = 60;

struct Collected {
    Response *response;
};

size_t CollectBody(char *data, size_t size, size_t count, void *target) {
    static_cast<Collected *>(target)->response->body.append(data, size * count);
    return size * count;
}

bool StartsWithName(std::string_view line, std::string_view name) {
    if (line.size() <= name.size() || line[name.size()] != ':') {
        return false;
    }
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(line[i])) !=
            std::tolower(static_cast<unsigned char>(name[i]))) {
            return false;
        }
    }
    return true;
}

std::string ValueOf(std::string_view line, std::string_view name) {
    line.remove_prefix(name.size() + 1);
    while (!line.empty() && line.front() == ' ') {
        line.remove_prefix(1);
    }
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) {
        line.remove_suffix(1);
    }
    return std::string(line);
}

size_t CollectHeader(char *data, size_t size, size_t count, void *target) {
    Response &response = *static_cast<Collected *>(target)->response;
    const std::string_view line(data, size * count);
    if (line.starts_with("HTTP/")) {  // a 100 Continue came first
        response.contentType.clear();
        response.location.clear();
        response.setCookie.clear();
    } else if (StartsWithName(line, "Content-Type")) {
        response.contentType = ValueOf(line, "Content-Type");
    } else if (StartsWithName(line, "Location")) {
        response.location = ValueOf(line, "Location");
    } else if (StartsWithName(line, "Set-Cookie") && response.setCookie.empty()) {
        response.setCookie = ValueOf(line, "Set-Cookie");
    }
    return size * count;
}

bool IsUnreserved(unsigned char c) {
    return std::isalnum(c) != 0 || c == '-' || c == '_' || c == '.' || c == '~';
}

void AppendEscape(std::string &out, unsigned char c) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    out += '%';
    out += kHex[c >> 4];
    out += kHex[c & 0xF];
}

}  // namespace

Browser::Browser(std::string base) : curl_(curl_easy_init()), base_(std::move(base)) {}

Browser::~Browser() {
    if (curl_ != nullptr) {
        curl_easy_cleanup(curl_);
    }
}

Response Browser::Send(std::string_view method, std::string_view target, std::string_view body,
                       const std::vector<std::string> &headers) {
    Response response;
    if (curl_ == nullptr) {
        response.error = "no libcurl handle";
        return response;
    }
    // Options of the previous request must not leak into this one.
    curl_easy_reset(curl_);
    Collected collected{&response};
    const std::string url = base_ + std::string(target);
    const std::string methodText(method);
    curl_slist *lines = nullptr;
    for (const std::string &header : headers) {
        lines = curl_slist_append(lines, header.c_str());
    }
    if (!cookie_.empty()) {
        lines = curl_slist_append(lines, ("Cookie: " + cookie_).c_str());
    }
    curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl_, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl_, CURLOPT_TIMEOUT, kRequestTimeoutSeconds);
    curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, &CollectBody);
    curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &collected);
    curl_easy_setopt(curl_, CURLOPT_HEADERFUNCTION, &CollectHeader);
    curl_easy_setopt(curl_, CURLOPT_HEADERDATA, &collected);
    if (methodText == "POST") {
        curl_easy_setopt(curl_, CURLOPT_POST, 1L);
        curl_easy_setopt(curl_, CURLOPT_POSTFIELDS, body.data());
        curl_easy_setopt(curl_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
        // No "Expect: 100-continue" round trip for a large body.
        lines = curl_slist_append(lines, "Expect:");
    } else if (methodText == "HEAD") {
        curl_easy_setopt(curl_, CURLOPT_NOBODY, 1L);
    } else if (methodText != "GET") {
        curl_easy_setopt(curl_, CURLOPT_CUSTOMREQUEST, methodText.c_str());
        if (!body.empty()) {
            curl_easy_setopt(curl_, CURLOPT_POSTFIELDS, body.data());
            curl_easy_setopt(curl_, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(body.size()));
        }
    }
    curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, lines);
    const CURLcode code = curl_easy_perform(curl_);
    if (code == CURLE_OK) {
        curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &response.status);
    } else {
        response.status = 0;
        response.error = curl_easy_strerror(code);
    }
    curl_slist_free_all(lines);
    return response;
}

Response Browser::Get(std::string_view target) {
    return Send("GET", target, {}, {});
}

Response Browser::Post(std::string_view target, std::string_view body) {
    return Send("POST", target, body,
                {"Content-Type: application/x-www-form-urlencoded", "Origin: " + base_});
}

bool Browser::Login(std::string_view name, std::string_view password, Response *answer) {
    cookie_.clear();
    Response response =
        Post("/login", "name=" + FormEncode(name) + "&password=" + FormEncode(password));
    const bool ok = response.status == 303 && !response.setCookie.empty();
    if (ok) {
        cookie_ = response.setCookie.substr(0, response.setCookie.find(';'));
    }
    if (answer != nullptr) {
        *answer = std::move(response);
    }
    return ok;
}

std::string FormEncode(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 3);
    for (char raw : text) {
        const auto c = static_cast<unsigned char>(raw);
        if (IsUnreserved(c)) {
            out += raw;
        } else if (c == ' ') {
            out += '+';
        } else {
            AppendEscape(out, c);
        }
    }
    return out;
}

std::string PathEncode(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 3);
    for (char raw : text) {
        const auto c = static_cast<unsigned char>(raw);
        if (IsUnreserved(c) || c == '/') {
            out += raw;
        } else {
            AppendEscape(out, c);
        }
    }
    return out;
}

std::string HtmlUnescape(std::string_view text) {
    static constexpr std::pair<std::string_view, char> kEntities[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&#39;", '\''}};
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        bool replaced = false;
        if (text[i] == '&') {
            for (const auto &[entity, c] : kEntities) {
                if (text.substr(i, entity.size()) == entity) {
                    out += c;
                    i += entity.size();
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced) {
            out += text[i++];
        }
    }
    return out;
}

std::vector<std::string> Between(std::string_view page, std::string_view open,
                                 std::string_view close) {
    std::vector<std::string> found;
    std::size_t at = 0;
    while ((at = page.find(open, at)) != std::string_view::npos) {
        const std::size_t start = at + open.size();
        const std::size_t end = page.find(close, start);
        if (end == std::string_view::npos) {
            break;
        }
        found.emplace_back(page.substr(start, end - start));
        at = end + close.size();
    }
    return found;
}

std::vector<std::string> VolumesOf(std::string_view page) {
    std::vector<std::string> volumes;
    for (const std::string &value : Between(page, "<option value=\"", "\"")) {
        volumes.push_back(HtmlUnescape(value));
    }
    return volumes;
}

std::vector<std::string> OpenFilesOf(std::string_view page) {
    std::vector<std::string> files;
    for (const std::string &value : Between(page, "VALUE=\"<filename>", "</filename>\"")) {
        files.push_back(HtmlUnescape(value));
    }
    return files;
}

std::vector<unsigned> ConnectionsOf(std::string_view page) {
    static constexpr std::string_view kMarker = "/cifscons/ConnectionNumber/";
    std::vector<unsigned> numbers;
    std::size_t at = 0;
    while ((at = page.find(kMarker, at)) != std::string_view::npos) {
        at += kMarker.size();
        unsigned number = 0;
        std::size_t digits = 0;
        while (at + digits < page.size() && digits < 8 &&
               std::isxdigit(static_cast<unsigned char>(page[at + digits])) != 0) {
            const char c = page[at + digits];
            number =
                number * 16 +
                static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(c)) != 0
                                          ? c - '0'
                                          : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
            ++digits;
        }
        if (digits == 8) {
            numbers.push_back(number);
        }
    }
    return numbers;
}

}  // namespace hardening
