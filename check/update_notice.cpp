#include "check/update_notice.h"

#include <cctype>

#include "check/visit_list.h"
#include "store/site_record.h"
#include "support/codepage.h"
#include "support/sjis_text.h"

namespace hanabira {

namespace {

constexpr int kNamesShown = 3;

// "&#x" + hex digits + ";" at pos.
size_t CharacterReferenceLength(std::string_view text, size_t pos) {
    if (text.substr(pos, 3) != "&#x") return 0;
    size_t i = pos + 3;
    while (i < text.size() && std::isxdigit(static_cast<unsigned char>(text[i]))) ++i;
    if (i == pos + 3 || i >= text.size() || text[i] != ';') return 0;
    return i + 1 - pos;
}

}  // namespace

VisitSnapshot TakeVisitSnapshot(const TLightStrings& siteTable) {
    VisitSnapshot snapshot;
    for (int i = 0; i < siteTable.Count(); ++i) {
        const TMWBlogListRec rec = ReadSiteRecord(siteTable.Get(i));
        snapshot.emplace(rec.SiteURL, NeedsVisit(rec));  // the first of two equal URLs, as the checks
    }
    return snapshot;
}

std::vector<std::string> SitesEnteredVisitList(const VisitSnapshot& before, const TLightStrings& siteTable) {
    std::vector<std::string> names;
    for (int i = 0; i < siteTable.Count(); ++i) {
        const TMWBlogListRec rec = ReadSiteRecord(siteTable.Get(i));
        const auto it = before.find(rec.SiteURL);
        if (it == before.end() || it->second || !NeedsVisit(rec)) continue;
        names.push_back(rec.SiteTitle.empty() ? rec.SiteURL : rec.SiteTitle);
    }
    return names;
}

std::string UpdateNoticeText(int count, const std::vector<std::string>& names) {
    std::string text = std::to_string(count) + SjisLiteral(" 件のブログが更新されました");
    int shown = 0;
    for (const std::string& name : names) {
        if (shown == kNamesShown || shown == count) break;
        text += shown == 0 ? std::string(": ") : SjisLiteral("、");
        text += name;
        ++shown;
    }
    if (count > shown && shown > 0)
        text += SjisLiteral(" ほか ") + std::to_string(count - shown) + SjisLiteral(" 件");
    return text;
}

std::string EscapeNoticeMarkup(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    // '&', '<' and '>' are below every second byte of a double-byte character (0x40 and up), so a
    // byte-wise scan never touches half a character.
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '&') {
            if (const size_t n = CharacterReferenceLength(text, i)) {
                out.append(text.substr(i, n));
                i += n - 1;
            } else {
                out += "&amp;";
            }
        } else if (c == '<') {
            out += "&lt;";
        } else if (c == '>') {
            out += "&gt;";
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace hanabira
