// The store's SQL, the same for both back ends, and a pool of connections shared by the hall's
// workers.
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <set>

#include "hall/api.h"
#include "hall/run_link.h"
#include "hall/store_link.h"

bool counts_on_boards(const RECORD &record) {
    return record.mode == "plain" && (record.ending == "quit" || record.ending == "fell");
}

// A run's day is its UTC day number, the seconds since 1970 divided by 86,400 and rounded down:
// the remainder is taken off first so that a second before 1970 rounds down too, in SQLite and
// PostgreSQL alike (both round a division towards zero).
const char *const FILL_BEST_DAILY =
    "INSERT INTO best_daily (day, seed, name, seq, boss, level, experience, keys, submitted)"
    " SELECT day, seed, name, seq, boss, level, experience, keys, submitted FROM (SELECT day, seed,"
    " name, seq, boss, level, experience, keys, submitted, ROW_NUMBER() OVER (PARTITION BY day, seed,"
    " name ORDER BY boss DESC, level DESC, experience DESC, keys ASC, submitted ASC, seq ASC) AS place"
    " FROM (SELECT (submitted - ((submitted % 86400) + 86400) % 86400) / 86400 AS day, seed, name, seq,"
    " boss, level, experience, keys, submitted FROM runs WHERE mode = 'plain' AND ending IN ('quit',"
    " 'fell')) AS counted) AS ranked WHERE place = 1";

namespace {
const char *const record_columns =
    "id, name, seed, clock, version, ending, level, experience, boss, keys, mode, submitted, signer, live";
// The same columns of the runs table named r.
const char *const run_columns =
    "r.id, r.name, r.seed, r.clock, r.version, r.ending, r.level, r.experience, r.boss, r.keys, r.mode,"
    " r.submitted, r.signer, r.live";
// Best first: the boss beaten, then the level, the experience, fewer keys, and the earlier run.
const char *const ranking = "boss DESC, level DESC, experience DESC, keys ASC, submitted ASC, seq ASC";

const char *const cannot_write = "The hall's database cannot take a write just now.";
// Runs whose play is read from their link in one transaction, when the store opens.
constexpr int plays_read_a_batch = 500;

long long number_of(const std::string &text) {
    long long number = 0;
    std::from_chars(text.data(), text.data() + text.size(), number);
    return number;
}

// The UTC day number of a second since 1970, rounded down as FILL_BEST_DAILY does.
long long day_of(long long seconds) { return seconds / 86400 - (seconds % 86400 < 0 ? 1 : 0); }

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
    run.signer = row.at(12);
    run.live = row.at(13).empty() ? -1 : number_of(row.at(13));
    if (row.size() > 14) run.link = row.at(14);
    if (row.size() > 15) run.play = row.at(15);
    return run;
}

// The place of the best run b on its board: 1 and the bests of `table` o on the same board
// (`same`) that rank above it. Counted in three parts, each a range of the board's index in its
// order (a boss, then the level, then the rest), so only the bests above it are read, and each
// part stops at MOST_PLACE: a place past it is on no board the hall gives.
std::string place_among(const char *table, const char *same) {
    const std::string from =
        std::string("(SELECT count(*) FROM (SELECT 1 FROM ") + table + " o WHERE " + same;
    const std::string most = " LIMIT " + std::to_string(MOST_PLACE) + ") AS above)";
    return "(1 + " + from + " AND o.boss > b.boss" + most + " + " + from +
           " AND o.boss = b.boss AND o.level > b.level" + most + " + " + from +
           " AND o.boss = b.boss AND o.level = b.level AND (o.experience, -o.keys, -o.submitted, -o.seq) >"
           " (b.experience, -b.keys, -b.submitted, -b.seq)" +
           most + ")";
}

// A run and its place, the place read as the last column, after the run's.
PLACED_RUN placed_of(SQL_ROW row) {
    const long long place = number_of(row.at(row.size() - 1));
    row.pop_back();
    return PLACED_RUN{run_of(row), place};
}

void roll_back(DATABASE_LINK &link) {
    try {
        link.run("ROLLBACK", {});
    } catch (...) {
    }
}

// A run under a name another key holds: its transaction is rolled back, nothing kept.
struct NAME_TAKEN {};

class SQL_STORE : public STORE {
  public:
    SQL_STORE(LINK_MAKER make, int most_links, std::string notices)
        : make_(std::move(make)), most_links_(most_links < 1 ? 1 : most_links), notices_(std::move(notices)) {
        auto link = make_();
        migrate(*link);
        read_old_plays(*link);
        free_.push_back(std::move(link));
        opened_ = 1;
    }

