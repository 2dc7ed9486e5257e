// The status screen, the drug bag behind it, and drinking a drug.
#include <algorithm>

#include "character/character.h"
#include "console/console.h"
#include "state/state.h"

const char *drug_suffix(const DRUG &drug) {
    if (drug.name == little_heart.name) return " (+100hp)\n";
    if (drug.name == broken_heart.name) return " (+200hp)\n";
    return "\n";
}

void drink(PLAYER &plr, int d) {
    say(plr.bag[d].name);
    say("\n");
    say("gulugulugulugulu\n");
    drink_animation();
    const int h = plr.bag[d].hp_add;
    for (int i = d; i < plr.drug_num; ++i) plr.bag[i] = plr.bag[i + 1];
    plr.drug_num -= 1;
    plr.real_hp = clamp_int(std::min<long long>(plr.max_hp, static_cast<long long>(plr.real_hp) + h));
    sayf("Done! And now your hp is %d!\n", plr.real_hp);
}

namespace {
// The drug bag. Returns true when the player asks to see the status screen again.
bool drug_bag(PLAYER &you) {
    CLEAR();
    say("DRUG BAG\n");
    for (int k = 1; k <= you.drug_num; ++k) {
        sayf("%d.", k);
        say(you.bag[k].name);
        say(drug_suffix(you.bag[k]));
    }
    const char key = single_key();
    if (key == 'x' || key == 'X') return true;
    if (key >= '0' && key <= '9') {
        const int d = key - '0';
        if (d == 0 || d > you.drug_num)
            say("You don't have enough drugs :(\n");
        else
            drink(you, d);
    }
    return false;
}
}  // namespace

void draw_status(PLAYER &you) {
    CLEAR();
    yellow(you.name);
    say("\n");
    say("YOUR WEAPON:");
    say(you.wea.name);
    say("\n");
    say("YOUR ARMOR:");
    say(you.arm.name);
    say("\n");
    sayf("DAMAGE:%d\n", getval(clamp_int(static_cast<long long>(you.base_atk) + you.wea.atk), you.buff[2]));
    sayf("CRIT_CHANCE:%.1lf%%\n", (static_cast<long long>(you.wea.more_atk_rand) + you.buff[5]) / 10.0);
    sayf("CRIT_DMG:%.1lf%%\n", (static_cast<long long>(you.wea.more_atk) + you.buff[3]) / 10.0);
    sayf("DODGE_CHANCE:%.1lf%%\n",
         std::min(80.0, (static_cast<long long>(you.arm.sb_rand) + you.buff[6]) / 10.0));
    say("DEFENCE: ");
    say_double(you.arm.percent_dr);
    say("\n");
    sayf("LIFE: %d\n", you.max_hp);
    say("Press 'd' for drugs, 's' to configure scrolls, and 'x' to exit\n");
}

void printplr(PLAYER &you) {
    // Each pass is one showing of the screen; leaving the newest showing leaves them all.
    for (;;) {
        draw_status(you);
        const char key = single_key();
        if (key == 'd' || key == 'D') {
            if (drug_bag(you)) continue;
            return;
        }
        if (key == 's' || key == 'S') {
            ConfigScroll(you);
            continue;
        }
        return;
    }
}
