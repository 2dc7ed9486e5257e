// The live games' benchmark: not a test, run by hand against real halls (bench/live.sh starts
// them; see doc/performance.md).
//
//   live --play URL [--watch URL] [--play-pid PID] [--watch-pid PID] [--db-pid PID]
//        [--players N] [--watchers N] [--keys-a-second N] [--warm-up S] [--seconds S]
//
// Players (100) each play a live game on the players' hall, one key a message, 5 keys a second,
// the keys a real game reads: the web page's long stored game (generated tour 244 of the fuzz
// driver, its quits left out; its hero no fight fells). Each game has watchers (10) on the
// watchers' hall (the same hall unless --watch says otherwise). Every key's send is stamped by
// its game and place; each watcher matches the keys it gets by the same, so a key's time is from
// the player's send to each watcher's receipt. After the warm-up the measured seconds begin:
// - a key's time to every watcher, median and 95th percentile (keys sent in the measured
//   seconds), and to the player's acknowledgement ({"keys": N});
// - each hall's processor time (/proc/PID/stat, user and system), a PostgreSQL server's (its
//   processes' all), this program's and the machine's, over the measured seconds;
// - the watchers' hall's memory a watcher: its resident memory with the watchers minus before
//   they came, over their number;
// - the bytes a watcher gets a minute: the messages' payload, the WebSocket frames (the TCP
//   stream's bytes, as the kernel counts them) and the frames with their TCP/IP headers.
// Then the players end their games and every record and watcher's end is waited for: the hall
// proves each run, so a key that was not the game's would show.
//
// The hall lets an address play 4 games and hold 32 live sockets: the players bind their
// sockets to 127.1.x.y, 4 games an address, and each game's watchers to an address of 127.2.x.y
// of their own (every 127.x.y.z reaches a hall on 127.0.0.1).
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <utility>  // before Boost.Asio, whose awaitable needs std::exchange

#include <algorithm>
#include <atomic>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/tcp_counts.h"
#include "fuzz/streams.h"
#include "hall/run_link.h"

namespace beast = boost::beast;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using JSON = nlohmann::json;
using CLOCK = std::chrono::steady_clock;

namespace {

const CLOCK::time_point epoch = CLOCK::now();
long long now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(CLOCK::now() - epoch).count();
}

// The stamps of the keys sent in the measured seconds, [from, to): set by the main thread.
std::atomic<long long> window_from{std::numeric_limits<long long>::max()};
std::atomic<long long> window_to{std::numeric_limits<long long>::max()};
bool in_window(long long stamp) {
    return stamp >= window_from.load(std::memory_order_acquire) &&
           stamp < window_to.load(std::memory_order_acquire);
}

struct HALL_AT {
    std::string host;
    unsigned short port = 0;
};

HALL_AT hall_at(const std::string &url) {
    std::string rest = url;
    if (rest.rfind("http://", 0) == 0) rest = rest.substr(7);
    if (!rest.empty() && rest.back() == '/') rest.pop_back();
    std::size_t colon = rest.rfind(':');
    if (colon == std::string::npos) throw std::runtime_error("a hall's URL needs its port: " + url);
    return {rest.substr(0, colon), static_cast<unsigned short>(std::stoi(rest.substr(colon + 1)))};
}

// 127.block.x.y, the nth of the block's addresses.
std::string address_of(int block, std::size_t n) {
    return "127." + std::to_string(block) + "." + std::to_string(n / 250) + "." + std::to_string(n % 250 + 1);
}

// The web page's long stored game: the start-up answers (the maze planted after them), then its
// walk over and over.
std::string game_keys(std::size_t length, std::size_t &answers_length) {
    std::string tour;
    for (char c : make_stream(1, 244).bytes)
        if (c == '\n' || (c >= ' ' && c <= '~')) tour.push_back(c);
    const std::string answers = tour.substr(0, tour.find("\n1\n") + 3);
    std::string walk;
    for (char c : tour.substr(answers.size()))
        if (c != 'q') walk.push_back(c);
    std::string keys = answers;
    while (keys.size() < length) keys += walk;
    answers_length = answers.size();
    return keys.substr(0, length);
}

// One live game: its keys, and the moment each was sent (0 until it is).
struct GAME {
    explicit GAME(std::size_t capacity) : sent(new std::atomic<long long>[capacity]), size(capacity) {
        for (std::size_t i = 0; i < capacity; ++i) sent[i].store(0, std::memory_order_relaxed);
    }
    std::string id;
    std::unique_ptr<std::atomic<long long>[]> sent;
    std::size_t size;
};

