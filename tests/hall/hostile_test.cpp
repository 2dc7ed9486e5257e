// The real marrowdeep-hall on 127.0.0.1 against requests made to stop or abuse it: chunked
// requests with huge trailers and extensions, transfer codings it cannot frame, names without
// end, copies of other players' runs, posts from other sites, a proxy's forwarded addresses, and
// more connections than it has room for. After each, the hall still answers.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/hall/hall_fixture.h"
#include "tests/hall/hall_process.h"

namespace {
std::string link_of(const std::string &keys, bool has_clock = false, long long clock = 0) {
    return write_run_link(RUN{keys, has_clock, clock, MARROWDEEP_VERSION});
}

std::string id_in(const HTTP_ANSWER &answer) {
    auto body = nlohmann::json::parse(answer.body, nullptr, false);
    return body.is_object() && body.contains("id") ? body["id"].get<std::string>() : "";
}

// A field of /proc/PID/status, in kB ("VmHWM", the most memory the process has held).
long long status_kb(pid_t pid, const std::string &field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field + ":", 0) == 0) return std::stoll(line.substr(field.size() + 1));
    return -1;
}

// The processor time the process has had, user and system, in clock ticks.
long long processor_ticks(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) utime = std::stoll(field);
        if (i == 15) stime = std::stoll(field);
    }
    return utime + stime;
}

std::size_t open_descriptors(pid_t pid) {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto &entry :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd"))
        ++count;
    return count;
}

// Every answer of the hall says who wrote it, without its version, and forbids sniffing and
// framing.
void expect_guarded(const HTTP_ANSWER &answer, const std::string &what) {
    auto field = [&](const std::string &name) {
        auto found = answer.fields.find(name);
        return found == answer.fields.end() ? std::string("(none)") : found->second;
    };
    EXPECT_EQ(field("server"), "marrowdeep-hall") << what;
    EXPECT_EQ(field("x-content-type-options"), "nosniff") << what;
    EXPECT_EQ(field("content-security-policy"), "frame-ancestors 'none'") << what;
}

class HostileTest : public ::testing::Test {
  protected:
    void SetUp() override { folder = temporary_folder(); }
    void TearDown() override { std::filesystem::remove_all(folder); }
    std::unique_ptr<HALL_PROCESS> start(std::vector<std::string> more = {}) {
        std::vector<std::string> arguments{"--listen", "127.0.0.1:0", "--db",
                                           "sqlite:" + folder + "/hall.db"};
        arguments.insert(arguments.end(), more.begin(), more.end());
        return std::make_unique<HALL_PROCESS>(
            arguments, std::vector<std::pair<std::string, std::string>>{
                           {"MARROWDEEP_HALL_TEST_CLOCK", std::to_string(PINNED_SECONDS)}});
    }
    std::string folder;
};
}  // namespace

