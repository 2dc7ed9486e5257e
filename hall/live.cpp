#include "hall/live.h"

#include <openssl/rand.h>
#include <openssl/sha.h>

#include <algorithm>
#include <atomic>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <vector>

#include "hall/live_notices.h"
#include "hall/names.h"
#include "hall/run_link.h"
#include "hall/server.h"
#include "hall/signing.h"

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using JSON = nlohmann::ordered_json;
using steady = std::chrono::steady_clock;

class LIVE_PLAYER;
class LIVE_WATCHER;
class LIVE_SOCKET_SESSION;

// A game played now, as this hall holds it.
struct LIVE_GAME {
    LIVE_GAME_ROW row;  // row.keys is kept at keys.size()
    std::string keys;   // the keys committed
    // Where each batch begins among the keys, and when it came (ms): the day's game is relayed
    // by these times.
    std::vector<std::pair<std::size_t, long long>> batches;
    std::size_t released = 0;  // the keys given to the watchers
    bool starting = true;      // its first keys not committed yet: neither listed nor watched
    bool ended = false;        // neither listed nor resumed: the watchers get the rest, then the end
    bool end_sent = false;
    bool ending_here = false;  // its run is being kept by this hall
    std::string end_message;   // {"end": record}, or {"stopped": true} when the player left
    bool seed_known = false, seed_proving = false, clock = false;
    long long seed = 0;
    std::weak_ptr<LIVE_PLAYER> player;  // when it is played in this hall
    std::vector<std::weak_ptr<LIVE_WATCHER>> watchers;
    // When its player left, or (played in another hall) when that hall last spoke of it.
    steady::time_point gone_since = steady::now();
};

struct LIVE_STATE : std::enable_shared_from_this<LIVE_STATE> {
    LIVE_STATE(HALL &h, net::io_context &n, LIVE_SETTINGS s)
        : hall(h), network(n), settings(std::move(s)), ticking(net::make_strand(n)), tick(ticking) {}

    HALL &hall;
    net::io_context &network;
    LIVE_SETTINGS settings;
    std::mutex mutex;  // the games, and every game's fields
    std::map<std::string, std::shared_ptr<LIVE_GAME>> games;
    // The sockets have a lock of their own: a socket may end (and its destructor run) wherever
    // its last holder lets go of it, the games' lock held or not.
    std::mutex sockets_mutex;
    std::map<std::string, std::size_t> sockets_of;  // open sockets of each address
    std::vector<std::weak_ptr<LIVE_SOCKET_SESSION>> sockets;
    std::atomic<bool> stopping{false};  // set with the sockets' lock held
    // This hall's mark on its notices to the others sharing its database, so it passes over
    // its own.
    std::string tag;
    net::strand<net::io_context::executor_type> ticking;
    net::steady_timer tick;

    // A player gone this long leaves: its game is kept as an unfinished run. Ten minutes, made
    // shorter with the read and write deadline in the tests.
    std::chrono::milliseconds gone_after() const { return settings.io_timeout * 40; }
    std::chrono::milliseconds tick_every() const {
        return std::min(std::chrono::milliseconds(1000), settings.io_timeout);
    }
    // How often a hall tells the others that its players are still there: four times before
    // they would count a player gone.
    std::chrono::milliseconds beat_every() const { return gone_after() / 4; }
};

namespace {
std::string random_hex(std::size_t bytes) {
    std::vector<unsigned char> random(bytes);
    if (RAND_bytes(random.data(), static_cast<int>(bytes)) != 1)
        throw std::runtime_error("RAND_bytes failed.");
    return lowercase_hex(std::string_view(reinterpret_cast<const char *>(random.data()), bytes));
}

std::string digest_of(const std::string &token) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char *>(token.data()), token.size(), digest);
    return lowercase_hex(std::string_view(reinterpret_cast<const char *>(digest), sizeof digest));
}

// A notice of a game to the other halls on the database: "TAG ID KEYS KIND", and for an end the
// id of the run kept ("-" for none). KIND is k (keys committed, or the game begun), h (its player
// is still here), e (it ended: the run's record goes to the watchers) or s (it stopped).
std::string notice_of(const LIVE_STATE &live, const std::string &id, std::size_t keys, char kind,
                      const std::string &run = "") {
    std::string notice = live.tag + " " + id + " " + std::to_string(keys) + " " + kind;
    if (kind == 'e' || kind == 's') notice += " " + (run.empty() ? std::string("-") : run);
    return notice;
}

std::shared_ptr<const std::string> shared_text(const JSON &json) {
    return std::make_shared<const std::string>(json.dump(-1, ' ', false, JSON::error_handler_t::replace));
}

RUN run_of(const LIVE_GAME &game, std::size_t keys) {
    return RUN{game.keys.substr(0, keys), game.row.has_clock, game.row.clock, game.row.version};
}

// The day's seed is relayed late, and so is a game whose seed is not known yet.
bool delayed(LIVE_STATE &live, const LIVE_GAME &game) {
    if (!game.seed_known) return true;
    long long now = live.hall.now_ms() / 1000;
    return game.seed == daily_seed(live.hall.secret, utc_date(now)) ||
           game.seed == daily_seed(live.hall.secret, utc_date(game.row.started / 1000));
}

// A game that ends without its run kept: it ends at the keys its watchers have, so they are told
// it stopped at once.
void stop_at_released(LIVE_GAME &game) {
    game.keys.resize(game.released);
    while (!game.batches.empty() && game.batches.back().first >= game.keys.size()) game.batches.pop_back();
}

std::size_t watchers_of(const LIVE_GAME &game) {
    return static_cast<std::size_t>(std::count_if(game.watchers.begin(), game.watchers.end(),
                                                  [](const auto &watcher) { return !watcher.expired(); }));
}

// The hero's name once the keys hold it whole, a blank after it; nothing before.
std::optional<std::string> whole_name(std::string_view keys) {
    std::size_t rest = 0;
    std::string_view name = name_in_keys(keys, rest);
    if (name.empty() || name.data() + name.size() == keys.data() + keys.size()) return std::nullopt;
    return std::string(name);
}

// Whether a game may be played under `name` with its start's key (`signer`; empty: unsigned):
// "" when it may, else the refusal's sentence. The name's claim is read from the store; it is
// checked again when the run is kept.
std::string name_refusal(STORE &store, const std::string &name, const std::string &signer) {
    std::string holder = store.claimant(name);
    return holder.empty() || holder == signer ? std::string() : std::string(NAME_TAKEN_SENTENCE);
}

