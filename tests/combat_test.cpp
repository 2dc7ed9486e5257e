// Combat: one attack with its charge, critical hit, dodge, armour and shields, and the duel with
// its fight screen, turns, drinks, endings and rewards.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "combat/combat.h"
#include "console/console.h"
#include "maze/maze.h"
#include "support/in_memory_console.h"

namespace {
const std::string RED = "\x1b[31m", GREEN = "\x1b[32m", RESET = "\x1b[0m";

PLAYER fighter(const std::string &name, int atk, int hp) {
    PLAYER c;
    c.name = name;
    c.lv = 1;
    c.base_atk = atk;
    c.max_hp = c.real_hp = hp;
    return c;
}

std::string blanks(int n) { return std::string(n, ' '); }

// The texts between the fight screens: each piece after a clear, with the screen itself cut off.
std::vector<std::string> turns(const std::string &out) {
    std::vector<std::string> pieces;
    for (size_t at = out.find("<clear>"); at != std::string::npos;) {
        size_t next = out.find("<clear>", at + 7);
        std::string piece = out.substr(at + 7, next == std::string::npos ? std::string::npos : next - at - 7);
        size_t end = piece.rfind("LV:", 0) == 0 ? piece.find("\n\n\n") : std::string::npos;
        pieces.push_back(end == std::string::npos ? piece : piece.substr(end + 3));
        at = next;
    }
    return pieces;
}
}  // namespace

class AttackTest : public GameTest {
  protected:
    void SetUp() override {
        GameTest::SetUp();
        host.roll = scripted_rand;
    }
    int K = 0;
};

TEST_F(AttackTest, PlainHitDrawsTwiceAndAppliesTheDamageBonus) {
    PLAYER a = fighter("Ann", 91, 100), t = fighter("T", 0, 1000);
    a.buff[2] = 150;  // 91 * 1.15 = 104.65
    a.wea.more_atk_rand = 500;
    script_rolls({1500, 999});  // 1500 % 1000 is not below 500: no critical hit
    Attack(a, t, K);
    EXPECT_EQ(t.real_hp, 896);
    EXPECT_EQ(take_output(), "Done! And Ann's damage is 104!\n");
    EXPECT_EQ(draws, 2);
    EXPECT_EQ(rolls_left(), 0u);
}

TEST_F(AttackTest, ArmourThenBothShieldsThenHitPoints) {
    PLAYER a = fighter("A", 300, 1), t = fighter("T", 0, 1000);
    t.arm = iron_armor;  // 300 - 50 = 250, kept at 85%: 212, more than 20 + 100
    t.real_es = 100;
    script_rolls({999, 999});
    Attack(a, t, K);
    EXPECT_EQ(t.arm.es, 0);
    EXPECT_EQ(t.real_es, 0);
    EXPECT_EQ(t.real_hp, 788);
    EXPECT_EQ(take_output(), "Done! And A's damage is 212!\n");

    // The reduction is truncated to a whole per mille before it is applied: 150.7 acts as 150.
    t = fighter("T", 0, 5000);
    t.arm.percent_dr = 150.7;
    a.base_atk = 1000;
    script_rolls({999, 999});
    Attack(a, t, K);
    EXPECT_EQ(t.real_hp, 4150);

    // Damage below the flat reduction still does 1, taken from the armour shield.
    a.base_atk = 10;
    t.arm = iron_armor;
    script_rolls({999, 999});
    Attack(a, t, K);
    EXPECT_EQ(t.arm.es, 19);
    EXPECT_EQ(t.real_hp, 4150);

    // 51 - 50 leaves 1, of which 85% truncates to exactly 0: raised to 1 as well.
    a.base_atk = 51;
    take_output();
    script_rolls({999, 999});
    Attack(a, t, K);
    EXPECT_EQ(t.arm.es, 18);
    EXPECT_EQ(take_output(), "Done! And A's damage is 1!\n");
}

