// The watcher's two ways to a hall: the list of live games (GET /api/live), and a live game's
// socket (/api/live/ID/watch), read on a thread of its own. Everything the hall sends has a
// limit, and every wait for the hall a bound.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "watch/address.h"

inline constexpr int CONNECT_SECONDS = 10;               // a hall that does not answer by then is not there
inline constexpr std::size_t MOST_LIST_BYTES = 1 << 20;  // the list of live games
// The first message carries the run so far as a link and the game's listing: room for the link
// of a whole game of 100,000 keys that DEFLATE could not shrink (133,400 characters of base64)
// and the listing. Every later one is a batch of keys or a short message: the hall takes at most
// 2,000 keys at once from a player, so a batch it relays stays well within 4 KB.
inline constexpr std::size_t MOST_FIRST_MESSAGE = 140 * 1024;
inline constexpr std::size_t MOST_LATER_MESSAGE = 4096;

// The list's body, or the sentence telling why there is none.
struct HALL_ANSWER {
    bool ok = false;
    std::string body;
    std::string error;
};
HALL_ANSWER fetch_live_list(const HALL_ADDRESS &address);

// What the socket brought: keys, a text message, the hall's close (its code and sentence), or a
// failure of the network (a sentence).
struct HALL_EVENT {
    enum KIND { KEYS, TEXT, CLOSED, FAILED } kind = FAILED;
    std::string data;
    unsigned code = 0;
};

// A watcher's socket, read on its own thread. Each event wakes whoever polls `wake_fd()`; the
// events are taken in order with take().
class WATCH_SOCKET {
  public:
    WATCH_SOCKET();
    ~WATCH_SOCKET();
    WATCH_SOCKET(const WATCH_SOCKET &) = delete;
    WATCH_SOCKET &operator=(const WATCH_SOCKET &) = delete;

    void open(const HALL_ADDRESS &address);
    int wake_fd() const { return wake_[0]; }
    std::deque<HALL_EVENT> take();

  private:
    void run(HALL_ADDRESS address);
    void tell(HALL_EVENT event);

    int wake_[2] = {-1, -1};
    std::mutex mutex_;
    std::deque<HALL_EVENT> events_;
    std::thread thread_;
};
