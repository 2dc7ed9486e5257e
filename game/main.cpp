// The program: the answers to --help and --version, then the game (play_game).
#include <cstdio>
#include <cstring>

#include "game/game.h"

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

    play_game();
    return 0;
}
