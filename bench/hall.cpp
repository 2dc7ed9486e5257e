// The hall's benchmark: not a test, run by hand (see doc/performance.md).
//
//   hall_bench [--db URL]   (default: sqlite: in a temporary folder)
//
// It fills the database with 100,000 runs (2,000 names over 10 seeds, five runs a name and
// seed; a tenth unfinished) and 100,000 more on the day's seed, all sent on one day (20,000
// names, each with an attempt played live and ranked, the rest practice), starts the real marrowdeep-hall on
// it with its clock held on that day, and times over HTTP on 127.0.0.1:
// - board reads: one seed's board and the board of every seed, 50 runs each, one client;
// - the day's board (/api/daily), 50 ranked runs and 50 practice runs, one client;
// - a player's page (/api/players/NAME) of one with 1,000 of the runs, its first 50 runs and
//   50 after its 500th, one client;
// - submissions of new runs (each played again by the hall) from 50 clients at once, against
//   /api/health requests from 50 clients at once in the same run;
// - the same submissions signed (each client's own Ed25519 key, the signature made before the
//   clock starts, so the hall's check of it is what is timed) against unsigned ones, by turns in
//   rounds of 500 each, each kind first, second and third in as many rounds, so the machine's
//   changes of pace fall on each alike: a name a client (signed: claimed by its first run), and
//   signed runs each claiming a new name; first with runs of a few keys (the check weighs most
//   against the shortest proof), then with runs as long as a real game (the web page's long
//   stored game's walk, on a maze of each run's own).
// A PostgreSQL database is emptied first: give it one of its own.
#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "hall/api.h"
#include "hall/store_link.h"
#include "tests/fuzz/streams.h"
#include "tests/hall/hall_process.h"
#include "tests/hall/player_key.h"

namespace {
using CLOCK = std::chrono::steady_clock;

// The hall's clock in the benchmark: 2026-12-08T14:05:09Z, and the start of that day.
constexpr long long bench_clock = 1796738709;
constexpr long long bench_day_start = 1796688000;

std::string temporary_folder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "marrowdeep-hall-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    return pattern;
}

double percentile(std::vector<double> times, double fraction) {
    std::sort(times.begin(), times.end());
    return times[static_cast<std::size_t>(fraction * static_cast<double>(times.size() - 1))];
}

void report(const char *what, const std::vector<double> &times) {
    std::printf("%-44s median %7.2f ms   95th percentile %7.2f ms   (%zu requests)\n", what,
                percentile(times, 0.5), percentile(times, 0.95), times.size());
}

