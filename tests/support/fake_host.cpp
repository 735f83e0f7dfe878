// fake_host.cpp: the recording console host.
#include "support/fake_host.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <utility>

namespace fake {
namespace {

// The longest text read from a registration argument; a keyword or name is far shorter.
constexpr std::size_t kMaxRegistrationText = 4096;

// Process-wide state. It is never destroyed: a plug-in's unload routine may deregister after the
// test program's own static objects are gone.
struct HostState {
    std::mutex mutex;
    std::set<const Request *> requests;
    std::vector<std::string> strays;
    std::vector<Registration> registrations;
    std::map<int, int> refusals;  // nth registration -> status
    int registerCalls = 0;
    std::vector<std::pair<std::string, ServiceMethod>> live;
};

HostState &State() {
    static HostState *state = new HostState;
    return *state;
}

std::string Escape(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
                    char hex[8];
                    std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(c));
                    out += hex;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

std::string Text(const char *text) {
    return text == nullptr ? "null" : Escape(text);
}
std::string Pointer(const void *pointer) {
    return pointer == nullptr ? "null" : "ptr";
}

std::optional<std::string> Copy(const char *text) {
    if (text == nullptr) {
        return std::nullopt;
    }
    return std::string(text, strnlen(text, kMaxRegistrationText));
}

std::string Join(std::initializer_list<std::string> parts) {
    std::string out;
    for (const std::string &part : parts) {
        if (!out.empty()) {
            out += ", ";
        }
        out += part;
    }
    return out;
}

// The live Request behind `handle`, or null (the call is listed as stray).
Request *Resolve(void *handle, const char *op) {
    HostState &state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    auto *request = static_cast<Request *>(handle);
    if (state.requests.count(request) == 0) {
        state.strays.emplace_back(op);
        return nullptr;
    }
    return request;
}

void Record(Request &request, const char *op, std::string args) {
    request.calls.push_back(Call{op, std::move(args)});
}

void Violation(Request &request, const char *op, const std::string &what) {
    request.violations.push_back(std::string(op) + ": " + what);
}

// Records a violation unless the response is in `expected`.
bool Expect(Request &request, const char *op, Response expected) {
    if (request.state == expected) {
        return true;
    }
    Violation(request, op,
              std::string("called while the response is ") + ResponseName(request.state));
    return false;
}

}  // namespace

const char *ResponseName(Response state) {
    switch (state) {
        case Response::kNone:
            return "not opened";
        case Response::kOpen:
            return "open";
        case Response::kEnded:
            return "ended";
        case Response::kError:
            return "an error response";
        case Response::kErrorPackage:
            return "an error package response";
        case Response::kHandBuiltOpen:
            return "a hand-built header being written";
        case Response::kHandBuiltSent:
            return "a hand-built response sent";
    }
    return "unknown";
}

Request::Request(std::string_view path, int method, std::string_view body) : methodCode(method) {
    SetPath(path);
    SetBody(body);
    HostState &state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.requests.insert(this);
}

Request::~Request() {
    HostState &state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.requests.erase(this);
}

void Request::SetPath(std::string_view path) {
    pathBuffer.assign(path.size() + 1 + kPathSpare, '\0');
    std::copy(path.begin(), path.end(), pathBuffer.begin());
}

void Request::SetBody(std::string_view body) {
    postBuffer.assign(body.size() + kPostFillerLength + 1, kPostFiller);
    std::copy(body.begin(), body.end(), postBuffer.begin());
    postBuffer.back() = '\0';
    postLength = body.size();
}

std::vector<std::string> Request::Ops() const {
    std::vector<std::string> ops;
    for (const Call &call : calls) {
        ops.push_back(call.op);
    }
    return ops;
}

std::vector<Call> Request::CallsOf(std::string_view op) const {
    std::vector<Call> matching;
    for (const Call &call : calls) {
        if (call.op == op) {
            matching.push_back(call);
        }
    }
    return matching;
}

bool Request::Complete() const {
    return state == Response::kEnded || state == Response::kError ||
           state == Response::kErrorPackage || state == Response::kHandBuiltSent;
}

Request Get(std::string_view path) {
    return Request(path, kGet);
}

Request Post(std::string_view path, std::string_view body) {
    return Request(path, kPost, body);
}

namespace {
thread_local Request *t_serving = nullptr;
}  // namespace

int Serve(ServiceMethod method, Request &request, unsigned int access) {
    Request *const previous = t_serving;
    t_serving = &request;
    const int status = method(request.handle(), 0, 0, access);
    t_serving = previous;
    return status;
}

Request *ServingRequest() {
    return t_serving;
}

std::vector<std::string> StrayCalls() {
    HostState &state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.strays;
}

void ResetStrayCalls() {
    HostState &state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.strays.clear();
}

std::vector<Registration> Registrations() {
    HostState &state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.registrations;
}

void ResetRegistry() {
    HostState &state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.registrations.clear();
    state.refusals.clear();
    state.registerCalls = 0;
    state.live.clear();
}

void RefuseRegistration(int nth, int status) {
    HostState &state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.refusals[nth] = status;
}

ServiceMethod RegisteredMethod(std::string_view keyword) {
    HostState &state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    for (const auto &[name, method] : state.live) {
        if (name == keyword) {
            return method;
        }
    }
    return nullptr;
}

}  // namespace fake

