// The main loop: draw the map, read a key, carry it out, draw again.
#include <climits>

#include "console/console.h"
#include "game/state.h"
#include "maze/maze.h"

void Game(int x, int y) {
    print(x, y);
    say("\n");  // only the first screen has this extra line
    FightResult dead;
    for (;;) {
        char ch = read_raw_key();
        dead = {true, INT_MAX};
        Operation(ch, x, y, dead);
        if (!dead.first) return;  // a fight on the map was lost
        CLEAR();
        print(x, y);
    }
}