JSON listing_of(LIVE_STATE &live, const LIVE_GAME &game) {
    std::size_t rest = 0;
    JSON listing{{"id", game.row.id},
                 {"name", visible_name(name_in_keys(game.keys, rest).substr(0, MOST_NAME_BYTES))},
                 {"seed", game.seed_known ? JSON(game.seed) : JSON(nullptr)},
                 {"clock", game.clock},
                 {"version", game.row.version},
                 {"keys", game.released},
                 {"watchers", watchers_of(game)},
                 {"started", utc_time(game.row.started / 1000)},
                 {"last", utc_time(game.row.last / 1000)},
                 {"delayed", delayed(live, game) ? LIVE_DELAY_SECONDS : 0},
                 {"signed", !game.row.signer.empty()}};
    if (!game.row.signer.empty()) listing["key"] = key_fingerprint(game.row.signer);
    return listing;
}
}  // namespace

// A WebSocket of the live games: the upgrade answered, then messages read one at a time within
// their limit, and written in order from a queue any thread may add to.
class LIVE_SOCKET_SESSION : public std::enable_shared_from_this<LIVE_SOCKET_SESSION> {
  public:
    LIVE_SOCKET_SESSION(std::shared_ptr<LIVE_STATE> live, beast::tcp_stream stream, REQUEST request,
                        std::shared_ptr<void> keep)
        : live_(std::move(live)),
          ws_(std::move(stream)),
          request_(std::move(request)),
          keep_(std::move(keep)) {}
    virtual ~LIVE_SOCKET_SESSION() {
        if (!counted_) return;
        std::lock_guard lock(live_->sockets_mutex);
        if (--live_->sockets_of[request_.address] == 0) live_->sockets_of.erase(request_.address);
    }

    void start(http::request<http::string_body> upgrade) {
        beast::get_lowest_layer(ws_).expires_never();
        const auto deadline = live_->settings.io_timeout;
        websocket::stream_base::timeout timeouts{deadline, deadline * 2, true};
        ws_.set_option(timeouts);
        ws_.set_option(websocket::stream_base::decorator([](websocket::response_type &response) {
            response.set(http::field::server, "marrowdeep-hall");
        }));
        ws_.read_message_max(0);
        bool room = false;
        {
            std::lock_guard lock(live_->sockets_mutex);
            live_->sockets.erase(std::remove_if(live_->sockets.begin(), live_->sockets.end(),
                                                [](const auto &socket) { return socket.expired(); }),
                                 live_->sockets.end());
            live_->sockets.push_back(weak_from_this());
            std::size_t &open = live_->sockets_of[request_.address];
            room = open < MOST_LIVE_SOCKETS_AN_ADDRESS && !live_->stopping;
            ++open;
            counted_ = true;
        }
        upgrade_ = std::move(upgrade);
        ws_.async_accept(upgrade_, [self = shared_from_this(), room](beast::error_code ec) {
            if (ec) return self->finish();
            if (!room) {
                self->close(LIVE_TOO_MUCH, "Too many live connections from your address; close some first.");
                return self->read_next();
            }
            self->opened();
        });
    }

    // From any thread: the message goes after those queued. A watcher too far behind is closed.
    void send(std::shared_ptr<const std::string> message, bool binary) {
        net::post(ws_.get_executor(), [self = shared_from_this(), message, binary] {
            if (self->closing_ || self->finished_) return;
            self->queued_ += message->size();
            if (self->queued_ > self->most_queued()) {
                self->out_.clear();
                self->queued_ = 0;
                self->close(LIVE_TOO_SLOW, "You fell more than 256 KB behind the game; join again.");
                return;
            }
            self->out_.push_back({message, binary});
            self->write_next();
        });
    }

    // From any thread: closes after the messages queued (all of them dropped when `now`, and a
    // socket closing already, whose peer may never answer, closed at once).
    void close_from_anywhere(unsigned short code, std::string reason, bool now) {
        net::post(ws_.get_executor(), [self = shared_from_this(), code, reason = std::move(reason), now] {
            if (now && self->closing_) return self->finish();
            if (now) {
                self->out_.clear();
                self->queued_ = 0;
            }
            self->close(code, reason);
        });
    }

  protected:
    virtual void opened() = 0;
    virtual void message(std::string data, bool text) = 0;
    virtual void ended() = 0;  // once, when the socket is done for any reason
    virtual std::size_t read_limit() const { return MOST_LIVE_MESSAGE; }
    virtual std::size_t most_queued() const { return std::size_t(-1); }

    // On the socket's strand.
    void send_here(const JSON &json) {
        auto text = shared_text(json);
        if (closing_ || finished_) return;
        queued_ += text->size();
        out_.push_back({text, false});
        write_next();
    }

    // On the socket's strand: the close is sent after what is queued, with its sentence (cut to
    // the 123 bytes a close frame holds).
    void close(unsigned short code, std::string reason) {
        if (closing_ || finished_) return;
        closing_ = true;
        if (reason.size() > 123) reason.resize(123);
        close_reason_ = websocket::close_reason(static_cast<websocket::close_code>(code), reason);
        write_next();
    }

    void read_next() {
        if (finished_) return;
        std::size_t limit = read_limit();
        // Into room made here: the library's own guess of a read's size (its dynamic buffer's
        // overload) asserts on, or asks for nothing after, some frames a client may send.
        ws_.async_read_some(buffer_.prepare(limit + 1 - std::min(buffer_.size(), limit)),
                            [self = shared_from_this()](beast::error_code ec, std::size_t read) {
                                self->buffer_.commit(read);
                                self->on_read(ec);
                            });
    }

    bool closing() const { return closing_ || finished_; }

    std::shared_ptr<LIVE_STATE> live_;
    websocket::stream<beast::tcp_stream> ws_;
    REQUEST request_;

  private:
    void on_read(beast::error_code ec) {
        if (ec) return finish();
        if (closing_) {  // what comes before the close handshake's end is dropped
            buffer_.clear();
            return read_next();
        }
        if (buffer_.size() > read_limit()) {
            buffer_.clear();
            close(LIVE_TOO_BIG, read_limit() == MOST_LIVE_MESSAGE
                                    ? "A message may hold at most 4 KB."
                                    : "The first message may hold at most 70 KB.");
            return read_next();
        }
        if (!ws_.is_message_done()) return read_next();
        std::string data = beast::buffers_to_string(buffer_.data());
        buffer_.clear();
        message(std::move(data), ws_.got_text());
        read_next();
    }

