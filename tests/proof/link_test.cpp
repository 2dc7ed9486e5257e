// Run links: links the web page made read back to their runs; links written here read back; and
// every damaged, cut, foreign or oversized link gets the page's sentence and the right status.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "hall/run_link.h"

namespace {

// base64url without padding, written out here apart from the hall's own.
std::string encode(const std::string &bytes) {
    static const char *const alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        std::uint32_t v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 2]);
        const std::size_t chars = std::min<std::size_t>(4, bytes.size() - i + 1);
        for (std::size_t k = 0; k < chars; ++k) text.push_back(alphabet[v >> (18 - 6 * k) & 63]);
    }
    return text;
}

std::string decode(const std::string &text) {
    std::string bytes;
    std::uint32_t bits = 0;
    int held = 0;
    for (char c : text) {
        const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
        bits = bits << 6 | static_cast<std::uint32_t>(alphabet.find(c));
        held += 6;
        if (held >= 8) {
            held -= 8;
            bytes.push_back(static_cast<char>(bits >> held & 0xff));
        }
    }
    return bytes;
}

// A link of the given bytes, closed with their CRC-32.
std::string sealed(const std::string &bytes) {
    const std::uint32_t crc = run_link_crc32(bytes);
    std::string all = bytes;
    for (int k = 3; k >= 0; --k) all.push_back(static_cast<char>(crc >> (8 * k) & 0xff));
    return encode(all);
}

// "keys" packed as one stored DEFLATE block, by hand: final block, stored, length 4 and its
// complement, the bytes.
const std::string STORED_KEYS = std::string("\x01\x04\x00\xfb\xff", 5) + "keys";

std::string head(const std::string &version) {
    return std::string("\x01\x00", 2) + static_cast<char>(version.size()) + version;
}

std::string head_with_clock(std::uint64_t clock) {
    std::string bytes("\x01\x01", 2);
    for (int k = 7; k >= 0; --k) bytes.push_back(static_cast<char>(clock >> (8 * k) & 0xff));
    return bytes +
           "\x03"
           "2.3";
}

void expect_refused(const RUN_READING &reading, int status, const char *sentence, const std::string &what) {
    EXPECT_FALSE(reading.ok) << what;
    EXPECT_EQ(reading.status, status) << what;
    EXPECT_EQ(reading.error, sentence) << what;
}

TEST(RunLink, CrcOfKnownTexts) {
    EXPECT_EQ(run_link_crc32(""), 0u);
    EXPECT_EQ(run_link_crc32("123456789"), 0xcbf43926u);
    EXPECT_EQ(run_link_crc32("The quick brown fox jumps over the lazy dog"), 0x414fa339u);
}

// Made by the page's own encodeRun, in Node.
TEST(RunLink, ReadsLinksThePageMade) {
    RUN_READING a = read_run_link("AQADMi4zy0gtyufK4zLnMuQqBAA6Btbr");
    ASSERT_TRUE(a.ok) << a.error;
    EXPECT_EQ(a.run.keys, "hero\nn\n7\n1\nq");
    EXPECT_FALSE(a.run.has_clock);
    EXPECT_EQ(a.run.version, "2.3");

    RUN_READING b = read_run_link("AQEAAAAAaVW5AAMyLjMLjAoK46rkMuJKqigEAGTvq7s");
    ASSERT_TRUE(b.ok) << b.error;
    EXPECT_EQ(b.run.keys, "QZRV\ny\n2\nbxq");
    EXPECT_TRUE(b.run.has_clock);
    EXPECT_EQ(b.run.clock, 1767225600);
    EXPECT_EQ(b.run.version, "2.3");
}

// A page's link whose packed keys end in the middle of their last byte: a reader that waits
// for more input there refuses a sound link.
TEST(RunLink, ReadsPackingThatEndsInsideItsLastByte) {
    const RUN_READING r = read_run_link(
        "AQADMi4zY1D1yp-y8x6zhm_R9D0P2bQDSmftf8KpF1wx99BzHsOw6gVHX_"
        "GbRNYtPvFWyDymcdnpD6JW8S0rz32WsE1qX3Pxm7RDatf6Kz_"
        "lnDN6N13_o-iWPWHrrf8qnnmTd9xlUvcpnLb7AauWf8nMfY85dIPK5xx8xm0QWjX_yEs-"
        "44jaRcffCJpFNyw99V7EMq55xdlP4jaJbasvfJWyT-"
        "lcd_mHrFN6z8ZrvxVcs_q33Pyn7JE7afsdRjXvgqm77rNo-hXP2PuIXSewbPaBp1z6IZXzDr_gNQqvWXjstYBpVP2Sk--"
        "ELWKblp_5KGad0Lrq_BdJu-SOtZe-yzimdW-4-kveJbNv842_Su45E7fdZhj1_6j_R7D_AeM9PYc");
    ASSERT_TRUE(r.ok) << r.error;
    std::string keys;
    for (int i = 0; i < 1024; ++i) keys.push_back(static_cast<char>(i * 37 % 256));
    EXPECT_EQ(r.run.keys, keys);
}

