// The real marrowdeep-hall on 127.0.0.1, on SQLite: its options, its answers over HTTP, its
// limits (bodies, headers, runs an address may send, clients too slow), a clean stop on
// SIGTERM, and nothing answered lost after SIGKILL.
#include <gtest/gtest.h>
#include <signal.h>

#include <sqlite3.h>
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <tuple>

#include "tests/hall/hall_fixture.h"
#include "tests/hall/hall_process.h"
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

std::string link_of(const std::string &keys) {
    return write_run_link(RUN{keys, false, 0, MARROWDEEP_VERSION});
}

class ProgramTest : public ::testing::Test {
  protected:
    void SetUp() override { folder = temporary_folder(); }
    void TearDown() override { std::filesystem::remove_all(folder); }
    std::unique_ptr<HALL_PROCESS> start(std::vector<std::string> more = {},
                                        std::vector<std::pair<std::string, std::string>> environment = {
                                            {"MARROWDEEP_HALL_TEST_CLOCK", std::to_string(PINNED_SECONDS)}}) {
        std::vector<std::string> arguments{"--listen", "127.0.0.1:0", "--db",
                                           "sqlite:" + folder + "/hall.db"};
        arguments.insert(arguments.end(), more.begin(), more.end());
        return std::make_unique<HALL_PROCESS>(arguments, environment);
    }
    std::string folder;
};
}  // namespace

TEST(Program, HelpAndVersion) {
    auto [version, version_status] = run_for_output({"--version"});
    EXPECT_EQ(version, "marrowdeep-hall " MARROWDEEP_VERSION "\n");
    EXPECT_EQ(version_status, 0);
    auto [help, help_status] = run_for_output({"--help"});
    EXPECT_EQ(help_status, 0);
    EXPECT_EQ(
        help.rfind("Usage: marrowdeep-hall [--listen HOST:PORT] [--db URL] [--site DIR] [--rate N]\n", 0),
        0u);
    for (const char *option :
         {"--listen HOST:PORT", "--db URL", "--site DIR", "--rate N", "--connections N", "--proofs N",
          "--origin URL", "--trust-proxy ADDRESS", "--help", "--version", "MARROWDEEP_HALL_TEST_TIMEOUTS",
          "MARROWDEEP_HALL_TEST_CLOCK", "release-name NAME [--db URL]", "reprove [--db URL] [--proofs N]"})
        EXPECT_NE(help.find(option), std::string::npos) << option;
    auto [wrong, wrong_status] = run_for_output({"--port", "80"});
    EXPECT_EQ(wrong, "marrowdeep-hall: unknown option --port.\nTry marrowdeep-hall --help.\n");
    EXPECT_EQ(wrong_status, 2);
    auto [bad_db, bad_db_status] = run_for_output({"--db", "mysql://x"});
    EXPECT_EQ(bad_db, "marrowdeep-hall: The database must be sqlite:PATH or a postgresql:// URI.\n");
    EXPECT_EQ(bad_db_status, 1);
    auto [no_port, no_port_status] = run_for_output({"--listen", "127.0.0.1"});
    EXPECT_EQ(no_port, "marrowdeep-hall: --listen needs HOST:PORT.\nTry marrowdeep-hall --help.\n");
    EXPECT_EQ(no_port_status, 2);
    for (const auto &[option, value, sentence] :
         std::vector<std::tuple<std::string, std::string, std::string>>{
             {"--connections", "0", "--connections needs a whole number from 1 to 1000000."},
             {"--proofs", "0", "--proofs needs a whole number from 1 to 256."},
             {"--proofs", "257", "--proofs needs a whole number from 1 to 256."},
             {"--proofs", "-1", "--proofs needs a whole number from 1 to 256."},
             {"--proofs", "two", "--proofs needs a whole number from 1 to 256."},
             {"--proofs", "", "--proofs needs a whole number from 1 to 256."},
             {"--origin", "halls.example", "--origin needs a URL such as https://halls.example."},
             {"--trust-proxy", "proxy.example", "--trust-proxy needs an IP address."}}) {
        auto [said, status] = run_for_output({option, value});
        EXPECT_EQ(said, "marrowdeep-hall: " + sentence + "\nTry marrowdeep-hall --help.\n");
        EXPECT_EQ(status, 2);
    }
    // No server on port 1: the keeper reads why, then the sentence, and the hall does not start.
    auto [unreachable, unreachable_status] = run_for_output({"--db", "postgresql://hall@127.0.0.1:1/hall"});
    EXPECT_EQ(unreachable.rfind(
                  "marrowdeep-hall: PostgreSQL: connection to server at \"127.0.0.1\", port 1 failed:", 0),
              0u)
        << unreachable;
    EXPECT_NE(
        unreachable.find("\nmarrowdeep-hall: The hall cannot reach its database just now; try again soon.\n"),
        std::string::npos);
    EXPECT_EQ(unreachable_status, 1);
}

