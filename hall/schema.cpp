// The hall's tables, written once for both databases. The few words that differ between SQLite
// and PostgreSQL are named in the statements and put in by each back end (SCHEMA_TYPES), so a
// table gains a column in one place and both databases get it alike.
#include <stdexcept>
#include <string_view>

#include "hall/store_link.h"

namespace {
// {key}: the runs' own number, which the database gives each new run; {big}: a whole number
// that may pass 2^31 (seeds, experience, keys, seconds, runs' numbers); {bytes}: bytes kept as
// they came (names, the secret, keys). Each migration's number and statements, in the order of
// their numbers; a database gets every migration whose number it has not recorded, so one made
// by an earlier hall is brought up from where it stopped.
const std::vector<std::pair<int, std::vector<const char *>>> schema = {
    {1,
     {
         "CREATE TABLE runs (seq {key}, id TEXT NOT NULL UNIQUE, name {bytes} NOT NULL,"
         " seed {big} NOT NULL, clock INTEGER NOT NULL, version TEXT NOT NULL,"
         " ending TEXT NOT NULL, level INTEGER NOT NULL, experience {big} NOT NULL,"
         " boss INTEGER NOT NULL, keys {big} NOT NULL, mode TEXT NOT NULL,"
         " submitted {big} NOT NULL, link TEXT NOT NULL)",
         "CREATE INDEX runs_by_day ON runs (seed, submitted)",
         "CREATE TABLE best (name {bytes} NOT NULL, seed {big} NOT NULL, seq {big} NOT NULL,"
         " boss INTEGER NOT NULL, level INTEGER NOT NULL, experience {big} NOT NULL,"
         " keys {big} NOT NULL, submitted {big} NOT NULL, PRIMARY KEY (name, seed))",
         "CREATE INDEX best_by_rank ON best (boss DESC, level DESC, experience DESC, keys,"
         " submitted, seq)",
         "CREATE INDEX best_by_seed ON best (seed, boss DESC, level DESC, experience DESC, keys,"
         " submitted, seq)",
         "CREATE TABLE hall_secret (one INTEGER PRIMARY KEY CHECK (one = 1), secret {bytes} NOT NULL)",
     }},
    {2,
     {
         // Each run's play, none for a run kept before this whose link cannot be read (or whose
         // play an earlier run has); the runs before this are read by the store as it opens.
         "ALTER TABLE runs ADD COLUMN play TEXT",
         "CREATE UNIQUE INDEX runs_by_play ON runs (play)",
         "CREATE TABLE play_backlog (one INTEGER PRIMARY KEY CHECK (one = 1), read_to {big} NOT NULL,"
         " read_through {big} NOT NULL)",
         "INSERT INTO play_backlog (one, read_to, read_through) SELECT 1, 0, coalesce(max(seq), 0) FROM runs",
         // The best run of each UTC day, seed and name, for the day's board.
         "CREATE TABLE best_daily (day {big} NOT NULL, seed {big} NOT NULL, name {bytes} NOT NULL,"
         " seq {big} NOT NULL, boss INTEGER NOT NULL, level INTEGER NOT NULL,"
         " experience {big} NOT NULL, keys {big} NOT NULL, submitted {big} NOT NULL,"
         " PRIMARY KEY (day, seed, name))",
         "CREATE INDEX best_daily_by_rank ON best_daily (day, seed, boss DESC, level DESC,"
         " experience DESC, keys, submitted, seq)",
         FILL_BEST_DAILY,
         // The day's board no longer reads the runs by seed and time: one index fewer to write.
         "DROP INDEX runs_by_day",
         // The row the health check writes.
         "CREATE TABLE hall_alive (one INTEGER PRIMARY KEY CHECK (one = 1), beat INTEGER NOT NULL)",
         "INSERT INTO hall_alive (one, beat) VALUES (1, 0)",
     }},
    {3,
     {
         // The games played now, relayed key by key: each one's player holds a token, and the
         // game keeps only its digest. clock is the second the game's link carries, NULL for
         // none; started and last (the last key's coming) in milliseconds since 1970; keys, how
         // many are committed.
         "CREATE TABLE live_games (id TEXT PRIMARY KEY, token TEXT NOT NULL, address TEXT NOT NULL,"
         " version TEXT NOT NULL, clock {big}, started {big} NOT NULL, last {big} NOT NULL,"
         " keys {big} NOT NULL)",
         // Their keys, a row for each batch as it came: `at` is how many keys came before it,
         // `sent` when it came (milliseconds), so the day's games are relayed late by their own
         // times.
         "CREATE TABLE live_keys (game TEXT NOT NULL, at {big} NOT NULL, keys {bytes} NOT NULL,"
         " sent {big} NOT NULL, PRIMARY KEY (game, at))",
     }},
    {4,
     {
         // Signed runs: each run's signer, the raw Ed25519 public key whose signature it came
         // with (NULL: not signed); and the names claimed, one row a name, as the game read its
         // bytes: the first signed run under a name claims it for its key (claimed: that run's
         // second), and the primary key makes one claim win when halls race for a name.
         "ALTER TABLE runs ADD COLUMN signer {bytes}",
         "CREATE TABLE name_claims (name {bytes} PRIMARY KEY, signer {bytes} NOT NULL,"
         " claimed {big} NOT NULL)",
     }},
    {5,
     {
         // A player's page: the runs kept under a name, the newest first, and their totals (the
         // bosses beaten, the best level), all read from one index without the runs' rows.
         "CREATE INDEX runs_by_name ON runs (name, seq, boss, level)",
     }},
    {6,
     {
         // The fair day. live: when the run was played live from its first key, the second its
         // live game began, in milliseconds (NULL: not played live, or begun mid-run). daily:
         // when its seed is the day's seed of the UTC day it was kept on, that day's number
         // (NULL otherwise), so the day's practice runs are read from a small index.
         "ALTER TABLE runs ADD COLUMN live {big}",
         "ALTER TABLE runs ADD COLUMN daily {big}",
         "CREATE INDEX runs_of_the_day ON runs (daily) WHERE daily IS NOT NULL",
         // The day's practice in the boards' order, so its first runs are read without sorting
         // all of the day's.
         "CREATE INDEX runs_of_the_day_by_rank ON runs (daily, boss DESC, level DESC, experience DESC,"
         " keys, submitted, seq) WHERE daily IS NOT NULL AND mode = 'plain' AND ending IN ('quit', 'fell')",
         // And the days a name played, for its player's page.
         "CREATE INDEX runs_of_the_day_by_name ON runs (name, daily) WHERE daily IS NOT NULL",
         // Each name's attempt at a day's seed: its live game begun first (the earliest start,
         // then the smaller run id), whatever its ending; ranked when it counts on boards.
         "CREATE TABLE daily_first (day {big} NOT NULL, name {bytes} NOT NULL, started {big} NOT NULL,"
         " id TEXT NOT NULL, seq {big} NOT NULL, ranked INTEGER NOT NULL, boss INTEGER NOT NULL,"
         " level INTEGER NOT NULL, experience {big} NOT NULL, keys {big} NOT NULL,"
         " submitted {big} NOT NULL, PRIMARY KEY (day, name))",
         "CREATE INDEX daily_first_by_rank ON daily_first (day, ranked, boss DESC, level DESC,"
         " experience DESC, keys, submitted, seq)",
         // Each run that took first place on its seed's board when it was kept, for the feed.
         "CREATE TABLE first_places (seq {big} PRIMARY KEY, seed {big} NOT NULL)",
     }},
    {7,
     {
         // A live game's signer: the raw Ed25519 public key its start was signed with (NULL: not
         // signed). Its end must be signed by the same key, and a game its player left is kept
         // as that key's run.
         "ALTER TABLE live_games ADD COLUMN signer {bytes}",
     }},
    {8,
     {
         // The order in which runs are read for the export: by the number of the transaction
         // that kept them (0 for the runs kept before, and for every run on SQLite), then by
         // their own number. A reader reads only the runs of transactions that have all ended,
         // so a run committed late is never behind one it has passed.
         "ALTER TABLE runs ADD COLUMN writer {big} NOT NULL DEFAULT 0",
         "CREATE INDEX runs_in_order_kept ON runs (writer, seq)",
     }},
};
}  // namespace

