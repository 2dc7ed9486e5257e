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

// Each game's own variables: a plain global in the programs, which play one game, and one per
// thread in the hall's build of the core (MARROWDEEP_GAME_PER_THREAD), which plays many games at
// once, each on a thread of its own.
#if defined(MARROWDEEP_GAME_PER_THREAD)
#define GAME_LOCAL thread_local
#else
#define GAME_LOCAL
#endif

// ---------------------------------------------------------------------------------------------
// The host: everything the game takes from what runs it. The platform source sets it up for the
// real terminal, console or page; the tests point it at memory, so that every byte can be checked
// and no pause really waits; the hall feeds it a run's keys. The game asks the host and never
// which host it has.
struct HOST {
    FILE *in = nullptr;                      // where the keys and the line answers come from
    FILE *out = nullptr;                     // where everything the game prints goes
    void (*start)() = nullptr;               // first thing at start-up
    void (*clear)() = nullptr;               // runs the platform's clear command
    void (*wait)(long long ms) = nullptr;    // blocks for a pause, already cut to what the build allows
    void (*key_mode)(bool on) = nullptr;     // keys arrive as they are typed (on), or as found (off)
    int (*roll)() = nullptr;                 // one random draw
    void (*plant_seed)(unsigned) = nullptr;  // seeds the draws
    long long (*clock)() = nullptr;          // the clock in seconds since 1970, for a seed taken from it
    void (*leave)() = nullptr;               // ends the game with status 0; never comes back
};
// All constants where it is defined (constinit): each platform's start() points it at its own
// input and output.
extern constinit GAME_LOCAL HOST host;

// ---------------------------------------------------------------------------------------------
// Random numbers. Every draw of the game goes through roll() and the one seeding through
// plant_seed(). They are the runtime library's rand() and srand() in the Linux and the Windows
// program, and the Linux generator written out (below) in the web page and the hall.
inline int roll() { return host.roll(); }
inline void plant_seed(unsigned start) { host.plant_seed(start); }

// The Linux runtime library's rand() and srand(), draw for draw, for a build whose runtime
// library has another generator.
int additive_rand();
void additive_srand(unsigned start);

// The platform's clock, in seconds since 1970: the runtime library's time() in the Linux and the
// Windows program, the page's clock in the web page, which can then give a game it plays again
// the second it first read.
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
// Output. All of it goes to host.out in program order; it is flushed before every read, pause
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
int next_byte();                                       // the next byte of host.in, or EOF at its true end
char inchar();                                         // the raw key: every key counts (read_raw_key)
char read_raw_key();                                   // the main loop's raw key
char single_key();                                     // the single-key prompt
std::string read_word();                               // line answer: one word
char read_answer();                                    // line answer: one character
long long read_number(long long low, long long high);  // line answer: a whole number, pinned

// ---------------------------------------------------------------------------------------------
// Platform set-up and leaving.
void console_start();            // first thing at start-up (the host's start)
void terminal_setup();           // right after the name is read: keys arrive as they are typed
void terminal_restore();         // puts the terminal back as the game found it
void drink_animation();          // the short show while a drug goes down (Windows only)
[[noreturn]] void leave_game();  // puts the terminal back and leaves through the host
