#include "watch/hall_link.h"

#include <fcntl.h>
#include <unistd.h>

// Boost 1.74's asio uses std::exchange without including <utility> itself.
#include <utility>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>
#include <functional>

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace {
const auto connect_bound = std::chrono::seconds(CONNECT_SECONDS);

std::string unreachable(const HALL_ADDRESS &address, const beast::error_code &ec) {
    if (ec == beast::error::timeout || ec == net::error::operation_aborted)
        return "The hall at " + host_field(address) + " did not answer within " +
               std::to_string(CONNECT_SECONDS) + " seconds.";
    return "The hall at " + host_field(address) + " cannot be reached: " + ec.message() + ".";
}

// Resolves the hall's name and connects, within the bound; `done` gets the error, if any.
template <class DONE>
void connect_to(net::io_context &io, tcp::resolver &resolver, beast::tcp_stream &stream,
                const HALL_ADDRESS &address, DONE done) {
    auto timer = std::make_shared<net::steady_timer>(io, connect_bound);
    timer->async_wait([&resolver](beast::error_code ec) {
        if (!ec) resolver.cancel();
    });
    resolver.async_resolve(
        address.host, address.port,
        [&stream, timer, done](beast::error_code ec, tcp::resolver::results_type found) {
            timer->cancel();
            if (ec) return done(ec);
            stream.expires_after(connect_bound);
            stream.async_connect(
                found, [done](beast::error_code connected, const tcp::endpoint &) { done(connected); });
        });
}
}  // namespace

HALL_ANSWER fetch_live_list(const HALL_ADDRESS &address) {
    HALL_ANSWER answer;
    net::io_context io;
    tcp::resolver resolver(io);
    beast::tcp_stream stream(io);
    http::request<http::empty_body> request{http::verb::get, "/api/live", 11};
    request.set(http::field::host, host_field(address));
    request.set(http::field::user_agent, "marrowdeep-watch/" MARROWDEEP_VERSION);
    beast::flat_buffer buffer;
    http::response_parser<http::string_body> parser;
    parser.body_limit(MOST_LIST_BYTES);
    parser.header_limit(16 * 1024);
    beast::error_code failed;

    connect_to(io, resolver, stream, address, [&](beast::error_code ec) {
        if (ec) return void(failed = ec);
        stream.expires_after(connect_bound);
        http::async_write(stream, request, [&](beast::error_code written, std::size_t) {
            if (written) return void(failed = written);
            stream.expires_after(connect_bound);
            http::async_read(stream, buffer, parser,
                             [&](beast::error_code read, std::size_t) { failed = read; });
        });
    });
    io.run();
    if (failed == http::error::body_limit || failed == http::error::header_limit) {
        answer.error = "The hall's list of live games is longer than this program reads.";
        return answer;
    }
    if (failed) {
        answer.error = unreachable(address, failed);
        return answer;
    }
    const auto &response = parser.get();
    if (response.result() != http::status::ok) {
        answer.error = "The hall answered the list of live games with status " +
                       std::to_string(response.result_int()) + ": is it a Marrowdeep hall?";
        return answer;
    }
    answer.ok = true;
    answer.body = response.body();
    return answer;
}

WATCH_SOCKET::WATCH_SOCKET() {
    if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) wake_[0] = wake_[1] = -1;
}

WATCH_SOCKET::~WATCH_SOCKET() {
    // The program leaves without waiting for the socket's thread (it may be in a read that only
    // the hall ends): it is let go, and the process's end takes it.
    if (thread_.joinable()) thread_.detach();
}

void WATCH_SOCKET::open(const HALL_ADDRESS &address) {
    thread_ = std::thread([this, address] { run(address); });
}

std::deque<HALL_EVENT> WATCH_SOCKET::take() {
    char drained[64];
    while (read(wake_[0], drained, sizeof drained) > 0) {
    }
    std::lock_guard lock(mutex_);
    std::deque<HALL_EVENT> taken;
    taken.swap(events_);
    return taken;
}

void WATCH_SOCKET::tell(HALL_EVENT event) {
    {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
    }
    const char byte = 1;
    // A full pipe already wakes the reader: the byte is not needed then.
    if (write(wake_[1], &byte, 1) < 0) return;
}

void WATCH_SOCKET::run(HALL_ADDRESS address) {
    net::io_context io;
    tcp::resolver resolver(io);
    websocket::stream<beast::tcp_stream> ws(io);
    beast::flat_buffer buffer;
    bool first = true;
    const std::string target = "/api/live/" + address.game + "/watch";

    std::function<void()> read_next = [&] {
        ws.read_message_max(first ? MOST_FIRST_MESSAGE : MOST_LATER_MESSAGE);
        ws.async_read(buffer, [&](beast::error_code ec, std::size_t) {
            if (ec == websocket::error::closed) {
                const auto &reason = ws.reason();
                return tell({HALL_EVENT::CLOSED, std::string(reason.reason.data(), reason.reason.size()),
                             reason.code});
            }
            if (ec == websocket::error::message_too_big || ec == websocket::error::buffer_overflow)
                return tell({HALL_EVENT::FAILED, "The hall sent a message longer than a watcher reads.", 0});
            if (ec) return tell({HALL_EVENT::FAILED, "The hall has gone away (" + ec.message() + ").", 0});
            HALL_EVENT event;
            event.kind = ws.got_text() ? HALL_EVENT::TEXT : HALL_EVENT::KEYS;
            event.data = beast::buffers_to_string(buffer.data());
            buffer.consume(buffer.size());
            first = false;
            tell(std::move(event));
            read_next();
        });
    };

    connect_to(io, resolver, beast::get_lowest_layer(ws), address, [&](beast::error_code ec) {
        if (ec) return tell({HALL_EVENT::FAILED, unreachable(address, ec), 0});
        // The upgrade within the bound; then the socket is pinged when idle and given up when
        // the hall no longer answers.
        websocket::stream_base::timeout bounds{};
        bounds.handshake_timeout = connect_bound;
        bounds.idle_timeout = std::chrono::seconds(30);
        bounds.keep_alive_pings = true;
        beast::get_lowest_layer(ws).expires_never();
        ws.set_option(bounds);
        ws.set_option(websocket::stream_base::decorator([](websocket::request_type &request) {
            request.set(http::field::user_agent, "marrowdeep-watch/" MARROWDEEP_VERSION);
        }));
        ws.async_handshake(host_field(address), target, [&](beast::error_code shaken) {
            if (shaken) return tell({HALL_EVENT::FAILED, unreachable(address, shaken), 0});
            read_next();
        });
    });
    io.run();
}
