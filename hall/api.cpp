#include "hall/api.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/sha.h>
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>

#include "hall/names.h"
#include "hall/run_link.h"
#include "hall/sheet.h"

namespace {
using JSON = nlohmann::ordered_json;

constexpr int default_board_limit = 50;
constexpr int most_board_limit = 500;

ANSWER json_answer(int status, const JSON &body) {
    ANSWER answer;
    answer.status = status;
    // Every text in the hall's answers is valid UTF-8 already (names are made visible first);
    // replacing is only a guard.
    answer.body = body.dump(-1, ' ', false, JSON::error_handler_t::replace);
    return answer;
}

// A name as the boards show it. Runs kept before names had a limit may have longer ones: they
// show their first bytes and an ellipsis, so no answer grows with a name.
std::string shown_name(const std::string &name) {
    if (name.size() <= MOST_NAME_BYTES) return visible_name(name);
    return visible_name(std::string_view(name).substr(0, MOST_NAME_BYTES)) + "...";
}

JSON record_json(const KEPT_RUN &run) {
    const RECORD &r = run.record;
    JSON record{{"id", run.id},
                {"name", shown_name(r.name)},
                {"seed", r.seed},
                {"clock", r.clock},
                {"version", r.version},
                {"ending", r.ending},
                {"level", r.level},
                {"experience", r.experience},
                {"boss", r.boss},
                {"keys", r.keys},
                {"mode", r.mode},
                {"submitted", utc_time(run.submitted)},
                {"signed", !run.signer.empty()}};
    if (!run.signer.empty()) record["key"] = key_fingerprint(run.signer);
    return record;
}

// A name's bytes as one part of a path or a query's value: letters, digits and "-._~" as they
// are, every other byte as %XX. The pages link a name to its player's page with it, since the
// name shown may not give its bytes back.
std::string name_in_address(const std::string &name) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (char c : name) {
        unsigned char byte = static_cast<unsigned char>(c);
        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
            byte == '-' || byte == '.' || byte == '_' || byte == '~') {
            text += c;
        } else {
            text += '%';
            text += digits[byte >> 4];
            text += digits[byte & 15];
        }
    }
    return text;
}

// A record on a board or a player's list: with its name's address, for a link to its player.
JSON listed_json(const KEPT_RUN &run) {
    JSON record = record_json(run);
    record["player"] = name_in_address(run.record.name);
    return record;
}

JSON runs_json(const std::vector<KEPT_RUN> &runs) {
    JSON list = JSON::array();
    for (const KEPT_RUN &run : runs) list.push_back(listed_json(run));
    return list;
}

// A division rounded down, for seconds before 1970 too.
long long floor_div(long long a, long long b) { return a / b - (a % b < 0 ? 1 : 0); }

bool whole_number(const std::string &text, long long &number) {
    if (text.empty() || text[0] == '+') return false;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    return error == std::errc() && end == text.data() + text.size();
}

// The limit parameter of a board, or an error answer.
bool board_limit(const TARGET &target, int &limit, ANSWER &error) {
    limit = default_board_limit;
    if (const std::string *text = query_parameter(target, "limit")) {
        long long number = 0;
        if (!whole_number(*text, number) || number < 1 || number > most_board_limit) {
            error = error_answer(400, "The limit must be a whole number from 1 to 500.");
            return false;
        }
        limit = static_cast<int>(number);
    }
    return true;
}

// Origins and hosts are compared without regard to case, as browsers and proxies may write them.
bool same_letters(std::string_view a, std::string_view b) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

ANSWER name_too_long() {
    return error_answer(422, "The hero's name is longer than 40 bytes; the hall takes names of at most 40.");
}

ANSWER not_verified() {
    return error_answer(
        400,
        "The run's signature does not verify: it must sign \"marrowdeep-run-1 \" and the run's "
        "id with the key sent.");
}

ANSWER name_taken() { return error_answer(403, NAME_TAKEN_SENTENCE); }

ANSWER database_down(const STORE_DOWN &down) {
    ANSWER answer = error_answer(503, down.what());
    answer.headers.emplace_back("Retry-After", "5");
    return answer;
}

// A failure of the hall's own: a line for its keeper, a sentence for the client.
ANSWER failed(const char *doing, const char *what) {
    std::fprintf(stderr, "marrowdeep-hall: failed %s: %s\n", doing, what);
    return error_answer(500, "The hall failed to answer; try again.");
}

