// UTF-8 as a strict decoder takes it (RFC 3629): no overlong forms, no surrogates, nothing past
// U+10FFFF. The one reader of UTF-8 in the hall: for a run link's version and for names shown.
#pragma once

#include <cstddef>
#include <string_view>

// The length of the well-formed sequence at the start of `bytes`, and its code point; 0 when the
// first byte does not start one (an ASCII byte is a sequence of one).
std::size_t utf8_sequence(std::string_view bytes, char32_t &code);
// Whether all of `bytes` is well-formed UTF-8.
bool is_utf8(std::string_view bytes);
