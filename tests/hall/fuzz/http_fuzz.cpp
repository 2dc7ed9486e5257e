// libFuzzer's target over the hall's whole HTTP path: each input is the bytes a client sends on
// one connection, answered by answer_connection() as the server answers them (the parser and its
// limits, the routes, the proof and the SQLite store), under AddressSanitizer and
// UndefinedBehaviorSanitizer. Besides any crash or sanitizer report, the answers themselves are
// held to what every connection's bytes must be; a fault is reported with abort(), so libFuzzer
// keeps the input.
//
// One hall serves every input of a process: a SQLite file in a folder made once, the clock held
// still, and a site folder, so the site's files and the checks that keep a path inside the folder
// are fuzzed too. Runs kept by one input stay for the next, as in a real hall.
#include <stdint.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "hall/api.h"
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
}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzzed = new FUZZED_HALL;
    std::atexit([] { delete fuzzed; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // Each input starts with the addresses' limits full, so its answers do not depend on the
    // inputs before it.
    {
        std::lock_guard lock(fuzzed->hall.rate.mutex);
        fuzzed->hall.rate.buckets.clear();
    }
    std::string out = answer_connection(fuzzed->hall, fuzzed->settings,
                                        std::string_view(reinterpret_cast<const char *>(data), size));
    if (out.find(OUTSIDE_MARK) != std::string::npos) fault("a file outside the site was served");
    check_answers(out);
    return 0;
}
