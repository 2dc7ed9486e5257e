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
    return JSON{{"id", run.id},         {"name", shown_name(r.name)},
                {"seed", r.seed},       {"clock", r.clock},
                {"version", r.version}, {"ending", r.ending},
                {"level", r.level},     {"experience", r.experience},
                {"boss", r.boss},       {"keys", r.keys},
                {"mode", r.mode},       {"submitted", utc_time(run.submitted)}};
}

JSON runs_json(const std::vector<KEPT_RUN> &runs) {
    JSON list = JSON::array();
    for (const KEPT_RUN &run : runs) list.push_back(record_json(run));
    return list;
}

// The path of a target, and its query's parameters, %XX and + decoded.
struct TARGET {
    std::string path;
    std::vector<std::pair<std::string, std::string>> query;
};

bool hex_digit(char c, int &value) {
    if (c >= '0' && c <= '9')
        value = c - '0';
    else if (c >= 'a' && c <= 'f')
        value = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        value = c - 'A' + 10;
    else
        return false;
    return true;
}

// False for a broken %XX.
bool percent_decoded(std::string_view text, bool plus_is_space, std::string &out) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%') {
            int high, low;
            if (i + 2 >= text.size()) return false;
            if (!hex_digit(text[i + 1], high) || !hex_digit(text[i + 2], low)) return false;
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else if (c == '+' && plus_is_space) {
            out += ' ';
        } else {
            out += c;
        }
    }
    return true;
}

bool parse_target(std::string_view target, TARGET &parsed) {
    // The absolute form a proxy may send (http://host/path?query) names the same path.
    for (std::string_view scheme : {"http://", "https://"}) {
        if (target.size() >= scheme.size() &&
            std::equal(scheme.begin(), scheme.end(), target.begin(), [](char a, char b) {
                return a == (b >= 'A' && b <= 'Z' ? static_cast<char>(b - 'A' + 'a') : b);
            })) {
            std::size_t path = target.find_first_of("/?", scheme.size());
            if (path == std::string_view::npos) {
                target = "/";
            } else {
                target = target.substr(path);
            }
            break;
        }
    }
    std::size_t question = target.find('?');
    if (!percent_decoded(target.substr(0, question), false, parsed.path)) return false;
    if (parsed.path.empty()) parsed.path = "/";
    if (question == std::string_view::npos) return true;
    std::string_view query = target.substr(question + 1);
    while (!query.empty()) {
        std::size_t amp = query.find('&');
        std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        if (pair.empty()) continue;
        std::size_t equals = pair.find('=');
        std::string key, value;
        if (!percent_decoded(pair.substr(0, equals), true, key)) return false;
        if (equals != std::string_view::npos && !percent_decoded(pair.substr(equals + 1), true, value))
            return false;
        parsed.query.emplace_back(std::move(key), std::move(value));
    }
    return true;
}

const std::string *parameter(const TARGET &target, std::string_view key) {
    for (const auto &entry : target.query)
        if (entry.first == key) return &entry.second;
    return nullptr;
}

bool whole_number(const std::string &text, long long &number) {
    if (text.empty() || text[0] == '+') return false;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    return error == std::errc() && end == text.data() + text.size();
}

// The limit parameter of a board, or an error answer.
bool board_limit(const TARGET &target, int &limit, ANSWER &error) {
    limit = default_board_limit;
    if (const std::string *text = parameter(target, "limit")) {
        long long number = 0;
        if (!whole_number(*text, number) || number < 1 || number > most_board_limit) {
            error = error_answer(400, "The limit must be a whole number from 1 to 500.");
            return false;
        }
        limit = static_cast<int>(number);
    }
    return true;
}

