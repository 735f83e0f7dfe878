// fake_host.h: a recording console host (every operation and global of kel/host.h, and the calls
// of kel/host_ext.h) for tests.
//
// A test builds a fake::Request, hands its address to a service method as the request handle and
// afterwards reads what the plug-in produced from it. The host operations model the states of a
// response: nothing sent yet, a 200 page open, ended; an error or error-package response sent; a
// hand-built response open, sent (then, as in the console, its body is written with
// HttpSendDataSprintf and it is completed with HttpEndDataResponse). A call that the state does not
// allow (a second open, a write after the end, an error response after a page was opened, ...) is
// not carried out: it fails and is written to Request::violations, which a test asserts to be
// empty. A handle that is not a live Request is never dereferenced: the call fails and is listed by
// StrayCalls().
//
// The text functions (ConvertToComponentPath, HttpFindNameAndValue, HttpUnConvertName) are the
// console's own (kel_http_text). Registrations are recorded process-wide under a lock; everything
// else touches only the request it is given, so requests may be served on several threads at once
// as long as each Request is used by one thread.
#ifndef KEL2CIFS_TESTS_SUPPORT_FAKE_HOST_H
#define KEL2CIFS_TESTS_SUPPORT_FAKE_HOST_H

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kel/host.h"
#include "kel/host_ext.h"

namespace fake {

// Request method codes of HttpReturnRequestMethod.
inline constexpr int kGet = KEL_METHOD_GET;
inline constexpr int kPost = KEL_METHOD_POST;

// HttpReturnString(KEL_STRING_HTML_CONTENT_TYPE); every other id gives an empty text.
inline constexpr int kHtmlContentTypeId = KEL_STRING_HTML_CONTENT_TYPE;
inline constexpr char kHtmlContentType[] = "text/html; charset=utf-8";

// The values of pzSTRIPE_LIGHT and pzSTRIPE_DARK.
inline constexpr char kStripeLight[] = "class=\"light\"";
inline constexpr char kStripeDark[] = "class=\"dark\"";

// Zero bytes after the path's terminator in Request::pathBuffer.
inline constexpr std::size_t kPathSpare = 1024;
// The posted body is followed by this many bytes of kPostFiller and then a terminator, so the
// host's own buffer is not terminated at data[length]: a plug-in that reads the body as a text
// without writing that terminator itself sees the filler appended to the last value.
inline constexpr std::size_t kPostFillerLength = 8;
inline constexpr char kPostFiller = '#';

enum class Response {
    kNone,           // nothing sent yet
    kOpen,           // HttpSendSuccessfulResponse opened a page
    kEnded,          // HttpEndDataResponse completed it
    kError,          // HttpSendErrorResponse sent
    kErrorPackage,   // HttpSendErrorPackageResponse sent
    kHandBuiltOpen,  // HttpOpenResponseHeaderTag opened a hand-built response
    kHandBuiltSent,  // HttpSendResponseHeader sent it
};
const char *ResponseName(Response state);

// One host operation the plug-in called on a request: its name and its arguments after the
// request, rendered as text separated by ", ". Texts are quoted with C escapes ("a\n"), a null
// text or pointer is null, another pointer is ptr, a script writer is writer.
// Example: {"BuildAndSendHeader", "\"Title\", \"Title\", 0, 0, 4, writer, null, \"/x/help\""}.
struct Call {
    std::string op;
    std::string args;
};

// One BuildAndSendHeader call. A null text is nullopt.
struct Header {
    std::optional<std::string> title;
    std::optional<std::string> heading;
    int reserved1 = 0;
    int reserved2 = 0;
    unsigned int options = 0;
    bool hasScriptWriter = false;
    bool scriptWriterCalled =
        false;  // options held KEL_HEADER_OPTION_SCRIPT and a writer was given
    int scriptWriterResult = 0;
    std::optional<std::string> sectionText;
    std::optional<std::string> helpUrl;
    std::string script;          // what the script writer wrote through HttpSendDataSprintf
    std::size_t bodyBefore = 0;  // length of Request::body when the head was written
};

struct ErrorPackage {
    int status = 0;
    std::string html;  // the `length` bytes passed
};

struct Request {
    // Path "/" + keyword + rest as the host hands it (already percent-decoded), method and body.
    explicit Request(std::string_view path = "/", int method = kGet, std::string_view body = {});
    ~Request();
    // The plug-in holds the address as its handle: a Request never moves.
    Request(const Request &) = delete;
    Request &operator=(const Request &) = delete;

    void *handle() { return this; }

    // --- Set by the test before the call ---------------------------------------------------
    void SetPath(std::string_view path);  // refills pathBuffer
    void SetBody(std::string_view body);  // refills postBuffer and postLength

