#include "support/run_game.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>

GameRun run_game(const std::string &input, double seconds) {
    return run_program(MARROWDEEP_PROGRAM, input, seconds);
}

GameRun run_program(const std::string &program, const std::string &input, double seconds) {
    GameRun run;
    int in[2], out[2], err[2];
    if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) return run;

    pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
        setenv("LD_PRELOAD", FAST_CONSOLE_LIBRARY, 1);
        // The sanitizers want their runtime first among the loaded libraries; the marks library
        // only replaces two functions and is safe ahead of it.
        setenv("ASAN_OPTIONS", "verify_asan_link_order=0:abort_on_error=0:exitcode=99", 1);
        setenv("UBSAN_OPTIONS", "halt_on_error=1:exitcode=98:print_stacktrace=1", 1);
        execl(program.c_str(), program.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    signal(SIGPIPE, SIG_IGN);
    fcntl(in[1], F_SETFL, O_NONBLOCK);

    size_t written = 0;
    if (input.empty()) {
        close(in[1]);
        in[1] = -1;
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
    bool out_open = true, err_open = true;
    char buffer[65536];
    while (out_open || err_open) {
        pollfd fds[3];
        int n = 0;
        int out_at = -1, err_at = -1, in_at = -1;
        if (out_open) {
            fds[n] = {out[0], POLLIN, 0};
            out_at = n++;
        }
        if (err_open) {
            fds[n] = {err[0], POLLIN, 0};
            err_at = n++;
        }
        if (in[1] >= 0) {
            fds[n] = {in[1], POLLOUT, 0};
            in_at = n++;
        }
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                .count();
        if (left <= 0) {
            run.timed_out = true;
            kill(pid, SIGKILL);
            break;
        }
        if (poll(fds, n, static_cast<int>(left)) < 0) continue;
        if (out_at >= 0 && fds[out_at].revents) {
            ssize_t got = read(out[0], buffer, sizeof buffer);
            if (got > 0)
                run.output.append(buffer, static_cast<size_t>(got));
            else
                out_open = false;
        }
        if (err_at >= 0 && fds[err_at].revents) {
            ssize_t got = read(err[0], buffer, sizeof buffer);
            if (got > 0)
                run.errors.append(buffer, static_cast<size_t>(got));
            else
                err_open = false;
        }
        if (in_at >= 0 && fds[in_at].revents) {
            ssize_t put = fds[in_at].revents & POLLOUT
                              ? write(in[1], input.data() + written, input.size() - written)
                              : -1;
            if (put > 0) written += static_cast<size_t>(put);
            if (put < 0 || written == input.size()) {
                close(in[1]);
                in[1] = -1;
            }
        }
    }
    if (in[1] >= 0) close(in[1]);
    close(out[0]);
    close(err[0]);

    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) {
        run.exited = !run.timed_out;
        run.exit_code = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        run.signal = WTERMSIG(status);
    }
    return run;
}