ANSWER answer_board(HALL &hall, const TARGET &target) {
    BOARD_QUERY query;
    ANSWER error;
    if (!board_limit(target, query.limit, error)) return error;
    if (const std::string *text = parameter(target, "seed")) {
        if (!whole_number(*text, query.seed))
            return error_answer(400, "The seed must be a whole number, as the game takes it.");
        query.has_seed = true;
    }
    JSON body{{"seed", query.has_seed ? JSON(query.seed) : JSON(nullptr)},
              {"runs", runs_json(hall.store->board(query))}};
    return json_answer(200, body);
}

ANSWER answer_daily(HALL &hall, const TARGET &target) {
    BOARD_QUERY query;
    ANSWER error;
    if (!board_limit(target, query.limit, error)) return error;
    long long now = hall.now_ms() / 1000;
    long long day_start = now - ((now % 86400) + 86400) % 86400;
    std::string date = utc_date(now);
    query.has_seed = true;
    query.seed = daily_seed(hall.secret, date);
    query.has_period = true;
    query.from = day_start;
    query.to = day_start + 86400;
    JSON body{{"date", date}, {"seed", query.seed}, {"runs", runs_json(hall.store->board(query))}};
    return json_answer(200, body);
}

ANSWER answer_run(HALL &hall, const std::string &id) {
    KEPT_RUN run;
    if (!hall.store->find(id, run)) return error_answer(404, "No run has that id.");
    JSON body = record_json(run);
    body["run"] = run.link;
    return json_answer(200, body);
}

ANSWER method_not_allowed(const char *allow) {
    ANSWER answer = error_answer(405, "This address does not take that method.");
    answer.headers.emplace_back("Allow", allow);
    return answer;
}

bool reading(const REQUEST &request) { return request.method == "GET" || request.method == "HEAD"; }

// Takes one run from the address's bucket, filled for the time since it was last seen: 0, or
// when the bucket is short of a run, the milliseconds until it holds one again.
long long wait_for_rate(RATE_LIMIT &rate, const std::string &address, long long now_ms) {
    if (rate.per_minute <= 0) return 0;
    const long long run = 60000, full = rate.burst * run;
    std::lock_guard lock(rate.mutex);
    auto filled = [&](const RATE_LIMIT::BUCKET &bucket) {
        long long since = now_ms > bucket.at_ms ? now_ms - bucket.at_ms : 0;
        if (since >= full) return full;  // no overflow for buckets long unused
        return std::min(full, bucket.units + since * rate.per_minute);
    };
    // Forgetting full buckets now and then keeps the table to the addresses of the last minutes.
    if (rate.buckets.size() > 10000) {
        for (auto it = rate.buckets.begin(); it != rate.buckets.end();)
            it = filled(it->second) >= full ? rate.buckets.erase(it) : std::next(it);
    }
    auto [entry, fresh] = rate.buckets.try_emplace(address, RATE_LIMIT::BUCKET{full, now_ms});
    RATE_LIMIT::BUCKET &bucket = entry->second;
    if (!fresh) {
        bucket.units = filled(bucket);
        // A clock that steps back gives nothing back and takes nothing away.
        if (now_ms > bucket.at_ms) bucket.at_ms = now_ms;
    }
    if (bucket.units < run) return (run - bucket.units + rate.per_minute - 1) / rate.per_minute;
    bucket.units -= run;
    return 0;
}

// Origins and hosts are compared without regard to case, as browsers and proxies may write them.
bool same_letters(std::string_view a, std::string_view b) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
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

ANSWER name_too_long() {
    return error_answer(422, "The hero's name is longer than 40 bytes; the hall takes names of at most 40.");
}

ANSWER foreign_origin() { return error_answer(403, "The hall takes runs only from its own pages."); }

const char *content_type_of(const std::filesystem::path &file) {
    static const std::pair<const char *, const char *> types[] = {
        {".html", "text/html; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".mjs", "text/javascript; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".wasm", "application/wasm"},
        {".json", "application/json"},
        {".webmanifest", "application/manifest+json"},
        {".svg", "image/svg+xml"},
        {".png", "image/png"},
        {".ico", "image/x-icon"},
        {".woff2", "font/woff2"},
        {".txt", "text/plain; charset=utf-8"},
        {".keys", "application/octet-stream"},
    };
    std::string extension = file.extension().string();
    for (const auto &[known, type] : types)
        if (extension == known) return type;
    return "application/octet-stream";
}

