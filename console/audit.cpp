// audit.cpp: the audit trail on SQLite.
#include "console/audit.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace kel::console {
namespace {

constexpr int kBusyTimeoutMs = 10000;

constexpr char kSchema[] =
    "CREATE TABLE IF NOT EXISTS records ("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " time INTEGER NOT NULL,"
    " account TEXT NOT NULL,"
    " via_token INTEGER NOT NULL,"
    " client TEXT NOT NULL,"
    " action TEXT NOT NULL,"
    " status INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS targets ("
    " record INTEGER NOT NULL REFERENCES records(id),"
    " position INTEGER NOT NULL,"
    " action TEXT NOT NULL,"
    " target TEXT NOT NULL,"
    " result TEXT NOT NULL,"
    " PRIMARY KEY (record, position));"
    "CREATE INDEX IF NOT EXISTS records_time ON records(time);"
    "CREATE TRIGGER IF NOT EXISTS records_kept BEFORE DELETE ON records"
    " BEGIN SELECT RAISE(ABORT, 'audit records are kept'); END;"
    "CREATE TRIGGER IF NOT EXISTS targets_kept BEFORE DELETE ON targets"
    " BEGIN SELECT RAISE(ABORT, 'audit records are kept'); END;"
    "CREATE TRIGGER IF NOT EXISTS targets_fixed BEFORE UPDATE ON targets"
    " BEGIN SELECT RAISE(ABORT, 'audit records are kept'); END;"
    "CREATE TRIGGER IF NOT EXISTS records_fixed BEFORE UPDATE ON records"
    " WHEN OLD.status != 0 OR NEW.id != OLD.id OR NEW.time != OLD.time"
    " OR NEW.account != OLD.account OR NEW.via_token != OLD.via_token"
    " OR NEW.client != OLD.client OR NEW.action != OLD.action"
    " BEGIN SELECT RAISE(ABORT, 'audit records are kept'); END;";

// `text` cut to at most kMaxAuditText bytes, not inside a UTF-8 sequence.
std::string_view Bounded(std::string_view text) {
    if (text.size() <= kMaxAuditText) {
        return text;
    }
    std::size_t end = kMaxAuditText;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    return text.substr(0, end);
}

// A prepared statement, finalised when it goes.
class Statement {
  public:
    Statement(sqlite3 *db, const std::string &sql) {
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement_, nullptr) != SQLITE_OK) {
            statement_ = nullptr;
        }
    }
    ~Statement() { sqlite3_finalize(statement_); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    bool ok() const { return statement_ != nullptr; }
    sqlite3_stmt *get() const { return statement_; }
    bool Bind(int index, std::string_view text) {
        const std::string_view kept = Bounded(text);
        return sqlite3_bind_text(statement_, index, kept.data(), static_cast<int>(kept.size()),
                                 SQLITE_TRANSIENT) == SQLITE_OK;
    }
    bool Bind(int index, std::int64_t value) {
        return sqlite3_bind_int64(statement_, index, value) == SQLITE_OK;
    }
    std::string Text(int column) const {
        const unsigned char *text = sqlite3_column_text(statement_, column);
        const int size = sqlite3_column_bytes(statement_, column);
        return text != nullptr ? std::string(reinterpret_cast<const char *>(text),
                                             static_cast<std::size_t>(size))
                               : std::string();
    }

  private:
    sqlite3_stmt *statement_ = nullptr;
};

bool MakeDirectory(const std::string &dir, std::string *error) {
    if (dir.empty()) {
        return true;
    }
    struct stat st {};
    if (stat(dir.c_str(), &st) == 0) {
        return true;
    }
    const std::size_t slash = dir.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !MakeDirectory(dir.substr(0, slash), error)) {
        return false;
    }
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        *error = "cannot create directory " + dir + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace

std::unique_ptr<AuditStore> AuditStore::Open(const std::string &directory, std::string *error) {
    std::string path = ":memory:";
    if (!directory.empty()) {
        if (!MakeDirectory(directory, error)) {
            return nullptr;
        }
        path = directory + "/" + kAuditFileName;
    }
    sqlite3 *db = nullptr;
    const int flags =
        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX | SQLITE_OPEN_NOFOLLOW;
    const mode_t previous = umask(077);  // the database and its WAL files: the console's only
    const int opened = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
    umask(previous);
    if (opened != SQLITE_OK) {
        *error = "cannot open the audit trail " + path + ": " +
                 (db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(opened));
        sqlite3_close(db);
        return nullptr;
    }
    std::unique_ptr<AuditStore> store(new AuditStore(db));
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    if (!store->Execute("PRAGMA journal_mode=WAL") || !store->Execute("PRAGMA synchronous=FULL") ||
        !store->Execute("PRAGMA foreign_keys=ON") || !store->Execute(kSchema)) {
        *error = "cannot open the audit trail " + path + ": " + store->error_;
        return nullptr;
    }
    return store;
}

AuditStore::~AuditStore() {
    sqlite3_close(db_);
}

bool AuditStore::Execute(const char *sql) {
    char *message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        error_ = message != nullptr ? message : sqlite3_errmsg(db_);
        sqlite3_free(message);
        return false;
    }
    return true;
}

std::string AuditStore::LastError() {
    std::lock_guard lock(mutex_);
    return error_;
}