double percentile(std::vector<double> &sorted, double fraction) {
    if (sorted.empty()) return 0;
    return sorted[static_cast<std::size_t>(fraction * static_cast<double>(sorted.size() - 1))];
}

// Opens a WebSocket bound to a local address; `done` is called with the error or none.
template <typename DONE>
void open_socket(websocket::stream<beast::tcp_stream> &ws, const std::string &local, const HALL_AT &hall,
                 const std::string &target, DONE done) {
    auto &socket = beast::get_lowest_layer(ws).socket();
    beast::error_code ec;
    socket.open(net::ip::tcp::v4(), ec);
    if (!ec) socket.bind(net::ip::tcp::endpoint(net::ip::make_address(local), 0), ec);
    if (ec) return done(ec);
    ws.set_option(websocket::stream_base::timeout::suggested(beast::role_type::client));
    const net::ip::tcp::endpoint to(net::ip::make_address(hall.host), hall.port);
    socket.async_connect(to, [&ws, hall, target, done](beast::error_code error) mutable {
        if (error) return done(error);
        ws.async_handshake(hall.host + ":" + std::to_string(hall.port), target, done);
    });
}

std::string closed_as(websocket::stream<beast::tcp_stream> &ws, beast::error_code ec) {
    if (ec == websocket::error::closed)
        return std::to_string(ws.reason().code) + ": " + std::string(ws.reason().reason.c_str());
    return ec.message();
}

// A player: begins its game with the start-up answers, then types a key a period. As the page
// does, it resumes with its token when the hall asks it to (a busy database, a failure inside,
// the hall stopping): a new socket, the whole run so far, then the keys after those the hall
// holds. The keys keep the moments they were first sent.
class PLAYER : public std::enable_shared_from_this<PLAYER> {
  public:
    PLAYER(net::io_context &io, GAME &game, const std::string &keys, std::size_t answers)
        : io_(io), timer_(io), again_(io), game_(game), keys_(keys), typed_(answers) {}

    void start(const std::string &local, const HALL_AT &hall) {
        local_ = local;
        hall_ = hall;
        connect();
    }

    // Types a key every `period`, the first after `offset`.
    void type(std::chrono::nanoseconds offset, std::chrono::nanoseconds period) {
        period_ = period;
        next_ = CLOCK::now() + offset;
        schedule();
    }

    void end() {
        typing_ = false;
        beast::error_code ec;
        timer_.cancel(ec);
        if (failed_ || !begun_) return;
        end_asked_ = true;
        if (connected_) send(std::make_shared<std::string>("{\"end\":true}"), true);
    }

    void close() {
        failed_ = failed_ || !ended_;
        beast::error_code ec;
        again_.cancel(ec);
        timer_.cancel(ec);
        if (ws_) beast::get_lowest_layer(*ws_).socket().close(ec);
    }

    bool begun_ = false, failed_ = false, ended_ = false, end_asked_ = false;
    std::string trouble_, record_;
    std::vector<double> acknowledged_;  // ms from a key's send to its acknowledgement
    std::size_t acked_ = 0, resumed_ = 0, ends_again_ = 0;
    std::string why_resumed_;

  private:
    void fail(const std::string &what) {
        if (failed_ || ended_) return;
        failed_ = true;
        typing_ = false;
        trouble_ = what;
    }

    // A new socket: the run so far as its first message, with the token once the game has one.
    void connect() {
        // A socket closed may still have a write of its own to hear of: it is kept until the end.
        if (ws_) retired_.push_back(std::move(ws_));
        ws_ = std::make_unique<websocket::stream<beast::tcp_stream>>(io_);
        buffer_.clear();
        connected_ = false;
        const unsigned generation = ++generation_;
        open_socket(*ws_, local_, hall_, "/api/live/play",
                    [self = shared_from_this(), generation](beast::error_code ec) {
                        if (generation != self->generation_) return;
                        if (ec) return self->fail("connect: " + ec.message());
                        JSON first{{"run", write_run_link(RUN{self->keys_.substr(0, self->typed_), false, 0,
                                                              MARROWDEEP_VERSION})}};
                        if (!self->token_.empty()) first["token"] = self->token_;
                        self->out_.clear();
                        self->writing_ = false;
                        self->send(std::make_shared<std::string>(first.dump()), true);
                        self->read_next(generation);
                    });
    }

