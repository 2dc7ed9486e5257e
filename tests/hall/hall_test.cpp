// The hall in process, on SQLite: the digests, names made visible, each answer's exact JSON,
// the boards' order, runs sent twice, the day's seed and board, the feed and the per-address limit.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "hall/names.h"
#include "hall/reprove.h"
#include "hall/signing.h"
#include "tests/hall/hall_fixture.h"

namespace {
// A quick game: the hero "hero", seed 42, Strength, then q on the first map. The program reads
// all 13 bytes and shows level 1; a new hero has no experience.
const char *const quick_keys = "hero\nn\n42\n1\nq";

std::string link_of(const std::string &keys) {
    return write_run_link(RUN{keys, false, 0, MARROWDEEP_VERSION});
}

// The id of that game: the first half of the SHA-256 of its version, clock and keys, each
// after its length (worked out apart, with Python's hashlib): a new version of the game gives
// the same keys another id.
const char *const quick_id = "c0f8baedf1c39b178dedfbce70c19e20";
const std::string quick_record =
    std::string("{\"id\":\"") + quick_id +
    "\",\"name\":\"hero\",\"seed\":42,\"clock\":false,\"version\":\"" MARROWDEEP_VERSION
    "\","
    "\"ending\":\"quit\",\"level\":1,\"experience\":0,\"boss\":false,\"keys\":13,"
    "\"mode\":\"plain\",\"submitted\":\"2026-12-08T14:05:09Z\",\"signed\":false}";
// The same on a board, or a player's list: with the address of its player's page.
const std::string quick_listed = quick_record.substr(0, quick_record.size() - 1) + ",\"player\":\"hero\"}";
}  // namespace

TEST(Names, EveryByteShowsAndNoneActs) {
    EXPECT_EQ(visible_name("hero"), "hero");
    EXPECT_EQ(visible_name(std::string("\x1b[31mred\x1b[0m", 12)), "^[[31mred^[[0m");
    EXPECT_EQ(visible_name(std::string("a\0b", 3)), "a^@b");
    EXPECT_EQ(visible_name("\x7f\x08\t\r\n"), "^?^H^I^M^J");
    EXPECT_EQ(visible_name("\x1f"), "^_");
    // Well-formed UTF-8 stays: two, three and four bytes.
    EXPECT_EQ(visible_name("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"),
              "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80");
    // Bytes that are not UTF-8: a stray continuation, a lone lead byte, a cut sequence, an
    // overlong form, a surrogate, past U+10FFFF, bytes never used.
    EXPECT_EQ(visible_name("\x80"), "\\x80");
    EXPECT_EQ(visible_name("a\xc3"), "a\\xC3");
    EXPECT_EQ(visible_name("\xe2\x82z"), "\\xE2\\x82z");
    EXPECT_EQ(visible_name("\xc0\xaf"), "\\xC0\\xAF");
    EXPECT_EQ(visible_name("\xe0\x80\xaf"), "\\xE0\\x80\\xAF");
    EXPECT_EQ(visible_name("\xed\xa0\x80"), "\\xED\\xA0\\x80");
    EXPECT_EQ(visible_name("\xf4\x90\x80\x80"), "\\xF4\\x90\\x80\\x80");
    EXPECT_EQ(visible_name("\xff\xfe"), "\\xFF\\xFE");
    // Invisible controls: a C1 control (CSI), the right-to-left override, a line separator.
    EXPECT_EQ(visible_name("\xc2\x9b"), "\\xC2\\x9B");
    EXPECT_EQ(visible_name("a\xe2\x80\xae"
                           "b"),
              "a\\xE2\\x80\\xAEb");
    EXPECT_EQ(visible_name("\xe2\x80\xa8"), "\\xE2\\x80\\xA8");
}

TEST_F(HallTest, Health) {
    ANSWER answer = get("/api/health");
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.content_type, "application/json");
    EXPECT_EQ(answer.body, "{\"ok\":true,\"version\":\"" MARROWDEEP_VERSION "\"}");
}

TEST_F(HallTest, SubmitReadAndBoard) {
    ANSWER first = post("/api/runs", link_of(quick_keys));
    EXPECT_EQ(first.status, 201);
    EXPECT_EQ(first.body, quick_record);

    // The same run again, a second later, as a whole link with a line end: the record first kept.
    clock_ms += 1000;
    ANSWER again = post("/api/runs", "https://example.org/marrowdeep/#run=" + link_of(quick_keys) + "\r\n");
    EXPECT_EQ(again.status, 200);
    EXPECT_EQ(again.body, quick_record);
    EXPECT_EQ(store->count(), 1);

    ANSWER read = get(std::string("/api/runs/") + quick_id);
    EXPECT_EQ(read.status, 200);
    EXPECT_EQ(read.body, quick_record.substr(0, quick_record.size() - 1) + ",\"run\":\"" +
                             link_of(quick_keys) + "\",\"player\":\"hero\"}");

    EXPECT_EQ(get("/api/board?seed=42").body, "{\"seed\":42,\"runs\":[" + quick_listed + "]}");
    EXPECT_EQ(get("/api/board").body, "{\"seed\":null,\"runs\":[" + quick_listed + "]}");
    EXPECT_EQ(get("/api/board?seed=43&limit=500").body, "{\"seed\":43,\"runs\":[]}");
    EXPECT_EQ(get("/api/board?seed=-9223372036854775808").body,
              "{\"seed\":-9223372036854775808,\"runs\":[]}");

    // A game whose keys ran out is kept and can be read, but is on no board.
    ANSWER open = post("/api/runs", link_of("rest\nn\n42\n1\n"));
    EXPECT_EQ(open.status, 201);
    EXPECT_NE(open.body.find("\"name\":\"rest\""), std::string::npos);
    EXPECT_NE(open.body.find("\"ending\":\"unfinished\""), std::string::npos);
    EXPECT_EQ(get("/api/board?seed=42").body, "{\"seed\":42,\"runs\":[" + quick_listed + "]}");
    EXPECT_EQ(store->count(), 2);
}