std::int64_t AuditStore::Begin(std::int64_t time, std::string_view account, bool viaToken,
                               std::string_view client, std::string_view action) {
    std::lock_guard lock(mutex_);
    Statement insert(db_,
                     "INSERT INTO records (time, account, via_token, client, action, status) "
                     "VALUES (?, ?, ?, ?, ?, 0)");
    if (!insert.ok() || !insert.Bind(1, time) || !insert.Bind(2, account) ||
        !insert.Bind(3, std::int64_t{viaToken ? 1 : 0}) || !insert.Bind(4, client) ||
        !insert.Bind(5, action) || sqlite3_step(insert.get()) != SQLITE_DONE) {
        error_ = sqlite3_errmsg(db_);
        return 0;
    }
    return sqlite3_last_insert_rowid(db_);
}

bool AuditStore::Finish(std::int64_t id, const std::vector<AuditTarget> &targets, int status) {
    std::lock_guard lock(mutex_);
    if (!Execute("BEGIN IMMEDIATE")) {
        return false;
    }
    bool ok = true;
    std::int64_t position = 0;
    for (const AuditTarget &target : targets) {
        Statement insert(db_,
                         "INSERT INTO targets (record, position, action, target, result) "
                         "VALUES (?, ?, ?, ?, ?)");
        ok = insert.ok() && insert.Bind(1, id) && insert.Bind(2, position++) &&
             insert.Bind(3, target.action) && insert.Bind(4, target.target) &&
             insert.Bind(5, target.result) && sqlite3_step(insert.get()) == SQLITE_DONE;
        if (!ok) {
            break;
        }
    }
    if (ok) {
        Statement update(db_, "UPDATE records SET status = ? WHERE id = ? AND status = 0");
        ok = update.ok() && update.Bind(1, std::int64_t{status}) && update.Bind(2, id) &&
             sqlite3_step(update.get()) == SQLITE_DONE && sqlite3_changes(db_) == 1;
    }
    if (!ok) {
        error_ = sqlite3_errmsg(db_);
        Execute("ROLLBACK");
        return false;
    }
    return Execute("COMMIT") || (Execute("ROLLBACK"), false);
}

bool AuditStore::Query(const AuditFilter &filter, std::vector<AuditRecord> *items,
                       std::size_t *total) {
    items->clear();
    *total = 0;
    std::string where = " WHERE 1";
    if (filter.from != 0) {
        where += " AND time >= :from";
    }
    if (filter.to != 0) {
        where += " AND time < :to";
    }
    if (!filter.account.empty()) {
        where += " AND account = :account";
    }
    if (!filter.action.empty()) {
        // The request's own action or one of its targets' ("close file", "end session").
        where +=
            " AND (action = :action OR id IN (SELECT record FROM targets WHERE action = :action))";
    }
    const auto bind = [&filter](Statement &statement) {
        sqlite3_stmt *raw = statement.get();
        bool ok = true;
        if (int at = sqlite3_bind_parameter_index(raw, ":from"); at > 0) {
            ok = ok && statement.Bind(at, filter.from);
        }
        if (int at = sqlite3_bind_parameter_index(raw, ":to"); at > 0) {
            ok = ok && statement.Bind(at, filter.to);
        }
        if (int at = sqlite3_bind_parameter_index(raw, ":account"); at > 0) {
            ok = ok && statement.Bind(at, std::string_view(filter.account));
        }
        if (int at = sqlite3_bind_parameter_index(raw, ":action"); at > 0) {
            ok = ok && statement.Bind(at, std::string_view(filter.action));
        }
        return ok;
    };
    std::lock_guard lock(mutex_);
    // One read transaction, so that the count and the rows agree.
    if (!Execute("BEGIN")) {
        return false;
    }
    bool ok = true;
    {
        Statement count(db_, "SELECT count(*) FROM records" + where);
        ok = count.ok() && bind(count) && sqlite3_step(count.get()) == SQLITE_ROW;
        if (ok) {
            *total = static_cast<std::size_t>(sqlite3_column_int64(count.get(), 0));
        }
    }
    if (ok) {
        Statement rows(db_,
                       "SELECT id, time, account, via_token, client, action, status FROM records" +
                           where + " ORDER BY id DESC LIMIT :limit OFFSET :offset");
        ok = rows.ok() && bind(rows) &&
             rows.Bind(sqlite3_bind_parameter_index(rows.get(), ":limit"),
                       static_cast<std::int64_t>(filter.limit)) &&
             rows.Bind(sqlite3_bind_parameter_index(rows.get(), ":offset"),
                       static_cast<std::int64_t>(filter.offset));
        int step = SQLITE_ROW;
        while (ok && (step = sqlite3_step(rows.get())) == SQLITE_ROW) {
            AuditRecord record;
            record.id = sqlite3_column_int64(rows.get(), 0);
            record.time = sqlite3_column_int64(rows.get(), 1);
            record.account = rows.Text(2);
            record.viaToken = sqlite3_column_int(rows.get(), 3) != 0;
            record.client = rows.Text(4);
            record.action = rows.Text(5);
            record.status = sqlite3_column_int(rows.get(), 6);
            items->push_back(std::move(record));
        }
        ok = ok && step == SQLITE_DONE;
    }
    if (ok) {
        Statement targets(db_,
                          "SELECT action, target, result FROM targets WHERE record = ? "
                          "ORDER BY position");
        for (AuditRecord &record : *items) {
            ok = ok && targets.ok() && sqlite3_reset(targets.get()) == SQLITE_OK &&
                 targets.Bind(1, record.id);
            int step = SQLITE_ROW;
            while (ok && (step = sqlite3_step(targets.get())) == SQLITE_ROW) {
                record.targets.push_back({targets.Text(0), targets.Text(1), targets.Text(2)});
            }
            ok = ok && step == SQLITE_DONE;
        }
    }
    if (!ok) {
        error_ = sqlite3_errmsg(db_);
    }
    Execute("COMMIT");
    return ok;
}

}  // namespace kel::console
