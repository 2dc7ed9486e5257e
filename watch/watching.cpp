// Watching, in three steps. First the keys the hall sends at once (the game so far) are played
// with nothing drawn and no pauses, keeping only what the game wrote since its last clear: that
// is the whole screen as it stands. When the game asks for a key beyond them, the screen is
// drawn (a clear, then those bytes), and the game goes on as keys come, drawn as written, with
// its own pauses. Each key the game reads is echoed as the player's terminal echoed it: a line
// at a time until the name is read, then each key, control keys as ^X.
#include "watch/watching.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>

#include "console/console.h"
#include "game/game.h"
#include "hall/run_link.h"
#include "watch/hall_link.h"
#include "watch/listing.h"

using JSON = nlohmann::json;

namespace {
// ---------------------------------------------------------------------------------------------
// The watcher's terminal: keys are read as typed and not echoed (only q means anything), and
// the mode it had comes back on every way out, the signals that end the program included.
struct termios found_mode;
volatile sig_atomic_t mode_held = 0;

void give_back() {
    if (mode_held && tcsetattr(STDIN_FILENO, TCSANOW, &found_mode) == 0) mode_held = 0;
}

void restore_on_signal(int sig) {
    const int saved_errno = errno;
    give_back();
    std::raise(sig);
    errno = saved_errno;
}

void quiet_terminal() {
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &found_mode) != 0) return;
    struct termios quiet = found_mode;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    quiet.c_cc[VMIN] = 1;
    quiet.c_cc[VTIME] = 0;
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) {
        struct sigaction action {};
        action.sa_handler = restore_on_signal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART | SA_RESETHAND;
        sigaction(sig, &action, nullptr);
    }
    std::atexit(give_back);
    if (tcsetattr(STDIN_FILENO, TCSANOW, &quiet) == 0) mode_held = 1;
}

void write_all(int fd, const char *bytes, std::size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, bytes, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
}
void write_all(int fd, const std::string &bytes) { write_all(fd, bytes.data(), bytes.size()); }

// What the clear command writes on this terminal, the bytes the game's clear writes.
std::string clear_command_bytes() {
    std::string bytes;
    if (FILE *clear = popen("clear 2>/dev/null", "r")) {
        char part[256];
        std::size_t n;
        while ((n = std::fread(part, 1, sizeof part, clear)) > 0 && bytes.size() < 4096)
            bytes.append(part, n);
        pclose(clear);
    }
    return bytes;
}

// ---------------------------------------------------------------------------------------------
// The one watch of the process.
struct WATCH {
    WATCH_SOCKET socket;
    bool started = false;     // the hall's first message has come
    std::string keys;         // every key the hall has sent, in order
    std::size_t given = 0;    // those handed to the game
    bool catching_up = true;  // nothing drawn yet: the keys so far are played at once
    std::string screen;       // while catching up, what the game wrote since its last clear
    std::string clear_bytes;  // what a clear writes
    bool key_mode = false;    // the game takes keys one by one (from the name on)
    long long clock = 0;      // the second the game read, from the run's link
    bool ended = false;       // the game's end has come: `farewell` says it
    std::string farewell;
    bool gone = false;  // the hall went, or sent what it should not: `trouble` says why
    std::string trouble;
    bool keyboard_open = true;
};
WATCH *watching = nullptr;

// The screen as it stands, once caught up: a clear, then what the game wrote since its own.
void draw_caught_up() {
    if (!watching->catching_up) return;
    std::fflush(host.out);
    watching->catching_up = false;
    write_all(STDOUT_FILENO, watching->clear_bytes);
    write_all(STDOUT_FILENO, watching->screen);
    watching->screen.clear();
    watching->screen.shrink_to_fit();
}

// Leaves: the screen drawn, the sentence on a line of its own (to standard error for a
// failure), the terminal given back.
[[noreturn]] void leave(int status, const std::string &sentence) {
    if (!watching->started) {
        // Nothing of the game was shown: the sentence alone, as the program's other refusals.
        write_all(STDERR_FILENO, "marrowdeep-watch: " + sentence + "\n");
        std::_Exit(status);
    }
    draw_caught_up();
    std::fflush(host.out);
    if (!sentence.empty()) write_all(status == 0 ? STDOUT_FILENO : STDERR_FILENO, "\n" + sentence + "\n");
    give_back();
    // The socket's thread may be in a read: the process ends around it, without the
    // destructors it could be racing.
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
}

