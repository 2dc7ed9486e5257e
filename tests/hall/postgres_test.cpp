// The hall on PostgreSQL: a server of the test's own (a private cluster in a temporary folder,
// on a free port of 127.0.0.1, run as an ordinary user when the tests run as root): the same
// answers as on SQLite, the database stopped under load and started again, two halls on one
// database taking a thousand runs from twenty clients, and a live game played on one hall and
// watched on the other.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>

#include "hall/store_link.h"
#include "tests/hall/hall_fixture.h"
#include "tests/hall/hall_process.h"
#include "tests/hall/live_socket.h"
#include "tests/hall/live_store_check.h"
#include "tests/hall/player_key.h"

namespace {
const char *const quick_keys = "hero\nn\n42\n1\nq";
const std::string quick_record =
    "{\"id\":\"c0f8baedf1c39b178dedfbce70c19e20\",\"name\":\"hero\",\"seed\":42,\"clock\":false,"
    "\"version\":\"" MARROWDEEP_VERSION
    "\",\"ending\":\"quit\",\"level\":1,\"experience\":0,\"boss\":false,\"keys\":13,"
    "\"mode\":\"plain\",\"submitted\":\"2026-12-08T14:05:09Z\",\"signed\":false}";
// The same on a board, or a player's list: with the address of its player's page.
const std::string quick_listed = quick_record.substr(0, quick_record.size() - 1) + ",\"player\":\"hero\"}";
const std::string unreachable =
    "{\"error\":\"The hall cannot reach its database just now; try again soon.\"}";

std::string link_of(const std::string &keys) {
    return write_run_link(RUN{keys, false, 0, MARROWDEEP_VERSION});
}
std::string keys_of(const std::string &name, int seed) {
    return name + "\nn\n" + std::to_string(seed) + "\n1\nq";
}

unsigned short free_port() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

class PostgresTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder = temporary_folder();
        // PostgreSQL will not run as root: then the cluster belongs to nobody.
        if (geteuid() == 0) {
            as_user = "runuser -u nobody -- ";
            ASSERT_EQ(std::system(("chown nobody '" + folder + "'").c_str()), 0);
        }
        port = free_port();
        ASSERT_EQ(pg("initdb -D '" + folder + "/data' -U hall --auth=trust --no-sync -E UTF8 --locale=C > '" +
                     folder + "/initdb.log' 2>&1"),
                  0)
            << log("initdb.log");
        ASSERT_TRUE(start_database());
        uri = "postgresql://hall@127.0.0.1:" + std::to_string(port) + "/postgres";
    }
    void TearDown() override {
        pg("pg_ctl -D '" + folder + "/data' -m immediate -w stop > /dev/null 2>&1");
        std::filesystem::remove_all(folder);
    }

    int pg(const std::string &command) {
        return std::system(("cd '" + folder + "' && " + as_user + POSTGRES_BIN "/" + command).c_str());
    }
    std::string log(const std::string &name) {
        std::string text, line;
        std::ifstream in(folder + "/" + name);
        while (std::getline(in, line)) text += line + "\n";
        return text;
    }
    // fsync off: the test's cluster need not outlive the machine.
    bool start_database() {
        return pg("pg_ctl -D '" + folder + "/data' -l '" + folder + "/postgres.log' -t 60 -w -o '-p " +
                  std::to_string(port) + " -k " + folder +
                  " -c listen_addresses=127.0.0.1 -F' start > /dev/null") == 0;
    }
    bool stop_database() {
        return pg("pg_ctl -D '" + folder + "/data' -m fast -t 60 -w stop > /dev/null") == 0;
    }

    std::unique_ptr<HALL_PROCESS> start_hall(
        std::vector<std::string> more = {},
        std::vector<std::pair<std::string, std::string>> environment = {}) {
        std::vector<std::string> arguments{"--listen", "127.0.0.1:0", "--db", uri};
        arguments.insert(arguments.end(), more.begin(), more.end());
        environment.emplace_back("MARROWDEEP_HALL_TEST_CLOCK", std::to_string(PINNED_SECONDS));
        return std::make_unique<HALL_PROCESS>(arguments, environment);
    }
    // A hall's list of live games, asked until it holds `until`; the last one asked when the
    // bound passes.
    std::string live_listing(unsigned short hall_port, const std::string &until) {
        const auto bound = std::chrono::steady_clock::now() + GENEROUS_WAIT;
        for (;;) {
            HTTP_ANSWER answer = ask_once(hall_port, "GET", "/api/live");
            if (answer.body.find(until) != std::string::npos || std::chrono::steady_clock::now() > bound)
                return answer.body;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    std::string folder, as_user, uri;
    unsigned short port = 0;
};
}  // namespace