TEST_F(HostileTest, ChunksTrailersAndCodingsHeldToTheirLimits) {
    auto hall = start();
    const std::string chunked_start =
        "GET /api/health HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n";

    // A trailer field of 65,534 bytes once ended the process; now the trailer is held to the
    // header's limit and refused.
    HTTP_CONNECTION trailer(hall->port());
    ASSERT_TRUE(trailer.send(chunked_start + "0\r\nX: " + std::string(65534, 'a') + "\r\n\r\n"));
    HTTP_ANSWER too_long = trailer.read_answer();
    EXPECT_EQ(too_long.status, 431);
    EXPECT_EQ(too_long.body, "{\"error\":\"The request's trailer fields or a chunk's line are too long.\"}");
    EXPECT_TRUE(trailer.closed_by_hall());
    expect_guarded(too_long, "431");
    // A small trailer is taken.
    HTTP_CONNECTION small(hall->port());
    ASSERT_TRUE(small.send(chunked_start + "0\r\nX-Note: fine\r\n\r\n"));
    EXPECT_EQ(small.read_answer().status, 200);

    // Extensions past 256 bytes are refused, and a line of a chunk past the header's limit too.
    HTTP_CONNECTION extension(hall->port());
    ASSERT_TRUE(extension.send(chunked_start + "4;" + std::string(300, 'e') + "\r\nabcd\r\n0\r\n\r\n"));
    HTTP_ANSWER refused = extension.read_answer();
    EXPECT_EQ(refused.status, 400);
    EXPECT_EQ(refused.body,
              "{\"error\":\"The request's chunk extensions are too long or not well formed.\"}");

    // A chunk extension of 300 MB sent as fast as the hall takes it: the hall refuses it after
    // its first 16 KB and the memory it holds does not grow with it.
    const long long before_kb = status_kb(hall->pid(), "VmHWM");
    ASSERT_GT(before_kb, 0);
    {
        HTTP_CONNECTION flood(hall->port());
        ASSERT_TRUE(flood.send("POST /api/runs HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n4;"));
        const std::string megabyte(1 << 20, 'a');
        for (int sent = 0; sent < 300 && flood.send(megabyte); ++sent) {
        }
    }
    const long long after_kb = status_kb(hall->pid(), "VmHWM");
    // A bound with room for the sanitizers' own keeping (under 40 MB seen), far below the 300 MB
    // an extension buffered whole would take.
    EXPECT_LT(after_kb - before_kb, 128 * 1024) << before_kb << " kB before, " << after_kb << " kB after";

    // Codings the hall cannot frame: refused, and the request hidden in the body never answered.
    for (const char *coding : {"xchunked", "chunked, identity", "gzip"}) {
        HTTP_CONNECTION smuggler(hall->port());
        const std::string hidden = "GET /api/daily HTTP/1.1\r\nHost: x\r\n\r\n";
        ASSERT_TRUE(smuggler.send("POST /api/runs HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: " +
                                  std::string(coding) + "\r\n\r\n" + hidden));
        HTTP_ANSWER answer = smuggler.read_answer();
        EXPECT_EQ(answer.status, 501) << coding;
        EXPECT_EQ(answer.body, "{\"error\":\"The hall takes no transfer coding but chunked.\"}");
        EXPECT_EQ(answer.fields["connection"], "close");
        EXPECT_TRUE(smuggler.closed_by_hall()) << coding;
    }

    // An HTTP/1.0 client is sent no interim answer, whatever its Expect says.
    HTTP_CONNECTION old(hall->port());
    const std::string link = link_of("old\nn\n3\n1\nq");
    ASSERT_TRUE(old.send("POST /api/runs HTTP/1.0\r\nHost: x\r\nExpect: 100-continue\r\nContent-Length: " +
                         std::to_string(link.size()) + "\r\n\r\n" + link));
    EXPECT_EQ(old.read_answer().status, 201);

    // The absolute form a proxy may send.
    HTTP_CONNECTION absolute(hall->port());
    HTTP_ANSWER health = absolute.ask("GET", "http://127.0.0.1/api/health");
    EXPECT_EQ(health.status, 200);
    EXPECT_EQ(health.body, "{\"ok\":true,\"version\":\"" MARROWDEEP_VERSION "\"}");
    expect_guarded(health, "health");
    expect_guarded(absolute.ask("GET", "/nothing"), "404");

    // Still the same process, answering.
    EXPECT_EQ(kill(hall->pid(), 0), 0);
    EXPECT_EQ(ask_once(hall->port(), "GET", "/api/health").status, 200);
    EXPECT_EQ(hall->errors().find("terminate"), std::string::npos) << hall->errors();
    hall->signal(SIGTERM);
    EXPECT_EQ(hall->wait_for_exit(), 0);
}

