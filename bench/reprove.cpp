// How fast `marrowdeep-hall reprove` proves a hall's runs again: not a test, run by hand (see
// doc/performance.md).
//
//   reprove [--runs N] [--one-thread]   (default 100,000 runs, on every core only)
//
// It makes a SQLite database in a temporary folder of N real runs, the generated tours of the fuzz
// driver (each a whole game as a player types it, from its name to its end), each proved here on
// every core for its record and kept through the store a thousand a transaction, as the hall
// would have kept them. Then it runs the real program's reprove on it on every core (first on one
// thread too, with --one-thread), and gives each one's wall-clock time and runs a second; every
// record must come out the same.
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "fuzz/streams.h"
#include "hall/api.h"
#include "hall/store.h"

namespace {
using CLOCK = std::chrono::steady_clock;

// A generated tour's keys that a player can type.
std::string tour_keys(std::uint64_t number) {
    std::string keys;
    for (char c : make_stream(1, number).bytes)
        if (c == '\n' || (c >= ' ' && c <= '~')) keys.push_back(c);
    return keys;
}

// The run of tour `number` as the hall keeps it after proving it; an empty id when it does not
// prove.
KEPT_RUN kept_run(std::uint64_t number) {
    KEPT_RUN kept;
    // Only a run the hall would take: its link read back within the reader's limits.
    RUN_READING reading = read_run_link(write_run_link(RUN{tour_keys(number), false, 0, MARROWDEEP_VERSION}));
    if (!reading.ok) return kept;
    RUN run = reading.run;
    PROOF proof = prove(run);
    if (!proof.ok || proof.record.name.size() > MOST_NAME_BYTES) return kept;
    run.keys.resize(std::min(run.keys.size(), static_cast<std::size_t>(proof.record.keys)));
    kept.id = run_id(run);
    kept.play = play_id(run);
    kept.record = proof.record;
    kept.submitted = 1796738709;
    kept.link = write_run_link(run);
    return kept;
}

// The program's standard output and exit status, and its wall-clock seconds.
struct RAN {
    std::string output;
    int status = -1;
    double seconds = 0;
};
RAN run_program(const std::string &command) {
    RAN ran;
    auto started = CLOCK::now();
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) return ran;
    char chunk[4096];
    std::size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0) ran.output.append(chunk, got);
    int status = pclose(pipe);
    ran.seconds = std::chrono::duration<double>(CLOCK::now() - started).count();
    ran.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return ran;
}
}  // namespace

int main(int argc, char **argv) {
    long long runs = 100000;
    bool one_thread = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            runs = std::atoll(argv[++i]);
        else if (std::strcmp(argv[i], "--one-thread") == 0)
            one_thread = true;
        else
            runs = 0;
    }
    if (runs < 1) {
        std::fputs("usage: reprove [--runs N] [--one-thread]\n", stderr);
        return 2;
    }
    std::string folder = (std::filesystem::temp_directory_path() / "marrowdeep-reprove-XXXXXX").string();
    if (!mkdtemp(folder.data())) return 1;
    const std::string db = "sqlite:" + folder + "/hall.db";
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());

    auto started = CLOCK::now();
    // Tours are taken in order until N runs are kept: a tour the hall would refuse (its link too
    // long, or a name too long) or that plays a game kept already is left out.
    long long kept = 0, tours = 0;
    {
        auto store = open_store(db, 1);
        while (kept < runs) {
            const long long count = std::min(1000LL, runs - kept), from = tours;
            std::vector<KEPT_RUN> made(static_cast<std::size_t>(count));
            std::atomic<long long> next{0};
            std::vector<std::thread> threads;
            for (unsigned t = 0; t < cores; ++t)
                threads.emplace_back([&] {
                    for (long long at; (at = next++) < count;)
                        made[static_cast<std::size_t>(at)] = kept_run(static_cast<std::uint64_t>(from + at));
                });
            for (auto &thread : threads) thread.join();
            tours += count;
            std::vector<KEPT_RUN> proven;
            for (KEPT_RUN &run : made)
                if (!run.id.empty()) proven.push_back(std::move(run));
            kept += static_cast<long long>(store->add_all(proven));
        }
    }
    std::printf("%lld runs kept, of %lld tours, in %.1f s\n", kept, tours,
                std::chrono::duration<double>(CLOCK::now() - started).count());
    std::fflush(stdout);

    std::vector<unsigned> thread_counts{cores};
    if (one_thread && cores > 1) thread_counts.insert(thread_counts.begin(), 1u);
    for (unsigned threads : thread_counts) {
        RAN ran = run_program(std::string(MARROWDEEP_HALL_PROGRAM) + " reprove --db '" + db + "' --proofs " +
                              std::to_string(threads));
        const std::string expected =
            "marrowdeep-hall: reproved " + std::to_string(kept) + " runs: 0 differ\n";
        if (ran.status != 0 || ran.output != expected)
            std::fprintf(stderr, "reprove answered %d:\n%s", ran.status, ran.output.c_str());
        std::printf("reprove on %u thread%s: %.1f s, %.0f runs a second\n", threads, threads == 1 ? "" : "s",
                    ran.seconds, static_cast<double>(kept) / ran.seconds);
        std::fflush(stdout);
    }
    std::filesystem::remove_all(folder);
    return 0;
}
