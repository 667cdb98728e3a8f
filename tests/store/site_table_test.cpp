#include "store/site_table.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "test_support.h"

using namespace hanabira;
using testing_support::S;

namespace {

std::string Line(const std::string& title, const std::string& url, const std::string& category = "",
                 const std::string& registered = "") {
    TMWBlogListRec r;
    r.SiteTitle = title;
    r.SiteURL = url;
    r.Category = category;
    r.Registered = registered;
    return WriteSiteRecord(r);
}

std::vector<std::string> Titles(const TLightStrings& table) {
    std::vector<std::string> out;
    for (int i = 0; i < table.Count(); ++i) out.push_back(ReadSiteRecord(table.Get(i)).SiteTitle);
    return out;
}

TLightStrings Table(const std::vector<std::string>& lines) {
    TLightStrings t;
    for (const auto& l : lines) t.Add(l);
    return t;
}

}  // namespace

TEST(SiteTable, StoreReplacesInPlaceAndKeepsRegistered) {
    TLightStrings table = Table({Line("A", "http://a/", "", "2020/01/01 00:00:00"), Line("B", "http://b/")});
    TMWBlogListRec edited = ReadSiteRecord(Line("A2", "http://a/", "News", "2026/12/07 10:00:00"));
    EXPECT_EQ(StoreSiteRecord(table, edited), 0);
    EXPECT_EQ(Titles(table), (std::vector<std::string>{"A2", "B"}));
    EXPECT_EQ(ReadSiteRecord(table.Get(0)).Registered, "2020/01/01 00:00:00");
    EXPECT_EQ(ReadSiteRecord(table.Get(0)).Category, "News");

    // The URL is the key, byte for byte: another letter case is another site.
    EXPECT_EQ(StoreSiteRecord(table, ReadSiteRecord(Line("C", "http://A/", "", "2026/12/07 10:00:00"))), 2);
    EXPECT_EQ(Titles(table), (std::vector<std::string>{"A2", "B", "C"}));
    EXPECT_EQ(ReadSiteRecord(table.Get(2)).Registered, "2026/12/07 10:00:00");
}

TEST(SiteTable, DuplicateUrlsReachOnlyTheFirst) {
    TLightStrings table = Table({Line("X", "http://x/"), Line("D1", "http://d/"), Line("D2", "http://d/")});
    EXPECT_EQ(IndexOfURL(table, "http://d/"), 1);
    EXPECT_EQ(IndexOfURL(table, "http://none/"), -1);

    EXPECT_TRUE(StampLastVisit(table, "http://d/", "2026/12/07 10:00:00"));
    EXPECT_EQ(ReadSiteRecord(table.Get(1)).LastVisit, "2026/12/07 10:00:00");
    EXPECT_EQ(ReadSiteRecord(table.Get(2)).LastVisit, "");
    EXPECT_FALSE(StampLastVisit(table, "http://none/", "2026/12/07 10:00:00"));

    TMWBlogListRec again = ReadSiteRecord(Line("D3", "http://d/"));
    EXPECT_EQ(StoreSiteRecord(table, again), 1);
    EXPECT_EQ(Titles(table), (std::vector<std::string>{"X", "D3", "D2"}));

    EXPECT_TRUE(DeleteSiteByURL(table, "http://d/"));
    EXPECT_EQ(Titles(table), (std::vector<std::string>{"X", "D2"}));
    EXPECT_FALSE(DeleteSiteByURL(table, "http://none/"));
    EXPECT_EQ(table.Count(), 2);
}

TEST(SiteTable, CategoryRules) {
    const std::string all = S("すべてのサイト"), none = S("未分類"), news = S("ニュース");
    TLightStrings table = Table({
        Line("empty", "http://1/"),
        Line("literal", "http://2/", none),
        Line("news", "http://3/", news),
        Line("unknown", "http://4/", S("消えた分類")),
        "short\thttp://5/",  // too few fields: uncategorised
        Line("news2", "http://6/", news),
    });
    struct Case {
        std::string category;
        std::vector<std::string> titles;
    };
    const std::vector<Case> cases = {
        {all, {"empty", "literal", "news", "unknown", "short", "news2"}},
        {none, {"empty", "literal", "short"}},
        {news, {"news", "news2"}},
        {S("消えた分類"), {"unknown"}},
        {S("ない分類"), {}},
        {"", {"empty", "short"}},
    };
    for (const auto& c : cases) {
        TLightStrings view;
        view.Add("stale");
        FilterCategory(table, c.category, view);
        EXPECT_EQ(Titles(view), c.titles) << c.category;
        for (int i = 0; i < view.Count(); ++i) {
            EXPECT_EQ(view.Get(i), WriteSiteRecord(ReadSiteRecord(view.Get(i)))) << "view lines are rewritten";
            EXPECT_TRUE(InCategory(ReadSiteRecord(view.Get(i)), c.category));
        }
    }
    EXPECT_EQ(ReadSiteRecord(table.Get(4)).Category, "");
    // The short line is copied in its written form; the table itself is untouched.
    TLightStrings view;
    FilterCategory(table, none, view);
    EXPECT_EQ(view.Get(2), "short\thttp://5/" + std::string(8, '\t'));
    EXPECT_EQ(table.Get(4), "short\thttp://5/");
    EXPECT_TRUE(IsSystemCategory(all));
    EXPECT_TRUE(IsSystemCategory(none));
    EXPECT_FALSE(IsSystemCategory(news));
}

