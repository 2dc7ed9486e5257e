// The game's console pointed at memory for the in-process tests: input comes from a string,
// output is kept, the clear command leaves "<clear>" and a pause leaves "<sleep N>" (whole
// seconds, as the Linux build sleeps) instead of waiting. Random draws are counted, or served
// from a script when a test needs particular rolls; either way a run that goes on drawing past
// DRAW_LIMIT is stopped with an exception (support/draw_limit.h).
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

// Draws made through the counting source since the fixture began or since the last reset.
extern long long draws;
int counted_rand();

// Serves the given numbers in order; a draw past the end fails the running test.
void script_rolls(std::initializer_list<int> rolls);
void script_rolls(const std::vector<int> &rolls);
size_t rolls_left();
int scripted_rand();

// The game ends the program with status 0 when its input runs out. Inside a test that would
// look like a pass, so an exit while a test runs fails it, except inside this expectation.
#define EXPECT_GAME_ENDS(statement) \
    EXPECT_EXIT(                    \
        {                           \
            allow_game_to_end();    \
            statement;              \
        },                          \
        ::testing::ExitedWithCode(0), "")
void allow_game_to_end();

// Every test of the game's functions derives from this: the console is in memory, the game's
// lasting state is as at load with the catalogue filled, and the runtime generator is seeded
// with 1 and counted.
class GameTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Replaces what the game will read from here on.
    void type(const std::string &input);
    // Everything printed since the test began (or since the last call of take_output).
    std::string output();
    std::string take_output();
    // The pauses asked for, in milliseconds as the Linux build rounds them.
    std::vector<long long> pauses();
};
