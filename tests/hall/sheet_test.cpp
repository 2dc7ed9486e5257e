// A run's sheet against the Linux program: the status screen at the top of the sheet must be the
// screen the program shows in a real terminal (tmux) for the same keys with b pressed where the
// run pressed its last key, q on the map.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "fuzz/streams.h"
#include "terminal/tmux_pane.h"
#include "tests/hall/hall_fixture.h"

namespace {
bool printable(const std::string &name) {
    for (char c : name)
        if (c < 0x21 || c > 0x7E) return false;
    return true;
}

// A long game from the generated tours that a hero left with q on the map, having risen a
// level or more, under a name a terminal shows as it is.
bool found_game(RUN &run, PROOF &proof) {
    for (std::uint64_t index = 0; index < 400; ++index) {
        Stream stream = make_stream(37, index);
        if (stream.kind != "tour") continue;
        run = RUN{stream.bytes, false, 0, MARROWDEEP_VERSION};
        proof = prove(run);
        if (!proof.ok || proof.record.ending != "quit" || proof.record.level < 2 || proof.record.clock ||
            !printable(proof.record.name))
            continue;
        run.keys.resize(static_cast<std::size_t>(proof.record.keys));
        if (run.keys.back() == 'q') return true;
    }
    return false;
}
}  // namespace

TEST_F(HallTest, TheSheetIsTheStatusScreenTheProgramDraws) {
    RUN run;
    PROOF proof;
    ASSERT_TRUE(found_game(run, proof));
    KEPT_RUN kept;
    kept.id = "sheet-run";
    kept.record = proof.record;
    kept.submitted = PINNED_SECONDS;
    kept.link = write_run_link(run);
    ASSERT_EQ(store->add(kept, kept), ADDED::fresh);
    ANSWER sheet = get("/api/runs/sheet-run/sheet");
    ASSERT_EQ(sheet.status, 200) << sheet.body;
    EXPECT_EQ(sheet.content_type, "text/plain; charset=utf-8");
    // A run's sheet does not change for one build: kept a day by browsers and proxies.
    EXPECT_EQ(sheet.headers,
              (std::vector<std::pair<std::string, std::string>>{{"Cache-Control", "public, max-age=86400"}}));
    const std::vector<std::string> lines = split_lines(sheet.body);
    const auto blank = std::find(lines.begin(), lines.end(), "");
    ASSERT_NE(blank, lines.end()) << sheet.body;
    const std::vector<std::string> screen(lines.begin(), blank);

    // The program gets the keys from a file, the q made a b; it draws the status screen, finds
    // no more keys and ends, and the pane keeps what it drew.
    const std::string keys = folder + "/keys";
    std::ofstream(keys, std::ios::binary) << run.keys.substr(0, run.keys.size() - 1) + "b";
    TmuxPane pane;
    // A sanitized build's program takes the library after its own runtime.
    ASSERT_TRUE(
        pane.start("env -i PATH=/usr/bin:/bin TERM=screen ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD=" +
                   shell_quote(FAST_CONSOLE_LIBRARY) + " FAST_CONSOLE_REAL_CLEARS=1 " +
                   shell_quote(MARROWDEEP_PROGRAM) + " < " + shell_quote(keys) + "; exec sleep 600"));
    ASSERT_TRUE(pane.wait_for("Press 'd' for drugs", 20)) << pane.screen();
    // The terminal keeps no blanks at the ends of rows; the sheet keeps the game's.
    std::vector<std::string> shown = pane.rows();
    while (!shown.empty() && shown.back().empty()) shown.pop_back();
    std::vector<std::string> trimmed;
    for (const std::string &row : screen) trimmed.push_back(rtrim(row));
    EXPECT_EQ(trimmed, shown) << sheet.body;
    ASSERT_EQ(screen.size(), 10u);
    EXPECT_EQ(screen[0], proof.record.name);
    // The hero carries what the game gave it on the way: not a new hero's screen.
    EXPECT_NE(screen[1], "YOUR WEAPON:");
    EXPECT_NE(screen[2], "YOUR ARMOR:");

    // Then the run's facts.
    const std::vector<std::string> facts(blank + 1, lines.end());
    EXPECT_EQ(facts, (std::vector<std::string>{
                         "name: " + proof.record.name,
                         "seed: " + std::to_string(proof.record.seed) + " (typed)",
                         "build: " MARROWDEEP_VERSION +
                             std::string(proof.record.mode == "plain" ? "" : " (" + proof.record.mode + ")"),
                         "ending: quit" + std::string(proof.record.boss ? " (a boss beaten)" : ""),
                         "level: " + std::to_string(proof.record.level) + ", experience " +
                             std::to_string(proof.record.experience),
                         "keys: " + std::to_string(run.keys.size()),
                         "when: 2026-12-08T14:05:09Z",
                         "id: sheet-run",
                     }));
    // A run not kept yet may be kept later: its 404 is not kept.
    ANSWER missing = get("/api/runs/0123456789abcdef0123456789abcdef/sheet");
    EXPECT_EQ(missing.status, 404);
    EXPECT_TRUE(missing.headers.empty());
}
