#include "terminal/tmux_pane.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

int run_command(const std::vector<std::string> &argv, std::string *output, double seconds) {
    int out[2] = {-1, -1};
    if (output && pipe(out) != 0) return -1;
    const pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, STDIN_FILENO);
        dup2(output ? out[1] : null, STDOUT_FILENO);
        dup2(output ? out[1] : null, STDERR_FILENO);
        if (output) {
            close(out[0]);
            close(out[1]);
        }
        close(null);
        unsetenv("TMUX");  // the tests may themselves run inside tmux
        std::vector<char *> args;
        for (const auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
    auto left_ms = [&] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    };
    bool timed_out = false;
    if (output) {
        close(out[1]);
        char buffer[8192];
        for (;;) {
            const long long left = left_ms();
            if (left <= 0) {
                timed_out = true;
                break;
            }
            pollfd fd{out[0], POLLIN, 0};
            if (poll(&fd, 1, static_cast<int>(left)) <= 0) continue;
            const ssize_t got = read(out[0], buffer, sizeof buffer);
            if (got <= 0) break;
            output->append(buffer, static_cast<size_t>(got));
        }
        close(out[0]);
    }
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (timed_out || left_ms() <= 0) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string shell_quote(const std::string &word) {
    std::string quoted = "'";
    for (char c : word) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

size_t count_of(const std::string &haystack, const std::string &needle) {
    size_t n = 0;
    for (size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1)) ++n;
    return n;
}

std::vector<std::string> split_lines(const std::string &text) {
    std::vector<std::string> lines;
    size_t begin = 0;
    while (begin <= text.size()) {
        const size_t end = text.find('\n', begin);
        if (end == std::string::npos) {
            if (begin < text.size()) lines.push_back(text.substr(begin));
            break;
        }
        lines.push_back(text.substr(begin, end - begin));
        begin = end + 1;
    }
    return lines;
}

std::string rtrim(const std::string &text) {
    const size_t end = text.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

namespace {
std::atomic<int> servers{0};
}

TmuxPane::TmuxPane(int width, int height)
    : socket_("marrowdeep-test-" + std::to_string(getpid()) + "-" + std::to_string(servers++)),
      width_(width),
      height_(height) {}

TmuxPane::~TmuxPane() {
    if (started_) run_command({"tmux", "-L", socket_, "kill-server"}, nullptr, 10.0);
    if (!record_file_.empty()) std::remove(record_file_.c_str());
}

std::vector<std::string> TmuxPane::tmux(std::vector<std::string> args) const {
    std::vector<std::string> argv = {"tmux", "-f", "/dev/null", "-L", socket_};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string out;
    run_command(argv, &out, 10.0);
    return split_lines(out);
}

bool TmuxPane::start(const std::string &command) {
    // Room for everything a game prints when its clears are only marks.
    const int status = run_command({"tmux",        "-f",
                                    "/dev/null",   "-L",
                                    socket_,       "start-server",
                                    ";",           "set-option",
                                    "-g",          "history-limit",
                                    "100000",      ";",
                                    "new-session", "-d",
                                    "-s",          "game",
                                    "-x",          std::to_string(width_),
                                    "-y",          std::to_string(height_),
                                    command},
                                   nullptr, 20.0);
    started_ = true;  // whatever tmux said, a server may be running: the destructor ends it
    return status == 0;
}

void TmuxPane::type(const std::string &text) { tmux({"send-keys", "-t", "game", "-l", "--", text}); }

void TmuxPane::press(const std::string &key) { tmux({"send-keys", "-t", "game", key}); }

std::vector<std::string> TmuxPane::rows(bool escapes) const {
    std::vector<std::string> args = {"capture-pane", "-p", "-t", "game"};
    if (escapes) args.push_back("-e");
    return tmux(args);
}

std::string TmuxPane::screen(bool escapes) const {
    std::string joined;
    for (const auto &row : rows(escapes)) joined += row + "\n";
    return joined;
}

std::string TmuxPane::history() const {
    std::string joined;
    for (const auto &row : tmux({"capture-pane", "-p", "-t", "game", "-S", "-"})) joined += row + "\n";
    return joined;
}

bool TmuxPane::wait_until(const std::function<bool(const std::string &)> &done, double seconds) {
    const auto start = Clock::now();
    for (;;) {
        seen_ = screen();
        if (done(seen_)) return true;
        if (seconds_since(start) > seconds) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
}

bool TmuxPane::wait_for(const std::string &text, double seconds) {
    return wait_until([&](const std::string &s) { return s.find(text) != std::string::npos; }, seconds);
}

bool TmuxPane::wait_while(const std::string &text, double seconds) {
    return wait_until([&](const std::string &s) { return s.find(text) == std::string::npos; }, seconds);
}

bool TmuxPane::wait_for_count(const std::string &text, size_t times, double seconds) {
    const auto start = Clock::now();
    for (;;) {
        if (count_of(history(), text) > times) return true;
        if (seconds_since(start) > seconds) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
}

bool TmuxPane::record_output() {
    record_file_ = "/tmp/" + socket_ + ".out";
    std::ofstream(record_file_).close();
    const std::string status = "[recording]";
    auto out = tmux({"pipe-pane", "-t", "game", "-o", "cat >> " + shell_quote(record_file_), ";",
                     "display-message", "-p", status});
    return !out.empty() && out.back() == status;
}

std::string TmuxPane::recorded() const {
    std::ifstream in(record_file_, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string TmuxPane::pane_tty() const {
    auto out = tmux({"display-message", "-p", "-t", "game", "#{pane_tty}"});
    return out.empty() ? std::string() : out[0];
}

pid_t TmuxPane::pane_pid() const {
    auto out = tmux({"display-message", "-p", "-t", "game", "#{pane_pid}"});
    return out.empty() ? 0 : static_cast<pid_t>(std::atoi(out[0].c_str()));
}
