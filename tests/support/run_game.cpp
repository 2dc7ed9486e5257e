#include "support/run_game.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

GameRun run_game(const std::string &input, double seconds) {
    return run_program(MARROWDEEP_PROGRAM, input, seconds);
}

GameRun run_game_with(const std::vector<std::string> &arguments, const std::string &input) {
    return run_program(MARROWDEEP_PROGRAM, input, 60.0, arguments);
}

GameRun run_program(const std::string &program, const std::string &input, double seconds,
                    const std::vector<std::string> &arguments) {
    std::string output;
    GameRun run = run_streaming(
        program, input, seconds,
        [&output](const char *data, std::size_t size) {
            output.append(data, size);
            return true;
        },
        std::string::npos, false, arguments);
    run.output = std::move(output);
    return run;
}

GameRun run_streaming(const std::string &program, const std::string &input, double seconds,
                      const std::function<bool(const char *, std::size_t)> &take, std::size_t errors_kept,
                      bool real_clock, const std::vector<std::string> &arguments) {
    GameRun run;
    std::vector<char *> argv = {const_cast<char *>(program.c_str())};
    for (const std::string &a : arguments) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        run.errors = "could not make pipes";
        return run;
    }

    const std::string clock = std::to_string(PINNED_CLOCK);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        setenv("LD_PRELOAD", FAST_CONSOLE_LIBRARY, 1);
        if (real_clock)
            unsetenv("FAST_CONSOLE_TIME");
        else
            setenv("FAST_CONSOLE_TIME", clock.c_str(), 1);
        // The sanitizers want their runtime first among the loaded libraries; the marks library
        // only replaces three functions of the C library and is safe ahead of it. Their reports end the game
        // with statuses of their own.
        setenv("ASAN_OPTIONS", "verify_asan_link_order=0:abort_on_error=0:exitcode=99", 1);
        setenv("UBSAN_OPTIONS", "halt_on_error=1:exitcode=98:print_stacktrace=1", 1);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    signal(SIGPIPE, SIG_IGN);
    fcntl(in[1], F_SETFL, O_NONBLOCK);
    if (input.empty()) {
        close(in[1]);
        in[1] = -1;
    }

    std::size_t written = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    bool out_open = true, err_open = true;
    static char buffer[1 << 16];
    while (out_open || err_open) {
        pollfd fds[3];
        nfds_t n = 0;
        int out_at = -1, err_at = -1, in_at = -1;
        if (out_open) {
            fds[n] = {out[0], POLLIN, 0};
            out_at = static_cast<int>(n++);
        }
        if (err_open) {
            fds[n] = {err[0], POLLIN, 0};
            err_at = static_cast<int>(n++);
        }
        if (in[1] >= 0) {
            fds[n] = {in[1], POLLOUT, 0};
            in_at = static_cast<int>(n++);
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                .count();
        if (left <= 0) {
            run.timed_out = true;
            break;
        }
        if (poll(fds, n, static_cast<int>(std::min<long long>(left, 1000))) < 0) continue;
        if (out_at >= 0 && fds[out_at].revents) {
            const ssize_t got = read(out[0], buffer, sizeof buffer);
            if (got <= 0) {
                out_open = false;
            } else if (!take(buffer, static_cast<std::size_t>(got))) {
                run.stopped = true;
                break;
            }
        }
        if (err_at >= 0 && fds[err_at].revents) {
            const ssize_t got = read(err[0], buffer, sizeof buffer);
            if (got > 0) {
                const std::size_t room = errors_kept - std::min(errors_kept, run.errors.size());
                run.errors.append(buffer, std::min(room, static_cast<std::size_t>(got)));
            } else {
                err_open = false;
            }
        }
        if (in_at >= 0 && fds[in_at].revents) {
            const ssize_t put = (fds[in_at].revents & POLLOUT)
                                    ? write(in[1], input.data() + written, input.size() - written)
                                    : -1;
            if (put > 0) written += static_cast<std::size_t>(put);
            if (put < 0 || written == input.size()) {
                close(in[1]);
                in[1] = -1;
            }
        }
    }
    if (run.timed_out || run.stopped) kill(pid, SIGKILL);
    if (in[1] >= 0) close(in[1]);
    close(out[0]);
    close(err[0]);

    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) {
        run.exited = !run.timed_out && !run.stopped;
        run.exit_code = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        run.signal = WTERMSIG(status);
    }
    return run;
}
