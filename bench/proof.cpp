// How many runs the hall proves in a second: on one thread, then on as many threads as the machine
// has cores, each proving on its own.
//
// The run is the web page's long stored game: generated tour 244 of the fuzz driver, its q (which
// quits) left out after the start-up answers, over and over to 4,600 keys. The hero is VORTEX,
// whom no fight fells, so every key is played to the end and the game is left unfinished.
// Each round reads the run's link and proves it, on this one thread; the figure is the median
// round's, with the fastest and the slowest beside it, by the wall clock and by the thread's
// own processor time. Then each round starts that many threads at once, each proving the same
// number of runs, and the figure is the proofs of all of them over the round's wall-clock time,
// against N times the one thread's. A proof of a short quit is timed too, for scale.
//
//   proof [--rounds N] [--proofs N] [--threads N]
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "fuzz/streams.h"
#include "hall/proof.h"
#include "hall/run_link.h"

namespace {

using Clock = std::chrono::steady_clock;

// The processor time this thread has had, in seconds: on a machine busy with other work it
// tells what one core does, where the wall clock tells what was left of it.
double thread_seconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// The keys of a generated tour that a player can type.
std::string tour_keys(std::uint64_t number) {
    std::string keys;
    for (char c : make_stream(1, number).bytes)
        if (c == '\n' || (c >= ' ' && c <= '~')) keys.push_back(c);
    return keys;
}

std::string long_game() {
    const std::string tour = tour_keys(244);
    const std::string answers = tour.substr(0, tour.find("\n1\n") + 3);
    std::string walk;
    for (char c : tour.substr(answers.size()))
        if (c != 'q') walk.push_back(c);
    std::string keys = answers;
    while (keys.size() < 4600) keys += walk;
    return keys.substr(0, 4600);
}

}  // namespace

int main(int argc, char **argv) {
    int rounds = 7, proofs = 100;
    int threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--proofs") == 0) proofs = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--threads") == 0) threads = std::max(1, std::atoi(argv[i + 1]));
    }
    const std::string link = write_run_link(RUN{long_game(), false, 0, MARROWDEEP_VERSION});

    const RUN_READING first = read_run_link(link);
    const PROOF check = first.ok ? prove(first.run) : PROOF{};
    if (!check.ok || check.record.ending != "unfinished" || check.record.keys != 4600) {
        std::fprintf(stderr, "proof: the long game did not prove as a 4,600-key unfinished game: %s\n",
                     check.error.c_str());
        return 1;
    }
    std::printf("the run: %s, %s, level %d, %zu characters of link\n", check.record.name.c_str(),
                check.record.ending.c_str(), check.record.level, link.size());

    std::vector<double> per_second, per_core_second;
    for (int r = 0; r < rounds; ++r) {
        const auto start = Clock::now();
        const double cpu_start = thread_seconds();
        for (int p = 0; p < proofs; ++p) {
            const RUN_READING reading = read_run_link(link);
            if (!prove(reading.run).ok) return 1;
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        per_second.push_back(proofs / seconds);
        per_core_second.push_back(proofs / (thread_seconds() - cpu_start));
    }
    std::sort(per_second.begin(), per_second.end());
    std::sort(per_core_second.begin(), per_core_second.end());
    std::printf(
        "4,600-key game: %.0f proofs a second on one thread (median of %d rounds of %d; %.0f to %.0f)\n",
        per_second[per_second.size() / 2], rounds, proofs, per_second.front(), per_second.back());
    std::printf("                %.0f proofs a second of the thread's own processor time (%.0f to %.0f)\n",
                per_core_second[per_core_second.size() / 2], per_core_second.front(), per_core_second.back());

    // All the threads at once, each proving as the one thread did.
    std::vector<double> together;
    for (int r = 0; r < rounds; ++r) {
        bool failed = false;
        const auto start = Clock::now();
        std::vector<std::thread> provers;
        std::vector<char> ok(static_cast<std::size_t>(threads), 1);
        for (int t = 0; t < threads; ++t)
            provers.emplace_back([&, t] {
                for (int p = 0; p < proofs; ++p)
                    if (!prove(read_run_link(link).run).ok) ok[static_cast<std::size_t>(t)] = 0;
            });
        for (std::thread &prover : provers) prover.join();
        for (char good : ok) failed = failed || !good;
        if (failed) return 1;
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        together.push_back(threads * proofs / seconds);
    }
    std::sort(together.begin(), together.end());
    const double one = per_second[per_second.size() / 2], all = together[together.size() / 2];
    std::printf(
        "%d threads:      %.0f proofs a second (median of %d rounds; %.0f to %.0f): %.2f times one "
        "thread, %.2f of %d times\n",
        threads, all, rounds, together.front(), together.back(), all / one, all / one / threads, threads);

    const auto start = Clock::now();
    for (int p = 0; p < 1000; ++p)
        if (!prove(RUN{"hero\nn\n7\n1\nq", false, 0, MARROWDEEP_VERSION}).ok) return 1;
    std::printf("a game quit at once: %.1f us a proof\n",
                std::chrono::duration<double, std::micro>(Clock::now() - start).count() / 1000);
    return 0;
}