using fake::Request;
using fake::Response;

extern "C" {

const char *pzSTRIPE_LIGHT = fake::kStripeLight;
const char *pzSTRIPE_DARK = fake::kStripeDark;

int RegisterServiceMethodEx(const char *displayName, const char *keyword, int keywordLength,
                            ServiceGroup *group, unsigned int flags, void *reserved1,
                            ServiceMethod method, void *reserved2, int *status) {
    fake::Registration entry;
    entry.kind = fake::Registration::kRegister;
    entry.displayName = fake::Copy(displayName);
    entry.keyword = fake::Copy(keyword);
    entry.keywordLength = keywordLength;
    if (group != nullptr) {
        entry.group = *group;
    }
    entry.flags = flags;
    entry.reserved1 = reserved1;
    entry.reserved2 = reserved2;
    entry.method = method;
    entry.hadStatus = status != nullptr;

    fake::HostState &state = fake::State();
    std::lock_guard<std::mutex> lock(state.mutex);
    const int nth = ++state.registerCalls;
    const auto refusal = state.refusals.find(nth);
    if (refusal != state.refusals.end()) {
        entry.result = 0;
        entry.status = refusal->second;
    } else {
        entry.result = 1;
        entry.status = 0;
        state.live.emplace_back(entry.keyword.value_or(""), method);
    }
    if (status != nullptr) {
        *status = entry.status;
    }
    state.registrations.push_back(entry);
    return entry.result;
}

int DeRegisterServiceMethod(const char *displayName, const char *keyword, int keywordLength,
                            ServiceMethod method, void *reserved, int *status) {
    fake::Registration entry;
    entry.kind = fake::Registration::kDeregister;
    entry.displayName = fake::Copy(displayName);
    entry.keyword = fake::Copy(keyword);
    entry.keywordLength = keywordLength;
    entry.reserved1 = reserved;
    entry.method = method;
    entry.hadStatus = status != nullptr;

    fake::HostState &state = fake::State();
    std::lock_guard<std::mutex> lock(state.mutex);
    const std::string name = entry.keyword.value_or("");
    const auto found = std::find_if(state.live.begin(), state.live.end(), [&](const auto &live) {
        return live.first == name && live.second == method;
    });
    if (found != state.live.end()) {
        state.live.erase(found);
        entry.result = 1;
        entry.status = 0;
    } else {
        entry.result = 0;
        entry.status = fake::kNotRegisteredStatus;
    }
    if (status != nullptr) {
        *status = entry.status;
    }
    state.registrations.push_back(entry);
    return entry.result;
}

int HttpReturnRequestMethod(void *handle, int *methodCode) {
    Request *request = fake::Resolve(handle, "HttpReturnRequestMethod");
    if (request == nullptr) {
        return 0;
    }
    fake::Record(*request, "HttpReturnRequestMethod", fake::Pointer(methodCode));
    if (methodCode == nullptr) {
        fake::Violation(*request, "HttpReturnRequestMethod", "null method code pointer");
        return 0;
    }
    if (!request->methodSucceeds) {
        return 0;
    }
    *methodCode = request->methodCode;
    return 1;
}

int HttpReturnPathBuffers(void *handle, void *reserved1, char **path, void *reserved2) {
    Request *request = fake::Resolve(handle, "HttpReturnPathBuffers");
    if (request == nullptr) {
        return 1;
    }
    fake::Record(
        *request, "HttpReturnPathBuffers",
        fake::Join({fake::Pointer(reserved1), fake::Pointer(path), fake::Pointer(reserved2)}));
    if (path == nullptr) {
        fake::Violation(*request, "HttpReturnPathBuffers", "null path pointer");
        return 1;
    }
    if (!request->pathSucceeds) {
        return 1;
    }
    *path = request->pathBuffer.data();
    return 0;
}

int HttpReturnPostDataBuffer(void *handle, char **data, unsigned long *length) {
    Request *request = fake::Resolve(handle, "HttpReturnPostDataBuffer");
    if (request == nullptr) {
        return 1;
    }
    fake::Record(*request, "HttpReturnPostDataBuffer",
                 fake::Join({fake::Pointer(data), fake::Pointer(length)}));
    if (data == nullptr || length == nullptr) {
        fake::Violation(*request, "HttpReturnPostDataBuffer", "null data or length pointer");
        return 1;
    }
    if (!request->postDataSucceeds) {
        return 1;
    }
    *data = request->postBuffer.data();
    *length = request->postLength;
    return 0;
}

const char *HttpReturnString(int id) {
    return id == fake::kHtmlContentTypeId ? fake::kHtmlContentType : "";
}

int HttpSendSuccessfulResponse(void *handle, const char *text) {
    Request *request = fake::Resolve(handle, "HttpSendSuccessfulResponse");
    if (request == nullptr) {
        return 1;
    }
    fake::Record(*request, "HttpSendSuccessfulResponse", fake::Text(text));
    if (!fake::Expect(*request, "HttpSendSuccessfulResponse", Response::kNone)) {
        return 1;
    }
    if (text == nullptr) {
        fake::Violation(*request, "HttpSendSuccessfulResponse", "null content type");
    }
    if (!request->openSucceeds) {
        return 1;
    }
    request->state = Response::kOpen;
    request->contentType = text == nullptr ? "" : text;
    return 0;
}

int HttpSendErrorResponse(void *handle, int status) {
    Request *request = fake::Resolve(handle, "HttpSendErrorResponse");
    if (request == nullptr) {
        return 1;
    }
    fake::Record(*request, "HttpSendErrorResponse", std::to_string(status));
    if (!fake::Expect(*request, "HttpSendErrorResponse", Response::kNone)) {
        return 1;
    }
    request->state = Response::kError;
    request->errorResponses.push_back(status);
    return 0;
}

int BuildAndSendHeader(void *handle, const char *title, const char *heading, int reserved1,
                       int reserved2, unsigned int options, ScriptWriter scriptWriter,
                       const char *sectionText, const char *helpUrl) {
    Request *request = fake::Resolve(handle, "BuildAndSendHeader");
    if (request == nullptr) {
        return 1;
    }
    fake::Record(*request, "BuildAndSendHeader",
                 fake::Join({fake::Text(title), fake::Text(heading), std::to_string(reserved1),
                             std::to_string(reserved2), std::to_string(options),
                             scriptWriter == nullptr ? "null" : "writer", fake::Text(sectionText),
                             fake::Text(helpUrl)}));
    if (!fake::Expect(*request, "BuildAndSendHeader", Response::kOpen)) {
        return 1;
    }
    if (request->inScriptWriter) {
        fake::Violation(*request, "BuildAndSendHeader", "called from the script writer");
        return 1;
    }
    if (!request->headers.empty()) {
        fake::Violation(*request, "BuildAndSendHeader", "the page head was already written");
        return 1;
    }
    fake::Header header;
    header.title = fake::Copy(title);
    header.heading = fake::Copy(heading);
    header.reserved1 = reserved1;
    header.reserved2 = reserved2;
    header.options = options;
    header.hasScriptWriter = scriptWriter != nullptr;
    header.sectionText = fake::Copy(sectionText);
    header.helpUrl = fake::Copy(helpUrl);
    header.bodyBefore = request->body.size();
    request->headers.push_back(header);
    if ((options & KEL_HEADER_OPTION_SCRIPT) != 0 && scriptWriter != nullptr) {
        request->inScriptWriter = true;
        const int result = scriptWriter(handle);
        request->inScriptWriter = false;
        request->headers.back().scriptWriterCalled = true;
        request->headers.back().scriptWriterResult = result;
    }
    return 0;
}

int HttpSendDataSprintf(void *handle, const char *format, ...) {
    Request *request = fake::Resolve(handle, "HttpSendDataSprintf");
    if (request == nullptr) {
        return -1;
    }
    if (format == nullptr) {
        fake::Record(*request, "HttpSendDataSprintf", "null");
        fake::Violation(*request, "HttpSendDataSprintf", "null format");
        return -1;
    }
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int size = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text;
    if (size > 0) {
        text.resize(static_cast<std::size_t>(size));
        std::vsnprintf(text.data(), text.size() + 1, format, again);
    }
    va_end(again);
    fake::Record(*request, "HttpSendDataSprintf", fake::Escape(text));
    if (size < 0) {
        fake::Violation(*request, "HttpSendDataSprintf", "format could not be written");
        return -1;
    }
    // As the console: a hand-built response whose header was sent takes a body too.
    if (request->state != Response::kHandBuiltSent &&
        !fake::Expect(*request, "HttpSendDataSprintf", Response::kOpen)) {
        return -1;
    }
    if (request->writesFail) {
        return -1;
    }
    if (request->inScriptWriter) {
        request->headers.back().script += text;
    } else {
        request->body += text;
    }
    return size;
}

int HttpEndDataResponse(void *handle) {
    Request *request = fake::Resolve(handle, "HttpEndDataResponse");
    if (request == nullptr) {
        return 1;
    }
    fake::Record(*request, "HttpEndDataResponse", "");
    // A hand-built response (a redirect) is completed the same way once its header is sent.
    if (request->state == Response::kHandBuiltSent) {
        return 0;
    }
    if (!fake::Expect(*request, "HttpEndDataResponse", Response::kOpen)) {
        return 1;
    }
    if (request->inScriptWriter) {
        fake::Violation(*request, "HttpEndDataResponse", "called from the script writer");
        return 1;
    }
    request->state = Response::kEnded;
    return 0;
}

int HttpSendErrorPackageResponse(void *handle, int status, const char *html, int length) {
    Request *request = fake::Resolve(handle, "HttpSendErrorPackageResponse");
    if (request == nullptr) {
        return 1;
    }
    // Reads no further than `length` bytes and the text's terminator.
    const std::size_t wanted = length > 0 ? static_cast<std::size_t>(length) : 0;
    const std::size_t available = html == nullptr ? 0 : strnlen(html, wanted);
    const std::string text = html == nullptr ? std::string() : std::string(html, available);
    fake::Record(*request, "HttpSendErrorPackageResponse",
                 fake::Join({std::to_string(status),
                             html == nullptr ? std::string("null") : fake::Escape(text),
                             std::to_string(length)}));
    if (!fake::Expect(*request, "HttpSendErrorPackageResponse", Response::kNone)) {
        return 1;
    }
    if (html == nullptr || length < 0 || available < wanted) {
        fake::Violation(*request, "HttpSendErrorPackageResponse",
                        "length " + std::to_string(length) + " does not match the html text");
    }
    request->state = Response::kErrorPackage;
    request->errorPackages.push_back(fake::ErrorPackage{status, text});
    return 0;
}

int HttpOpenResponseHeaderTag(void *handle, int status) {
    Request *request = fake::Resolve(handle, "HttpOpenResponseHeaderTag");
    if (request == nullptr) {
        return 1;
    }
    fake::Record(*request, "HttpOpenResponseHeaderTag", std::to_string(status));
    if (!fake::Expect(*request, "HttpOpenResponseHeaderTag", Response::kNone)) {
        return 1;
    }
    request->state = Response::kHandBuiltOpen;
    request->handBuiltStatus = status;
    return 0;
}

int HttpAddResponseHeaderTags(void *handle, const char *headerText, int length) {
    Request *request = fake::Resolve(handle, "HttpAddResponseHeaderTags");
    if (request == nullptr) {
        return 1;
    }
    const std::size_t wanted = length > 0 ? static_cast<std::size_t>(length) : 0;
    const std::size_t available = headerText == nullptr ? 0 : strnlen(headerText, wanted);
    const std::string text =
        headerText == nullptr ? std::string() : std::string(headerText, available);
    fake::Record(*request, "HttpAddResponseHeaderTags",
                 fake::Join({headerText == nullptr ? std::string("null") : fake::Escape(text),
                             std::to_string(length)}));
    if (!fake::Expect(*request, "HttpAddResponseHeaderTags", Response::kHandBuiltOpen)) {
        return 1;
    }
    if (headerText == nullptr || length <= 0 || available < wanted) {
        fake::Violation(*request, "HttpAddResponseHeaderTags",
                        "length " + std::to_string(length) + " does not match the header text");
        return 1;
    }
    if (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0) {
        fake::Violation(*request, "HttpAddResponseHeaderTags",
                        "header text does not end with \\r\\n");
    }
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            end = text.size();
        }
        request->headerLines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return 0;
}

