// Input streams for whole games, made from a fixed seed so that any stream can be made again.
//
// Three kinds:
//   bytes  - random bytes: NUL, 0xFF, control characters, blanks, huge and negative numbers,
//            words of any length (now and then one of 1 MiB), game keys, all mixed;
//   shaped - start-up answers (the hidden names included), then runs of map moves, fight keys,
//            visits to the status screen, the drug bag and the scroll configuration, tier
//            answers and loot or refresh answers;
//   tour   - like shaped, but the seed is known, so the maze is generated here too and the
//            moves walk real paths: to the boss, to the refresh tile, and all over the map.
// Every stream ends somewhere: at its natural end, or cut at a random byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct Stream {
    std::string bytes;
    std::string kind;                             // "bytes", "shaped" or "tour"
    std::size_t startup_end = std::string::npos;  // where the start-up answers end, if known
};

// The stream number `index` of the family `family`.
Stream make_stream(std::uint64_t family, std::uint64_t index);

// One mebibyte: the length of the longest words in the streams.
constexpr std::size_t GIANT_WORD = 1u << 20;
