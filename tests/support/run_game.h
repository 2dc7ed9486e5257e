// Runs the real marrowdeep program with its standard input fed from a string and its output
// kept. The clear command and the pauses are replaced by marks ("<clear>", "<sleep N>") through
// a small library loaded into the program, so a game with fights takes a moment, not minutes.
// The same library holds the program's clock still (PINNED_CLOCK).
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

struct GameRun {
    std::string output;   // everything the program wrote to standard output (run_program only)
    std::string errors;   // what it wrote to standard error
    bool exited = false;  // ended by itself (not by a signal, the time limit or the taker)
    int exit_code = -1;   // its status when it exited
    int signal = 0;       // the signal that ended it, if any
    bool timed_out = false;
    bool stopped = false;  // the taker of its output asked to stop it
};

// What time() answers in the programs these functions run: the clock is an input of every run,
// the same for every program, so a seed taken from the clock (the answer y) plays the same game
// each time. 2026-01-01 00:00:00 UTC.
constexpr long long PINNED_CLOCK = 1767225600;

// Feeds `input` and closes standard input; gives the program `seconds` to end. The program's
// command line is its name and then the `arguments`.
GameRun run_game(const std::string &input, double seconds = 60.0);
GameRun run_game_with(const std::vector<std::string> &arguments, const std::string &input);
GameRun run_program(const std::string &program, const std::string &input, double seconds = 60.0,
                    const std::vector<std::string> &arguments = {});

// The same for runs by the thousand: each piece of standard output goes to `take` as it arrives
// instead of being kept (a false answer kills the game), and at most `errors_kept` bytes of
// standard error are kept. With `real_clock` the program reads the real clock instead of
// PINNED_CLOCK.
GameRun run_streaming(const std::string &program, const std::string &input, double seconds,
                      const std::function<bool(const char *, std::size_t)> &take, std::size_t errors_kept,
                      bool real_clock = false, const std::vector<std::string> &arguments = {});
