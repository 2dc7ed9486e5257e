// The hall's answers: each request, with its method, address and body, made into a status and a
// body. The network and the threads are the server's; everything here can be called directly,
// which is how the tests call it.
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <mutex>
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
};

struct REQUEST {
    std::string method;
    std::string target;  // the path and the query, as the request line has them
    std::string body;
    std::string address;  // the client's, as text
};

struct ANSWER {
    int status = 200;
    std::string content_type = "application/json";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;  // more fields, e.g. Allow
};

ANSWER handle(HALL &hall, const REQUEST &request);

// The two steps of a submission, which the server runs on different threads: the proof (the
// address's limit, the link read, the keys played again), then keeping the run.
struct SUBMISSION {
    bool proven = false;
    ANSWER answer;  // when not proven
    KEPT_RUN run;   // when proven
};
bool is_submission(const REQUEST &request);
SUBMISSION prove_submission(HALL &hall, const REQUEST &request);
ANSWER keep_submission(HALL &hall, const SUBMISSION &submission);

// An error as every answer of the hall gives one: the status and {"error": sentence}.
ANSWER error_answer(int status, const std::string &sentence);

// The run's id: the first 16 bytes of a SHA-256 of its version, its clock second and its keys,
// in hexadecimal. The same run has the same id in every hall, and a run sent twice is one run.
std::string run_id(const RUN &run);
// The day's seed: HMAC-SHA-256 of the date ("YYYY-MM-DD") under the hall's secret, made into a
// number from 1 to 999,999,999, one a player can type.
long long daily_seed(std::string_view secret, std::string_view date);
// "YYYY-MM-DD" and "YYYY-MM-DDTHH:MM:SSZ" of a second since 1970, in UTC.
std::string utc_date(long long seconds);
std::string utc_time(long long seconds);
// A new secret for a hall that has none yet: 32 random bytes.
std::string fresh_secret();
