// The Linux terminal: "clear" through the shell, pauses slept in whole seconds, keys from standard
// input with the terminal's own echo (console_terminal.cpp), and the terminal taken out of line
// mode after the name.
//
// The terminal is the player's, lent to the game only while the game is in its foreground. When
// the player stops the game (Ctrl-Z) the terminal gets its line mode back; when the game comes
// back to the foreground the keys arrive as typed again. The signals that end the game put the
// line mode back first.
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "console/console.h"

namespace {
void run_clear() {
    // The shell's own result does not matter: a failed clear leaves the screen as it is.
    if (std::system("clear") == -1) return;
}

// How long the game has stayed stopped in all, in nanoseconds, and how often it was continued.
// The stop and continue handlers count them.
std::atomic<long long> stopped_ns{0};
static_assert(std::atomic<long long>::is_always_lock_free, "a signal handler adds to it");
volatile sig_atomic_t continues = 0;

long long now_ns() {
    struct timespec t {};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

void sleep_seconds(long long ms) {
    if (ms < 1000) return;
    const long long pause_ns = ms / 1000 * 1000000000LL;
    const long long start = now_ns();
    const long long stopped_before = stopped_ns;
    const sig_atomic_t continues_before = continues;
    sleep(static_cast<unsigned>(ms / 1000));
    // A stop or a continue cuts the sleep short, and sleep() tells only the whole seconds left.
    // The time the game ran is measured instead, and the rest of the pause is slept now: the
    // time stopped does not count. Without them this was the one sleep of the pause.
    while (stopped_ns != stopped_before || continues != continues_before) {
        const long long left = pause_ns - (now_ns() - start - (stopped_ns - stopped_before));
        if (left <= 0) return;
        struct timespec rest {};
        rest.tv_sec = left / 1000000000LL;
        rest.tv_nsec = left % 1000000000LL;
        nanosleep(&rest, nullptr);
    }
}

// The terminal's mode as the game found it, and the game's own: keys as typed, echo on.
struct termios found_mode;
struct termios key_mode;
volatile sig_atomic_t keys_wanted = 0;  // the game wants its key mode (from the name to the end)
volatile sig_atomic_t keys_held = 0;    // the terminal holds the game's key mode

// Sets the terminal's mode, but only while the game is in the terminal's foreground: in the
// background the terminal belongs to the shell or to another job. SIGTTOU stays blocked meanwhile,
// so that a shell taking the terminal back at that moment can never stop the game here. Safe in
// a signal handler.
bool set_mode(const struct termios &mode) {
    sigset_t ttou, before;
    sigemptyset(&ttou);
    sigaddset(&ttou, SIGTTOU);
    sigprocmask(SIG_BLOCK, &ttou, &before);
    const bool done = tcgetpgrp(STDIN_FILENO) == getpgrp() && tcsetattr(STDIN_FILENO, TCSANOW, &mode) == 0;
    sigprocmask(SIG_SETMASK, &before, nullptr);
    return done;
}

// Puts the found mode back if the terminal holds the game's.
void give_back() {
    if (keys_held && set_mode(found_mode)) keys_held = 0;
}

void install(int sig, void (*handler)(int), int flags) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | flags;
    sigaction(sig, &action, nullptr);
}

void give_back_at_exit() {
    keys_wanted = 0;
    give_back();
}

// SIGINT, SIGTERM, SIGHUP, SIGQUIT and SIGPIPE: the terminal first, then the signal ends the
// program as it would have (the handler was installed to run once).
void restore_on_signal(int sig) {
    const int saved_errno = errno;
    give_back();
    std::raise(sig);
    errno = saved_errno;
}

// SIGTSTP: the terminal goes back to the shell in its line mode, then the game stops as it would
// have without the handler. It goes on from here when it is continued.
void stop_on_signal(int sig) {
    const int saved_errno = errno;
    const long long began = now_ns();
    give_back();
    install(sig, SIG_DFL, 0);
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, sig);
    sigprocmask(SIG_UNBLOCK, &stop, nullptr);
    std::raise(sig);
    // Continued: the next stop is handled the same way.
    stopped_ns += now_ns() - began;
    install(sig, stop_on_signal, 0);
    errno = saved_errno;
}

// SIGCONT: back in the foreground, the keys arrive as typed again. A game continued in the
// background leaves the terminal alone; its next read stops it, and the continue that brings it
// to the foreground sets the key mode then.
void resume_on_signal(int) {
    const int saved_errno = errno;
    continues = continues + 1;
    if (keys_wanted && set_mode(key_mode)) keys_held = 1;
    errno = saved_errno;
}

// Keys and answers from standard input, everything to standard output. They are set here rather
// than where the host is defined, so that the host is all constants: the hall's threads then
// reach theirs without a check for its first use.
void start_terminal() {
    host.in = stdin;
    host.out = stdout;
}

// Keys as they are typed from the name on, with the terminal's own echo, and the mode the
// terminal had when the game leaves. Only a terminal on standard input has a mode to set.
void lend_terminal(bool on) {
    if (!on) {
        keys_wanted = 0;
        give_back();
        return;
    }
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &found_mode) != 0) return;
    key_mode = found_mode;
    key_mode.c_lflag &= ~static_cast<tcflag_t>(ICANON);  // echo stays on
    key_mode.c_cc[VMIN] = 1;
    key_mode.c_cc[VTIME] = 0;

    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) install(sig, restore_on_signal, SA_RESETHAND);
    install(SIGTSTP, stop_on_signal, 0);
    install(SIGCONT, resume_on_signal, 0);
    std::atexit(give_back_at_exit);

    keys_wanted = 1;
    if (set_mode(key_mode)) keys_held = 1;
}

void exit_game() { std::exit(0); }
}  // namespace

long long clock_now() { return std::time(nullptr); }

constinit GAME_LOCAL HOST host{
    .in = nullptr,
    .out = nullptr,
    .start = start_terminal,
    .clear = run_clear,
    .wait = sleep_seconds,
    .key_mode = lend_terminal,
    .roll = &std::rand,
    .plant_seed = &std::srand,
    .clock = clock_now,
    .leave = exit_game,
};
