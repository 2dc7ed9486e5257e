// Reading and writing a run link, byte for byte as the web page does (web/runs/run-link.js). The keys
// are packed and unpacked with zlib's raw DEFLATE, the same library the browsers' own deflate
// rests on. (Boost.Beast's header-only port was tried first: it leaves some streams that zlib
// and the browsers end cleanly waiting for more input, and the page's links would be refused.)
// The CRC-32 and base64url are written out here.
#include "hall/run_link.h"

#include "hall/utf8.h"

#include <zlib.h>

#include <array>
#include <cstdint>
#include <exception>
#include <new>

const char *const RUN_LINK_DAMAGED = "This run link is damaged or cut short, so it cannot be played.";
const char *const RUN_LINK_TOO_LONG =
    "This run link is too long to be played: a run holds at most 100,000 keys.";
const char *const RUN_LINK_FOREIGN = "This run link was made by a page that this one cannot read.";

namespace {
constexpr unsigned char HAS_CLOCK = 1;
// The largest whole number a page's number holds exactly: a clock second beyond it is damage.
constexpr long long MOST_SAFE = (1LL << 53) - 1;

const char *const ALPHABET = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

int sextet(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '-') return 62;
    if (c == '_') return 63;
    return -1;
}

// The bytes of base64url text without padding, or false. As the browser decodes, the bits left
// over after the last whole byte are dropped whatever they are.
bool unbase64url(std::string_view text, std::string &bytes) {
    if (text.size() % 4 == 1) return false;
    bytes.clear();
    bytes.reserve(text.size() / 4 * 3 + 2);
    std::uint32_t bits = 0;
    int held = 0;
    for (char c : text) {
        const int v = sextet(c);
        if (v < 0) return false;
        bits = (bits << 6 | static_cast<std::uint32_t>(v)) & 0xffffff;
        held += 6;
        if (held >= 8) {
            held -= 8;
            bytes.push_back(static_cast<char>(bits >> held & 0xff));
        }
    }
    return true;
}

std::string base64url(std::string_view bytes) {
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    std::uint32_t bits = 0;
    int held = 0;
    for (char c : bytes) {
        bits = (bits << 8 | static_cast<unsigned char>(c)) & 0xffff;
        held += 8;
        while (held >= 6) {
            held -= 6;
            text.push_back(ALPHABET[bits >> held & 63]);
        }
    }
    if (held > 0) text.push_back(ALPHABET[bits << (6 - held) & 63]);
    return text;
}

enum class Unpacked { ok, damaged, too_long };

// The keys packed in `packed`: the stream must end, with nothing after it, within `most` bytes.
Unpacked unpack(std::string_view packed, std::size_t most, std::string &keys) {
    z_stream stream{};
    if (inflateInit2(&stream, -15) != Z_OK) throw std::bad_alloc();
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(packed.data()));
    stream.avail_in = static_cast<uInt>(packed.size());
    std::array<char, 16384> chunk;
    keys.clear();
    Unpacked result = Unpacked::damaged;
    for (;;) {
        stream.next_out = reinterpret_cast<Bytef *>(chunk.data());
        stream.avail_out = static_cast<uInt>(chunk.size());
        const int status = inflate(&stream, Z_NO_FLUSH);
        const std::size_t made = chunk.size() - stream.avail_out;
        if (keys.size() + made > most) {
            result = Unpacked::too_long;
            break;
        }
        keys.append(chunk.data(), made);
        if (status == Z_STREAM_END) {
            if (stream.avail_in == 0) result = Unpacked::ok;
            break;
        }
        // An error in the stream, or no step forward: the input ended before the stream did.
        if (status != Z_OK) break;
    }
    inflateEnd(&stream);
    return result;
}

std::string pack(std::string_view keys) {
    z_stream stream{};
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::bad_alloc();
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(keys.data()));
    stream.avail_in = static_cast<uInt>(keys.size());
    std::string packed;
    std::array<char, 16384> chunk;
    int status = Z_OK;
    while (status == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef *>(chunk.data());
        stream.avail_out = static_cast<uInt>(chunk.size());
        status = deflate(&stream, Z_FINISH);
        packed.append(chunk.data(), chunk.size() - stream.avail_out);
    }
    deflateEnd(&stream);
    if (status != Z_STREAM_END) throw std::bad_alloc();
    return packed;
}

