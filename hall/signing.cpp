#include "hall/signing.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/sha.h>

#include <memory>
#include <new>

#include "hall/run_link.h"

std::string signed_message(std::string_view run_id, std::string_view context) {
    std::string message(context);
    message.append(run_id);
    return message;
}

bool read_base64url(std::string_view text, std::string &bytes) {
    // The run link's reader drops the bits after the last byte, as a browser does; a key and a
    // signature are read strictly, their text the one their bytes write.
    return run_link_unbase64url(text, bytes) && run_link_base64url(bytes) == text;
}

std::string write_base64url(std::string_view bytes) { return run_link_base64url(bytes); }

bool read_run_signature(std::string_view key_text, std::string_view signature_text, RUN_SIGNATURE &read,
                        std::string &error) {
    if (!read_base64url(key_text, read.key) || read.key.size() != SIGNING_KEY_BYTES) {
        error = "The run's key must be a 32-byte Ed25519 public key in base64url, without padding.";
        return false;
    }
    if (!read_base64url(signature_text, read.signature) || read.signature.size() != SIGNATURE_BYTES) {
        error = "The run's signature must be a 64-byte Ed25519 signature in base64url, without padding.";
        return false;
    }
    return true;
}

bool signature_verifies(const RUN_SIGNATURE &signature, std::string_view run_id, std::string_view context) {
    if (signature.key.size() != SIGNING_KEY_BYTES || signature.signature.size() != SIGNATURE_BYTES)
        return false;
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                    reinterpret_cast<const unsigned char *>(signature.key.data()),
                                    signature.key.size()),
        EVP_PKEY_free);
    if (!key) {  // not a key libcrypto takes: what it noted is not kept on the thread
        ERR_clear_error();
        return false;
    }
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> verifier(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!verifier) throw std::bad_alloc();
    // Ed25519 hashes the message itself: no digest is named.
    const std::string message = signed_message(run_id, context);
    const bool verified =
        EVP_DigestVerifyInit(verifier.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
        EVP_DigestVerify(verifier.get(), reinterpret_cast<const unsigned char *>(signature.signature.data()),
                         signature.signature.size(), reinterpret_cast<const unsigned char *>(message.data()),
                         message.size()) == 1;
    if (!verified) ERR_clear_error();
    return verified;
}

std::string key_fingerprint(std::string_view key) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char *>(key.data()), key.size(), digest);
    return lowercase_hex(std::string_view(reinterpret_cast<const char *>(digest), 8));
}
