// host_api.cpp: the host operations of kel/host.h (other than the three text functions of
// http_text.cpp) and its two globals, on the console's Request and Registry.
//
// Every operation that takes a request refuses a handle that is not a live Request. Responses
// move through the states of ResponseState; a call the state does not allow changes nothing and
// reports failure in that call's own convention.
#include <cstdarg>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "console/ascii.h"
#include "console/html.h"
#include "console/registry.h"
#include "console/request.h"
#include "kel/host.h"
#include "kel/host_ext.h"

using kel::console::EqualsIgnoringCase;
using kel::console::Registry;
using kel::console::Request;
using kel::console::ResponseState;

namespace {

// The one text HttpReturnString knows.

// Results of the calls that return 0 on success.
constexpr int kOk = 0;
constexpr int kRefused = 1;      // the response's state does not allow the call
constexpr int kBadArgument = 2;  // the handle or an argument is unusable

// The most targets one request's audit record takes.
constexpr std::size_t kMaxAuditTargets = 100000;

void SetStatus(int *status, int value) {
    if (status != nullptr) {
        *status = value;
    }
}

// The keyword as the plug-in passes it: `length` bytes, or up to the terminator when the length
// is not positive; never past a terminator.
std::string_view KeywordText(const char *keyword, int length) {
    if (keyword == nullptr) {
        return {};
    }
    if (length <= 0) {
        return keyword;
    }
    return std::string_view(keyword, strnlen(keyword, static_cast<std::size_t>(length)));
}

std::string GroupTitle(const ServiceGroup *group) {
    if (group == nullptr) {
        return {};
    }
    return std::string(group->title, strnlen(group->title, sizeof(group->title)));
}

bool IsTokenChar(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
        return true;
    }
    return std::strchr("!#$%&'*+-.^_`|~", c) != nullptr && c != '\0';
}

// Headers that only the server may set: message framing, the connection, and the console's
// session cookie.
bool IsServerHeader(std::string_view name) {
    for (const char *reserved : {"Content-Length", "Transfer-Encoding", "Connection", "Keep-Alive",
                                 "Upgrade", "Trailer", "TE", "Set-Cookie", "Date", "Server"}) {
        if (EqualsIgnoringCase(name, reserved)) {
            return true;
        }
    }
    return false;
}

}  // namespace