namespace {
// The threads of a process that bear the name, as /proc gives them.
int threads_named(pid_t pid, const std::string &name) {
    int count = 0;
    for (const auto &task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
        std::string comm;
        std::getline(std::ifstream(task.path() / "comm"), comm);
        count += comm == name;
    }
    return count;
}
}  // namespace

TEST_F(ProgramTest, ProofThreadsAsAskedTakeManyRunsAtOnce) {
    // One proof thread a core unless told; the store's four either way.
    {
        auto hall = start();
        const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
        EXPECT_EQ(threads_named(hall->pid(), "hall-proof"), std::min(cores, 256));
        EXPECT_EQ(threads_named(hall->pid(), "hall-store"), 4);
    }
    auto hall = start({"--proofs", "3", "--rate", "0"});
    EXPECT_EQ(threads_named(hall->pid(), "hall-proof"), 3);
    EXPECT_EQ(threads_named(hall->pid(), "hall-store"), 4);

    // Six clients at once, each sending the same run first, then eight of its own: every run's
    // record is its own game's, the shared one kept once.
    constexpr int clients = 6, each = 8;
    auto name_of = [](int client, int i) { return "p" + std::to_string(client) + "r" + std::to_string(i); };
    auto keys_of = [&](int client, int i) {
        return name_of(client, i) + "\nn\n" + std::to_string(100 + client * each + i) + "\n1\nq";
    };
    std::vector<std::vector<HTTP_ANSWER>> answers(clients);
    std::vector<HTTP_ANSWER> shared(clients);
    std::vector<std::thread> senders;
    for (int client = 0; client < clients; ++client)
        senders.emplace_back([&, client] {
            HTTP_CONNECTION connection(hall->port());
            shared[static_cast<std::size_t>(client)] =
                connection.ask("POST", "/api/runs", link_of(quick_keys));
            for (int i = 0; i < each; ++i)
                answers[static_cast<std::size_t>(client)].push_back(
                    connection.ask("POST", "/api/runs", link_of(keys_of(client, i))));
        });
    for (auto &sender : senders) sender.join();
    int created = 0;
    for (const HTTP_ANSWER &answer : shared) {
        EXPECT_TRUE(answer.status == 201 || answer.status == 200) << answer.status << " " << answer.body;
        EXPECT_EQ(answer.body, quick_record);
        created += answer.status == 201;
    }
    EXPECT_EQ(created, 1);
    for (int client = 0; client < clients; ++client)
        for (int i = 0; i < each; ++i) {
            const HTTP_ANSWER &answer =
                answers[static_cast<std::size_t>(client)].at(static_cast<std::size_t>(i));
            ASSERT_EQ(answer.status, 201) << answer.body;
            auto record = nlohmann::json::parse(answer.body);
            EXPECT_EQ(record["name"], name_of(client, i));
            EXPECT_EQ(record["seed"], 100 + client * each + i);
            EXPECT_EQ(record["ending"], "quit");
            EXPECT_EQ(record["keys"], keys_of(client, i).size());
        }
    auto board = nlohmann::json::parse(ask_once(hall->port(), "GET", "/api/board?limit=500").body);
    EXPECT_EQ(board["runs"].size(), static_cast<std::size_t>(clients * each + 1));
    hall->signal(SIGTERM);
    EXPECT_EQ(hall->wait_for_exit(), 0);
}

