// A WebSocket client of the hall's live games, as a page opens one, for the end-to-end tests:
// every read has a bound.
#pragma once

#include <gtest/gtest.h>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>

#include "hall/run_link.h"
#include "tests/hall/hall_process.h"

namespace beast = boost::beast;
namespace websocket = beast::websocket;
namespace net = boost::asio;

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
           int receive_buffer = 0)
        : ws_(io_) {
        auto &socket = beast::get_lowest_layer(ws_).socket();
        socket.open(net::ip::tcp::v4());
        if (receive_buffer) socket.set_option(net::socket_base::receive_buffer_size(receive_buffer));
        beast::get_lowest_layer(ws_).connect(
            net::ip::tcp::endpoint(net::ip::make_address("127.0.0.1"), port));
        if (!origin.empty())
            ws_.set_option(websocket::stream_base::decorator([origin](websocket::request_type &request) {
                request.set(beast::http::field::origin, origin);
            }));
        ws_.handshake("127.0.0.1:" + std::to_string(port), target);
    }
    void text(const std::string &data) {
        ws_.text(true);
        ws_.write(net::buffer(data));
    }
    void binary(const std::string &data) {
        ws_.binary(true);
        ws_.write(net::buffer(data));
    }
    HEARD read(std::chrono::milliseconds bound = GENEROUS_WAIT) {
        HEARD heard;
        beast::flat_buffer buffer;
        bool done = false;
        beast::error_code error;
        ws_.async_read(buffer, [&](beast::error_code ec, std::size_t) {
            done = true;
            error = ec;
        });
        io_.restart();
        io_.run_for(bound);
        if (!done) {
            beast::get_lowest_layer(ws_).cancel();
            io_.restart();
            io_.run();
            return heard;
        }
        if (error == websocket::error::closed) {
            heard.code = ws_.reason().code;
            heard.reason = std::string(ws_.reason().reason.c_str());
            return heard;
        }
        if (error) {
            heard.reason = error.message();
            return heard;
        }
        heard.message = true;
        heard.text = ws_.got_text();
        heard.data = beast::buffers_to_string(buffer.data());
        return heard;
    }
    // The next message as text, or what came instead.
    std::string read_text() {
        HEARD heard = read();
        if (!heard.message) return "closed " + std::to_string(heard.code) + ": " + heard.reason;
        return (heard.text ? "" : "binary: ") + heard.data;
    }
    std::string read_binary() {
        HEARD heard = read();
        if (!heard.message) return "closed " + std::to_string(heard.code) + ": " + heard.reason;
        return (heard.text ? "text: " : "") + heard.data;
    }
    // The hall's close: "code: sentence".
    std::string read_close() {
        for (;;) {
            HEARD heard = read();
            if (!heard.message) return std::to_string(heard.code) + ": " + heard.reason;
        }
    }
    void close() {
        beast::error_code ec;
        ws_.close(websocket::close_code::normal, ec);
    }

  private:
    net::io_context io_;
    websocket::stream<beast::tcp_stream> ws_;
};

struct STARTED {
    std::string id, token;
    long long keys = -1;
};

// A game begun with its first keys: the hall's answer read.
inline STARTED begin_game(SOCKET &player, const std::string &keys) {
    player.text(run_message(keys));
    std::string said = player.read_text();
    static const std::regex answer(R"re(\{"id":"([0-9a-f]{24})","token":"([0-9a-f]{64})","keys":(\d+)\})re");
    std::smatch match;
    if (!std::regex_match(said, match, answer)) {
        ADD_FAILURE() << said;
        return {};
    }
    return {match[1], match[2], std::stoll(match[3])};
}
