// The Windows console: "cls" through the shell, pauses in milliseconds, keys straight from the
// console without echo or Enter, and colours through the console's escape-code processing.
#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <conio.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "console/console.h"

namespace {
void run_cls() {
    if (std::system("cls") == -1) return;
}

void sleep_milliseconds(long long ms) {
    if (ms > 0) Sleep(static_cast<DWORD>(ms));
}

// One key press from the console; the game ends if the console has no more keys to give. The
// console reports an arrow, a function key, Home, End, Page Up, Page Down, Insert or Delete as
// two values, 0 or 224 and then the key's code. Such a key is read whole and reaches the game as
// '\0', which no screen gives a meaning, so its code is never taken for a key of its own.
char console_key() {
    std::fflush(host.out);
    int c = _getch();
    if (c == EOF) leave_game();
    if (c == 0 || c == 224) {
        if (_getch() == EOF) leave_game();
        return '\0';
    }
    return static_cast<char>(c);
}

// The console's output mode as the game found it, put back however the game ends.
HANDLE console_out = INVALID_HANDLE_VALUE;
DWORD found_output_mode = 0;
bool output_mode_found = false;

void restore_output_mode() {
    // Whatever is still buffered goes out while the console still turns escape codes into colours.
    std::fflush(host.out);
    if (output_mode_found) SetConsoleMode(console_out, found_output_mode);
}

// Ctrl-C, Ctrl-Break and closing the console: the mode goes back, then the console's default
// handling ends the program as before.
BOOL WINAPI restore_on_close(DWORD) {
    if (output_mode_found) SetConsoleMode(console_out, found_output_mode);
    return FALSE;
}

void start_console() {
    host.in = stdin;
    host.out = stdout;
    // Without virtual-terminal processing the console prints the colour codes as text.
    console_out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (console_out != INVALID_HANDLE_VALUE && GetConsoleMode(console_out, &found_output_mode)) {
        output_mode_found = true;
        std::atexit(restore_output_mode);
        SetConsoleCtrlHandler(restore_on_close, TRUE);
        SetConsoleMode(console_out, found_output_mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
    // A console's standard output is unbuffered, and the runtime then hands the console one
    // character at a time; some consoles (wine's among them) cut an escape code written in
    // pieces and show the rest of it as text. With a full buffer each screen goes out whole:
    // the game flushes before every read, pause and clear, so nothing waits unseen.
    std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
}

// The console's keys always arrive as typed; what goes back when the game leaves is the output
// mode that start_console() found.
void console_keys(bool on) {
    if (!on) restore_output_mode();
}

void exit_game() { std::exit(0); }
}  // namespace

long long clock_now() { return std::time(nullptr); }

constinit GAME_LOCAL HOST host{
    .in = nullptr,
    .out = nullptr,
    .start = start_console,
    .clear = run_cls,
    .wait = sleep_milliseconds,
    .key_mode = console_keys,
    .roll = &std::rand,
    .plant_seed = &std::srand,
    .clock = clock_now,
    .leave = exit_game,
};

void PAUSE(double s) {
    std::fflush(host.out);
    host.wait(static_cast<long long>(1000.0 * s));
}

char read_raw_key() { return console_key(); }

char single_key() { return console_key(); }

void drink_animation() {
    say("Drink");
    for (int i = 0; i < 3; ++i) {
        say(".");
        std::fflush(host.out);
        host.wait(500);
    }
    say("\n");
}
