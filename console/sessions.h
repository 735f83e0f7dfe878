// sessions.h: login sessions and the delay after failed logins.
//
// A session id is 256 bits from the kernel's random source, written as 64 lower-case hexadecimal
// digits; it is the whole value of the session cookie. A session ends when it has not been used
// for the idle time, when it is older than its lifetime however much it is used, at logout, when
// the account it belongs to changed (EndOutdated), or when a new login of the same account needs
// its place: an
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
inline constexpr std::chrono::seconds kDefaultSessionLifetime{12 * 3600};

struct Session {
    std::string account;
    unsigned int access = 0;
    // The account's password hash when the session began: a new password ends the session.
    std::string credential;
    std::chrono::steady_clock::time_point started;
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
                 std::size_t perAccount = kDefaultSessionsPerAccount,
                 std::chrono::seconds lifetime = kDefaultSessionLifetime);

    // A new session for the account: its id, or empty with *refusal (when given) saying why.
    std::string Create(const std::string &account, unsigned int access,
                       SessionRefusal *refusal = nullptr, std::string_view credential = {});
    // The session of `id` when it is live, marking it used now; an expired one is removed.
    std::optional<Session> Use(std::string_view id);
    void Remove(std::string_view id);
    // Ends the sessions of `account` that began with another access word or credential than
    // the given ones; with `exists` false, every session of the account.
    void EndOutdated(std::string_view account, bool exists, unsigned int access,
                     std::string_view credential);
    std::size_t size() const;

    static bool IsWellFormedId(std::string_view id);

  private:
    void DropExpired(std::chrono::steady_clock::time_point now);
    bool Expired(const Session &session, std::chrono::steady_clock::time_point now) const;

    mutable std::mutex mutex_;
    std::chrono::seconds idle_;
    std::chrono::seconds lifetime_;
    std::size_t capacity_;
    std::size_t perAccount_;
    Clock clock_;
    std::unordered_map<std::string, Session> sessions_;
};

// Failed logins, per client address and per account name.
//
// After the n-th failure in a row from an address, that address waits base * 2^(n-1) (at most
// `longest`) before its next attempt is even checked; a successful login clears the address's
// record. Failures at a name count the same way for the name, whatever the addresses: while the
// name waits, an address that has failed before (at any name) is not checked for it at all, and
// an address that has not gets one check of the name per `gap` (3 * base, at most `longest`), so
// that rotating source addresses buys one guess per gap and the owner of the name, from an
// address that did not fail, waits at most one gap. A success does not clear the name's record;
// it makes the address known for the name instead (at most kKnownPerName addresses a name, for
// kKnownMemory): from a known address only the address's own record holds the name back, so
// the owner is not kept out of his account by an attack on it from elsewhere. Records are
// forgotten a while after their wait ended; the names kept are capped, and names
// beyond the cap (and names that are no account name at all) share one record.
class LoginThrottle {
  public:
    LoginThrottle(std::chrono::milliseconds base, std::chrono::milliseconds longest, Clock clock);

    // Zero when `address` may try `name` now (which counts as the name's check of the gap),
    // else how long it still has to wait.
    std::chrono::milliseconds Wait(const std::string &address, std::string_view name);
    void Failed(const std::string &address, std::string_view name);
    void Succeeded(const std::string &address, std::string_view name);
    // The same for API tokens, which name no account: the address's record only, so that wrong
    // tokens from some addresses never hold back a token from another.
    std::chrono::milliseconds WaitAddress(const std::string &address);
    void FailedAddress(const std::string &address);
    void SucceededAddress(const std::string &address);

    // At most this many names have records of their own.
    static constexpr std::size_t kNameCapacity = 4096;
    // Addresses a name logged in from that are remembered, and for how long.
    static constexpr std::size_t kKnownPerName = 4;
    static constexpr std::chrono::hours kKnownMemory{30 * 24};

  private:
    struct Record {
        unsigned failures = 0;
        std::chrono::steady_clock::time_point until;
        std::chrono::steady_clock::time_point gapUntil;  // names: the next unfailed address
    };

    void Forget(std::chrono::steady_clock::time_point now);
    // Requires mutex_: the record of `address`, making room for it when the records are full.
    Record &AddressRecord(const std::string &address);
    void Count(Record &record, std::chrono::steady_clock::time_point now);
    // The record of `name` (the shared one for names beyond the cap); null when it has none and
    // `create` is false.
    Record *NameRecord(std::string_view name, bool create);
    std::chrono::milliseconds Delay(unsigned failures) const;

    std::mutex mutex_;
    std::chrono::milliseconds base_;
    std::chrono::milliseconds longest_;
    std::chrono::milliseconds gap_;
    Clock clock_;
    std::unordered_map<std::string, Record> records_;
    std::unordered_map<std::string, Record> names_;
    Record otherNames_;
    // Successful logins: "NAME ADDRESS" and when. Only a right password adds one, and a name
    // keeps kKnownPerName of them, so no one can push out the addresses of another's name.
    std::unordered_map<std::string, std::chrono::steady_clock::time_point> known_;
};

}  // namespace kel::console

#endif  // KEL_CONSOLE_SESSIONS_H
