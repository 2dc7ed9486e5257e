// The maze world: a perfect maze of 8 by 15 cells carved into a 20 by 40 grid of tiles from the
// seed, the map screen, and what each key and each tile does.
#pragma once

#include <vector>

#include "game/state.h"

constexpr int MAXNODE = 125;    // room for the cells 1 to 120
constexpr int MAXEGDE = 14405;  // room for the edge list; 217 entries are used
constexpr int I = 17;           // carving runs over rows up to I, tiles over rows below it
constexpr int J = 31;           // the same for columns

// An edge between two neighbouring cells; from is the lower cell number.
struct side {
    int from = 0;
    int to = 0;
};

extern side edges[MAXEGDE];          // the edge list, used from 1 to indplan
extern int indplan;                  // number of edges in the list
extern int p[MAXNODE];               // the union-find parent of each cell
extern std::vector<int> g[MAXNODE];  // passages each cell opened: 1 to the right, 15 downward
extern char maze[20][40];            // the tiles: '#', ' ', '*', '&', '!', '$'

void init();
int find(int x);
void kruskal();
void scattertiles();

// The map screen, and one key of the main loop.
void print(int x, int y);
void Operation(char ch, int &x, int &y, FightResult &dead);
