#include "register/site_probe.h"

#include <vector>

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

// The head is walked byte by byte. Every byte that the walk stops at ("<", ">", quotes, "=", white
// space) lies below 0x40 and so is never the second byte of a Shift_JIS character: the byte after
// it always starts a character, and a name or value taken between such bytes is whole characters.
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }

bool IsNameChar(char c) { return !IsSpace(c) && c != '=' && c != '>' && c != '/' && c != '"' && c != '\''; }

struct Attribute {
    std::string_view name;      // from the lower-cased copy
    size_t valueBegin = 0, valueEnd = 0;  // byte range of the value, in both texts
};

// The attributes of a tag from pos (after its name) to its closing ">", which a quoted value may
// contain. pos ends after the ">" (or at the end of the text).
std::vector<Attribute> ReadAttributes(std::string_view low, size_t& pos) {
    std::vector<Attribute> attrs;
    const size_t n = low.size();
    while (pos < n) {
        while (pos < n && (IsSpace(low[pos]) || low[pos] == '/')) ++pos;
        if (pos >= n) break;
        if (low[pos] == '>') {
            ++pos;
            break;
        }
        Attribute a;
        size_t nameEnd = pos;
        while (nameEnd < n && IsNameChar(low[nameEnd])) ++nameEnd;
        if (nameEnd == pos) ++nameEnd;  // a stray quote or "=": step over it
        a.name = low.substr(pos, nameEnd - pos);
        pos = nameEnd;
        size_t p = pos;
        while (p < n && IsSpace(low[p])) ++p;
        if (p < n && low[p] == '=') {
            ++p;
            while (p < n && IsSpace(low[p])) ++p;
            if (p < n && (low[p] == '"' || low[p] == '\'')) {
                const size_t close = low.find(low[p], p + 1);
                a.valueBegin = p + 1;
                a.valueEnd = close == std::string_view::npos ? n : close;
                pos = close == std::string_view::npos ? n : close + 1;
            } else {
                a.valueBegin = p;
                while (p < n && !IsSpace(low[p]) && low[p] != '>') ++p;
                a.valueEnd = p;
                pos = p;
            }
        }
        attrs.push_back(a);
    }
    return attrs;
}

const Attribute* FindAttribute(const std::vector<Attribute>& attrs, std::string_view name) {
    for (const Attribute& a : attrs)
        if (a.name == name) return &a;
    return nullptr;
}

std::string_view ValueIn(std::string_view text, const Attribute* a) {
    return a ? text.substr(a->valueBegin, a->valueEnd - a->valueBegin) : std::string_view();
}

// A URL attribute as a browser takes it: white space around it dropped, entities decoded.
std::string UrlValue(std::string_view value) { return TrimSpaces(DecodeEntities(CleanField(value))); }

// What an alternate link announces, by its type: a feed, something that might be one (no type, or
// another XML type), or something that is not (a page, oEmbed data).
enum class LinkKind { Feed, Maybe, Other };

LinkKind KindOf(std::string_view lowType) {
    std::string type = TrimSpaces(CleanField(lowType.substr(0, lowType.find(';'))));
    if (type == "application/rss+xml" || type == "application/atom+xml" || type == "application/rdf+xml")
        return LinkKind::Feed;
    if (type.empty() || type == "text/xml" || type == "application/xml") return LinkKind::Maybe;
    if (type.size() > 4 && type.compare(type.size() - 4, 4, "+xml") == 0 && type != "application/xhtml+xml")
        return LinkKind::Maybe;
    return LinkKind::Other;
}

}  // namespace

std::string ProbeUrlFromField(std::string_view fieldText) {
    return StripTrailingSlash(CleanField(fieldText));
}