TEST(SiteTable, CategoryListTextSkipsSystemCategories) {
    CategoryTree tree = BuiltInCategoryTree();
    EXPECT_EQ(CategoryListText(tree), "");
    EXPECT_EQ(CategoryListText({}), "");
    TreeNode hobby{S("趣味"), 0, 0, -1, {TreeNode{S("写真"), 0, 0, -1, {}}}};
    tree[0].Children.push_back(hobby);
    tree.push_back(TreeNode{"Top", 0, 0, -1, {TreeNode{S("未分類"), 0, 0, -1, {}}}});
    EXPECT_EQ(CategoryListText(tree), S("趣味\r\n写真\r\nTop\r\n"));
}

TEST(SiteTable, ClearCategory) {
    const std::string news = S("ニュース");
    TLightStrings table = Table({Line("a", "http://1/", news), "b\thttp://2/\t\t\t\t" + news, Line("c", "http://3/", "x"),
                                 "d\thttp://4/", Line("e", "http://5/", news + "2")});
    ClearCategory(table, news);
    EXPECT_EQ(table.Get(0), Line("a", "http://1/"));
    EXPECT_EQ(table.Get(1), Line("b", "http://2/"));
    EXPECT_EQ(table.Get(2), Line("c", "http://3/", "x"));
    EXPECT_EQ(table.Get(3), "d\thttp://4/");  // not in the category: left as it was
    EXPECT_EQ(table.Get(4), Line("e", "http://5/", news + "2"));
}

TEST(SiteTable, LocateSiteFollowsTheSite) {
    struct Case {
        const char* what;
        std::vector<std::string> urls;  // the table after the change
        int index;                      // where the site was read
        int expected;
    };
    const std::vector<Case> cases = {
        {"unchanged", {"a", "b", "c"}, 1, 1},
        {"a site before it deleted", {"b", "c"}, 1, 0},
        {"a site inserted before it", {"n", "a", "b", "c"}, 1, 2},
        {"the site itself deleted", {"a", "c"}, 1, -1},
        {"the table shrank below the index", {"b"}, 2, 0},
        {"index out of range, site gone", {"a"}, 5, -1},
        {"negative index", {"a", "b"}, -1, 1},
        {"a duplicate at the index is the site itself", {"b", "x", "b"}, 2, 2},
        {"moved behind an earlier duplicate", {"b", "x", "y", "b"}, 2, 0},
    };
    for (const auto& c : cases) {
        TLightStrings table;
        for (const auto& u : c.urls) table.Add(Line("t", u));
        EXPECT_EQ(LocateSite(table, c.index, "b"), c.expected) << c.what;
    }
}

TEST(SiteTable, ListCellsInDisplayOrder) {
    const TMWBlogListRec rec = ReadSiteRecord("title\turl\tvisit\treg\tupdate\tcat\trss\thead\tSkip\tmanager");
    const std::vector<std::string> expected = {"43",  "title", "url", "visit", "update", "head",
                                               "cat", "reg",   "rss", "Skip",  "manager"};
    ASSERT_EQ(static_cast<int>(expected.size()), kSiteListColumns);
    for (int col = 0; col < kSiteListColumns; ++col) EXPECT_EQ(SiteListCell(rec, 42, col), expected[col]) << col;
    EXPECT_EQ(SiteListCell(rec, 0, 0), "1");
    EXPECT_EQ(SiteListCell(rec, 0, kSiteListColumns), "");
}

// A check result changes one line; bringing only that line into the view must give exactly what a
// full rebuild gives, whatever the change does to the line's category.
TEST(SiteTable, UpdatingOneViewLineEqualsARebuild) {
    std::mt19937 rng(1207);
    const std::vector<std::string> categories = {"", S("未分類"), S("日記"), S("技術")};
    const std::vector<std::string> shown = {AllSitesCategory(), UncategorizedCategory(), S("日記"), S("技術")};
    for (int round = 0; round < 300; ++round) {
        TLightStrings table('\t');
        const int n = 1 + static_cast<int>(rng() % 30);
        for (int i = 0; i < n; ++i) {
            TMWBlogListRec r;
            r.SiteTitle = "t" + std::to_string(i);
            r.SiteURL = "http://s" + std::to_string(i);
            r.Category = categories[rng() % categories.size()];
            std::string line = WriteSiteRecord(r);
            if (rng() % 5 == 0) line = r.SiteTitle + "\t" + r.SiteURL;  // a short line
            table.Add(line);
        }
        const std::string& category = shown[rng() % shown.size()];
        TLightStrings view('\t');
        std::vector<int> rows;
        FilterCategory(table, category, view, rows);
        for (int step = 0; step < 5; ++step) {
            const int i = static_cast<int>(rng() % n);
            TMWBlogListRec r = ReadSiteRecord(table.Get(i));
            r.LastUpdate = "2026/12/07 0" + std::to_string(step) + ":00:00";
            if (rng() % 2) r.Category = categories[rng() % categories.size()];
            table.Put(i, WriteSiteRecord(r));
            ASSERT_TRUE(UpdateCategoryView(table, i, category, view, rows));
            TLightStrings rebuilt('\t');
            FilterCategory(table, category, rebuilt);
            ASSERT_EQ(view.GetText(), rebuilt.GetText()) << "round " << round << " step " << step;
        }
    }
    // A view that does not fit the table is refused, so the caller rebuilds it.
    TLightStrings table('\t'), view('\t');
    std::vector<int> rows = {0, 1};
    table.Add("a\tu");
    EXPECT_FALSE(UpdateCategoryView(table, 0, AllSitesCategory(), view, rows));
}