TEST_F(AttackTest, EachAbsorptionCase) {
    struct Case {
        int es, real_es, damage, es_after, real_es_after, hp_lost;
    };
    const Case cases[] = {
        {50, 30, 60, 0, -30, 0},    // the personal shield goes below zero
        {50, 7, 50, 0, 7, 0},       // exactly the armour shield
        {0, 100, 100, 0, 0, 0},     // exactly the personal shield
        {20, 100, 121, 0, 0, 121},  // one more than both: the shields absorb nothing
        {0, -30, 5, 0, 0, 5},       // a negative personal shield lets the hit through and is reset
        {10, -30, 5, 5, -30, 0},    // unless the armour shield takes it
    };
    for (const Case &c : cases) {
        PLAYER a = fighter("A", c.damage, 1), t = fighter("T", 0, 1000);
        t.arm.es = c.es;
        t.real_es = c.real_es;
        script_rolls({999, 999});
        Attack(a, t, K);
        EXPECT_EQ(t.arm.es, c.es_after) << c.es << " " << c.real_es << " " << c.damage;
        EXPECT_EQ(t.real_es, c.real_es_after) << c.es << " " << c.real_es << " " << c.damage;
        EXPECT_EQ(t.real_hp, 1000 - c.hp_lost) << c.es << " " << c.real_es << " " << c.damage;
    }
}

TEST_F(AttackTest, ThreeChargesAtLevelFiveThenACriticalHit) {
    PLAYER a = fighter("Cy", 100, 1), t = fighter("T", 0, 1000);
    a.lv = 5;
    a.wea = iron_sword;
    a.wea.atk = 0;
    K = 3;
    // 140 + (80 + 5) + (90 + 40 % 31) + (100 + 30) = 454; 100 becomes 454, the crit bonus 150
    // becomes 681, and the critical hit makes 454 * 1.681 = 763.174.
    script_rolls({5, 40, 30, 249, 999});
    Attack(a, t, K);
    EXPECT_EQ(K, 0);
    EXPECT_EQ(t.real_hp, 237);
    EXPECT_EQ(take_output(), "Accumulated 3 times!\ndmg enhanced to 454%!\n" + RED + "CRITICAL HIT!\n" +
                                 RESET + "Done! And Cy's damage is 763!\n");
    EXPECT_EQ(rolls_left(), 0u);
}

TEST_F(AttackTest, DodgeIsCappedAndEndsEvenACharged) {
    PLAYER a = fighter("A", 10, 1), t = fighter("T", 0, 1000);
    a.wea.more_atk_rand = 1000;
    a.wea.more_atk = 500;
    t.arm.sb_rand = 900;
    t.buff[6] = 50;  // 950, dodged only 80% of the time
    K = 1;
    script_rolls({0, 0, 799});
    Attack(a, t, K);
    EXPECT_EQ(K, 0);
    EXPECT_EQ(t.real_hp, 1000);
    EXPECT_EQ(take_output(), "Accumulated 1 times!\ndmg enhanced to 180%!\n" + RED + "CRITICAL HIT!\n" +
                                 RESET + GREEN + "MISS!\n" + RESET);
    script_rolls({0, 800});
    Attack(a, t, K);
    EXPECT_EQ(take_output(), RED + "CRITICAL HIT!\n" + RESET + "Done! And A's damage is 15!\n");
}

TEST_F(AttackTest, ValuesBeyondTheIntRangeArePinnedNotWrapped) {
    // The Strange Sword charged: its crit bonus times 210% leaves the int range on the way.
    PLAYER a = fighter("S", 0, 1), t = fighter("T", 0, 100000000);
    a.wea = strange_sword;
    K = 1;
    script_rolls({30, 0, 999});  // 210%: 85 -> 178, 114513000 -> 240477300
    Attack(a, t, K);
    EXPECT_EQ(t.real_hp, 100000000 - 42805137);  // 178 * 240478.3

    // A critical hit beyond the int range, on a target already far below zero.
    a.base_atk = 100000;
    t.real_hp = -1000;
    script_rolls({0, 999});
    Attack(a, t, K);
    EXPECT_EQ(t.real_hp, INT_MIN);
    EXPECT_NE(output().find("Done! And S's damage is 2147483647!\n"), std::string::npos);

    // A base attack at the top of the range plus a weapon, against Iron Armor.
    PLAYER big = fighter("Big", INT_MAX, 1);
    big.wea.atk = 90;
    t = fighter("T", 0, INT_MAX);
    t.arm = iron_armor;
    script_rolls({999, 999});
    Attack(big, t, K);
    EXPECT_EQ(t.real_hp, INT_MAX - 1825361057);  // (2147483647 - 50) * 0.85

    // A level so high that the charge factor itself is pinned.
    big.lv = 300000000;
    big.base_atk = 1000;
    big.wea.atk = 0;
    t = fighter("T", 0, 0);
    K = 2;
    take_output();
    script_rolls({0, 0, 999, 999});
    Attack(big, t, K);
    EXPECT_EQ(take_output(),
              "Accumulated 2 times!\ndmg enhanced to 2147483647%!\nDone! And Big's damage is "
              "2147483647!\n");
    EXPECT_EQ(t.real_hp, -2147483647);
}

