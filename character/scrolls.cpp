// Scrolls: making one, showing one, their order, and the hero's scroll configuration with its
// limit of four per type and its set bonuses.
#include <algorithm>
#include <climits>
#include <vector>

#include "character/character.h"
#include "console/console.h"
#include "state/state.h"

SCROLL spawnscroll(int lv) {
    SCROLL s;
    s.type = (roll() % 2) * 3 + 1;
    if (s.type == 1) {
        s.effect[2] = (roll() % 8 + 8 + std::min(lv, 15)) * 10;
        s.effect[3] = (roll() % 8 + 8 + std::min(lv, 15)) * 10;
    } else {
        s.effect[5] = (roll() % 6 + std::min(lv, 10)) * 10;
        s.effect[6] = (roll() % 6 + std::min(lv, 10)) * 10;
    }
    return s;
}

namespace {
// One of a scroll's values: its name, the joining words, then the value as a percent.
void say_value(const SCROLL &s, int k, const char *joiner) {
    say(scrollname[k]);
    say(joiner);
    say_double(ttop(s.effect[k]));
    say("%");
}
}  // namespace

void printscroll(SCROLL scr) {
    const int t = scr.type;
    say(scrollname[t]);
    say(" ");
    say_value(scr, t + 1, " ");
    say(" ");
    say_value(scr, t + 2, " ");
    say("\n");
}

bool cmp(SCROLL a, SCROLL b) {
    if (a.type == b.type) {
        const int t = a.type;
        if (a.effect[t + 1] != b.effect[t + 1]) return a.effect[t + 1] > b.effect[t + 1];
        return a.effect[t + 2] > b.effect[t + 2];
    }
    // The build's own type comes first.
    return pref ? a.type > b.type : a.type < b.type;
}

namespace {
void add_to(int &stat, long long amount) { stat = clamp_int(stat + amount); }

void apply(PLAYER &you, const SCROLL &s) {
    const int t = s.type;
    add_to(you.buff[t], 1);
    add_to(you.buff[t + 1], s.effect[t + 1]);
    add_to(you.buff[t + 2], s.effect[t + 2]);
    say_value(s, t + 1, " increased by ");
    say(", ");
    say_value(s, t + 2, " increased by ");
    say(".\n");
}

void award_set_bonuses(PLAYER &you) {
    const int s = you.buff[1];
    const int t = you.buff[4];
    say("special effects:\n");
    sayf("Strength:(%d)\n", s);
    if (s > 1) {
        say("atk +15%\n");
        add_to(you.buff[2], 150);
    }
    if (s > 3) {
        say("crit dmg +15%\n");
        add_to(you.buff[3], 150);
    }
    sayf("Tactics:(%d)\n", t);
    if (t > 1) {
        say("crit chance +10%\n");
        add_to(you.buff[5], 100);
    }
    if (t > 3) {
        say("crit chance +15%\n");
        add_to(you.buff[5], 150);
    }
}
}  // namespace

void ConfigScroll(PLAYER &you) {
    CLEAR();
    // The comparison goes into the sort itself rather than through a pointer, each scroll taken
    // by reference: the same comparisons in the same order, in little over half the code, which
    // the web page fetches.
    std::sort(you.scrolls.begin(), you.scrolls.end(),
              [](const SCROLL &a, const SCROLL &b) { return cmp(a, b); });
    for (int &b : you.buff) b = 0;
    // One mark per place in the list: taken, or refused for want of a slot.
    std::vector<bool> vis(you.scrolls.size(), false);
    const long long count = static_cast<long long>(you.scrolls.size());

    for (long long i = 0; i < count; ++i) {
        sayf("%lld:", i + 1);
        printscroll(you.scrolls[i]);
    }
    say("Enter the scrolls you wish to use...(0 to exit , -1 to auto select , you can only choose 8 "
        "scrolls)\n");

    for (;;) {
        const long long x = read_number(INT_MIN, INT_MAX);
        say("\n");
        if (x == -1) {
            for (long long z = 0; z < std::min(8LL, count); ++z) {
                if (vis[z]) continue;
                apply(you, you.scrolls[z]);
                vis[z] = true;
            }
            break;
        }
        const long long pos = x - 1;
        if (pos < 0 || pos >= count) break;
        if (vis[pos]) continue;
        vis[pos] = true;
        const SCROLL &s = you.scrolls[pos];
        if (you.buff[s.type] == 4) {
            say("no slots left\n");
            continue;
        }
        apply(you, s);
    }

    award_set_bonuses(you);
    say("Done. Press any key to continue...\n");
    single_key();
    say("\n");
}
