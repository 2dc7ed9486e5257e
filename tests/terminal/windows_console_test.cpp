// The Windows program under wine, in a real terminal: wine gives it a console, so keys come
// one press at a time without echo, "cls" clears, pauses are in milliseconds and the drink
// shows its little animation. Its maze comes from the Windows runtime's generator, which this
// process imitates to make the same maze with the game's own generation code.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <thread>

#include "console/console.h"
#include "terminal/game_model.h"
#include "terminal/screens.h"
#include "terminal/tmux_pane.h"

namespace {
const std::string exe = MARROWDEEP_WINDOWS_PROGRAM;
const std::string prefix = WINE_PREFIX;
// How much sooner than asked the console's timer may end the pauses between a key and a screen.
const double timer_allowance = 0.1;

// Wine for the tests: a prefix of their own in the build tree, no display, no debug output, and
// no offer to install .NET or a browser engine, which a machine without network cannot answer.
std::string wine_env() {
    return "env -u DISPLAY -u WAYLAND_DISPLAY WINEPREFIX=" + shell_quote(prefix) +
           " WINEDEBUG=-all WINEDLLOVERRIDES='mscoree=;mshtml='";
}

// Sets the prefix up once (the first start of wine in a new prefix takes a while); other test
// processes wait on the lock meanwhile.
::testing::AssertionResult prepare_wine() {
    const std::string marker = prefix + "/marrowdeep-tests-ready";
    const int lock = open((prefix + ".lock").c_str(), O_CREAT | O_RDWR, 0644);
    if (lock < 0) return ::testing::AssertionFailure() << "cannot create " << prefix << ".lock";
    flock(lock, LOCK_EX);
    ::testing::AssertionResult result = ::testing::AssertionSuccess();
    if (!std::filesystem::exists(marker)) {
        const std::string log = prefix + ".log";
        // The registry files are written when the wine server ends, so wait for it. A new prefix
        // takes some 8 s on a 2-core machine; the limit leaves room for a slow one and stays
        // inside the test's own time limit, so a wineboot that hangs shows its log.
        const int status = run_command({"sh", "-c",
                                        "(" + wine_env() + " wineboot -i && " + wine_env() +
                                            " wineserver -w) > " + shell_quote(log) + " 2>&1"},
                                       nullptr, 120);
        if (status != 0 || !std::filesystem::exists(prefix + "/system.reg")) {
            std::ifstream in(log);
            std::stringstream text;
            text << in.rdbuf();
            result = ::testing::AssertionFailure() << "wineboot failed (" << status << "):\n" << text.str();
        } else {
            std::ofstream(marker) << "ready\n";
        }
    }
    flock(lock, LOCK_UN);
    close(lock);
    return result;
}

// The first line of a file, or nothing when it cannot be read.
std::string first_line(const std::string &path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// Whether the program comes from the sources of this build, by the sums the two builds recorded.
// The release build runs the program of its own zip and checks nothing.
::testing::AssertionResult built_from_these_sources() {
    const std::string recorded = WINDOWS_PROGRAM_SOURCES, own = OWN_SOURCES;
    if (recorded.empty()) return ::testing::AssertionSuccess();
    const std::string theirs = first_line(recorded), ours = first_line(own);
    if (ours.empty()) return ::testing::AssertionFailure() << own << " is missing: build this build again";
    if (theirs == ours) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << exe << " was not built from these sources (" << recorded
                                         << (theirs.empty() ? " is missing" : " differs from " + own)
                                         << "): build it again with cmake --workflow --preset windows";
}

class WindowsConsole : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(std::filesystem::exists(exe))
            << exe << " is missing: build it first with cmake --workflow --preset windows";
        ASSERT_TRUE(built_from_these_sources());
        ASSERT_TRUE(prepare_wine());
    }

