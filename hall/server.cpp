#include "hall/server.h"

#include <pthread.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "hall/live.h"
#include "hall/routes.h"

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace {
// Threads that take jobs from a queue of bounded length: a job that finds it full is refused, so
// the caller answers at once instead of queueing without end. The threads bear the queue's name
// (at most 15 bytes), as ps -L and top -H show them.
class WORK_QUEUE {
  public:
    WORK_QUEUE(const char *name, int threads, std::size_t most_waiting) : most_waiting_(most_waiting) {
        for (int i = 0; i < threads; ++i) {
            threads_.emplace_back([this] { work(); });
            pthread_setname_np(threads_.back().native_handle(), name);
        }
    }
    ~WORK_QUEUE() { stop(); }

    bool try_post(std::function<void()> job) {
        std::lock_guard lock(mutex_);
        if (stopping_ || jobs_.size() >= most_waiting_) return false;
        jobs_.push_back(std::move(job));
        ready_.notify_one();
        return true;
    }

    // Finishes the jobs queued, then the threads end.
    void stop() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
            ready_.notify_all();
        }
        for (auto &thread : threads_)
            if (thread.joinable()) thread.join();
    }

  private:
    void work() {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock lock(mutex_);
                ready_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
                if (jobs_.empty()) return;
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            // A job answers its own failures; this only keeps the thread alive if one does not.
            try {
                job();
            } catch (const std::exception &error) {
                std::fprintf(stderr, "marrowdeep-hall: failed in a job: %s\n", error.what());
            } catch (...) {
                std::fputs("marrowdeep-hall: failed in a job: an unknown exception\n", stderr);
            }
        }
    }

    std::size_t most_waiting_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> jobs_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

class SESSION;

struct SERVER {
    HALL &hall;
    const SERVER_SETTINGS &settings;
    // Declared before the network, so they outlive the sessions its handlers may still hold.
    std::atomic<bool> stopping{false};
    std::atomic<bool> paused{false};
    std::atomic<std::size_t> open{0};
    net::io_context network;
    // The acceptor's work runs on a strand of its own: one accept at a time, paused and
    // started again from any thread.
    net::strand<net::io_context::executor_type> accepting{network.get_executor()};
    tcp::acceptor acceptor{accepting};
    net::steady_timer accept_again{accepting};
    WORK_QUEUE proofs;
    WORK_QUEUE stores;
    std::mutex sessions_mutex;
    std::set<std::weak_ptr<SESSION>, std::owner_less<std::weak_ptr<SESSION>>> sessions;
    std::unique_ptr<LIVE> live;  // made once the network runs

    SERVER(HALL &h, const SERVER_SETTINGS &s)
        : hall(h),
          settings(s),
          network(s.network_threads),
          proofs("hall-proof", s.proof_threads, s.most_waiting_proofs),
          stores("hall-store", s.store_threads, s.most_waiting_stores) {}
};

void accept(SERVER &server);
void resume_accepting(SERVER &server);

void log_request(SERVER &server, const std::string &address, const std::string &method,
                 const std::string &target, int status, std::size_t bytes,
                 std::chrono::steady_clock::time_point started) {
    double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
    // A target is logged as far as 200 bytes: the log grows by no more than that for a request.
    std::string shown = target.size() > 200 ? target.substr(0, 200) + "..." : target;
    std::string line = utc_time(server.hall.now_ms() / 1000) + " " + address + " " + method + " " + shown +
                       " " + std::to_string(status) + " " + std::to_string(bytes) + " ";
    char elapsed[32];
    std::snprintf(elapsed, sizeof elapsed, "%.1fms\n", ms);
    line += elapsed;
    std::fputs(line.c_str(), stderr);
}

// What a session and answer_connection() share: the parser's settings and limits, the checks of a
// request's framing, the request as the hall's answers take it, and the answer as it is written.
using PARSER = http::request_parser<http::string_body>;

