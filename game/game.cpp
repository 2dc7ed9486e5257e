// Start-up and the main loop: the hero, the three questions, the hidden modes, the seed, the
// catalogue and the maze; then draw the map, read a key, carry it out, draw again.
#include <climits>
#include <cstring>

#include "character/character.h"
#include "console/console.h"
#include "game/game.h"
#include "maze/maze.h"
#include "state/state.h"

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

void play_game() {
    console_start();
    CLEAR();

    // The hero is made before anything is seeded or catalogued, so every game starts with the
    // same stats and with empty items.
    _P_ = SummonAI(1, true);

    say("Please insert your name:");
    _P_.name = read_word();
    terminal_setup();

    if (_P_.name == "QZRV") _P_.exp = clamp_int(_P_.exp + 10000LL);
    if (_P_.name == "VORTEX") {
        _P_.base_atk = 10000;
        _P_.max_hp = 1919810;
        _P_.real_hp = 114514;
        CheatMode = true;
    }
    for (int &b : _P_.buff) b = 0;
    _P_.scrolls.clear();

    say("Random Seed?(y/n)\n");
    char op = read_answer();
    if (op == 'y') {
        seed = host.clock();
    } else {
        say("\nInput Seed:");
        seed = read_number(LLONG_MIN, LLONG_MAX);
    }

    say("Strength(1)/Tactics(2)?\n");
    int x = static_cast<int>(read_number(INT_MIN, INT_MAX));
    pref = x != 1;

    CLEAR();
    plant_seed(static_cast<unsigned>(seed));
    std::memset(maze, '#', sizeof maze);
    FightItemINIT();
    kruskal();
    Game(Sx, Sy);
}
