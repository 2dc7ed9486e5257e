// The real marrowdeep program from start to end: the start-up questions and hidden names, the map
// screen, walking, the tiles, fights from the map, the status screen and the tier.
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <queue>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include "character/character.h"
#include "console/console.h"
#include "maze/maze.h"
#include "state/state.h"

#include "support/draw_limit.h"
#include "support/run_game.h"

namespace {
const std::string START =
    "<clear>Please insert your name:Random Seed?(y/n)\n\nInput Seed:Strength(1)/Tactics(2)?\n";
const std::string SPACE = "           ";
const std::string BANNER =
    "          Marrowdeep RELEASE v2.3\n              Made by the Marrowdeep team\n\nwasd and q to exit, "
    "\x1b[31m b to configure\x1b[0m, \x1b[35m p to enter the tier\x1b[0m\n*:supplies   &:monster  #:wall  "
    "!:boss  $:refresh\n----------------------------------------------------\n";

struct Grid {
    char m[20][40];
};

// The maze a seed gives, made here with the game's own generator. The runtime generator is left
// where the program's would be, so the draws that follow can be foreseen with rand().
Grid generate(long long s) {
    reset_game_state();
    std::memset(maze, '#', sizeof maze);
    FightItemINIT();
    std::srand(static_cast<unsigned>(s));
    with_draw_limit("the maze of seed " + std::to_string(s), kruskal);
    Grid grid;
    std::memcpy(grid.m, maze, sizeof maze);
    return grid;
}

// The starting hero's stats, from the first draws of a generator seeded with 1.
struct Hero {
    int hp, es, drugs;
};
Hero starting_hero() {
    std::srand(1);
    const int hp = static_cast<int>(1.25 * (std::rand() % 30 + 100));
    const int es = static_cast<int>(1.15 * (std::rand() % 30 + 100));
    for (int i = 0; i < 3; ++i) std::rand();  // attack, weapon, armour
    return {hp, es, std::rand() % 3};
}

std::string status(const std::string &name, int lv, int hp, int max_hp, int es, int max_es,
                   const std::string &weapon = "", const std::string &armor = "") {
    return SPACE + "\x1b[32m" + name + "\x1b[0m LV:" + std::to_string(lv) + " HP:" + std::to_string(hp) +
           "/" + std::to_string(max_hp) + " ES:" + std::to_string(es) + "/" + std::to_string(max_es) + "\n" +
           SPACE + "WEAPON:" + weapon + " ARMOR:" + armor + "\n";
}

std::string rows(const Grid &grid, int x, int y) {
    std::string text;
    for (int i = 1; i <= 17; ++i) {
        text += SPACE;
        for (int j = 1; j <= 31; ++j)
            text += i == x && j == y ? "\x1b[34m@\x1b[0m" : std::string(1, grid.m[i][j]);
        text += "\n";
    }
    return text;
}

std::string screen(const std::string &status_lines, long long s, const Grid &grid, int x, int y) {
    return BANNER + status_lines + SPACE + "Seed: " + std::to_string(s) + "\n" + rows(grid, x, y);
}

// The keys that walk from one square to another over bare floor only, or "" if there is no such way.
std::string path(const Grid &grid, int fx, int fy, int tx, int ty) {
    const int ddx[4] = {0, 0, 1, -1}, ddy[4] = {1, -1, 0, 0};
    const char key[4] = {'d', 'a', 's', 'w'};
    int from[20][40];
    std::memset(from, -1, sizeof from);
    std::queue<std::pair<int, int>> todo;
    todo.push({fx, fy});
    from[fx][fy] = 4;
    while (!todo.empty()) {
        auto [x, y] = todo.front();
        todo.pop();
        if (x == tx && y == ty) break;
        for (int d = 0; d < 4; ++d) {
            int nx = x + ddx[d], ny = y + ddy[d];
            if (nx < 1 || nx > 17 || ny < 1 || ny > 31 || from[nx][ny] != -1) continue;
            if (grid.m[nx][ny] != ' ' && !(nx == tx && ny == ty)) continue;
            from[nx][ny] = d;
            todo.push({nx, ny});
        }
    }
    if (from[tx][ty] == -1) return "";
    std::string keys;
    for (int x = tx, y = ty; from[x][y] != 4;) {
        int d = from[x][y];
        keys.insert(keys.begin(), key[d]);
        x -= ddx[d];
        y -= ddy[d];
    }
    return keys;
}

// The screens drawn while walking the keys from (x, y); the hero ends where they lead.
std::string walk(const std::string &keys, const std::string &status_lines, long long s, const Grid &grid,
                 int &x, int &y) {
    const int ddx[4] = {0, 0, 1, -1}, ddy[4] = {1, -1, 0, 0};
    std::string text;
    for (char k : keys) {
        int d = std::string("daswd").find(k);
        x += ddx[d];
        y += ddy[d];
        text += "<clear>" + screen(status_lines, s, grid, x, y);
    }
    return text;
}

int threshold(int lv) { return static_cast<int>(std::pow(1.5, lv + 1)); }

std::string blank(int n) { return std::string(n, ' '); }

// The nearest square holding a tile that the hero can reach over bare floor from the start.
struct Spot {
    int x = 0, y = 0;
    std::string keys;
};
Spot nearest(const Grid &grid, char tile, int fx = 2, int fy = 2) {
    Spot best;
    for (int i = 2; i < 17; ++i)
        for (int j = 2; j < 31; ++j) {
            if (grid.m[i][j] != tile || (i == fx && j == fy)) continue;
            std::string keys = path(grid, fx, fy, i, j);
            if (!keys.empty() && (best.keys.empty() || keys.size() < best.keys.size())) best = {i, j, keys};
        }
    return best;
}

// Keys that take a hero who wins every fight to the nearest monsters in turn, with a few attacks
// for each; the attacks a fight does not need are keys that move nothing on the map.
std::string monster_tour(Grid grid, int fights) {
    std::string keys;
    int x = 2, y = 2;
    for (int i = 0; i < fights; ++i) {
        const Spot m = nearest(grid, '&', x, y);
        if (m.keys.empty()) break;
        keys += m.keys + std::string(12, 'k');
        grid.m[m.x][m.y] = ' ';
        x = m.x;
        y = m.y;
    }
    return keys;
}

// The first seed whose maze has a bare-floor way from the start to the given square. Among the
// first thousand seeds there is always one; a search that finds none means broken mazes.
long long seed_reaching(int tx, int ty) {
    for (long long s = 1; s <= 1000; ++s)
        if (!path(generate(s), 2, 2, tx, ty).empty()) return s;
    ADD_FAILURE() << "no seed up to 1000 has a bare way from the start to (" << tx << ", " << ty << ")";
    return 1;
}

// What the program prints from start-up to its first two map screens (the line end after the
// build answer is the first key), for a player who typed the seed.
std::string opening(const std::string &name, long long shown, long long maze_seed, int hp = -1,
                    int max_hp = -1) {
    const Hero h = starting_hero();
    const Grid grid = generate(maze_seed);
    const std::string first = screen(
        status(name, 1, hp < 0 ? h.hp : hp, max_hp < 0 ? h.hp : max_hp, h.es, h.es), shown, grid, 2, 2);
    return START + "<clear>" + first + "\n<clear>" + first;
}

void expect_clean_exit(const GameRun &run) {
    EXPECT_TRUE(run.exited);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.errors, "");
}
}  // namespace

