#include "store/site_merge.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "store/site_record.h"

using namespace hanabira;

namespace {

// A site in short form: "title|url|lastVisit|headTime|lastUpdate|category"; "" is a blank line.
std::string Site(const std::string& shortForm) {
    if (shortForm.empty()) return "";
    std::vector<std::string> f;
    std::stringstream in(shortForm);
    for (std::string part; std::getline(in, part, '|');) f.push_back(part);
    f.resize(6);
    TMWBlogListRec r;
    r.SiteTitle = f[0];
    r.SiteURL = f[1];
    r.LastVisit = f[2];
    r.HeadTime = f[3];
    r.LastUpdate = f[4];
    r.Category = f[5];
    r.Registered = "2020/01/01 00:00:00";
    r.HeadCheck = "1";
    return WriteSiteRecord(r);
}

SiteList List(const std::vector<std::string>& sites, const CategoryTree& tree = BuiltInCategoryTree()) {
    SiteList l;
    for (const auto& s : sites) l.Sites.Add(Site(s));
    l.Tree = tree;
    return l;
}

std::vector<std::string> Lines(const TLightStrings& t) {
    std::vector<std::string> out;
    for (int i = 0; i < t.Count(); ++i) out.push_back(t.Get(i));
    return out;
}

std::vector<std::string> Sites(const std::vector<std::string>& shortForms) {
    std::vector<std::string> out;
    for (const auto& s : shortForms) out.push_back(Site(s));
    return out;
}

TreeNode Node(const std::string& text, std::vector<TreeNode> children = {}) {
    TreeNode n;
    n.Text = text;
    n.ImageIndex = 5;
    n.Children = std::move(children);
    return n;
}

// The root with 未分類 (as the program's own tree; the texts need not be Shift_JIS here) and more.
CategoryTree Tree(std::vector<TreeNode> categories) {
    std::vector<TreeNode> children{Node("uncat")};
    for (auto& c : categories) children.push_back(std::move(c));
    return {Node("all", std::move(children))};
}

std::string Shape(const CategoryTree& tree) {
    std::string out;
    ForEachNode(tree, [&](const TreeNode& n, int depth) { out += std::string(depth, '-') + n.Text + " "; });
    return out;
}

}  // namespace

