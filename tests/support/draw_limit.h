// The game's own code run inside a test draws its random numbers through roll(). A fault can
// keep one of its loops from ever finishing (a maze scan that can never join every cell), and
// the test would then hold the whole run until ctest's timeout. Such a run is cut off after far
// more draws than any real one needs, with an exception that names what was running, so the
// test fails at once with a message (GoogleTest reports an exception as the test's failure).
#pragma once

#include <stdexcept>
#include <string>

#include "console/console.h"

// A maze takes 217 draws to shuffle, a few thousand to scan and 239 for its tiles; nothing a
// test runs in process comes near this.
inline constexpr long long DRAW_LIMIT = 2000000;

struct TooManyDraws : std::runtime_error {
    explicit TooManyDraws(const std::string &what)
        : std::runtime_error(what + " drew more than " + std::to_string(DRAW_LIMIT) +
                             " random numbers without ending") {}
};

namespace draw_limit {
inline int (*source)() = nullptr;
inline long long left = 0;
inline std::string running;

inline int draw() {
    if (--left < 0) throw TooManyDraws(running);
    return source();
}
}  // namespace draw_limit

// Runs `work` with the game's draws taken from the present source, at most DRAW_LIMIT of them;
// one more throws TooManyDraws naming `what`. The source is put back either way.
template <typename Work>
void with_draw_limit(const std::string &what, Work &&work) {
    int (*const before)() = host.roll;
    draw_limit::source = before;
    draw_limit::left = DRAW_LIMIT;
    draw_limit::running = what;
    host.roll = draw_limit::draw;
    try {
        work();
    } catch (...) {
        host.roll = before;
        throw;
    }
    host.roll = before;
}