TEST(StartUp, FirstScreensAndKeysThatMoveNothing) {
    // Walls above and to the left of the start; capitals and unknown keys do nothing either.
    const std::string keys = "Hero\nn\n7\n1\nwaWASDQxq";
    const GameRun run = run_game(keys);
    expect_clean_exit(run);
    const Hero h = starting_hero();
    std::string again = "<clear>" + screen(status("Hero", 1, h.hp, h.hp, h.es, h.es), 7, generate(7), 2, 2);
    std::string expected = opening("Hero", 7, 7);
    for (int i = 0; i < 8; ++i) expected += again;
    EXPECT_EQ(run.output, expected);

    // Arguments other than a first --help or --version change nothing: the screen is cleared,
    // the name is asked for, and the game is the same.
    const std::vector<std::vector<std::string>> ignored = {
        {"-h"},         {"-v"}, {"help"}, {"--Help"},         {"--VERSION"},    {"--version=1"}, {"--help "},
        {" --version"}, {""},   {"--"},   {"x", "--version"}, {"--", "--help"}, {"7", "q"}};
    for (const auto &arguments : ignored) {
        std::string line;
        for (const std::string &a : arguments) line += "[" + a + "]";
        const GameRun with = run_game_with(arguments, keys);
        expect_clean_exit(with);
        EXPECT_TRUE(with.output.starts_with("<clear>Please insert your name:")) << line;
        EXPECT_EQ(with.output, expected) << line;
    }
}