    // The path, its terminator and kPathSpare zero bytes; HttpReturnPathBuffers hands out
    // pathBuffer.data(), which the plug-in may rewrite in place.
    std::vector<char> pathBuffer;
    bool pathSucceeds = true;  // false: HttpReturnPathBuffers returns non-zero

    bool methodSucceeds = true;  // false: HttpReturnRequestMethod returns 0
    int methodCode = kGet;

    // The body, then kPostFillerLength filler bytes, then a terminator.
    std::vector<char> postBuffer;
    unsigned long postLength = 0;
    bool postDataSucceeds = true;  // false: HttpReturnPostDataBuffer returns non-zero

    // KelReturnQueryString's text (still encoded) and KelReturnRequestAccount's answer.
    std::string query;
    std::string account = "admin";
    bool viaToken = false;

    bool openSucceeds = true;  // false: HttpSendSuccessfulResponse fails as for a lost peer
    bool writesFail = false;   // true: HttpSendDataSprintf returns -1 and writes nothing

    // --- Recorded by the host --------------------------------------------------------------
    std::vector<Call> calls;              // every operation on this request, in order
    std::vector<std::string> violations;  // calls the response's state did not allow, and misuse
    Response state = Response::kNone;
    std::string contentType;          // the text HttpSendSuccessfulResponse opened with
    std::vector<Header> headers;      // every BuildAndSendHeader that was carried out
    std::string body;                 // every write outside the script writer, in order
    std::vector<int> errorResponses;  // statuses of HttpSendErrorResponse
    std::vector<ErrorPackage> errorPackages;
    std::optional<int> handBuiltStatus;    // HttpOpenResponseHeaderTag's status
    std::vector<std::string> headerLines;  // hand-built header lines, without their "\r\n"
    // Every KelAuditTarget for this request (by handle, or null while it is being served).
    struct AuditTarget {
        std::string action;
        std::string target;
        std::string result;
    };
    std::vector<AuditTarget> audit;

    // --- Helpers ----------------------------------------------------------------------------
    std::vector<std::string> Ops() const;  // the op of every call, in order
    // The calls whose op is `op`, in order.
    std::vector<Call> CallsOf(std::string_view op) const;
    // The single page head, or null when none was written.
    const Header *header() const { return headers.empty() ? nullptr : &headers.front(); }
    // The response was completed in one of the ways the host offers.
    bool Complete() const;

    bool inScriptWriter = false;  // host internal: the script writer is running
};

// A GET or POST request for `path` (the body is the raw, still encoded form data).
// Returns a prvalue, so `fake::Request r = fake::Get("/cifsofm");` constructs in place.
Request Get(std::string_view path);
Request Post(std::string_view path, std::string_view body);

// Calls `method` as the host does: the request handle, 0, 0 and the access word. While it runs
// the request is the calling thread's own, which KelAuditTarget(NULL, ...) records to.
int Serve(ServiceMethod method, Request &request, unsigned int access);

// Access words the host computes: the console's administrator role, and an account without rights.
inline constexpr unsigned int kAdministratorAccess = 0x0000000Bu;
inline constexpr unsigned int kNoAccess = 0u;

// Host operations that were called with a handle that is no live Request ("op" names), in
// order, since the last ResetStrayCalls().
std::vector<std::string> StrayCalls();
void ResetStrayCalls();

// --- Registrations (process-wide) -----------------------------------------------------------

struct Registration {
    enum Kind { kRegister, kDeregister } kind = kRegister;
    std::optional<std::string> displayName;  // null: nullopt
    std::optional<std::string> keyword;      // the text up to its terminator
    int keywordLength = 0;
    std::optional<ServiceGroup> group;  // a copy of the record as it was during the call
    unsigned int flags = 0;             // kDeregister: 0
    void *reserved1 = nullptr;          // kDeregister: its one reserved argument
    void *reserved2 = nullptr;
    ServiceMethod method = nullptr;
    bool hadStatus = false;  // a status pointer was passed
    int result = 0;          // what the host returned
    int status = 0;          // what it wrote through the status pointer
};

// Every RegisterServiceMethodEx and DeRegisterServiceMethod since the last ResetRegistry().
std::vector<Registration> Registrations();
// Forgets the calls, the refusals and the live registrations.
void ResetRegistry();
// The nth RegisterServiceMethodEx call since the reset (1 is the first) returns 0 and writes
// `status`; the others register, return 1 and write 0.
void RefuseRegistration(int nth, int status);
// The method registered under `keyword` and not deregistered since, or null.
ServiceMethod RegisteredMethod(std::string_view keyword);
// DeRegisterServiceMethod of a keyword and method that are not registered returns 0 and writes
// this status; a registered one is removed, returns 1 and writes 0.
inline constexpr int kNotRegisteredStatus = 2;

}  // namespace fake

#endif  // KEL2CIFS_TESTS_SUPPORT_FAKE_HOST_H