    void write_next() {
        if (writing_ || finished_) return;
        if (!out_.empty()) {
            writing_ = true;
            OUT item = std::move(out_.front());
            out_.pop_front();
            ws_.binary(item.binary);
            ws_.async_write(net::buffer(*item.data),
                            [self = shared_from_this(), item](beast::error_code ec, std::size_t) {
                                self->writing_ = false;
                                self->queued_ -= std::min(self->queued_, item.data->size());
                                if (ec) return self->finish();
                                self->write_next();
                            });
            return;
        }
        if (closing_ && !close_sent_) {
            close_sent_ = writing_ = true;
            ws_.async_close(close_reason_, [self = shared_from_this()](beast::error_code) {
                self->writing_ = false;
                self->finish();
            });
        }
    }

    void finish() {
        if (finished_) return;
        finished_ = true;
        out_.clear();
        beast::error_code ec;
        beast::get_lowest_layer(ws_).socket().close(ec);
        ended();
    }

    struct OUT {
        std::shared_ptr<const std::string> data;
        bool binary = false;
    };
    std::shared_ptr<void> keep_;
    http::request<http::string_body> upgrade_;  // answered by the handshake
    beast::flat_buffer buffer_;
    std::deque<OUT> out_;
    std::size_t queued_ = 0;
    bool writing_ = false, closing_ = false, close_sent_ = false, finished_ = false, counted_ = false;
    websocket::close_reason close_reason_;
};

namespace {
// Gives the watchers the keys they may have now, in order, and once the game has ended and they
// have all, its end. Called with the live games' mutex held.
void release(LIVE_STATE &live, LIVE_GAME &game);
// The draws the game makes before it reads a key.
long long start_up_draws() {
    static const long long draws = prove(RUN{"", false, 0, MARROWDEEP_VERSION}).draws;
    return draws;
}

// Whether a game's first keys leave it before its maze: the game has made only the draws of its
// start-up (it plants its seed, and draws its maze, once the hero's way of fighting is chosen).
bool begun_before_its_maze(const RUN &first) {
    try {
        PROOF proof = prove(first);
        return proof.ok && proof.draws <= start_up_draws();
    } catch (const std::exception &) {
        return false;
    }
}

// Proves and keeps the game's run as a submission is kept, then forgets the live game; `done`
// is given the submission's answer, on a thread of the hall's queues.
void keep_run(const std::shared_ptr<LIVE_STATE> &live, const std::shared_ptr<LIVE_GAME> &game,
              REQUEST request, std::function<void(ANSWER)> done);
// Proves the keys so far for the game's seed, when it is not known yet. Mutex held.
void want_seed(const std::shared_ptr<LIVE_STATE> &live, const std::shared_ptr<LIVE_GAME> &game);
}  // namespace

class LIVE_WATCHER : public LIVE_SOCKET_SESSION {
  public:
    LIVE_WATCHER(std::shared_ptr<LIVE_STATE> live, beast::tcp_stream stream, REQUEST request,
                 std::shared_ptr<void> keep, std::string id)
        : LIVE_SOCKET_SESSION(std::move(live), std::move(stream), std::move(request), std::move(keep)),
          id_(std::move(id)) {}

  protected:
    std::size_t most_queued() const override { return live_->settings.most_behind; }

    void opened() override {
        {
            std::lock_guard lock(live_->mutex);
            auto found = live_->games.find(id_);
            if (found != live_->games.end() && !found->second->starting && !found->second->end_sent) {
                game_ = found->second;
                LIVE_GAME &game = *game_;
                game.watchers.push_back(std::static_pointer_cast<LIVE_WATCHER>(shared_from_this()));
                std::string link = write_run_link(run_of(game, game.released));
                send_here(JSON{{"run", link}, {"game", listing_of(*live_, game)}});
                tell_watchers(game, this);
            }
        }
        if (!game_) close(LIVE_NO_GAME, "No live game has that id.");
        read_next();
    }

    // A watcher has nothing to say: what it sends is read (within the limit) and dropped.
    void message(std::string, bool) override {}

    void ended() override {
        if (!game_) return;
        std::lock_guard lock(live_->mutex);
        auto &watchers = game_->watchers;
        watchers.erase(std::remove_if(watchers.begin(), watchers.end(),
                                      [this](const auto &watcher) {
                                          auto held = watcher.lock();
                                          return !held || held.get() == this;
                                      }),
                       watchers.end());
        tell_watchers(*game_, this);
    }

  private:
    // The other watchers are told how many watch now. Mutex held.
    void tell_watchers(LIVE_GAME &game, const LIVE_WATCHER *besides) {
        auto count = shared_text(JSON{{"watchers", watchers_of(game)}});
        for (const auto &weak : game.watchers)
            if (auto watcher = weak.lock(); watcher && watcher.get() != besides) watcher->send(count, false);
    }

    std::string id_;
    std::shared_ptr<LIVE_GAME> game_;
};

class LIVE_PLAYER : public LIVE_SOCKET_SESSION {
  public:
    LIVE_PLAYER(std::shared_ptr<LIVE_STATE> live, beast::tcp_stream stream, REQUEST request,
                std::shared_ptr<void> keep)
        : LIVE_SOCKET_SESSION(std::move(live), std::move(stream), std::move(request), std::move(keep)) {}

  protected:
    std::size_t read_limit() const override { return game_ || started_ ? MOST_LIVE_MESSAGE : MOST_BODY; }

    void opened() override {
        if (!own_origin(live_->hall, request_))
            close(LIVE_FORBIDDEN, "The hall takes live games only from its own pages.");
        read_next();
    }

    void message(std::string data, bool text) override {
        if (closing()) return;
        if (!started_) return first_message(data, text);
        if (!game_)
            return close(LIVE_NOT_WELL_FORMED, "Keys come after the hall's answer to the first message.");
        if (!text) return keys(std::move(data));
        JSON said = JSON::parse(data, nullptr, false);
        if (is_end(said)) {
            if (end_asked_) return;
            end_asked_ = true;
            // The run's key and signature, as a submission's two fields carry them.
            end_key_.reset();
            end_signature_.reset();
            if (said.contains("key")) end_key_ = said["key"].get<std::string>();
            if (said.contains("signature")) end_signature_ = said["signature"].get<std::string>();
            if (!committing_) commit();
            return;
        }
        close(LIVE_NOT_WELL_FORMED, "Keys come in binary messages, and the game's end as {\"end\": true}.");
    }

