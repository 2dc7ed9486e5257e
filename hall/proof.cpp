// Playing a run again. The game runs here from the same start-up as the program, on a console in
// memory: its keys come from the run, what it writes is scanned for the two sentences the record
// needs and then dropped, clears and pauses do nothing, and the clock answers the run's second.
// Where the program would end (q on the map, the refresh's cost, the keys running out) the game
// hands control back here through the host's way out, and its state gives the record.
#include "hall/proof.h"

#include <stdio_ext.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "character/character.h"
#include "console/console.h"
#include "game/game.h"
#include "state/state.h"

namespace {
// Thrown where the game would leave, and where it goes past its budget; caught by prove().
struct Left {};
struct OverBudget {};
struct NoClock {};

const char *const BOSS_WON = "YOU HAVE WON THE GAME!!! YOU CAN EXIT BY q OR EXPLORE !!!\n";
const char *const DIED_OF_REFRESHING =
    "YOU LOSE!\nYou died of refreshing your map.\n"
    "Can't you calculate your health before pressing the keys?\n";

// What one proof is playing, and what it has seen so far. Each proof thread plays its own game:
// `playing` is this thread's, a plain pointer so that reaching it costs no check of its first use.
struct Replay {
    const RUN *run = nullptr;
    std::size_t at = 0;       // the next key handed to the game's input
    long long most = 0;       // the budget: draws, and bytes written counted eight to a draw
    long long draws = 0;      // the random draws the game made
    long long written = 0;    // the bytes it wrote
    bool over = false;        // past the budget: the game is stopped at its next draw or read
    bool clock_read = false;  // the seed came from the clock
    bool boss = false;
    std::string tail;  // the last bytes written, at most `kept` of them
    // Where the status screen's bytes go, while it is drawn after the game's end; nothing before.
    std::string *status = nullptr;
};
thread_local Replay *playing = nullptr;

// Enough of the last bytes written to hold either sentence whole, though the game wrote it in
// pieces between two flushes.
const std::size_t kept = std::strlen(DIED_OF_REFRESHING) + 64;

long long spent(const Replay &replay) { return replay.draws + replay.written / PROOF_BYTES_PER_DRAW; }

ssize_t read_keys(void *, char *buffer, size_t size) {
    Replay &replay = *playing;
    // Past the budget the keys run out, and the game leaves as at their end.
    if (replay.over) return 0;
    const std::string &keys = replay.run->keys;
    const std::size_t n = std::min(size, keys.size() - replay.at);
    std::memcpy(buffer, keys.data() + replay.at, n);
    replay.at += n;
    return static_cast<ssize_t>(n);
}

// The position of the next key the game will take: stdio asks for it to answer ftell().
int seek_keys(void *, off64_t *offset, int whence) {
    const Replay &replay = *playing;
    if (whence != SEEK_CUR || *offset != 0) return -1;
    *offset = static_cast<off64_t>(replay.at);
    return 0;
}

ssize_t scan_output(void *, const char *bytes, size_t size) {
    Replay &replay = *playing;
    if (replay.status) {
        replay.status->append(bytes, size);
        return static_cast<ssize_t>(size);
    }
    // Nothing is thrown from here, inside the C library's writing: the game is stopped at its next
    // draw or read instead.
    replay.written += static_cast<long long>(size);
    if (spent(replay) > replay.most) replay.over = true;
    std::string &tail = replay.tail;
    tail.append(bytes, size);
    if (!replay.boss && tail.find(BOSS_WON) != std::string::npos) replay.boss = true;
    if (tail.size() > kept) tail.erase(0, tail.size() - kept);
    return static_cast<ssize_t>(size);
}

void nothing() {}
void no_pause(long long) {}
void no_key_mode(bool) {}
long long run_clock() {
    Replay &replay = *playing;
    if (!replay.run->has_clock) throw NoClock{};
    replay.clock_read = true;
    return replay.run->clock;
}
[[noreturn]] void take_back() { throw Left{}; }

// The Linux program's generator, written out (the web page plays with it too), counted against
// the budget: every hall draws the same numbers whatever its runtime library, and the proof
// shares no generator with the rest of the process.
int budgeted_rand() {
    Replay &replay = *playing;
    ++replay.draws;
    if (replay.over || spent(replay) > replay.most) {
        replay.over = true;
        throw OverBudget{};
    }
    return additive_rand();
}

PROOF refused(int status, const char *sentence) {
    PROOF proof;
    proof.status = status;
    proof.error = sentence;
    return proof;
}

// The host of a proof, put in place for one game on this thread and taken away after it,
// whatever way it ends.
struct Host {
    HOST before = host;
    FILE *in = nullptr;
    FILE *out = nullptr;

