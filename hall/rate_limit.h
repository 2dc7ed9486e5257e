// How many runs one address may send, counted in this process.
#pragma once

#include <mutex>
#include <string>
#include <unordered_map>

// A bucket of `burst` runs that fills at `per_minute`, one run taken a submission. Counted in
// whole units (a run is 60,000 units; a millisecond adds `per_minute` of them), so no rounding
// decides a run. Kept in memory, for this process.
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

// Takes one run from the address's bucket, filled for the time since it was last seen: 0, or
// when the bucket is short of a run, the milliseconds until it holds one again. Safe from any
// thread.
long long wait_for_rate(RATE_LIMIT &rate, const std::string &address, long long now_ms);