    ADDED add(const KEPT_RUN &run, KEPT_RUN &kept) override {
        ADDED added = ADDED::fresh;
        try {
            transact(true, [&](DATABASE_LINK &link) { added = add_in(link, run, kept); });
        } catch (const NAME_TAKEN &) {
            return ADDED::taken;
        }
        return added;
    }

    bool release_name(const std::string &name) override {
        bool released = false;
        transact(true, [&](DATABASE_LINK &link) {
            released =
                !link.run("DELETE FROM name_claims WHERE name = $1 RETURNING signer", {sql_bytes(name)})
                     .empty();
        });
        return released;
    }

    std::string claimant(const std::string &name) override {
        std::vector<SQL_ROW> holder;
        transact(false, [&](DATABASE_LINK &link) {
            holder = link.run("SELECT signer FROM name_claims WHERE name = $1", {sql_bytes(name)});
        });
        return holder.empty() ? std::string() : holder[0].at(0);
    }

    // add() inside its transaction; throws NAME_TAKEN to roll it back.
    static ADDED add_in(DATABASE_LINK &link, const KEPT_RUN &run, KEPT_RUN &kept) {
        ADDED added = ADDED::fresh;
        const RECORD &r = run.record;
        // Neither an id nor a play is kept twice, and the tables' unique indexes say so: of
        // two runs sent at once, to one hall or two, the second finds nothing inserted. The run
        // notes the number of its transaction, which orders the export (see runs_after()).
        auto inserted = link.run(
            in_words_of("INSERT INTO runs (id, name, seed, clock, version, ending, level, experience, boss,"
                        " keys, mode, submitted, link, play, signer, live, daily, writer) VALUES ($1, $2, $3,"
                        " $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, $14, $15, $16, $17, {writer})"
                        " ON CONFLICT DO NOTHING RETURNING seq",
                        link.schema_types()),
            {sql_text(run.id), sql_bytes(r.name), sql_integer(r.seed), sql_integer(r.clock),
             sql_text(r.version), sql_text(r.ending), sql_integer(r.level), sql_integer(r.experience),
             sql_integer(r.boss), sql_integer(r.keys), sql_text(r.mode), sql_integer(run.submitted),
             sql_text(run.link), run.play.empty() ? sql_null() : sql_text(run.play),
             run.signer.empty() ? sql_null() : sql_bytes(run.signer),
             run.live < 0 ? sql_null() : sql_integer(run.live),
             run.daily ? sql_integer(day_of(run.submitted)) : sql_null()});
        if (inserted.empty()) {
            const std::string select = std::string("SELECT ") + record_columns + ", link, play FROM runs";
            auto rows = link.run(select + " WHERE id = $1", {sql_text(run.id)});
            added = ADDED::same;
            if (rows.empty() && !run.play.empty()) {
                rows = link.run(select + " WHERE play = $1", {sql_text(run.play)});
                added = ADDED::copy;
            }
            if (rows.empty()) throw std::runtime_error("A run neither added nor found.");
            kept = run_of(rows[0]);
            return added;
        }
        // The name is its signer's from its first signed run on: a name claimed already is read
        // alone, and only a signed run under a name not claimed writes a claim. A claim another
        // hall makes at the same moment holds the name's row until it commits; this insert then
        // finds it and does nothing, and the read that follows sees the key that won.
        const char *const read_holder = "SELECT signer FROM name_claims WHERE name = $1";
        auto holder = link.run(read_holder, {sql_bytes(r.name)});
        if (holder.empty() && !run.signer.empty()) {
            holder = link.run(
                "INSERT INTO name_claims (name, signer, claimed) VALUES ($1, $2, $3)"
                " ON CONFLICT (name) DO NOTHING RETURNING signer",
                {sql_bytes(r.name), sql_bytes(run.signer), sql_integer(run.submitted)});
            if (holder.empty()) holder = link.run(read_holder, {sql_bytes(r.name)});
        }
        if (!holder.empty() && holder[0].at(0) != run.signer) throw NAME_TAKEN{};
        const long long seq = number_of(inserted[0].at(0));
        if (run.daily && run.live >= 0) {
            // The name's attempt at the day's seed: the live game begun first, whichever hall
            // keeps it and whenever. Of two halls writing it at once, the second waits for the
            // first's row and replaces it only with an earlier start, so both end with the same.
            link.run(
                "INSERT INTO daily_first (day, name, started, id, seq, ranked, boss, level, experience,"
                " keys, submitted) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11)"
                " ON CONFLICT (day, name) DO UPDATE SET started = excluded.started, id = excluded.id,"
                " seq = excluded.seq, ranked = excluded.ranked, boss = excluded.boss,"
                " level = excluded.level, experience = excluded.experience, keys = excluded.keys,"
                " submitted = excluded.submitted"
                " WHERE (excluded.started, excluded.id) < (daily_first.started, daily_first.id)",
                {sql_integer(day_of(run.submitted)), sql_bytes(r.name), sql_integer(run.live),
                 sql_text(run.id), sql_integer(seq), sql_integer(counts_on_boards(r)), sql_integer(r.boss),
                 sql_integer(r.level), sql_integer(r.experience), sql_integer(r.keys),
                 sql_integer(run.submitted)});
        }
        if (counts_on_boards(r)) {
            // The best run of each name and seed, and of each day, seed and name, kept apart
            // so a board is read from an index, already one a name and in order. A run
            // replaces the best only when it ranks above it.
            link.run(
                "INSERT INTO best (name, seed, seq, boss, level, experience, keys, submitted)"
                " VALUES ($1, $2, $3, $4, $5, $6, $7, $8) ON CONFLICT (name, seed) DO UPDATE SET"
                " seq = excluded.seq, boss = excluded.boss, level = excluded.level,"
                " experience = excluded.experience, keys = excluded.keys,"
                " submitted = excluded.submitted"
                " WHERE (excluded.boss, excluded.level, excluded.experience, -excluded.keys,"
                " -excluded.submitted, -excluded.seq) > (best.boss, best.level,"
                " best.experience, -best.keys, -best.submitted, -best.seq)",
                {sql_bytes(r.name), sql_integer(r.seed), sql_integer(seq), sql_integer(r.boss),
                 sql_integer(r.level), sql_integer(r.experience), sql_integer(r.keys),
                 sql_integer(run.submitted)});
            link.run(
                "INSERT INTO best_daily (day, seed, name, seq, boss, level, experience, keys,"
                " submitted) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9) ON CONFLICT (day, seed, name)"
                " DO UPDATE SET seq = excluded.seq, boss = excluded.boss, level = excluded.level,"
                " experience = excluded.experience, keys = excluded.keys,"
                " submitted = excluded.submitted"
                " WHERE (excluded.boss, excluded.level, excluded.experience, -excluded.keys,"
                " -excluded.submitted, -excluded.seq) > (best_daily.boss, best_daily.level,"
                " best_daily.experience, -best_daily.keys, -best_daily.submitted, -best_daily.seq)",
                {sql_integer(day_of(run.submitted)), sql_integer(r.seed), sql_bytes(r.name), sql_integer(seq),
                 sql_integer(r.boss), sql_integer(r.level), sql_integer(r.experience), sql_integer(r.keys),
                 sql_integer(run.submitted)});
            // A run first on its seed's board as it is kept is news for the feed.
            auto top =
                link.run(std::string("SELECT seq FROM best WHERE seed = $1 ORDER BY ") + ranking + " LIMIT 1",
                         {sql_integer(r.seed)});
            if (!top.empty() && number_of(top[0].at(0)) == seq)
                link.run("INSERT INTO first_places (seq, seed) VALUES ($1, $2) ON CONFLICT DO NOTHING",
                         {sql_integer(seq), sql_integer(r.seed)});
        }
        kept = run;
        return added;
    }

