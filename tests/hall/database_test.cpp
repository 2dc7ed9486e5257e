// The hall's database: the real marrowdeep-hall on a SQLite file made read-only (immutable) for
// a spell and then deleted under it, and the store in process: copies of a play, runs kept
// before plays were, and the day's board read from its own table against every run of the day.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "hall/store_link.h"
#include "tests/hall/hall_fixture.h"
#include "tests/hall/hall_process.h"
#include "tests/hall/live_store_check.h"

namespace {
const std::string cannot_take =
    "{\"error\":\"The hall's database cannot take anything just now; try again later.\"}";
const char *const file_gone =
    "The hall's database file is gone; no run can be kept until the hall is set right.";

std::string link_of(const std::string &keys) {
    return write_run_link(RUN{keys, false, 0, MARROWDEEP_VERSION});
}
// A game quit at once; each seed a play of its own.
std::string keys_of(const std::string &name, long long seed) {
    return name + "\nn\n" + std::to_string(seed) + "\n1\nq";
}

// Rows of a query run on the file directly, NULL written "NULL".
std::vector<std::vector<std::string>> rows_of(const std::string &path, const std::string &sql) {
    sqlite3 *db = nullptr;
    std::vector<std::vector<std::string>> rows;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        ADD_FAILURE() << "cannot open " << path;
        return rows;
    }
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << sqlite3_errmsg(db) << " in " << sql;
        sqlite3_close(db);
        return rows;
    }
    while (sqlite3_step(statement) == SQLITE_ROW) {
        std::vector<std::string> row;
        for (int c = 0; c < sqlite3_column_count(statement); ++c) {
            if (sqlite3_column_type(statement, c) == SQLITE_NULL) {
                row.emplace_back("NULL");
            } else {
                const void *data = sqlite3_column_blob(statement, c);
                row.emplace_back(static_cast<const char *>(data),
                                 data ? sqlite3_column_bytes(statement, c) : 0);
            }
        }
        rows.push_back(std::move(row));
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return rows;
}

bool exec(sqlite3 *db, const std::string &sql) {
    char *error = nullptr;
    bool ok = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) == SQLITE_OK;
    if (!ok) ADD_FAILURE() << (error ? error : "?") << " in " << sql;
    sqlite3_free(error);
    return ok;
}

// Waits, asking again and again, until `done` holds; false after the bound.
template <typename DONE>
bool poll_until(DONE done, std::chrono::milliseconds bound = GENEROUS_WAIT) {
    const auto until = std::chrono::steady_clock::now() + bound;
    for (;;) {
        if (done()) return true;
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

class DatabaseTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder = temporary_folder();
        db = folder + "/hall.db";
    }
    void TearDown() override {
        if (made_immutable) set_immutable(false);
        std::filesystem::remove_all(folder);
    }
    std::unique_ptr<HALL_PROCESS> start() {
        return std::make_unique<HALL_PROCESS>(
            std::vector<std::string>{"--listen", "127.0.0.1:0", "--db", "sqlite:" + db, "--rate", "0"},
            std::vector<std::pair<std::string, std::string>>{
                {"MARROWDEEP_HALL_TEST_CLOCK", std::to_string(PINNED_SECONDS)}});
    }
    // chattr on the database and its log; false when the file system or the user cannot.
    bool set_immutable(bool on) {
        std::string command =
            std::string("chattr ") + (on ? "+i" : "-i") + " '" + db + "' '" + db + "-wal' > /dev/null 2>&1";
        // Once tried, undone at the end whatever came of it: a file left immutable could not
        // be removed.
        made_immutable = made_immutable || on;
        return std::system(command.c_str()) == 0;
    }
    // A new run each call, on a seed of its own: a play no other run has.
    HTTP_ANSWER send_new_run(HTTP_CONNECTION &connection) {
        ++sent;
        return connection.ask("POST", "/api/runs", link_of(keys_of("r" + std::to_string(sent), sent)));
    }
    std::string folder, db;
    bool made_immutable = false;
    long long sent = 0;
};
}  // namespace

