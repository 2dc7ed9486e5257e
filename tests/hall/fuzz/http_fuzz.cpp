// libFuzzer's target over the hall's whole HTTP path: each input is the bytes a client sends on
// one connection, answered by answer_connection() as the server answers them (the parser and its
// limits, the routes, the proof and the SQLite store), under AddressSanitizer and
// UndefinedBehaviorSanitizer. Besides any crash or sanitizer report, the answers themselves are
// held to what every connection's bytes must be; a fault is reported with abort(), so libFuzzer
// keeps the input.
//
// An input that begins with "WS:" is a live game's socket instead: after an upgrade the hall
// answers (as a player, a watcher of a game being played, or a watcher of no game), the rest of
// the input is read as a sequence of WebSocket frames and messages, sent masked as a page sends
// them to the real live handler on a connection of this process, and every frame the hall sends
// back is held to what the protocol allows.
//
// One hall serves every input of a process: a SQLite file in a folder made once, the clock held
// still, and a site folder, so the site's files and the checks that keep a path inside the folder
// are fuzzed too. Runs kept by one input stay for the next, as in a real hall.
#include <stdint.h>
#include <stdlib.h>

#include <poll.h>
#include <algorithm>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "hall/api.h"
#include "hall/live.h"
#include "hall/run_link.h"
#include "hall/server.h"

namespace {
// 2026-12-08T14:05:09Z, the clock of the hall's own tests.
constexpr long long PINNED_MS = 1796738709LL * 1000;

// The bytes of a file beside the site folder, reached only through a link inside it. The control
// bytes around it never come out of the hall otherwise: its JSON escapes them and a name shows
// them as ^A and ^B, so the bytes in an answer mean the file was served.
constexpr std::string_view OUTSIDE_MARK = "\x01outside the site\x02";

struct FUZZED_HALL;
FUZZED_HALL *fuzzed;
void remove_folder();

[[noreturn]] void fault(const char *what) {
    std::fprintf(stderr, "http_fuzz: %s\n", what);
    std::fflush(stderr);
    remove_folder();
    std::abort();
}

void write_file(const std::filesystem::path &path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) fault("cannot write the hall's files");
}

struct FUZZED_HALL {
    std::filesystem::path folder;
    std::unique_ptr<STORE> store;
    HALL hall;
    SERVER_SETTINGS settings;

    FUZZED_HALL() {
        // In memory when the machine has /dev/shm: the store syncs every commit.
        std::filesystem::path base = std::filesystem::is_directory("/dev/shm")
                                         ? std::filesystem::path("/dev/shm")
                                         : std::filesystem::temp_directory_path();
        std::string pattern = (base / "marrowdeep-http-fuzz-XXXXXX").string();
        if (!mkdtemp(pattern.data())) fault("cannot make the hall's folder");
        folder = pattern;

        std::filesystem::path site = folder / "site";
        std::filesystem::create_directories(site / "runs");
        write_file(site / "index.html",
                   "<!doctype html><meta http-equiv=\"Content-Security-Policy\" content=\"default-src "
                   "'self'\"><title>Marrowdeep</title>\n");
        write_file(site / "hall.js", "export const hall = 1;\n");
        write_file(site / "runs" / "index.html", "<!doctype html><title>Runs</title>\n");
        write_file(site / "hero.keys", "hero\nn\n42\n1\nq");
        write_file(folder / "outside.txt", OUTSIDE_MARK);
        std::filesystem::create_symlink("../outside.txt", site / "outside.txt");
        std::filesystem::create_directory_symlink("..", site / "up");

        store = open_store("sqlite:" + (folder / "hall.db").string(), 1);
        hall.store = store.get();
        std::string secret;
        for (int i = 0; i < 32; ++i) secret += static_cast<char>(i);
        hall.secret = store->secret(secret);
        hall.now_ms = [] { return PINNED_MS; };
        hall.site = site;
        hall.origins = {"https://halls.example"};
        // Two runs at once from an address, then 429: a connection of a few submissions meets the
        // limit. The buckets are emptied before each input (see below).
        hall.rate.per_minute = 30;
        hall.rate.burst = 2;
        // The client of every input is 127.0.0.1, trusted as a proxy: X-Forwarded-For is read.
        settings.trusted_proxy = "127.0.0.1";
    }

