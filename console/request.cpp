// request.cpp: Request.
#include "console/request.h"

#include "console/language.h"

#include <cstring>

namespace kel::console {

Request::Request() {
    SetPath("/");
    SetBody({});
}

Request::~Request() {
    magic_ = 0;
}

Request *Request::FromHandle(void *handle) {
    auto *request = static_cast<Request *>(handle);
    if (request == nullptr || request->magic_ != kMagic) {
        return nullptr;
    }
    return request;
}

namespace {
thread_local Request *g_serving = nullptr;
}  // namespace

Request *Request::Current() {
    return g_serving;
}

ServingScope::ServingScope(Request &request) : previous_(g_serving) {
    g_serving = &request;
}

ServingScope::~ServingScope() {
    g_serving = previous_;
}

void Request::SetPath(std::string_view decodedPath) {
    path.assign(decodedPath.begin(), decodedPath.end());
    path.push_back('\0');
}

void Request::SetBody(std::string_view raw) {
    body.assign(raw.begin(), raw.end());
    body.push_back('\0');
    bodyLength = raw.size();
}

void Request::Complete(int newStatus, std::string_view type, std::string_view text) {
    content.Clear();
    headers.clear();
    status = newStatus;
    contentType = type;
    content.AppendBytes(text);
    state = ResponseState::kComplete;
}

void Request::AddHeader(std::string_view name, std::string_view value) {
    headers.push_back({std::string(name), std::string(value)});
}

const char *StatusReason(int status) {
    switch (status) {
        case 200:
            return TranslateLater("OK");
        case 204:
            return TranslateLater("No Content");
        case 301:
            return TranslateLater("Moved Permanently");
        case 302:
            return TranslateLater("Found");
        case 303:
            return TranslateLater("See Other");
        case 304:
            return TranslateLater("Not Modified");
        case 307:
            return TranslateLater("Temporary Redirect");
        case 400:
            return TranslateLater("Bad Request");
        case 401:
            return TranslateLater("Unauthorized");
        case 403:
            return TranslateLater("Forbidden");
        case 404:
            return TranslateLater("Not Found");
        case 405:
            return TranslateLater("Method Not Allowed");
        case 408:
            return TranslateLater("Request Timeout");
        case 413:
            return TranslateLater("Content Too Large");
        case 414:
            return TranslateLater("URI Too Long");
        case 421:
            return TranslateLater("Misdirected Request");
        case 429:
            return TranslateLater("Too Many Requests");
        case 500:
            return TranslateLater("Internal Server Error");
        case 501:
            return TranslateLater("Not Implemented");
        case 503:
            return TranslateLater("Service Unavailable");
        default:
            return TranslateLater("Unknown");
    }
}

bool IsSendableStatus(int status) {
    return status >= 200 && status <= 599;
}

}  // namespace kel::console