TEST_F(PostgresTest, TheSameAnswersAsOnSqlite) {
    auto hall = start_hall();
    HTTP_CONNECTION connection(hall->port());
    HTTP_ANSWER created = connection.ask("POST", "/api/runs", link_of(quick_keys));
    EXPECT_EQ(created.status, 201);
    EXPECT_EQ(created.body, quick_record);
    HTTP_ANSWER again = connection.ask("POST", "/api/runs", link_of(quick_keys));
    EXPECT_EQ(again.status, 200);
    EXPECT_EQ(again.body, quick_record);
    HTTP_ANSWER read = connection.ask("GET", "/api/runs/c0f8baedf1c39b178dedfbce70c19e20");
    EXPECT_EQ(read.body, quick_record.substr(0, quick_record.size() - 1) + ",\"run\":\"" +
                             link_of(quick_keys) + "\",\"player\":\"hero\"}");
    EXPECT_EQ(connection.ask("GET", "/api/board?seed=42").body,
              "{\"seed\":42,\"runs\":[" + quick_listed + "]}");
    EXPECT_EQ(connection.ask("GET", "/api/runs/0000").status, 404);
    // The player's page: the same SQL, on PostgreSQL's types.
    const std::string quick_placed = quick_listed.substr(0, quick_listed.size() - 1) + ",\"place\":1}";
    EXPECT_EQ(connection.ask("GET", "/api/players/hero?limit=1").body,
              "{\"name\":\"hero\",\"player\":\"hero\",\"claimed\":false,\"key\":null,\"runs_kept\":1,"
              "\"bosses\":0,\"best_level\":1,\"runs\":[" +
                  quick_listed + "],\"next\":null,\"bests\":[" + quick_placed + "],\"days\":[]}");

    // A name's bytes go into bytea and come back as they were, shown visibly.
    // (On seed 43: on 42 it would play hero's game, a copy.)
    HTTP_ANSWER odd = connection.ask("POST", "/api/runs", link_of(keys_of("\x1b[1m\x7f\xff", 43)));
    EXPECT_EQ(odd.status, 201);
    EXPECT_EQ(nlohmann::json::parse(odd.body)["name"], "^[[1m^?\\xFF");

    // The day's seed comes from the secret kept in the database: a second hall says the same.
    auto day = nlohmann::json::parse(connection.ask("GET", "/api/daily").body);
    EXPECT_EQ(day["date"], "2026-12-08");
    auto second = start_hall();
    EXPECT_EQ(nlohmann::json::parse(ask_once(second->port(), "GET", "/api/daily").body)["seed"], day["seed"]);

    // The boards' order and one run a name and seed, as on SQLite.
    auto store = open_store(uri, 2);
    auto crafted = [](const std::string &id, const std::string &name, bool boss, int level, long long keys,
                      long long at) {
        return KEPT_RUN{id, RECORD{name, 7, false, MARROWDEEP_VERSION, "quit", level, 0, boss, keys, "plain"},
                        at, "-",
                        "", ""};
    };
    KEPT_RUN kept;
    for (const KEPT_RUN &run :
         {crafted("h1", "hero", false, 3, 10, 1), crafted("h2", "hero", false, 4, 10, 2),
          crafted("h3", "hero", false, 2, 10, 3), crafted("b1", "boss", true, 1, 10, 4),
          crafted("k1", "more", false, 4, 11, 0), crafted("t1", "twin", false, 4, 10, 2)})
        EXPECT_EQ(store->add(run, kept), ADDED::fresh);
    BOARD_QUERY seven;
    seven.has_seed = true;
    seven.seed = 7;
    std::vector<std::string> ids;
    for (const KEPT_RUN &run : store->board(seven)) ids.push_back(run.id);
    EXPECT_EQ(ids, (std::vector<std::string>{"b1", "h2", "t1", "k1"}));
    EXPECT_EQ(store->count(), 8);

    // The live games' tables, as on SQLite.
    check_live_store(*store);

    // A run of a play kept already, under another id, is a copy of the first, and not kept.
    KEPT_RUN first = crafted("p1", "first", false, 1, 10, 5),
             other = crafted("p2", "second", false, 9, 10, 6);
    first.play = other.play = "play-1";
    EXPECT_EQ(store->add(first, kept), ADDED::fresh);
    EXPECT_EQ(store->add(first, kept), ADDED::same);
    EXPECT_EQ(store->add(other, kept), ADDED::copy);
    EXPECT_EQ(kept.id, "p1");
    EXPECT_EQ(kept.record.name, "first");
    EXPECT_EQ(kept.submitted, 5);
    // Six runs of one play at once, on connections of their own: one kept.
    auto wide = open_store(uri, 6);
    std::vector<ADDED> results(6);
    std::vector<std::thread> adders;
    for (std::size_t i = 0; i < results.size(); ++i)
        adders.emplace_back([&, i] {
            KEPT_RUN run = crafted("m" + std::to_string(i), "many", false, 1, 10, 7), found;
            run.play = "play-many";
            results[i] = wide->add(run, found);
        });
    for (auto &adder : adders) adder.join();
    EXPECT_EQ(std::count(results.begin(), results.end(), ADDED::fresh), 1);
    EXPECT_EQ(std::count(results.begin(), results.end(), ADDED::copy), 5);
    EXPECT_EQ(store->count(), 10);
    const std::string many =
        "m" + std::to_string(std::find(results.begin(), results.end(), ADDED::fresh) - results.begin());

    // The day's board of the 1st of January 1970, read from the day's table, and for a period
    // that is no whole day from the runs: the same runs.
    BOARD_QUERY first_day = seven;
    first_day.has_period = true;
    for (long long to : {86400, 86399}) {
        first_day.to = to;
        ids.clear();
        for (const KEPT_RUN &run : store->board(first_day)) ids.push_back(run.id);
        EXPECT_EQ(ids, (std::vector<std::string>{"b1", "h2", "t1", "k1", "p1", many})) << to;
    }
    EXPECT_EQ(store->unwritable(), "");

    // Six live games of one name on the second day's seed, kept at once on connections of their
    // own: the one begun first is the name's attempt, whichever commits first; the rest practice.
    std::vector<std::thread> attempts;
    for (int i = 0; i < 6; ++i)
        attempts.emplace_back([&, i] {
            KEPT_RUN run = crafted("d" + std::to_string(i), "daily", false, 1 + i, 10, 86400 + 5), found;
            run.play = "play-daily-" + std::to_string(i);
            run.daily = true;
            run.live = 86400000 + (i + 3) % 6 * 10;  // d3 begun first
            EXPECT_EQ(wide->add(run, found), ADDED::fresh);
        });
    for (auto &attempt : attempts) attempt.join();
    DAY_BOARD second_day = store->day_board(1, 50);
    ids.clear();
    for (const KEPT_RUN &run : second_day.ranked) ids.push_back(run.id);
    EXPECT_EQ(ids, std::vector<std::string>{"d3"});
    ids.clear();
    for (const KEPT_RUN &run : second_day.practice) ids.push_back(run.id);
    EXPECT_EQ(ids, (std::vector<std::string>{"d5", "d4", "d2", "d1", "d0"}));

    // The schema's numbers past 2^31 and its bytes come back whole: seed, experience, keys and
    // seconds (a day past 2^31 seconds too, on the day's table), and a name no text column takes.
    const long long big = 1LL << 40;
    const std::string odd_name("\0\xff\xc3", 3);
    KEPT_RUN wide_run{
        "w1",
        RECORD{odd_name, big, false, MARROWDEEP_VERSION, "quit", 7, big + 1, false, big + 2, "plain"},
        big + 3,
        "-",
        "play-wide",
        ""};
    EXPECT_EQ(store->add(wide_run, kept), ADDED::fresh);
    ASSERT_TRUE(store->find("w1", kept));
    EXPECT_EQ(kept.record.name, odd_name);
    EXPECT_EQ(kept.record.seed, big);
    EXPECT_EQ(kept.record.experience, big + 1);
    EXPECT_EQ(kept.record.keys, big + 2);
    EXPECT_EQ(kept.submitted, big + 3);
    BOARD_QUERY wide_day;
    wide_day.has_seed = true;
    wide_day.seed = big;
    wide_day.has_period = true;
    wide_day.from = (big + 3) / 86400 * 86400;
    wide_day.to = wide_day.from + 86400;
    ids.clear();
    for (const KEPT_RUN &run : store->board(wide_day)) ids.push_back(run.id);
    EXPECT_EQ(ids, std::vector<std::string>{"w1"});

    // Every run kept, in the order kept, paged by the hall as on SQLite: the two sent, the ones
    // added above (the six of the day, kept at once in no set order, compared as a set), then
    // 2,000 more kept in one transaction.
    std::vector<std::string> expected{"c0f8baedf1c39b178dedfbce70c19e20",
                                      nlohmann::json::parse(odd.body)["id"].get<std::string>(),
                                      "h1",
                                      "h2",
                                      "h3",
                                      "b1",
                                      "k1",
                                      "t1",
                                      "p1",
                                      many,
                                      "d0",
                                      "d1",
                                      "d2",
                                      "d3",
                                      "d4",
                                      "d5",
                                      "w1"};
    std::vector<KEPT_RUN> more;
    for (int i = 0; i < 2000; ++i) {
        more.push_back(crafted("x" + std::to_string(i), "bulk", false, 1, 10, 8));
        more.back().record.ending = "unfinished";
        expected.push_back(more.back().id);
    }
    EXPECT_EQ(store->add_all(more), more.size());
    std::vector<std::string> exported;
    for (std::string after;;) {
        HTTP_ANSWER page =
            connection.ask("GET", "/api/runs?limit=1000" + (after.empty() ? "" : "&after=" + after));
        ASSERT_EQ(page.status, 200) << page.body;
        EXPECT_EQ(page.fields["content-type"], "application/x-ndjson");
        if (page.body.empty()) break;
        std::istringstream lines(page.body);
        for (std::string line; std::getline(lines, line);)
            exported.push_back(nlohmann::json::parse(line)["id"].get<std::string>());
        after = exported.back();
        ASSERT_LE(exported.size(), expected.size());
    }
    ASSERT_EQ(exported.size(), expected.size());
    std::sort(exported.begin() + 10, exported.begin() + 16);
    EXPECT_EQ(exported, expected);
    EXPECT_EQ(connection.ask("GET", "/api/runs?after=x").status, 404);

    // A run numbered and held uncommitted (its name's claim waits for another transaction's)
    // while a later run commits: a reader stops before the held run, so the later one is not
    // passed to it; once the held run commits, paging on from the last run read finds both.
    auto claimer = open_postgres_link(uri);
    claimer->run("BEGIN", {});
    claimer->run("INSERT INTO name_claims (name, signer, claimed) VALUES ('held', $1, 0)",
                 {sql_bytes(std::string(32, 'a'))});
    KEPT_RUN held = crafted("held", "held", false, 1, 10, 9), held_kept;
    held.signer = std::string(32, 'b');
    ADDED held_added = ADDED::same;
    std::thread keeper([&] { held_added = wide->add(held, held_kept); });
    auto watcher = open_postgres_link(uri);
    const auto bound = std::chrono::steady_clock::now() + GENEROUS_WAIT;
    auto numbered = [&] {
        return !watcher
                    ->run(
                        "SELECT 1 FROM pg_stat_activity WHERE wait_event_type = 'Lock' AND query LIKE"
                        " 'INSERT INTO name_claims%'",
                        {})
                    .empty();
    };
    while (!numbered() && std::chrono::steady_clock::now() < bound)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(numbered());
    EXPECT_EQ(store->add(crafted("later", "later", false, 1, 10, 9), kept), ADDED::fresh);
    std::vector<KEPT_RUN> page;
    ASSERT_TRUE(store->runs_after(expected.back(), 10, page));
    EXPECT_TRUE(page.empty()) << page.front().id;
    claimer->run("ROLLBACK", {});
    keeper.join();
    EXPECT_EQ(held_added, ADDED::fresh);
    ASSERT_TRUE(store->runs_after(expected.back(), 10, page));
    ids.clear();
    for (const KEPT_RUN &run : page) ids.push_back(run.id);
    EXPECT_EQ(ids, (std::vector<std::string>{"held", "later"}));
}