TEST_F(ProgramTest, AnswersOverHttpAndLogsEachRequest) {
    std::filesystem::create_directories(folder + "/site");
    std::ofstream(folder + "/site/index.html") << "<!doctype html><title>Marrowdeep</title>";
    auto hall = start({"--site", folder + "/site"});

    // One connection kept open for every request.
    HTTP_CONNECTION connection(hall->port());
    HTTP_ANSWER health = connection.ask("GET", "/api/health");
    EXPECT_EQ(health.status, 200);
    EXPECT_EQ(health.body, "{\"ok\":true,\"version\":\"" MARROWDEEP_VERSION "\"}");
    EXPECT_EQ(health.fields["content-type"], "application/json");
    HTTP_ANSWER head = connection.ask("HEAD", "/api/health");
    EXPECT_EQ(head.status, 200);
    EXPECT_EQ(head.fields["content-length"], "27");
    EXPECT_EQ(head.body, "");

    HTTP_ANSWER created =
        connection.ask("POST", "/api/runs", link_of(quick_keys), {{"Content-Type", "text/plain"}});
    EXPECT_EQ(created.status, 201);
    EXPECT_EQ(created.body, quick_record);
    HTTP_ANSWER again = connection.ask("POST", "/api/runs", link_of(quick_keys));
    EXPECT_EQ(again.status, 200);
    EXPECT_EQ(again.body, quick_record);
    HTTP_ANSWER read = connection.ask("GET", "/api/runs/c0f8baedf1c39b178dedfbce70c19e20");
    EXPECT_EQ(read.status, 200);
    EXPECT_EQ(nlohmann::json::parse(read.body)["run"], link_of(quick_keys));
    HTTP_ANSWER board = connection.ask("GET", "/api/board?seed=42&limit=10");
    EXPECT_EQ(board.body, "{\"seed\":42,\"runs\":[" + quick_listed + "]}");
    HTTP_ANSWER daily = connection.ask("GET", "/api/daily");
    EXPECT_EQ(daily.status, 200);
    EXPECT_EQ(nlohmann::json::parse(daily.body)["date"], "2026-12-08");
    HTTP_ANSWER missing = connection.ask("GET", "/api/runs/ffff");
    EXPECT_EQ(missing.status, 404);
    EXPECT_EQ(missing.body, "{\"error\":\"No run has that id.\"}");

    HTTP_ANSWER page = connection.ask("GET", "/");
    EXPECT_EQ(page.status, 200);
    EXPECT_EQ(page.fields["content-type"], "text/html; charset=utf-8");
    EXPECT_EQ(page.body, "<!doctype html><title>Marrowdeep</title>");
    HTTP_ANSWER escape = connection.ask("GET", "/../hall.db");
    EXPECT_EQ(escape.status, 404);
    HTTP_ANSWER posted = connection.ask("POST", "/index.html", "x");
    EXPECT_EQ(posted.status, 405);
    EXPECT_EQ(posted.fields["allow"], "GET, HEAD");

    // A long link, sent by a client that asks before sending its body, as curl does.
    std::string long_keys = "long\nn\n42\n1\n";
    for (int i = 0; i < 600; ++i) long_keys += "wasdb x"[i * 7 % 7];
    long_keys += "q";
    std::string long_link = link_of(long_keys);
    ASSERT_TRUE(
        connection.send("POST /api/runs HTTP/1.1\r\nHost: h\r\nExpect: 100-continue\r\nContent-Length: " +
                        std::to_string(long_link.size()) + "\r\n\r\n"));
    EXPECT_EQ(connection.read_answer().status, 100);
    ASSERT_TRUE(connection.send(long_link));
    HTTP_ANSWER long_answer = connection.read_answer();
    EXPECT_TRUE(long_answer.status == 201) << long_answer.status << " " << long_answer.body;

    // Each request one line: time, address, method, path, status, bytes, milliseconds.
    std::string log = hall->errors();
    EXPECT_TRUE(
        std::regex_search(log, std::regex("\n2026-12-08T14:05:09Z 127\\.0\\.0\\.1 POST /api/runs 201 " +
                                          std::to_string(quick_record.size()) + " [0-9]+\\.[0-9]ms\n")))
        << log;
    EXPECT_TRUE(std::regex_search(log, std::regex("\n2026-12-08T14:05:09Z 127\\.0\\.0\\.1 GET "
                                                  "/api/board\\?seed=42&limit=10 200 [0-9]+ [0-9.]+ms\n")));
    EXPECT_TRUE(std::regex_search(
        log, std::regex("\n2026-12-08T14:05:09Z 127\\.0\\.0\\.1 HEAD /api/health 200 27 [0-9.]+ms\n")));
    hall->signal(SIGTERM);
    EXPECT_EQ(hall->wait_for_exit(), 0);
}

