#include "watch/listing.h"

#include <nlohmann/json.hpp>

#include "hall/utf8.h"

using JSON = nlohmann::json;

namespace {
const char *const hex_digits = "0123456789ABCDEF";

std::string hex_byte(unsigned char b) { return std::string("\\x") + hex_digits[b >> 4] + hex_digits[b & 15]; }

// A field of the listing as text: a string made visible, a whole number written out, anything
// else a dash.
std::string field(const JSON &game, const char *name, std::size_t most = 40) {
    const auto found = game.find(name);
    if (found == game.end()) return "-";
    if (found->is_string()) return visible_text(found->get_ref<const std::string &>(), most);
    if (found->is_number_integer()) return std::to_string(found->get<long long>());
    if (found->is_number_unsigned()) return std::to_string(found->get<unsigned long long>());
    return "-";
}
}  // namespace

std::string visible_text(std::string_view text, std::size_t most) {
    std::string shown;
    const std::string_view kept = text.substr(0, most);
    for (std::size_t at = 0; at < kept.size();) {
        const auto b = static_cast<unsigned char>(kept[at]);
        if (b < 0x20) {
            shown += '^';
            shown += static_cast<char>(b + 0x40);
            ++at;
        } else if (b == 0x7f) {
            shown += "^?";
            ++at;
        } else if (b < 0x80) {
            shown += static_cast<char>(b);
            ++at;
        } else {
            char32_t code = 0;
            const std::size_t length = utf8_sequence(kept.substr(at), code);
            if (length == 0 || (code >= 0x80 && code < 0xa0)) {
                // Not UTF-8, or a C1 control: each byte of it as its value.
                const std::size_t bytes = length == 0 ? 1 : length;
                for (std::size_t i = 0; i < bytes; ++i)
                    shown += hex_byte(static_cast<unsigned char>(kept[at + i]));
                at += bytes;
            } else {
                shown.append(kept.substr(at, length));
                at += length;
            }
        }
    }
    if (text.size() > most) shown += "...";
    return shown;
}

bool read_live_list(const std::string &body, std::vector<LIVE_ROW> &rows, std::string &error) {
    const JSON list = JSON::parse(body, nullptr, false);
    if (list.is_discarded() || !list.is_object() || !list.contains("games") || !list["games"].is_array()) {
        error = "The hall's answer is not a list of live games.";
        return false;
    }
    for (const JSON &game : list["games"]) {
        if (!game.is_object() || !game.contains("id") || !game["id"].is_string()) {
            error = "The hall's list of live games has a game without an id.";
            return false;
        }
        LIVE_ROW row;
        row.id = game["id"].get<std::string>();
        std::string seed = field(game, "seed");
        if (seed == "-") seed = "not yet";
        row.shown = field(game, "name") + "  seed " + seed + "  keys " + field(game, "keys") + "  watchers " +
                    field(game, "watchers") + "  since " + field(game, "started");
        if (game.contains("delayed") && game["delayed"].is_number_integer() &&
            game["delayed"].get<long long>() > 0)
            row.shown += "  (" + std::to_string(game["delayed"].get<long long>() / 60) + " minutes late)";
        rows.push_back(std::move(row));
    }
    return true;
}