void fill(const std::string &url) {
    bool sqlite = url.rfind("sqlite:", 0) == 0;
    std::string secret = open_store(url, 1)->secret(fresh_secret());  // the schema and the secret
    const long long day_seed = daily_seed(secret, utc_date(bench_clock));
    auto link = sqlite ? open_sqlite_link(url.substr(7)) : open_postgres_link(url);
    link->run("BEGIN", {});
    link->run("DELETE FROM best", {});
    link->run("DELETE FROM best_daily", {});
    link->run("DELETE FROM daily_first", {});
    link->run("DELETE FROM first_places", {});
    link->run("DELETE FROM name_claims", {});
    link->run("DELETE FROM runs", {});
    const char *endings =
        "CASE WHEN (i / 3) % 10 = 0 THEN 'unfinished' WHEN i % 7 = 0 THEN 'fell' ELSE 'quit' END";
    std::string columns =
        " (id, name, seed, clock, version, ending, level, experience, boss, keys, mode, submitted, link,"
        " play, daily, live) ";
    // The runs of every seed, then those of the day's seed, sent from its start on.
    // One player, "player", has 1,000 of them: 900 over 100 seeds of their own and the board's
    // ten, and 100 of the day's seed that day.
    const std::string seeds[] = {
        "CASE WHEN i % 100 = 50 AND i < 90000 THEN 1 + (i / 100) % 100 ELSE (i / 2000) % 10 + 1 END",
        std::to_string(day_seed)};
    const std::string names[] = {
        "CASE WHEN i % 100 = 50 AND i < 90000 THEN 'player' ELSE 'n' || (i % 2000) END",
        "CASE WHEN i % 1000 = 0 THEN 'player' ELSE 'd' || (i % 20000) END"};
    const std::string times[] = {"1796600000 + i", std::to_string(bench_day_start) + " + i % 50000"};
    // The day's runs are the day's (daily), and each name's first two were played live from
    // their first key, begun as they were sent: the first is the name's attempt, ranked on the
    // day's board when it counts, and the rest are its practice.
    const std::string days[] = {"NULL", std::to_string(bench_day_start / 86400)};
    const std::string lives[] = {
        "NULL", "CASE WHEN i < 40000 THEN (" + std::to_string(bench_day_start) + " + i % 50000) * 1000 END"};
    const char *prefixes[] = {"bench", "day"};
    for (int part = 0; part < 2; ++part) {
        std::string prefix = prefixes[part];
        if (sqlite)
            link->run(
                "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 99999) INSERT INTO "
                "runs" +
                    columns + "SELECT printf('" + prefix + "%06d', i), CAST(" + names[part] + " AS BLOB), " +
                    seeds[part] + ", 0, '" MARROWDEEP_VERSION "', " + endings +
                    ", 1 + (i * 7919) % 50, (i * 104729) % 100000, i % 13 = 0, 100 + i % 5000, 'plain', " +
                    times[part] + ", 'bench', printf('" + prefix + "-play%06d', i), " + days[part] + ", " +
                    lives[part] + " FROM n",
                {});
        else
            link->run("INSERT INTO runs" + columns + "SELECT '" + prefix +
                          "' || lpad(i::text, 6, '0'), convert_to(" + names[part] + ", 'UTF8'), " +
                          seeds[part] + ", 0, '" MARROWDEEP_VERSION "', " + endings +
                          ", 1 + (i * 7919) % 50, (i * 104729) % 100000, (i % 13 = 0)::int, 100 + i % 5000,"
                          " 'plain', " +
                          times[part] + ", 'bench', '" + prefix + "-play' || lpad(i::text, 6, '0'), " +
                          days[part] + ", " + lives[part] + " FROM generate_series(0::bigint, 99999) AS i",
                      {});
    }
    link->run(FILL_BEST_DAILY, {});
    // Each name's attempt at the day's seed: its live game begun first.
    link->run(
        "INSERT INTO daily_first (day, name, started, id, seq, ranked, boss, level, experience, keys, "
        "submitted)"
        " SELECT daily, name, live, id, seq, CASE WHEN mode = 'plain' AND ending IN ('quit', 'fell') THEN 1"
        " ELSE 0 END, boss, level, experience, keys, submitted FROM (SELECT daily, name, live, id, seq, mode,"
        " ending, boss, level, experience, keys, submitted, ROW_NUMBER() OVER (PARTITION BY daily, name"
        " ORDER BY live, id) AS attempt FROM runs WHERE daily IS NOT NULL AND live IS NOT NULL) AS lived"
        " WHERE attempt = 1",
        {});
    link->run(
        "INSERT INTO best (name, seed, seq, boss, level, experience, keys, submitted) SELECT name, seed, "
        "seq, boss,"
        " level, experience, keys, submitted FROM (SELECT name, seed, seq, boss, level, experience, keys, "
        "submitted,"
        " ROW_NUMBER() OVER (PARTITION BY name, seed ORDER BY boss DESC, level DESC, experience DESC, keys "
        "ASC,"
        " submitted ASC, seq ASC) AS place FROM runs WHERE mode = 'plain' AND ending IN ('quit', 'fell')) AS "
        "ranked"
        " WHERE place = 1",
        {});
    link->run("COMMIT", {});
    // PostgreSQL's autovacuum would mark the new rows visible in a while; done at once here, so
    // that reads from an index need not visit the rows, as in a hall that has run a while.
    link->run(sqlite ? "ANALYZE" : "VACUUM ANALYZE", {});
}

// The walk of the web page's long stored game (generated tour 244 of the fuzz driver), without
// its answers before the maze and without any key that quits: the keys of a real game's play.
std::string long_walk() {
    std::string tour;
    for (char c : make_stream(1, 244).bytes)
        if (c == '\n' || (c >= ' ' && c <= '~')) tour.push_back(c);
    std::string walk;
    for (char c : tour.substr(tour.find("\n1\n") + 3))
        if (c != 'q') walk.push_back(c);
    return walk;
}

// Each of `clients` threads sends its requests on a connection of its own; the times of all.
template <typename ASK>
std::vector<double> at_once(unsigned short port, int clients, int each, ASK ask) {
    std::vector<std::vector<double>> times(static_cast<std::size_t>(clients));
    std::vector<std::thread> threads;
    for (int client = 0; client < clients; ++client)
        threads.emplace_back([&, client] {
            HTTP_CONNECTION connection(port);
            for (int i = 0; i < each; ++i) {
                auto started = CLOCK::now();
                HTTP_ANSWER answer = ask(connection, client, i);
                if (answer.status != 200 && answer.status != 201)
                    std::fprintf(stderr, "answer %d: %s\n", answer.status, answer.body.c_str());
                times[static_cast<std::size_t>(client)].push_back(
                    std::chrono::duration<double, std::milli>(CLOCK::now() - started).count());
            }
        });
    for (auto &thread : threads) thread.join();
    std::vector<double> all;
    for (const auto &some : times) all.insert(all.end(), some.begin(), some.end());
    return all;
}
}  // namespace

