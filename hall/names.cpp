#include "hall/names.h"

#include "hall/utf8.h"

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