    void ended() override {
        if (!game_) return;
        std::lock_guard lock(live_->mutex);
        if (game_->player.lock().get() == this || game_->player.expired()) {
            game_->player.reset();
            game_->gone_since = steady::now();
        }
    }

  private:
    std::shared_ptr<LIVE_PLAYER> self() { return std::static_pointer_cast<LIVE_PLAYER>(shared_from_this()); }

    // {"end": true}, with the run's "key" and "signature" (text) when it is signed: nothing else.
    static bool is_end(const JSON &said) {
        if (!said.is_object() || !said.contains("end") || said["end"] != true) return false;
        for (const auto &[name, value] : said.items())
            if (name != "end" && !((name == "key" || name == "signature") && value.is_string())) return false;
        return true;
    }

    // {"run": text}, with "token" (text) to resume, or with "key" and "signature" (text, both)
    // when a new game's start is signed: nothing else.
    static bool is_first(const JSON &said) {
        if (!said.is_object() || !said.contains("run")) return false;
        for (const auto &[name, value] : said.items())
            if (!value.is_string() ||
                (name != "run" && name != "token" && name != "key" && name != "signature"))
                return false;
        return said.contains("key") == said.contains("signature") &&
               !(said.contains("token") && said.contains("key"));
    }

    void first_message(const std::string &data, bool text) {
        started_ = true;
        JSON said = text ? JSON::parse(data, nullptr, false) : JSON();
        if (!is_first(said))
            return close(LIVE_NOT_WELL_FORMED,
                         "The first message must be {\"run\": the run's link text}, with \"key\" and "
                         "\"signature\" when signed, or \"token\" to resume.");
        // The run as a submission's body is read: a whole link taken too, a line's end left out.
        std::string_view link = said["run"].get_ref<const std::string &>();
        std::size_t mark = link.find("#run=");
        if (mark != std::string_view::npos) link.remove_prefix(mark + 5);
        while (!link.empty() &&
               (link.back() == '\n' || link.back() == '\r' || link.back() == ' ' || link.back() == '\t'))
            link.remove_suffix(1);
        RUN_READING reading = read_run_link(link);
        if (!reading.ok)
            return close(reading.status == 413   ? LIVE_TOO_MANY_KEYS
                         : reading.status == 422 ? LIVE_OTHER_VERSION
                                                 : LIVE_NOT_WELL_FORMED,
                         reading.error);
        std::size_t rest = 0;
        if (name_in_keys(reading.run.keys, rest).size() > MOST_NAME_BYTES)
            return close(LIVE_OTHER_VERSION,
                         "The hero's name is longer than 40 bytes; the hall takes at most 40.");
        if (reading.run.version != MARROWDEEP_VERSION)
            return close(LIVE_OTHER_VERSION,
                         "This run is of another version of the game; the hall cannot relay it.");
        if (said.contains("token")) return resume(reading.run, said["token"].get<std::string>());
        // A signed start: its key signs the id of the run this message carries, in the live
        // games' own context, so no signature of a run passes for it.
        std::string signer;
        if (said.contains("key")) {
            RUN_SIGNATURE signature;
            std::string error;
            if (!read_run_signature(said["key"].get_ref<const std::string &>(),
                                    said["signature"].get_ref<const std::string &>(), signature, error))
                return close(LIVE_NOT_WELL_FORMED, error);
            if (!signature_verifies(signature, run_id(reading.run), LIVE_CONTEXT))
                return close(LIVE_FORBIDDEN,
                             "The start's signature does not verify: it must sign \"marrowdeep-live-1 \" and "
                             "the run's id with the key sent.");
            signer = std::move(signature.key);
        }
        begin(std::move(reading.run), std::move(signer));
    }

    void begin(RUN run, std::string signer) {
        auto game = std::make_shared<LIVE_GAME>();
        std::string token;
        {
            std::lock_guard lock(live_->mutex);
            std::size_t playing = static_cast<std::size_t>(
                std::count_if(live_->games.begin(), live_->games.end(), [&](const auto &entry) {
                    return !entry.second->ended && entry.second->row.address == request_.address;
                }));
            if (playing >= MOST_LIVE_GAMES_AN_ADDRESS)
                return close(LIVE_TOO_MUCH, "An address may play at most 4 live games at once.");
            const long long now = live_->hall.now_ms();
            game->row.id = random_hex(12);
            token = random_hex(32);
            game->row.token_digest = digest_of(token);
            game->row.address = request_.address;
            game->row.version = run.version;
            game->row.has_clock = run.has_clock;
            game->row.clock = run.clock;
            game->row.started = game->row.last = now;
            game->row.signer = std::move(signer);
            game->player = self();
            live_->games[game->row.id] = game;
        }
        const long long sent = game->row.started;
        auto started = [self = self(), game, token, run](std::string trouble, unsigned short code) {
            if (!trouble.empty()) {
                std::lock_guard lock(self->live_->mutex);
                self->live_->games.erase(game->row.id);
                return self->close(code, trouble);
            }
            {
                std::lock_guard lock(self->live_->mutex);
                game->keys = run.keys;
                game->row.keys = static_cast<long long>(run.keys.size());
                game->batches.emplace_back(0, game->row.started);
                game->starting = false;
                if (game->player.lock() != self) game->gone_since = steady::now();
                want_seed(self->live_, game);
            }
            self->game_ = game;
            self->held_ = run.keys.size();
            self->send_here(JSON{{"id", game->row.id}, {"token", token}, {"keys", run.keys.size()}});
        };
        // A name the first keys hold whole is checked now, before the game is kept; one they
        // do not, when the keys that make it whole come.
        store_job(
            [live = live_, row = game->row, keys = run.keys, sent, name = whole_name(run.keys)] {
                if (name)
                    if (std::string refusal = name_refusal(*live->hall.store, *name, row.signer);
                        !refusal.empty())
                        return refusal;
                live->hall.store->live_start(row, LIVE_BATCH{0, keys, sent},
                                             notice_of(*live, row.id, keys.size(), 'k'));
                return std::string();
            },
            started);
    }