TEST(SiteMerge, SitesAddedDeletedAndChangedOnEitherOrBothSides) {
    const std::string A = "A|http://a/|2026/12/01 10:00:00|||";
    const std::string B = "B|http://b/|2026/12/01 10:00:00|||";
    struct Row {
        const char* name;
        std::vector<std::string> base, mine, theirs, expected;
        int added, deleted, conflicts;
    };
    const std::vector<Row> rows = {
        {"nothing changed", {A, B}, {A, B}, {A, B}, {A, B}, 0, 0, 0},
        {"added there, placed after the line it follows",
         {A, B}, {A, B}, {A, "C|http://c/", B}, {A, "C|http://c/", B}, 1, 0, 0},
        {"added on both sides", {A}, {A, "M|http://m/"}, {"T|http://t/", A}, {"T|http://t/", A, "M|http://m/"}, 1, 0, 0},
        {"the same site added on both sides is one line",
         {A}, {A, "C|http://c/|2026/12/02 10:00:00"}, {A, "C|http://c/|2026/12/03 10:00:00"},
         {A, "C|http://c/|2026/12/03 10:00:00"}, 0, 0, 0},
        {"deleted there, untouched here", {A, B}, {A, B}, {A}, {A}, 0, 1, 0},
        {"deleted here, untouched there", {A, B}, {A}, {A, B}, {A}, 0, 0, 0},
        {"deleted there, renamed here: stays", {A, B}, {A, "B2|http://b/|2026/12/01 10:00:00"}, {A},
         {A, "B2|http://b/|2026/12/01 10:00:00"}, 0, 0, 0},
        {"deleted here, visited there: comes back", {A, B}, {A}, {A, "B|http://b/|2026/12/05 10:00:00"},
         {A, "B|http://b/|2026/12/05 10:00:00"}, 0, 0, 0},
        {"deleted there, only checked here: goes", {A, B},
         {A, "B|http://b/|2026/12/01 10:00:00|2026/12/04 00:00:00|2026/12/04 00:00:00"}, {A}, {A}, 0, 1, 0},
        {"deleted here, only checked there: stays deleted", {A, B}, {A},
         {A, "B|http://b/|2026/12/01 10:00:00|2026/12/04 00:00:00|2026/12/04 00:00:00"}, {A}, 0, 0, 0},
        {"different fields changed on each side",
         {A}, {"A2|http://a/|2026/12/01 10:00:00|||"}, {"A|http://a/|2026/12/01 10:00:00|||cat"},
         {"A2|http://a/|2026/12/01 10:00:00|||cat"}, 0, 0, 0},
        {"the same field changed on both sides: mine, one conflict",
         {A}, {"Mine|http://a/|2026/12/01 10:00:00"}, {"Theirs|http://a/|2026/12/01 10:00:00"},
         {"Mine|http://a/|2026/12/01 10:00:00"}, 0, 0, 1},
        {"dates changed on both sides: the later of each",
         {A}, {"A|http://a/|2026/12/05 10:00:00|2026/12/02 00:00:00|2026/12/09 00:00:00"},
         {"A|http://a/|2026/12/04 10:00:00|2026/12/03 00:00:00|2026/12/08 00:00:00"},
         {"A|http://a/|2026/12/05 10:00:00|2026/12/03 00:00:00|2026/12/09 00:00:00"}, 0, 0, 0},
        {"a date that does not read loses to one that does",
         {"A|http://a/|2026/12/01 10:00:00|x|"}, {"A|http://a/|2026/12/01 10:00:00|garbage|"},
         {"A|http://a/|2026/12/01 10:00:00|2026/12/03 00:00:00|"},
         {"A|http://a/|2026/12/01 10:00:00|2026/12/03 00:00:00|"}, 0, 0, 0},
        {"neither date reads: mine", {"A|http://a/||x|"}, {"A|http://a/||mine|"}, {"A|http://a/||theirs|"},
         {"A|http://a/||mine|"}, 0, 0, 0},
        {"duplicate URLs match by occurrence", {A, "A2|http://a/"}, {A, "A2|http://a/", "A3|http://a/"},
         {A, "A2x|http://a/"}, {A, "A2x|http://a/", "A3|http://a/"}, 0, 0, 0},
        {"blank lines are neither dropped nor doubled", {A, "", B}, {A, "", B, "M|http://m/"},
         {A, "", B, "", "C|http://c/"}, {A, "", B, "", "C|http://c/", "M|http://m/"}, 1, 0, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const SiteListMerge m = MergeSiteLists(List(r.base), List(r.mine), List(r.theirs));
        EXPECT_EQ(Lines(m.Merged.Sites), Sites(r.expected));
        EXPECT_EQ(m.Added, r.added);
        EXPECT_EQ(m.Deleted, r.deleted);
        EXPECT_EQ(m.Conflicts, r.conflicts);
    }
}

TEST(SiteMerge, UnchangedLinesStayByteForByte) {
    // Lines that the record reader would rewrite (more than ten fields) survive when one side kept them.
    SiteList base = List({});
    base.Sites.Add("odd\thttp://o/\t\t\t\t\t\t\t\t\textra");
    SiteList theirs = base;
    theirs.Sites.Add(Site("N|http://n/"));
    const SiteListMerge m = MergeSiteLists(base, base, theirs);
    EXPECT_EQ(Lines(m.Merged.Sites), (std::vector<std::string>{base.Sites.Get(0), Site("N|http://n/")}));
}

TEST(SiteMerge, CategoriesAddedDeletedAndMoved) {
    struct Row {
        const char* name;
        CategoryTree base, mine, theirs;
        std::string expected;
        std::vector<std::string> siteCategories;  // of one site in category X, after the merge
    };
    const std::vector<Row> rows = {
        {"added there, after this program's children", Tree({Node("X")}), Tree({Node("X"), Node("M")}),
         Tree({Node("T"), Node("X")}), "all -uncat -X -M -T ", {"X"}},
        {"added there under a parent", Tree({Node("X")}), Tree({Node("X")}), Tree({Node("X", {Node("Y")})}),
         "all -uncat -X --Y ", {"X"}},
        {"deleted there, unchanged here: gone, its sites uncategorised", Tree({Node("X"), Node("Z")}),
         Tree({Node("X"), Node("Z")}), Tree({Node("Z")}), "all -uncat -Z ", {""}},
        {"deleted there, a child added here: stays", Tree({Node("X")}), Tree({Node("X", {Node("C")})}),
         Tree({}), "all -uncat -X --C ", {"X"}},
        {"deleted here, a child added there: the parent comes back", Tree({Node("X")}), Tree({}),
         Tree({Node("X", {Node("C")})}), "all -uncat -X --C ", {"X"}},
        {"moved there: moved, its sites kept", Tree({Node("X"), Node("Z")}), Tree({Node("X"), Node("Z")}),
         Tree({Node("Z", {Node("X")})}), "all -uncat -Z --X ", {"X"}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        SiteList base = List({"S|http://s/||||X"}, r.base);
        SiteList mine = List({"S|http://s/||||X"}, r.mine);
        SiteList theirs = List({"S|http://s/||||X"}, r.theirs);
        const SiteListMerge m = MergeSiteLists(base, mine, theirs);
        EXPECT_EQ(Shape(m.Merged.Tree), r.expected);
        EXPECT_EQ(ReadSiteRecord(m.Merged.Sites.Get(0)).Category, r.siteCategories[0]);
    }
}

// ---- the file: saves through the merge ----

#include <filesystem>

#include "store/site_data.h"
#include "store/site_file_sync.h"
#include "test_support.h"

using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

TEST(SiteFileSync, SavesMergesAndKeepsADamagedCopyApart) {
    TempDir dir;
    const std::string path = dir.file("RssSites.dat");
    const SiteList start = List({"A|http://a/"});
    WriteFileBytes(path, SiteDataBytes(start.Sites, start.Tree));
    SiteFileSync sync(path);
    sync.SetBase(ReadFileBytes(path));

    // Unchanged on disk: a plain save, and our own save is not taken for a change.
    SiteList mine = List({"A|http://a/", "M|http://m/"});
    EXPECT_EQ(sync.Sync(mine.Sites, mine.Tree, true).outcome, SiteFileSyncResult::Saved);
    EXPECT_FALSE(sync.ChangedOnDisk());
    EXPECT_EQ(sync.Sync(mine.Sites, mine.Tree, false).outcome, SiteFileSyncResult::Unchanged);

    // Another copy renamed over it: merged, written, and both sides' sites are in the file.
    const SiteList other = List({"A|http://a/", "M|http://m/", "T|http://t/"});
    WriteFileBytes(path + ".part", SiteDataBytes(other.Sites, other.Tree));
    std::filesystem::rename(path + ".part", path);
    EXPECT_TRUE(sync.ChangedOnDisk());
    mine = List({"A|http://a/", "M|http://m/", "N|http://n/"});
    SiteFileSyncResult r = sync.Sync(mine.Sites, mine.Tree, true);
    ASSERT_EQ(r.outcome, SiteFileSyncResult::Merged);
    EXPECT_EQ(r.Merge.Added, 1);
    SiteList onDisk;
    onDisk.Tree = BuiltInCategoryTree();
    ParseSiteData(ReadFileBytes(path), onDisk.Sites, onDisk.Tree);
    EXPECT_EQ(Lines(onDisk.Sites), Sites({"A|http://a/", "M|http://m/", "T|http://t/", "N|http://n/"}));
    EXPECT_FALSE(sync.ChangedOnDisk());

    // A damaged copy (cut off inside the site list): never written over; ours goes beside it, to
    // one copy however often it is saved.
    const std::string whole = ReadFileBytes(path);
    const std::string torn = whole.substr(0, whole.size() - 20);
    WriteFileBytes(path, torn);
    r = sync.Sync(mine.Sites, mine.Tree, true);
    ASSERT_EQ(r.outcome, SiteFileSyncResult::Conflict);
    EXPECT_NE(r.ConflictPath.find("RssSites.dat.conflict-"), std::string::npos);
    EXPECT_EQ(ReadFileBytes(path), torn);
    EXPECT_EQ(ReadFileBytes(r.ConflictPath), SiteDataBytes(mine.Sites, mine.Tree));
    EXPECT_EQ(sync.Sync(mine.Sites, mine.Tree, false).outcome, SiteFileSyncResult::Unchanged);
    EXPECT_EQ(sync.Sync(mine.Sites, mine.Tree, true).ConflictPath, r.ConflictPath);
}