TEST_F(DatabaseTest, AReadOnlySpellEndsByItselfForEveryRun) {
    auto hall = start();
    HTTP_CONNECTION connection(hall->port());
    ASSERT_EQ(send_new_run(connection).status, 201);
    // A store of this process on the same file, to ask it directly too.
    auto store = open_store("sqlite:" + db, 2);
    EXPECT_EQ(store->unwritable(), "");
    ASSERT_TRUE(std::filesystem::exists(db + "-wal"));
    if (!set_immutable(true)) GTEST_SKIP() << "chattr +i is not allowed here (not root, or not ext4)";

    for (int i = 0; i < 10; ++i) {
        HTTP_ANSWER refused = send_new_run(connection);
        EXPECT_EQ(refused.status, 503) << i;
        EXPECT_EQ(refused.body, cannot_take) << i;
    }
    // The health check says so (its last answer stands for a second: asked again until then).
    HTTP_ANSWER health;
    EXPECT_TRUE(poll_until([&] {
        health = connection.ask("GET", "/api/health");
        return health.status == 503;
    }));
    EXPECT_EQ(nlohmann::json::parse(health.body)["ok"], false);
    EXPECT_EQ(nlohmann::json::parse(health.body)["error"],
              "The hall's database cannot take anything just now; try again later.");
    EXPECT_TRUE(hall->wait_for_error("marrowdeep-hall: the database cannot take a write: "));
    std::string trouble;
    EXPECT_TRUE(poll_until([&] { return !(trouble = store->unwritable()).empty(); }));
    EXPECT_EQ(trouble, "The hall's database cannot take anything just now; try again later.");

    ASSERT_TRUE(set_immutable(false));
    // Back by itself: once a run is kept, every one after is, whatever connection it meets.
    EXPECT_TRUE(poll_until([&] { return send_new_run(connection).status == 201; }));
    for (int i = 0; i < 40; ++i) {
        HTTP_ANSWER kept = send_new_run(connection);
        EXPECT_EQ(kept.status, 201) << i << " " << kept.body;
    }
    // Several connections at once, so more of the pool's connections are used.
    std::vector<std::thread> senders;
    std::atomic<int> kept_at_once{0};
    for (int client = 0; client < 4; ++client)
        senders.emplace_back([&, client] {
            HTTP_CONNECTION own(hall->port());
            for (int i = 0; i < 10; ++i) {
                long long seed = 1000000 + client * 100 + i;
                kept_at_once += own.ask("POST", "/api/runs", link_of(keys_of("c", seed))).status == 201;
            }
        });
    for (auto &sender : senders) sender.join();
    EXPECT_EQ(kept_at_once.load(), 40);
    EXPECT_TRUE(poll_until([&] { return connection.ask("GET", "/api/health").status == 200; }));
    EXPECT_TRUE(hall->wait_for_error("marrowdeep-hall: the database takes writes again\n"));
    EXPECT_TRUE(poll_until([&] { return store->unwritable().empty(); }));
    // The first run, the first one kept again, 40, and 40 at once: none from the spell.
    EXPECT_EQ(store->count(), 82);
}

TEST_F(DatabaseTest, ADeletedFileTakesNoMoreRuns) {
    auto hall = start();
    HTTP_CONNECTION connection(hall->port());
    ASSERT_EQ(send_new_run(connection).status, 201);
    for (const char *end : {"", "-wal", "-shm"}) std::filesystem::remove(db + end);

    const std::string gone = std::string("{\"error\":\"") + file_gone + "\"}";
    for (int i = 0; i < 10; ++i) {
        HTTP_ANSWER refused = send_new_run(connection);
        EXPECT_EQ(refused.status, 503) << i;
        EXPECT_EQ(refused.body, gone) << i;
    }
    const std::string told = "marrowdeep-hall: the database file " + db +
                             " was deleted under the hall; no run is kept until it is set right.\n";
    EXPECT_TRUE(hall->wait_for_error(told));
    HTTP_ANSWER health = connection.ask("GET", "/api/health");
    EXPECT_EQ(health.status, 503);
    EXPECT_EQ(nlohmann::json::parse(health.body)["error"], file_gone);
    // Told once, and no file made in its place, empty and without tables.
    std::string log = hall->errors();
    EXPECT_EQ(log.find(told), log.rfind(told)) << log;
    for (const char *end : {"", "-wal", "-shm", "-journal"})
        EXPECT_FALSE(std::filesystem::exists(db + end)) << end;

    // Another file put in its place is not taken for it: the hall writes nothing into it.
    { std::ofstream(db) << ""; }
    for (int i = 0; i < 5; ++i) {
        HTTP_ANSWER refused = send_new_run(connection);
        EXPECT_EQ(refused.status, 503) << i;
        EXPECT_EQ(refused.body, gone) << i;
    }
    EXPECT_EQ(connection.ask("GET", "/api/health").status, 503);
    EXPECT_EQ(std::filesystem::file_size(db), 0u);
    EXPECT_FALSE(std::filesystem::exists(db + "-wal"));
    log = hall->errors();
    EXPECT_EQ(log.find(told), log.rfind(told)) << log;
}

