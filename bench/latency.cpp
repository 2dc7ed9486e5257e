// How quickly the Linux program answers, against what the terminal itself costs.
//
// Every key on the map clears the screen with the "clear" command and draws the map again, so a
// key can never be cheaper than one clear; the game should add next to nothing on top. Start-up
// clears twice and prints the prompts and the first map, so it can never be cheaper than a
// program that does just that. This benchmark measures, with the real clear command and no
// preloaded help:
//
//   - the cost of one map key (moves, walks into walls and plain redraws, over 2,000 keys and
//     more) as a ratio to a bare system("clear") timed in the same run;
//   - the time from start to the first map screen as a ratio to startup_baseline, a trivial
//     program that runs the same two clears and prints the same bytes;
//   - the peak resident memory of the game.
//
// The game's output goes to /dev/null with TERM set, so that "clear" really runs and writes its
// escape sequence; the clears timed alone do the same.
//
//   latency [--keys N] [--rounds N] [--startups N]
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "maze/maze.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Timed {
    double seconds = 0;
    long peak_kib = 0;  // the largest resident set of the process and the children it waited for
    int status = -1;
};

[[noreturn]] void fail(const std::string &why) {
    std::fprintf(stderr, "latency: %s\n", why.c_str());
    std::exit(2);
}

// Runs a program with standard input from a file (or /dev/null) and standard output to `out_fd`
// (or /dev/null when it is -1).
Timed run(const std::vector<std::string> &args, const std::string &input_file, int out_fd) {
    std::vector<char *> argv;
    for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    Timed t;
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int in = open(input_file.empty() ? "/dev/null" : input_file.c_str(), O_RDONLY);
        const int null = open("/dev/null", O_WRONLY);
        dup2(in, STDIN_FILENO);
        dup2(out_fd < 0 ? null : out_fd, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) fail("wait4 failed");
    t.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    t.peak_kib = usage.ru_maxrss;
    t.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (t.status != 0) fail(args[0] + " ended with status " + std::to_string(t.status));
    return t;
}

// Everything a program writes to standard output when run on an input file.
std::string capture(const std::vector<std::string> &args, const std::string &input_file) {
    char path[] = "/tmp/marrowdeep-latency-out-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) fail("no temporary file");
    run(args, input_file, fd);
    std::string out;
    char buffer[65536];
    lseek(fd, 0, SEEK_SET);
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
        out.append(buffer, static_cast<std::size_t>(n));
    close(fd);
    unlink(path);
    return out;
}

std::string write_temp(const std::string &dir, const std::string &name, const std::string &content) {
    const std::string path = dir + "/" + name;
    FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || std::fwrite(content.data(), 1, content.size(), f) != content.size())
        fail("cannot write " + path);
    std::fclose(f);
    return path;
}

// The bytes the clear command writes for this terminal type.
std::string clear_bytes() {
    FILE *p = popen("clear", "r");
    if (p == nullptr) fail("cannot run clear");
    std::string out;
    char buffer[256];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
    pclose(p);
    if (out.empty()) fail("clear wrote nothing: is TERM a real terminal type?");
    return out;
}

// `count` bare clears from this process, with standard output on /dev/null.
double time_clears(int count) {
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i)
        if (std::system("clear") != 0) fail("clear failed");
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    dup2(saved, STDOUT_FILENO);
    close(saved);
    close(null);
    return seconds;
}

std::size_t count_of(const std::string &text, const std::string &part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
        ++n;
    return n;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// A seed whose start square and one neighbour are bare floor: walking between the two never
// meets a tile, a fight or a pause. Returns the keys there and back, and a key into a wall.
struct Walk {
    unsigned seed = 0;
    char there = 0, back = 0, wall = 0;
};

Walk find_walk() {
    const char keys[4] = {'d', 'a', 's', 'w'};
    const char opposite[4] = {'a', 'd', 'w', 's'};
    const int step[4][2] = {{0, 1}, {0, -1}, {1, 0}, {-1, 0}};
    for (unsigned seed = 1; seed < 100000; ++seed) {
        reset_game_state();
        std::memset(maze, '#', sizeof maze);
        std::srand(seed);
        kruskal();
        if (maze[2][2] != ' ') continue;
        Walk w;
        w.seed = seed;
        for (int k = 0; k < 4; ++k) {
            const char square = maze[2 + step[k][0]][2 + step[k][1]];
            if (square == ' ' && w.there == 0) {
                w.there = keys[k];
                w.back = opposite[k];
            }
            if (square == '#' && w.wall == 0) w.wall = keys[k];
        }
        if (w.there != 0 && w.wall != 0) return w;
    }
    fail("no seed with a bare start");
}

}  // namespace

