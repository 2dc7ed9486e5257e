// Live games on the real marrowdeep-hall: a player's socket and its watchers', the exact
// messages of each, a game resumed with its token, the limits and their close codes (a watcher
// that falls behind, a socket that answers no ping), the day's seed relayed late, a player gone
// for good, and the keys acknowledged kept through a SIGKILL.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>

#include "hall/api.h"
#include "hall/run_link.h"
#include "tests/hall/hall_fixture.h"
#include "tests/hall/hall_process.h"
#include "tests/hall/live_socket.h"
#include "tests/hall/player_key.h"

using JSON = nlohmann::json;

namespace {
// The record of the game whose keys are "hero\nn\n42\n1\nq", taken at the pinned second.
const std::string quick_record =
    "{\"id\":\"c0f8baedf1c39b178dedfbce70c19e20\",\"name\":\"hero\",\"seed\":42,\"clock\":false,"
    "\"version\":\"" MARROWDEEP_VERSION
    "\",\"ending\":\"quit\",\"level\":1,\"experience\":0,\"boss\":false,\"keys\":13,"
    "\"mode\":\"plain\",\"submitted\":\"2026-12-08T14:05:09Z\",\"signed\":false}";

std::string link_of(const std::string &keys) {
    return write_run_link(RUN{keys, false, 0, MARROWDEEP_VERSION});
}
std::string id_of(const std::string &keys) { return run_id(RUN{keys, false, 0, MARROWDEEP_VERSION}); }
// A game's first message signed with `key`: in a live game's context unless told, over the id
// of the run of `signed_keys` (the keys sent unless told).
std::string signed_start(const std::string &keys, const PLAYER_KEY &key,
                         std::string_view context = LIVE_CONTEXT, const std::string &signed_keys = "") {
    const std::string signature =
        key.sign(std::string(context) + id_of(signed_keys.empty() ? keys : signed_keys));
    return JSON{{"run", link_of(keys)}, {"key", key.key_text()}, {"signature", write_base64url(signature)}}
        .dump();
}
std::string signed_end(const std::string &keys, const PLAYER_KEY &key) {
    return JSON{{"end", true}, {"key", key.key_text()}, {"signature", key.signature_text(id_of(keys))}}
        .dump();
}
// The quick game's record, signed by `key`.
std::string signed_quick_record(const PLAYER_KEY &key) {
    return quick_record.substr(0, quick_record.size() - std::string("false}").size()) + "true,\"key\":\"" +
           key_fingerprint(key.raw()) + "\"}";
}
const std::string name_taken = "4403: " + std::string(NAME_TAKEN_SENTENCE);
const std::string end_not_the_starts =
    "This game's start was signed: its end must be signed by the same key, over the id of every key it "
    "holds.";
std::string listing_of(const std::string &id, const std::string &name, const std::string &seed,
                       const std::string &keys, int watchers, int delayed) {
    return "{\"id\":\"" + id + "\",\"name\":\"" + name + "\",\"seed\":" + seed +
           ",\"clock\":false,\"version\":\"" MARROWDEEP_VERSION "\",\"keys\":" + keys +
           ",\"watchers\":" + std::to_string(watchers) +
           ",\"started\":\"2026-12-08T14:05:09Z\",\"last\":\"2026-12-08T14:05:09Z\",\"delayed\":" +
           std::to_string(delayed) + ",\"signed\":false}";
}

class LiveTest : public ::testing::Test {
  protected:
    void SetUp() override { folder = temporary_folder(); }
    void TearDown() override { std::filesystem::remove_all(folder); }
    std::unique_ptr<HALL_PROCESS> start(std::vector<std::pair<std::string, std::string>> more = {}) {
        std::vector<std::pair<std::string, std::string>> environment{
            {"MARROWDEEP_HALL_TEST_CLOCK", std::to_string(PINNED_SECONDS)}};
        environment.insert(environment.end(), more.begin(), more.end());
        return std::make_unique<HALL_PROCESS>(
            std::vector<std::string>{"--listen", "127.0.0.1:0", "--db", "sqlite:" + folder + "/hall.db"},
            environment);
    }
    // The listing, asked until it says what `until` looks for (the seed is found by a proof, in
    // a moment); the last one asked when the bound passes.
    std::string listing(unsigned short port, const std::string &until = "") {
        const auto bound = std::chrono::steady_clock::now() + GENEROUS_WAIT;
        for (;;) {
            HTTP_ANSWER answer = ask_once(port, "GET", "/api/live");
            if (until.empty() || answer.body.find(until) != std::string::npos ||
                std::chrono::steady_clock::now() > bound)
                return answer.body;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    std::string folder;
};
}  // namespace

TEST_F(LiveTest, APlayerAndTheirWatchersExactly) {
    auto hall = start();
    EXPECT_EQ(ask_once(hall->port(), "GET", "/api/live").body, "{\"games\":[]}");
    // Without the upgrade, the sockets' addresses answer 426.
    HTTP_ANSWER plain = ask_once(hall->port(), "GET", "/api/live/play");
    EXPECT_EQ(plain.status, 426);
    EXPECT_EQ(plain.fields["upgrade"], "websocket");
    EXPECT_EQ(plain.body, "{\"error\":\"This address takes only a WebSocket.\"}");

    SOCKET player(hall->port(), "/api/live/play");
    STARTED game = begin_game(player, "hero\n");
    EXPECT_EQ(game.keys, 5);
    // Its seed is not known yet: held back as the day's would be, its keys not shown.
    EXPECT_EQ(listing(hall->port()),
              "{\"games\":[" + listing_of(game.id, "hero", "null", "0", 0, 300) + "]}");

    SOCKET first(hall->port(), "/api/live/" + game.id + "/watch");
    EXPECT_EQ(first.read_text(), "{\"run\":\"" + link_of("") +
                                     "\",\"game\":" + listing_of(game.id, "hero", "null", "0", 1, 300) + "}");

    // The seed typed, and the way of fighting: the maze is planted, and the keys held back come
    // at once; after them each batch as it comes.
    player.binary("n\n4");
    player.binary("2\n");
    // Two messages of a moment are committed together, or one after the other.
    std::string acked = player.read_text();
    if (acked == "{\"keys\":8}") acked = player.read_text();
    EXPECT_EQ(acked, "{\"keys\":10}");
    player.binary("1\n");
    EXPECT_EQ(player.read_text(), "{\"keys\":12}");
    EXPECT_EQ(first.read_binary(), "hero\nn\n42\n1\n");
    EXPECT_EQ(listing(hall->port(), "\"seed\":42"),
              "{\"games\":[" + listing_of(game.id, "hero", "42", "12", 1, 0) + "]}");

    // A second watcher joins half-way: the keys so far, then the rest, each once, in order; the
    // first is told how many watch.
    SOCKET second(hall->port(), "/api/live/" + game.id + "/watch");
    EXPECT_EQ(second.read_text(), "{\"run\":\"" + link_of("hero\nn\n42\n1\n") +
                                      "\",\"game\":" + listing_of(game.id, "hero", "42", "12", 2, 0) + "}");
    EXPECT_EQ(first.read_text(), "{\"watchers\":2}");
    {
        SOCKET third(hall->port(), "/api/live/" + game.id + "/watch");
        EXPECT_EQ(third.read_text().rfind("{\"run\":", 0), 0u);
        EXPECT_EQ(first.read_text(), "{\"watchers\":3}");
        EXPECT_EQ(second.read_text(), "{\"watchers\":3}");
        third.close();
    }
    EXPECT_EQ(first.read_text(), "{\"watchers\":2}");
    EXPECT_EQ(second.read_text(), "{\"watchers\":2}");
    player.binary("q");
    EXPECT_EQ(player.read_text(), "{\"keys\":13}");
    EXPECT_EQ(first.read_binary(), "q");
    EXPECT_EQ(second.read_binary(), "q");

    // The end: the run proved and kept as a submission, its record to the player and watchers.
    player.text("{\"end\": true}");
    EXPECT_EQ(player.read_text(), "{\"record\":" + quick_record + "}");
    EXPECT_EQ(player.read_close(), "1000: The game has ended.");
    for (SOCKET *watcher : {&first, &second}) {
        EXPECT_EQ(watcher->read_text(), "{\"end\":" + quick_record + "}");
        EXPECT_EQ(watcher->read_close(), "1000: The game has ended.");
    }
    EXPECT_EQ(ask_once(hall->port(), "GET", "/api/live").body, "{\"games\":[]}");
    EXPECT_EQ(ask_once(hall->port(), "GET", "/api/runs/c0f8baedf1c39b178dedfbce70c19e20").status, 200);
    // The game is over: its id watches nothing, its token resumes nothing.
    SOCKET late(hall->port(), "/api/live/" + game.id + "/watch");
    EXPECT_EQ(late.read_close(), "4404: No live game has that id.");
    SOCKET again(hall->port(), "/api/live/play");
    again.text(resume_message("hero\nn\n42\n1\nq", game.token));
    EXPECT_EQ(again.read_close(), "4401: No live game holds that token; it may have ended.");
}

TEST_F(LiveTest, AGameResumedWithItsTokenAndOnlyThen) {
    auto hall = start();
    std::optional<SOCKET> player(std::in_place, hall->port(), "/api/live/play");
    STARTED game = begin_game(*player, "hero\n");
    player->binary("n\n42\n");
    EXPECT_EQ(player->read_text(), "{\"keys\":10}");
    // Keys sent without waiting for their answer are not acknowledged: the page sends them again.
    player->binary("1\n");
    player->close();

    // A wrong token, and a run that does not go on from the keys held, are refused.
    {
        SOCKET wrong(hall->port(), "/api/live/play");
        wrong.text(resume_message("hero\nn\n42\n", std::string(64, '0')));
        EXPECT_EQ(wrong.read_close(), "4401: No live game holds that token; it may have ended.");
        SOCKET other(hall->port(), "/api/live/play");
        other.text(resume_message("hero\nn\n43\n", game.token));
        EXPECT_EQ(other.read_close(),
                  "4409: The run does not go on from the keys the hall holds for this game.");
        SOCKET shorter(hall->port(), "/api/live/play");
        shorter.text(resume_message("hero\nn\n4", game.token));
        EXPECT_EQ(shorter.read_close(),
                  "4409: The run does not go on from the keys the hall holds for this game.");
    }

    // The whole run again with the token: the hall holds 10 or 12 keys (the last two were not
    // answered, so may not be held); the page goes on after them.
    player.emplace(hall->port(), "/api/live/play");
    player->text(resume_message("hero\nn\n42\n1\n", game.token));
    std::string resumed = player->read_text();
    const std::string prefix = "{\"id\":\"" + game.id + "\",\"token\":\"" + game.token + "\",\"keys\":";
    ASSERT_TRUE(resumed == prefix + "10}" || resumed == prefix + "12}") << resumed;
    if (resumed == prefix + "10}") {
        player->binary("1\n");
        EXPECT_EQ(player->read_text(), "{\"keys\":12}");
    }

    // Resumed on another page: the first is closed, and the second goes on.
    SOCKET elsewhere(hall->port(), "/api/live/play");
    elsewhere.text(resume_message("hero\nn\n42\n1\n", game.token));
    EXPECT_EQ(elsewhere.read_text(), prefix + "12}");
    EXPECT_EQ(player->read_close(), "4001: This game was resumed on another page.");
    elsewhere.binary("q");
    EXPECT_EQ(elsewhere.read_text(), "{\"keys\":13}");
    elsewhere.text("{\"end\":true}");
    EXPECT_EQ(elsewhere.read_text(), "{\"record\":" + quick_record + "}");
}

TEST_F(LiveTest, EveryLimitClosesWithItsCodeAndKeepsNothingWrong) {
    auto hall = start();
    const unsigned short port = hall->port();
    auto refused_first = [&](const std::string &message, bool binary = false,
                             const std::string &origin = "") {
        SOCKET player(port, "/api/live/play", origin);
        if (binary)
            player.binary(message);
        else
            player.text(message);
        return player.read_close();
    };
    const std::string first_wrong =
        "4400: The first message must be {\"run\": the run's link text}, with \"key\" and \"signature\" when "
        "signed, or \"token\" to resume.";
    EXPECT_EQ(refused_first("hello"), first_wrong);
    EXPECT_EQ(refused_first("{\"run\": 5}"), first_wrong);
    EXPECT_EQ(refused_first("{\"run\": \"x\", \"token\": 1}"), first_wrong);
    // A key and a signature: text, both or neither, and never with a token (a game resumed keeps
    // its start's key); nothing else beside them.
    PLAYER_KEY key;
    JSON start = JSON::parse(signed_start("hero\n", key));
    for (const char *field : {"key", "signature"}) {
        JSON without = start, number = start;
        without.erase(field);
        number[field] = 1;
        EXPECT_EQ(refused_first(without.dump()), first_wrong) << field;
        EXPECT_EQ(refused_first(number.dump()), first_wrong) << field;
    }
    JSON more = start;
    more["token"] = std::string(64, 'a');
    EXPECT_EQ(refused_first(more.dump()), first_wrong);
    more = start;
    more["name"] = "hero";
    EXPECT_EQ(refused_first(more.dump()), first_wrong);
    // Read as a submission's fields are: base64url of the right lengths, without padding.
    more = start;
    more["key"] = key.key_text() + "=";
    EXPECT_EQ(refused_first(more.dump()),
              "4400: The run's key must be a 32-byte Ed25519 public key in base64url, without padding.");
    more = start;
    more["signature"] = more["signature"].get<std::string>().substr(4);
    EXPECT_EQ(refused_first(more.dump()),
              "4400: The run's signature must be a 64-byte Ed25519 signature in base64url, without padding.");
    EXPECT_EQ(refused_first(run_message("hero\n"), true), first_wrong);
    EXPECT_EQ(refused_first(JSON{{"run", link_of("hero\\n").substr(0, 12)}}.dump()),
              "4400: " + std::string(RUN_LINK_DAMAGED));
    EXPECT_EQ(refused_first(JSON{{"run", write_run_link(RUN{"hero\n", false, 0, "1.0"})}}.dump()),
              "4422: This run is of another version of the game; the hall cannot relay it.");
    EXPECT_EQ(refused_first(run_message(std::string(41, 'n') + "\n")),
              "4422: The hero's name is longer than 40 bytes; the hall takes at most 40.");
    // The first message may hold a run's whole link (70 KB), no more.
    EXPECT_EQ(refused_first(JSON{{"run", std::string(70 * 1024, 'A')}}.dump()),
              "1009: The first message may hold at most 70 KB.");
    // At most 100,000 keys a game: a game begun with 100,000 takes no more.
    SOCKET full(port, "/api/live/play");
    STARTED most = begin_game(full, "hero\n" + std::string(99995, ' '));
    EXPECT_EQ(most.keys, 100000);
    full.binary("q");
    EXPECT_EQ(full.read_close(), "4413: A game holds at most 100,000 keys.");

    // Another site's page may not play; the hall's own may.
    EXPECT_EQ(refused_first(run_message("hero\n"), false, "http://elsewhere.example"),
              "4403: The hall takes live games only from its own pages.");
    SOCKET own(port, "/api/live/play", "http://127.0.0.1:" + std::to_string(port));
    STARTED game = begin_game(own, "hero\n");
    EXPECT_EQ(game.keys, 5);
    // Every message after the first at most 4 KB: the one too long is not kept.
    own.binary(std::string(4097, 'x'));
    EXPECT_EQ(own.read_close(), "1009: A message may hold at most 4 KB.");
    SOCKET resumed(port, "/api/live/play");
    resumed.text(resume_message("hero\n", game.token));
    EXPECT_EQ(resumed.read_text(),
              "{\"id\":\"" + game.id + "\",\"token\":\"" + game.token + "\",\"keys\":5}");
    // Text other than the end is refused.
    resumed.text("{\"end\": 1}");
    EXPECT_EQ(resumed.read_close(),
              "4400: Keys come in binary messages, and the game's end as {\"end\": true}.");

    // Keys faster than anyone types: over 2,000 at once. None of them are kept.
    SOCKET fast(port, "/api/live/play");
    STARTED quick = begin_game(fast, "hero\n");
    fast.binary(std::string(2001, 'x'));
    EXPECT_EQ(fast.read_close(),
              "4429: Keys are coming faster than anyone types: over 200 a second for 10 seconds.");
    SOCKET slow(port, "/api/live/play");
    slow.text(resume_message("hero\n", quick.token));
    EXPECT_EQ(slow.read_text(), "{\"id\":\"" + quick.id + "\",\"token\":\"" + quick.token + "\",\"keys\":5}");

    // At most 4 games from one address at once, their players there or not.
    SOCKET fourth(port, "/api/live/play");
    begin_game(fourth, "hero\n");
    SOCKET fifth(port, "/api/live/play");
    fifth.text(run_message("hero\n"));
    EXPECT_EQ(fifth.read_close(), "4429: An address may play at most 4 live games at once.");
    EXPECT_EQ(JSON::parse(ask_once(port, "GET", "/api/live").body)["games"].size(), 4u);

    // A watcher of no game; and past 32 sockets from one address.
    SOCKET nobody(port, "/api/live/0123/watch");
    EXPECT_EQ(nobody.read_close(), "4404: No live game has that id.");
    std::vector<std::unique_ptr<SOCKET>> watchers;
    std::string refused;
    for (int i = 0; i < 40 && refused.empty(); ++i) {
        watchers.push_back(std::make_unique<SOCKET>(port, "/api/live/" + quick.id + "/watch"));
        HEARD heard = watchers.back()->read();
        if (!heard.message) refused = std::to_string(heard.code) + ": " + heard.reason;
    }
    EXPECT_EQ(refused, "4429: Too many live connections from your address; close some first.");
    EXPECT_LE(watchers.size(), 32u);
}

TEST_F(LiveTest, KeysAcknowledgedOutliveASigkillAndTheGameGoesOn) {
    STARTED game;
    PLAYER_KEY key, other_key;
    {
        auto hall = start();
        SOCKET player(hall->port(), "/api/live/play");
        player.text(signed_start("hero\n", key));
        game = started_game(player);
        player.binary("n\n42\n");
        EXPECT_EQ(player.read_text(), "{\"keys\":10}");
        hall->signal(SIGKILL);
        EXPECT_EQ(hall->wait_for_exit(), -1);
    }
    // The hall started again holds the game, its player gone; the page resumes it from 10.
    auto hall = start();
    EXPECT_EQ(JSON::parse(ask_once(hall->port(), "GET", "/api/live").body)["games"][0]["id"], game.id);
    SOCKET player(hall->port(), "/api/live/play");
    player.text(resume_message("hero\nn\n42\n1\nq", game.token));
    EXPECT_EQ(player.read_text(),
              "{\"id\":\"" + game.id + "\",\"token\":\"" + game.token + "\",\"keys\":10}");
    player.binary("1\nq");
    EXPECT_EQ(player.read_text(), "{\"keys\":13}");
    // Its start's key came through too: an end signed by another is refused.
    player.text(signed_end("hero\nn\n42\n1\nq", other_key));
    EXPECT_EQ(player.read_text(), "{\"error\":\"" + end_not_the_starts + "\"}");
    EXPECT_EQ(player.read_close(), "4403: " + end_not_the_starts);
    SOCKET again(hall->port(), "/api/live/play");
    again.text(resume_message("hero\nn\n42\n1\nq", game.token));
    EXPECT_EQ(started_game(again).keys, 13);
    again.text(signed_end("hero\nn\n42\n1\nq", key));
    EXPECT_EQ(again.read_text(), "{\"record\":" + signed_quick_record(key) + "}");

    // A hall stopped with sockets open closes them, saying why, and stops at once: the player
    // above, which never answered its close, is not waited for.
    SOCKET other(hall->port(), "/api/live/play");
    STARTED next = begin_game(other, "another\n");
    SOCKET watcher(hall->port(), "/api/live/" + next.id + "/watch");
    EXPECT_EQ(watcher.read_text().rfind("{\"run\":", 0), 0u);
    hall->signal(SIGTERM);
    EXPECT_EQ(other.read_close(), "1001: The hall is stopping; come back in a moment.");
    EXPECT_EQ(watcher.read_close(), "1001: The hall is stopping; come back in a moment.");
    EXPECT_EQ(hall->wait_for_exit(), 0);
}

TEST_F(LiveTest, TheDaysSeedIsWatchedFiveMinutesLate) {
    // The hall's clock is the second the file holds, written whole by a rename so the hall never
    // reads it half written.
    const std::string clock = folder + "/clock";
    auto set_clock = [&](long long seconds) {
        std::ofstream(clock + ".new") << seconds;
        std::filesystem::rename(clock + ".new", clock);
    };
    set_clock(PINNED_SECONDS);
    auto hall = start({{"MARROWDEEP_HALL_TEST_CLOCK_FILE", clock}});
    const std::string seed = JSON::parse(ask_once(hall->port(), "GET", "/api/daily").body)["seed"].dump();
    SOCKET player(hall->port(), "/api/live/play");
    STARTED game = begin_game(player, "hero\nn\n" + seed + "\n1\n");
    SOCKET watcher(hall->port(), "/api/live/" + game.id + "/watch");
    // Known as the day's (the seed is found in a moment): listed, its keys held back.
    const std::string listed = listing(hall->port(), "\"seed\":" + seed);
    EXPECT_EQ(JSON::parse(listed)["games"][0]["delayed"], 300) << listed;
    EXPECT_EQ(JSON::parse(listed)["games"][0]["keys"], 0) << listed;
    EXPECT_EQ(watcher.read_text().rfind("{\"run\":\"" + link_of("") + "\"", 0), 0u);
    // A key a minute later.
    set_clock(PINNED_SECONDS + 60);
    player.binary("q");
    EXPECT_EQ(player.read_text(), "{\"keys\":" + std::to_string(11 + seed.size()) + "}");
    // Five minutes after the first keys they come, and the one after them a minute later.
    set_clock(PINNED_SECONDS + 300);
    EXPECT_EQ(watcher.read_binary(), "hero\nn\n" + seed + "\n1\n");
    set_clock(PINNED_SECONDS + 360);
    EXPECT_EQ(watcher.read_binary(), "q");
}

TEST_F(LiveTest, APlayerGoneTenMinutesLeavesAnUnfinishedRun) {
    // The ten minutes are 40 read deadlines: 4 seconds of 100 milliseconds here. The hall's
    // clock is a file's second, moved on below so the games begin at seconds of their own.
    const std::string clock = folder + "/clock";
    auto set_clock = [&](long long second) {
        std::ofstream(clock + ".new") << second;
        std::filesystem::rename(clock + ".new", clock);
    };
    set_clock(PINNED_SECONDS);
    auto hall = start({{"MARROWDEEP_HALL_TEST_TIMEOUTS", "100"}, {"MARROWDEEP_HALL_TEST_CLOCK_FILE", clock}});
    // A name claimed by a key, whose player begins the day's seed signed and leaves it: the
    // game is kept as that key's run, the name's attempt of the day, spent.
    PLAYER_KEY key;
    {
        SOCKET claim(hall->port(), "/api/live/play");
        begin_game(claim, "owner\nn\n42\n1\nq");
        claim.text(signed_end("owner\nn\n42\n1\nq", key));
        EXPECT_EQ(JSON::parse(claim.read_text())["record"]["signed"], true);
    }
    const std::string seed = JSON::parse(ask_once(hall->port(), "GET", "/api/daily").body)["seed"].dump();
    const std::string attempt = "owner\nn\n" + seed + "\n";
    {
        SOCKET player(hall->port(), "/api/live/play");
        player.text(signed_start(attempt, key));
        started_game(player);
        player.binary("1\n");
        EXPECT_EQ(player.read_text(), "{\"keys\":" + std::to_string(attempt.size() + 2) + "}");
        player.close();
    }
    STARTED game;
    {
        SOCKET player(hall->port(), "/api/live/play");
        game = begin_game(player, "hero\nn\n42\n");
        player.binary("1\n");
        EXPECT_EQ(player.read_text(), "{\"keys\":12}");
        player.close();
    }
    SOCKET watcher(hall->port(), "/api/live/" + game.id + "/watch");
    std::string first = watcher.read_text();
    if (first.rfind("{\"run\":\"" + link_of("hero\nn\n42\n1\n") + "\"", 0) != 0) {
        // Joined before the seed was found: the keys come once it is.
        EXPECT_EQ(first.rfind("{\"run\":\"" + link_of("") + "\"", 0), 0u) << first;
        EXPECT_EQ(watcher.read_binary(), "hero\nn\n42\n1\n");
    }
    EXPECT_EQ(watcher.read_text(), "{\"stopped\":true}");
    EXPECT_EQ(watcher.read_close(), "1000: The game has ended.");
    EXPECT_EQ(ask_once(hall->port(), "GET", "/api/live").body, "{\"games\":[]}");
    const std::string id = run_id(RUN{"hero\nn\n42\n1\n", false, 0, MARROWDEEP_VERSION});
    HTTP_ANSWER kept = ask_once(hall->port(), "GET", "/api/runs/" + id);
    EXPECT_EQ(kept.status, 200);
    EXPECT_EQ(JSON::parse(kept.body)["ending"], "unfinished");
    // Its token resumes nothing now.
    SOCKET late(hall->port(), "/api/live/play");
    late.text(resume_message("hero\nn\n42\n1\n", game.token));
    EXPECT_EQ(late.read_close(), "4401: No live game holds that token; it may have ended.");

    // The signed game left, kept by the same moments.
    const std::string left = id_of(attempt + "1\n");
    HTTP_ANSWER kept_left = ask_once(hall->port(), "GET", "/api/runs/" + left);
    for (const auto bound = std::chrono::steady_clock::now() + GENEROUS_WAIT;
         kept_left.status == 404 && std::chrono::steady_clock::now() < bound;
         kept_left = ask_once(hall->port(), "GET", "/api/runs/" + left))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(kept_left.status, 200) << kept_left.body;
    JSON record = JSON::parse(kept_left.body);
    EXPECT_EQ(record["ending"], "unfinished");
    EXPECT_EQ(record["signed"], true);
    EXPECT_EQ(record["key"], key_fingerprint(key.raw()));
    // The name's next game of the day's seed, live from its first key too, is practice.
    set_clock(PINNED_SECONDS + 1);
    SOCKET next(hall->port(), "/api/live/play");
    next.text(signed_start(attempt, key));
    started_game(next);
    next.binary("2\nq");
    EXPECT_EQ(next.read_text(), "{\"keys\":" + std::to_string(attempt.size() + 3) + "}");
    next.text(signed_end(attempt + "2\nq", key));
    EXPECT_EQ(JSON::parse(next.read_text())["record"]["ending"], "quit");
    JSON day = JSON::parse(ask_once(hall->port(), "GET", "/api/daily").body);
    EXPECT_EQ(day["runs"], JSON::array()) << day;
    ASSERT_EQ(day["practice"].size(), 1u) << day;
    EXPECT_EQ(day["practice"][0]["id"], id_of(attempt + "2\nq"));
}

TEST_F(LiveTest, AWatcherThatDoesNotReadIsClosedPastItsLimit) {
    // 16 KB behind here: a test cannot type 256 KB of keys past the limit on keys a second.
    auto hall = start({{"MARROWDEEP_HALL_TEST_WATCHER_BEHIND", "16384"}});
    // A game begun with 45,000 keys that do not pack (a link of about 64 KB): its watcher's first
    // message is larger than the limit, and than what the system's buffers of the two ends hold.
    std::string keys = "hero\nn\n42\n1\n";
    unsigned state = 12345;
    while (keys.size() < 45000) {
        state = state * 1103515245u + 12345u;
        keys += static_cast<char>(state >> 24);
    }
    ASSERT_LE(write_run_link(RUN{keys, false, 0, MARROWDEEP_VERSION}).size(), MOST_RUN_TEXT);
    SOCKET player(hall->port(), "/api/live/play");
    STARTED game = begin_game(player, keys);
    EXPECT_EQ(game.keys, 45000);
    listing(hall->port(), "\"seed\":42");
    // The watcher reads nothing while the player sends two batches, each answered.
    SOCKET slow(hall->port(), "/api/live/" + game.id + "/watch", "", 2048);
    player.binary("d");
    EXPECT_EQ(player.read_text(), "{\"keys\":45001}");
    player.binary("a");
    EXPECT_EQ(player.read_text(), "{\"keys\":45002}");
    // What was sent before the limit was passed comes whole, then the close: the keys past it
    // are dropped, not held.
    std::string first = slow.read_text();
    ASSERT_EQ(first.rfind("{\"run\":", 0), 0u) << first.substr(0, 80);
    EXPECT_EQ(read_run_link(JSON::parse(first)["run"].get<std::string>()).run.keys, keys);
    EXPECT_EQ(slow.read_close(), "4408: You fell more than 256 KB behind the game; join again.");
    // It may join again, and the game goes on. (Once the hall has let the closed watcher go: the
    // count of watchers it would send on letting it go later, behind a first message larger than
    // this test's limit, would close the new watcher too.)
    EXPECT_NE(listing(hall->port(), "\"watchers\":0").find("\"watchers\":0"), std::string::npos);
    SOCKET again(hall->port(), "/api/live/" + game.id + "/watch");
    EXPECT_EQ(read_run_link(JSON::parse(again.read_text())["run"].get<std::string>()).run.keys, keys + "da");
    player.binary("q");
    EXPECT_EQ(player.read_text(), "{\"keys\":45003}");
    EXPECT_EQ(again.read_binary(), "q");
}

TEST_F(LiveTest, ASocketThatAnswersNoPingIsClosed) {
    // Deadlines of a quarter of a second: a silent socket is pinged after one, and closed after
    // two; a player gone is waited for 40 (10 seconds).
    auto hall = start({{"MARROWDEEP_HALL_TEST_TIMEOUTS", "250"}});
    SOCKET player(hall->port(), "/api/live/play");
    STARTED game = begin_game(player, "hero\nn\n42\n1\n");
    // A watcher that speaks the upgrade, then neither reads nor answers anything.
    HTTP_CONNECTION silent(hall->port());
    ASSERT_TRUE(
        silent.send("GET /api/live/" + game.id +
                    "/watch HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n"
                    "Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n"));
    EXPECT_EQ(silent.read_answer().status, 101);
    ASSERT_TRUE(silent.closed_by_hall());
    // Its frames: the game's first message (text), its keys when the seed was found after it
    // joined (binary), then the hall's one ping (opcode 9), then nothing.
    const std::string &frames = silent.unread();
    std::vector<int> opcodes;
    for (std::size_t at = 0; at + 2 <= frames.size();) {
        const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(frames[i]); };
        opcodes.push_back(byte(at) & 0x0f);
        std::size_t length = byte(at + 1) & 0x7f, header = 2;
        if (length == 126) {
            length =
                at + 4 <= frames.size() ? (std::size_t(byte(at + 2)) << 8) | byte(at + 3) : frames.size();
            header = 4;
        }
        at += header + length;
    }
    ASSERT_GE(opcodes.size(), 2u);
    EXPECT_EQ(opcodes.front(), 1);
    EXPECT_EQ(opcodes.back(), 9);
    EXPECT_EQ(std::count(opcodes.begin(), opcodes.end(), 9), 1);
    EXPECT_LE(opcodes.size(), 3u);
    // A watcher that answers the pings (as every client's library does) stays through the 40
    // deadlines the game's player (silent too, and closed) is waited for, and gets the end.
    SOCKET answering(hall->port(), "/api/live/" + game.id + "/watch");
    EXPECT_EQ(answering.read_text().rfind("{\"run\":", 0), 0u);
    std::string said;
    do said = answering.read_text();
    while (said.rfind("binary: ", 0) == 0 || said.rfind("{\"watchers\":", 0) == 0);
    EXPECT_EQ(said, "{\"stopped\":true}");
    EXPECT_EQ(answering.read_close(), "1000: The game has ended.");
}

TEST_F(LiveTest, AnEndWithAKeyAndSignatureKeepsASignedRecord) {
    auto hall = start();
    PLAYER_KEY player_key, other_key;
    const std::string id = "c0f8baedf1c39b178dedfbce70c19e20";  // the quick game's
    // Damaged, or signed by another key than the one sent: refused, and the game stays for its
    // player, who may end it again unsigned (or, gone, have it kept unsigned).
    const std::string end_not_verified =
        "This game's end does not verify: it must sign \"marrowdeep-run-1 \" and the run's id with the key "
        "sent, or be unsigned.";
    const std::string refused[] = {
        JSON{
            {"end", true}, {"key", player_key.key_text() + "="}, {"signature", player_key.signature_text(id)}}
            .dump(),
        JSON{{"end", true}, {"key", other_key.key_text()}, {"signature", player_key.signature_text(id)}}
            .dump(),
        JSON{{"end", true}, {"key", player_key.key_text()}}.dump(),
    };
    int seed = 50;
    for (const std::string &end : refused) {
        const std::string keys = "hero\nn\n" + std::to_string(seed++) + "\n1\nq";
        SOCKET player(hall->port(), "/api/live/play");
        const STARTED game = begin_game(player, keys);
        player.text(end);
        EXPECT_EQ(player.read_text(), (JSON{{"error", end_not_verified}}.dump())) << end;
        EXPECT_EQ(player.read_close(), "4403: " + end_not_verified) << end;
        SOCKET again(hall->port(), "/api/live/play");
        again.text(resume_message(keys, game.token));
        EXPECT_EQ(started_game(again).keys, static_cast<long long>(keys.size()));
        again.text(R"({"end": true})");
        EXPECT_EQ(JSON::parse(again.read_text())["record"]["signed"], false) << end;
        EXPECT_EQ(again.read_close(), "1000: The game has ended.");
    }
    EXPECT_EQ(ask_once(hall->port(), "GET", "/api/runs/" + std::string(id)).status, 404);
    // A key that is not text, or anything else beside the end, is no end the protocol has.
    for (const char *end :
         {R"({"end": true, "key": 1, "signature": "AA"})", R"({"end": true, "name": "x"})"}) {
        SOCKET player(hall->port(), "/api/live/play");
        begin_game(player, "hero\nn\n42\n1\nq");
        player.text(end);
        EXPECT_EQ(player.read_close(),
                  "4400: Keys come in binary messages, and the game's end as {\"end\": true}.")
            << end;
    }

    SOCKET again(hall->port(), "/api/live/play");
    begin_game(again, "hero\nn\n43\n1\nq");
    SOCKET player(hall->port(), "/api/live/play");
    begin_game(player, "hero\nn\n42\n1\nq");
    player.text(
        JSON{{"end", true}, {"key", player_key.key_text()}, {"signature", player_key.signature_text(id)}}
            .dump());
    EXPECT_EQ(player.read_text(), "{\"record\":" + signed_quick_record(player_key) + "}");
    EXPECT_EQ(player.read_close(), "1000: The game has ended.");
    // The name is claimed: a game begun before, its end under another key, is refused (403).
    const std::string other_id = run_id(RUN{"hero\nn\n43\n1\nq", false, 0, MARROWDEEP_VERSION});
    again.text(
        JSON{{"end", true}, {"key", other_key.key_text()}, {"signature", other_key.signature_text(other_id)}}
            .dump());
    EXPECT_NE(again.read_text().find("belongs to another key"), std::string::npos);
    EXPECT_EQ(again.read_close(), "1000: The game has ended.");

    // A start under the claimed name refused at once, nothing begun: unsigned, signed by
    // another key, signed in a run's context or over another run, its signature damaged.
    const std::string not_verified =
        "4403: The start's signature does not verify: it must sign "
        "\"marrowdeep-live-1 \" and the run's id with the key sent.";
    JSON damaged = JSON::parse(signed_start("hero\nn\n44\n", player_key));
    std::string bytes;
    ASSERT_TRUE(read_base64url(damaged["signature"].get<std::string>(), bytes));
    bytes[40] = static_cast<char>(bytes[40] ^ 0x10);
    damaged["signature"] = write_base64url(bytes);
    const std::pair<std::string, std::string> starts[] = {
        {run_message("hero\nn\n44\n"), name_taken},
        {signed_start("hero\nn\n44\n", other_key), name_taken},
        {signed_start("hero\nn\n44\n", player_key, RUN_CONTEXT), not_verified},
        {signed_start("hero\nn\n44\n", player_key, LIVE_CONTEXT, "hero\nn\n45\n"), not_verified},
        {damaged.dump(), not_verified},
    };
    const std::string listed = ask_once(hall->port(), "GET", "/api/live").body;
    for (const auto &[first, refusal] : starts) {
        SOCKET socket(hall->port(), "/api/live/play");
        socket.text(first);
        EXPECT_EQ(socket.read_close(), refusal) << first;
    }
    EXPECT_EQ(ask_once(hall->port(), "GET", "/api/live").body, listed);
    // A name whole only in later keys is checked when they come: the game ends, none of them kept.
    SOCKET unsigned_player(hall->port(), "/api/live/play");
    STARTED partial = begin_game(unsigned_player, "her");
    EXPECT_EQ(partial.keys, 3);
    unsigned_player.binary("o\nn");
    EXPECT_EQ(unsigned_player.read_close(), name_taken);
    EXPECT_EQ(ask_once(hall->port(), "GET", "/api/live").body, listed);
    SOCKET after(hall->port(), "/api/live/play");
    after.text(resume_message("hero\nn", partial.token));
    EXPECT_EQ(after.read_close(), "4401: No live game holds that token; it may have ended.");

    // Signed by the key that holds the name: begun, and listed as signed by it.
    SOCKET owner(hall->port(), "/api/live/play");
    owner.text(signed_start("hero\nn\n42\n", player_key));
    STARTED game = started_game(owner);
    EXPECT_EQ(game.keys, 10);
    const std::string fingerprint = key_fingerprint(player_key.raw());
    EXPECT_NE(ask_once(hall->port(), "GET", "/api/live")
                  .body.find(",\"signed\":true,\"key\":\"" + fingerprint + "\"}"),
              std::string::npos);
    owner.binary("1\nq");
    EXPECT_EQ(owner.read_text(), "{\"keys\":13}");
    // Its end unsigned, or signed by another key, is refused, and the game stays for its player
    // (or, left, is kept as its start's key's run): resumed, it ends signed by that key.
    for (const std::string &end :
         {std::string(R"({"end": true})"), signed_end("hero\nn\n42\n1\nq", other_key)}) {
        SOCKET ending(hall->port(), "/api/live/play");
        ending.text(resume_message("hero\nn\n42\n1\nq", game.token));
        EXPECT_EQ(started_game(ending).keys, 13);
        ending.text(end);
        EXPECT_EQ(ending.read_text(), "{\"error\":\"" + end_not_the_starts + "\"}") << end;
        EXPECT_EQ(ending.read_close(), "4403: " + end_not_the_starts) << end;
    }
    SOCKET ending(hall->port(), "/api/live/play");
    ending.text(resume_message("hero\nn\n42\n1\nq", game.token));
    EXPECT_EQ(started_game(ending).keys, 13);
    ending.text(signed_end("hero\nn\n42\n1\nq", player_key));
    EXPECT_EQ(ending.read_text(), "{\"record\":" + signed_quick_record(player_key) + "}");
    EXPECT_EQ(ending.read_close(), "1000: The game has ended.");
}

TEST_F(LiveTest, TheDaysBoardRanksTheFirstGamePlayedLiveFromItsFirstKey) {
    // The hall's clock moves a second at each game begun, written whole by a rename.
    const std::string clock = folder + "/clock";
    long long now = PINNED_SECONDS;
    auto tick = [&] {
        std::ofstream(clock + ".new") << now++;
        std::filesystem::rename(clock + ".new", clock);
    };
    tick();
    auto hall = start({{"MARROWDEEP_HALL_TEST_CLOCK_FILE", clock}});
    const std::string seed = JSON::parse(ask_once(hall->port(), "GET", "/api/daily").body)["seed"].dump();
    // Plays `rest` of a game begun, then ends it: its record's id.
    auto finish = [&](SOCKET &player, const std::string &first, const std::string &rest) {
        if (!rest.empty()) {
            player.binary(rest);
            EXPECT_EQ(player.read_text(), "{\"keys\":" + std::to_string(first.size() + rest.size()) + "}");
        }
        player.text(R"({"end": true})");
        JSON said = JSON::parse(player.read_text());
        EXPECT_EQ(player.read_close(), "1000: The game has ended.");
        EXPECT_TRUE(said.contains("record")) << said;
        return said["record"]["id"].is_string() ? said["record"]["id"].get<std::string>() : std::string();
    };
    auto play = [&](const std::string &first, const std::string &rest) {
        tick();
        SOCKET player(hall->port(), "/api/live/play");
        begin_game(player, first);
        return finish(player, first, rest);
    };
    // Begun after the hero's way of fighting was chosen, its maze drawn unseen: practice.
    const std::string unseen = play("mid\nn\n" + seed + "\n1\n", "dq");
    // Two games of one name begun before it: the one begun first is ranked, though kept last.
    const std::string begun = "hero\nn\n" + seed + "\n";
    tick();
    SOCKET earlier(hall->port(), "/api/live/play");
    begin_game(earlier, begun);
    tick();
    SOCKET later(hall->port(), "/api/live/play");
    begin_game(later, begun);
    const std::string second = finish(later, begun, "2\nq");
    const std::string first = finish(earlier, begun, "1\nq");
    // A whole game in the first message.
    const std::string whole = play("sent\nn\n" + seed + "\n1\nsq", "");
    JSON day = JSON::parse(ask_once(hall->port(), "GET", "/api/daily").body);
    ASSERT_EQ(day["runs"].size(), 1u) << day;
    EXPECT_EQ(day["runs"][0]["id"], first);
    std::set<std::string> practice;
    for (const JSON &run : day["practice"]) practice.insert(run["id"].get<std::string>());
    EXPECT_EQ(practice, (std::set<std::string>{unseen, second, whole})) << day;
}