namespace {
// A store of this process on a fresh file.
class DatabaseStore : public ::testing::Test {
  protected:
    void SetUp() override {
        folder = temporary_folder();
        db = folder + "/hall.db";
    }
    void TearDown() override {
        store.reset();
        std::filesystem::remove_all(folder);
    }
    void open() { store = open_store("sqlite:" + db, 2); }
    std::string folder, db;
    std::unique_ptr<STORE> store;
};

KEPT_RUN made(const std::string &id, const std::string &play, const std::string &name, long long seed,
              int level, long long submitted, const std::string &ending = "quit",
              const std::string &mode = "plain") {
    KEPT_RUN run;
    run.id = id;
    run.play = play;
    run.record = RECORD{name, seed, false, MARROWDEEP_VERSION, ending, level, 0, false, 10, mode};
    run.submitted = submitted;
    run.link = "-";
    return run;
}

std::vector<std::string> ids_of(const std::vector<KEPT_RUN> &runs) {
    std::vector<std::string> ids;
    for (const KEPT_RUN &run : runs) ids.push_back(run.id);
    return ids;
}
}  // namespace

TEST_F(DatabaseStore, LiveGamesAndTheirKeysInOrder) {
    open();
    check_live_store(*store);
    // Kept across a store closed and opened again, as a hall restarted finds them.
    LIVE_GAME_ROW game{"g3", "digest-3", "127.0.0.1", MARROWDEEP_VERSION, false, 0, 5, 5, 0, ""};
    store->live_start(game, LIVE_BATCH{0, "hero\n", 5});
    store.reset();
    open();
    auto games = store->live_games();
    ASSERT_EQ(games.size(), 1u);
    EXPECT_EQ(games[0].keys, 5);
    EXPECT_EQ(store->live_keys("g3").at(0).keys, "hero\n");
}

TEST_F(DatabaseStore, ACopyOfAPlayIsRefusedAndTheFirstKept) {
    open();
    KEPT_RUN kept;
    ASSERT_EQ(store->add(made("a1", "p1", "first", 7, 3, 100), kept), ADDED::fresh);
    EXPECT_EQ(kept.id, "a1");
    EXPECT_EQ(kept.play, "p1");

    // The same run again, later: the one kept, as it was kept.
    KEPT_RUN again = made("a1", "p1", "first", 7, 3, 200);
    ASSERT_EQ(store->add(again, kept), ADDED::same);
    EXPECT_EQ(kept.id, "a1");
    EXPECT_EQ(kept.submitted, 100);
    EXPECT_EQ(kept.play, "p1");

    // Another id, the same play under another name: the first run, and nothing kept.
    ASSERT_EQ(store->add(made("b1", "p1", "second", 7, 9, 300), kept), ADDED::copy);
    EXPECT_EQ(kept.id, "a1");
    EXPECT_EQ(kept.record.name, "first");
    EXPECT_EQ(kept.record.level, 3);
    EXPECT_EQ(kept.submitted, 100);
    KEPT_RUN found;
    EXPECT_FALSE(store->find("b1", found));
    BOARD_QUERY seven;
    seven.has_seed = true;
    seven.seed = 7;
    EXPECT_EQ(ids_of(store->board(seven)), (std::vector<std::string>{"a1"}));
    BOARD_QUERY day;
    day.has_seed = true;
    day.seed = 7;
    day.has_period = true;
    day.to = 86400;
    EXPECT_EQ(ids_of(store->board(day)), (std::vector<std::string>{"a1"}));

    // No play is none: never a copy, and kept as NULL.
    EXPECT_EQ(store->add(made("c1", "", "plain-1", 7, 1, 400), kept), ADDED::fresh);
    EXPECT_EQ(store->add(made("c2", "", "plain-2", 7, 1, 400), kept), ADDED::fresh);
    EXPECT_EQ(store->add(made("c2", "", "plain-2", 7, 1, 400), kept), ADDED::same);
    EXPECT_EQ(kept.id, "c2");
    ASSERT_TRUE(store->find("c1", found));
    EXPECT_EQ(found.play, "");
    EXPECT_EQ(store->count(), 3);
    EXPECT_EQ(rows_of(db, "SELECT id, play FROM runs ORDER BY seq"),
              (std::vector<std::vector<std::string>>{{"a1", "p1"}, {"c1", "NULL"}, {"c2", "NULL"}}));

    // Eight runs of one play at once: one kept, seven copies of it.
    std::vector<ADDED> results(8);
    std::vector<KEPT_RUN> kepts(8);
    std::vector<std::thread> adders;
    for (std::size_t i = 0; i < results.size(); ++i)
        adders.emplace_back([&, i] {
            results[i] = store->add(made("m" + std::to_string(i), "p-many", "m", 8, 1, 500), kepts[i]);
        });
    for (auto &adder : adders) adder.join();
    int fresh = 0;
    std::string first;
    for (std::size_t i = 0; i < results.size(); ++i)
        if (results[i] == ADDED::fresh) {
            ++fresh;
            first = "m" + std::to_string(i);
        }
    ASSERT_EQ(fresh, 1);
    for (std::size_t i = 0; i < results.size(); ++i) {
        EXPECT_EQ(kepts[i].id, first) << i;
        if (kepts[i].id != "m" + std::to_string(i)) {
            EXPECT_EQ(results[i], ADDED::copy) << i;
        }
    }
    EXPECT_EQ(store->count(), 4);
}

