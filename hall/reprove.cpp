#include "hall/reprove.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "hall/api.h"
#include "hall/names.h"

namespace {
// The runs read from the database at once: 16 for each thread, from 64 to 512. The window of runs
// read and not yet reported holds four pages, so even of the longest runs (64 KB of link each) it
// stays within 128 MB, and a few MB for runs of a few thousand keys.
std::size_t page_for(int threads) {
    return std::clamp(static_cast<std::size_t>(threads) * 16, std::size_t{64}, std::size_t{512});
}

template <typename VALUE>
void compare(std::string &differences, const char *field, const VALUE &kept, const VALUE &proven) {
    if (kept == proven) return;
    if (!differences.empty()) differences += "; ";
    differences += std::string(field) + " kept " + kept + ", proven " + proven;
}

std::string number(long long value) { return std::to_string(value); }
std::string yes_no(bool value) { return value ? "true" : "false"; }
}  // namespace

std::string reproof_difference(const KEPT_RUN &kept) {
    RUN_READING reading = read_run_link(kept.link);
    if (!reading.ok) return "its link cannot be read: " + reading.error;
    const std::string id = run_id(reading.run);
    if (id != kept.id) return "its link is the run " + id;
    PROOF proof = prove(reading.run);
    if (!proof.ok) return "it no longer proves: " + proof.error;
    const RECORD &k = kept.record, &p = proof.record;
    std::string differences;
    compare(differences, "name", visible_name(k.name), visible_name(p.name));
    compare(differences, "seed", number(k.seed), number(p.seed));
    compare(differences, "clock", yes_no(k.clock), yes_no(p.clock));
    compare(differences, "version", visible_name(k.version), visible_name(p.version));
    compare(differences, "ending", visible_name(k.ending), visible_name(p.ending));
    compare(differences, "level", number(k.level), number(p.level));
    compare(differences, "experience", number(k.experience), number(p.experience));
    compare(differences, "boss", yes_no(k.boss), yes_no(p.boss));
    compare(differences, "keys", number(k.keys), number(p.keys));
    compare(differences, "mode", visible_name(k.mode), visible_name(p.mode));
    return differences;
}

REPROOF_COUNT reprove_all(STORE &store, int threads, const std::function<void(const std::string &)> &report) {
    if (threads < 1) threads = 1;
    // A window of runs read and not yet reported, in the order kept: each thread takes the next
    // run not taken, and the one that finds the window running low reads the next page into it.
    // A run's line is given when every run before it is done, so a long run holds back only the
    // reports, never the other threads, until the window is full.
    struct SLOT {
        KEPT_RUN run;
        bool done = false;
        std::string found;
    };
    const std::size_t page = page_for(threads);
    const std::size_t window = page * 4;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<SLOT> slots;  // the runs from `reported` on; references stay valid as it grows
    long long reported = 0, taken = 0;
    std::string last_read;  // the id of the last run read
    bool reading = false, exhausted = false;
    std::exception_ptr failure;
    REPROOF_COUNT count;

    auto work = [&] {
        std::unique_lock lock(mutex);
        for (;;) {
            const long long held = reported + static_cast<long long>(slots.size());
            if (taken < held) {
                SLOT &slot = slots[static_cast<std::size_t>(taken++ - reported)];
                lock.unlock();
                std::string found;
                try {
                    found = reproof_difference(slot.run);
                } catch (const std::exception &error) {
                    found = std::string("it could not be proved: ") + error.what();
                }
                lock.lock();
                slot.found = std::move(found);
                slot.done = true;
                while (!slots.empty() && slots.front().done) {
                    ++count.runs;
                    if (!slots.front().found.empty()) {
                        ++count.differing;
                        report(visible_name(slots.front().run.id) + ": " + slots.front().found);
                    }
                    slots.pop_front();
                    ++reported;
                }
                changed.notify_all();
            } else if (!exhausted && !reading && slots.size() + page <= window) {
                reading = true;
                const std::string after = last_read;
                lock.unlock();
                std::vector<KEPT_RUN> read;
                std::exception_ptr trouble;
                try {
                    if (!store.runs_after(after, static_cast<int>(page), read))
                        throw std::runtime_error("The run " + after +
                                                 " went from the database while it was read.");
                } catch (...) {
                    trouble = std::current_exception();
                }
                lock.lock();
                reading = false;
                if (trouble) {
                    failure = trouble;
                    exhausted = true;
                } else {
                    for (KEPT_RUN &run : read) slots.push_back(SLOT{std::move(run), false, ""});
                    if (!read.empty()) last_read = slots.back().run.id;
                    if (read.size() < page) exhausted = true;
                }
                changed.notify_all();
            } else if (exhausted && taken == held) {
                return;
            } else {
                changed.wait(lock);
            }
        }
    };
    std::vector<std::thread> helpers;
    for (int i = 1; i < threads; ++i) helpers.emplace_back(work);
    work();
    for (std::thread &helper : helpers) helper.join();
    if (failure) std::rethrow_exception(failure);
    return count;
}