const char *ending_words(const std::string &ending) {
    if (ending == "quit") return "the player left the maze";
    if (ending == "fell") return "the hero fell";
    if (ending == "unfinished") return "the game stopped unfinished";
    return nullptr;
}

// The line that tells the end, from the record the hall sends.
std::string end_line(const JSON &record) {
    if (!record.is_object()) return "";
    const auto ending = record.find("ending");
    const auto level = record.find("level");
    const auto experience = record.find("experience");
    if (ending == record.end() || !ending->is_string() || !ending_words(ending->get<std::string>()) ||
        level == record.end() || !level->is_number_integer() || experience == record.end() ||
        !experience->is_number_integer())
        return "";
    std::string line = std::string("The game is over: ") + ending_words(ending->get<std::string>()) +
                       ", at level " + std::to_string(level->get<long long>()) + " with " +
                       std::to_string(experience->get<long long>()) + " experience.";
    if (const auto boss = record.find("boss");
        boss != record.end() && boss->is_boolean() && boss->get<bool>())
        line += " The boss was beaten.";
    return line;
}

// The first message: the run so far, as a link, and the game's listing.
void first_message(const JSON &message) {
    const auto run = message.find("run");
    if (run == message.end() || !run->is_string()) leave(1, "The hall's first message is not a game's run.");
    const RUN_READING reading = read_run_link(run->get<std::string>());
    if (!reading.ok) leave(1, "The hall sent a run this program cannot read: " + reading.error);
    if (reading.run.version != MARROWDEEP_VERSION)
        leave(1, "This game is played with Marrowdeep " + visible_text(reading.run.version, 40) +
                     ", and this program plays " MARROWDEEP_VERSION ": watch it on the hall's page.");
    watching->keys = reading.run.keys;
    watching->clock = reading.run.clock;
    watching->started = true;
}

void heard(HALL_EVENT &event) {
    WATCH &w = *watching;
    if (w.ended || w.gone) return;  // nothing after the end or the trouble counts
    switch (event.kind) {
        case HALL_EVENT::KEYS:
            if (!w.started) leave(1, "The hall sent keys before the game's run.");
            if (w.keys.size() + event.data.size() > MOST_RUN_KEYS)
                leave(1, "The hall sent more keys than a game can have.");
            w.keys += event.data;
            return;
        case HALL_EVENT::TEXT: {
            const JSON message = JSON::parse(event.data, nullptr, false);
            if (message.is_discarded() || !message.is_object())
                leave(1, "The hall sent a message that is not JSON.");
            if (!w.started) return first_message(message);
            if (message.contains("watchers")) return;
            if (const auto end = message.find("end"); end != message.end()) {
                const std::string line = end_line(*end);
                if (line.empty()) leave(1, "The hall sent a game's end without its record.");
                w.ended = true;
                w.farewell = line;
                return;
            }
            if (const auto stopped = message.find("stopped"); stopped != message.end() && *stopped == true) {
                w.ended = true;
                w.farewell = "The player has left.";
                return;
            }
            leave(1, "The hall sent a message a watcher does not know.");
        }
        case HALL_EVENT::CLOSED:
            if (!w.started && event.code == 4404)
                leave(1, "The hall has no such game: " + visible_text(event.data));
            if (!w.started)
                leave(1, "The hall closed the game (" + std::to_string(event.code) +
                             "): " + visible_text(event.data));
            w.gone = true;
            w.trouble = event.code == 1001 ? "The hall is stopping; watch again once it is back."
                                           : "The hall closed the game (" + std::to_string(event.code) +
                                                 "): " + visible_text(event.data);
            return;
        case HALL_EVENT::FAILED:
            if (!w.started) leave(1, event.data);
            w.gone = true;
            w.trouble = event.data;
            return;
    }
}

void take_news() {
    for (HALL_EVENT &event : watching->socket.take()) heard(event);
}

