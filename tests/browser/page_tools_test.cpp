#include "browser/page_tools.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace {

using hanabira::BuildLinkListPage;
using testing_support::S;

const std::string kOpen = "<Textarea cols=100 rows=30 wrap=off ondblclick=\"this.select();\">";
const std::string kPage = "http://example.com/dir/page.html";

// The page's parts: the shown links (before the first "<br><br>") and the two text box contents.
struct Parts {
    std::string shown, anchorsBox, entriesBox;
};

Parts Split(const std::string& page) {
    Parts p;
    const size_t a = page.find("<br><br>" + kOpen);
    p.shown = page.substr(0, a);
    const size_t b = a + 8 + kOpen.size();
    const size_t e = page.find("</Textarea>", b);
    p.anchorsBox = page.substr(b, e - b);
    const size_t c = page.find(kOpen, e) + kOpen.size();
    p.entriesBox = page.substr(c, page.find("</Textarea>", c) - c);
    return p;
}

// What a text box displays: its RCDATA with the character references we write decoded.
std::string Displayed(std::string box) {
    std::string out;
    for (size_t i = 0; i < box.size(); ++i) {
        if (box.compare(i, 4, "&lt;") == 0) out += '<', i += 3;
        else if (box.compare(i, 4, "&gt;") == 0) out += '>', i += 3;
        else if (box.compare(i, 5, "&amp;") == 0) out += '&', i += 4;
        else out += box[i];
    }
    return out;
}

// The entries of the raw box, one "URL<TAB>text" per line.
std::vector<std::string> Entries(const std::string& page) {
    std::vector<std::string> out;
    std::string box = Displayed(Split(page).entriesBox);
    for (size_t i; (i = box.find("\r\n")) != std::string::npos; box.erase(0, i + 2)) out.push_back(box.substr(0, i));
    EXPECT_TRUE(box.empty());
    return out;
}

TEST(PageTools, MakeLinkTagFillsUrlThenText) {
    struct Case {
        std::string tmpl, url, text, want;
    } cases[] = {
        {hanabira::DefaultLinkTemplate(), "http://a/", "T", "<a href=\"http://a/\" target=\"_blank\">T</a>"},
        {"{$URL} {$URL} {$TEXT}", "u", "t", "u u t"},
        {"[{$url}] [{$Text}]", "u", "t", "[{$url}] [{$Text}]"},  // exact case only
        {"<a href=\"{$URL}\">x</a>", "u", "ignored", "<a href=\"u\">x</a>"},
        // A URL holding "{$TEXT}" has it filled by the text, since the URL goes in first.
        {"{$URL}", "http://a/?q={$TEXT}", "T", "http://a/?q=T"},
        // A text holding "{$URL}" stays as it is.
        {"{$TEXT}", "u", "{$URL}", "{$URL}"},
        {S("{$TEXT}のページ"), "u", S("日記"), S("日記のページ")},
    };
    for (const Case& c : cases) EXPECT_EQ(hanabira::MakeLinkTag(c.tmpl, c.url, c.text), c.want) << c.tmpl;
}

TEST(PageTools, SearchRequestUrlsForEveryTag) {
    const std::string page = "http://example.com/a/b.html?x=1&y=2";
    const std::string yahoo = "http://search.yahoo.co.jp/search?search.x=1&fr=top_ga1_sa&tid=top_ga1_sa&ei=UTF-8&aq=&oq=&p=";
    const std::string google = "http://www.google.co.jp/search?hl=ja&ie=UTF-8&q=";
    const std::string bing = "http://www.bing.com/search?filt=all&q=";
    const std::string bare = "example.com/a/b.html?x=1&y=2";
    const std::string want[] = {yahoo + "site%3A" + bare, google + "site%3A" + bare, bing + "site%3A" + bare,
                                yahoo + "link%3A" + page, google + "link%3A" + page, bing + "link%3A" + page};
    for (int tag = 0; tag < 6; ++tag) EXPECT_EQ(hanabira::SearchRequestURL(tag, page), want[tag]) << tag;
    EXPECT_EQ(hanabira::SearchRequestURL(-1, page), "");
    EXPECT_EQ(hanabira::SearchRequestURL(6, page), "");
    // Nothing is percent-encoded; a URL without slashes leaves nothing after the scheme cut.
    EXPECT_EQ(hanabira::SearchRequestURL(2, S("https://例え.jp/")), bing + "site%3A" + S("例え.jp/"));
    EXPECT_EQ(hanabira::SearchRequestURL(1, "about:blank"), google + "site%3A");
}

