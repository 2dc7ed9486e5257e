// Kruskal's algorithm over a shuffled edge list, carved into the tile grid, then the tiles
// scattered over the open squares.
#include <utility>

#include "console/console.h"
#include "maze/maze.h"
#include "state/state.h"

void init() {
    for (int i = 1; i <= 120; ++i) {
        if (i + 15 <= 120) edges[++indplan] = {i, i + 15};
        if (i + 1 <= 120 && i % 15 != 0) edges[++indplan] = {i, i + 1};
    }
}

int find(int x) {
    if (p[x] != x) p[x] = find(p[x]);
    return p[x];
}

namespace {
bool touches(const side &e, int cell) { return e.from == cell || e.to == cell; }

// The scan never looks at the last two places of the list. When both edges of a corner cell
// sit there, that corner could never be joined, so the scan looks at every place instead.
bool corner_left_out() {
    const side &a = edges[indplan - 1];
    const side &b = edges[indplan];
    for (int corner : {1, 15, 106, 120})
        if (touches(a, corner) && touches(b, corner)) return true;
    return false;
}
}  // namespace

void kruskal() {
    init();
    for (int i = 1; i <= 120; ++i) p[i] = i;

    for (int j = 1; j <= indplan; ++j) {
        int k = roll() % indplan + 1;
        std::swap(edges[j], edges[k]);
    }

    // The place at which the scan starts again from the top of the list.
    const int restart = corner_left_out() ? indplan + 1 : indplan - 1;
    int joins = 0;
    for (int n = 1;; ++n) {
        if (joins == 119) break;
        if (n == restart) n = 1;
        if (roll() % 2 == 1) {
            const side e = edges[n];
            if (find(e.from) != find(e.to)) {
                ++joins;
                int to_root = find(e.to);
                p[find(p[e.from])] = to_root;
                g[e.from].push_back(e.to - e.from);
            }
        }
    }

    int id = 1;
    for (int i = 2; i <= I; i += 2) {
        for (int j = 2; j <= J; j += 2) {
            maze[i][j] = ' ';
            for (int d : g[id]) {
                if (d == 1) maze[i][j + 1] = ' ';
                if (d == 15) maze[i + 1][j] = ' ';
            }
            ++id;
        }
    }

    scattertiles();
}

void scattertiles() {
    for (int i = 2; i < I; ++i) {
        for (int j = 2; j < J; ++j) {
            int w = (maze[i + 1][j] == '#') + (maze[i - 1][j] == '#') + (maze[i][j + 1] == '#') +
                    (maze[i][j - 1] == '#');
            if (maze[i][j] == '#') continue;
            int x = roll();
            maze[i][j] = (x & 7) == 0 ? '*' : ' ';
            if (w == 3) maze[i][j] = '&';  // a dead end always holds a monster
        }
    }
    maze[16][30] = '!';
    maze[16][2] = '$';
}
