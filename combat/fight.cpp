// The duel: the hero acts, then the enemy, until one or both fall; and the fight screen.
#include <algorithm>
#include <climits>
#include <string>

#include "combat/combat.h"
#include "console/console.h"
#include "state/state.h"

void FightINIT(PLAYER &plr) { plr.real_es = plr.max_es; }

namespace {
// One row of the fight screen: the left text padded to its column, a bar, the right text.
void row(const std::string &left, const std::string &right, int task_len) {
    say(left);
    Space(left, task_len);
    say("|    ");
    say(right);
    say("\n");
}

std::string level_text(const PLAYER &c) {
    return "LV:" + std::to_string(c.lv) + "(" + std::to_string(c.exp) + "/" +
           std::to_string(exp_threshold(c.lv)) + ")   " + c.name;
}

std::string hp_text(const PLAYER &c) {
    return "HP : " + std::to_string(c.real_hp) + "/" + std::to_string(c.max_hp);
}

std::string es_text(const PLAYER &c) {
    return "ES : " + std::to_string(c.real_es) + "/" +
           std::to_string(static_cast<long long>(c.max_es) + c.arm.es);
}

// The enemy's turn: it drinks its biggest drug when below half its hit points, else attacks.
void enemy_turn(PLAYER &ai, PLAYER &hero) {
    if (static_cast<long long>(ai.real_hp) * 2 < ai.max_hp && ai.drug_num != 0) {
        say("duluduluduludulu\n");
        int best = 1;
        for (int k = 2; k <= ai.drug_num; ++k)
            if (ai.bag[k].hp_add > ai.bag[best].hp_add) best = k;
        int h = ai.bag[best].hp_add;
        for (int k = best; k < ai.drug_num; ++k) ai.bag[k] = ai.bag[k + 1];
        ai.drug_num -= 1;
        ai.real_hp = clamp_int(std::min<long long>(ai.max_hp, static_cast<long long>(ai.real_hp) + h));
        say(ai.name);
        sayf("'s hp now is %d!\n", ai.real_hp);
    } else {
        say(ai.name);
        say(" attacks you !\n");
        int no_charge = 0;
        Attack(ai, hero, no_charge);
    }
}
}  // namespace

void FightUI(PLAYER &plr, PLAYER &ai) {
    CLEAR();
    const int task_len = static_cast<int>(diamond_sword.name.size()) + 9;
    row(level_text(plr), level_text(ai), task_len);
    row("WEAPON : " + plr.wea.name, "WEAPON : " + ai.wea.name, task_len);
    row("ARMOR : " + plr.arm.name, "ARMOR : " + ai.arm.name, task_len);
    row(hp_text(plr), hp_text(ai), task_len);
    row(es_text(plr), es_text(ai), task_len);
    say("Press k to attack , K to accumulate power , 1/2/3 to use your drugs.\n");
    say("DRUG BAG\n");
    for (int k = 1; k <= plr.drug_num; ++k) {
        sayf("%d.", k);
        say(plr.bag[k].name);
        say(drug_suffix(plr.bag[k]));
    }
    say("\n\n");
}

FightResult Fight(PLAYER &plr, PLAYER ai) {
    FightINIT(plr);
    FightINIT(ai);
    int K = 0;
    int cnt = 0;
    for (;;) {
        FightUI(plr, ai);
        if (plr.real_hp <= 0 && ai.real_hp <= 0) {
            say("YOU AND AI BOTH DIED!\n");
            say("YOU WILL REBORN AT HALF hp!\n");
            PAUSE(1.5);
            plr.real_hp = plr.max_hp / 2;
            return {true, cnt};
        }
        if (plr.real_hp <= 0) {
            say("YOU LOSE!\n");
            PAUSE(1.5);
            return {false, INT_MAX};
        }
        if (ai.real_hp <= 0) {
            say("YOU WIN!\n");
            long long award = static_cast<long long>(roll() % 3 + 10) * ai.lv / 10;
            plr.exp = clamp_int(plr.exp + award);
            Pick(roll() % 2 + 2);
            LevelUP(plr);
            PAUSE(1.5);
            return {true, cnt};
        }

        cnt = clamp_int(cnt + 1LL);
        say(plr.name);
        say(" , now is your turn!\n");
        char key = single_key();
        if (key == 'k') {
            Attack(plr, ai, K);
        } else if (key == 'K') {
            K = clamp_int(K + 1LL);
            say("You choose to accumulate power!\n");
        } else if (key >= '0' && key <= '9') {
            int d = key - '0';
            if (d >= 1 && d <= plr.drug_num)
                drink(plr, d);
            else
                say("You don't have enough drug :(\n");
        }
        PAUSE(2);

        FightUI(ai, plr);
        say(ai.name);
        say(" , now is your turn!\n");
        enemy_turn(ai, plr);
        PAUSE(2);
    }
}
