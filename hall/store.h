// Where the hall keeps its runs: one small interface, the same for SQLite and PostgreSQL. The
// two back ends differ only in how they connect, how they report trouble and a few type names of
// their tables; what is asked of them is the same SQL, and the same schema.
#pragma once

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "hall/proof.h"

// A run as the hall keeps it.
struct KEPT_RUN {
    std::string id;
    RECORD record;
    long long submitted = 0;  // when the hall first took it, in seconds since 1970 (UTC)
    std::string link;         // the run as its link carries it (not read for boards)
    std::string play;         // play_id() of the run; empty for none (never a copy)
    std::string signer;       // the raw Ed25519 key that signed it (32 bytes); empty: not signed
    // When it was played live from its first key, the time its live game began (milliseconds
    // since 1970, the hall's clock); -1 when it was not (sent whole, or live from mid-run).
    long long live = -1;
    // Its seed is the day's seed of the UTC day it is kept on (set by the hall, which knows the
    // day's seed; not read back).
    bool daily = false;
};

// A day's board: each name's attempt at the day's seed that counts, best first, and the day's
// other runs of its seed that count (practice, unranked), best first.
struct DAY_BOARD {
    std::vector<KEPT_RUN> ranked;
    std::vector<KEPT_RUN> practice;
};

// What add() did: kept the run, found the run of its id kept already, found a run of the same
// play kept under another id (a copy, refused), or found its name claimed by another key than
// the run's (or by any key, for a run not signed: refused).
enum class ADDED { fresh, same, copy, taken };

// The database cannot answer now (it is stopped, unreachable or busy); what() is a sentence for
// the player. The hall answers 503, and the next request tries again.
struct STORE_DOWN : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A board: the best finished plain run of each name and seed, best first.
struct BOARD_QUERY {
    bool has_seed = false;
    long long seed = 0;
    // Only runs taken from `from` (included) to `to` (excluded), in seconds since 1970.
    bool has_period = false;
    long long from = 0, to = 0;
    int limit = 50;
};

// A game played now: its run so far is its link's version and clock second and the keys that
// came, kept as they come. Times are in milliseconds since 1970 (the hall's clock).
struct LIVE_GAME_ROW {
    std::string id;
    std::string token_digest;  // a SHA-256 of the player's token, in hexadecimal: never the token
    std::string address;       // the player's, for the games one address may play at once
    std::string version;
    bool has_clock = false;
    long long clock = 0;
    long long started = 0;
    long long last = 0;  // when its last keys came
    long long keys = 0;  // how many are committed
    std::string signer;  // the raw key its start was signed with (32 bytes); empty: not signed
};

// Keys of a live game as they came: `at` is how many came before them, `sent` when they came.
struct LIVE_BATCH {
    long long at = 0;
    std::string keys;
    long long sent = 0;
};

// A player's page: the runs kept under one name (its exact bytes), the newest first, as many as
// `limit`, those kept before the run `before` when it is given (the last of the page before).
struct PLAYER_QUERY {
    std::string name;
    std::string before;  // a run's id; empty: from the newest
    int limit = 50;
};

// The lowest place a player's page counts: the longest board the hall gives.
inline constexpr long long MOST_PLACE = 500;

// A run, and its place on a board: 1 for the first; more than MOST_PLACE for any place below it.
struct PLACED_RUN {
    KEPT_RUN run;
    long long place = 0;
};

struct PLAYER_PAGE {
    bool before_found = true;  // false: no run under the name has the id `before`
    std::string holder;        // the key that claimed the name (raw); empty: not claimed
    std::vector<KEPT_RUN> runs;
    bool more = false;  // runs older than the last of `runs` are kept
    // The best run on each seed's board and its place there, the best place first.
    std::vector<PLACED_RUN> bests;
    long long total = 0;   // runs kept under the name
    long long bosses = 0;  // of them, those that beat a boss
    int best_level = 0;
    // Each UTC day (its number: seconds since 1970 divided by 86,400) on which the player has a
    // run of that day's seed kept that day, the newest first.
    std::vector<long long> days;
};

// Runs on a board: a run that ended by q or in a fall, with no hidden mode.
bool counts_on_boards(const RECORD &record);

