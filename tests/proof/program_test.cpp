// The hall's record against the real program: the same keys are played by the marrowdeep program
// of this build, with the state probe loaded into it, and the probe's report (read from the
// program's own memory and its own reads, see state_probe.c) must say what the record says: the
// hero's level and experience, the seed, the hidden mode, how the game ended and how many keys
// it took. A boss won shows in the program's output.
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "character/character.h"
#include "fuzz/streams.h"
#include "hall/proof.h"
#include "support/run_game.h"

namespace {

// Where the program keeps a variable: its offset in the program's symbol table.
unsigned long long symbol(const std::string &name) {
    const std::string command = std::string("nm '") + MARROWDEEP_PROGRAM + "'";
    FILE *listing = popen(command.c_str(), "r");
    if (!listing) return 0;
    char line[512];
    unsigned long long found = 0;
    while (std::fgets(line, sizeof line, listing)) {
        unsigned long long address = 0;
        char type = 0;
        char word[400];
        if (std::sscanf(line, "%llx %c %399s", &address, &type, word) == 3 && name == word) found = address;
    }
    pclose(listing);
    return found;
}

// Tells the probe where the hero's level and experience, the seed and the hidden mode's flag are.
void point_probe() {
    static const bool pointed = [] {
        const PLAYER hero{};
        const auto *base = reinterpret_cast<const char *>(&hero);
        const unsigned long long at = symbol("_P_");
        const long long lv = reinterpret_cast<const char *>(&hero.lv) - base;
        const long long exp = reinterpret_cast<const char *>(&hero.exp) - base;
        setenv("PROBE_LV", std::to_string(at + lv).c_str(), 1);
        setenv("PROBE_EXP", std::to_string(at + exp).c_str(), 1);
        setenv("PROBE_SEED", std::to_string(symbol("seed")).c_str(), 1);
        setenv("PROBE_CHEAT", std::to_string(symbol("CheatMode")).c_str(), 1);
        return at != 0;
    }();
    ASSERT_TRUE(pointed) << "the hero was not found in the program's symbols";
}

struct Truth {
    bool read = false;
    std::string ending;
    long long keys = 0;
    int level = 0;
    long long experience = 0;
    long long seed = 0;
    bool cheat = false;
    bool boss = false;
    std::string report;
};

Truth play_program(const std::string &keys) {
    Truth truth;
    const GameRun run = run_program(MARROWDEEP_PROGRAM, keys, 120.0);
    if (!run.exited || run.exit_code != 0) {
        truth.report = "the program did not end by itself with status 0: " + run.errors;
        return truth;
    }
    truth.report = run.errors;
    const std::size_t at = run.errors.rfind("probe ");
    if (at == std::string::npos) return truth;
    int left = 0, end = 0, lv = 0, exp = 0, cheat = 0;
    long long taken = 0, seed = 0;
    char last[16] = "";
    if (std::sscanf(run.errors.c_str() + at,
                    "probe left=%d end=%d keys=%lld last=%15s lv=%d exp=%d seed=%lld cheat=%d", &left, &end,
                    &taken, last, &lv, &exp, &seed, &cheat) != 8)
        return truth;
    truth.read = true;
    // A fight lost on the map returns from main; every other end goes through exit(): with the
    // input at its end, the game was waiting for more; after the refresh's last pause, the hero
    // died of it; after a key, that key was q.
    if (!left)
        truth.ending = "fell";
    else if (end)
        truth.ending = "unfinished";
    else if (std::string(last) == "pause")
        truth.ending = "fell";
    else
        truth.ending = "quit";
    truth.keys = taken;
    truth.level = lv;
    truth.experience = exp;
    truth.seed = seed;
    truth.cheat = cheat != 0;
    truth.boss =
        run.output.find("YOU HAVE WON THE GAME!!! YOU CAN EXIT BY q OR EXPLORE !!!\n") != std::string::npos;
    return truth;
}

// Plays the keys both ways and holds the record against the program. Returns the ending.
std::string check_against_program(const std::string &name, const std::string &keys) {
    const Truth truth = play_program(keys);
    EXPECT_TRUE(truth.read) << name << ": no report from the probe: " << truth.report;
    if (!truth.read) return "";
    RUN run;
    run.keys = keys;
    run.has_clock = true;
    run.clock = PINNED_CLOCK;
    run.version = MARROWDEEP_VERSION;
    const PROOF proof = prove(run);
    EXPECT_TRUE(proof.ok) << name << ": " << proof.error;
    const RECORD &r = proof.record;
    EXPECT_EQ(r.ending, truth.ending) << name;
    EXPECT_EQ(r.keys, truth.keys) << name;
    EXPECT_EQ(r.level, truth.level) << name;
    EXPECT_EQ(r.experience, truth.experience) << name;
    EXPECT_EQ(r.seed, truth.seed) << name;
    EXPECT_EQ(r.mode == "VORTEX", truth.cheat) << name;
    EXPECT_EQ(r.boss, truth.boss) << name;
    return truth.ending;
}

std::string read_file(const std::string &path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream all;
    all << file.rdbuf();
    return all.str();
}

TEST(SavedGames, RecordsAsTheProgramPlaysThem) {
    point_probe();
    DIR *dir = opendir(FUZZ_REGRESSIONS_DIR);
    ASSERT_NE(dir, nullptr);
    std::vector<std::string> names;
    while (dirent *entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() > 4 && name.ends_with(".bin")) names.push_back(name);
    }
    closedir(dir);
    ASSERT_GE(names.size(), 9u);
    std::vector<std::string> endings;
    for (const std::string &name : names)
        endings.push_back(
            check_against_program(name, read_file(std::string(FUZZ_REGRESSIONS_DIR) + "/" + name)));
    // The saved games end in every way a game can.
    for (const char *ending : {"quit", "fell", "unfinished"})
        EXPECT_NE(std::find(endings.begin(), endings.end(), ending), endings.end()) << ending;
}

