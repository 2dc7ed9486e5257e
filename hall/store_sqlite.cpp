// The SQLite back end: one file, in WAL mode, each commit written through to the disk.
//
// synchronous=FULL: in WAL mode NORMAL already keeps every commit through a crash of the hall,
// but may lose the last ones when the machine itself stops; a run answered 201 or 200 must be
// there after either, and one sync of the log a submission is cheap beside its proof.
#include <sqlite3.h>

#include <map>

#include "hall/store_link.h"

namespace {
// Waiting this long for another writer, then answering 503.
constexpr int busy_timeout_ms = 1000;

const std::vector<std::vector<std::string>> sqlite_migrations = {
    {
        "CREATE TABLE runs (seq INTEGER PRIMARY KEY, id TEXT NOT NULL UNIQUE, name BLOB NOT NULL,"
        " seed INTEGER NOT NULL, clock INTEGER NOT NULL, version TEXT NOT NULL,"
        " ending TEXT NOT NULL, level INTEGER NOT NULL, experience INTEGER NOT NULL,"
        " boss INTEGER NOT NULL, keys INTEGER NOT NULL, mode TEXT NOT NULL,"
        " submitted INTEGER NOT NULL, link TEXT NOT NULL)",
        "CREATE INDEX runs_by_day ON runs (seed, submitted)",
        "CREATE TABLE best (name BLOB NOT NULL, seed INTEGER NOT NULL, seq INTEGER NOT NULL,"
        " boss INTEGER NOT NULL, level INTEGER NOT NULL, experience INTEGER NOT NULL,"
        " keys INTEGER NOT NULL, submitted INTEGER NOT NULL, PRIMARY KEY (name, seed))",
        "CREATE INDEX best_by_rank ON best (boss DESC, level DESC, experience DESC, keys,"
        " submitted, seq)",
        "CREATE INDEX best_by_seed ON best (seed, boss DESC, level DESC, experience DESC, keys,"
        " submitted, seq)",
        "CREATE TABLE hall_secret (one INTEGER PRIMARY KEY CHECK (one = 1), secret BLOB NOT NULL)",
    },
};

class SQLITE_LINK : public DATABASE_LINK {
  public:
    explicit SQLITE_LINK(const std::string &path) {
        int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
        if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
            std::string why = db_ ? sqlite3_errmsg(db_) : "out of memory";
            sqlite3_close(db_);
            throw std::runtime_error("Cannot open the database " + path + ": " + why + ".");
        }
        sqlite3_busy_timeout(db_, busy_timeout_ms);
        try {
            run("PRAGMA journal_mode = WAL", {});
            run("PRAGMA synchronous = FULL", {});
        } catch (...) {
            close();
            throw;
        }
    }
    ~SQLITE_LINK() override { close(); }

    std::vector<SQL_ROW> run(std::string_view sql, const std::vector<SQL_VALUE> &values) override {
        sqlite3_stmt *statement = prepared(sql);
        for (std::size_t i = 0; i < values.size(); ++i) {
            const SQL_VALUE &value = values[i];
            int at = static_cast<int>(i + 1);
            if (value.kind == SQL_VALUE::integer)
                sqlite3_bind_int64(statement, at, value.number);
            else if (value.kind == SQL_VALUE::text)
                sqlite3_bind_text(statement, at, value.data.data(), static_cast<int>(value.data.size()),
                                  SQLITE_TRANSIENT);
            else
                sqlite3_bind_blob(statement, at, value.data.data(), static_cast<int>(value.data.size()),
                                  SQLITE_TRANSIENT);
        }
        std::vector<SQL_ROW> rows;
        for (;;) {
            int step = sqlite3_step(statement);
            if (step == SQLITE_DONE) break;
            if (step != SQLITE_ROW) {
                sqlite3_reset(statement);
                sqlite3_clear_bindings(statement);
                fail(step);
            }
            SQL_ROW row;
            int columns = sqlite3_column_count(statement);
            for (int c = 0; c < columns; ++c) {
                if (sqlite3_column_type(statement, c) == SQLITE_INTEGER) {
                    row.push_back(std::to_string(sqlite3_column_int64(statement, c)));
                } else {
                    const void *data = sqlite3_column_blob(statement, c);
                    int size = sqlite3_column_bytes(statement, c);
                    row.emplace_back(static_cast<const char *>(data), data ? size : 0);
                }
            }
            rows.push_back(std::move(row));
        }
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
        return rows;
    }

    void begin_writing() override { run("BEGIN IMMEDIATE", {}); }
    void begin_migrating() override { run("BEGIN IMMEDIATE", {}); }
    const std::vector<std::vector<std::string>> &migrations() const override { return sqlite_migrations; }

  private:
    // Statements are prepared once a connection and kept; their parameters are written $1, $2,
    // ... as for PostgreSQL, which SQLite reads as ?1, ?2, ...
    sqlite3_stmt *prepared(std::string_view sql) {
        auto found = statements_.find(std::string(sql));
        if (found != statements_.end()) return found->second;
        std::string text(sql);
        for (char &c : text)
            if (c == '$') c = '?';
        sqlite3_stmt *statement = nullptr;
        int result =
            sqlite3_prepare_v2(db_, text.c_str(), static_cast<int>(text.size()), &statement, nullptr);
        if (result != SQLITE_OK) fail(result);
        statements_.emplace(std::string(sql), statement);
        return statement;
    }

    [[noreturn]] void fail(int result) {
        int primary = result & 0xFF;
        if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED)
            throw STORE_DOWN("The hall's database is busy; try again in a moment.");
        if (primary == SQLITE_FULL || primary == SQLITE_IOERR || primary == SQLITE_CANTOPEN ||
            primary == SQLITE_READONLY || primary == SQLITE_NOMEM)
            throw STORE_DOWN("The hall's database cannot take anything just now; try again later.");
        throw std::runtime_error(std::string("SQLite: ") + sqlite3_errmsg(db_));
    }

    void close() {
        for (auto &entry : statements_) sqlite3_finalize(entry.second);
        statements_.clear();
        sqlite3_close(db_);
        db_ = nullptr;
    }

    sqlite3 *db_ = nullptr;
    std::map<std::string, sqlite3_stmt *, std::less<>> statements_;
};
}  // namespace

std::unique_ptr<DATABASE_LINK> open_sqlite_link(const std::string &path) {
    return std::make_unique<SQLITE_LINK>(path);
}
