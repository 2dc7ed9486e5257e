// marrowdeep-hall: the options, the database, the hall's secret, then the server until a signal.
#include <sys/resource.h>

#include <algorithm>
#include <boost/asio/ip/address.hpp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "hall/names.h"
#include "hall/reprove.h"
#include "hall/server.h"

namespace {
const char *const help =
    "Usage: marrowdeep-hall [--listen HOST:PORT] [--db URL] [--site DIR] [--rate N]\n"
    "                       [--connections N] [--proofs N] [--origin URL]\n"
    "                       [--trust-proxy ADDRESS]\n"
    "       marrowdeep-hall release-name NAME [--db URL]\n"
    "       marrowdeep-hall reprove [--db URL] [--proofs N]\n"
    "       marrowdeep-hall --help | --version\n"
    "\n"
    "The hall of Marrowdeep: it takes runs as the web page's links carry them, plays\n"
    "their keys again with the game itself, keeps them, and serves the boards and a\n"
    "seed for every day, over HTTP.\n"
    "\n"
    "Options:\n"
    "  --listen HOST:PORT  where to listen (default 127.0.0.1:8080; [::1]:PORT for\n"
    "                      IPv6; port 0: one the system chooses). The address taken\n"
    "                      is written to standard error.\n"
    "  --db URL            where to keep the runs: sqlite:PATH (default\n"
    "                      sqlite:marrowdeep-hall.db, in the current folder) or a\n"
    "                      PostgreSQL URI, postgresql://USER@HOST:PORT/DATABASE\n"
    "  --site DIR          also serve the files of DIR, the unpacked web zip\n"
    "  --rate N            the runs one address may send a minute (default 30;\n"
    "                      0: no limit)\n"
    "  --connections N     the most connections open at once (default 1000); past\n"
    "                      it, new ones wait until some close\n"
    "  --proofs N          the runs played again at once, each on a thread of its\n"
    "                      own (1 to 256; default: one for each core)\n"
    "  --origin URL        a public origin the hall is served under, behind a\n"
    "                      proxy (https://halls.example): pages from it may send\n"
    "                      runs; pages of other sites may not (again for more)\n"
    "  --trust-proxy ADDRESS  the proxy in front of the hall (127.0.0.1): for its\n"
    "                      requests, the client's address is the last one in\n"
    "                      X-Forwarded-For\n"
    "  --help              show this help and exit\n"
    "  --version           show the version and exit\n"
    "\n"
    "A signed run claims its hero's name for the key that signed it, and the hall\n"
    "then keeps runs under that name only when that key signs them.\n"
    "release-name NAME frees the name in the database of --db (the same default),\n"
    "so the next signed run under it claims it again; it exits 1 when no key held\n"
    "the name. NAME is compared as its exact bytes.\n"
    "\n"
    "reprove plays every run in the database of --db again with this build, on\n"
    "--proofs threads (default: one for each core), and writes a line for each\n"
    "record that differs from the one kept (ID: what differs; a run that no longer\n"
    "proves differs too), then how many runs it proved. It exits 1 when any record\n"
    "differs, 0 when none does, and 2 when it cannot read the database.\n"
    "\n"
    "SIGTERM or SIGINT stops it: the requests in flight are answered first.\n"
    "Each request is logged on standard error: time, address, method, path,\n"
    "status, bytes and milliseconds.\n"
    "\n"
    "For tests only, in the environment:\n"
    "  MARROWDEEP_HALL_TEST_TIMEOUTS=MS    each read and write's deadline (15000)\n"
    "  MARROWDEEP_HALL_TEST_WATCHER_BEHIND=BYTES  how far a live game's watcher may\n"
    "                      fall behind before it is closed (262144)\n"
    "  MARROWDEEP_HALL_TEST_CLOCK=SECONDS  the hall's clock, held at that second\n"
    "  MARROWDEEP_HALL_TEST_CLOCK_FILE=PATH  the hall's clock, the second PATH holds,\n"
    "                      read again each time (a test moves it by writing the file)\n";

bool whole(const char *text, long long &number) {
    char *end = nullptr;
    errno = 0;
    number = std::strtoll(text, &end, 10);
    return *text && *end == '\0' && errno == 0;
}

int usage_error(const std::string &sentence) {
    std::fprintf(stderr, "marrowdeep-hall: %s\nTry marrowdeep-hall --help.\n", sentence.c_str());
    return 2;
}

long long held_clock_ms = -1;
const char *clock_file = nullptr;

// The second a test's clock file holds; the held clock (or -1) when it cannot be read.
long long clock_file_ms() {
    std::FILE *file = std::fopen(clock_file, "r");
    if (!file) return held_clock_ms;
    char text[32] = {};
    std::size_t got = std::fread(text, 1, sizeof text - 1, file);
    std::fclose(file);
    while (got > 0 && (text[got - 1] == '\n' || text[got - 1] == ' ')) text[--got] = '\0';
    long long seconds = 0;
    return whole(text, seconds) ? seconds * 1000 : held_clock_ms;
}

// Each connection holds a descriptor, and the database, the log and the listening socket a few
// more: the soft limit is raised as far as the hard one allows for the connections asked, and the
// keeper is told when that is not enough (past it, the hall pauses accepting rather than failing).
void fit_descriptors(std::size_t connections) {
    const rlim_t wanted = static_cast<rlim_t>(connections) + 64;
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < wanted) {
        limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? wanted : std::min(wanted, limit.rlim_max);
        setrlimit(RLIMIT_NOFILE, &limit);
        getrlimit(RLIMIT_NOFILE, &limit);
    }
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < wanted)
        std::fprintf(stderr,
                     "marrowdeep-hall: only %llu descriptors may be open, fewer than %zu connections need\n",
                     static_cast<unsigned long long>(limit.rlim_cur), connections);
}
// marrowdeep-hall release-name NAME [--db URL]: the name's claim deleted from the database.
int release_name(int argc, char **argv) {
    std::string db = "sqlite:marrowdeep-hall.db";
    std::string name;
    bool named = false;
    for (int i = 2; i < argc; ++i) {
        std::string word = argv[i];
        if (word == "--db") {
            if (i + 1 >= argc) return usage_error("--db needs a value.");
            db = argv[++i];
        } else if (!named && !(word.size() > 2 && word.rfind("--", 0) == 0)) {
            name = word;
            named = true;
        } else {
            return usage_error("release-name takes a name and --db URL alone.");
        }
    }
    if (!named) return usage_error("release-name needs the name to release.");
    try {
        std::unique_ptr<STORE> store = open_store(db, 1);
        if (!store->release_name(name)) {
            std::fprintf(stderr, "marrowdeep-hall: no key holds the name %s\n", visible_name(name).c_str());
            return 1;
        }
    } catch (const std::exception &error) {
        std::fprintf(stderr, "marrowdeep-hall: %s\n", error.what());
        return 1;
    }
    std::printf("marrowdeep-hall: released the name %s\n", visible_name(name).c_str());
    return 0;
}

