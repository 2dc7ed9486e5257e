// Plays one game of a program on a given input, like support/run_game, but for runs by the
// thousand: the output is scanned as it arrives instead of kept (only its first and last bytes
// are), and a game that writes without end is stopped once it passes a limit, so a runaway loop
// shows up in a second and never fills the memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Play {
    bool exited = false;  // ended by itself
    int exit_code = -1;
    int signal = 0;
    bool timed_out = false;
    bool runaway = false;      // stopped for writing more than the limit
    std::string head;          // the first bytes of standard output
    std::string tail;          // the last bytes of standard output
    std::uint64_t output = 0;  // bytes written to standard output in all
    std::uint64_t digest = 0;  // a hash of all of standard output, to tell two games' bytes apart
    std::string errors;        // standard error (its first 64 KiB)
    std::vector<bool> found;   // for each text looked for: whether the output held it
};

// Runs `program` with the marks library preloaded (clears and pauses become marks, the clock
// answers PINNED_CLOCK unless `real_clock`) and the sanitizers set to report with statuses 99
// and 98, feeds it `input` and closes its input.
Play play(const std::string &program, const std::string &input, double seconds, std::uint64_t max_output,
          const std::vector<std::string> &look_for, bool real_clock = false);
