// The Linux program takes the terminal out of line mode after the name (keys arrive as typed,
// echo stays on) and must leave it as it found it however it ends: q, a lost fight, death by
// the refresh cost, the end of input, a closed output pipe, and the signals that end a program
// from outside. Stopped with Ctrl-Z it hands the shell the terminal in line mode, and brought
// back with fg it takes its keys as typed again. Each case runs the program from an interactive
// dash in a tmux pane and then asks `stty -a` in the same pane; dash itself never touches the
// terminal's mode, so what stty shows is what the program left. The stop is also played under
// bash, which puts its own mode back when a job stops and so hides nothing there but shows
// whether the game takes its key mode back after fg. The cases with many fights' worth of pauses
// load the marks library, which turns the clear command and the pauses into short marks.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "console/console.h"
#include "terminal/game_model.h"
#include "terminal/screens.h"
#include "terminal/tmux_pane.h"

namespace {
const std::string program = MARROWDEEP_PROGRAM;
const std::string marks_library = FAST_CONSOLE_LIBRARY;
const long long seed = 42;

// What `stty -a` reported after the program, and the program's exit status as the shell saw it.
struct Afterwards {
    int status = -1;
    std::vector<std::string> modes;  // the words stty printed
    bool has(const std::string &word) const {
        return std::find(modes.begin(), modes.end(), word) != modes.end();
    }
};

// The hero of every game on the Linux build, and the maze for the seed, made in this process.
struct World {
    PLAYER hero;
    Grid grid;
};

World world(const std::string &name) {
    World w;
    w.hero = starting_hero(Runtime::glibc);
    w.hero.name = name;
    w.grid = generate_maze(Runtime::glibc, seed);
    return w;
}
// The square the hero stands on once the game is running (see start_game).
const Square first_square{2, 3};

// The process's state as /proc shows it (R, S, T for stopped, Z, ...), or 0 when it is gone.
char state_of(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    const std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t name_end = stat.rfind(')');  // the state follows the name in brackets
    return name_end != std::string::npos && name_end + 2 < stat.size() ? stat[name_end + 2] : 0;
}

// Waits at most `seconds` for the process's state to be `state`. Returns whether it was.
bool wait_for_state(pid_t pid, char state, double seconds) {
    const auto start = Clock::now();
    for (;;) {
        if (state_of(pid) == state) return true;
        if (seconds_since(start) > seconds) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// Whether the last rows with text on the screen are the map rows.
bool ends_with_map(const std::string &screen, const std::vector<std::string> &map) {
    auto rows = split_lines(screen);
    while (!rows.empty() && rows.back().empty()) rows.pop_back();
    if (rows.size() < map.size()) return false;
    return compare_rows(rows, rows.size() - map.size(), map).empty();
}

class TerminalRestored : public ::testing::Test {
  protected:
    void SetUp() override {
        char dir_template[] = "/tmp/marrowdeep-terminal-XXXXXX";
        ASSERT_NE(mkdtemp(dir_template), nullptr);
        dir_ = dir_template;
        ASSERT_TRUE(pane_.start("env -i PATH=/usr/bin:/bin TERM=screen HOME=/ PS1='$ ' " + shell()));
        wait_for_shell();
        tty_ = pane_.pane_tty();
        ASSERT_FALSE(tty_.empty());
        const auto mode = line_mode(tty_);
        ASSERT_TRUE(mode);
        ASSERT_TRUE(mode->canonical && mode->echo) << "the pane should start in line mode";
    }

    void TearDown() override { std::filesystem::remove_all(dir_); }

    // The interactive shell in the pane. It must read its lines in line mode, as dash does.
    virtual std::string shell() const { return "dash -i"; }

    std::string pid_file() const { return dir_ + "/pid"; }

    // The command that starts the program. Its process id lands in a file, for the signals.
    std::string launch_command(bool marks) {
        std::filesystem::remove(pid_file());
        std::string run = marks ? "env LD_PRELOAD=" + shell_quote(marks_library) + " " : "";
        run += shell_quote(program);
        return "sh -c 'echo $$ > " + pid_file() + "; exec " + run + "'";
    }

    // Starts the program from the shell.
    void launch(bool marks, const std::string &redirect = "") {
        pane_.type(launch_command(marks) + redirect);
        pane_.press("Enter");
    }

    pid_t program_pid() const {
        std::ifstream in(pid_file());
        pid_t pid = 0;
        in >> pid;
        return pid;
    }

    // Runs the program to its first map (name, seed 42, Strength) and takes one step right.
    // Once the step shows, the game has cleared and drawn the map and waits for a key, with no
    // clear command of its own still running.
    void start_game(const std::string &name, bool marks) {
        const World w = world(name);
        ASSERT_EQ(way(w.grid, {2, 2}, first_square, " "), "d");
        launch(marks);
        ASSERT_TRUE(pane_.wait_for("Please insert your name:", 10)) << pane_.screen();
        pane_.type(name);
        pane_.press("Enter");
        ASSERT_TRUE(pane_.wait_for("Random Seed?(y/n)", 10)) << pane_.screen();
        pane_.type("n");
        ASSERT_TRUE(pane_.wait_for("Input Seed:", 10)) << pane_.screen();
        pane_.type(std::to_string(seed));
        pane_.press("Enter");
        ASSERT_TRUE(pane_.wait_for("Strength(1)/Tactics(2)?", 10)) << pane_.screen();
        pane_.type("1");
        pane_.press("Enter");
        ASSERT_TRUE(pane_.wait_until(
            [&](const std::string &s) {
                return ends_with_map(s, map_rows(w.grid, {2, 2}));
            },
            10))
            << pane_.screen();
        pane_.type("d");
        ASSERT_TRUE(pane_.wait_until(
            [&](const std::string &s) { return ends_with_map(s, map_rows(w.grid, first_square)); }, 10))
            << pane_.screen();
        ASSERT_GT(program_pid(), 0);
        // While the game runs, keys arrive one by one and are still shown.
        const auto mode = line_mode(tty_);
        ASSERT_TRUE(mode);
        EXPECT_FALSE(mode->canonical);
        EXPECT_TRUE(mode->echo);
    }

    // Starts a game, walks to the nearest monster and strikes the first blow. Returns once the
    // blow shows, while the game pauses after it; `pressed` is when k was typed.
    void strike_first_blow(Clock::time_point &pressed) {
        const World w = world("HERO");
        const Square monster = nearest(w.grid, first_square, '&', " ");
        start_game("HERO", false);
        pane_.type(way(w.grid, first_square, monster, " "));
        ASSERT_TRUE(pane_.wait_for("HERO , now is your turn!", 10)) << pane_.screen();
        pressed = Clock::now();
        pane_.type("k");
        ASSERT_TRUE(pane_.wait_until(
            [](const std::string &s) {
                return s.find("HERO's damage is") != std::string::npos ||
                       s.find("MISS!") != std::string::npos;
            },
            10))
            << pane_.screen();
    }

    // Waits for the shell to be back, then asks it for the status and stty for the modes.
    Afterwards afterwards() {
        Afterwards after;
        pane_.type("echo \"[status $?]\"; stty -a; echo \"[end]\"");
        pane_.press("Enter");
        if (!pane_.wait_until([](const std::string &s) { return s.find("\n[end]") != std::string::npos; },
                              15)) {
            ADD_FAILURE() << "the shell did not answer:\n" << pane_.screen();
            return after;
        }
        const auto lines = split_lines(pane_.history());
        size_t at = lines.size();
        while (at > 0 && lines[at - 1].rfind("[status ", 0) != 0) --at;
        if (at == 0) {
            ADD_FAILURE() << "no status line";
            return after;
        }
        after.status = std::atoi(lines[at - 1].c_str() + 8);
        for (; at < lines.size() && lines[at] != "[end]"; ++at) {
            std::string words = lines[at];
            std::replace(words.begin(), words.end(), ';', ' ');
            std::istringstream in(words);
            for (std::string word; in >> word;) after.modes.push_back(word);
        }
        return after;
    }

    // The terminal is back in line mode with echo, seen by stty in the pane and from outside.
    void expect_restored(const Afterwards &after, int status) {
        EXPECT_EQ(after.status, status);
        EXPECT_TRUE(after.has("icanon")) << pane_.screen();
        EXPECT_FALSE(after.has("-icanon")) << pane_.screen();
        EXPECT_TRUE(after.has("echo")) << pane_.screen();
        EXPECT_FALSE(after.has("-echo")) << pane_.screen();
        const auto mode = line_mode(tty_);
        ASSERT_TRUE(mode);
        EXPECT_TRUE(mode->canonical);
        EXPECT_TRUE(mode->echo);
    }

    // Waits for the shell's prompt at the end of the screen.
    void wait_for_shell() {
        ASSERT_TRUE(pane_.wait_until(
            [](const std::string &s) {
                const auto rows = split_lines(s);
                auto last =
                    std::find_if(rows.rbegin(), rows.rend(), [](const std::string &r) { return !r.empty(); });
                return last != rows.rend() && last->back() == '$';
            },
            15))
            << pane_.screen();
    }

    TmuxPane pane_;
    std::string tty_;
    std::string dir_;
};

// The same under each shell a player may stop the game from.
class StoppedAndBack : public TerminalRestored, public ::testing::WithParamInterface<std::string> {
  protected:
    std::string shell() const override { return GetParam(); }
};

}  // namespace

TEST_F(TerminalRestored, AfterQuit) {
    start_game("HERO", false);
    pane_.type("q");
    wait_for_shell();
    expect_restored(afterwards(), 0);
}

TEST_F(TerminalRestored, AfterALostFight) {
    World w = world("HERO");
    const Square monster = nearest(w.grid, first_square, '&', " ");
    const std::string path = way(w.grid, first_square, monster, " ");
    ASSERT_FALSE(path.empty());
    start_game("HERO", true);
    pane_.type(path);
    ASSERT_TRUE(pane_.wait_for("HERO , now is your turn!", 10)) << pane_.screen();
    // Without a weapon the hero deals 1 a blow and falls long before the monster does.
    for (int round = 1; round < 200; ++round) {
        if (pane_.history().find("YOU LOSE!") != std::string::npos) break;
        pane_.type("k");
        ASSERT_TRUE(pane_.wait_until(
            [&](const std::string &) {
                const std::string all = pane_.history();
                return count_of(all, "HERO , now is your turn!") > static_cast<size_t>(round) ||
                       all.find("YOU LOSE!") != std::string::npos;
            },
            10))
            << pane_.screen();
    }
    ASSERT_NE(pane_.history().find("YOU LOSE!"), std::string::npos);
    wait_for_shell();
    expect_restored(afterwards(), 0);
}

TEST_F(TerminalRestored, AfterDeathByTheRefreshCost) {
    World w = world("HERO");
    // Walk to the refresh tile and accept, again and again, until the cost kills the hero. The
    // tiles are rolled anew each time, so the way is planned anew, supplies and all.
    std::string keys;
    Square at = first_square;
    bool dead = false;
    for (int trip = 0; trip < 20 && !dead; ++trip) {
        const std::string path = way(w.grid, at, {16, 2}, " *");
        ASSERT_FALSE(path.empty()) << "trip " << trip;
        for (char key : path) {
            keys += key;
            at = step(at, key);
            if (w.grid[at.row][at.col] == '*') {
                if (open_supplies(w.hero, 'n').asks) keys += 'n';
                w.grid[at.row][at.col] = ' ';
            }
        }
        keys += 'y';
        w.hero.real_hp -= 30;
        dead = w.hero.real_hp <= 0;
        if (!dead) {
            w.grid = refresh_tiles(w.grid);
            at = {2, 2};
        }
    }
    ASSERT_TRUE(dead);
    start_game("HERO", true);
    pane_.type(keys);
    ASSERT_TRUE(pane_.wait_until(
        [&](const std::string &) {
            return pane_.history().find("You died of refreshing your map.") != std::string::npos;
        },
        30))
        << pane_.screen();
    EXPECT_EQ(count_of(pane_.history(), "refresh the map at the cost of 30hp?(y/n)"), count_of(keys, "y"));
    wait_for_shell();
    expect_restored(afterwards(), 0);
}

TEST_F(TerminalRestored, AfterEndOfInputAtTheName) {
    launch(false);
    ASSERT_TRUE(pane_.wait_for("Please insert your name:", 10)) << pane_.screen();
    pane_.press("C-d");
    wait_for_shell();
    expect_restored(afterwards(), 0);
}

TEST_F(TerminalRestored, AfterEndOfInputRightAfterTheName) {
    // In line mode the first C-d hands over the name without a line end and the second ends
    // the input. The name is complete, so the game leaves line mode and then finds no more input.
    launch(false);
    ASSERT_TRUE(pane_.wait_for("Please insert your name:", 10)) << pane_.screen();
    pane_.type("HERO");
    pane_.press("C-d");
    pane_.press("C-d");
    ASSERT_TRUE(pane_.wait_for("Random Seed?(y/n)", 10)) << pane_.screen();
    wait_for_shell();
    expect_restored(afterwards(), 0);
}

TEST_F(TerminalRestored, AfterInterruptKey) {
    start_game("HERO", false);
    pane_.press("C-c");
    wait_for_shell();
    expect_restored(afterwards(), 128 + SIGINT);
}

TEST_F(TerminalRestored, AfterTerminateSignal) {
    start_game("HERO", false);
    ASSERT_EQ(kill(program_pid(), SIGTERM), 0);
    wait_for_shell();
    expect_restored(afterwards(), 128 + SIGTERM);
}

TEST_F(TerminalRestored, AfterHangupSignal) {
    start_game("HERO", false);
    ASSERT_EQ(kill(program_pid(), SIGHUP), 0);
    wait_for_shell();
    expect_restored(afterwards(), 128 + SIGHUP);
}

TEST_F(TerminalRestored, AfterTheQuitKey) {
    // Ctrl-\ ends the program with a core dump where the shell allows one; this one does not.
    pane_.type("ulimit -c 0");
    pane_.press("Enter");
    start_game("HERO", false);
    pane_.press("C-\\");
    wait_for_shell();
    expect_restored(afterwards(), 128 + SIGQUIT);
}

TEST_F(TerminalRestored, AfterABrokenPipe) {
    // The game's output goes through a reader that leaves once the seed question has come, when
    // the keys already arrive as typed; the game's next write then finds the pipe closed. The
    // reader says when it has let go of the pipe, and the game's status shows on the terminal.
    const std::string reader = "sh -c 'sed \"/Random Seed/q\"; exec <&-; echo \"[reader gone]\" >&2'";
    pane_.type("(" + launch_command(false) + "; echo \"[game $?]\" >&2) | " + reader);
    pane_.press("Enter");
    ASSERT_TRUE(pane_.wait_until([&](const std::string &) { return program_pid() > 0; }, 10))
        << pane_.screen();
    // The name question waits in the pipe for a whole line, so it does not show yet.
    pane_.type("HERO");
    pane_.press("Enter");
    ASSERT_TRUE(pane_.wait_for("Please insert your name:Random Seed?(y/n)", 10)) << pane_.screen();
    ASSERT_TRUE(pane_.wait_for("[reader gone]", 10)) << pane_.screen();
    const auto mode = line_mode(tty_);
    ASSERT_TRUE(mode);
    ASSERT_FALSE(mode->canonical) << "the game should have its keys as typed by now";
    pane_.type("n");  // the answer is taken at once, and "Input Seed:" has nowhere to go
    wait_for_shell();
    EXPECT_NE(pane_.history().find("[game " + std::to_string(128 + SIGPIPE) + "]"), std::string::npos)
        << pane_.screen();
    expect_restored(afterwards(), 0);
}

TEST_F(TerminalRestored, InTheMiddleOfAFightToo) {
    // A signal while the game pauses inside a fight.
    Clock::time_point pressed;
    ASSERT_NO_FATAL_FAILURE(strike_first_blow(pressed));
    ASSERT_EQ(kill(program_pid(), SIGTERM), 0);
    wait_for_shell();
    expect_restored(afterwards(), 128 + SIGTERM);
}

TEST_F(TerminalRestored, APauseCutByAStopIsSleptToItsEnd) {
    // Stopped in the two seconds after the hero's blow, the game sleeps what was left of them
    // once it goes on, and only then does the enemy act. The pause begins after k is typed and
    // the game is stopped by the time its state shows it, so before the stop it slept at most
    // the time from k to that sight, and after fg it must sleep at least the rest of the two
    // seconds. A stop seen two seconds or more after k may have come after the pause on a busy
    // machine; the case is then played again, three times at most.
    const double pause = 2.0;
    double before_stop = 0;
    for (int attempt = 1;; ++attempt) {
        Clock::time_point pressed;
        ASSERT_NO_FATAL_FAILURE(strike_first_blow(pressed));
        pane_.press("C-z");
        ASSERT_TRUE(wait_for_state(program_pid(), 'T', 10)) << "Ctrl-Z did not stop the game\n"
                                                            << pane_.screen();
        before_stop = seconds_since(pressed);
        wait_for_shell();
        if (before_stop < pause) break;
        ASSERT_LT(attempt, 3) << "three times the stop was seen only " << before_stop << " s after k";
        // This game ends before the next starts: the shell has it back in the foreground and
        // reaps it, and only then prompts again.
        const pid_t game = program_pid();
        pane_.type("fg");
        pane_.press("Enter");
        ASSERT_EQ(kill(game, SIGTERM), 0);
        ASSERT_TRUE(wait_for_state(game, 0, 10)) << "the stopped game did not end\n" << pane_.screen();
        wait_for_shell();
    }
    EXPECT_EQ(pane_.screen().find("AI , now is your turn!"), std::string::npos) << pane_.screen();
    const auto resumed = Clock::now();
    pane_.type("fg");
    pane_.press("Enter");
    ASSERT_TRUE(pane_.wait_for("AI , now is your turn!", 10)) << pane_.screen();
    EXPECT_GE(seconds_since(resumed), pause - before_stop) << "stopped " << before_stop << " s after k";
    ASSERT_EQ(kill(program_pid(), SIGTERM), 0);
    wait_for_shell();
    expect_restored(afterwards(), 128 + SIGTERM);
}

TEST_F(TerminalRestored, StttySeesATerminalLeftOutOfLineMode) {
    // The check itself: a program killed outright cannot put the mode back, and stty says so.
    start_game("HERO", false);
    ASSERT_EQ(kill(program_pid(), SIGKILL), 0);
    wait_for_shell();
    const Afterwards after = afterwards();
    EXPECT_EQ(after.status, 128 + SIGKILL);
    EXPECT_TRUE(after.has("-icanon")) << pane_.screen();
    EXPECT_TRUE(after.has("echo")) << pane_.screen();
    const auto mode = line_mode(tty_);
    ASSERT_TRUE(mode);
    EXPECT_FALSE(mode->canonical);
}

TEST_F(TerminalRestored, WhenInputIsNotATerminal) {
    // Keys from a pipe: the game plays them and never touches the terminal.
    World w = world("HERO");
    pane_.type("printf 'HERO\\nn\\n42\\n1\\ndq' | " + shell_quote(program));
    pane_.press("Enter");
    ASSERT_TRUE(pane_.wait_for("Seed: 42", 10)) << pane_.screen();
    wait_for_shell();
    EXPECT_EQ(compare_rows(pane_.rows(), 9, map_rows(w.grid, {2, 3})), "") << pane_.screen();
    expect_restored(afterwards(), 0);

    // No input at all: the game ends at the name question.
    pane_.type("clear; " + shell_quote(program) + " < /dev/null");
    pane_.press("Enter");
    ASSERT_TRUE(pane_.wait_for("Please insert your name:$", 10)) << pane_.screen();
    expect_restored(afterwards(), 0);
}

TEST_P(StoppedAndBack, CtrlZHandsTheShellLineModeAndFgTakesTheKeysBack) {
    const World w = world("HERO");
    const Square next = step(first_square, 'd');
    ASSERT_EQ(w.grid[next.row][next.col], ' ');
    start_game("HERO", false);
    pane_.press("C-z");
    wait_for_shell();
    expect_restored(afterwards(), 128 + SIGTSTP);

    pane_.type("fg");
    pane_.press("Enter");
    // One d, no Enter: the hero steps at once.
    pane_.type("d");
    ASSERT_TRUE(
        pane_.wait_until([&](const std::string &s) { return ends_with_map(s, map_rows(w.grid, next)); }, 10))
        << pane_.screen();
    const auto mode = line_mode(tty_);
    ASSERT_TRUE(mode);
    EXPECT_FALSE(mode->canonical);
    EXPECT_TRUE(mode->echo);

    pane_.type("q");
    wait_for_shell();
    expect_restored(afterwards(), 0);
}

// bash without line editing reads its commands in line mode, as dash does, so the pane's mode
// seen from outside at its prompt is the shell's.
INSTANTIATE_TEST_SUITE_P(Shells, StoppedAndBack,
                         ::testing::Values("dash -i", "bash --norc --noprofile --noediting -i"),
                         [](const ::testing::TestParamInfo<std::string> &shell) {
                             return shell.param.substr(0, shell.param.find(' '));
                         });