int main(int argc, char **argv) {
    std::string folder, url;
    if (argc == 3 && std::string(argv[1]) == "--db") {
        url = argv[2];
    } else {
        folder = temporary_folder();
        url = "sqlite:" + folder + "/hall.db";
    }
    auto started = CLOCK::now();
    fill(url);
    std::printf("200,000 runs stored in %.1f s (%s)\n",
                std::chrono::duration<double>(CLOCK::now() - started).count(),
                url.substr(0, url.find(':')).c_str());
    {
        HALL_PROCESS hall({"--listen", "127.0.0.1:0", "--db", url, "--rate", "0"},
                          {{"MARROWDEEP_HALL_TEST_CLOCK", std::to_string(bench_clock)}});
        HTTP_CONNECTION reader(hall.port());
        std::vector<double> seed_board, every_board;
        for (int i = 0; i < 1000; ++i) {
            auto at = CLOCK::now();
            HTTP_ANSWER answer =
                reader.ask("GET", "/api/board?seed=" + std::to_string(i % 10 + 1) + "&limit=50");
            seed_board.push_back(std::chrono::duration<double, std::milli>(CLOCK::now() - at).count());
            if (answer.status != 200 || answer.body.size() < 1000)
                std::fprintf(stderr, "board: %d\n", answer.status);
            at = CLOCK::now();
            answer = reader.ask("GET", "/api/board?limit=50");
            every_board.push_back(std::chrono::duration<double, std::milli>(CLOCK::now() - at).count());
        }
        report("A seed's board, 50 runs", seed_board);
        report("The board of every seed, 50 runs", every_board);
        std::vector<double> day_board;
        for (int i = 0; i < 300; ++i) {
            auto at = CLOCK::now();
            HTTP_ANSWER answer = reader.ask("GET", "/api/daily?limit=50");
            day_board.push_back(std::chrono::duration<double, std::milli>(CLOCK::now() - at).count());
            // 50 ranked and 50 practice: each list holds its runs.
            if (answer.status != 200 || answer.body.find("\"runs\":[{") == std::string::npos ||
                answer.body.find("\"practice\":[{") == std::string::npos)
                std::fprintf(stderr, "the day's board: %d\n", answer.status);
        }
        report("The day's board, 50 ranked and 50 practice", day_board);
        // A player's page: the first 50 of their 1,000 runs, and a page of 50 further on.
        std::vector<double> player_first, player_later;
        std::string later_from;
        for (int i = 0; i < 1000; ++i) {
            auto at = CLOCK::now();
            HTTP_ANSWER answer = reader.ask("GET", "/api/players/player?limit=50");
            player_first.push_back(std::chrono::duration<double, std::milli>(CLOCK::now() - at).count());
            if (answer.status != 200 || answer.body.find("\"runs_kept\":1000,") == std::string::npos)
                std::fprintf(stderr, "the player's page: %d\n", answer.status);
            if (later_from.empty()) {
                // The 500th run's id, from the ids in the pages before it.
                std::string before;
                for (int page = 0; page < 10; ++page) {
                    HTTP_ANSWER part = reader.ask(
                        "GET", "/api/players/player?limit=50" + (before.empty() ? "" : "&before=" + before));
                    std::size_t next = part.body.rfind("\"next\":\"");
                    if (next == std::string::npos) break;
                    next += 8;
                    before = part.body.substr(next, part.body.find('"', next) - next);
                }
                later_from = before;
            }
            at = CLOCK::now();
            answer = reader.ask("GET", "/api/players/player?limit=50&before=" + later_from);
            player_later.push_back(std::chrono::duration<double, std::milli>(CLOCK::now() - at).count());
            if (answer.status != 200) std::fprintf(stderr, "the player's later page: %d\n", answer.status);
        }
        report("A player's page, 1,000 runs: the first 50", player_first);
        report("A player's page: 50 after the 500th", player_later);

        auto health = at_once(hall.port(), 50, 20,
                              [](HTTP_CONNECTION &c, int, int) { return c.ask("GET", "/api/health"); });
        auto submissions = at_once(hall.port(), 50, 20, [](HTTP_CONNECTION &c, int client, int i) {
            // Each on a seed of its own: no run is a copy of another's play.
            std::string name = "b" + std::to_string(client) + "-" + std::to_string(i);
            return c.ask("POST", "/api/runs",
                         write_run_link(RUN{name + "\nn\n" + std::to_string(client * 20 + i) + "\n1\nddssq",
                                            false, 0, MARROWDEEP_VERSION}));
        });
        report("/api/health, 50 clients at once", health);
        report("A new run submitted, 50 clients at once", submissions);
        std::printf("Submission at the 95th percentile: %.1f x a health request\n",
                    percentile(submissions, 0.95) / percentile(health, 0.95));

        // Signed against unsigned: every run on a seed of its own, all links and signatures made
        // before the rounds. Each client is a player who sends its runs under one name of its own
        // (signed, the first claims it); and apart, signed runs each under a new name, each one
        // claiming its name as a new player's first run does. Short runs first, then runs of a
        // real game's length.
        constexpr int clients = 50, each = 10, rounds = 6;
        enum KIND { plain, same_name, new_names };
        std::vector<PLAYER_KEY> keys(clients);
        const std::string walk = long_walk();
        struct SENT {
            std::string link, key, signature;
        };
        std::vector<double> times_of[2][3];
        for (int length = 0; length < 2; ++length) {
            const std::string play = length == 0 ? "ddss" : walk;
            auto runs_of = [&](int round, KIND kind) {
                std::vector<SENT> sent;
                for (int client = 0; client < clients; ++client)
                    for (int i = 0; i < each; ++i) {
                        const int number =
                            (((length * rounds + round) * 3 + kind) * clients + client) * each + i;
                        const std::string name = kind == plain       ? "u" + std::to_string(client)
                                                 : kind == same_name ? "s" + std::to_string(client)
                                                                     : "n" + std::to_string(number);
                        RUN run{name + "\nn\n" + std::to_string(100000 + number) + "\n1\n" + play + "q",
                                false, 0, MARROWDEEP_VERSION};
                        const PLAYER_KEY &key = keys[static_cast<std::size_t>(client)];
                        if (kind == plain)
                            sent.push_back({write_run_link(run), "", ""});
                        else
                            sent.push_back(
                                {write_run_link(run), key.key_text(), key.signature_text(run_id(run))});
                    }
                return sent;
            };
            for (int round = 0; round < rounds; ++round)
                for (int turn = 0; turn < 3; ++turn) {
                    // Each kind goes first, second and third in as many rounds: a pace that
                    // changes within a round falls on each alike.
                    const KIND kind = static_cast<KIND>((turn + round) % 3);
                    const std::vector<SENT> sent = runs_of(round, kind);
                    auto times =
                        at_once(hall.port(), clients, each, [&](HTTP_CONNECTION &c, int client, int i) {
                            const SENT &run = sent[static_cast<std::size_t>(client * each + i)];
                            if (run.key.empty()) return c.ask("POST", "/api/runs", run.link);
                            return c.ask(
                                "POST", "/api/runs", run.link,
                                {{"Marrowdeep-Key", run.key}, {"Marrowdeep-Signature", run.signature}});
                        });
                    times_of[length][kind].insert(times_of[length][kind].end(), times.begin(), times.end());
                }
        }
        {
            // One check of a signature alone, on this thread, for scale.
            const PLAYER_KEY &key = keys[0];
            RUN_SIGNATURE one{key.raw(), key.sign(signed_message("c0f8baedf1c39b178dedfbce70c19e20"))};
            constexpr int checks = 10000;
            int verified = 0;
            auto at = CLOCK::now();
            for (int i = 0; i < checks; ++i)
                verified += signature_verifies(one, "c0f8baedf1c39b178dedfbce70c19e20");
            std::printf("One signature verified: %.1f us (%d of %d verified)\n",
                        std::chrono::duration<double, std::micro>(CLOCK::now() - at).count() / checks,
                        verified, checks);
        }
        for (int length = 0; length < 2; ++length) {
            std::printf("Runs of %zu keys:\n",
                        length == 0 ? std::string("ddss").size() + 11 : walk.size() + 11);
            const std::vector<double> &plain_times = times_of[length][plain];
            report("Not signed, a name a client, 50 at once", plain_times);
            report("Signed, a name a client, 50 at once", times_of[length][same_name]);
            report("Signed, each run claiming a new name", times_of[length][new_names]);
            for (KIND kind : {same_name, new_names})
                std::printf("%s against not signed: median %.2f x, 95th percentile %.2f x\n",
                            kind == same_name ? "Signed, a name a client," : "Signed, claiming,",
                            percentile(times_of[length][kind], 0.5) / percentile(plain_times, 0.5),
                            percentile(times_of[length][kind], 0.95) / percentile(plain_times, 0.95));
        }
        hall.signal(SIGTERM);
        hall.wait_for_exit();
    }
    if (!folder.empty()) std::filesystem::remove_all(folder);
    return 0;
}
