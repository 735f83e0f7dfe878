// sessions.cpp: SessionStore and LoginThrottle.
#include "console/sessions.h"

#include "console/account_file.h"

#include <algorithm>
#include <cerrno>
#include <iterator>

#include <sys/random.h>

namespace kel::console {
namespace {

// Throttle records are kept this long after their wait ended.
constexpr std::chrono::minutes kThrottleMemory{15};
// The throttle forgets records beyond this many addresses, oldest wait first.
constexpr std::size_t kThrottleCapacity = 4096;

Clock OrSteady(Clock clock) {
    if (clock) {
        return clock;
    }
    return [] { return std::chrono::steady_clock::now(); };
}

}  // namespace

SessionStore::SessionStore(std::chrono::seconds idle, std::size_t capacity, Clock clock,
                           std::size_t perAccount, std::chrono::seconds lifetime)
    : idle_(idle),
      lifetime_(lifetime),
      capacity_(capacity > 0 ? capacity : 1),
      perAccount_(perAccount > 0 ? perAccount : 1),
      clock_(OrSteady(std::move(clock))) {}

bool SessionStore::IsWellFormedId(std::string_view id) {
    if (id.size() != kSessionIdLength) {
        return false;
    }
    for (char c : id) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            return false;
        }
    }
    return true;
}

bool SessionStore::Expired(const Session &session,
                           std::chrono::steady_clock::time_point now) const {
    return now - session.lastUsed >= idle_ || now - session.started >= lifetime_;
}

void SessionStore::DropExpired(std::chrono::steady_clock::time_point now) {
    for (auto it = sessions_.begin(); it != sessions_.end();) {
        it = Expired(it->second, now) ? sessions_.erase(it) : std::next(it);
    }
}

std::string SessionStore::Create(const std::string &account, unsigned int access,
                                 SessionRefusal *refusal, std::string_view credential) {
    SessionRefusal ignored;
    SessionRefusal &why = refusal != nullptr ? *refusal : ignored;
    why = SessionRefusal::kNone;
    unsigned char random[kSessionIdBytes];
    std::size_t have = 0;
    while (have < sizeof(random)) {
        const ssize_t got = getrandom(random + have, sizeof(random) - have, 0);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            why = SessionRefusal::kNoRandomId;
            return {};
        }
        have += static_cast<std::size_t>(got);
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string id;
    id.reserve(kSessionIdLength);
    for (unsigned char byte : random) {
        id += kHex[byte >> 4];
        id += kHex[byte & 0xF];
    }
    const auto now = clock_();
    std::lock_guard lock(mutex_);
    DropExpired(now);
    // Only the account's own sessions may make room. Taking the place of another account's
    // session would let anyone able to log in, even without rights, log the administrator out by
    // logging in often enough; refusing instead costs only a login, and filling the store takes
    // the passwords of capacity / perAccount accounts.
    while (true) {
        std::size_t own = 0;
        auto oldest = sessions_.end();
        for (auto it = sessions_.begin(); it != sessions_.end(); ++it) {
            if (it->second.account != account) {
                continue;
            }
            ++own;
            if (oldest == sessions_.end() || it->second.lastUsed < oldest->second.lastUsed) {
                oldest = it;
            }
        }
        if (own < perAccount_ && sessions_.size() < capacity_) {
            break;
        }
        if (oldest == sessions_.end()) {
            why = SessionRefusal::kStoreFull;
            return {};
        }
        sessions_.erase(oldest);
    }
    sessions_[id] = {account, access, std::string(credential), now, now};
    return id;
}

std::optional<Session> SessionStore::Use(std::string_view id) {
    if (!IsWellFormedId(id)) {
        return std::nullopt;
    }
    const auto now = clock_();
    std::lock_guard lock(mutex_);
    auto found = sessions_.find(std::string(id));
    if (found == sessions_.end()) {
        return std::nullopt;
    }
    if (Expired(found->second, now)) {
        sessions_.erase(found);
        return std::nullopt;
    }
    found->second.lastUsed = now;
    return found->second;
}

void SessionStore::Remove(std::string_view id) {
    std::lock_guard lock(mutex_);
    sessions_.erase(std::string(id));
}

void SessionStore::EndOutdated(std::string_view account, bool exists, unsigned int access,
                               std::string_view credential) {
    std::lock_guard lock(mutex_);
    for (auto it = sessions_.begin(); it != sessions_.end();) {
        const Session &session = it->second;
        const bool outdated = session.account == account && (!exists || session.access != access ||
                                                             session.credential != credential);
        it = outdated ? sessions_.erase(it) : std::next(it);
    }
}

std::size_t SessionStore::size() const {
    std::lock_guard lock(mutex_);
    return sessions_.size();
}

LoginThrottle::LoginThrottle(std::chrono::milliseconds base, std::chrono::milliseconds longest,
                             Clock clock)
    : base_(base),
      longest_(longest),
      gap_(std::min(3 * base, std::max(base, longest))),
      clock_(OrSteady(std::move(clock))) {}

