#include "browser/comment_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "store/site_record.h"
#include "test_support.h"

namespace {

using testing_support::S;

std::string Row(const hanabira::TOwnSite& s) { return s.Name + "|" + s.URL + "|" + s.MyName; }

TEST(CommentText, OwnSiteListLinesFieldsAndLookups) {
    struct Case {
        std::string text;
        std::vector<std::string> rows;
    } cases[] = {
        {"", {}},
        {"a\r\nb,u", {"a||", "b|u|"}},                                  // missing fields are empty
        {"a,u,n\r\n\r\nb,v,m\r\n", {"a|u|n", "||", "b|v|m"}},           // a blank line is a nameless site
        {" a , u ,n,extra,more", {" a | u |n"}},                        // not trimmed; a 4th field ignored
        {"a,u,n\nb,v,m\rc", {"a|u|n", "b|v|m", "c||"}},                 // a bare LF never lands in a field
        {S("ソ表,http://x/,名前"), {S("ソ表|http://x/|名前")}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> rows, names;
        for (const auto& s : hanabira::ParseOwnSites(c.text)) rows.push_back(Row(s));
        for (const auto& r : c.rows) names.push_back(r.substr(0, r.find('|')));
        EXPECT_EQ(rows, c.rows) << c.text;
        EXPECT_EQ(hanabira::OwnSiteNames(c.text), names) << c.text;
    }

    const std::string list = "Blog,http://one/,me\r\nblog,http://two/,I\r\nBlog,http://three/,x\r\nbare\r\n\r\n";
    EXPECT_EQ(Row(hanabira::OwnSiteFor(list, "Blog")), "Blog|http://one/|me");  // first of two
    EXPECT_EQ(Row(hanabira::OwnSiteFor(list, "blog")), "blog|http://two/|I");   // exact case
    EXPECT_EQ(Row(hanabira::OwnSiteFor(list, "bare")), "bare||");
    EXPECT_EQ(Row(hanabira::OwnSiteFor(list, "")), "||");
    EXPECT_EQ(Row(hanabira::OwnSiteFor(list, "BLOG")), "BLOG|----|----");
    EXPECT_EQ(Row(hanabira::OwnSiteFor("", "")), "|----|----");

    const std::vector<std::string> names = {"", "My Blog", "my blog", S("ブログＡ")};
    EXPECT_EQ(hanabira::FindNameNoCase(names, "MY BLOG"), 1);
    EXPECT_EQ(hanabira::FindNameNoCase(names, ""), 0);
    EXPECT_EQ(hanabira::FindNameNoCase(names, S("ブログａ")), -1);  // full-width letters keep their case
    EXPECT_EQ(hanabira::FindNameNoCase(names, "My Blog "), -1);
}

TEST(CommentText, FindManagerNameTakesTheFirstPrefixInStoredOrder) {
    hanabira::TLightStrings table('\t');
    for (const auto& [url, manager] : std::vector<std::pair<std::string, std::string>>{
             {"/", "root-only"},  // shortened to empty: never matches
             {"", "empty"},
             {"http://example.com/blog/", "blog"},
             {"http://example.com/blog/sub/", "sub"},  // longer but later
             {S("http://ソ.jp/"), "sjis"}}) {
        hanabira::TMWBlogListRec r;
        r.SiteURL = url;
        r.ManagerName = manager;
        table.Add(hanabira::WriteSiteRecord(r));
    }
    struct Case {
        std::string page, manager;
    } cases[] = {
        {"http://example.com/blog/sub/entry.html", "blog"},
        {"http://example.com/blog", "blog"},  // differs only by the trailing "/"
        {"http://example.com/", ""},
        {"HTTP://example.com/blog/", ""},     // bytes compare exactly
        {S("http://ソ.jp/page"), "sjis"},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(hanabira::FindManagerName(table, c.page), c.manager) << c.page;
}

TEST(CommentText, FillCommentTemplateReplacesInOrderIgnoringCase) {
    struct Case {
        std::string comment, name, url, me, manager, want;
    } cases[] = {
        {"{$Manager}さん、{$MyName}です。{$MySiteName} {$MySiteURL}", "N", "U", "M", "G", "Gさん、Mです。N U"},
        {"{$manager} {$MYSITENAME} {$mysiteurl} {$myNAME}{$MyName}", "N", "U", "M", "G", "G N U MM"},
        // A value holding a later placeholder is filled by the later step, never by an earlier one.
        {"{$MySiteName}", "{$Manager}", "", "", "G", "G"},
        {"{$MyName}", "", "", "{$MySiteURL}", "", "{$MySiteURL}"},
        {"{$Manager", "", "", "", "G", "{$Manager"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(hanabira::FillCommentTemplate(S(c.comment.c_str()), c.name, c.url, c.me, c.manager),
                  S(c.want.c_str()))
            << c.comment;
    }
}

}  // namespace