// marrowdeep-hall reprove [--db URL] [--proofs N]: every run kept proved again with this build.
int reprove(int argc, char **argv) {
    std::string db = "sqlite:marrowdeep-hall.db";
    int threads = default_proof_threads();
    for (int i = 2; i < argc; ++i) {
        std::string word = argv[i];
        if (word != "--db" && word != "--proofs")
            return usage_error("reprove takes --db URL and --proofs N alone.");
        if (i + 1 >= argc) return usage_error(word + " needs a value.");
        std::string value = argv[++i];
        if (word == "--db") {
            db = value;
        } else {
            long long number = 0;
            if (!whole(value.c_str(), number) || number < 1 || number > MOST_PROOF_THREADS)
                return usage_error("--proofs needs a whole number from 1 to " +
                                   std::to_string(MOST_PROOF_THREADS) + ".");
            threads = static_cast<int>(number);
        }
    }
    // A path mistyped would otherwise be a new database, empty, and nothing would differ.
    if (db.rfind("sqlite:", 0) == 0 && !std::filesystem::exists(db.substr(7))) {
        std::fprintf(stderr, "marrowdeep-hall: there is no database at %s\n", db.substr(7).c_str());
        return 2;
    }
    REPROOF_COUNT count;
    try {
        std::unique_ptr<STORE> store = open_store(db, 1);
        count = reprove_all(*store, threads, [](const std::string &line) {
            std::printf("%s\n", line.c_str());
            std::fflush(stdout);
        });
    } catch (const std::exception &error) {
        std::fprintf(stderr, "marrowdeep-hall: %s\n", error.what());
        return 2;
    }
    std::printf("marrowdeep-hall: reproved %lld runs: %lld differ\n", count.runs, count.differing);
    return count.differing > 0 ? 1 : 0;
}
}  // namespace

