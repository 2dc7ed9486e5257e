#include "tests/hall/hall_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/beast/http.hpp>
#include <cstring>
#include <stdexcept>

namespace http = boost::beast::http;

namespace {
std::vector<char *> pointers_of(std::vector<std::string> &texts) {
    std::vector<char *> pointers;
    for (std::string &text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

int milliseconds_until(std::chrono::steady_clock::time_point until) {
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now())
            .count();
    return left < 0 ? 0 : static_cast<int>(left);
}
}  // namespace

HALL_PROCESS::HALL_PROCESS(std::vector<std::string> arguments,
                           std::vector<std::pair<std::string, std::string>> environment) {
    int pipe_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    arguments.insert(arguments.begin(), MARROWDEEP_HALL_PROGRAM);
    auto argv = pointers_of(arguments);
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        dup2(pipe_fds[1], 2);
        for (const auto &[name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipe_fds[1]);
    reader_ = std::thread([this, fd = pipe_fds[0]] { read_errors(fd); });
    const std::string mark = "listening on http://127.0.0.1:";
    if (!wait_for_error(mark)) {
        signal(SIGKILL);
        throw std::runtime_error("marrowdeep-hall did not start: " + errors());
    }
    std::string text = errors();
    port_ = static_cast<unsigned short>(std::stoi(text.substr(text.find(mark) + mark.size())));
}

HALL_PROCESS::~HALL_PROCESS() {
    if (!reaped_) {
        kill(pid_, SIGKILL);
        int status;
        waitpid(pid_, &status, 0);
    }
    if (reader_.joinable()) reader_.join();
}

void HALL_PROCESS::read_errors(int fd) {
    char chunk[4096];
    for (;;) {
        ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        std::lock_guard lock(mutex_);
        if (got <= 0) {
            closed_ = true;
            changed_.notify_all();
            break;
        }
        errors_.append(chunk, static_cast<std::size_t>(got));
        changed_.notify_all();
    }
    close(fd);
}

std::string HALL_PROCESS::errors() {
    std::lock_guard lock(mutex_);
    return errors_;
}

bool HALL_PROCESS::wait_for_error(const std::string &text, std::chrono::milliseconds bound) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, bound, [&] {
        return errors_.find(text) != std::string::npos || closed_;
    }) && errors_.find(text) != std::string::npos;
}

void HALL_PROCESS::signal(int number) {
    if (!reaped_) kill(pid_, number);
}

int HALL_PROCESS::wait_for_exit(std::chrono::milliseconds bound) {
    {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, bound, [&] { return closed_; })) return -1;
    }
    int status = 0;
    if (waitpid(pid_, &status, 0) != pid_) return -1;
    reaped_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

HTTP_CONNECTION::HTTP_CONNECTION(unsigned short port, const std::string &bind_address) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    if (!bind_address.empty()) {
        inet_pton(AF_INET, bind_address.c_str(), &address.sin_addr);
        if (bind(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
            close(fd_);
            fd_ = -1;
            return;
        }
    }
    address.sin_port = htons(port);
    inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    if (connect(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        close(fd_);
        fd_ = -1;
    }
}

HTTP_CONNECTION::~HTTP_CONNECTION() {
    if (fd_ >= 0) close(fd_);
}

bool HTTP_CONNECTION::send(const std::string &bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t wrote = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return false;
        sent += static_cast<std::size_t>(wrote);
    }
    return true;
}

bool HTTP_CONNECTION::fill(std::chrono::steady_clock::time_point until) {
    if (eof_) return false;
    pollfd ready{fd_, POLLIN, 0};
    int polled = poll(&ready, 1, milliseconds_until(until));
    if (polled <= 0) return false;
    char chunk[8192];
    ssize_t got = recv(fd_, chunk, sizeof chunk, 0);
    if (got <= 0) {
        eof_ = true;
        return false;
    }
    buffer_.append(chunk, static_cast<std::size_t>(got));
    return true;
}

HTTP_ANSWER HTTP_CONNECTION::read_answer(bool head, std::chrono::milliseconds bound) {
    auto until = std::chrono::steady_clock::now() + bound;
    http::response_parser<http::string_body> parser;
    parser.body_limit(64 * 1024 * 1024);
    parser.skip(head);
    HTTP_ANSWER answer;
    for (;;) {
        boost::beast::error_code ec;
        while (!buffer_.empty() && !parser.is_done()) {
            std::size_t used = parser.put(boost::asio::buffer(buffer_), ec);
            if (ec == http::error::need_more) {
                ec = {};
                break;
            }
            if (ec) return answer;
            buffer_.erase(0, used);
            if (used == 0) break;
        }
        if (parser.is_done()) break;
        if (!fill(until)) {
            if (eof_ && parser.is_header_done() && !parser.is_done()) {
                parser.put_eof(ec);
                if (!ec && parser.is_done()) break;
            }
            return answer;
        }
    }
    auto message = parser.release();
    answer.status = static_cast<int>(message.result_int());
    for (const auto &field : message) {
        std::string name(field.name_string());
        for (char &c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        answer.fields[name] = std::string(field.value());
    }
    answer.body = std::move(message.body());
    return answer;
}

HTTP_ANSWER HTTP_CONNECTION::ask(const std::string &method, const std::string &target,
                                 const std::string &body,
                                 const std::vector<std::pair<std::string, std::string>> &fields) {
    std::string request = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    for (const auto &[name, value] : fields) request += name + ": " + value + "\r\n";
    if (!body.empty() || method == "POST")
        request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    request += "\r\n" + body;
    if (!send(request)) return {};
    return read_answer(method == "HEAD");
}

bool HTTP_CONNECTION::closed_by_hall(std::chrono::milliseconds bound) {
    auto until = std::chrono::steady_clock::now() + bound;
    while (!eof_) {
        if (!fill(until) && !eof_) return false;
    }
    return true;
}

HTTP_ANSWER ask_once(unsigned short port, const std::string &method, const std::string &target,
                     const std::string &body) {
    HTTP_CONNECTION connection(port);
    if (!connection.open()) return {};
    return connection.ask(method, target, body, {{"Connection", "close"}});
}

std::pair<std::string, int> run_for_output(const std::vector<std::string> &arguments) {
    std::string command = MARROWDEEP_HALL_PROGRAM;
    for (const std::string &argument : arguments) command += " '" + argument + "'";
    command += " 2>&1";
    FILE *pipe = popen(command.c_str(), "r");
    if (!pipe) return {"", -1};
    std::string output;
    char chunk[4096];
    std::size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, got);
    int status = pclose(pipe);
    return {output, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}
