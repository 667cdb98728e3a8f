#include "register/site_probe.h"

#include "support/codepage.h"
#include "support/encoding.h"
#include "support/html_text.h"
#include "support/sjis_text.h"
#include "support/web_fetch.h"

namespace hanabira {

namespace {

// A stored site line is TAB-separated and one line long, so a pasted TAB or line break (or one that
// a feed title carries) must never reach a field.
std::string WithoutBreaks(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c != '\t' && c != '\r' && c != '\n') out += c;
    }
    return out;
}

std::string CleanField(std::string_view text) { return TrimSpaces(WithoutBreaks(text)); }

// The value after "href=" in the rest of a link tag. A double-quoted value is taken between its
// quotes; an empty one gives the empty text, so the caller tries the next link. An unquoted value
// ends at white space or a double quote, a single-quoted one at its closing quote, so that the
// attributes after it never become part of the URL.
std::string HrefValue(std::string& rest) {
    if (!rest.empty() && rest.front() == '"') {
        CutToken(rest, "\"");
        return CutToken(rest, "\"");
    }
    if (!rest.empty() && rest.front() == '\'') {
        CutToken(rest, "'");
        return CutToken(rest, "'");
    }
    return CutToken(rest, " \t\r\n\"");
}

}  // namespace

std::string ProbeUrlFromField(std::string_view fieldText) {
    return StripTrailingSlash(CleanField(fieldText));
}

std::string FindFeedLink(std::string_view decodedPage) {
    std::string page(decodedPage);
    // Only the head announces feeds; a page without "<body" has no head to search.
    std::string head = CutThrough(page, "<body");
    while (!head.empty()) {
        CutThrough(head, "<link ");
        std::string tag = CutToken(head, ">");
        if (CharPos("href=", tag) == 0 || CharPos("rel=\"alternate\"", tag) == 0) continue;
        CutThrough(tag, "href=");
        std::string feed = HrefValue(tag);
        if (!feed.empty()) return feed;
    }
    return {};
}

void ProbeSiteUrl(std::string_view url, ProbeResult& result, const ProbeStatus& status) {
    result = ProbeResult{};
    auto say = [&status](const char* utf8) {
        if (status) status(SjisLiteral(utf8));
    };
    say("サイトデータを読み込んでいます");
    const std::string page = DecodePageText(FetchPageText(std::string(url)));
    result.FeedURL = FindFeedLink(page);
    if (result.FeedURL.empty()) return;
    // The feed URL is fetched as the page gives it; only the first feed link is ever tried.
    say("RSSデータを読み込んでいます");
    const std::string rss = DecodeFeedText(FetchPageText(result.FeedURL));
    result.Title = ExtractTitle(rss);
}

ProbeResult ProbeSiteUrl(std::string_view url, const ProbeStatus& status) {
    ProbeResult result;
    ProbeSiteUrl(url, result, status);
    return result;
}

TMWBlogListRec BuildSiteRecord(const SiteFields& fields, std::string_view keptLastVisit,
                               std::string_view keptLastUpdate, std::string_view registered) {
    TMWBlogListRec rec;
    rec.SiteTitle = CleanField(fields.SiteTitle);
    // Trimmed before the slash comes off, as the probe does, so that the stored URL is the one
    // that was fetched; trimmed again for spaces before a removed slash.
    rec.SiteURL = TrimSpaces(ProbeUrlFromField(fields.SiteURL));
    rec.LastVisit = std::string(keptLastVisit);
    rec.Registered = std::string(registered);
    rec.LastUpdate = std::string(keptLastUpdate);
    rec.Category = WithoutBreaks(fields.Category);
    rec.RSSURL = CleanField(fields.RSSURL);
    rec.HeadTime.clear();
    rec.HeadCheck = fields.SkipHeadCheck ? "Skip" : "";
    rec.ManagerName = CleanField(fields.ManagerName);
    return rec;
}

}  // namespace hanabira