// Chunk extensions are refused past a small size; the whole chunk line is held to MOST_HEADER by
// the read buffer.
void limit_chunk_extensions(std::uint64_t, beast::string_view extensions, beast::error_code &ec) {
    if (extensions.size() > MOST_CHUNK_EXTENSIONS) ec = http::error::bad_chunk_extension;
}
void (*chunk_header_check)(std::uint64_t, beast::string_view, beast::error_code &) = &limit_chunk_extensions;

void prepare(PARSER &parser) {
    parser.body_limit(MOST_BODY);
    parser.header_limit(MOST_HEADER);
    // The parser keeps a reference to the callback: a function pointer that lives as long as the
    // program.
    parser.on_chunk_header(chunk_header_check);
}

// The buffer a connection is read through: it never holds more than this, so a header, a chunk's
// line or the trailer fields can never grow past it.
beast::flat_buffer read_buffer() { return beast::flat_buffer(MOST_HEADER); }

// A transfer coding other than chunked alone is refused: the hall could not tell where such a
// body ends, and a request hidden in it must not be answered.
std::optional<ANSWER> refused_framing(const PARSER &parser) {
    const auto &header = parser.get();
    auto [first, last] = header.equal_range(http::field::transfer_encoding);
    if (first == last) return std::nullopt;
    std::string codings;
    for (auto it = first; it != last; ++it) {
        if (!codings.empty()) codings += ',';
        codings.append(it->value().data(), it->value().size());
    }
    std::string_view coding = codings;
    while (!coding.empty() && (coding.front() == ' ' || coding.front() == '\t')) coding.remove_prefix(1);
    while (!coding.empty() && (coding.back() == ' ' || coding.back() == '\t')) coding.remove_suffix(1);
    if (beast::iequals(beast::string_view(coding.data(), coding.size()), "chunked")) return std::nullopt;
    return error_answer(501, "The hall takes no transfer coding but chunked.");
}

// Ends of a connection that need no answer: the client closed or went quiet.
bool quiet_end(beast::error_code ec) {
    return ec == http::error::end_of_stream || ec == beast::error::timeout ||
           ec == net::error::operation_aborted || ec == net::error::connection_reset ||
           ec == net::error::eof || ec == net::error::bad_descriptor;
}

// The answer to a request that cannot be read; the connection closes after it.
ANSWER unreadable(beast::error_code ec, const PARSER &parser) {
    if (ec == http::error::body_limit)
        return error_answer(413, "The run is too long: a link holds at most 65,536 characters.");
    if (ec == http::error::header_limit || (ec == http::error::buffer_overflow && !parser.is_header_done()))
        return error_answer(431, "The request's header fields are too long.");
    if (ec == http::error::buffer_overflow)
        return error_answer(431, "The request's trailer fields or a chunk's line are too long.");
    if (ec == http::error::bad_chunk_extension)
        return error_answer(400, "The request's chunk extensions are too long or not well formed.");
    return error_answer(400, "The request is not well-formed HTTP.");
}

// The client's address: the peer's, or behind the trusted proxy the last address the proxy added
// to X-Forwarded-For (the ones before it are the client's own word).
std::string client_address(const http::request<http::string_body> &message, const std::string &peer,
                           const SERVER_SETTINGS &settings) {
    if (settings.trusted_proxy.empty() || peer != settings.trusted_proxy) return peer;
    std::string forwarded;
    auto [first, last_field] = message.equal_range("X-Forwarded-For");
    for (auto it = first; it != last_field; ++it) {
        if (!forwarded.empty()) forwarded += ',';
        forwarded.append(it->value().data(), it->value().size());
    }
    std::string_view last = forwarded;
    std::size_t comma = last.rfind(',');
    if (comma != std::string_view::npos) last.remove_prefix(comma + 1);
    while (!last.empty() && (last.front() == ' ' || last.front() == '\t')) last.remove_prefix(1);
    while (!last.empty() && (last.back() == ' ' || last.back() == '\t')) last.remove_suffix(1);
    beast::error_code ec;
    auto address = net::ip::make_address(std::string(last), ec);
    return ec ? peer : address.to_string();
}

