// libFuzzer's target over the hall's reading and checking of run signatures (hall/signing.h),
// under AddressSanitizer and UndefinedBehaviorSanitizer. One key pair is made once from a fixed
// private key, and its signature of one run kept: the fuzzer damages them, and writes the two
// fields a submission carries and the end message of a live game, and each input is held to what
// must be true of it. A fault is reported with abort(), so libFuzzer keeps the input.
//
// The first byte of an input chooses what the rest is:
//   0: damage to the good triple (the key's 32 bytes, the signature's 64, then the run's id's
//      32), as pairs of bytes (where, modulo 128; the bits it is xored with). Only the triple
//      left as it was verifies.
//   1: the Marrowdeep-Key field's text, a line end, then the Marrowdeep-Signature field's text.
//   2: a live game's end message (or first message), JSON, read for its "key" and "signature" as
//      the hall does.
//   3: text read as base64url, and the same bytes written as base64url and read back.
// For 1 and 2, what is read must be what was written (one text for each key and signature),
// and nothing verifies for the run but the good key's own signature: the inputs hold no other
// key's signature of it, and none can be made without the key. The good signature is a run's:
// in a live game's start's context (LIVE_CONTEXT) nothing verifies, damaged or not.
#include <openssl/evp.h>
#include <stdint.h>
#include <stdlib.h>

#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <string_view>

#include "hall/signing.h"

namespace {
// The quick game's id ("hero\nn\n42\n1\nq"), the run every good signature is over.
const std::string good_id = "c0f8baedf1c39b178dedfbce70c19e20";
// The private key's 32 bytes: the seeds in signing_corpus/ carry its public key and signature.
const std::string private_key = "marrowdeep signing fuzz key 0001";

[[noreturn]] void fault(const char *what) {
    std::fprintf(stderr, "signing_fuzz: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

struct GOOD {
    RUN_SIGNATURE pair;
    std::string key_text, signature_text;
};

GOOD make_good() {
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr,
                                     reinterpret_cast<const unsigned char *>(private_key.data()),
                                     private_key.size()),
        EVP_PKEY_free);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    GOOD good;
    good.pair.key.assign(SIGNING_KEY_BYTES, '\0');
    good.pair.signature.assign(SIGNATURE_BYTES, '\0');
    std::size_t key_size = SIGNING_KEY_BYTES, signature_size = SIGNATURE_BYTES;
    const std::string message = signed_message(good_id);
    if (!key || !context ||
        EVP_PKEY_get_raw_public_key(key.get(), reinterpret_cast<unsigned char *>(good.pair.key.data()),
                                    &key_size) != 1 ||
        EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
        EVP_DigestSign(context.get(), reinterpret_cast<unsigned char *>(good.pair.signature.data()),
                       &signature_size, reinterpret_cast<const unsigned char *>(message.data()),
                       message.size()) != 1 ||
        key_size != SIGNING_KEY_BYTES || signature_size != SIGNATURE_BYTES)
        fault("libcrypto made no key pair");
    good.key_text = write_base64url(good.pair.key);
    good.signature_text = write_base64url(good.pair.signature);
    if (!signature_verifies(good.pair, good_id)) fault("the good signature does not verify");
    return good;
}

const GOOD &good() {
    static const GOOD made = make_good();
    return made;
}

void damaged(std::string_view edits) {
    std::string triple = good().pair.key + good().pair.signature + good_id;
    const std::string original = triple;
    for (std::size_t at = 0; at + 1 < edits.size(); at += 2)
        triple[static_cast<unsigned char>(edits[at]) % triple.size()] ^= edits[at + 1];
    RUN_SIGNATURE signature{triple.substr(0, SIGNING_KEY_BYTES),
                            triple.substr(SIGNING_KEY_BYTES, SIGNATURE_BYTES)};
    const bool verified = signature_verifies(signature, std::string_view(triple).substr(96));
    if (triple == original && !verified) fault("the good triple does not verify");
    if (triple != original && verified) fault("a damaged triple verifies");
    if (signature_verifies(signature, std::string_view(triple).substr(96), LIVE_CONTEXT))
        fault("a run's signature verifies as a live game's start");
}

// The two fields' texts, as a submission or a live game's end carries them.
void fields(std::string_view key_text, std::string_view signature_text) {
    RUN_SIGNATURE read;
    std::string error;
    if (!read_run_signature(key_text, signature_text, read, error)) {
        if (error.empty()) fault("a refusal without a sentence");
        return;
    }
    if (!error.empty()) fault("a sentence without a refusal");
    if (read.key.size() != SIGNING_KEY_BYTES || read.signature.size() != SIGNATURE_BYTES)
        fault("a key or signature of the wrong length read");
    if (write_base64url(read.key) != key_text || write_base64url(read.signature) != signature_text)
        fault("a text read that its bytes do not write");
    const bool good_key = read.key == good().pair.key,
               good_signature = read.signature == good().pair.signature;
    const bool verified = signature_verifies(read, good_id);
    if (verified != (good_key && good_signature))
        fault("a signature verifies that is not the good one, or the good one does not");
    // Over any other run, even the good pair verifies for nothing.
    if (signature_verifies(read, "c0f8baedf1c39b178dedfbce70c19e21"))
        fault("a signature verifies for another run");
    if (signature_verifies(read, good_id, LIVE_CONTEXT))
        fault("a run's signature verifies as a live game's start");
}

void live_end(std::string_view text) {
    nlohmann::json said = nlohmann::json::parse(text, nullptr, false);
    if (!said.is_object() || !said.contains("key") || !said.contains("signature") ||
        !said["key"].is_string() || !said["signature"].is_string())
        return;
    fields(said["key"].get_ref<const std::string &>(), said["signature"].get_ref<const std::string &>());
}

void base64url(std::string_view text) {
    std::string bytes;
    if (read_base64url(text, bytes) && write_base64url(bytes) != text)
        fault("base64url read but not written back");
    std::string again;
    if (!read_base64url(write_base64url(text), again) || again != text)
        fault("base64url written but not read back");
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    std::string_view rest(reinterpret_cast<const char *>(data) + 1, size - 1);
    switch (data[0] % 4) {
        case 0: damaged(rest); break;
        case 1: {
            std::size_t line = rest.find('\n');
            if (line == std::string_view::npos) line = rest.size();
            fields(rest.substr(0, line), line < rest.size() ? rest.substr(line + 1) : std::string_view());
            break;
        }
        case 2: live_end(rest); break;
        default: base64url(rest);
    }
    return 0;
}
