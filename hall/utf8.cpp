#include "hall/utf8.h"

std::size_t utf8_sequence(std::string_view bytes, char32_t &code) {
    if (bytes.empty()) return 0;
    auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    unsigned char lead = at(0);
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead < 0x80) {
        code = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
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

bool is_utf8(std::string_view bytes) {
    while (!bytes.empty()) {
        char32_t code = 0;
        std::size_t length = utf8_sequence(bytes, code);
        if (length == 0) return false;
        bytes.remove_prefix(length);
    }
    return true;
}
