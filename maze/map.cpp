// The map screen and one key of the main loop: the status screen, the tier, leaving, or a step
// with whatever the entered tile holds.
#include <algorithm>

#include "combat/combat.h"
#include "console/console.h"
#include "maze/maze.h"
#include "state/state.h"
#include "tier/tier.h"

namespace {
const char *const map_space = "           ";  // 11 blanks before every map line

// The direction a key selects: 0 right, 1 left, 2 down, 3 up, or -1 for none.
int direction_of(char ch) {
    switch (ch) {
        case 'd': return 0;
        case 'a': return 1;
        case 's': return 2;
        case 'w': return 3;
        default: return -1;
    }
}

void enter_monster(FightResult &dead, char &tile) {
    int level = clamp_int(std::max(1LL, _P_.lv + static_cast<long long>(roll() % 5) - 2));
    dead = Fight(_P_, SummonAI(level, false));
    if (dead.first) tile = ' ';
}

void enter_boss(FightResult &dead, char &tile) {
    PLAYER boss;
    if (CheatMode) {
        say("\nNO HACK !!! THIS IS THE BOSS!!!\n");
        PAUSE(1);
        boss = Summ;
    } else {
        boss = SummonAIBOSS();
    }
    dead = Fight(_P_, boss);
    if (dead.first) {
        tile = ' ';
        say("YOU HAVE WON THE GAME!!! YOU CAN EXIT BY q OR EXPLORE !!!\n");
        PAUSE(2);
    }
}

// The paid refresh. Returns false when the player declines it.
bool enter_refresh() {
    say("refresh the map at the cost of 30hp?(y/n)\n");
    char answer = inchar();
    if (answer == 'n' || answer == 'N') return false;
    _P_.real_hp = clamp_int(_P_.real_hp - 30LL);
    if (_P_.real_hp <= 0) {
        say("YOU LOSE!\nYou died of refreshing your map.\n"
            "Can't you calculate your health before pressing the keys?\n");
        PAUSE(3);
        leave_game();
    }
    scattertiles();
    return true;
}
}  // namespace

void print(int x, int y) {
    PrintInfo();
    say(map_space);
    green(_P_.name);
    sayf(" LV:%d HP:%d/%d ES:%d/%d\n%sWEAPON:%s ARMOR:%s\n", _P_.lv, _P_.real_hp, _P_.max_hp, _P_.real_es,
         _P_.max_es, map_space, _P_.wea.name.c_str(), _P_.arm.name.c_str());
    sayf("%sSeed: %lld\n", map_space, seed);
    // Each row goes out in one or two pieces around the hero, not a square at a time: the same
    // bytes, for a fraction of the calls (a replayed game draws thousands of maps).
    for (int i = 1; i <= I; ++i) {
        say(map_space);
        if (i == x && y >= 1 && y <= J) {
            std::fwrite(&maze[i][1], 1, static_cast<size_t>(y - 1), host.out);
            blue("@");
            std::fwrite(&maze[i][y + 1], 1, static_cast<size_t>(J - y), host.out);
        } else {
            std::fwrite(&maze[i][1], 1, J, host.out);
        }
        say("\n");
    }
    std::fflush(host.out);
}

void Operation(char ch, int &x, int &y, FightResult &dead) {
    if (ch == 'b' || ch == 'B') {
        printplr(_P_);
        return;
    }
    if (ch == 'p' || ch == 'P') {
        say("INTO the TIER?(y/n)\n");
        if (read_answer() == 'y') tier();
    }
    if (ch == 'q') leave_game();

    int direction = direction_of(ch);
    if (direction < 0) return;  // the hero stays; the map is drawn again

    int nx = x + dx[direction], ny = y + dy[direction];
    if (nx < 1 || nx > I || ny < 1 || ny > J) return;
    if (maze[nx][ny] == '#') return;

    // Each test sees what the one before it left on the square.
    char &tile = maze[nx][ny];
    if (tile == '*') {
        Pick(-1);
        tile = ' ';
    }
    if (tile == '&') enter_monster(dead, tile);
    if (tile == '!') enter_boss(dead, tile);
    if (tile == '$') {
        if (!enter_refresh()) return;
        nx = Sx;
        ny = Sy;
    }
    x = nx;
    y = ny;
}
