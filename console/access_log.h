// access_log.h: the line written for every request.
//
// One line a request, written with one write(2) so that lines of concurrent requests never
// interleave:
//   2024-05-01T10:15:02 127.0.0.1 GET /cifsofm/VOL1 200 5123 3ms admin
// local time, client address, method, path without the query (as received, still encoded), status
// ("-" when the connection ended before a response), body bytes, milliseconds from the request
// line to the end of the response, and the account ("-" when none). Bytes outside printable ASCII
// and blanks in the method, path or account are written as %XX.
#ifndef KEL_CONSOLE_ACCESS_LOG_H
#define KEL_CONSOLE_ACCESS_LOG_H

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace kel::console {

struct AccessRecord {
    std::time_t when = 0;
    std::string_view client;
    std::string_view method;
    std::string_view path;
    int status = 0;
    std::uint64_t bytes = 0;
    std::uint64_t milliseconds = 0;
    std::string_view account;
};

std::string FormatAccessLine(const AccessRecord &record);
// Writes the line to `fd`; errors are ignored (the log must never stop a request).
void WriteAccessLine(int fd, const AccessRecord &record);

}  // namespace kel::console

#endif  // KEL_CONSOLE_ACCESS_LOG_H
