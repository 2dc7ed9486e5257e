#include "hall/sheet.h"

#include "hall/api.h"
#include "hall/names.h"

std::vector<std::string> screen_rows(std::string_view written) {
    std::vector<std::string> rows;
    std::string row;
    std::size_t i = 0;
    while (i < written.size()) {
        const char c = written[i];
        if (c == '\n') {
            rows.push_back(visible_name(row));
            row.clear();
            ++i;
            continue;
        }
        if (c == '\x1b' && i + 1 < written.size() && written[i + 1] == '[') {
            std::size_t end = i + 2;
            while (end < written.size() &&
                   ((written[end] >= '0' && written[end] <= '9') || written[end] == ';'))
                ++end;
            if (end < written.size() && written[end] == 'm') {
                i = end + 1;
                continue;
            }
        }
        row += c;
        ++i;
    }
    if (!row.empty()) rows.push_back(visible_name(row));
    return rows;
}

std::string sheet_text(const KEPT_RUN &run, std::string_view written) {
    std::string text;
    for (const std::string &row : screen_rows(written)) text += row + "\n";
    const RECORD &r = run.record;
    text += "\n";
    text += "name: " + visible_name(r.name) + "\n";
    text += "seed: " + std::to_string(r.seed) + (r.clock ? " (from the clock)" : " (typed)") + "\n";
    text += "build: " + visible_name(r.version) + (r.mode == "plain" ? "" : " (" + r.mode + ")") + "\n";
    text += "ending: " + r.ending + (r.boss ? " (a boss beaten)" : "") + "\n";
    text += "level: " + std::to_string(r.level) + ", experience " + std::to_string(r.experience) + "\n";
    text += "keys: " + std::to_string(r.keys) + "\n";
    text += "when: " + utc_time(run.submitted) + "\n";
    text += "id: " + run.id + "\n";
    return text;
}