TEST_F(HallTest, ErrorsAreAStatusAndOneSentence) {
    auto expect_error = [](const ANSWER &answer, int status, const std::string &sentence) {
        EXPECT_EQ(answer.status, status);
        EXPECT_EQ(answer.content_type, "application/json");
        EXPECT_EQ(answer.body, "{\"error\":\"" + sentence + "\"}");
    };
    const std::string bad_seed = "The seed must be a whole number, as the game takes it.";
    const std::string bad_limit = "The limit must be a whole number from 1 to 500.";
    expect_error(get("/api/runs/0123456789abcdef0123456789abcdef"), 404, "No run has that id.");
    expect_error(get("/api/runs/"), 404, "There is nothing at this address.");
    expect_error(get("/api/nothing"), 404, "There is nothing at this address.");
    expect_error(get("/index.html"), 404, "There is nothing at this address.");
    expect_error(get("/api/board?seed=x"), 400, bad_seed);
    expect_error(get("/api/board?seed="), 400, bad_seed);
    expect_error(get("/api/board?seed=4.5"), 400, bad_seed);
    expect_error(get("/api/board?seed=%2B4"), 400, bad_seed);
    expect_error(get("/api/board?seed=9223372036854775808"), 400, bad_seed);
    expect_error(get("/api/board?limit=0"), 400, bad_limit);
    expect_error(get("/api/board?limit=501"), 400, bad_limit);
    expect_error(get("/api/board?limit=-1"), 400, bad_limit);
    expect_error(get("/api/daily?limit=ten"), 400, bad_limit);
    expect_error(get("/api/board?seed=%4"), 400, "The address is not well formed.");
    EXPECT_EQ(get("/api/board?seed=%34%32&limit=%35").body, "{\"seed\":42,\"runs\":[]}");

    ANSWER wrong = post("/api/board", "");
    expect_error(wrong, 405, "This address does not take that method.");
    ASSERT_EQ(wrong.headers.size(), 1u);
    EXPECT_EQ(wrong.headers[0], (std::pair<std::string, std::string>("Allow", "GET, HEAD")));
    // Two routes of one path: a method neither takes is refused with the methods of both.
    ANSWER put_runs = handle(hall, {"PUT", "/api/runs", "", "127.0.0.1", "", "", "http", {}, {}});
    expect_error(put_runs, 405, "This address does not take that method.");
    EXPECT_EQ(put_runs.headers,
              (std::vector<std::pair<std::string, std::string>>{{"Allow", "GET, HEAD, POST"}}));

    // What the link reader and the proof say, with their statuses.
    expect_error(post("/api/runs", ""), 400, RUN_LINK_DAMAGED);
    expect_error(post("/api/runs", std::string(MOST_RUN_TEXT + 1, 'A')), 413, RUN_LINK_TOO_LONG);
    ANSWER other_version = post("/api/runs", write_run_link(RUN{quick_keys, false, 0, "1.0"}));
    EXPECT_EQ(other_version.status, 422);
    EXPECT_EQ(nlohmann::json::parse(other_version.body).size(), 1u);
    EXPECT_FALSE(nlohmann::json::parse(other_version.body)["error"].get<std::string>().empty());
    EXPECT_EQ(store->count(), 0);
}

namespace {
KEPT_RUN crafted(const std::string &name, long long seed, bool boss, int level, long long experience,
                 long long keys, long long submitted, const std::string &ending = "quit",
                 const std::string &mode = "plain") {
    static int made = 0;
    KEPT_RUN run;
    run.id = "crafted-" + std::to_string(++made);
    run.record = RECORD{name, seed, false, MARROWDEEP_VERSION, ending, level, experience, boss, keys, mode};
    run.submitted = submitted;
    run.link = "-";
    return run;
}

std::vector<std::string> names_on(STORE &store, BOARD_QUERY query) {
    std::vector<std::string> names;
    for (const KEPT_RUN &run : store.board(query))
        names.push_back(visible_name(run.record.name) + "/" + std::to_string(run.record.seed) + "/" +
                        std::to_string(run.record.level));
    return names;
}
}  // namespace

TEST_F(HallTest, BoardsRankOneRunANameAndSeed) {
    KEPT_RUN kept;
    auto add = [&](const KEPT_RUN &run) { EXPECT_EQ(store->add(run, kept), ADDED::fresh); };
    add(crafted("hero", 7, false, 3, 0, 10, 1));
    add(crafted("hero", 7, false, 4, 0, 10, 2));  // better: takes the place of the first
    add(crafted("hero", 7, false, 2, 0, 10, 3));  // worse: stays off
    add(crafted("level9", 7, false, 9, 0, 10, 11));
    add(crafted("boss-low", 7, true, 1, 0, 900, 10));
    add(crafted("more-keys", 7, false, 5, 200, 50, 13));
    add(crafted("fewer-keys", 7, false, 5, 200, 40, 14));
    add(crafted("late", 7, false, 5, 100, 60, 16));
    add(crafted("early", 7, false, 5, 100, 60, 15));
    add(crafted("fell", 7, false, 6, 0, 60, 17, "fell"));
    add(crafted("unfinished", 7, false, 20, 0, 60, 18, "unfinished"));
    add(crafted("QZRV", 7, false, 30, 10000, 60, 19, "quit", "QZRV"));
    add(crafted("VORTEX", 7, true, 30, 0, 60, 19, "fell", "VORTEX"));
    add(crafted("a\xff", 7, false, 2, 0, 10, 20));
    add(crafted("a\xfe", 7, false, 2, 0, 10, 21));
    add(crafted("hero", 8, false, 8, 0, 10, 22));
    // Equal in everything, the same second: the one taken first.
    add(crafted("twin-1", 9, false, 1, 0, 10, 30));
    add(crafted("twin-2", 9, false, 1, 0, 10, 30));

    BOARD_QUERY seven;
    seven.has_seed = true;
    seven.seed = 7;
    EXPECT_EQ(
        names_on(*store, seven),
        (std::vector<std::string>{"boss-low/7/1", "level9/7/9", "fell/7/6", "fewer-keys/7/5", "more-keys/7/5",
                                  "early/7/5", "late/7/5", "hero/7/4", "a\\xFF/7/2", "a\\xFE/7/2"}));
    BOARD_QUERY every;
    EXPECT_EQ(names_on(*store, every),
              (std::vector<std::string>{"boss-low/7/1", "level9/7/9", "hero/8/8", "fell/7/6",
                                        "fewer-keys/7/5", "more-keys/7/5", "early/7/5", "late/7/5",
                                        "hero/7/4", "a\\xFF/7/2", "a\\xFE/7/2", "twin-1/9/1", "twin-2/9/1"}));
    every.limit = 3;
    EXPECT_EQ(names_on(*store, every), (std::vector<std::string>{"boss-low/7/1", "level9/7/9", "hero/8/8"}));
    EXPECT_EQ(store->count(), 18);

    // Through the API, each entry is the whole record.
    auto board = nlohmann::json::parse(get("/api/board?seed=9").body);
    EXPECT_EQ(board["runs"].size(), 2u);
    EXPECT_EQ(board["runs"][0]["id"], "crafted-17");
    EXPECT_EQ(board["runs"][0]["submitted"], "1970-01-01T00:00:30Z");
}

