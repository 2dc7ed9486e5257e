#include "support/in_memory_console.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>

#include "character/character.h"
#include "console/console.h"
#include "state/state.h"
#include "support/draw_limit.h"

long long draws = 0;

namespace {
// Every draw a test serves is counted; a run that goes on drawing without end is stopped.
void count_draw() {
    if (++draws > DRAW_LIMIT) throw TooManyDraws("the game's code in this test");
}
}  // namespace

int counted_rand() {
    count_draw();
    return std::rand();
}

namespace {
std::deque<int> script;

std::string input_text;
FILE *input = nullptr;
char *output_buffer = nullptr;
size_t output_size = 0;
FILE *output_stream = nullptr;
size_t taken = 0;
std::vector<long long> pause_log;
HOST saved_host;

bool test_running = false;
void exit_guard() {
    if (!test_running) return;
    std::fputs("the game ended the program in the middle of a test\n", stderr);
    std::_Exit(1);
}

void mark_clear() { std::fputs("<clear>", host.out); }

void mark_pause(long long ms) {
    pause_log.push_back(ms);
    std::fprintf(host.out, "<sleep %lld>", ms / 1000);
}
void nothing_to_start() {}
void no_key_mode(bool) {}
void exit_game() { std::exit(0); }
}  // namespace

void allow_game_to_end() { test_running = false; }

void script_rolls(std::initializer_list<int> rolls) { script.assign(rolls.begin(), rolls.end()); }
void script_rolls(const std::vector<int> &rolls) { script.assign(rolls.begin(), rolls.end()); }
size_t rolls_left() { return script.size(); }

int scripted_rand() {
    count_draw();
    if (script.empty()) {
        ADD_FAILURE() << "the game drew more numbers than the test scripted";
        return 0;
    }
    int value = script.front();
    script.pop_front();
    return value;
}

void GameTest::SetUp() {
    static const bool guarded = std::atexit(exit_guard) == 0;
    test_running = guarded;
    saved_host = host;
    output_stream = open_memstream(&output_buffer, &output_size);
    taken = 0;
    pause_log.clear();
    host = HOST{
        .in = nullptr,
        .out = output_stream,
        .start = nothing_to_start,
        .clear = mark_clear,
        .wait = mark_pause,
        .key_mode = no_key_mode,
        .roll = counted_rand,
        .plant_seed = &std::srand,
        .clock = clock_now,
        .leave = exit_game,
    };
    type("");

    // The game's lasting state as the program has it before start-up (the runtime generator
    // seeded with 1), then the maze walled in and the catalogue filled, as start-up does.
    reset_game_state();
    std::memset(maze, '#', sizeof maze);
    FightItemINIT();
    draws = 0;
    script.clear();
}

void GameTest::TearDown() {
    test_running = false;
    if (input) std::fclose(input);
    input = nullptr;
    std::fclose(output_stream);
    std::free(output_buffer);
    output_buffer = nullptr;
    output_stream = nullptr;
    host = saved_host;
}

void GameTest::type(const std::string &text) {
    if (input) std::fclose(input);
    input_text = text;
    input = input_text.empty() ? std::fopen("/dev/null", "r")
                               : fmemopen(input_text.data(), input_text.size(), "r");
    host.in = input;
}

std::string GameTest::output() {
    std::fflush(output_stream);
    return std::string(output_buffer, output_size);
}

std::string GameTest::take_output() {
    std::string all = output();
    std::string fresh = all.substr(taken);
    taken = all.size();
    return fresh;
}

std::vector<long long> GameTest::pauses() { return pause_log; }