TEST_F(HostileTest, NamesCopiesAndBytesAfterTheEnd) {
    auto hall = start({"--rate", "0"});
    HTTP_CONNECTION connection(hall->port());

    // A name of 41 bytes is refused before it is played; 40 are taken.
    const std::string forty(40, 'n');
    HTTP_ANSWER long_name = connection.ask("POST", "/api/runs", link_of(forty + "x\nn\n42\n1\nq"));
    EXPECT_EQ(long_name.status, 422);
    EXPECT_EQ(long_name.body,
              "{\"error\":\"The hero's name is longer than 40 bytes; the hall takes names of at most 40.\"}");
    HTTP_ANSWER longest = connection.ask("POST", "/api/runs", link_of(forty + "\nn\n42\n1\nq"));
    EXPECT_EQ(longest.status, 201) << longest.body;

    // The first run of a game, then the same game under a shorter name: a copy, refused with the
    // first run's id and not kept.
    HTTP_ANSWER first = connection.ask("POST", "/api/runs", link_of("first\nn\n7\n1\nddq"));
    ASSERT_EQ(first.status, 201) << first.body;
    for (const char *copy : {"f\nn\n7\n1\nddq", "  other \t\n\nn\n7\n1\nddq"}) {
        HTTP_ANSWER copied = connection.ask("POST", "/api/runs", link_of(copy));
        EXPECT_EQ(copied.status, 409) << copied.body;
        EXPECT_EQ(id_in(copied), id_in(first));
        EXPECT_EQ(nlohmann::json::parse(copied.body)["error"],
                  "This game was sent before under another name: it is that run's copy, and the hall "
                  "keeps the first.");
    }
    // Another game of the same name and seed is no copy.
    EXPECT_EQ(connection.ask("POST", "/api/runs", link_of("first\nn\n7\n1\ndq")).status, 201);
    HTTP_ANSWER board = connection.ask("GET", "/api/board?seed=7");
    EXPECT_EQ(nlohmann::json::parse(board.body)["runs"].size(), 1u) << board.body;

    // Bytes after the game's end are dropped: the run is kept as the game read it, under the id of
    // the run without them, and the same game with other bytes after its end is that run again.
    HTTP_ANSWER trailing = connection.ask("POST", "/api/runs", link_of("tail\nn\n8\n1\nqjunk"));
    ASSERT_EQ(trailing.status, 201) << trailing.body;
    EXPECT_EQ(nlohmann::json::parse(trailing.body)["keys"], 12);
    HTTP_ANSWER plain = connection.ask("POST", "/api/runs", link_of("tail\nn\n8\n1\nq"));
    EXPECT_EQ(plain.status, 200) << plain.body;
    EXPECT_EQ(id_in(plain), id_in(trailing));
    EXPECT_EQ(connection.ask("POST", "/api/runs", link_of("tail\nn\n8\n1\nqother")).status, 200);
    HTTP_ANSWER kept = connection.ask("GET", "/api/runs/" + id_in(trailing));
    RUN_READING read = read_run_link(nlohmann::json::parse(kept.body)["run"].get<std::string>());
    ASSERT_TRUE(read.ok);
    EXPECT_EQ(read.run.keys, "tail\nn\n8\n1\nq");

    // A clock second on a run whose seed was typed would give one game many ids.
    HTTP_ANSWER clocked =
        connection.ask("POST", "/api/runs", link_of("typed\nn\n9\n1\nq", true, PINNED_SECONDS));
    EXPECT_EQ(clocked.status, 400);
    EXPECT_EQ(clocked.body,
              "{\"error\":\"This run's seed was typed, so its link must hold no clock second.\"}");
    EXPECT_EQ(connection.ask("POST", "/api/runs", link_of("typed\ny\n1\nq", true, PINNED_SECONDS)).status,
              201);
}