    void resume(const RUN &run, const std::string &token) {
        const std::string digest = digest_of(token);
        std::shared_ptr<LIVE_GAME> game;
        std::shared_ptr<LIVE_PLAYER> before;
        {
            std::lock_guard lock(live_->mutex);
            for (const auto &[id, held] : live_->games)
                if (held->row.token_digest == digest && !held->ended && !held->starting) game = held;
            if (!game) return close(LIVE_WRONG_TOKEN, "No live game holds that token; it may have ended.");
            if (run.version != game->row.version || run.has_clock != game->row.has_clock ||
                (run.has_clock && run.clock != game->row.clock) || run.keys.size() < game->keys.size() ||
                run.keys.compare(0, game->keys.size(), game->keys) != 0)
                return close(LIVE_NOT_PREFIX,
                             "The run does not go on from the keys the hall holds for this game.");
            before = game->player.lock();
            game->player = self();
            held_ = game->keys.size();
        }
        if (before && before.get() != this)
            before->close_from_anywhere(LIVE_RESUMED_ELSEWHERE, "This game was resumed on another page.",
                                        true);
        game_ = game;
        send_here(JSON{{"id", game->row.id}, {"token", token}, {"keys", held_}});
    }

    void keys(std::string data) {
        if (end_asked_) return close(LIVE_NOT_WELL_FORMED, "No keys come after the game's end.");
        if (data.empty()) return;
        if (held_ + data.size() > MOST_RUN_KEYS)
            return close(LIVE_TOO_MANY_KEYS, "A game holds at most 100,000 keys.");
        // A bucket of 2,000 keys filled at 200 a second: a person never empties it.
        const steady::time_point now = steady::now();
        if (filled_ != steady::time_point{})
            allowance_ = std::min<double>(
                MOST_KEYS_AT_ONCE,
                allowance_ + std::chrono::duration<double>(now - filled_).count() * MOST_KEYS_A_SECOND);
        filled_ = now;
        if (static_cast<double>(data.size()) > allowance_)
            return close(LIVE_TOO_MUCH,
                         "Keys are coming faster than anyone types: over 200 a second for 10 seconds.");
        allowance_ -= static_cast<double>(data.size());
        const long long at = static_cast<long long>(held_);
        held_ += data.size();
        pending_.push_back(LIVE_BATCH{at, std::move(data), live_->hall.now_ms()});
        // Keys are committed as they come; those that come while a commit is under way wait for
        // it, and go together in the next: one transaction for all of them.
        if (!committing_) commit();
    }

    // Commits the keys waiting, then answers how many are committed; at the end, keeps the run.
    void commit() {
        if (committing_ || closing()) return;
        if (pending_.empty()) {
            if (end_asked_) finish_game();
            return;
        }
        committing_ = true;
        auto batches = std::make_shared<std::vector<LIVE_BATCH>>(std::move(pending_));
        pending_.clear();
        auto game = game_;
        const std::size_t after = held_;
        // The keys that make the hero's name whole: it is checked before they are kept, and a
        // game refused for it ends, its keys forgotten.
        std::optional<std::string> name;
        std::string signer;
        std::size_t before = 0;
        {
            std::lock_guard lock(live_->mutex);
            signer = game->row.signer;
            before = game->keys.size();
            if (!whole_name(game->keys)) {
                std::string keys = game->keys;
                for (const LIVE_BATCH &batch : *batches) keys += batch.keys;
                name = whole_name(keys);
            }
        }
        store_job(
            [live = live_, id = game->row.id, batches, after, name, signer, before] {
                if (name)
                    if (std::string refusal = name_refusal(*live->hall.store, *name, signer);
                        !refusal.empty()) {
                        live->hall.store->live_end(id, notice_of(*live, id, before, 's'));
                        return refusal;
                    }
                live->hall.store->live_append(id, *batches, notice_of(*live, id, after, 'k'));
                return std::string();
            },
            [self = self(), game, batches](std::string trouble, unsigned short code) {
                self->committing_ = false;
                if (code == LIVE_FORBIDDEN) {
                    std::lock_guard lock(self->live_->mutex);
                    game->ended = true;
                    game->end_message = R"({"stopped":true})";
                    game->player.reset();
                    stop_at_released(*game);
                    release(*self->live_, *game);
                }
                if (!trouble.empty()) return self->close(code, trouble);
                std::size_t committed = 0;
                {
                    std::lock_guard lock(self->live_->mutex);
                    for (LIVE_BATCH &batch : *batches) {
                        // Read from the tables already when the hall heard of them first.
                        if (static_cast<std::size_t>(batch.at) != game->keys.size()) continue;
                        game->batches.emplace_back(game->keys.size(), batch.sent);
                        game->keys += batch.keys;
                        game->row.last = batch.sent;
                    }
                    game->row.keys = static_cast<long long>(game->keys.size());
                    committed = game->keys.size();
                    release(*self->live_, *game);
                    want_seed(self->live_, game);
                }
                self->send_here(JSON{{"keys", committed}});
                if (!self->pending_.empty())
                    self->commit();
                else if (self->pending_.empty() && self->end_asked_)
                    self->finish_game();
            });
    }

    void finish_game() {
        if (ending_) return;
        ending_ = true;
        REQUEST request = request_;
        request.method = "POST";
        request.target = "/api/runs";
        request.key.reset();  // the end's key and signature are checked below, not as a submission's
        request.signature.reset();
        std::string signer, id;
        {
            std::lock_guard lock(live_->mutex);
            const RUN run = run_of(*game_, game_->keys.size());
            request.body = write_run_link(run);
            signer = game_->row.signer;
            id = run_id(run);
        }
        // A game begun signed ends signed by the same key, over every key it holds; any end that
        // says it is signed must verify. An end that does not is refused, and the game is left as
        // its player left it: kept after a while as its start's key's run, or unsigned, so no end
        // can make a game vanish (and with it, on the day's seed, the name's one attempt).
        if (!signer.empty() || end_key_ || end_signature_) {
            RUN_SIGNATURE end;
            std::string error;
            const bool verified = end_key_ && end_signature_ &&
                                  read_run_signature(*end_key_, *end_signature_, end, error) &&
                                  signature_verifies(end, id);
            if (!verified || (!signer.empty() && end.key != signer)) {
                const std::string sentence =
                    signer.empty()
                        ? "This game's end does not verify: it must sign \"marrowdeep-run-1 \" and the "
                          "run's id with the key sent, or be unsigned."
                        : "This game's start was signed: its end must be signed by the same key, over "
                          "the id of every key it holds.";
                send_here(JSON{{"error", sentence}});
                return close(LIVE_FORBIDDEN, sentence);
            }
            // Checked here, once: the run is kept as its key's, as a game its player left is.
            request.live_signer = end.key;
        }
        keep_run(live_, game_, std::move(request), [self = self()](ANSWER answer) {
            net::post(self->ws_.get_executor(), [self, answer = std::move(answer)] {
                JSON body = JSON::parse(answer.body, nullptr, false);
                if (answer.status == 200 || answer.status == 201) {
                    self->send_here(JSON{{"record", body}});
                    return self->close(LIVE_ENDED, "The game has ended.");
                }
                self->send_here(
                    JSON{{"error", body.is_object() && body.contains("error") ? body["error"] : JSON()}});
                if (answer.status < 500) return self->close(LIVE_ENDED, "The game has ended.");
                // The hall could not keep it now: the player may ask again.
                self->ending_ = self->end_asked_ = false;
            });
        });
    }

