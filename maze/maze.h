// The maze world: a perfect maze of 8 by 15 cells carved into a 20 by 40 grid of tiles from the
// seed, the map screen, and what each key and each tile does.
#pragma once

#include "combat/combat.h"
#include "state/state.h"

constexpr int I = 17;  // carving runs over rows up to I, tiles over rows below it
constexpr int J = 31;  // the same for columns

// The hero's start square (row, column) and the four directions: right, left, down, up.
constexpr int Sx = 2, Sy = 2;
constexpr int dx[4] = {0, 0, 1, -1};
constexpr int dy[4] = {1, -1, 0, 0};

void init();
int find(int x);
void kruskal();
void scattertiles();

// The map screen, and one key of the main loop.
void print(int x, int y);
void Operation(char ch, int &x, int &y, FightResult &dead);
