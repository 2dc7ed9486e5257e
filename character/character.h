// Characters and items: the one character record shared by the hero and every enemy, the item
// records, the fixed catalogue, and what the game does with them: generation, experience and
// level-up, scrolls, the status screen with the drug bag, and loot.
#pragma once

#include <map>
#include <string>
#include <vector>

struct WEAPON {
    std::string name;
    int atk = 0;            // flat attack; 0 counts as no weapon at all
    int more_atk = 0;       // critical damage bonus, per mille
    int more_atk_rand = 0;  // critical chance, per mille
};

struct ARMOR {
    std::string name;
    int dr = 0;               // flat damage reduction; 0 counts as no armour at all
    int es = 0;               // the armour's own shield, used up by hits
    double percent_dr = 0.0;  // proportional damage reduction, per mille
    int sb_rand = 0;          // dodge chance, per mille
};

struct DRUG {
    std::string name;
    int hp_add = 0;  // hit points restored, never above the maximum
};

// A scroll of type t (1 Strength, 4 Tactics) carries its two values in effect[t + 1] and
// effect[t + 2], per mille; the other entries are unused.
struct SCROLL {
    int type = 0;
    int effect[12] = {};
};

struct PLAYER {
    std::string name;
    WEAPON wea;
    ARMOR arm;
    DRUG bag[10];  // drugs in slots 1 to drug_num, in the order received; slot 0 stays empty
    int drug_num = 0;
    int exp = 0;  // experience toward the next level
    int lv = 0;
    int max_hp = 0;
    int real_hp = 0;
    int base_atk = 0;
    int max_es = 0;   // the personal shield's capacity
    int real_es = 0;  // the personal shield, refilled when a fight begins
    std::vector<SCROLL> scrolls;
    int buff[12] = {};  // stat bonuses and set counts, by stat index
};

// The hero holds at most MAX_DRUG_NUM + 1 drugs.
constexpr int MAX_DRUG_NUM = 3;

// ---------------------------------------------------------------------------------------------
// The catalogue (its records live with the game's state, state/state.h): filled once at start-up,
// and the characters made from it.
void FightItemINIT();
PLAYER SummonAI(int ai_lv, bool isplr);
PLAYER SummonAIBOSS();

// ---------------------------------------------------------------------------------------------
// Experience and level-up.
int exp_threshold(int lv);  // experience needed to rise from lv to lv + 1
void LevelUP(PLAYER &plr);

// ---------------------------------------------------------------------------------------------
// Scrolls.
SCROLL spawnscroll(int lv);
void printscroll(SCROLL scr);
bool cmp(SCROLL a, SCROLL b);
void ConfigScroll(PLAYER &you);  // the hero's scroll configuration

// ---------------------------------------------------------------------------------------------
// The status screen and the drug bag.
// The status screen drawn, from its clear to its line of keys; printplr() draws it and takes
// its keys.
void draw_status(PLAYER &you);
void printplr(PLAYER &you);
void drink(PLAYER &plr, int d);             // drinks the drug in slot d, 1 <= d <= drug_num
const char *drug_suffix(const DRUG &drug);  // " (+100hp)\n", " (+200hp)\n" or "\n"

// ---------------------------------------------------------------------------------------------
// Loot for the hero: -1 a random kind, 0 a weapon, 1 an armour, 2 a drug, anything else a scroll.
void Pick(int type);
