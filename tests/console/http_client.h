// http_client.h: a small HTTP client (libcurl) for the console's tests.
//
// Every request is sent as given: the path is not normalised ("/a/../b" stays), redirects are not
// followed and nothing is stored between requests unless the test passes a cookie.
#ifndef KEL_TESTS_CONSOLE_HTTP_CLIENT_H
#define KEL_TESTS_CONSOLE_HTTP_CLIENT_H

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>
#include <vector>

namespace console_test {

struct HttpResponse {
    long status = 0;  // 0: no response (connection refused, reset or timed out)
    std::vector<std::string> headerLines;  // without their line ends
    std::string body;

    // The value of the first header called `name` (any case), or empty.
    std::string Header(std::string_view name) const {
        for (const std::string &line : headerLines) {
            const std::size_t colon = line.find(':');
            if (colon == std::string::npos || colon != name.size()) {
                continue;
            }
            if (std::equal(name.begin(), name.end(), line.begin(), [](char a, char b) {
                    return std::tolower(static_cast<unsigned char>(a)) ==
                           std::tolower(static_cast<unsigned char>(b));
                })) {
                std::string value = line.substr(colon + 1);
                value.erase(0, value.find_first_not_of(' '));
                return value;
            }
        }
        return {};
    }
};

struct HttpRequest {
    std::string method = "GET";
    std::string url;
    std::string body;                  // POST: sent as it is
    bool chunked = false;              // POST: send the body in chunks, without a length
    std::vector<std::string> headers;  // "Name: value"
    std::string cookie;                // "name=value", sent as the Cookie header
    std::string source;                // the local address to send from (any of 127.0.0.0/8)
    long timeoutSeconds = 20;
};

namespace detail {

inline size_t CollectBody(char *data, size_t size, size_t count, void *target) {
    static_cast<std::string *>(target)->append(data, size * count);
    return size * count;
}

inline size_t CollectHeader(char *data, size_t size, size_t count, void *target) {
    std::string line(data, size * count);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    auto *lines = static_cast<std::vector<std::string> *>(target);
    if (line.starts_with("HTTP/")) {
        lines->clear();  // a 100 Continue came first
    } else if (!line.empty()) {
        lines->push_back(line);
    }
    return size * count;
}

struct Upload {
    std::string_view rest;
};

inline size_t SendChunk(char *buffer, size_t size, size_t count, void *source) {
    auto *upload = static_cast<Upload *>(source);
    const size_t n = std::min(upload->rest.size(), std::min<size_t>(size * count, 16384));
    std::copy_n(upload->rest.data(), n, buffer);
    upload->rest.remove_prefix(n);
    return n;
}

}  // namespace detail

inline HttpResponse Send(const HttpRequest &request) {
    HttpResponse response;
    CURL *curl = curl_easy_init();
    if (curl == nullptr) {
        return response;
    }
    curl_slist *headers = nullptr;
    for (const std::string &header : request.headers) {
        headers = curl_slist_append(headers, header.c_str());
    }
    if (!request.cookie.empty()) {
        headers = curl_slist_append(headers, ("Cookie: " + request.cookie).c_str());
    }
    detail::Upload upload{request.body};
    curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(curl, CURLOPT_PATH_AS_IS, 1L);
    const std::string source = "host!" + request.source;
    if (!request.source.empty()) {
        curl_easy_setopt(curl, CURLOPT_INTERFACE, source.c_str());
    }
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, request.timeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &detail::CollectBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response.body);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &detail::CollectHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &response.headerLines);
    if (request.method == "POST") {
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        if (request.chunked) {
            headers = curl_slist_append(headers, "Transfer-Encoding: chunked");
            curl_easy_setopt(curl, CURLOPT_READFUNCTION, &detail::SendChunk);
            curl_easy_setopt(curl, CURLOPT_READDATA, &upload);
        } else {
            curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.data());
            curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(request.body.size()));
        }
    } else if (request.method == "HEAD") {
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    } else if (request.method != "GET") {
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    if (curl_easy_perform(curl) == CURLE_OK) {
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response.status);
    }
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return response;
}

inline HttpResponse Get(const std::string &url, const std::string &cookie = {}) {
    HttpRequest request;
    request.url = url;
    request.cookie = cookie;
    return Send(request);
}

// A form post from the page at `origin` (sent as the Origin header; empty: none).
inline HttpResponse Post(const std::string &url, const std::string &body, const std::string &cookie,
                         const std::string &origin, const std::string &source = {}) {
    HttpRequest request;
    request.source = source;
    request.method = "POST";
    request.url = url;
    request.body = body;
    request.cookie = cookie;
    request.headers.push_back("Content-Type: application/x-www-form-urlencoded");
    if (!origin.empty()) {
        request.headers.push_back("Origin: " + origin);
    }
    return Send(request);
}

}  // namespace console_test

#endif  // KEL_TESTS_CONSOLE_HTTP_CLIENT_H