TEST(PageTools, LinkListFrameByteForByte) {
    const std::string html =
        "<html><a href=\"/b.html\">Bee</a> <a href='x'>skip</a> <a href=\"http://z.jp/\">Zed</a>"
        "<a href=\"a.html?p=1&amp;q=2\">A</a></html>";
    const std::string a1 = "<a href=\"http://example.com/b.html\">Bee</a>\r\n";
    const std::string a2 = "<a href=\"http://example.com/dir/x\">skip</a>\r\n";
    const std::string a0 = "<a href=\"http://example.com/dir/a.html?p=1&amp;q=2\">A</a>\r\n";
    const std::string a3 = "<a href=\"http://z.jp/\">Zed</a>\r\n";
    const std::string anchors = a1 + a0 + a2 + a3;
    std::string shown = anchors;
    for (size_t i; (i = shown.find("\r\n")) != std::string::npos;) shown.replace(i, 2, "<br>");
    std::string anchorsBox = anchors;
    for (size_t i = 0; (i = anchorsBox.find_first_of("<>&", i)) != std::string::npos; ++i)
        anchorsBox.replace(i, 1, anchorsBox[i] == '<' ? "&lt;" : anchorsBox[i] == '>' ? "&gt;" : "&amp;");
    const std::string entries = "http://example.com/b.html\tBee\r\nhttp://example.com/dir/a.html?p=1&amp;q=2\tA\r\n"
                                "http://example.com/dir/x\tskip\r\nhttp://z.jp/\tZed\r\n";
    EXPECT_EQ(BuildLinkListPage(html, kPage, "", ""),
              shown + "<br><br>" + kOpen + anchorsBox + "</Textarea><br><br>" + kOpen + entries + "</Textarea>");
    EXPECT_EQ(BuildLinkListPage("", kPage, "", ""),
              "<br><br>" + kOpen + "</Textarea><br><br>" + kOpen + "</Textarea>");
    EXPECT_EQ(BuildLinkListPage("<p>no anchors</p>", kPage, "x", "y"),
              "<br><br>" + kOpen + "</Textarea><br><br>" + kOpen + "</Textarea>");
}

TEST(PageTools, LinkListEntriesAreResolvedDeduplicatedFilteredAndSorted) {
    using V = std::vector<std::string>;
    struct Case {
        const char* name;
        std::string html, textKey, urlKey;
        V want;
    } cases[] = {
        {"same URL and text once, other texts kept",
         "<a href=\"http://a.jp/\">x</a><a href=\"http://a.jp/\">x</a><a href=\"http://a.jp/\">y</a>", "", "",
         {"http://a.jp/\tx", "http://a.jp/\ty"}},
        {"relative and absolute forms of one link are one entry",
         "<a href=\"http://example.com/dir/p.html\">p</a><a href=\"p.html\">p</a><a href=\"./p.html\">p</a>", "", "",
         {"http://example.com/dir/p.html\tp"}},
        {"line breaks leave the text; nothing left is NoText",
         "<a href=\"/1\">one\r\ntwo\rthree\nfour</a><a href=\"/2\">\n</a><a href=\"/3\"><img src=x></a>", "", "",
         {"http://example.com/1\tonetwothreefour", "http://example.com/2\tNoText"}},
        {"ad and search links dropped before resolving",
         "<a href=\"http://pagead2.googlesyndication.com/pagead/x\">ad</a>"
         "<a href=\"http://www.googleadservices.com/pagead/aclk?sa=L\">click</a>"
         "<a href=\"http://www.google.co.jp/search?q=a\">search</a><a href=\"http://www.google.com/\">g</a>",
         "", "", {"http://www.google.com/\tg"}},
        {"byte-wise order, upper case first, prefix first",
         "<a href=\"http://b/\">1</a><a href=\"http://B/\">1</a><a href=\"http://b/a\">1</a><a href=\"http://b/\">0</a>",
         "", "", {"http://B/\t1", "http://b/\t0", "http://b/\t1", "http://b/a\t1"}},
        {"text keyword, case-sensitive", "<a href=\"/1\">Blog top</a><a href=\"/2\">blog</a>", "Blog", "",
         {"http://example.com/1\tBlog top"}},
        {"URL keyword on the resolved URL", "<a href=\"/archive/1\">a</a><a href=\"http://x.jp/\">b</a>", "",
         "example.com/arch", {"http://example.com/archive/1\ta"}},
        {"both keywords must hold", "<a href=\"/k1\">key</a><a href=\"/k2\">no</a><a href=\"/n\">key</a>", "key",
         "/k", {"http://example.com/k1\tkey"}},
        {"double-byte keyword matches whole characters only",
         S("<a href=\"/1\">日本語</a><a href=\"/2\">ヨ檗</a>"), S("亜"), "", {}},
        {"double-byte keyword", S("<a href=\"/1\">日本語の日記</a><a href=\"/2\">英語</a>"), S("日記"), "",
         {S("http://example.com/1\t日本語の日記")}},
    };
    for (const Case& c : cases) EXPECT_EQ(Entries(BuildLinkListPage(c.html, kPage, c.textKey, c.urlKey)), c.want) << c.name;
}

