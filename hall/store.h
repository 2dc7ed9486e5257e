// Where the hall keeps its runs: one small interface, the same for SQLite and PostgreSQL. The
// two back ends differ only in how they connect, how they report trouble and their tables'
// definitions; what is asked of them is the same SQL.
#pragma once

#include <memory>
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
};

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
    // Keeps the run unless a run of its id is kept already, and gives back the one kept: true
    // when it was new. The run is committed when this returns.
    virtual bool add(const KEPT_RUN &run, KEPT_RUN &kept) = 0;
    virtual bool find(const std::string &id, KEPT_RUN &found) = 0;
    virtual std::vector<KEPT_RUN> board(const BOARD_QUERY &query) = 0;
    // The hall's secret: the one kept, or when there is none yet, the one offered, kept now. Two
    // halls that start together on one database get the same.
    virtual std::string secret(const std::string &offered) = 0;
    virtual long long count() = 0;
};

// "sqlite:PATH" or a PostgreSQL URI ("postgresql://..." or "postgres://..."). `links` is the
// most connections kept open at once. Throws std::runtime_error with a sentence when the
// database cannot be opened or brought to the current schema.
std::unique_ptr<STORE> open_store(const std::string &url, int links);
