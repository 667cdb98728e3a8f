#include "check/update_notice.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "store/site_record.h"
#include "test_support.h"

using namespace hanabira;
using testing_support::S;

namespace {

std::vector<std::string> Names(int n) {
    const std::vector<std::string> first = {S("ゆるふわ日記&#x2661;"), S("技術メモ & <雑記>"), S("写真日和")};
    std::vector<std::string> names(first.begin(), first.begin() + std::min(n, 3));
    for (int i = 3; i < n; ++i) names.push_back("site" + std::to_string(i));
    return names;
}

}  // namespace

TEST(UpdateNotice, TextAndItsMarkupForm) {
    const struct {
        int count;
        std::string plain, markup;
    } cases[] = {
        {1, S("1 件のブログが更新されました: ゆるふわ日記&#x2661;"),
         S("1 件のブログが更新されました: ゆるふわ日記&#x2661;")},
        {3, S("3 件のブログが更新されました: ゆるふわ日記&#x2661;、技術メモ & <雑記>、写真日和"),
         S("3 件のブログが更新されました: ゆるふわ日記&#x2661;、技術メモ &amp; &lt;雑記&gt;、写真日和")},
        {20, S("20 件のブログが更新されました: ゆるふわ日記&#x2661;、技術メモ & <雑記>、写真日和 ほか 17 件"),
         S("20 件のブログが更新されました: ゆるふわ日記&#x2661;、技術メモ &amp; &lt;雑記&gt;、写真日和 ほか "
           "17 件")},
    };
    for (const auto& c : cases) {
        const std::string text = UpdateNoticeText(c.count, Names(c.count));
        EXPECT_EQ(text, c.plain) << c.count;
        EXPECT_EQ(EscapeNoticeMarkup(text), c.markup) << c.count;
    }
    // A count given from elsewhere may exceed the names at hand: the rest is still counted.
    EXPECT_EQ(UpdateNoticeText(5, {"a", "b"}), S("5 件のブログが更新されました: a、b ほか 3 件"));
    // Only a whole character reference stays one; a double-byte character whose second byte is
    // a '\' or '|' is left alone.
    EXPECT_EQ(EscapeNoticeMarkup("&#x;&#xZ;&#x41"), "&amp;#x;&amp;#xZ;&amp;#x41");
    EXPECT_EQ(EscapeNoticeMarkup(S("表ソ>")), S("表ソ&gt;"));
}

TEST(UpdateNotice, SitesThatEnteredTheVisitListDuringTheRun) {
    auto line = [](const std::string& title, const std::string& url, const std::string& visit,
                   const std::string& update) {
        TMWBlogListRec r;
        r.SiteTitle = title;
        r.SiteURL = url;
        r.LastVisit = visit;
        r.LastUpdate = update;
        r.Category = title == "b" ? S("写真") : "";
        return WriteSiteRecord(r);
    };
    const std::string v = "2026/12/07 10:00:00", older = "2026/12/06 10:00:00", newer = "2026/12/08 10:00:00";
    TLightStrings table('\t');
    table.Add(line("a", "http://a/", v, older));  // will update
    table.Add(line("b", "http://b/", v, older));  // will update, in another category
    table.Add(line("c", "http://c/", v, newer));  // was already listed
    table.Add(line("d", "http://d/", "", ""));    // never visited: listed all along
    table.Add(line("e", "http://e/", v, older));  // stays old
    table.Add(line("", "http://f/", v, older));   // no title: named by its URL
    const VisitSnapshot before = TakeVisitSnapshot(table);
    table.Put(0, line("a", "http://a/", v, newer));
    table.Put(1, line("b", "http://b/", v, newer));
    table.Put(2, line("c", "http://c/", v, newer));
    table.Put(5, line("", "http://f/", v, newer));
    table.Add(line("g", "http://g/", "", ""));  // registered during the run
    EXPECT_EQ(SitesEnteredVisitList(before, table), (std::vector<std::string>{"a", "b", "http://f/"}));
}
