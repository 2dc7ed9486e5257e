// The hall's list of live games as the watcher shows it, and text from the hall made safe for a
// terminal: nothing the hall sends reaches the terminal as a control byte.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// One row of the list: what is shown of it, and the id to watch.
struct LIVE_ROW {
    std::string id;
    std::string shown;
};

// The rows of GET /api/live's answer, newest first; false and a sentence for an answer that is
// not the list.
bool read_live_list(const std::string &body, std::vector<LIVE_ROW> &rows, std::string &error);

// Text as it may reach the terminal: control bytes as ^X (DEL as ^?), C1 controls and bytes that
// are not UTF-8 as \xHH, the rest as it is; at most `most` bytes of the text are shown.
std::string visible_text(std::string_view text, std::size_t most = 200);
