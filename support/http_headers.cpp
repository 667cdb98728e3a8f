#include "support/http_headers.h"

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

}  // namespace hanabira
