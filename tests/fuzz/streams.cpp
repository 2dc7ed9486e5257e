#include "fuzz/streams.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "maze/maze.h"
#include "support/draw_limit.h"

namespace {

// xoshiro256** seeded through splitmix64: small, fast, and the same on every machine.
class Rng {
  public:
    Rng(std::uint64_t family, std::uint64_t index) {
        std::uint64_t x = family * 0x9E3779B97F4A7C15ull ^ (index + 0x632BE59BD9B4E019ull);
        for (auto &word : s_) word = splitmix(x);
    }

    std::uint64_t next() {
        const std::uint64_t result = rotl(s_[1] * 5, 7) * 9;
        const std::uint64_t t = s_[1] << 17;
        s_[2] ^= s_[0];
        s_[3] ^= s_[1];
        s_[1] ^= s_[2];
        s_[0] ^= s_[3];
        s_[2] ^= t;
        s_[3] = rotl(s_[3], 45);
        return result;
    }

    // Uniform in 0..n-1 (n > 0).
    std::size_t below(std::size_t n) { return static_cast<std::size_t>(next() % n); }
    // Uniform in lo..hi.
    long long between(long long lo, long long hi) {
        return lo + static_cast<long long>(next() % static_cast<std::uint64_t>(hi - lo + 1));
    }
    // True with chance num/den.
    bool chance(std::size_t num, std::size_t den) { return below(den) < num; }
    template <typename T, std::size_t N>
    const T &pick(const std::array<T, N> &items) {
        return items[below(N)];
    }
    char pick_char(const char *chars) { return chars[below(std::strlen(chars))]; }