    bool find(const std::string &id, KEPT_RUN &found) override {
        std::vector<SQL_ROW> rows;
        transact(false, [&](DATABASE_LINK &link) {
            rows = link.run(std::string("SELECT ") + record_columns + ", link, play FROM runs WHERE id = $1",
                            {sql_text(id)});
        });
        if (rows.empty()) return false;
        found = run_of(rows[0]);
        return true;
    }

    std::size_t add_all(const std::vector<KEPT_RUN> &runs) override {
        std::size_t fresh = 0;
        try {
            transact(true, [&](DATABASE_LINK &link) {
                fresh = 0;
                KEPT_RUN kept;
                for (const KEPT_RUN &run : runs)
                    if (add_in(link, run, kept) == ADDED::fresh) ++fresh;
            });
        } catch (const NAME_TAKEN &) {
            throw std::runtime_error("A run's name belongs to another key: none of the runs was kept.");
        }
        return fresh;
    }

    bool runs_after(const std::string &after, int limit, std::vector<KEPT_RUN> &page) override {
        page.clear();
        bool known = true;
        std::vector<SQL_ROW> rows;
        transact(false, [&](DATABASE_LINK &link) {
            long long writer = -1, seq = 0;
            if (!after.empty()) {
                auto found = link.run("SELECT writer, seq FROM runs WHERE id = $1", {sql_text(after)});
                known = !found.empty();
                if (!known) return;
                writer = number_of(found[0].at(0));
                seq = number_of(found[0].at(1));
            }
            // Runs in the order of their transactions' numbers, then their own, and only those
            // of transactions that have all ended: a transaction under way, or one that began to
            // write after a statement's snapshot, has a number from the first not ended on, so
            // every run it commits comes after the last one read here, whatever its own number
            // (halls sharing PostgreSQL number runs as they write, and commit in any order). The
            // rest of the last run's transaction first, then the transactions after it: each a
            // range of one index, where SQLite would read a comparison of pairs from the index's
            // start.
            const std::string select = std::string("SELECT ") + record_columns + ", link FROM runs WHERE ";
            const SCHEMA_TYPES &words = link.schema_types();
            rows = link.run(
                in_words_of(
                    select + "writer = $1 AND seq > $2 AND writer < {ended_below} ORDER BY seq LIMIT $3",
                    words),
                {sql_integer(writer), sql_integer(seq), sql_integer(limit)});
            const long long left = limit - static_cast<long long>(rows.size());
            if (left > 0)
                for (SQL_ROW &row :
                     link.run(in_words_of(select + "writer > $1 AND writer < {ended_below} ORDER BY"
                                                   " writer, seq LIMIT $2",
                                          words),
                              {sql_integer(writer), sql_integer(left)}))
                    rows.push_back(std::move(row));
        });
        if (!known) return false;
        page.reserve(rows.size());
        for (const SQL_ROW &row : rows) page.push_back(run_of(row));
        return true;
    }

