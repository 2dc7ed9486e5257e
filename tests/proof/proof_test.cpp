// The proof in process: its refusals, the record's fields the keys fix on their own, and the same
// record from the same keys however many games were proved before, whichever way they ended.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "fuzz/streams.h"
#include "hall/proof.h"

namespace {

RUN run_of(const std::string &keys) { return RUN{keys, false, 0, MARROWDEEP_VERSION}; }

std::string saved(const std::string &name) {
    std::ifstream file(std::string(FUZZ_REGRESSIONS_DIR) + "/" + name, std::ios::binary);
    std::ostringstream all;
    all << file.rdbuf();
    return all.str();
}

bool same(const RECORD &a, const RECORD &b) {
    return a.name == b.name && a.seed == b.seed && a.clock == b.clock && a.version == b.version &&
           a.ending == b.ending && a.level == b.level && a.experience == b.experience && a.boss == b.boss &&
           a.keys == b.keys && a.mode == b.mode;
}

std::string shown(const PROOF &p) {
    if (!p.ok) return std::to_string(p.status) + " " + p.error;
    const RECORD &r = p.record;
    return r.name + " seed " + std::to_string(r.seed) + (r.clock ? " (clock)" : "") + " " + r.ending +
           " lv " + std::to_string(r.level) + " exp " + std::to_string(r.experience) +
           (r.boss ? " boss" : "") + " keys " + std::to_string(r.keys) + " " + r.mode;
}

TEST(Proof, AnotherVersionIsRefused) {
    for (const char *version : {"2.2", "", "2.3 ", "2.30"}) {
        const PROOF p = prove(RUN{"hero\nn\n7\n1\nq", false, 0, version});
        EXPECT_FALSE(p.ok);
        EXPECT_EQ(p.status, 422) << version;
        EXPECT_FALSE(p.error.empty());
    }
}

TEST(Proof, TheClocksSecondComesFromTheLink) {
    const PROOF without = prove(run_of("hero\ny\n1\nq"));
    EXPECT_FALSE(without.ok);
    EXPECT_EQ(without.status, 400);
    EXPECT_FALSE(without.error.empty());

    const PROOF with = prove(RUN{"hero\ny\n1\nq", true, -42, MARROWDEEP_VERSION});
    ASSERT_TRUE(with.ok) << with.error;
    EXPECT_EQ(with.record.seed, -42);
    EXPECT_TRUE(with.record.clock);
    // A second in a link whose game typed its seed changes nothing.
    const PROOF typed = prove(RUN{"hero\nn\n-42\n1\nq", true, 99, MARROWDEEP_VERSION});
    ASSERT_TRUE(typed.ok) << typed.error;
    EXPECT_EQ(typed.record.seed, -42);
    EXPECT_FALSE(typed.record.clock);
    EXPECT_EQ(with.record.level, typed.record.level);
}

// The budget counts the bytes the game writes, eight to a draw, as well as its draws: a game
// whose draws fit but whose writing does not is refused, at the very byte where it passes.
TEST(Proof, TheBudgetCountsWhatTheGameWrites) {
    const RUN run = run_of("hero\nn\n7\n1\nddssddssq");
    const PROOF played = prove(run);
    ASSERT_TRUE(played.ok) << played.error;
    ASSERT_GT(played.draws, 0);
    // The maze and the map at each key: many kilobytes, far more than the draws' worth.
    ASSERT_GT(played.written, 8 * played.draws);
    const long long spent = played.draws + played.written / PROOF_BYTES_PER_DRAW;
    EXPECT_EQ(shown(prove_within(run, spent)), shown(played));
    const PROOF short_by_one = prove_within(run, spent - 1);
    EXPECT_FALSE(short_by_one.ok);
    EXPECT_EQ(short_by_one.status, 400);
    EXPECT_FALSE(prove_within(run, played.draws).ok);
    // Refused, nothing is left behind: the same game then proves as before.
    EXPECT_EQ(shown(prove(run)), shown(played));
}

TEST(Proof, WhatTheKeysAloneTell) {
    // "hero\n" "n\n" "7\n" "1": the seed and the build; the line end after the 1 is the first key
    // on the map (it does nothing), then q. The keys after q are not read.
    const PROOF p = prove(run_of("hero\nn\n7\n1\nqwasd"));
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.record.name, "hero");
    EXPECT_EQ(p.record.seed, 7);
    EXPECT_FALSE(p.record.clock);
    EXPECT_EQ(p.record.version, MARROWDEEP_VERSION);
    EXPECT_EQ(p.record.ending, "quit");
    EXPECT_EQ(p.record.keys, 12);
    EXPECT_EQ(p.record.level, 1);
    EXPECT_EQ(p.record.experience, 0);
    EXPECT_FALSE(p.record.boss);
    EXPECT_EQ(p.record.mode, "plain");

    // The hidden modes, and the 10,000 experience the first one starts with.
    const PROOF qzrv = prove(run_of("QZRV\nn\n7\n1\nq"));
    ASSERT_TRUE(qzrv.ok);
    EXPECT_EQ(qzrv.record.mode, "QZRV");
    EXPECT_EQ(qzrv.record.experience, 10000);
    const PROOF vortex = prove(run_of("VORTEX\nn\n7\n1\nq"));
    ASSERT_TRUE(vortex.ok);
    EXPECT_EQ(vortex.record.mode, "VORTEX");
    const PROOF near = prove(run_of("vortex\nn\n7\n1\nq"));
    ASSERT_TRUE(near.ok);
    EXPECT_EQ(near.record.mode, "plain");

