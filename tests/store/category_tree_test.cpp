#include "store/category_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "test_support.h"

using namespace hanabira;
using testing_support::S;

namespace {

// One entry per node in tree order: depth, text and the three image indexes.
std::vector<std::string> Outline(const CategoryTree& tree) {
    std::vector<std::string> out;
    ForEachNode(tree, [&](const TreeNode& n, int depth) {
        out.push_back(std::to_string(depth) + " " + n.Text + " " + std::to_string(n.ImageIndex) + "/" +
                      std::to_string(n.SelectedIndex) + "/" + std::to_string(n.StateIndex));
    });
    return out;
}

TreeNode Node(const std::string& text, int image, int selected, int state, std::vector<TreeNode> children = {}) {
    return TreeNode{text, image, selected, state, std::move(children)};
}

}  // namespace

TEST(CategoryTree, SavedText) {
    EXPECT_EQ(MWSaveTreeToStrings(BuiltInCategoryTree()), "6 7 -1 5 0 -1 \r\n" + S("すべてのサイト\r\n\t未分類\r\n"));
    EXPECT_EQ(MWSaveTreeToStrings({}), "\r\n");
    const CategoryTree tree = {Node("R", 1, 2, 3, {Node("A", 10, 11, -1, {Node("B", 0, 0, -1)})}), Node("T", -1, -1, -1)};
    EXPECT_EQ(MWSaveTreeToStrings(tree), "1 2 3 10 11 -1 0 0 -1 -1 -1 -1 \r\nR\r\n\tA\r\n\t\tB\r\nT\r\n");
}

TEST(CategoryTree, SaveThenLoadGivesTheSameTree) {
    const CategoryTree tree = {
        Node(S("すべてのサイト"), 6, 7, -1,
             {Node(S("未分類"), 5, 0, -1),
              Node(S("趣味"), 1, 2, -1,
                   {Node(S("写真"), 3, 3, 4, {Node(S("風景"), 12, 13, 14, {Node("deep", 0, 0, -1)})}),
                    Node(S("音楽"), 0, 0, -1)}),
              Node("News", 100, 200, -1)}),
        Node("Second root", 8, 9, -1, {Node("child", 0, 1, 2)}),
    };
    CategoryTree loaded = BuiltInCategoryTree();
    MWLoadTreeFromStrings(loaded, MWSaveTreeToStrings(tree));
    EXPECT_EQ(Outline(loaded), Outline(tree));
    EXPECT_EQ(MWSaveTreeToStrings(loaded), MWSaveTreeToStrings(tree));
}