TEST_F(PostgresTest, TheDatabaseStoppedUnderLoadThenBack) {
    auto hall = start_hall({"--rate", "0"});
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::pair<int, std::string>> answers;  // status, body
    std::vector<std::string> kept_ids;
    bool done = false;
    std::vector<std::thread> clients;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    for (int client = 0; client < 2; ++client)
        clients.emplace_back([&, client] {
            HTTP_CONNECTION connection(hall->port());
            for (int i = 0; i < 100000 && std::chrono::steady_clock::now() < until; ++i) {
                {
                    std::lock_guard lock(mutex);
                    if (done) return;
                }
                HTTP_ANSWER answer =
                    connection.ask("POST", "/api/runs",
                                   link_of(keys_of("c" + std::to_string(client) + "-" + std::to_string(i),
                                                   client * 100000 + i)));
                std::lock_guard lock(mutex);
                answers.emplace_back(answer.status, answer.body);
                if (answer.status == 201) kept_ids.push_back(nlohmann::json::parse(answer.body)["id"]);
                changed.notify_all();
                if (answer.status == 0) return;
            }
        });
    auto count = [&](int status) {
        int n = 0;
        for (const auto &answer : answers) n += answer.first == status;
        return n;
    };
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_until(lock, until, [&] { return count(201) >= 10; }));
    lock.unlock();
    ASSERT_TRUE(stop_database());
    lock.lock();
    int created_before = count(201);
    EXPECT_TRUE(changed.wait_until(lock, until, [&] { return count(503) >= 5; }));
    // While it is down, a board cannot be read either.
    HTTP_ANSWER board = ask_once(hall->port(), "GET", "/api/board");
    EXPECT_EQ(board.status, 503);
    EXPECT_EQ(board.body, unreachable);
    lock.unlock();
    ASSERT_TRUE(start_database());
    lock.lock();
    int refused = count(503);
    // The hall goes on by itself: runs are kept again.
    EXPECT_TRUE(changed.wait_until(lock, until, [&] { return count(201) >= created_before + 10; }));
    done = true;
    lock.unlock();
    for (auto &client : clients) client.join();

    EXPECT_GE(refused, 5);
    for (const auto &[status, body] : answers) {
        EXPECT_TRUE(status == 201 || status == 503) << status << " " << body;
        if (status == 503) {
            EXPECT_EQ(body, unreachable);
        }
    }
    // Every run answered 201 is there.
    HTTP_CONNECTION reader(hall->port());
    for (const std::string &id : kept_ids) EXPECT_EQ(reader.ask("GET", "/api/runs/" + id).status, 200) << id;
}

