// A run signed by its player: the page holds an Ed25519 key pair, and signs each run it sends
// with it, so a hero's name, once a key has claimed it in a hall, is that key's. The hall checks
// the signature with libcrypto; the key never leaves the player's page but as its public half.
#pragma once

#include <string>
#include <string_view>

// The raw sizes of an Ed25519 public key and of a signature.
inline constexpr std::size_t SIGNING_KEY_BYTES = 32;
inline constexpr std::size_t SIGNATURE_BYTES = 64;

// What a player signs: a context, then a run's id as the hall writes it (32 hexadecimal digits).
// The id covers the version, the clock second and every key, the name too. A run sent whole, or
// a live game's end, is signed in RUN_CONTEXT; a live game's start, over the id of the run its
// first message carries, in LIVE_CONTEXT. Each context is its own text, so a signature made in
// one never passes in the other.
inline constexpr std::string_view RUN_CONTEXT = "marrowdeep-run-1 ";
inline constexpr std::string_view LIVE_CONTEXT = "marrowdeep-live-1 ";
std::string signed_message(std::string_view run_id, std::string_view context = RUN_CONTEXT);

// Base64url without padding (RFC 4648, section 5), read strictly: only its 64 letters, no '=',
// no blanks, and the bits left over at the end zero, so each text stands for one string of bytes
// and each string of bytes for one text. False for anything else.
bool read_base64url(std::string_view text, std::string &bytes);
std::string write_base64url(std::string_view bytes);

// A run's key and signature as a client sent them (base64url text), read into raw bytes. `error`
// is a sentence for the player when they cannot be: damaged text or the wrong lengths.
struct RUN_SIGNATURE {
    std::string key;        // 32 bytes
    std::string signature;  // 64 bytes
};
bool read_run_signature(std::string_view key_text, std::string_view signature_text, RUN_SIGNATURE &read,
                        std::string &error);

// Whether `signature` is the key's Ed25519 signature of signed_message(run_id, context).
bool signature_verifies(const RUN_SIGNATURE &signature, std::string_view run_id,
                        std::string_view context = RUN_CONTEXT);

// The short name of a key the hall shows in records: the first 16 hexadecimal digits (8 bytes) of
// a SHA-256 of the raw 32-byte key.
std::string key_fingerprint(std::string_view key);
