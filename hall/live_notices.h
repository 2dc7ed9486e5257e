// The notices of live games between the halls that share one PostgreSQL database. A hall that
// commits a game's keys (or starts or ends it) sends a notice in the same transaction; every
// hall listens on a connection of its own, and on each notice reads what it lacks from the
// tables, which stay the one source of the keys. A notice only rings the bell.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct LIVE_NOTICE_HANDLERS {
    // After the hall listens (at first, and again after the connection was lost): what was
    // missed meanwhile is read from the tables. A throw drops the connection and tries again.
    std::function<void()> listening;
    // Each notice heard, in the order the database committed them.
    std::function<void(const std::string &)> heard;
    // The notices to send now, asked every `beat_every`: the games played in this hall, so the
    // others know their players are still there.
    std::function<std::vector<std::string>()> beat;
};

// A thread that listens on the channel of live games, connects again with a growing pause
// when the connection is lost (the database restarted), and sends the beat.
class LIVE_NOTICES {
  public:
    LIVE_NOTICES(std::string uri, LIVE_NOTICE_HANDLERS handlers, std::chrono::milliseconds beat_every);
    // Stops the thread and waits for it.
    ~LIVE_NOTICES();
    LIVE_NOTICES(const LIVE_NOTICES &) = delete;
    LIVE_NOTICES &operator=(const LIVE_NOTICES &) = delete;
    // From any thread: no handler starts once this returns; the thread ends after the one under
    // way, if any.
    void stop();

  private:
    struct STATE;
    std::unique_ptr<STATE> state_;
};
