#include "browser/comment_text.h"

#include "store/site_record.h"
#include "support/html_text.h"
#include "support/sjis_text.h"

namespace hanabira {

namespace {

// Lines are split at CR LF, and also at a lone CR or LF: an editor may hand over bare LF breaks,
// and a break must never end up inside a field.
template <class F>
void ForEachOwnSiteLine(std::string_view text, F&& f) {
    ForEachLine(text, [&](std::string_view line) {
        std::string rest(line);
        TOwnSite site;
        // CutToken finds the comma only at character starts, so a double-byte second byte never
        // splits a field.
        site.Name = CutToken(rest, ",");
        site.URL = CutToken(rest, ",");
        site.MyName = CutToken(rest, ",");
        f(std::move(site));
    });
}

}  // namespace

std::vector<TOwnSite> ParseOwnSites(std::string_view ownSiteText) {
    std::vector<TOwnSite> sites;
    ForEachOwnSiteLine(ownSiteText, [&](TOwnSite site) { sites.push_back(std::move(site)); });
    return sites;
}

std::vector<std::string> OwnSiteNames(std::string_view ownSiteText) {
    std::vector<std::string> names;
    ForEachOwnSiteLine(ownSiteText, [&](TOwnSite site) { names.push_back(std::move(site.Name)); });
    return names;
}

TOwnSite OwnSiteFor(std::string_view ownSiteText, std::string_view name) {
    for (TOwnSite& site : ParseOwnSites(ownSiteText)) {
        if (site.Name == name) return site;
    }
    return {std::string(name), "----", "----"};
}

int FindNameNoCase(const std::vector<std::string>& names, std::string_view text) {
    const std::string wanted = LowerSjis(text);
    for (size_t i = 0; i < names.size(); ++i) {
        if (names[i].size() == wanted.size() && LowerSjis(names[i]) == wanted) return static_cast<int>(i);
    }
    return -1;
}

std::string FindManagerName(const TLightStrings& siteTable, std::string_view pageUrl) {
    for (int i = 0; i < siteTable.Count(); ++i) {
        const std::string& line = siteTable.Get(i);
        const std::string site = StripTrailingSlash(SiteURLOfLine(line));
        // The first match wins, even when a later, longer URL fits the page better.
        if (!site.empty() && CharPos(site, pageUrl) == 1) return ReadSiteRecord(line).ManagerName;
    }
    return {};
}

std::string FillCommentTemplate(std::string_view comment, std::string_view mySiteName,
                                std::string_view mySiteURL, std::string_view myName, std::string_view manager) {
    // Each step works on the result of the one before, so a value holding a later placeholder is
    // filled in turn.
    std::string text = ReplaceAllNoCase(comment, "{$MySiteName}", mySiteName);
    text = ReplaceAllNoCase(text, "{$MySiteURL}", mySiteURL);
    text = ReplaceAllNoCase(text, "{$MyName}", myName);
    return ReplaceAllNoCase(text, "{$Manager}", manager);
}

}  // namespace hanabira
