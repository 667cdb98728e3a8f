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
// Nodes beyond the end of the line keep their images.
void ApplyImages(CategoryTree& nodes, std::string& attributes) {
    for (TreeNode& n : nodes) {
        if (attributes.empty()) return;
        n.ImageIndex = ImageItem(CutToken(attributes, " "));
        n.SelectedIndex = ImageItem(CutToken(attributes, " "));
        n.StateIndex = ImageItem(CutToken(attributes, " "));
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
    // path[d] is the index, among its siblings, of the last node added at depth d along the
    // current branch; the previous node is at depth path.size() - 1.
    std::vector<size_t> path;
    auto childrenAt = [&](size_t depth) -> CategoryTree& {
        CategoryTree* level = &tree;
        for (size_t d = 0; d < depth; ++d) level = &(*level)[path[d]].Children;
        return *level;
    };
    bool broken = false;
    for (int i = 0; i < lines.Count(); ++i) {
        const std::string& line = lines.Get(i);
        size_t indent = 0;
        while (indent < line.size() && (line[indent] == '\t' || line[indent] == ' ')) ++indent;
        // The first node is a top-level node whatever its indentation.
        const size_t level = path.empty() ? 0 : indent;
        if (level > path.size()) {
            broken = true;  // deeper than a child of the previous node
            break;
        }
        // A sibling, a child, or a sibling of an ancestor: in each case a node at depth `level`
        // under the last node of depth level - 1.
        path.resize(level);
        CategoryTree& siblings = childrenAt(level);
        TreeNode node;
        node.Text = line.substr(indent);
        siblings.push_back(std::move(node));
        path.push_back(siblings.size() - 1);
    }
    // The nodes read before a fault stay, and get their images like the rest would have.
    ApplyImages(tree, attributes);
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