TEST(RunLink, ReadsAStoredBlockPackedByHand) {
    RUN_READING r = read_run_link(sealed(head("2.3") + STORED_KEYS));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.run.keys, "keys");
}

TEST(RunLink, WritesWhatItReads) {
    std::string every_byte;
    for (int i = 0; i < 256 * 3; ++i) every_byte.push_back(static_cast<char>(i * 7 % 256));
    std::string long_keys;
    for (std::size_t i = 0; i < MOST_RUN_KEYS; ++i) long_keys.push_back("wasdkK\n"[i * i % 7]);
    const long long most = (1LL << 53) - 1;
    const RUN runs[] = {
        {"", false, 0, "2.3"},          {"hero\nn\n7\n1\nq", false, 0, "2.3"}, {every_byte, true, -most, ""},
        {long_keys, true, most, "2.3"}, {"x", true, 0, "\xc3\xa9t\xc3\xa9"},
    };
    for (const RUN &run : runs) {
        const std::string link = write_run_link(run);
        const RUN_READING back = read_run_link(link);
        ASSERT_TRUE(back.ok) << back.error;
        EXPECT_EQ(back.run.keys, run.keys);
        EXPECT_EQ(back.run.has_clock, run.has_clock);
        EXPECT_EQ(back.run.clock, run.clock);
        EXPECT_EQ(back.run.version, run.version);
    }
    // The page's own first link, byte for byte: the head, the packing and the seal.
    const std::string ours = write_run_link({"hero\nn\n7\n1\nq", false, 0, "2.3"});
    EXPECT_EQ(decode(ours).substr(0, 6), std::string("\x01\x00\x03"
                                                     "2.3",
                                                     6));
    // A version is cut to the 255 bytes its length byte can tell.
    const RUN_READING cut = read_run_link(write_run_link({"q", false, 0, std::string(300, 'v')}));
    ASSERT_TRUE(cut.ok);
    EXPECT_EQ(cut.run.version, std::string(255, 'v'));
}

TEST(RunLink, DamagedAtEveryBit) {
    const std::string bytes = decode(write_run_link({"hero\nn\n7\n1\nsdsdsdbxq", true, 1767225600, "2.3"}));
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        for (int bit = 0; bit < 8; ++bit) {
            std::string flipped = bytes;
            flipped[i] = static_cast<char>(flipped[i] ^ (1 << bit));
            expect_refused(read_run_link(encode(flipped)), 400, i == 0 ? RUN_LINK_FOREIGN : RUN_LINK_DAMAGED,
                           "byte " + std::to_string(i) + " bit " + std::to_string(bit));
        }
    }
}

TEST(RunLink, CutAtEveryLength) {
    const std::string link = write_run_link({"VORTEX\nn\n-5\n2\nddddssssp\ny\n", false, 0, "2.3"});
    ASSERT_TRUE(read_run_link(link).ok);
    for (std::size_t n = 0; n < link.size(); ++n)
        expect_refused(read_run_link(link.substr(0, n)), 400, RUN_LINK_DAMAGED,
                       "cut at " + std::to_string(n));
}

TEST(RunLink, TextThatIsNotBase64url) {
    const std::string link = write_run_link({"hero\nn\n7\n1\nq", false, 0, "2.3"});
    for (const std::string &text :
         {link + "=", link.substr(0, 4) + "+" + link.substr(5), link.substr(0, 4) + "/" + link.substr(5),
          link + " ", " " + link, link + "\n", std::string("A")})
        expect_refused(read_run_link(text), 400, RUN_LINK_DAMAGED, text);
}

TEST(RunLink, ForeignFormats) {
    for (char format : {'\x00', '\x02', '\xff'}) {
        std::string bytes = head("2.3") + STORED_KEYS;
        bytes[0] = format;
        expect_refused(read_run_link(sealed(bytes)), 400, RUN_LINK_FOREIGN,
                       "format " + std::to_string(format));
    }
    // The format byte alone, before any seal.
    expect_refused(read_run_link(encode("\x02")), 400, RUN_LINK_FOREIGN, "one byte");
    expect_refused(read_run_link(encode("\x01")), 400, RUN_LINK_DAMAGED, "one byte of ours");
}

