// Plays whole games of the real marrowdeep program on generated input streams and checks that
// every one ends cleanly: status 0, within the time limit, and not a byte on standard error (so
// no sanitizer report in a sanitized build). Clears and pauses are replaced by marks, so a game
// takes a moment.
//
//   marrowdeep_fuzz                         2,000 streams, two at a time
//   marrowdeep_fuzz --streams 100000        a long run
//   marrowdeep_fuzz --first 1234 --streams 1   one stream again, by its number
//   marrowdeep_fuzz --replay FILE|DIR ...   saved streams (a directory: every file in it)
//   marrowdeep_fuzz --program A --same-as B each game played by both programs must give
//                                           the same bytes (a packaged program against a built one)
//   marrowdeep_fuzz --real-clock ...        the programs read the real clock instead of one
//                                           held still, so a seed answered y is the time's
//
// Streams come from a fixed family seed (--family) and their number, so a failure reproduces.
// A failing stream is also saved to a file, and the message says how to keep it as a
// regression test: every file in tests/fuzz/regressions is replayed by the test suite.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/play.h"
#include "fuzz/streams.h"

namespace {

namespace fs = std::filesystem;

struct Options {
    std::uint64_t family = 1;
    std::uint64_t first = 0;
    std::uint64_t streams = 2000;
    int jobs = 2;
    double timeout = 60.0;
    // A game writes a few MiB at most; far beyond that it is caught in a loop.
    std::uint64_t max_output = 256ull << 20;
    std::string program = MARROWDEEP_PROGRAM;
    std::string same_as;  // a second program that must write the very same bytes
    std::string save_dir = FUZZ_FAILURE_DIR;
    std::vector<std::string> replay;
    bool require_coverage = false;
    bool print = false;  // writes the streams out instead of playing them
    // Every game reads the same clock, held still, unless this is set: then a stream that
    // answers y to the seed question plays whatever game the second of its start gives.
    bool real_clock = false;
};

// Places of the game a stream reached, told by the text it printed there.
struct Mark {
    const char *name;
    const char *text;
    bool required;  // a full default run must reach it, or the streams have lost their way
};
constexpr std::array<Mark, 18> marks = {{
    {"map screen", "Marrowdeep RELEASE v2.3", true},
    {"fight", " , now is your turn!", true},
    {"charged attack", "Accumulated ", true},
    {"fight won", "YOU WIN!", true},
    {"fight lost", "YOU LOSE!\n<sleep 1>", true},
    {"both died", "YOU AND AI BOTH DIED!", false},
    {"level up", "Level UP to", true},
    {"loot offer", "Change ?", true},
    {"status screen", "Press 'd' for drugs", true},
    {"drug drunk", "gulugulugulugulu", true},
    {"scroll configuration", "Enter the scrolls you wish to use", true},
    {"scroll applied", "increased by", true},
    {"tier", "TIER LAYER: ", true},
    {"tier layer cleared", "ALL CLEARED!", true},
    {"refresh offered", "refresh the map at the cost", true},
    {"refresh death", "You died of refreshing", false},
    {"boss beaten", "YOU HAVE WON THE GAME", false},
    {"cheat boss", "NO HACK !!!", true},
}};

// What one worker reports back: fixed size, so one write carries it.
struct Tally {
    std::uint64_t runs = 0;
    std::uint64_t failures = 0;
    std::uint64_t bytes_in = 0;
    std::uint64_t bytes_out = 0;
    std::uint64_t most_output = 0;  // of one game
    std::uint64_t kinds[3] = {};
    std::uint64_t reached[marks.size()] = {};
    double slowest = 0;
    std::uint64_t slowest_item = 0;
};

// One input to play: a generated stream by number, or a saved file.
struct Item {
    std::uint64_t number = 0;
    std::string file;  // empty for a generated stream
};

std::string printable(const std::string &s) {
    std::string out;
    for (unsigned char c : s) {
        if (c == '\n' || (c >= 32 && c < 127)) {
            out.push_back(static_cast<char>(c));
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    return out;
}

std::string tail(const std::string &s, std::size_t n) { return s.size() <= n ? s : s.substr(s.size() - n); }

// Why a run failed, or nothing when it ended as a game must.
std::string fault(const Stream &stream, const Play &run, const Options &opt) {
    if (run.timed_out) return "did not end within " + std::to_string(static_cast<int>(opt.timeout)) + " s";
    if (run.runaway)
        return "wrote more than " + std::to_string(opt.max_output >> 20) + " MiB without ending (a loop?)";
    if (run.signal != 0) return "was killed by signal " + std::to_string(run.signal);
    if (run.exit_code == 99) return "AddressSanitizer report (status 99)";
    if (run.exit_code == 98) return "UndefinedBehaviorSanitizer report (status 98)";
    if (!run.exited || run.exit_code != 0) return "exited with status " + std::to_string(run.exit_code);
    if (run.errors.find("ERROR: AddressSanitizer") != std::string::npos ||
        run.errors.find("runtime error") != std::string::npos)
        return "sanitizer report on standard error";
    if (!run.errors.empty()) return "wrote to standard error";
    if (run.head.rfind("<clear>Please insert your name:", 0) != 0)
        return "did not start with a clear and the name question";
    if (stream.startup_end < stream.bytes.size() && !run.found[0])
        return "answered all start-up questions but never drew the map";
    return "";
}

void say_line(const std::string &s) {
    // One write per report, so two workers' reports do not mix.
    std::string line = s + "\n";
    std::size_t done = 0;
    while (done < line.size()) {
        ssize_t n = write(STDOUT_FILENO, line.data() + done, line.size() - done);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void report_failure(const Options &opt, const Item &item, const Stream &stream, const Play &run,
                    const std::string &why) {
    std::string saved = item.file;
    std::string again = "--replay " + item.file;
    std::string head = "FAIL " + item.file;
    if (item.file.empty()) {
        fs::create_directories(opt.save_dir);
        saved = opt.save_dir + "/stream-" + std::to_string(opt.family) + "-" + std::to_string(item.number) +
                ".bin";
        std::ofstream(saved, std::ios::binary)
            .write(stream.bytes.data(), static_cast<std::streamsize>(stream.bytes.size()));
        again = "--family " + std::to_string(opt.family) + " --first " + std::to_string(item.number) +
                " --streams 1";
        head = "FAIL stream " + std::to_string(item.number) + " of family " + std::to_string(opt.family);
    }
    std::string msg =
        head + " (" + stream.kind + ", " + std::to_string(stream.bytes.size()) + " bytes): " + why + "\n";
    msg += "  input saved to " + saved + "\n";
    msg += "  play it again:  marrowdeep_fuzz " + again + "   (or --replay " + saved + ")\n";
    if (item.file.empty())
        msg += "  keep it as a regression test:  cp " + saved + " " + FUZZ_REGRESSIONS_DIR + "/\n";
    msg += "  input starts: " + printable(stream.bytes.substr(0, 200)) + "\n";
    msg += "  output ends: " + printable(tail(run.tail, 600)) + "\n";
    if (!run.errors.empty()) msg += "  standard error:\n" + printable(run.errors.substr(0, 4000));
    say_line(msg);
}

Tally work(const Options &opt, const std::vector<Item> &items, int worker) {
    Tally t;
    std::vector<std::string> texts;
    for (const Mark &m : marks) texts.push_back(m.text);
    for (std::size_t i = static_cast<std::size_t>(worker); i < items.size();
         i += static_cast<std::size_t>(opt.jobs)) {
        const Item &item = items[i];
        Stream stream;
        if (item.file.empty()) {
            try {
                stream = make_stream(opt.family, item.number);
            } catch (const std::exception &e) {
                // The stream is made with the game's own maze code, which is then at fault.
                t.failures += 1;
                say_line("FAIL stream " + std::to_string(item.number) + " of family " +
                         std::to_string(opt.family) + ": could not be made: " + e.what());
                continue;
            }
        } else {
            stream.bytes = read_file(item.file);
            stream.kind = "saved";
        }
        const auto start = std::chrono::steady_clock::now();
        const Play run = play(opt.program, stream.bytes, opt.timeout, opt.max_output, texts, opt.real_clock);
        const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

        t.runs += 1;
        t.bytes_in += stream.bytes.size();
        t.bytes_out += run.output;
        t.most_output = std::max(t.most_output, run.output);
        if (stream.kind == "bytes") t.kinds[0] += 1;
        if (stream.kind == "shaped") t.kinds[1] += 1;
        if (stream.kind == "tour") t.kinds[2] += 1;
        for (std::size_t m = 0; m < marks.size(); ++m)
            if (run.found[m]) t.reached[m] += 1;
        if (took > t.slowest) {
            t.slowest = took;
            t.slowest_item = i;
        }
        std::string why = fault(stream, run, opt);
        if (why.empty() && !opt.same_as.empty()) {
            const Play other =
                play(opt.same_as, stream.bytes, opt.timeout, opt.max_output, texts, opt.real_clock);
            if (other.output != run.output || other.digest != run.digest || other.exit_code != run.exit_code)
                why = "wrote other bytes than " + opt.same_as + " (" + std::to_string(run.output) +
                      " against " + std::to_string(other.output) +
                      ", which ends: " + printable(tail(other.tail, 300)) + ")";
        }
        if (!why.empty()) {
            t.failures += 1;
            report_failure(opt, item, stream, run, why);
        }
    }
    return t;
}

// Runs the items on opt.jobs worker processes (one process each, so no two games ever share a
// forked pipe) and adds up what they report.
Tally run_all(const Options &opt, const std::vector<Item> &items) {
    std::vector<std::pair<pid_t, int>> workers;
    for (int w = 0; w < opt.jobs; ++w) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) {
            std::perror("pipe");
            std::exit(2);
        }
        const pid_t pid = fork();
        if (pid == 0) {
            close(fds[0]);
            const Tally t = work(opt, items, w);
            const char *data = reinterpret_cast<const char *>(&t);
            std::size_t done = 0;
            while (done < sizeof t) {
                ssize_t n = write(fds[1], data + done, sizeof t - done);
                if (n <= 0) _exit(3);
                done += static_cast<std::size_t>(n);
            }
            _exit(0);
        }
        close(fds[1]);
        workers.emplace_back(pid, fds[0]);
    }
    Tally total;
    for (auto [pid, fd] : workers) {
        Tally t;
        char *data = reinterpret_cast<char *>(&t);
        std::size_t done = 0;
        while (done < sizeof t) {
            ssize_t n = read(fd, data + done, sizeof t - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        close(fd);
        int status = 0;
        waitpid(pid, &status, 0);
        if (done != sizeof t || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            say_line("a worker process failed");
            std::exit(2);
        }
        total.runs += t.runs;
        total.failures += t.failures;
        total.bytes_in += t.bytes_in;
        total.bytes_out += t.bytes_out;
        total.most_output = std::max(total.most_output, t.most_output);
        for (int k = 0; k < 3; ++k) total.kinds[k] += t.kinds[k];
        for (std::size_t m = 0; m < marks.size(); ++m) total.reached[m] += t.reached[m];
        if (t.slowest > total.slowest) {
            total.slowest = t.slowest;
            total.slowest_item = t.slowest_item;
        }
    }
    return total;
}

[[noreturn]] void usage() {
    std::fprintf(stderr,
                 "usage: marrowdeep_fuzz [--streams N] [--first N] [--family N] [--jobs N] [--timeout S]\n"
                 "                       [--max-output MiB]\n"
                 "                       [--program PATH] [--same-as PATH] [--save-dir DIR]\n"
                 "                       [--require-coverage] [--real-clock]\n"
                 "                       [--replay FILE|DIR ...] [--print]\n"
                 "--print writes the input streams to standard output instead of playing them.\n");
    std::exit(2);
}

Options parse(int argc, char **argv) {
    Options opt;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) usage();
            return argv[++i];
        };
        if (a == "--streams")
            opt.streams = std::stoull(value());
        else if (a == "--first")
            opt.first = std::stoull(value());
        else if (a == "--family")
            opt.family = std::stoull(value());
        else if (a == "--jobs")
            opt.jobs = std::max(1, std::stoi(value()));
        else if (a == "--timeout")
            opt.timeout = std::stod(value());
        else if (a == "--max-output")
            opt.max_output = std::stoull(value()) << 20;
        else if (a == "--program")
            opt.program = value();
        else if (a == "--same-as")
            opt.same_as = value();
        else if (a == "--save-dir")
            opt.save_dir = value();
        else if (a == "--require-coverage")
            opt.require_coverage = true;
        else if (a == "--print")
            opt.print = true;
        else if (a == "--real-clock")
            opt.real_clock = true;
        else if (a == "--replay") {
            while (i + 1 < argc && std::strncmp(argv[i + 1], "--", 2) != 0) opt.replay.push_back(argv[++i]);
            if (opt.replay.empty()) usage();
        } else
            usage();
    }
    return opt;
}

}  // namespace

int main(int argc, char **argv) {
    const Options opt = parse(argc, argv);

    std::vector<Item> items;
    if (!opt.replay.empty()) {
        for (const std::string &path : opt.replay) {
            if (fs::is_directory(path)) {
                std::vector<std::string> files;
                for (const auto &entry : fs::directory_iterator(path))
                    if (entry.is_regular_file()) files.push_back(entry.path().string());
                std::sort(files.begin(), files.end());
                if (files.empty()) {
                    std::fprintf(stderr, "no streams in %s\n", path.c_str());
                    return 2;
                }
                for (auto &f : files) items.push_back({0, f});
            } else if (fs::is_regular_file(path)) {
                items.push_back({0, path});
            } else {
                std::fprintf(stderr, "no such stream: %s\n", path.c_str());
                return 2;
            }
        }
    } else {
        for (std::uint64_t n = 0; n < opt.streams; ++n) items.push_back({opt.first + n, ""});
    }

    if (opt.print) {
        for (const Item &item : items) {
            const std::string bytes =
                item.file.empty() ? make_stream(opt.family, item.number).bytes : read_file(item.file);
            std::fwrite(bytes.data(), 1, bytes.size(), stdout);
        }
        return 0;
    }

    const auto start = std::chrono::steady_clock::now();
    const Tally t = run_all(opt, items);
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    std::printf("%llu games of %s in %.1f s (%d at a time): %llu failed\n",
                static_cast<unsigned long long>(t.runs), opt.program.c_str(), took, opt.jobs,
                static_cast<unsigned long long>(t.failures));
    if (opt.replay.empty())
        std::printf("streams %llu to %llu of family %llu: %llu random bytes, %llu game-shaped, %llu tours\n",
                    static_cast<unsigned long long>(opt.first),
                    static_cast<unsigned long long>(opt.first + opt.streams - 1),
                    static_cast<unsigned long long>(opt.family), static_cast<unsigned long long>(t.kinds[0]),
                    static_cast<unsigned long long>(t.kinds[1]), static_cast<unsigned long long>(t.kinds[2]));
    const Item &slowest = items[std::min<std::size_t>(t.slowest_item, items.size() - 1)];
    std::printf(
        "input %.1f MiB, output %.1f MiB (at most %.1f MiB in one game), slowest game %.2f s (%s)\n",
        static_cast<double>(t.bytes_in) / 1048576.0, static_cast<double>(t.bytes_out) / 1048576.0,
        static_cast<double>(t.most_output) / 1048576.0, t.slowest,
        slowest.file.empty() ? ("stream " + std::to_string(slowest.number)).c_str() : slowest.file.c_str());
    std::printf("games that reached:\n");
    bool missing = false;
    for (std::size_t m = 0; m < marks.size(); ++m) {
        std::printf("  %-22s %llu\n", marks[m].name, static_cast<unsigned long long>(t.reached[m]));
        if (opt.require_coverage && marks[m].required && t.reached[m] == 0) {
            std::printf("    ^ no stream reached this: the streams no longer find their way there\n");
            missing = true;
        }
    }
    std::fflush(stdout);
    return t.failures == 0 && !missing && t.runs > 0 ? 0 : 1;
}
