#include "terminal/screens.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <regex>

#include "console/console.h"
#include "terminal/tmux_pane.h"

std::string column_row(const std::string &left, const std::string &right) {
    std::string row = left;
    if (row.size() < 33) row.append(33 - row.size(), ' ');
    return row + "|    " + right;
}

int threshold(int lv) { return static_cast<int>(std::pow(1.5, lv + 1)); }

int with_bonus(int base, int per_mille) {
    return static_cast<int>(static_cast<double>(per_mille + 1000) / 1000.0 * static_cast<double>(base));
}

namespace {
std::string level_text(const PLAYER &c) {
    return "LV:" + std::to_string(c.lv) + "(" + std::to_string(c.exp) + "/" +
           std::to_string(threshold(c.lv)) + ")   " + c.name;
}
}  // namespace

std::vector<std::string> fight_screen(const PLAYER &left, const PLAYER &right) {
    auto hp = [](const PLAYER &c) {
        return "HP : " + std::to_string(c.real_hp) + "/" + std::to_string(c.max_hp);
    };
    auto es = [](const PLAYER &c) {
        return "ES : " + std::to_string(c.real_es) + "/" + std::to_string(c.max_es + c.arm.es);
    };
    std::vector<std::string> rows = {
        column_row(level_text(left), level_text(right)),
        column_row("WEAPON : " + left.wea.name, "WEAPON : " + right.wea.name),
        column_row("ARMOR : " + left.arm.name, "ARMOR : " + right.arm.name),
        column_row(hp(left), hp(right)),
        column_row(es(left), es(right)),
        "Press k to attack , K to accumulate power , 1/2/3 to use your drugs.",
        "DRUG BAG",
    };
    for (int k = 1; k <= left.drug_num; ++k) {
        const std::string &name = left.bag[k].name;
        const char *suffix = name == "Little Heart (o)"   ? " (+100hp)"
                             : name == "Broken Heart (0)" ? " (+200hp)"
                                                          : "";
        rows.push_back(std::to_string(k) + "." + name + suffix);
    }
    rows.push_back("");
    rows.push_back("");
    return rows;
}

std::string map_screen_report(const std::vector<std::string> &shown, size_t first, const PLAYER &hero,
                              long long seed, const std::vector<std::string> &map) {
    const std::string margin(11, ' ');
    if (std::string report = compare_rows(shown, first, {"          Marrowdeep RELEASE v2.3"});
        !report.empty())
        return report;
    // The credit line: 14 blanks and a text of the game's own.
    const std::string credit = first + 1 < shown.size() ? shown[first + 1] : "";
    if (credit.size() <= 14 || credit.substr(0, 14) != std::string(14, ' ') || credit[14] == ' ')
        return "row " + std::to_string(first + 1) + " is no credit line: [" + credit + "]";
    const std::vector<std::string> header = {
        "",
        "wasd and q to exit,  b to configure,  p to enter the tier",
        "*:supplies   &:monster  #:wall  !:boss  $:refresh",
        std::string(52, '-'),
        margin + hero.name + " LV:" + std::to_string(hero.lv) + " HP:" + std::to_string(hero.real_hp) + "/" +
            std::to_string(hero.max_hp) + " ES:" + std::to_string(hero.real_es) + "/" +
            std::to_string(hero.max_es),
        margin + "WEAPON:" + hero.wea.name + " ARMOR:" + hero.arm.name,
        margin + "Seed: " + std::to_string(seed),
    };
    if (std::string report = compare_rows(shown, first + 2, header); !report.empty()) return report;
    return compare_rows(shown, first + 9, map);
}