TEST_F(ProgramTest, LimitsOnBodiesHeadersRunsAndSlowClients) {
    auto hall = start({}, {{"MARROWDEEP_HALL_TEST_CLOCK", std::to_string(PINNED_SECONDS)},
                           {"MARROWDEEP_HALL_TEST_TIMEOUTS", "400"}});

    // A body over 70 KB: 413 as soon as its length is known, read by the client in full.
    HTTP_CONNECTION big(hall->port());
    ASSERT_TRUE(big.send("POST /api/runs HTTP/1.1\r\nHost: h\r\nContent-Length: 80000\r\n\r\n" +
                         std::string(80000, 'A')));
    HTTP_ANSWER too_big = big.read_answer();
    EXPECT_EQ(too_big.status, 413);
    EXPECT_EQ(too_big.body, "{\"error\":\"The run is too long: a link holds at most 65,536 characters.\"}");
    EXPECT_EQ(too_big.fields["connection"], "close");
    // A body of 70 KB exactly passes the hall's limit and meets the link's.
    HTTP_ANSWER at_limit = ask_once(hall->port(), "POST", "/api/runs", std::string(70 * 1024, 'A'));
    EXPECT_EQ(at_limit.status, 413);
    EXPECT_EQ(nlohmann::json::parse(at_limit.body)["error"], RUN_LINK_TOO_LONG);

    // Header fields over 16 KB.
    HTTP_CONNECTION fat(hall->port());
    ASSERT_TRUE(fat.send("GET /api/health HTTP/1.1\r\nHost: h\r\nX-Filler: " + std::string(17 * 1024, 'x') +
                         "\r\n\r\n"));
    HTTP_ANSWER fat_answer = fat.read_answer();
    EXPECT_EQ(fat_answer.status, 431);
    EXPECT_EQ(fat_answer.body, "{\"error\":\"The request's header fields are too long.\"}");
    HTTP_CONNECTION garbled(hall->port());
    ASSERT_TRUE(garbled.send("HELLO\r\n\r\n"));
    EXPECT_EQ(garbled.read_answer().status, 400);

    // A flood from one address: 30 runs a minute, and the clock held still. The body of 70 KB
    // above was the first run.
    HTTP_CONNECTION flood(hall->port());
    int refused = 0, answered = 0;
    for (int i = 0; i < 40; ++i) {
        HTTP_ANSWER answer = flood.ask("POST", "/api/runs", "not a run");
        answered += answer.status != 0;
        refused += answer.status == 429;
        if (i < 29) {
            EXPECT_EQ(answer.status, 400) << i;
        }
    }
    EXPECT_EQ(answered, 40);
    EXPECT_EQ(refused, 11);

    // A client that sends a request a byte at a time and never finishes is cut off after the
    // read's deadline (400 ms here), while it is still sending.
    HTTP_CONNECTION slow(hall->port());
    const std::string request = "GET /api/health HTTP/1.1\r\nHost: h\r\nX-Slow: " + std::string(100000, 's');
    auto started = std::chrono::steady_clock::now();
    bool cut = false;
    for (std::size_t i = 0; i < request.size() && !cut; ++i) {
        slow.send(request.substr(i, 1));
        cut = slow.closed_by_hall(std::chrono::milliseconds(20));
        if (std::chrono::steady_clock::now() - started > GENEROUS_WAIT) break;
    }
    EXPECT_TRUE(cut);
    // An idle connection is closed too, and the hall still answers others.
    HTTP_CONNECTION idle(hall->port());
    EXPECT_TRUE(idle.closed_by_hall());
    EXPECT_EQ(ask_once(hall->port(), "GET", "/api/health").status, 200);
    hall->signal(SIGINT);
    EXPECT_EQ(hall->wait_for_exit(), 0);
}

