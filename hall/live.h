// Live games: a game played now in a player's page, relayed by the hall as its keys. The player's
// page sends each key as the game reads it over a WebSocket; the hall commits them, and hands
// them to every watcher's page, which plays the same game from them. When the game ends the hall
// proves its run and keeps it as a submission would be kept.
//
// The games live in this process (their watchers are its sockets), and their keys in the
// database, so a hall started again after a crash has every key it acknowledged, and a player who
// comes back with the game's token goes on from there. Halls that share a PostgreSQL database
// hear of each other's games (hall/live_notices.h) and relay them to their own watchers.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "hall/routes.h"

// The limits of the live games.
inline constexpr std::size_t MOST_LIVE_MESSAGE = 4096;           // every message after the first
inline constexpr std::size_t MOST_LIVE_GAMES_AN_ADDRESS = 4;     // played at once
inline constexpr std::size_t MOST_LIVE_SOCKETS_AN_ADDRESS = 32;  // players and watchers
inline constexpr std::size_t MOST_WATCHER_BEHIND = 256 * 1024;   // bytes not yet sent to a watcher
inline constexpr int WATCHER_SEND_BUFFER = 16 * 1024;            // the system's, for a watcher's socket
// Faster than anyone types: more than 200 keys a second, held for 10 seconds.
inline constexpr long long MOST_KEYS_A_SECOND = 200;
inline constexpr long long MOST_KEYS_AT_ONCE = 2000;
// The day's seed is relayed this late, so no watcher learns its maze from the first player.
inline constexpr long long LIVE_DELAY_SECONDS = 300;

// The close codes of the live sockets, each sent with a sentence.
enum LIVE_CLOSE : unsigned short {
    LIVE_ENDED = 1000,          // the game ended (after the player's record, a watcher's end)
    LIVE_HALL_STOPPING = 1001,  // the hall is stopping; resume or watch again once it is back
    LIVE_TOO_BIG = 1009,        // a message over its limit
    LIVE_RESUMED_ELSEWHERE = 4001,
    LIVE_NOT_WELL_FORMED = 4400,  // a message the protocol does not have, or a damaged link
    LIVE_WRONG_TOKEN = 4401,
    // Another site's page; a start whose signature does not verify, or a game under a name
    // claimed by another key (by any key, unsigned); an end not signed by the start's key.
    LIVE_FORBIDDEN = 4403,
    LIVE_NO_GAME = 4404,
    LIVE_TOO_SLOW = 4408,    // a watcher too far behind
    LIVE_NOT_PREFIX = 4409,  // a resumed run that does not go on from the keys held
    LIVE_TOO_MANY_KEYS = 4413,
    LIVE_OTHER_VERSION = 4422,  // or a hero's name over 40 bytes
    LIVE_TOO_MUCH = 4429,       // too many games or sockets from an address, or keys too fast
    LIVE_FAILED = 4500,
    LIVE_DATABASE_DOWN = 4503,
};

// The live games of one hall, and their sockets. Made by the server before it accepts, stopped
// before its network ends.
struct LIVE_SETTINGS {
    std::chrono::milliseconds io_timeout{15000};
    std::size_t most_behind = MOST_WATCHER_BEHIND;  // a watcher's limit
    // Runs the job on a thread of the queue; false when the queue is full.
    std::function<bool(QUEUE, std::function<void()>)> post;
};

struct LIVE_STATE;
class LIVE_NOTICES;

class LIVE {
  public:
    // Reads the live games the database holds (left by a hall that stopped or crashed): their
    // players are gone until they come back.
    LIVE(HALL &hall, boost::asio::io_context &network, LIVE_SETTINGS settings);
    ~LIVE();
    LIVE(const LIVE &) = delete;
    LIVE &operator=(const LIVE &) = delete;

    // Takes a connection whose request asked for the route's socket: the upgrade is answered,
    // then the player's or the watcher's protocol runs on it. `request` is the request as the
    // hall's answers take it (its client's address and origin); `keep` is held as long as the
    // socket is open.
    void take(LIVE_SOCKET kind, boost::beast::tcp_stream stream,
              boost::beast::http::request<boost::beast::http::string_body> upgrade, const REQUEST &request,
              const std::string &parameter, std::shared_ptr<void> keep);
    // Closes every socket (the hall is stopping) and its timers, so the network can end.
    void stop();
    LIVE_STATE &state() { return *state_; }

  private:
    std::shared_ptr<LIVE_STATE> state_;
    std::unique_ptr<LIVE_NOTICES> notices_;  // with other halls on the database: their notices
};

// GET /api/live: the games played now, the newest first; none in a hall with no server.
ANSWER live_games_answer(HALL &hall);
