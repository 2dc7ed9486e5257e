// Loot for the hero: a weapon or armour offered against the one held, a drug while the bag has
// room, or a new scroll.
#include "character/character.h"
#include "console/console.h"
#include "state/state.h"

namespace {
void show_weapon(const WEAPON &w) {
    sayf("%s (atk:%d critical dmg:%.1lf%%, crit chance:%.1lf%%)\n", w.name.c_str(), w.atk, w.more_atk / 10.0,
         w.more_atk_rand / 10.0);
}

void show_armor(const ARMOR &a) {
    sayf("%s (defense:%.1lf shield:%d MISS:%.1lf%%)\n", a.name.c_str(), a.percent_dr / 10, a.es,
         ttop(a.sb_rand));
}

void picked(const std::string &name) {
    say("You pick ");
    say(name);
    say(" !\n");
}

// Offers a new item against the one held; only a lower-case y takes it.
template <typename ITEM>
void offer(ITEM &held, const ITEM &found, bool holding, void (*show)(const ITEM &)) {
    if (holding) {
        say("Change ?\n");
        show(held);
        show(found);
        say("(y / n)\n");
        if (single_key() != 'y') return;
    }
    held = found;
    picked(found.name);
}

void pick_weapon() {
    const int r = roll() % 7;
    const WEAPON &found = r <= 2 ? iron_sword : r <= 4 ? diamond_sword : r == 5 ? end_sword : strange_sword;
    offer(_P_.wea, found, _P_.wea.atk != 0, show_weapon);
}

void pick_armor() {
    const int r = roll() % 5;
    const ARMOR &found = r <= 1 ? iron_armor : r <= 3 ? gold_armor : happy_armor;
    offer(_P_.arm, found, _P_.arm.dr != 0, show_armor);
}

void pick_drug() {
    if (_P_.drug_num > MAX_DRUG_NUM) {
        say("You don't have enough place for more drugs :(\n");
        return;
    }
    const DRUG &found = roll() % 3 <= 1 ? little_heart : broken_heart;
    _P_.drug_num += 1;
    _P_.bag[_P_.drug_num] = found;
    picked(found.name);
}

void pick_scroll() {
    SCROLL s = spawnscroll(_P_.lv);
    say("YOU GOT A SCROLL!\n");
    printscroll(s);
    _P_.scrolls.push_back(s);
}
}  // namespace

void Pick(int type) {
    const int kind = type == -1 ? roll() % 3 : type;
    switch (kind) {
        case 0: pick_weapon(); break;
        case 1: pick_armor(); break;
        case 2: pick_drug(); break;
        default: pick_scroll(); break;
    }
    PAUSE(1);
}
