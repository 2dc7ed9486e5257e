// Maze generation: the edge list, the shuffle and scan against an independent replay for a few
// seeds (the stuck-corner ones among them), and the tiles from scripted draws. The carved maze's
// shape over every seed is checked by tests/fuzz/every_seed_test.cpp.
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "console/console.h"
#include "maze/maze.h"
#include "support/in_memory_console.h"

using Maze = GameTest;

namespace {
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

}  // namespace

TEST_F(Maze, EdgeListRunsDownThenRightCellByCell) {
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
}

// Seeds 128, 13775 and 15684 shuffle both edges of a corner (1, 120 and 15) to the end of the list.
TEST_F(Maze, GenerationFollowsTheScanDrawForDraw) {
    for (unsigned s : {1u, 2u, 42u, 2024u, 99991u, 128u, 13775u, 15684u}) {
        reset_game_state();
        std::memset(maze, '#', sizeof maze);
        std::srand(s);
        const Replay expected = replay_scan();
        EXPECT_EQ(expected.corner_at_end, s == 128u || s == 13775u || s == 15684u) << s;

        std::srand(s);
        draws = 0;
        ASSERT_NO_THROW(kruskal()) << "seed " << s;
        EXPECT_EQ(draws, 217 + expected.examined + 239) << "seed " << s;
        // 120 cells and the 119 passages of the replay are open, and nothing else.
        int open = 0;
        for (auto &row : maze)
            for (char tile : row) open += tile != '#';
        EXPECT_EQ(open, 239) << "seed " << s;
        for (int cell = 1; cell <= 120; ++cell) {
            EXPECT_EQ(g[cell], expected.opened[cell]) << "seed " << s << " cell " << cell;
            const int r = 2 + 2 * ((cell - 1) / 15), c = 2 + 2 * ((cell - 1) % 15);
            for (int d : expected.opened[cell]) EXPECT_TRUE(open_square(r + (d == 15), c + (d == 1))) << cell;
        }
    }
}

TEST_F(Maze, TilesAreRolledRowByRowOncePerOpenSquare) {
    std::srand(7);
    kruskal();
    // The k-th roll is k: every eighth open square gets supplies unless it is a dead end.
    std::vector<int> rolls(239);
    for (int k = 0; k < 239; ++k) rolls[k] = k;
    host.roll = scripted_rand;
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
        }
}
