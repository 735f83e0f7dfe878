// sessions.h: login sessions and the delay after failed logins.
//
// A session id is 256 bits from the kernel's random source, written as 64 lower-case hexadecimal
// digits; it is the whole value of the session cookie. A session ends when it has not been used
// for the idle time, at logout, or when a new login of the same account needs its place: an
// account holds at most `perAccount` sessions, and a login beyond that, or into a full store,
// ends that account's least recently used session. A login never ends another account's
// session; into a full store holding none of its own it is refused. Time comes from a clock the
// owner chooses (tests pass their own). Both classes are safe to use from several threads.
#ifndef KEL_CONSOLE_SESSIONS_H
#define KEL_CONSOLE_SESSIONS_H

#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace kel::console {

using Clock = std::function<std::chrono::steady_clock::time_point()>;

inline constexpr std::size_t kSessionIdBytes = 32;
inline constexpr std::size_t kSessionIdLength = 2 * kSessionIdBytes;
inline constexpr std::size_t kDefaultSessionsPerAccount = 8;

struct Session {
    std::string account;
    unsigned int access = 0;
    std::chrono::steady_clock::time_point lastUsed;
};

// Why Create started no session.
enum class SessionRefusal {
    kNone,
    kStoreFull,   // every place is taken by other accounts' live sessions
    kNoRandomId,  // the kernel's random source failed
};

class SessionStore {
  public:
    // `capacity` and `perAccount` of 0 count as 1.
    SessionStore(std::chrono::seconds idle, std::size_t capacity, Clock clock,
                 std::size_t perAccount = kDefaultSessionsPerAccount);

    // A new session for the account: its id, or empty with *refusal (when given) saying why.
    std::string Create(const std::string &account, unsigned int access,
                       SessionRefusal *refusal = nullptr);
    // The session of `id` when it is live, marking it used now; an expired one is removed.
    std::optional<Session> Use(std::string_view id);
    void Remove(std::string_view id);
    std::size_t size() const;

    static bool IsWellFormedId(std::string_view id);

  private:
    void DropExpired(std::chrono::steady_clock::time_point now);

    mutable std::mutex mutex_;
    std::chrono::seconds idle_;
    std::size_t capacity_;
    std::size_t perAccount_;
    Clock clock_;
    std::unordered_map<std::string, Session> sessions_;
};

// Failed logins, per client address. After the n-th failure in a row the address must wait
// base * 2^(n-1) (at most `longest`) before its next attempt is even checked; a successful
// login clears the record. Records of addresses that stayed quiet for a while are forgotten.
class LoginThrottle {
  public:
    LoginThrottle(std::chrono::milliseconds base, std::chrono::milliseconds longest, Clock clock);

    // Zero when `address` may try now, else how long it still has to wait.
    std::chrono::milliseconds Wait(const std::string &address);
    void Failed(const std::string &address);
    void Succeeded(const std::string &address);

  private:
    struct Record {
        unsigned failures = 0;
        std::chrono::steady_clock::time_point until;
    };

    std::mutex mutex_;
    std::chrono::milliseconds base_;
    std::chrono::milliseconds longest_;
    Clock clock_;
    std::unordered_map<std::string, Record> records_;
};

}  // namespace kel::console

#endif  // KEL_CONSOLE_SESSIONS_H
