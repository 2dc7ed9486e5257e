// Console and random services: everything the game uses to talk to the player's terminal, the
// per-mille arithmetic every chance and bonus rests on, and the one source of random numbers.
//
// What differs between the Linux terminal, the Windows console and the web page's terminal
// (clearing, pausing, reading a key, the clock, the drinking animation, the terminal mode) lives
// in one platform source each: console_linux.cpp, console_windows.cpp and console_web.cpp. The
// Linux terminal and the web page read keys and pause alike, from console_terminal.cpp.
// Everything else in the game calls these names only.
#pragma once

#include <cstdio>
#include <string>

// The banner's version text. MARROWDEEP_VERSION comes with the core library, from the build.
inline const char *const version = "RELEASE v" MARROWDEEP_VERSION;

// ---------------------------------------------------------------------------------------------
// The console the game talks to. The platform source points it at the real terminal; the tests
// point it at memory, so that every byte can be checked and no pause really waits.
struct CONSOLE {
    FILE *in = nullptr;                    // where line answers (and the Linux keys) come from
    FILE *out = nullptr;                   // where everything the game prints goes
    void (*clear)() = nullptr;             // runs the platform's clear command
    void (*wait)(long long ms) = nullptr;  // blocks for a pause, already cut to what the build allows
};
extern CONSOLE con;

// ---------------------------------------------------------------------------------------------
// Random numbers. Every draw of the game goes through roll() and the one seeding through
// plant_seed(). They are the runtime library's rand() and srand() in the Linux and the Windows
// program, and the Linux generator written out (below) in the web page, unless a test has put
// another generator in their place.
extern int (*rand_source)();
extern void (*seed_source)(unsigned);
inline int roll() { return rand_source(); }
inline void plant_seed(unsigned start) { seed_source(start); }

// The Linux runtime library's rand() and srand(), draw for draw, for a build whose runtime
// library has another generator.
int additive_rand();
void additive_srand(unsigned start);

// The clock, in seconds since 1970, read once a game, for a seed taken from the clock (the answer
// y). It is the runtime library's time() in the Linux and the Windows program, and the page's
// clock in the web page, which can then give a game it plays again the second it first read.
long long clock_now();

int l_r_rand(int l, int r);     // uniform in l..r, one draw
int getval(int base, int mag);  // base with a per-mille bonus applied, truncated
bool getchance(int prob);       // rolls a per-mille chance, one draw whatever the chance
double ttop(int a);             // per mille to percent, for display

// ---------------------------------------------------------------------------------------------
// Int arithmetic that never wraps: a result is worked out exactly and pinned to the int range
// when it is stored.
int clamp_int(long long v);
int trunc_int(double v);  // truncates toward zero, then pins to the int range

// ---------------------------------------------------------------------------------------------
// Output. All of it goes to con.out in program order; it is flushed before every read, pause
// and clear, so the player sees a message while its pause runs.
void say(const std::string &s);
void say(const char *s);
// The format is checked by GNU's printf rules: gcc (Linux, and Windows with mingw-w64) names them
// gnu_printf, clang (the web build) printf.
#if defined(__clang__)
#define SAYF_FORMAT printf
#else
#define SAYF_FORMAT gnu_printf
#endif
void sayf(const char *format, ...) __attribute__((format(SAYF_FORMAT, 1, 2)));
void say_double(double v);  // the stream's default format: six significant digits

void black(std::string x);
void red(std::string x);
void green(std::string x);
void yellow(std::string x);
void blue(std::string x);
void purple(std::string x);

void Space(std::string s, int task_len);  // pads a column of the fight screen
void PrintInfo();                         // the banner above the map
int Number(std::string str);

void CLEAR();
void PAUSE(double s);

// ---------------------------------------------------------------------------------------------
// Input. When standard input has ended, every read ends the game at once with status 0.
int next_byte();                                       // the next byte of con.in, or EOF at its true end
char inchar();                                         // the raw key: every key counts (read_raw_key)
char read_raw_key();                                   // the main loop's raw key
char single_key();                                     // the single-key prompt
std::string read_word();                               // line answer: one word
char read_answer();                                    // line answer: one character
long long read_number(long long low, long long high);  // line answer: a whole number, pinned

// ---------------------------------------------------------------------------------------------
// Platform set-up and leaving.
void console_start();            // first thing at start-up
void terminal_setup();           // right after the name is read: keys arrive as they are typed
void terminal_restore();         // puts the terminal back as the game found it
void drink_animation();          // the short show while a drug goes down (Windows only)
[[noreturn]] void leave_game();  // ends the program with status 0

// ---------------------------------------------------------------------------------------------
// A host that plays the game inside a process of its own instead of as a program (the hall,
// which plays recorded runs again). The programs leave both empty.
extern long long (*host_clock)();  // answers the clock read at start-up instead of clock_now()
extern void (*host_leave)();       // takes the game back where it would leave; never returns