    // Keys that run out: the game read every one of them.
    for (const std::string &keys : {std::string(""), std::string("   \n"), std::string("hero"),
                                    std::string("hero\nn\n12"), std::string("hero\nn\n7\n1\nsdsd")}) {
        const PROOF out = prove(run_of(keys));
        ASSERT_TRUE(out.ok) << out.error;
        EXPECT_EQ(out.record.ending, "unfinished") << keys;
        EXPECT_EQ(out.record.keys, static_cast<long long>(keys.size())) << keys;
    }
    // A name of bytes of every kind but blanks, kept as it was read.
    const std::string name = "\x01\xff\x80h\xc3\xa9";
    const PROOF odd = prove(run_of(name + "\nn\n7\n1\nq"));
    ASSERT_TRUE(odd.ok);
    EXPECT_EQ(odd.record.name, name);
}

TEST(Proof, RefreshDeathAndBossFromSavedGames) {
    const PROOF refresh = prove(run_of(saved("refresh-until-death.bin")));
    ASSERT_TRUE(refresh.ok) << refresh.error;
    EXPECT_EQ(refresh.record.ending, "fell");
    const PROOF boss = prove(run_of(saved("boss-fight-both-die.bin")));
    ASSERT_TRUE(boss.ok) << boss.error;
    EXPECT_TRUE(boss.record.boss);
}

// Every game proved again after all the others gives the very same record: nothing of one game
// is left for the next, however it ended (q, the refresh's cost, a lost fight, the keys running
// out, the budget).
TEST(Proof, TheSameKeysTwiceGiveTheSameRecord) {
    std::vector<RUN> runs = {
        run_of("hero\nn\n7\n1\nq"),
        run_of(saved("refresh-until-death.bin")),
        run_of(saved("boss-fight-both-die.bin")),
        run_of(saved("tier-then-every-scroll.bin")),
        run_of(saved("nul-and-ff-keys.bin")),
        run_of(saved("numbers-beyond-every-range.bin")),
        RUN{saved("seed-from-the-clock.bin"), true, 1767225600, MARROWDEEP_VERSION},
        run_of("QZRV\nn\n7\n1\nsdsd"),
        run_of("VORTEX\nn\n3\n2\nb"),
    };
    std::vector<PROOF> first;
    for (const RUN &run : runs) first.push_back(prove(run));
    std::vector<std::string> endings;
    for (const PROOF &p : first) endings.push_back(p.ok ? p.record.ending : "refused");
    for (const char *ending : {"quit", "fell", "unfinished"})
        EXPECT_NE(std::find(endings.begin(), endings.end(), ending), endings.end()) << ending;

    // Over the budget: refused, with nothing left behind either.
    const PROOF over = prove_within(runs[3], 1000);
    EXPECT_FALSE(over.ok);
    EXPECT_EQ(over.status, 400);
    EXPECT_FALSE(over.error.empty());
    EXPECT_EQ(shown(prove_within(runs[3], 1000)), shown(over));

    // Backwards, then each right after every other one.
    for (std::size_t i = runs.size(); i-- > 0;)
        EXPECT_EQ(shown(prove(runs[i])), shown(first[i])) << "run " << i;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        for (std::size_t j = 0; j < runs.size(); ++j) {
            prove(runs[j]);
            const PROOF again = prove(runs[i]);
            EXPECT_EQ(shown(again), shown(first[i])) << "run " << i << " after run " << j;
            EXPECT_TRUE(!again.ok || same(again.record, first[i].record));
        }
        prove_within(runs[3], 1000);
        EXPECT_EQ(shown(prove(runs[i])), shown(first[i])) << "run " << i << " after one over the budget";
    }
}

// Proofs on four threads at once, each game on its own thread's state with no lock: thousands of
// generated games (and the saved ones) give exactly the answers, records, draws and bytes written
// they give proved one by one.
TEST(ProofThreads, ManyAtOnceOnFourThreads) {
    std::vector<RUN> runs = {
        run_of(saved("tier-then-every-scroll.bin")),
        run_of(saved("refresh-until-death.bin")),
        run_of(saved("boss-fight-both-die.bin")),
        RUN{saved("seed-from-the-clock.bin"), true, 1767225600, MARROWDEEP_VERSION},
        run_of("QZRV\nn\n7\n1\nsdsd"),
    };
    for (std::uint64_t n = 0; n < 2000; ++n) {
        const Stream stream = make_stream(1 + n % 2, n);
        runs.push_back(RUN{stream.bytes.substr(0, MOST_RUN_KEYS), n % 3 == 0,
                           1767225600 + static_cast<long long>(n), MARROWDEEP_VERSION});
    }
    std::vector<PROOF> alone;
    for (const RUN &run : runs) alone.push_back(prove(run));

    std::vector<PROOF> together(runs.size());
    std::atomic<std::size_t> next{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (std::size_t i; (i = next++) < runs.size();) together[i] = prove(runs[i]);
        });
    for (std::thread &thread : threads) thread.join();

    int endings[3] = {};
    for (std::size_t i = 0; i < runs.size(); ++i) {
        ASSERT_EQ(shown(together[i]), shown(alone[i])) << "run " << i;
        EXPECT_TRUE(!alone[i].ok || same(together[i].record, alone[i].record)) << "run " << i;
        EXPECT_EQ(together[i].draws, alone[i].draws) << "run " << i;
        EXPECT_EQ(together[i].written, alone[i].written) << "run " << i;
        const std::string &ending = alone[i].record.ending;
        if (alone[i].ok) ++endings[ending == "quit" ? 0 : ending == "fell" ? 1 : 2];
    }
    // The games end every way, so each way is proved side by side with the others.
    for (int count : endings) EXPECT_GT(count, 0);
}

}  // namespace
