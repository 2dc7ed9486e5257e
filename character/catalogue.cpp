// The fixed catalogue, the hidden boss, and the generators of the hero, monsters and the boss.
#include <algorithm>
#include <cmath>

#include "character/character.h"
#include "console/console.h"
#include "state/state.h"

void FightItemINIT() {
    iron_sword = {"Iron Sword =|==> ", 90, 150, 250};
    diamond_sword = {"Diamond Sword ==|====> ", 150, 300, 333};
    end_sword = {"End Sword -+====> ", 300, 500, 333};
    strange_sword = {"Strange Sword  =:)==>", 85, 114513000, 100};

    iron_armor = {"Iron Armor (_)", 50, 20, 150.0, 10};
    gold_armor = {"Gold Armor |_|", 30, 100, 100.0, 20};
    happy_armor = {"Happy Armor (::)", 1, 60, 150.0, 333};

    little_heart = {"Little Heart (o)", 100};
    broken_heart = {"Broken Heart (0)", 200};

    scrollname[1] = "\x1b[31mStrength\x1b[0m";
    scrollname[2] = "dmg_percentage";
    scrollname[3] = "crit_dmg";
    scrollname[4] = "\x1b[35mTactics\x1b[0m";
    scrollname[5] = "crit_chance";
    scrollname[6] = "dodge_chance";
    scrollname[7] = "\x1b[32mSurvival\x1b[0m";
    scrollname[8] = "life_percentage";
    scrollname[9] = "def_percentage";

    Summ.name = "Summ";
    Summ.drug_num = 0;
    Summ.base_atk = 100000;
    Summ.max_hp = 200;
    Summ.real_hp = 200;
    Summ.max_es = 1000000;
    Summ.real_es = 1000000;
    Summ.exp = 2;
    Summ.lv = 30;
    Summ.arm = iron_armor;
    Summ.wea = end_sword;
}

PLAYER SummonAI(int ai_lv, bool isplr) {
    PLAYER ai;
    ai.name = "AI";
    ai.lv = ai_lv;
    ai.exp = 0;
    ai.max_hp = trunc_int(std::pow(1.25, ai_lv) * (roll() % 30 + 100));
    ai.max_es = trunc_int(std::pow(1.15, ai_lv) * (roll() % 30 + 100));
    ai.base_atk = trunc_int(std::pow((15.0 + roll() % 5) / 10.0, ai_lv));
    ai.real_hp = ai.max_hp;
    ai.real_es = ai.max_es;
    ai.wea = roll() % 5 <= 3 ? iron_sword : diamond_sword;
    ai.arm = roll() % 2 == 0 ? iron_armor : gold_armor;
    ai.drug_num = roll() % 3;
    for (int i = 1; i <= ai.drug_num; ++i) ai.bag[i] = roll() % 3 == 2 ? broken_heart : little_heart;
    for (int &b : ai.buff) b = 0;
    if (!isplr) {
        // An enemy's scrolls count at once, with no set counts and no limit per kind.
        int n = std::max(3, ai_lv);
        for (int i = 0; i < n; ++i) {
            SCROLL s = spawnscroll(ai_lv);
            ai.scrolls.push_back(s);
            ai.buff[s.type + 1] =
                clamp_int(static_cast<long long>(ai.buff[s.type + 1]) + s.effect[s.type + 1]);
            ai.buff[s.type + 2] =
                clamp_int(static_cast<long long>(ai.buff[s.type + 2]) + s.effect[s.type + 2]);
        }
    }
    return ai;
}

PLAYER SummonAIBOSS() {
    int lv = roll() % 3 + 12;
    PLAYER boss;
    boss.name = "Morvak_";
    boss.lv = lv;
    boss.exp = 0;
    boss.max_hp = trunc_int(std::pow(1.25, lv) * (roll() % 150 + 500));
    boss.max_es = trunc_int(std::pow(1.15, lv) * (roll() % 90 + 300));
    boss.base_atk = trunc_int(std::pow((115.0 + roll() % 5) / 100.0, lv));
    boss.real_hp = boss.max_hp;
    boss.wea = end_sword;
    boss.arm = gold_armor;
    boss.drug_num = 3;
    for (int i = 1; i <= 3; ++i) boss.bag[i] = broken_heart;
    return boss;
}
