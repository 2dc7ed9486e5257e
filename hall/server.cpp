#include "hall/server.h"

#include <array>
#include <atomic>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace {
// Threads that take jobs from a queue of bounded length: a job that finds it full is refused, so
// the caller answers at once instead of queueing without end.
class WORK_QUEUE {
  public:
    WORK_QUEUE(int threads, std::size_t most_waiting) : most_waiting_(most_waiting) {
        for (int i = 0; i < threads; ++i) threads_.emplace_back([this] { work(); });
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
            job();
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
    net::io_context network;
    tcp::acceptor acceptor{network};
    WORK_QUEUE proofs;
    WORK_QUEUE stores;
    std::atomic<bool> stopping{false};
    std::mutex sessions_mutex;
    std::set<std::weak_ptr<SESSION>, std::owner_less<std::weak_ptr<SESSION>>> sessions;

    SERVER(HALL &h, const SERVER_SETTINGS &s)
        : hall(h),
          settings(s),
          network(s.network_threads),
          proofs(1, s.most_waiting_proofs),
          stores(s.store_threads, s.most_waiting_stores) {}
};

void log_request(SERVER &server, const std::string &address, const std::string &method,
                 const std::string &target, int status, std::size_t bytes,
                 std::chrono::steady_clock::time_point started) {
    double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
    std::string line = utc_time(server.hall.now_ms() / 1000) + " " + address + " " + method + " " + target +
                       " " + std::to_string(status) + " " + std::to_string(bytes) + " ";
    char elapsed[32];
    std::snprintf(elapsed, sizeof elapsed, "%.1fms\n", ms);
    line += elapsed;
    std::fputs(line.c_str(), stderr);
}

class SESSION : public std::enable_shared_from_this<SESSION> {
  public:
    SESSION(SERVER &server, tcp::socket socket) : server_(server), stream_(std::move(socket)) {
        beast::error_code ec;
        auto endpoint = stream_.socket().remote_endpoint(ec);
        address_ = ec ? "-" : endpoint.address().to_string();
    }

    void start() {
        net::dispatch(stream_.get_executor(), [self = shared_from_this()] { self->read_header(); });
    }

    // The hall stops: a session waiting for a request closes now; one answering closes after its
    // answer.
    void stop() {
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
        if (server_.stopping) {
            stream_.close();
            return;
        }
        parser_.emplace();
        parser_->body_limit(MOST_BODY);
        parser_->header_limit(MOST_HEADER);
        stream_.expires_after(server_.settings.io_timeout);
        http::async_read_header(stream_, buffer_, *parser_,
                                beast::bind_front_handler(&SESSION::on_header, shared_from_this()));
    }