    ~FUZZED_HALL() {
        store.reset();
        std::error_code error;
        std::filesystem::remove_all(folder, error);
    }
};

// The hall's folder goes when the process ends, and on a fault found in the answers; a sanitizer's
// report leaves it behind (the input replays without it).
void remove_folder() {
    if (!fuzzed) return;
    std::error_code error;
    std::filesystem::remove_all(fuzzed->folder, error);
}

bool starts_with(std::string_view text, std::string_view start) {
    return text.substr(0, start.size()) == start;
}

bool same_letters(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
        char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] - 'A' + 'a') : b[i];
        if (x != y) return false;
    }
    return true;
}

// The answers of one connection, one after the other: each a status line of HTTP/1.1 or 1.0, its
// header fields, and a body of its Content-Length. Interim answers (100 Continue) have no body.
// An answer to HEAD has the length of the body it leaves out; no body the hall sends begins as
// an answer does, so an answer followed at once by another one, or by the end, is taken as one
// to HEAD. No answer comes after one that closes the connection, no answer is a 500 (a failure
// inside the hall: the store here is always up), and every JSON body is well-formed JSON. HTTP
// forbids sending an HTTP/1.0 client an interim answer (such a client does not know them, and its
// Expect is to be ignored): an interim answer followed by a final one in HTTP/1.0 was one.
void check_answers(std::string_view out) {
    bool closed = false, interim = false;
    while (!out.empty()) {
        if (closed) fault("an answer after one that closed the connection");
        bool old = starts_with(out, "HTTP/1.0 ");
        if (!old && !starts_with(out, "HTTP/1.1 ")) fault("an answer that does not begin with HTTP/1.x");
        if (interim && old) fault("an interim answer to an HTTP/1.0 client");
        std::size_t end = out.find("\r\n\r\n");
        if (end == std::string_view::npos) fault("an answer whose header does not end");
        std::string_view head = out.substr(0, end + 2);
        out.remove_prefix(end + 4);

        std::size_t line_end = head.find("\r\n");
        std::string_view status_line = head.substr(0, line_end);
        auto digit = [&](std::size_t i) { return status_line[i] >= '0' && status_line[i] <= '9'; };
        if (status_line.size() < 13 || !digit(9) || !digit(10) || !digit(11) || status_line[12] != ' ')
            fault("an answer whose status line is not HTTP/1.x, a status and a reason");
        int status = (status_line[9] - '0') * 100 + (status_line[10] - '0') * 10 + (status_line[11] - '0');
        if (status < 100 || status > 599) fault("an answer whose status is not one of HTTP's");
        if (status == 500) fault("a 500: the hall failed inside");

        bool has_length = false, json = false, keep_alive = false, close = false;
        std::size_t length = 0;
        std::string_view fields = head.substr(line_end + 2);
        while (!fields.empty()) {
            std::size_t next = fields.find("\r\n");
            std::string_view field = fields.substr(0, next);
            fields.remove_prefix(next + 2);
            std::size_t colon = field.find(':');
            if (colon == std::string_view::npos || colon == 0) fault("a header field without a name");
            std::string_view name = field.substr(0, colon), value = field.substr(colon + 1);
            while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
            if (same_letters(name, "Content-Length")) {
                if (has_length || value.empty() || value.size() > 9) fault("a bad Content-Length");
                for (char c : value) {
                    if (c < '0' || c > '9') fault("a bad Content-Length");
                    length = length * 10 + static_cast<std::size_t>(c - '0');
                }
                has_length = true;
            } else if (same_letters(name, "Content-Type")) {
                json = starts_with(value, "application/json");
            } else if (same_letters(name, "Connection")) {
                close = same_letters(value, "close");
                keep_alive = same_letters(value, "keep-alive");
            }
        }

        interim = status < 200;
        if (interim) {
            if (has_length) fault("an interim answer with a body's length");
            continue;
        }
        if (!has_length) fault("an answer without Content-Length");
        bool head_answer = length > 0 && (out.empty() || starts_with(out, "HTTP/1."));
        if (!head_answer) {
            if (out.size() < length) fault("an answer cut short of its Content-Length");
            std::string_view body = out.substr(0, length);
            out.remove_prefix(length);
            if (json && !nlohmann::json::accept(body)) fault("a JSON answer that is not JSON");
        }
        closed = old ? !keep_alive : close;
    }
}

