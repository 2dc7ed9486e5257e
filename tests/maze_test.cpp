// Maze generation: the edge list, the shuffle and scan against an independent replay, the carved
// maze's shape, and the tiles.
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <utility>
#include <vector>

#include "console/console.h"
#include "maze/maze.h"
#include "support/in_memory_console.h"

using Maze = GameTest;

namespace {
// The runtime generator, counted, with a stop for a scan that would never end.
int capped_rand() {
    if (++draws > 1000000) throw std::runtime_error("generation keeps drawing");
    return std::rand();
}

bool open_square(int r, int c) { return maze[r][c] != '#'; }

int walls_around(int r, int c) {
    return !open_square(r + 1, c) + !open_square(r - 1, c) + !open_square(r, c + 1) + !open_square(r, c - 1);
}

// Replays the shuffle and the scan from the rules with the runtime generator, as seeded by the
// caller. Gives the number of places examined and, per cell, the passages it opened.
struct Replay {
    long long examined = 0;
    bool corner_at_end = false;
    std::vector<int> opened[121];
};

Replay replay_scan() {
    std::vector<std::pair<int, int>> list(1);
    for (int i = 1; i <= 120; ++i) {
        if (i <= 105) list.push_back({i, i + 15});
        if (i % 15 != 0) list.push_back({i, i + 1});
    }
    for (int j = 1; j <= 217; ++j) std::swap(list[j], list[std::rand() % 217 + 1]);

    Replay out;
    for (int corner : {1, 15, 106, 120}) {
        auto touches = [&](int at) { return list[at].first == corner || list[at].second == corner; };
        if (touches(216) && touches(217)) out.corner_at_end = true;
    }
    // Normally places 1 to 215 go round; a corner stuck at the end makes it all 217.
    const int last = out.corner_at_end ? 217 : 215;
    int set_of[121];
    for (int i = 1; i <= 120; ++i) set_of[i] = i;
    int joins = 0;
    for (int n = 1; joins < 119; n = n % last + 1) {
        ++out.examined;
        if (std::rand() % 2 == 0) continue;
        const auto [a, b] = list[n];
        if (set_of[a] == set_of[b]) continue;
        const int gone = set_of[a];
        for (int &s : set_of)
            if (s == gone) s = set_of[b];
        ++joins;
        out.opened[a].push_back(b - a);
    }
    return out;
}

// Every open square of the maze area is reached from the start, and the open squares form a tree.
void expect_perfect_maze() {
    int open = 0, links = 0;
    for (int r = 0; r < 20; ++r)
        for (int c = 0; c < 40; ++c) {
            if (!open_square(r, c)) continue;
            ASSERT_TRUE(r >= 2 && r <= 16 && c >= 2 && c <= 30) << r << "," << c;
            EXPECT_FALSE(r % 2 == 1 && c % 2 == 1) << r << "," << c;
            ++open;
            links += open_square(r + 1, c) + open_square(r, c + 1);
        }
    EXPECT_EQ(open, 239);
    EXPECT_EQ(links, 238);

    bool seen[20][40] = {};
    std::vector<std::pair<int, int>> todo = {{2, 2}};
    seen[2][2] = true;
    int reached = 0;
    while (!todo.empty()) {
        auto [r, c] = todo.back();
        todo.pop_back();
        ++reached;
        for (auto [nr, nc] : {std::pair{r + 1, c}, {r - 1, c}, {r, c + 1}, {r, c - 1}})
            if (open_square(nr, nc) && !seen[nr][nc]) {
                seen[nr][nc] = true;
                todo.push_back({nr, nc});
            }
    }
    EXPECT_EQ(reached, 239);
}

void expect_monsters_on_dead_ends() {
    for (int r = 2; r <= 16; ++r)
        for (int c = 2; c <= 30; ++c) {
            if (!open_square(r, c)) continue;
            if (r == 16 && c == 30) {
                EXPECT_EQ(maze[r][c], '!');
            } else if (r == 16 && c == 2) {
                EXPECT_EQ(maze[r][c], '$');
            } else {
                EXPECT_EQ(maze[r][c] == '&', walls_around(r, c) == 3) << r << "," << c;
                EXPECT_TRUE(maze[r][c] == ' ' || maze[r][c] == '*' || maze[r][c] == '&');
            }
        }
}
}  // namespace