    std::vector<KEPT_RUN> board(const BOARD_QUERY &query) override {
        std::string sql;
        std::vector<SQL_VALUE> values{sql_integer(query.limit)};
        auto parameter = [&](SQL_VALUE value) {
            values.push_back(std::move(value));
            return "$" + std::to_string(values.size());
        };
        const bool whole_day =
            query.has_period && day_of(query.from) * 86400 == query.from && query.to == query.from + 86400;
        if (query.has_period && !whole_day) {
            // Any other period counts only its own runs: each name and seed's best among them.
            sql = std::string("SELECT ") + record_columns + " FROM (SELECT " + record_columns +
                  ", seq, ROW_NUMBER() OVER (PARTITION BY name, seed ORDER BY " + ranking +
                  ") AS place FROM runs WHERE submitted >= " + parameter(sql_integer(query.from)) +
                  " AND submitted < " + parameter(sql_integer(query.to)) +
                  (query.has_seed ? " AND seed = " + parameter(sql_integer(query.seed)) : std::string()) +
                  " AND mode = 'plain' AND ending IN ('quit', 'fell')) AS period WHERE place = 1 ORDER BY " +
                  ranking + " LIMIT $1";
        } else {
            // A board, or a whole UTC day's board: read from the best runs kept as they came.
            sql = std::string("SELECT ") + run_columns + " FROM " + (whole_day ? "best_daily" : "best") +
                  " b JOIN runs r ON r.seq = b.seq";
            std::string where;
            if (whole_day) where += " WHERE b.day = " + parameter(sql_integer(day_of(query.from)));
            if (query.has_seed)
                where += (where.empty() ? " WHERE b.seed = " : " AND b.seed = ") +
                         parameter(sql_integer(query.seed));
            sql += where +
                   " ORDER BY b.boss DESC, b.level DESC, b.experience DESC, b.keys ASC,"
                   " b.submitted ASC, b.seq ASC LIMIT $1";
        }
        return runs_read(sql, values);
    }

