#include "support/html_text.h"

#include "support/codepage.h"

#include <optional>
#include <string>
#include <utility>

#include "support/sjis_text.h"

namespace hanabira {

namespace {

constexpr size_t npos = std::string_view::npos;

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// Drops everything up to and including the first character-start "<"; false (and text kept) when
// there is none.
bool SkipPastTagOpen(std::string_view& text) {
    const size_t lt = FindOnBoundary("<", text);
    if (lt == npos) return false;
    text.remove_prefix(lt + 1);
    return true;
}

// Spaces (half- and full-width), tabs and line breaks removed from both ends. Tab, CR and LF are
// never second bytes, so they can be stripped byte by byte.
std::string TrimBlanks(std::string_view text) {
    std::string t(text);
    for (;;) {
        std::string u = TrimSpaces(t);
        const size_t b = u.find_first_not_of("\t\r\n");
        if (b == npos) return {};
        u = u.substr(b, u.find_last_not_of("\t\r\n") - b + 1);
        if (u == t) return u;
        t = std::move(u);
    }
}

// The href value of a tag's inner text (without "<" and ">"); nullopt when the tag is not an anchor
// or has no href. The value keeps the page's letter case; only the search for "href" ignores it.
std::optional<std::string> AnchorHref(std::string_view tag) {
    std::string value = TrimSpaces(tag);
    const std::string lower = LowerSjis(value);
    // "a" and a space: a line break after the "a" does not make an anchor.
    if (!StartsWith(lower, "a ")) return std::nullopt;
    // Lower-casing keeps every byte where it is, so offsets found in lower hold in value.
    const size_t h = FindOnBoundary("href", TrimSpaces(std::string_view(lower).substr(2)));
    if (h == npos) return std::nullopt;
    value = TrimSpaces(std::string_view(value).substr(2));
    value.erase(0, h + 4);
    CutToken(value, "=");
    // Real pages wrap long tags, so line breaks and tabs may stand around the value.
    value = TrimBlanks(value);
    if (!value.empty() && value[0] == '"') {
        CutToken(value, "\"");
        if (!value.empty() && value[0] == '"') CutToken(value, "\"");
        value = TrimBlanks(CutToken(value, "\""));
        // As in a browser, tabs and line breaks inside a quoted URL are not part of it.
        std::erase_if(value, [](char c) { return c == '\t' || c == '\r' || c == '\n'; });
        return DecodeEntities(CutToken(value, " "));
    }
    return DecodeEntities(CutToken(value, " \t\r\n"));
}

// Collects the link text up to the closing "</a>", skipping the tags inside it.
void ReadLinkText(std::string_view& text, std::string& linkText) {
    for (;;) {
        const size_t lt = FindOnBoundary("<", text);
        if (lt == npos) return;  // text after the last tag is not link text
        if (lt > 0) {
            linkText.append(text.substr(0, lt));
            text.remove_prefix(lt);
            continue;
        }
        text.remove_prefix(1);
        std::string t = LowerSjis(TrimSpaces(CutTokenView(text, ">")));
        if (!t.empty() && t[0] != '/') continue;  // an opening tag inside the link: an image, a span
        CutToken(t, "/");
        if (TrimSpaces(t) == "a") return;
    }
}

// One step of the anchor scanner over a view; the public functions cut the consumed part once.
bool ReadAnchorView(std::string_view& text, std::string& url, std::string& linkText) {
    url.clear();
    linkText.clear();
    if (!SkipPastTagOpen(text)) return false;
    std::optional<std::string> href = AnchorHref(CutTokenView(text, ">"));
    if (!href) return true;  // not an anchor with an href: only the tag is consumed
    url = std::move(*href);
    ReadLinkText(text, linkText);
    return true;
}

// Scheme and host of a URL, also when no "/" follows the host: the text before the first "/", "?" or
// "#" after "://". Empty when the URL has no "://" right after its first ":".
std::string_view AuthorityPart(std::string_view url) {
    const size_t colon = url.find(':');
    if (colon == npos || url.substr(colon, 3) != "://") return {};
    const size_t end = url.find_first_of("/?#", colon + 3);
    return end == npos ? url : url.substr(0, end);
}

// The URL before the first of the given characters ("?#": without query and fragment).
std::string_view Before(std::string_view url, const char* stops) {
    const size_t end = url.find_first_of(stops);
    return end == npos ? url : url.substr(0, end);
}

}  // namespace

std::string ExtractTitle(std::string_view text) {
    std::string_view rest = text;
    while (!rest.empty()) {
        CutTokenView(rest, "<");
        const std::string tag = TrimSpaces(CutTokenView(rest, ">"));
        std::string_view words = tag;
        const std::string name = TrimSpaces(CutTokenView(words, " "));
        if (LowerSjis(name) == "title") return TrimSpaces(CutTokenView(rest, "<"));
    }
    return {};
}

bool ReadAnchor(std::string& text, std::string& url, std::string& linkText) {
    std::string_view rest = text;
    const bool found = ReadAnchorView(rest, url, linkText);
    text.erase(0, text.size() - rest.size());
    return found;
}

bool NextLink(std::string& text, std::string& url, std::string& linkText) {
    std::string_view rest = text;
    bool found = false;
    while (ReadAnchorView(rest, url, linkText)) {
        linkText = TrimLineBreaks(TrimSpaces(linkText));
        if (!url.empty() && !linkText.empty()) {
            found = true;
            break;
        }
    }
    text.erase(0, text.size() - rest.size());
    return found;
}

std::string DecodeEntities(std::string_view text) {
    // "&amp;" goes last so that an escaped entity ("&amp;lt;") stays an entity.
    static constexpr std::string_view kEntities[][2] = {
        {"&lt;", "<"}, {"&gt;", ">"},  {"&nbsp;", " "}, {"&lt", "<"},
        {"&gt", ">"},  {"&nbsp", " "}, {"&amp;", "&"},
    };
    std::string out(text);
    for (const auto& e : kEntities) {
        if (FindOnBoundary("&", out) == npos) break;
        out = ReplaceAllNoCase(out, e[0], e[1]);
    }
    return out;
}

std::string StripTrailingSlash(std::string_view text) {
    // "/" is never the second byte of a double-byte character, so the last byte decides.
    if (!text.empty() && text.back() == '/') text.remove_suffix(1);
    return std::string(text);
}

std::string DirectoryPart(std::string_view url) {
    const size_t slash = url.rfind('/');
    return slash == npos ? std::string() : std::string(url.substr(0, slash));
}

std::string SiteRoot(std::string_view url) {
    // The leading "scheme://host/" less its final "/"; neither ":" nor "/" can be a second byte.
    const size_t colon = url.find(':');
    if (colon == npos || url.substr(colon, 3) != "://") return {};
    const size_t slash = url.find('/', colon + 3);
    return slash == npos ? std::string() : std::string(url.substr(0, slash));
}

std::string ResolveLink(std::string_view keptPageUrl, std::string_view keptLink) {
    if (keptLink.empty()) return {};
    // A kept reference holds '#', which would read as a fragment: resolve the request forms.
    const std::string pageText = UrlForRequest(keptPageUrl), linkText = UrlForRequest(keptLink);
    const std::string_view pageUrl = pageText;
    std::string_view link = linkText;
    if (link.size() >= 2 && link.front() == '\'' && link.back() == '\'')
        link = link.substr(1, link.size() - 2);
    if (LowerSjis(CharCopy(link, 1, 4)) == "http") return std::string(link);

    const std::string_view authority = AuthorityPart(pageUrl);
    if (StartsWith(link, "//") && !authority.empty()) {
        // A network-path link takes only the page's scheme.
        return std::string(pageUrl.substr(0, pageUrl.find(':') + 1)) + std::string(link);
    }
    if (StartsWith(link, "?")) return std::string(Before(pageUrl, "?#")) + std::string(link);
    if (StartsWith(link, "#")) return std::string(Before(pageUrl, "#")) + std::string(link);
    // Without a "/" after the host the link still goes below the host.
    if (StartsWith(link, "/")) return std::string(authority) + std::string(link);

    // The page's directory, never shorter than its scheme and host; a "/" inside the query or the
    // fragment does not count.
    const std::string_view page = Before(pageUrl, "?#");
    std::string dir = DirectoryPart(page);
    if (!authority.empty() && dir.size() < authority.size()) dir = std::string(authority);

    if (StartsWith(link, "../")) {
        while (StartsWith(link, "../")) {
            if (authority.empty() || dir.size() > authority.size()) dir = DirectoryPart(dir);
            link.remove_prefix(3);
        }
        return dir + "/" + std::string(link);
    }
    if (StartsWith(link, "./")) link.remove_prefix(2);
    return dir + "/" + std::string(link);
}

}  // namespace hanabira