// The live games of the fuzzed hall: its own network and a thread for the jobs of its queues.
namespace net = boost::asio;
using tcp = net::ip::tcp;

struct FUZZED_LIVE {
    net::io_context network, jobs;
    net::executor_work_guard<net::io_context::executor_type> network_work = net::make_work_guard(network),
                                                             jobs_work = net::make_work_guard(jobs);
    std::unique_ptr<LIVE> live;
    tcp::acceptor acceptor{network};
    std::thread network_thread, jobs_thread;
    unsigned inputs = 0;
    std::string game, token;      // a game played now, its player gone, to watch
    std::vector<int> sent_codes;  // the codes of the closes an input sends

    FUZZED_LIVE() {
        // Deadlines of a second: a socket the input leaves silent is closed in two.
        live = std::make_unique<LIVE>(fuzzed->hall, network,
                                      LIVE_SETTINGS{std::chrono::milliseconds(1000), MOST_WATCHER_BEHIND,
                                                    [this](QUEUE, std::function<void()> job) {
                                                        net::post(jobs, std::move(job));
                                                        return true;
                                                    }});
        fuzzed->hall.live = live.get();
        acceptor.open(tcp::v4());
        acceptor.bind(tcp::endpoint(net::ip::make_address("127.0.0.1"), 0));
        acceptor.listen();
        network_thread = std::thread([this] { network.run(); });
        jobs_thread = std::thread([this] { jobs.run(); });
    }
    ~FUZZED_LIVE() {
        live->stop();
        network_work.reset();
        jobs_work.reset();
        network.stop();
        jobs.stop();
        network_thread.join();
        jobs_thread.join();
        fuzzed->hall.live = nullptr;
    }
};
FUZZED_LIVE *fuzzed_live;

// A frame as a page sends it: masked (with a mask of zeros, which leaves the bytes as they are).
std::string frame(int opcode, bool fin, std::string_view payload) {
    std::string out;
    out += static_cast<char>((fin ? 0x80 : 0) | opcode);
    if (payload.size() < 126) {
        out += static_cast<char>(0x80 | payload.size());
    } else {
        out += static_cast<char>(0x80 | 126);
        out += static_cast<char>(payload.size() >> 8);
        out += static_cast<char>(payload.size() & 0xff);
    }
    out.append(4, '\0');
    out += payload;
    return out;
}

// The input after "WS:" made into the bytes of frames: a byte for the kind of each piece, one
// or two for its length, then its bytes.
std::string frames_of(std::string_view input) {
    std::string out;
    while (!input.empty()) {
        const unsigned char kind = static_cast<unsigned char>(input[0]);
        input.remove_prefix(1);
        std::size_t length = 0;
        for (int i = 0; i < (kind & 0x80 ? 2 : 1) && !input.empty(); ++i) {
            length = length * 256 + static_cast<unsigned char>(input[0]);
            input.remove_prefix(1);
        }
        std::string_view piece = input.substr(0, std::min(length, input.size()));
        input.remove_prefix(piece.size());
        switch (kind & 7) {
            case 0: out += frame(1, true, piece); break;  // a text message
            case 1: out += frame(2, true, piece); break;  // keys
            case 2:                                       // a text message in two frames
                out += frame(1, false, piece.substr(0, piece.size() / 2));
                out += frame(0, true, piece.substr(piece.size() / 2));
                break;
            case 3: out += frame(9, true, piece.substr(0, 125)); break;  // a ping
            case 4:                                                      // a close
                out += frame(8, true, piece.substr(0, 125));
                if (piece.size() >= 2)
                    fuzzed_live->sent_codes.push_back(static_cast<unsigned char>(piece[0]) * 256 +
                                                      static_cast<unsigned char>(piece[1]));
                break;
            case 5: out += piece; break;  // bytes as they come
            case 6: {                     // a first message of a run whose keys are the piece, resumed with 8
                nlohmann::json first{{"run", write_run_link(RUN{"hero\n" + std::string(piece), false, 0,
                                                                MARROWDEEP_VERSION})}};
                if (kind & 8) first["token"] = fuzzed_live->token;
                out += frame(1, true, first.dump());
                break;
            }
            case 7: out += frame(1, true, R"({"end": true})"); break;
        }
    }
    return out;
}