    DAY_BOARD day_board(long long day, int limit) override {
        const std::string ranked = std::string("SELECT ") + run_columns +
                                   " FROM daily_first b JOIN runs r ON r.seq = b.seq WHERE b.day = $1 AND"
                                   " b.ranked = 1 ORDER BY b.boss DESC, b.level DESC, b.experience DESC,"
                                   " b.keys ASC, b.submitted ASC, b.seq ASC LIMIT $2";
        const std::string practice =
            std::string("SELECT ") + run_columns +
            " FROM runs r WHERE r.daily = $1 AND r.mode = 'plain' AND r.ending IN"
            " ('quit', 'fell') AND NOT EXISTS (SELECT 1 FROM daily_first f WHERE"
            " f.day = $1 AND f.name = r.name AND f.seq = r.seq) ORDER BY r.boss DESC, r.level DESC,"
            " r.experience DESC, r.keys ASC, r.submitted ASC, r.seq ASC LIMIT $2";
        std::vector<SQL_ROW> ranked_rows, practice_rows;
        transact(false, [&](DATABASE_LINK &link) {
            ranked_rows = link.run(ranked, {sql_integer(day), sql_integer(limit)});
            practice_rows = link.run(practice, {sql_integer(day), sql_integer(limit)});
        });
        DAY_BOARD board;
        for (const SQL_ROW &row : ranked_rows) board.ranked.push_back(run_of(row));
        for (const SQL_ROW &row : practice_rows) board.practice.push_back(run_of(row));
        return board;
    }

    std::vector<KEPT_RUN> first_places(int limit) override {
        return runs_read(std::string("SELECT ") + run_columns +
                             " FROM first_places f JOIN runs r ON r.seq = f.seq ORDER BY f.seq DESC LIMIT $1",
                         {sql_integer(limit)});
    }

    std::vector<KEPT_RUN> day_winners(long long from, long long to) override {
        return runs_read(std::string("SELECT ") + run_columns +
                             " FROM (SELECT day, seq, ROW_NUMBER() OVER (PARTITION BY day ORDER BY boss DESC,"
                             " level DESC, experience DESC, keys ASC, submitted ASC, seq ASC) AS place FROM"
                             " daily_first WHERE ranked = 1 AND day >= $1 AND day < $2) AS w JOIN runs r ON"
                             " r.seq = w.seq WHERE w.place = 1 ORDER BY w.day DESC",
                         {sql_integer(from), sql_integer(to)});
    }

    PLAYER_PAGE player(const PLAYER_QUERY &query) override {
        PLAYER_PAGE page;
        transact(false, [&](DATABASE_LINK &link) {
            const SQL_VALUE name = sql_bytes(query.name);
            auto holder = link.run("SELECT signer FROM name_claims WHERE name = $1", {name});
            if (!holder.empty()) page.holder = holder[0].at(0);
            // The page's runs: one more than asked, to know whether older ones are kept.
            std::string sql = std::string("SELECT ") + record_columns + " FROM runs WHERE name = $1";
            std::vector<SQL_VALUE> values{name, sql_integer(query.limit + 1)};
            if (!query.before.empty()) {
                auto from = link.run("SELECT seq FROM runs WHERE id = $1 AND name = $2",
                                     {sql_text(query.before), name});
                if (from.empty()) {
                    page.before_found = false;
                    return;
                }
                values.push_back(sql_integer(number_of(from[0].at(0))));
                sql += " AND seq < $3";
            }
            sql += " ORDER BY seq DESC LIMIT $2";
            for (const SQL_ROW &row : link.run(sql, values)) page.runs.push_back(run_of(row));
            if (page.runs.size() > static_cast<std::size_t>(query.limit)) {
                page.runs.pop_back();
                page.more = true;
            }
            auto totals = link.run(
                "SELECT count(*), coalesce(sum(boss), 0), coalesce(max(level), 0) FROM runs WHERE name = $1",
                {name});
            page.total = number_of(totals.at(0).at(0));
            page.bosses = number_of(totals.at(0).at(1));
            page.best_level = static_cast<int>(number_of(totals.at(0).at(2)));
            // The name's best on each seed, and its place among that seed's bests.
            for (const SQL_ROW &row : link.run(
                     std::string("SELECT ") + run_columns + ", " + place_among("best", "o.seed = b.seed") +
                         " AS place FROM best b JOIN runs r ON r.seq = b.seq WHERE b.name = $1"
                         " ORDER BY place ASC, b.seed ASC",
                     {name}))
                page.bests.push_back(placed_of(row));
            for (const SQL_ROW &row : link.run("SELECT DISTINCT daily FROM runs WHERE name = $1 AND daily IS "
                                               "NOT NULL ORDER BY daily DESC",
                                               {name}))
                page.days.push_back(number_of(row.at(0)));
        });
        return page;
    }