TEST(StartUp, HelpAndVersionAnswerWithoutPlaying) {
    const std::string version_line = "marrowdeep 2.3\n";
    const std::string help =
        "Usage: marrowdeep [--help | --version]\n"
        "       marrowdeep-win.exe [--help | --version]\n"
        "\n"
        "A turn-based dungeon crawl in a text terminal. The game asks for a hero's\n"
        "name, a seed and a build, then shows the maze.\n"
        "\n"
        "Options (only the first argument counts):\n"
        "  --help      show this help and exit\n"
        "  --version   show the version and exit\n"
        "Any other argument is ignored, and the game starts as without one.\n"
        "\n"
        "Keys on the map:\n"
        "  w a s d     walk up, left, down and right\n"
        "  b           the status screen, the drugs and the scrolls\n"
        "  p           the tier, twelve layers of rooms\n"
        "  q           leave the game\n"
        "\n"
        "The manual: man marrowdeep (the Windows zip has README.txt instead)\n";
    // Nothing is cleared and nothing is read: the keys waiting in the input are not played, and
    // what follows the first argument does not matter.
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--version"}, version_line},      {{"--version", "--help"}, version_line},
        {{"--version", "x"}, version_line}, {{"--help"}, help},
        {{"--help", "--version"}, help},    {{"--help", ""}, help}};
    for (const auto &[arguments, answer] : cases) {
        for (const std::string keys : {"", "Hero\nn\n7\n1\nq"}) {
            const GameRun run = run_game_with(arguments, keys);
            expect_clean_exit(run);
            EXPECT_EQ(run.output, answer) << arguments[0] << " " << arguments.size() << " " << keys.size();
        }
    }

    // The help fits a terminal of 24 rows and 80 columns.
    const std::string shown = run_game_with({"--help"}, "").output;
    ASSERT_TRUE(shown.ends_with("\n"));
    size_t rows = 0;
    for (size_t at = 0, end; (end = shown.find('\n', at)) != std::string::npos; at = end + 1) {
        ++rows;
        EXPECT_LE(end - at, 80u) << shown.substr(at, end - at);
    }
    EXPECT_LE(rows, 24u);
}

TEST(StartUp, EndOfInputAtEachQuestionEndsQuietly) {
    const std::string prompts[] = {"<clear>Please insert your name:", "Random Seed?(y/n)\n",
                                   "\nInput Seed:", "Strength(1)/Tactics(2)?\n"};
    const std::string inputs[] = {"", "Hero", "Hero n", "Hero n 5"};
    std::string expected;
    for (int i = 0; i < 4; ++i) {
        expected += prompts[i];
        const GameRun run = run_game(inputs[i]);
        expect_clean_exit(run);
        EXPECT_EQ(run.output, expected) << inputs[i];
    }
    // The build answer is the last thing typed: one map screen, then the key read finds nothing.
    const GameRun run = run_game("Hero n 5 1");
    expect_clean_exit(run);
    const std::string full = opening("Hero", 5, 5);
    EXPECT_EQ(run.output, full.substr(0, full.rfind("<clear>")));
}

// VORTEX's hit points on the map are checked in Map.TierFromTheMap.
TEST(StartUp, HiddenNamesOnlyInCapitals) {
    EXPECT_EQ(run_game("vortex\nn\n7\n1\nq").output, opening("vortex", 7, 7));

    // The experience bonus shows on the fight screen; the game ends when input runs out there.
    const Spot m = nearest(generate(1), '&');
    const int lv = std::max(1, 1 + std::rand() % 5 - 2);
    const std::string enemy =
        "|    LV:" + std::to_string(lv) + "(0/" + std::to_string(threshold(lv)) + ")   AI\n";
    for (const std::string name : {"QZRV", "qzrv"}) {
        const GameRun run = run_game(name + "\nn\n1\n1\n" + m.keys);
        expect_clean_exit(run);
        const std::string row =
            name == "QZRV" ? "LV:1(10000/2)   QZRV" + blank(13) : "LV:1(0/2)   qzrv" + blank(17);
        EXPECT_NE(run.output.find("<clear>" + row + enemy), std::string::npos) << name;
        EXPECT_TRUE(run.output.ends_with("\n\n\n" + name + " , now is your turn!\n")) << name;
    }
}

