#include "cifsadmin/results.h"

#include <cinttypes>
#include <cstdio>
#include <deque>
#include <mutex>
#include <random>

#include "cifsadmin/calls.h"

namespace kel2cifs::admin {
namespace {

struct Kept {
    std::string id;
    std::time_t at = 0;
    ActionResult result;
};

struct Store {
    std::mutex mutex;
    std::deque<Kept> kept;
    std::mt19937_64 ids{std::random_device{}()};
};

// Made on first use, never before a request; destroyed with the library.
Store &TheStore() {
    static Store store;
    return store;
}

void DropExpired(Store &store, std::time_t now) {
    while (!store.kept.empty() &&
           (store.kept.size() > kKeptResults || now - store.kept.front().at > kResultLifetime ||
            store.kept.front().at > now)) {
        store.kept.pop_front();
    }
}

}  // namespace

std::string KeepResult(ActionResult result) {
    Store &store = TheStore();
    const std::time_t now = Use().now(nullptr);
    std::lock_guard<std::mutex> lock(store.mutex);
    char id[17];
    std::snprintf(id, sizeof id, "%016" PRIx64, static_cast<std::uint64_t>(store.ids()));
    store.kept.push_back(Kept{id, now, std::move(result)});
    DropExpired(store, now);
    return id;
}

std::optional<ActionResult> FindResult(const std::string &id, const std::string &account) {
    Store &store = TheStore();
    const std::time_t now = Use().now(nullptr);
    std::lock_guard<std::mutex> lock(store.mutex);
    DropExpired(store, now);
    for (const Kept &kept : store.kept) {
        if (kept.id == id && kept.result.account == account) {
            return kept.result;
        }
    }
    return std::nullopt;
}

void ForgetResults() {
    Store &store = TheStore();
    std::lock_guard<std::mutex> lock(store.mutex);
    store.kept.clear();
}

}  // namespace kel2cifs::admin