// Runs one step of the hall, whatever it throws made into an answer.
// Whatever the step gives: an ANSWER, or an optional one.
template <typename STEP>
auto guarded(const char *doing, STEP &&step) -> decltype(step()) {
    try {
        return step();
    } catch (const STORE_DOWN &down) {
        return database_down(down);
    } catch (const std::exception &error) {
        return failed(doing, error.what());
    } catch (...) {
        return failed(doing, "an unknown exception");
    }
}
}  // namespace

ANSWER error_answer(int status, const std::string &sentence) {
    return json_answer(status, JSON{{"error", sentence}});
}

std::string record_text(const KEPT_RUN &run) {
    return record_json(run).dump(-1, ' ', false, JSON::error_handler_t::replace);
}

ANSWER busy_answer() {
    ANSWER answer = error_answer(503, "The hall is busy; try again in a moment.");
    answer.headers.emplace_back("Retry-After", "1");
    return answer;
}

ANSWER answer_board(HALL &hall, const TARGET &target) {
    BOARD_QUERY query;
    ANSWER error;
    if (!board_limit(target, query.limit, error)) return error;
    if (const std::string *text = query_parameter(target, "seed")) {
        if (!whole_number(*text, query.seed))
            return error_answer(400, "The seed must be a whole number, as the game takes it.");
        query.has_seed = true;
    }
    JSON body{{"seed", query.has_seed ? JSON(query.seed) : JSON(nullptr)},
              {"runs", runs_json(hall.store->board(query))}};
    return json_answer(200, body);
}

ANSWER answer_daily(HALL &hall, const TARGET &target) {
    int limit = default_board_limit;
    ANSWER error;
    if (!board_limit(target, limit, error)) return error;
    const long long today = floor_div(hall.now_ms() / 1000, 86400);
    long long day = today;
    if (const std::string *text = query_parameter(target, "date")) {
        if (!day_of_date(*text, day)) return error_answer(400, "The date must be a day written YYYY-MM-DD.");
        if (day > today)
            return error_answer(404, "That day has not begun; its seed is kept secret until it does.");
    }
    const std::string date = utc_date(day * 86400);
    DAY_BOARD board = hall.store->day_board(day, limit);
    JSON body{{"date", date},
              {"seed", daily_seed(hall.secret, date)},
              {"ended", day < today},
              {"runs", runs_json(board.ranked)},
              {"practice", runs_json(board.practice)}};
    return json_answer(200, body);
}

namespace {
// A run's record with its link, as /api/runs/{id} gives it and each line of the export.
JSON kept_run_json(const KEPT_RUN &run) {
    JSON body = record_json(run);
    body["run"] = run.link;
    body["player"] = name_in_address(run.record.name);
    return body;
}
}  // namespace

ANSWER answer_run(HALL &hall, const std::string &id) {
    KEPT_RUN run;
    if (!hall.store->find(id, run)) return error_answer(404, "No run has that id.");
    return json_answer(200, kept_run_json(run));
}

ANSWER answer_runs(HALL &hall, const TARGET &target) {
    long long limit = DEFAULT_EXPORT_LIMIT;
    if (const std::string *text = query_parameter(target, "limit")) {
        if (!whole_number(*text, limit) || limit < 1 || limit > MOST_EXPORT_LIMIT)
            return error_answer(
                400, "The limit must be a whole number from 1 to " + std::to_string(MOST_EXPORT_LIMIT) + ".");
    }
    std::string after;
    if (const std::string *text = query_parameter(target, "after")) {
        if (text->empty()) return error_answer(404, "No run has the id given as after.");
        after = *text;
    }
    ANSWER answer;
    answer.content_type = "application/x-ndjson";
    // Read a batch at a time, so a page of large runs is never all in memory twice over; the page
    // ends at its limit, or at the first run that takes it past MOST_EXPORT_BYTES.
    long long left = limit;
    std::vector<KEPT_RUN> batch;
    while (left > 0 && answer.body.size() < MOST_EXPORT_BYTES) {
        const int asked = static_cast<int>(std::min<long long>(left, EXPORT_BATCH));
        if (!hall.store->runs_after(after, asked, batch))
            return error_answer(404, "No run has the id given as after.");
        for (const KEPT_RUN &run : batch) {
            if (answer.body.size() >= MOST_EXPORT_BYTES) break;
            answer.body += kept_run_json(run).dump(-1, ' ', false, JSON::error_handler_t::replace);
            answer.body += '\n';
            after = run.id;
            --left;
        }
        if (static_cast<int>(batch.size()) < asked) break;
    }
    return answer;
}

