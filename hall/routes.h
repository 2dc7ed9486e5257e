// The hall's routes: every address it answers, the methods each takes, and the steps of its
// answer, each on the queue whose threads run it. The server and the answers in process (the
// tests, the fuzzer) both go through answer_request(), so a request takes the same path in both;
// only where the steps run differs.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "hall/api.h"

// Where a step runs. network: on the thread that read the request, at once, so it must wait on
// nothing; store: on the pool that talks to the database (and reads the site's files); proof: on
// the threads that play runs again.
enum class QUEUE { network, store, proof };

// A request on its way through its route's steps: what each step reads, and leaves for the next.
struct CALL {
    HALL &hall;
    REQUEST request;
    TARGET target;          // the request's target, decoded
    std::string parameter;  // what the route's {name} took of the path
    SUBMISSION submission;  // a run's, between the steps of a submission
    KEPT_RUN found;         // a run read, between the steps of its sheet
};

// One step: the answer, or nothing when the next step goes on.
using STEP = std::optional<ANSWER> (*)(CALL &call);
struct STAGE {
    QUEUE queue = QUEUE::store;
    STEP step = nullptr;
};

// The methods a route takes: GET (and HEAD, which gets GET's header alone), POST, or any.
enum class METHODS { reading, posting, any };

// A route that takes a WebSocket: the live game's player, or a watcher. Its steps answer a
// request that does not ask to be upgraded; one that does is handed to the live games
// (hall/live.h) by the server.
enum class LIVE_SOCKET { none, play, watch };

struct ROUTE {
    METHODS methods;
    // The path as the request names it, decoded. A {name} at its end takes the rest of the path,
    // whatever it holds (slashes too, or nothing), and the route's steps judge it.
    std::string_view path;
    bool needs_site;  // there only when the hall serves a site; else the address has nothing
    LIVE_SOCKET socket;
    // Run in order until one answers; the last always does.
    std::array<STAGE, 4> stages;
};

// The route of a request, its target decoded and the path's parameter; or, when no route takes
// it, the refusal, which waits on nothing: a target not well formed (400), a post from another
// site's page (403), an address of no route (404), a method its route does not take (405, with
// Allow).
struct ROUTING {
    const ROUTE *route = nullptr;
    TARGET target;
    std::string parameter;
    ANSWER refusal;  // when no route
};
ROUTING find_route(const HALL &hall, const REQUEST &request);

// Where the steps of a request run, and where its answer goes: the server's queues and the
// connection, or in process the calling thread itself.
struct WORKERS {
    // Runs the job on a thread of the queue (network: now, on this thread); false, with the job
    // dropped, when the queue is full.
    std::function<bool(QUEUE, std::function<void()>)> post;
    // Takes the request's answer; called once for each request.
    std::function<void(ANSWER)> answer;
};

// Routes the request and runs its route's steps, each posted to its queue; a queue that is full
// answers 503 (busy). Refusals are answered at once. Never throws from a step: a failure inside
// the hall is a 500 with a sentence, and a line on standard error.
void answer_request(HALL &hall, REQUEST request, const WORKERS &workers);

// The answer of a request in this process, every step run here and now: as the server answers it,
// but never busy.
ANSWER handle(HALL &hall, const REQUEST &request);
