#pragma once
// The category tree in the form in which it is read and written; the window's tree widget is the
// live tree.
#include <string>
#include <string_view>
#include <vector>

namespace hanabira {

struct TreeNode {
    std::string Text;
    int ImageIndex = 0, SelectedIndex = 0, StateIndex = -1;
    std::vector<TreeNode> Children;
};
using CategoryTree = std::vector<TreeNode>;  // the top-level nodes
std::string MWSaveTreeToStrings(const CategoryTree& tree);
// Throws std::runtime_error("I/O Error:MWLoadTreeFromStrings") on a bad level; nodes already
// added stay.
void MWLoadTreeFromStrings(CategoryTree& tree, std::string_view text);

// The tree before any data file is loaded: the root with the single child for uncategorised sites.
CategoryTree BuiltInCategoryTree();
// Calls f(node, depth) for every node in tree order (depth first, a node before its children).
template <class F>
void ForEachNode(const CategoryTree& tree, F&& f, int depth = 0) {
    for (const TreeNode& n : tree) {
        f(n, depth);
        ForEachNode(n.Children, f, depth + 1);
    }
}

}  // namespace hanabira
