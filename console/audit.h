// audit.h: the audit trail, the console's record of every request that changes something.
//
// The records live in an SQLite database (one file, audit.db, in the console's state
// directory). One connection serves the whole process, under a mutex; the database runs in WAL
// mode with full synchronisation, so that a committed record survives a crash, and waits (busy
// timeout) for another process that holds the write lock, such as a token command.
//
// A request is recorded in two steps, each one committed transaction: Begin writes the record
// (time, account, client, action) before anything runs, with status 0; Finish adds the targets
// the request reported and its answer's status. A request whose Begin fails is refused before it
// runs, so that nothing is done unrecorded; a record whose Finish failed keeps status 0, which the
// Audit Trail page shows as unfinished. Records are never changed otherwise nor deleted: the
// database refuses a DELETE and any UPDATE but Finish's (triggers).
#ifndef KEL_CONSOLE_AUDIT_H
#define KEL_CONSOLE_AUDIT_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace kel::console {

inline constexpr char kAuditFileName[] = "audit.db";
// The longest text kept of each field; longer ones are cut (at a character boundary).
inline constexpr std::size_t kMaxAuditText = 1024;

struct AuditTarget {
    std::string action;
    std::string target;
    std::string result;
};

struct AuditRecord {
    std::int64_t id = 0;
    std::int64_t time = 0;  // seconds since the epoch
    std::string account;
    bool viaToken = false;
    std::string client;
    std::string action;
    int status = 0;  // 0: the request did not finish
    std::vector<AuditTarget> targets;
};

// Which records a query returns: time in [from, to) (0: unbounded), account and action equal to
// the given ones (empty: any), newest first from `offset`, at most `limit`.
struct AuditFilter {
    std::int64_t from = 0;
    std::int64_t to = 0;
    std::string account;
    std::string action;
    std::size_t offset = 0;
    std::size_t limit = 100;
};

class AuditStore {
  public:
    // Opens (creating it and its directory, mode 0700, when missing) the database of `directory`;
    // an empty directory gives a database in memory, which ends with the store. Null with *error
    // when it cannot be opened.
    static std::unique_ptr<AuditStore> Open(const std::string &directory, std::string *error);
    ~AuditStore();
    AuditStore(const AuditStore &) = delete;
    AuditStore &operator=(const AuditStore &) = delete;

    // Writes a new record with status 0; its id, or 0 when it could not be written.
    std::int64_t Begin(std::int64_t time, std::string_view account, bool viaToken,
                       std::string_view client, std::string_view action);
    // Adds the targets and the status to record `id`; false when that could not be written.
    bool Finish(std::int64_t id, const std::vector<AuditTarget> &targets, int status);
    // The records the filter selects into *items and how many there are in all into *total.
    bool Query(const AuditFilter &filter, std::vector<AuditRecord> *items, std::size_t *total);
    // The last error's text.
    std::string LastError();

  private:
    explicit AuditStore(sqlite3 *db) : db_(db) {}
    bool Execute(const char *sql);

    std::mutex mutex_;
    sqlite3 *db_ = nullptr;
    std::string error_;
};

}  // namespace kel::console

#endif  // KEL_CONSOLE_AUDIT_H
