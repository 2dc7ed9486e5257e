// The Linux program in a real terminal, with its real pauses and the real clear command: the
// start-up questions, the first map, walking, a supplies tile, the status screen, a whole fight
// and leaving with q. Everything expected is worked out from the game's rules and the maze the
// game's own generation code makes in this process with the C library's generator.
#include <gtest/gtest.h>

#include <algorithm>

#include "console/console.h"
#include "terminal/game_model.h"
#include "terminal/screens.h"
#include "terminal/tmux_pane.h"

namespace {
const std::string program = MARROWDEEP_PROGRAM;

// The program alone in the pane, with a clean environment; its exit status shows when it ends.
std::string alone(const std::string &prog) {
    return "env -i PATH=/usr/bin:/bin TERM=screen " + shell_quote(prog) +
           "; echo \"[exit $?]\"; exec sleep 600";
}

// A coloured text as tmux gives it back. At the end of a row tmux puts the colour's end at the
// start of the next row, so `closed` is false there.
std::string coloured(int colour, const std::string &text, bool closed = true) {
    return "\x1b[" + std::to_string(colour) + "m" + text + (closed ? "\x1b[39m" : "\n\x1b[39m");
}
}  // namespace

TEST(LinuxTerminal, PlaysAWholeFightWithRealPausesAndClears) {
    const long long seed = 42;
    PLAYER hero = starting_hero(Runtime::glibc);
    hero.name = "VORTEX";  // the cheat mode: the fight ends in one blow
    hero.base_atk = 10000;
    hero.max_hp = 1919810;
    hero.real_hp = 114514;
    Grid grid = generate_maze(Runtime::glibc, seed);

    const Square start{2, 2};
    const Square supplies = nearest(grid, start, '*', " ");
    const std::string to_supplies = way(grid, start, supplies, " ");
    const Square monster = nearest(grid, supplies, '&', " ");
    const std::string to_monster = way(grid, supplies, monster, " ");
    ASSERT_FALSE(to_supplies.empty()) << "the seed needs supplies in reach";
    ASSERT_FALSE(to_monster.empty()) << "the seed needs a monster in reach";

    TmuxPane pane;
    ASSERT_TRUE(pane.start(alone(program)));
    const std::string tty = pane.pane_tty();

    // Start-up: the screen is cleared, then the name is asked for, with the terminal still
    // waiting for Enter.
    ASSERT_TRUE(pane.wait_for("Please insert your name:", 10)) << pane.screen();
    EXPECT_EQ(pane.rows()[0], "Please insert your name:");
    auto mode = line_mode(tty);
    ASSERT_TRUE(mode);
    EXPECT_TRUE(mode->canonical);
    EXPECT_TRUE(mode->echo);

    pane.type("VORTEX");
    pane.press("Enter");
    ASSERT_TRUE(pane.wait_for("Random Seed?(y/n)", 10)) << pane.screen();
    // From here on keys arrive as they are typed, and the terminal still shows them.
    mode = line_mode(tty);
    ASSERT_TRUE(mode);
    EXPECT_FALSE(mode->canonical);
    EXPECT_TRUE(mode->echo);

    pane.type("n");  // a one-character answer is complete without Enter
    ASSERT_TRUE(pane.wait_for("Input Seed:", 10)) << pane.screen();
    pane.type(std::to_string(seed));
    pane.press("Enter");
    ASSERT_TRUE(pane.wait_for("Strength(1)/Tactics(2)?", 10)) << pane.screen();
    EXPECT_EQ(compare_rows(pane.rows(), 0,
                           {"Please insert your name:VORTEX", "Random Seed?(y/n)", "n", "Input Seed:42",
                            "Strength(1)/Tactics(2)?"}),
              "");
    pane.type("1");
    pane.press("Enter");

    // The first map: the questions are cleared away, the cheat mode's stats show.
    Square at = start;
    auto map_shown = [&](const PLAYER &h) {
        return pane.wait_until(
            [&](const std::string &s) {
                return map_screen_report(split_lines(s), 0, h, seed, map_rows(grid, at)).empty();
            },
            10);
    };
    ASSERT_TRUE(map_shown(hero)) << map_screen_report(pane.rows(), 0, hero, seed, map_rows(grid, at)) << "\n"
                                 << pane.screen();
    EXPECT_EQ(pane.screen().find("Random Seed"), std::string::npos);
    EXPECT_EQ(pane.screen().find("Strength(1)"), std::string::npos);
    // The colours reach the terminal as colours.
    const std::string colours = pane.screen(true);
    EXPECT_NE(colours.find(coloured(31, " b to configure")), std::string::npos) << colours;
    EXPECT_NE(colours.find(coloured(35, " p to enter the tier", false)), std::string::npos) << colours;
    EXPECT_NE(colours.find(coloured(32, "VORTEX")), std::string::npos) << colours;
    EXPECT_NE(colours.find("#" + coloured(34, "@")), std::string::npos) << colours;

    // The status screen replaces the map, and x brings the map back.
    pane.type("b");
    ASSERT_TRUE(pane.wait_for("Press 'd' for drugs", 10)) << pane.screen();
    EXPECT_EQ(compare_rows(pane.rows(), 0, cheat_hero_status), "");
    EXPECT_NE(pane.screen(true).find(coloured(33, "VORTEX", false)), std::string::npos);
    // Enter is no answer here in this build: the screen waits for a visible key, and d opens
    // the drug bag (had Enter left, d would have been a step on the map).
    pane.press("Enter");
    pane.type("d");
    std::vector<std::string> bag = {"DRUG BAG"};
    for (int k = 1; k <= hero.drug_num; ++k) bag.push_back(std::to_string(k) + "." + hero.bag[k].name);
    ASSERT_TRUE(pane.wait_until(
        [&](const std::string &s) { return compare_rows(split_lines(s), 0, bag).empty(); }, 10))
        << pane.screen();
    EXPECT_EQ(pane.rows()[bag.size()], "") << "nothing more in the bag";
    // x shows the status screen again, and x there goes back to the map.
    pane.type("x");
    ASSERT_TRUE(
        pane.wait_until([](const std::string &s) { return s.rfind("VORTEX\nYOUR WEAPON:", 0) == 0; }, 10))
        << pane.screen();
    pane.type("x");
    ASSERT_TRUE(map_shown(hero)) << pane.screen();

    // Walk to the supplies, one square and one redraw at a time. First, keys into the walls
    // around the start: the step after them shows that none of them moved the hero.
    std::string walls;
    for (char key : std::string("wasd"))
        if (grid[step(at, key).row][step(at, key).col] == '#') walls += key;
    ASSERT_FALSE(walls.empty());
    for (size_t i = 0; i + 1 < to_supplies.size(); ++i) {
        pane.type((i == 0 ? walls : "") + to_supplies.substr(i, 1));
        at = step(at, to_supplies[i]);
        ASSERT_TRUE(map_shown(hero)) << "step " << i << "\n" << pane.screen();
    }
    const Supplies found = open_supplies(hero);
    ASSERT_FALSE(found.asks);
    // The pause is timed from before the key, so however slowly the key and the screens travel,
    // the map cannot come back sooner than the pause allows.
    const auto stepped = Clock::now();
    pane.type((to_supplies.size() == 1 ? walls : "") + to_supplies.substr(to_supplies.size() - 1));
    ASSERT_TRUE(pane.wait_for("You pick " + found.name + " !", 10)) << pane.screen();
    // The pick happens before the step: the map below the message still shows the hero before it
    // (on the screen that showed the message; the clear after the pause takes the message away).
    EXPECT_EQ(compare_rows(split_lines(pane.seen()), 9, map_rows(grid, at)), "") << pane.seen();
    at = supplies;
    grid[at.row][at.col] = ' ';
    ASSERT_TRUE(map_shown(hero)) << map_screen_report(pane.rows(), 0, hero, seed, map_rows(grid, at)) << "\n"
                                 << pane.screen();
    EXPECT_GE(seconds_since(stepped), 1.0) << "the pick is followed by a pause of a second";

    // Walk to the monster.
    for (size_t i = 0; i + 1 < to_monster.size(); ++i) {
        pane.type(to_monster.substr(i, 1));
        at = step(at, to_monster[i]);
        ASSERT_TRUE(map_shown(hero)) << "step " << i << "\n" << pane.screen();
    }
    const int level = std::max(1, hero.lv + roll() % 5 - 2);
    PLAYER enemy = SummonAI(level, false);
    hero.real_es = hero.max_es;  // every fight starts with full personal shields
    std::vector<std::string> expected = fight_screen(hero, enemy);
    expected.push_back("VORTEX , now is your turn!");
    pane.type(to_monster.substr(to_monster.size() - 1));
    ASSERT_TRUE(pane.wait_until(
        [&](const std::string &s) { return compare_rows(split_lines(s), 0, expected).empty(); }, 10))
        << compare_rows(pane.rows(), 0, expected) << "\n"
        << pane.screen();
    EXPECT_EQ(pane.screen().find("Marrowdeep"), std::string::npos) << "the fight screen stands alone";

    // The hero's blow: no critical chance without a weapon that has one; the enemy may dodge.
    const bool critical = roll() % 1000 < hero.wea.more_atk_rand;
    const bool dodged = roll() % 1000 < std::min(800, enemy.arm.sb_rand + enemy.buff[6]);
    ASSERT_FALSE(dodged) << "the seed needs a first blow that lands";
    int damage = 10000 + hero.wea.atk;
    if (critical) damage = with_bonus(damage, hero.wea.more_atk);
    damage = with_bonus(damage - enemy.arm.dr, -static_cast<int>(enemy.arm.percent_dr));
    ASSERT_GT(damage, enemy.arm.es + enemy.real_es);
    enemy.arm.es = 0;
    enemy.real_es = 0;
    enemy.real_hp -= damage;
    // A blank and Enter are passed over in this build; the turn waits for a visible key. Every
    // key shows where it was typed.
    std::vector<std::string> blow = {"VORTEX , now is your turn!", " "};
    if (critical) blow.push_back("CRITICAL HIT!");
    blow.push_back("Done! And VORTEX's damage is " + std::to_string(damage) + "!");
    blow[2] = "k" + blow[2];

    pane.type(" ");
    pane.press("Enter");
    const auto struck = Clock::now();
    pane.type("k");
    const size_t turn_row = expected.size() - 1;
    ASSERT_TRUE(pane.wait_until(
        [&](const std::string &s) { return compare_rows(split_lines(s), turn_row, blow).empty(); }, 10))
        << compare_rows(pane.rows(), turn_row, blow) << "\n"
        << pane.screen();

    // The enemy's turn, on a screen of its own with the columns swapped. Felled, it drinks if it
    // can, as it is below half its hit points.
    std::vector<std::string> answer = fight_screen(enemy, hero);
    answer.push_back("AI , now is your turn!");
    if (enemy.drug_num > 0) {
        int best = 1;
        for (int k = 2; k <= enemy.drug_num; ++k)
            if (enemy.bag[k].hp_add > enemy.bag[best].hp_add) best = k;
        enemy.real_hp = std::min(enemy.max_hp, enemy.real_hp + enemy.bag[best].hp_add);
        answer.push_back("duluduluduludulu");
        answer.push_back("AI's hp now is " + std::to_string(enemy.real_hp) + "!");
    } else {
        answer.push_back("AI attacks you !");
    }
    ASSERT_TRUE(pane.wait_until(
        [&](const std::string &s) { return compare_rows(split_lines(s), 0, answer).empty(); }, 10))
        << compare_rows(pane.rows(), 0, answer) << "\n"
        << pane.screen();
    EXPECT_GE(seconds_since(struck), 2.0) << "each action is followed by a pause of two seconds";

    // The next round's screen finds the enemy fallen, after the pause that follows the enemy's
    // action too. It shows for the pause after the win, so its rows are read off the screen
    // that showed it.
    ASSERT_TRUE(pane.wait_for("YOU WIN!", 10)) << pane.screen();
    EXPECT_GE(seconds_since(struck), 4.0) << "the enemy's action is followed by a pause of two seconds";
    const auto won = split_lines(pane.seen());
    ASSERT_GE(won.size(), 5u) << pane.seen();
    EXPECT_EQ(rtrim(won[0]), rtrim(fight_screen(hero, enemy)[0]));
    EXPECT_EQ(rtrim(won[1]), rtrim(fight_screen(hero, enemy)[1]));
    EXPECT_EQ(rtrim(won[2]), rtrim(fight_screen(hero, enemy)[2]));
    EXPECT_EQ(won[3].substr(0, 33 + 5), column_row("HP : 114514/1919810", ""));
    EXPECT_EQ(rtrim(won[3].substr(33 + 5)),
              "HP : " + std::to_string(enemy.real_hp) + "/" + std::to_string(enemy.max_hp));
    EXPECT_EQ(won[4].substr(33), "|    ES : 0/" + std::to_string(enemy.max_es));

    // Back on the map: both tiles are used up, and the hero stands where the monster stood.
    at = monster;
    grid[at.row][at.col] = ' ';
    ASSERT_TRUE(pane.wait_until(
        [&](const std::string &s) { return compare_rows(split_lines(s), 9, map_rows(grid, at)).empty(); },
        15))
        << pane.screen();
    const auto rows = pane.rows();
    EXPECT_EQ(cheat_hero_lines_report(rows, hero), "");
    EXPECT_EQ(rows[8], "           Seed: 42");

    // q leaves at once, with status 0 and the terminal as it was.
    pane.type("q");
    ASSERT_TRUE(pane.wait_for("[exit 0]", 10)) << pane.screen();
    mode = line_mode(tty);
    ASSERT_TRUE(mode);
    EXPECT_TRUE(mode->canonical);
    EXPECT_TRUE(mode->echo);
}
