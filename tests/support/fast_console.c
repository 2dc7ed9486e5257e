/* Loaded into the real marrowdeep by the tests: the clear command and the pauses leave a short
 * mark in the output instead of running a shell or sleeping, so a whole game with fights plays
 * in a moment and the marks show where each clear and pause came. Any other shell command runs
 * as usual. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

static void mark(const char *text) {
    size_t left = strlen(text);
    while (left > 0) {
        ssize_t n = write(STDOUT_FILENO, text, left);
        if (n <= 0) return;
        text += n;
        left -= (size_t)n;
    }
}

int system(const char *command) {
    if (command != NULL && strcmp(command, "clear") == 0) {
        mark("<clear>");
        return 0;
    }
    int (*real_system)(const char *);
    void *found = dlsym(RTLD_NEXT, "system");
    memcpy(&real_system, &found, sizeof real_system);
    return real_system(command);
}

unsigned int sleep(unsigned int seconds) {
    char text[32];
    snprintf(text, sizeof text, "<sleep %u>", seconds);
    mark(text);
    return 0;
}
