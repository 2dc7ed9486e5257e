#include "hall/run_link.h"

const char *const RUN_LINK_DAMAGED = "This run link is damaged or cut short, so it cannot be played.";
const char *const RUN_LINK_TOO_LONG = "This run link is too long to be played: a run holds at most 100,000 keys.";
const char *const RUN_LINK_FOREIGN = "This run link was made by a page that this one cannot read.";

RUN_READING read_run_link(std::string_view) {
    RUN_READING reading;
    reading.error = RUN_LINK_DAMAGED;
    return reading;
}

std::string write_run_link(const RUN &) { return {}; }
