// The SQLite back end: one file, in WAL mode, each commit written through to the disk.
//
// synchronous=FULL: in WAL mode NORMAL already keeps every commit through a crash of the hall,
// but may lose the last ones when the machine itself stops; a run answered 201 or 200 must be
// there after either, and one sync of the log a submission is cheap beside its proof.
//
// The file is made only when the store opens it first. Each connection the pool opens after that
// must find the same file (the same device and inode) and never makes one: a file deleted under
// the hall would otherwise come back empty, without tables. Before and after each commit of a
// write the path is looked at again, so nothing is committed into a file that is gone, and no
// run is answered as kept in one.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

#include "hall/store_link.h"

namespace {
// Waiting this long for another writer, then answering 503.
constexpr int busy_timeout_ms = 1000;

const char *const cannot_take = "The hall's database cannot take anything just now; try again later.";
const char *const file_gone =
    "The hall's database file is gone; no run can be kept until the hall is set right.";

// SQLite's INTEGER holds 64 bits already, and a column INTEGER PRIMARY KEY is the row's own
// number, which SQLite gives each new row. Its writing transactions are one at a time, each
// ended before the next begins: all are numbered 0, and every one is ended for a reader.
const SCHEMA_TYPES sqlite_types{"INTEGER PRIMARY KEY", "INTEGER", "BLOB", "0", "9223372036854775807"};

// The database file as the store first opened it, shared by its connections. It is held open
// here as long as any of them is, so its inode cannot be freed and given to a file made in its
// place, and its count of links tells whether it was deleted. (Closing a descriptor of a file
// drops every lock of the process on it: this one is closed only once no connection of the
// store is open.)
struct SQLITE_FILE {
    std::string path;
    std::mutex mutex;
    int fd = -1;                    // from the first connection's opening on
    std::atomic<bool> told{false};  // the keeper read that it is gone

    ~SQLITE_FILE() {
        if (fd >= 0) ::close(fd);
    }

    // Throws STORE_DOWN unless the path still names the file first opened, and it has links.
    void check() {
        struct stat held = {};
        struct stat now = {};
        const char *trouble = nullptr;
        if (::fstat(fd, &held) != 0 || held.st_nlink == 0)
            trouble = "was deleted";
        else if (::stat(path.c_str(), &now) != 0)
            trouble = errno == ENOENT ? "was moved away" : "cannot be looked at";
        else if (now.st_dev != held.st_dev || now.st_ino != held.st_ino)
            trouble = "was replaced by another file";
        if (!trouble) {
            told.store(false, std::memory_order_relaxed);
            return;
        }
        if (!told.exchange(true))
            std::fprintf(
                stderr,
                "marrowdeep-hall: the database file %s %s under the hall; no run is kept until it is "
                "set right.\n",
                path.c_str(), trouble);
        throw STORE_DOWN(file_gone);
    }
};

class SQLITE_LINK : public DATABASE_LINK {
  public:
    // `file`: the file the store opened first, which this connection must keep to; none for a
    // connection of its own.
    SQLITE_LINK(const std::string &path, bool create, std::shared_ptr<SQLITE_FILE> file)
        : file_(std::move(file)) {
        int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
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
            if (value.kind == SQL_VALUE::null)
                sqlite3_bind_null(statement, at);
            else if (value.kind == SQL_VALUE::integer)
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

    void begin_writing() override {
        // A connection opened while the file could not be written (read-only, or immutable)
        // stays read-only for good: the store opens another, which sees the file as it is now.
        if (sqlite3_db_readonly(db_, "main") == 1) throw LINK_LOST(cannot_take);
        run("BEGIN IMMEDIATE", {});
    }
    void commit_writing() override {
        if (file_) file_->check();
        run("COMMIT", {});
        // Deleted in the moment of the commit: the run is in no file anyone can open.
        if (file_) file_->check();
    }
    void begin_migrating() override { run("BEGIN IMMEDIATE", {}); }
    const SCHEMA_TYPES &schema_types() const override { return sqlite_types; }

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
            throw DATABASE_BUSY("The hall's database is busy; try again in a moment.");
        if (primary == SQLITE_FULL || primary == SQLITE_IOERR || primary == SQLITE_CANTOPEN ||
            primary == SQLITE_READONLY || primary == SQLITE_NOMEM)
            throw STORE_DOWN(cannot_take);
        throw std::runtime_error(std::string("SQLite: ") + sqlite3_errmsg(db_));
    }

    void close() {
        for (auto &entry : statements_) sqlite3_finalize(entry.second);
        statements_.clear();
        sqlite3_close(db_);
        db_ = nullptr;
    }

    std::shared_ptr<SQLITE_FILE> file_;
    sqlite3 *db_ = nullptr;
    std::map<std::string, sqlite3_stmt *, std::less<>> statements_;
};
}  // namespace

LINK_MAKER sqlite_links(const std::string &path) {
    auto file = std::make_shared<SQLITE_FILE>();
    file->path = path;
    return [file]() -> std::unique_ptr<DATABASE_LINK> {
        std::unique_lock lock(file->mutex);
        if (file->fd < 0) {
            auto link = std::make_unique<SQLITE_LINK>(file->path, true, file);
            file->fd = ::open(file->path.c_str(), O_RDONLY | O_CLOEXEC);
            if (file->fd < 0)
                throw std::runtime_error("Cannot open the database " + file->path + ": " +
                                         std::strerror(errno) + ".");
            return link;
        }
        lock.unlock();
        // Looked at before the file is opened (so a missing one is told as gone) and after (so
        // one put in its place between the two is not taken for it).
        file->check();
        auto link = std::make_unique<SQLITE_LINK>(file->path, false, file);
        file->check();
        return link;
    };
}

std::unique_ptr<DATABASE_LINK> open_sqlite_link(const std::string &path) {
    return std::make_unique<SQLITE_LINK>(path, true, nullptr);
}