std::optional<LineMode> line_mode(const std::string &tty) {
    const int fd = open(tty.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    termios mode{};
    const bool read_ok = tcgetattr(fd, &mode) == 0;
    close(fd);
    if (!read_ok) return std::nullopt;
    return LineMode{(mode.c_lflag & ICANON) != 0, (mode.c_lflag & ECHO) != 0};
}

std::string compare_rows(const std::vector<std::string> &shown, size_t first,
                         const std::vector<std::string> &expected) {
    for (size_t i = 0; i < expected.size(); ++i) {
        const std::string got = first + i < shown.size() ? rtrim(shown[first + i]) : "<no row>";
        if (got != rtrim(expected[i]))
            return "row " + std::to_string(first + i) + ":\n  shown:    [" + got + "]\n  expected: [" +
                   rtrim(expected[i]) + "]";
    }
    return "";
}

std::vector<std::string> strike(const PLAYER &attacker, PLAYER &target) {
    std::vector<std::string> lines;
    int damage = with_bonus(attacker.base_atk + attacker.wea.atk, attacker.buff[2]);
    const int critical_chance = attacker.wea.more_atk_rand + attacker.buff[5];
    const int critical_damage = attacker.wea.more_atk + attacker.buff[3];
    const int dodge_chance = std::min(800, target.arm.sb_rand + target.buff[6]);
    if (roll() % 1000 < critical_chance) {
        lines.push_back("CRITICAL HIT!");
        damage = with_bonus(damage, critical_damage);
    }
    if (roll() % 1000 < dodge_chance) {
        lines.push_back("MISS!");
        return lines;
    }
    damage = with_bonus(damage - target.arm.dr, -static_cast<int>(target.arm.percent_dr));
    if (damage <= 0) damage = 1;
    if (damage <= target.arm.es) {
        target.arm.es -= damage;
    } else if (damage <= target.arm.es + target.real_es) {
        target.arm.es = 0;
        target.real_es -= damage;
    } else {
        target.arm.es = 0;
        target.real_es = 0;
        target.real_hp -= damage;
    }
    lines.push_back("Done! And " + attacker.name + "'s damage is " + std::to_string(damage) + "!");
    return lines;
}

std::vector<std::string> enemy_acts(PLAYER &enemy, PLAYER &hero) {
    if (enemy.real_hp * 2 < enemy.max_hp && enemy.drug_num > 0) {
        int best = 1;
        for (int k = 2; k <= enemy.drug_num; ++k)
            if (enemy.bag[k].hp_add > enemy.bag[best].hp_add) best = k;
        const int heal = enemy.bag[best].hp_add;
        for (int k = best; k < enemy.drug_num; ++k) enemy.bag[k] = enemy.bag[k + 1];
        enemy.drug_num -= 1;
        enemy.real_hp = std::min(enemy.max_hp, enemy.real_hp + heal);
        return {"duluduluduludulu", enemy.name + "'s hp now is " + std::to_string(enemy.real_hp) + "!"};
    }
    std::vector<std::string> lines = {enemy.name + " attacks you !"};
    for (auto &line : strike(enemy, hero)) lines.push_back(line);
    return lines;
}

const std::vector<std::string> cheat_hero_status = {
    "VORTEX",
    "YOUR WEAPON:",
    "YOUR ARMOR:",
    "DAMAGE:10000",
    "CRIT_CHANCE:0.0%",
    "CRIT_DMG:0.0%",
    "DODGE_CHANCE:0.0%",
    "DEFENCE: 0",
    "LIFE: 1919810",
    "Press 'd' for drugs, 's' to configure scrolls, and 'x' to exit"};

std::string cheat_hero_lines_report(const std::vector<std::string> &rows, const PLAYER &hero) {
    if (rows.size() < 8) return "the map screen is too short";
    std::string report;
    if (!std::regex_match(rows[6],
                          std::regex(R"( {11}VORTEX LV:[0-9]+ HP:[0-9]+/1919810 ES:-?[0-9]+/[0-9]+)")))
        report += "status line: " + rows[6] + "\n";
    const std::string items = rtrim("           WEAPON:" + hero.wea.name + " ARMOR:" + hero.arm.name);
    if (rtrim(rows[7]) != items) report += "items line: " + rows[7] + " (expected " + items + ")\n";
    return report;
}