namespace {
constexpr int default_player_limit = 50;
constexpr std::size_t most_player_name_bytes = 1000;

// A place on a board, or null for one below the longest board the hall gives.
JSON place_json(long long place) { return place > MOST_PLACE ? JSON(nullptr) : JSON(place); }

// A day the player played the day's seed: the date, the seed, and their part in that day's
// board: the place of their ranked attempt, or, with none ranked, their best practice run and
// no place (null run and place when none of their runs counts on boards).
JSON day_on_board(HALL &hall, const std::string &name, long long day) {
    const std::string date = utc_date(day * 86400);
    JSON shown{{"date", date}, {"seed", daily_seed(hall.secret, date)}};
    PLACED_RUN placed;
    const bool found = hall.store->day_place(name, day, placed);
    shown["place"] = found && placed.place > 0 ? place_json(placed.place) : JSON(nullptr);
    shown["practice"] = !found || placed.place == 0;
    shown["run"] = found ? listed_json(placed.run) : JSON(nullptr);
    return shown;
}
}  // namespace

ANSWER answer_player(HALL &hall, const std::string &name, const TARGET &target) {
    if (name.empty() || name.size() > most_player_name_bytes)
        return error_answer(404, "No player has that name.");
    PLAYER_QUERY query;
    query.name = name;
    query.limit = default_player_limit;
    ANSWER error;
    if (!board_limit(target, query.limit, error)) return error;
    if (const std::string *before = query_parameter(target, "before")) query.before = *before;
    PLAYER_PAGE page = hall.store->player(query);
    if (!page.before_found) return error_answer(400, "No run under this name has the id given as before.");
    if (page.total == 0 && page.holder.empty()) return error_answer(404, "No player has that name.");
    JSON runs = runs_json(page.runs);
    JSON bests = JSON::array();
    for (const PLACED_RUN &best : page.bests) {
        JSON record = listed_json(best.run);
        record["place"] = place_json(best.place);
        bests.push_back(std::move(record));
    }
    JSON days = JSON::array();
    for (long long day : page.days) days.push_back(day_on_board(hall, name, day));
    JSON body{{"name", shown_name(name)},
              {"player", name_in_address(name)},
              {"claimed", !page.holder.empty()},
              {"key", page.holder.empty() ? JSON(nullptr) : JSON(key_fingerprint(page.holder))},
              {"runs_kept", page.total},
              {"bosses", page.bosses},
              {"best_level", page.best_level},
              {"runs", std::move(runs)},
              {"next", page.more ? JSON(page.runs.back().id) : JSON(nullptr)},
              {"bests", std::move(bests)},
              {"days", std::move(days)}};
    return json_answer(200, body);
}

ANSWER answer_sheet(const KEPT_RUN &run) {
    RUN_READING reading = read_run_link(run.link);
    if (!reading.ok) return error_answer(422, "This run's link can no longer be read, so it has no sheet.");
    std::string written;
    PROOF proof = prove_with_status(reading.run, written);
    if (!proof.ok) return error_answer(proof.status, proof.error);
    ANSWER answer;
    answer.content_type = "text/plain; charset=utf-8";
    answer.body = sheet_text(run, written);
    // A kept run's sheet is the same every time this build draws it: a browser or a proxy may
    // keep it for a day (a hall that takes a new build may draw it anew), and need not ask again.
    answer.headers.emplace_back("Cache-Control", "public, max-age=86400");
    return answer;
}

// The hall's own origin, as a browser names it for a page the hall served: its scheme (http, or
// what a trusted proxy says) and the Host the browser asked for; and those named with --origin.
bool own_origin(const HALL &hall, const REQUEST &request) {
    if (request.origin.empty()) return true;  // not a browser's request: curl and other tools
    if (!request.host.empty() && same_letters(request.origin, request.scheme + "://" + request.host))
        return true;
    return std::any_of(hall.origins.begin(), hall.origins.end(),
                       [&](const std::string &origin) { return same_letters(origin, request.origin); });
}

ANSWER foreign_origin() { return error_answer(403, "The hall takes runs only from its own pages."); }

ANSWER health_answer(const std::string &trouble) {
    if (!trouble.empty()) {
        ANSWER answer = json_answer(503, JSON{{"ok", false}, {"error", trouble}});
        answer.headers.emplace_back("Retry-After", "5");
        return answer;
    }
    return json_answer(200, JSON{{"ok", true}, {"version", MARROWDEEP_VERSION}});
}

