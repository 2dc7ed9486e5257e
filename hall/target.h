// A request's target as the hall reads it: the path and the query's parameters, decoded.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The path of a target, and its query's parameters, %XX and + decoded.
struct TARGET {
    std::string path;
    std::vector<std::pair<std::string, std::string>> query;
};

// False for a target that is not well formed (a broken %XX). The absolute form a proxy may send
// (http://host/path?query) names the same path; an empty path is "/".
bool parse_target(std::string_view target, TARGET &parsed);

// The first value of the query's parameter `key`; nullptr when the query has none.
const std::string *query_parameter(const TARGET &target, std::string_view key);