    // Starts the program under wine in a new pane and answers the three questions.
    std::unique_ptr<TmuxPane> start(const std::string &name, long long seed_value) {
        std::unique_ptr<TmuxPane> pane;
        // Now and then wine's console starts without taking the terminal over completely: the
        // terminal keeps its echo and turns Enter into a line feed, which the console does not
        // take for Enter, so no answer ever arrives. That is wine's start-up, not the game's:
        // it shows before anything is typed, and a new start does not have it.
        for (int attempt = 1;; ++attempt) {
            pane = std::make_unique<TmuxPane>();
            EXPECT_TRUE(pane->start(wine_env() + " wine " + shell_quote(exe) +
                                    "; echo \"[exit $?]\"; exec sleep 600"));
            EXPECT_TRUE(pane->wait_for("Please insert your name:", 60)) << pane->screen();
            const std::string tty = pane->pane_tty();
            const auto start_time = Clock::now();
            bool taken_over = false;
            while (!taken_over && seconds_since(start_time) < 10) {
                const auto mode = line_mode(tty);
                taken_over = mode && !mode->canonical && !mode->echo;
                if (!taken_over) std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            if (taken_over) break;
            if (attempt == 3) {
                ADD_FAILURE() << "wine never took the terminal over";
                return pane;
            }
            std::cerr << "wine's console left the terminal in line mode; starting again\n";
        }
        EXPECT_EQ(pane->rows()[0], "Please insert your name:");
        pane->type(name);
        pane->press("Enter");
        EXPECT_TRUE(pane->wait_for("Random Seed?(y/n)", 20)) << pane->screen();
        // Line answers: the console hands the line over once Enter is pressed.
        pane->type("n");
        pane->press("Enter");
        EXPECT_TRUE(pane->wait_for("Input Seed:", 20)) << pane->screen();
        pane->type(std::to_string(seed_value));
        pane->press("Enter");
        EXPECT_TRUE(pane->wait_for("Strength(1)/Tactics(2)?", 20)) << pane->screen();
        EXPECT_EQ(compare_rows(pane->rows(), 0,
                               {"Please insert your name:" + name, "Random Seed?(y/n)", "n", "",
                                "Input Seed:" + std::to_string(seed_value), "Strength(1)/Tactics(2)?"}),
                  "");
        pane->type("1");
        pane->press("Enter");
        return pane;
    }

    // Waits until the screen shows the map with the hero at `at`.
    bool map_shown(TmuxPane &pane, const PLAYER &hero, long long seed_value, const Grid &grid, Square at) {
        return pane.wait_until(
            [&](const std::string &s) {
                return map_screen_report(split_lines(s), 0, hero, seed_value, map_rows(grid, at)).empty();
            },
            20);
    }

    void quit(TmuxPane &pane) {
        pane.type("q");
        ASSERT_TRUE(pane.wait_for("[exit 0]", 20)) << pane.screen();
    }
};

// Where the rows are the same, trailing blanks aside.
bool rows_from(const std::string &screen, size_t first, const std::vector<std::string> &expected) {
    return compare_rows(split_lines(screen), first, expected).empty();
}
}  // namespace

// --version and --help answer on standard output, here a pipe, and the program ends: its
// runtime writes each line end as a carriage return and a line feed.
TEST_F(WindowsConsole, VersionAndHelpAnswerWithoutAConsole) {
    const auto answer = [](const std::string &option, std::string &output) {
        return run_command(
            {"sh", "-c", wine_env() + " wine " + shell_quote(exe) + " " + option + " 2>/dev/null"}, &output,
            120);
    };
    std::string version_line;
    EXPECT_EQ(answer("--version", version_line), 0);
    EXPECT_EQ(version_line, "marrowdeep 2.3\r\n");

    // The help is the Linux program's, line for line.
    std::string help, linux_help;
    EXPECT_EQ(answer("--help ignored", help), 0);
    ASSERT_EQ(run_command({MARROWDEEP_PROGRAM, "--help"}, &linux_help), 0);
    ASSERT_TRUE(linux_help.starts_with("Usage: marrowdeep [--help | --version]\n")) << linux_help;
    std::string expected;
    for (char c : linux_help) expected += c == '\n' ? "\r\n" : std::string(1, c);
    EXPECT_EQ(help, expected);
}

TEST_F(WindowsConsole, MapsAreTheWindowsRuntimesMazes) {
    const PLAYER hero0 = starting_hero(Runtime::msvcrt);
    for (long long seed_value : {7LL, 2024LL, -5LL}) {
        SCOPED_TRACE("seed " + std::to_string(seed_value));
        PLAYER hero = hero0;
        hero.name = "HERO";
        const Grid grid = generate_maze(Runtime::msvcrt, seed_value);
        auto shown = start("HERO", seed_value);
        TmuxPane &pane = *shown;
        ASSERT_TRUE(map_shown(pane, hero, seed_value, grid, {2, 2}))
            << map_screen_report(pane.rows(), 0, hero, seed_value, map_rows(grid, {2, 2})) << "\n"
            << pane.screen();
        // cls leaves only the map: the questions are gone.
        EXPECT_EQ(pane.screen().find("Random Seed"), std::string::npos) << pane.screen();
        quit(pane);
    }
}