    // Runs `work` on the store's queue, then `then` on this socket's strand with "" or the
    // sentence and close code of what went wrong: what `work` refused (its sentence, closed with
    // LIVE_FORBIDDEN), or what it threw.
    void store_job(std::function<std::string()> work, std::function<void(std::string, unsigned short)> then) {
        auto guard = std::make_shared<net::executor_work_guard<net::io_context::executor_type>>(
            live_->network.get_executor());
        auto executor = ws_.get_executor();
        auto job = [work = std::move(work), then, executor, guard] {
            std::string trouble;
            unsigned short code = 0;
            try {
                trouble = work();
                if (!trouble.empty()) code = LIVE_FORBIDDEN;
            } catch (const STORE_DOWN &down) {
                trouble = down.what();
                code = LIVE_DATABASE_DOWN;
            } catch (const std::exception &error) {
                std::fprintf(stderr, "marrowdeep-hall: failed to keep live keys: %s\n", error.what());
                trouble = "The hall failed to keep the keys; resume the game.";
                code = LIVE_FAILED;
            }
            net::post(executor, [then, trouble, code] { then(trouble, code); });
        };
        if (!live_->settings.post(QUEUE::store, job))
            then("The hall is busy; resume the game in a moment.", LIVE_DATABASE_DOWN);
    }

    std::shared_ptr<LIVE_GAME> game_;
    std::vector<LIVE_BATCH> pending_;
    std::size_t held_ = 0;  // the keys committed and waiting
    bool started_ = false, committing_ = false, end_asked_ = false, ending_ = false;
    std::optional<std::string> end_key_, end_signature_;  // sent with the end, when signed
    double allowance_ = MOST_KEYS_AT_ONCE;
    steady::time_point filled_{};
};