// A run's key or signature field; nothing when it was not sent. A field sent twice is read as
// HTTP joins such fields, with ", ", which no base64url holds: it is refused as damaged.
std::optional<std::string> signing_field(const http::request<http::string_body> &message, const char *name) {
    auto [first, last] = message.equal_range(name);
    if (first == last) return std::nullopt;
    std::string value;
    for (auto field = first; field != last; ++field) {
        if (field != first) value += ", ";
        value.append(field->value().data(), field->value().size());
    }
    return value;
}

REQUEST request_of(http::request<http::string_body> &&message, const std::string &peer,
                   const SERVER_SETTINGS &settings) {
    REQUEST request;
    request.method = std::string(message.method_string());
    request.target = std::string(message.target());
    request.address = client_address(message, peer, settings);
    // Behind the trusted proxy the page was served under the proxy's scheme (https, as a rule).
    if (!settings.trusted_proxy.empty() && peer == settings.trusted_proxy) {
        auto proto = message["X-Forwarded-Proto"];
        if (beast::iequals(proto, "https") || beast::iequals(proto, "http")) {
            request.scheme = std::string(proto);
            for (char &c : request.scheme) c = static_cast<char>(c | 0x20);
        }
    }
    request.host = std::string(message[http::field::host]);
    request.origin = std::string(message[http::field::origin]);
    request.key = signing_field(message, "Marrowdeep-Key");
    request.signature = signing_field(message, "Marrowdeep-Signature");
    request.body = std::move(message.body());
    return request;
}

using RESPONSE = http::response<http::string_body>;

// Every answer says who wrote it without its version, forbids guessing its type and being framed
// by another site's page.
std::shared_ptr<RESPONSE> response_of(ANSWER answer, unsigned version, bool keep_alive, bool head) {
    if (answer.body.size() > MOST_ANSWER) answer = error_answer(500, "The answer is too large to send.");
    auto response =
        std::make_shared<RESPONSE>(static_cast<http::status>(answer.status), version ? version : 11);
    response->set(http::field::server, "marrowdeep-hall");
    response->set(http::field::content_type, answer.content_type);
    response->set("X-Content-Type-Options", "nosniff");
    response->set("Content-Security-Policy", "frame-ancestors 'none'");
    for (const auto &[field, value] : answer.headers) response->set(field, value);
    response->keep_alive(keep_alive);
    if (head) {
        response->content_length(answer.body.size());
    } else {
        response->body() = std::move(answer.body);
        response->prepare_payload();
    }
    return response;
}

// Only an HTTP/1.1 client may be told to go on: an HTTP/1.0 client's Expect is not heeded, and it
// is sent no interim answer.
bool asks_to_go_on(const PARSER &parser) {
    return parser.get().version() >= 11 &&
           beast::iequals(parser.get()[http::field::expect], "100-continue") && !parser.is_done();
}

class SESSION : public std::enable_shared_from_this<SESSION> {
  public:
    SESSION(SERVER &server, tcp::socket socket) : server_(server), stream_(std::move(socket)) {
        ++server_.open;
        beast::error_code ec;
        auto endpoint = stream_.socket().remote_endpoint(ec);
        peer_ = ec ? "-" : endpoint.address().to_string();
        address_ = peer_;
    }
    // A connection closed makes room: an acceptor paused at the cap goes on.
    ~SESSION() {
        --server_.open;
        resume_accepting(server_);
    }

    void start() {
        net::dispatch(stream_.get_executor(), [self = shared_from_this()] { self->read_header(); });
    }

    // The hall stops: a session waiting for a request closes now; one answering closes after its
    // answer.
    void stop() {
        if (handed_over_) return;  // the live games close their sockets themselves
        net::post(stream_.get_executor(), [self = shared_from_this()] {
            if (self->waiting_) {
                beast::error_code ec;
                self->stream_.socket().shutdown(tcp::socket::shutdown_both, ec);
                self->stream_.close();
            }
        });
    }

