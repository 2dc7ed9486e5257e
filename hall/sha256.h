// SHA-256 and HMAC-SHA-256: the digest that names a run and the keyed sum behind the day's seed.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

using DIGEST = std::array<std::uint8_t, 32>;

DIGEST sha256(std::string_view bytes);
DIGEST hmac_sha256(std::string_view key, std::string_view message);
// Lower-case hexadecimal, two digits a byte.
std::string hex(const std::uint8_t *bytes, std::size_t count);
