// A live game played on the watcher's terminal from the keys its hall relays, as the Linux
// program shows it: the game's own code on a host whose keys come from the hall, with the echo a
// terminal gives them, its clears and its pauses.
#pragma once

#include "watch/address.h"

// Watches the game at `address` (its id set) to its end, or until the watcher leaves (q) or the
// hall goes; puts the terminal back as it found it and ends the process with the status: 0 for
// the game's end and the watcher's q, 1 when the hall went or sent what a hall does not.
[[noreturn]] void watch_game(const HALL_ADDRESS &address);
