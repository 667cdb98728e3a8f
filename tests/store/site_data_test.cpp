#include "store/site_data.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <vector>

#include "store/site_record.h"
#include "store/text_file.h"
#include "test_support.h"

using namespace hanabira;
using testing_support::ReadFileBytes;
using testing_support::S;
using testing_support::TempDir;
using testing_support::WriteFileBytes;
namespace fs = std::filesystem;

namespace {

const std::string kTreeOpen = "<!--\tTree\t-->", kTreeClose = "<!--/\tTree\t-->";
const std::string kSitesOpen = "<!--\tBlogList\t-->", kSitesClose = "<!--/\tBlogList\t-->";

std::string SiteLine() {
    return S("花の日記\thttp://hana.example.jp/\t2026/12/07 10:00:00\t2026/01/02 03:04:05\t2026/12/07 09:00:00\t"
             "\thttp://hana.example.jp/rss.xml\t2026/12/07 12:00:00\t\t花子");
}

std::string BuiltInTreeLines() { return "6 7 -1 5 0 -1 \r\n" + S("すべてのサイト\r\n\t未分類\r\n"); }

std::vector<std::string> Items(const TLightStrings& list) {
    std::vector<std::string> out;
    for (int i = 0; i < list.Count(); ++i) out.push_back(list.Get(i));
    return out;
}

std::string TreeText(const CategoryTree& tree) { return MWSaveTreeToStrings(tree); }

CategoryTree SomeTree() {
    CategoryTree tree = BuiltInCategoryTree();
    tree[0].Children.push_back(TreeNode{S("趣味"), 1, 2, 3, {TreeNode{S("写真"), 4, 5, -1, {}}}});
    tree[0].Children.push_back(TreeNode{"News", 0, 0, -1, {}});
    return tree;
}

TLightStrings Pattern() {
    TLightStrings t;
    t.Add("stale line");
    return t;
}

}  // namespace

TEST(SiteData, FileLayoutIsByteExact) {
    TempDir dir;
    const std::string path = dir.file("RssSites.dat");
    TLightStrings table;
    table.Add(SiteLine());
    ASSERT_TRUE(SaveSiteData(path, table, BuiltInCategoryTree()));
    const std::string expected = kTreeOpen + "6 7 -1 5 0 -1 \r\n" + S("すべてのサイト") + "\r\n" + "\t" + S("未分類") +
                                 "\r\n" + kTreeClose + kSitesOpen + SiteLine() + "\r\n" + kSitesClose + "\r\n";
    EXPECT_EQ(ReadFileBytes(path), expected);

    // No sites: the closing Tree tag and both BlogList tags share the last line.
    ASSERT_TRUE(SaveSiteData(path, TLightStrings(), BuiltInCategoryTree()));
    EXPECT_EQ(ReadFileBytes(path), kTreeOpen + BuiltInTreeLines() + kTreeClose + kSitesOpen + kSitesClose + "\r\n");
    TLightStrings loaded = Pattern();
    CategoryTree tree = SomeTree();
    EXPECT_EQ(LoadSiteData(path, loaded, tree).status, SiteDataStatus::Loaded);
    EXPECT_EQ(loaded.Count(), 0);
    EXPECT_EQ(TreeText(tree), TreeText(BuiltInCategoryTree()));
}

TEST(SiteData, SaveThenLoadRoundTrip) {
    TempDir dir;
    const std::string path = dir.file("RssSites.dat");
    TLightStrings table;
    table.Add(SiteLine());
    table.Add("short\thttp://short/");
    table.Add("");  // a blank line is a site with empty fields, and stays one
    table.Add(S("ソース表示\thttp://b/\t\t\t\tNews\t\t\tSkip\t"));
    table.Add(SiteLine());
    const CategoryTree tree = SomeTree();
    ASSERT_TRUE(SaveSiteData(path, table, tree));
    // The file is exactly what the text-file writer makes of the data file text.
    EXPECT_EQ(ReadFileBytes(path), TextFileBytes(SiteDataText(table, tree)));

    TLightStrings loaded = Pattern();
    CategoryTree loadedTree = BuiltInCategoryTree();
    const SiteDataLoad r = LoadSiteData(path, loaded, loadedTree);
    EXPECT_EQ(r.status, SiteDataStatus::Loaded);
    EXPECT_FALSE(r.treeError);
    EXPECT_EQ(Items(loaded), Items(table));
    EXPECT_EQ(TreeText(loadedTree), TreeText(tree));
}

