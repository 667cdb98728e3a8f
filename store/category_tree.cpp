#include "store/category_tree.h"

#include <charconv>
#include <stdexcept>

#include "store/light_strings.h"
#include "support/codepage.h"
#include "support/sjis_text.h"

namespace hanabira {

namespace {

// An attribute item as an image index: a decimal integer, anything else -1.
int ImageItem(std::string_view item) {
    if (!item.empty() && item.front() == '+') item.remove_prefix(1);
    int value = -1;
    const auto [end, ec] = std::from_chars(item.data(), item.data() + item.size(), value);
    if (item.empty() || ec != std::errc() || end != item.data() + item.size()) return -1;
    return value;
}

// Takes the images of the nodes in tree order from the attribute line, three items per node.
// Nodes beyond the end of the line keep their images. The line is walked through a view: cutting
// each item off the front of a string would copy the rest of the line every time, which makes a
// large tree load in time growing with the square of its size.
void ApplyImages(CategoryTree& nodes, std::string_view& attributes) {
    for (TreeNode& n : nodes) {
        if (attributes.empty()) return;
        n.ImageIndex = ImageItem(CutTokenView(attributes, " "));
        n.SelectedIndex = ImageItem(CutTokenView(attributes, " "));
        n.StateIndex = ImageItem(CutTokenView(attributes, " "));
        ApplyImages(n.Children, attributes);
    }
}

}  // namespace

std::string MWSaveTreeToStrings(const CategoryTree& tree) {
    std::string attributes, lines;
    ForEachNode(tree, [&](const TreeNode& n, int depth) {
        for (int v : {n.ImageIndex, n.SelectedIndex, n.StateIndex}) attributes.append(std::to_string(v)).push_back(' ');
        lines.append(static_cast<size_t>(depth), '\t').append(n.Text).append("\r\n");
    });
    return attributes + "\r\n" + lines;
}

void MWLoadTreeFromStrings(CategoryTree& tree, std::string_view text) {
    if (text.empty()) return;
    TLightStrings lines;
    lines.SetText(text);
    std::string attributes = lines.Get(0);
    lines.Delete(0);

    tree.clear();
    // levels[d] is where a node of depth d goes: the top level, then the children of the last node
    // added at each depth along the current branch. The previous node is at depth levels.size() - 2.
    // Kept as pointers so that every line costs the same, however deep the tree.
    std::vector<CategoryTree*> levels{&tree};
    bool broken = false;
    for (int i = 0; i < lines.Count(); ++i) {
        const std::string& line = lines.Get(i);
        size_t indent = 0;
        while (indent < line.size() && (line[indent] == '\t' || line[indent] == ' ')) ++indent;
        // The first node is a top-level node whatever its indentation.
        const size_t level = tree.empty() ? 0 : indent;
        if (level >= levels.size()) {
            broken = true;  // deeper than a child of the previous node
            break;
        }
        // A sibling, a child, or a sibling of an ancestor: in each case a node at depth `level`
        // under the last node of depth level - 1. Adding it may move its siblings, so the deeper
        // levels are dropped first and its own children's place is taken afterwards.
        levels.resize(level + 1);
        CategoryTree& siblings = *levels[level];
        TreeNode node;
        node.Text = line.substr(indent);
        siblings.push_back(std::move(node));
        levels.push_back(&siblings.back().Children);
    }
    // The nodes read before a fault stay, and get their images like the rest would have.
    std::string_view attributeView = attributes;
    ApplyImages(tree, attributeView);
    if (broken) throw std::runtime_error("I/O Error:MWLoadTreeFromStrings");
}

CategoryTree BuiltInCategoryTree() {
    TreeNode uncategorized;
    uncategorized.Text = SjisLiteral("未分類");
    uncategorized.ImageIndex = 5;
    uncategorized.SelectedIndex = 0;
    uncategorized.StateIndex = -1;
    TreeNode root;
    root.Text = SjisLiteral("すべてのサイト");
    root.ImageIndex = 6;
    root.SelectedIndex = 7;
    root.StateIndex = -1;
    root.Children.push_back(std::move(uncategorized));
    return {root};
}

}  // namespace hanabira
