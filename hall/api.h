// The hall's answers: each request, with its method, address and body, made into a status and a
// body. The network and the threads are the server's; everything here can be called directly,
// which is how the tests call it.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "hall/store.h"

// How many runs one address may send: a bucket of `burst` runs that fills at `per_minute`, one
// run taken a submission. Counted in whole units (a run is 60,000 units; a millisecond adds
// `per_minute` of them), so no rounding decides a run. Kept in memory, for this process.
struct RATE_LIMIT {
    long long per_minute = 30;  // 0: no limit
    long long burst = 30;
    struct BUCKET {
        long long units = 0;
        long long at_ms = 0;
    };
    std::mutex mutex;
    std::unordered_map<std::string, BUCKET> buckets;
};

struct HALL {
    STORE *store = nullptr;
    std::string secret;  // the hall's own, kept in its database: the day's seed comes from it
    // The only clock the hall reads, in milliseconds since 1970 (UTC); tests pin it.
    std::function<long long()> now_ms;
    RATE_LIMIT rate;
    std::filesystem::path site;  // a folder of files served as they are; empty: none
    // Origins besides the hall's own (its scheme, http:// or a trusted proxy's https://, and its
    // Host) whose pages may post to it: a public origin the hall is served under by a proxy that
    // passes another Host, as "https://halls.example".
    std::vector<std::string> origins;
};

struct REQUEST {
    std::string method;
    std::string target;  // the path and the query, as the request line has them
    std::string body;
    std::string address;          // the client's, as text
    std::string host;             // the Host field; empty when none
    std::string origin;           // the Origin field; empty when none
    std::string scheme = "http";  // the page's: "https" behind a proxy that says so
};

struct ANSWER {
    int status = 200;
    std::string content_type = "application/json";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;  // more fields, e.g. Allow
};

// Every answer in process: never throws; a failure inside the hall is a 500 with a sentence, and
// a line on standard error.
ANSWER handle(HALL &hall, const REQUEST &request);

// The largest file of the site the hall serves.
inline constexpr std::uintmax_t MOST_SITE_FILE = 8 * 1024 * 1024;

// The longest hero's name the hall takes, in bytes.
inline constexpr std::size_t MOST_NAME_BYTES = 40;

// The steps of a submission, which the server runs on different threads: admitted (its origin
// and the address's limit, on the network thread), read (the link, the name, and a run kept
// already found by its id, on the store's), proven (the keys played again, on the proofs'), then
// kept (on the store's). Each step answers at once when the run stops there; none throws.
struct SUBMISSION {
    bool answered = false;
    ANSWER answer;     // when answered
    RUN run;           // read from the link
    std::string text;  // the link's text
    KEPT_RUN kept;     // when proven
};
// The answer of a request that waits on nothing, given on the network thread: /api/health while
// the database's state is known. Empty for every other request.
std::optional<ANSWER> answer_at_once(HALL &hall, const REQUEST &request);
bool is_submission(const REQUEST &request);
// The refusal of a submission from another site, or over the address's limit; empty when
// admitted. A run admitted counts against the limit whatever comes of it.
std::optional<ANSWER> admit_submission(HALL &hall, const REQUEST &request);
SUBMISSION read_submission(HALL &hall, const REQUEST &request);
void prove_submission(HALL &hall, SUBMISSION &submission);
ANSWER keep_submission(HALL &hall, const SUBMISSION &submission);
// The answer of a hall too busy to take a request now.
ANSWER busy_answer();

// An error as every answer of the hall gives one: the status and {"error": sentence}.
ANSWER error_answer(int status, const std::string &sentence);

// The run's id: the first 16 bytes of a SHA-256 of its version, its clock second and its keys,
// in hexadecimal. The same run has the same id in every hall, and a run sent twice is one run.
std::string run_id(const RUN &run);
// The id of a run's play: the same digest over its version, its clock second and the keys after
// the hero's name (and the blanks the game skips after it). Two runs that differ only in their
// name play the same game: the later one is a copy.
std::string play_id(const RUN &run);
// The hero's name as the game will read it from the keys: the first word, blanks before it
// skipped. `rest` is where the play starts (after the blanks that end the name).
std::string_view name_in_keys(std::string_view keys, std::size_t &rest);
// The day's seed: HMAC-SHA-256 of the date ("YYYY-MM-DD") under the hall's secret, made into a
// number from 1 to 999,999,999, one a player can type.
long long daily_seed(std::string_view secret, std::string_view date);
// "YYYY-MM-DD" and "YYYY-MM-DDTHH:MM:SSZ" of a second since 1970, in UTC.
std::string utc_date(long long seconds);
std::string utc_time(long long seconds);
// A new secret for a hall that has none yet: 32 random bytes.
std::string fresh_secret();
