#include "store/opml.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "store/site_table.h"
#include "test_support.h"

using namespace hanabira;
using testing_support::S;

namespace {

// The shape other readers export: a head with a title and dates, folders with text and title,
// feeds with type="rss", entities and references in the names, and a few attributes we ignore.
const char kOtherReader[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<opml version="1.0">
  <head>
    <title>Subscriptions in Some Reader</title>
    <dateCreated>Mon, 07 Dec 2026 03:16:43 GMT</dateCreated>
  </head>
  <body>
    <outline text="日記 &amp; 雑記" title="日記 &amp; 雑記">
      <outline text="花びら &lt;日記&gt;" title="花びら &quot;Garden&quot;" type="rss"
               xmlUrl="http://hana.example.jp/blog/index.rdf" htmlUrl="http://hana.example.jp/blog/"/>
      <outline text="&#x65E5;&#x8A18; 🌸" type="rss" xmlUrl="http://feeds.example.com/tsuki" />
    </outline>
    <outline title="Tech">
      <outline text="Qt Blog" type="rss" xmlURL="https://www.qt.io/blog/rss.xml" htmlUrl="https://www.qt.io/blog"/>
    </outline>
    <outline text="No folder" type="rss" xmlUrl="http://solo.example.org/feed?type=rss&amp;lang=ja" category="/x"/>
  </body>
</opml>
)";

TEST(ReadOpml, FileOfAnotherReader) {
    const OpmlImport got = ReadOpml(kOtherReader);
    ASSERT_EQ(got.Sites.size(), 4u);
    struct Want {
        std::string title, url, feed, category;
    };
    const Want want[] = {
        {S("花びら \"Garden\""), "http://hana.example.jp/blog", "http://hana.example.jp/blog/index.rdf",
         S("日記 & 雑記")},
        // Title from text; a character Shift_JIS cannot hold is kept as a reference; the page is the feed's folder.
        {S("日記 &#x1f338;"), "http://feeds.example.com", "http://feeds.example.com/tsuki", S("日記 & 雑記")},
        {"Qt Blog", "https://www.qt.io/blog", "https://www.qt.io/blog/rss.xml", "Tech"},
        {"No folder", "http://solo.example.org", "http://solo.example.org/feed?type=rss&lang=ja", ""},
    };
    for (size_t i = 0; i < got.Sites.size(); ++i) {
        const TMWBlogListRec& s = got.Sites[i];
        EXPECT_EQ(s.SiteTitle, want[i].title) << i;
        EXPECT_EQ(s.SiteURL, want[i].url) << i;
        EXPECT_EQ(s.RSSURL, want[i].feed) << i;
        EXPECT_EQ(s.Category, want[i].category) << i;
        // Registered now by the caller, never visited, HEAD check skipped as a new site has it.
        EXPECT_EQ(s.Registered, "") << i;
        EXPECT_EQ(s.LastVisit, "") << i;
        EXPECT_EQ(s.LastUpdate, "") << i;
        EXPECT_EQ(s.HeadTime, "") << i;
        EXPECT_EQ(s.HeadCheck, "Skip") << i;
        EXPECT_EQ(s.ManagerName, "") << i;
    }
    ASSERT_EQ(got.Categories.size(), 2u);
    EXPECT_EQ(got.Categories[0].Text, S("日記 & 雑記"));
    EXPECT_EQ(got.Categories[1].Text, "Tech");
    EXPECT_EQ(got.Categories[0].ImageIndex, 5);  // as a category added in the window
}

std::string Categories(const CategoryTree& tree) {
    return MWSaveTreeToStrings(tree);
}

TEST(ReadOpml, FoldersBecomeCategories) {
    const char* xml = R"(<opml version="2.0"><body>
      <outline text="A">
        <outline text="B">
          <outline text="b1" xmlUrl="http://b.example/1/rss"/>
          <outline text="C"><outline text="c1" xmlUrl="http://c.example/rss"/></outline>
        </outline>
        <outline text="a1" xmlUrl="http://a.example/1/rss"/>
        <outline><outline text="in nameless" xmlUrl="http://a.example/2/rss"/></outline>
        <outline text="a page" type="link" url="http://a.example/about"/>
        <outline text="another list" type="include" url="http://a.example/list.opml"/>
      </outline>
      <outline text="すべてのサイト">
        <outline text="all1" xmlUrl="http://s.example/1/rss"/>
        <outline text="D"><outline text="d1" xmlUrl="http://d.example/rss"/></outline>
      </outline>
      <outline text="A">
        <outline text="E"/>
        <outline text="a3" xmlUrl="http://a.example/3/rss"/>
      </outline>
      <outline text="B"><outline text="b2" xmlUrl="http://b.example/2/rss"/></outline>
      <outline text="未分類"><outline text="u1" xmlUrl="http://u.example/rss"/></outline>
      <outline text="f" xmlUrl="http://f.example/rss"><outline text="under feed" xmlUrl="http://g.example/rss"/></outline>
    </body></opml>)";
    const OpmlImport got = ReadOpml(xml);
    // Nested as in the file; a system name makes no folder (what is inside moves up); one folder
    // per name, however often it comes.
    CategoryTree want;
    TreeNode a{"A", 5, 0, -1, {}}, b{"B", 5, 0, -1, {}};
    b.Children.push_back({"C", 5, 0, -1, {}});
    a.Children.push_back(b);
    a.Children.push_back({"E", 5, 0, -1, {}});
    want.push_back(a);
    want.push_back({"D", 5, 0, -1, {}});
    EXPECT_EQ(Categories(got.Categories), Categories(want));

