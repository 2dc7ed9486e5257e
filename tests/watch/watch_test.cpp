// marrowdeep-watch in tmux, following a game that the test player plays on the real hall, key
// batch by key batch as the test says. Its screen must end as the Linux program's screen ends
// in a pane of the same size for the same keys, both for a watcher there from the start and for
// one that joins half-way and catches up; the end of the game is shown; and q, Ctrl-C and the
// hall's going each end the watcher with the terminal as it was. Both programs run with the marks
// library in its mode of real clears and pauses that pass at once, as in the Linux program's
// screen tests; every wait is for something seen (a pane, the hall's list), with a bound far
// above what a slow machine needs.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "support/run_game.h"
#include "terminal/tmux_pane.h"
#include "tests/hall/hall_process.h"

namespace {
const std::string map_legend = "wasd and q to exit";
constexpr double bound = 60.0;                 // seconds, for anything a pane should show
constexpr long long hall_second = 1796738709;  // the hall's clock, held still

std::string temporary_folder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "marrowdeep-watch-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    return pattern;
}

// The keys a player types: printable characters and Enter.
std::string typeable(const std::string &keys) {
    std::string kept;
    for (char c : keys)
        if (c == '\n' || (c >= ' ' && c <= '~')) kept += c;
    return kept;
}

std::string saved_game(const std::string &name) {
    std::ifstream file(std::string(FUZZ_REGRESSIONS_DIR) + "/" + name, std::ios::binary);
    return typeable({std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()});
}

// The fewest keys past `from` after which the game waits on a map it drew after a clear, with no
// pause since: what a terminal shows there does not hang on when each key was echoed.
std::size_t cut_at_map(const std::string &keys, std::size_t from) {
    for (std::size_t k = from; k < keys.size(); ++k) {
        const std::string out = run_game(keys.substr(0, k)).output;
        const std::size_t clear = out.rfind("<clear>");
        if (clear == std::string::npos) continue;
        const std::string screen = out.substr(clear);
        if (screen.find(map_legend) != std::string::npos && screen.find("<sleep") == std::string::npos)
            return k;
    }
    return 0;
}

// The environment of both programs: a clean one, and the marks library's real clears and pauses
// that pass at once, its clock held still. The sanitizers' build wants its runtime first among
// the libraries loaded; the marks library is safe ahead of it.
std::string marked(const std::string &command) {
    return "ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD=" + shell_quote(FAST_CONSOLE_LIBRARY) +
           " FAST_CONSOLE_REAL_CLEARS=1 FAST_CONSOLE_TIME=" + std::to_string(PINNED_CLOCK) + " " + command;
}

// A program alone in a pane; its exit status shows when it ends.
std::string in_pane(const std::string &command) {
    return "env -i PATH=/usr/bin:/bin TERM=screen " + marked(command) +
           "; echo \"[exit $?]\"; exec sleep 600";
}

