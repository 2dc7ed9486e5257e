// Start-up: the answers to --help and --version, then the hero, the three questions, the hidden
// modes, the seed, the catalogue and the maze, then the main loop.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "character/character.h"
#include "console/console.h"
#include "game/state.h"
#include "maze/maze.h"

namespace {
const char *const help =
    "Usage: marrowdeep [--help | --version]\n"
    "       marrowdeep-win.exe [--help | --version]\n"
    "\n"
    "A turn-based dungeon crawl in a text terminal. The game asks for a hero's\n"
    "name, a seed and a build, then shows the maze.\n"
    "\n"
    "Options (only the first argument counts):\n"
    "  --help      show this help and exit\n"
    "  --version   show the version and exit\n"
    "Any other argument is ignored, and the game starts as without one.\n"
    "\n"
    "Keys on the map:\n"
    "  w a s d     walk up, left, down and right\n"
    "  b           the status screen, the drugs and the scrolls\n"
    "  p           the tier, twelve layers of rooms\n"
    "  q           leave the game\n"
    "\n"
    "The manual: man marrowdeep (the Windows zip has README.txt instead)\n";

// The game never read its command line, and a launcher may pass it words of its own: only a
// first argument of exactly --help or --version is answered, every other one is ignored.
const char *command_line_answer(int argc, char **argv) {
    if (argc < 2) return nullptr;
    if (std::strcmp(argv[1], "--help") == 0) return help;
    if (std::strcmp(argv[1], "--version") == 0) return "marrowdeep " MARROWDEEP_VERSION "\n";
    return nullptr;
}
}  // namespace

int main(int argc, char **argv) {
    // The answer comes before the console is started: nothing is cleared, and the terminal and
    // the console keep their modes.
    if (const char *answer = command_line_answer(argc, argv)) {
        std::fputs(answer, stdout);
        return 0;
    }

    console_start();
    CLEAR();

    // The hero is made before anything is seeded or catalogued, so every game starts with the
    // same stats and with empty items.
    _P_ = SummonAI(1, true);

    say("Please insert your name:");
    _P_.name = read_word();
    terminal_setup();

    if (_P_.name == "QZRV") _P_.exp = clamp_int(_P_.exp + 10000LL);
    if (_P_.name == "VORTEX") {
        _P_.base_atk = 10000;
        _P_.max_hp = 1919810;
        _P_.real_hp = 114514;
        CheatMode = true;
    }
    for (int &b : _P_.buff) b = 0;
    _P_.scrolls.clear();

    say("Random Seed?(y/n)\n");
    char op = read_answer();
    if (op == 'y') {
        seed = clock_now();
    } else {
        say("\nInput Seed:");
        seed = read_number(LLONG_MIN, LLONG_MAX);
    }

    say("Strength(1)/Tactics(2)?\n");
    int x = static_cast<int>(read_number(INT_MIN, INT_MAX));
    pref = x != 1;

    CLEAR();
    plant_seed(static_cast<unsigned>(seed));
    std::memset(maze, '#', sizeof maze);
    FightItemINIT();
    kruskal();
    Game(Sx, Sy);
    return 0;
}