TEST_F(HallTest, RunsSentAtOnceAreKeptOnce) {
    const std::string link = link_of("many\nn\n5\n2\nq");
    std::vector<ANSWER> answers(8);
    std::vector<std::thread> senders;
    for (std::size_t i = 0; i < answers.size(); ++i)
        senders.emplace_back([&, i] { answers[i] = post("/api/runs", link, "10.0.0." + std::to_string(i)); });
    for (auto &sender : senders) sender.join();
    int created = 0;
    for (const ANSWER &answer : answers) {
        ASSERT_TRUE(answer.status == 201 || answer.status == 200) << answer.status << " " << answer.body;
        created += answer.status == 201;
        EXPECT_EQ(answer.body, answers[0].body);
    }
    EXPECT_EQ(created, 1);
    EXPECT_EQ(store->count(), 1);
}

TEST_F(HallTest, NamesShowVisiblyInValidJson) {
    std::string name("\x1b[2J\x7f\xff\xc3\xa9\x01z");
    ANSWER answer = post("/api/runs", link_of(name + "\nn\n42\n1\nq"));
    ASSERT_EQ(answer.status, 201) << answer.body;
    // The bytes as text: ESC, DEL, a byte that is not UTF-8, an é, a ^A.
    auto record = nlohmann::json::parse(answer.body);
    EXPECT_EQ(record["name"], "^[[2J^?\\xFF\xc3\xa9^Az");
    EXPECT_EQ(answer.body.find('\x1b'), std::string::npos);
    // The bytes themselves are kept: the same name on the board, read back from the database.
    auto board = nlohmann::json::parse(get("/api/board?seed=42").body);
    EXPECT_EQ(board["runs"][0]["name"], "^[[2J^?\\xFF\xc3\xa9^Az");
    KEPT_RUN kept;
    ASSERT_TRUE(store->find(record["id"].get<std::string>(), kept));
    EXPECT_EQ(kept.record.name, name);

    // A name kept before names had a limit shows its first 40 bytes, made visible, and an
    // ellipsis: no answer grows with a name.
    KEPT_RUN old =
        crafted(std::string(39, 'o') + "\x1b" + std::string(100000, 'x'), 43, false, 1, 0, 9, PINNED_SECONDS);
    store->add(old, kept);
    auto old_board = nlohmann::json::parse(get("/api/board?seed=43").body);
    EXPECT_EQ(old_board["runs"][0]["name"], std::string(39, 'o') + "^[...");
}

TEST_F(HallTest, TheDaysSeedAndBoard) {
    // HMAC-SHA-256 of the date under the secret, its first 8 bytes mod 999,999,999, plus one
    // (worked out apart with Python's hmac).
    EXPECT_EQ(daily_seed(test_secret(), "2026-12-08"), 778435890);
    EXPECT_EQ(daily_seed(test_secret(), "2026-12-09"), 929936291);
    EXPECT_EQ(daily_seed(test_secret(), "2000-02-29"), 354245200);
    EXPECT_EQ(daily_seed("another secret", "2026-12-08"), 56126254);
    EXPECT_EQ(utc_date(PINNED_SECONDS), "2026-12-08");
    EXPECT_EQ(utc_time(PINNED_SECONDS), "2026-12-08T14:05:09Z");
    EXPECT_EQ(utc_time(951782400 + 86399), "2000-02-29T23:59:59Z");
    EXPECT_EQ(utc_date(-1), "1969-12-31");

    const long long today = 1796688000;  // 2026-12-08T00:00:00Z
    const long long seed = 778435890;
    const std::string seed_text = std::to_string(seed);
    KEPT_RUN kept;
    // A run of the day's seed kept that day, played live from its first key in a game begun at
    // `begun` (seconds), or not (-1).
    auto of_the_day = [](KEPT_RUN run, long long begun) {
        run.daily = true;
        run.live = begun < 0 ? -1 : begun * 1000;
        return run;
    };
    store->add(
        of_the_day(crafted("yesterday", daily_seed(test_secret(), "2026-12-07"), true, 9, 0, 1, today - 1),
                   today - 60),
        kept);
    store->add(of_the_day(crafted("morning", seed, false, 2, 0, 1, today), today), kept);
    // Two live games of one name: the one begun first is its attempt, though kept last.
    store->add(of_the_day(crafted("evening", seed, false, 3, 0, 1, today + 300), today + 200), kept);
    store->add(of_the_day(crafted("evening", seed, false, 1, 0, 1, today + 86399), today + 100), kept);
    // Sent whole, or played live from mid-run: practice, however good.
    store->add(of_the_day(crafted("sent", seed, false, 9, 0, 1, today + 50), -1), kept);
    // An attempt that ended unfinished (its player left) is spent: the name is not ranked.
    store->add(of_the_day(crafted("left", seed, false, 7, 0, 1, today + 60, "unfinished"), today + 10), kept);
    store->add(of_the_day(crafted("left", seed, false, 5, 0, 1, today + 70), today + 65), kept);
    store->add(crafted("other-seed", seed + 1, true, 9, 0, 1, today + 60), kept);
    // A run of the day's seed sent to the hall: proven, practice.
    ASSERT_EQ(post("/api/runs", link_of("sender\nn\n" + seed_text + "\n1\nq")).status, 201);

    auto names = [](const nlohmann::json &runs) {
        std::string text;
        for (const auto &run : runs) text += run["name"].get<std::string>() + "/" + run["level"].dump() + " ";
        return text;
    };
    auto day = nlohmann::json::parse(get("/api/daily").body);
    EXPECT_EQ(day["date"], "2026-12-08");
    EXPECT_EQ(day["seed"], seed);
    EXPECT_EQ(day["ended"], false);
    EXPECT_EQ(names(day["runs"]), "morning/2 evening/1 ");
    EXPECT_EQ(names(day["practice"]), "sent/9 left/5 evening/3 sender/1 ");
    auto one = nlohmann::json::parse(get("/api/daily?limit=1").body);
    EXPECT_EQ(names(one["runs"]), "morning/2 ");
    EXPECT_EQ(names(one["practice"]), "sent/9 ");
    // Any day begun, by its date; the days before the hall's first run have empty boards.
    EXPECT_EQ(get("/api/daily?date=2026-12-08").body, get("/api/daily").body);
    auto before = nlohmann::json::parse(get("/api/daily?date=2026-12-07").body);
    EXPECT_EQ(before["seed"], daily_seed(test_secret(), "2026-12-07"));
    EXPECT_EQ(before["ended"], true);
    EXPECT_EQ(names(before["runs"]), "yesterday/9 ");
    EXPECT_EQ(names(before["practice"]), "");
    auto leap = nlohmann::json::parse(get("/api/daily?date=2000-02-29").body);
    EXPECT_EQ(leap["seed"], 354245200);
    EXPECT_EQ(leap["runs"].size(), 0u);
    // A day not begun keeps its seed; a date that is not one is refused.
    ANSWER tomorrow = get("/api/daily?date=2026-12-09");
    EXPECT_EQ(tomorrow.status, 404);
    EXPECT_EQ(tomorrow.body.find("929936291"), std::string::npos);
    for (const char *date : {"2026-12-8", "2026-13-01", "2026-02-29", "2026-12-08x", "", "2026/12/08",
                             "+026-12-08", "2026-12-00", "99999-01-01"})
        EXPECT_EQ(get(std::string("/api/daily?date=") + date).status, 400) << date;

    // The last second of the day is still that day; the next is the next day's seed.
    clock_ms = (today + 86399) * 1000 + 999;
    EXPECT_EQ(nlohmann::json::parse(get("/api/daily").body)["seed"], seed);
    clock_ms = (today + 86400) * 1000;
    day = nlohmann::json::parse(get("/api/daily").body);
    EXPECT_EQ(day["date"], "2026-12-09");
    EXPECT_EQ(day["seed"], 929936291);
    ASSERT_EQ(day["runs"].size(), 0u);
    EXPECT_EQ(get("/api/daily?date=2026-12-09").body, get("/api/daily").body);

    // The day has ended: a run of its seed kept now stays off its board.
    auto ended = nlohmann::json::parse(get("/api/daily?date=2026-12-08").body);
    EXPECT_EQ(ended["ended"], true);
    ASSERT_EQ(post("/api/runs", link_of("later\nn\n" + seed_text + "\n2\nq")).status, 201);
    auto frozen = nlohmann::json::parse(get("/api/daily?date=2026-12-08").body);
    EXPECT_EQ(frozen, ended);
    EXPECT_EQ(names(frozen["practice"]), "sent/9 left/5 evening/3 sender/1 ");
    // Nor on the next day's, whose seed it is not.
    EXPECT_EQ(nlohmann::json::parse(get("/api/daily").body)["practice"].size(), 0u);

    // The secret is kept: asked again, the database gives the first one, not the one offered.
    EXPECT_EQ(store->secret("a newer secret"), test_secret());
}