    std::vector<std::pair<std::string, std::string>> sites;
    for (const auto& s : got.Sites) sites.emplace_back(s.SiteTitle, s.Category);
    const std::vector<std::pair<std::string, std::string>> wantSites = {
        {"b1", "B"}, {"c1", "C"}, {"a1", "A"}, {"in nameless", "A"}, {"all1", ""}, {"d1", "D"}, {"a3", "A"},
        {"b2", "B"}, {"u1", ""},  {"f", ""},   {"under feed", ""},
    };
    EXPECT_EQ(sites, wantSites);
}

TEST(ReadOpml, SitePageAndTitle) {
    struct Row {
        const char* attrs;
        const char* title;
        const char* url;
    };
    const Row rows[] = {
        {R"(text="t" xmlUrl="http://h.example/a/rss.xml" htmlUrl=" http://h.example/a/ ")", "t",
         "http://h.example/a"},
        // Two blogs on one host stay two sites.
        {R"(text="t" xmlUrl="http://h.example/b/rss.xml")", "t", "http://h.example/b"},
        {R"(text="t" xmlUrl="http://h.example/?feed=rss2&amp;x=a/b")", "t", "http://h.example"},
        {R"(text="t" xmlUrl="http://h.example")", "t", "http://h.example"},
        {R"(title="from title" text="from text" xmlUrl="http://h.example/c/rss")", "from title",
         "http://h.example/c"},
        {R"(xmlUrl="http://h.example/d/rss")", "http://h.example/d", "http://h.example/d"},
        {"text=\"a&#9;b&#10;c \" xmlUrl=\"http://h.example/e/rss\"", "abc", "http://h.example/e"},
        // A site without a feed, as this program exports one.
        {R"(text="no feed" xmlUrl="" htmlUrl="http://h.example/f")", "no feed", "http://h.example/f"},
    };
    for (const auto& r : rows) {
        const OpmlImport got = ReadOpml(std::string("<opml><body><outline ") + r.attrs + "/></body></opml>");
        ASSERT_EQ(got.Sites.size(), 1u) << r.attrs;
        EXPECT_EQ(got.Sites[0].SiteTitle, r.title) << r.attrs;
        EXPECT_EQ(got.Sites[0].SiteURL, r.url) << r.attrs;
        EXPECT_TRUE(got.Categories.empty()) << r.attrs;
    }
}

TEST(ReadOpml, MalformedFilesAreRefusedWithTheirLine) {
    struct Row {
        const char* name;
        std::string xml;
        int line;
    };
    const Row rows[] = {
        {"mismatched tag", "<opml>\n<body>\n<outline text=\"a\" xmlUrl=\"http://x/\">\n</body>\n</opml>\n",
         4},
        {"undeclared entity", "<opml><body>\n\n<outline text=\"&nbsp;\" xmlUrl=\"http://x/\"/></body></opml>",
         3},
        {"cut off", "<opml>\n<body>\n<outline text=\"a\" xmlUrl=\"http://x/\"/>\n", 4},
        {"not opml", "<?xml version=\"1.0\"?>\n<rss><channel/></rss>", 2},
        {"empty", "", 1},
        {"html", "<html><body><p>x</body></html>", 1},
    };
    for (const auto& r : rows) {
        try {
            ReadOpml(r.xml);
            ADD_FAILURE() << r.name << ": no error";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find("(" + std::to_string(r.line) + S("行目") + ")"),
                      std::string::npos)
                << r.name << ": " << e.what();
        }
    }
}

TEST(AddImportedSites, SkipsWhatIsRegisteredOrCameBefore) {
    TLightStrings table('\t');
    TMWBlogListRec old;
    old.SiteTitle = "old";
    old.SiteURL = "http://a.example/blog";
    old.RSSURL = "http://a.example/blog/rss";
    old.Registered = "2020/01/01 00:00:00";
    table.Add(WriteSiteRecord(old));
    TMWBlogListRec noFeed;
    noFeed.SiteTitle = "no feed";
    noFeed.SiteURL = "http://n.example";
    table.Add(WriteSiteRecord(noFeed));
    const std::string before = table.GetText();

    auto site = [](const char* title, const char* url, const char* feed) {
        TMWBlogListRec r;
        r.SiteTitle = title;
        r.SiteURL = url;
        r.RSSURL = feed;
        r.Category = "C";
        return r;
    };
    const std::vector<TMWBlogListRec> sites = {
        site("same page", "http://a.example/blog", "http://other.example/rss"),
        site("same feed", "http://other.example", "http://a.example/blog/rss"),
        site("new", "http://b.example", "http://b.example/rss"),
        site("again in the file", "http://b.example", "http://b.example/rss2"),
        site("feed again in the file", "http://c.example", "http://b.example/rss"),
        site("page only, new", "http://d.example", ""),
        site("empty feed matches no empty feed", "http://e.example", ""),
        site("", "", ""),
    };
    const OpmlMergeCount count = AddImportedSites(table, sites, "2026/12/08 10:00:00");
    EXPECT_EQ(count.Added, 3);
    EXPECT_EQ(count.Skipped, 5);
    ASSERT_EQ(table.Count(), 5);
    EXPECT_EQ(table.GetText().substr(0, before.size()), before);  // registered sites untouched
    const std::vector<std::string> titles = {"new", "page only, new", "empty feed matches no empty feed"};
    for (int i = 0; i < 3; ++i) {
        const TMWBlogListRec r = ReadSiteRecord(table.Get(2 + i));
        EXPECT_EQ(r.SiteTitle, titles[i]);
        EXPECT_EQ(r.Registered, "2026/12/08 10:00:00");
        EXPECT_EQ(r.Category, "C");
    }
}

// What this program writes, another program (and this one) reads back: the same sites, the same
// categories and the category of every site.
TEST(WriteOpml, RoundTripIntoAnEmptyProgram) {
    CategoryTree tree = BuiltInCategoryTree();  // すべてのサイト > 未分類
    TreeNode news{S("ニュース"), 5, 0, -1, {}}, hobby{S("趣味 & 日記"), 5, 0, -1, {}};
    hobby.Children.push_back({S("写真 <旅>"), 5, 0, -1, {}});
    tree[0].Children.push_back(news);
    tree[0].Children.push_back(hobby);
    tree[0].Children.push_back({S("空"), 5, 0, -1, {}});

    TLightStrings table('\t');
    auto add = [&](const std::string& title, const std::string& url, const std::string& feed,
                   const std::string& category) {
        TMWBlogListRec r;
        r.SiteTitle = title;
        r.SiteURL = url;
        r.RSSURL = feed;
        r.Category = category;
        r.Registered = "2020/01/01 00:00:00";
        r.LastVisit = "2026/12/01 00:00:00";
        r.HeadCheck = "Skip";
        table.Add(WriteSiteRecord(r));
    };
    add(S("花びら \"日記\" & <blog>"), "http://a.example/blog", "http://a.example/blog/index.rdf?x=1&y=2",
        S("写真 <旅>"));
    add(S("ニュース速報"), "http://n.example", "http://n.example/rss", S("ニュース"));
    add(S("未分類のサイト"), "http://u.example", "http://u.example/atom.xml", "");
    add(S("未分類と書かれたサイト"), "http://v.example", "http://v.example/atom.xml", S("未分類"));
    add(S("木にないカテゴリ"), "http://o.example", "http://o.example/feed", S("消えたカテゴリ"));
    add(S("フィードなし"), "http://p.example/page", "", S("趣味 & 日記"));

    const std::string xml = WriteOpml(table, tree);
    EXPECT_EQ(xml.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u);
    EXPECT_NE(xml.find("<opml version=\"2.0\">"), std::string::npos);
    EXPECT_EQ(xml.find(S("すべてのサイト")), std::string::npos);

    const OpmlImport back = ReadOpml(xml);
    CategoryTree wantFolders = tree[0].Children;
    wantFolders.erase(wantFolders.begin());                      // 未分類 is no folder
    wantFolders.push_back({S("消えたカテゴリ"), 5, 0, -1, {}});  // kept for its site
    EXPECT_EQ(Categories(back.Categories), Categories(wantFolders));

    TLightStrings empty('\t');
    const OpmlMergeCount count = AddImportedSites(empty, back.Sites, "2026/12/08 10:00:00");
    EXPECT_EQ(count.Added, table.Count());
    EXPECT_EQ(count.Skipped, 0);
    for (int i = 0; i < table.Count(); ++i) {
        const TMWBlogListRec orig = ReadSiteRecord(table.Get(i));
        const int j = IndexOfURL(empty, orig.SiteURL);
        ASSERT_GE(j, 0) << orig.SiteURL;
        const TMWBlogListRec got = ReadSiteRecord(empty.Get(j));
        EXPECT_EQ(got.SiteTitle, orig.SiteTitle);
        EXPECT_EQ(got.RSSURL, orig.RSSURL);
        // "未分類" written out is no category, which shows the site in the same place.
        EXPECT_EQ(got.Category, orig.Category == S("未分類") ? "" : orig.Category) << orig.SiteURL;
        EXPECT_EQ(got.LastVisit, "");
    }
}

}  // namespace
