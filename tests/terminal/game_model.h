// The game's own generation code run inside the test, with the generator of the runtime library
// the program under test uses, so the tests know the maze, the hero and the monsters before the
// program shows them, and can plan where to walk.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "character/character.h"

enum class Runtime {
    glibc,   // the Linux program: the C library's rand
    msvcrt,  // the Windows program: state * 214013 + 2531011, 15 bits out
};

// Points the game's draws at the runtime's generator, seeded with `seed` (as srand would).
void use_generator(Runtime runtime, unsigned seed);

// The hero as start-up makes it: drawn from the generator's unseeded state, before the
// catalogue is filled, so its items are empty.
PLAYER starting_hero(Runtime runtime);

using Grid = std::array<std::array<char, 40>, 20>;

struct Square {
    int row = 0, col = 0;
    bool operator==(const Square &) const = default;
};

// Fills the catalogue and generates the maze for `seed` as start-up does. The generator stays
// where start-up leaves it, so the next draws are the ones the first moves make.
Grid generate_maze(Runtime runtime, long long seed);
Grid current_maze();  // the game's grid as it is now

// The 17 map rows as the map screen shows them, margin included, the hero at `hero`.
std::vector<std::string> map_rows(const Grid &grid, Square hero);

// The keys (w, a, s, d) of the shortest way from `from` to `to` that enters only squares
// holding one of `passable` (the target itself may hold anything). Empty when there is none.
std::string way(const Grid &grid, Square from, Square to, const std::string &passable);

// The nearest square holding `tile` that can be reached through `passable` squares only.
// {0, 0} when there is none.
Square nearest(const Grid &grid, Square from, char tile, const std::string &passable);

// Where a key moves the hero on an open map (walls are not looked at).
Square step(Square from, char key);

// What a supplies tile gives the hero, drawn in the order the game draws. The hero is updated
// as the game would update it when the player answers a change question with `answer`.
struct Supplies {
    int kind = 0;       // 0 weapon, 1 armour, 2 drug
    std::string name;   // the item found (empty for a refused drug)
    bool asks = false;  // the game asks whether to change the held item
    bool taken = false;
};
Supplies open_supplies(PLAYER &hero, char answer = 'n');

// Rolls every tile of `grid` again with the game's own tile step, as the paid refresh does.
Grid refresh_tiles(const Grid &grid);
