// Keys and pauses as a Linux terminal gives them, shared by the Linux program and the web page:
// keys are the bytes of the game's input with the terminal's own echo, and pauses last whole
// seconds.
#include <cstdio>

#include "console/console.h"

void PAUSE(double s) {
    std::fflush(host.out);
    host.wait(static_cast<long long>(s) * 1000);  // 1.5 seconds become 1
}

// The next byte of the input, blanks and line ends included.
char read_raw_key() {
    std::fflush(host.out);
    int c = next_byte();
    if (c == EOF) leave_game();
    return static_cast<char>(c);
}

// The next visible character: blanks, tabs and line ends are passed over.
char single_key() { return read_answer(); }

// The terminal shows nothing while a drug goes down.
void drink_animation() {}