TEST_F(PostgresTest, TwoHallsTwentyClientsAThousandRuns) {
    auto first = start_hall({"--rate", "0"});
    auto second = start_hall({"--rate", "0"});
    // 900 runs, 45 a client, and 5 more each sent again by another client: a tenth are
    // duplicates, some sent at once on the other hall.
    const int clients = 20, own = 45, again = 5;
    std::vector<std::string> names;
    for (int i = 0; i < clients * own; ++i) names.push_back("r" + std::to_string(i));
    struct SENT {
        int run;
        int status;
        std::string body;
    };
    std::vector<std::vector<SENT>> sent(clients);
    std::vector<std::thread> threads;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(240);
    for (int client = 0; client < clients; ++client)
        threads.emplace_back([&, client] {
            HTTP_CONNECTION connection(client % 2 ? second->port() : first->port());
            std::vector<int> runs;
            for (int i = 0; i < own; ++i) {
                runs.push_back(client * own + i);
                if (i % (own / again) == 0) runs.push_back(((client + 1) % clients) * own + i);
            }
            for (int run : runs) {
                if (std::chrono::steady_clock::now() > until) return;
                HTTP_ANSWER answer = connection.ask(
                    "POST", "/api/runs", link_of(keys_of(names[static_cast<std::size_t>(run)], run)));
                sent[static_cast<std::size_t>(client)].push_back({run, answer.status, answer.body});
            }
        });
    for (auto &thread : threads) thread.join();

    std::map<int, std::set<std::string>> bodies;
    std::map<int, int> created;
    std::size_t total = 0;
    for (const auto &answers : sent)
        for (const SENT &answer : answers) {
            ++total;
            ASSERT_TRUE(answer.status == 201 || answer.status == 200) << answer.status << " " << answer.body;
            auto record = nlohmann::json::parse(answer.body);
            EXPECT_EQ(record["name"], names[static_cast<std::size_t>(answer.run)]);
            EXPECT_EQ(record["seed"], answer.run);
            bodies[answer.run].insert(answer.body);
            created[answer.run] += answer.status == 201;
        }
    EXPECT_EQ(total, 1000u);
    ASSERT_EQ(bodies.size(), 900u);
    for (const auto &[run, kinds] : bodies) {
        EXPECT_EQ(kinds.size(), 1u) << "run " << run << ": one record for every client";
        EXPECT_EQ(created[run], 1) << "run " << run << ": kept once";
    }
    EXPECT_EQ(open_store(uri, 1)->count(), 900);
}