  private:
    void read_header() {
        waiting_ = true;
        address_ = peer_;
        if (server_.stopping) {
            stream_.close();
            return;
        }
        parser_.emplace();
        prepare(*parser_);
        stream_.expires_after(server_.settings.io_timeout);
        http::async_read_header(stream_, buffer_, *parser_,
                                beast::bind_front_handler(&SESSION::on_header, shared_from_this()));
    }

    void on_header(beast::error_code ec, std::size_t) {
        if (ec) return read_failed(ec);
        waiting_ = false;
        started_ = std::chrono::steady_clock::now();
        if (std::optional<ANSWER> refused = refused_framing(*parser_)) {
            keep_alive_ = false;
            address_ = client_address(parser_->get(), peer_, server_.settings);
            method_ = std::string(parser_->get().method_string());
            target_ = std::string(parser_->get().target());
            return write(std::move(*refused));
        }
        // A client that asks before sending its body (curl does, for a long one) is told to go on.
        if (asks_to_go_on(*parser_)) {
            auto go_on = std::make_shared<http::response<http::empty_body>>(http::status::continue_, 11);
            stream_.expires_after(server_.settings.io_timeout);
            http::async_write(stream_, *go_on,
                              [self = shared_from_this(), go_on](beast::error_code e, std::size_t) {
                                  if (e) return self->close();
                                  self->read_body();
                              });
            return;
        }
        read_body();
    }

    void read_body() {
        stream_.expires_after(server_.settings.io_timeout);
        http::async_read(stream_, buffer_, *parser_,
                         beast::bind_front_handler(&SESSION::on_request, shared_from_this()));
    }

    void read_failed(beast::error_code ec) {
        if (quiet_end(ec)) return close();
        // The request cannot be read: the answer says why, and the connection closes after it.
        keep_alive_ = false;
        if (started_ == std::chrono::steady_clock::time_point{}) started_ = std::chrono::steady_clock::now();
        // What was read of the request names it in the log: its line, and its client behind a
        // proxy (a body refused for its length is refused as its header's fields are read).
        const auto &message = parser_->get();
        bool line_read = !message.method_string().empty();
        method_ = line_read ? std::string(message.method_string()) : "-";
        target_ = line_read ? std::string(message.target()) : "-";
        address_ = line_read ? client_address(message, peer_, server_.settings) : peer_;
        waiting_ = false;
        write(unreadable(ec, *parser_));
    }

    void on_request(beast::error_code ec, std::size_t) {
        if (ec) return read_failed(ec);
        auto message = parser_->release();
        // A live game's socket: the upgrade's request is kept to answer it with.
        std::optional<http::request<http::string_body>> upgrade;
        if (beast::websocket::is_upgrade(message) && server_.live) upgrade = message;
        head_ = message.method() == http::verb::head;
        keep_alive_ = message.keep_alive() && !server_.stopping;
        version_ = message.version();
        REQUEST request = request_of(std::move(message), peer_, server_.settings);
        method_ = request.method;
        target_ = request.target;
        address_ = request.address;

        if (upgrade) {
            ROUTING routing = find_route(server_.hall, request);
            if (routing.route && routing.route->socket != LIVE_SOCKET::none) {
                log_request(server_, address_, method_, target_, 101, 0, started_);
                handed_over_ = true;
                server_.live->take(routing.route->socket, std::move(stream_), std::move(*upgrade), request,
                                   routing.parameter, shared_from_this());
                return;
            }
        }

        // Whatever job is queued keeps the network running until its answer is written.
        auto guard = std::make_shared<net::executor_work_guard<net::io_context::executor_type>>(
            server_.network.get_executor());
        auto self = shared_from_this();
        WORKERS workers{[self, guard](QUEUE queue, std::function<void()> job) {
                            switch (queue) {
                                case QUEUE::network: job(); return true;
                                case QUEUE::store: return self->server_.stores.try_post(std::move(job));
                                case QUEUE::proof: return self->server_.proofs.try_post(std::move(job));
                            }
                            return false;
                        },
                        [self, guard](ANSWER answer) { self->give_answer(std::move(answer)); }};
        answer_request(server_.hall, std::move(request), workers);
    }