namespace {
// The day's board as the hall read it before it kept best_daily: every run of the period, each
// name and seed's best by a window over them.
std::vector<std::string> reference_board(const std::string &db, long long from, long long to, bool has_seed,
                                         long long seed, int limit) {
    const std::string ranking = "boss DESC, level DESC, experience DESC, keys ASC, submitted ASC, seq ASC";
    std::string sql =
        "SELECT id FROM (SELECT id, boss, level, experience, keys, submitted, seq,"
        " ROW_NUMBER() OVER (PARTITION BY name, seed ORDER BY " +
        ranking + ") AS place FROM runs WHERE submitted >= " + std::to_string(from) + " AND submitted < " +
        std::to_string(to) + (has_seed ? " AND seed = " + std::to_string(seed) : std::string()) +
        " AND mode = 'plain' AND ending IN ('quit', 'fell')) AS day WHERE place = 1 ORDER BY " + ranking +
        " LIMIT " + std::to_string(limit);
    std::vector<std::string> ids;
    for (const auto &row : rows_of(db, sql)) ids.push_back(row.at(0));
    return ids;
}

std::vector<std::string> board_of(STORE &store, long long from, long long to, bool has_seed, long long seed,
                                  int limit) {
    BOARD_QUERY query;
    query.has_period = true;
    query.from = from;
    query.to = to;
    query.has_seed = has_seed;
    query.seed = seed;
    query.limit = limit;
    return ids_of(store.board(query));
}

// A fixed run of draws (a 64-bit linear congruential generator), the same every time.
struct DRAWS {
    unsigned long long state;
    int below(int n) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<int>((state >> 33) % static_cast<unsigned long long>(n));
    }
};
}  // namespace

