// A private tmux server with one pane of a fixed size: the tests start a program in it, type
// into it as a player would and read the screen back as the terminal shows it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

// Runs a program (no shell) and waits for it at most `seconds`. Returns its exit status, or -1
// when it could not start, was killed or ran out of time. Its standard output (and error) goes
// to `output` when given, else nowhere.
int run_command(const std::vector<std::string> &argv, std::string *output = nullptr, double seconds = 30.0);

// Quotes one word for sh.
std::string shell_quote(const std::string &word);

using Clock = std::chrono::steady_clock;
double seconds_since(Clock::time_point start);

class TmuxPane {
  public:
    TmuxPane(int width = 120, int height = 50);
    ~TmuxPane();  // kills the whole private server
    TmuxPane(const TmuxPane &) = delete;
    TmuxPane &operator=(const TmuxPane &) = delete;

    // Starts the server with `command` (run by sh) in the one pane. False when tmux failed.
    bool start(const std::string &command);

    void type(const std::string &text);  // literal keys, as typed
    void press(const std::string &key);  // a named key: Enter, C-c, C-d, ...

    // The visible screen, one string per row, trailing blanks cut as tmux gives them. With
    // `escapes` the colour codes stay in.
    std::vector<std::string> rows(bool escapes = false) const;
    std::string screen(bool escapes = false) const;  // the rows joined with line ends
    std::string history() const;                     // everything, the scrolled-off lines too

    // Polls the screen until `done` holds or `seconds` have passed. Returns whether it held.
    bool wait_until(const std::function<bool(const std::string &screen)> &done, double seconds);
    // The screen the last wait looked at last: when the wait held, the very screen that made it
    // hold. What shows only during a pause is checked on it, not on a later look that may come
    // after the pause.
    const std::string &seen() const { return seen_; }
    bool wait_for(const std::string &text, double seconds);
    bool wait_while(const std::string &text, double seconds);  // until the text is gone
    // Until `text` occurs more than `times` times in the whole history.
    bool wait_for_count(const std::string &text, size_t times, double seconds);

    // From now on everything the pane's program writes to the terminal is kept, escape codes
    // and all, even where the screen ends up the same (a screen cleared and drawn again).
    bool record_output();
    std::string recorded() const;  // what was written since record_output

    std::string pane_tty() const;  // the pane's terminal device, e.g. /dev/pts/3
    pid_t pane_pid() const;        // the process tmux started in the pane

  private:
    std::vector<std::string> tmux(std::vector<std::string> args) const;
    std::string socket_;
    std::string record_file_;
    std::string seen_;
    int width_, height_;
    bool started_ = false;
};

// How many times `needle` occurs in `haystack`.
size_t count_of(const std::string &haystack, const std::string &needle);
// The text cut into lines at '\n'.
std::vector<std::string> split_lines(const std::string &text);
// The text without the blanks at its end.
std::string rtrim(const std::string &text);