TEST(StartUp, SeedAnswers) {
    // A second word of the name answers the seed question; the rest of it is the seed.
    EXPECT_EQ(run_game("Alpha 42\n1\nq").output, opening("Alpha", 2, 2));
    // Only a lower-case y takes the time.
    EXPECT_EQ(run_game("Hero\nY\n9\n1\nq").output, opening("Hero", 9, 9));
    // The low 32 bits seed the maze; the seed shows as typed, sign included.
    EXPECT_EQ(run_game("Hero\nn\n4294967297\n1\nq").output, opening("Hero", 4294967297LL, 1));
    EXPECT_EQ(run_game("Hero\nn\n-5\n1\nq").output, opening("Hero", -5, -5));
    // Words where numbers belong count as 0; the build then is Tactics. Any build answer is taken.
    EXPECT_EQ(run_game("Hero\nn\nabc\nzz\nq").output, opening("Hero", 0, 0));

    // y takes the seed from the clock, which the tests hold still at PINNED_CLOCK.
    const GameRun run = run_game("Hero\ny\n1\nq");
    const std::string typed = opening("Hero", PINNED_CLOCK, PINNED_CLOCK);
    EXPECT_EQ(run.output, "<clear>Please insert your name:Random Seed?(y/n)\nStrength(1)/Tactics(2)?\n" +
                              typed.substr(START.size()));
}

TEST(Map, SuppliesAreTakenAndTheSquareIsLeftBare) {
    const Hero h = starting_hero();
    Grid grid = generate(1);
    const Spot spot = nearest(grid, '*');
    ASSERT_FALSE(spot.keys.empty());
    // The loot the next two draws choose: kind, then the item.
    const int kind = std::rand() % 3, item = std::rand();
    std::string weapon, armor, name;
    if (kind == 0) {
        const WEAPON *w[] = {&iron_sword,    &iron_sword, &iron_sword,   &diamond_sword,
                             &diamond_sword, &end_sword,  &strange_sword};
        name = weapon = w[item % 7]->name;
    } else if (kind == 1) {
        const ARMOR *a[] = {&iron_armor, &iron_armor, &gold_armor, &gold_armor, &happy_armor};
        name = armor = a[item % 5]->name;
    } else {
        name = item % 3 == 2 ? broken_heart.name : little_heart.name;
    }
    const char back = std::string("adws")[std::string("daswd").find(spot.keys.back())];
    const GameRun run = run_game("Hero\nn\n1\n1\n" + spot.keys + back + "q");
    expect_clean_exit(run);

    int x = 2, y = 2;
    const std::string before = status("Hero", 1, h.hp, h.hp, h.es, h.es);
    std::string expected =
        opening("Hero", 1, 1) + walk(spot.keys.substr(0, spot.keys.size() - 1), before, 1, grid, x, y);
    grid.m[spot.x][spot.y] = ' ';
    const std::string after = status("Hero", 1, h.hp, h.hp, h.es, h.es, weapon, armor);
    expected += "You pick " + name + " !\n<sleep 1>" +
                walk(spot.keys.substr(spot.keys.size() - 1), after, 1, grid, x, y);
    expected += walk(std::string(1, back), after, 1, grid, x, y);
    EXPECT_EQ(run.output, expected);
}

