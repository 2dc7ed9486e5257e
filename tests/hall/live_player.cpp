// A live game's player for the tests: it plays a saved game's keys on a hall as the page does
// over /api/live/play, at the pace its caller sets, so that a watcher (the terminal program, or
// a page in a browser test) can be checked against it.
//
//   live_player HOST:PORT KEYS_FILE [--clock SECOND] [--start N]
//
// It begins the game with the file's first N keys (0 unless told) as the run's link, with the
// clock's second when given, and prints "id ID" once the hall has answered. Then each line of its
// standard input is an order:
//   a number K   sends the keys up to K in all (those not sent yet, in messages of at most 4 KB),
//                waits until the hall has committed them, and prints "keys K";
//   end          ends the game ({"end": true}) and prints the hall's answer on one line;
//   leave        closes its socket as a page closed in the middle of a game, and exits.
// At the end of its input it leaves the same way. Whatever the hall closes the socket with is
// printed as "closed CODE SENTENCE", and the player ends with status 1. Every wait for the hall
// has a bound (30 seconds): past it the player prints "timeout" and ends with status 1.
#include <poll.h>
#include <unistd.h>

#include <utility>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <deque>
#include <fstream>
#include <iostream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>

#include "hall/run_link.h"

namespace beast = boost::beast;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using JSON = nlohmann::json;

namespace {
constexpr auto bound = std::chrono::seconds(30);
constexpr std::size_t most_message = 4096;

[[noreturn]] void give_up(const std::string &line) {
    std::cout << line << std::endl;
    std::exit(1);
}

// The player's socket. A read is always waiting on it, also while the player waits for its next
// order, so that the hall's pings are answered and the hall keeps the player however slowly the
// orders come; the messages read wait in order for read().
class PLAYER {
  public:
    PLAYER(const std::string &host, const std::string &port) : ws_(io_) {
        net::ip::tcp::resolver resolver(io_);
        beast::get_lowest_layer(ws_).expires_after(bound);
        beast::get_lowest_layer(ws_).connect(resolver.resolve(host, port));
        ws_.handshake(host + ":" + port, "/api/live/play");
        beast::get_lowest_layer(ws_).expires_never();
        read_next();
    }
    void text(const std::string &data) { write(data, true); }
    void binary(const std::string &data) { write(data, false); }
    // The next text message; anything else ends the player.
    JSON read() {
        const auto until = std::chrono::steady_clock::now() + bound;
        while (heard_.empty() && !ended_ && std::chrono::steady_clock::now() < until)
            io_.run_one_for(std::chrono::milliseconds(100));
        if (heard_.empty() && ended_) give_up(end_);
        if (heard_.empty()) give_up("timeout");
        JSON message = std::move(heard_.front());
        heard_.pop_front();
        return message;
    }
    // The next order, a line of standard input, read as it comes while the hall is answered (its
    // pings, its messages kept for read()); false at the end of the input.
    bool next_order(std::string &order) {
        for (;;) {
            if (const std::size_t end = input_.find('\n'); end != std::string::npos) {
                order = input_.substr(0, end);
                input_.erase(0, end + 1);
                return true;
            }
            if (input_ended_) return false;
            struct pollfd wanted {
                0, POLLIN, 0
            };
            if (poll(&wanted, 1, 50) > 0) {
                char part[4096];
                const ssize_t n = ::read(0, part, sizeof part);
                if (n > 0)
                    input_.append(part, static_cast<std::size_t>(n));
                else if (n == 0 || errno != EINTR)
                    input_ended_ = true;
                continue;
            }
            io_.poll();
            io_.restart();
            if (ended_) give_up(end_);
        }
    }
    void leave() {
        beast::error_code ec;
        ws_.next_layer().socket().shutdown(net::ip::tcp::socket::shutdown_both, ec);
    }

  private:
    void read_next() {
        ws_.async_read(buffer_, [this](beast::error_code ec, std::size_t) {
            if (ec == websocket::error::closed) {
                end_ = "closed " + std::to_string(ws_.reason().code) + " " +
                       std::string(ws_.reason().reason.c_str());
                ended_ = true;
                return;
            }
            if (ec) {
                end_ = "closed 0 " + ec.message();
                ended_ = true;
                return;
            }
            JSON message = JSON::parse(beast::buffers_to_string(buffer_.data()), nullptr, false);
            buffer_.consume(buffer_.size());
            if (!ws_.got_text() || message.is_discarded()) {
                end_ = "closed 0 the hall sent what a player does not read";
                ended_ = true;
                return;
            }
            heard_.push_back(std::move(message));
            read_next();
        });
    }
    void write(const std::string &data, bool text) {
        bool done = false;
        beast::error_code error;
        ws_.text(text);
        ws_.async_write(net::buffer(data), [&](beast::error_code ec, std::size_t) {
            done = true;
            error = ec;
        });
        const auto until = std::chrono::steady_clock::now() + bound;
        while (!done && std::chrono::steady_clock::now() < until)
            io_.run_one_for(std::chrono::milliseconds(100));
        io_.restart();
        if (!done) give_up("timeout");
        if (error) give_up(ended_ ? end_ : "closed 0 " + error.message());
    }

    net::io_context io_;
    websocket::stream<beast::tcp_stream> ws_;
    beast::flat_buffer buffer_;
    std::deque<JSON> heard_;
    std::string input_;
    bool input_ended_ = false;
    bool ended_ = false;
    std::string end_;
};
}  // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        std::cerr << "Usage: live_player HOST:PORT KEYS_FILE [--clock SECOND] [--start N]\n";
        return 2;
    }
    const std::string hall = argv[1];
    const std::size_t colon = hall.rfind(':');
    std::ifstream file(argv[2], std::ios::binary);
    if (colon == std::string::npos || !file) {
        std::cerr << "live_player: give the hall as HOST:PORT and a file of keys\n";
        return 2;
    }
    const std::string keys{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    RUN run{"", false, 0, MARROWDEEP_VERSION};
    std::size_t sent = 0;
    for (int i = 3; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--clock") {
            run.has_clock = true;
            run.clock = std::stoll(argv[i + 1]);
        } else if (option == "--start") {
            sent = std::min<std::size_t>(std::stoul(argv[i + 1]), keys.size());
        }
    }
    run.keys = keys.substr(0, sent);

    PLAYER player(hall.substr(0, colon), hall.substr(colon + 1));
    player.text(JSON{{"run", write_run_link(run)}}.dump());
    const JSON started = player.read();
    if (!started.contains("id")) give_up("answer " + started.dump());
    std::cout << "id " << started["id"].get<std::string>() << std::endl;

    std::string order;
    while (player.next_order(order)) {
        if (order == "end") {
            player.text(R"({"end": true})");
            std::cout << "answer " << player.read().dump() << std::endl;
            return 0;
        }
        if (order == "leave") break;
        const std::size_t to = std::min<std::size_t>(std::stoul(order), keys.size());
        while (sent < to) {
            const std::size_t part = std::min(most_message, to - sent);
            player.binary(keys.substr(sent, part));
            sent += part;
        }
        // The hall answers each commit with the keys it holds: until they are all of them.
        for (;;) {
            const JSON answer = player.read();
            if (answer.contains("keys") && answer["keys"].is_number() &&
                answer["keys"].get<std::size_t>() >= sent)
                break;
        }
        std::cout << "keys " << sent << std::endl;
    }
    player.leave();
    return 0;
}
