#include "support/http_headers.h"

#include <curl/curl.h>

#include <algorithm>

#include "support/sjis_text.h"

namespace hanabira {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

bool SameAsciiNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

}  // namespace

std::vector<std::string> HeaderFieldValues(std::string_view statusAndHeaders, std::string_view name) {
    std::vector<std::string> values;
    // Whether the last field line was one of ours, so that its continuation lines join it.
    bool inField = false;
    ForEachLine(statusAndHeaders, [&](std::string_view line) {
        if (!line.empty() && IsBlank(line.front())) {
            const std::string_view more = TrimBlanks(line);
            if (inField && !more.empty()) {
                std::string& value = values.back();
                if (!value.empty()) value.push_back(' ');
                value.append(more);
            }
            return;
        }
        inField = false;
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos) return;
        const std::string_view field = TrimBlanks(line.substr(0, colon));
        if (field.empty() || field.find_first_of(" \t") != std::string_view::npos) return;
        if (!SameAsciiNoCase(field, name)) return;
        values.emplace_back(TrimBlanks(line.substr(colon + 1)));
        inField = true;
    });
    return values;
}

long RetryAfterSeconds(std::string_view statusAndHeaders, std::time_t now) {
    const std::vector<std::string> values = HeaderFieldValues(statusAndHeaders, "Retry-After");
    if (values.empty() || values.front().empty()) return -1;
    const std::string& v = values.front();
    if (std::all_of(v.begin(), v.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        // Beyond a day it is as good as "never": the digits need not fit a long.
        if (v.size() > 6) return 86400;
        return std::stol(v);
    }
    const std::time_t at = curl_getdate(v.c_str(), nullptr);
    if (at == -1) return -1;
    return std::max<long>(0, static_cast<long>(at - now));
}

}  // namespace hanabira
