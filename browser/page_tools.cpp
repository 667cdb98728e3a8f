#include "browser/page_tools.h"

#include "support/codepage.h"

#include <algorithm>
#include <set>
#include <vector>

#include "support/html_text.h"
#include "support/sjis_text.h"

namespace hanabira {

namespace {

// Links into advertising and search results are no part of a page's own links.
constexpr std::string_view kDroppedHosts[] = {
    "pagead2.googlesyndication.com",  // Google's ad servers
    "www.googleadservices.com",       // Google's ad clicks
    "www.google.co.jp",               // Google's Japanese web search
};

constexpr std::string_view kYahooHost = "search.yahoo.co.jp";
constexpr std::string_view kGoogleHost = "www.google.co.jp";
constexpr std::string_view kBingHost = "www.bing.com";

constexpr std::string_view kTextareaOpen = "<Textarea cols=100 rows=30 wrap=off ondblclick=\"this.select();\">";
constexpr std::string_view kTextareaClose = "</Textarea>";

std::string ReplaceAllExact(std::string_view text, std::string_view from, std::string_view to) {
    std::string out;
    for (;;) {
        const size_t at = FindOnBoundary(from, text);
        if (at == std::string_view::npos) break;
        out.append(text.substr(0, at)).append(to);
        text.remove_prefix(at + from.size());
    }
    return out.append(text);
}

bool IsTrailByte(unsigned char b) { return b >= 0x40 && b <= 0xFC && b != 0x7F; }

// Appends text with the given ASCII characters written as entities. A lead byte without a valid
// second byte becomes "?": a decoder that took the next byte along with it could otherwise eat the
// quote that closes an attribute. The escaped characters are all below 0x40, so they never occur
// as second bytes.
void AppendEscaped(std::string& out, std::string_view text, std::string_view chars) {
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char b = static_cast<unsigned char>(text[i]);
        if (IsLeadByte(b)) {
            if (i + 1 < text.size() && IsTrailByte(static_cast<unsigned char>(text[i + 1]))) {
                out.append(text.substr(i, 2));
                ++i;
            } else {
                out.push_back('?');
            }
            continue;
        }
        // A character the program keeps as a reference is already valid HTML: it passes as it is.
        const size_t reference = b == '&' ? WrittenReferenceAt(text, i) : 0;
        if (reference) {
            out.append(text.substr(i, reference));
            i += reference - 1;
            continue;
        }
        if (chars.find(static_cast<char>(b)) == std::string_view::npos) {
            out.push_back(static_cast<char>(b));
            continue;
        }
        switch (b) {
            case '&': out.append("&amp;"); break;
            case '<': out.append("&lt;"); break;
            case '>': out.append("&gt;"); break;
            case '"': out.append("&quot;"); break;
        }
    }
}

// The scheme a browser would see in href (it ignores leading blanks and controls and any tab or line
// break), lower-cased; empty when there is none.
std::string SchemeOf(std::string_view href) {
    std::string s;
    for (char c : href) {
        if (c == '\t' || c == '\r' || c == '\n') continue;
        if (s.empty() && static_cast<unsigned char>(c) <= 0x20) continue;
        if (c == ':') return LowerSjis(s);
        const bool alpha = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        const bool other = (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
        if (!alpha && !(other && !s.empty())) return {};
        s.push_back(c);
    }
    return {};
}


std::string WithoutLineBreaks(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    // CR and LF are never second bytes, so dropping them byte by byte keeps every character whole.
    for (char c : text) {
        if (c != '\r' && c != '\n') out.push_back(c);
    }
    return out;
}

struct LinkEntry {
    std::string href, text;
    std::string Entry() const { return href + "\t" + text; }
};

}  // namespace

bool IsScriptUrl(std::string_view url) {
    const std::string scheme = SchemeOf(url);
    return scheme == "javascript" || scheme == "vbscript" || scheme == "data";
}

const std::string& DefaultLinkTemplate() {
    static const std::string t = "<a href=\"{$URL}\" target=\"_blank\">{$TEXT}</a>";
    return t;
}

std::string MakeLinkTag(std::string_view linkTemplate, std::string_view url, std::string_view text) {
    // The URL goes in first, so a "{$TEXT}" inside the URL is filled by the text as well.
    return ReplaceAllExact(ReplaceAllExact(linkTemplate, "{$URL}", url), "{$TEXT}", text);
}

// The list is made of a stranger's HTML and shown in our view in the page's own origin, so nothing
// of a link may become markup there:
// - a link whose resolved href has a javascript:, vbscript: or data: scheme is dropped;
// - in the shown anchors the href is written with & " < > as entities (the attribute value is then
//   exactly the href), and the text with < > as entities; its & stays, because the text is a piece
//   of the page's HTML whose entities should show as on the page;
// - the contents of both text boxes have & < > as entities, so each box displays exactly the anchors
//   shown above and the raw entries, and no "</Textarea>" in them can end the box.
std::string BuildLinkListPage(std::string_view htmlSource, std::string_view pageUrl,
                              std::string_view textKeyword, std::string_view urlKeyword) {
    std::vector<LinkEntry> list;
    std::set<std::string> seen;
    std::string rest(htmlSource), href, text;
    while (NextLink(rest, href, text)) {
        text = WithoutLineBreaks(text);
        if (text.empty()) text = "NoText";
        if (std::any_of(std::begin(kDroppedHosts), std::end(kDroppedHosts),
                        [&](std::string_view host) { return CharPos(host, href) != 0; }))
            continue;
        LinkEntry link{ResolveLink(pageUrl, href), text};
        if (IsScriptUrl(link.href)) continue;
        if (!textKeyword.empty() && CharPos(textKeyword, link.text) == 0) continue;
        if (!urlKeyword.empty() && CharPos(urlKeyword, link.href) == 0) continue;
        if (!seen.insert(link.Entry()).second) continue;
        list.push_back(std::move(link));
    }
    // Byte-wise order of the entries: by URL first, then by text.
    std::sort(list.begin(), list.end(),
              [](const LinkEntry& a, const LinkEntry& b) { return a.Entry() < b.Entry(); });

    std::string anchors, entries;
    for (const LinkEntry& link : list) {
        anchors.append("<a href=\"");
        AppendEscaped(anchors, link.href, "&\"<>");
        anchors.append("\">");
        AppendEscaped(anchors, link.text, "<>");
        anchors.append("</a>\r\n");
        entries.append(link.Entry()).append("\r\n");
    }

    std::string page = ReplaceAllExact(anchors, "\r\n", "<br>");
    page.append("<br><br>").append(kTextareaOpen);
    AppendEscaped(page, anchors, "&<>");
    page.append(kTextareaClose).append("<br><br>").append(kTextareaOpen);
    AppendEscaped(page, entries, "&<>");
    page.append(kTextareaClose);
    return page;
}

std::string SearchRequestURL(int tag, std::string_view pageUrl) {
    static constexpr std::string_view kYahooPath =
        "/search?search.x=1&fr=top_ga1_sa&tid=top_ga1_sa&ei=UTF-8&aq=&oq=&p=";
    static constexpr std::string_view kGooglePath = "/search?hl=ja&ie=UTF-8&q=";
    static constexpr std::string_view kBingPath = "/search?filt=all&q=";
    if (tag < 0 || tag > 5) return {};
    const std::string_view hosts[] = {kYahooHost, kGoogleHost, kBingHost};
    const std::string_view paths[] = {kYahooPath, kGooglePath, kBingPath};
    // The real character of a kept reference, percent-encoded as the search engines read it.
    std::string page = UrlForRequest(pageUrl);
    if (tag <= 2) {
        // Cut through the first "/" twice: the scheme and both slashes go.
        CutToken(page, "/");
        CutToken(page, "/");
    }
    std::string url = "http://";
    url.append(hosts[tag % 3]).append(paths[tag % 3]).append(tag <= 2 ? "site%3A" : "link%3A");
    return url.append(page);
}

}  // namespace hanabira
