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

std::string Replace(std::string s, const std::string& from, const std::string& to) {
    for (size_t i = 0; (i = s.find(from, i)) != std::string::npos; i += to.size()) s.replace(i, from.size(), to);
    return s;
}

// What a text box shows of its content: the references we write, decoded.
std::string Shown(const std::string& box) { return Replace(Replace(Replace(box, "&lt;", "<"), "&gt;", ">"), "&amp;", "&"); }

// The shown links, and what the two text boxes display.
struct Parts {
    std::string links, anchorsBox, entriesBox;
};
Parts Split(const std::string& page) {
    const size_t a = page.find("<br><br>" + kOpen), b = a + 8 + kOpen.size(), e = page.find("</Textarea>", b);
    const size_t c = page.find(kOpen, e) + kOpen.size();
    return {page.substr(0, a), Shown(page.substr(b, e - b)), Shown(page.substr(c, page.find("</Textarea>", c) - c))};
}

std::vector<std::string> Entries(const std::string& page) {
    std::vector<std::string> out;
    std::string box = Split(page).entriesBox;
    for (size_t i; (i = box.find("\r\n")) != std::string::npos; box.erase(0, i + 2)) out.push_back(box.substr(0, i));
    return out;
}

TEST(PageTools, LinkTagsAndSearchRequests) {
    EXPECT_EQ(hanabira::MakeLinkTag(hanabira::DefaultLinkTemplate(), "http://a/", "T"),
              "<a href=\"http://a/\" target=\"_blank\">T</a>");
    EXPECT_EQ(hanabira::MakeLinkTag("{$URL}|{$url}|{$TEXT}{$TEXT}", "u", "t"), "u|{$url}|tt");  // exact case
    EXPECT_EQ(hanabira::MakeLinkTag("{$URL}", "http://a/?q={$TEXT}", "T"), "http://a/?q=T");  // URL goes in first
    EXPECT_EQ(hanabira::MakeLinkTag("{$TEXT}", "u", "{$URL}"), "{$URL}");

    const std::string page = "http://example.com/a/b.html?x=1&y=2", bare = "example.com/a/b.html?x=1&y=2";
    const std::string yahoo = "http://search.yahoo.co.jp/search?search.x=1&fr=top_ga1_sa&tid=top_ga1_sa&ei=UTF-8&aq=&oq=&p=";
    const std::string google = "http://www.google.co.jp/search?hl=ja&ie=UTF-8&q=";
    const std::string bing = "http://www.bing.com/search?filt=all&q=";
    const std::string want[] = {yahoo + "site%3A" + bare, google + "site%3A" + bare, bing + "site%3A" + bare,
                                yahoo + "link%3A" + page, google + "link%3A" + page, bing + "link%3A" + page};
    for (int tag = 0; tag < 6; ++tag) EXPECT_EQ(hanabira::SearchRequestURL(tag, page), want[tag]) << tag;
    EXPECT_EQ(hanabira::SearchRequestURL(-1, page), "");
    EXPECT_EQ(hanabira::SearchRequestURL(6, page), "");
    EXPECT_EQ(hanabira::SearchRequestURL(2, S("https://例え.jp/")), bing + "site%3A" + S("例え.jp/"));  // not encoded
}

TEST(PageTools, LinkListFrameByteForByte) {
    const std::string html = "<a href=\"/b.html\">Bee</a> <a href=\"a.html?p=1&amp;q=2\">A</a><a href=\"http://z.jp/\">Z</a>";
    const std::string anchors = "<a href=\"http://example.com/b.html\">Bee</a>\r\n"
                                "<a href=\"http://example.com/dir/a.html?p=1&amp;q=2\">A</a>\r\n"
                                "<a href=\"http://z.jp/\">Z</a>\r\n";
    const std::string box = "&lt;a href=\"http://example.com/b.html\"&gt;Bee&lt;/a&gt;\r\n"
                            "&lt;a href=\"http://example.com/dir/a.html?p=1&amp;amp;q=2\"&gt;A&lt;/a&gt;\r\n"
                            "&lt;a href=\"http://z.jp/\"&gt;Z&lt;/a&gt;\r\n";
    const std::string entries = "http://example.com/b.html\tBee\r\nhttp://example.com/dir/a.html?p=1&amp;q=2\tA\r\n"
                                "http://z.jp/\tZ\r\n";
    EXPECT_EQ(BuildLinkListPage(html, kPage, "", ""), Replace(anchors, "\r\n", "<br>") + "<br><br>" + kOpen + box +
                                                          "</Textarea><br><br>" + kOpen + entries + "</Textarea>");
    EXPECT_EQ(BuildLinkListPage("<p>none</p>", kPage, "", ""),
              "<br><br>" + kOpen + "</Textarea><br><br>" + kOpen + "</Textarea>");
}