TEST(SiteData, StrayBreaksInsideLinesAreSplitOnSave) {
    TempDir dir;
    const std::string path = dir.file("RssSites.dat");
    TLightStrings table;
    table.Add("a\rb");
    table.Add("c\nd");
    ASSERT_TRUE(SaveSiteData(path, table, BuiltInCategoryTree()));
    EXPECT_EQ(ReadFileBytes(path), TextFileBytes(SiteDataText(table, BuiltInCategoryTree())));
    EXPECT_NE(ReadFileBytes(path).find(kSitesOpen + "a\r\nb\r\nc\r\nd\r\n" + kSitesClose + "\r\n"), std::string::npos);
}

TEST(SiteData, LoadRules) {
    const std::string treeSection = kTreeOpen + BuiltInTreeLines() + kTreeClose;
    struct Case {
        const char* what;
        std::string file;
        std::vector<std::string> sites;
        std::string treeText;  // expected tree text; empty = the tree before the load
        bool treeError = false;
    };
    const std::string someTree = TreeText(SomeTree());
    const std::vector<Case> cases = {
        {"LF only", kTreeOpen + "6 7 -1 5 0 -1 \n" + S("すべてのサイト\n\t未分類\n") + kTreeClose + kSitesOpen + "A\tu1\nB\tu2\n" +
                        kSitesClose + "\n",
         {"A\tu1", "B\tu2"}, BuiltInTreeLines()},
        {"no final line break", treeSection + kSitesOpen + "A\r\n" + kSitesClose, {"A"}, BuiltInTreeLines()},
        {"a lone CR is dropped from the line", treeSection + kSitesOpen + "A\rB\r\n" + kSitesClose + "\r\n", {"AB"},
         BuiltInTreeLines()},
        {"several breaks around the content go, inner blank lines stay",
         treeSection + kSitesOpen + "\r\n\r\n\r\nA\r\n\r\n\r\nB\r\n\r\n\r\n" + kSitesClose + "\r\n", {"A", "", "", "B"},
         BuiltInTreeLines()},
        {"sections on their own lines", kTreeOpen + "\r\n" + BuiltInTreeLines() + "\r\n" + kTreeClose + "\r\n" +
                                            kSitesOpen + "\r\nA\r\n" + kSitesClose + "\r\n",
         {"A"}, BuiltInTreeLines()},
        {"empty site section", treeSection + kSitesOpen + "\r\n\r\n" + kSitesClose, {}, BuiltInTreeLines()},
        {"missing site section", treeSection, {}, BuiltInTreeLines()},
        {"closing tags before opening tags", kTreeClose + kSitesClose + kTreeOpen + BuiltInTreeLines() + kSitesOpen +
                                                 "A\r\n",
         {}, ""},
        {"missing tree section keeps the tree", kSitesOpen + "A\r\n" + kSitesClose, {"A"}, ""},
        {"empty tree section keeps the tree", kTreeOpen + "\r\n\r\n" + kTreeClose + kSitesOpen + "A" + kSitesClose,
         {"A"}, ""},
        {"space-indented tree", kTreeOpen + "1 1 1 2 2 2 \r\nR\r\n A\r\n" + kTreeClose, {}, "1 1 1 2 2 2 \r\nR\r\n\tA\r\n"},
        {"a broken tree keeps its first nodes and the sites load",
         kTreeOpen + "6 7 -1 5 0 -1 9 9 9 \r\nR\r\n\tU\r\n\t\t\tX\r\n\tY\r\n" + kTreeClose + kSitesOpen + "A\r\nB\r\n" +
             kSitesClose,
         {"A", "B"}, "6 7 -1 5 0 -1 \r\nR\r\n\tU\r\n", true},
        {"an empty file", "", {}, ""},
    };
    TempDir dir;
    for (const auto& c : cases) {
        const std::string path = dir.file("RssSites.dat");
        WriteFileBytes(path, c.file);
        TLightStrings table = Pattern();
        CategoryTree tree = SomeTree();
        const SiteDataLoad r = LoadSiteData(path, table, tree);
        EXPECT_EQ(r.status, SiteDataStatus::Loaded) << c.what;
        EXPECT_EQ(r.treeError, c.treeError) << c.what;
        EXPECT_EQ(Items(table), c.sites) << c.what;
        EXPECT_EQ(TreeText(tree), c.treeText.empty() ? someTree : c.treeText) << c.what;
    }
}

