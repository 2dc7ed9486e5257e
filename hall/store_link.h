// Inside the store: one connection to a database, as both back ends provide it.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "hall/store.h"

struct SQL_VALUE {
    enum KIND { integer, text, bytes, null } kind = integer;
    long long number = 0;
    std::string data;
};
inline SQL_VALUE sql_integer(long long number) { return {SQL_VALUE::integer, number, {}}; }
inline SQL_VALUE sql_text(std::string data) { return {SQL_VALUE::text, 0, std::move(data)}; }
inline SQL_VALUE sql_bytes(std::string data) { return {SQL_VALUE::bytes, 0, std::move(data)}; }
inline SQL_VALUE sql_null() { return {SQL_VALUE::null, 0, {}}; }

// A row's columns as bytes: integers in decimal, text and blobs as they are kept, NULL empty.
using SQL_ROW = std::vector<std::string>;

// The few words of the schema in which the two databases differ; every other word is the same.
struct SCHEMA_TYPES {
    const char *sequence_key;  // the runs' own number, given by the database to each new run
    const char *big_integer;   // a whole number that may pass 2^31
    const char *bytes;         // bytes kept as they came, not read as text
    // The number of the transaction that writes, taken as it keeps a run: transactions that
    // begin to write later have higher numbers. Zero where writing transactions are one at a
    // time (SQLite), so runs keep the order of their own numbers.
    const char *writer;
    // Every transaction numbered below this has ended, committed or not, as a reader's
    // statement sees the database: a run kept by one of them is already seen, or never will be.
    const char *ended_below;
};

// The connection was lost in the middle of a statement, or can no longer write: the store may
// connect again and repeat the whole transaction once, as every transaction of the hall can be
// repeated safely.
struct LINK_LOST : STORE_DOWN {
    using STORE_DOWN::STORE_DOWN;
};

// Another writer holds the database: the connection itself is sound and goes back to the pool.
// Any other STORE_DOWN from a connection closes it, so no connection that failed is used again.
struct DATABASE_BUSY : STORE_DOWN {
    using STORE_DOWN::STORE_DOWN;
};

class DATABASE_LINK {
  public:
    virtual ~DATABASE_LINK() = default;
    // Runs one statement, its parameters written $1, $2, ...
    virtual std::vector<SQL_ROW> run(std::string_view sql, const std::vector<SQL_VALUE> &values) = 0;
    // Starts a transaction that will write, holding what it must for that.
    virtual void begin_writing() = 0;
    // Commits a transaction begun by begin_writing(); throws STORE_DOWN, and commits nothing,
    // when the database cannot keep what it commits (a SQLite file deleted under the hall).
    virtual void commit_writing() { run("COMMIT", {}); }
    // Starts the transaction that brings the schema up to date; one hall at a time.
    virtual void begin_migrating() = 0;
    // The database's words for the schema's columns that differ between the back ends.
    virtual const SCHEMA_TYPES &schema_types() const = 0;
    // Sends a notice of the live games to the halls listening, when the transaction under way
    // commits; nothing on a database that has no listeners.
    virtual void notify(const std::string &) {}
};

// The channel on which the halls sharing a PostgreSQL database tell each other of live games.
inline constexpr const char *LIVE_CHANNEL = "marrowdeep_live";

// The SQL that fills best_daily from the runs kept (the schema's second migration): the best run
// of each UTC day, seed and name, by the boards' ranking.
extern const char *const FILL_BEST_DAILY;

// Each migration of the hall's schema, its number and its statements in the words of one
// database, in the order of their numbers (which may skip one).
std::vector<std::pair<int, std::vector<std::string>>> schema_migrations(const SCHEMA_TYPES &types);
// A statement with the database's own words in place of {key}, {big}, {bytes}, {writer} and
// {ended_below}.
std::string in_words_of(std::string_view statement, const SCHEMA_TYPES &types);

// Opens each connection of a store's pool.
using LINK_MAKER = std::function<std::unique_ptr<DATABASE_LINK>()>;
// The SQLite file at `path`: the first connection makes it when it is missing and notes which
// file it is; every later one opens that same file or throws STORE_DOWN.
LINK_MAKER sqlite_links(const std::string &path);
LINK_MAKER postgres_links(const std::string &uri);
// One connection on its own (the benchmark fills the tables through one).
std::unique_ptr<DATABASE_LINK> open_sqlite_link(const std::string &path);
std::unique_ptr<DATABASE_LINK> open_postgres_link(const std::string &uri);
