// Signed runs in process, on SQLite: base64url read strictly, the key's fingerprint, signatures
// made here with libcrypto's Ed25519 and checked by the hall, and names claimed by their first
// signed run, refused to every other key and to runs not signed, and released.
#include <gtest/gtest.h>

#include <memory>
#include <nlohmann/json.hpp>

#include "hall/signing.h"
#include "tests/hall/hall_fixture.h"
#include "tests/hall/player_key.h"

namespace {
using JSON = nlohmann::json;

RUN run_of_keys(const std::string &keys) { return RUN{keys, false, 0, MARROWDEEP_VERSION}; }

// The quick game of each seed: a hero, its seed, Strength, then q on the first map.
std::string keys_of(const std::string &name, int seed) {
    return name + "\nn\n" + std::to_string(seed) + "\n1\nq";
}

class SignedRuns : public HallTest {
  protected:
    ANSWER send(const std::string &keys, std::optional<std::string> key,
                std::optional<std::string> signature) {
        REQUEST request{"POST", "/api/runs", write_run_link(run_of_keys(keys)), "127.0.0.1", "", "", "http",
                        {},     {}};
        request.key = std::move(key);
        request.signature = std::move(signature);
        return handle(hall, request);
    }
    // The run of `keys` signed by `player` over its own id.
    ANSWER send_signed(const std::string &keys, const PLAYER_KEY &player) {
        return send(keys, player.key_text(), player.signature_text(run_id(run_of_keys(keys))));
    }
    static std::string error_of(const ANSWER &answer) { return JSON::parse(answer.body).at("error"); }
};
}  // namespace

TEST(Base64url, ReadStrictlyAndWritten) {
    // RFC 4648's test vectors, without their padding, and the two letters of the URL's alphabet.
    const std::pair<const char *, const char *> vectors[] = {
        {"", ""},           {"f", "Zg"},          {"fo", "Zm8"},          {"foo", "Zm9v"},
        {"foob", "Zm9vYg"}, {"fooba", "Zm9vYmE"}, {"foobar", "Zm9vYmFy"}, {"\xfb\xff\xbf", "-_-_"},
        {"\xff", "_w"}};
    for (const auto &[bytes, text] : vectors) {
        EXPECT_EQ(write_base64url(bytes), text);
        std::string read;
        EXPECT_TRUE(read_base64url(text, read)) << text;
        EXPECT_EQ(read, bytes) << text;
    }
    std::string read;
    for (const char *damaged :
         {"Zg==", "Zg=", "Zm9v\n", " Zm9v", "Zm+v", "Zm/v", "Z", "Zm9vY", "Zh", "Zm9", "_x", "Zm\xc3\xa9"})
        EXPECT_FALSE(read_base64url(damaged, read)) << damaged;
}

TEST(Base64url, FingerprintIsTheStartOfTheKeysSha256) {
    // SHA-256 of 32 zero bytes is 66687aadf862bd776c8fc18b8e9f8e20089714856ee233b3902a591d0d5f2925.
    EXPECT_EQ(key_fingerprint(std::string(32, '\0')), "66687aadf862bd77");
    EXPECT_EQ(signed_message("c0f8baedf1c39b178dedfbce70c19e20"),
              "marrowdeep-run-1 c0f8baedf1c39b178dedfbce70c19e20");
}