int main(int argc, char **argv) {
    int keys = 2400, rounds = 7, startups = 40;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--keys")
            keys = std::max(4, std::atoi(argv[i + 1]));
        else if (a == "--rounds")
            rounds = std::max(1, std::atoi(argv[i + 1]));
        else if (a == "--startups")
            startups = std::max(1, std::atoi(argv[i + 1]));
        else
            fail("usage: latency [--keys N] [--rounds N] [--startups N]");
    }
    const char *term = std::getenv("TERM");
    if (term == nullptr || std::string(term).empty() || std::string(term) == "dumb")
        setenv("TERM", "xterm", 1);
    term = std::getenv("TERM");

    const std::string game = MARROWDEEP_PROGRAM;
    const std::string baseline = BASELINE_PROGRAM;
    char dir_template[] = "/tmp/marrowdeep-latency-XXXXXX";
    if (mkdtemp(dir_template) == nullptr) fail("no temporary directory");
    const std::string dir = dir_template;

    // The inputs: start-up answers ending right at the first map, and the same with map keys.
    const Walk walk = find_walk();
    const std::string answers = "bench\nn\n" + std::to_string(walk.seed) + "\n1";
    std::string map_keys = "\n";  // the line end after the build answer is the first key
    const char cycle[4] = {walk.there, walk.back, walk.wall, 'x'};
    for (int i = 0; static_cast<int>(map_keys.size()) < keys; ++i) map_keys.push_back(cycle[i % 4]);
    const int key_count = static_cast<int>(map_keys.size());
    const std::string startup_input = write_temp(dir, "startup", answers);
    const std::string keys_input = write_temp(dir, "keys", answers + map_keys);

    // The game's start-up output: clear, the prompts, clear, the first map.
    const std::string clear = clear_bytes();
    const std::string first = capture({game}, startup_input);
    const std::size_t second_clear = first.find(clear, clear.size());
    if (first.rfind(clear, 0) != 0 || second_clear == std::string::npos ||
        first.find(clear, second_clear + clear.size()) != std::string::npos)
        fail("the game's start-up did not clear the screen exactly twice");
    const std::string prompts = first.substr(clear.size(), second_clear - clear.size());
    const std::string map = first.substr(second_clear + clear.size());
    if (map.find("Seed: " + std::to_string(walk.seed)) == std::string::npos)
        fail("no first map after start-up");
    if (capture({baseline, prompts, map}, "") != first)
        fail("the baseline does not print what the game prints");
    // The keys run: one clear per key, and nothing but the map.
    const std::string played = capture({game}, keys_input);
    if (count_of(played, clear) != 2 + static_cast<std::size_t>(key_count))
        fail("the keys run did not clear once per key");
    if (played.find("turn!") != std::string::npos || played.find("refresh the map") != std::string::npos ||
        played.find("You pick") != std::string::npos)
        fail("the keys run met a tile");

    std::printf("Marrowdeep latency (TERM=%s, output to /dev/null): seed %u, %d map keys, %d rounds\n", term,
                walk.seed, key_count, rounds);
    std::fflush(stdout);

    // Per key: the game with and without the keys, against the same number of bare clears,
    // interleaved so that a busy moment of the machine touches all three alike.
    std::vector<double> clear_cost, key_cost, ratio;
    long peak_kib = 0;
    for (int r = 0; r < rounds; ++r) {
        const double clears = time_clears(key_count) / key_count;
        const Timed with_keys = run({game}, keys_input, -1);
        const Timed without = run({game}, startup_input, -1);
        const double per_key = (with_keys.seconds - without.seconds) / key_count;
        clear_cost.push_back(clears);
        key_cost.push_back(per_key);
        ratio.push_back(per_key / clears);
        peak_kib = std::max({peak_kib, with_keys.peak_kib, without.peak_kib});
        std::printf("  round %d: clear %.3f ms, map key %.3f ms, ratio %.3f\n", r + 1, clears * 1e3,
                    per_key * 1e3, per_key / clears);
        std::fflush(stdout);
    }

    // Start-up: the game and the trivial program, taking turns.
    std::vector<double> game_start, base_start;
    for (int i = 0; i < startups; ++i) {
        const Timed b = run({baseline, prompts, map}, "", -1);
        const Timed gm = run({game}, startup_input, -1);
        base_start.push_back(b.seconds);
        game_start.push_back(gm.seconds);
        peak_kib = std::max(peak_kib, gm.peak_kib);
    }

    const double key_ratio = median(ratio);
    const double start_ratio = median(game_start) / median(base_start);
    const double peak_mib = static_cast<double>(peak_kib) / 1024.0;
    const bool key_ok = key_ratio <= 1.05, start_ok = start_ratio <= 1.10, memory_ok = peak_mib < 8.0;
    std::printf("bare clear:              %.3f ms (median)\n", median(clear_cost) * 1e3);
    std::printf("one map key:             %.3f ms (median) = %.3f x the clear   (target <= 1.05) %s\n",
                median(key_cost) * 1e3, key_ratio, key_ok ? "ok" : "OVER");
    std::printf(
        "start-up to first map:   %.3f ms against %.3f ms for the trivial program = %.3f x "
        "(target <= 1.10) %s\n",
        median(game_start) * 1e3, median(base_start) * 1e3, start_ratio, start_ok ? "ok" : "OVER");
    std::printf(
        "peak memory:             %.1f MiB (largest process of the game and its clears; "
        "target < 8) %s\n",
        peak_mib, memory_ok ? "ok" : "OVER");

    unlink(startup_input.c_str());
    unlink(keys_input.c_str());
    rmdir(dir.c_str());
    return key_ok && start_ok && memory_ok ? 0 : 1;
}
