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
};

// What add() did: kept the run, found the run of its id kept already, or found a run of the same
// play kept under another id (a copy, refused).
enum class ADDED { fresh, same, copy };

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

// Runs on a board: a run that ended by q or in a fall, with no hidden mode.
bool counts_on_boards(const RECORD &record);

class STORE {
  public:
    virtual ~STORE() = default;
    // Keeps the run unless a run of its id, or of its play, is kept already, and gives back the
    // one kept: fresh when it was new (kept is the run, committed when this returns), same when
    // a run of its id was kept (kept is that run), copy when a run of the same play was kept
    // under another id (kept is that first run; this one is not kept). Runs sent at once are
    // kept once, whichever hall takes them.
    virtual ADDED add(const KEPT_RUN &run, KEPT_RUN &kept) = 0;
    virtual bool find(const std::string &id, KEPT_RUN &found) = 0;
    virtual std::vector<KEPT_RUN> board(const BOARD_QUERY &query) = 0;
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
};

// "sqlite:PATH" or a PostgreSQL URI ("postgresql://..." or "postgres://..."). `links` is the
// most connections kept open at once. Throws std::runtime_error with a sentence when the
// database cannot be opened or brought to the current schema. A SQLite file is made here when
// there is none; the connections opened after find that same file or fail, and nothing is
// committed once it is deleted or replaced under the hall.
std::unique_ptr<STORE> open_store(const std::string &url, int links);