TEST(PageTools, LinkListEntriesAreResolvedDeduplicatedFilteredAndSorted) {
    struct Case {
        const char* name;
        std::string html, textKey, urlKey;
        std::vector<std::string> want;
    } cases[] = {
        {"same URL and text once, other texts kept",
         "<a href=\"http://a.jp/\">x</a><a href=\"http://a.jp/\">x</a><a href=\"http://a.jp/\">y</a>", "", "",
         {"http://a.jp/\tx", "http://a.jp/\ty"}},
        {"relative and absolute forms of one link are one entry",
         "<a href=\"http://example.com/dir/p.html\">p</a><a href=\"p.html\">p</a><a href=\"./p.html\">p</a>", "", "",
         {"http://example.com/dir/p.html\tp"}},
        {"line breaks leave the text; nothing left is NoText",
         "<a href=\"/1\">one\r\ntwo\rthree\nfour</a><a href=\"/2\">\n</a>", "", "",
         {"http://example.com/1\tonetwothreefour", "http://example.com/2\tNoText"}},
        {"ad and search links dropped",
         "<a href=\"http://pagead2.googlesyndication.com/x\">ad</a><a href=\"http://www.googleadservices.com/a\">c</a>"
         "<a href=\"http://www.google.co.jp/search?q=a\">s</a><a href=\"http://www.google.com/\">g</a>",
         "", "", {"http://www.google.com/\tg"}},
        {"byte-wise order, upper case first, prefix first",
         "<a href=\"http://b/\">1</a><a href=\"http://B/\">1</a><a href=\"http://b/a\">1</a><a href=\"http://b/\">0</a>",
         "", "", {"http://B/\t1", "http://b/\t0", "http://b/\t1", "http://b/a\t1"}},
        {"both keywords must hold, case-sensitive, URL keyword on the resolved URL",
         "<a href=\"/k1\">Key</a><a href=\"/k2\">key</a><a href=\"/n\">Key</a>", "Key", "example.com/k", {"http://example.com/k1\tKey"}},
        {"a double-byte keyword matches whole characters only",  // "亜" is the middle two bytes of "ヨ檗"
         S("<a href=\"/1\">ヨ檗</a><a href=\"/2\">亜の日記</a>"), S("亜"), "", {S("http://example.com/2\t亜の日記")}},
    };
    for (const Case& c : cases) EXPECT_EQ(Entries(BuildLinkListPage(c.html, kPage, c.textKey, c.urlKey)), c.want) << c.name;
}

TEST(PageTools, LinkListWritesNoMarkupOrScriptFromThePage) {
    struct Case {
        const char* name;
        std::string html, page;
        std::vector<std::string> entries;  // as the raw box shows them
    } cases[] = {
        {"quote in an unquoted href", "<a href=x\"onmouseover=alert(1)>t</a>", kPage,
         {"http://example.com/dir/x\"onmouseover=alert(1)\tt"}},
        {"markup in an href through entities", "<a href=\"x&gt;&lt;/Textarea&gt;&lt;script&gt;\">t</a>", kPage,
         {"http://example.com/dir/x></Textarea><script>\tt"}},
        {"entities and > in a text stay as written", "<a href=\"/a\">&lt;/Textarea&gt;&lt;script&gt; &amp; a > b</a>",
         kPage, {"http://example.com/a\t&lt;/Textarea&gt;&lt;script&gt; &amp; a > b"}},
        {"data: and javascript: results dropped", "<a href=\"x\">d</a><a href=\"http://ok/\">ok</a>",
         "data:text/html,<b>hi</b>", {"http://ok/\tok"}},
        {"a scheme behind blanks and in capitals", "<a href=\"\tvoid(0)\">j</a>", " JavaScript:alert(1)/", {}},
        {"vbscript", "<a href=\"y\">v</a>", "VBScript:msgbox/", {}},
        {"a relative javascript: link is a page path", "<a href=\"javascript:alert(1)\">j</a>", kPage,
         {"http://example.com/dir/javascript:alert(1)\tj"}},
        // The scanner drops the tab after the lead byte, leaving that byte last in the href.
        {"a lead byte cannot swallow the closing quote", "<a href=\"/a\x82\t\">t</a>", kPage, {"http://example.com/a?\tt"}},
    };
    for (const Case& c : cases) {
        const std::string page = BuildLinkListPage(c.html, c.page, "", "");
        // Every tag is one the frame writes, and every href stays inside its quotes.
        for (size_t i = 0; (i = page.find('<', i)) != std::string::npos; ++i) {
            const std::string tag = page.substr(i, page.find('>', i) - i + 1);
            if (tag.rfind("<a href=\"", 0) == 0)
                EXPECT_EQ(tag.find('"', 9), tag.size() - 2) << c.name << ": " << tag;
            else
                EXPECT_TRUE(tag == "</a>" || tag == "<br>" || tag == kOpen || tag == "</Textarea>") << c.name << ": " << tag;
        }
        EXPECT_EQ(Entries(page), c.entries) << c.name;
        // The anchors box shows exactly the anchors given to the view above it.
        const Parts parts = Split(page);
        EXPECT_EQ(Replace(parts.anchorsBox, "\r\n", "<br>"), parts.links) << c.name;
    }
}

}  // namespace
