// Runs the real marrowdeep program with its standard input fed from a string and its output
// kept. The clear command and the pauses are replaced by marks ("<clear>", "<sleep N>") through
// a small library loaded into the program, so a game with fights takes a moment, not minutes.
#pragma once

#include <string>

struct GameRun {
    std::string output;   // everything the program wrote to standard output
    std::string errors;   // everything it wrote to standard error
    bool exited = false;  // ended by itself (not by a signal or the time limit)
    int exit_code = -1;   // its status when it exited
    int signal = 0;       // the signal that ended it, if any
    bool timed_out = false;
};

// Feeds `input` and closes standard input; gives the program `seconds` to end.
GameRun run_game(const std::string &input, double seconds = 60.0);
GameRun run_program(const std::string &program, const std::string &input, double seconds = 60.0);
