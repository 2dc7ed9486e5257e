// The hero's growth: experience and level-up, the status screen with the drug bag, and loot.
#include <climits>
#include <string>
#include <vector>

#include "character/character.h"
#include "console/console.h"
#include "state/state.h"
#include "support/in_memory_console.h"

namespace {
size_t count_of(const std::string &text, const std::string &part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

const std::string kKeys = "Press 'd' for drugs, 's' to configure scrolls, and 'x' to exit\n";
const std::string kNoDrug = "You don't have enough drugs :(\n";

class Growth : public GameTest {
  protected:
    void give_drugs(std::vector<DRUG> drugs) {
        _P_.drug_num = static_cast<int>(drugs.size());
        for (size_t i = 0; i < drugs.size(); ++i) _P_.bag[i + 1] = drugs[i];
    }
};
}  // namespace

TEST_F(Growth, ThresholdsFollowPowersOfOneAndAHalf) {
    const int table[] = {2, 3, 5, 7, 11, 17, 25, 38, 57, 86, 129, 194, 291, 437, 656};
    for (int lv = 1; lv <= 15; ++lv) EXPECT_EQ(exp_threshold(lv), table[lv - 1]) << lv;
    EXPECT_EQ(exp_threshold(51), 1434648375);  // 1.5^52 still fits
    EXPECT_EQ(exp_threshold(52), INT_MAX);
    EXPECT_EQ(exp_threshold(INT_MAX), INT_MAX);
}

TEST_F(Growth, LevelUpRollsTheNewLevelAndGrantsAScroll) {
    _P_.lv = 1;
    _P_.exp = 1;
    _P_.real_es = 7;
    LevelUP(_P_);
    EXPECT_EQ(output(), "");
    EXPECT_EQ(draws, 0);
    EXPECT_EQ(_P_.lv, 1);

    _P_.exp = 2;
    host.roll = scripted_rand;
    script_rolls({29, 0, 2, 0, 0, 7});
    LevelUP(_P_);
    EXPECT_EQ(rolls_left(), 0u);
    EXPECT_EQ(
        output(),
        "<clear>Level UP to 2!\nYou got a scroll!\n\x1b[31mStrength\x1b[0m dmg_percentage 10% crit_dmg 17%\n"
        "<sleep 1>");
    EXPECT_EQ(pauses(), std::vector<long long>{1000});
    EXPECT_EQ(_P_.lv, 2);
    EXPECT_EQ(_P_.exp, 0);
    EXPECT_EQ(_P_.max_hp, 201);  // 1.5625 * 129
    EXPECT_EQ(_P_.real_hp, 201);
    EXPECT_EQ(_P_.max_es, 144);  // 1.44 * 100
    EXPECT_EQ(_P_.base_atk, 2);  // 1.7^2
    EXPECT_EQ(_P_.real_es, 7);
    ASSERT_EQ(_P_.scrolls.size(), 1u);
    EXPECT_EQ(_P_.scrolls[0].effect[3], 170);

    // Experience beyond the threshold carries on; one level per call.
    _P_.exp = 13;
    host.roll = counted_rand;
    draws = 0;
    LevelUP(_P_);
    EXPECT_EQ(draws, 6);
    EXPECT_EQ(_P_.lv, 3);
    EXPECT_EQ(_P_.exp, 10);
    EXPECT_EQ(_P_.scrolls.size(), 2u);
    LevelUP(_P_);
    EXPECT_EQ(_P_.lv, 4);
    EXPECT_EQ(_P_.exp, 5);
    LevelUP(_P_);
    EXPECT_EQ(_P_.lv, 4);
    EXPECT_EQ(draws, 12);
}

TEST_F(Growth, CheatModeAndHugeLevels) {
    CheatMode = true;
    _P_.lv = 5;
    _P_.exp = 11;
    LevelUP(_P_);
    EXPECT_EQ(_P_.lv, 6);
    EXPECT_EQ(_P_.base_atk, 10000);
    EXPECT_EQ(_P_.max_hp, 1919810);
    EXPECT_EQ(_P_.real_hp, 114514);

    // Where the threshold no longer fits it is the largest int, which the largest exp still meets.
    CheatMode = false;
    _P_.lv = 60;
    _P_.exp = INT_MAX - 1;
    LevelUP(_P_);
    EXPECT_EQ(_P_.lv, 60);
    for (int lv = 61; lv <= 63; ++lv) {
        _P_.exp = INT_MAX;
        LevelUP(_P_);
        EXPECT_EQ(_P_.lv, lv);
        EXPECT_EQ(_P_.exp, 0);
        EXPECT_EQ(_P_.base_atk, INT_MAX);
    }
    EXPECT_NE(output().find("Level UP to 63!\n"), std::string::npos);
}

TEST_F(Growth, StatusScreenShowsTheValuesTheAttackUses) {
    _P_.name = "Hero";
    _P_.wea = iron_sword;
    _P_.arm = gold_armor;
    _P_.base_atk = 10;
    _P_.max_hp = 321;
    _P_.real_hp = 5;
    _P_.buff[2] = 150;
    _P_.buff[3] = 150;
    _P_.buff[5] = 100;
    type("x");
    printplr(_P_);
    EXPECT_EQ(take_output(),
              "<clear>\x1b[33mHero\x1b[0m\nYOUR WEAPON:Iron Sword =|==> \nYOUR ARMOR:Gold Armor |_|\n"
              "DAMAGE:114\nCRIT_CHANCE:35.0%\nCRIT_DMG:30.0%\nDODGE_CHANCE:2.0%\nDEFENCE: 100\nLIFE: 321\n" +
                  kKeys);

    _P_.wea = end_sword;
    _P_.arm = happy_armor;
    _P_.buff[6] = 617;  // 95.0% in all, shown at the cap
    _P_.arm.percent_dr = 12.25;
    type("q");
    printplr(_P_);
    const std::string shown = take_output();
    EXPECT_NE(shown.find("CRIT_DMG:65.0%\nDODGE_CHANCE:80.0%\nDEFENCE: 12.25\n"), std::string::npos);
    EXPECT_EQ(draws, 0);
}

TEST_F(Growth, DrugBagListsAndDrinksClosingUpTheGap) {
    DRUG odd{"Odd Drop", 7};
    give_drugs({little_heart, broken_heart, little_heart, odd});
    _P_.max_hp = 1000;
    _P_.real_hp = 150;
    type("d2");
    printplr(_P_);
    const std::string out = take_output();
    EXPECT_EQ(out.substr(out.find(kKeys) + kKeys.size()),
              "<clear>DRUG BAG\n1.Little Heart (o) (+100hp)\n2.Broken Heart (0) (+200hp)\n"
              "3.Little Heart (o) (+100hp)\n4.Odd Drop\n"
              "Broken Heart (0)\ngulugulugulugulu\nDone! And now your hp is 350!\n");
    EXPECT_EQ(_P_.drug_num, 3);
    EXPECT_EQ(_P_.bag[1].name, little_heart.name);
    EXPECT_EQ(_P_.bag[2].name, little_heart.name);
    EXPECT_EQ(_P_.bag[3].name, "Odd Drop");
    EXPECT_TRUE(pauses().empty());

    // Healing stops at the maximum.
    give_drugs({broken_heart, little_heart});
    _P_.real_hp = 950;
    type("d1");
    printplr(_P_);
    EXPECT_NE(take_output().find("Done! And now your hp is 1000!\n"), std::string::npos);
    EXPECT_EQ(_P_.real_hp, 1000);
    EXPECT_EQ(_P_.drug_num, 1);
    EXPECT_EQ(_P_.bag[1].name, little_heart.name);

    // A full bag answers 1 to 4 and refuses 0 and 5; anything else just leaves.
    give_drugs({little_heart, little_heart, little_heart, broken_heart});
    _P_.real_hp = 10;
    for (const char *keys : {"d0", "d5", "d9", "Dz"}) {
        type(keys);
        printplr(_P_);
        const std::string refused = take_output();
        EXPECT_EQ(refused.substr(refused.rfind("(+200hp)\n") + 9), keys[1] == 'z' ? "" : kNoDrug) << keys;
        EXPECT_EQ(_P_.drug_num, 4);
    }
    type("d4");
    printplr(_P_);
    EXPECT_EQ(_P_.real_hp, 210);
    EXPECT_EQ(_P_.drug_num, 3);
    take_output();

    give_drugs({});
    type("d1");
    printplr(_P_);
    const std::string empty = take_output();
    EXPECT_EQ(empty.substr(empty.find(kKeys) + kKeys.size()), "<clear>DRUG BAG\n" + kNoDrug);
}

TEST_F(Growth, StatusScreenShowsItselfAgainAndOneKeyLeavesThemAll) {
    give_drugs({little_heart});
    type("dXdxq z");
    printplr(_P_);
    const std::string out = take_output();
    EXPECT_EQ(count_of(out, kKeys), 3u);
    EXPECT_EQ(count_of(out, "DRUG BAG\n"), 2u);
    EXPECT_EQ(single_key(), 'z');

    _P_.scrolls = {SCROLL{1, {0, 0, 100, 100}}};
    _P_.buff[2] = 500;
    type("s1 0 kS0 kx z");
    printplr(_P_);
    const std::string configured = take_output();
    EXPECT_EQ(count_of(configured, kKeys), 3u);
    EXPECT_EQ(count_of(configured, "Done. Press any key to continue...\n\n<clear>"), 2u);
    EXPECT_EQ(_P_.buff[1], 0);  // the second configuration ended at once
    EXPECT_EQ(_P_.buff[2], 0);
    EXPECT_EQ(single_key(), 'z');
}

TEST_F(Growth, PickTakesItemsFromTheTables) {
    host.roll = scripted_rand;
    const WEAPON *weapons[] = {&iron_sword,    &iron_sword, &iron_sword,   &diamond_sword,
                               &diamond_sword, &end_sword,  &strange_sword};
    for (int r = 0; r < 7; ++r) {
        _P_.wea = WEAPON{};
        script_rolls({r + 7});
        Pick(0);
        EXPECT_EQ(_P_.wea.name, weapons[r]->name) << r;
        EXPECT_EQ(take_output(), "You pick " + weapons[r]->name + " !\n<sleep 1>");
    }
    const ARMOR *armors[] = {&iron_armor, &iron_armor, &gold_armor, &gold_armor, &happy_armor};
    for (int r = 0; r < 5; ++r) {
        _P_.arm = ARMOR{"Worn", 0, 0, 0.0, 0};
        script_rolls({r + 5});
        Pick(1);
        EXPECT_EQ(_P_.arm.name, armors[r]->name) << r;
        EXPECT_EQ(take_output(), "You pick " + armors[r]->name + " !\n<sleep 1>");
    }

    // The kind comes first for type -1, then the item.
    _P_.wea = WEAPON{};
    _P_.arm = ARMOR{};
    script_rolls({3, 5, 4, 4, 2, 2, 8, 1});
    Pick(-1);
    Pick(-1);
    Pick(-1);
    Pick(-1);
    EXPECT_EQ(rolls_left(), 0u);
    EXPECT_EQ(_P_.wea.name, end_sword.name);
    EXPECT_EQ(_P_.arm.name, happy_armor.name);
    EXPECT_EQ(_P_.drug_num, 2);
    EXPECT_EQ(_P_.bag[1].name, broken_heart.name);
    EXPECT_EQ(_P_.bag[2].name, little_heart.name);
    EXPECT_EQ(pauses().size(), 16u);
}

TEST_F(Growth, PickOffersAChangeForAHeldItem) {
    host.roll = scripted_rand;
    _P_.wea = iron_sword;
    const std::string offer =
        "Change ?\nIron Sword =|==>  (atk:90 critical dmg:15.0%, crit chance:25.0%)\n"
        "Strange Sword  =:)==> (atk:85 critical dmg:11451300.0%, crit chance:10.0%)\n(y / n)\n";
    for (const char *answer : {"Y", "n", "\n x"}) {
        script_rolls({6});
        type(answer);
        Pick(0);
        EXPECT_EQ(take_output(), offer + "<sleep 1>") << answer;
        EXPECT_EQ(_P_.wea.name, iron_sword.name);
    }
    script_rolls({6});
    type(" y");
    Pick(0);
    EXPECT_EQ(take_output(), offer + "You pick Strange Sword  =:)==> !\n<sleep 1>");
    EXPECT_EQ(_P_.wea.more_atk, 114513000);

    _P_.arm = gold_armor;
    _P_.arm.es = 0;  // used up in earlier fights
    script_rolls({3});
    type("y");
    Pick(1);
    EXPECT_EQ(
        take_output(),
        "Change ?\nGold Armor |_| (defense:10.0 shield:0 MISS:2.0%)\n"
        "Gold Armor |_| (defense:10.0 shield:100 MISS:2.0%)\n(y / n)\nYou pick Gold Armor |_| !\n<sleep 1>");
    EXPECT_EQ(_P_.arm.es, 100);
    script_rolls({4});
    type("n");
    Pick(1);
    EXPECT_NE(take_output().find("Happy Armor (::) (defense:15.0 shield:60 MISS:33.3%)\n(y / n)\n<sleep 1>"),
              std::string::npos);
    EXPECT_EQ(_P_.arm.name, gold_armor.name);
}

TEST_F(Growth, PickDrugsUpToFourAndScrollsForAnyOtherType) {
    host.roll = scripted_rand;
    give_drugs({little_heart, little_heart, little_heart});
    script_rolls({5});
    Pick(2);
    EXPECT_EQ(take_output(), "You pick Broken Heart (0) !\n<sleep 1>");
    EXPECT_EQ(_P_.drug_num, 4);
    EXPECT_EQ(_P_.bag[4].name, broken_heart.name);
    Pick(2);
    EXPECT_EQ(take_output(), "You don't have enough place for more drugs :(\n<sleep 1>");
    EXPECT_EQ(_P_.drug_num, 4);
    script_rolls({2});
    Pick(-1);  // the kind roll only: a full bag takes no item roll
    EXPECT_EQ(rolls_left(), 0u);
    EXPECT_EQ(take_output(), "You don't have enough place for more drugs :(\n<sleep 1>");
    EXPECT_EQ(_P_.drug_num, 4);

    _P_.lv = 4;
    for (int type : {3, 7, -2}) {
        script_rolls({1, 0, 5});
        Pick(type);
        EXPECT_EQ(take_output(),
                  "YOU GOT A SCROLL!\n\x1b[35mTactics\x1b[0m crit_chance 4% dodge_chance 9%\n<sleep 1>");
    }
    ASSERT_EQ(_P_.scrolls.size(), 3u);
    EXPECT_EQ(_P_.scrolls[2].effect[6], 90);
    EXPECT_EQ(pauses().size(), 6u);
}
