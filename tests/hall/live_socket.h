// A WebSocket client of the hall's live games, as a page opens one, for the end-to-end tests:
// every read has a bound.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>

#include "hall/run_link.h"
#include "tests/hall/hall_process.h"

inline std::string run_message(const std::string &keys) {
    return nlohmann::json{{"run", write_run_link(RUN{keys, false, 0, MARROWDEEP_VERSION})}}.dump();
}
inline std::string resume_message(const std::string &keys, const std::string &token) {
    return nlohmann::json{{"run", write_run_link(RUN{keys, false, 0, MARROWDEEP_VERSION})}, {"token", token}}
        .dump();
}

// What a socket read: a message, or the hall's close (its code and sentence), or nothing within
// the bound (code 0, not text).
struct HEARD {
    bool message = false;
    bool text = false;
    std::string data;
    unsigned code = 0;
    std::string reason;
};

// A WebSocket to the hall, as a page opens one; every read has a bound.
class SOCKET {
  public:
    // `receive_buffer`, when not 0, is the system's buffer for what the socket has not read: a
    // small one makes a client that does not read hold little.
    SOCKET(unsigned short port, const std::string &target, const std::string &origin = "",
           int receive_buffer = 0);
    ~SOCKET();
    SOCKET(const SOCKET &) = delete;
    SOCKET &operator=(const SOCKET &) = delete;
    void text(const std::string &data);
    void binary(const std::string &data);
    HEARD read(std::chrono::milliseconds bound = GENEROUS_WAIT);
    // The next message as text, or what came instead.
    std::string read_text();
    std::string read_binary();
    // The hall's close: "code: sentence".
    std::string read_close();
    void close();

  private:
    // The connection itself, in live_socket.cpp: Beast's WebSocket code is compiled there once
    // rather than in every test source that opens a socket.
    struct LINK;
    std::unique_ptr<LINK> link_;
};

struct STARTED {
    std::string id, token;
    long long keys = -1;
};

// The hall's answer to a game's first message, read.
inline STARTED started_game(SOCKET &player) {
    std::string said = player.read_text();
    static const std::regex answer(R"re(\{"id":"([0-9a-f]{24})","token":"([0-9a-f]{64})","keys":(\d+)\})re");
    std::smatch match;
    if (!std::regex_match(said, match, answer)) {
        ADD_FAILURE() << said;
        return {};
    }
    return {match[1], match[2], std::stoll(match[3])};
}

// A game begun with its first keys: the hall's answer read.
inline STARTED begin_game(SOCKET &player, const std::string &keys) {
    player.text(run_message(keys));
    return started_game(player);
}
