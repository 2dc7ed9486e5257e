// Scrolls: making, showing and ordering them, and the hero's scroll configuration.
#include <string>
#include <vector>

#include "character/character.h"
#include "console/console.h"
#include "state/state.h"
#include "support/in_memory_console.h"

namespace {
SCROLL strength(int dmg, int crit_dmg) {
    SCROLL s;
    s.type = 1;
    s.effect[2] = dmg;
    s.effect[3] = crit_dmg;
    return s;
}

SCROLL tactics(int crit_chance, int dodge) {
    SCROLL s;
    s.type = 4;
    s.effect[5] = crit_chance;
    s.effect[6] = dodge;
    return s;
}

const std::string kPrompt =
    "Enter the scrolls you wish to use...(0 to exit , -1 to auto select , you can only choose 8 scrolls)\n";
const std::string kDone = "Done. Press any key to continue...\n";

std::string strength_line(const std::string &dmg, const std::string &crit) {
    return "\x1b[31mStrength\x1b[0m dmg_percentage " + dmg + "% crit_dmg " + crit + "%\n";
}
std::string tactics_line(const std::string &chance, const std::string &dodge) {
    return "\x1b[35mTactics\x1b[0m crit_chance " + chance + "% dodge_chance " + dodge + "%\n";
}
std::string took_strength(const std::string &dmg, const std::string &crit) {
    return "dmg_percentage increased by " + dmg + "%, crit_dmg increased by " + crit + "%.\n";
}
std::string took_tactics(const std::string &chance, const std::string &dodge) {
    return "crit_chance increased by " + chance + "%, dodge_chance increased by " + dodge + "%.\n";
}

// The closing summary of the configuration: each kind's count and its bonus lines.
std::string summary(int str, const std::string &str_bonus, int tac, const std::string &tac_bonus = "") {
    return "special effects:\nStrength:(" + std::to_string(str) + ")\n" + str_bonus + "Tactics:(" +
           std::to_string(tac) + ")\n" + tac_bonus + kDone + "\n";
}

class Scrolls : public GameTest {
  protected:
    // What the configuration printed after its prompt.
    std::string after_prompt() {
        const std::string all = take_output();
        return all.substr(all.find(kPrompt) + kPrompt.size());
    }
    void expect_buff(std::vector<int> want) {
        want.resize(12, 0);
        for (int i = 0; i < 12; ++i) EXPECT_EQ(_P_.buff[i], want[i]) << "buff " << i;
    }
};
}  // namespace

TEST_F(Scrolls, SpawnDrawsTypeThenBothValuesWithinTheLevelsRange) {
    struct Range {
        int lv, str_low, str_high, tac_low, tac_high;
    };
    host.roll = scripted_rand;
    for (Range r : {Range{1, 90, 160, 10, 60}, Range{5, 130, 200, 50, 100}, Range{10, 180, 250, 100, 150},
                    Range{15, 230, 300, 100, 150}, Range{20, 230, 300, 100, 150}}) {
        script_rolls({0, 0, 7, 1, 5, 0, 8, 15, 16, 3, 11, 6});
        SCROLL low_high = spawnscroll(r.lv), high_low = spawnscroll(r.lv);
        SCROLL wrapped_str = spawnscroll(r.lv), wrapped_tac = spawnscroll(r.lv);
        EXPECT_EQ(rolls_left(), 0u);
        EXPECT_EQ(low_high.type, 1);
        EXPECT_EQ(low_high.effect[2], r.str_low) << r.lv;
        EXPECT_EQ(low_high.effect[3], r.str_high) << r.lv;
        EXPECT_EQ(high_low.type, 4);
        EXPECT_EQ(high_low.effect[5], r.tac_high) << r.lv;
        EXPECT_EQ(high_low.effect[6], r.tac_low) << r.lv;
        EXPECT_EQ(wrapped_str.effect[2], r.str_low + 70) << r.lv;  // 15 % 8
        EXPECT_EQ(wrapped_str.effect[3], r.str_low) << r.lv;       // 16 % 8
        EXPECT_EQ(wrapped_tac.type, 4);                            // 3 is odd
        EXPECT_EQ(wrapped_tac.effect[5], r.tac_low + 50) << r.lv;  // 11 % 6
        EXPECT_EQ(wrapped_tac.effect[6], r.tac_low) << r.lv;       // 6 % 6
    }
    host.roll = counted_rand;
    draws = 0;
    for (int i = 0; i < 50; ++i) spawnscroll(i % 20 + 1);
    EXPECT_EQ(draws, 150);
}