TEST(CategoryTree, LoadRules) {
    struct Case {
        const char* what;
        std::string text;
        std::vector<std::string> outline;
        bool throws = false;
    };
    const std::vector<Case> cases = {
        {"spaces indent like TABs", "1 1 1 2 2 2 3 3 3 \r\nR\r\n A\r\n  B\r\n",
         {"0 R 1/1/1", "1 A 2/2/2", "2 B 3/3/3"}},
        {"TABs and spaces each count one level", "\r\nR\r\n\tA\r\n \tB\r\n\t C\r\n",
         {"0 R 0/0/-1", "1 A 0/0/-1", "2 B 0/0/-1", "2 C 0/0/-1"}},
        {"the first node is top level whatever its indentation", "\r\n\t\tR\r\n\tA\r\n",
         {"0 R 0/0/-1", "1 A 0/0/-1"}},
        {"LF-only lines", "6 7 -1 5 0 -1 \nR\n\tU\n", {"0 R 6/7/-1", "1 U 5/0/-1"}},
        {"climbing several levels", "\r\nR\r\n\tA\r\n\t\tB\r\n\t\t\tC\r\n\tD\r\nE\r\n\tF\r\n",
         {"0 R 0/0/-1", "1 A 0/0/-1", "2 B 0/0/-1", "3 C 0/0/-1", "1 D 0/0/-1", "0 E 0/0/-1", "1 F 0/0/-1"}},
        {"short attribute line: later nodes keep new-node images", "6 7 -1 \r\nR\r\n\tA\r\n\tB\r\n",
         {"0 R 6/7/-1", "1 A 0/0/-1", "1 B 0/0/-1"}},
        {"a triple cut short", "6 7\r\nR\r\n\tA\r\n", {"0 R 6/7/-1", "1 A 0/0/-1"}},
        {"non-numbers and empty items give -1", "x 7 -1 5  3 1.5 +4 -0 \r\nR\r\n\tA\r\n\tB\r\n",
         {"0 R -1/7/-1", "1 A 5/-1/3", "1 B -1/4/0"}},
        {"an attribute line with no nodes empties the tree", "6 7 -1 \r\n", {}},
        {"blank node lines are nodes", "\r\nR\r\n\r\n\tA\r\n", {"0 R 0/0/-1", "0  0/0/-1", "1 A 0/0/-1"}},
        {"a jump of two levels stops the load", "1 1 1 2 2 2 3 3 3 \r\nR\r\n\tA\r\n\t\t\tX\r\n\tB\r\n",
         {"0 R 1/1/1", "1 A 2/2/2"}, true},
        {"a jump right after the first node", "\r\nR\r\n\t\tA\r\n", {"0 R 0/0/-1"}, true},
    };
    for (const auto& c : cases) {
        CategoryTree tree = BuiltInCategoryTree();
        try {
            MWLoadTreeFromStrings(tree, c.text);
            EXPECT_FALSE(c.throws) << c.what << ": no error";
        } catch (const std::runtime_error& e) {
            EXPECT_TRUE(c.throws) << c.what << ": " << e.what();
            EXPECT_STREQ(e.what(), "I/O Error:MWLoadTreeFromStrings");
        }
        EXPECT_EQ(Outline(tree), c.outline) << c.what;
    }
}

TEST(CategoryTree, EmptyTextLeavesTheTree) {
    CategoryTree tree = BuiltInCategoryTree();
    MWLoadTreeFromStrings(tree, "");
    EXPECT_EQ(Outline(tree), Outline(BuiltInCategoryTree()));
    EXPECT_EQ(Outline(tree), (std::vector<std::string>{"0 " + S("すべてのサイト") + " 6/7/-1", "1 " + S("未分類") + " 5/0/-1"}));
}

// Large trees of every shape load back as they were saved: wide levels whose nodes move as
// siblings are added, deep chains, and climbs of many levels at once.
TEST(CategoryTree, LargeTreesOfAnyShapeRoundTrip) {
    struct Case {
        const char* name;
        int nodes;
        int maxDepth;
        unsigned seed;
    };
    for (const Case& c : {Case{"wide", 80000, 2, 1}, Case{"deep", 3000, 3000, 2}, Case{"mixed", 20000, 40, 3}}) {
        SCOPED_TRACE(c.name);
        // Nodes in tree order, each at a depth of at most one more than the node before it.
        std::string text, attributes;
        std::vector<std::string> outline;
        unsigned state = c.seed;
        int depth = 0;
        for (int i = 0; i < c.nodes; ++i) {
            state = state * 1103515245u + 12345u;
            if (i > 0) depth = static_cast<int>((state >> 8) % static_cast<unsigned>(std::min(depth + 2, c.maxDepth + 1)));
            if (c.maxDepth == c.nodes) depth = i;  // a single chain
            const std::string name = "n" + std::to_string(i);
            text += std::string(static_cast<size_t>(depth), '\t') + name + "\r\n";
            attributes += std::to_string(i % 50) + " " + std::to_string(i % 7) + " -1 ";
            outline.push_back(std::to_string(depth) + " " + name + " " + std::to_string(i % 50) + "/" +
                              std::to_string(i % 7) + "/-1");
        }
        CategoryTree tree;
        MWLoadTreeFromStrings(tree, attributes + "\r\n" + text);
        EXPECT_EQ(Outline(tree), outline);
        EXPECT_EQ(MWSaveTreeToStrings(tree), attributes + "\r\n" + text);
    }
}