// ---------------------------------------------------------------------------------------------

class FightTest : public AttackTest {
  protected:
    void SetUp() override {
        AttackTest::SetUp();
        _P_ = fighter("Hero", 1000, 100);
    }
    // Checks the game read exactly the keys it was given: the marker after them is still there.
    void expect_keys_used() { EXPECT_EQ(single_key(), '#'); }
};

TEST_F(FightTest, ScreenColumnsRowsAndTheLeftFightersDrugs) {
    PLAYER hero = fighter("Hero", 0, 201), ai = fighter("AI", 0, 1201);
    hero.lv = 2;
    hero.exp = 1;
    hero.real_hp = 57;
    hero.wea = iron_sword;
    hero.arm = gold_armor;
    hero.arm.es = 40;
    hero.max_es = 150;
    hero.real_es = 3;
    hero.bag[1] = little_heart;
    hero.bag[2] = broken_heart;
    hero.bag[3] = {"Odd Flask", 5};
    hero.drug_num = 3;
    ai.lv = 12;
    ai.real_hp = 931;
    ai.wea = diamond_sword;
    ai.arm = iron_armor;
    ai.max_es = ai.real_es = 404;
    ai.bag[1] = little_heart;
    ai.drug_num = 0;  // a drug beyond the count is never shown

    FightUI(hero, ai);
    const std::string help = "Press k to attack , K to accumulate power , 1/2/3 to use your drugs.\n";
    EXPECT_EQ(take_output(), "<clear>LV:2(1/3)   Hero" + blanks(17) + "|    LV:12(0/194)   AI\n" +
                                 "WEAPON : Iron Sword =|==> " + blanks(7) +
                                 "|    WEAPON : Diamond Sword ==|====> \n" + "ARMOR : Gold Armor |_|" +
                                 blanks(11) + "|    ARMOR : Iron Armor (_)\n" + "HP : 57/201" + blanks(22) +
                                 "|    HP : 931/1201\n" + "ES : 3/190" + blanks(23) + "|    ES : 404/424\n" +
                                 help +
                                 "DRUG BAG\n1.Little Heart (o) (+100hp)\n2.Broken Heart (0) (+200hp)\n3.Odd "
                                 "Flask\n\n\n");

    ai.name = "Abcdefghijklmnopqrstuvwxyz";  // the row is longer than its column: no blanks
    FightUI(ai, hero);
    EXPECT_EQ(take_output(),
              std::string("<clear>LV:12(0/194)   Abcdefghijklmnopqrstuvwxyz|    LV:2(1/3)   Hero\n") +
                  "WEAPON : Diamond Sword ==|====> " + blanks(1) + "|    WEAPON : Iron Sword =|==> \n" +
                  "ARMOR : Iron Armor (_)" + blanks(11) + "|    ARMOR : Gold Armor |_|\n" + "HP : 931/1201" +
                  blanks(20) + "|    HP : 57/201\n" + "ES : 404/424" + blanks(21) + "|    ES : 3/190\n" +
                  help + "DRUG BAG\n\n\n");
}

