#include "hall/live_notices.h"

#include <libpq-fe.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <exception>
#include <thread>

#include "hall/store_link.h"

namespace {
using steady = std::chrono::steady_clock;

// The pauses between attempts to connect again: from a tenth of a second, doubled each time, to
// five seconds at most.
constexpr std::chrono::milliseconds first_pause{100};
constexpr std::chrono::milliseconds longest_pause{5000};

std::string one_line(std::string text) {
    for (char &c : text)
        if (c == '\n' || c == '\t') c = ' ';
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

bool command_ok(PGconn *connection, const char *sql, const std::vector<std::string> &values = {}) {
    std::vector<const char *> pointers;
    for (const std::string &value : values) pointers.push_back(value.c_str());
    PGresult *result = PQexecParams(connection, sql, static_cast<int>(pointers.size()), nullptr,
                                    pointers.data(), nullptr, nullptr, 0);
    const ExecStatusType status = PQresultStatus(result);
    PQclear(result);
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}
}  // namespace

struct LIVE_NOTICES::STATE {
    std::string uri;
    LIVE_NOTICE_HANDLERS handlers;
    std::chrono::milliseconds beat_every;
    std::atomic<bool> stopping{false};
    int wake = -1;  // an eventfd written to stop the thread
    std::thread thread;

    // Waits for the connection's socket (or none, -1) until `until`; false once stopping.
    bool wait(int socket, steady::time_point until, bool &readable) {
        readable = false;
        for (;;) {
            if (stopping) return false;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - steady::now());
            if (left.count() <= 0) return true;
            pollfd watched[2] = {{wake, POLLIN, 0}, {socket, POLLIN, 0}};
            const int count = poll(watched, socket >= 0 ? 2 : 1,
                                   static_cast<int>(std::min<long long>(left.count(), 60000)));
            if (stopping) return false;
            if (count > 0 && socket >= 0 && (watched[1].revents & (POLLIN | POLLERR | POLLHUP))) {
                readable = true;
                return true;
            }
        }
    }

    // Hands every notice the connection holds to the hall.
    void hand_over(PGconn *connection) {
        while (PGnotify *notice = PQnotifies(connection)) {
            std::string payload = notice->extra ? notice->extra : "";
            PQfreemem(notice);
            if (stopping) continue;
            handlers.heard(payload);
        }
    }

    // One connection, from its start to its loss (true) or the hall's stop (false).
    bool listen_once(bool again) {
        const char *keywords[] = {"connect_timeout", "dbname", nullptr};
        const char *values[] = {"3", uri.c_str(), nullptr};
        PGconn *connection = PQconnectdbParams(keywords, values, 1);
        struct CLOSER {
            PGconn *connection;
            ~CLOSER() { PQfinish(connection); }
        } closer{connection};
        if (PQstatus(connection) != CONNECTION_OK ||
            !command_ok(connection, (std::string("LISTEN ") + LIVE_CHANNEL).c_str())) {
            if (!again)
                std::fprintf(stderr, "marrowdeep-hall: cannot listen for other halls' live games: %s\n",
                             one_line(PQerrorMessage(connection)).c_str());
            return true;
        }
        PQsetNoticeProcessor(
            connection, [](void *, const char *) {}, nullptr);
        try {
            handlers.listening();
        } catch (const std::exception &error) {
            std::fprintf(stderr, "marrowdeep-hall: cannot read the other halls' live games: %s\n",
                         error.what());
            return true;
        }
        if (again) std::fprintf(stderr, "marrowdeep-hall: listening for other halls' live games again\n");
        steady::time_point next_beat = steady::now() + beat_every;
        for (;;) {
            bool readable = false;
            if (!wait(PQsocket(connection), next_beat, readable)) return false;
            if (readable && PQconsumeInput(connection) == 0) break;
            hand_over(connection);
            if (steady::now() >= next_beat) {
                next_beat = steady::now() + beat_every;
                for (const std::string &notice : handlers.beat()) {
                    if (!command_ok(connection, "SELECT pg_notify($1, $2)", {LIVE_CHANNEL, notice})) break;
                    hand_over(connection);
                }
            }
            if (PQstatus(connection) != CONNECTION_OK) break;
        }
        std::fprintf(stderr, "marrowdeep-hall: lost the connection that hears other halls' live games: %s\n",
                     one_line(PQerrorMessage(connection)).c_str());
        return true;
    }

    void run() {
        std::chrono::milliseconds pause = first_pause;
        bool again = false;
        while (!stopping) {
            const steady::time_point began = steady::now();
            if (!listen_once(again)) return;
            again = true;
            // A connection that held a while was sound: the next attempt comes soon.
            if (steady::now() - began > longest_pause) pause = first_pause;
            bool readable = false;
            if (!wait(-1, steady::now() + pause, readable)) return;
            pause = std::min(pause * 2, longest_pause);
        }
    }
};

LIVE_NOTICES::LIVE_NOTICES(std::string uri, LIVE_NOTICE_HANDLERS handlers,
                           std::chrono::milliseconds beat_every)
    : state_(std::make_unique<STATE>()) {
    state_->uri = std::move(uri);
    state_->handlers = std::move(handlers);
    state_->beat_every = beat_every;
    state_->wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (state_->wake < 0) throw std::runtime_error("eventfd failed.");
    state_->thread = std::thread([state = state_.get()] { state->run(); });
}

LIVE_NOTICES::~LIVE_NOTICES() {
    stop();
    state_->thread.join();
    close(state_->wake);
}

void LIVE_NOTICES::stop() {
    state_->stopping = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t written = write(state_->wake, &one, sizeof one);
}