// A player's page: only the runs of the name's exact bytes, newest first and paged without a
// run missed or doubled, the best on each seed with its place, the totals, the claim, and the
// days the name played the day's own seed, with its place on that day's board.
TEST_F(HallTest, APlayersPage) {
    const std::string name("p\x1b\xff/ <b>", 8);
    const std::string path = "/api/players/p%1B%FF%2F%20%3Cb%3E";
    const long long today = 1796688000;  // 2026-12-08T00:00:00Z, whose seed is 778435890
    KEPT_RUN kept;
    std::vector<std::string> ids;  // the name's, as kept
    auto add = [&](const KEPT_RUN &run) {
        ASSERT_EQ(store->add(run, kept), ADDED::fresh);
        if (run.record.name == name) ids.push_back(run.id);
    };
    add(crafted(name, 7, false, 3, 0, 10, today - 86400));
    add(crafted("rival", 7, false, 9, 0, 10, today - 86400));
    add(crafted(name, 7, true, 2, 0, 10, today - 86000));  // a boss: first on seed 7
    add(crafted(name, 8, false, 5, 0, 10, today - 85000));
    add(crafted("rival", 8, false, 9, 0, 10, today - 85000));                   // above it on seed 8
    add(crafted(name, 8, false, 6, 0, 10, today - 84000, "unfinished"));        // on no board
    add(crafted(std::string("p\x1b\xff/ <B>", 8), 8, true, 30, 0, 10, today));  // another name
    // The day's seed played that day: each name's attempt live from its first key, ranked.
    auto attempt = [](KEPT_RUN run, long long live) {
        run.daily = true;
        run.live = live;
        return run;
    };
    add(attempt(crafted(name, 778435890, false, 2, 0, 10, today + 10), today * 1000));
    add(attempt(crafted("rival", 778435890, false, 4, 0, 10, today + 20), today * 1000));  // above it
    add(attempt(crafted("early", 778435890, false, 1, 0, 10, today + 30), today * 1000));  // below it
    add(crafted(name, 778435890, false, 1, 0, 10, today + 86400));  // not the next day's seed

    auto page = nlohmann::json::parse(get(path).body);
    EXPECT_EQ(page["name"], "p^[\\xFF/ <b>");
    EXPECT_EQ(page["player"], "p%1B%FF%2F%20%3Cb%3E");
    EXPECT_EQ(page["claimed"], false);
    EXPECT_EQ(page["key"], nullptr);
    EXPECT_EQ(page["runs_kept"], 6);
    EXPECT_EQ(page["bosses"], 1);
    EXPECT_EQ(page["best_level"], 6);
    EXPECT_EQ(page["next"], nullptr);
    ASSERT_EQ(page["runs"].size(), 6u);
    for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(page["runs"][i]["id"], ids[5 - i]) << i;
    EXPECT_EQ(page["runs"][0]["player"], "p%1B%FF%2F%20%3Cb%3E");
    // The best place first: seed 7 (first, by its boss), the day's seed (second, of all its
    // days), seed 8 (third: below the rival and the name that differs by one letter's case).
    ASSERT_EQ(page["bests"].size(), 3u);
    EXPECT_EQ(page["bests"][0]["id"], ids[1]);
    EXPECT_EQ(page["bests"][0]["place"], 1);
    EXPECT_EQ(page["bests"][1]["id"], ids[4]);
    EXPECT_EQ(page["bests"][1]["seed"], 778435890);
    EXPECT_EQ(page["bests"][1]["place"], 2);
    EXPECT_EQ(page["bests"][2]["id"], ids[2]);
    EXPECT_EQ(page["bests"][2]["place"], 3);
    ASSERT_EQ(page["days"].size(), 1u);
    EXPECT_EQ(page["days"][0]["date"], "2026-12-08");
    EXPECT_EQ(page["days"][0]["seed"], 778435890);
    EXPECT_EQ(page["days"][0]["place"], 2);
    EXPECT_EQ(page["days"][0]["practice"], false);
    EXPECT_EQ(page["days"][0]["run"]["id"], ids[4]);

    // Two at a time: every run once, in order, and the last page says there are no more.
    std::vector<std::string> paged;
    std::string before;
    for (int pages = 0; pages < 3; ++pages) {
        ANSWER answer = get(path + "?limit=2" + (before.empty() ? "" : "&before=" + before));
        ASSERT_EQ(answer.status, 200) << answer.body;
        auto part = nlohmann::json::parse(answer.body);
        ASSERT_EQ(part["runs"].size(), 2u);
        for (const auto &run : part["runs"]) paged.push_back(run["id"]);
        EXPECT_EQ(part["next"].is_null(), pages == 2) << pages;
        if (!part["next"].is_null()) before = part["next"];
    }
    EXPECT_EQ(paged, (std::vector<std::string>{ids[5], ids[4], ids[3], ids[2], ids[1], ids[0]}));

    // A claim shows its key's fingerprint. The run is the next day's seed sent whole: that day
    // the name has practice and no place.
    KEPT_RUN signed_run = crafted(name, 929936291, false, 1, 0, 10, today + 90000);
    signed_run.signer = std::string(32, 'k');
    signed_run.daily = true;
    add(signed_run);
    page = nlohmann::json::parse(get(path + "?limit=1").body);
    EXPECT_EQ(page["claimed"], true);
    EXPECT_EQ(page["key"], key_fingerprint(std::string(32, 'k')));
    EXPECT_EQ(page["runs"][0]["id"], ids[6]);
    EXPECT_EQ(page["next"], ids[6]);
    ASSERT_EQ(page["days"].size(), 2u);
    EXPECT_EQ(page["days"][0]["date"], "2026-12-09");
    EXPECT_EQ(page["days"][0]["seed"], 929936291);
    EXPECT_EQ(page["days"][0]["place"], nullptr);
    EXPECT_EQ(page["days"][0]["practice"], true);
    EXPECT_EQ(page["days"][0]["run"]["id"], ids[6]);
    EXPECT_EQ(page["days"][1]["place"], 2);

    // Places are counted to the 500th: the name's best on seed 9 with 499 bests above it (a
    // boss beaten, a higher level, more experience at its level) and a few below is 500th; one
    // more above takes it off every board the hall gives, and its place is null.
    KEPT_RUN ninth = crafted(name, 9, false, 3, 50, 10, today + 100);
    ninth.signer = std::string(32, 'k');
    add(ninth);
    std::vector<KEPT_RUN> rivals;
    int rivals_made = 0;
    auto rival = [&](bool boss, int level, long long experience, long long keys) {
        rivals.push_back(
            crafted("r" + std::to_string(rivals_made++), 9, boss, level, experience, keys, today));
    };
    for (int i = 0; i < 200; ++i) rival(true, 1, 0, 10);
    for (int i = 0; i < 200; ++i) rival(false, 4, 0, 10);
    for (int i = 0; i < 99; ++i) rival(false, 3, 60, 10);
    for (int i = 0; i < 10; ++i) rival(false, 3, 50, 11);  // more keys: below it
    ASSERT_EQ(store->add_all(rivals), rivals.size());
    auto place_on_nine = [&] {
        auto bests = nlohmann::json::parse(get(path).body)["bests"];
        for (const auto &best : bests)
            if (best["seed"] == 9) return best["place"];
        return nlohmann::json("none");
    };
    EXPECT_EQ(place_on_nine(), 500);
    rivals.clear();
    rival(false, 3, 51, 10);
    ASSERT_EQ(store->add_all(rivals), 1u);
    EXPECT_EQ(place_on_nine(), nullptr);

    EXPECT_EQ(get("/api/players/p").status, 404);
    EXPECT_EQ(get("/api/players/").status, 404);
    EXPECT_EQ(get(path + "?before=crafted-0").status, 400);
    EXPECT_EQ(get("/api/players/rival?before=" + ids[0]).status, 400);  // not one of its runs
    EXPECT_EQ(get(path + "?limit=501").status, 400);
}