// The policy a page states in its <meta http-equiv="Content-Security-Policy" content="...">.
std::string page_policy(const std::string &page) {
    std::size_t meta = page.find("http-equiv=\"Content-Security-Policy\"");
    if (meta == std::string::npos) return {};
    std::size_t end_of_tag = page.find('>', meta);
    std::size_t content = page.find("content=\"", meta);
    if (content == std::string::npos || content > end_of_tag) return {};
    content += 9;
    std::size_t close = page.find('"', content);
    if (close == std::string::npos || close > end_of_tag) return {};
    return page.substr(content, close - content);
}

// A file of the site's folder, never one outside it: no part of the path may be empty, . or
// .., hold a backslash or a NUL, and the file found must lie in the folder once links are
// followed.
ANSWER answer_site_file(const HALL &hall, const TARGET &target) {
    const ANSWER missing = error_answer(404, "There is nothing at this address.");
    std::string path = target.path;
    if (path.empty() || path[0] != '/') return missing;
    if (path.back() == '/') path += "index.html";
    std::filesystem::path relative;
    std::size_t start = 1;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        std::string part = path.substr(start, end - start);
        if (part.empty() || part == "." || part == ".." || part.find('\\') != std::string::npos ||
            part.find('\0') != std::string::npos)
            return missing;
        relative /= part;
        start = end + 1;
    }
    std::error_code error;
    std::filesystem::path root = std::filesystem::canonical(hall.site, error);
    if (error) return missing;
    std::filesystem::path file = std::filesystem::canonical(root / relative, error);
    if (error || !std::filesystem::is_regular_file(file, error)) return missing;
    auto [root_end, file_at] = std::mismatch(root.begin(), root.end(), file.begin(), file.end());
    if (root_end != root.end()) return missing;
    auto size = std::filesystem::file_size(file, error);
    if (error) return missing;
    if (size > MOST_SITE_FILE) return error_answer(500, "The file is too large for the hall to serve.");
    std::ifstream in(file, std::ios::binary);
    if (!in) return missing;
    ANSWER answer;
    answer.content_type = content_type_of(file);
    answer.body.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (answer.body.size() > MOST_SITE_FILE)
        return error_answer(500, "The file is too large for the hall to serve.");
    answer.headers.emplace_back("Cache-Control", "no-cache");
    // A page's policy is its own <meta> tag's, sent as a field too, with framing forbidden
    // (which a <meta> policy cannot say).
    if (file.extension() == ".html") {
        std::string policy = page_policy(answer.body);
        answer.headers.emplace_back("Content-Security-Policy", policy.empty()
                                                                   ? "frame-ancestors 'none'"
                                                                   : policy + "; frame-ancestors 'none'");
    }
    return answer;
}

ANSWER health_answer(const std::string &trouble) {
    if (!trouble.empty()) {
        ANSWER answer = json_answer(503, JSON{{"ok", false}, {"error", trouble}});
        answer.headers.emplace_back("Retry-After", "5");
        return answer;
    }
    return json_answer(200, JSON{{"ok", true}, {"version", MARROWDEEP_VERSION}});
}

ANSWER answer_health(HALL &hall) { return health_answer(hall.store->unwritable()); }

ANSWER answer_submission(HALL &hall, const REQUEST &request) {
    if (std::optional<ANSWER> refused = admit_submission(hall, request)) return *refused;
    SUBMISSION submission = read_submission(hall, request);
    if (submission.answered) return submission.answer;
    prove_submission(hall, submission);
    if (submission.answered) return submission.answer;
    return keep_submission(hall, submission);
}

