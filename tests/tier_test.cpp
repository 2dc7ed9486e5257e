// The tier: stars for fast rooms, lives, the layers, the experience lock and the levels bought with
// stars at the end.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "combat/combat.h"
#include "console/console.h"
#include "support/in_memory_console.h"
#include "tier/tier.h"
#include "state/state.h"

namespace {
const std::string RED_STAR = "\x1b[31m*\x1b[0m", GREEN_STAR = "\x1b[32m*\x1b[0m";
const std::string LEGEND = "\x1b[32m *\x1b[0m: UNACOMPLISHED\n\x1b[31m *\x1b[0m: ACCOMPLISHED\n";

std::string stars(int red) {
    std::string row;
    for (int s = 1; s <= 3; ++s) row += s <= red ? RED_STAR : GREEN_STAR;
    return row + "\n";
}

// The draws of a plain enemy of level lv: lowest rolls, an Iron Sword and Iron Armor, no drugs,
// and only Strength scrolls, so nothing adds to its dodge chance.
std::vector<int> enemy(int lv) {
    std::vector<int> r(6, 0);
    r.insert(r.end(), 3 * std::max(3, lv), 0);
    return r;
}
}  // namespace

class TierTest : public GameTest {
  protected:
    void SetUp() override {
        GameTest::SetUp();
        host.roll = scripted_rand;
        _P_.name = "Hero";
        _P_.lv = 1;
        _P_.max_hp = _P_.real_hp = 100;
        _P_.base_atk = 10000000;  // one hit clears any room
        _P_.arm.sb_rand = 800;
        for (int i = 1; i <= 4; ++i) _P_.bag[i] = little_heart;
        _P_.drug_num = 4;  // a full bag: drug loot is refused without a draw
    }
    // A room won in the given rounds: the hero waits, then strikes; every enemy blow misses.
    void win(int lv, int rounds) {
        add(enemy(lv));
        for (int i = 1; i < rounds; ++i) add({999, 0});
        add({999, 999, 999, 0, 0, 0});  // the strike, the fallen enemy's miss, experience, drug loot
        keys += std::string(rounds - 1, 'x') + "k";
    }
    // A room lost: the hero waits and the enemy's first blow is enough.
    void lose(int lv) {
        add(enemy(lv));
        add({999, 999});
        keys += "x";
    }
    void add(const std::vector<int> &r) { rolls.insert(rolls.end(), r.begin(), r.end()); }
    void play() {
        script_rolls(rolls);
        type(keys + "#");
    }
    void expect_all_used() {
        EXPECT_EQ(rolls_left(), 0u);
        EXPECT_EQ(single_key(), '#');
    }
    std::vector<int> rolls;
    std::string keys;
};

TEST_F(TierTest, StarsToLevelsAtEveryBandEdge) {
    const int table[][2] = {{0, 0},  {4, 0},  {5, 1},  {20, 4},   {21, 3},   {30, 5},   {31, 4},  {50, 7},
                            {51, 6}, {70, 8}, {71, 7}, {100, 10}, {101, 11}, {107, 11}, {108, 18}};
    for (const auto &row : table) EXPECT_EQ(stars_to_levels(row[0]), row[1]) << row[0];
}

TEST_F(TierTest, RoundsEarnStarsOnTheBottomLayer) {
    win(34, 5);
    win(35, 10);
    win(36, 14);
    play();
    EXPECT_EQ(Deep(12, 3), 6);
    expect_all_used();
    const std::string out = output();
    EXPECT_NE(out.find("<clear><clear>TIER LAYER: 12\nROOM: 1/3\nREMAINING LIFES: 3/3\n<sleep 1><clear>"),
              std::string::npos);
    EXPECT_NE(out.find("<clear>YOU CLEARED ROOM 1 WITH 5 ROUNDS\n<sleep 1><clear>"), std::string::npos);
    EXPECT_EQ(out.substr(out.rfind("<clear>")),
              "<clear>TEIR LAYER: 12 REMAINING LIFES: 3\n" + LEGEND + "I   " + stars(3) + "II  " + stars(2) +
                  "III " + stars(1) + "<sleep 2>YOU'VE REACHED THE BOTTOM!\n<sleep 1>");

    rolls.clear();
    keys.clear();
    take_output();
    win(34, 15);
    win(35, 6);
    win(36, 11);
    play();
    EXPECT_EQ(Deep(12, 3), 3);
    expect_all_used();
    EXPECT_NE(output().find("I   " + stars(0) + "II  " + stars(2) + "III " + stars(1) + "<sleep 2>"),
              std::string::npos);
}