TEST_F(ProgramTest, SigtermAnswersTheRequestsInFlightThenExits) {
    auto hall = start();
    HTTP_CONNECTION idle(hall->port());
    ASSERT_EQ(idle.ask("GET", "/api/health").status, 200);

    // A run whose request has begun: the hall has read its header (it says go on).
    const std::string link = link_of(quick_keys);
    HTTP_CONNECTION busy(hall->port());
    ASSERT_TRUE(busy.send("POST /api/runs HTTP/1.1\r\nHost: h\r\nExpect: 100-continue\r\nContent-Length: " +
                          std::to_string(link.size()) + "\r\n\r\n"));
    ASSERT_EQ(busy.read_answer().status, 100);

    hall->signal(SIGTERM);
    ASSERT_TRUE(hall->wait_for_error("marrowdeep-hall: stopping"));
    // The idle connection is closed, no new one is taken, and the run in flight is answered.
    EXPECT_TRUE(idle.closed_by_hall());
    HTTP_CONNECTION late(hall->port());
    EXPECT_TRUE(!late.open() || late.ask("GET", "/api/health").status == 0);
    ASSERT_TRUE(busy.send(link));
    HTTP_ANSWER answer = busy.read_answer();
    EXPECT_EQ(answer.status, 201);
    EXPECT_EQ(answer.body, quick_record);
    EXPECT_EQ(answer.fields["connection"], "close");
    EXPECT_EQ(hall->wait_for_exit(), 0);
    EXPECT_NE(hall->errors().find("marrowdeep-hall: stopped\n"), std::string::npos);

    // It was kept.
    auto again = start();
    EXPECT_EQ(ask_once(again->port(), "GET", "/api/runs/c0f8baedf1c39b178dedfbce70c19e20").status, 200);
}

