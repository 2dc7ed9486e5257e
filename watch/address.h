// Where to watch: a hall's address, or a watch link of one of its live games, as the watcher
// types it. A hall is given as http://host:port (its list of live games is asked for); a game
// as the page's watch link (http://host:port/watch.html?id=ID), the socket's own address
// (http://host:port/api/live/ID/watch), or the same with ws://.
#pragma once

#include <string>

struct HALL_ADDRESS {
    bool ok = false;
    std::string error;  // the sentence when not ok
    std::string host;   // a name or an address, IPv6 without its brackets
    std::string port;   // 80 when not given
    std::string game;   // the live game's id, empty for the hall's list
};

HALL_ADDRESS read_hall_address(const std::string &text);

// Whether an id is one the hall could have given: 1 to 64 hexadecimal digits.
bool plausible_game_id(const std::string &id);

// The host and port as an HTTP Host field writes them.
std::string host_field(const HALL_ADDRESS &address);
