// The console services every build shares: arithmetic, output, the banner, the line answers and
// leaving the game.
#include "console/console.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdlib>

// ---------------------------------------------------------------------------------------------
// Arithmetic

int clamp_int(long long v) {
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}

int trunc_int(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483647.0) return INT_MAX;
    if (v <= -2147483648.0) return INT_MIN;
    return static_cast<int>(v);  // truncates toward zero
}

int l_r_rand(int l, int r) {
    long long r0 = roll();
    long long width = static_cast<long long>(r) - l + 1;
    if (width <= 0) return l;  // callers always pass l <= r; the draw is made all the same
    return clamp_int(l + r0 % width);
}

int getval(int base, int mag) {
    // The sum first, then the division, then the product: 100 with 150 is 114, not 115.
    double factor = static_cast<double>(static_cast<long long>(mag) + 1000) / 1000.0;
    return trunc_int(factor * static_cast<double>(base));
}

bool getchance(int prob) {
    int v = roll() % 1000;
    return v < prob;
}

double ttop(int a) { return a / 10.0; }

int Number(std::string str) {
    int value = 0;
    for (char c : str) value = clamp_int(value * 10LL + (c - '0'));
    return value;
}

// ---------------------------------------------------------------------------------------------
// Output

void say(const std::string &s) { std::fwrite(s.data(), 1, s.size(), host.out); }

void say(const char *s) { std::fputs(s, host.out); }

void sayf(const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(host.out, format, args);
    va_end(args);
}

void say_double(double v) { sayf("%g", v); }

namespace {
void colour(const char *escape, const std::string &x) {
    say(escape);
    say(x);
    say("\x1b[0m");
}
}  // namespace

void black(std::string x) { colour("\x1b[30m", x); }
void red(std::string x) { colour("\x1b[31m", x); }
void green(std::string x) { colour("\x1b[32m", x); }
void yellow(std::string x) { colour("\x1b[33m", x); }
void blue(std::string x) { colour("\x1b[34m", x); }
void purple(std::string x) { colour("\x1b[35m", x); }

void Space(std::string s, int task_len) {
    long long blanks = static_cast<long long>(task_len) + 1 - static_cast<long long>(s.size());
    for (long long i = 0; i < blanks; ++i) std::fputc(' ', host.out);
}

// The banner heads every map, so it is written as plain text rather than through a format: the
// same bytes, without the format's work after every key.
void PrintInfo() {
    say("          Marrowdeep ");
    say(version);
    say("\n              Made by the Marrowdeep team\n\n"
        "wasd and q to exit, \x1b[31m b to configure\x1b[0m, \x1b[35m p to enter the tier\x1b[0m\n"
        "*:supplies   &:monster  #:wall  !:boss  $:refresh\n"
        "----------------------------------------------------\n");
}

void CLEAR() {
    std::fflush(host.out);
    host.clear();
}

// ---------------------------------------------------------------------------------------------
// Input

// A read that a stop or a resume of the game cut short is no end of input: it is made again.
// errno is cleared first, so that an old EINTR is never taken for this read's.
int next_byte() {
    for (;;) {
        errno = 0;
        const int c = std::getc(host.in);
        if (c != EOF || !std::ferror(host.in) || errno != EINTR) return c;
        std::clearerr(host.in);
    }
}

// Line answers: formatted reads of a word, a character or a number. Blanks and line ends before
// the item are skipped; whatever follows the item stays in the input for the next read.

namespace {
bool is_blank(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

bool is_digit(int c) { return c >= '0' && c <= '9'; }

// The first byte that is not white space; the game ends here if the input has run out.
int first_visible() {
    std::fflush(host.out);
    int c;
    do {
        c = next_byte();
        if (c == EOF) leave_game();
    } while (is_blank(c));
    return c;
}

// Gives back the byte that ended an item, so the next read sees it.
void put_back(int c) {
    if (c != EOF) std::ungetc(c, host.in);
}
}  // namespace

std::string read_word() {
    std::string word(1, static_cast<char>(first_visible()));
    int c = next_byte();
    while (c != EOF && !is_blank(c)) {
        word.push_back(static_cast<char>(c));
        c = next_byte();
    }
    put_back(c);
    return word;
}

char read_answer() { return static_cast<char>(first_visible()); }

long long read_number(long long low, long long high) {
    int c = first_visible();
    bool negative = false;
    if (c == '+' || c == '-') {
        negative = c == '-';
        c = next_byte();
    }
    if (!is_digit(c)) {
        // Not a number: the answer counts as 0 and the rest of the word is thrown away.
        while (c != EOF && !is_blank(c)) c = next_byte();
        put_back(c);
        return 0;
    }
    // Digits beyond what a long long holds pin the answer to the end of the range.
    unsigned long long magnitude = 0;
    bool huge = false;
    while (is_digit(c)) {
        unsigned digit = static_cast<unsigned>(c - '0');
        if (magnitude > (ULLONG_MAX - digit) / 10)
            huge = true;
        else
            magnitude = magnitude * 10 + digit;
        c = next_byte();
    }
    put_back(c);
    // First what a long long holds, then the range asked for, whichever side of zero it lies.
    long long value = 0;
    if (negative) {
        if (huge || magnitude > (1ULL << 63))
            value = LLONG_MIN;
        else if (magnitude != 0)
            value = -static_cast<long long>(magnitude - 1) - 1;
    } else {
        value = huge || magnitude > LLONG_MAX ? LLONG_MAX : static_cast<long long>(magnitude);
    }
    if (value < low) return low;
    if (value > high) return high;
    return value;
}

char inchar() { return read_raw_key(); }

// ---------------------------------------------------------------------------------------------
// Start-up, the terminal's mode and leaving: what the host does for each.

void console_start() { host.start(); }

void terminal_setup() { host.key_mode(true); }

void terminal_restore() { host.key_mode(false); }

void leave_game() {
    std::fflush(host.out);
    terminal_restore();
    host.leave();
    std::abort();  // no host's way out comes back
}
