// The item catalogue, the hidden boss, and the generators of the hero, monsters and the boss.
#include <climits>

#include "character/character.h"
#include "console/console.h"
#include "support/in_memory_console.h"
#include "state/state.h"

using Catalogue = GameTest;

namespace {
void expect_weapon(const WEAPON &w, const char *name, int atk, int more_atk, int more_atk_rand) {
    EXPECT_EQ(w.name, name);
    EXPECT_EQ(w.atk, atk) << name;
    EXPECT_EQ(w.more_atk, more_atk) << name;
    EXPECT_EQ(w.more_atk_rand, more_atk_rand) << name;
}

void expect_armor(const ARMOR &a, const char *name, int dr, int es, double percent_dr, int sb_rand) {
    EXPECT_EQ(a.name, name);
    EXPECT_EQ(a.dr, dr) << name;
    EXPECT_EQ(a.es, es) << name;
    EXPECT_EQ(a.percent_dr, percent_dr) << name;
    EXPECT_EQ(a.sb_rand, sb_rand) << name;
}

void expect_no_bonuses(const PLAYER &c) {
    for (int i = 0; i < 12; ++i) EXPECT_EQ(c.buff[i], 0) << "buff " << i;
}
}  // namespace

TEST_F(Catalogue, HoldsTheItemsNamesAndHiddenBoss) {
    expect_weapon(iron_sword, "Iron Sword =|==> ", 90, 150, 250);
    expect_weapon(diamond_sword, "Diamond Sword ==|====> ", 150, 300, 333);
    expect_weapon(end_sword, "End Sword -+====> ", 300, 500, 333);
    expect_weapon(strange_sword, "Strange Sword  =:)==>", 85, 114513000, 100);
    expect_armor(iron_armor, "Iron Armor (_)", 50, 20, 150.0, 10);
    expect_armor(gold_armor, "Gold Armor |_|", 30, 100, 100.0, 20);
    expect_armor(happy_armor, "Happy Armor (::)", 1, 60, 150.0, 333);
    EXPECT_EQ(little_heart.name, "Little Heart (o)");
    EXPECT_EQ(little_heart.hp_add, 100);
    EXPECT_EQ(broken_heart.name, "Broken Heart (0)");
    EXPECT_EQ(broken_heart.hp_add, 200);

    const std::map<int, std::string> names = {
        {1, "\x1b[31mStrength\x1b[0m"}, {2, "dmg_percentage"},  {3, "crit_dmg"},
        {4, "\x1b[35mTactics\x1b[0m"},  {5, "crit_chance"},     {6, "dodge_chance"},
        {7, "\x1b[32mSurvival\x1b[0m"}, {8, "life_percentage"}, {9, "def_percentage"}};
    EXPECT_EQ(scrollname, names);

    EXPECT_EQ(Summ.name, "Summ");
    EXPECT_EQ(Summ.drug_num, 0);
    EXPECT_EQ(Summ.base_atk, 100000);
    EXPECT_EQ(Summ.max_hp, 200);
    EXPECT_EQ(Summ.real_hp, 200);
    EXPECT_EQ(Summ.max_es, 1000000);
    EXPECT_EQ(Summ.real_es, 1000000);
    EXPECT_EQ(Summ.exp, 2);
    EXPECT_EQ(Summ.lv, 30);
    expect_armor(Summ.arm, "Iron Armor (_)", 50, 20, 150.0, 10);
    expect_weapon(Summ.wea, "End Sword -+====> ", 300, 500, 333);
    EXPECT_TRUE(Summ.scrolls.empty());
    expect_no_bonuses(Summ);
    EXPECT_EQ(draws, 0);
}

TEST_F(Catalogue, HeroIsRolledInOrderWithoutScrolls) {
    host.roll = scripted_rand;
    // hp, shield, attack base, weapon, armour, drug count, then one roll per drug
    script_rolls({0, 0, 4, 3, 1, 2, 2, 1});
    PLAYER hero = SummonAI(1, true);
    EXPECT_EQ(rolls_left(), 0u);
    EXPECT_EQ(hero.name, "AI");
    EXPECT_EQ(hero.lv, 1);
    EXPECT_EQ(hero.exp, 0);
    EXPECT_EQ(hero.max_hp, 125);
    EXPECT_EQ(hero.real_hp, 125);
    EXPECT_EQ(hero.max_es, 114);  // 1.15 * 100 falls just short of 115
    EXPECT_EQ(hero.real_es, 114);
    EXPECT_EQ(hero.base_atk, 1);  // 1.9 truncated on its own
    EXPECT_EQ(hero.wea.name, iron_sword.name);
    EXPECT_EQ(hero.arm.name, gold_armor.name);
    EXPECT_EQ(hero.arm.es, 100);
    EXPECT_EQ(hero.drug_num, 2);
    EXPECT_EQ(hero.bag[0].name, "");
    EXPECT_EQ(hero.bag[1].name, broken_heart.name);
    EXPECT_EQ(hero.bag[2].name, little_heart.name);
    EXPECT_EQ(hero.bag[2].hp_add, 100);
    EXPECT_TRUE(hero.scrolls.empty());
    expect_no_bonuses(hero);

    // Level 10 at the top of every roll: the diamond sword, the iron armour, no drug roll.
    script_rolls({29, 29, 4, 4, 0, 0});
    hero = SummonAI(10, true);
    EXPECT_EQ(rolls_left(), 0u);
    EXPECT_EQ(hero.max_hp, 1201);
    EXPECT_EQ(hero.max_es, 521);
    EXPECT_EQ(hero.base_atk, 613);
    EXPECT_EQ(hero.wea.name, diamond_sword.name);
    EXPECT_EQ(hero.arm.name, iron_armor.name);
    EXPECT_EQ(hero.drug_num, 0);

    // Values beyond the int range are pinned, never wrapped.
    script_rolls({0, 0, 4, 0, 0, 0});
    EXPECT_EQ(SummonAI(36, true).base_atk, INT_MAX);
    script_rolls({29, 0, 0, 0, 0, 0});
    EXPECT_EQ(SummonAI(75, true).max_hp, INT_MAX);
}