std::optional<ANSWER> guarded_step(const char *doing, const std::function<std::optional<ANSWER>()> &step) {
    return guarded(doing, step);
}

std::optional<ANSWER> admit_submission(HALL &hall, const REQUEST &request) {
    if (!own_origin(hall, request)) return foreign_origin();
    long long wait_ms = 0;
    try {
        wait_ms = wait_for_rate(hall.rate, request.address, hall.now_ms());
    } catch (const std::exception &error) {
        return failed("to count a run", error.what());
    }
    if (wait_ms == 0) return std::nullopt;
    ANSWER answer = error_answer(429, "Too many runs from your address; wait a minute, then send again.");
    answer.headers.emplace_back("Retry-After", std::to_string((wait_ms + 999) / 1000));
    return answer;
}

SUBMISSION read_submission(HALL &hall, const REQUEST &request) {
    SUBMISSION submission;
    auto answer = [&](ANSWER given) {
        submission.answered = true;
        submission.answer = std::move(given);
        return submission;
    };
    // The body is the link's text after #run=; a whole link is taken too, and the line end a
    // file or a terminal adds is left out.
    std::string_view text = request.body;
    std::size_t mark = text.find("#run=");
    if (mark != std::string_view::npos) text.remove_prefix(mark + 5);
    while (!text.empty() &&
           (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    RUN_READING reading = read_run_link(text);
    if (!reading.ok) return answer(error_answer(reading.status, reading.error));
    std::size_t rest = 0;
    if (name_in_keys(reading.run.keys, rest).size() > MOST_NAME_BYTES) return answer(name_too_long());
    // A key comes with its signature, both read before anything waits on the database.
    if (request.key.has_value() != request.signature.has_value())
        return answer(error_answer(400, "A run's key and signature come together, or neither comes."));
    if (request.key) {
        std::string error;
        if (!read_run_signature(*request.key, *request.signature, submission.signature, error))
            return answer(error_answer(400, error));
        submission.is_signed = true;
    }
    submission.run = std::move(reading.run);
    submission.text = std::string(text);
    submission.kept.live = request.live;
    if (!submission.is_signed) submission.kept.signer = request.live_signer;
    // A run kept already is answered as it was kept, without playing it again: a signature that
    // comes with it must be good, but changes nothing of what was kept, signed or not.
    ANSWER found = guarded("to find a run", [&] {
        KEPT_RUN kept;
        if (!hall.store->find(run_id(submission.run), kept)) return ANSWER{0, "", "", {}};
        if (submission.is_signed && !signature_verifies(submission.signature, kept.id)) return not_verified();
        return json_answer(200, record_json(kept));
    });
    if (found.status != 0) return answer(std::move(found));
    return submission;
}

void prove_submission(HALL &hall, SUBMISSION &submission) {
    auto answer = [&](ANSWER given) {
        submission.answered = true;
        submission.answer = std::move(given);
    };
    PROOF proof;
    try {
        proof = prove(submission.run);
    } catch (const std::exception &error) {
        return answer(failed("to prove a run", error.what()));
    }
    if (!proof.ok) return answer(error_answer(proof.status, proof.error));
    if (proof.record.name.size() > MOST_NAME_BYTES) return answer(name_too_long());
    RUN &run = submission.run;
    if (run.has_clock && !proof.record.clock)
        return answer(error_answer(400, "This run's seed was typed, so its link must hold no clock second."));
    // A player's client signs the run it sends, with the bytes after its end when it has any (a
    // keys file may): that signature covers the keys kept too.
    const std::string sent_id = run_id(run);
    // The bytes after the game's end were never read: the run is what the game read, and its id
    // is taken over that, so trailing bytes make no second id for one game.
    if (static_cast<std::size_t>(proof.record.keys) < run.keys.size()) {
        run.keys.resize(static_cast<std::size_t>(proof.record.keys));
        submission.text = write_run_link(run);
    }
    submission.kept.id = run_id(run);
    // The signature is over the id of the run as it was sent, or as the game read it: either way
    // over every key the hall keeps. The id sent is checked first, as a client signs what it
    // sends; a second check, over the keys the game read, only for a run with bytes after its end.
    if (submission.is_signed) {
        if (!signature_verifies(submission.signature, sent_id) &&
            (sent_id == submission.kept.id || !signature_verifies(submission.signature, submission.kept.id)))
            return answer(not_verified());
        submission.kept.signer = submission.signature.key;
    }
    submission.kept.play = play_id(run);
    submission.kept.record = proof.record;
    submission.kept.submitted = hall.now_ms() / 1000;
    submission.kept.link = submission.text;
    submission.kept.daily = proof.record.seed == daily_seed(hall.secret, utc_date(submission.kept.submitted));
}

ANSWER keep_submission(HALL &hall, const SUBMISSION &submission) {
    if (submission.answered) return submission.answer;
    return guarded("to keep a run", [&] {
        KEPT_RUN kept;
        ADDED added = hall.store->add(submission.kept, kept);
        if (added == ADDED::taken) return name_taken();
        if (added == ADDED::copy) {
            return json_answer(409, JSON{{"error",
                                          "This game was sent before under another name: it is "
                                          "that run's copy, and the hall keeps the first."},
                                         {"id", kept.id}});
        }
        return json_answer(added == ADDED::fresh ? 201 : 200, record_json(kept));
    });
}

namespace {
// A digest over the version, the clock second and the keys, each after its length, so no two
// runs run together into the same bytes; `label` keeps a run's ids and a play's ids apart.
std::string framed_id(const char *label, const RUN &run, std::string_view keys) {
    std::string framed = label;
    auto part = [&](std::string_view bytes) {
        framed += std::to_string(bytes.size());
        framed += ':';
        framed.append(bytes);
    };
    part(run.version);
    part(run.has_clock ? std::to_string(run.clock) : std::string());
    part(keys);
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char *>(framed.data()), framed.size(), digest);
    return lowercase_hex(std::string_view(reinterpret_cast<const char *>(digest), 16));
}
}  // namespace

std::string run_id(const RUN &run) { return framed_id("marrowdeep run\n", run, run.keys); }

namespace {
bool blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
}  // namespace

std::string_view name_in_keys(std::string_view keys, std::size_t &rest) {
    std::size_t start = 0;
    while (start < keys.size() && blank(keys[start])) ++start;
    std::size_t end = start;
    while (end < keys.size() && !blank(keys[end])) ++end;
    rest = end;
    while (rest < keys.size() && blank(keys[rest])) ++rest;
    return keys.substr(start, end - start);
}

std::string play_id(const RUN &run) {
    std::size_t rest = 0;
    name_in_keys(run.keys, rest);
    return framed_id("marrowdeep play\n", run, std::string_view(run.keys).substr(rest));
}

long long daily_seed(std::string_view secret, std::string_view date) {
    unsigned char sum[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!HMAC(EVP_sha256(), secret.data(), static_cast<int>(secret.size()),
              reinterpret_cast<const unsigned char *>(date.data()), date.size(), sum, &length) ||
        length < 8)
        throw std::runtime_error("HMAC-SHA-256 failed.");
    unsigned long long number = 0;
    for (int i = 0; i < 8; ++i) number = number << 8 | sum[static_cast<std::size_t>(i)];
    return static_cast<long long>(number % 999999999ULL) + 1;
}

std::string utc_date(long long seconds) {
    using namespace std::chrono;
    sys_days day = floor<days>(sys_seconds{std::chrono::seconds{seconds}});
    year_month_day date{day};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
    return text;
}

std::string utc_time(long long seconds) {
    using namespace std::chrono;
    sys_seconds at{std::chrono::seconds{seconds}};
    sys_days day = floor<days>(at);
    long long into = (at - day).count();
    char text[32];
    std::snprintf(text, sizeof text, "T%02lld:%02lld:%02lldZ", into / 3600, into / 60 % 60, into % 60);
    return utc_date(seconds) + text;
}

bool day_of_date(std::string_view date, long long &day) {
    if (date.size() != 10 || date[4] != '-' || date[7] != '-') return false;
    for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
        if (date[i] < '0' || date[i] > '9') return false;
    auto number = [&](std::size_t at, std::size_t length) {
        int value = 0;
        for (std::size_t i = at; i < at + length; ++i) value = value * 10 + (date[i] - '0');
        return value;
    };
    using namespace std::chrono;
    year_month_day ymd{year{number(0, 4)}, month{static_cast<unsigned>(number(5, 2))},
                       std::chrono::day{static_cast<unsigned>(number(8, 2))}};
    if (!ymd.ok()) return false;
    day = sys_days{ymd}.time_since_epoch().count();
    return true;
}

std::string fresh_secret() {
    std::random_device device;
    std::string secret(32, '\0');
    for (char &c : secret) c = static_cast<char>(device() & 0xFF);
    return secret;
}
