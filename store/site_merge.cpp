#include "store/site_merge.h"

#include <array>
#include <map>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

#include "check/dates.h"
#include "store/site_record.h"
#include "store/site_table.h"

namespace hanabira {

namespace {

// ---- sites ----

// Fields a user sets (registration, edit, visit). Registered is counted with them: it never
// changes after the registration, so a change means a re-registered site.
constexpr std::array<SiteField, 8> kUserFields = {
    &TMWBlogListRec::SiteTitle, &TMWBlogListRec::SiteURL,   &TMWBlogListRec::LastVisit,
    &TMWBlogListRec::Registered, &TMWBlogListRec::Category, &TMWBlogListRec::RSSURL,
    &TMWBlogListRec::HeadCheck, &TMWBlogListRec::ManagerName};
// Fields where a change on both sides takes the later date instead of counting as a conflict.
constexpr std::array<SiteField, 3> kDateFields = {&TMWBlogListRec::LastVisit, &TMWBlogListRec::HeadTime,
                                                  &TMWBlogListRec::LastUpdate};

bool IsDateField(SiteField f) {
    for (SiteField d : kDateFields)
        if (d == f) return true;
    return false;
}

bool UserFieldsEqual(const std::string& a, const std::string& b) {
    if (a == b) return true;
    const TMWBlogListRec ra = ReadSiteRecord(a), rb = ReadSiteRecord(b);
    for (SiteField f : kUserFields)
        if (ra.*f != rb.*f) return false;
    return true;
}

// The later of two date texts; the one that reads when only one does; mine when neither does.
const std::string& LaterDate(const std::string& mine, const std::string& theirs) {
    const auto m = ReadDateText(mine), t = ReadDateText(theirs);
    if (m && t) return *t > *m ? theirs : mine;
    return !m && t ? theirs : mine;
}

// SiteField by field: a side's change wins over an unchanged field; both changed keeps mine (dates:
// the later). base is null for a site both sides added.
std::string MergeLine(const std::string* base, const std::string& mine, const std::string& theirs,
                      bool& conflict) {
    if (mine == theirs) return mine;
    if (base && *base == mine) return theirs;
    if (base && *base == theirs) return mine;
    const TMWBlogListRec b = base ? ReadSiteRecord(*base) : TMWBlogListRec{};
    const TMWBlogListRec m = ReadSiteRecord(mine), t = ReadSiteRecord(theirs);
    TMWBlogListRec out = m;
    for (SiteField f : kSiteFields) {
        if (m.*f == t.*f) continue;
        if (base && b.*f == m.*f) {
            out.*f = t.*f;
        } else if (base && b.*f == t.*f) {
            out.*f = m.*f;
        } else if (IsDateField(f)) {
            out.*f = LaterDate(m.*f, t.*f);
        } else {
            conflict = true;
        }
    }
    return WriteSiteRecord(out);
}

// A line's key: its URL and how many lines with that URL stand before it.
using Key = std::string;

std::vector<Key> KeysOf(const TLightStrings& sites) {
    std::vector<Key> keys;
    keys.reserve(sites.Count());
    std::unordered_map<std::string_view, int> seen;
    seen.reserve(sites.Count());
    for (int i = 0; i < sites.Count(); ++i) {
        const std::string_view url = SiteURLOfLine(sites.Get(i));
        const int n = seen[url]++;
        keys.push_back(std::string(url) + '\n' + std::to_string(n));  // no URL holds a line break
    }
    return keys;
}

using KeyIndex = std::unordered_map<std::string_view, int>;

KeyIndex IndexOf(const std::vector<Key>& keys) {
    KeyIndex index;
    index.reserve(keys.size());
    for (int i = 0; i < static_cast<int>(keys.size()); ++i) index.emplace(keys[i], i);
    return index;
}

void MergeSites(const TLightStrings& base, const TLightStrings& mine, const TLightStrings& theirs,
                SiteListMerge& result) {
    const std::vector<Key> baseKeys = KeysOf(base), mineKeys = KeysOf(mine), theirKeys = KeysOf(theirs);
    const KeyIndex inBase = IndexOf(baseKeys), inMine = IndexOf(mineKeys), inTheirs = IndexOf(theirKeys);
    auto find = [](const KeyIndex& m, const Key& k) {
        const auto it = m.find(k);
        return it == m.end() ? -1 : it->second;
    };

    // This program's lines in their order, each merged with the other side or dropped.
    std::vector<std::string> kept(mine.Count());
    std::vector<bool> keep(mine.Count(), true);
    for (int i = 0; i < mine.Count(); ++i) {
        const int b = find(inBase, mineKeys[i]), t = find(inTheirs, mineKeys[i]);
        const std::string* baseLine = b >= 0 ? &base.Get(b) : nullptr;
        if (t >= 0) {
            bool conflict = false;
            kept[i] = MergeLine(baseLine, mine.Get(i), theirs.Get(t), conflict);
            if (conflict) ++result.Conflicts;
        } else if (baseLine && UserFieldsEqual(*baseLine, mine.Get(i))) {
            keep[i] = false;  // deleted there, untouched here
            if (!mine.Get(i).empty()) ++result.Deleted;
        } else {
            kept[i] = mine.Get(i);
        }
    }

    // The other side's lines this program does not have, each placed after the line it follows there.
    std::map<int, std::vector<int>> after;  // mine index (-1: the start) -> theirs lines, in order
    std::map<int, std::vector<int>> afterTheirs;  // theirs index -> theirs lines that follow it
    int anchorMine = -1, anchorTheirs = -1;
    for (int j = 0; j < theirs.Count(); ++j) {
        const int m = find(inMine, theirKeys[j]);
        if (m >= 0) {
            if (keep[m]) anchorMine = m, anchorTheirs = -1;
            continue;
        }
        const int b = find(inBase, theirKeys[j]);
        if (b >= 0 && UserFieldsEqual(base.Get(b), theirs.Get(j))) continue;  // deleted here
        if (b < 0 && !theirs.Get(j).empty()) ++result.Added;
        (anchorTheirs >= 0 ? afterTheirs[anchorTheirs] : after[anchorMine]).push_back(j);
        anchorTheirs = j;
    }

    TLightStrings& out = result.Merged.Sites;
    out.Clear();
    auto emitTheirs = [&](auto&& self, int j) -> void {
        out.Add(theirs.Get(j));
        if (const auto it = afterTheirs.find(j); it != afterTheirs.end())
            for (int k : it->second) self(self, k);
    };
    auto emitAfter = [&](int m) {
        if (const auto it = after.find(m); it != after.end())
            for (int j : it->second) emitTheirs(emitTheirs, j);
    };
    emitAfter(-1);
    for (int i = 0; i < mine.Count(); ++i) {
        if (keep[i]) out.Add(std::move(kept[i]));
        emitAfter(i);
    }
}

// ---- categories ----

using Path = std::string;  // node texts from the top, joined by TAB (never in a category name)

void CollectPaths(const CategoryTree& tree, const Path& prefix, std::map<Path, const TreeNode*>& out,
                  std::vector<Path>* order = nullptr) {
    for (const TreeNode& n : tree) {
        const Path p = prefix.empty() ? n.Text : prefix + '\t' + n.Text;
        if (out.emplace(p, &n).second && order) order->push_back(p);
        CollectPaths(n.Children, p, out, order);
    }
}

std::set<Path> SubtreePaths(const TreeNode& node) {
    std::map<Path, const TreeNode*> paths;
    CollectPaths(node.Children, "", paths);
    std::set<Path> out;
    for (const auto& [p, n] : paths) out.insert(p);
    return out;
}

Path ParentOf(const Path& p) {
    const size_t tab = p.rfind('\t');
    return tab == Path::npos ? Path() : p.substr(0, tab);
}

std::string NameOf(const Path& p) {
    const size_t tab = p.rfind('\t');
    return tab == Path::npos ? p : p.substr(tab + 1);
}

// The children list under which a path's node stands, or null when its parent is not in the tree.
CategoryTree* ChildrenAt(CategoryTree& tree, const Path& parent) {
    if (parent.empty()) return &tree;
    CategoryTree* level = &tree;
    size_t start = 0;
    while (true) {
        const size_t tab = parent.find('\t', start);
        const std::string name = parent.substr(start, tab == Path::npos ? Path::npos : tab - start);
        TreeNode* found = nullptr;
        for (TreeNode& n : *level)
            if (n.Text == name) {
                found = &n;
                break;
            }
        if (!found) return nullptr;
        level = &found->Children;
        if (tab == Path::npos) return level;
        start = tab + 1;
    }
}

void RemovePaths(CategoryTree& tree, const Path& prefix, const std::set<Path>& remove) {
    for (auto it = tree.begin(); it != tree.end();) {
        const Path p = prefix.empty() ? it->Text : prefix + '\t' + it->Text;
        if (remove.count(p)) {
            it = tree.erase(it);
        } else {
            RemovePaths(it->Children, p, remove);
            ++it;
        }
    }
}

bool HasName(const CategoryTree& tree, const std::string& name) {
    bool found = false;
    ForEachNode(tree, [&](const TreeNode& n, int) { found = found || n.Text == name; });
    return found;
}

// Adds the node at a path of the other side's tree, with any missing parent (a parent this program
// deleted while the other side put something new under it). Category names are unique in the tree:
// a name that already stands elsewhere is not added twice.
void AddPath(CategoryTree& tree, const Path& p, const std::map<Path, const TreeNode*>& theirs) {
    if (HasName(tree, NameOf(p))) return;
    CategoryTree* parent = ChildrenAt(tree, ParentOf(p));
    if (!parent) {
        AddPath(tree, ParentOf(p), theirs);
        parent = ChildrenAt(tree, ParentOf(p));
        if (!parent) return;
    }
    const TreeNode& source = *theirs.at(p);
    TreeNode node;
    node.Text = source.Text;
    node.ImageIndex = source.ImageIndex;
    node.SelectedIndex = source.SelectedIndex;
    node.StateIndex = source.StateIndex;
    parent->push_back(std::move(node));
}

void MergeTrees(const CategoryTree& base, const CategoryTree& mine, const CategoryTree& theirs,
                SiteListMerge& result) {
    std::map<Path, const TreeNode*> inBase, inMine, inTheirs;
    std::vector<Path> baseOrder, theirOrder;
    CollectPaths(base, "", inBase, &baseOrder);
    CollectPaths(mine, "", inMine);
    CollectPaths(theirs, "", inTheirs, &theirOrder);

    CategoryTree& merged = result.Merged.Tree;
    merged = mine;

    // Deleted there and unchanged here (nothing added or removed below it): deleted.
    std::set<Path> remove;
    for (const Path& p : baseOrder) {
        if (inTheirs.count(p) || !inMine.count(p)) continue;
        if (remove.count(ParentOf(p))) {
            remove.insert(p);
            continue;
        }
        if (SubtreePaths(*inBase.at(p)) == SubtreePaths(*inMine.at(p))) remove.insert(p);
    }
    RemovePaths(merged, "", remove);

    // Added there: under its parent, after this program's children.
    for (const Path& p : theirOrder)
        if (!inBase.count(p) && !inMine.count(p)) AddPath(merged, p, inTheirs);

    // The sites of a deleted category become uncategorised, as the delete command makes them; a
    // category that only moved keeps its sites.
    for (const Path& p : remove) {
        if (remove.count(ParentOf(p))) continue;
        const std::string name = NameOf(p);
        if (!HasName(merged, name)) ClearCategory(result.Merged.Sites, name);
    }
}

}  // namespace

SiteListMerge MergeSiteLists(const SiteList& base, const SiteList& mine, const SiteList& theirs) {
    SiteListMerge result;
    MergeSites(base.Sites, mine.Sites, theirs.Sites, result);
    MergeTrees(base.Tree, mine.Tree, theirs.Tree, result);
    return result;
}

}  // namespace hanabira
