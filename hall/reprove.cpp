#include "hall/reprove.h"

#include <atomic>
#include <thread>
#include <vector>

#include "hall/api.h"
#include "hall/names.h"

namespace {
// The runs read from the database at once, for each thread: enough that the threads rarely wait
// for the last of a batch, few enough that a batch of the longest runs stays small.
constexpr int runs_a_thread = 32;

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
    REPROOF_COUNT count;
    std::vector<KEPT_RUN> batch;
    std::vector<std::string> found;
    std::string after;
    for (;;) {
        if (!store.runs_after(after, threads * runs_a_thread, batch))
            throw std::runtime_error("The run " + after + " went from the database while it was read.");
        if (batch.empty()) break;
        found.assign(batch.size(), std::string());
        std::atomic<std::size_t> next{0};
        auto work = [&] {
            for (std::size_t at; (at = next++) < batch.size();) {
                try {
                    found[at] = reproof_difference(batch[at]);
                } catch (const std::exception &error) {
                    found[at] = std::string("it could not be proved: ") + error.what();
                }
            }
        };
        std::vector<std::thread> helpers;
        const std::size_t helping = std::min(batch.size(), static_cast<std::size_t>(threads)) - 1;
        for (std::size_t i = 0; i < helping; ++i) helpers.emplace_back(work);
        work();
        for (std::thread &helper : helpers) helper.join();
        for (std::size_t at = 0; at < batch.size(); ++at) {
            ++count.runs;
            if (found[at].empty()) continue;
            ++count.differing;
            report(visible_name(batch[at].id) + ": " + found[at]);
        }
        after = batch.back().id;
    }
    return count;
}
