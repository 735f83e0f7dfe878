// request.cpp: Request.
#include "console/request.h"

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
            return "OK";
        case 204:
            return "No Content";
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 303:
            return "See Other";
        case 304:
            return "Not Modified";
        case 307:
            return "Temporary Redirect";
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 408:
            return "Request Timeout";
        case 413:
            return "Content Too Large";
        case 414:
            return "URI Too Long";
        case 421:
            return "Misdirected Request";
        case 429:
            return "Too Many Requests";
        case 500:
            return "Internal Server Error";
        case 501:
            return "Not Implemented";
        case 503:
            return "Service Unavailable";
        default:
            return "Unknown";
    }
}

bool IsSendableStatus(int status) {
    return status >= 200 && status <= 599;
}

}  // namespace kel::console
