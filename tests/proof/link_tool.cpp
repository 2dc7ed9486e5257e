// The hall's link reader and writer on a line protocol, for the page's own reader and writer to
// be held against them (links_test.mjs). Each line of standard input is a request, and each
// answer is one line:
//   R <text>                       -> ok <keys> <clock or -> <version>  |  refused <status> <sentence>
//   W <keys> <clock or -> <version> -> <text>
// where keys and version are written in hex (a lone "-" for none).
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>

#include "hall/run_link.h"

namespace {
std::string hex(const std::string &bytes) {
    if (bytes.empty()) return "-";
    static const char *const digits = "0123456789abcdef";
    std::string text;
    for (char c : bytes) {
        text.push_back(digits[static_cast<unsigned char>(c) >> 4]);
        text.push_back(digits[static_cast<unsigned char>(c) & 15]);
    }
    return text;
}

std::string unhex(const std::string &text) {
    std::string bytes;
    if (text == "-") return bytes;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2)
        bytes.push_back(static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16)));
    return bytes;
}
}  // namespace

int main() {
    std::string line;
    while (std::getline(std::cin, line)) {
        if (line.rfind("R ", 0) == 0) {
            const RUN_READING r = read_run_link(line.substr(2));
            if (r.ok)
                std::cout << "ok " << hex(r.run.keys) << ' '
                          << (r.run.has_clock ? std::to_string(r.run.clock) : "-") << ' '
                          << hex(r.run.version) << '\n';
            else
                std::cout << "refused " << r.status << ' ' << r.error << '\n';
        } else if (line.rfind("W ", 0) == 0) {
            std::istringstream words(line.substr(2));
            std::string keys, clock, version;
            words >> keys >> clock >> version;
            RUN run{unhex(keys), clock != "-", clock != "-" ? std::stoll(clock) : 0, unhex(version)};
            std::cout << write_run_link(run) << '\n';
        } else {
            std::cout << "?\n";
        }
    }
    return 0;
}