TEST_F(WindowsConsole, ColoursShowAsColours) {
    const long long seed_value = 7;
    PLAYER hero = starting_hero(Runtime::msvcrt);
    hero.name = "HERO";
    const Grid grid = generate_maze(Runtime::msvcrt, seed_value);
    auto shown = start("HERO", seed_value);
    TmuxPane &pane = *shown;
    ASSERT_TRUE(map_shown(pane, hero, seed_value, grid, {2, 2})) << pane.screen();
    // Without the console's escape processing the codes would show as text.
    const std::string plain = pane.screen();
    EXPECT_EQ(plain.find("[31m"), std::string::npos) << plain;
    EXPECT_EQ(plain.find("[0m"), std::string::npos) << plain;
    EXPECT_EQ(plain.find('\x1b'), std::string::npos) << plain;
    const std::string colours = pane.screen(true);
    EXPECT_NE(colours.find("\x1b[31m b to configure\x1b[39m"), std::string::npos) << colours;
    EXPECT_NE(colours.find("\x1b[35m p to enter the tier"), std::string::npos) << colours;
    EXPECT_NE(colours.find("\x1b[32mHERO\x1b[39m LV:1"), std::string::npos) << colours;
    EXPECT_NE(colours.find("#\x1b[34m@\x1b[39m#"), std::string::npos) << colours;
    quit(pane);
}

