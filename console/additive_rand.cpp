// The Linux runtime library's generator, written out so that a build whose own rand() gives
// other numbers (the web page's) still plays the Linux program's games: the same seed gives the
// same maze, the same fights and the same loot.
//
// It is an additive-feedback generator over 31 words. Seeding fills the words from the seed with
// the multiplier 16807 modulo 2^31 - 1 and throws the first 310 results away; every draw then
// adds the word three places back to the word 31 places back and gives the sum without its
// lowest bit.
#include <cstdint>

#include "console/console.h"

namespace {
constexpr int WORDS = 31;
constexpr int GAP = 3;

struct Additive {
    std::uint32_t words[WORDS]{};
    int front = GAP;  // the word the next draw adds to
    int rear = 0;     // the word it adds
};

constexpr int draw(Additive &g) {
    g.words[g.front] += g.words[g.rear];
    const int result = static_cast<int>(g.words[g.front] >> 1);
    g.front = g.front + 1 == WORDS ? 0 : g.front + 1;
    g.rear = g.rear + 1 == WORDS ? 0 : g.rear + 1;
    return result;
}

constexpr Additive seeded(unsigned start) {
    Additive g;
    // A seed of 0 would leave every word 0; the runtime library takes 1 instead.
    std::int32_t word = start == 0 ? 1 : static_cast<std::int32_t>(start);
    g.words[0] = static_cast<std::uint32_t>(word);
    for (int i = 1; i < WORDS; ++i) {
        // 16807 * word modulo 2^31 - 1, split so that no product leaves 32 bits; the division
        // truncates toward zero, so a seed from 2^31 up (a negative word) comes out as the
        // library's does.
        const std::int32_t high = word / 127773;
        const std::int32_t low = word % 127773;
        word = 16807 * low - 2836 * high;
        if (word < 0) word += 2147483647;
        g.words[i] = static_cast<std::uint32_t>(word);
    }
    for (int i = 0; i < 10 * WORDS; ++i) draw(g);
    return g;
}

// Before any seeding the generator stands as seeded with 1, as the runtime library's does: the
// hero is rolled before the seed is planted. Worked out by the compiler.
GAME_LOCAL constinit Additive generator = seeded(1);
}  // namespace

int additive_rand() { return draw(generator); }

void additive_srand(unsigned start) { generator = seeded(start); }