TEST_F(ProgramTest, EveryRunAnsweredIsThereAfterSigkill) {
    auto hall = start({"--rate", "0"}, {});
    std::mutex mutex;
    std::condition_variable answered;
    std::vector<std::string> ids;
    std::vector<std::thread> senders;
    const auto until = std::chrono::steady_clock::now() + GENEROUS_WAIT;
    for (int sender = 0; sender < 4; ++sender)
        senders.emplace_back([&, sender] {
            HTTP_CONNECTION connection(hall->port());
            for (int i = 0; i < 200 && std::chrono::steady_clock::now() < until; ++i) {
                std::string name = "k" + std::to_string(sender) + "-" + std::to_string(i);
                HTTP_ANSWER answer =
                    connection.ask("POST", "/api/runs",
                                   link_of(name + "\nn\n" + std::to_string(sender * 1000 + i) + "\n1\nq"));
                if (answer.status != 201 && answer.status != 200) return;
                std::lock_guard lock(mutex);
                ids.push_back(nlohmann::json::parse(answer.body)["id"].get<std::string>());
                answered.notify_all();
            }
        });
    // Killed in the middle of the flow of runs.
    {
        std::unique_lock lock(mutex);
        answered.wait_until(lock, until, [&] { return ids.size() >= 60; });
        hall->signal(SIGKILL);
    }
    for (auto &sender : senders) sender.join();
    EXPECT_EQ(hall->wait_for_exit(), -1);
    ASSERT_GE(ids.size(), 60u);

    auto again = start();
    HTTP_CONNECTION connection(again->port());
    for (const std::string &id : ids) EXPECT_EQ(connection.ask("GET", "/api/runs/" + id).status, 200) << id;
}

TEST_F(ProgramTest, SignedRunsOverHttpAndANameReleased) {
    auto hall = start();
    PLAYER_KEY first, second;
    const std::string id = "c0f8baedf1c39b178dedfbce70c19e20";  // the quick game's
    HTTP_CONNECTION connection(hall->port());
    // The two fields as the page sends them; a field sent twice is damaged.
    HTTP_ANSWER twice = connection.ask("POST", "/api/runs", link_of("hero\nn\n42\n1\nq"),
                                       {{"Marrowdeep-Key", first.key_text()},
                                        {"Marrowdeep-Key", first.key_text()},
                                        {"Marrowdeep-Signature", first.signature_text(id)}});
    EXPECT_EQ(twice.status, 400) << twice.body;
    HTTP_ANSWER alone = connection.ask("POST", "/api/runs", link_of("hero\nn\n42\n1\nq"),
                                       {{"marrowdeep-signature", first.signature_text(id)}});
    EXPECT_EQ(alone.status, 400) << alone.body;
    HTTP_ANSWER kept = connection.ask(
        "POST", "/api/runs", link_of("hero\nn\n42\n1\nq"),
        {{"marrowdeep-key", first.key_text()}, {"MARROWDEEP-SIGNATURE", first.signature_text(id)}});
    EXPECT_EQ(kept.status, 201) << kept.body;
    EXPECT_NE(kept.body.find("\"signed\":true,\"key\":\"" + key_fingerprint(first.raw()) + "\"}"),
              std::string::npos)
        << kept.body;
    const std::string other_keys = "hero\nn\n43\n1\nq";
    const std::string other_id = run_id(RUN{other_keys, false, 0, MARROWDEEP_VERSION});
    auto send_second = [&] {
        return connection.ask("POST", "/api/runs", link_of(other_keys),
                              {{"Marrowdeep-Key", second.key_text()},
                               {"Marrowdeep-Signature", second.signature_text(other_id)}});
    };
    EXPECT_EQ(send_second().status, 403);

    // Released while the hall runs, on its database: the next key claims it.
    const std::string db = "sqlite:" + folder + "/hall.db";
    auto [released, released_status] = run_for_output({"release-name", "hero", "--db", db});
    EXPECT_EQ(released, "marrowdeep-hall: released the name hero\n");
    EXPECT_EQ(released_status, 0);
    auto [again, again_status] = run_for_output({"release-name", "--db", db, "hero"});
    EXPECT_EQ(again, "marrowdeep-hall: no key holds the name hero\n");
    EXPECT_EQ(again_status, 1);
    auto [nameless, nameless_status] = run_for_output({"release-name", "--db", db});
    EXPECT_EQ(nameless,
              "marrowdeep-hall: release-name needs the name to release.\nTry marrowdeep-hall --help.\n");
    EXPECT_EQ(nameless_status, 2);
    HTTP_ANSWER claimed = send_second();
    EXPECT_EQ(claimed.status, 201) << claimed.body;
    EXPECT_NE(claimed.body.find(key_fingerprint(second.raw())), std::string::npos);
}