ANSWER route(HALL &hall, const REQUEST &request) {
    TARGET target;
    if (!parse_target(request.target, target)) return error_answer(400, "The address is not well formed.");
    if (request.method == "POST" && !own_origin(hall, request)) return foreign_origin();
    const std::string &path = target.path;
    bool api = path == "/api" || path.rfind("/api/", 0) == 0;
    if (!api) {
        if (hall.site.empty()) return error_answer(404, "There is nothing at this address.");
        if (!reading(request)) return method_not_allowed("GET, HEAD");
        return answer_site_file(hall, target);
    }
    if (path == "/api/health") {
        if (!reading(request)) return method_not_allowed("GET, HEAD");
        return answer_health(hall);
    }
    if (path == "/api/runs") {
        if (request.method != "POST") return method_not_allowed("POST");
        return answer_submission(hall, request);
    }
    if (path.rfind("/api/runs/", 0) == 0) {
        if (!reading(request)) return method_not_allowed("GET, HEAD");
        std::string id = path.substr(10);
        if (id.empty() || id.find('/') != std::string::npos)
            return error_answer(404, "There is nothing at this address.");
        return answer_run(hall, id);
    }
    if (path == "/api/board") {
        if (!reading(request)) return method_not_allowed("GET, HEAD");
        return answer_board(hall, target);
    }
    if (path == "/api/daily") {
        if (!reading(request)) return method_not_allowed("GET, HEAD");
        return answer_daily(hall, target);
    }
    return error_answer(404, "There is nothing at this address.");
}

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
template <typename STEP>
ANSWER guarded(const char *doing, STEP &&step) {
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

ANSWER busy_answer() {
    ANSWER answer = error_answer(503, "The hall is busy; try again in a moment.");
    answer.headers.emplace_back("Retry-After", "1");
    return answer;
}

ANSWER handle(HALL &hall, const REQUEST &request) {
    return guarded("to answer a request", [&] { return route(hall, request); });
}

std::optional<ANSWER> answer_at_once(HALL &hall, const REQUEST &request) {
    if (!reading(request)) return std::nullopt;
    TARGET target;
    if (!parse_target(request.target, target) || target.path != "/api/health") return std::nullopt;
    std::optional<std::string> known = hall.store->unwritable_known();
    if (!known) return std::nullopt;
    return health_answer(*known);
}

bool is_submission(const REQUEST &request) {
    TARGET target;
    return request.method == "POST" && parse_target(request.target, target) && target.path == "/api/runs";
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
    submission.run = std::move(reading.run);
    submission.text = std::string(text);
    // A run kept already is answered as it was kept, without playing it again.
    ANSWER found = guarded("to find a run", [&] {
        KEPT_RUN kept;
        if (!hall.store->find(run_id(submission.run), kept)) return ANSWER{0, "", "", {}};
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
    // The bytes after the game's end were never read: the run is what the game read, and its id
    // is taken over that, so trailing bytes make no second id for one game.
    if (static_cast<std::size_t>(proof.record.keys) < run.keys.size()) {
        run.keys.resize(static_cast<std::size_t>(proof.record.keys));
        submission.text = write_run_link(run);
    }
    submission.kept.id = run_id(run);
    submission.kept.play = play_id(run);
    submission.kept.record = proof.record;
    submission.kept.submitted = hall.now_ms() / 1000;
    submission.kept.link = submission.text;
}

ANSWER keep_submission(HALL &hall, const SUBMISSION &submission) {
    if (submission.answered) return submission.answer;
    return guarded("to keep a run", [&] {
        KEPT_RUN kept;
        ADDED added = hall.store->add(submission.kept, kept);
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
    static const char digits[] = "0123456789abcdef";
    std::string id;
    for (int i = 0; i < 16; ++i) {
        id += digits[digest[i] >> 4];
        id += digits[digest[i] & 15];
    }
    return id;
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

std::string fresh_secret() {
    std::random_device device;
    std::string secret(32, '\0');
    for (char &c : secret) c = static_cast<char>(device() & 0xFF);
    return secret;
}
