// A run's sheet: the hero's status screen at the run's end, as the game draws it, and the run's
// facts below it, as plain text.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "hall/store.h"

// The rows a terminal shows for what the game wrote after a clear: its colour codes (ESC [ ... m)
// take no place, a line ends at '\n', and every other byte that would act on a terminal or a
// page is shown as names are (hall/names.h), so the rows are always well-formed UTF-8.
std::vector<std::string> screen_rows(std::string_view written);

// The sheet of a kept run whose status screen the game wrote as `written`: the screen's rows,
// an empty line, then the run's facts a line each ("name: ...", "seed: ...", "build: ...",
// "ending: ...", "keys: ...", "when: ...").
std::string sheet_text(const KEPT_RUN &run, std::string_view written);