    void read_next(unsigned generation) {
        ws_->async_read(buffer_, [self = shared_from_this(), generation](beast::error_code ec, std::size_t) {
            if (generation != self->generation_) return;
            if (ec) return self->closed(ec);
            std::string data = beast::buffers_to_string(self->buffer_.data());
            self->buffer_.clear();
            self->heard(data);
            self->read_next(generation);
        });
    }

    // The hall closed the socket: the codes that ask the page to resume are resumed a moment
    // later.
    void closed(beast::error_code ec) {
        const std::string why = closed_as(*ws_, ec);
        const bool resume =
            ec == websocket::error::closed && begun_ &&
            (ws_->reason().code == 4503 || ws_->reason().code == 4500 || ws_->reason().code == 1001);
        if (!resume || ended_ || failed_) return fail("closed: " + why);
        ++resumed_;
        if (why_resumed_.empty()) why_resumed_ = why;
        connected_ = false;
        ++generation_;
        again_.expires_after(std::chrono::seconds(1));
        again_.async_wait([self = shared_from_this()](beast::error_code error) {
            if (!error && !self->failed_) self->connect();
        });
    }

    void heard(const std::string &data) {
        JSON said = JSON::parse(data, nullptr, false);
        if (!said.is_object()) return fail("not JSON: " + data);
        if (!connected_) {
            if (!said.contains("id") || !said.contains("token")) return fail("no game: " + data);
            game_.id = said["id"].get<std::string>();
            token_ = said["token"].get<std::string>();
            const std::size_t held = said["keys"].get<std::size_t>();
            acknowledge(held);
            begun_ = connected_ = true;
            // The keys typed since those the hall holds, in one message.
            if (held < typed_) send(std::make_shared<std::string>(keys_.substr(held, typed_ - held)), false);
            if (end_asked_) send(std::make_shared<std::string>("{\"end\":true}"), true);
            return;
        }
        if (said.contains("keys")) {
            acknowledge(said["keys"].get<std::size_t>());
        } else if (said.contains("record")) {
            ended_ = true;
            record_ = said["record"].dump();
        } else if (said.contains("error") && end_asked_) {
            // The hall could not keep the run now: the end is asked again in a moment (a run it
            // refused is followed by the socket's close).
            if (trouble_.empty()) trouble_ = "the end: " + data;
            ++ends_again_;
            again_.expires_after(std::chrono::seconds(1));
            again_.async_wait([self = shared_from_this()](beast::error_code error) {
                if (!error && self->connected_ && !self->ended_)
                    self->send(std::make_shared<std::string>("{\"end\":true}"), true);
            });
        } else {
            fail("the hall said: " + data);
        }
    }

    void acknowledge(std::size_t upto) {
        const long long now = now_ns();
        for (; acked_ < upto && acked_ < game_.size; ++acked_) {
            long long stamp = game_.sent[acked_].load(std::memory_order_acquire);
            if (in_window(stamp)) acknowledged_.push_back(static_cast<double>(now - stamp) / 1e6);
        }
    }

    void schedule() {
        if (!typing_) return;
        timer_.expires_at(next_);
        timer_.async_wait([self = shared_from_this()](beast::error_code ec) {
            if (ec || !self->typing_ || self->failed_) return;
            if (self->typed_ < self->keys_.size()) {
                self->game_.sent[self->typed_].store(now_ns(), std::memory_order_release);
                // Away from the hall, the key waits for the resumed socket.
                if (self->connected_)
                    self->send(std::make_shared<std::string>(1, self->keys_[self->typed_]), false);
                ++self->typed_;
            }
            self->next_ += self->period_;
            self->schedule();
        });
    }

    // Messages go one after another: a key waits for the write before it.
    void send(std::shared_ptr<std::string> message, bool text) {
        out_.push_back({std::move(message), text});
        if (!writing_) write_next();
    }
    void write_next() {
        if (out_.empty() || failed_) return;
        writing_ = true;
        auto [message, text] = out_.front();
        out_.erase(out_.begin());
        ws_->text(text);
        ws_->async_write(net::buffer(*message),
                         [self = shared_from_this(), message, generation = generation_](beast::error_code ec,
                                                                                        std::size_t) {
                             if (generation != self->generation_) return;
                             self->writing_ = false;
                             if (ec) return;  // the read hears why
                             self->write_next();
                         });
    }

