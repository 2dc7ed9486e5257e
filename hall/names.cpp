#include "hall/names.h"

namespace {
void show_bytes(std::string &text, std::string_view bytes) {
    static const char digits[] = "0123456789ABCDEF";
    for (char c : bytes) {
        unsigned char byte = static_cast<unsigned char>(c);
        text += "\\x";
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
}

// The length of the well-formed UTF-8 sequence at the start of bytes, and its code point; 0
// when the first byte does not start one (RFC 3629: no overlong forms, no surrogates, nothing
// past U+10FFFF).
std::size_t utf8_sequence(std::string_view bytes, char32_t &code) {
    auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    unsigned char lead = at(0);
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (bytes.size() < length) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        unsigned char next = at(i);
        if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF)) return 0;
        code = code << 6 | (next & 0x3F);
    }
    return length;
}

// Characters that are not seen but change what is around them.
bool invisible_control(char32_t code) {
    return (code >= 0x80 && code <= 0x9F) || code == 0x061C || (code >= 0x200B && code <= 0x200F) ||
           (code >= 0x2028 && code <= 0x202E) || (code >= 0x2060 && code <= 0x2069) || code == 0xFEFF;
}
}  // namespace

std::string visible_name(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        unsigned char byte = static_cast<unsigned char>(bytes[i]);
        if (byte < 0x20) {
            text += '^';
            text += static_cast<char>(byte + 0x40);
            ++i;
        } else if (byte == 0x7F) {
            text += "^?";
            ++i;
        } else if (byte < 0x80) {
            text += static_cast<char>(byte);
            ++i;
        } else {
            char32_t code = 0;
            std::size_t length = utf8_sequence(bytes.substr(i), code);
            if (length == 0) {
                show_bytes(text, bytes.substr(i, 1));
                ++i;
            } else {
                if (invisible_control(code))
                    show_bytes(text, bytes.substr(i, length));
                else
                    text.append(bytes.substr(i, length));
                i += length;
            }
        }
    }
    return text;
}
