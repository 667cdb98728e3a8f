#include "store/site_table.h"

#include <algorithm>
#include <array>

#include "support/codepage.h"

namespace hanabira {

namespace {

bool TakesCategory(std::string_view siteCategory, std::string_view category) {
    return category == AllSitesCategory() || siteCategory == category ||
           (siteCategory.empty() && category == UncategorizedCategory());
}

}  // namespace

const std::string& AllSitesCategory() {
    static const std::string& name = SjisLiteral("すべてのサイト");
    return name;
}
const std::string& UncategorizedCategory() {
    static const std::string& name = SjisLiteral("未分類");
    return name;
}
bool IsSystemCategory(std::string_view name) { return name == AllSitesCategory() || name == UncategorizedCategory(); }

int IndexOfURL(const TLightStrings& table, std::string_view url) {
    for (int i = 0; i < table.Count(); ++i) {
        if (SiteURLOfLine(table.Get(i)) == url) return i;
    }
    return -1;
}

bool InCategory(const TMWBlogListRec& rec, std::string_view category) { return TakesCategory(rec.Category, category); }

namespace {

// The view holds the rewritten line; a line of exactly ten fields rewrites to itself, so only short
// or long lines need the round trip.
std::string ViewLine(const std::string& line) {
    if (static_cast<size_t>(std::count(line.begin(), line.end(), '\t')) == kSiteFields.size() - 1)
        return line;
    return WriteSiteRecord(ReadSiteRecord(line));
}

void Filter(const TLightStrings& siteTable, std::string_view category, TLightStrings& view,
            std::vector<int>* sourceRows) {
    view.Clear();
    if (sourceRows) sourceRows->clear();
    for (int i = 0; i < siteTable.Count(); ++i) {
        const std::string& line = siteTable.Get(i);
        if (!TakesCategory(FieldOfLine(line, &TMWBlogListRec::Category), category)) continue;
        view.Add(ViewLine(line));
        if (sourceRows) sourceRows->push_back(i);
    }
}

}  // namespace

void FilterCategory(const TLightStrings& siteTable, std::string_view category, TLightStrings& view) {
    Filter(siteTable, category, view, nullptr);
}

void FilterCategory(const TLightStrings& siteTable, std::string_view category, TLightStrings& view,
                    std::vector<int>& sourceRows) {
    Filter(siteTable, category, view, &sourceRows);
}

bool UpdateCategoryView(const TLightStrings& siteTable, int tableIndex, std::string_view category,
                        TLightStrings& view, std::vector<int>& sourceRows) {
    if (static_cast<int>(sourceRows.size()) != view.Count() || tableIndex < 0 || tableIndex >= siteTable.Count())
        return false;
    if (!sourceRows.empty() && sourceRows.back() >= siteTable.Count()) return false;
    const auto it = std::lower_bound(sourceRows.begin(), sourceRows.end(), tableIndex);
    const int k = static_cast<int>(it - sourceRows.begin());
    const bool listed = it != sourceRows.end() && *it == tableIndex;
    const std::string& line = siteTable.Get(tableIndex);
    const bool taken = TakesCategory(FieldOfLine(line, &TMWBlogListRec::Category), category);
    if (taken && listed) {
        view.Put(k, ViewLine(line));
    } else if (taken) {
        view.Insert(k, ViewLine(line));
        sourceRows.insert(it, tableIndex);
    } else if (listed) {
        view.Delete(k);
        sourceRows.erase(it);
    }
    return true;
}

int StoreSiteRecord(TLightStrings& table, TMWBlogListRec rec) {
    const int i = IndexOfURL(table, rec.SiteURL);
    if (i < 0) return table.Add(WriteSiteRecord(rec));
    rec.Registered = ReadSiteRecord(table.Get(i)).Registered;
    table.Put(i, WriteSiteRecord(rec));
    return i;
}

std::string CategoryListText(const CategoryTree& tree) {
    std::string out;
    ForEachNode(tree, [&](const TreeNode& n, int) {
        if (!IsSystemCategory(n.Text)) out.append(n.Text).append("\r\n");
    });
    return out;
}

bool DeleteSiteByURL(TLightStrings& table, std::string_view url) {
    const int i = IndexOfURL(table, url);
    if (i < 0) return false;
    table.Delete(i);
    return true;
}

bool StampLastVisit(TLightStrings& table, std::string_view url, std::string_view dateText) {
    const int i = IndexOfURL(table, url);
    if (i < 0) return false;
    TMWBlogListRec rec = ReadSiteRecord(table.Get(i));
    rec.LastVisit = dateText;
    table.Put(i, WriteSiteRecord(rec));
    return true;
}

void ClearCategory(TLightStrings& table, std::string_view name) {
    for (int i = table.Count() - 1; i >= 0; --i) {
        TMWBlogListRec rec = ReadSiteRecord(table.Get(i));
        if (rec.Category != name) continue;
        rec.Category.clear();
        table.Put(i, WriteSiteRecord(rec));
    }
}

int LocateSite(const TLightStrings& table, int index, std::string_view url) {
    if (index >= 0 && index < table.Count() && SiteURLOfLine(table.Get(index)) == url) return index;
    return IndexOfURL(table, url);
}

std::string FillSiteListItem(std::string_view line, int row, int column) {
    return SiteListCell(ReadSiteRecord(line), row, column);
}

std::string SiteListCell(const TMWBlogListRec& rec, int row, int column) {
    // The columns after the row number, in display order: the fourth to seventh show fields the
    // stored order has elsewhere.
    static constexpr std::array<SiteField, kSiteListColumns - 1> kColumns = {
        &TMWBlogListRec::SiteTitle,  &TMWBlogListRec::SiteURL,  &TMWBlogListRec::LastVisit,
        &TMWBlogListRec::LastUpdate, &TMWBlogListRec::HeadTime, &TMWBlogListRec::Category,
        &TMWBlogListRec::Registered, &TMWBlogListRec::RSSURL,   &TMWBlogListRec::HeadCheck,
        &TMWBlogListRec::ManagerName};
    if (column == 0) return std::to_string(row + 1);
    if (column < 1 || column > static_cast<int>(kColumns.size())) return {};
    return rec.*kColumns[static_cast<size_t>(column - 1)];
}

}  // namespace hanabira