    // On the session's own strand: at once when called there (an answer from the network thread),
    // else once the strand is free.
    void give_answer(ANSWER answer) {
        net::dispatch(stream_.get_executor(),
                      [self = shared_from_this(), answer = std::move(answer)]() mutable {
                          self->write(std::move(answer));
                      });
    }

    void write(ANSWER answer) {
        if (server_.stopping) keep_alive_ = false;
        int status = answer.status;
        std::size_t bytes = answer.body.size();
        auto response = response_of(std::move(answer), version_, keep_alive_, head_);
        log_request(server_, address_, method_, target_, status, bytes, started_);
        stream_.expires_after(server_.settings.io_timeout);
        http::async_write(
            stream_, *response,
            [self = shared_from_this(), response](beast::error_code ec, std::size_t) { self->on_write(ec); });
    }

    void on_write(beast::error_code ec) {
        if (ec) return close();
        if (!keep_alive_) return linger();
        head_ = false;
        started_ = {};
        read_header();
    }

    // A connection closed after an answer is first shut for sending, and what the client still
    // sends (the rest of a body too long, say) is read and dropped for a moment, so the client
    // reads the answer instead of a reset.
    void linger() {
        beast::error_code ec;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ec);
        if (ec) return close();
        stream_.expires_after(std::min(server_.settings.io_timeout, std::chrono::milliseconds(2000)));
        auto scrap = std::make_shared<std::array<char, 4096>>();
        drain(scrap);
    }

    void drain(std::shared_ptr<std::array<char, 4096>> scrap) {
        stream_.async_read_some(net::buffer(*scrap),
                                [self = shared_from_this(), scrap](beast::error_code ec, std::size_t) {
                                    if (ec) return self->close();
                                    self->drain(scrap);
                                });
    }

    void close() {
        waiting_ = false;
        beast::error_code ec;
        stream_.socket().shutdown(tcp::socket::shutdown_both, ec);
        stream_.close();
    }

    SERVER &server_;
    beast::tcp_stream stream_;
    beast::flat_buffer buffer_ = read_buffer();
    std::optional<PARSER> parser_;
    std::string peer_, address_, method_ = "-", target_ = "-";
    bool keep_alive_ = false, head_ = false, waiting_ = false;
    std::atomic<bool> handed_over_{false};  // its socket is a live game's now
    unsigned version_ = 11;
    std::chrono::steady_clock::time_point started_{};
};

// Errors of accepting that say the process or the system is short of descriptors or memory: the
// connection waits in the system's queue while the hall pauses, instead of trying again at once.
bool short_of_resources(beast::error_code ec) {
    return ec == net::error::no_descriptors || ec == net::error::no_buffer_space ||
           ec == net::error::no_memory || ec == beast::error_code(ENFILE, beast::system_category());
}

// Starts accepting again, once: from a connection's end, or after a pause's moment.
void resume_accepting(SERVER &server) {
    if (server.stopping || !server.paused.exchange(false)) return;
    net::post(server.accepting, [&server] {
        beast::error_code ec;
        server.accept_again.cancel(ec);
        accept(server);
    });
}

void pause_accepting(SERVER &server, std::chrono::milliseconds moment) {
    server.paused = true;
    server.accept_again.expires_after(moment);
    server.accept_again.async_wait([&server](beast::error_code ec) {
        if (!ec) resume_accepting(server);
    });
}