TEST(Map, RefreshDeclinedThenPaidWithEnter) {
    const long long s = seed_reaching(16, 2);
    const Hero h = starting_hero();
    const Grid grid = generate(s);
    const std::string keys = path(grid, 2, 2, 16, 2);
    scattertiles();  // what the paid refresh makes of the tiles
    Grid rolled;
    std::memcpy(rolled.m, maze, sizeof maze);

    const std::string step = keys.substr(keys.size() - 1), to_edge = keys.substr(0, keys.size() - 1);
    const GameRun run = run_game("Hero\nn\n" + std::to_string(s) + "\n1\n" + to_edge + step + "n" + step +
                                 "N" + step + "\nq");
    expect_clean_exit(run);
    int x = 2, y = 2;
    const std::string full = status("Hero", 1, h.hp, h.hp, h.es, h.es);
    std::string expected = opening("Hero", s, s) + walk(to_edge, full, s, grid, x, y);
    const std::string question = "refresh the map at the cost of 30hp?(y/n)\n";
    for (int i = 0; i < 2; ++i) expected += question + "<clear>" + screen(full, s, grid, x, y);
    expected +=
        question + "<clear>" + screen(status("Hero", 1, h.hp - 30, h.hp, h.es, h.es), s, rolled, 2, 2);
    EXPECT_EQ(run.output, expected);
}

TEST(Map, MonsterFightsWonAndLostAndReplayed) {
    const Grid grid = generate(1);
    const Spot m = nearest(grid, '&');
    const int lv = std::max(1, 1 + std::rand() % 5 - 2);
    const std::string input = "\nn\n1\n1\n" + m.keys;

    const GameRun lost = run_game("Hero" + input + std::string(40, 'x') + "q");
    expect_clean_exit(lost);
    const Hero h = starting_hero();
    int x = 2, y = 2;
    const std::string walked =
        opening("Hero", 1, 1) +
        walk(m.keys.substr(0, m.keys.size() - 1), status("Hero", 1, h.hp, h.hp, h.es, h.es), 1, grid, x, y);
    const std::string fight = walked + "<clear>LV:1(0/2)   Hero" + blank(17) +
                              "|    LV:" + std::to_string(lv) + "(0/" + std::to_string(threshold(lv)) +
                              ")   AI\n";
    EXPECT_EQ(lost.output.substr(0, fight.size()), fight);
    EXPECT_TRUE(lost.output.ends_with("\nYOU LOSE!\n<sleep 1>"));
    // The same seed and keys give the same game, byte for byte.
    EXPECT_EQ(run_game("Hero" + input + std::string(40, 'x') + "q").output, lost.output);

    const GameRun won = run_game("VORTEX" + input + std::string(20, 'k') + "q");
    expect_clean_exit(won);
    EXPECT_NE(won.output.find("\n\n\nYOU WIN!\n"), std::string::npos);
    Grid cleared = grid;
    cleared.m[m.x][m.y] = ' ';
    EXPECT_TRUE(won.output.ends_with("Seed: 1\n" + rows(cleared, m.x, m.y)));
}

TEST(Map, TheBossAndTheCheatersBoss) {
    const long long s = seed_reaching(16, 30);
    const Grid grid = generate(s);
    const std::string keys = path(grid, 2, 2, 16, 30);
    const int lv = std::rand() % 3 + 12;
    const std::string input = "\nn\n" + std::to_string(s) + "\n1\n" + keys;

    const GameRun boss = run_game("Hero" + input + std::string(20, 'x'));
    expect_clean_exit(boss);
    const std::string right =
        "|    LV:" + std::to_string(lv) + "(0/" + std::to_string(threshold(lv)) + ")   Morvak_\n";
    EXPECT_NE(boss.output.find(right), std::string::npos);
    EXPECT_TRUE(boss.output.ends_with("\nYOU LOSE!\n<sleep 1>"));

    // A million-point shield outlasts the cheater, and two blows of 100300 fell 114514 hit points.
    const GameRun summ = run_game("VORTEX" + input + std::string(20, 'k'));
    expect_clean_exit(summ);
    EXPECT_NE(summ.output.find("\nNO HACK !!! THIS IS THE BOSS!!!\n<sleep 1><clear>LV:1(0/2)   VORTEX" +
                               blank(15) + "|    LV:30(2/287626)   Summ\n"),
              std::string::npos);
    EXPECT_EQ(summ.output.find("Morvak_"), std::string::npos);
    EXPECT_TRUE(summ.output.ends_with("\nYOU LOSE!\n<sleep 1>"));

    // Won: a hero who walks over bare floor to supplies holding the Strange Sword (kind 0, item
    // 6), then on to the boss, whose first blow after the boss's four draws is critical (below
    // the sword's 100) and not dodged (not below the Gold Armor's 20). The first such seed is
    // 22177; the search gives up at 200000, and a maze that never ends stops it at once.
    long long ws = 0;
    Spot sword;
    for (long long t = 1; t <= 200000 && ws == 0; ++t) {
        const Grid at = generate(t);
        int r[8];
        for (int &d : r) d = std::rand();
        if (r[0] % 3 != 0 || r[1] % 7 != 6 || r[6] % 1000 >= 100 || r[7] % 1000 < 20) continue;
        for (int i = 2; i < 17 && ws == 0; ++i)
            for (int j = 2; j < 31 && ws == 0; ++j) {
                const std::string there = at.m[i][j] == '*' ? path(at, 2, 2, i, j) : "";
                const std::string on = there.empty() ? "" : path(at, i, j, 16, 30);
                if (!on.empty()) sword = {i, j, there + on}, ws = t;
            }
    }
    ASSERT_NE(ws, 0) << "no seed up to 200000 has the sword on a bare way to the boss";
    const GameRun won = run_game("Hero\nn\n" + std::to_string(ws) + "\n1\n" + sword.keys + "kq");
    expect_clean_exit(won);
    Grid cleared = generate(ws);
    cleared.m[sword.x][sword.y] = cleared.m[16][30] = ' ';
    EXPECT_NE(
        won.output.find(
            "<sleep 1>YOU HAVE WON THE GAME!!! YOU CAN EXIT BY q OR EXPLORE !!!\n<sleep 2><clear>" + BANNER),
        std::string::npos);
    EXPECT_TRUE(won.output.ends_with("Seed: " + std::to_string(ws) + "\n" + rows(cleared, 16, 30)));
}