extern "C" {

const char *pzSTRIPE_LIGHT = "class=\"stripe-light\"";
const char *pzSTRIPE_DARK = "class=\"stripe-dark\"";

int RegisterServiceMethodEx(const char *displayName, const char *keyword, int keywordLength,
                            ServiceGroup *group, unsigned int flags, void * /*reserved1*/,
                            ServiceMethod method, void * /*reserved2*/, int *status) {
    const int result = Registry::Global().Register(displayName != nullptr ? displayName : "",
                                                   KeywordText(keyword, keywordLength),
                                                   GroupTitle(group), flags, method);
    SetStatus(status, result);
    return result == kel::console::kRegistryOk ? 1 : 0;
}

int DeRegisterServiceMethod(const char * /*displayName*/, const char *keyword, int keywordLength,
                            ServiceMethod method, void * /*reserved*/, int *status) {
    const int result = Registry::Global().Deregister(KeywordText(keyword, keywordLength), method);
    SetStatus(status, result);
    return result == kel::console::kRegistryOk ? 1 : 0;
}

int HttpReturnRequestMethod(void *handle, int *methodCode) {
    Request *request = Request::FromHandle(handle);
    if (request == nullptr || methodCode == nullptr) {
        return 0;
    }
    *methodCode = request->methodCode;
    return 1;
}

int HttpReturnPathBuffers(void *handle, void * /*reserved1*/, char **path, void * /*reserved2*/) {
    Request *request = Request::FromHandle(handle);
    if (request == nullptr || path == nullptr) {
        return kBadArgument;
    }
    *path = request->path.data();
    return kOk;
}

int HttpReturnPostDataBuffer(void *handle, char **data, unsigned long *length) {
    Request *request = Request::FromHandle(handle);
    if (request == nullptr || data == nullptr || length == nullptr) {
        return kBadArgument;
    }
    *data = request->body.data();
    *length = request->bodyLength;
    return kOk;
}

const char *HttpReturnString(int id) {
    return id == KEL_STRING_HTML_CONTENT_TYPE ? kel::console::kHtmlContentType : "";
}

int HttpSendSuccessfulResponse(void *handle, const char *text) {
    Request *request = Request::FromHandle(handle);
    if (request == nullptr) {
        return kBadArgument;
    }
    if (request->Produced()) {
        return kRefused;
    }
    std::string_view type = text != nullptr ? text : "";
    const bool usable = !type.empty() && type.find_first_of("\r\n") == std::string_view::npos;
    request->contentType = usable ? std::string(type) : kel::console::kHtmlContentType;
    request->status = 200;
    request->state = ResponseState::kOpen;
    return kOk;
}

int HttpSendErrorResponse(void *handle, int status) {
    Request *request = Request::FromHandle(handle);
    if (request == nullptr || !kel::console::IsSendableStatus(status)) {
        return kBadArgument;
    }
    if (request->Produced()) {
        return kRefused;
    }
    request->Complete(status, kel::console::kHtmlContentType,
                      kel::console::MinimalStatusBody(status, request->frame.language));
    return kOk;
}

int BuildAndSendHeader(void *handle, const char *title, const char *heading, int /*reserved1*/,
                       int /*reserved2*/, unsigned int options, ScriptWriter scriptWriter,
                       const char *sectionText, const char *helpUrl) {
    Request *request = Request::FromHandle(handle);
    if (request == nullptr) {
        return kBadArgument;
    }
    if (request->state != ResponseState::kOpen || request->inScriptWriter) {
        return kRefused;
    }
    kel::console::WriteFrameHead(*request, title);
    if ((options & KEL_HEADER_OPTION_SCRIPT) != 0 && scriptWriter != nullptr) {
        request->inScriptWriter = true;
        scriptWriter(handle);
        request->inScriptWriter = false;
    }
    kel::console::WriteFrameBody(*request, heading != nullptr ? heading : title, sectionText,
                                 helpUrl);
    return kOk;
}

int HttpSendDataSprintf(void *handle, const char *format, ...) {
    Request *request = Request::FromHandle(handle);
    if (request == nullptr || format == nullptr) {
        return -1;
    }
    if (request->state != ResponseState::kOpen && request->state != ResponseState::kHandBuiltSent) {
        return -1;
    }
    va_list args;
    va_start(args, format);
    const int written = request->content.AppendV(format, args);
    va_end(args);
    return written;
}

int HttpEndDataResponse(void *handle) {
    Request *request = Request::FromHandle(handle);
    if (request == nullptr) {
        return kBadArgument;
    }
    if (request->state != ResponseState::kOpen && request->state != ResponseState::kHandBuiltSent) {
        return kRefused;
    }
    request->state = ResponseState::kEnded;
    return kOk;
}

int HttpSendErrorPackageResponse(void *handle, int status, const char *html, int length) {
    Request *request = Request::FromHandle(handle);
    if (request == nullptr || !kel::console::IsSendableStatus(status)) {
        return kBadArgument;
    }
    if (request->Produced()) {
        return kRefused;
    }
    std::string_view body;
    if (html != nullptr) {
        body = length >= 0 ? std::string_view(html, static_cast<std::size_t>(length))
                           : std::string_view(html);
    }
    request->Complete(status, kel::console::kHtmlContentType, body);
    return kOk;
}

int HttpOpenResponseHeaderTag(void *handle, int status) {
    Request *request = Request::FromHandle(handle);
    if (request == nullptr || !kel::console::IsSendableStatus(status)) {
        return kBadArgument;
    }
    if (request->Produced()) {
        return kRefused;
    }
    request->status = status;
    request->contentType.clear();
    request->state = ResponseState::kHandBuiltOpen;
    return kOk;
}

int HttpAddResponseHeaderTags(void *handle, const char *headerText, int length) {
    Request *request = Request::FromHandle(handle);
    if (request == nullptr || headerText == nullptr) {
        return kBadArgument;
    }
    if (request->state != ResponseState::kHandBuiltOpen) {
        return kRefused;
    }
    std::string_view text =
        length >= 0
            ? std::string_view(headerText, strnlen(headerText, static_cast<std::size_t>(length)))
            : std::string_view(headerText);
    // Every line is checked before any is kept: a malformed one (no name, a character outside
    // the header grammar, a bare CR or LF that could start a header of its own) refuses the call.
    std::vector<kel::console::HeaderField> fields;
    std::optional<std::string> contentType;
    while (!text.empty()) {
        std::size_t end = text.find("\r\n");
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 2);
        if (line.empty()) {
            continue;
        }
        const std::size_t colon = line.find(':');
        if (colon == 0 || colon == std::string_view::npos) {
            return kBadArgument;
        }
        std::string_view name = line.substr(0, colon);
        std::string_view value = line.substr(colon + 1);
        for (char c : name) {
            if (!IsTokenChar(c)) {
                return kBadArgument;
            }
        }
        for (char c : value) {
            const auto byte = static_cast<unsigned char>(c);
            if ((byte < 0x20 && c != '\t') || byte == 0x7f) {
                return kBadArgument;
            }
        }
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
            value.remove_prefix(1);
        }
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) {
            value.remove_suffix(1);
        }
        if (IsServerHeader(name)) {
            return kBadArgument;
        }
        if (EqualsIgnoringCase(name, "Content-Type")) {
            contentType = std::string(value);
            continue;
        }
        fields.push_back({std::string(name), std::string(value)});
    }
    for (auto &field : fields) {
        request->headers.push_back(std::move(field));
    }
    if (contentType) {
        request->contentType = *contentType;
    }
    return kOk;
}

