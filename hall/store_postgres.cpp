// The PostgreSQL back end: several halls may share one database behind a load balancer. A
// connection that breaks (the server stopped or restarted) is dropped; the next request
// connects again, so the hall goes on by itself once the database is back.
#include <libpq-fe.h>

#include <cstdio>
#include <map>

#include "hall/store_link.h"

namespace {
// Giving up on a connection attempt after this many seconds, so a request that finds the
// database gone answers 503 soon.
const char *const connect_timeout_seconds = "3";
// PostgreSQL's type number of bytea, whose text form the client turns back into bytes.
constexpr Oid bytea_type = 17;
// The lock that lets one hall at a time bring the schema up to date.
const char *const migration_lock = "SELECT pg_advisory_xact_lock(7285412631)";

// PostgreSQL's INTEGER holds 32 bits: seeds, experience, keys, seconds and runs' numbers are
// BIGINT; a BIGSERIAL numbers the runs; bytes are BYTEA. A transaction's number is its 64-bit
// id, given as it first writes (ids are given in order, and never wrap round); a statement's
// snapshot knows the lowest id of a transaction still under way, and every one below it has
// ended.
const SCHEMA_TYPES postgres_types{"BIGSERIAL PRIMARY KEY", "BIGINT", "BYTEA",
                                  "pg_current_xact_id()::text::bigint",
                                  "pg_snapshot_xmin(pg_current_snapshot())::text::bigint"};

const char *const unreachable = "The hall cannot reach its database just now; try again soon.";

class POSTGRES_LINK : public DATABASE_LINK {
  public:
    explicit POSTGRES_LINK(const std::string &uri) {
        // The URI comes after our own time limit, so a limit written in it wins.
        const char *keywords[] = {"connect_timeout", "dbname", nullptr};
        const char *values[] = {connect_timeout_seconds, uri.c_str(), nullptr};
        connection_ = PQconnectdbParams(keywords, values, 1);
        if (PQstatus(connection_) != CONNECTION_OK) {
            std::string why = PQerrorMessage(connection_);
            PQfinish(connection_);
            connection_ = nullptr;
            // The reason is for the hall's keeper, on standard error; the player gets the sentence.
            for (char &c : why)
                if (c == '\n' || c == '\t') c = ' ';
            std::fprintf(stderr, "marrowdeep-hall: PostgreSQL: %s\n", why.c_str());
            throw STORE_DOWN(unreachable);
        }
        // Quiet: no notices on standard error for tables that already exist.
        PQsetNoticeProcessor(
            connection_, [](void *, const char *) {}, nullptr);
    }
    ~POSTGRES_LINK() override { PQfinish(connection_); }

    std::vector<SQL_ROW> run(std::string_view sql, const std::vector<SQL_VALUE> &values) override {
        std::vector<std::string> texts(values.size());
        std::vector<const char *> pointers(values.size());
        std::vector<int> lengths(values.size()), formats(values.size());
        for (std::size_t i = 0; i < values.size(); ++i) {
            const SQL_VALUE &value = values[i];
            if (value.kind == SQL_VALUE::null) {
                pointers[i] = nullptr;
            } else if (value.kind == SQL_VALUE::integer) {
                texts[i] = std::to_string(value.number);
                pointers[i] = texts[i].c_str();
            } else {
                pointers[i] = value.data.data();
                lengths[i] = static_cast<int>(value.data.size());
                // Bytes go as they are; text as text, which must be the database's encoding.
                formats[i] = value.kind == SQL_VALUE::bytes ? 1 : 0;
            }
        }
        std::string statement(sql);
        const int count_of_values = static_cast<int>(values.size());
        PGresult *result = nullptr;
        if (values.empty()) {
            result = PQexecParams(connection_, statement.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0);
        } else {
            // A statement with parameters is prepared once a connection and kept, as SQLite's
            // are: parsed and planned once, not again at every run (which cost a submission
            // about a tenth of a millisecond a statement).
            auto found = prepared_.find(statement);
            if (found == prepared_.end()) {
                std::string name = "hall_" + std::to_string(prepared_.size() + 1);
                PGresult *made =
                    PQprepare(connection_, name.c_str(), statement.c_str(), count_of_values, nullptr);
                check(made);
                PQclear(made);
                found = prepared_.emplace(statement, name).first;
            }
            result = PQexecPrepared(connection_, found->second.c_str(), count_of_values, pointers.data(),
                                    lengths.data(), formats.data(), 0);
        }
        check(result);
        std::vector<SQL_ROW> rows;
        int count = PQntuples(result), columns = PQnfields(result);
        rows.reserve(static_cast<std::size_t>(count));
        for (int r = 0; r < count; ++r) {
            SQL_ROW row;
            row.reserve(static_cast<std::size_t>(columns));
            for (int c = 0; c < columns; ++c) {
                const char *text = PQgetvalue(result, r, c);
                if (PQftype(result, c) == bytea_type) {
                    std::size_t size = 0;
                    unsigned char *bytes =
                        PQunescapeBytea(reinterpret_cast<const unsigned char *>(text), &size);
                    if (!bytes) {
                        PQclear(result);
                        throw std::runtime_error("PostgreSQL: out of memory");
                    }
                    row.emplace_back(reinterpret_cast<const char *>(bytes), size);
                    PQfreemem(bytes);
                } else {
                    row.emplace_back(text, static_cast<std::size_t>(PQgetlength(result, r, c)));
                }
            }
            rows.push_back(std::move(row));
        }
        PQclear(result);
        return rows;
    }

    void begin_writing() override { run("BEGIN", {}); }
    void begin_migrating() override {
        run("BEGIN", {});
        run(migration_lock, {});
    }
    const SCHEMA_TYPES &schema_types() const override { return postgres_types; }
    void notify(const std::string &notice) override {
        run("SELECT pg_notify('" + std::string(LIVE_CHANNEL) + "', $1)", {sql_text(notice)});
    }

  private:
    // Throws, with the result cleared, unless it is a success.
    void check(PGresult *result) {
        ExecStatusType status = PQresultStatus(result);
        if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return;
        std::string why = result ? PQresultErrorMessage(result) : PQerrorMessage(connection_);
        const char *state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
        std::string code = state ? state : "";
        PQclear(result);
        if (PQstatus(connection_) != CONNECTION_OK) throw LINK_LOST(unreachable);
        // Class 08: the connection; 57P: the server shutting down or starting; 53: out of
        // resources: all trouble of the moment.
        if (code.rfind("08", 0) == 0 || code.rfind("57P", 0) == 0 || code.rfind("53", 0) == 0)
            throw LINK_LOST(unreachable);
        throw std::runtime_error("PostgreSQL: " + why);
    }

    PGconn *connection_ = nullptr;
    std::map<std::string, std::string> prepared_;  // a statement's text, and its name here
};
}  // namespace

std::unique_ptr<DATABASE_LINK> open_postgres_link(const std::string &uri) {
    return std::make_unique<POSTGRES_LINK>(uri);
}

LINK_MAKER postgres_links(const std::string &uri) {
    return [uri] { return open_postgres_link(uri); };
}