TEST_F(Maze, EdgeListHoldsEveryNeighbourPairOnce) {
    init();
    ASSERT_EQ(indplan, 217);
    auto at = [](int n) { return std::pair{edges[n].from, edges[n].to}; };
    EXPECT_EQ(at(1), std::pair(1, 16));
    EXPECT_EQ(at(2), std::pair(1, 2));
    EXPECT_EQ(at(3), std::pair(2, 17));
    EXPECT_EQ(at(4), std::pair(2, 3));
    EXPECT_EQ(at(29), std::pair(15, 30));
    EXPECT_EQ(at(30), std::pair(16, 31));
    EXPECT_EQ(at(216), std::pair(118, 119));
    EXPECT_EQ(at(217), std::pair(119, 120));
    int vertical = 0, horizontal = 0;
    for (int n = 1; n <= 217; ++n) {
        const int d = edges[n].to - edges[n].from;
        vertical += d == 15;
        horizontal += d == 1;
        EXPECT_FALSE(d == 1 && edges[n].from % 15 == 0) << n;  // nothing leaves the last cell column
        EXPECT_LE(edges[n].to, 120);
    }
    EXPECT_EQ(vertical, 105);
    EXPECT_EQ(horizontal, 112);
}

// Seeds 128, 13775 and 15684 shuffle both edges of a corner (1, 120 and 15) to the end of the list.
TEST_F(Maze, GenerationFollowsTheScanDrawForDraw) {
    for (unsigned s : {1u, 2u, 42u, 2024u, 99991u, 128u, 13775u, 15684u}) {
        indplan = 0;
        for (auto &list : g) list.clear();
        std::memset(maze, '#', sizeof maze);
        std::srand(s);
        const Replay expected = replay_scan();
        EXPECT_EQ(expected.corner_at_end, s == 128u || s == 13775u || s == 15684u) << s;

        std::srand(s);
        draws = 0;
        rand_source = capped_rand;
        ASSERT_NO_THROW(kruskal()) << "seed " << s;
        EXPECT_EQ(draws, 217 + expected.examined + 239) << "seed " << s;
        for (int cell = 1; cell <= 120; ++cell)
            EXPECT_EQ(g[cell], expected.opened[cell]) << "seed " << s << " cell " << cell;
        expect_perfect_maze();
        expect_monsters_on_dead_ends();
        EXPECT_TRUE(open_square(2, 3) || open_square(3, 2)) << s;  // the corner at the start is joined
        for (int r = 0; r < 20; ++r) EXPECT_EQ(maze[r][31], '#');
    }
}

TEST_F(Maze, TilesAreRolledRowByRowOncePerOpenSquare) {
    std::srand(7);
    kruskal();
    // The k-th roll is k: every eighth open square gets supplies unless it is a dead end.
    std::vector<int> rolls(239);
    for (int k = 0; k < 239; ++k) rolls[k] = k;
    rand_source = scripted_rand;
    script_rolls(rolls);
    draws = 0;
    scattertiles();
    EXPECT_EQ(draws, 239);
    int k = 0;
    for (int r = 2; r <= 16; ++r)
        for (int c = 2; c <= 30; ++c) {
            if (!open_square(r, c)) continue;
            char want = walls_around(r, c) == 3 ? '&' : k % 8 == 0 ? '*' : ' ';
            if (r == 16 && c == 30) want = '!';
            if (r == 16 && c == 2) want = '$';
            EXPECT_EQ(maze[r][c], want) << r << "," << c;
            ++k;
            // A passage square sits between two walls and never holds a monster.
            EXPECT_FALSE((r % 2 == 1 || c % 2 == 1) && maze[r][c] == '&') << r << "," << c;
        }
}