TEST_F(FightTest, FirstTurnWinGivesExperienceThenLootThenALevel) {
    PLAYER ai = fighter("AI", 1, 10);
    ai.lv = 5;
    type(" \n\tk#");  // blanks and line ends do not spend the turn
    // Hero's hit, the fallen enemy's hit, (12 * 5) / 10 = 6 experience, a drug (Broken Heart),
    // then the level-up's three stats and its scroll.
    script_rolls({999, 999, 999, 999, 2, 0, 2, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(Fight(_P_, ai), FightResult(true, 1));
    EXPECT_EQ(rolls_left(), 0u);
    expect_keys_used();
    const std::vector<std::string> expected = {
        "Hero , now is your turn!\nDone! And Hero's damage is 1000!\n<sleep 2>",
        "AI , now is your turn!\nAI attacks you !\nDone! And AI's damage is 1!\n<sleep 2>",
        "YOU WIN!\nYou pick Broken Heart (0) !\n<sleep 1>",
        "Level UP to 2!\nYou got a scroll!\n" + RED + "Strength" + RESET +
            " dmg_percentage 10% crit_dmg 10%\n<sleep 1><sleep 1>"};
    EXPECT_EQ(turns(output()), expected);
    EXPECT_EQ(pauses(), (std::vector<long long>{2000, 2000, 1000, 1000, 1000}));
    EXPECT_EQ(_P_.lv, 2);
    EXPECT_EQ(_P_.exp, 4);
    EXPECT_EQ(_P_.drug_num, 1);
    EXPECT_EQ(_P_.bag[1].name, broken_heart.name);
}

TEST_F(FightTest, ExperienceAwardUsesTheEnemyLevel) {
    struct Case {
        int lv, roll, gained;
    };
    const Case cases[] = {{1, 2, 1},   {5, 0, 5},   {5, 1, 5},
                          {5, 2, 6},   {12, 0, 12}, {12, 1, 13},
                          {12, 2, 14}, {10, 3, 10}, {1000000000, 2, 1200000000}};
    _P_.lv = 51;       // far from a level-up
    _P_.drug_num = 4;  // the drug loot is refused without a draw
    for (const Case &c : cases) {
        _P_.exp = 0;
        PLAYER ai = fighter("AI", 1, 10);
        ai.lv = c.lv;
        type("k#");
        script_rolls({999, 999, 999, 999, c.roll, 0});
        EXPECT_EQ(Fight(_P_, ai), FightResult(true, 1));
        EXPECT_EQ(_P_.exp, c.gained) << c.lv << " " << c.roll;
        EXPECT_EQ(rolls_left(), 0u);
        expect_keys_used();
    }
    EXPECT_NE(output().find("|    LV:1000000000(0/2147483647)   AI\n"), std::string::npos);
    EXPECT_NE(output().find("YOU WIN!\nYou don't have enough place for more drugs :(\n<sleep 1><sleep 1>"),
              std::string::npos);

    // A monster on the map stands at the hero's level plus the draw % 5, minus 2: for a hero at
    // level 5, draw 5 gives 3 and draw 9 gives 7. All its own draws are 0: no drugs, Strength
    // scrolls, and an award of exactly its level.
    _P_.lv = 5;
    _P_.real_hp = 1000;
    for (auto [draw, lv] : {std::pair{5, 3}, std::pair{9, 7}}) {
        _P_.exp = 0;
        maze[2][3] = '&';
        int x = 2, y = 2;
        FightResult dead;
        std::vector<int> rolls(1 + 6 + 3 * lv, 0);
        rolls[0] = draw;
        rolls.insert(rolls.end(), {999, 999, 999, 999, 0, 0});
        script_rolls(rolls);
        type("k#");
        Operation('d', x, y, dead);
        EXPECT_EQ(_P_.exp, lv) << draw;
        EXPECT_EQ(rolls_left(), 0u) << draw;
        expect_keys_used();
    }
}

TEST_F(FightTest, BothFallingCountsAsComeThroughAtHalfHitPoints) {
    _P_.max_hp = 7;
    _P_.real_hp = 1;
    type("k#");
    script_rolls({999, 999, 999, 999});
    EXPECT_EQ(Fight(_P_, fighter("AI", 5, 10)), FightResult(true, 1));
    EXPECT_EQ(_P_.real_hp, 3);
    EXPECT_EQ(_P_.exp, 0);
    EXPECT_EQ(turns(output()).back(), "YOU AND AI BOTH DIED!\nYOU WILL REBORN AT HALF hp!\n<sleep 1>");
    EXPECT_EQ(pauses(), (std::vector<long long>{2000, 2000, 1000}));
    expect_keys_used();
}

TEST_F(FightTest, FallenEnemyDrinksBackAboveZeroThenTheHeroLoses) {
    _P_.base_atk = 10;
    _P_.real_hp = 5;
    PLAYER ai = fighter("AI", 5, 100);
    ai.real_hp = 10;
    ai.bag[1] = broken_heart;
    ai.drug_num = 1;
    type("kx#");
    script_rolls({999, 999, 999, 999});
    EXPECT_EQ(Fight(_P_, ai), FightResult(false, INT_MAX));
    const std::vector<std::string> t = turns(output());
    ASSERT_EQ(t.size(), 5u);
    EXPECT_EQ(t[1], "AI , now is your turn!\nduluduluduludulu\nAI's hp now is 100!\n<sleep 2>");
    EXPECT_EQ(t[2], "Hero , now is your turn!\n<sleep 2>");  // any other key spends the turn
    EXPECT_EQ(t[3], "AI , now is your turn!\nAI attacks you !\nDone! And AI's damage is 5!\n<sleep 2>");
    EXPECT_EQ(t[4], "YOU LOSE!\n<sleep 1>");
    expect_keys_used();
}

TEST_F(FightTest, EnemyDrinksItsBiggestDrugOnlyBelowHalf) {
    _P_.base_atk = 1;
    _P_.real_hp = 10;
    PLAYER ai = fighter("AI", 5, 100);
    ai.real_hp = 50;  // exactly half: it attacks
    const DRUG bag[] = {{"A", 100}, {"B", 200}, {"C", 200}, {"D", 50}};
    for (int i = 0; i < 4; ++i) ai.bag[i + 1] = bag[i];
    ai.drug_num = 4;
    type("xkx#");
    script_rolls({999, 999, 999, 999, 999, 999});
    EXPECT_EQ(Fight(_P_, ai), FightResult(false, INT_MAX));
    const std::vector<std::string> t = turns(output());
    ASSERT_EQ(t.size(), 7u);
    EXPECT_EQ(t[1], "AI , now is your turn!\nAI attacks you !\nDone! And AI's damage is 5!\n<sleep 2>");
    EXPECT_EQ(t[3], "AI , now is your turn!\nduluduluduludulu\nAI's hp now is 100!\n<sleep 2>");
    // B went, the first of the two biggest; the rest moved down in order.
    EXPECT_NE(output().find("DRUG BAG\n1.A\n2.C\n3.D\n\n\nAI , now is your turn!\nAI attacks you !"),
              std::string::npos);
    expect_keys_used();
}

TEST_F(FightTest, HeroDrinksByDigitAndWrongDigitsSpendTheTurn) {
    _P_.real_hp = 10;
    _P_.max_hp = 500;
    _P_.bag[1] = little_heart;
    _P_.bag[2] = {"Mid", 150};
    _P_.bag[3] = broken_heart;
    _P_.drug_num = 3;
    type("0492k#");
    std::vector<int> rolls(8, 999);
    rolls.insert(rolls.end(), {999, 999, 999, 999, 0, 0, 0});  // win: 1 experience, a Little Heart
    script_rolls(rolls);
    EXPECT_EQ(Fight(_P_, fighter("AI", 1, 10)), FightResult(true, 5));
    const std::vector<std::string> t = turns(output());
    for (int i : {0, 2, 4})
        EXPECT_EQ(t[i], "Hero , now is your turn!\nYou don't have enough drug :(\n<sleep 2>") << i;
    EXPECT_EQ(t[6],
              "Hero , now is your turn!\nMid\ngulugulugulugulu\nDone! And now your hp is 157!\n<sleep 2>");
    EXPECT_EQ(_P_.real_hp, 155);
    ASSERT_EQ(_P_.drug_num, 3);
    EXPECT_EQ(_P_.bag[1].name, little_heart.name);
    EXPECT_EQ(_P_.bag[2].name, broken_heart.name);
    EXPECT_EQ(_P_.bag[3].name, little_heart.name);
    expect_keys_used();
}

TEST_F(FightTest, ChargesCarryOverDrinksUntilTheNextAttack) {
    _P_.base_atk = 10;
    _P_.bag[1] = little_heart;
    _P_.drug_num = 1;
    type("KKKkK1k#");
    std::vector<int> rolls(6, 999);                  // three charging rounds
    rolls.insert(rolls.end(), {0, 0, 0, 999, 999});  // 100 + 80 + 90 + 100 = 370%
    rolls.insert(rolls.end(), 6, 999);               // its answer, then K and the drink
    rolls.insert(rolls.end(), {0, 999, 999});        // K = 1 still: 180%
    rolls.insert(rolls.end(), {999, 999, 0, 0, 0});
    script_rolls(rolls);
    EXPECT_EQ(Fight(_P_, fighter("AI", 1, 50)), FightResult(true, 7));
    const std::vector<std::string> t = turns(output());
    EXPECT_EQ(t[0], "Hero , now is your turn!\nYou choose to accumulate power!\n<sleep 2>");
    EXPECT_EQ(t[6],
              "Hero , now is your turn!\nAccumulated 3 times!\ndmg enhanced to 370%!\nDone! And Hero's "
              "damage is 37!\n<sleep 2>");
    EXPECT_EQ(t[12],
              "Hero , now is your turn!\nAccumulated 1 times!\ndmg enhanced to 180%!\nDone! And Hero's "
              "damage is 18!\n<sleep 2>");
    EXPECT_EQ(rolls_left(), 0u);
    expect_keys_used();
}

TEST_F(FightTest, EndOfInputOnTheHerosTurnEndsTheGame) { EXPECT_GAME_ENDS(Fight(_P_, fighter("AI", 1, 10))); }
