// The hall's Atom feed: news of its boards for feed readers. Every text in it comes from runs
// (names above all), so each is written as XML text with its markup escaped and with nothing XML
// 1.0 cannot carry.
#include <algorithm>
#include <string>
#include <vector>

#include "hall/api.h"
#include "hall/names.h"
#include "hall/utf8.h"

namespace {
// The entries of each kind read, and the most the feed carries.
constexpr int first_places_read = 50;
constexpr long long days_of_winners = 30;
constexpr std::size_t most_entries = 50;

// Text for an XML element or attribute: the five marked characters escaped, and each character
// XML 1.0 does not allow (controls but tab and line ends, U+FFFE and U+FFFF, bytes that are not
// UTF-8) shown as \xNN of its bytes instead.
std::string xml_text(std::string_view text) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        char32_t code = 0;
        std::size_t length = utf8_sequence(text.substr(i), code);
        const bool allowed = length > 0 && (code >= 0x20 || code == '\t' || code == '\n' || code == '\r') &&
                             code != 0xFFFE && code != 0xFFFF;
        if (!allowed) {
            const std::size_t shown = length > 0 ? length : 1;
            for (char c : text.substr(i, shown)) {
                const auto byte = static_cast<unsigned char>(c);
                out += "\\x";
                out += digits[byte >> 4];
                out += digits[byte & 15];
            }
            i += shown;
            continue;
        }
        switch (code) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            default: out.append(text.substr(i, length));
        }
        i += length;
    }
    return out;
}

// A name as the feed shows it: as the boards do, its first 40 bytes at most.
std::string feed_name(const std::string &name) {
    if (name.size() <= MOST_NAME_BYTES) return visible_name(name);
    return visible_name(std::string_view(name).substr(0, MOST_NAME_BYTES)) + "...";
}

// A Host field that is a plain host name or address, with a port or not: nothing else goes into
// the feed's links.
bool plain_host(std::string_view host) {
    if (host.empty() || host.size() > 255) return false;
    return std::all_of(host.begin(), host.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
               c == '-' || c == ':' || c == '[' || c == ']';
    });
}

std::string feed_base(const HALL &hall, const REQUEST &request) {
    std::string base;
    if (!hall.origins.empty())
        base = hall.origins.front();
    else if (plain_host(request.host) && (request.scheme == "http" || request.scheme == "https"))
        base = request.scheme + "://" + request.host;
    else
        base = "http://localhost";
    while (!base.empty() && base.back() == '/') base.pop_back();
    return base;
}

struct FEED_ENTRY {
    long long updated = 0;  // seconds since 1970
    std::string id, title, link, summary;
};

std::string run_summary(const KEPT_RUN &run) {
    const RECORD &r = run.record;
    return "Seed " + std::to_string(r.seed) + ", level " + std::to_string(r.level) + ", " +
           std::to_string(r.experience) + " experience, " + std::to_string(r.keys) + " keys, " +
           (r.boss ? "the boss beaten, " : "") + (r.ending == "quit" ? "quit" : "fell") + ".";
}
}  // namespace

ANSWER answer_feed(HALL &hall, const REQUEST &request) {
    const std::string base = feed_base(hall, request);
    auto page_of = [&](const KEPT_RUN &run) { return base + "/run.html?id=" + run.id; };
    std::vector<FEED_ENTRY> entries;
    for (const KEPT_RUN &run : hall.store->first_places(first_places_read))
        entries.push_back(FEED_ENTRY{
            run.submitted, page_of(run) + "#first",
            feed_name(run.record.name) + " takes first place on seed " + std::to_string(run.record.seed),
            page_of(run), run_summary(run)});
    long long now = hall.now_ms() / 1000;
    const long long today = now / 86400 - (now % 86400 < 0 ? 1 : 0);
    for (const KEPT_RUN &run : hall.store->day_winners(today - days_of_winners, today)) {
        const long long day_start = run.submitted - ((run.submitted % 86400) + 86400) % 86400;
        const std::string date = utc_date(day_start);
        entries.push_back(FEED_ENTRY{day_start + 86400, base + "/hall.html?day=" + date,
                                     feed_name(run.record.name) + " wins the day of " + date, page_of(run),
                                     run_summary(run)});
    }
    // The newest first; of two at one second, the day's winner (read second) before.
    std::stable_sort(entries.begin(), entries.end(),
                     [](const FEED_ENTRY &a, const FEED_ENTRY &b) { return a.updated > b.updated; });
    if (entries.size() > most_entries) entries.resize(most_entries);

    std::string xml =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<feed xmlns=\"http://www.w3.org/2005/Atom\">\n";
    xml += "<id>" + xml_text(base + "/feed.atom") + "</id>\n";
    xml += "<title>Marrowdeep hall</title>\n";
    xml += "<updated>" + utc_time(entries.empty() ? 0 : entries.front().updated) + "</updated>\n";
    xml += "<author><name>Marrowdeep hall</name></author>\n";
    xml +=
        "<link rel=\"self\" type=\"application/atom+xml\" href=\"" + xml_text(base + "/feed.atom") + "\"/>\n";
    xml += "<link rel=\"alternate\" type=\"text/html\" href=\"" + xml_text(base + "/hall.html") + "\"/>\n";
    for (const FEED_ENTRY &entry : entries) {
        xml += "<entry>\n<id>" + xml_text(entry.id) + "</id>\n<title>" + xml_text(entry.title) +
               "</title>\n<updated>" + utc_time(entry.updated) +
               "</updated>\n<link rel=\"alternate\" type=\"text/html\" href=\"" + xml_text(entry.link) +
               "\"/>\n<summary>" + xml_text(entry.summary) + "</summary>\n</entry>\n";
    }
    xml += "</feed>\n";
    ANSWER answer;
    answer.content_type = "application/atom+xml";
    answer.body = std::move(xml);
    return answer;
}