TEST_F(HallTest, EachAddressHasItsOwnLimit) {
    // 30 runs at once, good or bad, then the 31st waits; another address does not.
    for (int i = 0; i < 30; ++i) ASSERT_EQ(post("/api/runs", "x", "192.0.2.1").status, 400) << i;
    ANSWER refused = post("/api/runs", link_of(quick_keys), "192.0.2.1");
    EXPECT_EQ(refused.status, 429);
    EXPECT_EQ(refused.body,
              "{\"error\":\"Too many runs from your address; wait a minute, then send again.\"}");
    EXPECT_EQ(post("/api/runs", link_of(quick_keys), "192.0.2.2").status, 201);
    // Two seconds bring one run back (30 a minute), and only one.
    clock_ms += 1999;
    EXPECT_EQ(post("/api/runs", "x", "192.0.2.1").status, 429);
    clock_ms += 1;
    EXPECT_EQ(post("/api/runs", link_of(quick_keys), "192.0.2.1").status, 200);
    EXPECT_EQ(post("/api/runs", "x", "192.0.2.1").status, 429);
    // A clock that steps back gives nothing back and takes nothing away.
    clock_ms -= 60000;
    EXPECT_EQ(post("/api/runs", "x", "192.0.2.1").status, 429);
    EXPECT_EQ(store->count(), 1);
}