TEST_F(WindowsConsole, KeysStatusScreenAndAFightWithADrink) {
    const long long seed_value = 7;
    PLAYER hero = starting_hero(Runtime::msvcrt);
    ASSERT_GE(hero.drug_num, 1) << "the Windows hero needs a drug to drink";
    hero.name = "VORTEX";  // the cheat mode: the fight ends in one blow
    hero.base_atk = 10000;
    hero.max_hp = 1919810;
    hero.real_hp = 114514;
    Grid grid = generate_maze(Runtime::msvcrt, seed_value);

    auto shown = start("VORTEX", seed_value);
    TmuxPane &pane = *shown;
    Square at{2, 2};
    ASSERT_TRUE(map_shown(pane, hero, seed_value, grid, at))
        << map_screen_report(pane.rows(), 0, hero, seed_value, map_rows(grid, at)) << "\n"
        << pane.screen();

    // The status screen replaces the map; Enter is a key like any other and leaves it.
    pane.type("b");
    ASSERT_TRUE(pane.wait_for("Press 'd' for drugs", 20)) << pane.screen();
    EXPECT_EQ(compare_rows(pane.rows(), 0, cheat_hero_status), "");
    EXPECT_EQ(pane.screen().find("Marrowdeep"), std::string::npos) << "cls leaves the status screen alone";
    pane.press("Enter");
    ASSERT_TRUE(map_shown(pane, hero, seed_value, grid, at)) << pane.screen();

    std::string walls;
    for (char key : std::string("wasd"))
        if (grid[step(at, key).row][step(at, key).col] == '#') walls += key;
    ASSERT_FALSE(walls.empty());

    // The down arrow is one key press, though the console reports it as two values (224, then
    // 'P', which would ask for the tier): it means nothing on the map, so the map is drawn once
    // more and the hero stays. A wall after it draws the map once more again.
    ASSERT_TRUE(pane.record_output());
    const std::string banner = "Marrowdeep RELEASE v2.3";
    pane.press("Down");
    pane.type(walls.substr(0, 1));
    ASSERT_TRUE(
        pane.wait_until([&](const std::string &) { return count_of(pane.recorded(), banner) >= 2; }, 20))
        << pane.recorded();
    ASSERT_TRUE(map_shown(pane, hero, seed_value, grid, at)) << pane.screen();
    EXPECT_EQ(count_of(pane.recorded(), banner), 2u) << pane.recorded();
    EXPECT_EQ(pane.recorded().find("INTO the TIER?(y/n)"), std::string::npos) << pane.recorded();

    // Walls hold, then a step: keys are taken one press at a time and not echoed.
    const Square supplies = nearest(grid, at, '*', " ");
    const std::string to_supplies = way(grid, at, supplies, " ");
    ASSERT_FALSE(to_supplies.empty());
    for (size_t i = 0; i + 1 < to_supplies.size(); ++i) {
        pane.type((i == 0 ? walls : "") + to_supplies.substr(i, 1));
        at = step(at, to_supplies[i]);
        ASSERT_TRUE(map_shown(pane, hero, seed_value, grid, at)) << pane.screen();
    }
    const Supplies found = open_supplies(hero);
    ASSERT_FALSE(found.asks);
    // Pauses are timed from before the key that starts them, so a slow machine only makes them
    // look longer; the allowance is for the console's timer, which may end a pause a little early.
    const auto stepped = Clock::now();
    pane.type((to_supplies.size() == 1 ? walls : "") + to_supplies.substr(to_supplies.size() - 1));
    ASSERT_TRUE(pane.wait_for("You pick " + found.name + " !", 20)) << pane.screen();
    at = supplies;
    grid[at.row][at.col] = ' ';
    ASSERT_TRUE(map_shown(pane, hero, seed_value, grid, at))
        << map_screen_report(pane.rows(), 0, hero, seed_value, map_rows(grid, at)) << "\n"
        << pane.screen();
    EXPECT_GE(seconds_since(stepped), 1.0 - timer_allowance) << "the pick is followed by a pause of a second";

    // On to the nearest monster.
    const Square monster = nearest(grid, at, '&', " ");
    const std::string to_monster = way(grid, at, monster, " ");
    ASSERT_FALSE(to_monster.empty());
    for (size_t i = 0; i + 1 < to_monster.size(); ++i) {
        pane.type(to_monster.substr(i, 1));
        at = step(at, to_monster[i]);
        ASSERT_TRUE(map_shown(pane, hero, seed_value, grid, at)) << pane.screen();
    }
    const int level = std::max(1, hero.lv + roll() % 5 - 2);
    PLAYER enemy = SummonAI(level, false);
    hero.real_es = hero.max_es;
    pane.type(to_monster.substr(to_monster.size() - 1));

    // Round by round: Enter spends the first turn, so does the left arrow (its second value 'K'
    // would charge the attack), 1 drinks the drug, then k until it falls.
    const std::vector<std::string> keys = {"Enter", "Left", "1", "k", "k", "k", "k", "k", "k"};
    size_t round = 0;
    for (;; ++round) {
        std::vector<std::string> screen = fight_screen(hero, enemy);
        if (enemy.real_hp <= 0) {
            screen.push_back("YOU WIN!");
            ASSERT_TRUE(pane.wait_until([&](const std::string &s) { return rows_from(s, 0, screen); }, 20))
                << compare_rows(pane.rows(), 0, screen) << "\n"
                << pane.screen();
            break;
        }
        ASSERT_LT(round, keys.size()) << "the fight goes on too long";
        screen.push_back("VORTEX , now is your turn!");
        ASSERT_TRUE(pane.wait_until([&](const std::string &s) { return rows_from(s, 0, screen); }, 20))
            << "round " << round << "\n"
            << compare_rows(pane.rows(), 0, screen) << "\n"
            << pane.screen();
        EXPECT_EQ(pane.screen().find("Marrowdeep"), std::string::npos) << "the fight screen stands alone";

        std::vector<std::string> action;
        if (keys[round] == "1") {
            const int heal = hero.bag[1].hp_add;
            action = {hero.bag[1].name, "gulugulugulugulu", "Drink..."};
            for (int k = 1; k < hero.drug_num; ++k) hero.bag[k] = hero.bag[k + 1];
            hero.drug_num -= 1;
            hero.real_hp = std::min(hero.max_hp, hero.real_hp + heal);
            action.push_back("Done! And now your hp is " + std::to_string(hero.real_hp) + "!");
        } else if (keys[round] == "k") {
            action = strike(hero, enemy);
        }
        const auto pressed = Clock::now();
        if (keys[round] == "Enter" || keys[round] == "Left")
            pane.press(keys[round]);
        else
            pane.type(keys[round]);
        if (keys[round] == "1") {
            // The dots come one by one, half a second apart, and the drink is done after the third.
            ASSERT_TRUE(pane.wait_for("gulugulugulugulu\nDrink.", 20)) << pane.screen();
            ASSERT_TRUE(pane.wait_for("Done! And now your hp is", 20)) << pane.screen();
            EXPECT_GE(seconds_since(pressed), 1.5 - timer_allowance);
        }
        // The keys are not echoed: what the action prints follows the turn line directly.
        ASSERT_TRUE(
            pane.wait_until([&](const std::string &s) { return rows_from(s, screen.size(), action); }, 20))
            << compare_rows(pane.rows(), screen.size(), action) << "\n"
            << pane.screen();

        std::vector<std::string> answer = fight_screen(enemy, hero);
        answer.push_back("AI , now is your turn!");
        for (const auto &line : enemy_acts(enemy, hero)) answer.push_back(line);
        ASSERT_TRUE(pane.wait_until([&](const std::string &s) { return rows_from(s, 0, answer); }, 20))
            << "round " << round << "\n"
            << compare_rows(pane.rows(), 0, answer) << "\n"
            << pane.screen();
        EXPECT_GE(seconds_since(pressed), (keys[round] == "1" ? 3.5 : 2.0) - timer_allowance)
            << "round " << round;
    }
    EXPECT_GE(round, 4u) << "Enter, the arrow, the drink and at least one blow";
    EXPECT_EQ(pane.recorded().find("You choose to accumulate power!"), std::string::npos);

    // Back on the map, the monster's square used up and the hero on it.
    at = monster;
    grid[at.row][at.col] = ' ';
    ASSERT_TRUE(
        pane.wait_until([&](const std::string &s) { return rows_from(s, 9, map_rows(grid, at)); }, 30))
        << pane.screen();
    const auto rows = pane.rows();
    EXPECT_EQ(cheat_hero_lines_report(rows, hero), "");
    quit(pane);
}