std::string in_words_of(std::string_view statement, const SCHEMA_TYPES &types) {
    std::string out;
    for (std::size_t at = 0; at < statement.size();) {
        std::size_t open = statement.find('{', at);
        out.append(statement.substr(at, open - at));
        if (open == std::string_view::npos) break;
        std::size_t close = statement.find('}', open);
        if (close == std::string_view::npos) throw std::logic_error("A schema word is not closed.");
        std::string_view name = statement.substr(open + 1, close - open - 1);
        if (name == "key")
            out += types.sequence_key;
        else if (name == "big")
            out += types.big_integer;
        else if (name == "bytes")
            out += types.bytes;
        else if (name == "writer")
            out += types.writer;
        else if (name == "ended_below")
            out += types.ended_below;
        else
            throw std::logic_error("No database has the schema word {" + std::string(name) + "}.");
        at = close + 1;
    }
    return out;
}

std::vector<std::pair<int, std::vector<std::string>>> schema_migrations(const SCHEMA_TYPES &types) {
    std::vector<std::pair<int, std::vector<std::string>>> migrations;
    for (const auto &[number, statements] : schema) {
        std::vector<std::string> migration;
        for (const char *statement : statements) migration.push_back(in_words_of(statement, types));
        migrations.emplace_back(number, std::move(migration));
    }
    return migrations;
}
