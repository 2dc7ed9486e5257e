// The hall on the network: HTTP/1.1 with keep-alive, each connection a session of its own on a
// few network threads; proofs on a thread of their own and database work on a small pool, each
// behind a bounded queue, so a slow proof or a slow database never holds the network threads.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "hall/api.h"

struct SERVER_SETTINGS {
    std::string host = "127.0.0.1";
    std::string port = "8080";
    // Each read of a request and each write of an answer must end within this time, or the
    // connection is closed: a slow client holds nothing for long.
    std::chrono::milliseconds io_timeout{15000};
    int network_threads = 2;
    int store_threads = 4;
    std::size_t most_waiting_proofs = 64;   // then 503
    std::size_t most_waiting_stores = 256;  // then 503
};

// The longest body taken (a run's link text is at most 65,536 characters), and the longest
// request line and header fields.
inline constexpr std::size_t MOST_BODY = 70 * 1024;
inline constexpr std::size_t MOST_HEADER = 16 * 1024;

// Serves until SIGTERM or SIGINT, then finishes the requests in flight and returns 0.
// `listening` is told the address and port once the hall listens (the port chosen by the system
// when 0 was asked). Returns 1, with a sentence on standard error, when it cannot listen.
int serve(HALL &hall, const SERVER_SETTINGS &settings,
          const std::function<void(const std::string &)> &listening);