std::string FindFeedLink(std::string_view decodedPage, std::string_view pageUrl) {
    // Searched in lower case; lower-casing keeps every byte where it is, so the values are cut
    // from the page as served at the positions found.
    const std::string lowPage = LowerSjis(decodedPage);
    // Only the head announces feeds; a page without "<body" has no head to search.
    const size_t bodyAt = FindOnBoundary("<body", lowPage);
    if (bodyAt == std::string::npos) return {};
    const std::string_view low(lowPage.data(), bodyAt);
    const std::string_view page = decodedPage.substr(0, bodyAt);

    std::string base(pageUrl), fallback;
    size_t pos = 0;
    while ((pos = low.find('<', pos)) != std::string_view::npos) {
        if (low.compare(pos, 4, "<!--") == 0) {
            const size_t end = low.find("-->", pos + 4);  // a link commented out announces nothing
            pos = end == std::string_view::npos ? low.size() : end + 3;
            continue;
        }
        size_t nameEnd = pos + 1;
        while (nameEnd < low.size() && IsNameChar(low[nameEnd])) ++nameEnd;
        const std::string_view name = low.substr(pos + 1, nameEnd - pos - 1);
        if (name == "script" || name == "style") {
            // Their text is not markup: a "<link" in a script string is no link.
            const size_t end = low.find(name == "script" ? "</script" : "</style", nameEnd);
            pos = end == std::string_view::npos ? low.size() : end + 2;
            continue;
        }
        if (name != "link" && name != "base") {
            pos = nameEnd;
            continue;
        }
        pos = nameEnd;
        const std::vector<Attribute> attrs = ReadAttributes(low, pos);
        const std::string href = UrlValue(ValueIn(page, FindAttribute(attrs, "href")));
        if (href.empty()) continue;
        if (name == "base") {
            if (!pageUrl.empty()) base = ResolveLink(pageUrl, href);
            continue;
        }
        if (TrimSpaces(ValueIn(low, FindAttribute(attrs, "rel"))) != "alternate") continue;
        const LinkKind kind = KindOf(ValueIn(low, FindAttribute(attrs, "type")));
        if (kind == LinkKind::Feed) return base.empty() ? href : ResolveLink(base, href);
        // Another language's version of the page, or a type that is no feed, is never taken.
        if (kind == LinkKind::Maybe && fallback.empty() && !FindAttribute(attrs, "hreflang"))
            fallback = base.empty() ? href : ResolveLink(base, href);
    }
    return fallback;
}

std::string DecodePageAsServed(std::string_view bytes) {
    return DeclaresUtf8(bytes) ? DecodeUtf8Text(bytes) : ConvertToShiftJis(bytes, 0);
}

std::string DecodeFeedAsServed(std::string_view bytes) {
    if (DeclaresUtf8(bytes)) {
        std::string decoded = ConvertToShiftJis(bytes, 2);
        // The marker may stand anywhere: a text that is not UTF-8 after all is decoded by detection.
        if (!decoded.empty() || bytes.empty()) return decoded;
    }
    return ConvertToShiftJis(bytes, 0);
}

void ProbeSiteUrl(std::string_view url, ProbeResult& result, const ProbeStatus& status) {
    ProbeSiteUrl(url, result, status, RequestControl{});
}

bool ProbeSiteUrl(std::string_view url, ProbeResult& result, const ProbeStatus& status, const RequestControl& control) {
    result = ProbeResult{};
    auto say = [&status](const char* utf8) {
        if (status) status(SjisLiteral(utf8));
    };
    std::string text;
    say("サイトデータを読み込んでいます");
    if (FetchFeed(std::string(url), text, control) == RequestResult::Aborted) return false;
    const std::string page = DecodePageAsServed(text);
    result.FeedURL = FindFeedLink(page, url);
    if (result.FeedURL.empty()) return true;
    // Only the link chosen is ever tried, even when its feed cannot be fetched.
    say("RSSデータを読み込んでいます");
    if (FetchFeed(result.FeedURL, text, control) == RequestResult::Aborted) return false;
    // A title that names a character by a numeric reference keeps it in the one form the
    // program shows as that character.
    result.Title = NormalizeReferences(ExtractTitle(DecodeFeedAsServed(text)));
    return true;
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