TEST_F(HallTest, ABusyDatabaseAnswers503ThenTheHallGoesOn) {
    sqlite3 *other = nullptr;
    ASSERT_EQ(sqlite3_open((folder + "/hall.db").c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    ANSWER busy = post("/api/runs", link_of(quick_keys));
    EXPECT_EQ(busy.status, 503);
    EXPECT_EQ(busy.body, "{\"error\":\"The hall's database is busy; try again in a moment.\"}");
    ASSERT_EQ(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(other);
    EXPECT_EQ(post("/api/runs", link_of(quick_keys)).status, 201);
    EXPECT_EQ(store->count(), 1);
}

TEST_F(HallTest, TheSitesFilesAndNothingBeside) {
    std::filesystem::create_directories(folder + "/site/sub");
    std::ofstream(folder + "/site/index.html") << "<!doctype html>";
    std::ofstream(folder + "/site/page.js") << "export {};";
    std::ofstream(folder + "/site/sub/game.wasm") << "\0asm";
    std::ofstream(folder + "/site/manifest.webmanifest") << "{}";
    std::ofstream(folder + "/secret.txt") << "not for you";
    std::filesystem::create_symlink(folder + "/secret.txt", folder + "/site/out.txt");
    hall.site = folder + "/site";

    ANSWER index = get("/");
    EXPECT_EQ(index.status, 200);
    EXPECT_EQ(index.content_type, "text/html; charset=utf-8");
    EXPECT_EQ(index.body, "<!doctype html>");
    EXPECT_EQ(get("/page.js?v=1").content_type, "text/javascript; charset=utf-8");
    EXPECT_EQ(get("/sub/game.wasm").content_type, "application/wasm");
    EXPECT_EQ(get("/manifest.webmanifest").content_type, "application/manifest+json");
    EXPECT_EQ(get("/%70age.js").body, "export {};");
    for (const char *escape :
         {"/../secret.txt", "/%2e%2e/secret.txt", "/sub/../../secret.txt", "/sub/%2E%2E/index.html",
          "/out.txt", "/sub", "/sub/", "//etc/passwd", "/..%2fsecret.txt", "/.%2e/secret.txt",
          "/%5c..%5csecret.txt", "/index.html%00.js", "/nothing.js"}) {
        ANSWER answer = get(escape);
        EXPECT_EQ(answer.status, 404) << escape;
        EXPECT_EQ(answer.body.find("not for you"), std::string::npos) << escape;
    }
    // A page's policy from its <meta> tag, as a field too, with framing forbidden.
    auto policy_of = [](const ANSWER &answer) {
        for (const auto &[field, value] : answer.headers)
            if (field == "Content-Security-Policy") return value;
        return std::string("(none)");
    };
    EXPECT_EQ(policy_of(index), "frame-ancestors 'none'");
    std::ofstream(folder + "/site/hall.html")
        << "<!doctype html>\n<meta http-equiv=\"Content-Security-Policy\"\n      content=\"default-src "
           "'self'; "
           "img-src 'self' data:\">\n<title>x</title>";
    EXPECT_EQ(policy_of(get("/hall.html")),
              "default-src 'self'; img-src 'self' data:; frame-ancestors 'none'");
    EXPECT_EQ(policy_of(get("/page.js")), "(none)");
    ANSWER posted = post("/index.html", "x");
    EXPECT_EQ(posted.status, 405);
    EXPECT_EQ(posted.headers[0].second, "GET, HEAD");
    // The API stays the hall's with a site.
    EXPECT_EQ(get("/api/health").status, 200);
}

namespace {
// A request answered through its route with the queues watched: the queue of each step posted, in
// order, and the answers given. A queue named `full` takes no job, as a server's full queue.
struct WATCHED {
    std::vector<QUEUE> queues;
    std::vector<ANSWER> answers;
};
WATCHED answered_watching(HALL &hall, REQUEST request, std::optional<QUEUE> full = std::nullopt) {
    WATCHED watched;
    WORKERS workers{[&](QUEUE queue, std::function<void()> job) {
                        watched.queues.push_back(queue);
                        if (queue == full) return false;
                        job();
                        return true;
                    },
                    [&](ANSWER answer) { watched.answers.push_back(std::move(answer)); }};
    answer_request(hall, std::move(request), workers);
    return watched;
}
REQUEST request_of(const std::string &method, const std::string &target, const std::string &body = "",
                   const std::string &origin = "") {
    return REQUEST{method, target, body, "127.0.0.1", "127.0.0.1", origin, "http", {}, {}};
}
}  // namespace

TEST_F(HallTest, EachStepRunsOnTheQueueItsRouteNames) {
    using QUEUES = std::vector<QUEUE>;
    auto expect_answer = [](const WATCHED &watched, int status, const std::string &what) {
        ASSERT_EQ(watched.answers.size(), 1u) << what;
        EXPECT_EQ(watched.answers[0].status, status) << what << ": " << watched.answers[0].body;
    };
    // A new run: admitted on the network thread, read on the store's, proven on the proofs', kept
    // on the store's. Sent again, the store finds it and it is not proven again.
    WATCHED fresh = answered_watching(hall, request_of("POST", "/api/runs", link_of(quick_keys)));
    EXPECT_EQ(fresh.queues, (QUEUES{QUEUE::network, QUEUE::store, QUEUE::proof, QUEUE::store}));
    expect_answer(fresh, 201, "a new run");
    EXPECT_EQ(fresh.answers[0].body, quick_record);
    WATCHED again = answered_watching(hall, request_of("POST", "/api/runs", link_of(quick_keys)));
    EXPECT_EQ(again.queues, (QUEUES{QUEUE::network, QUEUE::store}));
    expect_answer(again, 200, "a run kept");
    // A damaged run stops where it is read.
    WATCHED damaged = answered_watching(hall, request_of("POST", "/api/runs", "x"));
    EXPECT_EQ(damaged.queues, (QUEUES{QUEUE::network, QUEUE::store}));
    expect_answer(damaged, 400, "a damaged run");

    // What the database holds is read on the store's queue.
    for (const std::string &target :
         std::vector<std::string>{"/api/board?seed=42", "/api/daily", std::string("/api/runs/") + quick_id,
                                  "/api/runs/ffff", "/api/runs?limit=5"}) {
        WATCHED read = answered_watching(hall, request_of("GET", target));
        EXPECT_EQ(read.queues, QUEUES{QUEUE::store}) << target;
        expect_answer(read, target == "/api/runs/ffff" ? 404 : 200, target);
    }
    // The health of a hall that has not looked at its database yet: the store looks.
    WATCHED health = answered_watching(hall, request_of("HEAD", "/api/health"));
    EXPECT_EQ(health.queues, (QUEUES{QUEUE::network, QUEUE::store}));
    expect_answer(health, 200, "health");

    // Refusals wait on no queue, nor do the API's addresses of nothing; without a site, no path
    // outside the API is anything, whatever the method.
    for (const auto &[request, status] : std::vector<std::pair<REQUEST, int>>{
             {request_of("PUT", "/api/runs"), 405},
             {request_of("POST", "/api/health"), 405},
             {request_of("GET", "/api/board?seed=%4"), 400},
             {request_of("POST", "/api/board", "", "https://elsewhere.example"), 403},
             {request_of("POST", "/index.html"), 404},
             {request_of("GET", "/"), 404}}) {
        WATCHED refused = answered_watching(hall, request);
        EXPECT_EQ(refused.queues, QUEUES{}) << request.method << " " << request.target;
        expect_answer(refused, status, request.method + " " + request.target);
    }
    // The live games are listed from the network thread (none in a hall without a server); their
    // sockets' addresses, asked without the upgrade, answer 426 there too. A watcher's id is one
    // part of the path.
    WATCHED listed = answered_watching(hall, request_of("GET", "/api/live"));
    EXPECT_EQ(listed.queues, QUEUES{QUEUE::network});
    expect_answer(listed, 200, "the live games");
    EXPECT_EQ(listed.answers[0].body, "{\"games\":[]}");
    for (const char *socket : {"/api/live/play", "/api/live/0123/watch"}) {
        WATCHED plain = answered_watching(hall, request_of("GET", socket));
        EXPECT_EQ(plain.queues, QUEUES{QUEUE::network}) << socket;
        expect_answer(plain, 426, socket);
        EXPECT_EQ(plain.answers[0].body, "{\"error\":\"This address takes only a WebSocket.\"}");
    }
    EXPECT_EQ(answered_watching(hall, request_of("POST", "/api/live/play")).answers.at(0).status, 405);
    for (const char *nothing : {"/api", "/api/", "/api/nothing", "/api/runsx", "/api/live/watch",
                                "/api/live//watch", "/api/live/a/b/watch", "/api/live/a/watchx"}) {
        WATCHED missing = answered_watching(hall, request_of("DELETE", nothing));
        EXPECT_EQ(missing.queues, QUEUES{QUEUE::network}) << nothing;
        expect_answer(missing, 404, nothing);
    }
    // A site's files are read on the store's queue.
    std::filesystem::create_directories(folder + "/site");
    std::ofstream(folder + "/site/index.html") << "<!doctype html>";
    hall.site = folder + "/site";
    WATCHED page = answered_watching(hall, request_of("GET", "/"));
    EXPECT_EQ(page.queues, QUEUES{QUEUE::store});
    expect_answer(page, 200, "the site's page");
    EXPECT_EQ(answered_watching(hall, request_of("POST", "/")).answers.at(0).status, 405);

    // A full queue: the request is answered busy at once, and no later step runs.
    WATCHED unproven =
        answered_watching(hall, request_of("POST", "/api/runs", link_of("busy\nn\n7\n1\nq")), QUEUE::proof);
    EXPECT_EQ(unproven.queues, (QUEUES{QUEUE::network, QUEUE::store, QUEUE::proof}));
    expect_answer(unproven, 503, "a full proof queue");
    EXPECT_EQ(unproven.answers[0].body, "{\"error\":\"The hall is busy; try again in a moment.\"}");
    EXPECT_EQ(unproven.answers[0].headers,
              (std::vector<std::pair<std::string, std::string>>{{"Retry-After", "1"}}));
    WATCHED unread = answered_watching(hall, request_of("GET", "/api/board"), QUEUE::store);
    EXPECT_EQ(unread.queues, QUEUES{QUEUE::store});
    expect_answer(unread, 503, "a full store queue");
    EXPECT_EQ(store->count(), 1);
}

namespace {
// The lines of an NDJSON body, each with its line end taken off; the body must end with one.
std::vector<std::string> lines_of(const std::string &body) {
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < body.size();) {
        std::size_t end = body.find('\n', at);
        EXPECT_NE(end, std::string::npos) << "a line without its end";
        if (end == std::string::npos) break;
        lines.push_back(body.substr(at, end - at));
        at = end + 1;
    }
    return lines;
}
}  // namespace

TEST_F(HallTest, TheRunsExportedPageByPageOnceEachInOrder) {
    const std::string bad_limit = "{\"error\":\"The limit must be a whole number from 1 to 1000.\"}";
    const std::string unknown = "{\"error\":\"No run has the id given as after.\"}";
    ANSWER none = get("/api/runs");
    EXPECT_EQ(none.status, 200);
    EXPECT_EQ(none.content_type, "application/x-ndjson");
    EXPECT_EQ(none.body, "");

    // 10,000 runs kept in one transaction, in a known order: most unfinished (kept, on no board),
    // every tenth on the boards.
    constexpr int total = 10000;
    std::vector<KEPT_RUN> runs;
    std::vector<std::string> ids;
    for (int i = 0; i < total; ++i) {
        KEPT_RUN run = crafted("p" + std::to_string(i % 97), i % 13, false, 1 + i % 7, i, 20 + i,
                               PINNED_SECONDS - total + i, i % 10 == 0 ? "quit" : "unfinished");
        char id[33];
        std::snprintf(id, sizeof id, "%032x", (i * 7919) % total);  // not in the order kept
        run.id = id;
        run.link = "link-" + std::to_string(i);
        ids.push_back(run.id);
        runs.push_back(std::move(run));
    }
    ASSERT_EQ(store->add_all(runs), static_cast<std::size_t>(total));
    EXPECT_EQ(store->add_all(runs), 0u);  // kept once
    EXPECT_EQ(store->count(), total);

    // Pages of 1,000 through all of them, then pages of 777 (no whole number of the store's
    // batches) through the last 2,000: each run once, in the order kept, each line its run's
    // record with its link, exact.
    for (const int limit : {1000, 777}) {
        const int from = limit == 1000 ? 0 : total - 2000;
        std::vector<std::string> seen;
        std::string after = from ? ids[static_cast<std::size_t>(from - 1)] : "";
        int pages = 0;
        for (;;) {
            ANSWER page =
                get("/api/runs?limit=" + std::to_string(limit) + (after.empty() ? "" : "&after=" + after));
            ASSERT_EQ(page.status, 200) << page.body;
            EXPECT_EQ(page.content_type, "application/x-ndjson");
            std::vector<std::string> lines = lines_of(page.body);
            ++pages;
            if (lines.empty()) break;
            EXPECT_LE(lines.size(), static_cast<std::size_t>(limit));
            // Each line is its record's exact bytes: its id first, then its link and its name in
            // an address last.
            for (const std::string &line : lines) {
                const std::size_t at = static_cast<std::size_t>(from) + seen.size();
                seen.push_back(line.substr(7, 32));
                if (at >= ids.size()) continue;
                EXPECT_EQ(line.substr(0, 47), "{\"id\":\"" + ids[at] + "\",\"name\"");
                const std::string end = ",\"run\":\"link-" + std::to_string(at) + "\",\"player\":\"p" +
                                        std::to_string(at % 97) + "\"}";
                EXPECT_EQ(line.substr(line.size() - std::min(line.size(), end.size())), end);
            }
            after = seen.back();
            ASSERT_LE(pages, (total - from) / limit + 2) << "the pages do not end";
        }
        EXPECT_EQ(pages, (total - from) / limit + ((total - from) % limit ? 2 : 1));
        EXPECT_EQ(seen, std::vector<std::string>(ids.begin() + from, ids.end())) << "limit " << limit;
    }
    for (int at : {0, 4321, total - 1}) {
        ANSWER one = get("/api/runs?limit=1" + (at ? "&after=" + ids[at - 1] : std::string()));
        EXPECT_EQ(one.body, get("/api/runs/" + ids[at]).body + "\n");
    }
    EXPECT_EQ(lines_of(get("/api/runs").body).size(), 100u);  // the default limit
    EXPECT_EQ(get("/api/runs?after=" + ids.back()).body, "");

    for (const char *limit : {"0", "1001", "-1", "", "ten", "%2B5", "99999999999999999999"}) {
        ANSWER refused = get(std::string("/api/runs?limit=") + limit);
        EXPECT_EQ(refused.status, 400) << limit;
        EXPECT_EQ(refused.body, bad_limit) << limit;
        EXPECT_EQ(refused.content_type, "application/json");
    }
    for (const std::string &after :
         {std::string(), std::string("ffff"), ids[5] + "0", std::string("crafted-1")}) {
        ANSWER refused = get("/api/runs?after=" + after);
        EXPECT_EQ(refused.status, 404) << after;
        EXPECT_EQ(refused.body, unknown) << after;
    }
}

TEST_F(HallTest, AnExportPageStopsPastItsBytes) {
    // Runs of 300,000 bytes of link each: a page of 1,000 stops at the first run that takes it
    // past its 4 MiB, and the next page goes on from there.
    constexpr int total = 30;
    std::vector<KEPT_RUN> runs;
    for (int i = 0; i < total; ++i) {
        KEPT_RUN run = crafted("big", 1, false, 1, 0, 1, PINNED_SECONDS, "unfinished");
        run.link = std::string(300000, static_cast<char>('a' + i % 26));
        runs.push_back(std::move(run));
    }
    store->add_all(runs);
    std::size_t read = 0;
    std::string after;
    for (int page_number = 0; page_number < 3; ++page_number) {
        ANSWER page = get("/api/runs?limit=1000" + (after.empty() ? "" : "&after=" + after));
        std::vector<std::string> lines = lines_of(page.body);
        ASSERT_FALSE(lines.empty());
        if (read + lines.size() < total) {
            EXPECT_GE(page.body.size(), MOST_EXPORT_BYTES);
            EXPECT_LT(page.body.size() - lines.back().size() - 1, MOST_EXPORT_BYTES);
        }
        for (const std::string &line : lines) {
            nlohmann::json record = nlohmann::json::parse(line);
            EXPECT_EQ(record.at("id"), runs[read].id);
            EXPECT_EQ(record.at("run"), runs[read].link);
            ++read;
        }
        after = runs[read - 1].id;
        if (read == total) break;
    }
    EXPECT_EQ(read, static_cast<std::size_t>(total));
    EXPECT_EQ(get("/api/runs?after=" + after).body, "");
}

TEST_F(HallTest, ReproveReportsEachRunOnceInTheOrderKept) {
    // 1,200 runs, many pages on three threads: the quick game as the hall keeps it, and around it
    // runs whose links cannot be read. Each of those is reported once, in the order kept, and the
    // quick game is not.
    std::vector<KEPT_RUN> runs;
    std::vector<std::string> expected;
    for (int i = 0; i < 1200; ++i) {
        KEPT_RUN run = crafted("p" + std::to_string(i), 1, false, 1, 0, 1, PINNED_SECONDS, "quit");
        if (i == 600) {
            run.id = quick_id;
            run.record = RECORD{"hero", 42, false, MARROWDEEP_VERSION, "quit", 1, 0, false, 13, "plain"};
            run.link = link_of(quick_keys);
        } else {
            expected.push_back(run.id);
        }
        runs.push_back(std::move(run));
    }
    store->add_all(runs);
    std::vector<std::string> reported;
    REPROOF_COUNT count = reprove_all(*store, 3, [&](const std::string &line) {
        const std::size_t colon = line.find(": its link cannot be read: ");
        EXPECT_NE(colon, std::string::npos) << line;
        reported.push_back(line.substr(0, colon));
    });
    EXPECT_EQ(reported, expected);
    EXPECT_EQ(count.runs, 1200);
    EXPECT_EQ(count.differing, 1199);

    // The quick game's level changed by hand is found, whatever the threads.
    KEPT_RUN quick;
    ASSERT_TRUE(store->find(quick_id, quick));
    quick.record.level = 2;
    EXPECT_EQ(reproof_difference(quick), "level kept 2, proven 1");
}

TEST_F(HallTest, TheFeedCarriesFirstPlacesAndTheDaysWinnersAsAtom) {
    const long long today = 1796688000;  // 2026-12-08T00:00:00Z
    const long long yesterday = today - 86400;
    auto of_the_day = [](KEPT_RUN run, long long begun) {
        run.daily = true;
        run.live = begun * 1000;
        return run;
    };
    const long long yesterdays = daily_seed(test_secret(), "2026-12-07");
    const long long todays = daily_seed(test_secret(), "2026-12-08");
    KEPT_RUN winner, second, today_first, plain, hostile, low;
    store->add(of_the_day(crafted("winner\"'", yesterdays, false, 4, 0, 1, yesterday + 100), yesterday + 50),
               winner);
    store->add(of_the_day(crafted("second", yesterdays, false, 2, 0, 1, yesterday + 200), yesterday + 60),
               second);
    store->add(of_the_day(crafted("today", todays, false, 3, 0, 1, today + 10), today + 5), today_first);
    store->add(crafted("a<b&c", 7, false, 2, 0, 1, PINNED_SECONDS - 100), plain);
    store->add(crafted("\x01\x1b]x\xef\xbf\xbe</title>", 7, false, 3, 0, 1, PINNED_SECONDS - 50), hostile);
    store->add(crafted("low", 7, false, 1, 0, 1, PINNED_SECONDS - 10), low);

    hall.origins = {"https://halls.example/"};
    ANSWER feed = get("/feed.atom");
    ASSERT_EQ(feed.status, 200);
    EXPECT_EQ(feed.content_type, "application/atom+xml");
    EXPECT_EQ(feed.body.find('\x1b'), std::string::npos);
    const std::string file = folder + "/feed.atom";
    std::ofstream(file, std::ios::binary) << feed.body;
    std::string said;
    {
        FILE *reader = popen((FEED_PYTHON " " READ_FEED " '" + file + "'").c_str(), "r");
        ASSERT_NE(reader, nullptr);
        char buffer[4096];
        for (std::size_t got; (got = fread(buffer, 1, sizeof buffer, reader)) > 0;) said.append(buffer, got);
        ASSERT_EQ(pclose(reader), 0) << said;
    }
    const std::string base = "https://halls.example";
    auto page = [&](const KEPT_RUN &run) { return base + "/run.html?id=" + run.id; };
    auto first = [&](const KEPT_RUN &run, const std::string &title, const std::string &when) {
        return nlohmann::json::array({page(run) + "#first", title, when, page(run)});
    };
    nlohmann::json expected{
        {"bozo", false},
        {"version", "atom10"},
        {"id", base + "/feed.atom"},
        {"title", "Marrowdeep hall"},
        {"updated", "2026-12-08T14:04:19Z"},
        {"entries",
         {first(hostile, "^A^[]x\\xEF\\xBF\\xBE</title> takes first place on seed 7", "2026-12-08T14:04:19Z"),
          first(plain, "a<b&c takes first place on seed 7", "2026-12-08T14:03:29Z"),
          first(today_first, "today takes first place on seed " + std::to_string(todays),
                "2026-12-08T00:00:10Z"),
          {base + "/hall.html?day=2026-12-07", "winner\"' wins the day of 2026-12-07", "2026-12-08T00:00:00Z",
           page(winner)},
          first(winner, "winner\"' takes first place on seed " + std::to_string(yesterdays),
                "2026-12-07T00:01:40Z")}}};
    EXPECT_EQ(nlohmann::json::parse(said), expected);

    // Without an origin, the links are under the Host the request names, when it is a plain one.
    hall.origins.clear();
    auto feed_id = [&](const std::string &host) {
        std::string body =
            handle(hall, {"GET", "/feed.atom", "", "127.0.0.1", host, "", "http", {}, {}}).body;
        std::size_t open = body.find("<id>"), close = body.find("</id>");
        return open == std::string::npos || close == std::string::npos
                   ? body
                   : body.substr(open + 4, close - open - 4);
    };
    EXPECT_EQ(feed_id("hall.test:8080"), "http://hall.test:8080/feed.atom");
    EXPECT_EQ(feed_id("evil\"><x"), "http://localhost/feed.atom");
    EXPECT_EQ(feed_id(""), "http://localhost/feed.atom");
}
