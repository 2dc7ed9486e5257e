// The game's lasting state: the hero, the hidden-mode and build flags and the seed. Everything
// here lives for the whole run.
#pragma once

#include <utility>

#include "character/character.h"

extern bool CheatMode;  // the hidden mode with fixed huge stats
extern bool pref;       // false for the Strength build, true for Tactics
extern long long seed;  // as typed, or the clock's second at the answer y
extern PLAYER _P_;      // the hero

// The hero's start square (row, column) and the four directions: right, left, down, up.
constexpr int Sx = 2, Sy = 2;
constexpr int dx[4] = {0, 0, 1, -1};
constexpr int dy[4] = {1, -1, 0, 0};

// A fight's result: whether the hero came through, and the rounds it took.
using FightResult = std::pair<bool, int>;

void Game(int x, int y);  // the main loop, from the hero's square
// The whole game from start-up: the console, the hero, the three questions and the maze, then
// the main loop. It returns when a fight on the map is lost; every other end leaves the game.
void play_game();
