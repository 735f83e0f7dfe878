// request.h: what every service method reads from the console about a request: the access word,
// the request method and the posted form.
#ifndef KEL2CIFS_PLUGIN_REQUEST_H
#define KEL2CIFS_PLUGIN_REQUEST_H

#include "kel/host.h"
#include "plugin/heap_text.h"

namespace kel2cifs {

// Bits of the access word the console passes to every service method.
inline constexpr unsigned int kAccessRead = 0x1u;
inline constexpr unsigned int kAccessWrite = 0x2u;
inline constexpr unsigned int kAccessConsole = 0x8u;  // may use the console's pages at all
inline constexpr unsigned int kAccessClearConnLimited = 0x400u;
inline constexpr unsigned int kAccessSupervisor = 0x10000000u;
// A word with either of these bits is one a method declines (returns 0 for).
inline constexpr unsigned int kAccessDeclined = 0x80000000u | 0x40000000u;
// Any one of these grants the open-file and connection pages.
inline constexpr unsigned int kAccessManage = kAccessRead | kAccessWrite | kAccessSupervisor;

// Request methods as HttpReturnRequestMethod reports them.
inline constexpr int kMethodGet = KEL_METHOD_GET;
inline constexpr int kMethodPost = KEL_METHOD_POST;

// HTTP statuses a page generator or service method returns.
inline constexpr int kStatusOk = 200;
inline constexpr int kStatusBadRequest = 400;
inline constexpr int kStatusNotOpened = 500;

// A request's method and, for a POST, its body.
struct RequestData {
    int method = kMethodGet;
    // The body as the console holds it, terminated in place; "" without one.
    const char *raw = "";
    unsigned long rawLength = 0;
    // The body URL-decoded as one text (see decodePostDataString); null without a body.
    HeapText decoded;
};

// Reads the request's method and, for a POST with a body, the body, which it decodes. Returns 0;
// or, having written the error page, its status: "Http request missing data" when the method
// cannot be read, "Bad Http request" for a method other than GET and POST, "Internal Resource
// failure" when the decoded body cannot be allocated.
[[nodiscard]] int ReadRequestData(void *request, RequestData &data);

}  // namespace kel2cifs

#endif  // KEL2CIFS_PLUGIN_REQUEST_H