class STORE {
  public:
    virtual ~STORE() = default;
    // Keeps the run unless a run of its id, or of its play, is kept already, and gives back the
    // one kept: fresh when it was new (kept is the run, committed when this returns), same when
    // a run of its id was kept (kept is that run), copy when a run of the same play was kept
    // under another id (kept is that first run; this one is not kept). Runs sent at once are
    // kept once, whichever hall takes them. A new run's name is then looked up among the names
    // claimed: a signed run under a name no key holds claims it for its signer, in the same
    // transaction, so of two halls that race for a name one key gets it; a run under a name
    // another key holds (any key, for a run not signed) is taken (nothing kept, kept untouched).
    virtual ADDED add(const KEPT_RUN &run, KEPT_RUN &kept) = 0;
    // Frees a name claimed, so the next signed run under it claims it anew; false when no key
    // held it. The runs kept under it stay as they are.
    virtual bool release_name(const std::string &name) = 0;
    // The raw key that claimed a name; empty when none holds it.
    virtual std::string claimant(const std::string &name) = 0;
    virtual bool find(const std::string &id, KEPT_RUN &found) = 0;
    // Keeps the runs given in one transaction, each as add() keeps it (a run of an id or a play
    // kept already is left out), and answers how many were new. A run under a name another key
    // holds keeps none of them and throws std::runtime_error. For loading many runs at once.
    virtual std::size_t add_all(const std::vector<KEPT_RUN> &runs) = 0;
    // A page of the runs kept, in the order they were first kept, each with its link: at most
    // `limit` runs after the run of id `after` (empty: from the first run). False, with `page`
    // empty, when no run has the id `after`. A run still being kept (on PostgreSQL, by any hall)
    // ends the page before it and the runs after it, so a run committed later never falls
    // behind a run already read: paging on from the last run read misses none.
    virtual bool runs_after(const std::string &after, int limit, std::vector<KEPT_RUN> &page) = 0;
    virtual std::vector<KEPT_RUN> board(const BOARD_QUERY &query) = 0;
    // The board of the UTC day `day` (days since 1970), as many of each list as `limit`. A day's
    // runs are those kept during it: once it ends, nothing enters it. Each name's attempt is its
    // run of the day's seed (run.daily) that was played live from its first key and whose live
    // game began first (the earliest run.live, then the smaller id), whatever its ending; it is
    // ranked when it counts on boards. Halls racing on one database agree on it: the attempt is
    // one row a day and name, replaced only by an earlier start.
    virtual DAY_BOARD day_board(long long day, int limit) = 0;
    // The runs that took first place on their seed's board when they were kept, the newest
    // first, as many as `limit`.
    virtual std::vector<KEPT_RUN> first_places(int limit) = 0;
    // The winner of each day from `from` (included) to `to` (excluded) that has a ranked run,
    // the latest day first.
    virtual std::vector<KEPT_RUN> day_winners(long long from, long long to) = 0;
    // A player's page, read in one transaction (limit from 1 on).
    virtual PLAYER_PAGE player(const PLAYER_QUERY &query) = 0;
    // The name's part in a UTC day's board (the day's number): its ranked attempt and the
    // attempt's place; else, when it has none ranked, its best practice run, with place 0. False
    // when it has neither.
    virtual bool day_place(const std::string &name, long long day, PLACED_RUN &placed) = 0;
    // The hall's secret: the one kept, or when there is none yet, the one offered, kept now. Two
    // halls that start together on one database get the same.
    virtual std::string secret(const std::string &offered) = 0;
    virtual long long count() = 0;
    // "" when the database takes a write now, else a sentence for the player. It writes and
    // commits a row of its own to know, at most once a second (in between it answers what it
    // found last), and says on standard error when the database stops taking writes and when it
    // takes them again. Safe from any thread.
    virtual std::string unwritable() = 0;
    // What unwritable() would answer now without touching the database: its last finding, while
    // that is less than a second old or a check is under way; nothing when a check is due.
    virtual std::optional<std::string> unwritable_known() = 0;

    // Live games. A game begins with the batch of its first keys (those of the run it was started
    // with), and every later call adds the batches given in one transaction, committed when it
    // returns, after those held: a batch whose `at` is not the count held throws
    // std::logic_error and adds nothing. Ending a game forgets it and its keys (its run is kept
    // among the runs first). A `notice` that is not empty goes, in the same transaction, to
    // every hall listening on the database (see notices_uri()): they hear it once it commits.
    virtual void live_start(const LIVE_GAME_ROW &game, const LIVE_BATCH &first,
                            const std::string &notice = "") = 0;
    virtual void live_append(const std::string &id, const std::vector<LIVE_BATCH> &batches,
                             const std::string &notice = "") = 0;
    // The live games not ended, the newest first.
    virtual std::vector<LIVE_GAME_ROW> live_games() = 0;
    // A game's batches in order, those from the key `from` on (a batch that begins before it is
    // left out); none for a game it does not hold.
    virtual std::vector<LIVE_BATCH> live_keys(const std::string &id, long long from = 0) = 0;
    virtual void live_end(const std::string &id, const std::string &notice = "") = 0;
    // Where the halls sharing this database hear each other's notices of live games: the
    // database's URI, for a connection of the hall's own that listens; empty when one hall alone
    // uses the database (SQLite), whose live games need no notices.
    virtual std::string notices_uri() const = 0;
};

// "sqlite:PATH" or a PostgreSQL URI ("postgresql://..." or "postgres://..."). `links` is the
// most connections kept open at once. Throws std::runtime_error with a sentence when the
// database cannot be opened or brought to the current schema. A SQLite file is made here when
// there is none; the connections opened after find that same file or fail, and nothing is
// committed once it is deleted or replaced under the hall.
std::unique_ptr<STORE> open_store(const std::string &url, int links);
