#include "fuzz/play.h"

#include <algorithm>

#include "support/run_game.h"

namespace {
constexpr std::size_t KEEP = 64 * 1024;  // bytes kept of the head, the tail and standard error

// Looks for the texts in the output as it streams by; a text may straddle two reads.
class Scanner {
  public:
    explicit Scanner(const std::vector<std::string> &texts) : texts_(texts), found_(texts.size(), false) {
        for (const auto &t : texts) longest_ = std::max(longest_, t.size());
    }
    void feed(const char *data, std::size_t n) {
        window_.append(data, n);
        for (std::size_t i = 0; i < texts_.size(); ++i)
            if (!found_[i] && window_.find(texts_[i]) != std::string::npos) found_[i] = true;
        if (longest_ > 0 && window_.size() >= longest_) window_.erase(0, window_.size() - (longest_ - 1));
    }
    std::vector<bool> found() const { return found_; }

  private:
    const std::vector<std::string> &texts_;
    std::vector<bool> found_;
    std::size_t longest_ = 0;
    std::string window_;
};
}  // namespace

Play play(const std::string &program, const std::string &input, double seconds, std::uint64_t max_output,
          const std::vector<std::string> &look_for, bool real_clock) {
    Play run;
    Scanner scanner(look_for);
    run.digest = 14695981039346656037ull;  // FNV-1a, 64 bits
    const GameRun end = run_streaming(
        program, input, seconds,
        [&](const char *data, std::size_t size) {
            run.output += size;
            for (std::size_t i = 0; i < size; ++i)
                run.digest = (run.digest ^ static_cast<unsigned char>(data[i])) * 1099511628211ull;
            if (run.head.size() < KEEP) run.head.append(data, std::min(size, KEEP - run.head.size()));
            run.tail.append(data, size);
            if (run.tail.size() > 2 * KEEP) run.tail.erase(0, run.tail.size() - KEEP);
            scanner.feed(data, size);
            return run.output <= max_output;
        },
        KEEP, real_clock);
    if (run.tail.size() > KEEP) run.tail.erase(0, run.tail.size() - KEEP);
    run.found = scanner.found();
    run.errors = end.errors;
    run.exited = end.exited;
    run.exit_code = end.exit_code;
    run.signal = end.signal;
    run.timed_out = end.timed_out;
    run.runaway = end.stopped;
    return run;
}