// Twenty players, ten on each hall, each with a key of their own, race for one name: the claim
// is one row, so one key wins on both halls, and every run of the others is refused with 403 and
// kept nowhere; the release, on the same database, lets another key claim it.
TEST_F(PostgresTest, TwoHallsRaceForOneNameAndOneKeyWins) {
    auto first = start_hall({"--rate", "0"});
    auto second = start_hall({"--rate", "0"});
    const int clients = 20, runs_each = 3;
    std::vector<PLAYER_KEY> keys(clients);
    struct SENT {
        int client;
        int status;
        std::string body;
    };
    std::vector<std::vector<SENT>> sent(clients);
    // All begin together, so their first runs race.
    std::mutex mutex;
    std::condition_variable go;
    int ready = 0;
    std::vector<std::thread> threads;
    for (int client = 0; client < clients; ++client)
        threads.emplace_back([&, client] {
            HTTP_CONNECTION connection(client % 2 ? second->port() : first->port());
            {
                std::unique_lock lock(mutex);
                ++ready;
                go.notify_all();
                go.wait(lock, [&] { return ready == clients; });
            }
            for (int i = 0; i < runs_each; ++i) {
                const std::string run_keys = keys_of("claimed", 100 + client * runs_each + i);
                const std::string id = run_id(RUN{run_keys, false, 0, MARROWDEEP_VERSION});
                const PLAYER_KEY &key = keys[static_cast<std::size_t>(client)];
                HTTP_ANSWER answer = connection.ask(
                    "POST", "/api/runs", link_of(run_keys),
                    {{"Marrowdeep-Key", key.key_text()}, {"Marrowdeep-Signature", key.signature_text(id)}});
                sent[static_cast<std::size_t>(client)].push_back({client, answer.status, answer.body});
            }
        });
    for (auto &thread : threads) thread.join();

    std::set<int> winners;
    for (const auto &answers : sent)
        for (const SENT &answer : answers)
            if (answer.status == 201) winners.insert(answer.client);
    ASSERT_EQ(winners.size(), 1u);
    const int winner = *winners.begin();
    const std::string fingerprint = key_fingerprint(keys[static_cast<std::size_t>(winner)].raw());
    for (const auto &answers : sent) {
        ASSERT_EQ(answers.size(), static_cast<std::size_t>(runs_each));
        for (const SENT &answer : answers) {
            if (answer.client == winner) {
                EXPECT_EQ(answer.status, 201) << answer.body;
                EXPECT_EQ(nlohmann::json::parse(answer.body)["key"], fingerprint);
            } else {
                EXPECT_EQ(answer.status, 403) << answer.client << " " << answer.body;
                EXPECT_NE(answer.body.find("belongs to another key"), std::string::npos) << answer.body;
            }
        }
    }
    EXPECT_EQ(open_store(uri, 1)->count(), runs_each);
    // Not signed, on either hall: refused too.
    EXPECT_EQ(ask_once(second->port(), "POST", "/api/runs", link_of(keys_of("claimed", 99))).status, 403);
    EXPECT_EQ(ask_once(first->port(), "POST", "/api/runs", link_of(keys_of("claimed", 98))).status, 403);

    auto [released, status] = run_for_output({"release-name", "claimed", "--db", uri});
    EXPECT_EQ(released, "marrowdeep-hall: released the name claimed\n");
    EXPECT_EQ(status, 0);
    const int other = (winner + 1) % clients;
    const std::string run_keys = keys_of("claimed", 100 + other * runs_each);
    const std::string id = run_id(RUN{run_keys, false, 0, MARROWDEEP_VERSION});
    HTTP_CONNECTION connection(other % 2 ? second->port() : first->port());
    const PLAYER_KEY &key = keys[static_cast<std::size_t>(other)];
    HTTP_ANSWER claimed = connection.ask(
        "POST", "/api/runs", link_of(run_keys),
        {{"Marrowdeep-Key", key.key_text()}, {"Marrowdeep-Signature", key.signature_text(id)}});
    EXPECT_EQ(claimed.status, 201) << claimed.body;
}