// Every tag of the page is one the frame writes, and every href value stays inside its quotes.
void ExpectOnlyOurMarkup(const std::string& page, const std::string& what) {
    for (size_t i = 0; (i = page.find('<', i)) != std::string::npos;) {
        const size_t end = page.find('>', i);
        ASSERT_NE(end, std::string::npos) << what;
        const std::string tag = page.substr(i, end - i + 1);
        if (tag.rfind("<a href=\"", 0) == 0) {
            EXPECT_EQ(tag.find('"', 9), tag.size() - 2) << what << ": " << tag;
        } else {
            EXPECT_TRUE(tag == "</a>" || tag == "<br>" || tag == kOpen || tag == "</Textarea>") << what << ": " << tag;
        }
        i = end + 1;
    }
}

TEST(PageTools, LinkListWritesNoMarkupOrScriptFromThePage) {
    struct Case {
        const char* name;
        std::string html, page;
        std::vector<std::string> entries;  // as the raw box displays them
    } cases[] = {
        {"quote in an unquoted href", "<a href=x\"onmouseover=alert(1)>t</a>", kPage,
         {"http://example.com/dir/x\"onmouseover=alert(1)\tt"}},
        {"markup in an href through entities",
         "<a href=\"x&gt;&lt;/Textarea&gt;&lt;script&gt;alert(1)&lt;/script&gt;\">t</a>", kPage,
         {"http://example.com/dir/x></Textarea><script>alert(1)</script>\tt"}},
        {"entities in a text stay entities",
         "<a href=\"/a\">&lt;/Textarea&gt;&lt;script&gt;alert(1)&lt;/script&gt; &amp; more</a>", kPage,
         {"http://example.com/a\t&lt;/Textarea&gt;&lt;script&gt;alert(1)&lt;/script&gt; &amp; more"}},
        {"angle bracket in a text", "<a href=\"/a\">a > b</a>", kPage, {"http://example.com/a\ta > b"}},
        {"script schemes dropped after resolving",
         "<a href=\"x\">data page</a><a href=\"http://ok/\">ok</a>", "data:text/html,<b>hi</b>", {"http://ok/\tok"}},
        {"javascript scheme with blanks and case",
         "<a href=\"\tvoid(0)\">j</a>", " JavaScript:alert(1)/", {}},
        {"vbscript scheme", "<a href=\"y\">v</a>", "VBScript:msgbox/", {}},
        {"a relative javascript: link becomes a harmless page path",
         "<a href=\"javascript:alert(1)\">j</a>", kPage, {"http://example.com/dir/javascript:alert(1)\tj"}},
        // The scanner drops the tab after the lead byte, leaving it last in the href.
        {"a lead byte cannot swallow the closing quote", "<a href=\"/a\x82\t\">t</a>", kPage,
         {"http://example.com/a?\tt"}},
    };
    for (const Case& c : cases) {
        const std::string page = BuildLinkListPage(c.html, c.page, "", "");
        ExpectOnlyOurMarkup(page, c.name);
        EXPECT_EQ(page.find("<script"), std::string::npos) << c.name;
        EXPECT_EQ(Entries(page), c.entries) << c.name;
        // The anchors box displays exactly the anchors that are shown above it.
        const Parts parts = Split(page);
        std::string anchors = Displayed(parts.anchorsBox);
        for (size_t i; (i = anchors.find("\r\n")) != std::string::npos;) anchors.replace(i, 2, "<br>");
        EXPECT_EQ(anchors, parts.shown) << c.name;
    }
}

}  // namespace