TEST(Map, StatusScreenShowingsEndWithOneKey) {
    const Hero h = starting_hero();
    const GameRun run = run_game("Hero\nn\n7\n1\nbdxdxqBxq");
    expect_clean_exit(run);
    const std::string shown =
        "<clear>\x1b[33mHero\x1b[0m\nYOUR WEAPON:\nYOUR ARMOR:\nDAMAGE:1\nCRIT_CHANCE:0.0%\n"
        "CRIT_DMG:0.0%\nDODGE_CHANCE:0.0%\nDEFENCE: 0\nLIFE: " +
        std::to_string(h.hp) + "\nPress 'd' for drugs, 's' to configure scrolls, and 'x' to exit\n";
    std::string bag = "<clear>DRUG BAG\n";
    for (int k = 1; k <= h.drugs; ++k) bag += std::to_string(k) + ".\n";  // nameless, healing nothing
    const std::string map =
        "<clear>" + screen(status("Hero", 1, h.hp, h.hp, h.es, h.es), 7, generate(7), 2, 2);
    EXPECT_EQ(run.output, opening("Hero", 7, 7) + shown + bag + shown + bag + shown + map + shown + map);
}

TEST(Map, BuildDecidesWhichScrollsAreListedFirst) {
    const std::string tour = monster_tour(generate(17), 8);
    std::vector<std::string> orders;
    for (const char *build : {"1", "2", "99"}) {
        const GameRun run = run_game(std::string("VORTEX\nn\n17\n") + build + "\n" + tour + "bs0\nxxq");
        expect_clean_exit(run);
        const size_t list = run.output.rfind("<clear>1:"), end = run.output.find("Enter the scrolls", list);
        ASSERT_NE(list, std::string::npos) << build;
        std::string order;  // S for each Strength scroll, T for each Tactics one, as listed
        for (size_t at = run.output.find(":\x1b[3", list); at < end; at = run.output.find(":\x1b[3", at + 1))
            order += run.output[at + 4] == '1' ? 'S' : 'T';
        orders.push_back(order);
    }
    const std::string &strength = orders[0];
    ASSERT_NE(strength.find('S'), std::string::npos);
    ASSERT_NE(strength.find('T'), std::string::npos);
    EXPECT_EQ(strength.find('S', strength.find('T')), std::string::npos) << strength;
    std::string tactics(strength.rbegin(), strength.rend());
    EXPECT_EQ(orders[1], tactics);
    EXPECT_EQ(orders[2], tactics);
}