    bool day_place(const std::string &name, long long day, PLACED_RUN &placed) override {
        std::vector<SQL_ROW> ranked, practice;
        transact(false, [&](DATABASE_LINK &link) {
            ranked = link.run(std::string("SELECT ") + run_columns + ", " +
                                  place_among("daily_first", "o.day = b.day AND o.ranked = 1") +
                                  " FROM daily_first b JOIN runs r ON r.seq = b.seq WHERE b.day = $1 AND"
                                  " b.name = $2 AND b.ranked = 1",
                              {sql_integer(day), sql_bytes(name)});
            if (!ranked.empty()) return;
            practice =
                link.run(std::string("SELECT ") + run_columns +
                             ", 0 FROM runs r WHERE r.daily = $1 AND r.name = $2 AND r.mode = 'plain' AND"
                             " r.ending IN ('quit', 'fell') ORDER BY r.boss DESC, r.level DESC,"
                             " r.experience DESC, r.keys ASC, r.submitted ASC, r.seq ASC LIMIT 1",
                         {sql_integer(day), sql_bytes(name)});
        });
        const std::vector<SQL_ROW> &rows = ranked.empty() ? practice : ranked;
        if (rows.empty()) return false;
        placed = placed_of(rows[0]);
        return true;
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

    std::string unwritable() override {
        std::lock_guard lock(alive_mutex_);
        // Asked more often than once a second, the last answer stands: a load balancer that
        // asks many times a second does not make as many writes.
        if (std::optional<std::string> known = known_trouble(false)) return *known;
        std::string trouble, why;
        try {
            transact(true, [](DATABASE_LINK &link) {
                link.run(
                    "INSERT INTO hall_alive (one, beat) VALUES (1, 0) ON CONFLICT (one) DO UPDATE SET"
                    " beat = 1 - hall_alive.beat",
                    {});
            });
        } catch (const STORE_DOWN &down) {
            trouble = why = down.what();
        } catch (const std::exception &error) {
            trouble = cannot_write;
            why = error.what();
        }
        std::lock_guard known(known_mutex_);
        if (trouble.empty() != alive_trouble_.empty()) {
            if (trouble.empty())
                std::fputs("marrowdeep-hall: the database takes writes again\n", stderr);
            else
                std::fprintf(stderr, "marrowdeep-hall: the database cannot take a write: %s\n", why.c_str());
        }
        alive_trouble_ = trouble;
        alive_checked_ = true;
        alive_at_ = std::chrono::steady_clock::now();
        return trouble;
    }

    std::optional<std::string> unwritable_known() override {
        // A check under way is not waited for: the last answer stands until it is done.
        std::unique_lock checking(alive_mutex_, std::try_to_lock);
        return known_trouble(!checking.owns_lock());
    }

    void live_start(const LIVE_GAME_ROW &game, const LIVE_BATCH &first, const std::string &notice) override {
        transact(true, [&](DATABASE_LINK &link) {
            link.run(
                "INSERT INTO live_games (id, token, address, version, clock, started, last, keys, signer)"
                " VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9)",
                {sql_text(game.id), sql_text(game.token_digest), sql_text(game.address),
                 sql_text(game.version), game.has_clock ? sql_integer(game.clock) : sql_null(),
                 sql_integer(game.started), sql_integer(game.last),
                 sql_integer(static_cast<long long>(first.keys.size())),
                 game.signer.empty() ? sql_null() : sql_bytes(game.signer)});
            // A game begun before its first key has no batch yet: its first comes at 0.
            if (!first.keys.empty())
                link.run("INSERT INTO live_keys (game, at, keys, sent) VALUES ($1, 0, $2, $3)",
                         {sql_text(game.id), sql_bytes(first.keys), sql_integer(first.sent)});
            if (!notice.empty()) link.notify(notice);
        });
    }

    void live_append(const std::string &id, const std::vector<LIVE_BATCH> &batches,
                     const std::string &notice) override {
        if (batches.empty()) return;
        transact(true, [&](DATABASE_LINK &link) {
            for (const LIVE_BATCH &batch : batches) {
                // The count held must be where the batch begins: keys are never added twice, nor
                // with a gap, whoever adds them.
                auto moved = link.run(
                    "UPDATE live_games SET keys = keys + $1, last = $2 WHERE id = $3 AND keys = $4"
                    " RETURNING keys",
                    {sql_integer(static_cast<long long>(batch.keys.size())), sql_integer(batch.sent),
                     sql_text(id), sql_integer(batch.at)});
                if (moved.empty()) throw std::logic_error("Live keys out of order for game " + id + ".");
                link.run(
                    "INSERT INTO live_keys (game, at, keys, sent) VALUES ($1, $2, $3, $4)",
                    {sql_text(id), sql_integer(batch.at), sql_bytes(batch.keys), sql_integer(batch.sent)});
            }
            if (!notice.empty()) link.notify(notice);
        });
    }

    std::vector<LIVE_GAME_ROW> live_games() override {
        std::vector<SQL_ROW> rows;
        transact(false, [&](DATABASE_LINK &link) {
            rows = link.run(
                "SELECT id, token, address, version, clock, started, last, keys, signer FROM live_games"
                " ORDER BY started DESC, id",
                {});
        });
        std::vector<LIVE_GAME_ROW> games;
        for (const SQL_ROW &row : rows) {
            LIVE_GAME_ROW game;
            game.id = row.at(0);
            game.token_digest = row.at(1);
            game.address = row.at(2);
            game.version = row.at(3);
            game.has_clock = !row.at(4).empty();
            game.clock = number_of(row.at(4));
            game.started = number_of(row.at(5));
            game.last = number_of(row.at(6));
            game.keys = number_of(row.at(7));
            game.signer = row.at(8);
            games.push_back(std::move(game));
        }
        return games;
    }

    std::vector<LIVE_BATCH> live_keys(const std::string &id, long long from) override {
        std::vector<SQL_ROW> rows;
        transact(false, [&](DATABASE_LINK &link) {
            rows = link.run("SELECT at, keys, sent FROM live_keys WHERE game = $1 AND at >= $2 ORDER BY at",
                            {sql_text(id), sql_integer(from)});
        });
        std::vector<LIVE_BATCH> batches;
        for (const SQL_ROW &row : rows)
            batches.push_back(LIVE_BATCH{number_of(row.at(0)), row.at(1), number_of(row.at(2))});
        return batches;
    }

    void live_end(const std::string &id, const std::string &notice) override {
        transact(true, [&](DATABASE_LINK &link) {
            link.run("DELETE FROM live_keys WHERE game = $1", {sql_text(id)});
            link.run("DELETE FROM live_games WHERE id = $1", {sql_text(id)});
            if (!notice.empty()) link.notify(notice);
        });
    }

    std::string notices_uri() const override { return notices_; }

  private:
    std::vector<KEPT_RUN> runs_read(const std::string &sql, const std::vector<SQL_VALUE> &values) {
        std::vector<SQL_ROW> rows;
        transact(false, [&](DATABASE_LINK &link) { rows = link.run(sql, values); });
        std::vector<KEPT_RUN> runs;
        runs.reserve(rows.size());
        for (const SQL_ROW &row : rows) runs.push_back(run_of(row));
        return runs;
    }

    // What the last check found, when it is less than a second old, or when `any_age`.
    std::optional<std::string> known_trouble(bool any_age) {
        std::lock_guard lock(known_mutex_);
        if (!alive_checked_) return std::nullopt;
        if (!any_age && std::chrono::steady_clock::now() - alive_at_ >= std::chrono::seconds(1))
            return std::nullopt;
        return alive_trouble_;
    }

    // Brings the schema up to date: each migration whose number the database has not recorded,
    // in the order of their numbers, in one transaction with the numbers it records. A number
    // skipped by this build and added by a later one is applied then, after those above it.
    static void migrate(DATABASE_LINK &link) {
        link.begin_migrating();
        try {
            link.run("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)", {});
            std::set<long long> have;
            for (const SQL_ROW &row : link.run("SELECT version FROM schema_version", {}))
                have.insert(number_of(row.at(0)));
            for (const auto &[number, statements] : schema_migrations(link.schema_types())) {
                if (have.count(number)) continue;
                for (const std::string &statement : statements) link.run(statement, {});
                link.run("INSERT INTO schema_version (version) VALUES ($1)", {sql_integer(number)});
            }
            link.run("COMMIT", {});
        } catch (...) {
            roll_back(link);
            throw;
        }
    }

    // The runs kept before the hall knew plays (the second migration notes which in
    // play_backlog): each one's play read from its link, a batch a transaction, one hall at a
    // time, so a large table is read once and never all in memory. A link that cannot be read
    // leaves its run without a play, and of two such runs of one play only the first (the
    // earlier kept) gets it, as it would have had the hall known then.
    static void read_old_plays(DATABASE_LINK &link) {
        for (bool done = false; !done;) {
            link.begin_migrating();
            try {
                auto backlog = link.run("SELECT read_to, read_through FROM play_backlog WHERE one = 1", {});
                long long read_to = backlog.empty() ? 0 : number_of(backlog[0].at(0));
                long long through = backlog.empty() ? 0 : number_of(backlog[0].at(1));
                done = read_to >= through;
                if (!done) {
                    auto rows = link.run(
                        "SELECT seq, link FROM runs WHERE seq > $1 AND seq <= $2 AND play IS NULL"
                        " ORDER BY seq LIMIT $3",
                        {sql_integer(read_to), sql_integer(through), sql_integer(plays_read_a_batch)});
                    for (const SQL_ROW &row : rows) {
                        RUN_READING reading = read_run_link(row.at(1));
                        if (!reading.ok) continue;
                        link.run(
                            "UPDATE runs SET play = $1 WHERE seq = $2 AND NOT EXISTS (SELECT 1 FROM runs"
                            " WHERE play = $1)",
                            {sql_text(play_id(reading.run)), sql_integer(number_of(row.at(0)))});
                    }
                    read_to = static_cast<int>(rows.size()) < plays_read_a_batch
                                  ? through
                                  : number_of(rows.back().at(0));
                    link.run("UPDATE play_backlog SET read_to = $1 WHERE one = 1", {sql_integer(read_to)});
                }
                link.run("COMMIT", {});
            } catch (...) {
                roll_back(link);
                throw;
            }
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
                    return make_();
                } catch (...) {
                    lock.lock();
                    --opened_;
                    throw;
                }
            }
            released_.wait(lock);
        }
    }

    // Puts a connection back in the pool; nullptr when it was closed, which makes room for a
    // new one.
    void give_back(std::unique_ptr<DATABASE_LINK> link) {
        std::lock_guard lock(mutex_);
        if (link)
            free_.push_back(std::move(link));
        else
            --opened_;
        released_.notify_one();
    }

    // A connection whose transaction failed goes back once rolled back; one that cannot even
    // roll back is closed.
    void roll_back_and_give_back(std::unique_ptr<DATABASE_LINK> link) {
        try {
            link->run("ROLLBACK", {});
        } catch (...) {
            link.reset();
        }
        give_back(std::move(link));
    }

    void forget_free_links() {
        std::lock_guard lock(mutex_);
        opened_ -= static_cast<int>(free_.size());
        free_.clear();
    }

    // Runs one transaction on a connection of the pool. A connection that was lost is thrown
    // away and the transaction runs once more on a new one; a second failure reaches the caller.
    // A connection that met any other trouble of the database (a disk full, read-only or
    // failing, a file gone) is closed too, never given back: whatever it holds from then, the
    // next request opens a new one, which sees the database as it is now. Only a busy database
    // or an error in the statements themselves leaves it sound, rolled back and given back.
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
                if (writing)
                    link->commit_writing();
                else
                    link->run("COMMIT", {});
                give_back(std::move(link));
                return;
            } catch (const LINK_LOST &) {
                // The others kept open were most likely cut by the same stop of the server, or
                // opened read-only in the same spell.
                link.reset();
                give_back(nullptr);
                forget_free_links();
                if (attempt > 0) throw;
            } catch (const DATABASE_BUSY &) {
                roll_back_and_give_back(std::move(link));
                throw;
            } catch (const STORE_DOWN &) {
                link.reset();
                give_back(nullptr);
                throw;
            } catch (...) {
                roll_back_and_give_back(std::move(link));
                throw;
            }
        }
    }

    LINK_MAKER make_;
    int most_links_;
    std::string notices_;  // the URI the halls' notices are heard on; empty on SQLite
    std::mutex mutex_;
    std::condition_variable released_;
    std::vector<std::unique_ptr<DATABASE_LINK>> free_;
    int opened_ = 0;

    // What unwritable() found last, and when.
    std::mutex alive_mutex_;  // held by the check under way
    std::mutex known_mutex_;  // held a moment, to read or write what was found
    bool alive_checked_ = false;
    std::chrono::steady_clock::time_point alive_at_;
    std::string alive_trouble_;
};
}  // namespace

std::unique_ptr<STORE> open_store(const std::string &url, int links) {
    if (url.rfind("sqlite:", 0) == 0)
        return std::make_unique<SQL_STORE>(sqlite_links(url.substr(7)), links, "");
    if (url.rfind("postgresql://", 0) == 0 || url.rfind("postgres://", 0) == 0)
        return std::make_unique<SQL_STORE>(postgres_links(url), links, url);
    throw std::runtime_error("The database must be sqlite:PATH or a postgresql:// URI.");
}