std::string read_text_file(const std::string &path) {
    std::ifstream file(path);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// A terminal's mode as stty -g writes it, asked of the pane's terminal from outside.
std::string mode_of(const std::string &tty) {
    std::string out;
    run_command({"stty", "-F", tty, "-g"}, &out, 10.0);
    return out;
}

// The test player (tests/hall/live_player.cpp), fed its orders a line at a time.
class PLAYER {
  public:
    PLAYER(unsigned short port, const std::string &keys_file, std::size_t start) {
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
        const std::string hall = "127.0.0.1:" + std::to_string(port);
        const std::string first = std::to_string(start);
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            // The saved games type their seeds: their links hold no clock second.
            execl(LIVE_PLAYER_PROGRAM, LIVE_PLAYER_PROGRAM, hall.c_str(), keys_file.c_str(), "--start",
                  first.c_str(), static_cast<char *>(nullptr));
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        to_ = in[1];
        from_ = out[0];
        sent_ = start;
    }
    ~PLAYER() {
        close(to_);
        close(from_);
        kill(pid_, SIGKILL);
        int status;
        waitpid(pid_, &status, 0);
    }
    // One answer line; empty when none comes within the bound.
    std::string line() {
        const auto start = Clock::now();
        for (;;) {
            if (const std::size_t end = got_.find('\n'); end != std::string::npos) {
                std::string first = got_.substr(0, end);
                got_.erase(0, end + 1);
                return first;
            }
            struct pollfd wanted {
                from_, POLLIN, 0
            };
            if (seconds_since(start) > bound || poll(&wanted, 1, 100) < 0) return "";
            char part[4096];
            if (wanted.revents) {
                const ssize_t n = read(from_, part, sizeof part);
                if (n <= 0) return "";
                got_.append(part, static_cast<std::size_t>(n));
            }
        }
    }
    std::string order(const std::string &what) {
        const std::string text = what + "\n";
        if (write(to_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) return "";
        return line();
    }
    // Sends the keys up to `to` in batches of `batch`.
    void play_to(std::size_t to, std::size_t batch) {
        for (std::size_t at = sent_; at < to;) {
            at = std::min(to, at + batch);
            ASSERT_EQ(order(std::to_string(at)), "keys " + std::to_string(at));
        }
        sent_ = to;
    }

  private:
    pid_t pid_ = -1;
    int to_ = -1, from_ = -1;
    std::string got_;
    std::size_t sent_ = 0;
};

class WatchTest : public ::testing::Test {
  protected:
    void SetUp() override { folder = temporary_folder(); }
    void TearDown() override { std::filesystem::remove_all(folder); }
    std::unique_ptr<HALL_PROCESS> start_hall() {
        return std::make_unique<HALL_PROCESS>(
            std::vector<std::string>{"--listen", "127.0.0.1:0", "--db", "sqlite:" + folder + "/hall.db"},
            std::vector<std::pair<std::string, std::string>>{
                {"MARROWDEEP_HALL_TEST_CLOCK", std::to_string(hall_second)}});
    }
    std::string keys_file(const std::string &keys) {
        const std::string path = folder + "/game.keys";
        std::ofstream(path, std::ios::binary) << keys;
        return path;
    }
    // Waits until the hall lists the game with this many watchers.
    bool watched_by(unsigned short port, int watchers) {
        const std::string wanted = "\"watchers\":" + std::to_string(watchers) + ",";
        const auto start = Clock::now();
        while (seconds_since(start) < bound) {
            if (ask_once(port, "GET", "/api/live").body.find(wanted) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
        }
        return false;
    }
    std::string folder;
};

std::string watch_command(const std::string &address) {
    return shell_quote(MARROWDEEP_WATCH_PROGRAM) + " " + shell_quote(address);
}
}  // namespace

TEST(WatchProgram, AnswersHelpAndVersionAndRefusesWhatItCannotWatch) {
    const auto said = [](std::vector<std::string> arguments, int status) {
        arguments.insert(arguments.begin(), MARROWDEEP_WATCH_PROGRAM);
        std::string out;
        EXPECT_EQ(run_command(arguments, &out), status) << out;
        return out;
    };
    EXPECT_EQ(said({"--version"}, 0), "marrowdeep-watch " MARROWDEEP_VERSION "\n");
    EXPECT_EQ(said({"--help"}, 0).rfind("Usage: marrowdeep-watch [--help | --version] ADDRESS\n", 0), 0u);
    EXPECT_NE(said({"https://halls.example/watch.html?id=abc"}, 1).find("plain http:// and ws:// only"),
              std::string::npos);
    EXPECT_NE(said({"http://127.0.0.1:8080/board.html"}, 1).find("neither a hall nor a watch link"),
              std::string::npos);
    EXPECT_NE(said({"http://127.0.0.1:8080/watch.html?id=not-hex"}, 1).find("not one a hall gives"),
              std::string::npos);
    EXPECT_NE(said({"http://127.0.0.1:1/api/live/abc/watch"}, 1).find("cannot be reached"),
              std::string::npos);
}

TEST_F(WatchTest, FollowsAGameFromTheStartAndFromHalfWayToTheLinuxProgramsScreen) {
    const std::string keys = saved_game("refresh-until-death.bin");
    const std::size_t end = cut_at_map(keys, keys.size() * 2 / 3);
    ASSERT_GT(end, 0u) << "the saved game needs a map past two thirds of its keys";
    const std::size_t middle = cut_at_map(keys, keys.size() / 3) - 3;  // a few keys before a map
    auto hall = start_hall();
    const std::string origin = "http://127.0.0.1:" + std::to_string(hall->port());

    // The game begins with its first key, half of the name's line.
    PLAYER player(hall->port(), keys_file(keys), 1);
    const std::string started = player.line();
    ASSERT_EQ(started.rfind("id ", 0), 0u) << started;
    const std::string id = started.substr(3);

    // A watcher from the first key on, by the page's watch link.
    TmuxPane early;
    ASSERT_TRUE(early.start(in_pane(watch_command(origin + "/watch.html?id=" + id))));
    ASSERT_TRUE(watched_by(hall->port(), 1));
    ASSERT_TRUE(early.wait_for("Please insert your name:", bound)) << early.screen();
    player.play_to(middle, 40);

    // One that joins half-way, by the socket's own address.
    TmuxPane late;
    ASSERT_TRUE(late.start(in_pane(
        watch_command("ws://127.0.0.1:" + std::to_string(hall->port()) + "/api/live/" + id + "/watch"))));
    ASSERT_TRUE(watched_by(hall->port(), 2));
    player.play_to(end, 25);
    // And one that joins after the last key: its whole screen comes from catching up.
    TmuxPane last;
    ASSERT_TRUE(last.start(in_pane(watch_command(origin + "/watch.html?id=" + id))));
    ASSERT_TRUE(watched_by(hall->port(), 3));

    // The Linux program, fed the same keys at once (the screen at the cut is drawn after its
    // clear from keys all read before it).
    TmuxPane linux_program;
    ASSERT_TRUE(linux_program.start(in_pane(shell_quote(MARROWDEEP_PROGRAM))));
    ASSERT_TRUE(linux_program.wait_for("Please insert your name:", bound));
    std::string typed = keys.substr(0, end);
    for (char &c : typed)
        if (c == '\n') c = '\r';
    linux_program.type(typed);
    ASSERT_TRUE(linux_program.wait_for(map_legend, bound)) << linux_program.screen();
    std::string want;
    ASSERT_TRUE(linux_program.wait_until(
        [&](const std::string &) {
            const std::string now = linux_program.screen(true);
            const bool still = now == want;
            want = now;
            return still && now.find(map_legend) != std::string::npos;
        },
        bound));
    for (TmuxPane *watcher : {&early, &late, &last}) {
        EXPECT_TRUE(
            watcher->wait_until([&](const std::string &) { return watcher->screen(true) == want; }, bound))
            << "the watcher shows\n"
            << watcher->screen(true) << "\nthe Linux program\n"
            << want;
    }

    // The end: the record's line, and the watchers leave by themselves.
    const std::string answer = player.order("end");
    EXPECT_NE(answer.find("\"record\""), std::string::npos) << answer;
    for (TmuxPane *watcher : {&early, &late, &last}) {
        EXPECT_TRUE(watcher->wait_for("[exit 0]", bound)) << watcher->screen();
        EXPECT_NE(watcher->seen().find("The game is over: the game stopped unfinished, at level "),
                  std::string::npos)
            << watcher->seen();
    }
}

TEST_F(WatchTest, ListsTheHallsGamesAndQCtrlCAndTheHallGoneEachGiveTheTerminalBack) {
    const std::string keys = saved_game("refresh-until-death.bin");
    const std::size_t end = cut_at_map(keys, 20);
    ASSERT_GT(end, 0u);
    auto hall = start_hall();
    PLAYER player(hall->port(), keys_file(keys), end);
    const std::string started = player.line();
    ASSERT_EQ(started.rfind("id ", 0), 0u) << started;
    const std::string origin = "http://127.0.0.1:" + std::to_string(hall->port());
    const std::string link = origin + "/watch.html?id=" + started.substr(3);
    // A link of no live game: the hall's sentence, and status 1.
    std::string refused;
    EXPECT_EQ(
        run_command({MARROWDEEP_WATCH_PROGRAM, origin + "/watch.html?id=0123456789abcdef01234567"}, &refused),
        1);
    EXPECT_EQ(refused, "marrowdeep-watch: The hall has no such game: No live game has that id.\n");

    struct WATCHER {
        TmuxPane pane;
        std::string modes;
        std::string before;
    };
    std::vector<std::unique_ptr<WATCHER>> watchers;
    for (int i = 0; i < 3; ++i) {
        auto watcher = std::make_unique<WATCHER>();
        watcher->modes = folder + "/modes" + std::to_string(i);
        // Started from an interactive shell, as a player starts it, which Ctrl-C leaves alone;
        // the terminal's mode is written down before and after.
        ASSERT_TRUE(watcher->pane.start("env -i PATH=/usr/bin:/bin TERM=screen PS1='$ ' dash -i"));
        watcher->pane.type("stty -g > " + shell_quote(watcher->modes + ".before"));
        watcher->pane.press("Enter");
        if (i < 2) {
            watcher->pane.type(marked(watch_command(link)));
            watcher->pane.press("Enter");
        } else {
            // The last one by the hall's list of live games, choosing the one game there.
            watcher->pane.type(marked(watch_command(origin)));
            watcher->pane.press("Enter");
            ASSERT_TRUE(watcher->pane.wait_for("Which game? (a number, q to leave)", bound))
                << watcher->pane.screen();
            EXPECT_NE(watcher->pane.seen().find("  1. QZRV  seed 57818  keys " + std::to_string(end) +
                                                "  watchers 2  since 2026-12-08T14:05:09Z\n"),
                      std::string::npos)
                << watcher->pane.seen();
            watcher->pane.type("7");
            watcher->pane.press("Enter");
            ASSERT_TRUE(watcher->pane.wait_for("There is no game 7 in the list.", bound))
                << watcher->pane.screen();
            watcher->pane.type("1");
            watcher->pane.press("Enter");
        }
        // Caught up: the map, and the terminal's mode the watcher's own (no echo, keys as typed).
        ASSERT_TRUE(watcher->pane.wait_for(map_legend, bound)) << watcher->pane.screen();
        watcher->before = read_text_file(watcher->modes + ".before");
        ASSERT_FALSE(watcher->before.empty());
        const std::string tty = watcher->pane.pane_tty();
        ASSERT_TRUE(watcher->pane.wait_until(
            [&](const std::string &) { return mode_of(tty) != watcher->before; }, bound))
            << "the watcher keeps the terminal's mode";
        watchers.push_back(std::move(watcher));
    }
    ASSERT_TRUE(watched_by(hall->port(), 3));

    // The shell's prompt again, then its word on how the watcher ended, and the mode it left.
    const auto ended = [&](WATCHER &watcher, int status) {
        EXPECT_TRUE(watcher.pane.wait_until(
            [](const std::string &s) {
                const std::string rows = rtrim(s.substr(0, s.find_last_not_of('\n') + 1));
                return rows.size() >= 1 && rows.back() == '$';
            },
            bound))
            << watcher.pane.screen();
        watcher.pane.type("echo \"[exit $?]\"; stty -g > " + shell_quote(watcher.modes + ".after"));
        watcher.pane.press("Enter");
        EXPECT_TRUE(watcher.pane.wait_for("[exit " + std::to_string(status) + "]", bound))
            << watcher.pane.screen();
    };
    watchers[0]->pane.type("q");
    ended(*watchers[0], 0);
    watchers[1]->pane.press("C-c");
    ended(*watchers[1], 128 + SIGINT);
    ASSERT_TRUE(watched_by(hall->port(), 1));

    hall->signal(SIGKILL);
    ended(*watchers[2], 1);
    EXPECT_NE(watchers[2]->pane.screen().find("The hall has gone away"), std::string::npos)
        << watchers[2]->pane.screen();

    for (auto &watcher : watchers) {
        const std::string after = watcher->modes + ".after";
        ASSERT_TRUE(watcher->pane.wait_until(
            [&](const std::string &) { return !read_text_file(after).empty(); }, bound));
        EXPECT_EQ(read_text_file(after), watcher->before);
    }
}
