#include "terminal/game_model.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>

#include "console/console.h"
#include "maze/maze.h"
#include "state/state.h"
#include "support/draw_limit.h"

namespace {
std::uint32_t msvcrt_state = 1;

int msvcrt_rand() {
    msvcrt_state = msvcrt_state * 214013u + 2531011u;
    return static_cast<int>((msvcrt_state >> 16) & 32767u);
}
}  // namespace

void use_generator(Runtime runtime, unsigned start) {
    if (runtime == Runtime::glibc) {
        std::srand(start);
        host.roll = &std::rand;
    } else {
        msvcrt_state = start;
        host.roll = &msvcrt_rand;
    }
}

PLAYER starting_hero(Runtime runtime) {
    // Start-up makes the hero before the catalogue is filled and before anything is seeded.
    reset_game_state();
    use_generator(runtime, 1);
    return SummonAI(1, true);
}

Grid current_maze() {
    Grid grid;
    for (int r = 0; r < 20; ++r)
        for (int c = 0; c < 40; ++c) grid[r][c] = maze[r][c];
    return grid;
}

Grid generate_maze(Runtime runtime, long long seed_value) {
    reset_game_state();
    std::memset(maze, '#', sizeof maze);
    use_generator(runtime, static_cast<unsigned>(seed_value));
    FightItemINIT();
    with_draw_limit("the maze of seed " + std::to_string(seed_value), kruskal);
    return current_maze();
}

std::vector<std::string> map_rows(const Grid &grid, Square hero) {
    std::vector<std::string> rows;
    for (int r = 1; r <= 17; ++r) {
        std::string row(11, ' ');
        for (int c = 1; c <= 31; ++c) row += (Square{r, c} == hero) ? '@' : grid[r][c];
        rows.push_back(row);
    }
    return rows;
}

Square step(Square from, char key) {
    switch (key) {
        case 'd': return {from.row, from.col + 1};
        case 'a': return {from.row, from.col - 1};
        case 's': return {from.row + 1, from.col};
        case 'w': return {from.row - 1, from.col};
        default: return from;
    }
}

namespace {
// Breadth-first search over the shown part of the map; `goal` says when to stop.
template <typename Goal>
std::string search(const Grid &grid, Square from, const std::string &passable, Goal goal, Square *found) {
    const std::string keys = "dasw";
    std::array<std::array<char, 40>, 20> came{};  // the key that reached each square
    std::array<std::array<bool, 40>, 20> seen{};
    std::deque<Square> queue = {from};
    seen[from.row][from.col] = true;
    while (!queue.empty()) {
        const Square here = queue.front();
        queue.pop_front();
        if (!(here == from) && goal(here)) {
            std::string path;
            for (Square at = here; !(at == from);) {
                const char key = came[at.row][at.col];
                path.insert(path.begin(), key);
                at = step(at, key == 'd' ? 'a' : key == 'a' ? 'd' : key == 's' ? 'w' : 's');
            }
            if (found) *found = here;
            return path;
        }
        if (!(here == from) && passable.find(grid[here.row][here.col]) == std::string::npos) continue;
        for (char key : keys) {
            const Square next = step(here, key);
            if (next.row < 1 || next.row > 17 || next.col < 1 || next.col > 31) continue;
            if (seen[next.row][next.col] || grid[next.row][next.col] == '#') continue;
            seen[next.row][next.col] = true;
            came[next.row][next.col] = key;
            queue.push_back(next);
        }
    }
    return "";
}
}  // namespace

std::string way(const Grid &grid, Square from, Square to, const std::string &passable) {
    return search(
        grid, from, passable, [&](Square s) { return s == to; }, nullptr);
}

Square nearest(const Grid &grid, Square from, char tile, const std::string &passable) {
    Square found;
    search(
        grid, from, passable, [&](Square s) { return grid[s.row][s.col] == tile; }, &found);
    return found;
}

Supplies open_supplies(PLAYER &hero, char answer) {
    Supplies found;
    found.kind = roll() % 3;
    if (found.kind == 0) {
        const int r = roll() % 7;
        const WEAPON &w = r <= 2 ? iron_sword : r <= 4 ? diamond_sword : r == 5 ? end_sword : strange_sword;
        found.name = w.name;
        found.asks = hero.wea.atk != 0;
        found.taken = !found.asks || answer == 'y';
        if (found.taken) hero.wea = w;
    } else if (found.kind == 1) {
        const int r = roll() % 5;
        const ARMOR &a = r <= 1 ? iron_armor : r <= 3 ? gold_armor : happy_armor;
        found.name = a.name;
        found.asks = hero.arm.dr != 0;
        found.taken = !found.asks || answer == 'y';
        if (found.taken) hero.arm = a;
    } else if (hero.drug_num <= 3) {
        const DRUG &d = roll() % 3 <= 1 ? little_heart : broken_heart;
        found.name = d.name;
        found.taken = true;
        hero.bag[++hero.drug_num] = d;
    }
    return found;
}

Grid refresh_tiles(const Grid &grid) {
    for (int r = 0; r < 20; ++r)
        for (int c = 0; c < 40; ++c) maze[r][c] = grid[r][c];
    scattertiles();
    return current_maze();
}
