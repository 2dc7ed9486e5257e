// The least a program can do to show the game's first map: clear the screen, print the start-up
// prompts, clear again and print the map. The latency benchmark times the game against it.
//
//   startup_baseline PROMPTS MAP
#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: startup_baseline PROMPTS MAP\n");
        return 2;
    }
    std::fflush(stdout);
    if (std::system("clear") == -1) return 1;
    std::fputs(argv[1], stdout);
    std::fflush(stdout);
    if (std::system("clear") == -1) return 1;
    std::fputs(argv[2], stdout);
    std::fflush(stdout);
    return 0;
}