    void on_header(beast::error_code ec, std::size_t) {
        if (ec) return read_failed(ec);
        waiting_ = false;
        started_ = std::chrono::steady_clock::now();
        auto &request = parser_->get();
        // A client that asks before sending its body (curl does, for a long one) is told to go on.
        if (beast::iequals(request[http::field::expect], "100-continue") && !parser_->is_done()) {
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
        if (ec == http::error::end_of_stream || ec == beast::error::timeout ||
            ec == net::error::operation_aborted || ec == net::error::connection_reset ||
            ec == net::error::eof || ec == net::error::bad_descriptor)
            return close();
        // The request cannot be read: the answer says why, and the connection closes after it.
        keep_alive_ = false;
        if (started_ == std::chrono::steady_clock::time_point{}) started_ = std::chrono::steady_clock::now();
        method_ = parser_ && parser_->is_header_done() ? std::string(parser_->get().method_string()) : "-";
        target_ = parser_ && parser_->is_header_done() ? std::string(parser_->get().target()) : "-";
        waiting_ = false;
        if (ec == http::error::body_limit)
            return write(error_answer(413, "The run is too long: a link holds at most 65,536 characters."));
        if (ec == http::error::header_limit)
            return write(error_answer(431, "The request's header fields are too long."));
        write(error_answer(400, "The request is not well-formed HTTP."));
    }

    void on_request(beast::error_code ec, std::size_t) {
        if (ec) return read_failed(ec);
        auto message = parser_->release();
        head_ = message.method() == http::verb::head;
        keep_alive_ = message.keep_alive() && !server_.stopping;
        version_ = message.version();
        REQUEST request;
        request.method = std::string(message.method_string());
        request.target = std::string(message.target());
        request.body = std::move(message.body());
        request.address = address_;
        method_ = request.method;
        target_ = request.target;

        std::string_view path = request.target;
        path = path.substr(0, path.find('?'));
        if (path == "/api/health") return write(handle(server_.hall, request));

        // Whatever job is queued keeps the network running until its answer is written.
        auto guard = std::make_shared<net::executor_work_guard<net::io_context::executor_type>>(
            server_.network.get_executor());
        auto self = shared_from_this();
        const char *busy = "The hall is busy; try again in a moment.";
        if (is_submission(request)) {
            bool queued = server_.proofs.try_post([self, guard, request = std::move(request)] {
                auto submission = std::make_shared<SUBMISSION>(prove_submission(self->server_.hall, request));
                if (!submission->proven) return self->answer_later(submission->answer);
                bool kept = self->server_.stores.try_post([self, guard, submission] {
                    self->answer_later(keep_submission(self->server_.hall, *submission));
                });
                if (!kept) self->answer_later(error_answer(503, "The hall is busy; try again in a moment."));
            });
            if (!queued) write(error_answer(503, busy));
            return;
        }
        bool queued = server_.stores.try_post([self, guard, request = std::move(request)] {
            self->answer_later(handle(self->server_.hall, request));
        });
        if (!queued) write(error_answer(503, busy));
    }

    void answer_later(ANSWER answer) {
        net::post(stream_.get_executor(), [self = shared_from_this(), answer = std::move(answer)]() mutable {
            self->write(std::move(answer));
        });
    }

    void write(ANSWER answer) {
        if (server_.stopping) keep_alive_ = false;
        auto response = std::make_shared<http::response<http::string_body>>(
            static_cast<http::status>(answer.status), version_ ? version_ : 11);
        response->set(http::field::server, "marrowdeep-hall/" MARROWDEEP_VERSION);
        response->set(http::field::content_type, answer.content_type);
        for (const auto &[field, value] : answer.headers) response->set(field, value);
        response->keep_alive(keep_alive_);
        std::size_t bytes = answer.body.size();
        if (head_) {
            response->content_length(bytes);
        } else {
            response->body() = std::move(answer.body);
            response->prepare_payload();
        }
        log_request(server_, address_, method_, target_, answer.status, bytes, started_);
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
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    std::string address_, method_ = "-", target_ = "-";
    bool keep_alive_ = false, head_ = false, waiting_ = false;
    unsigned version_ = 11;
    std::chrono::steady_clock::time_point started_{};
};

void accept(SERVER &server) {
    server.acceptor.async_accept(
        net::make_strand(server.network), [&server](beast::error_code ec, tcp::socket socket) {
            if (ec == net::error::operation_aborted || !server.acceptor.is_open()) return;
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

void stop(SERVER &server) {
    std::fputs("marrowdeep-hall: stopping: answering the requests in flight\n", stderr);
    server.stopping = true;
    beast::error_code ec;
    server.acceptor.close(ec);
    std::vector<std::shared_ptr<SESSION>> live;
    {
        std::lock_guard lock(server.sessions_mutex);
        for (const auto &weak : server.sessions)
            if (auto session = weak.lock()) live.push_back(session);
    }
    for (auto &session : live) session->stop();
}
}  // namespace

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

    net::signal_set signals(server.network, SIGTERM, SIGINT);
    signals.async_wait([&server](beast::error_code e, int) {
        if (!e) stop(server);
    });
    accept(server);

    std::vector<std::thread> threads;
    for (int i = 1; i < settings.network_threads; ++i)
        threads.emplace_back([&server] { server.network.run(); });
    server.network.run();
    for (auto &thread : threads) thread.join();
    server.proofs.stop();
    server.stores.stop();
    return 0;
}
