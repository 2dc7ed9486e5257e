// The site the hall may serve beside its answers: a folder of files (the unpacked web zip),
// served as they are.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "hall/api.h"

// The largest file of the site the hall serves.
inline constexpr std::uintmax_t MOST_SITE_FILE = 8 * 1024 * 1024;

// The file of the folder `site` at the decoded `path` ("/" and a path ending in "/" name its
// index.html), never one outside the folder: 404 for anything else.
ANSWER answer_site_file(const std::filesystem::path &site, const std::string &path);
