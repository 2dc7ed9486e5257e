// marrowdeep-watch: a live game of a hall, watched in a terminal. Given a hall's address it lists
// the games played there now and asks which one; given a watch link it watches that game.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "watch/address.h"
#include "watch/hall_link.h"
#include "watch/listing.h"
#include "watch/watching.h"

namespace {
const char *const help =
    "Usage: marrowdeep-watch [--help | --version] ADDRESS\n"
    "\n"
    "Watches a game of Marrowdeep played live on a hall, in this terminal, as the\n"
    "player sees it. ADDRESS is a hall (http://host:port), whose live games are\n"
    "listed to choose from, or a watch link of one game\n"
    "(http://host:port/watch.html?id=ID, or http://host:port/api/live/ID/watch,\n"
    "or the same with ws://). Plain http:// and ws:// only.\n"
    "\n"
    "A game joined half-way is shown as it stands, then goes on as it is played.\n"
    "Press q (or Ctrl-C) to leave at any time.\n"
    "\n"
    "Options:\n"
    "  --help      show this help and exit\n"
    "  --version   show the version and exit\n"
    "\n"
    "The manual: man marrowdeep-watch\n";

int refuse(const std::string &sentence) {
    std::fprintf(stderr, "marrowdeep-watch: %s\n", sentence.c_str());
    return 1;
}

// Shows the hall's live games and asks which one: its id, or empty to leave.
std::string choose_game(const HALL_ADDRESS &hall, int &status) {
    status = 0;
    const HALL_ANSWER answer = fetch_live_list(hall);
    if (!answer.ok) {
        status = refuse(answer.error);
        return "";
    }
    std::vector<LIVE_ROW> rows;
    std::string error;
    if (!read_live_list(answer.body, rows, error)) {
        status = refuse(error);
        return "";
    }
    if (rows.empty()) {
        std::printf("No game is played live on %s now.\n", visible_text(host_field(hall)).c_str());
        return "";
    }
    std::printf("Games played live on %s, the newest first:\n", visible_text(host_field(hall)).c_str());
    for (std::size_t i = 0; i < rows.size(); ++i) std::printf("%3zu. %s\n", i + 1, rows[i].shown.c_str());
    for (;;) {
        std::printf("Which game? (a number, q to leave) ");
        std::fflush(stdout);
        std::string line;
        if (!std::getline(std::cin, line) || line == "q" || line == "Q") return "";
        std::size_t number = 0;
        bool digits = !line.empty() && line.size() < 6;
        for (char c : line) {
            if (c < '0' || c > '9') digits = false;
            if (digits) number = number * 10 + static_cast<std::size_t>(c - '0');
        }
        if (digits && number >= 1 && number <= rows.size()) {
            if (!plausible_game_id(rows[number - 1].id)) {
                status = refuse("The hall's list has a game id no hall gives.");
                return "";
            }
            return rows[number - 1].id;
        }
        std::printf("There is no game %s in the list.\n", visible_text(line, 20).c_str());
    }
}
}  // namespace

int main(int argc, char **argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(help, stdout);
        return 0;
    }
    if (argc >= 2 && std::strcmp(argv[1], "--version") == 0) {
        std::fputs("marrowdeep-watch " MARROWDEEP_VERSION "\n", stdout);
        return 0;
    }
    if (argc != 2) {
        std::fputs("Usage: marrowdeep-watch [--help | --version] ADDRESS\n", stderr);
        return 2;
    }
    HALL_ADDRESS address = read_hall_address(argv[1]);
    if (!address.ok) return refuse(address.error);
    if (address.game.empty()) {
        int status = 0;
        address.game = choose_game(address, status);
        if (address.game.empty()) return status;
    }
    watch_game(address);
}
