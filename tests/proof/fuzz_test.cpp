// Bodies of every kind read as run links and proved: random text, links of generated games cut
// short, with bits flipped, with bytes added, oversized, or sealed again after the change (so that
// the inside is read), and runs of other versions. Nothing may crash (run it under the
// sanitizers), and every answer is a record or one of the refusals: 400 or 413 with one of the
// page's three sentences from the link, 400 or 422 with a sentence from the proof.
//
//   proof_fuzz [--cases N] [--seed N]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "fuzz/streams.h"
#include "hall/proof.h"
#include "hall/run_link.h"

namespace {

std::mt19937_64 random_bits;

std::size_t below(std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(random_bits() % n); }

// The characters of link text, for bodies changed a character at a time.
const char *const ALPHABET = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

// The link's bytes changed at random, then sealed again with a fresh CRC so the reading goes on
// past the seal.
std::string resealed(const std::string &link) {
    std::string bytes;
    if (!run_link_unbase64url(link, bytes) || bytes.size() < 4) return link;
    bytes.resize(bytes.size() - 4);
    const std::size_t changes = 1 + below(4);
    for (std::size_t k = 0; k < changes && !bytes.empty(); ++k) {
        switch (below(3)) {
            case 0: bytes[below(bytes.size())] ^= static_cast<char>(1 << below(8)); break;
            case 1: bytes.resize(below(bytes.size() + 1)); break;
            default: bytes.insert(below(bytes.size() + 1), 1, static_cast<char>(random_bits())); break;
        }
    }
    const std::uint32_t crc = run_link_crc32(bytes);
    for (int k = 3; k >= 0; --k) bytes.push_back(static_cast<char>(crc >> (8 * k) & 0xff));
    return run_link_base64url(bytes);
}

std::string body(std::uint64_t n) {
    const Stream stream = make_stream(7, n % 4000);
    const std::string keys = stream.bytes.substr(0, MOST_RUN_KEYS + below(3) * 5);
    const bool has_clock = below(2) == 0;
    const long long clock = below(4) == 0 ? static_cast<long long>(random_bits()) : 1767225600;
    const std::string version = below(8) == 0 ? std::string(below(300), 'v') : MARROWDEEP_VERSION;
    const std::string link = write_run_link(RUN{keys, has_clock, clock, version});
    switch (n % 8) {
        case 0: return link;
        case 1: return link.substr(0, below(link.size() + 1));
        case 2: {
            std::string flipped = link;
            if (!flipped.empty()) flipped[below(flipped.size())] = ALPHABET[below(64)];
            return flipped;
        }
        case 3: return resealed(link);
        case 4: {
            std::string text(below(200), '\0');
            for (char &c : text) c = below(10) == 0 ? static_cast<char>(random_bits()) : ALPHABET[below(64)];
            return text;
        }
        case 5: return link + std::string(below(8), ALPHABET[below(64)]);
        case 6: return std::string(MOST_RUN_TEXT - 2 + below(5), ALPHABET[below(64)]);
        default: return resealed(resealed(link));
    }
}

}  // namespace

int main(int argc, char **argv) {
    long long cases = 2000;
    unsigned long long seed = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--cases") == 0) cases = std::atoll(argv[i + 1]);
        if (std::strcmp(argv[i], "--seed") == 0) seed = std::strtoull(argv[i + 1], nullptr, 10);
    }
    random_bits.seed(seed);
    long long records = 0, refused_links = 0, refused_runs = 0, failures = 0;
    for (long long n = 0; n < cases; ++n) {
        const std::string text = body(static_cast<std::uint64_t>(n));
        const RUN_READING reading = read_run_link(text);
        if (!reading.ok) {
            const bool known = reading.error == RUN_LINK_DAMAGED || reading.error == RUN_LINK_TOO_LONG ||
                               reading.error == RUN_LINK_FOREIGN;
            const bool status =
                reading.status == 400 || (reading.status == 413 && reading.error == RUN_LINK_TOO_LONG);
            if (!known || !status) {
                std::fprintf(stderr, "FAIL case %lld: link refused with %d \"%s\"\n", n, reading.status,
                             reading.error.c_str());
                ++failures;
            }
            ++refused_links;
            continue;
        }
        if (reading.run.keys.size() > MOST_RUN_KEYS) {
            std::fprintf(stderr, "FAIL case %lld: %zu keys read\n", n, reading.run.keys.size());
            ++failures;
        }
        const PROOF proof = prove(reading.run);
        if (proof.ok) {
            const RECORD &r = proof.record;
            const bool sound = (r.ending == "quit" || r.ending == "fell" || r.ending == "unfinished") &&
                               r.keys >= 0 && r.keys <= static_cast<long long>(reading.run.keys.size()) &&
                               (r.mode == "plain" || r.mode == "QZRV" || r.mode == "VORTEX") &&
                               r.version == MARROWDEEP_VERSION && (!r.clock || reading.run.has_clock);
            if (!sound) {
                std::fprintf(stderr, "FAIL case %lld: an unsound record (%s, %lld keys)\n", n,
                             r.ending.c_str(), r.keys);
                ++failures;
            }
            ++records;
        } else {
            const bool version = reading.run.version == MARROWDEEP_VERSION;
            if (proof.error.empty() || proof.status != (version ? 400 : 422)) {
                std::fprintf(stderr, "FAIL case %lld: proof refused with %d \"%s\"\n", n, proof.status,
                             proof.error.c_str());
                ++failures;
            }
            ++refused_runs;
        }
    }
    std::printf("%lld bodies: %lld records, %lld links refused, %lld runs refused, %lld failures\n", cases,
                records, refused_links, refused_runs, failures);
    // The bodies must reach every answer, or the test proves little.
    if (records == 0 || refused_links == 0 || refused_runs == 0) {
        std::fprintf(stderr, "FAIL: some answer was never reached\n");
        return 1;
    }
    return failures == 0 ? 0 : 1;
}