TEST_F(SignedRuns, ASignedRunIsKeptSignedAndClaimsItsName) {
    PLAYER_KEY player;
    const std::string keys = keys_of("hero", 42);
    ANSWER kept = send_signed(keys, player);
    ASSERT_EQ(kept.status, 201) << kept.body;
    JSON record = JSON::parse(kept.body);
    EXPECT_EQ(record["id"], run_id(run_of_keys(keys)));
    EXPECT_EQ(record["signed"], true);
    EXPECT_EQ(record["key"], key_fingerprint(player.raw()));
    EXPECT_EQ(std::string(record["key"]).size(), 16u);
    // Read back, on the board and by its id, the same.
    JSON read = JSON::parse(get("/api/runs/" + std::string(record["id"])).body);
    EXPECT_EQ(read["signed"], true);
    EXPECT_EQ(read["key"], record["key"]);
    JSON board = JSON::parse(get("/api/board").body);
    ASSERT_EQ(board["runs"].size(), 1u);
    EXPECT_EQ(board["runs"][0]["key"], record["key"]);

    // The same key goes on keeping runs under the name.
    ANSWER again = send_signed(keys_of("hero", 43), player);
    EXPECT_EQ(again.status, 201) << again.body;

    // Another key, or none, is refused under it, and nothing is kept.
    PLAYER_KEY other;
    for (const ANSWER &refused :
         {send_signed(keys_of("hero", 44), other), send(keys_of("hero", 45), {}, {})}) {
        EXPECT_EQ(refused.status, 403) << refused.body;
        EXPECT_NE(error_of(refused).find("belongs to another key"), std::string::npos) << refused.body;
    }
    EXPECT_EQ(store->count(), 2);
    // Names are their bytes: "Hero" is another name, free for the other key.
    EXPECT_EQ(send_signed(keys_of("Hero", 44), other).status, 201);
    EXPECT_EQ(store->count(), 3);
}

TEST_F(SignedRuns, UnsignedRunsAreKeptUnderNamesNoKeyHolds) {
    ANSWER plain = send(keys_of("hero", 42), {}, {});
    ASSERT_EQ(plain.status, 201);
    EXPECT_EQ(JSON::parse(plain.body)["signed"], false);
    EXPECT_FALSE(JSON::parse(plain.body).contains("key"));
    // A run kept already, sent again signed: the record as it was kept, the name not claimed.
    PLAYER_KEY player;
    ANSWER again = send_signed(keys_of("hero", 42), player);
    EXPECT_EQ(again.status, 200);
    EXPECT_EQ(again.body, plain.body);
    // ...though its signature must verify all the same.
    ANSWER forged = send(keys_of("hero", 42), player.key_text(), player.signature_text(std::string(32, '0')));
    EXPECT_EQ(forged.status, 400) << forged.body;
    EXPECT_EQ(send(keys_of("hero", 43), {}, {}).status, 201);
    // The first signed run claims the name; from then on unsigned runs are refused.
    EXPECT_EQ(send_signed(keys_of("hero", 44), player).status, 201);
    EXPECT_EQ(send(keys_of("hero", 45), {}, {}).status, 403);
    EXPECT_EQ(store->count(), 3);
}

TEST_F(SignedRuns, ASignatureOverAnythingElseIsRefused) {
    PLAYER_KEY player;
    const std::string keys = keys_of("hero", 42);
    const std::string id = run_id(run_of_keys(keys));
    const std::string key = player.key_text();
    // Over another run of the same name, over the same game under another name, under another
    // context, over the id alone, in capitals; and a good signature under another key.
    const std::string wrong[] = {
        player.signature_text(run_id(run_of_keys(keys_of("hero", 43)))),
        player.signature_text(run_id(run_of_keys(keys_of("hera", 42)))),
        write_base64url(player.sign("marrowdeep-run-2 " + id)),
        write_base64url(player.sign("marrowdeep-run-1" + id)),
        write_base64url(player.sign(id)),
        write_base64url(player.sign("marrowdeep-run-1 C0F8BAEDF1C39B178DEDFBCE70C19E20")),
    };
    for (const std::string &signature : wrong) {
        ANSWER refused = send(keys, key, signature);
        EXPECT_EQ(refused.status, 400) << refused.body;
        EXPECT_NE(error_of(refused).find("does not verify"), std::string::npos) << refused.body;
    }
    PLAYER_KEY other;
    EXPECT_EQ(send(keys, other.key_text(), player.signature_text(id)).status, 400);
    EXPECT_EQ(store->count(), 0);
    // The name was claimed by none of them: another key takes it.
    EXPECT_EQ(send_signed(keys, other).status, 201);
}

