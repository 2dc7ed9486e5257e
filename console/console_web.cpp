// The web page: the game runs in the browser, and the page (web/page.js) plays the part of the
// Linux terminal. What the game writes goes to the page whenever the game flushes, that is before
// every key it waits for, every pause and every clear; the keys come from the page, a line at a
// time until the name is read and then each key as it is typed, with the page's own echo. Pauses
// and key reads wait for the page without holding up the browser.
#include <emscripten.h>

#include <climits>
#include <cstdio>
#include <cstdlib>

#include "console/console.h"

namespace {
// The page's side of the console, reached through the game's module object. The bodies are
// the page's JavaScript, which the C++ formatter must leave as written.
// clang-format off
// The page copies what it keeps: the bytes are handed over as the game's own memory.
EM_JS(void, page_write, (const char *bytes, int size), {
    Module.page.write(HEAPU8.subarray(bytes, bytes + size));
});
// The game's version, told to the page as the game starts, for the runs the page records.
EM_JS(void, page_started, (const char *text, int size), {
    Module.page.started(HEAPU8.slice(text, text + size));
});
EM_JS(void, page_clear, (), {
    Module.page.clear();
});
EM_JS(void, page_key_mode, (int on), {
    Module.page.keyMode(on !== 0);
});
// The bytes the page already has for the game: at least one, or none at the end of the input,
// or -1 when it has none yet. A replay shown at once hands its keys over here, so the game goes
// through them without stopping to wait for each.
EM_JS(int, page_take, (char *buffer, int size), {
    const bytes = Module.page.take(size);
    if (bytes === null) return -1;
    HEAPU8.set(bytes, buffer);
    return bytes.length;
});
// Waits for the page to hand over at least one byte, or none at the end of the input.
EM_ASYNC_JS(int, page_read, (char *buffer, int size), {
    const bytes = await Module.page.read(size);
    HEAPU8.set(bytes, buffer);
    return bytes.length;
});
// The page's clock, in whole seconds since 1970: the same second again when the page plays a
// recorded game.
EM_JS(double, page_clock, (), {
    return Module.page.clock();
});
// A pause: 1 if it takes time, which page_pause_end then waits for; 0 if it is already over, as
// in a replay shown at once.
EM_JS(int, page_pause, (int seconds), {
    return Module.page.pause(seconds) ? 1 : 0;
});
EM_ASYNC_JS(void, page_pause_end, (), {
    await Module.page.pauseEnd();
});
// clang-format on

ssize_t read_page(void *, char *buffer, size_t size) {
    const int most = size > INT_MAX ? INT_MAX : static_cast<int>(size);
    const int taken = page_take(buffer, most);
    return taken >= 0 ? taken : page_read(buffer, most);
}

ssize_t write_page(void *, const char *bytes, size_t size) {
    for (size_t done = 0; done < size;) {
        const int part = size - done > INT_MAX ? INT_MAX : static_cast<int>(size - done);
        page_write(bytes + done, part);
        done += static_cast<size_t>(part);
    }
    return static_cast<ssize_t>(size);
}

void clear_page() { page_clear(); }

void pause_page(long long ms) {
    if (ms >= 1000 && page_pause(static_cast<int>(ms / 1000))) page_pause_end();
}
// The page's terminal: keys and answers read from the page, everything written drawn on it.
void start_page() {
    page_started(MARROWDEEP_VERSION, static_cast<int>(sizeof MARROWDEEP_VERSION - 1));
    host.in = fopencookie(nullptr, "r", cookie_io_functions_t{read_page, nullptr, nullptr, nullptr});
    host.out = fopencookie(nullptr, "w", cookie_io_functions_t{nullptr, write_page, nullptr, nullptr});
}

void page_keys(bool on) { page_key_mode(on ? 1 : 0); }

void exit_game() { std::exit(0); }
}  // namespace

long long clock_now() { return static_cast<long long>(page_clock()); }

constinit GAME_LOCAL HOST host{
    .in = nullptr,
    .out = nullptr,
    .start = start_page,
    .clear = clear_page,
    .wait = pause_page,
    .key_mode = page_keys,
    .roll = &additive_rand,
    .plant_seed = &additive_srand,
    .clock = clock_now,
    .leave = exit_game,
};