namespace {
void release(LIVE_STATE &live, LIVE_GAME &game) {
    std::size_t to = game.keys.size();
    if (delayed(live, game)) {
        const long long due = live.hall.now_ms() - LIVE_DELAY_SECONDS * 1000;
        to = game.released;
        for (std::size_t i = 0; i < game.batches.size() && game.batches[i].second <= due; ++i)
            to = i + 1 < game.batches.size() ? game.batches[i + 1].first : game.keys.size();
        to = std::max(to, game.released);
    }
    if (to > game.released) {
        auto keys = std::make_shared<const std::string>(game.keys.substr(game.released, to - game.released));
        game.released = to;
        for (const auto &weak : game.watchers)
            if (auto watcher = weak.lock()) watcher->send(keys, true);
    }
    if (game.ended && !game.end_sent && game.released == game.keys.size()) {
        game.end_sent = true;
        auto end = std::make_shared<const std::string>(game.end_message);
        for (const auto &weak : game.watchers)
            if (auto watcher = weak.lock()) {
                watcher->send(end, false);
                watcher->close_from_anywhere(LIVE_ENDED, "The game has ended.", false);
            }
        const std::string id = game.row.id;
        live.games.erase(id);  // the last use of the game here: its caller holds it
    }
}

void keep_run(const std::shared_ptr<LIVE_STATE> &live, const std::shared_ptr<LIVE_GAME> &game,
              REQUEST request, std::function<void(ANSWER)> done) {
    auto guard = std::make_shared<net::executor_work_guard<net::io_context::executor_type>>(
        live->network.get_executor());
    auto submission = std::make_shared<SUBMISSION>();
    // The end: the run kept, then the live game forgotten, and its watchers told.
    {
        std::lock_guard lock(live->mutex);
        game->ending_here = true;
    }
    auto finished = [live, game, done, guard](ANSWER answer) {
        if (answer.status < 500) {
            const bool kept = answer.status == 200 || answer.status == 201;
            std::string notice;
            {
                std::lock_guard lock(live->mutex);
                JSON body = kept ? JSON::parse(answer.body, nullptr, false) : JSON();
                const std::string run = body.is_object() && body.contains("id") && body["id"].is_string()
                                            ? body["id"].get<std::string>()
                                            : "";
                notice =
                    notice_of(*live, game->row.id, game->keys.size(), kept && !game->ended ? 'e' : 's', run);
            }
            guarded_step("to end a live game", [&]() -> std::optional<ANSWER> {
                live->hall.store->live_end(game->row.id, notice);
                return std::nullopt;
            });
            std::lock_guard lock(live->mutex);
            if (!game->ended) {
                JSON body = JSON::parse(answer.body, nullptr, false);
                game->end_message = (answer.status == 200 || answer.status == 201 ? JSON{{"end", body}}
                                                                                  : JSON{{"stopped", true}})
                                        .dump(-1, ' ', false, JSON::error_handler_t::replace);
                game->ended = true;
            }
            release(*live, *game);
        }
        done(std::move(answer));
    };
    auto kept = [live, submission, finished] {
        finished(*guarded_step("to keep a live game", [&]() -> std::optional<ANSWER> {
            return keep_submission(live->hall, *submission);
        }));
    };
    // The game's first keys, those it was begun with: played live from its first key when they
    // had not yet brought the game to its maze (the page begins a game's stream before its
    // hero's way of fighting is chosen; one begun later was played unseen up to there).
    RUN first;
    long long started = -1;
    {
        std::lock_guard lock(live->mutex);
        const std::size_t first_keys = game->batches.size() > 1 ? game->batches[1].first : game->keys.size();
        first = run_of(*game, first_keys);
        started = game->row.started;
    }
    auto proven = [live, submission, kept, finished, first, started] {
        prove_submission(live->hall, *submission);
        if (!submission->answered && begun_before_its_maze(first)) submission->kept.live = started;
        if (!live->settings.post(QUEUE::store, kept)) finished(busy_answer());
    };
    auto read = [live, submission, request, proven, finished] {
        std::optional<ANSWER> failed = guarded_step("to read a live game", [&]() -> std::optional<ANSWER> {
            *submission = read_submission(live->hall, request);
            return std::nullopt;
        });
        if (failed) return finished(std::move(*failed));
        if (submission->answered) return finished(submission->answer);
        if (!live->settings.post(QUEUE::proof, proven)) finished(busy_answer());
    };
    if (!live->settings.post(QUEUE::store, read)) finished(busy_answer());
}

void want_seed(const std::shared_ptr<LIVE_STATE> &live, const std::shared_ptr<LIVE_GAME> &game) {
    if (game->seed_known || game->seed_proving || game->ended) return;
    game->seed_proving = true;
    RUN run = run_of(*game, game->keys.size());
    bool posted = live->settings.post(QUEUE::proof, [live, game, run] {
        PROOF proof;
        try {
            proof = prove(run);
        } catch (const std::exception &) {
        }
        std::lock_guard lock(live->mutex);
        game->seed_proving = false;
        // The game plants its seed once the hero's way of fighting is chosen, and then draws its
        // maze: more draws than its start-up alone makes.
        if (proof.ok && proof.draws > start_up_draws()) {
            game->seed_known = true;
            game->seed = proof.record.seed;
            game->clock = proof.record.clock;
            release(*live, *game);
        } else if (game->keys.size() > run.keys.size()) {
            want_seed(live, game);
        }
    });
    if (!posted) game->seed_proving = false;
}

// Every moment: the day's keys that are due go to the watchers, and a game whose player has
// been gone too long is kept as an unfinished run.
void tick(const std::shared_ptr<LIVE_STATE> &live) {
    std::vector<std::pair<std::shared_ptr<LIVE_GAME>, std::string>> gone;  // and their links
    {
        std::lock_guard lock(live->mutex);
        if (live->stopping) return;
        const steady::time_point now = steady::now();
        std::vector<std::shared_ptr<LIVE_GAME>> games;
        for (const auto &[id, game] : live->games) games.push_back(game);
        for (const auto &game : games) {
            if (game->starting) continue;
            if (!game->ended && game->player.expired() && now - game->gone_since >= live->gone_after()) {
                game->ended = true;
                game->end_message = R"({"stopped":true})";
                gone.emplace_back(game, write_run_link(run_of(*game, game->keys.size())));
                continue;
            }
            release(*live, *game);
        }
    }
    for (auto &entry : gone) {
        std::shared_ptr<LIVE_GAME> game = entry.first;
        REQUEST request;
        request.method = "POST";
        request.target = "/api/runs";
        request.address = game->row.address;
        request.body = std::move(entry.second);
        request.live_signer = game->row.signer;
        keep_run(live, game, std::move(request), [live, game](ANSWER answer) {
            std::lock_guard lock(live->mutex);
            if (answer.status >= 500) {
                std::fprintf(stderr, "marrowdeep-hall: a live game left by its player was not kept: %s\n",
                             answer.body.c_str());
                stop_at_released(*game);  // the watchers are told it stopped now
            }
            release(*live, *game);
        });
    }
    live->tick.expires_after(live->tick_every());
    live->tick.async_wait([live](beast::error_code ec) {
        if (!ec) tick(live);
    });
}

// The halls that share a PostgreSQL database hear each other's notices: each reads the games
// played in the others, and their keys, from the tables, and relays them to its own watchers.

// Brings a game up to date from the tables: its row when the hall does not hold it yet (`row`,
// or read), then the keys after those held, given to the watchers. A player of it in this hall
// is closed when another hall has gone on with the game. Mutex not held.
void catch_up(const std::shared_ptr<LIVE_STATE> &live, const std::string &id, const LIVE_GAME_ROW *row) {
    bool held = false;
    std::size_t have = 0;
    {
        std::lock_guard lock(live->mutex);
        auto found = live->games.find(id);
        if (found != live->games.end()) {
            if (found->second->ended || found->second->starting) return;
            held = true;
            have = found->second->keys.size();
        }
    }
    std::optional<LIVE_GAME_ROW> read;
    if (!held && !row) {
        for (LIVE_GAME_ROW &game : live->hall.store->live_games())
            if (game.id == id) read = std::move(game);
        if (!read) return;  // ended already
        row = &*read;
    }
    std::vector<LIVE_BATCH> batches = live->hall.store->live_keys(id, static_cast<long long>(have));
    std::lock_guard lock(live->mutex);
    auto found = live->games.find(id);
    if (found == live->games.end()) {
        if (held) return;  // it ended meanwhile
        auto game = std::make_shared<LIVE_GAME>();
        game->row = *row;
        game->row.keys = 0;
        game->starting = false;
        found = live->games.emplace(id, std::move(game)).first;
    }
    std::shared_ptr<LIVE_GAME> game = found->second;
    if (game->ended || game->starting) return;
    const std::size_t before = game->keys.size();
    for (LIVE_BATCH &batch : batches) {
        if (static_cast<std::size_t>(batch.at) != game->keys.size()) continue;
        game->batches.emplace_back(game->keys.size(), batch.sent);
        game->keys += batch.keys;
        game->row.last = batch.sent;
    }
    game->row.keys = static_cast<long long>(game->keys.size());
    game->gone_since = steady::now();  // its player was heard of
    if (game->keys.size() > before)
        if (auto player = game->player.lock()) {
            game->player.reset();
            player->close_from_anywhere(LIVE_RESUMED_ELSEWHERE, "This game was resumed on another page.",
                                        true);
        }
    release(*live, *game);
    want_seed(live, game);
}

// A game ended in another hall: its watchers here get the keys they lack (from the run kept,
// whose link holds them all) and its end. Mutex not held.
void ended_elsewhere(const std::shared_ptr<LIVE_STATE> &live, const std::string &id, bool record,
                     const std::string &run) {
    {
        std::lock_guard lock(live->mutex);
        auto found = live->games.find(id);
        if (found == live->games.end() || found->second->ended) return;
    }
    KEPT_RUN kept;
    const bool found_run = run != "-" && live->hall.store->find(run, kept);
    RUN_READING reading = found_run ? read_run_link(kept.link) : RUN_READING{};
    std::lock_guard lock(live->mutex);
    auto found = live->games.find(id);
    if (found == live->games.end() || found->second->ended) return;
    std::shared_ptr<LIVE_GAME> game = found->second;
    if (reading.ok && reading.run.keys.size() > game->keys.size() &&
        reading.run.keys.compare(0, game->keys.size(), game->keys) == 0) {
        game->batches.emplace_back(game->keys.size(), live->hall.now_ms());
        game->keys = reading.run.keys;
        game->row.keys = static_cast<long long>(game->keys.size());
    }
    game->end_message =
        (record && found_run ? JSON{{"end", JSON::parse(record_text(kept))}} : JSON{{"stopped", true}})
            .dump(-1, ' ', false, JSON::error_handler_t::replace);
    game->ended = true;
    if (auto player = game->player.lock()) {
        game->player.reset();
        player->close_from_anywhere(LIVE_RESUMED_ELSEWHERE, "This game was resumed on another page.", true);
    }
    release(*live, *game);
}

// A notice from another hall.
void heard(const std::shared_ptr<LIVE_STATE> &live, const std::string &notice) {
    std::istringstream words(notice);
    std::string tag, id, run;
    std::size_t keys = 0;
    char kind = 0;
    if (!(words >> tag >> id >> keys >> kind) || tag == live->tag || live->stopping) return;
    if (kind == 'h') {
        std::lock_guard lock(live->mutex);
        auto found = live->games.find(id);
        if (found != live->games.end()) {
            found->second->gone_since = steady::now();
            return;
        }
    }
    if (kind == 'k' || kind == 'h') return catch_up(live, id, nullptr);
    if ((kind == 'e' || kind == 's') && words >> run) ended_elsewhere(live, id, kind == 'e', run);
}

// Once the hall listens (again): every game in the tables read, and the keys held back while it
// did not listen given; a game that left the tables meanwhile ended elsewhere, its end unknown
// here: its watchers are told it stopped.
void read_again(const std::shared_ptr<LIVE_STATE> &live) {
    std::set<std::string> listed;
    for (const LIVE_GAME_ROW &row : live->hall.store->live_games()) {
        listed.insert(row.id);
        {
            std::lock_guard lock(live->mutex);
            auto found = live->games.find(row.id);
            if (found != live->games.end() && !found->second->player.expired()) continue;  // played here
        }
        catch_up(live, row.id, &row);
    }
    std::lock_guard lock(live->mutex);
    std::vector<std::shared_ptr<LIVE_GAME>> gone;
    for (const auto &[id, game] : live->games)
        if (!listed.count(id) && !game->starting && !game->ended && !game->ending_here &&
            game->player.expired())
            gone.push_back(game);
    for (const auto &game : gone) {
        game->ended = true;
        game->end_message = R"({"stopped":true})";
        release(*live, *game);
    }
}

// The games played in this hall now, for the others.
std::vector<std::string> beat(const std::shared_ptr<LIVE_STATE> &live) {
    std::vector<std::string> notices;
    std::lock_guard lock(live->mutex);
    for (const auto &[id, game] : live->games)
        if (!game->starting && !game->ended && !game->player.expired())
            notices.push_back(notice_of(*live, id, game->keys.size(), 'h'));
    return notices;
}
}  // namespace

