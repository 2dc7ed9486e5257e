// One attack: damage, charge, critical hit, dodge, armour, then the armour shield, the personal
// shield or the hit points. K + 2 draws in all: the charge rolls, the critical roll, the dodge.
#include <algorithm>

#include "combat/combat.h"
#include "console/console.h"
#include "state/state.h"

void Attack(PLAYER &plr, PLAYER &ai, int &K) {
    int damage = getval(clamp_int(static_cast<long long>(plr.base_atk) + plr.wea.atk), plr.buff[2]);
    int critchance = clamp_int(static_cast<long long>(plr.wea.more_atk_rand) + plr.buff[5]);
    int critdmg = clamp_int(static_cast<long long>(plr.wea.more_atk) + plr.buff[3]);
    int dodgechance = clamp_int(static_cast<long long>(ai.arm.sb_rand) + ai.buff[6]);

    if (K > 0) {
        sayf("Accumulated %d times!\n", K);
        int _b = 100;
        int k_rand = clamp_int(plr.lv * 10LL + 90);
        for (int i = 0; i < K; ++i) {
            k_rand = clamp_int(k_rand +
                               static_cast<long long>(l_r_rand(clamp_int(_b - 20LL), clamp_int(_b + 10LL))));
            _b = clamp_int(_b + 10LL);
        }
        damage = clamp_int(static_cast<long long>(damage) * k_rand / 100);
        critdmg = clamp_int(static_cast<long long>(critdmg) * k_rand / 100);
        K = 0;
        sayf("dmg enhanced to %d%%!\n", k_rand);
    }

    if (getchance(critchance)) {
        red("CRITICAL HIT!\n");
        damage = getval(damage, critdmg);
    }
    if (getchance(std::min(800, dodgechance))) {
        green("MISS!\n");
        return;
    }

    damage = clamp_int(static_cast<long long>(damage) - ai.arm.dr);
    damage = getval(damage, trunc_int(-ai.arm.percent_dr));
    if (damage <= 0) damage = 1;

    // The pool that takes the hit loses all of it; a pool passed over is emptied.
    if (damage <= ai.arm.es) {
        ai.arm.es -= damage;
    } else if (damage <= static_cast<long long>(ai.arm.es) + ai.real_es) {
        ai.arm.es = 0;
        ai.real_es = clamp_int(static_cast<long long>(ai.real_es) - damage);
    } else {
        ai.arm.es = 0;
        ai.real_es = 0;
        ai.real_hp = clamp_int(static_cast<long long>(ai.real_hp) - damage);
    }
    say("Done! And ");
    say(plr.name);
    sayf("'s damage is %d!\n", damage);
}
