// requests.h: random requests for the three service methods, from their URL grammar and the
// server's current data, with random damage on top.
#ifndef KEL2CIFS_TESTS_DIFFERENTIAL_REQUESTS_H
#define KEL2CIFS_TESTS_DIFFERENTIAL_REQUESTS_H

#include <string>

#include "differential/server_model.h"
#include "differential/texts.h"

namespace differential {

// How the host fails the plug-in during one request (see fake::Request).
enum class HostFault { kNone, kMethod, kPath, kPostData, kOpen, kWrites };
const char *HostFaultName(HostFault fault);

struct HttpRequest {
    std::string keyword;  // the service method: "cifsofm", "cifscons" or "cifslogs"
    int method = 0;       // the host's method code: 0 GET, 2 POST, others unknown
    std::string path;     // as the host hands it: "/" + keyword + rest, percent-decoded
    std::string body;     // the posted bytes, still form-encoded
    unsigned access = 0;
    HostFault fault = HostFault::kNone;
};

HttpRequest NextRequest(Rng &rng, const ServerModel &server);

}  // namespace differential

#endif  // KEL2CIFS_TESTS_DIFFERENTIAL_REQUESTS_H