LIVE::LIVE(HALL &hall, net::io_context &network, LIVE_SETTINGS settings)
    : state_(std::make_shared<LIVE_STATE>(hall, network, std::move(settings))) {
    state_->tag = random_hex(8);
    for (LIVE_GAME_ROW &row : hall.store->live_games()) {
        auto game = std::make_shared<LIVE_GAME>();
        for (LIVE_BATCH &batch : hall.store->live_keys(row.id)) {
            game->batches.emplace_back(game->keys.size(), batch.sent);
            game->keys += batch.keys;
        }
        game->row = std::move(row);
        game->row.keys = static_cast<long long>(game->keys.size());
        game->starting = false;
        std::lock_guard lock(state_->mutex);
        want_seed(state_, game);
        state_->games[game->row.id] = std::move(game);
    }
    net::post(state_->ticking, [live = state_] { tick(live); });
    // Other halls on the same database: their games are heard of, and read from the tables.
    if (std::string uri = hall.store->notices_uri(); !uri.empty())
        notices_ = std::make_unique<LIVE_NOTICES>(
            uri,
            LIVE_NOTICE_HANDLERS{[live = state_] { read_again(live); },
                                 [live = state_](const std::string &notice) { heard(live, notice); },
                                 [live = state_] { return beat(live); }},
            state_->beat_every());
}

LIVE::~LIVE() {
    stop();
    notices_.reset();
}

void LIVE::stop() {
    std::vector<std::shared_ptr<LIVE_SOCKET_SESSION>> open;
    {
        std::lock_guard lock(state_->sockets_mutex);
        if (notices_) notices_->stop();
        if (state_->stopping.exchange(true)) return;
        for (const auto &weak : state_->sockets)
            if (auto socket = weak.lock()) open.push_back(socket);
    }
    net::post(state_->ticking, [live = state_] {
        beast::error_code ec;
        live->tick.cancel(ec);
    });
    for (auto &socket : open)
        socket->close_from_anywhere(LIVE_HALL_STOPPING, "The hall is stopping; come back in a moment.", true);
}

void LIVE::take(LIVE_SOCKET kind, beast::tcp_stream stream, http::request<http::string_body> upgrade,
                const REQUEST &request, const std::string &parameter, std::shared_ptr<void> keep) {
    std::shared_ptr<LIVE_SOCKET_SESSION> session;
    if (kind == LIVE_SOCKET::watch) {
        // The system's buffer for a watcher's socket is kept small, so one that stops reading
        // holds little more than its limit: the bytes queued here, then closed.
        beast::error_code ec;
        stream.socket().set_option(net::socket_base::send_buffer_size(WATCHER_SEND_BUFFER), ec);
    }
    if (kind == LIVE_SOCKET::play)
        session = std::make_shared<LIVE_PLAYER>(state_, std::move(stream), request, std::move(keep));
    else
        session =
            std::make_shared<LIVE_WATCHER>(state_, std::move(stream), request, std::move(keep), parameter);
    session->start(std::move(upgrade));
}

ANSWER live_games_answer(HALL &hall) {
    JSON games = JSON::array();
    if (hall.live) {
        LIVE_STATE &live = hall.live->state();
        std::lock_guard lock(live.mutex);
        std::vector<const LIVE_GAME *> listed;
        for (const auto &[id, game] : live.games)
            if (!game->starting && !game->ended) listed.push_back(game.get());
        std::sort(listed.begin(), listed.end(), [](const LIVE_GAME *a, const LIVE_GAME *b) {
            return a->row.started != b->row.started ? a->row.started > b->row.started : a->row.id < b->row.id;
        });
        for (const LIVE_GAME *game : listed) games.push_back(listing_of(live, *game));
    }
    ANSWER answer;
    answer.body = JSON{{"games", games}}.dump(-1, ' ', false, JSON::error_handler_t::replace);
    return answer;
}