// A connection to the live handler, upgraded to the socket of `target`: the bytes are sent,
// then a close and the end of the client's side; every byte of the hall's comes back, to its
// end (or after 10 seconds).
std::string live_connection(const std::string &target, const std::string &bytes) {
    tcp::socket client(fuzzed_live->network);
    client.connect(fuzzed_live->acceptor.local_endpoint());
    tcp::socket server = fuzzed_live->acceptor.accept();
    const std::string upgrade =
        "GET " + target +
        " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: Upgrade\r\nUpgrade: websocket\r\n"
        "Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n";
    net::write(client, net::buffer(upgrade));
    boost::beast::flat_buffer buffer;
    boost::beast::http::request<boost::beast::http::string_body> request;
    boost::beast::http::read(server, buffer, request);
    if (buffer.size() != 0) fault("the upgrade read past its end");
    REQUEST asked;
    asked.method = "GET";
    asked.target = target;
    asked.address = "10.0." + std::to_string(fuzzed_live->inputs / 256 % 256) + "." +
                    std::to_string(fuzzed_live->inputs % 256);
    ++fuzzed_live->inputs;
    ROUTING routing = find_route(fuzzed->hall, asked);
    if (!routing.route || routing.route->socket == LIVE_SOCKET::none) fault("a live route not found");
    fuzzed_live->live->take(routing.route->socket, boost::beast::tcp_stream(std::move(server)), request,
                            asked, routing.parameter, nullptr);
    boost::system::error_code ec;
    net::write(client, net::buffer(bytes + frame(8, true, "\x03\xe8")), ec);
    client.shutdown(tcp::socket::shutdown_send, ec);
    std::string out;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        pollfd ready{client.native_handle(), POLLIN, 0};
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left.count() <= 0) fault("the hall did not close a live socket in 10 seconds");
        // libFuzzer's alarm, each second, ends a wait early: it is waited for again.
        const int polled = poll(&ready, 1, static_cast<int>(left.count()));
        if (polled < 0 && errno == EINTR) continue;
        if (polled <= 0) fault("the hall did not close a live socket in 10 seconds");
        char chunk[8192];
        std::size_t got = client.read_some(net::buffer(chunk), ec);
        if (ec) break;
        out.append(chunk, got);
    }
    return out;
}

// Starts the game that watchers watch, when there is none (its player gone, a game ends).
void begin_watched_game() {
    if (!fuzzed_live->game.empty() &&
        live_games_answer(fuzzed->hall).body.find(fuzzed_live->game) != std::string::npos)
        return;
    fuzzed_live->game.clear();
    std::string out = live_connection("/api/live/play", frames_of(std::string("\x06\x08n\n42\n1\nd", 10)));
    std::size_t at = out.find("{\"id\":\"");
    if (at == std::string::npos) return;
    nlohmann::json said = nlohmann::json::parse(out.substr(at, out.find('}', at) - at + 1), nullptr, false);
    if (!said.is_object()) return;
    fuzzed_live->game = said.value("id", "");
    fuzzed_live->token = said.value("token", "");
}

