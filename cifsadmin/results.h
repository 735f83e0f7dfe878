// results.h: what a confirmed close or end did, kept in memory for the page the browser is sent
// back to: at most kKeptResults, each for kResultLifetime seconds, shown only to the account
// that made it.
#ifndef KEL2CIFS_CIFSADMIN_RESULTS_H
#define KEL2CIFS_CIFSADMIN_RESULTS_H

#include <cstddef>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace kel2cifs::admin {

inline constexpr std::size_t kKeptResults = 256;
inline constexpr std::time_t kResultLifetime = 600;

struct ResultLine {
    enum Kind {
        kClosed,     // target closed
        kFailed,     // target not closed: reason
        kAlong,      // closed together with a target: reason names them
        kEnded,      // session `target` of `user` ended (reason: what else ended, or "")
        kEndFailed,  // session `target` of `user` not ended: reason
    } kind = kClosed;
    std::string target;  // a path, or a connection number
    std::string user;
    std::string reason;
};

struct ActionResult {
    std::string account;
    std::vector<ResultLine> lines;
};

// Keeps the result and returns its id (16 hexadecimal digits).
std::string KeepResult(ActionResult result);
// The result of that id when it is still kept and was made by `account`.
std::optional<ActionResult> FindResult(const std::string &id, const std::string &account);
// Forgets every result (tests).
void ForgetResults();

}  // namespace kel2cifs::admin

#endif  // KEL2CIFS_CIFSADMIN_RESULTS_H