namespace {
// Runs a statement on the hall's SQLite file, as a keeper would by hand.
void change_by_hand(const std::string &path, const std::string &statement) {
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    char *error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, statement.c_str(), nullptr, nullptr, &error), SQLITE_OK)
        << (error ? error : "");
    sqlite3_free(error);
    EXPECT_EQ(sqlite3_changes(db), 1) << statement;
    sqlite3_close(db);
}
}  // namespace

TEST_F(ProgramTest, ReproveFindsTheRecordsChangedByHand) {
    const std::string quick_id = "c0f8baedf1c39b178dedfbce70c19e20";
    const std::string other_keys = "other\nn\n43\n1\nq", open_keys = "open\nn\n44\n1\n";
    const std::string other_id = run_id(RUN{other_keys, false, 0, MARROWDEEP_VERSION});
    const std::string open_id = run_id(RUN{open_keys, false, 0, MARROWDEEP_VERSION});
    {
        auto hall = start();
        HTTP_CONNECTION connection(hall->port());
        for (const std::string &keys : {std::string(quick_keys), other_keys, open_keys})
            ASSERT_EQ(connection.ask("POST", "/api/runs", link_of(keys)).status, 201) << keys;
    }
    const std::string path = folder + "/hall.db", db = "sqlite:" + path;
    auto [clean, clean_status] = run_for_output({"reprove", "--db", db, "--proofs", "2"});
    EXPECT_EQ(clean, "marrowdeep-hall: reproved 3 runs: 0 differ\n");
    EXPECT_EQ(clean_status, 0);

    // A level and an ending changed, and a run's link made another's: each found, in the order
    // the runs were kept, with what differs; the run left alone is not named.
    change_by_hand(path, "UPDATE runs SET level = 7, experience = 90 WHERE id = '" + quick_id + "'");
    change_by_hand(path, "UPDATE runs SET ending = 'fell' WHERE id = '" + open_id + "'");
    auto [changed, changed_status] = run_for_output({"reprove", "--db", db});
    EXPECT_EQ(changed,
              quick_id + ": level kept 7, proven 1; experience kept 90, proven 0\n" + open_id +
                  ": ending kept fell, proven unfinished\nmarrowdeep-hall: reproved 3 runs: 2 differ\n");
    EXPECT_EQ(changed_status, 1);
    change_by_hand(path, "UPDATE runs SET level = 1, experience = 0, link = '" + link_of(open_keys) +
                             "' WHERE id = '" + quick_id + "'");
    change_by_hand(path, "UPDATE runs SET ending = 'unfinished' WHERE id = '" + open_id + "'");
    auto [moved, moved_status] = run_for_output({"reprove", "--proofs", "1", "--db", db});
    EXPECT_EQ(moved, quick_id + ": its link is the run " + open_id +
                         "\nmarrowdeep-hall: reproved 3 runs: 1 differ\n");
    EXPECT_EQ(moved_status, 1);

    // Usage and a database that is not there: 2, and no database made.
    for (const auto &[arguments, said] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"reprove", "--proofs", "0", "--db", db}, "--proofs needs a whole number from 1 to 256."},
             {{"reprove", "--db"}, "--db needs a value."},
             {{"reprove", db}, "reprove takes --db URL and --proofs N alone."}}) {
        auto [output, status] = run_for_output(arguments);
        EXPECT_EQ(output, "marrowdeep-hall: " + said + "\nTry marrowdeep-hall --help.\n");
        EXPECT_EQ(status, 2);
    }
    auto [missing, missing_status] = run_for_output({"reprove", "--db", "sqlite:" + folder + "/none.db"});
    EXPECT_EQ(missing, "marrowdeep-hall: there is no database at " + folder + "/none.db\n");
    EXPECT_EQ(missing_status, 2);
    EXPECT_FALSE(std::filesystem::exists(folder + "/none.db"));
}