TEST(RunLink, SealedButWrongInside) {
    // An unknown flag.
    std::string flags = head("2.3") + STORED_KEYS;
    flags[1] = '\x02';
    expect_refused(read_run_link(sealed(flags)), 400, RUN_LINK_DAMAGED, "flag 2");
    // Clock seconds beyond what the page's numbers hold exactly.
    const std::uint64_t most = (1ULL << 53) - 1;
    EXPECT_TRUE(read_run_link(sealed(head_with_clock(most) + STORED_KEYS)).ok);
    EXPECT_TRUE(
        read_run_link(
            sealed(head_with_clock(static_cast<std::uint64_t>(-static_cast<long long>(most))) + STORED_KEYS))
            .ok);
    const std::uint64_t beyond[] = {most + 1, static_cast<std::uint64_t>(-static_cast<long long>(most) - 1),
                                    ~0ULL >> 1, 1ULL << 63};
    for (std::uint64_t clock : beyond)
        expect_refused(read_run_link(sealed(head_with_clock(clock) + STORED_KEYS)), 400, RUN_LINK_DAMAGED,
                       "clock " + std::to_string(clock));
    // A clock flag with the clock cut short, and a version longer than what is left.
    expect_refused(read_run_link(sealed(std::string("\x01\x01\x00\x00\x00", 5))), 400, RUN_LINK_DAMAGED,
                   "short clock");
    expect_refused(read_run_link(sealed(std::string("\x01\x00\x09"
                                                    "2.3",
                                                    6))),
                   400, RUN_LINK_DAMAGED, "long version");
    // Versions that are not UTF-8: a stray byte, an overlong slash, a surrogate, past U+10FFFF,
    // a character cut short.
    for (const std::string &version :
         {std::string("\xff"), std::string("\xc0\xaf"), std::string("\xed\xa0\x80"),
          std::string("\xf4\x90\x80\x80"), std::string("2.\xe2\x82")})
        expect_refused(read_run_link(sealed(head(version) + STORED_KEYS)), 400, RUN_LINK_DAMAGED, "version");
    // A byte order mark is taken away, as the page's decoder does.
    const RUN_READING marked = read_run_link(sealed(head("\xef\xbb\xbf"
                                                         "2.3") +
                                                    STORED_KEYS));
    ASSERT_TRUE(marked.ok);
    EXPECT_EQ(marked.run.version, "2.3");
    // Packed keys cut short, with bytes after their end, or not DEFLATE at all.
    expect_refused(read_run_link(sealed(head("2.3") + STORED_KEYS.substr(0, 7))), 400, RUN_LINK_DAMAGED,
                   "cut keys");
    expect_refused(read_run_link(sealed(head("2.3") + STORED_KEYS + "x")), 400, RUN_LINK_DAMAGED, "junk");
    expect_refused(read_run_link(sealed(head("2.3"))), 400, RUN_LINK_DAMAGED, "no keys");
    expect_refused(read_run_link(sealed(head("2.3") + "\x07")), 400, RUN_LINK_DAMAGED, "reserved block type");
}

TEST(RunLink, TooLong) {
    // Text past 65,536 characters is refused unread, whatever it holds.
    expect_refused(read_run_link(std::string(MOST_RUN_TEXT + 1, 'A')), 413, RUN_LINK_TOO_LONG, "long text");
    // At the limit it is read: all zero bits, a format of 0.
    expect_refused(read_run_link(std::string(MOST_RUN_TEXT, 'A')), 400, RUN_LINK_FOREIGN,
                   "text at the limit");
    // One key past 100,000.
    std::string keys(MOST_RUN_KEYS + 1, 'w');
    const std::string link = write_run_link({keys, false, 0, "2.3"});
    ASSERT_LE(link.size(), MOST_RUN_TEXT);
    expect_refused(read_run_link(link), 413, RUN_LINK_TOO_LONG, "100,001 keys");
    // A packing that unpacks to far more, in little text.
    const std::string bomb = write_run_link({std::string(50 * MOST_RUN_KEYS, '\0'), false, 0, "2.3"});
    ASSERT_LE(bomb.size(), MOST_RUN_TEXT);
    expect_refused(read_run_link(bomb), 413, RUN_LINK_TOO_LONG, "5,000,000 keys");
    EXPECT_EQ(std::string(RUN_LINK_TOO_LONG),
              "This run link is too long to be played: a run holds at most 100,000 keys.");
}

}  // namespace