TEST_F(DatabaseStore, TheDaysBoardIsTheBestOfEachNameAndSeedThatDay) {
    open();
    // Runs on three days about the pinned one, and about 1970's first second (a day before it
    // too); a few names, seeds and endings, levels close together, seconds shared.
    const long long today = PINNED_SECONDS / 86400;
    const std::vector<long long> days{today - 1, today, today + 1, -1, 0};
    const std::vector<long long> seeds{5, 778435890, 9};
    const std::vector<std::string> names{"ann", "bo", "cy", "a\xff", "a\xfe", "dee", "ed", "flo"};
    const char *endings[] = {"quit", "quit", "fell", "unfinished"};
    const char *modes[] = {"plain", "plain", "plain", "QZRV", "VORTEX"};
    DRAWS draws{20261208};
    KEPT_RUN kept;
    for (int i = 0; i < 900; ++i) {
        long long day = days[static_cast<std::size_t>(draws.below(5))];
        // The day's first and last seconds often, else any.
        int at = draws.below(4);
        long long second = day * 86400 + (at == 0 ? 0 : at == 1 ? 86399 : draws.below(86400));
        KEPT_RUN run = made("d" + std::to_string(i), "", names[static_cast<std::size_t>(draws.below(8))],
                            seeds[static_cast<std::size_t>(draws.below(3))], 1 + draws.below(3), second,
                            endings[draws.below(4)], modes[draws.below(5)]);
        run.record.boss = draws.below(6) == 0;
        run.record.experience = draws.below(3) * 100;
        run.record.keys = 10 + draws.below(3);
        ASSERT_EQ(store->add(run, kept), ADDED::fresh);
    }

    std::size_t compared = 0;
    for (long long day : days) {
        for (int limit : {500, 3}) {
            for (long long seed : seeds) {
                auto expected = reference_board(db, day * 86400, day * 86400 + 86400, true, seed, limit);
                EXPECT_EQ(board_of(*store, day * 86400, day * 86400 + 86400, true, seed, limit), expected)
                    << "day " << day << " seed " << seed << " limit " << limit;
                compared += expected.size();
            }
            // Every seed of the day: each name and seed's best.
            EXPECT_EQ(board_of(*store, day * 86400, day * 86400 + 86400, false, 0, limit),
                      reference_board(db, day * 86400, day * 86400 + 86400, false, 0, limit))
                << "day " << day << " limit " << limit;
        }
    }
    // Most names are on each day and seed's board: the comparison is not of empty lists.
    EXPECT_GT(compared, 150u);
    // A period that is no whole day is read from the runs, alike.
    for (long long seed : seeds) {
        long long from = (today - 1) * 86400 + 3600, to = (today + 1) * 86400 + 7200;
        auto expected = reference_board(db, from, to, true, seed, 500);
        EXPECT_GT(expected.size(), 4u);
        EXPECT_EQ(board_of(*store, from, to, true, seed, 500), expected) << seed;
    }

    // Kept again from scratch by the migration's SQL, the table is the same.
    const std::string table =
        "SELECT day, seed, hex(name), seq, boss, level, experience, keys, submitted"
        " FROM best_daily ORDER BY day, seed, name";
    auto kept_as_they_came = rows_of(db, table);
    EXPECT_GT(kept_as_they_came.size(), 60u);
    {
        sqlite3 *handle = nullptr;
        ASSERT_EQ(sqlite3_open(db.c_str(), &handle), SQLITE_OK);
        exec(handle, "DELETE FROM best_daily");
        exec(handle, FILL_BEST_DAILY);
        sqlite3_close(handle);
    }
    EXPECT_EQ(rows_of(db, table), kept_as_they_came);
}