// What the hall sends on a live socket: the upgrade's 101, then frames of the protocol's
// opcodes, unmasked, no reserved bit set, each JSON text whole, and nothing after a close, whose
// code is one of the live games'.
void check_live_answer(std::string_view out, const std::vector<int> &sent_codes) {
    if (!starts_with(out, "HTTP/1.1 101 ")) fault("a live socket's upgrade not answered 101");
    std::size_t end = out.find("\r\n\r\n");
    if (end == std::string_view::npos) fault("a 101 whose header does not end");
    out.remove_prefix(end + 4);
    bool closed = false;
    std::string text;
    while (!out.empty()) {
        if (closed) fault("a frame after the close");
        if (out.size() < 2) fault("a frame cut short");
        const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(out[i]); };
        const bool fin = byte(0) & 0x80;
        const int opcode = byte(0) & 0x0f;
        if (byte(0) & 0x70) fault("a frame with a reserved bit");
        if (byte(1) & 0x80) fault("a masked frame from the hall");
        std::size_t length = byte(1) & 0x7f, header = 2;
        if (length == 126) {
            if (out.size() < 4) fault("a frame cut short");
            length = (std::size_t(byte(2)) << 8) | byte(3);
            header = 4;
        } else if (length == 127) {
            if (out.size() < 10) fault("a frame cut short");
            length = 0;
            for (int i = 2; i < 10; ++i) length = length * 256 + byte(static_cast<std::size_t>(i));
            header = 10;
        }
        if (out.size() < header + length) fault("a frame cut short");
        std::string_view payload = out.substr(header, length);
        out.remove_prefix(header + length);
        if (opcode == 8) {
            if (payload.size() < 2) fault("a close without its code");
            const int code =
                static_cast<unsigned char>(payload[0]) * 256 + static_cast<unsigned char>(payload[1]);
            // The live games' own codes; a protocol error's (1002) or text not UTF-8 (1007), said by
            // the WebSocket library; or the client's own close, answered with its code.
            static const int codes[] = {1000, 1001, 1002, 1007, 1009, 4001, 4400, 4401, 4403,
                                        4404, 4408, 4409, 4413, 4422, 4429, 4500, 4503};
            if (std::find(std::begin(codes), std::end(codes), code) == std::end(codes) &&
                std::find(sent_codes.begin(), sent_codes.end(), code) == sent_codes.end())
                fault("a close code the live games do not have");
            closed = true;
        } else if (opcode == 1 || (opcode == 0 && !text.empty())) {
            text += payload;
            if (fin) {
                if (!nlohmann::json::accept(text)) fault("a live text message that is not JSON");
                text.clear();
            }
        } else if (opcode != 0 && opcode != 2 && opcode != 9 && opcode != 10) {
            fault("a frame of an opcode the protocol does not have");
        }
    }
}

void fuzz_live(std::string_view input) {
    if (input.empty()) return;
    const int route = static_cast<unsigned char>(input[0]) % 3;
    input.remove_prefix(1);
    std::string target = "/api/live/play";
    if (route == 1) {
        begin_watched_game();
        target = "/api/live/" + (fuzzed_live->game.empty() ? "none" : fuzzed_live->game) + "/watch";
    } else if (route == 2) {
        target = "/api/live/0123456789abcdef01234567/watch";
    }
    fuzzed_live->sent_codes.clear();
    const std::string frames = frames_of(input);
    check_live_answer(live_connection(target, frames), fuzzed_live->sent_codes);
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzzed = new FUZZED_HALL;
    fuzzed_live = new FUZZED_LIVE;
    std::atexit([] {
        delete fuzzed_live;
        delete fuzzed;
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // Each input starts with the addresses' limits full, so its answers do not depend on the
    // inputs before it.
    {
        std::lock_guard lock(fuzzed->hall.rate.mutex);
        fuzzed->hall.rate.buckets.clear();
    }
    // And with the seeds' name free: a signed seed claims "hero" for its key, and every input
    // after it would find the runs under that name refused.
    try {
        fuzzed->store->release_name("hero");
    } catch (const std::exception &) {
        fault("the name's claim could not be released");
    }
    std::string_view input(reinterpret_cast<const char *>(data), size);
    if (starts_with(input, "WS:")) {
        fuzz_live(input.substr(3));
        return 0;
    }
    std::string out = answer_connection(fuzzed->hall, fuzzed->settings,
                                        std::string_view(reinterpret_cast<const char *>(data), size));
    if (out.find(OUTSIDE_MARK) != std::string::npos) fault("a file outside the site was served");
    check_answers(out);
    return 0;
}
