#include "hall/routes.h"

#include <stdexcept>
#include <utility>

#include "hall/live.h"
#include "hall/site.h"

namespace {
ANSWER nothing_here() { return error_answer(404, "There is nothing at this address."); }

// The steps of the routes, each a small part of an answer.

// The hall's health, on the network thread while the database's state is known (checked less
// than a second ago, or a check under way); otherwise its store checks it, writing a row.
std::optional<ANSWER> health_known(CALL &call) {
    std::optional<std::string> known = call.hall.store->unwritable_known();
    if (!known) return std::nullopt;
    return health_answer(*known);
}
std::optional<ANSWER> health_checked(CALL &call) { return health_answer(call.hall.store->unwritable()); }

// A submission: counted against the address's limit before it waits for any queue, so a run
// refused for a full queue counts too.
std::optional<ANSWER> run_admitted(CALL &call) { return admit_submission(call.hall, call.request); }
std::optional<ANSWER> run_read(CALL &call) {
    call.submission = read_submission(call.hall, call.request);
    if (call.submission.answered) return std::move(call.submission.answer);
    return std::nullopt;
}
std::optional<ANSWER> run_proven(CALL &call) {
    prove_submission(call.hall, call.submission);
    if (call.submission.answered) return std::move(call.submission.answer);
    return std::nullopt;
}
std::optional<ANSWER> run_kept(CALL &call) { return keep_submission(call.hall, call.submission); }

// A run's id is all the rest of its path: one part, not empty.
std::optional<ANSWER> run_of_id(CALL &call) {
    const std::string &id = call.parameter;
    if (id.empty() || id.find('/') != std::string::npos) return nothing_here();
    return answer_run(call.hall, id);
}
std::optional<ANSWER> runs(CALL &call) { return answer_runs(call.hall, call.target); }
// A run's sheet: the run read on the store's queue, played again on the proofs'.
std::optional<ANSWER> sheet_run(CALL &call) {
    if (!call.hall.store->find(call.parameter, call.found)) return error_answer(404, "No run has that id.");
    return std::nullopt;
}
std::optional<ANSWER> sheet(CALL &call) { return answer_sheet(call.found); }
std::optional<ANSWER> player(CALL &call) { return answer_player(call.hall, call.parameter, call.target); }
std::optional<ANSWER> board(CALL &call) { return answer_board(call.hall, call.target); }
std::optional<ANSWER> daily(CALL &call) { return answer_daily(call.hall, call.target); }
std::optional<ANSWER> feed(CALL &call) { return answer_feed(call.hall, call.request); }
std::optional<ANSWER> nothing(CALL &) { return nothing_here(); }
std::optional<ANSWER> site_file(CALL &call) { return answer_site_file(call.hall.site, call.target.path); }
std::optional<ANSWER> live_games(CALL &call) { return live_games_answer(call.hall); }
// A live game's socket asked for without the upgrade: the address takes nothing else.
std::optional<ANSWER> websocket_only(CALL &) {
    ANSWER answer = error_answer(426, "This address takes only a WebSocket.");
    answer.headers.emplace_back("Upgrade", "websocket");
    return answer;
}

constexpr METHODS reading = METHODS::reading, posting = METHODS::posting, any = METHODS::any;
constexpr QUEUE network = QUEUE::network, store = QUEUE::store, proof = QUEUE::proof;
constexpr LIVE_SOCKET none = LIVE_SOCKET::none, play = LIVE_SOCKET::play, watch = LIVE_SOCKET::watch;

// Every route of the hall, read top to bottom: the first whose path matches the request's and
// takes its method takes it. Routes of one path, one after the other, take different methods; a
// method none of them takes is answered 405, with the methods they take. The API's addresses are
// all the hall's: one it does not know is 404, never a file of the site. Every other path is a
// file of the site, when the hall serves one (site?), and has nothing when it does not.
// clang-format off
constexpr ROUTE routes[] = {
    // methods  path                  site?  socket steps, each on its queue
    {reading, "/api/health",          false, none,  {{{network, health_known}, {store, health_checked}}}},
    {reading, "/api/runs",            false, none,  {{{store, runs}}}},
    {posting, "/api/runs",            false, none,  {{{network, run_admitted}, {store, run_read},
                                                      {proof, run_proven}, {store, run_kept}}}},
    {reading, "/api/runs/{id}/sheet", false, none,  {{{store, sheet_run}, {proof, sheet}}}},
    {reading, "/api/runs/{id}",       false, none,  {{{store, run_of_id}}}},
    {reading, "/api/players/{name}",  false, none,  {{{store, player}}}},
    {reading, "/api/board",           false, none,  {{{store, board}}}},
    {reading, "/api/daily",           false, none,  {{{store, daily}}}},
    {reading, "/api/live",            false, none,  {{{network, live_games}}}},
    {reading, "/api/live/play",       false, play,  {{{network, websocket_only}}}},
    {reading, "/api/live/{id}/watch", false, watch, {{{network, websocket_only}}}},
    {any,     "/api",                 false, none,  {{{network, nothing}}}},
    {any,     "/api/{rest}",          false, none,  {{{network, nothing}}}},
    {reading, "/feed.atom",           false, none,  {{{store, feed}}}},
    {reading, "{path}",               true,  none,  {{{store, site_file}}}},
};
// clang-format on

bool takes(METHODS methods, const std::string &method) {
    switch (methods) {
        case METHODS::reading: return method == "GET" || method == "HEAD";
        case METHODS::posting: return method == "POST";
        case METHODS::any: return true;
    }
    return false;
}

// The methods of a route, as Allow names them.
const char *allowed(METHODS methods) {
    switch (methods) {
        case METHODS::reading: return "GET, HEAD";
        case METHODS::posting: return "POST";
        case METHODS::any: return "";
    }
    return "";
}

ANSWER method_not_allowed(const std::string &allow) {
    ANSWER answer = error_answer(405, "This address does not take that method.");
    answer.headers.emplace_back("Allow", allow);
    return answer;
}

// The path against a route's: the same, or the same up to the route's {name} and after it,
// whose value is what lies between (at the end of a route's path: the rest of the path). A {name}
// before the end takes one part of the path, not empty, with no slash.
bool path_matches(std::string_view route, const std::string &path, std::string &parameter) {
    std::size_t open = route.find('{');
    if (open == std::string_view::npos) return path == route;
    std::string_view before = route.substr(0, open);
    std::string_view after = route.substr(route.find('}', open) + 1);
    if (path.size() < before.size() + after.size()) return false;
    if (path.compare(0, before.size(), before) != 0) return false;
    if (path.compare(path.size() - after.size(), after.size(), after) != 0) return false;
    std::string value = path.substr(before.size(), path.size() - before.size() - after.size());
    if (!after.empty() && (value.empty() || value.find('/') != std::string::npos)) return false;
    parameter = std::move(value);
    return true;
}

// Runs the route's step `at` on its queue, then the next until one answers.
void run_stage(const std::shared_ptr<CALL> &call, const ROUTE &route, std::size_t at,
               const WORKERS &workers) {
    bool posted = workers.post(route.stages[at].queue, [call, &route, at, workers] {
        const bool last = at + 1 == route.stages.size() || !route.stages[at + 1].step;
        std::optional<ANSWER> answer = guarded_step("to answer a request", [&]() -> std::optional<ANSWER> {
            std::optional<ANSWER> given = route.stages[at].step(*call);
            if (!given && last)
                throw std::logic_error("The route of " + call->target.path + " gave no answer.");
            return given;
        });
        if (answer) return workers.answer(std::move(*answer));
        run_stage(call, route, at + 1, workers);
    });
    if (!posted) workers.answer(busy_answer());
}
}  // namespace