TEST_F(DatabaseStore, RunsKeptBeforePlaysGetThemWhenTheStoreOpens) {
    // A database as the hall left it before plays and the day's table: the first schema.
    {
        sqlite3 *handle = nullptr;
        ASSERT_EQ(sqlite3_open(db.c_str(), &handle), SQLITE_OK);
        for (const char *statement : {
                 "CREATE TABLE schema_version (version INTEGER NOT NULL)",
                 "INSERT INTO schema_version (version) VALUES (1)",
                 "CREATE TABLE runs (seq INTEGER PRIMARY KEY, id TEXT NOT NULL UNIQUE, name BLOB NOT NULL,"
                 " seed INTEGER NOT NULL, clock INTEGER NOT NULL, version TEXT NOT NULL,"
                 " ending TEXT NOT NULL, level INTEGER NOT NULL, experience INTEGER NOT NULL,"
                 " boss INTEGER NOT NULL, keys INTEGER NOT NULL, mode TEXT NOT NULL,"
                 " submitted INTEGER NOT NULL, link TEXT NOT NULL)",
                 "CREATE INDEX runs_by_day ON runs (seed, submitted)",
                 "CREATE TABLE best (name BLOB NOT NULL, seed INTEGER NOT NULL, seq INTEGER NOT NULL,"
                 " boss INTEGER NOT NULL, level INTEGER NOT NULL, experience INTEGER NOT NULL,"
                 " keys INTEGER NOT NULL, submitted INTEGER NOT NULL, PRIMARY KEY (name, seed))",
                 "CREATE TABLE hall_secret (one INTEGER PRIMARY KEY CHECK (one = 1), secret BLOB NOT NULL)",
             })
            ASSERT_TRUE(exec(handle, statement));
        // 1,200 runs, more than two of the store's batches. The even ones each a play of its own;
        // the odd ones on five seeds of the game, so five plays among them, each kept by the
        // first run of it; every hundredth a link that cannot be read. The even ones on the 1st
        // of January 1970, the odd ones the day before, on four seeds of the boards, seven names
        // each.
        ASSERT_TRUE(exec(handle, "BEGIN"));
        sqlite3_stmt *insert = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(handle,
                                     "INSERT INTO runs (id, name, seed, clock, version, ending, level,"
                                     " experience, boss, keys, mode, submitted, link) VALUES (?, ?, ?, 0,"
                                     " '" MARROWDEEP_VERSION "', ?, ?, 0, 0, 13, 'plain', ?, ?)",
                                     -1, &insert, nullptr),
                  SQLITE_OK);
        for (int i = 0; i < 1200; ++i) {
            long long seed = i % 2 == 0 ? i : i % 10;
            std::string name = "n" + std::to_string(i % 7);
            std::string link = i % 100 == 0 ? "-" : link_of(keys_of(name, seed));
            std::string id = "old" + std::to_string(i);
            const char *ending = i % 11 == 0 ? "unfinished" : i % 3 == 0 ? "fell" : "quit";
            sqlite3_bind_text(insert, 1, id.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_blob(insert, 2, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
            sqlite3_bind_int64(insert, 3, i / 2 % 4);  // the boards' seeds: 0 to 3
            sqlite3_bind_text(insert, 4, ending, -1, SQLITE_STATIC);
            sqlite3_bind_int(insert, 5, 1 + i * 7 % 5);
            sqlite3_bind_int64(insert, 6, i % 2 == 0 ? 86400 - 1 - i : -1 - i);
            sqlite3_bind_text(insert, 7, link.c_str(), -1, SQLITE_TRANSIENT);
            ASSERT_EQ(sqlite3_step(insert), SQLITE_DONE);
            sqlite3_reset(insert);
        }
        sqlite3_finalize(insert);
        ASSERT_TRUE(exec(handle, "COMMIT"));
        sqlite3_close(handle);
    }
    open();

    // Each run's play as the hall gives it now, by the play of its link's keys.
    std::set<std::string> seen;
    std::vector<std::vector<std::string>> expected;
    for (int i = 0; i < 1200; ++i) {
        std::string play = "NULL";
        if (i % 100 != 0) {
            std::string name = "n" + std::to_string(i % 7);
            std::string of_keys =
                play_id(RUN{keys_of(name, i % 2 == 0 ? i : i % 10), false, 0, MARROWDEEP_VERSION});
            if (seen.insert(of_keys).second) play = of_keys;
        }
        expected.push_back({"old" + std::to_string(i), play});
    }
    ASSERT_EQ(seen.size(), 593u);  // 600 even, 5 odd seeds, less the 12 even hundredths unread
    auto plays = rows_of(db, "SELECT id, play FROM runs ORDER BY seq");
    EXPECT_EQ(plays, expected);
    EXPECT_EQ(rows_of(db, "SELECT count(*) FROM runs WHERE play IS NOT NULL"),
              (std::vector<std::vector<std::string>>{{"593"}}));
    // A new run of run 1's play, under another name, is a copy of it.
    KEPT_RUN kept;
    KEPT_RUN copy =
        made("new11", play_id(RUN{keys_of("someone", 1), false, 0, MARROWDEEP_VERSION}), "someone", 1, 1, 5);
    EXPECT_EQ(store->add(copy, kept), ADDED::copy);
    EXPECT_EQ(kept.id, "old1");

    // The day's table was filled from the runs kept: the day's boards as every run of the day says.
    for (long long day : {-1LL, 0LL})
        for (long long seed = 0; seed < 4; ++seed) {
            auto from_runs = reference_board(db, day * 86400, day * 86400 + 86400, true, seed, 500);
            EXPECT_EQ(from_runs.size(), 7u);
            EXPECT_EQ(board_of(*store, day * 86400, day * 86400 + 86400, true, seed, 500), from_runs)
                << day << " " << seed;
        }

    // Opened again, nothing is read twice and nothing changes.
    store.reset();
    open();
    EXPECT_EQ(rows_of(db, "SELECT id, play FROM runs WHERE id LIKE 'old%' ORDER BY seq"), expected);
    EXPECT_EQ(rows_of(db, "SELECT read_to = read_through FROM play_backlog"),
              (std::vector<std::vector<std::string>>{{"1"}}));
}