// Waits for the hall or the watcher's keyboard, at most `ms` (-1: for as long as it takes).
void wait_for_news(int ms) {
    struct pollfd wanted[2] = {{watching->socket.wake_fd(), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    const int n = poll(wanted, watching->keyboard_open ? 2 : 1, ms);
    if (n <= 0) return;
    if (watching->keyboard_open && (wanted[1].revents & (POLLIN | POLLHUP | POLLERR))) {
        char typed[64];
        const ssize_t got = read(STDIN_FILENO, typed, sizeof typed);
        if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) watching->keyboard_open = false;
        for (ssize_t i = 0; i < got; ++i)
            if (typed[i] == 'q' || typed[i] == 'Q') leave(0, "");
    }
    if (wanted[0].revents & POLLIN) take_news();
}

// ---------------------------------------------------------------------------------------------
// The game's host.

// A key's echo, as the terminal showed it: a line end as CR LF, a control key as ^X.
std::string echo_of(const std::string &keys) {
    std::string echo;
    for (char c : keys) {
        const auto b = static_cast<unsigned char>(c);
        if (b == '\n') {
            echo += "\r\n";
        } else if (b == 0x7f) {
            echo += "^?";
        } else if (b < 0x20 && b != '\t') {
            echo += '^';
            echo += static_cast<char>(b + 0x40);
        } else {
            echo += c;
        }
    }
    return echo;
}

// The game's keys: a whole line while the name is read, then one key a read.
ssize_t read_keys(void *, char *buffer, size_t size) {
    WATCH &w = *watching;
    for (;;) {
        std::size_t n = 0;
        if (w.given < w.keys.size()) {
            if (w.key_mode) {
                n = 1;
            } else if (const std::size_t end = w.keys.find('\n', w.given); end != std::string::npos) {
                n = end + 1 - w.given;
            }
        }
        if (n > 0) {
            n = std::min(n, size);
            const std::string taken = w.keys.substr(w.given, n);
            w.given += n;
            taken.copy(buffer, n);
            const std::string echo = echo_of(taken);
            std::fwrite(echo.data(), 1, echo.size(), host.out);
            return static_cast<ssize_t>(n);
        }
        // Nothing to hand over yet: whatever has come meanwhile, else the screen as it stands,
        // else the end, else a wait for the hall.
        const std::size_t had = w.keys.size();
        take_news();
        if (w.keys.size() != had) continue;
        draw_caught_up();
        if (w.ended) leave(0, w.farewell);
        if (w.gone) leave(1, w.trouble);
        std::fflush(host.out);
        wait_for_news(-1);
    }
}

ssize_t write_screen(void *, const char *bytes, size_t size) {
    if (watching->catching_up)
        watching->screen.append(bytes, size);
    else
        write_all(STDOUT_FILENO, bytes, size);
    return static_cast<ssize_t>(size);
}

void start_watch() {
    host.in = fopencookie(nullptr, "r", cookie_io_functions_t{read_keys, nullptr, nullptr, nullptr});
    host.out = fopencookie(nullptr, "w", cookie_io_functions_t{nullptr, write_screen, nullptr, nullptr});
    if (!host.in || !host.out) leave(1, "The game's console could not be opened.");
}

void clear_screen() {
    if (watching->catching_up)
        watching->screen.clear();
    else
        write_all(STDOUT_FILENO, watching->clear_bytes);
}

// A pause of whole seconds, as the Linux program's; none while catching up. The keyboard and the
// hall are looked at after each second, so q ends even a pause.
void pause_seconds(long long ms) {
    if (watching->catching_up) return;
    for (long long left = ms / 1000; left > 0; --left) {
        sleep(1);
        wait_for_news(0);
    }
}

void keys_as_typed(bool on) { watching->key_mode = on; }

long long run_clock() { return watching->clock; }

// The game has left (q, or a fight lost on the map): its end comes from the hall.
[[noreturn]] void game_left() {
    std::fflush(host.out);
    draw_caught_up();
    for (;;) {
        take_news();
        if (watching->ended) leave(0, watching->farewell);
        if (watching->gone) leave(1, watching->trouble);
        wait_for_news(-1);
    }
}
void game_left_host() { game_left(); }
}  // namespace

void watch_game(const HALL_ADDRESS &address) {
    static WATCH watch;
    watching = &watch;
    if (watch.socket.wake_fd() < 0) leave(1, "The program could not make a pipe.");
    watch.clear_bytes = clear_command_bytes();
    // The Linux program's host but for its keys, its screen and its clock, which the hall gives;
    // the draws are the Linux runtime library's generator written out, as in the hall, so that
    // nothing else in the process can take a draw of the game's.
    host = HOST{
        .in = nullptr,
        .out = nullptr,
        .start = start_watch,
        .clear = clear_screen,
        .wait = pause_seconds,
        .key_mode = keys_as_typed,
        .roll = &additive_rand,
        .plant_seed = &additive_srand,
        .clock = run_clock,
        .leave = game_left_host,
    };
    watch.socket.open(address);
    // The run so far, or the reason there is none.
    while (!watch.started) wait_for_news(-1);
    quiet_terminal();
    play_game();
    game_left();
}
