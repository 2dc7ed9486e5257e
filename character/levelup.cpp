// Experience thresholds and the level-up: new rolls for the new level, a full heal, a scroll.
#include <cmath>

#include "character/character.h"
#include "console/console.h"
#include "state/state.h"

int exp_threshold(int lv) { return trunc_int(std::pow(1.5, static_cast<double>(lv) + 1)); }

void LevelUP(PLAYER &plr) {
    if (plr.exp < exp_threshold(plr.lv)) return;
    CLEAR();
    sayf("Level UP to %lld!\n", plr.lv + 1LL);
    plr.exp = clamp_int(static_cast<long long>(plr.exp) - exp_threshold(plr.lv));
    plr.lv = clamp_int(plr.lv + 1LL);
    const int L = plr.lv;
    plr.max_hp = trunc_int(std::pow(1.25, L) * (roll() % 30 + 100));
    plr.max_es = trunc_int(std::pow(1.2, L) * (roll() % 30 + 100));
    plr.base_atk = trunc_int(std::pow((15.0 + roll() % 5) / 10.0, L));
    plr.real_hp = plr.max_hp;
    SCROLL s = spawnscroll(L);
    say("You got a scroll!\n");
    printscroll(s);
    plr.scrolls.push_back(s);
    if (CheatMode) {
        plr.base_atk = 10000;
        plr.max_hp = 1919810;
        plr.real_hp = 114514;
    }
    PAUSE(1);
}
