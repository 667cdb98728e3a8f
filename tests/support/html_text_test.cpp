#include "support/html_text.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "support/sjis_text.h"
#include "test_support.h"

namespace {

using hanabira::ResolveLink;
using testing_support::S;
using Links = std::vector<std::pair<std::string, std::string>>;

Links AllLinks(std::string text) {
    Links links;
    std::string url, linkText;
    while (hanabira::NextLink(text, url, linkText)) links.emplace_back(url, linkText);
    return links;
}

// An independent conversion for the EUC-JP samples, straight through iconv.
std::string EucToSjis(const std::string& euc) { return testing_support::Iconv(euc, "EUC-JP", "CP932"); }

TEST(HtmlText, ExtractTitleFindsTheFirstTitleElement) {
    struct Case {
        std::string name, text, title;
    } cases[] = {
        {"capitals with attribute", "<HTML><HEAD><TITLE lang=ja>A &amp; B</TITLE></HEAD>", "A &amp; B"},
        {"trimmed", "<title>  x " + S("　") + "</title>", "x"},
        {"japanese", S("<title>ソポ表示</title>"), S("ソポ表示")},
        {"line breaks kept", "<title>a\r\nb</title>", "a\r\nb"},
        {"character data", "<title><![CDATA[Feed]]></title>", ""},
        {"channel before item", "<rss><channel><title>Chan</title><item><title>Item</title>", "Chan"},
        {"name must be title", "<titles>no</titles><subtitle>no</subtitle><title>yes</title>", "yes"},
        {"spaces inside the tag", "< title >t</title>", "t"},
        {"no title", "<html><body>text</body></html>", ""},
        {"no tags", "plain text", ""},
        {"empty", "", ""},
        {"title at the end", "<p>x</p><title>", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(hanabira::ExtractTitle(c.text), c.title);
    }
}

TEST(HtmlText, NextLinkYieldsAnchorsWithUrlAndText) {
    struct Case {
        std::string name, html;
        Links links;
    } cases[] = {
        {"plain", "<p><a href=\"x.html\">X</a></p>", {{"x.html", "X"}}},
        {"image only skipped",
         "<a href=\"i.html\"><img src=\"i.png\"></a><a href=\"t.html\">T</a>",
         {{"t.html", "T"}}},
        {"single quotes kept", "<a href='q.html'>Q</a>", {{"'q.html'", "Q"}}},
        {"no href", "<a name=\"top\">Top</a><a href=\"y\">Y</a>", {{"y", "Y"}}},
        {"empty href", "<a href=\"\">E</a><a href=\"f\">F</a>", {{"f", "F"}}},
        {"capitals, url case kept", "<A HREF=\"Up.HTML\">Up</A>", {{"Up.HTML", "Up"}}},
        {"entities in url", "<a href=\"p?a=1&amp;b=2\">E</a>", {{"p?a=1&b=2", "E"}}},
        {"attribute before href", "<a class=\"c\" href=\"z\">Z</a>", {{"z", "Z"}}},
        {"unquoted", "<a href=u.html target=_blank>U</a>", {{"u.html", "U"}}},
        {"line break before the value", "<a href=\r\n  \"v.html\"\r\n>V</a>", {{"v.html", "V"}}},
        {"line break after unquoted value", "<a href=\nu.html\nclass=x>U</a>", {{"u.html", "U"}}},
        {"tab inside quoted value", "<a href=\"card\t1.html\">C</a>", {{"card1.html", "C"}}},
        {"space inside quoted value", "<a href=\"a b.html\">S</a>", {{"a", "S"}}},
        {"spaces around equals", "<a  href = \"w\" >W</a>", {{"w", "W"}}},
        {"tags inside text", "<a href=\"s\"><span>Sp</span>an<br></a>", {{"s", "Span"}}},
        {"spaces trimmed", "<a href=\"t\">  T " + S("　") + "</a>", {{"t", "T"}}},
        {"line breaks trimmed", "<a href=\"t\">\r\nT\r\n</a>", {{"t", "T"}}},
        {"only line breaks", "<a href=\"i\">\r\n<img src=\"i.png\">\r\n</a>", {}},
        {"closing tag spelt loosely",
         "<a href=\"1\">one</ A ><a href=\"2\">two</a>",
         {{"1", "one"}, {"2", "two"}}},
        {"japanese text", S("<a href=\"j\">ソポ表</a>"), {{"j", S("ソポ表")}}},
        {"no anchors", "<html><body><p>text</p></body></html>", {}},
        {"not a tag at all", "just text", {}},
        {"area is not an anchor", "<area href=\"m\">M</area>", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(AllLinks(c.html), c.links);
    }
}

TEST(HtmlText, ReadAnchorConsumesOneTagOrOneAnchor) {
    struct Case {
        std::string name, text;
        bool result;
        std::string url, linkText, rest;
    } cases[] = {
        {"no tag", "plain", false, "", "", "plain"},
        {"empty", "", false, "", "", ""},
        {"other tag", "x<br>rest", true, "", "", "rest"},
        {"empty tag", "<>rest", true, "", "", "rest"},
        {"anchor", "<a href=\"u\">t</a>rest", true, "u", "t", "rest"},
        {"anchor without href", "<a name=\"n\">t</a>", true, "", "", "t</a>"},
        {"unclosed anchor", "<a href=\"u\">one <b>two", true, "u", "one ", "two"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text = c.text, url = "old", linkText = "old";
        EXPECT_EQ(hanabira::ReadAnchor(text, url, linkText), c.result);
        EXPECT_EQ(url, c.url);
        EXPECT_EQ(linkText, c.linkText);
        EXPECT_EQ(text, c.rest);
    }
}

TEST(HtmlText, DecodeEntitiesReplacesInOrder) {
    struct Case {
        std::string text, decoded;
    } cases[] = {
        {"&lt;b&gt;", "<b>"},         {"&LT;&Gt;&NBSP;", "<> "},
        {"a&nbsp;b", "a b"},          {"&ltx&gtx&nbspx", "<x>x x"},
        {"&amp;lt;", "&lt;"},         {"&amp;amp;", "&amp;"},
        {"a&amp;b", "a&b"},           {"&#60;&quot;", "&#60;&quot;"},
        {S("表&amp;ソ"), S("表&ソ")}, {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(hanabira::DecodeEntities(c.text), c.decoded);
    }
}

TEST(HtmlText, UrlPartsAndTrailingSlash) {
    struct Case {
        std::string text, stripped, directory, root;
    } cases[] = {
        {"http://h.jp/a/b.html", "http://h.jp/a/b.html", "http://h.jp/a", "http://h.jp"},
        {"http://h.jp/a/", "http://h.jp/a", "http://h.jp/a", "http://h.jp"},
        {"HTTPS://H.JP:8080/", "HTTPS://H.JP:8080", "HTTPS://H.JP:8080", "HTTPS://H.JP:8080"},
        {"http://h.jp", "http://h.jp", "http:/", ""},
        {"file:///C:/x", "file:///C:/x", "file:///C:", "file://"},
        {"about:blank", "about:blank", "", ""},
        {"a//", "a/", "a/", ""},
        {"/", "", "", ""},
        {"", "", "", ""},
        {S("表/"), S("表"), S("表"), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(hanabira::StripTrailingSlash(c.text), c.stripped);
        EXPECT_EQ(hanabira::DirectoryPart(c.text), c.directory);
        EXPECT_EQ(hanabira::SiteRoot(c.text), c.root);
    }
}

TEST(HtmlText, ResolveLinkAgainstThePageUrl) {
    struct Case {
        std::string name, page, link, resolved;
    } cases[] = {
        {"empty", "http://h.jp/a/p.html", "", ""},
        {"absolute", "http://h.jp/a/", "http://x.jp/y", "http://x.jp/y"},
        {"absolute secure, capitals", "http://h.jp/a/", "HTTPS://X.JP/", "HTTPS://X.JP/"},
        {"absolute in quotes", "http://h.jp/a/", "'http://x.jp/q'", "http://x.jp/q"},
        {"relative in quotes", "http://h.jp/a/p.html", "'r.html'", "http://h.jp/a/r.html"},
        {"query replaced", "http://h.jp/a/i.php?p=1", "?p=2", "http://h.jp/a/i.php?p=2"},
        {"query added", "http://h.jp/a/i.php", "?p=2", "http://h.jp/a/i.php?p=2"},
        {"query, page with fragment", "http://h.jp/i.php#c", "?p=2", "http://h.jp/i.php?p=2"},
        {"fragment", "http://h.jp/a/p.html?x=1#old", "#top", "http://h.jp/a/p.html?x=1#top"},
        {"root relative", "http://h.jp/a/b/p.html", "/top.html", "http://h.jp/top.html"},
        {"root relative, no slash after host", "http://h.jp", "/top.html", "http://h.jp/top.html"},
        {"root relative, no host", "about:blank", "/top.html", "/top.html"},
        {"network path", "https://h.jp/a/", "//cdn.jp/x.js", "https://cdn.jp/x.js"},
        {"up from a directory", "http://h.jp/a/b/", "../f.html", "http://h.jp/a/f.html"},
        {"up from a page", "http://h.jp/a/b/p.html", "../f.html", "http://h.jp/a/f.html"},
        {"up twice", "http://h.jp/a/b/c/", "../../f.html", "http://h.jp/a/f.html"},
        {"up past the host", "http://h.jp/a/", "../../../f.html", "http://h.jp/f.html"},
        {"up, no slash after host", "http://h.jp", "../f.html", "http://h.jp/f.html"},
        {"dot slash", "http://h.jp/a/p.html", "./f.html", "http://h.jp/a/f.html"},
        {"plain relative", "http://h.jp/a/p.html", "f.html", "http://h.jp/a/f.html"},
        {"plain relative from a directory", "http://h.jp/a/", "f.html", "http://h.jp/a/f.html"},
        {"plain relative, no slash after host", "http://h.jp", "f.html", "http://h.jp/f.html"},
        {"slash inside the query", "http://h.jp/a/p.cgi?u=x/y", "f.html", "http://h.jp/a/f.html"},
        {"other scheme stays below the page", "http://h.jp/a/p.html", "javascript:go()",
         "http://h.jp/a/javascript:go()"},
        {"japanese path", S("http://h.jp/表/p.html"), S("ソ.html"), S("http://h.jp/表/ソ.html")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ResolveLink(c.page, c.link), c.resolved);
    }
}

// Real feeds and pages: the scanner ends, every link it gives is sound, and the first link and the
// title are the ones the file holds.
TEST(HtmlText, ScansRealFeedsAndPages) {
    struct Case {
        std::string file;
        bool euc;
        size_t minLinks;
        std::string firstUrl, title;
    } cases[] = {
        {"SHIFT_JIS/_chromium_Shift-JIS_with_no_encoding_specified.html", false, 0, "", "Shift_JIS"},
        {"SHIFT_JIS/sakusaka-silk.net.xml", false, 50,
         "http://www.sakusaku-silk.net/archives/0501/132046.php", ""},
        {"SHIFT_JIS/10e.org.xml", false, 20, "", ""},
        {"SHIFT_JIS/setsuzei119.jp.xml", false, 10, "", ""},
        {"SHIFT_JIS/amefoot.net.xml", false, 10, "", ""},
        {"EUC-JP/overcube.com.atom.xml", true, 20, "", ""},
        {"EUC-JP/siesta.co.jp.aozora.xml", true, 20, "", ""},
        {"EUC-JP/arclamp.jp.xml", true, 10, "", ""},
        {"EUC-JP/_mozilla_bug620106_text.html", true, 0, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        std::string raw = testing_support::ReadData("feeds/" + c.file);
        std::string text = c.euc ? EucToSjis(raw) : raw;
        const std::string title = hanabira::ExtractTitle(text);
        if (!c.title.empty()) {
            EXPECT_EQ(title, c.title);
        }

        Links links;
        std::string url, linkText;
        size_t before = text.size();
        while (hanabira::NextLink(text, url, linkText)) {
            ASSERT_LT(text.size(), before) << "no progress";
            before = text.size();
            links.emplace_back(url, linkText);
            EXPECT_EQ(url.find_first_of(" \t\r\n\">"), std::string::npos) << url;
            EXPECT_EQ(linkText.find('<'), std::string::npos) << linkText;
            const std::string resolved = ResolveLink("http://example.jp/dir/page.html", url);
            EXPECT_EQ(hanabira::CharPos("http", resolved), 1) << resolved;
        }
        EXPECT_GE(links.size(), c.minLinks);
        if (!c.firstUrl.empty()) {
            ASSERT_FALSE(links.empty());
            EXPECT_EQ(links.front().first, c.firstUrl);
        }
    }
}

}  // namespace