int HttpSendResponseHeader(void *handle) {
    Request *request = fake::Resolve(handle, "HttpSendResponseHeader");
    if (request == nullptr) {
        return 1;
    }
    fake::Record(*request, "HttpSendResponseHeader", "");
    if (!fake::Expect(*request, "HttpSendResponseHeader", Response::kHandBuiltOpen)) {
        return 1;
    }
    request->state = Response::kHandBuiltSent;
    return 0;
}

int KelReturnQueryString(void *handle, const char **query) {
    Request *request = fake::Resolve(handle, "KelReturnQueryString");
    if (request == nullptr) {
        return 1;
    }
    fake::Record(*request, "KelReturnQueryString", fake::Pointer(query));
    if (query == nullptr) {
        fake::Violation(*request, "KelReturnQueryString", "null query pointer");
        return 1;
    }
    *query = request->query.c_str();
    return 0;
}

int KelReturnRequestAccount(void *handle, char *name, size_t size, int *viaToken) {
    Request *request = fake::Resolve(handle, "KelReturnRequestAccount");
    if (request == nullptr) {
        return 1;
    }
    fake::Record(*request, "KelReturnRequestAccount", std::to_string(size));
    if (viaToken != nullptr) {
        *viaToken = request->viaToken ? 1 : 0;
    }
    if (name == nullptr || size == 0) {
        return 1;
    }
    if (request->account.size() + 1 > size) {
        name[0] = '\0';
        return 1;
    }
    std::memcpy(name, request->account.c_str(), request->account.size() + 1);
    return 0;
}

int KelAuditTarget(void *handle, const char *action, const char *target, const char *result) {
    Request *request =
        handle == nullptr ? fake::ServingRequest() : fake::Resolve(handle, "KelAuditTarget");
    if (request == nullptr) {
        return 1;
    }
    fake::Record(*request, "KelAuditTarget",
                 fake::Join({fake::Text(action), fake::Text(target), fake::Text(result)}));
    if (action == nullptr || target == nullptr || result == nullptr) {
        return 1;
    }
    request->audit.push_back({action, target, result});
    return 0;
}

}  // extern "C"