void accept(SERVER &server) {
    if (server.stopping || !server.acceptor.is_open()) return;
    if (server.open >= server.settings.connections) {
        // Full: a connection's end starts it again (the timer only guards against a missed one).
        return pause_accepting(server, std::chrono::milliseconds(1000));
    }
    server.acceptor.async_accept(
        net::make_strand(server.network), [&server](beast::error_code ec, tcp::socket socket) {
            if (ec == net::error::operation_aborted || !server.acceptor.is_open()) return;
            if (short_of_resources(ec)) {
                static std::atomic<long long> told{0};
                if (told++ % 100 == 0)
                    std::fprintf(stderr, "marrowdeep-hall: cannot take a connection (%s); pausing\n",
                                 ec.message().c_str());
                return pause_accepting(server, std::chrono::milliseconds(100));
            }
            if (!ec) {
                auto session = std::make_shared<SESSION>(server, std::move(socket));
                {
                    std::lock_guard lock(server.sessions_mutex);
                    // Sessions that ended are forgotten as new ones come.
                    for (auto it = server.sessions.begin(); it != server.sessions.end();)
                        it = it->expired() ? server.sessions.erase(it) : std::next(it);
                    server.sessions.insert(session);
                }
                session->start();
            }
            accept(server);
        });
}

// A network thread runs until the hall stops. Nothing a request does may end it: whatever escapes
// a handler is logged, and the thread goes on with the others' work.
void run_network(SERVER &server) {
    for (;;) {
        try {
            server.network.run();
            return;
        } catch (const std::exception &error) {
            std::fprintf(stderr, "marrowdeep-hall: failed on the network: %s\n", error.what());
        } catch (...) {
            std::fputs("marrowdeep-hall: failed on the network: an unknown exception\n", stderr);
        }
    }
}

void stop(SERVER &server) {
    std::fputs("marrowdeep-hall: stopping: answering the requests in flight\n", stderr);
    server.stopping = true;
    net::post(server.accepting, [&server] {
        beast::error_code ec;
        server.acceptor.close(ec);
        server.accept_again.cancel(ec);
    });
    std::vector<std::shared_ptr<SESSION>> live;
    {
        std::lock_guard lock(server.sessions_mutex);
        for (const auto &weak : server.sessions)
            if (auto session = weak.lock()) live.push_back(session);
    }
    for (auto &session : live) session->stop();
    if (server.live) server.live->stop();
}
}  // namespace

int default_proof_threads() {
    return static_cast<int>(
        std::clamp(std::thread::hardware_concurrency(), 1u, unsigned(MOST_PROOF_THREADS)));
}

int serve(HALL &hall, const SERVER_SETTINGS &settings,
          const std::function<void(const std::string &)> &listening) {
    SERVER server(hall, settings);
    beast::error_code ec;
    tcp::resolver resolver(server.network);
    auto endpoints = resolver.resolve(settings.host, settings.port,
                                      tcp::resolver::passive | tcp::resolver::numeric_service, ec);
    if (ec || endpoints.empty()) {
        std::fprintf(stderr, "marrowdeep-hall: cannot listen on %s:%s: %s\n", settings.host.c_str(),
                     settings.port.c_str(), ec.message().c_str());
        return 1;
    }
    tcp::endpoint endpoint = endpoints.begin()->endpoint();
    server.acceptor.open(endpoint.protocol(), ec);
    if (!ec) server.acceptor.set_option(net::socket_base::reuse_address(true), ec);
    if (!ec) server.acceptor.bind(endpoint, ec);
    if (!ec) server.acceptor.listen(net::socket_base::max_listen_connections, ec);
    if (ec) {
        std::fprintf(stderr, "marrowdeep-hall: cannot listen on %s:%s: %s\n", settings.host.c_str(),
                     settings.port.c_str(), ec.message().c_str());
        return 1;
    }
    auto bound = server.acceptor.local_endpoint();
    std::string where =
        bound.address().is_v6() ? "[" + bound.address().to_string() + "]" : bound.address().to_string();
    listening(where + ":" + std::to_string(bound.port()));

    try {
        server.live =
            std::make_unique<LIVE>(hall, server.network,
                                   LIVE_SETTINGS{settings.io_timeout, settings.most_watcher_behind,
                                                 [&server](QUEUE queue, std::function<void()> job) {
                                                     switch (queue) {
                                                         case QUEUE::network: job(); return true;
                                                         case QUEUE::store:
                                                             return server.stores.try_post(std::move(job));
                                                         case QUEUE::proof:
                                                             return server.proofs.try_post(std::move(job));
                                                     }
                                                     return false;
                                                 }});
    } catch (const std::exception &error) {
        std::fprintf(stderr, "marrowdeep-hall: cannot read the live games: %s\n", error.what());
        return 1;
    }
    hall.live = server.live.get();

    net::signal_set signals(server.network, SIGTERM, SIGINT);
    signals.async_wait([&server](beast::error_code e, int) {
        if (!e) stop(server);
    });
    accept(server);

    std::vector<std::thread> threads;
    for (int i = 1; i < settings.network_threads; ++i)
        threads.emplace_back([&server] { run_network(server); });
    run_network(server);
    for (auto &thread : threads) thread.join();
    server.proofs.stop();
    server.stores.stop();
    hall.live = nullptr;
    return 0;
}

