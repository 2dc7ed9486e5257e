// What the game's screens must look like, written out from the game's rules, for comparing
// with what the terminal shows; and the terminal's line mode as the tests read it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "character/character.h"

// One row of the fight screen: the left text padded to 33 characters, a bar, the right text.
std::string column_row(const std::string &left, const std::string &right);

// Experience needed to rise from level `lv`.
int threshold(int lv);

// The fight screen below its clear, `left` in the left column: the five rows, the help line,
// the drug bag of `left` and the two empty lines.
std::vector<std::string> fight_screen(const PLAYER &left, const PLAYER &right);

// Checks a whole map screen from row `first` on: the banner, the hero's lines and the 17 map
// rows (see map_rows). Empty when all match, else what differs.
std::string map_screen_report(const std::vector<std::string> &shown, size_t first, const PLAYER &hero,
                              long long seed, const std::vector<std::string> &map);

// The status screen of the cheat-mode hero "VORTEX" at the start: no items, base attack 10000.
extern const std::vector<std::string> cheat_hero_status;

// Checks the cheat-mode hero's two status lines on the map (rows 6 and 7) after a fight, when
// the level, hit points and shield are whatever the fight left. Empty when they match.
std::string cheat_hero_lines_report(const std::vector<std::string> &rows, const PLAYER &hero);

// A per-mille bonus applied to a base, in double precision, truncated.
int with_bonus(int base, int per_mille);

struct LineMode {
    bool canonical = false;  // the terminal waits for Enter before handing a line over
    bool echo = false;       // the terminal shows what is typed
};
// The mode of a terminal device, read from outside; nothing when it cannot be read.
std::optional<LineMode> line_mode(const std::string &tty);

// Compares screen rows with expected ones, trailing blanks aside (the terminal does not keep
// them). Returns an empty string when they match, else a report of the first difference.
std::string compare_rows(const std::vector<std::string> &shown, size_t first,
                         const std::vector<std::string> &expected);

// One attack without a charge, drawn as the game draws it (a critical roll, then a dodge roll):
// changes `target` and gives the lines the attack prints.
std::vector<std::string> strike(const PLAYER &attacker, PLAYER &target);

// The enemy's action in its turn: a drink when below half its hit points with a drug left,
// else an attack. Gives the lines it prints.
std::vector<std::string> enemy_acts(PLAYER &enemy, PLAYER &hero);