ROUTING find_route(const HALL &hall, const REQUEST &request) {
    ROUTING routing;
    if (!parse_target(request.target, routing.target)) {
        routing.refusal = error_answer(400, "The address is not well formed.");
        return routing;
    }
    // A post from another site's page is refused whatever its address.
    if (request.method == "POST" && !own_origin(hall, request)) {
        routing.refusal = foreign_origin();
        return routing;
    }
    std::string allow;  // the methods of the routes of the path found, when none took the request's
    std::string_view found;
    for (const ROUTE &route : routes) {
        if (!allow.empty() && route.path != found) break;
        if (route.needs_site && hall.site.empty()) continue;
        if (!path_matches(route.path, routing.target.path, routing.parameter)) continue;
        if (!takes(route.methods, request.method)) {
            allow += (allow.empty() ? "" : ", ") + std::string(allowed(route.methods));
            found = route.path;
            continue;
        }
        routing.route = &route;
        return routing;
    }
    routing.refusal = allow.empty() ? nothing_here() : method_not_allowed(allow);
    return routing;
}

void answer_request(HALL &hall, REQUEST request, const WORKERS &workers) {
    ROUTING routing;
    std::optional<ANSWER> failed = guarded_step("to answer a request", [&]() -> std::optional<ANSWER> {
        routing = find_route(hall, request);
        return std::nullopt;
    });
    if (failed) return workers.answer(std::move(*failed));
    if (!routing.route) return workers.answer(std::move(routing.refusal));
    auto call = std::make_shared<CALL>(
        CALL{hall, std::move(request), std::move(routing.target), std::move(routing.parameter), {}, {}});
    run_stage(call, *routing.route, 0, workers);
}

ANSWER handle(HALL &hall, const REQUEST &request) {
    ANSWER answer;
    WORKERS here{[](QUEUE, std::function<void()> job) {
                     job();
                     return true;
                 },
                 [&answer](ANSWER given) { answer = std::move(given); }};
    answer_request(hall, request, here);
    return answer;
}
