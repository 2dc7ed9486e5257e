#include "state/state.h"

#include <cstring>

GAME_LOCAL bool CheatMode = false;
GAME_LOCAL bool pref = false;
// The seed question always sets it, from the answer or from the clock, before it is planted.
GAME_LOCAL long long seed = 0;
GAME_LOCAL PLAYER _P_;

GAME_LOCAL WEAPON iron_sword, diamond_sword, end_sword, strange_sword;
GAME_LOCAL ARMOR iron_armor, gold_armor, happy_armor;
GAME_LOCAL DRUG little_heart, broken_heart;
GAME_LOCAL std::map<int, std::string> scrollname;
GAME_LOCAL PLAYER Summ;

GAME_LOCAL side edges[MAXEGDE];
GAME_LOCAL int indplan = 0;
GAME_LOCAL int p[MAXNODE];
GAME_LOCAL std::vector<int> g[MAXNODE];
GAME_LOCAL char maze[20][40];

void reset_game_state() {
    CheatMode = false;
    pref = false;
    seed = 0;
    _P_ = PLAYER{};
    iron_sword = diamond_sword = end_sword = strange_sword = WEAPON{};
    iron_armor = gold_armor = happy_armor = ARMOR{};
    little_heart = broken_heart = DRUG{};
    scrollname.clear();
    Summ = PLAYER{};
    for (auto &edge : edges) edge = side{};
    indplan = 0;
    std::memset(p, 0, sizeof p);
    for (auto &list : g) list.clear();
    std::memset(maze, 0, sizeof maze);
    plant_seed(1);
}
