#include "hall/api.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>

#include "hall/names.h"
#include "hall/sha256.h"

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

JSON record_json(const KEPT_RUN &run) {
    const RECORD &r = run.record;
    return JSON{{"id", run.id},         {"name", visible_name(r.name)},
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
    std::size_t question = target.find('?');
    if (!percent_decoded(target.substr(0, question), false, parsed.path)) return false;
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

// Takes one run from the address's bucket, filled for the time since it was last seen.
bool within_rate(RATE_LIMIT &rate, const std::string &address, long long now_ms) {
    if (rate.per_minute <= 0) return true;
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
    if (bucket.units < run) return false;
    bucket.units -= run;
    return true;
}

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
    std::ifstream in(file, std::ios::binary);
    if (!in) return missing;
    ANSWER answer;
    answer.content_type = content_type_of(file);
    answer.body.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    answer.headers.emplace_back("X-Content-Type-Options", "nosniff");
    answer.headers.emplace_back("Cache-Control", "no-cache");
    return answer;
}

ANSWER route(HALL &hall, const REQUEST &request) {
    TARGET target;
    if (!parse_target(request.target, target)) return error_answer(400, "The address is not well formed.");
    const std::string &path = target.path;
    bool api = path == "/api" || path.rfind("/api/", 0) == 0;
    if (!api) {
        if (hall.site.empty()) return error_answer(404, "There is nothing at this address.");
        if (!reading(request)) return method_not_allowed("GET, HEAD");
        return answer_site_file(hall, target);
    }
    if (path == "/api/health") {
        if (!reading(request)) return method_not_allowed("GET, HEAD");
        return json_answer(200, JSON{{"ok", true}, {"version", MARROWDEEP_VERSION}});
    }
    if (path == "/api/runs") {
        if (request.method != "POST") return method_not_allowed("POST");
        SUBMISSION submission = prove_submission(hall, request);
        return keep_submission(hall, submission);
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
}  // namespace

ANSWER error_answer(int status, const std::string &sentence) {
    return json_answer(status, JSON{{"error", sentence}});
}

ANSWER handle(HALL &hall, const REQUEST &request) {
    try {
        return route(hall, request);
    } catch (const STORE_DOWN &down) {
        return error_answer(503, down.what());
    } catch (const std::exception &) {
        return error_answer(500, "The hall failed to answer; try again.");
    }
}

bool is_submission(const REQUEST &request) {
    std::string_view target = request.target;
    return request.method == "POST" && target.substr(0, target.find('?')) == "/api/runs";
}

SUBMISSION prove_submission(HALL &hall, const REQUEST &request) {
    SUBMISSION submission;
    long long now_ms = hall.now_ms();
    if (!within_rate(hall.rate, request.address, now_ms)) {
        submission.answer =
            error_answer(429, "Too many runs from your address; wait a minute, then send again.");
        submission.answer.headers.emplace_back("Retry-After", "60");
        return submission;
    }
    // The body is the link's text after #run=; a whole link is taken too, and the line end a
    // file or a terminal adds is left out.
    std::string_view text = request.body;
    std::size_t mark = text.find("#run=");
    if (mark != std::string_view::npos) text.remove_prefix(mark + 5);
    while (!text.empty() &&
           (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    RUN_READING reading = read_run_link(text);
    if (!reading.ok) {
        submission.answer = error_answer(reading.status, reading.error);
        return submission;
    }
    PROOF proof = prove(reading.run);
    if (!proof.ok) {
        submission.answer = error_answer(proof.status, proof.error);
        return submission;
    }
    submission.proven = true;
    submission.run.id = run_id(reading.run);
    submission.run.record = proof.record;
    submission.run.submitted = now_ms / 1000;
    submission.run.link = std::string(text);
    return submission;
}

ANSWER keep_submission(HALL &hall, const SUBMISSION &submission) {
    if (!submission.proven) return submission.answer;
    try {
        KEPT_RUN kept;
        bool added = hall.store->add(submission.run, kept);
        return json_answer(added ? 201 : 200, record_json(kept));
    } catch (const STORE_DOWN &down) {
        return error_answer(503, down.what());
    } catch (const std::exception &) {
        return error_answer(500, "The hall failed to keep the run; try again.");
    }
}

std::string run_id(const RUN &run) {
    // Each part with its length, so no two runs run together into the same bytes.
    std::string framed = "marrowdeep run\n";
    auto part = [&](std::string_view bytes) {
        framed += std::to_string(bytes.size());
        framed += ':';
        framed.append(bytes);
    };
    part(run.version);
    part(run.has_clock ? std::to_string(run.clock) : std::string());
    part(run.keys);
    DIGEST digest = sha256(framed);
    return hex(digest.data(), 16);
}

long long daily_seed(std::string_view secret, std::string_view date) {
    DIGEST sum = hmac_sha256(secret, date);
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