TEST(Map, TierFromTheMap) {
    const GameRun run = run_game("VORTEX\nn\n7\n1\npnPyz" + std::string(400, 'k') + "q");
    expect_clean_exit(run);
    const Hero h = starting_hero();
    const std::string first = screen(status("VORTEX", 1, 114514, 1919810, h.es, h.es), 7, generate(7), 2, 2);
    const std::string asked = "INTO the TIER?(y/n)\n";
    EXPECT_TRUE(run.output.starts_with(opening("VORTEX", 7, 7, 114514, 1919810) + asked + "<clear>" + first +
                                       asked + "<clear>TIER: USE"));
    const size_t total = run.output.find("<clear>STAR TOTAL:");
    ASSERT_NE(total, std::string::npos);
    const int stars = std::atoi(run.output.c_str() + total + 18);
    const int levels = stars <= 20    ? stars / 5
                       : stars <= 30  ? stars / 6
                       : stars <= 50  ? stars / 7
                       : stars <= 70  ? stars / 8
                       : stars <= 100 ? stars / 10
                       : stars <= 107 ? 11
                                      : 18;
    ASSERT_GT(levels, 0);
    const std::string award = "<clear>STAR TOTAL:" + std::to_string(stars) + "\n" +
                              (stars == 108 ? "\x1b[32mMAX STARS!\n\x1b[0m" : "") + "YOU WOULD UPGRADE " +
                              std::to_string(levels) + " LEVELS\n<sleep 2><clear>Level UP to 2!\n";
    EXPECT_EQ(run.output.substr(total, award.size()), award);
    size_t ups = 0;
    for (size_t at = run.output.find("Level UP to ", total); at != std::string::npos;
         at = run.output.find("Level UP to ", at + 1))
        ++ups;
    EXPECT_EQ(ups, static_cast<size_t>(levels));
    // Back on the map, the levels are there and the cheat's hit points are set again.
    const std::string last = run.output.substr(run.output.rfind("<clear>"));
    EXPECT_NE(last.find("\x1b[32mVORTEX\x1b[0m LV:" + std::to_string(1 + levels) + " HP:114514/1919810 ES:"),
              std::string::npos);
    EXPECT_TRUE(last.ends_with(rows(generate(7), 2, 2)));
}

// Exactly 30 or 31 hit points cannot be reached from the program's start, so the edge of the
// refresh is tried on the map's key handler in process, with the console in memory.
TEST(Map, RefreshAtThirtyHitPointsKillsAtThirtyOneLeavesOne) {
    const long long s = seed_reaching(16, 2);
    std::string keys = path(generate(s), 2, 2, 16, 2);
    const char step = keys.back();
    keys.pop_back();
    scattertiles();
    Grid rolled;
    std::memcpy(rolled.m, maze, sizeof maze);
    int x = 2, y = 2;
    walk(keys, "", s, rolled, x, y);  // the square beside the refresh

    const HOST saved = host;
    char *text = nullptr;
    size_t size = 0;
    FILE *in = fmemopen(const_cast<char *>("y"), 1, "r");
    // Held here as well as in the host: the death test's child leaves with the host pointed at
    // standard error, and the stream must still be found, not taken for a leak.
    FILE *out = open_memstream(&text, &size);
    host.in = in;
    host.out = out;
    host.clear = [] { std::fputs("<clear>", host.out); };
    host.wait = [](long long ms) { std::fprintf(host.out, "<sleep %lld>", ms / 1000); };
    generate(s);
    _P_ = PLAYER{};
    _P_.max_hp = 141;
    FightResult dead{true, INT_MAX};

    EXPECT_EXIT(
        {
            host.out = stderr;
            _P_.real_hp = 30;
            Operation(step, x, y, dead);
        },
        ::testing::ExitedWithCode(0),
        "^refresh the map at the cost of 30hp\\?\\(y/n\\)\nYOU LOSE!\nYou died of refreshing your "
        "map\\.\nCan't you "
        "calculate your health before pressing the keys\\?\n<sleep 3>$");

    _P_.real_hp = 31;
    Operation(step, x, y, dead);
    std::fclose(out);
    std::fclose(in);
    host = saved;
    EXPECT_EQ(std::string(text, size), "refresh the map at the cost of 30hp?(y/n)\n");
    std::free(text);
    EXPECT_EQ(_P_.real_hp, 1);
    EXPECT_EQ(x, 2);
    EXPECT_EQ(y, 2);
    EXPECT_EQ(std::memcmp(maze, rolled.m, sizeof maze), 0);
    EXPECT_TRUE(dead.first);
}