    net::io_context &io_;
    std::string local_;
    HALL_AT hall_;
    std::unique_ptr<websocket::stream<beast::tcp_stream>> ws_;
    std::vector<std::unique_ptr<websocket::stream<beast::tcp_stream>>> retired_;
    unsigned generation_ = 0;  // of the socket: what an older one hears is dropped
    net::steady_timer timer_, again_;
    beast::flat_buffer buffer_;
    GAME &game_;
    const std::string &keys_;
    std::size_t typed_;
    std::string token_;
    bool typing_ = true, writing_ = false, connected_ = false;
    CLOCK::time_point next_;
    std::chrono::nanoseconds period_{};
    std::vector<std::pair<std::shared_ptr<std::string>, bool>> out_;
};

// A watcher: matches every key it gets to its send by the game and the key's place.
class WATCHER : public std::enable_shared_from_this<WATCHER> {
  public:
    WATCHER(net::io_context &io, GAME &game) : io_(io), again_(io), game_(game) {}

    void start(const std::string &local, const HALL_AT &hall) {
        local_ = local;
        hall_ = hall;
        connect();
    }

    // The bytes so far: the messages' payload, and the kernel's counts of the socket.
    void count(std::uint64_t &payload, TCP_COUNTS &tcp, bool &tcp_known) {
        payload = payload_;
        tcp_known = tcp_counts(beast::get_lowest_layer(*ws_).socket().native_handle(), tcp);
    }

    void close() {
        beast::error_code ec;
        again_.cancel(ec);
        beast::get_lowest_layer(*ws_).socket().close(ec);
    }

    bool joined_ = false, failed_ = false, ended_ = false;
    std::string trouble_;
    std::vector<double> latencies_;  // ms from the player's send, keys sent in the measured seconds
    std::size_t next_ = 0;           // the place of the next key to come
    std::uint64_t payload_ = 0, unmatched_ = 0;

  private:
    void fail(const std::string &what) {
        if (failed_ || ended_) return;
        failed_ = true;
        trouble_ = what;
    }

    // Another hall may learn of a game a moment after its player began it: a watcher told there
    // is no such game asks again, every half second for 10 seconds.
    void connect() {
        if (ws_) retired_.push_back(std::move(ws_));
        ws_ = std::make_unique<websocket::stream<beast::tcp_stream>>(io_);
        buffer_.clear();
        open_socket(*ws_, local_, hall_, "/api/live/" + game_.id + "/watch",
                    [self = shared_from_this()](beast::error_code ec) {
                        if (ec) return self->fail("connect: " + ec.message());
                        self->read_next();
                    });
    }

    void read_next() {
        ws_->async_read(buffer_, [self = shared_from_this()](beast::error_code ec, std::size_t) {
            if (ec) {
                if (self->ended_) return;
                if (ec == websocket::error::closed && self->ws_->reason().code == 4404 && !self->joined_ &&
                    ++self->tries_ < 20) {
                    self->again_.expires_after(std::chrono::milliseconds(500));
                    return self->again_.async_wait([self](beast::error_code error) {
                        if (!error) self->connect();
                    });
                }
                return self->fail("closed: " + closed_as(*self->ws_, ec));
            }
            const long long now = now_ns();
            std::string data = beast::buffers_to_string(self->buffer_.data());
            self->buffer_.clear();
            self->payload_ += data.size();
            if (self->ws_->got_text())
                self->heard_text(data);
            else
                self->heard_keys(data, now);
            self->read_next();
        });
    }

    void heard_keys(const std::string &keys, long long now) {
        for (std::size_t i = 0; i < keys.size(); ++i, ++next_) {
            long long stamp = next_ < game_.size ? game_.sent[next_].load(std::memory_order_acquire) : 0;
            if (stamp == 0)
                ++unmatched_;
            else if (in_window(stamp))
                latencies_.push_back(static_cast<double>(now - stamp) / 1e6);
        }
    }

