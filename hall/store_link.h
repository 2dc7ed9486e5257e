// Inside the store: one connection to a database, as both back ends provide it.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "hall/store.h"

struct SQL_VALUE {
    enum KIND { integer, text, bytes } kind = integer;
    long long number = 0;
    std::string data;
};
inline SQL_VALUE sql_integer(long long number) { return {SQL_VALUE::integer, number, {}}; }
inline SQL_VALUE sql_text(std::string data) { return {SQL_VALUE::text, 0, std::move(data)}; }
inline SQL_VALUE sql_bytes(std::string data) { return {SQL_VALUE::bytes, 0, std::move(data)}; }

// A row's columns as bytes: integers in decimal, text and blobs as they are kept.
using SQL_ROW = std::vector<std::string>;

// The connection was lost in the middle of a statement: the store may connect again and repeat
// the whole transaction once, as every transaction of the hall can be repeated safely.
struct LINK_LOST : STORE_DOWN {
    using STORE_DOWN::STORE_DOWN;
};

class DATABASE_LINK {
  public:
    virtual ~DATABASE_LINK() = default;
    // Runs one statement, its parameters written $1, $2, ...
    virtual std::vector<SQL_ROW> run(std::string_view sql, const std::vector<SQL_VALUE> &values) = 0;
    // Starts a transaction that will write, holding what it must for that.
    virtual void begin_writing() = 0;
    // Starts the transaction that brings the schema up to date; one hall at a time.
    virtual void begin_migrating() = 0;
    // The statements of each migration, the first one at [0].
    virtual const std::vector<std::vector<std::string>> &migrations() const = 0;
};

using LINK_MAKER = std::unique_ptr<DATABASE_LINK> (*)(const std::string &where);
std::unique_ptr<DATABASE_LINK> open_sqlite_link(const std::string &path);
std::unique_ptr<DATABASE_LINK> open_postgres_link(const std::string &uri);
