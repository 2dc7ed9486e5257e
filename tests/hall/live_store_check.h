// The live games' part of a store, checked alike on SQLite and PostgreSQL: a game begins with
// its first keys, batches come after them in order and only in order, the list is newest first,
// and an ended game leaves nothing; a signed start's key is kept with its game, byte for byte.
#pragma once

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "hall/store.h"

inline void check_live_store(STORE &store) {
    EXPECT_TRUE(store.live_games().empty());
    // A key of every byte value from 0xF0 on, and of the first 16 (a NUL first).
    std::string key;
    for (int i = 0; i < 32; ++i) key += static_cast<char>(i < 16 ? i : 0xE0 + i);
    LIVE_GAME_ROW older{"g1", "digest-1", "10.0.0.1", MARROWDEEP_VERSION, false, 0, 1000, 1000, 0, ""};
    LIVE_GAME_ROW newer{"g2", "digest-2", "10.0.0.2", MARROWDEEP_VERSION, true, 1796738709, 2000,
                        2000, 0,          key};
    // Bytes of every value, a NUL among them, are kept as they came.
    const std::string name("hero\n\0\xFF", 7);
    store.live_start(older, LIVE_BATCH{0, name, 1000});
    store.live_start(newer, LIVE_BATCH{0, "", 2000});
    store.live_append("g1", {LIVE_BATCH{7, "n\n4", 1500}, LIVE_BATCH{10, "2\n", 1700}});

    auto games = store.live_games();
    ASSERT_EQ(games.size(), 2u);
    EXPECT_EQ(games[0].id, "g2");
    EXPECT_TRUE(games[0].has_clock);
    EXPECT_EQ(games[0].clock, 1796738709);
    EXPECT_EQ(games[0].keys, 0);
    EXPECT_EQ(games[0].signer, key);
    EXPECT_EQ(games[1].id, "g1");
    EXPECT_EQ(games[1].token_digest, "digest-1");
    EXPECT_EQ(games[1].address, "10.0.0.1");
    EXPECT_EQ(games[1].version, MARROWDEEP_VERSION);
    EXPECT_FALSE(games[1].has_clock);
    EXPECT_EQ(games[1].started, 1000);
    EXPECT_EQ(games[1].last, 1700);
    EXPECT_EQ(games[1].keys, 12);
    EXPECT_EQ(games[1].signer, "");

    // A batch that does not begin where the keys held end (twice, or with a gap) adds nothing,
    // nor do the batches before it in the same call.
    EXPECT_THROW(store.live_append("g1", {LIVE_BATCH{12, "1", 1800}, LIVE_BATCH{10, "x", 1800}}),
                 std::logic_error);
    EXPECT_THROW(store.live_append("g1", {LIVE_BATCH{13, "x", 1800}}), std::logic_error);
    EXPECT_THROW(store.live_append("nobody", {LIVE_BATCH{0, "x", 1800}}), std::logic_error);

    auto batches = store.live_keys("g1");
    ASSERT_EQ(batches.size(), 3u);
    EXPECT_EQ(batches[0].at, 0);
    EXPECT_EQ(batches[0].keys, name);
    EXPECT_EQ(batches[0].sent, 1000);
    EXPECT_EQ(batches[1].at, 7);
    EXPECT_EQ(batches[1].keys, "n\n4");
    EXPECT_EQ(batches[2].at, 10);
    EXPECT_EQ(batches[2].keys, "2\n");
    EXPECT_EQ(batches[2].sent, 1700);
    EXPECT_EQ(store.live_games()[1].keys, 12);

    // A game begun before its first key (a page streaming from the name's question on) takes
    // its first keys at 0.
    EXPECT_TRUE(store.live_keys("g2").empty());
    store.live_append("g2", {LIVE_BATCH{0, "a", 2100}});
    ASSERT_EQ(store.live_keys("g2").size(), 1u);
    EXPECT_EQ(store.live_keys("g2")[0].keys, "a");

    store.live_end("g1");
    EXPECT_TRUE(store.live_keys("g1").empty());
    games = store.live_games();
    ASSERT_EQ(games.size(), 1u);
    EXPECT_EQ(games[0].id, "g2");
    store.live_end("g2");
    EXPECT_TRUE(store.live_games().empty());
}
