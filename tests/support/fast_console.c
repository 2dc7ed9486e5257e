/* Loaded into the real marrowdeep by the tests: the clear command and the pauses leave a short
 * mark in the output instead of running a shell or sleeping, so a whole game with fights plays
 * in a moment and the marks show where each clear and pause came. Any other shell command runs
 * as usual.
 *
 * The clock is an input of the test like the keys: with FAST_CONSOLE_TIME set, time() answers
 * that number of seconds, so a seed taken from the clock (the answer y) gives the same game in
 * every run and in every program that is given the same number. Without it time() reads the
 * real clock, FAST_CONSOLE_CLOCK_AHEAD seconds ahead when that is set: a program that reads
 * its clock a second later than another one, every time.
 *
 * With FAST_CONSOLE_REAL_CLEARS set, the clears are real and the pauses pass without a mark: the
 * game in a real terminal shows its screens as a player sees them, only without waiting. The clear
 * command runs once, at the first clear, and what it wrote is written again at each later one,
 * the same bytes: so the game starts no more programs once it has begun, and the bytes it reads
 * are only its keys. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static void put(const char *text, size_t left) {
    while (left > 0) {
        ssize_t n = write(STDOUT_FILENO, text, left);
        if (n <= 0) return;
        text += n;
        left -= (size_t)n;
    }
}

static void mark(const char *text) { put(text, strlen(text)); }

static int real_clears(void) { return getenv("FAST_CONSOLE_REAL_CLEARS") != NULL; }

/* What the clear command writes, kept from its first run. */
static char clear_bytes[256];
static size_t clear_size;
static int clear_known;

static void real_clear(void) {
    if (!clear_known) {
        FILE *out = popen("clear", "r");
        if (out != NULL) {
            clear_size = fread(clear_bytes, 1, sizeof clear_bytes, out);
            pclose(out);
        }
        clear_known = 1;
    }
    put(clear_bytes, clear_size);
}

int system(const char *command) {
    if (command != NULL && strcmp(command, "clear") == 0) {
        if (real_clears())
            real_clear();
        else
            mark("<clear>");
        return 0;
    }
    int (*real_system)(const char *);
    void *found = dlsym(RTLD_NEXT, "system");
    memcpy(&real_system, &found, sizeof real_system);
    return real_system(command);
}

unsigned int sleep(unsigned int seconds) {
    if (real_clears()) return 0;
    char text[32];
    snprintf(text, sizeof text, "<sleep %u>", seconds);
    mark(text);
    return 0;
}

time_t time(time_t *answer) {
    const char *held = getenv("FAST_CONSOLE_TIME");
    time_t now;
    if (held != NULL) {
        now = (time_t)strtoll(held, NULL, 10);
    } else {
        time_t (*real_time)(time_t *);
        void *found = dlsym(RTLD_NEXT, "time");
        memcpy(&real_time, &found, sizeof real_time);
        const char *ahead = getenv("FAST_CONSOLE_CLOCK_AHEAD");
        now = real_time(NULL) + (ahead != NULL ? (time_t)strtoll(ahead, NULL, 10) : 0);
    }
    if (answer != NULL) *answer = now;
    return now;
}