TEST_F(TierTest, LivesLostRoomsAndTheLastLife) {
    _P_.exp = 100;  // enough for a level, which the tier must not give
    keys = "z";
    lose(1);
    win(2, 1);
    lose(3);
    keys += "n";  // the key after layer 1
    lose(4);
    play();
    tier();
    expect_all_used();
    EXPECT_EQ(_P_.exp, 100);
    EXPECT_EQ(_P_.lv, 1);
    const std::string out = output();
    EXPECT_EQ(
        out.substr(0, out.find("<clear>", 1)),
        "<clear>TIER: USE\x1b[31m 3\x1b[0m LIVES TO CLEAR THE ENEMY!YOU WILL\x1b[31m NOT\x1b[0m BE ABLE TO "
        "UPGRADE OR CONFIGURE.\nTHERE ARE 12 LAYERS IN THE TIER, EVERY LAYER HAS\x1b[32m 3\x1b[0m ROOMS, "
        "EVERY ROOM HAS\x1b[32m 1\x1b[0m ENEMY!\nFOR YOUR AWARD, YOU WOULD BE GIVEN\x1b[32m "
        "STARS\x1b[0m!\nFOR EVERY ROOM, \nIF YOU CLEARED THE ENEMY IN\x1b[33m 14\x1b[0m ROUNDS, YOU WOULD "
        "GET THE FIRST STAR.\nIF YOU CLEARED THE ENEMY IN\x1b[34m 10\x1b[0m ROUNDS, YOU WOULD GET THE "
        "SECOND STAR.\nIF YOU CLEARED THE ENEMY IN\x1b[35m 5\x1b[0m ROUNDS, YOU WOULD GET THE THIRD "
        "STAR.\nWHEN THE GAME ENDS, IT WILL COUNT YOUR STARS AND GIVE YOU AWARDS ACCORDING TO THE STARS "
        "YOU GOT.\nPress Any Key to Continue...\n");
    // Room 1 lost: a life goes, no star, and room 2 begins at full hit points.
    const std::string lost =
        "YOU LOSE!\n<sleep 1><clear>\x1b[35mYOU HAVE LOST A LIFE!\x1b[0m<sleep 1><clear>";
    size_t at = out.find(lost);
    ASSERT_NE(at, std::string::npos);
    const std::string rest = out.substr(at + lost.size());
    EXPECT_EQ(rest.substr(0, rest.find("<clear>")),
              "TEIR LAYER: 1 REMAINING LIFES: 2\n" + LEGEND + "I   " + stars(0) + "<sleep 2>");
    const std::string room2 = "TIER LAYER: 1\nROOM: 2/3\nREMAINING LIFES: 2/3\n<sleep 1><clear>";
    at = out.find(room2);
    ASSERT_NE(at, std::string::npos);
    EXPECT_NE(out.find("\nHP : 100/100", at), std::string::npos);
    EXPECT_LT(out.find("\nHP : 100/100", at), out.find("DRUG BAG", at));
    EXPECT_NE(out.find("I   " + stars(0) + "II  " + stars(3) + "III " + stars(0) +
                       "<sleep 2>TIER LAYER 1 ALL CLEARED!\nPress Any Key to Proceed to the Next Layer...\n"
                       "<clear><clear>TIER LAYER: 2\nROOM: 1/3\nREMAINING LIFES: 1/3\n"),
              std::string::npos);
    EXPECT_EQ(out.substr(out.rfind("YOU LOSE!")),
              "YOU LOSE!\n<sleep 1><clear>\x1b[31mYOU DIED! YOU LOST ALL YOUR "
              "LIFES!\n\x1b[0m<sleep 1><clear>STAR TOTAL:3\nYOU WOULD UPGRADE "
              "0 LEVELS\n<sleep 2>");
}

// Each room's enemy is of level 3 * layer + room - 3: its scroll draws must match the script.
TEST_F(TierTest, EveryRoomFastGivesMaxStarsAndEighteenLevels) {
    _P_.exp = 7;
    keys = "z";
    for (int layer = 1; layer <= 12; ++layer) {
        for (int room = 1; room <= 3; ++room) win(3 * layer + room - 3, 1);
        if (layer < 12) keys += "n";
    }
    add(std::vector<int>(18 * 6, 0));  // each level's three stats and its scroll
    play();
    tier();
    expect_all_used();
    EXPECT_EQ(_P_.lv, 19);
    EXPECT_EQ(_P_.exp, 7);
    // The award, then the first of the eighteen level-ups bought with it.
    const std::string award =
        "YOU'VE REACHED THE BOTTOM!\n<sleep 1><clear>STAR TOTAL:108\n\x1b[32mMAX STARS!\n\x1b[0mYOU WOULD "
        "UPGRADE 18 LEVELS\n<sleep 2><clear>Level UP to 2!\n";
    const std::string out = output();
    EXPECT_EQ(out.substr(out.find("YOU'VE REACHED THE BOTTOM!"), award.size()), award);
    EXPECT_TRUE(
        out.ends_with("<clear>Level UP to 19!\nYou got a scroll!\n\x1b[31mStrength\x1b[0m "
                      "dmg_percentage 23% crit_dmg 23%\n<sleep 1>"));
}