  private:
    static std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    static std::uint64_t splitmix(std::uint64_t &x) {
        std::uint64_t z = (x += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::uint64_t s_[4];
};

bool is_blank(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// A blank or a line end between two answers.
char separator(Rng &r) { return r.chance(3, 4) ? '\n' : r.pick_char(" \t\r\n"); }

std::string digits(Rng &r, std::size_t n) {
    std::string s;
    s.push_back(static_cast<char>('1' + r.below(9)));
    while (s.size() < n) s.push_back(static_cast<char>('0' + r.below(10)));
    return s;
}

// A word of bytes that are not white space: any byte at all, NUL and 0xFF included.
std::string word(Rng &r, std::size_t n) {
    std::string s;
    while (s.size() < n) {
        const auto c = static_cast<unsigned char>(r.below(256));
        if (!is_blank(c)) s.push_back(static_cast<char>(c));
    }
    return s;
}

// A number answer: small, ordinary, at the edges of int and long long, far beyond them, signed
// in odd ways, or not a number at all.
std::string number(Rng &r) {
    static const std::array<const char *, 22> edges = {"0",
                                                       "1",
                                                       "-1",
                                                       "2",
                                                       "-0",
                                                       "+7",
                                                       "2147483647",
                                                       "2147483648",
                                                       "-2147483648",
                                                       "-2147483649",
                                                       "4294967295",
                                                       "4294967296",
                                                       "4294967297",
                                                       "9223372036854775807",
                                                       "9223372036854775808",
                                                       "-9223372036854775808",
                                                       "-9223372036854775809",
                                                       "18446744073709551615",
                                                       "18446744073709551616",
                                                       "-",
                                                       "+",
                                                       "--3"};
    switch (r.below(9)) {
        case 0:
        case 1: return std::to_string(r.between(0, 12));
        case 2: return std::to_string(r.between(-20, 20));
        case 3: return std::to_string(static_cast<std::int32_t>(r.next()));
        case 4: return std::to_string(static_cast<std::int64_t>(r.next()));
        case 5: return r.pick(edges);
        case 6: return (r.chance(1, 2) ? "-" : "") + digits(r, 19 + r.below(200));
        case 7: return std::to_string(r.between(0, 9)) + word(r, 1 + r.below(6));  // digits, then junk
        default: return word(r, 1 + r.below(8));                                   // not a number
    }
}

// A word of one mebibyte: all digits (a huge number), or any bytes but blanks after a first
// letter. Either way one answer takes the whole word: a number answer reads all the digits, or
// throws away a word that does not begin like a number. None of it is left over for the map,
// where every byte is a key and each key draws the map again.
std::string giant_word(Rng &r) {
    std::string s;
    s.reserve(GIANT_WORD);
    switch (r.below(3)) {
        case 0:
            if (r.chance(1, 2)) s.push_back('-');
            while (s.size() < GIANT_WORD) s.push_back(static_cast<char>('0' + r.below(10)));
            break;
        case 1: s.assign(GIANT_WORD, r.chance(1, 2) ? 'y' : 'k'); break;
        default: s = r.pick_char("abcxyzABCXYZ") + word(r, GIANT_WORD - 1); break;
    }
    return s;
}

// ---------------------------------------------------------------------------------------------
// Random bytes.

void random_chunk(Rng &r, std::string &s) {
    switch (r.below(6)) {
        case 0:  // any bytes
        {
            const std::size_t n = 1 + r.below(64);
            for (std::size_t i = 0; i < n; ++i) s.push_back(static_cast<char>(r.below(256)));
            break;
        }
        case 1:  // white space and control characters
        {
            const std::size_t n = 1 + r.below(16);
            for (std::size_t i = 0; i < n; ++i)
                s.push_back(r.chance(1, 2) ? r.pick_char(" \t\r\n\v\f") : static_cast<char>(r.below(32)));
            break;
        }
        case 2: s += number(r) + separator(r); break;
        case 3: s += word(r, 1 + (r.chance(1, 8) ? r.below(4096) : r.below(12))) + separator(r); break;
        case 4:  // NUL and 0xFF, which are keys like any other
        {
            const std::size_t n = 1 + r.below(8);
            for (std::size_t i = 0; i < n; ++i) s.push_back(r.chance(1, 2) ? '\0' : '\xff');
            break;
        }
        default:  // the keys the game knows
        {
            const std::size_t n = 1 + r.below(40);
            for (std::size_t i = 0; i < n; ++i)
                s.push_back(r.pick_char("wasdWASDkKbBpPqxXyYnN0123456789-\n "));
            break;
        }
    }
}

Stream random_bytes(Rng &r) {
    Stream st;
    st.kind = "bytes";
    std::string &s = st.bytes;
    std::size_t length = r.chance(3, 4) ? r.below(700) : r.below(5000);
    switch (r.chance(1, 40) ? 1 + r.below(3) : 0) {
        case 1:  // a giant name: every map screen shows it, so only a few keys follow
            s = giant_word(r);
            length = s.size() + r.below(12);
            break;
        case 2:  // a giant seed answer
            s = word(r, 1 + r.below(4)) + separator(r) + r.pick_char("nxY5-") + giant_word(r);
            length += s.size();
            break;
        case 3:  // a giant build answer
            s = word(r, 1 + r.below(4)) + separator(r) + "n " + std::to_string(r.between(-99, 99)) +
                separator(r) + giant_word(r);
            length += s.size();
            break;
        default: break;
    }
    while (s.size() < length) random_chunk(r, s);
    s.resize(length);  // the input ends at a random byte, even inside a word or a number
    return st;
}

// ---------------------------------------------------------------------------------------------
// Game-shaped input.

struct Shape {
    bool vortex = false;  // the hero of the hidden cheat mode, who wins fights in a few blows
};

std::string name(Rng &r, Shape &shape) {
    static const std::array<const char *, 6> names = {"QZRV", "VORTEX", "vortex", "qzrv", "Ann", "VORTEXX"};
    std::string n;
    switch (r.below(8)) {
        case 0:
        case 1:
        case 2: n = r.pick(names); break;
        case 3: n = "VORTEX"; break;
        case 4: n = std::string(r.pick(names)) + " " + r.pick(names); break;  // two words
        case 5: n = word(r, 1 + r.below(40)); break;                          // any bytes
        default: {
            const std::size_t len = 1 + r.below(12);
            for (std::size_t i = 0; i < len; ++i)
                n.push_back(r.pick_char("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_0123456789"));
        }
    }
    shape.vortex = n == "VORTEX";
    return n;
}

std::string seed_answer(Rng &r) {
    // 'y' takes the seed from the clock: the one answer that plays a different maze each time.
    if (r.chance(1, 10)) return std::string("y") + separator(r);
    return std::string(1, r.pick_char("nNYx0")) + separator(r) + number(r) + separator(r);
}

std::string build_answer(Rng &r) {
    if (r.chance(2, 3)) return std::string(r.chance(1, 2) ? "1" : "2") + separator(r);
    return number(r) + separator(r);
}

std::string moves(Rng &r) {
    std::string s;
    const std::size_t n = 1 + r.below(40);
    const char held = r.pick_char("wasd");
    for (std::size_t i = 0; i < n; ++i) {
        if (r.chance(1, 3))
            s.push_back(held);  // runs into walls
        else if (r.chance(1, 12))
            s.push_back(r.pick_char("WASDQ\n xjb"));
        else
            s.push_back(r.pick_char("wasd"));
    }
    return s;
}

char fight_key(Rng &r) {
    const std::size_t roll = r.below(100);
    if (roll < 70) return 'k';
    if (roll < 80) return 'K';
    if (roll < 90) return static_cast<char>('0' + r.below(10));
    if (roll < 95) return r.pick_char("wasdyn\xff");
    return r.pick_char(" \n\t");
}

std::string fight_keys(Rng &r, std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s.push_back(fight_key(r));
    return s;
}

// A visit to the status screen, the drug bag and the scroll configuration.
std::string status(Rng &r) {
    std::string s(1, r.chance(4, 5) ? 'b' : 'B');
    const std::size_t visits = 1 + r.below(3);
    for (std::size_t v = 0; v < visits; ++v) {
        switch (r.below(5)) {
            case 0: s.push_back(r.pick_char("xXq")); return s;
            case 1:  // the drug bag: drink, refuse, or come back to the screen
                s.push_back(r.chance(1, 2) ? 'd' : 'D');
                s.push_back(r.pick_char("0123456789xXk"));
                break;
            case 2:
            case 3: {  // the scroll configuration: numbers, then an end and any key
                s.push_back(r.chance(4, 5) ? 's' : 'S');
                s.push_back(separator(r));
                const std::size_t n = r.below(10);
                for (std::size_t i = 0; i < n; ++i)
                    s += (r.chance(2, 3) ? std::to_string(r.between(1, 12)) : number(r)) + separator(r);
                s += r.chance(3, 4) ? (r.chance(1, 2) ? "0" : "-1") : number(r);
                s.push_back(separator(r));
                s.push_back(r.pick_char("kx.a"));
                break;
            }
            default: s.push_back(static_cast<char>(r.below(256))); return s;
        }
    }
    return s;
}

// The tier question, and when it is taken the keys of its fights and between its layers.
std::string tier(Rng &r, const Shape &shape) {
    std::string s(1, r.chance(4, 5) ? 'p' : 'P');
    s.push_back(separator(r));
    if (r.chance(1, 3)) {
        s.push_back(r.pick_char("nYx"));
        return s;
    }
    s.push_back('y');
    s.push_back(r.pick_char("k\nx"));  // any key to begin
    s += fight_keys(r, shape.vortex ? 20 + r.below(300) : 50 + r.below(900));
    return s;
}

// The main part of a shaped stream: runs of keys of every kind, up to a budget.
void play(Rng &r, const Shape &shape, std::string &s, std::size_t budget) {
    const std::size_t end = s.size() + budget;
    while (s.size() < end) {
        const std::size_t roll = r.below(100);
        if (roll < 40)
            s += moves(r);
        else if (roll < 65)
            s += fight_keys(r, shape.vortex ? 1 + r.below(20) : 1 + r.below(400));
        else if (roll < 77)
            s += status(r);
        else if (roll < 82)
            s += tier(r, shape);
        else if (roll < 92)
            s.push_back(r.pick_char("yYnN\n k"));  // loot and refresh answers
        else if (roll < 99)
            random_chunk(r, s);
        else
            s.push_back('q');
    }
}

Stream shaped(Rng &r) {
    Stream st;
    st.kind = "shaped";
    Shape shape;
    std::string &s = st.bytes;
    s = name(r, shape) + separator(r) + seed_answer(r) + build_answer(r);
    st.startup_end = s.size();
    play(r, shape, s, shape.vortex ? 100 + r.below(3000) : 50 + r.below(2500));
    return st;
}

// ---------------------------------------------------------------------------------------------
// Tours of a known maze.

using Square = std::pair<int, int>;

// The maze the game makes from this seed: its draws after seeding are the maze's alone.
void generate_maze(unsigned seed, char grid[20][40]) {
    reset_game_state();
    std::memset(maze, '#', sizeof maze);
    std::srand(seed);
    with_draw_limit("the maze of seed " + std::to_string(seed), kruskal);
    std::memcpy(grid, maze, sizeof maze);
}

// The keys of a shortest path over open squares, the refresh tile only as the last step.
std::string path(const char grid[20][40], Square from, Square to) {
    static const std::array<std::pair<Square, char>, 4> steps = {
        {{{0, 1}, 'd'}, {{0, -1}, 'a'}, {{1, 0}, 's'}, {{-1, 0}, 'w'}}};
    std::array<std::array<int, 40>, 20> came{};  // step index + 1 that reached the square
    std::deque<Square> queue{from};
    came[from.first][from.second] = -1;
    while (!queue.empty()) {
        const Square at = queue.front();
        queue.pop_front();
        if (at == to) break;
        if (at == Square{16, 2} && at != from) continue;  // the refresh stops a walk
        for (std::size_t k = 0; k < steps.size(); ++k) {
            const Square next{at.first + steps[k].first.first, at.second + steps[k].first.second};
            if (next.first < 1 || next.first > 17 || next.second < 1 || next.second > 31) continue;
            if (grid[next.first][next.second] == '#' || came[next.first][next.second] != 0) continue;
            came[next.first][next.second] = static_cast<int>(k) + 1;
            queue.push_back(next);
        }
    }
    if (came[to.first][to.second] == 0) return "";
    std::string keys;
    for (Square at = to; at != from;) {
        const auto &step = steps[static_cast<std::size_t>(came[at.first][at.second] - 1)];
        keys.insert(keys.begin(), step.second);
        at = {at.first - step.first.first, at.second - step.first.second};
    }
    return keys;
}

Stream tour(Rng &r) {
    Stream st;
    st.kind = "tour";
    Shape shape;
    std::string &s = st.bytes;
    if (r.chance(7, 10)) {
        s = "VORTEX";
        shape.vortex = true;
    } else {
        s = r.chance(1, 2) ? "QZRV" : "Tess";
    }
    const long long seed = r.chance(1, 2) ? r.between(0, 100000) : static_cast<std::int64_t>(r.next());
    s += std::string("\nn\n") + std::to_string(seed) + "\n" + (r.chance(1, 2) ? "1" : "2") + "\n";
    st.startup_end = s.size();

    char grid[20][40];
    generate_maze(static_cast<unsigned>(seed), grid);

    Square at{2, 2};
    const std::size_t end = s.size() + 200 + r.below(4000);
    // In a sound maze every square is on a way from every other; a maze that leaves the hero
    // walled in would have this loop look for a way without end.
    int misses = 0;
    while (s.size() < end) {
        // The cheat hero seeks the boss; the others, who lose most fights, pay for refreshes
        // until one costs their life, and mostly keep away from the dead ends' monsters.
        Square to;
        const std::size_t roll = r.below(100);
        if (roll < (shape.vortex ? 20u : 3u)) {
            to = {16, 30};  // the boss
        } else if (roll < (shape.vortex ? 30u : 40u)) {
            to = {16, 2};  // the refresh tile
        } else {
            to = {2 + 2 * static_cast<int>(r.below(8)), 2 + 2 * static_cast<int>(r.below(15))};
            if (!shape.vortex && grid[to.first][to.second] == '&' && r.chance(4, 5)) continue;
        }
        const std::string keys = path(grid, at, to);
        if (keys.empty()) {
            if (++misses == 1000)
                throw std::runtime_error("the maze of seed " + std::to_string(seed) + " has no way from (" +
                                         std::to_string(at.first) + ", " + std::to_string(at.second) +
                                         ") in 1000 tries");
            continue;
        }
        misses = 0;
        const bool to_refresh = to == Square{16, 2};
        for (std::size_t k = 0; k < keys.size(); ++k) {
            s.push_back(keys[k]);
            if (to_refresh && k + 1 == keys.size()) break;  // the question comes first
            // Blows for a fight the step may start, an answer for a loot offer, or nothing;
            // on the map they only redraw it.
            if (r.chance(1, 4)) s.push_back(r.chance(2, 3) ? 'y' : 'n');  // takes or leaves an offer
            const std::size_t blows = shape.vortex ? r.below(4) : r.below(3) * r.below(30);
            s += fight_keys(r, blows);
        }
        if (!to_refresh) {
            at = to;
        } else if (r.chance(1, 2)) {
            s.push_back(r.pick_char("nN"));  // declined: the hero stays on the square before it
            for (std::size_t k = 0; k + 1 < keys.size(); ++k) {
                if (keys[k] == 'd') ++at.second;
                if (keys[k] == 'a') --at.second;
                if (keys[k] == 's') ++at.first;
                if (keys[k] == 'w') --at.first;
            }
        } else {
            s.push_back(r.pick_char("yk\n"));  // accepted: the hero starts again at (2, 2)
            at = {2, 2};
        }
        if (r.chance(1, 10)) s += status(r);
        if (r.chance(1, 25)) s += tier(r, shape);
    }
    return st;
}

}  // namespace

Stream make_stream(std::uint64_t family, std::uint64_t index) {
    Rng r(family, index);
    Stream st;
    const std::size_t roll = r.below(100);
    if (roll < 30)
        st = random_bytes(r);
    else if (roll < 70)
        st = shaped(r);
    else
        st = tour(r);
    // Half the game-shaped streams end at a random byte rather than at their natural end.
    if (st.kind != "bytes" && r.chance(1, 2)) st.bytes.resize(r.below(st.bytes.size() + 1));
    return st;
}