    Host() {
        in = fopencookie(nullptr, "r", cookie_io_functions_t{read_keys, nullptr, seek_keys, nullptr});
        out = fopencookie(nullptr, "w", cookie_io_functions_t{nullptr, scan_output, nullptr, nullptr});
        if (!in || !out) {
            close();
            throw std::bad_alloc();
        }
        // Only this thread's game uses these: stdio need not lock them for each byte.
        __fsetlocking(in, FSETLOCKING_BYCALLER);
        __fsetlocking(out, FSETLOCKING_BYCALLER);
        alignas(64) thread_local char out_buffer[1 << 16];
        std::setvbuf(out, out_buffer, _IOFBF, sizeof out_buffer);
        host = HOST{
            .in = in,
            .out = out,
            .start = nothing,
            .clear = nothing,
            .wait = no_pause,
            .key_mode = no_key_mode,
            .roll = budgeted_rand,
            .plant_seed = &additive_srand,
            .clock = run_clock,
            .leave = take_back,
        };
    }
    ~Host() { close(); }
    void close() {
        host = before;
        if (in) std::fclose(in);
        if (out) std::fclose(out);  // what is left in its buffer is scanned first
        in = out = nullptr;
        playing = nullptr;
    }
};

bool ends_with(const std::string &text, const char *end) {
    const std::size_t n = std::strlen(end);
    return text.size() >= n && text.compare(text.size() - n, n, end) == 0;
}
}  // namespace

long long proof_budget(std::size_t keys) {
    return PROOF_BASE_DRAWS + PROOF_DRAWS_PER_KEY * static_cast<long long>(keys);
}

PROOF prove(const RUN &run) { return prove_within(run, proof_budget(run.keys.size())); }

PROOF prove_with_status(const RUN &run, std::string &status) {
    return prove_within(run, proof_budget(run.keys.size()), &status);
}

PROOF prove_within(const RUN &run, long long most_draws, std::string *status) {
    if (run.version != MARROWDEEP_VERSION)
        return refused(422,
                       "This run was played on another version of the game, so it cannot be proved here.");
    Replay replay;
    replay.run = &run;
    replay.most = most_draws;
    playing = &replay;

    PROOF proof;
    RECORD &record = proof.record;
    {
        Host proof_host;
        reset_game_state();
        try {
            play_game();
            record.ending = "fell";  // a fight on the map was lost
        } catch (const Left &) {
            std::fflush(host.out);
            if (std::feof(host.in))
                record.ending = "unfinished";
            else if (ends_with(replay.tail, DIED_OF_REFRESHING))
                record.ending = "fell";
            else
                record.ending = "quit";
        } catch (const NoClock &) {
            return refused(400, "This run took its seed from the clock, but its link holds no clock second.");
        } catch (const OverBudget &) {
        }
        const long long taken = std::ftell(host.in);
        record.keys = taken < 0 ? 0 : taken;
        // The hero's status screen as the game draws it from where the run left it, without
        // waiting for a key: the bytes after the game's own are the screen's alone.
        if (status && !replay.over) {
            std::fflush(host.out);
            replay.status = status;
            draw_status(_P_);
            std::fflush(host.out);
            replay.status = nullptr;
        }
    }
    if (replay.over)
        return refused(400, "This run goes on longer than any game can, so it cannot be proved.");
    proof.draws = replay.draws;
    proof.written = replay.written;
    record.name = _P_.name;
    record.seed = seed;
    record.clock = replay.clock_read;
    record.version = run.version;
    record.level = _P_.lv;
    record.experience = _P_.exp;
    record.boss = replay.boss;
    record.mode = CheatMode ? "VORTEX" : _P_.name == "QZRV" ? "QZRV" : "plain";
    proof.ok = true;
    proof.status = 200;
    return proof;
}
