// The Windows console: "cls" through the shell, pauses in milliseconds, keys straight from the
// console without echo or Enter, and colours through the console's escape-code processing.
#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <conio.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "console/console.h"

namespace {
void run_cls() {
    if (std::system("cls") == -1) return;
}

void sleep_milliseconds(long long ms) {
    if (ms > 0) Sleep(static_cast<DWORD>(ms));
}

// One key press from the console; the game ends if the console has no more keys to give.
char console_key() {
    std::fflush(con.out);
    int c = _getch();
    if (c == EOF) leave_game();
    return static_cast<char>(c);
}
}  // namespace

CONSOLE con{stdin, stdout, run_cls, sleep_milliseconds};

void console_start() {
    // Without virtual-terminal processing the console prints the colour codes as text.
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out != INVALID_HANDLE_VALUE && GetConsoleMode(out, &mode))
        SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    // A console's standard output is unbuffered, and the runtime then hands the console one
    // character at a time; some consoles (wine's among them) cut an escape code written in
    // pieces and show the rest of it as text. With a full buffer each screen goes out whole:
    // the game flushes before every read, pause and clear, so nothing waits unseen.
    std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
}

void terminal_setup() {}

void terminal_restore() {}

void PAUSE(double s) {
    std::fflush(con.out);
    con.wait(static_cast<long long>(1000.0 * s));
}

char read_raw_key() { return console_key(); }

char inchar() { return console_key(); }

char single_key() { return console_key(); }

void drink_animation() {
    say("Drink");
    for (int i = 0; i < 3; ++i) {
        say(".");
        std::fflush(con.out);
        con.wait(500);
    }
    say("\n");
}

void leave_game() {
    std::fflush(con.out);
    std::exit(0);
}