TEST_F(Scrolls, PrintAndOrder) {
    printscroll(strength(120, 190));
    printscroll(tactics(150, 100));
    printscroll(strength(125, 5));
    EXPECT_EQ(output(), strength_line("12", "19") + tactics_line("15", "10") + strength_line("12.5", "0.5"));

    const SCROLL t = tactics(150, 100), s1 = strength(120, 190), s2 = strength(120, 200);
    EXPECT_TRUE(cmp(s2, s1));
    EXPECT_FALSE(cmp(s1, s2));
    EXPECT_FALSE(cmp(s1, s1));
    EXPECT_TRUE(cmp(strength(130, 10), s2));
    EXPECT_TRUE(cmp(tactics(150, 110), t));
    EXPECT_TRUE(cmp(s1, t));
    EXPECT_FALSE(cmp(t, s1));
    pref = true;
    EXPECT_TRUE(cmp(t, s1));
    EXPECT_FALSE(cmp(s1, t));
    EXPECT_TRUE(cmp(s2, s1));
}

TEST_F(Scrolls, ManualChoiceListsSortedAndIgnoresRepeats) {
    for (bool tactics_build : {false, true}) {
        _P_ = PLAYER{};
        take_output();
        pref = tactics_build;
        _P_.scrolls = {tactics(150, 100), strength(120, 190), strength(120, 200)};
        _P_.buff[2] = 999;
        // 1, 1 takes the first scroll once; 3 takes the last; 0 ends; k answers the key wait.
        type("1 1\n3 0 k z");
        ConfigScroll(_P_);
        const std::string s1 = strength_line("12", "20"), s2 = strength_line("12", "19"),
                          t = tactics_line("15", "10");
        const std::string list =
            tactics_build ? "1:" + t + "2:" + s1 + "3:" + s2 : "1:" + s1 + "2:" + s2 + "3:" + t;
        const std::string took = tactics_build
                                     ? took_tactics("15", "10") + "\n\n" + took_strength("12", "19")
                                     : took_strength("12", "20") + "\n\n" + took_tactics("15", "10");
        EXPECT_EQ(take_output(), "<clear>" + list + kPrompt + "\n" + took + "\n" + summary(1, "", 1));
        expect_buff({0, 1, 120, tactics_build ? 190 : 200, 1, 150, 100});
        EXPECT_EQ(_P_.scrolls[0].type, tactics_build ? 4 : 1);
        EXPECT_EQ(_P_.scrolls[tactics_build ? 2 : 1].effect[3], 190);  // the list stays sorted
        EXPECT_EQ(single_key(), 'z');
    }
}

TEST_F(Scrolls, AFifthOfOneTypeFindsNoSlotAndStaysMarked) {
    for (int i = 0; i < 6; ++i) _P_.scrolls.push_back(strength(200 - 10 * i, 100));
    _P_.scrolls.push_back(tactics(50, 40));
    _P_.scrolls.push_back(tactics(30, 20));
    type("1 2 3 4 5 5 6 7 8 9 k");
    ConfigScroll(_P_);
    std::string want = "\n" + took_strength("20", "10") + "\n" + took_strength("19", "10") + "\n" +
                       took_strength("18", "10") + "\n" + took_strength("17", "10") + "\nno slots left\n" +
                       "\n" + "\nno slots left\n" + "\n" + took_tactics("5", "4") + "\n" +
                       took_tactics("3", "2") + "\n" +
                       summary(4, "atk +15%\ncrit dmg +15%\n", 2, "crit chance +10%\n");
    EXPECT_EQ(after_prompt(), want);
    expect_buff({0, 4, 200 + 190 + 180 + 170 + 150, 400 + 150, 2, 80 + 100, 60});

    // Three of one type earn only the first of its bonuses.
    type("1 2 3 0 k");
    ConfigScroll(_P_);
    EXPECT_EQ(after_prompt(), "\n" + took_strength("20", "10") + "\n" + took_strength("19", "10") + "\n" +
                                  took_strength("18", "10") + "\n" + summary(3, "atk +15%\n", 0));
    expect_buff({0, 3, 200 + 190 + 180 + 150, 300});
}