namespace {
// What a watcher was given: the keys of its first message's run, then every batch, until the
// end (its message and the close). The watchers' counts between them are passed over.
struct WATCHED {
    std::string keys, end, close;
};
WATCHED watch_to_the_end(SOCKET &watcher) {
    WATCHED watched;
    nlohmann::json first = nlohmann::json::parse(watcher.read_text(), nullptr, false);
    if (!first.is_object() || !first.contains("run") || !first["run"].is_string()) {
        ADD_FAILURE() << "no run first: " << first.dump();
        return watched;
    }
    RUN_READING reading = read_run_link(first["run"].get<std::string>());
    EXPECT_TRUE(reading.ok);
    watched.keys = reading.run.keys;
    for (;;) {
        HEARD heard = watcher.read();
        if (!heard.message) {
            watched.close = "closed early " + std::to_string(heard.code) + ": " + heard.reason;
            return watched;
        }
        if (!heard.text) {
            watched.keys += heard.data;
        } else if (heard.data.rfind("{\"watchers\":", 0) != 0) {
            watched.end = heard.data;
            watched.close = watcher.read_close();
            return watched;
        }
    }
}
}  // namespace

TEST_F(PostgresTest, APlayerOnOneHallWatchedOnAnother) {
    auto first = start_hall();
    auto second = start_hall();
    SOCKET player(first->port(), "/api/live/play");
    STARTED game = begin_game(player, "hero\n");
    player.binary("n\n42\n1\n");
    EXPECT_EQ(player.read_text(), "{\"keys\":12}");
    std::string keys = "hero\nn\n42\n1\n";

    // The other hall hears of the game, reads its keys from the tables and finds its seed: it
    // lists it with every key given.
    const std::string listed = live_listing(second->port(), "\"keys\":12");
    auto games = nlohmann::json::parse(listed)["games"];
    ASSERT_EQ(games.size(), 1u) << listed;
    EXPECT_EQ(games[0]["id"], game.id);
    EXPECT_EQ(games[0]["seed"], 42);
    EXPECT_EQ(games[0]["delayed"], 0);

    // Twenty watchers on the other hall; one more joins half-way.
    std::vector<std::unique_ptr<SOCKET>> watchers;
    for (int i = 0; i < 20; ++i)
        watchers.push_back(std::make_unique<SOCKET>(second->port(), "/api/live/" + game.id + "/watch"));
    std::unique_ptr<SOCKET> late;
    for (int i = 0; i < 40; ++i) {
        const std::string step = i % 2 ? "a" : "d";
        player.binary(step);
        keys += step;
        EXPECT_EQ(player.read_text(), "{\"keys\":" + std::to_string(keys.size()) + "}");
        if (i == 20) late = std::make_unique<SOCKET>(second->port(), "/api/live/" + game.id + "/watch");
    }
    player.binary("q");
    keys += "q";
    EXPECT_EQ(player.read_text(), "{\"keys\":" + std::to_string(keys.size()) + "}");
    player.text("{\"end\": true}");
    const std::string record = player.read_text();
    ASSERT_EQ(record.rfind("{\"record\":", 0), 0u) << record;
    EXPECT_EQ(nlohmann::json::parse(record)["record"]["keys"], keys.size());
    EXPECT_EQ(player.read_close(), "1000: The game has ended.");

    // Every watcher on the other hall got every key, in order, once, then the end.
    watchers.push_back(std::move(late));
    for (std::size_t i = 0; i < watchers.size(); ++i) {
        WATCHED watched = watch_to_the_end(*watchers[i]);
        EXPECT_EQ(watched.keys, keys) << "watcher " << i;
        EXPECT_EQ(watched.end, "{\"end\":" + record.substr(10)) << "watcher " << i;
        EXPECT_EQ(watched.close, "1000: The game has ended.") << "watcher " << i;
    }
    EXPECT_EQ(live_listing(second->port(), "{\"games\":[]}"), "{\"games\":[]}");
}