int HttpSendResponseHeader(void *handle) {
    Request *request = Request::FromHandle(handle);
    if (request == nullptr) {
        return kBadArgument;
    }
    if (request->state != ResponseState::kHandBuiltOpen) {
        return kRefused;
    }
    request->state = ResponseState::kHandBuiltSent;
    return kOk;
}

// --- kel/host_ext.h -----------------------------------------------------------------------------

int KelReturnQueryString(void *handle, const char **query) {
    Request *request = Request::FromHandle(handle);
    if (request == nullptr || query == nullptr) {
        return kBadArgument;
    }
    *query = request->query.c_str();
    return kOk;
}

int KelReturnRequestAccount(void *handle, char *name, size_t size, int *viaToken) {
    Request *request = Request::FromHandle(handle);
    if (request == nullptr || name == nullptr || size == 0) {
        return kBadArgument;
    }
    const std::string &account = request->frame.account;
    if (viaToken != nullptr) {
        *viaToken = request->viaToken ? 1 : 0;
    }
    if (account.size() >= size) {
        name[0] = '\0';
        return kRefused;
    }
    std::memcpy(name, account.c_str(), account.size() + 1);
    return kOk;
}

int KelAuditTarget(void *handle, const char *action, const char *target, const char *result) {
    Request *request = handle != nullptr ? Request::FromHandle(handle) : Request::Current();
    if (request == nullptr || action == nullptr || target == nullptr || result == nullptr) {
        return kBadArgument;
    }
    if (!request->auditing || request->auditTargets.size() >= kMaxAuditTargets) {
        return kRefused;
    }
    request->auditTargets.push_back({action, target, result});
    return kOk;
}

}  // extern "C"
