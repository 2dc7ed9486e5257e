// A hall in this process on a fresh SQLite file, its clock held still.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>

#include "hall/routes.h"

// 2026-12-08T14:05:09Z
inline constexpr long long PINNED_SECONDS = 1796738709;

inline std::string temporary_folder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "marrowdeep-hall-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    return pattern;
}

// The secret the in-process halls are given: the bytes 0 to 31.
inline std::string test_secret() {
    std::string secret;
    for (int i = 0; i < 32; ++i) secret += static_cast<char>(i);
    return secret;
}

class HallTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder = temporary_folder();
        store = open_store("sqlite:" + folder + "/hall.db", 2);
        hall.store = store.get();
        hall.secret = store->secret(test_secret());
        hall.now_ms = [this] { return clock_ms; };
    }
    void TearDown() override {
        store.reset();
        std::filesystem::remove_all(folder);
    }

    ANSWER get(const std::string &target) {
        return handle(hall, {"GET", target, "", "127.0.0.1", "", "", "http", {}, {}});
    }
    ANSWER post(const std::string &target, const std::string &body,
                const std::string &address = "127.0.0.1") {
        return handle(hall, {"POST", target, body, address, "", "", "http", {}, {}});
    }

    std::string folder;
    std::unique_ptr<STORE> store;
    HALL hall;
    long long clock_ms = PINNED_SECONDS * 1000;
};
