// The proof of a run: the game plays the run's keys again, in this process, on a console in
// memory, from the same start-up as the program, and the record is read from the game's own
// state when it ends. Nothing a player claims is taken: only the keys, the clock's second and
// the version.
//
// The hall's build of the game keeps each game's state per thread, so proofs on different threads
// run at once, with no lock; each thread plays one game at a time. prove() answers every run
// with a record or a refusal; it throws only std::bad_alloc, when memory runs out. The game draws from the
// Linux program's generator written out, not from the runtime library's rand(), so every hall plays a run
// alike and nothing else in the process can take the game's numbers.
#pragma once

#include <string>

#include "hall/run_link.h"

struct RECORD {
    std::string name;  // the bytes the game took as the hero's name
    long long seed = 0;
    bool clock = false;  // the seed came from the clock (the answer y)
    std::string version;
    // "quit" (q on the map), "fell" (a fight lost on the map, or the refresh's cost), or
    // "unfinished" (the keys ran out while the game waited for more)
    std::string ending;
    int level = 0;  // the hero's, at the end
    long long experience = 0;
    bool boss = false;   // a boss fight was won
    long long keys = 0;  // the bytes the game read; bytes after its end do not count
    std::string mode;    // "plain", or the hidden mode's name: "QZRV" or "VORTEX"
};

// A proof: the record, or the HTTP status and one sentence: 422 for a run of another version of
// the game, 400 for a run that reads the clock with no second in its link or that the game
// cannot finish within the budget.
struct PROOF {
    bool ok = false;
    RECORD record;
    int status = 0;
    std::string error;
    // What the game did to play it: random draws, and bytes written.
    long long draws = 0;
    long long written = 0;
};

// The budget of a proof, counted in the game's random draws and the bytes it writes (eight bytes
// count as one draw), never in time, so the same run gets the same answer in every hall: far more
// than any game needs for its maze and for what each of its keys can set off, so only a run the
// game cannot finish, or one that makes the game write without end, is refused. Of 5,792
// generated games, the most any drew was 6,704 times and the most any wrote 5.1 MB (643,000 in
// all, far inside the base); the most a game's keys wrote was 1,142 bytes each on average.
inline constexpr long long PROOF_BASE_DRAWS = 2000000;
inline constexpr long long PROOF_DRAWS_PER_KEY = 1000;
inline constexpr long long PROOF_BYTES_PER_DRAW = 8;
long long proof_budget(std::size_t keys);

PROOF prove(const RUN &run);
// The same, and the hero's status screen at the run's end, as the game writes it (its colour
// codes in; its clear does nothing here) after the bytes of `status`.
PROOF prove_with_status(const RUN &run, std::string &status);
// The same with a budget of its own (the tests give one a run goes past).
PROOF prove_within(const RUN &run, long long most_draws, std::string *status = nullptr);