// Short games typed here, ending on q (with keys after it that are never read) and on the keys
// running out at each question and on the map, and a seed from the clock (the saved games above
// hold the fights lost and the refresh's cost).
TEST(SavedGames, ShortGames) {
    point_probe();
    // Seed 7, Strength, unless the keys run out first.
    EXPECT_EQ(check_against_program("q at once", "hero\nn\n7\n1\nq"), "quit");
    EXPECT_EQ(check_against_program("keys after q", "hero\nn\n7\n1\nqwasd"), "quit");
    EXPECT_EQ(check_against_program("name alone", "hero"), "unfinished");
    EXPECT_EQ(check_against_program("seed cut", "hero\nn\n12"), "unfinished");
    EXPECT_EQ(check_against_program("on the map", "hero\nn\n7\n1\nsd"), "unfinished");
    EXPECT_EQ(check_against_program("the clock's seed", "QZRV\ny\n2\nbxq"), "quit");
}

// A few hundred generated games: random bytes, game-shaped keys and tours of real mazes.
TEST(GeneratedGames, RecordsAsTheProgramPlaysThem) {
    point_probe();
    const int count = std::getenv("HALL_GAMES") ? std::atoi(std::getenv("HALL_GAMES")) : 300;
    int quit = 0, fell = 0, unfinished = 0;
    for (int n = 0; n < count; ++n) {
        const Stream stream = make_stream(1, static_cast<std::uint64_t>(n));
        const std::string ending = check_against_program("stream " + std::to_string(n), stream.bytes);
        quit += ending == "quit";
        fell += ending == "fell";
        unfinished += ending == "unfinished";
        if (HasFailure()) break;
    }
    std::printf("endings: %d quit, %d fell, %d unfinished\n", quit, fell, unfinished);
}

}  // namespace
