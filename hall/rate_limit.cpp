#include "hall/rate_limit.h"

#include <algorithm>

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
