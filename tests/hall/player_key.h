// A player's Ed25519 key pair, made in the test with libcrypto, and the run signatures a page
// sends: "marrowdeep-run-1 " and the run's id, signed, in base64url.
#pragma once

#include <openssl/evp.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "hall/signing.h"

struct PLAYER_KEY {
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> pair{EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"),
                                                             EVP_PKEY_free};
    std::string raw() const {
        std::string key(32, '\0');
        std::size_t size = key.size();
        if (EVP_PKEY_get_raw_public_key(pair.get(), reinterpret_cast<unsigned char *>(key.data()), &size) !=
                1 ||
            size != 32)
            throw std::runtime_error("no raw public key");
        return key;
    }
    std::string sign(const std::string &message) const {
        std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
        std::string signature(64, '\0');
        std::size_t size = signature.size();
        if (EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, pair.get()) != 1 ||
            EVP_DigestSign(context.get(), reinterpret_cast<unsigned char *>(signature.data()), &size,
                           reinterpret_cast<const unsigned char *>(message.data()), message.size()) != 1 ||
            size != 64)
            throw std::runtime_error("no signature");
        return signature;
    }
    std::string key_text() const { return write_base64url(raw()); }
    // The signature a page sends for the run of `id`.
    std::string signature_text(const std::string &id) const {
        return write_base64url(sign("marrowdeep-run-1 " + id));
    }
};
