// Every run a hall keeps, proved again with this build: what a keeper runs when a new version of
// the game is installed, to learn which records it would no longer give as they were kept.
#pragma once

#include <functional>
#include <string>

#include "hall/store.h"

// What differs between a kept run and its proof now, as one line for its keeper: "" when nothing
// does. The run's link must still be read, give the kept id, and prove to the same record.
std::string reproof_difference(const KEPT_RUN &kept);

struct REPROOF_COUNT {
    long long runs = 0;
    long long differing = 0;
};

// Proves every run of `store` again on `threads` threads, reading the runs a page at a time in
// the order they were kept (a few pages in memory at most, never all), and gives `report` a line
// for each one that differs ("ID: what differs"), in that order, from the thread that finds it.
// Store errors (STORE_DOWN, std::runtime_error) reach the caller once the runs taken are done.
REPROOF_COUNT reprove_all(STORE &store, int threads, const std::function<void(const std::string &)> &report);
