// The real marrowdeep-hall program for the end-to-end tests: started with its options and
// environment, its standard error read as it comes, asked over HTTP on 127.0.0.1, stopped with
// a signal. Every wait has a bound far above what a slow machine needs.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

inline constexpr std::chrono::seconds GENEROUS_WAIT{30};

class HALL_PROCESS {
  public:
    HALL_PROCESS(std::vector<std::string> arguments,
                 std::vector<std::pair<std::string, std::string>> environment);
    ~HALL_PROCESS();
    HALL_PROCESS(const HALL_PROCESS &) = delete;
    HALL_PROCESS &operator=(const HALL_PROCESS &) = delete;

    unsigned short port() const { return port_; }
    pid_t pid() const { return pid_; }
    // Everything written to standard error so far.
    std::string errors();
    // Waits until standard error holds the text; false after the wait's bound.
    bool wait_for_error(const std::string &text, std::chrono::milliseconds bound = GENEROUS_WAIT);
    void signal(int number);
    // Waits for the program's end (its standard error closed), then its exit status; -1 after
    // the bound, or when a signal ended it.
    int wait_for_exit(std::chrono::milliseconds bound = GENEROUS_WAIT);

  private:
    void read_errors(int fd);
    pid_t pid_ = -1;
    unsigned short port_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string errors_;
    bool closed_ = false;
    bool reaped_ = false;
    std::thread reader_;
};

struct HTTP_ANSWER {
    int status = 0;                             // 0: no answer (the connection closed or the wait ran out)
    std::map<std::string, std::string> fields;  // names in lower case
    std::string body;
};

// One connection, kept open between requests (HTTP/1.1 keep-alive).
class HTTP_CONNECTION {
  public:
    HTTP_CONNECTION(unsigned short port, const std::string &bind_address = "");
    ~HTTP_CONNECTION();
    bool open() const { return fd_ >= 0; }
    HTTP_ANSWER ask(const std::string &method, const std::string &target, const std::string &body = "",
                    const std::vector<std::pair<std::string, std::string>> &fields = {});
    // Raw bytes, for requests no client library would send.
    bool send(const std::string &bytes);
    // One answer read from the connection; status 0 if none comes within the bound.
    HTTP_ANSWER read_answer(bool head = false, std::chrono::milliseconds bound = GENEROUS_WAIT);
    // True once the hall closed the connection (nothing more to read), within the bound.
    bool closed_by_hall(std::chrono::milliseconds bound = GENEROUS_WAIT);
    int fd() const { return fd_; }
    // The bytes that came and were not read as an answer (after an upgrade, the socket's frames).
    const std::string &unread() const { return buffer_; }

  private:
    bool fill(std::chrono::steady_clock::time_point until);
    int fd_ = -1;
    std::string buffer_;
    bool eof_ = false;
};

// A request on a connection of its own, closed after.
HTTP_ANSWER ask_once(unsigned short port, const std::string &method, const std::string &target,
                     const std::string &body = "");
// The program's standard output and exit status for the arguments.
std::pair<std::string, int> run_for_output(const std::vector<std::string> &arguments);
