#include "hall/site.h"

#include <algorithm>
#include <fstream>
#include <utility>

namespace {
// A file's type by its name's extension; bytes for any other.
const char *content_type_of(const std::filesystem::path &file) {
    static const std::pair<const char *, const char *> types[] = {
        {".html", "text/html; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".mjs", "text/javascript; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".wasm", "application/wasm"},
        {".json", "application/json"},
        {".webmanifest", "application/manifest+json"},
        {".svg", "image/svg+xml"},
        {".png", "image/png"},
        {".ico", "image/x-icon"},
        {".woff2", "font/woff2"},
        {".txt", "text/plain; charset=utf-8"},
        {".keys", "application/octet-stream"},
    };
    std::string extension = file.extension().string();
    for (const auto &[known, type] : types)
        if (extension == known) return type;
    return "application/octet-stream";
}

// The policy a page states in its <meta http-equiv="Content-Security-Policy" content="...">.
std::string page_policy(const std::string &page) {
    std::size_t meta = page.find("http-equiv=\"Content-Security-Policy\"");
    if (meta == std::string::npos) return {};
    std::size_t end_of_tag = page.find('>', meta);
    std::size_t content = page.find("content=\"", meta);
    if (content == std::string::npos || content > end_of_tag) return {};
    content += 9;
    std::size_t close = page.find('"', content);
    if (close == std::string::npos || close > end_of_tag) return {};
    return page.substr(content, close - content);
}
}  // namespace

// A file of the site's folder, never one outside it: no part of the path may be empty, . or
// .., hold a backslash or a NUL, and the file found must lie in the folder once links are
// followed.
ANSWER answer_site_file(const std::filesystem::path &site, const std::string &decoded_path) {
    const ANSWER missing = error_answer(404, "There is nothing at this address.");
    std::string path = decoded_path;
    if (path.empty() || path[0] != '/') return missing;
    if (path.back() == '/') path += "index.html";
    std::filesystem::path relative;
    std::size_t start = 1;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        std::string part = path.substr(start, end - start);
        if (part.empty() || part == "." || part == ".." || part.find('\\') != std::string::npos ||
            part.find('\0') != std::string::npos)
            return missing;
        relative /= part;
        start = end + 1;
    }
    std::error_code error;
    std::filesystem::path root = std::filesystem::canonical(site, error);
    if (error) return missing;
    std::filesystem::path file = std::filesystem::canonical(root / relative, error);
    if (error || !std::filesystem::is_regular_file(file, error)) return missing;
    auto [root_end, file_at] = std::mismatch(root.begin(), root.end(), file.begin(), file.end());
    if (root_end != root.end()) return missing;
    auto size = std::filesystem::file_size(file, error);
    if (error) return missing;
    if (size > MOST_SITE_FILE) return error_answer(500, "The file is too large for the hall to serve.");
    std::ifstream in(file, std::ios::binary);
    if (!in) return missing;
    ANSWER answer;
    answer.content_type = content_type_of(file);
    answer.body.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (answer.body.size() > MOST_SITE_FILE)
        return error_answer(500, "The file is too large for the hall to serve.");
    answer.headers.emplace_back("Cache-Control", "no-cache");
    // A page's policy is its own <meta> tag's, sent as a field too, with framing forbidden
    // (which a <meta> policy cannot say).
    if (file.extension() == ".html") {
        std::string policy = page_policy(answer.body);
        answer.headers.emplace_back("Content-Security-Policy", policy.empty()
                                                                   ? "frame-ancestors 'none'"
                                                                   : policy + "; frame-ancestors 'none'");
    }
    return answer;
}