std::chrono::milliseconds LoginThrottle::Delay(unsigned failures) const {
    auto wait = base_;
    for (unsigned i = 1; i < failures && wait < longest_; ++i) {
        wait *= 2;
    }
    return std::min(wait, longest_);
}

void LoginThrottle::Forget(std::chrono::steady_clock::time_point now) {
    auto stale = [now](const Record &record) {
        return now - std::max(record.until, record.gapUntil) > kThrottleMemory;
    };
    for (auto it = records_.begin(); it != records_.end();) {
        it = stale(it->second) ? records_.erase(it) : std::next(it);
    }
    for (auto it = names_.begin(); it != names_.end();) {
        it = stale(it->second) ? names_.erase(it) : std::next(it);
    }
    if (stale(otherNames_)) {
        otherNames_ = {};
    }
}

LoginThrottle::Record *LoginThrottle::NameRecord(std::string_view name, bool create) {
    if (!IsValidAccountName(name)) {
        return &otherNames_;
    }
    const std::string key(name);
    auto found = names_.find(key);
    if (found != names_.end()) {
        return &found->second;
    }
    if (names_.size() >= kNameCapacity) {
        return &otherNames_;  // nothing is evicted: no flood of names flushes a name's record
    }
    return create ? &names_[key] : nullptr;
}

std::chrono::milliseconds LoginThrottle::Wait(const std::string &address, std::string_view name) {
    const auto now = clock_();
    std::lock_guard lock(mutex_);
    // Rounded up, so that a caller told to wait never comes back a moment too early.
    auto left = [now](std::chrono::steady_clock::time_point until) {
        return std::chrono::ceil<std::chrono::milliseconds>(until - now);
    };
    const auto own = records_.find(address);
    if (own != records_.end() && own->second.until > now) {
        return left(own->second.until);
    }
    Record *found = NameRecord(name, false);
    if (found == nullptr || found->failures == 0 ||
        known_.count(std::string(name) + " " + address) != 0) {
        return std::chrono::milliseconds(0);
    }
    // Every check of a name that has failed holds the name for a gap, so that attempts sent at
    // once are checked one after the other.
    Record &named = *found;
    if (own != records_.end()) {
        if (named.until > now) {
            return left(named.until);
        }
        named.until = now + gap_;
        return std::chrono::milliseconds(0);
    }
    if (named.gapUntil > now) {
        return left(named.gapUntil);
    }
    named.gapUntil = now + gap_;
    return std::chrono::milliseconds(0);
}

LoginThrottle::Record &LoginThrottle::AddressRecord(const std::string &address) {
    if (records_.size() >= kThrottleCapacity && records_.find(address) == records_.end()) {
        auto oldest = records_.begin();
        for (auto it = records_.begin(); it != records_.end(); ++it) {
            if (it->second.until < oldest->second.until) {
                oldest = it;
            }
        }
        records_.erase(oldest);
    }
    return records_[address];
}

void LoginThrottle::Count(Record &record, std::chrono::steady_clock::time_point now) {
    if (record.failures < 31) {
        ++record.failures;
    }
    const auto wait = Delay(record.failures);
    record.until = now + wait;
    record.gapUntil = std::max(record.gapUntil, now + std::min(wait, gap_));
}

void LoginThrottle::Failed(const std::string &address, std::string_view name) {
    const auto now = clock_();
    std::lock_guard lock(mutex_);
    Forget(now);
    Count(AddressRecord(address), now);
    Count(*NameRecord(name, true), now);
}

std::chrono::milliseconds LoginThrottle::WaitAddress(const std::string &address) {
    const auto now = clock_();
    std::lock_guard lock(mutex_);
    const auto own = records_.find(address);
    if (own == records_.end() || own->second.until <= now) {
        return std::chrono::milliseconds(0);
    }
    return std::chrono::ceil<std::chrono::milliseconds>(own->second.until - now);
}

void LoginThrottle::FailedAddress(const std::string &address) {
    const auto now = clock_();
    std::lock_guard lock(mutex_);
    Forget(now);
    Count(AddressRecord(address), now);
}

void LoginThrottle::SucceededAddress(const std::string &address) {
    std::lock_guard lock(mutex_);
    records_.erase(address);
}

void LoginThrottle::Succeeded(const std::string &address, std::string_view name) {
    const auto now = clock_();
    const std::string prefix = std::string(name) + " ";
    std::lock_guard lock(mutex_);
    records_.erase(address);
    std::size_t own = 0;
    auto oldest = known_.end();
    for (auto it = known_.begin(); it != known_.end();) {
        if (now - it->second > kKnownMemory) {
            it = known_.erase(it);
            continue;
        }
        if (it->first.starts_with(prefix)) {
            ++own;
            if (oldest == known_.end() || it->second < oldest->second) {
                oldest = it;
            }
        }
        ++it;
    }
    const std::string key = prefix + address;
    if (own >= kKnownPerName && known_.count(key) == 0) {
        known_.erase(oldest);
    }
    known_[key] = now;
}

}  // namespace kel::console