int main(int argc, char **argv) {
    if (argc >= 2 && std::strcmp(argv[1], "release-name") == 0) return release_name(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "reprove") == 0) return reprove(argc, argv);
    SERVER_SETTINGS settings;
    std::string db = "sqlite:marrowdeep-hall.db";
    std::string site;
    std::vector<std::string> origins;
    long long rate = 30;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "--help") {
            std::fputs(help, stdout);
            return 0;
        }
        if (option == "--version") {
            std::fputs("marrowdeep-hall " MARROWDEEP_VERSION "\n", stdout);
            return 0;
        }
        if (option != "--listen" && option != "--db" && option != "--site" && option != "--rate" &&
            option != "--connections" && option != "--proofs" && option != "--origin" &&
            option != "--trust-proxy")
            return usage_error("unknown option " + option + ".");
        if (i + 1 >= argc) return usage_error(option + " needs a value.");
        std::string value = argv[++i];
        if (option == "--listen") {
            std::size_t colon = value.rfind(':');
            if (colon == std::string::npos || colon + 1 == value.size())
                return usage_error("--listen needs HOST:PORT.");
            settings.host = value.substr(0, colon);
            settings.port = value.substr(colon + 1);
            if (settings.host.size() >= 2 && settings.host.front() == '[' && settings.host.back() == ']')
                settings.host = settings.host.substr(1, settings.host.size() - 2);
        } else if (option == "--db") {
            db = value;
        } else if (option == "--site") {
            site = value;
        } else if (option == "--connections") {
            long long number = 0;
            if (!whole(value.c_str(), number) || number < 1 || number > 1000000)
                return usage_error("--connections needs a whole number from 1 to 1000000.");
            settings.connections = static_cast<std::size_t>(number);
        } else if (option == "--proofs") {
            long long number = 0;
            if (!whole(value.c_str(), number) || number < 1 || number > MOST_PROOF_THREADS)
                return usage_error("--proofs needs a whole number from 1 to " +
                                   std::to_string(MOST_PROOF_THREADS) + ".");
            settings.proof_threads = static_cast<int>(number);
        } else if (option == "--origin") {
            while (!value.empty() && value.back() == '/') value.pop_back();
            if (value.rfind("http://", 0) != 0 && value.rfind("https://", 0) != 0)
                return usage_error("--origin needs a URL such as https://halls.example.");
            origins.push_back(value);
        } else if (option == "--trust-proxy") {
            boost::system::error_code ec;
            auto address = boost::asio::ip::make_address(value, ec);
            if (ec) return usage_error("--trust-proxy needs an IP address.");
            settings.trusted_proxy = address.to_string();
        } else {
            long long number = 0;
            if (!whole(value.c_str(), number) || number < 0)
                return usage_error("--rate needs a whole number.");
            rate = number;
        }
    }
    if (const char *timeouts = std::getenv("MARROWDEEP_HALL_TEST_TIMEOUTS")) {
        long long ms = 0;
        if (whole(timeouts, ms) && ms > 0) settings.io_timeout = std::chrono::milliseconds(ms);
    }
    if (const char *behind = std::getenv("MARROWDEEP_HALL_TEST_WATCHER_BEHIND")) {
        long long bytes = 0;
        if (whole(behind, bytes) && bytes > 0) settings.most_watcher_behind = static_cast<std::size_t>(bytes);
    }
    if (const char *clock = std::getenv("MARROWDEEP_HALL_TEST_CLOCK")) {
        long long seconds = 0;
        if (whole(clock, seconds)) held_clock_ms = seconds * 1000;
    }

    clock_file = std::getenv("MARROWDEEP_HALL_TEST_CLOCK_FILE");

    HALL hall;
    hall.rate.per_minute = rate;
    hall.rate.burst = rate;
    hall.site = site;
    hall.origins = origins;
    fit_descriptors(settings.connections);
    hall.now_ms = [] {
        if (clock_file) {
            long long ms = clock_file_ms();
            if (ms >= 0) return ms;
        }
        if (held_clock_ms >= 0) return held_clock_ms;
        using namespace std::chrono;
        return static_cast<long long>(
            duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
    };
    std::unique_ptr<STORE> store;
    try {
        store = open_store(db, settings.store_threads);
        hall.store = store.get();
        hall.secret = store->secret(fresh_secret());
    } catch (const std::exception &error) {
        std::fprintf(stderr, "marrowdeep-hall: %s\n", error.what());
        return 1;
    }
    int status = serve(hall, settings, [&](const std::string &where) {
        std::fprintf(stderr, "marrowdeep-hall: listening on http://%s/\n", where.c_str());
    });
    store.reset();
    if (status == 0) std::fputs("marrowdeep-hall: stopped\n", stderr);
    return status;
}
