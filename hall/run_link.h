// A run as the web page's links carry it (the text after #run=): the link format's number, a
// flags byte (1: the game read the clock), the clock's second as a big-endian 64-bit number when
// it did, the game's version (a length byte and its bytes), the keys packed with raw DEFLATE,
// then a big-endian CRC-32 of everything before it, all in base64url without padding.
//
// Reading follows the page's own reader word for word: the same limits (65,536 characters of
// text, 100,000 unpacked keys) and the same three sentences for a link it cannot play.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct RUN {
    std::string keys;  // the bytes the game read, as they were sent
    bool has_clock = false;
    long long clock = 0;  // the second the game read for a seed from the clock (has_clock)
    std::string version;  // the game's version that played it
};

// A link read: the run, or the HTTP status (400, or 413 when it is too long) and the sentence to
// show.
struct RUN_READING {
    bool ok = false;
    RUN run;
    int status = 400;
    std::string error;
};

inline constexpr int RUN_LINK_FORMAT = 1;
inline constexpr std::size_t MOST_RUN_TEXT = 65536;   // the longest link text read
inline constexpr std::size_t MOST_RUN_KEYS = 100000;  // the most bytes a run may unpack to

extern const char *const RUN_LINK_DAMAGED;
extern const char *const RUN_LINK_TOO_LONG;
extern const char *const RUN_LINK_FOREIGN;

// The CRC-32 that closes a link (the one of zlib and PNG).
std::uint32_t run_link_crc32(std::string_view bytes);
// The link's base64url, without padding, both ways; false for text that is not base64url.
std::string run_link_base64url(std::string_view bytes);
bool run_link_unbase64url(std::string_view text, std::string &bytes);
// Bytes in lowercase hexadecimal, two digits a byte: as the hall writes runs' ids, digests and
// keys' fingerprints.
std::string lowercase_hex(std::string_view bytes);

// Never throws: anything wrong with the text comes back as a status and a sentence.
RUN_READING read_run_link(std::string_view text);
// The link text of a run, as the page writes it (its version cut to 255 bytes).
std::string write_run_link(const RUN &run);
