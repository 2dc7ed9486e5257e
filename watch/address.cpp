#include "watch/address.h"

#include <cctype>

namespace {
HALL_ADDRESS refused(const std::string &sentence) {
    HALL_ADDRESS address;
    address.error = sentence;
    return address;
}

bool all_digits(const std::string &text) {
    if (text.empty() || text.size() > 5) return false;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}
}  // namespace

bool plausible_game_id(const std::string &id) {
    if (id.empty() || id.size() > 64) return false;
    for (char c : id)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

std::string host_field(const HALL_ADDRESS &address) {
    const std::string host =
        address.host.find(':') != std::string::npos ? "[" + address.host + "]" : address.host;
    return address.port == "80" ? host : host + ":" + address.port;
}

HALL_ADDRESS read_hall_address(const std::string &text) {
    const std::size_t scheme_end = text.find("://");
    if (scheme_end == std::string::npos)
        return refused("Give the hall's address as http://host:port, or a watch link.");
    std::string scheme = text.substr(0, scheme_end);
    for (char &c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (scheme == "https" || scheme == "wss")
        return refused(
            "This program speaks plain http:// and ws:// only; a hall behind HTTPS can be watched "
            "on its web page.");
    if (scheme != "http" && scheme != "ws")
        return refused("Give the hall's address as http://host:port, or a watch link.");

    std::string rest = text.substr(scheme_end + 3);
    const std::size_t path_at = rest.find_first_of("/?#");
    std::string authority = rest.substr(0, path_at);
    std::string path = path_at == std::string::npos ? "" : rest.substr(path_at);
    if (authority.find('@') != std::string::npos) return refused("A hall's address has no user name.");

    HALL_ADDRESS address;
    address.port = "80";
    if (!authority.empty() && authority[0] == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string::npos)
            return refused("The hall's address has an IPv6 address without its ']'.");
        address.host = authority.substr(1, close - 1);
        const std::string after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after[0] != ':' || !all_digits(after.substr(1)))
                return refused("The hall's port must be a number.");
            address.port = after.substr(1);
        }
    } else {
        const std::size_t colon = authority.find(':');
        address.host = authority.substr(0, colon);
        if (colon != std::string::npos) {
            if (!all_digits(authority.substr(colon + 1))) return refused("The hall's port must be a number.");
            address.port = authority.substr(colon + 1);
        }
    }
    if (address.host.empty()) return refused("The hall's address has no host.");
    if (std::stoi(address.port) < 1 || std::stoi(address.port) > 65535)
        return refused("The hall's port must be between 1 and 65535.");

    // What follows the host: nothing (the list), the watch page with its id, or the socket.
    if (const std::size_t fragment = path.find('#'); fragment != std::string::npos) path.erase(fragment);
    const std::string page = "/watch.html?id=";
    const std::string socket = "/api/live/";
    if (path.empty() || path == "/") {
        // the list
    } else if (path.rfind(page, 0) == 0) {
        address.game = path.substr(page.size());
        if (const std::size_t more = address.game.find('&'); more != std::string::npos)
            address.game.erase(more);
    } else if (path.rfind(socket, 0) == 0 && path.size() > socket.size() + 6 &&
               path.compare(path.size() - 6, 6, "/watch") == 0) {
        address.game = path.substr(socket.size(), path.size() - socket.size() - 6);
    } else {
        return refused("That address is neither a hall nor a watch link (…/watch.html?id=ID).");
    }
    if ((path.size() > 1) && !plausible_game_id(address.game))
        return refused("The watch link's game id is not one a hall gives.");
    address.ok = true;
    return address;
}