TEST_F(SignedRuns, ARunSentWithBytesAfterItsEndIsSignedAsSentOrAsKept) {
    // A keys file may hold bytes after the game's end, which the hall does not keep; its page
    // signs the run as sent. The signature of the run as kept is good too, and one over the
    // bytes after the end alone is not.
    PLAYER_KEY player;
    const std::string kept = keys_of("hero", 42), sent = kept + "zzz\n";
    const std::string kept_id = run_id(run_of_keys(kept));
    ANSWER as_sent = send(sent, player.key_text(), player.signature_text(run_id(run_of_keys(sent))));
    ASSERT_EQ(as_sent.status, 201) << as_sent.body;
    EXPECT_EQ(JSON::parse(as_sent.body)["id"], kept_id);
    EXPECT_EQ(JSON::parse(as_sent.body)["signed"], true);
    ANSWER as_kept = send(keys_of("hero", 43) + "zzz", player.key_text(),
                          player.signature_text(run_id(run_of_keys(keys_of("hero", 43)))));
    EXPECT_EQ(as_kept.status, 201) << as_kept.body;
    ANSWER other = send(keys_of("hero", 44) + "zzz", player.key_text(),
                        player.signature_text(run_id(run_of_keys(keys_of("hero", 44) + "zz"))));
    EXPECT_EQ(other.status, 400) << other.body;
    EXPECT_EQ(store->count(), 2);
}

TEST_F(SignedRuns, DamagedFieldsAreRefused) {
    PLAYER_KEY player;
    const std::string keys = keys_of("hero", 42);
    const std::string key = player.key_text();
    const std::string signature = player.signature_text(run_id(run_of_keys(keys)));
    const std::pair<std::optional<std::string>, std::optional<std::string>> damaged[] = {
        {key, std::nullopt},                   // a key alone
        {std::nullopt, signature},             // a signature alone
        {key + "=", signature},                // padded
        {key, signature + "=="},               //
        {key.substr(1), signature},            // a letter short
        {key.substr(0, 42), signature},        // 31 bytes
        {key + "AA", signature},               // 33 bytes
        {key, signature.substr(0, 84)},        // 63 bytes
        {key, signature + "AA"},               // 65 bytes
        {"", ""},                              // empty fields
        {"+" + key.substr(1), signature},      // base64's own letters, not the URL's
        {key, "/" + signature.substr(1)},      //
        {key + ", " + key, signature},         // a field sent twice
        {std::string(43, '\xff'), signature},  // not text
    };
    for (const auto &[k, s] : damaged) {
        ANSWER refused = send(keys, k, s);
        EXPECT_EQ(refused.status, 400) << refused.body;
    }
    // A key of the right length that is no point of the curve does not verify either.
    std::string bad_point(32, '\xff');
    EXPECT_EQ(send(keys, write_base64url(bad_point), signature).status, 400);
    EXPECT_EQ(store->count(), 0);
    EXPECT_EQ(send_signed(keys, player).status, 201);
}

TEST_F(SignedRuns, AReleasedNameIsClaimedAgain) {
    PLAYER_KEY first, second;
    EXPECT_EQ(send_signed(keys_of("hero", 42), first).status, 201);
    EXPECT_EQ(send_signed(keys_of("hero", 43), second).status, 403);
    EXPECT_FALSE(store->release_name("Hero"));
    EXPECT_TRUE(store->release_name("hero"));
    EXPECT_FALSE(store->release_name("hero"));
    // Released, it goes to the next key that signs a run under it; the first run stays its own.
    ANSWER claimed = send_signed(keys_of("hero", 43), second);
    EXPECT_EQ(claimed.status, 201);
    EXPECT_EQ(JSON::parse(claimed.body)["key"], key_fingerprint(second.raw()));
    EXPECT_EQ(send_signed(keys_of("hero", 44), first).status, 403);
    JSON kept = JSON::parse(get("/api/runs/" + run_id(run_of_keys(keys_of("hero", 42)))).body);
    EXPECT_EQ(kept["key"], key_fingerprint(first.raw()));
}
