// The store's SQL, the same for both back ends, and a pool of connections shared by the hall's
// workers.
#include <charconv>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "hall/store_link.h"

bool counts_on_boards(const RECORD &record) {
    return record.mode == "plain" && (record.ending == "quit" || record.ending == "fell");
}

namespace {
const char *const record_columns =
    "id, name, seed, clock, version, ending, level, experience, boss, keys, mode, submitted";
// Best first: the boss beaten, then the level, the experience, fewer keys, and the earlier run.
const char *const ranking = "boss DESC, level DESC, experience DESC, keys ASC, submitted ASC, seq ASC";

long long number_of(const std::string &text) {
    long long number = 0;
    std::from_chars(text.data(), text.data() + text.size(), number);
    return number;
}

KEPT_RUN run_of(const SQL_ROW &row) {
    KEPT_RUN run;
    run.id = row.at(0);
    run.record.name = row.at(1);
    run.record.seed = number_of(row.at(2));
    run.record.clock = number_of(row.at(3)) != 0;
    run.record.version = row.at(4);
    run.record.ending = row.at(5);
    run.record.level = static_cast<int>(number_of(row.at(6)));
    run.record.experience = number_of(row.at(7));
    run.record.boss = number_of(row.at(8)) != 0;
    run.record.keys = number_of(row.at(9));
    run.record.mode = row.at(10);
    run.submitted = number_of(row.at(11));
    if (row.size() > 12) run.link = row.at(12);
    return run;
}

class SQL_STORE : public STORE {
  public:
    SQL_STORE(LINK_MAKER make, std::string where, int most_links)
        : make_(make), where_(std::move(where)), most_links_(most_links < 1 ? 1 : most_links) {
        auto link = make_(where_);
        migrate(*link);
        free_.push_back(std::move(link));
        opened_ = 1;
    }

    bool add(const KEPT_RUN &run, KEPT_RUN &kept) override {
        bool added = false;
        transact(true, [&](DATABASE_LINK &link) {
            const RECORD &r = run.record;
            auto inserted = link.run(
                "INSERT INTO runs (id, name, seed, clock, version, ending, level, experience, boss,"
                " keys, mode, submitted, link) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11,"
                " $12, $13) ON CONFLICT (id) DO NOTHING RETURNING seq",
                {sql_text(run.id), sql_bytes(r.name), sql_integer(r.seed), sql_integer(r.clock),
                 sql_text(r.version), sql_text(r.ending), sql_integer(r.level), sql_integer(r.experience),
                 sql_integer(r.boss), sql_integer(r.keys), sql_text(r.mode), sql_integer(run.submitted),
                 sql_text(run.link)});
            if (inserted.empty()) {
                auto rows =
                    link.run(std::string("SELECT ") + record_columns + ", link FROM runs WHERE id = $1",
                             {sql_text(run.id)});
                if (rows.empty()) throw std::runtime_error("A run neither added nor found.");
                kept = run_of(rows[0]);
                added = false;
                return;
            }
            if (counts_on_boards(r)) {
                // The best run of each name and seed, kept apart so a board is read from an
                // index, already one a name and in order. A run replaces the best only when it
                // ranks above it.
                link.run(
                    "INSERT INTO best (name, seed, seq, boss, level, experience, keys, submitted)"
                    " VALUES ($1, $2, $3, $4, $5, $6, $7, $8) ON CONFLICT (name, seed) DO UPDATE SET"
                    " seq = excluded.seq, boss = excluded.boss, level = excluded.level,"
                    " experience = excluded.experience, keys = excluded.keys,"
                    " submitted = excluded.submitted"
                    " WHERE (excluded.boss, excluded.level, excluded.experience, -excluded.keys,"
                    " -excluded.submitted, -excluded.seq) > (best.boss, best.level,"
                    " best.experience, -best.keys, -best.submitted, -best.seq)",
                    {sql_bytes(r.name), sql_integer(r.seed), sql_integer(number_of(inserted[0].at(0))),
                     sql_integer(r.boss), sql_integer(r.level), sql_integer(r.experience),
                     sql_integer(r.keys), sql_integer(run.submitted)});
            }
            kept = run;
            added = true;
        });
        return added;
    }

    bool find(const std::string &id, KEPT_RUN &found) override {
        std::vector<SQL_ROW> rows;
        transact(false, [&](DATABASE_LINK &link) {
            rows = link.run(std::string("SELECT ") + record_columns + ", link FROM runs WHERE id = $1",
                            {sql_text(id)});
        });
        if (rows.empty()) return false;
        found = run_of(rows[0]);
        return true;
    }

