// request.h: one HTTP request as the host hands it to a service method, and the response built
// for it.
//
// A Request is the opaque handle of kel/host.h. The server fills the input part before a service
// method (or one of the console's own pages) runs; the host operations then move the response
// through its states and write its status, headers and body. Nothing is sent while the method
// runs: the server sends the finished response once the method has returned. A Request is used
// by one thread at a time.
#ifndef KEL_CONSOLE_REQUEST_H
#define KEL_CONSOLE_REQUEST_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "console/audit.h"
#include "console/buffer.h"
#include "kel/host.h"

namespace kel::console {

class Registry;

// Request method codes of HttpReturnRequestMethod.
inline constexpr int kMethodGet = KEL_METHOD_GET;
inline constexpr int kMethodPost = KEL_METHOD_POST;

inline constexpr char kHtmlContentType[] = "text/html; charset=utf-8";
inline constexpr char kTextContentType[] = "text/plain; charset=utf-8";

enum class ResponseState {
    kNone,           // nothing produced yet
    kOpen,           // a 200 page is open for writing (HttpSendSuccessfulResponse)
    kHandBuiltOpen,  // a hand-built response is collecting headers (HttpOpenResponseHeaderTag)
    kHandBuiltSent,  // its headers are complete (HttpSendResponseHeader); a body may follow
    kEnded,          // completed by HttpEndDataResponse
    kComplete,       // completed in one call (error response, error package, console page)
};

struct HeaderField {
    std::string name;
    std::string value;
};

// What the page frame shows besides the texts the page passes: set by the server per request.
struct FrameContext {
    const Registry *registry = nullptr;  // navigation; none when null
    std::string productName;
    std::string account;          // the logged-in account, empty when none
    std::string currentKeyword;   // the keyword the request was routed to, if any
    bool auditPage = false;       // the account may view the Audit Trail: it is linked
    std::string language = "en";  // the pages' language (language.h), as their lang attribute
};

class Request {
  public:
    // Every live Request carries this value in magic_, so that a stale or foreign handle is
    // refused by the host operations instead of being written through.
    static constexpr std::uint32_t kMagic = 0x4b454c52;  // "KELR"

    Request();
    ~Request();
    Request(const Request &) = delete;
    Request &operator=(const Request &) = delete;

    // The handle as kel/host.h sees it, and back; FromHandle returns null for anything that is
    // not a live Request.
    void *handle() { return this; }
    static Request *FromHandle(void *handle);
    // The request the calling thread serves a service method for, or null (see ServingScope).
    static Request *Current();

    // --- Input ------------------------------------------------------------------------------
    // Sets the percent-decoded path: it is stored with its terminator in a buffer that the
    // service method may rewrite in place.
    void SetPath(std::string_view decodedPath);
    // Sets the raw body; the buffer keeps one byte more for a terminator at data[length].
    void SetBody(std::string_view body);

    int methodCode = kMethodGet;
    std::vector<char> path;  // decoded path and its terminator
    std::vector<char> body;  // raw body, then a terminator
    unsigned long bodyLength = 0;
    FrameContext frame;
    std::string query;      // the query after "?", still encoded; empty when none
    bool viaToken = false;  // the request came with an API token (frame.account is its name)
    // True while the method of a state-changing request (a POST) runs: what it reports through
    // KelAuditTarget is collected in auditTargets and written to its audit record.
    bool auditing = false;
    std::vector<AuditTarget> auditTargets;

    // --- Response ---------------------------------------------------------------------------
    ResponseState state = ResponseState::kNone;
    int status = 0;
    std::string contentType;
    std::vector<HeaderField> headers;
    ResponseBuffer content;
    bool inScriptWriter = false;  // the page head's script writer is running

    bool Produced() const { return state != ResponseState::kNone; }
    // Replaces whatever the request holds by a complete response (used by the console itself).
    void Complete(int status, std::string_view contentType, std::string_view body);
    void AddHeader(std::string_view name, std::string_view value);

  private:
    std::uint32_t magic_ = kMagic;
};

// Makes `request` the calling thread's Current() request for the life of the object.
class ServingScope {
  public:
    explicit ServingScope(Request &request);
    ~ServingScope();
    ServingScope(const ServingScope &) = delete;
    ServingScope &operator=(const ServingScope &) = delete;

  private:
    Request *previous_;
};

// The reason phrase of a status ("Not Found"), or "Unknown" for one the console does not know.
const char *StatusReason(int status);
// A status a response may carry: 200 to 599.
bool IsSendableStatus(int status);

}  // namespace kel::console

#endif  // KEL_CONSOLE_REQUEST_H