    void heard_text(const std::string &data) {
        JSON said = JSON::parse(data, nullptr, false);
        if (!said.is_object()) return fail("not JSON: " + data);
        if (said.contains("run")) {
            RUN_READING reading = read_run_link(said["run"].get<std::string>());
            if (!reading.ok) return fail("a damaged run: " + reading.error);
            next_ = reading.run.keys.size();
            joined_ = true;
        } else if (said.contains("end") || said.contains("stopped")) {
            ended_ = true;
        } else if (!said.contains("watchers")) {
            fail("the hall said: " + data);
        }
    }

    net::io_context &io_;
    std::string local_;
    HALL_AT hall_;
    std::unique_ptr<websocket::stream<beast::tcp_stream>> ws_;
    std::vector<std::unique_ptr<websocket::stream<beast::tcp_stream>>> retired_;
    net::steady_timer again_;
    beast::flat_buffer buffer_;
    GAME &game_;
    int tries_ = 0;
};

// Runs `job` on the io_context's thread and waits for it.
template <typename JOB>
void on_thread(net::io_context &io, JOB job) {
    std::promise<void> done;
    net::post(io, [&] {
        job();
        done.set_value();
    });
    done.get_future().wait();
}

// Waits until `ready` (asked on the io_context's thread) holds, or the bound passes.
template <typename READY>
bool wait_until(net::io_context &io, READY ready, std::chrono::seconds bound) {
    const auto until = CLOCK::now() + bound;
    for (;;) {
        bool now = false;
        on_thread(io, [&] { now = ready(); });
        if (now) return true;
        if (CLOCK::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

// A process's processor time (user and system) in seconds, from /proc/PID/stat.
double processor_seconds(long pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::size_t close = text.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i)
        if (i == 14 || i == 15) ticks += std::stod(field);
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The processor time of a process and all its children (a database server's processes).
double family_seconds(long pid) {
    double seconds = processor_seconds(pid);
    std::ifstream children("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
    long child = 0;
    while (children >> child) seconds += family_seconds(child);
    return seconds;
}

// A process's resident memory in KiB, from /proc/PID/status.
long resident_kib(long pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(file, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return 0;
}

// The machine's processor time: busy and all, in ticks, from /proc/stat.
std::pair<double, double> machine_ticks() {
    std::ifstream file("/proc/stat");
    std::string cpu;
    file >> cpu;
    double all = 0, idle = 0, value = 0;
    for (int i = 0; i < 8 && file >> value; ++i) {
        all += value;
        if (i == 3 || i == 4) idle += value;  // idle, iowait
    }
    return {all - idle, all};
}

double own_seconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct SNAPSHOT {
    long long at = 0;
    double play_hall = 0, watch_hall = 0, database = 0, own = 0;
    std::pair<double, double> machine;
    std::uint64_t payload = 0, tcp_bytes = 0, segments_in = 0, segments_out = 0;
    std::size_t tcp_known = 0;
};

void usage() {
    std::fprintf(
        stderr,
        "Usage: live --play URL [--watch URL] [--play-pid PID] [--watch-pid PID] [--db-pid PID]\n"
        "            [--players N] [--watchers N] [--keys-a-second N] [--warm-up S] [--seconds S]\n");
}
}  // namespace

int main(int argc, char **argv) {
    std::string play_url, watch_url;
    long play_pid = 0, watch_pid = 0, db_pid = 0;
    std::size_t players = 100, watchers_a_game = 10;
    double rate = 5, warm_up = 10, seconds = 60;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        if (i + 1 >= argc) return usage(), 2;
        std::string value = argv[++i];
        if (option == "--play")
            play_url = value;
        else if (option == "--watch")
            watch_url = value;
        else if (option == "--play-pid")
            play_pid = std::stol(value);
        else if (option == "--watch-pid")
            watch_pid = std::stol(value);
        else if (option == "--db-pid")
            db_pid = std::stol(value);
        else if (option == "--players")
            players = std::stoul(value);
        else if (option == "--watchers")
            watchers_a_game = std::stoul(value);
        else if (option == "--keys-a-second")
            rate = std::stod(value);
        else if (option == "--warm-up")
            warm_up = std::stod(value);
        else if (option == "--seconds")
            seconds = std::stod(value);
        else
            return usage(), 2;
    }
    if (play_url.empty() || players == 0 || rate <= 0 || seconds <= 0) return usage(), 2;
    if (watch_url.empty()) watch_url = play_url;
    if (watch_pid == 0 && watch_url == play_url) watch_pid = play_pid;
    const HALL_AT play_hall = hall_at(play_url), watch_hall = hall_at(watch_url);
    const bool two_halls = play_url != watch_url;
    signal(SIGPIPE, SIG_IGN);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    const std::size_t watchers = players * watchers_a_game;
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
        getrlimit(RLIMIT_NOFILE, &limit);
        if (limit.rlim_cur < players + watchers + 64)
            std::fprintf(stderr, "live: only %llu descriptors may be open\n",
                         static_cast<unsigned long long>(limit.rlim_cur));
    }

    // Enough keys for the whole run and a margin, each game the same real game.
    const double typing_seconds = warm_up + seconds + 60;
    std::size_t answers = 0;
    const std::string keys = game_keys(
        std::min<std::size_t>(MOST_RUN_KEYS, 200 + static_cast<std::size_t>(rate * typing_seconds)), answers);
    std::vector<std::unique_ptr<GAME>> games;
    for (std::size_t g = 0; g < players; ++g) games.push_back(std::make_unique<GAME>(keys.size()));

    net::io_context play_io, watch_io;
    auto play_work = net::make_work_guard(play_io);
    auto watch_work = net::make_work_guard(watch_io);
    std::thread play_thread([&] { play_io.run(); });
    std::thread watch_thread([&] { watch_io.run(); });

    std::vector<std::shared_ptr<PLAYER>> player_of;
    std::vector<std::shared_ptr<WATCHER>> watcher_of;
    int status = 0;
    auto finish = [&] {
        on_thread(play_io, [&] {
            for (auto &player : player_of) player->close();
        });
        on_thread(watch_io, [&] {
            for (auto &watcher : watcher_of) watcher->close();
        });
        play_work.reset();
        watch_work.reset();
        play_io.stop();
        watch_io.stop();
        play_thread.join();
        watch_thread.join();
    };
    auto first_trouble = [](const auto &sockets) {
        for (const auto &socket : sockets)
            if (socket->failed_) return socket->trouble_;
        return std::string();
    };

    // The players begin their games, 4 an address.
    on_thread(play_io, [&] {
        for (std::size_t g = 0; g < players; ++g) {
            player_of.push_back(std::make_shared<PLAYER>(play_io, *games[g], keys, answers));
            player_of.back()->start(address_of(1, g / 4), play_hall);
        }
    });
    bool begun = wait_until(
        play_io,
        [&] {
            return std::all_of(player_of.begin(), player_of.end(),
                               [](const auto &player) { return player->begun_ || player->failed_; });
        },
        std::chrono::seconds(60));
    std::size_t playing = 0;
    on_thread(play_io, [&] {
        for (auto &player : player_of) playing += player->begun_ && !player->failed_;
    });
    if (!begun || playing < players) {
        std::fprintf(stderr, "live: %zu of %zu games begun; %s\n", playing, players,
                     first_trouble(player_of).c_str());
        finish();
        return 1;
    }
    std::printf("%zu players began their games on %s\n", players, play_url.c_str());

    // They type, spread evenly over the period.
    const auto period = std::chrono::nanoseconds(static_cast<long long>(1e9 / rate));
    on_thread(play_io, [&] {
        for (std::size_t g = 0; g < players; ++g)
            player_of[g]->type(period * static_cast<long long>(g) / static_cast<long long>(players), period);
    });
    // Until the games' seeds are known the hall holds their keys back; then the hall's memory
    // without watchers.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const long resident_before = watch_pid ? resident_kib(watch_pid) : 0;

    // The watchers join, each game's on an address of its own.
    on_thread(watch_io, [&] {
        for (std::size_t g = 0; g < players; ++g)
            for (std::size_t w = 0; w < watchers_a_game; ++w) {
                watcher_of.push_back(std::make_shared<WATCHER>(watch_io, *games[g]));
                watcher_of.back()->start(address_of(2, g), watch_hall);
            }
    });
    bool joined = wait_until(
        watch_io,
        [&] {
            return std::all_of(watcher_of.begin(), watcher_of.end(),
                               [](const auto &watcher) { return watcher->joined_ || watcher->failed_; });
        },
        std::chrono::seconds(60));
    std::size_t watching = 0;
    on_thread(watch_io, [&] {
        for (auto &watcher : watcher_of) watching += watcher->joined_ && !watcher->failed_;
    });
    if (!joined || watching < watchers) {
        std::fprintf(stderr, "live: %zu of %zu watchers joined%s; %s\n", watching, watchers,
                     two_halls ? " the other hall" : "", first_trouble(watcher_of).c_str());
        finish();
        return 1;
    }
    std::printf("%zu watchers joined on %s\n", watchers, watch_url.c_str());
    std::this_thread::sleep_for(std::chrono::duration<double>(warm_up));

    auto snapshot = [&] {
        SNAPSHOT shot;
        on_thread(watch_io, [&] {
            for (auto &watcher : watcher_of) {
                std::uint64_t payload = 0;
                TCP_COUNTS tcp;
                bool known = false;
                watcher->count(payload, tcp, known);
                shot.payload += payload;
                if (known) {
                    ++shot.tcp_known;
                    shot.tcp_bytes += tcp.bytes_in;
                    shot.segments_in += tcp.segments_in;
                    shot.segments_out += tcp.segments_out;
                }
            }
        });
        shot.at = now_ns();
        shot.play_hall = play_pid ? processor_seconds(play_pid) : 0;
        shot.watch_hall = two_halls && watch_pid ? processor_seconds(watch_pid) : 0;
        shot.database = db_pid ? family_seconds(db_pid) : 0;
        shot.own = own_seconds();
        shot.machine = machine_ticks();
        return shot;
    };
    const SNAPSHOT from = snapshot();
    window_from.store(from.at, std::memory_order_release);
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const SNAPSHOT to = snapshot();
    window_to.store(to.at, std::memory_order_release);
    const long resident_after = watch_pid ? resident_kib(watch_pid) : 0;
    // The keys sent last have a moment to come.
    std::this_thread::sleep_for(std::chrono::seconds(2));

    // The figures, taken before the ends.
    std::vector<double> latencies, acknowledged;
    std::uint64_t unmatched = 0;
    std::size_t sent_in_window = 0, player_troubles = 0, watcher_troubles = 0, resumes = 0;
    std::string why_resumed;
    on_thread(watch_io, [&] {
        for (auto &watcher : watcher_of) {
            latencies.insert(latencies.end(), watcher->latencies_.begin(), watcher->latencies_.end());
            unmatched += watcher->unmatched_;
            watcher_troubles += watcher->failed_;
        }
    });
    on_thread(play_io, [&] {
        for (auto &player : player_of) {
            acknowledged.insert(acknowledged.end(), player->acknowledged_.begin(),
                                player->acknowledged_.end());
            player_troubles += player->failed_;
            resumes += player->resumed_;
            if (why_resumed.empty()) why_resumed = player->why_resumed_;
        }
    });
    for (auto &game : games)
        for (std::size_t i = 0; i < game->size; ++i) sent_in_window += in_window(game->sent[i].load());

    // The players end their games: each run proved and kept, each watcher told.
    on_thread(play_io, [&] {
        for (auto &player : player_of) player->end();
    });
    wait_until(
        play_io,
        [&] {
            return std::all_of(player_of.begin(), player_of.end(),
                               [](const auto &player) { return player->ended_ || player->failed_; });
        },
        std::chrono::seconds(120));
    wait_until(
        watch_io,
        [&] {
            return std::all_of(watcher_of.begin(), watcher_of.end(),
                               [](const auto &watcher) { return watcher->ended_ || watcher->failed_; });
        },
        std::chrono::seconds(30));
    std::size_t records = 0, watcher_ends = 0, ends_again = 0;
    std::string a_record;
    on_thread(play_io, [&] {
        for (auto &player : player_of) {
            ends_again += player->ends_again_;
            if (player->ended_) {
                ++records;
                a_record = player->record_;
            }
        }
    });
    on_thread(watch_io, [&] {
        for (auto &watcher : watcher_of) watcher_ends += watcher->ended_;
    });
    const std::string player_trouble = first_trouble(player_of), watcher_trouble = first_trouble(watcher_of);
    finish();

    const double wall = static_cast<double>(to.at - from.at) / 1e9;
    std::sort(latencies.begin(), latencies.end());
    std::sort(acknowledged.begin(), acknowledged.end());
    const double expected = static_cast<double>(sent_in_window) * static_cast<double>(watchers_a_game);
    std::printf(
        "\n%zu games of %zu watchers, %.1f keys a second each, one key a message; %.1f s measured "
        "after %.1f s of warm-up\n",
        players, watchers_a_game, rate, wall, warm_up);
    std::printf("%zu keys sent in the measured seconds; %zu arrivals at the watchers (%.2f%% of those due)\n",
                sent_in_window, latencies.size(),
                expected > 0 ? 100.0 * static_cast<double>(latencies.size()) / expected : 0);
    std::printf(
        "A key, the player's send to a watcher's receipt:  median %7.2f ms   95th percentile %7.2f ms   "
        "99th %7.2f ms   most %7.2f ms\n",
        percentile(latencies, 0.5), percentile(latencies, 0.95), percentile(latencies, 0.99),
        latencies.empty() ? 0.0 : latencies.back());
    std::printf(
        "A key, the player's send to its acknowledgement:  median %7.2f ms   95th percentile %7.2f ms\n",
        percentile(acknowledged, 0.5), percentile(acknowledged, 0.95));
    const double minutes = wall / 60, per_watcher = static_cast<double>(watchers) * minutes;
    std::printf("A watcher a minute: %.0f bytes of messages' payload",
                static_cast<double>(to.payload - from.payload) / per_watcher);
    if (from.tcp_known == watchers && to.tcp_known == watchers) {
        const double frames = static_cast<double>(to.tcp_bytes - from.tcp_bytes) / per_watcher;
        const double segments_in = static_cast<double>(to.segments_in - from.segments_in) / per_watcher;
        const double segments_out = static_cast<double>(to.segments_out - from.segments_out) / per_watcher;
        // IPv4 (20 bytes) and TCP with its time stamps (32 bytes) a segment.
        std::printf(
            ", %.0f bytes of WebSocket frames; with TCP/IP headers %.0f bytes in %.0f segments down, "
            "%.0f bytes in %.0f segments up",
            frames, frames + 52 * segments_in, segments_in, 52 * segments_out, segments_out);
    }
    std::printf("\n");
    const double machine_busy =
        (to.machine.first - from.machine.first) / static_cast<double>(sysconf(_SC_CLK_TCK));
    const double machine_all =
        (to.machine.second - from.machine.second) / static_cast<double>(sysconf(_SC_CLK_TCK));
    if (play_pid)
        std::printf("The %s's processor time: %.2f s in %.1f s (%.1f%% of one core)\n",
                    two_halls ? "players' hall" : "hall", to.play_hall - from.play_hall, wall,
                    100 * (to.play_hall - from.play_hall) / wall);
    if (two_halls && watch_pid)
        std::printf("The watchers' hall's processor time: %.2f s in %.1f s (%.1f%% of one core)\n",
                    to.watch_hall - from.watch_hall, wall, 100 * (to.watch_hall - from.watch_hall) / wall);
    if (db_pid)
        std::printf(
            "The database server's processor time (process %ld and its children): %.2f s (%.1f%% of one "
            "core)\n",
            db_pid, to.database - from.database, 100 * (to.database - from.database) / wall);
    std::printf("This benchmark's own: %.2f s; the whole machine's busy: %.2f s of %.2f s (%ld cores)\n",
                to.own - from.own, machine_busy, machine_all, sysconf(_SC_NPROCESSORS_ONLN));
    if (watch_pid)
        std::printf(
            "The watchers' hall's resident memory: %.1f MiB before the watchers, %.1f MiB with them: "
            "%.1f KiB a watcher\n",
            static_cast<double>(resident_before) / 1024, static_cast<double>(resident_after) / 1024,
            static_cast<double>(resident_after - resident_before) / static_cast<double>(watchers));
    std::printf("Ends: %zu of %zu records to the players, %zu of %zu watchers told\n", records, players,
                watcher_ends, watchers);
    if (ends_again)
        std::printf("Ends asked again after the hall could not keep the run then: %zu\n", ends_again);
    if (!a_record.empty()) std::printf("A record: %s\n", a_record.c_str());
    if (unmatched)
        std::printf("%llu keys came that no player sent\n", static_cast<unsigned long long>(unmatched));
    if (player_troubles || !player_trouble.empty())
        std::printf("Players in trouble: %zu before the end (the first: %s)\n", player_troubles,
                    player_trouble.c_str());
    if (watcher_troubles || !watcher_trouble.empty())
        std::printf("Watchers in trouble: %zu before the end (the first: %s)\n", watcher_troubles,
                    watcher_trouble.c_str());
    if (unmatched || player_troubles || watcher_troubles || records < players || latencies.empty())
        status = 1;
    return status;
}