// The number the bytes spell, most significant first.
std::uint64_t big_endian(std::string_view bytes) {
    std::uint64_t value = 0;
    for (char b : bytes) value = value << 8 | static_cast<unsigned char>(b);
    return value;
}

RUN_READING refused(int status, const char *sentence) {
    RUN_READING reading;
    reading.status = status;
    reading.error = sentence;
    return reading;
}

RUN_READING read_link(std::string_view text) {
    if (text.size() > MOST_RUN_TEXT) return refused(413, RUN_LINK_TOO_LONG);
    std::string whole;
    if (!unbase64url(text, whole) || whole.empty()) return refused(400, RUN_LINK_DAMAGED);
    if (static_cast<unsigned char>(whole[0]) != RUN_LINK_FORMAT) return refused(400, RUN_LINK_FOREIGN);
    if (whole.size() < 7 || run_link_crc32(std::string_view(whole).substr(0, whole.size() - 4)) !=
                                big_endian(std::string_view(whole).substr(whole.size() - 4)))
        return refused(400, RUN_LINK_DAMAGED);
    const std::string_view bytes = std::string_view(whole).substr(0, whole.size() - 4);
    const unsigned char flags = static_cast<unsigned char>(bytes[1]);
    if ((flags & ~HAS_CLOCK) != 0) return refused(400, RUN_LINK_DAMAGED);
    RUN_READING reading;
    std::size_t at = 2;
    if (flags & HAS_CLOCK) {
        if (bytes.size() < at + 9) return refused(400, RUN_LINK_DAMAGED);
        const auto clock = static_cast<long long>(big_endian(bytes.substr(at, 8)));
        if (clock > MOST_SAFE || clock < -MOST_SAFE) return refused(400, RUN_LINK_DAMAGED);
        reading.run.has_clock = true;
        reading.run.clock = clock;
        at += 8;
    }
    const std::size_t size = static_cast<unsigned char>(bytes[at++]);
    if (bytes.size() < at + size) return refused(400, RUN_LINK_DAMAGED);
    std::string_view version = bytes.substr(at, size);
    if (!is_utf8(version)) return refused(400, RUN_LINK_DAMAGED);
    // The page's decoder takes a leading byte order mark away.
    if (version.substr(0, 3) == "\xef\xbb\xbf") version.remove_prefix(3);
    reading.run.version = version;
    switch (unpack(bytes.substr(at + size), MOST_RUN_KEYS, reading.run.keys)) {
        case Unpacked::damaged: return refused(400, RUN_LINK_DAMAGED);
        case Unpacked::too_long: return refused(413, RUN_LINK_TOO_LONG);
        case Unpacked::ok: break;
    }
    reading.ok = true;
    reading.status = 200;
    return reading;
}
}  // namespace

std::uint32_t run_link_crc32(std::string_view bytes) {
    return static_cast<std::uint32_t>(
        crc32_z(0, reinterpret_cast<const Bytef *>(bytes.data()), static_cast<z_size_t>(bytes.size())));
}

std::string run_link_base64url(std::string_view bytes) { return base64url(bytes); }

bool run_link_unbase64url(std::string_view text, std::string &bytes) { return unbase64url(text, bytes); }

std::string lowercase_hex(std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

RUN_READING read_run_link(std::string_view text) {
    try {
        return read_link(text);
    } catch (const std::exception &) {
        // Memory running out, or anything else this reading did not foresee.
        return refused(400, RUN_LINK_DAMAGED);
    }
}

std::string write_run_link(const RUN &run) {
    std::string all;
    all.push_back(static_cast<char>(RUN_LINK_FORMAT));
    all.push_back(static_cast<char>(run.has_clock ? HAS_CLOCK : 0));
    if (run.has_clock) {
        const auto raw = static_cast<std::uint64_t>(run.clock);
        for (int k = 7; k >= 0; --k) all.push_back(static_cast<char>(raw >> (8 * k) & 0xff));
    }
    const std::string_view version = std::string_view(run.version).substr(0, 255);
    all.push_back(static_cast<char>(version.size()));
    all += version;
    all += pack(run.keys);
    const std::uint32_t crc = run_link_crc32(all);
    for (int k = 3; k >= 0; --k) all.push_back(static_cast<char>(crc >> (8 * k) & 0xff));
    return base64url(all);
}