TEST_F(PostgresTest, AWatcherOnAnotherHallThroughADatabaseRestart) {
    auto first = start_hall();
    auto second = start_hall();
    auto player = std::make_unique<SOCKET>(first->port(), "/api/live/play");
    STARTED game = begin_game(*player, "hero\nn\n42\n1\n");
    std::string keys = "hero\nn\n42\n1\n";
    live_listing(second->port(), "\"keys\":12");
    SOCKET watcher(second->port(), "/api/live/" + game.id + "/watch");
    player->binary("d");
    keys += "d";
    EXPECT_EQ(player->read_text(), "{\"keys\":13}");

    // The database restarts: the other hall's connection that listens is lost, and comes back.
    ASSERT_TRUE(stop_database());
    ASSERT_TRUE(second->wait_for_error("lost the connection that hears other halls' live games"));
    ASSERT_TRUE(start_database());
    // The keys committed once it is back, before or after the other hall listens again, reach
    // the watcher each once. (The player's socket may have been closed on the way: it resumes.)
    for (const std::string step : {"a", "d", "a", "q"}) {
        player->binary(step);
        std::string said = player->read_text();
        if (said != "{\"keys\":" + std::to_string(keys.size() + 1) + "}") {
            player = std::make_unique<SOCKET>(first->port(), "/api/live/play");
            player->text(resume_message(keys + step, game.token));
            said = player->read_text();
            const std::string prefix =
                "{\"id\":\"" + game.id + "\",\"token\":\"" + game.token + "\",\"keys\":";
            ASSERT_TRUE(said == prefix + std::to_string(keys.size()) + "}" ||
                        said == prefix + std::to_string(keys.size() + 1) + "}")
                << said;
            if (said == prefix + std::to_string(keys.size()) + "}") {
                player->binary(step);
                EXPECT_EQ(player->read_text(), "{\"keys\":" + std::to_string(keys.size() + 1) + "}");
            }
        }
        keys += step;
    }
    EXPECT_TRUE(second->wait_for_error("listening for other halls' live games again"));
    player->text("{\"end\": true}");
    const std::string record = player->read_text();
    ASSERT_EQ(record.rfind("{\"record\":", 0), 0u) << record;

    WATCHED watched = watch_to_the_end(watcher);
    EXPECT_EQ(watched.keys, keys);
    EXPECT_EQ(watched.end, "{\"end\":" + record.substr(10));
    EXPECT_EQ(watched.close, "1000: The game has ended.");
}
