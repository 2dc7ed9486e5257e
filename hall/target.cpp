// The target's path and query are decoded by hand: the hall builds with Debian 12's own Boost,
// 1.74 (libboost-dev), in which no library decodes them (Beast reads the request line and stops
// at the target's text); Boost.URL, which would, came with Boost 1.81.
#include "hall/target.h"

#include <algorithm>

namespace {
bool hex_digit(char c, int &value) {
    if (c >= '0' && c <= '9')
        value = c - '0';
    else if (c >= 'a' && c <= 'f')
        value = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        value = c - 'A' + 10;
    else
        return false;
    return true;
}

// False for a broken %XX.
bool percent_decoded(std::string_view text, bool plus_is_space, std::string &out) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%') {
            int high, low;
            if (i + 2 >= text.size()) return false;
            if (!hex_digit(text[i + 1], high) || !hex_digit(text[i + 2], low)) return false;
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else if (c == '+' && plus_is_space) {
            out += ' ';
        } else {
            out += c;
        }
    }
    return true;
}
}  // namespace

bool parse_target(std::string_view target, TARGET &parsed) {
    // The absolute form a proxy may send (http://host/path?query) names the same path.
    for (std::string_view scheme : {"http://", "https://"}) {
        if (target.size() >= scheme.size() &&
            std::equal(scheme.begin(), scheme.end(), target.begin(), [](char a, char b) {
                return a == (b >= 'A' && b <= 'Z' ? static_cast<char>(b - 'A' + 'a') : b);
            })) {
            std::size_t path = target.find_first_of("/?", scheme.size());
            if (path == std::string_view::npos) {
                target = "/";
            } else {
                target = target.substr(path);
            }
            break;
        }
    }
    std::size_t question = target.find('?');
    if (!percent_decoded(target.substr(0, question), false, parsed.path)) return false;
    if (parsed.path.empty()) parsed.path.push_back('/');
    if (question == std::string_view::npos) return true;
    std::string_view query = target.substr(question + 1);
    while (!query.empty()) {
        std::size_t amp = query.find('&');
        std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        if (pair.empty()) continue;
        std::size_t equals = pair.find('=');
        std::string key, value;
        if (!percent_decoded(pair.substr(0, equals), true, key)) return false;
        if (equals != std::string_view::npos && !percent_decoded(pair.substr(equals + 1), true, value))
            return false;
        parsed.query.emplace_back(std::move(key), std::move(value));
    }
    return true;
}

const std::string *query_parameter(const TARGET &target, std::string_view key) {
    for (const auto &entry : target.query)
        if (entry.first == key) return &entry.second;
    return nullptr;
}