TEST_F(Catalogue, EnemiesCarryScrollsCountedStraightIntoTheirBonuses) {
    host.roll = scripted_rand;
    script_rolls({0, 0, 0, 0, 0, 0, /* scrolls: */ 0, 0, 7, 1, 5, 0, 2, 3, 3});
    PLAYER ai = SummonAI(1, false);
    EXPECT_EQ(rolls_left(), 0u);
    ASSERT_EQ(ai.scrolls.size(), 3u);
    EXPECT_EQ(ai.scrolls[0].type, 1);
    EXPECT_EQ(ai.scrolls[0].effect[2], 90);
    EXPECT_EQ(ai.scrolls[0].effect[3], 160);
    EXPECT_EQ(ai.scrolls[1].type, 4);
    EXPECT_EQ(ai.scrolls[1].effect[5], 60);
    EXPECT_EQ(ai.scrolls[1].effect[6], 10);
    const int expected[12] = {0, 0, 90 + 120, 160 + 120, 0, 60, 10, 0, 0, 0, 0, 0};
    for (int i = 0; i < 12; ++i) EXPECT_EQ(ai.buff[i], expected[i]) << "buff " << i;

    host.roll = counted_rand;
    for (int lv : {1, 2, 3, 7, 12}) {
        draws = 0;
        PLAYER enemy = SummonAI(lv, false);
        const int n = lv < 3 ? 3 : lv;
        ASSERT_EQ(enemy.scrolls.size(), static_cast<size_t>(n)) << lv;
        EXPECT_EQ(draws, 6 + enemy.drug_num + 3 * n) << lv;
        int sums[12] = {};
        for (const SCROLL &s : enemy.scrolls) {
            sums[s.type + 1] += s.effect[s.type + 1];
            sums[s.type + 2] += s.effect[s.type + 2];
        }
        for (int i = 0; i < 12; ++i) EXPECT_EQ(enemy.buff[i], sums[i]) << "level " << lv << " buff " << i;
    }
}

TEST_F(Catalogue, BossDrawsFourAndCarriesTheEndSword) {
    host.roll = scripted_rand;
    script_rolls({2, 149, 89, 4});
    PLAYER boss = SummonAIBOSS();
    EXPECT_EQ(rolls_left(), 0u);
    EXPECT_EQ(boss.name, "Morvak_");
    EXPECT_EQ(boss.lv, 14);
    EXPECT_EQ(boss.exp, 0);
    EXPECT_EQ(boss.max_hp, 14756);  // 1.25^14 * 649
    EXPECT_EQ(boss.real_hp, 14756);
    EXPECT_EQ(boss.max_es, 2752);  // 1.15^14 * 389
    EXPECT_EQ(boss.base_atk, 11);  // 1.19^14
    expect_weapon(boss.wea, "End Sword -+====> ", 300, 500, 333);
    expect_armor(boss.arm, "Gold Armor |_|", 30, 100, 100.0, 20);
    EXPECT_EQ(boss.drug_num, 3);
    for (int i = 1; i <= 3; ++i) EXPECT_EQ(boss.bag[i].name, "Broken Heart (0)");
    EXPECT_TRUE(boss.scrolls.empty());
    expect_no_bonuses(boss);
}

TEST_F(Catalogue, CharactersMadeBeforeTheCatalogueCarryEmptyItems) {
    iron_sword = diamond_sword = WEAPON{};
    iron_armor = gold_armor = ARMOR{};
    little_heart = broken_heart = DRUG{};
    host.roll = scripted_rand;
    script_rolls({0, 0, 0, 0, 0, 2, 2, 0});
    PLAYER hero = SummonAI(1, true);
    expect_weapon(hero.wea, "", 0, 0, 0);
    expect_armor(hero.arm, "", 0, 0, 0.0, 0);
    EXPECT_EQ(hero.drug_num, 2);
    EXPECT_EQ(hero.bag[1].name, "");
    EXPECT_EQ(hero.bag[1].hp_add, 0);
}