TEST_F(HostileTest, OtherSitesAndTheProxysAddresses) {
    auto hall = start({"--rate", "1", "--origin", "https://halls.example/", "--trust-proxy", "127.0.0.1"});
    HTTP_CONNECTION connection(hall->port());
    auto post = [&](const std::string &keys, std::vector<std::pair<std::string, std::string>> fields) {
        return connection.ask("POST", "/api/runs", link_of(keys), fields);
    };
    // Another site's page: refused before it counts against anyone's limit.
    HTTP_ANSWER foreign =
        post("a\nn\n1\n1\nq", {{"Origin", "https://elsewhere.example"}, {"X-Forwarded-For", "192.0.2.1"}});
    EXPECT_EQ(foreign.status, 403);
    EXPECT_EQ(foreign.body, "{\"error\":\"The hall takes runs only from its own pages.\"}");
    EXPECT_EQ(post("a\nn\n1\n1\nq", {{"Origin", "null"}, {"X-Forwarded-For", "192.0.2.1"}}).status, 403);
    // Its own pages (http:// and the Host asked for), the origin named, and tools with none.
    EXPECT_EQ(
        post("b\nn\n2\n1\nq", {{"Origin", "http://127.0.0.1"}, {"X-Forwarded-For", "192.0.2.1"}}).status,
        201);
    EXPECT_EQ(
        post("c\nn\n3\n1\nq", {{"Origin", "https://HALLS.example"}, {"X-Forwarded-For", "192.0.2.2"}}).status,
        201);
    EXPECT_EQ(post("d\nn\n4\n1\nq", {{"X-Forwarded-For", "192.0.2.3"}}).status, 201);

    // Behind the proxy each client has its limit (one run a minute here): the last address the
    // proxy added is the client's; one it cannot read falls back to the proxy's own.
    HTTP_ANSWER again = post("e\nn\n5\n1\nq", {{"X-Forwarded-For", "203.0.113.9, 192.0.2.3"}});
    EXPECT_EQ(again.status, 429);
    EXPECT_EQ(again.fields["retry-after"], "60");
    EXPECT_EQ(post("f\nn\n6\n1\nq", {{"X-Forwarded-For", "192.0.2.3, 192.0.2.4"}}).status, 201);
    EXPECT_EQ(post("g\nn\n7\n1\nq", {{"X-Forwarded-For", "not an address"}}).status, 201);
    EXPECT_EQ(post("h\nn\n8\n1\nq", {}).status, 429);
    // Served by the proxy over https, its pages' origin is https:// and the Host; the plain http://
    // one is no longer the hall's. A client's own X-Forwarded-Proto is not read.
    EXPECT_EQ(post("i\nn\n9\n1\nq", {{"Origin", "https://127.0.0.1"},
                                     {"X-Forwarded-Proto", "https"},
                                     {"X-Forwarded-For", "192.0.2.5"}})
                  .status,
              201);
    EXPECT_EQ(post("j\nn\n10\n1\nq", {{"Origin", "http://127.0.0.1"},
                                      {"X-Forwarded-Proto", "https"},
                                      {"X-Forwarded-For", "192.0.2.6"}})
                  .status,
              403);
    // A request refused before it is read whole is logged under its own client, not the one
    // before it on the same connection.
    ASSERT_TRUE(
        connection.send("POST /api/runs HTTP/1.1\r\nHost: x\r\nX-Forwarded-For: 192.0.2.7\r\n"
                        "Content-Length: 80000\r\n\r\n"));
    EXPECT_EQ(connection.read_answer().status, 413);
    // The log is read as it comes from the hall's standard error: each line is waited for.
    for (const char *line : {" 192.0.2.7 POST /api/runs 413 ", " 192.0.2.4 POST /api/runs 201 ",
                             " 127.0.0.1 POST /api/runs 429 "})
        EXPECT_TRUE(hall->wait_for_error(line)) << line << "\n" << hall->errors();
    hall->signal(SIGTERM);
    EXPECT_EQ(hall->wait_for_exit(), 0);

    // A hall that trusts no proxy reads no forwarded address, and tells when a run is allowed
    // again: 30 runs a minute are one every 2 seconds.
    auto direct = start({"--rate", "30"});
    HTTP_CONNECTION flood(direct->port());
    HTTP_ANSWER last;
    for (int i = 0; i < 31; ++i)
        last = flood.ask("POST", "/api/runs", "not a run",
                         {{"X-Forwarded-For", "192.0.2." + std::to_string(i)}});
    EXPECT_EQ(last.status, 429);
    EXPECT_EQ(last.fields["retry-after"], "2");
    HTTP_ANSWER told = flood.ask("POST", "/api/runs", "not a run",
                                 {{"Origin", "https://127.0.0.1"}, {"X-Forwarded-Proto", "https"}});
    EXPECT_EQ(told.status, 403);
}

