// The game's lasting state: the hero, the hidden-mode and build flags, the seed, the catalogue
// and the maze. All of it lives for the whole run, and reset_game_state() puts it back as the
// program has it when it is loaded.
//
// Every variable here is GAME_LOCAL (console/console.h): a plain global in the programs, and one
// per thread in the hall, which plays many games at once.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "character/character.h"  // the records the hero and the catalogue are made of
#include "console/console.h"

extern GAME_LOCAL bool CheatMode;  // the hidden mode with fixed huge stats
extern GAME_LOCAL bool pref;       // false for the Strength build, true for Tactics
extern GAME_LOCAL long long seed;  // as typed, or the clock's second at the answer y
extern GAME_LOCAL PLAYER _P_;      // the hero

// ---------------------------------------------------------------------------------------------
// The catalogue, filled once at start-up and read-only afterwards.
extern GAME_LOCAL WEAPON iron_sword, diamond_sword, end_sword, strange_sword;
extern GAME_LOCAL ARMOR iron_armor, gold_armor, happy_armor;
extern GAME_LOCAL DRUG little_heart, broken_heart;
extern GAME_LOCAL std::map<int, std::string> scrollname;  // stat index to its display name
extern GAME_LOCAL PLAYER Summ;                            // the hidden boss

// ---------------------------------------------------------------------------------------------
// The maze: a perfect maze of 8 by 15 cells carved into a 20 by 40 grid of tiles.
constexpr int MAXNODE = 125;    // room for the cells 1 to 120
constexpr int MAXEGDE = 14405;  // room for the edge list; 217 entries are used

// An edge between two neighbouring cells; from is the lower cell number.
struct side {
    int from = 0;
    int to = 0;
};

extern GAME_LOCAL side edges[MAXEGDE];          // the edge list, used from 1 to indplan
extern GAME_LOCAL int indplan;                  // number of edges in the list
extern GAME_LOCAL int p[MAXNODE];               // the union-find parent of each cell
extern GAME_LOCAL std::vector<int> g[MAXNODE];  // passages each cell opened: 1 to the right, 15 downward
extern GAME_LOCAL char maze[20][40];            // the tiles: '#', ' ', '*', '&', '!', '$'

// Puts every variable above back as at load (every record empty, every number zero) and the
// host's generator as if seeded with 1, as the runtime library's stands before any seeding.
// The hall calls it before each game it plays again, the tests before each case.
void reset_game_state();