TEST_F(Scrolls, AutoSelectionTakesTheFirstEightUnmarked) {
    for (int i = 0; i < 10; ++i) _P_.scrolls.push_back(strength(100 + 10 * i, 100));
    _P_.scrolls.push_back(tactics(60, 60));
    _P_.scrolls.push_back(tactics(50, 50));
    // Scroll 10 (the weakest Strength) by hand, then the first eight as well: nine in all.
    type("10 -1 k");
    ConfigScroll(_P_);
    std::string want = "\n" + took_strength("10", "10") + "\n";
    for (int i = 0; i < 8; ++i) want += took_strength(std::to_string(19 - i), "10");
    want += summary(9, "atk +15%\ncrit dmg +15%\n", 0);
    EXPECT_EQ(after_prompt(), want);
    expect_buff({0, 9, 100 + (190 + 180 + 170 + 160 + 150 + 140 + 130 + 120) + 150, 900 + 150});

    // A Tactics build with three chosen by hand: the rest of the first eight come on top.
    _P_ = PLAYER{};
    pref = true;
    for (int i = 0; i < 6; ++i) _P_.scrolls.push_back(tactics(10 * (i + 1), 10));
    _P_.scrolls.push_back(strength(100, 100));
    type("2 -1 x");
    ConfigScroll(_P_);
    const std::string again = take_output();
    const std::string tail = again.substr(again.find("special effects:"));
    EXPECT_EQ(tail, summary(1, "", 6, "crit chance +10%\ncrit chance +15%\n"));
    expect_buff({0, 1, 100, 100, 6, 210 + 250, 60});
}

TEST_F(Scrolls, LeavingAtOnceOrWithNothingToChoose) {
    _P_.scrolls = {strength(100, 100), tactics(30, 30), strength(110, 100)};
    // 0 and numbers past either end of the list end the choice; the bonuses start from nothing.
    for (const char *ending : {"0 k", "4 k", "-2 k", "99999999999 k"}) {
        for (int i = 0; i < 12; ++i) _P_.buff[i] = 77;
        type(ending);
        ConfigScroll(_P_);
        EXPECT_EQ(after_prompt(), "\n" + summary(0, "", 0)) << ending;
        expect_buff({});
    }

    EXPECT_EQ(draws, 0);
    _P_.scrolls.clear();
    for (const char *answer : {"-1 k", "1 k", "0 k"}) {
        type(answer);
        ConfigScroll(_P_);
        EXPECT_EQ(take_output(), "<clear>" + kPrompt + "\n" + summary(0, "", 0));
        expect_buff({});
    }
}

TEST_F(Scrolls, AnswerThatIsNoNumberEndsTheChoiceAndIsDropped) {
    _P_.scrolls = {strength(100, 100), strength(90, 90), tactics(30, 30)};
    type("1 2 abc3 q y");
    ConfigScroll(_P_);
    EXPECT_EQ(after_prompt(), "\n" + took_strength("10", "10") + "\n" + took_strength("9", "9") + "\n" +
                                  summary(2, "atk +15%\n", 0));
    expect_buff({0, 2, 190 + 150, 190});
    EXPECT_EQ(single_key(), 'y');  // the key wait took the q

    type("1 ");
    EXPECT_GAME_ENDS(ConfigScroll(_P_));
}
