// The Linux terminal: "clear" through the shell, pauses in whole seconds, keys from standard
// input with the terminal's own echo, and the terminal taken out of line mode after the name.
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "console/console.h"

namespace {
void run_clear() {
    // The shell's own result does not matter: a failed clear leaves the screen as it is.
    if (std::system("clear") == -1) return;
}

void sleep_seconds(long long ms) {
    if (ms >= 1000) sleep(static_cast<unsigned>(ms / 1000));
}

// The terminal's mode as the game found it, put back on every way out.
struct termios saved_mode;
volatile sig_atomic_t mode_changed = 0;

void restore_at_exit() { terminal_restore(); }

void restore_on_signal(int sig) {
    if (mode_changed) tcsetattr(STDIN_FILENO, TCSANOW, &saved_mode);
    // The handler was installed to run once; the signal now ends the program as it would have.
    std::raise(sig);
}
}  // namespace

CONSOLE con{stdin, stdout, run_clear, sleep_seconds};

void console_start() {}

void terminal_setup() {
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &saved_mode) != 0) return;
    struct termios keys = saved_mode;
    keys.c_lflag &= ~static_cast<tcflag_t>(ICANON);  // echo stays on
    keys.c_cc[VMIN] = 1;
    keys.c_cc[VTIME] = 0;

    struct sigaction action {};
    action.sa_handler = restore_on_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);
    std::atexit(restore_at_exit);

    if (tcsetattr(STDIN_FILENO, TCSANOW, &keys) == 0) mode_changed = 1;
}

void terminal_restore() {
    if (!mode_changed) return;
    tcsetattr(STDIN_FILENO, TCSANOW, &saved_mode);
    mode_changed = 0;
}

void PAUSE(double s) {
    std::fflush(con.out);
    con.wait(static_cast<long long>(s) * 1000);  // 1.5 seconds become 1
}

// The next byte of standard input, blanks and line ends included.
char read_raw_key() {
    std::fflush(con.out);
    int c = next_byte();
    if (c == EOF) leave_game();
    return static_cast<char>(c);
}

char inchar() { return read_raw_key(); }

// The next visible character: blanks, tabs and line ends are passed over.
char single_key() { return read_answer(); }

void drink_animation() {}

void leave_game() {
    std::fflush(con.out);
    terminal_restore();
    std::exit(0);
}
