#include "browser/comment_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "store/site_record.h"
#include "test_support.h"

namespace {

using hanabira::TOwnSite;
using testing_support::S;

std::string Row(const TOwnSite& s) { return s.Name + "|" + s.URL + "|" + s.MyName; }

TEST(CommentText, ParseOwnSitesSplitsLinesAndFields) {
    struct Case {
        std::string text;
        std::vector<std::string> rows;
    } cases[] = {
        {"", {}},
        {"a,http://a/,me", {"a|http://a/|me"}},
        {"a,http://a/,me\r\n", {"a|http://a/|me"}},
        // Only a name; fewer fields leave the rest empty.
        {"a\r\nb,u", {"a||", "b|u|"}},
        // A blank line is an own site with an empty name.
        {"a,u,n\r\n\r\nb,v,m\r\n", {"a|u|n", "||", "b|v|m"}},
        // Fields are not trimmed; text after a third comma is ignored.
        {" a , u ,n,extra,more", {" a | u |n"}},
        // Bare LF and CR breaks still end a line rather than landing inside a field.
        {"a,u,n\nb,v,m\rc", {"a|u|n", "b|v|m", "c||"}},
        // Double-byte fields come through whole ("ソ" and "表" end in the byte 0x5C).
        {S("ソ表,http://x/,名前"), {S("ソ表|http://x/|名前")}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> got;
        for (const TOwnSite& s : hanabira::ParseOwnSites(c.text)) got.push_back(Row(s));
        EXPECT_EQ(got, c.rows) << c.text;
        std::vector<std::string> names;
        for (const std::string& r : c.rows) names.push_back(r.substr(0, r.find('|')));
        EXPECT_EQ(hanabira::OwnSiteNames(c.text), names) << c.text;
    }
}

TEST(CommentText, OwnSiteForTakesTheFirstExactNameOrDashes) {
    const std::string list = "Blog,http://one/,me\r\nblog,http://two/,I\r\nBlog,http://three/,again\r\nbare\r\n";
    struct Case {
        std::string name, row;
    } cases[] = {
        {"Blog", "Blog|http://one/|me"},  // the first of two lines with the same name
        {"blog", "blog|http://two/|I"},   // exact case here
        {"bare", "bare||"},
        {"BLOG", "BLOG|----|----"},
        {"", "|----|----"},
    };
    for (const Case& c : cases) EXPECT_EQ(Row(hanabira::OwnSiteFor(list, c.name)), c.row) << c.name;
    EXPECT_EQ(Row(hanabira::OwnSiteFor("", "")), "|----|----");
    // A blank line is an entry with an empty name, so selecting it finds it.
    EXPECT_EQ(Row(hanabira::OwnSiteFor("a,b,c\r\n\r\n", "")), "||");
}

TEST(CommentText, FindNameNoCaseIgnoresOnlyAsciiLetterCase) {
    const std::vector<std::string> names = {"", "My Blog", "my blog", S("ブログＡ"), "Other"};
    EXPECT_EQ(hanabira::FindNameNoCase(names, "MY BLOG"), 1);
    EXPECT_EQ(hanabira::FindNameNoCase(names, "other"), 4);
    EXPECT_EQ(hanabira::FindNameNoCase(names, ""), 0);
    EXPECT_EQ(hanabira::FindNameNoCase(names, S("ブログＡ")), 3);
    EXPECT_EQ(hanabira::FindNameNoCase(names, S("ブログａ")), -1);  // full-width letters keep their case
    EXPECT_EQ(hanabira::FindNameNoCase(names, "My Blog "), -1);
    EXPECT_EQ(hanabira::FindNameNoCase({}, "x"), -1);
}

std::string Site(const std::string& url, const std::string& manager) {
    hanabira::TMWBlogListRec r;
    r.SiteTitle = "t";
    r.SiteURL = url;
    r.ManagerName = manager;
    return hanabira::WriteSiteRecord(r);
}

TEST(CommentText, FindManagerNameTakesTheFirstPrefixInStoredOrder) {
    hanabira::TLightStrings table('\t');
    table.Add(Site("/", "root-only"));                     // shortened to empty: never matches
    table.Add(Site("", "empty"));
    table.Add(Site("http://example.com/blog/", "blog"));
    table.Add(Site("http://example.com/blog/sub/", "sub"));  // longer but later
    table.Add(Site("http://other.jp", "other"));
    table.Add(Site(S("http://ソ.jp/"), "sjis"));
    struct Case {
        std::string page, manager;
    } cases[] = {
        {"http://example.com/blog/sub/entry.html", "blog"},
        {"http://example.com/blog", "blog"},  // differs only by the trailing "/"
        {"http://example.com/", ""},
        {"http://other.jp/a", "other"},
        {"http://other.jpx/", "other"},  // a plain prefix test, as stored
        {"HTTP://other.jp/", ""},        // bytes compare exactly
        {S("http://ソ.jp/page"), "sjis"},
        {"", ""},
        {"about:blank", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(hanabira::FindManagerName(table, c.page), c.manager) << c.page;
    EXPECT_EQ(hanabira::FindManagerName(hanabira::TLightStrings('\t'), "http://x/"), "");
}

TEST(CommentText, FillCommentTemplateReplacesInOrderIgnoringCase) {
    struct Case {
        std::string comment, name, url, me, manager, want;
    } cases[] = {
        {"{$Manager}さん、{$MyName} です。{$MySiteName} {$MySiteURL}", "N", "U", "M", "G",
         "Gさん、M です。N U"},
        {"{$manager} {$MYSITENAME} {$mysiteurl} {$myNAME}", "N", "U", "M", "G", "G N U M"},
        {"{$MyName}{$MyName}", "", "", "x", "", "xx"},
        // A value holding a later placeholder is filled by the later step, not an earlier one.
        {"{$MySiteName}", "{$Manager}", "", "", "G", "G"},
        {"{$MyName}", "", "", "{$MySiteURL}", "", "{$MySiteURL}"},
        {"no placeholders", "N", "U", "M", "G", "no placeholders"},
        {"{$Manager", "", "", "", "G", "{$Manager"},
        {"", "N", "U", "M", "G", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(hanabira::FillCommentTemplate(S(c.comment.c_str()), S(c.name.c_str()), S(c.url.c_str()),
                                                S(c.me.c_str()), S(c.manager.c_str())),
                  S(c.want.c_str()))
            << c.comment;
    }
}

}  // namespace
