// The tier challenge. The hero's experience is held at the bottom of the int range while the
// tier runs, so no fight raises a level; at the end the stars buy levels, one LevelUP each.
#include <climits>

#include "combat/combat.h"
#include "console/console.h"
#include "state/state.h"
#include "tier/tier.h"

namespace {
constexpr int LOCKED_EXP = -2147483647;

void show_stars(int lv, int life, bool star[4][4], int rooms) {
    CLEAR();
    sayf("TEIR LAYER: %d REMAINING LIFES: %d\n", lv, life);
    say("\x1b[32m *\x1b[0m: UNACOMPLISHED\n\x1b[31m *\x1b[0m: ACCOMPLISHED\n");
    static const char *const numerals[4] = {"", "I   ", "II  ", "III "};
    for (int i = 1; i <= rooms; ++i) {
        say(numerals[i]);
        for (int s = 1; s <= 3; ++s) {
            if (star[i][s])
                red("*");
            else
                green("*");
        }
        say("\n");
    }
}

int count_stars(bool star[4][4]) {
    int n = 0;
    for (int r = 1; r <= 3; ++r)
        for (int s = 1; s <= 3; ++s) n += star[r][s];
    return n;
}
}  // namespace

int stars_to_levels(int stars) {
    if (stars <= 20) return stars / 5;
    if (stars <= 30) return stars / 6;
    if (stars <= 50) return stars / 7;
    if (stars <= 70) return stars / 8;
    if (stars <= 100) return stars / 10;
    if (stars <= 107) return 11;
    return 18;
}

int Deep(int lv, int life) {
    CLEAR();
    bool star[4][4] = {};
    for (int rooms = 1; rooms <= 3; ++rooms) {
        CLEAR();
        sayf("TIER LAYER: %d\nROOM: %d/3\nREMAINING LIFES: %d/3\n", lv, rooms, life);
        PAUSE(1.5);
        _P_.exp = LOCKED_EXP;
        const FightResult win = Fight(_P_, SummonAI(lv * 3 + rooms - 3, false));
        _P_.exp = LOCKED_EXP;
        CLEAR();
        if (win.first) {
            sayf("YOU CLEARED ROOM %d WITH %d ROUNDS\n", rooms, win.second);
            if (win.second <= 14) star[rooms][1] = true;
            if (win.second <= 10) star[rooms][2] = true;
            if (win.second <= 5) star[rooms][3] = true;
            PAUSE(1.5);
        } else {
            if (life == 1) {
                red("YOU DIED! YOU LOST ALL YOUR LIFES!\n");
                PAUSE(1);
                return count_stars(star);
            }
            purple("YOU HAVE LOST A LIFE!");
            life -= 1;
            _P_.real_hp = _P_.max_hp;
            PAUSE(1);
        }
        show_stars(lv, life, star, rooms);
        _P_.exp = LOCKED_EXP;
        PAUSE(2);
    }
    const int cnt = count_stars(star);
    if (lv == 12) {
        say("YOU'VE REACHED THE BOTTOM!\n");
        PAUSE(1);
        return cnt;
    }
    sayf("TIER LAYER %d ALL CLEARED!\n", lv);
    say("Press Any Key to Proceed to the Next Layer...\n");
    single_key();
    return Deep(lv + 1, life) + cnt;
}

void tier() {
    CLEAR();
    say("TIER: USE\x1b[31m 3\x1b[0m LIVES TO CLEAR THE ENEMY!");
    say("YOU WILL\x1b[31m NOT\x1b[0m BE ABLE TO UPGRADE OR CONFIGURE.\n");
    say("THERE ARE 12 LAYERS IN THE TIER, EVERY LAYER HAS\x1b[32m 3\x1b[0m ROOMS, EVERY ROOM "
        "HAS\x1b[32m 1\x1b[0m ENEMY!\n");
    say("FOR YOUR AWARD, YOU WOULD BE GIVEN\x1b[32m STARS\x1b[0m!\nFOR EVERY ROOM, \n");
    say("IF YOU CLEARED THE ENEMY IN\x1b[33m 14\x1b[0m ROUNDS, YOU WOULD GET THE FIRST STAR.\n");
    say("IF YOU CLEARED THE ENEMY IN\x1b[34m 10\x1b[0m ROUNDS, YOU WOULD GET THE SECOND STAR.\n");
    say("IF YOU CLEARED THE ENEMY IN\x1b[35m 5\x1b[0m ROUNDS, YOU WOULD GET THE THIRD STAR.\n");
    say("WHEN THE GAME ENDS, IT WILL COUNT YOUR STARS AND GIVE YOU AWARDS ACCORDING TO THE STARS "
        "YOU GOT.\n");
    say("Press Any Key to Continue...\n");
    single_key();

    const int bak = _P_.exp;
    _P_.exp = LOCKED_EXP;
    const int ret = Deep(1, 3);
    CLEAR();
    _P_.exp = INT_MAX;
    sayf("STAR TOTAL:%d\n", ret);
    const int levels = stars_to_levels(ret);
    if (ret == 108) green("MAX STARS!\n");
    sayf("YOU WOULD UPGRADE %d LEVELS\n", levels);
    PAUSE(2);
    for (int i = 0; i < levels; ++i) {
        LevelUP(_P_);
        _P_.exp = INT_MAX;
    }
    _P_.exp = bak;
}
