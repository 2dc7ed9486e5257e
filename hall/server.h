// The hall on the network: HTTP/1.1 with keep-alive, each connection a session of its own on a
// few network threads; proofs on threads of their own (one a core unless told) and database work
// on a small pool, each behind a bounded queue, so a slow proof or a slow database never holds
// the network threads. Which queue each step of an answer runs on is the routes' (hall/routes.h).
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "hall/api.h"
#include "hall/site.h"

// The most proof threads a hall may be given.
inline constexpr int MOST_PROOF_THREADS = 256;
// The proof threads of a hall not told: one for each core the system reports, at least one.
int default_proof_threads();

struct SERVER_SETTINGS {
    std::string host = "127.0.0.1";
    std::string port = "8080";
    // Each read of a request and each write of an answer must end within this time, or the
    // connection is closed: a slow client holds nothing for long.
    std::chrono::milliseconds io_timeout{15000};
    int network_threads = 2;
    int proof_threads = default_proof_threads();  // 1 to MOST_PROOF_THREADS
    int store_threads = 4;
    std::size_t most_waiting_proofs = 64;   // then 503
    std::size_t most_waiting_stores = 256;  // then 503
    // The most connections open at once; past it the hall takes no more until some close.
    std::size_t connections = 1000;
    // The address of a proxy in front of the hall (as text, "127.0.0.1"): from it, and only from
    // it, the client's address is read from X-Forwarded-For. Empty: no proxy is trusted.
    std::string trusted_proxy;
    // The most bytes a live game's watcher may fall behind before it is closed (the hall's
    // limit, MOST_WATCHER_BEHIND; smaller in tests, which cannot type 256 KB of keys).
    std::size_t most_watcher_behind = 256 * 1024;
};

// The longest body taken (a run's link text is at most 65,536 characters), and the longest
// request line and header fields. The same bound holds what a request may leave unread at once:
// a chunk's line, and the trailer fields after the last chunk.
inline constexpr std::size_t MOST_BODY = 70 * 1024;
inline constexpr std::size_t MOST_HEADER = 16 * 1024;
// The longest extensions of one chunk (a client has no reason to send any).
inline constexpr std::size_t MOST_CHUNK_EXTENSIONS = 256;
// The largest answer the hall writes: the largest board is far below it, a site file at most
// MOST_SITE_FILE.
inline constexpr std::size_t MOST_ANSWER = MOST_SITE_FILE + 64 * 1024;

// Serves until SIGTERM or SIGINT, then finishes the requests in flight and returns 0.
// `listening` is told the address and port once the hall listens (the port chosen by the system
// when 0 was asked). Returns 1, with a sentence on standard error, when it cannot listen.
int serve(HALL &hall, const SERVER_SETTINGS &settings,
          const std::function<void(const std::string &)> &listening);

// The bytes a client sent on one connection, answered in this process as the server answers them:
// read with the server's own parser, settings and limits, routed and handled (proofs and the
// store included), and the answers' bytes given back, until the client's bytes run out or the
// hall closes the connection. `peer` is the client's address.
std::string answer_connection(HALL &hall, const SERVER_SETTINGS &settings, std::string_view bytes,
                              const std::string &peer = "127.0.0.1");
