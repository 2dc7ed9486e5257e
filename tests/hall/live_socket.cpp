// The end-to-end tests' WebSocket to the hall (live_socket.h).
#include "tests/hall/live_socket.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>

namespace beast = boost::beast;
namespace websocket = beast::websocket;
namespace net = boost::asio;

struct SOCKET::LINK {
    net::io_context io;
    websocket::stream<beast::tcp_stream> ws{io};
};

SOCKET::SOCKET(unsigned short port, const std::string &target, const std::string &origin, int receive_buffer)
    : link_(std::make_unique<LINK>()) {
    auto &ws = link_->ws;
    auto &socket = beast::get_lowest_layer(ws).socket();
    socket.open(net::ip::tcp::v4());
    if (receive_buffer) socket.set_option(net::socket_base::receive_buffer_size(receive_buffer));
    beast::get_lowest_layer(ws).connect(net::ip::tcp::endpoint(net::ip::make_address("127.0.0.1"), port));
    if (!origin.empty())
        ws.set_option(websocket::stream_base::decorator(
            [origin](websocket::request_type &request) { request.set(beast::http::field::origin, origin); }));
    ws.handshake("127.0.0.1:" + std::to_string(port), target);
}

SOCKET::~SOCKET() = default;

void SOCKET::text(const std::string &data) {
    link_->ws.text(true);
    link_->ws.write(net::buffer(data));
}

void SOCKET::binary(const std::string &data) {
    link_->ws.binary(true);
    link_->ws.write(net::buffer(data));
}

HEARD SOCKET::read(std::chrono::milliseconds bound) {
    auto &ws = link_->ws;
    auto &io = link_->io;
    HEARD heard;
    beast::flat_buffer buffer;
    bool done = false;
    beast::error_code error;
    ws.async_read(buffer, [&](beast::error_code ec, std::size_t) {
        done = true;
        error = ec;
    });
    io.restart();
    io.run_for(bound);
    if (!done) {
        beast::get_lowest_layer(ws).cancel();
        io.restart();
        io.run();
        return heard;
    }
    if (error == websocket::error::closed) {
        heard.code = ws.reason().code;
        heard.reason = std::string(ws.reason().reason.c_str());
        return heard;
    }
    if (error) {
        heard.reason = error.message();
        return heard;
    }
    heard.message = true;
    heard.text = ws.got_text();
    heard.data = beast::buffers_to_string(buffer.data());
    return heard;
}

std::string SOCKET::read_text() {
    HEARD heard = read();
    if (!heard.message) return "closed " + std::to_string(heard.code) + ": " + heard.reason;
    return (heard.text ? "" : "binary: ") + heard.data;
}

std::string SOCKET::read_binary() {
    HEARD heard = read();
    if (!heard.message) return "closed " + std::to_string(heard.code) + ": " + heard.reason;
    return (heard.text ? "text: " : "") + heard.data;
}

std::string SOCKET::read_close() {
    for (;;) {
        HEARD heard = read();
        if (!heard.message) return std::to_string(heard.code) + ": " + heard.reason;
    }
}

void SOCKET::close() {
    beast::error_code ec;
    link_->ws.close(websocket::close_code::normal, ec);
}