    std::vector<KEPT_RUN> board(const BOARD_QUERY &query) override {
        std::string sql;
        std::vector<SQL_VALUE> values;
        if (query.has_period) {
            // A day's board counts only the runs of that day: each name's best among them.
            sql = std::string("SELECT ") + record_columns + " FROM (SELECT " + record_columns +
                  ", seq, ROW_NUMBER() OVER (PARTITION BY name ORDER BY " + ranking +
                  ") AS place FROM runs WHERE seed = $1 AND submitted >= $2 AND submitted < $3"
                  " AND mode = 'plain' AND ending IN ('quit', 'fell')) AS day WHERE place = 1"
                  " ORDER BY " +
                  ranking + " LIMIT $4";
            values = {sql_integer(query.seed), sql_integer(query.from), sql_integer(query.to),
                      sql_integer(query.limit)};
        } else {
            std::string columns = record_columns;
            std::string prefixed;
            for (std::size_t start = 0; start < columns.size();) {
                std::size_t end = columns.find(", ", start);
                if (end == std::string::npos) end = columns.size();
                if (!prefixed.empty()) prefixed += ", ";
                prefixed += "r." + columns.substr(start, end - start);
                start = end + 2;
            }
            sql = "SELECT " + prefixed + " FROM best b JOIN runs r ON r.seq = b.seq";
            if (query.has_seed) {
                sql += " WHERE b.seed = $2";
                values = {sql_integer(query.limit), sql_integer(query.seed)};
            } else {
                values = {sql_integer(query.limit)};
            }
            sql +=
                " ORDER BY b.boss DESC, b.level DESC, b.experience DESC, b.keys ASC,"
                " b.submitted ASC, b.seq ASC LIMIT $1";
        }
        std::vector<SQL_ROW> rows;
        transact(false, [&](DATABASE_LINK &link) { rows = link.run(sql, values); });
        std::vector<KEPT_RUN> runs;
        runs.reserve(rows.size());
        for (const SQL_ROW &row : rows) runs.push_back(run_of(row));
        return runs;
    }

    std::string secret(const std::string &offered) override {
        std::vector<SQL_ROW> rows;
        transact(true, [&](DATABASE_LINK &link) {
            link.run("INSERT INTO hall_secret (one, secret) VALUES (1, $1) ON CONFLICT (one) DO NOTHING",
                     {sql_bytes(offered)});
            rows = link.run("SELECT secret FROM hall_secret WHERE one = 1", {});
        });
        if (rows.empty()) throw std::runtime_error("The hall's secret was not kept.");
        return rows[0].at(0);
    }

    long long count() override {
        std::vector<SQL_ROW> rows;
        transact(false, [&](DATABASE_LINK &link) { rows = link.run("SELECT count(*) FROM runs", {}); });
        return rows.empty() ? 0 : number_of(rows[0].at(0));
    }

  private:
    // Brings the schema up to date: each migration not yet applied, in order, in one
    // transaction with the version it reaches.
    static void migrate(DATABASE_LINK &link) {
        link.begin_migrating();
        try {
            link.run("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)", {});
            auto rows = link.run("SELECT coalesce(max(version), 0) FROM schema_version", {});
            long long have = rows.empty() ? 0 : number_of(rows[0].at(0));
            const auto &steps = link.migrations();
            for (std::size_t version = static_cast<std::size_t>(have) + 1; version <= steps.size();
                 ++version) {
                for (const std::string &statement : steps[version - 1]) link.run(statement, {});
                link.run("INSERT INTO schema_version (version) VALUES ($1)",
                         {sql_integer(static_cast<long long>(version))});
            }
            link.run("COMMIT", {});
        } catch (...) {
            try {
                link.run("ROLLBACK", {});
            } catch (...) {
            }
            throw;
        }
    }

    std::unique_ptr<DATABASE_LINK> take() {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (!free_.empty()) {
                auto link = std::move(free_.back());
                free_.pop_back();
                return link;
            }
            if (opened_ < most_links_) {
                ++opened_;
                lock.unlock();
                try {
                    return make_(where_);
                } catch (...) {
                    lock.lock();
                    --opened_;
                    throw;
                }
            }
            released_.wait(lock);
        }
    }

    void give_back(std::unique_ptr<DATABASE_LINK> link) {
        std::lock_guard lock(mutex_);
        if (link)
            free_.push_back(std::move(link));
        else
            --opened_;
        released_.notify_one();
    }

    void forget_free_links() {
        std::lock_guard lock(mutex_);
        opened_ -= static_cast<int>(free_.size());
        free_.clear();
    }

    // Runs one transaction on a connection of the pool. A connection that was lost is thrown
    // away and the transaction runs once more on a new one; a second failure reaches the caller.
    void transact(bool writing, const std::function<void(DATABASE_LINK &)> &work) {
        for (int attempt = 0;; ++attempt) {
            std::unique_ptr<DATABASE_LINK> link;
            try {
                link = take();
            } catch (const STORE_DOWN &) {
                throw;
            } catch (const std::exception &) {
                throw STORE_DOWN("The hall cannot reach its database just now; try again soon.");
            }
            try {
                if (writing)
                    link->begin_writing();
                else
                    link->run("BEGIN", {});
                work(*link);
                link->run("COMMIT", {});
                give_back(std::move(link));
                return;
            } catch (const LINK_LOST &) {
                // The others kept open were most likely cut by the same stop of the server.
                give_back(nullptr);
                forget_free_links();
                if (attempt > 0) throw;
            } catch (...) {
                try {
                    link->run("ROLLBACK", {});
                    give_back(std::move(link));
                } catch (...) {
                    give_back(nullptr);
                }
                throw;
            }
        }
    }

    LINK_MAKER make_;
    std::string where_;
    int most_links_;
    std::mutex mutex_;
    std::condition_variable released_;
    std::vector<std::unique_ptr<DATABASE_LINK>> free_;
    int opened_ = 0;
};
}  // namespace

std::unique_ptr<STORE> open_store(const std::string &url, int links) {
    if (url.rfind("sqlite:", 0) == 0)
        return std::make_unique<SQL_STORE>(open_sqlite_link, url.substr(7), links);
    if (url.rfind("postgresql://", 0) == 0 || url.rfind("postgres://", 0) == 0)
        return std::make_unique<SQL_STORE>(open_postgres_link, url, links);
    throw std::runtime_error("The database must be sqlite:PATH or a postgresql:// URI.");
}