namespace {
// A connection's bytes as a stream that reads them and keeps what is written.
struct BYTES_STREAM {
    std::string_view in;
    std::string out;

    template <typename BUFFERS>
    std::size_t read_some(const BUFFERS &buffers, beast::error_code &ec) {
        ec = {};
        if (in.empty()) {
            ec = net::error::eof;
            return 0;
        }
        std::size_t n = net::buffer_copy(buffers, net::buffer(in.data(), in.size()));
        in.remove_prefix(n);
        return n;
    }
    template <typename BUFFERS>
    std::size_t read_some(const BUFFERS &buffers) {
        beast::error_code ec;
        std::size_t n = read_some(buffers, ec);
        if (ec) throw beast::system_error(ec);
        return n;
    }
    template <typename BUFFERS>
    std::size_t write_some(const BUFFERS &buffers, beast::error_code &ec) {
        ec = {};
        std::size_t n = 0;
        for (auto it = net::buffer_sequence_begin(buffers); it != net::buffer_sequence_end(buffers); ++it) {
            net::const_buffer buffer(*it);
            out.append(static_cast<const char *>(buffer.data()), buffer.size());
            n += buffer.size();
        }
        return n;
    }
    template <typename BUFFERS>
    std::size_t write_some(const BUFFERS &buffers) {
        beast::error_code ec;
        return write_some(buffers, ec);
    }
};
}  // namespace

std::string answer_connection(HALL &hall, const SERVER_SETTINGS &settings, std::string_view bytes,
                              const std::string &peer) {
    BYTES_STREAM stream{bytes, {}};
    beast::flat_buffer buffer = read_buffer();
    auto send = [&](ANSWER answer, unsigned version, bool keep_alive, bool head) {
        beast::error_code ec;
        auto response = response_of(std::move(answer), version, keep_alive, head);
        http::write(stream, *response, ec);
    };
    for (;;) {
        PARSER parser;
        prepare(parser);
        beast::error_code ec;
        try {
            http::read_header(stream, buffer, parser, ec);
            if (!ec) {
                if (std::optional<ANSWER> refused = refused_framing(parser)) {
                    send(std::move(*refused), parser.get().version(), false, false);
                    break;
                }
                if (asks_to_go_on(parser)) {
                    http::response<http::empty_body> go_on(http::status::continue_, 11);
                    http::write(stream, go_on, ec);
                }
                http::read(stream, buffer, parser, ec);
            }
        } catch (const std::exception &error) {
            std::fprintf(stderr, "marrowdeep-hall: failed on the network: %s\n", error.what());
            break;
        }
        if (ec) {
            if (!quiet_end(ec)) send(unreadable(ec, parser), 11, false, false);
            break;
        }
        auto message = parser.release();
        bool head = message.method() == http::verb::head;
        bool keep_alive = message.keep_alive();
        unsigned version = message.version();
        REQUEST request = request_of(std::move(message), peer, settings);
        send(handle(hall, request), version, keep_alive, head);
        if (!keep_alive) break;
    }
    return stream.out;
}