TEST(SiteData, MissingOrUnreadableFileChangesNothing) {
    TempDir dir;
    struct Case {
        const char* what;
        std::string path;
        SiteDataStatus status;
    };
    fs::create_directory(dir.file("folder.dat"));
    std::vector<Case> cases = {
        {"missing", dir.file("none.dat"), SiteDataStatus::Missing},
        {"missing folder", dir.file("nowhere/RssSites.dat"), SiteDataStatus::Missing},
        {"a folder in its place", dir.file("folder.dat"), SiteDataStatus::Unreadable},
        // Loading these as empty tables would let the save at close wipe the sites they hold.
        {"not a data file at all", dir.file("text.dat"), SiteDataStatus::Unreadable},
        {"a site section cut off", dir.file("torn.dat"), SiteDataStatus::Unreadable},
        {"cut inside the tree section", dir.file("torn-tree.dat"), SiteDataStatus::Unreadable},
        // Neither may be read at all: a FIFO would hang the start for ever, a 2 GiB file take
        // half a minute and as much memory before it failed.
        {"a FIFO", dir.file("fifo.dat"), SiteDataStatus::Unreadable},
        {"larger than any data file", dir.file("huge.dat"), SiteDataStatus::Unreadable},
    };
    WriteFileBytes(dir.file("torn-tree.dat"), kTreeOpen + "6 7 -1 5 0 -1 1 1 1 \r\n" + S("すべてのサイト\r\n\t未分類\r\n\t日"));
    EXPECT_EQ(::mkfifo(dir.file("fifo.dat").c_str(), 0600), 0);
    WriteFileBytes(dir.file("huge.dat"), kTreeOpen + BuiltInTreeLines() + kTreeClose + kSitesOpen);
    fs::resize_file(dir.file("huge.dat"), uintmax_t{2} << 30);  // sparse: no disk used
    WriteFileBytes(dir.file("text.dat"), "just some text\r\n");
    WriteFileBytes(dir.file("torn.dat"), kTreeOpen + BuiltInTreeLines() + kTreeClose + kSitesOpen + "A\tu1\r\nB\tu");
    // Permission bits do not stop root from reading; that case only runs where they bind.
    const std::string locked = dir.file("locked.dat");
    WriteFileBytes(locked, kSitesOpen + "A\r\n" + kSitesClose);
    fs::permissions(locked, fs::perms::none);
    std::string probe;
    if (!ReadWholeFile(locked, probe))
        cases.push_back({"no read permission", locked, SiteDataStatus::Unreadable});
    else
        std::cout << "[ note ] unreadable-by-permission case skipped: permission bits do not bind root\n";

    for (const auto& c : cases) {
        TLightStrings table = Pattern();
        CategoryTree tree = SomeTree();
        const SiteDataLoad r = LoadSiteData(c.path, table, tree);
        EXPECT_EQ(r.status, c.status) << c.what;
        EXPECT_EQ(r.error.empty(), c.status != SiteDataStatus::Unreadable) << c.what << ": " << r.error;
        EXPECT_FALSE(r.treeError);
        EXPECT_EQ(Items(table), Items(Pattern())) << c.what;
        EXPECT_EQ(TreeText(tree), TreeText(SomeTree())) << c.what;
    }
    fs::permissions(locked, fs::perms::owner_all);
}

TEST(SiteData, FailedSaveKeepsTheOldFile) {
    TempDir dir;
    const std::string path = dir.file("RssSites.dat");
    TLightStrings table;
    table.Add(SiteLine());
    ASSERT_TRUE(SaveSiteData(path, table, BuiltInCategoryTree()));
    const std::string old = ReadFileBytes(path);

    std::string error;
    fs::create_directory(dir.file("folder.dat"));
    EXPECT_FALSE(SaveSiteData(dir.file("folder.dat"), table, BuiltInCategoryTree(), &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(SaveSiteData(dir.file("nowhere/RssSites.dat"), table, BuiltInCategoryTree()));

    fs::permissions(dir.path(), fs::perms::owner_read | fs::perms::owner_exec);
    table.Add("more\thttp://more/");
    error.clear();
    const bool saved = SaveSiteData(path, table, BuiltInCategoryTree(), &error);
    fs::permissions(dir.path(), fs::perms::owner_all);
    if (saved) {
        std::cout << "[ note ] read-only folder case skipped: permission bits do not bind root\n";
    } else {
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(ReadFileBytes(path), old);
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir.path())) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"RssSites.dat", "folder.dat"}));
    }
}