TEST_F(HostileTest, ConnectionsPastTheCapWaitAndDescriptorsRunningOutDoNotSpin) {
    // Five connections at most: a sixth waits, unanswered, until one of the five closes.
    auto hall = start({"--connections", "5"});
    std::vector<std::unique_ptr<HTTP_CONNECTION>> five;
    for (int i = 0; i < 5; ++i) {
        five.push_back(std::make_unique<HTTP_CONNECTION>(hall->port()));
        ASSERT_EQ(five.back()->ask("GET", "/nothing").status, 404);
    }
    HTTP_CONNECTION sixth(hall->port());
    ASSERT_TRUE(sixth.send("GET /nothing HTTP/1.1\r\nHost: x\r\n\r\n"));
    EXPECT_EQ(sixth.read_answer(false, std::chrono::milliseconds(300)).status, 0);
    five.pop_back();
    EXPECT_EQ(sixth.read_answer().status, 404);
    five.clear();
    hall->signal(SIGTERM);
    EXPECT_EQ(hall->wait_for_exit(), 0);

    // Out of descriptors: the hall's limit set a few above what it holds, then twenty clients.
    auto tight = start();
    ASSERT_EQ(ask_once(tight->port(), "GET", "/nothing").status, 404);
    const rlim_t room = static_cast<rlim_t>(open_descriptors(tight->pid()) + 4);
    rlimit limit{room, room};
    ASSERT_EQ(prlimit(tight->pid(), RLIMIT_NOFILE, &limit, nullptr), 0);
    std::vector<std::unique_ptr<HTTP_CONNECTION>> clients;
    for (int i = 0; i < 20; ++i) {
        clients.push_back(std::make_unique<HTTP_CONNECTION>(tight->port()));
        ASSERT_TRUE(clients.back()->send("GET /nothing HTTP/1.1\r\nHost: x\r\n\r\n"));
    }
    ASSERT_TRUE(tight->wait_for_error("cannot take a connection")) << tight->errors();
    // While clients wait, the hall must not spin on its accepts: its processor time over the
    // next while stays a small share of the time passed (spinning took nearly all of it).
    const long long ticks_before = processor_ticks(tight->pid());
    const auto from = std::chrono::steady_clock::now();
    // The window: every client's answer looked for in turn, for a second and a half in all.
    std::vector<bool> answered(clients.size(), false);
    while (std::chrono::steady_clock::now() - from < std::chrono::milliseconds(1500)) {
        for (std::size_t i = 0; i < clients.size(); ++i)
            if (!answered[i])
                answered[i] = clients[i]->read_answer(false, std::chrono::milliseconds(20)).status == 404;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
    const double used = static_cast<double>(processor_ticks(tight->pid()) - ticks_before) /
                        static_cast<double>(sysconf(_SC_CLK_TCK));
    EXPECT_LT(used, 0.25 * seconds) << used << " s of processor in " << seconds << " s";
    EXPECT_FALSE(answered.back());
    // Once connections close, the one still waiting is answered, and a new one too.
    clients.erase(clients.begin(), clients.end() - 1);
    EXPECT_EQ(clients.back()->read_answer().status, 404) << tight->errors();
    HTTP_CONNECTION late(tight->port());
    EXPECT_EQ(late.ask("GET", "/nothing").status, 404) << tight->errors();
}
